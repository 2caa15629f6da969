#include "row_output.h"

#include "json_writer.h"
#include "terminal_text.h"

#include "engine/scan/row_sort.h"
#include "engine/text/text_utils.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace sorvane::cli {
namespace {

// Keys of the row fields in JSON and CSV, in column order 1 to 11.
constexpr const char* kFieldKeys[] = {"name",          "ext",         "sourceLanguage",
                                      "sourceVersion", "mark",        "targetVersion",
                                      "targetLanguage", "busy",       "description",
                                      "copyright",     "sourceSize"};

constexpr const char* kCounterKeys[] = {"newerSource",    "newerTarget", "unequalLanguage",
                                        "differentSize",  "incomparable", "orphans"};

std::string_view ModeName(ScanMode mode) {
    return mode == ScanMode::SourceOnly ? "source-only" : "compare";
}

class JsonOutput : public RowOutput {
public:
    explicit JsonOutput(std::ostream& out) : json_(out) {}

    void Begin(const ScanHeading& heading) override {
        json_.BeginObject();
        json_.Field("source", DecodeText(heading.source));
        json_.Field("target", DecodeText(heading.target));
        json_.Field("mode", ModeName(heading.mode));
        json_.Key("rows");
        json_.BeginArray();
    }

    void Row(const ComparisonRow& row) override {
        const JsonWriter::Mark mark = json_.Hold();
        try {
            json_.BeginObject();
            for (int column = kNameColumn; column <= kCopyrightColumn; ++column) {
                json_.Field(kFieldKeys[column - 1],
                            DecodeTextView(ColumnView(row, column, scratch_), decoded_));
            }
            json_.Field("sourceSize", row.SourceSize);
            // Empty for a side that is no .NET assembly.
            json_.Field("sourceAssemblyVersion", row.SourceAssemblyVersion);
            json_.Field("targetAssemblyVersion", row.TargetAssemblyVersion);
            json_.EndObject();
        } catch (...) {
            json_.Restore(mark);
            throw;
        }
        json_.Release();
        ++written_;
    }

    void End(const ScanOutcome& outcome) override {
        json_.EndArray();
        json_.Key("counters");
        json_.BeginObject();
        for (int i = 0; i < kCategoryCount; ++i)
            json_.Field(kCounterKeys[i], outcome.counters[i]);
        json_.EndObject();
        json_.Field("filesProcessed", outcome.filesProcessed);
        json_.Key("unreadable");
        json_.BeginArray();
        for (const auto& entry : outcome.unreadable) {
            json_.BeginObject();
            json_.Field("path", DecodeText(entry.path));
            json_.Field("reason", entry.error.message());
            json_.EndObject();
        }
        json_.EndArray();
        json_.Field("message", outcome.message);
        json_.EndObject();
    }

private:
    JsonWriter json_;
    std::string scratch_; // the size column's digits
    std::string decoded_; // a text that was not UTF-8
};

// Each line is made whole before any of it is written.
class CsvOutput : public RowOutput {
public:
    CsvOutput(std::ostream& out, CsvCells cells) : out_(out), cells_(cells) {}

    void Begin(const ScanHeading&) override {
        std::string line;
        for (int column = kNameColumn; column <= kSizeColumn; ++column) {
            if (column > kNameColumn)
                line += ',';
            line += kFieldKeys[column - 1];
        }
        line += "\r\n";
        out_ << line;
    }

    void Row(const ComparisonRow& row) override {
        line_.clear();
        for (int column = kNameColumn; column <= kSizeColumn; ++column) {
            if (column > kNameColumn)
                line_ += ',';
            AppendCsvField(line_, DecodeTextView(ColumnView(row, column, scratch_), decoded_),
                           cells_);
        }
        line_ += "\r\n";
        out_ << line_;
        ++written_;
    }

