#pragma once

#include <map>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

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
    explicit PgConnection(const QString &uri);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // The commands in one round trip. Raises EngineError with the server's
    // text for the first command that failed and is not optional, once every
    // answer is in; an optional command that failed has an empty result.
    std::vector<PgResult> run(const std::vector<PgCommand> &commands);
    PgResult run(const PgCommand &command);

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

    QString uri_;
    QString password_;
    pg_conn *conn_ = nullptr;
    bool broken_ = false;
    quint64 generation_ = 0;
    quint64 roundTrips_ = 0;
    std::map<QString, QByteArray> prepared_;   // statement text -> name, in this session
    quint64 names_ = 0;
};

} // namespace zeplo
