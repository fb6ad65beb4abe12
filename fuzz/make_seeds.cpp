// Writes the seed corpus: real saved reports of small catalogues, rendered by
// the book list report exactly as the preview renders them, and the page
// pictures inside them on their own.
//   zeplo_make_seeds <corpus folder>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>

#include "app/BookListReport.h"
#include "engine/CatalogueSchema.h"
#include "engine/ResultSet.h"
#include "engine/SqliteConnection.h"
#include "report/PageStore.h"
#include "report/ReportOutput.h"

namespace {

void makeCatalogue(const QString &file, int books)
{
    QFile::remove(file);
    try {
        zeplo::SqliteConnection db(file, zeplo::SqliteConnection::Mode::Create);
        db.exec(zeplo::schema::createTable(zeplo::schema::Flavour::OlderFile).toUtf8().constData());
        for (int i = 1; i <= books; ++i)
            db.exec(QStringLiteral("INSERT INTO zeplo (autor, nazev, zanr, rok_vydani, vlastnim, precteno, pujceno) "
                                   "VALUES ('Čapek %1', 'Válka s mloky – díl %1', 'román', %2, %3, %4, %5)")
                        .arg(i)
                        .arg(1900 + i)
                        .arg(i % 2)
                        .arg(i % 3 == 0)
                        .arg(i % 4 == 0 ? QStringLiteral("'Jiří Žák'") : QStringLiteral("NULL"))
                        .toUtf8()
                        .constData());
    } catch (const zeplo::Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::exit(1);
    }
}

// The same one-page report with the older, four bytes shorter header: the
// record moves four bytes closer to the start, and so do its offsets.
void writeOlderHeader(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        std::exit(1);
    const QByteArray file = in.readAll();
    QByteArray older = file.left(zeplo::report_file::OldHeaderSize) + file.mid(zeplo::report_file::HeaderSize);
    const auto shift = [&](qsizetype at) {
        qToLittleEndian<quint32>(qFromLittleEndian<quint32>(older.constData() + at) - 4, older.data() + at);
    };
    shift(zeplo::report_file::OldHeaderSize + zeplo::report_file::RecordNextOffset);
    shift(older.size() - 4);
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly) || out.write(older) != older.size())
        std::exit(1);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zeplo_make_seeds <corpus folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("report_file"));
    out.mkpath(QStringLiteral("emf_player"));
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    // An empty list, one page, and two pages.
    for (const int books : {0, 3, 70}) {
        makeCatalogue(work.filePath(QStringLiteral("zeplo.db")), books);
        zeplo::ResultSet query(QStringLiteral("Query1"));
        query.setRequestLive(true);
        query.setSql({QStringLiteral("select * from zeplo"), QString(), QStringLiteral("order by nazev")});
        query.open();
        zeplo::BookListReport tisk(&query);
        zeplo::PageStore store;
        zeplo::PagePictureOutput output(store, 96);
        if (!tisk.render(output))
            return 1;
        const QString name = QStringLiteral("books-%1").arg(books);
        if (!store.saveToFile(out.filePath(QStringLiteral("report_file/%1.QRP").arg(name))))
            return 1;
        for (int n = 1; n <= store.pageCount(); ++n) {
            QFile page(out.filePath(QStringLiteral("emf_player/%1-page%2.emf").arg(name).arg(n)));
            if (!page.open(QIODevice::WriteOnly) || page.write(store.page(n)) < 0)
                return 1;
        }
        std::printf("%s: %d page(s)\n", qPrintable(name), store.pageCount());
        if (books == 3)
            writeOlderHeader(out.filePath(QStringLiteral("report_file/%1.QRP").arg(name)),
                             out.filePath(QStringLiteral("report_file/%1-older-header.QRP").arg(name)));
    }
    return 0;
}
