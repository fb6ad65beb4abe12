#include "engine/Cursor.h"
#include "engine/Keyset.h"
#include "engine/SqliteEngine.h"

#include <algorithm>
#include <deque>
#include <limits>

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

RowValues rowValues(sqlite3_stmt *stmt, int n, int first = 0)
{
    RowValues values;
    values.reserve(n);
    for (int i = first; i < first + n; ++i)
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
    const std::optional<KeyCount> count = parseKeyCount(sql);
    if (!count)
        return sql;
    const char *type = nullptr;
    int primaryKey = 0, autoIncrement = 0;
    if (sqlite3_table_column_metadata(db, "main", count->table.toUtf8().constData(), count->column.toUtf8().constData(),
                                      &type, nullptr, nullptr, &primaryKey, &autoIncrement) != SQLITE_OK
        || !primaryKey || !type || QString::fromUtf8(type).compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) != 0)
        return sql;
    // Only a primary key of that one column is the row id. AUTOINCREMENT is
    // allowed on nothing else, which spares asking for the table's keys.
    if (!autoIncrement) {
        Statement keys(db, QStringLiteral("select count(*) from pragma_table_info(:zeplo_table) where pk > 0"));
        keys.bindText(1, count->table);
        if (!keys.step() || sqlite3_column_int(keys.get(), 0) != 1)
            return sql;
    }
    QString expression = count->expression;
    return count->rowCount(QLatin1Char('"') + expression.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"'));
}

class SqliteStaticCursor final : public StaticCursor {
public:
    SqliteStaticCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql)
    {
        Statement stmt(engine->db(), withPlainRowCount(engine->db(), sql.sql));
        sql.bind(stmt);
        columns_ = describeColumns(engine->db(), stmt.get());
        while (stmt.step())
            rows_.push_back(rowValues(stmt.get(), sqlite3_column_count(stmt.get())));
    }
};

