#include "cli/commands.h"
#include "cli/help_texts.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

namespace sorvane::cli {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome RunArgs(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunProgram(args, out, err);
    return {status, out.str(), err.str()};
}

const std::vector<std::string> kCommands = {"compare",  "copy",          "info",   "order",
                                            "language", "settings-file", "execute"};

TEST(CommandLine, EachCommandShowsItsOwnHelp) {
    const auto names = CommandNames();
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()), kCommands);
    const std::string whole = RunArgs({"--help"}).out;
    for (const auto& command : kCommands) {
        SCOPED_TRACE(command);
        const std::string help = CommandHelp(command);
        EXPECT_TRUE(help.starts_with("Usage: sorvane-cli " + command + " ")) << help;
        // Its usage line is the one the manual lists, and the whole help
        // names it with its summary.
        const std::string usage = help.substr(19, help.find('\n') - 19);
        EXPECT_NE(ManualText().find("\n  " + usage + "\n"), std::string::npos);
        EXPECT_NE(whole.find("\n  " + command + " "), std::string::npos);
        // The help wins over missing or unknown arguments.
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{command, "--help"}, {command, "-h"}, {"help", command},
              {command, "--bogus", "-h"}}) {
            const Outcome run = RunArgs(args);
            EXPECT_EQ(run.status, 0) << args.back();
            EXPECT_EQ(run.out, help) << args.back();
            EXPECT_EQ(run.err, "");
        }
    }
    for (const auto& args : {std::vector<std::string>{"-h"}, {"--help"}, {"help"}})
        EXPECT_EQ(RunArgs(args).out, whole);
}

TEST(CommandLine, EveryOptionTheHelpNamesIsKnown) {
    const std::regex option("--[a-z][a-z-]+");
    // A value in case the option takes one, and an argument the command
    // accepts (a path that does not exist, or a number), so that it checks
    // its arguments to the end without reading anything; an unknown option
    // is then named as such.
    const auto unknown = [](const std::string& command, const std::string& name) {
        const std::string last = command == "language" ? "1033" : "/nonexistent-sorvane/x";
        return RunArgs({command, name, "1", last}).err.find("unknown option") != std::string::npos;
    };
    // "execute" must never reach a window the user has running.
    const test::ScopedEnv runtime("XDG_RUNTIME_DIR", "/nonexistent-sorvane");
    for (const auto& command : kCommands) {
        ASSERT_TRUE(unknown(command, "--no-such-option")) << command;
        const std::string help = CommandHelp(command);
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
            EXPECT_FALSE(unknown(command, it->str())) << command << " " << it->str();
    }
}

struct ParserCase {
    std::vector<std::string> args;
    int status;
    std::string out; ///< the whole standard output
    std::string err; ///< a part of standard error; empty: nothing at all
};

TEST(CommandLine, ParsesOptionsAndNamesWhatIsWrong) {
    const std::vector<ParserCase> cases = {
        {{}, 2, "", "sorvane-cli: no command given\nTry 'sorvane-cli --help'"},
        {{"frobnicate"}, 2, "", "sorvane-cli: unknown command 'frobnicate'"},
        {{"help", "frobnicate"}, 2, "", "unknown command 'frobnicate'"},
        {{"--version"}, 0, "sorvane-cli 1.00\n", ""},
        {{"compare"}, 2, "", "sorvane-cli compare: SOURCE is required\n"
                             "Try 'sorvane-cli compare --help' for more information.\n"},
        {{"compare", "a", "--bogus"}, 2, "", "compare: unknown option '--bogus'"},
        {{"compare", "a", "-rx"}, 2, "", "compare: unknown option '-x'"},
        {{"compare", "a", "b", "c"}, 2, "", "compare: unexpected argument 'c'"},
        {{"compare", "a", "--format"}, 2, "", "compare: --format needs a value"},
        {{"compare", "a", "--format", "xml"}, 2, "",
         "--format: takes table, csv, csv-raw, json or html, not 'xml'"},
        {{"compare", "a", "--show=odd"}, 2, "", "--show: takes all, different or newer, not 'odd'"},
        {{"compare", "a", "--sort", "size"}, 2, "", "--sort: takes none, name, ext, language,"},
        {{"compare", "a", "--threads=65"}, 2, "",
         "--threads: takes a number from 0 to 64, not '65'"},
        {{"compare", "a", "--threads", "4x"}, 2, "", "--threads: takes a number from 0 to 64"},
        {{"compare", "a", "--save-map="}, 2, "", "--save-map: needs a file name"},
        {{"info"}, 2, "", "info: FILE is required"},
        {{"info", "--jsn", "x.dll"}, 2, "", "info: unknown option '--jsn'"},
        {{"info", "--json=maybe", "x.dll"}, 2, "", "--json takes no value (or true or false)"},
        {{"order", "2.10", "2.9"}, 0, ">\n", ""},
        {{"order", "--strict", "1.10", "1.9"}, 0, "?\n", ""},
        {{"order", "1.10", "1.9", "--strict=false"}, 0, ">\n", ""},
        {{"order", "1.0"}, 2, "", "order: needs exactly two version texts"},
        {{"order", "1", "2", "3"}, 2, "", "order: needs exactly two version texts"},
        {{"order", "--strikt", "1", "2"}, 2, "", "order: unknown option '--strikt'"},
        {{"language", "1033", "0x0", "-1"}, 0,
         "1033\tEnglish (United States)\n0x0\t[Neutral]\n-1\t[Neutral]\n", ""},
        {{"language"}, 2, "", "language: LCID is required"},
        {{"language", "--", "1033"}, 0, "1033\tEnglish (United States)\n", ""},
        {{"language", "abc"}, 2, "", "language: LCID: 'abc' is not a number"},
        {{"language", "0x1ffffffff"}, 2, "", "'0x1ffffffff' is not a number"},
        {{"language", "1033", "--hex"}, 2, "", "language: unknown option '--hex'"},
        {{"settings-file", "--settings=/cli/s.dat"}, 0, "/cli/s.dat\n", ""},
        {{"settings-file", "--settings", "/cli/a.dat", "--settings", "/cli/b.dat"}, 0,
         "/cli/b.dat\n", ""},
        {{"settings-file", "--settings"}, 2, "", "settings-file: --settings needs a value"},
        // An empty value does not take the next argument.
        {{"settings-file", "--settings=", "extra"}, 2, "", "unexpected argument 'extra'"},
        {{"settings-file", "extra"}, 2, "", "settings-file: unexpected argument 'extra'"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const Outcome run = RunArgs(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        if (c.err.empty())
            EXPECT_EQ(run.err, "");
        else
            EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
}

} // namespace
} // namespace sorvane::cli
