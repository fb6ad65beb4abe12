#include "widgets/GridGeometry.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace zeplo {

void GridGeometry::setColumns(std::vector<Column> columns)
{
    columns_ = std::move(columns);
    if (columns_.empty())
        columns_.push_back(Column{});
}

int GridGeometry::width(int column) const
{
    if (column < 0 || column >= count())
        return 0;
    return columns_[size_t(column)].width;
}

int GridGeometry::moveColumn(int from, int to, int current)
{
    const Column moved = columns_[size_t(from)];
    columns_.erase(columns_.begin() + from);
    columns_.insert(columns_.begin() + to, moved);
    if (current == from)
        return to;
    if (from < current && current <= to)
        return current - 1;
    if (to <= current && current < from)
        return current + 1;
    return current;
}

int GridGeometry::start(int column) const
{
    int x = 0;
    for (int c = 0; c < column && c < count(); ++c)
        x += columns_[size_t(c)].width + kLineWidth;
    return x;
}

int GridGeometry::totalWidth() const
{
    return start(count());
}

int GridGeometry::left(int column, int scroll) const
{
    return kDataLeft - scroll + start(column);
}

int GridGeometry::columnAt(int x, int scroll) const
{
    if (x < kDataLeft)
        return -1;
    int left = this->left(0, scroll);
    for (int c = 0; c < count(); ++c) {
        const int right = left + columns_[size_t(c)].width + kLineWidth;
        if (x >= left && x < right)
            return c;
        left = right;
    }
    return -1;
}

int GridGeometry::borderAt(int x, int scroll, int grip) const
{
    int best = -1;
    int bestDistance = grip + 1;
    for (int c = 0; c < count(); ++c) {
        const int border = left(c, scroll) + columns_[size_t(c)].width;
        if (border < kDataLeft)
            continue;
        const int distance = std::abs(x - border);
        if (distance < bestDistance) {
            best = c;
            bestDistance = distance;
        }
    }
    return best;
}

int GridGeometry::scrollToShow(int column, int scroll, int viewportWidth) const
{
    const int available = viewportWidth - kDataLeft;
    const int left = start(column);
    const int right = left + columns_[size_t(column)].width + kLineWidth;
    if (left < scroll)
        return left;
    if (right <= scroll + available)
        return scroll;
    for (int c = 0; c < column; ++c) {
        if (right - start(c) <= available)
            return start(c);
    }
    return left;
}

int GridGeometry::scrollMaximum(int viewportWidth) const
{
    const int available = std::max(0, viewportWidth - kDataLeft);
    int maximum = std::max(0, totalWidth() - available);
    for (int c = 0, start = 0; c < count() && maximum > 0; start += columns_[size_t(c)].width + kLineWidth, ++c) {
        if (start >= maximum)
            return start;
    }
    return maximum;
}

} // namespace zeplo
