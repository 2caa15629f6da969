#include "engine/text/text_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// What a name or text from a file holds, and how it is shown.
TEST(EscapeControls, ShowsHiddenAndReorderingCharactersAsEscapes) {
    struct Case {
        std::string text;
        std::string shown;
        bool oneLine; ///< IsOneLineUtf8
    };
    const std::vector<Case> cases{
        {"plain.dll", "plain.dll", true},
        {"Ünïcødé 日本 \\ back\\slash", "Ünïcødé 日本 \\ back\\slash", true},
        {"a\nb.dll", "a\\x0ab.dll", false},
        {"a\rb.dll", "a\\x0db.dll", false},
        {"tab\tnul" + std::string(1, '\0') + "esc\x1b" "del\x7f",
         "tab\\x09nul\\x00esc\\x1bdel\\x7f", true},
        {"bad\xFF\xFE.dll", "bad\uFFFD\uFFFD.dll", false},
        {"c1\xC2\x85\xC2\x9B" "x", "c1\\u0085\\u009Bx", true},
        {"evil\u202Ellx.exe", "evil\\u202Ellx.exe", true},
        {"\u202A\u202D\u2066\u2069\u200E\u200F\u061C\u2028",
         "\\u202A\\u202D\\u2066\\u2069\\u200E\\u200F\\u061C\\u2028", true},
        // Neighbours of the escaped ranges are ordinary text.
        {"\u200D\u2029x\u202F\u2065\u206A\u061B\u00A0",
         "\u200D\\u2029x\u202F\u2065\u206A\u061B\u00A0", true},
        {"", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(EscapeControls(c.text), c.shown);
        EXPECT_EQ(NeedsEscapes(c.text), c.shown != c.text);
        EXPECT_EQ(IsOneLineUtf8(c.text), c.oneLine);
    }
    // Kept line breaks: one LF each, those at the end dropped; the rest escaped.
    EXPECT_EQ(EscapeControls("one\r\ntwo\nthree\rfour\t\u202E\r\n\n", true),
              "one\ntwo\nthree\nfour\\x09\\u202E");
}

} // namespace
} // namespace sorvane
