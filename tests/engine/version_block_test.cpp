#include "engine/formats/version_block.h"
#include "engine/formats/version_reader.h"
#include "engine/text/text_utils.h"
#include "support/byte_writer.h"
#include "support/version_block_builder.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <sstream>

namespace sorvane {
namespace {

using test::ByteSpan;
using test::Container;
using test::FixedInfoBytes;
using test::RootNode;
using test::Serialize16;
using test::Serialize32;
using test::StandardBlock32;
using test::StringNode;
using test::StringNode16;
using test::TranslationNode;
using test::VersionNode;

std::optional<VersionInfo> Parse(const std::string& block) {
    return ParseVersionBlock(ByteSpan(block));
}

std::vector<std::string> Names(const StringTable& table) {
    std::vector<std::string> out;
    for (const VersionString& s : table.strings)
        out.push_back(s.name);
    return out;
}

TEST(VersionBlock, ReadsFixedInfoTranslationsAndStrings) {
    const std::string block = Serialize32(RootNode(
        FixedInfoBytes(0x00010002, 0x00030004, 0x00050006, 0x00070008),
        {Container("StringFileInfo",
                   {Container("040904B0", {StringNode("CompanyName", "Brannock Ltd"),
                                           StringNode("FileDescription", "Test © library"),
                                           StringNode("FileVersion", "1.2.3.4")}),
                    Container("040704B0", {StringNode("FileDescription", "Testbibliothek")})}),
         Container("VarFileInfo", {TranslationNode({{0x0409, 0x04B0}, {0x0407, 0x04B0}})})}));

    const auto info = Parse(block);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->sixteenBit);
    ASSERT_TRUE(info->fixed);
    EXPECT_EQ(info->fixed->signature, 0xFEEF04BDu);
    EXPECT_EQ(info->fixed->structVersion, 0x00010000u);
    EXPECT_EQ(info->fixed->fileVersionMS, 0x00010002u);
    EXPECT_EQ(info->fixed->fileVersionLS, 0x00030004u);
    EXPECT_EQ(info->fixed->productVersionMS, 0x00050006u);
    EXPECT_EQ(info->fixed->productVersionLS, 0x00070008u);
    EXPECT_EQ(info->fixed->fileFlagsMask, 0x3Fu);
    EXPECT_EQ(info->fixed->fileOS, 0x40004u);
    EXPECT_EQ(info->fixed->fileType, 2u);
    EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0409, 0x04B0}, {0x0407, 0x04B0}}));
    ASSERT_EQ(info->stringTables.size(), 2u);
    EXPECT_EQ(info->stringTables[0].key, "040904B0");
    EXPECT_EQ(Names(info->stringTables[0]),
              (std::vector<std::string>{"CompanyName", "FileDescription", "FileVersion"}));
    EXPECT_EQ(info->stringTables[0].strings[1].value, "Test © library");
    EXPECT_EQ(info->stringTables[0].strings[1].valueLength, 15); // characters with the NUL
    EXPECT_EQ(info->stringTables[1].key, "040704B0");

    // Table key and name in any letter case, as the Windows query allows.
    EXPECT_EQ(info->QueryString("040904b0", "FILEDESCRIPTION"), "Test © library");
    EXPECT_EQ(info->QueryString("040904B0", "companyname"), "Brannock Ltd");
    EXPECT_EQ(info->QueryString("040704b0", "FileDescription"), "Testbibliothek");
    // No falling back to another table.
    EXPECT_EQ(info->QueryString("040704B0", "CompanyName"), std::nullopt);
    EXPECT_EQ(info->QueryString("041104B0", "CompanyName"), std::nullopt);
}

TEST(VersionBlock, FindsContainersByKeyWhateverTheirTypeAndOrder) {
    // Wine's resource compiler writes wType 0 on the containers; some files
    // put VarFileInfo first; container keys are matched in any case.
    const std::string block = Serialize32(
        RootNode(FixedInfoBytes(0x000A0000, 0, 0x000A0000, 0),
                 {Container("VARFILEINFO", {TranslationNode({{0x0000, 0x04B0}})}, 0),
                  Container("stringfileinfo",
                            {Container("000004b0", {StringNode("ProductName", "Wine")}, 0)}, 0)}));
    const auto info = Parse(block);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0000, 0x04B0}}));
    EXPECT_EQ(info->QueryString("000004B0", "ProductName"), "Wine");
}

