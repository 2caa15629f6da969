#include "engine/files/opened_file.h"
#include "engine/scan/comparison.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <filesystem>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane {
namespace {

struct VersionCase {
    const char* source;
    const char* target;
    int expected;
};

TEST(CompareVersions, ComparesPartsAsNumbers) {
    const VersionCase cases[] = {
        {"1.0", "1", 1}, // more parts, even zeros, is newer
        {"1", "1.0", -1},
        {"2.9", "2.10", -1},
        {"2.10", "2.9", 1},
        {"5.00.2134.01", "5.0.2134.1", 0},
        {"1..5", "1", 0}, // splitting stops at the empty part
        {"1.2.", "1.2", 0},
        {"1.2b", "1.2", 0}, // text after the leading number is ignored
        {"1.12b", "1.12", 0},
        {"1.beta", "1.0", 0}, // a part without a number is 0
        {"1. 7", "1.7", 0},   // blanks inside a part are skipped
        {"", "", 0},
        {"1.0", "", 1},
        {"", "1.0", -1},
        {"0", "", 1}, // a present version beats a missing one
        {"10.0.19041.1", "10.0.19041.1000", -1},
        {"4294967295.1", "4294967294.9", 1},
        {"&H10", "15", 1}, // hexadecimal parts
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareVersions(c.source, c.target), c.expected)
            << c.source << " vs " << c.target;
}

TEST(CompareVersions, TextsWithoutPartsCountAsNoVersion) {
    EXPECT_EQ(CompareVersions(".", ""), 0);
    EXPECT_EQ(CompareVersions("...", "."), 0);
    EXPECT_EQ(CompareVersions(".5", "1"), -1);
    EXPECT_EQ(CompareVersions("1", ".5"), 1);
    EXPECT_EQ(CompareVersions("0", "."), 1);
}

TEST(CompareVersions, StrictTestFindsIncomparableParts) {
    EXPECT_EQ(CompareVersions("1.10", "1.9", true), kVersionsIncomparable);
    EXPECT_EQ(CompareVersions("1.10", "1.9", false), 1);
    // Equal lengths, or a zero part on either side, compare as usual.
    EXPECT_EQ(CompareVersions("1.10", "1.11", true), -1);
    EXPECT_EQ(CompareVersions("5.00", "5.0", true), 0);
    EXPECT_EQ(CompareVersions("1.0", "1.10", true), -1);
    // The test runs before each part's comparison, so an earlier difference decides.
    EXPECT_EQ(CompareVersions("2.10", "1.9", true), 1);
}

FileSide Side(const char* version, const char* language, std::int64_t size = 100) {
    return FileSide{"", version, language, size};
}

TEST(DecideMark, FollowsThePrecedenceOfRules) {
    // No target version wins over everything, even unequal languages.
    EXPECT_EQ(DecideMark(Side("3.1", "German"), Side("", "English")), ComparisonMark::Orphan);
    // Unequal languages win over a newer version.
    EXPECT_EQ(DecideMark(Side("2.0", "German"), Side("1.0", "English")),
              ComparisonMark::UnequalLanguage);
    EXPECT_EQ(DecideMark(Side("1.0", "English (United States)"), Side("1.0", "")),
              ComparisonMark::UnequalLanguage);
    // Language names compare without regard to case.
    EXPECT_EQ(
        DecideMark(Side("1.0", "English (United States)"), Side("1.0", "english (united states)")),
        ComparisonMark::Equal);
    // An empty source language never makes a pair unequal.
    EXPECT_EQ(DecideMark(Side("2.0", ""), Side("1.0", "Greek")), ComparisonMark::NewerSource);
    EXPECT_EQ(DecideMark(Side("1.0", "Greek"), Side("1", "Greek")), ComparisonMark::NewerSource);
    EXPECT_EQ(DecideMark(Side("1", "Greek"), Side("1.0", "Greek")), ComparisonMark::NewerTarget);
    EXPECT_EQ(DecideMark(Side("1.0", "Greek", 1024), Side("1.0", "Greek", 1025)),
              ComparisonMark::DifferentSize);
    EXPECT_EQ(DecideMark(Side("1.10", "", 5), Side("1.9", "", 5), true),
              ComparisonMark::Incomparable);
}

TEST(DecideMark, LargeFileSizesNeitherWrapNorCollide) {
    constexpr std::int64_t fourGiB = 4LL << 30;
    // These sizes are equal in their low 32 bits.
    EXPECT_EQ(DecideMark(Side("1.0", "", fourGiB + 7), Side("1.0", "", 7)),
              ComparisonMark::DifferentSize);
    EXPECT_EQ(DecideMark(Side("1.0", "", fourGiB + 7), Side("1.0", "", fourGiB + 7)),
              ComparisonMark::Equal);
}

TEST(ComparisonMark, TextsCategoriesAndCounters) {
    const ComparisonMark all[] = {ComparisonMark::Orphan,        ComparisonMark::UnequalLanguage,
                                  ComparisonMark::NewerSource,   ComparisonMark::NewerTarget,
                                  ComparisonMark::DifferentSize, ComparisonMark::Equal,
                                  ComparisonMark::Copied,        ComparisonMark::Incomparable};
    for (const auto mark : all) {
        ASSERT_EQ(MarkText(mark).size(), 1u);
        EXPECT_EQ(MarkFromText(MarkText(mark)), mark);
    }
    EXPECT_EQ(MarkText(ComparisonMark::None), "");
    EXPECT_EQ(MarkFromText("x"), ComparisonMark::None);
    EXPECT_EQ(MarkFromText(">>"), ComparisonMark::None);

    CategoryCounters counters;
    const ComparisonMark marks[] = {ComparisonMark::NewerSource,   ComparisonMark::NewerSource,
                                    ComparisonMark::NewerTarget,   ComparisonMark::UnequalLanguage,
                                    ComparisonMark::DifferentSize, ComparisonMark::Incomparable,
                                    ComparisonMark::Orphan,        ComparisonMark::Equal,
                                    ComparisonMark::Copied,        ComparisonMark::None};
    for (const auto mark : marks)
        counters.Count(mark);
    EXPECT_EQ(counters.counts, (std::array<std::int32_t, 6>{2, 1, 1, 1, 1, 1}));
    counters.Reset();
    EXPECT_EQ(counters, CategoryCounters{});
}

TEST(IsBusy, AsksWithoutOpeningTheFile) {
    test::TempDir dir;
    const std::string writable = dir.write("free.dll", "MZ");
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string readOnly = dir.write("ro.dll", "MZ");
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    // A watcher on the folder must see no open and no write.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_MODIFY),
              0);

