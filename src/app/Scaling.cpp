#include "app/Scaling.h"

#include <cmath>

#include <QScreen>
#include <QWidget>

namespace zeplo {

namespace {

constexpr int kDesignDpi = 96;

int dpiOf(const QWidget *widget)
{
    return widget ? widget->logicalDpiY() : kDesignDpi;
}

} // namespace

int scaledForDpi(int px, int dpi)
{
    if (dpi <= 0 || dpi == kDesignDpi)
        return px;
    return static_cast<int>(std::lround(static_cast<double>(px) * dpi / kDesignDpi));
}

int scaled(int px, const QWidget *widget)
{
    return scaledForDpi(px, dpiOf(widget));
}

QRect scaled(const QRect &rect, const QWidget *widget)
{
    return QRect(scaled(rect.left(), widget), scaled(rect.top(), widget),
                 scaled(rect.width(), widget), scaled(rect.height(), widget));
}

void placeControl(QWidget *control, QWidget *parent, const char *name, const QRect &at, Placement placement)
{
    control->setParent(parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(placement == Placement::Scaled ? scaled(at, control) : at);
}

void fixScaledClientSize(QWidget *window, int width, int height)
{
    window->setFixedSize(scaled(width, window), scaled(height, window));
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    // The frame is not known before the window is shown; centring the client
    // area is within a few pixels of centring the whole window.
    const QRect area = screen->geometry();
    const QSize size = window->size();
    window->move(area.left() + (area.width() - size.width()) / 2,
                 area.top() + (area.height() - size.height()) / 2);
}

} // namespace zeplo
