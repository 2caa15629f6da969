#include "shell/main_window.h"
#include "shell/main_window_parts.h"

#include "engine/files/atomic_file.h"
#include "engine/text/language_table.h"
#include "engine/text/number_utils.h"
#include "engine/text/path_utils.h"
#include "engine/settings/settings_records.h"
#include "engine/settings/settings_store.h"
#include "engine/scan/source_map.h"
#include "engine/text/text_utils.h"
#include "windows/file_properties.h"
#include "windows/help_window.h"
#include "platform/url_opener.h"
#include "shell/app_info.h"
#include "shell/program_record.h"
#include "sync/copy_controller.h"
#include "view/path_box.h"
#include "sync/report_export.h"
#include "sync/row_properties.h"
#include "sync/special_lists.h"
#include "view/color_scheme.h"
#include "view/grid_search.h"
#include "view/result_view.h"
#include "view/window_layout.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

// The icons live in a static library, whose resources must be registered by hand.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace sorvane::shell {

using namespace window_parts;

MainWindow::MainWindow(const StartOptions& options, QWidget* parent)
    : QMainWindow(parent), options_(options), datFile_(options.settingsFile) {
    if (options_.dialogs != nullptr) {
        dialogs_ = options_.dialogs;
    } else {
        ownDialogs_ = std::make_unique<platform::QtDialogService>();
        dialogs_ = ownDialogs_.get();
    }
    // A message box's Help button opens the help at its contents.
    dialogs_->SetHelp([this] { ShowHelp(0); });
    InitIconResources();
    setObjectName(QStringLiteral("fwMain"));
    setWindowIcon(Icon("sorvane"));
    model_ = new view::ResultModel(this);
    grid_ = new view::ResultView(model_, this);
    grid_->setObjectName(QStringLiteral("fgFiles"));
    setCentralWidget(grid_);
    runner_ = new ScanRunner(this);
    connect(runner_, &ScanRunner::Updated, this, &MainWindow::OnScanUpdated);
    connect(runner_, &ScanRunner::Finished, this, &MainWindow::OnScanFinished);
    copier_ = new sync::CopyController(this, *dialogs_, *model_,
                                       QString::fromLatin1(kProgramTitle) + QStringLiteral(" Message"),
                                       sync::CopyRowWithBackup, sync::SystemFolderWarningFor);
    connect(copier_, &sync::CopyController::CopyingChanged, this, &MainWindow::OnCopyingChanged);
    connect(copier_, &sync::CopyController::RowReached, this,
            [this](int row) { grid_->SelectRow(row); });
    connect(copier_, &sync::CopyController::SingleCopyFinished, this, [this](int next) {
        if (next >= 0)
            grid_->SelectRow(next);
        UpdateCommandState();
    });
    connect(copier_, &sync::CopyController::BatchStarted, this, [this](int newer) {
        // A batch starts clear: the count and the end of the last one go.
        SetPanel(1, QStringLiteral("0/%1").arg(newer));
        if (PanelText(2) == tr(kCopyInterruptedNotice))
            SetPanel(2, {});
    });
    connect(copier_, &sync::CopyController::BatchProgress, this, [this](int copied, int newer) {
        SetPanel(1, QStringLiteral("%1/%2").arg(copied).arg(newer));
    });
    connect(copier_, &sync::CopyController::BatchFinished, this, &MainWindow::OnBatchFinished);
    connect(grid_, &view::ResultView::CopyRequested, this, &MainWindow::fgFiles_CopyPath);
    connect(grid_, &view::ResultView::ContextMenuRequested, this, [this](const QPoint& at) {
        UpdateCommandState(); // the Tools commands for the row just clicked
        mTools_->exec(at);
    });
    // What the Tools commands offer follows the current row however it
    // moves: mouse, keys, Find, typing in the grid.
    connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!Busy())
            UpdateCommandState();
    });
    connect(grid_, &view::ResultView::HeaderClicked, this, [this](int column) {
        if (column >= kNameColumn && column <= kCopyrightColumn)
            SortByHeader(column);
    });

    CreateActions();
    CreateMenus();
    CreateBands();
    CreateStatusBar();
    DescribeControls();
    ConnectGridProperties();
    LoadSettings();
    settingUp_ = false;
    StartCommandChannel();
}

MainWindow::~MainWindow() {
    dialogs_->SetHelp({});
}

// ---------------------------------------------------------------- creation

