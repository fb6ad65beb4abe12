#include "NetworkCuts.h"

#include <string_view>

#include <chrono>
#include <climits>
#include <cstdio>
#include <exception>
#include <map>
#include <thread>
#include <variant>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include "LibpqRefusals.h"
#include "engine/Engine.h"
#include "engine/PgConnection.h"

using namespace zeplo;
using Direction = TcpRelay::Direction;
using Cut = TcpRelay::Cut;

CutCatalogue::CutCatalogue(int books, int deadlineMs)
    : deadlineMs_(deadlineMs), previousDeadline_(PgConnection::deadlineMs())
{
    catalogue.addBooks(books);
    // Some books lent, so that the filters for them show some and not all.
    catalogue.exec(QStringLiteral("update zeplo set pujceno = 'Jana' where id % 5 = 0"));
    // The owner's URI through a Unix socket names the TCP port too.
    static const QRegularExpression parts(QStringLiteral(R"(^postgresql://([^@]*)@/([^?]*)\?.*port=(\d+))"));
    const QRegularExpressionMatch m = parts.match(catalogue.uri());
    if (!m.hasMatch())
        throw std::runtime_error("a test server URI without a port");
    relay = std::make_unique<TcpRelay>("127.0.0.1", m.captured(3).toInt());
    // Unencrypted, so that the relay can read the messages; a refused
    // request for encryption would only add messages before the start-up.
    uri_ = QStringLiteral("postgresql://%1@127.0.0.1:%2/%3?sslmode=disable&gssencmode=disable&connect_timeout=2")
               .arg(m.captured(1))
               .arg(relay->port())
               .arg(m.captured(2));
    direct_ = PQconnectdb(catalogue.uri().toUtf8().constData());
    PQsetNoticeProcessor(direct_, [](void *, const char *) {}, nullptr);
    Engine::setCatalogue(uri_);
    setDeadlineMs(deadlineMs);
    keepTable();
}

CutCatalogue::~CutCatalogue()
{
    PgConnection::setDeadlineMs(previousDeadline_);
    Engine::setCatalogue(catalogue.uri());   // the engine through the relay goes before the relay
    PQfinish(direct_);
}

void CutCatalogue::setDeadlineMs(int ms)
{
    deadlineMs_ = ms;
    PgConnection::setDeadlineMs(ms);
}

bool CutCatalogue::serverQuiet()
{
    return run(QStringLiteral("select count(*) from pg_stat_activity where datname = current_database() "
                              "and pid <> pg_backend_pid() and state = 'active'"))
        == QLatin1String("0");
}

