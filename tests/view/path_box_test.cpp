#include "view/path_box.h"

#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QUrl>

#include <vector>

namespace sorvane::view {
namespace {

using Kind = PathBox::Kind;

QStringList Paths(int count) {
    QStringList paths;
    for (int i = 1; i <= count; ++i)
        paths.append(QStringLiteral("/data/%1").arg(i));
    return paths;
}

// Sends a key to the box as the keyboard would; true when the box kept it.
bool PressKey(PathBox& box, Qt::Key key, QEvent::Type type = QEvent::KeyPress) {
    QKeyEvent event(type, key, Qt::NoModifier);
    event.ignore();
    QApplication::sendEvent(&box, &event);
    return event.isAccepted();
}

TEST(PathBox, IsAnEditableBoxThatInsertsNothingByItself) {
    PathBox box(Kind::Source);
    EXPECT_EQ(box.kind(), Kind::Source);
    EXPECT_TRUE(box.isEditable());
    EXPECT_EQ(box.insertPolicy(), QComboBox::NoInsert);
    EXPECT_EQ(box.completer(), nullptr);
    EXPECT_EQ(box.Text(), "");
    EXPECT_EQ(box.count(), 0);
}

// ------------------------------------------------------------------ history

TEST(PathBoxHistory, NewTextsGoOnTopAndTheTwentyFirstDropsTheOldest) {
    PathBox box(Kind::Source);
    for (const QString& path : Paths(21)) {
        box.SetText(path);
        box.AddToHistory();
    }
    ASSERT_EQ(box.count(), PathBox::kMaxHistory);
    EXPECT_EQ(box.itemText(0), "/data/21");
    EXPECT_EQ(box.itemText(19), "/data/2");
    EXPECT_EQ(box.FindListItem("/data/1", false, false), -1);
    EXPECT_EQ(box.currentIndex(), 0);
    EXPECT_EQ(box.Text(), "/data/21");
    for (int i = 0; i < box.count(); ++i)
        EXPECT_EQ(box.itemData(i), QVariant(0)) << i;

    box.SetText("/data/22");
    box.AddToHistory(3);
    EXPECT_EQ(box.History(), QStringList({"/data/22", "/data/21", "/data/20"}));
}

TEST(PathBoxHistory, AListedTextMovesToTheTopAsTypedAndKeepsItsNumber) {
    // Filters match names without regard to case: "c:/data" is the listed "C:/Data".
    PathBox box(Kind::Filter);
    box.SetHistory({"/a", "/b", "/c", "/d", "/e", "C:/Data", "/f"});
    box.setItemData(5, 7);
    box.SetText("c:/data");
    QSignalSpy picked(&box, &PathBox::Picked);
    QSignalSpy changed(&box, &PathBox::TextChanged);

    box.AddToHistory();
    EXPECT_EQ(box.History(), QStringList({"c:/data", "/a", "/b", "/c", "/d", "/e", "/f"}));
    EXPECT_EQ(box.itemData(0), QVariant(7));
    EXPECT_EQ(box.currentIndex(), 0);
    EXPECT_EQ(box.Text(), "c:/data");
    ASSERT_EQ(picked.count(), 1);
    EXPECT_EQ(picked.at(0).at(0).toInt(), 0);
    EXPECT_EQ(changed.count(), 0); // the text stayed as typed

    // The entry already on top, now in other letters: still one entry.
    box.SetText("C:/DATA");
    box.AddToHistory();
    EXPECT_EQ(box.count(), 7);
    EXPECT_EQ(box.itemText(0), "C:/DATA");
    EXPECT_EQ(box.itemData(0), QVariant(7));
    EXPECT_EQ(box.Text(), "C:/DATA");
}

TEST(PathBoxHistory, PathsDifferingInCaseAreTwoEntriesFiltersAreOne) {
    struct Case {
        Kind kind;
        QStringList typed;    // each entered in turn
        QStringList history;  // the list afterwards
        QString find;         // looked up as the box compares
        int found;
    };
    const std::vector<Case> cases{
        {Kind::Source, {"/data/src", "/data/SRC"}, {"/data/SRC", "/data/src"}, "/data/src", 1},
        {Kind::Target, {"/data/src", "/data/SRC"}, {"/data/SRC", "/data/src"}, "/DATA/src", -1},
        {Kind::Target, {"/x", "/y", "/x"}, {"/x", "/y"}, "/y", 1},
        {Kind::Source, {"/A", "/a", "/A"}, {"/A", "/a"}, "/a", 1},
        {Kind::Filter, {"*.dll", "*.DLL"}, {"*.DLL"}, "*.Dll", 0},
        {Kind::Filter, {"*.exe", "*.dll", "*.EXE"}, {"*.EXE", "*.dll"}, "*.dll", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.join(QLatin1Char(' ')).toStdString());
        PathBox box(c.kind);
        EXPECT_EQ(box.IgnoresCase(), c.kind == Kind::Filter);
        for (const QString& text : c.typed) {
            box.SetText(text);
            box.AddToHistory();
        }
        EXPECT_EQ(box.History(), c.history);
        EXPECT_EQ(box.Text(), c.typed.back());
        EXPECT_EQ(box.FindListItem(c.find, false), c.found);
    }
}

TEST(PathBoxHistory, EmptyTextAddsNothingAndSetHistoryKeepsTheText) {
    PathBox box(Kind::Filter);
    QSignalSpy picked(&box, &PathBox::Picked);
    box.AddToHistory();
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(picked.count(), 0);

    box.SetText("*.dll");
    QSignalSpy changed(&box, &PathBox::TextChanged);
    QStringList entries = Paths(25);
    entries.insert(1, QString());
    box.SetHistory(entries);
    EXPECT_EQ(box.count(), PathBox::kMaxHistory);
    EXPECT_EQ(box.itemText(1), "/data/2"); // the empty entry was skipped
    EXPECT_EQ(box.itemText(19), "/data/20");
    EXPECT_EQ(box.Text(), "*.dll");
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(picked.count(), 0);
}

TEST(PathBoxHistory, FindListItemSelectsIgnoresCaseOrClears) {
    PathBox box(Kind::Source);
    EXPECT_EQ(box.FindListItem("/a", false, true), -1); // empty list
    box.SetText("/typed");
    EXPECT_EQ(box.FindListItem("/a", true, true), -1);
    EXPECT_EQ(box.Text(), ""); // asked to select: the text is cleared

    box.SetHistory({"/Src", "/dst", "/src"});
    QSignalSpy picked(&box, &PathBox::Picked);
    QSignalSpy changed(&box, &PathBox::TextChanged);
    EXPECT_EQ(box.FindListItem("/src", false, true), 0);
    EXPECT_EQ(box.FindListItem("/src", false, false), 2);
    EXPECT_EQ(box.currentIndex(), -1); // not asked to select
    EXPECT_EQ(picked.count(), 0);

    EXPECT_EQ(box.FindListItem("/DST", true, true), 1);
    EXPECT_EQ(box.currentIndex(), 1);
    EXPECT_EQ(box.Text(), "/dst");
    ASSERT_EQ(picked.count(), 1);
    EXPECT_EQ(picked.at(0).at(0).toInt(), 1);

    EXPECT_EQ(box.FindListItem("/DST", true, false), -1);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.Text(), "");
    EXPECT_EQ(picked.count(), 1);
    ASSERT_EQ(changed.count(), 1); // the text was lost
    EXPECT_EQ(changed.at(0).at(0).toString(), "");

