#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QCryptographicHash>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <functional>

#include "Children.h"
#include "ModalAnswerer.h"
#include "PreviewDriver.h"
#include "PrintServer.h"
#include "TempCatalogue.h"
#include "WindowLink.h"
#include "app/BookQueries.h"
#include "app/MainWindow.h"
#include "app/BookListReport.h"
#include "app/Application.h"
#include "engine/PgConnection.h"
#include "engine/SqliteEngine.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/DataGrid.h"
#include "widgets/FieldMemo.h"
#include "engine/ResultSet.h"
#include "report/PageStore.h"
#include "widgets/PrintProgressWindow.h"
#include "widgets/ReportPreview.h"

using namespace zeplo;

namespace {

QString nazev(MainWindow &form)
{
    return child<ResultSet>(form, "Query1")->fieldByName(QStringLiteral("nazev"))->displayText();
}

QStringList titles(MainWindow &form)
{
    QStringList out;
    child<ResultSet>(form, "Query1")->first();
    while (!child<ResultSet>(form, "Query1")->eof()) {
        out << nazev(form);
        child<ResultSet>(form, "Query1")->next();
    }
    child<ResultSet>(form, "Query1")->first();
    return out;
}

// One walk of the report over the list into page pictures; `midway` runs
// from the message loop once the walk is half done, as a user's input would.
struct Walk {
    int pages = 0;
    int highestProgress = 0;
    QList<QByteArray> pageHashes;
};

Walk walkTheList(BookListReport &report, const std::function<void()> &midway = {})
{
    PageStore store;
    PagePictureOutput output(store);
    Walk walk;
    bool queued = false;
    output.progress = [&](int percent) {
        walk.highestProgress = std::max(walk.highestProgress, percent);
        if (midway && !queued && percent >= 50) {
            queued = true;
            QMetaObject::invokeMethod(qApp, midway, Qt::QueuedConnection);
        }
    };
    EXPECT_TRUE(report.render(output));
    walk.pages = store.pageCount();
    for (int n = 1; n <= walk.pages; ++n)
        walk.pageHashes << QCryptographicHash::hash(store.page(n), QCryptographicHash::Sha256);
    return walk;
}

struct Place {
    const char *name;
    int left, top, width, height;
};

} // namespace

