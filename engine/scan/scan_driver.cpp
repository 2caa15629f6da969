#include "engine/scan/scan_driver.h"

#include "engine/archive/packed_tree.h"
#include "engine/scan/archive_side.h"
#include "engine/scan/folder_enumerator.h"
#include "engine/files/opened_file.h"
#include "engine/scan/ordered_pool.h"
#include "engine/text/path_utils.h"
#include "engine/scan/source_map.h"
#include "engine/text/text_utils.h"
#include "engine/formats/version_reader.h"

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#include <condition_variable>
#include <unordered_set>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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
    std::optional<ContentHash> mapHash;
    // A member of an archive Source: its texts were read with the archive.
    const ArchiveEntry* member = nullptr;
    // The folder being searched, for the status line; shared by the files
    // of one folder.
    std::shared_ptr<const std::string> folder;
};

// True when the process may open many more descriptors than a scan holds
// at once. A process left with only a few keeps them for the walk and the
// files themselves.
bool ManyDescriptorsFree() {
    constexpr rlim_t kWanted = 64;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 1u << 20)
        return true;
    DIR* open = ::opendir("/proc/self/fd");
    if (open == nullptr)
        return false;
    rlim_t used = 0; // counts the listing's own descriptor too: one to spare
    while (const dirent* e = ::readdir(open))
        if (e->d_name[0] != '.')
            ++used;
    ::closedir(open);
    return used < limit.rlim_cur && limit.rlim_cur - used >= kWanted;
}

// A folder held open while the scan reads below it, so each file is opened
// by its path within the folder. Closed (-1) when it could not be opened or
// descriptors are scarce; the files are then opened by their whole paths.
class HeldFolder {
public:
    HeldFolder() = default;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    ~HeldFolder() { Close(); }

    /// Opens `path` when descriptors are `plentiful`.
    void Open(const std::string& path, bool plentiful) {
        Close();
        if (!path.empty() && plentiful)
            fd_ = OpenLongPath(path, O_PATH | O_DIRECTORY);
    }
    int fd() const { return fd_; }

private:
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
};

struct ScanContext {
    std::string source;
    std::string target;
    HeldFolder sourceFolder;
    HeldFolder targetFolder;
    /// Many more descriptors free than a scan holds at once (asked once, as
    /// the scan starts).
    bool descriptorsPlentiful = false;
    ScanMode mode = ScanMode::Compare;
    int displayMode = 1;
    bool strict = false;
    bool compareContents = false;
    /// Every row keeps the hash of its source file (contents compared).
    bool keepSourceHashes = false;
    /// Which file systems of the target files are mounted read-only.
    ReadOnlyMounts mounts;
    /// The sides that are archives, read before the walk.
    const ArchiveSide* sourceArchive = nullptr;
    const ArchiveSide* targetArchive = nullptr;
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

// What the per-file step gives: a row, nothing, or a file it could not read.
struct FileResult {
    std::optional<ComparisonRow> row;
    std::optional<UnreadableEntry> unreadable;

