#include "qt_printers.h"
#include "view/result_view.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTest>

namespace sorvane::view {
namespace {

std::vector<ComparisonRow> Rows(int count, const std::string& description = "Library") {
    std::vector<ComparisonRow> rows;
    for (int i = 0; i < count; ++i) {
        ComparisonRow row;
        row.Name = "file" + std::to_string(i) + ".dll";
        row.Ext = ".dll";
        row.SourceVersion = "1.0";
        row.Mark = ComparisonMark::Equal;
        row.Description = description;
        rows.push_back(row);
    }
    return rows;
}

class ResultViewTest : public testing::Test {
protected:
    ResultViewTest() : view(&model) {
        view.resize(1000, 300);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    // Lets the delayed layout of the view run (scroll bars, header height).
    static void Settle() {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }

    int WidthOfDataColumns(int from = kNameColumn) const {
        int sum = 0;
        for (int column = from; column <= kCopyrightColumn; ++column)
            sum += view.ColumnWidthPx(column);
        return sum;
    }

    QPoint HeaderPoint(int column, int fromLeft) const {
        const QHeaderView* header = view.horizontalHeader();
        return {header->sectionViewportPosition(column) + fromLeft, header->height() / 2};
    }

    ResultModel model;
    ResultView view;
};

TEST_F(ResultViewTest, ShowsWholeRowsInFixedColumnsWithTheRootAndSizeColumnsHidden) {
    EXPECT_EQ(view.resultModel(), &model);
    EXPECT_EQ(view.model(), &model);
    EXPECT_EQ(view.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view.selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(view.verticalHeader()->isVisible());
    EXPECT_EQ(view.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    EXPECT_FALSE(view.isSortingEnabled());
    const QHeaderView* header = view.horizontalHeader();
    EXPECT_FALSE(header->sectionsMovable());
    EXPECT_FALSE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sectionResizeMode(kNameColumn), QHeaderView::Interactive);

    for (const int column : {kRootColumn, kSizeColumn}) {
        EXPECT_TRUE(view.isColumnHidden(column));
        EXPECT_EQ(view.ColumnWidthPx(column), 0);
        EXPECT_FALSE(view.IsColumnVisible(column));
        view.SetColumnWidthPx(column, 50);
        EXPECT_EQ(view.ColumnWidthPx(column), 0);
    }
    const std::vector<int> defaults = {0, 96, 32, 96, 96, 32, 96, 96, 32, 96, 96, 0, 0};
    for (int column = 0; column < kGridColumnCount; ++column)
        EXPECT_EQ(ResultView::DefaultWidth(column), defaults[static_cast<std::size_t>(column)]);
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column) {
        EXPECT_EQ(view.ColumnWidthPx(column), ResultView::DefaultWidth(column));
        EXPECT_TRUE(view.IsColumnVisible(column));
    }

    // Every row has the height of the font, not of its content.
    model.AppendRows(Rows(20, "Line one\nline two\nline three"));
    Settle();
    EXPECT_EQ(view.rowHeight(0), view.fontMetrics().height() + 4);
    EXPECT_EQ(view.rowHeight(19), view.rowHeight(0));
    QFont larger = view.font();
    larger.setPointSize(larger.pointSize() * 2);
    view.setFont(larger);
    EXPECT_EQ(view.rowHeight(7), QFontMetrics(larger).height() + 4);
}

TEST_F(ResultViewTest, ColumnsAreShownAgainAtTheirFittedWidthAndHiddenAtWidthZero) {
    model.ClearResults();
    model.AppendRows(Rows(3, "A description quite a lot wider than ninety-six pixels"));
    Settle();
    const int headerHeight = view.horizontalHeader()->height();

    EXPECT_EQ(view.FittedWidth(kDescriptionColumn), model.WidestText(kDescriptionColumn) + 10);
    ASSERT_LT(model.WidestText(kMarkColumn) + 10, headerHeight + 4);
    EXPECT_EQ(view.FittedWidth(kMarkColumn), headerHeight + 4);

    view.SetColumnVisible(kDescriptionColumn, false);
    EXPECT_EQ(view.ColumnWidthPx(kDescriptionColumn), 0);
    EXPECT_FALSE(view.IsColumnVisible(kDescriptionColumn));
    EXPECT_EQ(model.data(model.index(0, kDescriptionColumn), Qt::DisplayRole).toString(),
              "A description quite a lot wider than ninety-six pixels");
    view.SetColumnVisible(kDescriptionColumn, true);
    EXPECT_EQ(view.ColumnWidthPx(kDescriptionColumn), view.FittedWidth(kDescriptionColumn));
    EXPECT_TRUE(view.IsColumnVisible(kDescriptionColumn));

    view.SetColumnVisible(kSourceLanguageColumn, false);
    view.SetColumnWidthPx(kSourceVersionColumn, 500);
    EXPECT_EQ(view.ColumnWidthPx(kSourceVersionColumn), 500);
    view.ResizeColumns();
    EXPECT_EQ(view.ColumnWidthPx(kSourceLanguageColumn), 0);
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column) {
        if (column != kSourceLanguageColumn) {
            EXPECT_EQ(view.ColumnWidthPx(column), view.FittedWidth(column)) << column;
        }
    }
    // Before any scan only the minimum applies.
    ResultModel fresh;
    ResultView unshown(&fresh);
    EXPECT_EQ(unshown.FittedWidth(kNameColumn), headerHeight + 4);
}

TEST_F(ResultViewTest, FillerTakesExactlyTheWidthTheColumnsLeave) {
    model.AppendRows(Rows(3));
    Settle();
    ASSERT_FALSE(view.verticalScrollBar()->isVisible());
    view.FitFillerColumn();
    const int filler = view.ColumnWidthPx(kFillerColumn);
    EXPECT_GT(filler, 0);
    EXPECT_EQ(filler, view.viewport()->width() - WidthOfDataColumns());
    EXPECT_EQ(view.viewport()->width(), view.width() - 2 * view.frameWidth());
    EXPECT_FALSE(view.horizontalScrollBar()->isVisible());

    // Widening the window widens only the filler.
    view.resize(1200, 300);
    Settle();
    EXPECT_EQ(view.ColumnWidthPx(kFillerColumn), filler + 200);
    EXPECT_EQ(view.ColumnWidthPx(kNameColumn), 96);

    // Columns wider than the view leave nothing for the filler.
    view.SetColumnWidthPx(kDescriptionColumn, 2000);
    view.FitFillerColumn();
    EXPECT_EQ(view.ColumnWidthPx(kFillerColumn), 0);

    // Scrolled sideways, the filler follows the columns from the first one in
    // view: with Description at the left edge and narrowed, the filler takes
    // what Description and Copyright leave.
    Settle();
    ASSERT_TRUE(view.horizontalScrollBar()->isVisible());
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() - 1);
    ASSERT_EQ(view.columnAt(0), kDescriptionColumn);
    EXPECT_EQ(view.ColumnWidthPx(kFillerColumn), 0);
    view.SetColumnWidthPx(kDescriptionColumn, 300);
    view.FitFillerColumn();
    EXPECT_EQ(view.ColumnWidthPx(kFillerColumn), view.viewport()->width() - 300 - 96);
    Settle();
    EXPECT_EQ(view.columnAt(0), kDescriptionColumn);
    EXPECT_EQ(view.ColumnWidthPx(kFillerColumn), view.viewport()->width() - 300 - 96);
    // Back at the left edge the filler shrinks to what all columns leave.
    view.horizontalScrollBar()->setValue(0);
    EXPECT_EQ(view.ColumnWidthPx(kFillerColumn), view.viewport()->width() - WidthOfDataColumns());
}

TEST_F(ResultViewTest, FillerLeavesRoomForTheVerticalScrollBar) {
    model.AppendRows(Rows(200));
    Settle();
    ASSERT_TRUE(view.verticalScrollBar()->isVisible());
    view.FitFillerColumn();
    const int scrollBar = view.verticalScrollBar()->width();
    EXPECT_GT(scrollBar, 0);
    EXPECT_EQ(view.ColumnWidthPx(kFillerColumn),
              view.width() - 2 * view.frameWidth() - scrollBar - WidthOfDataColumns());
    EXPECT_FALSE(view.horizontalScrollBar()->isVisible());

    // The columns always hidden are put back to width 0 and hidden.
    view.setColumnHidden(kRootColumn, false);
    view.setColumnWidth(kRootColumn, 40);
    view.FitFillerColumn();
    EXPECT_TRUE(view.isColumnHidden(kRootColumn));
    EXPECT_EQ(view.ColumnWidthPx(kRootColumn), 0);
}

TEST_F(ResultViewTest, PressOnAHeaderWithAnyButtonReportsItsColumn) {
    model.AppendRows(Rows(3));
    Settle();
    QSignalSpy clicked(&view, &ResultView::HeaderClicked);
    QWidget* header = view.horizontalHeader()->viewport();

    QTest::mousePress(header, Qt::LeftButton, {}, HeaderPoint(kSourceVersionColumn, 48));
    QTest::mouseRelease(header, Qt::LeftButton, {}, HeaderPoint(kSourceVersionColumn, 48));
    QTest::mousePress(header, Qt::RightButton, {}, HeaderPoint(kDescriptionColumn, 10));
    QTest::mouseRelease(header, Qt::RightButton, {}, HeaderPoint(kDescriptionColumn, 10));
    QTest::mousePress(header, Qt::MiddleButton, {}, HeaderPoint(kExtColumn, 16));
    QTest::mouseRelease(header, Qt::MiddleButton, {}, HeaderPoint(kExtColumn, 16));
    ASSERT_EQ(clicked.size(), 3);
    EXPECT_EQ(clicked[0][0].toInt(), kSourceVersionColumn);
    EXPECT_EQ(clicked[1][0].toInt(), kDescriptionColumn);
    EXPECT_EQ(clicked[2][0].toInt(), kExtColumn);

    // The filler is no column to sort by.
    QTest::mousePress(header, Qt::LeftButton, {}, HeaderPoint(kFillerColumn, 20));
    QTest::mouseRelease(header, Qt::LeftButton, {}, HeaderPoint(kFillerColumn, 20));
    EXPECT_EQ(clicked.size(), 3);

    // A left press on the edge between two columns resizes rather than sorts;
    // other buttons there still count as a click.
    const QPoint edge = HeaderPoint(kSourceVersionColumn, 95);
    QTest::mousePress(header, Qt::LeftButton, {}, edge);
    QTest::mouseMove(header, edge + QPoint(30, 0));
    QTest::mouseRelease(header, Qt::LeftButton, {}, edge + QPoint(30, 0));
    EXPECT_EQ(clicked.size(), 3);
    EXPECT_EQ(view.ColumnWidthPx(kSourceVersionColumn), 126);
    QTest::mousePress(header, Qt::RightButton, {}, HeaderPoint(kSourceVersionColumn, 125));
    ASSERT_EQ(clicked.size(), 4);
    EXPECT_EQ(clicked[3][0].toInt(), kSourceVersionColumn);

    // The view itself never sorts.
    EXPECT_EQ(model.RowAt(0)->Name, "file0.dll");
    EXPECT_FALSE(view.horizontalHeader()->isSortIndicatorShown());
}

TEST_F(ResultViewTest, SelectRowSelectsTheWholeRowMakesItCurrentAndPutsItAtTheTop) {
    model.AppendRows(Rows(100));
    Settle();
    view.SelectRow(40);
    EXPECT_EQ(view.CurrentRow(), 40);
    EXPECT_EQ(view.rowAt(0), 40);
    QItemSelectionModel* selection = view.selectionModel();
    EXPECT_TRUE(selection->isRowSelected(40));
    ASSERT_EQ(selection->selectedRows().size(), 1);
    EXPECT_EQ(selection->selectedRows().front().row(), 40);

    view.SelectRow(3);
    EXPECT_EQ(view.CurrentRow(), 3);
    EXPECT_EQ(view.rowAt(0), 3);
    ASSERT_EQ(selection->selectedRows().size(), 1);
    EXPECT_TRUE(selection->isRowSelected(3));

    view.SelectRow(100); // past the end: nothing changes
    EXPECT_EQ(view.CurrentRow(), 3);

    // The current cell is one the arrow keys can move from.
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.CurrentRow(), 4);
    EXPECT_TRUE(selection->isRowSelected(4));
    EXPECT_FALSE(selection->isRowSelected(3));

