#include "engine/Engine.h"

#include <atomic>
#include <map>
#include <mutex>

#include <QDir>

#include "engine/ChangeWatch.h"
#include "engine/PgEngine.h"
#include "engine/SqliteEngine.h"

namespace zeplo {

namespace {

std::mutex mutex;
QString setting;
// The server's engine stays connected for the run, not only while a result
// is open: every list command closes and opens the list again.
std::shared_ptr<Engine> kept;

} // namespace

void Engine::setCatalogue(const QString &catalogue)
{
    std::lock_guard lock(mutex);
    if (catalogue != setting)
        kept.reset();
    setting = catalogue;
}

QString Engine::catalogue()
{
    std::lock_guard lock(mutex);
    return setting;
}

namespace {
std::atomic<int> lockWait{5000};
// Apart from the catalogue's: openDefault() makes the engine, which asks for
// the password, while it holds that one.
std::mutex passwordMutex;
QString password;
} // namespace

void Engine::setServerPassword(const QString &serverPassword)
{
    std::lock_guard lock(passwordMutex);
    password = serverPassword;
}

QString Engine::serverPassword()
{
    std::lock_guard lock(passwordMutex);
    return password;
}

int Engine::lockWaitMs()
{
    return lockWait;
}

void Engine::setLockWaitMs(int milliseconds)
{
    lockWait = milliseconds;
}

QString Engine::lockedMessage()
{
    return QStringLiteral("The catalogue is locked by another program and stayed locked for %1 seconds; "
                          "try again when it has finished")
        .arg(lockWaitMs() / 1000.0);
}

std::unique_ptr<ChangeWatch> Engine::watchChanges()
{
    return nullptr;
}

std::shared_ptr<Engine> Engine::openDefault()
{
    static std::map<QString, std::weak_ptr<Engine>> open;
    std::lock_guard lock(mutex);
    const bool server = PgEngine::isServerUri(setting);
    const QString key = server ? setting
                               : QDir::current().absoluteFilePath(setting.isEmpty() ? SqliteEngine::defaultFileName()
                                                                                    : setting);
    if (auto existing = open[key].lock())
        return existing;
    std::shared_ptr<Engine> engine;
    if (server)
        kept = engine = std::make_shared<PgEngine>(key);
    else
        engine = std::make_shared<SqliteEngine>(key);
    open[key] = engine;
    return engine;
}

} // namespace zeplo
