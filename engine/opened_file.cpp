#include "opened_file.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane {

int OpenLongPath(const std::string& path, int flags) {
    flags |= O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags);
    if (fd >= 0 || errno != ENAMETOOLONG || path.size() < PATH_MAX)
        return fd;
    int folder = AT_FDCWD;
    const auto closeFolder = [&folder] {
        if (folder == AT_FDCWD)
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

bool IsMissingPathError(int error) {
    return error == ENOENT || error == ENOTDIR;
}

std::unique_ptr<OpenedFile> OpenedFile::Open(const std::string& path, std::error_code& error) {
    error.clear();
    if (path.empty())
        return nullptr;
    // O_NONBLOCK: a FIFO swapped in after any check still cannot block the open.
    const int fd = OpenLongPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        // Sockets and devices without a driver refuse the open itself; like
        // every other thing that is not a regular file they hold no data.
        if (!IsMissingPathError(code) && code != ENXIO && code != ENODEV)
            error = std::error_code(code, std::generic_category());
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::error_code(errno, std::generic_category());
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return nullptr;
    }
    try {
        return std::unique_ptr<OpenedFile>(
            new OpenedFile(fd, static_cast<std::uint64_t>(st.st_size)));
    } catch (...) {
        ::close(fd);
        throw;
    }
}

OpenedFile::~OpenedFile() {
    ::close(fd_);
}

bool OpenedFile::ReadInto(std::uint64_t offset, std::span<std::byte> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (!readError_)
                readError_ = std::error_code(errno, std::generic_category());
            return false;
        }
        if (n == 0)
            return false; // the file shrank under us
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace sorvane
