#include "truetype_reader.h"

#include "byte_reader.h"
#include "text_utils.h"

#include <algorithm>

namespace sorvane {
namespace {

constexpr std::size_t kOffsetTableSize = 12;
constexpr std::size_t kTableRecordSize = 16;
constexpr std::size_t kNameHeaderSize = 6;
constexpr std::size_t kNameRecordSize = 12;
constexpr std::uint16_t kMinNameRecords = 6;
// Real fonts have a few dozen tables; a directory claiming more is damaged
// and only its start is searched.
constexpr std::size_t kMaxTableRecords = 1024;
// Offsets and lengths are 16-bit, so no record can reach further than
// 128 KiB into the storage; the cap only guards against a future change.
constexpr std::size_t kMaxStorageBytes = 1024 * 1024;
constexpr std::uint16_t kPlatformUnicode = 0;
constexpr std::uint16_t kPlatformMacintosh = 1;
constexpr std::uint16_t kPlatformIso = 2;
constexpr std::uint16_t kPlatformWindows = 3;
constexpr std::uint16_t kLanguageEnglishUs = 0x0409;
constexpr std::uint16_t kPrimaryLanguageMask = 0x03FF;
constexpr std::uint16_t kPrimaryLanguageEnglish = 0x0009;

/// The offset of the first table tagged "name"; nothing when there is none.
std::optional<std::uint32_t> FindNameTable(const ByteSource& source, std::uint16_t numTables) {
    const std::size_t wanted = std::min<std::size_t>(numTables, kMaxTableRecords);
    const Bytes directory = source.ReadUpTo(kOffsetTableSize, wanted * kTableRecordSize);
    ByteReader reader(directory, Endian::Big);
    const std::size_t present = directory.size() / kTableRecordSize;
    for (std::size_t i = 0; i < present; ++i) {
        const std::size_t at = i * kTableRecordSize;
        if (reader.u32At(at) == 0x6E616D65u) // "name", exactly: tags are case-sensitive
            return reader.u32At(at + 8);
    }
    return std::nullopt;
}

std::string Latin1ToUtf8(std::span<const std::byte> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const std::byte b : bytes)
        AppendUtf8(out, std::to_integer<char32_t>(b));
    return out;
}

std::string Utf16NameToUtf8(std::span<const std::byte> bytes) {
    std::string text = Utf16ToUtf8(bytes, Endian::Big);
    // A few font tools store the terminating NUL of a name, or pad it.
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return text;
}

void DecodeName(TrueTypeNameRecord& record, std::span<const std::byte> bytes) {
    switch (record.charset) {
    case NameCharset::Utf16:
        record.text = Utf16NameToUtf8(bytes);
        return;
    case NameCharset::MacRoman:
    case NameCharset::MacOtherScript:
    case NameCharset::Latin1:
        if (bytes.front() == std::byte{0}) {
            // UTF-16 written into a single-byte record: shown, never taken.
            record.text = Utf16NameToUtf8(bytes);
            return;
        }
        if (record.charset == NameCharset::MacOtherScript) {
            const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                           [](std::byte b) { return b < std::byte{0x80}; });
            if (!ascii)
                return; // no tables for these scripts here
            record.singleByte = true;
            record.text = BytesToString(bytes);
            return;
        }
        record.singleByte = true;
        record.text = record.charset == NameCharset::MacRoman ? MacRomanToUtf8(BytesToString(bytes))
                                                              : Latin1ToUtf8(bytes);
        return;
    case NameCharset::Undecoded:
        return;
    }
}

/// How much a record is wanted as the source of a name, lowest first;
/// nothing when it cannot be one.
std::optional<int> Preference(const TrueTypeNameRecord& record) {
    if (record.singleByte)
        return 0;
    if (record.charset != NameCharset::Utf16 || record.text.empty())
        return std::nullopt;
    switch (record.platform) {
    case kPlatformWindows:
        if (record.language == kLanguageEnglishUs)
            return 1;
        if ((record.language & kPrimaryLanguageMask) == kPrimaryLanguageEnglish)
            return 2;
        return 5;
    case kPlatformUnicode:
        return 3;
    default:
        return 4; // ISO 10646
    }
}

} // namespace

