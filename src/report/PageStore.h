#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QVector>

#include <atomic>
#include <memory>

#include "report/ReportFileFormat.h"

class QTemporaryFile;

namespace zeplo {

// The rendered pages of one report, in order. The pages are kept as one stream
// laid out exactly as a saved report file (ReportFileFormat.h). The stream
// stays in memory while it is small and moves to a temporary file once it
// grows beyond MemoryLimit bytes (for good in memory when no temporary file
// can be made).
//
// Its states, and what moves between them:
//
//   status    holds                                   entered by                left by
//   Ready     nothing: no header, no page             construction              begin(), appendPage() -> Busy;
//                                                                               finish() -> Finished
//   Busy      a rendering's pages so far: once the    begin(); appendPage()     appendPage() -> Busy; finish()
//             first is stored, the header and a                                 -> Finished
//             record per page
//   Finished  the header with the final page count,   finish();                 none: no page is added
//             and every page; it may be saved         loadFromFile()            (appendPage() throws)
//
// Invariants, asserted by checkState() when each transition ends, however it
// ends (in the Debug builds):
// - The stream is the header and then the pages' records back to back: the
//   first record starts where the header ends, each other where the one
//   before it ends, and the stream ends with the last one. Without a page it
//   is empty or the header alone (a finished store always has the header).
// - In memory, the stream is every byte kept; in the temporary file, nothing
//   is kept in memory, and there is no such file once one could not be made.
// - Ready: nothing stored. Only a finished store comes from a file (loaded()).
class PageStore {
public:
    enum class Status { Ready, Busy, Finished };

    static constexpr qint64 MemoryLimit = 100000;

    PageStore();
    ~PageStore();
    PageStore(const PageStore &) = delete;
    PageStore &operator=(const PageStore &) = delete;

    Status status() const;
    // Marks the store busy: a rendering has begun.
    void begin();
    // Stores the next page; the first page also writes the header.
    void appendPage(const QByteArray &emf);
    // Ends the store; writes the header again with the final page count.
    void finish();

    int pageCount() const;
    // Page n, from 1. Throws Error for a page that is not stored.
    QByteArray page(int n) const;

    bool loaded() const { return loaded_; }
    QString title() const;
    void setTitle(const QString &title);
    bool cancelled() const { return cancelled_.load(); }
    void setCancelled(bool cancelled) { cancelled_.store(cancelled); }

    // Where the stream lives, for those who care about memory.
    bool inMemory() const;
    QString temporaryFileName() const;
    qint64 streamSize() const;

    // Writes the stream to `path` byte for byte; its header keeps the date the
    // rendering finished. Only a finished store is written; returns whether it was.
    bool saveToFile(const QString &path);

    // Reads a saved report file, checking every record against the file and
    // every record of each page picture as the player reads it.
    // Throws Error "File does not exist" for a missing file and a
    // Error naming the fault for a damaged or foreign one.
    static std::unique_ptr<PageStore> loadFromFile(const QString &path);

private:
    struct Record {
        qint64 start; // of the record
        qint64 size; // of its picture
    };

    void writeAt(qint64 pos, const QByteArray &bytes);
    void appendRaw(const QByteArray &bytes);
    QByteArray readAt(qint64 pos, qint64 length) const;
    void writeHeader();
    void moveToTemporaryFile();
    void checkState() const;   // Q_ASSERT only: compiled out of release builds

    mutable QMutex mutex_;
    Status status_ = Status::Ready;
    QByteArray memory_;
    std::unique_ptr<QTemporaryFile> file_;
    bool noTemporaryFile_ = false;
    qint64 size_ = 0;
    int headerSize_ = report_file::HeaderSize;
    QVector<Record> index_;
    bool loaded_ = false;
    QString title_;
    std::atomic<bool> cancelled_{false};
};

// Days since 30 December 1899, with the time of day as the fraction.
double dayCount(const QDateTime &when);

} // namespace zeplo
