#pragma once
// Counts the paint events of a widget it is installed on, so a benchmark can
// wait until what it changed has been drawn.

#include <QEvent>
#include <QObject>

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
