#pragma once
// Copying source files onto the target from the result grid: the one-time
// confirmation with its system-folder warning, the category warning, the
// single copy of the current row and the batch over every Newer Source row.
// The files themselves are copied off the window's thread, one at a time,
// so a large file never freezes the window and Stop ends a batch after the
// current file.

#include "engine/scan/comparison.h"
#include "engine/files/file_copy.h"
#include "platform/dialogs.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QWidget;

namespace sorvane::view {
class ResultModel;
}

namespace sorvane::sync {

/// One row's copy: the folders, the row's relative path, whether the target
/// is backed up under "<target>/_Backup" first.
struct RowCopyRequest {
    std::string sourceFolder;
    std::string targetFolder;
    std::string relativePath;
    bool backup = false;
    /// The two files as the scan read them: a copy acts only on those.
    ScannedPair scanned;
};

/// Copies one row's file; called on a worker thread.
using RowCopier = std::function<RowCopyResult(const RowCopyRequest&)>;
/// The warning for a Target that looks like a system folder, or empty text.
using SystemFolderCheck = std::function<std::string(const std::string& targetFolder)>;

/// Copies the rows of a batch on the copy thread, in order: `reached(i)`
/// when it comes to request i, `done(i, result)` once that row ended, in the
/// order of the requests (a row may end after later ones were reached). It
/// looks at `stop` before each row, and ends after a BackupFailed.
using BatchCopier = std::function<void(
    const std::vector<RowCopyRequest>& requests, const std::atomic<bool>& stop,
    const std::function<void(std::size_t)>& reached,
    const std::function<void(std::size_t, RowCopyResult)>& done)>;

/// The copy of one row with the engine's file operations: the target backed
/// up under "<target>/_Backup/<relative path>" first when asked, then the
/// source copied over it, each as one safe replacement.
RowCopyResult CopyRowWithBackup(const RowCopyRequest& request);

/// A batch copier that copies each row with `copier`, one after the other.
BatchCopier RowByRow(RowCopier copier);

/// The batch copy with the engine's file operations: rows in groups that
/// wait on the disk once (see RowCopyBatch). The requests share the folders
/// and the backup choice of the first.
void CopyRowsInGroups(const std::vector<RowCopyRequest>& requests, const std::atomic<bool>& stop,
                      const std::function<void(std::size_t)>& reached,
                      const std::function<void(std::size_t, RowCopyResult)>& done);

/// Why nothing can be copied onto `targetFolder` whatever the rows are: an
/// archive Target is read-only. Empty when copying may go on.
std::string CopyRefusedFor(const std::string& targetFolder);

/// The text the window shows for an archive Target.
inline constexpr const char* kArchiveTargetReadOnly =
    "The Target is an archive, which is read-only: nothing can be copied into it";

/// The warning a Target gets when it looks like a folder of an operating
/// system (the Windows folder of Wine, a mounted Windows partition, a system
/// folder of Linux); empty text otherwise.
std::string SystemFolderWarningFor(const std::string& targetFolder);

class CopyController : public QObject {
    Q_OBJECT
public:
    /// `copier` copies a single row; `batchCopier` the rows of a batch
    /// (RowByRow(copier) when empty).
    CopyController(QWidget* window, platform::DialogService& dialogs, view::ResultModel& model,
                   QString messageTitle, RowCopier copier, SystemFolderCheck systemFolder,
                   BatchCopier batchCopier = {});
    ~CopyController() override;

    // The state of the copy confirmations.
    bool CopyConfirmationPending = true;
    bool SystemFolderCheckPending = true;
    bool CategoryWarningOn = true;
    bool BackupOnCopy = false;

    /// The confirmations to ask again: after a scan or a swap (all three),
    /// after a change of the Target (not the category warning), after the
    /// backup option or folder changed (the confirmation only).
    void RearmAll();
    void RearmForTarget();
    void RearmConfirmation() { CopyConfirmationPending = true; }

    /// True when the copy command may copy `row`: it has a name, the Source
    /// is a folder (not a map) holding the file or an archive (whose member
    /// the row is), the mark is not "=", the target is not busy, and the
    /// Target is an existing folder (an archive Target is read-only).
    static bool CanCopy(const ComparisonRow* row, const std::string& sourceFolder,
                        const std::string& targetFolder, bool sourceIsMap);

    /// Asks before the coming replacements (system folder warning, then what
    /// the copy will do with or without backup). True when accepted.
    bool ConfirmReplacement(const std::string& targetFolder, bool backupChecked);

    /// Copies the file of grid row `row` (asking first when a confirmation
    /// is pending, else warning of a change of category). Nothing happens
    /// while another copy runs. `SingleCopyFinished` gives the row to make
    /// current next (-1 when the copy did not happen).
    void CopySingle(int row, const std::string& sourceFolder, const std::string& targetFolder,
                    bool backupChecked);

    /// Copies every row marked ">" whose target is not busy, after asking.
    /// `newerSourceRows` is the count the last scan found, for the progress.
    void StartBatch(const std::string& sourceFolder, const std::string& targetFolder,
                    bool backupChecked, int newerSourceRows);

    bool IsCopying() const { return copying_; }
    /// Ends a batch after the current file: the rows reached so far are
    /// copied, the others are not.
    void RequestStop() { stopRequested_ = true; }

signals:
    /// A batch was confirmed and begins: the window clears what the last
    /// batch left in the status bar and shows 0 of `newerSourceRows`.
    void BatchStarted(int newerSourceRows);
    /// A batch reached this row: the window makes it current.
    void RowReached(int row);
    /// Copied files of this batch so far, and the Newer Source rows of the scan.
    void BatchProgress(int copied, int newerSourceRows);
    /// The batch ended; `interrupted` when Stop or Esc ended it.
    void BatchFinished(bool interrupted);
    /// A single copy ended; `nextRow` is the row to make current, -1 when
    /// nothing was copied.
    void SingleCopyFinished(int nextRow);
    /// A copy started or ended: the window updates what is enabled.
    void CopyingChanged(bool copying);

private:
    struct Batch;
    bool WarnOfCategoryChange(int row);
    RowCopyRequest RequestFor(int row) const;
    void CopyRowAsync(int row, std::function<void(RowCopyResult)> done);
    /// Reports a failed row; true for a backup failure.
    bool ReportFailure(int row, const RowCopyResult& outcome);
    void MarkCopied(int row, const FileStamp& target);
    void RunBatch(std::vector<RowCopyRequest> requests);
    void BatchRowDone(std::size_t index, const RowCopyResult& outcome);
    void FinishBatch(bool interrupted);
    /// The copy thread waits, after it reached a row and after a failed row,
    /// until the window has told it: a batch goes on only once the window
    /// has handled its input, and once a failure's message is answered.
    void WaitUntilTold();
    void Told();
    void SetCopying(bool copying);
    int NextRowToCopy(int after) const;

    QPointer<QWidget> window_;
    platform::DialogService& dialogs_;
    view::ResultModel& model_;
    QString title_;
    RowCopier copier_;
    SystemFolderCheck systemFolder_;
    BatchCopier batchCopier_;
    bool copying_ = false;
    std::atomic<bool> stopRequested_{false};
    std::string sourceFolder_;
    std::string targetFolder_;
    std::unique_ptr<Batch> batch_;
    std::thread worker_;
    std::mutex toldMutex_;
    std::condition_variable toldChanged_;
    bool told_ = false;
    bool closing_ = false;
};

} // namespace sorvane::sync