TEST(VersionBlock, ReadsTextUpToItsNulWhateverTheStoredLengthSays) {
    VersionNode inBytes = StringNode("InBytes", "twice"); // some writers count bytes
    inBytes.valueLength = 12;
    VersionNode tooSmall = StringNode("TooSmall", "Hello"); // and some store too little
    tooSmall.valueLength = 3;
    VersionNode zero = StringNode("Zero", "ignored"); // Windows reports length 0
    zero.valueLength = 0;
    VersionNode empty = StringNode("Empty", "");     // just the NUL: present, empty
    VersionNode noValue = StringNode("NoValue", ""); // no value bytes at all
    noValue.value.clear();
    noValue.valueLength = 0;

    const auto info = Parse(StandardBlock32({inBytes, tooSmall, zero, empty, noValue}));
    ASSERT_TRUE(info);
    ASSERT_EQ(info->stringTables.size(), 1u);
    const auto& strings = info->stringTables[0].strings;
    ASSERT_EQ(strings.size(), 5u);
    EXPECT_EQ(info->QueryString("040904B0", "InBytes"), "twice");
    EXPECT_EQ(strings[0].valueLength, 12);
    EXPECT_EQ(info->QueryString("040904B0", "TooSmall"), "Hello");
    EXPECT_EQ(info->QueryString("040904B0", "Zero"), std::nullopt);
    EXPECT_EQ(strings[2].valueLength, 0);
    EXPECT_EQ(info->QueryString("040904B0", "Empty"), "");
    EXPECT_EQ(strings[3].valueLength, 1);
    EXPECT_EQ(info->QueryString("040904B0", "NoValue"), std::nullopt);
    EXPECT_EQ(strings[4].name, "NoValue");
}

TEST(VersionBlock, ReadsKeysAndTextsOfEveryLengthWithAnyCharacterAnywhere) {
    // Texts are scanned several characters at a time: a character that is
    // not ASCII (one whose low byte is, too) or a NUL must count wherever it
    // falls among them, and a text may end anywhere.
    const std::string others[] = {"é", "Ā", "€", "😀"};
    for (std::size_t length = 0; length <= 17; ++length) {
        SCOPED_TRACE(testing::Message() << "length " << length);
        std::vector<VersionNode> strings;
        std::vector<std::pair<std::string, std::string>> expected;
        const auto add = [&](std::string key, std::string text, std::string_view shown) {
            strings.push_back(StringNode(key, text));
            expected.emplace_back(std::move(key), std::string(shown));
        };
        for (std::size_t at = 0; at < length; ++at) {
            for (const std::string& other : others) {
                std::string text(length, 'a');
                text.replace(at, 1, other);
                add("K" + text, text, text);
            }
            // A NUL at `at` ends the text there, whatever follows it.
            std::string cut(length, 'b');
            cut[at] = '\0';
            cut += "€Ā";
            add("N" + std::to_string(at), cut, std::string_view(cut).substr(0, at));
        }
        add(std::string(length, 'k') + "!", std::string(length, 'c'), std::string(length, 'c'));
        const auto info = Parse(StandardBlock32(strings));
        ASSERT_TRUE(info);
        ASSERT_EQ(info->stringTables.size(), 1u);
        const auto& table = info->stringTables[0].strings;
        ASSERT_EQ(table.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(table[i].name, expected[i].first);
            EXPECT_EQ(table[i].value, expected[i].second) << expected[i].first;
            EXPECT_EQ(info->QueryString("040904B0", expected[i].first), expected[i].second);
        }
    }
}

// Everything a parse gives, as text, so two results compare field by field.
std::string Describe(const std::optional<VersionInfo>& info) {
    if (!info)
        return "nothing";
    std::ostringstream out;
    out << (info->sixteenBit ? "16-bit" : "32-bit") << (info->budgetSpent ? ", spent" : "");
    if (info->fixed)
        out << ", fixed " << info->fixed->fileVersionMS << "." << info->fixed->fileVersionLS;
    for (const Translation& t : info->translations)
        out << ", translation " << t.language << "/" << t.codePage;
    for (const StringTable& table : info->stringTables) {
        out << "\ntable " << table.key << " in block " << table.block;
        for (const VersionString& s : table.strings)
            out << "\n  " << s.name << "=" << s.value << " (" << s.valueLength << ")";
    }
    return out.str();
}

