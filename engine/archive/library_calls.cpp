#include "engine/archive/library_calls.h"

#include <dlfcn.h>

#include <mutex>

namespace sorvane {
namespace {

// One library's calls, looked up once.
template <typename Calls> struct Loaded {
    std::once_flag once;
    bool ok = false;
    std::string why;
    Calls calls;
};

Loaded<LibarchiveCalls> libarchive;
Loaded<LibmsiCalls> libmsi;

// Looks up `name` in `library` into `call`; false, saying so in `why`, when
// it is not there.
template <typename Call>
bool Find(void* library, const char* soname, const char* name, Call& call, std::string& why) {
    call = reinterpret_cast<Call>(::dlsym(library, name));
    if (call == nullptr && why.empty())
        why = std::string(soname) + " has no " + name;
    return call != nullptr;
}

// Every call of a table, looked up in `library`; false when one is missing.
// dlsym on a library's handle also finds what the libraries it loaded define
// (GLib's calls, for libmsi).
#define SORVANE_FIND(name) all = Find(library, soname, #name, calls.name, missing) && all;
bool FindAll(void* library, const char* soname, LibarchiveCalls& calls, std::string& missing) {
    bool all = true;
    SORVANE_LIBARCHIVE_CALLS(SORVANE_FIND)
    return all;
}
bool FindAll(void* library, const char* soname, LibmsiCalls& calls, std::string& missing) {
    bool all = true;
    SORVANE_LIBMSI_CALLS(SORVANE_FIND)
    return all;
}
#undef SORVANE_FIND

template <typename Calls>
bool Load(Loaded<Calls>& loaded, const char* soname, std::string* why) {
    std::call_once(loaded.once, [&] {
        // Kept loaded for the rest of the run; its symbols stay out of the
        // program's own namespace.
        void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* error = ::dlerror();
            loaded.why = error != nullptr ? error : soname;
            return;
        }
        loaded.ok = FindAll(library, soname, loaded.calls, loaded.why);
    });
    if (!loaded.ok && why != nullptr)
        *why = loaded.why;
    return loaded.ok;
}

} // namespace

bool LoadLibarchive(std::string* why) { return Load(libarchive, "libarchive.so.13", why); }

bool LoadLibmsi(std::string* why) {
    // Its cabinets are read with libarchive.
    return LoadLibarchive(why) && Load(libmsi, "libmsi.so.0", why);
}

const LibarchiveCalls& Libarchive() { return libarchive.calls; }
const LibmsiCalls& Libmsi() { return libmsi.calls; }

} // namespace sorvane
