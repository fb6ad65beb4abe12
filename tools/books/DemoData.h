#pragma once

#include <cstdint>

#include "stores/CatalogueStore.h"

namespace zeplo::tool {

// Gives `count` made-up but realistic Czech books, without ids. The same seed
// always gives the same books.
void makeDemoBooks(BookSink &sink, std::uint64_t count, std::uint64_t seed);

} // namespace zeplo::tool