void MainWindow::CreateActions() {
    const auto add = [this](const QString& name, const QString& caption,
                            const QKeySequence& key = {}) {
        auto* a = new QAction(caption, this);
        a->setObjectName(name);
        if (!key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WindowShortcut);
        }
        addAction(a); // shortcuts work while the menu bar is closed
        actions_[name] = a;
        return a;
    };

    connect(add("mFileOpenSourcePath", tr("Open Source &Path...")), &QAction::triggered, this,
            &MainWindow::mFileOpenSourcePath_Click);
    connect(add("mFileOpenSourceMap", tr("Open Source &Map..."), QKeySequence(Qt::CTRL | Qt::Key_O)),
            &QAction::triggered, this, &MainWindow::mFileOpenSourceMap_Click);
    connect(add("mFileOpenTargetPath", tr("Open &Target Path...")), &QAction::triggered, this,
            &MainWindow::mFileOpenTargetPath_Click);
    connect(add("mFileScan", tr("Sca&n"), QKeySequence(Qt::Key_F5)), &QAction::triggered, this,
            &MainWindow::mFileScan_Click);
    connect(add("mFileSaveSourceMap", tr("&Save Source Map..."), QKeySequence(Qt::CTRL | Qt::Key_S)),
            &QAction::triggered, this, &MainWindow::mFileSaveSourceMap_Click);
    connect(add("mFileExportReport", tr("Export &Report...")), &QAction::triggered, this,
            &MainWindow::mFileExportReport_Click);
    connect(add("mFileExit", tr("E&xit")), &QAction::triggered, this, &QWidget::close);

    // The edit commands act on the focused text field.
    const auto editCommand = [this](auto command) {
        return [this, command] {
            if (QLineEdit* edit = FocusedTextBox())
                (edit->*command)();
        };
    };
    connect(add("mEditUndo", tr("&Undo"), QKeySequence(Qt::ALT | Qt::Key_Backspace)),
            &QAction::triggered, this, editCommand(&QLineEdit::undo));
    connect(add("mEditCut", tr("Cu&t"), QKeySequence(Qt::SHIFT | Qt::Key_Delete)),
            &QAction::triggered, this, editCommand(&QLineEdit::cut));
    connect(add("mEditCopy", tr("&Copy"), QKeySequence(Qt::CTRL | Qt::Key_Insert)),
            &QAction::triggered, this, [this, copyText = editCommand(&QLineEdit::copy)] {
                // In a text box it copies the selected text; in the grid the
                // current row's path.
                if (FocusedTextBox() != nullptr)
                    copyText();
                else
                    fgFiles_CopyPath();
            });
    connect(add("mEditPaste", tr("&Paste"), QKeySequence(Qt::SHIFT | Qt::Key_Insert)),
            &QAction::triggered, this, editCommand(&QLineEdit::paste));
    connect(add("mEditDelete", tr("&Delete")), &QAction::triggered, this,
            editCommand(&QLineEdit::del));
    for (int i = 0; i < kCategoryCount; ++i) {
        const QString caption = tr(sync::kSpecialListCaptions[static_cast<std::size_t>(i)]);
        connect(add(QStringLiteral("mEditCopySpecialList%1").arg(i), caption), &QAction::triggered,
                this, [this, i] { mEditCopySpecialList_Click(i); });
        connect(add(QStringLiteral("mEditSaveSpecialList%1").arg(i), caption + QStringLiteral("...")),
                &QAction::triggered, this, [this, i] { mEditSaveSpecialList_Click(i); });
    }
    connect(add("mEditFind", tr("&Find..."), QKeySequence(Qt::CTRL | Qt::Key_F)),
            &QAction::triggered, this, &MainWindow::mEditFind_Click);
    connect(add("mEditFindNext", tr("Find &Next"), QKeySequence(Qt::Key_F3)), &QAction::triggered,
            this, &MainWindow::mEditFindNext_Click);

    const std::array<const char*, kBandCount> bandCaptions = {"&Buttons", "&Source Bar",
                                                             "&Target Bar", "Filte&r Bar"};
    for (int i = 1; i <= kBandCount; ++i) {
        QAction* a = add(QStringLiteral("mViewToolbar%1").arg(i), tr(bandCaptions[i - 1]));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, i] { mViewToolbar_Click(i); });
    }
    QAction* status = add("mViewStatus", tr("Status &Bar"));
    status->setCheckable(true);
    connect(status, &QAction::triggered, this, &MainWindow::mViewStatus_Click);
    connect(add("mViewResizeColumns", tr("&Resize Columns"), QKeySequence(Qt::Key_F6)),
            &QAction::triggered, this, &MainWindow::mViewResizeColumns_Click);
    arrangeGroup_ = new QActionGroup(this);
    QAction* none = add("mViewArrangeNone", tr("&None"));
    none->setCheckable(true);
    arrangeGroup_->addAction(none);
    connect(none, &QAction::triggered, this, &MainWindow::mViewArrangeNone_Click);
    for (int i = 1; i <= kDataColumns; ++i) {
        QAction* column = add(QStringLiteral("mViewColumns%1").arg(i), tr(kColumnCaptions[i - 1]));
        column->setCheckable(true);
        connect(column, &QAction::triggered, this, [this, i] { mViewColumns_Click(i); });
        QAction* arrange = add(QStringLiteral("mViewArrange%1").arg(i), tr(kColumnCaptions[i - 1]));
        arrange->setCheckable(true);
        arrangeGroup_->addAction(arrange);
        connect(arrange, &QAction::triggered, this, [this, i] { mViewArrange_Click(i); });
    }
    QAction* subfolders = add("mViewSubfolders", tr("&Include Sub-folders"));
    subfolders->setCheckable(true);
    connect(subfolders, &QAction::triggered, this, &MainWindow::mViewSubfolders_Click);
    orderGroup_ = new QActionGroup(this);
    const std::array<const char*, 2> orders = {"&Ascending", "&Descending"};
    for (int i = 0; i < 2; ++i) {
        QAction* a = add(QStringLiteral("mViewOrder%1").arg(i), tr(orders[i]));
        a->setCheckable(true);
        orderGroup_->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] { mViewOrder_Click(i); });
    }
    showFilesGroup_ = new QActionGroup(this);
    const std::array<const char*, 3> modes = {"Show All &Versioned Files",
                                              "Show Different Files &Only",
                                              "Show &Newer Files Only"};
    for (int i = 0; i < 3; ++i) {
        QAction* a = add(QStringLiteral("mViewShowFiles%1").arg(i), tr(modes[i]));
        a->setCheckable(true);
        showFilesGroup_->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] { mViewShowFiles_Click(i); });
    }
    for (int i = 0; i < view::kColorCount; ++i)
        connect(add(QStringLiteral("mViewColor%1").arg(i), tr(kColorCaptions[i])),
                &QAction::triggered, this, [this, i] { mViewColor_Click(i); });
    connect(add("mViewSetFont", tr("Set &Font...")), &QAction::triggered, this,
            &MainWindow::mViewSetFont_Click);
    connect(add("mViewCustomize", tr("Customi&ze...")), &QAction::triggered, this,
            &MainWindow::mViewCustomize_Click);

    connect(add("mToolsSwap", tr("S&wap Source/Target")), &QAction::triggered, this,
            &MainWindow::mToolsSwap_Click);
    // The menu item and F9 copy only a row the state allows, asked again at
    // the press; the Synchr button goes to the handler directly.
    connect(add("mToolsCopySource", tr("&Copy from Source to Target"), QKeySequence(Qt::Key_F9)),
            &QAction::triggered, this, [this] {
                mTools_Click();
                if (action("mToolsCopySource")->isEnabled())
                    mToolsCopySource_Click();
            });
    connect(add("mToolsCopyBatch", tr("Batch Copy from &Source to Target"),
                QKeySequence(Qt::CTRL | Qt::Key_F9)),
            &QAction::triggered, this, &MainWindow::mToolsCopyBatch_Click);
    QAction* backup = add("mToolsBackup", tr("Backup before &Replacement"));
    backup->setCheckable(true);
    connect(backup, &QAction::triggered, this, &MainWindow::mToolsBackup_Click);
    QAction* backupFolder =
        add("mToolsBackupFolder", tr("Set &Backup Folder..."), QKeySequence(Qt::CTRL | Qt::Key_B));
    backupFolder->setVisible(false);
    connect(backupFolder, &QAction::triggered, this, &MainWindow::mToolsBackupFolder_Click);
    // A hidden item's key does nothing in Qt; the key gets a shortcut of its own.
    auto* backupFolderKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_B), this);
    connect(backupFolderKey, &QShortcut::activated, this, [this] {
        if (!Busy())
            mToolsBackupFolder_Click();
    });
    connect(add("mToolsSetFilter", tr("Set &Filter...")), &QAction::triggered, this,
            &MainWindow::mToolsSetFilter_Click);
    connect(add("mToolsSourceProperties", tr("File &Properties...")), &QAction::triggered, this,
            &MainWindow::mToolsSourceProperties_Click);
    QAction* targetProperties = add("mToolsTargetProperties", tr("&Target File Properties..."));
    connect(targetProperties, &QAction::triggered, this, &MainWindow::mToolsTargetProperties_Click);
    targetProperties->setVisible(false);

    connect(add("mHelpTopics", tr("&Help Topics...")), &QAction::triggered, this,
            &MainWindow::mHelpTopics_Click);
    QAction* whatsThis = add("mHelpWhatsThis", tr("What is &This?"));
    whatsThis->setVisible(false);
    connect(whatsThis, &QAction::triggered, this, &MainWindow::mHelpWhatsThis_Click);
    connect(add("mHelpUpdate", tr("Check for &Update...")), &QAction::triggered, this,
            &MainWindow::mHelpUpdate_Click);
    connect(add("mHelpWeb", tr("Visit the Web&page...")), &QAction::triggered, this,
            &MainWindow::mHelpWeb_Click);
    connect(add("mHelpMail", tr("Feed&back...")), &QAction::triggered, this,
            &MainWindow::mHelpMail_Click);
    connect(add("mHelpAbout", tr("&About...")), &QAction::triggered, this,
            &MainWindow::mHelpAbout_Click);

    // The main tool bar's buttons: their own actions, so hiding a button
    // never hides a menu item; a click goes through the key dispatch.
    for (const ButtonInfo& info : kMainButtons) {
        auto* button = new QAction(Icon(info.icon), tr(info.description), this);
        const QString key = QString::fromLatin1(info.key);
        button->setObjectName(QStringLiteral("button") + key);
        button->setToolTip(tr(info.tip));
        button->setCheckable(info.checkable);
        connect(button, &QAction::triggered, this, [this, key] { pbToolbar_ButtonClick(key); });
        buttons_[key] = button;
        buttonOrder_.push_back(key);
    }
}

