#pragma once
// Text helpers shared by the engine: UTF-8 decoding and encoding, the 8-bit
// code pages of old files, case-insensitive comparison and blank trimming.

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvane {

/// Decodes the code point starting at `i` and advances `i` past it. An invalid
/// or truncated sequence yields U+FFFD and advances by one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i);

/// Appends `cp` to `out` as UTF-8 (surrogates and values past U+10FFFF become U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

/// True when `bytes` is well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

/// The text with every byte that is not part of a UTF-8 sequence replaced by
/// U+FFFD, for showing names that are not valid UTF-8.
std::string ValidUtf8(std::string_view bytes);

/// The text with each CR and LF replaced by a blank, so that a value written
/// into a line-based file cannot end its line or add lines of its own.
std::string OneLine(std::string_view text);

/// Number of code points in a UTF-8 text (each invalid byte counts as one).
std::size_t Utf8Length(std::string_view text);

/// The first `count` code points of a UTF-8 text (the whole text when shorter).
std::string_view Utf8Prefix(std::string_view text, std::size_t count);

/// Converts Windows-1252 bytes to UTF-8. The five undefined bytes map to the
/// C1 controls of the same value, as Windows does.
std::string Windows1252ToUtf8(std::string_view bytes);

/// Converts Mac OS Roman bytes to UTF-8.
std::string MacRomanToUtf8(std::string_view bytes);

/// Text read from a file: valid UTF-8 sequences are kept, every byte that is
/// not part of one is taken as Windows-1252.
std::string DecodeText(std::string_view bytes);
/// The same without a copy when `bytes` are valid UTF-8 already (most names
/// and texts); otherwise decoded into `scratch`, which must outlive the view.
std::string_view DecodeTextView(std::string_view bytes, std::string& scratch);

/// Appends `text` as one CSV field (RFC 4180): in quotes, with each quote
/// doubled, when it holds a comma, a quote or a line break; else as it is.
void AppendCsvField(std::string& out, std::string_view text);

/// The simple lower-case mapping of one code point (itself when it has none).
char32_t FoldCaseChar(char32_t cp);

/// Lower-cases every code point of a UTF-8 text.
std::string FoldCase(std::string_view text);

/// Three-way comparison of two UTF-8 texts without regard to letter case,
/// code point by code point after folding. Returns <0, 0 or >0.
int CompareIgnoreCase(std::string_view a, std::string_view b);

/// True when the two UTF-8 texts are equal without regard to letter case.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    // Most keys a file holds are spelt as they are looked for, and most
    // others differ in their first letter already.
    if (a == b)
        return true;
    if (!a.empty() && !b.empty()) {
        const auto x = static_cast<unsigned char>(a.front());
        const auto y = static_cast<unsigned char>(b.front());
        // ASCII folding changes bit 0x20 only, so this difference stays.
        if ((x | y) < 0x80 && (x | 0x20u) != (y | 0x20u))
            return false;
    }
    return CompareIgnoreCase(a, b) == 0;
}

/// True when `text` ends with `suffix` without regard to letter case.
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);

/// Removes leading and trailing blanks (spaces and tabs).
std::string_view TrimBlanks(std::string_view text);

} // namespace sorvane
