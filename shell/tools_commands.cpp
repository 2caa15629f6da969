#include "shell/tools_commands.h"

#include "engine/text/path_utils.h"
#include "shell/action_table.h"
#include "shell/scan_runner.h"
#include "shell/window_context.h"
#include "sync/copy_controller.h"
#include "sync/row_properties.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QShortcut>

namespace sorvane::shell {

namespace {
const char* const kCopyInterruptedNotice = "Copying was interrupted.";
}

ToolsCommands::ToolsCommands(WindowContext& window, QObject* parent)
    : QObject(parent), window_(window) {
    sync::CopyController* copier = window_.copier;
    view::ResultView* grid = window_.grid;
    connect(copier, &sync::CopyController::CopyingChanged, this, &ToolsCommands::OnCopyingChanged);
    connect(copier, &sync::CopyController::RowReached, this,
            [grid](int row) { grid->SelectRow(row); });
    connect(copier, &sync::CopyController::SingleCopyFinished, this, [this, grid](int next) {
        if (next >= 0)
            grid->SelectRow(next);
        window_.UpdateCommandState();
    });
    connect(copier, &sync::CopyController::BatchStarted, this, [this](int newer) {
        // A batch starts clear: the count and the end of the last one go.
        window_.SetPanel(1, QStringLiteral("0/%1").arg(newer));
        if (window_.PanelText(2) == tr(kCopyInterruptedNotice))
            window_.SetPanel(2, {});
    });
    connect(copier, &sync::CopyController::BatchProgress, this, [this](int copied, int newer) {
        window_.SetPanel(1, QStringLiteral("%1/%2").arg(copied).arg(newer));
    });
    connect(copier, &sync::CopyController::BatchFinished, this, &ToolsCommands::OnBatchFinished);

    // The grid acts on the row as it is now, so the availability is
    // computed again first, as opening the Tools menu does.
    const auto open = [this] {
        mTools_Click();
        mToolsSourceProperties_Click();
    };
    connect(grid, &QAbstractItemView::doubleClicked, this, open);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | key), grid);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, open);
    }
    // A hidden item's key does nothing in Qt; the key gets a shortcut of its own.
    auto* backupFolderKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_B), window_.window);
    connect(backupFolderKey, &QShortcut::activated, this, [this] {
        // No backups are made into an archive Target.
        if (!window_.Busy() && sync::CopyRefusedFor(window_.Folder(window_.target)).empty())
            mToolsBackupFolder_Click();
    });
}

void ToolsCommands::mTools_Click() {
    const bool sourceIsMap = window_.state.sourceIsMap;
    window_.action("mToolsSwap")
        ->setEnabled(!sourceIsMap &&
                     (!window_.source->Text().isEmpty() || !window_.target->Text().isEmpty()));
    const std::optional<ComparisonRow> current = window_.model->RowAt(window_.grid->CurrentRow());
    const bool canCopy =
        sync::CopyController::CanCopy(current ? &*current : nullptr, window_.Folder(window_.source),
                                      window_.Folder(window_.target), sourceIsMap);
    window_.action("mToolsCopySource")->setEnabled(canCopy);
    window_.action("mToolsCopyBatch")->setEnabled(canCopy);
    // Nothing is written into an archive Target: no copy, no backup.
    const QString refused =
        QString::fromStdString(sync::CopyRefusedFor(window_.Folder(window_.target)));
    targetReadOnly_ = !refused.isEmpty();
    for (const char* name : {"mToolsBackup", "mToolsBackupFolder"})
        window_.action(QLatin1String(name))->setEnabled(!targetReadOnly_);
    // The status bar says why while it has nothing else to say.
    if (targetReadOnly_ && window_.PanelText(2).isEmpty())
        window_.SetPanel(2, refused);
    else if (!targetReadOnly_ && window_.PanelText(2) == QLatin1String(sync::kArchiveTargetReadOnly))
        window_.SetPanel(2, {});
    // A Source Map names no source files (but the members of the archive
    // it was saved from); a folder is no file.
    window_.action("mToolsSourceProperties")
        ->setEnabled(CurrentSideFile(sync::RowSide::Source, false).has_value());
    window_.state.targetPropertiesEnabled =
        CurrentSideFile(sync::RowSide::Target, false).has_value();
    window_.action("mToolsTargetProperties")->setEnabled(window_.state.targetPropertiesEnabled);
}

void ToolsCommands::mToolsSwap_Click() {
    view::PathBox& source = *window_.source;
    view::PathBox& target = *window_.target;
    const QString targetText = target.Text();
    target.SetText(source.Text());
    target.AddToHistory();
    source.SetText(targetText);
    source.AddToHistory();
    window_.copier->RearmAll();
    window_.NoteSettingsChanged();
    window_.UpdateCommandState();
}

