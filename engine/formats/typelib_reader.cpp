#include "engine/formats/typelib_reader.h"

#include "engine/formats/byte_reader.h"
#include "engine/text/text_utils.h"

#include <algorithm>
#include <array>

namespace sorvane {
namespace {

constexpr std::uint32_t kMsftMagic = 0x5446534D; // "MSFT"
constexpr std::uint32_t kSltgMagic = 0x47544C53; // "SLTG"

/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from 16 bytes in Windows order:
/// a little-endian u32 and two u16, then eight bytes as they stand.
std::string FormatGuid(std::span<const std::byte> bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::array<int, 16> kOrder = {3, 2, 1,  0,  5,  4,  7,  6,
                                                   8, 9, 10, 11, 12, 13, 14, 15};
    std::string out = "{";
    for (std::size_t i = 0; i < kOrder.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out.push_back('-');
        const auto b = std::to_integer<unsigned>(bytes[kOrder[i]]);
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0xF]);
    }
    out.push_back('}');
    return out;
}

// ---------------------------------------------------------------------------
// MSFT: the format MIDL writes, and widl unless asked for the old one.

constexpr std::size_t kMsftHeaderSize = 0x54;
constexpr std::uint32_t kHelpDllFlag = 0x100;
constexpr std::size_t kSegmentCount = 15;
constexpr std::size_t kSegmentEntrySize = 16;
constexpr std::int32_t kSegmentMarker = 0x0F;
constexpr std::size_t kGuidSegment = 5;
constexpr std::size_t kNameSegment = 7;
constexpr std::size_t kStringSegment = 8;
constexpr std::size_t kNamePrefixSize = 12;
constexpr std::size_t kGuidSize = 16;

struct Segment {
    std::int32_t offset = -1;
    std::int32_t length = 0;
};

/// Looks up the strings, names and GUIDs an MSFT header refers to. Every
/// lookup is checked against its segment and the image; a damaged one gives
/// empty text.
class MsftTables {
public:
    MsftTables(const ByteSource& source, ReadBudget& budget,
               const std::array<Segment, kSegmentCount>& segments)
        : source_(source), budget_(budget), segments_(segments) {}

    /// A string-table entry: i16 length, then that many 8-bit bytes.
    std::string String(std::int32_t offset) const {
        const auto prefix = ReadIn(kStringSegment, offset, 2);
        if (!prefix)
            return {};
        const auto length = ByteReader(*prefix, Endian::Little).i16();
        if (*length <= 0)
            return {};
        const auto text =
            ReadIn(kStringSegment, std::int64_t{offset} + 2, static_cast<std::size_t>(*length));
        return text ? Windows1252ToUtf8(BytesToString(*text)) : std::string{};
    }

    /// A name-table entry: hreftype, next hash, length (low 8 bits), bytes.
    std::string Name(std::int32_t offset) const {
        const auto prefix = ReadIn(kNameSegment, offset, kNamePrefixSize);
        if (!prefix)
            return {};
        const std::size_t length = *ByteReader(*prefix, Endian::Little).u32At(8) & 0xFF;
        const auto text =
            ReadIn(kNameSegment, std::int64_t{offset} + std::int64_t{kNamePrefixSize}, length);
        return text ? Windows1252ToUtf8(BytesToString(*text)) : std::string{};
    }

    std::string Guid(std::int32_t offset) const {
        const auto bytes = ReadIn(kGuidSegment, offset, kGuidSize);
        return bytes ? FormatGuid(*bytes) : std::string{};
    }

private:
    /// `length` bytes at `offset` inside segment `index`; nothing when that
    /// range is not wholly inside both the segment and the image.
    std::optional<Bytes> ReadIn(std::size_t index, std::int64_t offset, std::size_t length) const {
        const Segment& segment = segments_[index];
        if (offset < 0 || segment.offset < 0 || segment.length < 0)
            return std::nullopt;
        const auto segmentLength = static_cast<std::uint64_t>(segment.length);
        const auto at = static_cast<std::uint64_t>(offset);
        if (at > segmentLength || length > segmentLength - at)
            return std::nullopt;
        return budget_.Read(source_, static_cast<std::uint64_t>(segment.offset) + at, length);
    }

