#pragma once
// Copying a source file onto its target: folders made on the way, the old
// target saved under "_Backup" first when asked, and a replacement that never
// loses the old target. Also the test that warns before files of a Windows
// or operating-system folder are replaced.

#include "engine/files/atomic_file.h"
#include "engine/files/file_stamp.h"
#include "engine/formats/byte_source.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <sys/types.h>
#include <unistd.h>

namespace sorvane {

/// The calls that move a file's bytes. A test puts failing ones in to act out
/// a disk that cannot be read, which no test can make happen for real.
struct ByteCopyCalls {
    ssize_t (*copyRange)(int from, loff_t* fromOffset, int to, loff_t* toOffset, size_t length,
                         unsigned flags) = ::copy_file_range;
    ssize_t (*read)(int fd, void* buffer, size_t size) = ::read;
    ssize_t (*write)(int fd, const void* buffer, size_t size) = ::write;
};

/// Makes every missing folder of `folder`, one after the other from the top
/// (new folders get 0777 less the umask). Nothing when all of them exist
/// afterwards; otherwise the folder that could not be made and why (step
/// MakeFolder: "cannot make the folder /a/b: Permission denied"). Folders
/// made before the one that failed stay.
WriteOutcome CreateFolderPath(std::string_view folder);

/// Copies the regular file `from` to `to`, replacing `to` if it is there. The
/// bytes go (holes of a sparse file stay holes) to a temporary file in the folder of `to` (made first, with
/// CreateFolderPath, when missing), which gets the source's read, write and
/// execute bits and modification time and is flushed before it is renamed
/// over `to`; a read-only `to` is replaced all the same, and keeps its owner
/// where this process may give it. A link at `to` is followed and its target
/// replaced. The bytes are copied in pieces, never held whole in memory.
/// Nothing when `to` holds the copy; otherwise why not (a missing or
/// unreadable source, a source that changed while it was read, a full disk,
/// a folder that cannot be written or made). After a failure `to` is as it
/// was and no temporary file is left; folders made for it may stay.
WriteOutcome CopyFileReplacing(const std::string& from, const std::string& to,
                               const ByteCopyCalls& calls = {});

/// The sub-folder of the Target that holds the backups.
inline constexpr std::string_view kBackupFolderName = "_Backup";

/// Where the backup of the target file `relativeName` goes:
/// `<targetFolder>/_Backup/<relativeName>`.
std::string BackupPath(std::string_view targetFolder, std::string_view relativeName);

/// How the copy of one row ended; the values are those the window's copy
/// command returns.
enum class RowCopyStatus : int {
    Copied = 0,
    CopyFailed = -1,   ///< the target file is as it was
    BackupFailed = -2, ///< nothing was copied; a batch ends here
    /// Nothing was written: a symbolic link on the way to the target or its
    /// backup, or a file that is no longer the one the scan read. A batch
    /// goes on with the next row.
    Refused = -3,
};

struct RowCopyResult {
    RowCopyStatus status = RowCopyStatus::Copied;
    /// The old target file was saved below `_Backup` (false for a file that
    /// had no target yet, or without backup).
    bool backedUp = false;
    /// After a failure: the file of the side that failed (the source file
    /// when it could not be read, else the target file), and why: its
    /// Message() is one line naming the folder or link at fault.
    std::string failedPath;
    Failure failure;
    /// After a copy: the new target file.
    FileStamp target;

