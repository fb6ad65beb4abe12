#include "app/BookQueries.h"

#include "engine/SqlDialect.h"

namespace zeplo {

const QString kBaseQuery = schema::selectAll();
const QString kCountQuery = QStringLiteral("select count (distinct(%1)) as x from %2")
                                .arg(schema::columnName(schema::Id), QString::fromLatin1(schema::kTable));

QStringList mainQuery(const QString &filter, const QString &order)
{
    return {kBaseQuery, filter, order};
}

QString searchFilter(schema::Position column, const QString &text)
{
    return QStringLiteral("where (%1 like\"%").arg(schema::columnName(column)) + quoteSearchText(text)
           + QStringLiteral("%\")");
}

QString lentFilter()
{
    return QStringLiteral("where %1 IS NOT NULL").arg(schema::columnName(schema::Lent));
}

QString flagFilter(schema::Position column, bool value)
{
    return QStringLiteral("where (%1 = %2)")
        .arg(schema::columnName(column), value ? QStringLiteral("true") : QStringLiteral("false"));
}

QString orderBy(schema::Position column)
{
    return QStringLiteral("order by %1").arg(schema::columnName(column));
}

} // namespace zeplo
