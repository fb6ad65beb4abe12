#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "engine/Cursor.h"
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

// Whether a round trip may be made again on a new session when its session
// was lost before or while it ran: reads may, and writes whose repetition
// provably changes nothing twice (their WHERE compares every column as read).
enum class PgRepeat { Never, IfLost };

// A row of a result: the one way the server's answers are read (PgRows.cpp).
class PgRowView {
public:
    PgRowView(const pg_result *result, int row) : result_(result), row_(row) {}
    PgRowView(const PgResult &result, int row) : PgRowView(result.get(), row) {}
    static int count(const PgResult &result);     // the rows of a result; none without one
    static int columns(const PgResult &result);   // its columns
    bool isNull(int column) const;
    // The value as the server's text, in UTF-8; empty for NULL.
    std::string_view text(int column) const;
    // The same as a QString, a null one for NULL: a parameter made of it is NULL again.
    QString string(int column) const;
    qint64 integer(int column) const;   // a whole number; 0 for NULL
    bool flag(int column) const;        // a boolean; false for NULL
    // The value as the program holds it: booleans and whole numbers as such,
    // floating-point numbers as doubles, every other type (numeric, json,
    // dates, ...) as the server's own text, so that a value read and written
    // back unchanged is the value stored; NULL as a null QVariant.
    QVariant value(int column) const;
    // The values of the first `count` columns.
    RowValues values(int count) const;

private:
    const pg_result *result_;
    int row_;
};

// A notice the session heard on a channel it listens to (LISTEN): the
// channel, the payload, and the server process of the session that sent it.
struct PgNotice {
    QString channel;
    QString payload;
    int senderPid = 0;
};

// Why the catalogue server could not be had, in terms the user can act on.
enum class ServerProblem {
    Other,             // the client library's text says what
    UnknownHost,       // the address names no computer
    Unreachable,       // no catalogue server answers there (refused, no route, down)
    NoAnswer,          // nothing came back within the time allowed
    PasswordNeeded,    // the server asks for a password and none was given
    PasswordRefused,   // the password given was not accepted
    NoDatabase,        // the server has no such database
    NoPermission,      // the role may not connect to that database
    EndedSession,      // the server ended the session (a restart, an administrator)
};

// The server refused a row of the data of a COPY; `line` counts them from 1.
class PgRowRefused : public EngineError {
public:
    PgRowRefused(const QString &why, long long line) : EngineError(why), line(line) {}
    long long line;
};

// The server refused a command; `code` is its five-character code (23505 a
// key that exists already, 57014 a command stopped, ...).
class PgCommandFailed : public EngineError {
public:
    PgCommandFailed(const QString &text, const QString &code) : EngineError(text), code(code) {}
    QString code;
};

// The first connection failed; `why` is the client library's text alone,
// without the server's name and without a password.
class PgConnectFailed : public EngineError {
public:
    PgConnectFailed(const QString &text, const QString &why, ServerProblem problem)
        : EngineError(text), why(why), problem(problem)
    {
    }
    QString why;
    ServerProblem problem;
};

// A session that was working is lost: broken, ended by the server, or silent
// past its deadline. The next command connects again.
class PgSessionLost : public EngineError {
public:
    PgSessionLost(const QString &text, ServerProblem problem) : EngineError(text), problem(problem) {}
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
// statements) is gone, which users learn from the changed generation. No
// command leaves the session inside a transaction.
//
// Its modes, and what moves between them (checkMode() asserts each mode's
// invariants after every transition, in the Debug builds):
//
//   mode       the session                           entered by                 left by
//   Closed     none, or found broken                 construction failing; a    run(), stream(), copyIn():
//                                                    loss; a failed rollback    connects -> Pipeline
//   Pipeline   idle, in libpq's pipeline mode; the   connecting; the end of     run() -> Pipeline; stream()
//              program's outside any transaction     every command              -> Streaming; copyIn() -> Copy
//   Streaming  rows of one query coming one at a     stream()                   its last row -> Pipeline; a
//              time                                                             failure -> Closed
//   Copy       out of pipeline mode, the server      copyIn()                   copyEnd(), copyAbandon()
//              taking COPY data                                                 -> Pipeline, or Closed
class PgConnection {
public:
    // Connects at once; raises PgConnectFailed, without the password, on failure.
    explicit PgConnection(const QString &uri, PgSessionSettings settings = {});
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // The commands in one round trip. Raises EngineError with the server's
    // text for the first command that failed and is not optional, once every
    // answer is in; an optional command that failed has an empty result. With
    // PgRepeat::IfLost a session lost before or while the commands ran is made
    // again and the trip repeated once; only when that fails too is the loss
    // raised (PgSessionLost).
    std::vector<PgResult> run(const std::vector<PgCommand> &commands, PgRepeat repeat = PgRepeat::Never);
    PgResult run(const PgCommand &command, PgRepeat repeat = PgRepeat::Never);
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

    // Listening (PgListening.cpp). The session's socket, for an event loop to
    // watch; -1 without a session.
    int socket() const;
    // The server process serving this session; 0 without one.
    int backendPid() const;
    // The notices that have come, read from the socket without waiting and
    // without a round trip. A session found lost raises PgSessionLost.
    std::vector<PgNotice> notices();