TEST(VersionBlock, ParsingIntoAnEarlierResultGivesWhatAFreshParseGives) {
    // Blocks with more and fewer tables, strings and translations than the
    // one before, one that is no block at all, one whose budget runs out:
    // parsed one after the other into the same result, each must come out
    // as a parse of its own gives it, nothing left from the one before.
    const std::string many = Serialize32(RootNode(
        FixedInfoBytes(0x00050001, 0x00020003, 1, 0),
        {Container("StringFileInfo",
                   {Container("040904B0", {StringNode("FileDescription", "A long description"),
                                           StringNode("LegalCopyright", "(c) Many"),
                                           StringNode("ProductName", "Many")}),
                    Container("040704B0", {StringNode("FileDescription", "Beschreibung")})}),
         Container("StringFileInfo", {Container("040C04B0", {StringNode("Comments", "deux")})}),
         Container("VarFileInfo", {TranslationNode({{0x0409, 0x04B0}, {0x0407, 0x04B0}})})}));
    const std::string few = Serialize32(
        RootNode(FixedInfoBytes(0x00010000, 0, 1, 0),
                 {Container("StringFileInfo",
                            {Container("041104B0", {StringNode("LegalCopyright", "€")})})}));
    const std::string unsigned_ = Serialize32(RootNode(std::string(52, '\0'), {}));
    const std::string sixteen = Serialize16(
        RootNode(FixedInfoBytes(0x00030000, 1, 1, 0),
                 {Container("StringFileInfo",
                            {Container("040904E4", {StringNode16("FileDescription", "Alt")})}),
                  Container("VarFileInfo", {TranslationNode({{0x0409, 0x04E4}})})}));
    const std::string none = "VS_VERSION_INFO, but no block";
    const std::string_view rowStrings[] = {"FileDescription", "LegalCopyright"};
    struct Parse {
        const std::string* block;
        std::size_t budget;
        bool onlyRowStrings;
    };
    const Parse parses[] = {
        {&many, kReadBudgetBytes, false},   {&few, kReadBudgetBytes, false},
        {&many, kReadBudgetBytes, true},    {&unsigned_, kReadBudgetBytes, false},
        {&many, kReadBudgetBytes, false},   {&none, kReadBudgetBytes, false},
        {&sixteen, kReadBudgetBytes, true}, {&many, 300, false},
        {&few, kReadBudgetBytes, true},     {&many, kReadBudgetBytes, true},
    };
    VersionInfo reused;
    for (std::size_t i = 0; i < std::size(parses); ++i) {
        const Parse& p = parses[i];
        SCOPED_TRACE(testing::Message() << "parse " << i);
        const auto only = p.onlyRowStrings ? std::span<const std::string_view>(rowStrings)
                                           : std::span<const std::string_view>();
        const auto fresh = ParseVersionBlock(ByteSpan(*p.block), p.budget, only);
        const bool parsed = ParseVersionBlockInto(ByteSpan(*p.block), reused, p.budget, only);
        ASSERT_EQ(parsed, fresh.has_value());
        if (parsed) {
            EXPECT_EQ(Describe(reused), Describe(fresh));
        }
    }
    // The blocks are what they were made to be.
    EXPECT_TRUE(ParseVersionBlock(ByteSpan(many), 300)->budgetSpent);
    EXPECT_TRUE(ParseVersionBlock(ByteSpan(sixteen))->sixteenBit);
    EXPECT_FALSE(ParseVersionBlock(ByteSpan(unsigned_))->fixed);
}

TEST(VersionBlock, MatchesKeysOverTheirWholeLengthAndTakesTheFirstMatch) {
    const std::string block = Serialize32(
        RootNode(FixedInfoBytes(1, 0, 1, 0),
                 {Container("StringFileInfo",
                            {Container("040904B0", {StringNode("ProductName", "first"),
                                                    StringNode("productname", "second")}),
                             Container("040904b0", {StringNode("Comments", "later table")})})}));
    const auto info = Parse(block);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString("040904B0", "Product"), std::nullopt);
    EXPECT_EQ(info->QueryString("040904B0", "ProductNames"), std::nullopt);
    EXPECT_EQ(info->QueryString("040904B", "ProductName"), std::nullopt);
    EXPECT_EQ(info->QueryString("040904B0", "PRODUCTNAME"), "first");
    // Only the first table with the key is searched.
    EXPECT_EQ(info->QueryString("040904B0", "Comments"), std::nullopt);
    EXPECT_TRUE(info->translations.empty());
}

TEST(VersionBlock, AlignsEveryValueEvenWhenTheWriterLeftOutThePadding) {
    // A String node with the key "A" ends its key at offset 10 and must pad
    // to 12; this one puts the value right after the key. Windows reads the
    // value from the aligned offset, and so do we.
    std::string raw;
    test::AppendU16(raw, 18);    // wLength
    test::AppendU16(raw, 4);     // wValueLength
    test::AppendU16(raw, 1);     // wType: text
    raw += test::Utf16Le("A");   // szKey
    test::AppendU16(raw, 0);     // its NUL; no padding follows
    raw += test::Utf16Le("XYZ"); // Value at offset 10
    test::AppendU16(raw, 0);     // its NUL
    VersionNode unpadded;
    unpadded.raw = raw;

    const auto info = Parse(StandardBlock32({unpadded, StringNode("Next", "kept")}));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString("040904B0", "A"), "YZ");
    EXPECT_EQ(info->QueryString("040904B0", "Next"), "kept");
}

