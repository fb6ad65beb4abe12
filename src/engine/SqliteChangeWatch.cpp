#include "engine/SqliteChangeWatch.h"

#include <sqlite3.h>

#include "engine/SqliteEngine.h"

namespace zeplo {

std::unique_ptr<ChangeWatch> SqliteEngine::watchChanges()
{
    return std::make_unique<SqliteChangeWatch>(shared_from_this());
}

SqliteChangeWatch::SqliteChangeWatch(const std::shared_ptr<SqliteEngine> &engine) : engine_(engine)
{
    timer_.setInterval(kEveryMs);
    connect(&timer_, &QTimer::timeout, this, &SqliteChangeWatch::look);
    try {
        version_ = engine->othersDataVersion(true);
    } catch (const EngineError &) {
        // The first look that works sets where the watch starts from.
    }
}

void SqliteChangeWatch::setLooking(bool looking)
{
    if (looking == timer_.isActive())
        return;
    if (!looking) {
        timer_.stop();
        return;
    }
    // Back in front: what another program did meanwhile shows at once.
    timer_.start();
    look();
}

void SqliteChangeWatch::look()
{
    const std::shared_ptr<SqliteEngine> engine = engine_.lock();
    if (!engine)
        return;
    ++looks_;
    // Not a command of the user's: a writer's lock is not waited for.
    sqlite3_busy_timeout(engine->db(), 0);
    qint64 version = -1;
    try {
        version = engine->othersDataVersion(true);
    } catch (const EngineError &) {
    }
    sqlite3_busy_timeout(engine->db(), Engine::lockWaitMs());
    if (version < 0)
        return;
    const bool news = version_ >= 0 && version != version_;
    version_ = version;
    if (news)
        emit changed(OutsideChange{{}, true});
}

} // namespace zeplo