    ResultModel empty;
    ResultView unused(&empty);
    EXPECT_EQ(unused.CurrentRow(), -1);
}

// A drag over rows never widens the selection: the row where the button went
// down stays current and is the only one selected, whichever way the pointer
// went and wherever it was let go.
TEST_F(ResultViewTest, ADragEndsWithOnlyTheRowWhereItBeganSelected) {
    model.AppendRows(Rows(30));
    Settle();
    const auto pointOf = [this](int row) {
        return view.visualRect(model.index(row, kNameColumn)).center();
    };
    const auto send = [this](QEvent::Type type, QPoint at, Qt::MouseButton button,
                             Qt::MouseButtons held) {
        QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &event);
    };
    struct Drag {
        int from;
        std::vector<int> over;
    };
    for (const Drag& drag : {Drag{2, {3, 4, 5}}, Drag{6, {5, 3, 1}}, Drag{4, {8, 2, 9}},
                             Drag{7, {7}}}) {
        send(QEvent::MouseButtonPress, pointOf(drag.from), Qt::LeftButton, Qt::LeftButton);
        for (const int row : drag.over)
            send(QEvent::MouseMove, pointOf(row), Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, pointOf(drag.over.back()), Qt::LeftButton,
             Qt::NoButton);
        EXPECT_EQ(view.CurrentRow(), drag.from) << drag.from;
        const QModelIndexList selected = view.selectionModel()->selectedRows();
        ASSERT_EQ(selected.size(), 1) << drag.from;
        EXPECT_EQ(selected.front().row(), drag.from);
    }
}

