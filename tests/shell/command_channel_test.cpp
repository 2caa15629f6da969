// Other programs drive the window through its command socket.

#include "window_fixture.h"

#include "platform/command_server.h"
#include "platform/dialogs.h"
#include "support/fake_channel.h"
#include "support/modal_dialog.h"

#include <QProcess>
#include <QTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <thread>

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
    w->viewCommands().mViewShowFiles_Click(0);
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
    w->viewCommands().mViewShowFiles_Click(0);
    QSignalSpy finished(w.get(), &MainWindow::ScanFinished);
    w->scan().mFileScan_Click();
    ASSERT_TRUE(w->Scanning());
    // Straight away: a scan of this size may end before a socket is read.
    EXPECT_FALSE(w->channel().fwMain_Form_LinkExecute(QStringLiteral("stop")));
    QCoreApplication::processEvents(); // the click follows the reply
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    EXPECT_EQ(w->PanelText(2), "Scanning was interrupted.");
    EXPECT_LT(w->model()->Rows().size(), std::size_t{kLongScanFiles});
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

TEST_F(CommandChannelTest, IdleClientsGiveWayToNewOnesAndACommandOutlivesItsClient) {
    auto w = OpenServing();
    w->commandServer()->SetRequestTimeout(2000);
    QSignalSpy dropped(w->commandServer(), &platform::CommandServer::ClientDropped);
    // A whole command whose client hangs up before the reply still runs.
    {
        RawClient gone(channel);
        gone.Send("Maximize\n");
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->isMaximized(); }, 5000));
    // As many idle clients as are served at once, then one more: the one
    // idle longest gives way, the others stay.
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < platform::CommandServer::kMaxClients; ++i)
        idle.push_back(std::make_unique<RawClient>(channel));
    QTest::qWait(100); // all of them taken in
    RawClient extra(channel);
    EXPECT_EQ(idle.front()->Reply(std::chrono::seconds(1)), "(closed)");
    EXPECT_EQ(dropped.count(), 1);
    EXPECT_EQ(idle.back()->Reply(std::chrono::milliseconds(100)), "(no reply)");
    extra.Send("Restore\n");
    EXPECT_EQ(extra.Reply(), "accepted");
    EXPECT_FALSE(w->isMaximized());
    idle.clear();
    QTest::qWait(200); // their hang-ups seen
    EXPECT_EQ(Execute("Maximize"), "accepted");
}

// Opens connections to a socket as fast as it is let, on a thread of its
// own, keeping the newest `keep` of them open, until it is destroyed.
class ConnectionFlood {
public:
    ConnectionFlood(const std::string& path, std::size_t keep)
        : thread_([this, path, keep] {
              sockaddr_un address{};
              address.sun_family = AF_UNIX;
              std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
              std::deque<int> open;
              while (!stop_) {
                  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                      open.push_back(fd);
                  else
                      ::close(fd);
                  while (open.size() > keep) {
                      ::close(open.front());
                      open.pop_front();
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
              for (const int fd : open)
                  ::close(fd);
          }) {}
    ~ConnectionFlood() {
        stop_ = true;
        thread_.join();
    }
    ConnectionFlood(const ConnectionFlood&) = delete;
    ConnectionFlood& operator=(const ConnectionFlood&) = delete;

private:
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

// A client holding every place, idle, half-way through a command, or taking
// each place again as soon as it is given up, never keeps a command out.
TEST_F(CommandChannelTest, AClientHoggingEveryPlaceCannotShutOutACommand) {
    auto w = OpenServing();
    const auto runCli = [this](const char* command) {
        QProcess cli;
        cli.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("execute"), QLatin1String(command),
                                                QStringLiteral("--socket"), Q(channel),
                                                QStringLiteral("--timeout"), QStringLiteral("5")});
        QSignalSpy done(&cli, &QProcess::finished);
        EXPECT_TRUE(done.wait(20000));
        return std::pair(cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput()));
    };
    struct Row {
        const char* name;
        const char* sends; ///< what each hogging client sends; null: it floods
    };
    const Row rows[] = {{"idle", ""}, {"half-sent", "Maxim"}, {"flood", nullptr}};
    bool maximize = true;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::unique_ptr<RawClient>> hogs;
        std::unique_ptr<ConnectionFlood> flood;
        if (row.sends != nullptr) {
            for (int i = 0; i < platform::CommandServer::kMaxClients; ++i) {
                hogs.push_back(std::make_unique<RawClient>(channel));
                hogs.back()->Send(row.sends);
            }
        } else {
            flood = std::make_unique<ConnectionFlood>(channel, 2 * platform::CommandServer::kMaxClients);
        }
        QTest::qWait(200); // every place taken
        EXPECT_EQ(runCli(maximize ? "Maximize" : "Restore"),
                  std::pair(0, QStringLiteral("accepted\n")));
        EXPECT_EQ(w->isMaximized(), maximize);
        maximize = !maximize;
        hogs.clear();
        flood.reset();
        QTest::qWait(300); // their hang-ups seen: the next row starts afresh
    }
}

