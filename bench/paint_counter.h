#pragma once
// Counts the paint events of a widget it is installed on, so a benchmark can
// wait until what it changed has been drawn; and the waits themselves.

#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <functional>

class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

// Runs the event loop until `done` says so. Everything the window does here
// happens inside a running loop, as it does for a user: objects Qt deletes
// later (finished animations of the tool bars, for one) are deleted only by a
// running loop, and would pile up under bare processEvents calls.
inline void WaitUntil(const std::function<bool()>& done, int limitMs = 600000) {
    if (done())
        return;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer limit;
    limit.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || limit.elapsed() >= limitMs)
            loop.quit();
    });
    poll.start(2);
    loop.exec();
}

// Runs the event loop until `counter` has counted more paints than `before`.
inline void WaitForPaint(const PaintCounter& counter, int before) {
    WaitUntil([&] { return counter.count > before; }, 20000);
    if (counter.count <= before)
        std::fprintf(stderr, "warning: the grid did not paint within 20 s\n");
}
