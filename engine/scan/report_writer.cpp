#include "engine/scan/report_writer.h"

#include "engine/scan/row_sort.h"

#include "engine/text/text_utils.h"

#include <array>
#include <cstdio>

namespace sorvane {
namespace {

// The buffer is handed to the sink once it holds this much.
constexpr std::size_t kFlushBytes = 64 * 1024;

std::string CssColor(std::uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(rgb & 0xFFFFFF));
    return text;
}

std::string CssClassName(std::string_view name) {
    std::string out;
    for (const char c : name)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')
            out += c;
    // A class name may not start with a digit or "-" followed by a digit.
    if (!out.empty() && !(out[0] >= '0' && out[0] <= '9') && out[0] != '-')
        return out;
    std::string prefixed = "s";
    prefixed += out;
    return prefixed;
}

std::string_view AlignName(ReportColumn::Align align) {
    switch (align) {
    case ReportColumn::Align::Centre:
        return "center";
    case ReportColumn::Align::Right:
        return "right";
    case ReportColumn::Align::Left:
        break;
    }
    return "left";
}

// The counter captions in category order.
const char* const kCategoryCaptions[kCategoryCount] = {
    "Newer Source", "Newer Target", "Unequal Language", "Different Size", "Incomparable", "Orphans"};

} // namespace

ReportSink FileSink(int fd) {
    return [fd](std::string_view bytes) { return WriteAllTo(fd, bytes); };
}

ReportSink StreamSink(std::ostream& out) {
    return [&out](std::string_view bytes) -> WriteOutcome {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return Fail({Reason::OutputNotWritten, Step::Write});
        return {};
    };
}

ReportWriter::ReportWriter(ReportFormat format, ReportSink sink, bool byteOrderMark)
    : format_(format), sink_(std::move(sink)), byteOrderMark_(byteOrderMark) {
    buffer_.reserve(kFlushBytes + 4096);
}

void ReportWriter::Begin(const ReportHeading& heading, std::span<const ReportColumn> columns,
                         const ReportColors& colors) {
    columnCount_ = columns.size();
    if (format_ == ReportFormat::Csv) {
        if (byteOrderMark_)
            buffer_ += "\xEF\xBB\xBF";
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i > 0)
                buffer_ += ',';
            AppendCsvField(columns[i].caption);
        }
        buffer_ += "\r\n";
        FlushIfFull();
        return;
    }

    classes_.clear();
    for (const ReportStyle& style : colors.styles)
        classes_.push_back(CssClassName(style.name));

    buffer_ += "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>";
    AppendHtmlText(heading.title);
    buffer_ += "</title>\n<style>\n"
               "body{font-family:sans-serif;font-size:10pt;margin:1em}\n"
               "h1{font-size:14pt;margin:0 0 .5em}\n"
               ".heading th{text-align:left;padding:0 1em 0 0;font-weight:normal;color:#555}\n"
               ".heading td{padding:0}\n"
               ".counters{margin:.5em 0 1em;padding:0;list-style:none}\n"
               ".counters li{display:inline-block;margin-right:1.5em}\n"
               ".rows{border-collapse:collapse;background:";
    buffer_ += CssColor(colors.background);
    buffer_ += ";color:";
    buffer_ += CssColor(colors.text);
    buffer_ += "}\n"
               ".rows th{background:#e0e0e0;color:#000;border:1px solid #a0a0a0;"
               "padding:1px 6px;text-align:center}\n"
               ".rows td{border:1px solid #d8d8d8;padding:1px 6px;white-space:pre}\n";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].align == ReportColumn::Align::Left)
            continue;
        buffer_ += ".rows td:nth-child(";
        buffer_ += std::to_string(i + 1);
        buffer_ += "){text-align:";
        buffer_ += AlignName(columns[i].align);
        buffer_ += "}\n";
    }
    for (std::size_t i = 0; i < classes_.size(); ++i) {
        buffer_ += ".rows .";
        buffer_ += classes_[i];
        buffer_ += "{color:";
        buffer_ += CssColor(colors.styles[i].rgb);
        buffer_ += "}\n";
    }
    buffer_ += "</style>\n</head>\n<body>\n<h1>";
    AppendHtmlText(heading.title);
    buffer_ += "</h1>\n<table class=\"heading\">\n";
    const std::pair<const char*, const std::string*> lines[] = {
        {"Source", &heading.source},
        {"Target", &heading.target},
        {"Date", &heading.date},
        {"Display", &heading.displayMode}};
    for (const auto& [caption, text] : lines) {
        buffer_ += "<tr><th>";
        buffer_ += caption;
        buffer_ += "</th><td>";
        AppendHtmlText(*text);
        buffer_ += "</td></tr>\n";
    }
    buffer_ += "</table>\n<ul class=\"counters\">\n";
    for (const auto& [caption, count] : heading.counters) {
        buffer_ += "<li>";
        AppendHtmlText(caption);
        buffer_ += ": ";
        buffer_ += std::to_string(count);
        buffer_ += "</li>\n";
    }
    buffer_ += "</ul>\n<table class=\"rows\">\n<thead>\n<tr>";
    for (const ReportColumn& column : columns) {
        buffer_ += "<th>";
        AppendHtmlText(column.caption);
        buffer_ += "</th>";
    }
    buffer_ += "</tr>\n</thead>\n<tbody>\n";
    FlushIfFull();
}

