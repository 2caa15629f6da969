#include "engine/scan/folder_enumerator.h"

#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace sorvane {
namespace {

std::vector<std::string> Search(FolderEnumerator& e, const std::string& root) {
    std::vector<std::string> found;
    e.SearchFiles(root, [&](const std::string& p, bool&) { found.push_back(p); });
    return found;
}

class FolderEnumeratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write("b.dll", "12345");
        dir.write("A.exe", "1");
        dir.write("c.TXT", "");
        dir.write("sub/z.dll", "");
        dir.write("sub/deeper/y.DLL", "");
        dir.write("Other/x.ocx", "");
        dir.write("sub2/w.dll", "");
    }
    test::TempDir dir;
    std::string root = dir.path().string();
};

TEST_F(FolderEnumeratorTest, ReportsFilesFolderByFolderInSortedOrder) {
    FolderEnumerator e;
    EXPECT_EQ(Search(e, root), (std::vector<std::string>{"A.exe", "b.dll", "c.TXT"}));
    e.IncludeSubfolders = true;
    EXPECT_EQ(Search(e, root),
              (std::vector<std::string>{"A.exe", "b.dll", "c.TXT", "Other/x.ocx", "sub/z.dll",
                                        "sub/deeper/y.DLL", "sub2/w.dll"}));
}

// Names that sort one way by their bytes and another without regard to
// case: the walk orders letters without case, and what no case folding
// touches (bytes above ASCII) by the bytes, never by a locale.
TEST(FolderEnumerator, OrdersNamesWithoutCaseNotByTheirBytes) {
    test::TempDir dir;
    for (const char* name : {"b.dll", "B2.dll", "a.dll", "Z.dll", "f.dll", "\xC3\xA9.dll",
                             "Sub2/x.dll", "sub1/x.dll"})
        dir.write(name, "");
    FolderEnumerator e;
    e.IncludeSubfolders = true;
    EXPECT_EQ(Search(e, dir.path().string()),
              (std::vector<std::string>{"a.dll", "b.dll", "B2.dll", "f.dll", "Z.dll",
                                        "\xC3\xA9.dll", "sub1/x.dll", "Sub2/x.dll"}));
}

TEST_F(FolderEnumeratorTest, FiltersByWildcardsWithoutRegardToCase) {
    FolderEnumerator e;
    e.IncludeSubfolders = true;
    e.FileFilter = "*.dll";
    EXPECT_EQ(Search(e, root),
              (std::vector<std::string>{"b.dll", "sub/z.dll", "sub/deeper/y.DLL", "sub2/w.dll"}));
    e.FileFilter = "*.exe; *.ocx";
    EXPECT_EQ(Search(e, root), (std::vector<std::string>{"A.exe", "Other/x.ocx"}));
    e.FileFilter = "?.txt";
    EXPECT_EQ(Search(e, root), (std::vector<std::string>{"c.TXT"}));
}

TEST_F(FolderEnumeratorTest, CountEqualsWhatTheSearchReportsWithoutASecondWalk) {
    FolderEnumerator e;
    e.IncludeSubfolders = true;
    EXPECT_EQ(e.CountFiles(root), 7);
    // A file added after counting is not reported: the search uses the counted walk.
    dir.write("late.dll", "");
    const auto found = Search(e, root);
    EXPECT_EQ(found.size(), 7u);
    // The next search without a count walks afresh.
    EXPECT_EQ(Search(e, root).size(), 8u);
    e.FileFilter = "*.dll";
    EXPECT_EQ(e.CountFiles(root), 5);
    EXPECT_EQ(Search(e, root).size(), 5u);
}

TEST_F(FolderEnumeratorTest, GivesSizeFolderAndCountDuringTheEvent) {
    FolderEnumerator e;
    std::vector<std::tuple<std::string, std::int64_t, std::string, std::int64_t>> seen;
    e.SearchFiles(root, [&](const std::string& p, bool&) {
        seen.emplace_back(p, e.CurrentFileSize(), e.CurrentFolder(), e.FilesReported());
    });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], std::make_tuple(std::string("b.dll"), std::int64_t{5}, root, std::int64_t{2}));
    e.IncludeSubfolders = true;
    e.FileFilter = "y.dll";
    e.SearchFiles(root, [&](const std::string&, bool&) {
        EXPECT_EQ(e.CurrentFolder(), root + "/sub/deeper");
    });
}

TEST(FolderEnumerator, CancelDuringTheTenthFileStopsWithTenReported) {
    test::TempDir dir;
    for (int i = 0; i < 25; ++i)
        dir.write(std::to_string(100 + i).append(".dll"), "");
    FolderEnumerator e;
    int calls = 0;
    e.SearchFiles(dir.path().string(), [&](const std::string&, bool& cancel) {
        ++calls;
        if (e.FilesReported() == 10)
            cancel = true;
    });
    EXPECT_EQ(calls, 10);
    EXPECT_EQ(e.FilesReported(), 10);
}

