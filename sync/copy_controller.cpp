#include "sync/copy_controller.h"

#include "engine/archive/archive_copy.h"
#include "engine/text/path_utils.h"
#include "engine/scan/scan_driver.h"
#include "view/result_model.h"

#include <QMetaObject>
#include <QWidget>

#include <cerrno>
#include <exception>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

namespace sorvane::sync {
namespace {

using platform::MessageButtons;
using platform::MessageIcon;
using platform::MessageResult;
using platform::MessageHelp;

const char* const kSureToContinue = "\n\nAre you sure you wish to continue?";
const char* const kWithoutBackup =
    "The target files will be replaced by the corresponding sources without backup.";
const char* const kWithBackup = "The target files will be backuped to the target \n"
                                "folder's sub-folder named _Backup.\n"
                                "If this folder contains files with the same name \n"
                                "as the backuped files, they will be replaced.";
const char* const kAnotherCategory =
    "You are starting to copy another category of files.\n"
    "Are you sure you wish to continue without this warning in the same case?\n\n"
    "(Choose \"NO\" if you prefer to receive such warning in future).";

QString Qt8(const std::string& text) { return QString::fromStdString(text); }

// How a row ends whose copy threw `thrown`.
RowCopyResult ThrownFailure(const RowCopyRequest& request, std::exception_ptr thrown) {
    std::error_code code = make_error_code(Reason::Internal);
    try {
        std::rethrow_exception(std::move(thrown));
    } catch (const std::system_error& error) {
        code = error.code();
    } catch (const std::bad_alloc&) {
        code = SystemError(ENOMEM);
    } catch (...) {
    }
    RowCopyResult outcome;
    outcome.status = RowCopyStatus::CopyFailed;
    outcome.failedPath = JoinPath(request.sourceFolder, request.relativePath);
    outcome.failure = Failure(code, Step::Copy, outcome.failedPath);
    return outcome;
}

// Copies a row with `copier`; an exception it throws fails the row.
RowCopyResult CopyCaught(const RowCopier& copier, const RowCopyRequest& request) {
    try {
        return copier(request);
    } catch (...) {
        return ThrownFailure(request, std::current_exception());
    }
}

} // namespace

// The rows of the batch (grid rows, in the order of the requests) and what
// the batch has done.
struct CopyController::Batch {
    std::vector<int> rows;
    int copied = 0;
    int newerSourceRows = 0;
    bool backupFailed = false;
};

CopyController::CopyController(QWidget* window, platform::DialogService& dialogs,
                               view::ResultModel& model, QString messageTitle, RowCopier copier,
                               SystemFolderCheck systemFolder, BatchCopier batchCopier)
    : QObject(window), window_(window), dialogs_(dialogs), model_(model),
      title_(std::move(messageTitle)), copier_(std::move(copier)),
      systemFolder_(std::move(systemFolder)),
      batchCopier_(batchCopier ? std::move(batchCopier) : RowByRow(copier_)) {}

CopyController::~CopyController() {
    stopRequested_ = true;
    {
        const std::lock_guard lock(toldMutex_);
        closing_ = true;
    }
    toldChanged_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void CopyController::RearmAll() {
    CopyConfirmationPending = SystemFolderCheckPending = CategoryWarningOn = true;
}

void CopyController::RearmForTarget() {
    CopyConfirmationPending = SystemFolderCheckPending = true;
}

bool CopyController::CanCopy(const ComparisonRow* row, const std::string& sourceFolder,
                             const std::string& targetFolder, bool sourceIsMap) {
    return row != nullptr && !row->Name.empty() && !sourceFolder.empty() && !sourceIsMap &&
           row->Mark != ComparisonMark::Equal && !row->Busy && FolderExists(targetFolder) &&
           (FileExists(JoinPath(sourceFolder, row->Name)) || IsArchiveSide(sourceFolder));
}

bool CopyController::ConfirmReplacement(const std::string& targetFolder, bool backupChecked) {
    if (SystemFolderCheckPending) {
        const std::string warning = systemFolder_ ? systemFolder_(targetFolder) : std::string();
        if (!warning.empty() &&
            dialogs_.ShowMessage(window_, title_, Qt8(warning) + QString::fromLatin1(kSureToContinue),
                                 MessageIcon::Warning, MessageButtons::OkCancel,
                                 MessageResult::Cancel) != MessageResult::Ok)
            return false;
    }
    SystemFolderCheckPending = false;
    BackupOnCopy = backupChecked;
    const QString what = QString::fromLatin1(backupChecked ? kWithBackup : kWithoutBackup);
    if (dialogs_.ShowMessage(window_, title_, what + QString::fromLatin1(kSureToContinue),
                             MessageIcon::Warning, MessageButtons::OkCancel,
                             MessageResult::Cancel, MessageHelp::Button) != MessageResult::Ok)
        return false;
    CopyConfirmationPending = false;
    return true;
}

bool CopyController::WarnOfCategoryChange(int row) {
    if (row < 1 || !CategoryWarningOn)
        return true;
    if (!model_.HoldsRow(row) || !model_.HoldsRow(row - 1) ||
        model_.MarkAt(row) == model_.MarkAt(row - 1) ||
        model_.MarkAt(row - 1) == ComparisonMark::Copied)
        return true;
    switch (dialogs_.ShowMessage(window_, title_, QString::fromLatin1(kAnotherCategory),
                                 MessageIcon::Warning, MessageButtons::YesNoCancel,
                                 MessageResult::No, MessageHelp::Button)) {
    case MessageResult::Yes:
        CategoryWarningOn = false;
        return true;
    case MessageResult::No:
        return true;
    default:
        return false;
    }
}

void CopyController::CopySingle(int row, const std::string& sourceFolder,
                                const std::string& targetFolder, bool backupChecked) {
    if (copying_ || !model_.HoldsRow(row))
        return;
    if (CopyConfirmationPending) {
        if (!ConfirmReplacement(targetFolder, backupChecked)) {
            emit SingleCopyFinished(-1);
            return;
        }
    } else if (!WarnOfCategoryChange(row)) {
        emit SingleCopyFinished(-1);
        return;
    }
    sourceFolder_ = sourceFolder;
    targetFolder_ = targetFolder;
    SetCopying(true);
    CopyRowAsync(row, [this, row](const RowCopyResult& outcome) {
        SetCopying(false);
        if (outcome.status != RowCopyStatus::Copied) {
            ReportFailure(row, outcome);
            emit SingleCopyFinished(-1);
            return;
        }
        MarkCopied(row, outcome.target);
        const int next = NextRowToCopy(row);
        emit SingleCopyFinished(next >= 0 ? next : row);
    });
}

void CopyController::StartBatch(const std::string& sourceFolder, const std::string& targetFolder,
                                bool backupChecked, int newerSourceRows) {
    if (copying_ || !ConfirmReplacement(targetFolder, backupChecked))
        return;
    sourceFolder_ = sourceFolder;
    targetFolder_ = targetFolder;
    batch_ = std::make_unique<Batch>();
    batch_->newerSourceRows = newerSourceRows;
    std::vector<RowCopyRequest> requests;
    for (int row = 0; model_.HoldsRow(row); ++row) {
        if (model_.MarkAt(row) != ComparisonMark::NewerSource || model_.RowAt(row)->Busy)
            continue;
        batch_->rows.push_back(row);
        requests.push_back(RequestFor(row));
    }
    stopRequested_ = false;
    SetCopying(true);
    emit BatchStarted(newerSourceRows);
    RunBatch(std::move(requests));
}

// The rows are copied on a thread of their own, which tells each row's end
// to this object's thread. Stop and Esc take effect between two rows: the
// rows reached before are copied (their new files may be written already,
// waiting for the rest of their group), the others are not.
void CopyController::RunBatch(std::vector<RowCopyRequest> requests) {
    if (worker_.joinable())
        worker_.join();
    worker_ = std::thread([this, requests = std::move(requests)] {
        std::size_t undone = 0;
        const auto post = [this](auto call) {
            QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
        };
        // The window makes each row current as the copy comes to it, and
        // handles its input before the copy goes on: Stop and Esc end the
        // batch after that row.
        const auto reached = [&](std::size_t index) {
            {
                const std::lock_guard lock(toldMutex_);
                told_ = false;
            }
            post([this, index] {
                if (batch_ && index < batch_->rows.size())
                    emit RowReached(batch_->rows[index]);
                Told();
            });
            WaitUntilTold();
        };
        const auto done = [&](std::size_t index, RowCopyResult outcome) {
            undone = index + 1;
            const bool failed = outcome.status != RowCopyStatus::Copied;
            if (failed) {
                const std::lock_guard lock(toldMutex_);
                told_ = false;
            }
            post([this, index, failed, outcome = std::move(outcome)] {
                BatchRowDone(index, outcome);
                if (failed)
                    Told();
            });
            if (failed)
                WaitUntilTold();
        };
        try {
            batchCopier_(requests, stopRequested_, reached, done);
        } catch (...) {
            // The row it was at fails; the batch ends there.
            if (undone < requests.size())
                done(undone, ThrownFailure(requests[undone], std::current_exception()));
        }
        post([this] {
            if (batch_)
                FinishBatch(!batch_->backupFailed && stopRequested_);
        });
    });
}

void CopyController::BatchRowDone(std::size_t index, const RowCopyResult& outcome) {
    if (!batch_ || index >= batch_->rows.size())
        return;
    const int row = batch_->rows[index];
    if (outcome.status == RowCopyStatus::Copied) {
        MarkCopied(row, outcome.target);
        ++batch_->copied;
        emit BatchProgress(batch_->copied, batch_->newerSourceRows);
    } else if (ReportFailure(row, outcome)) {
        batch_->backupFailed = true; // a target that cannot be backed up ends the batch
    }
}

void CopyController::WaitUntilTold() {
    std::unique_lock lock(toldMutex_);
    toldChanged_.wait(lock, [this] { return told_ || closing_; });
}

void CopyController::Told() {
    {
        const std::lock_guard lock(toldMutex_);
        told_ = true;
    }
    toldChanged_.notify_all();
}

void CopyController::FinishBatch(bool interrupted) {
    batch_.reset();
    stopRequested_ = false;
    SetCopying(false);
    emit BatchFinished(interrupted);
}

RowCopyRequest CopyController::RequestFor(int row) const {
    RowCopyRequest request;
    request.sourceFolder = sourceFolder_;
    request.targetFolder = targetFolder_;
    const std::optional<ComparisonRow> r = model_.RowAt(row);
    request.relativePath = r->Name;
    request.backup = BackupOnCopy;
    request.scanned = {r->SourceStamp, r->TargetStamp};
    return request;
}

void CopyController::CopyRowAsync(int row, std::function<void(RowCopyResult)> done) {
    const RowCopyRequest request = RequestFor(row);
    // The file is copied on a thread of its own; the answer comes back to
    // this object's thread. One copy runs at a time, and this object waits
    // for it before it goes, so the thread never outlives it.
    if (worker_.joinable())
        worker_.join();
    worker_ = std::thread([this, request, done = std::move(done)]() mutable {
        RowCopyResult outcome = CopyCaught(copier_, request);
        QMetaObject::invokeMethod(
            this, [outcome, done = std::move(done)] { done(outcome); }, Qt::QueuedConnection);
    });
}

bool CopyController::ReportFailure(int row, const RowCopyResult& outcome) {
    const bool backup = outcome.status == RowCopyStatus::BackupFailed;
    const std::string name(model_.NameAt(row));
    const std::string path = !outcome.failedPath.empty()
                                 ? outcome.failedPath
                                 : JoinPath(backup ? targetFolder_ : sourceFolder_, name);
    QString text = Qt8(path) + QStringLiteral("\n") +
                   QString::fromLatin1(backup ? "Can not be backuped." : "Can not be copied.");
    if (outcome.failure.code)
        text += QStringLiteral("\n") + Qt8(outcome.failure.Message());
    dialogs_.ShowMessage(window_, title_, text, MessageIcon::Critical, MessageButtons::Ok, {},
                         MessageHelp::Button);
    return backup;
}

void CopyController::MarkCopied(int row, const FileStamp& target) {
    const std::optional<ComparisonRow> r = model_.RowAt(row);
    const std::string version = r->SourceVersion;
    const std::string language = r->SourceLanguage;
    // The target is now the copy: a second copy of the row holds to it.
    model_.UpdateTarget(row, ComparisonMark::Copied, version, language, target);
}

int CopyController::NextRowToCopy(int after) const {
    for (int row = after + 1; const std::optional<ComparisonRow> r = model_.RowAt(row); ++row)
        if (r->Mark != ComparisonMark::Copied && !r->Busy)
            return row;
    return -1;
}

void CopyController::SetCopying(bool copying) {
    if (copying_ == copying)
        return;
    copying_ = copying;
    emit CopyingChanged(copying);
}

namespace {

// The rows of `requests` copied out of their archive Source in one walk.
void CopyArchiveRequests(const std::vector<RowCopyRequest>& requests, RowCopyBatch& batch,
                         const std::atomic<bool>& stop,
                         const std::function<void(std::size_t)>& reached,
                         const std::function<void(std::size_t, RowCopyResult)>& done) {
    std::vector<ArchiveCopyRow> rows;
    rows.reserve(requests.size());
    for (const RowCopyRequest& request : requests)
        rows.push_back({request.relativePath, request.scanned});
    CopyArchiveRows(requests.front().sourceFolder, batch, rows, stop, reached, done);
}

} // namespace

RowCopyResult CopyRowWithBackup(const RowCopyRequest& request) {
    if (IsArchiveSide(request.sourceFolder)) {
        RowCopyBatch batch(request.sourceFolder, request.targetFolder, request.backup);
        std::optional<RowCopyResult> result;
        const std::atomic<bool> stop{false};
        CopyArchiveRequests({request}, batch, stop, [](std::size_t) {},
                            [&](std::size_t, RowCopyResult outcome) { result = std::move(outcome); });
        if (result)
            return *std::move(result);
        return ThrownFailure(request, std::make_exception_ptr(std::system_error(
                                          make_error_code(Reason::Internal))));
    }
    return CopyRowFiles(request.sourceFolder, request.targetFolder, request.relativePath,
                        request.backup, request.scanned);
}

BatchCopier RowByRow(RowCopier copier) {
    return [copier = std::move(copier)](const std::vector<RowCopyRequest>& requests,
                                        const std::atomic<bool>& stop,
                                        const std::function<void(std::size_t)>& reached,
                                        const std::function<void(std::size_t, RowCopyResult)>&
                                            done) {
        for (std::size_t i = 0; i < requests.size() && !stop; ++i) {
            reached(i);
            RowCopyResult outcome = CopyCaught(copier, requests[i]);
            const bool backupFailed = outcome.status == RowCopyStatus::BackupFailed;
            done(i, std::move(outcome));
            if (backupFailed)
                return;
        }
    };
}

void CopyRowsInGroups(const std::vector<RowCopyRequest>& requests, const std::atomic<bool>& stop,
                      const std::function<void(std::size_t)>& reached,
                      const std::function<void(std::size_t, RowCopyResult)>& done) {
    if (requests.empty())
        return;
    const RowCopyRequest& first = requests.front();
    RowCopyBatch batch(first.sourceFolder, first.targetFolder, first.backup);
    if (IsArchiveSide(first.sourceFolder)) {
        CopyArchiveRequests(requests, batch, stop, reached, done);
        return;
    }
    const auto tell = [&](std::vector<RowCopyBatch::Finished> finished) {
        for (auto& row : finished)
            done(row.row, std::move(row.result));
    };
    for (std::size_t i = 0; i < requests.size() && !stop; ++i) {
        reached(i);
        tell(batch.Add(requests[i].relativePath, requests[i].scanned));
        if (batch.Stopped())
            return;
    }
    tell(batch.Finish());
}

std::string CopyRefusedFor(const std::string& targetFolder) {
    return IsArchiveSide(targetFolder) ? std::string(kArchiveTargetReadOnly) : std::string();
}

std::string SystemFolderWarningFor(const std::string& targetFolder) {
    return SystemFolderWarning(CheckSystemFolder(targetFolder, WineWindowsFolder()));
}

} // namespace sorvane::sync
