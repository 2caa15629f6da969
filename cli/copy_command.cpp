// sorvane-cli copy: the window's batch copy from the command line. A scan of
// the two folders finds the files whose source is newer; each is copied onto
// its target, the old target saved under _Backup first unless told not to.

#include "command_parser.h"
#include "commands.h"
#include "row_output.h"
#include "terminal_text.h"

#include "engine/archive/archive_copy.h"
#include "engine/files/file_copy.h"
#include "engine/text/path_utils.h"
#include "engine/scan/scan_driver.h"
#include "engine/scan/source_map.h"
#include "engine/text/text_utils.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sorvane::cli {
namespace {

struct CopyOptions {
    std::string source;
    std::string target;
    std::string filter;
    bool subfolders = false;
    bool backup = true;
    std::optional<std::string> backupDir;
    bool dryRun = false;
    bool force = false;
};

std::atomic<bool> gInterrupted{false};

extern "C" void OnCopyInterrupt(int) {
    gInterrupted.store(true);
    // A second Ctrl+C ends the program at once; the file being copied then
    // keeps its old bytes, as after any failed copy.
    std::signal(SIGINT, SIG_DFL);
}

// Keeps the Newer Source rows and passes Ctrl+C on to the scan.
class NewerSourceRows : public ScanObserver {
public:
    explicit NewerSourceRows(Scanner& scanner) : scanner_(scanner) {}

    void RowAdded(ComparisonRow row) override {
        if (row.Mark == ComparisonMark::NewerSource)
            rows.push_back(std::move(row));
    }
    void Progress(const ScanProgress&) override {
        if (gInterrupted.load())
            scanner_.RequestStop();
    }