TEST(VersionBlock, ReadsTheSixteenBitLayoutOfNeFiles) {
    const std::string block = Serialize16(RootNode(
        FixedInfoBytes(0x00030000, 0x000A0000, 0x00030000, 0x000A0000),
        {Container("StringFileInfo",
                   {Container("040904E4", {StringNode16("LegalCopyright", "\xA9 1994 Brannock"),
                                           StringNode16("Comments", "\x80 5"),
                                           StringNode16("FileVersion", "3.10")})}),
         Container("VarFileInfo", {TranslationNode({{0x0409, 0x04E4}})})}));
    // The fixed info sits right after the 16-byte key.
    ASSERT_EQ(block.substr(0x14, 4), std::string("\xBD\x04\xEF\xFE", 4));

    const auto info = Parse(block);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->sixteenBit);
    ASSERT_TRUE(info->fixed);
    EXPECT_EQ(info->fixed->fileVersionMS, 0x00030000u);
    EXPECT_EQ(info->fixed->fileVersionLS, 0x000A0000u);
    EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0409, 0x04E4}}));
    ASSERT_EQ(info->stringTables.size(), 1u);
    EXPECT_EQ(info->stringTables[0].key, "040904E4");
    EXPECT_EQ(info->QueryString("040904e4", "legalcopyright"), "© 1994 Brannock");
    EXPECT_EQ(info->QueryString("040904E4", "Comments"), "€ 5");
    EXPECT_EQ(info->QueryString("040904E4", "FileVersion"), "3.10");
    EXPECT_EQ(info->stringTables[0].strings[2].valueLength, 5); // bytes with the NUL
}

TEST(VersionBlock, RefusesAnUnusableRoot) {
    const std::string good = StandardBlock32({StringNode("A", "b")});
    ASSERT_TRUE(Parse(good));

    EXPECT_EQ(Parse(""), std::nullopt);
    EXPECT_EQ(Parse(good.substr(0, 5)), std::nullopt); // header cut
    std::string zeroLength = good;
    test::PutU16(zeroLength, 0, 0); // wLength 0
    EXPECT_EQ(Parse(zeroLength), std::nullopt);
    std::string shortLength = good;
    test::PutU16(shortLength, 0, 5); // shorter than the header
    EXPECT_EQ(Parse(shortLength), std::nullopt);
    VersionNode wrongKey = RootNode(FixedInfoBytes(1, 0, 1, 0), {});
    wrongKey.key = "VS_VERSION_INF";
    EXPECT_EQ(Parse(Serialize32(wrongKey)), std::nullopt);
    // The block ends exactly after the root's key: usable, with nothing in it.
    const std::string bare = Serialize32(RootNode("", {})).substr(0, 38);
    const auto info = Parse(bare);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->fixed);
    EXPECT_TRUE(info->stringTables.empty());
}

TEST(VersionBlock, DropsAFixedInfoThatIsShortCutOrUnsigned) {
    const std::string good = Serialize32(RootNode(FixedInfoBytes(7, 8, 9, 10), {}));
    ASSERT_EQ(good.size(), 0x28u + 52);
    ASSERT_TRUE(Parse(good)->fixed);

    // The root's length ends exactly at the end of the fixed info, or one
    // byte before it.
    std::string exact = good + std::string(8, '\0');
    test::PutU16(exact, 0, 0x28 + 52);
    ASSERT_TRUE(Parse(exact)->fixed);
    EXPECT_EQ(Parse(exact)->fixed->fileVersionLS, 8u);
    std::string cut = exact;
    test::PutU16(cut, 0, 0x28 + 51);
    EXPECT_FALSE(Parse(cut)->fixed);
    EXPECT_FALSE(Parse(good.substr(0, good.size() - 1))->fixed); // buffer ends first

    VersionNode shortValue = RootNode(FixedInfoBytes(7, 8, 9, 10), {});
    shortValue.valueLength = 50;
    EXPECT_FALSE(Parse(Serialize32(shortValue))->fixed);

    std::string unsignedInfo = good;
    unsignedInfo[0x28] = '\0'; // signature BD 04 EF FE -> 00 04 EF FE
    EXPECT_FALSE(Parse(unsignedInfo)->fixed);
}

