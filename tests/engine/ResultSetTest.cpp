#include <gtest/gtest.h>

#include <algorithm>

#include <QMap>

#include "ErrorOf.h"
#include "TempCatalogue.h"
#include "WindowLink.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

const QString kBase = TempCatalogue::kBaseQuery;


struct Fixture {
    TempCatalogue catalogue;
    ResultSet query{QStringLiteral("Query1")};
    DataSource source;
    WindowLink link;
    Fixture(CatalogueEngine engine, int rows, int lines = 5) : catalogue(engine)
    {
        catalogue.addBooks(rows);
        link.lines = lines;
        source.setDataSet(&query);
        link.setDataSource(&source);
        query.setRequestLive(true);
        query.setSql({kBase, QString(), QString()});
        query.open();
    }
    QString nazev() { return query.fieldByName(QStringLiteral("Nazev"))->displayText(); }
};

} // namespace

class ResultSetTest : public testing::TestWithParam<CatalogueEngine> {};
INSTANTIATE_TEST_SUITE_P(Engines, ResultSetTest, kEachEngine, engineName);
// The whole suite once more over an encrypted connection that verifies the server's certificate and name.
INSTANTIATE_TEST_SUITE_P(Tls, ResultSetTest, testing::Values(CatalogueEngine::ServerTls), engineName);

TEST_P(ResultSetTest, OpensOnFirstRowWithTheNineFieldsOfTheBookRecord)
{
    Fixture f(GetParam(), 3);
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    ASSERT_EQ(f.query.fields().size(), 9u);
    EXPECT_EQ(f.query.fields()[0]->kind(), FieldKind::Integer);
    EXPECT_EQ(f.query.fields()[1]->kind(), FieldKind::Text);
    EXPECT_EQ(f.query.fields()[1]->size(), 40);
    EXPECT_EQ(f.query.fields()[5]->kind(), FieldKind::Memo);
    EXPECT_EQ(f.query.fields()[6]->kind(), FieldKind::Logical);
    EXPECT_TRUE(f.query.canModify());
    EXPECT_TRUE(f.query.bof());
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 1"));
    EXPECT_EQ(f.query.windowRowCount(), 3);
}

TEST_P(ResultSetTest, MovesStopAtTheEndsAndKeepTheWindowAroundTheCurrentRow)
{
    Fixture f(GetParam(), 12, 5);
    EXPECT_EQ(f.query.moveBy(7), 7);
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 8"));
    EXPECT_EQ(f.query.activeLine(), 4);   // scrolled: the current row on the bottom line
    EXPECT_EQ(f.query.moveBy(100), 4);
    EXPECT_TRUE(f.query.eof());
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 12"));
    f.query.first();
    EXPECT_EQ(f.query.activeLine(), 0);
    EXPECT_TRUE(f.query.bof());
    f.query.last();
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 12"));
    EXPECT_EQ(f.query.activeLine(), 4);
    EXPECT_EQ(f.query.windowRowCount(), 5);
    // Numbered when the engine read every row to get there; a keyset read
    // from the end knows the last row's place from the end only.
    EXPECT_EQ(f.query.recNo(), f.query.hasSequenceNumbers() ? 12 : -1);
}

TEST_P(ResultSetTest, OpeningReadsOnlyAsFarAsTheWindow)
{
    Fixture f(GetParam(), 1000, 10);
    // With the rollback journal every key is read at once, so that no read
    // lock outlasts the opening; the rows' values are still read as needed.
    const bool whole = GetParam() == CatalogueEngine::FileJournal;
    EXPECT_EQ(f.query.hasSequenceNumbers(), whole);
    if (whole) {
        EXPECT_EQ(f.query.knownRecordCount(), 1000);
    } else {
        // A file steps as far as the window; a server reads a first batch in one statement.
        EXPECT_LE(f.query.knownRecordCount(), GetParam() == CatalogueEngine::File ? 11 : 64);
    }
    EXPECT_EQ(f.query.recordCount(), 1000);
}