TEST(FolderEnumerator, SkipsLinkedFoldersFollowsFileLinksAndListsLockedFolders) {
    test::TempDir dir;
    dir.write("real/a.dll", "abc");
    dir.write("outside/b.dll", "");
    std::filesystem::create_directory_symlink(dir.file("outside"), dir.file("real/linkdir"));
    std::filesystem::create_symlink(dir.file("real/a.dll"), dir.file("real/link.dll"));
    std::filesystem::create_symlink(dir.file("missing"), dir.file("real/broken.dll"));
    dir.write("real/locked/c.dll", "");
    std::filesystem::permissions(dir.file("real/locked"), std::filesystem::perms::none);
    FolderEnumerator e;
    e.IncludeSubfolders = true;
    std::vector<std::pair<std::string, std::int64_t>> found;
    e.SearchFiles(dir.file("real"), [&](const std::string& p, bool&) {
        found.emplace_back(p, e.CurrentFileSize());
    });
    std::vector<std::pair<std::string, std::int64_t>> expected{{"a.dll", 3}, {"link.dll", 3}};
    std::vector<UnreadableEntry> unreadable;
    if (::geteuid() == 0) // root reads the locked folder anyway
        expected.emplace_back("locked/c.dll", 0);
    else
        unreadable.push_back({dir.file("real/locked"),
                              std::make_error_code(std::errc::permission_denied)});
    EXPECT_EQ(found, expected);
    EXPECT_EQ(e.Unreadable(), unreadable);
    // A root that is itself a link is followed.
    std::filesystem::create_directory_symlink(dir.file("outside"), dir.file("rootlink"));
    EXPECT_EQ(Search(e, dir.file("rootlink")), (std::vector<std::string>{"b.dll"}));
}

TEST(FolderEnumerator, MissingRootReportsNothingAndStopEndsAWalk) {
    FolderEnumerator e;
    EXPECT_EQ(e.CountFiles("/nonexistent/folder"), 0);
    EXPECT_TRUE(Search(e, "/nonexistent/folder").empty());
    test::TempDir dir;
    dir.write("a.dll", "");
    e.RequestStop(); // a stop before the search ends it at once, then clears
    EXPECT_TRUE(Search(e, dir.path().string()).empty());
    EXPECT_EQ(Search(e, dir.path().string()).size(), 1u);
}

TEST(FolderEnumerator, ListsWhatItCannotReadWhenItCouldMatter) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    dir.write("listed/a.dll", "");
    dir.write("listed/b.txt", "");
    dir.write("listed/folder/c.dll", "");
    // Read but no search permission: the names can be listed, their kinds
    // cannot be learnt.
    fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    fs::permissions(dir.file("listed"), fs::perms::owner_read | fs::perms::others_read);
    struct Case {
        const char* filter;
        bool subfolders;
        std::string expected; // names below "listed", then what was found
    };
    const std::vector<Case> cases{
        {"", false, "a.dll b.txt |"},
        {"*.dll", false, "a.dll |"},
        {"*.dll", true, "a.dll folder |"},
        {"*.exe", false, "|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        const auto result = test::RunInChild(test::ChildLimits().Unprivileged(), [&](std::string& output) {
            FolderEnumerator e;
            e.FileFilter = c.filter;
            e.IncludeSubfolders = c.subfolders;
            const auto found = Search(e, dir.file("listed"));
            for (const auto& entry : e.Unreadable())
                output += entry.path.substr(dir.file("listed/").size()) +
                          (entry.error == std::errc::permission_denied ? " " : "? ");
            output += "|";
            for (const auto& path : found)
                output += " " + path;
            return 0;
        });
        if (!result.ran)
            GTEST_SKIP() << "cannot walk as an unprivileged user here";
        EXPECT_EQ(result.output, c.expected);
    }
}

TEST(FolderEnumerator, LinkLoopsAreUnreadableAndLinksToNothingAreNoFiles) {
    test::TempDir dir;
    dir.write("a.dll", "");
    std::filesystem::create_symlink("loop.dll", dir.file("loop.dll"));
    std::filesystem::create_symlink("missing.dll", dir.file("broken.dll"));
    std::filesystem::create_symlink("loop.txt", dir.file("loop.txt"));
    FolderEnumerator e;
    e.FileFilter = "*.dll";
    EXPECT_EQ(Search(e, dir.path().string()), (std::vector<std::string>{"a.dll"}));
    // loop.txt does not match the filter, so it does not matter.
    EXPECT_EQ(e.Unreadable(),
              (std::vector<UnreadableEntry>{
                  {dir.file("loop.dll"), std::make_error_code(std::errc::too_many_symbolic_link_levels)}}));
}

TEST(MatchesFilter, Wildcards) {
    EXPECT_TRUE(MatchesFilter("anything", ""));
    EXPECT_TRUE(MatchesFilter("anything", " ; "));
    EXPECT_TRUE(MatchesFilter("KERNEL32.DLL", "*.dll"));
    EXPECT_TRUE(MatchesFilter("Ärger.dll", "ä*"));
    EXPECT_FALSE(MatchesFilter("a.dll.bak", "*.dll"));
    EXPECT_TRUE(MatchesFilter("a.dll.bak", "*.dll*"));
    EXPECT_TRUE(MatchesFilter("abc", "a?c"));
    EXPECT_FALSE(MatchesFilter("ac", "a?c"));
    EXPECT_TRUE(MatchesFilter("x", "*"));
    EXPECT_TRUE(MatchesFilter("a.b.c", "*.*.*"));
    // Many stars on a long name still answer at once.
    EXPECT_FALSE(MatchesFilter(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*b"));
}

} // namespace
} // namespace sorvane
