// The copy commands' confirmations, state and batch, with the files copied
// by a fake and the dialogs answered by the fake dialog service.

#include "sync/copy_controller.h"

#include "support/fake_dialogs.h"
#include "support/temp_dir.h"
#include "view/result_model.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <cerrno>
#include <QWidget>

#include <mutex>

namespace sorvane::sync {
namespace {

using platform::MessageButtons;
using platform::MessageResult;
using test::FakeDialogs;

ComparisonRow Row(const char* name, ComparisonMark mark, bool busy = false) {
    ComparisonRow row;
    row.Name = name;
    row.Mark = mark;
    row.SourceVersion = "2.0";
    row.SourceLanguage = "German";
    row.TargetVersion = "1.0";
    row.TargetLanguage = "English (United States)";
    row.Busy = busy;
    return row;
}

RowCopyResult Failed(RowCopyStatus status, int error) {
    RowCopyResult result;
    result.status = status;
    result.failure = Failure::System(error, Step::Write);
    return result;
}

class CopyControllerTest : public ::testing::Test {
protected:
    CopyControllerTest()
        : controller(&window, dialogs, model, QStringLiteral("Sorvane Message"),
                     [this](const RowCopyRequest& request) {
                         std::lock_guard lock(mutex);
                         requests.push_back(request);
                         if (onCopy)
                             return onCopy(request);
                         return RowCopyResult{};
                     },
                     [this](const std::string& target) {
                         return target == "/system" ? systemWarning : std::string();
                     }) {}

    void Fill(const std::vector<ComparisonRow>& rows) { model.AppendRows(rows); }

    std::vector<std::string> Copied() {
        std::lock_guard lock(mutex);
        std::vector<std::string> names;
        for (const auto& r : requests)
            names.push_back(r.relativePath);
        return names;
    }

    QWidget window;
    FakeDialogs dialogs;
    view::ResultModel model;
    std::mutex mutex;
    std::vector<RowCopyRequest> requests;
    std::function<RowCopyResult(const RowCopyRequest&)> onCopy;
    std::string systemWarning = "You are trying to replace files in your current Windows directory.";
    CopyController controller;
};

TEST_F(CopyControllerTest, TheConfirmationAsksOnceAndCancelChangesNothing) {
    struct Case {
        const char* what;
        std::string target;
        bool backup;
        std::vector<MessageResult> answers;
        bool accepted;
        bool systemCheckPending; // after the answers
        std::vector<QString> texts;
    };
    const QString sure = "\n\nAre you sure you wish to continue?";
    const QString system = QString::fromStdString(systemWarning) + sure;
    const QString withBackup = "The target files will be backuped to the target \n"
                               "folder's sub-folder named _Backup.\n"
                               "If this folder contains files with the same name \n"
                               "as the backuped files, they will be replaced." + sure;
    const QString without =
        "The target files will be replaced by the corresponding sources without backup." + sure;
    const std::vector<Case> cases{
        {"backup, OK", "/t", true, {MessageResult::Ok}, true, false, {withBackup}},
        {"no backup, OK", "/t", false, {MessageResult::Ok}, true, false, {without}},
        {"Cancel", "/t", true, {MessageResult::Cancel}, false, false, {withBackup}},
        {"system folder, Cancel", "/system", true, {MessageResult::Cancel}, false, true, {system}},
        {"system folder, OK, OK", "/system", false, {MessageResult::Ok, MessageResult::Ok}, true,
         false, {system, without}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        controller.RearmAll();
        dialogs.calls.clear();
        dialogs.messageAnswers.assign(c.answers.begin(), c.answers.end());
        EXPECT_EQ(controller.ConfirmReplacement(c.target, c.backup), c.accepted);
        EXPECT_EQ(controller.CopyConfirmationPending, !c.accepted);
        EXPECT_EQ(controller.SystemFolderCheckPending, c.systemCheckPending);
        ASSERT_EQ(dialogs.calls.size(), c.texts.size());
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            EXPECT_EQ(dialogs.calls[i].text, c.texts[i]);
            EXPECT_EQ(dialogs.calls[i].title, "Sorvane Message");
            EXPECT_EQ(dialogs.calls[i].buttons, MessageButtons::OkCancel);
            EXPECT_EQ(dialogs.calls[i].defaultButton, MessageResult::Cancel);
            // The system folder warning carries the program's own icon and no Help.
            EXPECT_EQ(dialogs.calls[i].help, c.texts[i] == system ? platform::MessageHelp::None
                                                                  : platform::MessageHelp::Button);
        }
        if (!c.systemCheckPending) {
            EXPECT_EQ(controller.BackupOnCopy, c.backup);
        }
    }
}

TEST_F(CopyControllerTest, SingleCopiesMarkTheRowMoveOnAndWarnOfAnotherCategory) {
    Fill({Row("a.dll", ComparisonMark::NewerSource), Row("b.dll", ComparisonMark::NewerSource),
          Row("busy.dll", ComparisonMark::NewerSource, true),
          Row("c.dll", ComparisonMark::NewerTarget), Row("d.dll", ComparisonMark::Orphan)});
    QSignalSpy finished(&controller, &CopyController::SingleCopyFinished);
    const auto copy = [&](int row) {
        controller.CopySingle(row, "/src", "/dst", true);
        if (finished.isEmpty()) {
            EXPECT_TRUE(finished.wait(5000));
        }
        const int next = finished.takeFirst().at(0).toInt();
        return next;
    };
    dialogs.messageAnswers = {MessageResult::Ok};
    EXPECT_EQ(copy(0), 1); // confirmed once, then copied; b.dll is next
    const std::optional<ComparisonRow> a = model.RowAt(0);
    EXPECT_EQ(a->Mark, ComparisonMark::Copied);
    EXPECT_EQ(a->TargetVersion, "2.0");
    EXPECT_EQ(a->TargetLanguage, "German");
    EXPECT_EQ(copy(1), 3); // the busy row is passed over
    EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 1u); // no second confirmation
    ASSERT_EQ(Copied(), (std::vector<std::string>{"a.dll", "b.dll"}));
    EXPECT_TRUE(requests[0].backup);
    EXPECT_EQ(requests[0].sourceFolder, "/src");
    EXPECT_EQ(requests[0].targetFolder, "/dst");

