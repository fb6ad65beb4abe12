#include "report/PageStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QtEndian>

#include <cstring>

#include "engine/Error.h"
#include "report/EmfPlayer.h"
#include "report/FileWriter.h"

namespace zeplo {

namespace {

using namespace report_file;

constexpr qint64 CopyChunk = 1 << 16;

QByteArray u32Bytes(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

[[noreturn]] void damagedFile(const QString &why)
{
    throw Error(QStringLiteral("The file is not a readable report (%1)").arg(why));
}

} // namespace

double dayCount(const QDateTime &when)
{
    const qint64 days = QDate(1899, 12, 30).daysTo(when.date());
    return double(days) + when.time().msecsSinceStartOfDay() / 86400000.0;
}

PageStore::PageStore() = default;

PageStore::~PageStore() = default; // the temporary file removes itself

PageStore::Status PageStore::status() const
{
    QMutexLocker lock(&mutex_);
    return status_;
}

void PageStore::begin()
{
    QMutexLocker lock(&mutex_);
    if (status_ == Status::Ready)
        status_ = Status::Busy;
    checkState();
}

int PageStore::pageCount() const
{
    QMutexLocker lock(&mutex_);
    return int(index_.size());
}

QString PageStore::title() const
{
    QMutexLocker lock(&mutex_);
    return title_;
}

void PageStore::setTitle(const QString &title)
{
    QMutexLocker lock(&mutex_);
    title_ = title;
}

bool PageStore::inMemory() const
{
    QMutexLocker lock(&mutex_);
    return !file_;
}

QString PageStore::temporaryFileName() const
{
    QMutexLocker lock(&mutex_);
    return file_ ? file_->fileName() : QString();
}

qint64 PageStore::streamSize() const
{
    QMutexLocker lock(&mutex_);
    return size_;
}

void PageStore::writeAt(qint64 pos, const QByteArray &bytes)
{
    if (!file_) {
        if (pos + bytes.size() > memory_.size())
            memory_.resize(pos + bytes.size());
        std::memcpy(memory_.data() + pos, bytes.constData(), size_t(bytes.size()));
    } else if (FileWriter out(*file_); !file_->seek(pos) || !out.write(bytes)) {
        throw Error(QStringLiteral("Cannot write the report's pages to %1: %2")
                        .arg(QDir::toNativeSeparators(file_->fileName()), out.errorString()));
    }
    size_ = qMax(size_, pos + bytes.size());
}

void PageStore::appendRaw(const QByteArray &bytes)
{
    writeAt(size_, bytes);
    if (!file_ && !noTemporaryFile_ && size_ > MemoryLimit)
        moveToTemporaryFile();
}

QByteArray PageStore::readAt(qint64 pos, qint64 length) const
{
    if (pos < 0 || length < 0 || pos + length > size_)
        throw Error(QStringLiteral("The report's pages are damaged"));
    if (!file_)
        return memory_.mid(pos, length);
    QByteArray out;
    if (file_->seek(pos))
        out = file_->read(length);
    if (out.size() != length)
        throw Error(QStringLiteral("Cannot read the report's pages from %1: %2")
                        .arg(QDir::toNativeSeparators(file_->fileName()), file_->errorString()));
    return out;
}

void PageStore::moveToTemporaryFile()
{
    // Without a usable temporary directory the pages simply stay in memory.
    const QString dir = QDir::tempPath();
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        noTemporaryFile_ = true;
        return;
    }
    auto file = std::make_unique<QTemporaryFile>(dir + QStringLiteral("/QRPXXXXXX"));
    if (FileWriter out(*file); !file->open() || !out.write(memory_) || !out.commit()) {
        noTemporaryFile_ = true;
        return;
    }
    file_ = std::move(file);
    memory_ = QByteArray();
}

void PageStore::writeHeader()
{
    QByteArray header(headerSize_, '\0');
    qToLittleEndian<quint16>(FormatVersion, header.data() + HeaderFormatVersion);
    qToLittleEndian<quint16>(WriterVersion, header.data() + HeaderWriterVersion);
    qToLittleEndian<quint32>(quint32(index_.size()), header.data() + HeaderPageCount);
    qToLittleEndian<double>(dayCount(QDateTime::currentDateTime()), header.data() + HeaderFinished);
    header[HeaderPageFormat] = char(PagesAsTheyAre);
    writeAt(0, header);
}

void PageStore::appendPage(const QByteArray &emf)
{
    QMutexLocker lock(&mutex_);
    const auto checked = qScopeGuard([this] { checkState(); });
    if (status_ == Status::Finished)
        throw Error(QStringLiteral("No page can be added to a finished report"));
    if (size_ == 0)
        writeHeader();
    status_ = Status::Busy;
    const qint64 start = size_;
    const qint64 next = start + RecordOverhead + emf.size();
    if (next > MaxStreamSize)
        throw Error(QStringLiteral("The report has grown too large"));
    QByteArray record;
    record.reserve(emf.size() + RecordOverhead);
    record += u32Bytes(quint32(index_.size() + 1));
    record += u32Bytes(quint32(next));
    record += emf;
    record += u32Bytes(quint32(start));
    appendRaw(record);
    index_.append(Record{start, emf.size()});
}

QByteArray PageStore::page(int n) const
{
    QMutexLocker lock(&mutex_);
    if (n < 1 || n > index_.size())
        throw Error(QStringLiteral("Page %1 does not exist").arg(n));
    const Record &r = index_.at(n - 1);
    return readAt(r.start + RecordPicture, r.size);
}

void PageStore::finish()
{
    QMutexLocker lock(&mutex_);
    const auto checked = qScopeGuard([this] { checkState(); });
    if (status_ == Status::Finished)
        return;
    writeHeader();
    if (file_) {
        FileWriter out(*file_);
        if (!out.commit())
            throw Error(QStringLiteral("Cannot write the report's pages to %1: %2")
                            .arg(QDir::toNativeSeparators(file_->fileName()), out.errorString()));
    }
    status_ = Status::Finished;
}

bool PageStore::saveToFile(const QString &path)
{
    QMutexLocker lock(&mutex_);
    if (status_ != Status::Finished)
        return false;
    // Written aside and put in place whole: a failed save leaves the file
    // that was there as it was, and no new one.
    QSaveFile file(path);
    FileWriter out(file);
    const auto fail = [&](const QString &why) {
        throw Error(QStringLiteral("Cannot write the file %1: %2").arg(QDir::toNativeSeparators(path), why));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    for (qint64 pos = 0; pos < size_; pos += CopyChunk) {
        if (!out.write(readAt(pos, qMin(CopyChunk, size_ - pos))))
            fail(out.errorString());
    }
    if (!out.commit())
        fail(out.errorString());
    return true;
}

std::unique_ptr<PageStore> PageStore::loadFromFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        throw Error(QStringLiteral("File does not exist"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open the file %1: %2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
    const qint64 size = file.size();
    const auto read = [&](qint64 pos, qint64 length) {
        QByteArray out;
        if (pos >= 0 && length >= 0 && pos + length <= size && file.seek(pos))
            out = file.read(length);
        if (out.size() != length)
            damagedFile(QStringLiteral("it ends too early"));
        return out;
    };

    if (size < OldHeaderSize)
        damagedFile(QStringLiteral("it is too short"));
    if (size > MaxStreamSize)
        damagedFile(QStringLiteral("it is too large"));
    // An older header is four bytes shorter; it shows by the first picture's
    // signature sitting four bytes earlier.
    int headerSize = HeaderSize;
    if (size >= OldHeaderProbe + 4) {
        const QByteArray probe = read(OldHeaderProbe, 4);
        const qsizetype zero = probe.indexOf('\0');
        if ((zero < 0 ? probe : probe.left(zero)) == "EMF")
            headerSize = OldHeaderSize;
    }
    if (size < headerSize)
        damagedFile(QStringLiteral("it is too short"));
    const QByteArray header = read(0, headerSize);
    const quint8 pageFormat = quint8(header.at(HeaderPageFormat));
    if (pageFormat == CompressedPages)
        throw Error(QStringLiteral("The report file holds compressed pages, which this program cannot read"));
    if (pageFormat != PagesAsTheyAre)
        damagedFile(QStringLiteral("unknown page format"));
    const quint32 count = qFromLittleEndian<quint32>(header.constData() + HeaderPageCount);
    if (qint64(count) > (size - headerSize) / (RecordOverhead + MinPictureSize))
        damagedFile(QStringLiteral("the page count does not fit the file"));

    auto store = std::make_unique<PageStore>();
    store->headerSize_ = headerSize;
    store->appendRaw(header);
    store->index_.reserve(qsizetype(count));
    qint64 off = headerSize;
    for (quint32 n = 1; n <= count; ++n) {
        const QByteArray head = read(off, RecordPicture);
        const quint32 number = qFromLittleEndian<quint32>(head.constData() + RecordPageNumber);
        const qint64 next = qFromLittleEndian<quint32>(head.constData() + RecordNextOffset);
        if (number != n)
            damagedFile(QStringLiteral("page %1 is numbered %2").arg(n).arg(number));
        if (next < off + RecordOverhead + MinPictureSize || next > size)
            damagedFile(QStringLiteral("page %1 points outside the file").arg(n));
        const QByteArray picture = read(off + RecordPicture, next - off - RecordOverhead);
        const qint64 back = qFromLittleEndian<quint32>(read(next - 4, 4).constData());
        if (back != off)
            damagedFile(QStringLiteral("the record of page %1 ends with a wrong offset").arg(n));
        // Every record of every picture is read as the preview and the printer
        // will read it: a picture damaged inside is refused now, before any
        // page of it is shown half drawn.
        try {
            checkEmf(picture);
        } catch (const Error &e) {
            damagedFile(QStringLiteral("page %1: %2").arg(n).arg(e.message()));
        }
        store->appendRaw(head + picture + u32Bytes(quint32(back)));
        store->index_.append(Record{off, picture.size()});
        off = next;
    }
    if (off != size)
        damagedFile(QStringLiteral("there is data after the last page"));
    store->status_ = Status::Finished;
    store->loaded_ = true;
    store->checkState();
    return store;
}

void PageStore::checkState() const
{
#ifndef QT_NO_DEBUG
    if (index_.isEmpty()) {
        Q_ASSERT(size_ == 0 || size_ == headerSize_);
    } else {
        const Record &last = index_.last();
        const qint64 lastStarts = index_.size() == 1 ? qint64(headerSize_)
                                                     : index_.at(index_.size() - 2).start + RecordOverhead
                                                           + index_.at(index_.size() - 2).size;
        Q_ASSERT(last.start == lastStarts);
        Q_ASSERT(size_ == last.start + RecordOverhead + last.size);
    }
    Q_ASSERT(file_ ? memory_.isEmpty() : memory_.size() == size_);
    Q_ASSERT(!file_ || !noTemporaryFile_);
    switch (status_) {
    case Status::Ready:
        Q_ASSERT(size_ == 0 && index_.isEmpty() && !loaded_);
        break;
    case Status::Busy:
        Q_ASSERT(!loaded_);
        break;
    case Status::Finished:
        Q_ASSERT(size_ >= headerSize_);
        break;
    }
#endif
}

} // namespace zeplo
