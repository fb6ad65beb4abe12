#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTextLayout>
#include <QVector>

#include <cmath>

namespace zeplo {

struct ReportFont {
    QString family;
    int pointSize = 10;
    bool bold = false;
    QColor color = Qt::black;
};

// The one surface the report is laid out on: a page picture or a printer page.
// All coordinates are device pixels.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual int dpiX() const = 0; // device pixels per inch
    virtual int dpiY() const = 0;
    virtual void setFont(const ReportFont &font) = 0;
    virtual int textWidth(const QString &text) const = 0; // device pixels, current font
    virtual int lineHeight() const = 0; // height of a one-letter text in the current font
    virtual void fillRect(const QRect &r, const QColor &c) = 0; // solid, no outline
    // Transparent background, top-left aligned, never clipped.
    virtual void drawText(const QPoint &topLeft, const QString &text) = 0;
    virtual void drawLine(const QPoint &from, const QPoint &to) = 0; // black pen, 1 device pixel
};

// Both canvases measure text through these functions, so that a page picture and
// a page printed directly at the same resolution lay out identically.
inline int fontPixelSize(int pointSize, int dpiY)
{
    const int px = static_cast<int>(std::lround(double(pointSize) * dpiY / 72.0));
    return px < 1 ? 1 : px;
}

inline QFont canvasFont(const ReportFont &font, int dpiY)
{
    QFont f(font.family);
    f.setPixelSize(fontPixelSize(font.pointSize, dpiY));
    f.setBold(font.bold);
    f.setItalic(false);
    f.setUnderline(false);
    f.setStrikeOut(false);
    return f;
}

inline int canvasTextWidth(const QFont &font, const QString &text)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

inline int canvasLineHeight(const QFont &font)
{
    return QFontMetrics(font).height();
}

// Advance of every UTF-16 unit of `text`, in whole pixels, summing to
// canvasTextWidth(). Kerning goes to the first unit of each pair; the second
// half of a surrogate pair gets 0.
inline QVector<int> canvasAdvances(const QFont &font, const QString &text)
{
    QVector<int> dx(text.size(), 0);
    if (text.isEmpty())
        return dx;
    QTextLayout layout(text, font);
    layout.setCacheEnabled(false);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    int previous = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype next = i + 1;
        if (text.at(i).isHighSurrogate() && next < text.size() && text.at(next).isLowSurrogate())
            ++next;
        int x = previous;
        if (line.isValid())
            x = static_cast<int>(std::lround(line.cursorToX(int(next))));
        dx[i] = x - previous;
        previous = x;
        i = next - 1;
    }
    // Make the advances add up to the measured width, whatever rounding did.
    int sum = 0;
    for (int v : dx)
        sum += v;
    dx[dx.size() - 1] += canvasTextWidth(font, text) - sum;
    return dx;
}

} // namespace zeplo
