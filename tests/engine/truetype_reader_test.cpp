#include "engine/byte_source.h"
#include "engine/truetype_reader.h"
#include "support/byte_builder.h"
#include "support/ttf_builder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace sorvane {
namespace {

using test::MacName;
using test::PutU16;
using test::PutU32;
using test::TtfBuilder;
using test::TtfLayout;
using test::WindowsName;

std::optional<TrueTypeNames> Read(const std::string& bytes) {
    const MemorySource source(AsBytes(bytes));
    return ReadTrueTypeNames(source);
}

// Mac Roman records first, then their Windows twins, as in most fonts.
TtfBuilder SampleFont() {
    TtfBuilder font;
    font.names = {
        MacName(0, "\xA9 2003 Bitstream"), // 0xA9 is the copyright sign in Mac Roman
        MacName(1, "Sample Sans"),         MacName(5, "Version 2.37"),
        WindowsName(0, u"(c) 2003"),       WindowsName(1, u"Sample Sans"),
        WindowsName(5, u"Version 2.37"),
    };
    return font;
}

TEST(TrueTypeNames, ReadsMacAndWindowsRecords) {
    const auto names = Read(SampleFont().Build());
    ASSERT_TRUE(names);
    ASSERT_EQ(names->records.size(), 6u);

    const auto& mac = names->records[0];
    EXPECT_EQ(mac.platform, 1);
    EXPECT_EQ(mac.encoding, 0);
    EXPECT_EQ(mac.language, 0);
    EXPECT_EQ(mac.nameId, 0);
    EXPECT_EQ(mac.length, 16);
    EXPECT_TRUE(mac.singleByte);
    EXPECT_EQ(mac.text, "© 2003 Bitstream");

    const auto& windows = names->records[4];
    EXPECT_EQ(windows.platform, 3);
    EXPECT_EQ(windows.encoding, 1);
    EXPECT_EQ(windows.language, 0x409);
    EXPECT_EQ(windows.nameId, 1);
    EXPECT_EQ(windows.length, 22);
    EXPECT_FALSE(windows.singleByte);
    EXPECT_EQ(windows.text, "Sample Sans"); // decoded for display only

    EXPECT_EQ(names->Name(0), "© 2003 Bitstream");
    EXPECT_EQ(names->Name(1), "Sample Sans");
    EXPECT_EQ(names->Name(5), "Version 2.37"); // "Version " stays: the caller drops it
    EXPECT_EQ(names->Name(4), "");
}

TEST(TrueTypeNames, TakesTheFirstSingleByteRecordWhateverItsPlatform) {
    TtfBuilder font;
    font.names = {
        WindowsName(5, u"Version 9"),           // two-byte: passed over
        MacName(5, ""),                         // empty: passed over
        {1, 0, 0, 5, std::string("\0\x31", 2)}, // first byte 0: passed over
        {3, 1, 0x409, 5, "Version 1.0"},        // 8-bit text in a Windows record: taken
        MacName(5, "Version 2.0"),              // later: ignored
        MacName(1, "Sample"),
    };
    const auto names = Read(font.Build());
    ASSERT_TRUE(names);
    EXPECT_EQ(names->Name(5), "Version 1.0");
    EXPECT_FALSE(names->records[1].singleByte);
    EXPECT_EQ(names->records[1].text, "");
    EXPECT_FALSE(names->records[2].singleByte);
    EXPECT_EQ(names->records[2].text, "1");

    // Nothing single-byte at all: no name.
    font.names[3] = WindowsName(5, u"Version 1.0");
    font.names[4] = WindowsName(5, u"Version 2.0");
    EXPECT_EQ(Read(font.Build())->Name(5), "");
}

TEST(TrueTypeNames, DecodesEachRecordByItsPlatform) {
    TtfBuilder font = SampleFont();
    font.names.push_back(MacName(3, "Caf\x8E"));       // Mac Roman 0x8E: e acute
    font.names.push_back({3, 1, 0x409, 3, "Caf\x8E"}); // Windows-1252 0x8E: Z caron
    font.names.push_back({0, 3, 0, 3, "Caf\x8E"});     // Unicode platform: Windows-1252
    font.names.push_back(WindowsName(6, u"\u4E2D"));   // 4E 2D: first byte not 0
    font.names.push_back({3, 1, 0x409, 7, std::string("\0A\0B\0", 5)}); // odd length
    const auto names = Read(font.Build());
    ASSERT_TRUE(names);
    ASSERT_EQ(names->records.size(), 11u);
    EXPECT_EQ(names->records[6].text, "Café");
    EXPECT_EQ(names->records[7].text, "CafŽ");
    EXPECT_EQ(names->records[8].text, "CafŽ");
    // A two-byte string whose first byte happens not to be 0 passes for 8-bit text.
    EXPECT_TRUE(names->records[9].singleByte);
    EXPECT_EQ(names->Name(6), "N-");
    EXPECT_FALSE(names->records[10].singleByte);
    EXPECT_EQ(names->records[10].text, "AB"); // the odd last byte is dropped
}

TEST(TrueTypeNames, NeedsSixRecords) {
    TtfBuilder font;
    for (std::uint16_t id = 0; id < 5; ++id)
        font.names.push_back(MacName(id, "x"));
    EXPECT_EQ(Read(font.Build()), std::nullopt);
    font.names.push_back(MacName(5, "Version 1"));
    ASSERT_TRUE(Read(font.Build()));
    EXPECT_EQ(Read(font.Build())->Name(5), "Version 1");
}

TEST(TrueTypeNames, OnlyReadsVersionOneFonts) {
    TtfBuilder font = SampleFont();
    for (const std::uint32_t version : {0x4F54544Fu /* OTTO */, 0x74727565u /* true */,
                                        0x74746366u /* ttcf */, 0x00020000u, 0x00000000u}) {
        font.sfntVersion = version;
        EXPECT_EQ(Read(font.Build()), std::nullopt) << std::hex << version;
    }
    font.sfntVersion = 0x00015000; // the minor half is not looked at
    EXPECT_TRUE(Read(font.Build()));
}

TEST(TrueTypeNames, NeedsANameTableAtANonZeroOffset) {
    TtfLayout layout;
    const std::string good = SampleFont().Build(&layout);

    std::string damaged = good;
    damaged.replace(layout.nameDirectoryRecordAt, 4, "NAME"); // tags are case-sensitive
    EXPECT_EQ(Read(damaged), std::nullopt);

    damaged = good;
    PutU32(damaged, layout.nameDirectoryRecordAt + 8, 0, Endian::Big);
    EXPECT_EQ(Read(damaged), std::nullopt);

    damaged = good;
    PutU32(damaged, layout.nameDirectoryRecordAt + 8, 0xFFFFFFF0, Endian::Big); // past the end
    EXPECT_EQ(Read(damaged), std::nullopt);

    damaged = good;
    PutU16(damaged, 4, 0, Endian::Big); // no tables
    EXPECT_EQ(Read(damaged), std::nullopt);

    EXPECT_EQ(Read(good.substr(0, 12)), std::nullopt); // offset table only
    EXPECT_EQ(Read(good.substr(0, 11)), std::nullopt);
    EXPECT_EQ(Read(""), std::nullopt);
}

TEST(TrueTypeNames, TableCountIsBoundedByTheFileAndACap) {
    TtfLayout layout;
    std::string font = SampleFont().Build(&layout);
    PutU16(font, 4, 0xFFFF, Endian::Big); // far more tables than the file holds
    const auto names = Read(font);
    ASSERT_TRUE(names);
    EXPECT_EQ(names->Name(1), "Sample Sans");

    // A "name" record after the first 1024 directory records is not searched for.
    TtfBuilder crowded = SampleFont();
    crowded.otherTables.assign(1024, "xxxx");
    EXPECT_EQ(Read(crowded.Build()), std::nullopt);
    crowded.otherTables.pop_back();
    EXPECT_TRUE(Read(crowded.Build()));
}

TEST(TrueTypeNames, StringsOutsideTheFileAreEmpty) {
    TtfLayout layout;
    std::string font = SampleFont().Build(&layout);
    PutU16(font, layout.nameTableAt + 4, 0xFFFF, Endian::Big); // storage past the end
    const auto names = Read(font);
    ASSERT_TRUE(names);
    ASSERT_EQ(names->records.size(), 6u);
    for (const auto& record : names->records) {
        EXPECT_FALSE(record.singleByte);
        EXPECT_EQ(record.text, "");
    }
    EXPECT_EQ(names->Name(1), "");
}

TEST(TrueTypeNames, NameTableEndingAtTheEndOfTheFile) {
    TtfBuilder font = SampleFont();
    font.names.push_back(MacName(3, "Last"));
    TtfLayout layout;
    const std::string bytes = font.Build(&layout);
    ASSERT_EQ(bytes.substr(bytes.size() - 4), "Last"); // the last string ends the file

    const auto whole = Read(bytes);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->Name(3), "Last");

