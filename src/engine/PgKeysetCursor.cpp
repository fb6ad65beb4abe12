#include <algorithm>
#include <utility>

#include <QRegularExpression>

#include <libpq-fe.h>

#include "engine/KeysetCursor.h"
#include "engine/PgEngine.h"
#include "engine/PgRows.h"

namespace zeplo {

namespace {

// Rows come with their keys, a few at first and more at each read, so that a
// steady walk waits for the server rarely; a reach far ahead (a jump to a row
// number) reads keys alone, in larger steps.
constexpr qsizetype kFirstRows = 64;
constexpr qsizetype kMostRows = 4096;
constexpr qsizetype kFirstKeys = 16384;
constexpr qsizetype kMostKeys = 262144;
// Rows whose values are kept, and how many a read of a row not kept brings
// along in the direction of movement.
constexpr std::size_t kKeptRows = 3 * kMostRows;
constexpr qsizetype kReadAround = 64;
// Columns added after the select list are numbered from here until its width is known.
constexpr int kAfterList = 1 << 20;

qint64 keyAt(const PgResult &result, int row, int column)
{
    return QByteArray(PQgetvalue(result.get(), row, column)).toLongLong();
}

// A keyset cursor over the server: keys and rows read in short statements
// that resume after the last row each end has read (KeysetReading), values
// kept for the rows read lately, writes checked against the values as read.
// No statement depends on an earlier one's session state, so a lost session
// costs only the command in progress.
class PgKeysetCursor final : public KeysetCursor {
public:
    PgKeysetCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql, const SimpleSelect &select,
                   const PgTable &table)
        : KeysetCursor(false, kKeptRows), engine_(engine), table_(table), key_(quoted(table.key)), params_(sql.params),
          reading_(pg::keysetReading(select.rest, table)), writesSeen_(engine->writes())
    {
        // The select list, then what reading needs and the list lacks. Only a
        // list of plain column names says where each column will be.
        static const QRegularExpression plain(QStringLiteral(R"(^"?[A-Za-z_][A-Za-z0-9_]*"?$)"));
        QStringList listed;
        for (const QString &item : select.columns.split(QLatin1Char(',')))
            listed << item.trimmed();
        const bool known = std::all_of(listed.begin(), listed.end(), [](const QString &item) {
            return plain.match(item).hasMatch();
        });
        for (QString &item : listed)
            item = item.remove(QLatin1Char('"')).toLower();
        QStringList extra;
        const auto place = [&](const QString &column) {
            const qsizetype at = known ? listed.indexOf(column.toLower()) : -1;
            if (at >= 0)
                return int(at);
            extra << quoted(column);
            return kAfterList + int(extra.size()) - 1;   // settled once the list's width is known
        };
        keyColumn_ = place(table.key);
        for (qsizetype i = 0; i + 1 < reading_.items.size(); ++i)
            sortColumns_ << place(table.column(reading_.items[i].column.mid(1).chopped(1))->name);
        extraColumns_ = int(extra.size());
        selected_ = select.columns;
        list_ = extra.isEmpty() ? select.columns : select.columns + QStringLiteral(", ") + extra.join(QStringLiteral(", "));
        from_ = select.table;
        rowsSql_ = QStringLiteral("select %1, %2 from %3 where %2 = ANY($%4::bigint[])")
                       .arg(select.columns, key_, from_)
                       .arg(params_.size() + 1);
        count_ = pg::renumbered(countQuery(select.table, select.rest, key_), params_);
        searching_ = select.rest.contains(QLatin1String(" LIKE "));
        countsWholeTable_ = count_.sql.simplified() == QStringLiteral("select count(*) from %1").arg(select.table);
        if (reading_.resumable)
            fetch(front_, kFirstRows);
        else
            readWhole();
    }

    bool updatable() const override { return table_.writable && !engine_->readOnly(); }
    bool readsFromEnd() const override { return reading_.resumable; }