TEST_P(ResultSetTest, AppendShowsTheNewRowAfterTheLastAndPostKeepsItWhereItWasEntered)
{
    Fixture f(GetParam(), 3, 10);
    f.query.append();
    EXPECT_EQ(f.query.state(), DataSetState::Insert);
    EXPECT_EQ(f.query.windowRowCount(), 4);
    EXPECT_EQ(f.query.activeLine(), 3);
    Field *nazev = f.query.fieldByName(QStringLiteral("nazev"));
    EXPECT_TRUE(nazev->isNull());
    nazev->setAsText(QStringLiteral("Nová kniha"));
    f.query.post();
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.query.activeLine(), 3);
    EXPECT_EQ(f.nazev(), QStringLiteral("Nová kniha"));
    EXPECT_EQ(f.query.fieldByName(QStringLiteral("id"))->asInteger(), 4);
    EXPECT_EQ(f.catalogue.count(), 4);
    EXPECT_TRUE(f.catalogue.scalar(QStringLiteral("select vlastnim from zeplo where id=4")).isNull());
}

TEST_P(ResultSetTest, AppendOnAFullWindowPutsTheNewRowOnTheBottomLine)
{
    Fixture f(GetParam(), 20, 5);
    f.query.append();
    EXPECT_EQ(f.query.activeLine(), 4);
    EXPECT_EQ(f.query.windowValue(3, 2).toString(), QStringLiteral("Kniha 20"));
    f.query.cancel();
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 20"));
    EXPECT_EQ(f.catalogue.count(), 20);
}

// The catalogue file's keyset reads the last rows from the end of the list
// and the first ones from its start. Where the two meet they must make one
// list in one order (equal titles ordered by row id), with the rows posted and
// deleted at the end meanwhile.
TEST_P(ResultSetTest, ReadFromBothEndsTheListIsOneListInOneOrder)
{
    // In row id order, by title, and by year from the latest, books without a year last.
    for (const QString &order : {QString(), QStringLiteral("order by nazev"), QStringLiteral("order by rok_vydani desc, nazev")}) {
        // More books than a server reads at once, so that the ends are read apart.
        constexpr int kBooks = 200;
        Fixture f(GetParam(), 0, 5);
        f.catalogue.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
                                        "insert into zeplo (autor, nazev, rok_vydani) select 'A', 'Kniha ' || (i % 7), "
                                        "case when i % 5 = 0 then null else 1900 + i % 3 end from n order by i")
                             .arg(kBooks));   // seven titles over the books
        // Ids of one and of two base-64 digits among equal titles.
        f.catalogue.exec(QStringLiteral("update zeplo set id = id + 1000 where id > 20"));
        f.query.setSql({kBase, QString(), order});
        f.query.open();
        QMap<qint64, int> title, year;   // no year is 0
        for (qint64 i = 1; i <= kBooks; ++i) {
            title[i > 20 ? i + 1000 : i] = int(i % 7);
            year[i > 20 ? i + 1000 : i] = i % 5 == 0 ? 0 : int(1900 + i % 3);
        }
        const bool byYear = order.contains(QStringLiteral("rok_vydani"));
        const auto inOrder = [&] {
            QList<qint64> ids = title.keys();
            if (!order.isEmpty())
                std::stable_sort(ids.begin(), ids.end(), [&](qint64 a, qint64 b) {
                    return byYear && year[a] != year[b] ? year[a] > year[b] : title[a] < title[b];
                });
            return ids;
        };
        const auto id = [&] { return f.query.fieldByName(QStringLiteral("id"))->asInteger(); };

        f.query.last();
        EXPECT_EQ(id(), inOrder().last());
        // Known only from the end so far, unless every key was read at the opening.
        EXPECT_EQ(f.query.recNo(), GetParam() == CatalogueEngine::FileJournal ? kBooks : -1);
        f.query.append();
        f.query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Kniha 0"));
        f.query.post();
        const qint64 added = id();
        EXPECT_EQ(f.query.activeLine(), 4);
        f.query.prior();
        const qint64 gone = id();
        f.query.deleteRecord();
        EXPECT_EQ(id(), added);   // the row that followed takes the place
        // Posted here it stays after the last row, whatever its title.
        QList<qint64> expected = inOrder();
        expected.removeOne(gone);
        expected << added;

        QList<qint64> walked{id()};
        while (f.query.moveBy(-1) != 0)
            walked.prepend(id());
        EXPECT_EQ(walked, expected) << order.toStdString();
        EXPECT_TRUE(f.query.hasSequenceNumbers());
        EXPECT_EQ(f.query.recNo(), 1);
        EXPECT_EQ(f.query.knownRecordCount(), expected.size());
        f.query.last();
        EXPECT_EQ(f.query.recNo(), expected.size());

        // Opened again, the rows read forwards meet the ones read from the end.
        title.remove(gone);
        year.remove(gone);
        title[added] = 0;
        year[added] = 0;
        f.query.close();
        f.query.open();
        f.query.last();
        f.query.first();
        walked = {id()};
        while (f.query.moveBy(1) != 0)
            walked << id();
        EXPECT_EQ(walked, inOrder()) << order.toStdString();
        EXPECT_TRUE(f.query.eof());
    }
}

