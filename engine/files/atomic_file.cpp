#include "engine/files/atomic_file.h"

#include "engine/files/folder_beneath.h"
#include "engine/files/unique_fd.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>
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

constexpr std::string_view kTemporaryMark = ".sorvane-tmp-";

// The temporary names of one target: ".<name>.sorvane-tmp-<slot>", the name
// cut so that the whole stays within NAME_MAX.
std::string TemporaryPrefix(const std::string& name) {
    constexpr std::size_t kRoom = NAME_MAX - 1 - kTemporaryMark.size() - 2;
    std::string prefix(".");
    prefix.append(name, 0, kRoom).append(kTemporaryMark);
    return prefix;
}

// The prefix and slot of a folder entry that is a temporary name, as
// TemporaryPrefix and a slot number make it; nothing for any other name.
std::optional<std::pair<std::string_view, int>> TemporaryParts(std::string_view entry) {
    const auto mark = entry.rfind(kTemporaryMark);
    if (entry.empty() || entry.front() != '.' || mark == std::string_view::npos || mark == 0)
        return std::nullopt;
    const std::string_view digits = entry.substr(mark + kTemporaryMark.size());
    if (digits.empty() || digits.size() > 2 || (digits.size() == 2 && digits.front() == '0'))
        return std::nullopt;
    int slot = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        slot = slot * 10 + (c - '0');
    }
    if (slot >= kTemporarySlots)
        return std::nullopt;
    return std::pair(entry.substr(0, mark + kTemporaryMark.size()), slot);
}

enum class Stale { Gone, Kept };

// Removes the temporary file `name` that a writer left when it was killed:
// a regular file some seconds old whose lock nobody holds (a live writer
// keeps its temporary file locked from open to rename). Gone when the name
// is free now.
Stale RemoveIfStale(int folder, const std::string& name, const struct timespec& now) {
    UniqueFd fd(::openat(folder, name.c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno == ENOENT ? Stale::Gone : Stale::Kept;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        now.tv_sec - st.st_mtim.tv_sec < kStaleTemporarySeconds ||
        ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return Stale::Kept;
    struct stat named {};
    if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == st.st_dev && named.st_ino == st.st_ino &&
        ::unlinkat(folder, name.c_str(), 0) == 0)
        return Stale::Gone;
    return Stale::Kept;
}

// The given owner and permission bits, as far as this process may give them:
// a set-user-ID or set-group-ID bit is kept only with its owner. `now` is
// the file's status; only what differs is changed.
WriteOutcome GiveOwnerAndMode(int fd, struct stat& now, uid_t uid, gid_t gid, mode_t mode) {
    if (now.st_uid != uid || now.st_gid != gid) {
        if (::fchown(fd, uid, gid) != 0) {
            if (errno != EPERM && errno != EINVAL)
                return FailWith(errno, Step::SetOwner);
            // A group of ours, at least; nothing to add when not even that.
            [[maybe_unused]] const int kept = ::fchown(fd, static_cast<uid_t>(-1), gid);
        }
        if (::fstat(fd, &now) != 0)
            return FailWith(errno, Step::Status);
    }
    mode &= 07777;
    if (now.st_uid != uid)
        mode &= ~S_ISUID;
    if (now.st_gid != gid)
        mode &= ~S_ISGID;
    // Some file systems (FAT) have no permission bits to set.
    if (::fchmod(fd, mode) != 0 && errno != EPERM)
        return FailWith(errno, Step::SetPermissions);
    return {};
}

// Gives the unnamed file open as `fd` the name `name` in `folder`: through
// /proc/self/fd, or without /proc with AT_EMPTY_PATH, which needs
// CAP_DAC_READ_SEARCH. 0, or -1 with errno set.
int LinkUnnamed(int fd, int folder, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    int linked = ::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT)
        linked = ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH);
    return linked;
}

// A file of at least this many bytes is handed to the disk as soon as it is
// written, so the disk works while the next files are copied and the
// group's flush has less to wait for.
constexpr std::int64_t kEarlyWriteBytes = 256 << 10;

// Threads that let a group's replaced files go (see LetGo).
constexpr std::size_t kReleasers = 8;

} // namespace

