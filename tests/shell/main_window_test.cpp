// The main window driven as a user would: start-up and shut-down with the
// settings file, scans with progress and stop, command state, histories,
// sorting, Source Maps and the tool bar.

#include "shell/main_window.h"
#include "window_fixture.h"

#include "engine/settings/settings_records.h"
#include "engine/settings/settings_store.h"
#include "engine/scan/source_map.h"
#include "support/fake_clipboard.h"
#include "windows/file_properties.h"
#include "support/fake_dialogs.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "sync/copy_controller.h"
#include "view/path_box.h"
#include "view/result_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QGuiApplication>
#include <QTimer>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStackedWidget>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <cstdio>
#include <filesystem>
#include <sys/resource.h>
#include <functional>
#include <sys/stat.h>
#include <map>
#include <memory>

namespace sorvane::shell {
namespace {

using namespace test_window;

using test::FakeDialogs;
using test::VersionedPe;

TEST_F(MainWindowTest, FirstStartWithoutSettingsUsesTheDefaults) {
    auto w = Open();
    EXPECT_EQ(w->windowTitle(), " Sorvane 1.00");
    for (int i = 1; i <= 10; ++i) {
        EXPECT_TRUE(w->action(QStringLiteral("mViewColumns%1").arg(i))->isChecked()) << i;
        EXPECT_EQ(w->grid()->ColumnWidthPx(i), view::ResultView::DefaultWidth(i)) << i;
    }
    EXPECT_EQ(w->SortKey(), 0);
    EXPECT_TRUE(w->Ascending());
    EXPECT_TRUE(w->action("mViewArrangeNone")->isChecked());
    EXPECT_EQ(w->DisplayMode(), 1);
    EXPECT_TRUE(w->action("mViewShowFiles1")->isChecked());
    EXPECT_FALSE(w->action("mViewSubfolders")->isChecked());
    EXPECT_FALSE(w->toolbarButton("Recur")->isChecked());
    EXPECT_TRUE(w->action("mToolsBackup")->isChecked());
    EXPECT_TRUE(w->toolbarButton("Backup")->isChecked());
    EXPECT_TRUE(w->statusBar()->isVisible());
    EXPECT_EQ(w->action("mFileExit")->text(), "E&xit\tAlt+F4");
    EXPECT_EQ(w->action("mEditDelete")->text(), "&Delete\tDel");
    EXPECT_FALSE(w->model()->HasResults());
    EXPECT_EQ(w->model()->rowCount(), 1); // the placeholder row
    // Nothing to scan yet: Scan and its button are off, Stop is off.
    EXPECT_FALSE(w->action("mFileScan")->isEnabled());
    EXPECT_FALSE(w->toolbarButton("Scan")->isEnabled());
    EXPECT_FALSE(w->toolbarButton("Stop")->isEnabled());
    // The installation record goes into the settings file with the rest.
    w->close();
    EXPECT_EQ(ReadSetting(settingsFile, "Installation", "CurrentVersion"), "1.00");
    EXPECT_EQ(ReadSetting(settingsFile, "Installation", "InstallPath"),
              QCoreApplication::applicationDirPath().toStdString());
}

TEST_F(MainWindowTest, EverySettingComesBackAfterARestart) {
    {
        auto w = Open();
        w->sourceBox()->SetText(Q(dir.file("one")));
        w->sourceBox()->AddToHistory();
        w->sourceBox()->SetText(Q(dir.file("two")));
        w->sourceBox()->AddToHistory();
        w->targetBox()->SetText(QStringLiteral("/target/path"));
        w->targetBox()->AddToHistory();
        w->filterBox()->SetText(QStringLiteral("*.dll;a=b"));
        w->filterBox()->AddToHistory();
        w->viewCommands().mViewShowFiles_Click(2);
        w->viewCommands().mViewSubfolders_Click();
        w->tools().mToolsBackup_Click();
        w->action("mViewStatus")->trigger();
        w->action("mViewColumns3")->trigger(); // hide Source Language
        w->grid()->SetColumnWidthPx(9, 180);
        w->viewCommands().mViewArrange_Click(4);
        w->viewCommands().mViewOrder_Click(1);
        w->action("mViewToolbar4")->trigger(); // hide the filter bar
        w->move(40, 50);
        w->resize(700, 420);
        w->close();
    }
    EXPECT_EQ(ReadSetting(settingsFile, "General", "Columns"), "1101111111");
    EXPECT_EQ(ReadSetting(settingsFile, "Grid", "Col3"), "0");
    auto w = Open();
    EXPECT_EQ(w->sourceBox()->Text(), Q(dir.file("two")));
    EXPECT_EQ(w->sourceBox()->History(), (QStringList{Q(dir.file("two")), Q(dir.file("one"))}));
    EXPECT_EQ(w->targetBox()->Text(), "/target/path");
    EXPECT_EQ(w->filterBox()->Text(), "*.dll;a=b");
    EXPECT_EQ(w->DisplayMode(), 2);
    EXPECT_TRUE(w->action("mViewShowFiles2")->isChecked());
    EXPECT_TRUE(w->action("mViewSubfolders")->isChecked());
    EXPECT_TRUE(w->toolbarButton("Recur")->isChecked());
    EXPECT_FALSE(w->action("mToolsBackup")->isChecked());
    EXPECT_FALSE(w->statusBar()->isVisible());
    EXPECT_FALSE(w->grid()->IsColumnVisible(3));
    EXPECT_EQ(w->grid()->ColumnWidthPx(3), 0);
    EXPECT_EQ(w->grid()->ColumnWidthPx(9), 180);
    EXPECT_EQ(w->SortKey(), 4);
    EXPECT_TRUE(w->action("mViewArrange4")->isChecked());
    EXPECT_FALSE(w->Ascending());
    EXPECT_TRUE(w->action("mViewOrder1")->isChecked());
    EXPECT_TRUE(w->band("pbFilter")->isHidden());
    EXPECT_EQ(w->pos(), QPoint(40, 50));
    EXPECT_EQ(w->size(), QSize(700, 420));
}

TEST_F(MainWindowTest, AMaximisedWindowKeepsItsNormalBounds) {
    {
        auto w = Open();
        w->move(30, 40);
        w->resize(640, 360);
        w->setWindowState(Qt::WindowMaximized);
        QApplication::processEvents();
        w->close();
    }
    EXPECT_EQ(ReadSetting(settingsFile, "Position", "State"), "2");
    EXPECT_EQ(ReadSetting(settingsFile, "Position", "Width"), "640");
    EXPECT_EQ(ReadSetting(settingsFile, "Position", "Height"), "360");
    auto w = Open();
    EXPECT_TRUE(w->windowState() & Qt::WindowMaximized);
    w->setWindowState(Qt::WindowNoState);
    QApplication::processEvents();
    EXPECT_EQ(w->size(), QSize(640, 360));
}

TEST_F(MainWindowTest, OddStoredValuesAreReadAsDesigned) {
    WriteSetting(settingsFile, "General", "StatusBar", "2");  // only 1 shows it
    WriteSetting(settingsFile, "General", "Subfolders", "2"); // any non-zero is on
    WriteSetting(settingsFile, "General", "Backup", "2");
    WriteSetting(settingsFile, "General", "Columns", "101");  // short: the rest hidden
    WriteSetting(settingsFile, "General", "Different", "7");
    WriteSetting(settingsFile, "Grid", "SortKey", "12");
    WriteSetting(settingsFile, "Grid", "Ascend", "5");
    WriteSetting(settingsFile, "General", "Target", "/not/in/history");
    auto w = Open();
    EXPECT_FALSE(w->statusBar()->isVisible());
    EXPECT_TRUE(w->action("mViewSubfolders")->isChecked());
    EXPECT_TRUE(w->action("mToolsBackup")->isChecked());
    EXPECT_TRUE(w->grid()->IsColumnVisible(1));
    EXPECT_FALSE(w->grid()->IsColumnVisible(2));
    EXPECT_TRUE(w->grid()->IsColumnVisible(3));
    for (int i = 4; i <= 10; ++i)
        EXPECT_FALSE(w->grid()->IsColumnVisible(i)) << i;
    EXPECT_EQ(w->DisplayMode(), 7);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(w->action(QStringLiteral("mViewShowFiles%1").arg(i))->isChecked());
    EXPECT_EQ(w->SortKey(), 0);
    EXPECT_FALSE(w->Ascending());
    EXPECT_EQ(w->targetBox()->Text(), ""); // a stored text missing from the history is dropped
    w.reset();
    WriteSetting(settingsFile, "Grid", "SortKey", "-1");
    EXPECT_EQ(Open()->SortKey(), 0);
}

TEST_F(MainWindowTest, CommandLineSourceIsTheSourceListedOrNot) {
    SaveListSectionFor("Source", {"/data/Release", "/other"});
    WriteSetting(settingsFile, "General", "Source", "/other");
    struct Case {
        QString commandLine;
        QString source;
        QStringList history;
    };
    const std::vector<Case> cases{
        {"/not/listed", "/not/listed", {"/not/listed", "/data/Release", "/other"}},
        {"\"/data/Release/\"", "/data/Release", {"/data/Release", "/other"}},
        {"/other", "/other", {"/other", "/data/Release"}},
        // Another letter case names another folder: a new entry.
        {"/DATA/release", "/DATA/release", {"/DATA/release", "/data/Release", "/other"}},
        {"", "/other", {"/data/Release", "/other"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine.toStdString());
        auto w = Open(c.commandLine);
        EXPECT_EQ(w->sourceBox()->Text(), c.source);
        EXPECT_EQ(w->sourceBox()->History(), c.history);
    }
}

// Every widget of a band is on screen: none was moved into its overflow menu.
void ExpectBandShownWhole(QToolBar* band) {
    EXPECT_TRUE(band->isVisible()) << band->objectName().toStdString();
    for (QAction* a : band->actions()) {
        if (!a->isVisible())
            continue;
        QWidget* shown = band->widgetForAction(a);
        ASSERT_NE(shown, nullptr);
        EXPECT_TRUE(shown->isVisible()) << band->objectName().toStdString() << ": "
                                        << a->text().toStdString();
        EXPECT_TRUE(band->rect().contains(shown->geometry()))
            << band->objectName().toStdString() << ": " << a->text().toStdString();
    }
}

TEST_F(MainWindowTest, TheFirstWindowShowsEveryBandAndBoxWhole) {
    auto w = Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    const QRect screen = w->screen()->availableGeometry();
    // Two thirds of the screen, or the smallest size at which everything
    // fits where that is more, centred.
    const QSize smallest = w->minimumSize();
    const QSize border = w->frameGeometry().size() - w->size();
    EXPECT_EQ(w->frameGeometry().width(),
              std::max(screen.width() * 2 / 3, smallest.width() + border.width()));
    EXPECT_EQ(w->frameGeometry().height(),
              std::max(screen.height() * 2 / 3, smallest.height() + border.height()));
    // (The frame's margins may move the client area by a pixel or two.)
    EXPECT_NEAR(w->geometry().center().x(), screen.center().x(), 4);
    EXPECT_NEAR(w->geometry().center().y(), screen.center().y(), 4);
    EXPECT_TRUE(screen.contains(w->frameGeometry()));
    // Both paths on rows of their own, each box at least half the window wide.
    EXPECT_NE(w->band("pbSource")->y(), w->band("pbTarget")->y());
    for (auto* box : {w->sourceBox(), w->targetBox()})
        EXPECT_GE(box->width(), w->width() / 2) << box->objectName().toStdString();
    EXPECT_GT(w->filterBox()->width(), 100);

    // At every size down to the smallest the window takes, every band is
    // whole and the status panels do not overlap.
    EXPECT_GE(smallest.width(), 200);
    EXPECT_LE(smallest.width(), screen.width());
    for (const QSize size : {w->size(), QSize(700, 480), smallest}) {
        SCOPED_TRACE(::testing::PrintToString(std::make_pair(size.width(), size.height())));
        w->resize(size);
        QTest::qWait(50);
        for (const char* name : {"pbToolbar", "pbSource", "pbTarget", "pbFilter"})
            ExpectBandShownWhole(w->band(name));
        const auto panels = w->statusBar()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        ASSERT_EQ(panels.size(), 2); // the first and the third; the second is in a stack
        auto* stack = w->statusBar()->findChild<QStackedWidget*>();
        ASSERT_NE(stack, nullptr);
        EXPECT_LT(panels[0]->geometry().right(), stack->geometry().left());
        EXPECT_LT(stack->geometry().right(), panels[1]->geometry().left());
        EXPECT_GT(w->grid()->height(), 0);
    }
}

TEST_F(MainWindowTest, ASavedPlaceIsFittedToTheScreen) {
    WriteSetting(settingsFile, "Position", "Left", "-4000");
    WriteSetting(settingsFile, "Position", "Top", "9000");
    WriteSetting(settingsFile, "Position", "Width", "20000");
    WriteSetting(settingsFile, "Position", "Height", "15000");
    auto w = Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_TRUE(w->screen()->availableGeometry().contains(w->frameGeometry()));
}

TEST_F(MainWindowTest, AScanFillsTheGridAndEndsAsDesigned) {
    MakeTrees();
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    w->sourceBox()->SetText(Q(dir.file("src")) + "/"); // normalised by the scan
    w->targetBox()->SetText(Q(dir.file("dst")));
    EXPECT_TRUE(w->action("mFileScan")->isEnabled()); // enabled by the text
    Scan(*w);
    EXPECT_FALSE(w->Scanning());
    EXPECT_EQ(w->sourceBox()->Text(), Q(dir.file("src")));
    EXPECT_EQ(w->sourceBox()->History().front(), Q(dir.file("src")) + "/");
    EXPECT_EQ(w->targetBox()->History().front(), Q(dir.file("dst")));
    EXPECT_EQ(w->model()->Rows().size(), 3u); // no sub-folders: sub/lone.dll is not seen
    EXPECT_EQ(w->PanelText(1), "3/3");
    EXPECT_EQ(w->PanelText(2), "");
    EXPECT_EQ(w->PanelText(3), Q(dir.file("src")));
    EXPECT_EQ(w->windowTitle(), " Sorvane 1.00");
    EXPECT_FALSE(w->progressBar()->isVisible());
    EXPECT_EQ(w->Counters()[kNewerSourceCategory], 1);
    EXPECT_EQ(w->Counters()[kNewerTargetCategory], 1);
    EXPECT_EQ(w->grid()->CurrentRow(), 0);
    EXPECT_TRUE(w->action("mFileSaveSourceMap")->isEnabled());
    EXPECT_TRUE(w->toolbarButton("Save")->isEnabled());
    EXPECT_TRUE(w->toolbarButton("Resize")->isEnabled());

    // With sub-folders the orphan appears; in "different only" it would not.
    w->viewCommands().mViewSubfolders_Click();
    Scan(*w);
    EXPECT_EQ(w->model()->Rows().size(), 4u);
    EXPECT_EQ(w->Counters()[kOrphansCategory], 1);
}

TEST_F(MainWindowTest, EndMessagesAndInvalidPaths) {
    MakeTrees();
    auto w = Open();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("src2")));
    dir.write("src2/equal.dll", VersionedPe({{3, 0, 0, 0}}));
    w->filterBox()->SetText(QStringLiteral("equal.dll"));
    Scan(*w);
    EXPECT_EQ(w->PanelText(2), "No differences found.");
    EXPECT_FALSE(w->model()->HasResults());

