#include "engine/scan/row_sort.h"
#include "qt_printers.h"
#include "view/result_model.h"

#include <array>
#include <gtest/gtest.h>
#include <limits>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QSignalSpy>

namespace sorvane::view {
namespace {

ComparisonRow Row(std::string name, ComparisonMark mark = ComparisonMark::Equal,
                  std::string description = {}) {
    ComparisonRow row;
    row.Name = std::move(name);
    row.Mark = mark;
    row.Description = std::move(description);
    return row;
}

QString Cell(const ResultModel& model, int row, int column) {
    return model.data(model.index(row, column), Qt::DisplayRole).toString();
}

std::vector<std::string> Names(const ResultModel& model) {
    std::vector<std::string> names;
    for (const ComparisonRow& row : model.Rows())
        names.push_back(row.Name);
    return names;
}

TEST(ResultModel, HoldsOneEmptyPlaceholderRowWhileThereAreNoResults) {
    ResultModel model;
    auto expectPlaceholder = [&] {
        EXPECT_EQ(model.rowCount(), 1);
        EXPECT_EQ(model.columnCount(), kGridColumnCount);
        EXPECT_TRUE(model.Rows().empty());
        EXPECT_EQ(model.RowAt(0), std::nullopt);
        EXPECT_FALSE(model.HasResults());
        for (int column = 0; column < kGridColumnCount; ++column) {
            EXPECT_TRUE(Cell(model, 0, column).isEmpty()) << column;
            EXPECT_FALSE(model.data(model.index(0, column), Qt::ForegroundRole).isValid());
        }
    };
    expectPlaceholder();

    model.AppendRows({Row("a.dll"), Row("b.dll")});
    ASSERT_TRUE(model.HasResults());
    model.ClearResults();
    expectPlaceholder();

    // Results are judged by the first row's name alone.
    model.AppendRows({Row("")});
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_NE(model.RowAt(0), std::nullopt);
    EXPECT_FALSE(model.HasResults());
}

TEST(ResultModel, FirstBatchTakesThePlaceOfThePlaceholderAndLaterBatchesAppend) {
    ResultModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    model.AppendRows({Row("one.dll")});
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_TRUE(inserted.isEmpty());
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 0);
    EXPECT_EQ(Cell(model, 0, kNameColumn), "one.dll");

    model.ClearResults();
    model.AppendRows({Row("a.dll"), Row("b.dll"), Row("c.dll")});
    EXPECT_EQ(model.rowCount(), 3);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    EXPECT_EQ(inserted[0][2].toInt(), 2);

    model.AppendRows({Row("d.dll"), Row("e.dll")});
    EXPECT_EQ(model.rowCount(), 5);
    ASSERT_EQ(inserted.size(), 2);
    EXPECT_EQ(inserted[1][1].toInt(), 3);
    EXPECT_EQ(inserted[1][2].toInt(), 4);
    EXPECT_EQ(Names(model),
              (std::vector<std::string>{"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"}));
    EXPECT_EQ(model.RowAt(4)->Name, "e.dll");
    EXPECT_EQ(model.RowAt(5), std::nullopt);
    EXPECT_EQ(model.RowAt(-1), std::nullopt);

