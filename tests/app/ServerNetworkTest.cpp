// The server across a network that misbehaves: a path that stops answering,
// answers that never come back, a session ended under a reading, other
// computers changing the list meanwhile.
#include <gtest/gtest.h>

#include "ErrorOf.h"
#include <QSet>

#include "RelayedCatalogue.h"
#include "TempCatalogue.h"
#include "WindowLink.h"
#include "app/BookQueries.h"
#include "engine/ResultSet.h"
#include "engine/DataSource.h"
#include "engine/Field.h"

using namespace zeplo;

namespace {


const QString kNoAnswer = QStringLiteral("The catalogue server did not answer; the next command connects again");

// A grid of the main window's height over a list, as the main window has it.
struct GridOver {
    explicit GridOver(ResultSet &list)
    {
        source.setDataSet(&list);
        link.setDataSource(&source);
    }
    WindowLink link{18};
    DataSource source;
};

} // namespace

TEST(ServerNetwork, APathThatStopsAnsweringFailsTheCommandByItsDeadlineAndTheNextOneConnectsAgain)
{
    RelayedCatalogue c(500);
    c.relay->freeze(true);
    // Given up by its deadline, then tried once more on a new session, which
    // does not answer either.
    const QString lost = errorOf([&] { c.query.recordCount(); });
    EXPECT_TRUE(lost.startsWith(kNoAnswer)) << lost.toStdString();
    EXPECT_FALSE(lost.contains(QLatin1String("terminated abnormally"))) << lost.toStdString();
    EXPECT_TRUE(c.query.active());
    c.relay->freeze(false);
    EXPECT_EQ(c.query.recordCount(), 500);
    c.query.last();
    EXPECT_EQ(c.query.fieldByName(QStringLiteral("nazev"))->displayText(), QStringLiteral("Kniha 500"));
}

// A command the network fails changes nothing: the row that was current is
// edited afterwards, and an append that failed leaves nothing to post.
TEST(ServerNetwork, ACommandTheNetworkFailsLeavesTheListWhereItStood)
{
    RelayedCatalogue c(500);
    const GridOver grid(c.query);
    c.query.moveBy(3);
    c.relay->freeze(true);
    EXPECT_TRUE(errorOf([&] { c.query.last(); }).startsWith(kNoAnswer));
    EXPECT_TRUE(errorOf([&] { c.query.append(); }).startsWith(kNoAnswer));
    c.relay->freeze(false);
    EXPECT_EQ(c.query.state(), DataSetState::Browse);
    EXPECT_EQ(c.query.recNo(), 4);
    EXPECT_EQ(c.query.activeLine(), 3);
    EXPECT_EQ(c.query.windowRowCount(), 18);
    EXPECT_EQ(errorOf([&] { c.query.post(); }), QStringLiteral("Query1: Dataset not in edit or insert mode"));
    c.query.edit();
    c.query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Čtvrtá"));
    c.query.post();
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select nazev from zeplo where id = 4")).toString(), QStringLiteral("Čtvrtá"));
    EXPECT_EQ(c.catalogue.count(), 500);
}

// A host of the URI that never answers costs its own time limit; the next one serves.
TEST(ServerNetwork, ConnectingTriesEachHostInTurn)
{
    RelayedCatalogue c(5);
    TcpRelay silent("127.0.0.1", c.relay->port());
    silent.freeze(true);
    QString uri = Engine::catalogue();
    static const QRegularExpression hostPort(QStringLiteral(R"(@localhost:(\d+)/([^?]*)\?)"));
    const QRegularExpressionMatch m = hostPort.match(uri);
    ASSERT_TRUE(m.hasMatch()) << uri.toStdString();
    uri.replace(m.capturedStart(), m.capturedLength(),
                QStringLiteral("@/%1?host=localhost,localhost&port=%2,%3&").arg(m.captured(2)).arg(silent.port()).arg(m.captured(1)));
    uri.remove(QStringLiteral("&hostaddr=127.0.0.1"));
    Engine::setCatalogue(uri);
    ResultSet query(QStringLiteral("Query1"));
    query.setSql(mainQuery({}, {}));
    EXPECT_EQ(errorOf([&] { query.open(); }), QString());
    EXPECT_EQ(query.recordCount(), 5);
}

TEST(ServerNetwork, APostWhoseAnswerWasLostIsNotStoredTwiceNorTakenForAnotherUsersChange)
{
    RelayedCatalogue c(50);
    c.query.append();
    c.query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Jen jednou"));
    // The post's first trip, the reservation of the new book's key, gets no
    // answer: nothing is stored (LostAnswer.* loses the insert's own answer).
    c.relay->freezeAnswers(true);
    EXPECT_TRUE(errorOf([&] { c.query.post(); }).startsWith(kNoAnswer));
    c.relay->freezeAnswers(false);
    EXPECT_EQ(c.query.state(), DataSetState::Insert);
    // The title corrected before OK is pressed again: one book, corrected.
    c.query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Jen jednou, opraveno"));
    c.query.post();
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select count(*) from zeplo where nazev like 'Jen jednou%'")).toInt(), 1);
    const qint64 id = c.query.fieldByName(QStringLiteral("id"))->asInteger();
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select id from zeplo where nazev = 'Jen jednou, opraveno'")).toLongLong(),
              id);

    c.query.first();
    c.query.edit();
    c.query.fieldByName(QStringLiteral("autor"))->setAsText(QStringLiteral("Změněný"));
    c.relay->freezeAnswers(true);
    EXPECT_TRUE(errorOf([&] { c.query.post(); }).startsWith(kNoAnswer));
    c.relay->freezeAnswers(false);
    c.query.post();   // the row holds what this post asks for: stored before, not a conflict
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select autor from zeplo where id = 1")).toString(),
              QStringLiteral("Změněný"));
    EXPECT_EQ(c.catalogue.count(), 51);
}