    w->targetBox()->SetText({});
    w->filterBox()->SetText(QStringLiteral("*.txt"));
    Scan(*w);
    EXPECT_EQ(w->PanelText(2), "No file contained version information found.");

    // A good scan, then a bad path: the rows stay and only the message shows.
    w->filterBox()->SetText({});
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    const auto rows = w->model()->Rows().size();
    ASSERT_GT(rows, 0u);
    w->targetBox()->SetText(Q(dir.file("missing")));
    Scan(*w);
    EXPECT_EQ(w->PanelText(2), "Target path not exists.");
    EXPECT_EQ(w->model()->Rows().size(), rows);
    w->targetBox()->SetText(Q(dir.file("dst")));
    w->sourceBox()->SetText(Q(dir.file("src/newer.dll"))); // a file, not a map
    Scan(*w);
    EXPECT_EQ(w->PanelText(2), "Source path not exists.");
    // One folder reached through a link is refused; another letter case is
    // another folder and is scanned.
    std::filesystem::create_directory_symlink(dir.file("src"), dir.file("link"));
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("link") + "/"));
    Scan(*w);
    EXPECT_EQ(w->PanelText(2), "Source and Target are the same folder.");
    EXPECT_EQ(w->model()->Rows().size(), rows);
    dir.write("SRC/newer.dll", VersionedPe({{1, 0, 0, 0}}));
    w->targetBox()->SetText(Q(dir.file("SRC")));
    Scan(*w);
    EXPECT_EQ(Names(*w), std::vector<std::string>{"newer.dll"});
}

TEST_F(MainWindowTest, StopEndsTheScanAndAnEscWhileIdleStopsNothing) {
    MakeLongScanTrees();
    auto w = Open();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    w->viewCommands().mViewShowFiles_Click(0);
    QSignalSpy finished(w.get(), &MainWindow::ScanFinished);
    w->scan().mFileScan_Click();
    ASSERT_TRUE(w->Scanning());
    // Everything but Stop is off while the scan runs.
    EXPECT_TRUE(w->toolbarButton("Stop")->isEnabled());
    EXPECT_FALSE(w->toolbarButton("Scan")->isEnabled());
    EXPECT_FALSE(w->band("pbSource")->isEnabled());
    EXPECT_FALSE(w->grid()->isEnabled());
    EXPECT_FALSE(w->action("mFileScan")->isEnabled());
    w->toolbarButton("Stop")->trigger();
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(w->PanelText(2), "Scanning was interrupted.");
    EXPECT_LT(w->model()->Rows().size(), std::size_t{kLongScanFiles});
    EXPECT_EQ(w->windowTitle(), " Sorvane 1.00");
    EXPECT_TRUE(w->grid()->isEnabled());

    // Esc during a scan stops it too, wherever the focus is.
    w->scan().mFileScan_Click();
    ASSERT_TRUE(w->Scanning());
    QTest::keyClick(w->grid(), Qt::Key_Escape);
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(w->PanelText(2), "Scanning was interrupted.");

    // Esc and Stop while idle are forgotten when the next scan starts.
    QTest::keyClick(w.get(), Qt::Key_Escape);
    w->RequestStop();
    Scan(*w);
    EXPECT_EQ(w->PanelText(1), QStringLiteral("%1/%1").arg(kLongScanFiles));
    EXPECT_EQ(w->PanelText(2), "");
    EXPECT_EQ(w->model()->Rows().size(), std::size_t{kLongScanFiles});
}

TEST_F(MainWindowTest, CommandStateFollowsTheSource) {
    auto w = Open();
    EXPECT_FALSE(w->toolbarButton("Scan")->isEnabled());
    QTest::keyClicks(w->sourceBox()->lineEdit(), QStringLiteral("x"));
    EXPECT_TRUE(w->toolbarButton("Scan")->isEnabled());
    EXPECT_TRUE(w->toolbarButton("TargetSwap")->isEnabled());

    // A map: no sub-folders, no swap, and Scan only while the file exists.
    w->viewCommands().mViewSubfolders_Click();
    ASSERT_TRUE(w->action("mViewSubfolders")->isChecked());
    w->sourceBox()->SetText(Q(dir.file("saved.MAP")));
    EXPECT_TRUE(w->SourceIsMap());
    EXPECT_FALSE(w->action("mViewSubfolders")->isChecked());
    EXPECT_FALSE(w->toolbarButton("Recur")->isChecked());
    EXPECT_FALSE(w->toolbarButton("Recur")->isEnabled());
    EXPECT_FALSE(w->toolbarButton("TargetSwap")->isEnabled());
    EXPECT_FALSE(w->toolbarButton("Scan")->isEnabled());
    dir.write("saved.MAP", "/x\r\n");
    w->UpdateCommandState();
    EXPECT_TRUE(w->toolbarButton("Scan")->isEnabled());
    w->sourceBox()->SetText(Q(dir.file("saved.map.bak")));
    EXPECT_FALSE(w->SourceIsMap());
    EXPECT_TRUE(w->toolbarButton("Recur")->isEnabled());
}