    model.AppendRows({});
    EXPECT_EQ(model.rowCount(), 5);
}

TEST(ResultModel, ShowsEachFieldInItsColumnWithItsAlignment) {
    ComparisonRow row = Row("readme.dll", ComparisonMark::NewerSource, "Readme library");
    row.Ext = ".dll";
    row.SourceLanguage = "English (United States)";
    row.SourceVersion = "2.0";
    row.TargetVersion = "1.0";
    row.TargetLanguage = "German (Germany)";
    row.Busy = true;
    row.Copyright = "(c) Brannock Ltd";
    row.SourceSize = 4294967296;
    ResultModel model;
    model.AppendRows({row, Row("sub/readme.dll")});

    const QStringList expected = {".",
                                  "readme.dll",
                                  ".dll",
                                  "English (United States)",
                                  "2.0",
                                  ">",
                                  "1.0",
                                  "German (Germany)",
                                  "*",
                                  "Readme library",
                                  "(c) Brannock Ltd",
                                  "4294967296",
                                  ""};
    for (int column = 0; column < kGridColumnCount; ++column)
        EXPECT_EQ(Cell(model, 0, column), expected[column]) << column;
    // The root marker is there only for files directly in the source folder.
    EXPECT_EQ(Cell(model, 1, kRootColumn), "");

    for (int column = 0; column < kGridColumnCount; ++column) {
        const auto alignment = static_cast<Qt::Alignment>(
            model.data(model.index(0, column), Qt::TextAlignmentRole).toInt());
        const Qt::Alignment horizontal = column == kMarkColumn || column == kBusyColumn
                                             ? Qt::AlignHCenter
                                         : column == kSizeColumn ? Qt::AlignRight
                                                                 : Qt::AlignLeft;
        EXPECT_EQ(alignment, horizontal | Qt::AlignVCenter) << column;
    }
}

// Names and texts from files are shown with their hidden characters as
// escapes; the rows keep them as they are, and sort by them.
TEST(ResultModel, ShowsHiddenCharactersAsEscapesAndSortsByTheRealNames) {
    struct Case {
        std::string name;
        QString shown;
    };
    const std::vector<Case> cases{
        {"evil\u202Ellx.exe", "evil\\u202Ellx.exe"},
        {"iso\u2066late\u2069.dll", "iso\\u2066late\\u2069.dll"},
        {"line\nfeed\r.dll", "line\\x0afeed\\x0d.dll"},
        {"bad\xFF.dll", QString::fromUtf8("bad\uFFFD.dll")},
    };
    ResultModel model;
    std::vector<ComparisonRow> rows;
    for (const Case& c : cases)
        rows.push_back(Row(c.name, ComparisonMark::Equal, "desc\u202E" + c.name));
    model.AppendRows(rows);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].shown.toStdString());
        const int row = static_cast<int>(i);
        EXPECT_EQ(Cell(model, row, kNameColumn), cases[i].shown);
        EXPECT_EQ(Cell(model, row, kDescriptionColumn), "desc\\u202E" + cases[i].shown);
        EXPECT_EQ(model.Rows()[i].Name, cases[i].name);
    }
    // Fitted to the text shown, escapes and all.
    const QFontMetrics metrics{QFont()};
    EXPECT_GE(model.WidestText(kDescriptionColumn),
              metrics.horizontalAdvance("desc\\u202Eiso\\u2066late\\u2069.dll"));

    // By the real names: U+202E sorts after every ASCII letter, where the
    // "\" of its escape would come first.
    ResultModel sorted;
    sorted.AppendRows({Row("\u202Ez.dll"), Row("a.dll"), Row("\\b.dll")});
    sorted.Sort(kNameColumn, true, 0);
    EXPECT_EQ(Names(sorted), (std::vector<std::string>{"\\b.dll", "a.dll", "\u202Ez.dll"}));
    EXPECT_EQ(Cell(sorted, 2, kNameColumn), "\\u202Ez.dll");
}

TEST(ResultModel, HeaderShowsCentredCaptions) {
    ResultModel model;
    const QStringList captions = {"",
                                  "Name",
                                  "Ext",
                                  "Language",
                                  "Source Version",
                                  "=",
                                  "Target Version",
                                  "Language",
                                  "Busy",
                                  "Description",
                                  "Copyright",
                                  "",
                                  ""};
    for (int column = 0; column < kGridColumnCount; ++column) {
        EXPECT_EQ(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(),
                  captions[column]);
        EXPECT_EQ(ResultModel::Caption(column), captions[column]);
        EXPECT_EQ(model.headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                  static_cast<int>(Qt::AlignCenter));
    }
}

