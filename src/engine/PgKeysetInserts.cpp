// The server's keyset cursor: a row added under a key taken ahead, so that a
// post whose answer was lost learns whether the row was stored.
#include "engine/PgKeysetCursor.h"

#include <algorithm>

#include "engine/PgRows.h"

namespace zeplo {

void PgKeysetCursor::insert(qsizetype index, const RowValues &values)
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
            if (!reserved || e.code != QLatin1String("23505") || ++collisions > 2)
                throw;
            // The lost session's try, still running at the server when this
            // one looked, may have stored the book under the key meanwhile:
            // the next try reads whose book the key now holds.
            if (reserved->maybeUsed)
                continue;
            // A key that another book took meanwhile (one given by hand,
            // or by another program) is given up for a new one.
            if (!keyTakenElsewhere(reserved->key))
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

// One try at storing the new row, under the reserved key when there is
// one: its key and the row as stored, or nothing when the key went to
// another book. A key that an earlier try may have used tells whether that
// try arrived: a row under it that holds what that try wrote is this very
// book, which then takes the values typed since.
std::optional<std::pair<qint64, RowValues>>
PgKeysetCursor::insertOnce(const std::optional<PgEngine::ReservedKey> &reserved, const RowValues &values)
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
    if (PgRowView::count(results[0]) == 1) {
        const PgRowView row(results[0], 0);
        return std::pair{row.integer(userColumns()), row.values(userColumns())};
    }
    if (!maybeUsed || PgRowView::count(results[1]) != 1)
        throw EngineError(QStringLiteral("The catalogue server stored no row for the new record; a rule or "
                                         "trigger of the table may have dropped it"));
    const RowValues earlier = PgRowView(results[1], 0).values(userColumns());
    const auto mine = std::find_if(reserved->attempts.begin(), reserved->attempts.end(),
                                   [&](const RowValues &attempt) { return holdsInserted(earlier, attempt); });
    if (mine == reserved->attempts.end())
        return std::nullopt;
    if (holdsWritten(earlier, values, samePgValue))
        return std::pair{reserved->key, earlier};
    return std::pair{reserved->key, updateEarlierTry(reserved->key, *mine, values)};
}

bool PgKeysetCursor::holdsInserted(const RowValues &stored, const RowValues &attempt) const
{
    for (int i : insertedColumns(attempt))
        if (!samePgValue(stored.value(i), attempt.value(i)))
            return false;
    return true;
}

// The row an earlier try stored takes the values typed since, unless
// another user changed it meanwhile.
RowValues PgKeysetCursor::updateEarlierTry(qint64 key, const RowValues &attempt, const RowValues &values)
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
    if (PgRowView::count(result) != 1)
        refuseUpdateOfChangedRow();
    return PgRowView(result, 0).values(userColumns());
}

// Whether a row holds `key` now; if so, the sequence that gave it is set
// past every stored key, which a sequence set back would give again.
bool PgKeysetCursor::keyTakenElsewhere(qint64 key)
{
    PgCommand repair(QStringLiteral("select setval($1::regclass, m) from (select max(%1) as m from %2) as t "
                                    "where m > coalesce(pg_sequence_last_value($1::regclass), 0)")
                         .arg(key_, quoted(table_.name)),
                     {table_.keySequence});
    repair.optional = true;   // a role that may not set it takes the next keys in turn
    return PgRowView::count(reading({byKeys({key}), repair})[0]) == 1;
}

QString PgKeysetCursor::cast(const QString &param, const QString &column) const
{
    const PgTable::Column *c = table_.column(column);
    return c ? QStringLiteral("CAST(%1 AS %2)").arg(param, c->sqlType) : param;
}

} // namespace zeplo
