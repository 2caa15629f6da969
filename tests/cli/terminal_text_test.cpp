#include "cli/terminal_text.h"

#include <gtest/gtest.h>

namespace sorvane::cli {
namespace {

TEST(TerminalText, ShowsEveryControlAsAnEscapeAndLeavesTheRest) {
    struct Case {
        std::string text;
        std::string shown;
    };
    const std::vector<Case> cases{
        {"plain.dll", "plain.dll"},
        {"Ünïcødé 日本 ©", "Ünïcødé 日本 ©"},
        {"back\\slash", "back\\slash"},
        {"\x1b[31mred\x1b[0m.dll", "\\x1b[31mred\\x1b[0m.dll"},
        // A terminal clipboard write (OSC 52) ended by BEL.
        {"\x1b]52;c;cm0gLXJmIH4=\x07", "\\x1b]52;c;cm0gLXJmIH4=\\x07"},
        {"tab\there\nnew\rline", "tab\\x09here\\x0anew\\x0dline"},
        {std::string("nul\0in", 6), "nul\\x00in"},
        {"del\x7f", "del\\x7f"},
        {"c1\xc2\x9b" "2J", "c1\\u009B2J"}, // CSI as a C1 control
        {"\xe2\x80\xaegnp.exe", "\\u202Egnp.exe"}, // right-to-left override
        {"\xe2\x81\xa6isolate\xe2\x81\xa9", "\\u2066isolate\\u2069"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(TerminalText(c.text), c.shown);
    }
}

} // namespace
} // namespace sorvane::cli
