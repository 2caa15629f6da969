#include "engine/files/file_copy.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <thread>
#include <sys/wait.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <cstdio>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane {
namespace {

namespace fs = std::filesystem;

// Every entry below `folder`, relative, folders with a trailing "/", sorted
// and joined by ",".
std::string Tree(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        names.push_back(fs::relative(it->path(), folder).string() +
                        (it->is_directory() && !it->is_symlink() ? "/" : ""));
    std::ranges::sort(names);
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ",") + name;
    return text;
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// "0644 1000000000.000000005": the permission bits and modification time.
std::string Stamp(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    char text[48];
    std::snprintf(text, sizeof text, "%04o %ld.%09ld", st.st_mode & 07777,
                  static_cast<long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
    return text;
}

TEST(CopyRowFiles, CopiesMakesFoldersAndBacksUpOnlyWhatIsThere) {
    // name, target file before ("" none), older backup ("" none), backup on,
    // the backup afterwards ("" none), the target's tree afterwards
    const std::vector<std::tuple<std::string, std::string, std::string, bool, std::string,
                                 std::string>>
        cases = {
            {"a.dll", "old", "", true, "old", "_Backup/,_Backup/a.dll,a.dll"},
            {"a.dll", "old", "older", true, "old", "_Backup/,_Backup/a.dll,a.dll"},
            {"a.dll", "old", "", false, "", "a.dll"},
            {"a.dll", "", "", true, "", "a.dll"}, // an orphan: no _Backup made
            {"sub/deep/a.dll", "", "", true, "", "sub/,sub/deep/,sub/deep/a.dll"},
            {"sub/deep/a.dll", "old", "", true, "old",
             "_Backup/,_Backup/sub/,_Backup/sub/deep/,_Backup/sub/deep/a.dll,sub/,sub/deep/,"
             "sub/deep/a.dll"},
            {"./sub//a.dll", "", "", false, "", "sub/,sub/a.dll"},
        };
    for (const auto& [name, before, older, backup, saved, tree] : cases) {
        SCOPED_TRACE(name + " " + before + (backup ? " backup" : ""));
        test::TempDir dir;
        dir.write("src/" + name, "new");
        fs::create_directory(dir.file("dst"));
        if (!before.empty())
            dir.write("dst/" + name, before);
        if (!older.empty())
            dir.write("dst/_Backup/" + name, older);
        const RowCopyResult result = CopyRowFiles(dir.file("src"), dir.file("dst/"), name, backup);
        EXPECT_EQ(result.status, RowCopyStatus::Copied) << result.failure.Message();
        EXPECT_EQ(result.backedUp, !saved.empty());
        EXPECT_EQ(dir.read("dst/" + name), "new");
        EXPECT_EQ(saved.empty() ? "" : dir.read("dst/_Backup/" + name), saved);
        EXPECT_EQ(Tree(dir.file("dst")), tree);
    }
    // A Target that is gone (a drive not mounted) is not made anew.
    test::TempDir dir;
    dir.write("src/a.dll", "new");
    const RowCopyResult missing = CopyRowFiles(dir.file("src"), dir.file("gone"), "a.dll", true);
    EXPECT_EQ(missing.status, RowCopyStatus::CopyFailed);
    EXPECT_EQ(missing.failure.Message(), "the target folder " + dir.file("gone") + " is not there");
    EXPECT_FALSE(fs::exists(dir.file("gone")));
}

TEST(CopyRowFiles, GivesTheCopyTheSourceBitsAndTimeAndTheBackupTheTargets) {
    // source bits, target bits (0 none), the copy's bits
    const std::vector<std::tuple<mode_t, mode_t, const char*>> cases = {
        {0644, 0444, "0644"}, // a read-only target is replaced
        {0444, 0644, "0444"}, // a read-only source gives a read-only copy
        {0755, 0600, "0755"}, {0600, 0, "0600"},
        {04755, 0644, "0755"}, // set-ID bits are not copied
    };
    for (const auto& [sourceBits, targetBits, copyBits] : cases) {
        SCOPED_TRACE(copyBits);
        test::TempDir dir;
        const auto make = [&](const std::string& name, mode_t bits, time_t seconds) {
            const struct timespec times[2] = {{seconds, 5}, {seconds, 5}};
            const std::string path = dir.write(name, name);
            ::chmod(path.c_str(), bits);
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        };
        make("src/a.dll", sourceBits, 1'000'000'000);
        fs::create_directory(dir.file("dst"));
        if (targetBits != 0)
            make("dst/a.dll", targetBits, 900'000'000);
        const RowCopyResult result = CopyRowFiles(dir.file("src"), dir.file("dst"), "a.dll", true);
        ASSERT_TRUE(result) << result.failure.Message();
        EXPECT_EQ(dir.read("dst/a.dll"), "src/a.dll");
        EXPECT_EQ(Stamp(dir.file("dst/a.dll")), std::string(copyBits) + " 1000000000.000000005");
        char saved[32] = "";
        if (targetBits != 0)
            std::snprintf(saved, sizeof saved, "%04o 900000000.000000005", targetBits);
        EXPECT_EQ(targetBits != 0 ? Stamp(dir.file("dst/_Backup/a.dll")) : "", saved);
    }
}

// For the seams: a disk that fails, and a source written while it is copied.
template <int Error>
ssize_t RangeFails(int, loff_t*, int, loff_t*, size_t, unsigned) {
    errno = Error;
    return -1;
}
ssize_t ReadFails(int, void*, size_t) {
    errno = EIO;
    return -1;
}
ssize_t WriteFails(int, const void*, size_t) {
    errno = EIO;
    return -1;
}
std::string gWrittenMeanwhile;
ssize_t ReadWhileWritten(int fd, void* buffer, size_t size) {
    const int other = ::open(gWrittenMeanwhile.c_str(), O_WRONLY | O_APPEND);
    (void)!::write(other, "more", 4);
    ::close(other);
    return ::read(fd, buffer, size);
}

TEST(CopyRowFiles, AFailureAtAnyStepKeepsTheOldTargetAndLeavesNoTemporaryFile) {
    enum Where { Here, AsNobody, SmallDisk, SizeLimit };
    struct Case {
        const char* what;
        Where where;
        const char* arrange; ///< shell commands run in the test folder
        ByteCopyCalls calls;
        RowCopyStatus status;
        const char* reason;
        const char* tree; ///< of dst afterwards
        bool backup = false;
        std::string name = "a.dll";
    };
    const ByteCopyCalls real;
    const auto failed = RowCopyStatus::CopyFailed;
    const auto backupFailed = RowCopyStatus::BackupFailed;
    const std::vector<Case> cases = {
        {"source vanished", Here, "rm src/a.dll", real, failed, "<src>: No such file or directory",
         "a.dll"},
        {"source unreadable", AsNobody, "chmod 600 src/a.dll", real, failed,
         "<src>: Permission denied", "a.dll"},
        {"source is a folder", Here, "rm src/a.dll; mkdir src/a.dll", real, failed,
         "<src>: a folder has that name; only regular files are copied", "a.dll"},
        {"read error", Here, "", {RangeFails<ENOSYS>, ReadFails, ::write}, failed,
         "<src>: the source file could not be read: Input/output error", "a.dll"},
        {"in-kernel copy error", Here, "", {RangeFails<EIO>, ::read, ::write}, failed,
         "<src>: Input/output error", "a.dll"},
        {"write error", Here, "", {RangeFails<ENOSYS>, ::read, WriteFails}, failed,
         "<dst>/a.dll: cannot write in the folder <dst>: Input/output error", "a.dll"},
        {"source written meanwhile", Here, "", {RangeFails<ENOSYS>, ReadWhileWritten, ::write},
         failed, "<src>: the source file changed while it was copied", "a.dll"},
        {"disk full", SmallDisk, "", real, failed,
         "<dst>/a.dll: cannot write in the folder <dst>: No space left on device", "a.dll"},
        {"disk full after the backup", SmallDisk, "", real, failed,
         "<dst>/a.dll: cannot write in the folder <dst>: No space left on device", "_Backup/,_Backup/a.dll,a.dll", true},
        {"file size limit", SizeLimit, "", real, failed,
         "<dst>/a.dll: cannot write in the folder <dst>: File too large", "a.dll"},
        {"read-only folder", AsNobody, "chmod 555 dst", real, failed,
         "<dst>/a.dll: cannot write in the folder <dst>: Permission denied", "a.dll"},
        // In a sticky folder only the owner of a file may rename over it.
        {"rename refused", AsNobody, "chmod 1777 dst", real, failed,
         "<dst>/a.dll: cannot write in the folder <dst>: Operation not permitted", "a.dll"},
        {"a file in the folder's place", Here, "mkdir src/sub; touch src/sub/a.dll dst/sub", real,
         failed, "<dst>/sub/a.dll: cannot make the folder <dst>/sub: a file has that name",
         "a.dll,sub",
         false, "sub/a.dll"},
        {"folder not creatable", AsNobody, "mkdir src/sub; touch src/sub/a.dll; chmod 555 dst",
         real, failed, "<dst>/sub/a.dll: cannot make the folder <dst>/sub: Permission denied",
         "a.dll",
         false, "sub/a.dll"},
        {"backup folder in the way", Here, "touch dst/_Backup", real, backupFailed,
         "<dst>/a.dll: cannot make the folder <dst>/_Backup: a file has that name", "_Backup,a.dll",
         true},
        {"backup folder read-only", AsNobody, "mkdir -m 555 dst/_Backup", real, backupFailed,
         "<dst>/a.dll: cannot write in the folder <dst>/_Backup: Permission denied", "_Backup/,a.dll", true},
        {"name outside the folder", Here, "", real, failed,
         "<dir>/src/../a.dll: the name does not lead to a file inside the folder", "a.dll", false,
         "../a.dll"},
    };
    const std::string source(256 << 10, 'n');
    const std::string old(16 << 10, 'o');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.where == AsNobody && ::geteuid() != 0) {
            std::cout << "not tested without root: " << c.what << "\n";
            continue;
        }
        test::TempDir dir;
        fs::permissions(dir.path(), fs::perms::all);
        dir.write("src/a.dll", source);
        dir.write("dst/a.dll", old);
        const std::string arrange = "cd '" + dir.path().string() + "' && chmod 755 src dst && ";
        ASSERT_EQ(std::system((arrange + (*c.arrange ? c.arrange : "true")).c_str()), 0);
        gWrittenMeanwhile = dir.file("src/a.dll");
        test::ChildLimits limits;
        if (c.where == AsNobody)
            limits.Unprivileged();
        const auto child = test::RunInChild(limits, [&](std::string& said) {
            if (c.where == SmallDisk) {
                if (::unshare(CLONE_NEWNS) != 0 ||
                    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                    ::mount("tmpfs", dir.file("dst").c_str(), "tmpfs", 0, "size=64k") != 0)
                    return 77;
                dir.write("dst/a.dll", old);
            }
            if (c.where == SizeLimit) {
                const rlimit limit{64 << 10, 64 << 10};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            const RowCopyResult result =
                CopyRowFiles(dir.file("src"), dir.file("dst"), c.name, c.backup, c.calls);
            said = std::to_string(static_cast<int>(result.status)) + "|" + result.failedPath +
                   ": " + result.failure.Message() + "|" +
                   (dir.read("dst/a.dll") == old ? "old kept" : "old lost") + "|" +
                   Tree(dir.file("dst"));
            return 0;
        });
        if (!child.ran) {
            std::cout << "not tested here (no small file system or no other user): " << c.what
                      << "\n";
            continue;
        }
        std::string expected = std::to_string(static_cast<int>(c.status)) + "|" + c.reason +
                               "|old kept|" + c.tree;
        expected = Replaced(Replaced(expected, "<src>", dir.file("src/" + c.name)), "<dst>",
                            dir.file("dst"));
        EXPECT_EQ(child.status, 0);
        EXPECT_EQ(Replaced(child.output, dir.path().string(), "<dir>"),
                  Replaced(expected, dir.path().string(), "<dir>"));
        // The source is only ever read (one case writes to it on purpose).
        EXPECT_TRUE(!fs::is_regular_file(dir.file("src/a.dll")) ||
                    dir.read("src/a.dll").starts_with(source));
    }
}

TEST(CopyFileReplacing, CopiesLargeFilesInPiecesWhicheverWayTheBytesGo) {
    constexpr std::size_t kSize = 48u << 20;
    test::TempDir dir;
    std::string bytes(kSize, '\0');
    for (std::size_t i = 0; i < kSize; i += 4093) // no page like another
        bytes[i] = static_cast<char>(i / 4093);
    dir.write("big", bytes);
    for (const ByteCopyCalls& calls :
         {ByteCopyCalls{}, ByteCopyCalls{RangeFails<ENOSYS>, ::read, ::write}}) {
        SCOPED_TRACE(calls.copyRange == RangeFails<ENOSYS> ? "read and write" : "copy_file_range");
        fs::remove(dir.file("copy"));
        // Far less room than the file needs: a copy that held it whole would fail.
        const auto child = test::RunInChild(
            test::ChildLimits().SpareAddressSpace(16u << 20), [&](std::string& said) {
                const auto copied = CopyFileReplacing(dir.file("big"), dir.file("copy"), calls);
                said = copied ? "ok" : copied.error().Message();
                return 0;
            });
        ASSERT_TRUE(child.ran);
        EXPECT_EQ(child.output, "ok");
        EXPECT_TRUE(dir.read("copy") == bytes);
    }
}

TEST(CreateFolderPath, MakesEachMissingFolderOrSaysWhichOneItCouldNot) {
    // folders and files there before ("f" a file), path asked for, what it says
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
        {{}, "a/b/c", "ok"},
        {{"a/"}, "a/b", "ok"},
        {{}, "a//b/./c/", "ok"},
        {{"a/b/c/"}, "a/b/c", "ok"},
        {{"f"}, "f/x", "cannot make the folder <dir>/f: a file has that name"},
        {{"a/f"}, "a/f/x/y", "cannot make the folder <dir>/a/f: a file has that name"},
    };
    for (const auto& [there, asked, said] : cases) {
        SCOPED_TRACE(asked);
        test::TempDir dir;
        for (const auto& entry : there)
            entry.ends_with('/') ? (void)fs::create_directories(dir.file(entry))
                                 : (void)dir.write(entry, "");
        const auto made = CreateFolderPath(dir.file(asked));
        EXPECT_EQ(made ? "ok" : Replaced(made.error().Message(), dir.path().string(), "<dir>"),
                  said);
        EXPECT_EQ(fs::is_directory(dir.file(asked)), made.has_value());
    }
    EXPECT_EQ(CreateFolderPath("/").has_value(), true);
    EXPECT_EQ(CreateFolderPath("").error().Message(), "no folder name");
}

TEST(CheckSystemFolder, WarnsForWindowsAndSystemFoldersHoweverTheyAreReached) {
    using enum SystemFolderKind;
    // files made below the test folder, target ("<dir>" the test folder), kind
    const std::vector<std::tuple<std::string, std::string, SystemFolderKind>> cases = {
        {"", "<dir>/wine/drive_c/windows", CurrentWindows},
        {"", "<dir>/WINE/Drive_C/Windows/System32", CurrentWindows},
        {"", "<dir>/wine/drive_c/windows2", CurrentWindows},
        {"", "<dir>/wine/drive_c/window", None},
        {"", "<dir>/link-to-windows/system32", CurrentWindows},
        {"", "/usr", OperatingSystem},
        {"", "/usr/lib/x86_64-linux-gnu", OperatingSystem},
        {"", "/etc/", OperatingSystem},
        {"", "/lib64/nothing/here", OperatingSystem},
        {"", "/usrdata/apps", None},
        {"", "/", None},
        {"", "<dir>/link-to-etc", OperatingSystem},
        {"oldwin/win.ini oldwin/system.ini", "<dir>/oldwin/apps/x", SeeminglyWindows},
        {"oldwin/win.ini oldwin/system.ini", "<dir>/oldwin", SeeminglyWindows},
        {"oldwin/WIN.INI oldwin/System.Ini", "<dir>/oldwin/apps", SeeminglyWindows},
        {"oldwin/win.ini", "<dir>/oldwin/apps", None},
        {"oldwin/win.ini && mkdir oldwin/system.ini", "<dir>/oldwin/apps", None},
        {"oldwin/win.ini other/system.ini", "<dir>/oldwin/apps", None},
    };
    for (const auto& [files, target, kind] : cases) {
        SCOPED_TRACE(target);
        test::TempDir dir;
        const std::string made = "cd '" + dir.path().string() +
                                 "' && mkdir -p oldwin other wine/drive_c/windows/system32 && "
                                 "ln -s wine/drive_c/windows link-to-windows && "
                                 "ln -s /etc link-to-etc && touch other/.kept " + files;
        ASSERT_EQ(std::system(made.c_str()), 0);
        const std::string path = Replaced(target, "<dir>", dir.path().string());
        EXPECT_EQ(CheckSystemFolder(path, dir.file("wine/drive_c/windows")), kind);
    }
    // A relative target is taken from the working folder.
    const fs::path previous = fs::current_path();
    fs::current_path("/usr");
    EXPECT_EQ(CheckSystemFolder("share", ""), OperatingSystem);
    fs::current_path(previous);
    // The root itself is never taken for a Windows folder.
    if (::geteuid() == 0) {
        test::TempDir dir;
        dir.write("win.ini", "[x]");
        dir.write("system.ini", "[x]");
        fs::create_directory(dir.file("apps"));
        const auto child = test::RunInChild({}, [&](std::string& said) {
            if (::chroot(dir.path().c_str()) != 0 || ::chdir("/") != 0)
                return 77;
            said = std::to_string(static_cast<int>(CheckSystemFolder("/apps", ""))) + "," +
                   std::to_string(static_cast<int>(CheckSystemFolder("/", "")));
            return 0;
        });
        if (child.ran) {
            EXPECT_EQ(child.output, "0,0");
        }
    }
}

TEST(WineWindowsFolder, ComesFromTheWinePrefixOrTheHomeFolder) {
    const test::ScopedEnv prefix("WINEPREFIX"), home("HOME");
    // WINEPREFIX (null: unset), HOME, folder
    const std::vector<std::tuple<const char*, const char*, std::string>> cases = {
        {"/opt/prefix", "/home/u", "/opt/prefix/drive_c/windows"},
        {"/opt/prefix/", "/home/u", "/opt/prefix/drive_c/windows"},
        {nullptr, "/home/u", "/home/u/.wine/drive_c/windows"},
        {"", "/home/u", "/home/u/.wine/drive_c/windows"},
    };
    for (const auto& [winePrefix, homeFolder, folder] : cases) {
        prefix.Set(winePrefix);
        home.Set(homeFolder);
        EXPECT_EQ(WineWindowsFolder(), folder);
    }
}

// What a scan would note of the file at `path` (links followed, as it reads).
FileStamp ScanStamp(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? StampOf(st)
                                                                  : FileStamp::Missing();
}

TEST(CopyRowFiles, WritesNothingThroughALinkNorOverAFileThatChangedSinceTheScan) {
    const auto refused = RowCopyStatus::Refused;
    const auto link = [](const char* path) {
        return std::string(path) + " is a symbolic link; Sorvane does not copy through links";
    };
    const std::string changed = "changed since the scan; scan again";
    struct Case {
        const char* what;
        const char* planted;   ///< shell commands before the scan
        const char* afterScan; ///< shell commands between the scan and the copy
        const char* name;
        bool backup;
        RowCopyStatus status;
        std::string failedPath; ///< "" when copied
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"plain copy", "", "", "sub/b.dll", true, RowCopyStatus::Copied, "", ""},
        {"target file a link", "ln -sf ../elsewhere/file dst/a.dll", "", "a.dll", false, refused,
         "<dst>/a.dll", link("<dst>/a.dll")},
        {"target file a link, with backup", "ln -sf ../elsewhere/file dst/a.dll", "", "a.dll",
         true, refused, "<dst>/a.dll", link("<dst>/a.dll")},
        {"target a dangling link", "rm dst/a.dll; ln -s ../elsewhere/new.sh dst/a.dll", "",
         "a.dll", true, refused, "<dst>/a.dll", link("<dst>/a.dll")},
        {"sub-folder a link", "rm -r dst/sub; ln -s ../elsewhere/sub dst/sub", "", "sub/b.dll",
         false, refused, "<dst>/sub/b.dll", link("<dst>/sub")},
        {"sub-folder swapped for a link after the scan", "",
         "mv dst/sub dst/was; ln -s ../elsewhere/sub dst/sub", "sub/b.dll", true, refused,
         "<dst>/sub/b.dll", link("<dst>/sub")},
        {"missing sub-folder made a link after the scan", "rm -r dst/sub",
         "ln -s ../elsewhere/sub dst/sub", "sub/b.dll", false, refused, "<dst>/sub/b.dll",
         link("<dst>/sub")},
        {"_Backup a link", "ln -s ../elsewhere dst/_Backup", "", "a.dll", true, refused,
         "<dst>/a.dll", link("<dst>/_Backup")},
        {"_Backup a file", "touch dst/_Backup", "", "a.dll", true, RowCopyStatus::BackupFailed,
         "<dst>/a.dll", "cannot make the folder <dst>/_Backup: a file has that name"},
        {"a dangling link below _Backup", "mkdir dst/_Backup; ln -s ../../elsewhere/new.sh "
                                          "dst/_Backup/a.dll",
         "", "a.dll", true, refused, "<dst>/a.dll", link("<dst>/_Backup/a.dll")},
        {"a folder link below _Backup", "mkdir dst/_Backup; ln -s ../../elsewhere/sub "
                                        "dst/_Backup/sub",
         "", "sub/b.dll", true, refused, "<dst>/sub/b.dll", link("<dst>/_Backup/sub")},
        {"source swapped after the scan", "", "mv src/a.dll src/was; cp -p src/was src/a.dll",
         "a.dll", true, refused, "<src>/a.dll", changed},
        {"source grown after the scan", "", "printf more >> src/a.dll", "a.dll", true, refused,
         "<src>/a.dll", changed},
        {"target made newer after the scan", "", "touch -d '+1 hour' dst/a.dll", "a.dll", false,
         refused, "<dst>/a.dll", changed},
        {"target rewritten after the scan", "", "printf theirs > dst/a.dll", "a.dll", true,
         refused, "<dst>/a.dll", changed},
        {"target appeared after the scan", "", "printf theirs > dst/c.dll", "c.dll", false,
         refused, "<dst>/c.dll", changed},
    };
    for (const bool asNobody : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (asNobody ? " (as nobody)" : ""));
            if (asNobody && ::geteuid() != 0) {
                std::cout << "not tested without root: " << c.what << " as another user\n";
                break;
            }
            test::TempDir dir;
            fs::permissions(dir.path(), fs::perms::all);
            for (const char* name : {"src/a.dll", "src/sub/b.dll", "src/c.dll"})
                dir.write(name, "new bytes");
            dir.write("dst/a.dll", "old a");
            dir.write("dst/sub/b.dll", "old b");
            dir.write("elsewhere/file", "precious");
            dir.write("elsewhere/sub/b.dll", "victim");
            const std::string in = "cd '" + dir.path().string() + "' && ";
            ASSERT_EQ(std::system((in + (*c.planted ? c.planted : "true")).c_str()), 0);
            if (asNobody)
                test::ChownDeep(dir.path().string(), 65534, 65534);
            const ScannedPair scanned{ScanStamp(dir.file("src/") + c.name),
                                      ScanStamp(dir.file("dst/") + c.name)};
            ASSERT_EQ(std::system((in + (*c.afterScan ? c.afterScan : "true")).c_str()), 0);
            if (asNobody)
                test::ChownDeep(dir.path().string(), 65534, 65534);
            const std::string elsewhere = test::TreeDigest(dir.file("elsewhere"));
            const std::string source = test::TreeDigest(dir.file("src"));
            const std::string target = test::TreeDigest(dir.file("dst"));
            test::ChildLimits limits;
            if (asNobody)
                limits.Unprivileged();
            const auto child = test::RunInChild(limits, [&](std::string& said) {
                const RowCopyResult result =
                    CopyRowFiles(dir.file("src"), dir.file("dst"), c.name, c.backup, scanned);
                said = std::to_string(static_cast<int>(result.status)) + "|" + result.failedPath +
                       "|" + result.failure.Message();
                if (result)
                    said += "|" + std::string(result.target == ScanStamp(dir.file("dst/") + c.name)
                                                  ? "stamp of the copy"
                                                  : "another stamp");
                return 0;
            });
            ASSERT_TRUE(child.ran);
            const std::string expected =
                std::to_string(static_cast<int>(c.status)) + "|" + c.failedPath + "|" + c.reason +
                (c.status == RowCopyStatus::Copied ? "|stamp of the copy" : "");
            EXPECT_EQ(Replaced(Replaced(child.output, dir.file("src"), "<src>"), dir.file("dst"),
                               "<dst>"),
                      expected);
            // Nothing outside the Target changed, nor the Target after a refusal.
            EXPECT_EQ(test::TreeDigest(dir.file("elsewhere")), elsewhere);
            EXPECT_EQ(test::TreeDigest(dir.file("src")), source);
            if (c.status != RowCopyStatus::Copied)
                EXPECT_EQ(test::TreeDigest(dir.file("dst")), target);
            else
                EXPECT_EQ(dir.read(std::string("dst/") + c.name), "new bytes");
        }
    }
}

