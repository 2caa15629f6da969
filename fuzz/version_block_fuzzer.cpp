// Feeds arbitrary bytes to the version block parser and queries the result.

#include "engine/formats/version_block.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sorvane;
    const auto info = ParseVersionBlock(std::as_bytes(std::span<const std::uint8_t>(data, size)));
    if (!info)
        return 0;
    for (const StringTable& table : info->stringTables) {
        for (const VersionString& s : table.strings)
            info->QueryString(table.key, s.name);
    }
    return 0;
}
