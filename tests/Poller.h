#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Runs `step` every few milliseconds until it returns true; for acting while
// a blocking call (the preview's own loop) runs.
class Poller : public QObject {
public:
    explicit Poller(std::function<bool()> step, int interval = 0) : step_(std::move(step))
    {
        connect(&timer_, &QTimer::timeout, this, [this] {
            // A step may run a loop of its own (a dialog, a wait for a print
            // job); the timer firing in there does not start the step again.
            if (done_ || inStep_)
                return;
            inStep_ = true;
            done_ = step_();
            inStep_ = false;
        });
        timer_.start(interval);
    }
    bool done() const { return done_; }

private:
    std::function<bool()> step_;
    QTimer timer_;
    bool done_ = false;
    bool inStep_ = false;
};
