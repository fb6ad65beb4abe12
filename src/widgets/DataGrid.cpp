#include "widgets/DataGrid.h"

#include <algorithm>

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QScrollBar>
#include <QWheelEvent>

#include "widgets/ErrorGuard.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"

namespace zeplo {


namespace {

constexpr int kTextMargin = 2;
constexpr int kBorderGrip = 2;       // pixels either side of a title border that start a resize
constexpr int kMinColumnWidth = 4;
constexpr int kMarkWidth = 6;
constexpr int kMarkHeight = 11;

} // namespace

DataGrid::DataGrid(QWidget *parent) : QAbstractScrollArea(parent)
{
    QFont gridFont(QStringLiteral("MS Sans Serif"));
    gridFont.setPointSize(8);
    setFont(gridFont);
    titleFont_ = gridFont;
    titleFont_.setBold(true);

    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_KeyCompression, false);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    // The vertical bar never scrolls the view by itself: the grid always
    // draws the result set's window, and the bar's actions become moves.
    QScrollBar *bar = verticalScrollBar();
    bar->setTracking(false);
    connect(bar, &QScrollBar::actionTriggered, this, [this](int action) { onVerticalAction(action); });
    connect(bar, &QScrollBar::sliderReleased, this, [this] { onVerticalReleased(); });
    horizontalScrollBar()->setSingleStep(16);

    pacer_ = new PaintPacer(this);

    connect(this, &QObject::objectNameChanged, this, [this](const QString &name) { setAccessibleName(name); });

    buildColumns();
}

DataGrid::~DataGrid()
{
    DataLink::setDataSource(nullptr);
}

void DataGrid::setDataSource(DataSource *source)
{
    DataLink::setDataSource(source);
    buildColumns();
    refresh();
}

// ---- layout ----------------------------------------------------------------

int DataGrid::charWidth() const
{
    // The overhang of these fonts is 0, so the width of "0" is the step per character.
    return QFontMetrics(font()).horizontalAdvance(QLatin1Char('0'));
}

int DataGrid::titleHeight() const
{
    return QFontMetrics(titleFont_).size(Qt::TextSingleLine, QStringLiteral("Wg")).height() + 4;
}

int DataGrid::rowHeight() const
{
    return QFontMetrics(font()).size(Qt::TextSingleLine, QStringLiteral("Wg")).height() + 3 + kLineWidth;
}

int DataGrid::visibleRowCount() const
{
    return std::max(1, (viewport()->height() - titleHeight()) / rowHeight());
}

int DataGrid::bufferCount() const
{
    return visibleRowCount();
}

int DataGrid::computedWidth(const Field &field) const
{
    const int data = charWidth() * field.displayWidth() + 4;
    const int title = QFontMetrics(titleFont_).horizontalAdvance(field.fieldName()) + 4;
    return std::max(data, title);
}

int DataGrid::columnWidth(int column) const
{
    if (column < 0 || column >= columnCount())
        return 0;
    return columns_[size_t(column)].width;
}

Field *DataGrid::columnField(int column) const
{
    if (column < 0 || column >= columnCount() || !active())
        return nullptr;
    const int index = columns_[size_t(column)].field;
    const auto &fields = dataSet()->fields();
    if (index < 0 || index >= int(fields.size()))
        return nullptr;
    return fields[size_t(index)].get();
}

QString DataGrid::columnTitle(int column) const
{
    const Field *field = columnField(column);
    return field ? field->fieldName() : QString();
}

int DataGrid::columnLeft(int column) const
{
    int x = kIndicatorWidth + kLineWidth - horizontalScrollBar()->value();
    for (int c = 0; c < column && c < columnCount(); ++c)
        x += columns_[size_t(c)].width + kLineWidth;
    return x;
}

int DataGrid::totalColumnsWidth() const
{
    int total = 0;
    for (const Column &c : columns_)
        total += c.width + kLineWidth;
    return total;
}

