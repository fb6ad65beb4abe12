// On a server the network is the cost: each user action makes at most two
// round trips. A count of exchanges does not depend on the machine, so a
// change that adds one fails here.
#include <gtest/gtest.h>

#include <functional>

#include "TempCatalogue.h"
#include "WindowLink.h"
#include "app/BookQueries.h"
#include "engine/PgEngine.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

// Query1 over a catalogue of `books` on the server, with its engine.
struct Session {
    explicit Session(int books) : catalogue(CatalogueEngine::Server), list((catalogue.addBooks(books), mainQuery({}, {})))
    {
        engine = std::dynamic_pointer_cast<PgEngine>(Engine::openDefault());
    }
    void open(const QStringList &sql)
    {
        query.setSql(sql);
        query.open();
    }
    // The round trips `action` makes.
    quint64 trips(const std::function<void()> &action)
    {
        const quint64 before = engine->roundTrips();
        action();
        return engine->roundTrips() - before;
    }
    qsizetype count()
    {
        ResultSet query2(QStringLiteral("Query2"));
        query2.setSql({kCountQuery});
        query2.open();
        query2.first();
        return query2.fieldByName(QStringLiteral("x"))->asInteger();
    }

    TempCatalogue catalogue;
    GridList list;
    ResultSet &query = list.query;
    std::shared_ptr<PgEngine> engine;
};

} // namespace

TEST(ServerRoundTrips, EachUserActionOnAThousandBooksTakesAtMostTwo)
{
    Session s(1000);
    EXPECT_EQ(s.trips([&] { s.open(mainQuery({}, {})); }), 1u);
    EXPECT_EQ(s.trips([&] { s.open(mainQuery(searchFilter(schema::Title, QStringLiteral("Kniha 1")), {})); }), 1u);
    EXPECT_EQ(s.query.recordCount(), 112);
    EXPECT_EQ(s.trips([&] { s.open(mainQuery({}, QStringLiteral("order by nazev"))); }), 1u);
    EXPECT_EQ(s.trips([&] { EXPECT_EQ(s.count(), 1000); }), 1u);
    EXPECT_EQ(s.trips([&] {
                  s.query.last();
                  s.query.first();
              }),
              1u);

    s.open(mainQuery({}, {}));
    // The rows on screen read again after others' changes.
    EXPECT_EQ(s.trips([&] {
                  s.query.changedElsewhere({}, true);
                  EXPECT_TRUE(s.query.rereadWindow());
              }),
              1u);
    EXPECT_LE(s.trips([&] {
                  s.query.edit();
                  s.query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Upravená"));
                  s.query.post();
              }),
              2u);
    EXPECT_EQ(s.catalogue.scalar(QStringLiteral("select nazev from zeplo where id = 1")).toString(),
              QStringLiteral("Upravená"));
    EXPECT_LE(s.trips([&] {
                  s.query.append();
                  s.query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Nová"));
                  s.query.post();
              }),
              2u);
    EXPECT_EQ(s.query.fieldByName(QStringLiteral("nazev"))->displayText(), QStringLiteral("Nová"));
    // The next book is added with the key taken for it in that same trip.
    EXPECT_LE(s.trips([&] {
                  s.query.append();
                  s.query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Další"));
                  s.query.post();
              }),
              2u);
    EXPECT_EQ(s.count(), 1002);
}

TEST(ServerRoundTrips, PagingAndTheReportOverAHundredThousandBooksReadInLargeSteps)
{
    Session s(100000);
    EXPECT_LE(s.trips([&] {
                  for (int i = 0; i < 200; ++i)
                      s.query.moveBy(18);
              }),
              3u);
    EXPECT_EQ(s.query.recNo(), 3601);
    EXPECT_EQ(s.trips([&] {
                  s.query.last();
                  s.query.first();
              }),
              1u);

    // The report's walk: every row once, in order, in few reads.
    s.query.first();
    qint64 expected = 1;
    bool inOrder = true;
    const quint64 walk = s.trips([&] {
        EXPECT_EQ(s.query.recordCount(), 100000);   // for the progress, as the report asks
        s.query.setWalking(true);
        for (; !s.query.eof(); s.query.next())
            inOrder = inOrder && s.query.fieldByName(QStringLiteral("id"))->asInteger() == expected++;
        s.query.setWalking(false);
    });
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(expected, 100001);
    EXPECT_LE(walk, 25u);
}
