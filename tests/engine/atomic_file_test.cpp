#include "engine/files/atomic_file.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <iostream>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sorvane {
namespace {

namespace fs = std::filesystem;

WriteOutcome Save(const std::string& path, std::string_view text, bool unnamed) {
    AtomicWriteOptions options;
    options.unnamedTemporary = unnamed;
    return ReplaceFileAtomically(
        path, [text](int fd) { return WriteAllTo(fd, text); }, options);
}

std::string Said(const WriteOutcome& outcome) {
    return outcome ? "ok" : outcome.error().Message();
}

std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    return names;
}

// Runs `body` in a forked child; its exit status (minus the signal that ended
// it) and the text it returned.
std::pair<int, std::string> InChild(const std::function<std::string()>& body) {
    int channel[2];
    if (::pipe(channel) != 0)
        return {-1, "no pipe"};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(channel[0]);
        const std::string text = body();
        (void)!::write(channel[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), text};
}

void Age(const std::string& path, int seconds) {
    struct timespec times[2]{};
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

TEST(WriteFileAtomically, ReplacesRegularFilesAndFollowsLinksToThem) {
    const std::string longName(240, 'n');
    // file made first ("" none), links made (name, target), name written, file that gets the bytes
    const std::vector<std::tuple<std::string, std::vector<std::pair<std::string, std::string>>,
                                 std::string, std::string>>
        cases = {
            {"a", {}, "a", "a"},
            {"", {}, "a", "a"},
            {"a", {{"l", "a"}}, "l", "a"},
            {"sub/a", {{"sub/abs", "<dir>/sub/a"}, {"l", "sub/abs"}}, "l", "sub/a"},
            {"", {{"l", "sub/../a"}}, "l", "a"}, // a dangling link makes its target
            {"a", {}, "/proc", "a"},             // a descriptor of a, in /proc
            {longName, {}, longName, longName},  // the temporary name is cut to fit
        };
    for (const bool unnamed : {true, false}) {
        for (const auto& [made, links, written, real] : cases) {
            SCOPED_TRACE(written + " " + real + (unnamed ? " unnamed" : " named"));
            test::TempDir dir;
            fs::create_directory(dir.file("sub"));
            if (!made.empty())
                dir.write(made, "old");
            for (const auto& [link, target] : links)
                fs::create_symlink(target.starts_with("<dir>") ? dir.file(target.substr(6))
                                                               : target,
                                   dir.file(link));
            const int fd = ::open(dir.file("a").c_str(), O_RDONLY);
            const std::string path =
                written == "/proc" ? "/proc/self/fd/" + std::to_string(fd) : dir.file(written);
            EXPECT_EQ(Said(Save(path, "new", unnamed)), "ok");
            ::close(fd);
            EXPECT_EQ(dir.read(real), "new");
            for (const auto& link : links)
                EXPECT_TRUE(fs::is_symlink(dir.file(link.first))); // the links survive
            for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
                EXPECT_EQ(entry.path().filename().string().find("sorvane-tmp"), std::string::npos);
        }
    }
    test::TempDir dir;
    EXPECT_TRUE(WriteFileAtomically(dir.file("deep/er/file"), "x", true));
    EXPECT_EQ(dir.read("deep/er/file"), "x");
    EXPECT_EQ(Said(WriteFileAtomically(dir.file("none/file"), "x")), "No such file or directory");
    fs::create_symlink("loop2", dir.file("loop1"));
    fs::create_symlink("loop1", dir.file("loop2"));
    EXPECT_EQ(Said(WriteFileAtomically(dir.file("loop1"), "x")),
              "Too many levels of symbolic links");
    EXPECT_EQ(Said(WriteFileAtomically("", "x")), "no file name");
}

TEST(WriteFileAtomically, NeverReplacesWhatIsNotARegularFile) {
    // what the name is (through a link or not), what the refusal calls it
    const std::vector<std::tuple<mode_t, dev_t, bool, const char*>> cases = {
        {S_IFDIR, 0, false, "a folder"},
        {S_IFIFO, 0, false, "a FIFO"},
        {S_IFCHR, ::makedev(1, 3), false, "a character device"}, // as /dev/null
        {S_IFBLK, ::makedev(7, 0), false, "a block device"},
        {S_IFSOCK, 0, false, "a socket"},
        {S_IFIFO, 0, true, "a link to a FIFO"},
        {S_IFCHR, ::makedev(1, 3), true, "a link to a character device"},
    };
    for (const bool unnamed : {true, false}) {
        for (const auto& [type, device, linked, kind] : cases) {
            SCOPED_TRACE(std::string(kind) + (unnamed ? " unnamed" : " named"));
            test::TempDir dir;
            const std::string at = dir.file("x");
            const std::string node = linked ? at + ".real" : at;
            if (type == S_IFDIR ? ::mkdir(node.c_str(), 0755) != 0
                                : ::mknod(node.c_str(), type | 0644, device) != 0) {
                std::cout << "not tested here (device nodes need CAP_MKNOD): " << kind << "\n";
                continue;
            }
            if (linked)
                fs::create_symlink(node, at);
            struct stat before {
            }, after{};
            ::stat(at.c_str(), &before);
            const auto entries = Entries(dir.path());
            EXPECT_EQ(Said(Save(at, "new", unnamed)),
                      std::string(kind) + " has that name; only regular files are replaced");
            ::stat(at.c_str(), &after);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(Entries(dir.path()), entries);
        }
    }
    // What a process has open: a pipe, and a file deleted since.
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_NONBLOCK), 0);
    EXPECT_EQ(Said(WriteFileAtomically("/proc/self/fd/" + std::to_string(pipe[1]), "new")),
              "a link to a FIFO has that name; only regular files are replaced");
    char byte;
    EXPECT_EQ(::read(pipe[0], &byte, 1), -1);
    ::close(pipe[0]), ::close(pipe[1]);
    test::TempDir dir;
    const int gone = ::open(dir.write("gone", "old").c_str(), O_RDONLY);
    ::unlink(dir.file("gone").c_str());
    EXPECT_EQ(Said(WriteFileAtomically("/proc/self/fd/" + std::to_string(gone), "new")),
              "the link does not lead to a file that can be replaced");
    ::close(gone);
    EXPECT_TRUE(Entries(dir.path()).empty());
}