void MainWindow::CreateMenus() {
    const auto a = [this](const char* name) { return actions_.at(QString::fromLatin1(name)); };
    mFile_ = menuBar()->addMenu(tr("&File"));
    mFile_->setObjectName(QStringLiteral("mFile"));
    mFile_->addActions({a("mFileOpenSourcePath"), a("mFileOpenSourceMap"), a("mFileOpenTargetPath")});
    mFile_->addSeparator();
    mFile_->addActions({a("mFileScan"), a("mFileSaveSourceMap"), a("mFileExportReport")});
    mFile_->addSeparator();
    mFile_->addAction(a("mFileExit"));
    connect(mFile_, &QMenu::aboutToShow, this, &MainWindow::mFile_Click);

    mEdit_ = menuBar()->addMenu(tr("&Edit"));
    mEdit_->setObjectName(QStringLiteral("mEdit"));
    mEdit_->addAction(a("mEditUndo"));
    mEdit_->addSeparator();
    mEdit_->addActions({a("mEditCut"), a("mEditCopy"), a("mEditPaste"), a("mEditDelete")});
    mEdit_->addSeparator();
    QMenu* copySpecial = mEdit_->addMenu(tr("Copy &Special"));
    copySpecial->setObjectName(QStringLiteral("mEditCopySpecial"));
    QMenu* saveSpecial = mEdit_->addMenu(tr("Sa&ve Special"));
    saveSpecial->setObjectName(QStringLiteral("mEditSaveSpecial"));
    for (int i = 0; i < kCategoryCount; ++i) {
        copySpecial->addAction(actions_.at(QStringLiteral("mEditCopySpecialList%1").arg(i)));
        saveSpecial->addAction(actions_.at(QStringLiteral("mEditSaveSpecialList%1").arg(i)));
    }
    connect(mEdit_, &QMenu::aboutToShow, this, &MainWindow::mEdit_Click);
    mEdit_->addSeparator();
    mEdit_->addActions({a("mEditFind"), a("mEditFindNext")});

    mView_ = menuBar()->addMenu(tr("&View"));
    mView_->setObjectName(QStringLiteral("mView"));
    QMenu* toolbars = mView_->addMenu(tr("&Toolbars"));
    toolbars->setObjectName(QStringLiteral("mViewToolbars"));
    for (int i = 1; i <= kBandCount; ++i)
        toolbars->addAction(actions_.at(QStringLiteral("mViewToolbar%1").arg(i)));
    mView_->addAction(a("mViewStatus"));
    mView_->addSeparator();
    mView_->addAction(a("mViewResizeColumns"));
    QMenu* columns = mView_->addMenu(tr("Visible Col&umns"));
    columns->setObjectName(QStringLiteral("mViewVisibleColumns"));
    for (int i = 1; i <= kDataColumns; ++i)
        columns->addAction(actions_.at(QStringLiteral("mViewColumns%1").arg(i)));
    mViewArrangeBy_ = mView_->addMenu(tr("Arran&ge by"));
    mViewArrangeBy_->setObjectName(QStringLiteral("mViewArrangeBy"));
    mViewArrangeBy_->addAction(a("mViewArrangeNone"));
    mViewArrangeBy_->addSeparator();
    for (int i = 1; i <= kDataColumns; ++i)
        mViewArrangeBy_->addAction(actions_.at(QStringLiteral("mViewArrange%1").arg(i)));
    connect(mViewArrangeBy_, &QMenu::aboutToShow, this, &MainWindow::mViewArrangeBy_Click);
    mView_->addAction(a("mViewSubfolders"));
    mView_->addSeparator();
    mView_->addActions({a("mViewOrder0"), a("mViewOrder1")});
    mView_->addSeparator();
    mView_->addActions({a("mViewShowFiles0"), a("mViewShowFiles1"), a("mViewShowFiles2")});
    mView_->addSeparator();
    QMenu* colors = mView_->addMenu(tr("Set &Color of"));
    colors->setObjectName(QStringLiteral("mViewSetColor"));
    for (int i = 0; i < view::kColorCount; ++i)
        colors->addAction(actions_.at(QStringLiteral("mViewColor%1").arg(i)));
    mView_->addActions({a("mViewSetFont"), a("mViewCustomize")});
    connect(mView_, &QMenu::aboutToShow, this, &MainWindow::mView_Click);

    mTools_ = menuBar()->addMenu(tr("&Tools"));
    mTools_->setObjectName(QStringLiteral("mTools"));
    mTools_->addActions({a("mToolsSwap"), a("mToolsCopySource"), a("mToolsCopyBatch")});
    mTools_->addSeparator();
    mTools_->addActions({a("mToolsBackup"), a("mToolsBackupFolder")});
    mTools_->addSeparator();
    mTools_->addActions(
        {a("mToolsSetFilter"), a("mToolsSourceProperties"), a("mToolsTargetProperties")});
    connect(mTools_, &QMenu::aboutToShow, this, &MainWindow::mTools_Click);

    mHelp_ = menuBar()->addMenu(tr("&Help"));
    mHelp_->setObjectName(QStringLiteral("mHelp"));
    mHelp_->addActions({a("mHelpTopics"), a("mHelpWhatsThis")});
    mHelp_->addSeparator();
    mHelp_->addActions({a("mHelpUpdate"), a("mHelpWeb"), a("mHelpMail")});
    mHelp_->addSeparator();
    mHelp_->addAction(a("mHelpAbout"));
    CreateHelp();
}

void MainWindow::CreateBands() {
    pbToolbar_ = addToolBar(tr("Buttons"));
    pbToolbar_->setObjectName(QStringLiteral("pbToolbar"));
    pbToolbar_->setIconSize(QSize(22, 22));
    for (const QString& key : buttonOrder_)
        pbToolbar_->addAction(buttons_.at(key));

    const auto pathBand = [this](const char* name, const QString& caption,
                                 view::PathBox::Kind kind, view::PathBox*& box,
                                 const std::vector<std::pair<const char*, const char*>>& tools) {
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
        for (const auto& [key, icon] : tools) {
            QAction* button = bar->addAction(Icon(icon), QString::fromLatin1(key));
            button->setObjectName(QStringLiteral("bb") + QString::fromLatin1(name + 2) +
                                  QString::fromLatin1(key));
            buttons_[QString::fromLatin1(name + 2) + QString::fromLatin1(key)] = button;
        }
        return bar;
    };
    pbSource_ = pathBand("pbSource", tr("&Source:"), view::PathBox::Kind::Source, cbSource_,
                         {{"Folder", "folder"}, {"File", "file"}});
    pbTarget_ = pathBand("pbTarget", tr("Tar&get:"), view::PathBox::Kind::Target, cbTarget_,
                         {{"Folder", "folder"}, {"Swap", "swap"}});
    pbFilter_ = pathBand("pbFilter", tr("Filte&r:"), view::PathBox::Kind::Filter, cbFilter_,
                         {{"Filter", "filter"}});
    // A filter is short; the paths get the room.
    cbFilter_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    cbFilter_->setMinimumContentsLength(18);
    buttons_.at(QStringLiteral("SourceFolder"))->setToolTip(tr("Open Source Path"));
    buttons_.at(QStringLiteral("SourceFile"))->setToolTip(tr("Open Source Map (Ctrl+O)"));
    buttons_.at(QStringLiteral("TargetFolder"))->setToolTip(tr("Open Target Path"));
    buttons_.at(QStringLiteral("TargetSwap"))->setToolTip(tr("Swap Source/Target"));
    buttons_.at(QStringLiteral("FilterFilter"))->setToolTip(tr("Set Filter"));
    connect(buttons_.at(QStringLiteral("SourceFolder")), &QAction::triggered, this,
            &MainWindow::mFileOpenSourcePath_Click);
    connect(buttons_.at(QStringLiteral("SourceFile")), &QAction::triggered, this,
            &MainWindow::mFileOpenSourceMap_Click);
    connect(buttons_.at(QStringLiteral("TargetFolder")), &QAction::triggered, this,
            &MainWindow::mFileOpenTargetPath_Click);
    connect(buttons_.at(QStringLiteral("TargetSwap")), &QAction::triggered, this,
            &MainWindow::mToolsSwap_Click);
    connect(buttons_.at(QStringLiteral("FilterFilter")), &QAction::triggered, this,
            &MainWindow::mToolsSetFilter_Click);

    for (QToolBar* bar : {pbToolbar_, pbSource_, pbTarget_, pbFilter_}) {
        bar->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(bar, &QWidget::customContextMenuRequested, this,
                [this, bar](const QPoint& at) { ShowViewMenuAt(bar->mapToGlobal(at)); });
        bar->installEventFilter(this); // double clicks open the customise dialog
    }

    connect(cbSource_, &view::PathBox::TextChanged, this, &MainWindow::OnSourceChanged);
    connect(cbSource_, &view::PathBox::Picked, this, &MainWindow::OnSourceChanged);
    connect(cbTarget_, &view::PathBox::TextChanged, this, &MainWindow::OnTargetChanged);
    connect(cbTarget_, &view::PathBox::Picked, this, &MainWindow::OnTargetChanged);
    connect(cbFilter_, &view::PathBox::Picked, this, &MainWindow::NoteSettingsChanged);
    const auto enter = [this](view::PathBox* box, bool refresh) {
        connect(box, &view::PathBox::EnterPressed, this, [this, box, refresh] {
            box->AddToHistory();
            NoteSettingsChanged();
            if (refresh)
                UpdateCommandState();
        });
    };
    enter(cbSource_, true);
    enter(cbTarget_, true);
    enter(cbFilter_, false);
}