TEST_P(ResultSetTest, EditOnAnEmptyResultStartsANewRow)
{
    Fixture f(GetParam(), 0);
    EXPECT_TRUE(f.query.isEmpty());
    f.query.edit();
    EXPECT_EQ(f.query.state(), DataSetState::Insert);
    f.query.fieldByName(QStringLiteral("Autor"))->setAsText(QStringLiteral("Čapek Karel"));
    f.query.post();
    EXPECT_EQ(f.catalogue.count(), 1);
}

TEST_P(ResultSetTest, EditAndPostWritesTheRowAndKeepsItsLine)
{
    Fixture f(GetParam(), 10, 5);
    f.query.moveBy(2);
    f.query.edit();
    EXPECT_EQ(f.query.state(), DataSetState::Edit);
    f.query.fieldByName(QStringLiteral("rok_vydani"))->setAsText(QStringLiteral("1984"));
    f.query.post();
    EXPECT_EQ(f.query.activeLine(), 2);
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select rok_vydani from zeplo where id=3")).toLongLong(), 1984);
}

TEST_P(ResultSetTest, MovingPostsAChangedPendingRowAndDropsAnUnchangedOne)
{
    Fixture f(GetParam(), 5);
    f.query.edit();
    f.query.next();   // unchanged: dropped
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    f.query.edit();
    f.query.fieldByName(QStringLiteral("autor"))->setAsText(QStringLiteral("Hašek"));
    f.query.next();   // changed: posted
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select autor from zeplo where id=2")).toString(), QStringLiteral("Hašek"));
}

TEST_P(ResultSetTest, DeleteMakesTheFollowingRowCurrentOrThePreviousAtTheEnd)
{
    Fixture f(GetParam(), 5, 10);
    f.query.moveBy(2);
    f.query.deleteRecord();
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 4"));
    EXPECT_EQ(f.query.activeLine(), 2);
    f.query.last();
    f.query.deleteRecord();
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 4"));
    EXPECT_EQ(f.catalogue.count(), 3);
    f.query.deleteRecord();
    f.query.deleteRecord();
    f.query.deleteRecord();
    EXPECT_TRUE(f.query.isEmpty());
    EXPECT_THROW(f.query.deleteRecord(), Error);
}

TEST_P(ResultSetTest, DeleteWhileANewRowIsPendingDropsItAndDeletesNothing)
{
    Fixture f(GetParam(), 3);
    f.query.append();
    f.query.deleteRecord();
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.catalogue.count(), 3);
}

TEST_P(ResultSetTest, MessagesCarryTheSetsName)
{
    Fixture f(GetParam(), 1);
    try {
        f.query.post();
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Query1: Dataset not in edit or insert mode"));
    }
    f.query.close();
    try {
        f.query.append();
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Query1: Cannot perform this operation on a closed dataset"));
    }
    f.query.sqlClear();
    try {
        f.query.open();
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Query1: No SQL statement available"));
    }
    EXPECT_FALSE(f.query.active());
}

