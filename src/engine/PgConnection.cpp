#include "engine/PgConnection.h"

#include <atomic>
#include <cerrno>
#include <limits>
#include <thread>

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include "engine/Engine.h"
#include "engine/PgEngine.h"
#include "engine/ServerUri.h"
#include "engine/WaitObserver.h"

namespace zeplo {

namespace {

// What the client library's failure to connect comes to, by its own test for
// a missing password and by the server's error codes and the system's words.
ServerProblem problemOf(pg_conn *conn, const QString &why)
{
    if (conn && PQconnectionNeedsPassword(conn))
        return ServerProblem::PasswordNeeded;
    const auto says = [&](const char *words) { return why.contains(QLatin1String(words), Qt::CaseInsensitive); };
    if (conn && PQconnectionUsedPassword(conn) && says("password authentication failed"))
        return ServerProblem::PasswordRefused;
    if (says("could not translate host name") || says("Name or service not known"))
        return ServerProblem::UnknownHost;
    if (says("Connection refused") || says("No such file or directory") || says("No route to host")
        || says("Network is unreachable"))
        return ServerProblem::Unreachable;
    if (says("timeout expired") || says("timed out"))
        return ServerProblem::NoAnswer;
    if (says("does not exist") && says("database"))
        return ServerProblem::NoDatabase;
    if (says("permission denied"))
        return ServerProblem::NoPermission;
    return ServerProblem::Other;
}

// The server gives up a statement after this long, with a clear message,
// before the program's own deadline gives the session up as lost.
constexpr int kStatementTimeoutMs = 10000;
std::atomic<int> commandDeadline{12000};
// How often a wait looks up from the network to tell the interface.
constexpr int kSliceMs = 25;
// Statements kept prepared in one session; beyond this they run unnamed.
constexpr std::size_t kMostPrepared = 200;

const char *const kLostConnection =
    "The connection to the catalogue server was lost; the next command connects again";

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

// The engine's text for a failed command: the server's message, its detail
// and hint, with a plain sentence first for the failures the user can act on.
QString errorText(PGconn *conn, const PGresult *result, bool lost)
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
        parts << QStringLiteral("The catalogue server did not finish the command within %1 seconds")
                     .arg(kStatementTimeoutMs / 1000);
    if (lost)
        parts << QString::fromLatin1(kLostConnection);
    const QString primary = field(PG_DIAG_MESSAGE_PRIMARY);
    if (primary.isEmpty())
        parts << QString::fromUtf8(result ? PQresultErrorMessage(result) : "")
              << QString::fromUtf8(conn ? PQerrorMessage(conn) : "");
    else
        parts << primary << field(PG_DIAG_MESSAGE_DETAIL) << field(PG_DIAG_MESSAGE_HINT);
    const QString text = lines(parts);
    return text.isEmpty() ? QStringLiteral("PostgreSQL database engine error $%1")
                                .arg(int(result ? PQresultStatus(result) : PGRES_FATAL_ERROR), 4, 16, QLatin1Char('0'))
                          : text;
}

// Parameters as libpq takes them: UTF-8 texts, NULL for a null QString.
struct Params {
    std::vector<QByteArray> bytes;
    std::vector<const char *> values;
    explicit Params(const QStringList &params)
    {
        bytes.reserve(size_t(params.size()));
        for (const QString &p : params) {
            if (p.contains(QChar(0)))
                throw EngineError(QStringLiteral("The catalogue server cannot take a text that holds the character "
                                                 "U+0000"));
            bytes.push_back(p.toUtf8());
            values.push_back(p.isNull() ? nullptr : bytes.back().constData());
        }
    }
    int count() const { return int(values.size()); }
};

// Whether the socket becomes ready for `events` within `ms`; false when not yet.
bool socketReady(int socket, short events, int ms)
{
#ifdef _WIN32
    WSAPOLLFD p{SOCKET(socket), events, 0};
    return WSAPoll(&p, 1, ms) > 0;
#else
    pollfd p{socket, events, 0};
    const int n = ::poll(&p, 1, ms);
    return n > 0 || (n < 0 && errno != EINTR);   // an error shows at the next read
#endif
}

void quiet(void *, const char *) {}

// The URI's own -c settings come after ours, so they win.
QByteArray sessionOptions(const QByteArray &uri, bool bounded)
{
    QByteArray options = "-c plan_cache_mode=force_custom_plan -c tcp_keepalives_idle=60 "
                         "-c tcp_keepalives_interval=10 -c tcp_keepalives_count=3";
    if (bounded)
        options += QStringLiteral(" -c statement_timeout=%1 -c lock_timeout=%2")
                       .arg(kStatementTimeoutMs)
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

} // namespace

void PgResultDeleter::operator()(pg_result *result) const
{
    PQclear(result);
}

int PgConnection::deadlineMs()
{
    return commandDeadline;
}

void PgConnection::setDeadlineMs(int milliseconds)
{
    commandDeadline = milliseconds;
}

PgConnection::PgConnection(const QString &uri, PgSessionSettings settings)
    : uri_(uri), settings_(std::move(settings)), password_(settings_.password)
{
    CommandWait wait;
    connect(wait, true);
}

PgConnection::~PgConnection()
{
    if (conn_)
        PQfinish(conn_);
}

int PgConnection::serverVersion() const
{
    return conn_ ? PQserverVersion(conn_) : 0;
}

QString PgConnection::withoutPassword(const QString &message) const
{
    QString out = QString::fromStdString(withoutPasswordOf(message.toStdString(), uri_.toStdString()));
    if (!password_.isEmpty())
        out.replace(password_, QStringLiteral("***"));
    return out;
}

void PgConnection::connect(CommandWait &wait, bool first)
{
    if (conn_) {
        PQfinish(conn_);
        conn_ = nullptr;
    }
    broken_ = true;   // until the new session is ready
    // Defaults a URI may override (they come before it), then what the
    // program relies on (after it): texts as UTF-8, its session settings.
    const QByteArray conninfo = uri_.toUtf8();
    const QByteArray options = sessionOptions(conninfo, settings_.boundedCommands);
    const QByteArray password = settings_.password.toUtf8();
    std::vector<const char *> keywords = {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
                                          "keepalives_count", "tcp_user_timeout", "application_name", "dbname",
                                          "client_encoding", "options"};
    std::vector<const char *> values = {"10", "1", "10", "5", "2", "10000", settings_.applicationName,
                                        conninfo.constData(), "UTF8", options.constData()};
    if (!password.isEmpty()) {
        keywords.push_back("password");
        values.push_back(password.constData());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectStartParams(keywords.data(), values.data(), 1);
    bool timedOut = false;
    const auto refuse = [&](const QString &why) {
        const QString text = first ? QStringLiteral("Cannot connect to the catalogue server %1:\n%2")
                                         .arg(PgEngine::displayUri(uri_), lines({why}))
                                   : lines({QString::fromLatin1(kLostConnection), why});
        const ServerProblem problem = timedOut ? ServerProblem::NoAnswer : problemOf(conn_, why);
        if (conn_)
            PQfinish(conn_);
        conn_ = nullptr;
        if (first)
            throw PgConnectFailed(withoutPassword(text), withoutPassword(lines({why})), problem);
        throw EngineError(withoutPassword(text));
    };
    if (!conn_)
        refuse(QStringLiteral("out of memory"));
    if (PQstatus(conn_) == CONNECTION_BAD)
        refuse(QString::fromUtf8(PQerrorMessage(conn_)));
    const int limit = wait.elapsedMs() + connectTimeoutMs(conn_);
    for (PostgresPollingStatusType status = PGRES_POLLING_WRITING; status != PGRES_POLLING_OK;
         status = PQconnectPoll(conn_)) {
        if (status == PGRES_POLLING_FAILED)
            refuse(QString::fromUtf8(PQerrorMessage(conn_)));
        try {
            waitFor(status == PGRES_POLLING_READING ? POLLIN : POLLOUT, wait, limit);
        } catch (const EngineError &) {
            timedOut = true;
            refuse(QStringLiteral("the server did not answer within %1 seconds").arg(limit / 1000));
        }
    }
    password_ = QString::fromUtf8(PQpass(conn_));
    PQsetNoticeProcessor(conn_, quiet, nullptr);
    if (PQsetnonblocking(conn_, 1) != 0 || PQenterPipelineMode(conn_) != 1)
        refuse(QString::fromUtf8(PQerrorMessage(conn_)));
    prepared_.clear();
    ++generation_;
    ++roundTrips_;
    broken_ = false;
}

void PgConnection::waitFor(short events, CommandWait &wait, int limitMs)
{
    for (;;) {
        const int left = limitMs - wait.elapsedMs();
        if (left <= 0)
            giveUp(limitMs);
        if (socketReady(PQsocket(conn_), events, std::min(left, kSliceMs)))
            return;
        wait.tick();
    }
}

void PgConnection::giveUp(int limitMs)
{
    // The answer may yet come, or the path may be dead: either way this
    // session is done. The server is asked to stop the command from a thread
    // of its own, as on a dead path the request itself may never get through.
    if (conn_) {
        if (PGcancel *cancel = PQgetCancel(conn_)) {
            std::thread([cancel] {
                char error[256];
                PQcancel(cancel, error, int(sizeof error));
                PQfreeCancel(cancel);
            }).detach();
        }
        PQfinish(conn_);
        conn_ = nullptr;
    }
    broken_ = true;
    throw EngineError(lines({QString::fromLatin1(kLostConnection),
                             QStringLiteral("The catalogue server did not answer within %1 seconds").arg(limitMs / 1000.0)}));
}

void PgConnection::lose(const QString &why)
{
    broken_ = true;
    throw EngineError(withoutPassword(lines({QString::fromLatin1(kLostConnection), why})));
}

bool PgConnection::lostWith(const pg_result *result) const
{
    // The server may end the session with this very error (FATAL) before
    // libpq has seen the connection close.
    const char *severity = result ? PQresultErrorField(result, PG_DIAG_SEVERITY_NONLOCALIZED) : nullptr;
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return !result || !conn_ || PQstatus(conn_) == CONNECTION_BAD
           || (severity && (qstrcmp(severity, "FATAL") == 0 || qstrcmp(severity, "PANIC") == 0))
           || (state && (qstrncmp(state, "08", 2) == 0 || qstrncmp(state, "57P", 3) == 0));
}

void PgConnection::fail(const pg_result *result)
{
    const bool lost = lostWith(result);
    if (lost)
        broken_ = true;
    throw EngineError(withoutPassword(errorText(conn_, result, lost)));
}

void PgConnection::flush(CommandWait &wait)
{
    for (;;) {
        const int r = PQflush(conn_);
        if (r == 0)
            return;
        if (r < 0)
            lose(QString::fromUtf8(PQerrorMessage(conn_)));
        waitFor(POLLOUT | POLLIN, wait, commandLimitMs());
        if (!PQconsumeInput(conn_))
            lose(QString::fromUtf8(PQerrorMessage(conn_)));
    }
}

PgResult PgConnection::next(CommandWait &wait)
{
    while (PQisBusy(conn_)) {
        waitFor(POLLIN, wait, commandLimitMs());
        if (!PQconsumeInput(conn_))
            lose(QString::fromUtf8(PQerrorMessage(conn_)));
    }
    return PgResult(PQgetResult(conn_));
}

PgResult PgConnection::run(const PgCommand &command)
{
    return std::move(run(std::vector<PgCommand>{command}).front());
}

std::vector<PgResult> PgConnection::run(const std::vector<PgCommand> &commands)
{
    CommandWait wait;
    std::vector<Params> params;
    params.reserve(commands.size());
    for (const PgCommand &c : commands)
        params.emplace_back(c.params);
    if (broken_ || !conn_ || PQstatus(conn_) != CONNECTION_OK)
        connect(wait, false);
    ++roundTrips_;

    // Everything is sent before anything is read: one round trip.
    struct Step {
        enum Kind { Prepare, Query, Sync } kind;
        std::size_t command = 0;
        QByteArray name;
    };
    std::vector<Step> steps;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const PgCommand &c = commands[i];
        const QByteArray sql = c.sql.toUtf8();
        QByteArray name;
        if (c.keep) {
            if (const auto it = prepared_.find(c.sql); it != prepared_.end()) {
                name = it->second;
            } else if (prepared_.size() < kMostPrepared) {
                name = "zeplo_" + QByteArray::number(++names_);
                if (!PQsendPrepare(conn_, name.constData(), sql.constData(), params[i].count(), nullptr))
                    lose(QString::fromUtf8(PQerrorMessage(conn_)));
                steps.push_back({Step::Prepare, i, name});
            }
        }
        const int sent = name.isEmpty()
                             ? PQsendQueryParams(conn_, sql.constData(), params[i].count(), nullptr,
                                                 params[i].values.data(), nullptr, nullptr, 0)
                             : PQsendQueryPrepared(conn_, name.constData(), params[i].count(), params[i].values.data(),
                                                   nullptr, nullptr, 0);
        if (!sent)
            lose(QString::fromUtf8(PQerrorMessage(conn_)));
        steps.push_back({Step::Query, i, QByteArray()});
        if (!c.joinsNext || i + 1 == commands.size()) {
            if (!PQpipelineSync(conn_))
                lose(QString::fromUtf8(PQerrorMessage(conn_)));
            steps.push_back({Step::Sync, i, QByteArray()});
        }
    }
    flush(wait);

    std::vector<PgResult> results(commands.size());
    for (const Step &step : steps) {
        PgResult result = next(wait);
        if (step.kind == Step::Sync) {
            if (!result || PQresultStatus(result.get()) != PGRES_PIPELINE_SYNC)
                fail(result.get());
            continue;
        }
        if (!result || PQstatus(conn_) == CONNECTION_BAD)
            fail(result.get());
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_FATAL_ERROR && lostWith(result.get()))
            fail(result.get());   // the session is over: no further answer will come
        if (next(wait))
            lose(QStringLiteral("an unexpected answer from the server"));
        const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (step.kind == Step::Prepare) {
            if (ok)
                prepared_[commands[step.command].sql] = step.name;
            else
                results[step.command] = std::move(result);   // the query then reports itself aborted
        } else if (!results[step.command]) {
            results[step.command] = std::move(result);
        }
    }
    const auto ok = [&](std::size_t i) {
        if (!results[i])
            return false;
        const ExecStatusType status = PQresultStatus(results[i].get());
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    };
    // A command that failed fails the trip; one that was aborted by another's
    // failure in its transaction reports that failure.
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (ok(i) || commands[i].optional)
            continue;
        if (results[i] && PQresultStatus(results[i].get()) == PGRES_FATAL_ERROR)
            fail(results[i].get());
        for (std::size_t j = 0; j < commands.size(); ++j)
            if (results[j] && PQresultStatus(results[j].get()) == PGRES_FATAL_ERROR)
                fail(results[j].get());
        lose(QStringLiteral("a command was not run"));
    }
    for (std::size_t i = 0; i < commands.size(); ++i)
        if (!ok(i))
            results[i].reset();
    return results;
}

