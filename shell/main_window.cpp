#include "shell/main_window.h"

#include "engine/atomic_file.h"
#include "engine/language_table.h"
#include "engine/number_utils.h"
#include "engine/path_utils.h"
#include "engine/settings_records.h"
#include "engine/settings_store.h"
#include "engine/source_map.h"
#include "engine/text_utils.h"
#include "platform/command_server.h"
#include "platform/file_properties.h"
#include "platform/help_window.h"
#include "platform/update_check.h"
#include "platform/url_opener.h"
#include "shell/app_info.h"
#include "sync/copy_controller.h"
#include "sync/path_box.h"
#include "sync/report_export.h"
#include "sync/special_lists.h"
#include "view/grid_search.h"
#include "view/result_view.h"
#include "view/window_layout.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cstdio>

// The icons live in a static library, whose resources must be registered by hand.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace sorvane::shell {
namespace {

constexpr int kDataColumns = 10;
constexpr int kBandCount = 4;
constexpr int kDesignedWidth = 652;
constexpr int kDesignedHeight = 354;
constexpr int kSmallestWidth = 200;
constexpr int kSmallestHeight = 150;
const char* const kSettingsChangedNotice =
    "Settings were changed. Perform the scan again to update the results.";

std::string Utf8(const QString& text) { return text.toStdString(); }
QString Qt8(const std::string& text) { return QString::fromStdString(text); }

// The ten data columns' captions in the Visible Columns and Arrange by menus.
const std::array<const char*, kDataColumns> kColumnCaptions = {
    "Na&me",          "&Extension",      "Source &Language", "&Source Version", "&Comparison",
    "Target &Version", "&Target Language", "&Busy",           "&Description",    "Copy&right"};

const std::array<const char*, view::kColorCount> kColorCaptions = {
    "&Background...", "&Regular Text...", "Newer &Source...", "Newer &Target...",
    "&Unequal Language...", "&Different Size...", "&Incomparable...", "&Copied File...",
    "&Orphans..."};

struct ButtonInfo {
    const char* key;
    const char* description;
    const char* tip;
    const char* icon;
    bool checkable;
};

const std::array<ButtonInfo, 8> kMainButtons = {{
    {"Scan", "Scan", "Scan (F5)", "scan", false},
    {"Stop", "Stop Scanning", "Stop Scanning (Esc)", "stop", false},
    {"Save", "Save Source Map", "Save Source Map (Ctrl+S)", "save", false},
    {"Recur", "Include Sub-folders", "Include Sub-folders", "recur", true},
    {"Backup", "Backup before Replacement", "Backup before Replacement", "backup", true},
    {"Resize", "Resize Columns", "Resize Columns (F6)", "resize", false},
    {"Find", "Find", "Find... (Ctrl+F)", "find", false},
    {"Synchr", "Copy Source on Target", "Copy Source on Target (F9)", "synchr", false},
}};

QIcon Icon(const char* name) { return QIcon(QStringLiteral(":/icons/%1.svg").arg(name)); }

// Sets a caption's key text: the text before any tab, a tab, and the key.
void SetMenuKeyText(QAction* item, const QString& keyText) {
    QString caption = item->text();
    caption = caption.left(caption.indexOf(QLatin1Char('\t')) < 0
                               ? caption.size()
                               : caption.indexOf(QLatin1Char('\t')));
    item->setText(keyText.isEmpty() ? caption : caption + QLatin1Char('\t') + keyText);
}

FontRecord ToRecord(const QFont& font) {
    FontRecord record;
    record.name = Utf8(font.family());
    record.size = font.pointSizeF() > 0 ? font.pointSizeF() : 8;
    record.bold = font.bold();
    record.weight = font.bold() ? 700 : 400;
    record.italic = font.italic();
    record.underline = font.underline();
    record.strikeout = font.strikeOut();
    return record;
}

QFont FromRecord(const FontRecord& record) {
    QFont font(Qt8(record.name));
    font.setPointSizeF(record.size > 0 ? record.size : 8);
    // The weight comes first; the bold flag then decides between normal and bold.
    font.setWeight(record.weight >= 600 ? QFont::Bold : QFont::Normal);
    font.setBold(record.bold);
    font.setItalic(record.italic);
    font.setUnderline(record.underline);
    font.setStrikeOut(record.strikeout);
    return font;
}

} // namespace

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
    connect(copier_, &sync::CopyController::BatchProgress, this, [this](int copied, int newer) {
        SetPanel(1, QStringLiteral("%1/%2").arg(copied).arg(newer));
    });
    connect(copier_, &sync::CopyController::BatchFinished, this, &MainWindow::OnBatchFinished);
    connect(grid_, &view::ResultView::CopyRequested, this, &MainWindow::fgFiles_CopyPath);
    connect(grid_, &view::ResultView::ContextMenuRequested, this, [this](const QPoint& at) {
        UpdateCommandState(); // the Tools commands for the row just clicked
        mTools_->exec(at);
    });
    connect(grid_, &view::ResultView::HeaderClicked, this, [this](int column) {
        if (column >= kNameColumn && column <= kCopyrightColumn)
            SortByHeader(column);
    });

    CreateActions();
    CreateMenus();
    CreateBands();
    CreateStatusBar();
    ConnectGridProperties();
    LoadSettings();
    settingUp_ = false;
    if (!options_.commandChannel.isEmpty()) {
        commandServer_ = new platform::CommandServer(
            options_.commandChannel, [this](const QString& c) { return fwMain_Form_LinkExecute(c); },
            this);
        // Another window of the user's may serve already: this one still runs.
        QString why;
        if (commandServer_->Start(&why) != platform::CommandServer::StartResult::Serving)
            std::fprintf(stderr, "sorvane: %s; this window takes no commands\n", qPrintable(why));
    }
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
    connect(add("mToolsCopySource", tr("&Copy from Source to Target"), QKeySequence(Qt::Key_F9)),
            &QAction::triggered, this, &MainWindow::mToolsCopySource_Click);
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
                                 sync::PathBox::Kind kind, sync::PathBox*& box,
                                 const std::vector<std::pair<const char*, const char*>>& tools) {
        QToolBar* bar = addToolBar(caption);
        bar->setObjectName(QString::fromLatin1(name));
        auto* label = new QLabel(caption, bar);
        box = new sync::PathBox(kind, bar);
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
    pbSource_ = pathBand("pbSource", tr("&Source:"), sync::PathBox::Kind::Source, cbSource_,
                         {{"Folder", "folder"}, {"File", "file"}});
    pbTarget_ = pathBand("pbTarget", tr("Tar&get:"), sync::PathBox::Kind::Target, cbTarget_,
                         {{"Folder", "folder"}, {"Swap", "swap"}});
    pbFilter_ = pathBand("pbFilter", tr("Filte&r:"), sync::PathBox::Kind::Filter, cbFilter_,
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

    connect(cbSource_, &sync::PathBox::TextChanged, this, &MainWindow::OnSourceChanged);
    connect(cbSource_, &sync::PathBox::Picked, this, &MainWindow::OnSourceChanged);
    connect(cbTarget_, &sync::PathBox::TextChanged, this, &MainWindow::OnTargetChanged);
    connect(cbTarget_, &sync::PathBox::Picked, this, &MainWindow::OnTargetChanged);
    connect(cbFilter_, &sync::PathBox::Picked, this, &MainWindow::NoteSettingsChanged);
    const auto enter = [this](sync::PathBox* box, bool refresh) {
        connect(box, &sync::PathBox::EnterPressed, this, [this, box, refresh] {
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

void MainWindow::LoadSettings() {
    // One read of the file; every setting below comes from this copy.
    settings_ = SettingsDocument::Load(datFile_);
    const SettingsDocument& file = settings_;
    // The update check asks the maker's site unless the settings name another
    // (a server of one's own network, or a test's).
    updateAddress_ = platform::UpdateAddress(
        Qt8(ReadSetting(file, "Update", "Address", kWebAddress)), QString::fromLatin1(kProgramTitle));
    // The installation record: where the program is and which version it is.
    {
        QSettings record(QString::fromLatin1(kCompanyName), QString::fromLatin1(kProgramTitle));
        record.setValue(QStringLiteral("InstallPath"), QCoreApplication::applicationDirPath());
        record.setValue(QStringLiteral("CurrentVersion"), VersionText());
    }
    SetMenuKeyText(actions_.at(QStringLiteral("mFileExit")), QStringLiteral("Alt+F4"));
    SetMenuKeyText(actions_.at(QStringLiteral("mEditDelete")), QStringLiteral("Del"));
    SetMenuKeyText(actions_.at(QStringLiteral("mToolsSourceProperties")), QStringLiteral("Alt+Enter"));
    SetMenuKeyText(actions_.at(QStringLiteral("mHelpTopics")), QStringLiteral("F1"));
    baseCaption_ = BaseCaption();
    setWindowTitle(baseCaption_);

    // Position and state, in pixels: the position is the frame's, the size
    // the client area's. The first start opens on two thirds of the screen;
    // a saved place is fitted to the screen as it is now.
    const int state = ToInt32(ReadNumberSetting(file, "Position", "State", 0));
    const int width = ToInt32(ReadNumberSetting(file, "Position", "Width", 0));
    const int height = ToInt32(ReadNumberSetting(file, "Position", "Height", 0));
    const QPoint savedAt(ToInt32(ReadNumberSetting(file, "Position", "Left", 0)),
                         ToInt32(ReadNumberSetting(file, "Position", "Top", 0)));
    QScreen* screen = QGuiApplication::screenAt(savedAt);
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry()
                                              : QRect(0, 0, kDesignedWidth, kDesignedHeight);
    firstStart_ = width <= 0 || height <= 0;
    const QRect frame =
        !firstStart_
            ? view::FitOnScreen(QRect(savedAt, QSize(std::max(width, kSmallestWidth),
                                                     std::max(height, kSmallestHeight))),
                                available)
            : view::FirstWindowGeometry(available);
    move(frame.topLeft());
    resize(frame.size());
    if (state == 2)
        setWindowState(Qt::WindowMaximized);
    else if (state == 1)
        setWindowState(Qt::WindowMinimized);

    view::ColorSet colors = view::ColorSet::Defaults(QApplication::palette());
    for (int i = 0; i < view::kColorCount; ++i) {
        auto& color = colors.colors[static_cast<std::size_t>(i)];
        // Orphans look like regular text until they are given a colour.
        if (i == view::kOrphansColor)
            color = colors.colors[view::kRegularTextColor];
        color = static_cast<view::ColorRef>(
            ReadNumberSetting(file, "Color", view::kColorKeys[static_cast<std::size_t>(i)], color));
    }
    model_->SetColorSet(colors);
    ApplyColors();
    DrawColorSwatches();

    const auto history = [&](sync::PathBox* box, const char* section) {
        QStringList items;
        for (const auto& item : LoadListSection(file, section))
            items << Qt8(item);
        box->SetHistory(items);
    };
    history(cbSource_, "Source");
    history(cbTarget_, "Target");
    history(cbFilter_, "Filter");
    cbSource_->FindListItem(Qt8(ReadSetting(file, "General", "Source")), true, true);
    if (!options_.commandLineSource.isEmpty()) {
        // Asked for by name: it is the Source, listed before or not.
        cbSource_->SetText(Qt8(NormalizeFolderPath(Utf8(options_.commandLineSource), false)));
        cbSource_->AddToHistory();
    }
    cbTarget_->FindListItem(Qt8(ReadSetting(file, "General", "Target")), true, true);
    cbFilter_->FindListItem(Qt8(ReadSetting(file, "General", "Filter")), true, true);

    mViewShowFiles_Click(ToInt32(ReadNumberSetting(file, "General", "Different", 1)));

    // The toggles are set to the opposite and then toggled once, so the check
    // mark, the button and the state all end up agreeing.
    actions_.at(QStringLiteral("mViewSubfolders"))
        ->setChecked(ReadNumberSetting(file, "General", "Subfolders", 0) == 0);
    mViewSubfolders_Click();
    backupFolder_ = ReadSetting(file, "General", "BackupDir");
    actions_.at(QStringLiteral("mToolsBackup"))
        ->setChecked(ReadNumberSetting(file, "General", "Backup", 1) == 0);
    mToolsBackup_Click();
    const bool statusShown = ReadNumberSetting(file, "General", "StatusBar", 1) == 1;
    actions_.at(QStringLiteral("mViewStatus"))->setChecked(statusShown);
    statusBar()->setVisible(statusShown);

    const QFont gridFont = FromRecord(LoadFontRecord(file, "Font", "", ToRecord(grid_->font())));
    grid_->setFont(gridFont);
    tbSearch_->setFont(view::SearchBoxFont(gridFont));

    const std::string columns = ReadSetting(file, "General", "Columns", std::string(kDataColumns, '1'));
    for (int i = 1; i <= kDataColumns; ++i) {
        const bool shown = static_cast<std::size_t>(i) <= columns.size() &&
                           NumericValue(columns.substr(static_cast<std::size_t>(i - 1), 1)) != 0;
        actions_.at(QStringLiteral("mViewColumns%1").arg(i))->setChecked(shown);
        const int stored = ToInt32(ReadNumberSetting(file, "Grid", "Col" + std::to_string(i),
                                                     view::ResultView::DefaultWidth(i)));
        grid_->SetColumnWidthPx(i, shown ? stored : 0);
    }

    int sortKey = ToInt32(ReadNumberSetting(file, "Grid", "SortKey", 0));
    if (sortKey < 0 || sortKey > kGridColumnCount - 2)
        sortKey = 0;
    if (sortKey != 0)
        mViewArrange_Click(sortKey);
    else
        mViewArrangeNone_Click();
    grid_->SelectRow(0);
    mViewOrder_Click(ReadNumberSetting(file, "Grid", "Ascend", 1) == 1 ? 0 : 1);

    findState_.Load(file, "FindBox");
    LanguageName(0); // builds the language table now rather than in the first scan
}

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

void MainWindow::SaveSettings() {
    // Read again, so that keys written since start-up (by another copy of
    // the program, or the last save folder) are kept; then written once.
    settings_ = SettingsDocument::Load(datFile_);
    SettingsDocument& file = settings_;
    WriteSetting(file, "General", "Source", Utf8(cbSource_->Text()));
    WriteSetting(file, "General", "Target", Utf8(cbTarget_->Text()));
    WriteSetting(file, "General", "Filter", Utf8(cbFilter_->Text()));
    WriteNumberSetting(file, "General", "Different", displayMode_);
    WriteNumberSetting(file, "General", "Subfolders",
                       actions_.at(QStringLiteral("mViewSubfolders"))->isChecked() ? 1 : 0);
    WriteSetting(file, "General", "BackupDir", backupFolder_);
    WriteNumberSetting(file, "General", "Backup",
                       actions_.at(QStringLiteral("mToolsBackup"))->isChecked() ? 1 : 0);
    WriteNumberSetting(file, "General", "StatusBar",
                       actions_.at(QStringLiteral("mViewStatus"))->isChecked() ? 1 : 0);
    std::string columns;
    for (int i = 1; i <= kDataColumns; ++i)
        columns += actions_.at(QStringLiteral("mViewColumns%1").arg(i))->isChecked() ? '1' : '0';
    WriteSetting(file, "General", "Columns", columns);

    const Qt::WindowStates states = windowState();
    const int state = (states & Qt::WindowMinimized) ? 1 : (states & Qt::WindowMaximized) ? 2 : 0;
    // Maximised or minimised, the bounds to keep are the normal ones.
    const QPoint frameOffset = geometry().topLeft() - pos();
    const QRect bounds =
        state == 0 ? QRect(pos(), size()) : normalGeometry().translated(-frameOffset);
    WriteNumberSetting(file, "Position", "State", state);
    WriteNumberSetting(file, "Position", "Left", bounds.left());
    WriteNumberSetting(file, "Position", "Top", bounds.top());
    WriteNumberSetting(file, "Position", "Width", bounds.width());
    WriteNumberSetting(file, "Position", "Height", bounds.height());

    SaveBandLayout();
    SaveToolbarButtons();

    WriteNumberSetting(file, "Grid", "SortKey", sortKey_);
    WriteNumberSetting(file, "Grid", "Ascend", ascending_ ? 1 : 0);
    for (int i = 1; i <= kDataColumns; ++i)
        WriteNumberSetting(file, "Grid", "Col" + std::to_string(i),
                           grid_->IsColumnVisible(i) ? grid_->ColumnWidthPx(i) : 0);
    SaveFontRecord(file, "Font", "", ToRecord(grid_->font()));
    for (int i = 0; i < view::kColorCount; ++i)
        WriteNumberSetting(file, "Color", view::kColorKeys[static_cast<std::size_t>(i)],
                           model_->Colors().colors[static_cast<std::size_t>(i)]);
    findState_.Save(file, "FindBox");
    const auto history = [&](sync::PathBox* box, const char* section) {
        std::vector<std::string> items;
        for (const QString& item : box->History())
            items.push_back(Utf8(item));
        SaveListSection(file, section, items);
    };
    history(cbSource_, "Source");
    history(cbTarget_, "Target");
    history(cbFilter_, "Filter");
    // Nobody is left to tell in a window that is closing: the reason goes
    // to the terminal the program was started from, if any.
    if (const std::string why = file.SaveOrSayWhy(); !why.empty() && !datFile_.empty())
        std::fprintf(stderr, "sorvane: the settings could not be saved to %s: %s\n",
                     datFile_.c_str(), why.c_str());
}

// Bands keep their order, row breaks and visibility in the "CoolBar" record;
// the first band is the one shown first.
void MainWindow::LoadBandLayout() {
    // Without a saved layout the buttons share the first row with the short
    // filter, and each path gets a row of its own, so both can be read and
    // typed in whole.
    std::vector<QToolBar*> order{pbToolbar_, pbFilter_, pbSource_, pbTarget_};
    std::vector<BandRecord> records;
    for (int n = 1; n <= kBandCount; ++n) {
        QToolBar* current = order[static_cast<std::size_t>(n - 1)];
        BandRecord defaults;
        defaults.newRow = current == pbSource_ || current == pbTarget_;
        defaults.visible = true;
        defaults.width = 0; // no width of its own: the rows share out the room
        defaults.name = Utf8(current->objectName());
        const BandRecord record = LoadBandRecord(settings_, "CoolBar", n, defaults);
        records.push_back(record);
    }
    std::vector<view::BandPlacement> placements;
    for (const BandRecord& record : records)
        placements.push_back({record.name, record.newRow, record.visible, ToInt32(record.width)});
    std::vector<view::Band> bands;
    for (QToolBar* bar : order)
        bands.push_back({bar, BoxOfBand(bar)});
    const view::BandRows rows =
        view::ArrangeBands(*this, bands, placements, [](QWidget* box, int width) {
            static_cast<sync::PathBox*>(box)->SetPreferredWidth(width);
        });
    // The buttons band also keeps which of its buttons are shown.
    for (const BandRecord& record : records) {
        if (Qt8(record.name) != pbToolbar_->objectName() || record.buttons.empty())
            continue;
        for (std::size_t b = 0; b < buttonOrder_.size(); ++b)
            buttons_.at(buttonOrder_[b])
                ->setVisible(b >= record.buttons.size() || record.buttons[b] > '0');
    }
    SetMinimumWindowSize(rows.widestRow, std::max(rows.shownRows, 1));
    // Tab goes through the boxes as they are placed, then to the grid.
    QWidget* previous = nullptr;
    for (QWidget* next : rows.boxes) {
        if (previous != nullptr)
            setTabOrder(previous, next);
        previous = next;
    }
    if (previous != nullptr)
        setTabOrder(previous, grid_);
}

sync::PathBox* MainWindow::BoxOfBand(const QToolBar* bar) const {
    if (bar == pbSource_)
        return cbSource_;
    if (bar == pbTarget_)
        return cbTarget_;
    if (bar == pbFilter_)
        return cbFilter_;
    return nullptr;
}

// Small enough for a small screen, large enough that bands, boxes and status
// panels never overlap and a few rows of the grid stay in sight.
void MainWindow::SetMinimumWindowSize(int bandRowWidth, int bandRows) {
    constexpr int kGridRowsInSight = 4;
    const int width = std::max({bandRowWidth, statusBar()->minimumSizeHint().width() + 24,
                                kSmallestWidth});
    const int height = menuBar()->sizeHint().height() +
                       bandRows * pbToolbar_->sizeHint().height() +
                       grid_->horizontalHeader()->sizeHint().height() +
                       kGridRowsInSight * grid_->verticalHeader()->defaultSectionSize() +
                       grid_->horizontalScrollBar()->sizeHint().height() +
                       statusBar()->sizeHint().height();
    QSize smallest(width, std::max(height, kSmallestHeight));
    if (screen() != nullptr)
        smallest = smallest.boundedTo(screen()->availableGeometry().size());
    setMinimumSize(smallest);
}

void MainWindow::SaveBandLayout() {
    std::vector<QToolBar*> bars{pbToolbar_, pbSource_, pbTarget_, pbFilter_};
    // Display order: row by row, left to right (with breaks between rows).
    std::stable_sort(bars.begin(), bars.end(), [](QToolBar* a, QToolBar* b) {
        return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
    });
    for (std::size_t i = 0; i < bars.size(); ++i) {
        QToolBar* bar = bars[i];
        BandRecord record;
        record.newRow = i > 0 && bar->y() != bars[i - 1]->y();
        record.visible = !bar->isHidden();
        record.width = bar->width();
        record.name = Utf8(bar->objectName());
        record.index = -1;
        if (bar == pbToolbar_) {
            for (const QString& key : buttonOrder_)
                record.buttons += buttons_.at(key)->isVisible() ? '1' : '0';
        }
        SaveBandRecord(settings_, "CoolBar", static_cast<int>(i) + 1, record);
    }
}

std::vector<platform::ToolbarButtonState> MainWindow::ToolbarButtons() const {
    std::vector<platform::ToolbarButtonState> states;
    for (QAction* action : pbToolbar_->actions()) {
        for (const QString& key : buttonOrder_) {
            if (buttons_.at(key) == action)
                states.push_back({key, action->text(), action->isVisible()});
        }
    }
    return states;
}

void MainWindow::ApplyToolbarButtons(const std::vector<platform::ToolbarButtonState>& buttons) {
    std::vector<QString> seen;
    for (QAction* action : pbToolbar_->actions())
        pbToolbar_->removeAction(action);
    for (const auto& state : buttons) {
        const auto it = buttons_.find(state.key);
        if (it == buttons_.end() ||
            std::find(buttonOrder_.begin(), buttonOrder_.end(), state.key) == buttonOrder_.end() ||
            std::find(seen.begin(), seen.end(), state.key) != seen.end())
            continue;
        seen.push_back(state.key);
        pbToolbar_->addAction(it->second);
        it->second->setVisible(state.visible);
    }
    // Buttons the saved layout does not know go at the end, shown.
    for (const QString& key : buttonOrder_) {
        if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
            pbToolbar_->addAction(buttons_.at(key));
            buttons_.at(key)->setVisible(true);
        }
    }
}

// The main tool bar's buttons, in order, a "-" before a hidden one, kept where
// the installation record is.
void MainWindow::RestoreToolbarButtons() {
    QSettings record(QString::fromLatin1(kCompanyName), QString::fromLatin1(kProgramTitle));
    const QStringList saved = record.value(QStringLiteral("Toolbar")).toStringList();
    if (saved.isEmpty())
        return;
    std::vector<platform::ToolbarButtonState> states;
    for (const QString& entry : saved) {
        const bool hidden = entry.startsWith(QLatin1Char('-'));
        states.push_back({hidden ? entry.mid(1) : entry, {}, !hidden});
    }
    ApplyToolbarButtons(states);
}

void MainWindow::SaveToolbarButtons() {
    QStringList entries;
    for (const auto& state : ToolbarButtons())
        entries << (state.visible ? state.key : QStringLiteral("-") + state.key);
    QSettings record(QString::fromLatin1(kCompanyName), QString::fromLatin1(kProgramTitle));
    record.setValue(QStringLiteral("Toolbar"), entries);
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
    // The category's name: the caption without "&" and the closing "...".
    QString category = tr(kColorCaptions[static_cast<std::size_t>(index)]);
    category.remove(QLatin1Char('&'));
    category.chop(3);
    const auto chosen = Dialogs().ChooseColor(this, model_->Colors().color(index),
                                              tr("Color of %1").arg(category));
    if (!chosen)
        return;
    view::ColorSet colors = model_->Colors();
    colors.colors[static_cast<std::size_t>(index)] = view::ToColorRef(*chosen);
    const int current = grid_->CurrentRow();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model_->SetColorSet(colors); // rows of categories 2 to 6 take their new colour
    QApplication::restoreOverrideCursor();
    ApplyColors();
    DrawColorSwatches();
    grid_->SelectRow(current);
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
    if (label->text() != text)
        label->setText(text);
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

std::string MainWindow::CurrentRowPath(const sync::PathBox* box) const {
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
        platform::ShowFileProperties(CurrentRowPath(cbSource_), this);
    if (targetPropertiesEnabled_)
        mToolsTargetProperties_Click();
}

void MainWindow::mToolsTargetProperties_Click() {
    platform::ShowFileProperties(CurrentRowPath(cbTarget_), this);
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
    if (auto* box = qobject_cast<sync::PathBox*>(QApplication::focusWidget()))
        box->AddToHistory();
    else if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
        if (auto* owner = qobject_cast<sync::PathBox*>(edit->parentWidget()))
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
                                  .arg(*chosen, Qt8(written.error())),
                              platform::MessageIcon::Warning, platform::MessageButtons::Ok);
        return;
    }
    if (!written->skippedNames.empty()) {
        constexpr std::size_t kShown = 5;
        Dialogs().ShowMessage(
            this, QString::fromLatin1(kProgramTitle),
            tr("%n file(s) were left out of the Source Map: a map line cannot hold their names "
               "(\"|\", \"\\\", a line break, or bytes that are not UTF-8).\n\n%1",
               nullptr, static_cast<int>(written->skippedNames.size()))
                .arg(Qt8(SkippedNamesReport(written->skippedNames, kShown)).trimmed()),
            platform::MessageIcon::Warning, platform::MessageButtons::Ok);
    }
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
    for (sync::PathBox* box : {cbSource_, cbTarget_, cbFilter_})
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
    const std::string text = sync::SpecialListText(index, model_->Rows(), Utf8(cbSource_->Text()),
                                                   Utf8(cbTarget_->Text()));
    const bool taken = platform::PutTextOnClipboard(Clipboard(), text);
    QApplication::restoreOverrideCursor();
    if (!taken)
        Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                              tr("The list could not be put on the clipboard."),
                              platform::MessageIcon::Warning, platform::MessageButtons::Ok);
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
    const std::string text = sync::SpecialListText(index, model_->Rows(), Utf8(cbSource_->Text()),
                                                   Utf8(cbTarget_->Text()));
    // A list that cannot be written whole leaves the old file as it was.
    const WriteOutcome written = WriteFileAtomically(Utf8(*chosen), text);
    QApplication::restoreOverrideCursor();
    if (!written) {
        Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                              tr("The list could not be saved as\n%1\n\n%2")
                                  .arg(*chosen, Qt8(written.error())),
                              platform::MessageIcon::Warning, platform::MessageButtons::Ok);
        return;
    }
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
    if (Busy() || !action("mToolsCopyBatch")->isEnabled())
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
        SetPanel(2, tr("Copying was interrupted."));
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
    SaveToolbarButtons();
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

bool MainWindow::fwMain_Form_LinkExecute(const QString& command) {
    const auto is = [&command](const char* name) {
        return command.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    const Qt::WindowStates others =
        windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (is("Maximize")) {
        setWindowState(others | Qt::WindowMaximized);
    } else if (is("Minimize")) {
        setWindowState(others | Qt::WindowMinimized);
    } else if (is("Restore")) {
        setWindowState(others);
    } else if (is("Hide")) {
        hide();
    } else if (is("Show")) {
        show();
    } else if (is("Tab")) {
        setEnabled(true);
        activateWindow();
        // One Tab key press, to the control that has the focus, moves it on.
        QWidget* target = focusWidget() != nullptr ? focusWidget() : this;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QCoreApplication::sendEvent(target, &press);
        QCoreApplication::sendEvent(target, &release);
    } else {
        // Hidden and disabled buttons are found too.
        for (QAction* button : pbToolbar_->actions()) {
            const auto key = std::ranges::find_if(
                buttonOrder_, [&](const QString& k) { return buttons_.at(k) == button; });
            if (key != buttonOrder_.end() && key->compare(command, Qt::CaseInsensitive) == 0) {
                // The click runs once the reply is on its way: Save, Find and
                // a copy open boxes that wait for the user, and the caller
                // must not wait with them.
                QMetaObject::invokeMethod(
                    this, [this, k = *key] { pbToolbar_ButtonClick(k); }, Qt::QueuedConnection);
                break;
            }
        }
        return false;
    }
    return true;
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
    // The controls are off while the scan runs and lose the focus; it goes
    // back where it was when the scan ends.
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
    SortGrid();
    grid_->SelectRow(0);
    if (panel2_->text().isEmpty() && rowsAdded_ < 1 && outcome.messageIsClosing)
        SetPanel(2, Qt8(outcome.message));
    UpdateCommandState();
    if (focusBeforeScan_ != nullptr && focusBeforeScan_->isEnabled() &&
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
