// A Source or Target that is an archive behaves as the folder tree it holds:
// for every format the same small tree gives the rows its folder gives.

#include "engine/failure.h"
#include "engine/scan/scan_driver.h"
#include "support/archive_maker.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "support/ttf_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <tuple>

namespace sorvane {
namespace {

using test::ArchiveFormat;
using test::RecordingObserver;
using test::TempDir;
using test::VersionedFile;
using test::VersionedPe;

constexpr std::uint16_t kGerman = 0x0407;

std::string Font(std::string version) {
    test::TtfBuilder font;
    font.names = {test::MacName(0, "(c) Font makers"), test::MacName(1, "Test Sans"),
                  test::MacName(5, "Version " + std::move(version))};
    return font.Build();
}

// What a row shows, without the stamps only a folder has.
using Shown = std::tuple<std::string, std::string, std::string, std::string, char, std::string,
                         std::string, bool, std::string, std::string, std::int64_t>;

std::vector<Shown> ShownRows(const std::vector<ComparisonRow>& rows) {
    std::vector<Shown> shown;
    for (const ComparisonRow& r : rows)
        shown.emplace_back(r.Name, r.Ext, r.SourceLanguage, r.SourceVersion, static_cast<char>(r.Mark),
                           r.TargetVersion, r.TargetLanguage, r.Busy, r.Description, r.Copyright,
                           r.SourceSize);
    return shown;
}

struct Scanned {
    std::vector<Shown> rows;
    ScanOutcome outcome;
};

Scanned Scan(const std::string& source, const std::string& target, bool subfolders = true,
             const std::string& filter = {}) {
    ScanRequest request;
    request.source = source;
    request.target = target;
    request.includeSubfolders = subfolders;
    request.filter = filter;
    request.displayMode = static_cast<int>(DisplayMode::AllVersioned);
    RecordingObserver observer;
    Scanner scanner;
    ScanOutcome outcome = scanner.Run(request, observer);
    return {ShownRows(observer.rows), std::move(outcome)};
}

class ArchiveScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto both = [this](const std::string& name, const std::string& bytes) {
            dir.write("tree/" + name, bytes);
            dir.write("changed/" + name, bytes);
        };
        both("readme.txt", "no version data");
        both("sub/B.dll", VersionedPe(VersionedFile{{5, 0, 0, 0}}));
        both("sub/a.dll", VersionedPe(VersionedFile{{5, 0, 0, 1}}));
        both("fonts/Test Sans.ttf", Font("1.25"));
        both("unversioned.dll", "MZ, but nothing more");
        dir.write("tree/app.exe", VersionedPe(VersionedFile{{1, 2, 3, 4}, 0x0409, "App", "(c) Tests"}));
        dir.write("changed/app.exe",
                  VersionedPe(VersionedFile{{1, 2, 3, 4}, 0x0409, "App", "(c) Tests", 512}));
        dir.write("tree/Lib.dll", VersionedPe(VersionedFile{{2, 0, 0, 1}, kGerman, "Lib"}));
        dir.write("changed/Lib.dll", VersionedPe(VersionedFile{{2, 1, 0, 0}, kGerman, "Lib 2"}));
        dir.write("tree/sub/deep.dll", VersionedPe(VersionedFile{{3, 1, 0, 0}}));
        dir.write("changed/sub/deep.dll", "versions gone");
        dir.write("tree/sub/inner/x.ocx", VersionedPe(VersionedFile{{4, 0, 0, 0}}));
        dir.write("changed/sub/inner/x.ocx", VersionedPe(VersionedFile{{4, 0, 0, 0}, kGerman}));
        dir.write("tree/sub/gone.dll", VersionedPe(VersionedFile{{1, 0, 0, 0}}));
        dir.write("changed/new.dll", VersionedPe(VersionedFile{{9, 0, 0, 0}}));
        // The project's generated fixtures, when they were built.
        for (const char* name : {"english.dll", "german_library.tlb", "typelib_resource.tlb"}) {
            const std::string fixture = std::string(SORVANE_FIXTURE_DIR) + "/" + name;
            if (std::filesystem::exists(fixture))
                for (const std::string side : {"tree", "changed"}) {
                    std::filesystem::create_directories(dir.file(side + "/fixtures"));
                    std::filesystem::copy_file(fixture, dir.file(side + "/fixtures/" + name));
                }
        }
    }

