#include "cli/help_texts.h"
#include "cli/manual_page.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace sorvane::cli {
namespace {

// The page of a help that starts with a name line, without its title lines.
std::string Body(const std::string& help) {
    const std::string page = ManualPage("tool - does things\n" + help, {"1.00", "2026-12-07"});
    return page.substr(page.find(".SH NAME"));
}

TEST(ManualPage, HelpLayoutBecomesSectionsOptionsAndParagraphs) {
    struct Case {
        const char* help;
        const char* roff; ///< expected in the page body
    };
    const std::vector<Case> cases{
        {"", ".SH NAME\ntool \\- does things\n"},
        {"Usage:\n  tool CMD [ARGS]\n  tool CMD --help    help of one\n",
         ".SH \"SYNOPSIS\"\n.PP\n.RS 4\n.nf\n\\fBtool\\fR \\fICMD\\fR \\fI[ARGS]\\fR\n"
         "\\fBtool\\fR \\fICMD\\fR \\fB\\-\\-help\\fR    help of one\n.fi\n.RE\n"},
        {"Exit status: 0 on success.\n", ".SH \"EXIT STATUS\"\n.PP\n0 on success.\n"},
        {"Commands:\n  run FILE\n        Runs it.\n", ".SH \"COMMANDS\"\n.SS \"run FILE\"\n.PP\nRuns it.\n"},
        {"Options:\n  -h, --help     show this help\n",
         ".TP\n\\fB\\-h\\fR, \\fB\\-\\-help\\fR\nshow this help\n"},
        // An option's description goes on over the deeper lines; the text
        // after the options is a paragraph of its own.
        {"Commands:\n  run\n        Runs.\n        --threads N   files read\n"
         "                      in parallel\n        More text.\n",
         ".PP\nRuns.\n.TP\n\\fB\\-\\-threads\\fR \\fIN\\fR\nfiles read\nin parallel\n.PP\nMore text.\n"},
        {"Commands:\n  run\n        --show all|some\n                    which rows\n",
         ".TP\n\\fB\\-\\-show\\fR all|some\nwhich rows\n"},
        // Running text that begins with an option's name stays running text.
        {"Commands:\n  info\n        Shows it.\n        --json prints JSON;\n        --all adds more.\n",
         ".PP\nShows it.\n\\-\\-json prints JSON;\n\\-\\-all adds more.\n"},
        {"Commands:\n  run\n        A backslash \\x1b, 0xE9 as \"\xC3\xA9\", a lone \xE9 byte.\n",
         "A backslash \\ex1b, 0xE9 as \"\\[u00E9]\", a lone \\[uFFFD] byte.\n"},
        {"Commands:\n  run\n        Ends here\n        .tlb and 'quoted' files.\n",
         "Ends here\n\\&.tlb and 'quoted' files.\n"},
        {"Examples:\n  tool run -r 'a b'\n", ".PP\n.RS 4\n.nf\ntool run \\-r 'a b'\n.fi\n.RE\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.help);
        const std::string body = Body(c.help);
        EXPECT_NE(body.find(c.roff), std::string::npos) << body;
    }
}

TEST(ManualPage, TheToolsPageHoldsEveryCommandAndOption) {
    std::string help = ProgramHelp();
    for (const auto name : CommandNames())
        help += CommandHelp(name);
    const std::string page = ManualPage(ManualText(), {"1.00", "2026-12-07"});
    EXPECT_TRUE(page.find(".TH \"SORVANE\\-CLI\" 1 \"2026\\-12\\-07\" \"Sorvane 1.00\"") !=
                std::string::npos)
        << page.substr(0, 200);
    const auto roff = [](const std::string& text) {
        return std::regex_replace(text, std::regex("-"), "\\-");
    };
    for (const auto name : CommandNames())
        EXPECT_NE(page.find(".SS \"" + roff(std::string(name))), std::string::npos) << name;
    const std::regex option("--[a-z][a-z-]+");
    std::set<std::string> options;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
         it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    EXPECT_GT(options.size(), 15u);
    for (const auto& name : options)
        EXPECT_NE(page.find(roff(name)), std::string::npos) << name;
    // What the tool reads from its environment, and the files it uses.
    for (const std::string expected :
         {".SH \"ENVIRONMENT\"\n.TP\n\\fBSORVANE_SETTINGS\\fR\n", ".TP\n\\fBXDG_CONFIG_HOME\\fR\n",
          ".TP\n\\fBXDG_RUNTIME_DIR\\fR\n", ".TP\n\\fBTMPDIR\\fR\n", ".TP\n\\fBWINEPREFIX\\fR\n",
          ".TP\n\\fBHOME\\fR\n", ".SH \"FILES\"\n.TP\n\\fI~/.config/Sorvane/Sorvane.dat\\fR\n",
          ".TP\n\\fI$XDG_RUNTIME_DIR/Sorvane.Main\\fR\n", ".SH \"EXIT STATUS\"", ".SH \"SEE ALSO\""})
        EXPECT_NE(page.find(expected), std::string::npos) << expected;
    EXPECT_LT(page.find(".SH \"ENVIRONMENT\""), page.find(".SH \"FILES\""));
}

} // namespace
} // namespace sorvane::cli