// While a dialog or message box waits for the user, commands are answered
// "not accepted" and neither change the window behind it nor open more.
TEST_F(CommandChannelTest, CommandsWhileADialogIsOpenAreNotAccepted) {
    MakeTrees();
    auto w = OpenServing();
    w->viewCommands().mViewShowFiles_Click(0);
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w); // Find has rows to search
    platform::QtDialogService real;
    platform::FindState find;
    struct Row {
        const char* name;
        std::function<void()> open;
    };
    const Row rows[] = {
        {"message box", [&] { real.ShowMessage(w.get(), "Sorvane", "Wait", platform::MessageIcon::Information,
                                               platform::MessageButtons::Ok); }},
        {"find box", [&] { real.ShowFindBox(w.get(), find); }},
        {"file dialog", [&] { real.OpenFileName(w.get(), {}); }},
        {"colour dialog", [&] { real.ChooseColor(w.get(), Qt::red); }},
        {"font dialog", [&] { real.ChooseFont(w.get(), w->font(), {}); }},
        {"About box", [&] { w->help().mHelpAbout_Click(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool subfolders = w->action("mViewSubfolders")->isChecked();
        bool ran = false;
        test::OnNextModal([&](QWidget*) {
            ran = true;
            for (const char* command : {"Maximize", "Minimize", "Hide", "Tab", "Find", "Recur"})
                EXPECT_EQ(Execute(command), "not accepted") << command;
            QProcess cli;
            cli.start(QStringLiteral(SORVANE_CLI),
                      {QStringLiteral("execute"), QStringLiteral("Maximize"),
                       QStringLiteral("--socket"), Q(channel)});
            QSignalSpy done(&cli, &QProcess::finished);
            EXPECT_TRUE(done.wait(20000));
            EXPECT_EQ(cli.exitCode(), 1);
            EXPECT_EQ(cli.readAllStandardOutput(), "not accepted\n");
            QCoreApplication::processEvents(); // a click would follow its reply
        });
        row.open();
        EXPECT_TRUE(ran);
        QCoreApplication::processEvents();
        EXPECT_TRUE(w->isVisible());
        EXPECT_FALSE(w->isMaximized());
        EXPECT_FALSE(w->isMinimized());
        EXPECT_EQ(w->action("mViewSubfolders")->isChecked(), subfolders);
        EXPECT_EQ(dialogs.Count(FakeDialogs::Kind::Find), 0u);
    }
    // Closed, the window takes commands again.
    EXPECT_EQ(Execute("Maximize"), "accepted");
    EXPECT_TRUE(w->isMaximized());
}

// The fake dialogs, with the find box held open (as the service counts it)
// while `whileFindBoxOpen` runs.
class LingeringDialogs : public FakeDialogs {
public:
    std::function<void()> whileFindBoxOpen;

    bool ShowFindBox(QWidget* parent, platform::FindState& state) override {
        const ShowingScope showing(*this);
        if (whileFindBoxOpen)
            whileFindBoxOpen();
        return FakeDialogs::ShowFindBox(parent, state);
    }
};

// Clicks asked for together run one by one: once the first has opened its
// box, the others do not open theirs over it.
TEST_F(CommandChannelTest, ClicksAskedForTogetherDoNotStackBoxes) {
    MakeTrees();
    LingeringDialogs lingering;
    StartOptions options;
    options.commandChannel = Q(channel);
    options.dialogs = &lingering;
    auto w = Open(std::move(options));
    w->viewCommands().mViewShowFiles_Click(0);
    w->sourceBox()->SetText(Q(dir.file("src")));
    w->targetBox()->SetText(Q(dir.file("dst")));
    Scan(*w);
    std::string whileOpen;
    lingering.whileFindBoxOpen = [&] {
        QTest::qWait(200); // the other clicks come round meanwhile
        whileOpen = Execute("Maximize");
    };
    RawClient first(channel), second(channel), third(channel);
    first.Send("Find\n");
    second.Send("Find\n");
    third.Send("Find\n");
    EXPECT_EQ(first.Reply(), "not accepted");
    EXPECT_EQ(second.Reply(), "not accepted");
    EXPECT_EQ(third.Reply(), "not accepted");
    EXPECT_TRUE(QTest::qWaitFor([&] { return lingering.Count(FakeDialogs::Kind::Find) > 0; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(lingering.Count(FakeDialogs::Kind::Find), 1u);
    EXPECT_EQ(whileOpen, "not accepted");
    EXPECT_FALSE(w->isMaximized());

    // Three taken in before any of their clicks has run, as the server does
    // with commands that came together.
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(w->channel().fwMain_Form_LinkExecute(QStringLiteral("Find")));
    QCoreApplication::processEvents();
    EXPECT_EQ(lingering.Count(FakeDialogs::Kind::Find), 2u);
}

// When the window serving the channel closes, one of the others takes it
// over; when that one closes too, the last one does.
TEST_F(CommandChannelTest, WhenTheServingWindowClosesAnotherTakesOver) {
    auto first = OpenServing();
    ASSERT_TRUE(first->commandServer()->IsServing());
    std::unique_ptr<MainWindow> others[] = {OpenServing(dir.file("Second.dat")),
                                            OpenServing(dir.file("Third.dat"))};
    QSignalSpy tookOver0(others[0]->commandServer(), &platform::CommandServer::ServingStarted);
    QSignalSpy tookOver1(others[1]->commandServer(), &platform::CommandServer::ServingStarted);
    EXPECT_FALSE(others[0]->commandServer()->IsServing());
    EXPECT_FALSE(others[1]->commandServer()->IsServing());
    QTest::qWait(700); // both have asked again while the first still serves
    EXPECT_FALSE(others[0]->commandServer()->IsServing());
    EXPECT_FALSE(others[1]->commandServer()->IsServing());

    first.reset();
    const auto serving = [&] {
        return int(others[0]->commandServer()->IsServing()) +
               int(others[1]->commandServer()->IsServing());
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return serving() > 0; }, 3000));
    QTest::qWait(1200); // both have tried again since
    EXPECT_EQ(serving(), 1);
    EXPECT_EQ(tookOver0.count() + tookOver1.count(), 1);
    const int now = others[0]->commandServer()->IsServing() ? 0 : 1;
    EXPECT_EQ(Execute("Maximize"), "accepted");
    EXPECT_TRUE(others[now]->isMaximized());
    EXPECT_FALSE(others[1 - now]->isMaximized());

    others[now].reset();
    MainWindow& last = *others[1 - now];
    ASSERT_TRUE(QTest::qWaitFor([&] { return last.commandServer()->IsServing(); }, 3000));
    EXPECT_EQ(Execute("Minimize"), "accepted");
    EXPECT_TRUE(last.isMinimized());
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
