#pragma once
// The main window: menus, the tool bar bands with the path boxes, the result
// grid and the status bar. It owns the working state (paths, display mode,
// sort, colours, counters), restores it from the settings file when it opens
// and writes it back when it closes, and runs scans on a worker thread.

#include "engine/scan/comparison.h"
#include "engine/scan/scan_driver.h"
#include "engine/settings/settings_store.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "windows/file_properties.h"
#include "shell/scan_runner.h"
#include "view/grid_find.h"
#include "view/result_model.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QActionGroup;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QStackedWidget;
class QToolBar;

namespace sorvane::view {
class GridSearch;
class PathBox;
class ResultView;
}
namespace sorvane::platform {
class UpdateCheck;
class UrlOpener;
}
namespace sorvane::windows {
class HelpWindow;
}
namespace sorvane::sync {
class CopyController;
enum class LeftOutOf;
}

namespace sorvane::platform {
class CommandServer;
}

namespace sorvane::shell {

/// What the window starts with besides the settings file.
struct StartOptions {
    std::string settingsFile;      ///< DATFile
    QString commandLineSource;     ///< a Source path from the command line, or empty
    platform::DialogService* dialogs = nullptr; ///< not owned; the real dialogs when null
    platform::ClipboardService* clipboard = nullptr; ///< not owned; the system clipboard when null
    /// The socket to take commands from other programs on; none when empty.
    QString commandChannel;
    platform::UrlOpener* urls = nullptr; ///< not owned; the desktop's link handlers when null
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const StartOptions& options, QWidget* parent = nullptr);
    ~MainWindow() override;

    // State, as the rest of the program and the tests see it.
    bool Scanning() const { return runner_->IsRunning(); }
    /// A scan or a copy runs: everything but Stop is off.
    bool Busy() const;
    sync::CopyController* copyController() const { return copier_; }
    bool SourceIsMap() const { return sourceIsMap_; }
    int DisplayMode() const { return displayMode_; }
    int SortKey() const { return sortKey_; }
    bool Ascending() const { return ascending_; }
    const CategoryCounters& Counters() const { return counters_; }
    const std::string& DATFile() const { return datFile_; }
    QString PanelText(int panel) const;
    /// What the last scan could not read; panel 2 says how many there were.
    const std::vector<UnreadableEntry>& Unreadable() const { return unreadable_; }

    view::ResultModel* model() const { return model_; }
    view::ResultView* grid() const { return grid_; }
    view::PathBox* sourceBox() const { return cbSource_; }
    view::PathBox* targetBox() const { return cbTarget_; }
    view::PathBox* filterBox() const { return cbFilter_; }
    QProgressBar* progressBar() const { return pbProgress_; }
    /// The action of a menu item by its design name ("mFileScan", "mViewColumns3", ...).
    QAction* action(const QString& name) const;
    /// The tool bar band by its name ("pbToolbar", "pbSource", "pbTarget", "pbFilter").
    QToolBar* band(const QString& name) const;
    /// A main tool bar button's action by its key ("Scan", "Stop", ...).
    QAction* toolbarButton(const QString& key) const;

