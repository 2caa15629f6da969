// Members of an archive or installer copied onto a Target folder: the same
// bytes, the member's bits and time where the format keeps them, backups as
// for files, one walk of the archive for a whole batch, and a member that
// cannot be read failing its row alone.

#include "engine/archive/archive_copy.h"
#include "engine/archive/libarchive_tree.h"
#include "support/archive_maker.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sorvane {
namespace {

namespace fs = std::filesystem;
using test::ArchiveFormat;
using test::VersionedFile;
using test::VersionedPe;

constexpr std::int64_t kMemberTime = 1600000000; // even: DOS times keep it

// Counts the walks of the tree it stands for.
class CountedTree final : public PackedTree {
public:
    explicit CountedTree(std::unique_ptr<PackedTree> tree) : tree_(std::move(tree)) {}
    Result<void> Walk(const Wanted& wanted, const Visit& visit,
                      const Unreadable& unreadable) override {
        ++walks;
        return tree_->Walk(
            [&](const PackedMember& member) {
                ++offered;
                return wanted(member);
            },
            visit, unreadable);
    }
    int walks = 0;
    int offered = 0; ///< members the walk came to

private:
    std::unique_ptr<PackedTree> tree_;
};

struct Copied {
    std::map<std::string, RowCopyResult> results; ///< by name, in the order told
    std::vector<std::size_t> toldOrder;
    int walks = 0;
    int offered = 0;
};

Copied CopyOut(std::unique_ptr<PackedTree> tree, const std::string& archive,
               const std::string& target, const std::vector<std::string>& names, bool backup) {
    CountedTree counted(std::move(tree));
    RowCopyBatch batch(archive, target, backup);
    std::vector<ArchiveCopyRow> rows;
    for (const auto& name : names)
        rows.push_back({name, ScannedPair{}});
    Copied copied;
    const std::atomic<bool> stop{false};
    CopyArchiveRows(counted, archive, batch, rows, stop, [](std::size_t) {},
                    [&](std::size_t i, RowCopyResult result) {
                        copied.toldOrder.push_back(i);
                        copied.results.emplace(names[i], std::move(result));
                    });
    copied.walks = counted.walks;
    copied.offered = counted.offered;
    return copied;
}

Copied CopyOut(const std::string& archive, const std::string& target,
               const std::vector<std::string>& names, bool backup) {
    auto tree = OpenPackedTree(archive);
    EXPECT_TRUE(tree) << tree.error().Message();
    if (!tree)
        return {};
    return CopyOut(std::move(*tree), archive, target, names, backup);
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

enum class Kept { Both, TimeOnly };

TEST(ArchiveCopy, EachFormatGivesTheSameBytesWithTheMembersModeAndTime) {
    const struct {
        const char* label;
        std::optional<ArchiveFormat> format; ///< none: an installer
        Kept kept;
    } cases[] = {
        {"zip", ArchiveFormat::Zip, Kept::Both},
        {"7z", ArchiveFormat::SevenZip, Kept::Both},
        {"tar.xz", ArchiveFormat::TarXz, Kept::Both},
        {"tar.gz", ArchiveFormat::TarGz, Kept::Both},
        {"cab", ArchiveFormat::Cab, Kept::TimeOnly},
        {"iso", ArchiveFormat::Iso, Kept::Both},
        {"msi", std::nullopt, Kept::TimeOnly}, // the cabinet's time
    };
    const std::map<std::string, std::pair<std::string, mode_t>> tree = {
        {"a.dll", {VersionedPe(VersionedFile{{2, 0, 0, 0}}), 0750}},
        {"b.dll", {VersionedPe(VersionedFile{{3, 1, 0, 0}}) + std::string(300000, 'x'), 0604}},
        {"sub/c.dll", {VersionedPe(VersionedFile{{4, 0, 0, 0}}), 0640}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempDir dir;
        std::string archive;
        std::vector<std::string> names;
        if (c.format) {
            for (const auto& [name, file] : tree) {
                const std::string path = dir.write("tree/" + name, file.first);
                ::chmod(path.c_str(), file.second);
                const struct utimbuf times{kMemberTime, kMemberTime};
                ::utime(path.c_str(), &times);
                names.push_back(name);
            }
            archive = dir.file(std::string("tree") + std::string(test::ArchiveExtension(*c.format)));
            if (const auto made = test::MakeArchive(*c.format, dir.file("tree"), archive))
                GTEST_SKIP() << *made;
        } else {
            std::vector<test::MsiFile> files;
            for (const auto& [name, file] : tree)
                if (!name.starts_with("sub/")) {
                    files.push_back({name.substr(0, 1), name, file.first, kMemberTime});
                    names.push_back(name);
                }
            archive = dir.file("product.msi");
            if (const auto made = test::MakeMsi(archive, files, true))
                GTEST_SKIP() << *made;
        }
        const std::string target = dir.file("target");
        dir.write("target/a.dll", "old a");

        const Copied copied = CopyOut(archive, target, names, true);
        EXPECT_EQ(copied.walks, 1);
        ASSERT_EQ(copied.results.size(), names.size());
        for (std::size_t i = 0; i < copied.toldOrder.size(); ++i)
            EXPECT_EQ(copied.toldOrder[i], i);
        for (const auto& name : names) {
            SCOPED_TRACE(name);
            const RowCopyResult& result = copied.results.at(name);
            EXPECT_EQ(result.status, RowCopyStatus::Copied) << result.failure.Message();
            EXPECT_EQ(result.backedUp, name == "a.dll");
            const std::string path = target + "/" + name;
            EXPECT_TRUE(dir.read("target/" + name) == tree.at(name).first);
            const struct stat st = StatOf(path);
            EXPECT_EQ(st.st_mode & 07777,
                      c.kept == Kept::Both ? tree.at(name).second : mode_t{0644});
            EXPECT_EQ(st.st_mtim.tv_sec, kMemberTime);
            EXPECT_EQ(result.target, StampOf(st));
        }
        EXPECT_EQ(dir.read("target/_Backup/a.dll"), "old a");
        EXPECT_FALSE(fs::exists(dir.file("target/_Backup/b.dll")));
    }
}

TEST(ArchiveCopy, AMemberThatCannotBeReadFailsItsRowAndLeavesTheOldTarget) {
    test::TempDir dir;
    // Stored, not compressed, so its bytes can be spoiled where they lie.
    const std::string payload(4096, 'P');
    dir.write("tree/good.dll", VersionedPe(VersionedFile{{2, 0, 0, 0}}));
    dir.write("tree/spoiled.dll", payload);
    dir.write("tree/big.dll", std::string(200000, 'B'));
    const std::string in = "cd " + test::ShellQuoted(dir.file("tree")) + " && ";
    if (test::RunCommand(in + "zip -q -0 ../plain.zip good.dll spoiled.dll big.dll") != 0 ||
        test::RunCommand(in + "zip -q -P secret ../locked.zip good.dll spoiled.dll") != 0)
        GTEST_SKIP() << "no zip";
    {
        std::string bytes = dir.read("plain.zip");
        const auto at = bytes.find(payload);
        ASSERT_NE(at, std::string::npos);
        bytes[at + 100] = 'Q';
        dir.write("spoiled.zip", bytes);
    }
    UnpackBudget small;
    small.memberBytes = 100000;
    const struct {
        const char* label;
        const char* archive;
        std::optional<UnpackBudget> budget;
        std::vector<std::string> names;
        std::map<std::string, std::string> failed; ///< name: code of its failure
    } cases[] = {
        {"a spoiled member", "spoiled.zip", {}, {"good.dll", "spoiled.dll"},
         {{"spoiled.dll", "not-decompressed"}}},
        {"a member over its budget", "plain.zip", small, {"big.dll", "good.dll"},
         {{"big.dll", "over-budget"}}},
        {"encrypted members", "locked.zip", {}, {"good.dll", "spoiled.dll"},
         {{"good.dll", "encrypted-member"}, {"spoiled.dll", "encrypted-member"}}},
        {"a name the archive lacks", "plain.zip", {}, {"good.dll", "gone.dll"},
         {{"gone.dll", "ENOENT"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(dir.file("target"));
        for (const auto& name : c.names)
            dir.write("target/" + name, "old " + name);
        const std::string archive = dir.file(c.archive);
        auto tree = c.budget ? OpenLibarchiveTree(archive, *c.budget) : OpenPackedTree(archive);
        ASSERT_TRUE(tree);
        const Copied copied = CopyOut(std::move(*tree), archive, dir.file("target"), c.names, false);
        EXPECT_EQ(copied.walks, 1);
        ASSERT_EQ(copied.results.size(), c.names.size());
        for (const auto& name : c.names) {
            SCOPED_TRACE(name);
            const RowCopyResult& result = copied.results.at(name);
            const auto failed = c.failed.find(name);
            if (failed == c.failed.end()) {
                EXPECT_EQ(result.status, RowCopyStatus::Copied) << result.failure.Message();
                EXPECT_EQ(dir.read("target/" + name), dir.read("tree/" + name));
                continue;
            }
            EXPECT_EQ(result.status, RowCopyStatus::CopyFailed);
            EXPECT_EQ(result.failure.CodeName(), failed->second) << result.failure.Message();
            EXPECT_EQ(result.failedPath, archive + "/" + name);
            EXPECT_EQ(dir.read("target/" + name), "old " + name);
        }
        // No temporary file is left beside the targets.
        for (const auto& entry : fs::directory_iterator(dir.file("target")))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
    }
}

// Rows hold to the archive they were scanned from: one written again since
// copies nothing, and each of its rows says so; the same archive copies.
TEST(ArchiveCopy, AnArchiveChangedSinceTheScanCopiesNothing) {
    test::TempDir dir;
    dir.write("tree/a.dll", VersionedPe(VersionedFile{{2, 0, 0, 0}}));
    dir.write("tree/b.dll", VersionedPe(VersionedFile{{3, 0, 0, 0}}));
    if (auto made = test::MakeArchive(ArchiveFormat::Zip, dir.file("tree"), dir.file("tree.zip")))
        GTEST_SKIP() << *made;
    const FileStamp scanned = StampOf(StatOf(dir.file("tree.zip")));
    for (const bool rewritten : {false, true}) {
        SCOPED_TRACE(rewritten ? "rewritten" : "as scanned");
        const std::string target = dir.file(rewritten ? "after" : "before");
        dir.write((rewritten ? "after" : "before") + std::string("/a.dll"), "old");
        if (rewritten) {
            const struct utimbuf times{kMemberTime, kMemberTime};
            ASSERT_EQ(::utime(dir.file("tree.zip").c_str(), &times), 0);
        }
        RowCopyBatch batch(dir.file("tree.zip"), target, false);
        const std::vector<ArchiveCopyRow> rows = {{"a.dll", {scanned, FileStamp{}}},
                                                  {"b.dll", {scanned, FileStamp{}}}};
        std::vector<RowCopyResult> results(rows.size());
        const std::atomic<bool> stop{false};
        CopyArchiveRows(dir.file("tree.zip"), batch, rows, stop, [](std::size_t) {},
                        [&](std::size_t i, RowCopyResult result) { results[i] = std::move(result); });
        for (std::size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(rows[i].name);
            EXPECT_EQ(results[i].status, rewritten ? RowCopyStatus::Refused : RowCopyStatus::Copied);
            EXPECT_EQ(fs::exists(target + "/" + rows[i].name), !rewritten || i == 0);
            if (rewritten)
                EXPECT_EQ(results[i].failure.code, make_error_code(Reason::Changed));
        }
        EXPECT_EQ(dir.read(std::string(rewritten ? "after" : "before") + "/a.dll") == "old",
                  rewritten);
    }
}

// A run that has reached every row it copies reads no further: the members
// stored after the last one it wants are never come to.
TEST(ArchiveCopy, TheWalkEndsAtTheLastMemberItWants) {
    test::TempDir dir;
    for (const char* name : {"first.dll", "second.dll", "third.dll", "fourth.dll"})
        dir.write(std::string("tree/") + name, VersionedPe(VersionedFile{{2, 0, 0, 0}}));
    // Stored in the order named.
    if (test::RunCommand("cd " + test::ShellQuoted(dir.file("tree")) +
                         " && bsdtar -czf ../tree.tar.gz first.dll second.dll third.dll fourth.dll") != 0)
        GTEST_SKIP() << "no bsdtar";
    const struct {
        std::vector<std::string> names;
        int offered;
    } cases[] = {
        {{"first.dll"}, 1},
        {{"second.dll", "first.dll"}, 2},
        {{"third.dll"}, 3},
        {{"fourth.dll", "missing.dll"}, 4}, // a name not there: read to the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names.front());
        const std::string target = dir.file("to-" + c.names.front());
        fs::create_directories(target);
        const Copied copied = CopyOut(dir.file("tree.tar.gz"), target, c.names, false);
        EXPECT_EQ(copied.walks, 1);
        EXPECT_EQ(copied.offered, c.offered);
        for (const auto& name : c.names)
            EXPECT_EQ(fs::exists(target + "/" + name), name != "missing.dll") << name;
    }
}

} // namespace
} // namespace sorvane
