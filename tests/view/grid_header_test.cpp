#include "view/grid_header.h"
#include "view/result_model.h"

#include <gtest/gtest.h>
#include <QGuiApplication>
#include <QStyleOptionHeader>

namespace sorvane::view {
namespace {

// Reads the options the header paints each section with.
class HeaderProbe : public GridHeader {
public:
    HeaderProbe() : GridHeader(Qt::Horizontal) {}
    QStyleOptionHeader Options(int column) const {
        QStyleOptionHeader option;
        initStyleOption(&option);
        initStyleOptionForIndex(&option, column);
        return option;
    }
};

TEST(GridHeader, PaintsTheSortColumnInItsColoursWithOnePaletteAndTheOthersWithTheHeaders) {
    ResultModel model;
    HeaderProbe header;
    header.setModel(&model);
    const QPalette app = QGuiApplication::palette();
    struct Case {
        int sortColumn;
        int column;
        bool marked;
    };
    const Case cases[] = {{kNameColumn, kNameColumn, true},   {kNameColumn, kExtColumn, false},
                          {kMarkColumn, kMarkColumn, true},   {kMarkColumn, kNameColumn, false},
                          {kNameColumn, kNameColumn, true},   {kNoSortKey, kNameColumn, false},
                          {kCopyrightColumn, kCopyrightColumn, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "sort " << c.sortColumn << ", column " << c.column);
        model.SetSortColumn(c.sortColumn);
        const QStyleOptionHeader first = header.Options(c.column);
        const QStyleOptionHeader again = header.Options(c.column);
        // The style caches section pictures by palette identity: it must not
        // change from one paint to the next.
        EXPECT_EQ(again.palette.cacheKey(), first.palette.cacheKey());
        if (c.marked) {
            EXPECT_EQ(first.palette.color(QPalette::Button), app.color(QPalette::Dark));
            EXPECT_EQ(first.palette.color(QPalette::ButtonText),
                      app.color(QPalette::HighlightedText));
        } else {
            EXPECT_EQ(first.palette.cacheKey(), header.palette().cacheKey());
        }
    }
}

} // namespace
} // namespace sorvane::view
