#include "engine/settings/settings_records.h"
#include "engine/settings/settings_store.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(ListSection, LoadsInFileOrderAndKeepsEqualsSigns) {
    test::TempDir dir;
    const std::string file = dir.write("s.dat", "[Source]\n5=/five\n2=/two\n9=\nbare\n[Filter]\n");
    EXPECT_EQ(LoadListSection(file, "Source"), (std::vector<std::string>{"/five", "/two", "bare"}));
    EXPECT_TRUE(SaveListSection(file, "Filter", {"a=b", "*.dll"}));
    EXPECT_EQ(LoadListSection(file, "Filter"), (std::vector<std::string>{"a=b", "*.dll"}));
    EXPECT_TRUE(SaveListSection(file, "Source", {}));
    EXPECT_TRUE(LoadListSection(file, "Source").empty());
    EXPECT_TRUE(LoadListSection(dir.file("missing.dat"), "Source").empty());
    EXPECT_TRUE(LoadListSection(dir.path().string(), "Source").empty());
}

TEST(FontRecord, RoundTripsAndRoundsTheSize) {
    test::TempDir dir;
    const std::string file = dir.file("s.dat");
    FontRecord font{"DejaVu Sans", 9.75, 0, true, 700, true, false, true};
    SaveFontRecord(file, "Font", "", font);
    EXPECT_EQ(dir.read("s.dat"), "[Font]\r\nName=DejaVu Sans\r\nSize=10\r\nCharset=0\r\nBold=1\r\n"
                                 "Weight=700\r\nItalic=1\r\nUnder=0\r\nStrike=1\r\n");
    font.size = 10;
    EXPECT_EQ(LoadFontRecord(file, "Font", "", FontRecord{}), font);
    // Missing keys take the current font's values.
    const FontRecord current{"Sans", 11, 1, false, 400, false, true, false};
    EXPECT_EQ(LoadFontRecord(file, "Font", "Other", current), current);
}

TEST(BandRecord, RoundTripsAndReadsFlagsStrictly) {
    test::TempDir dir;
    const std::string file = dir.file("s.dat");
    SaveBandRecord(file, "CoolBar", 1, {true, true, 240, "pbTarget", -1, ""});
    SaveBandRecord(file, "CoolBar", 2, {true, false, 310.5, "pbToolbar", -1, "10110111"});
    const BandRecord defaults;
    // Band 1 never starts a new row.
    EXPECT_EQ(LoadBandRecord(file, "CoolBar", 1, defaults),
              (BandRecord{false, true, 240, "pbTarget", -1, ""}));
    EXPECT_EQ(LoadBandRecord(file, "CoolBar", 2, defaults),
              (BandRecord{true, false, 310.5, "pbToolbar", -1, "10110111"}));
    WriteSetting(file, "CoolBar", "3_Visible", "2");
    WriteSetting(file, "CoolBar", "3_NewRow", "1");
    const BandRecord current{false, true, 50, "pbFilter", -1, ""};
    const BandRecord third = LoadBandRecord(file, "CoolBar", 3, current);
    EXPECT_FALSE(third.visible); // only exactly 1 counts as on
    EXPECT_TRUE(third.newRow);
    EXPECT_EQ(third.name, "pbFilter"); // no name stored: the current child stays
    EXPECT_EQ(third.width, 50);
}

// The window keeps all its records in one document and writes the file once.
TEST(Records, OnADocumentAreWrittenWithOneSaveAndReadBackFromTheFile) {
    test::TempDir dir;
    const std::string file = dir.write("s.dat", "[Other]\nkeep=1\n");
    const FontRecord font{"DejaVu Sans", 10, 0, true, 700, false, true, false};
    const BandRecord band{true, false, 120, "pbSource", -1, ""};
    const std::vector<std::string> items{"/one", "a=b"};
    const auto before = SettingsFileActivity();
    auto settings = SettingsDocument::Load(file);
    SaveFontRecord(settings, "Font", "", font);
    SaveBandRecord(settings, "CoolBar", 2, band);
    SaveListSection(settings, "Filter", items);
    EXPECT_EQ(LoadFontRecord(settings, "Font", "", FontRecord{}), font);
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(SettingsFileActivity().writes - before.writes, 1u);
    EXPECT_EQ(LoadFontRecord(file, "Font", "", FontRecord{}), font);
    EXPECT_EQ(LoadBandRecord(file, "CoolBar", 2, BandRecord{}), band);
    EXPECT_EQ(LoadListSection(file, "Filter"), items);
    EXPECT_EQ(ReadSetting(file, "Other", "keep"), "1");
}

} // namespace
} // namespace sorvane
