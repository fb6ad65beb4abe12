// What keeps a walk through many rows cheap: the result set reads only the rows
// a move brings into its window, the controls that follow the walk paint at
// most once a frame, and the report's text measurements are kept per font.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <QWidget>

#include "TempCatalogue.h"
#include "WindowLink.h"
#include "widgets/PaintPacer.h"
#include "engine/ResultSet.h"
#include "report/Canvas.h"
#include "report/EmfWriter.h"

using namespace zeplo;

namespace {

const QString kBase = TempCatalogue::kBaseQuery;


// Every line of the window must hold the row of its position: "Kniha n" on
// the line of row n.
void expectWindowMatchesPositions(ResultSet &q, const char *step)
{
    const int title = q.fieldByName(QStringLiteral("nazev"))->index();
    const qsizetype top = q.recNo() - 1 - q.activeLine();
    for (int line = 0; line < q.windowRowCount(); ++line)
        EXPECT_EQ(q.windowValue(line, title).toString(), QStringLiteral("Kniha %1").arg(top + line + 1))
            << step << ", line " << line;
}

// Paints the value it was last given, and counts its paints.
struct ValueWidget : QWidget {
    int value = 0;
    int painted = -1;
    int paints = 0;
    void paintEvent(QPaintEvent *) override
    {
        painted = value;
        ++paints;
    }
};

} // namespace

TEST(FastWalk, MovesKeepTheWindowInStepWithThePositionsWhicheverWayTheyGo)
{
    TempCatalogue catalogue;
    catalogue.addBooks(40);
    ResultSet q(QStringLiteral("Query1"));
    DataSource source;
    WindowLink link{7};
    source.setDataSet(&q);
    link.setDataSource(&source);
    q.setRequestLive(true);
    q.setSql({kBase, QString(), QString()});
    q.open();

    struct Step {
        const char *name;
        qsizetype distance;
    };
    // Overlapping steps both ways, a page, more than a page, and runs into both ends.
    const Step steps[] = {{"down 1", 1},   {"down 3", 3},    {"down 6", 6},   {"up 2", -2},
                          {"page down", 7}, {"down 10", 10}, {"up 4", -4},    {"up 20", -20},
                          {"past the end", 100}, {"up 1 from the end", -1}, {"past the start", -100}};
    for (const Step &s : steps) {
        q.moveBy(s.distance);
        expectWindowMatchesPositions(q, s.name);
    }
    q.last();
    q.moveBy(-3);
    q.next();
    expectWindowMatchesPositions(q, "after last");

    // A row changed by another program shows once a move brings it in again.
    q.first();
    catalogue.exec(QStringLiteral("update zeplo set nazev = 'Změněno' where id = 30"));
    q.moveBy(35);
    const int title = q.fieldByName(QStringLiteral("nazev"))->index();
    const int line30 = int(30 - (q.recNo() - q.activeLine()));
    EXPECT_EQ(q.windowValue(line30, title).toString(), QStringLiteral("Změněno"));
}

TEST(FastWalk, ControlsChangedFasterThanAFramePaintOnceAFrameAndShowTheLastChange)
{
    // A long frame, so that the changes below fall within very few frames
    // however slowly the machine runs.
    constexpr int kFrame = 1000;
    ValueWidget w;
    w.resize(100, 40);
    PaintPacer pacer(&w, kFrame);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();

    // The first change paints at once, as a user's move would.
    pacer.beforeChange();
    w.value = 1;
    w.update();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.painted, 1);
    EXPECT_FALSE(pacer.holding());

    // Two hundred changes in a tight loop, the message loop run after each.
    w.paints = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 2; i < 202; ++i) {
        pacer.beforeChange();
        w.value = i;
        w.update();
        QCoreApplication::processEvents();
    }
    const qint64 elapsed = t.elapsed();
    EXPECT_TRUE(pacer.holding());
    EXPECT_LE(w.paints, 1 + int(elapsed / kFrame));

    // The last change is painted once its frame is over, and the control is
    // left as it was found.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !pacer.holding() && w.painted == 201; }, 10 * kFrame));
    EXPECT_EQ(w.painted, 201);
    EXPECT_TRUE(w.updatesEnabled());
}

TEST(FastWalk, TheRecordCountCountsDistinctValuesWhateverWayTheEngineTakes)
{
    auto countOf = [](const QString &sql, const QString &column = QStringLiteral("x")) {
        ResultSet q(QStringLiteral("Query2"));
        q.setSql({sql});
        q.open();
        q.first();
        const qint64 n = q.fieldByName(column)->asInteger();
        q.close();
        return n;
    };
    {
        // id is the row id: the count is the number of rows, gaps and all.
        TempCatalogue catalogue;
        catalogue.addBooks(10);
        catalogue.exec(QStringLiteral("update zeplo set autor = 'Stejný' where id <= 6"));
        catalogue.exec(QStringLiteral("delete from zeplo where id in (2, 9)"));
        EXPECT_EQ(countOf(QStringLiteral("select count (distinct(id)) as x from zeplo")), 8);
        EXPECT_EQ(countOf(QStringLiteral("select count(distinct id) as x from zeplo")), 8);
        // Without a name of its own the column keeps the engine's name for it.
        EXPECT_EQ(countOf(QStringLiteral("select count (distinct(id)) from zeplo"), QStringLiteral("count (distinct(id))")),
                  8);
        // Any other column still counts its distinct values.
        EXPECT_EQ(countOf(QStringLiteral("select count (distinct(autor)) as x from zeplo")), 4);
    }
    {
        // An id that is not the row id may repeat or be null: only distinct values count.
        TempCatalogue catalogue("CREATE TABLE zeplo (id INTEGER, autor VARCHAR(40), nazev VARCHAR(60), zanr "
                                "VARCHAR(20), rok_vydani SMALLINT, popis MEMO, vlastnim BOOLEAN, precteno BOOLEAN, "
                                "pujceno MEMO, PRIMARY KEY (id, autor))");
        catalogue.exec(QStringLiteral("insert into zeplo (id, autor) values (1, 'a'), (1, 'b'), (2, 'a'), (null, 'c')"));
        EXPECT_EQ(countOf(QStringLiteral("select count (distinct(id)) as x from zeplo")), 2);
    }
}

TEST(FastWalk, KeptTextMeasurementsBelongToTheirFont)
{
    const ReportFont regular{QStringLiteral("Arial"), 10, false, Qt::black};
    const ReportFont bold{QStringLiteral("Arial"), 10, true, Qt::black};
    const ReportFont large{QStringLiteral("Arial"), 24, true, Qt::black};
    const QString text = QStringLiteral("Žluťoučký kůň úpěl ďábelské ódy WWW");
    EmfCanvas canvas(QSize(794, 1123), 96);

    for (int round = 0; round < 2; ++round) {   // the second round is answered from what was kept
        for (const ReportFont &font : {regular, bold, large, regular}) {
            canvas.setFont(font);
            const QFont qfont = canvasFont(font, 96);
            EXPECT_EQ(canvas.textWidth(text), canvasTextWidth(qfont, text)) << font.pointSize << font.bold;
            EXPECT_EQ(canvas.lineHeight(), canvasLineHeight(qfont)) << font.pointSize << font.bold;
        }
    }
    canvas.setFont(regular);
    const int regularWidth = canvas.textWidth(text);
    canvas.setFont(bold);
    EXPECT_GT(canvas.textWidth(text), regularWidth);
}
