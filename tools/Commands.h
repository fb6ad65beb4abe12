#pragma once

#include <cstdint>
#include <filesystem>

#include "CatalogueStore.h"

namespace zeplo::tool {

// The tool's commands, each written once over any catalogue.

// A new, empty catalogue; an existing one is left alone.
void createCatalogue(CatalogueStore &target);

// Adds the books of a CSV file (the catalogue is made first when missing), all or
// none. Returns the number of books added.
std::size_t importBooks(CatalogueStore &target, const std::filesystem::path &csvFile);

// A new catalogue of `count` made-up books.
void makeDemoCatalogue(CatalogueStore &target, std::uint64_t count, std::uint64_t seed);

// Writes every book to a new CSV file that importBooks reads back as the same
// books. Returns the number of books written.
std::uint64_t exportBooks(CatalogueStore &source, const std::filesystem::path &csvFile);

// Copies every book, ids and values as they are, into a new or empty catalogue,
// all or none. Returns the number of books copied.
std::uint64_t copyBooks(CatalogueStore &source, CatalogueStore &target);

} // namespace zeplo::tool
