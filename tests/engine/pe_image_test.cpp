#include "engine/files/opened_file.h"
#include "engine/formats/byte_reader.h"
#include "engine/formats/pe_image.h"
#include "engine/formats/version_block.h"
#include "engine/formats/version_reader.h"
#include "support/byte_writer.h"
#include "support/pe_builder.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "support/ttf_builder.h"
#include "support/version_block_builder.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

using test::BuildNe;
using test::BuildPe;
using test::PutU16;
using test::PutU32;
using test::TestResource;

} // namespace

// Readable failures for the texts of one side.
void PrintTo(const VersionTexts& texts, std::ostream* out) {
    *out << "{\"" << texts.version << "\", \"" << texts.language << "\", \"" << texts.description
         << "\", \"" << texts.copyright << "\"}";
}

namespace {

const ResourceId kVersion = ResourceId::Number(kResourceTypeVersion);
const ResourceId kFirst = ResourceId::Number(kVersionResourceName);
const ResourceId kTypeLib = ResourceId::Named(kTypeLibraryResourceType);

/// An image opened over bytes it owns.
class Image {
public:
    explicit Image(std::string bytes, std::size_t budgetBytes = kReadBudgetBytes)
        : bytes_(std::move(bytes)), source_(test::ByteSpan(bytes_)),
          image_(ExecutableImage::Open(source_, budgetBytes)) {}
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    explicit operator bool() const { return image_.has_value(); }
    const ExecutableImage* operator->() const { return &*image_; }

    /// The bytes of the resource, as text; nothing when it is missing or
    /// cannot be read.
    std::optional<std::string> Read(const ResourceId& type, const ResourceId& name,
                                    std::size_t maxBytes = 64000) const {
        const auto where = image_->FindResource(type, name);
        if (!where)
            return std::nullopt;
        const auto bytes = image_->ReadResource(*where, maxBytes);
        if (!bytes)
            return std::nullopt;
        std::string out;
        for (const std::byte b : *bytes)
            out.push_back(static_cast<char>(b));
        return out;
    }

private:
    std::string bytes_;
    MemorySource source_;
    Result<ExecutableImage> image_;
};

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
    return *ByteReader(test::ByteSpan(bytes), Endian::Little).u32At(at);
}

std::uint16_t U16At(const std::string& bytes, std::size_t at) {
    return *ByteReader(test::ByteSpan(bytes), Endian::Little).u16At(at);
}

std::string VersionBlock() {
    return test::StandardBlock32(
        {test::StringNode("CompanyName", "Brannock Ltd"), test::StringNode("ProductName", "Pegs")});
}

TEST(ExecutableImage, FindsTheVersionResourceInPe32AndPe32Plus) {
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const std::string block = VersionBlock();
        const auto layout = BuildPe({{kVersion, kFirst, 0x0409, block}},
                                    {.pe32Plus = plus, .resourceRawSize = std::nullopt});
        const Image image(layout.bytes);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->format(), plus ? ExecutableFormat::Pe32Plus : ExecutableFormat::Pe32);

        const auto where = image->FindResource(kVersion, kFirst);
        ASSERT_TRUE(where);
        EXPECT_EQ(where->language, 0x0409);
        EXPECT_EQ(where->fileOffset, layout.data[0]);
        EXPECT_EQ(where->size, block.size());
        EXPECT_EQ(where->storedSize, block.size());
        EXPECT_EQ(image.Read(kVersion, kFirst), block);
        EXPECT_EQ(image.Read(kVersion, kFirst, 10), block.substr(0, 10));

        const auto bytes = image->ReadResource(*where, kMaxVersionBlockBytes);
        ASSERT_TRUE(bytes);
        const auto info = ParseVersionBlock(*bytes);
        ASSERT_TRUE(info);
        ASSERT_TRUE(info->fixed);
        EXPECT_EQ(info->fixed->fileVersionMS, 0x00010002u);
        EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0409, 0x04B0}}));
        EXPECT_EQ(info->QueryString("040904b0", "PRODUCTNAME"), "Pegs");

        EXPECT_EQ(image->ResourceNames(kVersion), std::vector<ResourceId>{kFirst});
        EXPECT_EQ(image->FindResource(kVersion, ResourceId::Number(2)), std::nullopt);
        EXPECT_EQ(image->FindResource(ResourceId::Number(24), kFirst), std::nullopt);
        EXPECT_TRUE(image->ResourceNames(kTypeLib).empty());
    }
}

