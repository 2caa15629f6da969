#include "engine/files/file_copy.h"

#include "engine/files/folder_beneath.h"
#include "engine/files/opened_file.h"
#include "engine/files/unique_fd.h"

#include "engine/text/path_utils.h"
#include "engine/text/text_utils.h"

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <utility>
#include <vector>

namespace sorvane {
namespace {

namespace fs = std::filesystem;

// Bytes handed to one copy_file_range call, and the buffer of the plain
// read and write loop.
constexpr std::size_t kRangeChunk = 8u << 20;
constexpr std::size_t kBufferSize = 256u << 10;


// Some file systems (procfs, sysfs, some FUSE and network ones) answer
// copy_file_range with an error, or with 0 bytes for a file that has more;
// the plain loop then goes on from where the file offsets stand.
bool RangeCopyUnsupported(int error) {
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP ||
           error == EBADF || error == ETXTBSY || error == EPERM;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Which side a copy failed on: reading the source or writing the target.
struct CopyFault {
    bool source = false;
    Failure failure;
};
std::unexpected<CopyFault> SourceFault(Failure failure) {
    return std::unexpected(CopyFault{true, std::move(failure)});
}
std::unexpected<CopyFault> SourceFault(int error, Step step) {
    return SourceFault(Failure::System(error, step));
}
std::unexpected<CopyFault> TargetFault(int error) {
    return std::unexpected(CopyFault{false, Failure::System(error, Step::Write)});
}

// The errors of an in-kernel copy that lie with the file written.
bool TargetSideError(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS;
}

std::expected<void, CopyFault> WriteAll(int fd, const char* data, std::size_t size,
                                        const ByteCopyCalls& calls) {
    while (size > 0) {
        const ssize_t n = calls.write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return TargetFault(n < 0 ? errno : EIO);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

// Copies up to `size` bytes from the current offset of `from` to that of
// `to`; the number of bytes copied, fewer when the file ends sooner. A file
// that keeps growing (a log being written) is not followed past the size it
// had.
std::expected<std::int64_t, CopyFault> CopyBytes(int from, int to, std::int64_t size,
                                                 const ByteCopyCalls& calls) {
    std::int64_t copied = 0;
    const auto left = [&](std::size_t most) {
        return static_cast<std::size_t>(std::min<std::int64_t>(size - copied, most));
    };
    while (copied < size) {
        const ssize_t n = calls.copyRange(from, nullptr, to, nullptr, left(kRangeChunk), 0);
        if (n > 0) {
            copied += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && TargetSideError(errno))
            return TargetFault(errno);
        if (n < 0 && !RangeCopyUnsupported(errno))
            return SourceFault(errno, Step::Copy);
        break; // the end, or a file system without it: the loop below says which
    }
    std::unique_ptr<char[]> buffer;
    while (copied < size) {
        if (!buffer)
            buffer.reset(new char[kBufferSize]);
        const ssize_t n = calls.read(from, buffer.get(), left(kBufferSize));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return SourceFault(errno, Step::ReadSource);
        if (n == 0)
            break;
        if (auto written = WriteAll(to, buffer.get(), static_cast<std::size_t>(n), calls);
            !written)
            return std::unexpected(written.error());
        copied += n;
    }
    return copied;
}

// A file with fewer blocks than its size holds holes (or is compressed);
// only then is it worth asking where its data lies.
bool MayHaveHoles(const struct stat& st) {
    return st.st_size > 0 && st.st_blocks * 512 < st.st_size;
}

// Copies the `size` bytes of `from` to the empty file `to`, from offset 0.
// The holes of a sparse file stay holes (as cp does): only the stretches
// that hold data are copied, and the file is given its size at the end.
std::expected<void, CopyFault> CopyContents(int from, int to, const struct stat& before,
                                            const ByteCopyCalls& calls) {
    const std::int64_t size = before.st_size;
    std::int64_t at = 0;
    while (at < size) {
        std::int64_t data = at, end = size;
        if (MayHaveHoles(before)) {
            data = ::lseek(from, at, SEEK_DATA);
            if (data < 0 && errno == ENXIO)
                break; // a hole up to the end
            if (data < 0) {
                data = at; // a file system that cannot tell: all of it is data
            } else {
                const off_t hole = ::lseek(from, data, SEEK_HOLE);
                end = hole < 0 ? size : std::min<std::int64_t>(hole, size);
            }
            if (data >= size)
                break;
            if (::lseek(from, data, SEEK_SET) < 0)
                return SourceFault(errno, Step::Read);
            if (::lseek(to, data, SEEK_SET) < 0)
                return TargetFault(errno);
        }
        const auto copied = CopyBytes(from, to, end - data, calls);
        if (!copied)
            return std::unexpected(copied.error());
        if (*copied != end - data)
            return SourceFault({Reason::ChangedWhileCopied, Step::Copy});
        at = end;
    }
    if (MayHaveHoles(before) && ::ftruncate(to, size) != 0)
        return TargetFault(errno);
    // A copy of a file that was being written is neither the old file nor
    // the new one.
    struct stat after {};
    if (::fstat(from, &after) != 0)
        return SourceFault(errno, Step::Status);
    if (after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim))
        return SourceFault({Reason::ChangedWhileCopied, Step::Copy});
    return {};
}

// The name split at "/", or nothing when it is empty, absolute or has a ".."
// part. Empty and "." parts are dropped.
std::optional<std::vector<std::string_view>> InsideParts(std::string_view name) {
    if (name.empty() || name.front() == '/')
        return std::nullopt;
    std::vector<std::string_view> parts;
    while (!name.empty()) {
        const auto slash = name.find('/');
        const std::string_view part = name.substr(0, slash);
        name = slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1);
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".")
            parts.push_back(part);
    }
    if (parts.empty())
        return std::nullopt;
    return parts;
}

// True when `folder` holds a file (not a folder) named `name` in any letter
// case: Wine prefixes and NT installations have the names in lower case, old
// installations on partitions mounted case-sensitively in upper case.
bool HasFileIgnoringCase(const fs::path& folder, std::string_view name) {
    if (FileExists((folder / name).native()))
        return true;
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(listing)) {
        if (EqualsIgnoreCase(entry->d_name, name) && FileExists((folder / entry->d_name).string())) {
            found = true;
            break;
        }
    }
    ::closedir(listing);
    return found;
}

// The target as written (made absolute, "." and ".." taken lexically) and as
// the file system resolves it, when that differs.
std::vector<fs::path> Spellings(std::string_view target) {
    std::error_code ec;
    fs::path written(target);
    if (written.is_relative())
        written = fs::current_path(ec) / written;
    written = written.lexically_normal();
    if (written.has_relative_path() && !written.has_filename())
        written = written.parent_path(); // no trailing "/"
    std::vector<fs::path> spellings{written};
    const fs::path resolved = fs::weakly_canonical(written, ec);
    if (!ec && resolved != written)
        spellings.push_back(resolved);
    return spellings;
}

bool InsideFolder(const fs::path& path, std::string_view folder) {
    const std::string& text = path.native();
    return text.starts_with(folder) && (text.size() == folder.size() || text[folder.size()] == '/');
}

// A source file opened for the copy, with what it was when opened.
struct OpenedSource {
    UniqueFd fd;
    struct stat st {};
};

// Opens the regular file `path` to copy it; the reason when it cannot.
Result<OpenedSource> OpenSource(const std::string& path) {
    // O_NONBLOCK: a FIFO put in the source's place must not hang the copy.
    OpenedSource source;
    source.fd = UniqueFd(OpenLongPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (source.fd.get() < 0 || ::fstat(source.fd.get(), &source.st) != 0)
        return Fail(Failure::System(errno, Step::OpenSource, path));
    if (!S_ISREG(source.st.st_mode))
        return Fail(
            {Reason::NotRegularFile, Step::OpenSource, path, FileTypeOf(source.st.st_mode)});
    return source;
}

// A copy gets the permission bits and modification time of what it copies.
AtomicWriteOptions CopyOptions(const struct stat& from) {
    AtomicWriteOptions options;
    options.permissions = from.st_mode & 0777;
    options.modified = from.st_mtim;
    return options;
}

std::string Joined(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path.append(name);
}

} // namespace

WriteOutcome CreateFolderPath(std::string_view folder) {
    if (folder.empty())
        return Fail({Reason::NoFolderName, Step::None});
    std::string path;
    std::size_t at = 0;
    if (folder.front() == '/') {
        path = "/";
        at = 1;
    }
    while (at <= folder.size()) {
        const std::size_t slash = std::min(folder.find('/', at), folder.size());
        const std::string_view part = folder.substr(at, slash - at);
        at = slash + 1;
        if (part.empty())
            continue;
        if (!path.empty() && path.back() != '/')
            path += '/';
        path += part;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                continue;
            return Fail({Reason::NameTaken, Step::MakeFolder, path});
        }
        if (errno != ENOENT || (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) ||
            ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return Fail(Failure::System(errno, Step::MakeFolder, path));
    }
    return {};
}

WriteOutcome CopyFileReplacing(const std::string& from, const std::string& to,
                               const ByteCopyCalls& calls) {
    auto source = OpenSource(from);
    if (!source)
        return Fail(source.error());
    const fs::path folder = fs::path(to).parent_path();
    if (!folder.empty() && !FolderExists(folder.native()))
        if (auto made = CreateFolderPath(folder.native()); !made)
            return made;
    return ReplaceFileAtomically(
        to,
        [&](int fd) -> WriteOutcome {
            if (auto copied = CopyContents(source->fd.get(), fd, source->st, calls); !copied)
                return Fail(copied.error().failure);
            return {};
        },
        CopyOptions(source->st));
}

std::string BackupPath(std::string_view targetFolder, std::string_view relativeName) {
    std::string path(targetFolder);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path.append(kBackupFolderName).append("/").append(relativeName);
    return path;
}

namespace {

// The errors of a link that only say that no link can be made here: another
// file system, one without hard links, a file that has as many links as it
// may, or one this user may not link (protected_hardlinks).
bool LinkRefused(int error) {
    return error == EXDEV || error == EPERM || error == EMLINK || error == EOPNOTSUPP;
}

// A group holds at most this many new files (two descriptors each), and at
// most this many bytes waiting in the page cache for the group's flush.
constexpr std::size_t kGroupFiles = 256;
constexpr std::uint64_t kGroupBytes = 64u << 20;

// What the rows of one batch share: the Target folder, opened once, where
// the backups go, the run's temporary names and the group the new files
// wait in.
struct CopyPlace {
    CopyPlace(std::string_view source, std::string_view target, bool backup,
              std::optional<std::string> backupFolder, const ByteCopyCalls& calls)
        : sourceFolder(source), targetFolder(target), backup(backup),
          backupFolder(std::move(backupFolder)), calls(calls),
          root(OpenNamedFolder(targetFolder)), rootError(root.get() < 0 ? errno : 0) {}

