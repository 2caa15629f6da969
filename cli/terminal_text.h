#pragma once
// Text for a terminal: names and version strings come from files anybody can
// make, and a control character in them could move the cursor, recolour the
// screen or write to the clipboard of the terminal reading the output.

#include <string>
#include <string_view>

namespace sorvane::cli {

/// UTF-8 text with every control character shown as an escape instead of
/// being sent raw, as the window's grid shows it (EscapeControls): C0
/// controls and DEL as \xNN (\t, \n and \r included, so a value stays on one
/// line), C1 controls and the marks that set or reorder the direction of text
/// as \uNNNN. Other text, backslashes included, is unchanged. Names are
/// decoded before they are shown; a byte that is not UTF-8 shows as U+FFFD.
std::string TerminalText(std::string_view utf8);

} // namespace sorvane::cli