    // The count of a list not read to its end comes with the next rows, as
    // many as one read takes: what asks for the count of a list (the report)
    // walks it next.
    qsizetype countRows() override
    {
        if (keys_.complete())
            return keys_.known();
        if (countsWholeTable_ && !reading_.resumable)
            return qsizetype(keyAt(pgCountWholeTable(engine_->connection(), count_.sql), 0, 0));
        std::vector<PgCommand> commands;
        const std::size_t count = countsWholeTable_
                                      ? pgAddWithout(commands, PgCommand(count_.sql, {}, true),
                                                     {"enable_seqscan = off", "max_parallel_workers_per_gather = 0"})
                                      : addStatement(commands, PgCommand(count_.sql, count_.params, true));
        std::optional<Read> next;
        std::size_t at = 0;
        if (reading_.resumable) {
            // The next read in the usual growing steps, not the largest: a report
            // asks the count before its first page, which then waits for it.
            next = plan(front_, 0);
            at = add(commands, *next);
        }
        const std::vector<PgResult> results = reading(commands);
        if (next)
            apply(*next, results[at]);
        counted_ = keyAt(results[count], 0, 0);
        return qsizetype(counted_);
    }

    std::vector<RowValues> rows(qsizetype first, qsizetype count) override
    {
        const std::vector<qint64> keys = keysAt(first, count);
        dropStale();
        std::vector<qint64> missing;
        for (qint64 key : keys)
            if (!kept_.find(key))
                missing.push_back(key);
        if (!missing.empty()) {
            // One read brings the rows the next moves in the same direction will show.
            const bool down = first >= lastFirst_;
            for (qsizetype n = 0, i = down ? first + count : first - 1; n < kReadAround && knownAt(i);
                 ++n, i += down ? 1 : -1)
                if (!kept_.find(keys_.at(i)))
                    missing.push_back(keys_.at(i));
            readByKeys(missing);
        }
        lastFirst_ = first;
        std::vector<RowValues> out;
        out.reserve(keys.size());
        for (qint64 key : keys)
            out.push_back(kept(key));   // empty for a row gone since its key was read
        return out;
    }

    void update(qsizetype index, const RowValues &original, const RowValues &values) override
    {
        const qint64 key = keys_.at(index);
        QStringList params = params_, sets;
        for (int i : writableColumns()) {
            params << pgParam(values.value(i));
            sets << QStringLiteral("%1 = $%2").arg(quoted(columns_[size_t(i)].origin)).arg(params.size());
        }
        if (sets.isEmpty())
            return;
        const QString where = asRead(key, original, params);
        // The write and a look at the row as it then is, in one round trip.
        // Made again on a new session when the session is lost: the WHERE
        // finds the row only as it was read, so a write that did arrive is not
        // repeated, and the look at the row tells it stored what was asked.
        std::vector<PgResult> results = engine_->connection().run(
            {statement(QStringLiteral("update %1 set %2 where %3 returning %4, %5")
                           .arg(quoted(table_.name), sets.join(QStringLiteral(", ")), where, selected_, key_),
                       params),
             byKeys({key})},
            PgRepeat::IfLost);
        if (PQntuples(results[0].get()) == 1) {
            wrote(key, pgRow(results[0].get(), 0, userColumns()));
            return;
        }
        if (PQntuples(results[1].get()) == 0)
            refuseUpdateOfDeletedRow();
        const RowValues now = pgRow(results[1].get(), 0, userColumns());
        kept_.keep(key, RowValues(now));
        // The row holds what this post asked for: an earlier post whose answer
        // was lost stored it, or another user made the very same change.
        if (holdsWritten(now, values, samePgValue)) {
            wrote(key, RowValues(now));
            return;
        }
        refuseUpdateOfChangedRow();
    }

    // A row is about to be added: its key is taken along with the next read.
    void expectInsert() override { wantKey_ = true; }

