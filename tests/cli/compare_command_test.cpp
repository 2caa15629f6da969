#include "cli/commands.h"
#include "compare_runner.h"

#include "support/csv_records.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace sorvane::cli {
namespace {

using test::VersionedPe;

using test::ReadCsv;

class CompareCommand : public test_compare::CompareRunner {
protected:
    void SetUp() override {
        dir.write("src/new.dll", VersionedPe({{2, 0, 0, 0}, 0x0409, "Source"}));
        dir.write("dst/new.dll", VersionedPe({{1, 0, 0, 0}, 0x0409, "Old, \"quoted\""}));
        dir.write("src/same.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("dst/same.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("src/sub/deep.dll", VersionedPe({{3, 0, 0, 0}}));
    }

};

TEST_F(CompareCommand, JsonHoldsRowsCountersAndMessage) {
    EXPECT_EQ(Run({"--format", "json", "--show", "all", "--sort", "name", "-r"}), 1);
    const std::string json = out.str();
    EXPECT_NE(json.find("\"mode\": \"compare\""), std::string::npos);
    // Name sort: the sub-folder file first, then the root files.
    const auto deep = json.find("\"name\": \"sub/deep.dll\"");
    const auto newer = json.find("\"name\": \"new.dll\"");
    const auto same = json.find("\"name\": \"same.dll\"");
    ASSERT_NE(deep, std::string::npos);
    EXPECT_LT(deep, newer);
    EXPECT_LT(newer, same);
    EXPECT_NE(json.find("\"mark\": \">\""), std::string::npos);
    EXPECT_NE(json.find("\"description\": \"Old, \\\"quoted\\\"\""), std::string::npos);
    EXPECT_NE(json.find("\"newerSource\": 1"), std::string::npos);
    EXPECT_NE(json.find("\"orphans\": 1"), std::string::npos);
    EXPECT_NE(json.find("\"filesProcessed\": 3"), std::string::npos);
    EXPECT_NE(json.find("\"message\": \"\""), std::string::npos);
}

TEST_F(CompareCommand, CsvQuotesFieldsAndExitStatusFollowsTheRows) {
    EXPECT_EQ(Run({"--format", "csv"}), 1);
    EXPECT_EQ(out.str(),
              "name,ext,sourceLanguage,sourceVersion,mark,targetVersion,targetLanguage,busy,"
              "description,copyright,sourceSize\r\n"
              "new.dll,.dll,English (United States),2.00.0000,>,1.00.0000,"
              "English (United States),,\"Old, \"\"quoted\"\"\",," +
                  std::to_string(std::filesystem::file_size(dir.file("src/new.dll"))) + "\r\n");
    // Nothing different among the .dll files below "same*": exit 0 and the message.
    EXPECT_EQ(Run({"--filter", "same*"}), 0);
    EXPECT_EQ(err.str(), "No differences found.\n");
}

TEST_F(CompareCommand, SavesTheListedRowsAsAMapAndComparesAgainstIt) {
    const std::string map = dir.file("release.map");
    out.str("");
    EXPECT_EQ(RunCompare({dir.file("src"), "-r", "--save-map", map, "--format", "csv"}, out, err),
              0); // a plain listing exits 0
    const std::string listing = out.str();
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 4); // header and three rows
    const std::string text = dir.read("release.map");
    EXPECT_EQ(text.substr(0, text.find("\r\n")), dir.file("src"));
    EXPECT_NE(text.find("sub\\deep.dll|.dll|3.00.0000|English (United States)|"),
              std::string::npos);