TEST(ExecutableImage, VersionBlocksOfTheLargestLengthAreReadWhole) {
    // The copyright is the block's last string and crosses its 64,000th byte.
    enum class Kind { Pe32, Pe32Plus, Ne };
    struct Case {
        Kind kind;
        std::size_t size;
    };
    for (const Case c :
         {Case{Kind::Pe32, 65000}, Case{Kind::Pe32Plus, 65534}, Case{Kind::Ne, 65535}}) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " " << c.size);
        const auto block = test::BlockEndingInCopyright(c.size, c.kind == Kind::Ne);
        ASSERT_EQ(block.bytes.size(), c.size);
        const std::vector<TestResource> resources{{kVersion, kFirst, 0x0409, block.bytes}};
        const std::string file = c.kind == Kind::Ne
                                     ? BuildNe(resources).bytes
                                     : BuildPe(resources, {.pe32Plus = c.kind == Kind::Pe32Plus,
                                                           .resourceRawSize = std::nullopt})
                                           .bytes;
        const MemorySource source(test::ByteSpan(file));
        const FileVersionData data = ReadFileVersionData(source, FileKind::VersionResource);
        ASSERT_TRUE(data.version);
        EXPECT_EQ(ScanTexts(data), (VersionTexts{"1.02.03.04", "English (United States)",
                                                 "Filled block", block.copyright}));
    }
}

TEST(ExecutableImage, ChoosesTheLanguageAnEnglishWindowsWould) {
    struct Case {
        std::vector<std::uint16_t> languages; // in directory order
        std::uint16_t chosen;
    };
    const Case cases[] =
        {
            {{0x0407, 0x0409}, 0x0409}, {{0x0407, 0x0000, 0x0409}, 0x0000},
            {{0x0007, 0x0009}, 0x0009}, {{0x0407, 0x040C}, 0x0407},
            {{0x040C, 0x0407}, 0x040C}, // the first in the directory, not the lowest
            {{0x0809}, 0x0809},
        };
    for (const Case& c : cases) {
        std::vector<TestResource> resources;
        for (const std::uint16_t language : c.languages)
            resources.push_back(
                {kVersion, kFirst, language, "data of " + std::to_string(language)});
        const Image image(BuildPe(resources).bytes);
        ASSERT_TRUE(image);
        const auto where = image->FindResource(kVersion, kFirst);
        ASSERT_TRUE(where);
        EXPECT_EQ(where->language, c.chosen);
        EXPECT_EQ(image.Read(kVersion, kFirst), "data of " + std::to_string(c.chosen));
    }
}

TEST(ExecutableImage, FindsNamedTypesAndNamesWithoutRegardToCase) {
    const auto layout = BuildPe({
        {kVersion, kFirst, 0x0409, VersionBlock()},
        {kTypeLib, ResourceId::Number(1), 0, "first library"},
        {kTypeLib, ResourceId::Number(2), 0, "second library"},
        {kTypeLib, ResourceId::Named("Extra"), 0, "named library"},
        {ResourceId::Named("REGISTRY"), ResourceId::Named("MyServer"), 0x0409, "rgs"},
    });
    const Image image(layout.bytes);
    ASSERT_TRUE(image);
    // Named entries come first in a directory.
    EXPECT_EQ(image->ResourceNames(ResourceId::Named("typelib")),
              (std::vector<ResourceId>{ResourceId::Named("Extra"), ResourceId::Number(1),
                                       ResourceId::Number(2)}));
    EXPECT_EQ(image.Read(ResourceId::Named("TypeLib"), ResourceId::Number(2)), "second library");
    EXPECT_EQ(image.Read(kTypeLib, ResourceId::Named("EXTRA")), "named library");
    EXPECT_EQ(image.Read(ResourceId::Named("registry"), ResourceId::Named("myserver")), "rgs");
    EXPECT_EQ(image->FindResource(kTypeLib, ResourceId::Number(1))->language, 0);

    EXPECT_EQ(image->FindResource(kTypeLib, ResourceId::Number(3)), std::nullopt);
    EXPECT_EQ(image->FindResource(ResourceId::Named("TYPELI"), ResourceId::Number(1)),
              std::nullopt);
    EXPECT_EQ(image->FindResource(ResourceId::Named("TYPELIBS"), ResourceId::Number(1)),
              std::nullopt);
    // A name that reads "1" is not the integer 1.
    EXPECT_EQ(image->FindResource(kTypeLib, ResourceId::Named("1")), std::nullopt);
}

