// The window's copy commands on a Target someone else may write into: they act
// on the row the user sees, and never write through a link.

#include "shell/main_window.h"
#include "window_fixture.h"

#include "support/archive_maker.h"
#include "support/fake_dialogs.h"
#include "support/scan_files.h"
#include "sync/copy_controller.h"
#include "view/result_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace sorvane::shell::test_window {
namespace {

TEST_F(MainWindowTest, F9AndCtrlF9ActOnTheRowTheUserSeesHoweverItGotThere) {
    auto w = OpenAndCompareTrees();
    const int equal = RowOf(*w, "equal.dll");
    const int newer = RowOf(*w, "newer.dll");
    ASSERT_GE(equal, 0);
    ASSERT_GE(newer, 0);
    // Each way the current row moves, without anything else refreshing the
    // commands: a click, the keys, what Find does.
    const auto click = [&](int row) {
        const QRect cell = w->grid()->visualRect(w->model()->index(row, 1));
        QTest::mouseClick(w->grid()->viewport(), Qt::LeftButton, {}, cell.center());
    };
    const auto keys = [&](int row) {
        QTest::keyClick(w->grid(), Qt::Key_Home, Qt::ControlModifier);
        for (int i = 0; i < row; ++i)
            QTest::keyClick(w->grid(), Qt::Key_Down);
    };
    const auto found = [&](int row) { w->grid()->SelectRow(row); };
    const std::vector<std::pair<const char*, std::function<void(int)>>> moves = {
        {"click", click}, {"keys", keys}, {"find", found}};
    const std::string equalTarget = dir.read("dst/equal.dll");
    for (const auto& [how, moveTo] : moves) {
        for (const bool batch : {false, true}) {
            SCOPED_TRACE(std::string(how) + (batch ? " Ctrl+F9" : " F9"));
            // The Tools menu was last worked out for the newer row ...
            moveTo(newer);
            w->UpdateCommandState();
            ASSERT_TRUE(w->action("mToolsCopySource")->isEnabled());
            // ... then the user moves to the equal row and presses the key.
            moveTo(equal);
            EXPECT_EQ(w->grid()->CurrentRow(), equal);
            EXPECT_FALSE(w->action("mToolsCopySource")->isEnabled());
            EXPECT_FALSE(w->action("mToolsCopyBatch")->isEnabled());
            const std::size_t asked = dialogs.Count(FakeDialogs::Kind::Message);
            dialogs.messageAnswers = {platform::MessageResult::Cancel};
            w->activateWindow();
            QTest::keyClick(w.get(), Qt::Key_F9, batch ? Qt::ControlModifier : Qt::NoModifier);
            QTest::qWait(20);
            EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), asked); // not even asked
            EXPECT_EQ(dir.read("dst/equal.dll"), equalTarget);
            // Back on a newer row the key works at once: it asks first.
            moveTo(newer);
            EXPECT_TRUE(w->action("mToolsCopySource")->isEnabled());
            QTest::keyClick(w.get(), Qt::Key_F9, batch ? Qt::ControlModifier : Qt::NoModifier);
            QTest::qWait(20);
            EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), asked + 1);
            EXPECT_FALSE(w->Busy());
        }
    }
}