    explicit operator bool() const { return status == RowCopyStatus::Copied; }
};

/// What a scan saw of a row's two files. A copy is refused when either is no
/// longer the same file, unchanged (an Unknown stamp is not held to).
struct ScannedPair {
    FileStamp source;
    FileStamp target;
};

/// Copies `<sourceFolder>/<relativeName>` onto `<targetFolder>/<relativeName>`.
/// With `backup`, an existing target file is first saved at its BackupPath
/// (an older backup there is replaced): as a hard link to the old file where
/// the backup folder is on the Target's file system and links are allowed,
/// else as a copy; when there is no target file nothing
/// is backed up and no `_Backup` folder is made. Missing sub-folders of the
/// target are made; the Target folder itself must exist (a drive that is not
/// mounted is not made into an empty folder). A name that is empty, absolute
/// or climbs out of the folders with ".." is refused.
///
/// Everything written is reached from the Target folder's descriptor, one
/// name at a time at the moment of writing, and never through a symbolic
/// link: a link at the target, at a folder on the way, at `_Backup` or
/// anywhere below it refuses the row, and nothing outside the Target changes.
/// The source and the target must still be the files `scanned` describes.
RowCopyResult CopyRowFiles(std::string_view sourceFolder, std::string_view targetFolder,
                           std::string_view relativeName, bool backup,
                           const ScannedPair& scanned, const ByteCopyCalls& calls = {});

/// The same without holding the files to what a scan saw.
inline RowCopyResult CopyRowFiles(std::string_view sourceFolder, std::string_view targetFolder,
                                  std::string_view relativeName, bool backup,
                                  const ByteCopyCalls& calls = {}) {
    return CopyRowFiles(sourceFolder, targetFolder, relativeName, backup, ScannedPair{}, calls);
}

/// A folder of the user's own for the backups, instead of
/// `<targetFolder>/_Backup`: the backup of `relativeName` goes to
/// `<path>/<relativeName>`. The folder must exist and must not be the Target
/// folder. It is opened by its own name (links in that name are followed, as
/// for the Target), and everything below it is reached as below `_Backup`:
/// one name at a time, never through a symbolic link.
struct BackupFolder {
    std::string path;
};

/// CopyRowFiles with the backups in `backupFolder`.
RowCopyResult CopyRowFiles(std::string_view sourceFolder, std::string_view targetFolder,
                           std::string_view relativeName, const BackupFolder& backupFolder,
                           const ScannedPair& scanned, const ByteCopyCalls& calls = {});

/// The source of a row that is no file of its own but bytes read from
/// elsewhere (a member of an archive): what the new file is filled with and
/// gets.
struct SourceBytes {
    /// Read forward from 0 to size(), a piece at a time; valid while the
    /// row is added.
    const ByteSource* bytes = nullptr;
    /// Read, write and execute bits of the new file.
    mode_t permissions = 0644;
    /// Modification time of the new file.
    struct timespec modified {};
};

/// Copies many rows as CopyRowFiles copies one, with less waiting on the
/// disk: the new files of a group of rows are written in full first, then put
/// on the disk together and renamed over their targets one after the other
/// (see ReplacementGroup); a group ends after some hundred files or some tens
/// of MiB. A crash or kill at any moment leaves every target old or new; a
/// temporary file it leaves under a name is removed by the next copy of that
/// target. Where the backup folder is on the Target's file system, each
/// backup is a second name (a hard link) of the old target file, made
/// before the new file takes the target's name: no byte is copied.
class RowCopyBatch {
public:
    /// Rows of `sourceFolder` copied onto `targetFolder`, each old target
    /// saved below its _Backup first when `backup`. The Target folder is
    /// opened once, now.
    RowCopyBatch(std::string_view sourceFolder, std::string_view targetFolder, bool backup,
                 const ByteCopyCalls& calls = {});
    /// The same with the backups in `backupFolder`.
    RowCopyBatch(std::string_view sourceFolder, std::string_view targetFolder,
                 const BackupFolder& backupFolder, const ByteCopyCalls& calls = {});
    /// Rows still waiting are dropped: their targets keep the old files.
    ~RowCopyBatch();
    RowCopyBatch(const RowCopyBatch&) = delete;
    RowCopyBatch& operator=(const RowCopyBatch&) = delete;

    /// How a row ended; `row` counts the rows added, from 0.
    struct Finished {
        std::size_t row = 0;
        RowCopyResult result;
    };

    /// Copies `relativeName` as CopyRowFiles does, except that its new file
    /// may wait, complete, to take its name with the rest of its group. The
    /// rows whose outcome is known now, in the order they were added (this
    /// one among them or not yet). After a BackupFailed the batch has
    /// stopped: rows added later are not copied and not returned.
    std::vector<Finished> Add(std::string_view relativeName, const ScannedPair& scanned);
    /// The same with `bytes` as the source of the row: no file is opened in
    /// the source folder, which only names the source in messages
    /// (`<sourceFolder>/<relativeName>`). A failure to read the bytes fails
    /// the row (CopyFailed, the source's path) and leaves the target as it
    /// was. The bytes are read in full before this returns.
    std::vector<Finished> Add(std::string_view relativeName, const ScannedPair& scanned,
                              const SourceBytes& bytes);
    /// Ends the group: how each row still waiting ended.
    std::vector<Finished> Finish();
    /// True once a backup failed.
    bool Stopped() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

/// Why replacing files in a Target deserves a warning.
enum class SystemFolderKind {
    None,
    CurrentWindows,   ///< in the Windows folder of the Wine prefix in use
    OperatingSystem,  ///< in /bin, /boot, /etc, /lib, /lib32, /lib64, /libx32, /sbin or /usr
    SeeminglyWindows, ///< below a folder that holds both win.ini and system.ini
};

/// The Windows folder of the Wine prefix in use: $WINEPREFIX (else ~/.wine)
/// followed by "/drive_c/windows".
std::string WineWindowsFolder();

/// Tests the Target folder `target` (relative to the working folder when not
/// absolute) before files in it are replaced, in this order: it begins with
/// the text `windowsFolder` without regard to case ("/x/drive_c/Windows2"
/// included, as the Windows folder's own test has always been); it is one
/// of the operating system's folders or inside one; it or a folder above it,
/// but not the root, holds both win.ini and system.ini (names in any case),
/// as a Wine prefix or a mounted Windows partition does. The path is tested
/// as written and as resolved, so a link to such a folder does not hide it.
/// An empty `windowsFolder` skips the first test.
SystemFolderKind CheckSystemFolder(std::string_view target, std::string_view windowsFolder);

/// The two lines of warning for `kind` (LF between them); empty for None.
std::string SystemFolderWarning(SystemFolderKind kind);

} // namespace sorvane