TEST(WriteFileAtomically, FollowsNoLinkTheKernelWouldRefuseInAStickyFolder) {
    std::string protection;
    {
        std::ifstream setting("/proc/sys/fs/protected_symlinks");
        std::getline(setting, protection);
    }
    if (protection != "1")
        GTEST_SKIP() << "the kernel does not protect links in sticky folders here";
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the link to another user";
    // A shared folder like /tmp where another user planted links to our files.
    test::TempDir dir;
    const std::string shared = dir.file("shared");
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const std::string victim = dir.write("victim", "keep me");
    for (const bool unnamed : {true, false}) {
        for (const std::string& target : {victim, dir.file("created")}) {
            SCOPED_TRACE(target + (unnamed ? " unnamed" : " named"));
            const std::string link = shared + "/Sorvane.dat";
            fs::remove(link);
            fs::create_symlink(target, link);
            ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
            EXPECT_EQ(Said(Save(link, "overwritten", unnamed)), "Permission denied");
            EXPECT_EQ(dir.read("victim"), "keep me");
            EXPECT_FALSE(fs::exists(dir.file("created")));
            // Our own link there is followed as before.
            ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);
            EXPECT_EQ(Said(Save(link, "ours", unnamed)), "ok");
            EXPECT_EQ(dir.read(fs::path(target).filename().string()), "ours");
            dir.write("victim", "keep me");
            fs::remove(dir.file("created"));
        }
    }
}

