// Making a session with the catalogue server: each host the URI names, and
// each address of each host, tried in turn within the connection time limit,
// and a failure told in terms the user can act on.
#include "engine/PgConnection.h"

#include <algorithm>
#include <utility>

#include <QRegularExpression>

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include "engine/PgEngine.h"
#include "engine/PgMessages.h"
#include "engine/ServerUri.h"
#include "engine/WaitObserver.h"

namespace zeplo {

namespace {

void quiet(void *, const char *) {}

// The URI's own -c settings come after ours, so they win.
QByteArray sessionOptions(const QByteArray &uri, bool bounded)
{
    QByteArray options = "-c plan_cache_mode=force_custom_plan -c tcp_keepalives_idle=60 "
                         "-c tcp_keepalives_interval=10 -c tcp_keepalives_count=3";
    if (bounded)
        options += QStringLiteral(" -c statement_timeout=%1 -c lock_timeout=%2")
                       .arg(pg::kStatementTimeoutMs)
                       .arg(Engine::lockWaitMs())
                       .toLatin1();
    if (PQconninfoOption *parsed = PQconninfoParse(uri.constData(), nullptr)) {
        for (PQconninfoOption *o = parsed; o->keyword; ++o)
            if (qstrcmp(o->keyword, "options") == 0 && o->val && *o->val)
                options += ' ' + QByteArray(o->val);
        PQconninfoFree(parsed);
    }
    return options;
}

int connectTimeoutMs(PGconn *conn)
{
    int seconds = 10;
    if (PQconninfoOption *info = PQconninfo(conn)) {
        for (PQconninfoOption *o = info; o->keyword; ++o)
            if (qstrcmp(o->keyword, "connect_timeout") == 0 && o->val && *o->val)
                seconds = QByteArray(o->val).toInt();
        PQconninfoFree(info);
    }
    // libpq's own rule: no limit for 0, at least two seconds otherwise.
    return seconds <= 0 ? 24 * 3600 * 1000 : std::max(seconds, 2) * 1000;
}

// One place to connect to: a host (a name, or a socket folder), the address
// it was found at, its port; empty values leave the URI's own.
struct Place {
    QByteArray host, address, port;
};

QList<QByteArray> listed(const char *value)
{
    return value && *value ? QByteArray(value).split(',') : QList<QByteArray>();
}

// The places the URI names, each host's addresses one by one, so that a host
// that does not answer costs its own time limit and the next one is tried.
// A host that names no computer is a failure of its own, kept in `unknown`.
std::vector<Place> placesOf(const QByteArray &conninfo, QString &unknown)
{
    QList<QByteArray> hosts, addresses, ports;
    if (PQconninfoOption *parsed = PQconninfoParse(conninfo.constData(), nullptr)) {
        for (PQconninfoOption *o = parsed; o->keyword; ++o) {
            if (qstrcmp(o->keyword, "host") == 0)
                hosts = listed(o->val);
            else if (qstrcmp(o->keyword, "hostaddr") == 0)
                addresses = listed(o->val);
            else if (qstrcmp(o->keyword, "port") == 0)
                ports = listed(o->val);
        }
        PQconninfoFree(parsed);
    }
    const qsizetype n = std::max<qsizetype>({hosts.size(), addresses.size(), 1});
    std::vector<Place> places;
    for (qsizetype i = 0; i < n; ++i) {
        const QByteArray host = hosts.value(i), address = addresses.value(i);
        const QByteArray port = ports.size() == 1 ? ports.first() : ports.value(i);
        if (!address.isEmpty() || host.isEmpty() || host.startsWith('/') || host.startsWith('@')) {
            places.push_back({host, address, port});
            continue;
        }
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const int rc = getaddrinfo(host.constData(), port.isEmpty() ? "5432" : port.constData(), &hints, &found);
        if (rc != 0) {
            unknown = QStringLiteral("could not translate host name \"%1\" to address: %2")
                          .arg(QString::fromUtf8(host), QString::fromUtf8(gai_strerror(rc)));
            continue;
        }
        for (addrinfo *a = found; a; a = a->ai_next) {
            char text[NI_MAXHOST];
            if (getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
                places.push_back({host, QByteArray(text), port});
        }
        freeaddrinfo(found);
    }
    return places;
}

// How far a failed attempt got: a later attempt's failure is told instead of
// an earlier one's only when it got further.
int reach(ServerProblem problem)
{
    switch (problem) {
    case ServerProblem::UnknownHost: return 0;
    case ServerProblem::Unreachable: return 1;
    case ServerProblem::NoAnswer: return 2;
    default: return 3;   // the server itself answered
    }
}

} // namespace

bool PgConnection::ensureSession(CommandWait &wait)
{
    if (!broken_ && conn_ && PQstatus(conn_) == CONNECTION_OK)
        return false;
    connect(wait, false);
    return true;
}

void PgConnection::connect(CommandWait &wait, bool first)
{
    drop();
    // Defaults a URI may override (they come before it), then what the
    // program relies on (after it): texts as UTF-8, its session settings;
    // last the place of this attempt.
    const QByteArray conninfo = uri_.toUtf8();
    const QByteArray options = sessionOptions(conninfo, settings_.boundedCommands);
    const QByteArray password = settings_.password.toUtf8();
    QString why;
    ServerProblem problem = ServerProblem::Unreachable;
    const std::vector<Place> places = placesOf(conninfo, why);
    if (!why.isEmpty())
        problem = ServerProblem::UnknownHost;
    // A connection that reached a server and broke on the way (a network
    // that dropped while logging in) is tried once more, as a command is.
    bool reached = false;
    for (int round = 0; round < 2 && (round == 0 || reached); ++round) {
        reached = false;
        for (const Place &place : places) {
            std::vector<const char *> keywords = {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
                                                  "keepalives_count", "tcp_user_timeout", "application_name", "dbname",
                                                  "client_encoding", "options"};
            std::vector<const char *> values = {"10", "1", "10", "5", "2", "10000", settings_.applicationName,
                                                conninfo.constData(), "UTF8", options.constData()};
            if (!password.isEmpty()) {
                keywords.push_back("password");
                values.push_back(password.constData());
            }
            for (const auto &[keyword, value] : {std::pair{"host", &place.host}, std::pair{"hostaddr", &place.address},
                                                 std::pair{"port", &place.port}})
                if (!value->isEmpty()) {
                    keywords.push_back(keyword);
                    values.push_back(value->constData());
                }
            keywords.push_back(nullptr);
            values.push_back(nullptr);
            QString attemptWhy;
            ServerProblem attemptProblem = ServerProblem::Other;
            bool broke = false;
            if (tryAddress(wait, keywords, values, attemptWhy, attemptProblem, broke))
                return;
            reached = reached || broke;
            if (why.isEmpty() || reach(attemptProblem) > reach(problem)) {
                why = attemptWhy;
                problem = attemptProblem;
            }
        }
    }
    why = withoutPassword(pg::cleanedClientText(why));
    if (first)
        throw PgConnectFailed(withoutPassword(QStringLiteral("Cannot connect to the catalogue server %1:\n%2")
                                                  .arg(PgEngine::displayUri(uri_), why)),
                              why, problem);
    throw PgSessionLost(pg::lostText(problem, why), problem);
}

bool PgConnection::tryAddress(CommandWait &wait, const std::vector<const char *> &keywords,
                              const std::vector<const char *> &values, QString &why, ServerProblem &problem,
                              bool &broke)
{
    conn_ = PQconnectStartParams(keywords.data(), values.data(), 1);
    if (!conn_) {
        why = QStringLiteral("out of memory");
        problem = ServerProblem::Other;
        return false;
    }
    // The server's code of a refusal comes in the message only at this verbosity.
    PQsetErrorVerbosity(conn_, PQERRORS_VERBOSE);
    // Where the login stood: past the start, the server was reached.
    ConnStatusType stage = PQstatus(conn_);
    const auto pastStart = [&] { return stage != CONNECTION_STARTED && stage != CONNECTION_NEEDED; };
    const auto failed = [&](ServerProblem fallback) {
        why = QString::fromUtf8(PQerrorMessage(conn_));
        const QString code = pg::serverCode(why);
        problem = PQconnectionNeedsPassword(conn_) ? ServerProblem::PasswordNeeded
                  : code.isEmpty()                  ? fallback
                                                    : pg::problemOfCode(code, PQconnectionUsedPassword(conn_) != 0);
        // Broken, not refused: the server said nothing of why.
        broke = code.isEmpty() && problem != ServerProblem::PasswordNeeded && pastStart();
        drop();
        return false;
    };
    if (PQstatus(conn_) == CONNECTION_BAD)
        return failed(ServerProblem::Unreachable);
    // The connection's own time limit, and the one of every wait for the server.
    const int limit = std::min(connectTimeoutMs(conn_), deadlineMs());
    const int start = wait.elapsedMs();
    for (PostgresPollingStatusType status = PGRES_POLLING_WRITING; status != PGRES_POLLING_OK;
         stage = PQstatus(conn_), status = PQconnectPoll(conn_)) {
        if (status == PGRES_POLLING_FAILED)
            return failed(ServerProblem::Unreachable);
        const int left = limit - (wait.elapsedMs() - start);
        if (left <= 0 || !socketWait(status == PGRES_POLLING_READING ? POLLIN : POLLOUT, wait, left)) {
            why = QStringLiteral("the server did not answer within %1 seconds").arg(limit / 1000.0);
            problem = ServerProblem::NoAnswer;
            broke = PQstatus(conn_) != CONNECTION_STARTED;
            drop();
            return false;
        }
    }
    PQsetErrorVerbosity(conn_, PQERRORS_DEFAULT);
    password_ = QString::fromUtf8(PQpass(conn_));
    PQsetNoticeProcessor(conn_, quiet, nullptr);
    if (PQsetnonblocking(conn_, 1) != 0 || PQenterPipelineMode(conn_) != 1)
        return failed(ServerProblem::Other);
    prepared_.clear();
    ++generation_;
    ++roundTrips_;
    broken_ = false;
    mode_ = Mode::Pipeline;
    checkMode();
    return true;
}

} // namespace zeplo
