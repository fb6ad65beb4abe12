#include <algorithm>
#include <limits>

#include <QStringList>

#include <sqlite3.h>

#include "engine/KeysetCursor.h"
#include "engine/SqliteEngine.h"
#include "engine/SqliteRows.h"

namespace zeplo {

namespace {

// Values kept while stepping, for the last rows stepped over.
constexpr qsizetype kCarried = 256;

// A keyset cursor on a catalogue file: the statement yields only row ids,
// stepped as far as the caller looks; the values of a row are read by its id
// when they are needed.
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
class SqliteKeysetCursor final : public KeysetCursor {
public:
    SqliteKeysetCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql, const SimpleSelect &select)
        : KeysetCursor(true, 2 * kCarried), engine_(engine), sql_(sql), table_(select.table)
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
        rowStmt_.bind(sql_);
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
        keysStmt_.bind(sql_);
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
                stepEnd(true, keys_.frontCount() < kCarried);
        }
        return KeysetCursor::fetchTo(index);
    }

    qsizetype countRows() override
    {
        if (keys_.complete())
            return knownCount();
        Statement count = engine_->prepare(engine_->db(), countSql_);
        count.bind(sql_);
        if (!count.step())
            throw EngineError(QStringLiteral("The engine gave no count of the rows of the result"));
        return qsizetype(sqlite3_column_int64(count.get(), 0));
    }

    std::vector<RowValues> rows(qsizetype first, qsizetype count) override
    {
        // Values stepped over in the snapshot that begins now are as fresh as a read.
        const bool snapshotBeginsNow = !keys_.started();
        const std::vector<qint64> ids = keysAt(first, count);
        std::vector<RowValues> out;
        if (ids.empty())
            return out;
        out.reserve(ids.size());
        if (carried(ids, snapshotBeginsNow, out))
            return out;
        // One read transaction for them all.
        SqliteTransaction txn(engine_->connection(), SqliteTransaction::Kind::Read);
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
        const std::vector<int> setColumns = writableColumns();
        if (setColumns.empty())
            return;
        QStringList sets;
        for (int i : setColumns)
            sets << QStringLiteral("%1 = ?").arg(quoted(columns_[size_t(i)].origin));
        beforeWrite();
        SqliteTransaction txn(engine_->connection(), SqliteTransaction::Kind::Write);
        const std::vector<int> sameColumns = comparedColumns(original);
        Statement stmt = engine_->prepare(engine_->db(), QStringLiteral("update %1 set %2 where %3")
                                                             .arg(table_, sets.join(QStringLiteral(", ")),
                                                                  asRead(sameColumns)));
        int p = 1;
        for (int i : setColumns)
            bindValue(engine_->db(), stmt.get(), p++, values.value(i));
        bindValue(engine_->db(), stmt.get(), p++, QVariant(id));
        for (int i : sameColumns)
            bindValue(engine_->db(), stmt.get(), p++, original.value(i));
        stmt.step();
        forgetKept(id);
        if (sqlite3_changes(engine_->db()) == 0) {
            if (readRow(id).isEmpty())
                refuseUpdateOfDeletedRow();
            refuseUpdateOfChangedRow();
        }
        txn.commit([&] { return rowHolds(id, setColumns, values); });
    }

    void insert(qsizetype index, const RowValues &values) override
    {
        const std::vector<int> used = insertedColumns(values);
        QStringList names, marks;
        for (int i : used) {
            names << quoted(columns_[size_t(i)].origin);
            marks << QStringLiteral("?");
        }
        beforeWrite();
        SqliteTransaction txn(engine_->connection(), SqliteTransaction::Kind::Write);
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
        txn.commit([&] { return !readRow(id).isEmpty(); });
        forgetKept(0);   // positions shift
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
        SqliteTransaction txn(engine_->connection(), SqliteTransaction::Kind::Write);
        const std::vector<int> sameColumns = comparedColumns(original);
        Statement stmt = engine_->prepare(engine_->db(), QStringLiteral("delete from %1 where %2")
                                                             .arg(table_, asRead(sameColumns)));
        int p = 1;
        bindValue(engine_->db(), stmt.get(), p++, QVariant(id));
        for (int i : sameColumns)
            bindValue(engine_->db(), stmt.get(), p++, original.value(i));
        stmt.step();
        forgetKept(id);
        // A row that is already gone counts as deleted: nothing is lost.
        if (sqlite3_changes(engine_->db()) == 0 && !readRow(id).isEmpty())
            refuseRemovalOfChangedRow();
        txn.commit([&] { return readRow(id).isEmpty(); });
        forgetKept(0);   // positions shift
        keys_.remove(index);
    }

