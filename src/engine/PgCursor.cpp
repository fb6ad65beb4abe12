#include "engine/Cursor.h"
#include "engine/Keyset.h"
#include "engine/PgDialect.h"
#include "engine/PgEngine.h"
#include "engine/SqlDialect.h"

#include <algorithm>
#include <limits>
#include <map>

#include <QtEndian>

#include <libpq-fe.h>

namespace zeplo {

namespace {

// Type oids of the server's built-in types that are not read as text.
enum : Oid { kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kText = 25, kFloat4 = 700, kFloat8 = 701,
             kVarchar = 1043, kNumeric = 1700 };

QVariant value(const PGresult *result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return QVariant();
    const char *text = PQgetvalue(result, row, column);
    switch (PQftype(result, column)) {
    case kBool:
        return QVariant(*text == 't');
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        return QVariant(QByteArray(text).toLongLong());
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QVariant(QByteArray(text).toDouble());
    default:
        return QVariant(QString::fromUtf8(text, PQgetlength(result, row, column)));
    }
}

// The first `n` values of the row, or all of them.
RowValues rowValues(const PGresult *result, int row, int n = -1)
{
    RowValues values;
    if (n < 0)
        n = PQnfields(result);
    values.reserve(n);
    for (int i = 0; i < n; ++i)
        values << value(result, row, i);
    return values;
}

// A value as a parameter text: what the server reads back as the same value.
QString param(const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return QString();
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("t") : QStringLiteral("f");
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 17);
    const QString text = v.toString();
    return text.isNull() ? QStringLiteral("") : text;
}

QString typeName(Oid type, int modifier)
{
    switch (type) {
    case kBool: return QStringLiteral("BOOLEAN");
    case kInt2: return QStringLiteral("SMALLINT");
    case kInt4: case kOid: return QStringLiteral("INTEGER");
    case kInt8: return QStringLiteral("BIGINT");
    case kFloat4: case kFloat8: case kNumeric: return QStringLiteral("DOUBLE PRECISION");
    case kText: return QStringLiteral("TEXT");
    case kVarchar:
        return modifier > 4 ? QStringLiteral("CHARACTER VARYING(%1)").arg(modifier - 4) : QStringLiteral("TEXT");
    default: return QString();
    }
}

// The columns of a result: table columns as the table declares them, the
// others (expressions) by their type and read-only.
std::vector<ColumnInfo> describe(const PGresult *result, const PgTable *table)
{
    std::vector<ColumnInfo> columns;
    for (int i = 0; i < PQnfields(result); ++i) {
        ColumnInfo c;
        c.name = QString::fromUtf8(PQfname(result, i));
        c.declType = typeName(PQftype(result, i), PQfmod(result, i));
        if (table && PQftable(result, i) == table->oid) {
            const auto it = table->columns.find(PQftablecol(result, i));
            if (it != table->columns.end()) {
                c.origin = it->second.name;
                c.declType = it->second.declType;
                c.notNull = it->second.notNull;
                c.autoIncrement = it->second.autoIncrement;
            }
        }
        columns.push_back(c);
    }
    return columns;
}

// The number of rows of a whole table. Counted by the key's index alone, the
// server reads a fraction of the table's pages (none of the rows while the
// table's visibility map is current, which the server's vacuum keeps so);
// left to itself it reads the table with parallel workers, which on a table of
// a million rows cost more than they save.
PgResult countWholeTable(PgConnection &connection, const QString &sql)
{
    connection.exec(QStringLiteral("BEGIN"));
    try {
        connection.exec(QStringLiteral("SET LOCAL enable_seqscan = off"));
        connection.exec(QStringLiteral("SET LOCAL max_parallel_workers_per_gather = 0"));
        PgResult result = connection.exec(sql);
        connection.exec(QStringLiteral("COMMIT"));
        return result;
    } catch (...) {
        if (connection.usable())
            PQclear(PQexec(connection.get(), "ROLLBACK"));
        throw;
    }
}

class PgStaticCursor final : public StaticCursor {
public:
    PgStaticCursor(const std::shared_ptr<PgEngine> &engine, const pg::Translated &sql)
    {
        QString text = sql.sql;
        const PgTable *table = nullptr;
        bool wholeTable = false;
        if (const std::optional<KeyCount> count = parseKeyCount(text)) {
            table = engine->table(count->table);
            if (table && !table->key.isEmpty() && count->column.compare(table->key, Qt::CaseInsensitive) == 0) {
                // Without an alias the column keeps the name the server gives the count.
                text = count->rowCount(QStringLiteral("count"));
                wholeTable = true;
            }
        } else if (const auto select = parseSimpleSelect(text)) {
            table = engine->table(select->table);
            if (table)
                text = QStringLiteral("select %1 from %2 %3")
                           .arg(select->columns, select->table, pg::czechOrder(select->rest, *table, QString()).forward);
        }
        const PgResult result = wholeTable ? countWholeTable(engine->writer(), text) : engine->writer().exec(text, sql.params);
        columns_ = describe(result.get(), table);
        for (int i = 0; i < PQntuples(result.get()); ++i)
            rows_.push_back(rowValues(result.get(), i));
    }
};

// A keyset cursor: server-side cursors yield the keys of the rows, fetched in
// growing batches as far as the caller looks; the values of a row are read by
// its key when they are needed. When the order can be turned round, a second
// cursor yields the keys from the last row back (see Keyset), declared when
// the caller first looks there. Both live in the reader's transaction, which
// reads one snapshot.
class PgKeysetCursor final : public Cursor {
public:
    PgKeysetCursor(const std::shared_ptr<PgEngine> &engine, const pg::Translated &sql, const SimpleSelect &select,
                   const PgTable &table)
        : engine_(engine), table_(table), key_(quoted(table.key))
    {
        const pg::Translated columns = pg::renumbered(select.columns, sql.params);
        rowParams_ = columns.params;
        rowSql_ = QStringLiteral("select %1 from %2 where %3 = $%4")
                      .arg(columns.sql, select.table, key_).arg(rowParams_.size() + 1);
        rowsSql_ = QStringLiteral("select %1, %3 from %2 where %3 = ANY($%4::bigint[])")
                       .arg(columns.sql, select.table, key_).arg(rowParams_.size() + 1);
        const KeysetOrder order = pg::czechOrder(select.rest, table, table.key);
        const auto keysOf = [&](const QString &rest) {
            return pg::renumbered(QStringLiteral("select %1 from %2 %3").arg(key_, select.table, rest), sql.params);
        };
        front_.query = keysOf(order.forward);
        if (!order.backward.isEmpty())
            back_.query = keysOf(order.backward);
        count_ = pg::renumbered(countQuery(select.table, select.rest, key_), sql.params);
        countsWholeTable_ = count_.sql.simplified() == QStringLiteral("select count(*) from %1").arg(select.table);
        prepareRow();
        begin();
    }

