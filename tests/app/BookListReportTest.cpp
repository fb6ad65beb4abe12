// The book list's report: its layout, the pages the renderer lays out over the
// list, and its printout.
#include <gtest/gtest.h>

#include <QDate>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <functional>
#include <memory>

#include "PreviewDriver.h"
#include "TempCatalogue.h"
#include "app/BookListLayout.h"
#include "app/BookListReport.h"
#include "widgets/ErrorGuard.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"
#include "report/EmfPlayer.h"
#include "report/EmfRecords.h"
#include "report/EmfWriter.h"
#include "report/PageStore.h"
#include "report/ReportOutput.h"
#include "widgets/PrinterOutput.h"

using namespace zeplo;

namespace {

const QString kBase =
    TempCatalogue::kBaseQuery;
constexpr int kDpi = 96;
// One pixel at the pictures' resolution, in native units.
constexpr double kPixel = 254.0 / kDpi;

// A text drawn on a page picture, with where and how.
struct TextRun {
    QString text;
    double x = 0; // native units from the paper's corner
    double y = 0;
    quint32 color = 0;
    int fontHeight = 0; // pixels, as the font record gives it (negative: character height)
    int weight = 0;
};

quint32 u32(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

qint32 i32(const QByteArray &b, int at)
{
    return qFromLittleEndian<qint32>(b.constData() + at);
}

struct PageContent {
    QVector<TextRun> texts;
    int lines = 0;
    QVector<QLine> lineSegments;

    const TextRun *find(const QString &text) const
    {
        for (const TextRun &t : texts)
            if (t.text == text)
                return &t;
        return nullptr;
    }
    bool has(const QString &text) const { return find(text) != nullptr; }
    QStringList all() const
    {
        QStringList out;
        for (const TextRun &t : texts)
            out << t.text;
        return out;
    }
};

// Reads back what a page picture draws: texts with their reference points,
// colours and fonts, and the lines.
PageContent parsePage(const QByteArray &emf)
{
    PageContent page;
    QHash<quint32, std::pair<int, int>> fonts; // handle -> height, weight
    std::pair<int, int> font{0, 0};
    quint32 color = 0;
    QPoint moveTo;
    for (const EmfRecordRef &r : listEmfRecords(emf)) {
        const int at = r.offset;
        switch (r.type) {
        case emf::ExtCreateFontIndirectW:
            fonts.insert(u32(emf, at + 8), {i32(emf, at + 12), i32(emf, at + 28)});
            break;
        case emf::SelectObject:
            if (fonts.contains(u32(emf, at + 8)))
                font = fonts.value(u32(emf, at + 8));
            break;
        case emf::SetTextColor:
            color = u32(emf, at + 8);
            break;
        case emf::ExtTextOutW: {
            TextRun t;
            t.x = i32(emf, at + 36) * kPixel;
            t.y = i32(emf, at + 40) * kPixel;
            const int n = int(u32(emf, at + 44));
            const int textAt = at + int(u32(emf, at + 48));
            for (int i = 0; i < n; ++i)
                t.text += QChar(qFromLittleEndian<quint16>(emf.constData() + textAt + 2 * i));
            t.color = color;
            t.fontHeight = font.first;
            t.weight = font.second;
            page.texts << t;
            break;
        }
        case emf::MoveToEx:
            moveTo = QPoint(i32(emf, at + 8), i32(emf, at + 12));
            break;
        case emf::LineTo:
            ++page.lines;
            page.lineSegments << QLine(moveTo, QPoint(i32(emf, at + 8), i32(emf, at + 12)));
            break;
        default:
            break;
        }
    }
    return page;
}

// A catalogue with `rows` books and the main result set open on it.
struct Catalogue {
    TempCatalogue db;
    ResultSet query{QStringLiteral("Query1")};
    BookListReport tisk{&query};

    explicit Catalogue(int rows = 0, CatalogueEngine engine = CatalogueEngine::File) : db(engine)
    {
        db.addBooks(rows);
        query.setRequestLive(true);
        query.setSql({kBase, QString(), QString()});
        query.open();
    }

    QString nazev() const { return query.fieldByName(QStringLiteral("Nazev"))->displayText(); }
};

// Renders into page pictures and hands back the pictures.
struct Rendering {
    PageStore store;
    PagePictureOutput output{store, kDpi};
    QVector<int> progress;
    QVector<int> pageNotices;
    bool rendered = false;

    Rendering()
    {
        output.progress = [this](int p) { progress << p; };
        output.pageFinished = [this](int n) { pageNotices << n; };
    }
    void run(BookListReport &tisk) { rendered = tisk.render(output); }
    int pages() const { return store.pageCount(); }
    PageContent page(int n) const { return parsePage(store.page(n)); }
};

void expectAt(const PageContent &page, const QString &text, double x, double y)
{
    const TextRun *t = page.find(text);
    ASSERT_NE(t, nullptr) << "missing text " << text.toStdString() << " among "
                          << page.all().join(QStringLiteral(" | ")).toStdString();
    EXPECT_NEAR(t->x, x, kPixel) << text.toStdString();
    EXPECT_NEAR(t->y, y, kPixel) << text.toStdString();
}

} // namespace

// ---- the definition --------------------------------------------------------

TEST(ReportLayout, StoresTheA4PageAndBandsInNativeUnitsAndAdvancesByWholeUnits)
{
    const ReportLayout layout = bookListLayout();
    const std::array<double, 7> page = {100, 2970, 100, 2100, 100, 100, 0};
    EXPECT_EQ(layout.page.geometry(), page);
    EXPECT_DOUBLE_EQ(layout.printableHeight(), 2770);

    ASSERT_EQ(layout.bands.size(), 4u);
    const QStringList names = {QStringLiteral("QRBand1"), QStringLiteral("QRBand2"), QStringLiteral("QRBand3"),
                               QStringLiteral("QRBand4")};
    const int advances[] = {220, 169, 42, 212};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(layout.bands[size_t(i)].name, names[i]);
        EXPECT_EQ(layout.bands[size_t(i)].advance(), advances[i]) << names[i].toStdString();
        EXPECT_DOUBLE_EQ(layout.bands[size_t(i)].width, 1899.7);
    }
    // Drawing order decides which white box hides which text.
    QStringList detail;
    for (const Printable &p : layout.band(BandKind::Detail)->printables)
        detail << p.name;
    EXPECT_EQ(detail.join(QLatin1Char(',')), QStringLiteral("QRDBText1,QRDBText2,QRDBText3,QRDBText4"));
}

