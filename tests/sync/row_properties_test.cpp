#include "sync/row_properties.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace sorvane::sync
