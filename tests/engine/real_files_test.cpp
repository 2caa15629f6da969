// The readers over real files made by real tools: libraries with version
// resources from the MinGW resource compiler (tests/fixtures/*.rc), type
// libraries from Wine's IDL compiler (tests/fixtures/*.idl), a font of
// Debian's fonts-dejavu-core, and files that Debian's Wine packages ship.
//
// Every expected text below follows from what the .rc or .idl file declares
// (or, for installed files, from what pefile and the files' own sources say);
// tests/fixtures/check_fixtures.py checks the generated files against the
// same declarations with pefile.

#include "engine/files/opened_file.h"
#include "engine/formats/pe_image.h"
#include "engine/formats/version_reader.h"

#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <memory>
#include <sstream>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {
namespace {

std::string Fixture(std::string_view name) {
    return std::string(SORVANE_FIXTURE_DIR) + "/" + std::string(name);
}

FileKind KindOfPath(const std::string& path) {
    return FileKindOf(std::filesystem::path(path).extension().string());
}

void ExpectTexts(const VersionTexts& actual, const VersionTexts& expected) {
    EXPECT_EQ(actual.version, expected.version);
    EXPECT_EQ(actual.language, expected.language);
    EXPECT_EQ(actual.description, expected.description);
    EXPECT_EQ(actual.copyright, expected.copyright);
}

void ExpectTypeLibrary(const TypeLibraryTexts& actual, const TypeLibraryTexts& expected) {
    EXPECT_EQ(actual.version, expected.version);
    EXPECT_EQ(actual.language, expected.language);
    EXPECT_EQ(actual.helpString, expected.helpString);
    EXPECT_EQ(actual.loaded, expected.loaded);
}

// ---------------------------------------------------------------------------
// Libraries with version resources

struct VersionResourceCase {
    const char* file;
    bool pe32; ///< made by the i386 tools
    /// Language of the version resource the reader must choose; negative when
    /// the file has none.
    int resourceLanguage;
    VersionTexts texts;
};

void PrintTo(const VersionResourceCase& c, std::ostream* os) {
    *os << c.file;
}

class VersionResourceFile : public testing::TestWithParam<VersionResourceCase> {};

TEST_P(VersionResourceFile, EveryReaderGivesTheDeclaredTexts) {
    const VersionResourceCase& c = GetParam();
    if (c.pe32 && !SORVANE_HAVE_PE32_FIXTURES)
        GTEST_SKIP() << "no i386 MinGW tools when the tests were built";
    if (!c.pe32 && !SORVANE_HAVE_PE64_FIXTURES)
        GTEST_SKIP() << "no x86-64 MinGW tools when the tests were built";
    const std::string path = Fixture(c.file);
    ASSERT_TRUE(std::filesystem::is_regular_file(path)) << path << " was not generated";

    EXPECT_EQ(ReadFixedFileVersion(path), c.texts.version);

    // Without a translation table the language output is left alone.
    std::string language = "left alone";
    EXPECT_EQ(ReadFileDescription(path, &language), c.texts.description);
    EXPECT_EQ(language, c.texts.language.empty() ? "left alone" : c.texts.language);
    EXPECT_EQ(ReadFileDescription(path), c.texts.description);

    EXPECT_EQ(ReadVersionString(path, "LegalCopyright"), c.texts.copyright);

    const FileVersionData data = ReadFileVersionData(path, KindOfPath(path));
    EXPECT_EQ(data.kind, FileKind::VersionResource);
    EXPECT_TRUE(data.opened);
    if (c.resourceLanguage < 0) {
        EXPECT_FALSE(data.version.has_value());
    } else {
        ASSERT_TRUE(data.version.has_value());
        EXPECT_EQ(data.resourceLanguage, c.resourceLanguage);
        EXPECT_FALSE(data.version->sixteenBit);
    }
    ExpectTexts(ScanTexts(data), c.texts);
}

const char kEnglishCopyright[] = "Copyright (C) 2001 Example Tools Inc.";

INSTANTIATE_TEST_SUITE_P(
    ToolMade, VersionResourceFile,
    testing::Values(
        // english.rc: 5.0.2134.1, 040904B0.
        VersionResourceCase{"english.dll", false, 0x0409,
                            {"5.00.2134.01", "English (United States)",
                             "Plain English test library", kEnglishCopyright}},
        VersionResourceCase{"english32.dll", true, 0x0409,
                            {"5.00.2134.01", "English (United States)",
                             "Plain English test library", kEnglishCopyright}},
        // german.rc: 2.3.0.0 gives three parts; 040704E4; UTF-8 out.
        VersionResourceCase{"german.dll", false, 0x0407,
                            {"2.03.0000", "German", "Pr\u00FCfwerkzeug f\u00FCr Ger\u00E4te",
                             "\u00A9 2003 B\u00E4cker & S\u00F6hne GmbH"}},
        // neutral.rc: 1.0.0.1, language 0.
        VersionResourceCase{"neutral.dll", false, 0x0000,
                            {"1.00.00.01", "[Neutral]", "Language-neutral library",
                             "No rights reserved"}},
        // two_languages.rc: German 7.0.0.0 comes first, English 6.1.0.3 is chosen.
        VersionResourceCase{"two_languages.dll", false, 0x0409,
                            {"6.01.00.03", "English (United States)", "English edition",
                             "Copyright (C) Example Corp."}},
        // neutral_first.rc: English 8.0.0.0 and neutral 9.0.0.0; neutral is chosen.
        VersionResourceCase{"neutral_first.dll", false, 0x0000,
                            {"9.00.0000", "[Neutral]", "Neutral edition", ""}},
        // german_french.rc: neither neutral nor English; the lowest language wins.
        VersionResourceCase{"german_french.dll", false, 0x0407,
                            {"3.00.0000", "German", "Deutsche Fassung", ""}},
        // unmatched_table.rc: translation 0409, only table 040704B0.
        VersionResourceCase{"unmatched_table.dll", false, 0x0409,
                            {"1.00.0000", "English (United States)", "", ""}},
        // no_translation.rc: a string table but no VarFileInfo.
        VersionResourceCase{"no_translation.dll", false, 0x0409, {"1.02.03.04", "", "", ""}},
        // no_resources.c: no resources at all.
        VersionResourceCase{"no_version.exe", false, -1, {"", "", "", ""}}),
    [](const testing::TestParamInfo<VersionResourceCase>& info) {
        std::string name = info.param.file;
        for (char& ch : name)
            if (ch == '.')
                ch = '_';
        return name;
    });

TEST(VersionResourceFile, TheParsedBlockHoldsWhatTheScriptDeclares) {
    if (!SORVANE_HAVE_PE64_FIXTURES)
        GTEST_SKIP() << "no x86-64 MinGW tools when the tests were built";
    const FileVersionData data = ReadFileVersionData(Fixture("english.dll"), FileKind::VersionResource);
    ASSERT_TRUE(data.version.has_value());
    ASSERT_TRUE(data.version->fixed.has_value());
    EXPECT_EQ(data.version->fixed->signature, 0xFEEF04BDu);
    EXPECT_EQ(data.version->fixed->fileVersionMS, (5u << 16) | 0u);
    EXPECT_EQ(data.version->fixed->fileVersionLS, (2134u << 16) | 1u);
    EXPECT_EQ(data.version->fixed->productVersionMS, (5u << 16) | 0u);
    EXPECT_EQ(data.version->fixed->productVersionLS, 0u);
    EXPECT_EQ(data.version->fixed->fileOS, 0x40004u);
    EXPECT_EQ(data.version->fixed->fileType, 2u);
    ASSERT_EQ(data.version->translations.size(), 1u);
    EXPECT_EQ(data.version->translations[0], (Translation{0x0409, 1200}));
    EXPECT_EQ(TranslationCode(data.version->translations[0]), "040904B0");
    ASSERT_EQ(data.version->stringTables.size(), 1u);
    EXPECT_EQ(data.version->stringTables[0].key, "040904B0");
    EXPECT_EQ(data.version->stringTables[0].strings.size(), 5u);
    // The text of the FileVersion string is not the version shown.
    EXPECT_EQ(ReadVersionString(Fixture("english.dll"), "FileVersion"), "5.0.2134.1 (release)");
    EXPECT_EQ(ReadVersionString(Fixture("english.dll"), "ProductName"), "Example Fixtures");
    EXPECT_EQ(ReadVersionString(Fixture("english.dll"), "Comments"), "");
    // The German table of unmatched_table.rc is there, but not the one asked.
    const FileVersionData unmatched =
        ReadFileVersionData(Fixture("unmatched_table.dll"), FileKind::VersionResource);
    ASSERT_TRUE(unmatched.version.has_value());
    EXPECT_EQ(unmatched.version->QueryString("040704B0", "FileDescription"),
              std::optional<std::string>("Nur die deutsche Tabelle"));
    EXPECT_EQ(unmatched.version->QueryString("040904B0", "FileDescription"), std::nullopt);
}

// ---------------------------------------------------------------------------
// Type libraries

TEST(TypeLibraryFile, StandAloneLibrariesFromTheIdlCompiler) {
    if (!SORVANE_HAVE_TLB_FIXTURES)
        GTEST_SKIP() << "no widl when the tests were built";
    // neutral_library.idl: version(1.12), no lcid, no helpstring.
    const std::string neutral = Fixture("neutral_library.tlb");
    ExpectTypeLibrary(ReadTypeLibraryInfo(neutral), {"1.12", "[Neutral]", "", true});
    ExpectTexts(ScanTexts(ReadFileVersionData(neutral, KindOfPath(neutral))),
                {"1.12", "[Neutral]", "", ""});

    // german_library.idl: version(3.7), lcid(0x407), a helpstring; built for
    // Win32 and for Win64.
    for (const char* file : {"german_library.tlb", "german_library64.tlb"}) {
        SCOPED_TRACE(file);
        const std::string path = Fixture(file);
        ExpectTypeLibrary(ReadTypeLibraryInfo(path),
                          {"3.7", "German", "Typbibliothek mit Sprache", true});
        const FileVersionData data = ReadFileVersionData(path, KindOfPath(path));
        EXPECT_EQ(data.kind, FileKind::TypeLibrary);
        ASSERT_TRUE(data.typeLibrary.has_value());
        EXPECT_EQ(data.typeLibrary->format, TypeLibraryFormat::Msft);
        EXPECT_EQ(data.typeLibrary->majorVersion, 3);
        EXPECT_EQ(data.typeLibrary->minorVersion, 7);
        EXPECT_EQ(data.typeLibrary->lcid, 0x407u);
        std::string guid = data.typeLibrary->guid;
        for (char& ch : guid)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(guid, "{6C1F7A52-3B0E-4D7C-9A41-2F5D8E0B1C11}");
        ExpectTexts(ScanTexts(data), {"3.7", "German", "Typbibliothek mit Sprache", ""});
    }
    EXPECT_EQ(ReadFileVersionData(Fixture("german_library.tlb"), FileKind::TypeLibrary)
                  .typeLibrary.value_or(TypeLibraryInfo{})
                  .sysKind,
              1);
    EXPECT_EQ(ReadFileVersionData(Fixture("german_library64.tlb"), FileKind::TypeLibrary)
                  .typeLibrary.value_or(TypeLibraryInfo{})
                  .sysKind,
              3);
}

TEST(TypeLibraryFile, LibraryInsideAnExecutable) {
    if (!SORVANE_HAVE_TLB_RESOURCE_FIXTURE)
        GTEST_SKIP() << "no widl or no MinGW tools when the tests were built";
    // typelib_resource.rc.in: german_library.tlb as resource TYPELIB 1.
    ExpectTypeLibrary(ReadTypeLibraryInfo(Fixture("typelib_resource.tlb")),
                      {"3.7", "German", "Typbibliothek mit Sprache", true});
}

TEST(TypeLibraryFile, FilesThatAreNoTypeLibraries) {
    test::TempDir dir;
    std::vector<std::string> paths = {
        dir.write("notes.tlb", "MSFT is not enough to be a type library\n")};
    if (SORVANE_HAVE_PE64_FIXTURES)
        paths.push_back(Fixture("english.dll")); // an executable without TYPELIB resource
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const TypeLibraryTexts info = ReadTypeLibraryInfo(path);
        EXPECT_FALSE(info.loaded);
        EXPECT_EQ(info.version, "");
        EXPECT_EQ(info.helpString, "");
        const FileVersionData data = ReadFileVersionData(path, FileKind::TypeLibrary);
        EXPECT_FALSE(data.typeLibrary.has_value());
        EXPECT_EQ(ScanTexts(data).version, "");
    }
}

