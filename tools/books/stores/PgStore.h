#pragma once

#include <memory>
#include <string>

#include "CatalogueStore.h"

namespace zeplo::tool {

// Table zeplo in the database a libpq connection URI names; a password given
// apart goes to the connection only.
std::unique_ptr<CatalogueStore> makePgStore(const std::string &uri, const std::string &password = {});

} // namespace zeplo::tool
