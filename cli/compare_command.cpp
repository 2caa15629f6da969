// sorvane-cli compare: a scan from the command line, with the rows, marks,
// counters and messages the window shows.

#include "command_parser.h"
#include "commands.h"
#include "gate_output.h"
#include "json_writer.h"
#include "row_output.h"
#include "terminal_text.h"

#include "engine/text/path_utils.h"
#include "engine/scan/display_filter.h"
#include "engine/scan/report_writer.h"
#include "engine/scan/row_sort.h"
#include "engine/scan/scan_driver.h"
#include "engine/scan/source_map.h"
#include "engine/text/text_utils.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <iostream>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

namespace sorvane::cli {
namespace {

enum class Format { Table, Csv, CsvRaw, Json, Html, JUnit, Github };

struct CompareOptions {
    std::string source;
    std::string target;
    std::string filter;
    bool subfolders = false;
    int show = static_cast<int>(DisplayMode::DifferentOnly);
    int sortKey = kNoSortKey;
    bool descending = false;
    Format format = Format::Table;
    std::optional<std::string> saveMap;
    bool strict = false;
    bool content = false;
    int threads = 4;
    /// The mark whose special list is printed instead of the rows.
    std::optional<ComparisonMark> list;
    bool nullSeparated = false;
    /// What fails the run (exit status 1); none: the status says whether any
    /// row was listed.
    std::optional<GateConditions> failOn;
};

// How many left-out names a map save lists before it only counts them.
constexpr std::size_t kSkippedNamesShown = 10;

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
    std::signal(SIGINT, SIG_DFL); // a second Ctrl+C ends the program at once
}

// Reads the options into `options`; the exit status when the command should
// not run (help shown or a usage error).
std::optional<int> ParseOptions(const std::vector<std::string>& args, CompareOptions& options,
                                std::ostream& out, std::ostream& err) {
    CommandParser parser("compare");
    parser.Argument("SOURCE", options.source)->required();
    parser.Argument("TARGET", options.target);
    parser.Option("--filter", options.filter);
    parser.Flag("--subfolders", options.subfolders);
    parser.Choice<int>("--show", options.show,
                       {static_cast<int>(DisplayMode::AllVersioned),
                        static_cast<int>(DisplayMode::DifferentOnly),
                        static_cast<int>(DisplayMode::NewerOnly)});
    parser.Choice<int>("--sort", options.sortKey,
                       {kNoSortKey, kNameColumn, kExtColumn, kSourceLanguageColumn,
                        kSourceVersionColumn, kMarkColumn, kTargetVersionColumn,
                        kTargetLanguageColumn, kBusyColumn, kDescriptionColumn,
                        kCopyrightColumn});
    parser.Flag("--descending", options.descending);
    parser.Choice<Format>("--format", options.format,
                          {Format::Table, Format::Csv, Format::CsvRaw, Format::Json,
                           Format::Html, Format::JUnit, Format::Github});
    std::string failOn;
    parser.Option("--fail-on", failOn);
    parser.Option("--save-map", options.saveMap)
        ->check(CLI::Validator(
            [](std::string& file) -> std::string {
                return file.empty() ? "needs a file name" : "";
            },
            ""));
    parser.Flag("--strict", options.strict);
    parser.Flag("--content", options.content);
    parser.Choice<std::optional<ComparisonMark>>(
        "--list", options.list,
        {ComparisonMark::NewerSource, ComparisonMark::NewerTarget,
         ComparisonMark::UnequalLanguage, ComparisonMark::DifferentSize,
         ComparisonMark::Incomparable, ComparisonMark::Orphan});
    parser.Flag("--null", options.nullSeparated);
    parser.Option("--threads", options.threads)
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                int value = -1;
                const auto [end, error] =
                    std::from_chars(text.data(), text.data() + text.size(), value);
                if (error == std::errc() && end == text.data() + text.size() && value >= 0 &&
                    value <= 64)
                    return {};
                return "takes a number from 0 to 64, not '" + text + "'";
            },
            ""));
    if (const auto status = parser.Parse(args, out, err))
        return status;
    if (options.nullSeparated && !options.list)
        return parser.Fail(err, "--null goes with --list");
    if (parser->count("--fail-on") > 0) {
        auto marks = ParseFailOn(failOn);
        if (!marks)
            return parser.Fail(err, "--fail-on: " + marks.error());
        options.failOn = std::move(*marks);
        if (options.list)
            return parser.Fail(err, "--fail-on does not go with --list");
        // A gate never passes because the rows it looks for were not let
        // through: without --show it lets them through; a --show that leaves
        // them out is refused.
        // An assembly version can go down in a row of any mark, "=" too.
        const auto hidden = [&options]() -> std::optional<std::string_view> {
            for (const ComparisonMark mark : options.failOn->marks)
                if (!ShouldShowRow(mark, options.show))
                    return GateCategoryName(mark);
            if (options.failOn->assemblyVersionDown &&
                options.show != static_cast<int>(DisplayMode::AllVersioned))
                return kAssemblyVersionDown;
            return std::nullopt;
        };
        if (hidden() && parser->count("--show") == 0)
            options.show = static_cast<int>(DisplayMode::AllVersioned);
        if (const auto name = hidden())
            return parser.Fail(err, "--fail-on " + std::string(*name) +
                                        " looks for rows that this --show leaves out");
    }
    // A test report lists every compared file unless told otherwise.
    if (options.format == Format::JUnit && parser->count("--show") == 0)
        options.show = static_cast<int>(DisplayMode::AllVersioned);
    if (options.list) {
        for (const char* other : {"--format", "--show"})
            if (parser->count(other) > 0)
                return parser.Fail(err, std::string("--list does not go with ") + other);
        if (IsSourceMapPath(options.source))
            return parser.Fail(err, "--list needs a source folder, not a Source Map");
        // A list holds every file of its category.
        options.show = static_cast<int>(DisplayMode::AllVersioned);
    }
    // An archive stands for the folder tree it holds; its members have no
    // paths on disk.
    const bool sourceIsArchive = !IsSourceMapPath(options.source) && IsArchiveSide(options.source);
    const bool targetIsArchive = IsArchiveSide(options.target);
    if (options.list &&
        (*options.list == ComparisonMark::NewerTarget ? targetIsArchive : sourceIsArchive))
        return parser.Fail(err, "--list prints paths of files on disk, and the members of an "
                                "archive have none");
    return std::nullopt;
}