    ~PgKeysetCursor() override
    {
        release();
        PgConnection &writer = engine_->writer();
        if (rowGeneration_ == writer.generation() && writer.usable())
            PQclear(PQexec(writer.get(), ("DEALLOCATE " + rowName_).constData()));
        if (!rowsName_.isEmpty() && rowsGeneration_ == writer.generation() && writer.usable())
            PQclear(PQexec(writer.get(), ("DEALLOCATE " + rowsName_).constData()));
    }

    bool updatable() const override { return table_.writable && !engine_->readOnly(); }
    bool readsFromEnd() const override { return !back_.query.sql.isEmpty(); }

    bool fetchTo(qsizetype index) override
    {
        if (index >= 0) {
            while (!keys_.complete() && keys_.frontCount() <= index)
                fetch(front_, index + 1 - keys_.frontCount());
            return index < keys_.known();
        }
        if (!readsFromEnd())
            return false;
        while (!keys_.complete() && keys_.backCount() < -index)
            fetch(back_, -index - keys_.backCount());
        return -index <= keys_.known();
    }
    bool complete() const override { return keys_.complete(); }
    qsizetype knownCount() const override { return keys_.known(); }

    qsizetype countRows() override
    {
        if (keys_.complete())
            return keys_.known();
        const PgResult result = countsWholeTable_ ? countWholeTable(engine_->writer(), count_.sql)
                                                  : engine_->writer().exec(count_.sql, count_.params);
        return qsizetype(QByteArray(PQgetvalue(result.get(), 0, 0)).toLongLong());
    }

    RowValues row(qsizetype index) override
    {
        if (!fetchTo(index))
            return {};
        return readRow(keys_.at(index));
    }

