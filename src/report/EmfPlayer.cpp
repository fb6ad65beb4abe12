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
#include "report/EmfFormat.h"

namespace zeplo {

namespace {

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
    using namespace emf;
    const qint64 total = emf.size();
    if (total < MinHeaderSize)
        damaged(QStringLiteral("it is too short to hold a header"));
    if (u32At(emf, 0) != emf::Header)
        damaged(QStringLiteral("it does not start with a header"));
    const quint32 size = u32At(emf, HeaderRecordSize);
    if (size < MinHeaderSize || size % 4 != 0 || size > total)
        damaged(QStringLiteral("the header has a wrong size"));
    if (u32At(emf, HeaderSignature) != emf::Signature)
        damaged(QStringLiteral("the signature is missing"));
    if (u32At(emf, HeaderVersion) != emf::Version)
        damaged(QStringLiteral("unknown format version"));

    EmfHeaderInfo h;
    h.bounds = rectAt(emf, HeaderBounds);
    h.frame = rectAt(emf, HeaderFrame);
    h.bytes = u32At(emf, HeaderBytes);
    h.records = u32At(emf, HeaderRecords);
    h.handles = u16At(emf, HeaderHandles);
    h.devicePixels = QSize(i32At(emf, HeaderDevicePixels), i32At(emf, HeaderDevicePixels + 4));
    h.deviceMm = QSize(i32At(emf, HeaderDeviceMm), i32At(emf, HeaderDeviceMm + 4));
    if (h.bytes < size || h.bytes % 4 != 0 || h.bytes > total)
        damaged(QStringLiteral("the stated length does not match the data"));
    if (h.records < 2)
        damaged(QStringLiteral("the record count is wrong"));