// ---------------------------------------------------------------------------
// Fonts installed by Debian packages

constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

TEST(TrueTypeFile, DejaVuSans) {
    if (!std::filesystem::is_regular_file(kDejaVuSans))
        GTEST_SKIP() << kDejaVuSans << " is missing (package fonts-dejavu-core)";
    // The Macintosh (single-byte) records of the font's naming table; the
    // version is that of the package, 2.37.
    const std::string copyright =
        "Copyright (c) 2003 by Bitstream, Inc. All Rights Reserved.\n"
        "Copyright (c) 2006 by Tavmjong Bah. All Rights Reserved.\n"
        "DejaVu changes are in public domain\n";
    EXPECT_EQ(ReadTrueTypeName(kDejaVuSans, kTrueTypeCopyright), copyright);
    EXPECT_EQ(ReadTrueTypeName(kDejaVuSans, kTrueTypeFamily), "DejaVu Sans");
    EXPECT_EQ(ReadTrueTypeName(kDejaVuSans, kTrueTypeVersion), "2.37");
    // Name 5 asked for directly keeps its "Version ".
    EXPECT_EQ(ReadTrueTypeName(kDejaVuSans, 5), "Version 2.37");

    const FileVersionData data = ReadFileVersionData(kDejaVuSans, FileKindOf(".ttf"));
    EXPECT_EQ(data.kind, FileKind::TrueType);
    ASSERT_TRUE(data.font.has_value());
    // Of the 26 records, the scan keeps the 6 of names 0, 1 and 5.
    EXPECT_EQ(data.font->records.size(), 6u);
    ExpectTexts(ScanTexts(data), {"2.37", "", "DejaVu Sans", copyright});
}