    // Whether each command is bounded in time: a session of the program's,
    // which keeps no transaction between two round trips.
    bool bounded() const { return settings_.boundedCommands; }
    quint64 generation() const { return generation_; }
    // Whether the session was found lost: the next command makes it again.
    bool broken() const { return broken_; }
    // Exchanges with the server so far: each trip is one, each connection one more.
    quint64 roundTrips() const { return roundTrips_; }
    int serverVersion() const;
    // The message with every password of the session blotted out.
    QString withoutPassword(const QString &message) const;

    // How long a wait for the server lasts before the session is given up
    // as lost (12 s unless set; tests shorten it): each wait, not the command.
    static int deadlineMs();
    static void setDeadlineMs(int milliseconds);

private:
    enum class Mode { Closed, Pipeline, Streaming, Copy };

    // Connecting (PgConnecting.cpp): each host of the URI and each of its
    // addresses in turn, each within the connection time limit.
    void connect(CommandWait &wait, bool first);
    bool tryAddress(CommandWait &wait, const std::vector<const char *> &keywords, const std::vector<const char *> &values,
                    QString &why, ServerProblem &problem, bool &broke);
    // Makes the session when there is none; true when it did.
    bool ensureSession(CommandWait &wait);

    std::vector<PgResult> exchange(const std::vector<PgCommand> &commands, CommandWait &wait);
    void endTransaction(CommandWait &wait);
    // Whether the socket became ready within `limitMs` of this wait; meanwhile
    // the interface is told, and a stop asked for is sent to the server.
    bool socketWait(short events, CommandWait &wait, int limitMs);
    // Whether the server still runs this session's command, asked on a session of its own.
    bool stillAtWork();
    // The same, the session given up as lost when the time passes.
    void waitFor(short events, CommandWait &wait, int limitMs);
    void flush(CommandWait &wait);
    PgResult next(CommandWait &wait);
    void drop() noexcept;
    [[noreturn]] void lose(const QString &why);
    [[noreturn]] void giveUp(int limitMs);
    [[noreturn]] void fail(const pg_result *result);
    bool lostWith(const pg_result *result) const;
    int commandLimitMs() const;
    // Out of pipeline mode for a COPY, and back.
    void leavePipeline(CommandWait &wait);
    void rejoinPipeline();
    void checkMode() const;   // Q_ASSERT only: compiled out of release builds

    QString uri_;   // as libpq is to read it
    PgSessionSettings settings_;
    QString password_;
    pg_conn *conn_ = nullptr;
    Mode mode_ = Mode::Closed;
    bool broken_ = false;
    bool stopSent_ = false;
    quint64 generation_ = 0;
    quint64 roundTrips_ = 0;
    std::map<QString, QByteArray> prepared_;   // statement text -> name, in this session
    quint64 names_ = 0;
};

// The one way transactions on the server are made (PgTransaction.cpp). The
// program's sessions keep none between two round trips: the cursors' are
// groups of commands within one trip (inTrip()). A PgTransaction itself spans
// several trips, on a session of the catalogue tool's: left without a commit,
// it is rolled back, and a session lost meanwhile, which may live on at the
// server holding the transaction's locks, is ended there.
class PgTransaction {
public:
    // Adds `command` to `commands` inside a transaction of its own whose
    // `settings` ("enable_seqscan = off", ...) hold for it alone; returns where
    // its result will be. The server plans by its estimates, which know
    // nothing of what folding Czech text costs or of a table's visibility
    // map: turning off its choice of reading the whole table makes a search
    // take the trigram index and a count take the key's index, where the
    // table has them.
    static std::size_t inTrip(std::vector<PgCommand> &commands, PgCommand command,
                              std::initializer_list<const char *> settings);
    // The same alone: its one trip run, read again once on a new session if lost.
    static PgResult runInTrip(PgConnection &connection, PgCommand command,
                              std::initializer_list<const char *> settings);

    // Another session with the same server, for ending a lost one and for
    // asking what became of a commit whose answer was lost.
    using Another = std::function<std::unique_ptr<PgConnection>()>;

    // BEGIN, then the transaction's id, by which the server tells later
    // whether it committed. Raises as run() does.
    PgTransaction(PgConnection &connection, Another another);
    ~PgTransaction() { rollBack(); }
    PgTransaction(const PgTransaction &) = delete;
    PgTransaction &operator=(const PgTransaction &) = delete;

    // COMMIT. What was lost with the session may be the answer alone: the
    // server knows whether the transaction went through, once the lost
    // session has ended; only one that did not raises the loss. Over either way.
    void commit();
    // Ends it unfinished, if it is not over yet. The failure that led here is
    // the one to report: this one raises nothing.
    void rollBack() noexcept;

private:
    // Ends the server's side of the lost session, and with it the transaction.
    void endLost() noexcept;

    PgConnection &connection_;
    Another another_;
    int pid_ = 0;   // the session's server process
    QString id_;
    bool over_ = false;
};

} // namespace zeplo
