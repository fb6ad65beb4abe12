#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "Books.h"

namespace zeplo::tool {

// The books of a CSV file, each with the line on which it starts. A column the
// file does not name is null in every book.
struct CsvBooks {
    std::vector<Book> books;
    std::vector<int> lines;
};

// Reads and checks a whole CSV file; a bad line fails with its number.
CsvBooks readCsvBooks(const std::filesystem::path &file);

// The first line of an exported file, and one book as a line of it (with its line
// end), in the form readCsvBooks reads back as the same book.
std::string csvHeader();
void appendCsvBook(std::string &out, const Book &book);

} // namespace zeplo::tool