    EXPECT_EQ(box.FindListItem("", true, true), -1);
    EXPECT_EQ(changed.count(), 1); // already empty
}

// ------------------------------------------------------------------ signals

TEST(PathBoxSignals, TypingAndSetTextReportTextPickingReportsPicked) {
    PathBox box(Kind::Source);
    box.SetHistory({"/a", "/b", "/c"});
    QSignalSpy picked(&box, &PathBox::Picked);
    QSignalSpy changed(&box, &PathBox::TextChanged);

    QTest::keyClicks(&box, "/x");
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(1).at(0).toString(), "/x");
    EXPECT_EQ(box.Text(), "/x");

    box.SetText("/y");
    ASSERT_EQ(changed.count(), 3);
    EXPECT_EQ(changed.at(2).at(0).toString(), "/y");
    box.SetText("/y");
    EXPECT_EQ(changed.count(), 3); // no change, no signal

    // Picking entries from the closed list with the arrow keys.
    QTest::keyClick(&box, Qt::Key_Down);
    QTest::keyClick(&box, Qt::Key_Down);
    ASSERT_EQ(picked.count(), 2);
    EXPECT_EQ(picked.at(1).at(0).toInt(), 1);
    EXPECT_EQ(box.Text(), "/b");
    EXPECT_EQ(changed.count(), 3);