TEST(WriteFileAtomically, KeepsOwnerAndBitsAndGivesNewFilesTheUmask) {
    const bool root = ::geteuid() == 0;
    const uid_t me = ::geteuid();
    const gid_t us = ::getegid();
    const uid_t other = root ? 65534 : me;
    const gid_t others = root ? 65534 : us;
    const std::vector<std::tuple<mode_t, uid_t, gid_t>> kept = {
        {0640, other, others},  {0604, me, others}, {0751, other, us},
        {02755, other, others}, {04700, me, us},    {0400, me, us},
    };
    const std::vector<std::pair<mode_t, mode_t>> umasks = {
        {022, 0644}, {027, 0640}, {0, 0666}, {077, 0600}};
    for (const bool unnamed : {true, false}) {
        test::TempDir dir;
        for (const auto& [mode, uid, gid] : kept) {
            SCOPED_TRACE(testing::Message()
                         << std::oct << mode << std::dec << " " << uid << ":" << gid);
            const std::string file = dir.write("map", "old");
            ASSERT_EQ(::chown(file.c_str(), uid, gid), 0);
            ASSERT_EQ(::chmod(file.c_str(), mode), 0);
            EXPECT_EQ(Said(Save(file, "new", unnamed)), "ok");
            struct stat st {};
            ::stat(file.c_str(), &st);
            EXPECT_EQ(st.st_mode & 07777, mode);
            EXPECT_EQ(st.st_uid, uid);
            EXPECT_EQ(st.st_gid, gid);
        }
        for (const auto& [mask, mode] : umasks) {
            const mode_t previous = ::umask(mask);
            const std::string file = dir.file("new" + std::to_string(mask));
            EXPECT_EQ(Said(Save(file, "new", unnamed)), "ok");
            ::umask(previous);
            struct stat st {};
            ::stat(file.c_str(), &st);
            EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mask;
        }
    }
}

TEST(WriteFileAtomically, AnotherUserKeepsOldFilesOrReplacesThemAsItsOwn) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    test::TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    dir.write("shared/plain", "old");
    ::chmod(dir.file("shared/plain").c_str(), 0644);
    const std::string setId = dir.write("shared/set-id", "old");
    ::chmod(setId.c_str(), 06755);
    fs::permissions(dir.file("shared"), fs::perms::all);
    dir.write("ro/file", "old");
    fs::permissions(dir.file("ro"), fs::perms(0555));
    const auto [status, said] = InChild([&] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            return std::string("cannot become 65534");
        return Said(WriteFileAtomically(dir.file("shared/plain"), "new")) + "," +
               Said(WriteFileAtomically(setId, "new")) + "," +
               Said(WriteFileAtomically(dir.file("ro/file"), "new"));
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(said, "ok,ok,Permission denied");
    for (const auto& [file, mode] : {std::pair{"shared/plain", 0644}, {"shared/set-id", 0755}}) {
        struct stat st {};
        ::stat(dir.file(file).c_str(), &st);
        EXPECT_EQ(st.st_uid, 65534u) << file;
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(mode))
            << file; // no set-ID bits for 65534
        EXPECT_EQ(dir.read(file), "new");
    }
    EXPECT_EQ(dir.read("ro/file"), "old");
    EXPECT_EQ(Entries(dir.file("ro")), std::vector<std::string>{"file"});
}