// On a light base the classic colours read well and are the defaults, but
// for the red, which is darkened just enough to read (see color_scheme_test).
TEST(ColorSet, DefaultsComeFromThePaletteAndFixedColorRefs) {
    QPalette palette;
    palette.setColor(QPalette::Base, QColor(0xF0, 0xF4, 0xF8));
    palette.setColor(QPalette::Text, QColor(0x30, 0x20, 0x10));
    const ColorSet set = ColorSet::Defaults(palette);

    EXPECT_EQ(set.colors[kBackgroundColor], 0xF8F4F0u);
    EXPECT_EQ(set.colors[kRegularTextColor], 0x102030u);
    EXPECT_EQ(set.colors[kNewerSourceColor], 16711680u);
    EXPECT_EQ(set.colors[kNewerTargetColor], 255u);
    EXPECT_EQ(set.colors[kUnequalLanguageColor], 8388736u);
    EXPECT_EQ(set.colors[kDifferentSizeColor], 8388736u);
    EXPECT_EQ(set.colors[kIncomparableColor], 8388736u);
    EXPECT_EQ(set.colors[kCopiedFileColor], 32768u);
    EXPECT_EQ(set.colors[kOrphansColor], 0x102030u); // as regular text
    EXPECT_EQ(set.color(kBackgroundColor), QColor(0xF0, 0xF4, 0xF8));
    EXPECT_EQ(set.color(kNewerSourceColor), QColor(0, 0, 255));
    EXPECT_EQ(set.color(kNewerTargetColor), QColor(255, 0, 0));
    EXPECT_EQ(set.color(kUnequalLanguageColor), QColor(128, 0, 128));
    EXPECT_EQ(set.color(kCopiedFileColor), QColor(0, 128, 0));

    EXPECT_EQ(FromColorRef(0x00563412u), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(ToColorRef(QColor(0x12, 0x34, 0x56)), 0x00563412u);
    for (const ColorRef value : {0u, 0x00FFFFFFu, 0x00010203u, 16711680u, 255u, 32768u})
        EXPECT_EQ(ToColorRef(FromColorRef(value)), value);

    const std::array<std::string, kColorCount> keys = {
        "Background",       "Regular Text",   "Newer Source", "Newer Target",
        "Unequal Language", "Different Size", "Incomparable", "Copied File",
        "Orphans"};
    for (int i = 0; i < kColorCount; ++i)
        EXPECT_EQ(kColorKeys[static_cast<std::size_t>(i)], keys[static_cast<std::size_t>(i)]);
}

TEST(ColorSet, OrphansFollowRegularTextUntilGivenAColourOfTheirOwn) {
    constexpr ColorRef kText = 0x111111, kNew = 0x222222, kOwn = 0x333333;
    struct Step {
        int index;
        ColorRef color;
        ColorRef regular, orphans; ///< after the step
    };
    const std::vector<std::vector<Step>> cases{
        {{kRegularTextColor, kNew, kNew, kNew}},
        {{kOrphansColor, kOwn, kText, kOwn}, {kRegularTextColor, kNew, kNew, kOwn}},
        {{kRegularTextColor, kNew, kNew, kNew}, {kRegularTextColor, kOwn, kOwn, kOwn}},
        {{kNewerSourceColor, kNew, kText, kText}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        ColorSet set;
        set.colors[kRegularTextColor] = set.colors[kOrphansColor] = kText;
        for (const Step& step : cases[c]) {
            set.Set(step.index, step.color);
            EXPECT_EQ(set.colors[static_cast<std::size_t>(step.index)], step.color) << c;
            EXPECT_EQ(set.colors[kRegularTextColor], step.regular) << c;
            EXPECT_EQ(set.colors[kOrphansColor], step.orphans) << c;
        }
    }
}

TEST(ResultModel, RowsShowTheColourOfTheirMarkAndNoneForTheEmptyMark) {
    const std::vector<std::pair<ComparisonMark, int>> marks = {
        {ComparisonMark::Equal, kRegularTextColor},
        {ComparisonMark::Orphan, kOrphansColor},
        {ComparisonMark::NewerSource, kNewerSourceColor},
        {ComparisonMark::NewerTarget, kNewerTargetColor},
        {ComparisonMark::UnequalLanguage, kUnequalLanguageColor},
        {ComparisonMark::DifferentSize, kDifferentSizeColor},
        {ComparisonMark::Incomparable, kIncomparableColor},
        {ComparisonMark::Copied, kCopiedFileColor},
    };
    // Distinct colours, so a row given the wrong category is caught.
    ColorSet colors;
    for (int i = 0; i < kColorCount; ++i)
        colors.colors[static_cast<std::size_t>(i)] = 0x000010u * static_cast<ColorRef>(i + 1);
    ResultModel model;
    model.SetColorSet(colors);
    std::vector<ComparisonRow> rows;
    for (const auto& [mark, index] : marks)
        rows.push_back(Row("f.dll", mark));
    rows.push_back(Row("g.dll", ComparisonMark::None));
    model.AppendRows(rows);

    for (std::size_t i = 0; i < marks.size(); ++i) {
        EXPECT_EQ(ColorIndexOfMark(marks[i].first), marks[i].second);
        for (const int column : {kNameColumn, kMarkColumn, kCopyrightColumn}) {
            const QVariant color =
                model.data(model.index(static_cast<int>(i), column), Qt::ForegroundRole);
            EXPECT_EQ(color.value<QColor>(), colors.color(marks[i].second)) << i;
        }
    }
    EXPECT_EQ(ColorIndexOfMark(ComparisonMark::None), -1);
    EXPECT_FALSE(
        model.data(model.index(static_cast<int>(marks.size()), kNameColumn), Qt::ForegroundRole)
            .isValid());
    // Cells never get a background of their own: the view's background shows.
    EXPECT_FALSE(model.data(model.index(0, kNameColumn), Qt::BackgroundRole).isValid());
}

TEST(ResultModel, ColourChangesRecolourOnlyTheMarkedCategoriesAndCopiesTakeTheCopiedColour) {
    ResultModel model;
    const ColorSet before = ColorSet::Defaults(QGuiApplication::palette());
    model.SetColorSet(before);
    model.AppendRows({Row("equal.dll", ComparisonMark::Equal),
                      Row("newer.dll", ComparisonMark::NewerSource),
                      Row("size.dll", ComparisonMark::DifferentSize),
                      Row("language.dll", ComparisonMark::UnequalLanguage),
                      Row("plain.dll", ComparisonMark::None)});
    auto colorOf = [&](int row) {
        return model.data(model.index(row, kNameColumn), Qt::ForegroundRole).value<QColor>();
    };

    // A copy marks the row "+" in the Copied File colour.
    model.UpdateTarget(1, ComparisonMark::Copied, "2.0", "German");
    EXPECT_EQ(model.RowAt(1)->Mark, ComparisonMark::Copied);
    EXPECT_EQ(model.RowAt(1)->TargetVersion, "2.0");
    EXPECT_EQ(model.RowAt(1)->TargetLanguage, "German");
    EXPECT_EQ(Cell(model, 1, kMarkColumn), "+");
    EXPECT_EQ(colorOf(1), before.color(kCopiedFileColor));
    model.UpdateTarget(7, ComparisonMark::Copied, "x", "y"); // out of range: ignored

    QSignalSpy colorsChanged(&model, &ResultModel::ColorsChanged);
    ColorSet after = before;
    after.colors[kRegularTextColor] = 0x0000AA00u;
    after.colors[kCopiedFileColor] = 0x00AA0000u;
    after.colors[kDifferentSizeColor] = 0x00123456u;
    model.SetColorSet(after);
    EXPECT_EQ(colorsChanged.size(), 1);
    EXPECT_EQ(model.Colors().colors, after.colors);
    // Only the rows of the changed mark colour follow; the same old purple of
    // the "!" row and the colours of "=" and "+" rows stay until the next scan.
    EXPECT_EQ(colorOf(0), before.color(kRegularTextColor));
    EXPECT_EQ(colorOf(1), before.color(kCopiedFileColor));
    EXPECT_EQ(colorOf(2), FromColorRef(0x00123456u));
    EXPECT_EQ(colorOf(3), before.color(kUnequalLanguageColor));
    EXPECT_FALSE(model.data(model.index(4, kNameColumn), Qt::ForegroundRole).isValid());

    // Rows added from now on take the new colours.
    model.AppendRows({Row("later.dll", ComparisonMark::Equal)});
    EXPECT_EQ(colorOf(5), after.color(kRegularTextColor));
    model.UpdateTarget(0, ComparisonMark::Copied, "1.0", "");
    EXPECT_EQ(colorOf(0), after.color(kCopiedFileColor));
}

TEST(ResultModel, SortFindsTheCurrentFileAgainByNameIgnoringCase) {
    const std::vector<ComparisonRow> rows = {
        Row("b.dll", ComparisonMark::NewerSource), Row("sub/c.dll"), Row("A.dll"),
        Row("a.DLL", ComparisonMark::Equal),       Row("Sub/a.dll"),
    };
    ResultModel model;
    model.AppendRows(rows);

    std::vector<ComparisonRow> expected = rows;
    SortRows(expected, kNameColumn, true);
    EXPECT_EQ(model.Sort(kNameColumn, true, 0), 4); // b.dll: after both folders and a.dll twice
    std::vector<std::string> expectedNames;
    for (const ComparisonRow& row : expected)
        expectedNames.push_back(row.Name);
    EXPECT_EQ(Names(model), expectedNames);
    EXPECT_EQ(Names(model),
              (std::vector<std::string>{"Sub/a.dll", "sub/c.dll", "A.dll", "a.DLL", "b.dll"}));
    // Colours travel with their rows.
    EXPECT_EQ(model.data(model.index(4, kNameColumn), Qt::ForegroundRole).value<QColor>(),
              model.Colors().color(kNewerSourceColor));

    // "a.DLL" is found as the first row whose name matches without regard to
    // case, which is "A.dll" after a descending sort.
    EXPECT_EQ(model.Sort(kNameColumn, false, 3), 1);
    EXPECT_EQ(Names(model),
              (std::vector<std::string>{"b.dll", "A.dll", "a.DLL", "sub/c.dll", "Sub/a.dll"}));

    // No current row, or the key "none": row 0, and nothing moves.
    EXPECT_EQ(model.Sort(kMarkColumn, true, -1), 0);
    EXPECT_EQ(model.Sort(kMarkColumn, true, 99), 0);
    const std::vector<std::string> before = Names(model);
    EXPECT_EQ(model.Sort(kNoSortKey, true, 2), 2);
    EXPECT_EQ(model.Sort(kNoSortKey, true, 99), 0);
    EXPECT_EQ(Names(model), before);

    ResultModel empty;
    EXPECT_EQ(empty.Sort(kNameColumn, true, 0), 0);
    EXPECT_EQ(empty.rowCount(), 1);
}

TEST(ResultModel, SortGivesTheEngineOrderAndColoursTravelWithTheirRows) {
    const std::array<ComparisonMark, 4> marks = {ComparisonMark::Equal, ComparisonMark::NewerSource,
                                                 ComparisonMark::NewerTarget, ComparisonMark::None};
    std::vector<ComparisonRow> rows;
    for (int i = 0; i < 500; ++i) {
        ComparisonRow row = Row((i % 3 == 0 ? "" : "sub/") + std::to_string((i * 7919) % 211) +
                                    (i % 2 == 0 ? ".DLL" : ".dll"),
                                marks[static_cast<std::size_t>(i % 4)]);
        row.SourceVersion = std::to_string(i % 13) + ".0";
        row.Description = i % 5 == 0 ? "Library" : "library";
        row.SourceSize = (i * 31) % 97;
        rows.push_back(row);
    }
    ResultModel model;
    model.AppendRows(rows);
    for (int key = kNameColumn; key <= kSizeColumn; ++key) {
        const bool ascending = key % 2 == 0;
        SCOPED_TRACE(key);
        // Rows equal in every compared column keep the order the last sort
        // left them in.
        std::vector<ComparisonRow> expected = model.Rows().ToVector();
        SortRows(expected, key, ascending);
        model.Sort(key, ascending, 0);
        ASSERT_EQ(model.Rows().size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            for (int column = kRootColumn; column < kFillerColumn; ++column) {
                ASSERT_EQ(ColumnText(model.Rows()[i], column), ColumnText(expected[i], column));
            }
            const int color = ColorIndexOfMark(expected[i].Mark);
            const QVariant shown =
                model.data(model.index(static_cast<int>(i), kNameColumn), Qt::ForegroundRole);
            if (color < 0) {
                ASSERT_FALSE(shown.isValid());
            } else {
                ASSERT_EQ(shown.value<QColor>(), model.Colors().color(color));
            }
        }
    }
}

// The rows stay where they are held; only the order they are shown in
// changes. Everything that reads a row by its place reads the shown one.
TEST(ResultModel, ReadsAndUpdatesRowsByTheirPlaceInTheOrderShown) {
    ResultModel model;
    ComparisonRow c = Row("c.dll", ComparisonMark::NewerSource);
    c.SourceVersion = "3.0";
    c.SourceSize = 300;
    model.AppendRows({c, Row("a.dll", ComparisonMark::Orphan), Row("b.dll")});
    model.Sort(kNameColumn, true, 0);
    model.AppendRows({Row("0.dll")}); // after a sort, new rows come last

    const std::vector<std::string> shown = {"a.dll", "b.dll", "c.dll", "0.dll"};
    EXPECT_EQ(Names(model), shown);
    const RowRange rows = model.Rows();
    ASSERT_EQ(rows.size(), shown.size());
    std::string scratch;
    for (int row = 0; row < 4; ++row) {
        const auto at = static_cast<std::size_t>(row);
        EXPECT_TRUE(model.HoldsRow(row));
        EXPECT_EQ(model.NameAt(row), shown[at]);
        EXPECT_EQ(model.RowAt(row)->Name, shown[at]);
        EXPECT_EQ(rows[at].Name, shown[at]);
        EXPECT_EQ(model.MarkAt(row), rows[at].Mark);
        for (int column = kRootColumn; column < kGridColumnCount; ++column)
            EXPECT_EQ(model.CellText(row, column, scratch), ColumnText(rows[at], column))
                << row << " " << column;
    }
    EXPECT_EQ(model.CellText(2, kSizeColumn, scratch), "300");
    EXPECT_EQ(model.CellText(2, kSourceVersionColumn, scratch), "3.0");
    for (const int outside : {-1, 4}) {
        EXPECT_FALSE(model.HoldsRow(outside));
        EXPECT_EQ(model.NameAt(outside), "");
        EXPECT_EQ(model.MarkAt(outside), ComparisonMark::None);
        EXPECT_EQ(model.CellText(outside, kNameColumn, scratch), "");
    }

    // A copy of the row shown third changes that row, c.dll, and only it.
    model.UpdateTarget(2, ComparisonMark::Copied, "3.0", "German");
    EXPECT_EQ(model.RowAt(2)->Name, "c.dll");
    EXPECT_EQ(model.RowAt(2)->Mark, ComparisonMark::Copied);
    EXPECT_EQ(Cell(model, 2, kTargetLanguageColumn), "German");
    EXPECT_EQ(model.data(model.index(2, kNameColumn), Qt::ForegroundRole).value<QColor>(),
              model.Colors().color(kCopiedFileColor));
    EXPECT_EQ(model.RowAt(0)->Mark, ComparisonMark::Orphan);
    EXPECT_EQ(Cell(model, 1, kTargetLanguageColumn), "");

    // Sorts after new rows and new texts take them into account.
    model.UpdateTarget(0, ComparisonMark::Copied, "0.5", "");
    for (const int key : {kTargetVersionColumn, kNameColumn, kTargetLanguageColumn}) {
        std::vector<ComparisonRow> expected = model.Rows().ToVector();
        SortRows(expected, key, false);
        model.Sort(key, false, 0);
        std::vector<std::string> expectedNames;
        for (const ComparisonRow& row : expected)
            expectedNames.push_back(row.Name);
        EXPECT_EQ(Names(model), expectedNames) << key;
    }
    EXPECT_EQ(Names(model), (std::vector<std::string>{"c.dll", "b.dll", "a.dll", "0.dll"}));

    ResultModel empty;
    EXPECT_TRUE(empty.Rows().empty());
    EXPECT_FALSE(empty.HoldsRow(0)); // the placeholder holds no row
}

// Each colour a row shows is kept once; a long life of colour changes and
// copies, each leaving rows in a colour of their own, keeps every row in
// the colour it was given.
TEST(ResultModel, RowsKeepTheirColoursThroughManyColourChangesAndCopies) {
    ResultModel model;
    std::vector<ComparisonRow> rows;
    for (int i = 0; i < 40; ++i)
        rows.push_back(Row(std::string("f").append(std::to_string(i)).append(".dll"),
                           i % 2 == 0 ? ComparisonMark::Equal : ComparisonMark::NewerSource));
    model.AppendRows(rows);
    std::vector<ColorRef> expected(rows.size(), model.Colors().colors[kRegularTextColor]);
    for (std::size_t i = 1; i < rows.size(); i += 2)
        expected[i] = model.Colors().colors[kNewerSourceColor];
    ColorSet colors = model.Colors();
    // More colours than a row's place in the palette can name.
    for (int change = 1; change <= 70000; ++change) {
        colors.colors[kCopiedFileColor] = static_cast<ColorRef>(change);
        colors.colors[kNewerSourceColor] = static_cast<ColorRef>(0x100000 + change);
        model.SetColorSet(colors);
        for (std::size_t i = 1; i < rows.size(); i += 2)
            if (model.MarkAt(static_cast<int>(i)) == ComparisonMark::NewerSource)
                expected[i] = colors.colors[kNewerSourceColor];
        // A copy now and then keeps this copied colour on its row.
        if (change % 1750 == 0) {
            const auto row = static_cast<std::size_t>(change / 1750 - 1);
            model.UpdateTarget(static_cast<int>(row), ComparisonMark::Copied, "1", "");
            expected[row] = colors.colors[kCopiedFileColor];
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(model.data(model.index(static_cast<int>(i), kNameColumn), Qt::ForegroundRole)
                      .value<QColor>(),
                  FromColorRef(expected[i]))
            << i;
    }
}

TEST(ResultModel, SortMovesPersistentIndexesWithTheirRows) {
    ResultModel model;
    model.AppendRows({Row("c.dll"), Row("a.dll"), Row("b.dll")});
    const QPersistentModelIndex c(model.index(0, kExtColumn));
    const QPersistentModelIndex a(model.index(1, kNameColumn));
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    model.Sort(kNameColumn, true, 0);
    EXPECT_EQ(layout.size(), 1);
    EXPECT_EQ(a.row(), 0);
    EXPECT_EQ(a.column(), kNameColumn);
    EXPECT_EQ(c.row(), 2);
    EXPECT_EQ(c.column(), kExtColumn);
}

TEST(ResultModel, SortColumnHeaderTakesTheButtonShadowAndHighlightTextColours) {
    ResultModel model;
    QSignalSpy changed(&model, &QAbstractItemModel::headerDataChanged);
    const QPalette palette = QGuiApplication::palette();
    auto background = [&](int column) {
        return model.headerData(column, Qt::Horizontal, Qt::BackgroundRole);
    };
    auto foreground = [&](int column) {
        return model.headerData(column, Qt::Horizontal, Qt::ForegroundRole);
    };

    for (int column = 0; column < kGridColumnCount; ++column) {
        EXPECT_FALSE(background(column).isValid());
        EXPECT_FALSE(foreground(column).isValid());
    }
    model.SetSortColumn(kSourceVersionColumn);
    EXPECT_EQ(model.SortColumn(), kSourceVersionColumn);
    EXPECT_EQ(background(kSourceVersionColumn).value<QBrush>().color(),
              palette.color(QPalette::Dark));
    EXPECT_EQ(foreground(kSourceVersionColumn).value<QBrush>().color(),
              palette.color(QPalette::HighlightedText));
    for (int column = 0; column < kGridColumnCount; ++column) {
        if (column != kSourceVersionColumn) {
            EXPECT_FALSE(background(column).isValid()) << column;
        }
    }
    ASSERT_FALSE(changed.isEmpty());

    model.SetSortColumn(kCopyrightColumn);
    EXPECT_FALSE(background(kSourceVersionColumn).isValid());
    EXPECT_TRUE(background(kCopyrightColumn).isValid());
    model.SetSortColumn(kNoSortKey);
    EXPECT_EQ(model.SortColumn(), kNoSortKey);
    for (int column = 0; column < kGridColumnCount; ++column)
        EXPECT_FALSE(background(column).isValid());
}

TEST(ResultModel, ReservedRowsStayWhereTheyAreWhileMoreArrive) {
    ResultModel model;
    model.ClearResults();
    model.ReserveRows(100);
    model.AppendRows({Row("a.dll")});
    const void* first = model.Store().Storage();
    for (int i = 0; i < 99; ++i)
        model.AppendRows({Row(std::string("b").append(std::to_string(i)).append(".dll"))});
    EXPECT_EQ(model.Store().Storage(), first);
    EXPECT_EQ(model.rowCount(), 100);
    EXPECT_EQ(model.RowAt(0)->Name, "a.dll");
    EXPECT_EQ(model.RowAt(99)->Name, "b98.dll");
    // Less room than the rows held, or none at all, changes nothing; so does
    // more than the address space holds.
    for (const std::int64_t count : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{50},
                                     std::numeric_limits<std::int64_t>::max()}) {
        model.ReserveRows(count);
        EXPECT_EQ(model.Store().Storage(), first) << count;
        EXPECT_EQ(model.rowCount(), 100) << count;
    }
}

TEST(ResultModel, WidestTextGrowsWithWiderTextsAndStartsFromTheCaptions) {
    ResultModel model;
    QFont font = QGuiApplication::font();
    font.setPointSize(10);
    model.SetMeasuringFont(font);
    const QFontMetrics metrics(font);
    auto width = [&](const char* text) { return metrics.horizontalAdvance(QString(text)); };

    for (int column = 0; column < kGridColumnCount; ++column)
        EXPECT_EQ(model.WidestText(column), 0);
    model.ClearResults();
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column)
        EXPECT_EQ(model.WidestText(column),
                  metrics.horizontalAdvance(ResultModel::Caption(column)));

    model.AppendRows({Row("a.dll", ComparisonMark::Equal, "A much longer description")});
    EXPECT_EQ(model.WidestText(kDescriptionColumn), width("A much longer description"));
    EXPECT_EQ(model.WidestText(kNameColumn), std::max(width("Name"), width("a.dll")));
    model.AppendRows(
        {Row("folder/deeper/a file with a long name.dll", ComparisonMark::Equal, "Short"),
         Row("b.dll", ComparisonMark::Equal, "A much longer description")});
    EXPECT_EQ(model.WidestText(kNameColumn), width("folder/deeper/a file with a long name.dll"));
    EXPECT_EQ(model.WidestText(kDescriptionColumn), width("A much longer description"));
    model.AppendRows({Row("c.dll", ComparisonMark::Equal, "An even longer description than that")});
    EXPECT_EQ(model.WidestText(kDescriptionColumn), width("An even longer description than that"));

    // A larger measuring font measures the texts that come after it.
    QFont larger = font;
    larger.setPointSize(20);
    model.SetMeasuringFont(larger);
    ASSERT_GT(QFontMetrics(larger).horizontalAdvance("A much longer description"),
              width("An even longer description than that"));
    model.AppendRows({Row("d.dll", ComparisonMark::Equal, "A much longer description")});
    EXPECT_EQ(model.WidestText(kDescriptionColumn),
              QFontMetrics(larger).horizontalAdvance("A much longer description"));

    model.SetMeasuringFont(font);
    model.ClearResults();
    EXPECT_EQ(model.WidestText(kNameColumn), width("Name"));
    EXPECT_EQ(model.WidestText(kDescriptionColumn), width("Description"));
    EXPECT_EQ(model.WidestText(kFillerColumn), 0);
}

// Source and target share their texts where they are held, but each column
// is as wide as the texts it shows itself.
TEST(ResultModel, WidestTextOfAColumnCountsOnlyTheTextsThatColumnShows) {
    ResultModel model;
    const QFont font = QGuiApplication::font();
    model.SetMeasuringFont(font);
    model.ClearResults();
    const QFontMetrics metrics(font);
    ComparisonRow row = Row("a.dll");
    row.SourceVersion = "1.0";
    row.TargetVersion = "1.0.0.0 (a much longer target version)";
    row.SourceLanguage = "a much longer source language than the target's";
    row.TargetLanguage = "German";
    model.AppendRows({row});
    ComparisonRow second = Row("b.dll");
    second.SourceVersion = row.TargetVersion; // seen before, in the other column
    model.AppendRows({second});

    EXPECT_EQ(model.WidestText(kTargetVersionColumn),
              metrics.horizontalAdvance(QString::fromStdString(row.TargetVersion)));
    EXPECT_EQ(model.WidestText(kSourceVersionColumn),
              metrics.horizontalAdvance(QString::fromStdString(row.TargetVersion)));
    EXPECT_EQ(model.WidestText(kTargetLanguageColumn),
              std::max(metrics.horizontalAdvance("German"), metrics.horizontalAdvance("Language")));
    EXPECT_EQ(model.WidestText(kSourceLanguageColumn),
              metrics.horizontalAdvance(QString::fromStdString(row.SourceLanguage)));
    model.ClearResults();
    row.TargetVersion = "1.0";
    model.AppendRows({row});
    EXPECT_EQ(model.WidestText(kSourceVersionColumn),
              metrics.horizontalAdvance(ResultModel::Caption(kSourceVersionColumn)));
    EXPECT_EQ(model.WidestText(kTargetVersionColumn),
              metrics.horizontalAdvance(ResultModel::Caption(kTargetVersionColumn)));
}

TEST(ResultModel, WidestTextIsExactlyTheWidestOfAllTextsWhateverTheirCharacters) {
    // Random texts of Latin-1 letters, digits and punctuation, in which most
    // are skipped as clearly narrower, and a few in other scripts or with
    // control characters, which are always laid out.
    std::vector<std::string> texts = {"\xCE\xA3\xCF\x86\xCE\xB1\xCE\xBB\xCE\xBC\xCE\xB1",
                                      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "tab\tand\nnew line",
                                      "soft\xC2\xADhyphen"};
    std::uint32_t state = 7;
    for (int i = 0; i < 400; ++i) {
        std::string text;
        state = state * 1103515245u + 12345u;
        const int length = 1 + static_cast<int>((state >> 16) % 40);
        for (int k = 0; k < length; ++k) {
            state = state * 1103515245u + 12345u;
            const auto c = static_cast<char32_t>(0x20 + (state >> 16) % 0xE0);
            if (c >= 0x7F && c < 0xA0)
                continue;
            if (c < 0x80) {
                text.push_back(static_cast<char>(c));
            } else {
                text.push_back(static_cast<char>(0xC0 | (c >> 6)));
                text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
        texts.push_back(text);
    }
    for (const char* family : {"DejaVu Sans", "DejaVu Serif"}) {
        for (const int points : {8, 10, 14}) {
            const QFont font(family, points);
            SCOPED_TRACE(testing::Message() << family << " " << points);
            ResultModel model;
            model.SetMeasuringFont(font);
            model.ClearResults();
            int widest =
                QFontMetrics(font).horizontalAdvance(ResultModel::Caption(kCopyrightColumn));
            for (const std::string& text : texts) {
                ComparisonRow row = Row("a.dll");
                row.Copyright = text;
                model.AppendRows({row});
                // As shown: the control characters as escapes.
                widest = std::max(widest, QFontMetrics(font).horizontalAdvance(ShownText(text)));
                ASSERT_EQ(model.WidestText(kCopyrightColumn), widest) << text;
            }
        }
    }
}

TEST(ResultModel, WidestTextIsExactForTextsThatDifferOnlyInDigitsOrKernedNeighbours) {
    // Numbered names and versions share a measurement when the font draws
    // their characters alike; next to letters that kern ("T", "V", "Y", "f")
    // or after punctuation they may not, and the widest must still be exact.
    // First texts of one length from ever wider letters: none may take the
    // width of one before it.
    std::vector<std::string> texts;
    for (const char c : std::string("ilIjtfrsczaenouhdbpgvxykFTLESPZRCBDAKGXYVUNHOQMmwW"))
        texts.push_back("x" + std::string(6, c) + ".dll");
    for (const char* pattern : {"file#.dll", "T#.#", "V#Y#", "#.#.#.#", "f#/#", "Ta#", "AV#W#"}) {
        for (int n = 0; n < 60; ++n) {
            std::string text;
            int digits = n * 7919 + 13;
            for (const char* c = pattern; *c != 0; ++c) {
                if (*c != '#') {
                    text.push_back(*c);
                    continue;
                }
                for (int k = 0; k <= n % 4; ++k, digits /= 10)
                    text.push_back(static_cast<char>('0' + digits % 10));
            }
            texts.push_back(text);
        }
    }
    for (const char* family : {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono"}) {
        for (const int points : {8, 11}) {
            const QFont font(family, points);
            SCOPED_TRACE(testing::Message() << family << " " << points);
            ResultModel model;
            model.SetMeasuringFont(font);
            model.ClearResults();
            int widest = QFontMetrics(font).horizontalAdvance(ResultModel::Caption(kNameColumn));
            for (const std::string& text : texts) {
                model.AppendRows({Row(text)});
                // As shown: the control characters as escapes.
                widest = std::max(widest, QFontMetrics(font).horizontalAdvance(ShownText(text)));
                ASSERT_EQ(model.WidestText(kNameColumn), widest) << text;
            }
        }
    }
}

} // namespace
} // namespace sorvane::view
