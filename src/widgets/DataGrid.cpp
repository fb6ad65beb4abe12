#include "widgets/DataGrid.h"
#include "widgets/WaitingScreen.h"

#include <algorithm>
#include <utility>

#include <QFontMetrics>
#include <QScrollBar>

#include "engine/Field.h"
#include "engine/ResultSet.h"
#include "widgets/ErrorGuard.h"

namespace zeplo {

namespace {

constexpr int kBorderGrip = 2;       // pixels either side of a title border that start a resize

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
    if (charWidth_ < 0)
        charWidth_ = QFontMetrics(font()).horizontalAdvance(QLatin1Char('0'));
    return charWidth_;
}

// Measured once per font: every move asks for them several times.
int DataGrid::titleHeight() const
{
    if (titleHeight_ < 0)
        titleHeight_ = QFontMetrics(titleFont_).size(Qt::TextSingleLine, QStringLiteral("Wg")).height() + 4;
    return titleHeight_;
}

int DataGrid::rowHeight() const
{
    if (rowHeight_ < 0)
        rowHeight_ = QFontMetrics(font()).size(Qt::TextSingleLine, QStringLiteral("Wg")).height() + 3 + kLineWidth;
    return rowHeight_;
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
    // Every opening makes the columns anew, mostly with the same titles.
    auto measured = titleWidths_.constFind(field.fieldName());
    if (measured == titleWidths_.constEnd())
        measured = titleWidths_.insert(field.fieldName(), QFontMetrics(titleFont_).horizontalAdvance(field.fieldName()));
    const int title = *measured + 4;
    return std::max(data, title);
}

int DataGrid::columnWidth(int column) const
{
    return columns_.width(column);
}

Field *DataGrid::columnField(int column) const
{
    if (column < 0 || column >= columnCount() || !active())
        return nullptr;
    const int index = columns_.field(column);
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

int DataGrid::scrolled() const
{
    return horizontalScrollBar()->value();
}

int DataGrid::columnLeft(int column) const
{
    return columns_.left(column, scrolled());
}

int DataGrid::columnAt(int x) const
{
    return columns_.columnAt(x, scrolled());
}

int DataGrid::borderAt(int x) const
{
    return columns_.borderAt(x, scrolled(), kBorderGrip);
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
    const int w = columns_.width(column);
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
    std::vector<GridGeometry::Column> columns;
    ResultSet *q = active() ? dataSet() : nullptr;
    columnsFor_ = q;
    if (q) {
        for (const auto &field : q->fields())
            columns.push_back(GridGeometry::Column{field->index(), computedWidth(*field)});
    }
    columns_.setColumns(std::move(columns));
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
    bar->setValue(columns_.scrollToShow(column, bar->value(), viewport()->width()));
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
    h->setRange(0, columns_.scrollMaximum(viewport()->width()));
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
    // The number of visible rows is the number of rows the result set keeps;
    // one that a command waiting for the server is using is changed after it.
    const auto keep = [this] {
        if (ResultSet *q = dataSet())
            runGuarded([q] { q->updateBufferCount(); });
        refresh();
    };
    if (!deferredWhileWaiting(this, keep))
        keep();
}

} // namespace zeplo
