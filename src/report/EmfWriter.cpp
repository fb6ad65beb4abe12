#include "report/EmfWriter.h"

#include <QHash>

#include <QtEndian>

#include <cmath>
#include <cstring>

#include "engine/Error.h"

namespace zeplo {

namespace {

constexpr int MaxCachedObjects = 64; // per kind; a report uses a handful

int hundredthsOfMm(int pixels, int dpi)
{
    return static_cast<int>(std::lround(double(pixels) * 2540.0 / dpi));
}

QString fontKey(const ReportFont &f, int pixelSize)
{
    return f.family + QLatin1Char('/') + QString::number(pixelSize) + (f.bold ? QLatin1String("/b") : QLatin1String("/r"));
}

} // namespace

EmfCanvas::EmfCanvas(const QSize &pagePixels, int dpiX, int dpiY)
    : page_(pagePixels), dpiX_(dpiX), dpiY_(dpiY)
{
    if (pagePixels.width() <= 0 || pagePixels.height() <= 0 || dpiX <= 0 || dpiY <= 0)
        throw Error(QStringLiteral("A page picture needs a positive size and resolution"));
    data_.reserve(16384);
    // The header is filled in by finish(); reserve its place.
    data_.resize(emf::HeaderSize);
    data_.fill('\0');
    records_ = 1;
    simple(emf::SetBkMode, emf::Transparent);
    simple(emf::SetTextAlign, emf::TaTopLeft | emf::TaNoUpdateCp);
    simple(emf::SetTextColor, textColor_);
}

void EmfCanvas::checkOpen() const
{
    if (finished_)
        throw Error(QStringLiteral("The page picture is already finished"));
}

void EmfCanvas::put32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    data_.append(b, 4);
}

void EmfCanvas::put16(quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    data_.append(b, 2);
}

void EmfCanvas::putF32(float v)
{
    quint32 bits;
    std::memcpy(&bits, &v, 4);
    put32(bits);
}

void EmfCanvas::putRect(const QRect &r)
{
    putI32(r.left());
    putI32(r.top());
    putI32(r.right());
    putI32(r.bottom());
}

void EmfCanvas::beginRecord(quint32 type, quint32 size)
{
    put32(type);
    put32(size);
    ++records_;
}

void EmfCanvas::simple(quint32 type, quint32 value)
{
    beginRecord(type, 12);
    put32(value);
}

void EmfCanvas::select(quint32 handle)
{
    simple(emf::SelectObject, handle);
}

quint32 EmfCanvas::newHandle()
{
    if (!freeHandles_.isEmpty())
        return freeHandles_.takeLast();
    return handleCount_++;
}

void EmfCanvas::include(const QRect &r)
{
    if (!r.isEmpty())
        bounds_ = bounds_.isNull() ? r : bounds_.united(r);
}

void EmfCanvas::setFont(const ReportFont &font)
{
    checkOpen();
    // Every printable sets its font; most set the one already in use.
    const bool sameFace = haveFont_ && font.family == font_.family && font.pointSize == font_.pointSize
                          && font.bold == font_.bold;
    font_ = font;
    haveFont_ = true;
    if (sameFace)
        return;
    qfont_ = canvasFont(font, dpiY_);
    fontKey_ = qfont_.key();
    lineHeight_ = -1;
}

const EmfCanvas::Measured &EmfCanvas::measure(const QString &text) const
{
    // Shaping a text is the costly part of laying out a page, and the same
    // authors, genres and years recur on many lines: measurements are kept
    // for the run, a bounded number of them.
    static QHash<QString, Measured> kept;
    constexpr qsizetype kKeptLimit = 20000;
    const QString key = fontKey_ + QChar(0x1f) + text;
    auto it = kept.constFind(key);
    if (it != kept.constEnd())
        return *it;
    if (kept.size() >= kKeptLimit)
        kept.clear();
    Measured m;
    m.width = canvasTextWidth(qfont_, text);
    m.advances = canvasAdvances(qfont_, text);
    return *kept.insert(key, std::move(m));
}

int EmfCanvas::textWidth(const QString &text) const
{
    return measure(text).width;
}

