// The hash of a file's contents, against xxhsum's.

#include "engine/files/content_hash.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sorvane {
namespace {

// What `xxhsum -H2` prints for the file: its 128-bit XXH3 in hex.
std::string Xxhsum(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(
        ::popen(("xxhsum -H2 '" + path + "' 2>/dev/null").c_str(), "r"), ::pclose);
    char line[256] = {};
    if (!pipe || std::fgets(line, sizeof(line), pipe.get()) == nullptr)
        return {};
    const std::string text(line);
    return text.substr(0, text.find(' '));
}

TEST(ContentHash, IsXxhsumsHashOfTheWholeFileWhateverItsLength) {
    test::TempDir dir;
    if (Xxhsum(dir.write("probe", "x")).empty())
        GTEST_SKIP() << "no xxhsum (package xxhash)";
    // Empty, short, one read's length and around it, several reads.
    for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{240},
                                     std::size_t{256 * 1024 - 1}, std::size_t{256 * 1024},
                                     std::size_t{256 * 1024 + 1}, std::size_t{1'000'003}}) {
        SCOPED_TRACE(length);
        std::string bytes(length, '\0');
        for (std::size_t i = 0; i < length; ++i)
            bytes[i] = static_cast<char>((i * 131 + length) % 251);
        const std::string path = dir.write("f" + std::to_string(length), bytes);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const auto hash = HashDescriptor(fd);
        ::close(fd);
        ASSERT_TRUE(hash);
        EXPECT_EQ(hash->Hex(), Xxhsum(path));
        EXPECT_EQ(*hash, HashBytes(bytes));
        EXPECT_EQ(ContentHash::FromHex(hash->Hex()), hash);
    }
    // A descriptor that cannot be read says why.
    const auto bad = HashDescriptor(-1);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().code, std::errc::bad_file_descriptor);
}

TEST(ContentHash, ReadsBackOnlyThirtyTwoHexDigits) {
    const ContentHash hash{0x0123456789abcdefULL, 0xfedcba9876543210ULL};
    EXPECT_EQ(hash.Hex(), "0123456789abcdeffedcba9876543210");
    EXPECT_EQ(ContentHash::FromHex("0123456789ABCDEFFEDCBA9876543210"), hash);
    for (const char* text : {"", "0123456789abcdeffedcba987654321", "0123456789abcdeffedcba98765432100",
                             "0123456789abcdeffedcba987654321g", " 123456789abcdeffedcba9876543210"})
        EXPECT_EQ(ContentHash::FromHex(text), std::nullopt) << text;
}

} // namespace
} // namespace sorvane
