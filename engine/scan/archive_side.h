#pragma once
// One side of a scan that is an archive or installer: its members read in one
// pass into a table of the texts the readers give, which the scan then walks
// like a folder (a source) or looks names up in (a target).

#include "engine/failure.h"
#include "engine/files/content_hash.h"
#include "engine/files/file_stamp.h"
#include "engine/formats/version_reader.h"
#include "engine/scan/folder_enumerator.h"

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sorvane {

/// What the package tells of one member besides what its bytes hold: where
/// it is, its sizes and time, and what an installer's File table declares.
struct MemberFacts {
    std::string archive; ///< the archive as the scan named it
    std::string name;    ///< path below the archive's root, "/" between folders
    std::int64_t size = 0;                ///< unpacked bytes
    std::optional<std::int64_t> stored;   ///< compressed bytes, when known
    std::optional<std::int64_t> modified; ///< seconds since 1970, when kept
    /// The File table's Version and Language of an installer's file; empty
    /// for other archives and where the table has none.
    std::string declaredVersion;
    std::string declaredLanguage;
    /// The member's bytes are not there (an installer whose external cabinet
    /// is missing): its version is the declared one.
    bool bytesMissing = false;
    bool operator==(const MemberFacts&) const = default;
};

/// Marks a File table version that differs from the version read from the
/// file's bytes.
inline constexpr const char* kDeclaredVersionDiffersText = "(differs from the file's own version)";

/// True when `declared` is a version and the version read from the bytes,
/// `own`, is not the same (compared part by part as numbers, so "5.0.2134.1"
/// and "5.00.2134.01" agree). An empty declared version differs from nothing.
bool DeclaredVersionDiffers(std::string_view declared, std::string_view own);

/// The language an installer declares for a file, named: its first language
/// identifier ("1033,1031" gives "English (United States)"); text that starts
/// with no number stays as it is.
std::string DeclaredLanguageText(std::string_view declared);

/// What File Properties and info say of a member whose bytes are missing.
inline constexpr const char* kVersionFromFileTableNote =
    "Version from the File table: the file's cabinet is missing.";

/// What a row says when the version of its source, its target or both is
/// the File table's because the file's bytes are missing: "Source version
/// from the File table: the file's cabinet is missing." Empty when neither is.
std::string DeclaredVersionNote(bool source, bool target);

/// The members of an archive side that rows refer to by their names, kept
/// with the rows after the scan: a folder's rows pay nothing for it.
class MemberTable {
public:
    MemberTable() = default;
    /// Takes the members, in any order.
    MemberTable(std::string archive, std::vector<MemberFacts> members);

    const std::string& Archive() const { return archive_; }
    std::size_t size() const { return members_.size(); }
    /// The member named `name`, or null.
    const MemberFacts* Find(std::string_view name) const;

private:
    std::string archive_;
    std::vector<MemberFacts> members_; ///< sorted by name, byte for byte
};

/// One member as the scan reads it.
/// What the package tells of it (its `archive` left empty: the side names
/// it), then what its bytes hold; `size` is that of the bytes read when
/// there were bytes. Without bytes, `texts` are the declared version and
/// language.
struct ArchiveEntry : MemberFacts {
    VersionTexts texts;
    /// A type library was loaded (its help string is the row's description).
    bool typeLibrary = false;
    /// The AssemblyVersion of a .NET assembly; empty for any other member.
    std::string assemblyVersion;
    /// The hash of all its bytes, when the request asked for hashes and the
    /// bytes were there.
    std::optional<ContentHash> hash;
    /// Why the member gives no row: it could not be read, or another member
    /// has its name. Its texts are then empty.
    std::error_code failure;
};

/// Which members a side reads.
struct ArchiveSideRequest {
    /// Wildcards matched against the members' file names, as a folder scan's.
    std::string filter;
    /// Members below the root's folders too; otherwise only those at the root.
    bool includeSubfolders = false;
    /// When set, only the members of these names (the names a target is
    /// looked up by).
    const std::unordered_set<std::string>* names = nullptr;
    /// Every member read is also read to its end for the hash of its bytes.
    bool hashContents = false;
    /// Told now and then while the archive is read: how many members were
    /// offered so far and how far through the archive that is (0 to 100).
    std::function<void(std::int64_t members, int percent)> progress;
};

/// The members of one side that were asked for, in the order a folder walk
/// reports the files of a tree: folder by folder, the files of a folder
/// (names sorted without regard to case) before its sub-folders.
struct ArchiveSide {
    std::string path; ///< the archive
    /// The archive file as it was when it was read: what its rows were read
    /// from, which a copy out of it holds to.
    FileStamp stamp;
    std::vector<ArchiveEntry> entries;
    /// Members whose names give no path (absolute, "..", a backslash), with
    /// the reason, as ARCHIVE/name: no name can look them up.
    std::vector<UnreadableEntry> unreadable;
    /// Why the archive could not be read, or not to its end (the members
    /// read before are kept), or went over its budget.
    std::optional<Failure> failure;
    /// The walk ended on a stop request.
    bool stopped = false;
    /// How many members were offered, with or without an entry.
    std::int64_t members = 0;

    /// The entry of `name`, or null.
    const ArchiveEntry* Find(const std::string& name) const;

    std::unordered_map<std::string, std::size_t> byName;
};

/// Reads the archive at `path`: every member the request asks for is read for
/// its texts (only as far as its reader needs), before which nothing of it is
/// decompressed. Ends early, keeping what it read, when `stop` is set.
ArchiveSide ReadArchiveSide(const std::string& path, const ArchiveSideRequest& request,
                            const std::atomic<bool>& stop);

/// The facts of every member of `side` that gives a row (no failure).
std::shared_ptr<const MemberTable> MemberTableOf(const ArchiveSide& side);

/// The facts of the member `name` of the archive at `archive`, as its listing
/// gives them; its bytes are not read (an installer's cabinet is only looked
/// for). Fails when the archive cannot be read, and with NotFound (step Open)
/// when it has no such member.
Result<MemberFacts> ReadMemberFacts(const std::string& archive, const std::string& name);

/// True when `a` comes before `b` in the order of a folder walk.
bool WalkOrderLess(std::string_view a, std::string_view b);

} // namespace sorvane
