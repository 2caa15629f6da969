#include "terminal_text.h"

#include "engine/text/text_utils.h"

namespace sorvane::cli {

std::string TerminalText(std::string_view utf8) { return EscapeControls(utf8); }

} // namespace sorvane::cli