    void End(const ScanOutcome&) override {}

private:
    std::ostream& out_;
    CsvCells cells_;
    std::string line_;
    std::string scratch_;
    std::string decoded_;
};

// `path` from the root: a relative path is taken from the working folder,
// with its "." parts left out. Its ".." parts and links stay, so that the path
// names what the user named. Left as it is when the working folder is gone.
std::string AbsolutePath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path absolute = fs::absolute(fs::path(path), error);
    if (error || path.starts_with('/'))
        return path;
    fs::path cleaned;
    for (const auto& part : absolute)
        if (part != "." && !part.empty())
            cleaned /= part;
    return cleaned.string();
}

class ListOutput : public RowOutput {
public:
    ListOutput(std::ostream& out, ComparisonMark mark, bool nullSeparated)
        : out_(out), mark_(mark), end_(nullSeparated ? '\0' : '\n') {}

    void Begin(const ScanHeading& heading) override {
        // Newer targets are listed under the target, the rest under the
        // source; a scan without a source has only the target.
        folder_ = AbsolutePath(mark_ == ComparisonMark::NewerTarget || heading.source.empty()
                                   ? heading.target
                                   : heading.source);
    }

    void Row(const ComparisonRow& row) override {
        if (row.Mark != mark_)
            return;
        line_ = JoinPath(folder_, row.Name);
        line_ += end_;
        out_ << line_;
        ++written_;
    }

    void End(const ScanOutcome&) override {}

private:
    std::ostream& out_;
    ComparisonMark mark_;
    char end_;
    std::string folder_;
    std::string line_;
};

} // namespace

std::unique_ptr<RowOutput> MakeJsonOutput(std::ostream& out) {
    return std::make_unique<JsonOutput>(out);
}

std::unique_ptr<RowOutput> MakeCsvOutput(std::ostream& out, CsvCells cells) {
    return std::make_unique<CsvOutput>(out, cells);
}

std::string UnreadableText(const UnreadableEntry& entry) {
    std::string text = entry.error.message();
    if (!entry.detail.empty())
        text.append(" (").append(TerminalText(DecodeText(entry.detail))).append(")");
    return text;
}

std::vector<int> ShownColumns(ScanMode mode) {
    std::vector<int> columns{kNameColumn, kExtColumn, kSourceLanguageColumn, kSourceVersionColumn};
    if (mode == ScanMode::Compare)
        columns.insert(columns.end(), {kMarkColumn, kTargetVersionColumn, kTargetLanguageColumn,
                                       kBusyColumn});
    columns.insert(columns.end(), {kDescriptionColumn, kCopyrightColumn});
    return columns;
}

void WriteTable(std::ostream& out, ScanMode mode, const std::vector<ComparisonRow>& rows,
                std::string_view indent) {
    const std::vector<int> columns = ShownColumns(mode);
    std::vector<std::vector<std::string>> cells;
    std::vector<std::size_t> widths;
    for (const int c : columns)
        widths.push_back(Utf8Length(ColumnCaption(c)));
    for (const auto& row : rows) {
        std::vector<std::string> line;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            // A name or version text may hold escape sequences aimed at
            // the terminal; they are shown, not sent.
            std::string text = TerminalText(DecodeText(ColumnText(row, columns[i])));
            widths[i] = std::max(widths[i], Utf8Length(text));
            line.push_back(std::move(text));
        }
        cells.push_back(std::move(line));
    }
    const auto writeLine = [&](const std::vector<std::string>& line) {
        std::string text(indent);
        for (std::size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size())
                text += std::string(widths[i] - Utf8Length(line[i]) + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out << text << "\n";
    };
    std::vector<std::string> header;
    for (const int c : columns)
        header.emplace_back(ColumnCaption(c));
    writeLine(header);
    for (const auto& line : cells)
        writeLine(line);
}

std::unique_ptr<RowOutput> MakeListOutput(std::ostream& out, ComparisonMark mark,
                                          bool nullSeparated) {
    return std::make_unique<ListOutput>(out, mark, nullSeparated);
}

} // namespace sorvane::cli
