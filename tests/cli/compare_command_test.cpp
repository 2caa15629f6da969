#include "cli/commands.h"

#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace sorvane::cli {
namespace {

using test::VersionedPe;

class CompareCommand : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write("src/new.dll", VersionedPe({{2, 0, 0, 0}, 0x0409, "Source"}));
        dir.write("dst/new.dll", VersionedPe({{1, 0, 0, 0}, 0x0409, "Old, \"quoted\""}));
        dir.write("src/same.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("dst/same.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("src/sub/deep.dll", VersionedPe({{3, 0, 0, 0}}));
    }

    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.insert(args.begin(), {dir.file("src"), dir.file("dst")});
        return RunCompare(args, out, err);
    }

    test::TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
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

TEST_F(CompareCommand, BadPathsAndUsageExitWith2) {
    std::ostringstream o, e;
    EXPECT_EQ(RunCompare({dir.file("nope"), dir.file("dst")}, o, e), 2);
    EXPECT_EQ(e.str(), "sorvane-cli: Source path not exists.\n");
    e.str("");
    EXPECT_EQ(RunCompare({dir.file("src"), dir.file("nope")}, o, e), 2);
    EXPECT_EQ(e.str(), "sorvane-cli: Target path not exists.\n");
    EXPECT_EQ(RunCompare({dir.file("src"), dir.file("SRC")}, o, e), 2);
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

} // namespace
} // namespace sorvane::cli
