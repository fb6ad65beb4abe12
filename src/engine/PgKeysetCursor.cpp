// The server's keyset cursor: how it is made and how it reads its list.
#include "engine/PgKeysetCursor.h"

#include <algorithm>

#include <QRegularExpression>

#include "engine/PgRows.h"

namespace zeplo {

PgKeysetCursor::PgKeysetCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql,
                               const SimpleSelect &select, const PgTable &table)
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

qsizetype PgKeysetCursor::countRows()
{
    if (keys_.complete())
        return keys_.known();
    if (countsWholeTable_ && !reading_.resumable)
        return qsizetype(PgRowView(pgCountWholeTable(engine_->connection(), count_.sql), 0).integer(0));
    std::vector<PgCommand> commands;
    const std::size_t count = countsWholeTable_ ? pgAddWholeTableCount(commands, count_.sql)
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
    counted_ = PgRowView(results[count], 0).integer(0);
    return qsizetype(counted_);
}

std::vector<RowValues> PgKeysetCursor::rows(qsizetype first, qsizetype count)
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

// ---- statements ----

PgCommand PgKeysetCursor::statement(const QString &sql, const QStringList &params)
{
    const TranslatedSql t = pg::renumbered(sql, params);
    return {t.sql, t.params, true};
}

PgCommand PgKeysetCursor::byKeys(const std::vector<qint64> &keys) const
{
    QStringList list;
    for (qint64 key : keys)
        list << QString::number(key);
    return statement(rowsSql_, QStringList(params_) << QLatin1Char('{') + list.join(QLatin1Char(',')) + QLatin1Char('}'));
}

std::vector<PgResult> PgKeysetCursor::reading(const std::vector<PgCommand> &commands)
{
    return engine_->connection().run(commands, PgRepeat::IfLost);
}

std::size_t PgKeysetCursor::addStatement(std::vector<PgCommand> &commands, PgCommand command) const
{
    if (searching_)
        return PgTransaction::inTrip(commands, std::move(command), {"enable_seqscan = off"});
    commands.push_back(std::move(command));
    return commands.size() - 1;
}

// ---- reading ----

void PgKeysetCursor::describe(const PgResult &result)
{
    columns_ = pgColumns(result.get(), &table_, PgRowView::columns(result) - extraColumns_);
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

PgKeysetCursor::Read PgKeysetCursor::plan(End &end, qsizetype wanted)
{
    const bool withValues = wanted <= kMostRows;
    const qsizetype n = withValues ? std::min(std::max(wanted, end.batch), kMostRows)
                                   : std::clamp(wanted, kFirstKeys, kMostKeys);
    if (withValues)
        end.batch = std::min(end.batch * 4, kMostRows);
    return {&end, n, withValues};
}

std::size_t PgKeysetCursor::add(std::vector<PgCommand> &commands, const Read &read) const
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

RowValues PgKeysetCursor::readRow(qint64 key)
{
    readByKeys({key});
    return kept(key);
}

void PgKeysetCursor::fetch(End &end, qsizetype wanted)
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

void PgKeysetCursor::apply(const Read &read, const PgResult &result, const PgResult *totals)
{
    End &end = *read.end;
    if (columns_.empty())
        describe(result);
    const int keyColumn = read.withValues ? keyColumn_ : 0;
    const int rows = PgRowView::count(result);
    for (int i = 0; i < rows; ++i) {
        const PgRowView row(result, i);
        const qint64 key = row.integer(keyColumn);
        const Keyset::Step step = end.front ? keys_.addFront(key) : keys_.addBack(key);
        if (read.withValues && step == Keyset::Step::Added)
            kept_.keep(key, row.values(userColumns()));
    }
    if (rows > 0) {
        end.started = true;
        const PgRowView last(result, rows - 1);
        end.position.clear();
        for (qsizetype i = 0; i < sortColumns_.size(); ++i)
            end.position << last.string(read.withValues ? sortColumns_[i] : int(i) + 1);
        end.position << QString::number(last.integer(keyColumn));
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
std::vector<qint64> PgKeysetCursor::missed(const PgResult *totals)
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
    if (const PgRowView row(*totals, 0); row.integer(0) == count && quint64(row.integer(1)) == sum)
        return {};
    commands.clear();
    const std::size_t keysAt = addStatement(
        commands, statement(QStringLiteral("select %1 from %2%3").arg(key_, from_, listCondition()), params_));
    const std::vector<PgResult> all = reading(commands);
    std::vector<qint64> missed;
    for (int i = 0; i < PgRowView::count(all[keysAt]); ++i)
        if (const qint64 key = PgRowView(all[keysAt], i).integer(0); !keys_.holds(key))
            missed.push_back(key);
    return missed;
}

QString PgKeysetCursor::listCondition() const
{
    return reading_.condition.isEmpty() ? QString() : QStringLiteral(" where (%1)").arg(reading_.condition);
}

PgCommand PgKeysetCursor::totalsStatement() const
{
    return statement(QStringLiteral("select count(*), coalesce(sum(%1), 0) from %2%3").arg(key_, from_, listCondition()),
                     params_);
}

void PgKeysetCursor::readWhole()
{
    std::vector<PgCommand> commands;
    const std::size_t at = addStatement(
        commands, statement(QStringLiteral("select %1 from %2 %3").arg(list_, from_, reading_.whole), params_));
    std::vector<PgResult> results = reading(commands);
    const PgResult &result = results[at];
    describe(result);
    for (int i = 0; i < PgRowView::count(result); ++i) {
        const PgRowView row(result, i);
        const qint64 key = row.integer(keyColumn_);
        keys_.addFront(key);
        if (std::size_t(i) < kKeptRows)
            kept_.keep(key, row.values(userColumns()));
    }
    keys_.finish();
}

void PgKeysetCursor::readByKeys(const std::vector<qint64> &keys)
{
    const PgResult result = std::move(reading({byKeys(keys)}).front());
    for (qint64 key : keys)
        kept_.forget(key);   // one not found is gone
    for (int i = 0; i < PgRowView::count(result); ++i) {
        const PgRowView row(result, i);
        kept_.keep(row.integer(userColumns()), row.values(userColumns()));
    }
}

// ---- the values kept ----

RowValues PgKeysetCursor::kept(qint64 key) const
{
    const RowValues *values = kept_.find(key);
    return values ? *values : RowValues();
}

void PgKeysetCursor::dropStale()
{
    if (engine_->writes() == writesSeen_)
        return;
    kept_.clear();
    writesSeen_ = engine_->writes();
}

void PgKeysetCursor::wrote(qint64 key, RowValues &&stored)
{
    dropStale();
    kept_.keep(key, std::move(stored));
    engine_->wrote();
    writesSeen_ = engine_->writes();
}

std::unique_ptr<Cursor> openPgKeysetCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql,
                                           const SimpleSelect &select, const PgTable &table)
{
    return std::make_unique<PgKeysetCursor>(engine, sql, select, table);
}

} // namespace zeplo
