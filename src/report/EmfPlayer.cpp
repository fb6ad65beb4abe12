#include "report/EmfPlayer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <optional>
#include <variant>
#include <vector>

#include "engine/Error.h"
#include "report/EmfWriter.h"

namespace zeplo {

namespace {

constexpr int MinHeaderSize = 88;
constexpr qint64 MaxDeviceExtent = 1000000; // pixels or millimetres: beyond any paper
constexpr int MaxSavedStates = 1024;
constexpr qint64 MaxFontHeight = 100000;
constexpr double MaxCoordinate = 1e7; // target pixels; anything further is not drawn
// The text renderer's glyph cache breaks on glyphs stretched far out of shape
// (a picture whose device size in micrometres disagrees with its size in
// pixels) and has no use for very large ones: those are filled from outlines.
constexpr double MaxTextStretch = 4;
constexpr double MaxCachedGlyphPixels = 1024;

[[noreturn]] void damaged(const QString &what)
{
    throw Error(QStringLiteral("The page picture is damaged: %1").arg(what));
}

quint32 u32At(const QByteArray &b, qint64 off)
{
    return qFromLittleEndian<quint32>(b.constData() + off);
}

qint32 i32At(const QByteArray &b, qint64 off)
{
    return qFromLittleEndian<qint32>(b.constData() + off);
}

qint16 i16At(const QByteArray &b, qint64 off)
{
    return qFromLittleEndian<qint16>(b.constData() + off);
}

quint16 u16At(const QByteArray &b, qint64 off)
{
    return qFromLittleEndian<quint16>(b.constData() + off);
}

QRect rectAt(const QByteArray &b, qint64 off)
{
    return QRect(QPoint(i32At(b, off), i32At(b, off + 4)), QPoint(i32At(b, off + 8), i32At(b, off + 12)));
}

QColor colorFromRef(quint32 ref)
{
    return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

} // namespace

double EmfHeaderInfo::pixelsPerMmX() const
{
    if (deviceMicrometers.width() > 0)
        return devicePixels.width() * 1000.0 / deviceMicrometers.width();
    return double(devicePixels.width()) / deviceMm.width();
}

double EmfHeaderInfo::pixelsPerMmY() const
{
    if (deviceMicrometers.height() > 0)
        return devicePixels.height() * 1000.0 / deviceMicrometers.height();
    return double(devicePixels.height()) / deviceMm.height();
}

EmfHeaderInfo readEmfHeader(const QByteArray &emf)
{
    const qint64 total = emf.size();
    if (total < MinHeaderSize)
        damaged(QStringLiteral("it is too short to hold a header"));
    if (u32At(emf, 0) != emf::Header)
        damaged(QStringLiteral("it does not start with a header"));
    const quint32 size = u32At(emf, 4);
    if (size < MinHeaderSize || size % 4 != 0 || size > total)
        damaged(QStringLiteral("the header has a wrong size"));
    if (u32At(emf, 40) != emf::Signature)
        damaged(QStringLiteral("the signature is missing"));
    if (u32At(emf, 44) != emf::Version)
        damaged(QStringLiteral("unknown format version"));

    EmfHeaderInfo h;
    h.bounds = rectAt(emf, 8);
    h.frame = rectAt(emf, 24);
    h.bytes = u32At(emf, 48);
    h.records = u32At(emf, 52);
    h.handles = u16At(emf, 56);
    h.devicePixels = QSize(i32At(emf, 72), i32At(emf, 76));
    h.deviceMm = QSize(i32At(emf, 80), i32At(emf, 84));
    if (h.bytes < size || h.bytes % 4 != 0 || h.bytes > total)
        damaged(QStringLiteral("the stated length does not match the data"));
    if (h.records < 2)
        damaged(QStringLiteral("the record count is wrong"));

    const quint32 nDesc = u32At(emf, 60);
    const quint32 offDesc = u32At(emf, 64);
    if (nDesc != 0 && (offDesc < MinHeaderSize || qint64(offDesc) + 2 * qint64(nDesc) > size))
        damaged(QStringLiteral("the description lies outside the header"));
    if (size >= 100) {
        const quint32 cbPixel = u32At(emf, 88);
        const quint32 offPixel = u32At(emf, 92);
        if (cbPixel != 0 && (offPixel < MinHeaderSize || qint64(offPixel) + cbPixel > size))
            damaged(QStringLiteral("the pixel format lies outside the header"));
    }
    if (size >= 108 && (nDesc == 0 || offDesc >= 108))
        h.deviceMicrometers = QSize(i32At(emf, 100), i32At(emf, 104));
    if (h.deviceMicrometers.width() < 0 || h.deviceMicrometers.height() < 0
        || qint64(h.deviceMicrometers.width()) > MaxDeviceExtent * 1000
        || qint64(h.deviceMicrometers.height()) > MaxDeviceExtent * 1000)
        h.deviceMicrometers = QSize();
    if (h.devicePixels.width() <= 0 || h.devicePixels.height() <= 0 || h.devicePixels.width() > MaxDeviceExtent
        || h.devicePixels.height() > MaxDeviceExtent)
        damaged(QStringLiteral("the device size in pixels is out of range"));
    if (h.deviceMm.width() <= 0 || h.deviceMm.height() <= 0 || h.deviceMm.width() > MaxDeviceExtent
        || h.deviceMm.height() > MaxDeviceExtent)
        damaged(QStringLiteral("the device size in millimetres is out of range"));
    const qint64 fw = qint64(h.frame.right()) - h.frame.left() + 1;
    const qint64 fh = qint64(h.frame.bottom()) - h.frame.top() + 1;
    if (fw <= 0 || fh <= 0 || fw > MaxDeviceExtent * 100 || fh > MaxDeviceExtent * 100)
        damaged(QStringLiteral("the frame is out of range"));
    return h;
}

QVector<EmfRecordRef> listEmfRecords(const QByteArray &emf)
{
    const EmfHeaderInfo h = readEmfHeader(emf);
    const qint64 end = h.bytes;
    QVector<EmfRecordRef> out;
    qint64 off = 0;
    while (true) {
        if (off + 8 > end)
            damaged(QStringLiteral("it ends without an end record"));
        const quint32 type = u32At(emf, off);
        const quint32 size = u32At(emf, off + 4);
        if (size < 8 || size % 4 != 0)
            damaged(QStringLiteral("a record at offset %1 has a wrong size (%2)").arg(off).arg(size));
        if (off + qint64(size) > end)
            damaged(QStringLiteral("a record at offset %1 runs past the end").arg(off));
        if (off > 0 && type == emf::Header)
            damaged(QStringLiteral("a second header at offset %1").arg(off));
        out.append(EmfRecordRef{type, int(off), int(size)});
        off += size;
        if (type == emf::Eof)
            break;
    }
    return out;
}

namespace {

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
    int mapMode = 1;
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
    int bkMode = 2; // opaque
    quint32 textAlign = 0;
    QPointF current{0, 0};
};

class Player {
public:
    Player(const QByteArray &emf, QPainter &painter, const QRectF &target)
        : m_emf(emf), m_p(painter), m_target(target)
    {
    }

