#include "engine/formats/truetype_reader.h"

#include "engine/formats/byte_reader.h"
#include "engine/text/text_utils.h"

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
constexpr std::uint16_t kPlatformUnicode = 0;
constexpr std::uint16_t kPlatformMacintosh = 1;
constexpr std::uint16_t kPlatformIso = 2;
constexpr std::uint16_t kPlatformWindows = 3;
constexpr std::uint16_t kLanguageEnglishUs = 0x0409;
constexpr std::uint16_t kPrimaryLanguageMask = 0x03FF;
constexpr std::uint16_t kPrimaryLanguageEnglish = 0x0009;

/// The offset of the first table tagged "name"; nothing when there is none.
std::optional<std::uint32_t> FindNameTable(const ByteSource& source, ReadBudget& budget,
                                           std::uint16_t numTables) {
    const std::size_t wanted = std::min<std::size_t>(numTables, kMaxTableRecords);
    const Bytes directory = budget.ReadUpTo(source, kOffsetTableSize, wanted * kTableRecordSize);
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

/// A UTF-16BE name up to its first NUL (a few font tools store the
/// terminating NUL of a name, or pad it), at most `maxChars` characters.
std::string Utf16NameToUtf8(std::span<const std::byte> bytes, std::size_t maxChars) {
    // No character takes more than two units, so 4 * maxChars bytes hold them.
    const std::size_t wanted = maxChars < bytes.size() / 4 ? maxChars * 4 : bytes.size();
    std::string text = Utf16ToUtf8(bytes.first(wanted), Endian::Big);
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    if (text.size() > maxChars) // a text of at most maxChars bytes is short enough
        text.resize(Utf8Prefix(text, maxChars).size());
    return text;
}

/// How many characters Utf16NameToUtf8 gives, counted without decoding.
std::size_t Utf16NameLength(std::span<const std::byte> bytes) {
    const auto unitAt = [&](std::size_t i) {
        return std::to_integer<unsigned>(bytes[i]) << 8 | std::to_integer<unsigned>(bytes[i + 1]);
    };
    const std::size_t end = bytes.size() / 2 * 2;
    std::size_t count = 0;
    for (std::size_t i = 0; i < end && unitAt(i) != 0; i += 2, ++count) {
        const unsigned unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 2 < end) {
            const unsigned low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF)
                i += 2; // a pair makes one character; a lone half becomes U+FFFD
        }
    }
    return count;
}

bool AllAscii(std::span<const std::byte> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b < std::byte{0x80}; });
}

bool IsSingleByteCharset(NameCharset charset) {
    return charset == NameCharset::MacRoman || charset == NameCharset::MacOtherScript ||
           charset == NameCharset::Latin1;
}

/// The bytes of a record's string; nothing when it is empty or lies outside
/// the storage read.
std::optional<std::span<const std::byte>> StringBytes(const Bytes& storage,
                                                      const TrueTypeNameRecord& record) {
    if (record.length == 0)
        return std::nullopt;
    const auto text = ByteReader(storage, Endian::Big).sub(record.offset, record.length);
    if (!text)
        return std::nullopt;
    return text->data();
}

/// Counts of the bytes from 0x80 up before each position of the storage, so
/// that whether a string is all ASCII takes one subtraction however many
/// records share it.
class NonAsciiCounts {
public:
    NonAsciiCounts(const Bytes& storage, ReadBudget& budget) {
        if (!budget.Take((storage.size() + 1) * sizeof(std::uint32_t)))
            return;
        before_.reserve(storage.size() + 1);
        before_.push_back(0);
        for (const std::byte b : storage)
            before_.push_back(before_.back() + (b >= std::byte{0x80} ? 1 : 0));
    }
    /// Whether [offset, offset + length) is all ASCII; false when the counts
    /// could not be paid for.
    bool Ascii(std::size_t offset, std::size_t length) const {
        if (before_.empty())
            return false;
        return before_[offset + length] == before_[offset];
    }

private:
    std::vector<std::uint32_t> before_;
};

bool IsSingleByte(const Bytes& storage, const TrueTypeNameRecord& record,
                  const std::optional<NonAsciiCounts>& counts) {
    if (!IsSingleByteCharset(record.charset))
        return false;
    const auto bytes = StringBytes(storage, record);
    if (!bytes || bytes->front() == std::byte{0})
        return false;
    return record.charset != NameCharset::MacOtherScript ||
           (counts && counts->Ascii(record.offset, record.length));
}