    const ByteSource& source_;
    ReadBudget& budget_;
    std::array<Segment, kSegmentCount> segments_;
};

std::optional<TypeLibraryInfo> ParseMsft(const ByteSource& source, ReadBudget& budget) {
    const auto headerBytes = budget.Read(source, 0, kMsftHeaderSize);
    if (!headerBytes)
        return std::nullopt;
    const ByteReader header(*headerBytes, Endian::Little);
    const auto i32At = [&header](std::size_t offset) {
        return static_cast<std::int32_t>(*header.u32At(offset));
    };
    const std::uint32_t varflags = *header.u32At(0x14);
    const std::int32_t typeInfoCount = i32At(0x20);
    if (typeInfoCount < 0)
        return std::nullopt;

    // The segment directory follows the optional help-string DLL offset and
    // one offset per type info.
    const std::uint64_t directoryAt = kMsftHeaderSize + ((varflags & kHelpDllFlag) ? 4 : 0) +
                                      4 * static_cast<std::uint64_t>(typeInfoCount);
    const auto directoryBytes = budget.Read(source, directoryAt, kSegmentCount * kSegmentEntrySize);
    if (!directoryBytes)
        return std::nullopt;
    const ByteReader directory(*directoryBytes, Endian::Little);
    std::array<Segment, kSegmentCount> segments;
    for (std::size_t i = 0; i < kSegmentCount; ++i) {
        const std::size_t at = i * kSegmentEntrySize;
        segments[i].offset = static_cast<std::int32_t>(*directory.u32At(at));
        segments[i].length = static_cast<std::int32_t>(*directory.u32At(at + 4));
    }
    // Every segment entry ends with 0x0F; checking the first two tells a
    // directory from whatever a wrong type-info count points at.
    for (std::size_t i = 0; i < 2; ++i) {
        if (static_cast<std::int32_t>(*directory.u32At(i * kSegmentEntrySize + 12)) !=
            kSegmentMarker)
            return std::nullopt;
    }

    const MsftTables tables(source, budget, segments);
    TypeLibraryInfo info;
    info.format = TypeLibraryFormat::Msft;
    const std::uint32_t version = *header.u32At(0x18);
    info.majorVersion = static_cast<std::uint16_t>(version & 0xFFFF);
    info.minorVersion = static_cast<std::uint16_t>(version >> 16);
    // 0x0C holds the compiler's default locale (widl writes 0x409 there);
    // 0x10 holds the one the library declares, 0 when it declares none.
    info.lcid = *header.u32At(0x10);
    info.flags = static_cast<std::uint16_t>(*header.u32At(0x1C));
    info.sysKind = static_cast<std::uint16_t>(varflags & 0xF);
    info.helpContext = *header.u32At(0x2C);
    info.helpString = tables.String(i32At(0x24));
    info.helpFile = tables.String(i32At(0x3C));
    info.name = tables.Name(i32At(0x38));
    info.guid = tables.Guid(i32At(0x08));
    return info;
}

// ---------------------------------------------------------------------------
// SLTG: the older format written by MkTypLib.

constexpr std::size_t kSltgHeaderSize = 0x24;
constexpr std::size_t kBlockEntrySize = 8;
constexpr std::size_t kMagicRecordSize = 13; // "\x01CompObj\0" "dir\0"
constexpr std::size_t kIndexStringSize = 11;
constexpr std::size_t kIndexPaddingSize = 9;
constexpr std::uint16_t kLibraryBlockMagic = 0x51CC;
constexpr std::uint16_t kAbsent = 0xFFFF;
// The library block's fixed fields take at most about 200 KiB (three 16-bit
// lengths); the type-info summaries after it are read from the same bytes.
constexpr std::size_t kMaxLibraryBlockBytes = 1024 * 1024;
constexpr std::size_t kTypeInfoPadding = 0x40;
// From the name-table offset to the first name: a 12-byte intro, 0x200 bytes
// of hash, the u32 table size and the 8-byte prefix of the first entry.
constexpr std::uint64_t kNameTableToNames = 0x218;
constexpr std::uint64_t kNameTableExtraHeader = 0x20;
constexpr std::size_t kMaxNameBytes = 256;

