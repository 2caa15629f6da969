// Commands from other programs: the main window's side of the command channel.

#include "shell/main_window.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QToolBar>

#include <algorithm>

namespace sorvane::shell {

bool MainWindow::fwMain_Form_LinkExecute(const QString& command) {
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
            QMetaObject::invokeMethod(
                this, [this, k = *key] { pbToolbar_ButtonClick(k); }, Qt::QueuedConnection);
        }
        return false;
    }
    return true;
}

} // namespace sorvane::shell
