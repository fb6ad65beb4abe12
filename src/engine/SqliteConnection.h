#pragma once

#include <functional>

#include <QString>

struct sqlite3;

namespace zeplo {

// One connection to a SQLite file, closed when it goes: each of the engine's
// and each of the catalogue tool's. With Statement (SqliteStatement.h) it is
// the one wrapper of SQLite; its transactions are begun and ended by
// SqliteTransaction alone. It waits for another program's write lock as long
// as the program does (Engine::lockWaitMs()).
class SqliteConnection {
public:
    enum class Mode { ReadOnly, ReadWrite, Create };
    SqliteConnection() = default;
    // Raises EngineError with the engine's text when the file cannot be opened.
    SqliteConnection(const QString &path, Mode mode);
    ~SqliteConnection() { close(); }
    SqliteConnection(SqliteConnection &&other) noexcept : db_(other.db_), commits_(other.commits_)
    {
        other.db_ = nullptr;
    }
    SqliteConnection &operator=(SqliteConnection &&other) noexcept;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    sqlite3 *get() const { return db_; }
    // Runs statements without results; raises EngineError on failure.
    void exec(const char *sql);
    // The same where a failure changes nothing: whether it ran.
    bool execQuietly(const char *sql) noexcept;
    void close() noexcept;
    // Write transactions committed on this connection, which the file's data
    // version counts as it counts everyone else's.
    qint64 commits() const { return commits_; }

    // The engine's text for the last error on `db`: its main message and any
    // further lines, each once, without empty lines.
    static QString errorText(sqlite3 *db, int rc);
    [[noreturn]] static void raise(sqlite3 *db, int rc);
    static void check(sqlite3 *db, int rc);   // raises unless rc is OK, ROW or DONE

private:
    friend class SqliteTransaction;
    // After a failed write: ends its transaction and brings the file back to
    // its last committed state at once, rolling back a journal the failure
    // left behind; what a failing disk does not let happen now, the next
    // opening of the file does. The write's own failure is the one to report.
    void rollBack() noexcept;
    void commit(const std::function<bool()> &stored);

    sqlite3 *db_ = nullptr;
    qint64 commits_ = 0;
};

// A transaction on one connection: the one way the engine's cursors and the
// catalogue tool's stores begin and end theirs.
class SqliteTransaction {
public:
    enum class Kind {
        // BEGIN IMMEDIATE takes the write lock at once, so that a busy
        // catalogue is reported before anything is changed. Left without a
        // commit (a failure, an exception), the write is rolled back at once.
        Write,
        // Several reads as one: starting a transaction costs more than reading
        // a row. None is begun inside one already. Ending a transaction that
        // only read changes nothing: its failure leaves no lock that the next
        // statement would not end.
        Read,
    };
    SqliteTransaction(SqliteConnection &connection, Kind kind);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction &) = delete;
    SqliteTransaction &operator=(const SqliteTransaction &) = delete;

    // Commits a write; over either way, a failed COMMIT being rolled back.
    // SQLite may report that a COMMIT failed that put the write in the file
    // all the same (a step after its commit point failed): then the file,
    // back in its committed state, is asked whether `stored` holds, and only
    // a write that is not there raises the failure. Without `stored`, every
    // failure is raised.
    void commit(const std::function<bool()> &stored = {});

private:
    SqliteConnection &connection_;
    Kind kind_;
    bool open_ = false;
};

} // namespace zeplo