    // Commands (the menu items' and buttons' handlers).
    void mFileScan_Click();
    void mFileSaveSourceMap_Click();
    void mFileOpenSourceMap_Click();
    /// Saves the shown rows as an HTML page or a CSV file; a failed write
    /// leaves the old file as it was and a message says why.
    void mFileExportReport_Click();
    void mFileOpenSourcePath_Click();
    void mFileOpenTargetPath_Click();
    void mToolsSwap_Click();
    void mToolsSetFilter_Click();
    void mViewSubfolders_Click();
    void mToolsBackup_Click();
    void mEditFind_Click();
    void mEditFindNext_Click();
    void mToolsCopySource_Click();
    void mToolsCopyBatch_Click();
    void mToolsBackupFolder_Click();
    void mViewStatus_Click();
    void mViewToolbar_Click(int index);
    void mViewColumns_Click(int index);
    void mViewResizeColumns_Click();
    void mViewArrange_Click(int index);
    void mViewArrangeNone_Click();
    void mViewOrder_Click(int index);
    void mViewShowFiles_Click(int index);
    void mViewCustomize_Click();
    void mViewColor_Click(int index);
    void mViewSetFont_Click();
    /// Puts special list `index` (a category) on the clipboard as text.
    void mEditCopySpecialList_Click(int index);
    /// Asks for a file name and writes special list `index` to it; a file
    /// that cannot be written is left as it was and a message says why.
    void mEditSaveSpecialList_Click(int index);
    /// "File Properties...": the window of the current row's source file,
    /// then that of its target file, each when its command is enabled.
    void mToolsSourceProperties_Click();
    /// "Target File Properties...": the window of the current row's target file.
    void mToolsTargetProperties_Click();
    void SortByHeader(int column);
    void pbToolbar_ButtonClick(const QString& key);
    /// A command of another program (the command channel): "Maximize",
    /// "Minimize", "Restore", "Hide", "Show" or "Tab", any letter case, are
    /// done and accepted; any other text clicks the first main tool bar
    /// button with that key, enabled or not, and is not accepted.
    bool fwMain_Form_LinkExecute(const QString& command);
    /// The command channel's server; null without a channel.
    platform::CommandServer* commandServer() const { return commandServer_; }
    /// A click on a panel of the status bar: on panel 2, when the last scan
    /// met entries it could not read, a message box lists them.
    void pbStatusBar_PanelClick(int panel);

    // Help menu.
    void mHelpTopics_Click();
    void mHelpWhatsThis_Click();
    /// Starts the update check; its answer comes in OnUpdateChecked.
    void mHelpUpdate_Click();
    void mHelpWeb_Click();
    void mHelpMail_Click();
    void mHelpAbout_Click();
    /// Reports an update check's result: -1, 0 and 1 each with their message
    /// box, any other result with none.
    void OnUpdateChecked(int result, const QString& newest);
    /// Shows the help topic of context `context` (0: the contents).
    void ShowHelp(int context);
    /// The help window, once help was shown; null before.
    windows::HelpWindow* helpWindow() const { return help_.get(); }
    platform::UpdateCheck* updateCheck() const { return update_; }
    /// Where the update check asks; the web address of "Update"/"Address" in
    /// the settings file when set.
    const QUrl& UpdateAddress() const { return updateAddress_; }

    /// Recomputes what is enabled.
    void UpdateCommandState();
    /// Marks shown results as out of date.
    void NoteSettingsChanged();
    /// Asks a running scan to stop (Stop button, Esc).
    void RequestStop();

signals:
    /// A scan ended and its rows are sorted and shown.
    void ScanFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateBands();
    void CreateStatusBar();
    void LoadSettings();
    void FirstActivation();
    void SaveSettings();
    void LoadBandLayout();
    void SaveBandLayout();
    view::PathBox* BoxOfBand(const QToolBar* bar) const;
    void SetMinimumWindowSize(int bandRowWidth, int bandRows);
    void RestoreToolbarButtons();
    /// The tool bar's buttons as the settings keep them (LoadToolbarLayout).
    QStringList ToolbarLayout() const;
    std::vector<platform::ToolbarButtonState> ToolbarButtons() const;
    void ApplyToolbarButtons(const std::vector<platform::ToolbarButtonState>& buttons);
    void ApplyColors();
    void DrawColorSwatches();
    /// Says in the status bar when a colour the user chose is hard to read.
    void NoteLowContrast();
    QString ColorName(int index) const;