    TempDir dir;
};

TEST_F(ArchiveScanTest, EachFormatGivesTheRowsOfItsFolder) {
    const std::string tree = dir.file("tree");
    const std::string changed = dir.file("changed");
    // What the folders give, once.
    const Scanned listed = Scan(tree, "");
    const Scanned treeAgainstChanged = Scan(tree, changed);
    const Scanned changedAgainstTree = Scan(changed, tree);
    const Scanned rootDlls = Scan(tree, changed, false, "*.dll");
    ASSERT_GE(listed.rows.size(), 7u);
    ASSERT_EQ(treeAgainstChanged.outcome.counters[kNewerTargetCategory], 1);
    ASSERT_EQ(treeAgainstChanged.outcome.counters[kOrphansCategory], 2);

    for (const ArchiveFormat format : test::AllArchiveFormats()) {
        const std::string ext(test::ArchiveExtension(format));
        SCOPED_TRACE(ext);
        const std::string archive = dir.file("tree" + ext);
        const std::string changedArchive = dir.file("changed" + ext);
        if (auto made = test::MakeArchive(format, tree, archive)) {
            ADD_FAILURE() << *made;
            continue;
        }
        ASSERT_FALSE(test::MakeArchive(format, changed, changedArchive));

        // Listed alone: the folder's rows, in the folder's order.
        const Scanned alone = Scan(archive, "");
        EXPECT_TRUE(alone.outcome.sourceIsArchive);
        EXPECT_EQ(alone.outcome.mode, ScanMode::SourceOnly);
        EXPECT_EQ(alone.rows, listed.rows);
        EXPECT_TRUE(alone.outcome.unreadable.empty());

        // Against its own folder: every row "=".
        const Scanned same = Scan(archive, tree);
        ASSERT_EQ(same.rows.size(), listed.rows.size());
        for (const Shown& row : same.rows)
            EXPECT_EQ(std::get<4>(row), '=') << std::get<0>(row);

        // Against a changed folder, either way round, and against the
        // archive of the changed folder: what the folders give.
        EXPECT_EQ(Scan(archive, changed).rows, treeAgainstChanged.rows);
        const Scanned asTarget = Scan(changed, archive);
        EXPECT_TRUE(asTarget.outcome.targetIsArchive);
        EXPECT_EQ(asTarget.rows, changedAgainstTree.rows);
        EXPECT_EQ(Scan(archive, changedArchive).rows, treeAgainstChanged.rows);
        EXPECT_EQ(Scan(changedArchive, archive).rows, changedAgainstTree.rows);
        // Only the root's members, filtered.
        EXPECT_EQ(Scan(archive, changedArchive, false, "*.dll").rows, rootDlls.rows);
        EXPECT_EQ(Scan(archive, changed, false, "*.dll").outcome.counters,
                  rootDlls.outcome.counters);
    }
}

TEST_F(ArchiveScanTest, ArchivesAreAcceptedWhereFoldersAre) {
    if (auto made = test::MakeArchive(ArchiveFormat::Zip, dir.file("tree"), dir.file("tree.zip")))
        GTEST_SKIP() << *made;
    dir.write("plain.bin", "neither folder nor archive");
    const struct {
        std::string source;
        std::string target;
        std::optional<std::string> refused;
    } cases[] = {
        {"tree.zip", "", std::nullopt},
        {"tree.zip", "changed", std::nullopt},
        {"changed", "tree.zip", std::nullopt},
        {"tree.zip", "tree.zip", std::nullopt},
        {"plain.bin", "changed", kSourceMissingMessage},
        {"changed", "plain.bin", kTargetMissingMessage},
        {"changed", "missing.zip", kTargetMissingMessage},
    };
    for (const auto& c : cases) {
        ScanRequest request;
        request.source = dir.file(c.source);
        request.target = c.target.empty() ? "" : dir.file(c.target);
        const auto refused = CheckScanRequest(request);
        EXPECT_EQ(refused ? std::optional(refused->message) : std::nullopt, c.refused)
            << c.source << " " << c.target;
    }
}

