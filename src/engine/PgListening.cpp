// A session that listens: the notices a server sends by itself come on the
// session's socket, which the interface's event loop watches; reading them
// costs no round trip.
#include "engine/PgConnection.h"

#include <libpq-fe.h>

namespace zeplo {

int PgConnection::socket() const
{
    return conn_ && !broken_ ? PQsocket(conn_) : -1;
}

int PgConnection::backendPid() const
{
    return conn_ && !broken_ ? PQbackendPID(conn_) : 0;
}

std::vector<PgNotice> PgConnection::notices()
{
    Q_ASSERT(mode_ == Mode::Pipeline || mode_ == Mode::Closed);
    std::vector<PgNotice> heard;
    if (!conn_ || broken_)
        lose(QStringLiteral("the session is closed"));
    // A server that ends the session says so, then closes it: the closing is what tells.
    if (!PQconsumeInput(conn_) || PQstatus(conn_) == CONNECTION_BAD)
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
    while (PGnotify *notice = PQnotifies(conn_)) {
        heard.push_back({QString::fromUtf8(notice->relname), QString::fromUtf8(notice->extra), notice->be_pid});
        PQfreemem(notice);
    }
    return heard;
}

} // namespace zeplo
