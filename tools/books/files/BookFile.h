#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "books/Books.h"
#include "SheetRows.h"
#include "books/Progress.h"

namespace zeplo::tool {

class RowReader;

enum class FileFormat { Csv, Ods, Xlsx };

// By the name's ending (.ods, .xlsx, in any case); any other name is CSV.
FileFormat fileFormatOf(const std::filesystem::path &file);

struct ReadOptions {
    std::string encoding;       // of a CSV file; empty: found from the file
    char separator = 0;         // of a CSV file; 0: found from its header
    bool ignoreUnknown = false; // columns of no known name are left out rather than refused
};

// A column of the file: its name in the header, and the catalogue column (its
// index in kColumns) its values go to, or -1 when they are not used.
struct FileColumn {
    std::string name;
    int target = -1;
};

// A value of the preview: as it will be stored, shown as the catalogue shows
// it ("True"/"False" for a logical value, nothing for no value), or why it
// would be refused.
struct PreviewCell {
    std::string text;
    bool refused = false;
};
struct PreviewRow {
    int line = 0;                                 // where the book starts in the file
    std::array<PreviewCell, kColumnCount> cells;  // by catalogue column
    std::string refusal;                          // why the whole row would be refused
};

// A file of books: a CSV file (UTF-8, UTF-16 or Windows-1250; commas,
// semicolons or tabs) or a workbook's first sheet (.ods, .xlsx), whose first
// row names the columns. Opening it reads the header and decides how to read
// the rest; the mapping of columns may then be changed before the books are read.
class BookFile {
public:
    BookFile(const std::filesystem::path &file, const ReadOptions &options);
    ~BookFile();
    BookFile(const BookFile &) = delete;
    BookFile &operator=(const BookFile &) = delete;

    const std::filesystem::path &path() const { return file_; }
    FileFormat format() const { return format_; }
    const std::string &encoding() const { return encoding_; } // CSV only
    char separator() const { return separator_; }              // CSV only
    const std::vector<FileColumn> &columns() const { return columns_; }
    // Sends a file column's values to a catalogue column, or (-1) nowhere.
    void setTarget(std::size_t column, int target);

    // What was decided, in one line: "read as Windows-1250, separated by
    // semicolons; columns Autor→autor, Název→nazev; ignored: Poznámka". Of many
    // ignored columns it names the first kNamedIgnored and says how many there are.
    std::string decisions() const;
    static constexpr std::size_t kNamedIgnored = 5;

    // The first rows after the header as they would be stored.
    std::vector<PreviewRow> preview(std::size_t rows);
    // Whether a file column goes to the id, so that a preview shows ids.
    bool hasIds() const;

    // The most bytes of a CSV file, and of its text in UTF-8: a file of books
    // many times larger than a catalogue holds, read whole.
    static constexpr std::uint64_t kLargestCsvFile = 64u << 20;

    // Reads every book and checks it, keeping none; a bad one fails with BadLine
    // naming the file and its line. Returns the number of books. Throws what
    // `progress` throws.
    std::uint64_t check(Progress &progress);
    // Gives every book with the line it starts on; after check().
    void read(const std::function<void(const Book &book, int line)> &each);

private:
    std::unique_ptr<RowReader> openRows();
    void open(const ReadOptions &options);
    void readHeader();
    void checkMapping() const;
    // Finds again which file columns go into the catalogue.
    void findUsed();
    // Why a row as a whole cannot be a book (its number of fields); empty when it can.
    std::string rowProblem(const SheetRow &row) const;
    // Why a cell of a file column is refused whatever the column (an error value); empty when not.
    std::string cellProblem(const Cell &cell, std::size_t column, int line) const;
    // A row as a book; fails with BadLine naming the place of a refused field.
    void convert(SheetRow &row, Book &book) const;
    [[noreturn]] void failAt(int line, const std::string &reason) const;
    // Runs a reading of the file; memory running out is said as the file being too large.
    template <class F>
    auto guarded(F &&read) -> decltype(read());
    std::string placeOf(int line) const;

    std::filesystem::path file_;
    FileFormat format_;
    std::string encoding_;
    char separator_ = ',';
    std::string text_; // a CSV file's text, in UTF-8
    std::vector<FileColumn> columns_;
    // The file columns that go into the catalogue, with their catalogue columns.
    std::vector<std::pair<std::size_t, std::size_t>> used_;
    int headerLine_ = 1;
    std::vector<bool> holdsMarks_; // per catalogue column, found by check()
    // The rows check() read from a workbook, kept for read() while they fit in
    // a bound, so that its XML is parsed once.
    std::vector<SheetRow> kept_;
    bool keptAll_ = false;
};

} // namespace zeplo::tool
