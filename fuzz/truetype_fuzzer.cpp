// libFuzzer entry point for the TrueType naming-table reader.

#include "engine/byte_source.h"
#include "engine/truetype_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const sorvane::MemorySource source(std::as_bytes(std::span<const std::uint8_t>(data, size)));
    const auto names = sorvane::ReadTrueTypeNames(source);
    if (!names)
        return 0;
    // Touch every field so a bad value cannot hide in an unread member.
    std::size_t sum = 0;
    for (const auto& record : names->records) {
        sum += record.platform + record.encoding + record.language + record.nameId + record.length +
               (record.singleByte ? 1 : 0) + record.text.size();
        if (record.singleByte && record.text.empty())
            __builtin_trap(); // a single-byte string has at least one byte of text
    }
    for (const std::uint16_t id : {0, 1, 5})
        sum += names->Name(id).size();
    volatile std::size_t sink = sum;
    (void)sink;
    return 0;
}
