#include "engine/files/atomic_file.h"

#include "engine/files/folder_beneath.h"
#include "engine/files/unique_fd.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace sorvane {
namespace {

std::unexpected<Failure> FailWith(int error, Step step) {
    return Fail(Failure::System(error, step));
}

// The refusal for a name that is not a regular file.
std::unexpected<Failure> NotRegular(mode_t mode, bool throughLink, const std::string& path) {
    return Fail({throughLink ? Reason::LinkToNotRegular : Reason::NotRegularFile, Step::Replace,
                 path, FileTypeOf(mode)});
}

// Where the bytes really go: the final target of a chain of links (relative
// targets are read against the folder of the link). The kernel is asked to
// follow the chain first, so that a link it would not follow (another user's
// link in a sticky folder such as /tmp) is not followed here either.
std::expected<std::string, int> FinalTarget(std::string path) {
    struct stat first {};
    if (::lstat(path.c_str(), &first) == 0 && S_ISLNK(first.st_mode)) {
        const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        else if (errno != ENOENT) // a link to nothing yet is followed to create it
            return std::unexpected(errno);
    }
    for (int depth = 0;; ++depth) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        if (depth == 40)
            return std::unexpected(ELOOP);
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            return std::unexpected(errno);
        if (static_cast<std::size_t>(n) >= target.size())
            return std::unexpected(ENAMETOOLONG);
        target.resize(static_cast<std::size_t>(n));
        const std::filesystem::path next(target);
        path = next.is_absolute() ? target
                                  : (std::filesystem::path(path).parent_path() / next).string();
    }
}

