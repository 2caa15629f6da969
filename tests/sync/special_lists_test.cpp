#include "sync/special_lists.h"

#include <gtest/gtest.h>

namespace sorvane::sync {
namespace {

using M = ComparisonMark;

ComparisonRow Row(const char* name, M mark) {
    ComparisonRow row;
    row.Name = name;
    row.Mark = mark;
    return row;
}

// A grid after a scan and one copy, in its current order.
const std::vector<ComparisonRow> kRows = {
    Row("b.dll", M::NewerSource),
    Row("sub/y.dll", M::NewerTarget),
    Row("lang.dll", M::UnequalLanguage),
    Row("size.dll", M::DifferentSize),
    Row("odd.dll", M::Incomparable),
    Row("d/lone.dll", M::Orphan),
    Row("same.dll", M::Equal),
    Row("copied.dll", M::Copied),
    Row("a.dll", M::NewerSource),
    Row("listed.dll", M::None),
    Row("lat\xC3\xA9 \"x\"\tz.dll", M::Orphan),
    // A list line cannot hold these: left out of every list.
    Row("x.dll\n/etc/passwd", M::Orphan),
    Row("cr\r.dll", M::NewerSource),
    Row("lat\xE9.dll", M::Orphan),
};

TEST(SpecialLists, EachCategoryListsItsRowsUnderItsFolderInGridOrder) {
    struct Case {
        int category;
        std::string source, target, text;
    };
    const std::vector<Case> cases = {
        {0, "/src", "/dst", "/src/b.dll\n/src/a.dll\n"}, // the copied row is gone
        {1, "/src", "/dst", "/dst/sub/y.dll\n"},
        {2, "/src", "/dst", "/src/lang.dll\n"},
        {3, "/src", "/dst", "/src/size.dll\n"},
        {4, "/src", "/dst", "/src/odd.dll\n"},
        {5, "/src", "/dst", "/src/d/lone.dll\n/src/lat\xC3\xA9 \"x\"\tz.dll\n"},
        // An empty Source puts every list under the Target.
        {0, "", "/dst", "/dst/b.dll\n/dst/a.dll\n"},
        {5, "", "/dst", "/dst/d/lone.dll\n/dst/lat\xC3\xA9 \"x\"\tz.dll\n"},
        // The root keeps its one "/"; a trailing "/" and quotes go.
        {0, "/", "/dst", "/b.dll\n/a.dll\n"},
        {3, "\"/my src/\"", "/dst", "/my src/size.dll\n"},
        {1, "/src", "/dst/", "/dst/sub/y.dll\n"},
        {-1, "/src", "/dst", ""},
        {kCategoryCount, "/src", "/dst", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.category << " '" << c.source << "'");
        EXPECT_EQ(SpecialListText(c.category, kRows, c.source, c.target), c.text);
        std::string lines; // the paths are the lines without their LF
        for (const std::string& path : SpecialListPaths(c.category, kRows, c.source, c.target))
            lines += path + "\n";
        EXPECT_EQ(lines, c.text);
    }
    const SpecialList orphans = MakeSpecialList(kOrphansCategory, kRows, "/src", "/dst");
    EXPECT_EQ(orphans.leftOut,
              (std::vector<std::string>{"/src/x.dll\n/etc/passwd", "/src/lat\xE9.dll"}));
    EXPECT_TRUE(ListCanHoldPath("/src/evil\u202Ellx.exe\x01")); // drawn oddly, but one line
    EXPECT_TRUE(LeftOutMessage(LeftOutOf::List, orphans.leftOut)
                    .startsWith("2 file(s) were left out of the list: a list line cannot hold "
                                "their names (a line break, or bytes that are not UTF-8)."));
    // Every Newer Source row copied: the list is empty, not absent.
    const std::vector<ComparisonRow> copied = {Row("b.dll", M::Copied), Row("same.dll", M::Equal)};
    for (int category = 0; category < kCategoryCount; ++category)
        EXPECT_EQ(SpecialListText(category, copied, "/src", "/dst"), "") << category;
}

TEST(SpecialLists, OfferedWithRowsOfTheCategoryAndAFolderAsSource) {
    CategoryCounters counters;
    counters.counts = {1, 0, 7, 0, 0, 2};
    // category, Source is a map, offered
    const std::vector<std::tuple<int, bool, bool>> cases = {
        {0, false, true},   {1, false, false}, {2, false, true}, {3, false, false},
        {4, false, false},  {5, false, true},  {0, true, false}, {5, true, false},
        {-1, false, false}, {6, false, false}};
    for (const auto& [category, map, offered] : cases)
        EXPECT_EQ(SpecialListAvailable(category, counters, map), offered) << category << map;
}

} // namespace
} // namespace sorvane::sync