NameCharset NameCharsetOf(std::uint16_t platform, std::uint16_t encoding) {
    switch (platform) {
    case kPlatformUnicode:
    case kPlatformWindows: // every encoding, Symbol included
        return NameCharset::Utf16;
    case kPlatformMacintosh:
        return encoding == 0 ? NameCharset::MacRoman : NameCharset::MacOtherScript;
    case kPlatformIso:
        if (encoding == 1)
            return NameCharset::Utf16;
        return encoding == 0 || encoding == 2 ? NameCharset::Latin1 : NameCharset::Undecoded;
    default:
        return NameCharset::Undecoded;
    }
}

std::string TrueTypeNames::Name(std::uint16_t nameId) const {
    const TrueTypeNameRecord* best = nullptr;
    int bestRank = 0;
    for (const auto& record : records) {
        if (record.nameId != nameId)
            continue;
        const auto rank = Preference(record);
        if (rank && (best == nullptr || *rank < bestRank)) {
            best = &record;
            bestRank = *rank;
        }
    }
    return best != nullptr ? best->text : std::string{};
}

std::optional<TrueTypeNames> ReadTrueTypeNames(const ByteSource& source) {
    const auto header = source.Read(0, kOffsetTableSize);
    if (!header)
        return std::nullopt;
    ByteReader offsetTable(*header, Endian::Big);
    // Only the major half of the version is looked at: 'OTTO', 'true' and
    // 'ttcf' all have another first word.
    if (offsetTable.u16At(0) != 1)
        return std::nullopt;
    const auto tableOffset = FindNameTable(source, *offsetTable.u16At(4));
    if (!tableOffset || *tableOffset == 0)
        return std::nullopt;

    const auto nameHeader = source.Read(*tableOffset, kNameHeaderSize);
    if (!nameHeader)
        return std::nullopt;
    ByteReader headerReader(*nameHeader, Endian::Big);
    const std::uint16_t count = *headerReader.u16At(2);
    const std::uint16_t storageOffset = *headerReader.u16At(4);
    if (count < kMinNameRecords)
        return std::nullopt;

    // Records cut off by the end of the file are left out: the ones before
    // them are still good.
    const std::uint64_t recordsAt = std::uint64_t{*tableOffset} + kNameHeaderSize;
    const Bytes recordBytes = source.ReadUpTo(recordsAt, std::size_t{count} * kNameRecordSize);
    const std::size_t present = recordBytes.size() / kNameRecordSize;

    TrueTypeNames names;
    names.records.reserve(present);
    std::vector<std::uint16_t> stringOffsets;
    stringOffsets.reserve(present);
    std::size_t storageNeeded = 0;
    ByteReader records(recordBytes, Endian::Big);
    for (std::size_t j = 0; j < present; ++j) {
        TrueTypeNameRecord record;
        record.platform = *records.u16();
        record.encoding = *records.u16();
        record.language = *records.u16();
        record.nameId = *records.u16();
        record.length = *records.u16();
        record.charset = NameCharsetOf(record.platform, record.encoding);
        const std::uint16_t offset = *records.u16();
        storageNeeded = std::max(storageNeeded, std::size_t{offset} + record.length);
        names.records.push_back(std::move(record));
        stringOffsets.push_back(offset);
    }

    const std::uint64_t storageAt = std::uint64_t{*tableOffset} + storageOffset;
    const Bytes storage = source.ReadUpTo(storageAt, std::min(storageNeeded, kMaxStorageBytes));
    const ByteReader strings(storage, Endian::Big);
    for (std::size_t j = 0; j < present; ++j) {
        auto& record = names.records[j];
        if (record.length == 0)
            continue;
        const auto text = strings.sub(stringOffsets[j], record.length);
        if (!text)
            continue; // the string lies past the end of the file
        DecodeName(record, text->data());
    }
    return names;
}

} // namespace sorvane