TEST_F(MainWindowTest, ChangesAfterAScanShowTheNoticeAndClearTheCounters) {
    MakeTrees();
    auto w = Open();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    ASSERT_TRUE(w->model()->HasResults());
    ASSERT_EQ(w->Counters()[kNewerSourceCategory], 1);
    w->filterBox()->SetText(QStringLiteral("*.dll"));
    w->filterBox()->AddToHistory();
    EXPECT_EQ(w->PanelText(2),
              "Settings were changed. Perform the scan again to update the results.");
    EXPECT_EQ(w->Counters(), CategoryCounters{});
    // A new scan clears the notice, and its own tidying of the paths (quotes,
    // a trailing "/") is no change of the settings.
    w->sourceBox()->SetText(QStringLiteral("\"") + Q(dir.file("src")) + QStringLiteral("/\""));
    w->targetBox()->SetText(Q(dir.file("dst") + "/"));
    Scan(*w);
    EXPECT_EQ(w->sourceBox()->Text(), Q(dir.file("src")));
    EXPECT_EQ(w->targetBox()->Text(), Q(dir.file("dst")));
    EXPECT_EQ(w->PanelText(2), "");
    EXPECT_EQ(w->Counters()[kNewerSourceCategory], 1);
    // The backup option is not such a change.
    Scan(*w);
    w->tools().mToolsBackup_Click();
    EXPECT_EQ(w->PanelText(2), "");
    w->viewCommands().mViewShowFiles_Click(0);
    EXPECT_EQ(w->PanelText(2),
              "Settings were changed. Perform the scan again to update the results.");
}

TEST_F(MainWindowTest, HistoriesKeepTwentyEntriesAndEnterAddsTheText) {
    auto w = Open();
    for (int i = 0; i < 21; ++i) {
        w->targetBox()->SetText(QStringLiteral("/path/%1").arg(i));
        QTest::keyClick(w->targetBox()->lineEdit(), Qt::Key_Return);
    }
    const QStringList history = w->targetBox()->History();
    ASSERT_EQ(history.size(), 20);
    EXPECT_EQ(history.front(), "/path/20");
    EXPECT_EQ(history.back(), "/path/1");
    w->targetBox()->SetText({});
    QTest::keyClick(w->targetBox()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(w->targetBox()->History().size(), 20);
}

TEST_F(MainWindowTest, HeaderClicksSortAndReverse) {
    MakeTrees();
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    w->viewCommands().mViewSubfolders_Click();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    ASSERT_EQ(w->model()->Rows().size(), 4u);
    w->grid()->SelectRow(2);
    const std::string current = w->model()->Rows()[2].Name;
    emit w->grid()->HeaderClicked(kNameColumn);
    EXPECT_EQ(w->SortKey(), kNameColumn);
    EXPECT_TRUE(w->Ascending());
    EXPECT_EQ(Names(*w),
              (std::vector<std::string>{"sub/lone.dll", "equal.dll", "newer.dll", "older.dll"}));
    EXPECT_EQ(w->model()->Rows()[static_cast<std::size_t>(w->grid()->CurrentRow())].Name, current);
    emit w->grid()->HeaderClicked(kNameColumn);
    EXPECT_FALSE(w->Ascending());
    EXPECT_TRUE(w->action("mViewOrder1")->isChecked());
    EXPECT_EQ(Names(*w),
              (std::vector<std::string>{"older.dll", "newer.dll", "equal.dll", "sub/lone.dll"}));
    // Another column sorts ascending again; None keeps the order.
    emit w->grid()->HeaderClicked(kMarkColumn);
    EXPECT_EQ(w->SortKey(), kMarkColumn);
    EXPECT_TRUE(w->Ascending());
    const auto sorted = Names(*w);
    w->viewCommands().mViewArrangeNone_Click();
    EXPECT_EQ(Names(*w), sorted);
    EXPECT_EQ(w->SortKey(), 0);
    // A hidden column cannot be chosen under Arrange by; None always can.
    w->action("mViewColumns9")->trigger();
    QMenu* arrangeBy = nullptr;
    for (QMenu* menu : w->findChildren<QMenu*>())
        if (menu->title() == "Arran&ge by")
            arrangeBy = menu;
    ASSERT_NE(arrangeBy, nullptr);
    emit arrangeBy->aboutToShow();
    EXPECT_FALSE(w->action("mViewArrange9")->isEnabled());
    EXPECT_TRUE(w->action("mViewArrange1")->isEnabled());
    EXPECT_TRUE(w->action("mViewArrangeNone")->isEnabled());
}

TEST_F(MainWindowTest, SourceMapsSaveAndOpenThroughTheDialogs) {
    MakeTrees();
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    w->sourceBox()->SetText(Q(dir.file("src")));
    Scan(*w); // a listing of the source
    ASSERT_EQ(w->model()->Rows().size(), 3u);
    const std::string map = dir.file("maps/release.map");
    std::filesystem::create_directories(dir.file("maps"));
    dialogs.saveFiles.push_back(Q(map));
    w->files().mFileSaveSourceMap_Click();
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::SaveFile).title, "Save Source Map...");
    const std::string text = dir.read("maps/release.map");
    EXPECT_EQ(text.substr(0, text.find("\r\n")), dir.file("src"));
    EXPECT_EQ(ReadSetting(settingsFile, "General", "LastSave"), dir.file("maps") + "/");

    // A map that cannot be written says so.
    dialogs.saveFiles.push_back(Q(dir.file("no/such/folder/x.map")));
    w->files().mFileSaveSourceMap_Click();
    EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 1u);

    dialogs.openFiles.push_back(Q(map));
    w->viewCommands().mViewSubfolders_Click();
    w->files().mFileOpenSourceMap_Click();
    EXPECT_TRUE(w->SourceIsMap());
    EXPECT_EQ(w->sourceBox()->Text(), Q(map));
    EXPECT_FALSE(w->action("mViewSubfolders")->isChecked());
    w->targetBox()->SetText({});
    w->viewCommands().mViewShowFiles_Click(1);
    Scan(*w); // the empty target takes the map's folder: all equal
    EXPECT_EQ(w->targetBox()->Text(), Q(dir.file("src")));
    EXPECT_EQ(w->PanelText(2), "No differences found.");
    // Opening another map starts in the folder of the current one.
    w->files().mFileOpenSourceMap_Click();
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::OpenFile).fileOptions.startFolder,
              Q(dir.file("maps") + "/"));
}

TEST_F(MainWindowTest, AMapLeavesOutNamesItCannotHoldAndSavedFromAMapKeepsItsFolder) {
    for (const char* name : {"ok.dll", "a|b.dll", "back\\slash.dll", "lat\xE9.dll"})
        dir.write(std::string("src/") + name, VersionedPe({{1, 0, 0, 0}}));
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    w->sourceBox()->SetText(Q(dir.file("src")));
    Scan(*w);
    ASSERT_EQ(w->model()->Rows().size(), 4u);
    dialogs.saveFiles.push_back(Q(dir.file("first.map")));
    w->files().mFileSaveSourceMap_Click();
    ASSERT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 1u);
    const QString report = dialogs.Last(FakeDialogs::Kind::Message).text;
    EXPECT_TRUE(report.startsWith("3 file(s) were left out")) << report.toStdString();
    for (const char* shown : {"a|b.dll", "back\\slash.dll", "lat\uFFFD.dll"})
        EXPECT_TRUE(report.contains(QString::fromUtf8(shown))) << shown;
    EXPECT_EQ(dir.read("first.map"), dir.file("src") + "\r\nok.dll|.dll|1.00.0000|English (United "
                                                       "States)|" +
                                         std::to_string(std::filesystem::file_size(
                                             dir.file("src/ok.dll"))) +
                                         "\r\n");

    // Saved again while that map is the Source: the header still names the
    // folder, not the map, so the new map compares against the same files.
    dialogs.openFiles.push_back(Q(dir.file("first.map")));
    w->files().mFileOpenSourceMap_Click();
    w->targetBox()->SetText({});
    Scan(*w);
    ASSERT_EQ(w->model()->Rows().size(), 1u);
    dialogs.saveFiles.push_back(Q(dir.file("second.map")));
    w->files().mFileSaveSourceMap_Click();
    EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 1u); // nothing left out this time
    EXPECT_EQ(dir.read("second.map"), dir.read("first.map"));
}

TEST_F(MainWindowTest, FolderCommandsSwapAndFilter) {
    auto w = Open();
    dialogs.folders.push_back(Q(dir.file("a")));
    w->files().mFileOpenSourcePath_Click();
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Folder).title, "Select the Source &Path:");
    EXPECT_TRUE(dialogs.Last(FakeDialogs::Kind::Folder).archivesToo);
    dialogs.folders.push_back(Q(dir.file("b")));
    w->files().mFileOpenTargetPath_Click();
    EXPECT_TRUE(dialogs.Last(FakeDialogs::Kind::Folder).archivesToo);
    EXPECT_EQ(w->sourceBox()->Text(), Q(dir.file("a")));
    EXPECT_EQ(w->targetBox()->Text(), Q(dir.file("b")));
    w->tools().mToolsSwap_Click();
    EXPECT_EQ(w->sourceBox()->Text(), Q(dir.file("b")));
    EXPECT_EQ(w->targetBox()->Text(), Q(dir.file("a")));
    EXPECT_EQ(w->sourceBox()->History().front(), Q(dir.file("b")));
    // The filter editor from the menu while the grid has the focus adds no history.
    w->grid()->setFocus();
    dialogs.filters.push_back(QStringLiteral("*.dll;*.ocx"));
    w->tools().mToolsSetFilter_Click();
    EXPECT_EQ(w->filterBox()->Text(), "*.dll;*.ocx");
    EXPECT_TRUE(w->filterBox()->History().isEmpty());
    // Cancelling changes nothing.
    w->files().mFileOpenSourcePath_Click();
    EXPECT_EQ(w->sourceBox()->Text(), Q(dir.file("b")));
}

