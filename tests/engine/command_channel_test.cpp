#include "engine/channel/command_channel.h"

#include "support/fake_channel.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using State = CommandRequestReader::State;
using Status = SendResult::Status;

TEST(CommandChannelPath, RuntimeFolderElseAFolderOfTheUserInTheTemporaryFolder) {
    struct Row {
        std::optional<std::string> runtime, temp;
        std::string expected;
    };
    const Row rows[] = {
        {"/run/user/1000", std::nullopt, "/run/user/1000/Sorvane.Main"},
        {"/run/user/1000/", "/var/tmp", "/run/user/1000/Sorvane.Main"},
        {std::nullopt, std::nullopt, "/tmp/Sorvane-1000/Sorvane.Main"},
        {"", "", "/tmp/Sorvane-1000/Sorvane.Main"},
        {"run/user", "tmp", "/tmp/Sorvane-1000/Sorvane.Main"},
        {std::nullopt, "/var/tmp", "/var/tmp/Sorvane-1000/Sorvane.Main"},
    };
    for (const auto& row : rows) {
        const ChannelLocationInputs inputs{row.runtime, row.temp, 1000};
        EXPECT_EQ(CommandChannelPath(inputs), row.expected)
            << row.runtime.value_or("(none)") << " " << row.temp.value_or("(none)");
    }
}

TEST(CommandRequestReader, OneLineWithinTheLimit) {
    const std::string limit(kMaxCommandBytes, 'a');
    struct Row {
        std::vector<std::string> chunks;
        State state;
        std::string command;
    };
    const Row rows[] = {
        {{"Scan\n"}, State::Complete, "Scan"},
        {{"Sc", "a", "n\n"}, State::Complete, "Scan"},
        {{"Scan"}, State::Incomplete, ""},
        {{"Scan\r\n"}, State::Complete, "Scan"},
        {{"Scan\r", "\n"}, State::Complete, "Scan"},
        {{"\n"}, State::Complete, ""},
        {{"Show\nHide\n"}, State::Complete, "Show"},
        {{"Show\n", "Hide\n"}, State::Complete, "Show"},
        {{std::string("\xff\xfe\0x\n", 6)}, State::Complete, std::string("\xff\xfe\0x", 4)},
        {{limit + "\n"}, State::Complete, limit},
        {{limit, "\r\n"}, State::Complete, limit},
        {{limit, "a"}, State::Incomplete, ""},
        {{limit, "ab"}, State::TooLong, ""},
        {{limit + "a\n"}, State::TooLong, ""},
        {{limit + "ab", "\n"}, State::TooLong, ""},
    };
    for (const auto& row : rows) {
        CommandRequestReader reader;
        State state = State::Incomplete;
        for (const auto& chunk : row.chunks)
            state = reader.Add(chunk);
        EXPECT_EQ(state, row.state) << row.chunks.front().substr(0, 20);
        EXPECT_EQ(reader.Current(), row.state);
        if (row.state == State::Complete) {
            EXPECT_EQ(reader.Command(), row.command);
        }
    }
}

