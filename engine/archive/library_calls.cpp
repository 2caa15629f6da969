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

template <typename Calls, typename Fill>
bool Load(Loaded<Calls>& loaded, const char* soname, Fill fill, std::string* why) {
    std::call_once(loaded.once, [&] {
        // Kept loaded for the rest of the run; its symbols stay out of the
        // program's own namespace.
        void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* error = ::dlerror();
            loaded.why = error != nullptr ? error : soname;
            return;
        }
        loaded.ok = fill(library, loaded.calls, loaded.why);
    });
    if (!loaded.ok && why != nullptr)
        *why = loaded.why;
    return loaded.ok;
}

} // namespace

bool LoadLibarchive(std::string* why) {
    constexpr const char* kName = "libarchive.so.13";
    return Load(
        libarchive, kName,
        [&](void* library, LibarchiveCalls& calls, std::string& missing) {
            bool all = true;
#define SORVANE_FIND(name) all = Find(library, kName, #name, calls.name, missing) && all;
            SORVANE_LIBARCHIVE_CALLS(SORVANE_FIND)
#undef SORVANE_FIND
            return all;
        },
        why);
}

bool LoadLibmsi(std::string* why) {
    if (!LoadLibarchive(why))
        return false;
    constexpr const char* kName = "libmsi.so.0";
    return Load(
        libmsi, kName,
        [&](void* library, LibmsiCalls& calls, std::string& missing) {
            bool all = true;
            // dlsym on the library's handle also finds what the libraries it
            // loaded define (GLib's calls).
#define SORVANE_FIND(name) all = Find(library, kName, #name, calls.name, missing) && all;
            SORVANE_LIBMSI_CALLS(SORVANE_FIND)
#undef SORVANE_FIND
            return all;
        },
        why);
}

const LibarchiveCalls& Libarchive() { return libarchive.calls; }
const LibmsiCalls& Libmsi() { return libmsi.calls; }

} // namespace sorvane
