#include "engine/text/path_utils.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace sorvane {
namespace {

TEST(NormalizeFolderPath, StripsOrAddsOneSeparatorButKeepsTheRoot) {
    EXPECT_EQ(NormalizeFolderPath("/tmp/", false), "/tmp");
    EXPECT_EQ(NormalizeFolderPath("/tmp//", false), "/tmp/"); // only one is removed
    EXPECT_EQ(NormalizeFolderPath("/", false), "/");
    EXPECT_EQ(NormalizeFolderPath("/", true), "/");
    EXPECT_EQ(NormalizeFolderPath("\"/a b/\"", false), "/a b");
    EXPECT_EQ(NormalizeFolderPath("\"/\"", false), "/");
    EXPECT_EQ(NormalizeFolderPath("/tmp", true), "/tmp/");
    EXPECT_EQ(NormalizeFolderPath("/tmp/", true), "/tmp/");
    EXPECT_EQ(NormalizeFolderPath("\"", false), "");
    EXPECT_EQ(NormalizeFolderPath("\"\"", true), "");
    EXPECT_EQ(NormalizeFolderPath("", true), "");
    EXPECT_EQ(NormalizeFolderPath("rel/dir/", false), "rel/dir");
}

TEST(FileAndFolderExists, DecideByTheFolderAttributeAlone) {
    test::TempDir dir;
    const std::string file = dir.write("a/file.dll", "x");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FolderExists(file));
    EXPECT_TRUE(FolderExists(dir.file("a")));
    EXPECT_TRUE(FolderExists(dir.file("a/")));
    EXPECT_FALSE(FileExists(dir.file("a")));
    EXPECT_FALSE(FileExists(dir.file("missing")));
    EXPECT_FALSE(FolderExists(dir.file("missing")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FolderExists(""));
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(FileExists(fifo));      // not a folder
    EXPECT_EQ(CountFileLines(fifo), 0); // and never read
}

TEST(CountFileLines, CountsEveryKindOfLineEnd) {
    test::TempDir dir;
    EXPECT_EQ(CountFileLines(dir.write("empty", "")), 0);
    EXPECT_EQ(CountFileLines(dir.write("one", "no end")), 1);
    EXPECT_EQ(CountFileLines(dir.write("crlf", "a\r\nb\r\n")), 2);
    EXPECT_EQ(CountFileLines(dir.write("lf", "a\nb\nc")), 3);
    EXPECT_EQ(CountFileLines(dir.write("cr", "a\rb\r")), 2);
    EXPECT_EQ(CountFileLines(dir.write("blank", "\r\n\r\n\n")), 3);
    EXPECT_EQ(CountFileLines(dir.file("missing")), 0);
    EXPECT_EQ(CountFileLines(dir.path().string()), 0);
    // A CR LF split across the reader's buffer boundary still counts once.
    std::string big(65535, 'x');
    big += "\r\nlast";
    EXPECT_EQ(CountFileLines(dir.write("big", big)), 2);
}

TEST(ParsePath, LongNames) {
    std::string drive = "?", folder = "?", name = "?", ext = "?";
    EXPECT_EQ(ParsePath("sub/setup.exe", {&drive, &folder, &name, &ext}, kLongNames),
              "sub/setup.exe");
    EXPECT_EQ(drive, "");
    EXPECT_EQ(folder, "sub/");
    EXPECT_EQ(name, "setup.exe");
    EXPECT_EQ(ext, ".exe");

    EXPECT_EQ(ParsePath("/usr/lib/x.tar.gz  ", {&drive, &folder, &name, &ext}, kLongNames),
              "/usr/lib/x.tar.gz  ");
    EXPECT_EQ(drive, "/");
    EXPECT_EQ(folder, "usr/lib/");
    EXPECT_EQ(ext, ".gz"); // trailing blanks removed
    EXPECT_EQ(name, "x.tar.gz  ");

    // One output passed: the result is its value.
    EXPECT_EQ(ParsePath("readme", {.extension = &ext}, kLongNames), "");
    EXPECT_EQ(ext, "");
    EXPECT_EQ(ParsePath("readme", {.name = &name}, kLongNames), "readme");
    EXPECT_EQ(ParsePath("a/b/c.dll", {.folder = &folder}, kLongNames), "a/b/");
    // A trailing separator leaves the last folder as the name.
    EXPECT_EQ(ParsePath("a/b/", {.name = &name}, kLongNames), "b");
}

TEST(ParsePath, ForbiddenCharactersLeaveOutputsUntouched) {
    std::string name = "kept", ext = "kept";
    EXPECT_EQ(ParsePath("what?.txt", {.name = &name, .extension = &ext}, kLongNames), "");
    EXPECT_EQ(name, "kept");
    EXPECT_EQ(ext, "kept");
    EXPECT_EQ(ParsePath("a:b.txt", {.name = &name}, kLongNames), "");
    EXPECT_EQ(ParsePath("q\"uote", {.name = &name}, kWildcards), "");
    // Wildcards are allowed in mode 2, blanks only outside mode 0.
    EXPECT_EQ(ParsePath("*.dll", {.name = &name}, kWildcards), "*");
    EXPECT_EQ(ParsePath("my file.txt", {.name = &name}, kLongNames), "my file.txt");
    EXPECT_EQ(ParsePath("my file.txt", {.name = &name}, kShortNames), "");
    EXPECT_EQ(name, "my file.txt");
    EXPECT_EQ(ParsePath("", {.name = &name}, kLongNames), "");
}

TEST(ParsePath, ShortNameRules) {
    std::string name, ext;
    EXPECT_EQ(ParsePath("longname.txt", {.name = &name, .extension = &ext}), "longname.txt");
    EXPECT_EQ(name, "longname");
    EXPECT_EQ(ext, ".txt");
    EXPECT_EQ(ParsePath("toolongname.txt", {.name = &name}), "");
    EXPECT_EQ(ParsePath(".profile", {.name = &name}), "");
    EXPECT_EQ(ParsePath("trail.", {.name = &name}), "");
    EXPECT_EQ(ParsePath("abcdefghi", {.name = &name}), "");
    EXPECT_EQ(ParsePath("abcdefgh.ijkl", {.name = &name}), "");  // 13 characters
    EXPECT_EQ(ParsePath("toolongdir/a.b", {.name = &name}), ""); // folders obey the rules too
    EXPECT_EQ(ParsePath("dir/a.b", {.name = &name}), "a");
}

TEST(ExtensionOf, TakesTheLastComponentsLastDot) {
    EXPECT_EQ(ExtensionOf("sub/setup.exe"), ".exe");
    EXPECT_EQ(ExtensionOf("a.b/readme"), "");
    EXPECT_EQ(ExtensionOf("x.tar.gz"), ".gz");
    EXPECT_EQ(ExtensionOf("weird:name?.TTF"), ".TTF"); // legal characters here
    EXPECT_EQ(ExtensionOf("trail.dll  "), ".dll");
    EXPECT_EQ(ExtensionOf(".profile"), ".profile");
    EXPECT_EQ(ExtensionOf(""), "");
}

} // namespace
} // namespace sorvane
