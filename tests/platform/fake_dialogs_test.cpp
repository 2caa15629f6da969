#include "support/fake_dialogs.h"

#include <gtest/gtest.h>
#include <QWidget>

namespace sorvane::test {
namespace {

using platform::FindState;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::MessageResult;
using Kind = FakeDialogs::Kind;

TEST(FakeDialogs, AnswersFromTheQueuesAndThenAsClosing) {
    FakeDialogs dialogs;
    dialogs.messageAnswers = {MessageResult::Yes};
    dialogs.folders = {QStringLiteral("/data/src"), std::nullopt};
    dialogs.filters = {QStringLiteral("*.dll;*.exe")};
    FindState entered;
    entered.text = QStringLiteral("kernel32");
    entered.options = FindState::kWholeWord;
    dialogs.findAnswers = {entered};

    EXPECT_EQ(dialogs.ShowMessage(nullptr, "T", "x", MessageIcon::Question, MessageButtons::YesNo),
              MessageResult::Yes);
    EXPECT_EQ(dialogs.ShowMessage(nullptr, "T", "x", MessageIcon::Question, MessageButtons::YesNo),
              MessageResult::No);
    EXPECT_EQ(dialogs.ShowMessage(nullptr, "T", "x", MessageIcon::Information, MessageButtons::Ok),
              MessageResult::Ok);
    EXPECT_EQ(
        dialogs.ShowMessage(nullptr, "T", "x", MessageIcon::Warning, MessageButtons::OkCancel),
        MessageResult::Cancel);

    EXPECT_EQ(dialogs.BrowseForFolder(nullptr, "p", "/start"), QStringLiteral("/data/src"));
    EXPECT_EQ(dialogs.BrowseForFolder(nullptr, "p", "/start"), std::nullopt);
    EXPECT_EQ(dialogs.BrowseForFolder(nullptr, "p", "/start"), std::nullopt); // queue empty

    EXPECT_EQ(dialogs.EditFilter(nullptr, "*.ocx"), QStringLiteral("*.dll;*.exe"));
    EXPECT_EQ(dialogs.EditFilter(nullptr, "*.ocx"), std::nullopt);

    FindState state;
    state.text = QStringLiteral("old");
    EXPECT_TRUE(dialogs.ShowFindBox(nullptr, state));
    EXPECT_EQ(state.text, "kernel32");
    EXPECT_EQ(state.options, FindState::kWholeWord);
    EXPECT_FALSE(dialogs.ShowFindBox(nullptr, state));
    EXPECT_EQ(state.text, "kernel32");

    EXPECT_EQ(dialogs.OpenFileName(nullptr, {}), std::nullopt);
    EXPECT_EQ(dialogs.SaveFileName(nullptr, {}), std::nullopt);
    EXPECT_EQ(dialogs.ChooseFont(nullptr, QFont(), Qt::black), std::nullopt);
    EXPECT_EQ(dialogs.ChooseColor(nullptr, Qt::black), std::nullopt);
    EXPECT_EQ(dialogs.CustomizeToolbar(nullptr, {}), std::nullopt);
}

TEST(FakeDialogs, RecordsEveryCall) {
    FakeDialogs dialogs;
    QWidget window;
    dialogs.colors = {QColor(Qt::green)};
    dialogs.ShowMessage(&window, "Find Text", "Can not find.", MessageIcon::Information,
                        MessageButtons::Ok);
    dialogs.BrowseForFolder(&window, "Select the &Target Path:", "/data/dst");
    dialogs.SaveFileName(&window, {"Save Source Map", "Map Files (*.map)", "map", "/data", true});
    EXPECT_EQ(dialogs.ChooseColor(&window, Qt::blue), QColor(Qt::green));
    dialogs.CustomizeToolbar(&window, {{"Scan", "Scan", true}, {"Stop", "Stop Scanning", false}});

    ASSERT_EQ(dialogs.calls.size(), 5u);
    EXPECT_EQ(dialogs.Count(Kind::Message), 1u);
    EXPECT_EQ(dialogs.Count(Kind::Find), 0u);

    const FakeDialogs::Call& message = dialogs.Last(Kind::Message);
    EXPECT_EQ(message.parent, &window);
    EXPECT_EQ(message.title, "Find Text");
    EXPECT_EQ(message.text, "Can not find.");
    EXPECT_EQ(message.buttons, MessageButtons::Ok);

    const FakeDialogs::Call& folder = dialogs.calls[1];
    EXPECT_EQ(folder.kind, Kind::Folder);
    EXPECT_EQ(folder.title, "Select the &Target Path:");
    EXPECT_EQ(folder.text, "/data/dst");

    const FakeDialogs::Call& save = dialogs.Last(Kind::SaveFile);
    EXPECT_EQ(save.title, "Save Source Map");
    EXPECT_EQ(save.fileOptions.defaultSuffix, "map");
    EXPECT_EQ(save.text, "/data");

    EXPECT_EQ(dialogs.Last(Kind::Color).color, QColor(Qt::blue));
    const auto& toolbar = dialogs.Last(Kind::Toolbar).toolbar;
    ASSERT_EQ(toolbar.size(), 2u);
    EXPECT_EQ(toolbar[1].key, "Stop");
    EXPECT_FALSE(toolbar[1].visible);
}

} // namespace
} // namespace sorvane::test
