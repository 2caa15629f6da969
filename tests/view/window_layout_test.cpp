#include "view/window_layout.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QToolBar>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}
QT_END_NAMESPACE

namespace sorvane::view {
namespace {

TEST(WindowLayout, FirstWindowTakesTwoThirdsCentred) {
    struct Case {
        QRect available;
        QSize minimum;
        QRect expected;
    };
    const std::vector<Case> cases{
        {{0, 0, 1920, 1080}, {}, {320, 180, 1280, 720}},
        {{0, 0, 1280, 800}, {600, 400}, {213, 133, 853, 533}},
        // A panel at the top or on the left of the screen.
        {{0, 32, 1920, 1048}, {}, {320, 207, 1280, 698}},
        {{64, 0, 1856, 1080}, {}, {373, 180, 1237, 720}},
        // The second of two screens side by side.
        {{1920, 0, 2560, 1440}, {}, {2347, 240, 1706, 960}},
        // A small screen: the window's smallest size wins, the screen still bounds it.
        {{0, 0, 800, 600}, {630, 380}, {85, 100, 630, 400}},
        {{0, 0, 800, 600}, {900, 700}, {0, 0, 800, 600}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.available));
        const QRect frame = FirstWindowGeometry(c.available, c.minimum);
        EXPECT_EQ(frame, c.expected);
        EXPECT_TRUE(c.available.contains(frame));
    }
}

TEST(WindowLayout, SavedFramesAreFittedToTheScreen) {
    const QRect screen(0, 0, 1280, 800);
    struct Case {
        QRect saved;
        QRect expected;
    };
    const std::vector<Case> cases{
        {{100, 100, 652, 354}, {100, 100, 652, 354}},     // fits: kept
        {{0, 0, 1280, 800}, {0, 0, 1280, 800}},           // exactly the screen
        {{0, 0, 3000, 2000}, {0, 0, 1280, 800}},          // larger than the screen
        {{-500, -300, 3000, 2000}, {0, 0, 1280, 800}},
        {{1000, 700, 652, 354}, {628, 446, 652, 354}},    // hanging off the bottom right
        {{-200, -50, 652, 354}, {0, 0, 652, 354}},        // off the top left
        {{2500, 100, 652, 354}, {628, 100, 652, 354}},    // on a screen that is gone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.saved));
        EXPECT_EQ(FitOnScreen(c.saved, screen), c.expected);
    }
}

TEST(WindowLayout, BandWidthsGoToTheBoxWithinItsLimits) {
    QToolBar band;
    band.addWidget(new QLabel(QStringLiteral("&Source:")));
    auto* box = new QComboBox;
    box->setEditable(true);
    band.addWidget(box);
    band.addAction(QStringLiteral("A"));
    band.addAction(QStringLiteral("B"));
    band.adjustSize();
    const int besides = band.sizeHint().width() - box->sizeHint().width();
    ASSERT_GT(besides, 0);
    const int smallest = box->minimumSizeHint().width();

    EXPECT_EQ(BoxWidthForBand(&band, box, 0), 0);
    EXPECT_EQ(BoxWidthForBand(&band, box, -5), 0);
    EXPECT_EQ(BoxWidthForBand(&band, box, besides + 600), 600);
    EXPECT_EQ(BoxWidthForBand(&band, box, besides + smallest), smallest);
    EXPECT_EQ(BoxWidthForBand(&band, box, 10), smallest); // never below the box's smallest
    EXPECT_EQ(BandMinimumWidth(&band, box), besides + smallest);
    EXPECT_EQ(BandMinimumWidth(&band, nullptr), band.sizeHint().width());
}

} // namespace
} // namespace sorvane::view
