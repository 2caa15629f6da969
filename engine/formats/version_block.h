#pragma once
// The version block of a Windows executable (VS_VERSIONINFO): the fixed file
// information, the translation table and the string tables. Both the 32-bit
// layout (UTF-16 text) and the 16-bit layout of NE files (8-bit text, taken
// as Windows-1252) are understood; all text comes out as UTF-8.

#include "engine/formats/byte_source.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

/// VS_FIXEDFILEINFO.
struct FixedFileInfo {
    std::uint32_t signature = 0;
    std::uint32_t structVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};

/// One entry of VarFileInfo\Translation.
struct Translation {
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
    bool operator==(const Translation&) const = default;
};

/// One String node: its key and value. `valueLength` is the node's stored
/// value length; 0 means the value is present but empty.
struct VersionString {
    std::string name;
    std::string value;
    std::uint16_t valueLength = 0;
};

/// One StringTable: the eight-digit key ("040904B0") and its strings.
struct StringTable {
    std::string key;
    std::vector<VersionString> strings;
    /// The StringFileInfo block holding the table, counted from 0 in file
    /// order. Queries only look into block 0.
    std::size_t block = 0;
};

struct VersionInfo {
    bool sixteenBit = false;
    /// Absent when the root value is shorter than 52 bytes or the signature
    /// is not 0xFEEF04BD.
    std::optional<FixedFileInfo> fixed;
    /// What the Windows query "\VarFileInfo\Translation" gives: all entries,
    /// in file order, of the first "Translation" value of the first
    /// VarFileInfo block. Empty when that block has none, even if a later
    /// VarFileInfo block has one: the query never looks past the first.
    std::vector<Translation> translations;
    /// All string tables of all StringFileInfo blocks, in file order.
    std::vector<StringTable> stringTables;
    /// True when the parser's budget ran out and the nodes after that point
    /// were left out (no real block comes near it).
    bool budgetSpent = false;

    /// Like the Windows query "\StringFileInfo\<tableKey>\<name>": each step
    /// takes the first child whose key matches (without regard to case, over
    /// the full length) and never goes back for a later one. So only the
    /// first StringFileInfo block is searched, and in it the first table with
    /// the key. Nothing when there is no such value or its stored length is
    /// 0; otherwise the text up to its first NUL.
    std::optional<std::string> QueryString(std::string_view tableKey, std::string_view name) const;
};

/// Largest version block read, in bytes: the most the root's 16-bit length
/// can describe.
inline constexpr std::size_t kMaxVersionBlockBytes = 0xFFFF;

/// Parses a version block (the bytes of an RT_VERSION resource). Nothing when
/// the root node is unusable; damaged children are skipped. The nodes, keys
/// and texts kept take at most `budgetBytes` bytes in all; each text decoded
/// on the way is at most three times the block's size. When `onlyStrings`
/// names any, the tables keep only the strings of those names (matched as
/// QueryString matches them): the rest are counted against the budget as if
/// kept but never decoded, so everything else comes out the same.
std::optional<VersionInfo> ParseVersionBlock(std::span<const std::byte> block,
                                             std::size_t budgetBytes = kReadBudgetBytes,
                                             std::span<const std::string_view> onlyStrings = {});

/// The same into `info`, whose lists and texts keep the memory they hold
/// from an earlier parse: a scan parses a block for every file, and a block
/// like the last one then takes no new memory. False, with `info` holding
/// nothing of use, where ParseVersionBlock gives nothing.
bool ParseVersionBlockInto(std::span<const std::byte> block, VersionInfo& info,
                           std::size_t budgetBytes = kReadBudgetBytes,
                           std::span<const std::string_view> onlyStrings = {});

} // namespace sorvane
