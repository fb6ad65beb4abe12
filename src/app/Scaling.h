#pragma once

#include <QRect>

class QWidget;

namespace zeplo {

// The small fixed windows were drawn for 96 pixels per inch and follow the
// screen's font size: every position and size is multiplied by the ratio of
// the screen's logical resolution to 96, rounded to the nearest pixel.
int scaled(int px, const QWidget *widget);
int scaledForDpi(int px, int dpi);
QRect scaled(const QRect &rect, const QWidget *widget);

// Puts `child` at the given 96-dpi position and size, scaled.
void placeScaled(QWidget *child, int left, int top, int width, int height);

// Gives a window the fixed client size width x height (96-dpi pixels,
// scaled) and centres it on its screen.
void fixScaledClientSize(QWidget *window, int width, int height);
void centreOnScreen(QWidget *window);

} // namespace zeplo