TEST(TrueTypeFile, WindowsRecordsAloneGiveTheNamesOfTheirMacTwins) {
    // Most fonts made today carry only Windows (UTF-16) names. These carry
    // the same texts in Mac Roman records as well, so keeping only their
    // Windows records must give the same names.
    std::size_t checked = 0;
    for (const char* path :
         {kDejaVuSans, "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf",
          "/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/symbol.ttf"}) {
        if (!std::filesystem::is_regular_file(path))
            continue;
        SCOPED_TRACE(path);
        ++checked;
        const auto file = OpenedFile::Open(path);
        ASSERT_TRUE(file);
        const auto names = ReadTrueTypeNames(*file);
        ASSERT_TRUE(names.has_value());
        TrueTypeNames windowsOnly = *names;
        std::erase_if(windowsOnly.records, [](const auto& record) { return record.platform != 3; });
        ASSERT_FALSE(windowsOnly.records.empty());
        ASSERT_LT(windowsOnly.records.size(), names->records.size());
        for (const std::uint16_t id : {0, 1, 2, 5}) {
            EXPECT_NE(names->Name(id), "") << id;
            EXPECT_EQ(windowsOnly.Name(id), names->Name(id)) << id;
        }
    }
    if (checked == 0)
        GTEST_SKIP() << "none of the fonts is installed (fonts-dejavu-core, fonts-wine)";
}

