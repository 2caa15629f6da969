#include "engine/scan/display_filter.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(ShouldShowRow, KeepsOrDropsEachMarkPerMode) {
    struct Row {
        ComparisonMark mark;
        bool all, different, newer;
    };
    const Row table[] = {
        {ComparisonMark::Orphan, true, false, false},
        {ComparisonMark::Equal, true, false, false},
        {ComparisonMark::NewerSource, true, true, true},
        {ComparisonMark::NewerTarget, true, true, false},
        {ComparisonMark::UnequalLanguage, true, true, true},
        {ComparisonMark::DifferentSize, true, true, true},
        {ComparisonMark::Incomparable, true, true, true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(MarkText(row.mark));
        EXPECT_EQ(ShouldShowRow(row.mark, DisplayMode::AllVersioned), row.all);
        EXPECT_EQ(ShouldShowRow(row.mark, DisplayMode::DifferentOnly), row.different);
        EXPECT_EQ(ShouldShowRow(row.mark, DisplayMode::NewerOnly), row.newer);
        // Values outside 0..2 filter like "different only".
        EXPECT_EQ(ShouldShowRow(row.mark, 3), row.different);
        EXPECT_EQ(ShouldShowRow(row.mark, -1), row.different);
    }
}

} // namespace
} // namespace sorvane
