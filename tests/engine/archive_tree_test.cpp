// Archives as trees of members: names, the formats told apart, hostile
// members, budgets against bombs, and bytes unpacked only as far as read.

#include "engine/archive/libarchive_tree.h"
#include "engine/archive/member_name.h"
#include "engine/archive/packed_tree.h"
#include "engine/scan/archive_side.h"
#include "engine/scan/folder_enumerator.h"
#include "engine/scan/scan_driver.h"
#include "support/archive_maker.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <random>

namespace sorvane {
namespace {

using test::RecordingObserver;
using test::RunPython;
using test::TempDir;
using test::VersionedFile;
using test::VersionedPe;

TEST(MemberNameTest, NamesBecomeFolderPathsOrNothing) {
    const struct {
        std::string_view stored;
        std::optional<std::string> name;
    } cases[] = {
        {"a.dll", "a.dll"},
        {"./a.dll", "a.dll"},
        {"bin//a.dll", "bin/a.dll"},
        {"bin/./sub/a.dll", "bin/sub/a.dll"},
        {"bin/", "bin"},
        {"./", ""},
        {".", ""},
        {"..a.dll", "..a.dll"},
        {"a..b/c.dll", "a..b/c.dll"},
        {"\x1b[31m.dll", "\x1b[31m.dll"},
        {"../a.dll", std::nullopt},
        {"bin/../../a.dll", std::nullopt},
        {"bin/..", std::nullopt},
        {"/a.dll", std::nullopt},
        {"//a.dll", std::nullopt},
        {"bin\\a.dll", std::nullopt},
        {"C:\\a.dll", std::nullopt},
        {std::string_view("a\0b", 3), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormalizeMemberName(c.stored), c.name) << c.stored;
}

TEST(MemberNameTest, TablesAreOrderedAsTheFolderWalkReportsFiles) {
    TempDir dir;
    const std::vector<std::string> names = {
        "b.dll",   "A.dll",         "a.dll",      "sub/z.dll", "sub/deep/y.dll", "Sub/x.dll",
        "c/d.dll", "sub/B.dll",     "sub.dll",    "_x/1.dll",  "sub/deep/A.DLL", "zz/zz/zz.dll",
        "c.dll",   "c/e/f/g/h.dll", "sub/a b.dll"};
    for (const auto& name : names)
        dir.write("tree/" + name, "x");
    FolderEnumerator walk;
    walk.IncludeSubfolders = true;
    std::vector<std::string> walked;
    walk.SearchFiles(dir.file("tree"), [&](const std::string& path, bool&) { walked.push_back(path); });
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
        return WalkOrderLess(a, b);
    });
    EXPECT_EQ(sorted, walked);
}

TEST(PackedTreeTest, FormatsAreToldByTheirFirstBytes) {
    TempDir dir;
    dir.write("tree/a.dll", VersionedPe(VersionedFile{{1, 0, 0, 0}}));
    std::string ole = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    ole.append(600, '\0');
    std::string iso(40000, '\0');
    iso.replace(16 * 2048 + 1, 5, "CD001");
    dir.write("compound.msi", ole);
    dir.write("fake.iso", iso);
    dir.write("notes.txt", "just text, no archive");
    dir.write("notes.zip", "a name is not enough for a ZIP");
    dir.write("empty.dat", "");
    dir.write("folder/x", "");
    ASSERT_EQ(test::RunCommand("gzip -c " + test::ShellQuoted(dir.file("notes.txt")) + " > " +
                               test::ShellQuoted(dir.file("notes.txt.gz"))),
              0);
    for (const auto format : {test::ArchiveFormat::Zip, test::ArchiveFormat::TarGz,
                              test::ArchiveFormat::Tar, test::ArchiveFormat::TarZst}) {
        const auto made = test::MakeArchive(
            format, dir.file("tree"), dir.file("made" + std::string(test::ArchiveExtension(format))));
        if (made)
            GTEST_SKIP() << *made;
    }
    // An old tar without the "ustar" mark is known by its name.
    std::string v7 = dir.read("made.tar");
    v7.replace(257, 8, std::string(8, '\0'));
    dir.write("old.tar", v7);
    const struct {
        std::string name;
        bool tree;
    } cases[] = {
        {"made.zip", true},      {"made.tar", true},      {"made.tar.gz", true},
        {"made.tar.zst", true},  {"compound.msi", true},  {"fake.iso", true},
        {"old.tar", true},       {"notes.txt", false},    {"notes.zip", false},
        {"notes.txt.gz", false}, {"empty.dat", false},    {"folder", false},
        {"missing.zip", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPackedTree(dir.file(c.name)), c.tree) << c.name;
}

TEST(PackedTreeTest, WhatCannotBeOpenedSaysWhy) {
    TempDir dir;
    std::string ole = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    ole.append(600, '\0');
    dir.write("compound.msi", ole);
    dir.write("notes.txt", "just text");
    dir.write("folder/x", "");
    const struct {
        std::string name;
        std::error_code code;
    } cases[] = {
        {"compound.msi", make_error_code(Reason::NotAnArchive)},
        {"notes.txt", make_error_code(Reason::NotAnArchive)},
        {"folder", make_error_code(Reason::NotRegularFile)},
        {"missing.zip", SystemError(ENOENT)},
    };
    for (const auto& c : cases) {
        const auto tree = OpenPackedTree(dir.file(c.name));
        ASSERT_FALSE(tree) << c.name;
        EXPECT_EQ(tree.error().code, c.code) << c.name << ": " << tree.error().Message();
        EXPECT_EQ(tree.error().path, dir.file(c.name));
    }
}

// Hostile archives, each with one good member beside the hostile one, made
// by Python's zipfile and tarfile.
constexpr const char* kHostileScript = R"PY(
import io, os, struct, sys, tarfile, zipfile
out, pe = sys.argv[1], open(sys.argv[2], 'rb').read()

def zip_of(name, members, patch=None):
    path = os.path.join(out, name)
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        for info in members:
            if isinstance(info, tuple):
                z.writestr(info[0], info[1])
            else:
                z.writestr(info, info.comment or pe)
    if patch:
        data = bytearray(open(path, 'rb').read())
        patch(data)
        open(path, 'wb').write(data)

def tar_of(name, members):
    with tarfile.open(os.path.join(out, name), 'w', format=tarfile.PAX_FORMAT) as t:
        for info, data in members:
            t.addfile(info, io.BytesIO(data) if data is not None else None)

def file_info(name, data=pe):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    return info, data

def special(name, kind, link=''):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.linkname = link
    return info, None

# The n-th local header and central directory entry of a ZIP.
def headers(data, n):
    local = -1
    for _ in range(n + 1):
        local = data.find(b'PK\x03\x04', local + 1)
    central = -1
    for _ in range(n + 1):
        central = data.find(b'PK\x01\x02', central + 1)
    return local, central

# Writes `value` as `fmt` into member n's local header at `local` and its
# central directory entry at `central`; `bits` or-s it in instead.
def set_field(fmt, local, central, value, n, bits=False):
    def patch(data):
        at = headers(data, n)
        for where, offset in zip(at, (local, central)):
            old = struct.unpack_from(fmt, data, where + offset)[0] if bits else 0
            struct.pack_into(fmt, data, where + offset, old | value)
    return patch

good = ('good.dll', pe)
zip_of('dotdot.zip', [good, ('../evil.dll', pe)])
zip_of('deep_dotdot.zip', [good, ('sub/../../evil.dll', pe)])
zip_of('absolute.zip', [good, ('/evil.dll', pe)])
zip_of('twice.zip', [good, ('twice.dll', pe), ('./twice.dll', pe)])
link = zipfile.ZipInfo('link.dll')
link.create_system = 3
link.external_attr = 0o120777 << 16
zip_of('symlink.zip', [good, (link, b'good.dll')])
zip_of('encrypted.zip', [good, ('secret.dll', pe)], set_field('<H', 6, 8, 1, 1, bits=True))
zip_of('method.zip', [good, ('packed.dll', pe)], set_field('<H', 8, 10, 6, 1))
zip_of('liar.zip', [good, ('liar.dll', pe + bytes(300000))], set_field('<I', 22, 24, 1000, 1))
tar_of('backslash.tar', [file_info('good.dll'), file_info('dir\\evil.dll')])
tar_of('symlink.tar', [file_info('good.dll'), special('link.dll', tarfile.SYMTYPE, 'good.dll')])
tar_of('hardlink.tar', [file_info('good.dll'), special('hard.dll', tarfile.LNKTYPE, 'good.dll')])
tar_of('fifo.tar', [file_info('good.dll'), special('pipe.dll', tarfile.FIFOTYPE)])
tar_of('dotdot.tar', [file_info('good.dll'), file_info('../../evil.dll')])
tar_of('twice.tar', [file_info('good.dll'), file_info('twice.dll'), file_info('twice.dll')])
# Names: UTF-8 in a ZIP, bytes that are not UTF-8 in a tar.
zip_of('names.zip', [('caf\u00e9.dll', pe)])
tar_of('names.tar', [file_info(b'caf\xe9.dll'.decode('utf-8', 'surrogateescape'))])
)PY";

class HostileArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::PythonProgram().empty())
            GTEST_SKIP() << "no Python";
        dir.write("pe.dll", VersionedPe(VersionedFile{{1, 2, 3, 4}}));
        std::filesystem::create_directories(dir.file("out"));
        ASSERT_EQ(RunPython(kHostileScript, {dir.file("out"), dir.file("pe.dll")}), 0);
    }

    ScanOutcome ListArchive(const std::string& name, RecordingObserver& observer,
                            const std::string& filter = {}) {
        ScanRequest request;
        request.source = dir.file("out/" + name);
        request.filter = filter;
        request.includeSubfolders = true;
        Scanner scanner;
        return scanner.Run(request, observer);
    }

    TempDir dir;
};