TEST_F(MainWindowTest, ACopyFromTheGridNeverWritesThroughALinkAndTheBatchGoesOn) {
    dir.write("src/sub/two.dll", VersionedPe({{2, 0, 0, 0}}));
    dir.write("dst/sub/two.dll", VersionedPe({{1, 0, 0, 0}}));
    dir.write("elsewhere/newer.dll", "precious");
    dir.write("elsewhere/sub/two.dll", "precious too");
    auto w = OpenAndCompareTrees();
    w->viewCommands().mViewSubfolders_Click();
    Scan(*w);
    ASSERT_EQ(w->Counters()[kNewerSourceCategory], 2);
    const std::string in = "cd '" + dir.path().string() + "' && ";
    const std::string link = " is a symbolic link; Sorvane does not copy through links";
    // planted or changed after the scan, F9 or the batch, the messages shown
    struct Case {
        const char* planted;
        bool batch;
        std::vector<std::string> said;
    };
    const std::vector<Case> cases = {
        {"rm dst/newer.dll; ln -s ../elsewhere/newer.dll dst/newer.dll", false,
         {"<dst>/newer.dll\nCan not be copied.\n<dst>/newer.dll" + link}},
        {"mv dst/sub dst/was; ln -s ../elsewhere/sub dst/sub", false,
         {"<dst>/sub/two.dll\nCan not be copied.\n<dst>/sub" + link}},
        {"touch -d '+1 hour' dst/newer.dll", false,
         {"<dst>/newer.dll\nCan not be copied.\nchanged since the scan; scan again"}},
        {"printf more >> src/newer.dll", false,
         {"<src>/newer.dll\nCan not be copied.\nchanged since the scan; scan again"}},
        // Each row of the batch is refused, and the batch goes on to the next.
        {"ln -s ../elsewhere dst/_Backup", true,
         {"<dst>/newer.dll\nCan not be copied.\n<dst>/_Backup" + link,
          "<dst>/sub/two.dll\nCan not be copied.\n<dst>/_Backup" + link}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.planted);
        std::filesystem::remove_all(dir.file("dst"));
        std::filesystem::remove_all(dir.file("src"));
        MakeTrees();
        dir.write("src/sub/two.dll", VersionedPe({{2, 0, 0, 0}}));
        dir.write("dst/sub/two.dll", VersionedPe({{1, 0, 0, 0}}));
        Scan(*w);
        ASSERT_EQ(std::system((in + c.planted).c_str()), 0);
        const std::string elsewhere = test::TreeDigest(dir.file("elsewhere"));
        const std::size_t before = dialogs.calls.size();
        dialogs.messageAnswers = {platform::MessageResult::Ok};
        if (c.batch) {
            QSignalSpy finished(w->copyController(), &sync::CopyController::BatchFinished);
            w->grid()->SelectRow(RowOf(*w, "newer.dll"));
            w->action("mToolsCopyBatch")->trigger();
            ASSERT_TRUE(finished.wait(10000));
        } else {
            QSignalSpy finished(w->copyController(), &sync::CopyController::SingleCopyFinished);
            w->grid()->SelectRow(RowOf(*w, std::string(c.planted).find("sub") != std::string::npos
                                                ? "sub/two.dll"
                                                : "newer.dll"));
            w->action("mToolsCopySource")->trigger();
            ASSERT_TRUE(finished.wait(10000));
        }
        std::vector<std::string> said;
        for (std::size_t i = before + 1; i < dialogs.calls.size(); ++i) // after the confirmation
            said.push_back(dialogs.calls[i].text.toStdString());
        for (auto& text : said)
            for (const char* side : {"src", "dst"})
                for (auto at = text.find(dir.file(side)); at != std::string::npos;
                     at = text.find(dir.file(side)))
                    text.replace(at, dir.file(side).size(), "<" + std::string(side) + ">");
        EXPECT_EQ(said, c.said);
        EXPECT_EQ(test::TreeDigest(dir.file("elsewhere")), elsewhere);
        for (const auto& row : w->model()->Rows())
            EXPECT_NE(row.Mark, ComparisonMark::Copied) << row.Name;
    }
}