TEST(ReportLayout, TheReportHolderNamesEveryPartAndStartsWithOneCopyPortraitAllPages)
{
    ResultSet query(QStringLiteral("Query1"));
    BookListReport tisk(&query);
    const ReportLayout &layout = tisk.layout();
    for (const char *name : {"QRBand1", "QRBand2", "QRBand3", "QRBand4"})
        EXPECT_NE(layout.band(QLatin1String(name)), nullptr) << name;
    for (const char *name : {"QRLabel1", "QRLabel2", "QRSysData1", "QRLabel3", "QRLabel4", "QRLabel5", "QRLabel6",
                             "QRLabel9", "QRSysData2", "QRShape1", "QRDBText1", "QRDBText2", "QRDBText3",
                             "QRDBText4", "QRLabel10", "QRLabel11", "QRSysData3"})
        ASSERT_NE(layout.printable(QLatin1String(name)), nullptr) << name;
    EXPECT_EQ(layout.band(QStringLiteral("QRBand3"))->kind, BandKind::Detail);
    EXPECT_EQ(layout.printable(QStringLiteral("QRDBText4"))->content, QStringLiteral("Rok_vydani"));
    EXPECT_EQ(layout.printable(QStringLiteral("QRSysData3"))->kind, PrintableKind::SystemDetailCount);
    EXPECT_EQ(layout.printable(QStringLiteral("QRShape1"))->kind, PrintableKind::Shape);
    EXPECT_EQ(tisk.printerSettings().copies, 1);
    EXPECT_FALSE(tisk.printerSettings().landscape);
    EXPECT_EQ(tisk.printerSettings().firstPage, 0);
    EXPECT_EQ(tisk.printerSettings().lastPage, 0);
    EXPECT_FALSE(tisk.busy());
}