TEST(VersionBlock, SkipsDamagedChildren) {
    // A child whose length is 0 ends its parent's list.
    VersionNode zeroLength = StringNode("B", "lost");
    zeroLength.lengthOverride = 0;
    auto info = Parse(StandardBlock32({StringNode("A", "kept"), zeroLength, StringNode("C", "x")}));
    ASSERT_TRUE(info);
    EXPECT_EQ(Names(info->stringTables.at(0)), (std::vector<std::string>{"A"}));
    EXPECT_EQ(info->translations.size(), 1u); // the next container still counts

    // A table claiming more than its parent holds is clamped to the parent;
    // the sibling after the parent is still read.
    VersionNode huge = Container("040904B0", {StringNode("A", "kept"), StringNode("B", "too")});
    huge.lengthOverride = 0xFFF0;
    const std::string clamped =
        Serialize32(RootNode(FixedInfoBytes(1, 0, 1, 0),
                             {Container("StringFileInfo", {huge}),
                              Container("VarFileInfo", {TranslationNode({{0x0409, 0x04B0}})})}));
    info = Parse(clamped);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString("040904B0", "A"), "kept");
    EXPECT_EQ(info->QueryString("040904B0", "B"), "too");
    EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0409, 0x04B0}}));

    // A last string without its NUL, ending exactly where the block ends.
    VersionNode unterminated = StringNode("Last", "");
    unterminated.value = test::Utf16Le("edge");
    unterminated.valueLength = 4;
    const std::string edge = Serialize32(
        RootNode(FixedInfoBytes(1, 0, 1, 0),
                 {Container("StringFileInfo", {Container("040904B0", {unterminated})})}));
    info = Parse(edge);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString("040904B0", "Last"), "edge");
    // One byte less leaves an odd byte, which is dropped with its unit.
    info = Parse(edge.substr(0, edge.size() - 1));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString("040904B0", "Last"), "edg");
}

TEST(VersionBlock, CutsOddLengthsAtTheLastWholeCharacter) {
    // "K" NUL pads to 12; "Hello" NUL takes 12 more: wLength 24. With 17
    // the value keeps 5 bytes, two whole characters.
    std::string cutNode = Serialize32(StringNode("K", "Hello"));
    test::PutU16(cutNode, 0, 17);
    cutNode.resize(17);
    VersionNode odd;
    odd.raw = cutNode; // the next sibling follows at align4(17) = 20
    auto info = Parse(StandardBlock32({odd, StringNode("Next", "read")}));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString("040904B0", "K"), "He");
    EXPECT_EQ(info->QueryString("040904B0", "Next"), "read");

    // A key cut in the middle of a character, with no room for a value.
    std::string cutKey = Serialize32(StringNode("Key", "v"));
    test::PutU16(cutKey, 0, 9);
    cutKey.resize(9);
    VersionNode oddKey;
    oddKey.raw = cutKey;
    info = Parse(StandardBlock32({oddKey, StringNode("Next", "read")}));
    ASSERT_TRUE(info);
    ASSERT_EQ(info->stringTables.at(0).strings.size(), 2u);
    EXPECT_EQ(info->stringTables[0].strings[0].name, "K");
    EXPECT_EQ(info->stringTables[0].strings[0].value, "");
    EXPECT_EQ(info->QueryString("040904B0", "Next"), "read");
}

TEST(VersionBlock, BoundsTheTranslationByItsNode) {
    VersionNode tooLong = TranslationNode({{0x0409, 0x04B0}});
    tooLong.valueLength = 0x100; // claims 64 pairs, holds 1
    VersionNode partial = TranslationNode({{0x0407, 0x04E4}, {0x040C, 0x04E4}});
    partial.valueLength = 6; // one whole pair and half of another
    VersionNode second = TranslationNode({{0x0411, 0x03A4}});

    auto info = Parse(Serialize32(
        RootNode(FixedInfoBytes(1, 0, 1, 0), {Container("VarFileInfo", {tooLong, second})})));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0409, 0x04B0}}));

    info = Parse(
        Serialize32(RootNode(FixedInfoBytes(1, 0, 1, 0), {Container("VarFileInfo", {partial})})));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0407, 0x04E4}}));
}

TEST(VersionBlock, KeepsWhatATruncatedBlockStillHolds) {
    const std::string block = StandardBlock32({StringNode("FileVersion", "1.2.3.4")});
    // Fixed info at 0x28, children at 0x5C.
    EXPECT_FALSE(Parse(block.substr(0, 0x5B))->fixed);
    const auto fixedOnly = Parse(block.substr(0, 0x5C));
    ASSERT_TRUE(fixedOnly);
    EXPECT_TRUE(fixedOnly->fixed);
    EXPECT_TRUE(fixedOnly->stringTables.empty());
    EXPECT_TRUE(fixedOnly->translations.empty());

    // Every shorter block parses without reading past its end, and any text
    // it still holds is a beginning of the full text.
    for (std::size_t n = 0; n < block.size(); ++n) {
        const auto info = Parse(block.substr(0, n));
        // The root's key is whole from 36 bytes on, even without its NUL.
        ASSERT_EQ(info.has_value(), n >= 36) << n;
        if (const auto v = info ? info->QueryString("040904B0", "FileVersion") : std::nullopt) {
            EXPECT_EQ(std::string("1.2.3.4").substr(0, v->size()), *v) << n;
        }
    }
}