struct TemporaryFiles::Folders {
    struct Target {
        std::uint16_t taken = 0; ///< one bit a slot
        bool tidied = false;     ///< its stale files were looked at
    };
    struct Folder {
        bool listed = false;
        std::unordered_map<std::string, Target> targets; ///< by prefix
    };
    std::map<std::pair<dev_t, ino_t>, Folder> folders;
    std::size_t listings = 0;
    /// Whether /proc/self/fd can give an unnamed file a name.
    std::optional<bool> procFd;

    // The folder open as `fd`, listed when it is first met; nullptr when it
    // cannot even be looked at.
    Folder* Of(int fd) {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return nullptr;
        const auto [at, added] = folders.try_emplace(std::pair(st.st_dev, st.st_ino));
        if (added)
            List(fd, at->second);
        return &at->second;
    }

    // The target of `prefix` in the folder `at` (open as `folder`), its stale
    // temporary files removed when it is first met: those the listing found, or
    // every name of a folder that could not be listed.
    static Target& Tidied(Folder& at, int folder, const std::string& prefix) {
        auto& target = at.targets[prefix];
        if (target.tidied)
            return target;
        target.tidied = true;
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        for (int slot = 0; slot < kTemporarySlots; ++slot) {
            const auto bit = static_cast<std::uint16_t>(1u << slot);
            if (at.listed && (target.taken & bit) == 0)
                continue;
            if (RemoveIfStale(folder, prefix + std::to_string(slot), now) == Stale::Gone)
                target.taken &= static_cast<std::uint16_t>(~bit);
            else
                target.taken |= bit;
        }
        return target;
    }

