#include "SqliteStore.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>

#include <sqlite3.h>

#include "engine/Engine.h"

namespace fs = std::filesystem;

namespace zeplo::tool {

namespace {

void removeCatalogueFiles(const fs::path &file);

// One connection to a catalogue file, closed on destruction.
class Database {
public:
    // Makes a new, empty file (the folder too); fails if the file exists.
    static Database createNew(const fs::path &file);
    static Database openExisting(const fs::path &file, bool readOnly);

    Database(Database &&other) noexcept : db_(other.db_), file_(std::move(other.file_)) { other.db_ = nullptr; }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;
    Database &operator=(Database &&) = delete;
    ~Database()
    {
        if (db_)
            sqlite3_close_v2(db_);
    }

    sqlite3 *get() const { return db_; }
    void exec(const char *sql);
    // Sets the journal mode and checks that the engine took it.
    void setJournalMode(const char *mode);
    [[noreturn]] void failWithEngineError(const std::string &context) const
    {
        if (!db_)
            fail(context + ": out of memory");
        // Another program's write that outlasts the wait: the same words as the program's.
        const int code = sqlite3_errcode(db_) & 0xff;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            fail(context + ": " + Engine::lockedMessage().toStdString());
        fail(context + ": " + sqlite3_errmsg(db_));
    }
    [[noreturn]] void failWithEngineError() const { failWithEngineError(file_.string()); }

private:
    Database(sqlite3 *db, fs::path file) : db_(db), file_(std::move(file)) {}
    sqlite3 *db_ = nullptr;
    fs::path file_;
};

// A prepared statement, finalised on destruction.
class Statement {
public:
    Statement(const Database &db, const std::string &sql) : db_(db)
    {
        if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
            db.failWithEngineError();
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    sqlite3_stmt *get() const { return stmt_; }
    // True while there is a row; the end resets the statement.
    bool step()
    {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            db_.failWithEngineError();
        sqlite3_reset(stmt_);
        return false;
    }
    // Runs a statement that returns no rows, then makes it ready to run again.
    // On failure the engine's message is returned, empty on success.
    std::string run()
    {
        const int rc = sqlite3_step(stmt_);
        std::string error;
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            error = sqlite3_errmsg(db_.get());
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        return error;
    }
    std::string text(int column) const
    {
        const auto *value = sqlite3_column_text(stmt_, column);
        return value ? std::string(reinterpret_cast<const char *>(value),
                                   static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                     : std::string();
    }

private:
    const Database &db_;
    sqlite3_stmt *stmt_ = nullptr;
};

Database Database::createNew(const fs::path &file)
{
    std::error_code ec;
    if (fs::exists(file, ec))
        fail(file.string() + say(" already exists; a catalogue is never overwritten",
                                 " už existuje; katalog se nikdy nepřepisuje"));
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path(), ec);
        if (ec)
            fail(say("cannot create the folder ", "nelze vytvořit složku ") + file.parent_path().string() + ": "
                 + ec.message());
    }
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(file.string().c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        // The opening may have made the file before it failed: nothing may stay of it.
        const std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        removeCatalogueFiles(file);
        fail("cannot create " + file.string() + ": " + why);
    }
    Database result(db, file);
    sqlite3_busy_timeout(db, Engine::lockWaitMs());
    // Larger pages than the default 4 KB: a search that matches nothing reads the
    // whole table, and reads it in a quarter of the system calls.
    result.exec("PRAGMA page_size=16384");
    return result;
}

Database Database::openExisting(const fs::path &file, bool readOnly)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(file.string().c_str(), &db,
                                   readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr);
    Database result(db, file);
    if (rc != SQLITE_OK)
        result.failWithEngineError("cannot open " + file.string());
    // The program's bounded wait for another's write, and then its words.
    sqlite3_busy_timeout(db, Engine::lockWaitMs());
    return result;
}

void Database::exec(const char *sql)
{
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        failWithEngineError();
}

void Database::setJournalMode(const char *mode)
{
    // The pragma answers with the mode now in force, which may differ from the one asked for.
    Statement pragma(*this, std::string("PRAGMA journal_mode=") + mode);
    const std::string now = pragma.step() ? pragma.text(0) : std::string();
    pragma.step();
    if (sqlite3_stricmp(now.c_str(), mode) != 0)
        fail(file_.string() + ": the engine refused journal mode " + mode + " (it keeps \"" + now + "\")");
}

void removeCatalogueFiles(const fs::path &file)
{
    std::error_code ec;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(fs::path(file.string() + suffix), ec);
}

// Binds every column of a book to an INSERT of all columns in table order.
class Inserter : public BookSink {
public:
    explicit Inserter(const Database &db)
        : insert_(db, "INSERT INTO zeplo (" + columnList() + ") VALUES (?,?,?,?,?,?,?,?,?)")
    {
    }