void MainWindow::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("pbStatusBar"));
    bar->setSizeGripEnabled(true);
    panel1_ = new QLabel(bar);
    panel1_->setMinimumWidth(90);
    panel2_ = new QLabel(bar);
    panel3_ = new QLabel(bar);
    panel3_->setMinimumWidth(160);
    panel3_->setMaximumWidth(400);
    pbProgress_ = new QProgressBar(bar);
    pbProgress_->setObjectName(QStringLiteral("pbProgress"));
    pbProgress_->setRange(0, 100);
    pbProgress_->setTextVisible(false);
    tbSearch_ = new QLineEdit(bar);
    tbSearch_->setObjectName(QStringLiteral("tbSearch"));
    panel2Stack_ = new QStackedWidget(bar);
    panel2Stack_->addWidget(panel2_);
    panel2Stack_->addWidget(pbProgress_);
    panel2Stack_->addWidget(tbSearch_);
    search_ = new view::GridSearch(
        *model_, *grid_, *tbSearch_, *panel2Stack_, *panel2_,
        [this] { return statusBar()->isVisible() && model_->HasResults(); },
        [this] {
            if (statusBar()->isVisible())
                SetPanel(2, tr("Can not find."));
            else
                Dialogs().ShowMessage(this, tr("Find Text"), tr("Can not find."),
                                      platform::MessageIcon::Information,
                                      platform::MessageButtons::Ok, {},
                                      platform::MessageHelp::Button);
        },
        this);
    for (QLabel* panel : {panel1_, panel2_, panel3_})
        panel->setTextFormat(Qt::PlainText);
    panel2_->installEventFilter(this); // a click lists the entries that could not be read
    bar->addWidget(panel1_);
    bar->addWidget(panel2Stack_, 1);
    bar->addWidget(panel3_);
    bar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(bar, &QWidget::customContextMenuRequested, this,
            [this, bar](const QPoint& at) { ShowViewMenuAt(bar->mapToGlobal(at)); });
}

// ------------------------------------------------------- start and shut-down

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstActivation_) {
        firstActivation_ = false;
        FirstActivation();
    }
}

void MainWindow::FirstActivation() {
    LoadBandLayout();
    // The bands now know how much room they need: the window gets at least
    // that, and stays on the screen.
    if (windowState() == Qt::WindowNoState && screen() != nullptr) {
        const QRect available = screen()->availableGeometry();
        // Frame and client area differ by the title bar and the borders.
        const QMargins border(geometry().left() - frameGeometry().left(),
                              geometry().top() - frameGeometry().top(),
                              frameGeometry().right() - geometry().right(),
                              frameGeometry().bottom() - geometry().bottom());
        const QRect frame =
            firstStart_ ? view::FirstWindowGeometry(available, minimumSize().grownBy(border))
                        : view::FitOnScreen(frameGeometry(), available);
        move(frame.topLeft());
        resize(frame.size().shrunkBy(border));
    }
    RestoreToolbarButtons();
    mView_Click(); // the band check marks follow the restored layout
    UpdateCommandState();
    // Work starts with the first path still to give.
    (cbSource_->Text().isEmpty() ? cbSource_ : cbTarget_)->setFocus();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (Scanning())
        runner_->RequestStop();
    if (copier_->IsCopying())
        copier_->RequestStop(); // the file being copied is finished, the rest left
    SaveSettings();
    if (help_ != nullptr)
        help_->close(); // the program ends with its main window
    event->accept();
}

// Each colour item shows a 10 x 10 swatch of its colour in a black frame.
void MainWindow::DrawColorSwatches() {
    for (int i = 0; i < view::kColorCount; ++i)
        action(QStringLiteral("mViewColor%1").arg(i))
            ->setIcon(view::ColorSwatch(model_->Colors().color(i)));
}

void MainWindow::mViewColor_Click(int index) {
    if (Busy() || index < 0 || index >= view::kColorCount)
        return;
    const QString category = ColorName(index);
    const auto chosen = Dialogs().ChooseColor(this, model_->Colors().color(index),
                                              tr("Color of %1").arg(category));
    if (!chosen)
        return;
    view::ColorSet colors = model_->Colors();
    colors.Set(index, view::ToColorRef(*chosen));
    const int current = grid_->CurrentRow();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model_->SetColorSet(colors); // rows of categories 2 to 6 take their new colour
    QApplication::restoreOverrideCursor();
    ApplyColors();
    DrawColorSwatches();
    grid_->SelectRow(current);
    NoteLowContrast();
}

// A colour's category name: its item's caption without "&" and the closing "...".
QString MainWindow::ColorName(int index) const {
    QString category = tr(kColorCaptions[static_cast<std::size_t>(index)]);
    category.remove(QLatin1Char('&'));
    category.chop(3);
    return category;
}

void MainWindow::NoteLowContrast() {
    const auto low = view::LowContrastColor(model_->Colors());
    if (!low)
        return;
    SetPanel(2, tr("The color of %1 is hard to read on the background (contrast %2:1).")
                    .arg(ColorName(low->first))
                    .arg(low->second, 0, 'f', 1));
}

void MainWindow::mViewSetFont_Click() {
    if (Busy())
        return;
    const auto chosen = Dialogs().ChooseFont(this, grid_->font(),
                                             model_->Colors().color(view::kRegularTextColor));
    if (!chosen)
        return;
    grid_->SetFontKeepingWidths(*chosen);
    tbSearch_->setFont(view::SearchBoxFont(*chosen));
}

void MainWindow::ApplyColors() {
    QPalette palette = grid_->palette();
    palette.setColor(QPalette::Base, model_->Colors().color(view::kBackgroundColor));
    palette.setColor(QPalette::Text, model_->Colors().color(view::kRegularTextColor));
    grid_->setPalette(palette);
}

// ------------------------------------------------------------------ lookups

QAction* MainWindow::action(const QString& name) const {
    const auto it = actions_.find(name);
    return it == actions_.end() ? nullptr : it->second;
}

QToolBar* MainWindow::band(const QString& name) const {
    for (QToolBar* bar : {pbToolbar_, pbSource_, pbTarget_, pbFilter_})
        if (bar->objectName() == name)
            return bar;
    return nullptr;
}