TEST_F(ResultViewTest, TakesBackgroundAndDefaultTextColourFromTheColourSet) {
    ColorSet colors = model.Colors();
    EXPECT_EQ(view.palette().color(QPalette::Base), colors.color(kBackgroundColor));
    EXPECT_EQ(view.palette().color(QPalette::Text), colors.color(kRegularTextColor));
    colors.colors[kBackgroundColor] = 0x00102030u;
    colors.colors[kRegularTextColor] = 0x00C0B0A0u;
    model.SetColorSet(colors);
    EXPECT_EQ(view.palette().color(QPalette::Base), QColor(0x30, 0x20, 0x10));
    EXPECT_EQ(view.palette().color(QPalette::Text), QColor(0xA0, 0xB0, 0xC0));
}

TEST_F(ResultViewTest, SortColumnHeaderIsDrawnInButtonShadowWithHighlightText) {
    model.SetSortColumn(kSourceVersionColumn);
    QHeaderView* header = view.horizontalHeader();
    const QPalette palette = QApplication::palette();
    auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) <= 16 && std::abs(a.green() - b.green()) <= 16 &&
               std::abs(a.blue() - b.blue()) <= 16;
    };
    ASSERT_FALSE(near(palette.color(QPalette::Dark), palette.color(QPalette::Button)));
    ASSERT_FALSE(near(palette.color(QPalette::HighlightedText), palette.color(QPalette::Dark)));

    // Fusion, the style of these tests, and the plain Windows style both draw
    // the header colours the model gives.
    for (const QString& name : {QStringLiteral("Fusion"), QStringLiteral("Windows")}) {
        SCOPED_TRACE(name.toStdString());
        const std::unique_ptr<QStyle> style(QStyleFactory::create(name));
        ASSERT_NE(style, nullptr);
        header->setStyle(style.get());
        Settle();
        const QImage image = header->grab().toImage();
        // Above the caption, inside the section: the section's own fill.
        auto fill = [&](int column) {
            return image.pixelColor(header->sectionViewportPosition(column) + 4, 3);
        };
        // Somewhere in the caption, away from the section's edges, a pixel in
        // the given colour.
        auto captionHas = [&](int column, const QColor& color) {
            const int left = header->sectionViewportPosition(column);
            for (int y = 4; y < image.height() - 4; ++y) {
                for (int x = left + 4; x < left + header->sectionSize(column) - 4; ++x) {
                    if (near(image.pixelColor(x, y), color))
                        return true;
                }
            }
            return false;
        };
        EXPECT_PRED2(near, fill(kSourceVersionColumn), palette.color(QPalette::Dark));
        EXPECT_TRUE(captionHas(kSourceVersionColumn, palette.color(QPalette::HighlightedText)));
        EXPECT_FALSE(captionHas(kSourceVersionColumn, palette.color(QPalette::ButtonText)));
        EXPECT_PRED2(near, fill(kTargetVersionColumn), palette.color(QPalette::Button));
        EXPECT_TRUE(captionHas(kTargetVersionColumn, palette.color(QPalette::ButtonText)));
        header->setStyle(nullptr);
    }
}

