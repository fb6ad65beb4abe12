#include <initializer_list>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "widgets/GridGeometry.h"

using namespace zeplo;

namespace {

GridGeometry columnsOf(std::initializer_list<int> widths)
{
    std::vector<GridGeometry::Column> columns;
    for (int w : widths)
        columns.push_back(GridGeometry::Column{int(columns.size()), w});
    GridGeometry g;
    g.setColumns(std::move(columns));
    return g;
}

constexpr int kLeft = GridGeometry::kDataLeft;

} // namespace

TEST(GridGeometry, PlacesColumnsAndFindsThemUnderAPoint)
{
    const GridGeometry g = columnsOf({30, 50, 20});
    EXPECT_EQ(g.start(1), 31);
    EXPECT_EQ(g.start(2), 82);
    EXPECT_EQ(g.totalWidth(), 103);
    EXPECT_EQ(g.left(1, 0), kLeft + 31);
    // A column owns its line on the right; the indicator owns no column.
    EXPECT_EQ(g.columnAt(kLeft - 1, 0), -1);
    EXPECT_EQ(g.columnAt(kLeft, 0), 0);
    EXPECT_EQ(g.columnAt(kLeft + 30, 0), 0);
    EXPECT_EQ(g.columnAt(kLeft + 31, 0), 1);
    EXPECT_EQ(g.columnAt(kLeft + 102, 0), 2);
    EXPECT_EQ(g.columnAt(kLeft + 103, 0), -1);
    // Scrolled by the first column: the second starts where the first did,
    // and a border scrolled under the indicator is not offered for resizing.
    EXPECT_EQ(g.columnAt(kLeft, 31), 1);
    EXPECT_EQ(g.borderAt(kLeft + 30 + 2, 0, 2), 0);
    EXPECT_EQ(g.borderAt(kLeft + 30 + 3, 0, 2), -1);
    EXPECT_EQ(g.borderAt(kLeft - 1, 31, 2), -1);

    GridGeometry moved = columnsOf({30, 50, 20});
    EXPECT_EQ(moved.moveColumn(0, 2, 1), 0);
    EXPECT_EQ(moved.width(2), 30);
    EXPECT_EQ(moved.moveColumn(2, 0, 2), 0);
    EXPECT_EQ(moved.moveColumn(0, 1, 1), 0);
    EXPECT_EQ(GridGeometry().count(), 1);
    EXPECT_EQ(GridGeometry().width(0), GridGeometry::kEmptyColumnWidth);
}

TEST(GridGeometry, ScrollsSidewaysByWholeColumns)
{
    // Room for exactly two columns of 100 with their lines.
    const GridGeometry even = columnsOf({100, 100, 100, 100});
    const int fitsTwo = kLeft + 202;
    EXPECT_EQ(even.scrollToShow(1, 0, fitsTwo), 0);
    EXPECT_EQ(even.scrollToShow(2, 0, fitsTwo), 101);
    EXPECT_EQ(even.scrollToShow(3, 0, fitsTwo), 202);
    EXPECT_EQ(even.scrollToShow(0, 202, fitsTwo), 0);
    EXPECT_EQ(even.scrollToShow(2, 101, fitsTwo), 101);

    // A column wider than the view starts at the left edge, and so does the
    // one after it when it cannot share the view with it.
    const GridGeometry wide = columnsOf({100, 100, 300, 40});
    EXPECT_EQ(wide.scrollToShow(2, 0, kLeft + 250), 202);
    EXPECT_EQ(wide.scrollToShow(3, 202, kLeft + 250), 503);
}

TEST(GridGeometry, ScrollBarEndsAtAColumnStartUnlessTheLastColumnIsWider)
{
    const GridGeometry even = columnsOf({100, 100, 100, 100});
    EXPECT_EQ(even.scrollMaximum(kLeft + 250), 202);
    EXPECT_EQ(even.columnAt(kLeft, 202), 2);
    EXPECT_LE(even.left(3, 202) + 100, kLeft + 250);
    EXPECT_EQ(even.scrollMaximum(kLeft + 404), 0);
    EXPECT_EQ(even.scrollMaximum(kLeft + 403), 101);
    EXPECT_EQ(even.scrollMaximum(kLeft + 303), 101); // the rest fits from exactly that start

    // The last column wider than the view: scrolled to its last pixel.
    const GridGeometry wide = columnsOf({100, 300});
    EXPECT_EQ(wide.scrollMaximum(kLeft + 250), 152);
    EXPECT_EQ(wide.left(1, 152) + 301, kLeft + 250);
}