QAction* MainWindow::toolbarButton(const QString& key) const {
    const auto it = buttons_.find(key);
    return it == buttons_.end() ? nullptr : it->second;
}

QString MainWindow::PanelText(int panel) const {
    switch (panel) {
    case 1:
        return panel1_->text();
    case 2:
        return panel2_->text();
    case 3:
        return panel3_->text();
    default:
        return {};
    }
}

void MainWindow::SetPanel(int panel, const QString& text) {
    QLabel* label = panel == 1 ? panel1_ : panel == 2 ? panel2_ : panel3_;
    // Folder names reach the panels: shown as the grid shows names.
    const QString shown = view::ShownText(Utf8(text));
    if (label->text() != shown)
        label->setText(shown);
}

void MainWindow::SetCaption(const QString& text) {
    if (windowTitle() != text)
        setWindowTitle(text);
}

// ------------------------------------------------------------ command state

void MainWindow::UpdateCommandState() {
    const bool scanning = Busy();
    for (QWidget* w : std::initializer_list<QWidget*>{pbSource_, pbTarget_, pbFilter_, grid_})
        w->setEnabled(!scanning);
    for (QMenu* menu : {mFile_, mEdit_, mView_, mTools_, mHelp_})
        menu->menuAction()->setEnabled(!scanning);
    // The shortcuts of the menu items must not work while the menus are off.
    for (const auto& [name, a] : actions_)
        if (name != QStringLiteral("mFileExit"))
            a->setEnabled(!scanning);
    buttons_.at(QStringLiteral("Stop"))->setEnabled(scanning);
    if (scanning) {
        for (const QString& key : buttonOrder_)
            if (key != QStringLiteral("Stop"))
                buttons_.at(key)->setEnabled(false);
        return;
    }
    mFile_Click();
    const bool results = model_->HasResults();
    buttons_.at(QStringLiteral("Scan"))->setEnabled(action("mFileScan")->isEnabled());
    buttons_.at(QStringLiteral("Save"))->setEnabled(action("mFileSaveSourceMap")->isEnabled());
    buttons_.at(QStringLiteral("Find"))->setEnabled(results);
    UpdateFindItems();
    buttons_.at(QStringLiteral("Recur"))->setEnabled(!sourceIsMap_);
    buttons_.at(QStringLiteral("Resize"))->setEnabled(results);
    mTools_Click();
    // Synchr copies the current row, but is offered as File Properties is:
    // through it an equal or busy row can be copied too.
    buttons_.at(QStringLiteral("Synchr"))
        ->setEnabled(action("mToolsSourceProperties")->isEnabled());
    const bool anyPath = !NormalizeFolderPath(Utf8(cbSource_->Text()), false).empty() ||
                         !NormalizeFolderPath(Utf8(cbTarget_->Text()), false).empty();
    buttons_.at(QStringLiteral("TargetSwap"))->setEnabled(!sourceIsMap_ && anyPath);
    buttons_.at(QStringLiteral("Backup"))->setEnabled(true);
}

void MainWindow::mFile_Click() {
    const std::string source = Utf8(cbSource_->Text());
    action("mFileScan")->setEnabled(sourceIsMap_ ? FileExists(source) : !source.empty());
    action("mFileSaveSourceMap")->setEnabled(model_->HasResults());
    action("mFileExportReport")->setEnabled(model_->HasResults());
}

void MainWindow::mTools_Click() {
    action("mToolsSwap")
        ->setEnabled(!sourceIsMap_ && (!cbSource_->Text().isEmpty() || !cbTarget_->Text().isEmpty()));
    const bool canCopy = sync::CopyController::CanCopy(
        model_->RowAt(grid_->CurrentRow()), NormalizeFolderPath(Utf8(cbSource_->Text()), false),
        NormalizeFolderPath(Utf8(cbTarget_->Text()), false), sourceIsMap_);
    action("mToolsCopySource")->setEnabled(canCopy);
    action("mToolsCopyBatch")->setEnabled(canCopy);
    // A Source Map names no source files; a folder is no file.
    const std::string source = sourceIsMap_ ? std::string() : CurrentRowPath(cbSource_);
    action("mToolsSourceProperties")->setEnabled(!source.empty() && FileExists(source));
    const std::string target = CurrentRowPath(cbTarget_);
    targetPropertiesEnabled_ = !target.empty() && FileExists(target);
    action("mToolsTargetProperties")->setEnabled(targetPropertiesEnabled_);
}

std::string MainWindow::CurrentRowPath(const view::PathBox* box) const {
    const int row = grid_->CurrentRow();
    const auto& rows = model_->Rows();
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size() || rows[row].Name.empty() ||
        box->Text().isEmpty())
        return {};
    return JoinPath(NormalizeFolderPath(Utf8(box->Text()), false), rows[row].Name);
}

// ---------------------------------------------------------- file properties

void MainWindow::mToolsSourceProperties_Click() {
    // Each window only when its command is enabled, as last computed; both
    // open when both files exist.
    if (action("mToolsSourceProperties")->isEnabled())
        windows::ShowFileProperties(CurrentRowPath(cbSource_), this, CurrentGridRowSection());
    if (targetPropertiesEnabled_)
        mToolsTargetProperties_Click();
}

void MainWindow::mToolsTargetProperties_Click() {
    windows::ShowFileProperties(CurrentRowPath(cbTarget_), this, CurrentGridRowSection());
}

std::optional<windows::PropertySection> MainWindow::CurrentGridRowSection() const {
    if (const ComparisonRow* row = model_->RowAt(grid_->CurrentRow()))
        return sync::GridRowSection(*row);
    return std::nullopt;
}

void MainWindow::ConnectGridProperties() {
    // The grid acts on the row as it is now, so the availability is
    // computed again first, as opening the Tools menu does.
    const auto open = [this] {
        mTools_Click();
        mToolsSourceProperties_Click();
    };
    connect(grid_, &QAbstractItemView::doubleClicked, this, open);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | key), grid_);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, open);
    }
}

void MainWindow::mView_Click() {
    action("mViewResizeColumns")->setEnabled(model_->HasResults());
    action("mViewSubfolders")->setEnabled(!sourceIsMap_);
    const std::array<QToolBar*, kBandCount> bars = {pbToolbar_, pbSource_, pbTarget_, pbFilter_};
    for (int i = 1; i <= kBandCount; ++i)
        action(QStringLiteral("mViewToolbar%1").arg(i))
            ->setChecked(!bars[static_cast<std::size_t>(i - 1)]->isHidden());
}

void MainWindow::mViewArrangeBy_Click() {
    for (int i = 1; i <= kDataColumns; ++i)
        action(QStringLiteral("mViewArrange%1").arg(i))->setEnabled(grid_->ColumnWidthPx(i) > 1);
    action("mViewArrangeNone")->setEnabled(true);
}

void MainWindow::NoteSettingsChanged() {
    if (!model_->HasResults())
        return;
    SetPanel(2, tr(kSettingsChangedNotice));
    counters_.Reset();
}

// ----------------------------------------------------------------- path boxes

void MainWindow::OnSourceChanged() {
    sourceIsMap_ = IsSourceMapPath(Utf8(cbSource_->Text()));
    if (sourceIsMap_)
        ReleaseSubfolders();
    NoteSettingsChanged();
    if (!settingUp_)
        UpdateCommandState();
}

void MainWindow::OnTargetChanged() {
    copier_->RearmForTarget();
    NoteSettingsChanged();
    if (!settingUp_)
        UpdateCommandState();
}

// A map already carries the sub-folder paths of its entries.
void MainWindow::ReleaseSubfolders() {
    buttons_.at(QStringLiteral("Recur"))->setChecked(false);
    action("mViewSubfolders")->setChecked(false);
}

