#include "file_copy.h"

#include "unique_fd.h"

#include "path_utils.h"
#include "text_utils.h"

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <pwd.h>
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

std::unexpected<std::string> Fail(std::string text) {
    return std::unexpected(std::move(text));
}

std::string ErrorText(int error) {
    return std::system_category().message(error);
}

std::string KindOf(mode_t mode) {
    return S_ISDIR(mode)    ? "a folder"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISCHR(mode)  ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
           : S_ISSOCK(mode) ? "a socket"
                            : "not a regular file";
}

// Some file systems (procfs, sysfs, some FUSE and network ones) answer
// copy_file_range with an error, or with 0 bytes for a file that has more;
// the plain loop then goes on from where the file offsets stand.
bool RangeCopyUnsupported(int error) {
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP ||
           error == EBADF || error == ETXTBSY || error == EPERM;
}

WriteOutcome WriteAll(int fd, const char* data, std::size_t size, const ByteCopyCalls& calls) {
    while (size > 0) {
        const ssize_t n = calls.write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(ErrorText(n < 0 ? errno : EIO));
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

// Copies up to `size` bytes from the current offset of `from`; the number of
// bytes copied, fewer when the file ends sooner. A file that keeps growing
// (a log being written) is not followed past the size it had.
std::expected<std::int64_t, std::string> CopyBytes(int from, int to, std::int64_t size,
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
        if (n < 0 && !RangeCopyUnsupported(errno))
            return std::unexpected(ErrorText(errno));
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
            return std::unexpected("the source file could not be read: " + ErrorText(errno));
        if (n == 0)
            break;
        if (auto written = WriteAll(to, buffer.get(), static_cast<std::size_t>(n), calls);
            !written)
            return std::unexpected(written.error());
        copied += n;
    }
    return copied;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
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

} // namespace

WriteOutcome CreateFolderPath(std::string_view folder) {
    if (folder.empty())
        return Fail("no folder name");
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
            return Fail("cannot make the folder " + path + ": a file has that name");
        }
        if (errno != ENOENT || (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) ||
            ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return Fail("cannot make the folder " + path + ": " + ErrorText(errno));
    }
    return {};
}

WriteOutcome CopyFileReplacing(const std::string& from, const std::string& to,
                               const ByteCopyCalls& calls) {
    // O_NONBLOCK: a FIFO put in the source's place must not hang the copy.
    UniqueFd source(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (source.get() < 0)
        return Fail(ErrorText(errno));
    struct stat before {};
    if (::fstat(source.get(), &before) != 0)
        return Fail(ErrorText(errno));
    if (!S_ISREG(before.st_mode))
        return Fail(KindOf(before.st_mode) + " has that name; only regular files are copied");

    const fs::path folder = fs::path(to).parent_path();
    if (!folder.empty() && !FolderExists(folder.native()))
        if (auto made = CreateFolderPath(folder.native()); !made)
            return made;

    AtomicWriteOptions options;
    options.permissions = before.st_mode & 0777;
    options.modified = before.st_mtim;
    return ReplaceFileAtomically(
        to,
        [&](int fd) -> WriteOutcome {
            const auto copied = CopyBytes(source.get(), fd, before.st_size, calls);
            if (!copied)
                return Fail(copied.error());
            // A copy of a file that was being written is neither the old
            // file nor the new one.
            struct stat after {};
            if (::fstat(source.get(), &after) != 0)
                return Fail(ErrorText(errno));
            if (*copied != before.st_size || after.st_size != before.st_size ||
                !SameTime(after.st_mtim, before.st_mtim))
                return Fail("the source file changed while it was copied");
            return {};
        },
        options);
}

std::string BackupPath(std::string_view targetFolder, std::string_view relativeName) {
    std::string path(targetFolder);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path.append(kBackupFolderName).append("/").append(relativeName);
    return path;
}

RowCopyResult CopyRowFiles(std::string_view sourceFolder, std::string_view targetFolder,
                           std::string_view relativeName, bool backup,
                           const ByteCopyCalls& calls) {
    const auto joined = [](std::string_view folder, std::string_view name) {
        std::string path(folder);
        if (!path.empty() && path.back() != '/')
            path += '/';
        return path.append(name);
    };
    const std::string source = joined(sourceFolder, relativeName);
    const std::string target = joined(targetFolder, relativeName);
    RowCopyResult result;
    const auto failed = [&](RowCopyStatus status, std::string path, std::string reason) {
        result.status = status;
        result.failedPath = std::move(path);
        result.reason = std::move(reason);
        return result;
    };
    if (!InsideParts(relativeName))
        return failed(RowCopyStatus::CopyFailed, source,
                      "the name does not lead to a file inside the folder");
    if (!FolderExists(targetFolder))
        return failed(RowCopyStatus::CopyFailed, source,
                      "the target folder " + std::string(targetFolder) + " is not there");
    if (backup) {
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0) {
            if (auto saved = CopyFileReplacing(target, BackupPath(targetFolder, relativeName), calls);
                !saved)
                return failed(RowCopyStatus::BackupFailed, target, saved.error());
            result.backedUp = true;
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return failed(RowCopyStatus::BackupFailed, target, ErrorText(errno));
        }
    }
    if (auto copied = CopyFileReplacing(source, target, calls); !copied)
        return failed(RowCopyStatus::CopyFailed, source, copied.error());
    return result;
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