struct BlockEntry {
    std::uint32_t length = 0;
    std::uint16_t next = 0; // 1-based entry index, 0 for the last block
};

/// A counted string: u16 byte count (0xFFFF when absent), then 8-bit bytes.
/// Nothing when it runs past the end.
std::optional<std::string> CountedString(ByteReader& reader) {
    const auto length = reader.u16();
    if (!length)
        return std::nullopt;
    if (*length == kAbsent)
        return std::string{};
    const auto bytes = reader.bytes(*length);
    if (!bytes)
        return std::nullopt;
    return Windows1252ToUtf8(BytesToString(*bytes));
}

bool SkipCountedString(ByteReader& reader) {
    const auto length = reader.u16();
    return length && (*length == kAbsent || reader.skip(*length));
}

/// The library name, found past the type-info summaries that follow the
/// library fields; empty when any step leaves the data.
std::string SltgLibraryName(const ByteSource& source, ReadBudget& budget, std::uint64_t blockAt,
                            ByteReader reader, std::size_t typeInfoCount,
                            std::uint16_t nameOffset) {
    if (!reader.skip(kTypeInfoPadding))
        return {};
    for (std::size_t i = 0; i < typeInfoCount; ++i) {
        if (!reader.skip(2) || !SkipCountedString(reader) || !SkipCountedString(reader) ||
            !reader.skip(4)) // small number; index name; other name; two reserved words
            return {};
        const auto extra = reader.u16();
        // extra bytes, reserved word, help context, reserved word, GUID
        if (!extra || !reader.skip(*extra) || !reader.skip(2 + 4 + 2 + kGuidSize))
            return {};
    }
    if (!reader.skip(2))
        return {};
    const auto tableOffset = reader.u32();
    if (!tableOffset)
        return {};
    std::uint64_t tableAt = blockAt + *tableOffset;
    const auto marker = budget.Read(source, tableAt, 2);
    if (!marker)
        return {};
    if (ByteReader(*marker, Endian::Little).u16() == 0x0200)
        tableAt += kNameTableExtraHeader;
    const Bytes name =
        budget.ReadUpTo(source, tableAt + kNameTableToNames + nameOffset, kMaxNameBytes);
    const auto end = std::find(name.begin(), name.end(), std::byte{0});
    if (end == name.end())
        return {};
    return Windows1252ToUtf8(BytesToString(std::span<const std::byte>(name.begin(), end)));
}

std::optional<TypeLibraryInfo> ParseSltgLibraryBlock(const ByteSource& source, ReadBudget& budget,
                                                     std::uint64_t blockAt,
                                                     std::size_t typeInfoCount) {
    const Bytes block = budget.ReadUpTo(source, blockAt, kMaxLibraryBlockBytes);
    ByteReader reader(block, Endian::Little);
    if (reader.u16() != kLibraryBlockMagic || !reader.skip(2))
        return std::nullopt;
    const auto nameOffset = reader.u16();
    const auto skipLength = reader.u16();
    if (!nameOffset || !skipLength)
        return std::nullopt;
    if (*skipLength != kAbsent && !reader.skip(*skipLength))
        return std::nullopt;

    auto helpString = CountedString(reader);
    if (!helpString)
        return std::nullopt;
    auto helpFile = CountedString(reader);
    if (!helpFile)
        return std::nullopt;
    const auto helpContext = reader.u32();
    const auto sysKind = reader.u16();
    const auto lcid = reader.u16();
    const bool reserved = reader.skip(4);
    const auto flags = reader.u16();
    const auto major = reader.u16();
    const auto minor = reader.u16();
    const auto guid = reader.bytes(kGuidSize);
    if (!helpContext || !sysKind || !lcid || !reserved || !flags || !major || !minor || !guid)
        return std::nullopt;

    TypeLibraryInfo info;
    info.format = TypeLibraryFormat::Sltg;
    info.helpString = std::move(*helpString);
    info.helpFile = std::move(*helpFile);
    info.helpContext = *helpContext;
    info.sysKind = *sysKind;
    // Only a locale without a sub-language is kept; any other is reported as
    // none, as other readers of this older format do.
    info.lcid = (*lcid >> 10) == 0 ? *lcid : 0;
    info.flags = *flags;
    info.majorVersion = *major;
    info.minorVersion = *minor;
    info.guid = FormatGuid(*guid);
    info.name = SltgLibraryName(source, budget, blockAt, reader, typeInfoCount, *nameOffset);
    return info;
}

