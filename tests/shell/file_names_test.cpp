// File names made to mislead, through the window: a line break that would add
// a line to a list, the mark that draws the text after it reversed.

#include "window_fixture.h"

#include "support/fake_clipboard.h"
#include "view/result_view.h"

#include <QAction>
#include <QTest>

#include <algorithm>
#include <filesystem>

namespace sorvane::shell::test_window {
namespace {

using Kind = FakeDialogs::Kind;

// The lines of a list text, sorted.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    std::ranges::sort(lines);
    return lines;
}

TEST_F(MainWindowTest, NamesALineCannotHoldAreLeftOutAndHiddenCharactersShowAsEscapes) {
    // Those a list line cannot hold first; the last folder read is "sub\u202Ecod".
    const std::vector<std::string> names = {"x.dll\n..\nevil.dll", "cr\rx.dll", "lat\xE9.dll",
                                            "evil\u202Ellx.exe", "\tx.dll",
                                            "sub\u202Ecod/inner.dll"};
    std::string listed;
    for (std::size_t i = 0; i < names.size(); ++i) {
        dir.write("src/" + names[i], VersionedPe({{1, 0, 0, 0}}));
        if (i >= 3)
            listed += dir.file("src/" + names[i]) + "\n";
    }
    std::filesystem::create_directories(dir.file("dst")); // orphans all
    test::FakeClipboard clipboard;
    auto w = Open({}, &clipboard);
    w->viewCommands().mViewShowFiles_Click(0);
    w->viewCommands().mViewSubfolders_Click();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    const auto rowOf = [&w](const std::string& name) {
        return static_cast<int>(std::ranges::find(w->model()->Rows(), name, &ComparisonRow::Name) -
                                w->model()->Rows().begin());
    };
    EXPECT_EQ(w->model()->data(w->model()->index(rowOf(names[3]), kNameColumn), Qt::DisplayRole),
              "evil\\u202Ellx.exe");
    EXPECT_EQ(w->PanelText(3), Q(dir.file("src/sub")) + "\\u202Ecod");

    // Copy Special and Save Special: the same lines, and one message each.
    w->action("mEditCopySpecialList5")->trigger();
    dialogs.saveFiles.push_back(Q(dir.file("orphans.txt")));
    w->action("mEditSaveSpecialList5")->trigger();
    ASSERT_EQ(dialogs.Count(Kind::Message), 2u);
    EXPECT_EQ(Lines(clipboard.Format("text/plain").toStdString()), Lines(listed));
    EXPECT_EQ(Lines(dir.read("orphans.txt")), Lines(listed));
    const QString message = dialogs.Last(Kind::Message).text;
    EXPECT_TRUE(message.startsWith("3 file(s) were left out of the list")) << message.toStdString();
    for (const std::string shown : {"x.dll\\x0a..\\x0aevil.dll", "cr\\x0dx.dll", "lat\uFFFD.dll"})
        EXPECT_TRUE(message.contains(Q(dir.file("src/") + shown))) << shown;

    // The grid's Copy of such a row puts nothing on the clipboard and says why.
    clipboard.data.reset();
    w->grid()->SelectRow(rowOf(names[0]));
    w->grid()->setFocus();
    QTest::keyClick(w->grid(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard.data, nullptr);
    EXPECT_TRUE(dialogs.Last(Kind::Message).text.startsWith("1 file(s) were left out"));
}

} // namespace
} // namespace sorvane::shell::test_window
