// The Help menu: F1 on each menu item opens its topic, the web and mail
// links, the About box and the update check's messages.

#include "shell/main_window.h"
#include "window_fixture.h"

#include "platform/help_keys.h"
#include "windows/help_window.h"
#include "platform/update_check.h"
#include "platform/url_opener.h"
#include "support/modal_dialog.h"
#include "support/one_answer_server.h"
#include "view/result_view.h"
#include "support/recording_urls.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <QWhatsThis>

#include <fstream>
#include <vector>

namespace sorvane::shell {
namespace {

using namespace test_window;
using platform::MessageButtons;
using platform::MessageIcon;

using test::RecordingUrls;

class HelpMenuTest : public MainWindowTest {
protected:
    std::unique_ptr<MainWindow> OpenWithLinks() {
        StartOptions options;
        options.urls = &urls;
        return Open(std::move(options));
    }

    // Every item of the menu bar's menus and their sub-menus, with its menu.
    static std::vector<std::pair<QMenu*, QAction*>> MenuItems(MainWindow& window) {
        std::vector<std::pair<QMenu*, QAction*>> items;
        std::vector<QMenu*> menus;
        for (QAction* top : window.menuBar()->actions())
            menus.push_back(top->menu());
        for (std::size_t i = 0; i < menus.size(); ++i)
            for (QAction* a : menus[i]->actions()) {
                if (a->isSeparator())
                    continue;
                items.emplace_back(menus[i], a);
                if (a->menu() != nullptr)
                    menus.push_back(a->menu());
            }
        return items;
    }