    void add(const Book &book) override
    {
        sqlite3_stmt *stmt = insert_.get();
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Value &value = book[i];
            const int index = static_cast<int>(i + 1);
            int rc = SQLITE_OK;
            if (value.null)
                rc = sqlite3_bind_null(stmt, index); // a null id: SQLite gives the next one
            else if (!holdsText(kColumns[i].kind))
                rc = sqlite3_bind_int64(stmt, index, value.number);
            else if (value.text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
                rc = SQLITE_TOOBIG;
            else
                rc = sqlite3_bind_text(stmt, index, value.text.data(), static_cast<int>(value.text.size()),
                                       SQLITE_STATIC);
            // A value the statement cannot take must not leave the previous book's value bound.
            if (rc != SQLITE_OK)
                throw BookRefused(added_, std::string(kColumns[i].name) + ": " + sqlite3_errstr(rc));
        }
        const std::string error = insert_.run();
        if (!error.empty())
            throw BookRefused(added_, error);
        ++added_;
    }

private:
    Statement insert_;
    std::size_t added_ = 0;
};

class SqliteStore : public CatalogueStore {
public:
    explicit SqliteStore(const fs::path &file) : file_(file), name_(file_.string()) {}

    const std::string &name() const override { return name_; }

    bool exists() override
    {
        std::error_code ec;
        return fs::exists(file_, ec);
    }

    std::uint64_t count() override
    {
        Database db = Database::openExisting(file_, true);
        return countIn(db);
    }

    void readAll(const std::function<void(const Book &)> &each) override;
    void write(WriteMode mode, const std::function<void(BookSink &)> &fill) override;

private:
    std::uint64_t countIn(const Database &db)
    {
        Statement count(db, "SELECT count(*) FROM zeplo");
        count.step();
        return static_cast<std::uint64_t>(sqlite3_column_int64(count.get(), 0));
    }
    void makeAndFill(const std::function<void(BookSink &)> &fill);
    [[noreturn]] void badValue(std::int64_t id, const Column &column, const std::string &what) const
    {
        fail(name_ + say(": the book with id ", ": kniha s id ") + std::to_string(id) + say(", column ", ", sloupec ")
             + column.name + ": " + what);
    }

    fs::path file_;
    std::string name_;
};

void SqliteStore::readAll(const std::function<void(const Book &)> &each)
{
    Database db = Database::openExisting(file_, true);
    Statement select(db, "SELECT " + columnList() + " FROM zeplo ORDER BY id");
    sqlite3_stmt *stmt = select.get();
    Book book;
    while (select.step()) {
        const std::int64_t id = sqlite3_column_int64(stmt, 0);
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Column &column = kColumns[i];
            const int c = static_cast<int>(i);
            const int type = sqlite3_column_type(stmt, c);
            Value &value = book[i];
            if (type == SQLITE_NULL) {
                value.setNull();
                continue;
            }
            if (type == SQLITE_BLOB)
                badValue(id, column, "binary data, not a value the program shows");
            if (holdsText(column.kind)) {
                value.setText(select.text(c)); // a number stored in a text column reads as the program shows it
                continue;
            }
            // Numbers: whatever SQLite stored, the value must be a whole number, as the program reads it.
            std::int64_t number = 0;
            if (type == SQLITE_INTEGER) {
                number = sqlite3_column_int64(stmt, c);
            } else if (type == SQLITE_FLOAT) {
                const double real = sqlite3_column_double(stmt, c);
                if (!(real >= -9.0e15 && real <= 9.0e15) || real != std::floor(real))
                    badValue(id, column, select.text(c) + " is not a whole number");
                number = static_cast<std::int64_t>(real);
            } else {
                const std::string text = select.text(c);
                const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
                if (text.empty() || ec != std::errc() || end != text.data() + text.size())
                    badValue(id, column, "\"" + text + "\" is not a whole number");
            }
            if (column.kind == Kind::Logical && number != 0 && number != 1)
                badValue(id, column, std::to_string(number) + " is not a logical value (1 or 0)");
            value.setNumber(number);
        }
        each(book);
    }
}

void SqliteStore::write(WriteMode mode, const std::function<void(BookSink &)> &fill)
{
    if (mode == WriteMode::MakeNew) {
        makeAndFill(fill);
        return;
    }
    Database db = Database::openExisting(file_, false);
    db.exec("BEGIN IMMEDIATE");
    try {
        if (mode == WriteMode::FillEmpty) {
            if (const std::uint64_t n = countIn(db))
                fail(name_ + say(" already holds ", " už obsahuje ") + bookCount(n)
                     + say("; only a new or empty catalogue is filled", "; naplnit lze jen nový nebo prázdný katalog"));
        }
        Inserter inserter(db);
        fill(inserter);
    } catch (...) {
        // The failure that led here is the one to report; a rollback that
        // fails leaves nothing either, as the connection closes unfinished.
        sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    db.exec("COMMIT");
}

void SqliteStore::makeAndFill(const std::function<void(BookSink &)> &fill)
{
    std::optional<Database> db;
    db.emplace(Database::createNew(file_)); // refuses an existing file, which stays untouched
    try {
        // Nothing to protect yet: a failed fill removes the file, so no journal is kept
        // while filling.
        db->setJournalMode("OFF");
        // The long texts are TEXT: under MEMO's numeric affinity SQLite would
        // store a description such as "007" or "1e3" as a number.
        db->exec(schema::createTable(schema::Flavour::File).toUtf8().constData());
        db->exec("BEGIN");
        {
            Inserter inserter(*db);
            fill(inserter);
        }
        db->exec("COMMIT");
        // The program reads while it writes; WAL keeps readers from blocking the writer.
        db->setJournalMode("WAL");
    } catch (...) {
        db.reset();
        removeCatalogueFiles(file_);
        throw;
    }
}

} // namespace

std::unique_ptr<CatalogueStore> makeSqliteStore(const fs::path &file) { return std::make_unique<SqliteStore>(file); }

} // namespace zeplo::tool