int DataGrid::columnAt(int x) const
{
    if (x < kIndicatorWidth + kLineWidth)
        return -1;
    int left = columnLeft(0);
    for (int c = 0; c < columnCount(); ++c) {
        const int right = left + columns_[size_t(c)].width + kLineWidth;
        if (x >= left && x < right)
            return c;
        left = right;
    }
    return -1;
}

int DataGrid::borderAt(int x) const
{
    int best = -1;
    int bestDistance = kBorderGrip + 1;
    for (int c = 0; c < columnCount(); ++c) {
        const int border = columnLeft(c) + columns_[size_t(c)].width;
        if (border < kIndicatorWidth + kLineWidth)
            continue;
        const int distance = std::abs(x - border);
        if (distance < bestDistance) {
            best = c;
            bestDistance = distance;
        }
    }
    return best;
}

int DataGrid::firstDrawnLine() const
{
    // Another control may ask the result set for more rows than fit here;
    // then the grid shows the part of the window that holds the current row.
    const ResultSet *q = active() ? dataSet() : nullptr;
    if (!q)
        return 0;
    return std::max(0, q->activeLine() - (visibleRowCount() - 1));
}

int DataGrid::lineAt(int y) const
{
    if (y < titleHeight())
        return -1;
    const ResultSet *q = active() ? dataSet() : nullptr;
    const int shown = (y - titleHeight()) / rowHeight();
    if (!q || shown >= visibleRowCount())
        return -2;
    const int line = firstDrawnLine() + shown;
    return line < q->windowRowCount() ? line : -2;
}

QRect DataGrid::cellRect(int line, int column) const
{
    if (column < 0 || column >= columnCount())
        return QRect();
    const int x = columnLeft(column);
    const int w = columns_[size_t(column)].width;
    if (line < 0)
        return QRect(x, 0, w, titleHeight() - kLineWidth);
    const int top = titleHeight() + (line - firstDrawnLine()) * rowHeight();
    return QRect(x, top, w, rowHeight() - kLineWidth);
}

QRect DataGrid::indicatorRect(int line) const
{
    if (line < 0)
        return QRect(0, 0, kIndicatorWidth, titleHeight() - kLineWidth);
    const int top = titleHeight() + (line - firstDrawnLine()) * rowHeight();
    return QRect(0, top, kIndicatorWidth, rowHeight() - kLineWidth);
}

// ---- columns ---------------------------------------------------------------

void DataGrid::buildColumns()
{
    columns_.clear();
    ResultSet *q = active() ? dataSet() : nullptr;
    columnsFor_ = q;
    if (q) {
        for (const auto &field : q->fields())
            columns_.push_back(Column{field->index(), computedWidth(*field)});
    }
    if (columns_.empty())
        columns_.push_back(Column{});
    currentColumn_ = 0;
    drag_ = Drag::None;
    horizontalScrollBar()->setValue(0);
}

void DataGrid::syncColumns()
{
    const ResultSet *q = active() ? dataSet() : nullptr;
    if (q != columnsFor_)
        buildColumns();
}

void DataGrid::setCurrentColumn(int column)
{
    column = std::clamp(column, 0, columnCount() - 1);
    if (column == currentColumn_)
        return;
    currentColumn_ = column;
    ensureColumnVisible(column);
    updateDescription();
    viewport()->update();
}

void DataGrid::ensureColumnVisible(int column)
{
    QScrollBar *bar = horizontalScrollBar();
    const int available = viewport()->width() - (kIndicatorWidth + kLineWidth);
    std::vector<int> starts(size_t(column) + 1, 0);
    for (int c = 1; c <= column; ++c)
        starts[size_t(c)] = starts[size_t(c) - 1] + columns_[size_t(c) - 1].width + kLineWidth;
    const int left = starts[size_t(column)];
    const int right = left + columns_[size_t(column)].width + kLineWidth;
    if (left < bar->value()) {
        bar->setValue(left);
    } else if (right > bar->value() + available) {
        // Scroll by whole columns: the first column shown is the leftmost one
        // that still leaves room for the current column.
        int target = left;
        for (int c = 0; c < column; ++c) {
            if (right - starts[size_t(c)] <= available) {
                target = starts[size_t(c)];
                break;
            }
        }
        bar->setValue(target);
    }
}