    RecordingUrls urls;
};

struct Topic {
    QString item;
    int context;
};

// Every menu item and sub-menu with the topic its F1 opens.
std::vector<Topic> AllTopics() {
    std::vector<Topic> rows = {
        {"mFileScan", 201},          {"mFileSaveSourceMap", 203}, {"mFileExportReport", 217},     {"mViewSubfolders", 204}, {"mViewContents", 218},
        {"mViewShowFiles1", 205},    {"mToolsBackup", 206},           {"mViewResizeColumns", 207},
        {"mEditFind", 208},          {"mToolsCopySource", 209},       {"mToolsSetFilter", 210},
        {"mFileOpenSourcePath", 211}, {"mFileOpenSourceMap", 212},    {"mFileOpenTargetPath", 213},
        {"mToolsSwap", 214},         {"mViewStatus", 215},            {"mFileExit", 216},
        {"mEditUndo", 301},          {"mEditCut", 301},               {"mEditCopy", 301},
        {"mEditPaste", 301},         {"mEditDelete", 301},            {"mEditCopySpecial", 302},
        {"mEditFindNext", 303},      {"mEditSaveSpecial", 304},       {"mViewShowFiles0", 305},
        {"mViewShowFiles2", 306},    {"mViewToolbars", 401},          {"mViewVisibleColumns", 405},
        {"mViewArrangeBy", 405},     {"mViewArrangeNone", 405},       {"mViewOrder0", 406},
        {"mViewOrder1", 406},        {"mViewSetColor", 407},          {"mViewSetFont", 408},
        {"mViewCustomize", 409},     {"mToolsBackupFolder", 501},     {"mToolsSourceProperties", 502},
        {"mToolsCopyBatch", 503},    {"mToolsTargetProperties", 504}, {"mHelpTopics", 601},
        {"mHelpWhatsThis", 602},     {"mHelpWeb", 603},               {"mHelpMail", 604},
        {"mHelpAbout", 605},         {"mHelpUpdate", 606}};
    for (int i = 0; i < 6; ++i) {
        rows.push_back({QStringLiteral("mEditCopySpecialList%1").arg(i), 302});
        rows.push_back({QStringLiteral("mEditSaveSpecialList%1").arg(i), 304});
    }
    for (int i = 1; i <= 4; ++i)
        rows.push_back({QStringLiteral("mViewToolbar%1").arg(i), 400 + i});
    for (int i = 1; i <= 10; ++i) {
        rows.push_back({QStringLiteral("mViewColumns%1").arg(i), 405});
        rows.push_back({QStringLiteral("mViewArrange%1").arg(i), 405});
    }
    for (int i = 0; i < 9; ++i)
        rows.push_back({QStringLiteral("mViewColor%1").arg(i), 407});
    return rows;
}

TEST_F(HelpMenuTest, F1OnAHighlightedMenuItemOpensItsTopic) {
    auto w = Open();
    const std::vector<Topic> topics = AllTopics();
    for (const Topic& topic : topics) {
        SCOPED_TRACE(topic.item.toStdString());
        QMenu* menu = nullptr;
        QAction* item = nullptr;
        for (const auto& [holder, a] : MenuItems(*w))
            if (a->objectName() == topic.item || (a->menu() && a->menu()->objectName() == topic.item))
                menu = holder, item = a;
        ASSERT_NE(menu, nullptr);
        menu->popup(w->mapToGlobal(QPoint(10, 10)));
        // Hidden items too, after the menu set its items' states: what F1
        // opens does not depend on them. Greyed items can be highlighted.
        item->setVisible(true);
        menu->setActiveAction(item);
        ASSERT_EQ(menu->activeAction(), item);
        QTest::keyClick(menu, Qt::Key_F1);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr); // the menu closed
        ASSERT_NE(w->help().helpWindow(), nullptr);
        EXPECT_TRUE(w->help().helpWindow()->isVisible());
        EXPECT_EQ(w->help().helpWindow()->CurrentTopic(), topic.context);
        menu->close();
    }
    // No item of any menu is left without a topic.
    const auto items = MenuItems(*w);
    for (const auto& [menu, a] : items)
        EXPECT_GT(a->property(platform::kHelpContextProperty).toInt(), 0) << a->text().toStdString();
    EXPECT_EQ(items.size(), topics.size());
}

TEST_F(HelpMenuTest, F1ElsewhereAndHelpTopicsOpenTheContents) {
    auto w = Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->activateWindow();
    EXPECT_EQ(w->help().helpWindow(), nullptr);
    w->grid()->setFocus();
    QTest::keyClick(w->grid(), Qt::Key_F1);
    ASSERT_NE(w->help().helpWindow(), nullptr);
    EXPECT_TRUE(w->help().helpWindow()->isVisible());
    EXPECT_EQ(w->help().helpWindow()->CurrentTopic(), 0);

    w->help().ShowHelp(208);
    EXPECT_EQ(w->help().helpWindow()->CurrentTopic(), 208);
    w->action("mHelpTopics")->trigger();
    EXPECT_EQ(w->help().helpWindow()->CurrentTopic(), 0);
    EXPECT_EQ(w->action("mHelpTopics")->text(), "&Help Topics...\tF1");

    // F1 on a menu with nothing highlighted: the contents as well.
    w->help().ShowHelp(208);
    QMenu* help = w->findChild<QMenu*>("mHelp");
    help->popup(w->mapToGlobal(QPoint(10, 10)));
    help->setActiveAction(nullptr);
    QTest::keyClick(help, Qt::Key_F1);
    EXPECT_EQ(w->help().helpWindow()->CurrentTopic(), 0);

    // A message box's Help button: the contents, in a window of its own
    // that a box blocking the main window does not block.
    w->help().ShowHelp(208);
    dialogs.PressHelp();
    EXPECT_EQ(w->help().helpWindow()->CurrentTopic(), 0);
    EXPECT_EQ(w->help().helpWindow()->parentWidget(), nullptr);

    w->action("mHelpWhatsThis")->trigger();
    EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
    QWhatsThis::leaveWhatsThisMode();
    // Every control the user can point at in that mode says what it is.
    for (const QWidget* control : std::initializer_list<const QWidget*>{
             w->sourceBox(), w->targetBox(), w->filterBox(), w->grid()})
        EXPECT_FALSE(control->whatsThis().isEmpty()) << control->objectName().toStdString();
    for (const char* key : {"Scan", "Stop", "Save", "Recur", "Backup", "Resize", "Find", "Synchr"})
        EXPECT_FALSE(w->toolbarButton(key)->whatsThis().isEmpty()) << key;
}

TEST_F(HelpMenuTest, WebFeedbackAndAboutOpenTheirAddresses) {
    auto w = OpenWithLinks();
    w->action("mHelpWeb")->trigger();
    w->action("mHelpMail")->trigger();
    test::OnNextModal([](QWidget* box) {
        EXPECT_EQ(box->objectName(), "fwAbout");
        EXPECT_TRUE(box->findChild<QLabel*>("ltAbout")->text().startsWith("For Linux\nVersion 1.00\n\n"));
        QTest::mouseClick(box->findChild<QLabel*>("ltMail"), Qt::LeftButton);
        QTest::mouseClick(box->findChild<QLabel*>("ltSite"), Qt::LeftButton);
    });
    w->action("mHelpAbout")->trigger();
    ASSERT_EQ(urls.opened.size(), 4u);
    EXPECT_EQ(urls.opened[0], QUrl("https://brannock.example/"));
    EXPECT_EQ(urls.opened[1].scheme(), "mailto");
    EXPECT_EQ(urls.opened[1].path(), "support@brannock.example");
    EXPECT_EQ(QUrlQuery(urls.opened[1]).queryItemValue("subject"), "Sorvane Bug Report");
    EXPECT_EQ(QUrlQuery(urls.opened[2]).queryItemValue("subject"), "Sorvane");
    EXPECT_EQ(urls.opened[3], QUrl("https://brannock.example/Sorvane/"));
}

TEST_F(HelpMenuTest, UpdateCheckShowsOneMessagePerResult) {
    struct Row {
        const char* name;
        QByteArray response;
        const char* text; ///< empty: no message at all
        MessageIcon icon;
    };
    using test::OneAnswerServer;
    const Row rows[] = {
        {"newer", OneAnswerServer::Http("200 OK", "v = \"1.27\";"),
         "Version 1.27 is now available to download.", MessageIcon::Warning},
        {"equal", OneAnswerServer::Http("200 OK", "\"1.00\""),
         "Your copy of the application is up to date.", MessageIcon::Information},
        {"older", OneAnswerServer::Http("200 OK", "\"0.99\""),
         "Your copy of the application is up to date.", MessageIcon::Information},
        {"not found", OneAnswerServer::Http("404 Not Found", ""),
         "Remote resource is not accessible now.\nPlease try later.", MessageIcon::Critical},
        {"malformed", OneAnswerServer::Http("200 OK", "newest: 1.27"),
         "Remote resource is not accessible now.\nPlease try later.", MessageIcon::Critical},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OneAnswerServer server(row.response);
        std::ofstream(settingsFile) << "[Update]\r\nAddress="
                                    << server.Address("/site/").toString().toStdString() << "\r\n";
        dialogs.calls.clear();
        auto w = Open();
        EXPECT_EQ(w->help().UpdateAddress(), server.Address("/site/Products/Sorvane/Sorvane.js"));
        QSignalSpy finished(w->help().updateCheck(), &platform::UpdateCheck::Finished);
        w->action("mHelpUpdate")->trigger();
        ASSERT_TRUE(finished.wait(10000));
        ASSERT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 1u);
        const FakeDialogs::Call& message = dialogs.Last(FakeDialogs::Kind::Message);
        EXPECT_EQ(message.title, "Sorvane");
        EXPECT_EQ(message.text, row.text);
        EXPECT_EQ(message.icon, row.icon);
        EXPECT_EQ(message.buttons, MessageButtons::Ok);
    }
    // Without a setting the maker's site is asked; results other than -1, 0
    // and 1 show nothing.
    std::remove(settingsFile.c_str());
    dialogs.calls.clear();
    auto w = Open();
    EXPECT_EQ(w->help().UpdateAddress(), QUrl("https://brannock.example/Products/Sorvane/Sorvane.js"));
    for (int result : {2, -2, 99})
        w->help().OnUpdateChecked(result, "9.99");
    EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 0u);
}