TEST(WriteFileAtomically, AFileSizeLimitFailsTheWriteAndKeepsTheOldFile) {
    constexpr rlim_t kLimit = 1 << 20;
    // bytes written under a 1 MiB limit, over a file of 9, and what comes of it
    const std::vector<std::pair<std::size_t, const char*>> limited = {
        {2 * kLimit, "File too large"}, {kLimit + 1, "File too large"}, {kLimit, "ok"}};
    for (const bool unnamed : {true, false}) {
        for (const auto& [size, outcome] : limited) {
            SCOPED_TRACE(testing::Message() << size << (unnamed ? " unnamed" : " named"));
            test::TempDir dir;
            const std::string file = dir.write("map", "old bytes");
            const auto [status, said] = InChild([&] {
                const rlimit rl{kLimit, kLimit};
                ::setrlimit(RLIMIT_FSIZE, &rl);
                std::string text = Said(Save(file, std::string(size, 'x'), unnamed));
                sigset_t mask, pending;
                ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
                ::sigpending(&pending);
                if (::sigismember(&mask, SIGXFSZ) || ::sigismember(&pending, SIGXFSZ))
                    text += " (SIGXFSZ left blocked or pending)";
                return text;
            });
            EXPECT_EQ(status, 0); // not ended by SIGXFSZ
            EXPECT_EQ(said, outcome);
            EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"map"});
            EXPECT_EQ(dir.read("map"), said == "ok" ? std::string(size, 'x') : "old bytes");
        }
    }
}

TEST(WriteFileAtomically, AFullFileSystemFailsTheWriteAndKeepsTheOldFile) {
    // A small tmpfs, mounted in a mount namespace of a child.
    for (const bool unnamed : {true, false}) {
        test::TempDir dir;
        fs::create_directory(dir.file("small"));
        const auto [status, said] = InChild([&] {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", dir.file("small").c_str(), "tmpfs", 0, "size=64k") != 0)
                return std::string("no mount");
            const std::string old(16 << 10, 'o');
            std::string text =
                Said(Save(dir.file("small/map"), old, unnamed)) + "," +
                Said(Save(dir.file("small/map"), std::string(256 << 10, 'x'), unnamed));
            for (const auto& name : Entries(dir.file("small")))
                text += "," + name;
            return text + (dir.read("small/map") == old ? ",old kept" : ",old lost");
        });
        if (said == "no mount")
            GTEST_SKIP() << "cannot mount a small file system here";
        EXPECT_EQ(status, 0);
        EXPECT_EQ(said, "ok,No space left on device,map,old kept") << unnamed;
    }
}

TEST(WriteFileAtomically, AKilledWriterLeavesNothingThatOutlivesTheNextWrite) {
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        test::TempDir dir;
        const std::string file = dir.write("map", "old");
        const std::string temporary = dir.file(".map.sorvane-tmp-0");
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t writer = ::fork();
        if (writer == 0) {
            ::alarm(30); // whatever happens to the test
            AtomicWriteOptions options;
            options.unnamedTemporary = unnamed;
            ReplaceFileAtomically(
                file,
                [&](int fd) {
                    WriteAllTo(fd, std::string(100000, 'p'));
                    (void)!::write(ready[1], "w", 1);
                    for (;;)
                        ::pause();
                    return WriteOutcome{};
                },
                options);
            ::_exit(1);
        }
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]), ::close(ready[1]);
        EXPECT_EQ(fs::exists(temporary), !unnamed);
        // Old as it is, a temporary file in use by a live writer stays.
        Age(temporary, 60);
        EXPECT_EQ(Said(Save(file, "second", unnamed)), "ok");
        EXPECT_EQ(fs::exists(temporary), !unnamed);
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        EXPECT_EQ(Said(Save(file, "third", unnamed)), "ok");
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"map"});
        EXPECT_EQ(dir.read("map"), "third");
    }
}

