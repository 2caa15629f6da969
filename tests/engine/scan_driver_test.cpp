#include "engine/scan/scan_driver.h"

#include "engine/files/opened_file.h"
#include "engine/scan/row_sort.h"
#include "engine/scan/source_map.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "support/typelib_builder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <new>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace sorvane {
namespace {

using test::RecordingObserver;
using test::VersionedFile;
using test::VersionedPe;

constexpr std::uint16_t kGerman = 0x0407;

// The row of `name`; fails the test when there is none.
const ComparisonRow& RowNamed(const std::vector<ComparisonRow>& rows, const std::string& name) {
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [&](const ComparisonRow& r) { return r.Name == name; });
    if (it == rows.end()) {
        ADD_FAILURE() << "no row " << name;
        static const ComparisonRow none;
        return none;
    }
    return *it;
}

// A source and a target tree with one pair for every mark.
class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        Pair("newer.dll", {{2, 0, 0, 0}}, VersionedFile{{1, 5, 0, 0}, 0x0409, "Target newer"});
        Pair("older.dll", {{1, 0, 0, 0}}, VersionedFile{{1, 0, 0, 1}});
        Pair("equal.dll", {{3, 1, 0, 0}, 0x0409, "Same", "(c) S"},
             VersionedFile{{3, 1, 0, 0}, 0x0409, "Same on target", "(c) T"});
        Pair("size.dll", {{4, 0, 0, 0}}, VersionedFile{{4, 0, 0, 0}, 0x0409, "", "", 16});
        Pair("lang.dll", {{9, 0, 0, 0}}, VersionedFile{{1, 0, 0, 0}, kGerman});
        Source("orphan.dll", {{1, 0, 0, 0}});
        Source("sub/plain.dll", {{1, 0, 0, 0}});
        dir.write("target/sub/plain.dll", "no version data here");
        dir.write("source/readme.txt", "no version data");
        dir.write("target/readme.txt", "no version data");
    }

    void Source(const std::string& name, VersionedFile file) {
        dir.write("source/" + name, VersionedPe(file));
    }
    void Pair(const std::string& name, VersionedFile source, VersionedFile target) {
        Source(name, source);
        dir.write("target/" + name, VersionedPe(target));
    }

    ScanRequest Request(int mode = 0) const {
        ScanRequest request;
        request.source = dir.file("source");
        request.target = dir.file("target");
        request.includeSubfolders = true;
        request.displayMode = mode;
        return request;
    }

    static std::map<std::string, std::string> Marks(const std::vector<ComparisonRow>& rows) {
        std::map<std::string, std::string> marks;
        for (const auto& row : rows)
            marks[row.Name] = std::string(MarkText(row.Mark));
        return marks;
    }

    test::TempDir dir;
};

TEST_F(ScanTest, GivesEveryMarkAndCountsItsCategory) {
    Scanner scanner;
    RecordingObserver rec;
    const ScanOutcome outcome = scanner.Run(Request(0), rec);
    EXPECT_EQ(outcome.mode, ScanMode::Compare);
    EXPECT_EQ(Marks(rec.rows), (std::map<std::string, std::string>{{"equal.dll", "="},
                                                                    {"lang.dll", "!"},
                                                                    {"newer.dll", ">"},
                                                                    {"older.dll", "<"},
                                                                    {"orphan.dll", "-"},
                                                                    {"size.dll", "~"},
                                                                    {"sub/plain.dll", "-"}}));
    EXPECT_EQ(outcome.counters.counts, (std::array<std::int32_t, 6>{1, 1, 1, 1, 0, 2}));
    EXPECT_EQ(outcome.rowsAdded, 7);
    EXPECT_EQ(outcome.filesProcessed, 8); // readme.txt too
    EXPECT_EQ(outcome.totalFiles, 8);
    EXPECT_EQ(outcome.message, "");

    for (const auto& row : rec.rows) {
        if (row.Name == "equal.dll") {
            // Description and copyright come from the target side.
            EXPECT_EQ(row.Description, "Same on target");
            EXPECT_EQ(row.Copyright, "(c) T");
            EXPECT_EQ(row.SourceVersion, "3.01.0000");
            EXPECT_EQ(row.SourceLanguage, "English (United States)");
            EXPECT_EQ(row.TargetLanguage, "English (United States)");
            EXPECT_FALSE(row.Busy);
            EXPECT_EQ(row.SourceSize, std::filesystem::file_size(dir.file("source/equal.dll")));
        }
        if (row.Name == "lang.dll") {
            EXPECT_EQ(row.TargetLanguage, "German");
        }
        if (row.Name == "orphan.dll") {
            EXPECT_EQ(row.TargetVersion, "");
            EXPECT_FALSE(row.Busy);
        }
    }
}

TEST_F(ScanTest, DisplayModesDropRowsBeforeTheyAreCounted) {
    Scanner scanner;
    RecordingObserver different;
    const auto d = scanner.Run(Request(1), different);
    EXPECT_EQ(Marks(different.rows), (std::map<std::string, std::string>{{"lang.dll", "!"},
                                                                         {"newer.dll", ">"},
                                                                         {"older.dll", "<"},
                                                                         {"size.dll", "~"}}));
    EXPECT_EQ(d.counters.counts, (std::array<std::int32_t, 6>{1, 1, 1, 1, 0, 0}));
    RecordingObserver newer;
    const auto n = scanner.Run(Request(2), newer);
    EXPECT_EQ(Marks(newer.rows), (std::map<std::string, std::string>{
                                     {"lang.dll", "!"}, {"newer.dll", ">"}, {"size.dll", "~"}}));
    EXPECT_EQ(n.counters.counts, (std::array<std::int32_t, 6>{1, 0, 1, 1, 0, 0}));
    EXPECT_EQ(n.filesProcessed, 8);
}