TEST_F(MainWindowTest, RowsOfAnArchiveSourceAreCopiedAndAnArchiveTargetTurnsCopyingOff) {
    MakeTrees();
    for (const char* side : {"src", "dst"})
        if (const auto made = test::MakeArchive(test::ArchiveFormat::Zip, dir.file(side),
                                                dir.file(std::string(side) + ".zip")))
            GTEST_SKIP() << *made;
    const std::string newSource = dir.read("src/newer.dll");
    const std::string oldTarget = dir.read("dst/newer.dll");
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    const QString readOnly = QString::fromLatin1(sync::kArchiveTargetReadOnly);
    // source, target, batch; whether the row is copied (the commands are on)
    const struct {
        const char* source;
        const char* target;
        bool batch;
        bool copies;
    } cases[] = {
        {"src.zip", "dst", false, true},
        {"src.zip", "dst", true, true},
        {"src", "dst.zip", false, false},
        {"src", "dst.zip", true, false},
        {"src.zip", "dst.zip", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " on " + c.target + (c.batch ? " batch" : ""));
        dir.write("dst/newer.dll", oldTarget);
        std::filesystem::remove_all(dir.file("dst/_Backup"));
        w->sourceBox()->SetText(Q(dir.file(c.source)));
        w->targetBox()->SetText(Q(dir.file(c.target)));
        w->UpdateCommandState();
        Scan(*w);
        const int newer = RowOf(*w, "newer.dll");
        ASSERT_GE(newer, 0);
        w->grid()->SelectRow(newer);
        w->UpdateCommandState();
        for (const char* name : {"mToolsCopySource", "mToolsCopyBatch", "mToolsBackup"})
            EXPECT_EQ(w->action(name)->isEnabled(), c.copies) << name;
        EXPECT_EQ(w->PanelText(2) == readOnly, !c.copies) << w->PanelText(2).toStdString();
        if (!c.copies) {
            // The keys do nothing, and nothing is asked: no copy, and no
            // backup folder chosen (Ctrl+B) for a Target that takes none.
            const std::size_t asked = dialogs.calls.size();
            w->activateWindow();
            QTest::keyClick(w.get(), Qt::Key_F9, c.batch ? Qt::ControlModifier : Qt::NoModifier);
            QTest::keyClick(w.get(), Qt::Key_B, Qt::ControlModifier);
            QTest::qWait(20);
            EXPECT_EQ(dialogs.calls.size(), asked);
            EXPECT_FALSE(w->Busy());
            EXPECT_EQ(dir.read("dst/newer.dll"), oldTarget);
            continue;
        }
        dialogs.messageAnswers = {platform::MessageResult::Ok};
        if (c.batch) {
            QSignalSpy finished(w->copyController(), &sync::CopyController::BatchFinished);
            w->action("mToolsCopyBatch")->trigger();
            ASSERT_TRUE(finished.wait(10000));
        } else {
            QSignalSpy finished(w->copyController(), &sync::CopyController::SingleCopyFinished);
            w->action("mToolsCopySource")->trigger();
            ASSERT_TRUE(finished.wait(10000));
        }
        EXPECT_EQ(dir.read("dst/newer.dll"), newSource);
        EXPECT_EQ(dir.read("dst/_Backup/newer.dll"), oldTarget);
        EXPECT_EQ(w->model()->Rows()[newer].Mark, ComparisonMark::Copied);
        w->copyController()->RearmAll();
    }
    // A folder Target again: the text goes, the backup is on again.
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst.zip")));
    Scan(*w);
    EXPECT_EQ(w->PanelText(2), readOnly);
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    EXPECT_NE(w->PanelText(2), readOnly);
    EXPECT_TRUE(w->action("mToolsBackup")->isEnabled());
}


// A Source Map saved from an archive Source names the archive in its header;
// opened again with no Target it is compared with that archive, every row
// equal, and its rows' File Properties find their members.
TEST_F(MainWindowTest, AMapSavedFromAnArchiveSourceComparesWithTheArchive) {
    MakeTrees();
    if (const auto made =
            test::MakeArchive(test::ArchiveFormat::Zip, dir.file("src"), dir.file("src.zip")))
        GTEST_SKIP() << *made;
    auto w = Open();
    w->viewCommands().mViewShowFiles_Click(0);
    w->sourceBox()->SetText(Q(dir.file("src.zip")));
    Scan(*w); // a listing of the archive
    const std::size_t listed = w->model()->Rows().size();
    ASSERT_GT(listed, 0u);
    const std::string map = dir.file("release.map");
    dialogs.saveFiles.push_back(Q(map));
    w->files().mFileSaveSourceMap_Click();
    const std::string text = dir.read("release.map");
    EXPECT_EQ(text.substr(0, text.find("\r\n")), dir.file("src.zip"));

    dialogs.openFiles.push_back(Q(map));
    w->files().mFileOpenSourceMap_Click();
    ASSERT_TRUE(w->SourceIsMap());
    w->targetBox()->SetText({});
    w->viewCommands().mViewShowFiles_Click(0);
    Scan(*w);
    EXPECT_EQ(w->targetBox()->Text(), Q(dir.file("src.zip")));
    ASSERT_EQ(w->model()->Rows().size(), listed);
    for (const auto& row : w->model()->Rows())
        EXPECT_EQ(row.Mark, ComparisonMark::Equal) << row.Name;
    w->grid()->SelectRow(0);
    w->UpdateCommandState();
    EXPECT_TRUE(w->action("mToolsSourceProperties")->isEnabled());
}

} // namespace
} // namespace sorvane::shell::test_window

