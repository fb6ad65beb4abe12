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

Translated translate(const QString &dialectSql)
{
    const TranslatedSql t = translateSql(dialectSql, QStringLiteral(" $%1 "));
    return {withCaseInsensitiveLike(t.sql), t.literals};
}

Translated renumbered(const QString &sql, const QStringList &params)
{
    static const QRegularExpression parameter(QStringLiteral(R"(\$(\d+))"));
    Translated out;
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

} // namespace zeplo::pg
