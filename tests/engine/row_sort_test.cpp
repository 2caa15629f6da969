#include "engine/row_sort.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

ComparisonRow Row(std::string name, std::string version = "1.0", ComparisonMark mark =
                                                                     ComparisonMark::Equal) {
    ComparisonRow r;
    r.Name = std::move(name);
    r.SourceVersion = std::move(version);
    r.Mark = mark;
    return r;
}

std::vector<std::string> Names(const std::vector<ComparisonRow>& rows) {
    std::vector<std::string> names;
    for (const auto& r : rows)
        names.push_back(r.Name);
    return names;
}

TEST(ColumnText, GivesEachColumnAsTheGridShowsIt) {
    ComparisonRow r = Row("bin/a.dll", "5.00", ComparisonMark::NewerSource);
    r.Ext = ".dll";
    r.Busy = true;
    r.SourceSize = 4294967296;
    EXPECT_EQ(ColumnText(r, kRootColumn), "");
    EXPECT_EQ(ColumnText(Row("a.dll"), kRootColumn), ".");
    EXPECT_EQ(ColumnText(r, kMarkColumn), ">");
    EXPECT_EQ(ColumnText(r, kBusyColumn), "*");
    EXPECT_EQ(ColumnText(r, kSizeColumn), "4294967296");
    EXPECT_EQ(ColumnText(r, kFillerColumn), "");
    EXPECT_EQ(ColumnText(r, 99), "");
}

TEST(SortRows, ByNamePutsSubFolderFilesFirstWhenAscending) {
    std::vector<ComparisonRow> rows{Row("a.dll"), Row("sub/a.dll"), Row("B.dll"), Row("Sub/0.dll")};
    SortRows(rows, kNameColumn, true);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"Sub/0.dll", "sub/a.dll", "a.dll", "B.dll"}));
    SortRows(rows, kNameColumn, false);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"B.dll", "a.dll", "sub/a.dll", "Sub/0.dll"}));
}

TEST(SortRows, ComparesVersionsAndSizesAsText) {
    std::vector<ComparisonRow> rows{Row("x", "9.0.0.0"), Row("y", "10.0.0.0")};
    SortRows(rows, kSourceVersionColumn, true);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"y", "x"}));

    std::vector<ComparisonRow> sized{Row("p"), Row("q")};
    sized[0].SourceSize = 9;
    sized[1].SourceSize = 10;
    SortRows(sized, kSizeColumn, true);
    EXPECT_EQ(Names(sized), (std::vector<std::string>{"q", "p"}));
}

TEST(SortRows, TiesAreBrokenByColumnsToTheRightOnly) {
    // Equal source versions: the mark decides next, then the target version.
    std::vector<ComparisonRow> rows{Row("a", "1.0", ComparisonMark::NewerSource),
                                    Row("b", "1.0", ComparisonMark::NewerTarget),
                                    Row("c", "1.0", ComparisonMark::NewerSource)};
    rows[0].TargetVersion = "0.9";
    rows[2].TargetVersion = "0.5";
    SortRows(rows, kSourceVersionColumn, true);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"b", "c", "a"}));
    // Names (to the left of the key) never break ties: equal rows keep their order.
    std::vector<ComparisonRow> same{Row("z"), Row("m"), Row("q")};
    SortRows(same, kSourceVersionColumn, true);
    EXPECT_EQ(Names(same), (std::vector<std::string>{"z", "m", "q"}));
    SortRows(same, kSourceVersionColumn, false);
    EXPECT_EQ(Names(same), (std::vector<std::string>{"z", "m", "q"}));
}

TEST(SortRows, IgnoresCaseOfAllLettersAndLeavesRowsWithoutKey) {
    std::vector<ComparisonRow> rows{Row("x"), Row("y"), Row("z")};
    rows[0].Description = "Élan";
    rows[1].Description = "élan";
    rows[2].Description = "abc";
    SortRows(rows, kDescriptionColumn, true);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"z", "x", "y"}));
    SortRows(rows, kNoSortKey, false);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"z", "x", "y"}));
    SortRows(rows, 12, true);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"z", "x", "y"}));
}

} // namespace
} // namespace sorvane