TEST(ExecutableImage, ReadsZerosWhereASectionIsShorterInTheFileThanInMemory) {
    const std::string data(100, 'x');
    const auto full = BuildPe({{kVersion, kFirst, 0x0409, data}});
    const auto dataInSection = static_cast<std::uint32_t>(full.data[0] - full.resourceSection);

    // The file holds the first 40 bytes of the data and ends there.
    const auto cut =
        BuildPe({{kVersion, kFirst, 0x0409, data}}, {.resourceRawSize = dataInSection + 40});
    ASSERT_EQ(cut.bytes.size(), cut.data[0] + 40);
    const Image image(cut.bytes);
    ASSERT_TRUE(image);
    const auto where = image->FindResource(kVersion, kFirst);
    ASSERT_TRUE(where);
    EXPECT_EQ(where->size, 100u);
    EXPECT_EQ(where->storedSize, 40u);
    EXPECT_EQ(image.Read(kVersion, kFirst), std::string(40, 'x') + std::string(60, '\0'));
    EXPECT_EQ(image.Read(kVersion, kFirst, 30), std::string(30, 'x'));

    // A data entry whose second half lies past the stored part: its RVA and
    // size are in the file, the rest reads as zeros; so does all the data.
    const auto entryInSection =
        static_cast<std::uint32_t>(full.dataEntries[0] - full.resourceSection);
    const Image halfEntry(
        BuildPe({{kVersion, kFirst, 0x0409, data}}, {.resourceRawSize = entryInSection + 8}).bytes);
    ASSERT_TRUE(halfEntry);
    const auto inMemory = halfEntry->FindResource(kVersion, kFirst);
    ASSERT_TRUE(inMemory);
    EXPECT_EQ(inMemory->size, 100u);
    EXPECT_EQ(inMemory->storedSize, 0u);
    EXPECT_EQ(halfEntry.Read(kVersion, kFirst), std::string(100, '\0'));

    // When the whole data entry lies past the stored part it reads as zeros:
    // data at RVA 0, which no section holds.
    const Image noEntry(
        BuildPe({{kVersion, kFirst, 0x0409, data}}, {.resourceRawSize = entryInSection}).bytes);
    ASSERT_TRUE(noEntry);
    EXPECT_EQ(noEntry->FindResource(kVersion, kFirst), std::nullopt);
}

TEST(ExecutableImage, ABufferReadIntoAgainHoldsOnlyTheLastResource) {
    // One buffer for three reads: a long resource, then one whose last 60
    // bytes exist only in memory, then a part of one. Each leaves exactly
    // its own bytes, zeros where the file holds none.
    const std::string longData(300, 'y');
    const std::string data(100, 'x');
    const auto full = BuildPe({{kVersion, kFirst, 0x0409, data}});
    const auto dataInSection = static_cast<std::uint32_t>(full.data[0] - full.resourceSection);
    const Image longImage(BuildPe({{kVersion, kFirst, 0x0409, longData}}).bytes);
    const Image cutImage(
        BuildPe({{kVersion, kFirst, 0x0409, data}}, {.resourceRawSize = dataInSection + 40}).bytes);
    ASSERT_TRUE(longImage && cutImage);
    const auto text = [](const Bytes& bytes) {
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    struct Step {
        const Image& image;
        std::size_t maxBytes;
        std::string expected;
    };
    const Step steps[] = {
        {longImage, 1000, longData},
        {cutImage, 1000, std::string(40, 'x') + std::string(60, '\0')},
        {longImage, 1000, longData},
        {cutImage, 50, std::string(40, 'x') + std::string(10, '\0')},
        {cutImage, 30, std::string(30, 'x')},
    };
    Bytes buffer;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.expected.size());
        const auto where = step.image->FindResource(kVersion, kFirst);
        ASSERT_TRUE(where);
        ASSERT_TRUE(step.image->ReadResourceInto(*where, step.maxBytes, buffer));
        EXPECT_EQ(text(buffer), step.expected);
    }

    // Through the version reader, which keeps one buffer a thread: a block
    // cut off before its last string, read after the whole block, shows
    // nothing of the one before.
    const std::string block = Serialize32(test::RootNode(
        test::FixedInfoBytes(0x00010002, 0x00030004, 0x00050006, 0x00070008),
        {test::Container("VarFileInfo", {test::TranslationNode({{0x0409, 0x04B0}})}),
         test::Container("StringFileInfo",
                         {test::Container(
                             "040904B0", {test::StringNode("FileDescription", "Pegs"),
                                          test::StringNode("LegalCopyright", "(c) Brannock")})})}));
    const std::size_t copyrightNode = block.find(std::string("L\0e\0g\0a\0l\0", 10)) - 6;
    const auto whole = BuildPe({{kVersion, kFirst, 0x0409, block}});
    const auto blockInSection = static_cast<std::uint32_t>(whole.data[0] - whole.resourceSection);
    const auto cut =
        BuildPe({{kVersion, kFirst, 0x0409, block}},
                {.resourceRawSize = blockInSection + static_cast<std::uint32_t>(copyrightNode)});
    const auto read = [](const std::string& file) {
        const MemorySource source(test::ByteSpan(file));
        return ScanTexts(
            ReadFileVersionData(source, FileKind::VersionResource, ReadDepth::RowTexts));
    };
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(read(whole.bytes),
                  (VersionTexts{"1.02.03.04", "English (United States)", "Pegs", "(c) Brannock"}));
        EXPECT_EQ(read(cut.bytes),
                  (VersionTexts{"1.02.03.04", "English (United States)", "Pegs", ""}));
    }
}

