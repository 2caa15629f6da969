// libFuzzer entry point for the settings store: any file is read as a
// settings document, queried, changed, and written out and read back.

#include "engine/settings/settings_records.h"
#include "engine/settings/settings_store.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// The store reads files; the text becomes one that lives in memory. The
// descriptor stays open for the caller to close.
std::string MemoryFile(std::string_view bytes, int& fd) {
    fd = ::memfd_create("settings", MFD_CLOEXEC);
    if (fd < 0)
        return {};
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return {};
        done += static_cast<std::size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

sorvane::SettingsDocument Load(std::string_view bytes) {
    int fd = -1;
    const std::string path = MemoryFile(bytes, fd);
    auto document = sorvane::SettingsDocument::Load(path);
    if (fd >= 0)
        ::close(fd);
    return document;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto document = Load(bytes);
    std::size_t sum = 0;
    for (const char* section : {"General", "Position", "Grid", "Color", "Source", "CoolBar"}) {
        for (const auto& line : document.Section(section))
            sum += line.size();
        for (const char* key : {"Source", "Width", "SortKey", "1_Name", "0"})
            sum += document.Value(section, key).value_or(std::string()).size();
    }
    sum += sorvane::LoadListSection(document, "Source").size();
    // Changes keep the file readable: the text written reads back to itself.
    document.SetValue("General", "Source", "/data/new\r\n[Injected]");
    document.SetSection("Filter", {"*.dll", "", "a=b"});
    const std::string text = document.Text();
    const auto again = Load(text);
    if (again.Text() != text)
        __builtin_trap();
    if (again.Value("General", "Source") != std::optional<std::string>("/data/new  [Injected]"))
        __builtin_trap();
    volatile std::size_t sink = sum;
    (void)sink;
    return 0;
}
