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

QString withCaseInsensitiveLike(const QString &sql)
{
    static const QRegularExpression like(
        QStringLiteral(R"((%1|\$\d+)\s+(not\s+)?like\s+(%1|\$\d+))").arg(kIdentifier),
        QRegularExpression::CaseInsensitiveOption);
    static const QString lowered = QStringLiteral(
        "lower(CAST(\\1 AS text) COLLATE \"cs-CZ-x-icu\") \\2LIKE lower(CAST(\\3 AS text) COLLATE \"cs-CZ-x-icu\") ESCAPE ''");
    return outsideLiterals(sql, [](QString part) { return part.replace(like, lowered); });
}

QString withCzechOrdering(const QString &rest, const PgTable &table, const QString &tieBreaker)
{
    static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\s+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression plainItem(
        QStringLiteral(R"(^\s*([A-Za-z_][A-Za-z0-9_]*)(?:\s+(asc|desc))?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tail(QStringLiteral(R"(\b(limit|offset|for)\b)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QString key = tieBreaker.isEmpty() ? QString() : quoted(tieBreaker);
    const QRegularExpressionMatch m = orderBy.match(rest);
    if (!m.hasMatch()) {
        if (key.isEmpty())
            return rest;
        const QRegularExpressionMatch t = tail.match(rest);
        const qsizetype end = t.hasMatch() ? t.capturedStart() : rest.size();
        return rest.left(end) + QStringLiteral(" order by ") + key + QLatin1Char(' ') + rest.mid(end);
    }
    const qsizetype start = m.capturedEnd();
    const QRegularExpressionMatch t = tail.match(rest, start);
    const qsizetype end = t.hasMatch() ? t.capturedStart() : rest.size();
    QStringList items = rest.mid(start, end - start).split(QLatin1Char(','));
    for (QString &item : items) {
        const QRegularExpressionMatch p = plainItem.match(item);
        if (!p.hasMatch())
            continue;
        const PgTable::Column *column = table.column(p.captured(1));
        const bool descending = p.captured(2).compare(QLatin1String("desc"), Qt::CaseInsensitive) == 0;
        item = QStringLiteral("%1%2 %3 %4")
                   .arg(p.captured(1),
                        column && column->text ? QStringLiteral(" COLLATE ") + QLatin1String(kCzechCollation) : QString(),
                        descending ? QStringLiteral("DESC") : QStringLiteral("ASC"),
                        descending ? QStringLiteral("NULLS LAST") : QStringLiteral("NULLS FIRST"));
    }
    if (!key.isEmpty())
        items << key;
    return rest.left(start) + items.join(QStringLiteral(", ")) + QLatin1Char(' ') + rest.mid(end);
}

namespace {

const QRegularExpression &countShape()
{
    static const QRegularExpression shape(
        QStringLiteral(R"re(^\s*select\s+(count\s*\(\s*distinct\s*(?:\(\s*([A-Za-z_]\w*)\s*\)|\s([A-Za-z_]\w*))\s*\)))re"
                       R"re((\s+as\s+[A-Za-z_]\w*)?\s+from\s+([A-Za-z_]\w*)\s*$)re"),
        QRegularExpression::CaseInsensitiveOption);
    return shape;
}

} // namespace

QString countedTable(const QString &sql)
{
    const QRegularExpressionMatch m = countShape().match(sql);
    return m.hasMatch() ? m.captured(5) : QString();
}

QString withPlainRowCount(const QString &sql, const QString &table, const QString &key)
{
    const QRegularExpressionMatch m = countShape().match(sql);
    if (!m.hasMatch() || key.isEmpty() || m.captured(5).compare(table, Qt::CaseInsensitive) != 0)
        return sql;
    const QString column = m.captured(2).isEmpty() ? m.captured(3) : m.captured(2);
    if (column.compare(key, Qt::CaseInsensitive) != 0)
        return sql;
    // Without an alias the column keeps the name the server gives the count.
    const QString alias = m.captured(4).isEmpty() ? QStringLiteral(" as count") : m.captured(4);
    return QStringLiteral("select count(*)%1 from %2").arg(alias, table);
}

QString quoted(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace zeplo::pg
