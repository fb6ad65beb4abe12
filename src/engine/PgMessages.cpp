#include "engine/PgMessages.h"

#include <QRegularExpression>

#include <libpq-fe.h>

namespace zeplo::pg {

QString lines(const QStringList &parts)
{
    QStringList out;
    for (const QString &part : parts)
        for (const QString &line : part.split(QLatin1Char('\n'))) {
            const QString t = line.trimmed();
            if (!t.isEmpty() && !out.contains(t))
                out << t;
        }
    return out.join(QLatin1Char('\n'));
}

namespace {

// The code after the severity: five letters and digits, a digit among them
// (which tells it from a severity such as FATAL).
const QRegularExpression &serverCodePattern()
{
    static const QRegularExpression code(QStringLiteral(R"(:\s+((?=[0-9A-Z]*[0-9])[0-9A-Z]{5}):\s+)"));
    return code;
}

} // namespace

QString cleanedClientText(const QString &text)
{
    static const QRegularExpression place(QStringLiteral(R"(^\S[^:\n]*:\s+\S+, \S+\.c:\d+\s*$)"));
    QStringList kept;
    for (const QString &line : QString(text).replace(serverCodePattern(), QStringLiteral(":  ")).split(QLatin1Char('\n')))
        if (!line.startsWith(QLatin1Char('\t')) && !place.match(line).hasMatch())
            kept << line;
    return lines(kept);
}

QString serverCode(const QString &verboseText)
{
    const QRegularExpressionMatch m = serverCodePattern().match(verboseText);
    return m.hasMatch() ? m.captured(1) : QString();
}

ServerProblem problemOfCode(const QString &code, bool passwordUsed)
{
    if (code == QLatin1String("28P01"))
        return ServerProblem::PasswordRefused;
    if (code == QLatin1String("28000"))   // no entry of the server's access rules lets this role in
        return passwordUsed ? ServerProblem::PasswordRefused : ServerProblem::NoPermission;
    if (code == QLatin1String("3D000"))
        return ServerProblem::NoDatabase;
    if (code == QLatin1String("42501"))
        return ServerProblem::NoPermission;
    if (code == QLatin1String("57P03"))   // starting up or shutting down
        return ServerProblem::Unreachable;
    return ServerProblem::Other;
}

QString lostText(ServerProblem problem, const QString &why)
{
    QString sentence;
    switch (problem) {
    case ServerProblem::NoAnswer:
        sentence = QStringLiteral("The catalogue server did not answer; the next command connects again");
        break;
    case ServerProblem::EndedSession:
        sentence = QStringLiteral("The catalogue server ended the session; the next command connects again");
        break;
    case ServerProblem::Other:
        sentence = QStringLiteral("The connection to the catalogue server was lost; the next command connects again");
        break;
    default:
        sentence = QStringLiteral("The catalogue server cannot be reached; the next command tries again");
        break;
    }
    return lines({sentence, why});
}

QString commandErrorText(pg_conn *conn, const pg_result *result)
{
    QStringList parts;
    const auto field = [&](int code) {
        const char *text = result ? PQresultErrorField(result, code) : nullptr;
        return text ? QString::fromUtf8(text) : QString();
    };
    const QString state = field(PG_DIAG_SQLSTATE);
    if (state == QLatin1String("55P03") || state == QLatin1String("40P01"))
        parts << Engine::lockedMessage();
    else if (state == QLatin1String("57014"))
        parts << QStringLiteral("The catalogue server did not finish the command within %1 seconds, or was asked "
                                "to stop it")
                     .arg(kStatementTimeoutMs / 1000);
    const QString primary = field(PG_DIAG_MESSAGE_PRIMARY);
    if (primary.isEmpty())
        parts << cleanedClientText(QString::fromUtf8(result ? PQresultErrorMessage(result) : ""))
              << cleanedClientText(QString::fromUtf8(conn ? PQerrorMessage(conn) : ""));
    else
        parts << primary << field(PG_DIAG_MESSAGE_DETAIL) << field(PG_DIAG_MESSAGE_HINT);
    const QString text = lines(parts);
    return text.isEmpty() ? QStringLiteral("PostgreSQL database engine error $%1")
                                .arg(int(result ? PQresultStatus(result) : PGRES_FATAL_ERROR), 4, 16, QLatin1Char('0'))
                          : text;
}

} // namespace zeplo::pg
