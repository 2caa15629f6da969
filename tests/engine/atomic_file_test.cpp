#include "engine/atomic_file.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace sorvane {
namespace {

TEST(WriteFileAtomically, ReplacesFilesAndFollowsLinks) {
    test::TempDir dir;
    const std::string real = dir.write("real.dat", "old");
    const std::string link = dir.file("link.dat");
    std::filesystem::create_symlink("real.dat", link);
    ASSERT_TRUE(WriteFileAtomically(link, "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(link)); // the link survives
    EXPECT_EQ(dir.read("real.dat"), "new");

    EXPECT_TRUE(WriteFileAtomically(dir.file("deep/er/file"), "x", true));
    EXPECT_EQ(dir.read("deep/er/file"), "x");
    EXPECT_FALSE(WriteFileAtomically(dir.file("none/file"), "x", false));
    EXPECT_FALSE(WriteFileAtomically(dir.file("deep"), "x")); // a folder is never replaced
    EXPECT_FALSE(WriteFileAtomically("", "x"));
}

TEST(WriteFileAtomically, AFailedWriteLeavesTheOldFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into read-only folders";
    test::TempDir dir;
    dir.write("ro/file", "old");
    std::filesystem::permissions(dir.file("ro"), std::filesystem::perms(0555));
    EXPECT_FALSE(WriteFileAtomically(dir.file("ro/file"), "new"));
    EXPECT_EQ(dir.read("ro/file"), "old");
}

TEST(ReadSmallFile, ReadsOnlyRegularFilesWithinTheCap) {
    test::TempDir dir;
    const std::string file = dir.write("f", "12345");
    EXPECT_EQ(ReadSmallFile(file, 5), "12345");
    EXPECT_EQ(ReadSmallFile(file, 4), std::nullopt);
    EXPECT_EQ(ReadSmallFile(dir.path().string(), 100), std::nullopt);
    EXPECT_EQ(ReadSmallFile(dir.file("missing"), 100), std::nullopt);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadSmallFile(fifo, 100), std::nullopt);
}

} // namespace
} // namespace sorvane
