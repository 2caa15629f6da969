#include "scan_driver.h"

#include "folder_enumerator.h"
#include "path_utils.h"
#include "source_map.h"
#include "text_utils.h"
#include "version_reader.h"
#include "worker_pool.h"

#include <cmath>
#include <deque>
#include <mutex>
#include <optional>

namespace sorvane {
namespace {

// One source entry on its way through the scan.
struct Job {
    std::string name;
    std::string ext;
    std::int64_t sourceSize = 0;
    bool fromMap = false;
    std::string mapVersion;
    std::string mapLanguage;
    std::string folder; // the folder being searched, for the status line
};

struct ScanContext {
    std::string source;
    std::string target;
    ScanMode mode = ScanMode::Compare;
    int displayMode = 1;
    bool strict = false;
};

// Names from a map are only trusted below the target folder.
bool IsSafeRelativeName(std::string_view name) {
    if (name.empty() || name.front() == '/')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const auto end = std::min(name.find('/', start), name.size());
        if (name.substr(start, end - start) == "..")
            return false;
        start = end + 1;
    }
    return true;
}

// The per-file step without its bookkeeping: reads both sides and gives the
// row the display mode lets through, if any. Runs on any thread.
std::optional<ComparisonRow> CompareOneFile(const Job& job, const ScanContext& context) {
    if (job.fromMap && !IsSafeRelativeName(job.name))
        return std::nullopt;
    ComparisonRow row;
    row.Name = job.name;
    row.Ext = job.ext;
    const FileKind kind = FileKindOf(row.Ext);
    const std::string sourcePath = JoinPath(context.source, row.Name);
    const std::string targetPath = JoinPath(context.target, row.Name);

    VersionTexts source;
    if (job.fromMap) {
        source.version = job.mapVersion;
        source.language = job.mapLanguage;
    } else {
        source = ScanTexts(ReadFileVersionData(sourcePath, kind));
    }
    if (source.version.empty())
        return std::nullopt;
    row.SourceVersion = source.version;
    row.SourceLanguage = source.language;
    row.SourceSize = job.sourceSize;

    if (context.mode == ScanMode::SourceOnly) {
        row.Description = source.description;
        row.Copyright = source.copyright;
        return row;
    }

    const FileVersionData targetData = ReadFileVersionData(targetPath, kind);
    const VersionTexts target = ScanTexts(targetData);
    row.TargetVersion = target.version;
    row.TargetLanguage = target.language;
    if (kind == FileKind::TypeLibrary && !targetData.typeLibrary) {
        row.Description = source.description; // the source's help string stays
    } else {
        row.Description = target.description;
        row.Copyright = target.copyright;
    }

    if (target.version.empty()) {
        if (context.displayMode != static_cast<int>(DisplayMode::AllVersioned))
            return std::nullopt;
        row.Mark = ComparisonMark::Orphan;
        return row;
    }
    row.Mark = DecideMark(FileSide{sourcePath, source.version, source.language, row.SourceSize},
                          FileSide{targetPath, target.version, target.language, targetData.size},
                          context.strict);
    if (!ShouldShowRow(row.Mark, context.displayMode))
        return std::nullopt;
    row.Busy = IsBusy(targetPath);
    return row;
}

// Applies finished entries in their original order and keeps the counts.
class RowCollector {
public:
    RowCollector(ScanObserver& observer, ScanOutcome& outcome, const std::atomic<bool>& stop)
        : observer_(observer), outcome_(outcome), stop_(stop) {}

    /// Books one finished entry; returns false once a stop was requested.
    bool Finish(const Job& job, std::optional<ComparisonRow> row) {
        if (row) {
            outcome_.counters.Count(row->Mark);
            ++outcome_.rowsAdded;
            observer_.RowAdded(*row);
        }
        if (!job.folder.empty() && !EqualsIgnoreCase(job.folder, folder_)) {
            folder_ = job.folder;
            observer_.FolderChanged(folder_);
        }
        ++outcome_.filesProcessed;
        ScanProgress progress;
        progress.rowsAdded = outcome_.rowsAdded;
        progress.filesProcessed = outcome_.filesProcessed;
        progress.totalFiles = outcome_.totalFiles;
        progress.percent = Percent(outcome_.filesProcessed, outcome_.totalFiles);
        observer_.Progress(progress);
        if (stop_.load())
            stopped_ = true;
        return !stopped_;
    }

