#include "atomic_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace sorvane {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Where the bytes really go: the final target of a chain of links.
std::string ResolveLinks(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p(path);
    for (int depth = 0; depth < 40 && std::filesystem::is_symlink(p, ec); ++depth) {
        const auto target = std::filesystem::read_symlink(p, ec);
        if (ec)
            break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p.string();
}

unsigned long NextTempCounter() {
    static std::atomic<unsigned long> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes) {
    // O_NONBLOCK so that opening a FIFO cannot hang; non-regular files are refused below.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::size_t>(st.st_size) > maxBytes)
        return std::nullopt;
    std::string data;
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break; // the file shrank while we read it
        got += static_cast<std::size_t>(n);
    }
    // A file that grew while we read it is cut at the size seen at the start.
    data.resize(got);
    return data;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents, bool createFolders) {
    if (path.empty())
        return false;
    const std::filesystem::path target(ResolveLinks(path));
    std::error_code ec;
    if (std::filesystem::is_directory(target, ec))
        return false;
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    if (createFolders)
        std::filesystem::create_directories(folder, ec);

    // Created with 0666 so that the umask applies as for any new file; an
    // existing file's own permission bits are copied below.
    std::string temp;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        std::string name = ".";
        name.append(target.filename().string())
            .append(".")
            .append(std::to_string(::getpid()))
            .append(".")
            .append(std::to_string(NextTempCounter()))
            .append(".tmp");
        temp = (folder / name).string();
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST)
            return false;
    }
    FileDescriptor fd(raw);
    if (fd.get() < 0)
        return false;

    struct stat old {};
    const bool keepMode = ::stat(target.c_str(), &old) == 0;
    const bool written = WriteAll(fd.get(), contents) &&
                         (!keepMode || ::fchmod(fd.get(), old.st_mode & 07777) == 0) &&
                         ::fsync(fd.get()) == 0;
    const bool closed = ::close(fd.release()) == 0;
    if (!written || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

} // namespace sorvane