TEST(ReadScanTexts, GivesWhatTheWholeReadGivesWhateverTheThreadReadBefore) {
    // Files read one after the other on one thread, which parses every
    // block into the same memory: each must give the texts, size and
    // failure that reading all of it gives, nothing of the file before.
    test::TempDir dir;
    const std::string typeLibrary = dir.write("lib.tlb", "not a type library");
    struct File {
        std::string path;
        FileKind kind;
    };
    const File files[] = {
        {dir.write("full.dll", test::VersionedPe({{1, 2, 3, 4}, 0x0409, "Full", "(c) Full"})),
         FileKind::VersionResource},
        // A table with no string the scan keeps.
        {dir.write("bare.dll",
                   BuildPe({{kVersion, kFirst, 0x0409,
                             test::StandardBlock32({test::StringNode("ProductName", "Bare")})}})
                       .bytes),
         FileKind::VersionResource},
        {dir.write("nothing.dll", "MZ but nothing more"), FileKind::VersionResource},
        {dir.write("no-resource.exe", BuildPe({}).bytes), FileKind::VersionResource},
        {dir.write(
             "full-again.dll",
             test::VersionedPe(
                 {{9, 8, 7, 6}, 0x0000, "A description longer than most", "(c) Again", 4000})),
         FileKind::VersionResource},
        {dir.write(
             "font.ttf",
             test::TtfBuilder{.names = {test::MacName(0, "(c) Font"), test::MacName(1, "Family"),
                                        test::MacName(2, "Regular"), test::MacName(3, "Id"),
                                        test::MacName(4, "Full"), test::MacName(5, "Version 1.5")}}
                 .Build()),
         FileKind::TrueType},
        {typeLibrary, FileKind::TypeLibrary},
        {dir.file("missing.dll"), FileKind::VersionResource},
        {dir.write("other.dll", test::VersionedPe({{3, 0, 0, 1}, 0x0407, "Andere", ""})),
         FileKind::VersionResource},
    };
    for (int round = 0; round < 2; ++round) {
        for (const File& f : files) {
            SCOPED_TRACE(f.path);
            std::error_code error;
            const auto file = OpenedFile::Open(f.path, error);
            const FileVersionData whole =
                ReadFileVersionData(file.get(), error, f.kind, ReadDepth::RowTexts);
            const VersionTexts expected = ScanTexts(whole);
            const ScanFileTexts scan = ReadScanTexts(file.get(), error, f.kind);
            EXPECT_EQ(scan.texts.version, expected.version);
            EXPECT_EQ(scan.texts.language, expected.language);
            EXPECT_EQ(scan.texts.description, expected.description);
            EXPECT_EQ(scan.texts.copyright, expected.copyright);
            EXPECT_EQ(scan.size, whole.size);
            EXPECT_EQ(scan.error, whole.error);
            EXPECT_EQ(scan.typeLibrary, whole.typeLibrary.has_value());
        }
    }
    // What the files hold, so the comparison above is not of empty texts.
    const auto texts = [](const std::string& path) {
        const auto file = OpenedFile::Open(path);
        return ReadScanTexts(file.get(), {}, FileKind::VersionResource).texts;
    };
    EXPECT_EQ(texts(files[0].path),
              (VersionTexts{"1.02.03.04", "English (United States)", "Full", "(c) Full"}));
    EXPECT_EQ(texts(files[1].path),
              (VersionTexts{"1.02.03.04", "English (United States)", "", ""}));
    EXPECT_EQ(texts(files[2].path), VersionTexts{});
}

