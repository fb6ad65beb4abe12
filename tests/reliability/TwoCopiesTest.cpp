// Two copies of the program on one catalogue: a change posted by one is never
// silently overwritten by the other, and a catalogue locked by another writer
// gives a clear error after a bounded wait. On the server the two copies, each
// on its own connection, stand for two computers.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSet>


#include "ChildProcess.h"
#include "ChildRoles.h"
#include "TempCatalogue.h"
#include "widgets/ErrorGuard.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"
#include "engine/SqliteEngine.h"

using namespace zeplo;

namespace {

struct Copy {
    TempCatalogue catalogue;
    ResultSet query{QStringLiteral("Query1")};

    explicit Copy(CatalogueEngine engine) : catalogue(engine)
    {
        catalogue.addBooks(3);
        query.setRequestLive(true);
        query.setSql({kBookColumns, QString(), QStringLiteral("order by nazev")});
        query.open();
    }
    Field *field(const char *name) { return query.fieldByName(QString::fromLatin1(name)); }
    QString stored(int id, const char *column)
    {
        return catalogue.scalar(QStringLiteral("select %1 from zeplo where id = %2").arg(QLatin1String(column)).arg(id))
            .toString();
    }
    // The other copy, in a process of its own, changes or deletes row `id`.
    QString other(const QStringList &args)
    {
        ChildProcess child(catalogue.path(), QStringLiteral("change"), args);
        return child.finish().join(QLatin1Char('|'));
    }
    QString postError()
    {
        try {
            query.post();
        } catch (const Error &e) {
            return e.message();
        }
        return QString();
    }
};

} // namespace

class TwoCopies : public testing::TestWithParam<CatalogueEngine> {};
INSTANTIATE_TEST_SUITE_P(Engines, TwoCopies, kEachEngine, engineName);

TEST_P(TwoCopies, ADeleteOverAChangeOfTheOtherCopyFailsAndShowsItButARowAlreadyGoneCountsAsDeleted)
{
    Copy c(GetParam());
    c.query.moveBy(1);
    const int id = int(c.field("id")->asInteger());
    // The other computer lends the book this one still shows as not lent.
    ASSERT_EQ(c.other({QStringLiteral("edit"), QString::number(id), QStringLiteral("pujceno"), QStringLiteral("Jana")}),
              QStringLiteral("ok"));
    QString error;
    try {
        c.query.deleteRecord();
    } catch (const Error &e) {
        error = e.message();
    }
    EXPECT_EQ(error, QStringLiteral("The record was changed by another user after it was read; it has not been deleted"));
    EXPECT_EQ(c.catalogue.count(), 3);
    EXPECT_EQ(c.field("id")->asInteger(), id);
    EXPECT_EQ(c.field("pujceno")->value().toString(), QStringLiteral("Jana"));   // the list shows it now

    c.query.moveBy(1);
    const int next = int(c.field("id")->asInteger());
    ASSERT_EQ(c.other({QStringLiteral("delete"), QString::number(next)}), QStringLiteral("ok"));
    c.query.deleteRecord();
    EXPECT_EQ(c.catalogue.count(), 2);
    EXPECT_TRUE(c.stored(next, "id").isEmpty());
}

TEST_P(TwoCopies, APostOverAChangeOfTheOtherCopyFailsAndKeepsThePendingRow)
{
    Copy c(GetParam());
    c.query.moveBy(1);
    const int id = int(c.field("id")->asInteger());
    c.query.edit();
    c.field("nazev")->setAsText(QStringLiteral("Moje změna"));
    ASSERT_EQ(c.other({QStringLiteral("edit"), QString::number(id), QStringLiteral("autor"), QStringLiteral("Cizí")}),
              QStringLiteral("ok"));

    EXPECT_EQ(c.postError(), QStringLiteral("The record was changed by another user after it was read; the change "
                                            "has not been saved, so that the other change is not lost"));
    EXPECT_EQ(c.query.state(), DataSetState::Edit);
    EXPECT_EQ(c.field("nazev")->text(), QStringLiteral("Moje změna"));
    EXPECT_EQ(c.stored(id, "autor"), QStringLiteral("Cizí"));
    EXPECT_EQ(c.stored(id, "nazev"), QStringLiteral("Kniha 2"));

    // Having seen the other change, the user can make theirs on top of it.
    c.query.cancel();
    c.query.close();
    c.query.open();
    c.query.moveBy(1);
    EXPECT_EQ(c.field("autor")->displayText(), QStringLiteral("Cizí"));
    c.query.edit();
    c.field("nazev")->setAsText(QStringLiteral("Moje změna"));
    c.query.post();
    EXPECT_EQ(c.stored(id, "autor"), QStringLiteral("Cizí"));
    EXPECT_EQ(c.stored(id, "nazev"), QStringLiteral("Moje změna"));
}

TEST_P(TwoCopies, AnEditBegunAfterTheOtherCopysPostStartsFromItsValues)
{
    // Editing reads the row again, so a change begun after the other copy's
    // post carries that post's values along instead of undoing them.
    Copy c(GetParam());
    const int id = int(c.field("id")->asInteger());
    c.query.edit();
    c.field("zanr")->setAsText(QStringLiteral("Poezie"));
    c.query.post();
    ASSERT_EQ(c.other({QStringLiteral("edit"), QString::number(id), QStringLiteral("zanr"), QStringLiteral("Drama")}),
              QStringLiteral("ok"));
    c.query.edit();
    EXPECT_EQ(c.field("zanr")->text(), QStringLiteral("Drama"));
    c.field("rok_vydani")->setAsText(QStringLiteral("1999"));
    EXPECT_EQ(c.postError(), QString());
    EXPECT_EQ(c.stored(id, "zanr"), QStringLiteral("Drama"));
    EXPECT_EQ(c.stored(id, "rok_vydani"), QStringLiteral("1999"));
}

