// Books another computer changes show on this one without a command: the
// rows on screen are read again, the list stays as it was, an edit in
// progress is left alone, and a desktop nobody disturbs costs the server
// nothing.
#include <gtest/gtest.h>

#include <optional>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTest>

#include <libpq-fe.h>

#include "Children.h"
#include "TempCatalogue.h"
#include "app/FreshRows.h"
#include "app/MainWindow.h"
#include "books/Commands.h"
#include "engine/ChangeWatch.h"
#include "engine/Field.h"
#include "engine/PgEngine.h"
#include "engine/ResultSet.h"
#include "widgets/FieldMemo.h"

using namespace zeplo;

namespace {

// This desktop: the main window over 30 books, its grid showing the first ones.
struct Desktop {
    explicit Desktop(CatalogueEngine engine, bool notices = true) : catalogue(engine)
    {
        catalogue.addBooks(30);
        if (notices)
            catalogue.addChangeNotices();
    }
    void open()
    {
        form.emplace();
        form->skipSplash();
        form->show();
        QApplication::setActiveWindow(&*form);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&*form));
    }
    ResultSet &books() { return *child<ResultSet>(*form, "Query1"); }
    FreshRows &fresh() { return *child<FreshRows>(*form, "FreshRows"); }
    ChangeWatch &watch() { return *fresh().watch(); }
    QString cell(int line, const char *column)
    {
        return books().windowValue(line, books().fieldByName(QLatin1String(column))->index()).toString();
    }
    // Within the two seconds a change may take to show.
    static bool soon(const std::function<bool()> &done) { return QTest::qWaitFor(done, 2000); }
    quint64 trips() { return std::dynamic_pointer_cast<PgEngine>(Engine::openDefault())->roundTrips(); }
    QVariant listening(const char *what)
    {
        return catalogue.scalar(QStringLiteral("select %1 from pg_stat_activity where datname = current_database() "
                                               "and application_name = 'zeplo listening'")
                                    .arg(QLatin1String(what)));
    }

    TempCatalogue catalogue;
    std::optional<MainWindow> form;
};

} // namespace

class ChangesByOthers : public testing::TestWithParam<CatalogueEngine> {};
INSTANTIATE_TEST_SUITE_P(Engines, ChangesByOthers, kEachEngine, engineName);

TEST_P(ChangesByOthers, BooksChangedOnScreenShowWithoutACommandAndAnEditInProgressKeepsItsValues)
{
    Desktop d(GetParam());
    d.open();
    const QString count = child<QLabel>(*d.form, "Panel1")->text();
    d.books().moveBy(2);
    d.catalogue.exec(QStringLiteral("update zeplo set pujceno = 'Jana' where id = 3"));
    d.catalogue.exec(QStringLiteral("update zeplo set nazev = 'Babička' where id = 6"));
    d.catalogue.exec(QStringLiteral("delete from zeplo where id = 9"));
    ASSERT_TRUE(Desktop::soon([&] {
        return child<FieldMemo>(*d.form, "DBMemo3")->toPlainText() == QStringLiteral("Jana")
               && d.cell(5, "nazev") == QStringLiteral("Babička") && d.cell(8, "id").isEmpty();
    }));
    // The list itself waits for the user's next list command.
    EXPECT_EQ(d.books().recNo(), 3);
    EXPECT_EQ(d.books().activeLine(), 2);
    EXPECT_EQ(d.cell(9, "nazev"), QStringLiteral("Kniha 10"));
    EXPECT_EQ(child<QLabel>(*d.form, "Panel1")->text(), count);
    // Told again and again in a moment, it reads at once and then a second later.
    const quint64 read = d.fresh().rereads();
    for (int i = 0; i < 3; ++i)
        emit d.watch().changed(OutsideChange{{}, true});
    EXPECT_LE(d.fresh().rereads(), read + 1);
    EXPECT_TRUE(d.fresh().pending());
    ASSERT_TRUE(Desktop::soon([&] { return !d.fresh().pending(); }));
    EXPECT_LE(d.fresh().rereads(), read + 2);

    d.books().edit();
    d.books().fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Moje"));
    d.catalogue.exec(QStringLiteral("update zeplo set autor = 'Cizí' where id = 3"));
    d.catalogue.exec(QStringLiteral("update zeplo set autor = 'Jiný' where id = 4"));
    ASSERT_TRUE(Desktop::soon([&] { return d.fresh().pending(); }));
    EXPECT_EQ(d.books().state(), DataSetState::Edit);
    EXPECT_EQ(d.books().fieldByName(QStringLiteral("nazev"))->text(), QStringLiteral("Moje"));
    EXPECT_EQ(d.books().fieldByName(QStringLiteral("autor"))->text(), QStringLiteral("Autor 3"));
    d.books().cancel();
    EXPECT_TRUE(Desktop::soon([&] { return d.cell(2, "autor") == QStringLiteral("Cizí") && d.cell(3, "autor") == QStringLiteral("Jiný"); }));
}

