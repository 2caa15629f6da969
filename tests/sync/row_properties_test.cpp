#include "sync/row_properties.h"

#include "support/archive_maker.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace sorvane::sync {
namespace {

ComparisonRow MakeRow(ComparisonMark mark, std::string targetVersion, std::string targetLanguage) {
    ComparisonRow row;
    row.Name = "sub/x.dll";
    row.Ext = ".dll";
    row.SourceVersion = "2.00.0000";
    row.SourceLanguage = "English (United States)";
    row.Mark = mark;
    row.TargetVersion = std::move(targetVersion);
    row.TargetLanguage = std::move(targetLanguage);
    row.Description = "Line\none";
    row.Copyright = "(c) Maker";
    row.SourceSize = 4096;
    return row;
}

TEST(GridRowSection, ShowsTheRowAsTheGridShowsItWithWhatTheMarkSays) {
    struct Case {
        ComparisonRow row;
        QString mark, targetVersion, targetLanguage, busy;
    };
    ComparisonRow busy = MakeRow(ComparisonMark::NewerTarget, "3.00.0000", "German (Germany)");
    busy.Busy = true;
    const std::vector<Case> cases{
        {MakeRow(ComparisonMark::Copied, "2.00.0000", "English (United States)"),
         "+ (copied in this run)", "2.00.0000", "English (United States)", ""},
        {MakeRow(ComparisonMark::NewerSource, "1.00.0000", "English (United States)"),
         "> (the source is newer)", "1.00.0000", "English (United States)", ""},
        {MakeRow(ComparisonMark::Orphan, "", ""), "- (no versioned target file)", "", "", ""},
        {busy, "< (the target is newer)", "3.00.0000", "German (Germany)", "*"},
        {MakeRow(ComparisonMark::UnequalLanguage, "2.00.0000", "German (Germany)"),
         "! (the languages differ)", "2.00.0000", "German (Germany)", ""},
        {MakeRow(ComparisonMark::DifferentSize, "2.00.0000", "English (United States)"),
         "~ (equal versions, different sizes)", "2.00.0000", "English (United States)", ""},
        {MakeRow(ComparisonMark::Incomparable, "2.0.0.10", "English (United States)"),
         "? (the versions cannot be compared)", "2.0.0.10", "English (United States)", ""},
        {MakeRow(ComparisonMark::Equal, "2.00.0000", "English (United States)"),
         "= (equal)", "2.00.0000", "English (United States)", ""},
        {MakeRow(ComparisonMark::None, "", ""), "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mark.toStdString());
        const windows::PropertySection section = GridRowSection(c.row);
        EXPECT_EQ(section.title, "In the result grid");
        QStringList labels;
        for (const auto& row : section.rows)
            labels << row.label;
        EXPECT_EQ(labels, (QStringList{"Name", "Extension", "Source version", "Source language",
                                       "Mark", "Target version", "Target language", "Busy",
                                       "Description", "Copyright", "Source size"}));
        EXPECT_EQ(section.Value("Name"), "sub/x.dll");
        EXPECT_EQ(section.Value("Extension"), ".dll");
        EXPECT_EQ(section.Value("Source version"), "2.00.0000");
        EXPECT_EQ(section.Value("Mark"), c.mark);
        EXPECT_EQ(section.Value("Target version"), c.targetVersion);
        EXPECT_EQ(section.Value("Target language"), c.targetLanguage);
        EXPECT_EQ(section.Value("Busy"), c.busy);
        EXPECT_EQ(section.Value("Description"), "Line\\x0aone"); // escaped as in the grid
        EXPECT_EQ(section.Value("Source size"), "4096");
    }
}

MemberFacts Member(std::string declared = {}, bool bytesMissing = false) {
    MemberFacts member;
    member.archive = "/tmp/release\x1b.zip";
    member.name = "bin/app.exe";
    member.size = 123456;
    member.stored = 1;
    member.modified = 1700000000;
    member.declaredVersion = std::move(declared);
    member.declaredLanguage = member.declaredVersion.empty() ? "" : "1033,1031";
    member.bytesMissing = bytesMissing;
    return member;
}

TEST(MemberSection, ShowsWhereTheMemberIsItsSizesTimeAndFileTableVersion) {
    MemberFacts bare = Member();
    bare.stored.reset();
    bare.modified.reset();
    const struct {
        const char* label;
        MemberFacts member;
        std::string ownVersion;
        std::optional<QString> stored, modified, tableVersion, tableLanguage, note;
    } cases[] = {
        {"a ZIP member", Member(), "1.00", "1 byte", "2023-11-14 22:13:20 UTC", std::nullopt,
         std::nullopt, std::nullopt},
        {"sizes and time not kept", bare, "1.00", "not known", "not kept", std::nullopt,
         std::nullopt, std::nullopt},
        {"the File table agrees", Member("5.0.2134.1"), "5.00.2134.01", "1 byte",
         "2023-11-14 22:13:20 UTC", "5.0.2134.1", "English (United States)", std::nullopt},
        {"the File table differs", Member("9.9.9.9"), "5.00.2134.01", "1 byte",
         "2023-11-14 22:13:20 UTC", "9.9.9.9 (differs from the file's own version)",
         "English (United States)", std::nullopt},
        {"the file has no version of its own", Member("1.0"), "", "1 byte",
         "2023-11-14 22:13:20 UTC", "1.0 (differs from the file's own version)",
         "English (United States)", std::nullopt},
        {"the cabinet is missing", Member("9.9.9.9", true), "9.9.9.9", "1 byte",
         "2023-11-14 22:13:20 UTC", "9.9.9.9", "English (United States)",
         "Version from the File table: the file's cabinet is missing."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const windows::PropertySection section = MemberSection(c.member, c.ownVersion);
        EXPECT_EQ(section.title, "Archive member");
        EXPECT_EQ(section.Value("Archive"), "/tmp/release\\x1b.zip"); // escaped as in the grid
        EXPECT_EQ(section.Value("Member"), "bin/app.exe");
        EXPECT_EQ(section.Value("Size"), "123,456 bytes");
        EXPECT_EQ(section.Value("Stored size"), c.stored);
        EXPECT_EQ(section.Value("Modified"), c.modified);
        EXPECT_EQ(section.Value("File table version"), c.tableVersion);
        EXPECT_EQ(section.Value("File table language"), c.tableLanguage);
        EXPECT_EQ(section.Value("Note"), c.note);
    }
}

TEST(FindSideFile, AFileOfTheFolderOrAMemberOfTheArchiveTheScanRead) {
    test::TempDir dir;
    const std::string folder = dir.path().string() + "/folder";
    dir.write("folder/app.exe", "MZ");
    const std::string zip = dir.write("release.zip", "PK");
    const std::string other = dir.write("other.zip", "PK");
    const std::string map = dir.write("release.map", zip + "\r\n");
    MemberFacts app = Member();
    app.archive = zip;
    app.name = "app.exe";
    ScanOutcome scan;
    scan.source = zip;
    scan.target = folder;
    scan.sourceMembers = std::make_shared<const MemberTable>(zip, std::vector<MemberFacts>{app});
    ScanOutcome mapScan;
    mapScan.source = map;
    mapScan.target = folder;
    mapScan.mapArchive = zip;
    const struct {
        const char* label;
        const ScanOutcome* scan;
        RowSide side;
        std::string box;
        bool sourceIsMap;
        std::string name;
        std::optional<std::string> path;
        bool member;
    } cases[] = {
        {"the target folder's file", &scan, RowSide::Target, folder, false, "app.exe",
         folder + "/app.exe", false},
        {"no such file in the folder", &scan, RowSide::Target, folder, false, "gone.dll",
         std::nullopt, false},
        {"the source archive's member", &scan, RowSide::Source, zip, false, "app.exe", zip, true},
        {"no such member", &scan, RowSide::Source, zip, false, "gone.dll", std::nullopt, false},
        {"the box names another archive now", &scan, RowSide::Source, other, false, "app.exe",
         std::nullopt, false},
        {"a map of an archive, not read yet", &mapScan, RowSide::Source, map, true, "app.exe", zip,
         false},
        {"a map of a folder names no files", &scan, RowSide::Source, map, true, "app.exe",
         std::nullopt, false},
        {"no row", &scan, RowSide::Source, zip, false, "", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto found = FindSideFile(c.side, *c.scan, c.box, c.sourceIsMap, c.name, false);
        ASSERT_EQ(found.has_value(), c.path.has_value());
        if (!found)
            continue;
        EXPECT_EQ(found->path, *c.path);
        EXPECT_EQ(found->member.has_value(), c.member);
        if (found->member) {
            EXPECT_EQ(found->member->name, c.name);
        }
        // The window shows the member's section before the row's.
        ComparisonRow row = MakeRow(ComparisonMark::Equal, "2.00.0000", "English (United States)");
        const auto sections = SideSections(*found, c.side, row);
        ASSERT_EQ(sections.size(), c.member ? 2u : 1u);
        EXPECT_EQ(sections.front().title, c.member ? "Archive member" : "In the result grid");
    }
}

} // namespace
} // namespace sorvane::sync
