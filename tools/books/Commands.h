#pragma once

#include <cstdint>
#include <filesystem>

#include "Progress.h"
#include "files/BookFile.h"
#include "stores/CatalogueStore.h"

namespace zeplo::tool {

// The commands of the catalogue tool and the transfer window, each written once
// over any catalogue. Long ones report to `progress`, which may cancel them;
// a cancelled or failed command leaves every catalogue and file as it was.

// A new, empty catalogue; an existing one is left alone.
void createCatalogue(CatalogueStore &target);

// Adds the books of a file (the catalogue is made first when missing), all or
// none: the whole file is checked before the catalogue is touched, and the
// books go in in one transaction. Returns the number of books added.
std::uint64_t importBooks(CatalogueStore &target, BookFile &file, Progress &progress = noProgress());

// A new catalogue of `count` made-up books.
void makeDemoCatalogue(CatalogueStore &target, std::uint64_t count, std::uint64_t seed);

// Writes every book to a new file (by its name an .ods or .xlsx workbook, else
// CSV, for spreadsheet programs when asked) that importBooks reads back as the
// same books. Returns the number of books written.
std::uint64_t exportBooks(CatalogueStore &source, const std::filesystem::path &file, bool forSpreadsheet,
                          Progress &progress = noProgress());

// Copies every book, ids and values as they are, into a new or empty catalogue,
// all or none. Returns the number of books copied.
std::uint64_t copyBooks(CatalogueStore &source, CatalogueStore &target, Progress &progress = noProgress());

// Gives an existing catalogue what this version of the program uses and it
// lacks (on a server, the triggers that tell the programs showing it of
// changed books), touching no book; true when something was added.
bool upgradeCatalogue(CatalogueStore &target);

} // namespace zeplo::tool
