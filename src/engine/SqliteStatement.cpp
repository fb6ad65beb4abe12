#include "engine/SqliteStatement.h"

#include <limits>

#include <sqlite3.h>

#include "engine/Engine.h"
#include "engine/SqliteConnection.h"

namespace zeplo {

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
        SqliteConnection::raise(db, rc);
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
    const QString text = SqliteConnection::errorText(db_, rc);
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
    SqliteConnection::check(db_,
                            sqlite3_bind_text(stmt_, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT));
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
    SqliteConnection::check(db_, sqlite3_bind_null(stmt_, index));
}

void Statement::bindInt64(int index, qint64 value)
{
    SqliteConnection::check(db_, sqlite3_bind_int64(stmt_, index, value));
}

void Statement::bindUtf8(int index, std::string_view text)
{
    if (text.size() > std::size_t(std::numeric_limits<int>::max()))
        throw EngineError(QString::fromUtf8(sqlite3_errstr(SQLITE_TOOBIG)));
    SqliteConnection::check(db_, sqlite3_bind_text(stmt_, index, text.data(), int(text.size()), SQLITE_STATIC));
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
        SqliteConnection::check(db_, sqlite3_bind_int64(stmt_, index, value));
}

} // namespace zeplo
