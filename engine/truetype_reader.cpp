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
constexpr std::uint16_t kPlatformMacintosh = 1;

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

std::string DecodeName(const TrueTypeNameRecord& record, std::span<const std::byte> bytes) {
    if (!record.singleByte)
        return Utf16ToUtf8(bytes, Endian::Big);
    return record.platform == kPlatformMacintosh ? MacRomanToUtf8(BytesToString(bytes))
                                                 : Windows1252ToUtf8(BytesToString(bytes));
}

} // namespace

std::string TrueTypeNames::Name(std::uint16_t nameId) const {
    for (const auto& record : records) {
        if (record.nameId == nameId && record.singleByte)
            return record.text;
    }
    return {};
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
        // A first byte of 0 marks a string in a two-byte encoding.
        record.singleByte = text->data()[0] != std::byte{0};
        record.text = DecodeName(record, text->data());
    }
    return names;
}

} // namespace sorvane
