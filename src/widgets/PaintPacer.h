#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace zeplo {

// Keeps a data control that follows a fast walk through the rows (the report
// moves the current row thousands of times a second, handing control to the
// message loop before each one) from painting more often than the screen
// shows frames. The first change in a frame paints as usual; further changes
// within that frame hold the control's painting back until the frame ends,
// when it paints once. What the control holds is always current; only its
// painting waits. A user's moves, far slower than a frame, are never held.
class PaintPacer : public QObject {
public:
    static constexpr int kFrameMs = 16;

    // `frameMs` is the screen's frame; a test watching the pacing may lengthen it.
    explicit PaintPacer(QWidget *widget, int frameMs = kFrameMs);
    // Call before the control changes what it shows.
    void beforeChange();
    bool holding() const { return holding_; }

private:
    void release();

    QPointer<QWidget> widget_;
    QElapsedTimer lastChange_;
    QTimer timer_;
    int frameMs_;
    bool holding_ = false;
};

} // namespace zeplo
