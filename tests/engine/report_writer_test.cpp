#include "engine/scan/report_writer.h"

#include "engine/text/text_utils.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>

namespace sorvane {
namespace {

struct Written {
    std::string text;
    WriteOutcome outcome;
};

// Writes a report of one column per cell of the first row.
Written Write(ReportFormat format, const std::vector<std::vector<std::string>>& rows,
              const ReportColors& colors = {}, const std::vector<int>& styles = {},
              bool bom = false) {
    Written written;
    ReportWriter writer(
        format,
        [&written](std::string_view bytes) -> WriteOutcome {
            written.text += bytes;
            return {};
        },
        bom);
    std::vector<ReportColumn> columns;
    for (std::size_t i = 0; i < (rows.empty() ? 0 : rows[0].size()); ++i)
        columns.push_back({std::string{'C', static_cast<char>('0' + i)}});
    ReportHeading heading;
    heading.title = "Report";
    writer.Begin(heading, columns, colors);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::vector<std::string_view> cells(rows[r].begin(), rows[r].end());
        writer.Row(cells, r < styles.size() ? styles[r] : -1);
    }
    written.outcome = writer.Finish();
    return written;
}

// The text of the first cell of the rows.
std::string FirstCell(const std::string& html) {
    const auto start = html.find("<td>", html.find("<tbody>"));
    if (start == std::string::npos)
        return "(no cell)";
    const auto end = html.find("</td>", start);
    return html.substr(start + 4, end - start - 4);
}

TEST(ReportWriter, CsvQuotesOnlyFieldsThatNeedIt) {
    const struct {
        std::string cell;
        std::string field;
    } cases[] = {
        {"plain.dll", "plain.dll"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"line\r\nbreak", "\"line\r\nbreak\""},
        {"lf\nonly", "\"lf\nonly\""},
        {"cr\ronly", "\"cr\ronly\""},
        {"<&>'", "<&>'"},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
        // A byte that is not UTF-8 becomes its Windows-1252 character.
        {"caf\xE9", "caf\xC3\xA9"},
        {"\x80,", "\"\xE2\x82\xAC,\""},
        // Spreadsheets would run these as formulas: they are made text.
        {"=1+2", "'=1+2"},
        {"=HYPERLINK(\"http://x\",\"a\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"a\"\")\""},
        {"+x", "'+x"},
        {"-x", "'-x"},
        {"@x", "'@x"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},
        // One character alone is no formula (the marks), nor a sign later on.
        {"-", "-"},
        {"=", "="},
        {"a=b", "a=b"},
    };
    for (const auto& c : cases) {
        const Written w = Write(ReportFormat::Csv, {{c.cell, "x"}});
        EXPECT_EQ(w.text, "C0,C1\r\n" + c.field + ",x\r\n") << c.cell;
        EXPECT_TRUE(IsValidUtf8(w.text)) << c.cell;
    }
}

TEST(ReportWriter, HtmlEscapesEveryText) {
    const struct {
        std::string cell;
        std::string html;
    } cases[] = {
        {"plain.dll", "plain.dll"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a & b", "a &amp; b"},
        {"&amp;", "&amp;amp;"},
        {"\"quoted\" 'single'", "&quot;quoted&quot; 'single'"},
        {"line\r\nbreak\ttab", "line\\x0d\\x0abreak\\x09tab"},
        {"caf\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x98\x80", "caf\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x98\x80"},
        {"caf\xE9<", "caf\xC3\xA9&lt;"},
        {"\xFF\xFE", "\xC3\xBF\xC3\xBE"},
        // Controls and the marks that reorder text: shown as escapes, as
        // the grid shows them.
        {std::string("nul\0esc\x1b" "del\x7f", 12), "nul\\x00esc\\x1bdel\\x7f"},
        {"c1\xC2\x85" "end\xC2\xA0", "c1\\u0085end\xC2\xA0"},
        {"evil\u202Ellx<.exe", "evil\\u202Ellx&lt;.exe"},
        {"\u2066a\u2069\u200F", "\\u2066a\\u2069\\u200F"},
        // A byte that is not UTF-8 is its Windows-1252 character; 0x81 has
        // none and stays a C1 control.
        {"\x81", "\\u0081"},
    };
    for (const auto& c : cases) {
        const Written w = Write(ReportFormat::Html, {{c.cell}});
        EXPECT_EQ(FirstCell(w.text), c.html) << c.cell;
        EXPECT_TRUE(IsValidUtf8(w.text)) << c.cell;
    }
}

TEST(ReportWriter, HtmlHeadingCaptionsAndStyles) {
    ReportColors colors;
    colors.background = 0x102030;
    colors.text = 0x0000ff;
    colors.styles = {{"newer-source", 0x0000ff}, {"9 bad<name>", 0x800080}};
    Written w;
    ReportWriter writer(ReportFormat::Html, [&w](std::string_view bytes) -> WriteOutcome {
        w.text += bytes;
        return {};
    });
    ReportHeading heading{"Sorvane <Report>", "/src/\xE9", "/dst & more", "2024-05-01 10:00:00",
                          "Show All Versioned Files", {{"Newer Source", 3}, {"Rows", 12}}};
    const std::array<ReportColumn, 3> columns = {
        ReportColumn{"Name"}, ReportColumn{"=", ReportColumn::Align::Centre},
        ReportColumn{"Size", ReportColumn::Align::Right}};
    writer.Begin(heading, columns, colors);
    const std::array<std::string_view, 3> cells = {"a.dll", ">", "10"};
    writer.Row(cells, 0);
    writer.Row(cells, 1);
    writer.Row(cells, -1);
    writer.Row(cells, 7); // no such style
    writer.Row(std::span<const std::string_view>(cells.data(), 1), 0);
    ASSERT_TRUE(writer.Finish());
    const std::string& html = w.text;
    const std::vector<std::string> expected = {
        "<meta charset=\"utf-8\">",
        "<title>Sorvane &lt;Report&gt;</title>",
        ".rows{border-collapse:collapse;background:#102030;color:#0000ff}",
        ".rows td:nth-child(2){text-align:center}",
        ".rows td:nth-child(3){text-align:right}",
        ".rows .newer-source{color:#0000ff}",
        ".rows .s9badname{color:#800080}",
        "<tr><th>Source</th><td>/src/\xC3\xA9</td></tr>",
        "<tr><th>Target</th><td>/dst &amp; more</td></tr>",
        "<tr><th>Date</th><td>2024-05-01 10:00:00</td></tr>",
        "<tr><th>Display</th><td>Show All Versioned Files</td></tr>",
        "<li>Newer Source: 3</li>",
        "<li>Rows: 12</li>",
        "<tr><th>Name</th><th>=</th><th>Size</th></tr>",
        "<tr class=\"newer-source\"><td>a.dll</td><td>&gt;</td><td>10</td></tr>\n"
        "<tr class=\"s9badname\"><td>a.dll</td><td>&gt;</td><td>10</td></tr>\n"
        "<tr><td>a.dll</td><td>&gt;</td><td>10</td></tr>\n"
        "<tr><td>a.dll</td><td>&gt;</td><td>10</td></tr>\n"
        "<tr class=\"newer-source\"><td>a.dll</td><td></td><td></td></tr>\n"
        "</tbody>\n</table>\n</body>\n</html>\n",
    };
    for (const std::string& part : expected)
        EXPECT_NE(html.find(part), std::string::npos) << part;
    EXPECT_EQ(html.find(".rows td:nth-child(1)"), std::string::npos);
    // Self-contained: nothing to fetch and nothing to run.
    for (const char* outside : {"<script", "<link", "src=", "href=", "url(", "@import"})
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
}

TEST(ReportWriter, ByteOrderMarkAndSinkFailures) {
    EXPECT_EQ(Write(ReportFormat::Csv, {{"a"}}, {}, {}, true).text, "\xEF\xBB\xBF" "C0\r\na\r\n");
    EXPECT_EQ(Write(ReportFormat::Csv, {{"a"}}).text, "C0\r\na\r\n");

    // The first failure is returned and nothing is handed over after it;
    // rows big enough to need several hand-overs.
    for (const int failAt : {1, 2, 5}) {
        int calls = 0;
        std::size_t bytes = 0;
        ReportWriter writer(ReportFormat::Html, [&](std::string_view piece) -> WriteOutcome {
            if (++calls == failAt)
                return Fail(Failure::System(ENOSPC, Step::Write, "call " + std::to_string(calls)));
            bytes += piece.size();
            return {};
        });
        const std::array<ReportColumn, 1> columns = {ReportColumn{"Name"}};
        writer.Begin({}, columns, {});
        const std::string cell(1000, 'x');
        const std::array<std::string_view, 1> cells = {cell};
        for (int i = 0; i < 1000; ++i)
            writer.Row(cells);
        const WriteOutcome outcome = writer.Finish();
        ASSERT_FALSE(outcome) << failAt;
        EXPECT_EQ(outcome.error(),
                  Failure::System(ENOSPC, Step::Write, "call " + std::to_string(failAt)));
        EXPECT_EQ(calls, failAt);
        EXPECT_LT(bytes, std::size_t{1000} * 1000);
    }
}

TEST(ReportWriter, CountersAndCaptions) {
    std::vector<ComparisonRow> rows(7);
    const ComparisonMark marks[] = {ComparisonMark::NewerSource, ComparisonMark::NewerSource,
                                    ComparisonMark::Orphan,      ComparisonMark::Equal,
                                    ComparisonMark::Copied,      ComparisonMark::DifferentSize,
                                    ComparisonMark::None};
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].Mark = marks[i];
    const std::vector<std::pair<std::string, std::int64_t>> expected = {
        {"Newer Source", 2}, {"Newer Target", 0}, {"Unequal Language", 0}, {"Different Size", 1},
        {"Incomparable", 0}, {"Orphans", 1},      {"Copied", 1},           {"Rows", 7}};
    EXPECT_EQ(ReportCounters(rows), expected);
    rows.resize(1);
    EXPECT_EQ(ReportCounters(rows).size(), 7u); // no "Copied" without copied rows

    const struct {
        int mode;
        bool sourceOnly;
        const char* caption;
    } modes[] = {{0, false, "Show All Versioned Files"},
                 {1, false, "Show Different Files Only"},
                 {2, false, "Show Newer Files Only"},
                 {7, false, "Show Different Files Only"},
                 {2, true, "Source only (no target)"}};
    for (const auto& m : modes)
        EXPECT_EQ(DisplayModeCaption(m.mode, m.sourceOnly), m.caption) << m.mode;

    const std::string date = ReportDateText(0);
    ASSERT_EQ(date.size(), 19u);
    EXPECT_EQ(date[4], '-');
    EXPECT_EQ(date[10], ' ');
    EXPECT_EQ(date[13], ':');
}

} // namespace
} // namespace sorvane