TEST(WriteFileAtomically, RemovesOnlyStaleTemporaryFilesOfTheSameTarget) {
    // name, kind, age in seconds, removed by the next write of "map"
    const std::vector<std::tuple<const char*, mode_t, int, bool>> strays = {
        {".map.sorvane-tmp-0", S_IFREG, 60, true},  {".map.sorvane-tmp-15", S_IFREG, 60, true},
        {".map.sorvane-tmp-3", S_IFREG, 1, false},  {".map.sorvane-tmp-16", S_IFREG, 60, false},
        {".map.sorvane-tmp-x", S_IFREG, 60, false}, {".other.sorvane-tmp-0", S_IFREG, 60, false},
        {"map.sorvane-tmp-6", S_IFREG, 60, false},  {".map.sorvane-tmp-4", S_IFLNK, 60, false},
        {".map.sorvane-tmp-5", S_IFDIR, 60, false},
    };
    for (const bool unnamed : {true, false}) {
        test::TempDir dir;
        dir.write("victim", "kept");
        for (const auto& [name, kind, age, removed] : strays) {
            if (kind == S_IFREG)
                dir.write(name, "stray");
            else if (kind == S_IFDIR)
                fs::create_directory(dir.file(name));
            else
                fs::create_symlink(dir.file("victim"), dir.file(name));
            Age(dir.file(name), age);
        }
        EXPECT_EQ(Said(Save(dir.file("map"), "new", unnamed)), "ok");
        for (const auto& [name, kind, age, removed] : strays)
            EXPECT_EQ(fs::exists(fs::symlink_status(dir.file(name))), !removed) << name << unnamed;
        EXPECT_EQ(dir.read("victim"), "kept");
        EXPECT_EQ(dir.read("map"), "new");
    }
}

TEST(TemporaryFiles, GiveANameNothingHasAndRemoveOnlyTheTargetsStaleFiles) {
    const std::string longName(250, 'n');
    const std::string cut =
        std::string(".") + longName.substr(0, NAME_MAX - 1 - 13 - 2) + ".sorvane-tmp-";
    // What the folder holds first ('s' a stale file, 'y' a young one, 'l' one
    // a live writer holds, 'd' a folder), the target, the name given ("" none)
    // and what is left of the first.
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, char>> before;
        std::string target;
        std::string given;
        std::vector<std::string> left;
    };
    std::vector<std::pair<std::string, char>> allLive;
    std::vector<std::string> allNames;
    for (int slot = 0; slot < kTemporarySlots; ++slot) {
        allLive.emplace_back(".map.sorvane-tmp-" + std::to_string(slot), 'l');
        allNames.push_back(allLive.back().first);
    }
    const std::vector<Case> cases = {
        {"an empty folder", {}, "map", ".map.sorvane-tmp-0", {}},
        {"a live writer's", {{".map.sorvane-tmp-0", 'l'}}, "map", ".map.sorvane-tmp-1",
         {".map.sorvane-tmp-0"}},
        {"a stale one goes", {{".map.sorvane-tmp-0", 's'}, {".map.sorvane-tmp-3", 's'}}, "map",
         ".map.sorvane-tmp-0", {}},
        {"a young one stays", {{".map.sorvane-tmp-0", 'y'}, {".map.sorvane-tmp-1", 's'}}, "map",
         ".map.sorvane-tmp-1", {".map.sorvane-tmp-0"}},
        {"a folder keeps its name", {{".map.sorvane-tmp-0", 'd'}}, "map", ".map.sorvane-tmp-1",
         {".map.sorvane-tmp-0"}},
        {"another target's stay", {{".other.sorvane-tmp-0", 's'}}, "map", ".map.sorvane-tmp-0",
         {".other.sorvane-tmp-0"}},
        {"names that are not temporary ones",
         {{".map.sorvane-tmp-00", 's'}, {".map.sorvane-tmp-16", 's'}, {"map.sorvane-tmp-0", 's'}},
         "map", ".map.sorvane-tmp-0",
         {".map.sorvane-tmp-00", ".map.sorvane-tmp-16", "map.sorvane-tmp-0"}},
        {"every name taken", allLive, "map", "", allNames},
        {"a long name is cut", {{cut + "0", 's'}}, longName, cut + "0", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        std::vector<int> held;
        for (const auto& [name, kind] : c.before) {
            if (kind == 'd') {
                fs::create_directory(dir.file(name));
            } else {
                dir.write(name, "stray");
                if (kind != 'y')
                    Age(dir.file(name), 60);
            }
            if (kind == 'l') {
                held.push_back(::open(dir.file(name).c_str(), O_RDONLY));
                ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
            }
        }
        const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        TemporaryFiles run;
        EXPECT_EQ(run.Reserve(folder, c.target), c.given);
        std::vector<std::string> left = c.left;
        std::ranges::sort(left);
        EXPECT_EQ(Entries(dir.path()), left);
        EXPECT_EQ(run.Listings(), 1u);
        ::close(folder);
        for (const int fd : held)
            ::close(fd);
    }
}

