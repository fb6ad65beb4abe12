#pragma once

#include <memory>

#include <QString>

#include "engine/Engine.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zeplo {

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

    sqlite3 *db() const { return db_; }
    sqlite3 *reader();                 // opened on first use
    bool readOnly() const override { return readOnly_; }
    bool walMode() const { return wal_; }
    const QString &path() const { return path_; }

    // The engine's text for the last error on `db`: its main message and any
    // further lines, each once, without empty lines.
    // How long a statement waits for another program's write lock before it
    // fails with the "locked" message: five seconds unless a test shortens it.

    static QString errorText(sqlite3 *db, int rc);
    [[noreturn]] static void raise(sqlite3 *db, int rc);
    static void check(sqlite3 *db, int rc);   // raises unless rc is OK, ROW or DONE

    // Runs a statement without results on the writing connection.
    void exec(const char *sql);

private:
    sqlite3 *openConnection(bool forReading);
    QString path_;
    sqlite3 *db_ = nullptr;
    sqlite3 *reader_ = nullptr;
    bool readOnly_ = false;
    bool wal_ = false;
};

// Owns a prepared statement and finalises it.
class Statement {
public:
    Statement() = default;
    Statement(sqlite3 *db, const QString &sql);
    ~Statement();
    Statement(Statement &&other) noexcept : stmt_(other.stmt_), db_(other.db_) { other.stmt_ = nullptr; }
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *get() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }
    bool step();            // true on a row, false when done; raises on error
    void reset();
    void finalize();
    void bindText(int index, const QString &text);
    void bindNamed(const char *name, qint64 value);

private:
    sqlite3_stmt *stmt_ = nullptr;
    sqlite3 *db_ = nullptr;
};

} // namespace zeplo
