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

// How a window gives the places of its controls: in pixels as drawn (the main
// window), or in 96-dpi pixels scaled as above (the small fixed windows).
enum class Placement { AsDrawn, Scaled };

// Gives a control its parent, its control name as object name, and its
// position and size in the parent.
void placeControl(QWidget *control, QWidget *parent, const char *name, const QRect &at, Placement placement);
template <class W>
W *place(W *control, QWidget *parent, const char *name, int left, int top, int width, int height,
         Placement placement = Placement::Scaled)
{
    placeControl(control, parent, name, QRect(left, top, width, height), placement);
    return control;
}

// Gives a window the fixed client size width x height (96-dpi pixels,
// scaled) and centres it on its screen.
void fixScaledClientSize(QWidget *window, int width, int height);
void centreOnScreen(QWidget *window);

} // namespace zeplo
