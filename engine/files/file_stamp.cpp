#include "engine/files/file_stamp.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace sorvane {

FileStamp StampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.state = FileStamp::State::Present;
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
    stamp.inode = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<std::int64_t>(st.st_size);
    stamp.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 +
                       st.st_mtim.tv_nsec;
    return stamp;
}

FileStamp StampOf(const struct statx& sx) {
    FileStamp stamp;
    stamp.state = FileStamp::State::Present;
    stamp.device = static_cast<std::uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    stamp.inode = static_cast<std::uint64_t>(sx.stx_ino);
    stamp.size = static_cast<std::int64_t>(sx.stx_size);
    stamp.modifiedNs =
        static_cast<std::int64_t>(sx.stx_mtime.tv_sec) * 1'000'000'000 + sx.stx_mtime.tv_nsec;
    return stamp;
}

} // namespace sorvane