TEST(TemporaryFiles, ListEachFolderOnceAndKeepTheNamesTheRunHolds) {
    test::TempDir dir;
    fs::create_directories(dir.file("a"));
    fs::create_directories(dir.file("b"));
    const int a = ::open(dir.file("a").c_str(), O_RDONLY | O_DIRECTORY);
    const int b = ::open(dir.file("b").c_str(), O_RDONLY | O_DIRECTORY);
    const int alsoA = ::open(dir.file("a").c_str(), O_RDONLY | O_DIRECTORY);
    TemporaryFiles run;
    // call (R reserve, F free), folder, target or name, what Reserve gives
    const std::vector<std::tuple<char, int, std::string, std::string>> calls = {
        {'R', a, "x", ".x.sorvane-tmp-0"},
        {'R', a, "x", ".x.sorvane-tmp-1"}, // the first is held
        {'R', alsoA, "x", ".x.sorvane-tmp-2"},
        {'F', a, ".x.sorvane-tmp-0", ""},
        {'R', a, "x", ".x.sorvane-tmp-0"},
        {'R', a, "y", ".y.sorvane-tmp-0"},
        {'R', b, "x", ".x.sorvane-tmp-0"},
    };
    for (const auto& [call, folder, name, given] : calls) {
        SCOPED_TRACE(std::string(1, call) + " " + name);
        if (call == 'R')
            EXPECT_EQ(run.Reserve(folder, name), given);
        else
            run.Release(folder, name);
    }
    EXPECT_EQ(run.Listings(), 2u);
    // A name made after the listing is found taken when the write tries it,
    // and the write takes the next.
    dir.write("a/.z.sorvane-tmp-0", "live");
    const int live = ::open(dir.file("a/.z.sorvane-tmp-0").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    AtomicWriteOptions named;
    named.unnamedTemporary = false;
    std::string during;
    EXPECT_EQ(Said(ReplaceFileInFolder(
                  a, "z",
                  [&](int fd) {
                      during = Entries(dir.file("a")).back();
                      return WriteAllTo(fd, "zz");
                  },
                  named, run)),
              "ok");
    EXPECT_EQ(during, ".z.sorvane-tmp-1");
    EXPECT_EQ(Entries(dir.file("a")), (std::vector<std::string>{".z.sorvane-tmp-0", "z"}));
    EXPECT_EQ(run.Listings(), 2u);
    for (const int fd : {a, b, alsoA, live})
        ::close(fd);
}

TEST(ReplacementGroup, NewFilesTakeTheirNamesOnlyWhenTheGroupIsCommitted) {
    // name (in "sub/" for the second folder), its old bytes ("" none), what
    // happens to the name after the file is written, the outcome
    struct Case {
        std::string name;
        std::string old;
        const char* meanwhile;
        std::string outcome;
    };
    const std::vector<Case> cases = {
        {"a", "old a", "", "ok"},
        {"b", "", "", "ok"},
        {"sub/c", "old c", "", "ok"},
        {"d", "old d", "refuse", "changed since the scan; scan again"},
        {"e", "old e", "folder", "a folder has that name; only regular files are replaced"},
        {"f", "", "file", "ok"}, // a file made meanwhile is replaced all the same
        {"g", "old g", "", "ok"},
    };
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        test::TempDir dir;
        fs::create_directory(dir.file("sub"));
        for (const auto& c : cases)
            if (!c.old.empty())
                dir.write(c.name, c.old);
        const int top = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        const int sub = ::open(dir.file("sub").c_str(), O_RDONLY | O_DIRECTORY);
        TemporaryFiles run;
        ReplacementGroup group(run);
        std::uint64_t bytes = 0;
        for (const auto& c : cases) {
            AtomicWriteOptions options;
            options.unnamedTemporary = unnamed;
            if (std::string(c.meanwhile) == "refuse")
                options.beforeRename = [](const struct stat*) -> WriteOutcome {
                    return Fail({Reason::Changed, Step::CompareWithScan});
                };
            const std::string leaf = fs::path(c.name).filename();
            const std::string bytesOf = "new " + c.name;
            bytes += bytesOf.size();
            EXPECT_EQ(Said(group.Add(c.name.starts_with("sub/") ? sub : top, leaf,
                                     [&](int fd) { return WriteAllTo(fd, bytesOf); }, options)),
                      "ok");
        }
        EXPECT_EQ(group.Size(), cases.size());
        EXPECT_EQ(group.Bytes(), bytes);
        // Nothing has its name yet; only named temporary files show.
        std::size_t temporaries = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            temporaries +=
                entry.path().filename().string().find(".sorvane-tmp-") != std::string::npos;
        EXPECT_EQ(temporaries, unnamed ? 0u : cases.size());
        for (const auto& c : cases) {
            EXPECT_EQ(c.old.empty() ? "" : dir.read(c.name), c.old) << c.name;
            if (std::string(c.meanwhile) == "folder")
                fs::remove(dir.file(c.name)), fs::create_directory(dir.file(c.name));
            if (std::string(c.meanwhile) == "file")
                dir.write(c.name, "theirs");
        }
        const std::vector<WriteOutcome> outcomes = group.Commit();
        ASSERT_EQ(outcomes.size(), cases.size());
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const auto& c = cases[i];
            EXPECT_EQ(outcomes[i] ? "ok" : outcomes[i].error().Message(), c.outcome) << c.name;
            if (c.outcome == "ok") {
                EXPECT_EQ(dir.read(c.name), "new " + c.name);
            } else if (fs::is_regular_file(dir.file(c.name))) {
                EXPECT_EQ(dir.read(c.name), c.old);
            }
        }
        EXPECT_EQ(group.Size(), 0u);
        EXPECT_EQ(group.Bytes(), 0u);
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().filename().string().find(".sorvane-tmp-"), std::string::npos)
                << entry.path();

        // A group dropped unfinished, or one whose file could not be written,
        // leaves the old files and no name behind.
        {
            ReplacementGroup dropped(run);
            AtomicWriteOptions options;
            options.unnamedTemporary = unnamed;
            EXPECT_EQ(Said(dropped.Add(top, "a", [](int fd) { return WriteAllTo(fd, "lost"); },
                                       options)),
                      "ok");
            EXPECT_EQ(Said(dropped.Add(top, "g",
                                       [](int) -> WriteOutcome {
                                           return Fail(Failure::System(EIO, Step::Write));
                                       },
                                       options)),
                      "Input/output error");
            EXPECT_EQ(dropped.Size(), 1u);
        }
        EXPECT_EQ(dir.read("a"), "new a");
        EXPECT_EQ(dir.read("g"), "new g");
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().filename().string().find(".sorvane-tmp-"), std::string::npos)
                << entry.path();
        ::close(top);
        ::close(sub);
    }
}

TEST(ReadSmallFile, ReadsOnlyRegularFilesWithinTheCap) {
    test::TempDir dir;
    const std::string file = dir.write("f", "12345");
    EXPECT_EQ(ReadSmallFile(file, 5), "12345");
    EXPECT_FALSE(ReadSmallFile(file, 4).has_value());
    EXPECT_FALSE(ReadSmallFile(dir.path().string(), 100).has_value());
    EXPECT_FALSE(ReadSmallFile(dir.file("missing"), 100).has_value());
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadSmallFile(fifo, 100).has_value());
}

} // namespace
} // namespace sorvane
