#include "shell/edit_commands.h"

#include "engine/files/atomic_file.h"
#include "engine/scan/source_map.h"
#include "engine/settings/settings_store.h"
#include "engine/text/path_utils.h"
#include "platform/clipboard.h"
#include "shell/window_context.h"
#include "sync/special_lists.h"
#include "view/grid_search.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"
#include "view/status_panels.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>

namespace sorvane::shell {

EditCommands::EditCommands(WindowContext& window, platform::ClipboardService* clipboard,
                           QObject* parent)
    : QObject(parent), window_(window), clipboard_(clipboard) {}

EditCommands::~EditCommands() = default;

QLineEdit* EditCommands::FocusedTextBox() const {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr)
        return nullptr;
    // A path box keeps the focus itself and edits in its line edit.
    for (view::PathBox* box : {window_.source, window_.target, window_.filter})
        if (focus == box || focus == box->lineEdit())
            return box->lineEdit();
    QLineEdit* search = window_.panels->searchBox();
    return focus == search ? search : nullptr;
}

void EditCommands::EditText(void (QLineEdit::*command)()) {
    if (QLineEdit* edit = FocusedTextBox())
        (edit->*command)();
}

void EditCommands::mEditCopy_Click() {
    if (QLineEdit* edit = FocusedTextBox())
        edit->copy();
    else
        fgFiles_CopyPath();
}

void EditCommands::mEdit_Click() {
    QLineEdit* edit = FocusedTextBox();
    if (edit != nullptr) {
        const bool selected = edit->hasSelectedText();
        window_.action("mEditUndo")->setEnabled(true);
        for (const char* name : {"mEditCut", "mEditCopy", "mEditDelete"})
            window_.action(name)->setEnabled(selected);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        window_.action("mEditPaste")
            ->setEnabled(data != nullptr && data->hasText() && !data->text().isEmpty());
    } else {
        for (const char* name : {"mEditUndo", "mEditCut", "mEditPaste", "mEditDelete"})
            window_.action(name)->setEnabled(false);
        window_.action("mEditCopy")
            ->setEnabled(window_.model->HasResults() && !window_.state.sourceIsMap);
    }
    UpdateSpecialListItems();
    UpdateFindItems();
}

void EditCommands::UpdateSpecialListItems() {
    for (int i = 0; i < kCategoryCount; ++i) {
        const bool offered =
            sync::SpecialListAvailable(i, window_.state.counters, window_.state.sourceIsMap);
        window_.action(QStringLiteral("mEditCopySpecialList%1").arg(i))->setEnabled(offered);
        window_.action(QStringLiteral("mEditSaveSpecialList%1").arg(i))->setEnabled(offered);
    }
}

void EditCommands::UpdateFindItems() {
    const bool results = window_.model->HasResults();
    window_.action("mEditFind")->setEnabled(results);
    window_.action("mEditFindNext")
        ->setEnabled(results && !window_.state.findState.text.isEmpty() &&
                     window_.panels->gridSearch().LastSearchFound());
}

view::FindOptions EditCommands::FindBoxOptions() const {
    const int chosen = window_.state.findState.options;
    view::FindOptions options;
    options.wholeWord = (chosen & platform::FindState::kWholeWord) != 0;
    options.matchCase = (chosen & platform::FindState::kMatchCase) != 0;
    options.upwards = (chosen & platform::FindState::kSearchUp) != 0;
    return options;
}

void EditCommands::mEditFind_Click() {
    if (window_.Busy() || !window_.model->HasResults())
        return;
    if (window_.Dialogs().ShowFindBox(window_.window, window_.state.findState))
        window_.panels->gridSearch().Find(window_.state.findState.text, FindBoxOptions());
    window_.UpdateCommandState();
    window_.grid->setFocus();
}

void EditCommands::mEditFindNext_Click() {
    if (window_.Busy() || !window_.model->HasResults())
        return;
    window_.panels->gridSearch().FindNext(window_.state.findState.text, FindBoxOptions());
    window_.UpdateCommandState();
    window_.grid->setFocus();
}

void EditCommands::fgFiles_CopyPath() {
    // A Source Map names no folder the files are in: its path joined with a
    // Name is no file, so nothing is copied then.
    if (window_.state.sourceIsMap || !window_.model->HasResults())
        return;
    const std::string path = window_.CurrentRowPath(window_.source);
    if (path.empty())
        return;
    if (!sync::ListCanHoldPath(path)) {
        window_.ShowLeftOut(sync::LeftOutOf::List, {path});
        return;
    }
    if (!platform::PutFileListOnClipboard(Clipboard(), {path}))
        window_.Warn(tr("The path could not be put on the clipboard."));
}

platform::ClipboardService& EditCommands::Clipboard() {
    if (clipboard_ != nullptr)
        return *clipboard_;
    if (ownClipboard_ == nullptr)
        ownClipboard_ = std::make_unique<platform::QtClipboardService>();
    return *ownClipboard_;
}

void EditCommands::mEditCopySpecialList_Click(int index) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const sync::SpecialList list =
        sync::MakeSpecialList(index, window_.model->Rows(), window_.source->Text().toStdString(),
                              window_.target->Text().toStdString());
    // As files for a file manager to paste, and as the list's text.
    const bool taken = platform::PutFileListOnClipboard(Clipboard(), list.paths, list.Text());
    QApplication::restoreOverrideCursor();
    if (!taken)
        window_.Warn(tr("The list could not be put on the clipboard."));
    else if (!list.leftOut.empty())
        window_.ShowLeftOut(sync::LeftOutOf::List, list.leftOut);
}

void EditCommands::mEditSaveSpecialList_Click(int index) {
    const QAction* item = window_.action(QStringLiteral("mEditSaveSpecialList%1").arg(index));
    if (item == nullptr)
        return;
    platform::FileDialogOptions options;
    options.title = tr("Save ") + QString(item->text()).remove(QLatin1Char('&'));
    options.filter = tr("Text Files (*.txt);;All files (*)");
    options.defaultSuffix = QStringLiteral("txt");
    const std::string home = QDir::homePath().toStdString();
    options.startFolder =
        QString::fromStdString(ReadSetting(window_.datFile, "General", "LastSave", home));
    const auto chosen = window_.Dialogs().SaveFileName(window_.window, options);
    if (!chosen || chosen->isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const sync::SpecialList list =
        sync::MakeSpecialList(index, window_.model->Rows(), window_.source->Text().toStdString(),
                              window_.target->Text().toStdString());
    // A list that cannot be written whole leaves the old file as it was.
    const WriteOutcome written = WriteFileAtomically(chosen->toStdString(), list.Text());
    QApplication::restoreOverrideCursor();
    if (!written) {
        window_.Warn(tr("The list could not be saved as\n%1\n\n%2")
                         .arg(*chosen, QString::fromStdString(written.error().Message())));
        return;
    }
    if (!list.leftOut.empty())
        window_.ShowLeftOut(sync::LeftOutOf::List, list.leftOut);
    WriteSetting(window_.datFile, "General", "LastSave",
                 FolderForDialog(chosen->toStdString(), home));
}

} // namespace sorvane::shell
