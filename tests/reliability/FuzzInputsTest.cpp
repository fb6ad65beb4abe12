// The seed reports load and show; every input kept from fuzzing gives a clean
// error or a sound page, never a crash (the sanitizer build catches any read
// outside the buffer).
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include "widgets/ErrorGuard.h"
#include "report/EmfPlayer.h"
#include "report/EmfRecords.h"
#include "report/PageStore.h"

using namespace zeplo;

namespace {

QDir fuzzFolder(const QString &sub)
{
    return QDir(QFileInfo(QString::fromUtf8(__FILE__)).absoluteDir().filePath(QStringLiteral("../../fuzz/") + sub));
}

QFileInfoList inputs(const QString &sub)
{
    return fuzzFolder(sub).entryInfoList(QDir::Files, QDir::Name);
}

QByteArray contents(const QFileInfo &info)
{
    QFile f(info.filePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Plays a picture onto a page as small as the fuzzers' (the faults found
// depend on the scale); returns the error's message, empty when it played
// through.
QString play(const QByteArray &emf)
{
    QImage page(120, 170, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    try {
        // A copy of exactly the picture's size, so that any overrun is one.
        const QByteArray exact(emf.constData(), emf.size());
        playEmf(exact, painter, QRectF(4, 4, 112, 162));
    } catch (const Error &e) {
        return e.message().isEmpty() ? QStringLiteral("(empty message)") : e.message();
    }
    return QString();
}

} // namespace

TEST(FuzzInputs, SeedReportsLoadAndEveryPagePlays)
{
    const QFileInfoList seeds = inputs(QStringLiteral("corpus/report_file"));
    ASSERT_GE(seeds.size(), 3);
    for (const QFileInfo &seed : seeds) {
        std::unique_ptr<PageStore> store;
        ASSERT_NO_THROW(store = PageStore::loadFromFile(seed.filePath())) << seed.fileName().toStdString();
        ASSERT_GE(store->pageCount(), 1);
        for (int n = 1; n <= store->pageCount(); ++n)
            EXPECT_EQ(play(store->page(n)), QString()) << seed.fileName().toStdString() << " page " << n;
    }
    for (const QFileInfo &seed : inputs(QStringLiteral("corpus/emf_player")))
        EXPECT_EQ(play(contents(seed)), QString()) << seed.fileName().toStdString();
}

TEST(FuzzInputs, KeptReportFilesAreRefusedWithAClearMessage)
{
    const QFileInfoList kept = inputs(QStringLiteral("regressions/report_file"));
    ASSERT_FALSE(kept.isEmpty());
    for (const QFileInfo &input : kept) {
        try {
            const auto store = PageStore::loadFromFile(input.filePath());
            // Loaded: then every page must show or fail cleanly.
            for (int n = 1; n <= store->pageCount(); ++n)
                play(store->page(n));
            EXPECT_TRUE(input.fileName().startsWith(QLatin1String("loads-"))) << input.fileName().toStdString();
        } catch (const Error &e) {
            EXPECT_FALSE(input.fileName().startsWith(QLatin1String("loads-"))) << e.message().toStdString();
            EXPECT_TRUE(e.message().startsWith(QLatin1String("The file is not a readable report ("))
                        || e.message() == QLatin1String("The report file holds compressed pages, which this "
                                                        "program cannot read"))
                << input.fileName().toStdString() << ": " << e.message().toStdString();
        }
    }
}

TEST(FuzzInputs, KeptPicturesPlayOrFailCleanly)
{
    const QFileInfoList kept = inputs(QStringLiteral("regressions/emf_player"));
    ASSERT_FALSE(kept.isEmpty());
    for (const QFileInfo &input : kept) {
        const QByteArray emf = contents(input);
        const QString error = play(emf);
        if (input.fileName().startsWith(QLatin1String("plays-")))
            EXPECT_EQ(error, QString()) << input.fileName().toStdString();
        else
            EXPECT_FALSE(error.isEmpty()) << input.fileName().toStdString();
        try {
            listEmfRecords(QByteArray(emf.constData(), emf.size()));
        } catch (const Error &) {
        }
    }
}

TEST(FuzzInputs, TextStretchedFarOutOfShapeIsDrawnFromItsOutlines)
{
    // A page whose header gives a width in micrometres 640 times too large:
    // the text comes out 640 times wider than high. It used to bring the
    // program down inside the glyph cache; now every text is played and the
    // damaged object after them is reported.
    const QByteArray emf =
        contents(QFileInfo(fuzzFolder(QStringLiteral("regressions/emf_player"))
                               .filePath(QStringLiteral("stretched-text-then-bad-object.emf"))));
    ASSERT_FALSE(emf.isEmpty());
    EXPECT_EQ(play(emf), QStringLiteral("The page picture is damaged: object index 0 is out of range"));
}
