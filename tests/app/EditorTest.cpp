#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "Children.h"
#include "ModalAnswerer.h"
#include "TempCatalogue.h"
#include "app/BookQueries.h"
#include "app/MainWindow.h"
#include "app/BookEditor.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/FieldEdit.h"
#include "widgets/FieldMemo.h"
#include "engine/DataSource.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

// Types text key by key, Czech letters included (QTest's own typing takes ASCII only).
void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, c.isDigit() ? Qt::Key_0 + c.digitValue() : Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, press.key(), Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

// Runs `user` inside the editor's modal loop once the editor has started its
// append or edit, the way a user works in it, while `open` opens it.
void withEditor(const std::function<void()> &open, const std::function<void(BookEditor &)> &user)
{
    bool ran = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto *editor = qobject_cast<BookEditor *>(QApplication::activeModalWidget());
        if (!editor || ran)
            return;
        ran = true;
        // The editor starts its append or edit once it is shown.
        EXPECT_TRUE(QTest::qWaitFor(
            [editor] { return child<QPushButton>(*editor, "BitBtn2")->text() != QStringLiteral("OK"); }));
        user(*editor);
        // A test that leaves the editor open would hang: close it as Storno does.
        if (editor->isVisible())
            child<QPushButton>(*editor, "BitBtn1")->click();
    });
    timer.start(10);
    open();
    EXPECT_TRUE(ran);
}

QString count(MainWindow &form)
{
    return child<QLabel>(form, "Panel1")->text().section(QLatin1Char(' '), -1);
}

} // namespace

TEST(Editor, AddWithOkStoresTheBookShowsItWithoutReopeningAndRaisesTheCount)
{
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    MainWindow form;
    form.refreshCount();
    withEditor([&] { form.addRecord(); }, [&](BookEditor &editor) {
        EXPECT_EQ(editor.mode(), BookEditor::Mode::New);
        EXPECT_EQ(editor.windowTitle(), QStringLiteral("Editor Knih"));
        EXPECT_EQ(child<QPushButton>(editor, "BitBtn2")->text(), QStringLiteral("Vložit záznam"));
        EXPECT_EQ(child<FieldEdit>(editor, "DBEdit3")->geometry(), QRect(16, 40, 121, 21));
        EXPECT_EQ(child<QPushButton>(editor, "BitBtn2")->geometry(), QRect(464, 240, 107, 25));
        EXPECT_EQ(child<FieldCheckBox>(editor, "DBCheckBox1")->geometry(), QRect(152, 104, 113, 17));
        EXPECT_EQ(child<FieldCheckBox>(editor, "DBCheckBox2")->geometry(), QRect(288, 104, 97, 17));
        const QPoint screenCentre = editor.screen()->geometry().center();
        EXPECT_LE(std::abs(editor.geometry().center().x() - screenCentre.x()), 2);
        EXPECT_LE(std::abs(editor.geometry().center().y() - screenCentre.y()), 2);
        EXPECT_FALSE(editor.windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_TRUE(child<DataSource>(form, "DataSource1")->autoEdit());
        EXPECT_EQ(child<ResultSet>(form, "Query1")->state(), DataSetState::Insert);
        EXPECT_EQ(child<FieldCheckBox>(editor, "DBCheckBox1")->checkState(), Qt::PartiallyChecked);
        child<FieldEdit>(editor, "DBEdit3")->setFocus();
        typeText(child<FieldEdit>(editor, "DBEdit3"), QStringLiteral("Němcová Božena"));
        child<FieldEdit>(editor, "DBEdit5")->setFocus();
        typeText(child<FieldEdit>(editor, "DBEdit5"), QStringLiteral("18x555"));   // x refused, a fifth digit too
        EXPECT_EQ(child<FieldEdit>(editor, "DBEdit5")->text(), QStringLiteral("1855"));
        // A typed start stays as typed; a choice from the list comes in whole.
        auto *genres = child<QComboBox>(editor, "ComboBox1");
        genres->setFocus();
        QTest::keyClicks(genres, QStringLiteral("d"));
        EXPECT_EQ(genres->currentText(), QStringLiteral("d"));
        EXPECT_EQ(child<FieldEdit>(editor, "DBEdit2")->text(), QStringLiteral("d"));
        genres->setCurrentIndex(genres->findText(QStringLiteral("SCI-FI")));
        EXPECT_EQ(child<FieldEdit>(editor, "DBEdit2")->text(), QStringLiteral("SCI-FI"));
        child<FieldMemo>(editor, "DBMemo1")->setFocus();
        typeText(child<FieldMemo>(editor, "DBMemo1"), QStringLiteral("první"));
        QTest::keyClick(child<FieldMemo>(editor, "DBMemo1"), Qt::Key_Return);   // a new line, not OK
        typeText(child<FieldMemo>(editor, "DBMemo1"), QStringLiteral("druhá"));
        EXPECT_TRUE(editor.isVisible());
        genres->setFocus();
        QTest::keyClick(genres, Qt::Key_Return);   // the first Enter in the genre box presses OK
        EXPECT_FALSE(editor.isVisible());
    });
    EXPECT_FALSE(child<DataSource>(form, "DataSource1")->autoEdit());
    EXPECT_EQ(child<ResultSet>(form, "Query1")->state(), DataSetState::Browse);
    EXPECT_EQ(child<ResultSet>(form, "Query1")->fieldByName(QStringLiteral("autor"))->displayText(), QStringLiteral("Němcová Božena"));
    EXPECT_EQ(child<ResultSet>(form, "Query1")->fieldByName(QStringLiteral("id"))->asInteger(), 4);
    EXPECT_EQ(child<ResultSet>(form, "Query1")->activeLine(), 3);
    EXPECT_EQ(count(form), QStringLiteral("4"));
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select zanr||'/'||rok_vydani from zeplo where id=4")).toString(),
              QStringLiteral("SCI-FI/1855"));
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select popis from zeplo where id=4")).toString(),
              QStringLiteral("první\r\ndruhá"));
    EXPECT_TRUE(catalogue.scalar(QStringLiteral("select vlastnim from zeplo where id=4")).isNull());
}

