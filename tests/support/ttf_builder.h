#pragma once
// TrueType fixtures: an offset table, a table directory and a naming table.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::test {

struct TtfName {
    std::uint16_t platform = 0;
    std::uint16_t encoding = 0;
    std::uint16_t language = 0;
    std::uint16_t nameId = 0;
    std::string bytes; ///< the string as stored
};

/// Where the parts of a built font lie, for tests that damage them.
struct TtfLayout {
    std::size_t nameDirectoryRecordAt = 0; ///< the directory record tagged "name"
    std::size_t nameTableAt = 0;
    std::size_t recordsAt = 0; ///< first name record
    std::size_t storageAt = 0; ///< string storage
};

/// A font whose directory lists `otherTables` (each 4 bytes of zeros) and
/// then "name", followed by those tables and the naming table, which ends
/// the file: its last string ends exactly at the end.
struct TtfBuilder {
    std::uint32_t sfntVersion = 0x00010000;
    std::vector<std::string> otherTables = {"head"};
    std::vector<TtfName> names;

    std::string Build(TtfLayout* layout = nullptr) const;
};

/// A name record pointing wherever the test wants into the string storage.
struct TtfRecord {
    std::uint16_t platform = 0;
    std::uint16_t encoding = 0;
    std::uint16_t language = 0;
    std::uint16_t nameId = 0;
    std::uint16_t length = 0;
    std::uint16_t offset = 0; ///< from the start of the storage
};

/// A font whose only table is a naming table of `records` followed by
/// `storage`; records may share strings. At most 5,460 records fit before a
/// storage offset overflows 16 bits.
std::string SharedStorageFont(const std::vector<TtfRecord>& records, std::string_view storage);

/// A Macintosh Roman record (platform 1, encoding 0, English).
TtfName MacName(std::uint16_t nameId, std::string bytes);
/// A Windows Unicode record (platform 3, encoding 1), en-US unless told.
TtfName WindowsName(std::uint16_t nameId, std::u16string_view text, std::uint16_t language = 0x409);

} // namespace sorvane::test