TEST(MainWindow, ControlsStandAtTheirPlacesWithTheirCaptionsAndHints)
{
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    MainWindow form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Zeplo ver1.2"));
    EXPECT_EQ(form.centralWidget()->size(), QSize(774, 664));
    EXPECT_LE(std::abs(form.geometry().center().x() - form.screen()->geometry().center().x()), 2);
    EXPECT_LE(std::abs(form.geometry().center().y() - form.screen()->geometry().center().y()), 2);
    const Place places[] = {{"DBGrid1", 0, 8, 636, 321},     {"Panel1", -8, 312, 646, 17},
                            {"DBMemo1", 8, 352, 185, 305},   {"DBMemo3", 208, 352, 185, 305},
                            {"Button7", 648, 8, 113, 25},    {"Button6", 648, 40, 113, 25},
                            {"Button8", 648, 72, 113, 25},   {"BitBtn1", 648, 144, 115, 25},
                            {"DBCheckBox2", 648, 272, 97, 17}, {"DBCheckBox1", 648, 296, 121, 17},
                            {"Edit2", 488, 352, 153, 21},    {"Button10", 664, 352, 97, 25},
                            {"Edit1", 488, 384, 153, 21},    {"Button1", 664, 384, 97, 25},
                            {"ComboBox1", 488, 416, 153, 21}, {"Button11", 664, 416, 97, 25},
                            {"Button13", 488, 448, 153, 25}, {"Button9", 664, 448, 97, 25},
                            {"Button14", 488, 488, 129, 25}, {"Button15", 632, 488, 129, 25},
                            {"Button16", 488, 520, 129, 25}, {"Button17", 632, 520, 129, 25},
                            {"GroupBox1", 488, 560, 273, 97}, {"Button5", 16, 24, 113, 25},
                            {"Button2", 144, 24, 113, 25},   {"Button3", 15, 56, 75, 25},
                            {"Button12", 96, 56, 75, 25},    {"Button4", 183, 56, 75, 25}};
    for (const Place &p : places) {
        auto *w = form.findChild<QWidget *>(QLatin1String(p.name));
        ASSERT_NE(w, nullptr) << p.name;
        EXPECT_EQ(w->geometry(), QRect(p.left, p.top, p.width, p.height)) << p.name;
    }
    EXPECT_EQ(child<QLabel>(form, "Label1")->pos(), QPoint(8, 336));
    EXPECT_EQ(child<QLabel>(form, "Label3")->pos(), QPoint(208, 336));
    EXPECT_EQ(child<QLabel>(form, "Label4")->pos(), QPoint(488, 336));
    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), QStringLiteral("Popis :"));
    EXPECT_EQ(child<QPushButton>(form, "Button8")->text(), QStringLiteral("Odstranit záznam"));
    EXPECT_EQ(child<QGroupBox>(form, "GroupBox1")->title(), QStringLiteral("Seřadit podle:"));
    EXPECT_TRUE(child<QPushButton>(form, "Button4")->font().bold());
    EXPECT_FALSE(child<QPushButton>(form, "Button5")->font().bold());
    EXPECT_TRUE(child<FieldCheckBox>(form, "DBCheckBox1")->font().bold());
    EXPECT_EQ(child<QLineEdit>(form, "Edit1")->toolTip(), QStringLiteral("zadejte část, či celý název hledané knihy"));
    EXPECT_EQ(child<QLineEdit>(form, "Edit2")->toolTip(), QStringLiteral("zadejte jméno/příjmení hledaného autora"));
    EXPECT_EQ(child<QComboBox>(form, "ComboBox1")->toolTip(), QStringLiteral("vyberte či vepište hledaný žánr"));
    EXPECT_EQ(child<QPushButton>(form, "Button9")->toolTip(), QStringLiteral("Zobrazit vše"));
    EXPECT_TRUE(child<QPushButton>(form, "Button1")->toolTip().isEmpty());
    EXPECT_EQ(child<QComboBox>(form, "ComboBox1")->count(), 35);
    EXPECT_EQ(child<QComboBox>(form, "ComboBox1")->itemText(29), QStringLiteral("SCI-FI"));
    const QList<QAction *> bar = child<QMenuBar>(form, "MainMenu1")->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("&Program"));
    EXPECT_EQ(bar[1]->text(), QStringLiteral("&About .."));
    EXPECT_EQ(bar[1]->menu(), nullptr);
    EXPECT_EQ(child<QMenu>(form, "Program1")->actions()[0]->text(), QStringLiteral("&Tisk"));
    EXPECT_EQ(child<QMenu>(form, "Program1")->actions()[1]->text(), QStringLiteral("&Zavřít"));
    // Tab order: grid, description memo, title box, its button, then into the sort group.
    EXPECT_EQ(child<QLineEdit>(form, "Edit1")->nextInFocusChain(), child<QPushButton>(form, "Button1"));
    EXPECT_EQ(child<QPushButton>(form, "Button1")->nextInFocusChain(), child<QPushButton>(form, "Button2"));
    EXPECT_EQ(child<QPushButton>(form, "Button16")->nextInFocusChain(), child<QPushButton>(form, "Button17"));
}

TEST(MainWindow, OpensTheBaseQueryAndShowsTheFirstRowInTheBoundControls)
{
    TempCatalogue catalogue;
    catalogue.addBook(QStringLiteral("Čapek"), QStringLiteral("R.U.R."), QStringLiteral("Divadelní hra"), 1920, true,
                      false, QStringLiteral("Jana"), QStringLiteral("Roboti"));
    catalogue.addBooks(2);
    MainWindow form;
    EXPECT_EQ(child<ResultSet>(form, "Query1")->state(), DataSetState::Browse);
    EXPECT_EQ(child<ResultSet>(form, "Query1")->sql(), QStringList{kBaseQuery});
    EXPECT_EQ(child<FieldMemo>(form, "DBMemo1")->toPlainText(), QStringLiteral("Roboti"));
    EXPECT_EQ(child<FieldMemo>(form, "DBMemo3")->toPlainText(), QStringLiteral("Jana"));
    EXPECT_EQ(child<FieldCheckBox>(form, "DBCheckBox1")->checkState(), Qt::Checked);
    EXPECT_EQ(child<FieldCheckBox>(form, "DBCheckBox2")->checkState(), Qt::Unchecked);
    child<ResultSet>(form, "Query1")->next();
    EXPECT_EQ(child<FieldMemo>(form, "DBMemo3")->toPlainText(), QString());
}

