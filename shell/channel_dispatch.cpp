#include "shell/channel_dispatch.h"

#include "platform/command_server.h"
#include "shell/action_table.h"
#include "shell/window_context.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMainWindow>

#include <cstdio>

namespace sorvane::shell {

ChannelDispatch::ChannelDispatch(WindowContext& window, QObject* parent)
    : QObject(parent), window_(window) {}

void ChannelDispatch::Start(const QString& path) {
    if (path.isEmpty())
        return;
    server_ = new platform::CommandServer(
        path, [this](const QString& c) { return fwMain_Form_LinkExecute(c); }, this);
    // Another window of the user's may serve already: this one still runs,
    // and takes the channel over when that one closes.
    const auto started = server_->Start();
    const std::string why = started.why.Message();
    switch (started.result) {
    case platform::CommandServer::StartResult::Serving:
        break;
    case platform::CommandServer::StartResult::TakenByAnother:
        std::fprintf(stderr, "sorvane: %s; this window takes commands once it closes\n",
                     why.c_str());
        break;
    case platform::CommandServer::StartResult::Failed:
        std::fprintf(stderr, "sorvane: %s; this window takes no commands\n", why.c_str());
        break;
    }
}

bool ChannelDispatch::fwMain_Form_LinkExecute(const QString& command) {
    // Commands come between the user's own events: while a dialog, a message
    // box or a menu waits for the user, nothing is done, neither to the
    // window behind it nor by opening another box over it.
    if (platform::WaitsForUser(window_.Dialogs()))
        return false;
    QMainWindow& main = *window_.window;
    const auto is = [&command](const char* name) {
        return command.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    const Qt::WindowStates others =
        main.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (is("Maximize")) {
        main.setWindowState(others | Qt::WindowMaximized);
    } else if (is("Minimize")) {
        main.setWindowState(others | Qt::WindowMinimized);
    } else if (is("Restore")) {
        main.setWindowState(others);
    } else if (is("Hide")) {
        main.hide();
    } else if (is("Show")) {
        main.show();
    } else if (is("Tab")) {
        main.setEnabled(true);
        main.activateWindow();
        // One Tab key press, to the control that has the focus, moves it on.
        QWidget* target = main.focusWidget() != nullptr ? main.focusWidget() : &main;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QCoreApplication::sendEvent(target, &press);
        QCoreApplication::sendEvent(target, &release);
    } else {
        // Every button is on the tool bar, each key once; hidden and
        // disabled buttons are found too.
        const QString key = window_.commands->ButtonKey(command);
        if (!key.isEmpty()) {
            // The click runs once the reply is on its way: Save, Find and a
            // copy open boxes that wait for the user, and the caller must not
            // wait with them. A box opened meanwhile (by an earlier command's
            // click) keeps this one from running into it.
            QMetaObject::invokeMethod(
                this,
                [this, key] {
                    if (!platform::WaitsForUser(window_.Dialogs()))
                        window_.commands->pbToolbar_ButtonClick(key);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
    return true;
}

} // namespace sorvane::shell