TEST_F(HostileArchiveTest, EachHostileMemberGivesItsReasonAndNoRow) {
    const struct {
        std::string archive;
        std::string shown; // the path after the archive's
        Reason reason;
    } cases[] = {
        {"dotdot.zip", "../evil.dll", Reason::MemberNameUnsafe},
        {"deep_dotdot.zip", "sub/../../evil.dll", Reason::MemberNameUnsafe},
        {"absolute.zip", "/evil.dll", Reason::MemberNameUnsafe},
        {"dotdot.tar", "../../evil.dll", Reason::MemberNameUnsafe},
        {"backslash.tar", "dir\\evil.dll", Reason::MemberNameUnsafe},
        {"twice.zip", "twice.dll", Reason::DuplicateMember},
        {"twice.tar", "twice.dll", Reason::DuplicateMember},
        {"symlink.zip", "link.dll", Reason::LinkMember},
        {"symlink.tar", "link.dll", Reason::LinkMember},
        {"hardlink.tar", "hard.dll", Reason::LinkMember},
        {"encrypted.zip", "secret.dll", Reason::EncryptedMember},
        {"method.zip", "packed.dll", Reason::NotDecompressed},
        {"fifo.tar", "pipe.dll", Reason::NotRegularFile},
        {"liar.zip", "liar.dll", Reason::OverBudget},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        RecordingObserver observer;
        const ScanOutcome outcome = ListArchive(c.archive, observer);
        EXPECT_TRUE(outcome.sourceIsArchive);
        ASSERT_EQ(observer.rows.size(), 1u);
        EXPECT_EQ(observer.rows[0].Name, "good.dll");
        EXPECT_EQ(observer.rows[0].SourceVersion, "1.02.03.04");
        const std::vector<UnreadableEntry> expected = {
            {dir.file("out/" + c.archive) + "/" + c.shown, make_error_code(c.reason)}};
        ASSERT_EQ(outcome.unreadable.size(), 1u);
        EXPECT_EQ(outcome.unreadable[0].path, expected[0].path);
        EXPECT_EQ(outcome.unreadable[0].error, expected[0].error)
            << outcome.unreadable[0].error.message();
        EXPECT_EQ(outcome.message, UnreadableEntriesText(1));
    }
}

