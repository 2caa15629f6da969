#pragma once
// The main window: menus, the tool bar bands with the path boxes, the result
// grid and the status bar. It builds them and wires the rooms that do the
// work: the command list, the File, Edit, View and Tools commands, the scan
// session, the settings, the Help menu and the command channel.

#include "engine/scan/comparison.h"
#include "engine/scan/scan_driver.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "shell/window_context.h"

#include <QMainWindow>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QProgressBar;

namespace sorvane::platform {
class CommandServer;
class UrlOpener;
}

namespace sorvane::shell {

class ActionTable;
class ChannelDispatch;
class EditCommands;
class FileCommands;
class HelpMenu;
class ScanSession;
class ToolsCommands;
class ViewCommands;
class WindowCommands;
class WindowSettings;

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
    bool Scanning() const { return context_.Scanning(); }
    /// A scan or a copy runs: everything but Stop is off.
    bool Busy() const { return context_.Busy(); }
    sync::CopyController* copyController() const { return context_.copier; }
    bool SourceIsMap() const { return context_.state.sourceIsMap; }
    int DisplayMode() const { return context_.state.displayMode; }
    int SortKey() const { return context_.state.sortKey; }
    bool Ascending() const { return context_.state.ascending; }
    const CategoryCounters& Counters() const { return context_.state.counters; }
    const std::string& DATFile() const { return context_.datFile; }
    QString PanelText(int panel) const { return context_.PanelText(panel); }
    /// What the last scan could not read; panel 2 says how many there were.
    const std::vector<UnreadableEntry>& Unreadable() const;

    view::ResultModel* model() const { return context_.model; }
    view::ResultView* grid() const { return context_.grid; }
    view::PathBox* sourceBox() const { return context_.source; }
    view::PathBox* targetBox() const { return context_.target; }
    view::PathBox* filterBox() const { return context_.filter; }
    QProgressBar* progressBar() const;
    /// The action of a menu item by its design name ("mFileScan", "mViewColumns3", ...).
    QAction* action(const QString& name) const { return context_.action(name); }
    /// The tool bar band by its name ("pbToolbar", "pbSource", "pbTarget", "pbFilter").
    QToolBar* band(const QString& name) const;
    /// A tool bar button's action by its key ("Scan", "Stop", "SourceFolder", ...).
    QAction* toolbarButton(const QString& key) const;

    // The rooms, each with the handlers of its commands.
    ActionTable& commands() const { return *context_.commands; }
    FileCommands& files() const { return *files_; }
    EditCommands& edit() const { return *edit_; }
    ViewCommands& viewCommands() const { return *view_; }
    ToolsCommands& tools() const { return *tools_; }
    ScanSession& scan() const { return *scan_; }
    HelpMenu& help() const { return *help_; }
    ChannelDispatch& channel() const { return *channel_; }
    /// The command channel's server; null without a channel.
    platform::CommandServer* commandServer() const;

    /// Recomputes what is enabled.
    void UpdateCommandState() { context_.UpdateCommandState(); }
    /// Marks shown results as out of date.
    void NoteSettingsChanged() { context_.NoteSettingsChanged(); }
    /// Asks a running scan or copy to stop (Stop button, Esc).
    void RequestStop();

signals:
    /// A scan ended and its rows are sorted and shown.
    void ScanFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    /// While a scan or a copy runs, every Esc of the program asks it to stop.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateBands();
    void WireWidgets();

    StartOptions options_;
    std::unique_ptr<platform::DialogService> ownDialogs_;
    WindowContext context_;
    bool firstActivation_ = true;

    // The rooms; they go before the context they share.
    std::unique_ptr<FileCommands> files_;
    std::unique_ptr<EditCommands> edit_;
    std::unique_ptr<ViewCommands> view_;
    std::unique_ptr<ToolsCommands> tools_;
    std::unique_ptr<ScanSession> scan_;
    std::unique_ptr<HelpMenu> help_;
    std::unique_ptr<ChannelDispatch> channel_;
    std::unique_ptr<WindowCommands> commandList_;
    std::unique_ptr<WindowSettings> settings_;
};

} // namespace sorvane::shell