    std::ostringstream json;
    EXPECT_EQ(RunCompare({map, dir.file("dst"), "--format", "json", "--show", "all"}, json, err),
              1);
    EXPECT_NE(json.str().find("\"name\": \"sub/deep.dll\""), std::string::npos);
    EXPECT_NE(json.str().find("\"orphans\": 1"), std::string::npos);
}

TEST_F(CompareCommand, AMapSavedFromARelativePathNamesItsFolderAndLeavesOutWhatItCannotHold) {
    dir.write("src/pipe|name.dll", VersionedPe({{1, 0, 0, 0}}));
    dir.write("src/back\\slash.dll", VersionedPe({{1, 0, 0, 0}}));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const int status = RunCompare({"./src/", "--save-map", "rel.map", "--sort", "name"}, out, err);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(status, 0);
    const std::string text = dir.read("rel.map");
    EXPECT_EQ(text.substr(0, text.find("\r\n")), dir.file("src"));
    EXPECT_EQ(text.find("name.dll"), std::string::npos);
    EXPECT_EQ(text.find("slash.dll"), std::string::npos);
    EXPECT_NE(text.find("\r\nnew.dll|"), std::string::npos);
    EXPECT_NE(err.str().find("2 file(s) left out of the Source Map"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("\nback\\slash.dll\npipe|name.dll\n"), std::string::npos) << err.str();
    // Every listed row is still printed.
    EXPECT_NE(out.str().find("pipe|name.dll"), std::string::npos);
}

TEST_F(CompareCommand, BadPathsAndUsageExitWith2) {
    std::ostringstream o, e;
    EXPECT_EQ(RunCompare({dir.file("nope"), dir.file("dst")}, o, e), 2);
    EXPECT_EQ(e.str(), "sorvane-cli: Source path not exists.\n");
    e.str("");
    EXPECT_EQ(RunCompare({dir.file("src"), dir.file("nope")}, o, e), 2);
    EXPECT_EQ(e.str(), "sorvane-cli: Target path not exists.\n");
    EXPECT_EQ(RunCompare({dir.file("src"), dir.file("SRC")}, o, e), 2);
    // One folder under two names is refused; another letter case is another folder.
    std::filesystem::create_directory_symlink(dir.file("src"), dir.file("link"));
    e.str("");
    EXPECT_EQ(RunCompare({dir.file("src"), dir.file("link/")}, o, e), 2);
    EXPECT_EQ(e.str(), "sorvane-cli: Source and Target are the same folder.\n");
    dir.write("SRC/new.dll", VersionedPe({{1, 0, 0, 0}}));
    EXPECT_EQ(RunCompare({dir.file("src"), dir.file("SRC")}, o, e), 1);
    EXPECT_EQ(RunCompare({dir.file("missing.map"), dir.file("dst")}, o, e), 2);
    EXPECT_EQ(RunCompare({}, o, e), 2);
    EXPECT_EQ(RunCompare({"a", "b", "c"}, o, e), 2);
    EXPECT_EQ(RunCompare({"a", "--show", "odd"}, o, e), 2);
    EXPECT_EQ(RunCompare({"a", "--sort", "size"}, o, e), 2);
    EXPECT_EQ(RunCompare({"a", "--format"}, o, e), 2);
    EXPECT_EQ(RunCompare({"a", "--bogus"}, o, e), 2);
    EXPECT_EQ(Run({"--save-map", dir.file("no/such/dir/x.map")}), 2);
    EXPECT_NE(err.str().find("cannot save the Source Map"), std::string::npos);
}

TEST_F(CompareCommand, TableAlignsColumns) {
    EXPECT_EQ(Run({"--show", "all"}), 1);
    std::istringstream lines(out.str());
    std::string header, first;
    std::getline(lines, header);
    std::getline(lines, first);
    EXPECT_EQ(header.find("Ext"), first.find("  .dll") + 2);
    EXPECT_EQ(header.find("Source Version"), first.find("2.00.0000"));
    EXPECT_EQ(first.substr(0, 7), "new.dll");
}

TEST(CompareCommandNames, JsonAndCsvStayValidWhateverTheFileNamesHold) {
    // Name bytes on disk, and the name the listing shows.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"plain.dll", "plain.dll"},
        {"caf\xC3\xA9.dll", "caf\u00E9.dll"},
        // Bytes that are not UTF-8 are read as Windows-1252.
        {"bad\xFF\xFE.dll", "bad\u00FF\u00FE.dll"},
        {"surrogate\xED\xA0\x80.dll", "surrogate\u00ED\u00A0\u20AC.dll"},
        {"overlong\xC0\x80.dll", "overlong\u00C0\u20AC.dll"},
        {"cut\xE2\x82.dll", "cut\u00E2\u201A.dll"},
        {"unassigned\x81\x9D.dll", "unassigned\u0081\u009D.dll"},
        {"control\x01\x1B\x1F\x7F\t.dll", "control\x01\x1B\x1F\x7F\t.dll"},
        {"line\nbreak.dll", "line\nbreak.dll"},
        {"return\r.dll", "return\r.dll"},
        {"comma,.dll", "comma,.dll"},
        {"quote\".dll", "quote\".dll"},
        {"\"\".dll", "\"\".dll"},
        {"back\\slash.dll", "back\\slash.dll"},
    };
    test::TempDir dir;
    std::vector<std::string> shown;
    for (const auto& [bytes, name] : names) {
        dir.write("src/" + bytes, VersionedPe({{1, 0, 0, 0}}));
        shown.push_back(name);
    }
    std::ranges::sort(shown);

    std::ostringstream json, csv, err;
    ASSERT_EQ(RunCompare({dir.file("src"), "--format=json"}, json, err), 0);
    nlohmann::json document;
    ASSERT_NO_THROW(document = nlohmann::json::parse(json.str())) << json.str();
    std::vector<std::string> jsonNames;
    for (const auto& row : document.at("rows"))
        jsonNames.push_back(row.at("name").get<std::string>());
    std::ranges::sort(jsonNames);
    EXPECT_EQ(jsonNames, shown);

    ASSERT_EQ(RunCompare({dir.file("src"), "--format=csv"}, csv, err), 0);
    const auto records = ReadCsv(csv.str());
    ASSERT_EQ(records.size(), names.size() + 1) << csv.str();
    std::vector<std::string> csvNames;
    for (const auto& record : records) {
        EXPECT_EQ(record.size(), 11u) << record.front();
        csvNames.push_back(record.front());
    }
    EXPECT_EQ(csvNames.front(), "name");
    csvNames.erase(csvNames.begin());
    std::ranges::sort(csvNames);
    EXPECT_EQ(csvNames, shown);
}

// A spreadsheet would run a cell starting with "=", "+", "-", "@", tab or CR
// as a formula: csv makes it text with a leading "'", csv-raw keeps it.
TEST(CompareCommandNames, CsvMakesFormulasTextAndCsvRawKeepsThem) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"=HYPERLINK(\"x\",\"y\").dll", "'=HYPERLINK(\"x\",\"y\").dll"},
        {"+1.dll", "'+1.dll"}, {"-1.dll", "'-1.dll"}, {"@SUM(1).dll", "'@SUM(1).dll"},
        {"\tx.dll", "'\tx.dll"}, {"\rx.dll", "'\rx.dll"}, {"plain=.dll", "plain=.dll"},
    };
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("dst"));
    for (const auto& [name, shown] : names)
        dir.write("src/" + name, VersionedPe({{1, 0, 0, 0}}));
    for (const bool raw : {false, true}) {
        std::ostringstream csv, err;
        ASSERT_EQ(RunCompare({dir.file("src"), dir.file("dst"), "--show", "all", "--format",
                              raw ? "csv-raw" : "csv"},
                             csv, err),
                  1)
            << err.str();
        std::multiset<std::string> got, expected{"name|mark"};
        for (const auto& record : ReadCsv(csv.str()))
            got.insert(record[0] + "|" + record[4]);
        for (const auto& [name, shown] : names)
            expected.insert((raw ? name : shown) + "|-"); // the orphan mark is no formula
        EXPECT_EQ(got, expected) << raw;
    }
    // The help says how a pipeline gets the texts as they are.
    std::ostringstream help, err;
    RunCompare({"--help"}, help, err);
    EXPECT_NE(help.str().find("--format table|csv|csv-raw|json|html"), std::string::npos);
    EXPECT_NE(help.str().find("takes json or csv-raw"), std::string::npos);
}

