#include "BackgroundWork.h"

#include <QThread>

#include "engine/WaitObserver.h"

namespace zeplo::transfer {

class BackgroundWork::Reporter : public tool::Progress {
public:
    explicit Reporter(BackgroundWork &work) : work_(work) {}
    void advance(tool::Stage stage, std::uint64_t done, std::uint64_t total) override
    {
        emit work_.progressed(static_cast<int>(stage), done, total);
        if (work_.cancelled_)
            throw tool::Cancelled();
    }

private:
    BackgroundWork &work_;
};

BackgroundWork::BackgroundWork(QObject *parent) : QObject(parent) {}

BackgroundWork::~BackgroundWork()
{
    // Nobody is told any more: the window that listens is going.
    cancel();
    if (thread_) {
        thread_->wait();
        delete thread_;
    }
}

void BackgroundWork::start(Job job)
{
    Q_ASSERT(!running());
    cancelled_ = false;
    thread_ = QThread::create([this, job = std::move(job)] {
        Reporter reporter(*this);
        // A statement the server runs long (an index over a million books)
        // hears of a cancel too: the server is asked to stop it.
        setStopRequest([this] { return cancelled_.load(); });
        try {
            text_ = job(reporter);
            ok_ = true;
        } catch (const tool::Cancelled &) {
            ok_ = false;
            wasCancelled_ = true;
        } catch (const std::exception &e) {
            // After a cancel, the failure is the server's stopping, or the
            // rollback's: the work was cancelled all the same.
            ok_ = false;
            wasCancelled_ = cancelled_;
            text_ = wasCancelled_ ? QString() : QString::fromUtf8(e.what());
        }
        setStopRequest({});
    });
    ok_ = wasCancelled_ = false;
    text_.clear();
    connect(thread_, &QThread::finished, this, &BackgroundWork::ended);
    thread_->start();
}

void BackgroundWork::wait()
{
    if (thread_) {
        thread_->wait();
        ended();
    }
}

void BackgroundWork::ended()
{
    if (!thread_)
        return;
    thread_->deleteLater();
    thread_ = nullptr;
    emit finished(ok_, wasCancelled_, text_);
}

} // namespace zeplo::transfer