TEST_P(TwoCopies, EditingARowTheOtherCopyDeletedFailsAtPostAndBringsNothingBack)
{
    Copy c(GetParam());
    c.query.last();
    const int id = int(c.field("id")->asInteger());
    c.query.edit();
    c.field("nazev")->setAsText(QStringLiteral("Oprava"));
    ASSERT_EQ(c.other({QStringLiteral("delete"), QString::number(id)}), QStringLiteral("ok"));

    EXPECT_EQ(c.postError(), QStringLiteral("The record was deleted by another user after it was read; "
                                            "the change has not been saved"));
    EXPECT_EQ(c.query.state(), DataSetState::Edit);
    EXPECT_EQ(c.field("nazev")->text(), QStringLiteral("Oprava"));
    EXPECT_EQ(c.catalogue.count(), 2);
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select count(*) from zeplo where nazev = 'Oprava'")).toInt(), 0);
}

TEST_P(TwoCopies, ARowTheOtherCopyDeletedWhileListedKeepsItsLineEmptyCannotBeEditedAndDeletesAsDeleted)
{
    Copy c(GetParam());
    c.query.moveBy(1);
    const int id = int(c.field("id")->asInteger());
    ASSERT_EQ(c.other({QStringLiteral("delete"), QString::number(id)}), QStringLiteral("ok"));

    // The list still has its line. A file reads it again and finds it empty:
    // the book is gone; a server shows the values read with the list's keys.
    c.query.first();
    c.query.moveBy(1);
    EXPECT_EQ(c.query.recNo(), 2);
    if (GetParam() == CatalogueEngine::Server) {
        EXPECT_EQ(c.field("nazev")->displayText(), QStringLiteral("Kniha 2"));
    } else {
        EXPECT_TRUE(c.field("id")->isNull());
        EXPECT_EQ(c.field("nazev")->displayText(), QString());
    }
    c.query.last();
    EXPECT_EQ(c.field("nazev")->displayText(), QStringLiteral("Kniha 3"));
    c.query.moveBy(-1);

    try {
        c.query.edit();
        ADD_FAILURE() << "a deleted row was edited";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("The record cannot be edited: another user has deleted it"));
    }
    EXPECT_EQ(c.query.state(), DataSetState::Browse);

    // Deleting it is done already: the line goes, the next row takes its place.
    c.query.deleteRecord();
    EXPECT_EQ(c.field("nazev")->displayText(), QStringLiteral("Kniha 3"));
    QStringList titles;
    for (c.query.first(); !c.query.eof(); c.query.next())
        titles << c.field("nazev")->displayText();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Kniha 1"), QStringLiteral("Kniha 3")}));
    EXPECT_EQ(c.catalogue.count(), 2);
}

TEST_P(TwoCopies, ALockedCatalogueGivesAClearErrorAfterABoundedWaitAndWorksOnceFreed)
{
    EXPECT_EQ(Engine::lockWaitMs(), 5000);
    // The wait is the engine's; a short one keeps the test from sleeping through it.
    Engine::setLockWaitMs(300);
    struct Restore {
        ~Restore() { Engine::setLockWaitMs(5000); }
    } restore;
    Copy c(GetParam());
    c.catalogue.lockWriters();

    c.query.append();
    c.field("autor")->setAsText(QStringLiteral("Nový"));
    c.field("nazev")->setAsText(QStringLiteral("Za zámkem"));
    QElapsedTimer waited;
    waited.start();
    const QString error = c.postError();
    // It waited the whole bound, and not much past it.
    EXPECT_GE(waited.elapsed(), 300);
    EXPECT_LT(waited.elapsed(), 4000);
    EXPECT_TRUE(error.startsWith(QStringLiteral("The catalogue is locked by another program and stayed locked for 0.3 "
                                                "seconds; try again when it has finished")))
        << error.toStdString();
    EXPECT_EQ(c.query.state(), DataSetState::Insert);
    EXPECT_EQ(c.field("nazev")->text(), QStringLiteral("Za zámkem"));

    c.catalogue.unlock();
    c.query.post();
    EXPECT_EQ(c.query.state(), DataSetState::Browse);
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select count(*) from zeplo where nazev = 'Za zámkem'")).toInt(), 1);
}

// A book renamed by the other copy while the list is walked in title order:
// one renamed past the reading position keeps its place and is listed once,
// and one renamed from ahead of it to behind it is listed too.
TEST_P(TwoCopies, ABookRenamedWhileTheListIsWalkedIsListedOnceAndNoneIsMissed)
{
    TempCatalogue catalogue(GetParam());
    for (int i = 0; i < 150; ++i)
        catalogue.addBook(QStringLiteral("Autor"), QStringLiteral("T%1").arg(i, 3, 10, QLatin1Char('0')));
    ResultSet query(QStringLiteral("Query1"));
    query.setRequestLive(true);
    query.setSql({kBookColumns, QString(), QStringLiteral("order by nazev")});
    query.open();
    QList<qint64> ids;
    for (int i = 0; i < 10; ++i, query.next())
        ids << query.fieldByName(QStringLiteral("id"))->asInteger();
    catalogue.exec(QStringLiteral("update zeplo set nazev = 'T999' where nazev = 'T005'"));
    catalogue.exec(QStringLiteral("update zeplo set nazev = 'S140' where nazev = 'T140'"));
    for (; !query.eof(); query.next())
        ids << query.fieldByName(QStringLiteral("id"))->asInteger();
    EXPECT_EQ(ids.size(), 150);
    EXPECT_EQ(QSet<qint64>(ids.begin(), ids.end()).size(), 150) << "a book listed twice";
    EXPECT_EQ(query.recordCount(), 150);
}