TEST_F(ScanTest, StrictVersionsGiveIncomparableRows) {
    Pair("strict.dll", {{1, 10, 0, 0}}, VersionedFile{{1, 9, 0, 0}});
    ScanRequest request = Request(1);
    request.strictVersions = true;
    request.filter = "strict.dll";
    Scanner scanner;
    RecordingObserver rec;
    // The version texts are 1.10.0000 and 1.09.0000: equal lengths, so still ">".
    EXPECT_EQ(scanner.Run(request, rec).counters[kNewerSourceCategory], 1);
}

TEST_F(ScanTest, BusyMarksTheTargetsTheProgramCannotWrite) {
    namespace fs = std::filesystem;
    fs::permissions(dir.file("target/older.dll"), fs::perms::owner_read);
    fs::permissions(dir.file("target/size.dll"), fs::perms::owner_read | fs::perms::owner_write);
    // Root may write to read-only files.
    const bool rootWrites = ::geteuid() == 0;
    for (const int threads : {0, 1, 4}) {
        SCOPED_TRACE(threads);
        ScanRequest request = Request(0);
        request.readThreads = threads;
        Scanner scanner;
        RecordingObserver rec;
        scanner.Run(request, rec);
        std::map<std::string, bool> busy;
        for (const auto& row : rec.rows)
            busy[row.Name] = row.Busy;
        EXPECT_EQ(busy, (std::map<std::string, bool>{{"equal.dll", false},
                                                     {"lang.dll", false},
                                                     {"newer.dll", false},
                                                     {"older.dll", !rootWrites},
                                                     {"orphan.dll", false},
                                                     {"size.dll", false},
                                                     {"sub/plain.dll", false}}));
    }
}

TEST_F(ScanTest, SourceOnlyListsEveryVersionedFile) {
    ScanRequest request = Request(1);
    request.target.clear();
    Scanner scanner;
    RecordingObserver rec;
    const auto outcome = scanner.Run(request, rec);
    EXPECT_EQ(outcome.mode, ScanMode::SourceOnly);
    ASSERT_EQ(rec.rows.size(), 7u); // all but readme.txt, whatever the display mode
    for (const auto& row : rec.rows) {
        EXPECT_EQ(row.Mark, ComparisonMark::None);
        EXPECT_EQ(row.TargetVersion, "");
    }
    EXPECT_EQ(outcome.counters, CategoryCounters{});
    const ComparisonRow& equal = RowNamed(rec.rows, "equal.dll");
    EXPECT_EQ(equal.Description, "Same"); // the source's own texts
    EXPECT_EQ(equal.Copyright, "(c) S");
}

TEST_F(ScanTest, ClosingMessagesAndValidation) {
    Scanner scanner;
    RecordingObserver rec;
    ScanRequest request = Request(1);
    request.filter = "readme.txt";
    auto outcome = scanner.Run(request, rec);
    EXPECT_EQ(outcome.message, kNoDifferencesMessage);
    EXPECT_TRUE(outcome.messageIsClosing);
    request.target.clear();
    EXPECT_EQ(scanner.Run(request, rec).message, kNoVersionsMessage);

    request = Request(1);
    request.source = dir.file("missing");
    outcome = scanner.Run(request, rec);
    EXPECT_EQ(outcome.mode, ScanMode::None);
    EXPECT_EQ(outcome.message, kSourceMissingMessage);
    request.source = dir.file("source/newer.dll"); // a file, not flagged as a map
    EXPECT_EQ(scanner.Run(request, rec).message, kSourceMissingMessage);
    request = Request(1);
    request.target = dir.file("nowhere");
    EXPECT_EQ(scanner.Run(request, rec).message, kTargetMissingMessage);
    // Both empty: nothing happens at all.
    const std::size_t scansStarted = rec.paths.size();
    outcome = scanner.Run(ScanRequest{}, rec);
    EXPECT_EQ(outcome.mode, ScanMode::None);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(rec.paths.size(), scansStarted);
}