    void insert(qsizetype index, const RowValues &values) override
    {
        // A session lost costs one more try, as a read does; a key that went
        // to another book one more each time, twice at most.
        bool lostOnce = false;
        for (int collisions = 0;;) {
            if (!engine_->reservedKey(table_))
                if (const std::optional<PgCommand> reservation = engine_->keyReservation(table_))
                    engine_->keepReservedKey(table_, engine_->connection().run(*reservation, PgRepeat::IfLost));
            const std::optional<PgEngine::ReservedKey> reserved = engine_->reservedKey(table_);
            std::optional<std::pair<qint64, RowValues>> stored;
            try {
                stored = insertOnce(reserved, values);
            } catch (const PgSessionLost &) {
                // Whether the row arrived is learnt by its key at the next try.
                if (reserved)
                    engine_->keyMaybeUsed(table_, values);
                if (!reserved || std::exchange(lostOnce, true))
                    throw;
                continue;
            } catch (const PgCommandFailed &e) {
                // A key that another book took meanwhile (one given by hand,
                // or by another program) is given up for a new one.
                if (!reserved || e.code != QLatin1String("23505") || ++collisions > 2 || !keyTakenElsewhere(reserved->key))
                    throw;
                engine_->dropReservedKey(table_);
                continue;
            }
            if (!stored) {
                if (++collisions > 2)
                    throw EngineError(QStringLiteral("The catalogue server gave the key of the new record to "
                                                     "another record"));
                engine_->dropReservedKey(table_);
                continue;
            }
            engine_->dropReservedKey(table_);
            wantKey_ = false;
            keys_.insert(index, stored->first);
            wrote(stored->first, std::move(stored->second));
            return;
        }
    }

    void remove(qsizetype index, const RowValues &original) override
    {
        const qint64 key = keys_.at(index);
        QStringList params = params_;
        const QString where = asRead(key, original, params);
        std::vector<PgResult> results = engine_->connection().run(
            {statement(QStringLiteral("delete from %1 where %2 returning %3").arg(quoted(table_.name), where, key_),
                       params),
             byKeys({key})},
            PgRepeat::IfLost);
        // A row that is already gone counts as deleted: nothing is lost.
        if (PQntuples(results[0].get()) == 0 && PQntuples(results[1].get()) == 1) {
            kept_.keep(key, pgRow(results[1].get(), 0, userColumns()));
            refuseRemovalOfChangedRow();
        }
        keys_.remove(index);
        kept_.forget(key);
        engine_->wrote();
        writesSeen_ = engine_->writes();
    }

private:
    // One end's reading: where it stands and how much it reads next.
    struct End {
        bool front = true;
        bool started = false;
        QStringList position;   // the sort values and key of the last row read
        qsizetype batch = kFirstRows;
        static End at(bool front)
        {
            End end;
            end.front = front;
            return end;
        }
    };

    int userColumns() const { return int(columns_.size()); }

    // A statement whose parameters are the query's, then `params` beyond them.
    static PgCommand statement(const QString &sql, const QStringList &params)
    {
        const TranslatedSql t = pg::renumbered(sql, params);
        return {t.sql, t.params, true};
    }

    PgCommand byKeys(const std::vector<qint64> &keys) const
    {
        QStringList list;
        for (qint64 key : keys)
            list << QString::number(key);
        return statement(rowsSql_, QStringList(params_) << QLatin1Char('{') + list.join(QLatin1Char(',')) + QLatin1Char('}'));
    }

    // A parameter typed as the column, where the statement does not say it.
    QString cast(const QString &param, const QString &column) const
    {
        const PgTable::Column *c = table_.column(column);
        return c ? QStringLiteral("CAST(%1 AS %2)").arg(param, c->sqlType) : param;
    }

    // The row `key` holding every value of `original` as it was read.
    QString asRead(qint64 key, const RowValues &original, QStringList &params) const
    {
        params << QString::number(key);
        QStringList same{QStringLiteral("%1 = $%2").arg(key_).arg(params.size())};
        for (int i : comparedColumns(original)) {
            params << pgParam(original.value(i));
            same << QStringLiteral("%1 IS NOT DISTINCT FROM $%2").arg(asCompared(i)).arg(params.size());
        }
        return same.join(QStringLiteral(" and "));
    }

