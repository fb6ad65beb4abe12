#pragma once

#include <filesystem>
#include <memory>

#include "books/Books.h"

namespace zeplo::tool {

// A new file of books, written aside and put in place only by commit(): a
// writer destroyed before that leaves no file. An existing file is refused, as
// it may be the very file the books came from.
class BookWriter {
public:
    virtual ~BookWriter() = default;
    virtual void add(const Book &book) = 0;
    virtual void commit() = 0;
};

// A header row naming the columns of kColumns, then one row per book, read
// back by BookFile as the same books: by the file name's ending an .ods or
// .xlsx workbook (texts as text cells, years and logical values (1/0) as
// numbers, no value as an empty cell), otherwise CSV: UTF-8 and commas, or
// for spreadsheet programs, which then open it directly, UTF-8 with a
// byte-order mark and semicolons.
std::unique_ptr<BookWriter> createBookFile(const std::filesystem::path &file, bool forSpreadsheet);

std::unique_ptr<BookWriter> createCsvFile(const std::filesystem::path &file, bool forSpreadsheet);
std::unique_ptr<BookWriter> createOdsFile(const std::filesystem::path &file);
std::unique_ptr<BookWriter> createXlsxFile(const std::filesystem::path &file);

// Fails unless `file` is free for a new file.
void requireNewFile(const std::filesystem::path &file);

} // namespace zeplo::tool