TEST(TrueTypeFile, MacRomanTextOfWinesSymbolFont) {
    const char* path = "/usr/share/wine/fonts/symbol.ttf";
    if (!std::filesystem::is_regular_file(path))
        GTEST_SKIP() << path << " is missing (package fonts-wine)";
    // The copyright record holds byte 0xA9, the Mac Roman copyright sign.
    EXPECT_EQ(ReadTrueTypeName(path, kTrueTypeCopyright),
              "WineSymbol \u00A9 (Jon Parshall for CodeWeavers). 2009.");
    EXPECT_EQ(ReadTrueTypeName(path, kTrueTypeFamily), "Symbol");
    EXPECT_EQ(ReadTrueTypeName(path, kTrueTypeVersion), "1.1 February 3, 2009, initial release");
}

// ---------------------------------------------------------------------------
// Files of Debian 12's Wine 8.0 (package libwine). The expected texts were
// read from the files with pefile and agree with Wine's sources.

constexpr const char* kWineDir = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/";
const char kWineCopyright[] =
    "Copyright (c) 1993-2023 the Wine project authors (see the file AUTHORS for a complete list)";

TEST(WineFile, Stdole2TypeLibraryInsideAnExecutable) {
    const std::string path = std::string(kWineDir) + "stdole2.tlb";
    if (!std::filesystem::is_regular_file(path))
        GTEST_SKIP() << path << " is missing (package libwine)";
    // std_ole_v2.idl: version(2.0), helpstring("OLE Automation"), no lcid.
    ExpectTypeLibrary(ReadTypeLibraryInfo(path), {"2.0", "[Neutral]", "OLE Automation", true});
    ExpectTexts(ScanTexts(ReadFileVersionData(path, KindOfPath(path))),
                {"2.0", "[Neutral]", "OLE Automation", ""});
}