// Collects the rows, or writes them as they come; passes Ctrl+C on and shows
// progress on a terminal.
class CliObserver : public ScanObserver {
public:
    CliObserver(Scanner& scanner, std::ostream& err, bool showProgress)
        : scanner_(scanner), err_(err), showProgress_(showProgress) {}

    /// Writes each row to `output` as it comes, keeping it in `rows` too
    /// only when `keepRows`.
    void StreamTo(RowOutput& output, bool sourceIsMap, bool keepRows) {
        output_ = &output;
        sourceIsMap_ = sourceIsMap;
        keepRows_ = keepRows;
    }

    void PathsChanged(const std::string& source, const std::string& target) override {
        heading_ = {source, target, ScanModeOf(source, target, sourceIsMap_)};
    }

    void RowAdded(ComparisonRow row) override {
        // Counted here, as the counters are in the scan: a row written and
        // not kept is still known to the gate. One that could not be taken
        // (out of memory) is not counted.
        const bool fails = failOn_ != nullptr && failOn_->assemblyVersionDown &&
                           AssemblyVersionWentDown(row);
        AddRow(std::move(row));
        if (fails)
            ++assemblyVersionsDown;
    }

    /// Counts the rows whose assembly version went down against `failOn`.
    void GateOn(const GateConditions& failOn) { failOn_ = &failOn; }

    /// Rows whose assembly version went down, when the gate asks for them.
    std::size_t assemblyVersionsDown = 0;

private:
    void AddRow(ComparisonRow row) {
        if (output_ == nullptr) {
            rows.push_back(std::move(row));
            return;
        }
        if (!begun_) {
            output_->Begin(heading_);
            begun_ = true;
        }
        if (!keepRows_) {
            output_->Row(row);
            return;
        }
        rows.push_back(std::move(row));
        try {
            output_->Row(rows.back());
        } catch (...) {
            rows.pop_back(); // neither written nor kept
            throw;
        }
    }

public:
    /// Whether the output has begun.
    bool Begun() const { return begun_; }

    void FolderChanged(const std::string& folder) override { folder_ = folder; }

    void Progress(const ScanProgress& progress) override {
        // The watcher thread stops a long count too; this also works when
        // that thread could not be made.
        if (gInterrupted.load())
            scanner_.RequestStop();
        if (!showProgress_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastShown_ < std::chrono::milliseconds(100))
            return;
        lastShown_ = now;
        std::string folder = DecodeText(folder_);
        if (Utf8Length(folder) > 50)
            folder = "..." + std::string(Utf8Prefix(folder, 47));
        err_ << "\r\x1b[K" << progress.rowsAdded << "/" << progress.filesProcessed << "  "
             << progress.percent << "%  " << folder << std::flush;
        shown_ = true;
    }