    EXPECT_FALSE(IsBusy(writable));
    EXPECT_FALSE(IsBusy(fifo)); // must not block, and a FIFO is never opened
    EXPECT_TRUE(IsBusy(dir.file("missing.dll")));
    if (::geteuid() != 0) { // root may write to read-only files
        EXPECT_TRUE(IsBusy(readOnly));
    }

    alignas(inotify_event) char events[4096];
    EXPECT_EQ(::read(watch, events, sizeof events), -1) << "IsBusy opened a file";
    ::close(watch);
    EXPECT_EQ(dir.read("free.dll"), "MZ");
}

// Sets or clears inode flags (immutable, append-only); false where the file
// system or the user may not.
bool SetInodeFlags(const std::string& path, int flags, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int now = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &now) == 0;
    now = on ? now | flags : now & ~flags;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &now) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

// A mount point of a file system mounted read-only, if this system has one.
std::string ReadOnlyMountPoint() {
    std::ifstream mounts("/proc/self/mounts");
    std::string device, point, type, options, rest;
    while (mounts >> device >> point >> type >> options && std::getline(mounts, rest))
        if (options.starts_with("ro,") || options == "ro")
            return point;
    return {};
}

TEST(OpenedFile, WritableWithoutAskingAnswersAsTheKernelDoes) {
    test::TempDir dir;
    struct Case {
        std::string name;
        std::string path;
        bool ready = true; // the case could be made here
    };
    std::vector<Case> cases;
    const auto add = [&](const std::string& name, mode_t mode) {
        const std::string path = dir.write(name, "MZ");
        std::filesystem::permissions(path, static_cast<std::filesystem::perms>(mode));
        cases.push_back({name, path});
        return path;
    };
    add("own-rw.dll", 0644);
    add("own-ro.dll", 0444);
    add("owner-cannot-group-can.dll", 0464);
    const std::string immutable = add("immutable.dll", 0644);
    const std::string appendOnly = add("append.dll", 0644);
    // The flags go before the folder does, whatever ends the test.
    struct ClearFlags {
        std::string immutable, appendOnly;
        ~ClearFlags() {
            SetInodeFlags(immutable, FS_IMMUTABLE_FL, false);
            SetInodeFlags(appendOnly, FS_APPEND_FL, false);
        }
    } clearFlags{immutable, appendOnly};
    cases[cases.size() - 2].ready = SetInodeFlags(immutable, FS_IMMUTABLE_FL, true);
    cases.back().ready = SetInodeFlags(appendOnly, FS_APPEND_FL, true);
    const std::string others = add("others.dll", 0666);
    cases.back().ready = ::chown(others.c_str(), 65534, 65534) == 0;
    if (const std::string point = ReadOnlyMountPoint(); !point.empty())
        cases.push_back({"on a read-only mount", point + "/."});

    ReadOnlyMounts mounts;
    for (const Case& c : cases) {
        if (!c.ready)
            continue;
        SCOPED_TRACE(c.name);
        std::error_code error;
        // A folder gives no OpenedFile; a read-only mount's root is asked
        // through any regular file below it, if one can be found.
        std::string path = c.path;
        if (std::filesystem::is_directory(path)) {
            path.clear();
            std::error_code walk;
            for (auto it = std::filesystem::recursive_directory_iterator(
                     c.path, std::filesystem::directory_options::skip_permission_denied, walk);
                 it != std::filesystem::recursive_directory_iterator(); it.increment(walk)) {
                if (walk)
                    break;
                if (it->is_regular_file(walk) && ::access(it->path().c_str(), R_OK) == 0) {
                    path = it->path();
                    break;
                }
            }
            if (path.empty())
                continue;
        }
        const auto file = OpenedFile::Open(path, error);
        ASSERT_TRUE(file) << error.message();
        const bool kernel = ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
        EXPECT_EQ(file->Writable(&mounts), kernel);
        EXPECT_EQ(file->Writable(), kernel);
    }
}

} // namespace
} // namespace sorvane
