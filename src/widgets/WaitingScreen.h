#pragma once

#include <optional>
#include <vector>

#include <QObject>
#include <QPointer>

#include "engine/WaitObserver.h"
#include "widgets/QueuedWork.h"

namespace zeplo {

// What the screen does while a command waits for the catalogue server: after
// a moment the wait cursor; after half a second the windows are painted
// again as they need (uncovered, resized), so that none looks dead, while
// everything else waits for the answer: input and closing are refused, and
// timers, queued work, deletions, activations and focus changes keep until the
// command has returned. Nothing of the program runs meanwhile, so nothing can
// start another command or touch the list the command is working on; what a
// paint or a resize would start is deferred the same way (deferredWhileWaiting).
class WaitingScreen final : public QObject, public WaitObserver {
public:
    // For the rest of the run.
    static void install();

    void stillWaiting(int elapsedMs) override;
    void doneWaiting() override;

    static constexpr int kCursorAfterMs = 100;
    static constexpr int kPaintAfterMs = 500;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Kept {
        QPointer<QObject> receiver;
        int type;
        int reason;   // of a focus change
    };
    bool cursor_ = false;
    std::optional<WorkHold> hold_;   // while the windows are painted
    std::vector<QPointer<QObject>> deletions_;
    std::vector<Kept> kept_;         // activations and focus changes, in order
};

// Whether `work` was kept for the end of the command that waits now (run at
// once when none waits): work that would read rows or show a box.
bool deferredWhileWaiting(QObject *context, const std::function<void()> &work);

} // namespace zeplo