TEST(MainWindow, TheCountPanelCountsEveryStoredRecordWhateverTheFilter)
{
    TempCatalogue catalogue;
    catalogue.addBooks(5);
    MainWindow form;
    EXPECT_TRUE(child<QLabel>(form, "Panel1")->text().isEmpty());
    form.refreshCount();
    EXPECT_EQ(child<QLabel>(form, "Panel1")->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 5"));
    child<QLineEdit>(form, "Edit1")->setText(QStringLiteral("Kniha 3"));
    form.searchByTitle();
    catalogue.addBooks(1);   // behind the program's back
    form.refreshCount();
    EXPECT_EQ(child<QLabel>(form, "Panel1")->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 6"));
    EXPECT_FALSE(child<ResultSet>(form, "Query2")->active());
}

TEST(MainWindow, FirstActivationShowsTheSplashOnceThenTheCount)
{
    TempCatalogue catalogue;
    catalogue.addBooks(2);
    MainWindow form;
    ModalAnswerer answerer;   // closes each window that comes up, noting its title
    form.show();
    QApplication::setActiveWindow(&form);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return child<QLabel>(form, "Panel1")->text() == QStringLiteral("celkový počet záznamů uložených v databázi: 2");
    }));
    EXPECT_EQ(answerer.titles, QStringList{QStringLiteral("Dubrex")});
    EXPECT_TRUE(form.firstActivationDone());
    EXPECT_TRUE(form.filter().isEmpty());
    EXPECT_TRUE(form.order().isEmpty());

    // A later activation that counts refreshes the count but shows no splash.
    catalogue.addBooks(1);
    form.activated();
    EXPECT_EQ(child<QLabel>(form, "Panel1")->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 3"));
    EXPECT_EQ(answerer.titles, QStringList{QStringLiteral("Dubrex")});
}

TEST(MainWindow, EscClosesFromTheGridButNotFromAMemo)
{
    TempCatalogue catalogue;
    catalogue.addBooks(2);
    MainWindow form;
    form.skipSplash();
    form.show();
    QApplication::setActiveWindow(&form);
    child<FieldMemo>(form, "DBMemo1")->setFocus();
    QTest::keyClick(child<FieldMemo>(form, "DBMemo1"), Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    child<QLineEdit>(form, "Edit1")->setFocus();
    QTest::keyClick(child<QLineEdit>(form, "Edit1"), Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_TRUE(form.isVisible());

    // Esc that closes a menu closes only the menu: the "Program" menu, an
    // edit box's own menu, the menu bar's mode.
    child<DataGrid>(form, "DBGrid1")->setFocus();
    auto *menuBar = form.findChild<QMenuBar *>();
    QMenu *program = menuBar->actions().first()->menu();
    menuBar->setActiveAction(menuBar->actions().first());
    ASSERT_TRUE(QTest::qWaitFor([&] { return program->isVisible(); }));
    QTest::keyClick(program, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(program->isVisible());
    auto *title = child<QLineEdit>(form, "Edit1");
    title->setFocus();
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(5, 5), title->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(title, &menu);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }));
    EXPECT_TRUE(form.isVisible());
    QTest::keyClick(menuBar, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());

    child<DataGrid>(form, "DBGrid1")->setFocus();
    QTest::keyClick(child<DataGrid>(form, "DBGrid1"), Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
}

TEST(MainWindow, WithoutACatalogueTheStartFailsWithTheEnginesMessage)
{
    TempCatalogue empty(nullptr);
    try {
        MainWindow form;
        FAIL() << "the main window opened without a catalogue";
    } catch (const EngineError &e) {
        const QString text = startupErrorText(e);
        // The module is the program file; the address lies in it, counted
        // from where it was loaded.
        const QRegularExpressionMatch site =
            QRegularExpression(QStringLiteral("^Exception EngineError in module (\\S+) at ([0-9A-F]{8,16})\\.\n"))
                .match(text);
        ASSERT_TRUE(site.hasMatch()) << text.toStdString();
        const QFileInfo program(QCoreApplication::applicationFilePath());
        EXPECT_EQ(site.captured(1), program.fileName());
        EXPECT_LT(site.captured(2).toULongLong(nullptr, 16), quint64(program.size())) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("zeplo.db"))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(QLatin1Char('.')));
    }
}