/// How much a record is wanted as the source of a name, lowest first;
/// nothing when it cannot be one.
std::optional<int> Preference(const Bytes& storage, const TrueTypeNameRecord& record) {
    if (record.singleByte)
        return 0;
    if (record.charset != NameCharset::Utf16)
        return std::nullopt;
    // The text is empty exactly when its first unit is missing or NUL.
    const auto bytes = StringBytes(storage, record);
    if (!bytes || bytes->size() < 2 || ((*bytes)[0] | (*bytes)[1]) == std::byte{0})
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

std::string TrueTypeNames::Text(const TrueTypeNameRecord& record, std::size_t maxChars) const {
    const auto bytes = StringBytes(storage, record);
    if (!bytes)
        return {};
    switch (record.charset) {
    case NameCharset::Utf16:
        return Utf16NameToUtf8(*bytes, maxChars);
    case NameCharset::MacRoman:
    case NameCharset::MacOtherScript:
    case NameCharset::Latin1: {
        if (bytes->front() == std::byte{0})
            return Utf16NameToUtf8(*bytes, maxChars); // UTF-16 written into a single-byte record
        if (record.charset == NameCharset::MacOtherScript && !AllAscii(*bytes))
            return {}; // no tables for these scripts here
        // One character per byte.
        const auto shown = bytes->first(std::min(bytes->size(), maxChars));
        if (record.charset == NameCharset::MacRoman)
            return MacRomanToUtf8(BytesToString(shown));
        return record.charset == NameCharset::Latin1 ? Latin1ToUtf8(shown) : BytesToString(shown);
    }
    case NameCharset::Undecoded:
        break;
    }
    return {};
}

std::size_t TrueTypeNames::TextLength(const TrueTypeNameRecord& record) const {
    const auto bytes = StringBytes(storage, record);
    if (!bytes)
        return 0;
    switch (record.charset) {
    case NameCharset::Utf16:
        return Utf16NameLength(*bytes);
    case NameCharset::MacRoman:
    case NameCharset::MacOtherScript:
    case NameCharset::Latin1:
        if (bytes->front() == std::byte{0})
            return Utf16NameLength(*bytes);
        if (record.charset == NameCharset::MacOtherScript && !AllAscii(*bytes))
            return 0;
        return bytes->size();
    case NameCharset::Undecoded:
        break;
    }
    return 0;
}

std::string TrueTypeNames::Name(std::uint16_t nameId) const {
    const TrueTypeNameRecord* best = nullptr;
    int bestRank = 0;
    for (const auto& record : records) {
        if (record.nameId != nameId)
            continue;
        const auto rank = Preference(storage, record);
        if (rank && (best == nullptr || *rank < bestRank)) {
            best = &record;
            bestRank = *rank;
            if (bestRank == 0)
                break; // nothing comes before the first single-byte record
        }
    }
    return best != nullptr ? Text(*best) : std::string{};
}

std::optional<TrueTypeNames> ReadTrueTypeNames(const ByteSource& source,
                                               std::span<const std::uint16_t> nameIds,
                                               std::size_t budgetBytes) {
    ReadBudget budget(budgetBytes);
    const auto header = budget.Read(source, 0, kOffsetTableSize);
    if (!header)
        return std::nullopt;
    ByteReader offsetTable(*header, Endian::Big);
    // Only the major half of the version is looked at: 'OTTO', 'true' and
    // 'ttcf' all have another first word.
    if (offsetTable.u16At(0) != 1)
        return std::nullopt;
    const auto tableOffset = FindNameTable(source, budget, *offsetTable.u16At(4));
    if (!tableOffset || *tableOffset == 0)
        return std::nullopt;

    const auto nameHeader = budget.Read(source, *tableOffset, kNameHeaderSize);
    if (!nameHeader)
        return std::nullopt;
    ByteReader headerReader(*nameHeader, Endian::Big);
    const std::uint16_t count = *headerReader.u16At(2);
    const std::uint16_t storageOffset = *headerReader.u16At(4);
    if (count < kMinNameRecords)
        return std::nullopt;

    // Records cut off by the end of the file are left out: the ones before
    // them are still good. Each record is paid for as read and as kept.
    const std::uint64_t recordsAt = std::uint64_t{*tableOffset} + kNameHeaderSize;
    const std::size_t inFile = static_cast<std::size_t>(
        std::min<std::uint64_t>(count, (source.size() - recordsAt) / kNameRecordSize));
    const std::size_t paid = budget.TakeItems(inFile, kNameRecordSize + sizeof(TrueTypeNameRecord));
    const Bytes recordBytes = source.ReadUpTo(recordsAt, paid * kNameRecordSize);
    const std::size_t present = recordBytes.size() / kNameRecordSize;

    TrueTypeNames names;
    names.records.reserve(present);
    std::size_t storageNeeded = 0;
    ByteReader records(recordBytes, Endian::Big);
    for (std::size_t j = 0; j < present; ++j) {
        TrueTypeNameRecord record;
        record.platform = *records.u16();
        record.encoding = *records.u16();
        record.language = *records.u16();
        record.nameId = *records.u16();
        record.length = *records.u16();
        record.offset = *records.u16();
        if (!nameIds.empty() &&
            std::find(nameIds.begin(), nameIds.end(), record.nameId) == nameIds.end())
            continue;
        record.charset = NameCharsetOf(record.platform, record.encoding);
        storageNeeded = std::max(storageNeeded, std::size_t{record.offset} + record.length);
        names.records.push_back(record);
    }

    // Offsets and lengths are 16-bit, so no string reaches further than
    // 128 KiB into the storage.
    const std::uint64_t storageAt = std::uint64_t{*tableOffset} + storageOffset;
    names.storage = budget.ReadUpTo(source, storageAt, storageNeeded);
    std::optional<NonAsciiCounts> counts;
    for (auto& record : names.records) {
        if (record.charset == NameCharset::MacOtherScript && !counts)
            counts.emplace(names.storage, budget);
        record.singleByte = IsSingleByte(names.storage, record, counts);
    }
    names.budgetSpent = budget.spent();
    return names;
}

} // namespace sorvane
