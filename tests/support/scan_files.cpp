#include "support/scan_files.h"

#include "support/pe_builder.h"
#include "support/version_block_builder.h"

#include <cstdio>

namespace sorvane::test {

std::string VersionedPe(const VersionedFile& file) {
    const auto& v = file.version;
    const std::uint32_t ms = (std::uint32_t{v[0]} << 16) | v[1];
    const std::uint32_t ls = (std::uint32_t{v[2]} << 16) | v[3];
    char table[16];
    std::snprintf(table, sizeof table, "%04X04B0", file.language);
    const std::string block = Serialize32(RootNode(
        FixedInfoBytes(ms, ls, ms, ls),
        {Container("StringFileInfo",
                   {Container(table, {StringNode("FileDescription", file.description),
                                      StringNode("LegalCopyright", file.copyright)})}),
         Container("VarFileInfo", {TranslationNode({{file.language, 0x04B0}})})}));
    std::string bytes = BuildPe({TestResource{ResourceId::Number(kResourceTypeVersion),
                                              ResourceId::Number(kVersionResourceName),
                                              file.language, block}})
                            .bytes;
    bytes.append(file.extraBytes, '\0');
    return bytes;
}

} // namespace sorvane::test