TEST(CopyRowFiles, BacksUpIntoTheUsersFolderOneNameAtATimeNeverThroughALink) {
    const auto link = [](const char* path) {
        return std::string(path) + " is a symbolic link; Sorvane does not copy through links";
    };
    struct Case {
        const char* what;
        const char* planted; ///< shell commands in the test folder before the copy
        const char* backupFolder;
        const char* name;
        RowCopyStatus status;
        std::string reason;
        const char* backup; ///< where the old target is afterwards ("" when nowhere new)
    };
    const std::vector<Case> cases = {
        {"plain", "", "bak", "a.dll", RowCopyStatus::Copied, "", "bak/a.dll"},
        {"sub-folders made", "", "bak", "sub/b.dll", RowCopyStatus::Copied, "", "bak/sub/b.dll"},
        {"the named folder may be a link", "rmdir bak; ln -s own bak", "bak", "sub/b.dll",
         RowCopyStatus::Copied, "", "own/sub/b.dll"},
        {"a folder link below it", "ln -s ../elsewhere/sub bak/sub", "bak", "sub/b.dll",
         RowCopyStatus::Refused, link("<bak>/sub"), ""},
        {"a dangling link below it", "ln -s ../elsewhere/new.sh bak/a.dll", "bak", "a.dll",
         RowCopyStatus::Refused, link("<bak>/a.dll"), ""},
        {"a file link below it", "ln -s ../elsewhere/file bak/a.dll", "bak", "a.dll",
         RowCopyStatus::Refused, link("<bak>/a.dll"), ""},
        {"a file where a folder goes", "touch bak/sub", "bak", "sub/b.dll",
         RowCopyStatus::BackupFailed, "cannot make the folder <bak>/sub: a file has that name",
         ""},
        {"missing", "rmdir bak", "bak", "a.dll", RowCopyStatus::BackupFailed,
         "the backup folder <bak> cannot be opened: No such file or directory", ""},
        {"the target itself", "", "dst", "a.dll", RowCopyStatus::BackupFailed,
         "the backup folder <bak> is the target folder", ""},
        {"the target through a link", "rmdir bak; ln -s dst bak", "bak", "a.dll",
         RowCopyStatus::BackupFailed, "the backup folder <bak> is the target folder", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        for (const char* name : {"src/a.dll", "src/sub/b.dll"})
            dir.write(name, "new bytes");
        dir.write("dst/a.dll", "old a");
        dir.write("dst/sub/b.dll", "old b");
        dir.write("elsewhere/file", "precious");
        dir.write("elsewhere/sub/b.dll", "victim");
        fs::create_directories(dir.file("bak"));
        fs::create_directories(dir.file("own"));
        const std::string in = "cd '" + dir.path().string() + "' && ";
        ASSERT_EQ(std::system((in + (*c.planted ? c.planted : "true")).c_str()), 0);
        const std::string elsewhere = test::TreeDigest(dir.file("elsewhere"));
        const std::string source = test::TreeDigest(dir.file("src"));
        const std::string target = test::TreeDigest(dir.file("dst"));
        const std::string bak = dir.file(c.backupFolder);
        const RowCopyResult result =
            CopyRowFiles(dir.file("src"), dir.file("dst"), c.name, BackupFolder{bak}, {});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(Replaced(Replaced(result.failure.Message(), bak, "<bak>"), dir.file("dst"),
                           "<dst>"),
                  c.reason);
        EXPECT_EQ(result.backedUp, *c.backup != '\0');
        EXPECT_EQ(test::TreeDigest(dir.file("elsewhere")), elsewhere);
        EXPECT_EQ(test::TreeDigest(dir.file("src")), source);
        EXPECT_FALSE(fs::exists(dir.file("dst/_Backup")));
        if (c.status == RowCopyStatus::Copied) {
            EXPECT_EQ(dir.read(std::string("dst/") + c.name), "new bytes");
            EXPECT_EQ(dir.read(c.backup), std::string(c.name) == "a.dll" ? "old a" : "old b");
        } else {
            EXPECT_EQ(test::TreeDigest(dir.file("dst")), target);
        }
    }
}

TEST(CopyRowFiles, ASparseFileKeepsItsHolesInTheCopyAndTheBackup) {
    constexpr off_t kSize = off_t{2} << 30;
    const std::string data(8 << 10, 'd');
    const off_t offsets[] = {0, off_t{1} << 30, kSize - static_cast<off_t>(data.size())};
    test::TempDir dir;
    const auto sparse = [&](const std::string& name) {
        const std::string path = dir.write(name, "");
        const int fd = ::open(path.c_str(), O_WRONLY);
        for (const off_t at : offsets)
            EXPECT_EQ(::pwrite(fd, data.data(), data.size(), at),
                      static_cast<ssize_t>(data.size()));
        EXPECT_EQ(::ftruncate(fd, kSize), 0);
        ::close(fd);
    };
    sparse("src/big.dll");
    sparse("dst/big.dll");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("src/big.dll").c_str(), &st), 0);
    if (st.st_blocks * 512 >= kSize)
        GTEST_SKIP() << "this file system keeps no holes";
    ::utimensat(AT_FDCWD, dir.file("src/big.dll").c_str(), nullptr, 0);
    const RowCopyResult result = CopyRowFiles(dir.file("src"), dir.file("dst"), "big.dll", true);
    ASSERT_TRUE(result) << result.failure.Message();
    for (const char* name : {"dst/big.dll", "dst/_Backup/big.dll"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(::stat(dir.file(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_size, kSize);
        EXPECT_LE(st.st_blocks * 512, 1 << 20); // 24 KiB of data, no more than a MiB of disk
        const int fd = ::open(dir.file(name).c_str(), O_RDONLY);
        // Each stretch of data is there, with holes (zeros) right around it.
        for (const off_t at : offsets) {
            std::string read(data.size(), '\0');
            EXPECT_EQ(::pread(fd, read.data(), read.size(), at), ssize_t(data.size()));
            EXPECT_TRUE(read == data) << "at " << at;
            char around[2] = {1, 1};
            EXPECT_TRUE(at == 0 || (::pread(fd, &around[0], 1, at - 1) == 1 && around[0] == 0));
            const off_t after = at + off_t(data.size());
            EXPECT_TRUE(after == kSize || (::pread(fd, &around[1], 1, after) == 1 && around[1] == 0));
        }
        ::close(fd);
    }
}

// Status and failure message of a row: "0" when copied.
std::string Told(const RowCopyResult& result) {
    return result ? "0"
                  : std::to_string(static_cast<int>(result.status)) + " " +
                        result.failure.Message();
}

TEST(RowCopyBatch, CopiesInGroupsAndTellsEachRowInTheOrderAdded) {
    // Every row's fate by its number: most are copied, some fail or are refused.
    constexpr std::size_t kRows = 320;
    const auto fate = [](std::size_t i) {
        return i % 97 == 5 ? "source gone" : i % 89 == 7 ? "changed" : i % 83 == 3 ? "link" : "";
    };
    for (const bool backup : {false, true}) {
        SCOPED_TRACE(backup ? "backup" : "no backup");
        test::TempDir dir;
        std::vector<std::string> names;
        std::vector<ScannedPair> scanned;
        for (std::size_t i = 0; i < kRows; ++i) {
            names.push_back(std::string("d") + std::to_string(i % 7) + "/f" + std::to_string(i) +
                            ".dll");
            dir.write("src/" + names[i], "new " + std::to_string(i) + std::string(i * 37, 'n'));
            if (i % 4 != 0)
                dir.write("dst/" + names[i], "old " + std::to_string(i));
            scanned.push_back({ScanStamp(dir.file("src/" + names[i])),
                               ScanStamp(dir.file("dst/" + names[i]))});
            const std::string what = fate(i);
            if (what == "source gone")
                fs::remove(dir.file("src/" + names[i]));
            else if (what == "changed")
                dir.write("dst/" + names[i], "changed after the scan, longer");
            else if (what == "link")
                fs::remove(dir.file("dst/" + names[i])),
                    fs::create_symlink("../../src/" + names[i], dir.file("dst/" + names[i]));
        }
        fs::create_directories(dir.file("dst"));
        RowCopyBatch batch(dir.file("src"), dir.file("dst"), backup);
        std::vector<RowCopyBatch::Finished> told;
        std::size_t deliveries = 0, largest = 0;
        for (std::size_t i = 0; i < kRows; ++i) {
            auto finished = batch.Add(names[i], scanned[i]);
            deliveries += !finished.empty();
            largest = std::max(largest, finished.size());
            std::ranges::move(finished, std::back_inserter(told));
        }
        std::ranges::move(batch.Finish(), std::back_inserter(told));
        EXPECT_FALSE(batch.Stopped());
        // Rows come back grouped, every one once, in order.
        EXPECT_GT(deliveries, 2u);
        EXPECT_GT(largest, 50u);
        ASSERT_EQ(told.size(), kRows);
        for (std::size_t i = 0; i < kRows; ++i) {
            SCOPED_TRACE(names[i]);
            EXPECT_EQ(told[i].row, i);
            const std::string what = fate(i);
            const std::string expected =
                what == "source gone" ? "-1 No such file or directory"
                : what == "changed"   ? "-3 changed since the scan; scan again"
                : what == "link"      ? "-3 " + dir.file("dst/" + names[i]) +
                                       " is a symbolic link; Sorvane does not copy through links"
                                      : "0";
            EXPECT_EQ(Told(told[i].result), expected);
            if (expected != "0")
                continue;
            EXPECT_EQ(dir.read("dst/" + names[i]),
                      "new " + std::to_string(i) + std::string(i * 37, 'n'));
            EXPECT_EQ(told[i].result.target, ScanStamp(dir.file("dst/" + names[i])));
            EXPECT_EQ(told[i].result.backedUp, backup && i % 4 != 0);
            if (backup && i % 4 != 0) {
                EXPECT_EQ(dir.read("dst/_Backup/" + names[i]), "old " + std::to_string(i));
            }
        }
        for (const auto& entry : fs::recursive_directory_iterator(dir.file("dst")))
            EXPECT_EQ(entry.path().filename().string().find(".sorvane-tmp-"), std::string::npos)
                << entry.path();
    }
}

TEST(RowCopyBatch, ABackupThatFailsEndsTheBatchAfterTheRowsBeforeIt) {
    test::TempDir dir;
    for (const char* name : {"a.dll", "b.dll", "sub/c.dll", "d.dll"}) {
        dir.write(std::string("src/") + name, "new");
        dir.write(std::string("dst/") + name, "old");
    }
    dir.write("dst/_Backup/sub", "a file where the folder goes");
    RowCopyBatch batch(dir.file("src"), dir.file("dst"), true);
    std::vector<std::string> told;
    const auto tell = [&](const std::vector<RowCopyBatch::Finished>& finished) {
        for (const auto& row : finished)
            told.push_back(std::to_string(row.row) + ":" +
                           Replaced(Told(row.result), dir.file("dst"), "<dst>"));
    };
    for (const char* name : {"a.dll", "b.dll", "sub/c.dll", "d.dll"})
        tell(batch.Add(name, {}));
    tell(batch.Finish());
    EXPECT_TRUE(batch.Stopped());
    EXPECT_EQ(told, (std::vector<std::string>{
                        "0:0", "1:0",
                        "2:-2 cannot make the folder <dst>/_Backup/sub: a file has that name"}));
    EXPECT_EQ(dir.read("dst/a.dll"), "new");
    EXPECT_EQ(dir.read("dst/b.dll"), "new");
    EXPECT_EQ(dir.read("dst/sub/c.dll"), "old");
    EXPECT_EQ(dir.read("dst/d.dll"), "old");
}

TEST(CopyRowFiles, TheBackupIsTheOldFileItselfWhereALinkCanBeMade) {
    enum Where { TargetBackup, OwnFolder, OtherFileSystem };
    struct Case {
        const char* what;
        Where where;
        bool older;       ///< an older backup is there
        bool asNobody;    ///< run as nobody, the old target root's own
        bool linked;      ///< the backup is the old file itself
    };
    const std::vector<Case> cases = {
        {"_Backup", TargetBackup, false, false, true},
        {"_Backup over an older backup", TargetBackup, true, false, true},
        {"the user's folder", OwnFolder, false, false, true},
        {"the user's folder over an older backup", OwnFolder, true, false, true},
        {"another file system", OtherFileSystem, false, false, false},
        {"another file system over an older backup", OtherFileSystem, true, false, false},
        // protected_hardlinks: no link to another user's file we may not write
        {"another user's file", TargetBackup, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.asNobody && ::geteuid() != 0) {
            std::cout << "not tested without root: " << c.what << "\n";
            continue;
        }
        test::TempDir dir;
        fs::permissions(dir.path(), fs::perms::all);
        dir.write("src/sub/a.dll", "new bytes");
        const std::string old = dir.write("dst/sub/a.dll", "old bytes");
        const struct timespec times[2] = {{900'000'000, 7}, {900'000'000, 7}};
        ::utimensat(AT_FDCWD, old.c_str(), times, 0);
        // Another user's file must be readable to be copied.
        ::chmod(old.c_str(), c.asNobody ? 0644 : 0640);
        const std::string bak = c.where == TargetBackup ? dir.file("dst/_Backup") : dir.file("bak");
        fs::create_directories(bak);
        if (c.older)
            dir.write(fs::relative(bak, dir.path()).string() + "/sub/a.dll", "older");
        if (c.asNobody) {
            test::ChownDeep(dir.path().string(), 65534, 65534);
            ASSERT_EQ(::chown(old.c_str(), 0, 0), 0);
        }
        struct stat before {};
        ::stat(old.c_str(), &before);
        test::ChildLimits limits;
        if (c.asNobody)
            limits.Unprivileged();
        const auto child = test::RunInChild(limits, [&](std::string& said) {
            if (c.where == OtherFileSystem &&
                (::unshare(CLONE_NEWNS) != 0 ||
                 ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 ::mount("tmpfs", bak.c_str(), "tmpfs", 0, "size=1m") != 0))
                return 77;
            if (c.where == OtherFileSystem && c.older)
                dir.write("bak/sub/a.dll", "older");
            const RowCopyResult result =
                c.where == TargetBackup
                    ? CopyRowFiles(dir.file("src"), dir.file("dst"), "sub/a.dll", true)
                    : CopyRowFiles(dir.file("src"), dir.file("dst"), "sub/a.dll",
                                   BackupFolder{bak}, {});
            struct stat saved {}, now {};
            ::stat((bak + "/sub/a.dll").c_str(), &saved);
            ::stat(old.c_str(), &now);
            said = Told(result) + "|" + dir.read(fs::relative(bak, dir.path()).string() +
                                                 "/sub/a.dll") +
                   "|" + Stamp(bak + "/sub/a.dll") + "|" +
                   (saved.st_ino == before.st_ino ? "linked" : "copied") + "|" +
                   std::to_string(saved.st_uid) + "|" +
                   (now.st_ino != before.st_ino ? "new target" : "old target") + "|" +
                   dir.read("dst/sub/a.dll") + "|" + Tree(bak);
            return 0;
        });
        if (!child.ran) {
            std::cout << "not tested here (no file system of its own): " << c.what << "\n";
            continue;
        }
        EXPECT_EQ(child.status, 0);
        EXPECT_EQ(child.output, std::string("0|old bytes|") + (c.asNobody ? "0644" : "0640") +
                                    " 900000000.000000007|" + (c.linked ? "linked" : "copied") +
                                    "|" + (c.asNobody ? "65534" : std::to_string(::geteuid())) +
                                    "|new target|new bytes|sub/,sub/a.dll");
    }
}

// Makes the two trees of the kill test afresh: `rows` targets with old bytes
// and sources with new ones, every third row with an older backup, all of
// them dated long ago.
void MakeKillTrees(const test::TempDir& dir, std::size_t rows, bool backup) {
    fs::remove_all(dir.file("src"));
    fs::remove_all(dir.file("dst"));
    const struct timespec past[2] = {{946'684'800, 0}, {946'684'800, 0}};
    const auto dated = [&](const std::string& path) {
        ::utimensat(AT_FDCWD, path.c_str(), past, AT_SYMLINK_NOFOLLOW);
    };
    for (std::size_t i = 0; i < rows; ++i) {
        const std::string name =
            std::string("d") + std::to_string(i % 5) + "/f" + std::to_string(i);
        dated(dir.write("src/" + name, "new " + std::to_string(i) +
                                           std::string((i * 7919) % (96 << 10), 'n')));
        dated(dir.write("dst/" + name, "old " + std::to_string(i)));
        if (backup && i % 3 == 0)
            dated(dir.write("dst/_Backup/" + name, "older " + std::to_string(i)));
    }
}

TEST(RowCopyBatch, AKillAtAnyMomentLeavesEachTargetOldOrNewAndTheNextRunCleansUp) {
    constexpr std::size_t kRows = 300;
    constexpr int kKills = 5;
    const auto name = [](std::size_t i) {
        return std::string("d") + std::to_string(i % 5) + "/f" + std::to_string(i);
    };
    const auto newBytes = [](std::size_t i) {
        return "new " + std::to_string(i) + std::string((i * 7919) % (96 << 10), 'n');
    };
    std::mt19937 random(20240607);
    for (const bool backup : {false, true}) {
        test::TempDir dir;
        // One batch in a child process, killed `after` into it (never: the
        // time a whole batch takes).
        const auto run = [&](std::optional<std::chrono::microseconds> after) {
            const auto start = std::chrono::steady_clock::now();
            const pid_t copier = ::fork();
            if (copier == 0) {
                RowCopyBatch batch(dir.file("src"), dir.file("dst"), backup);
                for (std::size_t i = 0; i < kRows; ++i)
                    batch.Add(name(i), {});
                batch.Finish();
                ::_exit(0);
            }
            if (after) {
                std::this_thread::sleep_for(*after);
                ::kill(copier, SIGKILL);
            }
            int status = 0;
            ::waitpid(copier, &status, 0);
            return std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start);
        };
        MakeKillTrees(dir, kRows, backup);
        const auto whole = run(std::nullopt);
        for (int kill = 0; kill < kKills; ++kill) {
            const auto after = std::chrono::microseconds(random() % (whole.count() + 1));
            SCOPED_TRACE(testing::Message()
                         << (backup ? "backup" : "no backup") << ", killed after " << after.count()
                         << " of " << whole.count() << " µs");
            MakeKillTrees(dir, kRows, backup);
            run(after);
            // Every target is old or new, never missing or cut; a new one's
            // backup is the old file.
            std::size_t copied = 0;
            std::vector<std::size_t> left;
            for (std::size_t i = 0; i < kRows; ++i) {
                const std::string now = dir.read("dst/" + name(i));
                const bool isNew = now == newBytes(i);
                EXPECT_TRUE(isNew || now == "old " + std::to_string(i)) << name(i);
                copied += isNew;
                if (!isNew)
                    left.push_back(i);
                if (!backup)
                    continue;
                const std::string saved = fs::exists(dir.file("dst/_Backup/" + name(i)))
                                              ? dir.read("dst/_Backup/" + name(i))
                                              : "";
                if (isNew)
                    EXPECT_EQ(saved, "old " + std::to_string(i)) << name(i);
                else
                    EXPECT_TRUE(saved == (i % 3 == 0 ? "older " + std::to_string(i) : "") ||
                                saved == "old " + std::to_string(i))
                        << name(i);
            }
            std::cout << "killed after " << after.count() << " of " << whole.count() << " µs: "
                      << copied << " of " << kRows << " copied\n";
            // The next run copies the rest and leaves no temporary file.
            RowCopyBatch again(dir.file("src"), dir.file("dst"), backup);
            std::vector<RowCopyBatch::Finished> told;
            for (const std::size_t i : left)
                std::ranges::move(again.Add(name(i), {}), std::back_inserter(told));
            std::ranges::move(again.Finish(), std::back_inserter(told));
            ASSERT_EQ(told.size(), left.size());
            for (const auto& row : told)
                EXPECT_EQ(Told(row.result), "0") << name(left[row.row]);
            for (std::size_t i = 0; i < kRows; ++i) {
                EXPECT_EQ(dir.read("dst/" + name(i)), newBytes(i));
                if (backup) {
                    EXPECT_EQ(dir.read("dst/_Backup/" + name(i)), "old " + std::to_string(i));
                }
            }
            for (const auto& entry : fs::recursive_directory_iterator(dir.file("dst")))
                EXPECT_EQ(entry.path().filename().string().find(".sorvane-tmp-"),
                          std::string::npos)
                    << entry.path();
        }
    }
}

} // namespace
} // namespace sorvane
