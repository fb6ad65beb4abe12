#pragma once

#include <functional>

namespace zeplo {

// Told while a command waits for an answer from outside the process (the
// catalogue server), so that the interface can show the wait cursor and keep
// its windows painted. The engine calls it on the interface thread, between
// two looks at the network, and never while anything else of the engine runs.
class WaitObserver {
public:
    virtual ~WaitObserver() = default;
    // The answer has not come for `elapsedMs`; called every few milliseconds.
    virtual void stillWaiting(int elapsedMs) = 0;
    // The wait that stillWaiting() was called for is over, however it ended.
    virtual void doneWaiting() = 0;
};

// The observer of every wait; null (the start) for none. Not owned.
void setWaitObserver(WaitObserver *observer);
WaitObserver *waitObserver();

// Whether the work of this thread was asked to stop: a command waiting for
// the server asks between two looks at the network and, told yes, has the
// server stop it, so that it fails with the server's message. Work off the
// interface thread (a transfer) sets it for its own thread; none by default.
void setStopRequest(std::function<bool()> stopRequested);
bool stopRequested();

// One command's wait for the server, from sending to the last answer. While
// it lives no other may start: a second one raises EngineError rather than mix
// two commands' messages on one connection. tick() tells the observer how long
// the answer has been awaited.
class CommandWait {
public:
    CommandWait();
    ~CommandWait();
    CommandWait(const CommandWait &) = delete;
    CommandWait &operator=(const CommandWait &) = delete;
    void tick();
    int elapsedMs() const;

    // Whether a command is waiting now.
    static bool active();

    // While it lives, one wait may run inside the present one: a look, on a
    // session of its own, at how the server fares with the command waited for.
    class Look {
    public:
        Look();
        ~Look();
        Look(const Look &) = delete;
        Look &operator=(const Look &) = delete;

    private:
        bool was_;
    };

private:
    long long started_;
    bool told_ = false;
};

} // namespace zeplo