TEST_P(ResultSetTest, ReplacingTheTextClosesAndAFailedOpeningStaysClosed)
{
    Fixture f(GetParam(), 2);
    f.query.setSql({kBase, QStringLiteral("where (nazev like\"%1%\")"), QString()});
    EXPECT_FALSE(f.query.active());
    f.query.open();
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 1"));
    f.query.setSql({kBase, QStringLiteral("where nonsense = 1"), QString()});
    EXPECT_THROW(f.query.open(), EngineError);
    EXPECT_FALSE(f.query.active());
    EXPECT_EQ(f.query.sql().size(), 3);
    // A quote doubled in a literal is part of it, to the text's very end; a literal left open is refused.
    f.query.setSql({kBase, QStringLiteral("where (nazev like\"%1%\") and nazev <> 'O''Brien'"), QString()});
    f.query.open();
    EXPECT_EQ(f.nazev(), QStringLiteral("Kniha 1"));
    f.query.setSql({kBase, QStringLiteral("where nazev = 'Kniha 1"), QString()});
    EXPECT_EQ(errorOf([&] { f.query.open(); }), QStringLiteral("unterminated string literal in the SQL text"));
    EXPECT_FALSE(f.query.active());
}

// More different searches than the engine keeps prepared, and two lists of one
// text open at once: each gives its own rows, the first search once more too.
TEST_P(ResultSetTest, ManySearchesInTurnAndTwoListsOfOneTextEachGiveTheirOwnRows)
{
    Fixture f(GetParam(), 130);
    const auto search = [&](int from) {
        f.query.setSql({kBase, QStringLiteral("where id >= %1").arg(from), QString()});
        f.query.open();
        return f.query.fieldByName(QStringLiteral("id"))->asInteger();
    };
    for (int from = 1; from <= 125; ++from)
        ASSERT_EQ(search(from), from);
    EXPECT_EQ(search(1), 1);
    ResultSet twin(QStringLiteral("Query2"));
    twin.setSql(f.query.sql());
    twin.open();
    twin.last();
    f.query.last();
    EXPECT_EQ(twin.fieldByName(QStringLiteral("id"))->asInteger(), f.query.fieldByName(QStringLiteral("id"))->asInteger());
    twin.close();
    f.query.close();
    EXPECT_EQ(search(2), 2);
}

TEST_P(ResultSetTest, IntegerFieldsRejectWhatIsNotAWholeNumberInRange)
{
    Fixture f(GetParam(), 1);
    f.query.edit();
    Field *rok = f.query.fieldByName(QStringLiteral("Rok_vydani"));
    for (const QString &bad : {QStringLiteral("-"), QStringLiteral("+"), QStringLiteral("12a"), QStringLiteral(" 12"),
                               QStringLiteral("32768"), QStringLiteral("١٢")}) {
        try {
            rok->setAsText(bad);
            ADD_FAILURE() << bad.toStdString();
        } catch (const Error &e) {
            EXPECT_EQ(e.message(), QStringLiteral("'%1' is not a valid integer value for field 'rok_vydani'").arg(bad));
        }
    }
    rok->setAsText(QStringLiteral("-32768"));
    EXPECT_EQ(rok->asInteger(), -32768);
    rok->setAsText(QString());
    EXPECT_TRUE(rok->isNull());
}

// A text column's size counts characters, on the server as in a file: a
// character beyond the Basic Multilingual Plane is one, and a cut never
// stores half of one.
TEST_P(ResultSetTest, TextsAreCutToTheColumnsSizeInCharactersNeverWithinOne)
{
    Fixture f(GetParam(), 1);
    const QString emoji = QStringLiteral("\U0001F4DA");
    f.query.edit();
    Field *nazev = f.query.fieldByName(QStringLiteral("nazev"));
    nazev->setAsText(QStringLiteral("a") + emoji.repeated(60));
    EXPECT_EQ(nazev->text(), QStringLiteral("a") + emoji.repeated(59));
    f.query.fieldByName(QStringLiteral("autor"))->setAsText(emoji.repeated(40));
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select nazev from zeplo")).toString(), QStringLiteral("a") + emoji.repeated(59));
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select autor from zeplo")).toString(), emoji.repeated(40));
    f.query.close();
    f.query.open();
    EXPECT_EQ(f.query.fieldByName(QStringLiteral("autor"))->displayText(), emoji.repeated(40));
}

