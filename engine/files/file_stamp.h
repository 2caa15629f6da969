#pragma once
// What a file was when it was looked at: enough to tell whether the file at
// a name is still the same one, unchanged.

#include <cstdint>

struct stat;
struct statx;

namespace sorvane {

/// What a file was when a scan read it: the copy acts only on the file the
/// scan saw, so a file swapped, grown or touched since is not copied over
/// and a target that appeared since is not replaced unseen.
struct FileStamp {
    enum class State : std::uint8_t {
        Unknown, ///< not taken (a Source Map row): nothing to hold a copy to
        Missing, ///< no regular file had the name
        Present,
    };
    State state = State::Unknown;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; ///< modification time, nanoseconds since the epoch

    static FileStamp Missing() { return {State::Missing}; }
    bool operator==(const FileStamp&) const = default;
};

/// The stamp of the file `st` describes.
FileStamp StampOf(const struct stat& st);
/// The same from statx(2); equal to StampOf of fstat(2) of the same file.
FileStamp StampOf(const struct statx& sx);

} // namespace sorvane