TEST(VersionBlock, ReadsABlockOfTheLargestLengthWhole) {
    // The root's length is 16-bit; the last string of each block crosses the
    // 64,000th byte and ends at the block's last one.
    struct Case {
        std::size_t size;
        bool sixteenBit;
    };
    for (const Case c : {Case{64002, false}, Case{65000, false}, Case{65534, false},
                         Case{64001, true}, Case{65535, true}}) {
        SCOPED_TRACE(testing::Message() << c.size << (c.sixteenBit ? " 16-bit" : " 32-bit"));
        const auto block = test::BlockEndingInCopyright(c.size, c.sixteenBit);
        ASSERT_EQ(block.bytes.size(), c.size);
        const std::size_t unit = c.sixteenBit ? 1 : 2;
        ASSERT_LT(c.size - unit * block.copyright.size(), 64000u); // starts before byte 64,000
        const auto info = Parse(block.bytes);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->sixteenBit, c.sixteenBit);
        EXPECT_EQ(info->QueryString(c.sixteenBit ? "040904E4" : "040904B0", "LegalCopyright"),
                  block.copyright);
    }
}

// A 64 KB block holds thousands of nodes of a few bytes. The budget bounds
// what is kept of them; the strings of the first table still answer.
TEST(VersionBlock, ThousandsOfTinyNodesStayWithinTheBudget) {
    const auto block = [](std::vector<VersionNode> tables) {
        return Serialize32(
            RootNode(FixedInfoBytes(0x00010002, 0x00030004, 0, 0),
                     {Container("VarFileInfo", {TranslationNode({{0x0409, 0x04B0}})}),
                      Container("StringFileInfo", std::move(tables))}));
    };
    const VersionNode described = StringNode("FileDescription", "Tiny nodes");
    std::vector<VersionNode> tables{Container("040904B0", {described})};
    for (int i = 0; i < 1500; ++i) // 40 bytes each
        tables.push_back(Container(std::to_string(10000000 + i), {StringNode("A", "1")}));
    std::vector<VersionNode> strings{described};
    for (int i = 0; i < 7000; ++i) // 8 bytes each: a header and an empty key
        strings.push_back(Container("", {}));
    const std::string manyTables = block(tables);
    const std::string manyStrings = block({Container("040904B0", strings)});
    ASSERT_LE(manyTables.size(), 0xFFFFu);
    ASSERT_LE(manyStrings.size(), 0xFFFFu);

    struct Case {
        const char* what;
        const std::string& bytes;
        std::size_t budget;
        std::size_t minTables, maxTables;   ///< string tables kept
        std::size_t minStrings, maxStrings; ///< strings kept in the first
        bool spent;
    };
    // Each node kept costs about 80 bytes.
    constexpr std::size_t kSmall = 64 * 1024;
    const Case cases[] = {
        {"1,500 tables", manyTables, kReadBudgetBytes, 1501, 1501, 1, 1, false},
        {"7,000 strings", manyStrings, kReadBudgetBytes, 1, 1, 7001, 7001, false},
        {"1,500 tables, small budget", manyTables, kSmall, 2, 1000, 1, 1, true},
        {"7,000 strings, small budget", manyStrings, kSmall, 1, 1, 1, 1000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto info = ParseVersionBlock(ByteSpan(c.bytes), c.budget);
        ASSERT_TRUE(info);
        ASSERT_FALSE(info->stringTables.empty());
        EXPECT_GE(info->stringTables.size(), c.minTables);
        EXPECT_LE(info->stringTables.size(), c.maxTables);
        EXPECT_GE(info->stringTables[0].strings.size(), c.minStrings);
        EXPECT_LE(info->stringTables[0].strings.size(), c.maxStrings);
        EXPECT_EQ(info->budgetSpent, c.spent);
        EXPECT_EQ(info->QueryString("040904B0", "FileDescription"), "Tiny nodes");
        EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0409, 0x04B0}}));
    }
}

