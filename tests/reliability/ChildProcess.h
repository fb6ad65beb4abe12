#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A second copy of the program's catalogue code in a process of its own: the
// test binary runs itself with only the child test selected, in the folder of
// the catalogue, with the role and its arguments in the environment. The child
// talks back through lines on its standard output.
class ChildProcess {
public:
    // `environment`: NAME=VALUE to set, NAME alone to remove, over the parent's.
    ChildProcess(const QString &folder, const QString &role, const QStringList &args = {},
                 const QStringList &environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Waits for the child's next line; empty when the child ended or the time ran out.
    QString readLine(int timeoutMs = 20000);
    // Runs to the end and returns every line it printed.
    QStringList finish(int timeoutMs = 30000);
    void kill();
    QProcess &process() { return process_; }

private:
    QProcess process_;
};

// In the child process: whether it is one, its role and arguments, and a line
// back to the parent (flushed at once, so that a kill loses nothing said).
bool isChildProcess();
QString childRole();
QStringList childArguments();
void childSays(const QString &line);
// The parent's catalogue, in the parent's journal mode.
void takeParentsCatalogue();