    // "<" after ">": another category. Cancel stops, No copies and warns
    // again, Yes copies and stops warning.
    dialogs.messageAnswers = {MessageResult::Cancel};
    EXPECT_EQ(copy(3), -1);
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).defaultButton, MessageResult::No);
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).help, platform::MessageHelp::Button);
    EXPECT_TRUE(dialogs.Last(FakeDialogs::Kind::Message)
                    .text.startsWith("You are starting to copy another category of files."));
    EXPECT_EQ(model.RowAt(3)->Mark, ComparisonMark::NewerTarget);
    dialogs.messageAnswers = {MessageResult::No};
    copy(3);
    EXPECT_TRUE(controller.CategoryWarningOn);
    const auto asked = dialogs.Count(FakeDialogs::Kind::Message);
    dialogs.messageAnswers = {MessageResult::Yes};
    copy(4); // "-" under "+": the row above was copied, so no warning
    EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), asked);
    EXPECT_EQ(Copied().size(), 4u);
}

TEST_F(CopyControllerTest, ABatchCopiesNewerSourceRowsAndReportsFailures) {
    Fill({Row("one.dll", ComparisonMark::NewerSource), Row("older.dll", ComparisonMark::NewerTarget),
          Row("two.dll", ComparisonMark::NewerSource),
          Row("busy.dll", ComparisonMark::NewerSource, true),
          Row("gone.dll", ComparisonMark::NewerSource), Row("three.dll", ComparisonMark::NewerSource)});
    onCopy = [](const RowCopyRequest& r) {
        return r.relativePath == "gone.dll"
                   ? Failed(RowCopyStatus::CopyFailed, ENOENT)
                   : RowCopyResult{};
    };
    QSignalSpy progress(&controller, &CopyController::BatchProgress);
    QSignalSpy finished(&controller, &CopyController::BatchFinished);
    QSignalSpy reached(&controller, &CopyController::RowReached);
    dialogs.messageAnswers = {MessageResult::Ok};
    controller.StartBatch("/src", "/dst", false, 5);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(finished.at(0).at(0).toBool());
    EXPECT_FALSE(controller.IsCopying());
    EXPECT_EQ(Copied(), (std::vector<std::string>{"one.dll", "two.dll", "gone.dll", "three.dll"}));
    std::vector<std::pair<int, int>> counts;
    for (const auto& p : progress)
        counts.emplace_back(p.at(0).toInt(), p.at(1).toInt());
    EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{{1, 5}, {2, 5}, {3, 5}}));
    EXPECT_EQ(reached.size(), 4);
    EXPECT_EQ(model.RowAt(4)->Mark, ComparisonMark::NewerSource); // the failed row stays
    EXPECT_EQ(model.RowAt(5)->Mark, ComparisonMark::Copied);
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).text,
              "/src/gone.dll\nCan not be copied.\nNo such file or directory");
    EXPECT_FALSE(requests[0].backup);

    // A backup that fails ends the batch at once; every batch asks again.
    model.ClearResults();
    Fill({Row("x.dll", ComparisonMark::NewerSource), Row("y.dll", ComparisonMark::NewerSource)});
    requests.clear();
    onCopy = [](const RowCopyRequest&) {
        return Failed(RowCopyStatus::BackupFailed, EROFS);
    };
    dialogs.messageAnswers = {MessageResult::Ok};
    controller.StartBatch("/src", "/dst", true, 2);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(Copied(), (std::vector<std::string>{"x.dll"}));
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).text,
              "/dst/x.dll\nCan not be backuped.\nRead-only file system");
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).help, platform::MessageHelp::Button);
}