    // The column as a comparison with a value as read takes it: as text where
    // its type has no equality the program can rely on.
    QString asCompared(int i) const
    {
        const ColumnInfo &c = columns_[size_t(i)];
        const PgTable::Column *column = table_.column(c.origin);
        const QString name = quoted(c.origin);
        return column && column->comparedAsText ? QStringLiteral("CAST(%1 AS text)").arg(name) : name;
    }

    // ---- adding ----

    // One try at storing the new row, under the reserved key when there is
    // one: its key and the row as stored, or nothing when the key went to
    // another book. A key that an earlier try may have used tells whether that
    // try arrived: a row under it that holds what that try wrote is this very
    // book, which then takes the values typed since.
    std::optional<std::pair<qint64, RowValues>> insertOnce(const std::optional<PgEngine::ReservedKey> &reserved,
                                                           const RowValues &values)
    {
        QStringList params = params_, names, marks;
        if (reserved) {
            params << QString::number(reserved->key);
            names << key_;
            marks << cast(QStringLiteral("$%1").arg(params.size()), table_.key);
        }
        for (int i : insertedColumns(values)) {
            const ColumnInfo &c = columns_[size_t(i)];
            params << pgParam(values.value(i));
            names << quoted(c.origin);
            marks << cast(QStringLiteral("$%1").arg(params.size()), c.origin);
        }
        const QString overriding = reserved && table_.keyAlways ? QStringLiteral(" OVERRIDING SYSTEM VALUE") : QString();
        QString into = names.isEmpty() ? QStringLiteral(" default values")
                                       : QStringLiteral(" (%1)%2 values (%3)")
                                             .arg(names.join(QLatin1Char(',')), overriding, marks.join(QLatin1Char(',')));
        const bool maybeUsed = reserved && reserved->maybeUsed;
        if (maybeUsed)
            into = QStringLiteral(" (%1)%2 select %3 where not exists (select from %4 where %5 = %6)")
                       .arg(names.join(QLatin1Char(',')), overriding, marks.join(QLatin1Char(',')), quoted(table_.name),
                            key_, marks.first());
        std::vector<PgCommand> commands{statement(QStringLiteral("insert into %1%2 returning %3, %4")
                                                      .arg(quoted(table_.name), into, selected_, key_),
                                                  params)};
        if (maybeUsed)
            commands.push_back(byKeys({reserved->key}));
        const std::vector<PgResult> results = engine_->connection().run(commands);
        if (PQntuples(results[0].get()) == 1)
            return std::pair{keyAt(results[0], 0, userColumns()), pgRow(results[0].get(), 0, userColumns())};
        if (!maybeUsed || PQntuples(results[1].get()) != 1)
            throw EngineError(QStringLiteral("The catalogue server stored no row for the new record; a rule or "
                                             "trigger of the table may have dropped it"));
        const RowValues earlier = pgRow(results[1].get(), 0, userColumns());
        const auto mine = std::find_if(reserved->attempts.begin(), reserved->attempts.end(),
                                       [&](const RowValues &attempt) { return holdsInserted(earlier, attempt); });
        if (mine == reserved->attempts.end())
            return std::nullopt;
        if (holdsWritten(earlier, values, samePgValue))
            return std::pair{reserved->key, earlier};
        return std::pair{reserved->key, updateEarlierTry(reserved->key, *mine, values)};
    }

    // Whether the row holds every value that a try at adding it gave.
    bool holdsInserted(const RowValues &stored, const RowValues &attempt) const
    {
        for (int i : insertedColumns(attempt))
            if (!samePgValue(stored.value(i), attempt.value(i)))
                return false;
        return true;
    }

