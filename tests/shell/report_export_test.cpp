// File > Export Report: the rows as the grid shows them, written whole or not
// at all.

#include "window_fixture.h"

#include "support/csv_records.h"
#include "support/html_report.h"
#include "view/result_view.h"

#include <QAction>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>

namespace sorvane::shell::test_window {
namespace {

using Kind = FakeDialogs::Kind;

using test::ReadCsv;

class ReportExportTest : public MainWindowTest {
protected:
    // Exports to `name` in the test's folder; the message boxes shown.
    std::size_t Export(MainWindow& w, const std::string& name) {
        const std::size_t before = dialogs.Count(Kind::Message);
        dialogs.saveFiles.push_back(Q(dir.file(name)));
        w.action("mFileExportReport")->trigger();
        return dialogs.Count(Kind::Message) - before;
    }
};

TEST_F(ReportExportTest, OfferedOnlyWithRowsAndAsksForHtmlOrCsv) {
    auto w = Open();
    w->UpdateCommandState();
    EXPECT_FALSE(w->action("mFileExportReport")->isEnabled());
    MakeTrees();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    EXPECT_TRUE(w->action("mFileExportReport")->isEnabled());
    EXPECT_EQ(w->action("mFileExportReport")->text(), QStringLiteral("Export &Report..."));

    dialogs.saveFiles.push_back(std::nullopt); // cancelled: nothing written, nothing said
    w->action("mFileExportReport")->trigger();
    const auto& asked = dialogs.Last(Kind::SaveFile).fileOptions;
    EXPECT_TRUE(asked.filter.contains(QStringLiteral("*.html")));
    EXPECT_TRUE(asked.filter.contains(QStringLiteral("*.csv")));
    EXPECT_EQ(dialogs.Count(Kind::Message), 0u);
}

TEST_F(ReportExportTest, WritesTheShownColumnsRowsOrderModeAndColours) {
    const std::vector<std::string> allCaptions = {"Name",   "Ext",         "Language",
                                                  "Source Version", "=", "Target Version",
                                                  "Language", "Busy", "Description", "Copyright"};
    const struct {
        const char* what;
        std::string file;
        std::function<void(MainWindow&)> arrange;
        std::vector<std::string> captions;
        std::vector<std::string> names; // top to bottom
        std::vector<std::string> classes;
        std::string display;
        std::vector<std::string> counters; // some of them
    } cases[] = {
        {"all columns by name", "all.html",
         [](MainWindow& w) { w.viewCommands().mViewArrange_Click(kNameColumn); }, allCaptions,
         {"equal.dll", "newer.dll", "older.dll"}, {"equal", "newer-source", "newer-target"},
         "Show All Versioned Files", {"Newer Source: 1", "Newer Target: 1", "Rows: 3"}},
        // Rows stay as scanned when the mode changes; so does the heading.
        {"mode changed after the scan", "mode.html",
         [](MainWindow& w) {
             w.viewCommands().mViewArrange_Click(kSourceVersionColumn);
             w.viewCommands().mViewShowFiles_Click(2);
         },
         allCaptions, {"older.dll", "newer.dll", "equal.dll"},
         {"newer-target", "newer-source", "equal"}, "Show All Versioned Files",
         {"Newer Target: 1", "Rows: 3"}},
        {"scanned showing newer files only", "newer.html",
         [](MainWindow& w) {
             w.viewCommands().mViewShowFiles_Click(2);
             Scan(w);
         },
         allCaptions, {"newer.dll"}, {"newer-source"}, "Show Newer Files Only",
         {"Newer Source: 1", "Newer Target: 0", "Rows: 1"}},
        {"hidden columns, descending", "hidden.html",
         [](MainWindow& w) {
             for (const int column : {kSourceLanguageColumn, kBusyColumn, kCopyrightColumn}) {
                 w.action(QStringLiteral("mViewColumns%1").arg(column))->setChecked(false);
                 w.viewCommands().mViewColumns_Click(column);
             }
             w.viewCommands().mViewArrange_Click(kNameColumn);
             w.viewCommands().mViewOrder_Click(1);
         },
         {"Name", "Ext", "Source Version", "=", "Target Version", "Language", "Description"},
         {"older.dll", "newer.dll", "equal.dll"}, {"newer-target", "newer-source", "equal"},
         "Show All Versioned Files", {"Orphans: 0", "Rows: 3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto w = OpenAndCompareTrees();
        c.arrange(*w);
        ASSERT_EQ(Export(*w, c.file), 0u);
        const auto reading = test::ReadHtmlReport(dir.file(c.file));
        if (!reading.available)
            GTEST_SKIP() << "no python3 to read the page with";
        ASSERT_TRUE(reading.wellFormed) << reading.output;
        const auto page = nlohmann::json::parse(reading.output);
        EXPECT_EQ(page["heading"]["Source"], dir.file("src"));
        EXPECT_EQ(page["heading"]["Target"], dir.file("dst"));
        EXPECT_EQ(page["heading"]["Display"], c.display);
        EXPECT_EQ(page["captions"].get<std::vector<std::string>>(), c.captions);
        std::vector<std::string> names;
        std::vector<std::string> classes;
        for (const auto& row : page["rows"]) {
            names.push_back(row["cells"][0]);
            classes.push_back(row["class"]);
            EXPECT_EQ(row["cells"].size(), c.captions.size());
        }
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(classes, c.classes);
        const auto counters = page["counters"].get<std::vector<std::string>>();
        for (const std::string& counter : c.counters)
            EXPECT_NE(std::find(counters.begin(), counters.end(), counter), counters.end())
                << counter;
        w->close();
    }
}

TEST_F(ReportExportTest, CsvHoldsTheShownColumnsAndAPageTheChosenColours) {
    auto w = OpenAndCompareTrees();
    w->viewCommands().mViewArrange_Click(kNameColumn);
    w->action(QStringLiteral("mViewColumns%1").arg(kDescriptionColumn))->setChecked(false);
    w->viewCommands().mViewColumns_Click(kDescriptionColumn);
    dialogs.colors.push_back(QColor(0x12, 0x34, 0x56));
    w->viewCommands().mViewColor_Click(view::kNewerSourceColor);

    ASSERT_EQ(Export(*w, "rows.CSV"), 0u);
    const std::string csv = dir.read("rows.CSV");
    ASSERT_TRUE(csv.starts_with("\xEF\xBB\xBF"));
    const auto records = ReadCsv(std::string_view(csv).substr(3));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0], (std::vector<std::string>{"Name", "Ext", "Language", "Source Version",
                                                    "=", "Target Version", "Language", "Busy",
                                                    "Copyright"}));
    EXPECT_EQ(records[1][0], "equal.dll");
    EXPECT_EQ(records[2][0], "newer.dll");
    EXPECT_EQ(records[2][4], ">");
    EXPECT_EQ(records[3][4], "<");

    ASSERT_EQ(Export(*w, "rows.htm"), 0u);
    // The second name was asked for where the first report went.
    EXPECT_EQ(dialogs.Last(Kind::SaveFile).fileOptions.startFolder.toStdString(), dir.path().string() + "/");
    const std::string html = dir.read("rows.htm");
    EXPECT_NE(html.find(".rows .newer-source{color:#123456}"), std::string::npos);
    EXPECT_NE(html.find(".rows .newer-target{color:#ff0000}"), std::string::npos);
    EXPECT_NE(html.find("<tr class=\"newer-source\"><td>newer.dll</td>"), std::string::npos);
}

TEST_F(ReportExportTest, AFailedWriteIsReportedAndLeavesNoFile) {
    auto w = OpenAndCompareTrees();
    dir.write("old.html", "old report");
    std::filesystem::create_directories(dir.file("folder.html"));
    const struct {
        std::string file;
        std::string leftThere; // what stays at the name ("" for nothing)
    } cases[] = {
        {"missing/report.html", ""},
        {"folder.html", "(folder)"},
        {"old.html/report.csv", ""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Export(*w, c.file), 1u) << c.file;
        const auto& message = dialogs.Last(Kind::Message);
        EXPECT_EQ(message.icon, platform::MessageIcon::Warning);
        EXPECT_TRUE(message.text.startsWith(QStringLiteral("The report could not be saved as")))
            << message.text.toStdString();
        EXPECT_TRUE(message.text.contains(Q(dir.file(c.file))));
        const std::filesystem::path path = dir.file(c.file);
        if (c.leftThere == "(folder)") {
            EXPECT_TRUE(std::filesystem::is_directory(path));
        } else {
            EXPECT_FALSE(std::filesystem::exists(path)) << c.file;
        }
    }
    EXPECT_EQ(dir.read("old.html"), "old report");
    // No temporary file is left beside the names either.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find("sorvane-tmp"), std::string::npos)
            << entry.path();
}

} // namespace
} // namespace sorvane::shell::test_window