    std::string sourceFolder;
    std::string targetFolder;
    bool backup;
    std::optional<std::string> backupFolder;
    ByteCopyCalls calls;
    UniqueFd root;
    int rootError;
    UniqueFd ownBackupRoot; ///< `backupFolder`, once a backup went there
    TemporaryFiles temporaries;
    ReplacementGroup group{temporaries};
};

// One row's copy, step by step; each step ends the row on a failure. The
// new file then waits in the place's group until the group is committed.
class RowCopy {
public:
    RowCopy(CopyPlace& place, std::string_view relativeName, const ScannedPair& scanned,
            const SourceBytes* bytes = nullptr)
        : place_(place), relativeName_(relativeName),
          source_(Joined(place.sourceFolder, relativeName)),
          target_(Joined(place.targetFolder, relativeName)), scanned_(scanned), bytes_(bytes) {}
    RowCopy(const RowCopy&) = delete;
    RowCopy& operator=(const RowCopy&) = delete;

    /// Checks the row, saves the old target when asked and writes the new
    /// file, which then waits in the group. False when the row ends here:
    /// Result() tells how.
    bool Prepare() {
        auto parts = InsideParts(relativeName_);
        if (!parts)
            return Failed(RowCopyStatus::CopyFailed, source_,
                          {Reason::OutsideFolder, Step::None, source_});
        parts_ = std::move(*parts);
        leaf_ = std::string(parts_.back());
        folders_ = std::span<const std::string_view>(parts_).first(parts_.size() - 1);
        if (place_.root.get() < 0)
            return Failed(RowCopyStatus::CopyFailed, target_,
                          Failure::System(place_.rootError, Step::OpenTargetFolder,
                                          place_.targetFolder));

        // The source first: a row refused for it leaves no backup behind.
        std::optional<OpenedSource> source;
        if (bytes_ == nullptr) {
            auto opened = OpenSource(source_);
            if (!opened)
                return Failed(RowCopyStatus::CopyFailed, source_, opened.error());
            if (!SameAsScanned(scanned_.source, &opened->st))
                return Failed(RowCopyStatus::Refused, source_, Changed(source_));
            source = std::move(*opened);
        } else if (bytes_->bytes == nullptr) {
            return Failed(RowCopyStatus::CopyFailed, source_,
                          {Reason::NotOpened, Step::OpenSource, source_});
        }
        if (!LookAtTarget())
            return false;
        if (place_.backup && targetThere_ && !BackUp())
            return false;
        if (source) {
            const OpenedSource& file = *source;
            return WriteNew(CopyOptions(file.st), [&](std::optional<CopyFault>& fault) {
                return Filler(file.fd.get(), file.st, fault);
            });
        }
        AtomicWriteOptions options;
        options.permissions = bytes_->permissions & 0777;
        options.modified = bytes_->modified;
        return WriteNew(std::move(options), [&](std::optional<CopyFault>& fault) {
            return BytesFiller(*bytes_->bytes, fault);
        });
    }

