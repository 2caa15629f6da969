// libFuzzer entry point for the TrueType naming-table reader.

#include "engine/formats/byte_source.h"
#include "engine/formats/truetype_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sorvane;
    const MemorySource source(std::as_bytes(std::span<const std::uint8_t>(data, size)));
    const auto names = ReadTrueTypeNames(source);
    if (!names)
        return 0;
    // Touch every field so a bad value cannot hide in an unread member. The
    // texts are decoded as `info --all` does, for the first 100 records: a
    // table of 65,535 records sharing one long string is cheap to read, not
    // to decode whole.
    std::size_t sum = 0;
    for (std::size_t i = 0; i < names->records.size(); ++i) {
        const auto& record = names->records[i];
        sum += record.platform + record.encoding + record.language + record.nameId + record.length +
               record.offset + (record.singleByte ? 1 : 0);
        if (i >= 100)
            continue;
        const std::string text = names->Text(record);
        sum += text.size();
        if (record.singleByte && text.empty())
            __builtin_trap(); // a single-byte string has at least one byte of text
    }
    // The scan keeps only the records of the names it shows, and must choose
    // the same ones.
    const auto shown = ReadTrueTypeNames(source, kShownNameIds);
    for (const std::uint16_t id : kShownNameIds) {
        const std::string name = names->Name(id);
        if (!shown || shown->Name(id) != name)
            __builtin_trap();
        sum += name.size();
    }
    volatile std::size_t sink = sum;
    (void)sink;
    return 0;
}
