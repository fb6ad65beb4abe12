#include "app/BookQueries.h"

#include "engine/SqlDialect.h"

namespace zeplo {

const QString kBaseQuery =
    QStringLiteral("select id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno from zeplo");
const QString kCountQuery = QStringLiteral("select count (distinct(id)) as x from zeplo");

QStringList mainQuery(const QString &filter, const QString &order)
{
    return {kBaseQuery, filter, order};
}

QString searchFilter(const QString &column, const QString &text)
{
    return QStringLiteral("where (%1 like\"%").arg(column) + quoteSearchText(text) + QStringLiteral("%\")");
}

} // namespace zeplo