    /// The descriptors ran out; read alone, the file may open.
    bool OutOfDescriptors() const {
        return unreadable && (unreadable->error == std::errc::too_many_files_open ||
                              unreadable->error == std::errc::too_many_files_open_in_system);
    }
};

FileResult Unreadable(std::string path, std::error_code error) {
    // The system's memory running out is no fault of the file: it ends the
    // scan like ours does.
    if (error == std::errc::not_enough_memory)
        throw std::bad_alloc();
    FileResult result;
    result.unreadable = UnreadableEntry{std::move(path), error};
    return result;
}

// Opens `relative` below the folder `held` or, when that is not open, by its
// whole path below `folder`; then reads it. The file stays open in `file`.
ScanFileTexts ReadSide(const HeldFolder& held, std::string_view folder, const std::string& relative,
                       FileKind kind, std::unique_ptr<OpenedFile>& file) {
    std::error_code error;
    file = held.fd() >= 0 ? OpenedFile::OpenAt(held.fd(), relative, error)
                          : OpenedFile::Open(JoinPath(folder, relative), error);
    return ReadScanTexts(file.get(), error, kind);
}

// Puts the hash of the source file into a row that keeps one and has none
// yet; the error of a read that failed.
std::error_code KeepSourceHash(ComparisonRow& row, const OpenedFile* sourceFile,
                               const ScanContext& context) {
    if (!context.keepSourceHashes || row.SourceHash || sourceFile == nullptr)
        return {};
    const auto hash = sourceFile->HashContents();
    if (!hash)
        return hash.error().code;
    row.SourceHash = *hash;
    return {};
}

// The per-file step without its bookkeeping: reads both sides and gives the
// row the display mode lets through, if any. Runs on any thread. The full
// paths of the two files are put together only when a message needs them.
FileResult CompareOneFile(const Job& job, const ScanContext& context) {
    if (job.fromMap && !IsSafeRelativeName(job.name))
        return {};
    ComparisonRow row;
    row.Name = job.name;
    row.Ext = job.ext;
    const FileKind kind = FileKindOf(row.Ext);

    VersionTexts source;
    std::unique_ptr<OpenedFile> sourceFile;
    // A member whose bytes are missing has the version its package declares.
    bool sourceDeclared = false;
    if (job.fromMap) {
        source.version = job.mapVersion;
        source.language = job.mapLanguage;
        row.SourceHash = job.mapHash;
    } else if (job.member != nullptr) {
        if (job.member->failure)
            return Unreadable(JoinPath(context.source, row.Name), job.member->failure);
        source = job.member->texts;
        row.SourceSize = job.member->size;
        row.SourceAssemblyVersion = job.member->assemblyVersion;
        row.SourceHash = job.member->hash;
        // A copy holds to the archive the member was read from.
        row.SourceStamp = context.sourceArchive->stamp;
        sourceDeclared = job.member->bytesMissing;
    } else {
        ScanFileTexts sourceData =
            ReadSide(context.sourceFolder, context.source, row.Name, kind, sourceFile);
        if (sourceData.error)
            return Unreadable(JoinPath(context.source, row.Name), sourceData.error);
        source = std::move(sourceData.texts);
        row.SourceSize = sourceData.size; // the file whose version was read
        row.SourceAssemblyVersion = std::move(sourceData.assemblyVersion);
        if (sourceFile)
            row.SourceStamp = sourceFile->Stamp();
        // One descriptor at a time, but for a pair whose bytes may be compared.
        if (!context.compareContents)
            sourceFile.reset();
    }
    if (source.version.empty())
        return {};
    row.SourceVersion = std::move(source.version);
    row.SourceLanguage = std::move(source.language);
    if (job.fromMap)
        row.SourceSize = job.sourceSize;

    if (context.mode == ScanMode::SourceOnly) {
        row.Description = sourceDeclared ? DeclaredVersionNote(true, false)
                                         : std::move(source.description);
        row.Copyright = std::move(source.copyright);
        if (const auto failed = KeepSourceHash(row, sourceFile.get(), context))
            return Unreadable(JoinPath(context.source, row.Name), failed);
        return {std::move(row), std::nullopt};
    }

    // A target that is there but cannot be read is no orphan: nothing is
    // known about how it compares, so it gives no row and is listed instead.
    std::unique_ptr<OpenedFile> targetFile;
    const ArchiveEntry* targetMember = nullptr;
    ScanFileTexts targetData;
    bool targetDeclared = false;
    if (context.targetArchive != nullptr) {
        // A member of an archive Target: read with the archive. It stays
        // where it is, so there is nothing to hold a copy to.
        if ((targetMember = context.targetArchive->Find(row.Name))) {
            if (targetMember->failure)
                return Unreadable(JoinPath(context.target, row.Name), targetMember->failure);
            targetData.texts = targetMember->texts;
            targetData.size = targetMember->size;
            targetData.typeLibrary = targetMember->typeLibrary;
            targetData.assemblyVersion = targetMember->assemblyVersion;
            targetDeclared = targetMember->bytesMissing;
        }
    } else {
        targetData = ReadSide(context.targetFolder, context.target, row.Name, kind, targetFile);
        if (targetData.error)
            return Unreadable(JoinPath(context.target, row.Name), targetData.error);
        row.TargetStamp = targetFile ? targetFile->Stamp() : FileStamp::Missing();
    }
    VersionTexts target = std::move(targetData.texts);
    row.TargetVersion = std::move(target.version);
    row.TargetLanguage = std::move(target.language);
    row.TargetAssemblyVersion = std::move(targetData.assemblyVersion);
    if (kind == FileKind::TypeLibrary && !targetData.typeLibrary) {
        row.Description = std::move(source.description); // the source's help string stays
    } else {
        row.Description = std::move(target.description);
        row.Copyright = std::move(target.copyright);
    }
    // Where a version is the File table's, the row says so in its place.
    if (sourceDeclared || (targetDeclared && !row.TargetVersion.empty()))
        row.Description =
            DeclaredVersionNote(sourceDeclared, targetDeclared && !row.TargetVersion.empty());

    if (row.TargetVersion.empty()) {
        if (context.displayMode != static_cast<int>(DisplayMode::AllVersioned))
            return {};
        row.Mark = ComparisonMark::Orphan;
        if (const auto failed = KeepSourceHash(row, sourceFile.get(), context))
            return Unreadable(JoinPath(context.source, row.Name), failed);
        return {std::move(row), std::nullopt};
    }
    // The texts are lent to the two sides for the decision and taken back:
    // the mark needs no path.
    FileSide sourceSide{
        {}, std::move(row.SourceVersion), std::move(row.SourceLanguage), row.SourceSize};
    FileSide targetSide{
        {}, std::move(row.TargetVersion), std::move(row.TargetLanguage), targetData.size};
    row.Mark = DecideMark(sourceSide, targetSide, context.strict);
    row.SourceVersion = std::move(sourceSide.Version);
    row.SourceLanguage = std::move(sourceSide.Language);
    row.TargetVersion = std::move(targetSide.Version);
    row.TargetLanguage = std::move(targetSide.Language);
    // Same version, same size: with contents compared, different bytes make
    // it "same version, different file" all the same. The source's hash is
    // that of its file, of its archive member (hashed as the archive was
    // read), or the one its map entry holds (an entry without one has no
    // bytes to compare).
    if (context.compareContents && row.Mark == ComparisonMark::Equal &&
        (targetFile || targetMember)) {
        if (!row.SourceHash && sourceFile) {
            const auto sourceHash = sourceFile->HashContents();
            if (!sourceHash)
                return Unreadable(JoinPath(context.source, row.Name), sourceHash.error().code);
            row.SourceHash = *sourceHash;
        }
        if (row.SourceHash) {
            std::optional<ContentHash> targetHash;
            if (targetMember) {
                targetHash = targetMember->hash;
            } else if (auto hash = targetFile->HashContents()) {
                targetHash = *hash;
            } else {
                return Unreadable(JoinPath(context.target, row.Name), hash.error().code);
            }
            if (targetHash && *row.SourceHash != *targetHash)
                row.Mark = ComparisonMark::DifferentSize;
        }
    }
    if (!ShouldShowRow(row.Mark, context.displayMode))
        return {};
    if (const auto failed = KeepSourceHash(row, sourceFile.get(), context))
        return Unreadable(JoinPath(context.source, row.Name), failed);
    // Asked of the open file: its path need not be looked up once more. An
    // archive's member is not written in place, so it is never busy.
    if (context.targetArchive == nullptr) {
        const auto writable = targetFile ? targetFile->Writable(&context.mounts) : std::nullopt;
        row.Busy = writable ? !*writable : IsBusy(JoinPath(context.target, row.Name));
    }
    return {std::move(row), std::nullopt};
}

// Applies finished entries in their original order and keeps the counts.
class RowCollector {
public:
    RowCollector(ScanObserver& observer, ScanOutcome& outcome, const std::atomic<bool>& stop)
        : observer_(observer), outcome_(outcome), stop_(stop) {}