// While a check runs the pointer and panel 2 show it; a second press says a
// check is running and leaves that check alone.
TEST_F(HelpMenuTest, ACheckShowsItRunsAndASecondPressSaysSo) {
    test::OneAnswerServer silent{QByteArray()};
    std::ofstream(settingsFile) << "[Update]\r\nAddress="
                                << silent.Address("/").toString().toStdString() << "\r\n";
    auto w = Open();
    w->help().updateCheck()->setTimeout(500);
    QSignalSpy finished(w->help().updateCheck(), &platform::UpdateCheck::Finished);
    const QString before = w->PanelText(2);
    w->action("mHelpUpdate")->trigger();
    ASSERT_TRUE(w->help().updateCheck()->isRunning());
    EXPECT_EQ(w->PanelText(2), "Checking for updates...");
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);

    w->action("mHelpUpdate")->trigger();
    ASSERT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 1u);
    const FakeDialogs::Call& busy = dialogs.Last(FakeDialogs::Kind::Message);
    EXPECT_EQ(busy.title, "Sorvane");
    EXPECT_EQ(busy.text, "A check for updates is already running.");
    EXPECT_EQ(busy.icon, MessageIcon::Information);
    EXPECT_EQ(busy.buttons, MessageButtons::Ok);
    EXPECT_TRUE(w->help().updateCheck()->isRunning());
    EXPECT_TRUE(finished.isEmpty());

    // The first check ends on its own, with its own message, and the window
    // shows no more that it checks.
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first().at(0).toInt(), platform::UpdateCheck::kNotAccessible);
    ASSERT_EQ(dialogs.Count(FakeDialogs::Kind::Message), 2u);
    EXPECT_EQ(dialogs.Last(FakeDialogs::Kind::Message).text,
              "Remote resource is not accessible now.\nPlease try later.");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(w->PanelText(2), before);
    EXPECT_EQ(silent.Request().count("GET /Products/Sorvane/Sorvane.js "), 1);
}

} // namespace
} // namespace sorvane::shell
