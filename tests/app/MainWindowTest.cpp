#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "ModalAnswerer.h"
#include "TempCatalogue.h"
#include "app/MainWindow.h"
#include "app/BookListReport.h"
#include "app/Application.h"
#include "engine/SqliteEngine.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/DataGrid.h"
#include "widgets/FieldMemo.h"
#include "engine/ResultSet.h"
#include "widgets/ReportPreview.h"

using namespace zeplo;

namespace {

QString nazev(MainWindow &form)
{
    return form.Query1->fieldByName(QStringLiteral("nazev"))->displayText();
}

QStringList titles(MainWindow &form)
{
    QStringList out;
    form.Query1->first();
    while (!form.Query1->eof()) {
        out << nazev(form);
        form.Query1->next();
    }
    form.Query1->first();
    return out;
}

// What the first activation sets, without its splash.
void resetClauses()
{
    Unit1::selectClause = Unit1::kBaseQuery;
    Unit1::filterClause.clear();
    Unit1::orderClause.clear();
    Unit1::editorMode.clear();
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
    EXPECT_EQ(form.Label1->pos(), QPoint(8, 336));
    EXPECT_EQ(form.Label3->pos(), QPoint(208, 336));
    EXPECT_EQ(form.Label4->pos(), QPoint(488, 336));
    EXPECT_EQ(form.Label1->text(), QStringLiteral("Popis :"));
    EXPECT_EQ(form.Button8->text(), QStringLiteral("Odstranit záznam"));
    EXPECT_EQ(form.GroupBox1->title(), QStringLiteral("Seřadit podle:"));
    EXPECT_TRUE(form.Button4->font().bold());
    EXPECT_FALSE(form.Button5->font().bold());
    EXPECT_TRUE(form.DBCheckBox1->font().bold());
    EXPECT_EQ(form.Edit1->toolTip(), QStringLiteral("zadejte část, či celý název hledané knihy"));
    EXPECT_EQ(form.Edit2->toolTip(), QStringLiteral("zadejte jméno/příjmení hledaného autora"));
    EXPECT_EQ(form.ComboBox1->toolTip(), QStringLiteral("vyberte či vepište hledaný žánr"));
    EXPECT_EQ(form.Button9->toolTip(), QStringLiteral("Zobrazit vše"));
    EXPECT_TRUE(form.Button1->toolTip().isEmpty());
    EXPECT_EQ(form.ComboBox1->count(), 35);
    EXPECT_EQ(form.ComboBox1->itemText(29), QStringLiteral("SCI-FI"));
    const QList<QAction *> bar = form.MainMenu1->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("&Program"));
    EXPECT_EQ(bar[1]->text(), QStringLiteral("&About .."));
    EXPECT_EQ(bar[1]->menu(), nullptr);
    EXPECT_EQ(form.Program1->actions()[0]->text(), QStringLiteral("&Tisk"));
    EXPECT_EQ(form.Program1->actions()[1]->text(), QStringLiteral("&Zavřít"));
    // Tab order: grid, description memo, title box, its button, then into the sort group.
    EXPECT_EQ(form.Edit1->nextInFocusChain(), form.Button1);
    EXPECT_EQ(form.Button1->nextInFocusChain(), form.Button2);
    EXPECT_EQ(form.Button16->nextInFocusChain(), form.Button17);
}

TEST(MainWindow, OpensTheBaseQueryAndShowsTheFirstRowInTheBoundControls)
{
    TempCatalogue catalogue;
    catalogue.addBook(QStringLiteral("Čapek"), QStringLiteral("R.U.R."), QStringLiteral("Divadelní hra"), 1920, true,
                      false, QStringLiteral("Jana"), QStringLiteral("Roboti"));
    catalogue.addBooks(2);
    MainWindow form;
    EXPECT_EQ(form.Query1->state(), DataSetState::Browse);
    EXPECT_EQ(form.Query1->sql(), QStringList{Unit1::kBaseQuery});
    EXPECT_EQ(form.DBMemo1->toPlainText(), QStringLiteral("Roboti"));
    EXPECT_EQ(form.DBMemo3->toPlainText(), QStringLiteral("Jana"));
    EXPECT_EQ(form.DBCheckBox1->checkState(), Qt::Checked);
    EXPECT_EQ(form.DBCheckBox2->checkState(), Qt::Unchecked);
    form.Query1->next();
    EXPECT_EQ(form.DBMemo3->toPlainText(), QString());
}