TEST(Editor, StornoStoresNothingAndReopensOnTheFirstRow)
{
    TempCatalogue catalogue;
    catalogue.addBooks(5);
    MainWindow form;
    child<ResultSet>(form, "Query1")->last();
    withEditor([&] { form.addRecord(); }, [&](BookEditor &editor) {
        child<FieldEdit>(editor, "DBEdit1")->setFocus();
        typeText(child<FieldEdit>(editor, "DBEdit1"), QStringLiteral("Zahodit"));
        child<QPushButton>(editor, "BitBtn1")->click();
    });
    EXPECT_EQ(catalogue.count(), 5);
    EXPECT_EQ(child<ResultSet>(form, "Query1")->recNo(), 1);
    EXPECT_FALSE(child<DataSource>(form, "DataSource1")->autoEdit());
    EXPECT_EQ(count(form), QStringLiteral("5"));
}

TEST(Editor, EditWithOkChangesTheRowAndStornoLeavesItAlone)
{
    TempCatalogue catalogue;
    catalogue.addBooks(3);
    MainWindow form;
    child<ResultSet>(form, "Query1")->next();
    withEditor([&] { form.editRecord(); }, [&](BookEditor &editor) {
        EXPECT_EQ(child<QPushButton>(editor, "BitBtn2")->text(), QStringLiteral("Návrat zpět"));
        EXPECT_EQ(child<ResultSet>(form, "Query1")->state(), DataSetState::Edit);
        EXPECT_EQ(child<FieldEdit>(editor, "DBEdit1")->text(), QStringLiteral("Kniha 2"));
        child<FieldEdit>(editor, "DBEdit1")->setFocus();
        child<FieldEdit>(editor, "DBEdit1")->selectAll();
        typeText(child<FieldEdit>(editor, "DBEdit1"), QStringLiteral("Přejmenovaná"));
        QTest::keyClick(child<FieldEdit>(editor, "DBEdit1"), Qt::Key_Escape);   // Esc in a box brings the value back ...
        EXPECT_EQ(child<FieldEdit>(editor, "DBEdit1")->text(), QStringLiteral("Kniha 2"));
        EXPECT_TRUE(editor.isVisible());                   // ... and never closes the editor
        child<FieldEdit>(editor, "DBEdit1")->selectAll();
        typeText(child<FieldEdit>(editor, "DBEdit1"), QStringLiteral("Přejmenovaná"));
        child<FieldCheckBox>(editor, "DBCheckBox2")->setFocus();
        QTest::keyClick(child<FieldCheckBox>(editor, "DBCheckBox2"), Qt::Key_Space);
        QTest::keyClick(child<FieldCheckBox>(editor, "DBCheckBox2"), Qt::Key_Return);   // Enter on a check box presses OK
        EXPECT_FALSE(editor.isVisible());
    });
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select nazev from zeplo where id=2")).toString(), QStringLiteral("Přejmenovaná"));
    EXPECT_EQ(child<ResultSet>(form, "Query1")->recNo(), 2);
    withEditor([&] { form.editRecord(); }, [&](BookEditor &editor) {
        child<FieldEdit>(editor, "DBEdit3")->setFocus();
        typeText(child<FieldEdit>(editor, "DBEdit3"), QStringLiteral("xyz"));
        child<QPushButton>(editor, "BitBtn1")->setFocus();
        QTest::keyClick(child<QPushButton>(editor, "BitBtn1"), Qt::Key_Return);   // Enter on Storno presses Storno
        EXPECT_FALSE(editor.isVisible());
    });
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select autor from zeplo where id=2")).toString(), QStringLiteral("Autor 2"));
}