TEST(VersionBlock, KeepingOnlyNamedStringsChangesNoAnswer) {
    // A scan keeps only the strings it shows; every answer about them, and
    // everything else the parse gives, must stay as the whole parse has it.
    const std::string_view kept[] = {"FileDescription", "LegalCopyright"};
    const std::string full32 = StandardBlock32(
        {StringNode("CompanyName", "Brannock"), StringNode("FILEDESCRIPTION", "Shouted"),
         StringNode("FileDescription", "second, never answered"),
         StringNode("FileDe\u017Fcription", "long s"), StringNode("Comments", "Gr\u00FC\u00DFe"),
         StringNode("LegalCopyright", ""), StringNode("ProductVersion", "5.6.7.8")});
    const std::string sixteen = Serialize16(RootNode(
        FixedInfoBytes(0x00030000, 0x000A0000, 0x00030000, 0x000A0000),
        {Container("StringFileInfo",
                   {Container("040904E4", {StringNode16("Comments\xA9", "\x80 5"),
                                           StringNode16("legalcopyright", "\xA9 1994"),
                                           StringNode16("FileDescription", "Brannock")})}),
         Container("VarFileInfo", {TranslationNode({{0x0409, 0x04E4}})})}));
    std::vector<VersionNode> tables;
    for (int i = 0; i < 1500; ++i)
        tables.push_back(Container(std::to_string(10000000 + i),
                                   {StringNode("Comments", std::string(30, 'c')),
                                    StringNode("FileDescription", "2")}));
    const std::string manyTables = Serialize32(
        RootNode(FixedInfoBytes(1, 2, 3, 4),
                 {Container("StringFileInfo", std::move(tables)),
                  Container("VarFileInfo", {TranslationNode({{0x0409, 0x04B0}})})}));
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t budget;
    };
    const Case cases[] = {
        {"32-bit, names in any case, repeated and empty", full32, kReadBudgetBytes},
        {"32-bit, cut short", full32.substr(0, full32.size() - 40), kReadBudgetBytes},
        {"16-bit, Windows-1252 keys", sixteen, kReadBudgetBytes},
        {"many tables", manyTables, kReadBudgetBytes},
        {"many tables, the budget runs out", manyTables, 64 * 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto whole = ParseVersionBlock(ByteSpan(c.bytes), c.budget);
        const auto part = ParseVersionBlock(ByteSpan(c.bytes), c.budget, kept);
        ASSERT_TRUE(whole);
        ASSERT_TRUE(part);
        EXPECT_EQ(part->sixteenBit, whole->sixteenBit);
        ASSERT_EQ(part->fixed.has_value(), whole->fixed.has_value());
        if (whole->fixed) {
            EXPECT_EQ(part->fixed->fileVersionLS, whole->fixed->fileVersionLS);
        }
        EXPECT_EQ(part->translations, whole->translations);
        EXPECT_EQ(part->budgetSpent, whole->budgetSpent);
        ASSERT_EQ(part->stringTables.size(), whole->stringTables.size());
        std::size_t wholeKept = 0;
        for (std::size_t t = 0; t < whole->stringTables.size(); ++t) {
            const StringTable& table = whole->stringTables[t];
            EXPECT_EQ(part->stringTables[t].key, table.key);
            EXPECT_EQ(part->stringTables[t].block, table.block);
            for (const std::string_view name : kept)
                EXPECT_EQ(part->QueryString(table.key, name), whole->QueryString(table.key, name))
                    << table.key << " " << name;
            for (const VersionString& string : table.strings)
                wholeKept += std::any_of(std::begin(kept), std::end(kept), [&](auto name) {
                    return EqualsIgnoreCase(string.name, name);
                });
        }
        std::size_t partKept = 0;
        for (const StringTable& table : part->stringTables)
            partKept += table.strings.size();
        EXPECT_EQ(partKept, wholeKept); // the named ones, and only those
    }
}

