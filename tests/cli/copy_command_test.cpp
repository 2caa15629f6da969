#include "cli/commands.h"

#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <random>
#include <thread>
#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane::cli {
namespace {

namespace fs = std::filesystem;
using test::VersionedPe;

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// The files below `folder`, relative, sorted and joined by ",".
std::string Files(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            names.push_back(fs::relative(entry.path(), folder).string());
    std::ranges::sort(names);
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ",") + name;
    return text;
}

class CopyCommand : public ::testing::Test {
protected:
    void SetUp() override {
        fs::permissions(dir.path(), fs::perms::all);
        dir.write("src/new.dll", kNew);
        dir.write("dst/new.dll", kOld);
        dir.write("src/same.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("dst/same.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("src/older.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("dst/older.dll", VersionedPe({{3, 0, 0, 0}}));
        dir.write("src/orphan.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("src/sub/deep.dll", kNew);
        dir.write("dst/sub/deep.dll", kOld);
    }

    // Runs the command; the output with the test folder shown as "<dir>".
    int Run(std::vector<std::string> args, bool withFolders = true) {
        std::ostringstream outText, errText;
        if (withFolders)
            args.insert(args.begin(), {dir.file("src"), dir.file("dst")});
        const int status = RunCopy(args, outText, errText);
        out = Replaced(outText.str(), dir.path().string(), "<dir>");
        err = Replaced(errText.str(), dir.path().string(), "<dir>");
        return status;
    }

    const std::string kNew = VersionedPe({{2, 0, 0, 0}});
    const std::string kOld = VersionedPe({{1, 0, 0, 0}});
    test::TempDir dir;
    std::string out;
    std::string err;
};

TEST_F(CopyCommand, CopiesTheNewerSourceFilesAndSavesTheOldOnes) {
    // arguments, what it prints, the files in dst/_Backup afterwards
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
        {{},
         "copied new.dll (2.00.0000 over 1.00.0000)\n"
         "Copied 1 of 1 file, 1 old one saved in <dir>/dst/_Backup.\n",
         "new.dll"},
        {{"-r"},
         "copied new.dll (2.00.0000 over 1.00.0000)\n"
         "copied sub/deep.dll (2.00.0000 over 1.00.0000)\n"
         "Copied 2 of 2 files, 2 old ones saved in <dir>/dst/_Backup.\n",
         "new.dll,sub/deep.dll"},
        {{"--subfolders", "--no-backup"},
         "copied new.dll (2.00.0000 over 1.00.0000)\n"
         "copied sub/deep.dll (2.00.0000 over 1.00.0000)\n"
         "Copied 2 of 2 files.\n",
         ""},
        {{"-r", "--no-backup", "--backup", "--filter", "deep*"},
         "copied sub/deep.dll (2.00.0000 over 1.00.0000)\n"
         "Copied 1 of 1 file, 1 old one saved in <dir>/dst/_Backup.\n",
         "sub/deep.dll"},
        {{"-r", "--dry-run"},
         "would copy new.dll (2.00.0000 over 1.00.0000)\n"
         "would copy sub/deep.dll (2.00.0000 over 1.00.0000)\n"
         "Would copy 2 of 2 files, each old one saved in <dir>/dst/_Backup first.\n",
         ""},
        {{"--filter", "same.dll"}, "No source file is newer than its target.\n", ""},
    };
    for (const auto& [args, printed, saved] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        fs::remove_all(dir.file("dst/_Backup"));
        SetUp(); // the old targets again
        EXPECT_EQ(Run(args), 0);
        EXPECT_EQ(out, printed);
        EXPECT_EQ(err, "");
        EXPECT_EQ(fs::exists(dir.file("dst/_Backup")) ? Files(dir.file("dst/_Backup")) : "", saved);
        for (const std::string name : {"new.dll", "sub/deep.dll"}) {
            const bool copied = printed.find("copied " + name + " ") != std::string::npos;
            EXPECT_EQ(dir.read("dst/" + name), copied ? kNew : kOld) << name;
            EXPECT_EQ(saved.find(name) != std::string::npos ? dir.read("dst/_Backup/" + name) : kOld,
                      kOld);
        }
    }
}

TEST_F(CopyCommand, BackupDirTakesTheBackupsAndRefusesWhatCannotHoldThem) {
    fs::create_directories(dir.file("bak"));
    dir.write("file", "x");
    const std::string bak = dir.file("bak");
    // options after SOURCE TARGET, status, what it prints (out, then err), files in bak
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
        std::string saved;
    };
    const std::vector<Case> cases = {
        {{"-r", "--backup-dir", bak}, 0,
         "copied new.dll (2.00.0000 over 1.00.0000)\n"
         "copied sub/deep.dll (2.00.0000 over 1.00.0000)\n"
         "Copied 2 of 2 files, 2 old ones saved in <dir>/bak.\n",
         "", "new.dll,sub/deep.dll"},
        {{"-n", "--backup-dir=" + bak}, 0,
         "would copy new.dll (2.00.0000 over 1.00.0000)\n"
         "Would copy 1 of 1 file, each old one saved in <dir>/bak first.\n",
         "", ""},
        // A link below it refuses the file and changes nothing there.
        {{"-r", "--backup-dir", bak, "--arrange", "ln -s ../dst/sub bak/sub"}, 2,
         "copied new.dll (2.00.0000 over 1.00.0000)\nCopied 1 of 2 files, 1 old one saved in "
         "<dir>/bak.\n",
         "sorvane-cli: refused <dir>/dst/sub/deep.dll: <dir>/bak/sub is a symbolic link; "
         "Sorvane does not copy through links\n1 file refused: nothing was written for it.\n",
         "new.dll"},
        {{"--backup-dir", dir.file("none")}, 2, "",
         "sorvane-cli copy: --backup-dir: <dir>/none: No such file or directory\n", ""},
        {{"--backup-dir", dir.file("file")}, 2, "",
         "sorvane-cli copy: --backup-dir: <dir>/file is not a folder\n", ""},
        {{"--backup-dir", dir.file("src")}, 2, "",
         "sorvane-cli copy: --backup-dir: <dir>/src is the source folder\n", ""},
        {{"--backup-dir", dir.file("dst") + "/."}, 2, "",
         "sorvane-cli copy: --backup-dir: <dir>/dst/. is the target folder\n", ""},
        // TARGET/sub would take the backup of new.dll as TARGET/sub/new.dll.
        {{"--backup-dir", dir.file("dst/sub")}, 2, "",
         "sorvane-cli copy: --backup-dir: <dir>/dst/sub is inside the target folder\n", ""},
        {{"--backup-dir", dir.file("src/sub")}, 2, "",
         "sorvane-cli copy: --backup-dir: <dir>/src/sub is inside the source folder\n", ""},
        {{"--backup-dir", dir.path().string()}, 2, "",
         "sorvane-cli copy: --backup-dir: <dir> holds the source folder\n", ""},
        {{"--backup-dir", dir.file("bak/../dst/sub")}, 2, "",
         "sorvane-cli copy: --backup-dir: <dir>/bak/../dst/sub is inside the target folder\n", ""},
        {{"--backup-dir", bak, "--no-backup"}, 2, "",
         "sorvane-cli copy: --backup-dir does not go with --no-backup\n", ""},
        {{"--backup-dir="}, 2, "", "sorvane-cli copy: --backup-dir: needs a folder\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        fs::remove_all(bak);
        fs::create_directories(bak);
        SetUp(); // the old targets again
        std::vector<std::string> args = c.args;
        if (const auto arrange = std::ranges::find(args, "--arrange"); arrange != args.end()) {
            ASSERT_EQ(std::system(("cd '" + dir.path().string() + "' && " + arrange[1]).c_str()), 0);
            args.erase(arrange, arrange + 2);
        }
        const std::string before = test::TreeDigest(dir.file("dst/sub"));
        EXPECT_EQ(Run(args), c.status);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err.substr(0, c.err.size()), c.err) << err;
        EXPECT_FALSE(fs::exists(dir.file("dst/_Backup")));
        EXPECT_EQ(Files(bak), c.saved);
        for (const std::string name : {"new.dll", "sub/deep.dll"}) {
            const bool copied = c.out.find("copied " + name + " ") != std::string::npos;
            EXPECT_EQ(dir.read("dst/" + name), copied ? kNew : kOld) << name;
            if (c.saved.find(name) != std::string::npos) {
                EXPECT_EQ(dir.read("bak/" + name), kOld);
            }
        }
        if (c.status != 0) {
            EXPECT_EQ(test::TreeDigest(dir.file("dst/sub")), before);
        }
    }
}

TEST_F(CopyCommand, NamesEachFileItCouldNotCopyAndExitsWithOne) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run as another user";
    // Run as nobody: the target folder is nobody's, its sub-folder is not.
    const std::string bell = "bell\a.dll";
    dir.write("src/" + bell, kNew);
    dir.write("dst/" + bell, kOld);
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
    EXPECT_EQ(::chown(dir.file("dst/sub").c_str(), 0, 0), 0);
    ::chmod(dir.file("dst/sub").c_str(), 0755);
    const auto runAsNobody = [&](std::vector<std::string> args) {
        const auto child = test::RunInChild(test::ChildLimits().Unprivileged(), [&](std::string& said) {
            const int status = Run(args);
            said = std::to_string(status) + "\n" + out + "--\n" + err;
            return 0;
        });
        EXPECT_TRUE(child.ran);
        return child.output;
    };
    EXPECT_EQ(runAsNobody({"-r", "--no-backup"}),
              "1\n"
              "copied bell\\x07.dll (2.00.0000 over 1.00.0000)\n"
              "copied new.dll (2.00.0000 over 1.00.0000)\n"
              "Copied 2 of 3 files.\n--\n"
              "sorvane-cli: cannot copy <dir>/dst/sub/deep.dll: cannot write in the folder "
              "<dir>/dst/sub: Permission denied\n"
              "1 file could not be copied.\n");
    EXPECT_EQ(dir.read("dst/sub/deep.dll"), kOld);
    EXPECT_EQ(Files(dir.file("dst/sub")), "deep.dll");

