#include "sync/copy_controller.h"

#include "engine/text/path_utils.h"
#include "engine/scan/scan_driver.h"
#include "view/result_model.h"

#include <QMetaObject>
#include <QWidget>

#include <cerrno>
#include <new>
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

} // namespace

// The rows still to visit and what the batch has done.
struct CopyController::Batch {
    int nextRow = 0;
    int copied = 0;
    int newerSourceRows = 0;
};

CopyController::CopyController(QWidget* window, platform::DialogService& dialogs,
                               view::ResultModel& model, QString messageTitle, RowCopier copier,
                               SystemFolderCheck systemFolder)
    : QObject(window), window_(window), dialogs_(dialogs), model_(model),
      title_(std::move(messageTitle)), copier_(std::move(copier)),
      systemFolder_(std::move(systemFolder)) {}

CopyController::~CopyController() {
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
           FileExists(JoinPath(sourceFolder, row->Name)) && row->Mark != ComparisonMark::Equal &&
           !row->Busy && FolderExists(targetFolder);
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
    stopRequested_ = false;
    SetCopying(true);
    emit BatchStarted(newerSourceRows);
    NextBatchRow();
}

// One row at a time: the window handles its input between two files, which
// is when Stop and Esc take effect.
void CopyController::NextBatchRow() {
    for (;;) {
        if (stopRequested_) {
            FinishBatch(true);
            return;
        }
        const int row = batch_->nextRow++;
        const std::optional<ComparisonRow> r = model_.RowAt(row);
        if (!r) {
            FinishBatch(false);
            return;
        }
        if (r->Mark != ComparisonMark::NewerSource || r->Busy)
            continue;
        emit RowReached(row);
        CopyRowAsync(row, [this, row](const RowCopyResult& outcome) {
            if (outcome.status == RowCopyStatus::Copied) {
                MarkCopied(row, outcome.target);
                ++batch_->copied;
                emit BatchProgress(batch_->copied, batch_->newerSourceRows);
            } else if (ReportFailure(row, outcome)) {
                FinishBatch(false); // a target that cannot be backed up ends the batch
                return;
            }
            NextBatchRow();
        });
        return;
    }
}

void CopyController::FinishBatch(bool interrupted) {
    batch_.reset();
    stopRequested_ = false;
    SetCopying(false);
    emit BatchFinished(interrupted);
}

void CopyController::CopyRowAsync(int row, std::function<void(RowCopyResult)> done) {
    RowCopyRequest request;
    request.sourceFolder = sourceFolder_;
    request.targetFolder = targetFolder_;
    const std::optional<ComparisonRow> r = model_.RowAt(row);
    request.relativePath = r->Name;
    request.backup = BackupOnCopy;
    request.scanned = {r->SourceStamp, r->TargetStamp};
    // The file is copied on a thread of its own; the answer comes back to
    // this object's thread. One copy runs at a time, and this object waits
    // for it before it goes, so the thread never outlives it.
    if (worker_.joinable())
        worker_.join();
    worker_ = std::thread([this, request, done = std::move(done)]() mutable {
        RowCopyResult outcome;
        const auto failed = [&](std::error_code code) {
            outcome.status = RowCopyStatus::CopyFailed;
            outcome.failedPath = JoinPath(request.sourceFolder, request.relativePath);
            outcome.failure = Failure(code, Step::Copy, outcome.failedPath);
        };
        try {
            outcome = copier_(request);
        } catch (const std::system_error& error) {
            failed(error.code());
        } catch (const std::bad_alloc&) {
            failed(SystemError(ENOMEM));
        } catch (const std::exception&) {
            failed(make_error_code(Reason::Internal));
        }
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

RowCopyResult CopyRowWithBackup(const RowCopyRequest& request) {
    return CopyRowFiles(request.sourceFolder, request.targetFolder, request.relativePath,
                        request.backup, request.scanned);
}

std::string SystemFolderWarningFor(const std::string& targetFolder) {
    return SystemFolderWarning(CheckSystemFolder(targetFolder, WineWindowsFolder()));
}

} // namespace sorvane::sync