    void List(int fd, Folder& folder) {
        UniqueFd copy(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (copy.get() < 0)
            return;
        DIR* listing = ::fdopendir(copy.get());
        if (listing == nullptr)
            return;
        copy.release();
        ++listings;
        folder.listed = true;
        while (const dirent* entry = ::readdir(listing))
            if (const auto parts = TemporaryParts(entry->d_name))
                folder.targets[std::string(parts->first)].taken |=
                    static_cast<std::uint16_t>(1u << parts->second);
        ::closedir(listing);
    }
};

TemporaryFiles::TemporaryFiles() : folders_(std::make_unique<Folders>()) {}
TemporaryFiles::~TemporaryFiles() = default;

void TemporaryFiles::Tidy(int folder, const std::string& name) {
    if (Folders::Folder* at = folders_->Of(folder))
        Folders::Tidied(*at, folder, TemporaryPrefix(name));
}

std::string TemporaryFiles::Reserve(int folder, const std::string& name) {
    Folders::Folder* at = folders_->Of(folder);
    if (at == nullptr)
        return {};
    const std::string prefix = TemporaryPrefix(name);
    auto& target = Folders::Tidied(*at, folder, prefix);
    for (int slot = 0; slot < kTemporarySlots; ++slot) {
        const auto bit = static_cast<std::uint16_t>(1u << slot);
        if ((target.taken & bit) == 0) {
            target.taken |= bit;
            return prefix + std::to_string(slot);
        }
    }
    return {};
}

void TemporaryFiles::Release(int folder, const std::string& temporary) {
    const auto parts = TemporaryParts(temporary);
    Folders::Folder* at = parts ? folders_->Of(folder) : nullptr;
    if (at == nullptr)
        return;
    if (const auto target = at->targets.find(std::string(parts->first));
        target != at->targets.end())
        target->second.taken &= static_cast<std::uint16_t>(~(1u << parts->second));
}

std::size_t TemporaryFiles::Listings() const {
    return folders_->listings;
}

// A new file written in full, waiting to take its name.
struct ReplacementGroup::Waiting {
    int folder = -1;
    std::string name;
    UniqueFd fd;
    bool unnamed = false;
    std::string temporary; ///< the name it has while it waits or is linked
    std::function<WriteOutcome(const struct stat*)> beforeRename;
    struct stat written {};
    UniqueFd replaced; ///< the file that had the name, once the new file took it
};

ReplacementGroup::ReplacementGroup(TemporaryFiles& temporaries) : temporaries_(temporaries) {}

// An unnamed file is given its name through /proc/self/fd (see LinkUnnamed).
bool ReplacementGroup::UnnamedFilesCanBeNamed() {
    auto& procFd = temporaries_.folders_->procFd;
    if (!procFd)
        procFd = ::access("/proc/self/fd", X_OK) == 0;
    return *procFd;
}

// The files a group replaced are let go on threads of their own when the
// group had more than one: freeing a file's blocks can wait on the disk
// (ext4 without a journal, mounted with "discard", trims them there and
// then, one file after the other), and several at once wait about as long as
// one. The waiting then overlaps the next group's copying instead of adding
// to it.
void ReplacementGroup::LetGo(std::vector<UniqueFd> replaced) {
    for (auto& releaser : releasers_)
        releaser.join();
    releasers_.clear();
    if (replaced.size() < 2)
        return;
    auto files = std::make_shared<std::vector<UniqueFd>>(std::move(replaced));
    const std::size_t threads = std::min<std::size_t>(kReleasers, files->size());
    try {
        for (std::size_t first = 0; first < threads; ++first)
            releasers_.emplace_back([files, first, threads] {
                for (std::size_t i = first; i < files->size(); i += threads)
                    (*files)[i] = UniqueFd();
            });
    } catch (const std::system_error&) {
        // No thread to spare: those left go when the last thread is done
        // with `files`, or here.
    }
}

ReplacementGroup::~ReplacementGroup() {
    for (auto& releaser : releasers_)
        releaser.join();
    // A temporary name goes while its lock is held.
    for (const auto& waiting : waiting_)
        if (!waiting->temporary.empty()) {
            ::unlinkat(waiting->folder, waiting->temporary.c_str(), 0);
            temporaries_.Release(waiting->folder, waiting->temporary);
        }
}

std::size_t ReplacementGroup::Size() const {
    return waiting_.size();
}

std::uint64_t ReplacementGroup::Bytes() const {
    return bytes_;
}

void ReplacementGroup::FlushFirst(int folder) {
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return;
    const auto id = std::pair(st.st_dev, st.st_ino);
    if (std::ranges::find(flushFirst_, id, &std::pair<std::pair<dev_t, ino_t>, UniqueFd>::first) !=
        flushFirst_.end())
        return;
    UniqueFd copy(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (copy.get() >= 0)
        flushFirst_.emplace_back(id, std::move(copy));
}

WriteOutcome ReplacementGroup::Add(int folder, const std::string& name, const FileFiller& fill,
                                   AtomicWriteOptions options) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return Fail({Reason::NoFileName, Step::Replace, name});
    struct stat old {};
    const bool replacing = ::fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!replacing && errno != ENOENT)
        return FailWith(errno, Step::Status);
    if (replacing && !S_ISREG(old.st_mode))
        return NotRegular(old.st_mode, false, name);

    temporaries_.Tidy(folder, name);
    const SizeLimitSignalBlock sizeLimit;
    auto waiting = std::make_unique<Waiting>();
    waiting->folder = folder;
    waiting->name = name;
    // Whatever fails below, a temporary name made for the file goes.
    struct Unnamer {
        TemporaryFiles& temporaries;
        Waiting* waiting;
        ~Unnamer() {
            if (waiting != nullptr && !waiting->temporary.empty()) {
                ::unlinkat(waiting->folder, waiting->temporary.c_str(), 0);
                temporaries.Release(waiting->folder, waiting->temporary);
            }
        }
    } unnamer{temporaries_, waiting.get()};

