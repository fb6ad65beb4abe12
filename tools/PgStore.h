#pragma once

#include <memory>
#include <string>

#include "CatalogueStore.h"

namespace zeplo::tool {

// Table zeplo in the database a libpq connection URI names.
std::unique_ptr<CatalogueStore> makePgStore(const std::string &uri);

} // namespace zeplo::tool