    void play()
    {
        m_header = readEmfHeader(m_emf);
        m_objects.assign(qMax<int>(1, m_header.handles), GdiObject{});
        m_state.font.family = QStringLiteral("Sans Serif");
        m_state.font.height = -12;

        const double ppmX = m_header.pixelsPerMmX();
        const double ppmY = m_header.pixelsPerMmY();
        const double fl = m_header.frame.left() * ppmX / 100.0;
        const double ft = m_header.frame.top() * ppmY / 100.0;
        const double fw = (qint64(m_header.frame.right()) - m_header.frame.left() + 1) * ppmX / 100.0;
        const double fh = (qint64(m_header.frame.bottom()) - m_header.frame.top() + 1) * ppmY / 100.0;
        m_deviceToTarget = QTransform::fromTranslate(-fl, -ft)
            * QTransform::fromScale(m_target.width() / fw, m_target.height() / fh)
            * QTransform::fromTranslate(m_target.left(), m_target.top());

        m_p.save();
        m_p.setClipRect(m_target, Qt::IntersectClip);
        m_p.setRenderHint(QPainter::TextAntialiasing, true);
        applyTransform();
        try {
            run();
        } catch (...) {
            unwind();
            throw;
        }
        unwind();
    }

private:
    void unwind()
    {
        while (!m_saved.empty()) {
            m_saved.pop_back();
            m_p.restore();
        }
        m_p.restore();
    }

