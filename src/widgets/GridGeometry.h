#pragma once

#include <cstddef>
#include <vector>

namespace zeplo {

// The data grid's columns as plain numbers: their widths and places, which
// column lies under a point, and the horizontal scroll bar, which scrolls the
// columns sideways by whole columns. Positions are viewport pixels at a given
// value of the horizontal bar (the number of pixels scrolled); the columns
// start right of the indicator column and its line.
class GridGeometry {
public:
    static constexpr int kIndicatorWidth = 11;
    static constexpr int kLineWidth = 1;
    static constexpr int kDataLeft = kIndicatorWidth + kLineWidth;
    static constexpr int kEmptyColumnWidth = 64; // the untitled column of a closed grid

    struct Column {
        int field = -1; // index among the result set's fields; -1 for the empty column
        int width = kEmptyColumnWidth; // without the column line
    };

    GridGeometry() { setColumns({}); }

    // No columns give the closed grid's single empty column.
    void setColumns(std::vector<Column> columns);
    int count() const { return int(columns_.size()); }
    int field(int column) const { return columns_[std::size_t(column)].field; }
    int width(int column) const;   // 0 outside the columns
    void setWidth(int column, int width) { columns_[std::size_t(column)].width = width; }
    // Moves a column to another place; returns where the current column went.
    int moveColumn(int from, int to, int current);

    int start(int column) const;           // the widths and lines of the columns before it
    int totalWidth() const;                // every column with its line
    int left(int column, int scroll) const;   // viewport x of the column's first pixel
    int columnAt(int x, int scroll) const;    // -1 when none
    // The column whose right border lies within `grip` pixels of x (the
    // nearest), or -1; borders scrolled under the indicator do not count.
    int borderAt(int x, int scroll, int grip) const;

    // The bar's value that shows the whole column, given the viewport's
    // width: the bar stays where it is when the column is in view; otherwise
    // the first column shown is the leftmost that still leaves room for it,
    // and a column wider than the view starts at the left edge.
    int scrollToShow(int column, int scroll, int viewportWidth) const;
    // The bar's range ends at the first column start from which the rest of
    // the columns fit; a last column wider than the view is scrolled through
    // pixel by pixel.
    int scrollMaximum(int viewportWidth) const;

private:
    std::vector<Column> columns_;
};

} // namespace zeplo