TEST_F(HostileArchiveTest, TheFilterComesBeforeAnyByteIsUnpacked) {
    // A member that cannot be decompressed but is not wanted is not looked at.
    const struct {
        std::string archive;
        std::string filter;
        std::size_t unreadable;
    } cases[] = {
        {"method.zip", "", 1},
        {"method.zip", "good.*", 0},
        {"liar.zip", "*.exe;good*", 0},
        {"encrypted.zip", "s*", 1},
        {"encrypted.zip", "g*", 0},
        {"symlink.tar", "*.dll", 1},
        {"symlink.tar", "good.dll", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive + " " + c.filter);
        RecordingObserver observer;
        const ScanOutcome outcome = ListArchive(c.archive, observer, c.filter);
        EXPECT_EQ(outcome.unreadable.size(), c.unreadable);
        EXPECT_EQ(observer.rows.size(), MatchesFilter("good.dll", c.filter) ? 1u : 0u);
    }
}

TEST_F(HostileArchiveTest, WantedIsAskedBeforeAnyVisitAndUnwantedMembersGiveNothing) {
    for (const std::string archive : {"method.zip", "twice.zip", "liar.zip", "fifo.tar"}) {
        SCOPED_TRACE(archive);
        auto tree = OpenPackedTree(dir.file("out/" + archive));
        ASSERT_TRUE(tree) << tree.error().Message();
        std::vector<std::string> events;
        const auto walked = (*tree)->Walk(
            [&](const PackedMember& member) {
                events.push_back("wanted " + member.name);
                return member.name == "good.dll";
            },
            [&](const PackedMember& member, const ByteSource* bytes) {
                EXPECT_EQ(events.back(), "wanted " + member.name);
                EXPECT_NE(bytes, nullptr);
                events.push_back("visit " + member.name);
                return true;
            },
            [&](const std::string& name, const Failure&) { events.push_back("unreadable " + name); });
        ASSERT_TRUE(walked) << walked.error().Message();
        EXPECT_EQ(std::count(events.begin(), events.end(), "visit good.dll"), 1);
        EXPECT_TRUE(std::none_of(events.begin(), events.end(), [](const std::string& e) {
            return e.starts_with("unreadable");
        }));
        // A tree is walked once.
        EXPECT_FALSE((*tree)->Walk([](const PackedMember&) { return true; },
                                   [](const PackedMember&, const ByteSource*) { return true; },
                                   [](const std::string&, const Failure&) {}));
    }
}