TEST_F(ScanTest, OneFolderUnderTwoNamesIsRefusedAndCaseMakesTwoFolders) {
    std::filesystem::create_directory_symlink(dir.file("source"), dir.file("link"));
    // Another letter case is another folder on Linux: it is scanned.
    dir.write("SOURCE/newer.dll", VersionedPe({{1, 0, 0, 0}}));
    struct Case {
        std::string source;
        std::string target;
        std::string message;
    };
    const std::vector<Case> cases{
        {dir.file("source"), dir.file("source") + "/", kSameFolderMessage},
        {dir.file("source"), dir.file("link"), kSameFolderMessage},
        {dir.file("link") + "/", dir.file("source/../source"), kSameFolderMessage},
        {dir.file("source"), dir.file("SOURCE"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source + " / " + c.target);
        ScanRequest request = Request(1);
        request.source = c.source;
        request.target = c.target;
        request.includeSubfolders = false;
        Scanner scanner;
        RecordingObserver rec;
        const auto outcome = scanner.Run(request, rec);
        if (c.message.empty()) {
            EXPECT_EQ(outcome.mode, ScanMode::Compare);
            EXPECT_EQ(Marks(rec.rows).at("newer.dll"), ">");
        } else {
            EXPECT_EQ(outcome.mode, ScanMode::None);
            EXPECT_EQ(outcome.message, c.message);
            EXPECT_TRUE(rec.paths.empty()); // the walk never started
        }
    }
}

TEST_F(ScanTest, NormalisesThePathsBeforeTheWalk) {
    ScanRequest request = Request(0);
    request.source = "\"" + dir.file("source") + "/\"";
    request.target = dir.file("target") + "/";
    Scanner scanner;
    RecordingObserver rec;
    const auto outcome = scanner.Run(request, rec);
    EXPECT_EQ(outcome.source, dir.file("source"));
    EXPECT_EQ(outcome.target, dir.file("target"));
    ASSERT_EQ(rec.paths.size(), 1u);
    EXPECT_EQ(rec.paths[0], std::make_pair(dir.file("source"), dir.file("target")));
    EXPECT_EQ(outcome.rowsAdded, 7);
}

TEST_F(ScanTest, AStopEndsTheScanAfterTheCurrentFile) {
    for (const int threads : {0, 4}) {
        SCOPED_TRACE(threads);
        Scanner scanner;
        struct Stopper : RecordingObserver {
            Scanner* scanner = nullptr;
            void Progress(const ScanProgress& p) override {
                RecordingObserver::Progress(p);
                if (p.filesProcessed == 3)
                    scanner->RequestStop();
            }
        } rec;
        rec.scanner = &scanner;
        ScanRequest request = Request(0);
        request.readThreads = threads;
        const auto outcome = scanner.Run(request, rec);
        EXPECT_TRUE(outcome.interrupted);
        EXPECT_EQ(outcome.message, kInterruptedMessage);
        EXPECT_EQ(outcome.filesProcessed, 3);
        EXPECT_EQ(rec.progress.size(), 3u);
        EXPECT_FALSE(scanner.StopRequested()); // cleared at the end
    }
}

TEST_F(ScanTest, OnlyAStopAskedForOnceTheScanIsArmedStopsIt) {
    Scanner scanner;
    scanner.RequestStop(); // an Esc while nothing runs
    RecordingObserver idle;
    EXPECT_EQ(scanner.Run(Request(0), idle).filesProcessed, 8);
    // Armed by a caller that starts the scan on another thread: a stop asked
    // for before the scan reaches its first file still counts.
    scanner.Arm();
    scanner.RequestStop();
    RecordingObserver armed;
    const auto outcome = scanner.Run(Request(0), armed);
    EXPECT_EQ(outcome.filesProcessed, 1);
    EXPECT_EQ(outcome.message, kInterruptedMessage);
    EXPECT_FALSE(scanner.StopRequested());
    RecordingObserver again;
    EXPECT_EQ(scanner.Run(Request(0), again).filesProcessed, 8);
}

TEST(Scan, ParallelReadingGivesExactlyTheRowsOfASequentialScan) {
    test::TempDir dir;
    for (int i = 0; i < 240; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "d%d/f%d.dll", i % 7, i);
        const auto v = static_cast<std::uint16_t>(i % 5);
        dir.write(std::string("source/") + name, VersionedPe({{1, v, 0, 0}}));
        if (i % 11 != 0)
            dir.write(std::string("target/") + name,
                      VersionedPe({{1, static_cast<std::uint16_t>((i * 7) % 5), 0, 0},
                                   static_cast<std::uint16_t>(i % 13 ? 0x0409 : kGerman), "",
                                   "", static_cast<std::size_t>(i % 3)}));
    }
    ScanRequest request;
    request.source = dir.file("source");
    request.target = dir.file("target");
    request.includeSubfolders = true;
    request.displayMode = 0;
    Scanner scanner;
    RecordingObserver sequential;
    request.readThreads = 0;
    const auto a = scanner.Run(request, sequential);
    RecordingObserver parallel;
    request.readThreads = 4;
    const auto b = scanner.Run(request, parallel);
    ASSERT_EQ(sequential.rows.size(), 240u);
    ASSERT_EQ(parallel.rows.size(), sequential.rows.size());
    for (std::size_t i = 0; i < sequential.rows.size(); ++i) {
        for (int c = kNameColumn; c <= kSizeColumn; ++c)
            EXPECT_EQ(ColumnText(parallel.rows[i], c), ColumnText(sequential.rows[i], c)) << i;
    }
    EXPECT_EQ(a.counters, b.counters);
    EXPECT_EQ(sequential.folders, parallel.folders);
}

TEST(Scan, ProgressFollowsTheFilesAndTheirFolders) {
    test::TempDir dir;
    for (int i = 0; i < 400; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "source/%s/%d", i < 200 ? "a" : "b", 1000 + i);
        dir.write(name, "x");
    }
    dir.write("target/keep", "");
    ScanRequest request;
    request.source = dir.file("source");
    request.target = dir.file("target");
    request.includeSubfolders = true;
    Scanner scanner;
    RecordingObserver rec;
    scanner.Run(request, rec);
    ASSERT_EQ(rec.progress.size(), 400u);
    EXPECT_EQ(rec.progress[41].filesProcessed, 42);
    // The total may come only once the walk is done.
    if (rec.progress[41].totalFiles != 0) {
        EXPECT_EQ(rec.progress[41].percent, 10); // 100 * 42 / 400, remainder dropped
        EXPECT_EQ(rec.progress[41].totalFiles, 400);
    }
    EXPECT_EQ(rec.progress.back().totalFiles, 400);
    EXPECT_EQ(rec.progress.back().percent, 100);
    EXPECT_EQ(rec.folders,
              (std::vector<std::string>{dir.file("source/a"), dir.file("source/b")}));
}

