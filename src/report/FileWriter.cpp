#include "report/FileWriter.h"

#include <QSaveFile>

#include <atomic>

namespace zeplo {

namespace {

std::atomic<int> writesBeforeFailure{0};   // 0: none asked for
std::atomic<bool> commitFails{false};
std::atomic<bool> failureHappened{false};

bool injectedFailure(bool commit)
{
    if (commit ? commitFails.exchange(false) : writesBeforeFailure > 0 && --writesBeforeFailure == 0) {
        failureHappened = true;
        return true;
    }
    return false;
}

} // namespace

bool FileWriter::write(const QByteArray &bytes)
{
    injected_ = injectedFailure(false);
    return !injected_ && file_.write(bytes) == bytes.size();
}

bool FileWriter::commit()
{
    injected_ = injectedFailure(true);
    if (injected_) {
        if (auto *save = qobject_cast<QSaveFile *>(&file_))
            save->cancelWriting();
        return false;
    }
    if (auto *save = qobject_cast<QSaveFile *>(&file_))
        return save->commit();
    return file_.flush();
}

QString FileWriter::errorString() const
{
    return injected_ ? QStringLiteral("No space left on device") : file_.errorString();
}

void FileWriter::failWrite(int n)
{
    writesBeforeFailure = n;
    failureHappened = false;
}

void FileWriter::failCommit()
{
    commitFails = true;
    failureHappened = false;
}

void FileWriter::clearFailures()
{
    writesBeforeFailure = 0;
    commitFails = false;
}

bool FileWriter::failed()
{
    return failureHappened;
}

} // namespace zeplo