TEST_F(HostileArchiveTest, NamesAreTheirBytesWhateverTheLocale) {
    const struct {
        std::string archive;
        std::string name;
    } cases[] = {
        {"names.zip", "caf\xC3\xA9.dll"},
        {"names.tar", "caf\xE9.dll"},
    };
    for (const auto& c : cases) {
        RecordingObserver observer;
        const ScanOutcome outcome = ListArchive(c.archive, observer);
        EXPECT_TRUE(outcome.unreadable.empty()) << c.archive;
        ASSERT_EQ(observer.rows.size(), 1u) << c.archive;
        EXPECT_EQ(observer.rows[0].Name, c.name);
    }
}

// 1 GiB of zeros behind the start of a PE image whose header lies at the
// end of it, so its reader would unpack it all: a ZIP and a gzip'd tar. The
// compressed stream is made in a second: after a full flush every further
// mebibyte of zeros packs to the same bytes.
constexpr const char* kBombScript = R"PY(
import os, struct, sys, zlib
out = sys.argv[1]
size = 1 << 30
head = bytearray(64)
head[0:2] = b'MZ'
struct.pack_into('<I', head, 0x3c, size - 256)

def deflated(prefix, zeros, wbits):
    c = zlib.compressobj(9, zlib.DEFLATED, wbits)
    parts = [c.compress(prefix), c.flush(zlib.Z_FULL_FLUSH)]
    mib = 1 << 20
    block = c.compress(bytes(mib)) + c.flush(zlib.Z_FULL_FLUSH)
    parts.append(block * (zeros // mib - 1))
    parts.append(c.compress(bytes(zeros % mib + mib)) + c.flush(zlib.Z_FINISH))
    return b''.join(parts)

def crc_of(prefix, zeros):
    crc = zlib.crc32(prefix)
    mib = bytes(1 << 20)
    while zeros > 0:
        n = min(zeros, len(mib))
        crc = zlib.crc32(mib[:n], crc)
        zeros -= n
    return crc

# The ZIP: one member, deflated, with Zip64 sizes.
name = b'bomb.dll'
data = deflated(bytes(head), size - 64, -15)
crc = crc_of(bytes(head), size - 64)
extra = struct.pack('<HHQQ', 1, 16, size, len(data))
local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, 8, 0, 0x21, crc, 0xffffffff, 0xffffffff,
                    len(name), len(extra)) + name + extra
central_extra = struct.pack('<HHQQ', 1, 16, size, len(data))
central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 45, 45, 0, 8, 0, 0x21, crc, 0xffffffff,
                      0xffffffff, len(name), len(central_extra), 0, 0, 0, 0, 0) + name + central_extra
offset = len(local) + len(data)
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 1, 1, len(central), offset, 0)
with open(os.path.join(out, 'bomb.zip'), 'wb') as f:
    f.write(local + data + central + end)

