#include "engine/SqliteEngine.h"

#include <atomic>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>

#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

#include "engine/CzechLike.h"
#include "engine/CzechSortKey.h"
#include "engine/FileSystem.h"
#include "engine/SqliteRows.h"

namespace zeplo {

namespace {


std::string_view utf8(sqlite3_value *v)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return std::string_view(text ? text : "", size_t(sqlite3_value_bytes(v)));
}

// The engine's own LIKE: case-insensitive for every letter, Czech ones included.
// The pattern is prepared once per statement and kept with it.
void likeFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (argc == 3) {
        sqlite3_result_error(ctx, "LIKE with ESCAPE is not supported", -1);
        return;
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return;   // NULL result
    auto *pattern = static_cast<czech::LikePattern *>(sqlite3_get_auxdata(ctx, 0));
    if (!pattern) {
        pattern = new czech::LikePattern(utf8(argv[0]));
        sqlite3_set_auxdata(ctx, 0, pattern, [](void *p) { delete static_cast<czech::LikePattern *>(p); });
        // SQLite may drop the data at once (a pattern that is not constant).
        pattern = static_cast<czech::LikePattern *>(sqlite3_get_auxdata(ctx, 0));
        if (!pattern) {
            sqlite3_result_int(ctx, czech::likeMatch(utf8(argv[0]), utf8(argv[1])) ? 1 : 0);
            return;
        }
    }
    sqlite3_result_int(ctx, pattern->matches(utf8(argv[1])) ? 1 : 0);
}

// Sort key for ORDER BY: texts in Czech alphabetical order; other values as
// they are. With a second argument, the row id, a text's key ends in it, so
// that rows with equal texts keep a fixed order while the sorter still
// compares one text per row (SQLite's sorter compares a leading text by
// memcmp, and anything else field by field). The key is ASCII, so it is the
// same text in every database encoding.
void sortKeyFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) {
        sqlite3_result_value(ctx, argv[0]);
        return;
    }
    std::string &buffer = *static_cast<std::string *>(sqlite3_user_data(ctx));
    std::size_t n = czech::sortKeyInto(utf8(argv[0]), buffer);
    if (argc == 2) {
        // The row id in base 64 (digits 0x02..0x41) behind a byte below every
        // byte of a key, led by its number of digits (0x03 + n), or by 0x02
        // and all eleven digits of id + 2^63 when it is negative: shorter
        // numbers are the smaller ones, so the order is the ids' order.
        constexpr int kMaxDigits = 11;
        if (buffer.size() < n + 2 + kMaxDigits)
            buffer.resize(n + 2 + kMaxDigits);
        buffer[n++] = '\x01';
        const qint64 id = sqlite3_value_int64(argv[1]);
        const quint64 value = id < 0 ? quint64(id) ^ (quint64(1) << 63) : quint64(id);
        int digits = kMaxDigits;
        if (id >= 0)
            for (digits = 1; digits < kMaxDigits && (value >> (6 * digits)) != 0; ++digits) {}
        buffer[n++] = char(id < 0 ? 0x02 : 0x03 + digits);
        for (int i = digits - 1; i >= 0; --i)
            buffer[n++] = char(0x02 + ((value >> (6 * i)) & 0x3F));
    }
    sqlite3_result_text(ctx, buffer.data(), int(n), SQLITE_TRANSIENT);
}

// Without these the catalogue would still open, but searches and sorting
// would quietly lose their Czech rules: a failure is the engine's error.
int registerFunctions(sqlite3 *db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    int rc = sqlite3_create_function_v2(db, "like", 2, flags, nullptr, likeFunction, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "like", 3, flags, nullptr, likeFunction, nullptr, nullptr, nullptr);
    // One key buffer per connection, reused for every row; the second
    // registration owns it and frees it with the connection.
    auto *buffer = new std::string;
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "zeplo_sortkey", 1, flags, buffer, sortKeyFunction, nullptr, nullptr,
                                        nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "zeplo_sortkey", 2, flags, buffer, sortKeyFunction, nullptr, nullptr,
                                        [](void *p) { delete static_cast<std::string *>(p); });
    else
        delete buffer;
    return rc;
}

std::atomic<bool> keepRollbackJournal{false};

} // namespace

void SqliteEngine::setRollbackJournal(bool keep)
{
    keepRollbackJournal = keep;
}