    // The row an earlier try stored takes the values typed since, unless
    // another user changed it meanwhile.
    RowValues updateEarlierTry(qint64 key, const RowValues &attempt, const RowValues &values)
    {
        QStringList params = params_, sets, same;
        for (int i : writableColumns()) {
            params << pgParam(values.value(i));
            sets << QStringLiteral("%1 = $%2").arg(quoted(columns_[size_t(i)].origin)).arg(params.size());
        }
        params << QString::number(key);
        same << QStringLiteral("%1 = $%2").arg(key_).arg(params.size());
        for (int i : insertedColumns(attempt)) {
            params << pgParam(attempt.value(i));
            same << QStringLiteral("%1 IS NOT DISTINCT FROM $%2").arg(asCompared(i)).arg(params.size());
        }
        const PgResult result = engine_->connection().run(
            statement(QStringLiteral("update %1 set %2 where %3 returning %4, %5")
                          .arg(quoted(table_.name), sets.join(QStringLiteral(", ")), same.join(QStringLiteral(" and ")),
                               selected_, key_),
                      params),
            PgRepeat::IfLost);
        if (PQntuples(result.get()) != 1)
            refuseUpdateOfChangedRow();
        return pgRow(result.get(), 0, userColumns());
    }

    // Whether a row holds `key` now; if so, the sequence that gave it is set
    // past every stored key, which a sequence set back would give again.
    bool keyTakenElsewhere(qint64 key)
    {
        PgCommand repair(QStringLiteral("select setval($1::regclass, m) from (select max(%1) as m from %2) as t "
                                        "where m > coalesce(pg_sequence_last_value($1::regclass), 0)")
                             .arg(key_, quoted(table_.name)),
                         {table_.keySequence});
        repair.optional = true;   // a role that may not set it takes the next keys in turn
        return PQntuples(reading({byKeys({key}), repair})[0].get()) == 1;
    }

    // A trip of reads: made again once on a new session when the session was lost.
    std::vector<PgResult> reading(const std::vector<PgCommand> &commands)
    {
        return engine_->connection().run(commands, PgRepeat::IfLost);
    }

    // ---- reading ----

    // The columns, from the first result: the list's own, then what reading added.
    void describe(const PgResult &result)
    {
        columns_ = pgColumns(result.get(), &table_, PQnfields(result.get()) - extraColumns_);
        if (columns_.empty())
            throw EngineError(QStringLiteral("The catalogue server described no column of the list"));
        const auto settle = [this](int &column) {
            if (column >= kAfterList)
                column = userColumns() + column - kAfterList;
        };
        settle(keyColumn_);
        for (int &column : sortColumns_)
            settle(column);
    }

    // A read of `wanted` rows or more at one end, as a statement and what to do with its answer.
    struct Read {
        End *end = nullptr;
        qsizetype rows = 0;
        bool withValues = true;
    };

    Read plan(End &end, qsizetype wanted)
    {
        const bool withValues = wanted <= kMostRows;
        const qsizetype n = withValues ? std::min(std::max(wanted, end.batch), kMostRows)
                                       : std::clamp(wanted, kFirstKeys, kMostKeys);
        if (withValues)
            end.batch = std::min(end.batch * 4, kMostRows);
        return {&end, n, withValues};
    }

    // Adds the read's statement to `commands`; returns where its result will be.
    std::size_t add(std::vector<PgCommand> &commands, const Read &read) const
    {
        const End &end = *read.end;
        const End &other = end.front ? back_ : front_;
        QStringList params = params_, conditions;
        if (!reading_.condition.isEmpty())
            conditions << QLatin1Char('(') + reading_.condition + QLatin1Char(')');
        // Each end reads up to the other's position, never past it.
        for (const End *e : {&end, &other})
            if (e->started)
                conditions << reading_.after(e->position, !e->front, params);
        params << QString::number(read.rows);
        const QString where = conditions.isEmpty() ? QString() : QStringLiteral("where ") + conditions.join(QStringLiteral(" and "));
        const QString order = end.front ? reading_.forward : reading_.backward;
        QString sql;
        if (read.withValues) {
            sql = QStringLiteral("select %1 from %2 %3 %4 limit $%5").arg(list_, from_, where, order).arg(params.size());
        } else {
            // Keys alone; the sort values only of the last row, where the next read resumes.
            QStringList inner{key_ + QStringLiteral(" as zeplo_k")}, outer{QStringLiteral("zeplo_k")};
            for (qsizetype i = 0; i + 1 < reading_.items.size(); ++i) {
                inner << QStringLiteral("%1 as zeplo_s%2").arg(reading_.items[i].column).arg(i);
                outer << QStringLiteral("case when zeplo_n = max(zeplo_n) over () then zeplo_s%1 end").arg(i);
            }
            sql = QStringLiteral("select %1 from (select %2, row_number() over (%3) as zeplo_n from %4 %5 %3 "
                                 "limit $%6) as page order by zeplo_n")
                      .arg(outer.join(QStringLiteral(", ")), inner.join(QStringLiteral(", ")), order, from_, where)
                      .arg(params.size());
        }
        return addStatement(commands, statement(sql, params));
    }

