#pragma once
// The result report: the rows of a scan as a CSV file for spreadsheets or as
// one self-contained HTML page (a heading with the paths, the date, the
// display mode and the counters, then the rows in the grid's colours).
// Written as it goes, so a report of many rows never sits in memory whole.

#include "engine/files/atomic_file.h"
#include "engine/scan/comparison.h"
#include "engine/scan/row_range.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sorvane {

enum class ReportFormat { Csv, Html };

/// Takes the next piece of the report; returns the error text when it cannot.
using ReportSink = std::function<WriteOutcome(std::string_view bytes)>;

/// A sink that writes to the open file `fd`.
ReportSink FileSink(int fd);
/// A sink that writes to `out`; a stream that goes bad fails the report.
ReportSink StreamSink(std::ostream& out);

struct ReportColumn {
    enum class Align { Left, Centre, Right };
    std::string caption;
    Align align = Align::Left;
};

/// A text colour for rows: `name` is the CSS class (letters, digits, "-";
/// anything else is dropped from it), `rgb` is 0xRRGGBB.
struct ReportStyle {
    std::string name;
    std::uint32_t rgb = 0;
};

struct ReportColors {
    std::uint32_t background = 0xFFFFFF; ///< 0xRRGGBB
    std::uint32_t text = 0x000000;       ///< rows without a style of their own
    std::vector<ReportStyle> styles;
};

struct ReportHeading {
    std::string title;       ///< "Sorvane Report"
    std::string source;      ///< may hold bytes that are not UTF-8
    std::string target;
    std::string date;        ///< ReportDateText
    std::string displayMode; ///< DisplayModeCaption
    /// Caption and count, in the order shown.
    std::vector<std::pair<std::string, std::int64_t>> counters;
};

/// Writes one report. Cell texts, captions and heading texts may hold bytes
/// that are not UTF-8: each such byte is written as its Windows-1252
/// character (DecodeText), as everywhere names are shown, so the output is
/// always valid UTF-8.
///
/// CSV, for spreadsheets: RFC 4180 records ended by CR LF, a first record of
/// the captions, fields holding "," '"' CR or LF quoted with inner quotes
/// doubled, and a field that a spreadsheet would take as a formula made text
/// with a leading "'" (CsvCells::ForSpreadsheets); no heading and no colours.
/// `byteOrderMark` starts the file with EF BB BF, which spreadsheets need to
/// read it as UTF-8 rather than a local code page.
///
/// HTML: one page with an inline style sheet and nothing else to load, every
/// text escaped; each row names its style by CSS class. Control characters
/// and the marks that reorder text are shown as the grid shows them, as
/// escapes like \x0a and \u202E (EscapeControls).
class ReportWriter {
public:
    ReportWriter(ReportFormat format, ReportSink sink, bool byteOrderMark = false);

    /// Writes the heading and the captions. Call once, before the rows.
    void Begin(const ReportHeading& heading, std::span<const ReportColumn> columns,
               const ReportColors& colors);
    /// Writes one row; `style` indexes the styles of Begin, -1 for none. The
    /// cells beyond the number of columns are ignored, missing ones are empty.
    void Row(std::span<const std::string_view> cells, int style = -1);
    /// Writes the texts of `row` in `columns` (grid column numbers).
    void Row(const ComparisonRow& row, std::span<const int> columns, int style = -1);
    /// Closes the page and hands over what is left. Returns the first error
    /// a sink gave (nothing more was written after it).
    WriteOutcome Finish();

private:
    void AppendCsvField(std::string_view text);
    void AppendHtmlText(std::string_view text);
    void FlushIfFull();
    void Flush();

    ReportFormat format_;
    ReportSink sink_;
    bool byteOrderMark_;
    std::size_t columnCount_ = 0;
    std::vector<std::string> classes_;
    std::string buffer_;
    std::string decoded_;
    std::string escaped_;
    std::vector<std::string> scratch_;      // the size column's digits
    std::vector<std::string_view> cells_;
    WriteOutcome outcome_;
};

/// The report column of grid column `column`: its caption, the mark and Busy
/// columns centred.
ReportColumn ReportColumnOf(int column);

/// "2024-05-01 14:03:07", local time.
std::string ReportDateText(std::time_t when);

/// The caption of a display mode as its menu item shows it, without "&";
/// "Source only (no target)" for a source-only scan.
std::string DisplayModeCaption(int displayMode, bool sourceOnly);

/// The CSS class of the rows of a mark: "newer-source", "newer-target",
/// "unequal-language", "different-size", "incomparable", "orphan", "equal",
/// "copied"; empty for the empty mark of a source-only scan.
std::string_view ReportClassOfMark(ComparisonMark mark);

/// The report's counters: how many of `rows` fall into each category, then
/// "Copied" when any row was copied, then "Rows" with the number of rows.
std::vector<std::pair<std::string, std::int64_t>> ReportCounters(RowRange rows);

} // namespace sorvane