TEST_F(CompareCommand, SaveMapNeverReplacesWhatIsNotARegularFile) {
    // node under the map's name (or under "node", linked from it), what the error calls it
    const std::vector<std::tuple<mode_t, bool, std::string>> cases = {
        {S_IFIFO, false, "a FIFO"},
        {S_IFCHR, false, "a character device"},
        {S_IFCHR, true, "a link to a character device"},
    };
    for (const auto& [type, linked, kind] : cases) {
        SCOPED_TRACE(kind);
        const std::string map = dir.file("x.map");
        const std::string node = linked ? dir.file("node") : map;
        std::filesystem::remove(map);
        std::filesystem::remove(node);
        if (::mknod(node.c_str(), type | 0644, 0) != 0)
            continue; // device nodes need CAP_MKNOD
        if (linked)
            std::filesystem::create_symlink(node, map);
        EXPECT_EQ(Run({"--save-map", map}), 2);
        EXPECT_NE(err.str().find("cannot save the Source Map " + map + ": " + kind +
                                 " has that name; only regular files are replaced"),
                  std::string::npos)
            << err.str();
        EXPECT_EQ(std::filesystem::status(map).type(), type == S_IFIFO
                                                           ? std::filesystem::file_type::fifo
                                                           : std::filesystem::file_type::character);
    }
}

// ------------------------------------------ what cannot be read, and limits

struct ChildCompare {
    bool ran = false;
    int status = -1;
    std::string out;
    std::string err;
};