    // A statement of the list: a search prefers the search indexes.
    std::size_t addStatement(std::vector<PgCommand> &commands, PgCommand command) const
    {
        if (searching_)
            return pgAddWithout(commands, std::move(command), {"enable_seqscan = off"});
        commands.push_back(std::move(command));
        return commands.size() - 1;
    }

    void readKeys(bool front, qsizetype wanted) override { fetch(front ? front_ : back_, wanted); }

    RowValues readRow(qint64 key) override
    {
        readByKeys({key});
        return kept(key);
    }

    void fetch(End &end, qsizetype wanted)
    {
        const Read read = plan(end, wanted);
        std::vector<PgCommand> commands;
        const std::size_t at = add(commands, read);
        // A key for a row about to be added rides along.
        std::optional<PgCommand> reservation;
        if (wantKey_ && !engine_->reservedKey(table_))
            reservation = engine_->keyReservation(table_);
        const std::size_t reservedAt = commands.size();
        if (reservation)
            commands.push_back(*reservation);
        // A read that may reach the other end, the list's count known, brings
        // what tells whether the reading missed a row.
        std::optional<std::size_t> totals;
        if (counted_ >= 0 && reads_ > 0 && keys_.known() + read.rows >= counted_)
            totals = addStatement(commands, totalsStatement());
        const std::vector<PgResult> results = reading(commands);
        if (reservation)
            engine_->keepReservedKey(table_, results[reservedAt]);
        apply(read, results[at], totals ? &results[*totals] : nullptr);
    }

    void apply(const Read &read, const PgResult &result, const PgResult *totals = nullptr)
    {
        End &end = *read.end;
        if (columns_.empty())
            describe(result);
        const int keyColumn = read.withValues ? keyColumn_ : 0;
        const int rows = PQntuples(result.get());
        for (int i = 0; i < rows; ++i) {
            const qint64 key = keyAt(result, i, keyColumn);
            const Keyset::Step step = end.front ? keys_.addFront(key) : keys_.addBack(key);
            if (read.withValues && step == Keyset::Step::Added)
                kept_.keep(key, pgRow(result.get(), i, userColumns()));
        }
        if (rows > 0) {
            end.started = true;
            end.position.clear();
            for (qsizetype i = 0; i < sortColumns_.size(); ++i) {
                const int column = read.withValues ? sortColumns_[i] : int(i) + 1;
                end.position << (PQgetisnull(result.get(), rows - 1, column)
                                     ? QString()
                                     : QString::fromUtf8(PQgetvalue(result.get(), rows - 1, column)));
            }
            end.position << QString::number(keyAt(result, rows - 1, keyColumn));
        }
        // Nothing is left between the two ends.
        if (rows < read.rows)
            keys_.meet(++reads_ > 1 ? missed(totals) : std::vector<qint64>());
        else
            ++reads_;
    }

