#include "app/FreshRows.h"

#include "engine/ResultSet.h"
#include "engine/WaitObserver.h"
#include "widgets/QueuedWork.h"

namespace zeplo {

FreshRows::FreshRows(DataSource *source, std::function<bool()> mayRead, QObject *parent)
    : QObject(parent), mayRead_(std::move(mayRead))
{
    setObjectName(QStringLiteral("FreshRows"));
    pace_.setSingleShot(true);
    connect(&pace_, &QTimer::timeout, this, &FreshRows::readWhenAllowed);
    setDataSource(source);
}

FreshRows::~FreshRows() = default;

void FreshRows::setWatch(std::unique_ptr<ChangeWatch> watch)
{
    watch_ = std::move(watch);
    if (watch_)
        connect(watch_.get(), &ChangeWatch::changed, this, &FreshRows::heard);
}

void FreshRows::setLooking(bool looking)
{
    if (watch_)
        watch_->setLooking(looking);
}

void FreshRows::dataEvent(DataEvent event, Field *)
{
    // Told from inside a command: what follows runs after it.
    switch (event) {
    case DataEvent::ActiveChanged:
        // Opened or closed by a list command: whatever was to be read again
        // has been read with the new list. The command reached the catalogue,
        // so a watch that lost its way to it may take it up again.
        pending_ = false;
        postWork(this, [this] {
            if (watch_)
                watch_->resume();
        });
        break;
    case DataEvent::StateChanged:
        postWork(this, [this] {
            if (watch_)
                watch_->resume();
            readWhenAllowed();
        });
        break;
    default:
        break;
    }
}

void FreshRows::heard(const OutsideChange &news)
{
    if (CommandWait::active()) {
        postWork(this, [this, news] { heard(news); });
        return;
    }
    ResultSet *set = dataSet();
    if (!set || !set->active() || !set->changedElsewhere(news.keys, news.many))
        return;
    pending_ = true;
    readWhenAllowed();
}

void FreshRows::readWhenAllowed()
{
    if (!pending_)
        return;
    ResultSet *set = dataSet();
    if (!set || !set->active()) {
        pending_ = false;
        return;
    }
    if (set->editing())
        return;   // the end of the edit brings it back here
    // Held back, it tries again a second later; read lately, once a second has passed.
    const qint64 since = lastRead_.isValid() ? lastRead_.elapsed() : kLeastApartMs;
    const bool held = CommandWait::active() || !mayRead_();
    if (held || since < kLeastApartMs) {
        if (!pace_.isActive())
            pace_.start(held ? kLeastApartMs : int(kLeastApartMs - since));
        return;
    }
    pending_ = false;
    lastRead_.start();
    try {
        if (set->rereadWindow())
            ++rereads_;
    } catch (...) {
        // Nothing to tell and nothing changed: the next command reads as usual.
    }
}

} // namespace zeplo