    /// How the row ended: after a Prepare that failed, or once the group
    /// was committed with `outcome` for this row.
    RowCopyResult Result(const WriteOutcome& outcome = {}) {
        if (!result_ && outcome) {
            RowCopyResult done;
            done.backedUp = backedUp_;
            done.target = StampOf(written_);
            return done;
        }
        if (!result_) // refused just before the rename otherwise
            Failed(RowCopyStatus::CopyFailed, target_,
                   WriteFailure(ParentOf(target_), std::nullopt, outcome.error()));
        return *result_;
    }

private:
    // Keeps the row's failure; false, for the step to return.
    bool Failed(RowCopyStatus status, std::string path, Failure failure) {
        RowCopyResult failed;
        failed.status = status;
        failed.backedUp = backedUp_;
        failed.failedPath = std::move(path);
        failed.failure = std::move(failure);
        result_ = std::move(failed);
        return false;
    }
    // The failure of a walk below the Target: a link refuses the row.
    bool FailedWalk(RowCopyStatus status, const Failure& failure) {
        return Failed(failure.Is(Reason::SymbolicLink) ? RowCopyStatus::Refused : status, target_,
                      failure);
    }
    static Failure Changed(const std::string& path) {
        return {Reason::Changed, Step::CompareWithScan, path};
    }

