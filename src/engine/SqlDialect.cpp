#include "engine/SqlDialect.h"

#include <QRegularExpression>

#include "engine/Engine.h"

namespace zeplo {

TranslatedSql translateSql(const QString &dialectSql, const QString &placeholder)
{
    TranslatedSql out;
    const qsizetype n = dialectSql.size();
    out.sql.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = dialectSql.at(i);
        if (c == QLatin1Char('\'')) {
            // A standard literal passes through untouched.
            qsizetype j = i + 1;
            for (; j < n; ++j) {
                if (dialectSql.at(j) == QLatin1Char('\'')) {
                    if (j + 1 < n && dialectSql.at(j + 1) == QLatin1Char('\''))
                        ++j;
                    else
                        break;
                }
            }
            if (j >= n)
                throw EngineError(QStringLiteral("unterminated string literal in the SQL text"));
            out.sql += dialectSql.mid(i, j - i + 1);
            i = j;
        } else if (c == QLatin1Char('"')) {
            QString value;
            qsizetype j = i + 1;
            for (; j < n; ++j) {
                const QChar d = dialectSql.at(j);
                if (d == QLatin1Char('"')) {
                    if (j + 1 < n && dialectSql.at(j + 1) == QLatin1Char('"')) {
                        value += d;
                        ++j;
                        continue;
                    }
                    break;
                }
                value += d;
            }
            if (j >= n)
                throw EngineError(QStringLiteral("unterminated string literal in the SQL text"));
            out.params << value;
            out.sql += placeholder.arg(out.params.size());
            i = j;
        } else {
            out.sql += c;
        }
    }
    return out;
}

QString quoteSearchText(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return out;
}

std::optional<SimpleSelect> parseSimpleSelect(const QString &sql)
{
    static const QRegularExpression shape(
        QStringLiteral(R"(^\s*select\s+(.+?)\s+from\s+([A-Za-z_][A-Za-z0-9_]*)(\s.*)?$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression notSimpleColumns(
        QStringLiteral(R"(\(|^\s*distinct\b|^\s*all\b)"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression notSimpleRest(
        QStringLiteral(R"(^\s*,|\b(join|group|union|intersect|except|having|window)\b|;)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = shape.match(sql);
    if (!m.hasMatch())
        return std::nullopt;
    SimpleSelect s{m.captured(1), m.captured(2), m.captured(3)};
    if (notSimpleColumns.match(s.columns).hasMatch() || notSimpleRest.match(s.rest).hasMatch())
        return std::nullopt;
    return s;
}

std::optional<KeyCount> parseKeyCount(const QString &sql)
{
    static const QRegularExpression shape(
        QStringLiteral(R"re(^\s*select\s+(count\s*\(\s*distinct\s*(?:\(\s*([A-Za-z_]\w*)\s*\)|\s([A-Za-z_]\w*))\s*\)))re"
                       R"re((?:\s+as\s+([A-Za-z_]\w*))?\s+from\s+([A-Za-z_]\w*)\s*$)re"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = shape.match(sql);
    if (!m.hasMatch())
        return std::nullopt;
    return KeyCount{m.captured(2).isEmpty() ? m.captured(3) : m.captured(2), m.captured(5), m.captured(1), m.captured(4)};
}

QString KeyCount::rowCount(const QString &unnamed) const
{
    return QStringLiteral("select count(*) as %1 from %2").arg(alias.isEmpty() ? unnamed : alias, table);
}

QString countQuery(const QString &table, const QString &rest, const QString &key)
{
    static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\s.*$)"),
                                            QRegularExpression::CaseInsensitiveOption
                                                | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression whole(QStringLiteral(R"(\b(limit|offset|select)\b)"),
                                          QRegularExpression::CaseInsensitiveOption);
    // Anything but a plain order at the end keeps the query whole.
    if (whole.match(rest).hasMatch())
        return QStringLiteral("select count(*) from (select %1 from %2 %3) as counted").arg(key, table, rest);
    QString where = rest;
    return QStringLiteral("select count(*) from %1 %2").arg(table, where.remove(orderBy));
}

OrderBy parseOrderBy(const QString &rest)
{
    static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\s+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression plainItem(
        QStringLiteral(R"(^\s*([A-Za-z_][A-Za-z0-9_]*)(?:\s+(asc|desc))?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tail(QStringLiteral(R"(\b(limit|offset|for)\b)"),
                                         QRegularExpression::CaseInsensitiveOption);
    OrderBy out;
    const QRegularExpressionMatch m = orderBy.match(rest);
    out.found = m.hasMatch();
    out.at = out.found ? m.capturedStart() : rest.size();
    out.start = out.found ? m.capturedEnd() : rest.size();
    const QRegularExpressionMatch t = tail.match(rest, out.found ? out.start : 0);
    out.tail = t.hasMatch();
    out.end = out.tail ? t.capturedStart() : rest.size();
    if (!out.found)
        return out;
    for (const QString &item : rest.mid(out.start, out.end - out.start).split(QLatin1Char(','))) {
        const QRegularExpressionMatch p = plainItem.match(item);
        if (p.hasMatch())
            out.items.push_back({item, p.captured(1), p.captured(2).compare(QLatin1String("desc"), Qt::CaseInsensitive) == 0});
        else
            out.items.push_back({item, QString(), false});
    }
    return out;
}

QString quoted(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

TurnedOrder turnOrder(const OrderBy &order, const std::function<QString(const QString &, bool)> &write)
{
    TurnedOrder turned;
    for (const OrderBy::Item &item : order.items) {
        if (item.column.isEmpty()) {
            turned.plain = false;
            turned.forward << item.text;
            continue;
        }
        turned.forward << write(item.column, item.descending);
        turned.backward << write(item.column, !item.descending);
    }
    return turned;
}

KeysetOrder keysetOrder(const QString &rest)
{
    const OrderBy order = parseOrderBy(rest);
    if (!order.found) {
        // Without an order the rows come in row id order, which the engine
        // reads from either end of the table without sorting.
        if (order.tail)
            return {rest, QString()};
        return {rest + QStringLiteral(" order by rowid"), rest + QStringLiteral(" order by rowid desc"), true};
    }
    const TurnedOrder turned = turnOrder(order, [](const QString &column, bool descending) {
        return QStringLiteral("zeplo_sortkey(%1, rowid)").arg(column) + (descending ? QStringLiteral(" desc") : QString());
    });
    // Equal keys are ordered by row id, so the order is total and the same
    // rows come back in exactly the opposite order when it is turned round.
    const QString head = rest.left(order.start);
    const QString after = QLatin1Char(' ') + rest.mid(order.end);
    if (!turned.plain || order.tail)
        return {head + turned.forward.join(QLatin1Char(',')) + after, QString()};
    return {head + turned.forward.join(QLatin1Char(',')) + QStringLiteral(", rowid") + after,
            head + turned.backward.join(QLatin1Char(',')) + QStringLiteral(", rowid desc") + after};
}

} // namespace zeplo
