#include "view/window_layout.h"

#include <QToolBar>
#include <QWidget>

#include <algorithm>

namespace sorvane::view {

QRect FirstWindowGeometry(const QRect& available, const QSize& minimum) {
    const QSize size = QSize(available.width() * 2 / 3, available.height() * 2 / 3)
                           .expandedTo(minimum)
                           .boundedTo(available.size());
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(available.center());
    return frame;
}

QRect FitOnScreen(const QRect& frame, const QRect& available) {
    QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
    // Right and bottom first, so a frame larger than the screen ends up at
    // its top left corner.
    if (fitted.right() > available.right())
        fitted.moveRight(available.right());
    if (fitted.bottom() > available.bottom())
        fitted.moveBottom(available.bottom());
    if (fitted.left() < available.left())
        fitted.moveLeft(available.left());
    if (fitted.top() < available.top())
        fitted.moveTop(available.top());
    return fitted;
}

int BoxWidthForBand(const QToolBar* band, const QWidget* box, int width) {
    if (width <= 0)
        return 0;
    // What the band holds besides the box: label, buttons, handle, margins.
    const int besides = band->sizeHint().width() - box->sizeHint().width();
    return std::max(box->minimumSizeHint().width(), width - besides);
}

int BandMinimumWidth(const QToolBar* band, const QWidget* box) {
    if (box == nullptr)
        return band->sizeHint().width();
    return band->sizeHint().width() - box->sizeHint().width() + box->minimumSizeHint().width();
}

} // namespace sorvane::view