    /// Books one finished entry; returns false once a stop was requested.
    bool Finish(const Job& job, FileResult result) {
        if (result.row) {
            // Counted once the observer took it: one that runs out of memory
            // taking it leaves the counts as they were.
            const ComparisonMark mark = result.row->Mark;
            observer_.RowAdded(std::move(*result.row));
            outcome_.counters.Count(mark);
            ++outcome_.rowsAdded;
        }
        if (result.unreadable)
            outcome_.unreadable.push_back(std::move(*result.unreadable));
        if (job.folder && job.folder != lastFolder_) {
            lastFolder_ = job.folder;
            if (!job.folder->empty() && !EqualsIgnoreCase(*job.folder, folder_)) {
                folder_ = *job.folder;
                observer_.FolderChanged(folder_);
            }
        }
        ++outcome_.filesProcessed;
        Report();
        if (stop_.load())
            stopped_ = true;
        return !stopped_;
    }

    /// Reports the progress once more when the total became known after the
    /// last file was booked, so the last report holds the whole count.
    void ReportTotalIfNew() {
        if (outcome_.totalFiles != reportedTotal_ && outcome_.filesProcessed > 0)
            Report();
    }

    bool Stopped() const { return stopped_; }

    /// Progress while an archive side is read, before its rows: the members
    /// read so far and how far through the archive.
    std::function<void(std::int64_t, int)> ArchiveProgress() {
        return [this](std::int64_t members, int percent) {
            ScanProgress progress;
            progress.rowsAdded = outcome_.rowsAdded;
            progress.filesProcessed = members;
            progress.percent = percent;
            observer_.Progress(progress);
        };
    }

private:
    void Report() {
        ScanProgress progress;
        progress.rowsAdded = outcome_.rowsAdded;
        progress.filesProcessed = outcome_.filesProcessed;
        progress.totalFiles = outcome_.totalFiles;
        progress.percent = Percent(outcome_.filesProcessed, outcome_.totalFiles);
        reportedTotal_ = progress.totalFiles;
        observer_.Progress(progress);
    }

public:

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
    std::int64_t reportedTotal_ = 0;
    std::string folder_;
    std::shared_ptr<const std::string> lastFolder_;
    bool stopped_ = false;
};

// How many reading threads start: with the scanning thread, one per core.
// Files in the cache keep the cores busy, and more threads would only take
// turns on them; files that must come from the disk bring the rest in.
int ReadersAtFirst(int threads) {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    const int usable = ::sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores)
                                                                        : threads + 1;
    return std::clamp(usable - 1, 1, std::max(threads, 1));
}

