#include "cli/commands.h"

#include "support/fake_channel.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace sorvane::cli {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome Execute(std::vector<std::string> args) {
    std::ostringstream out, err;
    args.insert(args.begin(), "execute");
    const int status = RunProgram(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(ExecuteCommand, ExitStatusFollowsTheReply) {
    struct Row {
        std::string reply;
        int status;
        std::string out;
    };
    const Row rows[] = {
        {"accepted\n", 0, "accepted\n"},
        {"not accepted\n", 1, "not accepted\n"},
        {"maybe\n", 2, ""},
        {"", 2, ""}, // the window hung up without a word
    };
    for (const auto& row : rows) {
        test::TempDir dir;
        const std::string path = dir.file("Sorvane.Main");
        test::FakeChannelServer window(path, row.reply);
        const Outcome run = Execute({"Restore", "--socket", path, "--timeout", "5"});
        EXPECT_EQ(run.status, row.status) << row.reply;
        EXPECT_EQ(run.out, row.out) << row.reply;
        EXPECT_EQ(run.err.empty(), row.status != 2) << run.err;
        EXPECT_EQ(window.Received(), "Restore\n");
    }
}

TEST(ExecuteCommand, NoWindowSlowWindowAndUsageExitWithTwo) {
    test::TempDir dir;
    const std::string open = dir.file("open");
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0777);
    const std::string stale = dir.file("stale");
    ::close(test::BoundSocket(stale, false));
    const std::string slow = dir.file("slow");
    test::FakeChannelServer window(slow, "", std::chrono::milliseconds(1500));
    struct Row {
        std::vector<std::string> args;
        std::string message; ///< a part of what standard error says
    };
    const Row rows[] = {
        {{"Show", "--socket", dir.file("none/Sorvane.Main")}, "no Sorvane window is running"},
        {{"Show", "--socket", stale}, "no Sorvane window is running"},
        // Not "no window": the folder may hold a window's socket, but not one
        // a command is sent to.
        {{"Show", "--socket", open + "/Sorvane.Main"}, open + " can be written by other users"},
        {{"Show", "--socket", slow, "--timeout", "0.2"}, "no reply"},
        {{"--socket", slow}, "needs a command"},
        {{"Scan", "Stop", "--socket", slow}, "takes one command"},
        {{"Scan", "--timeout", "soon", "--socket", slow}, "--timeout"},
        {{"Scan", "--timeout", "0", "--socket", slow}, "--timeout"},
        {{"Scan\nStop", "--socket", slow}, "line end"},
        {{"Scan", "--wait", "--socket", slow}, "unknown option '--wait'"},
    };
    for (const auto& row : rows) {
        const Outcome run = Execute(row.args);
        EXPECT_EQ(run.status, 2) << row.args.front();
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    }
}

} // namespace
} // namespace sorvane::cli
