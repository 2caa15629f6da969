#include "engine/text/tokenizer.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(Tokenizer, WalksTokensAndStartsAgainAfterTheEnd) {
    Tokenizer t;
    const std::string text = "a|b|c";
    EXPECT_EQ(t.FirstToken(text, "|"), "a");
    EXPECT_EQ(t.NextToken(text), "b");
    EXPECT_EQ(t.NextToken(text), "c");
    EXPECT_EQ(t.NextToken(text), "");
    EXPECT_EQ(t.Position(), 0);
    EXPECT_EQ(t.NextToken(text), "a");
}

TEST(Tokenizer, TwoSeparatorsInARowGiveAnEmptyToken) {
    Tokenizer t;
    EXPECT_EQ(t.FirstToken("a||c", "|"), "a");
    EXPECT_EQ(t.NextToken("a||c"), "");
    EXPECT_EQ(t.NextToken("a||c"), "c");
}

TEST(Tokenizer, DefaultSeparatorIsCrLfAndMultiCharacterSeparatorsWork) {
    Tokenizer t;
    EXPECT_EQ(t.FirstToken("one\r\ntwo"), "one");
    EXPECT_EQ(t.NextToken("one\r\ntwo"), "two");
    EXPECT_EQ(t.FirstToken("x::y::", "::"), "x");
    EXPECT_EQ(t.NextToken("x::y::"), "y");
    EXPECT_EQ(t.NextToken("x::y::"), "");
}

TEST(Tokenizer, PositionArgumentMovesAndReportsThePlace) {
    Tokenizer t;
    long position = 3;
    EXPECT_EQ(t.NextToken("a|b|c", "|", &position), "b");
    EXPECT_EQ(position, 5);
    long rest = -1;
    EXPECT_EQ(t.NextToken("a|b|c|d", std::nullopt, &rest), "c|d"); // negative: the whole rest
    EXPECT_EQ(rest, 8);
    // Past the end the caller's position is left alone.
    long far = 50;
    EXPECT_EQ(t.NextToken("abc", std::nullopt, &far), "");
    EXPECT_EQ(far, 50);
    EXPECT_EQ(t.Position(), 0);
}

TEST(Tokenizer, EmptyTextOrNoSeparatorGivesEmptyTextWithoutMoving) {
    Tokenizer t;
    EXPECT_EQ(t.NextToken("a|b"), ""); // no separator known yet
    EXPECT_EQ(t.FirstToken("a|b", "|"), "a");
    EXPECT_EQ(t.NextToken(""), "");
    EXPECT_EQ(t.Position(), 3);
    EXPECT_EQ(t.NextToken("a|b"), "b");
}

TEST(Tokenizer, TwoTokenizersKeepTheirOwnPlace) {
    Tokenizer first;
    Tokenizer second;
    EXPECT_EQ(first.FirstToken("a|b|c", "|"), "a");
    EXPECT_EQ(second.FirstToken("1.2.3", "."), "1");
    EXPECT_EQ(first.NextToken("a|b|c"), "b");
    EXPECT_EQ(second.NextToken("1.2.3"), "2");
}

TEST(SplitText, StopsAtTheFirstEmptyPart) {
    using Parts = std::vector<std::string>;
    EXPECT_EQ(SplitText("5.00.2134.01", "."), (Parts{"5", "00", "2134", "01"}));
    EXPECT_EQ(SplitText("1..5", "."), (Parts{"1"}));
    EXPECT_EQ(SplitText("1.2.", "."), (Parts{"1", "2"}));
    EXPECT_EQ(SplitText(".5", "."), std::nullopt);
    EXPECT_EQ(SplitText("", "."), std::nullopt);
    EXPECT_EQ(SplitText("line1\r\nline2"), (Parts{"line1", "line2"}));
    EXPECT_EQ(SplitText("abc", ""), std::nullopt);
}

} // namespace
} // namespace sorvane