    box.AddToHistory();
    ASSERT_EQ(picked.count(), 3);
    EXPECT_EQ(picked.at(2).at(0).toInt(), 0);
    EXPECT_EQ(box.History(), QStringList({"/b", "/a", "/c"}));
    EXPECT_EQ(changed.count(), 3);
}

// --------------------------------------------------------------------- keys

TEST(PathBoxKeys, EnterIsReportedAndTheBoxAddsNothingItself) {
    PathBox box(Kind::Target);
    box.SetHistory({"/a"});
    QSignalSpy enter(&box, &PathBox::EnterPressed);
    QSignalSpy picked(&box, &PathBox::Picked);

    QTest::keyClicks(&box, "/new");
    EXPECT_TRUE(PressKey(box, Qt::Key_Return));
    QTest::keyClick(&box, Qt::Key_Enter);
    EXPECT_EQ(enter.count(), 2);
    EXPECT_EQ(box.History(), QStringList({"/a"}));

    // A listed text is not selected by the combo box either.
    box.SetText("/a");
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(enter.count(), 3);
    EXPECT_EQ(picked.count(), 0);
    EXPECT_EQ(box.currentIndex(), -1);
}

TEST(PathBoxKeys, EnterInAnEmptyBoxAddsNothingWhenWiredToTheHistory) {
    PathBox box(Kind::Source);
    QObject::connect(&box, &PathBox::EnterPressed, &box, [&box] { box.AddToHistory(); });
    box.SetHistory({"/a"});
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.History(), QStringList({"/a"}));

    QTest::keyClicks(&box, "/b");
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.History(), QStringList({"/b", "/a"}));
}

TEST(PathBoxKeys, EscUndoesTheLastEditAndOtherwisePassesOn) {
    PathBox box(Kind::Target);
    box.SetText("/old");
    EXPECT_FALSE(PressKey(box, Qt::Key_Escape, QEvent::ShortcutOverride));
    EXPECT_FALSE(PressKey(box, Qt::Key_Escape)); // nothing typed: not the box's key

    box.lineEdit()->selectAll();
    QTest::keyClicks(&box, "/new");
    ASSERT_EQ(box.Text(), "/new");
    QSignalSpy changed(&box, &PathBox::TextChanged);
    // Wins over a window shortcut on Esc while there is something to undo.
    EXPECT_TRUE(PressKey(box, Qt::Key_Escape, QEvent::ShortcutOverride));
    EXPECT_TRUE(PressKey(box, Qt::Key_Escape));
    EXPECT_EQ(box.Text(), "/old");
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toString(), "/old");
}

// -------------------------------------------------------------------- drops

bool DragEnter(QWidget& target, const QMimeData& data) {
    QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.ignore();
    QApplication::sendEvent(&target, &event);
    return event.isAccepted();
}

bool Drop(QWidget& target, const QMimeData& data) {
    QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.ignore();
    QApplication::sendEvent(&target, &event);
    return event.isAccepted();
}

