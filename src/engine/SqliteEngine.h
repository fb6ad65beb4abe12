#pragma once

#include <memory>

#include <QString>

#include "engine/Engine.h"
#include "engine/SqlDialect.h"
#include "engine/SqliteConnection.h"
#include "engine/SqliteStatement.h"

struct sqlite3;

namespace zeplo {

// The local database engine: the catalogue file zeplo.db in a folder, opened
// for reading and writing and never created. One connection serves reads of
// single rows and every write; a second one serves the long-running statements
// that fill keysets, so that a half-read result never holds up a writer. Each
// connection searches and sorts by the Czech rules: the engine gives it its
// own LIKE and sort key.
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
    // The writing connection, on which every write and its transaction runs.
    SqliteConnection &connection() { return db_; }
    sqlite3 *reader();                 // opened on first use
    bool readOnly() const override { return readOnly_; }
    bool walMode() const { return wal_; }
    // Files opened from now on keep SQLite's rollback journal wherever they
    // lie, as on a network file system. For tests, which run the catalogue
    // suites in that mode too; the program never sets it.
    static void setRollbackJournal(bool keep);
    static bool rollbackJournal();
    const QString &path() const { return path_; }

    // A statement that goes back to the engine's pool when it is done with.
    Statement prepare(sqlite3 *db, const QString &sql);
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
};

} // namespace zeplo
