#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "engine/Engine.h"

struct pg_conn;
struct pg_result;

namespace zeplo {

class CommandWait;

// A result of libpq, cleared when it goes.
struct PgResultDeleter {
    void operator()(pg_result *result) const;
};
using PgResult = std::unique_ptr<pg_result, PgResultDeleter>;

// One statement of a round trip.
struct PgCommand {
    PgCommand(QString text, QStringList parameters = {}, bool kept = false)
        : sql(std::move(text)), params(std::move(parameters)), keep(kept)
    {
    }
    QString sql;
    QStringList params;      // texts; a null QString is NULL
    bool keep = false;       // prepared once in the session and reused from then on
    bool optional = false;   // a failure leaves its result empty instead of failing the trip
    bool joinsNext = false;  // one transaction with the next command; otherwise each is its own
};

// A row of a result, its values as the server's texts.
class PgRowView {
public:
    PgRowView(const pg_result *result, int row) : result_(result), row_(row) {}
    static int count(const PgResult &result);   // the rows of a result
    bool isNull(int column) const;
    std::string_view text(int column) const;

private:
    const pg_result *result_;
    int row_;
};

// The server refused a row of the data of a COPY; `line` counts them from 1.
class PgRowRefused : public EngineError {
public:
    PgRowRefused(const QString &why, long long line) : EngineError(why), line(line) {}
    long long line;
};

// What kept a session from being made, as far as a user can act on it.
enum class ServerProblem { Other, UnknownHost, Unreachable, NoAnswer, PasswordNeeded, PasswordRefused, NoDatabase,
                           NoPermission, EndedSession };

// The first connection failed; `why` is the reason alone, without the server's name.
class PgConnectFailed : public EngineError {
public:
    PgConnectFailed(const QString &text, const QString &why, ServerProblem problem = ServerProblem::Other)
        : EngineError(text), why(why), problem(problem)
    {
    }
    QString why;
    ServerProblem problem;
};

// What a session is for: the program's lists and posts, each command bounded
// in time so that a dead network path shows within seconds, or the catalogue
// tool's bulk work (a copy of a million books, an index over them), each
// command running as long as it takes.
struct PgSessionSettings {
    const char *applicationName = "zeplo";
    bool boundedCommands = true;
    QString password;   // given apart from the URI; never shown
};

// One session with the catalogue server. Every exchange goes through run():
// the commands are sent together (libpq's pipeline mode) and their answers
// read back, one round trip however many commands; each wait has a deadline
// of its own, so a dead network path fails the command within seconds; the
// interface is told while it waits (WaitObserver). A session found broken is
// made again by the next command; whatever lived in the old one (prepared
// statements) is gone, which users learn from the changed generation.
class PgConnection {
public:
    // Connects at once; raises EngineError, without the password, on failure.
    explicit PgConnection(const QString &uri, PgSessionSettings settings = {});
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // The commands in one round trip. Raises EngineError with the server's
    // text for the first command that failed and is not optional, once every
    // answer is in; an optional command that failed has an empty result.
    std::vector<PgResult> run(const std::vector<PgCommand> &commands);
    PgResult run(const PgCommand &command);
    // One query whose rows come one at a time, each given to `each` before
    // the next is read: a million rows never sit in memory at once.
    void stream(const PgCommand &command, const std::function<void(const PgRowView &)> &each);

    // COPY ... FROM STDIN: begun by copyIn(), its data sent in pieces by
    // copyData(), ended by copyEnd() with the server's verdict (a refused row
    // raises PgRowRefused) or, after a failure on the sender's side, by
    // copyAbandon().
    void copyIn(const QString &sql);
    void copyData(std::string_view data);
    void copyEnd();
    void copyAbandon() noexcept;

    quint64 generation() const { return generation_; }
    // Whether the session was found lost: the next command makes it again.
    bool broken() const { return broken_; }
    // Exchanges with the server so far: each run() is one, each connection one more.
    quint64 roundTrips() const { return roundTrips_; }
    int serverVersion() const;
    // The message with every password of the session blotted out.
    QString withoutPassword(const QString &message) const;

    // How long a command waits for the server's answer before it gives the
    // session up as lost (12 s unless set; tests shorten it).
    static int deadlineMs();
    static void setDeadlineMs(int milliseconds);

private:
    void connect(CommandWait &wait, bool first);
    void waitFor(short events, CommandWait &wait, int deadlineMs);
    void flush(CommandWait &wait);
    PgResult next(CommandWait &wait);
    [[noreturn]] void lose(const QString &why);
    [[noreturn]] void giveUp(int deadlineMs);
    [[noreturn]] void fail(const pg_result *result);
    bool lostWith(const pg_result *result) const;
    int commandLimitMs() const;
    // Out of pipeline mode for a COPY, and back.
    void leavePipeline(CommandWait &wait);
    void rejoinPipeline();

    QString uri_;
    PgSessionSettings settings_;
    QString password_;
    pg_conn *conn_ = nullptr;
    bool broken_ = false;
    quint64 generation_ = 0;
    quint64 roundTrips_ = 0;
    std::map<QString, QByteArray> prepared_;   // statement text -> name, in this session
    quint64 names_ = 0;
};

} // namespace zeplo
