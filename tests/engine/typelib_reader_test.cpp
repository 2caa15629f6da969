#include "engine/formats/byte_source.h"
#include "engine/formats/typelib_reader.h"
#include "support/byte_builder.h"
#include "support/typelib_builder.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

using test::MsftBuilder;
using test::MsftLayout;
using test::PutU16;
using test::PutU32;
using test::SltgBuilder;
using test::SltgLayout;

constexpr const char* kSampleGuid = "{12345678-9ABC-DEF0-1122-334455667788}";

std::optional<TypeLibraryInfo> Parse(const std::string& bytes) {
    const MemorySource source(AsBytes(bytes));
    return ParseTypeLibrary(source);
}

void Put32(std::string& data, std::size_t at, std::uint32_t value) {
    PutU32(data, at, value, Endian::Little);
}

// ---------------------------------------------------------------------------
// MSFT

MsftBuilder SampleMsft() {
    MsftBuilder lib;
    lib.major = 1;
    lib.minor = 12;
    lib.helpString = "Sample Type Library";
    lib.helpFile = "sample.hlp";
    lib.helpContext = 42;
    lib.flags = 2; // control
    lib.sysKind = 3;
    return lib;
}

TEST(MsftTypeLibrary, ReadsTheLibraryAttributes) {
    const auto info = Parse(SampleMsft().Build());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->format, TypeLibraryFormat::Msft);
    EXPECT_EQ(info->majorVersion, 1);
    EXPECT_EQ(info->minorVersion, 12);
    EXPECT_EQ(info->lcid, 0u); // 0x409 at 0x0C is the compiler's, not the library's
    EXPECT_EQ(info->helpString, "Sample Type Library");
    EXPECT_EQ(info->helpFile, "sample.hlp");
    EXPECT_EQ(info->helpContext, 42u);
    EXPECT_EQ(info->flags, 2);
    EXPECT_EQ(info->sysKind, 3);
    EXPECT_EQ(info->name, "TestLib"); // the hash in the length word's upper bits is ignored
    EXPECT_EQ(info->guid, kSampleGuid);
}

TEST(MsftTypeLibrary, DeclaredLocaleAndAbsentFields) {
    MsftBuilder lib;
    lib.declaredLcid = 0x407;
    lib.guid.reset();
    lib.helpString = "Caf\xE9"; // Windows-1252 e acute
    const auto info = Parse(lib.Build());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->lcid, 0x407u);
    EXPECT_EQ(info->helpString, "Café");
    EXPECT_EQ(info->helpFile, "");
    EXPECT_EQ(info->guid, "");
    EXPECT_EQ(info->name, "TestLib");
}

TEST(MsftTypeLibrary, HelpDllAndTypeInfosMoveTheSegmentDirectory) {
    MsftBuilder lib = SampleMsft();
    lib.helpDll = "samplehelp.dll";
    lib.typeInfoCount = 3;
    MsftLayout layout;
    const std::string bytes = lib.Build(&layout);
    EXPECT_EQ(layout.directoryAt, 0x54u + 4 + 3 * 4);
    const auto info = Parse(bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->helpString, "Sample Type Library");
    EXPECT_EQ(info->name, "TestLib");
    EXPECT_EQ(info->guid, kSampleGuid);

    // Without the flag the directory is looked for four bytes early.
    std::string damaged = bytes;
    Put32(damaged, 0x14, 0x10 | 0x40 | 3);
    EXPECT_EQ(Parse(damaged), std::nullopt);
}

TEST(MsftTypeLibrary, DamagedHeaderGivesNothing) {
    MsftLayout layout;
    const std::string good = SampleMsft().Build(&layout);

    std::string damaged = good;
    damaged[3] = 'X';
    EXPECT_EQ(Parse(damaged), std::nullopt);
    EXPECT_EQ(Parse(good.substr(0, 0x53)), std::nullopt);
    EXPECT_EQ(Parse(""), std::nullopt);

    for (const std::size_t record : {0, 1}) {
        damaged = good;
        Put32(damaged, layout.directoryAt + 16 * record + 12, 0x0E);
        EXPECT_EQ(Parse(damaged), std::nullopt) << "segment " << record;
    }

    for (const std::uint32_t count : {0x7FFFFFFFu, 0xFFFFFFFFu}) {
        damaged = good;
        Put32(damaged, 0x20, count);
        EXPECT_EQ(Parse(damaged), std::nullopt) << std::hex << count;
    }

    // The directory is needed whole; a file that ends right after it is fine,
    // though the tables behind it are gone.
    EXPECT_EQ(Parse(good.substr(0, layout.directoryAt + 239)), std::nullopt);
    const auto bare = Parse(good.substr(0, layout.directoryAt + 240));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->majorVersion, 1);
    EXPECT_EQ(bare->minorVersion, 12);
    EXPECT_EQ(bare->helpContext, 42u);
    EXPECT_EQ(bare->helpString, "");
    EXPECT_EQ(bare->name, "");
    EXPECT_EQ(bare->guid, "");
}

