#include "widgets/QueuedWork.h"

#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

namespace zeplo {

namespace {

const QEvent::Type kWork = QEvent::Type(QEvent::registerEventType());

struct Work {
    QPointer<QObject> context;
    std::function<void()> run;
};

class WorkEvent : public QEvent {
public:
    explicit WorkEvent(Work work) : QEvent(kWork), work(std::move(work)) {}
    Work work;
};

int holds = 0;
std::vector<Work> held;

// Receives the work posted, in the thread of the interface.
class WorkQueue : public QObject {
public:
    bool event(QEvent *e) override
    {
        if (e->type() != kWork)
            return QObject::event(e);
        Work &work = static_cast<WorkEvent *>(e)->work;
        if (holds > 0)
            held.push_back(std::move(work));
        else if (work.context)
            work.run();
        return true;
    }
};

WorkQueue &queue()
{
    static WorkQueue *q = new WorkQueue;   // lives as long as the process
    return *q;
}

} // namespace

bool isQueuedWork(const QEvent *event)
{
    return event->type() == kWork;
}

void postWork(QObject *context, std::function<void()> work)
{
    QCoreApplication::postEvent(&queue(), new WorkEvent({context, std::move(work)}));
}

WorkHold::WorkHold()
{
    ++holds;
}

WorkHold::~WorkHold()
{
    if (--holds > 0)
        return;
    std::vector<Work> later;
    later.swap(held);
    for (Work &work : later)
        QCoreApplication::postEvent(&queue(), new WorkEvent(std::move(work)));
}

} // namespace zeplo