// With contents compared, a member is read whole and its bytes hashed: the
// same version and size with other bytes is "~" whichever side is the
// archive. A .NET assembly's AssemblyVersion comes out of a member as out of
// its file, and an archive's member is never busy.
TEST_F(ArchiveScanTest, MembersBytesAndAssemblyVersionsAreComparedLikeFiles) {
    std::filesystem::copy(dir.file("tree"), dir.file("bytes"), std::filesystem::copy_options::recursive);
    std::string changed = dir.read("bytes/sub/a.dll");
    changed.back() = static_cast<char>(changed.back() ^ 0x5A);
    dir.write("bytes/sub/a.dll", changed);
    const std::string assembly = "/usr/lib/mono/4.5/I18N.West.dll";
    const bool haveAssembly = std::filesystem::exists(assembly);
    if (haveAssembly)
        for (const std::string side : {"tree", "bytes"})
            std::filesystem::copy_file(assembly, dir.file(side + "/I18N.West.dll"));

    const auto scan = [&](const std::string& source, const std::string& target, bool content) {
        ScanRequest request;
        request.source = dir.file(source);
        request.target = dir.file(target);
        request.displayMode = static_cast<int>(DisplayMode::AllVersioned);
        request.compareContents = content;
        request.includeSubfolders = true;
        RecordingObserver observer;
        Scanner scanner;
        const ScanOutcome outcome = scanner.Run(request, observer);
        EXPECT_TRUE(outcome.unreadable.empty()) << source << " " << target;
        std::map<std::string, ComparisonRow> rows;
        for (ComparisonRow& row : observer.rows)
            rows.emplace(row.Name, std::move(row));
        return rows;
    };
    const auto folders = scan("tree", "bytes", true);
    ASSERT_EQ(folders.at("sub/a.dll").Mark, ComparisonMark::DifferentSize);
    if (haveAssembly)
        ASSERT_FALSE(folders.at("I18N.West.dll").SourceAssemblyVersion.empty());

    for (const ArchiveFormat format : {ArchiveFormat::Zip, ArchiveFormat::SevenZip, ArchiveFormat::TarXz,
                                       ArchiveFormat::Cab}) {
        const std::string ext(test::ArchiveExtension(format));
        SCOPED_TRACE(ext);
        if (auto made = test::MakeArchive(format, dir.file("tree"), dir.file("tree" + ext))) {
            ADD_FAILURE() << *made;
            continue;
        }
        ASSERT_FALSE(test::MakeArchive(format, dir.file("bytes"), dir.file("bytes" + ext)));
        const struct {
            std::string source, target;
        } pairs[] = {{"tree" + ext, "bytes"}, {"tree", "bytes" + ext}, {"tree" + ext, "bytes" + ext}};
        for (const auto& pair : pairs) {
            SCOPED_TRACE(pair.source + " " + pair.target);
            for (const bool content : {false, true}) {
                const auto rows = scan(pair.source, pair.target, content);
                ASSERT_EQ(rows.size(), folders.size());
                for (const auto& [name, row] : rows) {
                    const ComparisonMark expected =
                        name != "sub/a.dll" ? folders.at(name).Mark
                        : content           ? ComparisonMark::DifferentSize
                                            : ComparisonMark::Equal;
                    EXPECT_EQ(row.Mark, expected)
                        << name << (content ? " with contents" : "");
                    EXPECT_EQ(row.SourceAssemblyVersion, folders.at(name).SourceAssemblyVersion) << name;
                    EXPECT_EQ(row.TargetAssemblyVersion, folders.at(name).TargetAssemblyVersion) << name;
                    if (pair.target.ends_with(ext))
                        EXPECT_FALSE(row.Busy) << name;
                }
            }
        }
    }
}