    void run()
    {
        const qint64 end = m_header.bytes;
        qint64 off = u32At(m_emf, 4); // past the header
        while (true) {
            if (off + 8 > end)
                damaged(QStringLiteral("it ends without an end record"));
            const quint32 type = u32At(m_emf, off);
            const quint32 size = u32At(m_emf, off + 4);
            if (size < 8 || size % 4 != 0)
                damaged(QStringLiteral("a record at offset %1 has a wrong size (%2)").arg(off).arg(size));
            if (off + qint64(size) > end)
                damaged(QStringLiteral("a record at offset %1 runs past the end").arg(off));
            if (type == emf::Eof)
                return;
            if (type == emf::Header)
                damaged(QStringLiteral("a second header at offset %1").arg(off));
            m_rec = off;
            m_size = size;
            record(type);
            off += size;
        }
    }

    void need(qint64 bytes)
    {
        if (m_size < bytes)
            damaged(QStringLiteral("a record at offset %1 is too short for its kind").arg(m_rec));
    }
    quint32 u(qint64 at) const { return u32At(m_emf, m_rec + at); }
    qint32 i(qint64 at) const { return i32At(m_emf, m_rec + at); }
    QPointF pt(qint64 at) const { return QPointF(i(at), i(at + 4)); }

    quint32 objectIndex(quint32 ih)
    {
        if (ih == 0 || ih >= m_objects.size())
            damaged(QStringLiteral("object index %1 is out of range").arg(ih));
        return ih;
    }