TEST_P(ResultSetTest, RequiredColumnStopsThePostAndKeepsThePendingRow)
{
    TempCatalogue catalogue(GetParam(), "CREATE TABLE zeplo (id INTEGER PRIMARY KEY AUTOINCREMENT, autor VARCHAR(40) NOT NULL, "
                            "nazev VARCHAR(60), zanr VARCHAR(20), rok_vydani SMALLINT, popis MEMO, vlastnim BOOLEAN, "
                            "precteno BOOLEAN, pujceno MEMO)");
    ResultSet query(QStringLiteral("Query1"));
    query.setRequestLive(true);
    query.setSql({kBase, QString(), QString()});
    query.open();
    query.append();
    query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Bez autora"));
    try {
        query.post();
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Field 'autor' must have a value"));
    }
    EXPECT_EQ(query.state(), DataSetState::Insert);
    EXPECT_EQ(query.fieldByName(QStringLiteral("nazev"))->displayText(), QStringLiteral("Bez autora"));
    query.fieldByName(QStringLiteral("autor"))->setAsText(QStringLiteral("Někdo"));
    query.post();
    EXPECT_EQ(catalogue.count(), 1);
}

// A list asked for as one that cannot be changed is read whole at once: on
// every engine the same rows in the same Czech order, searched, grouped or
// counted; neither the list nor its engine's cursor takes a write.
TEST_P(ResultSetTest, AListThatCannotBeChangedGivesTheSameRowsOnEveryEngineAndTakesNoWrite)
{
    Fixture f(GetParam(), 0);
    for (const char *title : {"Zeman", "chata", "Čapek", "Hrad", "Cibulka"})
        f.catalogue.addBook(QStringLiteral("Autor"), QString::fromUtf8(title), QStringLiteral("Beletrie"));
    f.catalogue.addBook(QStringLiteral("Jiný"), QStringLiteral("Kniha"), QStringLiteral("Poezie"));
    const auto rows = [](const QStringList &sql) {
        ResultSet list(QStringLiteral("Query2"));
        list.setSql(sql);
        list.open();
        EXPECT_FALSE(list.canModify());
        QStringList out;
        for (list.first(); !list.eof(); list.next()) {
            QStringList values;
            for (const auto &field : list.fields())
                values << field->displayText();
            out << values.join(QLatin1Char('|'));
        }
        return out;
    };
    EXPECT_EQ(rows({QStringLiteral("select nazev from zeplo"), QStringLiteral("where (autor like\"%UT%\")"),
                    QStringLiteral("order by nazev")}),
              (QStringList{QStringLiteral("Cibulka"), QStringLiteral("Čapek"), QStringLiteral("Hrad"),
                           QStringLiteral("chata"), QStringLiteral("Zeman")}));
    EXPECT_EQ(rows({QStringLiteral("select zanr, count(*) as pocet from zeplo group by zanr order by zanr")}),
              (QStringList{QStringLiteral("Beletrie|5"), QStringLiteral("Poezie|1")}));
    EXPECT_EQ(rows({QStringLiteral("select count(distinct(id)) as pocet from zeplo")}), QStringList{QStringLiteral("6")});

    ResultSet list(QStringLiteral("Query2"));
    list.setSql({kBase});
    list.open();
    EXPECT_EQ(errorOf([&] { list.append(); }), QStringLiteral("Query2: Cannot modify a read-only dataset"));
        const std::unique_ptr<Cursor> cursor = Engine::openDefault()->openCursor(kBase, false);
    EXPECT_FALSE(cursor->updatable());
    const RowValues row = cursor->row(0);
    const QString refused = QStringLiteral("The result of this query cannot be changed");
    EXPECT_EQ(errorOf([&] { cursor->update(0, row, row); }), refused);
    EXPECT_EQ(errorOf([&] { cursor->insert(0, row); }), refused);
    EXPECT_EQ(errorOf([&] { cursor->remove(0, row); }), refused);
    EXPECT_EQ(errorOf([&] { list.deleteRecord(); }), refused);
    EXPECT_EQ(list.state(), DataSetState::Browse);
    EXPECT_EQ(f.catalogue.count(), 6);
}
