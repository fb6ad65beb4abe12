#pragma once

#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

// A CUPS print server of the test's own (scripts/print-server), whose queues
// write their jobs to files. The program reaches it the way it reaches any
// print server: Qt asks libcups, and libcups asks the server that this
// process's environment names (see isolateProcess()). One server at a time in
// a process; every test process has a socket path of its own, so tests that
// run side by side never meet.
class PrintServer {
public:
    // Points the process's printing at its own socket and away from the
    // machine's print system, before anything has asked for printers. While no
    // server runs there, the process sees no printer at all.
    static void isolateProcess();

    // Starts a server without queues; it is stopped when the object goes, and
    // also when the test process ends in any other way.
    PrintServer();
    ~PrintServer();
    PrintServer(const PrintServer &) = delete;
    PrintServer &operator=(const PrintServer &) = delete;

    bool started() const { return started_; }
    // What went wrong, with the server's log: for failure messages.
    QString problem() const { return problem_; }

    // A PostScript queue with the usual paper sizes whose own paper is
    // `paper`; `makeDefault` makes it the server's default queue.
    bool addQueue(const QString &name, bool makeDefault = false, const QString &paper = QStringLiteral("A4"));

    // Jobs of `queue` that have ended (printed, aborted or cancelled), and all
    // jobs still to end, as the server tells them.
    int endedJobs(const QString &queue);
    int pendingJobs();
    // Runs the event loop until `count` jobs of `queue` have ended and none is
    // pending; false when that does not happen within a minute.
    bool waitForEndedJobs(const QString &queue, int count);

    // What the last job of `queue` put out: its pages, the paper the printer
    // was set to and the size of the pages in points (invalid when the pages
    // differ in size).
    struct Printout {
        int pages = 0;
        QString paper;
        QSize pagePoints;
    };
    Printout lastPrintout(const QString &queue) const;
    // The size in points of the pages of the document the program sent for
    // the server's latest job, wider than tall for pages sent on their side
    // (invalid when the pages differ in size).
    QSize lastDocumentPoints() const;

private:
    QString lpstat(const QStringList &arguments);
    QString serverLog() const;

    QString folder_;
    QProcess server_;
    bool started_ = false;
    QString problem_;
};

// A started print server with the queues named, the first of them its default
// one unless `withDefault` is false; what fails to start fails the test.
std::unique_ptr<PrintServer> printServerWith(const QStringList &queues, bool withDefault = true);