    // An existing file's owner and bits are set below; a new one is made with
    // 0666 so that the umask (or the folder's default ACL) applies as usual.
    const mode_t createMode = replacing || options.owner ? 0600 : 0666;
    if (options.unnamedTemporary && UnnamedFilesCanBeNamed()) {
        waiting->fd = UniqueFd(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, createMode));
        if (waiting->fd.get() < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return FailWith(errno, Step::Create);
    }
    waiting->unnamed = waiting->fd.get() >= 0;
    while (waiting->fd.get() < 0) {
        const std::string candidate = temporaries_.Reserve(folder, name);
        if (candidate.empty())
            return Fail({Reason::TooManyWrites, Step::Create});
        waiting->fd = UniqueFd(::openat(folder, candidate.c_str(),
                                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                        createMode));
        if (waiting->fd.get() >= 0) {
            waiting->temporary = candidate;
        } else if (errno != EEXIST) { // EEXIST: made since the listing, and taken
            const int error = errno;
            temporaries_.Release(folder, candidate);
            return FailWith(error, Step::Create);
        }
    }
    const int fd = waiting->fd.get();
    // The lock tells the next writer that this temporary file is in use.
    ::flock(fd, LOCK_EX | LOCK_NB);

    if (auto filled = fill(fd); !filled)
        return filled;
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return FailWith(errno, Step::Status);
    std::optional<mode_t> mode;
    if (options.owner || replacing) {
        const uid_t uid = options.owner ? options.owner->first : old.st_uid;
        const gid_t gid = options.owner ? options.owner->second : old.st_gid;
        // Set-ID bits are never given with `permissions`.
        mode = options.permissions ? *options.permissions & 0777
                                   : (replacing ? old.st_mode : 0600);
        if (auto given = GiveOwnerAndMode(fd, now, uid, gid, *mode); !given)
            return given;
    } else if (options.permissions &&
               ::fchmod(fd, *options.permissions & 0777) != 0 && errno != EPERM) {
        return FailWith(errno, Step::SetPermissions);
    }
    if (options.modified) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, *options.modified};
        if (::futimens(fd, times) != 0 && errno != EPERM)
            return FailWith(errno, Step::SetTime);
    }
    if (::fstat(fd, &waiting->written) != 0)
        return FailWith(errno, Step::Status);
    if (options.written != nullptr)
        *options.written = waiting->written;
    if (waiting->written.st_size >= kEarlyWriteBytes)
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    waiting->beforeRename = std::move(options.beforeRename);
    bytes_ += static_cast<std::uint64_t>(waiting->written.st_size);
    unnamer.waiting = nullptr;
    waiting_.push_back(std::move(waiting));
    return {};
}

std::vector<WriteOutcome> ReplacementGroup::Commit() {
    std::vector<WriteOutcome> outcomes(waiting_.size());
    // On the disk first: one flush of each file system for a group, which
    // writes every file of it at once. A file system that says it failed is
    // asked file by file, which tells the files that failed.
    std::vector<dev_t> flushed;
    if (waiting_.size() > 1) {
        std::vector<dev_t> failed;
        for (const auto& waiting : waiting_) {
            const dev_t device = waiting->written.st_dev;
            if (std::ranges::find(flushed, device) != flushed.end() ||
                std::ranges::find(failed, device) != failed.end())
                continue;
            (::syncfs(waiting->fd.get()) == 0 ? flushed : failed).push_back(device);
        }
        for (std::size_t i = 0; i < waiting_.size(); ++i)
            if (std::ranges::find(failed, waiting_[i]->written.st_dev) != failed.end() &&
                ::fsync(waiting_[i]->fd.get()) != 0)
                outcomes[i] = FailWith(errno, Step::Sync);
    } else if (waiting_.size() == 1 && ::fsync(waiting_.front()->fd.get()) != 0) {
        outcomes.front() = FailWith(errno, Step::Sync);
    }
    for (const auto& [id, folder] : flushFirst_)
        if (std::ranges::find(flushed, id.first) == flushed.end())
            ::fsync(folder.get());

    // Each takes its name, in order; then each folder is flushed once, to
    // make the renames themselves durable: by itself where it is the only
    // one of its file system, else with the whole file system at once.
    std::vector<std::pair<dev_t, ino_t>> folders;
    std::vector<int> toFlush;
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
        if (!outcomes[i])
            continue;
        outcomes[i] = TakeName(*waiting_[i]);
        struct stat st {};
        if (outcomes[i] && ::fstat(waiting_[i]->folder, &st) == 0 &&
            std::ranges::find(folders, std::pair(st.st_dev, st.st_ino)) == folders.end()) {
            folders.emplace_back(st.st_dev, st.st_ino);
            toFlush.push_back(waiting_[i]->folder);
        }
    }
    std::vector<dev_t> synced;
    for (std::size_t i = 0; i < toFlush.size(); ++i) {
        const dev_t device = folders[i].first;
        if (std::ranges::find(synced, device) != synced.end())
            continue;
        const bool others = std::ranges::count(folders, device, &std::pair<dev_t, ino_t>::first) > 1;
        if (others && ::syncfs(toFlush[i]) == 0) {
            synced.push_back(device);
            continue;
        }
        for (std::size_t j = i; j < toFlush.size(); ++j)
            if (folders[j].first == device)
                ::fsync(toFlush[j]);
        synced.push_back(device);
    }

    std::vector<UniqueFd> replaced;
    for (const auto& waiting : waiting_) {
        if (!waiting->temporary.empty()) {
            ::unlinkat(waiting->folder, waiting->temporary.c_str(), 0);
            temporaries_.Release(waiting->folder, waiting->temporary);
        }
        if (waiting->replaced.get() >= 0)
            replaced.push_back(std::move(waiting->replaced));
    }
    LetGo(std::move(replaced));
    waiting_.clear();
    flushFirst_.clear();
    bytes_ = 0;
    return outcomes;
}

