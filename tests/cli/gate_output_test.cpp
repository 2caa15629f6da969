// compare as a release gate: --fail-on, and the JUnit and GitHub reports.

#include "cli/commands.h"
#include "compare_runner.h"
#include "cli/gate_output.h"

#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace sorvane::cli {
namespace {

using test::VersionedPe;

// One file of each category, named after it, and an equal one.
class ReleaseGate : public test_compare::CompareRunner {
protected:
    void SetUp() override {
        const auto pair = [this](const std::string& name, test::VersionedFile source,
                                 std::optional<test::VersionedFile> target) {
            dir.write("src/" + name, VersionedPe(source));
            if (target)
                dir.write("dst/" + name, VersionedPe(*target));
        };
        pair("newer-source.dll", {{2, 0, 0, 0}}, test::VersionedFile{{1, 0, 0, 0}});
        pair("newer-target.dll", {{1, 0, 0, 0}}, test::VersionedFile{{1, 5, 0, 0}});
        pair("unequal-language.dll", {{1, 0, 0, 0}, 0x0407}, test::VersionedFile{{1, 0, 0, 0}});
        pair("different-size.dll", {{1, 0, 0, 0}, 0x0409, {}, {}, 64},
             test::VersionedFile{{1, 0, 0, 0}});
        pair("orphans.dll", {{1, 0, 0, 0}}, std::nullopt);
        pair("equal.dll", {{3, 0, 0, 0}}, test::VersionedFile{{3, 0, 0, 0}});
    }

};

TEST_F(ReleaseGate, FailsOnlyWhenARowOfAListedCategoryIsFound) {
    const std::vector<std::string> all = {"newer-source",   "newer-target", "unequal-language",
                                          "different-size", "orphans"};
    for (const std::string& category : all) {
        SCOPED_TRACE(category);
        // Every row there: 1. The category's own file filtered out: 0, even
        // though other differences are still listed.
        EXPECT_EQ(Run({"--fail-on", category}), 1) << err.str();
        std::string others;
        for (const std::string& other : all)
            if (other != category)
                others += other + ".dll;";
        EXPECT_EQ(Run({"--fail-on", category, "--filter", others + "equal.dll"}), 0) << err.str();
        EXPECT_FALSE(out.str().empty()); // the rows are listed all the same
    }
    // A list fails when any of its categories is found; incomparable rows
    // need --strict, and there are none.
    EXPECT_EQ(Run({"--fail-on", "incomparable"}), 0);
    EXPECT_EQ(Run({"--fail-on", "incomparable, orphans"}), 1);
    EXPECT_EQ(Run({"--fail-on", "newer-target", "--filter", "newer-source.dll;equal.dll"}), 0);
    // Without --fail-on the diff-like rule stays: rows listed, 1.
    EXPECT_EQ(Run({"--filter", "newer-source.dll"}), 1);
}

TEST_F(ReleaseGate, ContentMarksEqualVersionsWithDifferentBytes) {
    test::TempDir pairs;
    const std::string base = VersionedPe({{1, 0, 0, 0}});
    std::string changed = base;
    changed.back() = static_cast<char>(changed.back() ^ 0x5A); // same size, one byte
    struct Row {
        const char* name;
        std::string source, target;
        const char* plain; ///< the mark without --content
        const char* content;
    };
    const Row rows[] = {
        {"same.dll", base, base, "=", "="},
        {"one-byte.dll", base, changed, "=", "~"},
        {"longer.dll", base, base + "tail", "~", "~"},
        {"newer.dll", VersionedPe({{2, 0, 0, 0}}), base, ">", ">"},
    };
    for (const Row& row : rows) {
        pairs.write(std::string("s/") + row.name, row.source);
        pairs.write(std::string("t/") + row.name, row.target);
    }
    for (const bool content : {false, true}) {
        std::vector<std::string> args = {pairs.file("s"), pairs.file("t"), "--show", "all",
                                         "--format", "csv-raw"};
        if (content)
            args.push_back("--content");
        out.str("");
        err.str("");
        RunCompare(args, out, err);
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (content ? " --content" : ""));
            const std::string line = std::string(row.name) + ",.dll,";
            const auto at = out.str().find(line);
            ASSERT_NE(at, std::string::npos) << out.str();
            const std::string rest = out.str().substr(at, out.str().find('\n', at) - at);
            EXPECT_NE(rest.find(std::string(",") + (content ? row.content : row.plain) + ","),
                      std::string::npos)
                << rest;
        }
    }
}

