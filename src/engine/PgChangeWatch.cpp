#include "engine/PgChangeWatch.h"

#include "engine/CatalogueSchema.h"
#include "engine/PgEngine.h"
#include "engine/WaitObserver.h"

namespace zeplo {

std::unique_ptr<ChangeWatch> PgEngine::watchChanges()
{
    return std::make_unique<PgChangeWatch>(shared_from_this(), uri_);
}

PgChangeWatch::PgChangeWatch(const std::shared_ptr<PgEngine> &engine, const QString &uri) : engine_(engine), uri_(uri)
{
    listen();
}

PgChangeWatch::~PgChangeWatch()
{
    stop();
}

bool PgChangeWatch::listen()
{
    if (CommandWait::active())
        return false;   // another command's answer is awaited; the next resume() tries
    try {
        session_ = std::make_unique<PgConnection>(uri_, PgSessionSettings{"zeplo listening", true, {}});
        // Whether the catalogue sends notices, asked in the trip that listens.
        const std::vector<PgResult> results =
            session_->run({PgCommand(QStringLiteral("LISTEN %1").arg(QLatin1String(schema::kChangesChannel))),
                           PgCommand(schema::changeNoticeTriggersPresent())},
                          PgRepeat::IfLost);
        if (PgRowView::count(results[1]) == 0) {
            // Nothing will come: a catalogue without the triggers is read as it always was.
            session_.reset();
            lost_ = false;
            return false;
        }
    } catch (const EngineError &) {
        // Heard of nothing, the program works as it would without the notices.
        session_.reset();
        lost_ = true;
        return false;
    }
    notifier_ = new QSocketNotifier(qintptr(session_->socket()), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PgChangeWatch::readNotices);
    lost_ = false;
    // Notices that came with the answers wait in the session already.
    readNotices();
    return true;
}

void PgChangeWatch::stop()
{
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();   // it may be the one whose signal is being delivered
        notifier_ = nullptr;
    }
    session_.reset();
}

void PgChangeWatch::resume()
{
    if (lost_ && !notifier_ && listen())
        emit changed(OutsideChange{{}, true});
}

void PgChangeWatch::readNotices()
{
    if (!session_)
        return;
    std::vector<PgNotice> notices;
    try {
        notices = session_->notices();
    } catch (const EngineError &) {
        stop();
        lost_ = true;
        return;
    }
    const std::shared_ptr<PgEngine> engine = engine_.lock();
    const int own = engine ? engine->connection().backendPid() : 0;
    OutsideChange news;
    for (const PgNotice &notice : notices) {
        if (notice.channel != QLatin1String(schema::kChangesChannel))
            continue;
        ++looks_;
        if (notice.senderPid != own)
            news.add(OutsideChange::fromNotice(notice.payload));
    }
    if (!news.empty())
        emit changed(news);
}

} // namespace zeplo