    // A target file nobody may write is skipped, as the window skips it.
    EXPECT_EQ(::chown(dir.file("dst/sub/deep.dll").c_str(), 0, 0), 0);
    EXPECT_EQ(runAsNobody({"-r", "--dry-run"}),
              "1\n"
              "Would copy 0 of 1 file, each old one saved in <dir>/dst/_Backup first.\n--\n"
              "sorvane-cli: skipped <dir>/dst/sub/deep.dll: the target file cannot be written\n"
              "1 file skipped: the target file cannot be written.\n");
}

TEST_F(CopyCommand, StopsAtTheFirstBackupThatFails) {
    dir.write("dst/_Backup", "a file where the folder goes");
    EXPECT_EQ(Run({"-r"}), 1);
    EXPECT_EQ(out, "Copied 0 of 2 files.\n");
    EXPECT_EQ(err, "sorvane-cli: cannot back up <dir>/dst/new.dll: cannot make the folder "
                   "<dir>/dst/_Backup: a file has that name\n"
                   "Copying stopped: a target file could not be backed up.\n");
    EXPECT_EQ(dir.read("dst/new.dll"), kOld);
    EXPECT_EQ(dir.read("dst/sub/deep.dll"), kOld);
}

TEST_F(CopyCommand, RefusesSystemFoldersAndBadPathsUnlessForced) {
    dir.write("win/win.ini", "[x]");
    dir.write("win/system.ini", "[x]");
    dir.write("win/apps/new.dll", kOld);
    fs::create_directories(dir.file("prefix/drive_c/windows/system32"));
    // Another letter case than the folder's own: the test ignores case.
    const test::ScopedEnv prefix("WINEPREFIX", dir.file("PREFIX").c_str());
    const std::string src = dir.file("src");
    const std::string kForced = "_Backup/new.dll,new.dll";
    // arguments, status, start of the error text, files of win/apps afterwards
    const std::vector<std::tuple<std::vector<std::string>, int, std::string, std::string>> cases = {
        {{src, dir.file("win/apps")}, 2,
         "sorvane-cli: <dir>/win/apps:\nYou are trying to replace files in the folder that "
         "seemingly is a Windows directory.\n",
         "new.dll"},
        // A dry run writes nothing: never refused, the warning is a note.
        {{src, dir.file("win/apps"), "--dry-run"}, 0,
         "sorvane-cli: note: <dir>/win/apps:\nYou are trying to replace files in the folder "
         "that seemingly is a Windows directory.\nA result",
         "new.dll"},
        {{src, dir.file("win/apps"), "-n"}, 0, "sorvane-cli: note: <dir>/win/apps:\n", "new.dll"},
        {{src, "/usr", "-n"}, 0,
         "sorvane-cli: note: /usr:\nYou are trying to replace files in a folder of the "
         "operating system.\n",
         "new.dll"},
        {{src, dir.file("win/apps"), "--force"}, 0,
         "sorvane-cli: <dir>/win/apps:\nYou are trying to replace files in the folder that "
         "seemingly is a Windows directory.\nA result",
         kForced},
        {{src, dir.file("prefix/drive_c/windows/system32")}, 2,
         "sorvane-cli: <dir>/prefix/drive_c/windows/system32:\nYou are trying to replace files "
         "in your current Windows directory.\n",
         kForced},
        {{src, "/usr"}, 2,
         "sorvane-cli: /usr:\nYou are trying to replace files in a folder of the operating "
         "system.\n",
         kForced},
        {{src, dir.file("missing")}, 2, "sorvane-cli: Target path not exists.\n", kForced},
        {{src, src}, 2, "sorvane-cli: Source and Target are the same folder.\n", kForced},
        {{dir.file("release.map"), dir.file("dst")}, 2,
         "sorvane-cli copy: SOURCE must be a folder: a Source Map holds no files to copy\n", kForced},
        {{src}, 2, "sorvane-cli copy: TARGET is required\n", kForced},
        {{src, dir.file("dst"), "--backup=maybe"}, 2, "sorvane-cli copy: --backup takes no value",
         kForced},
    };
    for (const auto& [args, status, said, files] : cases) {
        SCOPED_TRACE(args.back());
        EXPECT_EQ(Run(args, false), status);
        EXPECT_EQ(err.substr(0, said.size()), said) << err;
        EXPECT_EQ(out.empty(), status == 2);
        EXPECT_EQ(Files(dir.file("win/apps")), files);
    }
    EXPECT_EQ(dir.read("dst/new.dll"), kOld);
}

