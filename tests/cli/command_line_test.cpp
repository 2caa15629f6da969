#include "cli/command_parser.h"
#include "cli/command_table.h"
#include "cli/commands.h"
#include "cli/help_texts.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <tuple>

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
        {{"-V"}, 0, "sorvane-cli 1.00\n", ""},
        {{"-v"}, 2, "", "sorvane-cli: unknown option '-v' (a command comes first)"},
        {{"copy", "a", "b", "--backup-dir"}, 2, "", "copy: --backup-dir needs a value"},
        {{"copy", "a", "b", "-nr", "--bogus"}, 2, "", "copy: unknown option '--bogus'"},
        {{"compare"}, 2, "", "sorvane-cli compare: SOURCE is required\n"
                             "Try 'sorvane-cli compare --help' for more information.\n"},
        {{"compare", "a", "--bogus"}, 2, "", "compare: unknown option '--bogus'"},
        {{"compare", "a", "-rx"}, 2, "", "compare: unknown option '-x'"},
        {{"compare", "a", "b", "c"}, 2, "", "compare: unexpected argument 'c'"},
        {{"compare", "a", "--format"}, 2, "", "compare: --format needs a value"},
        {{"compare", "a", "--format", "xml"}, 2, "",
         "--format: takes table, csv, csv-raw, json, html, junit or github, not 'xml'"},
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

TEST(CommandLine, TheProgramsHelpIsAShortListThatSaysWhereToReadMore) {
    const std::string help = RunArgs({"--help"}).out;
    EXPECT_LT(std::count(help.begin(), help.end(), '\n'), 40) << help;
    for (const auto& command : CommandTable()) {
        SCOPED_TRACE(command.name);
        // One line with its summary, one with its exit status, nothing more.
        EXPECT_NE(help.find("\n  " + std::string(command.name) + " "), std::string::npos);
        EXPECT_NE(help.find(std::string(command.summary) + "\n"), std::string::npos);
        EXPECT_NE(help.find(std::string(command.exitBrief).substr(0, 20)), std::string::npos);
        EXPECT_EQ(help.find(command.text.substr(0, 40)), std::string::npos);
        for (const auto& option : command.options)
            if (option.names != "--filter" && option.names != "--strict")
                EXPECT_EQ(help.find(option.help), std::string::npos) << option.names;
    }
    for (const std::string more :
         {"-V, --version", "-h, --help", "sorvane-cli COMMAND --help", "man sorvane-cli"})
        EXPECT_NE(help.find(more), std::string::npos) << more;
}

TEST(CommandLine, EachExitStatusACommandGivesIsTheOneItsHelpNames) {
    test::TempDir dir;
    dir.write("src/a.dll", "MZ");
    dir.write("dst/a.dll", "MZ");
    const test::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().c_str()); // no window there
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string said; ///< the words of the command's help that give this status
    };
    const std::vector<Case> cases = {
        {{"compare", dir.file("src"), dir.file("dst")}, 0, "0 when no row was listed"},
        {{"compare", dir.file("missing"), dir.file("dst")}, 2, "2 on bad paths"},
        {{"copy", dir.file("src"), dir.file("dst")}, 0, "0 when every newer file was copied"},
        {{"copy", dir.file("src"), dir.file("missing")}, 2, "2 on bad paths"},
        {{"info", dir.file("src/a.dll")}, 0, "0 when every file could be read"},
        {{"info", dir.file("src/gone.dll")}, 2, "2 when a file could not be read"},
        {{"order", "1", "2"}, 0, "0 when the versions were compared"},
        {{"order", "1"}, 2, "2 on usage"},
        {{"language", "1033"}, 0, "0 when every identifier was named"},
        {{"settings-file", "--settings", "/x"}, 0, "0 when the place was printed"},
        {{"execute", "Scan"}, 2, "2 when no\nwindow is running"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(RunArgs(c.args).status, c.status);
        const CommandSpec* command = FindCommand(c.args.front());
        ASSERT_NE(command, nullptr);
        EXPECT_NE(command->exitText.find(c.said), std::string::npos);
        EXPECT_NE(CommandHelp(c.args.front()).find(c.said), std::string::npos);
        EXPECT_NE(command->exitBrief.find(std::to_string(c.status) + " "), std::string::npos);
    }
}

TEST(CommandLine, TheParserTakesItsOptionsFromTheTableAndNoOthers) {
    bool flag = false;
    std::string text;
    int choice = 0;
    // Each mistake of a command's code is caught the first time it runs.
    const std::vector<std::pair<std::string, std::function<void()>>> mistakes = {
        {"no command 'nosuch' in the command table", [] { CommandParser parser("nosuch"); }},
        {"order: no option --bogus in the table",
         [&] { CommandParser("order").Flag("--bogus", flag); }},
        {"info: no argument SOURCE in the table",
         [&] { CommandParser("info").Argument("SOURCE", text); }},
        {"--show: the table has 3 choices, not 2",
         [&] { CommandParser("compare").Choice<int>("--show", choice, {1, 2}); }},
        {"info: option --all of the table is not read",
         [&] {
             CommandParser parser("info");
             parser.Flag("--json", flag);
             std::ostringstream out, err;
             (void)parser.Parse({}, out, err);
         }},
    };
    for (const auto& [message, mistake] : mistakes) {
        SCOPED_TRACE(message);
        try {
            mistake();
            ADD_FAILURE() << "not caught";
        } catch (const std::logic_error& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
    // A flag and the one that negates it are one option: the last one counts.
    for (const auto& [args, expected] :
         std::vector<std::pair<std::vector<std::string>, bool>>{
             {{"--no-backup"}, false}, {{"--no-backup", "--backup"}, true},
             {{"--backup", "--no-backup"}, false}, {{}, true}}) {
        CommandParser parser("copy");
        bool backup = true, other = false;
        std::string a, b, c;
        std::optional<std::string> d;
        parser.Argument("SOURCE", a);
        parser.Argument("TARGET", b);
        parser.Option("--filter", c);
        parser.Option("--backup-dir", d);
        parser.Flag("--subfolders", other);
        parser.Flag("--backup", backup);
        parser.Flag("--dry-run", other);
        parser.Flag("--force", other);
        std::ostringstream out, err;
        EXPECT_EQ(parser.Parse(args, out, err), std::nullopt) << err.str();
        EXPECT_EQ(backup, expected) << testing::PrintToString(args);
    }
    // text, indent, width, the lines
    const std::vector<std::tuple<std::string, std::size_t, std::size_t, std::string>> wraps = {
        {"one two three", 0, 80, "one two three"},
        {"one two three", 2, 9, "one two\n  three"},
        {"one two three", 4, 8, "one\n    two\n    three"},
        {"a-very-long-word b", 2, 6, "a-very-long-word\n  b"},
        {"\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9", 0, 7, "\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9"},
        {"", 2, 10, ""},
    };
    for (const auto& [text, indent, width, lines] : wraps)
        EXPECT_EQ(Wrap(text, indent, width), lines) << text;
    EXPECT_EQ(ShortHelp("output format (default: table); html is"), "output format");
    EXPECT_EQ(ShortHelp("which rows. More"), "which rows");
    EXPECT_EQ(ShortHelp("plain words"), "plain words");
}

} // namespace
} // namespace sorvane::cli
