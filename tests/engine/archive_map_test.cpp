// Source Maps saved from archives and installers, and what the scan keeps of
// each member for File Properties: sizes, time, an installer's File table
// version, and the version a missing cabinet leaves.

#include "engine/scan/archive_side.h"
#include "engine/scan/scan_driver.h"
#include "engine/scan/source_map.h"
#include "support/archive_maker.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

namespace sorvane {
namespace {

using test::RecordingObserver;
using test::TempDir;
using test::VersionedFile;
using test::VersionedPe;

enum class Packed { Zip, SevenZip, Msi };

const char* Label(Packed packed) {
    switch (packed) {
    case Packed::Zip: return "zip";
    case Packed::SevenZip: return "7z";
    case Packed::Msi: return "msi";
    }
    return "";
}

using Shown = std::tuple<std::string, std::string, std::string, std::string, char, std::string,
                         std::string, bool, std::string, std::string, std::int64_t>;

struct Scanned {
    std::vector<ComparisonRow> rows;
    std::vector<Shown> shown;
    ScanOutcome outcome;
};

Scanned Scan(const std::string& source, const std::string& target) {
    ScanRequest request;
    request.source = source;
    request.target = target;
    request.sourceIsMap = IsSourceMapPath(source);
    request.includeSubfolders = !request.sourceIsMap;
    request.displayMode = static_cast<int>(DisplayMode::AllVersioned);
    RecordingObserver observer;
    Scanner scanner;
    Scanned scanned;
    scanned.outcome = scanner.Run(request, observer);
    for (const ComparisonRow& r : observer.rows)
        scanned.shown.emplace_back(r.Name, r.Ext, r.SourceLanguage, r.SourceVersion,
                                   static_cast<char>(r.Mark), r.TargetVersion, r.TargetLanguage,
                                   r.Busy, r.Description, r.Copyright, r.SourceSize);
    scanned.rows = std::move(observer.rows);
    return scanned;
}

const ComparisonRow* RowNamed(const Scanned& scanned, std::string_view name) {
    for (const ComparisonRow& row : scanned.rows)
        if (row.Name == name)
            return &row;
    return nullptr;
}

class ArchiveMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        files = {{"app", "app.exe", VersionedPe(VersionedFile{{1, 2, 3, 4}, 0x0409, "App", "(c) A"})},
                 {"lib", "lib.dll", VersionedPe(VersionedFile{{2, 0, 0, 1}, 0x0407, "Lib"})},
                 {"old", "old.dll", VersionedPe(VersionedFile{{1, 0, 0, 0}})},
                 {"text", "notes.txt", "no version"}};
        for (const auto& file : files)
            dir.write("tree/" + file.name, file.bytes);
        dir.write("changed/app.exe",
                  VersionedPe(VersionedFile{{1, 2, 3, 4}, 0x0409, "App", "(c) A", 256}));
        dir.write("changed/lib.dll", VersionedPe(VersionedFile{{2, 1, 0, 0}, 0x0407, "Lib 2"}));
        dir.write("changed/new.dll", VersionedPe(VersionedFile{{9, 0, 0, 0}}));
    }

    /// The tree packed as `packed`; the reason when it cannot be made.
    std::optional<std::string> Make(Packed packed, std::string& path,
                                    const std::vector<std::string>& queries = {},
                                    bool embedCabinet = true) {
        switch (packed) {
        case Packed::Zip:
            path = dir.file("tree.zip");
            return test::MakeArchive(test::ArchiveFormat::Zip, dir.file("tree"), path);
        case Packed::SevenZip:
            path = dir.file("tree.7z");
            return test::MakeArchive(test::ArchiveFormat::SevenZip, dir.file("tree"), path);
        case Packed::Msi:
            path = dir.file(embedCabinet ? "product.msi" : "external.msi");
            return test::MakeMsi(path, files, embedCabinet, queries);
        }
        return "unknown";
    }

