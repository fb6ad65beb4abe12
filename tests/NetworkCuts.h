#pragma once

#include <memory>
#include <variant>

#include <QString>
#include <QStringList>

#include "LibpqRefusals.h"
#include "TcpRelay.h"
#include "TempCatalogue.h"

struct pg_conn;

// A catalogue on the test server that the program reaches through a relay of
// the test's own over plain TCP, so that the relay can read the protocol's
// messages and cut the connection at any one of them. The program's commands
// give up after `deadlineMs` on a silent path, and a connection after 2 s.
class CutCatalogue {
public:
    CutCatalogue(int books, int deadlineMs);
    ~CutCatalogue();
    CutCatalogue(const CutCatalogue &) = delete;
    CutCatalogue &operator=(const CutCatalogue &) = delete;

    // The catalogue through the relay, as the program and the tool name it.
    QString uri() const { return uri_; }
    int deadlineMs() const { return deadlineMs_; }
    void setDeadlineMs(int ms);
    // Every book, one line each in id order; a book added since the last
    // keepTable() shows "new" for its id, whatever key it was given.
    QStringList table();
    // What restoreTable() puts back.
    void keepTable();
    void restoreTable();
    // The program's next command starts a new session: the engine goes with
    // the last result set that holds it.
    void newSession();
    // No session of the program's runs a command on the server.
    bool serverQuiet();

    TempCatalogue catalogue{CatalogueEngine::Server};
    std::unique_ptr<TcpRelay> relay;

private:
    // Runs SQL on the test's own session, straight to the server; the first value.
    QString run(const QString &sql);

    QString uri_;
    pg_conn *direct_ = nullptr;
    int deadlineMs_;
    int previousDeadline_;
    qint64 highestKept_ = 0;
};

// One user action, run from the same start again and again, each time with
// the connection cut at another message.
class CutAction {
public:
    virtual ~CutAction() = default;
    virtual bool writes() const = 0;
    // Up to the action, on a new session, before the relay is armed.
    virtual void begin() = 0;
    // The action; an Error it raises is what the user is told.
    virtual void act() = 0;
    // The action tried again by the user who was told it failed.
    virtual void again() { act(); }
    // What the user sees once it is done: a read shows what a clean run shows.
    virtual QString seen() = 0;
    // The program's invariants that can be observed; empty when they hold.
    virtual QString broken() = 0;
    // The program's side goes.
    virtual void end() = 0;
    // The tool's commands run on a thread of their own, as the transfer window
    // runs them; the sweep then waits for them a bounded time.
    virtual bool onItsOwnThread() const { return false; }
};

// What a sweep does at its n-th step: the connection cut in one of the
// relay's ways at the n-th message, or the client library refusing the n-th
// call that sends, flushes, reads input, switches the pipeline or carries a
// COPY (for a full buffer: saying "not now" to the n-th that carries a COPY's
// data or end).
using Fault = std::variant<TcpRelay::Cut, libpq_refusals::Kind>;

// Runs `action` with `fault` at the n-th step, n = 1, 2, ... until the action
// completes without reaching it, for messages in each direction (a run of
// messages of one type, or of calls of one function, is cut at its first and
// its last only: a cut anywhere between fails the action the same way); after
// each run the invariants hold, the table is exactly as before or exactly as
// after the action, the user was told the truth (a success exactly when the
// action's effect is stored; a read shows no error, since one repeat on a new
// session answers it), and the action tried again succeeds. The failures of
// one direction are told together. Prints and records how many points were tried.
void sweep(CutCatalogue &catalogue, const QString &name, CutAction &action, Fault fault);

// A test's name for an action and a fault: "titlesearch_Silent", "import_FullBuffer".
std::string testName(const char *action, Fault fault);