TEST(MainWindow, AServerThatCannotBeReachedIsNamedInPlainWordsWithTheWayToAnotherCatalogue)
{
    struct Case {
        QString uri;
        QString says;
    };
    // Port 1 of this computer: nothing listens there. A name under .invalid is never a computer's.
    const Case cases[] = {
        {QStringLiteral("postgresql://anna@127.0.0.1:1/knihy"),
         QStringLiteral("Server katalogu na počítači „127.0.0.1“ (port 1) není k zastižení")},
        {QStringLiteral("postgresql://anna@knihovna.invalid/knihy"),
         QStringLiteral("Počítač „knihovna.invalid“, na kterém má být server katalogu, se v síti nenašel.")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.uri.toStdString());
        Engine::setCatalogue(c.uri);
        try {
            logInToCatalogueServer();
            ADD_FAILURE() << "a session with a server that is not there";
        } catch (const PgConnectFailed &e) {
            const QString text = startupErrorText(e);
            EXPECT_TRUE(text.startsWith(QStringLiteral("Exception PgConnectFailed in module "))) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral(".\n") + c.says)) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("v okně „Zeplo – převod knih“ tlačítkem „Změnit…“")));
            // The client library's own words stay, for whoever looks after the server.
            EXPECT_TRUE(text.contains(QStringLiteral("Cannot connect to the catalogue server"))) << text.toStdString();
        }
    }
    Engine::setCatalogue(QString());
}

TEST(MainWindowCommands, SearchesSetTheFilterAndKeepTheOrder)
{
    TempCatalogue catalogue;
    catalogue.addBook(QStringLiteral("Hrabal"), QStringLiteral("Ostře sledované vlaky"), QStringLiteral("Beletrie"), 1965);
    catalogue.addBook(QStringLiteral("Čapek"), QStringLiteral("Válka s mloky"), QStringLiteral("SCI-FI"), 1936);
    catalogue.addBook(QStringLiteral("Čapek"), QStringLiteral("Krakatit"), QStringLiteral("SCI-FI"), 1924);
    catalogue.addBook(QStringLiteral("Hašek"), QString(), QStringLiteral("Beletrie"), 1921);
    MainWindow form;
    form.sortByYear();   // by year
    EXPECT_FALSE(child<QPushButton>(form, "Button8")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(form, "Button7")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(form, "Button6")->isEnabled());
    child<QLineEdit>(form, "Edit2")->setText(QStringLiteral("čapek"));
    form.searchByAuthor();
    EXPECT_EQ(child<ResultSet>(form, "Query1")->sql(), (QStringList{kBaseQuery, QStringLiteral("where (autor like\"%čapek%\")"),
                                               QStringLiteral("order by rok_vydani")}));
    EXPECT_EQ(titles(form), (QStringList{QStringLiteral("Krakatit"), QStringLiteral("Válka s mloky")}));
    EXPECT_FALSE(child<QPushButton>(form, "Button6")->isEnabled());
    form.clearSort();   // no order: the engine's natural order, search kept
    EXPECT_TRUE(child<QPushButton>(form, "Button6")->isEnabled());
    EXPECT_EQ(titles(form), (QStringList{QStringLiteral("Válka s mloky"), QStringLiteral("Krakatit")}));
    child<QLineEdit>(form, "Edit1")->setText(QString());
    form.searchByTitle();   // every record with a title
    EXPECT_EQ(titles(form).size(), 3);
    // The genre box searches for what was typed, not for a genre it starts.
    auto *genres = child<QComboBox>(form, "ComboBox1");
    genres->setFocus();
    QTest::keyClicks(genres, QStringLiteral("s"));
    EXPECT_EQ(genres->currentText(), QStringLiteral("s"));
    form.searchByGenre();
    EXPECT_EQ(titles(form).size(), 2);   // "SCI-FI" only; "Beletrie" has no s
    genres->lineEdit()->clear();
    QTest::keyClicks(genres, QStringLiteral("sci"));
    form.searchByGenre();
    EXPECT_EQ(titles(form).size(), 2);
    // Typing stops at ten characters, also after a longer genre was chosen,
    // which comes in whole and may be shortened.
    genres->lineEdit()->clear();
    QTest::keyClicks(genres, QStringLiteral("abcdefghijkl"));
    EXPECT_EQ(genres->currentText(), QStringLiteral("abcdefghij"));
    // Ten characters, an emoji (two UTF-16 units) counting as one.
    genres->lineEdit()->clear();
    QTest::keyClicks(genres, QStringLiteral("abcdefghi"));
    QTest::sendKeyEvent(QTest::Click, genres->lineEdit(), Qt::Key_unknown, QStringLiteral("\U0001F600"), Qt::NoModifier);
    QTest::keyClicks(genres, QStringLiteral("x"));
    EXPECT_EQ(genres->currentText(), QStringLiteral("abcdefghi\U0001F600"));
    genres->lineEdit()->clear();
    genres->setCurrentIndex(genres->findText(QStringLiteral("Dětská liter.")));
    QTest::keyClick(genres->lineEdit(), Qt::Key_End);
    QTest::keyClicks(genres->lineEdit(), QStringLiteral("x"));
    EXPECT_EQ(genres->currentText(), QStringLiteral("Dětská liter."));
    QTest::keyClick(genres->lineEdit(), Qt::Key_Backspace);
    EXPECT_EQ(genres->currentText(), QStringLiteral("Dětská liter"));
    form.sortByTitle();
    form.showAll();   // all, still sorted by title
    EXPECT_EQ(titles(form), (QStringList{QString(), QStringLiteral("Krakatit"), QStringLiteral("Ostře sledované vlaky"),
                                         QStringLiteral("Válka s mloky")}));
    EXPECT_FALSE(child<QPushButton>(form, "Button8")->isEnabled());
}

