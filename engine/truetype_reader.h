#pragma once
// The naming table of TrueType font files.

#include "byte_source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvane {

/// One name record with its string.
struct TrueTypeNameRecord {
    std::uint16_t platform = 0;
    std::uint16_t encoding = 0;
    std::uint16_t language = 0;
    std::uint16_t nameId = 0;
    std::uint16_t length = 0;
    /// True when the string's first byte is not 0: the records the program
    /// takes names from.
    bool singleByte = false;
    /// The string as UTF-8: Mac Roman for platform 1, Windows-1252 for the
    /// others when `singleByte`; UTF-16BE otherwise (for display only).
    std::string text;
};

struct TrueTypeNames {
    std::vector<TrueTypeNameRecord> records;

    /// The text of the first record in table order with `nameId` that has a
    /// non-empty single-byte string; empty text when there is none.
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