void ToolsCommands::mToolsSetFilter_Click() {
    const auto filter = window_.Dialogs().EditFilter(window_.window, window_.filter->Text());
    if (!filter)
        return;
    window_.filter->SetText(*filter);
    if (auto* box = qobject_cast<view::PathBox*>(QApplication::focusWidget()))
        box->AddToHistory();
    else if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
        if (auto* owner = qobject_cast<view::PathBox*>(edit->parentWidget()))
            owner->AddToHistory();
    window_.NoteSettingsChanged();
}

void ToolsCommands::mToolsBackup_Click(bool itemToggled) {
    QAction* item = window_.action("mToolsBackup");
    if (!itemToggled) // the menu item toggles itself; everything else inverts it here
        item->setChecked(!item->isChecked());
    window_.commands->button(QStringLiteral("Backup"))->setChecked(item->isChecked());
    window_.copier->RearmConfirmation();
}

void ToolsCommands::mToolsBackupFolder_Click() {
    std::string& backupFolder = window_.state.backupFolder;
    const QString start =
        backupFolder.empty() ? window_.target->Text() : QString::fromStdString(backupFolder);
    const auto folder = window_.Dialogs().BrowseForFolder(
        window_.window, tr("Select the &Backup Folder, or\nPress 'Ins' to create a new Folder"),
        start);
    if (!folder)
        return;
    const std::string chosen = NormalizeFolderPath(folder->toStdString(), false);
    if (chosen != backupFolder)
        window_.copier->RearmConfirmation();
    backupFolder = chosen;
}

void ToolsCommands::mToolsCopySource_Click() {
    if (window_.Busy())
        return;
    if (const std::string refused = sync::CopyRefusedFor(window_.Folder(window_.target));
        !refused.empty()) {
        window_.SetPanel(2, QString::fromStdString(refused));
        return;
    }
    window_.copier->CopySingle(window_.grid->CurrentRow(), window_.Folder(window_.source),
                               window_.Folder(window_.target),
                               window_.action("mToolsBackup")->isChecked());
}

void ToolsCommands::mToolsCopyBatch_Click() {
    if (window_.Busy())
        return;
    mTools_Click();
    if (!window_.action("mToolsCopyBatch")->isEnabled())
        return;
    window_.copier->StartBatch(window_.Folder(window_.source), window_.Folder(window_.target),
                               window_.action("mToolsBackup")->isChecked(),
                               window_.state.counters[kNewerSourceCategory]);
}

void ToolsCommands::OnCopyingChanged(bool copying) {
    // While files are copied, Esc anywhere asks the batch to stop.
    if (copying) {
        qApp->installEventFilter(window_.window);
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        qApp->removeEventFilter(window_.window);
        QApplication::restoreOverrideCursor();
    }
    window_.UpdateCommandState();
}

void ToolsCommands::OnBatchFinished(bool interrupted) {
    if (interrupted)
        window_.SetPanel(2, tr(kCopyInterruptedNotice));
    window_.UpdateCommandState();
}

void ToolsCommands::mToolsSourceProperties_Click() {
    // Each window only when its command is enabled, as last computed; both
    // open when both files exist.
    if (window_.action("mToolsSourceProperties")->isEnabled())
        ShowSideProperties(sync::RowSide::Source);
    if (window_.state.targetPropertiesEnabled)
        mToolsTargetProperties_Click();
}

void ToolsCommands::mToolsTargetProperties_Click() {
    ShowSideProperties(sync::RowSide::Target);
}

std::optional<sync::SideFile> ToolsCommands::CurrentSideFile(sync::RowSide side,
                                                             bool readArchive) const {
    const bool source = side == sync::RowSide::Source;
    return sync::FindSideFile(side, window_.runner->Outcome(),
                              window_.Folder(source ? window_.source : window_.target),
                              source && window_.state.sourceIsMap,
                              window_.model->NameAt(window_.grid->CurrentRow()), readArchive);
}

void ToolsCommands::ShowSideProperties(sync::RowSide side) {
    const std::optional<sync::SideFile> file = CurrentSideFile(side, true);
    if (!file)
        return;
    auto known = sync::SideSections(*file, side, window_.model->RowAt(window_.grid->CurrentRow()));
    if (file->member)
        windows::ShowMemberProperties(file->path, file->member->name, window_.window, std::move(known));
    else
        windows::ShowFileProperties(file->path, window_.window, std::move(known));
}


} // namespace sorvane::shell
