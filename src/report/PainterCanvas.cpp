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
    : m_painter(painter), m_dpiX(dpiX), m_dpiY(dpiY)
{
    if (dpiX <= 0 || dpiY <= 0)
        throw Error(QStringLiteral("The output has no resolution"));
    setFont(ReportFont{QStringLiteral("Arial"), 10, false, Qt::black});
}

void PainterCanvas::setFont(const ReportFont &font)
{
    m_font = font;
    m_qfont = canvasFont(font, m_dpiY);
}

int PainterCanvas::textWidth(const QString &text) const
{
    return canvasTextWidth(m_qfont, text);
}

int PainterCanvas::lineHeight() const
{
    return canvasLineHeight(m_qfont);
}

void PainterCanvas::fillRect(const QRect &r, const QColor &c)
{
    if (!r.isEmpty())
        m_painter.fillRect(r, c);
}

void PainterCanvas::drawText(const QPoint &topLeft, const QString &text)
{
    if (text.isEmpty())
        return;
    m_painter.setFont(m_qfont);
    m_painter.setPen(QPen(m_font.color));
    m_painter.setBackgroundMode(Qt::TransparentMode);
    const int ascent = QFontMetrics(m_qfont).ascent();
    m_painter.drawText(QPoint(topLeft.x(), topLeft.y() + ascent), text);
}

void PainterCanvas::drawLine(const QPoint &from, const QPoint &to)
{
    m_painter.setPen(QPen(Qt::black, 0)); // cosmetic: one device pixel
    m_painter.drawLine(from, to);
}

} // namespace zeplo