// Reads entries ahead on worker threads while finishing them in order.
class Pipeline {
public:
    Pipeline(const ScanContext& context, RowCollector& collector, int threads)
        : context_(context), collector_(collector) {
        if (threads > 0) {
            pool_.emplace(
                threads, static_cast<std::size_t>(threads) * kJobsAheadPerThread,
                [this](const Job& job) { return ReadOne(job); }, ReadersAtFirst(threads), [this] {
                    KeepOnlyDescriptors(
                        {context_.sourceFolder.fd(), context_.targetFolder.fd()});
                });
            if (pool_->Threads() == 0)
                pool_.reset(); // no thread could be made: read here
        }
    }

    /// Takes one entry; returns false when the scan must end.
    bool Add(Job job) {
        if (collector_.Stopped())
            return false;
        if (pool_ && pool_->Threads() > 0) {
            while (pool_->Full())
                if (!FinishOldest())
                    return false;
            if (pool_->Threads() > 0) {
                pool_->Push(std::move(job));
                return true;
            }
        }
        // The workers were given up: what they read still comes first.
        while (pool_ && !pool_->Empty())
            if (!FinishOldest())
                return false;
        return collector_.Finish(job, CompareOneFile(job, context_));
    }

    /// Finishes what is still in flight, unless a stop was requested.
    void Drain() {
        while (pool_ && !pool_->Empty() && !collector_.Stopped())
            FinishOldest();
        pool_.reset(); // drops what was not read yet
    }

private:
    // Enough entries ahead that a thread seldom finds the queue empty, few
    // enough that a stop drops little work.
    static constexpr std::size_t kJobsAheadPerThread = 32;

    struct ReadResult {
        FileResult result;
        bool outOfMemory = false;
    };

    ReadResult ReadOne(const Job& job) const {
        try {
            return {CompareOneFile(job, context_), false};
        } catch (const std::bad_alloc&) {
            return {{}, true};
        }
    }

    bool FinishOldest() {
        auto [job, read] = pool_->PopOldest();
        if (read.outOfMemory || read.result.OutOfDescriptors()) {
            // Open files and memory may have run short only because several
            // files were read at once: from here on one file at a time. What
            // fails then is reported (or, for memory, ends the scan).
            pool_->Stop();
            read.result = CompareOneFile(job, context_);
        }
        return collector_.Finish(job, std::move(read.result));
    }