// Reading starts while the walk still lists folders: whatever the tree and
// the threads, the rows keep the walk's order, the total is 0 until known and
// then right, the share done never passes 100 nor goes back, and a stop
// asked for during the walk ends the scan.
TEST(Scan, ReadingAlongsideTheWalkKeepsOrderTotalsAndStops) {
    struct Row {
        const char* tree;
        int folders; // files spread over this many nested folders
        int files;
        int threads;
        int stopAfter; // 0: no stop
    };
    const Row rows[] = {
        {"flat", 1, 300, 4, 0},       {"flat one thread", 1, 300, 1, 0},
        {"many folders", 60, 300, 4, 0}, {"many folders", 60, 300, 2, 0},
        {"stop early", 60, 300, 4, 2},   {"stop later", 60, 300, 1, 150},
        {"empty", 3, 0, 4, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.tree) + ", " + std::to_string(row.threads) + " threads");
        test::TempDir dir;
        dir.write("target/keep", "");
        for (int f = 0; f < row.folders; ++f)
            dir.write("source/" + std::string(static_cast<std::size_t>(f % 4), 'n') + "/d" +
                          std::to_string(f) + "/.keep",
                      "");
        for (int i = 0; i < row.files; ++i) {
            const int f = i % row.folders;
            const std::string name = std::string(static_cast<std::size_t>(f % 4), 'n') + "/d" +
                                     std::to_string(f) + "/f" + std::to_string(i) + ".dll";
            dir.write("source/" + name, VersionedPe({{1, static_cast<std::uint16_t>(i), 0, 0}}));
        }
        ScanRequest request;
        request.source = dir.file("source");
        request.target = dir.file("target");
        request.includeSubfolders = true;
        request.filter = "*.dll";
        request.displayMode = 0;
        Scanner scanner;
        RecordingObserver alone;
        request.readThreads = 0;
        const auto sequential = scanner.Run(request, alone);
        ASSERT_EQ(sequential.totalFiles, row.files);

        struct Stopper : RecordingObserver {
            Scanner* scanner = nullptr;
            int stopAfter = 0;
            void Progress(const ScanProgress& p) override {
                RecordingObserver::Progress(p);
                if (p.filesProcessed == stopAfter)
                    scanner->RequestStop();
            }
        } rec;
        rec.scanner = &scanner;
        rec.stopAfter = row.stopAfter;
        request.readThreads = row.threads;
        const auto outcome = scanner.Run(request, rec);

        const std::size_t expected = row.stopAfter > 0 ? row.stopAfter : row.files;
        ASSERT_EQ(rec.rows.size(), expected);
        for (std::size_t i = 0; i < rec.rows.size(); ++i)
            EXPECT_EQ(rec.rows[i].Name, alone.rows[i].Name) << i;
        EXPECT_EQ(outcome.interrupted, row.stopAfter > 0);
        EXPECT_EQ(outcome.filesProcessed, static_cast<std::int64_t>(expected));
        if (row.stopAfter == 0) {
            EXPECT_EQ(outcome.totalFiles, row.files);
            EXPECT_EQ(outcome.counters, sequential.counters);
            EXPECT_EQ(rec.folders, alone.folders);
        }
        int lastPercent = 0;
        std::int64_t knownTotal = 0;
        for (const auto& p : rec.progress) {
            EXPECT_GE(p.percent, lastPercent);
            EXPECT_LE(p.percent, 100);
            lastPercent = p.percent;
            if (knownTotal != 0) {
                EXPECT_EQ(p.totalFiles, knownTotal); // once known it stays
            }
            knownTotal = p.totalFiles;
            if (p.totalFiles == 0) {
                EXPECT_EQ(p.percent, 0);
            } else {
                EXPECT_LE(p.filesProcessed, p.totalFiles);
                if (row.stopAfter == 0) {
                    EXPECT_EQ(p.totalFiles, row.files);
                }
                EXPECT_EQ(p.percent, 100 * p.filesProcessed / p.totalFiles);
            }
        }
        if (row.stopAfter == 0 && row.files > 0) {
            EXPECT_EQ(rec.progress.back().percent, 100);
        }
        EXPECT_FALSE(scanner.StopRequested());
    }
}

TEST_F(ScanTest, SourceMapRoundTrip) {
    // List the source, save the listing as a map, then change the target.
    ScanRequest listing = Request(0);
    listing.target.clear();
    Scanner scanner;
    RecordingObserver listed;
    const auto outcome = scanner.Run(listing, listed);
    const std::string map = dir.file("saved.map");
    ASSERT_TRUE(WriteSourceMap(map, outcome.source, listed.rows).has_value());
    // The source folder goes away: the map alone stands for it.
    std::filesystem::rename(dir.file("source"), dir.file("gone"));
    dir.write("target/orphan.dll", VersionedPe({{0, 9, 0, 0}}));

    ScanRequest request;
    request.source = map;
    request.sourceIsMap = true;
    request.target = dir.file("target");
    request.displayMode = 0;
    RecordingObserver rec;
    const auto result = scanner.Run(request, rec);
    EXPECT_EQ(result.totalFiles, 7);
    EXPECT_EQ(Marks(rec.rows), (std::map<std::string, std::string>{{"equal.dll", "="},
                                                                    {"lang.dll", "!"},
                                                                    {"newer.dll", ">"},
                                                                    {"older.dll", "<"},
                                                                    {"orphan.dll", ">"},
                                                                    {"size.dll", "~"},
                                                                    {"sub/plain.dll", "-"}}));
    // A map's rows carry its source side, and no source description.
    const ComparisonRow& newer = RowNamed(rec.rows, "newer.dll");
    EXPECT_EQ(newer.SourceVersion, "2.00.0000");
    EXPECT_EQ(newer.Description, "Target newer");

    // With an empty target the map's header names the folder... which is gone.
    request.target.clear();
    RecordingObserver fromHeader;
    const auto header = scanner.Run(request, fromHeader);
    EXPECT_EQ(header.target, dir.file("source"));
    EXPECT_EQ(fromHeader.paths.back().second, dir.file("source"));
    EXPECT_EQ(header.counters[kOrphansCategory], 7);
}

// A map saved with the contents compared holds the hash of each source
// file; comparing a target against it with the contents compared marks a
// file of the same version and size whose bytes changed "~". Entries without
// a hash, or with a damaged one, compare by version and size alone.
TEST_F(ScanTest, AMapWithHashesTellsTargetsWhoseBytesChanged) {
    const std::string base = VersionedPe({{5, 0, 0, 0}});
    std::string changed = base;
    changed[changed.size() - 1] ^= 0x21; // same version, same size
    const std::string hex = HashBytes(base).Hex();
    struct Case {
        const char* name;
        std::string hashField; ///< the sixth field of the map line; "" for none
        std::string target;
        const char* plain;   ///< the mark without the contents compared
        const char* content; ///< with them
        bool hashed;         ///< the entry holds a hash
    };
    const Case cases[] = {
        {"same.dll", "|" + hex, base, "=", "=", true},
        {"changed.dll", "|" + hex, changed, "=", "~", true},
        {"upper.dll", "|" + [&] {
             std::string upper = hex;
             for (char& c : upper)
                 c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
             return upper;
         }(), changed, "=", "~", true},
        {"unhashed.dll", "", changed, "=", "=", false},
        {"damaged.dll", "|" + hex.substr(0, 31) + "x", changed, "=", "=", false},
        {"longer.dll", "|" + hex, base + "more", "~", "~", true},
        {"newer.dll", "|" + hex, VersionedPe({{4, 0, 0, 0}}), ">", ">", true},
        {"later.dll", "|" + hex + "|a later field", changed, "=", "~", true},
    };
    std::string map = dir.file("target") + "\r\n";
    for (const Case& c : cases) {
        map += std::string(c.name) + "|.dll|5.00.0000|English (United States)|" +
               std::to_string(base.size()) + c.hashField + "\r\n";
        dir.write(std::string("target/") + c.name, c.target);
    }
    ScanRequest request;
    request.source = dir.write("hashes.map", map);
    request.sourceIsMap = true;
    request.target = dir.file("target");
    request.displayMode = 0;
    for (const bool content : {false, true}) {
        request.compareContents = content;
        RecordingObserver rec;
        Scanner scanner;
        const auto outcome = scanner.Run(request, rec);
        EXPECT_TRUE(outcome.unreadable.empty());
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (content ? " with contents" : ""));
            const ComparisonRow& row = RowNamed(rec.rows, c.name);
            EXPECT_EQ(MarkText(row.Mark), content ? c.content : c.plain);
            // The row keeps the map's hash either way, for a map saved from it.
            EXPECT_EQ(row.SourceHash, c.hashed ? ContentHash::FromHex(hex) : std::nullopt);
        }
    }
}

