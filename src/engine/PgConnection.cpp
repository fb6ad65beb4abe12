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
#include "engine/PgMessages.h"
#include "engine/ServerUri.h"
#include "engine/WaitObserver.h"

namespace zeplo {

namespace {

std::atomic<int> commandDeadline{12000};
// How often a wait looks up from the network to tell the interface.
constexpr int kSliceMs = 25;
// Statements kept prepared in one session; beyond this they run unnamed.
constexpr std::size_t kMostPrepared = 200;

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

// Asks the server to stop what the session runs, from a thread of its own:
// on a dead path the request itself may never get through.
void cancelOnItsOwn(pg_conn *conn)
{
    if (PGcancel *cancel = PQgetCancel(conn)) {
        std::thread([cancel] {
            char error[256];
            PQcancel(cancel, error, int(sizeof error));
            PQfreeCancel(cancel);
        }).detach();
    }
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
    : uri_(QString::fromStdString(normalizedUri(uri.toStdString()))), settings_(std::move(settings)),
      password_(settings_.password)
{
    CommandWait wait;
    connect(wait, true);
}

PgConnection::~PgConnection()
{
    drop();
}

void PgConnection::drop() noexcept
{
    if (conn_)
        PQfinish(conn_);
    conn_ = nullptr;
    mode_ = Mode::Closed;
    broken_ = true;
    checkMode();
}

void PgConnection::checkMode() const
{
#ifndef QT_NO_DEBUG
    switch (mode_) {
    case Mode::Closed:
        Q_ASSERT(!conn_ && broken_);
        break;
    case Mode::Pipeline:
        Q_ASSERT(conn_ && !broken_ && PQpipelineStatus(conn_) != PQ_PIPELINE_OFF);
        Q_ASSERT(!settings_.boundedCommands || PQtransactionStatus(conn_) == PQTRANS_IDLE);
        break;
    case Mode::Streaming:
        Q_ASSERT(conn_ && PQpipelineStatus(conn_) != PQ_PIPELINE_OFF);
        break;
    case Mode::Copy:
        Q_ASSERT(conn_ && PQpipelineStatus(conn_) == PQ_PIPELINE_OFF);
        break;
    }
#endif
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
    if (!settings_.password.isEmpty())
        out.replace(settings_.password, QStringLiteral("***"));
    return out;
}

bool PgConnection::socketWait(short events, CommandWait &wait, int limitMs)
{
    int start = wait.elapsedMs();
    int looked = start;
    for (;;) {
        const int left = limitMs - (wait.elapsedMs() - start);
        if (left <= 0)
            return false;
        if (socketReady(PQsocket(conn_), events, std::min(left, kSliceMs)))
            return true;
        wait.tick();
        // A command of the tool's may run as long as it takes (an index over a
        // million books), but not on a dead path: silent for a deadline, the
        // server is asked on a session of its own whether it is still at it.
        if (!settings_.boundedCommands && wait.elapsedMs() - looked >= deadlineMs()) {
            if (!stillAtWork())
                return false;
            looked = wait.elapsedMs();
        }
        if (!stopSent_ && stopRequested()) {
            // The command ends with the server's own message when it has
            // stopped; a server that does not answer that either within the
            // deadline loses the session, which ends its transaction too.
            stopSent_ = true;
            cancelOnItsOwn(conn_);
            start = wait.elapsedMs();
            limitMs = std::min(limitMs, deadlineMs());
        }
    }
}

bool PgConnection::stillAtWork()
{
    const int pid = conn_ ? PQbackendPID(conn_) : 0;
    if (pid == 0)
        return true;   // still logging in: its own time limit holds
    try {
        const CommandWait::Look look;
        PgConnection other(uri_, PgSessionSettings{"zeplo-look", true, settings_.password});
        // Working, not waiting for what this side sends or reads.
        const PgResult result = other.run(
            PgCommand(QStringLiteral("select 1 from pg_stat_activity where pid = $1 and state = 'active' and "
                                     "coalesce(wait_event_type, '') <> 'Client'"),
                      {QString::number(pid)}));
        return PgRowView::count(result) == 1;
    } catch (const EngineError &) {
        return false;   // the server cannot be reached either
    }
}

void PgConnection::waitFor(short events, CommandWait &wait, int limitMs)
{
    if (!socketWait(events, wait, limitMs))
        giveUp(limitMs);
}

void PgConnection::giveUp(int limitMs)
{
    // The answer may yet come, or the path may be dead: either way this
    // session is done, and the server is asked to stop the command.
    if (conn_ && !stopSent_)
        cancelOnItsOwn(conn_);
    drop();
    const int waited = stopSent_ || !settings_.boundedCommands ? std::min(limitMs, deadlineMs()) : limitMs;
    throw PgSessionLost(pg::lostText(ServerProblem::NoAnswer,
                                     QStringLiteral("no answer came within %1 seconds").arg(waited / 1000.0)),
                        ServerProblem::NoAnswer);
}

void PgConnection::lose(const QString &why)
{
    drop();
    throw PgSessionLost(withoutPassword(pg::lostText(ServerProblem::Other, pg::cleanedClientText(why))),
                        ServerProblem::Other);
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
    if (!lostWith(result)) {
        const char *code = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        throw PgCommandFailed(withoutPassword(pg::commandErrorText(conn_, result)), QString::fromLatin1(code ? code : ""));
    }
    // Ended by the server, with its reason; or broken without a word.
    const char *primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const QString why = primary ? QString::fromUtf8(primary)
                                : pg::cleanedClientText(QString::fromUtf8(conn_ ? PQerrorMessage(conn_) : ""));
    const ServerProblem problem = primary ? ServerProblem::EndedSession : ServerProblem::Other;
    drop();
    throw PgSessionLost(withoutPassword(pg::lostText(problem, why)), problem);
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

PgResult PgConnection::run(const PgCommand &command, PgRepeat repeat)
{
    return std::move(run(std::vector<PgCommand>{command}, repeat).front());
}

std::vector<PgResult> PgConnection::run(const std::vector<PgCommand> &commands, PgRepeat repeat)
{
    CommandWait wait;
    const bool fresh = ensureSession(wait);
    try {
        return exchange(commands, wait);
    } catch (const PgSessionLost &) {
        // A session made for this very trip that is lost again is not worth a
        // second try; one that had served earlier commands may simply have
        // been ended meanwhile (a server restarted, a network that dropped).
        if (repeat == PgRepeat::Never || fresh)
            throw;
    }
    ensureSession(wait);
    return exchange(commands, wait);
}

std::vector<PgResult> PgConnection::exchange(const std::vector<PgCommand> &commands, CommandWait &wait)
{
    Q_ASSERT(mode_ == Mode::Pipeline);
    std::vector<Params> params;
    params.reserve(commands.size());
    for (const PgCommand &c : commands)
        params.emplace_back(c.params);
    ++roundTrips_;
    stopSent_ = false;

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
    endTransaction(wait);
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
    checkMode();
    return results;
}

void PgConnection::endTransaction(CommandWait &wait)
{
    // A statement that failed inside a group of the program's (BEGIN ...
    // COMMIT) leaves the transaction aborted past the sync, and every later
    // command would fail with it. The tool's bulk sessions keep their own
    // transactions across trips and end them themselves.
    if (!settings_.boundedCommands || PQtransactionStatus(conn_) == PQTRANS_IDLE)
        return;
    ++roundTrips_;
    if (!PQsendQueryParams(conn_, "ROLLBACK", 0, nullptr, nullptr, nullptr, nullptr, 0) || !PQpipelineSync(conn_))
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
    flush(wait);
    const PgResult rolledBack = next(wait);
    while (next(wait)) {}
    const PgResult sync = next(wait);
    if (!rolledBack || PQresultStatus(rolledBack.get()) != PGRES_COMMAND_OK || !sync
        || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC || PQtransactionStatus(conn_) != PQTRANS_IDLE)
        lose(QStringLiteral("the server did not end a transaction that failed"));
}

int PgConnection::commandLimitMs() const
{
    return settings_.boundedCommands ? deadlineMs() : std::numeric_limits<int>::max();
}

void PgConnection::stream(const PgCommand &command, const std::function<void(const PgRowView &)> &each)
{
    CommandWait wait;
    const Params params(command.params);
    ensureSession(wait);
    ++roundTrips_;
    stopSent_ = false;
    const QByteArray sql = command.sql.toUtf8();
    if (!PQsendQueryParams(conn_, sql.constData(), params.count(), nullptr, params.values.data(), nullptr, nullptr, 0)
        || !PQsetSingleRowMode(conn_) || !PQpipelineSync(conn_))
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
    mode_ = Mode::Streaming;
    checkMode();
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
        drop();
        throw;
    }
    mode_ = Mode::Pipeline;
    checkMode();
}

void PgConnection::leavePipeline(CommandWait &wait)
{
    ensureSession(wait);
    if (PQexitPipelineMode(conn_) != 1)
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
    mode_ = Mode::Copy;
    checkMode();
}

void PgConnection::rejoinPipeline()
{
    if (PQenterPipelineMode(conn_) != 1)
        lose(QString::fromUtf8(PQerrorMessage(conn_)));
    mode_ = Mode::Pipeline;
    checkMode();
}

void PgConnection::copyIn(const QString &sql)
{
    CommandWait wait;
    leavePipeline(wait);
    ++roundTrips_;
    stopSent_ = false;
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
    Q_ASSERT(mode_ == Mode::Copy);
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
    Q_ASSERT(mode_ == Mode::Copy);
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
        throw PgRowRefused(withoutPassword(pg::commandErrorText(conn_, result.get())), line);
    fail(result.get());
}

void PgConnection::copyAbandon() noexcept
{
    try {
        CommandWait wait;
        if (!conn_ || PQputCopyEnd(conn_, "abandoned") != 1)
            throw EngineError(QString());
        flush(wait);
        while (next(wait)) {}
        rejoinPipeline();
    } catch (...) {
        // The copy was given up for a failure of its own, the one to report;
        // a session left in doubt is made again by the next command.
        drop();
    }
}

} // namespace zeplo
