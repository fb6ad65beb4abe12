#include "engine/RowWindow.h"

#include <algorithm>

namespace zeplo {

void RowWindow::clear()
{
    top_ = 0;
    rows_.clear();
    ahead_.clear();
}

void RowWindow::fill(qsizetype top, qsizetype count, const Reader &read)
{
    std::vector<RowValues> rows;
    rows.reserve(size_t(count));
    read(top, count, rows);
    top_ = top;
    rows_ = std::move(rows);
    ahead_.clear();
}

void RowWindow::shift(qsizetype top, qsizetype count, bool keep, const Reader &read)
{
    // A move keeps the rows it still shows and reads only the ones it brings
    // in: a step down by one reads one row, not a whole screen.
    const qsizetype oldTop = top_;
    const qsizetype oldEnd = top_ + size();
    if (!keep || top + count <= oldTop || top >= oldEnd) {
        fill(top, count, read);
        return;
    }
    const qsizetype end = top + count;
    std::vector<RowValues> above, below;
    if (top < oldTop)
        read(top, oldTop - top, above);
    if (end > oldEnd)
        readBelow(oldEnd, end - oldEnd, read, below);
    // Every read done: the window changes.
    std::vector<RowValues> rows = std::move(above);
    rows.reserve(size_t(count));
    for (qsizetype p = std::max(top, oldTop); p < std::min(end, oldEnd); ++p)
        rows.push_back(std::move(rows_[size_t(p - oldTop)]));
    for (RowValues &row : below)
        rows.push_back(std::move(row));
    top_ = top;
    rows_ = std::move(rows);
}

void RowWindow::readBelow(qsizetype from, qsizetype count, const Reader &read, std::vector<RowValues> &out)
{
    if (readAhead_ <= count) {
        read(from, count, out);
        return;
    }
    if (ahead_.empty() || from < aheadTop_ || from >= aheadTop_ + qsizetype(ahead_.size())) {
        std::vector<RowValues> rows;
        read(from, readAhead_, rows);
        ahead_ = std::move(rows);
        aheadTop_ = from;
    }
    for (qsizetype p = from; p < from + count && p < aheadTop_ + qsizetype(ahead_.size()); ++p)
        out.push_back(ahead_[size_t(p - aheadTop_)]);
}

void RowWindow::dropLine(qsizetype line, bool fromBelow)
{
    rows_.erase(rows_.begin() + std::clamp<qsizetype>(line, 0, size() - 1));
    if (fromBelow)
        ++top_;
    ahead_.clear();
}

void RowWindow::renumber(qsizetype by)
{
    top_ += by;
    aheadTop_ += by;
}

void RowWindow::setReadAhead(int rows)
{
    readAhead_ = rows;
    ahead_.clear();
}

} // namespace zeplo