private:
    // Whether the row `id` holds `values` in `columns`.
    bool rowHolds(qint64 id, const std::vector<int> &columns, const RowValues &values)
    {
        Statement check = engine_->prepare(engine_->db(), QStringLiteral("select count(*) from %1 where %2")
                                                              .arg(table_, asRead(columns)));
        int p = 1;
        bindValue(engine_->db(), check.get(), p++, QVariant(id));
        for (int i : columns)
            bindValue(engine_->db(), check.get(), p++, values.value(i));
        return check.step() && check.columnInt64(0) == 1;
    }

    // The row by its id, holding every value of `columns` as it was read:
    // the id is bound first, then those values.
    QString asRead(const std::vector<int> &columns) const
    {
        QStringList same{QStringLiteral("rowid = ?")};
        for (int i : columns)
            same << QStringLiteral("%1 IS ?").arg(quoted(columns_[size_t(i)].origin));
        return same.join(QStringLiteral(" and "));
    }

    // Values are kept only for the last rows stepped over on the way.
    void readKeys(bool front, qsizetype wanted) override
    {
        if (!front && !backStmt_) {
            backStmt_ = engine_->prepare(keysDb_, backSql_);
            backStmt_.bind(sql_);
        }
        stepEnd(front, wanted <= kCarried);
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
        const Keyset::Step step = front ? keys_.addFront(id) : keys_.addBack(id);
        if (step == Keyset::Step::Met)
            done();
        else if (step == Keyset::Step::Added && carries_ && keep && !stale_
                 && std::find(written_.begin(), written_.end(), id) == written_.end())
            kept_.keep(id, rowValues(stmt.get(), int(columns_.size()), 1));
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

    // The keyset is complete.
    void done()
    {
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
        range.bind(sql_);
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

    // The rows of `ids` from the values kept while stepping, when every one
    // of them is there and still as stored.
    bool carried(const std::vector<qint64> &ids, bool fresh, std::vector<RowValues> &out)
    {
        if (!carries_ || stale_ || kept_.empty())
            return false;
        std::vector<const RowValues *> found;
        found.reserve(ids.size());
        for (qint64 id : ids) {
            const RowValues *row = kept_.find(id);
            if (!row)
                return false;
            found.push_back(row);
        }
        // Another program's change since the keys' snapshot makes every kept
        // value suspect for good.
        if (!fresh && (dataVersion_ < 0 || engine_->othersDataVersion(true) != dataVersion_)) {
            stale_ = true;
            kept_.clear();
            return false;
        }
        for (const RowValues *row : found)
            out.push_back(*row);
        return true;
    }

    // A write here: the values kept may no longer be the row's, and the
    // statements, reading their snapshot, would bring the written row's old
    // values back.
    void forgetKept(qint64 written)
    {
        kept_.clear();
        if (written != 0)
            written_.push_back(written);
    }

    RowValues readRow(qint64 id) override
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
    bool carries_ = false;         // the statements yield the rows' values too
    qint64 dataVersion_ = -1;      // the writing connection's, before the keys' snapshot
    bool stale_ = false;           // another program has written since
    std::vector<qint64> written_;  // rows changed here since the snapshot
    std::vector<qint64> posted_;   // rows added here while the keys were still being read
    EndState frontEnd_, backEnd_;
};

} // namespace

std::unique_ptr<Cursor> openSqliteKeysetCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql,
                                               const SimpleSelect &select)
{
    return std::make_unique<SqliteKeysetCursor>(engine, sql, select);
}

} // namespace zeplo
