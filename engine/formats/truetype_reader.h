#pragma once
// The naming table of TrueType font files.

#include "engine/formats/byte_source.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sorvane {

/// How the string of a name record is stored, told by its platform and
/// encoding IDs.
enum class NameCharset : std::uint8_t {
    MacRoman, ///< platform 1 (Macintosh), encoding 0: one byte per character
    /// Other Macintosh scripts: Japanese, Chinese and Korean are multi-byte,
    /// the rest single-byte code pages of their own. Only text that is all
    /// ASCII, which every Macintosh script shares, is decoded.
    MacOtherScript,
    Latin1, ///< platform 2 (ISO), encodings 0 (ASCII) and 2 (ISO 8859-1)
    Utf16,  ///< platforms 0 (Unicode) and 3 (Windows), platform 2 encoding 1: UTF-16BE
    /// The custom platform 4, other ISO encodings and unknown platforms.
    Undecoded,
};

/// The charset of a record of `platform` and `encoding`.
NameCharset NameCharsetOf(std::uint16_t platform, std::uint16_t encoding);

/// One name record. Its string stays in the table's storage until it is
/// asked for (TrueTypeNames::Text), so a table of thousands of records
/// pointing at one long string costs nothing until one is shown.
struct TrueTypeNameRecord {
    std::uint16_t platform = 0;
    std::uint16_t encoding = 0;
    std::uint16_t language = 0;
    std::uint16_t nameId = 0;
    std::uint16_t length = 0;
    std::uint16_t offset = 0; ///< of the string, from the start of the storage
    NameCharset charset = NameCharset::Undecoded;
    /// True for a string read as single-byte text: Mac Roman, ISO Latin, or
    /// all-ASCII text of another Macintosh script; present, not empty and
    /// not starting with byte 0. These are the records names are taken
    /// from first.
    bool singleByte = false;
};

/// The names the program shows for a font: copyright, family and version.
inline constexpr std::array<std::uint16_t, 3> kShownNameIds = {0, 1, 5};

struct TrueTypeNames {
    /// The records kept, in table order.
    std::vector<TrueTypeNameRecord> records;
    /// The string storage, as far as the kept records reach into it.
    Bytes storage;
    /// True when the reader's budget ran out: records or strings past that
    /// point were left out (no real font comes near it).
    bool budgetSpent = false;

    /// The string of `record` (one of `records`) as UTF-8, at most its first
    /// `maxChars` characters; empty when it is missing or cannot be decoded.
    /// UTF-16 strings end at their first NUL; odd last bytes are dropped and
    /// unpaired surrogates become U+FFFD. A single-byte string starting with
    /// byte 0 is UTF-16 written into the wrong record by some font tools: it
    /// is shown decoded as such, but never taken as a name.
    std::string Text(const TrueTypeNameRecord& record,
                     std::size_t maxChars = std::numeric_limits<std::size_t>::max()) const;
    /// How many characters the whole of Text(record) has, counted without
    /// decoding it.
    std::size_t TextLength(const TrueTypeNameRecord& record) const;

    /// The name `nameId` as the program shows it; empty text when no record
    /// has it. Single-byte records come first: the first in table order
    /// wins. Without one, the UTF-16 records are chosen from,
    /// in this order: Windows English (United States, 0x0409), other Windows
    /// English, the Unicode platform, ISO 10646, Windows in other languages;
    /// the first in table order within each. Records with empty text never
    /// count. Only the chosen record's string is decoded.
    std::string Name(std::uint16_t nameId) const;
};

/// Reads the naming table of a TrueType file, keeping the records of the
/// name IDs in `nameIds` (all records when it is empty). Nothing when the
/// offset table's major version is not 1 (OpenType 'OTTO', 'true',
/// collections), when there is no "name" table or its offset is 0, or when
/// it has fewer than 6 records. Records cut off by the end of the file are
/// left out; a record whose string lies outside the file has empty text and
/// is not single-byte. Reads and keeps at most `budgetBytes` bytes in all.
std::optional<TrueTypeNames> ReadTrueTypeNames(const ByteSource& source,
                                               std::span<const std::uint16_t> nameIds = {},
                                               std::size_t budgetBytes = kReadBudgetBytes);

} // namespace sorvane
