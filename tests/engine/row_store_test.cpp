#include "engine/scan/row_sort.h"
#include "sort_texts.h"
#include "engine/scan/row_store.h"
#include "engine/text/text_utils.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

namespace sorvane {
namespace {

// A small random source, the same on every run.
class Dice {
public:
    std::size_t operator()(std::size_t n) {
        state_ = state_ * 6364136223846793005u + 1442695040888963407u;
        return static_cast<std::size_t>((state_ >> 33) % n);
    }

private:
    std::uint64_t state_ = 42;
};

// Texts that are hard to order: case variants, folding that changes the
// UTF-8 length, bytes that are not UTF-8, NUL bytes, prefixes of each other,
// and texts longer than the seven bytes a key holds, differing late.
std::string TrickyText(Dice& dice) {
    static const std::array<std::string, 14> kParts = {"a",
                                                       "A",
                                                       "b",
                                                       "\xC3\x84",
                                                       "\xC3\xA4",
                                                       "\xE1\xBA\x9E",
                                                       "ss",
                                                       "\xFF",
                                                       "/",
                                                       std::string(1, '\0'),
                                                       "1",
                                                       "10",
                                                       "z",
                                                       "Stra\xC3\x9F"
                                                       "e"};
    std::string text;
    const std::size_t parts = dice(12);
    for (std::size_t i = 0; i < parts; ++i)
        text += kParts[dice(kParts.size())];
    return text;
}

TEST(TextPool, GivesEachDistinctTextOneIdAndTheEmptyTextIdZero) {
    TextPool pool;
    EXPECT_EQ(pool.size(), 1u);
    EXPECT_EQ(pool.Intern(""), 0u);
    EXPECT_EQ(pool.Text(0), "");
    // Many texts, so the table grows several times, one of them longer than
    // any block of the arena; each comes back by its id, byte for byte.
    // Texts larger than the first blocks of the arena, one of them first.
    std::vector<std::string> texts = {std::string(10000, 'M')};
    for (int i = 0; i < 5000; ++i)
        texts.push_back("text " + std::to_string(i / 2) + (i % 2 == 0 ? "" : "X"));
    texts.push_back(std::string(300000, 'L'));
    texts.push_back(std::string("nul\0inside", 10));
    texts.push_back("TEXT 1"); // differs from "text 1" in case only
    std::vector<std::uint32_t> ids;
    for (const std::string& text : texts)
        ids.push_back(pool.Intern(text));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(pool.Text(ids[i]), texts[i]) << i;
        ASSERT_EQ(pool.Intern(texts[i]), ids[i]) << i;
        for (std::size_t j = 0; j < i; j += 97)
            ASSERT_EQ(ids[i] == ids[j], texts[i] == texts[j]) << i << " " << j;
    }
    EXPECT_EQ(pool.size(), 1u + 5000u + 4u);
    pool.Clear();
    EXPECT_EQ(pool.size(), 1u);
    EXPECT_EQ(pool.Intern("text 1"), 1u);
}

TEST(RowStore, GivesBackEveryRowAndEachColumnAsTheGridShowsIt) {
    Dice dice;
    std::vector<ComparisonRow> rows;
    for (int i = 0; i < 400; ++i) {
        ComparisonRow row;
        row.Name = (i % 3 == 0 ? "" : "sub/") + TrickyText(dice) + std::to_string(i);
        row.Ext = i % 4 == 0 ? "" : ".dll";
        row.SourceLanguage = TrickyText(dice);
        row.SourceVersion = std::to_string(i % 7) + ".0";
        row.Mark = i % 2 == 0 ? ComparisonMark::NewerSource : ComparisonMark::None;
        row.TargetVersion = i % 5 == 0 ? row.SourceVersion : "9";
        row.TargetLanguage = TrickyText(dice);
        row.Busy = i % 6 == 0;
        row.Description = TrickyText(dice);
        row.Copyright = i % 9 == 0 ? std::string(70000, 'c') : "(c)";
        row.SourceSize = i % 8 == 0 ? -i : std::int64_t{i} << 33;
        // Only some rows carry stamps, the first ones none.
        if (i >= 100 && i % 2 == 0) {
            row.SourceStamp = {FileStamp::State::Present, 1, std::uint64_t(i), i, 7};
            row.TargetStamp = FileStamp::Missing();
        }
        rows.push_back(row);
    }
    RowStore store;
    for (std::size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(store.Append(rows[i]), i);
    ASSERT_EQ(store.size(), rows.size());
    ComparisonRow read;
    for (std::uint32_t id = 0; id < rows.size(); ++id) {
        store.Read(id, read);
        const ComparisonRow& row = rows[id];
        std::string scratch, expectedScratch;
        for (int column = kRootColumn; column < kGridColumnCount; ++column) {
            ASSERT_EQ(store.Text(id, column, scratch), ColumnView(row, column, expectedScratch))
                << id << " " << column;
            ASSERT_EQ(ColumnText(read, column), ColumnText(row, column)) << id << " " << column;
        }
        ASSERT_EQ(read.SourceStamp, row.SourceStamp) << id;
        ASSERT_EQ(read.TargetStamp, row.TargetStamp) << id;
        ASSERT_EQ(store.Name(id), row.Name);
        ASSERT_EQ(store.Mark(id), row.Mark);
        ASSERT_EQ(store.Busy(id), row.Busy);
    }

    // A copy rewrites the mark and the target's columns of that row only.
    const FileStamp copied{FileStamp::State::Present, 3, 4, 5, 6};
    store.UpdateTarget(0, ComparisonMark::Copied, "7.7", "Brand New", copied);
    store.UpdateTarget(101, ComparisonMark::Copied, "", "", {});
    store.Read(0, read);
    EXPECT_EQ(read.Mark, ComparisonMark::Copied);
    EXPECT_EQ(read.TargetVersion, "7.7");
    EXPECT_EQ(read.TargetLanguage, "Brand New");
    EXPECT_EQ(read.TargetStamp, copied);
    EXPECT_EQ(read.SourceVersion, rows[0].SourceVersion);
    EXPECT_EQ(read.Name, rows[0].Name);
    store.Read(101, read);
    EXPECT_EQ(read.TargetVersion, "");
    EXPECT_EQ(read.TargetStamp, FileStamp{});
    EXPECT_EQ(read.SourceStamp, rows[101].SourceStamp);
    store.Read(1, read);
    EXPECT_EQ(read.TargetVersion, rows[1].TargetVersion);

    store.Clear();
    EXPECT_TRUE(store.empty());
    ComparisonRow plain;
    plain.Name = "again.dll";
    EXPECT_EQ(store.Append(plain), 0u);
    EXPECT_EQ(store.Row(0).Name, "again.dll");
    EXPECT_EQ(store.Row(0).SourceStamp, FileStamp{});
}

// What only some scans give (assembly versions, hashes of the source files)
// comes back for the rows that have it, and for no other, wherever in the
// store the first such row stands; a copy gives the target the source's
// assembly version.
TEST(RowStore, KeepsAssemblyVersionsAndSourceHashesOfTheRowsThatHaveThem) {
    struct Case {
        std::size_t firstWith; ///< the first row that has them; rows past it every third
        std::size_t rows;
    };
    for (const Case c : {Case{0, 10}, Case{5, 12}, Case{3000, 3100}, Case{50, 40}}) {
        SCOPED_TRACE(c.firstWith);
        std::vector<ComparisonRow> rows(c.rows);
        RowStore store;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ComparisonRow& row = rows[i];
            row.Name = "f" + std::to_string(i) + ".dll";
            row.SourceVersion = "1.0";
            if (i >= c.firstWith && (i - c.firstWith) % 3 == 0) {
                row.SourceAssemblyVersion = "4.0.0." + std::to_string(i % 5);
                if (i % 2 == 0)
                    row.TargetAssemblyVersion = "4.0.0.1";
                row.SourceHash = HashBytes(row.Name);
            } else if (i >= c.firstWith && (i - c.firstWith) % 3 == 1) {
                row.TargetAssemblyVersion = "1.0.0.0"; // only the target is an assembly
            }
            ASSERT_EQ(store.Append(row), i);
        }
        ComparisonRow read;
        for (std::uint32_t id = 0; id < rows.size(); ++id) {
            store.Read(id, read);
            ASSERT_EQ(read.SourceAssemblyVersion, rows[id].SourceAssemblyVersion) << id;
            ASSERT_EQ(read.TargetAssemblyVersion, rows[id].TargetAssemblyVersion) << id;
            ASSERT_EQ(read.SourceHash, rows[id].SourceHash) << id;
            ASSERT_EQ(read.SourceVersion, "1.0") << id;
        }
        if (c.firstWith < rows.size()) {
            const auto id = static_cast<std::uint32_t>(c.firstWith);
            store.UpdateTarget(id, ComparisonMark::Copied, "1.0", "", {});
            EXPECT_EQ(store.Row(id).TargetAssemblyVersion, rows[id].SourceAssemblyVersion);
            EXPECT_EQ(store.Row(id).SourceHash, rows[id].SourceHash);
        }
        store.Clear();
        ComparisonRow plain;
        plain.Name = "plain.dll";
        store.Append(plain);
        EXPECT_EQ(store.Row(0).SourceHash, std::nullopt);
        EXPECT_EQ(store.Row(0).SourceAssemblyVersion, "");
    }
}

TEST(FoldedTextRanks, RanksTextsInTheOrderOfTheCaseIgnoringComparison) {
    Dice dice;
    for (const std::size_t count : {0u, 1u, 2u, 40u, 300u, 3000u}) {
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < count; ++i)
            texts.push_back(i % 10 == 0 ? std::string(20 + dice(20), 'x') + TrickyText(dice)
                                        : TrickyText(dice));
        const std::vector<std::string_view> views(texts.begin(), texts.end());
        std::uint32_t distinct = 99;
        const std::vector<std::uint32_t> ranks = FoldedTextRanks(views, &distinct);
        ASSERT_EQ(ranks.size(), count);
        std::vector<std::size_t> sorted(count);
        std::iota(sorted.begin(), sorted.end(), 0u);
        std::sort(sorted.begin(), sorted.end(), [&](std::size_t a, std::size_t b) {
            return CompareIgnoreCase(texts[a], texts[b]) < 0;
        });
        // Ranks rise by one from 0 at each new text, and only there.
        std::uint32_t expected = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0 && CompareIgnoreCase(texts[sorted[i - 1]], texts[sorted[i]]) != 0)
                ++expected;
            ASSERT_EQ(ranks[sorted[i]], expected) << count << ": " << texts[sorted[i]];
        }
        EXPECT_EQ(distinct, count == 0 ? 0u : expected + 1) << count;
    }
}

