#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include "EmfTestSupport.h"
#include "engine/Error.h"
#include "report/EmfWriter.h"
#include "report/FileWriter.h"
#include "report/PageStore.h"

using namespace zeplo;

namespace {

// A real page picture whose content depends on `n`, about `rows` lines long.
QByteArray pagePicture(int n, int rows = 5)
{
    EmfCanvas canvas(QSize(794, 1123), 96);
    canvas.setFont(ReportFont{QStringLiteral("Arial"), 10, false, Qt::black});
    for (int r = 0; r < rows; ++r)
        canvas.drawText(QPoint(40, 40 + r * 16), QStringLiteral("Strana %1, řádek %2").arg(n).arg(r));
    return canvas.finish();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// The saved form of `pages` with a header of `headerSize` bytes, built by hand.
QByteArray reportFile(const QVector<QByteArray> &pages, int headerSize = 128)
{
    QByteArray out(headerSize, '\0');
    qToLittleEndian<quint16>(3, out.data());
    qToLittleEndian<quint16>(309, out.data() + 2);
    qToLittleEndian<quint32>(quint32(pages.size()), out.data() + 8);
    for (int i = 0; i < pages.size(); ++i) {
        const quint32 start = quint32(out.size());
        QByteArray head(8, '\0');
        qToLittleEndian<quint32>(quint32(i + 1), head.data());
        qToLittleEndian<quint32>(quint32(start + 12 + pages[i].size()), head.data() + 4);
        QByteArray tail(4, '\0');
        qToLittleEndian<quint32>(start, tail.data());
        out += head + pages[i] + tail;
    }
    return out;
}

std::unique_ptr<PageStore> finishedStore(int pages, int rows = 5)
{
    auto store = std::make_unique<PageStore>();
    for (int n = 1; n <= pages; ++n)
        store->appendPage(pagePicture(n, rows));
    store->finish();
    return store;
}

QString loadError(const QString &path)
{
    try {
        PageStore::loadFromFile(path);
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

class ReportFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
};

} // namespace

TEST(PageStore, StoresPagesInOrderAndReadsThemBack)
{
    PageStore store;
    EXPECT_EQ(store.status(), PageStore::Status::Ready);
    EXPECT_EQ(store.pageCount(), 0);
    EXPECT_EQ(store.streamSize(), 0);
    store.begin();
    EXPECT_EQ(store.status(), PageStore::Status::Busy);

    QVector<QByteArray> pages;
    for (int n = 1; n <= 4; ++n) {
        pages.append(pagePicture(n));
        store.appendPage(pages.last());
        EXPECT_EQ(store.pageCount(), n);
    }
    // Header and four records, nothing more.
    qint64 expected = 128;
    for (const QByteArray &p : pages)
        expected += p.size() + 12;
    EXPECT_EQ(store.streamSize(), expected);
    for (int n = 4; n >= 1; --n)
        EXPECT_EQ(store.page(n), pages[n - 1]) << n;
    EXPECT_THROW(store.page(0), Error);
    EXPECT_THROW(store.page(5), Error);
    EXPECT_TRUE(store.inMemory());
    EXPECT_FALSE(store.loaded());

    store.finish();
    EXPECT_EQ(store.status(), PageStore::Status::Finished);
    EXPECT_THROW(store.appendPage(pages[0]), Error);
    EXPECT_EQ(store.page(2), pages[1]);

    store.setTitle(QStringLiteral("Seznam"));
    EXPECT_EQ(store.title(), QStringLiteral("Seznam"));
    EXPECT_FALSE(store.cancelled());
    store.setCancelled(true);
    EXPECT_TRUE(store.cancelled());
}

TEST(PageStore, MovesToATemporaryFileWhenLargeAndRemovesIt)
{
    QString fileName;
    QVector<QByteArray> pages;
    {
        PageStore store;
        while (store.streamSize() <= PageStore::MemoryLimit) {
            EXPECT_TRUE(store.inMemory());
            pages.append(pagePicture(int(pages.size()) + 1, 40));
            store.appendPage(pages.last());
        }
        EXPECT_FALSE(store.inMemory());
        fileName = store.temporaryFileName();
        const QFileInfo info(fileName);
        EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
        EXPECT_TRUE(info.fileName().startsWith(QStringLiteral("QRP"))) << fileName.toStdString();
        EXPECT_TRUE(info.exists());
        EXPECT_EQ(info.size(), store.streamSize());

        // Pages before and after the move read back the same, from the file.
        pages.append(pagePicture(99, 40));
        store.appendPage(pages.last());
        for (int n = 1; n <= pages.size(); ++n)
            EXPECT_EQ(store.page(n), pages[n - 1]) << n;
        store.finish();
        EXPECT_EQ(store.page(1), pages[0]);
    }
    EXPECT_FALSE(QFileInfo::exists(fileName));
}

TEST(PageStore, StaysInMemoryWhenNoTemporaryFileCanBeMade)
{
    const QByteArray saved = qgetenv("TMPDIR");
    QTemporaryDir parent;
    const QString notADir = parent.filePath(QStringLiteral("plain-file"));
    writeAll(notADir, QByteArray("x"));
    // A temporary directory that is missing, and one that is a plain file.
    for (const QString &tmp : {parent.filePath(QStringLiteral("no/such/dir")), notADir}) {
        qputenv("TMPDIR", tmp.toLocal8Bit());
        ASSERT_FALSE(QFileInfo(QDir::tempPath()).isDir()) << QDir::tempPath().toStdString();
        PageStore store;
        QVector<QByteArray> pages;
        while (store.streamSize() <= 2 * PageStore::MemoryLimit) {
            pages.append(pagePicture(int(pages.size()) + 1, 40));
            store.appendPage(pages.last());
        }
        store.finish();
        EXPECT_TRUE(store.inMemory());
        EXPECT_TRUE(store.temporaryFileName().isEmpty());
        for (int n = 1; n <= pages.size(); ++n)
            EXPECT_EQ(store.page(n), pages[n - 1]) << n;
    }
    if (saved.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
    EXPECT_TRUE(QFileInfo(QDir::tempPath()).isDir());
}

// A failing temporary file: a failure while the pages move to it keeps them
// in memory; one while a page is added to it, or at the end, is the caller's
// error, the pages before it stay readable, and the file goes with the store.
TEST(PageStore, AFailingTemporaryFileKeepsThePagesBeforeAndLeavesNoFile)
{
    QVector<QByteArray> pages;
    while (qint64(pages.size()) * pagePicture(1, 40).size() <= 2 * PageStore::MemoryLimit)
        pages.append(pagePicture(int(pages.size()) + 1, 40));
    // A temporary folder of the test's own: what other programs leave in the
    // machine's meanwhile is not this store's.
    QTemporaryDir own;
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(own.path()));
    struct Restore {
        QByteArray saved;
        ~Restore() { saved.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", saved); }
    } restore{saved};
    const QStringList before = QDir(QDir::tempPath()).entryList(QDir::Files);
    // The n-th write fails; at n = 0 the flush of the move, at n = -1 the flush at the end.
    for (int n = -1;; ++n) {
        SCOPED_TRACE(testing::Message() << "write " << n);
        if (n == 0)
            FileWriter::failCommit();
        else if (n > 0)
            FileWriter::failWrite(n);
        int added = 0;
        QString error;
        bool spilled = false;
        {
            PageStore store;
            try {
                for (const QByteArray &page : pages) {
                    store.appendPage(page);
                    ++added;
                }
                if (n == -1)
                    FileWriter::failCommit();
                store.finish();
            } catch (const Error &e) {
                error = e.message();
            }
            spilled = !store.inMemory();
            EXPECT_EQ(store.pageCount(), added);
            for (int p = 1; p <= added; ++p)
                EXPECT_EQ(store.page(p), pages[p - 1]) << p;
        }
        const bool failed = FileWriter::failed();
        FileWriter::clearFailures();
        EXPECT_EQ(QDir(QDir::tempPath()).entryList(QDir::Files), before);
        if (!failed && n > 0) {
            EXPECT_TRUE(spilled);
            EXPECT_EQ(error, QString());
            break;
        }
        if (!spilled) {
            // The move itself failed: the pages stayed in memory, all of them.
            EXPECT_EQ(error, QString());
            EXPECT_EQ(added, pages.size());
        } else {
            EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot write the report's pages to "))) << error.toStdString();
            EXPECT_TRUE(error.endsWith(QStringLiteral(": No space left on device"))) << error.toStdString();
        }
        ASSERT_LT(n, 100);
    }
}

TEST_F(ReportFile, SavedByteForByteAndLoadedAgain)
{
    const double before = dayCount(QDateTime::currentDateTime());
    auto store = finishedStore(3);
    const double after = dayCount(QDateTime::currentDateTime());
    QVector<QByteArray> pages;
    for (int n = 1; n <= 3; ++n)
        pages.append(store->page(n));

    // Saved later, the file still carries the time the rendering finished.
    const qint64 finishedAt = QDateTime::currentMSecsSinceEpoch();
    while (QDateTime::currentMSecsSinceEpoch() == finishedAt) {
    }
    ASSERT_TRUE(store->saveToFile(path(QStringLiteral("list.QRP"))));
    const QByteArray bytes = readAll(path(QStringLiteral("list.QRP")));

    // Everything but the date is what the format prescribes.
    QByteArray expected = reportFile(pages);
    ASSERT_EQ(bytes.size(), expected.size());
    const double date = qFromLittleEndian<double>(bytes.constData() + 16);
    EXPECT_GE(date, before - 1e-6);
    EXPECT_LE(date, after + 1e-6);
    EXPECT_GT(date, 40000.0); // well after 1999
    std::memcpy(expected.data() + 16, bytes.constData() + 16, 8);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(quint8(bytes.at(25)), 0);
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes.constData() + bytes.size() - 4),
              quint32(bytes.size() - 12 - pages[2].size()));

    auto loaded = PageStore::loadFromFile(path(QStringLiteral("list.QRP")));
    EXPECT_TRUE(loaded->loaded());
    EXPECT_EQ(loaded->status(), PageStore::Status::Finished);
    ASSERT_EQ(loaded->pageCount(), 3);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(loaded->page(n), pages[n - 1]);

    // Saving what was loaded gives the very same file, date and all, and
    // leaves the pages in memory as they were.
    ASSERT_TRUE(loaded->saveToFile(path(QStringLiteral("again.QRP"))));
    EXPECT_EQ(readAll(path(QStringLiteral("again.QRP"))), bytes);
    ASSERT_TRUE(store->saveToFile(path(QStringLiteral("twice.QRP"))));
    EXPECT_EQ(readAll(path(QStringLiteral("twice.QRP"))), bytes);
}

// A disk that fails at any write of a save, or at its end, leaves the file
// that was there whole and no new file; the failure is the caller's error.
TEST_F(ReportFile, ASaveFailingAtAnyWriteOrAtItsEndLeavesTheOldFileAndNoNewOne)
{
    auto store = finishedStore(24, 40);   // several chunks long, read from the temporary file
    ASSERT_FALSE(store->inMemory());
    const QByteArray old = reportFile({pagePicture(7)});
    ASSERT_TRUE(store->saveToFile(path(QStringLiteral("whole.QRP"))));
    const QByteArray whole = readAll(path(QStringLiteral("whole.QRP")));
    QFile::remove(path(QStringLiteral("whole.QRP")));

    for (const QString &target : {QStringLiteral("old.QRP"), QStringLiteral("new.QRP")}) {
        writeAll(path(QStringLiteral("old.QRP")), old);
        int failures = 0;
        for (int n = 0;; ++n) {   // the n-th write fails; at n = 0, the commit at the end
            SCOPED_TRACE(testing::Message() << target.toStdString() << ", write " << n);
            if (n == 0)
                FileWriter::failCommit();
            else
                FileWriter::failWrite(n);
            QString error;
            try {
                EXPECT_TRUE(store->saveToFile(path(target)));
            } catch (const Error &e) {
                error = e.message();
            }
            const bool failed = FileWriter::failed();
            FileWriter::clearFailures();
            if (!failed) {
                EXPECT_EQ(error, QString());
                EXPECT_EQ(readAll(path(target)), whole);
                break;
            }
            ++failures;
            EXPECT_EQ(error, QStringLiteral("Cannot write the file %1: No space left on device")
                                 .arg(QDir::toNativeSeparators(path(target))));
            EXPECT_EQ(readAll(path(QStringLiteral("old.QRP"))), old);
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.QRP")});
            ASSERT_LT(n, 100);
        }
        EXPECT_GT(failures, 3);   // the commit and every chunk
        QFile::remove(path(QStringLiteral("new.QRP")));
    }
}

TEST_F(ReportFile, LargeReportRoundTripsThroughTemporaryFiles)
{
    auto store = finishedStore(24, 40);
    ASSERT_FALSE(store->inMemory());
    ASSERT_TRUE(store->saveToFile(path(QStringLiteral("big.QRP"))));
    auto loaded = PageStore::loadFromFile(path(QStringLiteral("big.QRP")));
    EXPECT_FALSE(loaded->inMemory());
    ASSERT_EQ(loaded->pageCount(), 24);
    for (int n = 1; n <= 24; ++n)
        EXPECT_EQ(loaded->page(n), store->page(n)) << n;
}

TEST_F(ReportFile, UnfinishedStoreIsNotSaved)
{
    PageStore store;
    store.appendPage(pagePicture(1));
    EXPECT_FALSE(store.saveToFile(path(QStringLiteral("x.QRP"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("x.QRP"))));

    PageStore empty;
    empty.finish();
    ASSERT_TRUE(empty.saveToFile(path(QStringLiteral("empty.QRP"))));
    EXPECT_EQ(readAll(path(QStringLiteral("empty.QRP"))).size(), 128);
    EXPECT_EQ(PageStore::loadFromFile(path(QStringLiteral("empty.QRP")))->pageCount(), 0);
}

TEST_F(ReportFile, OlderShorterHeaderLoads)
{
    const QVector<QByteArray> pages{pagePicture(1), pagePicture(2)};
    const QByteArray old = reportFile(pages, 124);
    ASSERT_EQ(old.mid(173, 3), QByteArray("EMF"));
    writeAll(path(QStringLiteral("old.QRP")), old);
    auto store = PageStore::loadFromFile(path(QStringLiteral("old.QRP")));
    ASSERT_EQ(store->pageCount(), 2);
    EXPECT_EQ(store->page(1), pages[0]);
    EXPECT_EQ(store->page(2), pages[1]);
    // Saved again, it keeps its own layout.
    ASSERT_TRUE(store->saveToFile(path(QStringLiteral("old2.QRP"))));
    QByteArray again = readAll(path(QStringLiteral("old2.QRP")));
    ASSERT_EQ(again.size(), old.size());
    std::memcpy(again.data() + 16, old.constData() + 16, 8);
    EXPECT_EQ(again, old);
}

TEST_F(ReportFile, MissingFileSaysSo)
{
    EXPECT_EQ(loadError(path(QStringLiteral("none.QRP"))), QStringLiteral("File does not exist"));
    EXPECT_EQ(loadError(dir.path()), QStringLiteral("File does not exist"));
}

TEST_F(ReportFile, DamagedFilesAreRejected)
{
    const QVector<QByteArray> pages{pagePicture(1), pagePicture(2), pagePicture(3)};
    const QByteArray good = reportFile(pages);
    const qsizetype second = 128 + 12 + pages[0].size();
    const QString file = path(QStringLiteral("bad.QRP"));
    const auto rejected = [&](const QByteArray &bytes) {
        writeAll(file, bytes);
        const QString message = loadError(file);
        return !message.isEmpty() && message != QStringLiteral("File does not exist");
    };
    ASSERT_FALSE(rejected(good));

    // Truncated anywhere.
    for (qsizetype cut : {qsizetype(0), qsizetype(50), qsizetype(127), qsizetype(128), qsizetype(140),
                          qsizetype(300), second, second + 4, good.size() - 1})
        EXPECT_TRUE(rejected(good.left(cut))) << cut;

    QByteArray bad = good;
    setLe32(bad, 8, 4); // more pages than there are
    EXPECT_TRUE(rejected(bad));
    bad = good;
    setLe32(bad, 8, 0xFFFFFFFF);
    EXPECT_TRUE(rejected(bad));
    bad = good;
    setLe32(bad, 8, 2); // fewer: stray records after the last page
    EXPECT_TRUE(rejected(bad));
    bad = good;
    setLe32(bad, 128 + 4, quint32(second + 8)); // next record offset wrong
    EXPECT_TRUE(rejected(bad));
    bad = good;
    setLe32(bad, 128 + 4, 0xFFFFFFF0); // next record offset beyond the file
    EXPECT_TRUE(rejected(bad));
    bad = good;
    setLe32(bad, second - 4, 0); // trailing offset wrong
    EXPECT_TRUE(rejected(bad));
    bad = good;
    setLe32(bad, second, 7); // page numbered wrongly
    EXPECT_TRUE(rejected(bad));
    bad = good;
    setLe32(bad, second + 8 + 40, 0); // a page that is no picture
    EXPECT_TRUE(rejected(bad));
    EXPECT_TRUE(rejected(good + QByteArray(4, '\0'))); // stray bytes at the end

    // A picture damaged inside, its header intact, is refused as it loads,
    // naming its page, rather than shown blank or half drawn.
    const qsizetype picture = second + 8;
    const auto le32 = [](const QByteArray &b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); };
    const qsizetype firstRecord = picture + qsizetype(le32(good, picture + 4));
    bad = good;
    setLe32(bad, firstRecord + 4, 0x7FFFFFF0);
    writeAll(file, bad);
    EXPECT_EQ(loadError(file), QStringLiteral("The file is not a readable report (page 2: The page picture is damaged: "
                                              "a record at offset %1 runs past the end)")
                                   .arg(firstRecord - picture));
    bad = good;
    for (qsizetype at = firstRecord; at < picture + pages[1].size(); at += qsizetype(le32(bad, at + 4))) {
        if (le32(bad, at) == 82) { // the font's object index, past the picture's table of objects
            setLe32(bad, at + 8, 60000);
            break;
        }
    }
    writeAll(file, bad);
    EXPECT_EQ(loadError(file), QStringLiteral("The file is not a readable report (page 2: The page picture is damaged: "
                                              "object index 60000 is out of range)"));

    // Compressed pages get their own message.
    bad = good;
    bad[25] = 1;
    writeAll(file, bad);
    EXPECT_TRUE(loadError(file).contains(QStringLiteral("compressed"))) << loadError(file).toStdString();

    // A foreign file.
    EXPECT_TRUE(rejected(QByteArray("%PDF-1.4\n").repeated(40)));

    // Random bytes, and random damage to a good file: an error, never a crash.
    QRandomGenerator rng(777);
    for (int round = 0; round < 50; ++round) {
        QByteArray noise(int(rng.bounded(2000)), '\0');
        for (char &c : noise)
            c = char(rng.bounded(256));
        EXPECT_TRUE(rejected(noise));
    }
    for (int round = 0; round < 200; ++round) {
        QByteArray damaged = good;
        const quint32 at = rng.bounded(quint32(damaged.size()));
        damaged[at] = char(damaged.at(at) ^ char(1 + rng.bounded(255)));
        writeAll(file, damaged);
        try {
            auto store = PageStore::loadFromFile(file);
            // Damage that the loader cannot see lies inside a text or a colour.
            EXPECT_EQ(store->pageCount(), 3);
        } catch (const Error &) {
        }
    }
}