    void ClearProgress() {
        if (shown_)
            err_ << "\r\x1b[K" << std::flush;
    }

    std::vector<ComparisonRow> rows;

private:
    Scanner& scanner_;
    std::ostream& err_;
    bool showProgress_;
    bool shown_ = false;
    std::string folder_;
    std::chrono::steady_clock::time_point lastShown_{};
    RowOutput* output_ = nullptr;
    const GateConditions* failOn_ = nullptr;
    bool sourceIsMap_ = false;
    bool keepRows_ = false;
    bool begun_ = false;
    ScanHeading heading_;
};

// The page in the window's default colours (0xRRGGBB): black on white, newer
// source blue, newer target red, the other differences purple.
void WriteHtml(std::ostream& out, const ScanOutcome& outcome, const CompareOptions& options,
                       const std::vector<ComparisonRow>& rows) {
    ReportHeading heading;
    heading.title = "Sorvane Report";
    heading.source = outcome.source;
    heading.target = outcome.target;
    heading.date = ReportDateText(std::time(nullptr));
    heading.displayMode = DisplayModeCaption(options.show, outcome.mode == ScanMode::SourceOnly);
    heading.counters = ReportCounters(rows);
    std::vector<ReportColumn> columns;
    const std::vector<int> shown = ShownColumns(outcome.mode);
    for (const int column : shown)
        columns.push_back(ReportColumnOf(column));
    const std::pair<ComparisonMark, std::uint32_t> markColors[] = {
        {ComparisonMark::NewerSource, 0x0000FF},     {ComparisonMark::NewerTarget, 0xFF0000},
        {ComparisonMark::UnequalLanguage, 0x800080}, {ComparisonMark::DifferentSize, 0x800080},
        {ComparisonMark::Incomparable, 0x800080},    {ComparisonMark::Orphan, 0x000000},
        {ComparisonMark::Equal, 0x000000}};
    ReportColors colors;
    std::map<ComparisonMark, int> styleOfMark;
    for (const auto& [mark, rgb] : markColors) {
        styleOfMark[mark] = static_cast<int>(colors.styles.size());
        colors.styles.push_back({std::string(ReportClassOfMark(mark)), rgb});
    }
    ReportWriter writer(ReportFormat::Html, StreamSink(out));
    writer.Begin(heading, columns, colors);
    for (const auto& row : rows) {
        const auto style = styleOfMark.find(row.Mark);
        writer.Row(row, shown, style == styleOfMark.end() ? -1 : style->second);
    }
    // A stream that went bad stays bad; main reports the cut output.
    (void)writer.Finish();
}