    const ScanContext& context_;
    RowCollector& collector_;
    std::optional<OrderedPool<Job, ReadResult>> pool_;
};

void WalkMap(ScanContext& context, const ScanRequest& request, ScanObserver& observer,
             RowCollector& collector, ScanOutcome& outcome) {
    outcome.totalFiles = CountFileLines(context.source) - 1;
    auto map = SourceMapReader::Open(context.source);
    if (!map) {
        outcome.message = "Source Map cannot be read: " + context.source;
        return;
    }
    if (context.target.empty()) {
        context.target = map->Header();
        context.targetFolder.Open(context.target, context.descriptorsPlentiful);
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
        job.mapHash = entry->Hash;
        if (!pipeline.Add(std::move(job)))
            break;
    }
    pipeline.Drain();
}

// The folder walk on a thread of its own, handing over the files of each
// folder as soon as it is listed: the reads start long before a large tree
// has been walked to its end.
class WalkFeed {
public:
    struct Batch {
        std::shared_ptr<const std::string> folder;
        std::vector<std::string> names;
    };

    /// Starts the walk; throws std::system_error when no thread can be made.
    WalkFeed(FolderEnumerator& walk, const std::string& root) : walk_(walk) {
        thread_ = std::thread([this, root] {
            KeepOnlyDescriptors({}); // it opens folders by their paths
            Walk(root);
        });
    }

    /// Ends a walk that is still going and waits for its thread.
    ~WalkFeed() { Finish(); }

    WalkFeed(const WalkFeed&) = delete;
    WalkFeed& operator=(const WalkFeed&) = delete;

    /// The files of the next folder, or nothing once the walk has ended;
    /// rethrows what ended the walk, after the folders listed before.
    std::optional<Batch> Next() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !batches_.empty() || ended_; });
        if (!batches_.empty()) {
            Batch batch = std::move(batches_.front());
            batches_.pop_front();
            return batch;
        }
        if (error_)
            std::rethrow_exception(std::exchange(error_, nullptr));
        return std::nullopt;
    }

    /// The number of files found, once the walk has ended; -1 before.
    std::int64_t Total() const { return total_.load(std::memory_order_acquire); }

    /// Stops the walk if it still goes and waits for it to end.
    void Finish() {
        if (!thread_.joinable())
            return;
        if (Total() < 0)
            walk_.RequestStop();
        thread_.join();
    }

private:
    void Walk(const std::string& root) {
        std::int64_t total = 0;
        std::exception_ptr error;
        try {
            total = walk_.WalkFolders(root, [this](const std::string& folder,
                                                   std::vector<std::string>&& names) {
                Batch batch{std::make_shared<const std::string>(folder), std::move(names)};
                {
                    std::lock_guard lock(mutex_);
                    batches_.push_back(std::move(batch));
                }
                ready_.notify_one();
            });
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            error_ = error;
            total_.store(total, std::memory_order_release);
        }
        ready_.notify_one();
    }

    FolderEnumerator& walk_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Batch> batches_;
    bool ended_ = false;
    std::exception_ptr error_;
    std::atomic<std::int64_t> total_{-1};
    std::thread thread_;
};

// Reads the files while the walk still lists folders. The progress total is
// 0 until the walk has ended and then the number of files, so the share done
// never passes 100% nor goes back. What the walk could not read comes before
// the files that could not be read, as when the walk runs first.
bool WalkFolderAlongside(FolderEnumerator& walk, const ScanContext& context,
                         const ScanRequest& request, RowCollector& collector,
                         ScanOutcome& outcome) {
    walk.FileFilter = request.filter;
    walk.IncludeSubfolders = request.includeSubfolders;
    std::optional<WalkFeed> feed;
    try {
        feed.emplace(walk, context.source);
    } catch (const std::system_error&) {
        return false; // no thread for the walk: it runs first
    }
    Pipeline pipeline(context, collector, request.readThreads);
    const auto walkListFirst = [&] {
        feed->Finish();
        if (feed->Total() >= 0)
            outcome.totalFiles = feed->Total();
        const auto& listed = walk.Unreadable();
        outcome.unreadable.insert(outcome.unreadable.begin(), listed.begin(), listed.end());
    };
    try {
        bool going = true;
        while (going) {
            auto batch = feed->Next();
            if (!batch)
                break;
            for (std::string& name : batch->names) {
                if (outcome.totalFiles == 0 && feed->Total() >= 0)
                    outcome.totalFiles = feed->Total();
                Job job;
                job.ext = ExtensionOf(name);
                job.name = std::move(name);
                job.folder = batch->folder;
                if (!pipeline.Add(std::move(job))) {
                    going = false;
                    break;
                }
            }
        }
        // The walk has ended when it hands out nothing more: the files still
        // being read are counted against the whole total.
        if (going && feed->Total() >= 0)
            outcome.totalFiles = feed->Total();
        pipeline.Drain();
        if (going)
            collector.ReportTotalIfNew();
    } catch (...) {
        walkListFirst();
        throw;
    }
    walkListFirst();
    return true;
}

