#include "engine/scan/row_sort.h"
#include "sort_texts.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace sorvane {
namespace {

// Rows drawn from small pools of texts, so every column has many ties and the
// comparison has to walk far to the right. The texts mix case, non-ASCII
// letters whose folding changes their UTF-8 length, bytes that are not UTF-8,
// empty texts, prefixes and numbers that sort differently as text.
std::vector<ComparisonRow> TrickyRows(std::size_t count) {
    const std::array<std::string, 10> names = {
        "a.dll",
        "A.DLL",
        "sub/a.dll",
        "Sub/B.dll",
        "\xC3\x84rger.exe",
        "\xC3\xA4rger.exe",
        "\xE1\xBA\x9E.dll",
        "ss.dll",
        "bad\xFF.dll",
        "z/\xCE\xA3.ocx",
    };
    const std::array<std::string, 5> exts = {".dll", ".DLL", "", ".exe", ".Dll"};
    const std::array<std::string, 4> languages = {"", "English (United States)",
                                                  "english (united states)", "German"};
    const std::array<std::string, 6> versions = {"", "9.0.0.0", "10.0.0.0", "1.0", "1.0.0", "1.0a"};
    const std::array<ComparisonMark, 5> marks = {ComparisonMark::Equal, ComparisonMark::NewerSource,
                                                 ComparisonMark::NewerTarget, ComparisonMark::None,
                                                 ComparisonMark::Copied};
    const std::array<std::string, 4> texts = {"",
                                              "Stra\xC3\x9F"
                                              "e",
                                              "STRASSE", "\xC3\x89t\xC3\xA9"};
    const std::array<std::int64_t, 4> sizes = {9, 10, 100, 0};

    std::vector<ComparisonRow> rows;
    std::uint32_t state = 12345;
    auto pick = [&](std::size_t n) {
        state = state * 1103515245u + 12345u;
        return static_cast<std::size_t>((state >> 16) % n);
    };
    for (std::size_t i = 0; i < count; ++i) {
        ComparisonRow row;
        row.Name = names[pick(names.size())];
        row.Ext = exts[pick(exts.size())];
        row.SourceLanguage = languages[pick(languages.size())];
        row.SourceVersion = versions[pick(versions.size())];
        row.Mark = marks[pick(marks.size())];
        row.TargetVersion = versions[pick(versions.size())];
        row.TargetLanguage = languages[pick(languages.size())];
        row.Busy = pick(2) == 0;
        row.Description = texts[pick(texts.size())];
        row.Copyright = texts[pick(texts.size())];
        row.SourceSize = sizes[pick(sizes.size())];
        rows.push_back(row);
    }
    return rows;
}

TEST(SortedRowOrder, GivesTheOrderOfTheRowComparisonForEveryKeyAndDirection) {
    const std::vector<ComparisonRow> rows = TrickyRows(1500);
    for (int key = kNameColumn; key <= kSizeColumn; ++key) {
        for (const bool ascending : {true, false}) {
            SCOPED_TRACE(testing::Message() << "key " << key << (ascending ? " asc" : " desc"));
            // The reference: a stable sort with the column-by-column comparison.
            std::vector<ComparisonRow> expected = rows;
            std::stable_sort(expected.begin(), expected.end(),
                             [&](const ComparisonRow& a, const ComparisonRow& b) {
                                 const int c = CompareRowsForSort(a, b, key);
                                 return ascending ? c < 0 : c > 0;
                             });
            std::vector<ComparisonRow> sorted = rows;
            SortRows(sorted, key, ascending);
            const std::vector<std::uint32_t> order = SortedRowOrder(rows, key, ascending);
            ASSERT_EQ(order.size(), rows.size());
            for (std::size_t i = 0; i < order.size(); ++i) {
                ASSERT_EQ(test::SortTexts(rows[order[i]]), test::SortTexts(expected[i]))
                    << "position " << i;
                ASSERT_EQ(test::SortTexts(sorted[i]), test::SortTexts(expected[i]))
                    << "position " << i;
            }
        }
    }
}

TEST(SortedRowOrder, KeepsTheOrderOfEqualRowsAndOfUnknownKeys) {
    ComparisonRow same;
    same.Name = "Same.dll";
    ComparisonRow other = same;
    other.Name = "same.DLL"; // equal without regard to case
    const std::vector<ComparisonRow> rows{same, other, same, other};
    for (const bool ascending : {true, false}) {
        EXPECT_EQ(SortedRowOrder(rows, kNameColumn, ascending),
                  (std::vector<std::uint32_t>{0, 1, 2, 3}));
    }
    const std::vector<ComparisonRow> mixed = TrickyRows(20);
    std::vector<std::uint32_t> identity(mixed.size());
    for (std::uint32_t i = 0; i < identity.size(); ++i)
        identity[i] = i;
    EXPECT_EQ(SortedRowOrder(mixed, kNoSortKey, true), identity);
    EXPECT_EQ(SortedRowOrder(mixed, kFillerColumn, false), identity);
    EXPECT_TRUE(SortedRowOrder({}, kNameColumn, true).empty());
}

} // namespace
} // namespace sorvane
