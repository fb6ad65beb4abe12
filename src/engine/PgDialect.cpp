#include "engine/PgDialect.h"

#include <QRegularExpression>

#include "engine/PgEngine.h"
#include "engine/SqlDialect.h"

namespace zeplo::pg {

namespace {

// Applies `change` to the parts of `sql` outside standard '...' literals.
template<typename Change>
QString outsideLiterals(const QString &sql, Change change)
{
    static const QRegularExpression literal(QStringLiteral("'(?:[^']|'')*'"));
    QString out;
    qsizetype at = 0;
    for (auto it = literal.globalMatch(sql); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += change(sql.mid(at, m.capturedStart() - at)) + m.captured();
        at = m.capturedEnd();
    }
    return out + change(sql.mid(at));
}

const QString kIdentifier = QStringLiteral(R"([A-Za-z_][A-Za-z0-9_]*(?:\.[A-Za-z_][A-Za-z0-9_]*)?)");

} // namespace

TranslatedSql translate(const QString &dialectSql)
{
    const TranslatedSql t = translateSql(dialectSql, QStringLiteral(" $%1 "));
    return {withCaseInsensitiveLike(t.sql), t.params};
}

TranslatedSql renumbered(const QString &sql, const QStringList &params)
{
    static const QRegularExpression parameter(QStringLiteral(R"(\$(\d+))"));
    TranslatedSql out;
    QList<int> used;
    out.sql = outsideLiterals(sql, [&](const QString &part) {
        QString result;
        qsizetype at = 0;
        for (auto it = parameter.globalMatch(part); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const int n = m.captured(1).toInt();
            if (!used.contains(n)) {
                used << n;
                out.params << params.value(n - 1);
            }
            result += part.mid(at, m.capturedStart() - at) + QStringLiteral("$%1").arg(used.indexOf(n) + 1);
            at = m.capturedEnd();
        }
        return result + part.mid(at);
    });
    return out;
}

QString folded(const QString &operand)
{
    return QStringLiteral("lower(CAST(%1 AS text) COLLATE %2)").arg(operand, QLatin1String(kCzechCollation));
}

QString withCaseInsensitiveLike(const QString &sql)
{
    static const QRegularExpression like(
        QStringLiteral(R"((%1|\$\d+)\s+(not\s+)?like\s+(%1|\$\d+))").arg(kIdentifier),
        QRegularExpression::CaseInsensitiveOption);
    static const QString lowered = folded(QStringLiteral("\\1")) + QStringLiteral(" \\2LIKE ")
                                   + folded(QStringLiteral("\\3")) + QStringLiteral(" ESCAPE ''");
    return outsideLiterals(sql, [](QString part) { return part.replace(like, lowered); });
}

KeysetOrder czechOrder(const QString &rest, const PgTable &table, const QString &tieBreaker)
{
    const QString key = tieBreaker.isEmpty() ? QString() : quoted(tieBreaker);
    const OrderBy order = parseOrderBy(rest);
    const QString head = rest.left(order.found ? order.start : order.end);
    const QString after = QLatin1Char(' ') + rest.mid(order.end);
    if (!order.found) {
        if (key.isEmpty())
            return {rest, QString()};
        const QString by = QStringLiteral(" order by ") + key;
        return {head + by + after, order.tail ? QString() : head + by + QStringLiteral(" DESC") + after, true};
    }
    TurnedOrder turned = turnOrder(order, [&table](const QString &name, bool descending) {
        const PgTable::Column *column = table.column(name);
        const QString collated = name + (column && column->text
                                             ? QStringLiteral(" COLLATE ") + QLatin1String(kCzechCollation)
                                             : QString());
        // Turned round, empty values come last: exactly the opposite order.
        return collated + (descending ? QStringLiteral(" DESC NULLS LAST") : QStringLiteral(" ASC NULLS FIRST"));
    });
    if (!key.isEmpty()) {
        turned.forward << key;
        turned.backward << key + QStringLiteral(" DESC");
    }
    const bool reversible = turned.plain && !order.tail && !key.isEmpty();
    return {head + turned.forward.join(QStringLiteral(", ")) + after,
            reversible ? head + turned.backward.join(QStringLiteral(", ")) + after : QString()};
}

KeysetReading keysetReading(const QString &rest, const PgTable &table)
{
    static const QRegularExpression where(QStringLiteral(R"(^\s*where\s+(.*\S)\s*$)"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::DotMatchesEverythingOption);
    KeysetReading r;
    r.whole = czechOrder(rest, table, table.key).forward;
    const OrderBy order = parseOrderBy(rest);
    const QString before = rest.left(order.found ? order.at : order.end);
    if (order.tail)
        return r;
    if (!before.trimmed().isEmpty()) {
        const QRegularExpressionMatch m = where.match(before);
        if (!m.hasMatch())
            return r;
        r.condition = m.captured(1);
    }
    QStringList forward, backward;
    for (const OrderBy::Item &item : order.items) {
        const PgTable::Column *column = item.column.isEmpty() ? nullptr : table.column(item.column);
        if (!column)
            return r;
        const QString name = quoted(column->name);
        r.items.push_back({name, column->text ? name + QStringLiteral(" COLLATE ") + QLatin1String(kCzechCollation) : name,
                           item.descending});
    }
    r.items.push_back({quoted(table.key), quoted(table.key), false});
    for (const KeysetReading::Item &item : r.items) {
        // Empty values first, as the catalogue file sorts them; turned round, last.
        const bool last = &item == &r.items.back();
        forward << item.compared + (item.descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC"))
                       + (last ? QString() : item.descending ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST"));
        backward << item.compared + (item.descending ? QStringLiteral(" ASC") : QStringLiteral(" DESC"))
                        + (last ? QString() : item.descending ? QStringLiteral(" NULLS FIRST") : QStringLiteral(" NULLS LAST"));
    }
    r.forward = QStringLiteral("order by ") + forward.join(QStringLiteral(", "));
    r.backward = QStringLiteral("order by ") + backward.join(QStringLiteral(", "));
    r.resumable = true;
    return r;
}

QString KeysetReading::after(const QStringList &position, bool turned, QStringList &params) const
{
    const auto param = [&](const QString &value) {
        params << value;
        return QStringLiteral("$%1").arg(params.size());
    };
    QStringList terms;
    QStringList equal;   // the items before the one that decides
    for (qsizetype i = 0; i < items.size(); ++i) {
        const Item &item = items[i];
        const QString value = position.value(i);
        const bool descending = item.descending != turned;
        const QString p = value.isNull() ? QString() : param(value);
        QString later;
        if (i == items.size() - 1)
            later = item.column + (descending ? QStringLiteral(" < ") : QStringLiteral(" > ")) + p;
        else if (value.isNull())
            later = descending ? QString() : item.column + QStringLiteral(" IS NOT NULL");
        else if (descending)
            later = QStringLiteral("(%1 < %2 OR %3 IS NULL)").arg(item.compared, p, item.column);
        else
            later = QStringLiteral("%1 > %2").arg(item.compared, p);
        if (!later.isEmpty())
            terms << QLatin1Char('(') + QStringList(equal + QStringList{later}).join(QStringLiteral(" AND ")) + QLatin1Char(')');
        equal << (value.isNull() ? item.column + QStringLiteral(" IS NULL") : QStringLiteral("%1 = %2").arg(item.compared, p));
    }
    return QLatin1Char('(') + terms.join(QStringLiteral(" OR ")) + QLatin1Char(')');
}

} // namespace zeplo::pg
