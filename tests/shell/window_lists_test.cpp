// The window's lists and records: Copy Special as files and text, the grid's
// row in File Properties, the status a batch starts with, and everything the
// window records kept in its own settings file.

#include "shell/main_window.h"
#include "window_fixture.h"

#include "engine/settings/settings_store.h"
#include "windows/file_properties.h"
#include "support/fake_clipboard.h"
#include "support/fake_dialogs.h"
#include "support/scan_files.h"
#include "sync/copy_controller.h"
#include "view/result_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

#include <filesystem>
#include <string>
#include <vector>

namespace sorvane::shell::test_window {
namespace {

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

TEST_F(MainWindowTest, CopySpecialPutsTheFileListCtrlCPutsWithTheListAsText) {
    MakeTrees();
    dir.write("src/more.dll", VersionedPe({{4, 0, 0, 0}}));
    dir.write("dst/more.dll", VersionedPe({{1, 0, 0, 0}}));
    dir.write("src/line\nbreak.dll", VersionedPe({{4, 0, 0, 0}}));
    dir.write("dst/line\nbreak.dll", VersionedPe({{1, 0, 0, 0}}));
    test::FakeClipboard clipboard;
    auto w = Open({}, &clipboard);
    CompareAllWithSubfolders(*w);

    struct Case {
        int list;
        std::vector<std::string> names; // the rows listed, under the list's folder
        const char* folder;
        bool leftOut; // the name with a line break was left out, with a message
    };
    const std::vector<Case> cases{
        {kNewerSourceCategory, {"more.dll", "newer.dll"}, "src", true},
        {kNewerTargetCategory, {"older.dll"}, "dst", false},
        {kOrphansCategory, {"sub/lone.dll"}, "src", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        // The forms Ctrl+C in the grid gives one path, for each path of the
        // list (the test's folder needs no percent-encoding).
        QByteArray uris, gnome = "copy", text;
        for (const std::string& name : c.names) {
            const std::string path = dir.file(std::string(c.folder) + "/" + name);
            uris += Bytes("file://" + path + "\r\n");
            gnome += Bytes("\nfile://" + path);
            text += Bytes(path + "\n");
            if (std::string(c.folder) == "src") { // Ctrl+C copies the source's path
                w->grid()->SelectRow(RowOf(*w, name));
                emit w->grid()->CopyRequested();
                EXPECT_EQ(clipboard.Format("text/uri-list"), Bytes("file://" + path + "\r\n"));
                EXPECT_EQ(clipboard.Format("x-special/gnome-copied-files"),
                          Bytes("copy\nfile://" + path));
            }
        }
        const std::size_t messages = dialogs.Count(FakeDialogs::Kind::Message);
        w->action(QStringLiteral("mEditCopySpecialList%1").arg(c.list))->trigger();
        EXPECT_EQ(clipboard.Format("text/uri-list"), uris);
        EXPECT_EQ(clipboard.Format("x-special/gnome-copied-files"), gnome);
        EXPECT_EQ(clipboard.Format("text/plain"), text);
        EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), messages + (c.leftOut ? 1 : 0));
        if (c.leftOut) {
            EXPECT_TRUE(dialogs.Last(FakeDialogs::Kind::Message)
                            .text.startsWith("1 file(s) were left out of the list"));
        }
    }
}

TEST_F(MainWindowTest, FilePropertiesShowTheGridRowAndWhatTheFileHoldsNow) {
    MakeTrees();
    dir.write("dst/sub/lone.dll", "no version in here");
    auto w = Open();
    CompareAllWithSubfolders(*w);
    const std::string newerVersion = w->model()->Rows()[RowOf(*w, "newer.dll")].SourceVersion;
    const std::string olderScanned = w->model()->Rows()[RowOf(*w, "older.dll")].TargetVersion;
    ASSERT_FALSE(newerVersion.empty());
    ASSERT_NE(newerVersion, olderScanned);

    // newer.dll is copied; older.dll's target changes after the scan.
    dialogs.messageAnswers = {platform::MessageResult::Ok};
    QSignalSpy copied(w->copyController(), &sync::CopyController::SingleCopyFinished);
    w->grid()->SelectRow(RowOf(*w, "newer.dll"));
    w->UpdateCommandState();
    w->action("mToolsCopySource")->trigger();
    ASSERT_TRUE(copied.wait(10000));
    ASSERT_EQ(w->model()->Rows()[RowOf(*w, "newer.dll")].Mark, ComparisonMark::Copied)
        << dialogs.Last(FakeDialogs::Kind::Message).text.toStdString();
    dir.write("dst/older.dll", dir.read("src/newer.dll"));

    struct Case {
        const char* row;
        std::vector<std::pair<QString, QString>> grid; // label, value in "In the result grid"
        QString versionNow;                            // in "Read from the file now"
    };
    const std::vector<Case> cases{
        {"newer.dll",
         {{"Mark", "+ (copied in this run)"},
          {"Source version", Q(newerVersion)},
          {"Target version", Q(newerVersion)}},
         Q(newerVersion)},
        {"older.dll",
         {{"Mark", "< (the target is newer)"}, {"Target version", Q(olderScanned)}},
         Q(newerVersion)},
        {"sub/lone.dll",
         {{"Name", "sub/lone.dll"}, {"Mark", "- (no versioned target file)"}, {"Target version", ""}},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        w->grid()->SelectRow(RowOf(*w, c.row));
        w->UpdateCommandState();
        w->tools().mToolsTargetProperties_Click();
        windows::FilePropertiesWindow* shown = nullptr;
        for (auto* window : w->findChildren<windows::FilePropertiesWindow*>())
            if (window->isVisible() && window->Path() == dir.file(std::string("dst/") + c.row))
                shown = window;
        ASSERT_NE(shown, nullptr);
        const auto& sections = shown->Properties().sections;
        ASSERT_GE(sections.size(), 3u);
        EXPECT_EQ(sections[0].title, "File");
        EXPECT_EQ(sections[1].title, "In the result grid");
        EXPECT_EQ(sections[2].title, "Read from the file now");
        for (const auto& [label, value] : c.grid)
            EXPECT_EQ(sections[1].Value(label), value) << label.toStdString();
        EXPECT_EQ(sections[2].Value("Version"), c.versionNow);
        // The tree shows the sections as captioned.
        QStringList headings;
        for (int i = 0; i < shown->tree()->topLevelItemCount(); ++i)
            headings << shown->tree()->topLevelItem(i)->text(0);
        EXPECT_EQ(headings.mid(0, 3),
                  (QStringList{"File", "In the result grid", "Read from the file now"}));
        delete shown;
    }
}

TEST_F(MainWindowTest, EachBatchStartsWithAClearStatus) {
    MakeTrees();
    for (const char* name : {"a.dll", "b.dll"}) {
        dir.write(std::string("src/") + name, VersionedPe({{2, 0, 0, 0}}));
        dir.write(std::string("dst/") + name, VersionedPe({{1, 0, 0, 0}}));
    }
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    ASSERT_EQ(w->Counters()[kNewerSourceCategory], 3);

    // The panels when each batch starts and when it ends.
    std::vector<std::pair<QString, QString>> atStart;
    QObject::connect(w->copyController(), &sync::CopyController::BatchStarted, w.get(),
                     [&] { atStart.emplace_back(w->PanelText(1), w->PanelText(2)); });
    struct Case {
        bool stopAtFirst;
        std::pair<QString, QString> start, end;
    };
    const std::vector<Case> cases{
        {true, {"0/3", ""}, {"1/3", "Copying was interrupted."}},
        {false, {"0/3", ""}, {"2/3", ""}}, // the rows the first batch left
        {false, {"0/3", ""}, {"0/3", ""}}, // nothing left to copy
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopAtFirst);
        atStart.clear();
        QMetaObject::Connection stop;
        if (c.stopAtFirst)
            stop = QObject::connect(w->copyController(), &sync::CopyController::RowReached,
                                    w.get(), [&] { w->copyController()->RequestStop(); });
        dialogs.messageAnswers = {platform::MessageResult::Ok};
        QSignalSpy finished(w->copyController(), &sync::CopyController::BatchFinished);
        w->grid()->SelectRow(RowOf(*w, "newer.dll"));
        w->UpdateCommandState();
        w->action("mToolsCopyBatch")->trigger();
        if (finished.isEmpty()) {
            ASSERT_TRUE(finished.wait(10000));
        }
        QObject::disconnect(stop);
        ASSERT_EQ(atStart.size(), 1u);
        EXPECT_EQ(atStart.front(), c.start);
        EXPECT_EQ(std::make_pair(w->PanelText(1), w->PanelText(2)), c.end);
    }
}

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(MainWindowTest, TwoSettingsFilesKeepTwoToolbarsAndEverythingTheWindowRecords) {
    // What an earlier version left in its own store: read while a settings
    // file has no layout, never written again.
    {
        QSettings legacy(QStringLiteral("Brannock Ltd"), QStringLiteral("Sorvane"));
        legacy.setValue(QStringLiteral("Toolbar"), QStringList{"Find", "-Scan"});
        legacy.setValue(QStringLiteral("CurrentVersion"), QStringLiteral("0.90"));
    }
    const QString legacyFile =
        QSettings(QStringLiteral("Brannock Ltd"), QStringLiteral("Sorvane")).fileName();
    const QByteArray legacyBytes = FileBytes(legacyFile);
    ASSERT_FALSE(legacyBytes.isEmpty());

    struct Case {
        std::string file;
        std::vector<platform::ToolbarButtonState> customise;
        QString first; // the button first in the bar after the customising
        bool scanShown;
    };
    const std::vector<Case> cases{
        {dir.file("one/first.dat"), {{"Stop", "", true}, {"Scan", "", true}}, "Stop", true},
        {dir.file("two/second.dat"), {{"Save", "", true}, {"Scan", "", false}}, "Save", false},
    };
    // Both windows run at once, each on its own file.
    const auto openAll = [&] {
        std::vector<std::unique_ptr<MainWindow>> windows;
        for (const auto& c : cases) {
            StartOptions options;
            options.settingsFile = c.file;
            windows.push_back(Open(std::move(options)));
        }
        QCoreApplication::processEvents(); // the first activations restore the buttons
        return windows;
    };
    {
        auto windows = openAll();
        for (std::size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i].file);
            MainWindow& w = *windows[i];
            EXPECT_EQ(w.band("pbToolbar")->actions().front(), w.toolbarButton("Find"));
            EXPECT_FALSE(w.toolbarButton("Scan")->isVisible());
            dialogs.toolbars.push_back(cases[i].customise);
            w.viewCommands().mViewCustomize_Click();
        }
        for (auto& w : windows)
            w->close();
    }
    auto windows = openAll();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.file);
        MainWindow& w = *windows[i];
        EXPECT_EQ(w.band("pbToolbar")->actions().front(), w.toolbarButton(c.first));
        EXPECT_EQ(w.toolbarButton("Scan")->isVisible(), c.scanShown);
        const auto saved = LoadListSection(c.file, "Toolbar");
        ASSERT_FALSE(saved.empty());
        EXPECT_EQ(Q(saved.front()), c.first);
        EXPECT_EQ(ReadSetting(c.file, "Installation", "CurrentVersion"), "1.00");
        EXPECT_EQ(ReadSetting(c.file, "Installation", "InstallPath"),
                  QCoreApplication::applicationDirPath().toStdString());
    }
    // The old store is as it was left; the fixture's own file was never made.
    EXPECT_EQ(FileBytes(legacyFile), legacyBytes);
    EXPECT_FALSE(std::filesystem::exists(settingsFile));
}

} // namespace
} // namespace sorvane::shell::test_window
