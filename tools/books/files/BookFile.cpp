#include "BookFile.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <new>
#include <stdexcept>

#include "ColumnNames.h"
#include "Csv.h"
#include "FieldValues.h"
#include "TextDecoding.h"
#include "WorkbookRows.h"

namespace fs = std::filesystem;

namespace zeplo::tool {

namespace {

// The most memory the rows of a workbook are kept in between checking and
// reading them; a larger one is read twice. A CSV file's text is in memory
// already and is simply read again.
constexpr std::size_t kKeptRowsBytes = 96u * 1024 * 1024;

std::string lowerAscii(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string readWholeFile(const fs::path &file)
{
    const std::string cannotRead = say("cannot read ", "nelze přečíst ") + file.string();
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail(cannotRead);
    std::string data;
    std::error_code ec;
    if (const std::uintmax_t size = fs::file_size(file, ec); !ec && size <= BookFile::kLargestCsvFile)
        data.reserve(size);
    // Read in pieces rather than by the size the file system gives, which a
    // device or a growing file does not keep to.
    std::array<char, 1 << 16> piece;
    while (in.read(piece.data(), piece.size()) || in.gcount() > 0) {
        data.append(piece.data(), static_cast<std::size_t>(in.gcount()));
        if (data.size() > BookFile::kLargestCsvFile)
            fail(file.string() + say(": the file is larger than 64 MiB, more than a file of books holds",
                                     ": soubor je větší než 64 MiB, víc, než má soubor knih"));
    }
    if (in.bad())
        fail(cannotRead);
    return data;
}

std::string separatorName(char separator)
{
    switch (separator) {
    case ';': return say("semicolons", "středníky");
    case '\t': return say("tabs", "tabulátory");
    case ',': return say("commas", "čárkami");
    default: return std::string(1, separator);
    }
}

// How a preview shows a value: as the catalogue shows it.
std::string shown(std::size_t column, const Value &value)
{
    if (value.null)
        return {};
    const Kind kind = kColumns[column].kind;
    if (holdsText(kind))
        return value.text;
    if (kind == Kind::Logical)
        return value.number ? "True" : "False";
    return std::to_string(value.number);
}

// "B3": a sheet's column by letters, from A, and its row.
std::string cellName(std::size_t column, int line)
{
    std::string letters;
    for (std::size_t n = column + 1; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    return letters + std::to_string(line);
}

} // namespace

FileFormat fileFormatOf(const fs::path &file)
{
    const std::string extension = lowerAscii(file.extension().string());
    if (extension == ".ods")
        return FileFormat::Ods;
    if (extension == ".xlsx")
        return FileFormat::Xlsx;
    return FileFormat::Csv;
}

template <class F>
auto BookFile::guarded(F &&read) -> decltype(read())
{
    try {
        return read();
    } catch (const std::bad_alloc &) {
    } catch (const std::length_error &) {
    }
    fail(file_.string() + say(": the file is too large or damaged: the memory ran out reading it",
                              ": soubor je příliš velký nebo poškozený: při jeho čtení došla paměť"));
}

BookFile::BookFile(const fs::path &file, const ReadOptions &options)
    : file_(file), format_(fileFormatOf(file)), holdsMarks_(kColumnCount, false)
{
    guarded([&] { open(options); });
}

BookFile::~BookFile() = default;

void BookFile::open(const ReadOptions &options)
{
    if (format_ == FileFormat::Csv) {
        try {
            DecodedText decoded = decodeText(readWholeFile(file_), options.encoding);
            text_ = std::move(decoded.utf8);
            encoding_ = std::move(decoded.encoding);
        } catch (const BadLine &e) {
            failAt(e.line, e.reason);
        }
        separator_ = options.separator ? options.separator : guessSeparator(text_, isColumnName);
    }
    readHeader();
    if (!options.ignoreUnknown) {
        for (const FileColumn &column : columns_)
            if (column.target < 0)
                failAt(headerLine_, say("unknown column ", "neznámý sloupec ") + quotedValue(column.name)
                                        + say(" (known: ", " (známé: ") + columnList()
                                        + say(", also in Czech: Autor, Název, Žánr, Rok vydání, ...)", ", i česky)"));
    }
    checkMapping();
}

std::unique_ptr<RowReader> BookFile::openRows()
{
    switch (format_) {
    case FileFormat::Ods: return readOdsRows(file_);
    case FileFormat::Xlsx: return readXlsxRows(file_);
    case FileFormat::Csv: break;
    }
    return std::make_unique<CsvReader>(text_, separator_);
}

std::string BookFile::placeOf(int line) const
{
    const bool sheet = format_ != FileFormat::Csv;
    return file_.string() + (sheet ? say(", row ", ", řádek ") : say(", line ", ", řádek ")) + std::to_string(line);
}

void BookFile::failAt(int line, const std::string &reason) const
{
    throw BadLine(line, reason, placeOf(line) + ": " + reason);
}

void BookFile::readHeader()
{
    const std::unique_ptr<RowReader> rows = openRows();
    SheetRow header;
    try {
        if (!rows->next(header))
            fail(file_.string() + say(" is empty; its first line must name the columns",
                                      " je prázdný; jeho první řádek musí pojmenovat sloupce"));
    } catch (const BadLine &e) {
        failAt(e.line, e.reason);
    }
    headerLine_ = header.line;
    for (const Cell &cell : header.cells) {
        std::string name = cell.text;
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        name.erase(0, name.find_first_not_of(" \t"));
        columns_.push_back({name, columnNamed(name)});
    }
    findUsed();
}

void BookFile::setTarget(std::size_t column, int target)
{
    columns_.at(column).target = target >= 0 && static_cast<std::size_t>(target) < kColumnCount ? target : -1;
    findUsed();
}

void BookFile::findUsed()
{
    used_.clear();
    for (std::size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].target >= 0)
            used_.emplace_back(i, static_cast<std::size_t>(columns_[i].target));
}

bool BookFile::hasIds() const
{
    return std::any_of(used_.begin(), used_.end(), [](const auto &use) { return use.second == 0; });
}

void BookFile::checkMapping() const
{
    for (std::size_t i = 0; i < used_.size(); ++i)
        for (std::size_t k = 0; k < i; ++k)
            if (used_[k].second == used_[i].second)
                failAt(headerLine_, say("column ", "sloupec ") + quotedValue(columnTitle(used_[i].second))
                                        + say(" is named twice", " je přiřazen dvakrát"));
    if (used_.empty())
        failAt(headerLine_, say("no column of the file goes into the catalogue",
                                "žádný sloupec souboru nejde do katalogu"));
}

std::string BookFile::decisions() const
{
    std::string text;
    switch (format_) {
    case FileFormat::Csv:
        text = say("read as ", "čteno jako ") + encoding_ + say(", separated by ", ", oddělené ")
               + separatorName(separator_);
        break;
    case FileFormat::Ods:
    case FileFormat::Xlsx:
        text = say("read the first sheet of the workbook", "čten první list sešitu");
        break;
    }
    std::string used, ignored;
    std::size_t ignoredCount = 0;
    for (const FileColumn &column : columns_) {
        if (column.target >= 0) {
            used += (used.empty() ? "" : ", ") + shortened(column.name) + "→"
                    + kColumns[static_cast<std::size_t>(column.target)].name;
        } else if (++ignoredCount <= kNamedIgnored) {
            ignored += (ignored.empty() ? "" : ", ") + shortened(column.name);
        }
    }
    text += say("; columns ", "; sloupce ") + used;
    if (ignoredCount > kNamedIgnored)
        text += say("; ignored " + std::to_string(ignoredCount) + " columns: ",
                    "; nepoužito " + std::to_string(ignoredCount) + " sloupců: ")
                + ignored + ", …";
    else if (ignoredCount > 0)
        text += say("; ignored: ", "; nepoužité: ") + ignored;
    return text;
}

std::string BookFile::rowProblem(const SheetRow &row) const
{
    const bool sheet = format_ != FileFormat::Csv;
    if (row.cells.size() > columns_.size() || (!sheet && row.cells.size() != columns_.size()))
        return std::to_string(row.cells.size()) + say(" fields, but the first line names ", " polí, ale první řádek jmenuje ")
               + std::to_string(columns_.size()) + say(" columns", " sloupců");
    return {};
}

std::string BookFile::cellProblem(const Cell &cell, std::size_t column, int line) const
{
    if (!cell.isError)
        return {};
    return say("cell ", "buňka ") + cellName(column, line) + say(" holds the error ", " obsahuje chybu ")
           + shortened(cell.text) + say(", not a value", ", ne hodnotu");
}

void BookFile::convert(SheetRow &row, Book &book) const
{
    if (const std::string problem = rowProblem(row); !problem.empty())
        failAt(row.line, problem);
    for (Value &value : book)
        value.setNull();
    for (const auto &[column, target] : used_) {
        Cell cell = column < row.cells.size() ? std::move(row.cells[column]) : Cell();
        if (const std::string problem = cellProblem(cell, column, row.line); !problem.empty())
            failAt(row.line, problem);
        try {
            convertField(target, std::move(cell), holdsMarks_[target], book[target]);
        } catch (const Error &e) {
            failAt(row.line, e.what());
        }
    }
}

std::vector<PreviewRow> BookFile::preview(std::size_t count)
{
    return guarded([&] {
        checkMapping();
        const std::unique_ptr<RowReader> rows = openRows();
        std::vector<SheetRow> read;
        SheetRow row;
        try {
            rows->next(row); // the header
            while (read.size() < count && rows->next(row))
                read.push_back(row);
        } catch (const BadLine &e) {
            failAt(e.line, e.reason);
        }
        std::array<bool, kColumnCount> marks{};
        for (const SheetRow &r : read)
            for (const auto &[column, target] : used_)
                marks[target] = marks[target] || (column < r.cells.size() && isMark(r.cells[column].text));

        std::vector<PreviewRow> result;
        for (const SheetRow &r : read) {
            PreviewRow &out = result.emplace_back();
            out.line = r.line;
            out.refusal = rowProblem(r);
            for (const auto &[column, target] : used_) {
                PreviewCell &cell = out.cells[target];
                const Cell field = column < r.cells.size() ? r.cells[column] : Cell();
                cell.text = cellProblem(field, column, r.line);
                cell.refused = !cell.text.empty();
                if (cell.refused)
                    continue;
                try {
                    Value value;
                    convertField(target, Cell(field), marks[target], value);
                    cell.text = shown(target, value);
                } catch (const Error &e) {
                    cell.text = e.what();
                    cell.refused = true;
                }
            }
        }
        return result;
    });
}

std::uint64_t BookFile::check(Progress &progress)
{
    return guarded([&] {
        checkMapping();
        std::fill(holdsMarks_.begin(), holdsMarks_.end(), false);
        std::vector<SheetRow>().swap(kept_);
        keptAll_ = false;
        bool keeping = format_ != FileFormat::Csv;
        std::size_t keptBytes = 0;
        const std::unique_ptr<RowReader> rows = openRows();
        SheetRow row;
        Book book;
        std::uint64_t count = 0;
        try {
            rows->next(row); // the header
            while (rows->next(row)) {
                if (keeping) {
                    // What the row takes on the heap, with room for the list of rows to grow.
                    keptBytes += 2 * sizeof row + 16 + row.cells.capacity() * sizeof(Cell);
                    for (const Cell &cell : row.cells)
                        keptBytes += cell.text.capacity() > 15 ? cell.text.capacity() + 16 : 0;
                    keeping = keptBytes <= kKeptRowsBytes;
                    if (keeping)
                        kept_.push_back(row);
                    else
                        std::vector<SheetRow>().swap(kept_);
                }
                for (const auto &[column, target] : used_) {
                    if (kColumns[target].kind == Kind::Logical && column < row.cells.size()
                        && isMark(row.cells[column].text))
                        holdsMarks_[target] = true;
                }
                convert(row, book);
                if (++count % kProgressEvery == 0)
                    progress.advance(Stage::Checking, rows->position(), rows->size());
            }
        } catch (const BadLine &e) {
            if (e.what() == e.reason)
                failAt(e.line, e.reason);
            throw;
        }
        progress.advance(Stage::Checking, rows->size(), rows->size());
        keptAll_ = keeping;
        return count;
    });
}

void BookFile::read(const std::function<void(const Book &, int)> &each)
{
    guarded([&] {
        Book book;
        if (keptAll_) {
            for (SheetRow &row : kept_) {
                convert(row, book);
                each(book, row.line);
            }
            std::vector<SheetRow>().swap(kept_);
            keptAll_ = false;
            return;
        }
        const std::unique_ptr<RowReader> rows = openRows();
        SheetRow row;
        rows->next(row); // the header
        while (rows->next(row)) {
            const int line = row.line;
            convert(row, book);
            each(book, line);
        }
    });
}

} // namespace zeplo::tool