TEST_F(ReleaseGate, CategoryListsAreCheckedAndAShowThatHidesThemIsRefused) {
    struct Row {
        std::string text;
        std::vector<ComparisonMark> marks; ///< empty: refused
    };
    for (const Row& row : std::vector<Row>{
             {"orphans", {ComparisonMark::Orphan}},
             {"newer-target,newer-source", {ComparisonMark::NewerTarget, ComparisonMark::NewerSource}},
             {" orphans , orphans ", {ComparisonMark::Orphan}},
             {"incomparable,different-size",
              {ComparisonMark::Incomparable, ComparisonMark::DifferentSize}},
             {"", {}},
             {"orphan", {}},
             {"Orphans", {}},
             {"orphans,", {}},
             {"equal", {}},
         }) {
        SCOPED_TRACE(row.text);
        const auto marks = ParseFailOn(row.text);
        EXPECT_EQ(marks.has_value(), !row.marks.empty());
        if (marks)
            EXPECT_EQ(*marks, row.marks);
        else
            EXPECT_NE(marks.error().find("the categories: newer-source, newer-target"),
                      std::string::npos);
    }
    // Usage errors exit 2 and say why; a gate never passes unseen rows.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--fail-on", "bogus"},
             {"--fail-on", "orphans", "--show", "different"},
             {"--fail-on", "newer-target", "--show", "newer"},
             {"--fail-on", "orphans", "--list", "orphans"}}) {
        SCOPED_TRACE(args[1] + " " + args.back());
        EXPECT_EQ(Run(args), 2);
        EXPECT_NE(err.str().find("--fail-on"), std::string::npos) << err.str();
    }
}

TEST_F(ReleaseGate, TheJUnitReportIsValidAndCountsItsFailures) {
    // A name holding what XML must escape or cannot hold at all.
    dir.write(std::string("src/a&b<\"c'\x01>.dll"), VersionedPe({{1, 0, 0, 0}}));
    EXPECT_EQ(Run({"--format", "junit", "--fail-on", "newer-target,orphans"}), 1);
    const std::string report = dir.file("report.xml");
    std::ofstream(report) << out.str();
    const std::string check = "xmllint --noout --schema " SORVANE_JUNIT_XSD " '" + report + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << out.str();
    const std::string xml = out.str();
    // Every compared file is a test case; the equal one too.
    EXPECT_NE(xml.find("tests=\"7\" failures=\"3\" errors=\"0\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("name=\"equal.dll\""), std::string::npos);
    EXPECT_NE(xml.find("name=\"a&amp;b&lt;&quot;c&apos;\\x01&gt;.dll\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<failure type=\"newer-target\" message=\"newer target: source 1.00.0000 "
                       "(English (United States)), target 1.05.0000 (English (United States)), "
                       "mark &lt;\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<failure type=\"orphans\""), std::string::npos);
    EXPECT_EQ(xml.find("<failure type=\"newer-source\""), std::string::npos);
}

TEST_F(ReleaseGate, GithubCommandsPickTheirLevelAndEscapeTheirTexts) {
    struct Escape {
        std::string text, data, property;
    };
    for (const Escape& row : std::vector<Escape>{
             {"plain.dll", "plain.dll", "plain.dll"},
             {"50%", "50%25", "50%25"},
             {"a\r\nb", "a%0D%0Ab", "a%0D%0Ab"},
             {"C:/x,y", "C:/x,y", "C%3A/x%2Cy"},
             {"%0A", "%250A", "%250A"},
         }) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(GithubData(row.text), row.data);
        EXPECT_EQ(GithubProperty(row.text), row.property);
    }
    EXPECT_EQ(Run({"--format", "github", "--fail-on", "newer-target", "--show", "all"}), 1);
    std::istringstream lines(out.str());
    std::vector<std::string> errors, warnings;
    for (std::string line; std::getline(lines, line);)
        (line.starts_with("::error ") ? errors : warnings).push_back(line);
    ASSERT_EQ(errors.size(), 1u) << out.str();
    EXPECT_EQ(errors[0], "::error file=" + GithubProperty(dir.file("src/newer-target.dll")) +
                             ",title=Sorvane%3A newer-target.dll::newer-target.dll: newer target: "
                             "source 1.00.0000 (English (United States)), target 1.05.0000 "
                             "(English (United States)), mark <");
    // The other differences warn; the equal file says nothing.
    EXPECT_EQ(warnings.size(), 4u) << out.str();
    for (const std::string& line : warnings)
        EXPECT_TRUE(line.starts_with("::warning file=")) << line;
    EXPECT_EQ(out.str().find("equal.dll"), std::string::npos);
}

} // namespace
} // namespace sorvane::cli
