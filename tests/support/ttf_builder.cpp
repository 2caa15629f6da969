#include "support/ttf_builder.h"

#include "support/byte_builder.h"

#include <stdexcept>

namespace sorvane::test {

std::string TtfBuilder::Build(TtfLayout* layout) const {
    const std::size_t tableCount = otherTables.size() + 1;
    const std::size_t directoryEnd = 12 + 16 * tableCount;
    const std::size_t nameTableAt = directoryEnd + 4 * otherTables.size();

    ByteBuilder out(Endian::Big);
    out.u32(sfntVersion);                            // sfnt version
    out.u16(static_cast<std::uint16_t>(tableCount)); // numTables
    out.u16(16).u16(0).u16(0);                       // searchRange, entrySelector, rangeShift
    for (std::size_t i = 0; i < otherTables.size(); ++i) {
        out.raw(otherTables[i]);                                   // tag
        out.u32(0);                                                // checksum
        out.u32(static_cast<std::uint32_t>(directoryEnd + 4 * i)); // offset
        out.u32(4);                                                // length
    }
    const std::size_t nameRecordAt = out.size();
    std::size_t storageSize = 0;
    for (const auto& name : names)
        storageSize += name.bytes.size();
    const std::size_t storageOffset = 6 + 12 * names.size();
    out.raw("name");                                                  // tag
    out.u32(0);                                                       // checksum
    out.u32(static_cast<std::uint32_t>(nameTableAt));                 // offset
    out.u32(static_cast<std::uint32_t>(storageOffset + storageSize)); // length
    out.fill(4 * otherTables.size());                                 // the other tables

    out.u16(0);                                         // naming table format
    out.u16(static_cast<std::uint16_t>(names.size()));  // record count
    out.u16(static_cast<std::uint16_t>(storageOffset)); // storage offset
    std::size_t stringOffset = 0;
    for (const auto& name : names) {
        out.u16(name.platform);                                 // platform ID
        out.u16(name.encoding);                                 // encoding ID
        out.u16(name.language);                                 // language ID
        out.u16(name.nameId);                                   // name ID
        out.u16(static_cast<std::uint16_t>(name.bytes.size())); // length
        out.u16(static_cast<std::uint16_t>(stringOffset));      // offset into storage
        stringOffset += name.bytes.size();
    }
    for (const auto& name : names)
        out.raw(name.bytes); // the strings, in record order

    if (layout) {
        layout->nameDirectoryRecordAt = nameRecordAt;
        layout->nameTableAt = nameTableAt;
        layout->recordsAt = nameTableAt + 6;
        layout->storageAt = nameTableAt + storageOffset;
    }
    return out.bytes();
}

std::string SharedStorageFont(const std::vector<TtfRecord>& records, std::string_view storage) {
    const std::size_t storageOffset = 6 + 12 * records.size();
    if (storageOffset > 0xFFFF)
        throw std::length_error("too many name records for a 16-bit storage offset");
    ByteBuilder out(Endian::Big);
    out.u32(0x00010000);       // sfnt version
    out.u16(1);                // numTables
    out.u16(16).u16(0).u16(0); // searchRange, entrySelector, rangeShift
    out.raw("name");           // tag
    out.u32(0);                // checksum
    out.u32(12 + 16);          // offset: right after the directory
    out.u32(static_cast<std::uint32_t>(storageOffset + storage.size())); // length
    out.u16(0);                                                          // naming table format
    out.u16(static_cast<std::uint16_t>(records.size()));                 // record count
    out.u16(static_cast<std::uint16_t>(storageOffset));                  // storage offset
    for (const TtfRecord& r : records) {
        out.u16(r.platform).u16(r.encoding).u16(r.language); // platform, encoding, language IDs
        out.u16(r.nameId).u16(r.length).u16(r.offset);       // name ID, length, storage offset
    }
    out.raw(storage); // the strings
    return out.bytes();
}

TtfName MacName(std::uint16_t nameId, std::string bytes) {
    return {1, 0, 0, nameId, std::move(bytes)};
}

TtfName WindowsName(std::uint16_t nameId, std::u16string_view text, std::uint16_t language) {
    return {3, 1, language, nameId, Utf16Be(text)};
}

} // namespace sorvane::test