    static bool SameAsScanned(const FileStamp& scanned, const struct stat* now) {
        if (scanned.state == FileStamp::State::Unknown)
            return true;
        return now == nullptr ? scanned.state == FileStamp::State::Missing
                              : scanned == StampOf(*now);
    }

    // Refuses what must not be written over: a link, or anything that is
    // not a regular file.
    bool Writable(const struct stat* present, const std::string& path, RowCopyStatus status) {
        if (present == nullptr || S_ISREG(present->st_mode))
            return true;
        if (S_ISLNK(present->st_mode))
            return Failed(RowCopyStatus::Refused, target_,
                          {Reason::SymbolicLink, Step::Replace, path});
        return Failed(status, target_,
                      {Reason::NotRegularFile, Step::Replace, path, FileTypeOf(present->st_mode)});
    }

    // What the target's name holds now, through folders that must not be
    // links; the target must be the file the scan read.
    bool LookAtTarget() {
        auto folder = OpenFolderBeneath(place_.root.get(), place_.targetFolder, folders_, false);
        if (!folder) {
            if (!folder.error().Is(Reason::FolderMissing) && !folder.error().Is(Reason::NameTaken))
                return FailedWalk(RowCopyStatus::CopyFailed, folder.error());
            // No folder, so no target file: the copy makes the folders.
            if (!SameAsScanned(scanned_.target, nullptr))
                return Failed(RowCopyStatus::Refused, target_, Changed(target_));
            return true;
        }
        targetFolderFd_ = std::move(*folder);
        targetThere_ =
            ::fstatat(targetFolderFd_.get(), leaf_.c_str(), &targetSeen_, AT_SYMLINK_NOFOLLOW) == 0;
        if (!targetThere_ && errno != ENOENT)
            return Failed(RowCopyStatus::CopyFailed, target_,
                          Failure::System(errno, Step::Status, target_));
        if (!Writable(targetThere_ ? &targetSeen_ : nullptr, target_, RowCopyStatus::CopyFailed))
            return false;
        if (!SameAsScanned(scanned_.target, targetThere_ ? &targetSeen_ : nullptr))
            return Failed(RowCopyStatus::Refused, target_, Changed(target_));
        return true;
    }

    // What the target's name must still hold when the new file takes it.
    WriteOutcome StillAsSeen(const struct stat* present) {
        const bool same = targetThere_ ? present != nullptr && S_ISREG(present->st_mode) &&
                                             StampOf(*present) == StampOf(targetSeen_)
                                       : present == nullptr;
        if (same)
            return {};
        if (present != nullptr && !Writable(present, target_, RowCopyStatus::CopyFailed))
            return Fail(result_->failure);
        Failed(RowCopyStatus::Refused, target_, Changed(target_));
        return Fail(result_->failure);
    }

