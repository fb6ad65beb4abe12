#pragma once

#include <filesystem>
#include <memory>

#include "CatalogueStore.h"

namespace zeplo::tool {

// A catalogue file; a new one is made with its folder.
std::unique_ptr<CatalogueStore> makeSqliteStore(const std::filesystem::path &file);

} // namespace zeplo::tool