WriteOutcome ReplacementGroup::TakeName(Waiting& waiting) {
    // Something else may have taken the name since it was looked at. What
    // has it is held open, so that the file it leaves goes only when the
    // group lets it go (see Commit).
    struct stat now {};
    waiting.replaced = UniqueFd(
        ::openat(waiting.folder, waiting.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    const bool present = waiting.replaced.get() >= 0 && ::fstat(waiting.replaced.get(), &now) == 0;
    if (waiting.beforeRename)
        if (auto agreed = waiting.beforeRename(present ? &now : nullptr); !agreed)
            return agreed;
    if (present && !S_ISREG(now.st_mode))
        return NotRegular(now.st_mode, false, {});
    if (waiting.unnamed) {
        // A name beside the target first: the file takes the target's name
        // by a rename, whether or not something has it, as watchers of the
        // folder expect of a file put in place.
        while (waiting.temporary.empty()) {
            const std::string candidate = temporaries_.Reserve(waiting.folder, waiting.name);
            if (candidate.empty())
                return Fail({Reason::TooManyWrites, Step::Create});
            if (LinkUnnamed(waiting.fd.get(), waiting.folder, candidate) == 0) {
                waiting.temporary = candidate;
            } else if (errno != EEXIST) {
                const int error = errno;
                temporaries_.Release(waiting.folder, candidate);
                return FailWith(error, Step::Create);
            }
        }
    }
    if (::renameat(waiting.folder, waiting.temporary.c_str(), waiting.folder,
                   waiting.name.c_str()) != 0)
        return FailWith(errno, Step::Rename);
    temporaries_.Release(waiting.folder, waiting.temporary);
    waiting.temporary.clear();
    return {};
}

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
    TemporaryFiles temporaries;
    auto replaced = ReplaceFileInFolder(folder.get(), name, fill, options, temporaries);
    if (!replaced && replaced.error().path.empty())
        replaced.error().path = path;
    return replaced;
}

WriteOutcome ReplaceFileInFolder(int folder, const std::string& name, const FileFiller& fill,
                                 const AtomicWriteOptions& options) {
    TemporaryFiles temporaries;
    return ReplaceFileInFolder(folder, name, fill, options, temporaries);
}

WriteOutcome ReplaceFileInFolder(int folder, const std::string& name, const FileFiller& fill,
                                 const AtomicWriteOptions& options, TemporaryFiles& temporaries) {
    ReplacementGroup group(temporaries);
    if (auto added = group.Add(folder, name, fill, options); !added)
        return added;
    return group.Commit().front();
}

WriteOutcome WriteFileAtomically(const std::string& path, std::string_view contents,
                                 bool createFolders) {
    AtomicWriteOptions options;
    options.createFolders = createFolders;
    return ReplaceFileAtomically(
        path, [contents](int fd) { return WriteAllTo(fd, contents); }, options);
}

} // namespace sorvane
