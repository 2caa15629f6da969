#pragma once
// Whole-file reads with a size cap, and writes that never leave a half-written
// file in place of a good one.

#include "engine/failure.h"
#include "engine/files/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <sys/types.h>
#include <thread>
#include <time.h>
#include <vector>

namespace sorvane {

/// The bytes of a regular file of at most `maxBytes` bytes. The failure for a
/// missing or unreadable file (the system's error), a larger one (EFBIG) or
/// one that is not a regular file (NotRegularFile: folders, FIFOs, devices
/// are never read).
Result<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes);

/// Nothing when a write succeeded; otherwise why it failed (the system's
/// error and the step, or which kind of file has the name).
using WriteOutcome = Result<void>;

/// Fills the temporary file open for writing at `fd`, at offset 0. Returns
/// the failure when it cannot; the replacement is then abandoned.
using FileFiller = std::function<WriteOutcome(int fd)>;

struct AtomicWriteOptions {
    /// Create missing parent folders.
    bool createFolders = false;
    /// Write into an unnamed file (O_TMPFILE) that only gets a name once it is
    /// complete, where the file system allows it. When false, or where it does
    /// not, the bytes go to ".<name>.sorvane-tmp-<n>" beside the target.
    bool unnamedTemporary = true;
    /// Read, write and execute bits (0777) for the new file in place of the
    /// old file's bits, or of 0666 less the umask for a new file; set-ID and
    /// sticky bits are not given. The owner is kept all the same.
    std::optional<mode_t> permissions;
    /// Modification time for the new file, set once it is filled.
    std::optional<struct timespec> modified;
    /// Owner and group for the new file (as far as this process may give
    /// them) in place of the replaced file's; give `permissions` with them.
    std::optional<std::pair<uid_t, gid_t>> owner;
    /// Asked once the new file is complete, just before it takes the name,
    /// with what has the name then (nullptr: nothing); a failure it returns
    /// abandons the replacement.
    std::function<WriteOutcome(const struct stat* present)> beforeRename;
    /// Receives the new file's status once it is complete.
    struct stat* written = nullptr;
};

/// Number of temporary names ".<name>.sorvane-tmp-0" to "-15" a target has;
/// as many writes of one file can run at the same time.
inline constexpr int kTemporarySlots = 16;

/// The bytes of a temporary file of a writer that stopped (killed, crashed)
/// are removed by the next write of the same target once the file is this
/// many seconds old and no process holds its lock.
inline constexpr int kStaleTemporarySeconds = 5;

/// The temporary names of the folders one run of writes (a copy of many
/// files, or one save) writes in. Each folder is listed once, when the run
/// first writes in it: that tells which temporary names are taken, so that a
/// write never tries a name that turns out to be taken, nor looks for stale
/// files under names that are not there. The temporary files a stopped
/// writer left for a target are removed when the run first writes that
/// target. A folder that cannot be listed (one we may write in but not read)
/// is asked name by name instead. Used by one thread at a time.
class TemporaryFiles {
public:
    TemporaryFiles();
    ~TemporaryFiles();
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;

    /// Removes the temporary files that writers which stopped left for the
    /// target `name` in the folder open as `folder` (the first time only).
    void Tidy(int folder, const std::string& name);
    /// A temporary name for a new file of the target `name` in the folder
    /// open as `folder` that nothing had when the folder was listed and no
    /// write of this run holds, once the stale files of the target are
    /// removed; empty when all kTemporarySlots names are taken.
    std::string Reserve(int folder, const std::string& name);
    /// Something else had the name Reserve gave (made since the listing):
    /// it stays taken for the run.
    void Taken(int folder, const std::string& temporary);
    /// The name Reserve gave is free again: its file took the target's name
    /// or was removed.
    void Release(int folder, const std::string& temporary);
    /// Folders listed so far.
    std::size_t Listings() const;

private:
    friend class ReplacementGroup;
    struct Folders;
    std::unique_ptr<Folders> folders_;
};

