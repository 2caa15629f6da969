// The command table: what it builds from a list of commands, and how a
// button's key finds its handler.

#include "shell/action_table.h"

#include "platform/help_keys.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QToolBar>

#include <string>
#include <vector>

namespace sorvane::shell {
namespace {

using Flag = CommandSpec::Flag;

struct Built {
    QMainWindow window;
    ActionTable table{window};
    std::vector<std::string> ran;
    QToolBar* band = nullptr;

    Built() {
        const auto note = [this](const char* what) { return [this, what] { ran.push_back(what); }; };
        table.AddMenus({
            {"mOne", "&One", {}, 0, {}, 0, {}, {}, {
                 {"mPlain", "&Plain", QKeySequence(Qt::Key_F5), 11, note("plain")},
                 {},
                 {"mShown", "&Shown", {}, 12, note("shown"), 0, "Alt+F4"},
                 {"mHidden", "&Hidden", {}, 13, note("hidden"), Flag::kHidden},
                 {"mSub", "S&ub", {}, 14, {}, 0, {}, {}, {
                      {"mFirst", "&First", {}, 15, note("first"), Flag::kCheckable, {}, "pair"},
                      {"mSecond", "&Second", {}, 15, note("second"), Flag::kCheckable, {}, "pair"},
                  }},
             }, note("opening")},
        });
        table.AddButtons({{"Go", "Go", "Go (F5)", "scan", false, note("go")},
                          {"Halt", "Halt", "Halt (Esc)", "stop", false, note("halt")},
                          {"Keep", "Keep", "Keep", "save", true, note("keep")}});
        band = window.addToolBar("Buttons");
        table.PlaceButtons(*band);
    }
};

TEST(ActionTable, BuildsMenusItemsAndHelpContextsFromTheList) {
    Built b;
    QMenu* one = b.table.menu("mOne");
    ASSERT_NE(one, nullptr);
    // Items in order, a separator where the list has one, the sub-menu last.
    std::vector<std::string> order;
    for (QAction* a : one->actions())
        order.push_back(a->isSeparator() ? "-" : a->menu() ? a->menu()->objectName().toStdString()
                                                            : a->objectName().toStdString());
    EXPECT_EQ(order, (std::vector<std::string>{"mPlain", "-", "mShown", "mHidden", "mSub"}));

    struct Row {
        const char* name;
        QString text;
        int help;
        bool visible, checkable;
    };
    for (const Row& row : std::vector<Row>{{"mPlain", "&Plain", 11, true, false},
                                           {"mShown", "&Shown\tAlt+F4", 12, true, false},
                                           {"mHidden", "&Hidden", 13, false, false},
                                           {"mFirst", "&First", 15, true, true}}) {
        SCOPED_TRACE(row.name);
        QAction* a = b.table.action(row.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), row.text);
        EXPECT_EQ(a->property(platform::kHelpContextProperty).toInt(), row.help);
        EXPECT_EQ(a->isVisible(), row.visible);
        EXPECT_EQ(a->isCheckable(), row.checkable);
        // Every item's shortcut works with the menus closed.
        EXPECT_TRUE(b.window.actions().contains(a));
    }
    EXPECT_EQ(b.table.action("mPlain")->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(b.table.menu("mSub")->menuAction()->property(platform::kHelpContextProperty).toInt(), 14);
    EXPECT_EQ(b.table.action("mNone"), nullptr);

    // Handlers run on a trigger; the group's items exclude each other.
    b.table.action("mPlain")->trigger();
    b.table.action("mFirst")->trigger();
    b.table.action("mSecond")->trigger();
    EXPECT_FALSE(b.table.action("mFirst")->isChecked());
    EXPECT_TRUE(b.table.action("mSecond")->isChecked());
    emit b.table.menu("mOne")->aboutToShow();
    EXPECT_EQ(b.ran, (std::vector<std::string>{"plain", "first", "second", "opening"}));
}

TEST(ActionTable, AButtonIsFoundByItsKeyInAnyLetterCaseAndOnlyByIt) {
    Built b;
    for (const char* key : {"go", "HALT", "Keep", "Gone", "", "Go "})
        b.table.pbToolbar_ButtonClick(key);
    b.table.button("Go")->trigger();
    EXPECT_EQ(b.ran, (std::vector<std::string>{"go", "halt", "keep", "go"}));
    EXPECT_EQ(b.table.ButtonKey("kEEP"), "Keep");
    EXPECT_EQ(b.table.ButtonKey("Kee"), "");
    EXPECT_EQ(b.table.button("Keep")->toolTip(), "Keep");
    EXPECT_TRUE(b.table.button("Keep")->isCheckable());
}

TEST(ActionTable, AToolbarLayoutKeepsKnownButtonsOnceAndAddsTheMissingShown) {
    struct Row {
        QStringList saved;
        QStringList expected;
    };
    for (const Row& row : std::vector<Row>{
             {{}, {"Go", "Halt", "Keep"}},
             {{"Keep", "-Go", "Halt"}, {"Keep", "-Go", "Halt"}},
             // Unknown and repeated keys go; a button not named comes back, shown.
             {{"-Halt", "Nope", "-Halt", "Go"}, {"-Halt", "Go", "Keep"}},
             {{"-Keep"}, {"-Keep", "Go", "Halt"}},
         }) {
        SCOPED_TRACE(row.saved.join(',').toStdString());
        Built b;
        b.table.RestoreToolbarLayout(*b.band, row.saved);
        EXPECT_EQ(b.table.ToolbarLayout(*b.band), row.expected);
        // The customise dialog's view of the same layout.
        const auto states = b.table.ToolbarButtons(*b.band);
        ASSERT_EQ(states.size(), 3u);
        EXPECT_EQ(states[0].visible, !row.expected[0].startsWith('-'));
    }
}

} // namespace
} // namespace sorvane::shell