TEST_F(MainWindowTest, CustomisedToolbarIsKeptInTheSettingsFile) {
    {
        auto w = Open();
        std::vector<platform::ToolbarButtonState> layout{
            {"Stop", "", true}, {"Scan", "", true}, {"Save", "", false}};
        dialogs.toolbars.push_back(layout);
        w->viewCommands().mViewCustomize_Click();
        EXPECT_FALSE(w->toolbarButton("Save")->isVisible());
        EXPECT_EQ(w->band("pbToolbar")->actions().front(), w->toolbarButton("Stop"));
        // Kept at once, before the window closes.
        EXPECT_GT(LoadListSection(settingsFile, "Toolbar").size(), 3u);
        EXPECT_EQ(ReadSetting(settingsFile, "Toolbar", "2"), "-Save");
        w->close();
    }
    const std::vector<std::string> saved = LoadListSection(settingsFile, "Toolbar");
    ASSERT_GE(saved.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(saved.begin(), saved.begin() + 3),
              (std::vector<std::string>{"Stop", "Scan", "-Save"}));
    auto w = Open();
    EXPECT_EQ(w->band("pbToolbar")->actions().front(), w->toolbarButton("Stop"));
    EXPECT_FALSE(w->toolbarButton("Save")->isVisible());
}

TEST_F(MainWindowTest, CompareContentsMarksEqualVersionsWithOtherBytesAndIsKept) {
    const std::string base = VersionedPe({{1, 0, 0, 0}});
    std::string changed = base;
    changed.back() = static_cast<char>(changed.back() ^ 0x5A);
    dir.write("src/same.dll", base);
    dir.write("dst/same.dll", base);
    dir.write("src/rebuilt.dll", base);
    dir.write("dst/rebuilt.dll", changed);
    const auto marks = [](const MainWindow& w) {
        std::map<std::string, char> out;
        for (std::size_t i = 0; i < w.model()->Rows().size(); ++i) {
            const auto row = w.model()->RowAt(static_cast<int>(i));
            out[row->Name] = static_cast<char>(row->Mark);
        }
        return out;
    };
    {
        auto w = Open();
        w->sourceBox()->SetText(Q(dir.file("src")));
        w->targetBox()->SetText(Q(dir.file("dst")));
        w->viewCommands().mViewShowFiles_Click(0);
        EXPECT_FALSE(w->action("mViewContents")->isChecked()); // off for a new user
        Scan(*w);
        EXPECT_EQ(marks(*w), (std::map<std::string, char>{{"rebuilt.dll", '='}, {"same.dll", '='}}));
        w->action("mViewContents")->trigger();
        EXPECT_EQ(w->PanelText(2),
                  "Settings were changed. Perform the scan again to update the results.");
        Scan(*w);
        EXPECT_EQ(marks(*w), (std::map<std::string, char>{{"rebuilt.dll", '~'}, {"same.dll", '='}}));
        w->close();
    }
    EXPECT_EQ(ReadSetting(settingsFile, "General", "Content"), "1");
    auto w = Open();
    EXPECT_TRUE(w->action("mViewContents")->isChecked());
    // A map holds no bytes: the item is off while one is the Source.
    w->sourceBox()->SetText(Q(dir.write("old.map", dir.file("src") + "\r\n")));
    w->viewCommands().mView_Click();
    EXPECT_FALSE(w->action("mViewContents")->isEnabled());
}

// With Compare Contents on, a Source Map saved from a listing holds the hash
// of each file; with that map as the Source the item stays available, and a
// scan marks a target whose bytes changed under the same version "~".
TEST_F(MainWindowTest, AMapSavedWithCompareContentsComparesTheTargetsBytes) {
    const std::string base = VersionedPe({{1, 0, 0, 0}});
    std::string changed = base;
    changed.back() = static_cast<char>(changed.back() ^ 0x5A);
    dir.write("release/same.dll", base);
    dir.write("release/rebuilt.dll", base);
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    w->action("mViewContents")->trigger();
    ASSERT_TRUE(w->action("mViewContents")->isChecked());
    w->sourceBox()->SetText(Q(dir.file("release")));
    Scan(*w);
    ASSERT_EQ(w->model()->Rows().size(), 2u);
    dialogs.saveFiles.push_back(Q(dir.file("release.map")));
    w->files().mFileSaveSourceMap_Click();
    const std::string hash = HashBytes(base).Hex();
    const std::string text = dir.read("release.map");
    EXPECT_NE(text.find("|" + std::to_string(base.size()) + "|" + hash + "\r\n"), std::string::npos)
        << text;
    EXPECT_TRUE(SourceMapHoldsHashes(dir.file("release.map")));

    dir.write("build/same.dll", base);
    dir.write("build/rebuilt.dll", changed);
    dialogs.openFiles.push_back(Q(dir.file("release.map")));
    w->files().mFileOpenSourceMap_Click();
    w->targetBox()->SetText(Q(dir.file("build")));
    w->viewCommands().mView_Click();
    EXPECT_TRUE(w->action("mViewContents")->isEnabled());
    struct Case {
        bool contents;
        char rebuilt;
    };
    for (const Case c : {Case{true, '~'}, Case{false, '='}}) {
        SCOPED_TRACE(c.contents);
        if (w->action("mViewContents")->isChecked() != c.contents)
            w->action("mViewContents")->trigger();
        Scan(*w);
        std::map<std::string, char> marks;
        for (std::size_t i = 0; i < w->model()->Rows().size(); ++i) {
            const auto row = w->model()->RowAt(static_cast<int>(i));
            marks[row->Name] = static_cast<char>(row->Mark);
        }
        EXPECT_EQ(marks, (std::map<std::string, char>{{"rebuilt.dll", c.rebuilt}, {"same.dll", '='}}));
    }
    // Saved again from the map, the hashes stay, the item on or off.
    dialogs.saveFiles.push_back(Q(dir.file("again.map")));
    w->files().mFileSaveSourceMap_Click();
    EXPECT_NE(dir.read("again.map").find(hash), std::string::npos);
}

TEST_F(MainWindowTest, MenusHoldEveryItemInOrder) {
    auto w = Open();
    QStringList file;
    for (QAction* a : w->menuBar()->actions().front()->menu()->actions())
        file << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(file, (QStringList{"Open Source &Path...", "Open Source &Map...",
                                 "Open &Target Path...", "-", "Sca&n", "&Save Source Map...",
                                 "Export &Report...", "-", "E&xit\tAlt+F4"}));
    EXPECT_EQ(w->action("mFileScan")->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(w->action("mToolsCopyBatch")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F9));
    EXPECT_FALSE(w->action("mToolsBackupFolder")->isVisible());
    EXPECT_TRUE(w->action("mEditCopySpecialList2")->isVisible());
    EXPECT_TRUE(w->action("mEditCopySpecialList5")->isVisible());
    QStringList top;
    for (QAction* a : w->menuBar()->actions())
        top << a->text();
    EXPECT_EQ(top, (QStringList{"&File", "&Edit", "&View", "&Tools", "&Help"}));
}

// The letter after "&" (upper case), or nothing.
QChar AccessKey(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] != QLatin1Char('&'))
            return text[i + 1].toUpper();
        ++i;
    }
    return {};
}

// Each menu, submenus included, with no two items on one letter.
void ExpectUniqueAccessKeys(const QMenu* menu) {
    std::map<QChar, QString> seen;
    for (const QAction* a : menu->actions()) {
        if (a->isSeparator())
            continue;
        const QChar key = AccessKey(a->text());
        EXPECT_FALSE(key.isNull()) << menu->title().toStdString() << ": " << a->text().toStdString();
        const auto [at, added] = seen.emplace(key, a->text());
        EXPECT_TRUE(added) << menu->title().toStdString() << ": " << a->text().toStdString()
                           << " and " << at->second.toStdString();
        if (a->menu() != nullptr)
            ExpectUniqueAccessKeys(a->menu());
    }
}

TEST_F(MainWindowTest, AccessKeysAreUniqueAndOpenTheirMenusAtTheFirstPress) {
    auto w = Open();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    // The menu titles and the band labels share the window's Alt keys.
    std::map<QChar, QString> windowKeys;
    for (QAction* a : w->menuBar()->actions()) {
        windowKeys.emplace(AccessKey(a->text()), a->text());
        ExpectUniqueAccessKeys(a->menu());
    }
    for (const char* band : {"pbSource", "pbTarget", "pbFilter"}) {
        const auto labels = w->band(band)->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 1) << band;
        const auto [at, added] = windowKeys.emplace(AccessKey(labels[0]->text()), labels[0]->text());
        EXPECT_TRUE(added) << labels[0]->text().toStdString() << " takes the key of "
                           << at->second.toStdString();
        EXPECT_NE(labels[0]->buddy(), nullptr);
    }
    EXPECT_EQ(w->band("pbSource")->findChild<QLabel*>()->text(), "&Source:");

    const std::vector<std::pair<Qt::Key, const char*>> menus{{Qt::Key_F, "mFile"},
                                                              {Qt::Key_E, "mEdit"},
                                                              {Qt::Key_V, "mView"},
                                                              {Qt::Key_T, "mTools"},
                                                              {Qt::Key_H, "mHelp"}};
    for (const auto& [key, name] : menus) {
        SCOPED_TRACE(name);
        auto* menu = w->findChild<QMenu*>(name);
        ASSERT_NE(menu, nullptr);
        QTest::keyClick(w.get(), key, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
        // Esc closes the menu and a second one leaves the menu bar.
        QTest::keyClick(menu, Qt::Key_Escape);
        QTest::keyClick(w->menuBar(), Qt::Key_Escape);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !menu->isVisible(); }, 2000));
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    // The labels' own keys reach their boxes.
    QTest::keyClick(w.get(), Qt::Key_G, Qt::AltModifier);
    EXPECT_TRUE(w->targetBox()->hasFocus() || w->targetBox()->lineEdit()->hasFocus());
    QTest::keyClick(w.get(), Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(w->filterBox()->hasFocus() || w->filterBox()->lineEdit()->hasFocus());
}