TEST(WineFile, Kernel32ChoosesTheEnglishOfThirtySixVersionResources) {
    const std::string path = std::string(kWineDir) + "kernel32.dll";
    if (!std::filesystem::is_regular_file(path))
        GTEST_SKIP() << path << " is missing (package libwine)";
    // 36 languages, the first Arabic (0x0001), no neutral one; 0x0409 is chosen.
    const FileVersionData data = ReadFileVersionData(path, KindOfPath(path));
    ASSERT_TRUE(data.version.has_value());
    EXPECT_EQ(data.resourceLanguage, 0x0409);
    ExpectTexts(ScanTexts(data),
                {"10.00.18362.1350", "English (United States)", "Wine kernel DLL", kWineCopyright});
    EXPECT_EQ(ReadFixedFileVersion(path), "10.00.18362.1350");
}

TEST(WineFile, Oleaut32WithANeutralVersionResource) {
    const std::string path = std::string(kWineDir) + "oleaut32.dll";
    if (!std::filesystem::is_regular_file(path))
        GTEST_SKIP() << path << " is missing (package libwine)";
    const FileVersionData data = ReadFileVersionData(path, KindOfPath(path));
    ASSERT_TRUE(data.version.has_value());
    EXPECT_EQ(data.resourceLanguage, 0x0000);
    ExpectTexts(ScanTexts(data),
                {"6.00.6001.18000", "English (United States)", "Wine OLE dll", kWineCopyright});
}

TEST(WineFile, SixteenBitFontFileWithoutVersionResource) {
    // A 16-bit (NE) executable holding bitmap fonts and no version resource.
    const char* path = "/usr/share/wine/fonts/coure.fon";
    if (!std::filesystem::is_regular_file(path))
        GTEST_SKIP() << path << " is missing (package fonts-wine)";
    const FileVersionData data = ReadFileVersionData(path, KindOfPath(path));
    EXPECT_TRUE(data.opened);
    EXPECT_FALSE(data.version.has_value());
    ExpectTexts(ScanTexts(data), {"", "", "", ""});
}

// ---------------------------------------------------------------------------
// Paths that are no readable regular files

TEST(SpecialPath, GivesNothingAndIsNotOpened) {
    test::TempDir dir;
    for (const std::string& path : {dir.file("missing.dll"), dir.path().string(), std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        const FileVersionData data = ReadFileVersionData(path, FileKind::VersionResource);
        EXPECT_FALSE(data.opened);
        ExpectTexts(ScanTexts(data), {"", "", "", ""});
        EXPECT_EQ(ReadFixedFileVersion(path), "");
        std::string language = "left alone";
        EXPECT_EQ(ReadFileDescription(path, &language), "");
        EXPECT_EQ(language, "left alone");
        EXPECT_EQ(ReadTrueTypeName(path, kTrueTypeVersion), "");
        EXPECT_FALSE(ReadTypeLibraryInfo(path).loaded);
    }
}

// What monodis, Mono's own disassembler, says of an assembly's identity: the
// Assembly table's name, version and culture, and the public key's bytes.
struct MonodisAssembly {
    std::string name, version, culture;
    std::vector<std::byte> key;
};

std::optional<MonodisAssembly> Monodis(const std::string& path) {
    const std::string command = "monodis --assembly '" + path + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof(buffer), pipe.get()))
        text.append(buffer, got);
    MonodisAssembly out;
    bool dump = false;
    std::istringstream lines(text);
    const auto value = [](const std::string& line) {
        const std::size_t colon = line.find(':');
        std::string v = line.substr(colon + 1);
        v.erase(0, v.find_first_not_of(' '));
        return v;
    };
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Name:"))
            out.name = value(line);
        else if (line.starts_with("Version:"))
            out.version = value(line);
        else if (line.starts_with("Culture:"))
            out.culture = value(line), dump = false;
        else if (line.find("Dump:") != std::string::npos)
            dump = true;
        else if (dump && line.starts_with("0x")) {
            std::istringstream bytes(line.substr(line.find(':') + 1));
            for (std::string hex; bytes >> hex;)
                out.key.push_back(static_cast<std::byte>(std::stoi(hex, nullptr, 16)));
        }
    }
    if (out.name.empty())
        return std::nullopt;
    return out;
}

