#pragma once

#include <QString>
#include <QStringList>

#include "engine/PgConnection.h"

struct pg_conn;
struct pg_result;

// What the server engine tells the user, in the program's words first and the
// client library's or the server's below.
namespace zeplo::pg {

// The server gives up a statement after this long, with a clear message,
// before the program's own deadline gives the session up as lost.
inline constexpr int kStatementTimeoutMs = 10000;

// Each line once, trimmed, without empty ones.
QString lines(const QStringList &parts);

// libpq's text without what only confuses a reader: the lines it indents
// under a message ("This probably means the server terminated abnormally",
// "Is the server running on that host ...", said of a network cut as much as
// of a crash), the server's code and the place in its source that the
// verbose form adds.
QString cleanedClientText(const QString &text);

// The server's five-character code in a message of the verbose form; empty without one.
QString serverCode(const QString &verboseText);
// What a refusal by the server at connecting means, by its code.
ServerProblem problemOfCode(const QString &code, bool passwordUsed);

// The message of a session lost for `problem`, with `why` below it.
QString lostText(ServerProblem problem, const QString &why);

// The engine's text for a failed command: the server's message, its detail
// and hint, with a plain sentence first for the failures the user can act on.
QString commandErrorText(pg_conn *conn, const pg_result *result);

} // namespace zeplo::pg