std::optional<TypeLibraryInfo> ParseSltg(const ByteSource& source, ReadBudget& budget) {
    const auto headerBytes = budget.Read(source, 0, kSltgHeaderSize);
    if (!headerBytes)
        return std::nullopt;
    const ByteReader header(*headerBytes, Endian::Little);
    const std::uint16_t fileBlocks = *header.u16At(4);
    const std::uint16_t firstBlock = *header.u16At(0x0A);
    // One entry per block; the count in the header is one more than that.
    if (fileBlocks < 2)
        return std::nullopt;
    const std::size_t entryCount = fileBlocks - 1u;
    const std::size_t typeInfoCount = fileBlocks - 2u;
    if (firstBlock == 0 || firstBlock > entryCount)
        return std::nullopt;

    const auto entryBytes = budget.Read(source, kSltgHeaderSize, entryCount * kBlockEntrySize);
    if (!entryBytes || !budget.Take(entryCount * sizeof(BlockEntry)))
        return std::nullopt;
    ByteReader entryReader(*entryBytes, Endian::Little);
    std::vector<BlockEntry> entries(entryCount);
    for (auto& entry : entries) {
        entry.length = *entryReader.u32();
        entryReader.skip(2); // offset of the block's index string
        entry.next = *entryReader.u16();
    }

    const std::uint64_t magicAt = kSltgHeaderSize + entryCount * kBlockEntrySize;
    const auto magic = budget.Read(source, magicAt, kMagicRecordSize);
    // The first byte (1) is not looked at, only the two words after it.
    static constexpr char kMagicText[] = "CompObj\0dir";
    if (!magic || BytesToString(std::span(*magic).subspan(1)) != std::string_view(kMagicText, 12))
        return std::nullopt;

    // Blocks are stored in chain order; the library block ends the chain.
    std::uint64_t blockAt =
        magicAt + kMagicRecordSize + typeInfoCount * kIndexStringSize + kIndexPaddingSize;
    std::size_t index = firstBlock - 1u;
    for (std::size_t steps = 0; entries[index].next != 0; ++steps) {
        // A chain through n entries takes n - 1 steps; more means a cycle.
        if (steps + 1 >= entryCount || entries[index].next > entryCount)
            return std::nullopt;
        blockAt += entries[index].length;
        if (blockAt > source.size())
            return std::nullopt;
        index = entries[index].next - 1u;
    }
    return ParseSltgLibraryBlock(source, budget, blockAt, typeInfoCount);
}

} // namespace

std::optional<TypeLibraryInfo> ParseTypeLibrary(const ByteSource& source, std::size_t budgetBytes) {
    ReadBudget budget(budgetBytes);
    const auto magicBytes = budget.Read(source, 0, 4);
    if (!magicBytes)
        return std::nullopt;
    const auto magic = ByteReader(*magicBytes, Endian::Little).u32At(0);
    if (magic == kMsftMagic)
        return ParseMsft(source, budget);
    if (magic == kSltgMagic)
        return ParseSltg(source, budget);
    return std::nullopt;
}

} // namespace sorvane
