#include "widgets/PaintPacer.h"

namespace zeplo {

PaintPacer::PaintPacer(QWidget *widget, int frameMs) : QObject(widget), widget_(widget), frameMs_(frameMs)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { release(); });
}

void PaintPacer::beforeChange()
{
    if (holding_ || !widget_)
        return;
    if (!lastChange_.isValid() || lastChange_.elapsed() >= frameMs_ || !widget_->isVisible()) {
        lastChange_.start();
        return;
    }
    holding_ = true;
    widget_->setUpdatesEnabled(false);
    timer_.start(int(frameMs_ - lastChange_.elapsed()));
}

void PaintPacer::release()
{
    holding_ = false;
    lastChange_.start();
    if (widget_)
        widget_->setUpdatesEnabled(true);   // paints the whole control once
}

} // namespace zeplo
