#pragma once
// The result grid's column header. It draws like a plain QHeaderView; the
// one difference is that a section the model colours (the sort column) is
// drawn with the same palette object every time. QHeaderView builds a fresh
// palette for such a section on every paint, and the style caches each
// section's picture under its palette's identity, so every repaint of the
// header would add one more picture to the process-wide pixmap cache.

#include <QHeaderView>
#include <QPalette>

#include <vector>

namespace sorvane::view {

class GridHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit GridHeader(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;

private:
    // The palettes handed out so far, one per distinct look; a few at most.
    mutable std::vector<QPalette> palettes_;
};

} // namespace sorvane::view