TEST(Editor, EditOnAnEmptyListStoresANewBook)
{
    TempCatalogue catalogue;
    MainWindow form;
    withEditor([&] { form.editRecord(); }, [&](BookEditor &editor) {
        EXPECT_EQ(child<ResultSet>(form, "Query1")->state(), DataSetState::Insert);
        child<FieldEdit>(editor, "DBEdit1")->setFocus();
        typeText(child<FieldEdit>(editor, "DBEdit1"), QStringLiteral("První kniha"));
        child<QPushButton>(editor, "BitBtn2")->click();
    });
    EXPECT_EQ(catalogue.count(), 1);
    EXPECT_EQ(count(form), QStringLiteral("1"));
}

TEST(Editor, ALoneMinusInTheYearBoxKeepsTheEditorOpenWithTheMessage)
{
    TempCatalogue catalogue;
    catalogue.addBooks(1);
    MainWindow form;
    QStringList messages;
    withEditor([&] { form.addRecord(); }, [&](BookEditor &editor) {
        child<FieldEdit>(editor, "DBEdit5")->setFocus();
        typeText(child<FieldEdit>(editor, "DBEdit5"), QStringLiteral("-"));
        ModalAnswerer answerer({}, true);
        child<QPushButton>(editor, "BitBtn2")->click();   // returns once the error box is answered
        messages = answerer.texts;
        EXPECT_TRUE(editor.isVisible());
        EXPECT_EQ(child<ResultSet>(form, "Query1")->state(), DataSetState::Insert);
        // The refused value is back in front of the user, ready to be retyped.
        // (once the focus has come back from the message box)
        FieldEdit *year = child<FieldEdit>(editor, "DBEdit5");
        EXPECT_EQ(editor.focusWidget(), year);
        EXPECT_EQ(year->text(), QStringLiteral("-"));
        // The selection shows once the editor is the active window again, as a
        // window manager makes it when the box closes; the offscreen platform
        // has none, so the test hands the activation back itself.
        editor.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&editor));
        EXPECT_EQ(year->selectedText(), QStringLiteral("-"));
        // Storno is pressed with the mouse without taking the focus from the box, so it still closes.
        QTest::mouseClick(child<QPushButton>(editor, "BitBtn1"), Qt::LeftButton);
        EXPECT_FALSE(editor.isVisible());
    });
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.first(), QStringLiteral("'-' is not a valid integer value for field 'rok_vydani'"));
    EXPECT_EQ(catalogue.count(), 1);
}