TEST(MsftTypeLibrary, StringReferencesAreCheckedAgainstTheirSegment) {
    MsftLayout layout;
    const std::string good = SampleMsft().Build(&layout);
    const std::size_t stringSegmentAt = layout.directoryAt + 8 * 16;
    const std::size_t helpStringAt = layout.stringTableAt + layout.helpStringOffset;
    const std::uint32_t segmentLength = 24 + 12; // both entries, padded
    ASSERT_EQ(good.size(), layout.stringTableAt + segmentLength);

    const auto helpOf = [](const std::string& bytes) {
        const auto info = Parse(bytes);
        return info ? info->helpString : std::string("(nothing)");
    };

    std::string damaged = good;
    Put32(damaged, 0x24, segmentLength); // offset at the segment's end
    EXPECT_EQ(helpOf(damaged), "");
    Put32(damaged, 0x24, segmentLength - 1); // length field crosses the end
    EXPECT_EQ(helpOf(damaged), "");
    Put32(damaged, 0x24, 0xFFFFFFF8); // negative offset
    EXPECT_EQ(helpOf(damaged), "");

    damaged = good;
    PutU16(damaged, helpStringAt, 0x7000, Endian::Little); // runs past the segment
    EXPECT_EQ(helpOf(damaged), "");
    PutU16(damaged, helpStringAt, 0xFFFB, Endian::Little); // -5
    EXPECT_EQ(helpOf(damaged), "");
    PutU16(damaged, helpStringAt, 20, Endian::Little);  // up to the help file's entry
    EXPECT_EQ(helpOf(damaged), "Sample Type LibraryW"); // with a padding byte

    // A segment that claims to reach past the file, or has a negative length.
    damaged = good;
    Put32(damaged, stringSegmentAt + 4, 0x100);
    EXPECT_EQ(helpOf(damaged), "Sample Type Library"); // the entry itself is inside
    Put32(damaged, stringSegmentAt, 0x7FFFFFF0);
    EXPECT_EQ(helpOf(damaged), "");
    damaged = good;
    Put32(damaged, stringSegmentAt + 4, 0xFFFFFFFF);
    const auto info = Parse(damaged);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->helpString, "");
    EXPECT_EQ(info->helpFile, "");
    EXPECT_EQ(info->name, "TestLib"); // other segments are unaffected
    EXPECT_EQ(info->guid, kSampleGuid);
}

TEST(MsftTypeLibrary, GuidAndNameReferencesAreChecked) {
    const std::string good = SampleMsft().Build();
    std::string damaged = good;
    Put32(damaged, 0x08, 9); // 9 + 16 is past the 24-byte GUID table
    Put32(damaged, 0x38, 4); // the name prefix would end past the name table
    auto info = Parse(damaged);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->guid, "");
    EXPECT_EQ(info->name, "");

    Put32(damaged, 0x08, 8); // the last 16 bytes of the table: still inside
    Put32(damaged, 0x38, 0xFFFFFFFF);
    info = Parse(damaged);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->guid, "{44332211-6655-8877-FFFF-FFFFFFFFFFFF}");
    EXPECT_EQ(info->name, "");
}

// ---------------------------------------------------------------------------
// SLTG

SltgBuilder SampleSltg() {
    SltgBuilder lib;
    lib.major = 2;
    lib.minor = 5;
    lib.lcid = 0x0009;
    lib.sysKind = 0;
    lib.flags = 4; // hidden
    lib.helpContext = 7;
    lib.helpString = "Old Library";
    lib.helpFile = "old.hlp";
    return lib;
}

TEST(SltgTypeLibrary, ReadsTheLibraryBlock) {
    const auto info = Parse(SampleSltg().Build());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->format, TypeLibraryFormat::Sltg);
    EXPECT_EQ(info->majorVersion, 2);
    EXPECT_EQ(info->minorVersion, 5);
    EXPECT_EQ(info->lcid, 9u);
    EXPECT_EQ(info->helpString, "Old Library");
    EXPECT_EQ(info->helpFile, "old.hlp");
    EXPECT_EQ(info->helpContext, 7u);
    EXPECT_EQ(info->sysKind, 0);
    EXPECT_EQ(info->flags, 4);
    EXPECT_EQ(info->guid, kSampleGuid);
    EXPECT_EQ(info->name, "OldLib");
}

