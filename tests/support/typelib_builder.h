#pragma once
// Type library fixtures: a small MSFT image laid out as widl writes one, and
// an SLTG image laid out as MkTypLib-era files are.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvane::test {

/// 16 GUID bytes in file order for {12345678-9ABC-DEF0-1122-334455667788}.
std::string SampleGuidBytes();

/// Where the parts of a built MSFT image lie.
struct MsftLayout {
    std::size_t directoryAt = 0;   ///< segment directory
    std::size_t stringTableAt = 0; ///< string table segment
    std::int32_t helpStringOffset = -1;
    std::int32_t helpFileOffset = -1;
};

/// Header 0x54 bytes, optional help-string DLL offset, one zero offset per
/// type info, the segment directory, then the GUID, name and string tables.
struct MsftBuilder {
    std::uint16_t major = 1;
    std::uint16_t minor = 0;
    std::uint32_t defaultLcid = 0x409; ///< the compiler's locale at 0x0C
    std::uint32_t declaredLcid = 0;    ///< the library's own at 0x10
    std::uint32_t sysKind = 1;
    std::uint32_t flags = 0;
    std::uint32_t helpContext = 0;
    std::optional<std::string> helpString;
    std::optional<std::string> helpFile;
    std::optional<std::string> helpDll;
    std::string name = "TestLib";
    std::optional<std::string> guid = SampleGuidBytes();
    std::int32_t typeInfoCount = 0;

    std::string Build(MsftLayout* layout = nullptr) const;
};

/// Where the parts of a built SLTG image lie.
struct SltgLayout {
    std::size_t entriesAt = 0;         ///< block entries (8 bytes each)
    std::size_t magicAt = 0;           ///< "\x01CompObj\0dir\0"
    std::size_t libraryBlockAt = 0;    ///< the library block
    std::size_t helpStringAt = 0;      ///< the help string's length field
    std::size_t nameTableOffsetAt = 0; ///< u32 locating the name table
};

struct SltgTypeInfo {
    std::uint32_t blockLength = 0x30;
    std::uint16_t extraBytes = 0; ///< bytes trailing its summary record
};

/// Header, block entries, magic record, index strings, the type-info blocks
/// and the library block in chain order, then the type-info summaries and
/// the name table behind the library block, as widl's old-format writer
/// lays them out.
struct SltgBuilder {
    std::uint16_t major = 1;
    std::uint16_t minor = 0;
    std::uint16_t lcid = 0;
    std::uint16_t sysKind = 1;
    std::uint16_t flags = 0;
    std::uint32_t helpContext = 0;
    std::optional<std::string> helpString;
    std::optional<std::string> helpFile;
    /// The library block's fourth word: 0xFFFF, or a count of bytes to skip.
    std::uint16_t skipBytes = 0xFFFF;
    std::string name = "OldLib";
    /// Starts the name table with the 0x0200 marker and 0x20 extra bytes.
    bool nameTableExtraHeader = false;
    std::string guid = SampleGuidBytes();
    std::vector<SltgTypeInfo> typeInfos;
    /// 1-based entry numbers in chain order (the last one is the library
    /// block); empty means 1, 2, ..., n.
    std::vector<std::uint16_t> chain;

    std::string Build(SltgLayout* layout = nullptr) const;
};

} // namespace sorvane::test
