// The server's keyset cursor: a row changed or deleted, by its key, only as it was read.
#include "engine/PgKeysetCursor.h"

#include "engine/PgRows.h"

namespace zeplo {

void PgKeysetCursor::update(qsizetype index, const RowValues &original, const RowValues &values)
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
    if (PgRowView::count(results[0]) == 1) {
        wrote(key, PgRowView(results[0], 0).values(userColumns()));
        return;
    }
    if (PgRowView::count(results[1]) == 0)
        refuseUpdateOfDeletedRow();
    const RowValues now = PgRowView(results[1], 0).values(userColumns());
    kept_.keep(key, RowValues(now));
    // The row holds what this post asked for: an earlier post whose answer
    // was lost stored it, or another user made the very same change.
    if (holdsWritten(now, values, samePgValue)) {
        wrote(key, RowValues(now));
        return;
    }
    refuseUpdateOfChangedRow();
}

void PgKeysetCursor::remove(qsizetype index, const RowValues &original)
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
    if (PgRowView::count(results[0]) == 0 && PgRowView::count(results[1]) == 1) {
        kept_.keep(key, PgRowView(results[1], 0).values(userColumns()));
        refuseRemovalOfChangedRow();
    }
    keys_.remove(index);
    kept_.forget(key);
    engine_->wrote();
    writesSeen_ = engine_->writes();
}

QString PgKeysetCursor::asRead(qint64 key, const RowValues &original, QStringList &params) const
{
    params << QString::number(key);
    QStringList same{QStringLiteral("%1 = $%2").arg(key_).arg(params.size())};
    for (int i : comparedColumns(original)) {
        params << pgParam(original.value(i));
        same << QStringLiteral("%1 IS NOT DISTINCT FROM $%2").arg(asCompared(i)).arg(params.size());
    }
    return same.join(QStringLiteral(" and "));
}

QString PgKeysetCursor::asCompared(int i) const
{
    const ColumnInfo &c = columns_[size_t(i)];
    const PgTable::Column *column = table_.column(c.origin);
    const QString name = quoted(c.origin);
    return column && column->comparedAsText ? QStringLiteral("CAST(%1 AS text)").arg(name) : name;
}

} // namespace zeplo