// Rows drawn from small pools, so every column ties often and the order has
// to be decided far to the right, sizes among them that sort as text the
// other way round than as numbers, and negative and 19-digit ones.
std::vector<ComparisonRow> TiedRows(std::size_t count, Dice& dice) {
    const std::array<std::string, 9> names = {"a.dll",
                                              "A.DLL",
                                              "sub/a.dll",
                                              "Sub/B.dll",
                                              "\xC3\x84rger.exe",
                                              "\xC3\xA4rger.exe",
                                              "ss.dll",
                                              "bad\xFF.dll",
                                              "z/\xCE\xA3.ocx"};
    const std::array<std::string, 4> exts = {".dll", ".DLL", "", ".exe"};
    const std::array<std::string, 4> languages = {"", "English (United States)",
                                                  "english (united states)", "German"};
    const std::array<std::string, 5> versions = {"", "9.0.0.0", "10.0.0.0", "1.0", "1.0a"};
    const std::array<ComparisonMark, 6> marks = {
        ComparisonMark::Equal, ComparisonMark::NewerSource, ComparisonMark::NewerTarget,
        ComparisonMark::None,  ComparisonMark::Copied,      ComparisonMark::Orphan};
    const std::array<std::string, 4> texts = {"",
                                              "Stra\xC3\x9F"
                                              "e",
                                              "STRASSE", "\xC3\x89t\xC3\xA9"};
    const std::array<std::int64_t, 8> sizes = {
        9, 10, 100, 0, -5, -40, std::numeric_limits<std::int64_t>::max(), 99999999999999999};
    std::vector<ComparisonRow> rows;
    for (std::size_t i = 0; i < count; ++i) {
        ComparisonRow row;
        row.Name = names[dice(names.size())];
        row.Ext = exts[dice(exts.size())];
        row.SourceLanguage = languages[dice(languages.size())];
        row.SourceVersion = versions[dice(versions.size())];
        row.Mark = marks[dice(marks.size())];
        row.TargetVersion = versions[dice(versions.size())];
        row.TargetLanguage = languages[dice(languages.size())];
        row.Busy = dice(2) == 0;
        row.Description = texts[dice(texts.size())];
        row.Copyright = texts[dice(texts.size())];
        // Half the runs hold only sizes that are plain to key, half not.
        row.SourceSize = sizes[dice(count % 2 == 0 ? 4 : sizes.size())];
        rows.push_back(row);
    }
    return rows;
}