int PgConnection::commandLimitMs() const
{
    return settings_.boundedCommands ? deadlineMs() : std::numeric_limits<int>::max();
}

void PgConnection::stream(const PgCommand &command, const std::function<void(const PgRowView &)> &each)
{
    CommandWait wait;
    const Params params(command.params);
    if (broken_ || !conn_ || PQstatus(conn_) != CONNECTION_OK)
        connect(wait, false);
    ++roundTrips_;
    const QByteArray sql = command.sql.toUtf8();
    if (!PQsendQueryParams(conn_, sql.constData(), params.count(), nullptr, params.values.data(), nullptr, nullptr, 0)
        || !PQsetSingleRowMode(conn_) || !PQpipelineSync(conn_))
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
    flush(wait);
    try {
        PgResult failed;
        while (PgResult result = next(wait)) {
            const ExecStatusType status = PQresultStatus(result.get());
            if (status == PGRES_SINGLE_TUPLE)
                each(PgRowView(result.get(), 0));
            else if (status != PGRES_TUPLES_OK)
                failed = std::move(result);
        }
        const PgResult sync = next(wait);
        if (failed || !sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC)
            fail(failed ? failed.get() : sync.get());
    } catch (...) {
        // The rows not read yet stand between this session and its next command.
        broken_ = true;
        throw;
    }
}