TEST(MainWindow, TheCountPanelCountsEveryStoredRecordWhateverTheFilter)
{
    TempCatalogue catalogue;
    catalogue.addBooks(5);
    MainWindow form;
    EXPECT_TRUE(form.Panel1->text().isEmpty());
    form.RefreshCount();
    EXPECT_EQ(form.Panel1->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 5"));
    form.Edit1->setText(QStringLiteral("Kniha 3"));
    form.Button1Click();
    catalogue.addBooks(1);   // behind the program's back
    form.RefreshCount();
    EXPECT_EQ(form.Panel1->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 6"));
    EXPECT_FALSE(form.Query2->active());
}

TEST(MainWindow, FirstActivationShowsTheSplashOnceThenTheCount)
{
    TempCatalogue catalogue;
    catalogue.addBooks(2);
    MainWindow form;
    ModalAnswerer answerer({}, true);   // the splash closes itself
    form.show();
    QApplication::setActiveWindow(&form);
    QTRY_COMPARE_WITH_TIMEOUT(form.Panel1->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 2"), 6000);
    EXPECT_TRUE(Unit1::firstActivationDone);
    EXPECT_EQ(Unit1::selectClause, Unit1::kBaseQuery);
    EXPECT_TRUE(Unit1::filterClause.isEmpty());
}

TEST(MainWindow, EscClosesFromTheGridButNotFromAMemo)
{
    TempCatalogue catalogue;
    catalogue.addBooks(2);
    Unit1::firstActivationDone = true;
    MainWindow form;
    Unit1::firstActivationDone = true;
    form.show();
    QApplication::setActiveWindow(&form);
    form.DBMemo1->setFocus();
    QTest::keyClick(form.DBMemo1, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    form.Edit1->setFocus();
    QTest::keyClick(form.Edit1, Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_TRUE(form.isVisible());
    form.DBGrid1->setFocus();
    QTest::keyClick(form.DBGrid1, Qt::Key_Escape);
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

TEST(MainWindowCommands, SearchesSetTheFilterAndKeepTheOrder)
{
    TempCatalogue catalogue;
    catalogue.addBook(QStringLiteral("Hrabal"), QStringLiteral("Ostře sledované vlaky"), QStringLiteral("Beletrie"), 1965);
    catalogue.addBook(QStringLiteral("Čapek"), QStringLiteral("Válka s mloky"), QStringLiteral("SCI-FI"), 1936);
    catalogue.addBook(QStringLiteral("Čapek"), QStringLiteral("Krakatit"), QStringLiteral("SCI-FI"), 1924);
    catalogue.addBook(QStringLiteral("Hašek"), QString(), QStringLiteral("Beletrie"), 1921);
    MainWindow form;
    resetClauses();
    form.Button12Click();   // by year
    EXPECT_FALSE(form.Button8->isEnabled());
    EXPECT_FALSE(form.Button7->isEnabled());
    EXPECT_FALSE(form.Button6->isEnabled());
    form.Edit2->setText(QStringLiteral("čapek"));
    form.Button10Click();
    EXPECT_EQ(form.Query1->sql(), (QStringList{Unit1::kBaseQuery, QStringLiteral("where (autor like\"%čapek%\")"),
                                               QStringLiteral("order by rok_vydani")}));
    EXPECT_EQ(titles(form), (QStringList{QStringLiteral("Krakatit"), QStringLiteral("Válka s mloky")}));
    EXPECT_FALSE(form.Button6->isEnabled());
    form.Button4Click();   // no order: the engine's natural order, search kept
    EXPECT_TRUE(form.Button6->isEnabled());
    EXPECT_EQ(titles(form), (QStringList{QStringLiteral("Válka s mloky"), QStringLiteral("Krakatit")}));
    form.Edit1->setText(QString());
    form.Button1Click();   // every record with a title
    EXPECT_EQ(titles(form).size(), 3);
    form.ComboBox1->setEditText(QStringLiteral("SCI"));
    form.Button11Click();
    EXPECT_EQ(titles(form).size(), 2);
    form.Button2Click();
    form.Button9Click();   // all, still sorted by title
    EXPECT_EQ(titles(form), (QStringList{QString(), QStringLiteral("Krakatit"), QStringLiteral("Ostře sledované vlaky"),
                                         QStringLiteral("Válka s mloky")}));
    EXPECT_FALSE(form.Button8->isEnabled());
}

TEST(MainWindowCommands, AFailedReopeningLeavesTheListClosedUntilTheNextGoodCommand)
{
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    MainWindow form;
    resetClauses();
    form.Button2Click();
    catalogue.exec(QStringLiteral("ALTER TABLE zeplo RENAME COLUMN zanr TO druh"));
    EXPECT_THROW(form.Button4Click(), EngineError);   // the select names zanr
    EXPECT_FALSE(form.Query1->active());
    EXPECT_FALSE(form.Button6->isEnabled());   // a failed "Neřadit" leaves them disabled
    EXPECT_TRUE(form.DBMemo1->toPlainText().isEmpty());
    catalogue.exec(QStringLiteral("ALTER TABLE zeplo RENAME COLUMN druh TO zanr"));
    form.Button13Click();
    EXPECT_TRUE(form.Query1->active());
}

TEST(MainWindowCommands, DeleteAsksAndDeletesOnlyOnYesAndAlwaysRefreshesTheCount)
{
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    MainWindow form;
    {
        ModalAnswerer answerer({QStringLiteral("&No")});
        form.Button8Click();
        EXPECT_EQ(answerer.titles, QStringList{QStringLiteral("Confirm")});
        EXPECT_EQ(answerer.texts, QStringList{QStringLiteral("Opravdu chceš smazat tento záznam?")});
    }
    EXPECT_EQ(catalogue.count(), 3);
    EXPECT_EQ(form.Panel1->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 3"));
    form.Query1->next();
    {
        ModalAnswerer answerer({QStringLiteral("&Yes")});
        form.Button8Click();
    }
    EXPECT_EQ(catalogue.count(), 2);
    EXPECT_EQ(nazev(form), QStringLiteral("Kniha 3"));
    EXPECT_EQ(form.Panel1->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 2"));
    form.Edit1->setText(QStringLiteral("nic takového"));
    form.Button1Click();
    {
        ModalAnswerer answerer({QStringLiteral("&Yes")});
        form.Button8Click();
        EXPECT_EQ(answerer.titles, (QStringList{QStringLiteral("Confirm"), QStringLiteral("Error")}));
        EXPECT_EQ(answerer.texts.value(1), QStringLiteral("Nepodařilo se smazat záznam!"));
    }
    EXPECT_EQ(catalogue.count(), 2);
}

TEST(MainWindow, ComingBackFromThePreviewRefreshesTheCountAndAModalWindowDoesNot)
{
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    MainWindow form;
    BookListReport tisk(form.Query1);
    tisk.setMainWindow(&form);
    form.setReport(&tisk);
    Unit1::firstActivationDone = true;
    form.show();
    QApplication::setActiveWindow(&form);
    form.RefreshCount();
    QTest::qWait(50);

    catalogue.addBooks(1);   // behind the program's back
    {
        ModalAnswerer answerer({QStringLiteral("&No")});
        form.Button8Click();   // the question closes: no activation that counts
        QTest::qWait(50);
    }
    const QString afterDialog = form.Panel1->text();
    EXPECT_EQ(afterDialog, QStringLiteral("celkový počet záznamů uložených v databázi: 4"));   // the delete refreshed it
    catalogue.addBooks(1);
    QTest::qWait(50);
    EXPECT_EQ(form.Panel1->text(), afterDialog);

    QTimer::singleShot(300, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<zeplo::ReportPreview *>(w) && w->isVisible())
                w->close();
    });
    form.Tisk1Click();
    QTRY_COMPARE(form.Panel1->text(), QStringLiteral("celkový počet záznamů uložených v databázi: 5"));
}

TEST(MainWindow, TheCheckBoxesAndMemosOnlyShowTheRow)
{
    TempCatalogue catalogue;
    catalogue.addBook(QStringLiteral("A"), QStringLiteral("B"), {}, {}, true, QVariant());
    MainWindow form;
    Unit1::firstActivationDone = true;
    form.show();
    QTest::mouseClick(form.DBCheckBox1, Qt::LeftButton);
    form.DBCheckBox2->setFocus();
    QTest::keyClick(form.DBCheckBox2, Qt::Key_Space);
    EXPECT_EQ(form.DBCheckBox1->checkState(), Qt::Checked);
    EXPECT_EQ(form.DBCheckBox2->checkState(), Qt::PartiallyChecked);
    form.DBMemo1->setFocus();
    QTest::keyClicks(form.DBMemo1, QStringLiteral("abc"));
    EXPECT_TRUE(form.DBMemo1->toPlainText().isEmpty());
    EXPECT_EQ(form.Query1->state(), DataSetState::Browse);
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select vlastnim from zeplo")).toLongLong(), 1);
}
