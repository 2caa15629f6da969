#include "engine/files/opened_file.h"
#include "engine/formats/byte_source.h"
#include "engine/text/text_utils.h"
#include "engine/formats/truetype_reader.h"
#include "engine/formats/version_reader.h"
#include "support/byte_builder.h"
#include "support/ttf_builder.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace sorvane {
namespace {

using test::MacName;
using test::PutU16;
using test::PutU32;
using test::TtfBuilder;
using test::TtfLayout;
using test::Utf16Be;
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
    EXPECT_EQ(mac.charset, NameCharset::MacRoman);
    EXPECT_TRUE(mac.singleByte);
    EXPECT_EQ(names->Text(mac), "© 2003 Bitstream");

    const auto& windows = names->records[4];
    EXPECT_EQ(windows.platform, 3);
    EXPECT_EQ(windows.encoding, 1);
    EXPECT_EQ(windows.language, 0x409);
    EXPECT_EQ(windows.nameId, 1);
    EXPECT_EQ(windows.length, 22);
    EXPECT_EQ(windows.charset, NameCharset::Utf16);
    EXPECT_FALSE(windows.singleByte);
    EXPECT_EQ(names->Text(windows), "Sample Sans");

    EXPECT_EQ(names->Name(0), "© 2003 Bitstream");
    EXPECT_EQ(names->Name(1), "Sample Sans");
    EXPECT_EQ(names->Name(5), "Version 2.37"); // "Version " stays: the caller drops it
    EXPECT_EQ(names->Name(4), "");
    // The Mac records come first here; listed after the Windows ones they still win.
    TtfBuilder reversed = SampleFont();
    std::rotate(reversed.names.begin(), reversed.names.begin() + 3, reversed.names.end());
    EXPECT_EQ(Read(reversed.Build())->Name(0), "© 2003 Bitstream");
}

// Fills a naming table up to the six records a font needs.
std::vector<test::TtfName> Padded(std::vector<test::TtfName> names) {
    while (names.size() < 6)
        names.push_back(MacName(2, "Regular"));
    return names;
}

// A record of name 5 (the version string).
test::TtfName Record(std::uint16_t platform, std::uint16_t encoding, std::uint16_t language,
                     std::string bytes) {
    return {platform, encoding, language, 5, std::move(bytes)};
}