// Which of the window's boxes (or the grid) holds the focus.
std::string FocusedControl(const MainWindow& window) {
    for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
        if (w == window.grid())
            return "fgFiles";
        for (const view::PathBox* box : {window.sourceBox(), window.targetBox(), window.filterBox()})
            if (w == box)
                return box->objectName().toStdString();
    }
    return "(none)";
}

// Tab walks the bands in the order they are shown (top to bottom, left to
// right), then the grid, and comes round again; Shift+Tab goes back. A scan
// takes the focus away while the controls are off; rows found take it, and
// without rows it goes back to where it was when the scan began.
TEST_F(MainWindowTest, TabFollowsTheBandsThenTheGridAndAScanGivesTheFocusBack) {
    struct Layout {
        const char* bands; // the CoolBar section, or none for the first start
        std::vector<std::string> order;
    };
    const std::vector<Layout> layouts{
        {"", {"cbFilter", "cbSource", "cbTarget", "fgFiles"}},
        {"[CoolBar]\r\n1_Name=pbToolbar\r\n2_Name=pbTarget\r\n2_NewRow=1\r\n"
         "3_Name=pbSource\r\n3_NewRow=0\r\n4_Name=pbFilter\r\n4_NewRow=1\r\n",
         {"cbTarget", "cbSource", "cbFilter", "fgFiles"}},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.bands);
        dir.write("Sorvane.dat", layout.bands);
        auto w = Open();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        QCoreApplication::processEvents();
        w->grid()->setFocus();
        std::vector<std::string> forward;
        for (std::size_t i = 0; i < layout.order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            forward.push_back(FocusedControl(*w));
        }
        EXPECT_EQ(forward, layout.order);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        EXPECT_EQ(FocusedControl(*w), layout.order[layout.order.size() - 2]);
        w->close();
    }

    MakeTrees();
    auto w = Open();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    struct Case {
        const char* filter; // "*.none" finds no row
        view::PathBox* startIn;
        std::string expected;
    };
    for (const Case& c : {Case{"", w->targetBox(), "fgFiles"}, Case{"", w->sourceBox(), "fgFiles"},
                          Case{"*.none", w->targetBox(), "cbTarget"},
                          Case{"*.none", w->sourceBox(), "cbSource"}}) {
        w->filterBox()->SetText(Q(c.filter));
        c.startIn->setFocus();
        Scan(*w);
        EXPECT_EQ(FocusedControl(*w), c.expected) << c.filter;
    }
}

TEST_F(MainWindowTest, StartReadsTheSettingsFileOnceAndCloseWritesItOnce) {
    dir.write("Sorvane.dat", "; written by hand\r\n[General]\r\nDifferent=0\r\n\r\n"
                             "[Mine]\r\nKey=value\r\n");
    const auto beforeStart = SettingsFileActivity();
    auto w = Open();
    QCoreApplication::processEvents(); // the first activation lays out the bands
    const auto started = SettingsFileActivity();
    EXPECT_EQ(started.reads - beforeStart.reads, 1u);
    EXPECT_EQ(started.writes - beforeStart.writes, 0u);
    EXPECT_EQ(w->DisplayMode(), 0);

    // Another copy of the program adds a key while this one runs.
    WriteSetting(settingsFile, "Elsewhere", "Added", "yes");
    w->viewCommands().mViewShowFiles_Click(2);
    const auto beforeClose = SettingsFileActivity();
    w->close();
    const auto closed = SettingsFileActivity();
    EXPECT_EQ(closed.reads - beforeClose.reads, 1u);
    EXPECT_EQ(closed.writes - beforeClose.writes, 1u);

    const std::string text = dir.read("Sorvane.dat");
    EXPECT_TRUE(text.starts_with("; written by hand\r\n[General]\r\n")) << text;
    EXPECT_EQ(ReadSetting(settingsFile, "Mine", "Key"), "value");
    EXPECT_EQ(ReadSetting(settingsFile, "Elsewhere", "Added"), "yes");
    EXPECT_EQ(Open()->DisplayMode(), 2);
}

TEST_F(MainWindowTest, ASourceMapIsNeverSavedOverAFifoOrADevice) {
    MakeTrees();
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    w->sourceBox()->SetText(Q(dir.file("src")));
    Scan(*w);
    // node under the chosen name, and what the message calls it
    const std::vector<std::pair<mode_t, QString>> cases = {{S_IFIFO, "a FIFO"},
                                                           {S_IFCHR, "a character device"}};
    for (const auto& [type, kind] : cases) {
        const std::string map = dir.file(kind.toStdString() + ".map");
        if (::mknod(map.c_str(), type | 0644, 0) != 0)
            continue; // device nodes need CAP_MKNOD
        const std::size_t before = dialogs.Count(FakeDialogs::Kind::Message);
        dialogs.saveFiles.push_back(Q(map));
        w->files().mFileSaveSourceMap_Click();
        ASSERT_EQ(dialogs.Count(FakeDialogs::Kind::Message), before + 1);
        const QString text = dialogs.Last(FakeDialogs::Kind::Message).text;
        EXPECT_TRUE(text.contains(kind + " has that name")) << text.toStdString();
        struct stat st {};
        ASSERT_EQ(::lstat(map.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, type);
    }
}

TEST_F(MainWindowTest, SaysHowManyEntriesCouldNotBeReadAndListsThemOnAClick) {
    MakeTrees();
    // Loops of links cannot be read, not even by root.
    std::filesystem::remove(dir.file("dst/newer.dll"));
    std::filesystem::create_symlink("newer.dll", dir.file("dst/newer.dll"));
    std::filesystem::create_symlink("loop.dll", dir.file("src/loop.dll"));
    auto w = Open();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    // newer.dll is no orphan: it is not in the grid at all.
    EXPECT_EQ(Names(*w), (std::vector<std::string>{"older.dll"}));
    EXPECT_EQ(w->PanelText(2), "2 entries could not be read.");
    ASSERT_EQ(w->Unreadable().size(), 2u);
    QLabel* panel = nullptr;
    for (QLabel* label : w->statusBar()->findChildren<QLabel*>())
        if (label->text() == w->PanelText(2))
            panel = label;
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->toolTip().isEmpty());
    QTest::mouseClick(panel, Qt::LeftButton);
    ASSERT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 1u);
    const auto& message = dialogs.Last(FakeDialogs::Kind::Message);
    EXPECT_EQ(message.text, "2 entries could not be read.\n\n" + Q(dir.file("src/loop.dll")) +
                                ": Too many levels of symbolic links\n" +
                                Q(dir.file("dst/newer.dll")) +
                                ": Too many levels of symbolic links");
    EXPECT_EQ(message.icon, platform::MessageIcon::Warning);

    // Once everything can be read the panel lists nothing.
    std::filesystem::remove(dir.file("src/loop.dll"));
    std::filesystem::remove(dir.file("dst/newer.dll"));
    Scan(*w);
    EXPECT_TRUE(w->Unreadable().empty());
    EXPECT_EQ(w->PanelText(2), "");
    EXPECT_TRUE(panel->toolTip().isEmpty());
    QTest::mouseClick(panel, Qt::LeftButton);
    EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 1u);
}

TEST_F(MainWindowTest, SpecialListsAreOfferedByCountAndReachClipboardAndFiles) {
    MakeTrees();
    test::FakeClipboard clipboard;
    auto window = Open({}, &clipboard);
    MainWindow& w = *window;
    w.viewCommands().mViewShowFiles_Click(0);
    w.viewCommands().mViewSubfolders_Click();
    w.sourceBox()->SetText(Q(dir.file("src")));
    w.targetBox()->SetText(Q(dir.file("dst")));
    Scan(w);
    QMenu* edit = w.menuBar()->findChild<QMenu*>("mEdit");
    ASSERT_NE(edit, nullptr);
    const auto item = [&w](const char* kind, int i) {
        return w.action(QStringLiteral("mEdit%1SpecialList%2").arg(kind).arg(i));
    };
    const auto offered = [&] { // the copy and save items, as the opened Edit menu shows them
        emit edit->aboutToShow();
        std::string states;
        for (int i = 0; i < kCategoryCount; ++i) {
            EXPECT_TRUE(item("Copy", i)->isVisible() && item("Save", i)->isVisible()) << i;
            states += std::string(item("Copy", i)->isEnabled() ? "1" : "0") +
                      (item("Save", i)->isEnabled() ? "1" : "0");
        }
        return states;
    };
    EXPECT_EQ(offered(), "111100000011");

    // list, its text (on the clipboard and in the file), the save dialog's title
    const std::vector<std::tuple<int, std::string, QString>> lists = {
        {0, dir.file("src/newer.dll") + "\n", "Save List of Newer Source Files..."},
        {1, dir.file("dst/older.dll") + "\n", "Save List of Newer Target Files..."},
        {5, dir.file("src/sub/lone.dll") + "\n", "Save List of Orphans..."}};
    std::filesystem::create_directories(dir.file("lists"));
    QString startFolder = QDir::homePath();
    for (const auto& [i, text, title] : lists) {
        item("Copy", i)->trigger();
        EXPECT_EQ(clipboard.Format("text/plain").toStdString(), text) << i;
        const std::string name = "lists/" + std::to_string(i) + ".txt";
        dialogs.saveFiles.push_back(Q(dir.file(name)));
        item("Save", i)->trigger();
        const auto& call = dialogs.Last(FakeDialogs::Kind::SaveFile);
        EXPECT_EQ(call.title, title);
        EXPECT_EQ(call.fileOptions.filter, "Text Files (*.txt);;All files (*)");
        EXPECT_EQ(call.fileOptions.defaultSuffix, "txt");
        EXPECT_EQ(call.fileOptions.startFolder, startFolder);
        EXPECT_EQ(dir.read(name), text);
        startFolder = Q(dir.file("lists") + "/");
    }
    EXPECT_EQ(ReadSetting(settingsFile, "General", "LastSave"), dir.file("lists") + "/");

    // A copied row leaves its list, which stays offered as counted.
    const auto names = Names(w);
    const int newer = static_cast<int>(std::find(names.begin(), names.end(), "newer.dll") - names.begin());
    w.model()->UpdateTarget(newer, ComparisonMark::Copied, "2.00.0000", "");
    EXPECT_EQ(offered(), "111100000011");
    item("Copy", 0)->trigger();
    EXPECT_EQ(clipboard.Format("text/plain"), "");

    // Writes that fail: a message, and whatever had the name is kept.
    dir.write("lists/kept.txt", "old\n");
    ASSERT_EQ(::mkfifo(dir.file("lists/fifo.txt").c_str(), 0644), 0);
    const std::vector<std::pair<std::string, rlim_t>> failing = {
        {"no/such/folder/x.txt", RLIM_INFINITY}, {"lists/fifo.txt", RLIM_INFINITY},
        {"lists/kept.txt", 2}}; // a file size limit fails a write even for root
    for (const auto& [name, limit] : failing) {
        const std::size_t before = dialogs.Count(FakeDialogs::Kind::Message);
        dialogs.saveFiles.push_back(Q(dir.file(name)));
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limited{std::min(limit, old.rlim_max), old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limited);
        item("Save", 5)->trigger();
        ::setrlimit(RLIMIT_FSIZE, &old);
        ASSERT_EQ(dialogs.Count(FakeDialogs::Kind::Message), before + 1) << name;
        EXPECT_TRUE(dialogs.Last(FakeDialogs::Kind::Message)
                        .text.startsWith("The list could not be saved as\n" + Q(dir.file(name))));
    }
    EXPECT_EQ(dir.read("lists/kept.txt"), "old\n");
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("lists/fifo.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
    EXPECT_EQ(ReadSetting(settingsFile, "General", "LastSave"), dir.file("lists") + "/");

    // A clipboard held by another program says so; a changed setting withdraws the lists.
    clipboard.refuse = true;
    item("Copy", 1)->trigger();
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).text,
              "The list could not be put on the clipboard.");
    w.viewCommands().mViewShowFiles_Click(1);
    EXPECT_EQ(offered(), "000000000000");
}