int EmfCanvas::lineHeight() const
{
    if (lineHeight_ < 0)
        lineHeight_ = canvasLineHeight(qfont_);
    return lineHeight_;
}

void EmfCanvas::selectFont()
{
    const int px = qfont_.pixelSize();
    const QString key = fontKey(font_, px);
    auto it = fonts_.constFind(key);
    quint32 handle;
    if (it != fonts_.constEnd()) {
        handle = it.value();
    } else {
        if (fonts_.size() >= MaxCachedObjects) {
            select(emf::StockObject | emf::SystemFont);
            selFont_ = 0;
            for (quint32 h : std::as_const(fonts_)) {
                simple(emf::DeleteObject, h);
                freeHandles_.append(h);
            }
            fonts_.clear();
        }
        handle = newHandle();
        fonts_.insert(key, handle);

        beginRecord(emf::ExtCreateFontIndirectW, 12 + emf::LogFontSize);
        put32(handle);
        putI32(-px); // negative: the character height, not the cell height
        putI32(0); // width: default aspect
        putI32(0); // escapement
        putI32(0); // orientation
        putI32(font_.bold ? emf::WeightBold : emf::WeightNormal);
        const char flags[8] = {0 /*italic*/, 0 /*underline*/, 0 /*strike out*/, char(emf::DefaultCharset),
                               0 /*out precision*/, 0 /*clip precision*/, 0 /*quality*/, 0 /*pitch and family*/};
        data_.append(flags, 8);
        QString face = font_.family.left(emf::FaceNameChars - 1);
        for (int i = 0; i < emf::FaceNameChars; ++i)
            put16(i < face.size() ? face.at(i).unicode() : 0);
    }
    if (selFont_ != handle) {
        select(handle);
        selFont_ = handle;
    }
}

void EmfCanvas::selectBrush(const QColor &c)
{
    const quint32 ref = emf::colorRef(c);
    quint32 handle;
    if (ref == 0x00FFFFFF) {
        handle = emf::StockObject | emf::WhiteBrush;
    } else {
        auto it = brushes_.constFind(ref);
        if (it != brushes_.constEnd()) {
            handle = it.value();
        } else {
            if (brushes_.size() >= MaxCachedObjects) {
                select(emf::StockObject | emf::WhiteBrush);
                selBrush_ = emf::StockObject | emf::WhiteBrush;
                for (quint32 h : std::as_const(brushes_)) {
                    simple(emf::DeleteObject, h);
                    freeHandles_.append(h);
                }
                brushes_.clear();
            }
            handle = newHandle();
            brushes_.insert(ref, handle);
            beginRecord(emf::CreateBrushIndirect, 24);
            put32(handle);
            put32(emf::BsSolid);
            put32(ref);
            put32(0); // hatch: unused for a solid brush
        }
    }
    if (selBrush_ != handle) {
        select(handle);
        selBrush_ = handle;
    }
}

void EmfCanvas::selectPen(quint32 which)
{
    if (selPen_ != which) {
        select(which);
        selPen_ = which;
    }
}

void EmfCanvas::fillRect(const QRect &r, const QColor &c)
{
    checkOpen();
    if (r.isEmpty())
        return;
    selectBrush(c);
    selectPen(emf::StockObject | emf::NullPen);
    // Without an outline the rectangle covers one pixel less to the right and
    // below than its corners say, so the far corner lies one pixel outside.
    beginRecord(emf::Rectangle, 24);
    putI32(r.left());
    putI32(r.top());
    putI32(r.right() + 2);
    putI32(r.bottom() + 2);
    include(r);
}