TEST(SltgTypeLibrary, KeepsOnlyLocalesWithoutSubLanguage) {
    SltgBuilder lib = SampleSltg();
    for (const auto& [stored, reported] : {std::pair{0x0000, 0x0000},
                                           {0x0009, 0x0009},
                                           {0x0409, 0x0000},
                                           {0x0407, 0x0000},
                                           {0x03FF, 0x03FF},
                                           {0x0C07, 0x0000}}) {
        lib.lcid = static_cast<std::uint16_t>(stored);
        const auto info = Parse(lib.Build());
        ASSERT_TRUE(info);
        EXPECT_EQ(info->lcid, static_cast<std::uint32_t>(reported)) << std::hex << stored;
    }
}

TEST(SltgTypeLibrary, FollowsTheBlockChain) {
    SltgBuilder lib = SampleSltg();
    lib.typeInfos = {{0x30, 0}, {0x44, 3}};
    for (const auto& chain : {std::vector<std::uint16_t>{1, 2, 3}, {2, 3, 1}, {3, 1, 2}}) {
        lib.chain = chain;
        const auto info = Parse(lib.Build());
        ASSERT_TRUE(info) << chain[0];
        EXPECT_EQ(info->majorVersion, 2);
        EXPECT_EQ(info->helpString, "Old Library");
        EXPECT_EQ(info->name, "OldLib");
    }
}

TEST(SltgTypeLibrary, SkipWordAndNameTableVariants) {
    SltgBuilder lib = SampleSltg();
    lib.skipBytes = 6;
    lib.nameTableExtraHeader = true;
    lib.helpString.reset();
    const auto info = Parse(lib.Build());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->helpString, "");
    EXPECT_EQ(info->helpFile, "old.hlp");
    EXPECT_EQ(info->minorVersion, 5);
    EXPECT_EQ(info->name, "OldLib");
}

TEST(SltgTypeLibrary, DamagedChainGivesNothing) {
    SltgBuilder lib = SampleSltg();
    lib.typeInfos = {{0x30, 0}, {0x30, 0}};
    lib.chain = {2, 3, 1};
    SltgLayout layout;
    const std::string good = lib.Build(&layout);
    ASSERT_TRUE(Parse(good));
    const auto nextOf = [&](std::size_t entry) { return layout.entriesAt + 8 * (entry - 1) + 6; };
    const auto lengthOf = [&](std::size_t entry) { return layout.entriesAt + 8 * (entry - 1); };

    // Cycles through blocks of length 0 never run past the end of the file:
    // only the step count stops them.
    std::string damaged = good;
    for (const std::size_t entry : {1, 2, 3})
        PutU32(damaged, lengthOf(entry), 0, Endian::Little);
    const std::string empty = damaged;
    PutU16(damaged, nextOf(1), 2, Endian::Little); // 2 -> 3 -> 1 -> 2 ...
    EXPECT_EQ(Parse(damaged), std::nullopt);
    damaged = empty;
    PutU16(damaged, nextOf(3), 3, Endian::Little); // 2 -> 3 -> 3 ...
    EXPECT_EQ(Parse(damaged), std::nullopt);

    damaged = good;
    PutU16(damaged, nextOf(2), 4, Endian::Little); // no such entry
    EXPECT_EQ(Parse(damaged), std::nullopt);

    damaged = good;
    PutU32(damaged, lengthOf(2), 0xFFFFFFF0, Endian::Little); // skips past the end
    EXPECT_EQ(Parse(damaged), std::nullopt);

    for (const std::uint16_t first : {0, 4}) {
        damaged = good;
        PutU16(damaged, 0x0A, first, Endian::Little);
        EXPECT_EQ(Parse(damaged), std::nullopt) << first;
    }

    // A lone library block that names itself as its successor.
    SltgLayout single;
    damaged = SampleSltg().Build(&single);
    PutU32(damaged, single.entriesAt, 0, Endian::Little);
    PutU16(damaged, single.entriesAt + 6, 1, Endian::Little);
    EXPECT_EQ(Parse(damaged), std::nullopt);
}

