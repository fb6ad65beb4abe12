#include "SqliteStore.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>
#include <type_traits>

#include <QFile>

#include "engine/SqliteConnection.h"
#include "engine/SqliteStatement.h"

namespace fs = std::filesystem;

namespace zeplo::tool {

namespace {

using Mode = SqliteConnection::Mode;

QString pathOf(const fs::path &file)
{
    return QFile::decodeName(QByteArray::fromStdString(file.string()));
}

void removeCatalogueFiles(const fs::path &file)
{
    std::error_code ec;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(fs::path(file.string() + suffix), ec);
}

// A new, empty file (the folder too); fails if the file exists.
SqliteConnection createNew(const fs::path &file)
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
    SqliteConnection db;
    try {
        db = SqliteConnection(pathOf(file), Mode::Create);
        // Larger pages than the default 4 KB: a search that matches nothing reads the
        // whole table, and reads it in a quarter of the system calls.
        db.exec("PRAGMA page_size=16384");
    } catch (const EngineError &e) {
        // The opening may have made the file before it failed: nothing may stay of
        // it, or the next try would find a catalogue there and refuse to overwrite it.
        db.close();
        removeCatalogueFiles(file);
        failOn(say("cannot create ", "nelze vytvořit ") + file.string(), e);
    }
    return db;
}

SqliteConnection openExisting(const fs::path &file, bool readOnly)
{
    try {
        return SqliteConnection(pathOf(file), readOnly ? Mode::ReadOnly : Mode::ReadWrite);
    } catch (const EngineError &e) {
        failOn(say("cannot open ", "nelze otevřít ") + file.string(), e);
    }
}

// Sets the journal mode and checks that the engine took it.
void setJournalMode(const SqliteConnection &db, const fs::path &file, const char *mode)
{
    // The pragma answers with the mode now in force, which may differ from the one asked for.
    Statement pragma(db.get(), QStringLiteral("PRAGMA journal_mode=%1").arg(QLatin1String(mode)));
    const std::string now = pragma.step() ? std::string(pragma.columnUtf8(0)) : std::string();
    pragma.step();
    if (QString::fromStdString(now).compare(QLatin1String(mode), Qt::CaseInsensitive) != 0)
        fail(file.string() + ": the engine refused journal mode " + mode + " (it keeps \"" + now + "\")");
}

// Binds every column of a book to an INSERT of all columns in table order.
class Inserter : public BookSink {
public:
    explicit Inserter(const SqliteConnection &db)
        : db_(db.get()), insert_(db.get(), QStringLiteral("INSERT INTO zeplo (%1) VALUES (?,?,?,?,?,?,?,?,?)")
                                .arg(QString::fromStdString(columnList())))
    {
    }

    void add(const Book &book) override
    {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Value &value = book[i];
            const int index = static_cast<int>(i + 1);
            try {
                if (value.null)
                    insert_.bindNull(index); // a null id: SQLite gives the next one
                else if (!holdsText(kColumns[i].kind))
                    insert_.bindInt64(index, value.number);
                else
                    insert_.bindUtf8(index, value.text);
            } catch (const EngineError &e) {
                throw BookRefused(added_, std::string(kColumns[i].name) + ": " + e.message().toStdString());
            }
        }
        try {
            insert_.step();
        } catch (const EngineError &e) {
            throw BookRefused(added_, e.message().toStdString());
        }
        insert_.reset();
        ++added_;
    }

    // Whether the last book added is in the catalogue: after a COMMIT that
    // reported a failure, whether the write is there all the same.
    bool lastIsStored() const
    {
        if (added_ == 0)
            return false;
        // The connection keeps the key of its last insert through the rollback.
        Statement find(db_, QStringLiteral("SELECT count(*) FROM zeplo WHERE rowid = last_insert_rowid()"));
        return find.step() && find.columnInt64(0) == 1;
    }

private:
    sqlite3 *db_;
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
        return onFile([&] { return countIn(openExisting(file_, true)); });
    }

    void readAll(const std::function<void(const Book &)> &each) override
    {
        onFile([&] { readAllFrom(openExisting(file_, true), each); });
    }

    void write(WriteMode mode, const std::function<void(BookSink &)> &fill) override
    {
        onFile([&] { mode == WriteMode::MakeNew ? makeAndFill(fill) : addTo(mode, fill); });
    }

    // The program looks at a file's data version by itself: a file needs nothing more.
    bool upgrade() override { return false; }

