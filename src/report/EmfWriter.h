#pragma once

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QRect>
#include <QSize>

#include "report/Canvas.h"
#include "report/EmfFormat.h"

namespace zeplo {

// Records one page as an enhanced metafile whose reference device is the page
// itself at the given resolution. Fonts, pens and brushes are created once per
// picture and selected again when needed, which keeps pages small.
class EmfCanvas : public Canvas {
public:
    EmfCanvas(const QSize &pagePixels, int dpiX, int dpiY);
    EmfCanvas(const QSize &pagePixels, int dpi) : EmfCanvas(pagePixels, dpi, dpi) {}

    int dpiX() const override { return dpiX_; }
    int dpiY() const override { return dpiY_; }
    void setFont(const ReportFont &font) override;
    int textWidth(const QString &text) const override;
    int lineHeight() const override;
    void fillRect(const QRect &r, const QColor &c) override;
    void drawText(const QPoint &topLeft, const QString &text) override;
    void drawLine(const QPoint &from, const QPoint &to) override;

    // Ends the picture and returns it; the canvas accepts no drawing afterwards.
    QByteArray finish();

private:
    void beginRecord(quint32 type, quint32 size);
    void put32(quint32 v);
    void putI32(qint32 v) { put32(quint32(v)); }
    void put16(quint16 v);
    void putF32(float v);
    void putRect(const QRect &r);
    void simple(quint32 type, quint32 value);
    void select(quint32 handle);
    quint32 newHandle();
    void selectFont();
    void selectBrush(const QColor &c);
    void selectPen(quint32 which);
    void include(const QRect &r);
    void checkOpen() const;

    QSize page_;
    int dpiX_;
    int dpiY_;
    QByteArray data_;
    quint32 records_ = 0;
    quint32 handleCount_ = 1; // slot 0 is reserved by the format
    QVector<quint32> freeHandles_;
    bool finished_ = false;

    ReportFont font_;
    QFont qfont_;
    QString fontKey_;
    mutable int lineHeight_ = -1;
    struct Measured {
        int width = 0;
        QVector<int> advances;
    };
    const Measured &measure(const QString &text) const;
    bool haveFont_ = false;
    QHash<QString, quint32> fonts_; // font key -> handle
    QHash<quint32, quint32> brushes_; // colour -> handle
    quint32 linePen_ = 0;
    quint32 selFont_ = 0;
    quint32 selBrush_ = emf::StockObject | emf::WhiteBrush;
    quint32 selPen_ = emf::StockObject | emf::BlackPen;
    quint32 textColor_ = 0;
    QRect bounds_;
};

} // namespace zeplo
