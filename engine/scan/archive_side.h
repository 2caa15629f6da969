#pragma once
// One side of a scan that is an archive or installer: its members read in one
// pass into a table of the texts the readers give, which the scan then walks
// like a folder (a source) or looks names up in (a target).

#include "engine/failure.h"
#include "engine/files/content_hash.h"
#include "engine/formats/version_reader.h"
#include "engine/scan/folder_enumerator.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sorvane {

/// One member as the scan reads it.
struct ArchiveEntry {
    std::string name; ///< path below the archive's root, "/" between folders
    VersionTexts texts;
    /// A type library was loaded (its help string is the row's description).
    bool typeLibrary = false;
    std::int64_t size = 0;
    std::optional<std::int64_t> modified; ///< seconds since 1970, when kept
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
};

/// The members of one side that were asked for, in the order a folder walk
/// reports the files of a tree: folder by folder, the files of a folder
/// (names sorted without regard to case) before its sub-folders.
struct ArchiveSide {
    std::string path; ///< the archive
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

/// True when `a` comes before `b` in the order of a folder walk.
bool WalkOrderLess(std::string_view a, std::string_view b);

} // namespace sorvane
