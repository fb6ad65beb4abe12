#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include <QObject>
#include <QString>

#include "books/Progress.h"

class QThread;

namespace zeplo::transfer {

// Runs one long command of the books library off the interface thread. Its
// progress arrives as signals on the interface thread; cancel() makes the
// command's next report throw, so that it leaves everything as it was.
class BackgroundWork : public QObject {
    Q_OBJECT
public:
    // The work returns the sentence that tells the user what it did.
    using Job = std::function<QString(tool::Progress &)>;

    explicit BackgroundWork(QObject *parent = nullptr);
    ~BackgroundWork() override; // cancels and waits for work still running

    bool running() const { return thread_ != nullptr; }
    void start(Job job);
    void cancel() { cancelled_ = true; }
    // Blocks until the work has ended (after cancel(), until it has rolled back).
    void wait();

signals:
    // From the work's thread; `stage` is a tool::Stage.
    void progressed(int stage, qulonglong done, qulonglong total);
    // On the interface thread, once the work has ended: what it did, or why it failed.
    void finished(bool ok, bool cancelled, const QString &text);

private:
    class Reporter;
    void ended();

    QThread *thread_ = nullptr;
    std::atomic<bool> cancelled_{false};
    bool ok_ = false;
    bool wasCancelled_ = false;
    QString text_;
};

} // namespace zeplo::transfer
