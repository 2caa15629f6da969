#pragma once
// Text for a terminal: names and version strings come from files anybody can
// make, and a control character in them could move the cursor, recolour the
// screen or write to the clipboard of the terminal reading the output.

#include <string>
#include <string_view>

namespace sorvane::cli {

/// UTF-8 text with every control character shown as an escape instead of
/// being sent raw: C0 controls and DEL as \xNN (\t, \n and \r included, so a
/// value stays on one line), C1 controls as \u0080 to \u009F, and the marks
/// that reorder text (U+202A to U+202E, U+2066 to U+2069) as \uNNNN. Other
/// text, backslashes included, is unchanged. The text must be valid UTF-8
/// (names are decoded before they are shown).
std::string TerminalText(std::string_view utf8);

} // namespace sorvane::cli