    void mFile_Click();
    void mEdit_Click();
    void UpdateFindItems();
    /// The find box's options as the grid search takes them.
    view::FindOptions FindBoxOptions() const;
    /// The path box or search box that has the focus, as the line edit its
    /// text is edited in; null when the focus is elsewhere.
    QLineEdit* FocusedTextBox() const;
    void fgFiles_CopyPath();
    /// Tells the user which files a save or copy left out, and why.
    void ShowLeftOut(sync::LeftOutOf where, const std::vector<std::string>& names);
    void mTools_Click();
    void mView_Click();
    void mViewArrangeBy_Click();
    /// A double-click or Alt+Enter on the grid opens the properties windows.
    void ConnectGridProperties();
    /// The path of the current row's file below the folder of `box`; empty
    /// when the row has no name or the box no text.
    std::string CurrentRowPath(const view::PathBox* box) const;
    /// What the grid shows for the current row, for its properties windows.
    std::optional<windows::PropertySection> CurrentGridRowSection() const;
    void OnSourceChanged();
    void OnTargetChanged();
    void OnScanUpdated();
    void OnScanFinished();
    void OnCopyingChanged(bool copying);
    void OnBatchFinished(bool interrupted);
    /// Keeps what the last scan could not read and lets a click on panel 2 list it.
    void ShowUnreadable(std::vector<UnreadableEntry> entries);
    void SortGrid();
    void SetPanel(int panel, const QString& text);
    void ShowViewMenuAt(const QPoint& globalPos);
    void ReleaseSubfolders();
    void SetCaption(const QString& text);
    platform::DialogService& Dialogs() const { return *dialogs_; }
    /// Enables each special list whose category the last scan counted.
    void UpdateSpecialListItems();
    /// The clipboard of the options, else the system's (made at first use).
    platform::ClipboardService& Clipboard();
    /// The link handler of the options, else the desktop's.
    platform::UrlOpener& Urls();
    void CreateHelp();
    void DescribeControls();
    /// Serves the command channel of the start options, if any.
    void StartCommandChannel();

    StartOptions options_;
    std::unique_ptr<platform::DialogService> ownDialogs_;
    platform::DialogService* dialogs_ = nullptr;
    std::unique_ptr<platform::ClipboardService> ownClipboard_;
    std::unique_ptr<platform::UrlOpener> ownUrls_;
    std::unique_ptr<windows::HelpWindow> help_;
    platform::UpdateCheck* update_ = nullptr;
    QUrl updateAddress_;
    std::string datFile_;
    /// The settings file as read at start-up (the band layout of the first
    /// activation comes from it too) and again at shut-down.
    SettingsDocument settings_;
    QString baseCaption_;
    bool firstActivation_ = true;
    bool firstStart_ = false; ///< no window position was saved
    bool settingUp_ = true;

    // What the window is showing and how.
    bool sourceIsMap_ = false;
    int displayMode_ = 1;
    int sortKey_ = 0;
    bool ascending_ = true;
    CategoryCounters counters_;
    sync::CopyController* copier_ = nullptr;
    /// The enabled state of "Target File Properties...", kept here because
    /// Qt disables every hidden action.
    bool targetPropertiesEnabled_ = false;
    std::string backupFolder_;
    platform::FindState findState_;
    view::GridSearch* search_ = nullptr; ///< Find, Find Next and the search box
    std::int64_t rowsAdded_ = 0;
    std::int64_t totalFiles_ = 0;
    std::vector<UnreadableEntry> unreadable_;

    view::ResultModel* model_ = nullptr;
    view::ResultView* grid_ = nullptr;
    ScanRunner* runner_ = nullptr;

    std::map<QString, QAction*> actions_;
    std::map<QString, QAction*> buttons_;
    std::vector<QString> buttonOrder_; ///< keys of the main tool bar, as designed
    QMenu* mFile_ = nullptr;
    QMenu* mEdit_ = nullptr;
    QMenu* mView_ = nullptr;
    QMenu* mTools_ = nullptr;
    QMenu* mHelp_ = nullptr;
    QPointer<QWidget> focusBeforeScan_;
    QMenu* mViewArrangeBy_ = nullptr;
    QActionGroup* arrangeGroup_ = nullptr;
    QActionGroup* orderGroup_ = nullptr;
    QActionGroup* showFilesGroup_ = nullptr;

    QToolBar* pbToolbar_ = nullptr;
    QToolBar* pbSource_ = nullptr;
    QToolBar* pbTarget_ = nullptr;
    QToolBar* pbFilter_ = nullptr;
    view::PathBox* cbSource_ = nullptr;
    view::PathBox* cbTarget_ = nullptr;
    view::PathBox* cbFilter_ = nullptr;

    QLabel* panel1_ = nullptr;
    QLabel* panel2_ = nullptr;
    QLabel* panel3_ = nullptr;
    QStackedWidget* panel2Stack_ = nullptr;
    QProgressBar* pbProgress_ = nullptr;
    QLineEdit* tbSearch_ = nullptr;
    platform::CommandServer* commandServer_ = nullptr;
};

} // namespace sorvane::shell
