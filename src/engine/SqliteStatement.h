#pragma once

#include <string_view>
#include <vector>

#include <QByteArray>
#include <QString>

#include "engine/SqlDialect.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zeplo {

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