    const quint32 nDesc = u32At(emf, HeaderDescriptionChars);
    const quint32 offDesc = u32At(emf, HeaderDescriptionOffset);
    if (nDesc != 0 && (offDesc < MinHeaderSize || qint64(offDesc) + 2 * qint64(nDesc) > size))
        damaged(QStringLiteral("the description lies outside the header"));
    if (size >= HeaderSizeWithPixelFormat) {
        const quint32 cbPixel = u32At(emf, HeaderPixelFormatSize);
        const quint32 offPixel = u32At(emf, HeaderPixelFormatOffset);
        if (cbPixel != 0 && (offPixel < MinHeaderSize || qint64(offPixel) + cbPixel > size))
            damaged(QStringLiteral("the pixel format lies outside the header"));
    }
    if (size >= emf::HeaderSize && (nDesc == 0 || offDesc >= emf::HeaderSize))
        h.deviceMicrometers = QSize(i32At(emf, HeaderDeviceMicrometers), i32At(emf, HeaderDeviceMicrometers + 4));
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

EmfRecordWalker::EmfRecordWalker(const QByteArray &emf, const EmfHeaderInfo &header)
    : emf_(emf), end_(qMin<qint64>(header.bytes, emf.size()))
{
}

bool EmfRecordWalker::next(EmfRecordRef &record)
{
    if (done_)
        return false;
    const qint64 off = offset_;
    if (off + emf::RecordHeadSize > end_)
        damaged(QStringLiteral("it ends without an end record"));
    const quint32 type = u32At(emf_, off);
    const quint32 size = u32At(emf_, off + 4);
    if (size < emf::RecordHeadSize || size % 4 != 0)
        damaged(QStringLiteral("a record at offset %1 has a wrong size (%2)").arg(off).arg(size));
    if (off + qint64(size) > end_)
        damaged(QStringLiteral("a record at offset %1 runs past the end").arg(off));
    if (off > 0 && type == emf::Header)
        damaged(QStringLiteral("a second header at offset %1").arg(off));
    record = EmfRecordRef{type, off, qint64(size)};
    offset_ = off + size;
    done_ = type == emf::Eof;
    return true;
}

QVector<EmfRecordRef> listEmfRecords(const QByteArray &emf)
{
    EmfRecordWalker walker(emf, readEmfHeader(emf));
    QVector<EmfRecordRef> out;
    for (EmfRecordRef record; walker.next(record);)
        out.append(record);
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

class Player {
public:
    Player(const QByteArray &emf, QPainter &painter, const QRectF &target)
        : emf_(emf), p_(painter), target_(target)
    {
    }

    void play()
    {
        header_ = readEmfHeader(emf_);
        objects_.assign(qMax<int>(1, header_.handles), GdiObject{});
        state_.font.family = QStringLiteral("Sans Serif");
        state_.font.height = -12;

        const double ppmX = header_.pixelsPerMmX();
        const double ppmY = header_.pixelsPerMmY();
        const double fl = header_.frame.left() * ppmX / 100.0;
        const double ft = header_.frame.top() * ppmY / 100.0;
        const double fw = (qint64(header_.frame.right()) - header_.frame.left() + 1) * ppmX / 100.0;
        const double fh = (qint64(header_.frame.bottom()) - header_.frame.top() + 1) * ppmY / 100.0;
        deviceToTarget_ = QTransform::fromTranslate(-fl, -ft)
            * QTransform::fromScale(target_.width() / fw, target_.height() / fh)
            * QTransform::fromTranslate(target_.left(), target_.top());

        p_.save();
        p_.setClipRect(target_, Qt::IntersectClip);
        p_.setRenderHint(QPainter::TextAntialiasing, true);
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
        while (!saved_.empty()) {
            saved_.pop_back();
            p_.restore();
        }
        p_.restore();
    }

    void run()
    {
        EmfRecordWalker walker(emf_, header_);
        EmfRecordRef r;
        walker.next(r); // the header, read already
        while (walker.next(r) && r.type != emf::Eof) {
            rec_ = r.offset;
            size_ = r.size;
            record(r.type);
        }
    }

    void need(qint64 bytes)
    {
        if (size_ < bytes)
            damaged(QStringLiteral("a record at offset %1 is too short for its kind").arg(rec_));
    }
    quint32 u(qint64 at) const { return u32At(emf_, rec_ + at); }
    qint32 i(qint64 at) const { return i32At(emf_, rec_ + at); }
    QPointF pt(qint64 at) const { return QPointF(i(at), i(at + 4)); }

    quint32 objectIndex(quint32 ih)
    {
        if (ih == 0 || ih >= objects_.size())
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
            (type == emf::SetWindowExtEx ? state_.winExt : state_.vpExt) = ext;
            applyTransform();
            return;
        }
        case emf::SetWindowOrgEx:
        case emf::SetViewportOrgEx:
            need(16);
            (type == emf::SetWindowOrgEx ? state_.winOrg : state_.vpOrg) = pt(8);
            applyTransform();
            return;
        case emf::SetMapMode: {
            need(12);
            const quint32 mode = u(8);
            if (mode >= emf::MmText && mode <= emf::MmAnisotropic) {
                state_.mapMode = mode;
                applyTransform();
            }
            return;
        }
        case emf::SetBkMode:
            need(12);
            state_.bkMode = u(8);
            return;
        case emf::SetTextAlign:
            need(12);
            state_.textAlign = u(8);
            return;
        case emf::SetTextColor:
            need(12);
            state_.textColor = emf::colorFromRef(u(8));
            return;
        case emf::SetBkColor:
            need(12);
            state_.bkColor = emf::colorFromRef(u(8));
            return;
        case emf::MoveToEx:
            need(16);
            state_.current = pt(8);
            return;
        case emf::LineTo: {
            need(16);
            const QPointF to = pt(8);
            if (state_.pen.style() != Qt::NoPen && sane({state_.current, to})) {
                p_.setPen(effectivePen());
                useLineTransform();
                p_.drawLine(state_.current, to);
                p_.setWorldTransform(logicalToTarget_);
            }
            state_.current = to;
            return;
        }
        case emf::IntersectClipRect: {
            need(24);
            const QRect r = rectAt(emf_, rec_ + 8);
            // The clip rectangle excludes its right and bottom edges.
            const QRectF clip(QPointF(r.left(), r.top()), QPointF(r.right(), r.bottom()));
            if (sane({clip.topLeft(), clip.bottomRight()}))
                p_.setClipRect(clip.normalized(), Qt::IntersectClip);
            else
                p_.setClipRect(QRectF(), Qt::IntersectClip);
            return;
        }
        case emf::SaveDC:
            if (saved_.size() >= MaxSavedStates)
                damaged(QStringLiteral("too many saved states"));
            saved_.push_back(state_);
            p_.save();
            return;
        case emf::RestoreDC: {
            need(12);
            const qint32 rel = i(8);
            const qint64 depth = qint64(saved_.size());
            // Relative (negative) counts back from the latest; a positive one
            // names a saved state by its number from 1.
            qint64 pops = rel < 0 ? -qint64(rel) : depth - qint64(rel) + 1;
            if (rel == 0 || pops <= 0 || pops > depth)
                return; // the system ignores an impossible restore as well
            while (pops-- > 0) {
                state_ = saved_.back();
                saved_.pop_back();
                p_.restore();
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
            objects_[ih] = PenObj{makePen(u(12), u(24)), double(i(16))};
            return;
        }
        case emf::CreateBrushIndirect: {
            need(24);
            const quint32 ih = objectIndex(u(8));
            objects_[ih] = BrushObj{makeBrush(u(12), u(16), u(20))};
            return;
        }
        case emf::ExtCreateFontIndirectW: {
            need(emf::FontHeight + emf::LogFontSize);
            const quint32 ih = objectIndex(u(emf::FontObjectIndex));
            FontObj f;
            f.height = i(emf::FontHeight);
            if (qAbs(qint64(f.height)) > MaxFontHeight)
                damaged(QStringLiteral("a font height is out of range"));
            f.weight = i(emf::FontWeight);
            f.italic = emf_.at(rec_ + emf::FontItalic) != 0;
            f.underline = emf_.at(rec_ + emf::FontUnderline) != 0;
            f.strikeOut = emf_.at(rec_ + emf::FontStrikeOut) != 0;
            QString face;
            for (int k = 0; k < emf::FaceNameChars; ++k) {
                const quint16 c = u16At(emf_, rec_ + emf::FontFaceName + 2 * k);
                if (c == 0)
                    break;
                face.append(QChar(c));
            }
            f.family = face;
            objects_[ih] = f;
            return;
        }
        case emf::DeleteObject:
            need(12);
            objects_[objectIndex(u(8))] = GdiObject{};
            return;
        case emf::Rectangle: {
            need(24);
            const QRect r = rectAt(emf_, rec_ + 8);
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

    // The pen as it draws on the target: thin pens stay one pixel wide at any
    // zoom, thick ones scale with the page up to a sane limit.
    QPen effectivePen() const
    {
        QPen pen = state_.pen;
        const double scale = (std::abs(logicalToTarget_.m11()) + std::abs(logicalToTarget_.m22())) / 2;
        const double w = std::abs(state_.penWidth) * scale;
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
        p_.setWorldTransform(logicalToTarget_
                              * QTransform::fromTranslate(0.5 * deviceToTarget_.m11(), 0.5 * deviceToTarget_.m22()));
    }

    QBrush makeBrush(quint32 style, quint32 color, quint32 hatch)
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

    void selectObject(quint32 h)
    {
        if (h & emf::StockObject) {
            const quint32 idx = h & ~emf::StockObject;
            if (idx > emf::LastStock)
                damaged(QStringLiteral("stock object %1 is out of range").arg(idx));
            switch (idx) {
            case emf::WhiteBrush: state_.brush = QBrush(Qt::white); break;
            case emf::LtGrayBrush: state_.brush = QBrush(QColor(192, 192, 192)); break;
            case emf::GrayBrush: state_.brush = QBrush(QColor(128, 128, 128)); break;
            case emf::DkGrayBrush: state_.brush = QBrush(QColor(64, 64, 64)); break;
            case emf::BlackBrush: state_.brush = QBrush(Qt::black); break;
            case emf::NullBrush: state_.brush = QBrush(Qt::NoBrush); break;
            case emf::WhitePen: state_.pen = QPen(Qt::white, 0); state_.penWidth = 0; break;
            case emf::BlackPen: state_.pen = QPen(Qt::black, 0); state_.penWidth = 0; break;
            case emf::NullPen: state_.pen = QPen(Qt::NoPen); state_.penWidth = 0; break;
            case emf::OemFixedFont: case emf::AnsiFixedFont: case emf::AnsiVarFont: case emf::SystemFont:
            case emf::DeviceDefaultFont: case emf::SystemFixedFont: case emf::DefaultGuiFont:
                state_.font = FontObj{QStringLiteral("Sans Serif"), -12, 400, false, false, false};
                break;
            default: break; // palette and the DC brush and pen: nothing to draw with
            }
            return;
        }
        const GdiObject &o = objects_[objectIndex(h)];
        if (auto pen = std::get_if<PenObj>(&o)) {
            state_.pen = pen->pen;
            state_.penWidth = pen->width;
        }
        else if (auto brush = std::get_if<BrushObj>(&o))
            state_.brush = brush->brush;
        else if (auto font = std::get_if<FontObj>(&o))
            state_.font = *font;
        // Selecting an empty slot fails silently, as it would on the system.
    }

    void applyTransform()
    {
        double sx = 1, sy = 1;
        const double ppmX = header_.pixelsPerMmX();
        const double ppmY = header_.pixelsPerMmY();
        switch (state_.mapMode) {
        case emf::MmLoMetric: sx = ppmX / 10; sy = -ppmY / 10; break;
        case emf::MmHiMetric: sx = ppmX / 100; sy = -ppmY / 100; break;
        case emf::MmLoEnglish: sx = ppmX * 0.254; sy = -ppmY * 0.254; break;
        case emf::MmHiEnglish: sx = ppmX * 0.0254; sy = -ppmY * 0.0254; break;
        case emf::MmTwips: sx = ppmX * 25.4 / 1440; sy = -ppmY * 25.4 / 1440; break;
        case emf::MmIsotropic:
        case emf::MmAnisotropic:
            sx = state_.vpExt.width() / state_.winExt.width();
            sy = state_.vpExt.height() / state_.winExt.height();
            if (state_.mapMode == emf::MmIsotropic) {
                const double m = qMin(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default: break;
        }
        logicalToTarget_ = QTransform::fromTranslate(-state_.winOrg.x(), -state_.winOrg.y())
            * QTransform::fromScale(sx, sy) * QTransform::fromTranslate(state_.vpOrg.x(), state_.vpOrg.y())
            * deviceToTarget_;
        p_.setWorldTransform(logicalToTarget_);
    }

    bool sane(std::initializer_list<QPointF> points) const
    {
        for (const QPointF &p : points) {
            const QPointF t = logicalToTarget_.map(p);
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
        if (state_.pen.style() == Qt::NoPen) {
            // Without an outline the right and bottom edges stay empty.
            if (w > 1 && h > 1 && state_.brush.style() != Qt::NoBrush)
                p_.fillRect(QRectF(l, t, w - 1, h - 1), state_.brush);
            return;
        }
        p_.setPen(effectivePen());
        p_.setBrush(state_.brush);
        useLineTransform();
        p_.drawRect(QRectF(l, t, qMax(0.0, w - 1), qMax(0.0, h - 1)));
        p_.setWorldTransform(logicalToTarget_);
    }

    void drawPoly16(bool polygon)
    {
        need(28);
        const quint32 count = u(24);
        if (28 + 4 * qint64(count) > size_)
            damaged(QStringLiteral("the points of a record at offset %1 run outside it").arg(rec_));
        QPolygonF poly;
        poly.reserve(int(count));
        for (quint32 k = 0; k < count; ++k) {
            const QPointF p(i16At(emf_, rec_ + 28 + 4 * k), i16At(emf_, rec_ + 30 + 4 * k));
            if (!sane({p}))
                return;
            poly.append(p);
        }
        if (poly.size() < 2)
            return;
        p_.setPen(effectivePen());
        useLineTransform();
        if (polygon) {
            p_.setBrush(state_.brush);
            p_.drawPolygon(poly);
        } else {
            p_.drawPolyline(poly);
        }
        p_.setWorldTransform(logicalToTarget_);
    }

    void drawTextOut()
    {
        using namespace emf;
        need(TextOutHeadSize - 16); // the rectangle may be absent
        const quint32 nChars = u(TextOutChars);
        const quint32 offString = u(TextOutStringOffset);
        const quint32 options = u(TextOutOptions);
        const bool hasRect = !(options & EtoNoRect);
        const qint64 offDxField = hasRect ? TextOutAdvancesOffset : TextOutAdvancesOffsetNoRect;
        need(offDxField + 4);
        const quint32 offDx = u(offDxField);
        const qint64 textEnd = qint64(offString) + 2 * qint64(nChars);
        if (nChars > 0 && (offString < offDxField + 4 || textEnd > size_))
            damaged(QStringLiteral("the text of a record at offset %1 runs outside it").arg(rec_));
        const qint64 dxStride = (options & EtoPdy) ? 8 : 4;
        const bool hasDx = offDx != 0 && nChars > 0;
        if (hasDx && (offDx < offDxField + 4 || qint64(offDx) + dxStride * nChars > size_))
            damaged(QStringLiteral("the advances of a record at offset %1 run outside it").arg(rec_));

        QString text;
        text.resize(qsizetype(nChars));
        for (quint32 k = 0; k < nChars; ++k)
            text[k] = QChar(u16At(emf_, rec_ + offString + 2 * k));

        QPointF ref = pt(TextOutReference);
        if (state_.textAlign & TaUpdateCp)
            ref = state_.current;
        if (!sane({ref}))
            return;

        bool restoreClip = false;
        if (hasRect && (options & (EtoOpaque | EtoClipped))) {
            const QRect r = rectAt(emf_, rec_ + TextOutRectangle);
            const QRectF box(QPointF(r.left(), r.top()), QPointF(r.right(), r.bottom()));
            if (sane({box.topLeft(), box.bottomRight()})) {
                if (options & EtoOpaque)
                    p_.fillRect(box.normalized(), state_.bkColor);
                if (options & EtoClipped) {
                    p_.save();
                    restoreClip = true;
                    p_.setClipRect(box.normalized(), Qt::IntersectClip);
                }
            }
        }

        // Text is never mirrored: draw it unflipped, scaled like the page, from
        // its reference point.
        const double sx = std::abs(logicalToTarget_.m11());
        const double sy = std::abs(logicalToTarget_.m22());
        const FontObj &fo = state_.font;
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
                p_.restore();
            return;
        }

        const QFontMetricsF fm(font);
        QVector<double> adv;
        double width = 0;
        if (hasDx) {
            adv.resize(text.size());
            for (quint32 k = 0; k < nChars; ++k) {
                adv[k] = i32At(emf_, rec_ + offDx + dxStride * k);
                width += adv[k];
            }
        } else {
            width = fm.horizontalAdvance(text);
        }

        double x0 = 0;
        switch (state_.textAlign & TaHorizontal) {
        case TaCenter: x0 = -width / 2; break;
        case TaRight: x0 = -width; break;
        default: break;
        }
        double baseline = fm.ascent(); // top
        if ((state_.textAlign & TaVertical) == TaBaseline)
            baseline = 0;
        else if (state_.textAlign & TaBottom)
            baseline = -fm.descent();

        const QPointF origin = logicalToTarget_.map(ref);
        p_.setWorldTransform(QTransform(sx, 0, 0, sy, origin.x(), origin.y()));
        p_.setFont(font);
        if (state_.bkMode == Opaque)
            p_.fillRect(QRectF(x0, baseline - fm.ascent(), width, fm.height()), state_.bkColor);
        p_.setPen(QPen(state_.textColor));
        const double larger = std::max(sx, sy);
        const double smaller = std::min(sx, sy);
        const bool outlines =
            smaller <= 0 || larger / smaller > MaxTextStretch || px * larger > MaxCachedGlyphPixels;
        const auto drawRun = [&](const QPointF &at, const QString &run) {
            if (!outlines) {
                p_.drawText(at, run);
                return;
            }
            QPainterPath path;
            path.addText(at, font, run);
            p_.fillPath(path, state_.textColor);
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
        p_.setWorldTransform(logicalToTarget_);
        if (restoreClip) {
            p_.restore();
            p_.setWorldTransform(logicalToTarget_);
        }
        if (state_.textAlign & TaUpdateCp)
            state_.current.rx() += width;
    }

    const QByteArray &emf_;
    QPainter &p_;
    QRectF target_;
    EmfHeaderInfo header_;
    std::vector<GdiObject> objects_;
    DcState state_;
    std::vector<DcState> saved_;
    QTransform deviceToTarget_;
    QTransform logicalToTarget_;
    qint64 rec_ = 0;
    qint64 size_ = 0;
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
