#include "BookFile.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "ColumnNames.h"
#include "Csv.h"
#include "FieldValues.h"
#include "TextDecoding.h"
#include "WorkbookRows.h"

namespace fs = std::filesystem;

namespace zeplo::tool {

namespace {

// The most memory the rows of a file are kept in between checking and reading
// them; a larger file is read twice.
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
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail(say("cannot read ", "nelze přečíst ") + file.string());
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad())
        fail(say("cannot read ", "nelze přečíst ") + file.string());
    return std::move(data).str();
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

// How a preview shows a value: as the program shows it.
std::string shown(const Column &column, const Value &value)
{
    if (value.null)
        return {};
    if (holdsText(column.kind))
        return value.text;
    if (column.kind == Kind::Logical)
        return value.number ? say("yes", "ano") : say("no", "ne");
    return std::to_string(value.number);
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

BookFile::BookFile(const fs::path &file, const ReadOptions &options)
    : file_(file), format_(fileFormatOf(file)), holdsMarks_(kColumnCount, false)
{
    if (format_ == FileFormat::Csv) {
        try {
            DecodedText decoded = decodeText(readWholeFile(file), options.encoding);
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
                failAt(headerLine_, say("unknown column \"", "neznámý sloupec „") + column.name
                                        + say("\" (known: ", "“ (známé: ") + columnList()
                                        + say(", also in Czech: Autor, Název, Žánr, Rok vydání, ...)", ", i česky)"));
    }
    checkMapping();
}

BookFile::~BookFile() = default;

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
}

void BookFile::setTarget(std::size_t column, int target)
{
    columns_.at(column).target = target >= 0 && static_cast<std::size_t>(target) < kColumnCount ? target : -1;
}

void BookFile::checkMapping() const
{
    bool any = false;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const int target = columns_[i].target;
        if (target < 0)
            continue;
        any = true;
        for (std::size_t k = 0; k < i; ++k)
            if (columns_[k].target == target)
                failAt(headerLine_, say("column \"", "sloupec „") + kColumns[static_cast<std::size_t>(target)].name
                                        + say("\" is named twice", "“ je přiřazen dvakrát"));
    }
    if (!any)
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
    for (const FileColumn &column : columns_) {
        if (column.target >= 0)
            used += (used.empty() ? "" : ", ") + column.name + "→" + kColumns[static_cast<std::size_t>(column.target)].name;
        else
            ignored += (ignored.empty() ? "" : ", ") + column.name;
    }
    text += say("; columns ", "; sloupce ") + used;
    if (!ignored.empty())
        text += say("; ignored: ", "; nepoužité: ") + ignored;
    return text;
}

void BookFile::convert(SheetRow &row, Book &book) const
{
    const bool sheet = format_ != FileFormat::Csv;
    if (row.cells.size() > columns_.size() || (!sheet && row.cells.size() != columns_.size()))
        failAt(row.line, std::to_string(row.cells.size())
                             + say(" fields, but the first line names ", " polí, ale první řádek jmenuje ")
                             + std::to_string(columns_.size()) + say(" columns", " sloupců"));
    row.cells.resize(columns_.size());
    for (Value &value : book)
        value.setNull();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const int target = columns_[i].target;
        if (target < 0)
            continue;
        const auto index = static_cast<std::size_t>(target);
        try {
            convertField(kColumns[index], std::move(row.cells[i]), holdsMarks_[index], book[index]);
        } catch (const Error &e) {
            failAt(row.line, e.what());
        }
    }
}

std::vector<PreviewRow> BookFile::preview(std::size_t count)
{
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
    std::vector<bool> marks(columns_.size(), false);
    for (const SheetRow &r : read)
        for (std::size_t i = 0; i < r.cells.size() && i < marks.size(); ++i)
            marks[i] = marks[i] || isMark(r.cells[i].text);

    std::vector<PreviewRow> result;
    for (SheetRow &r : read) {
        PreviewRow &out = result.emplace_back();
        out.line = r.line;
        r.cells.resize(std::max(r.cells.size(), columns_.size()));
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            PreviewCell &cell = out.cells.emplace_back();
            const int target = columns_[i].target;
            if (target < 0) {
                cell.text = r.cells[i].text;
                continue;
            }
            const Column &column = kColumns[static_cast<std::size_t>(target)];
            Value value;
            try {
                convertField(column, Cell(r.cells[i]), marks[i], value);
                cell.text = shown(column, value);
            } catch (const Error &e) {
                cell.text = e.what();
                cell.refused = true;
            }
        }
    }
    return result;
}

std::uint64_t BookFile::check(Progress &progress)
{
    checkMapping();
    std::fill(holdsMarks_.begin(), holdsMarks_.end(), false);
    kept_.clear();
    bool keeping = true;
    std::size_t keptBytes = 0;
    const std::unique_ptr<RowReader> rows = openRows();
    SheetRow row;
    Book book;
    std::uint64_t count = 0;
    try {
        rows->next(row); // the header
        while (rows->next(row)) {
            if (keeping) {
                keptBytes += sizeof row + row.cells.size() * sizeof(Cell);
                for (const Cell &cell : row.cells)
                    keptBytes += cell.text.capacity() > 15 ? cell.text.capacity() : 0;
                keeping = keptBytes <= kKeptRowsBytes;
                if (keeping)
                    kept_.push_back(row);
                else
                    std::vector<SheetRow>().swap(kept_);
            }
            for (std::size_t i = 0; i < row.cells.size() && i < columns_.size(); ++i) {
                const int target = columns_[i].target;
                if (target >= 0 && kColumns[static_cast<std::size_t>(target)].kind == Kind::Logical
                    && isMark(row.cells[i].text))
                    holdsMarks_[static_cast<std::size_t>(target)] = true;
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
    if (!keeping)
        kept_.clear();
    return count;
}

void BookFile::read(const std::function<void(const Book &, int)> &each)
{
    if (!kept_.empty()) {
        Book book;
        for (SheetRow &row : kept_) {
            convert(row, book);
            each(book, row.line);
        }
        std::vector<SheetRow>().swap(kept_);
        return;
    }
    const std::unique_ptr<RowReader> rows = openRows();
    SheetRow row;
    Book book;
    rows->next(row); // the header
    while (rows->next(row)) {
        const int line = row.line;
        convert(row, book);
        each(book, line);
    }
}

} // namespace zeplo::tool