    // Saves the target file as it is below _Backup (or the user's own
    // folder): as a second name of the same file where the file system
    // allows it, else as a copy with the old file's bits, time and owner.
    bool BackUp() {
        // Below the Target's _Backup, or below the user's own folder, which
        // is opened by its name like the Target.
        int backupRoot = place_.root.get();
        std::string rootPath = place_.targetFolder;
        std::vector<std::string_view> below;
        if (place_.backupFolder) {
            if (place_.ownBackupRoot.get() < 0 && !OpenOwnBackupFolder())
                return false;
            backupRoot = place_.ownBackupRoot.get();
            rootPath = *place_.backupFolder;
        } else {
            below.push_back(kBackupFolderName);
        }
        below.insert(below.end(), folders_.begin(), folders_.end());
        auto folder = OpenFolderBeneath(backupRoot, rootPath, below, true);
        if (!folder)
            return FailedWalk(RowCopyStatus::BackupFailed, folder.error());
        const std::string backupPath =
            Joined(place_.backupFolder ? *place_.backupFolder
                                       : Joined(place_.targetFolder, kBackupFolderName),
                   JoinedParts(folders_, leaf_));
        struct stat present {};
        const bool there =
            ::fstatat(folder->get(), leaf_.c_str(), &present, AT_SYMLINK_NOFOLLOW) == 0;
        if (!Writable(there ? &present : nullptr, backupPath, RowCopyStatus::BackupFailed))
            return false;

        switch (LinkBackup(folder->get(), there, backupPath)) {
        case Linked::Yes:
            // The backup's name is on the disk before the target's is given away.
            place_.group.FlushFirst(folder->get());
            backedUp_ = true;
            return true;
        case Linked::Failed:
            return false;
        case Linked::Refused:
            break;
        }
        if (!CopyBackup(folder->get(), backupPath))
            return false;
        backedUp_ = true;
        return true;
    }

    bool OpenOwnBackupFolder() {
        UniqueFd own = OpenNamedFolder(*place_.backupFolder);
        if (own.get() < 0)
            return Failed(RowCopyStatus::BackupFailed, target_,
                          Failure::System(errno, Step::OpenBackupFolder, *place_.backupFolder));
        struct stat ownStat {}, targetRoot {};
        if (::fstat(own.get(), &ownStat) != 0 || ::fstat(place_.root.get(), &targetRoot) != 0)
            return Failed(RowCopyStatus::BackupFailed, target_,
                          Failure::System(errno, Step::Status, *place_.backupFolder));
        if (ownStat.st_dev == targetRoot.st_dev && ownStat.st_ino == targetRoot.st_ino)
            return Failed(RowCopyStatus::BackupFailed, target_,
                          {Reason::BackupIsTarget, Step::OpenBackupFolder, *place_.backupFolder});
        place_.ownBackupRoot = std::move(own);
        return true;
    }

    enum class Linked { Yes, Refused, Failed };

    // The backup as a second name of the old target file, made through the
    // two folders' descriptors without following a link: no byte is copied,
    // and the backup keeps the old file's owner, bits and times by being it.
    // Where there is an older backup, the link gets a temporary name that is
    // renamed over it. Refused where no link can be made (the backup is
    // then copied).
    Linked LinkBackup(int folder, bool there, const std::string& backupPath) {
        // A backup that is already this file (a copy stopped before the new
        // file took the target's name) stays as it is: a rename of a name
        // over another name of the same file would leave both.
        if (there && SameFile(folder, leaf_))
            return Linked::Yes;
        const auto failed = [&](RowCopyStatus status, Failure failure) {
            Failed(status, target_, std::move(failure));
            return Linked::Failed;
        };
        const auto writeFailed = [&](int error, Step step) {
            return failed(RowCopyStatus::BackupFailed,
                          WriteFailure(ParentOf(backupPath), std::nullopt,
                                       Failure::System(error, step)));
        };
        std::string name = there ? std::string() : leaf_;
        bool temporary = false;
        for (;;) {
            if (name.empty()) {
                name = place_.temporaries.Reserve(folder, leaf_);
                if (name.empty())
                    return failed(RowCopyStatus::BackupFailed,
                                  WriteFailure(ParentOf(backupPath), std::nullopt,
                                               {Reason::TooManyWrites, Step::Create}));
                temporary = true;
            }
            if (::linkat(targetFolderFd_.get(), leaf_.c_str(), folder, name.c_str(), 0) == 0)
                break;
            const int error = errno;
            // EEXIST: an older backup made since it was looked at, or a
            // temporary name taken since the listing. Both take the next
            // temporary name.
            if (error == EEXIST) {
                name.clear();
                continue;
            }
            if (temporary)
                place_.temporaries.Release(folder, name);
            if (LinkRefused(error))
                return Linked::Refused;
            return writeFailed(error, Step::Create);
        }
        const auto drop = [&] {
            ::unlinkat(folder, name.c_str(), 0);
            if (temporary)
                place_.temporaries.Release(folder, name);
        };
        // The name links the file the scan read, not one put in its place.
        if (!SameFile(folder, name)) {
            drop();
            return failed(RowCopyStatus::Refused, Changed(target_));
        }
        if (!temporary)
            return Linked::Yes;
        struct stat present {};
        const bool taken = ::fstatat(folder, leaf_.c_str(), &present, AT_SYMLINK_NOFOLLOW) == 0;
        if (!Writable(taken ? &present : nullptr, backupPath, RowCopyStatus::BackupFailed)) {
            drop();
            return Linked::Failed;
        }
        if (::renameat(folder, name.c_str(), folder, leaf_.c_str()) != 0) {
            const int error = errno;
            drop();
            return writeFailed(error, Step::Rename);
        }
        if (SameFile(folder, name)) // the older backup became this file meanwhile
            ::unlinkat(folder, name.c_str(), 0);
        place_.temporaries.Release(folder, name);
        return Linked::Yes;
    }