// Each of the fourteen list buttons, pressed in the main window, gives the
// result set its three lines and shows exactly the books they select, in
// their order; a sort keeps the search and a search keeps the sort.
class MainWindowLists : public testing::TestWithParam<CatalogueEngine> {};
INSTANTIATE_TEST_SUITE_P(Engines, MainWindowLists, kEachEngine, engineName);

TEST_P(MainWindowLists, EachListButtonSendsItsClausesAndShowsItsBooks)
{
    TempCatalogue catalogue(GetParam());
    // ids 1 to 6; an empty text in pujceno counts as lent.
    catalogue.addBook(QStringLiteral("Čapek Karel"), QStringLiteral("Krakatit"), QStringLiteral("SCI-FI"), 1924, true,
                      true);
    catalogue.addBook(QStringLiteral("Hašek Jaroslav"), QStringLiteral("Osudy dobrého vojáka Švejka"),
                      QStringLiteral("Komedie"), 1921, false, true, QStringLiteral("Janě"));
    catalogue.addBook(QStringLiteral("Němcová Božena"), QStringLiteral("Babička"), QStringLiteral("Beletrie"), 1855, true,
                      false);
    catalogue.addBook(QStringLiteral("Chalupa Jan"), QStringLiteral("Chléb a hry"), QStringLiteral("Detektivka"), 1990,
                      false, false, QStringLiteral(""));
    catalogue.addBook(QStringLiteral("Hrabal Bohumil"), QStringLiteral("Ostře sledované vlaky"),
                      QStringLiteral("Beletrie"), 1965);
    catalogue.addBook(QStringLiteral("Arbes Jakub"), QStringLiteral("Ďábel na skřipci"), QStringLiteral("Horor"),
                      QVariant(), true, QVariant(), QStringLiteral("Petrovi"));
    MainWindow form;
    auto *books = child<ResultSet>(form, "Query1");
    child<QLineEdit>(form, "Edit1")->setText(QStringLiteral("ka"));
    child<QLineEdit>(form, "Edit2")->setText(QStringLiteral("ha"));
    child<QComboBox>(form, "ComboBox1")->setEditText(QStringLiteral("beletrie"));

    struct Press {
        const char *button;
        QString filter, order;
        QList<qint64> ids;
    };
    const QString byTitle = QStringLiteral("order by nazev");
    // In Czech order: Ch after H, Ď after D, NULL first.
    const Press presses[] = {
        {"Button14", QStringLiteral("where (precteno = true)"), {}, {1, 2}},
        {"Button15", QStringLiteral("where (precteno = false)"), {}, {3, 4}},
        {"Button16", QStringLiteral("where (vlastnim = true)"), {}, {1, 3, 6}},
        {"Button17", QStringLiteral("where (vlastnim = false)"), {}, {2, 4}},
        {"Button13", QStringLiteral("where pujceno IS NOT NULL"), {}, {2, 4, 6}},
        {"Button1", QStringLiteral("where (nazev like\"%ka%\")"), {}, {1, 2, 3}},
        {"Button2", QStringLiteral("where (nazev like\"%ka%\")"), byTitle, {3, 1, 2}},
        {"Button10", QStringLiteral("where (autor like\"%ha%\")"), byTitle, {4, 2}},
        {"Button11", QStringLiteral("where (zanr like\"%beletrie%\")"), byTitle, {3, 5}},
        {"Button9", QString(), byTitle, {3, 6, 4, 1, 5, 2}},
        {"Button5", QString(), QStringLiteral("order by autor"), {6, 1, 2, 5, 4, 3}},
        {"Button3", QString(), QStringLiteral("order by zanr"), {3, 5, 4, 6, 2, 1}},
        {"Button12", QString(), QStringLiteral("order by rok_vydani"), {6, 3, 2, 1, 5, 4}},
        {"Button4", QString(), QString(), {1, 2, 3, 4, 5, 6}},
    };
    for (const Press &press : presses) {
        child<QPushButton>(form, press.button)->click();
        EXPECT_EQ(books->sql(), (QStringList{kBaseQuery, press.filter, press.order})) << press.button;
        QList<qint64> shown;
        for (books->first(); !books->eof(); books->next())
            shown << books->fieldByName(QStringLiteral("id"))->asInteger();
        EXPECT_EQ(shown, press.ids) << press.button;
    }
}