// ---- data events -----------------------------------------------------------

void DataGrid::dataEvent(DataEvent event, Field *)
{
    switch (event) {
    case DataEvent::ActiveChanged:
        buildColumns();
        break;
    case DataEvent::UpdateData:
    case DataEvent::FocusControl:
        return;   // the grid never edits, so it has nothing to write back
    default:
        syncColumns();
        break;
    }
    refresh();
}

void DataGrid::refresh()
{
    pacer_->beforeChange();
    syncScrollBars();
    updateDescription();
    viewport()->update();
}

void DataGrid::updateDescription()
{
    const ResultSet *q = active() ? dataSet() : nullptr;
    const Field *field = columnField(currentColumn_);
    if (!q || !field || q->windowRowCount() == 0) {
        setAccessibleDescription(QString());
        return;
    }
    const QString text = Field::displayTextFor(field->kind(), q->windowValue(q->activeLine(), field->index()));
    setAccessibleDescription(QStringLiteral("Řádek %1, %2: %3").arg(q->recNo()).arg(field->fieldName(), text));
}

// ---- scroll bars -----------------------------------------------------------

void DataGrid::syncScrollBars()
{
    syncingBars_ = true;
    QScrollBar *v = verticalScrollBar();
    const ResultSet *q = active() ? dataSet() : nullptr;
    if (!q) {
        v->setRange(0, 0);
    } else if (q->hasSequenceNumbers()) {
        // Numbered rows: with the page counted in, the bar spans
        // 1 .. rows + visible rows - 1 and the thumb stands at the row's number.
        const bool inserting = q->state() == DataSetState::Insert;
        const qsizetype rows = q->knownRecordCount() + (inserting ? 1 : 0);
        v->setRange(1, int(std::max<qsizetype>(1, rows)));
        v->setPageStep(visibleRowCount());
        v->setSingleStep(1);
        if (!inserting)
            v->setValue(int(q->recNo()));
    } else {
        v->setRange(0, 4);
        v->setPageStep(1);
        v->setSingleStep(1);
        v->setValue(q->bof() ? 0 : q->eof() ? 4 : 2);
    }
    if (!v->isSliderDown())
        v->setSliderPosition(v->value());

    QScrollBar *h = horizontalScrollBar();
    const int available = std::max(0, viewport()->width() - (kIndicatorWidth + kLineWidth));
    // The bar ends where the last columns fit whole, at the start of a column.
    const int total = totalColumnsWidth();
    // A last column wider than the grid is scrolled through pixel by pixel.
    int maximum = std::max(0, total - available);
    for (int c = 0, start = 0; c < columnCount() && maximum > 0; start += columns_[size_t(c)].width + kLineWidth, ++c) {
        if (start >= maximum) {
            maximum = start;
            break;
        }
    }
    h->setRange(0, maximum);
    h->setPageStep(std::max(1, available));
    syncingBars_ = false;
}

void DataGrid::onVerticalAction(int action)
{
    if (syncingBars_)
        return;
    runGuarded([&] {
        ResultSet *q = active() ? dataSet() : nullptr;
        if (!q)
            return;
        const int first = firstDrawnLine();
        const int last = std::min(q->windowRowCount(), first + visibleRowCount()) - 1;
        switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            moveRows(first - 1 - q->activeLine());
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            moveRows(last + 1 - q->activeLine());
            break;
        case QAbstractSlider::SliderPageStepSub:
            moveRows(-visibleRowCount());
            break;
        case QAbstractSlider::SliderPageStepAdd:
            moveRows(visibleRowCount());
            break;
        case QAbstractSlider::SliderToMinimum:
            q->first();
            break;
        case QAbstractSlider::SliderToMaximum:
            q->last();
            break;
        case QAbstractSlider::SliderMove:
            // A drag is handled when the thumb is dropped; a move without
            // the thumb held (the wheel over the bar) drops it at once.
            if (!verticalScrollBar()->isSliderDown())
                dropThumb(verticalScrollBar()->sliderPosition());
            break;
        default:
            break;
        }
    });
    // The bar shows where the result set is, never where the action left it.
    syncScrollBars();
}

