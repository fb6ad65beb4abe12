#include "widgets/DataGrid.h"

#include <algorithm>

#include <QPainter>
#include <QPolygon>

#include "engine/Field.h"
#include "engine/ResultSet.h"

// The grid's painting: the fixed cells, the indicator mark, the titles and
// the cells of the drawn lines.

namespace zeplo {

namespace {

constexpr int kTextMargin = 2;
constexpr int kMarkWidth = 6;
constexpr int kMarkHeight = 11;

} // namespace

// ---- painting ----------------------------------------------------------------

void DataGrid::paintIndicatorMark(QPainter &p, const QRect &cell, int state) const
{
    const int x = cell.right() + 1 - kMarkWidth;
    const int y = cell.top() + (cell.height() - kMarkHeight) / 2;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::black);
    p.setBrush(Qt::black);
    switch (DataSetState(state)) {
    case DataSetState::Edit:   // an I-beam
        p.drawLine(x + 1, y + 1, x + 2, y + 1);
        p.drawLine(x + 4, y + 1, x + 5, y + 1);
        p.drawLine(x + 3, y + 2, x + 3, y + 8);
        p.drawLine(x + 1, y + 9, x + 2, y + 9);
        p.drawLine(x + 4, y + 9, x + 5, y + 9);
        break;
    case DataSetState::Insert:   // an asterisk
        p.drawLine(x + 3, y + 2, x + 3, y + 8);
        p.drawLine(x + 1, y + 5, x + 5, y + 5);
        p.drawLine(x + 1, y + 3, x + 5, y + 7);
        p.drawLine(x + 1, y + 7, x + 5, y + 3);
        break;
    default: {   // a solid triangle pointing right
        const QPolygon triangle({QPoint(x + 1, y + 1), QPoint(x + 5, y + 5), QPoint(x + 1, y + 9)});
        p.drawPolygon(triangle);
        break;
    }
    }
    p.restore();
}

void DataGrid::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    const QPalette &pal = palette();
    const QColor fixed = pal.color(QPalette::Button);
    const QColor lineColor = pal.color(QPalette::Mid);
    const int th = titleHeight();
    const int rh = rowHeight();
    const int dataLeft = kIndicatorWidth + kLineWidth;

    p.fillRect(viewport()->rect(), pal.color(QPalette::Base));

    const ResultSet *q = active() && columnsFor_ == dataSet() ? dataSet() : nullptr;
    const int first = firstDrawnLine();
    const int lines = q ? std::max(0, std::min(q->windowRowCount() - first, visibleRowCount())) : 0;
    const int bottom = th + lines * rh;   // below the last drawn row line

    // Fixed cells: the indicator column and the title row.
    p.fillRect(QRect(0, 0, kIndicatorWidth, bottom), fixed);
    p.setPen(lineColor);
    p.drawLine(kIndicatorWidth, 0, kIndicatorWidth, bottom - 1);
    p.drawLine(0, th - 1, kIndicatorWidth - 1, th - 1);
    for (int i = 0; i < lines; ++i)
        p.drawLine(0, th + (i + 1) * rh - 1, kIndicatorWidth - 1, th + (i + 1) * rh - 1);
    if (q && lines > 0) {
        const int active = q->activeLine();
        if (active >= first && active < first + lines)
            paintIndicatorMark(p, indicatorRect(active), int(q->state()));
    }

    p.setClipRect(QRect(dataLeft, 0, std::max(0, viewport()->width() - dataLeft), viewport()->height()));
    const bool focused = hasFocus();
    for (int c = 0; c < columnCount(); ++c) {
        const int x = columnLeft(c);
        const int w = columns_.width(c);
        if (x > viewport()->width())
            break;
        if (x + w + kLineWidth < dataLeft)
            continue;
        const Field *field = q ? columnField(c) : nullptr;

        const QRect title(x, 0, w, th - kLineWidth);
        p.fillRect(title, fixed);
        if (field) {
            p.save();
            p.setClipRect(title, Qt::IntersectClip);
            p.setFont(titleFont_);
            p.setPen(pal.color(QPalette::ButtonText));
            p.drawText(title.adjusted(kTextMargin, kTextMargin, -kTextMargin, 0), Qt::AlignLeft | Qt::AlignTop,
                       field->fieldName());
            p.restore();
        }
        p.setPen(lineColor);
        p.drawLine(x + w, 0, x + w, bottom - 1);
        p.drawLine(x, th - 1, x + w, th - 1);

        for (int i = 0; i < lines && field; ++i) {
            const int line = first + i;
            const QRect cell(x, th + i * rh, w, rh - kLineWidth);
            const bool current = focused && line == q->activeLine() && c == currentColumn_;
            if (current)
                p.fillRect(cell, pal.color(QPalette::Highlight));
            const QString text = Field::displayTextFor(field->kind(), q->windowValue(line, field->index()));
            if (!text.isEmpty()) {
                p.save();
                p.setClipRect(cell, Qt::IntersectClip);
                p.setPen(pal.color(current ? QPalette::HighlightedText : QPalette::Text));
                const Qt::Alignment align = field->isNumeric() ? Qt::AlignRight : Qt::AlignLeft;
                p.drawText(cell.adjusted(kTextMargin, kTextMargin, -kTextMargin, 0), int(align | Qt::AlignTop), text);
                p.restore();
            }
            p.setPen(lineColor);
            p.drawLine(x, cell.bottom() + 1, x + w, cell.bottom() + 1);
        }
    }

    if (drag_ == Drag::Move && dropColumn_ >= 0) {
        // Where the dragged column would land.
        const int x = dropColumn_ > dragColumn_ ? columnLeft(dropColumn_) + columnWidth(dropColumn_)
                                                : columnLeft(dropColumn_);
        p.fillRect(QRect(x - 1, 0, 2, th), pal.color(QPalette::Highlight));
    }
}

} // namespace zeplo