// Home and End go to the first and the last row, with or without Ctrl; the
// current column stays where it was.
TEST_F(ResultViewTest, HomeAndEndMoveToTheFirstAndTheLastRow) {
    model.AppendRows(Rows(50));
    Settle();
    struct Case {
        int from;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int row;
    };
    for (const Case& c : {Case{20, Qt::Key_Home, {}, 0}, Case{20, Qt::Key_End, {}, 49},
                          Case{0, Qt::Key_End, {}, 49}, Case{49, Qt::Key_Home, {}, 0},
                          Case{0, Qt::Key_Home, {}, 0}, Case{49, Qt::Key_End, {}, 49},
                          Case{20, Qt::Key_Home, Qt::ControlModifier, 0},
                          Case{20, Qt::Key_End, Qt::ControlModifier, 49}}) {
        view.SelectRow(c.from);
        const int column = view.currentIndex().column();
        QTest::keyClick(&view, c.key, c.modifiers);
        EXPECT_EQ(view.CurrentRow(), c.row) << c.from << " " << c.key;
        EXPECT_EQ(view.currentIndex().column(), column);
        EXPECT_TRUE(view.selectionModel()->isRowSelected(c.row, {})) << c.from << " " << c.key;
        EXPECT_EQ(view.selectionModel()->selectedRows().size(), 1);
    }
}

