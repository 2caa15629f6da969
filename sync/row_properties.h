#pragma once
// The result grid's row in the File Properties window: what the grid shows
// for it (the scan's reading, or the copy's "+" and the source's version),
// beside what the window reads from the file now.

#include "engine/scan/archive_side.h"
#include "engine/scan/comparison.h"
#include "engine/scan/scan_driver.h"
#include "windows/file_properties.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::sync {

/// The caption of the grid row's section.
inline constexpr const char* kGridRowSectionTitle = "In the result grid";

/// What a mark says, in a few words: "+" gives "copied in this run". Empty
/// for the empty mark of a source-only scan.
QString MarkMeaning(ComparisonMark mark);

/// The section "In the result grid" for `row`, its texts as the grid shows
/// them (control characters escaped): name, extension, both versions and
/// languages, the mark with its meaning, busy, description, copyright, size.
windows::PropertySection GridRowSection(const ComparisonRow& row);

/// The caption of the section of a file that is a member of an archive.
inline constexpr const char* kMemberSectionTitle = "Archive member";

/// The section "Archive member" of a row's file that is a member of an
/// archive or installer: the archive, the member's path, its unpacked and
/// stored sizes, its time (UTC), and an installer's File table version and
/// language. The File table version is followed by kDeclaredVersionDiffersText
/// when it differs from `ownVersion`, the version read from the member's
/// bytes; a member without bytes has the note that says its version is the
/// File table's instead. Texts from the archive are shown as the grid shows
/// them (control characters escaped).
windows::PropertySection MemberSection(const MemberFacts& member, std::string_view ownVersion);

enum class RowSide { Source, Target };

/// The file File Properties shows for one side of a row.
struct SideFile {
    /// A file that is there: the side's own file, or the archive that holds
    /// its member.
    std::string path;
    /// The member, when the side's file is one; without `readArchive` (see
    /// FindSideFile) a member of a map's archive is not looked up yet.
    std::optional<MemberFacts> member;
};

/// Where File Properties finds the `side` file of the row named `name`, with
/// `folder` the box's text as a folder path and `scan` the scan the rows come
/// from: the file `folder`/`name` when it is one; else, when `folder` is the
/// archive that side of the scan read, its member of that name. A Source Map
/// names no files of its own: its rows stand for the members of the archive
/// its header names, if it names one, whose listing is read for the member
/// only when `readArchive` (opening the Tools menu does not read it).
/// Nothing when there is no such file.
std::optional<SideFile> FindSideFile(RowSide side, const ScanOutcome& scan, std::string_view folder,
                                     bool sourceIsMap, std::string_view name, bool readArchive);

/// The sections the window shows after "File" for `file`: the member's (its
/// File table version checked against the row's version of that side), then
/// the grid row's, each when there is one.
std::vector<windows::PropertySection> SideSections(const SideFile& file, RowSide side,
                                                   const std::optional<ComparisonRow>& row);

} // namespace sorvane::sync
