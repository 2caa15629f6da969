#include "view/grid_find.h"

#include "view/result_model.h"

#include <gtest/gtest.h>

namespace sorvane::view {
namespace {

ComparisonRow MakeRow(std::string name) {
    ComparisonRow row;
    row.Name = std::move(name);
    row.SourceVersion = std::string("9");
    return row;
}

TEST(GridFind, WholeWordsAreBoundedByDelimitersOrTheCellsEnds) {
    struct Case {
        const char* cell;
        const char* text;
        bool matchCase;
        bool found;
    };
    const std::vector<Case> cases{
        {"lib\\kernel32.dll", "kernel32", false, true},   // "\" before, "." after
        {"lib/kernel32.dll", "kernel32", false, true},    // "/" between folders
        {"kernel32x.dll", "kernel32", false, false},
        {"1.0 beta", "1.0", false, true},                 // start of the cell, blank after
        {"1.0", "1.0", false, true},                      // the whole cell
        {"beta 1.0", "1.0", false, true},                 // end of the cell
        {"11.0", "1.0", false, false},
        {"KERNEL32.DLL", "kernel32", false, true},
        {"KERNEL32.DLL", "kernel32", true, false},
        {"say \"hi\" now", "\"hi\"", false, true},        // the text brings its delimiters
        {"", "zz", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.cell << " / " << c.text);
        FindOptions options;
        options.wholeWord = true;
        options.matchCase = c.matchCase;
        ResultModel model;
        model.AppendRows({MakeRow(c.cell)});
        EXPECT_EQ(FindInGrid(model, -1, QString::fromUtf8(c.text), options) == 0, c.found);
        // The same answer, pair of delimiters by pair.
        bool anyPair = false;
        for (const char left : kWordDelimiters)
            for (const char right : kWordDelimiters)
                anyPair = anyPair || WholeWordMatch(QString::fromUtf8(c.cell),
                                                    QString::fromUtf8(c.text), QLatin1Char(left),
                                                    QLatin1Char(right),
                                                    c.matchCase ? Qt::CaseSensitive
                                                                : Qt::CaseInsensitive);
        EXPECT_EQ(anyPair, c.found);
    }
}

TEST(GridFind, SearchesEveryDataColumnFromTheNextRowWithoutWrapping) {
    ResultModel model;
    std::vector<ComparisonRow> rows(4);
    for (int i = 0; i < 4; ++i) {
        rows[static_cast<std::size_t>(i)].Name = "file" + std::to_string(i) + ".dll";
        rows[static_cast<std::size_t>(i)].SourceVersion = "1.0";
        rows[static_cast<std::size_t>(i)].SourceSize = 1000 + i;
    }
    rows[1].Description = "Needle in a description";
    model.AppendRows(rows);
    struct Case {
        int current;
        const char* text;
        bool upwards;
        bool matchCase;
        int found;
    };
    const std::vector<Case> cases{
        {-1, "needle", false, false, 1},
        {1, "needle", false, false, -1}, // the current row is not searched again
        {3, "needle", true, false, 1},
        {-1, "NEEDLE", false, true, -1},
        {-1, "1002", false, false, 2}, // the hidden size column
        {3, "file0", false, false, -1}, // last row current: no wrap-around
        {0, "file0", true, false, -1},
        {-1, "", false, false, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.text << " from " << c.current);
        FindOptions options;
        options.upwards = c.upwards;
        options.matchCase = c.matchCase;
        EXPECT_EQ(FindInGrid(model, c.current, QString::fromUtf8(c.text), options), c.found);
    }
}

// A name with hidden characters is found by its real text, as pasted from
// elsewhere, and by the escapes the grid shows for them.
TEST(GridFind, FindsHiddenCharactersByTheRealTextAndByTheEscapesShown) {
    ResultModel model;
    model.AppendRows({MakeRow("plain.dll"), MakeRow("evil\u202Ellx.exe"),
                      MakeRow("two\nlines.dll"), MakeRow("back\\u202E.dll")});
    struct Case {
        QString text;
        bool wholeWord;
        int found;
    };
    const std::vector<Case> cases{
        {QString::fromUtf8("evil\u202Ellx"), false, 1},
        {"evil\\u202Ellx", false, 1},
        {"\\U202e", false, 1}, // the escape without regard to case
        {"llx.exe", false, 1},
        {"evilexe", false, -1}, // what the mark would have drawn is not there
        {"two\nlines", false, 2},
        {"two\\x0alines", false, 2},
        {"lines", true, -1}, // "x0alines" is no word of its own, nor is "\nlines"
        {"back\\u202E", false, 3}, // a real backslash
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        FindOptions options;
        options.wholeWord = c.wholeWord;
        EXPECT_EQ(FindInGrid(model, -1, c.text, options), c.found);
    }
}

} // namespace
} // namespace sorvane::view