TEST(CommandChannel, CommandTextsThatCannotBeSent) {
    struct Row {
        std::string command;
        bool sendable;
    };
    const Row rows[] = {
        {"Scan", true},
        {"", true},
        {"maximize", true},
        {std::string(kMaxCommandBytes, 'x'), true},
        {std::string(kMaxCommandBytes + 1, 'x'), false},
        {"Scan\n", false},
        {"Sc\ran", false},
        {std::string("Sc\0an", 5), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CheckCommandText(row.command).has_value(), row.sendable)
            << row.command.substr(0, 20);
}

TEST(CommandChannel, PathsNoOtherUserCanReachOrReplace) {
    test::TempDir dir;
    const std::string plain = dir.file("plain");
    std::filesystem::create_directory(plain);
    const std::string open = dir.file("open");
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0777);
    dir.write("plain/file", "x");
    const int live = test::BoundSocket(dir.file("plain/socket"));
    const bool root = ::geteuid() == 0;
    if (root) {
        std::filesystem::create_directory(dir.file("theirs"));
        EXPECT_EQ(::chown(dir.file("theirs").c_str(), 65534, 65534), 0);
        const int theirs = test::BoundSocket(dir.file("plain/their-socket"), false);
        ::close(theirs);
        EXPECT_EQ(::lchown(dir.file("plain/their-socket").c_str(), 65534, 65534), 0);
    }
    struct Row {
        std::string path;
        bool makeFolder;
        bool usable;
    };
    std::vector<Row> rows = {
        {dir.file("plain/socket"), false, true},
        {dir.file("plain/nothing-yet"), false, true},
        {dir.file("plain/file"), false, false},
        {dir.file("missing/socket"), false, false},
        {dir.file("made/socket"), true, true},
        {dir.file("open/socket"), true, false},
        {dir.file("plain/") + std::string(120, 'n'), false, false},
        {"Sorvane.Main", true, false},
    };
    if (root) {
        rows.push_back({dir.file("theirs/socket"), false, false});
        rows.push_back({dir.file("plain/their-socket"), false, false});
    }
    for (const auto& row : rows)
        EXPECT_EQ(CheckChannelPath(row.path, row.makeFolder).has_value(), row.usable) << row.path;
    // The folder made for the channel is the user's alone.
    struct stat info{};
    ASSERT_EQ(::stat(dir.file("made").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ::close(live);
}

TEST(CommandChannel, SendCommandReadsTheReply) {
    struct Row {
        std::string reply;
        Status status;
    };
    const Row rows[] = {
        {"accepted\n", Status::Accepted},
        {"not accepted\n", Status::NotAccepted},
        {"Accepted\n", Status::Unreachable},
        {"accepted", Status::Unreachable},            // closed before the line ended
        {"", Status::Unreachable},                    // closed without a word
        {std::string(200, 'a'), Status::Unreachable}, // no line end in sight
    };
    for (const auto& row : rows) {
        test::TempDir dir;
        const std::string path = dir.file("Sorvane.Main");
        test::FakeChannelServer window(path, row.reply);
        const SendResult result = SendCommand(path, "Maximize", 5s);
        EXPECT_EQ(result.status, row.status) << row.reply;
        EXPECT_EQ(result.Message().empty(), row.status == Status::Accepted ||
                                              row.status == Status::NotAccepted);
        EXPECT_EQ(window.Received(), "Maximize\n");
    }
}

TEST(CommandChannel, NoWindowLateWindowAndLiveness) {
    test::TempDir dir;
    const std::string missing = dir.file("nothing/Sorvane.Main");
    EXPECT_EQ(SendCommand(missing, "Show", 1s).status, Status::NoWindow);
    EXPECT_FALSE(ChannelIsLive(missing));

    const std::string stale = dir.file("stale");
    ::close(test::BoundSocket(stale, false));
    EXPECT_EQ(SendCommand(stale, "Show", 1s).status, Status::NoWindow);
    EXPECT_FALSE(ChannelIsLive(stale));

    const std::string late = dir.file("late");
    test::FakeChannelServer window(late, "", 1s);
    EXPECT_TRUE(ChannelIsLive(late));
    const auto start = std::chrono::steady_clock::now();
    const SendResult result = SendCommand(late, "Show", 200ms);
    EXPECT_EQ(result.status, Status::Unreachable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_EQ(SendCommand(late, "Scan\nStop", 1s).status, Status::Unreachable);
}

TEST(CommandChannel, AFolderOthersMayUseIsRefusedNotTakenForNoWindow) {
    test::TempDir dir;
    const std::string open = dir.file("open");
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0777);
    struct Row {
        std::string path;
        Status status;
        std::string message; ///< a part of the message
    };
    std::vector<Row> rows = {
        {dir.file("gone/Sorvane.Main"), Status::NoWindow, "no Sorvane window is running"},
        {dir.file("Sorvane.Main"), Status::NoWindow, "no Sorvane window is running"},
        {open + "/Sorvane.Main", Status::Refused, open + " can be written by other users"},
        {"Sorvane.Main", Status::Refused, "has no folder"},
    };
    if (::geteuid() == 0) {
        const std::string theirs = dir.file("theirs");
        std::filesystem::create_directory(theirs);
        ::chmod(theirs.c_str(), 0700);
        EXPECT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
        rows.push_back({theirs + "/Sorvane.Main", Status::Refused,
                        theirs + " belongs to another user"});
    }
    for (const auto& row : rows) {
        const SendResult result = SendCommand(row.path, "Show", 1s);
        EXPECT_EQ(result.status, row.status) << row.path;
        EXPECT_NE(result.Message().find(row.message), std::string::npos) << result.Message();
    }
}

TEST(CommandChannel, OneLockHolderAtATime) {
    test::TempDir dir;
    const std::string path = dir.file("Sorvane.Main");
    {
        UniqueFd first = TryLockChannel(path);
        ASSERT_GE(first.get(), 0);
        // Another open of the file, as another window makes it, is shut out.
        EXPECT_LT(TryLockChannel(path).get(), 0);
        EXPECT_LT(TryLockChannel(path).get(), 0);
        struct stat info{};
        ASSERT_EQ(::stat((path + ".lock").c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    // Let go when its holder closes it.
    EXPECT_GE(TryLockChannel(path).get(), 0);

    // Only a plain file of the user's is locked.
    const std::string linked = dir.file("linked");
    std::filesystem::create_symlink(path + ".lock", linked + ".lock");
    const std::string folder = dir.file("folder");
    std::filesystem::create_directories(folder + ".lock");
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo((fifo + ".lock").c_str(), 0600), 0);
    for (const auto& refused : {linked, folder, fifo})
        EXPECT_LT(TryLockChannel(refused).get(), 0) << refused;
}

} // namespace
} // namespace sorvane
