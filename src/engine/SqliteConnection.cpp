#include "engine/SqliteConnection.h"

#include <QFile>
#include <QStringList>

#include <sqlite3.h>

#include "engine/Engine.h"

namespace zeplo {

namespace {

// Whether the file holds the write, by `stored`, when that can be read.
bool holds(const std::function<bool()> &stored) noexcept
{
    if (!stored)
        return false;
    try {
        return stored();
    } catch (const std::exception &) {
        return false;   // not known: the failure stands
    }
}

} // namespace

SqliteConnection::SqliteConnection(const QString &path, Mode mode)
{
    const int flags = mode == Mode::ReadOnly    ? SQLITE_OPEN_READONLY
                      : mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE
                                                : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    // Each connection is used by one thread at a time.
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString text = errorText(db_, rc);
        close();
        throw EngineError(text);
    }
    sqlite3_busy_timeout(db_, Engine::lockWaitMs());
}

SqliteConnection &SqliteConnection::operator=(SqliteConnection &&other) noexcept
{
    if (this != &other) {
        close();
        db_ = other.db_;
        commits_ = other.commits_;
        other.db_ = nullptr;
    }
    return *this;
}

void SqliteConnection::exec(const char *sql)
{
    check(db_, sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

bool SqliteConnection::execQuietly(const char *sql) noexcept
{
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void SqliteConnection::rollBack() noexcept
{
    // SQLite may have rolled back already. A journal its rollback could not
    // play back stays hot, and in rollback-journal mode the failed write then
    // stays in the file itself until a reader plays the journal back: this
    // one reads at once.
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "SELECT 1 FROM sqlite_master LIMIT 1", nullptr, nullptr, nullptr);
}

void SqliteConnection::commit(const std::function<bool()> &stored)
{
    try {
        exec("COMMIT");
    } catch (const EngineError &) {
        rollBack();
        if (!holds(stored))
            throw;
    }
    ++commits_;
}

void SqliteConnection::close() noexcept
{
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

QString SqliteConnection::errorText(sqlite3 *db, int rc)
{
    const int primary = rc & 0xff;
    QString main = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
    if (main.isEmpty() || main == QLatin1String("not an error"))
        main = QString::fromUtf8(sqlite3_errstr(rc));
    QStringList lines;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        lines << Engine::lockedMessage();
    for (const QString &line : main.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        if (!t.isEmpty() && !lines.contains(t))
            lines << t;
    }
    if (lines.isEmpty())
        return QStringLiteral("SQLite database engine error $%1").arg(rc & 0xffff, 4, 16, QLatin1Char('0')).toUpper();
    return lines.join(QLatin1Char('\n'));
}

void SqliteConnection::raise(sqlite3 *db, int rc)
{
    throw EngineError(errorText(db, rc));
}

void SqliteConnection::check(sqlite3 *db, int rc)
{
    const int primary = rc & 0xff;
    if (primary != SQLITE_OK && primary != SQLITE_ROW && primary != SQLITE_DONE)
        raise(db, rc);
}

SqliteTransaction::SqliteTransaction(SqliteConnection &connection, Kind kind) : connection_(connection), kind_(kind)
{
    if (kind_ == Kind::Read && !sqlite3_get_autocommit(connection_.get()))
        return;
    connection_.exec(kind_ == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    open_ = true;
}

SqliteTransaction::~SqliteTransaction()
{
    if (!open_)
        return;
    if (kind_ == Kind::Write)
        connection_.rollBack();
    else
        connection_.execQuietly("COMMIT");
}

void SqliteTransaction::commit(const std::function<bool()> &stored)
{
    Q_ASSERT(open_ && kind_ == Kind::Write);
    open_ = false;   // ended either way: a failed commit rolls back
    connection_.commit(stored);
}

} // namespace zeplo
