#include "engine/text_utils.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(DecodeText, KeepsUtf8AndTakesOtherBytesAsWindows1252) {
    EXPECT_EQ(DecodeText("plain"), "plain");
    EXPECT_EQ(DecodeText("Gr\xC3\xBC\xC3\x9F"), "Grüß");
    EXPECT_EQ(DecodeText("Gr\xFC\xDF"), "Grüß");
    EXPECT_EQ(DecodeText("\x80 \x99"), "€ ™");
    // Valid and invalid sequences side by side, and a truncated sequence at the end.
    EXPECT_EQ(DecodeText("\xC3\xA9\xE9\xE2\x82"), "éé\u00E2\u201A");
    // Overlong forms and surrogates are not valid UTF-8.
    EXPECT_EQ(DecodeText("\xC0\xAF"), "À¯");
    EXPECT_EQ(DecodeText("\xED\xA0\x80"), "í\u00A0\u20AC");
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
}

TEST(CodePages, ConvertTheUpperHalf) {
    EXPECT_EQ(Windows1252ToUtf8("\xA9 1999 \x84x\x93"), "© 1999 „x“");
    EXPECT_EQ(Windows1252ToUtf8("\x81"), "\u0081"); // undefined bytes stay C1 controls
    EXPECT_EQ(MacRomanToUtf8("\xA9 \x80\xD2\xD3"), "© Ä“”");
    EXPECT_EQ(MacRomanToUtf8("abc"), "abc");
}

TEST(CaseFolding, ComparesLettersOfAllScripts) {
    EXPECT_TRUE(EqualsIgnoreCase("General", "gENERAL"));
    EXPECT_TRUE(EqualsIgnoreCase("ÄÖÜ Ωμέγα", "äöü ωΜΈΓΑ"));
    EXPECT_TRUE(EqualsIgnoreCase("ДОБРО", "добро"));
    EXPECT_FALSE(EqualsIgnoreCase("abc", "abd"));
    EXPECT_FALSE(EqualsIgnoreCase("abc", "ab"));
    EXPECT_TRUE(EqualsIgnoreCase("Translation", "tRANSLATION"));
    EXPECT_FALSE(EqualsIgnoreCase("@a", "`a")); // only letters fold
    EXPECT_FALSE(EqualsIgnoreCase("[a", "{a"));
    EXPECT_TRUE(EqualsIgnoreCase("\u212Aelvin", "kELVIN")); // the Kelvin sign folds to k
    EXPECT_FALSE(EqualsIgnoreCase("", "a"));
    EXPECT_LT(CompareIgnoreCase("apple", "Banana"), 0);
    EXPECT_GT(CompareIgnoreCase("Zeta", "alpha"), 0);
    EXPECT_LT(CompareIgnoreCase("ab", "ABC"), 0);
    EXPECT_GT(CompareIgnoreCase("é", "Z"), 0); // by code point after folding
    EXPECT_EQ(FoldCase("ÉCOLE Straße"), "école straße");
    EXPECT_TRUE(EndsWithIgnoreCase("Build/Files.MAP", ".map"));
    EXPECT_TRUE(EndsWithIgnoreCase("ÄÖ", "äö"));
    EXPECT_FALSE(EndsWithIgnoreCase("map", ".map"));
}

TEST(Utf8, LengthsPrefixesAndTrimming) {
    EXPECT_EQ(Utf8Length("äbc"), 3u);
    EXPECT_EQ(Utf8Prefix("äbc", 2), "äb");
    EXPECT_EQ(Utf8Prefix("äbc", 10), "äbc");
    EXPECT_EQ(TrimBlanks(" \t x y \t"), "x y");
    EXPECT_EQ(TrimBlanks("   "), "");
    std::string out;
    AppendUtf8(out, 0xD800); // a lone surrogate cannot be encoded
    EXPECT_EQ(out, "\uFFFD");
}

} // namespace
} // namespace sorvane