TEST(ExecutableImage, ReadsNeImagesAndTheirSixteenBitVersionBlock) {
    using test::Container;
    using test::StringNode16;
    const std::string block = test::Serialize16(test::RootNode(
        test::FixedInfoBytes(0x00030000, 0x000A0000, 0x00030000, 0x000A0000),
        {Container("StringFileInfo",
                   {Container("040904E4", {StringNode16("CompanyName", "Brannock"),
                                           StringNode16("LegalCopyright", "\xA9 1993")})}),
         Container("VarFileInfo", {test::TranslationNode({{0x0409, 0x04E4}})})}));
    const auto layout = BuildNe({
        {kVersion, kFirst, 0, block},
        {kTypeLib, ResourceId::Number(1), 0, "first library"},
        {kTypeLib, ResourceId::Number(2), 0, "second library"},
        {ResourceId::Number(10), ResourceId::Named("Settings"), 0, "raw data"},
    });
    const Image image(layout.bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->format(), ExecutableFormat::Ne);

    const auto where = image->FindResource(kVersion, kFirst);
    ASSERT_TRUE(where);
    EXPECT_EQ(where->language, 0);
    EXPECT_EQ(where->fileOffset, layout.data[0]);
    const std::uint32_t rounded = (block.size() + 15) / 16 * 16; // whole 16-byte units
    EXPECT_EQ(where->size, rounded);
    EXPECT_EQ(where->storedSize, rounded);
    const auto bytes = image.Read(kVersion, kFirst);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->substr(0, block.size()), block);

    const auto info = ParseVersionBlock(test::ByteSpan(*bytes));
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->sixteenBit);
    ASSERT_TRUE(info->fixed);
    EXPECT_EQ(info->fixed->fileVersionLS, 0x000A0000u);
    EXPECT_EQ(info->QueryString("040904E4", "legalcopyright"), "© 1993");

    EXPECT_EQ(image->ResourceNames(ResourceId::Named("TypeLib")),
              (std::vector<ResourceId>{ResourceId::Number(1), ResourceId::Number(2)}));
    EXPECT_EQ(image.Read(kTypeLib, ResourceId::Number(2))->substr(0, 14), "second library");
    EXPECT_EQ(image.Read(ResourceId::Number(10), ResourceId::Named("SETTINGS"))->substr(0, 8),
              "raw data");
    EXPECT_EQ(image->FindResource(ResourceId::Number(10), ResourceId::Named("Setting")),
              std::nullopt);
    EXPECT_EQ(image->FindResource(kVersion, ResourceId::Number(2)), std::nullopt);
}

TEST(ExecutableImage, RefusesDamagedHeaders) {
    const auto layout = BuildPe({{kVersion, kFirst, 0x0409, "v"}});
    const std::string& good = layout.bytes;
    ASSERT_TRUE(Image(good));
    const auto refused = [](std::string bytes) { return !Image(std::move(bytes)); };

    EXPECT_TRUE(refused(""));
    EXPECT_TRUE(refused(good.substr(0, 63))); // DOS header cut
    std::string badMz = good;
    badMz[1] = 'X';
    EXPECT_TRUE(refused(badMz));
    std::string lfanewPastEnd = good;
    PutU32(lfanewPastEnd, 0x3C, static_cast<std::uint32_t>(good.size()));
    EXPECT_TRUE(refused(lfanewPastEnd));
    std::string lfanewHuge = good;
    PutU32(lfanewHuge, 0x3C, 0xFFFFFFFF);
    EXPECT_TRUE(refused(lfanewHuge));
    std::string badPe = good;
    badPe[layout.lfanew + 3] = 1; // "PE\0\1"
    EXPECT_TRUE(refused(badPe));
    std::string badMagic = good;
    PutU16(badMagic, layout.optionalHeader, 0x107);
    EXPECT_TRUE(refused(badMagic));
    std::string noOptionalHeader = good;
    PutU16(noOptionalHeader, layout.lfanew + 0x14, 1); // SizeOfOptionalHeader
    EXPECT_TRUE(refused(noOptionalHeader));
    // Cut inside the COFF header, and inside the optional header before the
    // resource entry.
    EXPECT_TRUE(refused(good.substr(0, layout.lfanew + 0x17)));
    EXPECT_TRUE(refused(good.substr(0, layout.resourceEntry + 7)));
    // An image ending right after the resource entry opens, without sections.
    const Image headersOnly(good.substr(0, layout.resourceEntry + 8));
    ASSERT_TRUE(headersOnly);
    EXPECT_EQ(headersOnly->FindResource(kVersion, kFirst), std::nullopt);
}

TEST(ExecutableImage, UsesTheResourceEntryOnlyInsideTheOptionalHeader) {
    const auto layout = BuildPe({{kVersion, kFirst, 0x0409, "v"}});
    // SizeOfOptionalHeader ending exactly after the resource entry, or one
    // byte before; the section table follows it in both cases.
    for (const std::uint16_t size : {0x78, 0x77}) {
        std::string bytes = layout.bytes;
        PutU16(bytes, layout.lfanew + 0x14, size);
        bytes.replace(layout.optionalHeader + size, 80,
                      layout.bytes.substr(layout.sectionTable, 80));
        const Image image(bytes);
        ASSERT_TRUE(image);
        EXPECT_EQ(image.Read(kVersion, kFirst).has_value(), size == 0x78) << size;
    }

    std::string fewDirectories = layout.bytes;
    PutU32(fewDirectories, layout.optionalHeader + 92, 2); // NumberOfRvaAndSizes
    const Image few(fewDirectories);
    ASSERT_TRUE(few);
    EXPECT_EQ(few->FindResource(kVersion, kFirst), std::nullopt);

    std::string noSize = layout.bytes;
    PutU32(noSize, layout.resourceEntry + 4, 0);
    EXPECT_EQ(Image(noSize)->FindResource(kVersion, kFirst), std::nullopt);

    std::string outside = layout.bytes;
    PutU32(outside, layout.resourceEntry, 0x9000); // past every section
    const Image lost(outside);
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->FindResource(kVersion, kFirst), std::nullopt);
    EXPECT_TRUE(lost->ResourceNames(kVersion).empty());
}

