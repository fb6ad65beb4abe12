#include "Catalogue.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include <sqlite3.h>

#include "Csv.h"
#include "widgets/ErrorGuard.h"

namespace fs = std::filesystem;

namespace zeplo::tool {

const char *const kSchema = "CREATE TABLE zeplo (\n"
                            "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                            "  autor VARCHAR(40), nazev VARCHAR(60), zanr VARCHAR(20),\n"
                            "  rok_vydani SMALLINT, popis MEMO, vlastnim BOOLEAN, precteno BOOLEAN, "
                            "pujceno MEMO)";

fs::path catalogueFile(const fs::path &dir) { return dir / "zeplo.db"; }

void fail(const std::string &message) { throw Error(QString::fromStdString(message)); }

// ---- database -------------------------------------------------------------------

Database Database::createNew(const fs::path &file)
{
    std::error_code ec;
    if (fs::exists(file, ec))
        fail(file.string() + " already exists; a catalogue is never overwritten");
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path(), ec);
        if (ec)
            fail("cannot create the folder " + file.parent_path().string() + ": " + ec.message());
    }
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(file.string().c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Database result(db, file);
    if (rc != SQLITE_OK)
        result.failWithEngineError("cannot create " + file.string());
    sqlite3_busy_timeout(db, 5000);
    return result;
}

Database Database::openExisting(const fs::path &file)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(file.string().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    Database result(db, file);
    if (rc != SQLITE_OK)
        result.failWithEngineError("cannot open " + file.string());
    sqlite3_busy_timeout(db, 5000);
    return result;
}

Database::~Database()
{
    if (db_)
        sqlite3_close_v2(db_);
}

void Database::failWithEngineError(const std::string &context) const
{
    fail(context + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory"));
}

void Database::exec(const char *sql)
{
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        failWithEngineError(file_.string());
}

void Database::setJournalMode(const char *mode)
{
    // The pragma answers with the mode now in force, which may differ from the one asked for.
    Statement pragma(*this, std::string("PRAGMA journal_mode=") + mode);
    const std::string now = pragma.firstText();
    if (sqlite3_stricmp(now.c_str(), mode) != 0)
        fail(file_.string() + ": the engine refused journal mode " + mode + " (it keeps \"" + now + "\")");
}

Statement::Statement(const Database &db, const std::string &sql) : db_(db)
{
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
        db.failWithEngineError(db.file().string());
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

std::string Statement::firstText()
{
    std::string text;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        if (const unsigned char *value = sqlite3_column_text(stmt_, 0))
            text = reinterpret_cast<const char *>(value);
    } else if (rc != SQLITE_DONE) {
        db_.failWithEngineError(db_.file().string());
    }
    sqlite3_reset(stmt_);
    return text;
}

void Statement::bindNull(int index) { sqlite3_bind_null(stmt_, index); }

void Statement::bindInt(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }

void Statement::bindText(int index, std::string_view text)
{
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string Statement::run()
{
    const int rc = sqlite3_step(stmt_);
    std::string error;
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        error = sqlite3_errmsg(db_.get());
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return error;
}

void removeCatalogueFiles(const fs::path &file)
{
    std::error_code ec;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(fs::path(file.string() + suffix), ec);
}

void createCatalogue(const fs::path &dir)
{
    const fs::path file = catalogueFile(dir);
    std::optional<Database> db;
    db.emplace(Database::createNew(file)); // refuses an existing file, which stays untouched
    try {
        db->exec(kSchema);
        // The program reads while it writes; WAL keeps readers from blocking the writer.
        db->setJournalMode("WAL");
    } catch (...) {
        db.reset();
        removeCatalogueFiles(file);
        throw;
    }
}

// ---- import -----------------------------------------------------------------------

namespace {

enum class Kind { Id, Text, Year, Memo, Logical };

struct Column {
    const char *name;
    Kind kind;
    std::size_t size; // characters, for text columns
};

constexpr std::array<Column, 9> kColumns = {{{"id", Kind::Id, 0},
                                             {"autor", Kind::Text, 40},
                                             {"nazev", Kind::Text, 60},
                                             {"zanr", Kind::Text, 20},
                                             {"rok_vydani", Kind::Year, 0},
                                             {"popis", Kind::Memo, 0},
                                             {"vlastnim", Kind::Logical, 0},
                                             {"precteno", Kind::Logical, 0},
                                             {"pujceno", Kind::Memo, 0}}};

struct Value {
    bool null = true;
    bool isText = false;
    std::int64_t number = 0;
    std::string text;
};

struct Book {
    int line;
    std::vector<Value> values; // in the order of the header
};

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Number of characters of valid UTF-8, or nothing when the text is not valid UTF-8.
std::optional<std::size_t> utf8Length(std::string_view s)
{
    std::size_t count = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n; ++count) {
        const unsigned b = p[i];
        std::size_t len;
        char32_t c;
        if (b < 0x80) {
            len = 1;
            c = b;
        } else if (b >= 0xC2 && b < 0xE0) {
            len = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b < 0xF0) {
            len = 3;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b < 0xF5) {
            len = 4;
            c = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + len > n)
            return std::nullopt;
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)))
            return std::nullopt;
        i += len;
    }
    return count;
}