TEST(SortedRowOrder, OfAStoreIsTheOrderOfTheRowsSortedWholeForEveryKeyAndDirection) {
    Dice dice;
    for (const std::size_t count : {0u, 1u, 2u, 30u, 301u, 2000u, 2001u}) {
        const std::vector<ComparisonRow> added = TiedRows(count, dice);
        RowStore store;
        for (const ComparisonRow& row : added)
            store.Append(row);
        // The rows start in an order of their own, which full ties keep.
        std::vector<std::uint32_t> present(count);
        std::iota(present.begin(), present.end(), 0u);
        for (std::size_t i = count; i > 1; --i)
            std::swap(present[i - 1], present[dice(i)]);
        for (int key = kNoSortKey; key <= kFillerColumn; ++key) {
            for (const bool ascending : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << count << " rows, key " << key << (ascending ? " asc" : " desc"));
                std::vector<ComparisonRow> shown;
                for (const std::uint32_t id : present)
                    shown.push_back(added[id]);
                const std::vector<std::uint32_t> expected = SortedRowOrder(shown, key, ascending);
                const std::vector<std::uint32_t> order =
                    SortedRowOrder(store, present, key, ascending);
                ASSERT_EQ(order.size(), count);
                for (std::size_t i = 0; i < count; ++i) {
                    // The very rows, not only rows that look alike.
                    ASSERT_EQ(order[i], present[expected[i]]) << "position " << i;
                    ASSERT_EQ(test::SortTexts(store.Row(order[i])),
                              test::SortTexts(shown[expected[i]]));
                }
                // The next sort starts from this one's order.
                if (key % 3 == 0)
                    present = order;
            }
        }
    }
    // Without a present order, the order the rows were added in.
    RowStore store;
    for (const char* name : {"b.dll", "a.dll", "B.DLL"}) {
        ComparisonRow row;
        row.Name = name;
        store.Append(row);
    }
    EXPECT_EQ(SortedRowOrder(store, {}, kNameColumn, true), (std::vector<std::uint32_t>{1, 0, 2}));
    EXPECT_EQ(SortedRowOrder(store, {}, kNameColumn, false), (std::vector<std::uint32_t>{0, 2, 1}));
    EXPECT_EQ(SortedRowOrder(store, {}, kNoSortKey, true), (std::vector<std::uint32_t>{0, 1, 2}));
}

} // namespace
} // namespace sorvane
