#pragma once

#include <filesystem>
#include <memory>

#include "CatalogueStore.h"

namespace zeplo::tool {

// The catalogue file zeplo.db in a folder.
std::unique_ptr<CatalogueStore> makeSqliteStore(const std::filesystem::path &dir);

} // namespace zeplo::tool