QString CutCatalogue::run(const QString &sql)
{
    PGresult *result = PQexec(direct_, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(result);
    const QString value = status == PGRES_TUPLES_OK && PQntuples(result) > 0
                              ? QString::fromUtf8(PQgetvalue(result, 0, 0))
                              : QString();
    const std::string error = PQresultErrorMessage(result);
    PQclear(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error("test SQL failed: " + error);
    return value;
}

QStringList CutCatalogue::table()
{
    const QString rows = run(QStringLiteral("select string_agg(concat_ws('|', case when id > %1 then 'new' else id::text end, "
                                   "coalesce(autor, '-'), coalesce(nazev, '-'), coalesce(zanr, '-'), "
                                   "coalesce(rok_vydani::text, '-'), coalesce(popis, '-'), coalesce(vlastnim::text, "
                                   "'-'), coalesce(precteno::text, '-'), coalesce(pujceno, '-')), E'\\n' order by id) "
                                   "from zeplo")
                                 .arg(highestKept_));
    return rows.isEmpty() ? QStringList() : rows.split(QLatin1Char('\n'));
}

void CutCatalogue::keepTable()
{
    run(QStringLiteral("drop table if exists zeplo_kept; create table zeplo_kept as select * from zeplo"));
    highestKept_ = run(QStringLiteral("select coalesce(max(id), 0) from zeplo")).toLongLong();
}

void CutCatalogue::restoreTable()
{
    run(QStringLiteral("begin; delete from zeplo; insert into zeplo overriding system value select * from zeplo_kept; "
                       "commit"));
}

void CutCatalogue::newSession()
{
    Engine::setCatalogue(QString());
    Engine::setCatalogue(uri_);
}

namespace {

constexpr Direction kDirections[] = {Direction::ToServer, Direction::ToClient};

// What the action told the user: empty for a success.
QString outcomeOf(CutAction &action, void (CutAction::*step)())
{
    try {
        (action.*step)();
    } catch (const Error &e) {
        return e.message().isEmpty() ? QStringLiteral("(an error without a message)") : e.message();
    } catch (const std::exception &e) {
        return QStringLiteral("(not the program's error) ") + QString::fromUtf8(e.what());
    }
    return QString();
}

// Polls `done` with a bound, handling the program's queued work meanwhile.
bool within(int ms, const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QStringLiteral(" / "));
}

QString difference(const QStringList &now, const QStringList &expected)
{
    // Row by row, so that a book stored twice shows as one line too many.
    QStringList missing = expected, lines;
    for (const QString &row : now)
        if (!missing.removeOne(row))
            lines << QStringLiteral("+ ") + row;
    for (const QString &row : missing)
        lines << QStringLiteral("- ") + row;
    return lines.isEmpty() ? QStringLiteral("the same rows in another order") : lines.join(QStringLiteral("; "));
}

// A sweep cuts the connection at its messages, or has the client library
// refuse its calls: then the n-th call counts as the n-th message "to the
// server", and a run of calls of one function as a run of one message type.
class Sweep {
public:
    Sweep(CutCatalogue &catalogue, const QString &name, CutAction &action, Fault fault)
        : c_(catalogue), relay_(*catalogue.relay), name_(name), action_(action), fault_(fault),
          cut_(std::get_if<Cut>(&fault_)), refusal_(std::get_if<libpq_refusals::Kind>(&fault_))
    {
        // Only a silent path needs the deadline to end a command; for the
        // rest a long one keeps a busy machine from failing a command early.
        if (!cut_ || *cut_ != Cut::Silence)
            c_.setDeadlineMs(10000);
    }

    void run()
    {
        if (!clean())
            return;
        for (Direction direction : kDirections) {
            if (!cut_ && direction == Direction::ToClient)
                continue;
            const int count = cleanMessages_[int(direction)];
            for (int n = 1;; ++n) {
                if (n <= count && !worthCutting(direction, n))
                    continue;
                const auto problemsBefore = problems_;
                Run run = runOnce(direction, n);
                if (!run.reached && !run.told.isEmpty() && !testing::Test::HasFatalFailure()) {
                    // Made once more before it counts: on a busy machine a
                    // command may outlast the silent path's short deadline.
                    problems_ = problemsBefore;
                    run = runOnce(direction, n);
                }
                if (testing::Test::HasFatalFailure())
                    return;
                if (!run.reached && run.told.isEmpty())
                    break;   // done without reaching the n-th message
                if (!run.reached) {
                    // Failed with nothing cut: told, and the sweep goes on.
                    problem(direction, n, QStringLiteral("failed before the cut: ") + oneLine(run.told));
                    if (n > count)
                        break;
                    continue;
                }
                ++tried_[int(direction)];
                if (hung_)
                    break;   // each more cut would wait as long
                if (n > count + 100) {
                    problem(direction, n,
                            QStringLiteral("the action goes on sending long after a clean run's %1 messages").arg(count));
                    break;
                }
            }
            hung_ = false;
        }
        report();
    }

private:
    // The messages of one exchange fail the command the same way wherever
    // the cut falls among them: what the client sends up to its Sync (or a
    // simple query, a password, the end of a COPY) is done, or not, only as a
    // whole, and an answer up to the server's ReadyForQuery is had, or not,
    // only as a whole (the server has acted either way). So each exchange is
    // cut at its first message and at its last, and so is the action's first
    // and last message, so that the sweep stays within minutes: a silent cut
    // costs a command's deadline and every cut a new session.
    bool worthCutting(Direction direction, int n) const
    {
        const std::string &types = cleanTypes_[int(direction)];
        const std::size_t i = std::size_t(n - 1);
        if (i == 0 || i + 1 >= types.size())
            return true;
        if (!cut_)
            return types[i] != types[i - 1] || types[i] != types[i + 1];
        const auto ends = [direction](char type) {
            return direction == Direction::ToServer ? std::string_view("SQpcfX").find(type) != std::string_view::npos
                                                    : type == 'Z';
        };
        return ends(types[i]) || ends(types[i - 1]);
    }

    // One run without a cut: how many messages the action sends either way,
    // what it shows and what it stores.
    bool clean()
    {
        action_.begin();
        before_ = c_.table();
        if (cut_)
            relay_.arm(Direction::ToServer, INT_MAX, Cut::Drop);
        else
            libpq_refusals::arm(0, *refusal_);
        const QString error = act();
        if (cut_) {
            for (Direction d : kDirections) {
                cleanMessages_[int(d)] = relay_.messages(d);
                cleanTypes_[int(d)] = relay_.messageTypes(d);
            }
        } else {
            cleanTypes_[0] = libpq_refusals::calls();
            cleanMessages_[0] = int(cleanTypes_[0].size());
        }
        relay_.disarm();
        libpq_refusals::disarm();
        EXPECT_TRUE(error.isEmpty()) << name_.toStdString() << " fails with no cut: " << error.toStdString();
        EXPECT_GT(cleanMessages_[0], 0) << name_.toStdString() << " asks the server nothing";
        seen_ = action_.seen();
        after_ = c_.table();
        const QString broken = action_.broken();
        EXPECT_TRUE(broken.isEmpty()) << broken.toStdString();
        action_.end();
        if (action_.writes()) {
            EXPECT_NE(before_, after_) << name_.toStdString() << " stores nothing";
            c_.restoreTable();
        } else {
            EXPECT_EQ(before_, after_) << name_.toStdString() << " changes the table";
        }
        return !testing::Test::HasFailure();
    }

    // The action, on a thread of its own where it runs there, waited for a
    // bounded time: a tool that waits on a silent path for ever is let go by
    // closing the path, and told.
    QString act(void (CutAction::*step)() = &CutAction::act)
    {
        if (!action_.onItsOwnThread())
            return outcomeOf(action_, step);
        QString outcome;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            outcome = outcomeOf(action_, step);
            done = true;
        });
        const int patience = 4 * c_.deadlineMs() + 4000;
        if (!within(patience, [&] { return done.load(); })) {
            hung_ = true;
            relay_.closeAll();
        }
        worker.join();
        if (hung_)
            outcome = QStringLiteral("no end %1 s after the cut; let go by closing the path, it says: ")
                          .arg(patience / 1000.0)
                      + outcome;
        return outcome;
    }

    struct Run {
        bool reached = false;   // the cut was made
        QString told;           // what the action told the user
    };
    Run runOnce(Direction direction, int n)
    {
        action_.begin();
        if (cut_)
            relay_.arm(direction, n, *cut_);
        else
            libpq_refusals::arm(n, *refusal_);
        const QString error = act();
        const bool reached = cut_ ? relay_.cut() : libpq_refusals::refused();
        relay_.disarm();
        libpq_refusals::disarm();
        // Whatever reached the server is done with before the table is looked at.
        if (reached && !cut_ && !within(5000 + c_.deadlineMs(), [&] { return c_.serverQuiet(); }))
            problem(direction, n, QStringLiteral("a command of the session given up still runs on the server 5 s later"));
        if (reached && cut_ && !within(5000 + c_.deadlineMs(), [&] { return relay_.settled(); })) {
            problem(direction, n, QStringLiteral("the session cut off is still open on the server 5 s later"));
            relay_.closeAll();
            within(5000, [&] { return relay_.settled(); });
        }
        const auto check = [&](const QString &when, const QString &told) {
            if (const QString broken = action_.broken(); !broken.isEmpty())
                problem(direction, n, when + QStringLiteral(": broken invariant: ") + broken);
            const QStringList now = c_.table();
            const bool asBefore = now == before_, asAfter = now == after_;
            if (!asBefore && !asAfter) {
                problem(direction, n, when + QStringLiteral(": the table is neither as before nor as after: ")
                                               + difference(now, after_));
            } else if (action_.writes() && told.isEmpty() && !asAfter) {
                problem(direction, n, when + QStringLiteral(": told it succeeded, but nothing was stored"));
            } else if (action_.writes() && !told.isEmpty() && asAfter) {
                problem(direction, n, when + QStringLiteral(": stored, but told: ") + oneLine(told));
            }
            if (!action_.writes() && told.isEmpty()) {
                if (const QString seen = action_.seen(); seen != seen_)
                    problem(direction, n, when + QStringLiteral(": shows\n") + seen
                                                   + QStringLiteral("\ninstead of\n") + seen_);
            }
        };
        if (hung_)
            problem(direction, n, QStringLiteral("waits for ever: ") + oneLine(error));
        else if (!action_.writes() && !error.isEmpty())
            problem(direction, n, QStringLiteral("a read told the user: ") + oneLine(error));
        check(QStringLiteral("after the action"), error);
        if (!error.isEmpty() && !hung_) {
            const QString again = act(&CutAction::again);
            if (!again.isEmpty())
                problem(direction, n, QStringLiteral("tried again, it fails: ") + oneLine(again));
            check(QStringLiteral("tried again"), again);
        }
        action_.end();
        if (c_.table() != before_)
            c_.restoreTable();
        return {reached, error};
    }

    void problem(Direction direction, int n, const QString &text)
    {
        problems_[int(direction)].push_back({n, text});
    }

    const char *kind() const
    {
        if (cut_)
            return TcpRelay::name(*cut_);
        return *refusal_ == libpq_refusals::Kind::Failure ? "refused by the client library"
                                                          : "the client library's buffer full";
    }

    void report()
    {
        const int points = tried_[0] + tried_[1];
        if (cut_)
            std::printf("network cuts: %s, %s at %d points: %d of its %d messages to the server, %d of its %d to the "
                        "client\n",
                        qPrintable(name_), kind(), points, tried_[0], cleanMessages_[0], tried_[1], cleanMessages_[1]);
        else
            std::printf("network cuts: %s, %s at %d points of its %d calls\n", qPrintable(name_), kind(), points,
                        cleanMessages_[0]);
        std::fflush(stdout);
        testing::Test::RecordProperty("cut_points", points);
        for (const auto &[direction, list] : problems_) {
            QStringList ns;
            QStringList texts;
            for (const auto &[n, text] : list) {
                if (ns.isEmpty() || ns.last() != QString::number(n))
                    ns << QString::number(n);
                if (texts.size() < 4 && !texts.contains(text))
                    texts << text;
            }
            const QString where = cut_ ? QStringLiteral("message ") + QLatin1String(TcpRelay::name(Direction(direction)))
                                       : QStringLiteral("call");
            ADD_FAILURE() << name_.toStdString() << ", the " << where.toStdString() << " " << kind()
                          << ", at n = " << ns.join(QStringLiteral(", ")).toStdString()
                          << ":\n  " << texts.join(QStringLiteral("\n  ")).toStdString();
        }
    }

    CutCatalogue &c_;
    TcpRelay &relay_;
    QString name_;
    CutAction &action_;
    const Fault fault_;
    const Cut *const cut_;                           // one of these two is set
    const libpq_refusals::Kind *const refusal_;
    QStringList before_, after_;
    QString seen_;
    int cleanMessages_[2] = {0, 0};
    std::string cleanTypes_[2];
    int tried_[2] = {0, 0};
    bool hung_ = false;
    std::map<int, std::vector<std::pair<int, QString>>> problems_;   // by direction
};

} // namespace

void sweep(CutCatalogue &catalogue, const QString &name, CutAction &action, Fault fault)
{
    Sweep(catalogue, name, action, fault).run();
}

std::string testName(const char *action, Fault fault)
{
    std::string name;
    for (const char *c = action; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c)))
            name += *c;
    if (const Cut *cut = std::get_if<Cut>(&fault)) {
        switch (*cut) {
        case Cut::Drop: return name + "_Dropped";
        case Cut::DeliverThenDrop: return name + "_AnswerLost";
        case Cut::Silence: return name + "_Silent";
        }
    }
    return name + (std::get<libpq_refusals::Kind>(fault) == libpq_refusals::Kind::Failure ? "_Refused" : "_FullBuffer");
}
