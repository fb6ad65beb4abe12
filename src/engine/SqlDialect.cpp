#include "engine/SqlDialect.h"

#include <QRegularExpression>

#include <sqlite3.h>

#include "engine/SqliteEngine.h"

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
            out.literals << value;
            out.sql += placeholder.arg(out.literals.size());
            i = j;
        } else {
            out.sql += c;
        }
    }
    return out;
}

void TranslatedSql::bind(Statement &statement) const
{
    for (qsizetype i = 0; i < literals.size(); ++i) {
        const QByteArray name = QStringLiteral(":zl%1").arg(i + 1).toLatin1();
        const int index = sqlite3_bind_parameter_index(statement.get(), name.constData());
        if (index > 0)
            statement.bindText(index, literals.at(i));
    }
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

QString withCzechOrdering(const QString &rest)
{
    static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\s+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression plainItem(
        QStringLiteral(R"(^\s*([A-Za-z_][A-Za-z0-9_]*)(\s+(asc|desc))?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tail(QStringLiteral(R"(\b(limit|offset)\b)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = orderBy.match(rest);
    if (!m.hasMatch())
        return rest;
    const qsizetype start = m.capturedEnd();
    const QRegularExpressionMatch t = tail.match(rest, start);
    const qsizetype end = t.hasMatch() ? t.capturedStart() : rest.size();
    QStringList items = rest.mid(start, end - start).split(QLatin1Char(','));
    for (QString &item : items) {
        const QRegularExpressionMatch p = plainItem.match(item);
        if (p.hasMatch())
            item = QStringLiteral("zeplo_sortkey(%1)%2").arg(p.captured(1), p.captured(2));
    }
    return rest.left(start) + items.join(QLatin1Char(',')) + QLatin1Char(' ') + rest.mid(end);
}

} // namespace zeplo