TEST_P(ChangesByOthers, ABulkImportOnTheOtherTellsInAFewNoticesAndIsReadOnce)
{
    Desktop d(GetParam());
    d.open();
    QFile csv(d.catalogue.path() + QStringLiteral("/nove.csv"));
    ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
    csv.write("nazev\n");
    for (int i = 0; i < 3000; ++i)
        csv.write(QStringLiteral("Nová %1\n").arg(i).toUtf8());
    csv.close();
    const bool server = d.catalogue.onServer();
    const quint64 heard = d.watch().looks(), trips = server ? d.trips() : 0;
    const qsizetype known = d.books().knownRecordCount();
    // What the other sends, as another listener hears it: notices come in the
    // order of their commits, so a last one of its own tells that all came.
    const std::unique_ptr<PGconn, decltype(&PQfinish)> ear(
        server ? PQconnectdb(d.catalogue.uri().toUtf8().constData()) : nullptr, &PQfinish);
    if (server)
        PQclear(PQexec(ear.get(), "LISTEN zeplo_books"));
    tool::BookFile file(csv.fileName().toStdString(), {});
    EXPECT_EQ(tool::importBooks(*tool::openCatalogue((server ? d.catalogue.uri() : d.catalogue.path()).toStdString()), file),
              3000u);
    quint64 sent = 0;
    if (server) {
        d.catalogue.exec(QStringLiteral("select pg_notify('zeplo_books', '999999')"));
        bool last = false;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            PQconsumeInput(ear.get());
            while (PGnotify *notice = PQnotifies(ear.get())) {
                last = qstrcmp(notice->extra, "999999") == 0;
                sent += last ? 0 : 1;
                PQfreemem(notice);
            }
            return last;
        }));
        EXPECT_LE(sent, 3u);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return (!server || d.watch().looks() == heard + sent + 1) && d.fresh().rereads() > 0 && !d.fresh().pending();
    }, 5000));
    if (server)
        EXPECT_EQ(d.trips() - trips, 1u);
    else   // a file tells only that it changed: two more looks find nothing new
        EXPECT_TRUE(QTest::qWaitFor([&] { return d.watch().looks() >= heard + 3; }, 5000));
    EXPECT_EQ(d.fresh().rereads(), 1u);
    EXPECT_EQ(d.books().knownRecordCount(), known);
    d.form->showAll();
    EXPECT_EQ(d.books().recordCount(), 3030);
}

TEST_P(ChangesByOthers, AnIdleDesktopAsksTheServerNothingAndLooksAtAFileAtMostOnceASecond)
{
    Desktop d(GetParam());
    d.open();
    const bool server = d.catalogue.onServer();
    const quint64 looked = d.watch().looks(), trips = server ? d.trips() : 0;
    const QVariant idleSince = server ? d.listening("state_change") : QVariant();
    QElapsedTimer clock;
    clock.start();
    // On the server others change books this desktop does not show.
    for (int id = 25; server && id <= 27; ++id)
        d.catalogue.exec(QStringLiteral("update zeplo set zanr = 'Poezie' where id = %1").arg(id));
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.watch().looks() >= looked + 3; }, 5000));
    EXPECT_EQ(d.fresh().rereads(), 0u);
    if (server) {
        EXPECT_EQ(d.trips() - trips, 0u);
        EXPECT_EQ(d.listening("state_change"), idleSince);
    } else {
        EXPECT_GE(clock.elapsed(), 1900);
        // Behind another window it does not look at all.
        QApplication::setActiveWindow(nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !d.watch().watching(); }, 2000));
    }
}

TEST(ChangesByOthersOnServer, ACatalogueWithoutTheTriggersIsShownAsBeforeWithNoSessionListening)
{
    Desktop d(CatalogueEngine::Server, false);
    d.open();
    EXPECT_FALSE(d.watch().watching());
    EXPECT_FALSE(d.listening("count(*)").toInt());
    d.catalogue.exec(QStringLiteral("update zeplo set nazev = 'Jinde' where id = 1"));
    QCoreApplication::processEvents();
    EXPECT_EQ(d.cell(0, "nazev"), QStringLiteral("Kniha 1"));
    d.form->showAll();
    EXPECT_EQ(d.cell(0, "nazev"), QStringLiteral("Jinde"));
}

TEST(ChangesByOthersOnServer, ARoleThatMayOnlyReadHearsTheChanges)
{
    Desktop d(CatalogueEngine::Server);
    Engine::setCatalogue(d.catalogue.readOnlyUri());
    d.open();
    EXPECT_TRUE(d.books().requestLive() && !d.books().canModify());
    EXPECT_EQ(d.listening("count(*)").toInt(), 1);
    d.catalogue.exec(QStringLiteral("update zeplo set nazev = 'Jinde' where id = 2"));
    EXPECT_TRUE(Desktop::soon([&] { return d.cell(1, "nazev") == QStringLiteral("Jinde"); }));
}
