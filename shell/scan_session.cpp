#include "shell/scan_session.h"

#include "engine/text/path_utils.h"
#include "engine/text/text_utils.h"
#include "shell/action_table.h"
#include "shell/app_info.h"
#include "shell/scan_runner.h"
#include "shell/view_commands.h"
#include "shell/window_context.h"
#include "sync/copy_controller.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"
#include "view/status_panels.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>

namespace sorvane::shell {

ScanSession::ScanSession(WindowContext& window, ViewCommands& view, QObject* parent)
    : QObject(parent), window_(window), view_(view) {
    connect(window_.runner, &ScanRunner::Updated, this, &ScanSession::OnScanUpdated);
    connect(window_.runner, &ScanRunner::Finished, this, &ScanSession::OnScanFinished);
    connect(window_.panels, &view::StatusPanels::PanelClicked, this,
            &ScanSession::pbStatusBar_PanelClick);
}

void ScanSession::mFileScan_Click() {
    if (window_.Scanning())
        return;
    view::PathBox& source = *window_.source;
    view::PathBox& target = *window_.target;
    source.AddToHistory();
    target.AddToHistory();
    window_.filter->AddToHistory();
    for (int panel = 1; panel <= 3; ++panel)
        window_.SetPanel(panel, {});
    rowsAdded_ = 0;
    window_.state.counters.Reset();
    ShowUnreadable({});
    window_.copier->RearmAll();

    ScanRequest request;
    request.source = source.Text().toStdString();
    request.target = target.Text().toStdString();
    request.filter = window_.filter->Text().toStdString();
    request.sourceIsMap = window_.state.sourceIsMap;
    request.includeSubfolders =
        window_.action("mViewSubfolders")->isChecked() && !window_.state.sourceIsMap;
    request.displayMode = window_.state.displayMode;
    // Against a map the target's bytes are compared with the hashes the map
    // holds; the rows keep the source's hashes for a map saved from them.
    request.compareContents = window_.state.compareContents;
    request.keepSourceHashes = window_.state.compareContents;
    if (const auto refused = CheckScanRequest(request)) {
        // The results of the last scan stay; only a message, if any.
        window_.SetPanel(2, Qt8(refused->message));
        return;
    }
    // The boxes show what is scanned: quotes and a trailing "/" go. That is
    // the scan's own tidying, not a change of the settings it runs with.
    {
        const QSignalBlocker quietTarget(&target);
        const QSignalBlocker quietSource(&source);
        target.SetText(Qt8(NormalizeFolderPath(request.target, false)));
        source.SetText(Qt8(NormalizeFolderPath(request.source, false)));
    }
    window_.model->SetMeasuringFont(window_.window->font());
    window_.model->ClearResults();
    window_.panels->SetProgress(0);
    window_.panels->ShowProgress(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    qApp->installEventFilter(window_.window);
    // The controls are off while the scan runs and lose the focus. Rows found
    // take it (arrow keys and Esc in a path box would change its text); with
    // none it goes back where it was.
    focusBeforeScan_ = QApplication::focusWidget();
    window_.runner->Start(request);
    window_.UpdateCommandState();
}

void ScanSession::OnScanUpdated() {
    ScanRunner& runner = *window_.runner;
    if (const auto paths = runner.Paths()) {
        // A map's header fills an empty target.
        if (window_.target->Text().isEmpty() && !paths->second.empty())
            window_.target->SetText(Qt8(paths->second));
    }
    // The grid takes room for every file the scan expects at once, rather
    // than moving its rows again and again as they arrive.
    const ScanProgress progress = runner.Progress();
    window_.model->ReserveRows(progress.totalFiles);
    std::vector<ComparisonRow> rows = runner.TakeRows();
    if (!rows.empty()) {
        rowsAdded_ += static_cast<std::int64_t>(rows.size());
        window_.model->AppendRows(std::move(rows));
        // The grid follows the scan: the newest row is current and at the top.
        window_.grid->SelectRow(window_.model->rowCount() - 1);
    }
    window_.SetPanel(1, QStringLiteral("%1/%2").arg(rowsAdded_).arg(progress.filesProcessed));
    const QString folder = Qt8(runner.Folder());
    if (folder.compare(window_.PanelText(3), Qt::CaseInsensitive) != 0)
        window_.SetPanel(3, folder);
    if (window_.panels->Progress() != progress.percent) {
        window_.panels->SetProgress(progress.percent);
        SetCaption(BaseCaption() + QStringLiteral(" - %1%").arg(progress.percent));
    }
}

void ScanSession::OnScanFinished() {
    const ScanOutcome& outcome = window_.runner->Outcome();
    window_.state.counters = outcome.counters;
    window_.SetPanel(1, QStringLiteral("%1/%2").arg(rowsAdded_).arg(outcome.filesProcessed));
    if (!outcome.message.empty() && !outcome.messageIsClosing)
        window_.SetPanel(2, Qt8(outcome.message));
    ShowUnreadable(outcome.unreadable);
    qApp->removeEventFilter(window_.window);
    window_.panels->ShowProgress(false);
    SetCaption(BaseCaption());
    QApplication::beep();
    // Columns the user never sized fit what the scan found.
    if (window_.model->HasResults())
        window_.grid->FitUnsizedColumns();
    view_.SortGrid();
    window_.grid->SelectRow(0);
    if (window_.PanelText(2).isEmpty() && rowsAdded_ < 1 && outcome.messageIsClosing)
        window_.SetPanel(2, Qt8(outcome.message));
    window_.UpdateCommandState();
    if (rowsAdded_ < 1 && focusBeforeScan_ != nullptr && focusBeforeScan_->isEnabled() &&
        focusBeforeScan_->isVisible())
        focusBeforeScan_->setFocus();
    else
        window_.grid->setFocus();
    QApplication::restoreOverrideCursor();
    emit ScanFinished();
}

void ScanSession::RequestStop() {
    if (window_.copier->IsCopying())
        window_.copier->RequestStop();
    else
        window_.runner->RequestStop();
}

void ScanSession::SetCaption(const QString& text) {
    if (window_.window->windowTitle() != text)
        window_.window->setWindowTitle(text);
}

void ScanSession::ShowUnreadable(std::vector<UnreadableEntry> entries) {
    unreadable_ = std::move(entries);
    window_.panels->OfferPanelClick(!unreadable_.empty());
}

void ScanSession::pbStatusBar_PanelClick(int panel) {
    if (panel != 2 || unreadable_.empty())
        return;
    // A whole tree may be out of reach; the box stays on the screen.
    constexpr std::size_t kShown = 20;
    QString list;
    for (std::size_t i = 0; i < unreadable_.size() && i < kShown; ++i)
        list += QStringLiteral("\n%1: %2")
                    .arg(Qt8(DecodeText(unreadable_[i].path)), Qt8(unreadable_[i].error.message()));
    if (unreadable_.size() > kShown)
        list += QStringLiteral("\n") +
                tr("... and %1 more.").arg(static_cast<qulonglong>(unreadable_.size() - kShown));
    window_.Warn(Qt8(UnreadableEntriesText(unreadable_.size())) + QStringLiteral("\n") + list);
}

} // namespace sorvane::shell
