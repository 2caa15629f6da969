#pragma once
// Opening files and folders for a scan: paths of any length, and the reason
// when a file is there but cannot be read.

#include "engine/formats/byte_source.h"
#include "engine/files/content_hash.h"
#include "engine/files/file_stamp.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace sorvane {

/// open(2) of `path` with `flags` (O_CLOEXEC is added). A path longer than
/// one call takes (PATH_MAX) is resolved a stretch at a time, each stretch
/// relative to the folder the one before it reached, so files deep in a tree
/// stay reachable; that needs one descriptor more while it runs. Gives the
/// descriptor, or -1 with errno set.
int OpenLongPath(const std::string& path, int flags);

/// The same with a relative `path` taken from the folder open as `folder`
/// (AT_FDCWD for the working folder); `folder` stays open.
int OpenLongPathAt(int folder, const std::string& path, int flags);

/// Gives the calling thread a table of descriptors of its own that holds
/// only standard input, output and error and `keep` (negative numbers are
/// skipped). A thread that opens and closes thousands of files then shares no
/// lock and no counts with the program's other threads: the kernel takes a
/// faster path for a table with one user. Its copies of the other
/// descriptors are dropped at once, so nothing the rest of the program closes
/// stays open through it. False, with nothing changed, when the system
/// refuses (a sandbox may forbid unshare(2)).
/// At most kMostKeptDescriptors of `keep` are kept.
inline constexpr std::size_t kMostKeptDescriptors = 4;
bool KeepOnlyDescriptors(std::initializer_list<int> keep) noexcept;

/// True for the errors that mean the path names nothing (ENOENT, ENOTDIR),
/// as against a file that is there but cannot be read.
bool IsMissingPathError(int error);

/// Whether the file systems that files are open on are mounted read-only,
/// asked once a device: a scan asks it of every target file it lists.
/// Shared by the threads of one scan.
class ReadOnlyMounts {
public:
    /// True when the file system of `device`, on which `fd` is open, is
    /// mounted read-only (or cannot be asked).
    bool ReadOnly(int fd, std::uint64_t device) const;

private:
    mutable std::mutex mutex_;
    mutable std::vector<std::pair<std::uint64_t, bool>> seen_;
};

/// A regular file read through its descriptor, which remembers why a read
/// failed. Small reads are served from a few cached windows of the file: a
/// parser asks for a header, a directory entry, a name, each a few bytes
/// apart, and one system call per window is far cheaper than one per field.
class OpenedFile final : public ByteSource {
public:
    /// Opens `path` for reading. Nothing, with `error` clear, when the path
    /// names nothing or something that is not a regular file (folders, FIFOs,
    /// devices and sockets are never read, so they cannot block); nothing,
    /// with `error` set, when the file is there but cannot be opened.
    static std::unique_ptr<OpenedFile> Open(const std::string& path, std::error_code& error);
    /// The same for a `path` relative to the folder open as `folder`: a scan
    /// opens tens of thousands of files below one folder, and the kernel need
    /// not look up that folder's own path again for each.
    static std::unique_ptr<OpenedFile> OpenAt(int folder, const std::string& path,
                                              std::error_code& error);
    /// The same, for a caller that needs no reason.
    static std::unique_ptr<OpenedFile> Open(const std::string& path) {
        std::error_code ignored;
        return Open(path, ignored);
    }
    ~OpenedFile() override;
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    std::uint64_t size() const override { return size_; }

    /// The file as it was when it was opened.
    const FileStamp& Stamp() const { return stamp_; }

    /// The first error a read met. A file that shrank while it was read gives
    /// short reads, not an error.
    std::error_code ReadError() const { return readError_; }

    /// The hash of the whole file, read once from its start.
    Result<ContentHash> HashContents() const { return HashDescriptor(fd_); }

    /// Whether the program may write the file, asked of the descriptor with
    /// the rights the program runs with (as faccessat with AT_EACCESS on its
    /// path would answer). Nothing when this system cannot ask a descriptor.
    /// With `mounts`, a file of the program's own user with its owner's write
    /// bit, on a file system mounted for writing and known to be neither
    /// immutable nor append-only, is writable without asking the kernel: for
    /// the owner the owner's bits decide (an access list does not narrow
    /// them).
    std::optional<bool> Writable(const ReadOnlyMounts* mounts = nullptr) const;

protected:
    bool ReadInto(std::uint64_t offset, std::span<std::byte> out) const override;

private:
    OpenedFile(int fd, const FileStamp& stamp, bool ownWritable)
        : fd_(fd), size_(static_cast<std::uint64_t>(stamp.size)), stamp_(stamp),
          ownWritable_(ownWritable) {}
    /// pread(2) until `out` is full or the file ends; the bytes read, or
    /// nothing after an error (kept in readError_).
    std::optional<std::size_t> ReadFully(std::uint64_t offset, std::span<std::byte> out) const;

    struct Window {
        std::uint64_t offset = 0;
        std::size_t length = 0;
        std::unique_ptr<std::byte[]> data;
    };
    int fd_;
    std::uint64_t size_;
    FileStamp stamp_;
    /// The program's user owns the file, its owner may write it, and it is
    /// known to be neither immutable nor append-only.
    bool ownWritable_;
    mutable std::error_code readError_;
    mutable std::array<Window, 4> windows_;
    mutable std::size_t nextWindow_ = 0;
};

} // namespace sorvane
