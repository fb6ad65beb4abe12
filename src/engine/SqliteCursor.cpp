#include "engine/Cursor.h"
#include "engine/SqliteEngine.h"

#include <limits>

#include <QRegularExpression>
#include <QStringList>

#include <sqlite3.h>

namespace zeplo {

namespace {

QVariant columnValue(sqlite3_stmt *stmt, int i)
{
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, i));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)),
                                          sqlite3_column_bytes(stmt, i)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, i)),
                                   sqlite3_column_bytes(stmt, i)));
    default:
        return QVariant();
    }
}

RowValues rowValues(sqlite3_stmt *stmt)
{
    const int n = sqlite3_column_count(stmt);
    RowValues values;
    values.reserve(n);
    for (int i = 0; i < n; ++i)
        values << columnValue(stmt, i);
    return values;
}

void bindValue(sqlite3 *db, sqlite3_stmt *stmt, int index, const QVariant &v)
{
    int rc = SQLITE_OK;
    if (v.isNull() || !v.isValid()) {
        rc = sqlite3_bind_null(stmt, index);
    } else {
        switch (v.typeId()) {
        case QMetaType::Bool:
            rc = sqlite3_bind_int(stmt, index, v.toBool() ? 1 : 0);
            break;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::Short:
            rc = sqlite3_bind_int64(stmt, index, v.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(stmt, index, v.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray b = v.toByteArray();
            rc = sqlite3_bind_blob(stmt, index, b.constData(), int(b.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray b = v.toString().toUtf8();
            rc = sqlite3_bind_text(stmt, index, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        }
        }
    }
    SqliteEngine::check(db, rc);
}

std::vector<ColumnInfo> describeColumns(sqlite3 *db, sqlite3_stmt *stmt)
{
    std::vector<ColumnInfo> columns;
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
        ColumnInfo c;
        c.name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        const char *decl = sqlite3_column_decltype(stmt, i);
        c.declType = QString::fromUtf8(decl ? decl : "").toUpper();
        const char *origin = sqlite3_column_origin_name(stmt, i);
        const char *table = sqlite3_column_table_name(stmt, i);
        if (origin && table) {
            c.origin = QString::fromUtf8(origin);
            int notNull = 0, primaryKey = 0, autoInc = 0;
            const char *type = nullptr;
            if (sqlite3_table_column_metadata(db, sqlite3_column_database_name(stmt, i), table, origin, &type,
                                              nullptr, &notNull, &primaryKey, &autoInc) == SQLITE_OK) {
                c.notNull = notNull != 0;
                // An INTEGER PRIMARY KEY is the row id: the table fills it.
                const bool rowIdAlias = primaryKey && type && QString::fromUtf8(type).toUpper() == QLatin1String("INTEGER");
                c.autoIncrement = autoInc != 0 || rowIdAlias;
            }
        }
        columns.push_back(c);
    }
    return columns;
}

// "count(distinct(c)) from t", where c is t's row id (its INTEGER PRIMARY
// KEY: never null, never twice), is the number of t's rows. SQLite does not
// see that and reads every row; asked for count(*), it counts the rows from
// the table's pages alone, several times faster on a large catalogue.
QString withPlainRowCount(sqlite3 *db, const QString &sql)
{
    static const QRegularExpression shape(
        QStringLiteral(R"re(^\s*select\s+(count\s*\(\s*distinct\s*(?:\(\s*([A-Za-z_]\w*)\s*\)|\s([A-Za-z_]\w*))\s*\)))re"
                       R"re((\s+as\s+[A-Za-z_]\w*)?\s+from\s+([A-Za-z_]\w*)\s*$)re"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = shape.match(sql);
    if (!m.hasMatch())
        return sql;
    const QString column = m.captured(2).isEmpty() ? m.captured(3) : m.captured(2);
    const QString table = m.captured(5);
    const char *type = nullptr;
    int primaryKey = 0;
    if (sqlite3_table_column_metadata(db, "main", table.toUtf8().constData(), column.toUtf8().constData(), &type,
                                      nullptr, nullptr, &primaryKey, nullptr) != SQLITE_OK
        || !primaryKey || !type || QString::fromUtf8(type).compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) != 0)
        return sql;
    // Only a primary key of that one column is the row id.
    Statement keys(db, QStringLiteral("select count(*) from pragma_table_info(:zeplo_table) where pk > 0"));
    keys.bindText(1, table);
    if (!keys.step() || sqlite3_column_int(keys.get(), 0) != 1)
        return sql;
    const QString alias = m.captured(4).isEmpty()
                              ? QStringLiteral(" as \"%1\"").arg(m.captured(1).replace(QLatin1Char('"'), QStringLiteral("\"\"")))
                              : m.captured(4);
    return QStringLiteral("select count(*)%1 from %2").arg(alias, table);
}

// A result read whole when it is opened: aggregates, joins and anything else
// that has no row ids. It cannot be changed.
class StaticCursor final : public Cursor {
public:
    StaticCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql) : engine_(engine)
    {
        Statement stmt(engine->db(), withPlainRowCount(engine->db(), sql.sql));
        sql.bind(stmt);
        columns_ = describeColumns(engine->db(), stmt.get());
        while (stmt.step())
            rows_.push_back(rowValues(stmt.get()));
    }
    bool updatable() const override { return false; }
    bool fetchTo(qsizetype index) override { return index >= 0 && index < qsizetype(rows_.size()); }
    bool complete() const override { return true; }
    qsizetype knownCount() const override { return qsizetype(rows_.size()); }
    qsizetype countRows() override { return qsizetype(rows_.size()); }
    RowValues row(qsizetype index) override { return fetchTo(index) ? rows_[size_t(index)] : RowValues(); }
    void update(qsizetype, const RowValues &, const RowValues &) override { refuse(); }
    void insert(qsizetype, const RowValues &) override { refuse(); }
    void remove(qsizetype) override { refuse(); }

private:
    [[noreturn]] static void refuse() { throw EngineError(QStringLiteral("The result of this query cannot be changed")); }
    std::shared_ptr<SqliteEngine> engine_;
    std::vector<RowValues> rows_;
};

// A keyset cursor: the statement yields only row ids, stepped as far as the
// caller looks; the values of a row are read by its id when they are needed.
class KeysetCursor final : public Cursor {
public:
    KeysetCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql, const SimpleSelect &select)
        : engine_(engine), sql_(sql), table_(select.table)
    {
        rowSql_ = QStringLiteral("select %1 from %2 where rowid = :zeplo_rowid").arg(select.columns, select.table);
        keysSql_ = QStringLiteral("select rowid from %1 %2").arg(select.table, withCzechOrdering(select.rest));
        rowStmt_ = Statement(engine->db(), rowSql_);
        sql_.bind(rowStmt_);
        columns_ = describeColumns(engine->db(), rowStmt_.get());
        // The keys are read on the second connection so that a half-read
        // result holds no lock that a writer would wait for.
        keysStmt_ = Statement(engine->walMode() ? engine->reader() : engine->db(), keysSql_);
        sql_.bind(keysStmt_);
    }

    bool updatable() const override { return !engine_->readOnly(); }

    bool fetchTo(qsizetype index) override
    {
        if (index < 0)
            return false;
        while (!done_ && qsizetype(keys_.size()) <= index) {
            if (keysStmt_.step()) {
                keys_.push_back(sqlite3_column_int64(keysStmt_.get(), 0));
            } else {
                done_ = true;
                keysStmt_.finalize();   // ends the read transaction
            }
        }
        return index < qsizetype(keys_.size());
    }
    bool complete() const override { return done_; }
    qsizetype knownCount() const override { return qsizetype(keys_.size()); }

    qsizetype countRows() override
    {
        if (done_)
            return qsizetype(keys_.size());
        Statement count(engine_->db(), QStringLiteral("select count(*) from (%1)").arg(keysSql_));
        sql_.bind(count);
        if (!count.step())
            throw EngineError(QStringLiteral("The engine gave no count of the rows of the result"));
        return qsizetype(sqlite3_column_int64(count.get(), 0));
    }

    RowValues row(qsizetype index) override
    {
        if (!fetchTo(index))
            return {};
        return readRow(keys_[size_t(index)]);
    }

    void update(qsizetype index, const RowValues &original, const RowValues &values) override
    {
        const qint64 id = keys_.at(size_t(index));
        QStringList sets, same;
        QList<int> setColumns, sameColumns;
        for (int i = 0; i < int(columns_.size()); ++i) {
            if (columns_[size_t(i)].origin.isEmpty())
                continue;
            const QString col = quoted(columns_[size_t(i)].origin);
            if (!columns_[size_t(i)].autoIncrement) {
                sets << QStringLiteral("%1 = ?").arg(col);
                setColumns << i;
            }
            same << QStringLiteral("%1 IS ?").arg(col);
            sameColumns << i;
        }
        if (sets.isEmpty())
            return;
        beforeWrite();
        Transaction txn(*engine_);
        Statement stmt(engine_->db(), QStringLiteral("update %1 set %2 where rowid = ? and %3")
                                          .arg(table_, sets.join(QStringLiteral(", ")),
                                               same.join(QStringLiteral(" and "))));
        int p = 1;
        for (int i : setColumns)
            bindValue(engine_->db(), stmt.get(), p++, values.value(i));
        bindValue(engine_->db(), stmt.get(), p++, QVariant(id));
        for (int i : sameColumns)
            bindValue(engine_->db(), stmt.get(), p++, original.value(i));
        stmt.step();
        if (sqlite3_changes(engine_->db()) == 0) {
            if (readRow(id).isEmpty())
                throw EngineError(QStringLiteral("The record was deleted by another user after it was read; "
                                                 "the change has not been saved"));
            throw EngineError(QStringLiteral("The record was changed by another user after it was read; "
                                             "the change has not been saved, so that the other change is not lost"));
        }
        txn.commit();
    }

    void insert(qsizetype index, const RowValues &values) override
    {
        QStringList names, marks;
        QList<int> used;
        for (int i = 0; i < int(columns_.size()); ++i) {
            const ColumnInfo &c = columns_[size_t(i)];
            if (c.origin.isEmpty() || c.autoIncrement || values.value(i).isNull())
                continue;
            names << quoted(c.origin);
            marks << QStringLiteral("?");
            used << i;
        }
        beforeWrite();
        Transaction txn(*engine_);
        Statement stmt(engine_->db(), names.isEmpty()
                                          ? QStringLiteral("insert into %1 default values").arg(table_)
                                          : QStringLiteral("insert into %1 (%2) values (%3)")
                                                .arg(table_, names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
        int p = 1;
        for (int i : used)
            bindValue(engine_->db(), stmt.get(), p++, values.value(i));
        stmt.step();
        const qint64 id = sqlite3_last_insert_rowid(engine_->db());
        txn.commit();
        keys_.insert(keys_.begin() + std::min<qsizetype>(index, qsizetype(keys_.size())), id);
    }

    void remove(qsizetype index) override
    {
        const qint64 id = keys_.at(size_t(index));
        beforeWrite();
        Transaction txn(*engine_);
        Statement stmt(engine_->db(), QStringLiteral("delete from %1 where rowid = ?").arg(table_));
        bindValue(engine_->db(), stmt.get(), 1, QVariant(id));
        stmt.step();   // a row that is already gone is not an error
        txn.commit();
        keys_.erase(keys_.begin() + index);
    }

private:
    // BEGIN IMMEDIATE takes the write lock at once, so a busy catalogue is
    // reported before anything is changed; an exception rolls back.
    class Transaction {
    public:
        explicit Transaction(SqliteEngine &engine) : engine_(engine) { engine_.exec("BEGIN IMMEDIATE"); }
        ~Transaction()
        {
            if (!done_)
                sqlite3_exec(engine_.db(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        void commit()
        {
            engine_.exec("COMMIT");
            done_ = true;
        }

    private:
        SqliteEngine &engine_;
        bool done_ = false;
    };

    static QString quoted(const QString &name)
    {
        QString q = name;
        q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + q + QLatin1Char('"');
    }

    // Without a write-ahead log the keys are read on the writing connection,
    // whose open statement would keep the file locked: finish it first.
    void beforeWrite()
    {
        if (!engine_->walMode())
            fetchTo(std::numeric_limits<qsizetype>::max() - 1);
    }

    RowValues readRow(qint64 id)
    {
        rowStmt_.reset();
        rowStmt_.bindNamed(":zeplo_rowid", id);
        RowValues values;
        if (rowStmt_.step())
            values = rowValues(rowStmt_.get());
        rowStmt_.reset();
        return values;
    }

    std::shared_ptr<SqliteEngine> engine_;
    TranslatedSql sql_;
    QString table_;
    QString rowSql_;
    QString keysSql_;
    Statement rowStmt_;
    Statement keysStmt_;
    std::vector<qint64> keys_;
    bool done_ = false;
};

} // namespace

std::unique_ptr<Cursor> SqliteEngine::openCursor(const QString &dialectSql, bool live)
{
    const auto engine = shared_from_this();
    const TranslatedSql sql = translateSql(dialectSql);
    if (live) {
        if (const auto select = parseSimpleSelect(sql.sql))
            return std::make_unique<KeysetCursor>(engine, sql, *select);
    }
    return std::make_unique<StaticCursor>(engine, sql);
}

} // namespace zeplo
