// The file properties window: what it reads from executables, fonts and type
// libraries, how it shows hostile texts and long lists, the note on version
// strings that disagree with the fixed information, and the window itself.

#include "windows/file_properties.h"
#include "support/archive_maker.h"
#include "support/pe_builder.h"
#include "support/temp_dir.h"
#include "support/ttf_builder.h"
#include "support/typelib_builder.h"
#include "support/version_block_builder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <QTreeWidget>
#include <sys/stat.h>

namespace sorvane::windows {
namespace {

using test::Container;
using test::FixedInfoBytes;
using test::RootNode;
using test::StringNode;
using test::TestResource;
using test::TranslationNode;
using test::VersionNode;

const ResourceId kVersion = ResourceId::Number(kResourceTypeVersion);
const ResourceId kFirst = ResourceId::Number(kVersionResourceName);

std::string Str(const QString& text) {
    return text.toStdString();
}

} // namespace

void PrintTo(const PropertyRow& row, std::ostream* out) {
    *out << "{" << Str(row.label) << ": " << Str(row.value) << "}";
}
void PrintTo(const VersionDisagreement& d, std::ostream* out) {
    *out << "{" << Str(d.field) << " " << Str(d.table) << " " << Str(d.fixed) << " / "
         << Str(d.text) << "}";
}

namespace {

// The value of `label` in the section titled (or starting with) `title`.
std::string ValueOf(const FileProperties& p, const char* title, const char* label) {
    const PropertySection* section = p.Section(QString::fromUtf8(title));
    if (section == nullptr)
        return "<no section " + std::string(title) + ">";
    return Str(section->Value(QString::fromUtf8(label)).value_or(QStringLiteral("<none>")));
}

std::vector<std::string> Titles(const FileProperties& p) {
    std::vector<std::string> titles;
    for (const auto& section : p.sections)
        titles.push_back(Str(section.title));
    return titles;
}

// A version block: fixed 1.2.3.4 / 5.6.7.8, the translations given, and one
// string table per translation holding `strings`.
std::string Block(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& translations,
                  const std::vector<VersionNode>& strings) {
    std::vector<VersionNode> tables;
    for (const auto& [language, codePage] : translations) {
        char key[16];
        std::snprintf(key, sizeof key, "%04X%04X", language, codePage);
        tables.push_back(Container(key, strings));
    }
    return Serialize32(RootNode(FixedInfoBytes(0x00010002, 0x00030004, 0x00050006, 0x00070008),
                                {Container("StringFileInfo", tables),
                                 Container("VarFileInfo", {TranslationNode(translations)})}));
}

class FilePropertiesTest : public ::testing::Test {
protected:
    test::TempDir dir;
};

TEST_F(FilePropertiesTest, ShowsTheFileSystemEntryAndEveryPartOfAVersionResource) {
    const std::string block =
        Block({{0x0409, 0x04B0}, {0x0407, 0x04E4}},
              {StringNode("CompanyName", "Brannock Ltd"), StringNode("FileVersion", "1.2.3.4"),
               StringNode("Comments", "line one\r\nline two\x01\xE2\x80\xAE")});
    struct Case {
        const char* name;
        std::string bytes;
        const char* type;
        const char* languages;
    };
    const Case cases[] = {
        {"plain.dll", test::BuildPe({{kVersion, kFirst, 0x0409, block}}).bytes,
         "regular file: PE32 executable with a version resource",
         "English (United States) (0x0409), read"},
        // Stored in two languages: both listed, the US English one is read.
        {"two.dll",
         test::BuildPe({{kVersion, kFirst, 0x0407, block}, {kVersion, kFirst, 0x0409, block}},
                       {.pe32Plus = true, .resourceRawSize = std::nullopt})
             .bytes,
         "regular file: PE32+ executable with a version resource",
         "German (0x0407)\nEnglish (United States) (0x0409), read"},
        {"none.dll", test::BuildPe({}).bytes,
         "regular file: PE32 executable without a version resource", "<none>"},
        {"text.dll", "just text", "regular file: not a Windows executable: no version information",
         "<none>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write(std::string("bin/") + c.name, c.bytes);
        ASSERT_EQ(::chmod(path.c_str(), 04750), 0);
        const FileProperties p = ReadFileProperties(path);
        EXPECT_TRUE(p.exists);
        EXPECT_EQ(Str(p.name), c.name);
        EXPECT_EQ(Str(p.folder), dir.file("bin"));
        EXPECT_EQ(ValueOf(p, "File", "Type"), c.type);
        EXPECT_EQ(ValueOf(p, "File", "Permissions"), "rwsr-x--- (4750)");
        const std::string size = ValueOf(p, "File", "Size");
        EXPECT_EQ(size.substr(0, size.find(' ')),
                  QLocale(QLocale::English)
                      .toString(static_cast<qlonglong>(c.bytes.size()))
                      .toStdString());
        EXPECT_NE(ValueOf(p, "File", "Owner").find("(" + std::to_string(::getuid()) + ")"),
                  std::string::npos);
        EXPECT_EQ(ValueOf(p, "File", "Modified").size(), 19u); // yyyy-MM-dd HH:mm:ss
        const std::string languages = ValueOf(p, "Version resource", "Languages");
        EXPECT_EQ(languages == "<none>" ? ValueOf(p, "Version resource", "Language") : languages,
                  c.languages);
        if (std::string(c.languages) == "<none>") {
            EXPECT_EQ(p.Section(QStringLiteral("Fixed file information")), nullptr);
            continue;
        }
        EXPECT_EQ(ValueOf(p, "Read from the file now", "Version"), "1.02.03.04");
        EXPECT_EQ(ValueOf(p, "Fixed file information", "File version"), "1.2.3.4");
        EXPECT_EQ(ValueOf(p, "Fixed file information", "Product version"), "5.6.7.8");
        EXPECT_EQ(ValueOf(p, "Fixed file information", "Flags"),
                  "none (0x00000000 of mask 0x0000003F)");
        EXPECT_EQ(ValueOf(p, "Fixed file information", "Operating system"),
                  "Windows NT, 32-bit Windows (0x00040004)");
        EXPECT_EQ(ValueOf(p, "Fixed file information", "File type"), "DLL (0x00000002)");
        EXPECT_EQ(ValueOf(p, "Translations", "040904B0"),
                  "English (United States), Unicode, code page 1200");
        EXPECT_EQ(ValueOf(p, "Translations", "040704E4"),
                  "German, Western European (Windows-1252), code page 1252");
        for (const char* table : {"Strings 040904B0: English (United States), Unicode",
                                  "Strings 040704E4: German, Western European"}) {
            EXPECT_EQ(ValueOf(p, table, "CompanyName"), "Brannock Ltd");
            EXPECT_EQ(ValueOf(p, table, "Comments"), "line one\nline two\\x01\\u202E");
        }
        EXPECT_TRUE(p.disagreements.empty());
    }
}

TEST_F(FilePropertiesTest, LongListsAndTextsAreCutAndSayHowMuchIsLeft) {
    std::vector<VersionNode> strings;
    for (int i = 0; i < 130; ++i)
        strings.push_back(StringNode(std::to_string(i).insert(0, 1, 'S'), "v"));
    strings[0] = StringNode("Long", std::string(1500, 'x'));
    const std::string path = dir.write(
        "long.dll",
        test::BuildPe({{kVersion, kFirst, 0x0409, Block({{0x0409, 0x04B0}}, strings)}}).bytes);
    const FileProperties p = ReadFileProperties(path);
    const PropertySection* table = p.Section(QStringLiteral("Strings 040904B0"));
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->rows.size(), 101u);
    EXPECT_EQ(Str(table->rows[0].value), std::string(1000, 'x') + "… [500 more characters]");
    EXPECT_EQ(Str(table->rows[99].label), "S99");
    EXPECT_EQ(table->rows[100],
              (PropertyRow{QStringLiteral("…"), QStringLiteral("30 more strings")}));
}

TEST_F(FilePropertiesTest, VersionStringsThatDisagreeWithTheFixedInformationAreNamed) {
    // Fixed information: file version 1.2.3.4, product version 5.6.7.8.
    struct Case {
        const char* fileVersion;
        const char* productVersion;
        std::vector<VersionDisagreement> expected;
    };
    const auto fileDiffers = [](const char* text) {
        return VersionDisagreement{QStringLiteral("FileVersion"), QStringLiteral("040904B0"),
                                   QStringLiteral("1.2.3.4"), QString::fromUtf8(text)};
    };
    const Case cases[] = {
        {"1.2.3.4", "5.6.7.8", {}},
        {"1, 2, 3, 4", "5 . 06 . 7 . 8 (retail)", {}},
        {"1.2", "5", {}},             // leading parts only
        {"version one", "", {}},      // no number: says nothing
        {"1.2.3.4.9", "5.6.7.8", {}}, // a fifth part is not compared
        {"1.2.3.5", "5.6.7.8", {fileDiffers("1.2.3.5")}},
        {"1.03.4", "5.6.7.8", {fileDiffers("1.03.4")}}, // 1.3.4 is not 1.2.3.4
        {"65537.2", "5.6.7.8", {fileDiffers("65537.2")}},
        {"1.2.3.4",
         "5.6.7.0\t",
         {{QStringLiteral("ProductVersion"), QStringLiteral("040904B0"), QStringLiteral("5.6.7.8"),
           QStringLiteral("5.6.7.0\\x09")}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fileVersion) + " / " + c.productVersion);
        const std::string path = dir.write(
            "v.dll", test::BuildPe({{kVersion, kFirst, 0x0409,
                                     Block({{0x0409, 0x04B0}},
                                           {StringNode("FileVersion", c.fileVersion),
                                            StringNode("ProductVersion", c.productVersion)})}})
                         .bytes);
        EXPECT_EQ(ReadFileProperties(path).disagreements, c.expected);
    }
}

TEST_F(FilePropertiesTest, FontsShowEveryNameRecordGroupedByPlatformAndLanguage) {
    test::TtfBuilder font;
    font.names = {test::MacName(0, "(c) Mac"),
                  test::MacName(1, "Pegs"),
                  test::WindowsName(1, u"Pegs"),
                  test::WindowsName(5, u"Version 2.10"),
                  test::WindowsName(1, u"Pflöcke", 0x0407),
                  test::WindowsName(300, u"odd\u0007"),
                  {4, 0, 0, 4, "\x82\xA0"}};
    const FileProperties p = ReadFileProperties(dir.write("pegs.ttf", font.Build()));
    EXPECT_EQ(ValueOf(p, "File", "Type"), "regular file: TrueType font");
    EXPECT_EQ(ValueOf(p, "Read from the file now", "Version"), "2.10");
    EXPECT_EQ(Titles(p), (std::vector<std::string>{
                             "File", "Read from the file now", "Names: Macintosh, Roman, English",
                             "Names: Windows, Unicode BMP, English (United States) (0x0409)",
                             "Names: Windows, Unicode BMP, German (0x0407)",
                             "Names: Windows, Unicode BMP, English (United States) (0x0409)",
                             "Names: platform 4, encoding 0, language 0"}));
    const auto rows = [&](std::size_t i) { return p.sections[i].rows; };
    EXPECT_EQ(rows(2), (std::vector<PropertyRow>{
                           {QStringLiteral("Copyright (0)"), QStringLiteral("(c) Mac")},
                           {QStringLiteral("Family (1)"), QStringLiteral("Pegs")}}));
    EXPECT_EQ(rows(3)[1],
              (PropertyRow{QStringLiteral("Version (5)"), QStringLiteral("Version 2.10")}));
    EXPECT_EQ(rows(4)[0].value, QStringLiteral("Pflöcke"));
    EXPECT_EQ(rows(5)[0], (PropertyRow{QStringLiteral("Name 300"), QStringLiteral("odd\\x07")}));
    EXPECT_EQ(rows(6)[0].value, QStringLiteral("(2 bytes this program does not decode)"));

    // Thousands of records: the first hundred are shown.
    std::vector<test::TtfRecord> records(150, test::TtfRecord{1, 0, 0, 1, 4, 0});
    const FileProperties many =
        ReadFileProperties(dir.write("many.ttf", test::SharedStorageFont(records, "Pegs")));
    ASSERT_EQ(many.sections.size(), 3u);
    ASSERT_EQ(many.sections[2].rows.size(), 101u);
    EXPECT_EQ(many.sections[2].rows.back().value, QStringLiteral("50 more name records"));
}

TEST_F(FilePropertiesTest, TypeLibrariesShowTheirAttributesWholeOrAsAResource) {
    test::MsftBuilder library;
    library.major = 2;
    library.minor = 5;
    library.declaredLcid = 0x0407;
    library.helpString = "Pegs\tand holes";
    library.helpFile = "pegs.hlp";
    library.helpContext = 42;
    library.flags = 0x0A;
    library.sysKind = 3;
    const std::string image = library.Build();
    struct Case {
        const char* name;
        std::string bytes;
        const char* type;
    };
    const Case cases[] = {
        {"pegs.tlb", image, "regular file: type library"},
        {"pegs.olb",
         test::BuildPe(
             {{ResourceId::Named(kTypeLibraryResourceType), ResourceId::Number(1), 0, image}})
             .bytes,
         "regular file: type library in the TYPELIB resource of a PE32 executable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FileProperties p = ReadFileProperties(dir.write(c.name, c.bytes));
        EXPECT_EQ(ValueOf(p, "File", "Type"), c.type);
        const PropertySection* section = p.Section(QStringLiteral("Type library"));
        ASSERT_NE(section, nullptr);
        EXPECT_EQ(
            section->rows,
            (std::vector<PropertyRow>{
                {QStringLiteral("Name"), QStringLiteral("TestLib")},
                {QStringLiteral("Version"), QStringLiteral("2.5")},
                {QStringLiteral("Locale"), QStringLiteral("German (0x0407)")},
                {QStringLiteral("Help string"), QStringLiteral("Pegs\\x09and holes")},
                {QStringLiteral("Help file"), QStringLiteral("pegs.hlp")},
                {QStringLiteral("Help context"), QStringLiteral("42")},
                {QStringLiteral("GUID"), QStringLiteral("{12345678-9ABC-DEF0-1122-334455667788}")},
                {QStringLiteral("Flags"), QStringLiteral("control, has disk image (0x000A)")},
                {QStringLiteral("System"), QStringLiteral("64-bit Windows (3)")},
                {QStringLiteral("Format"), QStringLiteral("MSFT")},
            }));
    }
}

TEST_F(FilePropertiesTest, DotNetAssembliesShowTheIdentityTheyBindBy) {
    struct Case {
        const char* path;
        const char* name;
        const char* token;
    };
    const Case cases[] = {
        {"/usr/lib/mono/4.5/mscorlib.dll", "mscorlib", "b77a5c561934e089"},
        {"/usr/lib/mono/4.5/Mono.Security.dll", "Mono.Security", "0738eb9f132ed756"},
    };
    if (!std::filesystem::exists(cases[0].path))
        GTEST_SKIP() << "no Mono assemblies (package mono-utils)";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const FileProperties p = ReadFileProperties(c.path);
        const PropertySection* section = p.Section(QStringLiteral(".NET assembly"));
        ASSERT_NE(section, nullptr);
        EXPECT_EQ(section->rows,
                  (std::vector<PropertyRow>{
                      {QStringLiteral("Name"), QString::fromLatin1(c.name)},
                      {QStringLiteral("Assembly version"), QStringLiteral("4.0.0.0")},
                      {QStringLiteral("Culture"), QStringLiteral("neutral")},
                      {QStringLiteral("Public key token"), QString::fromLatin1(c.token)},
                  }));
    }
    // A native library has none.
    const FileProperties native = ReadFileProperties(
        dir.write("native.dll", test::BuildPe({{kVersion, kFirst, 0x0409,
                                                Block({{0x0409, 0x04B0}}, {})}}).bytes));
    EXPECT_EQ(native.Section(QStringLiteral(".NET assembly")), nullptr);
}

TEST_F(FilePropertiesTest, LinksFoldersAndMissingPaths) {
    const std::string target = dir.write("real.dll", "MZ");
    std::filesystem::create_symlink(target, dir.file("link.dll"));
    std::filesystem::create_symlink(dir.file("gone.dll"), dir.file("dangling.dll"));
    std::filesystem::create_directory(dir.file("folder"));
    struct Case {
        const char* name;
        bool exists;
        std::string linkTarget;
        const char* typeStart;
    };
    const Case cases[] = {
        {"link.dll", true, target, "regular file: not a Windows executable"},
        {"dangling.dll", true, dir.file("gone.dll") + " (missing)", "symbolic link"},
        {"folder", true, "<none>", "folder"},
        {"nothing.dll", false, "<none>", "nothing is there"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FileProperties p = ReadFileProperties(dir.file(c.name));
        EXPECT_EQ(p.exists, c.exists);
        EXPECT_EQ(ValueOf(p, "File", "Link target"), c.linkTarget);
        EXPECT_EQ(ValueOf(p, "File", "Type").rfind(c.typeStart, 0), 0u)
            << ValueOf(p, "File", "Type");
        EXPECT_EQ(p.Section(QStringLiteral("Read from the file now")) != nullptr,
                  std::string(c.name) == "link.dll");
    }
}

TEST(VisibleText, ControlCharactersBecomeEscapes) {
    struct Case {
        const char* text;
        bool keepLineBreaks;
        const char* shown;
    };
    const Case cases[] = {
        {"plain ÄÖÜ \\ text", false, "plain ÄÖÜ \\ text"},
        {"a\tb\x1b[31m\x7f", false, "a\\x09b\\x1b[31m\\x7f"},
        {"one\r\ntwo\nthree\rfour", false, "one\\x0d\\x0atwo\\x0athree\\x0dfour"},
        {"one\r\ntwo\nthree\rfour", true, "one\ntwo\nthree\nfour"},
        {"end\r\n\n", true, "end"},
        {"end\r\n", false, "end\\x0d\\x0a"},
        {"\xC2\x85 \xE2\x80\xAE \xE2\x81\xA6 \xE2\x80\xA8", true,
         "\\u0085 \\u202E \\u2066 \\u2028"},
        {"bad \xFF byte", false, "bad \xEF\xBF\xBD byte"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Str(VisibleText(c.text, c.keepLineBreaks)), c.shown) << c.text;
}

std::vector<FilePropertiesWindow*> OpenWindows() {
    std::vector<FilePropertiesWindow*> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<FilePropertiesWindow*>(w); p != nullptr && p->isVisible())
            windows.push_back(p);
    return windows;
}

TEST_F(FilePropertiesTest, TheWindowIsModelessOnePerFileAndShowsTheDisagreement) {
    QWidget owner;
    owner.show();
    const auto pe = [](const char* fileVersion) {
        return test::BuildPe(
                   {{kVersion, kFirst, 0x0409,
                     Block({{0x0409, 0x04B0}}, {StringNode("FileVersion", fileVersion)})}})
            .bytes;
    };
    const std::string path = dir.write("a.dll", pe("1.2.3.4"));
    EXPECT_EQ(ShowFileProperties(dir.file("missing.dll"), &owner), -1);
    EXPECT_TRUE(OpenWindows().empty());

    ASSERT_EQ(ShowFileProperties(path, &owner), 0);
    ASSERT_EQ(OpenWindows().size(), 1u);
    FilePropertiesWindow* window = OpenWindows()[0];
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    EXPECT_EQ(window->windowTitle(), "a.dll - File Properties");
    EXPECT_EQ(window->parentWidget(), &owner);
    EXPECT_FALSE(window->findChild<QFrame*>(QStringLiteral("disagreementBox"))->isVisible());
    QTreeWidget* tree = window->tree();
    ASSERT_EQ(tree->topLevelItemCount(), static_cast<int>(window->Properties().sections.size()));
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "File");
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->text(1), "a.dll");
    EXPECT_TRUE(window->RowsText(true).contains(QStringLiteral("FileVersion\t1.2.3.4\n")));