void MainWindow::mFileOpenSourcePath_Click() {
    const auto folder =
        Dialogs().BrowseForFolder(this, tr("Select the Source &Path:"), cbSource_->Text());
    if (!folder)
        return;
    cbSource_->SetText(*folder);
    cbSource_->AddToHistory();
    NoteSettingsChanged();
    UpdateCommandState();
    sourceIsMap_ = false;
}

void MainWindow::mFileOpenTargetPath_Click() {
    const auto folder =
        Dialogs().BrowseForFolder(this, tr("Select the &Target Path:"), cbTarget_->Text());
    if (!folder)
        return;
    cbTarget_->SetText(*folder);
    cbTarget_->AddToHistory();
    NoteSettingsChanged();
    UpdateCommandState();
}

void MainWindow::mToolsSwap_Click() {
    const QString target = cbTarget_->Text();
    cbTarget_->SetText(cbSource_->Text());
    cbTarget_->AddToHistory();
    cbSource_->SetText(target);
    cbSource_->AddToHistory();
    copier_->RearmAll();
    NoteSettingsChanged();
    UpdateCommandState();
}

void MainWindow::mToolsSetFilter_Click() {
    const auto filter = Dialogs().EditFilter(this, cbFilter_->Text());
    if (!filter)
        return;
    cbFilter_->SetText(*filter);
    if (auto* box = qobject_cast<view::PathBox*>(QApplication::focusWidget()))
        box->AddToHistory();
    else if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
        if (auto* owner = qobject_cast<view::PathBox*>(edit->parentWidget()))
            owner->AddToHistory();
    NoteSettingsChanged();
}

// --------------------------------------------------------------- Source Maps

void MainWindow::mFileSaveSourceMap_Click() {
    platform::FileDialogOptions options;
    options.title = tr("Save Source Map...");
    options.filter = tr("Map Files (*.map);;All files (*)");
    options.defaultSuffix = QStringLiteral("map");
    const std::string home = Utf8(QDir::homePath());
    options.startFolder =
        sourceIsMap_ ? Qt8(FolderForDialog(Utf8(cbSource_->Text()), home))
                     : Qt8(ReadSetting(datFile_, "General", "LastSave", home));
    const auto chosen = Dialogs().SaveFileName(this, options);
    if (!chosen || chosen->isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string header =
        SourceMapHeader(Utf8(cbSource_->Text()), Utf8(cbTarget_->Text()), sourceIsMap_);
    const auto written = WriteSourceMap(Utf8(*chosen), header, model_->Rows());
    QApplication::restoreOverrideCursor();
    if (!written) {
        Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                              tr("The Source Map could not be saved as\n%1\n\n%2")
                                  .arg(*chosen, Qt8(written.error().Message())),
                              platform::MessageIcon::Warning, platform::MessageButtons::Ok);
        return;
    }
    if (!written->skippedNames.empty())
        ShowLeftOut(sync::LeftOutOf::SourceMap, written->skippedNames);
    WriteSetting(datFile_, "General", "LastSave", FolderForDialog(Utf8(*chosen), home));
}

void MainWindow::mFileExportReport_Click() {
    const ScanOutcome& scan = runner_->Outcome();
    sync::ReportExport(this, Dialogs(), datFile_, QString::fromLatin1(kProgramTitle))
        .Run(*grid_, {std::string(kProgramTitle) + " Report", scan.source, scan.target,
                      scan.displayMode, scan.mode == ScanMode::SourceOnly});
}

void MainWindow::mFileOpenSourceMap_Click() {
    platform::FileDialogOptions options;
    options.title = tr("Open Source Map...");
    options.filter = tr("Map Files (*.map);;All files (*)");
    options.defaultSuffix = QStringLiteral("map");
    options.confirmOverwrite = false;
    options.startFolder = sourceIsMap_
                              ? Qt8(FolderForDialog(Utf8(cbSource_->Text()), Utf8(QDir::homePath())))
                              : cbSource_->Text();
    const auto chosen = Dialogs().OpenFileName(this, options);
    if (!chosen || chosen->isEmpty())
        return;
    cbSource_->SetText(*chosen);
    cbSource_->AddToHistory();
    NoteSettingsChanged();
    UpdateCommandState();
    sourceIsMap_ = true; // even when the name does not end in .map
    ReleaseSubfolders();
    UpdateCommandState();
}

// ------------------------------------------------------------- special lists

void MainWindow::UpdateSpecialListItems() {
    for (int i = 0; i < kCategoryCount; ++i) {
        const bool offered = sync::SpecialListAvailable(i, counters_, sourceIsMap_);
        action(QStringLiteral("mEditCopySpecialList%1").arg(i))->setEnabled(offered);
        action(QStringLiteral("mEditSaveSpecialList%1").arg(i))->setEnabled(offered);
    }
}

// The states of the Edit menu, each time it opens: the text commands follow
// the focused text box, Copy in the grid copies the current row's path.
QLineEdit* MainWindow::FocusedTextBox() const {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr)
        return nullptr;
    // A path box keeps the focus itself and edits in its line edit.
    for (view::PathBox* box : {cbSource_, cbTarget_, cbFilter_})
        if (focus == box || focus == box->lineEdit())
            return box->lineEdit();
    return focus == tbSearch_ ? tbSearch_ : nullptr;
}

void MainWindow::mEdit_Click() {
    QLineEdit* edit = FocusedTextBox();
    if (edit != nullptr) {
        const bool selected = edit->hasSelectedText();
        action("mEditUndo")->setEnabled(true);
        for (const char* name : {"mEditCut", "mEditCopy", "mEditDelete"})
            action(name)->setEnabled(selected);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        action("mEditPaste")->setEnabled(data != nullptr && data->hasText() &&
                                         !data->text().isEmpty());
    } else {
        for (const char* name : {"mEditUndo", "mEditCut", "mEditPaste", "mEditDelete"})
            action(name)->setEnabled(false);
        action("mEditCopy")->setEnabled(model_->HasResults() && !sourceIsMap_);
    }
    UpdateSpecialListItems();
    UpdateFindItems();
}

void MainWindow::UpdateFindItems() {
    const bool results = model_->HasResults();
    action("mEditFind")->setEnabled(results);
    action("mEditFindNext")
        ->setEnabled(results && !findState_.text.isEmpty() && search_->LastSearchFound());
}

view::FindOptions MainWindow::FindBoxOptions() const {
    view::FindOptions options;
    options.wholeWord = (findState_.options & platform::FindState::kWholeWord) != 0;
    options.matchCase = (findState_.options & platform::FindState::kMatchCase) != 0;
    options.upwards = (findState_.options & platform::FindState::kSearchUp) != 0;
    return options;
}

void MainWindow::mEditFind_Click() {
    if (Busy() || !model_->HasResults())
        return;
    if (Dialogs().ShowFindBox(this, findState_))
        search_->Find(findState_.text, FindBoxOptions());
    UpdateCommandState();
    grid_->setFocus();
}

void MainWindow::mEditFindNext_Click() {
    if (Busy() || !model_->HasResults())
        return;
    search_->FindNext(findState_.text, FindBoxOptions());
    UpdateCommandState();
    grid_->setFocus();
}

void MainWindow::fgFiles_CopyPath() {
    // A Source Map names no folder the files are in: its path joined with a
    // Name is no file, so nothing is copied then.
    if (sourceIsMap_ || !model_->HasResults())
        return;
    const std::string path = CurrentRowPath(cbSource_);
    if (path.empty())
        return;
    if (!sync::ListCanHoldPath(path)) {
        ShowLeftOut(sync::LeftOutOf::List, {path});
        return;
    }
    if (!platform::PutFileListOnClipboard(Clipboard(), {path}))
        Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                              tr("The path could not be put on the clipboard."),
                              platform::MessageIcon::Warning, platform::MessageButtons::Ok);
}

