#include "CatalogueStore.h"

#include "PgStore.h"
#include "engine/ServerUri.h"
#include "SqliteStore.h"

namespace zeplo::tool {

void failOn(const std::string &where, const EngineError &e, const std::string &what)
{
    const QString text = e.message();
    if (text.startsWith(Engine::lockedMessage()))
        fail(where + ": " + Engine::lockedMessage().toStdString());
    const std::string message = where + ": " + (what.empty() ? std::string() : what + ": ") + text.toStdString();
    // Its text is the engine's sentence, then the client library's words.
    if (const auto *lost = dynamic_cast<const PgSessionLost *>(&e))
        throw ServerFailed(message, where, lost->problem, text.section(QLatin1Char('\n'), 1));
    fail(message);
}

std::unique_ptr<CatalogueStore> openCatalogue(const std::string &where)
{
    if (isServerUri(where))
        return makePgStore(where);
    return makeSqliteStore(std::filesystem::path(where) / "zeplo.db");
}

std::unique_ptr<CatalogueStore> openProgramCatalogue(const std::string &where, const std::string &password)
{
    if (isServerUri(where))
        return makePgStore(where, password);
    std::error_code ec;
    if (std::filesystem::is_directory(where, ec))
        return makeSqliteStore(std::filesystem::path(where) / "zeplo.db");
    return makeSqliteStore(where);
}

} // namespace zeplo::tool
