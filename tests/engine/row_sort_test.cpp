#include "engine/scan/row_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

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

// The same names in byte order would be "B2.dll", "Z.dll", "a.dll", ...;
// both ways of sorting the grid put letters without regard to case.
TEST(SortRows, OrdersNamesWithoutCaseNotByTheirBytes) {
    const std::vector<std::string> names = {"b.dll", "B2.dll", "a.dll",
                                            "Z.dll", "f.dll",  "\xC3\xA9.dll"};
    const std::vector<std::string> ascending = {"a.dll", "b.dll", "B2.dll",
                                                "f.dll", "Z.dll", "\xC3\xA9.dll"};
    std::vector<ComparisonRow> rows;
    for (const auto& name : names)
        rows.push_back(Row(name));
    for (const bool up : {true, false}) {
        SCOPED_TRACE(up ? "ascending" : "descending");
        std::vector<std::string> expected = ascending;
        if (!up)
            std::ranges::reverse(expected);
        std::vector<ComparisonRow> sorted = rows;
        SortRows(sorted, kNameColumn, up);
        EXPECT_EQ(Names(sorted), expected);
        std::vector<std::string> ordered;
        for (const std::uint32_t at : SortedRowOrder(rows, kNameColumn, up))
            ordered.push_back(rows[at].Name);
        EXPECT_EQ(ordered, expected);
    }
}

TEST(SortRows, GivesTheOrderOfAStableSortByTheRowComparisonForEveryKey) {
    // Few distinct values per column, so rows tie on several columns in a
    // row and the later columns have to break the ties.
    std::vector<ComparisonRow> rows;
    std::uint32_t state = 11;
    auto pick = [&](std::uint32_t n) {
        state = state * 1103515245u + 12345u;
        return (state >> 16) % n;
    };
    const char* const texts[] = {"", "a", "A", "b", "\xC3\xA9", "\xC3\x89", "10", "9"};
    const ComparisonMark marks[] = {ComparisonMark::Equal, ComparisonMark::NewerSource,
                                    ComparisonMark::Orphan};
    for (int i = 0; i < 600; ++i) {
        ComparisonRow r = Row((pick(2) != 0u ? "sub/" : "") + std::string(texts[pick(4)]),
                              texts[pick(8)], marks[pick(3)]);
        r.Ext = texts[pick(3)];
        r.SourceLanguage = texts[pick(2)];
        r.TargetVersion = texts[pick(8)];
        r.TargetLanguage = texts[pick(2)];
        r.Busy = pick(2) != 0u;
        r.Description = texts[pick(8)];
        r.Copyright = texts[pick(2)];
        r.SourceSize = pick(3);
        rows.push_back(r);
    }
    // Then thousands of different names, target versions and sizes among
    // the same few texts in every other column.
    for (std::uint32_t i = 0; i < 5000; ++i) {
        ComparisonRow r = rows[pick(600)];
        r.Name = (pick(2) != 0u ? "sub/f" : "F") + std::to_string(pick(100000));
        r.TargetVersion = std::to_string(pick(100)) + "." + std::to_string(pick(100));
        r.SourceSize = pick(1000000);
        rows.push_back(r);
    }
    for (int key = kNameColumn; key <= kSizeColumn; ++key) {
        for (const bool ascending : {true, false}) {
            std::vector<std::uint32_t> expected(rows.size());
            for (std::uint32_t i = 0; i < expected.size(); ++i)
                expected[i] = i;
            std::stable_sort(expected.begin(), expected.end(), [&](auto a, auto b) {
                const int c = CompareRowsForSort(rows[a], rows[b], key);
                return ascending ? c < 0 : c > 0;
            });
            EXPECT_EQ(SortedRowOrder(rows, key, ascending), expected)
                << "key " << key << (ascending ? " ascending" : " descending");
            // The rows themselves end up in that order, each one whole.
            std::vector<ComparisonRow> sorted = rows;
            SortRows(sorted, key, ascending);
            ASSERT_EQ(sorted.size(), rows.size());
            for (std::size_t i = 0; i < sorted.size(); ++i)
                ASSERT_TRUE(sorted[i].Name == rows[expected[i]].Name &&
                            sorted[i].TargetVersion == rows[expected[i]].TargetVersion &&
                            sorted[i].SourceSize == rows[expected[i]].SourceSize)
                    << "key " << key << ", row " << i;
        }
    }
}

} // namespace
} // namespace sorvane
