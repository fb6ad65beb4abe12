#pragma once

#include <QBrush>
#include <QColor>
#include <QPen>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include <variant>

#include "report/EmfFormat.h"

// What the player of page pictures draws with: the objects a picture creates
// and selects (pens, brushes, fonts) and the state of its drawing context.
namespace zeplo {

struct PenObj {
    QPen pen;
    double width = 0; // logical units
};
struct BrushObj {
    QBrush brush;
};
struct FontObj {
    QString family;
    qint32 height = 0;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
};
using GdiObject = std::variant<std::monostate, PenObj, BrushObj, FontObj>;

struct DcState {
    quint32 mapMode = emf::MmText;
    QPointF winOrg{0, 0};
    QPointF vpOrg{0, 0};
    QSizeF winExt{1, 1};
    QSizeF vpExt{1, 1};
    QPen pen{Qt::black, 0};
    double penWidth = 0;
    QBrush brush{Qt::white};
    FontObj font;
    QColor textColor{Qt::black};
    QColor bkColor{Qt::white};
    quint32 bkMode = emf::Opaque;
    quint32 textAlign = emf::TaTopLeft | emf::TaNoUpdateCp;
    QPointF current{0, 0};
};

// A pen or brush as a picture's record creates it.
QPen emfPen(quint32 style, quint32 color);
QBrush emfBrush(quint32 style, quint32 color, quint32 hatch);

// Selects stock object `index` (at most emf::LastStock) into `state`.
void selectStockObject(quint32 index, DcState &state);

} // namespace zeplo