void WalkFolder(FolderEnumerator& walk, const ScanContext& context, const ScanRequest& request,
                RowCollector& collector, ScanOutcome& outcome) {
    // Without threads to read, the walk runs first on this thread too. So it
    // does when open files are scarce: a walk that holds a folder open while
    // the files are read could leave none for them.
    if (request.readThreads > 0 && context.descriptorsPlentiful &&
        WalkFolderAlongside(walk, context, request, collector, outcome))
        return;
    walk.FileFilter = request.filter;
    walk.IncludeSubfolders = request.includeSubfolders;
    outcome.totalFiles = walk.CountFiles(context.source);
    outcome.unreadable = walk.Unreadable();
    Pipeline pipeline(context, collector, request.readThreads);
    std::shared_ptr<const std::string> folder;
    walk.SearchFiles(context.source, [&](const std::string& relative, bool& cancel) {
        Job job;
        job.name = relative;
        job.ext = ExtensionOf(relative);
        // The size comes from the file when it is read.
        if (!folder || *folder != walk.CurrentFolder())
            folder = std::make_shared<const std::string>(walk.CurrentFolder());
        job.folder = folder;
        if (!pipeline.Add(std::move(job)))
            cancel = true;
    });
    pipeline.Drain();
}

// An archive Source: the members read with it, walked like the files of a
// folder. The status line shows the archive's folder being gone through.
void WalkArchive(const ArchiveSide& side, const ScanContext& context, const ScanRequest& request,
                 RowCollector& collector, ScanOutcome& outcome) {
    outcome.totalFiles = static_cast<std::int64_t>(side.entries.size());
    Pipeline pipeline(context, collector, request.readThreads);
    std::shared_ptr<const std::string> folder;
    std::string_view folderName;
    for (const ArchiveEntry& entry : side.entries) {
        Job job;
        job.name = entry.name;
        job.ext = ExtensionOf(entry.name);
        job.member = &entry;
        const auto slash = entry.name.rfind('/');
        const std::string_view here =
            slash == std::string::npos ? std::string_view() : std::string_view(entry.name).substr(0, slash);
        if (!folder || here != folderName) {
            folder = std::make_shared<const std::string>(here.empty() ? side.path
                                                                       : JoinPath(side.path, here));
            folderName = here;
        }
        job.folder = folder;
        if (!pipeline.Add(std::move(job)))
            break;
    }
    pipeline.Drain();
}

// Reads the Source (`isTarget` false) or Target archive into `side`, its
// progress told through `collector`, and books it: what it could not read
// (members without a path, the archive itself when it could not be read on)
// goes to the outcome's list, and the scan and the outcome take the side.
// A Target is read for the members of `names` only.
void ReadArchive(bool isTarget, ArchiveSideRequest wanted, ScanContext& context,
                 RowCollector& collector, ScanOutcome& outcome, std::optional<ArchiveSide>& side,
                 const std::atomic<bool>& stop,
                 const std::unordered_set<std::string>* names = nullptr) {
    if (isTarget) {
        wanted.includeSubfolders = true;
        wanted.names = names;
    }
    wanted.hashContents = context.compareContents;
    wanted.progress = collector.ArchiveProgress();
    side = ReadArchiveSide(isTarget ? context.target : context.source, wanted, stop);
    outcome.unreadable.insert(outcome.unreadable.end(), side->unreadable.begin(),
                              side->unreadable.end());
    if (side->failure) {
        if (side->failure->code == std::errc::not_enough_memory)
            throw std::bad_alloc();
        outcome.unreadable.push_back({side->path, side->failure->code, side->failure->detail});
    }
    (isTarget ? context.targetArchive : context.sourceArchive) = &*side;
    (isTarget ? outcome.targetMembers : outcome.sourceMembers) = MemberTableOf(*side);
}