    void record(quint32 type)
    {
        switch (type) {
        case emf::SetWindowExtEx:
        case emf::SetViewportExtEx: {
            need(16);
            const QSizeF ext(i(8), i(12));
            if (ext.width() == 0 || ext.height() == 0)
                return; // the system ignores a zero extent too
            (type == emf::SetWindowExtEx ? m_state.winExt : m_state.vpExt) = ext;
            applyTransform();
            return;
        }
        case emf::SetWindowOrgEx:
        case emf::SetViewportOrgEx:
            need(16);
            (type == emf::SetWindowOrgEx ? m_state.winOrg : m_state.vpOrg) = pt(8);
            applyTransform();
            return;
        case emf::SetMapMode: {
            need(12);
            const quint32 mode = u(8);
            if (mode >= 1 && mode <= 8) {
                m_state.mapMode = int(mode);
                applyTransform();
            }
            return;
        }
        case emf::SetBkMode:
            need(12);
            m_state.bkMode = int(u(8));
            return;
        case emf::SetTextAlign:
            need(12);
            m_state.textAlign = u(8);
            return;
        case emf::SetTextColor:
            need(12);
            m_state.textColor = colorFromRef(u(8));
            return;
        case emf::SetBkColor:
            need(12);
            m_state.bkColor = colorFromRef(u(8));
            return;
        case emf::MoveToEx:
            need(16);
            m_state.current = pt(8);
            return;
        case emf::LineTo: {
            need(16);
            const QPointF to = pt(8);
            if (m_state.pen.style() != Qt::NoPen && sane({m_state.current, to})) {
                m_p.setPen(effectivePen());
                useLineTransform();
                m_p.drawLine(m_state.current, to);
                m_p.setWorldTransform(m_logicalToTarget);
            }
            m_state.current = to;
            return;
        }
        case emf::IntersectClipRect: {
            need(24);
            const QRect r = rectAt(m_emf, m_rec + 8);
            // The clip rectangle excludes its right and bottom edges.
            const QRectF clip(QPointF(r.left(), r.top()), QPointF(r.right(), r.bottom()));
            if (sane({clip.topLeft(), clip.bottomRight()}))
                m_p.setClipRect(clip.normalized(), Qt::IntersectClip);
            else
                m_p.setClipRect(QRectF(), Qt::IntersectClip);
            return;
        }
        case emf::SaveDC:
            if (m_saved.size() >= MaxSavedStates)
                damaged(QStringLiteral("too many saved states"));
            m_saved.push_back(m_state);
            m_p.save();
            return;
        case emf::RestoreDC: {
            need(12);
            const qint32 rel = i(8);
            const qint64 depth = qint64(m_saved.size());
            // Relative (negative) counts back from the latest; a positive one
            // names a saved state by its number from 1.
            qint64 pops = rel < 0 ? -qint64(rel) : depth - qint64(rel) + 1;
            if (rel == 0 || pops <= 0 || pops > depth)
                return; // the system ignores an impossible restore as well
            while (pops-- > 0) {
                m_state = m_saved.back();
                m_saved.pop_back();
                m_p.restore();
            }
            applyTransform();
            return;
        }
        case emf::SelectObject:
            need(12);
            selectObject(u(8));
            return;
        case emf::CreatePen: {
            need(28);
            const quint32 ih = objectIndex(u(8));
            m_objects[ih] = PenObj{makePen(u(12), u(24)), double(i(16))};
            return;
        }
        case emf::CreateBrushIndirect: {
            need(24);
            const quint32 ih = objectIndex(u(8));
            m_objects[ih] = BrushObj{makeBrush(u(12), u(16), u(20))};
            return;
        }
        case emf::ExtCreateFontIndirectW: {
            need(12 + emf::LogFontSize);
            const quint32 ih = objectIndex(u(8));
            FontObj f;
            f.height = i(12);
            if (qAbs(qint64(f.height)) > MaxFontHeight)
                damaged(QStringLiteral("a font height is out of range"));
            f.weight = i(28);
            f.italic = m_emf.at(m_rec + 32) != 0;
            f.underline = m_emf.at(m_rec + 33) != 0;
            f.strikeOut = m_emf.at(m_rec + 34) != 0;
            QString face;
            for (int k = 0; k < 32; ++k) {
                const quint16 c = u16At(m_emf, m_rec + 40 + 2 * k);
                if (c == 0)
                    break;
                face.append(QChar(c));
            }
            f.family = face;
            m_objects[ih] = f;
            return;
        }
        case emf::DeleteObject:
            need(12);
            m_objects[objectIndex(u(8))] = GdiObject{};
            return;
        case emf::Rectangle: {
            need(24);
            const QRect r = rectAt(m_emf, m_rec + 8);
            drawRectangle(r);
            return;
        }
        case emf::Polyline16:
        case emf::Polygon16:
            drawPoly16(type == emf::Polygon16);
            return;
        case emf::ExtTextOutW:
            drawTextOut();
            return;
        default:
            return; // a record we do not draw
        }
    }

    QPen makePen(quint32 style, quint32 color)
    {
        QPen pen(colorFromRef(color));
        switch (style & 0x0F) {
        case 1: pen.setStyle(Qt::DashLine); break;
        case 2: pen.setStyle(Qt::DotLine); break;
        case 3: pen.setStyle(Qt::DashDotLine); break;
        case 4: pen.setStyle(Qt::DashDotDotLine); break;
        case 5: pen.setStyle(Qt::NoPen); break;
        default: pen.setStyle(Qt::SolidLine); break;
        }
        pen.setCosmetic(true);
        pen.setWidth(0);
        return pen;
    }

    // The pen as it draws on the target: thin pens stay one pixel wide at any
    // zoom, thick ones scale with the page up to a sane limit.
    QPen effectivePen() const
    {
        QPen pen = m_state.pen;
        const double scale = (std::abs(m_logicalToTarget.m11()) + std::abs(m_logicalToTarget.m22())) / 2;
        const double w = std::abs(m_state.penWidth) * scale;
        pen.setCosmetic(true);
        if (!(w > 1.5))
            pen.setWidth(0);
        else
            pen.setWidthF(qMin(w, 1000.0));
        return pen;
    }

    // Lines and outlines run through the centres of the reference device's
    // pixels, so that they land on the same pixel rows at any scale.
    void useLineTransform()
    {
        m_p.setWorldTransform(m_logicalToTarget
                              * QTransform::fromTranslate(0.5 * m_deviceToTarget.m11(), 0.5 * m_deviceToTarget.m22()));
    }