TEST_F(ArchiveScanTest, AnArchiveThatCannotBeReadIsNamedWithItsReason) {
    if (auto made = test::MakeArchive(ArchiveFormat::Zip, dir.file("tree"), dir.file("tree.zip")))
        GTEST_SKIP() << *made;
    // Cut short: the central directory is gone.
    const std::string whole = dir.read("tree.zip");
    dir.write("cut.zip", whole.substr(0, whole.size() / 2));
    std::string compound = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    compound.append(1000, '\0');
    dir.write("installer.msi", compound);
    for (const std::string name : {"cut.zip", "installer.msi"}) {
        for (const bool asTarget : {false, true}) {
            const Scanned scanned = asTarget ? Scan(dir.file("changed"), dir.file(name))
                                             : Scan(dir.file(name), dir.file("changed"));
            ASSERT_EQ(scanned.outcome.unreadable.size(), 1u) << name;
            EXPECT_EQ(scanned.outcome.unreadable[0].path, dir.file(name));
            EXPECT_EQ(scanned.outcome.unreadable[0].error.category(), ReasonCategory());
            EXPECT_EQ(scanned.outcome.message, UnreadableEntriesText(1));
            // A target that cannot be read makes no file an orphan: no rows.
            EXPECT_TRUE(scanned.rows.empty());
        }
    }
}

// While an archive side is read, before any of its rows, the scan tells how
// many members it has read and how far through the archive it is, as a
// Source and as a Target, for each format that can tell.
TEST_F(ArchiveScanTest, ReadingAnArchiveTellsHowFarItHasCome) {
    // Enough members to be told between changes of the percentage, with
    // bytes that do not pack away to nothing.
    std::string noise(3000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919u) >> 3);
    for (int i = 0; i < 600; ++i)
        dir.write("many/f" + std::to_string(i) + ".dll",
                  VersionedPe(VersionedFile{{1, 0, 0, static_cast<std::uint16_t>(i)}}) + noise);
    for (const ArchiveFormat format : {ArchiveFormat::Zip, ArchiveFormat::TarGz, ArchiveFormat::SevenZip}) {
        const std::string archive = dir.file("many" + std::string(test::ArchiveExtension(format)));
        SCOPED_TRACE(archive);
        if (auto made = test::MakeArchive(format, dir.file("many"), archive)) {
            ADD_FAILURE() << *made;
            continue;
        }
        for (const bool asTarget : {false, true}) {
            SCOPED_TRACE(asTarget ? "target" : "source");
            ScanRequest request;
            request.source = asTarget ? dir.file("many") : archive;
            request.target = asTarget ? archive : "";
            request.displayMode = static_cast<int>(DisplayMode::AllVersioned);
            RecordingObserver observer;
            Scanner scanner;
            scanner.Run(request, observer);
            ASSERT_EQ(observer.rows.size(), 600u);
            // What was told before the first row came from the archive.
            std::vector<ScanProgress> told;
            for (const ScanProgress& p : observer.progress) {
                if (p.rowsAdded > 0 || p.totalFiles > 0)
                    break;
                told.push_back(p);
            }
            ASSERT_GE(told.size(), 2u);
            for (std::size_t i = 1; i < told.size(); ++i) {
                EXPECT_GT(told[i].filesProcessed, told[i - 1].filesProcessed);
                EXPECT_GE(told[i].percent, told[i - 1].percent);
            }
            // Every member offered, and the whole archive read, at the end.
            EXPECT_EQ(told.back().filesProcessed, 600);
            EXPECT_EQ(told.back().percent, 100);
            // On the way, a share of it that grew with what was read.
            EXPECT_TRUE(std::any_of(told.begin(), told.end(), [](const ScanProgress& p) {
                return p.percent > 0 && p.percent < 100;
            }));
        }
    }
}

} // namespace
} // namespace sorvane