// A folder Source against an archive Target: the folder is walked first, so
// that only the members it has names for are read from the archive.
void WalkFolderAgainstArchive(FolderEnumerator& walk, ScanContext& context,
                              const ScanRequest& request, RowCollector& collector,
                              ScanOutcome& outcome, std::optional<ArchiveSide>& target,
                              const std::atomic<bool>& stop) {
    walk.FileFilter = request.filter;
    walk.IncludeSubfolders = request.includeSubfolders;
    struct Listed {
        std::shared_ptr<const std::string> folder;
        std::vector<std::string> names;
    };
    std::vector<Listed> folders;
    std::unordered_set<std::string> names;
    outcome.totalFiles = walk.WalkFolders(
        context.source, [&](const std::string& folder, std::vector<std::string>&& paths) {
            names.insert(paths.begin(), paths.end());
            folders.push_back({std::make_shared<const std::string>(folder), std::move(paths)});
        });
    outcome.unreadable = walk.Unreadable();
    if (stop.load())
        return;
    ReadArchive(true, {}, context, collector, outcome, target, stop, &names);
    names.clear();
    // Names a target read only in part does not have are not known to be
    // missing: no orphans from it, as from a folder that cannot be listed.
    if (target->stopped || target->failure)
        return;
    Pipeline pipeline(context, collector, request.readThreads);
    for (Listed& listed : folders) {
        for (std::string& name : listed.names) {
            Job job;
            job.ext = ExtensionOf(name);
            job.name = std::move(name);
            job.folder = listed.folder;
            if (!pipeline.Add(std::move(job))) {
                pipeline.Drain();
                return;
            }
        }
    }
    pipeline.Drain();
}

// The names of a Source Map's entries that a target may have.
std::unordered_set<std::string> MapNames(const std::string& path) {
    std::unordered_set<std::string> names;
    if (auto map = SourceMapReader::Open(path))
        while (auto entry = map->Next())
            if (IsSafeRelativeName(entry->Name))
                names.insert(std::move(entry->Name));
    return names;
}

void AppendSentence(std::string& message, const std::string& sentence) {
    if (!message.empty())
        message += ' ';
    message += sentence;
}

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
    // An archive stands for the folder tree it holds.
    if (!outcome.source.empty() && !FolderExists(outcome.source) && !request.sourceIsMap &&
        !IsPackedTree(outcome.source)) {
        outcome.message = kSourceMissingMessage;
        return outcome;
    }
    if (!outcome.target.empty() && !FolderExists(outcome.target) && !IsPackedTree(outcome.target)) {
        outcome.message = kTargetMissingMessage;
        return outcome;
    }
    return std::nullopt;
}

bool IsArchiveSide(std::string_view path) {
    const std::string normalised = NormalizeFolderPath(path, false);
    return !normalised.empty() && !FolderExists(normalised) && IsPackedTree(normalised);
}

ScanMode ScanModeOf(std::string_view source, std::string_view target, bool sourceIsMap) {
    return !source.empty() && target.empty() && !sourceIsMap ? ScanMode::SourceOnly
                                                             : ScanMode::Compare;
}

