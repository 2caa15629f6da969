#include "platform/program_end.h"

#include <QApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace sorvane::platform {
namespace {

constexpr std::array kEndSignals{SIGTERM, SIGINT, SIGHUP};

// The signal handler only writes a byte to the pipe's writing end; the
// event loop reads it from the other.
int gReadFd = -1;
volatile std::sig_atomic_t gWriteFd = -1;

extern "C" void OnEndSignal(int) {
    const int fd = gWriteFd;
    // Asked again while the program tears down after its window closed (the
    // settings are written by then): it ends now rather than later.
    if (fd < 0)
        ::_exit(0);
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up: nothing is lost.
    [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    errno = saved;
}

} // namespace

ProgramEnd::ProgramEnd(QWidget& window) : window_(window) {
    // Quitting is this object's call, made when the main window closes: a
    // help window left open, or the last shown window closing while the main
    // window is hidden, neither keeps the program nor ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    window_.installEventFilter(this);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    gReadFd = fds[0];
    gWriteFd = fds[1];
    notifier_ = new QSocketNotifier(gReadFd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ProgramEnd::OnSignal);
    for (const int signal : kEndSignals) {
        struct sigaction previous{};
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action{};
        action.sa_handler = OnEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
}

ProgramEnd::~ProgramEnd() {
    // The handlers stay: from now on a request ends the program at once. The
    // pipe stays open too, as a handler running on another thread may be
    // writing to it just now.
    gWriteFd = -1;
    delete notifier_;
}

bool ProgramEnd::eventFilter(QObject* watched, QEvent* event) {
    // The main window never refuses to close: its close event is its end.
    if (watched == &window_ && event->type() == QEvent::Close && !closed_) {
        closed_ = true;
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void ProgramEnd::OnSignal() {
    char bytes[64];
    while (::read(gReadFd, bytes, sizeof bytes) > 0) {
    }
    // A second signal, or one after the user closed the window, must not
    // write the settings again.
    if (!closed_)
        window_.close();
    // A hidden window's close does not end the program by itself.
    QCoreApplication::quit();
}

} // namespace sorvane::platform