    std::vector<test::MsiFile> files;
    TempDir dir;
};

TEST_F(ArchiveMapTest, AMapSavedFromAnArchiveComparesAsTheArchiveDoes) {
    for (const Packed packed : {Packed::Zip, Packed::SevenZip, Packed::Msi}) {
        SCOPED_TRACE(Label(packed));
        std::string archive;
        if (const auto missing = Make(packed, archive)) {
            ADD_FAILURE() << *missing;
            continue;
        }
        const std::string changed = dir.file("changed");
        const Scanned direct = Scan(archive, changed);
        ASSERT_TRUE(direct.outcome.unreadable.empty());
        ASSERT_EQ(direct.rows.size(), 3u); // app "~", lib "<" and the orphan old
        // Saved as the window and the CLI save it.
        const std::string map = dir.file(std::string(Label(packed)) + ".map");
        const std::string header = SourceMapHeader(archive, changed, false);
        ASSERT_TRUE(WriteSourceMap(map, header, direct.rows));
        std::ifstream in(map, std::ios::binary);
        std::string first;
        std::getline(in, first);
        EXPECT_EQ(first, archive + "\r");
        EXPECT_EQ(SourceMapArchive(map), archive);

        const Scanned viaMap = Scan(map, changed);
        EXPECT_EQ(viaMap.shown, direct.shown);
        EXPECT_EQ(viaMap.outcome.mapArchive, archive);
        EXPECT_EQ(viaMap.outcome.counters, direct.outcome.counters);

        // Without a Target the map goes back to its archive: every row equal.
        const Scanned itself = Scan(map, "");
        EXPECT_EQ(itself.outcome.target, archive);
        EXPECT_TRUE(itself.outcome.targetIsArchive);
        ASSERT_EQ(itself.rows.size(), 3u);
        for (const ComparisonRow& row : itself.rows)
            EXPECT_EQ(row.Mark, ComparisonMark::Equal) << row.Name;
    }
}