void DataGrid::onVerticalReleased()
{
    runGuarded([&] { dropThumb(verticalScrollBar()->sliderPosition()); });
    syncScrollBars();
}

void DataGrid::dropThumb(int position)
{
    ResultSet *q = active() ? dataSet() : nullptr;
    if (!q)
        return;
    if (q->hasSequenceNumbers()) {
        q->moveToRecNo(position);
        return;
    }
    switch (position) {
    case 0: q->first(); break;
    case 1: moveRows(-visibleRowCount()); break;
    case 3: moveRows(visibleRowCount()); break;
    case 4: q->last(); break;
    default: break;
    }
}

void DataGrid::scrollContentsBy(int dx, int)
{
    // Only the horizontal bar scrolls the view; the vertical one moves rows.
    if (dx != 0)
        viewport()->update();
}

// ---- moves -------------------------------------------------------------------

void DataGrid::moveRows(qsizetype distance)
{
    ResultSet *q = active() ? dataSet() : nullptr;
    if (!q)
        return;
    q->moveBy(distance);
    // A move that ran into an end changes the end markers without a notice.
    syncScrollBars();
}

bool DataGrid::event(QEvent *e)
{
    // Tab and Shift+Tab move between rows; the grid never hands the focus on with them.
    if (e->type() == QEvent::KeyPress) {
        auto *k = static_cast<QKeyEvent *>(e);
        if ((k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab)
            && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            keyPressEvent(k);
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void DataGrid::keyPressEvent(QKeyEvent *e)
{
    runGuarded([&] { handleKey(e); });
}

void DataGrid::handleKey(QKeyEvent *e)
{
    const int key = e->key();
    const bool isTab = key == Qt::Key_Tab || key == Qt::Key_Backtab;
    ResultSet *q = active() ? dataSet() : nullptr;
    if (!q) {
        e->setAccepted(isTab);
        return;
    }
    syncColumns();
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const int first = firstDrawnLine();
    const int last = std::max(first, std::min(q->windowRowCount(), first + visibleRowCount()) - 1);
    const int lastColumn = columnCount() - 1;
    e->accept();
    switch (key) {
    case Qt::Key_Down:
        moveRows(ctrl ? last - q->activeLine() : 1);
        break;
    case Qt::Key_Up:
        moveRows(ctrl ? first - q->activeLine() : -1);
        break;
    case Qt::Key_PageDown:
        moveRows(ctrl ? last - q->activeLine() : visibleRowCount());
        break;
    case Qt::Key_PageUp:
        moveRows(ctrl ? first - q->activeLine() : -visibleRowCount());
        break;
    case Qt::Key_End:
        if (ctrl || columnCount() == 1)
            q->last();
        else
            setCurrentColumn(lastColumn);
        break;
    case Qt::Key_Home:
        if (ctrl || columnCount() == 1)
            q->first();
        else
            setCurrentColumn(0);
        break;
    case Qt::Key_Right:
        setCurrentColumn(ctrl ? lastColumn : currentColumn_ + 1);
        break;
    case Qt::Key_Left:
        setCurrentColumn(ctrl ? 0 : currentColumn_ - 1);
        break;
    case Qt::Key_Tab:
        // No column of the read-only grid is a tab stop, so Tab goes to the
        // same column of the next row; a move never appends.
        moveRows(shift ? -1 : 1);
        break;
    case Qt::Key_Backtab:
        moveRows(-1);
        break;
    default:
        // The grid edits nothing: F2, Enter, typing, Insert and Ctrl+Delete
        // find no handler here and pass on to the window.
        e->ignore();
        break;
    }
}

// ---- mouse -----------------------------------------------------------------

void DataGrid::mousePressEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton) {
        e->ignore();
        return;
    }
    setFocus(Qt::MouseFocusReason);
    runGuarded([&] { pressAt(e->position().toPoint()); });
    e->accept();
}

void DataGrid::mouseDoubleClickEvent(QMouseEvent *e)
{
    // The second press of a double-click is a press like the first, nothing more.
    mousePressEvent(e);
}

void DataGrid::pressAt(const QPoint &pos)
{
    syncColumns();
    const int line = lineAt(pos.y());
    if (line == -1) {
        // The title row: a border starts a resize, a title a move; the row stays.
        const int border = active() ? borderAt(pos.x()) : -1;
        if (border >= 0) {
            drag_ = Drag::Resize;
            dragColumn_ = border;
            dragStartX_ = pos.x();
            dragStartWidth_ = columns_[size_t(border)].width;
            return;
        }
        const int column = columnAt(pos.x());
        if (column >= 0 && columnField(column)) {
            drag_ = Drag::MovePending;
            dragColumn_ = column;
            dragStartX_ = pos.x();
            dropColumn_ = column;
        }
        return;
    }
    ResultSet *q = active() ? dataSet() : nullptr;
    if (!q || line < 0)
        return;
    if (pos.x() < kIndicatorWidth + kLineWidth) {
        moveRows(line - q->activeLine());
        return;
    }
    const int column = columnAt(pos.x());
    if (column < 0)
        return;
    moveRows(line - q->activeLine());
    setCurrentColumn(column);
}

void DataGrid::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    switch (drag_) {
    case Drag::Resize:
        columns_[size_t(dragColumn_)].width = std::max(kMinColumnWidth, dragStartWidth_ + pos.x() - dragStartX_);
        syncScrollBars();
        viewport()->update();
        return;
    case Drag::MovePending:
        if (std::abs(pos.x() - dragStartX_) < QApplication::startDragDistance())
            return;
        drag_ = Drag::Move;
        [[fallthrough]];
    case Drag::Move: {
        int target = columnAt(pos.x());
        if (target < 0)
            target = pos.x() < kIndicatorWidth + kLineWidth ? 0 : columnCount() - 1;
        dropColumn_ = target;
        viewport()->update();
        return;
    }
    case Drag::None:
        break;
    }
    const bool overBorder = pos.y() < titleHeight() && active() && borderAt(pos.x()) >= 0;
    if (overBorder)
        viewport()->setCursor(Qt::SplitHCursor);
    else
        viewport()->unsetCursor();
}

