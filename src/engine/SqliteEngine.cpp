#include "engine/SqliteEngine.h"


#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

#include "engine/CzechText.h"
#include "engine/FileSystem.h"

namespace zeplo {

namespace {


QByteArray utf8(sqlite3_value *v)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(sqlite3_value_text(v)),
                                   sqlite3_value_bytes(v));
}

// The engine's own LIKE: case-insensitive for every letter, Czech ones included.
void likeFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (argc == 3) {
        sqlite3_result_error(ctx, "LIKE with ESCAPE is not supported", -1);
        return;
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return;   // NULL result
    const QByteArray pattern = utf8(argv[0]);
    const QByteArray text = utf8(argv[1]);
    sqlite3_result_int(ctx, czech::likeMatch(std::string_view(pattern.constData(), size_t(pattern.size())),
                                             std::string_view(text.constData(), size_t(text.size())))
                                ? 1 : 0);
}

// Sort key for ORDER BY: texts in Czech alphabetical order; other values as they are.
void sortKeyFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) {
        sqlite3_result_value(ctx, argv[0]);
        return;
    }
    const QByteArray text = utf8(argv[0]);
    const std::string key = czech::sortKey(std::string_view(text.constData(), size_t(text.size())));
    sqlite3_result_blob(ctx, key.data(), int(key.size()), SQLITE_TRANSIENT);
}

// Without these the catalogue would still open, but searches and sorting
// would quietly lose their Czech rules: a failure is the engine's error.
int registerFunctions(sqlite3 *db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    int rc = sqlite3_create_function_v2(db, "like", 2, flags, nullptr, likeFunction, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "like", 3, flags, nullptr, likeFunction, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "zeplo_sortkey", 1, flags, nullptr, sortKeyFunction, nullptr, nullptr,
                                        nullptr);
    return rc;
}

} // namespace

SqliteEngine::SqliteEngine(const QString &path) : path_(path)
{
    db_ = openConnection(false);
    readOnly_ = sqlite3_db_readonly(db_, "main") == 1;
    // Readers must never hold up a writer (two copies of the program, or a
    // keyset still being read while a row is posted), so the catalogue is kept
    // in write-ahead-log mode whenever it can be written. On a network file
    // system the log's shared index would not be shared between computers:
    // there the file keeps (or goes back to) the rollback journal.
    const QString journal = readOnly_                   ? QStringLiteral("PRAGMA journal_mode")
                            : onNetworkFileSystem(path_) ? QStringLiteral("PRAGMA journal_mode=DELETE")
                                                         : QStringLiteral("PRAGMA journal_mode=WAL");
    Statement mode(db_, journal);
    if (mode.step())
        wal_ = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(mode.get(), 0)))
                   .compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
}

SqliteEngine::~SqliteEngine()
{
    if (reader_)
        sqlite3_close_v2(reader_);
    if (db_)
        sqlite3_close_v2(db_);
}

sqlite3 *SqliteEngine::openConnection(bool forReading)
{
    sqlite3 *db = nullptr;
    // A file whose permissions forbid writing is opened for reading only, even
    // for a user (root) whom the system would let write it anyway.
    const QFile::Permissions writable = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    const bool readOnlyFile = QFileInfo::exists(path_) && !(QFileInfo(path_).permissions() & writable);
    const int flags = (forReading || readOnlyFile ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(QFile::encodeName(path_).constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        QString text = errorText(db, rc);
        sqlite3_close_v2(db);
        if ((rc & 0xff) == SQLITE_CANTOPEN && !QFileInfo::exists(path_))
            text = QStringLiteral("Table zeplo not found: the catalogue file %1 does not exist").arg(path_);
        throw EngineError(text);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, Engine::lockWaitMs());
    const int registered = registerFunctions(db);
    if (registered != SQLITE_OK) {
        const QString text = errorText(db, registered);
        sqlite3_close_v2(db);
        throw EngineError(text);
    }
    return db;
}

sqlite3 *SqliteEngine::reader()
{
    if (!reader_)
        reader_ = openConnection(true);
    return reader_;
}

QString SqliteEngine::errorText(sqlite3 *db, int rc)
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

void SqliteEngine::raise(sqlite3 *db, int rc)
{
    throw EngineError(errorText(db, rc));
}

void SqliteEngine::check(sqlite3 *db, int rc)
{
    const int primary = rc & 0xff;
    if (primary != SQLITE_OK && primary != SQLITE_ROW && primary != SQLITE_DONE)
        raise(db, rc);
}

void SqliteEngine::exec(const char *sql)
{
    check(db_, sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

Statement::Statement(sqlite3 *db, const QString &sql) : db_(db)
{
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v3(db, text.constData(), int(text.size()), 0, &stmt_, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        SqliteEngine::raise(db, rc);
    }
    if (!stmt_)
        throw EngineError(QStringLiteral("No SQL statement available"));
}

Statement::~Statement()
{
    finalize();
}

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        finalize();
        stmt_ = other.stmt_;
        db_ = other.db_;
        other.stmt_ = nullptr;
    }
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const QString text = SqliteEngine::errorText(db_, rc);
    sqlite3_reset(stmt_);
    throw EngineError(text);
}

void Statement::reset()
{
    if (stmt_)
        sqlite3_reset(stmt_);
}

void Statement::finalize()
{
    if (stmt_)
        sqlite3_finalize(stmt_);
    stmt_ = nullptr;
}

void Statement::bindText(int index, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    SqliteEngine::check(db_, sqlite3_bind_text(stmt_, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT));
}

void Statement::bindNamed(const char *name, qint64 value)
{
    const int index = sqlite3_bind_parameter_index(stmt_, name);
    if (index > 0)
        SqliteEngine::check(db_, sqlite3_bind_int64(stmt_, index, value));
}

} // namespace zeplo