// A file size limit makes write() raise SIGXFSZ, whose default action ends
// the process. Blocked in this thread while a file is written, the signal
// stays pending and write() fails with EFBIG instead; the pending signal is
// taken back before the mask is restored, so nothing else changes.
class SizeLimitSignalBlock {
public:
    SizeLimitSignalBlock() {
        ::sigemptyset(&signal_);
        ::sigaddset(&signal_, SIGXFSZ);
        ::pthread_sigmask(SIG_BLOCK, &signal_, &previous_);
        pendingBefore_ = Pending();
    }
    ~SizeLimitSignalBlock() {
        if (!pendingBefore_ && Pending()) {
            const struct timespec noWait {};
            ::sigtimedwait(&signal_, nullptr, &noWait);
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SizeLimitSignalBlock(const SizeLimitSignalBlock&) = delete;
    SizeLimitSignalBlock& operator=(const SizeLimitSignalBlock&) = delete;

private:
    static bool Pending() {
        sigset_t pending;
        return ::sigpending(&pending) == 0 && ::sigismember(&pending, SIGXFSZ) == 1;
    }
    sigset_t signal_{};
    sigset_t previous_{};
    bool pendingBefore_ = false;
};

// The temporary names of one target: ".<name>.sorvane-tmp-<slot>", the name
// cut so that the whole stays within NAME_MAX.
std::string TemporaryPrefix(const std::string& name) {
    constexpr std::string_view kMark = ".sorvane-tmp-";
    constexpr std::size_t kRoom = NAME_MAX - 1 - kMark.size() - 2;
    std::string prefix(".");
    prefix.append(name, 0, kRoom).append(kMark);
    return prefix;
}

// Removes the temporary files that writers of this target left when they were
// killed: regular files of the pattern, some seconds old, whose lock nobody
// holds (a live writer keeps its temporary file locked from open to rename).
void RemoveStaleTemporaries(int folder, const std::string& prefix) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    for (int slot = 0; slot < kTemporarySlots; ++slot) {
        const std::string name = prefix + std::to_string(slot);
        UniqueFd fd(::openat(folder, name.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            now.tv_sec - st.st_mtim.tv_sec < kStaleTemporarySeconds ||
            ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        struct stat named {};
        if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == st.st_dev && named.st_ino == st.st_ino)
            ::unlinkat(folder, name.c_str(), 0);
    }
}

// Removes a temporary name unless the rename took it.
class TemporaryName {
public:
    explicit TemporaryName(int folder) : folder_(folder) {}
    ~TemporaryName() {
        if (!name_.empty())
            ::unlinkat(folder_, name_.c_str(), 0);
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    void Set(std::string name) { name_ = std::move(name); }
    const std::string& Get() const { return name_; }
    void Keep() { name_.clear(); }

private:
    int folder_;
    std::string name_;
};

// The given owner and permission bits, as far as this process may give them:
// a set-user-ID or set-group-ID bit is kept only with its owner.
WriteOutcome GiveOwnerAndMode(int fd, uid_t uid, gid_t gid, mode_t mode) {
    if (::fchown(fd, uid, gid) != 0) {
        if (errno != EPERM && errno != EINVAL)
            return FailWith(errno, Step::SetOwner);
        // A group of ours, at least; nothing to add when not even that.
        [[maybe_unused]] const int kept = ::fchown(fd, static_cast<uid_t>(-1), gid);
    }
    mode &= 07777;
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return FailWith(errno, Step::Status);
    if (now.st_uid != uid)
        mode &= ~S_ISUID;
    if (now.st_gid != gid)
        mode &= ~S_ISGID;
    // Some file systems (FAT) have no permission bits to set.
    if (::fchmod(fd, mode) != 0 && errno != EPERM)
        return FailWith(errno, Step::SetPermissions);
    return {};
}

// Writes the new file for the entry `name` of `folder` and renames it over
// the entry. `old` is what had the name when the caller looked (nullptr:
// nothing), a regular file.
WriteOutcome ReplaceEntry(int folder, const std::string& name, const struct stat* old,
                          const FileFiller& fill, const AtomicWriteOptions& options) {
    const SizeLimitSignalBlock sizeLimit;
    const std::string prefix = TemporaryPrefix(name);
    RemoveStaleTemporaries(folder, prefix);

    // An existing file's owner and bits are set below; a new one is made with
    // 0666 so that the umask (or the folder's default ACL) applies as usual.
    const bool replacing = old != nullptr;
    const mode_t createMode = replacing || options.owner ? 0600 : 0666;
    UniqueFd fd(-1);
    // Declared after the descriptor: a temporary name goes while its lock is held.
    TemporaryName temporary(folder);
    // An unnamed file is given a name through /proc/self/fd, or without /proc
    // with AT_EMPTY_PATH, which needs CAP_DAC_READ_SEARCH.
    if (options.unnamedTemporary && ::access("/proc/self/fd", X_OK) == 0) {
        fd = UniqueFd(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, createMode));
        if (fd.get() < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return FailWith(errno, Step::Create);
    }
    const bool unnamed = fd.get() >= 0;
    for (int slot = 0; !unnamed && slot < kTemporarySlots && fd.get() < 0; ++slot) {
        const std::string candidate = prefix + std::to_string(slot);
        fd = UniqueFd(::openat(folder, candidate.c_str(),
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode));
        if (fd.get() >= 0)
            temporary.Set(candidate);
        else if (errno != EEXIST)
            return FailWith(errno, Step::Create);
    }
    if (fd.get() < 0)
        return Fail({Reason::TooManyWrites, Step::Create});
    // The lock tells the next writer that this temporary file is in use.
    ::flock(fd.get(), LOCK_EX | LOCK_NB);

    if (auto filled = fill(fd.get()); !filled)
        return filled;
    if (options.owner || replacing) {
        const uid_t uid = options.owner ? options.owner->first : old->st_uid;
        const gid_t gid = options.owner ? options.owner->second : old->st_gid;
        const mode_t mode = replacing ? old->st_mode : 0600;
        if (auto given = GiveOwnerAndMode(fd.get(), uid, gid, mode); !given)
            return given;
    }
    if (options.permissions && ::fchmod(fd.get(), *options.permissions & 0777) != 0 &&
        errno != EPERM)
        return FailWith(errno, Step::SetPermissions);
    if (options.modified) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, *options.modified};
        if (::futimens(fd.get(), times) != 0 && errno != EPERM)
            return FailWith(errno, Step::SetTime);
    }
    if (::fsync(fd.get()) != 0)
        return FailWith(errno, Step::Sync);
    if (options.written != nullptr && ::fstat(fd.get(), options.written) != 0)
        return FailWith(errno, Step::Status);

    if (unnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
        for (int slot = 0; slot < kTemporarySlots && temporary.Get().empty(); ++slot) {
            const std::string candidate = prefix + std::to_string(slot);
            int linked =
                ::linkat(AT_FDCWD, self.c_str(), folder, candidate.c_str(), AT_SYMLINK_FOLLOW);
            if (linked != 0 && errno == ENOENT)
                linked = ::linkat(fd.get(), "", folder, candidate.c_str(), AT_EMPTY_PATH);
            if (linked == 0)
                temporary.Set(candidate);
            else if (errno != EEXIST)
                return FailWith(errno, Step::Create);
        }
        if (temporary.Get().empty())
            return Fail({Reason::TooManyWrites, Step::Create});
    }

    // Something else may have taken the name since it was looked at.
    struct stat now {};
    const bool present = ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    if (options.beforeRename)
        if (auto agreed = options.beforeRename(present ? &now : nullptr); !agreed)
            return agreed;
    if (present && !S_ISREG(now.st_mode))
        return NotRegular(now.st_mode, false, {});
    if (::renameat(folder, temporary.Get().c_str(), folder, name.c_str()) != 0)
        return FailWith(errno, Step::Rename);
    temporary.Keep();
    // Make the rename itself durable.
    ::fsync(folder);
    return {};
}

} // namespace

