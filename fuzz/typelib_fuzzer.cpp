// libFuzzer entry point for the type library parser (MSFT and SLTG).

#include "engine/formats/byte_source.h"
#include "engine/formats/typelib_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const sorvane::MemorySource source(std::as_bytes(std::span<const std::uint8_t>(data, size)));
    const auto info = sorvane::ParseTypeLibrary(source);
    if (!info)
        return 0;
    // Touch every field so a bad value cannot hide in an unread member.
    std::size_t sum = static_cast<std::size_t>(info->format) + info->majorVersion +
                      info->minorVersion + info->lcid + info->helpString.size() +
                      info->name.size() + info->helpFile.size() + info->helpContext + info->flags +
                      info->sysKind + info->guid.size();
    if (!info->guid.empty() && info->guid.size() != 38)
        __builtin_trap(); // "{" 36 characters "}"
    volatile std::size_t sink = sum;
    (void)sink;
    return 0;
}
