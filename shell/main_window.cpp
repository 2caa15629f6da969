#include "shell/main_window.h"

#include "shell/action_table.h"
#include "shell/app_info.h"
#include "shell/channel_dispatch.h"
#include "shell/edit_commands.h"
#include "shell/file_commands.h"
#include "shell/help_menu.h"
#include "shell/scan_runner.h"
#include "shell/scan_session.h"
#include "shell/tools_commands.h"
#include "shell/view_commands.h"
#include "shell/window_commands.h"
#include "shell/window_settings.h"
#include "sync/copy_controller.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"
#include "view/status_panels.h"

#include <QCloseEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QToolBar>

// The icons live in a static library, whose resources must be registered by hand.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace sorvane::shell {

MainWindow::MainWindow(const StartOptions& options, QWidget* parent)
    : QMainWindow(parent), options_(options) {
    InitIconResources();
    if (options_.dialogs == nullptr)
        ownDialogs_ = std::make_unique<platform::QtDialogService>();
    WindowContext& w = context_;
    w.window = this;
    w.dialogs = options_.dialogs != nullptr ? options_.dialogs : ownDialogs_.get();
    w.datFile = options_.settingsFile;
    setObjectName(QStringLiteral("fwMain"));
    setWindowIcon(ToolbarIcon("sorvane"));
    w.model = new view::ResultModel(this);
    w.grid = new view::ResultView(w.model, this);
    w.grid->setObjectName(QStringLiteral("fgFiles"));
    setCentralWidget(w.grid);
    w.runner = new ScanRunner(this);
    w.copier = new sync::CopyController(this, *w.dialogs, *w.model,
                                        QString::fromLatin1(kProgramTitle) + QStringLiteral(" Message"),
                                        sync::CopyRowWithBackup, sync::SystemFolderWarningFor,
                                        sync::CopyRowsInGroups);
    w.commands = new ActionTable(*this);
    w.panels = new view::StatusPanels(
        *statusBar(), *w.model, *w.grid,
        [this] {
            if (statusBar()->isVisible())
                context_.SetPanel(2, tr("Can not find."));
            else
                context_.Dialogs().ShowMessage(this, tr("Find Text"), tr("Can not find."),
                                               platform::MessageIcon::Information,
                                               platform::MessageButtons::Ok, {},
                                               platform::MessageHelp::Button);
        },
        this);

    help_ = std::make_unique<HelpMenu>(w, options_.urls, nullptr);
    files_ = std::make_unique<FileCommands>(w, nullptr);
    edit_ = std::make_unique<EditCommands>(w, options_.clipboard, nullptr);
    view_ = std::make_unique<ViewCommands>(w, nullptr);
    tools_ = std::make_unique<ToolsCommands>(w, nullptr);
    scan_ = std::make_unique<ScanSession>(w, *view_, nullptr);
    channel_ = std::make_unique<ChannelDispatch>(w, nullptr);
    commandList_ = std::make_unique<WindowCommands>(
        w, CommandRooms{*files_, *edit_, *view_, *tools_, *scan_, *help_}, nullptr);
    settings_ = std::make_unique<WindowSettings>(w, *view_, *tools_, *help_, nullptr);
    w.updateCommandState = [this] { commandList_->UpdateCommandState(); };
    connect(scan_.get(), &ScanSession::ScanFinished, this, &MainWindow::ScanFinished);

    commandList_->Build(*w.commands);
    CreateBands();
    WireWidgets();
    help_->Connect();
    settings_->LoadSettings(options_.commandLineSource);
    w.state.settingUp = false;
    channel_->Start(options_.commandChannel);
}

MainWindow::~MainWindow() {
    // The rooms go first: they refer to the widgets and the state they share.
    settings_.reset();
    commandList_.reset();
    channel_.reset();
    scan_.reset();
    tools_.reset();
    view_.reset();
    edit_.reset();
    files_.reset();
    help_.reset();
}