platform::ClipboardService& MainWindow::Clipboard() {
    if (options_.clipboard != nullptr)
        return *options_.clipboard;
    if (ownClipboard_ == nullptr)
        ownClipboard_ = std::make_unique<platform::QtClipboardService>();
    return *ownClipboard_;
}

void MainWindow::mEditCopySpecialList_Click(int index) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const sync::SpecialList list = sync::MakeSpecialList(
        index, model_->Rows(), Utf8(cbSource_->Text()), Utf8(cbTarget_->Text()));
    // As files for a file manager to paste, and as the list's text.
    const bool taken = platform::PutFileListOnClipboard(Clipboard(), list.paths, list.Text());
    QApplication::restoreOverrideCursor();
    if (!taken)
        Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                              tr("The list could not be put on the clipboard."),
                              platform::MessageIcon::Warning, platform::MessageButtons::Ok);
    else if (!list.leftOut.empty())
        ShowLeftOut(sync::LeftOutOf::List, list.leftOut);
}

void MainWindow::ShowLeftOut(sync::LeftOutOf where, const std::vector<std::string>& names) {
    Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                          sync::LeftOutMessage(where, names), platform::MessageIcon::Warning,
                          platform::MessageButtons::Ok);
}

void MainWindow::mEditSaveSpecialList_Click(int index) {
    const QAction* item = action(QStringLiteral("mEditSaveSpecialList%1").arg(index));
    if (item == nullptr)
        return;
    platform::FileDialogOptions options;
    options.title = tr("Save ") + QString(item->text()).remove(QLatin1Char('&'));
    options.filter = tr("Text Files (*.txt);;All files (*)");
    options.defaultSuffix = QStringLiteral("txt");
    const std::string home = Utf8(QDir::homePath());
    options.startFolder = Qt8(ReadSetting(datFile_, "General", "LastSave", home));
    const auto chosen = Dialogs().SaveFileName(this, options);
    if (!chosen || chosen->isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const sync::SpecialList list = sync::MakeSpecialList(
        index, model_->Rows(), Utf8(cbSource_->Text()), Utf8(cbTarget_->Text()));
    // A list that cannot be written whole leaves the old file as it was.
    const WriteOutcome written = WriteFileAtomically(Utf8(*chosen), list.Text());
    QApplication::restoreOverrideCursor();
    if (!written) {
        Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                              tr("The list could not be saved as\n%1\n\n%2")
                                  .arg(*chosen, Qt8(written.error().Message())),
                              platform::MessageIcon::Warning, platform::MessageButtons::Ok);
        return;
    }
    if (!list.leftOut.empty())
        ShowLeftOut(sync::LeftOutOf::List, list.leftOut);
    WriteSetting(datFile_, "General", "LastSave", FolderForDialog(Utf8(*chosen), home));
}

// ------------------------------------------------------------------- toggles

void MainWindow::mViewSubfolders_Click() {
    QAction* item = action("mViewSubfolders");
    if (sender() != item) // the menu item toggles itself; everything else inverts it here
        item->setChecked(!item->isChecked());
    buttons_.at(QStringLiteral("Recur"))->setChecked(item->isChecked());
    NoteSettingsChanged();
}

void MainWindow::mToolsBackup_Click() {
    QAction* item = action("mToolsBackup");
    if (sender() != item)
        item->setChecked(!item->isChecked());
    buttons_.at(QStringLiteral("Backup"))->setChecked(item->isChecked());
    copier_->RearmConfirmation();
}

bool MainWindow::Busy() const { return Scanning() || copier_->IsCopying(); }

void MainWindow::mToolsCopySource_Click() {
    if (Busy())
        return;
    copier_->CopySingle(grid_->CurrentRow(), NormalizeFolderPath(Utf8(cbSource_->Text()), false),
                        NormalizeFolderPath(Utf8(cbTarget_->Text()), false),
                        action("mToolsBackup")->isChecked());
}

void MainWindow::mToolsCopyBatch_Click() {
    if (Busy())
        return;
    mTools_Click();
    if (!action("mToolsCopyBatch")->isEnabled())
        return;
    copier_->StartBatch(NormalizeFolderPath(Utf8(cbSource_->Text()), false),
                        NormalizeFolderPath(Utf8(cbTarget_->Text()), false),
                        action("mToolsBackup")->isChecked(), counters_[kNewerSourceCategory]);
}

void MainWindow::mToolsBackupFolder_Click() {
    const QString start = backupFolder_.empty() ? cbTarget_->Text() : Qt8(backupFolder_);
    const auto folder = Dialogs().BrowseForFolder(
        this, tr("Select the &Backup Folder, or\nPress 'Ins' to create a new Folder"), start);
    if (!folder)
        return;
    const std::string chosen = NormalizeFolderPath(Utf8(*folder), false);
    if (chosen != backupFolder_)
        copier_->RearmConfirmation();
    backupFolder_ = chosen;
}

void MainWindow::OnCopyingChanged(bool copying) {
    // While files are copied, Esc anywhere asks the batch to stop.
    if (copying) {
        qApp->installEventFilter(this);
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        qApp->removeEventFilter(this);
        QApplication::restoreOverrideCursor();
    }
    UpdateCommandState();
}

void MainWindow::OnBatchFinished(bool interrupted) {
    if (interrupted)
        SetPanel(2, tr(kCopyInterruptedNotice));
    UpdateCommandState();
}

void MainWindow::mViewStatus_Click() {
    statusBar()->setVisible(action("mViewStatus")->isChecked());
}

void MainWindow::mViewToolbar_Click(int index) {
    const std::array<QToolBar*, kBandCount> bars = {pbToolbar_, pbSource_, pbTarget_, pbFilter_};
    if (index < 1 || index > kBandCount)
        return;
    bars[static_cast<std::size_t>(index - 1)]->setVisible(
        action(QStringLiteral("mViewToolbar%1").arg(index))->isChecked());
}

void MainWindow::mViewCustomize_Click() {
    const auto chosen = Dialogs().CustomizeToolbar(this, ToolbarButtons());
    if (!chosen)
        return;
    ApplyToolbarButtons(*chosen);
    // Kept at once, not only when the window closes.
    SaveToolbarLayout(datFile_, ToolbarLayout());
}

void MainWindow::pbToolbar_ButtonClick(const QString& key) {
    const auto is = [&key](const char* name) {
        return key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    if (is("Scan"))
        mFileScan_Click();
    else if (is("Stop"))
        RequestStop();
    else if (is("Save"))
        mFileSaveSourceMap_Click();
    else if (is("Recur"))
        mViewSubfolders_Click();
    else if (is("Resize"))
        mViewResizeColumns_Click();
    else if (is("Backup"))
        mToolsBackup_Click();
    else if (is("Synchr"))
        mToolsCopySource_Click();
    else if (is("Find"))
        mEditFind_Click();
}

void MainWindow::ShowViewMenuAt(const QPoint& globalPos) {
    mView_Click();
    mView_->setDefaultAction(action("mViewCustomize"));
    mView_->exec(globalPos);
    mView_->setDefaultAction(nullptr);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == pbToolbar_ || watched == pbSource_ || watched == pbTarget_)) {
        mViewCustomize_Click();
        return true;
    }
    if (watched == panel2_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && !unreadable_.empty()) {
        pbStatusBar_PanelClick(2);
        return true;
    }
    // While a scan or a copy runs every Esc goes to the stop request.
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

void MainWindow::RequestStop() {
    if (copier_->IsCopying())
        copier_->RequestStop();
    else
        runner_->RequestStop();
}

// ---------------------------------------------------------------------- scan