    bool Stopped() const { return stopped_; }

    /// The share of files done: 100 times the count, rounded, divided by the
    /// total with the remainder dropped.
    static int Percent(std::int64_t done, std::int64_t total) {
        if (total <= 0)
            return 0;
        const std::int64_t q = (100 * done) / total;
        return static_cast<int>(std::clamp<std::int64_t>(q, 0, 100));
    }

private:
    ScanObserver& observer_;
    ScanOutcome& outcome_;
    const std::atomic<bool>& stop_;
    std::string folder_;
    bool stopped_ = false;
};

// Reads entries ahead on worker threads while finishing them in order.
class Pipeline {
public:
    Pipeline(const ScanContext& context, RowCollector& collector, int threads)
        : context_(context), collector_(collector) {
        if (threads > 0) {
            pool_.emplace(threads);
            window_ = static_cast<std::size_t>(threads) * 4;
        }
    }

    /// Takes one entry; returns false when the scan must end.
    bool Add(Job job) {
        if (collector_.Stopped())
            return false;
        if (!pool_) {
            auto row = CompareOneFile(job, context_);
            return collector_.Finish(job, std::move(row));
        }
        auto future = pool_->Submit([job, this] { return CompareOneFile(job, context_); });
        inFlight_.emplace_back(std::move(job), std::move(future));
        while (inFlight_.size() >= window_)
            if (!FinishOldest())
                return false;
        return true;
    }

    /// Finishes what is still in flight, unless a stop was requested.
    void Drain() {
        while (!inFlight_.empty() && !collector_.Stopped())
            FinishOldest();
        if (pool_)
            pool_->DropPending();
        inFlight_.clear();
    }

private:
    bool FinishOldest() {
        auto [job, future] = std::move(inFlight_.front());
        inFlight_.pop_front();
        std::optional<ComparisonRow> row;
        try {
            row = future.get();
        } catch (const std::exception&) {
            // A file that could not be read (memory, a vanished file) gets no row.
        }
        return collector_.Finish(job, std::move(row));
    }

    const ScanContext& context_;
    RowCollector& collector_;
    std::optional<WorkerPool> pool_;
    std::size_t window_ = 1;
    std::deque<std::pair<Job, std::future<std::optional<ComparisonRow>>>> inFlight_;
};

} // namespace

std::optional<ScanOutcome> CheckScanRequest(const ScanRequest& request) {
    // Checked after normalisation, so a quoted path or one with a trailing
    // "/" is taken for the folder it names, and a folder is never compared
    // with itself.
    ScanOutcome outcome;
    outcome.source = NormalizeFolderPath(request.source, false);
    outcome.target = NormalizeFolderPath(request.target, false);
    if (outcome.source.empty() && outcome.target.empty())
        return outcome;
    // One folder under two names (a link, "./", a second mount of it) would
    // list every file against itself; two names that differ only in letter
    // case are two folders here.
    if (!request.sourceIsMap && SameFolder(outcome.source, outcome.target)) {
        outcome.message = kSameFolderMessage;
        return outcome;
    }
    if (!outcome.source.empty() && !FolderExists(outcome.source) && !request.sourceIsMap) {
        outcome.message = kSourceMissingMessage;
        return outcome;
    }
    if (!outcome.target.empty() && !FolderExists(outcome.target)) {
        outcome.message = kTargetMissingMessage;
        return outcome;
    }
    return std::nullopt;
}

std::string JoinPath(std::string_view folder, std::string_view relative) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/')
        path.push_back('/');
    path.append(relative);
    return path;
}