TEST_F(MainWindowTest, FilePropertiesOpenTheSourceThenTheTargetFileWhereEachIsThere) {
    for (const char* name : {"both.dll", "orphan.dll", "folder.dll", "gone.dll"})
        dir.write(std::string("src/") + name, VersionedPe({{2, 0, 0, 0}}));
    for (const char* name : {"both.dll", "gone.dll"})
        dir.write(std::string("dst/") + name, VersionedPe({{1, 0, 0, 0}}));
    std::filesystem::create_directories(dir.file("dst/folder.dll"));
    dir.write("other.map", "x\r\n");
    auto w = Open();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    const QString src = Q(dir.file("src")), dst = Q(dir.file("dst"));
    w->sourceBox()->SetText(src);
    w->targetBox()->SetText(dst);
    w->viewCommands().mViewShowFiles_Click(0); // orphans too
    Scan(*w);
    ASSERT_EQ(w->model()->Rows().size(), 4u);

    enum class How { Menu, DoubleClick, AltEnter };
    struct Case {
        const char* row;
        How how;
        std::function<void()> change; // before the command state is computed
        std::vector<std::string> opened;
    };
    const auto path = [&](const char* side, const char* name) {
        return dir.file(std::string(side) + "/" + name);
    };
    const Case cases[] = {
        {"both.dll", How::Menu, {}, {path("src", "both.dll"), path("dst", "both.dll")}},
        {"both.dll", How::DoubleClick, {}, {path("src", "both.dll"), path("dst", "both.dll")}},
        {"orphan.dll", How::AltEnter, {}, {path("src", "orphan.dll")}},
        {"folder.dll", How::Menu, {}, {path("src", "folder.dll")}},
        {"gone.dll", How::DoubleClick,
         [&] { std::filesystem::remove(dir.file("src/gone.dll")); }, {path("dst", "gone.dll")}},
        {"both.dll", How::AltEnter, [&] { w->sourceBox()->SetText(Q(dir.file("other.map"))); },
         {path("dst", "both.dll")}},
        {"both.dll", How::Menu,
         [&] {
             w->sourceBox()->SetText(src);
             w->targetBox()->SetText({});
         },
         {path("src", "both.dll")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.row) + " " + std::to_string(static_cast<int>(c.how)));
        const auto& rows = w->model()->Rows();
        const int row = static_cast<int>(
            std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.Name == c.row; }) -
            rows.begin());
        w->grid()->SelectRow(row);
        if (c.change)
            c.change();
        w->UpdateCommandState();
        EXPECT_EQ(w->action("mToolsSourceProperties")->isEnabled(),
                  c.opened.front().starts_with(dir.file("src")));
        switch (c.how) {
        case How::Menu:
            w->action("mToolsSourceProperties")->trigger();
            break;
        case How::DoubleClick: {
            const QPoint at = w->grid()->visualRect(w->model()->index(row, 1)).center();
            QTest::mouseClick(w->grid()->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(w->grid()->viewport(), Qt::LeftButton, {}, at);
            break;
        }
        case How::AltEnter:
            w->grid()->setFocus();
            QTest::keyClick(w->grid(), Qt::Key_Return, Qt::AltModifier);
            break;
        }
        // The windows in the order they opened.
        std::vector<std::string> opened;
        for (auto* window : w->findChildren<windows::FilePropertiesWindow*>()) {
            if (window->isVisible())
                opened.push_back(window->Path());
            delete window;
        }
        EXPECT_EQ(opened, c.opened);
    }
}

TEST_F(MainWindowTest, CopiesNewerFilesWithBackupFromTheGrid) {
    auto w = OpenAndCompareTrees();
    ASSERT_EQ(w->Counters()[kNewerSourceCategory], 1);
    const auto rowOf = [&](const std::string& name) {
        const auto& rows = w->model()->Rows();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name)
                return static_cast<int>(i);
        return -1;
    };
    // Copying is offered for a row that differs, never for an equal one.
    w->grid()->SelectRow(rowOf("equal.dll"));
    w->UpdateCommandState();
    EXPECT_FALSE(w->action("mToolsCopySource")->isEnabled());
    w->grid()->SelectRow(rowOf("newer.dll"));
    w->UpdateCommandState();
    EXPECT_TRUE(w->action("mToolsCopySource")->isEnabled());
    EXPECT_TRUE(w->action("mToolsCopyBatch")->isEnabled());

    const std::string oldTarget = dir.read("dst/newer.dll");
    dialogs.messageAnswers = {platform::MessageResult::Ok};
    QSignalSpy finished(w->copyController(), &sync::CopyController::BatchFinished);
    w->action("mToolsCopyBatch")->trigger();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).title, "Sorvane Message");
    EXPECT_EQ(dir.read("dst/newer.dll"), dir.read("src/newer.dll"));
    EXPECT_EQ(dir.read("dst/_Backup/newer.dll"), oldTarget);
    EXPECT_FALSE(std::filesystem::exists(dir.file("dst/_Backup/older.dll")));
    const ComparisonRow& copied = w->model()->Rows()[static_cast<std::size_t>(rowOf("newer.dll"))];
    EXPECT_EQ(copied.Mark, ComparisonMark::Copied);
    EXPECT_EQ(copied.TargetVersion, copied.SourceVersion);
    EXPECT_EQ(w->PanelText(1), "1/1");
    EXPECT_FALSE(w->Busy());
    EXPECT_TRUE(w->toolbarButton("Scan")->isEnabled());

    // Cancel at the confirmation copies nothing.
    dir.write("src/newer.dll", VersionedPe({{3, 0, 0, 0}}));
    Scan(*w);
    dialogs.messageAnswers = {platform::MessageResult::Cancel};
    w->grid()->SelectRow(rowOf("newer.dll"));
    w->action("mToolsCopySource")->trigger();
    QTest::qWait(50);
    EXPECT_NE(dir.read("dst/newer.dll"), dir.read("src/newer.dll"));
    EXPECT_EQ(w->model()->Rows()[static_cast<std::size_t>(rowOf("newer.dll"))].Mark,
              ComparisonMark::NewerSource);
}

TEST_F(MainWindowTest, TheCopyConfirmationsAreAskedAgainAfterWhatChangesThem) {
    MakeTrees();
    auto w = Open();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    struct Case {
        const char* event;
        std::function<void()> run;
        bool confirmation, systemCheck, categoryWarning; // pending afterwards
    };
    const std::vector<Case> cases{
        {"scan", [&] { Scan(*w); }, true, true, true},
        {"swap", [&] { w->tools().mToolsSwap_Click(), w->tools().mToolsSwap_Click(); }, true, true, true},
        {"target changed", [&] { w->targetBox()->SetText(Q(dir.file("dst") + "/")); }, true, true,
         false},
        {"backup toggled", [&] { w->tools().mToolsBackup_Click(); }, true, false, false},
        {"backup folder changed",
         [&] {
             dialogs.folders.push_back(Q(dir.file("elsewhere")));
             w->activateWindow();
             QTest::keyClick(w.get(), Qt::Key_B, Qt::ControlModifier); // the hidden item's key
             EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Folder).title,
                       "Select the &Backup Folder, or\nPress 'Ins' to create a new Folder");
             EXPECT_FALSE(dialogs.Last(FakeDialogs::Kind::Folder).archivesToo);
         },
         true, false, false},
    };
    sync::CopyController& copier = *w->copyController();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        copier.CopyConfirmationPending = copier.SystemFolderCheckPending = false;
        copier.CategoryWarningOn = false;
        c.run();
        EXPECT_EQ(copier.CopyConfirmationPending, c.confirmation);
        EXPECT_EQ(copier.SystemFolderCheckPending, c.systemCheck);
        EXPECT_EQ(copier.CategoryWarningOn, c.categoryWarning);
    }
}

