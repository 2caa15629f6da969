#include "view/grid_header.h"

#include <QStyleOptionHeader>

namespace sorvane::view {
namespace {

// More looks than this means the colours keep changing; start over.
constexpr std::size_t kMaxPalettes = 8;

} // namespace

GridHeader::GridHeader(Qt::Orientation orientation, QWidget* parent)
    : QHeaderView(orientation, parent) {}

void GridHeader::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const {
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    if (option->palette.cacheKey() == palette().cacheKey())
        return;
    for (const QPalette& known : palettes_) {
        // Same colours: hand out the copy made before, whose identity the
        // style's cache already knows.
        if (known == option->palette && known.resolveMask() == option->palette.resolveMask()) {
            option->palette = known;
            return;
        }
    }
    if (palettes_.size() >= kMaxPalettes)
        palettes_.clear();
    palettes_.push_back(option->palette);
}

} // namespace sorvane::view