TEST_F(CopyControllerTest, StopEndsABatchAfterTheCurrentFileAndCancelCopiesNothing) {
    Fill({Row("a.dll", ComparisonMark::NewerSource), Row("b.dll", ComparisonMark::NewerSource),
          Row("c.dll", ComparisonMark::NewerSource)});
    QSignalSpy finished(&controller, &CopyController::BatchFinished);
    dialogs.messageAnswers = {MessageResult::Cancel};
    controller.StartBatch("/src", "/dst", true, 3);
    EXPECT_FALSE(controller.IsCopying());
    EXPECT_TRUE(Copied().empty());
    EXPECT_TRUE(finished.isEmpty());

    onCopy = [this](const RowCopyRequest&) {
        controller.RequestStop(); // pressed while the first file is copied
        return RowCopyResult{};
    };
    dialogs.messageAnswers = {MessageResult::Ok};
    controller.StartBatch("/src", "/dst", true, 3);
    EXPECT_TRUE(controller.IsCopying());
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_TRUE(finished.at(0).at(0).toBool()); // interrupted
    EXPECT_EQ(Copied(), (std::vector<std::string>{"a.dll"}));
    EXPECT_EQ(model.RowAt(1)->Mark, ComparisonMark::NewerSource);
}

TEST_F(CopyControllerTest, ABatchSaysItStartsOnlyOnceConfirmedBeforeItsFirstRow) {
    struct Case {
        MessageResult answer;
        int newerSourceRows;
        std::vector<std::string> events; // in order
    };
    const std::vector<Case> cases{
        {MessageResult::Ok, 2, {"started 2", "row 0", "row 1", "finished"}},
        {MessageResult::Ok, 7, {"started 7", "row 0", "row 1", "finished"}},
        {MessageResult::Cancel, 2, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.newerSourceRows);
        model.ClearResults();
        Fill({Row("a.dll", ComparisonMark::NewerSource), Row("b.dll", ComparisonMark::NewerSource)});
        std::vector<std::string> events;
        QObject context;
        QObject::connect(&controller, &CopyController::BatchStarted, &context,
                [&](int rows) { events.push_back("started " + std::to_string(rows)); });
        QObject::connect(&controller, &CopyController::RowReached, &context,
                [&](int row) { events.push_back("row " + std::to_string(row)); });
        QObject::connect(&controller, &CopyController::BatchFinished, &context,
                [&] { events.push_back("finished"); });
        QSignalSpy finished(&controller, &CopyController::BatchFinished);
        dialogs.messageAnswers = {c.answer};
        controller.StartBatch("/src", "/dst", false, c.newerSourceRows);
        if (c.answer == MessageResult::Ok) {
            ASSERT_TRUE(finished.wait(5000));
        }
        EXPECT_EQ(events, c.events);
    }
}

