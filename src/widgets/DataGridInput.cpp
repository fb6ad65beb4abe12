#include "widgets/DataGrid.h"

#include <algorithm>
#include <cstdlib>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include "engine/Field.h"
#include "engine/ResultSet.h"
#include "widgets/ErrorGuard.h"

// The grid's keys, mouse, wheel and column drags.

namespace zeplo {

namespace {

constexpr int kMinColumnWidth = 4;

} // namespace

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
            dragStartWidth_ = columns_.width(border);
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
        columns_.setWidth(dragColumn_, std::max(kMinColumnWidth, dragStartWidth_ + pos.x() - dragStartX_));
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
            const int width = columns_.width(dragColumn_);
            field->setDisplayWidth(std::max(1, (width - 4 + charWidth() / 2) / std::max(1, charWidth())));
        }
    } else if (drag == Drag::Move && dropColumn_ != dragColumn_ && dropColumn_ >= 0) {
        currentColumn_ = columns_.moveColumn(dragColumn_, dropColumn_, currentColumn_);
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

} // namespace zeplo
