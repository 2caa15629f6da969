#include "shell/file_commands.h"

#include "engine/scan/source_map.h"
#include "engine/settings/settings_store.h"
#include "engine/text/path_utils.h"
#include "shell/action_table.h"
#include "shell/app_info.h"
#include "shell/scan_runner.h"
#include "shell/window_context.h"
#include "sync/copy_controller.h"
#include "sync/report_export.h"
#include "sync/special_lists.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMainWindow>

namespace sorvane::shell {

namespace {

platform::FileDialogOptions MapDialog(const QString& title) {
    platform::FileDialogOptions options;
    options.title = title;
    options.filter = QObject::tr("Map Files (*.map);;All files (*)");
    options.defaultSuffix = QStringLiteral("map");
    return options;
}
} // namespace

FileCommands::FileCommands(WindowContext& window, QObject* parent)
    : QObject(parent), window_(window) {}

void FileCommands::mFile_Click() {
    const std::string source = Utf8(window_.source->Text());
    window_.action("mFileScan")
        ->setEnabled(window_.state.sourceIsMap ? FileExists(source) : !source.empty());
    window_.action("mFileSaveSourceMap")->setEnabled(window_.model->HasResults());
    window_.action("mFileExportReport")->setEnabled(window_.model->HasResults());
}

void FileCommands::OnSourceChanged() {
    window_.state.sourceIsMap = IsSourceMapPath(Utf8(window_.source->Text()));
    if (window_.state.sourceIsMap)
        ReleaseSubfolders();
    window_.NoteSettingsChanged();
    if (!window_.state.settingUp)
        window_.UpdateCommandState();
}

void FileCommands::OnTargetChanged() {
    window_.copier->RearmForTarget();
    window_.NoteSettingsChanged();
    if (!window_.state.settingUp)
        window_.UpdateCommandState();
}

void FileCommands::ReleaseSubfolders() {
    window_.commands->button(QStringLiteral("Recur"))->setChecked(false);
    window_.action("mViewSubfolders")->setChecked(false);
}

void FileCommands::mFileOpenSourcePath_Click() {
    const auto folder = window_.Dialogs().BrowseForFolderOrArchive(
        window_.window, tr("Select the Source &Path:"), window_.source->Text());
    if (!folder)
        return;
    window_.source->SetText(*folder);
    window_.source->AddToHistory();
    window_.NoteSettingsChanged();
    window_.UpdateCommandState();
    window_.state.sourceIsMap = false;
}

void FileCommands::mFileOpenTargetPath_Click() {
    const auto folder = window_.Dialogs().BrowseForFolderOrArchive(
        window_.window, tr("Select the &Target Path:"), window_.target->Text());
    if (!folder)
        return;
    window_.target->SetText(*folder);
    window_.target->AddToHistory();
    window_.NoteSettingsChanged();
    window_.UpdateCommandState();
}

void FileCommands::mFileSaveSourceMap_Click() {
    platform::FileDialogOptions options = MapDialog(tr("Save Source Map..."));
    const std::string home = Utf8(QDir::homePath());
    const bool sourceIsMap = window_.state.sourceIsMap;
    options.startFolder =
        sourceIsMap ? Qt8(FolderForDialog(Utf8(window_.source->Text()), home))
                    : Qt8(ReadSetting(window_.datFile, "General", "LastSave", home));
    const auto chosen = window_.Dialogs().SaveFileName(window_.window, options);
    if (!chosen || chosen->isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string header =
        SourceMapHeader(Utf8(window_.source->Text()), Utf8(window_.target->Text()), sourceIsMap);
    const auto written = WriteSourceMap(Utf8(*chosen), header, window_.model->Rows());
    QApplication::restoreOverrideCursor();
    if (!written) {
        window_.Warn(tr("The Source Map could not be saved as\n%1\n\n%2")
                         .arg(*chosen, Qt8(written.error().Message())));
        return;
    }
    if (!written->skippedNames.empty())
        window_.ShowLeftOut(sync::LeftOutOf::SourceMap, written->skippedNames);
    WriteSetting(window_.datFile, "General", "LastSave", FolderForDialog(Utf8(*chosen), home));
}

void FileCommands::mFileExportReport_Click() {
    const ScanOutcome& scan = window_.runner->Outcome();
    sync::ReportExport(window_.window, window_.Dialogs(), window_.datFile,
                       QString::fromLatin1(kProgramTitle))
        .Run(*window_.grid, {std::string(kProgramTitle) + " Report", scan.source, scan.target,
                             scan.displayMode, scan.mode == ScanMode::SourceOnly});
}

void FileCommands::mFileOpenSourceMap_Click() {
    platform::FileDialogOptions options = MapDialog(tr("Open Source Map..."));
    options.confirmOverwrite = false;
    options.startFolder =
        window_.state.sourceIsMap
            ? Qt8(FolderForDialog(Utf8(window_.source->Text()), Utf8(QDir::homePath())))
            : window_.source->Text();
    const auto chosen = window_.Dialogs().OpenFileName(window_.window, options);
    if (!chosen || chosen->isEmpty())
        return;
    window_.source->SetText(*chosen);
    window_.source->AddToHistory();
    window_.NoteSettingsChanged();
    window_.UpdateCommandState();
    window_.state.sourceIsMap = true; // even when the name does not end in .map
    ReleaseSubfolders();
    window_.UpdateCommandState();
}

} // namespace sorvane::shell