TEST_F(CopyCommand, RefusesEveryFileALinkLeadsOutOfTheTargetAndExitsWithTwo) {
    const std::string linked = " is a symbolic link; Sorvane does not copy through links\n";
    const std::string one = "1 file refused: nothing was written for it.\n";
    // planted (shell, in the test folder), what it says on standard error
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"ln -sf ../elsewhere/old.dll dst/new.dll",
         "sorvane-cli: refused <dir>/dst/new.dll: <dir>/dst/new.dll" + linked + one},
        {"rm -r dst/sub; ln -s ../elsewhere/sub dst/sub",
         "sorvane-cli: refused <dir>/dst/sub/deep.dll: <dir>/dst/sub" + linked + one},
        {"ln -s ../elsewhere dst/_Backup",
         "sorvane-cli: refused <dir>/dst/new.dll: <dir>/dst/_Backup" + linked +
             "sorvane-cli: refused <dir>/dst/sub/deep.dll: <dir>/dst/_Backup" + linked +
             "2 files refused: nothing was written for them.\n"},
        {"mkdir dst/_Backup; ln -s ../../elsewhere/new.sh dst/_Backup/new.dll",
         "sorvane-cli: refused <dir>/dst/new.dll: <dir>/dst/_Backup/new.dll" + linked + one},
    };
    for (const bool asNobody : {false, true}) {
        for (const auto& [planted, said] : cases) {
            SCOPED_TRACE(std::string(planted) + (asNobody ? " (as nobody)" : ""));
            if (asNobody && ::geteuid() != 0) {
                std::cout << "not tested without root: as another user\n";
                break;
            }
            fs::remove_all(dir.path());
            fs::create_directories(dir.path());
            fs::permissions(dir.path(), fs::perms::all);
            SetUp();
            dir.write("elsewhere/old.dll", kOld);
            dir.write("elsewhere/sub/deep.dll", kOld);
            const std::string arrange = "cd '" + dir.path().string() + "' && " + planted;
            ASSERT_EQ(std::system(arrange.c_str()), 0);
            if (asNobody)
                test::ChownDeep(dir.path().string(), 65534, 65534);
            const std::string elsewhere = test::TreeDigest(dir.file("elsewhere"));
            test::ChildLimits limits;
            if (asNobody)
                limits.Unprivileged();
            const auto child = test::RunInChild(limits, [&](std::string& output) {
                const int status = Run({"-r"});
                output = std::to_string(status) + "\n" + err;
                return 0;
            });
            ASSERT_TRUE(child.ran);
            EXPECT_EQ(child.output, "2\n" + said);
            EXPECT_EQ(test::TreeDigest(dir.file("elsewhere")), elsewhere);
            EXPECT_FALSE(fs::exists(dir.file("elsewhere/new.sh")));
        }
    }
}

