#include "widgets/ToolbarIcons.h"

#include <QPainter>
#include <QPolygon>

namespace zeplo {

namespace {

const QColor Ink(0, 0, 0);
const QColor Paper(255, 255, 255);
const QColor Shade(128, 128, 128);
const QColor Light(192, 192, 192);
const QColor Navy(0, 0, 128);
const QColor Teal(0, 128, 128);
const QColor Folder(255, 255, 0);
const QColor FolderDark(128, 128, 0);

// A sheet of paper with its top-right corner folded.
void sheet(QPainter &p, const QRect &r)
{
    const int fold = 3;
    const QPolygon outline({r.topLeft(), QPoint(r.right() - fold, r.top()), QPoint(r.right(), r.top() + fold),
                            r.bottomRight(), r.bottomLeft()});
    p.setPen(Ink);
    p.setBrush(Paper);
    p.drawPolygon(outline);
    p.drawLine(r.right() - fold, r.top(), r.right() - fold, r.top() + fold);
    p.drawLine(r.right() - fold, r.top() + fold, r.right(), r.top() + fold);
}

// Lines of text on a sheet.
void textLines(QPainter &p, int left, int right, int top, int bottom, int step)
{
    p.setPen(Shade);
    for (int y = top; y <= bottom; y += step)
        p.drawLine(left, y, right, y);
}

// A solid triangle pointing left or right, its tip at `tipX`.
void arrow(QPainter &p, int tipX, int centreY, int length, bool left)
{
    p.setPen(Ink);
    for (int i = 0; i < length; ++i) {
        const int x = left ? tipX + i : tipX - i;
        p.drawLine(x, centreY - i, x, centreY + i);
    }
}

void wholePage(QPainter &p)
{
    sheet(p, QRect(3, 1, 10, 14));
    textLines(p, 5, 10, 5, 12, 2);
}

void actualSize(QPainter &p)
{
    sheet(p, QRect(1, 1, 10, 14));
    textLines(p, 3, 8, 5, 12, 2);
    // A magnifying glass over the sheet: the page as it really is.
    p.setPen(QPen(Navy, 1));
    p.setBrush(QColor(224, 240, 255));
    p.drawEllipse(QRect(7, 5, 6, 6));
    p.setPen(QPen(Ink, 2));
    p.drawLine(13, 12, 14, 13);
}

void pageWidth(QPainter &p)
{
    sheet(p, QRect(4, 1, 7, 14));
    textLines(p, 6, 9, 5, 12, 2);
    p.setPen(Navy);
    p.drawLine(1, 8, 3, 8);
    p.drawLine(12, 8, 14, 8);
    p.drawLine(1, 8, 2, 7);
    p.drawLine(1, 8, 2, 9);
    p.drawLine(14, 8, 13, 7);
    p.drawLine(14, 8, 13, 9);
}

void firstPage(QPainter &p)
{
    p.fillRect(QRect(3, 3, 2, 10), Ink);
    arrow(p, 6, 8, 6, true);
}

void previousPage(QPainter &p)
{
    arrow(p, 5, 8, 6, true);
}

void nextPage(QPainter &p)
{
    arrow(p, 10, 8, 6, false);
}

void lastPage(QPainter &p)
{
    arrow(p, 9, 8, 6, false);
    p.fillRect(QRect(11, 3, 2, 10), Ink);
}

void printerBody(QPainter &p)
{
    // Paper coming out of the top.
    p.setPen(Ink);
    p.setBrush(Paper);
    p.drawRect(QRect(4, 1, 7, 5));
    // The body with its slot and a lamp.
    p.setBrush(Light);
    p.drawRect(QRect(1, 6, 13, 6));
    p.setPen(Shade);
    p.drawLine(2, 11, 13, 11);
    p.setPen(Ink);
    p.drawLine(4, 8, 10, 8);
    p.fillRect(QRect(11, 7, 2, 1), QColor(0, 160, 0));
    // The sheet in the tray.
    p.setPen(Ink);
    p.setBrush(Paper);
    p.drawRect(QRect(3, 12, 9, 2));
}

void printerSetup(QPainter &p)
{
    printerBody(p);
    // A spanner across the lower right corner.
    p.setPen(QPen(Teal, 2));
    p.drawLine(9, 14, 14, 9);
    p.setPen(QPen(Teal, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRect(12, 7, 3, 3));
}

void floppyDisk(QPainter &p)
{
    p.setPen(Ink);
    p.setBrush(Navy);
    p.drawRect(QRect(1, 1, 13, 13));
    // The label.
    p.setBrush(Paper);
    p.drawRect(QRect(3, 1, 9, 6));
    textLines(p, 4, 10, 3, 5, 2);
    // The shutter with its window.
    p.setPen(Ink);
    p.setBrush(Light);
    p.drawRect(QRect(4, 9, 7, 5));
    p.fillRect(QRect(5, 10, 2, 3), Navy);
}

void openFolder(QPainter &p)
{
    p.setPen(Ink);
    // Back of the folder with its tab.
    p.setBrush(FolderDark);
    p.drawPolygon(QPolygon({QPoint(1, 3), QPoint(5, 3), QPoint(6, 4), QPoint(11, 4), QPoint(11, 13), QPoint(1, 13)}));
    // The front flap, opened towards the viewer.
    p.setBrush(Folder);
    p.drawPolygon(QPolygon({QPoint(1, 13), QPoint(4, 7), QPoint(15, 7), QPoint(12, 13)}));
    // An arrow coming out of it.
    p.setPen(Navy);
    p.drawLine(12, 1, 14, 3);
    p.drawLine(14, 3, 12, 5);
    p.drawLine(8, 3, 14, 3);
}

} // namespace

QPixmap toolbarPixmap(ToolbarPicture picture)
{
    QPixmap pixmap(ToolbarPictureSize, ToolbarPictureSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (picture) {
    case ToolbarPicture::WholePage:
        wholePage(p);
        break;
    case ToolbarPicture::ActualSize:
        actualSize(p);
        break;
    case ToolbarPicture::PageWidth:
        pageWidth(p);
        break;
    case ToolbarPicture::FirstPage:
        firstPage(p);
        break;
    case ToolbarPicture::PreviousPage:
        previousPage(p);
        break;
    case ToolbarPicture::NextPage:
        nextPage(p);
        break;
    case ToolbarPicture::LastPage:
        lastPage(p);
        break;
    case ToolbarPicture::PrinterSetup:
        printerSetup(p);
        break;
    case ToolbarPicture::Printer:
        printerBody(p);
        break;
    case ToolbarPicture::FloppyDisk:
        floppyDisk(p);
        break;
    case ToolbarPicture::OpenFolder:
        openFolder(p);
        break;
    }
    return pixmap;
}

QIcon toolbarIcon(ToolbarPicture picture)
{
    return QIcon(toolbarPixmap(picture));
}

} // namespace zeplo
