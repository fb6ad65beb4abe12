#include "report/EmfWriter.h"

#include <QHash>

#include <QtEndian>

#include <cmath>
#include <cstring>

#include "engine/Error.h"

namespace zeplo {

namespace {

constexpr int MaxCachedObjects = 64; // per kind; a report uses a handful
constexpr quint32 TransparentBkMode = 1;
constexpr quint32 TaTopLeftNoUpdate = 0;
constexpr quint32 PenSolid = 0;
constexpr quint32 BrushSolid = 0;
constexpr quint32 GraphicsModeCompatible = 1;
constexpr quint8 DefaultCharset = 1;

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
    : m_page(pagePixels), m_dpiX(dpiX), m_dpiY(dpiY)
{
    if (pagePixels.width() <= 0 || pagePixels.height() <= 0 || dpiX <= 0 || dpiY <= 0)
        throw Error(QStringLiteral("A page picture needs a positive size and resolution"));
    m_data.reserve(16384);
    // The header is filled in by finish(); reserve its place.
    m_data.resize(emf::HeaderSize);
    m_data.fill('\0');
    m_records = 1;
    simple(emf::SetBkMode, TransparentBkMode);
    simple(emf::SetTextAlign, TaTopLeftNoUpdate);
    simple(emf::SetTextColor, m_textColor);
}

void EmfCanvas::checkOpen() const
{
    if (m_finished)
        throw Error(QStringLiteral("The page picture is already finished"));
}

void EmfCanvas::put32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    m_data.append(b, 4);
}

void EmfCanvas::put16(quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    m_data.append(b, 2);
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
    ++m_records;
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
    if (!m_freeHandles.isEmpty())
        return m_freeHandles.takeLast();
    return m_handleCount++;
}

void EmfCanvas::include(const QRect &r)
{
    if (!r.isEmpty())
        m_bounds = m_bounds.isNull() ? r : m_bounds.united(r);
}

void EmfCanvas::setFont(const ReportFont &font)
{
    checkOpen();
    // Every printable sets its font; most set the one already in use.
    const bool sameFace = m_haveFont && font.family == m_font.family && font.pointSize == m_font.pointSize
                          && font.bold == m_font.bold;
    m_font = font;
    m_haveFont = true;
    if (sameFace)
        return;
    m_qfont = canvasFont(font, m_dpiY);
    m_fontKey = m_qfont.key();
    m_lineHeight = -1;
}

const EmfCanvas::Measured &EmfCanvas::measure(const QString &text) const
{
    // Shaping a text is the costly part of laying out a page, and the same
    // authors, genres and years recur on many lines: measurements are kept
    // for the run, a bounded number of them.
    static QHash<QString, Measured> kept;
    constexpr qsizetype kKeptLimit = 20000;
    const QString key = m_fontKey + QChar(0x1f) + text;
    auto it = kept.constFind(key);
    if (it != kept.constEnd())
        return *it;
    if (kept.size() >= kKeptLimit)
        kept.clear();
    Measured m;
    m.width = canvasTextWidth(m_qfont, text);
    m.advances = canvasAdvances(m_qfont, text);
    return *kept.insert(key, std::move(m));
}

int EmfCanvas::textWidth(const QString &text) const
{
    return measure(text).width;
}

int EmfCanvas::lineHeight() const
{
    if (m_lineHeight < 0)
        m_lineHeight = canvasLineHeight(m_qfont);
    return m_lineHeight;
}

void EmfCanvas::selectFont()
{
    const int px = m_qfont.pixelSize();
    const QString key = fontKey(m_font, px);
    auto it = m_fonts.constFind(key);
    quint32 handle;
    if (it != m_fonts.constEnd()) {
        handle = it.value();
    } else {
        if (m_fonts.size() >= MaxCachedObjects) {
            select(emf::StockObject | emf::SystemFont);
            m_selFont = 0;
            for (quint32 h : std::as_const(m_fonts)) {
                simple(emf::DeleteObject, h);
                m_freeHandles.append(h);
            }
            m_fonts.clear();
        }
        handle = newHandle();
        m_fonts.insert(key, handle);

        beginRecord(emf::ExtCreateFontIndirectW, 12 + emf::LogFontSize);
        put32(handle);
        putI32(-px); // negative: the character height, not the cell height
        putI32(0); // width: default aspect
        putI32(0); // escapement
        putI32(0); // orientation
        putI32(m_font.bold ? 700 : 400);
        const char flags[8] = {0 /*italic*/, 0 /*underline*/, 0 /*strike out*/, char(DefaultCharset),
                               0 /*out precision*/, 0 /*clip precision*/, 0 /*quality*/, 0 /*pitch and family*/};
        m_data.append(flags, 8);
        QString face = m_font.family.left(31);
        for (int i = 0; i < 32; ++i)
            put16(i < face.size() ? face.at(i).unicode() : 0);
    }
    if (m_selFont != handle) {
        select(handle);
        m_selFont = handle;
    }
}

void EmfCanvas::selectBrush(const QColor &c)
{
    const quint32 ref = emf::colorRef(c);
    quint32 handle;
    if (ref == 0x00FFFFFF) {
        handle = emf::StockObject | emf::WhiteBrush;
    } else {
        auto it = m_brushes.constFind(ref);
        if (it != m_brushes.constEnd()) {
            handle = it.value();
        } else {
            if (m_brushes.size() >= MaxCachedObjects) {
                select(emf::StockObject | emf::WhiteBrush);
                m_selBrush = emf::StockObject | emf::WhiteBrush;
                for (quint32 h : std::as_const(m_brushes)) {
                    simple(emf::DeleteObject, h);
                    m_freeHandles.append(h);
                }
                m_brushes.clear();
            }
            handle = newHandle();
            m_brushes.insert(ref, handle);
            beginRecord(emf::CreateBrushIndirect, 24);
            put32(handle);
            put32(BrushSolid);
            put32(ref);
            put32(0); // hatch: unused for a solid brush
        }
    }
    if (m_selBrush != handle) {
        select(handle);
        m_selBrush = handle;
    }
}

void EmfCanvas::selectPen(quint32 which)
{
    if (m_selPen != which) {
        select(which);
        m_selPen = which;
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
    if (!m_haveFont)
        setFont(ReportFont{QStringLiteral("Arial"), 10, false, Qt::black});
    selectFont();
    const quint32 color = emf::colorRef(m_font.color);
    if (color != m_textColor) {
        simple(emf::SetTextColor, color);
        m_textColor = color;
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
    put32(GraphicsModeCompatible);
    putF32(float(2540.0 / m_dpiX));
    putF32(float(2540.0 / m_dpiY));
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
        m_data.append('\0');
    for (int v : dx)
        putI32(v);
    include(box);
}

void EmfCanvas::drawLine(const QPoint &from, const QPoint &to)
{
    checkOpen();
    if (m_linePen == 0) {
        m_linePen = newHandle();
        beginRecord(emf::CreatePen, 28);
        put32(m_linePen);
        put32(PenSolid);
        putI32(1); // width in device pixels
        putI32(0); // unused height of the width point
        put32(0); // black
    }
    selectPen(m_linePen);
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
    if (!m_fonts.isEmpty())
        select(emf::StockObject | emf::SystemFont);
    selectBrush(Qt::white);
    selectPen(emf::StockObject | emf::BlackPen);
    for (quint32 h : std::as_const(m_fonts))
        simple(emf::DeleteObject, h);
    for (quint32 h : std::as_const(m_brushes))
        simple(emf::DeleteObject, h);
    if (m_linePen != 0)
        simple(emf::DeleteObject, m_linePen);

    beginRecord(emf::Eof, 20);
    put32(0); // palette entries
    put32(16); // palette offset: where the (empty) palette would start
    put32(20); // size of this record, repeated at its end

    m_finished = true;

    const int frameW = hundredthsOfMm(m_page.width(), m_dpiX);
    const int frameH = hundredthsOfMm(m_page.height(), m_dpiY);
    const QRect bounds = m_bounds.isNull() ? QRect(QPoint(0, 0), QPoint(-1, -1)) : m_bounds;
    QByteArray body = m_data;
    m_data.clear();
    m_data.reserve(emf::HeaderSize);
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
    put32(m_records);
    put16(quint16(qMin<quint32>(m_handleCount, 0xFFFF)));
    put16(0); // reserved
    put32(0); // description: none
    put32(0);
    put32(0); // palette entries
    putI32(m_page.width());
    putI32(m_page.height());
    putI32(static_cast<int>(std::lround(m_page.width() * 25.4 / m_dpiX)));
    putI32(static_cast<int>(std::lround(m_page.height() * 25.4 / m_dpiY)));
    put32(0); // pixel format: none
    put32(0);
    put32(0); // not OpenGL
    putI32(static_cast<int>(std::lround(m_page.width() * 25400.0 / m_dpiX)));
    putI32(static_cast<int>(std::lround(m_page.height() * 25400.0 / m_dpiY)));
    std::memcpy(body.data(), m_data.constData(), emf::HeaderSize);
    m_data.clear();
    return body;
}

} // namespace zeplo