# The tar: a header, the member, its end; all of it gzip'd.
header = bytearray(512)
header[0:8] = name
header[100:108] = b'0000644\0'
header[108:116] = b'0000000\0'
header[116:124] = b'0000000\0'
header[124:136] = b'%011o\0' % size
header[136:148] = b'00000000000\0'
header[156:157] = b'0'
header[257:263] = b'ustar\0'
header[263:265] = b'00'
header[148:156] = b' ' * 8
header[148:156] = b'%06o\0 ' % sum(header)
zeros = size - 64 + 1024
stream = deflated(bytes(header) + bytes(head), zeros, 31)
with open(os.path.join(out, 'bomb.tar.gz'), 'wb') as f:
    f.write(stream)
)PY";

TEST(ArchiveBudgetTest, BombsStayUnderTheirBudgetAndAreReported) {
    if (test::PythonProgram().empty())
        GTEST_SKIP() << "no Python";
    TempDir dir;
    std::filesystem::create_directories(dir.file("out"));
    ASSERT_EQ(RunPython(kBombScript, {dir.file("out")}), 0);
    for (const std::string archive : {"bomb.zip", "bomb.tar.gz"}) {
        SCOPED_TRACE(archive);
        EXPECT_LT(std::filesystem::file_size(dir.file("out/" + archive)), 4u << 20);
        std::uint64_t readerSaw = 0;
        auto tree = OpenPackedTree(dir.file("out/" + archive));
        ASSERT_TRUE(tree) << tree.error().Message();
        std::vector<std::pair<std::string, std::error_code>> unreadable;
        const auto walked = (*tree)->Walk(
            [](const PackedMember&) { return true; },
            [&](const PackedMember& member, const ByteSource* bytes) {
                EXPECT_EQ(member.size, 1u << 30);
                // The reader goes for the header at the end.
                std::array<std::byte, 64> end{};
                EXPECT_FALSE(bytes->ReadExactly(member.size - 256, end));
                // What was unpacked before the budget ran out is still there.
                std::array<std::byte, 2> start{};
                EXPECT_TRUE(bytes->ReadExactly(0, start));
                readerSaw = static_cast<std::uint64_t>(start[0]) | static_cast<std::uint64_t>(start[1]) << 8;
                return true;
            },
            [&](const std::string& name, const Failure& failure) {
                unreadable.emplace_back(name, failure.code);
            });
        EXPECT_TRUE(walked) << walked.error().Message();
        EXPECT_EQ(readerSaw, 'M' | 'Z' << 8);
        const std::vector<std::pair<std::string, std::error_code>> expected = {
            {"bomb.dll", make_error_code(Reason::OverBudget)}};
        EXPECT_EQ(unreadable, expected);

        // The scan lists it and gives no row.
        if (archive != "bomb.zip")
            continue;
        RecordingObserver observer;
        ScanRequest request;
        request.source = dir.file("out/" + archive);
        Scanner scanner;
        const ScanOutcome outcome = scanner.Run(request, observer);
        EXPECT_TRUE(observer.rows.empty());
        ASSERT_EQ(outcome.unreadable.size(), 1u);
        EXPECT_EQ(outcome.unreadable[0].path, request.source + "/bomb.dll");
        EXPECT_EQ(outcome.unreadable[0].error, make_error_code(Reason::OverBudget));
    }
}

// Bytes that do not compress, so a budget counts what is really unpacked.
std::string NoiseAfter(std::string head, std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    head.reserve(head.size() + length);
    for (std::size_t i = 0; i < length; ++i)
        head.push_back(static_cast<char>(random() & 0xFF));
    return head;
}