// With the contents compared and the hashes kept, every row gets the hash of
// its source file, in a listing and in a compare, whatever its mark; a map
// saved from the rows holds them and reads back with them.
TEST_F(ScanTest, KeptSourceHashesAreThoseOfTheFilesAndGoIntoASavedMap) {
    for (const bool keep : {false, true}) {
        for (const bool listing : {true, false}) {
            SCOPED_TRACE(std::string(keep ? "kept" : "not kept") + (listing ? ", listing" : ", compare"));
            ScanRequest request = Request(0);
            if (listing)
                request.target.clear();
            request.compareContents = true;
            request.keepSourceHashes = keep;
            RecordingObserver rec;
            Scanner scanner;
            const auto outcome = scanner.Run(request, rec);
            ASSERT_EQ(rec.rows.size(), 7u);
            for (const ComparisonRow& row : rec.rows) {
                SCOPED_TRACE(row.Name);
                // The one pair of equal versions and sizes, equal.dll, has its
                // bytes compared (and found to differ), so its source's hash is
                // known anyway.
                if (keep || (!listing && row.Name == "equal.dll")) {
                    ASSERT_TRUE(row.SourceHash);
                    EXPECT_EQ(*row.SourceHash, HashBytes(dir.read("source/" + row.Name)));
                } else {
                    EXPECT_FALSE(row.SourceHash);
                }
            }
            const std::string map = dir.file("kept.map");
            ASSERT_TRUE(WriteSourceMap(map, outcome.source, rec.rows).has_value());
            EXPECT_EQ(SourceMapHoldsHashes(map), rec.rows.front().SourceHash.has_value());
            EXPECT_EQ(MarkText(RowNamed(rec.rows, "equal.dll").Mark), listing ? "" : "~");
            auto reader = SourceMapReader::Open(map);
            ASSERT_TRUE(reader);
            for (const ComparisonRow& row : rec.rows)
                EXPECT_EQ(reader->Next()->Hash, row.SourceHash) << row.Name;
        }
    }
}

// The assembly version of each side that is a .NET assembly goes into the
// row; a native file, a file without version data and a missing target give
// none.
TEST_F(ScanTest, RowsCarryTheAssemblyVersionOfEachSide) {
    using test::AssemblyPe;
    struct Case {
        const char* name;
        std::string source, target;
        const char* sourceAssembly;
        const char* targetAssembly;
    };
    const Case cases[] = {
        {"both.dll", AssemblyPe({{1, 0, 0, 0}}, {2, 0, 0, 0}), AssemblyPe({{1, 0, 0, 0}}, {2, 1, 0, 7}),
         "2.0.0.0", "2.1.0.7"},
        {"source-only.dll", AssemblyPe({{1, 0, 0, 0}}, {65535, 0, 3, 0}), VersionedPe({{1, 0, 0, 0}}),
         "65535.0.3.0", ""},
        {"target-only.dll", VersionedPe({{1, 0, 0, 0}}), AssemblyPe({{1, 0, 0, 0}}, {1, 2, 3, 4}), "",
         "1.2.3.4"},
        {"no-target.dll", AssemblyPe({{1, 0, 0, 0}}, {3, 0, 0, 0}), "", "3.0.0.0", ""},
        {"unversioned-target.dll", AssemblyPe({{1, 0, 0, 0}}, {3, 0, 0, 0}), "not a PE", "3.0.0.0", ""},
    };
    test::TempDir trees;
    for (const Case& c : cases) {
        trees.write(std::string("s/") + c.name, c.source);
        if (!c.target.empty())
            trees.write(std::string("t/") + c.name, c.target);
    }
    for (const bool listing : {false, true}) {
        ScanRequest request;
        request.source = trees.file("s");
        request.target = listing ? std::string() : trees.file("t");
        request.displayMode = 0;
        RecordingObserver rec;
        Scanner scanner;
        scanner.Run(request, rec);
        ASSERT_EQ(rec.rows.size(), std::size(cases));
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (listing ? " listed" : ""));
            const ComparisonRow& row = RowNamed(rec.rows, c.name);
            EXPECT_EQ(row.SourceAssemblyVersion, c.sourceAssembly);
            EXPECT_EQ(row.TargetAssemblyVersion, listing ? "" : c.targetAssembly);
        }
    }
}

