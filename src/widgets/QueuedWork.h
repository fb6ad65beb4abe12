#pragma once

#include <functional>

class QEvent;
class QObject;

namespace zeplo {

// Work of the program's own for the message loop to run once the present
// command has returned; dropped when `context` is gone by then. The one way
// the program queues its own work, so that such work can be held back while a
// command waits for the server (WaitingScreen).
void postWork(QObject *context, std::function<void()> work);

// Whether `event` carries work posted by postWork(): for tests that look
// before each piece of queued work runs.
bool isQueuedWork(const QEvent *event);

// While a hold lives, queued work is kept back, in order, and posted again
// when the last hold ends.
class WorkHold {
public:
    WorkHold();
    ~WorkHold();
    WorkHold(const WorkHold &) = delete;
    WorkHold &operator=(const WorkHold &) = delete;
};

} // namespace zeplo