    // Asking again for the same file reads it again in the same window.
    dir.write("a.dll", pe("1.2.3.9"));
    ASSERT_EQ(ShowFileProperties(path, &owner), 0);
    ASSERT_EQ(OpenWindows(), std::vector<FilePropertiesWindow*>{window});
    QFrame* box = window->findChild<QFrame*>(QStringLiteral("disagreementBox"));
    EXPECT_TRUE(box->isVisible());
    QStringList shown;
    for (const QLabel* label : box->findChildren<QLabel*>())
        shown << label->text();
    EXPECT_TRUE(shown.contains(QStringLiteral("FileVersion (040904B0)")));
    EXPECT_TRUE(shown.contains(QStringLiteral("1.2.3.4")));
    EXPECT_TRUE(shown.contains(QStringLiteral("1.2.3.9")));

    // Another file gets a window of its own.
    ASSERT_EQ(ShowFileProperties(dir.write("b.dll", pe("1.2.3.4")), &owner), 0);
    EXPECT_EQ(OpenWindows().size(), 2u);
    // Many disagreeing tables: the first six are named, the rest counted.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> eight;
    for (std::uint16_t language = 0x0401; language <= 0x0408; ++language)
        eight.emplace_back(language, 0x04B0);
    const std::string many = dir.write(
        "c.dll",
        test::BuildPe({{kVersion, kFirst, 0x0409, Block(eight, {StringNode("FileVersion", "9")})}})
            .bytes);
    ASSERT_EQ(ShowFileProperties(many, &owner), 0);
    ASSERT_EQ(OpenWindows().size(), 3u);
    const auto* manyWindow = owner.findChildren<FilePropertiesWindow*>().back();
    EXPECT_EQ(manyWindow->Properties().disagreements.size(), 8u);
    QStringList manyShown;
    for (const QLabel* label : manyWindow->findChildren<QLabel*>())
        manyShown << label->text();
    EXPECT_TRUE(manyShown.contains(QStringLiteral("and 2 more")));
    EXPECT_FALSE(manyShown.contains(QStringLiteral("FileVersion (040704B0)")));
    EXPECT_TRUE(manyShown.contains(QStringLiteral("FileVersion (040604B0)")));

    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(OpenWindows().size(), 2u);
    for (FilePropertiesWindow* w : OpenWindows())
        w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(FilePropertiesTest, TheGridsRowHasItsOwnSectionBesideWhatTheFileHoldsNow) {
    QWidget owner;
    owner.show();
    const std::string path = dir.write(
        "g.dll", test::BuildPe({{kVersion, kFirst, 0x0409,
                                 Block({{0x0409, 0x04B0}}, {StringNode("FileVersion", "1.2.3.4")})}})
                     .bytes);
    const PropertySection copied{"In the result grid", {{"Mark", "+"}, {"Target version", "9.00"}}};
    const PropertySection scanned{"In the result grid", {{"Mark", "<"}, {"Target version", "8.00"}}};
    struct Case {
        std::optional<PropertySection> grid; // handed to ShowFileProperties
        QStringList headings;                // the first sections
        QString targetVersion;               // in the grid's section; empty: none shown
    };
    const std::vector<Case> cases{
        {std::nullopt, {"File", "Read from the file now"}, {}},
        {copied, {"File", "In the result grid", "Read from the file now"}, "9.00"},
        // The same file asked for again from the grid: the open window takes the row.
        {scanned, {"File", "In the result grid", "Read from the file now"}, "8.00"},
        {std::nullopt, {"File", "Read from the file now"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.headings.join(QLatin1Char('|')).toStdString());
        ASSERT_EQ(ShowFileProperties(path, &owner, c.grid), 0);
        ASSERT_EQ(OpenWindows().size(), 1u);
        const FilePropertiesWindow* window = OpenWindows()[0];
        QStringList headings;
        for (int i = 0; i < window->tree()->topLevelItemCount() && i < c.headings.size(); ++i)
            headings << window->tree()->topLevelItem(i)->text(0);
        EXPECT_EQ(headings, c.headings);
        const PropertySection* grid = window->Properties().Section("In the result grid");
        EXPECT_EQ(grid != nullptr, !c.targetVersion.isEmpty());
        if (grid != nullptr) {
            EXPECT_EQ(grid->Value("Target version"), c.targetVersion);
        }
        EXPECT_NE(window->Properties().Section("Read from the file now"), nullptr);
        EXPECT_EQ(window->RowsText(true).contains(QStringLiteral("In the result grid\n")),
                  grid != nullptr);
    }
    for (FilePropertiesWindow* w : OpenWindows())
        w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A member is read out of its archive as it is now, in a window of its own
// beside the archive file's; a name the archive no longer holds says so.
TEST_F(FilePropertiesTest, AMemberIsReadOutOfItsArchiveInAWindowOfItsOwn) {
    const std::string pe =
        test::BuildPe({{kVersion, kFirst, 0x0409,
                        Block({{0x0409, 0x04B0}}, {StringNode("FileDescription", "Packed")})}})
            .bytes;
    dir.write("tree/g.dll", pe);
    dir.write("tree/sub/x.dll", pe);
    const std::string archive = dir.file("tree.zip");
    if (auto made = test::MakeArchive(test::ArchiveFormat::Zip, dir.file("tree"), archive))
        GTEST_SKIP() << *made;
    const struct {
        std::string member;
        std::string folder, type, description; ///< "<none>": no such row
    } cases[] = {
        {"g.dll", archive, "member of an archive: PE32 executable with a version resource",
         "Packed"},
        {"sub/x.dll", archive + "/sub", "member of an archive: PE32 executable with a version resource",
         "Packed"},
        {"gone.dll", archive, "the archive holds no such member now", "<no section Read from the file now>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.member);
        const FileProperties p = ReadMemberProperties(archive, c.member);
        EXPECT_EQ(p.path, archive + "/" + c.member);
        EXPECT_EQ(ValueOf(p, "File", "Folder"), c.folder);
        EXPECT_EQ(ValueOf(p, "File", "Type"), c.type);
        EXPECT_EQ(ValueOf(p, "Read from the file now", "Description"), c.description);
    }

    QWidget owner;
    owner.show();
    ASSERT_EQ(ShowMemberProperties(archive, "g.dll", &owner, {}), 0);
    ASSERT_EQ(ShowFileProperties(archive, &owner), 0);
    ASSERT_EQ(ShowMemberProperties(archive, "g.dll", &owner, {}), 0); // the open one again
    ASSERT_EQ(OpenWindows().size(), 2u);
    std::vector<std::string> shown;
    for (const FilePropertiesWindow* w : OpenWindows())
        shown.push_back(w->Path());
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{archive, archive + "/g.dll"}));
    for (FilePropertiesWindow* w : OpenWindows())
        w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
} // namespace sorvane::windows