TEST_F(CopyControllerTest, AGroupedBatchMarksRowsAsTheyEndAndWaitsWhileAFailureIsShown) {
    Fill({Row("a.dll", ComparisonMark::NewerSource), Row("b.dll", ComparisonMark::NewerSource),
          Row("c.dll", ComparisonMark::NewerTarget), Row("d.dll", ComparisonMark::NewerSource),
          Row("busy.dll", ComparisonMark::NewerSource, true),
          Row("e.dll", ComparisonMark::NewerSource)});
    // Messages shown when each row's end came back to the copy thread.
    std::vector<std::pair<std::string, std::size_t>> shownWhenDone;
    // Every row is reached before the first ends, as a group's rows are.
    BatchCopier grouped = [&](const std::vector<RowCopyRequest>& requests,
                              const std::atomic<bool>&,
                              const std::function<void(std::size_t)>& reached,
                              const std::function<void(std::size_t, RowCopyResult)>& done) {
        for (std::size_t i = 0; i < requests.size(); ++i)
            reached(i);
        for (std::size_t i = 0; i < requests.size(); ++i) {
            done(i, requests[i].relativePath == "b.dll" ? Failed(RowCopyStatus::CopyFailed, EIO)
                                                        : RowCopyResult{});
            std::lock_guard lock(mutex);
            shownWhenDone.emplace_back(requests[i].relativePath,
                                       dialogs.Count(FakeDialogs::Kind::Message));
        }
    };
    CopyController batch(&window, dialogs, model, QStringLiteral("Sorvane Message"),
                         [](const RowCopyRequest&) { return RowCopyResult{}; }, {}, grouped);
    QSignalSpy progress(&batch, &CopyController::BatchProgress);
    QSignalSpy finished(&batch, &CopyController::BatchFinished);
    QSignalSpy reached(&batch, &CopyController::RowReached);
    dialogs.messageAnswers = {MessageResult::Ok, MessageResult::Ok};
    batch.StartBatch("/src", "/dst", false, 5);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(finished.at(0).at(0).toBool());
    std::vector<int> rows;
    for (const auto& r : reached)
        rows.push_back(r.at(0).toInt());
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 3, 5}));
    std::vector<std::pair<int, int>> counts;
    for (const auto& p : progress)
        counts.emplace_back(p.at(0).toInt(), p.at(1).toInt());
    EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{{1, 5}, {2, 5}, {3, 5}}));
    for (const auto& [row, mark] : std::vector<std::pair<int, ComparisonMark>>{
             {0, ComparisonMark::Copied}, {1, ComparisonMark::NewerSource},
             {3, ComparisonMark::Copied}, {4, ComparisonMark::NewerSource},
             {5, ComparisonMark::Copied}})
        EXPECT_EQ(model.RowAt(row)->Mark, mark) << row;
    // The copy thread went on past the failed row only once its message was
    // shown: the confirmation and that message.
    std::lock_guard lock(mutex);
    ASSERT_EQ(shownWhenDone.size(), 4u);
    EXPECT_EQ(shownWhenDone[1], std::pair(std::string("b.dll"), std::size_t{2}));
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).text,
              "/src/b.dll\nCan not be copied.\nInput/output error");
}

TEST_F(CopyControllerTest, TheGroupedCopyOfTheEngineCopiesTheBatchsFiles) {
    test::TempDir dir;
    std::vector<ComparisonRow> rows;
    for (const char* name : {"a.dll", "sub/b.dll", "c.dll"}) {
        dir.write(std::string("src/") + name, std::string("new ") + name);
        dir.write(std::string("dst/") + name, "old");
        rows.push_back(Row(name, ComparisonMark::NewerSource));
    }
    Fill(rows);
    CopyController batch(&window, dialogs, model, QStringLiteral("Sorvane Message"),
                         CopyRowWithBackup, {}, CopyRowsInGroups);
    QSignalSpy finished(&batch, &CopyController::BatchFinished);
    dialogs.messageAnswers = {MessageResult::Ok};
    batch.StartBatch(dir.file("src"), dir.file("dst"), true, 3);
    ASSERT_TRUE(finished.wait(10000));
    for (int row = 0; row < 3; ++row) {
        const std::string name = model.RowAt(row)->Name;
        EXPECT_EQ(model.RowAt(row)->Mark, ComparisonMark::Copied) << name;
        EXPECT_EQ(dir.read("dst/" + name), "new " + name);
        EXPECT_EQ(dir.read("dst/_Backup/" + name), "old");
    }
}

} // namespace
} // namespace sorvane::sync
