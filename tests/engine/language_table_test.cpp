#include "engine/text/language_table.h"

#include <gtest/gtest.h>
#include <set>

namespace sorvane {
namespace {

TEST(LanguageName, NamesKnownIdentifiers) {
    EXPECT_EQ(LanguageName(1033), "English (United States)");
    EXPECT_EQ(LanguageName(1078), "Afrikaans");
    EXPECT_EQ(LanguageName(1077), "Zulu");
    EXPECT_EQ(LanguageName(1), "Arabic");
    EXPECT_EQ(LanguageName(4), "Chinese");
    EXPECT_EQ(LanguageName(3082), "Spanish (Modern Sort)");
    EXPECT_EQ(LanguageName(0), "");
    EXPECT_EQ(LanguageName(65535), "");
    EXPECT_EQ(LanguageName(-1), "");
}

TEST(LanguageName, FirstOccurrenceOfADuplicateWins) {
    EXPECT_EQ(LanguageName(2057), "English (British)");
    EXPECT_EQ(LanguageName(6153), "English (Ireland)");
    EXPECT_EQ(LanguageName(1084), "Gaelic");
    EXPECT_EQ(LanguageName(1064), "Macedonian");
    EXPECT_EQ(LanguageName(1086), "Malay (Malaysian)");
    EXPECT_EQ(LanguageName(1072), "Sesotho");
}

TEST(BuildLanguageTable, HoldsTheWholeListWith178Identifiers) {
    const LanguageTable table = BuildLanguageTable();
    EXPECT_EQ(table.size(), 184u);
    std::set<std::string> names;
    int found = 0;
    for (std::int32_t id = 0; id < 65536; ++id) {
        const auto name = table.LanguageName(id);
        if (name.empty())
            continue;
        ++found;
        EXPECT_EQ(name.front() != ' ' && name.back() != ' ', true) << id;
        names.emplace(name);
    }
    EXPECT_EQ(found, 178);
    EXPECT_EQ(names.size(), 178u); // every identifier has its own name
}

TEST(AddLanguage, TrimsNameAndIdentifierAndKeepsTheFirstEntry) {
    LanguageTable table;
    table.AddLanguage("  Klingon ", "   77");
    table.AddLanguage("Vulcan", "77");
    EXPECT_EQ(table.LanguageName(77), "Klingon");
    EXPECT_EQ(table.size(), 2u);
}

} // namespace
} // namespace sorvane