bool SqliteEngine::rollbackJournal()
{
    return keepRollbackJournal;
}

SqliteEngine::SqliteEngine(const QString &path) : path_(path)
{
    db_ = openConnection(false);
    readOnly_ = sqlite3_db_readonly(db(), "main") == 1;
    // Readers must never hold up a writer (two copies of the program, or a
    // keyset still being read while a row is posted), so the catalogue is kept
    // in write-ahead-log mode whenever it can be written. On a network file
    // system the log's shared index would not be shared between computers:
    // there the file keeps (or goes back to) the rollback journal.
    const bool shared = keepRollbackJournal || onNetworkFileSystem(path_);
    const QString journal = readOnly_ ? QStringLiteral("PRAGMA journal_mode")
                            : shared  ? QStringLiteral("PRAGMA journal_mode=DELETE")
                                      : QStringLiteral("PRAGMA journal_mode=WAL");
    Statement mode(db(), journal);
    if (mode.step())
        wal_ = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(mode.get(), 0)))
                   .compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
}

SqliteEngine::~SqliteEngine()
{
    pool_.clear();
    reader_.close();
    db_.close();
}

SqliteConnection SqliteEngine::openConnection(bool forReading)
{
    // A sort is written as runs no larger than the page cache, each sorted in
    // memory, then merged. Runs of half a megabyte sort within the processor's
    // caches, and a 1,000,000-book sort takes some 20 % less time than with
    // SQLite's runs of 2 to 4 MB; lists are read in order, so that page cache
    // is plenty. The run size has a floor in pages that must come down with it,
    // and can be set only before SQLite is first used (otherwise the default
    // simply stays).
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_PMASZ, 32); });
    // A file whose permissions forbid writing is opened for reading only, even
    // for a user (root) whom the system would let write it anyway.
    const QFile::Permissions writable = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    const bool readOnlyFile = QFileInfo::exists(path_) && !(QFileInfo(path_).permissions() & writable);
    SqliteConnection connection;
    try {
        connection = SqliteConnection(path_, forReading || readOnlyFile ? SqliteConnection::Mode::ReadOnly
                                                                        : SqliteConnection::Mode::ReadWrite);
    } catch (const EngineError &) {
        if (!QFileInfo::exists(path_))
            throw EngineError(QStringLiteral("Table zeplo not found: the catalogue file %1 does not exist").arg(path_));
        throw;
    }
    sqlite3 *db = connection.get();
    sqlite3_extended_result_codes(db, 1);
    connection.execQuietly("PRAGMA cache_size=-512");   // in KB; without it only sorting is slower
    const int registered = registerFunctions(db);
    if (registered != SQLITE_OK)
        raise(db, registered);
    return connection;
}

sqlite3 *SqliteEngine::reader()
{
    if (!reader_.get())
        reader_ = openConnection(true);
    return reader_.get();
}

SqliteConnection::SqliteConnection(const QString &path, Mode mode)
{
    const int flags = mode == Mode::ReadOnly    ? SQLITE_OPEN_READONLY
                      : mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE
                                                : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    // Each connection is used by one thread at a time.
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString text = SqliteEngine::errorText(db_, rc);
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
        other.db_ = nullptr;
    }
    return *this;
}