// ---- pages -----------------------------------------------------------------

TEST(ReportPages, RowsFillFiftySixOnTheFirstPageAndSixtyOneOnLaterOnesWithTheSummaryAfterThem)
{
    struct Case {
        int rows;
        int pages;
        int summaryPage;
    };
    // 51 rows leave room for the summary on page 1, 52 do not; 56 fill page 1.
    for (const Case c : {Case{0, 1, 1}, Case{1, 1, 1}, Case{51, 1, 1}, Case{52, 2, 2}, Case{56, 2, 2},
                         Case{57, 2, 2}, Case{117, 3, 3}, Case{118, 3, 3}, Case{10000, 165, 165}}) {
        SCOPED_TRACE(c.rows);
        Catalogue cat(c.rows);
        Rendering r;
        r.run(cat.tisk);
        ASSERT_TRUE(r.rendered);
        ASSERT_EQ(r.pages(), c.pages);
        EXPECT_EQ(r.store.status(), PageStore::Status::Finished);
        EXPECT_FALSE(r.store.cancelled());
        EXPECT_EQ(cat.tisk.pageCount(), c.pages);
        for (int p = 1; p <= c.pages; ++p)
            EXPECT_EQ(r.page(p).has(QStringLiteral("Celkový počet knih v seznamu:")), p == c.summaryPage) << p;
        EXPECT_EQ(r.page(c.summaryPage).has(QString::number(c.rows)), true);
        QVector<int> notices;
        for (int p = 1; p <= c.pages; ++p)
            notices << p;
        EXPECT_EQ(r.pageNotices, notices);
    }
}

TEST(ReportPages, PageOneHoldsTitleHeaderRowsAndSummaryWhereTheLayoutPutsThem)
{
    Catalogue cat(0);
    cat.db.addBook(QStringLiteral("Čapek"), QStringLiteral("Krakatit"), QStringLiteral("román"), 1924);
    cat.db.addBook(QStringLiteral("Němcová"), QStringLiteral("Babička"), QStringLiteral("próza"), 1855);
    cat.db.addBook(QStringLiteral("Hašek"), QStringLiteral("Švejk"), QString(), QVariant());
    cat.query.close();
    cat.query.open();
    Rendering r;
    r.run(cat.tisk);
    ASSERT_EQ(r.pages(), 1);
    const PageContent p = r.page(1);

    // Title block from 10 mm: the heading centred on the band, 105 mm in.
    const TextRun *title = p.find(QStringLiteral("Databáze knih"));
    ASSERT_NE(title, nullptr);
    EXPECT_NEAR(title->y, 100 + 84.7, kPixel);
    EXPECT_LT(title->weight, 800);
    EXPECT_GE(title->weight, 700);
    EXPECT_EQ(title->fontHeight, -32); // 24 pt at 96 pixels per inch
    const double titleWidth = 2 * (1049.85 - title->x);
    EXPECT_GT(titleWidth, 400);
    EXPECT_LT(titleWidth, 700);
    expectAt(p, QStringLiteral("Vytištěno dne:"), 1454.7, 121.2);
    expectAt(p, QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat), 1708.7, 121.2);

    // Column header from 32 mm (220 units after the title).
    expectAt(p, QStringLiteral("Strana číslo:"), 121.2, 341.2);
    expectAt(p, QStringLiteral("1"), 332.8, 341.2);
    expectAt(p, QStringLiteral("Autor"), 121.2, 404.7);
    expectAt(p, QStringLiteral("Název"), 756.2, 404.7);
    expectAt(p, QStringLiteral("Žánr"), 1396.5, 404.7);
    expectAt(p, QStringLiteral("Rok vydání"), 1687.5, 404.7);
    EXPECT_EQ(p.find(QStringLiteral("Název"))->weight, 700);
    ASSERT_EQ(p.lineSegments.size(), 1);
    const QLine line = p.lineSegments.first();
    EXPECT_EQ(line.y1(), line.y2());
    EXPECT_NEAR(line.y1() * kPixel, 320 + 127 + 22.5, kPixel);
    EXPECT_NEAR(line.x1() * kPixel, 121.2, kPixel);
    EXPECT_NEAR(line.x2() * kPixel, 1986.5, kPixel);

    // Rows from 48.9 mm, 42 units apart, in the result set's order.
    expectAt(p, QStringLiteral("Čapek"), 121.2, 489);
    expectAt(p, QStringLiteral("Krakatit"), 756.2, 489);
    expectAt(p, QStringLiteral("román"), 1396.5, 489);
    expectAt(p, QStringLiteral("1924"), 1729.8, 489);
    expectAt(p, QStringLiteral("Babička"), 756.2, 531);
    expectAt(p, QStringLiteral("Švejk"), 756.2, 573);
    EXPECT_EQ(p.find(QStringLiteral("Krakatit"))->weight, 400);

    // Summary after the third row.
    expectAt(p, QStringLiteral("Celkový počet knih v seznamu:"), 1200.7, 615 + 105.8);
    expectAt(p, QStringLiteral("3"), 1835.7, 615 + 105.8);
    const TextRun *count = p.find(QStringLiteral("3"));
    EXPECT_EQ(count->color, 0x0000FFu); // red
    EXPECT_EQ(count->weight, 700);
    expectAt(p, QStringLiteral("Vytištěno v programu Dubrex - Zeplo v1.1"), 1327.7, 615 + 169.3);
    EXPECT_EQ(p.find(QStringLiteral("Vytištěno v programu Dubrex - Zeplo v1.1"))->fontHeight, -11); // 8 pt

    // The page picture is an A4 sheet at the screen's resolution.
    const EmfHeaderInfo header = readEmfHeader(r.store.page(1));
    EXPECT_EQ(header.devicePixels, QSize(794, 1123));
    EXPECT_NEAR(header.widthMm(), 210, 0.3);
    EXPECT_NEAR(header.heightMm(), 297, 0.3);
}