private:
    // The engine's failures are told as the file's.
    template <class Work>
    std::invoke_result_t<Work> onFile(Work &&work)
    {
        try {
            return work();
        } catch (const EngineError &e) {
            failOn(name_, e);
        }
    }
    static std::uint64_t countIn(const SqliteConnection &db)
    {
        Statement count(db.get(), QStringLiteral("SELECT count(*) FROM zeplo"));
        count.step();
        return static_cast<std::uint64_t>(count.columnInt64(0));
    }
    void readAllFrom(const SqliteConnection &db, const std::function<void(const Book &)> &each);
    void addTo(WriteMode mode, const std::function<void(BookSink &)> &fill);
    void makeAndFill(const std::function<void(BookSink &)> &fill);
    [[noreturn]] void badValue(std::int64_t id, const Column &column, const std::string &what) const
    {
        fail(name_ + say(": the book with id ", ": kniha s id ") + std::to_string(id) + say(", column ", ", sloupec ")
             + column.name + ": " + what);
    }

    fs::path file_;
    std::string name_;
};

void SqliteStore::readAllFrom(const SqliteConnection &db, const std::function<void(const Book &)> &each)
{
    Statement select(db.get(), QStringLiteral("SELECT %1 FROM zeplo ORDER BY id").arg(QString::fromStdString(columnList())));
    Book book;
    while (select.step()) {
        const std::int64_t id = select.columnInt64(0);
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Column &column = kColumns[i];
            const int c = static_cast<int>(i);
            const Statement::Type type = select.columnType(c);
            Value &value = book[i];
            if (type == Statement::Type::Null) {
                value.setNull();
                continue;
            }
            if (type == Statement::Type::Blob)
                badValue(id, column, "binary data, not a value the program shows");
            if (holdsText(column.kind)) {
                value.setText(select.columnUtf8(c)); // a number stored in a text column reads as the program shows it
                continue;
            }
            // Numbers: whatever SQLite stored, the value must be a whole number, as the program reads it.
            std::int64_t number = 0;
            if (type == Statement::Type::Integer) {
                number = select.columnInt64(c);
            } else if (type == Statement::Type::Real) {
                const double real = select.columnDouble(c);
                if (!(real >= -9.0e15 && real <= 9.0e15) || real != std::floor(real))
                    badValue(id, column, std::string(select.columnUtf8(c)) + " is not a whole number");
                number = static_cast<std::int64_t>(real);
            } else {
                const std::string text(select.columnUtf8(c));
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

void SqliteStore::addTo(WriteMode mode, const std::function<void(BookSink &)> &fill)
{
    SqliteConnection db = openExisting(file_, false);
    // Whatever fails or is thrown, the write is rolled back.
    SqliteTransaction txn(db, SqliteTransaction::Kind::Write);
    if (mode == WriteMode::FillEmpty) {
        if (const std::uint64_t n = countIn(db))
            fail(name_ + say(" already holds ", " už obsahuje ") + bookCount(n)
                 + say("; only a new or empty catalogue is filled", "; naplnit lze jen nový nebo prázdný katalog"));
    }
    Inserter inserter(db);
    fill(inserter);
    txn.commit([&] { return inserter.lastIsStored(); });
}

void SqliteStore::makeAndFill(const std::function<void(BookSink &)> &fill)
{
    SqliteConnection db = createNew(file_); // refuses an existing file, which stays untouched
    try {
        // Nothing to protect yet: a failed fill removes the file, so no journal is kept
        // while filling.
        setJournalMode(db, file_, "OFF");
        // The long texts are TEXT: under MEMO's numeric affinity SQLite would
        // store a description such as "007" or "1e3" as a number.
        db.exec(schema::createTable(schema::Flavour::File).toUtf8().constData());
        {
            // Without a journal a COMMIT that failed may have left anything
            // in the file: only one that succeeded keeps it.
            SqliteTransaction txn(db, SqliteTransaction::Kind::Write);
            {
                Inserter inserter(db);
                fill(inserter);
            }
            txn.commit();
        }
        // The program reads while it writes; WAL keeps readers from blocking the writer.
        setJournalMode(db, file_, "WAL");
    } catch (...) {
        db.close();
        removeCatalogueFiles(file_);
        throw;
    }
}

} // namespace

std::unique_ptr<CatalogueStore> makeSqliteStore(const fs::path &file) { return std::make_unique<SqliteStore>(file); }

} // namespace zeplo::tool