TEST(SltgTypeLibrary, DamagedHeaderGivesNothing) {
    SltgLayout layout;
    const std::string good = SampleSltg().Build(&layout);

    std::string damaged = good;
    damaged[layout.magicAt + 10] = 'X'; // "dXr"
    EXPECT_EQ(Parse(damaged), std::nullopt);

    for (const std::uint16_t blocks : {0, 1, 0xFFFF}) {
        damaged = good;
        PutU16(damaged, 4, blocks, Endian::Little);
        EXPECT_EQ(Parse(damaged), std::nullopt) << blocks;
    }
    EXPECT_EQ(Parse(good.substr(0, 0x23)), std::nullopt);
    EXPECT_EQ(Parse(good.substr(0, layout.magicAt + 12)), std::nullopt);
}

TEST(SltgTypeLibrary, DamagedLibraryBlock) {
    SltgLayout layout;
    const std::string good = SampleSltg().Build(&layout);

    std::string damaged = good;
    PutU16(damaged, layout.libraryBlockAt, 0x51CD, Endian::Little);
    EXPECT_EQ(Parse(damaged), std::nullopt);

    damaged = good;
    PutU16(damaged, layout.helpStringAt, 0xFFF0, Endian::Little); // past the end
    EXPECT_EQ(Parse(damaged), std::nullopt);

    damaged = good;
    PutU16(damaged, layout.libraryBlockAt + 6, 0xFFF0, Endian::Little); // skip past the end
    EXPECT_EQ(Parse(damaged), std::nullopt);

    // Fields up to the GUID are all that is needed; the name is found later.
    const std::size_t guidEnd =
        layout.helpStringAt + (2 + 11) + (2 + 7) + 4 + 2 + 2 + 4 + 2 + 2 + 2 + 16;
    EXPECT_EQ(Parse(good.substr(0, guidEnd - 1)), std::nullopt);
    const auto bare = Parse(good.substr(0, guidEnd));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->guid, kSampleGuid);
    EXPECT_EQ(bare->helpFile, "old.hlp");
    EXPECT_EQ(bare->name, "");
}

TEST(SltgTypeLibrary, LostNameTableLeavesTheNameEmpty) {
    SltgBuilder lib = SampleSltg();
    lib.typeInfos = {{0x30, 2}};
    SltgLayout layout;
    const std::string good = lib.Build(&layout);
    ASSERT_EQ(Parse(good)->name, "OldLib");

    std::string damaged = good;
    PutU32(damaged, layout.nameTableOffsetAt, 0x7FFFFFF0, Endian::Little);
    auto info = Parse(damaged);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->name, "");
    EXPECT_EQ(info->helpString, "Old Library");

    // The name must end with a NUL inside the file.
    info = Parse(good.substr(0, good.size() - 1));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->name, "");
}

// ---------------------------------------------------------------------------
// Counts and lengths at their largest

TEST(TypeLibrary, HugeCountsStayWithinTheBudget) {
    MsftBuilder longStrings;
    longStrings.helpString = std::string(0x7FFF, 'h');
    longStrings.helpFile = std::string(0x7FFF, 'f');
    std::string hugeCount = MsftBuilder().Build();
    Put32(hugeCount, 0x20, 0x7FFFFFFF); // type infos: the directory lies 8 GB away

    // The most blocks the 16-bit block count allows: 65,533 type infos.
    const auto sltg = [](std::size_t typeInfos) {
        SltgBuilder lib = SampleSltg();
        lib.typeInfos.assign(typeInfos, {2, 0});
        return lib.Build();
    };
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t budget;
        bool parsed;
        std::size_t helpStringSize;
        std::string name;
    };
    const Case cases[] = {
        {"MSFT claiming 2^31 - 1 type infos", hugeCount, kReadBudgetBytes, false, 0, ""},
        {"MSFT with 32,767-byte help texts", longStrings.Build(), kReadBudgetBytes, true, 0x7FFF,
         "TestLib"},
        {"SLTG of 10,000 type infos", sltg(10000), kReadBudgetBytes, true, 11, "OldLib"},
        // The type-info summaries run past the 1 MB read of the library
        // block, so the name behind them is not found.
        {"SLTG of 65,533 type infos", sltg(65533), kReadBudgetBytes, true, 11, ""},
        // Its block entries alone take 1 MB: 512 KB read and 512 KB kept.
        {"SLTG of 65,533 type infos, 1 MB budget", sltg(65533), 1024 * 1024, false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MemorySource source(AsBytes(c.bytes));
        const auto info = ParseTypeLibrary(source, c.budget);
        ASSERT_EQ(info.has_value(), c.parsed);
        if (!info)
            continue;
        EXPECT_EQ(info->helpString.size(), c.helpStringSize);
        EXPECT_EQ(info->name, c.name);
    }
}

} // namespace
} // namespace sorvane
