#pragma once

#include <functional>
#include <vector>

#include "engine/Cursor.h"

namespace zeplo {

// The rows a result set holds in memory: the window of rows from `top()` on,
// as many as its largest consumer shows, and during a walk through every row
// (the report) the rows read ahead below it, so that one read serves many
// moves. Positions are the result set's; the rows come through a Reader.
class RowWindow {
public:
    // Appends the rows from `from` on, `count` of them or up to the end of the result, to `out`.
    using Reader = std::function<void(qsizetype from, qsizetype count, std::vector<RowValues> &out)>;

    qsizetype top() const { return top_; }
    qsizetype size() const { return qsizetype(rows_.size()); }
    bool empty() const { return rows_.empty(); }
    // Checked: a line outside the window is an error, never a read outside it.
    RowValues &row(qsizetype line) { return rows_.at(size_t(line)); }
    const RowValues &row(qsizetype line) const { return rows_.at(size_t(line)); }
    bool operator==(const RowWindow &other) const { return top_ == other.top_ && rows_ == other.rows_; }

    // Each change below reads everything it needs before it changes the
    // window: when a read fails, the window is as it was.

    // No rows, at position 0.
    void clear();
    // The window read afresh from `top`; what was read ahead is dropped.
    void fill(qsizetype top, qsizetype count, const Reader &read);
    // The window moved to `top`. A move keeps the rows it still shows and
    // reads only the ones it brings in (below it, from the rows read ahead),
    // unless `keep` is false: then it is read afresh.
    void shift(qsizetype top, qsizetype count, bool keep, const Reader &read);
    // Every position moves by `by`: they count from the other end now.
    void renumber(qsizetype by);
    // The row of `line` gone, without reading: the rows below it move up a
    // line, and with `fromBelow` the window starts a position later instead
    // (positions counted from the end, where the rows below keep theirs).
    void dropLine(qsizetype line, bool fromBelow);

    // Rows read at once below the window; 0 for none.
    void setReadAhead(int rows);
    int readAhead() const { return readAhead_; }

private:
    void readBelow(qsizetype from, qsizetype count, const Reader &read, std::vector<RowValues> &out);

    qsizetype top_ = 0;      // position of the window's first row
    std::vector<RowValues> rows_;
    int readAhead_ = 0;
    qsizetype aheadTop_ = 0; // position of the first row read ahead
    std::vector<RowValues> ahead_;
};

} // namespace zeplo