    // True when `name` in `folder` is the target file the scan read.
    bool SameFile(int folder, const std::string& name) const {
        struct stat st {};
        return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(st.st_mode) && StampOf(st) == StampOf(targetSeen_);
    }

    // The backup as a copy of the old target file, its bits, time and owner
    // kept: for a backup on another file system, or one without links.
    bool CopyBackup(int folder, const std::string& backupPath) {
        UniqueFd old(::openat(targetFolderFd_.get(), leaf_.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (old.get() < 0 || ::fstat(old.get(), &st) != 0) {
            if (errno == ELOOP)
                return Failed(RowCopyStatus::Refused, target_,
                              {Reason::SymbolicLink, Step::Open, target_});
            return Failed(RowCopyStatus::BackupFailed, target_,
                          Failure::System(errno, Step::Open, target_));
        }
        if (st.st_dev != targetSeen_.st_dev || st.st_ino != targetSeen_.st_ino ||
            !S_ISREG(st.st_mode))
            return Failed(RowCopyStatus::Refused, target_, Changed(target_));

        AtomicWriteOptions options = CopyOptions(st);
        options.owner = std::pair(st.st_uid, st.st_gid);
        std::optional<CopyFault> fault;
        options.beforeRename = [&](const struct stat* now) -> WriteOutcome {
            if (!Writable(now, backupPath, RowCopyStatus::BackupFailed))
                return Fail(result_->failure);
            return {};
        };
        const auto saved = ReplaceFileInFolder(folder, leaf_, Filler(old.get(), st, fault),
                                               options, place_.temporaries);
        if (!saved) {
            if (result_) // refused just before the rename
                return false;
            return Failed(RowCopyStatus::BackupFailed, target_,
                          WriteFailure(ParentOf(backupPath), fault, saved.error()));
        }
        return true;
    }

    // Writes the source's bytes for the target with the filler `filler`
    // makes; the new file then waits in the group.
    bool WriteNew(AtomicWriteOptions options,
                  const std::function<FileFiller(std::optional<CopyFault>&)>& filler) {
        if (targetFolderFd_.get() < 0) {
            auto folder = OpenFolderBeneath(place_.root.get(), place_.targetFolder, folders_, true);
            if (!folder)
                return FailedWalk(RowCopyStatus::CopyFailed, folder.error());
            targetFolderFd_ = std::move(*folder);
        }
        options.written = &written_;
        options.beforeRename = [this](const struct stat* now) { return StillAsSeen(now); };
        std::optional<CopyFault> fault;
        const auto added =
            place_.group.Add(targetFolderFd_.get(), leaf_, filler(fault), std::move(options));
        if (added)
            return true;
        if (fault && fault->source)
            return Failed(RowCopyStatus::CopyFailed, source_, fault->failure);
        return Failed(RowCopyStatus::CopyFailed, target_,
                      WriteFailure(ParentOf(target_), fault, added.error()));
    }

    // Fills a new file with the bytes of `from`; a failure is kept in `fault`,
    // which tells the side it lies with.
    FileFiller Filler(int from, const struct stat& st, std::optional<CopyFault>& fault) const {
        return [this, from, &st, &fault](int fd) -> WriteOutcome {
            if (auto copied = CopyContents(from, fd, st, place_.calls); !copied) {
                fault = copied.error();
                return Fail(fault->failure);
            }
            return {};
        };
    }

    // Fills a new file with `bytes`, read forward a piece at a time.
    FileFiller BytesFiller(const ByteSource& bytes, std::optional<CopyFault>& fault) const {
        return [this, &bytes, &fault](int fd) -> WriteOutcome {
            const std::uint64_t size = bytes.size();
            std::vector<std::byte> buffer(
                static_cast<std::size_t>(std::min<std::uint64_t>(size, kBufferSize)));
            for (std::uint64_t at = 0; at < size;) {
                const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, kBufferSize));
                const std::span<std::byte> piece(buffer.data(), n);
                if (!bytes.ReadExactly(at, piece)) {
                    fault = CopyFault{true, Failure(Reason::NotDecompressed, Step::ReadSource, source_)};
                    return Fail(fault->failure);
                }
                if (auto written =
                        WriteAll(fd, reinterpret_cast<const char*>(piece.data()), n, place_.calls);
                    !written) {
                    fault = written.error();
                    return Fail(fault->failure);
                }
                at += n;
            }
            return {};
        };
    }

