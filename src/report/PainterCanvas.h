#pragma once

#include <QFont>

#include "report/Canvas.h"

class QPainter;

namespace zeplo {

// Draws straight onto a painter's device: a printer page when printing
// directly, an image in tests. The painter must be active for the canvas's life.
class PainterCanvas : public Canvas {
public:
    // Resolution taken from the painter's device.
    explicit PainterCanvas(QPainter &painter);
    PainterCanvas(QPainter &painter, int dpiX, int dpiY);

    int dpiX() const override { return dpiX_; }
    int dpiY() const override { return dpiY_; }
    void setFont(const ReportFont &font) override;
    int textWidth(const QString &text) const override;
    int lineHeight() const override;
    void fillRect(const QRect &r, const QColor &c) override;
    void drawText(const QPoint &topLeft, const QString &text) override;
    void drawLine(const QPoint &from, const QPoint &to) override;

private:
    QPainter &painter_;
    int dpiX_;
    int dpiY_;
    ReportFont font_;
    QFont qfont_;
};

} // namespace zeplo
