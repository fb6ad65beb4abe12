// A catalogue or a machine that is not as it should be gives the expected
// behaviour or a clear error: never a crash, never a lost or changed record.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>

#include "ChildRoles.h"
#include "TempCatalogue.h"
#include "app/MainWindow.h"
#include "app/Application.h"
#include "widgets/ErrorGuard.h"
#include "engine/SqliteEngine.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

QByteArray digest(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Opens the base query; returns the error's message, empty when it opened.
QString openError(ResultSet &q)
{
    q.setRequestLive(true);
    q.setSql({kBookColumns, QString(), QString()});
    try {
        q.open();
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

template <class F>
QString errorOf(F &&f)
{
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

const char *kWithoutPujceno =
    "CREATE TABLE zeplo (id INTEGER PRIMARY KEY AUTOINCREMENT, autor VARCHAR(40), nazev VARCHAR(60), "
    "zanr VARCHAR(20), rok_vydani SMALLINT, popis MEMO, vlastnim BOOLEAN, precteno BOOLEAN)";
const char *kWithExtraColumn =
    "CREATE TABLE zeplo (id INTEGER PRIMARY KEY AUTOINCREMENT, autor VARCHAR(40), nazev VARCHAR(60), "
    "zanr VARCHAR(20), rok_vydani SMALLINT, popis MEMO, vlastnim BOOLEAN, precteno BOOLEAN, pujceno MEMO, "
    "isbn VARCHAR(13) DEFAULT 'neznámé')";
const char *kWithRequiredExtraColumn =
    "CREATE TABLE zeplo (id INTEGER PRIMARY KEY AUTOINCREMENT, autor VARCHAR(40), nazev VARCHAR(60), "
    "zanr VARCHAR(20), rok_vydani SMALLINT, popis MEMO, vlastnim BOOLEAN, precteno BOOLEAN, pujceno MEMO, "
    "isbn VARCHAR(13) NOT NULL)";

} // namespace

TEST(HostileCatalogue, AFileWithoutWritePermissionIsShownButNeverChanged)
{
    TempCatalogue c;
    c.addBooks(3);
    ASSERT_TRUE(QFile::setPermissions(c.file(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = digest(c.file());
    {
        ResultSet q(QStringLiteral("Query1"));
        ASSERT_EQ(openError(q), QString());
        EXPECT_FALSE(q.canModify());
        EXPECT_EQ(q.fieldByName(QStringLiteral("nazev"))->displayText(), QStringLiteral("Kniha 1"));
        const QString refused = QStringLiteral("Query1: Cannot modify a read-only dataset");
        EXPECT_EQ(errorOf([&] { q.append(); }), refused);
        EXPECT_EQ(errorOf([&] { q.edit(); }), refused);
        EXPECT_EQ(errorOf([&] { q.deleteRecord(); }), refused);
        EXPECT_EQ(q.state(), DataSetState::Browse);
        EXPECT_EQ(q.fieldByName(QStringLiteral("nazev"))->displayText(), QStringLiteral("Kniha 1"));
        q.last();
        EXPECT_EQ(q.fieldByName(QStringLiteral("nazev"))->displayText(), QStringLiteral("Kniha 3"));
    }
    EXPECT_EQ(digest(c.file()), before);
    QFile::setPermissions(c.file(), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(c.count(), 3);
}

class HostileTable : public testing::TestWithParam<CatalogueEngine> {
protected:
    bool onServer() const { return GetParam() == CatalogueEngine::Server; }
};
INSTANTIATE_TEST_SUITE_P(Engines, HostileTable, kEachEngine, engineName);

TEST_P(HostileTable, APostThatStoresNothingIsAnErrorAndKeepsThePendingRow)
{
    TempCatalogue c(GetParam());
    c.addBooks(1);
    // The table's own rules drop every new and changed row without a word.
    if (onServer()) {
        c.exec(QStringLiteral("create function dropped() returns trigger language plpgsql as 'begin return null; end'"));
        c.exec(QStringLiteral("create trigger dropped before insert or update on zeplo for each row execute function dropped()"));
    } else {
        c.exec(QStringLiteral("create trigger dropped before insert on zeplo begin select raise(ignore); end; "
                              "create trigger unchanged before update on zeplo begin select raise(ignore); end"));
    }
    ResultSet q(QStringLiteral("Query1"));
    ASSERT_EQ(openError(q), QString());
    q.append();
    q.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Ztracená"));
    EXPECT_TRUE(errorOf([&] { q.post(); }).contains(QStringLiteral("stored no row for the new record")));
    EXPECT_EQ(q.state(), DataSetState::Insert);
    EXPECT_EQ(q.fieldByName(QStringLiteral("nazev"))->text(), QStringLiteral("Ztracená"));
    q.cancel();
    q.edit();
    q.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Nezměněná"));
    EXPECT_FALSE(errorOf([&] { q.post(); }).isEmpty());
    EXPECT_EQ(q.state(), DataSetState::Edit);
    EXPECT_EQ(c.count(), 1);
    EXPECT_EQ(c.scalar(QStringLiteral("select nazev from zeplo")).toString(), QStringLiteral("Kniha 1"));
}

TEST_P(HostileTable, ATableWithoutAColumnIsRefusedWithTheEnginesMessage)
{
    TempCatalogue c(GetParam(), kWithoutPujceno);
    c.exec(QStringLiteral("insert into zeplo (autor, nazev) values ('A', 'B')"));
    ResultSet q(QStringLiteral("Query1"));
    EXPECT_EQ(openError(q).section(QLatin1Char('\n'), 0, 0), onServer() ? QStringLiteral("column \"pujceno\" does not exist")
                                       : QStringLiteral("no such column: pujceno"));
    EXPECT_FALSE(q.active());
    EXPECT_EQ(c.count(), 1);
}

TEST_P(HostileTable, AnExtraColumnIsLeftToItsDefaultAndARequiredOneStopsThePost)
{
    {
        TempCatalogue c(GetParam(), kWithExtraColumn);
        c.addBooks(1);
        ResultSet q(QStringLiteral("Query1"));
        ASSERT_EQ(openError(q), QString());
        EXPECT_EQ(q.fields().size(), 9u);
        q.append();
        q.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Nová"));
        q.post();
        EXPECT_EQ(c.scalar(QStringLiteral("select isbn from zeplo where nazev = 'Nová'")).toString(),
                  QStringLiteral("neznámé"));
        q.first();
        q.edit();
        q.fieldByName(QStringLiteral("autor"))->setAsText(QStringLiteral("Jiný"));
        q.post();
        EXPECT_EQ(c.scalar(QStringLiteral("select autor from zeplo where id = 1")).toString(), QStringLiteral("Jiný"));
    }
    {
        TempCatalogue c(GetParam(), kWithRequiredExtraColumn);
        ResultSet q(QStringLiteral("Query1"));
        ASSERT_EQ(openError(q), QString());
        q.append();
        q.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Nová"));
        EXPECT_EQ(errorOf([&] { q.post(); }).section(QLatin1Char('\n'), 0, 0),
                  onServer() ? QStringLiteral("null value in column \"isbn\" of relation \"zeplo\" violates not-null "
                                              "constraint")
                             : QStringLiteral("NOT NULL constraint failed: zeplo.isbn"));
        EXPECT_EQ(q.state(), DataSetState::Insert);
        EXPECT_EQ(q.fieldByName(QStringLiteral("nazev"))->text(), QStringLiteral("Nová"));
        EXPECT_EQ(c.count(), 0);
    }
}

TEST(HostileCatalogue, AFileThatIsNotADatabaseGivesAClearError)
{
    TempCatalogue c(nullptr);
    writeFile(c.file(), QByteArray("Toto není databáze, jen text.\n").repeated(200));
    const QByteArray before = digest(c.file());
    ResultSet q(QStringLiteral("Query1"));
    EXPECT_EQ(openError(q), QStringLiteral("file is not a database"));
    EXPECT_FALSE(q.active());
    EXPECT_EQ(digest(c.file()), before);

    // An empty file is an empty database: the table is missing.
    writeFile(c.file(), QByteArray());
    ResultSet empty(QStringLiteral("Query1"));
    EXPECT_EQ(openError(empty), QStringLiteral("no such table: zeplo"));
}

TEST(HostileCatalogue, ATruncatedCatalogueFailsWithAnErrorWhereverItIsRead)
{
    TempCatalogue source(TempCatalogue::kSchema, false);
    for (int i = 0; i < 40; ++i)
        source.addBook(QStringLiteral("Autor %1").arg(i), QStringLiteral("Kniha %1").arg(i), QString(), QVariant(),
                       QVariant(), QVariant(), QVariant(), QString(3000, QLatin1Char('x')));
    QFile f(source.file());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    f.close();
    for (const qsizetype keep : {whole.size() / 2, qsizetype(4096), qsizetype(100)}) {
        TempCatalogue c(nullptr);
        writeFile(c.file(), whole.left(keep));
        ResultSet q(QStringLiteral("Query1"));
        QString error = openError(q);
        // Opening reads only the first rows; walking reads the rest.
        if (error.isEmpty())
            error = errorOf([&] {
                for (q.first(); !q.eof(); q.next())
                    q.fieldByName(QStringLiteral("popis"))->value();
            });
        EXPECT_FALSE(error.isEmpty()) << keep;
    }
}

TEST(HostileCatalogue, AtStartUpABrokenCatalogueStopsTheProgramWithTheEnginesMessage)
{
    // The start-up shows this text in its "Application Error" box and ends
    // with exit code 1; the main window is never shown half made.
    const auto startupError = [] {
        try {
            MainWindow form;
        } catch (const EngineError &e) {
            return startupErrorText(e);
        }
        return QString();
    };
    {
        TempCatalogue c(kWithoutPujceno);
        const QString text = startupError();
        EXPECT_TRUE(text.startsWith(QStringLiteral("Exception EngineError in module "))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(QStringLiteral(".\nno such column: pujceno."))) << text.toStdString();
    }
    {
        TempCatalogue c(nullptr);
        writeFile(c.file(), QByteArray("not a catalogue at all\n").repeated(100));
        EXPECT_TRUE(startupError().endsWith(QStringLiteral(".\nfile is not a database.")));
    }
    {
        // A catalogue named on the command line that is not there: a file, a server.
        TempCatalogue c(nullptr);
        chooseCatalogue({QStringLiteral("zeplo"), QStringLiteral("--catalogue"), QStringLiteral("jinde.db")});
        EXPECT_TRUE(startupError().contains(QStringLiteral("jinde.db does not exist")));
        chooseCatalogue({QStringLiteral("zeplo"), QStringLiteral("--catalogue=postgresql://ja:tajne@/knihy?host=/nikde")});
        const QString text = startupError();
        EXPECT_TRUE(text.contains(QStringLiteral("Cannot connect to the catalogue server postgresql://ja@/knihy?host=/nikde:\n")))
            << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("tajne")));
        // A password typed into the URI with every character that ends a part of it.
        chooseCatalogue({QStringLiteral("zeplo"), QStringLiteral("--catalogue=postgresql://ja:t?a@j#n/e%@/knihy?host=/nikde")});
        const QString awkward = startupError();
        EXPECT_TRUE(awkward.contains(QStringLiteral("Cannot connect to the catalogue server postgresql://ja@/knihy?host=/nikde:\n")))
            << awkward.toStdString();
        for (const char *piece : {"t?a", "j#n", "n/e", "e%"})
            EXPECT_FALSE(awkward.contains(QLatin1String(piece))) << awkward.toStdString();
        EXPECT_THROW(chooseCatalogue({QStringLiteral("zeplo"), QStringLiteral("--catalogue")}), Error);
        EXPECT_THROW(chooseCatalogue({QStringLiteral("zeplo"), QStringLiteral("--catalogue=")}), Error);
        // Without the option, the environment's choice; an empty one is a mistake to name.
        qputenv("ZEPLO_CATALOGUE", "");
        EXPECT_THROW(chooseCatalogue({QStringLiteral("zeplo")}), Error);
        qputenv("ZEPLO_CATALOGUE", "odjinud.db");
        chooseCatalogue({QStringLiteral("zeplo")});
        EXPECT_EQ(Engine::catalogue(), QStringLiteral("odjinud.db"));
        chooseCatalogue({QStringLiteral("zeplo"), QStringLiteral("--catalogue=zde.db")});
        EXPECT_EQ(Engine::catalogue(), QStringLiteral("zde.db"));
        qunsetenv("ZEPLO_CATALOGUE");
        Engine::setCatalogue(QString());
    }
}
