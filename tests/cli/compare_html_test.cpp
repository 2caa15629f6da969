#include "cli/commands.h"

#include "support/html_report.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <sstream>

namespace sorvane::cli {
namespace {

using test::VersionedPe;

TEST(CompareHtml, PageHoldsHeadingCountersAndEveryRowAsAParserReadsIt) {
    test::TempDir dir;
    dir.write("src/new.dll", VersionedPe({{2, 0, 0, 0}}));
    dir.write("dst/new.dll", VersionedPe({{1, 0, 0, 0}, 0x0409, "Old <b> & \"co\""}));
    dir.write("src/same.dll", VersionedPe({{1, 0, 0, 0}}));
    dir.write("dst/same.dll", VersionedPe({{1, 0, 0, 0}}));
    dir.write("src/caf\xE9.dll", VersionedPe({{1, 2, 0, 0}}));
    // Controls and the mark that reverses the text after it show as escapes.
    dir.write("src/esc\x1b[31m\u202E,x.dll", VersionedPe({{1, 3, 0, 0}}));

    const std::vector<std::string> compareCaptions = {
        "Name", "Ext", "Language", "Source Version", "=", "Target Version",
        "Language", "Busy", "Description", "Copyright"};
    const std::vector<std::string> sourceCaptions = {"Name", "Ext", "Language", "Source Version",
                                                     "Description", "Copyright"};
    struct Row {
        std::string cls;
        std::string version;
    };
    const struct {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> captions;
        std::string display;
        std::vector<std::string> counters; // some of them
        std::map<std::string, Row> rows;   // by the name as the page shows it
    } cases[] = {
        {{dir.file("src"), dir.file("dst"), "--show", "all"},
         1,
         compareCaptions,
         "Show All Versioned Files",
         {"Newer Source: 1", "Orphans: 2", "Newer Target: 0", "Rows: 4"},
         {{"new.dll", {"newer-source", "2.00.0000"}},
          {"same.dll", {"equal", "1.00.0000"}},
          {"caf\xC3\xA9.dll", {"orphan", "1.02.0000"}},
          {"esc\\x1b[31m\\u202E,x.dll", {"orphan", "1.03.0000"}}}},
        {{dir.file("src"), dir.file("dst"), "--show", "newer"},
         1,
         compareCaptions,
         "Show Newer Files Only",
         {"Newer Source: 1", "Orphans: 0", "Rows: 1"},
         {{"new.dll", {"newer-source", "2.00.0000"}}}},
        {{dir.file("src")},
         0,
         sourceCaptions,
         "Source only (no target)",
         {"Rows: 4"},
         {{"new.dll", {"", "2.00.0000"}},
          {"same.dll", {"", "1.00.0000"}},
          {"caf\xC3\xA9.dll", {"", "1.02.0000"}},
          {"esc\\x1b[31m\\u202E,x.dll", {"", "1.03.0000"}}}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--format", "html"});
        std::ostringstream out;
        std::ostringstream err;
        ASSERT_EQ(RunCompare(args, out, err), c.status) << err.str();
        const std::string page = dir.write("page.html", out.str());
        const test::HtmlReportReading reading = test::ReadHtmlReport(page);
        if (!reading.available)
            GTEST_SKIP() << "no python3 to read the page with";
        ASSERT_TRUE(reading.wellFormed) << reading.output;
        const auto report = nlohmann::json::parse(reading.output);

        EXPECT_EQ(report["title"], "Sorvane Report");
        EXPECT_EQ(report["heading"]["Source"], dir.file("src"));
        EXPECT_EQ(report["heading"]["Display"], c.display);
        EXPECT_EQ(report["heading"]["Date"].get<std::string>().size(), 19u);
        const auto counters = report["counters"].get<std::vector<std::string>>();
        for (const std::string& counter : c.counters)
            EXPECT_NE(std::find(counters.begin(), counters.end(), counter), counters.end())
                << counter << " in " << c.display;
        EXPECT_EQ(report["captions"].get<std::vector<std::string>>(), c.captions);
        // Each mark in the window's default colour.
        for (const char* rule : {".rows .newer-source{color:#0000ff}",
                                 ".rows .newer-target{color:#ff0000}",
                                 ".rows .unequal-language{color:#800080}",
                                 ".rows .different-size{color:#800080}",
                                 ".rows .orphan{color:#000000}", ".rows .equal{color:#000000}"})
            EXPECT_NE(out.str().find(rule), std::string::npos) << rule;

        ASSERT_EQ(report["rows"].size(), c.rows.size()) << c.display;
        for (const auto& row : report["rows"]) {
            const auto cells = row["cells"].get<std::vector<std::string>>();
            ASSERT_EQ(cells.size(), c.captions.size());
            const auto expected = c.rows.find(cells[0]);
            ASSERT_NE(expected, c.rows.end()) << cells[0];
            EXPECT_EQ(row["class"], expected->second.cls) << cells[0];
            EXPECT_EQ(cells[3], expected->second.version) << cells[0];
            if (cells[0] == "new.dll" && c.captions == compareCaptions) {
                EXPECT_EQ(cells[cells.size() - 2], "Old <b> & \"co\"") << c.display;
            }
        }
    }
}

} // namespace
} // namespace sorvane::cli
