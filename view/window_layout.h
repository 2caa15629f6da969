#pragma once
// Where the main window opens and how its bands share their rows: the first
// window's size, a saved position fitted to the screen, the band widths of
// the last session, and the smallest size at which nothing overlaps.

#include <QRect>
#include <QSize>

class QMainWindow;
class QToolBar;
class QWidget;

#include <functional>
#include <string>
#include <vector>

namespace sorvane::view {

/// The frame of a window that has no saved position: two thirds of the free
/// screen area in each direction, or `minimum` where that is larger, never
/// larger than the area, centred on it.
QRect FirstWindowGeometry(const QRect& available, const QSize& minimum = {});

/// A saved frame made to fit the free screen area: never larger than it, and
/// moved so that it lies wholly on it. A frame that already fits is kept.
QRect FitOnScreen(const QRect& frame, const QRect& available);

/// The width a path band's box asks for so that the band gets `width`: the
/// band's width less its label, buttons and margins, never below the box's
/// smallest width. 0 (nothing in particular) when `width` is 0 or less. The
/// tool bar area gives each band of a row what it asks for while there is
/// room, and stretches the last band of a row to its end.
int BoxWidthForBand(const QToolBar* band, const QWidget* box, int width);

/// The width a band needs to show all it holds without an overflow menu:
/// the whole band when it has no box, else the band with its box at its
/// smallest.
int BandMinimumWidth(const QToolBar* band, const QWidget* box);

/// One band of the tool bar area: its tool bar and, for a path band, its box.
struct Band {
    QToolBar* bar = nullptr;
    QWidget* box = nullptr;
};

/// Where a band was saved: by the tool bar's object name, in display order.
struct BandPlacement {
    std::string name;
    bool newRow = false;
    bool visible = true;
    int width = 0; ///< 0: no width of its own
};

/// What ArrangeBands made of the bands.
struct BandRows {
    int widestRow = 0; ///< the widest row at its bands' smallest, in pixels
    int shownRows = 0;
    std::vector<QWidget*> boxes; ///< the bands' boxes in the order they are placed
};

/// Puts `bands` into the top tool bar area of `window` in the saved order
/// (bands the placements do not name follow in their own order), with the
/// saved row breaks and visibility. Every band but the last shown one of a
/// row gets back its saved width through `setBoxWidth` (the box width to ask
/// for, 0 for none); the last one reaches to the end of its row anyway.
BandRows ArrangeBands(QMainWindow& window, const std::vector<Band>& bands,
                      const std::vector<BandPlacement>& placements,
                      const std::function<void(QWidget* box, int width)>& setBoxWidth);

} // namespace sorvane::view