void MainWindow::mFileScan_Click() {
    if (Scanning())
        return;
    cbSource_->AddToHistory();
    cbTarget_->AddToHistory();
    cbFilter_->AddToHistory();
    SetPanel(1, {});
    SetPanel(2, {});
    SetPanel(3, {});
    rowsAdded_ = 0;
    totalFiles_ = 0;
    counters_.Reset();
    ShowUnreadable({});
    copier_->RearmAll();

    ScanRequest request;
    request.source = Utf8(cbSource_->Text());
    request.target = Utf8(cbTarget_->Text());
    request.filter = Utf8(cbFilter_->Text());
    request.sourceIsMap = sourceIsMap_;
    request.includeSubfolders = action("mViewSubfolders")->isChecked() && !sourceIsMap_;
    request.displayMode = displayMode_;
    if (const auto refused = CheckScanRequest(request)) {
        // The results of the last scan stay; only a message, if any.
        SetPanel(2, Qt8(refused->message));
        return;
    }
    // The boxes show what is scanned: quotes and a trailing "/" go. That is
    // the scan's own tidying, not a change of the settings it runs with.
    {
        const QSignalBlocker quietTarget(cbTarget_);
        const QSignalBlocker quietSource(cbSource_);
        cbTarget_->SetText(Qt8(NormalizeFolderPath(request.target, false)));
        cbSource_->SetText(Qt8(NormalizeFolderPath(request.source, false)));
    }
    model_->SetMeasuringFont(font());
    model_->ClearResults();
    pbProgress_->setValue(0);
    if (statusBar()->isVisible())
        panel2Stack_->setCurrentWidget(pbProgress_);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    qApp->installEventFilter(this);
    // The controls are off while the scan runs and lose the focus. Rows found
    // take it (arrow keys and Esc in a path box would change its text); with
    // none it goes back where it was.
    focusBeforeScan_ = QApplication::focusWidget();
    runner_->Start(request);
    UpdateCommandState();
}

void MainWindow::OnScanUpdated() {
    if (const auto paths = runner_->Paths()) {
        // A map's header fills an empty target.
        if (cbTarget_->Text().isEmpty() && !paths->second.empty())
            cbTarget_->SetText(Qt8(paths->second));
    }
    // The grid takes room for every file the scan expects at once, rather
    // than moving its rows again and again as they arrive.
    const ScanProgress progress = runner_->Progress();
    model_->ReserveRows(progress.totalFiles);
    std::vector<ComparisonRow> rows = runner_->TakeRows();
    if (!rows.empty()) {
        rowsAdded_ += static_cast<std::int64_t>(rows.size());
        model_->AppendRows(std::move(rows));
        // The grid follows the scan: the newest row is current and at the top.
        grid_->SelectRow(model_->rowCount() - 1);
    }
    totalFiles_ = progress.totalFiles;
    SetPanel(1, QStringLiteral("%1/%2").arg(rowsAdded_).arg(progress.filesProcessed));
    const QString folder = Qt8(runner_->Folder());
    if (folder.compare(panel3_->text(), Qt::CaseInsensitive) != 0)
        SetPanel(3, folder);
    if (pbProgress_->value() != progress.percent) {
        pbProgress_->setValue(progress.percent);
        SetCaption(baseCaption_ + QStringLiteral(" - %1%").arg(progress.percent));
    }
}

void MainWindow::OnScanFinished() {
    const ScanOutcome& outcome = runner_->Outcome();
    counters_ = outcome.counters;
    totalFiles_ = outcome.totalFiles;
    SetPanel(1, QStringLiteral("%1/%2").arg(rowsAdded_).arg(outcome.filesProcessed));
    if (!outcome.message.empty() && !outcome.messageIsClosing)
        SetPanel(2, Qt8(outcome.message));
    ShowUnreadable(outcome.unreadable);
    qApp->removeEventFilter(this);
    panel2Stack_->setCurrentWidget(panel2_);
    SetCaption(baseCaption_);
    QApplication::beep();
    // Columns the user never sized fit what the scan found.
    if (model_->HasResults())
        grid_->FitUnsizedColumns();
    SortGrid();
    grid_->SelectRow(0);
    if (panel2_->text().isEmpty() && rowsAdded_ < 1 && outcome.messageIsClosing)
        SetPanel(2, Qt8(outcome.message));
    UpdateCommandState();
    if (rowsAdded_ < 1 && focusBeforeScan_ != nullptr && focusBeforeScan_->isEnabled() &&
        focusBeforeScan_->isVisible())
        focusBeforeScan_->setFocus();
    else
        grid_->setFocus();
    QApplication::restoreOverrideCursor();
    emit ScanFinished();
}

void MainWindow::ShowUnreadable(std::vector<UnreadableEntry> entries) {
    unreadable_ = std::move(entries);
    const bool any = !unreadable_.empty();
    panel2_->setToolTip(any ? tr("Click to list the entries that could not be read.") : QString());
    if (any)
        panel2_->setCursor(Qt::PointingHandCursor);
    else
        panel2_->unsetCursor();
}

void MainWindow::pbStatusBar_PanelClick(int panel) {
    if (panel != 2 || unreadable_.empty())
        return;
    // A whole tree may be out of reach; the box stays on the screen.
    constexpr std::size_t kShown = 20;
    QString list;
    for (std::size_t i = 0; i < unreadable_.size() && i < kShown; ++i)
        list += QStringLiteral("\n%1: %2")
                    .arg(Qt8(DecodeText(unreadable_[i].path)),
                         Qt8(unreadable_[i].error.message()));
    if (unreadable_.size() > kShown)
        list += QStringLiteral("\n") +
                tr("... and %1 more.").arg(static_cast<qulonglong>(unreadable_.size() - kShown));
    Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                          Qt8(UnreadableEntriesText(unreadable_.size())) + QStringLiteral("\n") +
                              list,
                          platform::MessageIcon::Warning, platform::MessageButtons::Ok);
}

// ------------------------------------------------------------ sort, columns

void MainWindow::SortGrid() {
    if (sortKey_ == 0)
        return;
    const int row = model_->Sort(sortKey_, ascending_, grid_->CurrentRow());
    grid_->SelectRow(row);
}

void MainWindow::mViewArrange_Click(int index) {
    action(QStringLiteral("mViewArrange%1").arg(std::clamp(index, 1, kDataColumns)))
        ->setChecked(index >= 1 && index <= kDataColumns);
    if (index == sortKey_)
        return;
    sortKey_ = index;
    model_->SetSortColumn(index);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SortGrid();
    QApplication::restoreOverrideCursor();
}

void MainWindow::mViewArrangeNone_Click() {
    action("mViewArrangeNone")->setChecked(true);
    if (sortKey_ == 0)
        return;
    sortKey_ = 0;
    model_->SetSortColumn(0);
}

void MainWindow::mViewOrder_Click(int index) {
    action(QStringLiteral("mViewOrder%1").arg(index == 0 ? 0 : 1))->setChecked(true);
    ascending_ = index == 0;
    if (settingUp_)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SortGrid();
    QApplication::restoreOverrideCursor();
}

void MainWindow::SortByHeader(int column) {
    if (column == sortKey_) {
        mViewOrder_Click(ascending_ ? 1 : 0);
        return;
    }
    action("mViewOrder0")->setChecked(true);
    ascending_ = true;
    mViewArrange_Click(column);
}

void MainWindow::mViewShowFiles_Click(int index) {
    for (int i = 0; i < 3; ++i)
        action(QStringLiteral("mViewShowFiles%1").arg(i))->setChecked(i == index);
    displayMode_ = index;
    NoteSettingsChanged();
}

void MainWindow::mViewColumns_Click(int index) {
    grid_->SetColumnVisible(index, action(QStringLiteral("mViewColumns%1").arg(index))->isChecked());
}

void MainWindow::mViewResizeColumns_Click() { grid_->ResizeColumns(); }

} // namespace sorvane::shell
