// Other programs drive the window through its command socket.

#include "window_fixture.h"

#include "platform/command_server.h"
#include "support/fake_channel.h"

#include <QProcess>
#include <QTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

namespace sorvane::shell::test_window {
namespace {

// A client of the window's socket that sends exactly the bytes it is given
// and reads the reply while the window's event loop runs.
class RawClient {
public:
    explicit RawClient(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        connected_ =
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return connected_; }
    void Send(std::string_view bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    /// The window's reply line; "(closed)" when it hung up without one,
    /// "(no reply)" when nothing came in time.
    std::string Reply(std::chrono::milliseconds wait = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        std::string got;
        while (std::chrono::steady_clock::now() < deadline) {
            QTest::qWait(2);
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 0) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return got.empty() ? "(closed)" : got;
            got.append(buffer, static_cast<std::size_t>(n));
            if (const auto end = got.find('\n'); end != std::string::npos)
                return got.substr(0, end);
        }
        return "(no reply)";
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

class CommandChannelTest : public MainWindowTest {
protected:
    std::unique_ptr<MainWindow> OpenServing(const std::string& settings = {}) {
        StartOptions options;
        options.settingsFile = settings;
        options.commandChannel = Q(channel);
        return Open(std::move(options));
    }

    std::string Execute(const std::string& command) {
        RawClient client(channel);
        EXPECT_TRUE(client.Connected());
        client.Send(command + "\n");
        return client.Reply();
    }

    // Another folder than the window test's, as the window makes it private.
    std::string channel = dir.file("run/Sorvane.Main");
};

TEST_F(CommandChannelTest, WindowCommandsInAnyLetterCaseAreAccepted) {
    auto w = OpenServing();
    ASSERT_TRUE(w->commandServer()->IsServing());
    struct Row {
        const char* command;
        bool visible, maximized, minimized;
    };
    const Row rows[] = {
        {"Maximize", true, true, false}, {"Restore", true, false, false},
        {"maximize", true, true, false}, {"MINIMIZE", true, false, true},
        {"rEsToRe", true, false, false}, {"Hide", false, false, false},
        {"show", true, false, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Execute(row.command), "accepted") << row.command;
        EXPECT_EQ(w->isVisible(), row.visible) << row.command;
        EXPECT_EQ(w->isMaximized(), row.maximized) << row.command;
        EXPECT_EQ(w->isMinimized(), row.minimized) << row.command;
    }
}

TEST_F(CommandChannelTest, AButtonKeyClicksTheButtonAndIsNotAccepted) {
    auto w = OpenServing();
    // Hidden buttons are found too.
    w->toolbarButton("Backup")->setVisible(false);
    struct Row {
        std::string command;
        bool subfoldersToggled, backupToggled;
    };
    const Row rows[] = {
        {"Recur", true, false},       {"backup", false, true},   {"RECUR", true, false},
        {"Frobnicate", false, false}, {"Recur ", false, false},  {" Backup", false, false},
        {"Recursive", false, false},  {"", false, false},        {"Maximize Recur", false, false},
        {"\xff\xfe", false, false},
    };
    for (const auto& row : rows) {
        const bool subfolders = w->action("mViewSubfolders")->isChecked();
        const bool backup = w->action("mToolsBackup")->isChecked();
        EXPECT_EQ(Execute(row.command), "not accepted") << row.command;
        QCoreApplication::processEvents(); // the click follows the reply
        EXPECT_EQ(w->action("mViewSubfolders")->isChecked() != subfolders, row.subfoldersToggled)
            << row.command;
        EXPECT_EQ(w->toolbarButton("Recur")->isChecked(), w->action("mViewSubfolders")->isChecked());
        EXPECT_EQ(w->action("mToolsBackup")->isChecked() != backup, row.backupToggled)
            << row.command;
        EXPECT_FALSE(w->isMaximized());
    }
}

TEST_F(CommandChannelTest, ScanWhileItsButtonIsDisabledStillScans) {
    MakeTrees();
    auto w = OpenServing();
    w->mViewShowFiles_Click(0);
    // No source: the button is off, yet the scan runs (and finds nothing).
    w->targetBox()->SetText(Q(dir.file("dst")));
    ASSERT_FALSE(w->toolbarButton("Scan")->isEnabled());
    QSignalSpy finished(w.get(), &MainWindow::ScanFinished);
    EXPECT_EQ(Execute("Scan"), "not accepted");
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    EXPECT_EQ(w->targetBox()->History().value(0), Q(dir.file("dst")));
    EXPECT_EQ(w->model()->Rows().size(), 0u);

    // With both folders, a button switched off still scans.
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->toolbarButton("Scan")->setEnabled(false);
    finished.clear();
    EXPECT_EQ(Execute("scan"), "not accepted");
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    EXPECT_EQ(w->model()->Rows().size(), 3u); // without the sub-folder
}

TEST_F(CommandChannelTest, StopDuringAScanStopsItAndIsNotAccepted) {
    MakeLongScanTrees();
    auto w = OpenServing();
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    w->mViewShowFiles_Click(0);
    QSignalSpy finished(w.get(), &MainWindow::ScanFinished);
    w->mFileScan_Click();
    ASSERT_TRUE(w->Scanning());
    // Straight away: a scan of this size may end before a socket is read.
    EXPECT_FALSE(w->fwMain_Form_LinkExecute(QStringLiteral("stop")));
    QCoreApplication::processEvents(); // the click follows the reply
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    EXPECT_EQ(w->PanelText(2), "Scanning was interrupted.");
    EXPECT_LT(w->model()->Rows().size(), 300u);
}

TEST_F(CommandChannelTest, TabMovesTheFocusToTheNextControl) {
    auto w = OpenServing();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->sourceBox()->setFocus();
    QWidget* first = w->focusWidget();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Execute("Tab"), "accepted");
    QWidget* second = w->focusWidget();
    EXPECT_NE(second, first);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->focusPolicy() & Qt::TabFocus);
    // One press each time: a second Tab moves on from there.
    EXPECT_EQ(Execute("tab"), "accepted");
    EXPECT_NE(w->focusWidget(), second);
}

TEST_F(CommandChannelTest, TwoClientsAtOnceAreBothAnswered) {
    auto w = OpenServing();
    RawClient slow(channel), quick(channel);
    slow.Send("Max");
    quick.Send("Minimize\n");
    // The half-sent command holds nobody up.
    EXPECT_EQ(quick.Reply(), "accepted");
    EXPECT_TRUE(w->isMinimized());
    slow.Send("imize\r\n");
    EXPECT_EQ(slow.Reply(), "accepted");
    EXPECT_TRUE(w->isMaximized());
}

TEST_F(CommandChannelTest, GarbageSilenceAndFloodsNeverHangTheWindow) {
    auto w = OpenServing();
    w->commandServer()->SetRequestTimeout(300);
    QSignalSpy dropped(w->commandServer(), &platform::CommandServer::ClientDropped);
    RawClient silent(channel), flood(channel), garbage(channel), halfSent(channel);
    flood.Send(std::string(64 * 1024, 'x'));
    garbage.Send(std::string("\x00\x01\xc3\x28\x1b[2J\xff", 8) + "\n");
    halfSent.Send("Hide");
    halfSent.Close();
    EXPECT_EQ(flood.Reply(), "(closed)");
    EXPECT_EQ(garbage.Reply(), "not accepted");
    EXPECT_EQ(silent.Reply(), "(closed)");
    EXPECT_EQ(dropped.count(), 2); // the flood and the silent one
    EXPECT_TRUE(w->isVisible()); // the half-sent Hide was never run
    // The window still serves.
    EXPECT_EQ(Execute("Maximize"), "accepted");
    EXPECT_TRUE(w->isMaximized());
}

TEST_F(CommandChannelTest, ClientsBeyondTheLimitAreTurnedAwayAndACommandOutlivesItsClient) {
    auto w = OpenServing();
    w->commandServer()->SetRequestTimeout(2000);
    QSignalSpy dropped(w->commandServer(), &platform::CommandServer::ClientDropped);
    // A whole command whose client hangs up before the reply still runs.
    {
        RawClient gone(channel);
        gone.Send("Maximize\n");
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->isMaximized(); }, 5000));
    // As many idle clients as are served at once, then one more.
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < platform::CommandServer::kMaxClients; ++i)
        idle.push_back(std::make_unique<RawClient>(channel));
    QTest::qWait(100); // all of them taken in
    RawClient extra(channel);
    EXPECT_EQ(extra.Reply(std::chrono::seconds(1)), "(closed)");
    EXPECT_EQ(dropped.count(), 1);
    idle.clear();
    QTest::qWait(200); // their hang-ups seen
    // The window still serves once they are gone.
    EXPECT_EQ(Execute("Restore"), "accepted");
}

