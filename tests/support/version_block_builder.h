#pragma once
// Builds version blocks (VS_VERSIONINFO) node by node, in the 32-bit layout
// with UTF-16 keys and in the 16-bit layout of NE files with 8-bit keys.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::test {

/// One node of a version block.
struct VersionNode {
    std::string key;               ///< UTF-8; UTF-16 in the 32-bit layout, bytes in the 16-bit one
    std::string value;             ///< value bytes exactly as stored
    std::uint16_t valueLength = 0; ///< wValueLength as stored
    std::uint16_t type = 0;        ///< wType (32-bit layout only): 1 text, 0 binary
    std::vector<VersionNode> children;
    /// wLength to store instead of the real length.
    std::optional<std::uint16_t> lengthOverride;
    /// Bytes used verbatim in place of this node (for hand-made damage).
    std::optional<std::string> raw;
};

/// The node in the 32-bit layout: wLength, wValueLength, wType, key, padding,
/// value, padding, children (each starting 4-aligned).
std::string Serialize32(const VersionNode& node);
/// The node in the 16-bit layout: wLength, wValueLength, key, padding, value,
/// padding, children.
std::string Serialize16(const VersionNode& node);

/// VS_FIXEDFILEINFO (52 bytes) with the given versions; the other fields as
/// resource compilers write them for a DLL.
std::string FixedInfoBytes(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t productMS,
                           std::uint32_t productLS);

/// "VS_VERSION_INFO" with the fixed info as its value.
VersionNode RootNode(std::string fixedInfo, std::vector<VersionNode> children);

/// A 32-bit String node as resource compilers write it: UTF-16 text with its
/// NUL, value length in characters including the NUL, wType 1.
VersionNode StringNode(std::string key, std::string_view text);
/// A 16-bit String node: 8-bit text with its NUL, value length in bytes.
VersionNode StringNode16(std::string key, std::string_view bytes);

/// A container (StringFileInfo, a string table, VarFileInfo) with no value.
VersionNode Container(std::string key, std::vector<VersionNode> children, std::uint16_t type = 1);

/// A "Translation" Var with the given (language, code page) pairs.
VersionNode TranslationNode(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& pairs);

/// A whole 32-bit block: fixed info 1.2.3.4 / 5.6.7.8, Translation 0409/04B0,
/// and a table "040904B0" with the given strings.
std::string StandardBlock32(std::vector<VersionNode> strings);

/// A block of `size` bytes and the text of its last string.
struct FilledBlock {
    std::string bytes;
    std::string copyright;
};

/// A block of exactly `size` bytes (an even size in the 32-bit layout, at
/// least 64,000): fixed info 1.2.3.4 / 5.6.7.8, VarFileInfo with Translation
/// 0409/04B0 (0409/04E4 in the 16-bit layout), then StringFileInfo with one
/// table holding FileDescription, a Comments string of about 63,000 bytes
/// and LegalCopyright, whose text runs up to the block's last byte.
FilledBlock BlockEndingInCopyright(std::size_t size, bool sixteenBit);

} // namespace sorvane::test