TEST(PathBoxDrops, TheTargetTakesTheFirstOfThreeFiles) {
    PathBox box(Kind::Target);
    EXPECT_TRUE(box.acceptDrops());
    EXPECT_FALSE(box.lineEdit()->acceptDrops()); // drops over the edit field reach the box
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/data/a.dll"), QUrl::fromLocalFile("/data/b.dll"),
                   QUrl::fromLocalFile("/data/c.dll")});
    QSignalSpy changed(&box, &PathBox::TextChanged);

    EXPECT_TRUE(DragEnter(box, files));
    EXPECT_TRUE(Drop(box, files));
    EXPECT_EQ(box.Text(), "/data/a.dll");
    EXPECT_EQ(changed.count(), 1);
}

TEST(PathBoxDrops, TheSourceTakesALocalFolderAndRefusesLinksAndText) {
    PathBox box(Kind::Source);
    QMimeData folder;
    folder.setUrls({QUrl("https://brannock.example/"), QUrl::fromLocalFile("/data/src/")});
    EXPECT_TRUE(DragEnter(box, folder));
    EXPECT_TRUE(Drop(box, folder));
    EXPECT_EQ(box.Text(), "/data/src");

    QMimeData web;
    web.setUrls({QUrl("https://brannock.example/")});
    QMimeData text;
    text.setText("/data/other");
    EXPECT_FALSE(DragEnter(box, web));
    EXPECT_FALSE(DragEnter(box, text));
    EXPECT_FALSE(Drop(box, text));
    EXPECT_EQ(box.Text(), "/data/src");
}

TEST(PathBoxDrops, TheFilterTakesNoDrops) {
    PathBox box(Kind::Filter);
    box.SetText("*.dll");
    EXPECT_FALSE(box.acceptDrops());
    EXPECT_FALSE(box.lineEdit()->acceptDrops());
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/data/a.dll")});
    EXPECT_FALSE(DragEnter(box, files));
    EXPECT_FALSE(Drop(box, files));
    EXPECT_EQ(box.Text(), "*.dll");
}

// ---------------------------------------------------------------- drop-down

TEST(PathBoxDropDown, ShortEntriesKeepTheBoxWidth) {
    PathBox box(Kind::Source);
    box.resize(400, box.sizeHint().height());
    box.SetHistory({"/a", "/b"});
    EXPECT_EQ(box.DropDownWidth(), 400);
    box.FitDropDownWidth();
    EXPECT_EQ(box.view()->minimumWidth(), 400);
}

TEST(PathBoxDropDown, LongEntriesWidenTheListAndBeyondTenAScrollBarIsAllowedFor) {
    PathBox box(Kind::Target);
    box.resize(40, box.sizeHint().height());
    const QString longest = QStringLiteral("/srv/archive/releases/2024/windows/system32/drivers");
    QStringList entries{longest};
    for (int i = 1; i < 10; ++i)
        entries.append(QStringLiteral("/d%1").arg(i));
    const int text = QFontMetrics(box.font()).horizontalAdvance(longest);
    const int scrollBar = box.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &box);
    ASSERT_GT(scrollBar, 0);

    box.SetHistory(entries);
    ASSERT_EQ(box.count(), 10);
    EXPECT_EQ(box.DropDownWidth(), text + 10);

    entries.append(QStringLiteral("/d10"));
    box.SetHistory(entries);
    ASSERT_EQ(box.count(), 11);
    EXPECT_EQ(box.DropDownWidth(), text + 10 + scrollBar);

    // Opening the list applies the width.
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    static_cast<QComboBox&>(box).showPopup(); // as the arrow button does
    EXPECT_EQ(box.view()->minimumWidth(), text + 10 + scrollBar);
    EXPECT_GE(box.view()->width(), text + 10 + scrollBar);
    box.hidePopup();
}

} // namespace
} // namespace sorvane::view