TEST(ExecutableImage, SurvivesDamagedResourceDirectories) {
    const auto layout = BuildPe({{kVersion, kFirst, 0x0409, "version data"},
                                 {kTypeLib, ResourceId::Named("Lib"), 0, "library"}});
    // Directories: root, TYPELIB, 16, then the language directories.
    const std::size_t root = layout.directories[0];
    const std::size_t versionType = layout.directories[2];
    const std::size_t versionLanguages = layout.directories[4];
    ASSERT_EQ(Image(layout.bytes).Read(kVersion, kFirst), "version data");
    const auto damaged = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = layout.bytes;
        PutU32(bytes, at, value);
        return bytes;
    };

    // A type entry that points back to the root, a name entry that points to
    // its own directory, a language entry that points to a directory.
    const Image backToRoot(damaged(root + 16 + 8 + 4, 0x80000000u));
    EXPECT_EQ(backToRoot.Read(kVersion, kFirst), std::nullopt);
    EXPECT_TRUE(backToRoot->ResourceNames(kVersion).empty());
    EXPECT_EQ(
        Image(damaged(versionType + 16 + 4, 0x80000000u | (versionType - layout.resourceSection)))
            .Read(kVersion, kFirst),
        std::nullopt);
    EXPECT_EQ(Image(damaged(versionLanguages + 16 + 4, 0x80000000u)).Read(kVersion, kFirst),
              std::nullopt);

    // Entry counts far past the data: the entries that are there still work.
    std::string manyEntries = layout.bytes;
    PutU16(manyEntries, root + 14, 0xFFFF);
    EXPECT_EQ(Image(manyEntries).Read(kVersion, kFirst), "version data");
    EXPECT_EQ(Image(manyEntries).Read(kTypeLib, ResourceId::Named("lib")), "library");

    // A name whose offset is past the section, or whose length is past it.
    const std::size_t libName = layout.directories[1] + 16;
    const Image farName(damaged(libName, 0x80000000u | 0x7FFFFFF0u));
    ASSERT_TRUE(farName);
    EXPECT_EQ(farName->FindResource(kTypeLib, ResourceId::Named("Lib")), std::nullopt);
    EXPECT_TRUE(farName->ResourceNames(kTypeLib).empty());
    // Its counted string: length then "Lib"; claim 0x1FF characters.
    std::string longName = layout.bytes;
    const std::size_t nameAt = layout.resourceSection + (U32At(layout.bytes, libName) & 0x7FFFFFFF);
    PutU16(longName, nameAt, 0x1FF);
    EXPECT_TRUE(Image(longName)->ResourceNames(kTypeLib).empty());

    // A data entry whose RVA no section holds, and one claiming 4 GB.
    const std::size_t entry = layout.dataEntries[0];
    EXPECT_EQ(Image(damaged(entry, 0x00900000)).Read(kVersion, kFirst), std::nullopt);
    const Image huge(damaged(entry + 4, 0xFFFFFFF0));
    ASSERT_TRUE(huge);
    const auto where = huge->FindResource(kVersion, kFirst);
    ASSERT_TRUE(where);
    EXPECT_EQ(where->size, 0xFFFFFFF0u);
    // Stored: the rest of the section's file data from the resource on.
    EXPECT_EQ(where->storedSize, layout.bytes.size() - layout.data[0]);
    const auto read = huge.Read(kVersion, kFirst, 64000);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), 64000u);
    EXPECT_EQ(read->substr(0, 12), "version data");
}

TEST(ExecutableImage, ReadsResourceDataEndingExactlyAtTheEndOfTheFile) {
    const auto full = BuildPe({{kVersion, kFirst, 0x0409, "last bytes"}});
    const std::size_t end = full.data[0] + 10;
    const Image exact(full.bytes.substr(0, end));
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact.Read(kVersion, kFirst), "last bytes");

    // One byte less: the section still claims the byte, the file lacks it.
    const Image shortFile(full.bytes.substr(0, end - 1));
    ASSERT_TRUE(shortFile);
    const auto where = shortFile->FindResource(kVersion, kFirst);
    ASSERT_TRUE(where);
    EXPECT_EQ(where->storedSize, 10u);
    EXPECT_EQ(shortFile->ReadResource(*where, 100), std::nullopt);
    EXPECT_EQ(shortFile->ReadResource(*where, 9)->size(), 9u);
}