TEST(MonoAssembly, TheIdentityIsWhatMonodisReads) {
    std::vector<std::string> paths;
    for (const char* folder : {"/usr/lib/mono/4.5", "/usr/lib/mono/gac"}) {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            if (it->path().extension() == ".dll" && it->is_regular_file())
                paths.push_back(it->path().string());
    }
    if (paths.empty() || std::system("monodis --help >/dev/null 2>&1") == -1 ||
        !Monodis(paths.front()))
        GTEST_SKIP() << "no Mono assemblies or no monodis (package mono-utils)";
    int signedOnes = 0;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const auto expected = Monodis(path);
        ASSERT_TRUE(expected);
        const FileVersionData data = ReadFileVersionData(path, FileKind::VersionResource);
        ASSERT_TRUE(data.assembly) << (data.assemblyFailure ? data.assemblyFailure->Message() : "");
        EXPECT_EQ(data.assembly->name, expected->name);
        EXPECT_EQ(data.assembly->version, expected->version);
        EXPECT_EQ(data.assembly->culture, expected->culture);
        EXPECT_EQ(data.assembly->publicKeyToken,
                  expected->key.empty() ? "" : PublicKeyToken(expected->key));
        signedOnes += expected->key.empty() ? 0 : 1;
    }
    EXPECT_GT(signedOnes, 0);
}

// The .NET assemblies the tests build are assemblies to Mono too: monodis
// reads the name and version they were built with, and so does the program.
TEST(MonoAssembly, TheAssembliesTheTestsBuildAreReadAlikeByMonodis) {
    if (std::system("monodis --help >/dev/null 2>&1") == -1 ||
        !Monodis("/usr/lib/mono/4.5/mscorlib.dll"))
        GTEST_SKIP() << "no monodis or no Mono assemblies (package mono-utils)";
    test::TempDir dir;
    struct Case {
        std::string name;
        std::array<std::uint16_t, 4> version;
        const char* text;
    };
    for (const Case& c : {Case{"Library", {1, 2, 3, 4}, "1.2.3.4"},
                          Case{"Other.Name", {65535, 0, 65534, 1}, "65535.0.65534.1"},
                          Case{"Zero", {0, 0, 0, 0}, "0.0.0.0"}}) {
        SCOPED_TRACE(c.name);
        const std::string path =
            dir.write(c.name + ".dll", test::AssemblyPe({{7, 0, 0, 0}}, c.version, c.name));
        const auto mono = Monodis(path);
        ASSERT_TRUE(mono);
        EXPECT_EQ(mono->name, c.name);
        EXPECT_EQ(mono->version, c.text);
        EXPECT_EQ(mono->culture, "");
        const FileVersionData data = ReadFileVersionData(path, FileKind::VersionResource);
        ASSERT_TRUE(data.assembly);
        EXPECT_EQ(data.assembly->name, c.name);
        EXPECT_EQ(data.assembly->version, c.text);
        EXPECT_EQ(data.assembly->publicKeyToken, "");
        EXPECT_EQ(ReadFixedFileVersion(path), "7.00.0000");
    }
}

// The metadata's reads are paid from the image's budget: a budget that pays
// for the headers only gets no identity.
TEST(MonoAssembly, TheMetadataIsReadWithinTheImagesBudget) {
    const std::string path = "/usr/lib/mono/4.5/mscorlib.dll";
    const auto file = OpenedFile::Open(path);
    if (!file)
        GTEST_SKIP() << path << " is missing (package mono-utils)";
    // With the whole budget the identity is read; with less, a budget comes
    // that still opens the image but cannot pay for its metadata, and then
    // the identity is not read and the budget says it was spent.
    bool cutShort = false;
    for (std::size_t budget = kReadBudgetBytes; budget >= 64 && !cutShort; budget = budget * 7 / 8) {
        SCOPED_TRACE(budget);
        const auto image = ExecutableImage::Open(*file, budget);
        if (!image)
            break; // too little for the headers alone
        const auto assembly = image->Assembly();
        ASSERT_TRUE(assembly);
        if (budget == kReadBudgetBytes)
            EXPECT_TRUE(assembly->has_value());
        cutShort = !assembly->has_value();
        EXPECT_EQ(image->budgetSpent(), cutShort);
    }
    EXPECT_TRUE(cutShort);
}

// A native library has no CLI header and so no identity, and no reason for none.
TEST(MonoAssembly, ANativeLibraryHasNoIdentity) {
    const std::string path = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << path << " is missing (package libwine)";
    const FileVersionData data = ReadFileVersionData(path, FileKind::VersionResource);
    EXPECT_TRUE(data.version);
    EXPECT_FALSE(data.assembly);
    EXPECT_FALSE(data.assemblyFailure);
}

} // namespace
} // namespace sorvane
