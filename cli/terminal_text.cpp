#include "terminal_text.h"

#include "engine/text_utils.h"

#include <cstdio>

namespace sorvane::cli {
namespace {

bool ReordersText(char32_t cp) {
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

} // namespace

std::string TerminalText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const char32_t cp = NextCodePoint(utf8, i);
        char escape[12];
        if (cp < 0x20 || cp == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(cp));
            out += escape;
        } else if ((cp >= 0x80 && cp <= 0x9F) || ReordersText(cp)) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
            out += escape;
        } else {
            out.append(utf8.substr(start, i - start));
        }
    }
    return out;
}

} // namespace sorvane::cli
