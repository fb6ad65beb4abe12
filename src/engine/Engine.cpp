#include "engine/Engine.h"

#include <map>
#include <mutex>

#include <QDir>

#include "engine/SqliteEngine.h"

namespace zeplo {

std::shared_ptr<Engine> Engine::openDefault()
{
    static std::mutex mutex;
    static std::map<QString, std::weak_ptr<Engine>> open;
    const QString path = QDir::current().absoluteFilePath(SqliteEngine::defaultFileName());
    std::lock_guard lock(mutex);
    if (auto existing = open[path].lock())
        return existing;
    std::shared_ptr<Engine> engine = std::make_shared<SqliteEngine>(path);
    open[path] = engine;
    return engine;
}

} // namespace zeplo