TEST_F(ScanTest, MalformedAndHostileMapLines) {
    const std::string map = dir.write(
        "odd.map", "/ignored\r\n"
                   "newer.dll|.dll|1.0\r\n"          // no language, size from the name: 0
                   "\r\n"                            // an empty entry: no row
                   "../source/newer.dll|.dll|9.0|English (United States)|1\r\n"
                   "/etc/passwd|.dll|9.0||1\r\n"
                   "equal.dll|.dll||English (United States)|1\r\n" // no version: no row
                   "size.dll|.dll|4.00.0000|English (United States)|77|extra|fields\r\n");
    ScanRequest request;
    request.source = map;
    request.sourceIsMap = true;
    request.target = dir.file("target");
    request.displayMode = 0;
    Scanner scanner;
    RecordingObserver rec;
    const auto outcome = scanner.Run(request, rec);
    EXPECT_EQ(outcome.filesProcessed, 6);
    // Without a source language the languages never differ: 1.0 against 1.05.
    EXPECT_EQ(Marks(rec.rows), (std::map<std::string, std::string>{{"newer.dll", "<"},
                                                                    {"size.dll", "~"}}));
    const ComparisonRow& size = RowNamed(rec.rows, "size.dll");
    EXPECT_EQ(size.SourceSize, 77);
    // The empty line, the two names outside the folder and the missing version.
    EXPECT_EQ(outcome.skippedMapLines, 4);
    EXPECT_EQ(outcome.message, SkippedMapLinesText(4));
    EXPECT_EQ(SkippedMapLinesText(4),
              "4 lines of the Source Map were skipped (no name or version, or a name outside the "
              "folder).");
}

TEST_F(ScanTest, AMapThatCannotBeReadEndsWithAMessage) {
    ScanRequest request;
    request.source = dir.file("missing.map");
    request.sourceIsMap = true;
    request.target = dir.file("target");
    Scanner scanner;
    RecordingObserver rec;
    const auto outcome = scanner.Run(request, rec);
    EXPECT_EQ(outcome.mode, ScanMode::Compare);
    EXPECT_NE(outcome.message.find("cannot be read"), std::string::npos);
    EXPECT_FALSE(outcome.messageIsClosing);
    EXPECT_TRUE(rec.rows.empty());
}

TEST(Scan, TypeLibraryKeepsTheSourceHelpStringWhenTheTargetCannotBeRead) {
    test::TempDir dir;
    test::MsftBuilder lib;
    lib.major = 2;
    lib.minor = 5;
    lib.helpString = "Source library";
    dir.write("source/a.tlb", lib.Build());
    dir.write("target/a.tlb", "not a type library");
    lib.major = 1;
    lib.helpString = "Target library";
    dir.write("source/b.TLB", lib.Build());
    dir.write("target/b.TLB", lib.Build());
    ScanRequest request;
    request.source = dir.file("source");
    request.target = dir.file("target");
    request.displayMode = 0;
    Scanner scanner;
    RecordingObserver rec;
    scanner.Run(request, rec);
    ASSERT_EQ(rec.rows.size(), 2u);
    EXPECT_EQ(rec.rows[0].Name, "a.tlb");
    EXPECT_EQ(rec.rows[0].Mark, ComparisonMark::Orphan);
    EXPECT_EQ(rec.rows[0].Description, "Source library");
    EXPECT_EQ(rec.rows[0].SourceLanguage, "[Neutral]");
    EXPECT_EQ(rec.rows[1].Mark, ComparisonMark::Equal);
    EXPECT_EQ(rec.rows[1].Description, "Target library");
    EXPECT_EQ(rec.rows[1].SourceVersion, "1.5");
}

// ------------------------------------------------ entries that cannot be read

// What a scan gave, as text that can travel out of a child process: each row
// (name and mark), each unreadable entry (path below `base`, errno), the
// counters and the message.
std::string Describe(const ScanOutcome& outcome, const std::vector<ComparisonRow>& rows,
                     const std::string& base) {
    std::string text;
    for (const auto& row : rows)
        text += row.Name + " " + std::string(MarkText(row.Mark)) + "\n";
    for (const auto& entry : outcome.unreadable)
        text += "unreadable " + entry.path.substr(std::min(base.size() + 1, entry.path.size())) +
                " " + std::to_string(entry.error.value()) + "\n";
    text += "counters";
    for (const int count : outcome.counters.counts)
        text += " " + std::to_string(count);
    text += "\nfiles " + std::to_string(outcome.filesProcessed) + "/" +
            std::to_string(outcome.totalFiles) + "\n";
    return text + "message " + outcome.message + (outcome.messageIsClosing ? " (closing)" : "") +
           (outcome.failed ? " (failed)" : "") + "\n";
}

// The same description for what a test expects.
std::string Expected(const std::vector<std::pair<std::string, std::string>>& rows,
                     const std::vector<std::pair<std::string, int>>& unreadable,
                     const std::string& counters, const std::string& files,
                     const std::string& message) {
    std::string text;
    for (const auto& [name, mark] : rows)
        text += name + " " + mark + "\n";
    for (const auto& [path, error] : unreadable)
        text += "unreadable " + path + " " + std::to_string(error) + "\n";
    return text + "counters " + counters + "\nfiles " + files + "\nmessage " + message + "\n";
}

// Runs `request` in a child under `limits` and describes the outcome.
test::ChildResult ScanInChild(const test::ChildLimits& limits, const ScanRequest& request,
                              const std::string& base) {
    return test::RunInChild(limits, [&](std::string& output) {
        Scanner scanner;
        RecordingObserver rec;
        const ScanOutcome outcome = scanner.Run(request, rec);
        output = Describe(outcome, rec.rows, base);
        return 0;
    });
}

// Every row of the ScanTest trees in AllVersioned mode, in walk order.
const std::vector<std::pair<std::string, std::string>> kAllRows{
    {"equal.dll", "="},  {"lang.dll", "!"}, {"newer.dll", ">"},     {"older.dll", "<"},
    {"orphan.dll", "-"}, {"size.dll", "~"}, {"sub/plain.dll", "-"}};

std::vector<std::pair<std::string, std::string>> AllRowsBut(const std::string& name) {
    auto rows = kAllRows;
    std::erase_if(rows, [&](const auto& row) { return row.first == name; });
    return rows;
}