TEST(MainWindowCommands, AFailedReopeningLeavesTheListClosedUntilTheNextGoodCommand)
{
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    MainWindow form;
    // The list is reopened under the wait cursor, which goes however the command ends.
    struct CursorAtOpening : WindowLink {
        QList<Qt::CursorShape> shapes;
        void dataEvent(DataEvent event, Field *) override
        {
            if (event == DataEvent::ActiveChanged && QApplication::overrideCursor())
                shapes << QApplication::overrideCursor()->shape();
        }
    } seen;
    seen.setDataSource(child<DataSource>(form, "DataSource1"));
    form.sortByTitle();
    EXPECT_EQ(seen.shapes, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::WaitCursor}));   // closed, opened
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    catalogue.exec(QStringLiteral("ALTER TABLE zeplo RENAME COLUMN zanr TO druh"));
    EXPECT_THROW(form.clearSort(), EngineError);   // the select names zanr
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(child<ResultSet>(form, "Query1")->active());
    EXPECT_FALSE(child<QPushButton>(form, "Button6")->isEnabled());   // a failed "Neřadit" leaves them disabled
    EXPECT_TRUE(child<FieldMemo>(form, "DBMemo1")->toPlainText().isEmpty());
    catalogue.exec(QStringLiteral("ALTER TABLE zeplo RENAME COLUMN druh TO zanr"));
    form.showLent();
    EXPECT_TRUE(child<ResultSet>(form, "Query1")->active());
}