// The placeholder row of an empty grid can be current but never shows as
// selected; the first result row does.
TEST_F(ResultViewTest, ThePlaceholderRowIsNeverShownSelected) {
    view.SelectRow(0);
    EXPECT_EQ(view.CurrentRow(), 0);
    EXPECT_FALSE(view.selectionModel()->isRowSelected(0, {}));
    EXPECT_TRUE(view.selectionModel()->selectedIndexes().isEmpty());
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_TRUE(view.selectionModel()->selectedIndexes().isEmpty());
    model.AppendRows(Rows(2));
    view.SelectRow(0);
    EXPECT_TRUE(view.selectionModel()->isRowSelected(0, {}));
    model.ClearResults();
    view.SelectRow(0);
    EXPECT_TRUE(view.selectionModel()->selectedIndexes().isEmpty());
}

// Fitting after a scan leaves the widths the user set by dragging; F6 and
// showing a column again make a width the program's once more.
TEST_F(ResultViewTest, FittingKeepsTheWidthsTheUserSet) {
    model.ClearResults();
    model.AppendRows(Rows(3, "A description much wider than the default width of its column"));
    Settle();
    EXPECT_EQ(view.UserSizedText(), "0000000000");
    QWidget* header = view.horizontalHeader()->viewport();
    // Drag the right edge of Description 20 pixels to the right.
    const int width = view.ColumnWidthPx(kDescriptionColumn);
    const QPoint edge = HeaderPoint(kDescriptionColumn, width - 1);
    QTest::mousePress(header, Qt::LeftButton, {}, edge);
    QTest::mouseMove(header, edge + QPoint(20, 0));
    QTest::mouseRelease(header, Qt::LeftButton, {}, edge + QPoint(20, 0));
    EXPECT_EQ(view.ColumnWidthPx(kDescriptionColumn), width + 20);
    EXPECT_TRUE(view.IsColumnUserSized(kDescriptionColumn));
    // Widths set by the program are not the user's.
    view.SetColumnWidthPx(kNameColumn, 50);
    EXPECT_FALSE(view.IsColumnUserSized(kNameColumn));
    view.SetColumnUserSized(kCopyrightColumn, true);
    view.SetColumnWidthPx(kCopyrightColumn, 70);
    EXPECT_EQ(view.UserSizedText(), "0000000011");

    view.FitUnsizedColumns();
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column) {
        const bool user = column == kDescriptionColumn || column == kCopyrightColumn;
        const int expected = column == kDescriptionColumn ? width + 20
                             : column == kCopyrightColumn ? 70
                                                          : view.FittedWidth(column);
        EXPECT_EQ(view.ColumnWidthPx(column), expected) << column;
        EXPECT_EQ(view.IsColumnUserSized(column), user) << column;
    }
    // A hidden column stays hidden.
    view.SetColumnVisible(kExtColumn, false);
    view.FitUnsizedColumns();
    EXPECT_EQ(view.ColumnWidthPx(kExtColumn), 0);

    view.SetColumnVisible(kCopyrightColumn, false);
    view.SetColumnVisible(kCopyrightColumn, true);
    EXPECT_FALSE(view.IsColumnUserSized(kCopyrightColumn));
    view.ResizeColumns();
    EXPECT_EQ(view.UserSizedText(), "0000000000");
    EXPECT_EQ(view.ColumnWidthPx(kDescriptionColumn), view.FittedWidth(kDescriptionColumn));
}

} // namespace
} // namespace sorvane::view
