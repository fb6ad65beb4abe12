#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include <QByteArray>
#include <QString>

#include "engine/Engine.h"
#include "engine/SqlDialect.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zeplo {

class Statement;

// One connection to a SQLite file, closed when it goes: each of the engine's
// and each of the catalogue tool's. It waits for another program's write lock
// as long as the program does (Engine::lockWaitMs()).
class SqliteConnection {
public:
    enum class Mode { ReadOnly, ReadWrite, Create };
    SqliteConnection() = default;
    // Raises EngineError with the engine's text when the file cannot be opened.
    SqliteConnection(const QString &path, Mode mode);
    ~SqliteConnection() { close(); }
    SqliteConnection(SqliteConnection &&other) noexcept : db_(other.db_) { other.db_ = nullptr; }
    SqliteConnection &operator=(SqliteConnection &&other) noexcept;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    sqlite3 *get() const { return db_; }
    // Runs statements without results; raises EngineError on failure.
    void exec(const char *sql);
    // The same after a failure, whose error is the one to report: whether it ran.
    bool execQuietly(const char *sql) noexcept;
    // After a failed write: ends its transaction and brings the file back to
    // its last committed state at once, rolling back a journal the failure
    // left behind; what a failing disk does not let happen now, the next
    // opening of the file does. The write's own failure is the one to report.
    void rollBack() noexcept;
    // Commits the write transaction. SQLite may report a COMMIT failed that
    // put the write in the file all the same (a step after its commit point
    // failed): then the file, back in its committed state, is asked whether
    // `stored` holds, and only a write that is not there raises the failure.
    void commit(const std::function<bool()> &stored);
    // Whether the file holds the write, by `stored`, when that can be read.
    static bool holds(const std::function<bool()> &stored) noexcept;
    void close() noexcept;

private:
    sqlite3 *db_ = nullptr;
};

// Prepared statements given back by their users, kept for the next one who
// runs the same text on the same connection: a list command or a post then
// spends nothing on preparing what the last one prepared.
class StatementPool {
public:
    StatementPool() = default;
    ~StatementPool() { clear(); }
    StatementPool(const StatementPool &) = delete;
    StatementPool &operator=(const StatementPool &) = delete;

    sqlite3_stmt *take(sqlite3 *db, const QByteArray &sql);
    void give(sqlite3 *db, const QByteArray &sql, sqlite3_stmt *stmt);   // resets it first
    void clear();

private:
    struct Kept {
        sqlite3 *db;
        QByteArray sql;
        sqlite3_stmt *stmt;
    };
    std::vector<Kept> kept_;
};

// The local database engine: the catalogue file zeplo.db in a folder, opened
// for reading and writing and never created. One connection serves reads of
// single rows and every write; a second one serves the long-running statements
// that fill keysets, so that a half-read result never holds up a writer.
class SqliteEngine final : public Engine, public std::enable_shared_from_this<SqliteEngine> {
public:
    // The engine's default database: this file in the process's working directory.
    static QString defaultFileName() { return QStringLiteral("zeplo.db"); }

    explicit SqliteEngine(const QString &path);
    ~SqliteEngine() override;
    SqliteEngine(const SqliteEngine &) = delete;
    SqliteEngine &operator=(const SqliteEngine &) = delete;

    std::unique_ptr<Cursor> openCursor(const QString &dialectSql, bool live) override;
    // A look at the file's data version about once a second (SqliteChangeWatch.cpp).
    std::unique_ptr<ChangeWatch> watchChanges() override;

    sqlite3 *db() const { return db_.get(); }
    sqlite3 *reader();                 // opened on first use
    bool readOnly() const override { return readOnly_; }
    bool walMode() const { return wal_; }
    // Files opened from now on keep SQLite's rollback journal wherever they
    // lie, as on a network file system. For tests, which run the catalogue
    // suites in that mode too; the program never sets it.
    static void setRollbackJournal(bool keep);
    static bool rollbackJournal();
    const QString &path() const { return path_; }

    // The engine's text for the last error on `db`: its main message and any
    // further lines, each once, without empty lines.
    static QString errorText(sqlite3 *db, int rc);
    [[noreturn]] static void raise(sqlite3 *db, int rc);
    static void check(sqlite3 *db, int rc);   // raises unless rc is OK, ROW or DONE

    // A statement that goes back to the engine's pool when it is done with.
    Statement prepare(sqlite3 *db, const QString &sql);
    // Runs a statement without results on the writing connection.
    void exec(const char *sql);
    // Commits a write transaction on the writing connection, as SqliteConnection::commit.
    void commit(const std::function<bool()> &stored);
    // Ends a failed write transaction on the writing connection (SqliteConnection::rollBack).
    void rollBack() noexcept { db_.rollBack(); }
    // A number that changes whenever another connection, in this program or
    // another, has committed a change: as of the writing connection's last
    // transaction, or (refresh) as of now, which costs a transaction.
    qint64 othersDataVersion(bool refresh);

private:
    SqliteConnection openConnection(bool forReading);
    QString path_;
    SqliteConnection db_;
    SqliteConnection reader_;
    bool readOnly_ = false;
    bool wal_ = false;
    StatementPool pool_;
    qint64 commits_ = 0;   // this engine's own, which the file's data version counts too
};

// Owns a prepared statement and finalises it, or gives it back to its pool.
class Statement {
public:
    Statement() = default;
    Statement(sqlite3 *db, const QString &sql, StatementPool *pool = nullptr);
    ~Statement();
    Statement(Statement &&other) noexcept
        : stmt_(other.stmt_), db_(other.db_), pool_(other.pool_), sql_(std::move(other.sql_)), reused_(other.reused_)
    {
        other.stmt_ = nullptr;
    }
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *get() const { return stmt_; }
    bool reused() const { return reused_; }   // taken from the pool, prepared earlier
    explicit operator bool() const { return stmt_ != nullptr; }
    bool step();            // true on a row, false when done; raises on error
    void reset();
    void finalize();        // or back to the pool: either way the statement holds no lock
    void bindText(int index, const QString &text);
    void bindNamed(const char *name, qint64 value);
    void bindNull(int index);
    void bindInt64(int index, qint64 value);
    // UTF-8 text, not copied: it must stay as it is until the statement has run.
    void bindUtf8(int index, std::string_view text);
    // The translated text's parameters (:zl1, ...), those the statement holds.
    void bind(const TranslatedSql &sql);

    // The values of the row a step stopped on, as SQLite stores them.
    enum class Type { Null, Integer, Real, Text, Blob };
    Type columnType(int column) const;
    qint64 columnInt64(int column) const;
    double columnDouble(int column) const;
    // As UTF-8 text, whatever the value's type; valid until the next step.
    std::string_view columnUtf8(int column) const;

private:
    sqlite3_stmt *stmt_ = nullptr;
    sqlite3 *db_ = nullptr;
    StatementPool *pool_ = nullptr;
    QByteArray sql_;   // kept only for the pool
    bool reused_ = false;
};

} // namespace zeplo
