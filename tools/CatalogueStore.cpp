#include "CatalogueStore.h"

#include "PgStore.h"
#include "engine/ServerUri.h"
#include "SqliteStore.h"

namespace zeplo::tool {

std::unique_ptr<CatalogueStore> openCatalogue(const std::string &where)
{
    if (isServerUri(where))
        return makePgStore(where);
    return makeSqliteStore(where);
}

} // namespace zeplo::tool