// RunCompare in a forked child under `limits`.
ChildCompare CompareInChild(const test::ChildLimits& limits, const std::vector<std::string>& args) {
    const auto result = test::RunInChild(limits, [&](std::string& output) {
        std::ostringstream out, err;
        const int status = RunCompare(args, out, err);
        output = out.str() + '\0' + err.str();
        return status;
    });
    ChildCompare child;
    child.ran = result.ran;
    child.status = result.status;
    const auto split = result.output.find('\0');
    child.out = result.output.substr(0, split);
    child.err = split == std::string::npos ? "" : result.output.substr(split + 1);
    return child;
}

constexpr const char* kCsvHeader =
    "name,ext,sourceLanguage,sourceVersion,mark,targetVersion,targetLanguage,busy,description,"
    "copyright,sourceSize\r\n";

TEST_F(CompareCommand, NamesWhatItCannotReadPrintsTheRestAndExitsWith2) {
    namespace fs = std::filesystem;
    dir.write("dst/sub/deep.dll", VersionedPe({{3, 0, 0, 0}}));
    fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    const std::string src = dir.file("src");
    const std::string dst = dir.file("dst");
    const std::string sizeOfNew = std::to_string(fs::file_size(dir.file("src/new.dll")));
    // Busy: nobody may not write the target.
    const std::string newRow = "new.dll,.dll,English (United States),2.00.0000,>,1.00.0000,"
                               "English (United States),*,\"Old, \"\"quoted\"\"\",," +
                               sizeOfNew + "\r\n";
    struct Case {
        const char* what;
        std::vector<std::string> locked;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases{
        // Nothing else differs: this once said "No differences found." and exited 0.
        {"a target file and a target folder",
         {"dst/new.dll", "dst/sub"},
         kCsvHeader,
         "sorvane-cli: " + dst + "/new.dll: Permission denied\n" + "sorvane-cli: " + dst +
             "/sub/deep.dll: Permission denied\n2 entries could not be read.\n"},
        {"a source folder",
         {"src/sub"},
         kCsvHeader + newRow,
         "sorvane-cli: " + src + "/sub: Permission denied\n1 entry could not be read.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& path : c.locked)
            fs::permissions(dir.file(path), fs::perms::none);
        const auto child =
            CompareInChild(test::ChildLimits().Unprivileged(), {src, dst, "-r", "--format", "csv"});
        const auto json =
            CompareInChild(test::ChildLimits().Unprivileged(), {src, dst, "-r", "--format=json"});
        for (const auto& path : c.locked)
            fs::permissions(dir.file(path), fs::perms::owner_all | fs::perms::others_read |
                                                fs::perms::others_exec);
        if (!child.ran)
            GTEST_SKIP() << "cannot run as an unprivileged user here";
        EXPECT_EQ(child.status, 2);
        EXPECT_EQ(child.out, c.out);
        EXPECT_EQ(child.err, c.err);
        // JSON holds the same list; standard error names them all the same.
        EXPECT_EQ(json.status, 2);
        EXPECT_EQ(json.err, c.err);
        nlohmann::json document;
        ASSERT_NO_THROW(document = nlohmann::json::parse(json.out)) << json.out;
        std::string listed;
        for (const auto& entry : document.at("unreadable"))
            listed += "sorvane-cli: " + entry.at("path").get<std::string>() + ": " +
                      entry.at("reason").get<std::string>() + "\n";
        EXPECT_EQ(listed + document.at("message").get<std::string>() + "\n", c.err);
    }
}

TEST_F(CompareCommand, FewOpenFilesNoThreadsOrLittleMemoryChangeNothingItPrints) {
    // Enough pairs for parallel readers to compete for descriptors.
    for (int i = 0; i < 150; ++i) {
        const std::string name = "many/f" + std::to_string(100 + i) + ".dll";
        dir.write("src/" + name, VersionedPe({{1, static_cast<std::uint16_t>(i % 3), 0, 0}}));
        dir.write("dst/" + name, VersionedPe({{1, static_cast<std::uint16_t>(i % 2), 0, 0}}));
    }
    std::filesystem::permissions(dir.path(),
                                 std::filesystem::perms::others_read |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    // CSV: the rows of a scan that ends early are the first rows of a whole one.
    const std::vector<std::string> args{dir.file("src"), dir.file("dst"), "-r", "--show", "all",
                                        "--format", "csv"};
    // Every child runs as nobody (a process limit binds no one else), so
    // every target is busy for each of them alike.
    const auto unlimited = CompareInChild(test::ChildLimits().Unprivileged(), args);
    if (!unlimited.ran)
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    ASSERT_EQ(unlimited.status, 1);
    ASSERT_EQ(std::count(unlimited.out.begin(), unlimited.out.end(), '\n'), 154); // header, 153 rows
    ASSERT_EQ(unlimited.err, "");
    struct Case {
        const char* what;
        test::ChildLimits limits;
    };
    const std::vector<Case> cases{
        {"one free descriptor", test::ChildLimits().FreeDescriptors(1).Unprivileged()},
        {"one process", test::ChildLimits().Processes(1).Unprivileged()},
        {"three processes", test::ChildLimits().Processes(3).Unprivileged()},
        {"2 MiB of address space to spare",
         test::ChildLimits().SpareAddressSpace(std::size_t{2} << 20).Unprivileged()},
        {"30 MiB of address space to spare",
         test::ChildLimits().SpareAddressSpace(std::size_t{30} << 20).Unprivileged()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto child = CompareInChild(c.limits, args);
        ASSERT_TRUE(child.ran);
        EXPECT_EQ(child.status, 1);
        EXPECT_EQ(child.out, unlimited.out);
        EXPECT_EQ(child.err, "");
    }
    // With next to no memory left, what happens depends on what the heap
    // still holds from before: the whole listing, or a message, exit 2, and
    // the rows a whole scan prints first. Never an abort.
    for (const std::size_t spare : {std::size_t{0}, std::size_t{64} << 10}) {
        SCOPED_TRACE(spare);
        const auto child =
            CompareInChild(test::ChildLimits().SpareAddressSpace(spare).Unprivileged(), args);
        if (child.status == 1) {
            EXPECT_EQ(child.out, unlimited.out);
            EXPECT_EQ(child.err, "");
            continue;
        }
        EXPECT_EQ(child.status, 2);
        EXPECT_TRUE(unlimited.out.starts_with(child.out)) << child.out;
        std::istringstream lines(child.err);
        std::string line;
        int messages = 0;
        while (std::getline(lines, line)) {
            EXPECT_TRUE(line == kOutOfMemoryMessage ||
                        line == "sorvane-cli: not enough memory to go on")
                << line;
            ++messages;
        }
        EXPECT_GE(messages, 1);
    }
    // Without a single descriptor not even the source folder can be listed.
    const auto none = CompareInChild(test::ChildLimits().FreeDescriptors(0).Unprivileged(), args);
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "sorvane-cli: " + dir.file("src") +
                            ": Too many open files\n1 entry could not be read.\n");
}

TEST(CompareCommandTerminal, TableAndMessagesShowControlsAsEscapesJsonKeepsThem) {
    test::TempDir dir;
    const std::string name = "\x1b[31mred\x07.dll";
    dir.write("src/" + name, VersionedPe({{2, 0, 0, 0}, 0x0409, "\x1b]52;c;cm0gLXJm\x07" "clip"}));
    dir.write("dst/" + name, VersionedPe({{1, 0, 0, 0}, 0x0409, "\x1b]52;c;cm0gLXJm\x07" "clip"}));
    dir.write("src/cut|\x1b[2J.dll", VersionedPe({{1, 0, 0, 0}}));
    std::ostringstream out, err;
    EXPECT_EQ(RunCompare({dir.file("src"), dir.file("dst"), "--show", "all", "--save-map",
                          dir.file("x.map")},
                         out, err),
              1);
    for (const std::string& text : {out.str(), err.str()}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(text.find('\x1b'), std::string::npos);
        EXPECT_EQ(text.find('\x07'), std::string::npos);
    }
    EXPECT_NE(out.str().find("\\x1b[31mred\\x07.dll"), std::string::npos);
    EXPECT_NE(out.str().find("\\x1b]52;c;cm0gLXJm\\x07clip"), std::string::npos);
    EXPECT_NE(err.str().find("\ncut|\\x1b[2J.dll\n"), std::string::npos);

    std::ostringstream json;
    RunCompare({dir.file("src"), dir.file("dst"), "--show", "all", "--format", "json"}, json, err);
    const auto parsed = nlohmann::json::parse(json.str());
    std::vector<std::string> names;
    for (const auto& row : parsed.at("rows"))
        names.push_back(row.at("name").get<std::string>());
    std::ranges::sort(names);
    EXPECT_EQ(names, (std::vector<std::string>{name, "cut|\x1b[2J.dll"}));
}

} // namespace
} // namespace sorvane::cli