TEST(ArchiveBudgetTest, TheArchivesTotalEndsTheWalk) {
    TempDir dir;
    // Half noise, half zeros: each member unpacks to about twice what it takes.
    for (int i = 0; i < 6; ++i)
        dir.write("tree/m" + std::to_string(i) + ".bin",
                  NoiseAfter("", 150'000, i) + std::string(150'000, '\0'));
    if (const auto made = test::MakeArchive(test::ArchiveFormat::TarGz, dir.file("tree"),
                                            dir.file("a.tar.gz")))
        GTEST_SKIP() << *made;
    UnpackBudget budget;
    budget.archiveBytes = 0;
    budget.ratio = 1; // the archive's own size
    auto tree = OpenLibarchiveTree(dir.file("a.tar.gz"), budget);
    ASSERT_TRUE(tree) << tree.error().Message();
    int visits = 0;
    std::vector<std::error_code> failures;
    const auto walked = (*tree)->Walk(
        [](const PackedMember&) { return true; },
        [&](const PackedMember& member, const ByteSource* bytes) {
            ++visits;
            // Read to the end, as a reader looking for data at the end does.
            std::array<std::byte, 1> last{};
            (void)bytes->ReadExactly(member.size - 1, last);
            return true;
        },
        [&](const std::string&, const Failure& failure) { failures.push_back(failure.code); });
    ASSERT_FALSE(walked);
    EXPECT_EQ(walked.error().code, make_error_code(Reason::OverBudget));
    EXPECT_EQ(walked.error().path, dir.file("a.tar.gz"));
    // The member that goes past the archive's size is the last one visited.
    const auto size = std::filesystem::file_size(dir.file("a.tar.gz"));
    EXPECT_EQ(visits, static_cast<int>(size / 300'000) + 1);
    EXPECT_LT(visits, 6);
    EXPECT_EQ(failures, std::vector<std::error_code>{make_error_code(Reason::OverBudget)});

    // The member's own limit holds whatever the archive allows.
    budget = {};
    budget.memberBytes = 200'000;
    tree = OpenLibarchiveTree(dir.file("a.tar.gz"), budget);
    ASSERT_TRUE(tree);
    failures.clear();
    ASSERT_TRUE((*tree)->Walk(
        [](const PackedMember& member) { return member.name == "m3.bin"; },
        [&](const PackedMember& member, const ByteSource* bytes) {
            std::array<std::byte, 16> near{};
            EXPECT_TRUE(bytes->ReadExactly(150'000, near));
            EXPECT_FALSE(bytes->ReadExactly(member.size - 16, near));
            return true;
        },
        [&](const std::string& name, const Failure& failure) {
            EXPECT_EQ(name, "m3.bin");
            failures.push_back(failure.code);
        }));
    EXPECT_EQ(failures, std::vector<std::error_code>{make_error_code(Reason::OverBudget)});
}

TEST(ArchiveBytesTest, MembersReadInAnyOrderAcrossMemoryAndTheTemporaryFile) {
    TempDir dir;
    const std::string big = NoiseAfter(VersionedPe(VersionedFile{{7, 0, 0, 1}}), 200'000, 1);
    const std::string small = NoiseAfter("", 3000, 2);
    dir.write("tree/big.dll", big);
    dir.write("tree/sub/small.bin", small);
    std::filesystem::create_directories(dir.file("spill"));
    for (const auto format : {test::ArchiveFormat::Zip, test::ArchiveFormat::TarXz,
                              test::ArchiveFormat::SevenZip, test::ArchiveFormat::Cab}) {
        SCOPED_TRACE(std::string(test::ArchiveExtension(format)));
        const std::string archive = dir.file("a" + std::string(test::ArchiveExtension(format)));
        if (const auto made = test::MakeArchive(format, dir.file("tree"), archive)) {
            ADD_FAILURE() << *made;
            continue;
        }
        UnpackBudget budget;
        budget.heldInMemory = 4096;
        budget.spillFolder = dir.file("spill");
        auto tree = OpenLibarchiveTree(archive, budget);
        ASSERT_TRUE(tree) << tree.error().Message();
        std::map<std::string, std::string> expected = {{"big.dll", big}, {"sub/small.bin", small}};
        int visits = 0;
        std::mt19937 random(7);
        ASSERT_TRUE((*tree)->Walk(
            [](const PackedMember&) { return true; },
            [&](const PackedMember& member, const ByteSource* bytes) {
                ++visits;
                const std::string& want = expected.at(member.name);
                EXPECT_EQ(bytes->size(), want.size());
                // Forward, behind what is held, across the edge of memory.
                for (int i = 0; i < 200; ++i) {
                    const std::size_t offset = random() % want.size();
                    const std::size_t length = std::min<std::size_t>(random() % 9000, want.size() - offset);
                    const auto got = bytes->Read(offset, length);
                    if (!got) {
                        ADD_FAILURE() << offset << "+" << length;
                        return false;
                    }
                    EXPECT_EQ(std::string(reinterpret_cast<const char*>(got->data()), got->size()),
                              want.substr(offset, length));
                }
                EXPECT_FALSE(bytes->Read(want.size() - 1, 2));
                return true;
            },
            [](const std::string& name, const Failure& failure) {
                ADD_FAILURE() << name << ": " << failure.Message();
            }));
        EXPECT_EQ(visits, 2);
        // The temporary files had no names and are gone.
        EXPECT_TRUE(std::filesystem::is_empty(dir.file("spill")));
    }
}

} // namespace
} // namespace sorvane