void ReportWriter::Row(const ComparisonRow& row, std::span<const int> columns, int style) {
    scratch_.resize(columns.size());
    cells_.resize(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i)
        cells_[i] = ColumnView(row, columns[i], scratch_[i]);
    Row(cells_, style);
}

ReportColumn ReportColumnOf(int column) {
    return {std::string(ColumnCaption(column)),
            column == kMarkColumn || column == kBusyColumn ? ReportColumn::Align::Centre
                                                           : ReportColumn::Align::Left};
}

void ReportWriter::Row(std::span<const std::string_view> cells, int style) {
    if (!outcome_)
        return;
    if (format_ == ReportFormat::Csv) {
        for (std::size_t i = 0; i < columnCount_; ++i) {
            if (i > 0)
                buffer_ += ',';
            if (i < cells.size())
                AppendCsvField(cells[i]);
        }
        buffer_ += "\r\n";
    } else {
        if (style >= 0 && static_cast<std::size_t>(style) < classes_.size()) {
            buffer_ += "<tr class=\"";
            buffer_ += classes_[static_cast<std::size_t>(style)];
            buffer_ += "\">";
        } else {
            buffer_ += "<tr>";
        }
        for (std::size_t i = 0; i < columnCount_; ++i) {
            buffer_ += "<td>";
            if (i < cells.size())
                AppendHtmlText(cells[i]);
            buffer_ += "</td>";
        }
        buffer_ += "</tr>\n";
    }
    FlushIfFull();
}

WriteOutcome ReportWriter::Finish() {
    if (format_ == ReportFormat::Html && outcome_)
        buffer_ += "</tbody>\n</table>\n</body>\n</html>\n";
    Flush();
    return outcome_;
}

void ReportWriter::AppendCsvField(std::string_view text) {
    text = DecodeTextView(text, decoded_);
    sorvane::AppendCsvField(buffer_, text, CsvCells::ForSpreadsheets);
}

void ReportWriter::AppendHtmlText(std::string_view text) {
    text = DecodeTextView(text, decoded_);
    // Shown as the grid shows it: controls and direction marks as escapes.
    if (NeedsEscapes(text)) {
        escaped_ = EscapeControls(text);
        text = escaped_;
    }
    for (const char c : text) {
        switch (c) {
        case '&':
            buffer_ += "&amp;";
            break;
        case '<':
            buffer_ += "&lt;";
            break;
        case '>':
            buffer_ += "&gt;";
            break;
        case '"':
            buffer_ += "&quot;";
            break;
        default:
            buffer_ += c;
        }
    }
}

void ReportWriter::FlushIfFull() {
    if (buffer_.size() >= kFlushBytes)
        Flush();
}

void ReportWriter::Flush() {
    if (outcome_ && !buffer_.empty())
        outcome_ = sink_(buffer_);
    buffer_.clear();
}

std::string ReportDateText(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return {};
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::string DisplayModeCaption(int displayMode, bool sourceOnly) {
    if (sourceOnly)
        return "Source only (no target)";
    switch (displayMode) {
    case 0:
        return "Show All Versioned Files";
    case 2:
        return "Show Newer Files Only";
    default:
        // Any other value filters like "different only".
        return "Show Different Files Only";
    }
}

std::string_view ReportClassOfMark(ComparisonMark mark) {
    switch (mark) {
    case ComparisonMark::NewerSource:
        return "newer-source";
    case ComparisonMark::NewerTarget:
        return "newer-target";
    case ComparisonMark::UnequalLanguage:
        return "unequal-language";
    case ComparisonMark::DifferentSize:
        return "different-size";
    case ComparisonMark::Incomparable:
        return "incomparable";
    case ComparisonMark::Orphan:
        return "orphan";
    case ComparisonMark::Equal:
        return "equal";
    case ComparisonMark::Copied:
        return "copied";
    case ComparisonMark::None:
        break;
    }
    return {};
}

std::vector<std::pair<std::string, std::int64_t>> ReportCounters(RowRange rows) {
    std::array<std::int64_t, kCategoryCount> counts{};
    std::int64_t copied = 0;
    ComparisonRow scratch;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ComparisonRow& row = rows.At(i, scratch);
        if (const auto category = CategoryIndex(row.Mark))
            ++counts[static_cast<std::size_t>(*category)];
        else if (row.Mark == ComparisonMark::Copied)
            ++copied;
    }
    std::vector<std::pair<std::string, std::int64_t>> out;
    for (int i = 0; i < kCategoryCount; ++i)
        out.emplace_back(kCategoryCaptions[i], counts[static_cast<std::size_t>(i)]);
    if (copied > 0)
        out.emplace_back("Copied", copied);
    out.emplace_back("Rows", static_cast<std::int64_t>(rows.size()));
    return out;
}

} // namespace sorvane