TEST(TrueTypeNames, ChoosesTheRecordANameComesFrom) {
    const std::string nul1("\0\x31", 2);
    struct Case {
        const char* what;
        std::vector<test::TtfName> names;
        std::string name5;
    };
    const Case cases[] = {
        {"a Mac record before an earlier Windows one",
         {WindowsName(5, u"Windows"), MacName(5, "Mac")},
         "Mac"},
        {"the first single-byte record, Mac or ISO",
         {Record(2, 2, 0, "ISO 8859-1"), MacName(5, "Mac")},
         "ISO 8859-1"},
        {"empty, NUL-first and Japanese Mac records are passed over",
         {MacName(5, ""), Record(1, 0, 0, nul1), Record(1, 1, 11, "\x93\xFA\x96\x7B"),
          WindowsName(5, u"Windows")},
         "Windows"},
        {"an all-ASCII Mac Japanese record is single-byte",
         {WindowsName(5, u"Windows"), Record(1, 1, 11, "Mac Japanese")},
         "Mac Japanese"},
        {"Windows en-US before other languages",
         {WindowsName(5, u"ja", 0x411), WindowsName(5, u"en-GB", 0x809),
          WindowsName(5, u"en-US", 0x409)},
         "en-US"},
        {"other Windows English before the Unicode platform",
         {Record(0, 3, 0, Utf16Be(u"Unicode")), WindowsName(5, u"ja", 0x411),
          WindowsName(5, u"en-GB", 0x809)},
         "en-GB"},
        {"the Unicode platform before ISO 10646",
         {WindowsName(5, u"ja", 0x411), Record(2, 1, 0, Utf16Be(u"ISO")),
          Record(0, 4, 0, Utf16Be(u"Unicode"))},
         "Unicode"},
        {"ISO 10646 before other Windows languages",
         {WindowsName(5, u"ja", 0x411), Record(2, 1, 0, Utf16Be(u"ISO"))},
         "ISO"},
        {"the first in table order among equals",
         {WindowsName(5, u"ja", 0x411), WindowsName(5, u"fr", 0x40C)},
         "ja"},
        {"UTF-16 records with no text are passed over",
         {WindowsName(5, u"", 0x409), Record(3, 1, 0x409, "A"), Record(3, 1, 0x409, {"\0\0", 2}),
          WindowsName(5, u"ja", 0x411)},
         "ja"},
        {"nothing usable",
         {MacName(5, ""), Record(1, 25, 33, "\xD6\xD0"), Record(4, 0, 0, "custom")},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TtfBuilder font;
        font.names = Padded(c.names);
        const auto names = Read(font.Build());
        ASSERT_TRUE(names);
        EXPECT_EQ(names->Name(5), c.name5);
    }
}

TEST(TrueTypeNames, DecodesEachRecordByItsPlatformAndEncoding) {
    struct Case {
        test::TtfName record;
        NameCharset charset;
        bool singleByte;
        std::string text;
    };
    const Case cases[] = {
        {MacName(3, "Caf\x8E"), NameCharset::MacRoman, true, "Café"},
        // UTF-16 in a Mac record, as some font tools write it: shown, not taken.
        {MacName(3, std::string("\0\x31", 2)), NameCharset::MacRoman, false, "1"},
        // Mac Japanese (Shift-JIS) and Simplified Chinese: never Mac Roman;
        // plain ASCII is the same in every Mac script.
        {Record(1, 1, 11, "\x93\xFA\x96\x7B"), NameCharset::MacOtherScript, false, ""},
        {Record(1, 25, 33, "\xD6\xD0"), NameCharset::MacOtherScript, false, ""},
        {Record(1, 1, 11, "Gothic 1"), NameCharset::MacOtherScript, true, "Gothic 1"},
        {Record(1, 7, 32, "Mo\xE1\xEA"), NameCharset::MacOtherScript, false, ""},
        {Record(2, 0, 0, "ASCII"), NameCharset::Latin1, true, "ASCII"},
        {Record(2, 2, 0, "Caf\xE9 \x80"), NameCharset::Latin1, true, "Café \u0080"},
        {Record(2, 1, 0, Utf16Be(u"Caf\u00E9")), NameCharset::Utf16, false, "Café"},
        {Record(0, 3, 0, Utf16Be(u"Caf\u00E9")), NameCharset::Utf16, false, "Café"},
        {Record(3, 0, 0x409, Utf16Be(u"Symbol")), NameCharset::Utf16, false, "Symbol"},
        // A first byte that is not 0 does not make a Windows string 8-bit.
        {WindowsName(3, u"\u65E5\u672C", 0x411), NameCharset::Utf16, false, "日本"},
        {Record(3, 1, 0x409, "Caf\x8E"), NameCharset::Utf16, false, "\u4361\u668E"},
        {Record(3, 10, 0x409, Utf16Be(u"\U0001F600")), NameCharset::Utf16, false, "\U0001F600"},
        // Odd lengths lose their last byte; unpaired surrogates become U+FFFD.
        {Record(3, 1, 0x409, std::string("\0A\0B\0", 5)), NameCharset::Utf16, false, "AB"},
        {Record(3, 1, 0x409, std::string("\0A\xD8", 3)), NameCharset::Utf16, false, "A"},
        {Record(3, 1, 0x409, std::string("\xD8\x3D\0A", 4)), NameCharset::Utf16, false, "\uFFFDA"},
        {Record(3, 1, 0x409, std::string("\xDE\0\0A\xD8\x3D", 6)), NameCharset::Utf16, false,
         "\uFFFDA\uFFFD"},
        // The text ends at a NUL character.
        {Record(3, 1, 0x409, std::string("\0A\0\0\0B", 6)), NameCharset::Utf16, false, "A"},
        {Record(4, 0, 0, "custom"), NameCharset::Undecoded, false, ""},
        {Record(7, 0, 0, "unknown"), NameCharset::Undecoded, false, ""},
    };
    TtfBuilder font;
    for (const Case& c : cases)
        font.names.push_back(c.record);
    const auto names = Read(font.Build());
    ASSERT_TRUE(names);
    ASSERT_EQ(names->records.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& record = names->records[i];
        EXPECT_EQ(record.charset, cases[i].charset);
        EXPECT_EQ(record.singleByte, cases[i].singleByte);
        EXPECT_EQ(names->Text(record), cases[i].text);
        // Its length and its start come without decoding the rest.
        EXPECT_EQ(names->TextLength(record), Utf8Length(cases[i].text));
        EXPECT_EQ(names->Text(record, 1), Utf8Prefix(cases[i].text, 1));
    }
}

TEST(TrueTypeNames, ScanShowsTheNamesOfFontsWithoutSingleByteRecords) {
    const std::u16string japaneseFamily = u"\u65E5\u672C\u30B4\u30B7\u30C3\u30AF";
    const std::u16string japaneseCopyright = u"\u00A9 2024 \u65E5\u672C";
    const std::vector<test::TtfName> japanese = {
        WindowsName(0, japaneseCopyright, 0x411), WindowsName(1, japaneseFamily, 0x411),
        WindowsName(2, u"\u6A19\u6E96", 0x411), WindowsName(5, u"Version 1.20", 0x411)};
    std::vector<test::TtfName> withEnglish = japanese;
    withEnglish.insert(withEnglish.end(),
                       {WindowsName(0, u"(c) 2024 Nihon"), WindowsName(1, u"Nihon Gothic"),
                        WindowsName(5, u"version 1.20a")});
    std::vector<test::TtfName> withMac = withEnglish;
    withMac.insert(withMac.end(),
                   {MacName(0, "\xA9 Mac"), MacName(1, "Nihon Mac"), MacName(5, "Version 1.19")});

    struct Case {
        const char* what;
        std::vector<test::TtfName> names;
        VersionTexts texts;
    };
    const Case cases[] = {
        {"only Japanese Windows names", japanese, {"1.20", "", "日本ゴシック", "© 2024 日本"}},
        {"Japanese and English Windows names",
         withEnglish,
         {"1.20a", "", "Nihon Gothic", "(c) 2024 Nihon"}},
        {"Mac names as well", withMac, {"1.19", "", "Nihon Mac", "© Mac"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TtfBuilder font;
        font.names = Padded(c.names);
        const std::string bytes = font.Build();
        const MemorySource source(AsBytes(bytes));
        EXPECT_EQ(ScanTexts(ReadFileVersionData(source, FileKind::TrueType)), c.texts);
    }
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
        EXPECT_EQ(names->Text(record), "");
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
    EXPECT_EQ(cut->Text(cut->records[6]), "");
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
    EXPECT_EQ(names->Text(names->records[2]), ""); // its string is gone with the cut
    EXPECT_EQ(names->Name(5), "");

    EXPECT_EQ(Read(font.substr(0, layout.nameTableAt + 5)), std::nullopt); // header cut
}

// Thousands of records all pointing at one 64 KB string: a reader that
// decoded every record would make gigabytes of text out of a 128 KB font.
TEST(TrueTypeNames, ThousandsOfRecordsSharingOneLongString) {
    // The storage: three short English texts, then one long string that
    // takes the rest of what 16-bit offsets and lengths reach.
    const std::string winners = Utf16Be(u"Copyright") + Utf16Be(u"Family") + Utf16Be(u"Version 2");
    const std::size_t longLength = 0xFFFF - winners.size();
    const std::string cjk = Utf16Be(std::u16string(longLength / 2, u'\u7206'));
    const std::string nonAscii = std::string(longLength - 1, 'A') + "\x93"; // Shift-JIS lead byte
    const std::string ascii(longLength, 'A');
    // 5,400 records of names 0, 1, 5 and 2 over the long string, then
    // optionally one English (United States) record of each shown name.
    const auto font = [&](const std::string& longText, std::uint16_t platform,
                          std::uint16_t encoding, std::uint16_t language, bool withWinners) {
        std::vector<test::TtfRecord> records;
        const std::uint16_t ids[] = {0, 1, 5, 2};
        for (std::size_t i = 0; i < 5400; ++i)
            records.push_back({platform, encoding, language, ids[i % 4],
                               static_cast<std::uint16_t>(longText.size()),
                               static_cast<std::uint16_t>(winners.size())});
        if (withWinners) {
            records.push_back({3, 1, 0x409, 0, 18, 0});
            records.push_back({3, 1, 0x409, 1, 12, 18});
            records.push_back({3, 1, 0x409, 5, 18, 30});
        }
        return test::SharedStorageFont(records, winners + longText);
    };
    std::string cjkText;
    for (std::size_t i = 0; i < cjk.size() / 2; ++i)
        cjkText += "\u7206";
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t records;
        std::string name0, name1, name5;
    };
    const Case cases[] = {
        {"Japanese Windows records, English ones last", font(cjk, 3, 1, 0x411, true), 5403,
         "Copyright", "Family", "Version 2"},
        {"Japanese Windows records only", font(cjk, 3, 1, 0x411, false), 5400, cjkText, cjkText,
         cjkText},
        {"Mac Japanese records that are not ASCII, Windows ones last",
         font(nonAscii, 1, 1, 11, true), 5403, "Copyright", "Family", "Version 2"},
        {"Mac Japanese records that are all ASCII", font(ascii, 1, 1, 11, true), 5403, ascii, ascii,
         ascii},
    };
    // Records, storage and the ASCII index of a 128 KB table fit in 1 MB.
    constexpr std::size_t kBound = 1024 * 1024;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MemorySource source(AsBytes(c.bytes));
        const auto all = ReadTrueTypeNames(source, {}, kBound);
        const auto shown = ReadTrueTypeNames(source, kShownNameIds, kBound);
        ASSERT_TRUE(all && shown);
        EXPECT_FALSE(all->budgetSpent);
        EXPECT_FALSE(shown->budgetSpent);
        EXPECT_EQ(all->records.size(), c.records);
        // The scan keeps the records of names 0, 1 and 5 only.
        EXPECT_EQ(std::count_if(all->records.begin(), all->records.end(),
                                [](const auto& r) { return r.nameId != 2; }),
                  static_cast<std::ptrdiff_t>(shown->records.size()));
        for (const auto* names : {&*all, &*shown}) {
            EXPECT_EQ(names->Name(0), c.name0);
            EXPECT_EQ(names->Name(1), c.name1);
            EXPECT_EQ(names->Name(5), c.name5);
        }
    }
}

// What a reader cannot pay for is left out as if the file ended there.
TEST(TrueTypeNames, BudgetLeavesOutWhatItCannotPayFor) {
    const std::string bytes = SampleFont().Build();   // 2 tables, 6 records
    constexpr std::size_t kHeaders = 12 + 2 * 16 + 6; // offset table, directory, name header
    constexpr std::size_t kRecord = 12 + sizeof(TrueTypeNameRecord);
    struct Case {
        std::size_t budget;
        bool read;
        std::size_t records;
        std::string family;
        bool spent;
    };
    const Case cases[] = {
        {0, false, 0, "", true},
        {kHeaders - 1, false, 0, "", true},
        {kHeaders + 4 * kRecord, true, 4, "", true},      // no storage left
        {kHeaders + 6 * kRecord + 20, true, 6, "", true}, // storage cut before name 1
        {kHeaders + 6 * kRecord + 27, true, 6, "Sample Sans", true},
        {kReadBudgetBytes, true, 6, "Sample Sans", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.budget);
        const MemorySource source(AsBytes(bytes));
        const auto names = ReadTrueTypeNames(source, {}, c.budget);
        ASSERT_EQ(names.has_value(), c.read);
        if (!names)
            continue;
        EXPECT_EQ(names->records.size(), c.records);
        EXPECT_EQ(names->Name(1), c.family);
        EXPECT_EQ(names->budgetSpent, c.spent);
    }
}

TEST(TrueTypeNames, RealDejaVuSans) {
    const std::string path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << path << " is not installed";
    const auto file = OpenedFile::Open(path);
    ASSERT_TRUE(file);
    const auto names = ReadTrueTypeNames(*file);
    ASSERT_TRUE(names);
    EXPECT_EQ(names->Name(1), "DejaVu Sans");
    EXPECT_EQ(names->Name(5), "Version 2.37");
}

} // namespace
} // namespace sorvane
