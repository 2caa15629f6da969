#include "support/version_block_builder.h"

#include "support/byte_writer.h"

namespace sorvane::test {
namespace {

std::string Serialize(const VersionNode& node, bool sixteenBit) {
    if (node.raw)
        return *node.raw;
    std::string out;
    AppendU16(out, 0);                // wLength, filled in below
    AppendU16(out, node.valueLength); // wValueLength
    if (sixteenBit) {
        out += node.key;  // szKey, 8-bit
        AppendU8(out, 0); // its NUL
    } else {
        AppendU16(out, node.type); // wType
        out += Utf16Le(node.key);  // szKey, UTF-16
        AppendU16(out, 0);         // its NUL
    }
    PadTo(out, 4);     // padding before the value
    out += node.value; // Value
    for (const VersionNode& child : node.children) {
        PadTo(out, 4); // every child starts 4-aligned
        out += Serialize(child, sixteenBit);
    }
    // wLength counts the node and its children but not trailing padding.
    PutU16(out, 0, node.lengthOverride.value_or(static_cast<std::uint16_t>(out.size())));
    return out;
}

} // namespace

std::string Serialize32(const VersionNode& node) {
    return Serialize(node, false);
}

std::string Serialize16(const VersionNode& node) {
    return Serialize(node, true);
}

std::string FixedInfoBytes(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t productMS,
                           std::uint32_t productLS) {
    std::string out;
    AppendU32(out, 0xFEEF04BD); // dwSignature
    AppendU32(out, 0x00010000); // dwStrucVersion
    AppendU32(out, fileMS);     // dwFileVersionMS
    AppendU32(out, fileLS);     // dwFileVersionLS
    AppendU32(out, productMS);  // dwProductVersionMS
    AppendU32(out, productLS);  // dwProductVersionLS
    AppendU32(out, 0x3F);       // dwFileFlagsMask
    AppendU32(out, 0);          // dwFileFlags
    AppendU32(out, 0x40004);    // dwFileOS: VOS_NT_WINDOWS32
    AppendU32(out, 2);          // dwFileType: VFT_DLL
    AppendU32(out, 0);          // dwFileSubtype
    AppendU32(out, 0);          // dwFileDateMS
    AppendU32(out, 0);          // dwFileDateLS
    return out;
}

VersionNode RootNode(std::string fixedInfo, std::vector<VersionNode> children) {
    VersionNode n;
    n.key = "VS_VERSION_INFO";
    n.valueLength = static_cast<std::uint16_t>(fixedInfo.size()); // in bytes: binary value
    n.type = 0;
    n.value = std::move(fixedInfo);
    n.children = std::move(children);
    return n;
}

VersionNode StringNode(std::string key, std::string_view text) {
    VersionNode n;
    n.key = std::move(key);
    n.value = Utf16Le(text) + std::string(2, '\0');
    n.valueLength = static_cast<std::uint16_t>(n.value.size() / 2); // characters with the NUL
    n.type = 1;
    return n;
}

VersionNode StringNode16(std::string key, std::string_view bytes) {
    VersionNode n;
    n.key = std::move(key);
    n.value = std::string(bytes) + '\0';
    n.valueLength = static_cast<std::uint16_t>(n.value.size()); // bytes with the NUL
    return n;
}

VersionNode Container(std::string key, std::vector<VersionNode> children, std::uint16_t type) {
    VersionNode n;
    n.key = std::move(key);
    n.type = type;
    n.children = std::move(children);
    return n;
}

VersionNode TranslationNode(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& pairs) {
    VersionNode n;
    n.key = "Translation";
    for (const auto& [language, codePage] : pairs) {
        AppendU16(n.value, language); // low word: LANGID
        AppendU16(n.value, codePage); // high word: code page
    }
    n.valueLength = static_cast<std::uint16_t>(n.value.size()); // in bytes
    n.type = 0;
    return n;
}

std::string StandardBlock32(std::vector<VersionNode> strings) {
    return Serialize32(
        RootNode(FixedInfoBytes(0x00010002, 0x00030004, 0x00050006, 0x00070008),
                 {Container("StringFileInfo", {Container("040904B0", std::move(strings))}),
                  Container("VarFileInfo", {TranslationNode({{0x0409, 0x04B0}})})}));
}

FilledBlock BlockEndingInCopyright(std::size_t size, bool sixteenBit) {
    const std::size_t unit = sixteenBit ? 1 : 2;
    constexpr std::size_t kFillerBytes = 62800;
    const auto build = [&](const std::string& copyright) {
        const auto string = [&](std::string key, std::string_view text) {
            return sixteenBit ? StringNode16(std::move(key), text)
                              : StringNode(std::move(key), text);
        };
        // VarFileInfo first, so that the copyright is the last thing in the block.
        const VersionNode root = RootNode(
            FixedInfoBytes(0x00010002, 0x00030004, 0x00050006, 0x00070008),
            {Container("VarFileInfo", {TranslationNode({{0x0409, sixteenBit ? 0x04E4 : 0x04B0}})}),
             Container("StringFileInfo",
                       {Container(sixteenBit ? "040904E4" : "040904B0",
                                  {string("FileDescription", "Filled block"),
                                   string("Comments", std::string(kFillerBytes / unit, 'x')),
                                   string("LegalCopyright", copyright)})})});
        return sixteenBit ? Serialize16(root) : Serialize32(root);
    };
    // The copyright's characters are the only part that grows with it.
    const std::size_t empty = build("").size();
    std::string copyright = "Copyright";
    for (std::size_t i = 0; copyright.size() < (size - empty) / unit; ++i) {
        copyright += ' ';
        copyright += std::to_string(i);
    }
    copyright.resize((size - empty) / unit);
    return {build(copyright), copyright};
}

} // namespace sorvane::test