    // The rows of a screen in one statement rather than one each.
    std::vector<RowValues> rows(qsizetype first, qsizetype count) override
    {
        std::vector<qint64> keys;
        for (qsizetype i = first; i < first + count && (first >= 0 || i < 0) && fetchTo(i); ++i)
            keys.push_back(keys_.at(i));
        if (keys.size() < 2)
            return Cursor::rows(first, count);
        PgConnection &writer = engine_->writer();
        writer.ensureConnected();
        if (rowsName_.isEmpty() || rowsGeneration_ != writer.generation()) {
            rowsName_ = engine_->nextName("zeplo_rows_");
            writer.prepare(rowsName_, rowsSql_);
            rowsGeneration_ = writer.generation();
        }
        QStringList list;
        for (qint64 key : keys)
            list << QString::number(key);
        QStringList params = rowParams_;
        params << QLatin1Char('{') + list.join(QLatin1Char(',')) + QLatin1Char('}');
        const PgResult result = writer.execPrepared(rowsName_, params);
        const int n = int(columns_.size());
        std::map<qint64, int> found;
        for (int i = 0; i < PQntuples(result.get()); ++i)
            found[QByteArray(PQgetvalue(result.get(), i, n)).toLongLong()] = i;
        // A row gone since its key was read comes back empty, as a single read gives it.
        std::vector<RowValues> out;
        out.reserve(keys.size());
        for (qint64 key : keys) {
            const auto it = found.find(key);
            out.push_back(it == found.end() ? RowValues() : rowValues(result.get(), it->second, n));
        }
        return out;
    }

    void update(qsizetype index, const RowValues &original, const RowValues &values) override
    {
        const qint64 key = keys_.at(index);
        QStringList sets, same, params;
        for (int i = 0; i < int(columns_.size()); ++i) {
            const ColumnInfo &c = columns_[size_t(i)];
            if (c.origin.isEmpty() || c.autoIncrement)
                continue;
            params << param(values.value(i));
            sets << QStringLiteral("%1 = $%2").arg(quoted(c.origin)).arg(params.size());
        }
        if (sets.isEmpty())
            return;
        params << QString::number(key);
        const QString keyParam = QStringLiteral("$%1").arg(params.size());
        for (int i = 0; i < int(columns_.size()); ++i) {
            const ColumnInfo &c = columns_[size_t(i)];
            if (c.origin.isEmpty())
                continue;
            params << param(original.value(i));
            same << QStringLiteral("%1 IS NOT DISTINCT FROM $%2").arg(quoted(c.origin)).arg(params.size());
        }
        // One statement, so one transaction: the check and the write cannot be parted.
        const PgResult result = engine_->writer().exec(
            QStringLiteral("update %1 set %2 where %3 = %4 and %5")
                .arg(quoted(table_.name), sets.join(QStringLiteral(", ")), key_, keyParam,
                     same.join(QStringLiteral(" and "))),
            params);
        if (QByteArray(PQcmdTuples(result.get())) == "0") {
            if (readRow(key).isEmpty())
                throw EngineError(QStringLiteral("The record was deleted by another user after it was read; "
                                                 "the change has not been saved"));
            throw EngineError(QStringLiteral("The record was changed by another user after it was read; "
                                             "the change has not been saved, so that the other change is not lost"));
        }
    }

    void insert(qsizetype index, const RowValues &values) override
    {
        QStringList names, marks, params;
        for (int i = 0; i < int(columns_.size()); ++i) {
            const ColumnInfo &c = columns_[size_t(i)];
            if (c.origin.isEmpty() || c.autoIncrement || values.value(i).isNull())
                continue;
            names << quoted(c.origin);
            params << param(values.value(i));
            marks << QStringLiteral("$%1").arg(params.size());
        }
        const QString into = names.isEmpty() ? QStringLiteral("default values")
                                             : QStringLiteral("(%1) values (%2)")
                                                   .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        const PgResult result = engine_->writer().exec(
            QStringLiteral("insert into %1 %2 returning %3").arg(quoted(table_.name), into, key_), params);
        keys_.insert(index, QByteArray(PQgetvalue(result.get(), 0, 0)).toLongLong());
    }

    void remove(qsizetype index) override
    {
        const qint64 key = keys_.at(index);
        // A row that is already gone is not an error.
        engine_->writer().exec(QStringLiteral("delete from %1 where %2 = $1").arg(quoted(table_.name), key_),
                               {QString::number(key)});
        keys_.remove(index);
    }

private:
    static constexpr qsizetype kFirstBatch = 100;
    static constexpr qsizetype kLargestBatch = 250000;

    // One end's server-side cursor.
    struct End {
        pg::Translated query;
        QString name;   // empty until declared in the current transaction
        qsizetype batch = kFirstBatch;
    };

    template<typename Command>
    PgResult onReader(Command command)
    {
        try {
            return command();
        } catch (...) {
            engine_->endReading();
            throw;
        }
    }

    // Joins the reader's transaction; the ends are declared there as needed.
    void begin()
    {
        engine_->cursorOpened();
        transaction_ = engine_->transaction();
        front_.name.clear();
        back_.name.clear();
        declare(front_, keys_.frontSteps());
    }

