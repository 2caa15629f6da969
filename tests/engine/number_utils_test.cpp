#include "engine/text/number_utils.h"

#include <gtest/gtest.h>
#include <limits>

namespace sorvane {
namespace {

TEST(NumericValue, ReadsTheLeadingNumber) {
    EXPECT_EQ(NumericValue("12b"), 12);
    EXPECT_EQ(NumericValue("12abc"), 12);
    EXPECT_EQ(NumericValue("beta"), 0);
    EXPECT_EQ(NumericValue(""), 0);
    EXPECT_EQ(NumericValue(" 7"), 7);
    EXPECT_EQ(NumericValue("1 2\t3\n4"), 1234); // blanks, tabs, line feeds anywhere
    EXPECT_EQ(NumericValue("-4"), -4);
    EXPECT_EQ(NumericValue("+5"), 5);
    EXPECT_EQ(NumericValue("- 5"), -5);
    EXPECT_EQ(NumericValue("9.75"), 9.75);
    EXPECT_EQ(NumericValue(".5"), 0.5);
    EXPECT_EQ(NumericValue("1e3"), 1000);
    EXPECT_EQ(NumericValue("2E-1x"), 0.2);
    EXPECT_EQ(NumericValue("1e"), 1); // an exponent without digits is not read
    EXPECT_EQ(NumericValue("1e+"), 1);
    EXPECT_EQ(NumericValue("16711680"), 16711680);
    EXPECT_EQ(NumericValue("&H1F"), 31);
    EXPECT_EQ(NumericValue("&hff zz"), 255);
    EXPECT_EQ(NumericValue("&O17"), 15);
    EXPECT_EQ(NumericValue("&O19"), 1); // stops at the first non-octal digit
    EXPECT_EQ(NumericValue("&X1"), 0);
    EXPECT_EQ(NumericValue("+"), 0);
    EXPECT_EQ(NumericValue("-."), 0);
    EXPECT_EQ(NumericValue("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(NumericValue("1e-999"), 0);
}

TEST(IsBetween, HandlesReversedBounds) {
    EXPECT_TRUE(IsBetween(5, 1, 10));
    EXPECT_TRUE(IsBetween(1, 1, 10));
    EXPECT_TRUE(IsBetween(10, 1, 10));
    EXPECT_FALSE(IsBetween(11, 1, 10));
    EXPECT_TRUE(IsBetween(5, 10, 1));
    EXPECT_FALSE(IsBetween(5, 10, 1, true));
    EXPECT_FALSE(IsBetween(0, 10, 1));
}

TEST(MaxOf, ReturnsTheLargerAsA32BitNumber) {
    EXPECT_EQ(MaxOf(3, 7), 7);
    EXPECT_EQ(MaxOf(7, 3), 7);
    EXPECT_EQ(MaxOf(-2, -9), -2);
    EXPECT_EQ(MaxOf(2.5, 1), 2); // rounds half to even
    EXPECT_EQ(MaxOf(3.5, 1), 4);
    EXPECT_EQ(MaxOf(1e12, 0), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(FlagToBit(0), 0);
    EXPECT_EQ(FlagToBit(-1), 1);
    EXPECT_EQ(FlagToBit(42), 1);
}

} // namespace
} // namespace sorvane