    const auto cut = Read(bytes.substr(0, bytes.size() - 1));
    ASSERT_TRUE(cut);
    EXPECT_FALSE(cut->records[6].singleByte);
    EXPECT_EQ(cut->records[6].text, "");
    EXPECT_EQ(cut->Name(3), "");
    EXPECT_EQ(cut->Name(1), "Sample Sans"); // the others are untouched
}

TEST(TrueTypeNames, TruncatedRecordArrayKeepsTheWholeRecords) {
    TtfLayout layout;
    const std::string font = SampleFont().Build(&layout);

    const auto names = Read(font.substr(0, layout.recordsAt + 3 * 12 + 5));
    ASSERT_TRUE(names);
    ASSERT_EQ(names->records.size(), 3u);
    EXPECT_EQ(names->records[2].nameId, 5);
    EXPECT_EQ(names->records[2].length, 12);
    EXPECT_EQ(names->records[2].text, ""); // its string is gone with the cut
    EXPECT_EQ(names->Name(5), "");

    EXPECT_EQ(Read(font.substr(0, layout.nameTableAt + 5)), std::nullopt); // header cut
}

TEST(TrueTypeNames, RealDejaVuSans) {
    const std::string path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << path << " is not installed";
    const auto file = BinaryFile::Open(path);
    ASSERT_TRUE(file);
    const auto names = ReadTrueTypeNames(*file);
    ASSERT_TRUE(names);
    EXPECT_EQ(names->Name(1), "DejaVu Sans");
    EXPECT_EQ(names->Name(5), "Version 2.37");
}

} // namespace
} // namespace sorvane