TEST(ReportPages, LaterPagesOpenWithTheColumnHeaderAndOnlyPageOneHasTheDate)
{
    Catalogue cat(118);
    Rendering r;
    r.run(cat.tisk);
    ASSERT_EQ(r.pages(), 3);
    const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        const PageContent p = r.page(n);
        EXPECT_EQ(p.has(today), n == 1);
        EXPECT_EQ(p.has(QStringLiteral("Vytištěno dne:")), n == 1);
        EXPECT_EQ(p.has(QStringLiteral("Databáze knih")), n == 1);
        const double headerTop = n == 1 ? 320 : 100;
        expectAt(p, QStringLiteral("Strana číslo:"), 121.2, headerTop + 21.2);
        expectAt(p, QString::number(n), 332.8, headerTop + 21.2);
        EXPECT_EQ(p.lines, 1);
    }
    // Page 2: rows 57 to 117 from 26.9 mm; page 3: the last row, then the summary.
    expectAt(r.page(2), QStringLiteral("Kniha 57"), 756.2, 269);
    expectAt(r.page(2), QStringLiteral("Kniha 117"), 756.2, 269 + 60 * 42);
    EXPECT_FALSE(r.page(2).has(QStringLiteral("Kniha 118")));
    expectAt(r.page(3), QStringLiteral("Kniha 118"), 756.2, 269);
    expectAt(r.page(3), QStringLiteral("118"), 1835.7, 311 + 105.8);
}

TEST(ReportPages, AnEmptyResultGivesTheTitleABlankLineAndTheSummaryWithoutColumnHeader)
{
    Catalogue cat(0);
    Rendering r;
    r.run(cat.tisk);
    ASSERT_EQ(r.pages(), 1);
    const PageContent p = r.page(1);
    EXPECT_TRUE(p.has(QStringLiteral("Databáze knih")));
    EXPECT_TRUE(p.has(QStringLiteral("Vytištěno dne:")));
    EXPECT_FALSE(p.has(QStringLiteral("Název")));
    EXPECT_FALSE(p.has(QStringLiteral("Strana číslo:")));
    EXPECT_EQ(p.lines, 0);
    // 100 + 220 (title) + 42 (the empty detail line).
    expectAt(p, QStringLiteral("Celkový počet knih v seznamu:"), 1200.7, 362 + 105.8);
    expectAt(p, QStringLiteral("0"), 1835.7, 362 + 105.8);
    EXPECT_EQ(p.texts.size(), 6) << p.all().join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(r.progress.isEmpty());
}