TEST_F(MainWindowTest, EditMenuStatesCtrlCAndTheRightClickFollowWhereTheUserIs) {
    MakeTrees();
    dir.write("listing.map", "/x\r\nnewer.dll|.dll|1.0|L|1\r\n");
    test::FakeClipboard clipboard;
    auto window = Open({}, &clipboard);
    MainWindow& w = *window;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.viewCommands().mViewShowFiles_Click(0);
    w.sourceBox()->SetText(Q(dir.file("src")));
    w.targetBox()->SetText(Q(dir.file("dst")));
    Scan(w);
    QMenu* edit = w.menuBar()->findChild<QMenu*>("mEdit");
    ASSERT_NE(edit, nullptr);
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));

    struct Case {
        const char* where;
        std::function<void()> focus;
        std::string enabled; // Undo, Cut, Copy, Paste, Delete
    };
    QLineEdit* sourceEdit = w.sourceBox()->lineEdit();
    const std::vector<Case> cases{
        {"box, text selected", [&] { sourceEdit->setFocus(), sourceEdit->selectAll(); }, "11111"},
        {"box, nothing selected", [&] { sourceEdit->setFocus(), sourceEdit->deselect(); }, "10010"},
        {"grid, folder source", [&] { w.grid()->setFocus(); }, "00100"},
        {"grid, map source",
         [&] {
             w.sourceBox()->SetText(Q(dir.file("listing.map")));
             w.grid()->setFocus();
         },
         "00000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        c.focus();
        QCoreApplication::processEvents();
        emit edit->aboutToShow();
        std::string enabled;
        for (const char* name : {"mEditUndo", "mEditCut", "mEditCopy", "mEditPaste", "mEditDelete"})
            enabled += w.action(name)->isEnabled() ? '1' : '0';
        EXPECT_EQ(enabled, c.enabled);
    }

    // The text commands act on the focused path box's text.
    w.sourceBox()->SetText(Q(dir.file("src")));
    sourceEdit->setFocus();
    sourceEdit->selectAll();
    w.action("mEditCut")->trigger();
    EXPECT_EQ(w.sourceBox()->Text(), "");
    w.action("mEditUndo")->trigger();
    EXPECT_EQ(w.sourceBox()->Text(), Q(dir.file("src")));

    // Ctrl+C (or Ctrl+Insert) in the grid: the current row's source file, as
    // a file and as text; nothing for a Source Map, whose path names no folder.
    w.grid()->setFocus();
    const auto& rows = w.model()->Rows();
    const int newer = static_cast<int>(
        std::find_if(rows.begin(), rows.end(), [](const auto& r) { return r.Name == "newer.dll"; }) -
        rows.begin());
    w.grid()->SelectRow(newer);
    w.sourceBox()->SetText(Q(dir.file("listing.map")));
    w.grid()->setFocus();
    QTest::keyClick(w.grid(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard.Format("text/plain").toStdString(), "");
    w.sourceBox()->SetText(Q(dir.file("src")));
    w.grid()->setFocus();
    QTest::keyClick(w.grid(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard.Format("text/plain").toStdString(), dir.file("src/newer.dll"));
    EXPECT_EQ(clipboard.Format("text/uri-list").toStdString(),
              "file://" + dir.file("src/newer.dll") + "\r\n");

    // A right click makes the row under the pointer current and opens the
    // Tools menu there.
    const int other = newer == 0 ? 1 : 0;
    QMenu* tools = w.menuBar()->findChild<QMenu*>("mTools");
    bool shownForRow = false;
    QTimer::singleShot(100, [&] {
        shownForRow = tools->isVisible() && w.grid()->CurrentRow() == other;
        tools->close();
    });
    const QPoint at = w.grid()->visualRect(w.model()->index(other, 1)).center();
    QTest::mouseClick(w.grid()->viewport(), Qt::RightButton, {}, at);
    EXPECT_TRUE(shownForRow);
    EXPECT_EQ(w.grid()->CurrentRow(), other);
}

TEST_F(MainWindowTest, FindAndFindNextSearchTheGridAndSayWhenNothingIsFound) {
    auto w = OpenAndCompareTrees();
    w->viewCommands().mViewArrange_Click(kNameColumn); // equal, newer, older
    ASSERT_EQ(Names(*w), (std::vector<std::string>{"equal.dll", "newer.dll", "older.dll"}));
    const auto find = [&](const char* text, int options) {
        platform::FindState state;
        state.text = QString::fromUtf8(text);
        state.options = options;
        dialogs.findAnswers.push_back(state);
        w->action("mEditFind")->trigger();
    };
    w->grid()->SelectRow(0);
    find(".dll", 0);
    EXPECT_EQ(w->grid()->CurrentRow(), 1); // from the row after the current one
    w->action("mEditFindNext")->trigger();
    EXPECT_EQ(w->grid()->CurrentRow(), 2);
    w->action("mEditFindNext")->trigger(); // the last row: no wrap-around
    EXPECT_EQ(w->grid()->CurrentRow(), 2);
    EXPECT_EQ(w->PanelText(2), "Can not find.");
    // After a failed search F3 finds nothing more, and is offered no more.
    w->grid()->SelectRow(0);
    w->action("mEditFindNext")->trigger();
    EXPECT_EQ(w->grid()->CurrentRow(), 0);
    emit w->menuBar()->findChild<QMenu*>("mEdit")->aboutToShow();
    EXPECT_FALSE(w->action("mEditFindNext")->isEnabled());
    EXPECT_TRUE(w->action("mEditFind")->isEnabled());
    // The hidden size column is searched; the status bar hidden, a message says it.
    const std::string size =
        std::to_string(std::filesystem::file_size(dir.file("src/older.dll")));
    find(size.c_str(), platform::FindState::kWholeWord);
    ASSERT_GE(w->grid()->CurrentRow(), 1);
    EXPECT_EQ(std::to_string(w->model()->Rows()[static_cast<std::size_t>(w->grid()->CurrentRow())]
                                 .SourceSize),
              size);
    w->action("mViewStatus")->trigger();
    ASSERT_FALSE(w->statusBar()->isVisible());
    find("no such text", 0);
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).title, "Find Text");
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).text, "Can not find.");
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).help, platform::MessageHelp::Button);
}

TEST_F(MainWindowTest, TypingInTheGridJumpsToTheFirstNameNotSmallerThanTheText) {
    for (const char* name : {"alpha.dll", "beta.dll", "Mango.dll", "mint.dll", "zeta.dll"})
        dir.write(std::string("src/") + name, VersionedPe({{1, 0, 0, 0}}));
    for (int i = 0; i < 60; ++i) // enough rows for the grid to scroll
        dir.write("src/zz" + std::to_string(100 + i) + ".dll", VersionedPe({{1, 0, 0, 0}}));
    auto w = Open();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->sourceBox()->SetText(Q(dir.file("src")));
    Scan(*w);
    w->viewCommands().mViewArrange_Click(kNameColumn);
    QLineEdit* box = w->findChild<QLineEdit*>("tbSearch");
    ASSERT_NE(box, nullptr);
    const auto current = [&] {
        return w->model()->Rows()[static_cast<std::size_t>(w->grid()->CurrentRow())].Name;
    };
    struct Case {
        bool ascending;
        std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys;
        std::string row; // current afterwards
        QString text;    // in the box, empty when it stayed closed
    };
    const std::vector<Case> cases{
        {true, {{Qt::Key_M, Qt::ShiftModifier}}, "Mango.dll", "m"}, // Shift ignored
        {true, {{Qt::Key_M, {}}, {Qt::Key_I, {}}}, "mint.dll", "mi"},
        {true, {{Qt::Key_Q, {}}}, "zeta.dll", "q"},
        {true, {{Qt::Key_Z, {}}, {Qt::Key_Z, {}}, {Qt::Key_1, {}}, {Qt::Key_2, {}}}, "zz120.dll",
         "zz12"},
        {false, {{Qt::Key_M, {}}}, "zz159.dll", "m"}, // descending: row 1 is already after m
        {true, {{Qt::Key_5, Qt::KeypadModifier}}, "alpha.dll", ""}, // the keypad opens nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        w->viewCommands().mViewOrder_Click(c.ascending ? 0 : 1);
        w->grid()->SelectRow(0);
        w->grid()->setFocus();
        if (c.ascending) {
            ASSERT_EQ(current(), "alpha.dll");
        }
        QWidget* target = w->grid();
        for (const auto& [key, modifiers] : c.keys) {
            QTest::keyClick(target, key, modifiers);
            target = QApplication::focusWidget();
        }
        EXPECT_EQ(current(), c.row);
        EXPECT_EQ(box->text(), c.text);
        EXPECT_EQ(box->isVisible(), !c.text.isEmpty());
        // Esc gives the grid the focus back and closes the box.
        if (box->isVisible())
            QTest::keyClick(box, Qt::Key_Escape);
        EXPECT_FALSE(box->isVisible());
        EXPECT_TRUE(box->text().isEmpty());
    }
    // A scroll of the user's closes the box; without the status bar letters open nothing.
    w->viewCommands().mViewOrder_Click(0);
    w->grid()->setFocus();
    QTest::keyClick(w->grid(), Qt::Key_B);
    ASSERT_TRUE(box->isVisible());
    QScrollBar* scroll = w->grid()->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    scroll->setValue(scroll->value() == 0 ? 1 : 0);
    EXPECT_FALSE(box->isVisible());
    w->action("mViewStatus")->trigger();
    w->grid()->setFocus();
    QTest::keyClick(w->grid(), Qt::Key_B);
    EXPECT_TRUE(box->text().isEmpty());
}