    // Declared again after the session or its transaction ended: the keys
    // already held are skipped.
    void declare(End &end, qsizetype skip)
    {
        end.name = QString::fromLatin1(engine_->nextName("zeplo_keys_"));
        onReader([&] {
            engine_->reader().exec(QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR %2").arg(end.name, end.query.sql),
                                   end.query.params);
            if (skip > 0)
                engine_->reader().exec(QStringLiteral("MOVE FORWARD %1 IN %2").arg(skip).arg(end.name));
            return PgResult();
        });
    }

    void fetch(End &end, qsizetype wanted)
    {
        if (transaction_ != engine_->transaction())
            begin();   // the session or its transaction ended: carry on where the keys stopped
        const bool atFront = &end == &front_;
        if (end.name.isEmpty())
            declare(end, keys_.backSteps());
        // Near the start only what was asked for is read (opening reads the
        // first screen, Ctrl+End the last); further on, reads run ahead in
        // growing batches, so a long walk takes few round trips.
        const qsizetype steps = atFront ? keys_.frontSteps() : keys_.backSteps();
        qsizetype count = wanted;
        if (steps + wanted > kFirstBatch) {
            count = std::max(wanted, end.batch);
            end.batch = std::min<qsizetype>(end.batch * 4, kLargestBatch);
        }
        count = std::min(count, kLargestBatch);
        const PgResult result = onReader([&] {
            return engine_->reader().exec(QStringLiteral("FETCH FORWARD %1 FROM %2").arg(count).arg(end.name), {}, true);
        });
        const int rows = PQntuples(result.get());
        for (int i = 0; i < rows; ++i) {
            const qint64 key = binaryKey(result.get(), i);
            if ((atFront ? keys_.addFront(key) : keys_.addBack(key)) == Keyset::Step::Met) {
                release();
                return;
            }
        }
        if (rows < count) {
            keys_.finish();
            release();
        }
    }

    void release()
    {
        if (transaction_ != engine_->transaction())
            return;
        transaction_ = 0;
        PgConnection &reader = engine_->reader();
        for (const End *end : {&front_, &back_})
            if (!end->name.isEmpty() && reader.usable())
                PQclear(PQexec(reader.get(), QStringLiteral("CLOSE %1").arg(end->name).toUtf8().constData()));
        engine_->cursorClosed();
    }
    void prepareRow()
    {
        PgConnection &writer = engine_->writer();
        rowName_ = engine_->nextName("zeplo_row_");
        writer.prepare(rowName_, rowSql_);
        rowGeneration_ = writer.generation();
        const PgResult description(PQdescribePrepared(writer.get(), rowName_.constData()));
        columns_ = describe(description.get(), &table_);
    }

    RowValues readRow(qint64 key)
    {
        engine_->writer().ensureConnected();
        if (rowGeneration_ != engine_->writer().generation())
            prepareRow();   // a new session: the statement went with the old one
        QStringList params = rowParams_;
        params << QString::number(key);
        const PgResult result = engine_->writer().execPrepared(rowName_, params);
        return PQntuples(result.get()) > 0 ? rowValues(result.get(), 0) : RowValues();
    }

    static qint64 binaryKey(const PGresult *result, int row)
    {
        const auto *bytes = reinterpret_cast<const uchar *>(PQgetvalue(result, row, 0));
        switch (PQgetlength(result, row, 0)) {
        case 2: return qFromBigEndian<qint16>(bytes);
        case 4: return qFromBigEndian<qint32>(bytes);
        default: return qFromBigEndian<qint64>(bytes);
        }
    }

    std::shared_ptr<PgEngine> engine_;
    const PgTable &table_;
    QStringList rowParams_;   // of the row's statement, before the key
    QString key_;
    QString rowSql_;
    End front_, back_;
    pg::Translated count_;
    bool countsWholeTable_ = false;
    QByteArray rowName_;
    quint64 rowGeneration_ = 0;
    QString rowsSql_;         // the rows of several keys, each followed by its key
    QByteArray rowsName_;
    quint64 rowsGeneration_ = 0;
    quint64 transaction_ = 0;
    Keyset keys_;
};

} // namespace

std::unique_ptr<Cursor> PgEngine::openCursor(const QString &dialectSql, bool live)
{
    const auto engine = shared_from_this();
    const pg::Translated sql = pg::translate(dialectSql);
    if (live) {
        if (const auto select = parseSimpleSelect(sql.sql)) {
            const PgTable *t = table(select->table);
            if (t && !t->key.isEmpty() && t->column(t->key)->declType.contains(QLatin1String("INT")))
                return std::make_unique<PgKeysetCursor>(engine, sql, *select, *t);
        }
    }
    return std::make_unique<PgStaticCursor>(engine, sql);
}

} // namespace zeplo