TEST(ReportPages, AClosedResultSetPrintsTheEmptyReportCountingOne)
{
    Catalogue cat(5);
    cat.query.close();
    Rendering r;
    r.run(cat.tisk);
    ASSERT_EQ(r.pages(), 1);
    const PageContent p = r.page(1);
    expectAt(p, QStringLiteral("1"), 1835.7, 362 + 105.8);
    EXPECT_FALSE(p.has(QStringLiteral("Kniha 1")));
    EXPECT_FALSE(cat.query.active());
}

TEST(ReportPages, LandscapeLaysOutOnTheSheetsWidthAndTurnsThePictures)
{
    Catalogue cat(36);
    cat.tisk.printerSettings().landscape = true;
    Rendering r;
    r.run(cat.tisk);
    // 210 mm of length: 35 rows on page 1.
    ASSERT_EQ(r.pages(), 2);
    EXPECT_EQ(readEmfHeader(r.store.page(1)).devicePixels, QSize(1123, 794));
    EXPECT_TRUE(r.page(1).has(QStringLiteral("Kniha 35")));
    expectAt(r.page(2), QStringLiteral("Kniha 36"), 756.2, 269);
    expectAt(r.page(2), QStringLiteral("36"), 1835.7, 311 + 105.8);
}

// ---- texts -----------------------------------------------------------------

TEST(ReportTexts, AValueWithACarriageReturnPrintsOnlyItsFirstLineAndLineFeedsVanish)
{
    Catalogue cat(0);
    cat.db.addBook(QStringLiteral("Jan\nNeruda"), QStringLiteral("Povídky\r\nmalostranské"), QStringLiteral("próza"));
    cat.query.close();
    cat.query.open();
    Rendering r;
    r.run(cat.tisk);
    const PageContent p = r.page(1);
    expectAt(p, QStringLiteral("Povídky"), 756.2, 489);
    EXPECT_FALSE(p.all().join(QLatin1Char('|')).contains(QStringLiteral("malostranské")));
    expectAt(p, QStringLiteral("JanNeruda"), 121.2, 489);
}

