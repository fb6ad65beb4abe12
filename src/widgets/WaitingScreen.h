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
// timers, queued work and deletions keep until the command has returned.
// Nothing of the program runs meanwhile, so nothing can start another
// command or touch the list the command is working on.
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
    bool cursor_ = false;
    std::optional<WorkHold> hold_;   // while the windows are painted
    std::vector<QPointer<QObject>> deletions_;
};

} // namespace zeplo