std::string SkippedMapLinesText(std::int64_t count) {
    return count == 1 ? std::string("1 line of the Source Map was skipped (no name or version, "
                                    "or a name outside the folder).")
                      : std::to_string(count) +
                            " lines of the Source Map were skipped (no name or version, or a "
                            "name outside the folder).";
}

void Scanner::Arm() {
    stopRequested_.store(false);
    armed_.store(true);
}

ScanOutcome Scanner::Run(const ScanRequest& request, ScanObserver& observer) {
    if (!armed_.load())
        Arm();
    // Whatever happens, the next scan starts unarmed and without a stop.
    struct Disarm {
        Scanner& scanner;
        ~Disarm() {
            scanner.stopRequested_.store(false);
            scanner.armed_.store(false);
        }
    } disarm{*this};
    if (auto refused = CheckScanRequest(request))
        return *std::move(refused);
    ScanOutcome outcome;
    ScanContext context;
    context.source = NormalizeFolderPath(request.source, false);
    context.target = NormalizeFolderPath(request.target, false);
    outcome.source = context.source;
    outcome.target = context.target;
    context.displayMode = request.displayMode;
    context.strict = request.strictVersions;
    context.mode = (!context.source.empty() && context.target.empty() && !request.sourceIsMap)
                       ? ScanMode::SourceOnly
                       : ScanMode::Compare;
    outcome.mode = context.mode;
    observer.PathsChanged(context.source, context.target);

    RowCollector collector(observer, outcome, stopRequested_);
    if (request.sourceIsMap) {
        outcome.totalFiles = CountFileLines(context.source) - 1;
        auto map = SourceMapReader::Open(context.source);
        if (!map) {
            outcome.message = "Source Map cannot be read: " + context.source;
        } else {
            if (context.target.empty()) {
                context.target = map->Header();
                outcome.target = context.target;
                observer.PathsChanged(context.source, context.target);
            }
            Pipeline pipeline(context, collector, request.readThreads);
            while (auto entry = map->Next()) {
                if (entry->Version.empty() || !IsSafeRelativeName(entry->Name))
                    ++outcome.skippedMapLines;
                Job job;
                job.name = std::move(entry->Name);
                job.ext = std::move(entry->Ext);
                job.sourceSize = entry->Size;
                job.fromMap = true;
                job.mapVersion = std::move(entry->Version);
                job.mapLanguage = std::move(entry->Language);
                if (!pipeline.Add(std::move(job)))
                    break;
            }
            pipeline.Drain();
        }
    } else {
        FolderEnumerator walk;
        walk.FileFilter = request.filter;
        walk.IncludeSubfolders = request.includeSubfolders;
        {
            std::lock_guard lock(walkMutex_);
            activeWalk_ = &walk;
        }
        outcome.totalFiles = walk.CountFiles(context.source);
        Pipeline pipeline(context, collector, request.readThreads);
        walk.SearchFiles(context.source, [&](const std::string& relative, bool& cancel) {
            Job job;
            job.name = relative;
            job.ext = ExtensionOf(relative);
            job.sourceSize = walk.CurrentFileSize();
            job.folder = walk.CurrentFolder();
            if (!pipeline.Add(std::move(job)))
                cancel = true;
        });
        pipeline.Drain();
        std::lock_guard lock(walkMutex_);
        activeWalk_ = nullptr;
    }

    if (stopRequested_.load()) {
        outcome.interrupted = true;
        outcome.message = kInterruptedMessage;
    }
    if (outcome.message.empty() && outcome.rowsAdded < 1) {
        outcome.message = (!context.source.empty() && !context.target.empty())
                              ? kNoDifferencesMessage
                              : kNoVersionsMessage;
        outcome.messageIsClosing = true;
    }
    if (outcome.skippedMapLines > 0) {
        if (!outcome.message.empty())
            outcome.message += ' ';
        outcome.message += SkippedMapLinesText(outcome.skippedMapLines);
    }
    return outcome;
}

void Scanner::RequestStop() {
    stopRequested_.store(true);
    std::lock_guard lock(walkMutex_);
    if (activeWalk_ != nullptr)
        activeWalk_->RequestStop();
}

} // namespace sorvane
