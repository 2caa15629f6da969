#include "engine/files/opened_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sched.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace sorvane {
namespace {

// Windows start on a 4 KiB boundary and hold that one block, or the two a
// read that crosses its end needs: the first read of a file brings the
// headers of a PE file or a font, and each later one the block a table lies
// in, without copying more out of the page cache than that.
constexpr std::uint64_t kWindowAlign = 4096;
constexpr std::size_t kWindowBytes = 2 * kWindowAlign;
constexpr std::size_t kLargestCachedRead = kWindowAlign;

// Window buffers are kept for the next file read on the same thread: a scan
// opens tens of thousands of files, and a fresh 8 KiB block for each costs
// more in the allocator than the read itself.
constexpr std::size_t kSpareWindows = 8;
thread_local std::vector<std::unique_ptr<std::byte[]>> spareWindows;

constexpr unsigned kStatxWanted =
    STATX_TYPE | STATX_MODE | STATX_UID | STATX_INO | STATX_SIZE | STATX_MTIME;

// The user whose rights the program writes with.
uid_t ProgramUser() {
    static const uid_t user = ::geteuid();
    return user;
}

std::unique_ptr<std::byte[]> TakeWindowBuffer() {
    if (spareWindows.empty())
        return std::unique_ptr<std::byte[]>(new std::byte[kWindowBytes]); // not zeroed
    auto buffer = std::move(spareWindows.back());
    spareWindows.pop_back();
    return buffer;
}

void GiveBackWindowBuffer(std::unique_ptr<std::byte[]> buffer) {
    if (buffer && spareWindows.size() < kSpareWindows)
        spareWindows.push_back(std::move(buffer));
}

} // namespace

int OpenLongPath(const std::string& path, int flags) {
    return OpenLongPathAt(AT_FDCWD, path, flags);
}

int OpenLongPathAt(int start, const std::string& path, int flags) {
    flags |= O_CLOEXEC;
    const int fd = ::openat(start, path.c_str(), flags);
    if (fd >= 0 || errno != ENAMETOOLONG || path.size() < PATH_MAX)
        return fd;
    int folder = start;
    const auto closeFolder = [&folder, start] {
        if (folder == start)
            return;
        const int saved = errno;
        ::close(folder);
        errno = saved;
    };
    std::string_view rest = path;
    while (rest.size() >= PATH_MAX) {
        // The longest stretch that fits and ends at a "/"; a single name
        // longer than that cannot be opened at all.
        const std::size_t cut = rest.rfind('/', PATH_MAX - 1);
        if (cut == std::string_view::npos) {
            closeFolder();
            errno = ENAMETOOLONG;
            return -1;
        }
        const std::string stretch(rest.substr(0, cut == 0 ? 1 : cut));
        const int next = ::openat(folder, stretch.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        closeFolder();
        if (next < 0)
            return -1;
        folder = next;
        rest.remove_prefix(cut + 1);
        while (!rest.empty() && rest.front() == '/')
            rest.remove_prefix(1);
    }
    const std::string last = rest.empty() ? std::string(".") : std::string(rest);
    const int result = ::openat(folder, last.c_str(), flags);
    closeFolder();
    return result;
}

bool KeepOnlyDescriptors(std::initializer_list<int> keep) noexcept {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer takes a descriptor number for one object all threads
    // share, and would report two private tables using the same number as
    // a race: under it the threads keep sharing the table.
    (void)keep;
    return false;
#endif
    if (::unshare(CLONE_FILES) != 0)
        return false;
    // On the stack: this runs first on a new thread, where a failed
    // allocation could only end the program.
    std::array<unsigned, 3 + kMostKeptDescriptors> kept{0, 1, 2};
    std::size_t count = 3;
    for (const int fd : keep) {
        if (fd <= 2 || count == kept.size())
            continue;
        // Kept in order as they come: a handful at most.
        std::size_t at = count++;
        for (; kept[at - 1] > static_cast<unsigned>(fd); --at)
            kept[at] = kept[at - 1];
        kept[at] = static_cast<unsigned>(fd);
    }
    unsigned from = 0;
    for (const unsigned fd : std::span(kept).first(count)) {
        if (fd > from)
            ::close_range(from, fd - 1, 0);
        from = fd + 1;
    }
    ::close_range(from, ~0U, 0);
    return true;
}

bool IsMissingPathError(int error) {
    return error == ENOENT || error == ENOTDIR;
}

std::unique_ptr<OpenedFile> OpenedFile::Open(const std::string& path, std::error_code& error) {
    return OpenAt(AT_FDCWD, path, error);
}

std::unique_ptr<OpenedFile> OpenedFile::OpenAt(int folder, const std::string& path,
                                               std::error_code& error) {
    error.clear();
    if (path.empty())
        return nullptr;
    // O_NONBLOCK: a FIFO swapped in after any check still cannot block the open.
    const int fd = OpenLongPathAt(folder, path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        // Sockets and devices without a driver refuse the open itself; like
        // every other thing that is not a regular file they hold no data.
        if (!IsMissingPathError(code) && code != ENXIO && code != ENODEV)
            error = std::error_code(code, std::generic_category());
        return nullptr;
    }
    // statx rather than fstat: the same call, and it also tells whether the
    // file is immutable or append-only, which Writable needs.
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, kStatxWanted, &sx) != 0) {
        error = std::error_code(errno, std::generic_category());
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(sx.stx_mode) || static_cast<std::int64_t>(sx.stx_size) < 0) {
        ::close(fd);
        return nullptr;
    }
    constexpr std::uint64_t kNoWrite = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
    const bool ownWritable = sx.stx_uid == ProgramUser() && (sx.stx_mode & S_IWUSR) != 0 &&
                             (sx.stx_attributes_mask & kNoWrite) == kNoWrite &&
                             (sx.stx_attributes & kNoWrite) == 0;
    try {
        return std::unique_ptr<OpenedFile>(new OpenedFile(fd, StampOf(sx), ownWritable));
    } catch (...) {
        ::close(fd);
        throw;
    }
}