TEST_F(CommandChannelTest, ASecondWindowRunsWithoutTheChannelAndAStaleSocketIsReplaced) {
    auto first = OpenServing();
    ASSERT_TRUE(first->commandServer()->IsServing());
    auto second = OpenServing(dir.file("Second.dat"));
    EXPECT_FALSE(second->commandServer()->IsServing());
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(Execute("Maximize"), "accepted");
    EXPECT_TRUE(first->isMaximized());
    EXPECT_FALSE(second->isMaximized());
    // The first window takes its socket along when it closes.
    first.reset();
    EXPECT_FALSE(std::filesystem::exists(channel));
    second.reset();

    // A socket nobody serves any more, as a crash leaves it.
    ::close(test::BoundSocket(channel, false));
    ASSERT_TRUE(std::filesystem::is_socket(channel));
    auto third = OpenServing();
    EXPECT_TRUE(third->commandServer()->IsServing());
    EXPECT_EQ(Execute("Minimize"), "accepted");
    EXPECT_TRUE(third->isMinimized());
}

TEST_F(CommandChannelTest, CommandLineToolExitStatus) {
    const auto run = [this](const QString& command) {
        QProcess cli;
        cli.start(QStringLiteral(SORVANE_CLI),
                  {QStringLiteral("execute"), command, QStringLiteral("--socket"), Q(channel)});
        // The window answers only while its event loop runs.
        QSignalSpy done(&cli, &QProcess::finished);
        EXPECT_TRUE(done.wait(20000));
        return std::pair(cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput()));
    };
    auto w = OpenServing();
    EXPECT_EQ(run(QStringLiteral("Maximize")), std::pair(0, QStringLiteral("accepted\n")));
    EXPECT_TRUE(w->isMaximized());
    EXPECT_EQ(run(QStringLiteral("Stop")), std::pair(1, QStringLiteral("not accepted\n")));
    EXPECT_EQ(run(QStringLiteral("Rotate")), std::pair(1, QStringLiteral("not accepted\n")));
    w.reset();
    EXPECT_EQ(run(QStringLiteral("Show")).first, 2);
}

} // namespace
} // namespace sorvane::shell::test_window
