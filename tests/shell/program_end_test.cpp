// The window program ends when the system asks it to (SIGTERM, SIGINT,
// SIGHUP), whatever state its window is in, and writes its settings once.

#include "engine/channel/command_channel.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

namespace sorvane {
namespace {

using namespace std::chrono_literals;

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// How many times `name` in the folder `inotify` watches was put in place
// (written to a temporary file and renamed over it), by the events so far.
int Replacements(int inotify, const std::string& name) {
    int count = 0;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(inotify, buffer, sizeof buffer);
        if (got <= 0)
            return count;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_MOVED_TO) != 0 && event->len > 0 && name == event->name)
                ++count;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

TEST(ProgramEnd, ASignalClosesTheWindowInAnyStateAndTheSettingsAreWrittenOnce) {
    struct Row {
        const char* name;
        const char* command; ///< sent to the window first, if any
        int signal;
        int times; ///< how often it is sent, one straight after the other
        int state; ///< "Position"/"State" saved
    };
    const Row rows[] = {
        {"shown", nullptr, SIGTERM, 1, 0},
        {"hidden", "Hide", SIGTERM, 1, 0},
        {"minimised", "Minimize", SIGTERM, 1, 1},
        {"maximised, interrupted", "Maximize", SIGINT, 1, 2},
        {"hidden, hung up", "Hide", SIGHUP, 1, 0},
        {"hidden, asked three times", "Hide", SIGTERM, 3, 0},
        // "Save" opens a file dialog and waits in it for the user.
        {"a dialog open", "Save", SIGTERM, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const std::string settings = dir.file("Sorvane.dat");
        const std::string channel = dir.file("run/Sorvane.Main");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.file("run")));
        environment.insert("HOME", QString::fromStdString(dir.file("home")));
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.file("config")));
        QProcess app;
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(SORVANE_APP),
                  {QStringLiteral("--settings"), QString::fromStdString(settings)});
        ASSERT_TRUE(app.waitForStarted(10000));

        // Up once its window takes commands.
        const auto giveUp = std::chrono::steady_clock::now() + 20s;
        while (SendCommand(channel, "Show", 1s).status != SendResult::Status::Accepted &&
               std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(50ms);
        if (row.command != nullptr && std::string_view(row.command) == "Save") {
            EXPECT_EQ(SendCommand(channel, row.command, 5s).status, SendResult::Status::NotAccepted);
            // Open once the window takes no more commands.
            const auto wait = std::chrono::steady_clock::now() + 10s;
            while (SendCommand(channel, "Show", 1s).status != SendResult::Status::NotAccepted &&
                   std::chrono::steady_clock::now() < wait)
                std::this_thread::sleep_for(20ms);
            EXPECT_EQ(SendCommand(channel, "Show", 1s).status, SendResult::Status::NotAccepted);
        } else if (row.command != nullptr) {
            EXPECT_EQ(SendCommand(channel, row.command, 5s).status, SendResult::Status::Accepted);
        }

        const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(inotify, 0);
        ASSERT_GE(::inotify_add_watch(inotify, dir.path().c_str(), IN_MOVED_TO), 0);
        for (int i = 0; i < row.times; ++i)
            ASSERT_EQ(::kill(static_cast<pid_t>(app.processId()), row.signal), 0);
        const bool ended = app.waitForFinished(10000);
        EXPECT_TRUE(ended);
        if (!ended) {
            app.kill();
            app.waitForFinished();
        }
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_EQ(Replacements(inotify, "Sorvane.dat"), 1);
        ::close(inotify);

        const std::string written = dir.read("Sorvane.dat");
        for (const char* section : {"[General]", "[Position]", "[Grid]", "[Color]"})
            EXPECT_EQ(Count(written, section), 1u) << section;
        EXPECT_NE(written.find("State=" + std::to_string(row.state)), std::string::npos) << written;
        // The window took its socket along.
        EXPECT_FALSE(std::filesystem::exists(channel));
    }
}

} // namespace
} // namespace sorvane
