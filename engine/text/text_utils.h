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

/// The text with each CR and LF replaced by a blank, so that a value written
/// into a line-based file cannot end its line or add lines of its own.
std::string OneLine(std::string_view text);

/// True when `text` is valid UTF-8 without CR or LF: a line of a text file
/// or of a list can hold it so that whoever reads the line gets it back.
bool IsOneLineUtf8(std::string_view text);

/// The text with every character that is not drawn, or that changes how the
/// text around it is drawn, shown as a visible escape instead: C0 controls
/// and DEL as \xNN (tab, CR and LF included), C1 controls, the marks that
/// set or reorder the direction of text (U+061C, U+200E, U+200F, U+202A to
/// U+202E, U+2066 to U+2069) and the line and paragraph separators as
/// \uNNNN. "evil\u202Ellx.exe" then reads as it is stored rather than as
/// "evilexe.xll". Other text, backslashes included, is unchanged; bytes that
/// are not UTF-8 show as U+FFFD. With `keepLineBreaks`, CR LF, LF and CR stay
/// line breaks (as LF) and those ending the text are dropped.
std::string EscapeControls(std::string_view text, bool keepLineBreaks = false);

/// True when EscapeControls would change `text`. Cheap for plain ASCII.
bool NeedsEscapes(std::string_view text);

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

/// Who a CSV field is written for.
enum class CsvCells {
    /// Programs: the text exactly.
    Exact,
    /// Spreadsheets, which take a cell starting with "=", "+", "-", "@",
    /// tab or CR as a formula (=HYPERLINK(...) in a file name): such a cell
    /// gets a leading "'", which spreadsheets read as "this is text". A cell
    /// of that one character alone (the orphan mark "-") is no formula and
    /// stays as it is.
    ForSpreadsheets,
};

/// Appends `text` as one CSV field (RFC 4180): in quotes, with each quote
/// doubled, when it holds a comma, a quote or a line break; else as it is.
/// For spreadsheets a formula is first made text.
void AppendCsvField(std::string& out, std::string_view text, CsvCells cells);

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
