#pragma once
// The scan: walks the source side (a folder or a Source Map), reads the
// version data of each file and of its counterpart under the target, decides
// the mark, filters and counts, and reports each row as it is found. It runs
// on any thread; the caller gets rows, progress and messages through an
// observer, and may ask it to stop from any thread.
//
// A file or folder that is there but cannot be read (permissions, too many
// open files, an I/O error) is neither a file without version data nor an
// orphan: it gives no row and is listed, with the reason, in the outcome.
// Running out of memory ends the scan early with a message; the rows found
// until then stay.

#include "engine/scan/archive_side.h"
#include "engine/scan/comparison.h"
#include "engine/scan/display_filter.h"
#include "engine/scan/folder_enumerator.h"
#include "engine/text/path_utils.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvane {

enum class ScanMode : int {
    None = 0,       ///< the scan did not start
    SourceOnly = 1, ///< only the source side is listed
    Compare = 2,
};

inline constexpr const char* kSourceMissingMessage = "Source path not exists.";
inline constexpr const char* kTargetMissingMessage = "Target path not exists.";
inline constexpr const char* kInterruptedMessage = "Scanning was interrupted.";
inline constexpr const char* kNoDifferencesMessage = "No differences found.";
inline constexpr const char* kNoVersionsMessage = "No file contained version information found.";
inline constexpr const char* kSameFolderMessage = "Source and Target are the same folder.";
inline constexpr const char* kOutOfMemoryMessage =
    "There was not enough memory to go on: the scan ended early.";

/// What to scan: the three box texts and the options in force.
struct ScanRequest {
    std::string source;
    std::string target;
    std::string filter;
    bool sourceIsMap = false;
    bool includeSubfolders = false;
    int displayMode = static_cast<int>(DisplayMode::DifferentOnly);
    /// Marks pairs whose version parts differ in length as incomparable ("?").
    bool strictVersions = false;
    /// Reads the whole of both files of a pair whose versions and sizes are
    /// equal, and marks it "~" when their bytes differ. Against a Source Map,
    /// the target's bytes are compared with the hash its entry holds.
    bool compareContents = false;
    /// With compareContents: every row keeps the hash of its source file's
    /// bytes (each source file shown is read whole), so a Source Map saved
    /// from the rows holds them. Rows from a map keep the map's hashes always.
    bool keepSourceHashes = false;
    /// Threads reading version data ahead of the scan; 0 reads on the
    /// scanning thread itself. Rows come in the same order either way. When
    /// the threads cannot be made, or open files or memory run short while
    /// they read, the scan reads on alone on its own thread.
    int readThreads = 4;
};

/// Progress after each file.
struct ScanProgress {
    std::int64_t rowsAdded = 0;
    std::int64_t filesProcessed = 0;
    std::int64_t totalFiles = 0;
    int percent = 0; ///< 0 to 100
};

class ScanObserver {
public:
    virtual ~ScanObserver() = default;
    /// The source and target texts after normalisation (before the walk), and
    /// again when a map's header fills an empty target.
    virtual void PathsChanged(const std::string& source, const std::string& target) {
        (void)source, (void)target;
    }
    /// A row was added; the next Progress counts it. It is the observer's
    /// to keep (moved, not copied). May throw std::bad_alloc, which ends the
    /// scan early without this row.
    virtual void RowAdded(ComparisonRow row) = 0;
    /// After every file.
    virtual void Progress(const ScanProgress& progress) { (void)progress; }
    /// The folder being searched changed.
    virtual void FolderChanged(const std::string& folder) { (void)folder; }
};

/// How a scan ended.
struct ScanOutcome {
    ScanMode mode = ScanMode::None;
    std::string source; ///< normalised texts
    std::string target;
    /// Status text: a validation error, an unreadable map, a scan that
    /// ran out of memory, "Scanning was interrupted.", how many entries could
    /// not be read, or the closing message when no row was found and nothing
    /// was unreadable; empty otherwise.
    std::string message;
    /// True when `message` is the closing "nothing found" text, which a window
    /// shows only when no other notice stands in its place.
    bool messageIsClosing = false;
    bool interrupted = false;
    /// The scan ended early because memory (or another resource it cannot
    /// do without) ran out; `message` says so.
    bool failed = false;
    CategoryCounters counters;
    /// The Source or the Target is an archive (or installer) read as the
    /// folder tree it holds. Its members are read-only where they are: an
    /// archive Target's rows are never busy and hold no stamp to copy to.
    bool sourceIsArchive = false;
    bool targetIsArchive = false;
    /// The members an archive side's rows name, looked up by the row's Name
    /// (File Properties of a member); null for a side that is no archive.
    std::shared_ptr<const MemberTable> sourceMembers;
    std::shared_ptr<const MemberTable> targetMembers;
    /// The archive a Source Map was saved from (its header names one), where
    /// what the map's rows stand for is to be found; empty otherwise.
    std::string mapArchive;
    /// The display mode the rows were let through with (a source-only scan
    /// lets every row through whatever it is).
    int displayMode = 1;
    std::int64_t rowsAdded = 0;
    std::int64_t totalFiles = 0;
    std::int64_t filesProcessed = 0;
    /// Source Map lines that could give no row: no name, a name that leaves
    /// the folder (absolute or with ".."), or no version. `message` says how
    /// many there were.
    std::int64_t skippedMapLines = 0;
    /// Files and folders that are there but could not be read, in the order
    /// the scan met them: folders of the source tree it could not list, then
    /// source or target files it could not open or read. None gives a row or
    /// a count; `message` says how many there were.
    std::vector<UnreadableEntry> unreadable;
};

/// The sentence that tells how many Source Map lines were skipped.
std::string SkippedMapLinesText(std::int64_t count);

/// The sentence that tells how many entries could not be read:
/// "1 entry could not be read.", "3 entries could not be read.".
std::string UnreadableEntriesText(std::size_t count);

class Scanner {
public:
    /// Runs one scan to its end (or to a stop request) and reports through
    /// `observer`, on the calling thread.
    ScanOutcome Run(const ScanRequest& request, ScanObserver& observer);

    /// Starts the life of the next scan: a stop request made before now is
    /// dropped, one made from now on stops that scan. Run arms the scanner
    /// itself; a caller that hands the scan to another thread arms it first,
    /// so a stop asked for in between is not lost.
    void Arm();

    /// Asks the running (or armed) scan to stop after the current file. Every
    /// scan clears the request when it starts and when it ends, so an
    /// earlier request never stops a later scan.
    void RequestStop();
    bool StopRequested() const { return stopRequested_.load(); }

private:
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> armed_{false};
    // The folder walk of the running scan, so a stop can end a long count.
    std::mutex walkMutex_;
    FolderEnumerator* activeWalk_ = nullptr;
};

/// The checks a scan makes before it starts, on the normalised paths: both
/// empty (nothing happens, no message), the same folder by two names, a
/// source that is neither a folder, a map nor an archive, a target that is
/// neither a folder nor an archive (IsPackedTree). Gives the
/// outcome of a scan that does not start, or nothing when the scan can run.
std::optional<ScanOutcome> CheckScanRequest(const ScanRequest& request);

/// True when `path` (normalised as a box's text is) names no folder but an
/// archive or installer, which a scan reads as the folder tree it holds.
bool IsArchiveSide(std::string_view path);

/// The kind of scan for the normalised paths of a request: a folder source
/// without a target is listed on its own; anything else is compared.
ScanMode ScanModeOf(std::string_view source, std::string_view target, bool sourceIsMap);

} // namespace sorvane
