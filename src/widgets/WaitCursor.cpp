#include "widgets/WaitCursor.h"

#include <QApplication>

namespace zeplo {

WaitCursor::WaitCursor() : overriding_(true)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::WaitCursor(QWidget *window) : window_(window)
{
    if (!window_)
        return;
    hadCursor_ = window_->testAttribute(Qt::WA_SetCursor);
    cursor_ = window_->cursor();
    window_->setCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor()
{
    if (overriding_)
        QApplication::restoreOverrideCursor();
    if (!window_)
        return;
    if (hadCursor_)
        window_->setCursor(cursor_);
    else
        window_->unsetCursor();
}

} // namespace zeplo
