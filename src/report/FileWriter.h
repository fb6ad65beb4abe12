#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

namespace zeplo {

// Writes the report's own files, the page store's temporary file and a saved
// report, so that none of their failures goes unseen. Every write of those
// files goes through one of these, which lets a test make the n-th write, or
// the next commit, fail as a full or vanished disk would.
class FileWriter {
public:
    explicit FileWriter(QFileDevice &file) : file_(file) {}

    // All the bytes at the file's position, or false.
    bool write(const QByteArray &bytes);
    // Everything written reaches the file: a QSaveFile is committed in place
    // of the file it replaces, any other file flushed. False when it fails.
    bool commit();
    // Why the last write or commit failed.
    QString errorString() const;

    // For tests: the n-th write of any writer from now on (1: the next) fails,
    // or the next commit does, until cleared.
    static void failWrite(int n);
    static void failCommit();
    static void clearFailures();
    // Whether a failure asked for has happened.
    static bool failed();

private:
    QFileDevice &file_;
    bool injected_ = false;
};

} // namespace zeplo