TEST(Editor, ARequiredColumnLeftEmptyIsNamedAndTheRowKept)
{
    TempCatalogue catalogue("CREATE TABLE zeplo (id INTEGER PRIMARY KEY AUTOINCREMENT, autor VARCHAR(40), "
                            "nazev VARCHAR(60) NOT NULL, zanr VARCHAR(20), rok_vydani SMALLINT, popis MEMO, "
                            "vlastnim BOOLEAN, precteno BOOLEAN, pujceno MEMO)");
    MainWindow form;
    QStringList messages;
    withEditor([&] { form.addRecord(); }, [&](BookEditor &editor) {
        child<FieldEdit>(editor, "DBEdit3")->setFocus();
        typeText(child<FieldEdit>(editor, "DBEdit3"), QStringLiteral("Autor bez knihy"));
        {
            ModalAnswerer answerer({}, true);
            child<QPushButton>(editor, "BitBtn2")->click();   // returns once the error box is answered
            messages = answerer.texts;
        }
        EXPECT_TRUE(editor.isVisible());
        EXPECT_EQ(child<FieldEdit>(editor, "DBEdit3")->text(), QStringLiteral("Autor bez knihy"));
        EXPECT_EQ(editor.focusWidget(), child<FieldEdit>(editor, "DBEdit1"));
        typeText(child<FieldEdit>(editor, "DBEdit1"), QStringLiteral("Kniha"));
        child<QPushButton>(editor, "BitBtn2")->click();
        EXPECT_FALSE(editor.isVisible());
    });
    EXPECT_EQ(messages, QStringList{QStringLiteral("Field 'nazev' must have a value.")});
    EXPECT_EQ(catalogue.count(), 1);
}

TEST(Editor, AReadOnlyCatalogueShowsTheRowAndOnlyStornoCloses)
{
    TempCatalogue catalogue;
    catalogue.addBooks(2);
    QFile::setPermissions(catalogue.file(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    MainWindow form;
    EXPECT_FALSE(child<ResultSet>(form, "Query1")->canModify());
    QStringList messages;
    withEditor([&] {
        ModalAnswerer answerer({}, true);
        form.editRecord();
        messages = answerer.texts;
    }, [&](BookEditor &editor) {
        EXPECT_EQ(child<FieldEdit>(editor, "DBEdit1")->text(), QStringLiteral("Kniha 1"));
        child<QPushButton>(editor, "BitBtn2")->click();   // returns once the error box is answered
        EXPECT_TRUE(editor.isVisible());
        child<QPushButton>(editor, "BitBtn1")->click();
        EXPECT_FALSE(editor.isVisible());
    });
    EXPECT_EQ(messages, (QStringList{QStringLiteral("Query1: Cannot modify a read-only dataset."),
                                     QStringLiteral("Query1: Dataset not in edit or insert mode.")}));
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select nazev from zeplo where id=1")).toString(), QStringLiteral("Kniha 1"));
    QFile::setPermissions(catalogue.file(), QFile::ReadOwner | QFile::WriteOwner);
}

TEST(Editor, StornoClosesEvenWhenTheListCannotBeOpenedAgain)
{
    TempCatalogue catalogue;
    catalogue.addBooks(2);
    MainWindow form;
    QStringList messages;
    withEditor([&] { form.addRecord(); }, [&](BookEditor &editor) {
        catalogue.exec(QStringLiteral("ALTER TABLE zeplo RENAME COLUMN popis TO poznamka"));
        ModalAnswerer answerer({}, true);
        child<QPushButton>(editor, "BitBtn1")->click();   // returns once the error box is answered
        messages = answerer.texts;
        EXPECT_FALSE(editor.isVisible());
    });
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("popis"))) << messages[0].toStdString();
    EXPECT_FALSE(child<ResultSet>(form, "Query1")->active());
    EXPECT_FALSE(child<DataSource>(form, "DataSource1")->autoEdit());
}