// The rows on screen read again after another computer's change: a read the
// network fails changes nothing, and the next one shows the change where the
// rows stood.
TEST(ServerNetwork, ARereadOfTheRowsOnScreenThatTheNetworkFailsChangesNothing)
{
    RelayedCatalogue c(50);
    const GridOver grid(c.query);
    c.query.moveBy(3);
    const int title = c.query.fieldByName(QStringLiteral("nazev"))->index();
    c.catalogue.exec(QStringLiteral("update zeplo set nazev = 'Jinde' where id = 5"));
    EXPECT_FALSE(c.query.changedElsewhere({40}, false));
    EXPECT_TRUE(c.query.changedElsewhere({5}, false));
    c.relay->freeze(true);
    EXPECT_TRUE(errorOf([&] { c.query.rereadWindow(); }).startsWith(kNoAnswer));
    c.relay->freeze(false);
    EXPECT_EQ(c.query.windowValue(4, title).toString(), QStringLiteral("Kniha 5"));
    EXPECT_TRUE(c.query.rereadWindow());
    EXPECT_EQ(c.query.windowValue(4, title).toString(), QStringLiteral("Jinde"));
    EXPECT_EQ(c.query.recNo(), 4);
    EXPECT_EQ(c.query.activeLine(), 3);
}

TEST(ServerNetwork, NoSessionOfTheProgramStaysInsideATransactionBetweenCommands)
{
    TempCatalogue catalogue(CatalogueEngine::Server);
    catalogue.addBooks(20000);
    GridList list(mainQuery({}, QStringLiteral("order by nazev")));
    ResultSet &query = list.query;
    for (int i = 0; i < 20; ++i)
        query.moveBy(18);
    query.last();
    query.setSql(mainQuery(searchFilter(schema::Title, QStringLiteral("a 1")), {}));
    query.open();
    query.moveBy(50);
    const QString sessions = QStringLiteral("select count(*) from pg_stat_activity where datname = current_database() "
                                            "and application_name = 'zeplo'");
    EXPECT_EQ(catalogue.scalar(sessions).toInt(), 1);
    EXPECT_EQ(catalogue.scalar(sessions + QStringLiteral(" and state <> 'idle'")).toInt(), 0);
}

// A sorted list walked while another computer deletes and adds books on both
// sides of the reading, and the reading's session is ended in the middle: the
// walk shows every book that was there all along once and in order, and any
// other book (added meanwhile, or deleted after it was read) at most once.
TEST(ServerNetwork, AWalkNeverSkipsOrRepeatsABookWhileOthersChangeTheListAndItsSessionEnds)
{
    TempCatalogue catalogue(CatalogueEngine::Server);
    catalogue.addBooks(3000);
    QList<qint64> before;
    for (const QString &id : catalogue.scalar(QStringLiteral("select string_agg(id::text, ',' order by nazev collate "
                                                             "\"cs-CZ-x-icu\", id) from zeplo"))
                                 .toString()
                                 .split(QLatin1Char(',')))
        before << id.toLongLong();
    GridList list(mainQuery({}, QStringLiteral("order by nazev")));
    ResultSet &query = list.query;
    // Both ends read; then the rows where each stopped are gone, so that
    // neither end can find the other's last row.
    query.last();
    query.first();
    QSet<qint64> deleted;
    const auto remove = [&](qsizetype at) {
        if (at < 0 || at >= before.size() || deleted.contains(before[at]))
            return;
        catalogue.exec(QStringLiteral("delete from zeplo where id = %1").arg(before[at]));
        deleted << before[at];
    };
    const qsizetype fromEachEnd = query.knownRecordCount() / 2;
    remove(fromEachEnd - 1);
    remove(before.size() - fromEachEnd);

    const auto id = [&] { return query.fieldByName(QStringLiteral("id"))->asInteger(); };
    QList<qint64> shown{id()};
    for (int step = 1; !query.eof(); ++step) {
        if (step % 400 == 0) {
            remove(shown.size() - 10);                                          // behind
            remove(qsizetype(query.knownRecordCount()) - fromEachEnd + 20);     // ahead, not yet read
            catalogue.addBook(QStringLiteral("Nový"), QStringLiteral("Kniha 0"));
            catalogue.addBook(QStringLiteral("Nový"), QStringLiteral("Kniha 9999"));
        }
        if (step == 1500)
            catalogue.exec(QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity where datname = "
                                          "current_database() and application_name = 'zeplo'"));
        // A session ended is made again and the move goes on without a word.
        EXPECT_EQ(errorOf([&] { query.next(); }), QString());
        if (!query.eof())
            shown << id();
    }
    QList<qint64> kept, expected;
    for (qint64 i : before)
        if (!deleted.contains(i))
            expected << i;
    for (qint64 i : shown)
        if (i <= 3000 && !deleted.contains(i))
            kept << i;
    EXPECT_EQ(kept, expected);
    EXPECT_EQ(QSet<qint64>(shown.begin(), shown.end()).size(), shown.size()) << "a book shown twice";
    EXPECT_GE(deleted.size(), 10);
    EXPECT_GT(shown.size(), expected.size());   // books added ahead of the reading were reached
}