TEST_F(ScanTest, WhatCannotBeReadIsListedWithItsReasonNeverOrphanedOrDropped) {
    namespace fs = std::filesystem;
    // The child runs as nobody: the trees must be open to others, except
    // what each case locks.
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec |
                                    fs::perms::group_read | fs::perms::others_exec |
                                    fs::perms::others_read);
    constexpr auto kLocked = fs::perms::none;
    constexpr auto kListOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, fs::perms>> locks;
        int mode;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"a target file",
         {{"target/newer.dll", kLocked}},
         0,
         Expected(AllRowsBut("newer.dll"), {{"target/newer.dll", EACCES}}, "0 1 1 1 0 2", "8/8",
                  "1 entry could not be read.")},
        {"a target folder",
         {{"target/sub", kLocked}},
         0,
         Expected(AllRowsBut("sub/plain.dll"), {{"target/sub/plain.dll", EACCES}}, "1 1 1 1 0 1",
                  "8/8", "1 entry could not be read.")},
        {"a source file",
         {{"source/older.dll", kLocked}},
         0,
         Expected(AllRowsBut("older.dll"), {{"source/older.dll", EACCES}}, "1 0 1 1 0 2", "8/8",
                  "1 entry could not be read.")},
        {"a source folder",
         {{"source/sub", kLocked}},
         0,
         Expected(AllRowsBut("sub/plain.dll"), {{"source/sub", EACCES}}, "1 1 1 1 0 1", "7/7",
                  "1 entry could not be read.")},
        {"a source folder that can be listed but not searched",
         {{"source/sub", kListOnly}},
         0,
         Expected(AllRowsBut("sub/plain.dll"), {{"source/sub/plain.dll", EACCES}}, "1 1 1 1 0 1",
                  "7/7", "1 entry could not be read.")},
        // Nothing could be compared: no "No differences found.".
        {"the whole target",
         {{"target", kLocked}},
         1,
         Expected({},
                  {{"target/equal.dll", EACCES},
                   {"target/lang.dll", EACCES},
                   {"target/newer.dll", EACCES},
                   {"target/older.dll", EACCES},
                   {"target/orphan.dll", EACCES},
                   {"target/size.dll", EACCES},
                   {"target/sub/plain.dll", EACCES}},
                  "0 0 0 0 0 0", "8/8", "7 entries could not be read.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<std::string, fs::perms>> saved;
        for (const auto& [path, perms] : c.locks) {
            saved.emplace_back(path, fs::status(dir.file(path)).permissions());
            fs::permissions(dir.file(path), perms);
        }
        const auto result =
            ScanInChild(test::ChildLimits().Unprivileged(), Request(c.mode),
                                        dir.path().string());
        for (const auto& [path, perms] : saved)
            fs::permissions(dir.file(path), perms);
        if (!result.ran)
            GTEST_SKIP() << "cannot run a scan as an unprivileged user here";
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, c.expected);
    }
}

TEST_F(ScanTest, LinkLoopsCannotBeReadAndLinksToNothingAreMissing) {
    namespace fs = std::filesystem;
    fs::remove(dir.file("target/newer.dll"));
    fs::create_symlink("newer.dll", dir.file("target/newer.dll")); // a loop
    fs::remove(dir.file("target/older.dll"));
    fs::create_symlink("nowhere.dll", dir.file("target/older.dll"));
    fs::create_symlink("loop.dll", dir.file("source/loop.dll"));
    fs::create_symlink("nowhere.dll", dir.file("source/broken.dll"));
    Scanner scanner;
    RecordingObserver rec;
    const ScanOutcome outcome = scanner.Run(Request(0), rec);
    auto rows = AllRowsBut("newer.dll");
    rows[2].second = "-"; // older.dll: no target file
    // The walk meets the source loop first; the reads come after it.
    EXPECT_EQ(Describe(outcome, rec.rows, dir.path().string()),
              Expected(rows, {{"source/loop.dll", ELOOP}, {"target/newer.dll", ELOOP}},
                       "0 0 1 1 0 3", "8/8", "2 entries could not be read."));
    EXPECT_EQ(outcome.unreadable[1].error, std::errc::too_many_symbolic_link_levels);
    EXPECT_FALSE(outcome.messageIsClosing);
}

TEST_F(ScanTest, FilesDeeperThanAPathCanNameAreRead) {
    // 24 folders of 200 letters: over 4,800 bytes below the two roots.
    std::string deep;
    for (int i = 0; i < 24; ++i)
        deep += std::string(200, static_cast<char>('a' + i)) + "/";
    test::WriteDeep(dir.file("source"), deep + "far.dll", VersionedPe({{5, 0, 0, 0}}));
    test::WriteDeep(dir.file("target"), deep + "far.dll", VersionedPe({{4, 0, 0, 0}}));
    test::WriteDeep(dir.file("source"), deep + "lone.dll", VersionedPe({{1, 0, 0, 0}}));
    ScanRequest request = Request(0);
    request.filter = "far.dll lone.dll";
    Scanner scanner;
    RecordingObserver rec;
    const ScanOutcome outcome = scanner.Run(request, rec);
    test::RemoveDeep(dir.file("source"), "a" + std::string(199, 'a'));
    test::RemoveDeep(dir.file("target"), "a" + std::string(199, 'a'));
    ASSERT_GT(dir.file("source").size() + deep.size(), 4096u);
    EXPECT_EQ(Describe(outcome, rec.rows, dir.path().string()),
              Expected({{deep + "far.dll", ">"}, {deep + "lone.dll", "-"}}, {}, "1 0 0 0 0 1",
                       "2/2", ""));
    ASSERT_EQ(rec.rows.size(), 2u);
    EXPECT_EQ(rec.rows[0].TargetVersion, "4.00.0000");
    EXPECT_FALSE(rec.rows[0].Busy); // a writable target, however deep
}