std::string UnreadableEntriesText(std::size_t count) {
    return count == 1 ? std::string("1 entry could not be read.")
                      : std::to_string(count) + " entries could not be read.";
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
    outcome.displayMode = request.displayMode;
    context.strict = request.strictVersions;
    context.compareContents = request.compareContents;
    context.keepSourceHashes = request.compareContents && request.keepSourceHashes;
    context.mode = ScanModeOf(context.source, context.target, request.sourceIsMap);
    outcome.mode = context.mode;
    context.descriptorsPlentiful = ManyDescriptorsFree();
    if (request.sourceIsMap) {
        // A map saved from an archive stands for its members: an empty
        // Target becomes that archive, read as the tree it holds.
        outcome.mapArchive = SourceMapArchive(context.source).value_or(std::string());
        if (context.target.empty() && !outcome.mapArchive.empty()) {
            context.target = outcome.mapArchive;
            outcome.target = context.target;
        }
    }
    outcome.sourceIsArchive = !request.sourceIsMap && IsArchiveSide(context.source);
    outcome.targetIsArchive = IsArchiveSide(context.target);
    if (!request.sourceIsMap && !outcome.sourceIsArchive)
        context.sourceFolder.Open(context.source, context.descriptorsPlentiful);
    if (!outcome.targetIsArchive)
        context.targetFolder.Open(context.target, context.descriptorsPlentiful);
    observer.PathsChanged(context.source, context.target);
    // The archives are read before the walk, each in one pass: a Source into
    // the table the walk goes through, a Target into the table its names
    // are looked up in, reading only the members the Source has names for.
    std::optional<ArchiveSide> sourceArchive;
    std::optional<ArchiveSide> targetArchive;

    RowCollector collector(observer, outcome, stopRequested_);
    // The folder walk is known to RequestStop, so a stop can end a long count.
    FolderEnumerator walk;
    {
        std::lock_guard lock(walkMutex_);
        activeWalk_ = &walk;
    }
    struct Forget {
        Scanner& scanner;
        ~Forget() {
            std::lock_guard lock(scanner.walkMutex_);
            scanner.activeWalk_ = nullptr;
        }
    } forget{*this};
    try {
        if (outcome.sourceIsArchive) {
            observer.FolderChanged(context.source);
            ArchiveSideRequest wanted;
            wanted.filter = request.filter;
            wanted.includeSubfolders = request.includeSubfolders;
            ReadArchive(false, wanted, context, collector, outcome, sourceArchive, stopRequested_);
        }
        // An archive read only in part gives no rows (a Source's rows stay
        // when only its later members could not be read).
        const auto stopped = [&](const std::optional<ArchiveSide>& side) {
            return side && side->stopped;
        };
        const auto targetFailed = [&] { return targetArchive && targetArchive->failure; };
        if (outcome.targetIsArchive && !outcome.sourceIsArchive && !request.sourceIsMap) {
            WalkFolderAgainstArchive(walk, context, request, collector, outcome, targetArchive,
                                     stopRequested_);
        } else {
            if (outcome.targetIsArchive && !stopped(sourceArchive)) {
                std::unordered_set<std::string> names;
                if (sourceArchive) {
                    for (const ArchiveEntry& entry : sourceArchive->entries)
                        if (!entry.failure && !entry.texts.version.empty())
                            names.insert(entry.name);
                } else {
                    names = MapNames(context.source);
                }
                ReadArchive(true, {}, context, collector, outcome, targetArchive, stopRequested_,
                            &names);
            }
            if (stopped(sourceArchive) || stopped(targetArchive) || targetFailed()) {
                // Nothing to list.
            } else if (sourceArchive) {
                WalkArchive(*sourceArchive, context, request, collector, outcome);
            } else if (request.sourceIsMap) {
                WalkMap(context, request, observer, collector, outcome);
            } else {
                WalkFolder(walk, context, request, collector, outcome);
            }
        }
    } catch (const std::bad_alloc&) {
        outcome.failed = true;
        outcome.message = kOutOfMemoryMessage;
    } catch (const std::system_error& error) {
        outcome.failed = true;
        outcome.message = "The scan ended early: " + error.code().message() + ".";
    }

    if (!outcome.failed && stopRequested_.load()) {
        outcome.interrupted = true;
        outcome.message = kInterruptedMessage;
    }
    if (!outcome.unreadable.empty())
        AppendSentence(outcome.message, UnreadableEntriesText(outcome.unreadable.size()));
    if (outcome.message.empty() && outcome.rowsAdded < 1) {
        outcome.message = (!context.source.empty() && !context.target.empty())
                              ? kNoDifferencesMessage
                              : kNoVersionsMessage;
        outcome.messageIsClosing = true;
    }
    if (outcome.skippedMapLines > 0)
        AppendSentence(outcome.message, SkippedMapLinesText(outcome.skippedMapLines));
    return outcome;
}

void Scanner::RequestStop() {
    stopRequested_.store(true);
    std::lock_guard lock(walkMutex_);
    if (activeWalk_ != nullptr)
        activeWalk_->RequestStop();
}

} // namespace sorvane
