#include "engine/WaitObserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "engine/Engine.h"

namespace zeplo {

namespace {

WaitObserver *current = nullptr;
// Per thread: work on a thread of its own (a transfer) waits apart from the interface.
thread_local bool waiting = false;

thread_local std::function<bool()> stopRequest;

// A wait shorter than this is not worth a word to the interface.
constexpr int kQuietMs = 50;

long long now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}

} // namespace

void setWaitObserver(WaitObserver *observer)
{
    current = observer;
}

WaitObserver *waitObserver()
{
    return current;
}

void setStopRequest(std::function<bool()> stopRequested)
{
    stopRequest = std::move(stopRequested);
}

bool stopRequested()
{
    return stopRequest && stopRequest();
}

CommandWait::CommandWait() : started_(now())
{
    if (waiting)
        throw EngineError(QStringLiteral("The catalogue server has not yet answered the previous command"));
    waiting = true;
}

CommandWait::~CommandWait()
{
    waiting = false;
    if (told_)
        current->doneWaiting();
}

int CommandWait::elapsedMs() const
{
    return int(now() - started_);
}

void CommandWait::tick()
{
    const int elapsed = elapsedMs();
    // Only the interface's own thread may show its waits on the screen.
    if (elapsed < kQuietMs || !current || !QCoreApplication::instance()
        || QThread::currentThread() != QCoreApplication::instance()->thread())
        return;
    told_ = true;
    current->stillWaiting(elapsed);
}

bool CommandWait::active()
{
    return waiting;
}

CommandWait::Look::Look() : was_(waiting)
{
    waiting = false;
}

CommandWait::Look::~Look()
{
    waiting = was_;
}

} // namespace zeplo
