// libFuzzer entry point for the Source Map reader: the header, every entry
// line, and the way back from an entry to the line a map would hold.

#include "engine/scan/source_map.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// The map reader reads files; the input becomes one that lives in memory.
std::string MemoryFile(const std::uint8_t* data, std::size_t size, int& fd) {
    fd = ::memfd_create("map", MFD_CLOEXEC);
    if (fd < 0)
        return {};
    std::size_t done = 0;
    while (done < size) {
        const auto n = ::write(fd, data + done, size - done);
        if (n <= 0)
            return {};
        done += static_cast<std::size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fd = -1;
    const std::string path = MemoryFile(data, size, fd);
    if (path.empty()) {
        if (fd >= 0)
            ::close(fd);
        return 0;
    }
    if (auto reader = sorvane::SourceMapReader::Open(path)) {
        std::size_t sum = reader->Header().size();
        while (auto entry = reader->Next()) {
            sum += entry->Name.size() + entry->Ext.size() + entry->Version.size() +
                   entry->Language.size() + static_cast<std::size_t>(entry->Size & 0xFF);
            // An entry a map can hold comes back from its own line unchanged.
            const bool plain = [&] {
                for (const std::string* field : {&entry->Ext, &entry->Version, &entry->Language})
                    if (field->find_first_of("|\r\n") != std::string::npos)
                        return false;
                return entry->Size >= 0;
            }();
            if (plain && sorvane::MapCanHoldName(entry->Name)) {
                sorvane::ComparisonRow row;
                row.Name = entry->Name;
                row.Ext = entry->Ext;
                row.SourceVersion = entry->Version;
                row.SourceLanguage = entry->Language;
                row.SourceSize = entry->Size;
                if (!(sorvane::ParseSourceMapLine(sorvane::SourceMapLine(row)) == *entry))
                    __builtin_trap();
            }
        }
        volatile std::size_t sink = sum;
        (void)sink;
    }
    ::close(fd);
    return 0;
}