namespace {

// The detail row's title area of page 1, played onto an image.
struct PlayedPage {
    QImage image;
    explicit PlayedPage(const QByteArray &emf)
    {
        const EmfHeaderInfo h = readEmfHeader(emf);
        image = QImage(h.devicePixels, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        playEmf(emf, painter, QRectF(QPointF(0, 0), QSizeF(h.devicePixels)));
    }
    // Pixels darker than mid-grey in the rectangle, native units.
    int inkIn(double left, double top, double right, double bottom) const
    {
        int ink = 0;
        for (int y = int(top / kPixel); y < int(bottom / kPixel); ++y)
            for (int x = int(left / kPixel); x < int(right / kPixel); ++x)
                if (qGray(image.pixel(x, y)) < 128)
                    ++ink;
        return ink;
    }
};

} // namespace

TEST(ReportTexts, AnOverlongAuthorRunsOnAndItsWhiteBoxHidesTheTitleBeneath)
{
    // The author reaches well into the title column but stops short of the
    // genre; the spaces leave his white box clean where the title would be.
    const QString author = QStringLiteral("A") + QString(100, QLatin1Char(' ')) + QStringLiteral("Z");
    Catalogue cat(0);
    cat.db.addBook(author, QStringLiteral("Krakatit"), QStringLiteral("román"));
    cat.db.addBook(QStringLiteral("Čapek"), QStringLiteral("Krakatit"), QStringLiteral("román"));
    cat.query.close();
    cat.query.open();
    Rendering r;
    r.run(cat.tisk);
    const PlayedPage page(r.store.page(1));

    const double titleLeft = 756.2, titleRight = 756.2 + 150;
    // Second row: a short author, the title shows.
    EXPECT_GT(page.inkIn(titleLeft, 531, titleRight, 531 + 40), 20);
    // First row: the same title, hidden under the author's box.
    EXPECT_EQ(page.inkIn(titleLeft, 489, titleRight, 489 + 40), 0);
    // The author's text is not clipped at the column: its last letter shows
    // inside the title column.
    const double authorEnd =
        121.2 + canvasTextWidth(canvasFont(ReportFont{QStringLiteral("Arial"), 10, false, Qt::black}, kDpi), author) *
                    kPixel;
    EXPECT_GT(authorEnd, titleRight);
    EXPECT_LT(authorEnd, 1396.5);
    EXPECT_GT(page.inkIn(authorEnd - 10 * kPixel, 489, authorEnd, 489 + 40), 5);
    // The genre, drawn before the author but beyond his box, still shows.
    EXPECT_GT(page.inkIn(1396.5, 489, 1396.5 + 100, 489 + 40), 20);
}

// ---- the walk --------------------------------------------------------------

TEST(ReportWalk, LeavesTheResultSetOnItsLastRowAndReportsProgressPerRow)
{
    Catalogue cat(40);
    Rendering r;
    r.run(cat.tisk);
    EXPECT_TRUE(cat.query.eof());
    EXPECT_EQ(cat.nazev(), QStringLiteral("Kniha 40"));
    EXPECT_EQ(cat.query.recNo(), 40);
    QVector<int> expected;
    for (int i = 1; i <= 40; ++i)
        expected << i * 100 / 40;
    EXPECT_EQ(r.progress, expected);

    // Printing again from wherever the set stands gives the same pages.
    Rendering again;
    again.run(cat.tisk);
    ASSERT_EQ(again.pages(), r.pages());
    EXPECT_EQ(again.page(1).all(), r.page(1).all());
}

// The walk reads the rows after the window in batches: each book is printed
// once, in the list's order, across every batch and page, also sorted.
class ReportReadAhead : public testing::TestWithParam<CatalogueEngine> {};
INSTANTIATE_TEST_SUITE_P(Engines, ReportReadAhead, kEachEngine, engineName);

TEST_P(ReportReadAhead, EveryBookIsPrintedOnceInTheListsOrder)
{
    constexpr int kBooks = 3001;   // 47 batches and a part, 50 pages
    Catalogue cat(kBooks, GetParam());
    static const QRegularExpression title(QStringLiteral("^Kniha \\d+$"));
    for (const QString &order : {QString(), QStringLiteral("order by nazev")}) {
        SCOPED_TRACE(order.toStdString());
        cat.query.setSql({kBase, QString(), order});
        cat.query.open();
        QStringList listed;
        for (cat.query.first(); !cat.query.eof(); cat.query.next())
            listed << cat.nazev();
        ASSERT_EQ(listed.size(), kBooks);
        if (order.isEmpty()) {
            EXPECT_EQ(listed.first(), QStringLiteral("Kniha 1"));
            EXPECT_EQ(listed.last(), QStringLiteral("Kniha 3001"));
        } else {
            EXPECT_EQ(listed.mid(0, 4), (QStringList{QStringLiteral("Kniha 1"), QStringLiteral("Kniha 10"),
                                                    QStringLiteral("Kniha 100"), QStringLiteral("Kniha 1000")}));
        }
        cat.query.moveBy(kBooks / 2);   // the walk starts from the first row wherever the set stands

        Rendering r;
        r.run(cat.tisk);
        ASSERT_TRUE(r.rendered);
        EXPECT_EQ(r.pages(), 50);
        QStringList printed;
        for (int p = 1; p <= r.pages(); ++p)
            for (const TextRun &t : r.page(p).texts)
                if (title.match(t.text).hasMatch())
                    printed << t.text;
        EXPECT_EQ(printed, listed);
    }
}

TEST(ReportWalk, CancellingStopsBetweenRowsAndAbandonsThePictures)
{
    Catalogue cat(30);
    Rendering r;
    r.output.progress = [&](int p) {
        r.progress << p;
        if (r.progress.size() == 5) // handled by the message loop before row 6
            QMetaObject::invokeMethod(&cat.tisk, [&] { cat.tisk.cancel(); }, Qt::QueuedConnection);
    };
    r.run(cat.tisk);
    EXPECT_TRUE(r.rendered);
    EXPECT_TRUE(cat.tisk.cancelled());
    EXPECT_FALSE(cat.tisk.busy());
    EXPECT_EQ(r.progress.size(), 5);
    EXPECT_EQ(cat.nazev(), QStringLiteral("Kniha 6")); // moved past row 5, row 6 never printed
    EXPECT_TRUE(r.store.cancelled());
    EXPECT_EQ(r.pages(), 0);

    // The next rendering starts afresh.
    Rendering next;
    next.run(cat.tisk);
    EXPECT_FALSE(cat.tisk.cancelled());
    EXPECT_EQ(next.pages(), 1);
    EXPECT_EQ(next.progress.size(), 30);
}

TEST(ReportWalk, ARenderingAskedForWhileOneRunsDoesNothing)
{
    Catalogue cat(10);
    Rendering inner;
    bool innerAccepted = true;
    Rendering r;
    r.output.progress = [&](int p) {
        r.progress << p;
        if (r.progress.size() == 3)
            innerAccepted = cat.tisk.render(inner.output);
        EXPECT_TRUE(cat.tisk.busy());
    };
    r.run(cat.tisk);
    EXPECT_FALSE(innerAccepted);
    EXPECT_EQ(inner.store.status(), PageStore::Status::Ready);
    EXPECT_EQ(r.pages(), 1);
    EXPECT_EQ(r.progress.size(), 10);
}

TEST(ReportWalk, AnEngineErrorDuringTheWalkReachesTheCallerAndTheReportStaysUsable)
{
    Catalogue cat(200);
    Rendering r;
    r.output.progress = [&](int p) {
        r.progress << p;
        if (r.progress.size() == 20) // behind the result set's back, past the first screen
            cat.db.exec(QStringLiteral("drop table zeplo"));
    };
    bool threw = false;
    try {
        r.run(cat.tisk);
    } catch (const Error &e) {
        threw = true;
        EXPECT_TRUE(e.message().contains(QStringLiteral("zeplo"))) << e.what();
    }
    EXPECT_TRUE(threw);
    EXPECT_FALSE(cat.tisk.busy());
    EXPECT_TRUE(r.store.cancelled());
    EXPECT_EQ(r.store.status(), PageStore::Status::Finished);

    // Once the table is back, printing works again.
    cat.query.close();
    cat.db.exec(QString::fromLatin1(TempCatalogue::kSchema));
    cat.db.addBooks(3);
    cat.query.open();
    Rendering again;
    again.run(cat.tisk);
    EXPECT_TRUE(again.rendered);
    ASSERT_EQ(again.pages(), 1);
    EXPECT_TRUE(again.page(1).has(QStringLiteral("Kniha 3")));
    EXPECT_FALSE(again.store.cancelled());
}

// ---- printer ---------------------------------------------------------------

// Writes pages 1 and 2 of a printed report where they can be looked at, when
// ZEPLO_REPORT_PDF names a file.
TEST(ReportPrinter, WritesAPdfForInspection)
{
    const QString target = qEnvironmentVariable("ZEPLO_REPORT_PDF");
    Catalogue cat(0);
    cat.db.addBook(QStringLiteral("Karel Čapek"), QStringLiteral("Krakatit"), QStringLiteral("román"), 1924);
    cat.db.addBook(QStringLiteral("Božena Němcová"), QStringLiteral("Babička"), QStringLiteral("próza"), 1855);
    cat.db.addBook(QStringLiteral("Jaroslav Hašek, Josef Lada a další autoři dlouhého jména"),
                   QStringLiteral("Osudy dobrého vojáka Švejka za světové války"), QStringLiteral("humor"), 1923);
    cat.db.addBooks(60);
    cat.query.close();
    cat.query.open();
    PdfPrinter pdf;
    if (!target.isEmpty())
        pdf.printer.setOutputFileName(target);
    PrinterOutput out(pdf.printer);
    ASSERT_TRUE(cat.tisk.render(out));
    EXPECT_EQ(out.pagesPrinted(), 2);
    EXPECT_EQ(pdfPageCount(target.isEmpty() ? pdf.file : target), 2);
}