    // A failure to write a new file in `folder`: the source's own fault as it
    // is, any other with the folder it happened in.
    static Failure WriteFailure(const std::string& folder, const std::optional<CopyFault>& fault,
                                const Failure& error) {
        if (fault && fault->source)
            return fault->failure;
        Failure failure = fault ? fault->failure : error;
        failure.step = Step::WriteInFolder;
        failure.path = folder;
        return failure;
    }

    static std::string JoinedParts(std::span<const std::string_view> folders,
                                   const std::string& leaf) {
        std::string path;
        for (const auto folder : folders)
            path.append(folder).append("/");
        return path + leaf;
    }
    static std::string ParentOf(const std::string& path) {
        return path.substr(0, path.rfind('/'));
    }

    CopyPlace& place_;
    std::string relativeName_;
    std::string source_;
    std::string target_;
    ScannedPair scanned_;
    const SourceBytes* bytes_;
    std::vector<std::string_view> parts_;
    std::span<const std::string_view> folders_;
    std::string leaf_;
    UniqueFd targetFolderFd_;
    bool targetThere_ = false;
    struct stat targetSeen_ {};
    struct stat written_ {};
    bool backedUp_ = false;
    std::optional<RowCopyResult> result_;
};

// Files a group may hold: two descriptors each, within the process's limit.
std::size_t GroupFiles() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kGroupFiles;
    return std::clamp<std::size_t>((limit.rlim_cur - 32) / 4, 1, kGroupFiles);
}

} // namespace

struct RowCopyBatch::State {
    State(std::string_view source, std::string_view target, bool backup,
          std::optional<std::string> backupFolder, const ByteCopyCalls& calls)
        : place(source, target, backup, std::move(backupFolder), calls) {}

    std::vector<Finished> Add(std::string_view relativeName, const ScannedPair& scanned,
                              const SourceBytes* bytes);

    // Commits the group: how each row waiting in it ended.
    std::vector<Finished> Commit() {
        const std::vector<WriteOutcome> outcomes = place.group.Commit();
        std::vector<Finished> finished;
        finished.reserve(waiting.size());
        for (std::size_t i = 0; i < waiting.size(); ++i)
            finished.push_back({waiting[i].first, waiting[i].second->Result(outcomes[i])});
        waiting.clear();
        return finished;
    }

    // Declared before the place: the group's files go before their folders.
    std::vector<std::pair<std::size_t, std::unique_ptr<RowCopy>>> waiting;
    CopyPlace place;
    std::size_t groupFiles = GroupFiles();
    std::size_t next = 0;
    bool stopped = false;
};

RowCopyBatch::RowCopyBatch(std::string_view sourceFolder, std::string_view targetFolder,
                           bool backup, const ByteCopyCalls& calls)
    : state_(std::make_unique<State>(sourceFolder, targetFolder, backup, std::nullopt, calls)) {}

RowCopyBatch::RowCopyBatch(std::string_view sourceFolder, std::string_view targetFolder,
                           const BackupFolder& backupFolder, const ByteCopyCalls& calls)
    : state_(std::make_unique<State>(sourceFolder, targetFolder, true, backupFolder.path,
                                     calls)) {}

RowCopyBatch::~RowCopyBatch() = default;

std::vector<RowCopyBatch::Finished> RowCopyBatch::Add(std::string_view relativeName,
                                                      const ScannedPair& scanned) {
    return state_->Add(relativeName, scanned, nullptr);
}

std::vector<RowCopyBatch::Finished> RowCopyBatch::Add(std::string_view relativeName,
                                                      const ScannedPair& scanned,
                                                      const SourceBytes& bytes) {
    return state_->Add(relativeName, scanned, &bytes);
}