int Compare(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CompareOptions options;
    if (const auto status = ParseOptions(args, options, out, err))
        return *status;

    ScanRequest request;
    request.source = options.source;
    request.target = options.target;
    request.filter = options.filter;
    request.sourceIsMap = IsSourceMapPath(options.source);
    // A map already holds the sub-folder paths of its entries.
    request.includeSubfolders = options.subfolders && !request.sourceIsMap;
    request.displayMode = options.show;
    request.strictVersions = options.strict;
    request.compareContents = options.content;
    // Only a map saved from the rows needs the hash of every source file.
    request.keepSourceHashes = options.saveMap.has_value();
    request.readThreads = options.threads;

    Scanner scanner;
    CliObserver observer(scanner, err, &err == &std::cerr && ::isatty(STDERR_FILENO) == 1);
    std::unique_ptr<RowOutput> output;
    if (options.list)
        output = MakeListOutput(out, *options.list, options.nullSeparated);
    else if (options.format == Format::Json)
        output = MakeJsonOutput(out);
    else if (options.format == Format::Csv)
        output = MakeCsvOutput(out, CsvCells::ForSpreadsheets);
    else if (options.format == Format::CsvRaw)
        output = MakeCsvOutput(out, CsvCells::Exact);
    else if (options.format == Format::JUnit)
        output = MakeJUnitOutput(out, options.failOn.value_or(GateConditions{}));
    else if (options.format == Format::Github)
        output = MakeGithubOutput(out, options.failOn.value_or(GateConditions{}));
    if (options.failOn)
        observer.GateOn(*options.failOn);
    // Rows in the order they are found are written while the scan runs, so
    // the writing takes no time of its own at the end. Not to a terminal,
    // where the progress line shares the screen.
    const bool streamed = output && options.sortKey == kNoSortKey &&
                          !(&out == &std::cout && ::isatty(STDOUT_FILENO) == 1);
    if (streamed)
        observer.StreamTo(*output, request.sourceIsMap, options.saveMap.has_value());
    gInterrupted.store(false);
    const auto previous = std::signal(SIGINT, OnInterrupt);
    std::jthread watcher;
    try {
        // It looks for Ctrl+C every 50 ms, and ends at once when the scan
        // does: a plain sleep would hold every run up by up to 50 ms.
        watcher = std::jthread([&scanner](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any ended;
            std::unique_lock lock(mutex);
            while (!stop.stop_requested()) {
                if (gInterrupted.load()) {
                    scanner.RequestStop();
                    return;
                }
                ended.wait_for(lock, stop, std::chrono::milliseconds(50), [] { return false; });
            }
        });
    } catch (const std::system_error&) {
        // No thread to spare (a process limit, too little memory for a
        // stack): Ctrl+C is seen after each file.
    } catch (const std::bad_alloc&) {
    }
    const ScanOutcome outcome = scanner.Run(request, observer);
    if (watcher.joinable()) {
        watcher.request_stop();
        watcher.join();
    }
    std::signal(SIGINT, previous);
    observer.ClearProgress();

    if (outcome.mode == ScanMode::None) {
        err << "sorvane-cli: " << (outcome.message.empty() ? "nothing to compare" : outcome.message)
            << "\n";
        return kUsageError;
    }
    std::vector<ComparisonRow>& rows = observer.rows;
    SortRows(rows, options.sortKey, !options.descending);

    int status = 0;
    if (options.saveMap) {
        const std::string header =
            SourceMapHeader(outcome.source, outcome.target, request.sourceIsMap);
        const auto saved = WriteSourceMap(*options.saveMap, header, rows);
        if (!saved) {
            err << "sorvane-cli: cannot save the Source Map " << TerminalText(DecodeText(*options.saveMap)) << ": "
                << saved.error().Message() << "\n";
            status = kUsageError;
        } else if (!saved->skippedNames.empty()) {
            err << "sorvane-cli: " << saved->skippedNames.size()
                << " file(s) left out of the Source Map: a map line cannot hold their names "
                   "(\"|\", \"\\\", a line break, or bytes that are not UTF-8):\n";
            const auto& names = saved->skippedNames;
            for (std::size_t i = 0; i < names.size() && i < kSkippedNamesShown; ++i)
                err << TerminalText(DecodeText(names[i])) << "\n";
            if (names.size() > kSkippedNamesShown)
                err << "and " << names.size() - kSkippedNamesShown << " more\n";
        }
    }

    std::size_t listed = rows.size();
    if (output) {
        if (!observer.Begun())
            output->Begin({outcome.source, outcome.target, outcome.mode});
        if (!streamed)
            for (const auto& row : rows)
                output->Row(row);
        output->End(outcome);
        listed = output->Written();
    } else if (options.format == Format::Html)
        WriteHtml(out, outcome, options, rows);
    else
        WriteTable(out, outcome.mode, rows);
    // Like diff: what could not be read is named on standard error, the
    // rows that could be read are still printed, and the status is 2.
    for (const auto& entry : outcome.unreadable)
        err << "sorvane-cli: " << TerminalText(DecodeText(entry.path)) << ": "
            << UnreadableText(entry) << "\n";
    const bool trouble = outcome.failed || !outcome.unreadable.empty();
    if (!outcome.message.empty() && (options.format != Format::Json || trouble))
        err << outcome.message << "\n";

    if (status != 0)
        return status;
    if (trouble)
        return kUsageError;
    const bool unreadableMap = request.sourceIsMap && outcome.filesProcessed == 0 &&
                               !outcome.messageIsClosing && !outcome.interrupted;
    if (unreadableMap)
        return kUsageError;
    if (options.failOn) {
        // The gate: only rows of the listed categories, or pairs whose
        // assembly version went down, fail the run.
        for (const ComparisonMark mark : options.failOn->marks)
            if (const auto category = CategoryIndex(mark); category && outcome.counters[*category] > 0)
                return 1;
        return observer.assemblyVersionsDown > 0 ? 1 : 0;
    }
    if (outcome.mode == ScanMode::SourceOnly)
        return 0;
    return listed == 0 ? 0 : 1;
}

} // namespace

int RunCompare(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        return Compare(args, out, err);
    } catch (const std::bad_alloc&) {
        // The scan itself ends early with a message; this is for the rest
        // (the arguments, sorting, writing the rows).
        err << "sorvane-cli: not enough memory to go on\n";
        return kUsageError;
    }
}

} // namespace sorvane::cli