TEST(ExecutableImage, SurvivesDamagedNeResourceTables) {
    const auto layout = BuildNe({{kVersion, kFirst, 0, "version data"},
                                 {kTypeLib, ResourceId::Named("Lib"), 0, "library"}});
    ASSERT_EQ(Image(layout.bytes).Read(kVersion, kFirst)->substr(0, 12), "version data");
    const std::size_t rsrctab = layout.lfanew + 0x24;
    const std::size_t restab = layout.lfanew + 0x26;

    // The header cut by the end of the file; an image ending right after it.
    EXPECT_FALSE(Image(layout.bytes.substr(0, layout.lfanew + 63)));
    const Image headerOnly(layout.bytes.substr(0, layout.lfanew + 64));
    ASSERT_TRUE(headerOnly);
    EXPECT_EQ(headerOnly->FindResource(kVersion, kFirst), std::nullopt);

    // No resource table when the resident-name table does not follow it.
    std::string noTable = layout.bytes;
    PutU16(noTable, restab, U16At(layout.bytes, rsrctab));
    EXPECT_EQ(Image(noTable)->FindResource(kVersion, kFirst), std::nullopt);

    // A shift that would move every resource out of reach.
    std::string bigShift = layout.bytes;
    PutU16(bigShift, layout.resourceTable, 32);
    EXPECT_EQ(Image(bigShift)->FindResource(kVersion, kFirst), std::nullopt);

    // A count far past the table: the records that are there still work.
    std::string manyNames = layout.bytes;
    PutU16(manyNames, layout.resourceTable + 2 + 2, 0xFFFF);
    EXPECT_EQ(Image(manyNames).Read(kVersion, kFirst)->substr(0, 12), "version data");

    // A name offset outside the table: that resource is gone, the others stay.
    std::string farName = layout.bytes;
    PutU16(farName, layout.nameInfos[1] + 6, 0x7FFF);
    const Image lostName(farName);
    EXPECT_TRUE(lostName->ResourceNames(kTypeLib).empty());
    EXPECT_TRUE(lostName.Read(kVersion, kFirst));

    // Data past the end of the file has no bytes; data running past the end
    // is cut at the end.
    std::string pastEnd = layout.bytes;
    PutU16(pastEnd, layout.nameInfos[0], 0xFFFF);
    const Image gone(pastEnd);
    const auto where = gone->FindResource(kVersion, kFirst);
    ASSERT_TRUE(where);
    EXPECT_EQ(where->size, 0u);
    EXPECT_EQ(gone->ReadResource(*where, 100), Bytes{});
    std::string longData = layout.bytes;
    PutU16(longData, layout.nameInfos[0] + 2, 0xFFFF);
    const auto clamped = Image(longData)->FindResource(kVersion, kFirst);
    ASSERT_TRUE(clamped);
    EXPECT_EQ(clamped->fileOffset + clamped->size, layout.bytes.size());
}

// A resource directory as the test lays it out: the header's two counts,
// then (name or ID, target) pairs; offsets are from the section's start.
std::string Directory(std::uint16_t named, std::uint16_t ids,
                      const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
    std::string out(12, '\0'); // characteristics, time stamp, version
    test::AppendU16(out, named);
    test::AppendU16(out, ids);
    for (const auto& [name, target] : entries) {
        test::AppendU32(out, name);
        test::AppendU32(out, target);
    }
    return out;
}

std::string DataEntry(std::size_t dataAt, std::size_t size) {
    std::string out;
    test::AppendU32(out, static_cast<std::uint32_t>(test::kPeResourceRva + dataAt));
    test::AppendU32(out, static_cast<std::uint32_t>(size));
    test::AppendU32(out, 0); // code page
    test::AppendU32(out, 0); // reserved
    return out;
}

std::string CountedName(const std::u16string& name) {
    std::string out;
    test::AppendU16(out, static_cast<std::uint16_t>(name.size()));
    for (const char16_t c : name)
        test::AppendU16(out, static_cast<std::uint16_t>(c));
    return out;
}

