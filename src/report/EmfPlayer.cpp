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
#include "report/EmfObjects.h"
#include "report/EmfRecords.h"

namespace zeplo {

using namespace emf;

namespace {

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
    emfDamaged(what);
}

// Plays a picture onto a painter, or with none only checks it: every record
// read and checked as for drawing, nothing drawn.
class Player {
public:
    Player(const QByteArray &emf, QPainter *painter, const QRectF &target)
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

        if (p_) {
            p_->save();
            p_->setClipRect(target_, Qt::IntersectClip);
            p_->setRenderHint(QPainter::TextAntialiasing, true);
        }
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
        if (!p_)
            return;
        while (!saved_.empty()) {
            saved_.pop_back();
            p_->restore();
        }
        p_->restore();
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
            if (p_ && state_.pen.style() != Qt::NoPen && sane({state_.current, to})) {
                p_->setPen(effectivePen());
                useLineTransform();
                p_->drawLine(state_.current, to);
                p_->setWorldTransform(logicalToTarget_);
            }
            state_.current = to;
            return;
        }
        case emf::IntersectClipRect: {
            need(24);
            if (!p_)
                return;
            const QRect r = rectAt(emf_, rec_ + 8);
            // The clip rectangle excludes its right and bottom edges.
            const QRectF clip(QPointF(r.left(), r.top()), QPointF(r.right(), r.bottom()));
            if (sane({clip.topLeft(), clip.bottomRight()}))
                p_->setClipRect(clip.normalized(), Qt::IntersectClip);
            else
                p_->setClipRect(QRectF(), Qt::IntersectClip);
            return;
        }
        case emf::SaveDC:
            if (saved_.size() >= MaxSavedStates)
                damaged(QStringLiteral("too many saved states"));
            saved_.push_back(state_);
            if (p_)
                p_->save();
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
                if (p_)
                    p_->restore();
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
            objects_[ih] = PenObj{emfPen(u(12), u(24)), double(i(16))};
            return;
        }
        case emf::CreateBrushIndirect: {
            need(24);
            const quint32 ih = objectIndex(u(8));
            objects_[ih] = BrushObj{emfBrush(u(12), u(16), u(20))};
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
        p_->setWorldTransform(logicalToTarget_
                              * QTransform::fromTranslate(0.5 * deviceToTarget_.m11(), 0.5 * deviceToTarget_.m22()));
    }

    void selectObject(quint32 h)
    {
        if (h & emf::StockObject) {
            const quint32 idx = h & ~emf::StockObject;
            if (idx > emf::LastStock)
                damaged(QStringLiteral("stock object %1 is out of range").arg(idx));
            selectStockObject(idx, state_);
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
        if (p_)
            p_->setWorldTransform(logicalToTarget_);
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
        if (!p_)
            return;
        const double l = qMin(r.left(), r.right());
        const double t = qMin(r.top(), r.bottom());
        const double w = std::abs(double(r.right()) - r.left());
        const double h = std::abs(double(r.bottom()) - r.top());
        if (!sane({QPointF(l, t), QPointF(l + w, t + h)}))
            return;
        if (state_.pen.style() == Qt::NoPen) {
            // Without an outline the right and bottom edges stay empty.
            if (w > 1 && h > 1 && state_.brush.style() != Qt::NoBrush)
                p_->fillRect(QRectF(l, t, w - 1, h - 1), state_.brush);
            return;
        }
        p_->setPen(effectivePen());
        p_->setBrush(state_.brush);
        useLineTransform();
        p_->drawRect(QRectF(l, t, qMax(0.0, w - 1), qMax(0.0, h - 1)));
        p_->setWorldTransform(logicalToTarget_);
    }

    void drawPoly16(bool polygon)
    {
        need(28);
        const quint32 count = u(24);
        if (28 + 4 * qint64(count) > size_)
            damaged(QStringLiteral("the points of a record at offset %1 run outside it").arg(rec_));
        if (!p_)
            return;
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
        p_->setPen(effectivePen());
        useLineTransform();
        if (polygon) {
            p_->setBrush(state_.brush);
            p_->drawPolygon(poly);
        } else {
            p_->drawPolyline(poly);
        }
        p_->setWorldTransform(logicalToTarget_);
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
        if (!p_)
            return;

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
                    p_->fillRect(box.normalized(), state_.bkColor);
                if (options & EtoClipped) {
                    p_->save();
                    restoreClip = true;
                    p_->setClipRect(box.normalized(), Qt::IntersectClip);
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
                p_->restore();
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
        p_->setWorldTransform(QTransform(sx, 0, 0, sy, origin.x(), origin.y()));
        p_->setFont(font);
        if (state_.bkMode == Opaque)
            p_->fillRect(QRectF(x0, baseline - fm.ascent(), width, fm.height()), state_.bkColor);
        p_->setPen(QPen(state_.textColor));
        const double larger = std::max(sx, sy);
        const double smaller = std::min(sx, sy);
        const bool outlines =
            smaller <= 0 || larger / smaller > MaxTextStretch || px * larger > MaxCachedGlyphPixels;
        const auto drawRun = [&](const QPointF &at, const QString &run) {
            if (!outlines) {
                p_->drawText(at, run);
                return;
            }
            QPainterPath path;
            path.addText(at, font, run);
            p_->fillPath(path, state_.textColor);
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
        p_->setWorldTransform(logicalToTarget_);
        if (restoreClip) {
            p_->restore();
            p_->setWorldTransform(logicalToTarget_);
        }
        if (state_.textAlign & TaUpdateCp)
            state_.current.rx() += width;
    }

    const QByteArray &emf_;
    QPainter *p_; // none when only checking
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
    Player(emf, &painter, target).play();
}

void checkEmf(const QByteArray &emf)
{
    Player(emf, nullptr, QRectF(0, 0, 100, 100)).play();
}

} // namespace zeplo
