// Commands from other programs: the main window's side of the command channel.

#include "shell/main_window.h"

#include "platform/command_server.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QToolBar>

#include <algorithm>
#include <cstdio>

namespace sorvane::shell {

void MainWindow::StartCommandChannel() {
    if (options_.commandChannel.isEmpty())
        return;
    commandServer_ = new platform::CommandServer(
        options_.commandChannel, [this](const QString& c) { return fwMain_Form_LinkExecute(c); },
        this);
    // Another window of the user's may serve already: this one still runs,
    // and takes the channel over when that one closes.
    QString why;
    switch (commandServer_->Start(&why)) {
    case platform::CommandServer::StartResult::Serving:
        break;
    case platform::CommandServer::StartResult::TakenByAnother:
        std::fprintf(stderr, "sorvane: %s; this window takes commands once it closes\n",
                     qPrintable(why));
        break;
    case platform::CommandServer::StartResult::Failed:
        std::fprintf(stderr, "sorvane: %s; this window takes no commands\n", qPrintable(why));
        break;
    }
}

bool MainWindow::fwMain_Form_LinkExecute(const QString& command) {
    // Commands come between the user's own events: while a dialog, a message
    // box or a menu waits for the user, nothing is done, neither to the
    // window behind it nor by opening another box over it.
    if (platform::WaitsForUser(Dialogs()))
        return false;
    const auto is = [&command](const char* name) {
        return command.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    const Qt::WindowStates others =
        windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (is("Maximize")) {
        setWindowState(others | Qt::WindowMaximized);
    } else if (is("Minimize")) {
        setWindowState(others | Qt::WindowMinimized);
    } else if (is("Restore")) {
        setWindowState(others);
    } else if (is("Hide")) {
        hide();
    } else if (is("Show")) {
        show();
    } else if (is("Tab")) {
        setEnabled(true);
        activateWindow();
        // One Tab key press, to the control that has the focus, moves it on.
        QWidget* target = focusWidget() != nullptr ? focusWidget() : this;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QCoreApplication::sendEvent(target, &press);
        QCoreApplication::sendEvent(target, &release);
    } else {
        // Every button is on the tool bar, each key once; hidden and
        // disabled buttons are found too.
        const auto key = std::ranges::find_if(buttonOrder_, [&](const QString& k) {
            return k.compare(command, Qt::CaseInsensitive) == 0;
        });
        if (key != buttonOrder_.end()) {
            // The click runs once the reply is on its way: Save, Find and a
            // copy open boxes that wait for the user, and the caller must not
            // wait with them.
            // A box opened meanwhile (by an earlier command's click) keeps
            // this one from running into it.
            QMetaObject::invokeMethod(
                this,
                [this, k = *key] {
                    if (!platform::WaitsForUser(Dialogs()))
                        pbToolbar_ButtonClick(k);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
    return true;
}

} // namespace sorvane::shell
