#include "cli/command_table.h"
#include "cli/completion.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace sorvane::cli {
namespace {

// What `command` prints on standard output, and its exit status.
std::pair<std::string, int> Output(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {"", -1};
    std::array<char, 4096> buffer{};
    while (const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe))
        out.append(buffer.data(), got);
    const int status = ::pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

bool Have(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Completions : public ::testing::Test {
protected:
    std::string Write(Shell shell, const std::string& name) {
        const std::string path = dir.file(name);
        std::ofstream(path) << Completion(shell);
        return path;
    }

    /// The words bash offers for the command line `words`, the last being
    /// the word under the cursor; one a line, sorted.
    std::string Offered(const std::vector<std::string>& words) {
        std::string array;
        for (const auto& word : words)
            array += " " + Quoted(word);
        const std::string script = "source " + Quoted(bash) + "; COMP_WORDS=(" + array +
                                   "); COMP_CWORD=" + std::to_string(words.size() - 1) +
                                   "; _sorvane_cli; printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
        return Output("bash -c " + Quoted(script)).first;
    }

    test::TempDir dir;
    std::string bash = Write(Shell::Bash, "sorvane-cli.bash");
};

TEST_F(Completions, BashRegistersAndOffersCommandsOptionsValuesAndPaths) {
    ASSERT_TRUE(Have("bash"));
    EXPECT_EQ(Output("bash -c " + Quoted("source " + Quoted(bash) + "; complete -p sorvane-cli")),
              std::make_pair(std::string("complete -F _sorvane_cli sorvane-cli\n"), 0));
    dir.write("files/a.map", "");
    dir.write("files/b.dll", "");
    std::filesystem::create_directories(dir.file("files/folder"));
    const std::string files = dir.file("files") + "/";
    const std::string both = files + "a.map\n" + files + "b.dll\n" + files + "folder\n";
    const std::string folders = files + "folder\n";
    struct Case {
        std::vector<std::string> words; ///< after "sorvane-cli"
        std::string offered;
    };
    const std::vector<Case> cases = {
        {{"co"}, "compare\ncopy\n"},
        {{"-"}, "--help\n--version\n-V\n-h\n"},
        {{"s"}, "settings-file\n"},
        {{"help", "la"}, "language\n"},
        {{"compare", "--fo"}, "--format\n"},
        {{"compare", "--format", ""}, "csv\ncsv-raw\ngithub\nhtml\njson\njunit\ntable\n"},
        {{"compare", "--show", "n"}, "newer\n"},
        // "--show=n": bash splits the word at "=".
        {{"compare", "--show", "=", "n"}, "newer\n"},
        {{"compare", "--format", "=", "csv", "src", files}, folders},
        {{"compare", "--list", "newer-"}, "newer-source\nnewer-target\n"},
        {{"compare", "--filter", ""}, "\n"},
        {{"compare", "-r", "--sub"}, "--subfolders\n"},
        {{"copy", "-"}, "--backup\n--backup-dir\n--dry-run\n--filter\n--force\n--help\n"
                        "--no-backup\n--subfolders\n-h\n-n\n-r\n"},
        {{"info", "--"}, "--all\n--filter\n--help\n--json\n--subfolders\n"},
        {{"execute", "Sc"}, "Scan\n"},
        {{"execute", "--timeout", "5", "M"}, "Maximize\nMinimize\n"},
        // SOURCE takes a folder or a map, TARGET a folder; an option's
        // value is not counted as an argument.
        {{"compare", files}, both},
        {{"compare", "--filter", "*.dll", files}, both},
        {{"compare", "src", files}, folders},
        {{"copy", files}, folders},
        {{"copy", "--backup-dir", files}, folders},
        {{"info", "x.dll", "y.dll", files}, both},
        {{"compare", "--save-map", files}, both},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"sorvane-cli"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        SCOPED_TRACE(testing::PrintToString(words));
        EXPECT_EQ(Offered(words), c.offered);
    }
}

TEST_F(Completions, FishOffersCommandsOptionsAndValues) {
    if (!Have("fish"))
        GTEST_SKIP() << "fish is not installed";
    const std::string fish = Write(Shell::Fish, "sorvane-cli.fish");
    // the command line, the words offered (the first column, sorted)
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"sorvane-cli co", "compare\ncopy\n"},
        {"sorvane-cli compare --fo", "--format\n"},
        {"sorvane-cli compare --format ", "csv\ncsv-raw\ngithub\nhtml\njson\njunit\ntable\n"},
        {"sorvane-cli copy --d", "--dry-run\n"},
        {"sorvane-cli copy --no", "--no-backup\n"},
        {"sorvane-cli execute Sc", "Scan\n"},
        {"sorvane-cli help se", "settings-file\n"},
    };
    for (const auto& [line, offered] : cases) {
        SCOPED_TRACE(line);
        const std::string script =
            "source " + Quoted(fish) + "; complete -C " + Quoted(line) + " | cut -f1 | sort";
        EXPECT_EQ(Output("fish -c " + Quoted(script)).first, offered);
    }
}

TEST_F(Completions, EachShellNamesEveryCommandAndOptionOfTheTable) {
    const std::vector<std::pair<Shell, std::string>> shells = {
        {Shell::Bash, "sorvane-cli.bash"}, {Shell::Zsh, "_sorvane-cli"}, {Shell::Fish, "x.fish"}};
    for (const auto& [shell, name] : shells) {
        SCOPED_TRACE(name);
        const std::string script = Completion(shell);
        for (const auto& command : CommandTable()) {
            EXPECT_NE(script.find(command.name), std::string::npos) << command.name;
            for (const auto& option : command.options)
                for (const auto option_name : OptionNames(option)) {
                    // fish names options without their dashes: "-l dry-run", "-s n".
                    const std::string shown =
                        shell != Shell::Fish ? std::string(option_name)
                        : option_name.starts_with("--")
                            ? "-l " + std::string(option_name.substr(2))
                            : "-s " + std::string(option_name.substr(1));
                    EXPECT_NE(script.find(shown), std::string::npos) << shown;
                }
        }
    }
    EXPECT_EQ(ShellNamed("bash"), Shell::Bash);
    EXPECT_EQ(ShellNamed("zsh"), Shell::Zsh);
    EXPECT_EQ(ShellNamed("fish"), Shell::Fish);
    EXPECT_EQ(ShellNamed("csh"), std::nullopt);
}

TEST_F(Completions, EachScriptIsValidForItsShell) {
    const std::vector<std::tuple<Shell, std::string, std::string>> shells = {
        {Shell::Bash, "bash", "sorvane-cli.bash"},
        {Shell::Zsh, "zsh", "_sorvane-cli"},
        {Shell::Fish, "fish", "sorvane-cli.fish"}};
    int checked = 0;
    for (const auto& [shell, program, name] : shells) {
        if (!Have(program)) {
            std::cout << "not checked: " << program << " is not installed\n";
            continue;
        }
        const std::string path = Write(shell, name);
        const auto [said, status] = Output(program + " -n " + Quoted(path) + " 2>&1");
        EXPECT_EQ(status, 0) << program << ": " << said;
        EXPECT_EQ(said, "") << program;
        ++checked;
    }
    EXPECT_GE(checked, 1); // bash at least
}

} // namespace
} // namespace sorvane::cli