void DataGrid::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const Drag drag = drag_;
    drag_ = Drag::None;
    if (drag == Drag::Resize) {
        // The new width becomes the field's display width, which lasts
        // until the result set is opened again.
        if (Field *field = columnField(dragColumn_)) {
            const int width = columns_[size_t(dragColumn_)].width;
            field->setDisplayWidth(std::max(1, (width - 4 + charWidth() / 2) / std::max(1, charWidth())));
        }
    } else if (drag == Drag::Move && dropColumn_ != dragColumn_ && dropColumn_ >= 0) {
        const int from = dragColumn_;
        const int to = dropColumn_;
        const Column moved = columns_[size_t(from)];
        columns_.erase(columns_.begin() + from);
        columns_.insert(columns_.begin() + to, moved);
        if (currentColumn_ == from)
            currentColumn_ = to;
        else if (from < currentColumn_ && currentColumn_ <= to)
            --currentColumn_;
        else if (to <= currentColumn_ && currentColumn_ < from)
            ++currentColumn_;
    }
    refresh();
}

void DataGrid::wheelEvent(QWheelEvent *e)
{
    // One row per notch of the wheel.
    wheelRemainder_ += e->angleDelta().y();
    const int notches = wheelRemainder_ / 120;
    wheelRemainder_ -= notches * 120;
    if (notches != 0)
        runGuarded([&] { moveRows(-notches); });
    e->accept();
}

// ---- focus, size -------------------------------------------------------------

void DataGrid::focusInEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void DataGrid::focusOutEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}

void DataGrid::resizeEvent(QResizeEvent *e)
{
    QAbstractScrollArea::resizeEvent(e);
    // The number of visible rows is the number of rows the result set keeps.
    if (ResultSet *q = dataSet())
        runGuarded([q] { q->updateBufferCount(); });
    refresh();
}

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
        const int w = columns_[size_t(c)].width;
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