    // Read in several statements, each seeing the table as it was then, the
    // list may have missed a row whose sort values moved from ahead of a
    // position to behind it meanwhile. One look at the list's keys as a whole
    // tells; such rows are placed where the two ends meet, until the next
    // list command.
    // `totals` come with the read that met the other end, or are asked now.
    std::vector<qint64> missed(const PgResult *totals)
    {
        const qint64 count = keys_.known();
        quint64 sum = 0;
        for (qsizetype i = 0; i < keys_.frontCount(); ++i)
            sum += quint64(keys_.at(i));
        for (qsizetype i = 1; i <= keys_.backCount(); ++i)
            sum += quint64(keys_.at(-i));
        std::vector<PgCommand> commands;
        std::vector<PgResult> asked;
        if (!totals) {
            const std::size_t at = addStatement(commands, totalsStatement());
            asked = reading(commands);
            totals = &asked[at];
        }
        if (keyAt(*totals, 0, 0) == count && quint64(keyAt(*totals, 0, 1)) == sum)
            return {};
        commands.clear();
        const std::size_t keysAt = addStatement(
            commands, statement(QStringLiteral("select %1 from %2%3").arg(key_, from_, listCondition()), params_));
        const std::vector<PgResult> all = reading(commands);
        std::vector<qint64> missed;
        for (int i = 0; i < PQntuples(all[keysAt].get()); ++i)
            if (const qint64 key = keyAt(all[keysAt], i, 0); !keys_.holds(key))
                missed.push_back(key);
        return missed;
    }

    QString listCondition() const
    {
        return reading_.condition.isEmpty() ? QString() : QStringLiteral(" where (%1)").arg(reading_.condition);
    }

    // The list's count and the sum of its keys.
    PgCommand totalsStatement() const
    {
        return statement(QStringLiteral("select count(*), coalesce(sum(%1), 0) from %2%3").arg(key_, from_, listCondition()),
                         params_);
    }

    // An order that cannot resume by position: the whole result in one statement.
    void readWhole()
    {
        std::vector<PgCommand> commands;
        const std::size_t at = addStatement(
            commands, statement(QStringLiteral("select %1 from %2 %3").arg(list_, from_, reading_.whole), params_));
        std::vector<PgResult> results = reading(commands);
        const PgResult &result = results[at];
        describe(result);
        for (int i = 0; i < PQntuples(result.get()); ++i) {
            const qint64 key = keyAt(result, i, keyColumn_);
            keys_.addFront(key);
            if (std::size_t(i) < kKeptRows)
                kept_.keep(key, pgRow(result.get(), i, userColumns()));
        }
        keys_.finish();
    }

    void readByKeys(const std::vector<qint64> &keys)
    {
        const PgResult result = std::move(reading({byKeys(keys)}).front());
        for (qint64 key : keys)
            kept_.forget(key);   // one not found is gone
        for (int i = 0; i < PQntuples(result.get()); ++i)
            kept_.keep(keyAt(result, i, userColumns()), pgRow(result.get(), i, userColumns()));
    }

    // ---- the values kept ----

    RowValues kept(qint64 key) const
    {
        const RowValues *values = kept_.find(key);
        return values ? *values : RowValues();
    }

    // Another list of this program wrote since: what is kept may be stale.
    void dropStale()
    {
        if (engine_->writes() == writesSeen_)
            return;
        kept_.clear();
        writesSeen_ = engine_->writes();
    }

    void wrote(qint64 key, RowValues &&stored)
    {
        dropStale();
        kept_.keep(key, std::move(stored));
        engine_->wrote();
        writesSeen_ = engine_->writes();
    }

    std::shared_ptr<PgEngine> engine_;
    const PgTable &table_;
    QString key_;
    QStringList params_;          // the query's own, $1.. in every statement
    pg::KeysetReading reading_;
    QString selected_;            // the query's select list
    QString list_;                // and what reading adds to it
    QString from_;
    int keyColumn_ = 0;
    QList<int> sortColumns_;      // where each sort column is in list_
    int extraColumns_ = 0;
    QString rowsSql_;             // rows by their keys, each followed by its key
    TranslatedSql count_;
    bool countsWholeTable_ = false;
    End front_ = End::at(true), back_ = End::at(false);
    quint64 writesSeen_ = 0;
    qsizetype lastFirst_ = 0;
    int reads_ = 0;               // statements that read keys so far
    qint64 counted_ = -1;         // the list's count when it was last asked
    bool wantKey_ = false;        // a row is about to be added
    bool searching_ = false;      // the list is a search
};

} // namespace

std::unique_ptr<Cursor> openPgKeysetCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql,
                                           const SimpleSelect &select, const PgTable &table)
{
    return std::make_unique<PgKeysetCursor>(engine, sql, select, table);
}

} // namespace zeplo