std::vector<RowCopyBatch::Finished> RowCopyBatch::State::Add(std::string_view relativeName,
                                                             const ScannedPair& scanned,
                                                             const SourceBytes* bytes) {
    State& state = *this;
    if (state.stopped)
        return {};
    const std::size_t row = state.next++;
    auto copy = std::make_unique<RowCopy>(state.place, relativeName, scanned, bytes);
    if (copy->Prepare()) {
        state.waiting.emplace_back(row, std::move(copy));
        if (state.place.group.Size() >= state.groupFiles ||
            state.place.group.Bytes() >= kGroupBytes)
            return state.Commit();
        return {};
    }
    // The rows before it end first.
    std::vector<Finished> finished = state.Commit();
    finished.push_back({row, copy->Result()});
    state.stopped = finished.back().result.status == RowCopyStatus::BackupFailed;
    return finished;
}

std::vector<RowCopyBatch::Finished> RowCopyBatch::Finish() {
    return state_->Commit();
}

bool RowCopyBatch::Stopped() const {
    return state_->stopped;
}

RowCopyResult CopyRowFiles(std::string_view sourceFolder, std::string_view targetFolder,
                           std::string_view relativeName, bool backup, const ScannedPair& scanned,
                           const ByteCopyCalls& calls) {
    RowCopyBatch batch(sourceFolder, targetFolder, backup, calls);
    auto finished = batch.Add(relativeName, scanned);
    if (finished.empty())
        finished = batch.Finish();
    return std::move(finished.front().result);
}

RowCopyResult CopyRowFiles(std::string_view sourceFolder, std::string_view targetFolder,
                           std::string_view relativeName, const BackupFolder& backupFolder,
                           const ScannedPair& scanned, const ByteCopyCalls& calls) {
    RowCopyBatch batch(sourceFolder, targetFolder, backupFolder, calls);
    auto finished = batch.Add(relativeName, scanned);
    if (finished.empty())
        finished = batch.Finish();
    return std::move(finished.front().result);
}

std::string WineWindowsFolder() {
    std::string prefix;
    if (const char* wine = std::getenv("WINEPREFIX"); wine != nullptr && *wine != '\0') {
        prefix = wine;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0') {
            const passwd* account = ::getpwuid(::getuid());
            home = account != nullptr ? account->pw_dir : nullptr;
        }
        if (home == nullptr || *home == '\0')
            return {};
        prefix = std::string(home) + "/.wine";
    }
    while (prefix.size() > 1 && prefix.back() == '/')
        prefix.pop_back();
    return prefix + "/drive_c/windows";
}

SystemFolderKind CheckSystemFolder(std::string_view target, std::string_view windowsFolder) {
    if (target.empty())
        return SystemFolderKind::None;
    const std::vector<fs::path> spellings = Spellings(target);
    if (!windowsFolder.empty()) {
        std::vector<std::string> windows{FoldCase(windowsFolder)};
        std::error_code ec;
        const fs::path resolved = fs::weakly_canonical(fs::path(windowsFolder), ec);
        if (!ec)
            windows.push_back(FoldCase(resolved.native()));
        for (const auto& spelling : spellings)
            for (const auto& folder : windows)
                if (FoldCase(spelling.native()).starts_with(folder))
                    return SystemFolderKind::CurrentWindows;
    }
    static constexpr std::string_view kSystemFolders[] = {
        "/bin", "/boot", "/etc", "/lib", "/lib32", "/lib64", "/libx32", "/sbin", "/usr"};
    for (const auto& spelling : spellings)
        for (const auto folder : kSystemFolders)
            if (InsideFolder(spelling, folder))
                return SystemFolderKind::OperatingSystem;
    for (const auto& spelling : spellings)
        for (fs::path folder = spelling; folder.has_relative_path(); folder = folder.parent_path())
            if (HasFileIgnoringCase(folder, "win.ini") && HasFileIgnoringCase(folder, "system.ini"))
                return SystemFolderKind::SeeminglyWindows;
    return SystemFolderKind::None;
}

std::string SystemFolderWarning(SystemFolderKind kind) {
    switch (kind) {
    case SystemFolderKind::None:
        break;
    case SystemFolderKind::CurrentWindows:
        return "You are trying to replace files in your current Windows directory.\n"
               "A result of the operation can be a necessity to reinstall your system.";
    case SystemFolderKind::OperatingSystem:
        return "You are trying to replace files in a folder of the operating system.\n"
               "A result of the operation can be a necessity to reinstall your system.";
    case SystemFolderKind::SeeminglyWindows:
        return "You are trying to replace files in the folder that seemingly is a Windows "
               "directory.\n"
               "A result of the operation can be a necessity to reinstall this Windows system.";
    }
    return {};
}

} // namespace sorvane