    QBrush makeBrush(quint32 style, quint32 color, quint32 hatch)
    {
        switch (style) {
        case 1: return QBrush(Qt::NoBrush);
        case 2: {
            static const Qt::BrushStyle hatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                     Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
            return QBrush(colorFromRef(color), hatch < 6 ? hatches[hatch] : Qt::SolidPattern);
        }
        default: return QBrush(colorFromRef(color));
        }
    }

    void selectObject(quint32 h)
    {
        if (h & emf::StockObject) {
            const quint32 idx = h & ~emf::StockObject;
            if (idx > emf::LastStock)
                damaged(QStringLiteral("stock object %1 is out of range").arg(idx));
            switch (idx) {
            case emf::WhiteBrush: m_state.brush = QBrush(Qt::white); break;
            case emf::LtGrayBrush: m_state.brush = QBrush(QColor(192, 192, 192)); break;
            case emf::GrayBrush: m_state.brush = QBrush(QColor(128, 128, 128)); break;
            case emf::DkGrayBrush: m_state.brush = QBrush(QColor(64, 64, 64)); break;
            case emf::BlackBrush: m_state.brush = QBrush(Qt::black); break;
            case emf::NullBrush: m_state.brush = QBrush(Qt::NoBrush); break;
            case emf::WhitePen: m_state.pen = QPen(Qt::white, 0); m_state.penWidth = 0; break;
            case emf::BlackPen: m_state.pen = QPen(Qt::black, 0); m_state.penWidth = 0; break;
            case emf::NullPen: m_state.pen = QPen(Qt::NoPen); m_state.penWidth = 0; break;
            case 10: case 11: case 12: case 13: case 14: case 16: case 17:
                m_state.font = FontObj{QStringLiteral("Sans Serif"), -12, 400, false, false, false};
                break;
            default: break; // palette and the DC brush and pen: nothing to draw with
            }
            return;
        }
        const GdiObject &o = m_objects[objectIndex(h)];
        if (auto pen = std::get_if<PenObj>(&o)) {
            m_state.pen = pen->pen;
            m_state.penWidth = pen->width;
        }
        else if (auto brush = std::get_if<BrushObj>(&o))
            m_state.brush = brush->brush;
        else if (auto font = std::get_if<FontObj>(&o))
            m_state.font = *font;
        // Selecting an empty slot fails silently, as it would on the system.
    }