std::optional<std::int64_t> parseInteger(std::string_view s)
{
    s = trimmed(s);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

std::optional<bool> parseLogical(std::string_view s)
{
    const std::string word = lowerAscii(trimmed(s));
    if (word == "1" || word == "true" || word == "ano")
        return true;
    if (word == "0" || word == "false" || word == "ne")
        return false;
    return std::nullopt;
}

// The value of one field; a message saying what is wrong when it is not acceptable.
Value convert(const Column &column, std::string field)
{
    Value value;
    if (field.empty())
        return value;
    const std::string quoted = "\"" + field + "\"";
    const std::string name = std::string("column ") + column.name + ": ";
    switch (column.kind) {
    case Kind::Id: {
        const auto id = parseInteger(field);
        if (!id || *id < 1)
            fail(name + quoted + " is not a record number (a whole number from 1)");
        value.number = *id;
        break;
    }
    case Kind::Year: {
        const auto year = parseInteger(field);
        if (!year || *year < -32768 || *year > 32767)
            fail(name + quoted + " is not a year (a whole number from -32768 to 32767)");
        value.number = *year;
        break;
    }
    case Kind::Logical: {
        const auto flag = parseLogical(field);
        if (!flag)
            fail(name + quoted + " is not a logical value (1/0, true/false or ano/ne)");
        value.number = *flag ? 1 : 0;
        break;
    }
    case Kind::Text:
    case Kind::Memo: {
        const auto length = utf8Length(field);
        if (!length)
            fail(name + "the text is not valid UTF-8");
        if (field.find('\0') != std::string::npos)
            fail(name + "the text holds a zero byte");
        if (column.kind == Kind::Text && *length > column.size)
            fail(name + "the text has " + std::to_string(*length) + " characters, at most "
                 + std::to_string(column.size) + " fit");
        value.isText = true;
        value.text = std::move(field);
        break;
    }
    }
    value.null = false;
    return value;
}

std::string readWholeFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail("cannot read " + file.string());
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad())
        fail("cannot read " + file.string());
    return std::move(data).str();
}

struct ParsedFile {
    std::vector<const Column *> header;
    std::vector<Book> books;
};

ParsedFile parseBooks(const fs::path &csvFile)
{
    const std::string data = readWholeFile(csvFile);
    const std::string where = csvFile.string() + ", line ";
    ParsedFile parsed;
    CsvReader reader(data);
    CsvRecord record;
    try {
        if (!reader.next(record))
            fail(csvFile.string() + " is empty; its first line must name the columns");
        for (const std::string &field : record.fields) {
            const std::string name = lowerAscii(trimmed(field));
            const auto column = std::find_if(kColumns.begin(), kColumns.end(),
                                             [&](const Column &c) { return name == c.name; });
            if (column == kColumns.end())
                fail(where + std::to_string(record.line) + ": unknown column \"" + field
                     + "\" (known: id, autor, nazev, zanr, rok_vydani, popis, vlastnim, precteno, "
                       "pujceno)");
            if (std::find(parsed.header.begin(), parsed.header.end(), &*column) != parsed.header.end())
                fail(where + std::to_string(record.line) + ": column \"" + name + "\" is named twice");
            parsed.header.push_back(&*column);
        }
        while (reader.next(record)) {
            if (record.fields.size() != parsed.header.size())
                fail(where + std::to_string(record.line) + ": " + std::to_string(record.fields.size())
                     + " fields, but the first line names " + std::to_string(parsed.header.size())
                     + " columns");
            Book book{record.line, {}};
            book.values.reserve(record.fields.size());
            for (std::size_t i = 0; i < record.fields.size(); ++i) {
                try {
                    book.values.push_back(convert(*parsed.header[i], std::move(record.fields[i])));
                } catch (const Error &e) {
                    fail(where + std::to_string(record.line) + ": " + e.what());
                }
            }
            parsed.books.push_back(std::move(book));
        }
    } catch (const CsvError &e) {
        fail(where + std::to_string(e.line) + ": " + e.what());
    }
    return parsed;
}

} // namespace

std::size_t importBooks(const fs::path &dir, const fs::path &csvFile)
{
    // The whole file is checked before the catalogue is touched.
    const ParsedFile parsed = parseBooks(csvFile);

    const fs::path file = catalogueFile(dir);
    std::error_code ec;
    const bool created = !fs::exists(file, ec);
    if (created)
        createCatalogue(dir);
    try {
        Database db = Database::openExisting(file);
        std::string sql = "INSERT INTO zeplo (";
        std::string params;
        for (std::size_t i = 0; i < parsed.header.size(); ++i) {
            sql += (i ? "," : "") + std::string(parsed.header[i]->name);
            params += i ? ",?" : "?";
        }
        sql += ") VALUES (" + params + ")";

        db.exec("BEGIN IMMEDIATE");
        try {
            Statement insert(db, sql);
            for (const Book &book : parsed.books) {
                for (std::size_t i = 0; i < book.values.size(); ++i) {
                    const Value &v = book.values[i];
                    const int index = static_cast<int>(i + 1);
                    if (v.null)
                        insert.bindNull(index);
                    else if (v.isText)
                        insert.bindText(index, v.text);
                    else
                        insert.bindInt(index, v.number);
                }
                const std::string error = insert.run();
                if (!error.empty())
                    fail(csvFile.string() + ", line " + std::to_string(book.line)
                         + ": the catalogue refused the book: " + error);
            }
        } catch (...) {
            sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        db.exec("COMMIT");
    } catch (...) {
        if (created)
            removeCatalogueFiles(file);
        throw;
    }
    return parsed.books.size();
}

} // namespace zeplo::tool