TEST(MainWindowCommands, DeleteAsksAndDeletesOnlyOnYesAndAlwaysRefreshesTheCount)
{
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    MainWindow form;
    {
        ModalAnswerer answerer({QStringLiteral("&No")});
        form.deleteRecord();
        EXPECT_EQ(answerer.titles, QStringList{QStringLiteral("Confirm")});
        EXPECT_EQ(answerer.texts, QStringList{QStringLiteral("Opravdu chceš smazat tento záznam?")});
    }
    EXPECT_EQ(catalogue.count(), 3);
    EXPECT_EQ(child<QLabel>(form, "Panel1")->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 3"));
    child<ResultSet>(form, "Query1")->next();
    {
        ModalAnswerer answerer({QStringLiteral("&Yes")});
        form.deleteRecord();
    }
    EXPECT_EQ(catalogue.count(), 2);
    EXPECT_EQ(nazev(form), QStringLiteral("Kniha 3"));
    EXPECT_EQ(child<QLabel>(form, "Panel1")->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 2"));
    child<QLineEdit>(form, "Edit1")->setText(QStringLiteral("nic takového"));
    form.searchByTitle();
    {
        ModalAnswerer answerer({QStringLiteral("&Yes")});
        form.deleteRecord();
        EXPECT_EQ(answerer.titles, (QStringList{QStringLiteral("Confirm"), QStringLiteral("Error")}));
        EXPECT_EQ(answerer.texts.value(1), QStringLiteral("Nepodařilo se smazat záznam!"));
    }
    EXPECT_EQ(catalogue.count(), 2);
}

// The main window shown with the report over its list, as start-up joins them.
struct ShownWithReport {
    MainWindow form;
    BookListReport tisk{child<ResultSet>(form, "Query1")};
    ShownWithReport()
    {
        tisk.setMainWindow(&form);
        form.setReport(&tisk);
        form.skipSplash();
        form.show();
    }
};

TEST(MainWindow, ComingBackFromThePreviewRefreshesTheCountAndAModalWindowDoesNot)
{
    PrintServer server;
    ASSERT_TRUE(server.started()) << server.problem().toStdString();
    ASSERT_TRUE(server.addQueue(QStringLiteral("Laser"), true));
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    ShownWithReport program;
    MainWindow &form = program.form;
    BookListReport &tisk = program.tisk;
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.refreshCount();
    const QString before = child<QLabel>(form, "Panel1")->text();
    EXPECT_EQ(before, QStringLiteral("celkový počet záznamů uložených v databázi: 3"));

    // A book comes in behind the program's back while a modal window is open;
    // coming back from that window does not count it.
    bool sawModal = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || sawModal)
            return;
        sawModal = true;
        QApplication::setActiveWindow(modal);
        catalogue.addBooks(1);
        modal->close();
    });
    poll.start(10);
    form.showAbout();
    poll.stop();
    ASSERT_TRUE(sawModal);
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QCoreApplication::processEvents();   // an activation's handling is queued
    EXPECT_EQ(child<QLabel>(form, "Panel1")->text(), before);

    // A print from the preview shows its progress window, not modal either;
    // when it goes, the focus may pass straight to the main window. That is no
    // coming back from the preview: the count stays. Closing the preview later counts.
    catalogue.addBooks(1);
    int step = 0;
    // A short print may show and close its progress window between two polls.
    struct ProgressWatch : QObject {
        bool shown = false;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            shown = shown || (event->type() == QEvent::Show && dynamic_cast<PrintProgressWindow *>(watched));
            return false;
        }
    } progressWatch;
    qApp->installEventFilter(&progressWatch);
    QStringList countWhilePrinting;
    const bool driven = drivePreview(tisk, [&] { form.printList(); }, [&](ReportPreview &p) {
        if (step == 0) {
            child<QAction>(p, "Print")->trigger();
            step = 1;
            return false;
        }
        const auto *progress = dynamic_cast<PrintProgressWindow *>(QApplication::activeWindow());
        if (step == 1) {
            countWhilePrinting << child<QLabel>(form, "Panel1")->text();
            if (!progressWatch.shown || tisk.busy() || (progress && progress->isVisible()))
                return false;
            QApplication::setActiveWindow(&form);
            step = 2;
            return false;   // the activation is handled from the queue
        }
        if (step == 2) {
            countWhilePrinting << child<QLabel>(form, "Panel1")->text();
            QApplication::setActiveWindow(&p);   // the user goes back to the preview...
            step = 3;
            return false;
        }
        if (QApplication::activeWindow() != &p)
            return false;
        p.close();   // ...and closes it
        return true;
    });
    qApp->removeEventFilter(&progressWatch);
    ASSERT_TRUE(driven);
    ASSERT_TRUE(server.waitForEndedJobs(QStringLiteral("Laser"), 1)) << server.problem().toStdString();
    countWhilePrinting.removeDuplicates();
    EXPECT_EQ(countWhilePrinting, QStringList{before});
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return child<QLabel>(form, "Panel1")->text() == QStringLiteral("celkový počet záznamů uložených v databázi: 5");
    }));
}