    std::vector<ComparisonRow> rows;

private:
    Scanner& scanner_;
};

std::string Shown(std::string_view text) {
    return TerminalText(DecodeText(text));
}

std::string Files(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

// "sub/a.dll (2.0.0.0 over 1.0.0.0)"
std::string RowText(const ComparisonRow& row) {
    return Shown(row.Name) + " (" + Shown(row.SourceVersion) + " over " +
           Shown(row.TargetVersion) + ")";
}

// Why `dir` cannot hold the backups. It must be a folder apart from SOURCE
// and TARGET: a backup inside either could replace a file the copy reads or
// writes (TARGET/sub as DIR would take the backup of TARGET/x.dll as
// TARGET/sub/x.dll), and a DIR holding either would see it the same way.
std::optional<std::string> CheckBackupDir(const std::string& dir, const std::string& source,
                                          const std::string& target) {
    namespace fs = std::filesystem;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0)
        return Shown(dir) + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return Shown(dir) + " is not a folder";
    std::error_code error;
    const fs::path backups = fs::canonical(dir, error);
    if (error)
        return Shown(dir) + ": " + error.message();
    // Whether `inner` is `outer` or below it, both without links.
    const auto within = [](const fs::path& inner, const fs::path& outer) {
        const auto [end, _] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
        return end == outer.end();
    };
    for (const auto& [folder, name] : {std::pair(source, "source"), std::pair(target, "target")}) {
        const fs::path other = fs::canonical(folder, error);
        if (error)
            continue; // the scan names it
        if (backups == other)
            return Shown(dir) + " is the " + name + " folder";
        if (within(backups, other))
            return Shown(dir) + " is inside the " + name + " folder";
        if (within(other, backups))
            return Shown(dir) + " holds the " + name + " folder";
    }
    return std::nullopt;
}

int Copy(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CopyOptions options;
    CommandParser parser("copy");
    parser.Argument("SOURCE", options.source)->required();
    parser.Argument("TARGET", options.target)->required();
    parser.Option("--filter", options.filter);
    parser.Flag("--subfolders", options.subfolders);
    parser.Flag("--backup", options.backup);
    parser.Option("--backup-dir", options.backupDir)
        ->check(CLI::Validator(
            [](std::string& dir) -> std::string { return dir.empty() ? "needs a folder" : ""; },
            ""));
    parser.Flag("--dry-run", options.dryRun);
    parser.Flag("--force", options.force);
    if (const auto status = parser.Parse(args, out, err))
        return *status;
    if (IsSourceMapPath(options.source) && !FolderExists(NormalizeFolderPath(options.source, false)))
        return parser.Fail(err, "SOURCE must be a folder: a Source Map holds no files to copy");
    // An archive Target is read-only: nothing is ever written into it.
    if (IsArchiveSide(options.target))
        return parser.Fail(err, "TARGET is an archive, which is read-only: nothing is copied into "
                                "an archive");
    if (options.backupDir && !options.backup)
        return parser.Fail(err, "--backup-dir does not go with --no-backup");
    if (options.backupDir) {
        if (const auto refused = CheckBackupDir(*options.backupDir, options.source, options.target))
            return parser.Fail(err, "--backup-dir: " + *refused);
    }

    ScanRequest request;
    request.source = options.source;
    request.target = options.target;
    request.filter = options.filter;
    request.includeSubfolders = options.subfolders;
    if (auto refused = CheckScanRequest(request)) {
        err << "sorvane-cli: "
            << (refused->message.empty() ? "nothing to copy" : refused->message) << "\n";
        return kUsageError;
    }
    const std::string target = NormalizeFolderPath(options.target, false);
    if (const SystemFolderKind kind = CheckSystemFolder(target, WineWindowsFolder());
        kind != SystemFolderKind::None) {
        // A dry run writes nothing, so it is never refused: the warning is
        // a note of what a real copy would need.
        err << "sorvane-cli: " << (options.dryRun ? "note: " : "") << Shown(target) << ":\n"
            << SystemFolderWarning(kind) << "\n";
        if (options.dryRun && !options.force)
            err << "A copy into this folder needs --force.\n";
        else if (!options.force) {
            err << "Nothing was copied; give --force to copy into this folder all the same.\n";
            return kUsageError;
        }
    }

    Scanner scanner;
    NewerSourceRows found(scanner);
    gInterrupted.store(false);
    const auto previous = std::signal(SIGINT, OnCopyInterrupt);
    const ScanOutcome outcome = scanner.Run(request, found);
    int status = 0;
    for (const auto& entry : outcome.unreadable) {
        err << "sorvane-cli: " << Shown(entry.path) << ": " << UnreadableText(entry) << "\n";
        status = kUsageError;
    }
    if (outcome.mode == ScanMode::None || outcome.failed || outcome.interrupted) {
        std::signal(SIGINT, previous);
        err << "sorvane-cli: " << outcome.message << "\n"
            << "Nothing was copied.\n";
        return outcome.interrupted ? 1 : kUsageError;
    }

    std::size_t copied = 0, backedUp = 0, failed = 0, skipped = 0, refused = 0;
    bool stopped = false, interrupted = false;
    // Says how one row ended.
    const auto report = [&](const ComparisonRow& row, const RowCopyResult* result) {
        if (result == nullptr) {
            // As in the window: the scan found that the target file cannot be
            // written (read-only, on a read-only file system, immutable).
            err << "sorvane-cli: skipped " << Shown(JoinPath(outcome.target, row.Name))
                << ": the target file cannot be written\n";
            ++skipped;
        } else if (result->status == RowCopyStatus::Refused) {
            // Written nowhere: a link on the way, or not the file the scan read.
            err << "sorvane-cli: refused " << Shown(result->failedPath) << ": "
                << Shown(result->failure.Message()) << "\n";
            ++refused;
        } else if (result->status == RowCopyStatus::BackupFailed) {
            err << "sorvane-cli: cannot back up " << Shown(result->failedPath) << ": "
                << Shown(result->failure.Message()) << "\n";
            stopped = true;
        } else if (result->status == RowCopyStatus::CopyFailed) {
            err << "sorvane-cli: cannot copy " << Shown(result->failedPath) << ": "
                << Shown(result->failure.Message()) << "\n";
            ++failed;
        } else {
            out << "copied " << RowText(row) << "\n";
            ++copied;
            backedUp += result->backedUp ? 1 : 0;
        }
    };

    // The files are copied in groups, so a row's outcome may come after
    // later rows were handed over; each row is still told in its order.
    struct Told {
        const ComparisonRow* row;
        bool busy = false;
        std::optional<RowCopyResult> result;
    };
    std::vector<Told> told;
    std::size_t nextToTell = 0;
    std::vector<std::size_t> toldOfBatchRow;
    const auto tell = [&](std::vector<RowCopyBatch::Finished> finished) {
        for (auto& row : finished)
            told[toldOfBatchRow[row.row]].result = std::move(row.result);
        for (; nextToTell < told.size() && (told[nextToTell].busy || told[nextToTell].result);
             ++nextToTell)
            report(*told[nextToTell].row,
                   told[nextToTell].busy ? nullptr : &*told[nextToTell].result);
    };
    std::unique_ptr<RowCopyBatch> batch;
    if (!options.dryRun)
        batch = options.backupDir
                    ? std::make_unique<RowCopyBatch>(outcome.source, outcome.target,
                                                     BackupFolder{*options.backupDir})
                    : std::make_unique<RowCopyBatch>(outcome.source, outcome.target,
                                                     options.backup);
    const bool fromArchive = batch && outcome.sourceIsArchive;
    if (fromArchive) {
        // The members are copied in one walk of the archive, in the order
        // it stores them; each row is still told in its order.
        std::vector<ArchiveCopyRow> members;
        for (const auto& row : found.rows) {
            told.push_back({&row, row.Busy, std::nullopt});
            if (row.Busy)
                continue;
            toldOfBatchRow.push_back(told.size() - 1);
            members.push_back({row.Name, ScannedPair{row.SourceStamp, row.TargetStamp}});
        }
        CopyArchiveRows(
            outcome.source, *batch, members, gInterrupted, [](std::size_t) {},
            [&](std::size_t index, RowCopyResult result) {
                std::vector<RowCopyBatch::Finished> finished;
                finished.push_back({index, std::move(result)});
                tell(std::move(finished));
            });
        tell({});
        interrupted = gInterrupted.load();
        batch.reset();
    }
    for (const auto& row : found.rows) {
        if (fromArchive)
            break;
        if (gInterrupted.load()) {
            interrupted = true;
            break;
        }
        if (options.dryRun) {
            if (row.Busy) {
                report(row, nullptr);
            } else {
                out << "would copy " << RowText(row) << "\n";
                ++copied;
            }
            continue;
        }
        told.push_back({&row, row.Busy, std::nullopt});
        if (row.Busy) {
            tell({});
            continue;
        }
        toldOfBatchRow.push_back(told.size() - 1);
        tell(batch->Add(row.Name, ScannedPair{row.SourceStamp, row.TargetStamp}));
        if (batch->Stopped())
            break;
    }
    if (batch)
        tell(batch->Finish());
    std::signal(SIGINT, previous);

    const std::string backupFolder =
        Shown(options.backupDir ? *options.backupDir : JoinPath(outcome.target, kBackupFolderName));
    if (found.rows.empty())
        out << "No source file is newer than its target.\n";
    else if (options.dryRun)
        out << "Would copy " << copied << " of " << Files(found.rows.size())
            << (options.backup ? ", each old one saved in " + backupFolder + " first" : "")
            << ".\n";
    else
        out << "Copied " << copied << " of " << Files(found.rows.size())
            << (backedUp > 0 ? ", " + std::to_string(backedUp) + " old one" +
                                   (backedUp == 1 ? "" : "s") + " saved in " + backupFolder
                             : "")
            << ".\n";
    if (failed > 0)
        err << Files(failed) << " could not be copied.\n";
    if (refused > 0)
        err << Files(refused) << " refused: nothing was written for "
            << (refused == 1 ? "it" : "them") << ".\n";
    if (skipped > 0)
        err << Files(skipped) << " skipped: the target file cannot be written.\n";
    if (stopped)
        err << "Copying stopped: a target file could not be backed up.\n";
    if (interrupted)
        err << "Copying was interrupted.\n";
    if (status != 0)
        err << outcome.message << "\n";
    if (refused > 0)
        status = kUsageError;
    if (status == 0 && copied < found.rows.size())
        status = 1;
    return status;
}

} // namespace

int RunCopy(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        return Copy(args, out, err);
    } catch (const std::bad_alloc&) {
        err << "sorvane-cli: not enough memory to go on\n";
        return kUsageError;
    }
}

} // namespace sorvane::cli