// Directories and tables whose counts, shared names and links would make a
// careless walk read and keep far more than the file holds.
TEST(ExecutableImage, HostileResourceTablesStayWithinTheBudget) {
    constexpr std::uint32_t kDir = 0x80000000u;
    constexpr std::size_t kEntries = 4096; // the most entries a directory is read with
    constexpr std::size_t kBig = 16 + 8 * kEntries;
    const std::u16string longName(512, u'\u00E9');
    // A one-entry directory of `id` pointing at `target`.
    const auto single = [](std::uint32_t id, std::uint32_t target) {
        return Directory(0, 1, {{id, target}});
    };

    // The version type is the last of 4,096 root entries; the root claims
    // 131,070.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> root(kEntries - 1, {99, kDir | kBig});
    root.push_back({kResourceTypeVersion, kDir | kBig});
    const std::string lastType = Directory(0xFFFF, 0xFFFF, root) + single(1, kDir | (kBig + 24)) +
                                 single(0x409, kBig + 48) + DataEntry(kBig + 64, 12) +
                                 "version data";

    // TYPELIB after 4,095 entries named with one 512-character name.
    const std::size_t longAt = kBig + 2 * 24 + 16;
    const std::size_t typeLibAt = longAt + 2 + 2 * longName.size();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> named(
        kEntries - 1, {kDir | static_cast<std::uint32_t>(longAt), kDir | kBig});
    named.push_back({kDir | static_cast<std::uint32_t>(typeLibAt), kDir | kBig});
    const std::string lastName = Directory(0xFFFF, 0, named) + single(1, kDir | (kBig + 24)) +
                                 single(0x409, kBig + 48) + DataEntry(typeLibAt + 16, 7) +
                                 CountedName(longName) + CountedName(u"TYPELIB") + "library";

    // One TYPELIB type whose 4,096 names all share the 512-character name.
    const std::size_t sharedAt = 24 + kBig + 24 + 16;
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> shared(
        kEntries, {kDir | static_cast<std::uint32_t>(sharedAt), kDir | (24 + kBig)});
    const std::string sharedNames =
        Directory(
            1, 0,
            {{kDir | static_cast<std::uint32_t>(sharedAt + 2 + 2 * longName.size()), kDir | 24}}) +
        Directory(0xFFFF, 0, shared) + single(0x409, 24 + kBig + 24) + DataEntry(0, 0) +
        CountedName(longName) + CountedName(u"TYPELIB");

    // Ten levels of 4,096-entry directories, each entry one level down.
    std::string deep;
    for (std::uint32_t level = 0; level < 10; ++level) {
        const std::uint32_t id = level == 0 ? kResourceTypeVersion : 1;
        deep += Directory(0xFFFF, 0xFFFF,
                          std::vector<std::pair<std::uint32_t, std::uint32_t>>(
                              kEntries, {id, kDir | ((level + 1) % 10 * kBig)}));
    }

    // A 16-bit image of 2,700 resources, all named with the type's 255-byte
    // name (each byte a 3-byte character once decoded). A name lies below
    // offset 32,768 of the table (bit 15 marks a number): 2,700 resource
    // records fit before it.
    std::vector<TestResource> neResources;
    for (std::uint16_t i = 1; i <= 2700; ++i)
        neResources.push_back(
            {ResourceId::Named(std::string(255, '\x80')), ResourceId::Number(i), 0, ""});
    const auto ne = BuildNe(neResources);
    std::string neShared = ne.bytes;
    const auto typeNameOffset = static_cast<std::uint16_t>(2 + 8 + 12 * 2700 + 2);
    for (const std::size_t nameInfo : ne.nameInfos)
        PutU16(neShared, nameInfo + 6, typeNameOffset);
    std::string euros;
    for (int i = 0; i < 255; ++i)
        euros += "\u20AC"; // byte 0x80 in Windows-1252
    const ResourceId neType = ResourceId::Named(euros);

    struct Case {
        const char* what;
        std::string bytes;
        ResourceId type, name;
        std::optional<std::string> read;
        std::size_t minNames, maxNames; ///< how many names ResourceNames(type) gives
        bool spent;
    };
    const Case cases[] = {
        {"root claiming 131,070 entries", test::BuildPeAround(lastType).bytes, kVersion, kFirst,
         "version data", 1, 1, false},
        {"TYPELIB after 4,095 long names", test::BuildPeAround(lastName).bytes, kTypeLib,
         ResourceId::Number(1), "library", 1, 1, false},
        {"4,096 names sharing one long name", test::BuildPeAround(sharedNames).bytes, kTypeLib,
         ResourceId::Number(1), std::nullopt, 1, kEntries - 1, true},
        {"ten levels of directories", test::BuildPeAround(deep).bytes, kVersion, kFirst,
         std::nullopt, kEntries, kEntries, false},
        {"2,700 NE resources sharing one name", neShared, neType, neType, "", 1, 2699, true},
    };
    // Walking one 4,096-entry directory costs 64 KB; reading a name of 512
    // characters about 2 KB.
    constexpr std::size_t kBudget = 1024 * 1024;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image image(c.bytes, kBudget);
        ASSERT_TRUE(image);
        EXPECT_EQ(image.Read(c.type, c.name), c.read);
        const auto names = image->ResourceNames(c.type);
        EXPECT_GE(names.size(), c.minNames);
        EXPECT_LE(names.size(), c.maxNames);
        EXPECT_EQ(image->budgetSpent(), c.spent);
    }
}

} // namespace
} // namespace sorvane