// Many pairs, so that parallel readers compete for descriptors.
class ManyFilesScanTest : public ScanTest {
protected:
    void SetUp() override {
        ScanTest::SetUp();
        for (int i = 0; i < 300; ++i) {
            const auto v = static_cast<std::uint16_t>(i % 3);
            Pair("many/f" + std::to_string(100 + i) + ".dll", {{1, v, 0, 0}},
                 VersionedFile{{1, static_cast<std::uint16_t>(i % 2), 0, 0}});
        }
        namespace fs = std::filesystem;
        fs::permissions(dir.path(), fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    }

    std::string Unlimited(const ScanRequest& request) {
        Scanner scanner;
        RecordingObserver rec;
        const auto outcome = scanner.Run(request, rec);
        EXPECT_EQ(outcome.rowsAdded, 307);
        return Describe(outcome, rec.rows, dir.path().string());
    }
};

TEST_F(ManyFilesScanTest, FewOpenFilesSlowTheScanDownButChangeNoRow) {
    ScanRequest request = Request(0);
    const std::string unlimited = Unlimited(request);
    struct Case {
        int freeDescriptors;
        int threads;
        std::string expected;
    };
    const std::vector<Case> cases{
        // One descriptor is all a scan needs: readers that miss one read again alone.
        {1, 4, unlimited},
        {1, 0, unlimited},
        {2, 8, unlimited},
        // Not even the source folder can be opened.
        {0, 4,
         Expected({}, {{"source", EMFILE}}, "0 0 0 0 0 0", "0/0", "1 entry could not be read.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.freeDescriptors << " free, " << c.threads << " threads");
        request.readThreads = c.threads;
        const auto result =
            ScanInChild(test::ChildLimits().FreeDescriptors(c.freeDescriptors), request,
                                        dir.path().string());
        ASSERT_TRUE(result.ran);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, c.expected);
    }
}

TEST_F(ManyFilesScanTest, WithoutThreadsOrWithLittleMemoryTheScanReadsAlone) {
    ScanRequest request = Request(0);
    const std::string unlimited = Unlimited(request);
    struct Case {
        const char* what;
        test::ChildLimits limits;
    };
    const std::vector<Case> cases{
        {"one process", test::ChildLimits().Processes(1)},
        {"two processes", test::ChildLimits().Processes(2)},
        {"three processes", test::ChildLimits().Processes(3)},
        // No room for a thread's stack, room enough to read.
        {"1 MiB to spare", test::ChildLimits().SpareAddressSpace(std::size_t{1} << 20)},
        {"12 MiB to spare", test::ChildLimits().SpareAddressSpace(std::size_t{12} << 20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto result = ScanInChild(c.limits, request, dir.path().string());
        if (!result.ran)
            GTEST_SKIP() << "cannot limit processes here";
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, unlimited);
    }
}

TEST_F(ScanTest, RunningOutOfMemoryEndsTheScanWithTheRowsFoundSoFar) {
    // The observer is where a scan's memory grows without bound (the rows).
    struct Full : RecordingObserver {
        void RowAdded(ComparisonRow row) override {
            if (rows.size() == 2)
                throw std::bad_alloc();
            RecordingObserver::RowAdded(std::move(row));
        }
    };
    for (const int threads : {0, 4}) {
        SCOPED_TRACE(threads);
        ScanRequest request = Request(0);
        request.readThreads = threads;
        Scanner scanner;
        Full rec;
        const ScanOutcome outcome = scanner.Run(request, rec);
        EXPECT_EQ(Describe(outcome, rec.rows, dir.path().string()),
                  Expected({{"equal.dll", "="}, {"lang.dll", "!"}}, {}, "0 0 1 0 0 0", "2/8",
                           std::string(kOutOfMemoryMessage) + " (failed)"));
        EXPECT_EQ(outcome.rowsAdded, 2);
        EXPECT_FALSE(outcome.interrupted);
    }
}

TEST(ReadingThreads, KeepOnlyTheDescriptorsTheyNeed) {
    // A reading thread gets a table of its own: it keeps the folder it reads
    // below and the standard three, and holds no copy of anything else, so a
    // pipe the program closes meanwhile ends at once for its reader.
    test::TempDir dir;
    const int folder = ::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    const int other = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC); // given first, numbered higher
    ASSERT_GT(other, folder);
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    const auto open = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
    struct Seen {
        bool folder = false, other = false, pipeRead = true, pipeWrite = true;
        bool standard[3] = {};
    } seen;
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false, checked = false, own = false;
    std::thread reader([&] {
        own = KeepOnlyDescriptors({other, folder, -1});
        seen.folder = open(folder);
        seen.other = open(other);
        seen.pipeRead = open(pipe[0]);
        seen.pipeWrite = open(pipe[1]);
        for (int fd = 0; fd < 3; ++fd)
            seen.standard[fd] = open(fd);
        std::unique_lock lock(mutex);
        ready = true;
        changed.notify_all();
        changed.wait(lock, [&] { return checked; });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return ready; });
    }
    if (!own) {
        // Refused (a sandbox, or ThreadSanitizer): nothing may have changed.
        {
            std::lock_guard lock(mutex);
            checked = true;
        }
        changed.notify_all();
        reader.join();
        EXPECT_TRUE(seen.folder && seen.pipeRead && seen.pipeWrite);
        ::close(other);
        ::close(folder);
        ::close(pipe[0]);
        ::close(pipe[1]);
        GTEST_SKIP() << "this system gives a thread no table of its own";
    }
    // While the thread still runs: the write end closed here is closed.
    ::close(pipe[1]);
    pollfd end{pipe[0], POLLIN, 0};
    EXPECT_EQ(::poll(&end, 1, 0), 1);
    EXPECT_TRUE(end.revents & POLLHUP);
    {
        std::lock_guard lock(mutex);
        checked = true;
    }
    changed.notify_all();
    reader.join();
    EXPECT_TRUE(seen.folder);
    EXPECT_TRUE(seen.other);
    EXPECT_FALSE(seen.pipeRead);
    EXPECT_FALSE(seen.pipeWrite);
    for (int fd = 0; fd < 3; ++fd)
        EXPECT_EQ(seen.standard[fd], open(fd)) << fd;
    EXPECT_TRUE(open(folder)); // still open here
    ::close(other);
    ::close(folder);
    ::close(pipe[0]);
}

} // namespace
} // namespace sorvane
