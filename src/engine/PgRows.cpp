#include "engine/PgRows.h"

#include <charconv>

#include <libpq-fe.h>

#include "engine/PgEngine.h"

namespace zeplo {

namespace {

// Type oids of the server's built-in types that the program reads as more than text.
enum : Oid { kBool = 16, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kOid = 26, kJson = 114,
             kXml = 142, kFloat4 = 700, kFloat8 = 701, kBpchar = 1042, kVarchar = 1043, kJsonb = 3802 };

} // namespace

int PgRowView::count(const PgResult &result)
{
    return result ? PQntuples(result.get()) : 0;
}

int PgRowView::columns(const PgResult &result)
{
    return result ? PQnfields(result.get()) : 0;
}

bool PgRowView::isNull(int column) const
{
    return PQgetisnull(result_, row_, column) != 0;
}

std::string_view PgRowView::text(int column) const
{
    return std::string_view(PQgetvalue(result_, row_, column), std::size_t(PQgetlength(result_, row_, column)));
}

QString PgRowView::string(int column) const
{
    if (isNull(column))
        return QString();
    const std::string_view t = text(column);
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
}

qint64 PgRowView::integer(int column) const
{
    const std::string_view t = text(column);
    qint64 n = 0;
    std::from_chars(t.data(), t.data() + t.size(), n);
    return n;
}

bool PgRowView::flag(int column) const
{
    return *PQgetvalue(result_, row_, column) == 't';
}

QVariant PgRowView::value(int column) const
{
    if (isNull(column))
        return QVariant();
    switch (PQftype(result_, column)) {
    case kBool:
        return QVariant(flag(column));
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        return QVariant(integer(column));
    case kFloat4:
    case kFloat8:
        return QVariant(QByteArray(PQgetvalue(result_, row_, column)).toDouble());
    default:
        return QVariant(string(column));
    }
}

RowValues PgRowView::values(int count) const
{
    RowValues values;
    values.reserve(count);
    for (int i = 0; i < count; ++i)
        values << value(i);
    return values;
}

QString pgParam(const QVariant &v)
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

bool samePgValue(const QVariant &a, const QVariant &b)
{
    const QString x = pgParam(a), y = pgParam(b);
    // QString takes a null text and an empty one as equal; NULL and '' are not.
    return x.isNull() == y.isNull() && x == y;
}

QString pgDeclType(unsigned type, const QString &formatted)
{
    switch (type) {
    case kBool: return QStringLiteral("BOOLEAN");
    case kInt2: return QStringLiteral("SMALLINT");
    case kInt4: case kOid: return QStringLiteral("INTEGER");
    case kInt8: return QStringLiteral("BIGINT");
    case kText: case kJson: case kJsonb: case kXml: return QStringLiteral("TEXT");
    case kVarchar: case kBpchar: return formatted.toUpper();
    case kFloat4: case kFloat8: return QStringLiteral("DOUBLE PRECISION");
    // A size the server gives another type (numeric(8,2), timestamp(3)) is
    // not a number of characters.
    default: return QStringLiteral("VARCHAR");
    }
}

bool pgComparedAsText(unsigned type)
{
    switch (type) {
    case kBool: case kName: case kInt2: case kInt4: case kInt8: case kOid: case kText: case kVarchar: case kBpchar:
    case kFloat4: case kFloat8:
        return false;
    default:
        return true;
    }
}

std::size_t pgAddWholeTableCount(std::vector<PgCommand> &commands, const QString &sql)
{
    return PgTransaction::inTrip(commands, PgCommand(sql, {}, true),
                                 {"enable_seqscan = off", "max_parallel_workers_per_gather = 0"});
}

PgResult pgCountWholeTable(PgConnection &connection, const QString &sql)
{
    std::vector<PgCommand> commands;
    const std::size_t at = pgAddWholeTableCount(commands, sql);
    return std::move(connection.run(commands, PgRepeat::IfLost)[at]);
}

std::vector<ColumnInfo> pgColumns(const pg_result *result, const PgTable *table, int count)
{
    std::vector<ColumnInfo> columns;
    const int n = count < 0 ? PQnfields(result) : std::min(count, PQnfields(result));
    for (int i = 0; i < n; ++i) {
        ColumnInfo c;
        c.name = QString::fromUtf8(PQfname(result, i));
        const int modifier = PQfmod(result, i);
        c.declType = pgDeclType(PQftype(result, i), modifier > 4 && (PQftype(result, i) == kVarchar)
                                                         ? QStringLiteral("CHARACTER VARYING(%1)").arg(modifier - 4)
                                                         : QStringLiteral("TEXT"));
        if (table && PQftable(result, i) == table->oid) {
            const auto it = table->columns.find(PQftablecol(result, i));
            // A generated column is the server's to compute: shown, never written.
            if (it != table->columns.end() && !it->second.generated) {
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

} // namespace zeplo