void EmfCanvas::drawText(const QPoint &topLeft, const QString &text)
{
    checkOpen();
    if (text.isEmpty())
        return;
    if (!haveFont_)
        setFont(ReportFont{QStringLiteral("Arial"), 10, false, Qt::black});
    selectFont();
    const quint32 color = emf::colorRef(font_.color);
    if (color != textColor_) {
        simple(emf::SetTextColor, color);
        textColor_ = color;
    }
    const QVector<int> dx = measure(text).advances;
    const int n = int(text.size());
    const int textBytes = (n * 2 + 3) & ~3;
    const quint32 size = quint32(emf::TextOutHeadSize + textBytes + n * 4);
    int width = 0;
    for (int v : dx)
        width += v;
    const QRect box(topLeft, QSize(qMax(width, 1), lineHeight()));

    beginRecord(emf::ExtTextOutW, size);
    putRect(box); // bounds
    put32(emf::GraphicsModeCompatible);
    putF32(float(2540.0 / dpiX_));
    putF32(float(2540.0 / dpiY_));
    putI32(topLeft.x());
    putI32(topLeft.y());
    put32(quint32(n));
    put32(emf::TextOutHeadSize); // string offset
    put32(0); // options: no clipping, no opaque box
    putRect(box);
    put32(quint32(emf::TextOutHeadSize + textBytes)); // advances offset
    for (QChar ch : text)
        put16(ch.unicode());
    for (int i = n * 2; i < textBytes; ++i)
        data_.append('\0');
    for (int v : dx)
        putI32(v);
    include(box);
}

void EmfCanvas::drawLine(const QPoint &from, const QPoint &to)
{
    checkOpen();
    if (linePen_ == 0) {
        linePen_ = newHandle();
        beginRecord(emf::CreatePen, 28);
        put32(linePen_);
        put32(emf::PsSolid);
        putI32(1); // width in device pixels
        putI32(0); // unused height of the width point
        put32(0); // black
    }
    selectPen(linePen_);
    beginRecord(emf::MoveToEx, 16);
    putI32(from.x());
    putI32(from.y());
    beginRecord(emf::LineTo, 16);
    putI32(to.x());
    putI32(to.y());
    include(QRect(from, to).normalized());
}

QByteArray EmfCanvas::finish()
{
    checkOpen();
    // Leave the stock objects selected and give back what we created.
    if (!fonts_.isEmpty())
        select(emf::StockObject | emf::SystemFont);
    selectBrush(Qt::white);
    selectPen(emf::StockObject | emf::BlackPen);
    for (quint32 h : std::as_const(fonts_))
        simple(emf::DeleteObject, h);
    for (quint32 h : std::as_const(brushes_))
        simple(emf::DeleteObject, h);
    if (linePen_ != 0)
        simple(emf::DeleteObject, linePen_);

    beginRecord(emf::Eof, 20);
    put32(0); // palette entries
    put32(16); // palette offset: where the (empty) palette would start
    put32(20); // size of this record, repeated at its end

    finished_ = true;

    const int frameW = hundredthsOfMm(page_.width(), dpiX_);
    const int frameH = hundredthsOfMm(page_.height(), dpiY_);
    const QRect bounds = bounds_.isNull() ? QRect(QPoint(0, 0), QPoint(-1, -1)) : bounds_;
    QByteArray body = data_;
    data_.clear();
    data_.reserve(emf::HeaderSize);
    put32(emf::Header);
    put32(emf::HeaderSize);
    putRect(bounds);
    putI32(0);
    putI32(0);
    putI32(frameW - 1);
    putI32(frameH - 1);
    put32(emf::Signature);
    put32(emf::Version);
    put32(quint32(body.size()));
    put32(records_);
    put16(quint16(qMin<quint32>(handleCount_, 0xFFFF)));
    put16(0); // reserved
    put32(0); // description: none
    put32(0);
    put32(0); // palette entries
    putI32(page_.width());
    putI32(page_.height());
    putI32(static_cast<int>(std::lround(page_.width() * 25.4 / dpiX_)));
    putI32(static_cast<int>(std::lround(page_.height() * 25.4 / dpiY_)));
    put32(0); // pixel format: none
    put32(0);
    put32(0); // not OpenGL
    putI32(static_cast<int>(std::lround(page_.width() * 25400.0 / dpiX_)));
    putI32(static_cast<int>(std::lround(page_.height() * 25400.0 / dpiY_)));
    std::memcpy(body.data(), data_.constData(), emf::HeaderSize);
    data_.clear();
    return body;
}

} // namespace zeplo