void MainWindow::CreateBands() {
    WindowContext& w = context_;
    QToolBar* buttons = addToolBar(tr("Buttons"));
    buttons->setObjectName(QStringLiteral("pbToolbar"));
    buttons->setIconSize(QSize(22, 22));
    w.commands->PlaceButtons(*buttons);
    w.bands[kButtonsBand] = buttons;

    struct Tool {
        const char* key;
        const char* icon;
        QString tip;
        std::function<void()> run;
    };
    const auto pathBand = [this, &w](const char* name, const QString& caption,
                                     view::PathBox::Kind kind, view::PathBox*& box,
                                     const std::vector<Tool>& tools) {
        QToolBar* bar = addToolBar(caption);
        bar->setObjectName(QString::fromLatin1(name));
        auto* label = new QLabel(caption, bar);
        box = new view::PathBox(kind, bar);
        box->setObjectName(QStringLiteral("cb") + QString::fromLatin1(name + 2));
        box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        box->setMinimumContentsLength(12);
        label->setBuddy(box);
        label->setContentsMargins(4, 0, 4, 0);
        bar->addWidget(label);
        bar->addWidget(box);
        for (const Tool& tool : tools) {
            QAction* button = bar->addAction(ToolbarIcon(tool.icon), QString::fromLatin1(tool.key));
            const QString key = QString::fromLatin1(name + 2) + QString::fromLatin1(tool.key);
            button->setObjectName(QStringLiteral("bb") + key);
            button->setToolTip(tool.tip);
            connect(button, &QAction::triggered, this, tool.run);
            w.commands->AddBandButton(key, button);
        }
        return bar;
    };
    FileCommands& files = *files_;
    ToolsCommands& tools = *tools_;
    w.bands[kSourceBand] =
        pathBand("pbSource", tr("&Source:"), view::PathBox::Kind::Source, w.source,
                 {{"Folder", "folder", tr("Open Source Path"), [&files] { files.mFileOpenSourcePath_Click(); }},
                  {"File", "file", tr("Open Source Map (Ctrl+O)"), [&files] { files.mFileOpenSourceMap_Click(); }}});
    w.bands[kTargetBand] =
        pathBand("pbTarget", tr("Tar&get:"), view::PathBox::Kind::Target, w.target,
                 {{"Folder", "folder", tr("Open Target Path"), [&files] { files.mFileOpenTargetPath_Click(); }},
                  {"Swap", "swap", tr("Swap Source/Target"), [&tools] { tools.mToolsSwap_Click(); }}});
    w.bands[kFilterBand] =
        pathBand("pbFilter", tr("Filte&r:"), view::PathBox::Kind::Filter, w.filter,
                 {{"Filter", "filter", tr("Set Filter"), [&tools] { tools.mToolsSetFilter_Click(); }}});
    // A filter is short; the paths get the room.
    w.filter->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    w.filter->setMinimumContentsLength(18);
}

void MainWindow::WireWidgets() {
    WindowContext& w = context_;
    for (const Band band : {kButtonsBand, kSourceBand, kTargetBand, kFilterBand})
        view_->WatchBand(*w.bands[band], band != kFilterBand);

    FileCommands& files = *files_;
    connect(w.source, &view::PathBox::TextChanged, &files, &FileCommands::OnSourceChanged);
    connect(w.source, &view::PathBox::Picked, &files, &FileCommands::OnSourceChanged);
    connect(w.target, &view::PathBox::TextChanged, &files, &FileCommands::OnTargetChanged);
    connect(w.target, &view::PathBox::Picked, &files, &FileCommands::OnTargetChanged);
    connect(w.filter, &view::PathBox::Picked, this, [this] { context_.NoteSettingsChanged(); });
    const auto enter = [this](view::PathBox* box, bool refresh) {
        connect(box, &view::PathBox::EnterPressed, this, [this, box, refresh] {
            box->AddToHistory();
            context_.NoteSettingsChanged();
            if (refresh)
                context_.UpdateCommandState();
        });
    };
    enter(w.source, true);
    enter(w.target, true);
    enter(w.filter, false);

    connect(w.grid, &view::ResultView::CopyRequested, edit_.get(), &EditCommands::fgFiles_CopyPath);
    connect(w.grid, &view::ResultView::ContextMenuRequested, this, [this](const QPoint& at) {
        context_.UpdateCommandState(); // the Tools commands for the row just clicked
        context_.commands->menu(QStringLiteral("mTools"))->exec(at);
    });
    // What the Tools commands offer follows the current row however it
    // moves: mouse, keys, Find, typing in the grid.
    connect(w.grid->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!context_.Busy())
            context_.UpdateCommandState();
    });
}

const std::vector<UnreadableEntry>& MainWindow::Unreadable() const { return scan_->Unreadable(); }

QProgressBar* MainWindow::progressBar() const { return context_.panels->progressBar(); }

QToolBar* MainWindow::band(const QString& name) const {
    for (QToolBar* bar : context_.bands)
        if (bar->objectName() == name)
            return bar;
    return nullptr;
}

QAction* MainWindow::toolbarButton(const QString& key) const {
    return context_.commands->button(key);
}

platform::CommandServer* MainWindow::commandServer() const { return channel_->commandServer(); }

void MainWindow::RequestStop() { scan_->RequestStop(); }

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstActivation_) {
        firstActivation_ = false;
        settings_->FirstActivation();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (Scanning())
        context_.runner->RequestStop();
    if (context_.copier->IsCopying())
        context_.copier->RequestStop(); // the file being copied is finished, the rest left
    settings_->SaveSettings();
    help_->CloseHelp(); // the program ends with its main window
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && Busy() &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        RequestStop();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        RequestStop();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

} // namespace sorvane::shell
