#include "cli/commands.h"

#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <tuple>
#include <vector>

namespace sorvane::cli {
namespace {

using test::VersionedPe;

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

TEST(CompareList, PrintsThePathsOfOneCategoryRawUnderTheRightFolder) {
    test::TempDir dir;
    const auto pair = [&](const std::string& name, test::VersionedFile source,
                          std::optional<test::VersionedFile> target) {
        dir.write("src/" + name, VersionedPe(source));
        if (target)
            dir.write("dst/" + name, VersionedPe(*target));
    };
    pair("new.dll", {{2, 0, 0, 0}}, test::VersionedFile{{1, 0, 0, 0}});
    pair("line\nbreak\x1b.dll", {{2, 0, 0, 0}}, test::VersionedFile{{1, 0, 0, 0}});
    pair("sub/deep.dll", {{2, 0, 0, 0}}, test::VersionedFile{{1, 0, 0, 0}});
    pair("older.dll", {{1, 0, 0, 0}}, test::VersionedFile{{3, 0, 0, 0}});
    pair("lang.dll", {{1, 0, 0, 0}, 0x0409}, test::VersionedFile{{1, 0, 0, 0}, 0x0407});
    pair("size.dll", {{1, 0, 0, 0}, 0x0409, "", "", 16}, test::VersionedFile{{1, 0, 0, 0}});
    // "1.100.0000" and "1.99.0000": newer, or incomparable with --strict.
    pair("strict.dll", {{1, 100, 0, 0}}, test::VersionedFile{{1, 99, 0, 0}});
    pair("orphan.dll", {{1, 0, 0, 0}}, std::nullopt);
    pair("same.dll", {{1, 0, 0, 0}}, test::VersionedFile{{1, 0, 0, 0}});
    const auto ended = [](std::vector<std::string> paths, char end) {
        std::string text;
        for (const auto& path : paths)
            text += path + end;
        return text;
    };
    const std::vector<std::string> newer = {"<src>/line\nbreak\x1b.dll", "<src>/new.dll",
                                            "<src>/strict.dll"};
    // options after SOURCE TARGET, status, what it prints
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{"--list", "newer-source"}, 1, ended(newer, '\n')},
        {{"--list", "newer-source", "-r", "--null"},
         1,
         ended({newer[0], newer[1], newer[2], "<src>/sub/deep.dll"}, '\0')},
        {{"--list=newer-source", "-r", "--sort", "name", "--descending"},
         1,
         ended({newer[2], newer[1], newer[0], "<src>/sub/deep.dll"}, '\n')},
        {{"--list", "newer-target"}, 1, "<dst>/older.dll\n"},
        {{"--list", "unequal-language"}, 1, "<src>/lang.dll\n"},
        {{"--list", "different-size"}, 1, "<src>/size.dll\n"},
        {{"--list", "incomparable"}, 0, ""},
        {{"--list", "incomparable", "--strict"}, 1, "<src>/strict.dll\n"},
        {{"--list", "newer-source", "--strict"}, 1, ended({newer[0], newer[1]}, '\n')},
        {{"--list", "orphans"}, 1, "<src>/orphan.dll\n"},
    };
    for (const auto& [options, status, printed] : cases) {
        std::vector<std::string> args{dir.file("src"), dir.file("dst")};
        args.insert(args.end(), options.begin(), options.end());
        SCOPED_TRACE(testing::PrintToString(options));
        std::ostringstream out, err;
        EXPECT_EQ(RunCompare(args, out, err), status);
        EXPECT_EQ(out.str(), Replaced(Replaced(printed, "<src>", dir.file("src")), "<dst>",
                                      dir.file("dst")));
        EXPECT_EQ(err.str(), "");
    }

    // options, the usage error
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--null"}, "--null goes with --list"},
        {{"--list", "orphans", "--format", "csv"}, "--list does not go with --format"},
        {{"--list", "orphans", "--show", "all"}, "--list does not go with --show"},
        {{"--list", "equal"}, "--list: takes newer-source, newer-target, unequal-language,"},
    };
    for (const auto& [options, said] : refused) {
        std::vector<std::string> args{dir.file("src"), dir.file("dst")};
        args.insert(args.end(), options.begin(), options.end());
        std::ostringstream out, err;
        EXPECT_EQ(RunCompare(args, out, err), 2) << said;
        EXPECT_NE(err.str().find(said), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
    std::ostringstream out, err;
    dir.write("m.map", "");
    EXPECT_EQ(RunCompare({dir.file("m.map"), dir.file("dst"), "--list", "orphans"}, out, err), 2);
    EXPECT_NE(err.str().find("--list needs a source folder, not a Source Map"), std::string::npos);
}

TEST(CompareList, RelativeFoldersArePrintedFromTheRoot) {
    test::TempDir dir;
    dir.write("src/new.dll", VersionedPe({{2, 0, 0, 0}}));
    dir.write("dst/new.dll", VersionedPe({{1, 0, 0, 0}}));
    dir.write("dst/old.dll", VersionedPe({{2, 0, 0, 0}}));
    dir.write("src/old.dll", VersionedPe({{1, 0, 0, 0}}));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string here = std::filesystem::current_path().string();
    // source, target, category, what it prints
    const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
        {"src", "dst", "newer-source", here + "/src/new.dll\n"},
        {"./src/", "./dst", "newer-source", here + "/src/new.dll\n"},
        {"src/.", "dst", "newer-source", here + "/src/new.dll\n"},
        {"src", "./dst/", "newer-target", here + "/dst/old.dll\n"},
        {here + "/src", "dst", "newer-target", here + "/dst/old.dll\n"},
        {"src", here + "/dst", "newer-source", here + "/src/new.dll\n"},
    };
    for (const auto& [source, target, category, printed] : cases) {
        SCOPED_TRACE(source + " " + target + " " + category);
        std::ostringstream out, err;
        EXPECT_EQ(RunCompare({source, target, "--list", category}, out, err), 1);
        EXPECT_EQ(out.str(), printed);
        EXPECT_EQ(err.str(), "");
    }
    std::filesystem::current_path(previous);
}

} // namespace
} // namespace sorvane::cli