/// Replaces the file at `path` with what `fill` writes: the bytes go to a
/// temporary file in the same folder, which is flushed and renamed over the
/// old one, so a crash or a kill leaves either the old or the new file, and
/// no temporary file under a name (a temporary file left by a killed writer
/// is removed by the next write of the same target).
///
/// Only a regular file is ever replaced: a folder, FIFO, device node or
/// socket at `path`, or a link to one, is refused. A link to a regular file is
/// followed and its target replaced; a dangling link makes its target. The
/// new file keeps the old one's owner (where this process may give it away)
/// and permission bits; a new file gets 0666 less the umask. A file size
/// limit (RLIMIT_FSIZE) makes the write fail with "File too large" instead of
/// killing the process. On any failure the old file is untouched and nothing
/// is left behind.
WriteOutcome ReplaceFileAtomically(const std::string& path, const FileFiller& fill,
                                   const AtomicWriteOptions& options = {});

/// ReplaceFileAtomically for the entry `name` (one name, no "/") of the
/// folder open as `folder`, which is never left: nothing at the name is
/// followed, and a link, folder, FIFO, device or socket there is refused, as
/// it is when one takes the name while the new file is written.
/// `options.createFolders` has no effect here.
WriteOutcome ReplaceFileInFolder(int folder, const std::string& name, const FileFiller& fill,
                                 const AtomicWriteOptions& options = {});

/// The same as one write of the run `temporaries`.
WriteOutcome ReplaceFileInFolder(int folder, const std::string& name, const FileFiller& fill,
                                 const AtomicWriteOptions& options, TemporaryFiles& temporaries);

/// Files replaced together, as ReplaceFileInFolder replaces one, for less
/// waiting on the disk: each new file is written in full to its temporary
/// file, and only when the group is committed are all of them put on the
/// disk at once (one flush of each file system they are on), renamed over
/// their targets one after the other, and each folder flushed once. A crash
/// or kill at any moment leaves every target old or new; a new file never
/// takes its name before its bytes are on the disk. The old files a group
/// replaced are let go on threads of their own while the next group is
/// written (freeing a file can wait on the disk); all of them are gone once
/// the group is.
class ReplacementGroup {
public:
    explicit ReplacementGroup(TemporaryFiles& temporaries);
    /// Files still waiting are dropped: their targets keep the old files.
    ~ReplacementGroup();
    ReplacementGroup(const ReplacementGroup&) = delete;
    ReplacementGroup& operator=(const ReplacementGroup&) = delete;

    /// Writes the new file for the entry `name` of the folder open as
    /// `folder`, which must stay open until Commit, as ReplaceFileInFolder
    /// does up to the flush; it then waits, complete, for Commit
    /// (`options.written` is filled now). The failure when it could not be
    /// written, and nothing waits.
    WriteOutcome Add(int folder, const std::string& name, const FileFiller& fill,
                     AtomicWriteOptions options);
    /// Entries made in `folder` (a backup linked there) that must be on the
    /// disk before any file of the group takes its name.
    void FlushFirst(int folder);
    /// Files waiting, and the bytes they hold.
    std::size_t Size() const;
    std::uint64_t Bytes() const;
    /// Puts the waiting files on the disk (when more than one, with one
    /// flush of each file system they are on), then renames each over its
    /// target in the order added (asking its `beforeRename` first), then
    /// flushes each of their folders once (the folders of one file system
    /// together, with one flush of it). The outcome of each, in that order;
    /// the group is empty afterwards.
    std::vector<WriteOutcome> Commit();

private:
    struct Waiting;
    WriteOutcome TakeName(Waiting& waiting);
    bool UnnamedFilesCanBeNamed();
    void LetGo(std::vector<UniqueFd> replaced);

    TemporaryFiles& temporaries_;
    std::vector<std::unique_ptr<Waiting>> waiting_;
    std::vector<std::pair<std::pair<dev_t, ino_t>, UniqueFd>> flushFirst_;
    std::uint64_t bytes_ = 0;
    std::vector<std::thread> releasers_;
};

/// ReplaceFileAtomically with `contents` as the new bytes.
WriteOutcome WriteFileAtomically(const std::string& path, std::string_view contents,
                                 bool createFolders = false);

/// Writes all of `data` to `fd`, going on after short writes and interruptions.
WriteOutcome WriteAllTo(int fd, std::string_view data);

} // namespace sorvane
