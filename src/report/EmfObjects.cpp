#include "report/EmfObjects.h"

namespace zeplo {

QPen emfPen(quint32 style, quint32 color)
{
    QPen pen(emf::colorFromRef(color));
    switch (style & emf::PsStyleMask) {
    case emf::PsDash: pen.setStyle(Qt::DashLine); break;
    case emf::PsDot: pen.setStyle(Qt::DotLine); break;
    case emf::PsDashDot: pen.setStyle(Qt::DashDotLine); break;
    case emf::PsDashDotDot: pen.setStyle(Qt::DashDotDotLine); break;
    case emf::PsNull: pen.setStyle(Qt::NoPen); break;
    default: pen.setStyle(Qt::SolidLine); break;
    }
    pen.setCosmetic(true);
    pen.setWidth(0);
    return pen;
}

QBrush emfBrush(quint32 style, quint32 color, quint32 hatch)
{
    switch (style) {
    case emf::BsNull: return QBrush(Qt::NoBrush);
    case emf::BsHatched: {
        static const Qt::BrushStyle hatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                 Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(emf::colorFromRef(color), hatch < emf::HatchStyles ? hatches[hatch] : Qt::SolidPattern);
    }
    default: return QBrush(emf::colorFromRef(color));
    }
}

void selectStockObject(quint32 index, DcState &state)
{
    switch (index) {
    case emf::WhiteBrush: state.brush = QBrush(Qt::white); break;
    case emf::LtGrayBrush: state.brush = QBrush(QColor(192, 192, 192)); break;
    case emf::GrayBrush: state.brush = QBrush(QColor(128, 128, 128)); break;
    case emf::DkGrayBrush: state.brush = QBrush(QColor(64, 64, 64)); break;
    case emf::BlackBrush: state.brush = QBrush(Qt::black); break;
    case emf::NullBrush: state.brush = QBrush(Qt::NoBrush); break;
    case emf::WhitePen: state.pen = QPen(Qt::white, 0); state.penWidth = 0; break;
    case emf::BlackPen: state.pen = QPen(Qt::black, 0); state.penWidth = 0; break;
    case emf::NullPen: state.pen = QPen(Qt::NoPen); state.penWidth = 0; break;
    case emf::OemFixedFont: case emf::AnsiFixedFont: case emf::AnsiVarFont: case emf::SystemFont:
    case emf::DeviceDefaultFont: case emf::SystemFixedFont: case emf::DefaultGuiFont:
        state.font = FontObj{QStringLiteral("Sans Serif"), -12, 400, false, false, false};
        break;
    default: break; // palette and the DC brush and pen: nothing to draw with
    }
}

} // namespace zeplo