OpenedFile::~OpenedFile() {
    ::close(fd_);
    try {
        for (Window& w : windows_)
            GiveBackWindowBuffer(std::move(w.data));
    } catch (const std::bad_alloc&) {
        // The buffer goes back to the system instead.
    }
}

bool ReadOnlyMounts::ReadOnly(int fd, std::uint64_t device) const {
    std::lock_guard lock(mutex_);
    for (const auto& [seenDevice, readOnly] : seen_)
        if (seenDevice == device)
            return readOnly;
    struct statvfs vfs {};
    const bool readOnly = ::fstatvfs(fd, &vfs) != 0 || (vfs.f_flag & ST_RDONLY) != 0;
    seen_.emplace_back(device, readOnly);
    return readOnly;
}

std::optional<bool> OpenedFile::Writable(const ReadOnlyMounts* mounts) const {
    if (mounts != nullptr && ownWritable_ && !mounts->ReadOnly(fd_, stamp_.device))
        return true;
    if (::faccessat(fd_, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0)
        return true;
    // Older kernels and C libraries refuse AT_EMPTY_PATH here.
    if (errno == EINVAL || errno == ENOSYS || errno == ENOENT)
        return std::nullopt;
    return false;
}

std::optional<std::size_t> OpenedFile::ReadFully(std::uint64_t offset,
                                                 std::span<std::byte> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (!readError_)
                readError_ = std::error_code(errno, std::generic_category());
            return std::nullopt;
        }
        if (n == 0)
            break; // the file shrank under us
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool OpenedFile::ReadInto(std::uint64_t offset, std::span<std::byte> out) const {
    if (out.size() > kLargestCachedRead) {
        const auto got = ReadFully(offset, out);
        return got && *got == out.size();
    }
    const auto covers = [&](const Window& w) {
        return w.data && offset >= w.offset && out.size() <= w.length &&
               offset - w.offset <= w.length - out.size();
    };
    const Window* hit = nullptr;
    for (const Window& w : windows_)
        if (covers(w))
            hit = &w;
    if (hit == nullptr) {
        Window& w = windows_[nextWindow_];
        nextWindow_ = (nextWindow_ + 1) % windows_.size();
        if (!w.data)
            w.data = TakeWindowBuffer();
        w.offset = offset - offset % kWindowAlign;
        w.length = 0;
        // A file whose rest fits in a whole window is read to its end at
        // once: a small file's every field then comes from this one read.
        const std::size_t span = offset + out.size() - w.offset <= kWindowAlign &&
                                         size_ - w.offset > kWindowBytes
                                     ? kWindowAlign
                                     : kWindowBytes;
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(span, size_ - w.offset));
        const auto got = ReadFully(w.offset, std::span<std::byte>(w.data.get(), wanted));
        if (!got)
            return false;
        w.length = *got;
        if (!covers(w))
            return false; // the file shrank under us
        hit = &w;
    }
    std::memcpy(out.data(), hit->data.get() + (offset - hit->offset), out.size());
    return true;
}

} // namespace sorvane