TEST(VersionBlock, StringsPassedOverByTheirFirstCharacterAreNeverOnesAskedFor) {
    // A scan reads only the keys that may be asked for, told by their first
    // character. Each row asks for `names` in a block of `keys`; the answer
    // must be the whole parse's, with an ample budget and with one that
    // runs out (which takes the careful way).
    struct Row {
        const char* what;
        std::vector<std::string> keys;
        std::vector<std::string_view> names;
    };
    const Row rows[] = {
        {"a Kelvin sign folds to k", {"Kind", "\u212AeyName", "KeyName"}, {"keyname"}},
        {"first letters in either case", {"legalCopyright", "LEGALCOPYRIGHT"}, {"LegalCopyright"}},
        {"a key that only starts like one", {"Legal", "LegalCopyrightX", "LegalCopyright"},
         {"LegalCopyright"}},
        {"empty keys, and an empty name", {"", "A", ""}, {"", "A"}},
        {"a letter past ASCII first", {"\u00C9dition", "Edition"}, {"\u00C9DITION", "edition"}},
        {"nothing asked for is there", {"CompanyName", "ProductName"}, {"FileDescription"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<VersionNode> strings;
        for (std::size_t i = 0; i < row.keys.size(); ++i)
            strings.push_back(StringNode(row.keys[i], "value " + std::to_string(i)));
        const std::string bytes = StandardBlock32(std::move(strings));
        for (const std::size_t budget : {kReadBudgetBytes, std::size_t{400}}) {
            const auto whole = ParseVersionBlock(ByteSpan(bytes), budget);
            const auto part = ParseVersionBlock(ByteSpan(bytes), budget, row.names);
            ASSERT_TRUE(whole && part);
            EXPECT_EQ(part->budgetSpent, whole->budgetSpent) << budget;
            for (const std::string_view name : row.names)
                EXPECT_EQ(part->QueryString("040904B0", name), whole->QueryString("040904B0", name))
                    << budget << " " << name;
        }
    }
}

TEST(VersionBlock, QueriesOnlyTheFirstStringFileInfoAndVarFileInfo) {
    // The Windows query takes the first child with each key and never goes
    // back for a later one; every table found is still listed.
    const auto table = [](std::string key, std::string description, std::string copyright) {
        std::vector<VersionNode> strings{StringNode("FileDescription", description)};
        if (!copyright.empty())
            strings.push_back(StringNode("LegalCopyright", copyright));
        return Container(std::move(key), std::move(strings));
    };
    const auto strings = [](std::vector<VersionNode> tables) {
        return Container("StringFileInfo", std::move(tables));
    };
    const auto vars = [](std::vector<VersionNode> values) {
        return Container("VarFileInfo", std::move(values));
    };
    const VersionNode english = TranslationNode({{0x0409, 0x04B0}});
    const VersionNode german = TranslationNode({{0x0407, 0x04B0}});
    VersionNode notTranslation = TranslationNode({{0x0409, 0x04B0}});
    notTranslation.key = "Translations";

    struct Case {
        const char* what;
        std::vector<VersionNode> children;
        std::vector<std::size_t> tableBlocks; // the block of each table listed
        std::vector<Translation> translations;
        std::array<std::string, 3> shown; // language, description, copyright
    };
    const Case cases[] = {
        {"table only in the second StringFileInfo",
         {strings({table("040704B0", "Deutsch", "(c) D")}),
          strings({table("040904B0", "English", "(c) E")}), vars({english})},
         {0, 1},
         {{0x0409, 0x04B0}},
         {"English (United States)", "", ""}},
        {"table in both: the first one's",
         {strings({table("040904B0", "first", "(c) first")}),
          strings({table("040904B0", "second", "(c) second")}), vars({english})},
         {0, 1},
         {{0x0409, 0x04B0}},
         {"English (United States)", "first", "(c) first"}},
        {"value only in the second one's table",
         {strings({table("040904B0", "first", "")}),
          strings({table("040904B0", "second", "(c) second")}), vars({english})},
         {0, 1},
         {{0x0409, 0x04B0}},
         {"English (United States)", "first", ""}},
        {"empty first StringFileInfo",
         {strings({}), strings({table("040904B0", "second", "(c) second")}), vars({english})},
         {1},
         {{0x0409, 0x04B0}},
         {"English (United States)", "", ""}},
        {"two VarFileInfo: the first one's translation",
         {vars({german}), vars({english}),
          strings({table("040904B0", "English", "(c) E"), table("040704B0", "Deutsch", "(c) D")})},
         {0, 0},
         {{0x0407, 0x04B0}},
         {"German", "Deutsch", "(c) D"}},
        {"no Translation in the first VarFileInfo",
         {vars({notTranslation}), vars({english}),
          strings({table("040904B0", "English", "(c) E")})},
         {0},
         {},
         {"", "", ""}},
        {"two Translation values: the first",
         {vars({german, english}),
          strings({table("040904B0", "English", "(c) E"), table("040704B0", "Deutsch", "(c) D")})},
         {0, 0},
         {{0x0407, 0x04B0}},
         {"German", "Deutsch", "(c) D"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileVersionData data;
        data.version =
            Parse(Serialize32(RootNode(FixedInfoBytes(0x00010002, 0x00030004, 1, 0), c.children)));
        ASSERT_TRUE(data.version);
        std::vector<std::size_t> blocks;
        for (const StringTable& t : data.version->stringTables)
            blocks.push_back(t.block);
        EXPECT_EQ(blocks, c.tableBlocks);
        EXPECT_EQ(data.version->translations, c.translations);
        EXPECT_EQ(ScanTexts(data),
                  (VersionTexts{"1.02.03.04", c.shown[0], c.shown[1], c.shown[2]}));
    }
}

} // namespace
} // namespace sorvane
