#include "engine/files/folder_beneath.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sorvane {
namespace {

std::string Joined(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path.append(name);
}

// The child folder `name` of `folder`, not through a link; -1 with errno set.
int OpenChild(int folder, const char* name) {
    int fd = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) // a folder we may write to but not list
        fd = ::openat(folder, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd;
}

// The whole way in one call, where the kernel can resolve a path beneath a
// folder without links (Linux 5.6 and later). -1 when it cannot, or when
// the way needs a look name by name (something missing, a link, no right to
// read a folder): the walk below then finds out which.
int OpenAllAtOnce(int root, std::span<const std::string_view> parts) {
#ifdef SYS_openat2
    std::string path;
    for (const auto part : parts)
        path.append(path.empty() ? "" : "/").append(part);
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        const long fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
        if (fd >= 0)
            return static_cast<int>(fd);
        if (errno != EAGAIN && errno != EINTR) // EAGAIN: a rename raced the lookup
            return -1;
    }
#else
    (void)root;
    (void)parts;
    return -1;
#endif
}

} // namespace

Result<UniqueFd> OpenFolderBeneath(int root, std::string_view rootPath,
                                   std::span<const std::string_view> parts, bool create) {
    for (const auto part : parts)
        if (part.empty() || part == "." || part == ".." || part.find('/') != std::string_view::npos)
            return Fail(Failure::System(EINVAL, Step::OpenFolder, Joined(rootPath, part)));
    if (parts.empty()) {
        UniqueFd copy(::fcntl(root, F_DUPFD_CLOEXEC, 0));
        if (copy.get() < 0)
            return Fail(Failure::System(errno, Step::OpenFolder, std::string(rootPath)));
        return copy;
    }
    if (UniqueFd whole(OpenAllAtOnce(root, parts)); whole.get() >= 0)
        return whole;

    std::string path(rootPath);
    UniqueFd current;
    int at = root;
    for (const auto part : parts) {
        path = Joined(path, part);
        const std::string name(part);
        int fd = OpenChild(at, name.c_str());
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST)
                return Fail(Failure::System(errno, Step::MakeFolder, path));
            fd = OpenChild(at, name.c_str());
        }
        if (fd < 0) {
            const int error = errno;
            struct stat st {};
            const bool there = ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (there && S_ISLNK(st.st_mode))
                return Fail({Reason::SymbolicLink, Step::OpenFolder, path});
            if (there && !S_ISDIR(st.st_mode))
                return Fail({Reason::NameTaken, Step::MakeFolder, path});
            if (!there && (error == ENOENT || error == ENOTDIR))
                return Fail({Reason::FolderMissing, Step::OpenFolder, path});
            return Fail(Failure::System(error, Step::OpenFolder, path));
        }
        current = UniqueFd(fd);
        at = fd;
    }
    return current;
}

UniqueFd OpenNamedFolder(const std::string& path) {
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 && errno == EACCES)
        folder = UniqueFd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return folder;
}

} // namespace sorvane
