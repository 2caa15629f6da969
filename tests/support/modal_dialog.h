#pragma once
// Answers a modal dialog from inside its exec(): the test schedules what to do
// with the next modal dialog, then calls the code that shows it.

#include <functional>
#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace sorvane::test {

/// Runs `action` on the next modal widget shown, from the event loop of its
/// exec(). A dialog still open after `action` is rejected. Should `action`
/// itself block (a nested modal box), every modal widget is closed after
/// `timeoutMs` and the test fails, so a test never hangs.
inline void OnNextModal(std::function<void(QWidget*)> action, int timeoutMs = 5000) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, qApp, [poll, timeoutMs, action = std::move(action)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        // Bound to the dialog: the watchdog goes away with it.
        QTimer::singleShot(timeoutMs, modal, [] {
            ADD_FAILURE() << "a modal dialog was still open; closed by the test";
            QWidget* last = nullptr;
            while (QWidget* open = QApplication::activeModalWidget()) {
                if (open == last)
                    break;
                last = open;
                open->close();
            }
        });
        QPointer<QWidget> guard(modal);
        action(modal);
        if (auto* dialog = qobject_cast<QDialog*>(guard.data()); dialog && dialog->isVisible())
            dialog->reject();
    });
    poll->start();
}

} // namespace sorvane::test
