#include "view/window_layout.h"

#include <QMainWindow>
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

BandRows ArrangeBands(QMainWindow& window, const std::vector<Band>& bands,
                      const std::vector<BandPlacement>& placements,
                      const std::function<void(QWidget* box, int width)>& setBoxWidth) {
    const auto placementOf = [&](const QToolBar* bar) -> const BandPlacement* {
        for (const BandPlacement& p : placements)
            if (QString::fromStdString(p.name) == bar->objectName())
                return &p;
        return nullptr;
    };
    // Each position gets the band saved there; unknown names keep their own.
    std::vector<Band> arranged;
    const auto add = [&arranged](const Band& band) {
        if (std::none_of(arranged.begin(), arranged.end(),
                         [&](const Band& b) { return b.bar == band.bar; }))
            arranged.push_back(band);
    };
    for (const BandPlacement& p : placements)
        for (const Band& band : bands)
            if (QString::fromStdString(p.name) == band.bar->objectName())
                add(band);
    for (const Band& band : bands)
        add(band);
    for (const Band& band : arranged)
        window.removeToolBar(band.bar);

    // The bands of each row, shown or not.
    std::vector<std::vector<Band>> rows;
    for (std::size_t i = 0; i < arranged.size(); ++i) {
        const BandPlacement* p = placementOf(arranged[i].bar);
        if (rows.empty() || (i > 0 && p != nullptr && p->newRow))
            rows.emplace_back();
        rows.back().push_back(arranged[i]);
    }
    BandRows result;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r > 0)
            window.addToolBarBreak();
        QToolBar* lastShown = nullptr;
        for (const Band& band : rows[r]) {
            const BandPlacement* p = placementOf(band.bar);
            window.addToolBar(band.bar);
            band.bar->setVisible(p == nullptr || p->visible);
            if (!band.bar->isHidden())
                lastShown = band.bar;
        }
        int row = 0;
        for (const Band& band : rows[r]) {
            const BandPlacement* p = placementOf(band.bar);
            if (band.box != nullptr) {
                result.boxes.push_back(band.box);
                const int saved = p != nullptr && band.bar != lastShown ? p->width : 0;
                setBoxWidth(band.box, BoxWidthForBand(band.bar, band.box, saved));
            }
            if (!band.bar->isHidden())
                row += BandMinimumWidth(band.bar, band.box);
        }
        result.shownRows += lastShown != nullptr ? 1 : 0;
        result.widestRow = std::max(result.widestRow, row);
    }
    return result;
}

} // namespace sorvane::view