void SqliteConnection::exec(const char *sql)
{
    SqliteEngine::check(db_, sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
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
}

bool SqliteConnection::holds(const std::function<bool()> &stored) noexcept
{
    try {
        return stored();
    } catch (const std::exception &) {
        return false;   // not known: the failure stands
    }
}

void SqliteConnection::close() noexcept
{
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
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

std::unique_ptr<Cursor> SqliteEngine::openCursor(const QString &dialectSql, bool live)
{
    const auto engine = shared_from_this();
    const TranslatedSql sql = translateSql(dialectSql);
    if (live) {
        if (const auto select = parseSimpleSelect(sql.sql))
            return openSqliteKeysetCursor(engine, sql, *select);
    }
    return openSqliteStaticCursor(engine, sql);
}

Statement SqliteEngine::prepare(sqlite3 *db, const QString &sql)
{
    return Statement(db, sql, &pool_);
}

void SqliteEngine::commit(const std::function<bool()> &stored)
{
    try {
        exec("COMMIT");
    } catch (const EngineError &) {
        db_.rollBack();
        if (!SqliteConnection::holds(stored))
            throw;
    }
    ++commits_;
}

qint64 SqliteEngine::othersDataVersion(bool refresh)
{
    if (refresh) {
        Statement version = prepare(db(), QStringLiteral("PRAGMA data_version"));
        version.step();   // a read transaction: the pager learns of others' commits
    }
    unsigned int version = 0;
    if (sqlite3_file_control(db(), "main", SQLITE_FCNTL_DATA_VERSION, &version) != SQLITE_OK)
        return -1;
    return qint64(version) - commits_;
}

void SqliteEngine::exec(const char *sql)
{
    Statement statement = prepare(db(), QString::fromLatin1(sql));
    statement.step();
}

sqlite3_stmt *StatementPool::take(sqlite3 *db, const QByteArray &sql)
{
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (it->db == db && it->sql == sql) {
            sqlite3_stmt *stmt = it->stmt;
            kept_.erase(it);
            return stmt;
        }
    }
    return nullptr;
}

void StatementPool::give(sqlite3 *db, const QByteArray &sql, sqlite3_stmt *stmt)
{
    constexpr std::size_t kLimit = 32;
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    for (const Kept &k : kept_) {
        if (k.db == db && k.sql == sql) {   // a twin is kept already
            sqlite3_finalize(stmt);
            return;
        }
    }
    if (kept_.size() >= kLimit) {
        sqlite3_finalize(kept_.front().stmt);
        kept_.erase(kept_.begin());
    }
    kept_.push_back({db, sql, stmt});
}

void StatementPool::clear()
{
    for (const Kept &k : kept_)
        sqlite3_finalize(k.stmt);
    kept_.clear();
}

Statement::Statement(sqlite3 *db, const QString &sql, StatementPool *pool) : db_(db), pool_(pool)
{
    const QByteArray text = sql.toUtf8();
    if (pool_) {
        sql_ = text;
        stmt_ = pool_->take(db, text);
        reused_ = stmt_ != nullptr;
        if (stmt_)
            return;
    }
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
        pool_ = other.pool_;
        sql_ = std::move(other.sql_);
        reused_ = other.reused_;
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
    if (stmt_ && pool_)
        pool_->give(db_, sql_, stmt_);
    else if (stmt_)
        sqlite3_finalize(stmt_);
    stmt_ = nullptr;
}

void Statement::bindText(int index, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    SqliteEngine::check(db_, sqlite3_bind_text(stmt_, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT));
}

void Statement::bind(const TranslatedSql &sql)
{
    for (qsizetype i = 0; i < sql.params.size(); ++i) {
        const QByteArray name = QStringLiteral(":zl%1").arg(i + 1).toLatin1();
        const int index = sqlite3_bind_parameter_index(stmt_, name.constData());
        if (index > 0)
            bindText(index, sql.params.at(i));
    }
}

void Statement::bindNull(int index)
{
    SqliteEngine::check(db_, sqlite3_bind_null(stmt_, index));
}

void Statement::bindInt64(int index, qint64 value)
{
    SqliteEngine::check(db_, sqlite3_bind_int64(stmt_, index, value));
}

void Statement::bindUtf8(int index, std::string_view text)
{
    if (text.size() > std::size_t(std::numeric_limits<int>::max()))
        throw EngineError(QString::fromUtf8(sqlite3_errstr(SQLITE_TOOBIG)));
    SqliteEngine::check(db_, sqlite3_bind_text(stmt_, index, text.data(), int(text.size()), SQLITE_STATIC));
}

Statement::Type Statement::columnType(int column) const
{
    switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER:
        return Type::Integer;
    case SQLITE_FLOAT:
        return Type::Real;
    case SQLITE_TEXT:
        return Type::Text;
    case SQLITE_BLOB:
        return Type::Blob;
    default:
        return Type::Null;
    }
}

qint64 Statement::columnInt64(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

double Statement::columnDouble(int column) const
{
    return sqlite3_column_double(stmt_, column);
}

std::string_view Statement::columnUtf8(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    return text ? std::string_view(text, std::size_t(sqlite3_column_bytes(stmt_, column))) : std::string_view();
}

void Statement::bindNamed(const char *name, qint64 value)
{
    const int index = sqlite3_bind_parameter_index(stmt_, name);
    if (index > 0)
        SqliteEngine::check(db_, sqlite3_bind_int64(stmt_, index, value));
}

} // namespace zeplo