TEST(MainWindow, TheCheckBoxesAndMemosOnlyShowTheRow)
{
    TempCatalogue catalogue;
    catalogue.addBook(QStringLiteral("A"), QStringLiteral("B"), {}, {}, true, QVariant());
    MainWindow form;
    form.skipSplash();
    form.show();
    QTest::mouseClick(child<FieldCheckBox>(form, "DBCheckBox1"), Qt::LeftButton);
    child<FieldCheckBox>(form, "DBCheckBox2")->setFocus();
    QTest::keyClick(child<FieldCheckBox>(form, "DBCheckBox2"), Qt::Key_Space);
    EXPECT_EQ(child<FieldCheckBox>(form, "DBCheckBox1")->checkState(), Qt::Checked);
    EXPECT_EQ(child<FieldCheckBox>(form, "DBCheckBox2")->checkState(), Qt::PartiallyChecked);
    child<FieldMemo>(form, "DBMemo1")->setFocus();
    QTest::keyClicks(child<FieldMemo>(form, "DBMemo1"), QStringLiteral("abc"));
    EXPECT_TRUE(child<FieldMemo>(form, "DBMemo1")->toPlainText().isEmpty());
    EXPECT_EQ(child<ResultSet>(form, "Query1")->state(), DataSetState::Browse);
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select vlastnim from zeplo")).toLongLong(), 1);
}

TEST(MainWindow, WhileTheReportWalksTheListNothingMovesOrChangesIt)
{
    TempCatalogue catalogue;
    catalogue.addBooks(30000);
    ShownWithReport program;
    MainWindow &form = program.form;
    BookListReport &tisk = program.tisk;
    auto *grid = child<DataGrid>(form, "DBGrid1");
    auto *books = child<ResultSet>(form, "Query1");

    const Walk undisturbed = walkTheList(tisk);
    ASSERT_EQ(undisturbed.pages, 492);
    books->first();

    QSignalSpy refused(&form, &MainWindow::actionRefused);
    bool ranMidway = false;
    qsizetype rowMidway = 0;
    const char *const commands[] = {"Button1", "Button10", "Button11", "Button13", "Button14", "Button15",
                                    "Button16", "Button17", "Button9",  "Button2",  "Button3",  "Button5",
                                    "Button12", "Button4",  "Button7",  "Button6",  "Button8"};
    ModalAnswerer answerer({QStringLiteral("&Yes")});   // would answer a deletion question, were one asked
    const Walk disturbed = walkTheList(tisk, [&] {
        ranMidway = true;
        EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
        rowMidway = books->recNo();
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(grid, Qt::Key_PageUp);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          QPoint(60, grid->titleHeight() + grid->rowHeight() * 3 + 2));
        QScrollBar *bar = grid->verticalScrollBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() / 4));
        for (const char *name : commands)
            child<QPushButton>(form, name)->click();
        child<QAction>(form, "Tisk1")->trigger();
        EXPECT_EQ(books->recNo(), rowMidway);
    });
    ASSERT_TRUE(ranMidway);
    EXPECT_TRUE(answerer.titles.isEmpty());   // nothing was asked
    EXPECT_EQ(refused.count(), 5 + int(std::size(commands)) + 1);
    EXPECT_EQ(disturbed.pages, 492);
    EXPECT_LE(disturbed.highestProgress, 100);
    EXPECT_EQ(disturbed.pageHashes, undisturbed.pageHashes);
    EXPECT_EQ(catalogue.count(), 30000);
    EXPECT_EQ(books->sql(), QStringList{kBaseQuery});
    EXPECT_TRUE(child<QPushButton>(form, "Button8")->isEnabled());

    // Once the walk is over everything works again at once.
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
    QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(books->recNo(), 1);
    form.sortByTitle();
    EXPECT_EQ(form.order(), QStringLiteral("order by nazev"));
    EXPECT_EQ(refused.count(), 5 + int(std::size(commands)) + 1);
}