Result<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes) {
    // O_NONBLOCK so that opening a FIFO cannot hang; non-regular files are refused below.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return Fail(Failure::System(errno, Step::Open, path));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return Fail(Failure::System(errno, Step::Status, path));
    if (!S_ISREG(st.st_mode) || st.st_size < 0)
        return Fail({Reason::NotRegularFile, Step::Open, path, FileTypeOf(st.st_mode)});
    if (static_cast<std::size_t>(st.st_size) > maxBytes)
        return Fail(Failure::System(EFBIG, Step::Read, path));
    std::string data;
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(Failure::System(errno, Step::Read, path));
        if (n == 0)
            break; // the file shrank while we read it
        got += static_cast<std::size_t>(n);
    }
    // A file that grew while we read it is cut at the size seen at the start.
    data.resize(got);
    return data;
}

WriteOutcome WriteAllTo(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FailWith(n < 0 ? errno : EIO, Step::Write);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

WriteOutcome ReplaceFileAtomically(const std::string& path, const FileFiller& fill,
                                   const AtomicWriteOptions& options) {
    if (path.empty())
        return Fail({Reason::NoFileName, Step::Replace});
    // What the name leads to decides: only a regular file (or nothing) is replaced.
    struct stat seen {};
    const bool exists = ::stat(path.c_str(), &seen) == 0;
    if (!exists && errno != ENOENT)
        return FailWith(errno, Step::Status);
    struct stat own {};
    const bool isLink = ::lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
    if (exists && !S_ISREG(seen.st_mode))
        return NotRegular(seen.st_mode, isLink, path);

    const auto resolved = FinalTarget(path);
    if (!resolved)
        return FailWith(resolved.error(), Step::FollowLink);
    const std::filesystem::path target(*resolved);
    struct stat old {};
    const bool replacing = ::lstat(target.c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode))
        return NotRegular(old.st_mode, isLink, path);
    // A link of /proc (a file opened by a process, maybe deleted since) names
    // no path that leads to the same file.
    if (exists && (!replacing || old.st_dev != seen.st_dev || old.st_ino != seen.st_ino))
        return Fail({Reason::LinkNotReplaceable, Step::FollowLink, path});
    const std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..")
        return Fail({Reason::NoFileName, Step::Replace, path});

    const std::filesystem::path folderPath =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    if (options.createFolders) {
        std::error_code ec;
        std::filesystem::create_directories(folderPath, ec);
    }
    const UniqueFd folder = OpenNamedFolder(folderPath.native());
    if (folder.get() < 0)
        return Fail(Failure::System(errno, Step::Open, folderPath.native()));
    auto replaced = ReplaceEntry(folder.get(), name, replacing ? &old : nullptr, fill, options);
    if (!replaced && replaced.error().path.empty())
        replaced.error().path = path;
    return replaced;
}

WriteOutcome ReplaceFileInFolder(int folder, const std::string& name, const FileFiller& fill,
                                 const AtomicWriteOptions& options) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return Fail({Reason::NoFileName, Step::Replace, name});
    struct stat old {};
    const bool replacing = ::fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!replacing && errno != ENOENT)
        return FailWith(errno, Step::Status);
    if (replacing && !S_ISREG(old.st_mode))
        return NotRegular(old.st_mode, false, name);
    return ReplaceEntry(folder, name, replacing ? &old : nullptr, fill, options);
}

WriteOutcome WriteFileAtomically(const std::string& path, std::string_view contents,
                                 bool createFolders) {
    AtomicWriteOptions options;
    options.createFolders = createFolders;
    return ReplaceFileAtomically(
        path, [contents](int fd) { return WriteAllTo(fd, contents); }, options);
}

} // namespace sorvane