TEST_F(ArchiveMapTest, AMapHeaderNamesTheArchiveAsTheUserGaveItNormalised) {
    std::string zip;
    ASSERT_EQ(Make(Packed::Zip, zip), std::nullopt);
    const std::string folderMap = dir.file("folder.map");
    ASSERT_TRUE(WriteSourceMap(folderMap, SourceMapHeader(dir.file("tree"), "", false),
                               Scan(dir.file("tree"), "").rows));
    const struct {
        const char* label;
        std::string given;
        std::string header;
        std::optional<std::string> archive;
    } cases[] = {
        {"as given", zip, zip, zip},
        {"in quotes", "\"" + zip + "\"", zip, zip},
        {"with a trailing slash", zip + "/", zip, zip},
        {"a folder", dir.file("tree"), dir.file("tree"), std::nullopt},
        {"a map of a folder", folderMap, dir.file("tree"), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string header = SourceMapHeader(c.given, "", IsSourceMapPath(c.given));
        EXPECT_EQ(header, c.header);
        const std::string map = dir.file("header.map");
        ASSERT_TRUE(WriteSourceMap(map, header, std::vector<ComparisonRow>{}));
        EXPECT_EQ(SourceMapArchive(map), c.archive);
    }
    EXPECT_EQ(SourceMapArchive(dir.file("no such.map")), std::nullopt);
}

TEST_F(ArchiveMapTest, TheScanKeepsEachMembersSizesTimeAndFileTableVersion) {
    std::string zip, msi;
    ASSERT_EQ(Make(Packed::Zip, zip), std::nullopt);
    if (const auto missing = Make(Packed::Msi, msi,
                                  {"UPDATE `File` SET `Version` = '9.9.9.9', `Language` = '1033' "
                                   "WHERE `File` = 'app'",
                                   "UPDATE `File` SET `Version` = '2.0.0.1' WHERE `File` = 'lib'"}))
        GTEST_SKIP() << *missing;
    const std::string changed = dir.file("changed");
    const struct {
        const char* label;
        std::string source, target;
        bool archiveIsSource;
        std::string archive;
        std::string member;
        std::string declared;
        bool differs;
    } cases[] = {
        {"zip as Source", zip, "", true, zip, "app.exe", "", false},
        {"zip as Target", changed, zip, false, zip, "lib.dll", "", false},
        {"installer as Source, its table disagrees", msi, changed, true, msi, "app.exe", "9.9.9.9",
         true},
        {"installer as Source, its table agrees", msi, "", true, msi, "lib.dll", "2.0.0.1", false},
        {"installer as Target", changed, msi, false, msi, "app.exe", "9.9.9.9", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Scanned scanned = Scan(c.source, c.target);
        const auto& table = c.archiveIsSource ? scanned.outcome.sourceMembers
                                              : scanned.outcome.targetMembers;
        const auto& other = c.archiveIsSource ? scanned.outcome.targetMembers
                                              : scanned.outcome.sourceMembers;
        EXPECT_EQ(other, nullptr);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->Archive(), c.archive);
        EXPECT_EQ(table->Find("no such.dll"), nullptr);
        const MemberFacts* member = table->Find(c.member);
        ASSERT_NE(member, nullptr);
        EXPECT_EQ(member->archive, c.archive);
        EXPECT_EQ(member->name, c.member);
        EXPECT_EQ(member->size, static_cast<std::int64_t>(dir.read("tree/" + c.member).size()));
        // Only a ZIP tells what its members take packed.
        EXPECT_EQ(member->stored.has_value(), c.archive == zip);
        if (member->stored) {
            EXPECT_GT(*member->stored, 0);
        }
        EXPECT_EQ(member->declaredVersion, c.declared);
        EXPECT_FALSE(member->bytesMissing);
        if (c.archive == zip) {
            ASSERT_TRUE(member->modified.has_value());
            EXPECT_GT(*member->modified, 1'000'000'000);
        }
        const ComparisonRow* row = RowNamed(scanned, c.member);
        ASSERT_NE(row, nullptr);
        const std::string own = c.archiveIsSource ? row->SourceVersion : row->TargetVersion;
        EXPECT_EQ(DeclaredVersionDiffers(member->declaredVersion, own), c.differs) << own;
        // The rows themselves read the bytes.
        EXPECT_EQ(own, c.member == "app.exe" ? "1.02.03.04" : "2.00.00.01");
    }
    EXPECT_EQ(Scan(dir.file("tree"), changed).outcome.sourceMembers, nullptr);
}

TEST_F(ArchiveMapTest, AMissingCabinetGivesTheFileTableVersionAndTheRowSaysSo) {
    std::string msi;
    if (const auto missing = Make(Packed::Msi, msi,
                                  {"UPDATE `File` SET `Version` = '1.2.3.4', `Language` = '1033' "
                                   "WHERE `File` = 'app'",
                                   "UPDATE `File` SET `Version` = '2.5.0.0', `Language` = '1031' "
                                   "WHERE `File` = 'lib'"},
                                  false))
        GTEST_SKIP() << *missing;
    const std::string changed = dir.file("changed");
    const struct {
        const char* label;
        std::string source, target;
        std::string name, sourceVersion, sourceLanguage, targetVersion;
        char mark;
        std::string description;
    } cases[] = {
        {"listed alone", msi, "", "app.exe", "1.2.3.4", "English (United States)", "", '\0',
         "Source version from the File table: the file's cabinet is missing."},
        {"as Source", msi, changed, "lib.dll", "2.5.0.0", "German", "2.01.0000", '>',
         "Source version from the File table: the file's cabinet is missing."},
        {"as Target", changed, msi, "lib.dll", "2.01.0000", "German", "2.5.0.0", '<',
         "Target version from the File table: the file's cabinet is missing."},
        {"as Target, the folder's own description otherwise", changed, msi, "new.dll",
         "9.00.0000", "English (United States)", "", '-', ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Scanned scanned = Scan(c.source, c.target);
        EXPECT_TRUE(scanned.outcome.unreadable.empty());
        const ComparisonRow* row = RowNamed(scanned, c.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->SourceVersion, c.sourceVersion);
        EXPECT_EQ(row->SourceLanguage, c.sourceLanguage);
        EXPECT_EQ(row->TargetVersion, c.targetVersion);
        EXPECT_EQ(static_cast<char>(row->Mark), c.mark);
        EXPECT_EQ(row->Description, c.description);
        const auto& table = c.source == msi ? scanned.outcome.sourceMembers
                                            : scanned.outcome.targetMembers;
        if (c.mark != '-') {
            ASSERT_NE(table, nullptr);
            ASSERT_NE(table->Find(c.name), nullptr);
            EXPECT_TRUE(table->Find(c.name)->bytesMissing);
        }
    }
    // What File Properties reads of a member when only the map names it.
    const auto facts = ReadMemberFacts(msi, "lib.dll");
    ASSERT_TRUE(facts) << facts.error().Message();
    EXPECT_TRUE(facts->bytesMissing);
    EXPECT_EQ(facts->declaredVersion, "2.5.0.0");
    EXPECT_EQ(facts->declaredLanguage, "1031");
}

TEST_F(ArchiveMapTest, AMembersFactsAreReadFromTheListingAlone) {
    std::string zip, sevenZip;
    ASSERT_EQ(Make(Packed::Zip, zip), std::nullopt);
    ASSERT_EQ(Make(Packed::SevenZip, sevenZip), std::nullopt);
    const struct {
        std::string archive, member;
        bool found;
    } cases[] = {
        {zip, "lib.dll", true},      {sevenZip, "notes.txt", true}, {zip, "no such.dll", false},
        {zip, "LIB.DLL", false},     {dir.file("tree/app.exe"), "app.exe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive + " " + c.member);
        const auto facts = ReadMemberFacts(c.archive, c.member);
        ASSERT_EQ(facts.has_value(), c.found);
        if (!c.found)
            continue;
        EXPECT_EQ(facts->archive, c.archive);
        EXPECT_EQ(facts->name, c.member);
        EXPECT_EQ(facts->size, static_cast<std::int64_t>(dir.read("tree/" + c.member).size()));
        EXPECT_FALSE(facts->bytesMissing);
        EXPECT_TRUE(facts->modified.has_value());
    }
}

TEST(DeclaredVersion, DiffersOnlyFromAnotherVersionAndTheNoteNamesTheSides) {
    const struct {
        const char* declared;
        const char* own;
        bool differs;
    } versions[] = {
        {"5.0.2134.1", "5.00.2134.01", false}, {"9.9.9.9", "5.00.2134.01", true},
        {"", "1.00", false},                   {"1.0", "", true},
        {"2.0.0.1", "2.00.0000.01", false},    {"2.0.0.2", "2.00.0000.01", true},
        {"2.3.0.0", "2.03.0000", false},       {"2.3.0.1", "2.03.0000", true},
        {"2.3", "2.03.0000", false},           {"english", "1.00", true},
    };
    for (const auto& v : versions)
        EXPECT_EQ(DeclaredVersionDiffers(v.declared, v.own), v.differs)
            << v.declared << " / " << v.own;
    const struct {
        bool source, target;
        const char* note;
    } notes[] = {
        {false, false, ""},
        {true, false, "Source version from the File table: the file's cabinet is missing."},
        {false, true, "Target version from the File table: the file's cabinet is missing."},
        {true, true,
         "Source and target versions from the File table: the file's cabinet is missing."},
    };
    for (const auto& n : notes)
        EXPECT_EQ(DeclaredVersionNote(n.source, n.target), n.note);
}

} // namespace
} // namespace sorvane