    void applyTransform()
    {
        double sx = 1, sy = 1;
        const double ppmX = m_header.pixelsPerMmX();
        const double ppmY = m_header.pixelsPerMmY();
        switch (m_state.mapMode) {
        case 2: sx = ppmX / 10; sy = -ppmY / 10; break; // 0.1 mm
        case 3: sx = ppmX / 100; sy = -ppmY / 100; break; // 0.01 mm
        case 4: sx = ppmX * 0.254; sy = -ppmY * 0.254; break; // 0.01 inch
        case 5: sx = ppmX * 0.0254; sy = -ppmY * 0.0254; break; // 0.001 inch
        case 6: sx = ppmX * 25.4 / 1440; sy = -ppmY * 25.4 / 1440; break; // twips
        case 7:
        case 8:
            sx = m_state.vpExt.width() / m_state.winExt.width();
            sy = m_state.vpExt.height() / m_state.winExt.height();
            if (m_state.mapMode == 7) {
                const double m = qMin(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default: break;
        }
        m_logicalToTarget = QTransform::fromTranslate(-m_state.winOrg.x(), -m_state.winOrg.y())
            * QTransform::fromScale(sx, sy) * QTransform::fromTranslate(m_state.vpOrg.x(), m_state.vpOrg.y())
            * m_deviceToTarget;
        m_p.setWorldTransform(m_logicalToTarget);
    }

    bool sane(std::initializer_list<QPointF> points) const
    {
        for (const QPointF &p : points) {
            const QPointF t = m_logicalToTarget.map(p);
            if (!(std::abs(t.x()) <= MaxCoordinate && std::abs(t.y()) <= MaxCoordinate))
                return false;
        }
        return true;
    }

    void drawRectangle(const QRect &r)
    {
        const double l = qMin(r.left(), r.right());
        const double t = qMin(r.top(), r.bottom());
        const double w = std::abs(double(r.right()) - r.left());
        const double h = std::abs(double(r.bottom()) - r.top());
        if (!sane({QPointF(l, t), QPointF(l + w, t + h)}))
            return;
        if (m_state.pen.style() == Qt::NoPen) {
            // Without an outline the right and bottom edges stay empty.
            if (w > 1 && h > 1 && m_state.brush.style() != Qt::NoBrush)
                m_p.fillRect(QRectF(l, t, w - 1, h - 1), m_state.brush);
            return;
        }
        m_p.setPen(effectivePen());
        m_p.setBrush(m_state.brush);
        useLineTransform();
        m_p.drawRect(QRectF(l, t, qMax(0.0, w - 1), qMax(0.0, h - 1)));
        m_p.setWorldTransform(m_logicalToTarget);
    }

    void drawPoly16(bool polygon)
    {
        need(28);
        const quint32 count = u(24);
        if (28 + 4 * qint64(count) > m_size)
            damaged(QStringLiteral("the points of a record at offset %1 run outside it").arg(m_rec));
        QPolygonF poly;
        poly.reserve(int(count));
        for (quint32 k = 0; k < count; ++k) {
            const QPointF p(i16At(m_emf, m_rec + 28 + 4 * k), i16At(m_emf, m_rec + 30 + 4 * k));
            if (!sane({p}))
                return;
            poly.append(p);
        }
        if (poly.size() < 2)
            return;
        m_p.setPen(effectivePen());
        useLineTransform();
        if (polygon) {
            m_p.setBrush(m_state.brush);
            m_p.drawPolygon(poly);
        } else {
            m_p.drawPolyline(poly);
        }
        m_p.setWorldTransform(m_logicalToTarget);
    }

    void drawTextOut()
    {
        need(emf::TextOutHeadSize - 16); // the rectangle may be absent
        const quint32 nChars = u(44);
        const quint32 offString = u(48);
        const quint32 options = u(52);
        constexpr quint32 EtoOpaque = 0x2, EtoClipped = 0x4, EtoNoRect = 0x100, EtoPdy = 0x2000;
        const bool hasRect = !(options & EtoNoRect);
        const qint64 offDxField = hasRect ? 72 : 56;
        need(offDxField + 4);
        const quint32 offDx = u(offDxField);
        const qint64 textEnd = qint64(offString) + 2 * qint64(nChars);
        if (nChars > 0 && (offString < offDxField + 4 || textEnd > m_size))
            damaged(QStringLiteral("the text of a record at offset %1 runs outside it").arg(m_rec));
        const qint64 dxStride = (options & EtoPdy) ? 8 : 4;
        const bool hasDx = offDx != 0 && nChars > 0;
        if (hasDx && (offDx < offDxField + 4 || qint64(offDx) + dxStride * nChars > m_size))
            damaged(QStringLiteral("the advances of a record at offset %1 run outside it").arg(m_rec));

        QString text;
        text.resize(qsizetype(nChars));
        for (quint32 k = 0; k < nChars; ++k)
            text[k] = QChar(u16At(m_emf, m_rec + offString + 2 * k));

        QPointF ref = pt(36);
        if (m_state.textAlign & 1) // update current position
            ref = m_state.current;
        if (!sane({ref}))
            return;

        bool restoreClip = false;
        if (hasRect && (options & (EtoOpaque | EtoClipped))) {
            const QRect r = rectAt(m_emf, m_rec + 56);
            const QRectF box(QPointF(r.left(), r.top()), QPointF(r.right(), r.bottom()));
            if (sane({box.topLeft(), box.bottomRight()})) {
                if (options & EtoOpaque)
                    m_p.fillRect(box.normalized(), m_state.bkColor);
                if (options & EtoClipped) {
                    m_p.save();
                    restoreClip = true;
                    m_p.setClipRect(box.normalized(), Qt::IntersectClip);
                }
            }
        }

        // Text is never mirrored: draw it unflipped, scaled like the page, from
        // its reference point.
        const double sx = std::abs(m_logicalToTarget.m11());
        const double sy = std::abs(m_logicalToTarget.m22());
        const FontObj &fo = m_state.font;
        QFont font(fo.family.isEmpty() ? QStringLiteral("Sans Serif") : fo.family);
        int px = int(qAbs(fo.height));
        if (px == 0)
            px = 12;
        font.setPixelSize(px);
        if (fo.height > 0) {
            // A positive height is the cell height: scale to the character height.
            const double cell = QFontMetricsF(font).height();
            if (cell > 0)
                font.setPixelSize(qMax(1, int(std::lround(px * px / cell))));
        }
        font.setWeight(QFont::Weight(qBound(1, fo.weight == 0 ? 400 : fo.weight, 1000)));
        font.setItalic(fo.italic);
        font.setUnderline(fo.underline);
        font.setStrikeOut(fo.strikeOut);

        if (text.isEmpty() || px * sy > MaxFontHeight) {
            if (restoreClip)
                m_p.restore();
            return;
        }

        const QFontMetricsF fm(font);
        QVector<double> adv;
        double width = 0;
        if (hasDx) {
            adv.resize(text.size());
            for (quint32 k = 0; k < nChars; ++k) {
                adv[k] = i32At(m_emf, m_rec + offDx + dxStride * k);
                width += adv[k];
            }
        } else {
            width = fm.horizontalAdvance(text);
        }

        double x0 = 0;
        switch (m_state.textAlign & 6) {
        case 6: x0 = -width / 2; break; // centre
        case 2: x0 = -width; break; // right
        default: break;
        }
        double baseline = fm.ascent(); // top
        if ((m_state.textAlign & 24) == 24)
            baseline = 0;
        else if (m_state.textAlign & 8)
            baseline = -fm.descent();

        const QPointF origin = m_logicalToTarget.map(ref);
        m_p.setWorldTransform(QTransform(sx, 0, 0, sy, origin.x(), origin.y()));
        m_p.setFont(font);
        if (m_state.bkMode == 2)
            m_p.fillRect(QRectF(x0, baseline - fm.ascent(), width, fm.height()), m_state.bkColor);
        m_p.setPen(QPen(m_state.textColor));
        const double larger = std::max(sx, sy);
        const double smaller = std::min(sx, sy);
        const bool outlines =
            smaller <= 0 || larger / smaller > MaxTextStretch || px * larger > MaxCachedGlyphPixels;
        const auto drawRun = [&](const QPointF &at, const QString &run) {
            if (!outlines) {
                m_p.drawText(at, run);
                return;
            }
            QPainterPath path;
            path.addText(at, font, run);
            m_p.fillPath(path, m_state.textColor);
        };
        if (!hasDx) {
            drawRun(QPointF(x0, baseline), text);
        } else {
            double x = x0;
            for (qsizetype k = 0; k < text.size(); ++k) {
                qsizetype len = 1;
                if (text.at(k).isHighSurrogate() && k + 1 < text.size() && text.at(k + 1).isLowSurrogate())
                    len = 2;
                if (std::abs(x) <= MaxCoordinate)
                    drawRun(QPointF(x, baseline), text.mid(k, len));
                for (qsizetype j = 0; j < len; ++j)
                    x += adv[k + j];
                k += len - 1;
            }
        }
        m_p.setWorldTransform(m_logicalToTarget);
        if (restoreClip) {
            m_p.restore();
            m_p.setWorldTransform(m_logicalToTarget);
        }
        if (m_state.textAlign & 1)
            m_state.current.rx() += width;
    }

    const QByteArray &m_emf;
    QPainter &m_p;
    QRectF m_target;
    EmfHeaderInfo m_header;
    std::vector<GdiObject> m_objects;
    DcState m_state;
    std::vector<DcState> m_saved;
    QTransform m_deviceToTarget;
    QTransform m_logicalToTarget;
    qint64 m_rec = 0;
    qint64 m_size = 0;
};

} // namespace

void playEmf(const QByteArray &emf, QPainter &painter, const QRectF &target)
{
    if (target.isEmpty()) {
        readEmfHeader(emf);
        return;
    }
    Player(emf, painter, target).play();
}

} // namespace zeplo
