// compare as a release gate: --fail-on, and the JUnit and GitHub reports.

#include "cli/commands.h"
#include "compare_runner.h"
#include "cli/gate_output.h"

#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <filesystem>
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
            EXPECT_EQ(marks->marks, row.marks);
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

// A target that cannot be read is an error of both reports, never a pass.
TEST_F(ReleaseGate, AnEntryThatCannotBeReadIsAnErrorOfBothReports) {
    namespace fs = std::filesystem;
    for (const char* folder : {"", "src", "dst"})
        fs::permissions(dir.file(folder), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    fs::permissions(dir.file("dst/equal.dll"), fs::perms::none);
    std::map<std::string, std::string> reports;
    bool ran = true;
    for (const char* format : {"junit", "github"}) {
        const std::vector<std::string> args = {dir.file("src"), dir.file("dst"), "--format",
                                               format, "--fail-on", "orphans"};
        const auto child =
            test::RunInChild(test::ChildLimits().Unprivileged(), [&](std::string& output) {
                std::ostringstream childOut, childErr;
                const int status = RunCompare(args, childOut, childErr);
                output = childOut.str();
                return status;
            });
        ran = ran && child.ran;
        EXPECT_EQ(child.status, 2) << format; // trouble, whatever the gate says
        reports[format] = child.output;
    }
    fs::permissions(dir.file("dst/equal.dll"), fs::perms::owner_all);
    if (!ran)
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    const std::string path = dir.file("dst/equal.dll");
    EXPECT_NE(reports["junit"].find("errors=\"1\""), std::string::npos) << reports["junit"];
    EXPECT_NE(reports["junit"].find("name=\"" + path +
                                    "\" time=\"0\">\n      <error type=\"unreadable\" "
                                    "message=\"Permission denied\">"),
              std::string::npos)
        << reports["junit"];
    EXPECT_NE(reports["github"].find("::error file=" + GithubProperty(path) +
                                     ",title=Sorvane%3A not read::" + path +
                                     ": Permission denied\n"),
              std::string::npos)
        << reports["github"];
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

// The assembly version of a pair of .NET assemblies that went down (the
// source's lower than the target's) fails the gate whatever the pair's mark,
// a file version that went up included; up, equal, or a side that is no
// assembly passes. The rows carry both versions in JSON and the reports.
TEST_F(ReleaseGate, AnAssemblyVersionThatWentDownFailsTheGate) {
    using test::AssemblyPe;
    struct Case {
        const char* name;
        std::string source, target;
        const char* mark;
        const char* sourceAssembly;
        const char* targetAssembly;
        bool fails;
    };
    const Case cases[] = {
        {"down.dll", AssemblyPe({{2, 0, 0, 0}}, {1, 0, 0, 0}), AssemblyPe({{1, 0, 0, 0}}, {2, 0, 0, 0}),
         ">", "1.0.0.0", "2.0.0.0", true},
        {"down-same-file.dll", AssemblyPe({{1, 0, 0, 0}}, {1, 2, 3, 4}),
         AssemblyPe({{1, 0, 0, 0}}, {1, 2, 3, 10}), "=", "1.2.3.4", "1.2.3.10", true},
        {"up.dll", AssemblyPe({{1, 0, 0, 0}}, {3, 0, 0, 0}), AssemblyPe({{2, 0, 0, 0}}, {2, 9, 0, 0}),
         "<", "3.0.0.0", "2.9.0.0", false},
        {"equal.dll", AssemblyPe({{1, 0, 0, 0}}, {4, 0, 0, 0}), AssemblyPe({{1, 0, 0, 0}}, {4, 0, 0, 0}),
         "=", "4.0.0.0", "4.0.0.0", false},
        {"native-source.dll", VersionedPe({{1, 0, 0, 0}}), AssemblyPe({{1, 0, 0, 0}}, {9, 0, 0, 0}),
         "=", "", "9.0.0.0", false},
        {"native-target.dll", AssemblyPe({{1, 0, 0, 0}}, {0, 0, 0, 1}), VersionedPe({{1, 0, 0, 0}}),
         "=", "0.0.0.1", "", false},
    };
    test::TempDir trees;
    for (const Case& c : cases) {
        trees.write(std::string("s/") + c.name, c.source);
        trees.write(std::string("t/") + c.name, c.target);
    }
    const auto run = [&](const std::string& filter, std::vector<std::string> more) {
        std::vector<std::string> args = {trees.file("s"), trees.file("t"), "--filter", filter};
        args.insert(args.end(), more.begin(), more.end());
        out.str("");
        err.str("");
        return RunCompare(args, out, err);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Without --show every row is let through, "=" too.
        EXPECT_EQ(run(c.name, {"--fail-on", "assembly-version-down"}), c.fails ? 1 : 0) << err.str();
        EXPECT_EQ(run(c.name, {"--fail-on", "orphans,assembly-version-down", "--show", "all"}),
                  c.fails ? 1 : 0);
        ASSERT_EQ(run(c.name, {"--format", "json", "--show", "all"}), 1);
        const auto rows = nlohmann::json::parse(out.str()).at("rows");
        ASSERT_EQ(rows.size(), 1u) << out.str();
        EXPECT_EQ(rows[0].at("mark"), c.mark);
        EXPECT_EQ(rows[0].at("sourceAssemblyVersion"), c.sourceAssembly);
        EXPECT_EQ(rows[0].at("targetAssemblyVersion"), c.targetAssembly);
        // The reports: a failure or an error exactly for the rows the gate
        // fails, with both assembly versions in the message.
        const std::string versions = std::string("; assembly version: source ") +
                                     (*c.sourceAssembly ? c.sourceAssembly : "none") + ", target " +
                                     (*c.targetAssembly ? c.targetAssembly : "none") +
                                     (c.fails ? " (went down)" : "");
        run(c.name, {"--format", "junit", "--fail-on", "assembly-version-down"});
        const std::string junit = out.str();
        EXPECT_EQ(junit.find("failures=\"1\"") != std::string::npos, c.fails) << junit;
        EXPECT_EQ(junit.find("<failure type=\"assembly-version-down\"") != std::string::npos,
                  c.fails);
        if (c.fails) {
            EXPECT_NE(junit.find(XmlText(versions) + "\">"), std::string::npos) << junit;
        }
        std::ofstream(trees.file("report.xml")) << junit;
        const std::string check = "xmllint --noout --schema " SORVANE_JUNIT_XSD " '" +
                                  trees.file("report.xml") + "' 2>/dev/null";
        EXPECT_EQ(std::system(check.c_str()), 0) << junit;
        run(c.name, {"--format", "github", "--fail-on", "assembly-version-down"});
        const std::string github = out.str();
        EXPECT_EQ(github.starts_with("::error "), c.fails) << github;
        // A passing "=" row says nothing; the other rows warn.
        EXPECT_EQ(github.empty(), !c.fails && std::string(c.mark) == "=") << github;
        if (!github.empty()) {
            EXPECT_NE(github.find(GithubData(versions) + "\n"), std::string::npos) << github;
        }
    }
    // A --show that may leave a row out is refused: any mark can hide one.
    for (const char* show : {"different", "newer"}) {
        EXPECT_EQ(run("*", {"--fail-on", "assembly-version-down", "--show", show}), 2);
        EXPECT_NE(err.str().find("--fail-on assembly-version-down looks for rows that this --show "
                                 "leaves out"),
                  std::string::npos)
            << err.str();
    }
    EXPECT_EQ(run("*", {"--fail-on", "assembly-version-down"}), 1);
    EXPECT_EQ(run("up.dll;equal.dll", {"--fail-on", "assembly-version-down,different-size"}), 0);

    // A Source Map holds no assembly versions: against one, only the
    // target's is named, and none can have gone down.
    const std::string map = trees.file("s.map");
    std::ostringstream saved, savedErr;
    ASSERT_EQ(RunCompare({trees.file("s"), "--filter", "down.dll", "--save-map", map}, saved,
                         savedErr),
              0);
    out.str("");
    EXPECT_EQ(RunCompare({map, trees.file("t"), "--format", "github", "--fail-on",
                          "assembly-version-down"},
                         out, err),
              0);
    EXPECT_EQ(out.str(), "::warning file=" + GithubProperty(trees.file("t/down.dll")) +
                             ",title=Sorvane%3A down.dll::down.dll: newer source: source 2.00.0000 "
                             "(English (United States)), target 1.00.0000 (English (United "
                             "States)), mark >; assembly version: target 2.0.0.0\n");
}

// A map saved with --content holds the hash of each source file; a compare
// against it with --content fails a different-size gate on a target whose
// bytes changed under the same version and size, and only then.
TEST_F(ReleaseGate, AMapSavedWithContentGatesTargetsWhoseBytesChanged) {
    test::TempDir trees;
    const std::string base = VersionedPe({{1, 2, 0, 0}});
    std::string changed = base;
    changed[0x300] ^= 1; // inside the image, same size
    trees.write("release/lib/a.dll", base);
    trees.write("release/b.dll", VersionedPe({{7, 0, 0, 0}}));
    const std::string map = trees.file("release.map");
    std::ostringstream listing, listingErr;
    ASSERT_EQ(RunCompare({trees.file("release"), "-r", "--content", "--save-map", map}, listing,
                         listingErr),
              0)
        << listingErr.str();
    const std::string text = trees.read("release.map");
    EXPECT_NE(text.find("lib\\a.dll|.dll|1.02.0000|English (United States)|" +
                        std::to_string(base.size()) + "|" + HashBytes(base).Hex() + "\r\n"),
              std::string::npos)
        << text;
    struct Case {
        std::string build; ///< lib/a.dll of the build
        bool content;
        int status;
    };
    for (const Case& c : {Case{base, true, 0}, Case{changed, true, 1}, Case{changed, false, 0},
                          Case{base + "x", false, 1}}) {
        SCOPED_TRACE(std::to_string(c.build.size()) + (c.content ? " --content" : ""));
        trees.write("build/lib/a.dll", c.build);
        trees.write("build/b.dll", VersionedPe({{7, 0, 0, 0}}));
        std::vector<std::string> args = {map, trees.file("build"), "--fail-on", "different-size"};
        if (c.content)
            args.push_back("--content");
        out.str("");
        err.str("");
        EXPECT_EQ(RunCompare(args, out, err), c.status) << out.str() << err.str();
    }
    // Without --content the map keeps five fields a line.
    std::ostringstream plain, plainErr;
    ASSERT_EQ(RunCompare({trees.file("release"), "-r", "--save-map", map}, plain, plainErr), 0);
    EXPECT_EQ(trees.read("release.map").find(HashBytes(base).Hex()), std::string::npos);
}

} // namespace
} // namespace sorvane::cli
