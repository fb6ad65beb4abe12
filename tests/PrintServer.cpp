#include "PrintServer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <gtest/gtest.h>

namespace {

// The folder of this process's print servers, one after another; the
// environment names the socket in it from isolateProcess() on.
QTemporaryDir &processFolder()
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/zeplo-print-XXXXXX"));
    return folder;
}

QString serverFolder()
{
    return processFolder().filePath(QStringLiteral("server"));
}

// Runs a command to its end; its standard output, or nothing when it failed
// (its error output then goes to the test's).
std::optional<QString> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

int lineCount(const QString &text)
{
    return int(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size());
}

} // namespace

void PrintServer::isolateProcess()
{
    const QByteArray folder = QFile::encodeName(serverFolder());
    qputenv("CUPS_SERVER", folder + "/cups.sock");
    // Nor are the machine's client settings or a chosen default printer read.
    qputenv("CUPS_SERVERROOT", folder + "/etc");
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
}

PrintServer::PrintServer() : folder_(serverFolder())
{
    if (!processFolder().isValid()) {
        problem_ = QStringLiteral("no temporary folder for the print server");
        return;
    }
    // Run as root, the server hands jobs to its filters as another user, who
    // must pass through this folder to reach the spool.
    QFile::setPermissions(processFolder().path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                      | QFile::ExeGroup | QFile::ExeOther);
    // "serve" stops the server when its input closes: at the end of this
    // object, or of the process however it ends.
    server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server_.start(QStringLiteral(ZEPLO_PRINT_SERVER), {QStringLiteral("serve"), folder_});
    if (server_.waitForStarted()) {
        while (!server_.canReadLine() && server_.waitForReadyRead(60000)) {
        }
    }
    started_ = server_.canReadLine() && server_.readLine().trimmed() == "ready";
    if (!started_)
        problem_ = QStringLiteral("the print server did not start\n") + serverLog();
}

PrintServer::~PrintServer()
{
    if (server_.state() == QProcess::NotRunning)
        return;
    server_.closeWriteChannel();
    if (!server_.waitForFinished(60000)) {
        server_.kill();
        server_.waitForFinished();
    }
}

bool PrintServer::addQueue(const QString &name, bool makeDefault, const QString &paper)
{
    QStringList arguments = {QStringLiteral("queue"), folder_, name, QStringLiteral("--paper"), paper};
    if (makeDefault)
        arguments << QStringLiteral("--default");
    return run(QStringLiteral(ZEPLO_PRINT_SERVER), arguments).has_value();
}

QString PrintServer::lpstat(const QStringList &arguments)
{
    return run(QStringLiteral("lpstat"), arguments).value_or(QString());
}

int PrintServer::endedJobs(const QString &queue)
{
    return lineCount(lpstat({QStringLiteral("-W"), QStringLiteral("completed"), QStringLiteral("-o"), queue}));
}

int PrintServer::pendingJobs()
{
    return lineCount(lpstat({QStringLiteral("-o")}));
}

bool PrintServer::waitForEndedJobs(const QString &queue, int count)
{
    const bool ended = QTest::qWaitFor([&] { return endedJobs(queue) >= count && pendingJobs() == 0; }, 60000);
    if (!ended)
        problem_ = QStringLiteral("the jobs of %1 did not end\n").arg(queue) + serverLog();
    return ended;
}

PrintServer::Printout PrintServer::lastPrintout(const QString &queue) const
{
    // The queue puts out PostScript with its structuring comments: one
    // "%%Page:" per page, the paper chosen for the job and each page's box.
    Printout printout;
    QFile file(folder_ + QStringLiteral("/output/") + queue);
    if (!file.open(QIODevice::ReadOnly))
        return printout;
    static const QRegularExpression paper(QStringLiteral("^%%BeginFeature: \\*PageSize (\\S+)"));
    static const QRegularExpression box(QStringLiteral("^%%PageBoundingBox: (-?\\d+) (-?\\d+) (-?\\d+) (-?\\d+)"));
    bool sameSize = true;
    while (!file.atEnd()) {
        const QString line = QString::fromLatin1(file.readLine()).trimmed();
        if (line.startsWith(QLatin1String("%%Page: "))) {
            ++printout.pages;
        } else if (const auto m = paper.match(line); m.hasMatch()) {
            printout.paper = m.captured(1);
        } else if (const auto m = box.match(line); m.hasMatch()) {
            const QSize size(m.captured(3).toInt() - m.captured(1).toInt(), m.captured(4).toInt() - m.captured(2).toInt());
            sameSize = sameSize && (!printout.pagePoints.isValid() || printout.pagePoints == size);
            printout.pagePoints = size;
        }
    }
    if (!sameSize)
        printout.pagePoints = QSize();
    return printout;
}

QSize PrintServer::lastDocumentPoints() const
{
    // The server keeps each job's document, d<job>-001, as the program sent it.
    const QStringList documents =
        QDir(folder_ + QStringLiteral("/spool")).entryList({QStringLiteral("d*-001")}, QDir::Files, QDir::Name);
    if (documents.isEmpty())
        return QSize();
    QFile file(folder_ + QStringLiteral("/spool/") + documents.last());
    if (!file.open(QIODevice::ReadOnly))
        return QSize();
    static const QRegularExpression mediaBox(QStringLiteral("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]"));
    QSize size;
    auto boxes = mediaBox.globalMatch(QString::fromLatin1(file.readAll()));
    while (boxes.hasNext()) {
        const QRegularExpressionMatch m = boxes.next();
        const QSize page(qRound(m.captured(1).toDouble()), qRound(m.captured(2).toDouble()));
        if (size.isValid() && page != size)
            return QSize();
        size = page;
    }
    return size;
}

QString PrintServer::serverLog() const
{
    QFile log(folder_ + QStringLiteral("/log/error_log"));
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    const QStringList lines = QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'));
    return lines.mid(qMax(0, int(lines.size()) - 30)).join(QLatin1Char('\n'));
}

std::unique_ptr<PrintServer> printServerWith(const QStringList &queues, bool withDefault)
{
    auto server = std::make_unique<PrintServer>();
    EXPECT_TRUE(server->started()) << server->problem().toStdString();
    for (const QString &queue : queues)
        EXPECT_TRUE(server->addQueue(queue, withDefault && queue == queues.first())) << queue.toStdString();
    return server;
}
