#pragma once

#include <cstdint>
#include <filesystem>

namespace zeplo::tool {

// Makes a new catalogue in `dir` (it must not exist yet) holding `count` made-up
// but realistic Czech books. The same seed always gives the same books.
void makeDemoCatalogue(const std::filesystem::path &dir, std::uint64_t count, std::uint64_t seed);

} // namespace zeplo::tool