// Runs sorvane-cli copy on the test folders, killed `after` into it when
// given; its wall time.
std::chrono::microseconds RunProgram(const test::TempDir& dir, bool backup,
                                     std::optional<std::chrono::microseconds> after = {}) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t program = ::fork();
    if (program == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        ::execl(SORVANE_CLI_PROGRAM, "sorvane-cli", "copy", "-r",
                backup ? "--backup" : "--no-backup", dir.file("src").c_str(),
                dir.file("dst").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (after) {
        std::this_thread::sleep_for(*after);
        ::kill(program, SIGKILL);
    }
    int status = 0;
    ::waitpid(program, &status, 0);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

TEST(CopyProgram, AKillAtAnyMomentLeavesEachTargetOldOrNewAndTheNextCopyFinishes) {
    constexpr int kFiles = 300;
    constexpr int kKills = 3;
    const auto name = [](int i) {
        return std::string("d") + std::to_string(i % 4) + "/f" + std::to_string(i) + ".dll";
    };
    const auto bytes = [](int major, int i) {
        return VersionedPe({{static_cast<std::uint16_t>(major), 0, 0, 0},
                            0x0409,
                            "",
                            "",
                            static_cast<std::size_t>(major * 100 + (i * 4099) % (64 << 10))});
    };
    std::mt19937 random(4711);
    for (const bool backup : {false, true}) {
        test::TempDir dir;
        // Everything dated long ago, as a temporary file left by a kill is
        // only removed once it is some seconds old.
        const auto make = [&] {
            fs::remove_all(dir.file("src"));
            fs::remove_all(dir.file("dst"));
            const struct timespec past[2] = {{946'684'800, 0}, {946'684'800, 0}};
            for (int i = 0; i < kFiles; ++i)
                for (const auto& [side, major] : {std::pair("src/", 2), std::pair("dst/", 1)})
                    ::utimensat(AT_FDCWD, dir.write(side + name(i), bytes(major, i)).c_str(), past,
                                0);
        };
        make();
        const auto whole = RunProgram(dir, backup);
        for (int kill = 0; kill < kKills; ++kill) {
            const auto after = std::chrono::microseconds(random() % (whole.count() + 1));
            SCOPED_TRACE(testing::Message() << (backup ? "backup" : "no backup") << ", killed after "
                                            << after.count() << " of " << whole.count() << " µs");
            make();
            RunProgram(dir, backup, after);
            for (int i = 0; i < kFiles; ++i) {
                const std::string now = dir.read("dst/" + name(i));
                EXPECT_TRUE(now == bytes(1, i) || now == bytes(2, i)) << name(i);
                if (backup && now == bytes(2, i)) {
                    EXPECT_EQ(dir.read("dst/_Backup/" + name(i)), bytes(1, i)) << name(i);
                }
            }
            RunProgram(dir, backup);
            for (int i = 0; i < kFiles; ++i) {
                EXPECT_EQ(dir.read("dst/" + name(i)), bytes(2, i)) << name(i);
                if (backup) {
                    EXPECT_EQ(dir.read("dst/_Backup/" + name(i)), bytes(1, i)) << name(i);
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
} // namespace sorvane::cli
