#include "engine/SqliteEngine.h"

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include <QFileInfo>

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
        SqliteConnection::raise(db, registered);
    return connection;
}

sqlite3 *SqliteEngine::reader()
{
    if (!reader_.get())
        reader_ = openConnection(true);
    return reader_.get();
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

qint64 SqliteEngine::othersDataVersion(bool refresh)
{
    if (refresh) {
        Statement version = prepare(db(), QStringLiteral("PRAGMA data_version"));
        version.step();   // a read transaction: the pager learns of others' commits
    }
    unsigned int version = 0;
    if (sqlite3_file_control(db(), "main", SQLITE_FCNTL_DATA_VERSION, &version) != SQLITE_OK)
        return -1;
    return qint64(version) - db_.commits();
}

} // namespace zeplo
