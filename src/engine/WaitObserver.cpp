#include "engine/WaitObserver.h"

#include <QElapsedTimer>

#include "engine/Engine.h"

namespace zeplo {

namespace {

WaitObserver *current = nullptr;
bool waiting = false;

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

CommandWait::CommandWait() : started_(now())
{
    if (waiting)
        throw EngineError(QStringLiteral("The catalogue server has not yet answered the previous command"));
    waiting = true;
}

CommandWait::~CommandWait()
{
    waiting = false;
    if (told_ && current)
        current->doneWaiting();
}

int CommandWait::elapsedMs() const
{
    return int(now() - started_);
}

void CommandWait::tick()
{
    const int elapsed = elapsedMs();
    if (elapsed < kQuietMs || !current)
        return;
    told_ = true;
    current->stillWaiting(elapsed);
}

bool CommandWait::active()
{
    return waiting;
}

} // namespace zeplo