TEST_F(MainWindowTest, AColourRecoloursItsOwnCategoryAndAFontKeepsTheWidths) {
    auto w = Open();
    const auto row = [](const char* name, ComparisonMark mark) {
        ComparisonRow r;
        r.Name = name;
        r.Mark = mark;
        r.SourceVersion = std::string("1");
        return r;
    };
    w->model()->AppendRows({row("size.dll", ComparisonMark::DifferentSize),
                            row("lang.dll", ComparisonMark::UnequalLanguage),
                            row("equal.dll", ComparisonMark::Equal),
                            row("lone.dll", ComparisonMark::Orphan)});
    const auto colorOf = [&](int r) {
        return w->model()->data(w->model()->index(r, kNameColumn), Qt::ForegroundRole).value<QColor>();
    };
    const QColor purple = colorOf(1);
    const QColor regular = colorOf(2);
    EXPECT_EQ(colorOf(3), regular); // orphans start in the regular text colour
    ASSERT_EQ(colorOf(0), purple); // both categories start purple
    struct Case {
        int item;
        const char* title;
        QColor chosen;
        std::vector<QColor> rows; // afterwards
    };
    const std::vector<Case> cases{
        {5, "Color of Different Size", QColor(Qt::red), {QColor(Qt::red), purple, colorOf(2)}},
        {6, "Color of Incomparable", QColor(Qt::cyan), {QColor(Qt::red), purple, colorOf(2)}},
        {7, "Color of Copied File", QColor(Qt::yellow), {QColor(Qt::red), purple, colorOf(2)}},
        {8, "Color of Orphans", QColor(Qt::magenta), {QColor(Qt::red), purple, colorOf(2)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        dialogs.colors.push_back(c.chosen);
        w->action(QStringLiteral("mViewColor%1").arg(c.item))->trigger();
        EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Color).title, c.title);
        EXPECT_EQ(w->model()->Colors().color(c.item), c.chosen);
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(colorOf(r), c.rows[static_cast<std::size_t>(r)]) << r;
        EXPECT_EQ(colorOf(3), c.item == 8 ? c.chosen : regular); // only their own item
        // The item's swatch shows the new colour inside a black frame.
        const QImage swatch =
            w->action(QStringLiteral("mViewColor%1").arg(c.item))->icon().pixmap(10, 10).toImage();
        EXPECT_EQ(QColor(swatch.pixel(5, 5)), c.chosen);
        EXPECT_EQ(QColor(swatch.pixel(0, 0)), QColor(Qt::black));
    }
    dialogs.colors.push_back(std::nullopt); // cancel changes nothing
    w->action("mViewColor2")->trigger();
    EXPECT_EQ(w->model()->Colors().color(2), QColor(0, 0, 255));

    std::vector<int> widths;
    for (int i = 0; i < kGridColumnCount; ++i)
        widths.push_back(w->grid()->columnWidth(i));
    QFont big(QStringLiteral("DejaVu Serif"), 20);
    dialogs.fonts.push_back(big);
    w->action("mViewSetFont")->trigger();
    EXPECT_EQ(w->grid()->font().pointSize(), 20);
    for (int i = 0; i < kGridColumnCount; ++i)
        EXPECT_EQ(w->grid()->columnWidth(i), widths[static_cast<std::size_t>(i)]) << i;
    EXPECT_EQ(w->findChild<QLineEdit*>("tbSearch")->font().pointSize(), 8);
}

// The focus starts in the first path box still to fill: Source while it is
// empty, otherwise Target.
TEST_F(MainWindowTest, TheFocusStartsInTheFirstPathStillToGive) {
    struct Case {
        const char* settings;
        const char* commandLine;
        std::string focused;
    };
    const std::string src = dir.file("src");
    std::filesystem::create_directories(src);
    const std::string stored = "[General]\r\nSource=" + src + "\r\n[Source]\r\n0=" + src + "\r\n";
    for (const Case& c : {Case{"", "", "cbSource"}, Case{stored.c_str(), "", "cbTarget"},
                          Case{"", "SRC", "cbTarget"},
                          Case{"[General]\r\nTarget=/t\r\n[Target]\r\n0=/t\r\n", "", "cbSource"}}) {
        SCOPED_TRACE(std::string(c.settings) + c.commandLine);
        dir.write("Sorvane.dat", c.settings);
        auto w = Open(std::string(c.commandLine) == "SRC" ? Q(src) : QString());
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        EXPECT_EQ(FocusedControl(*w), c.focused);
        w->close();
    }
}

// After a scan the columns the user never sized fit their texts; widths the
// user set, now or in an earlier run, stay. Files without the list of
// user-set widths count a width other than the default as the user's.
TEST_F(MainWindowTest, AScanFitsTheColumnsTheUserNeverSized) {
    MakeTrees();
    struct Case {
        const char* name;
        std::string grid; ///< the Grid section
        std::vector<int> kept; ///< columns that keep their stored width
    };
    const std::vector<Case> cases{
        {"new file", "", {}},
        {"older file, one width dragged", "Col9=180\r\nCol1=96\r\n", {9}},
        {"list of user widths", "Col9=180\r\nCol2=40\r\nSized=0100000000\r\n", {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("Sorvane.dat", "[Grid]\r\n" + c.grid);
        std::map<int, int> stored;
        {
            auto w = Open();
            for (const int column : c.kept)
                stored[column] = w->grid()->ColumnWidthPx(column);
            w->viewCommands().mViewShowFiles_Click(0);
            w->sourceBox()->SetText(Q(dir.file("src")));
            w->targetBox()->SetText(Q(dir.file("dst")));
            Scan(*w);
            ASSERT_TRUE(w->model()->HasResults());
            for (int i = 1; i <= 10; ++i) {
                if (stored.contains(i))
                    EXPECT_EQ(w->grid()->ColumnWidthPx(i), stored[i]) << i;
                else
                    EXPECT_EQ(w->grid()->ColumnWidthPx(i), w->grid()->FittedWidth(i)) << i;
            }
            w->close();
        }
        std::string sized(10, '0');
        for (const int column : c.kept)
            sized[static_cast<std::size_t>(column - 1)] = '1';
        EXPECT_EQ(ReadSetting(settingsFile, "Grid", "Sized"), sized);
        std::filesystem::remove(settingsFile);
    }
}

// The path boxes and the search box take the editing keys of the desktop
// and the classic ones: Ctrl+Z or Alt+Backspace, Ctrl+X or Shift+Del,
// Ctrl+C or Ctrl+Ins, Ctrl+V or Shift+Ins, and Del.
TEST_F(MainWindowTest, PathBoxesTakeTheDesktopAndTheClassicEditingKeys) {
    auto w = Open();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    struct Case {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::string text;      ///< the box's text afterwards
        std::string clipboard; ///< the clipboard's text afterwards
    };
    // Each starts from "folder" with "old" typed after it and "ld" selected,
    // and "clip" on the clipboard.
    const std::vector<Case> cases{
        {"Ctrl+Z", Qt::Key_Z, Qt::ControlModifier, "folder", "clip"},
        {"Alt+Backspace", Qt::Key_Backspace, Qt::AltModifier, "folder", "clip"},
        {"Ctrl+X", Qt::Key_X, Qt::ControlModifier, "foldero", "ld"},
        {"Shift+Del", Qt::Key_Delete, Qt::ShiftModifier, "foldero", "ld"},
        {"Ctrl+C", Qt::Key_C, Qt::ControlModifier, "folderold", "ld"},
        {"Ctrl+Ins", Qt::Key_Insert, Qt::ControlModifier, "folderold", "ld"},
        {"Ctrl+V", Qt::Key_V, Qt::ControlModifier, "folderoclip", "clip"},
        {"Shift+Ins", Qt::Key_Insert, Qt::ShiftModifier, "folderoclip", "clip"},
        {"Del", Qt::Key_Delete, Qt::NoModifier, "foldero", "clip"},
    };
    for (view::PathBox* box : {w->sourceBox(), w->targetBox(), w->filterBox()}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(box->objectName().toStdString() + " " + c.name);
            QLineEdit* edit = box->lineEdit();
            box->SetText(QStringLiteral("folder"));
            edit->setFocus();
            edit->end(false);
            QTest::keyClicks(edit, QStringLiteral("old"));
            edit->setSelection(7, 2);
            QApplication::clipboard()->setText(QStringLiteral("clip"));
            QTest::keyClick(edit, c.key, c.modifiers);
            EXPECT_EQ(edit->text().toStdString(), c.text);
            EXPECT_EQ(QApplication::clipboard()->text().toStdString(), c.clipboard);
        }
    }
}

// A colour the user chooses that reads at less than 3:1 on the background is
// pointed out in the status bar, when chosen and at the next start; colours
// the user chose come back exactly, defaults are written as the classic ones.
TEST_F(MainWindowTest, AHardToReadColourIsPointedOutAndUserColoursAreKept) {
    struct Case {
        int item;
        QColor chosen;
        const char* notice; ///< in panel 2 afterwards, and at the next start
    };
    const std::vector<Case> cases{
        {2, QColor(0, 0, 160), ""},
        {3, QColor(250, 250, 250),
         "The color of Newer Target is hard to read on the background (contrast 1.0:1)."},
        {0, QColor(40, 40, 40),
         "The color of Regular Text is hard to read on the background (contrast 1.4:1)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        std::filesystem::remove(settingsFile);
        {
            auto w = Open();
            dialogs.colors.push_back(c.chosen);
            w->action(QStringLiteral("mViewColor%1").arg(c.item))->trigger();
            EXPECT_EQ(w->PanelText(2).toStdString(), c.notice);
            w->close();
        }
        EXPECT_EQ(ReadSetting(settingsFile, "Color", view::kColorKeys[c.item]),
                  std::to_string(view::ToColorRef(c.chosen)));
        EXPECT_EQ(ReadSetting(settingsFile, "Color", "Defaults"),
                  std::to_string(0x1FF & ~(1 << c.item)));
        if (c.item != 3) {
            EXPECT_EQ(ReadSetting(settingsFile, "Color", "Newer Target"), "255");
        }
        auto w = Open();
        EXPECT_EQ(w->model()->Colors().color(c.item), c.chosen);
        EXPECT_EQ(w->PanelText(2).toStdString(), c.notice);
    }
}

} // namespace
} // namespace sorvane::shell