void PgConnection::leavePipeline(CommandWait &wait)
{
    if (broken_ || !conn_ || PQstatus(conn_) != CONNECTION_OK)
        connect(wait, false);
    if (PQexitPipelineMode(conn_) != 1)
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
}

void PgConnection::rejoinPipeline()
{
    if (PQenterPipelineMode(conn_) != 1)
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
}

void PgConnection::copyIn(const QString &sql)
{
    CommandWait wait;
    leavePipeline(wait);
    ++roundTrips_;
    if (!PQsendQuery(conn_, sql.toUtf8().constData()))
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
    flush(wait);
    PgResult result = next(wait);
    if (result && PQresultStatus(result.get()) == PGRES_COPY_IN)
        return;
    while (next(wait)) {}
    rejoinPipeline();
    fail(result.get());
}

void PgConnection::copyData(std::string_view data)
{
    CommandWait wait;
    for (;;) {
        const int sent = PQputCopyData(conn_, data.data(), int(data.size()));
        if (sent == 1)
            break;
        if (sent < 0)
            lose(QString::fromUtf8(PQerrorMessage(conn_)));
        flush(wait);   // the buffer is full: it drains as the server reads
    }
    flush(wait);
}

void PgConnection::copyEnd()
{
    CommandWait wait;
    int ended = 0;
    while ((ended = PQputCopyEnd(conn_, nullptr)) == 0)
        flush(wait);
    if (ended < 0)
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
    flush(wait);
    PgResult result = next(wait);
    while (next(wait)) {}
    rejoinPipeline();
    if (result && PQresultStatus(result.get()) == PGRES_COMMAND_OK)
        return;
    // The server names a refused row by its line of the data: "..., line 17".
    const char *context = result ? PQresultErrorField(result.get(), PG_DIAG_CONTEXT) : nullptr;
    const QString where = QString::fromUtf8(context ? context : "");
    const qsizetype at = where.indexOf(QLatin1String(", line "));
    qsizetype digits = at < 0 ? 0 : at + 7;
    while (at >= 0 && digits < where.size() && where.at(digits).isDigit())
        ++digits;
    const long long line = at < 0 ? 0 : where.mid(at + 7, digits - at - 7).toLongLong();
    if (line > 0 && !lostWith(result.get()))
        throw PgRowRefused(withoutPassword(errorText(conn_, result.get(), false)), line);
    fail(result.get());
}

void PgConnection::copyAbandon() noexcept
{
    try {
        CommandWait wait;
        if (PQputCopyEnd(conn_, "abandoned") != 1)
            throw EngineError(QString());
        flush(wait);
        while (next(wait)) {}
        rejoinPipeline();
    } catch (...) {
        // The copy was given up for a failure of its own, the one to report;
        // a session left in doubt is made again by the next command.
        broken_ = true;
    }
}

int PgRowView::count(const PgResult &result)
{
    return result ? PQntuples(result.get()) : 0;
}

bool PgRowView::isNull(int column) const
{
    return PQgetisnull(result_, row_, column) != 0;
}

std::string_view PgRowView::text(int column) const
{
    return std::string_view(PQgetvalue(result_, row_, column), std::size_t(PQgetlength(result_, row_, column)));
}

} // namespace zeplo
