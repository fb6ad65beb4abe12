#include "report/PainterCanvas.h"

#include <QPaintDevice>
#include <QPainter>

#include "engine/Error.h"

namespace zeplo {

namespace {

int deviceDpi(QPainter &painter, bool x)
{
    QPaintDevice *device = painter.device();
    if (!device)
        throw Error(QStringLiteral("The painter has nothing to draw on"));
    return x ? device->logicalDpiX() : device->logicalDpiY();
}

} // namespace

PainterCanvas::PainterCanvas(QPainter &painter)
    : PainterCanvas(painter, deviceDpi(painter, true), deviceDpi(painter, false))
{
}

PainterCanvas::PainterCanvas(QPainter &painter, int dpiX, int dpiY)
    : painter_(painter), dpiX_(dpiX), dpiY_(dpiY)
{
    if (dpiX <= 0 || dpiY <= 0)
        throw Error(QStringLiteral("The output has no resolution"));
    setFont(ReportFont{QStringLiteral("Arial"), 10, false, Qt::black});
}

void PainterCanvas::setFont(const ReportFont &font)
{
    font_ = font;
    qfont_ = canvasFont(font, dpiY_);
}

int PainterCanvas::textWidth(const QString &text) const
{
    return canvasTextWidth(qfont_, text);
}

int PainterCanvas::lineHeight() const
{
    return canvasLineHeight(qfont_);
}

void PainterCanvas::fillRect(const QRect &r, const QColor &c)
{
    if (!r.isEmpty())
        painter_.fillRect(r, c);
}

void PainterCanvas::drawText(const QPoint &topLeft, const QString &text)
{
    if (text.isEmpty())
        return;
    painter_.setFont(qfont_);
    painter_.setPen(QPen(font_.color));
    painter_.setBackgroundMode(Qt::TransparentMode);
    const int ascent = QFontMetrics(qfont_).ascent();
    painter_.drawText(QPoint(topLeft.x(), topLeft.y() + ascent), text);
}

void PainterCanvas::drawLine(const QPoint &from, const QPoint &to)
{
    painter_.setPen(QPen(Qt::black, 0)); // cosmetic: one device pixel
    painter_.drawLine(from, to);
}

} // namespace zeplo