// A keyset cursor: the statement yields only row ids, stepped as far as the
// caller looks; the values of a row are read by its id when they are needed.
//
// When the query's order can be turned round, a second statement yields the
// ids from the last row back (see Keyset). Both run on one connection inside
// one read transaction, so they read one snapshot.
//
// A query without an order has its ids read in row id order, and then the
// statements yield the rows' values with their ids: the rows a move brings in
// were just stepped over, so they come from there instead of being read a
// second time. Those values are as the table was when the keys began to be
// read; they are used only while no other program has changed the table since
// (the writing connection's data version tells), and never for a row written
// here.
class KeysetCursor final : public Cursor {
public:
    KeysetCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql, const SimpleSelect &select)
        : engine_(engine), sql_(sql), table_(select.table)
    {
        const KeysetOrder order = keysetOrder(select.rest);
        carries_ = order.byRowId;
        const QString keys = carries_ ? QStringLiteral("rowid, %1").arg(select.columns) : QStringLiteral("rowid");
        keysSql_ = QStringLiteral("select %1 from %2 %3").arg(keys, select.table, order.forward);
        if (!order.backward.isEmpty())
            backSql_ = QStringLiteral("select %1 from %2 %3").arg(keys, select.table, order.backward);
        countSql_ = countQuery(select.table, select.rest, QStringLiteral("rowid"));
        rowStmt_ = engine->prepare(engine->db(), QStringLiteral("select %1 from %2 where rowid = :zeplo_rowid")
                                                     .arg(select.columns, select.table));
        rangeSql_ = QStringLiteral("select %1, rowid from %2 where rowid between :zeplo_low and :zeplo_high")
                        .arg(select.columns, select.table);
        sql_.bind(rowStmt_);
        if (rowStmt_.reused()) {
            // Kept from an earlier opening, it was prepared against the table
            // as it was then: a step has SQLite check the table and prepare it
            // again if it changed, or fail as a fresh one would.
            readRow(std::numeric_limits<qint64>::min());
        }
        columns_ = describeColumns(engine->db(), rowStmt_.get());
        // The keys are read on the second connection so that a half-read
        // result holds no lock that a writer would wait for.
        keysDb_ = engine->walMode() ? engine->reader() : engine->db();
        keysStmt_ = engine->prepare(keysDb_, keysSql_);
        sql_.bind(keysStmt_);
        // Before the keys' snapshot begins; as of the writing connection's
        // last transaction, so another program's change made since makes the
        // kept values suspect even when the snapshot has it.
        if (carries_)
            dataVersion_ = engine->othersDataVersion(false);
    }

    bool updatable() const override { return !engine_->readOnly(); }
    bool readsFromEnd() const override { return !backSql_.isEmpty(); }

    bool fetchTo(qsizetype index) override
    {
        // Without a write-ahead log the keys are read on the writing
        // connection, where an unfinished statement would hold a read lock
        // that keeps every other program from writing for as long as the list
        // is shown: there they are read whole at the first look.
        if (!engine_->walMode()) {
            while (!keys_.complete())
                stepForward(keys_.frontCount() < kCarried);
        }
        // Values are kept only for the last rows stepped over on the way.
        if (index >= 0) {
            while (!keys_.complete() && keys_.frontCount() <= index)
                stepForward(index - keys_.frontCount() < kCarried);
            return index < knownCount();
        }
        if (backSql_.isEmpty())
            return false;
        while (!keys_.complete() && keys_.backCount() < -index)
            stepBackward(-index - keys_.backCount() <= kCarried);
        return -index <= knownCount();
    }
    bool complete() const override { return keys_.complete(); }
    qsizetype knownCount() const override { return keys_.known(); }

    qsizetype countRows() override
    {
        if (keys_.complete())
            return knownCount();
        Statement count = engine_->prepare(engine_->db(), countSql_);
        sql_.bind(count);
        if (!count.step())
            throw EngineError(QStringLiteral("The engine gave no count of the rows of the result"));
        return qsizetype(sqlite3_column_int64(count.get(), 0));
    }

    RowValues row(qsizetype index) override
    {
        if (!fetchTo(index))
            return {};
        return readRow(keys_.at(index));
    }

    std::vector<RowValues> rows(qsizetype first, qsizetype count) override
    {
        // Values stepped over in the snapshot that begins now are as fresh as a read.
        const bool snapshotBeginsNow = !keys_.started();
        std::vector<qint64> ids;
        for (qsizetype i = first; i < first + count && (first >= 0 || i < 0) && fetchTo(i); ++i)
            ids.push_back(keys_.at(i));
        std::vector<RowValues> out;
        if (ids.empty())
            return out;
        out.reserve(ids.size());
        if (carried(first, ids, snapshotBeginsNow, out))
            return out;
        // One read transaction for them all: starting one costs more than
        // reading a row.
        ReadTransaction txn(*engine_);
        const auto [low, high] = std::minmax_element(ids.begin(), ids.end());
        if (ids.size() >= 4 && quint64(*high - *low) < 2 * ids.size()) {
            // Ids close together (a list in row id order) are read in one
            // pass over the table, not looked up one by one.
            readRange(ids, *low, *high, out);
            return out;
        }
        for (qint64 id : ids)
            out.push_back(readRow(id));
        return out;
    }

    void update(qsizetype index, const RowValues &original, const RowValues &values) override
    {
        const qint64 id = keys_.at(index);
        QStringList sets;
        QList<int> setColumns;
        for (int i = 0; i < int(columns_.size()); ++i) {
            if (columns_[size_t(i)].origin.isEmpty() || columns_[size_t(i)].autoIncrement)
                continue;
            sets << QStringLiteral("%1 = ?").arg(quoted(columns_[size_t(i)].origin));
            setColumns << i;
        }
        if (sets.isEmpty())
            return;
        beforeWrite();
        Transaction txn(*engine_);
        QList<int> sameColumns;
        Statement stmt = engine_->prepare(engine_->db(), QStringLiteral("update %1 set %2 where %3")
                                                             .arg(table_, sets.join(QStringLiteral(", ")),
                                                                  asRead(original, sameColumns)));
        int p = 1;
        for (int i : setColumns)
            bindValue(engine_->db(), stmt.get(), p++, values.value(i));
        bindValue(engine_->db(), stmt.get(), p++, QVariant(id));
        for (int i : sameColumns)
            bindValue(engine_->db(), stmt.get(), p++, original.value(i));
        stmt.step();
        forgetCarried(id);
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
        Statement stmt = engine_->prepare(engine_->db(), names.isEmpty()
                                                             ? QStringLiteral("insert into %1 default values").arg(table_)
                                                             : QStringLiteral("insert into %1 (%2) values (%3)")
                                                                   .arg(table_, names.join(QLatin1Char(',')),
                                                                        marks.join(QLatin1Char(','))));
        int p = 1;
        for (int i : used)
            bindValue(engine_->db(), stmt.get(), p++, values.value(i));
        stmt.step();
        // A trigger may drop the row: then nothing was stored, and the row id
        // would be another row's.
        if (sqlite3_changes(engine_->db()) != 1)
            throw EngineError(QStringLiteral("The catalogue stored no row for the new record; a trigger of the table "
                                             "may have dropped it"));
        const qint64 id = sqlite3_last_insert_rowid(engine_->db());
        txn.commit();
        forgetCarried(0);   // positions shift
        // The statements read a snapshot taken before this row existed, so
        // neither will yield it unless begun again: it is placed here once and for all.
        keys_.insert(index, id);
        if (!keys_.complete())
            posted_.push_back(id);
    }

    void remove(qsizetype index, const RowValues &original) override
    {
        const qint64 id = keys_.at(index);
        beforeWrite();
        Transaction txn(*engine_);
        QList<int> sameColumns;
        Statement stmt = engine_->prepare(engine_->db(), QStringLiteral("delete from %1 where %2")
                                                             .arg(table_, asRead(original, sameColumns)));
        int p = 1;
        bindValue(engine_->db(), stmt.get(), p++, QVariant(id));
        for (int i : sameColumns)
            bindValue(engine_->db(), stmt.get(), p++, original.value(i));
        stmt.step();
        forgetCarried(id);
        // A row that is already gone counts as deleted: nothing is lost.
        if (sqlite3_changes(engine_->db()) == 0 && !readRow(id).isEmpty())
            throw EngineError(QStringLiteral("The record was changed by another user after it was read; "
                                             "it has not been deleted"));
        txn.commit();
        forgetCarried(0);   // positions shift
        keys_.remove(index);
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
            engine_.commit();
            done_ = true;
        }

    private:
        SqliteEngine &engine_;
        bool done_ = false;
    };

    // Several reads as one transaction on the writing connection, unless it
    // is inside one already.
    class ReadTransaction {
    public:
        explicit ReadTransaction(SqliteEngine &engine) : engine_(engine)
        {
            if (sqlite3_get_autocommit(engine_.db())) {
                engine_.exec("BEGIN");
                open_ = true;
            }
        }
        ~ReadTransaction()
        {
            if (open_)
                sqlite3_exec(engine_.db(), "COMMIT", nullptr, nullptr, nullptr);
        }
        ReadTransaction(const ReadTransaction &) = delete;
        ReadTransaction &operator=(const ReadTransaction &) = delete;

    private:
        SqliteEngine &engine_;
        bool open_ = false;
    };

    // The row by its id, holding every value of `original` as it was read;
    // `columns` gets the columns whose values are bound after the id.
    QString asRead(const RowValues &original, QList<int> &columns) const
    {
        QStringList same{QStringLiteral("rowid = ?")};
        for (int i = 0; i < int(columns_.size()) && i < original.size(); ++i) {
            if (columns_[size_t(i)].origin.isEmpty())
                continue;
            same << QStringLiteral("%1 IS ?").arg(quoted(columns_[size_t(i)].origin));
            columns << i;
        }
        return same.join(QStringLiteral(" and "));
    }

    void stepForward(bool keep) { stepEnd(true, keep); }

    void stepBackward(bool keep)
    {
        if (!backStmt_) {
            backStmt_ = engine_->prepare(keysDb_, backSql_);
            sql_.bind(backStmt_);
        }
        stepEnd(false, keep);
    }

    // Where the statement of one end stands.
    struct EndState {
        bool started = false;
        qint64 last = 0;       // the last id it yielded
        bool resume = false;   // it failed, and begins again from its first row
    };

    // One id more from the statement of one end, with the row's values when
    // they come with it and are to be kept.
    void stepEnd(bool front, bool keep)
    {
        Statement &stmt = front ? keysStmt_ : backStmt_;
        EndState &end = front ? frontEnd_ : backEnd_;
        qint64 id = 0;
        try {
            if (end.resume)
                resume(stmt, end.last);
            end.resume = false;
            // Rows posted here since the keys' snapshot began come from a
            // statement begun again after a failure: they have their places.
            do {
                if (!stmt.step()) {
                    keys_.finish();
                    done();
                    return;
                }
                id = sqlite3_column_int64(stmt.get(), 0);
            } while (std::find(posted_.begin(), posted_.end(), id) != posted_.end());
        } catch (const Error &) {
            // SQLite begins a statement that failed again from its first row.
            end.resume = end.started;
            throw;
        }
        end.started = true;
        end.last = id;
        const qsizetype at = front ? keys_.frontCount() : keys_.backCount();
        const Keyset::Step step = front ? keys_.addFront(id) : keys_.addBack(id);
        if (step == Keyset::Step::Met)
            done();
        else if (step == Keyset::Step::Added && carries_ && keep)
            (front ? frontCarried_ : backCarried_).put(at, rowValues(stmt.get(), int(columns_.size()), 1));
    }

    // Steps a statement begun again past the id it yielded last. Ties in
    // the order are broken by the row id, so what follows that row is what
    // was still to come; once the row is gone, so is the place.
    static void resume(Statement &stmt, qint64 last)
    {
        while (stmt.step())
            if (sqlite3_column_int64(stmt.get(), 0) == last)
                return;
        throw EngineError(QStringLiteral("The list changed while it was read again after an error; open it again"));
    }

    // The keyset is complete: the positions from the end are gone.
    void done()
    {
        backCarried_.clear();
        posted_.clear();
        keysStmt_.finalize();   // ends the read transaction
        backStmt_.finalize();
    }

    // Without a write-ahead log the keys are read on the writing connection,
    // whose open statement would keep the file locked: finish it first.
    void beforeWrite()
    {
        if (!engine_->walMode())
            fetchTo(kPastEveryRow);
    }

    void readRange(const std::vector<qint64> &ids, qint64 low, qint64 high, std::vector<RowValues> &out)
    {
        Statement range = engine_->prepare(engine_->db(), rangeSql_);
        sql_.bind(range);
        range.bindNamed(":zeplo_low", low);
        range.bindNamed(":zeplo_high", high);
        const int n = int(columns_.size());
        std::vector<std::pair<qint64, RowValues>> found;
        found.reserve(size_t(high - low + 1));
        while (range.step())
            found.emplace_back(sqlite3_column_int64(range.get(), n), rowValues(range.get(), n));
        // The pass yields rows in row id order; a row gone since its id was
        // read comes back empty, as a single read would give it.
        for (qint64 id : ids) {
            auto it = std::lower_bound(found.begin(), found.end(), id,
                                       [](const auto &row, qint64 wanted) { return row.first < wanted; });
            out.push_back(it != found.end() && it->first == id ? std::move(it->second) : RowValues());
        }
    }

    // Values kept while stepping, for the last rows stepped over, by position.
    class Carried {
    public:
        void put(qsizetype at, RowValues &&values)
        {
            if (rows_.empty() || at != first_ + qsizetype(rows_.size())) {
                rows_.clear();
                first_ = at;
            }
            rows_.push_back(std::move(values));
            if (qsizetype(rows_.size()) > kCarried) {
                rows_.pop_front();
                ++first_;
            }
        }
        const RowValues *at(qsizetype at) const
        {
            return at >= first_ && at < first_ + qsizetype(rows_.size()) ? &rows_[size_t(at - first_)] : nullptr;
        }
        void clear() { rows_.clear(); }
        bool empty() const { return rows_.empty(); }

    private:
        qsizetype first_ = 0;
        std::deque<RowValues> rows_;
    };
    static constexpr qsizetype kCarried = 256;

    // The rows [first, first + ids.size()) from the values kept while
    // stepping, when every one of them is there and still as stored.
    bool carried(qsizetype first, const std::vector<qint64> &ids, bool fresh, std::vector<RowValues> &out)
    {
        if (!carries_ || stale_ || (frontCarried_.empty() && backCarried_.empty()))
            return false;
        std::vector<const RowValues *> found;
        found.reserve(ids.size());
        for (qsizetype i = 0; i < qsizetype(ids.size()); ++i) {
            qsizetype index = first + i;
            if (keys_.complete() && index < 0)
                index += knownCount();
            const RowValues *row = index >= 0 ? frontCarried_.at(index) : backCarried_.at(-index - 1);
            if (!row || std::find(written_.begin(), written_.end(), ids[size_t(i)]) != written_.end())
                return false;
            found.push_back(row);
        }
        // Another program's change since the keys' snapshot makes every kept
        // value suspect for good.
        if (!fresh && (dataVersion_ < 0 || engine_->othersDataVersion(true) != dataVersion_)) {
            stale_ = true;
            frontCarried_.clear();
            backCarried_.clear();
            return false;
        }
        for (const RowValues *row : found)
            out.push_back(*row);
        return true;
    }

    void forgetCarried(qint64 written)
    {
        frontCarried_.clear();
        backCarried_.clear();
        if (written != 0)
            written_.push_back(written);
    }

    RowValues readRow(qint64 id)
    {
        rowStmt_.reset();
        rowStmt_.bindNamed(":zeplo_rowid", id);
        RowValues values;
        if (rowStmt_.step())
            values = rowValues(rowStmt_.get(), sqlite3_column_count(rowStmt_.get()));
        rowStmt_.reset();
        return values;
    }

    std::shared_ptr<SqliteEngine> engine_;   // first: the statements go back to its pool
    TranslatedSql sql_;
    QString table_;
    QString keysSql_;
    QString backSql_;    // empty when the order cannot be turned round
    QString countSql_;
    QString rangeSql_;
    sqlite3 *keysDb_ = nullptr;
    Statement rowStmt_;
    Statement keysStmt_;
    Statement backStmt_;
    Keyset keys_;
    bool carries_ = false;         // the statements yield the rows' values too
    Carried frontCarried_, backCarried_;
    qint64 dataVersion_ = -1;      // the writing connection's, before the keys' snapshot
    bool stale_ = false;           // another program has written since
    std::vector<qint64> written_;  // rows changed here since the snapshot
    std::vector<qint64> posted_;   // rows added here while the keys were still being read
    EndState frontEnd_, backEnd_;
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
    return std::make_unique<SqliteStaticCursor>(engine, sql);
}

} // namespace zeplo
