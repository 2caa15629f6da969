#pragma once
// The naming table of TrueType font files.

#include "byte_source.h"

#include <cstdint>
#include <optional>
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

/// One name record with its string.
struct TrueTypeNameRecord {
    std::uint16_t platform = 0;
    std::uint16_t encoding = 0;
    std::uint16_t language = 0;
    std::uint16_t nameId = 0;
    std::uint16_t length = 0;
    NameCharset charset = NameCharset::Undecoded;
    /// True for a string read as single-byte text: Mac Roman, ISO Latin, or
    /// all-ASCII text of another Macintosh script; present, not empty and
    /// not starting with byte 0. These are the records names are taken
    /// from first.
    bool singleByte = false;
    /// The string as UTF-8; empty when it is missing or cannot be decoded.
    /// UTF-16 strings end at their first NUL; odd last bytes are dropped and
    /// unpaired surrogates become U+FFFD. A single-byte string starting with
    /// byte 0 is UTF-16 written into the wrong record by some font tools: it
    /// is shown decoded as such, but never taken as a name.
    std::string text;
};

struct TrueTypeNames {
    std::vector<TrueTypeNameRecord> records;

    /// The name `nameId` as the program shows it; empty text when no record
    /// has it. Single-byte records come first: the first in table order
    /// wins. Without one, the UTF-16 records are chosen from,
    /// in this order: Windows English (United States, 0x0409), other Windows
    /// English, the Unicode platform, ISO 10646, Windows in other languages;
    /// the first in table order within each. Records with empty text never
    /// count.
    std::string Name(std::uint16_t nameId) const;
};

/// Reads the naming table of a TrueType file. Nothing when the offset
/// table's major version is not 1 (OpenType 'OTTO', 'true', collections),
/// when there is no "name" table or its offset is 0, or when it has fewer
/// than 6 records. Records cut off by the end of the file are left out; a
/// record whose string lies outside the file has empty text and is not
/// single-byte.
std::optional<TrueTypeNames> ReadTrueTypeNames(const ByteSource& source);

} // namespace sorvane
