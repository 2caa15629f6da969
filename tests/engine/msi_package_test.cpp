// Installers read as the tree they install. Every package is built here by
// wixl from the libraries of tests/fixtures; the hostile ones are then edited
// with msibuild, and external cabinets are made with gcab.

#include "engine/archive/msi_package.h"
#include "engine/formats/version_reader.h"
#include "engine/scan/scan_driver.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {
namespace {

namespace fs = std::filesystem;

std::string Fixture(std::string_view name) {
    return std::string(SORVANE_FIXTURE_DIR) + "/" + std::string(name);
}

std::string FixtureBytes(std::string_view name) {
    std::ifstream in(Fixture(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Quoted(std::string_view text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// ---------------------------------------------------------------------------
// Writing the packages

std::string FileXml(std::string_view id, std::string_view name, std::string_view fixture) {
    return "<File Id=\"" + std::string(id) + "\" Name=\"" + std::string(name) + "\" Source=\"" +
           std::string(fixture) + "\"/>";
}

std::string ComponentXml(std::string_view id, const std::string& files) {
    static int count = 0;
    char guid[40];
    std::snprintf(guid, sizeof guid, "11111111-2222-3333-4444-%012d", ++count);
    return "<Component Id=\"" + std::string(id) + "\" Guid=\"" + guid + "\">" + files +
           "</Component>";
}

/// A Directory element; without a name for the standard folders.
std::string FolderXml(std::string_view id, std::string_view name, const std::string& inside) {
    std::string out = "<Directory Id=\"" + std::string(id) + "\"";
    if (!name.empty())
        out += " Name=\"" + std::string(name) + "\"";
    return out + ">" + inside + "</Directory>";
}

/// The usual product: ProgramFilesFolder/Example Tools/Example Product with
/// two libraries, and a third in its folder "plugins".
std::string OneProduct() {
    return FolderXml(
        "ProgramFilesFolder", "",
        FolderXml("Company", "Example Tools",
                  FolderXml("INSTALLDIR", "Example Product",
                            ComponentXml(
                                "Main", FileXml("english", "english.dll", "english.dll") +
                                            FileXml("german", "german library.dll", "german.dll")) +
                                FolderXml("Sub", "plugins",
                                          ComponentXml("Plug", FileXml("neutral", "neutral.dll",
                                                                       "neutral.dll"))))));
}

enum class Cabinet { Embedded, Beside };

struct Built {
    std::string msi;
    std::string log;
    bool ok = false;
};

/// Runs `command` in `folder`; its output goes to the log.
bool RunIn(const std::string& folder, const std::string& command, std::string& log) {
    const std::string output = folder + "/command.log";
    const int status = std::system(
        ("cd " + Quoted(folder) + " && (" + command + ") >" + Quoted(output) + " 2>&1").c_str());
    std::ifstream in(output);
    log += command + "\n" + std::string(std::istreambuf_iterator<char>(in), {});
    return status == 0;
}

/// Builds product.msi in `dir` from the Directory elements `folders` (below
/// TARGETDIR) with wixl, then runs each msibuild query on it. The fixtures
/// the files name are copied beside it (wixl takes relative sources only).
Built Build(const test::TempDir& dir, const std::string& folders,
            Cabinet cabinet = Cabinet::Embedded, const std::vector<std::string>& queries = {}) {
    static const std::regex source("Source=\"([^\"]+)\"");
    for (auto it = std::sregex_iterator(folders.begin(), folders.end(), source);
         it != std::sregex_iterator(); ++it)
        fs::copy_file(Fixture((*it)[1].str()), dir.file((*it)[1].str()),
                      fs::copy_options::skip_existing);
    std::string features;
    static const std::regex component("<Component Id=\"([^\"]+)\"");
    for (auto it = std::sregex_iterator(folders.begin(), folders.end(), component);
         it != std::sregex_iterator(); ++it)
        features += "<ComponentRef Id=\"" + (*it)[1].str() + "\"/>";
    const std::string wxs =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">"
        "<Product Id=\"*\" Name=\"Example\" Language=\"1033\" Version=\"1.0.0\" "
        "Manufacturer=\"Example Tools\" UpgradeCode=\"12345678-1234-1234-1234-123456789012\">"
        "<Package InstallerVersion=\"200\" Compressed=\"yes\"/>"
        "<Media Id=\"1\" Cabinet=\"product.cab\" EmbedCab=\"" +
        std::string(cabinet == Cabinet::Embedded ? "yes" : "no") +
        "\"/>"
        "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\">" +
        folders + "</Directory><Feature Id=\"All\" Level=\"1\">" + features +
        "</Feature></Product></Wix>\n";
    dir.write("product.wxs", wxs);
    Built built;
    built.msi = dir.file("product.msi");
    built.ok = RunIn(dir.path().string(), std::string(SORVANE_WIXL) + " -o product.msi product.wxs",
                     built.log);
    for (const std::string& query : queries)
        built.ok =
            built.ok &&
            RunIn(dir.path().string(),
                  std::string(SORVANE_MSIBUILD) + " product.msi -q " + Quoted(query), built.log);
    return built;
}

/// A cabinet `name` in `dir` of the fixtures `members` (File key, fixture),
/// in that order.
bool MakeCabinet(const test::TempDir& dir, std::string_view name,
                 const std::vector<std::pair<std::string, std::string>>& members,
                 std::string& log) {
    const std::string staging = dir.file("cabinet-members");
    fs::create_directories(staging);
    std::string list;
    for (const auto& [key, fixture] : members) {
        fs::copy_file(Fixture(fixture), staging + "/" + key, fs::copy_options::overwrite_existing);
        list.append(" ").append(Quoted(key));
    }
    return RunIn(staging, std::string(SORVANE_GCAB) + " -c -z " + Quoted(dir.file(name)) + list,
                 log);
}

// ---------------------------------------------------------------------------
// Walking them

struct Visited {
    PackedMember member;
    std::optional<std::string> bytes; ///< all of them; nothing when none were given
    std::string versionRead;
};

struct Walked {
    std::vector<Visited> visited;
    std::vector<std::pair<std::string, Failure>> unreadable;

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const Visited& v : visited)
            names.push_back(v.member.name);
        return names;
    }
    std::vector<std::pair<std::string, std::string>> Reasons() const {
        std::vector<std::pair<std::string, std::string>> reasons;
        for (const auto& [name, failure] : unreadable)
            reasons.emplace_back(name, failure.CodeName());
        return reasons;
    }
};

Walked WalkAll(
    PackedTree& tree, const PackedTree::Wanted& wanted = [](const PackedMember&) { return true; }) {
    Walked walked;
    const auto result = tree.Walk(
        wanted,
        [&](const PackedMember& member, const ByteSource* bytes) {
            Visited& v = walked.visited.emplace_back();
            v.member = member;
            if (bytes) {
                // The version first, as a scan reads it, then every byte.
                const auto kind = FileKindOf(fs::path(member.name).extension().string());
                v.versionRead =
                    ScanTexts(ReadFileVersionData(*bytes, kind, ReadDepth::RowTexts)).version;
                const auto all = bytes->Read(0, static_cast<std::size_t>(bytes->size()));
                v.bytes = all ? std::string(reinterpret_cast<const char*>(all->data()), all->size())
                              : std::string("<read failed>");
            }
            return true;
        },
        [&](const std::string& name, const Failure& failure) {
            walked.unreadable.emplace_back(name, failure);
        });
    EXPECT_TRUE(result) << result.error().Message();
    return walked;
}

bool ToolsPresent() {
    return SORVANE_HAVE_PE64_FIXTURES && *SORVANE_WIXL && *SORVANE_MSIBUILD && *SORVANE_GCAB;
}

#define SKIP_WITHOUT_TOOLS()                                                                       \
    if (!ToolsPresent())                                                                           \
    GTEST_SKIP() << "wixl, msibuild, gcab or the MinGW fixtures were missing when the tests were " \
                    "built"

/// Each visited member against the fixture it was made of.
void ExpectFixtureBytes(const Walked& walked,
                        const std::vector<std::pair<std::string, std::string>>& expected) {
    ASSERT_EQ(walked.visited.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        const Visited& v = walked.visited[i];
        EXPECT_EQ(v.member.name, expected[i].first);
        const std::string bytes = FixtureBytes(expected[i].second);
        EXPECT_EQ(v.member.size, bytes.size());
        ASSERT_TRUE(v.bytes.has_value());
        EXPECT_TRUE(*v.bytes == bytes) << "the member's bytes differ from " << expected[i].second;
    }
}

// ---------------------------------------------------------------------------

struct LayoutCase {
    const char* label;
    std::string folders;
    std::vector<std::string> queries;
    /// Member names in the order of the cabinet, with the fixture of each.
    std::vector<std::pair<std::string, std::string>> members;
};

TEST(MsiPackage, TreeIsTheInstalledLayoutBelowTheDeepestCommonFolder) {
    SKIP_WITHOUT_TOOLS();
    const std::vector<LayoutCase> cases = {
        {"one product, rooted at its install folder",
         OneProduct(),
         {},
         {{"english.dll", "english.dll"},
          {"german library.dll", "german.dll"},
          {"plugins/neutral.dll", "neutral.dll"}}},
        {"files in two standard folders are named by their properties",
         FolderXml("ProgramFilesFolder", "",
                   FolderXml("App", "Example App",
                             ComponentXml("A", FileXml("english", "english.dll", "english.dll")))) +
             FolderXml("SystemFolder", "",
                       ComponentXml("S", FileXml("german", "german.dll", "german.dll"))),
         {},
         {{"ProgramFilesFolder/Example App/english.dll", "english.dll"},
          {"SystemFolder/german.dll", "german.dll"}}},
        {"a folder below the root that no property sets is named by the root",
         FolderXml("Tools", "Tools",
                   ComponentXml("T", FileXml("english", "english.dll", "english.dll"))) +
             FolderXml("ProgramFiles64Folder", "",
                       ComponentXml("P", FileXml("neutral", "neutral.dll", "neutral.dll"))),
         {},
         {{"TARGETDIR/Tools/english.dll", "english.dll"},
          {"ProgramFiles64Folder/neutral.dll", "neutral.dll"}}},
        {"long names of short|long, target parts of target:source, '.' adds no folder",
         OneProduct(),
         {"UPDATE `Directory` SET `DefaultDir` = 'PLUGIN~1|plug ins:SRC~1|source' WHERE "
          "`Directory` = 'Sub'",
          "UPDATE `Directory` SET `DefaultDir` = '.' WHERE `Directory` = 'Company'",
          "UPDATE `File` SET `FileName` = 'GERMAN~1.DLL|Deutsche Bibliothek.dll' WHERE `File` = "
          "'german'"},
         {{"english.dll", "english.dll"},
          {"Deutsche Bibliothek.dll", "german.dll"},
          {"plug ins/neutral.dll", "neutral.dll"}}},
        {"one file is rooted at its own folder",
         FolderXml(
             "ProgramFilesFolder", "",
             FolderXml("A", "a",
                       FolderXml("B", "b",
                                 ComponentXml("Only", FileXml("only", "only.dll", "german.dll"))))),
         {},
         {{"only.dll", "german.dll"}}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempDir dir;
        const Built built = Build(dir, c.folders, Cabinet::Embedded, c.queries);
        ASSERT_TRUE(built.ok) << built.log;
        auto tree = OpenMsiPackage(built.msi);
        ASSERT_TRUE(tree) << tree.error().Message();
        const Walked walked = WalkAll(**tree);
        EXPECT_TRUE(walked.unreadable.empty()) << walked.unreadable.front().first;
        ExpectFixtureBytes(walked, c.members);
    }
}

// Keeps the rows of a scan.
class KeptRows final : public ScanObserver {
public:
    void RowAdded(ComparisonRow row) override { rows.push_back(std::move(row)); }
    std::vector<ComparisonRow> rows;
};

TEST(MsiPackage, AnInstallerIsScannedAsTheFolderItInstalls) {
    SKIP_WITHOUT_TOOLS();
    test::TempDir dir;
    const Built built = Build(dir, OneProduct());
    ASSERT_TRUE(built.ok) << built.log;
    // What the installer puts in its install folder.
    const std::string installed = dir.file("installed");
    fs::create_directories(installed + "/plugins");
    fs::copy_file(Fixture("english.dll"), installed + "/english.dll");
    fs::copy_file(Fixture("german.dll"), installed + "/german library.dll");
    fs::copy_file(Fixture("neutral.dll"), installed + "/plugins/neutral.dll");
    for (const bool installerIsSource : {true, false}) {
        SCOPED_TRACE(installerIsSource ? "installer as Source" : "installer as Target");
        ScanRequest request;
        request.source = installerIsSource ? built.msi : installed;
        request.target = installerIsSource ? installed : built.msi;
        request.includeSubfolders = true;
        request.displayMode = static_cast<int>(DisplayMode::AllVersioned);
        Scanner scanner;
        KeptRows kept;
        const ScanOutcome outcome = scanner.Run(request, kept);
        EXPECT_TRUE(outcome.unreadable.empty());
        std::set<std::string> names;
        for (const ComparisonRow& row : kept.rows) {
            names.insert(row.Name);
            EXPECT_EQ(row.Mark, ComparisonMark::Equal) << row.Name;
        }
        EXPECT_EQ(names, (std::set<std::string>{"english.dll", "german library.dll",
                                                "plugins/neutral.dll"}));
    }
}

TEST(MsiPackage, VersionIsReadFromTheCabinetAndTheFileTablesBesideIt) {
    SKIP_WITHOUT_TOOLS();
    struct Row {
        const char* file;
        const char* tableVersion; ///< set in the File table; null leaves it empty
        const char* tableLanguage;
        const char* declaredVersion;
        const char* declaredLanguage;
        const char* versionRead;
    };
    const Row rows[] = {
        // The table disagrees with the file: both are kept, each as it is.
        {"english", "9.9.9.9", "1033", "9.9.9.9", "1033", "5.00.2134.01"},
        // A companion file names another file: that is not a version.
        {"german", "english", "1031", "", "1031", "2.03.0000"},
        {"neutral", nullptr, nullptr, "", "", "1.00.00.01"},
    };
    std::vector<std::string> queries;
    for (const Row& row : rows)
        if (row.tableVersion)
            queries.push_back(std::string("UPDATE `File` SET `Version` = '") + row.tableVersion +
                              "', `Language` = '" + row.tableLanguage + "' WHERE `File` = '" +
                              row.file + "'");
    test::TempDir dir;
    const Built built = Build(dir, OneProduct(), Cabinet::Embedded, queries);
    ASSERT_TRUE(built.ok) << built.log;
    auto tree = OpenMsiPackage(built.msi);
    ASSERT_TRUE(tree) << tree.error().Message();
    const Walked walked = WalkAll(**tree);
    ASSERT_EQ(walked.visited.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].file);
        EXPECT_EQ(walked.visited[i].member.declaredVersion, rows[i].declaredVersion);
        EXPECT_EQ(walked.visited[i].member.declaredLanguage, rows[i].declaredLanguage);
        EXPECT_EQ(walked.visited[i].versionRead, rows[i].versionRead);
    }
}

TEST(MsiPackage, CabinetsBesideThePackageAndBrokenCabinets) {
    SKIP_WITHOUT_TOOLS();
    const std::vector<std::pair<std::string, std::string>> all = {
        {"english", "english.dll"}, {"german", "german.dll"}, {"neutral", "neutral.dll"}};
    const std::vector<std::string> names = {"english.dll", "german library.dll",
                                            "plugins/neutral.dll"};
    struct Row {
        const char* label;
        Cabinet cabinet;
        /// Makes product.cab beside the package (or breaks the embedded one).
        std::function<bool(const test::TempDir&, std::string&)> arrange;
        std::vector<std::string> queries;
        /// Visited members, each with bytes or without.
        std::vector<std::pair<std::string, bool>> visited;
        std::vector<std::pair<std::string, std::string>> unreadable;
    };
    const std::vector<Row> rows = {
        {"a cabinet beside the package",
         Cabinet::Beside,
         [&](const test::TempDir& dir, std::string& log) {
             return MakeCabinet(dir, "product.cab", all, log);
         },
         {},
         {{names[0], true}, {names[1], true}, {names[2], true}},
         {}},
        {"a missing cabinet: the members are there, without bytes",
         Cabinet::Beside,
         [](const test::TempDir&, std::string&) { return true; },
         {"UPDATE `File` SET `Version` = '5.0.2134.1' WHERE `File` = 'english'"},
         {{names[0], false}, {names[1], false}, {names[2], false}},
         {}},
        {"a cabinet that lacks a member",
         Cabinet::Beside,
         [&](const test::TempDir& dir, std::string& log) {
             return MakeCabinet(dir, "product.cab", {all[0], all[2]}, log);
         },
         {},
         {{names[0], true}, {names[2], true}},
         {{names[1], "not-decompressed"}}},
        {"a file that is no cabinet",
         Cabinet::Beside,
         [](const test::TempDir& dir, std::string&) {
             dir.write("product.cab", std::string(4000, 'M'));
             return true;
         },
         {},
         {},
         {{names[0], "not-decompressed"},
          {names[1], "not-decompressed"},
          {names[2], "not-decompressed"}}},
        {"an embedded cabinet that is garbage",
         Cabinet::Embedded,
         [](const test::TempDir& dir, std::string& log) {
             dir.write("garbage.bin", "MSCF" + std::string(3000, '\x7f'));
             return RunIn(dir.path().string(),
                          std::string(SORVANE_MSIBUILD) + " product.msi -a product.cab garbage.bin",
                          log);
         },
         {},
         {},
         {{names[0], "not-decompressed"},
          {names[1], "not-decompressed"},
          {names[2], "not-decompressed"}}},
        {"an uncompressed file in the source image beside the package",
         Cabinet::Embedded,
         [](const test::TempDir& dir, std::string&) {
             fs::create_directories(dir.file("Example Tools/Example Product/plugins"));
             fs::copy_file(Fixture("neutral.dll"),
                           dir.file("Example Tools/Example Product/plugins/neutral.dll"));
             return true;
         },
         {"UPDATE `File` SET `Attributes` = 8192 WHERE `File` = 'neutral'"},
         {{names[0], true}, {names[1], true}, {names[2], true}},
         {}},
        {"an uncompressed file the image lacks",
         Cabinet::Embedded,
         [](const test::TempDir&, std::string&) { return true; },
         {"UPDATE `File` SET `Attributes` = 8192 WHERE `File` = 'neutral'"},
         {{names[0], true}, {names[1], true}, {names[2], false}},
         {}},
        {"a folder has the cabinet's name",
         Cabinet::Beside,
         [](const test::TempDir& dir, std::string&) {
             return fs::create_directory(dir.file("product.cab"));
         },
         {},
         {},
         {{names[0], "not-regular-file"},
          {names[1], "not-regular-file"},
          {names[2], "not-regular-file"}}},
        {"a cabinet named outside the package's folder",
         Cabinet::Beside,
         [&](const test::TempDir& dir, std::string& log) {
             fs::create_directories(dir.file("inner"));
             return MakeCabinet(dir, "product.cab", all, log);
         },
         {"UPDATE `Media` SET `Cabinet` = '../product.cab'"},
         {},
         {{names[0], "outside-folder"},
          {names[1], "outside-folder"},
          {names[2], "outside-folder"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        test::TempDir dir;
        Built built = Build(dir, OneProduct(), row.cabinet, row.queries);
        ASSERT_TRUE(built.ok) << built.log;
        ASSERT_TRUE(row.arrange(dir, built.log)) << built.log;
        std::string msi = built.msi;
        if (std::string(row.label).find("outside") != std::string::npos) {
            // The package one folder down, its cabinet beside that folder.
            msi = dir.file("inner/product.msi");
            fs::rename(built.msi, msi);
        }
        auto tree = OpenMsiPackage(msi);
        ASSERT_TRUE(tree) << tree.error().Message();
        const Walked walked = WalkAll(**tree);
        std::vector<std::pair<std::string, bool>> visited;
        for (const Visited& v : walked.visited) {
            visited.emplace_back(v.member.name, v.bytes.has_value());
            if (v.bytes) {
                const auto& fixture = all[v.member.name == names[0]   ? 0
                                          : v.member.name == names[1] ? 1
                                                                      : 2]
                                          .second;
                EXPECT_TRUE(*v.bytes == FixtureBytes(fixture)) << v.member.name;
            }
        }
        EXPECT_EQ(visited, row.visited);
        EXPECT_EQ(walked.Reasons(), row.unreadable);
        // A member without bytes still has what the table says of it.
        for (const Visited& v : walked.visited) {
            if (!v.bytes && v.member.name == names[0] && !row.queries.empty()) {
                EXPECT_EQ(v.member.declaredVersion, "5.0.2134.1");
            }
        }
    }
}

TEST(MsiPackage, HostileTablesGiveUnreadableEntriesAndNothingOutsideTheTree) {
    SKIP_WITHOUT_TOOLS();
    struct Row {
        const char* label;
        std::vector<std::string> queries;
        std::vector<std::string> visited;
        std::vector<std::pair<std::string, std::string>> unreadable;
    };
    const std::vector<Row> rows = {
        {"a long file name of '..'",
         {"UPDATE `File` SET `FileName` = 'X|../evil.dll' WHERE `File` = 'german'"},
         {"english.dll", "plugins/neutral.dll"},
         {{"../evil.dll", "member-name-unsafe"}}},
        {"a file name with a slash",
         {"UPDATE `File` SET `FileName` = 'a/b.dll' WHERE `File` = 'english'"},
         {"german library.dll", "plugins/neutral.dll"},
         {{"a/b.dll", "member-name-unsafe"}}},
        {"a folder name of '..'",
         {"UPDATE `Directory` SET `DefaultDir` = '..' WHERE `Directory` = 'Sub'"},
         {"english.dll", "german library.dll"},
         {{"../neutral.dll", "member-name-unsafe"}}},
        {"a folder name with a backslash",
         {"UPDATE `Directory` SET `DefaultDir` = 'x\\..\\..' WHERE `Directory` = 'Sub'"},
         {"english.dll", "german library.dll"},
         {{"x\\..\\../neutral.dll", "member-name-unsafe"}}},
        {"a root folder whose key is no safe name",
         {"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) "
          "VALUES ('..', '', 'SourceDir')",
          "UPDATE `Component` SET `Directory_` = '..' WHERE `Component` = 'Plug'"},
         {"english.dll", "german library.dll"},
         {{"../neutral.dll", "member-name-unsafe"}}},
        {"folders whose parents loop",
         {"UPDATE `Directory` SET `Directory_Parent` = 'Sub' WHERE `Directory` = 'INSTALLDIR'"},
         {},
         {{"english.dll", "bad-format"},
          {"german library.dll", "bad-format"},
          {"neutral.dll", "bad-format"}}},
        {"a folder that is its own grandparent, below a good one",
         {"UPDATE `Directory` SET `Directory_Parent` = 'Sub' WHERE `Directory` = 'Company'",
          "UPDATE `Directory` SET `Directory_Parent` = 'Company' WHERE `Directory` = 'Sub'",
          "UPDATE `Component` SET `Directory_` = 'ProgramFilesFolder' WHERE `Component` = 'Main'"},
         {"english.dll", "german library.dll"},
         {{"neutral.dll", "bad-format"}}},
        {"a missing parent folder",
         {"UPDATE `Directory` SET `Directory_Parent` = 'Nowhere' WHERE `Directory` = 'Sub'"},
         {"english.dll", "german library.dll"},
         {{"neutral.dll", "bad-format"}}},
        {"two files of one name",
         {"UPDATE `File` SET `FileName` = 'english.dll' WHERE `File` = 'german'"},
         {"english.dll", "plugins/neutral.dll"},
         {{"english.dll", "duplicate-member"}}},
        {"a file past the last media",
         {"UPDATE `File` SET `Sequence` = 7 WHERE `File` = 'neutral'"},
         {"english.dll", "german library.dll"},
         {{"plugins/neutral.dll", "bad-format"}}},
        {"a component without a row",
         {"UPDATE `File` SET `Component_` = 'Nothing' WHERE `File` = 'english'"},
         {"german library.dll", "plugins/neutral.dll"},
         {{"english.dll", "bad-format"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        test::TempDir dir;
        const Built built = Build(dir, OneProduct(), Cabinet::Embedded, row.queries);
        ASSERT_TRUE(built.ok) << built.log;
        auto tree = OpenMsiPackage(built.msi);
        ASSERT_TRUE(tree) << tree.error().Message();
        const Walked walked = WalkAll(**tree);
        EXPECT_EQ(walked.Names(), row.visited);
        EXPECT_EQ(walked.Reasons(), row.unreadable);
        for (const Visited& v : walked.visited) {
            EXPECT_FALSE(v.member.name.starts_with('/')) << v.member.name;
            for (const auto& part : fs::path(v.member.name))
                EXPECT_TRUE(part != ".." && part != "." && !part.empty()) << v.member.name;
            EXPECT_TRUE(v.bytes.has_value());
        }
    }
}

TEST(MsiPackage, BudgetsAndTheTemporaryFileKeepBytesBounded) {
    SKIP_WITHOUT_TOOLS();
    const auto english = FixtureBytes("english.dll").size();
    const auto german = FixtureBytes("german.dll").size();
    struct Row {
        const char* label;
        MsiLimits limits;
        std::vector<std::string> visited;
        std::vector<std::pair<std::string, std::string>> unreadable;
        /// Only the member of this name is wanted; all when empty.
        std::string only = {};
    };
    const auto limits = [](std::uint64_t member, std::uint64_t package, std::size_t memory) {
        MsiLimits l;
        l.memberBytes = member;
        l.packageBytes = package;
        l.memoryBytes = memory;
        return l;
    };
    const std::vector<Row> rows = {
        {"members larger than the member budget",
         limits(english - 1, 1 << 30, 1 << 20),
         {"german library.dll", "plugins/neutral.dll"},
         {{"english.dll", "over-budget"}}},
        {"the package budget spent after two members",
         limits(1 << 20, english + german, 1 << 20),
         {"english.dll", "german library.dll"},
         {{"plugins/neutral.dll", "over-budget"}}},
        {"members passed unwanted are paid for too",
         limits(1 << 20, english + german - 1, 1 << 20),
         {},
         {{"plugins/neutral.dll", "over-budget"}},
         "plugins/neutral.dll"},
        {"every member past the memory limit goes to a temporary file",
         limits(1 << 20, 1 << 30, 1000),
         {"english.dll", "german library.dll", "plugins/neutral.dll"},
         {}},
        {"nothing held in memory",
         limits(1 << 20, 1 << 30, 0),
         {"english.dll", "german library.dll", "plugins/neutral.dll"},
         {}},
    };
    test::TempDir dir;
    const Built built = Build(dir, OneProduct());
    ASSERT_TRUE(built.ok) << built.log;
    const std::map<std::string, std::string> fixtures = {{"english.dll", "english.dll"},
                                                         {"german library.dll", "german.dll"},
                                                         {"plugins/neutral.dll", "neutral.dll"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        auto tree = OpenMsiPackage(built.msi, row.limits);
        ASSERT_TRUE(tree) << tree.error().Message();
        const Walked walked = WalkAll(
            **tree, [&](const PackedMember& m) { return row.only.empty() || m.name == row.only; });
        EXPECT_EQ(walked.Names(), row.visited);
        EXPECT_EQ(walked.Reasons(), row.unreadable);
        for (const Visited& v : walked.visited) {
            ASSERT_TRUE(v.bytes.has_value()) << v.member.name;
            EXPECT_TRUE(*v.bytes == FixtureBytes(fixtures.at(v.member.name))) << v.member.name;
            EXPECT_FALSE(v.versionRead.empty()) << v.member.name;
        }
    }
}

TEST(MsiPackage, WantedIsAskedByNameAndTheVisitorCanStop) {
    SKIP_WITHOUT_TOOLS();
    test::TempDir dir;
    const Built built = Build(dir, OneProduct());
    ASSERT_TRUE(built.ok) << built.log;
    struct Row {
        const char* label;
        PackedTree::Wanted wanted;
        bool stopAfterFirst;
        std::vector<std::string> visited;
    };
    const std::vector<Row> rows = {
        {"only the plugins",
         [](const PackedMember& m) { return m.name.starts_with("plugins/"); },
         false,
         {"plugins/neutral.dll"}},
        {"none", [](const PackedMember&) { return false; }, false, {}},
        {"the visitor stops at the first",
         [](const PackedMember&) { return true; },
         true,
         {"english.dll"}},
        {"the second of all, then stop",
         [](const PackedMember& m) { return m.name != "english.dll"; },
         true,
         {"german library.dll"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        auto tree = OpenMsiPackage(built.msi);
        ASSERT_TRUE(tree) << tree.error().Message();
        std::vector<std::string> asked;
        std::vector<std::string> visited;
        const auto result = (*tree)->Walk(
            [&](const PackedMember& m) {
                asked.push_back(m.name);
                return row.wanted(m);
            },
            [&](const PackedMember& m, const ByteSource* bytes) {
                visited.push_back(m.name);
                EXPECT_NE(bytes, nullptr);
                return !row.stopAfterFirst;
            },
            [](const std::string& name, const Failure&) { ADD_FAILURE() << name; });
        ASSERT_TRUE(result);
        EXPECT_EQ(visited, row.visited);
        // Nothing is asked once the visitor has stopped.
        if (row.stopAfterFirst) {
            EXPECT_EQ(asked.back(), visited.back());
        }
    }
}

TEST(MsiPackage, WhatIsNoPackage) {
    SKIP_WITHOUT_TOOLS();
    test::TempDir dir;
    dir.write("notes.txt", "not an installer\n");
    // A compound file that is no database: the first sector of one, then zeros.
    dir.write("compound.msi",
              std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4096, '\0'));
    fs::create_directories(dir.file("folder.msi"));
    std::string log;
    ASSERT_TRUE(
        RunIn(dir.path().string(), std::string(SORVANE_MSIBUILD) + " empty.msi -s Empty", log))
        << log;
    struct Row {
        const char* label;
        std::string path;
        std::string code; ///< empty when it opens
    };
    const std::vector<Row> rows = {
        {"missing", dir.file("missing.msi"), "ENOENT"},
        {"a folder", dir.file("folder.msi"), "not-regular-file"},
        {"a text file", dir.file("notes.txt"), "not-an-archive"},
        {"a compound file that is no database", dir.file("compound.msi"), "not-an-archive"},
        {"a database without files", dir.file("empty.msi"), ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        auto tree = OpenMsiPackage(row.path);
        if (!row.code.empty()) {
            ASSERT_FALSE(tree);
            EXPECT_EQ(tree.error().CodeName(), row.code);
            continue;
        }
        ASSERT_TRUE(tree) << tree.error().Message();
        const Walked walked = WalkAll(**tree);
        EXPECT_TRUE(walked.visited.empty());
        EXPECT_TRUE(walked.unreadable.empty());
    }
}

} // namespace
} // namespace sorvane
