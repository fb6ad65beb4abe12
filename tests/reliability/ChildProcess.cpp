#include "ChildProcess.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

#include <cstdio>

#include "engine/Engine.h"
#include "engine/SqliteEngine.h"


namespace {
constexpr const char *kRoleVariable = "ZEPLO_TEST_CHILD_ROLE";
constexpr const char *kLinePrefix = "@child ";
constexpr const char *kJournalVariable = "ZEPLO_TEST_CHILD_ROLLBACK_JOURNAL";
}

ChildProcess::ChildProcess(const QString &folder, const QString &role, const QStringList &args,
                           const QStringList &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kRoleVariable), role);
    env.insert(QStringLiteral("ZEPLO_TEST_CHILD_ARGS"), args.join(QLatin1Char('\x1f')));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The child works on the catalogue the parent works on: the folder's file, or the server's.
    env.insert(QStringLiteral("ZEPLO_CATALOGUE"), zeplo::Engine::catalogue());
    // ...in the journal mode the parent keeps.
    if (zeplo::SqliteEngine::rollbackJournal())
        env.insert(QString::fromLatin1(kJournalVariable), QStringLiteral("1"));
    for (const QString &entry : environment) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        if (equals < 0)
            env.remove(entry);
        else
            env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(folder);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QCoreApplication::applicationFilePath(),
                   {QStringLiteral("--gtest_filter=ReliabilityChild.DISABLED_Role"),
                    QStringLiteral("--gtest_also_run_disabled_tests")});
    process_.waitForStarted(20000);
}

ChildProcess::~ChildProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString ChildProcess::readLine(int timeoutMs)
{
    // Only the child's own lines count; the test runner prints around them.
    for (;;) {
        while (!process_.canReadLine()) {
            if (process_.state() == QProcess::NotRunning || !process_.waitForReadyRead(timeoutMs)) {
                if (!process_.canReadLine())
                    return QString();
            }
        }
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (line.startsWith(QLatin1String(kLinePrefix)))
            return line.mid(int(qstrlen(kLinePrefix)));
    }
}

QStringList ChildProcess::finish(int timeoutMs)
{
    process_.waitForFinished(timeoutMs);
    QStringList lines;
    while (process_.canReadLine()) {
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (line.startsWith(QLatin1String(kLinePrefix)))
            lines << line.mid(int(qstrlen(kLinePrefix)));
    }
    return lines;
}

void childSays(const QString &line)
{
    std::fputs((QLatin1String(kLinePrefix) + line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QString childRole()
{
    return qEnvironmentVariable(kRoleVariable);
}

QStringList childArguments()
{
    // No arguments are none, not one empty one.
    const QString args = qEnvironmentVariable("ZEPLO_TEST_CHILD_ARGS");
    return args.isEmpty() ? QStringList() : args.split(QLatin1Char('\x1f'));
}

void ChildProcess::kill()
{
    process_.kill();
    process_.waitForFinished(5000);
}

bool isChildProcess()
{
    return qEnvironmentVariableIsSet(kRoleVariable);
}

void takeParentsCatalogue()
{
    zeplo::Engine::setCatalogue(qEnvironmentVariable("ZEPLO_CATALOGUE"));
    zeplo::SqliteEngine::setRollbackJournal(qEnvironmentVariableIsSet(kJournalVariable));
}
