// Times the round trip of one command through the window's command socket:
// a main window serves on a socket in a new temporary folder while another
// thread sends "Restore" (a command the window does at once) over and over,
// first with the client of the engine inside this process, then as whole
// `sorvane-cli execute` processes. Prints the median, the 90th percentile
// and the extremes of each.
//
//   channel_bench SORVANE_CLI [COMMANDS]   defaults: 100 commands each way
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another.

#include "engine/channel/command_channel.h"
#include "shell/main_window.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Series {
    const char* name;
    std::vector<double> milliseconds;
    int failures = 0;
};

void Print(Series& series) {
    auto& ms = series.milliseconds;
    if (ms.empty()) {
        std::printf("%-34s no successful command (%d failed)\n", series.name, series.failures);
        return;
    }
    std::sort(ms.begin(), ms.end());
    const double median =
        ms.size() % 2 == 1 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    std::printf("%-34s n=%zu median %.3f ms  p90 %.3f ms  min %.3f ms  max %.3f ms  failed %d\n",
                series.name, ms.size(), median, ms[ms.size() * 9 / 10], ms.front(), ms.back(),
                series.failures);
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs `sorvane-cli execute Restore --socket PATH`; its exit status, -1 when
// it could not be started.
int RunCli(const std::string& cli, const std::string& socket) {
    std::vector<std::string> args = {cli, "execute", "Restore", "--socket", socket};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // Its "accepted" lines would bury the results.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: channel_bench SORVANE_CLI [COMMANDS]\n");
        return 2;
    }
    const std::string cli = argv[1];
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    char pattern[] = "/tmp/channel-bench-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    if (folder == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string dir = folder;
    // The store where earlier versions kept the tool bar layout (read when a
    // settings file has none) is here, never the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir + "/qsettings"));
    const std::string socket = dir + "/run/Sorvane.Main";

    int status = 0;
    {
        sorvane::shell::StartOptions options;
        options.settingsFile = dir + "/Sorvane.dat";
        options.commandChannel = QString::fromStdString(socket);
        sorvane::shell::MainWindow window(options);
        window.show();

        Series inProcess{"in-process client (SendCommand)", {}};
        Series processes{"sorvane-cli execute processes", {}};
        std::thread client([&] {
            // One untimed command first: the window is up and the paths are warm.
            sorvane::SendCommand(socket, "Restore", std::chrono::seconds(10));
            for (int i = 0; i < count; ++i) {
                const auto start = Clock::now();
                const auto result = sorvane::SendCommand(socket, "Restore", std::chrono::seconds(10));
                if (result.status == sorvane::SendResult::Status::Accepted)
                    inProcess.milliseconds.push_back(Since(start));
                else
                    ++inProcess.failures;
            }
            for (int i = 0; i < count; ++i) {
                const auto start = Clock::now();
                if (RunCli(cli, socket) == 0)
                    processes.milliseconds.push_back(Since(start));
                else
                    ++processes.failures;
            }
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
        });
        QApplication::exec();
        client.join();
        Print(inProcess);
        Print(processes);
        status = inProcess.failures + processes.failures == 0 ? 0 : 1;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
