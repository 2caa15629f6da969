#include "engine/archive/member_bytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace sorvane {

// Why libarchive gave up: the system's error where it has one, else the
// archive's format, with libarchive's words.
Failure ArchiveFailure(archive* a, Reason otherwise, const std::string& path) {
    const int error = Libarchive().archive_errno(a);
    // libarchive tells a damaged archive by EILSEQ and a misuse by EINVAL
    // (its own codes for them on this system), anything else by -1.
    Failure failure = error > 0 && error != EILSEQ && error != EINVAL
                          ? Failure::System(error, Step::Read, path)
                          : Failure(otherwise, Step::Read, path);
    if (const char* words = Libarchive().archive_error_string(a))
        failure.detail = words;
    return failure;
}

// An unnamed file in the temporary folder, gone once closed.
int OpenSpillFile(const std::string& chosen) {
    std::string folder = chosen;
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = folder + "/sorvane-member-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

namespace {

// Calls `call` (pread or pwrite) until all `length` bytes at `offset` are done.
template <typename Byte, typename Call>
bool AllAt(Call call, int fd, Byte* data, std::size_t length, std::uint64_t offset) {
    while (length > 0) {
        const ssize_t n = call(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

} // namespace

bool WriteAll(int fd, const std::byte* data, std::size_t length, std::uint64_t offset) {
    return AllAt(::pwrite, fd, data, length, offset);
}

bool ReadAll(int fd, std::byte* data, std::size_t length, std::uint64_t offset) {
    return AllAt(::pread, fd, data, length, offset);
}

} // namespace sorvane
