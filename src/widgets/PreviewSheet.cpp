#include "widgets/PreviewSheet.h"

#include <QPainter>

#include "widgets/ErrorGuard.h"
#include "report/EmfPlayer.h"

namespace zeplo {

PreviewSheet::PreviewSheet(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Sheet"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void PreviewSheet::setPicture(const QByteArray &emf)
{
    picture_ = emf;
    pictureFailed_ = false;
    update();
}

void PreviewSheet::clearPicture()
{
    picture_.clear();
    pictureFailed_ = false;
    update();
}

QRect PreviewSheet::pageRect() const
{
    // Inside the border; the shadow takes the last two columns and rows.
    return QRect(1, 1, qMax(0, width() - Decoration), qMax(0, height() - Decoration));
}

void PreviewSheet::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect page = pageRect();
    const int w = width();
    const int h = height();
    // The border box: the page with one pixel around it.
    p.fillRect(QRect(0, 0, w - 2, h - 2), Qt::white);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, 0, w - 3, h - 3));
    // The shadow, offset by two pixels like a sheet lying on the desk.
    p.fillRect(QRect(w - 2, 2, 2, h - 2), Qt::black);
    p.fillRect(QRect(2, h - 2, w - 2, 2), Qt::black);

    if (picture_.isEmpty() || pictureFailed_ || page.isEmpty())
        return;
    p.setClipRect(page);
    try {
        playEmf(picture_, p, QRectF(page));
    } catch (const std::exception &) {
        // A damaged picture shows what was drawn before the fault; it is not
        // played again on every repaint, and a paint event cannot report it.
        pictureFailed_ = true;
    }
}

} // namespace zeplo
