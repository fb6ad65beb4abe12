#include <functional>

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QTimer>

#include "TempCatalogue.h"
#include "widgets/ErrorGuard.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/FieldEdit.h"
#include "widgets/FieldMemo.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

const QString kBase = TempCatalogue::kBaseQuery;

template <class Control>
Control *bound(QWidget *parent, DataSource *source, const char *name, const char *field, int x, int y)
{
    auto *control = new Control(parent);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(x, y, 150, 24);
    control->setDataSource(source);
    control->setDataField(QString::fromLatin1(field));
    return control;
}

// A small window with the editor's kinds of controls over Query1.
struct Form {
    TempCatalogue catalogue;
    ResultSet query{QStringLiteral("Query1")};
    DataSource source;
    QWidget window;
    FieldEdit *autor, *nazev, *zanr, *rok;
    FieldMemo *popis, *pujceno;
    FieldCheckBox *vlastnim, *precteno;
    QPushButton *button;

    explicit Form(const char *schema = TempCatalogue::kSchema) : catalogue(schema)
    {
        source.setDataSet(&query);
        query.setRequestLive(true);
        query.setSql({kBase, QString(), QString()});
        autor = bound<FieldEdit>(&window, &source, "DBEdit3", "Autor", 10, 10);
        nazev = bound<FieldEdit>(&window, &source, "DBEdit1", "Nazev", 170, 10);
        zanr = bound<FieldEdit>(&window, &source, "DBEdit2", "Zanr", 330, 10);
        rok = bound<FieldEdit>(&window, &source, "DBEdit5", "Rok_vydani", 10, 40);
        rok->setMaxLength(4);
        popis = bound<FieldMemo>(&window, &source, "DBMemo1", "Popis", 10, 80);
        popis->resize(185, 105);
        pujceno = bound<FieldMemo>(&window, &source, "DBMemo3", "Pujceno", 210, 80);
        pujceno->resize(185, 105);
        vlastnim = bound<FieldCheckBox>(&window, &source, "DBCheckBox1", "Vlastnim", 170, 40);
        vlastnim->setText(QStringLiteral("vlastním knihu"));
        precteno = bound<FieldCheckBox>(&window, &source, "DBCheckBox2", "Precteno", 330, 40);
        precteno->setText(QStringLiteral("přečteno"));
        button = new QPushButton(QStringLiteral("OK"), &window);
        button->setGeometry(410, 160, 80, 25);
        window.resize(500, 200);
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void open() { query.open(); }
    // The editor's way in: AutoEdit on, then edit or append.
    void edit()
    {
        source.setAutoEdit(true);
        query.edit();
    }
    void append()
    {
        source.setAutoEdit(true);
        query.append();
    }
    void focus(QWidget *w)
    {
        w->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(QApplication::focusWidget(), w);
    }
};

// Runs `action` and answers the application error box it leads to; returns
// the box's text (empty when no box came).
QString answerErrorBox(const std::function<void()> &action)
{
    QString text;
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            text = box->text();
            seen = true;
            box->accept();
        }
    });
    poll.start();
    action();
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen; }, 2000)) << "no error box came";
    return text;
}

// Types `text` key by key; unlike QTest::keyClicks it takes any character,
// one beyond the Basic Multilingual Plane (two UTF-16 units) as one key.
void type(QWidget *w, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size();
        const Qt::Key key = pair ? Qt::Key_unknown : Qt::Key(text[i].toUpper().unicode());
        QTest::sendKeyEvent(QTest::Click, w, key, text.mid(i, pair ? 2 : 1), Qt::NoModifier);
        i += pair ? 1 : 0;
    }
}

// Characters beyond the Basic Multilingual Plane: two UTF-16 units each.
const QString kEmoji = QStringLiteral("\U0001F600");
const QString kRareHan = QStringLiteral("\U00020BB7");

void setClipboard(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

} // namespace

TEST(FieldControlsDisplay, FollowClosedBrowseAndEmptyResult)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("Čapek"), QStringLiteral("Krakatit"), QStringLiteral("SCI-FI"), 1924, true,
                        false, QVariant(), QStringLiteral("Inženýr Prokop"));

    // Closed: nothing to show, check boxes unchecked rather than grayed.
    EXPECT_EQ(f.nazev->text(), QString());
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Unchecked);

    f.open();
    EXPECT_EQ(f.autor->text(), QStringLiteral("Čapek"));
    EXPECT_EQ(f.nazev->text(), QStringLiteral("Krakatit"));
    EXPECT_EQ(f.rok->text(), QStringLiteral("1924"));
    EXPECT_TRUE(f.rok->alignment() & Qt::AlignRight);
    EXPECT_TRUE(f.nazev->alignment() & Qt::AlignLeft);
    EXPECT_EQ(f.popis->toPlainText(), QStringLiteral("Inženýr Prokop"));
    EXPECT_EQ(f.pujceno->toPlainText(), QString());
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Checked);
    EXPECT_EQ(f.precteno->checkState(), Qt::Unchecked);
    // Browse with AutoEdit off: nothing takes typing.
    EXPECT_TRUE(f.nazev->isReadOnly());
    EXPECT_TRUE(f.popis->isReadOnly());
    // A text box without a declared length takes its column's; the declared one stays.
    EXPECT_EQ(f.nazev->maxLength(), 60);
    EXPECT_EQ(f.rok->maxLength(), 4);

    f.query.setSql({kBase, QStringLiteral("where nazev = \"none\""), QString()});
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Unchecked);
    f.open();
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.nazev->text(), QString());
    EXPECT_EQ(f.popis->toPlainText(), QString());
    EXPECT_EQ(f.vlastnim->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(f.precteno->checkState(), Qt::PartiallyChecked);

    f.query.close();
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Unchecked);
}

TEST(FieldControlsDisplay, EditShowsValuesEditableAndInsertShowsAnEmptyRow)
{
    Form f;
    f.catalogue.addBooks(3);
    f.catalogue.exec(QStringLiteral("update zeplo set vlastnim = 1, precteno = 0"));
    f.open();
    f.edit();
    EXPECT_EQ(f.query.state(), DataSetState::Edit);
    EXPECT_EQ(f.nazev->text(), QStringLiteral("Kniha 1"));
    EXPECT_FALSE(f.nazev->isReadOnly());
    EXPECT_FALSE(f.popis->isReadOnly());
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Checked);

    f.query.cancel();
    f.append();
    EXPECT_EQ(f.query.state(), DataSetState::Insert);
    for (FieldEdit *e : {f.autor, f.nazev, f.zanr, f.rok})
        EXPECT_EQ(e->text(), QString()) << e->objectName().toStdString();
    EXPECT_EQ(f.popis->toPlainText(), QString());
    EXPECT_EQ(f.vlastnim->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(f.precteno->checkState(), Qt::PartiallyChecked);
    EXPECT_FALSE(f.rok->isReadOnly());
}

TEST(FieldControlsDisplay, EveryMoveOfTheCurrentRowRefreshesAllControls)
{
    Form f;
    for (int i = 1; i <= 4; ++i)
        f.catalogue.addBook(QStringLiteral("A%1").arg(i), QStringLiteral("N%1").arg(i), QString(), 2000 + i,
                            i % 2 == 0, QVariant(), QStringLiteral("lent %1").arg(i), QStringLiteral("about %1").arg(i));
    f.open();
    auto expectRow = [&](int i) {
        EXPECT_EQ(f.autor->text(), QStringLiteral("A%1").arg(i));
        EXPECT_EQ(f.nazev->text(), QStringLiteral("N%1").arg(i));
        EXPECT_EQ(f.rok->text(), QString::number(2000 + i));
        EXPECT_EQ(f.popis->toPlainText(), QStringLiteral("about %1").arg(i));
        EXPECT_EQ(f.pujceno->toPlainText(), QStringLiteral("lent %1").arg(i));
        EXPECT_EQ(f.vlastnim->checkState(), i % 2 == 0 ? Qt::Checked : Qt::Unchecked);
        EXPECT_EQ(f.precteno->checkState(), Qt::PartiallyChecked);
    };
    expectRow(1);
    f.query.next();
    expectRow(2);
    f.query.last();
    expectRow(4);
    f.query.moveBy(-2);
    expectRow(2);
    f.query.first();
    expectRow(1);
    f.query.moveToRecNo(3);
    expectRow(3);
}

TEST(FieldControlsDisplay, ABoxShowsEditingTextOnlyWhileFocusedAndNumbersLeftAligned)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("A"), QStringLiteral("N"), QString(), 1999);
    f.open();
    f.edit();
    f.focus(f.rok);
    EXPECT_TRUE(f.rok->alignment() & Qt::AlignLeft);
    EXPECT_EQ(f.rok->text(), QStringLiteral("1999"));
    f.focus(f.nazev);
    EXPECT_TRUE(f.rok->alignment() & Qt::AlignRight);

    // A long value is shown whole even where typing is limited.
    f.query.fieldByName(QStringLiteral("rok_vydani"))->setValue(qint64(-12345));
    EXPECT_EQ(f.rok->text(), QStringLiteral("-12345"));
}

TEST(FieldControlsBinding, AMissingFieldFailsWithTheControlsName)
{
    Form f;
    f.catalogue.addBooks(1);
    f.nazev->setDataField(QStringLiteral("X"));
    try {
        f.open();
        FAIL() << "opening should fail";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("DBEdit1: Field 'X' not found"));
    }
    EXPECT_EQ(f.nazev->text(), QString());
    EXPECT_EQ(f.autor->text(), QStringLiteral("Autor 1"));   // the others still bound

    // Binding over an open result set fails the same way, for every kind.
    try {
        f.vlastnim->setDataField(QStringLiteral("Vlastni"));
        FAIL() << "binding should fail";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("DBCheckBox1: Field 'Vlastni' not found"));
    }
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Unchecked);
    f.nazev->setDataField(QStringLiteral("NAZEV"));   // case does not matter
    EXPECT_EQ(f.nazev->text(), QStringLiteral("Kniha 1"));

    // A control made while the result set is open shows the current row at once.
    FieldMemo late(&f.window);
    late.setDataField(QStringLiteral("nazev"));
    late.setDataSource(&f.source);
    EXPECT_EQ(late.toPlainText(), QStringLiteral("Kniha 1"));
}

TEST(FieldControlsGate, WithAutoEditOffTypingClickingAndSpaceChangeNothing)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("A"), QStringLiteral("Kniha"), QString(), 2001, true, QVariant(),
                        QVariant(), QStringLiteral("popis"));
    f.open();
    f.focus(f.nazev);
    type(f.nazev, QStringLiteral("xyz"));
    QTest::keyClick(f.nazev, Qt::Key_Backspace);
    setClipboard(QStringLiteral("pasted"));
    QTest::keyClick(f.nazev, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.nazev->text(), QStringLiteral("Kniha"));

    f.focus(f.popis);
    type(f.popis, QStringLiteral("abc"));
    QTest::keyClick(f.popis, Qt::Key_Return);
    EXPECT_EQ(f.popis->toPlainText(), QStringLiteral("popis"));

    f.focus(f.vlastnim);
    QTest::mouseClick(f.vlastnim, Qt::LeftButton);
    QTest::keyClick(f.vlastnim, Qt::Key_Space);
    f.vlastnim->click();
    // Toggling past the click handling (as an assistive tool does) is held too.
    f.vlastnim->toggle();
    f.vlastnim->setChecked(false);
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Checked);
    QTest::keyClick(f.precteno, Qt::Key_Space);
    EXPECT_EQ(f.precteno->checkState(), Qt::PartiallyChecked);

    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_FALSE(f.nazev->modified());
    EXPECT_FALSE(f.vlastnim->modified());
    EXPECT_FALSE(f.popis->modified());
}

TEST(FieldControlsGate, WithAutoEditOnTypingStartsEditAndLeavingWritesBack)
{
    Form f;
    f.catalogue.addBooks(2);
    f.open();
    f.source.setAutoEdit(true);
    f.focus(f.nazev);
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    f.nazev->end(false);
    type(f.nazev, QStringLiteral("X"));
    EXPECT_EQ(f.query.state(), DataSetState::Edit);
    EXPECT_EQ(f.nazev->text(), QStringLiteral("Kniha 1X"));
    EXPECT_TRUE(f.nazev->modified());
    EXPECT_EQ(f.query.fieldByName(QStringLiteral("nazev"))->text(), QStringLiteral("Kniha 1"));

    f.focus(f.autor);
    EXPECT_FALSE(f.nazev->modified());
    EXPECT_EQ(f.query.fieldByName(QStringLiteral("nazev"))->text(), QStringLiteral("Kniha 1X"));

    // A read-only box does not start editing, even with AutoEdit on.
    f.query.cancel();
    f.autor->setReadOnly(true);
    f.focus(f.autor);
    type(f.autor, QStringLiteral("q"));
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.autor->text(), QStringLiteral("Autor 1"));

    // The check box, from browse: the click starts edit and changes the box.
    QTest::mouseClick(f.vlastnim, Qt::LeftButton);
    EXPECT_EQ(f.query.state(), DataSetState::Edit);
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Checked);
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select vlastnim from zeplo where nazev = 'Kniha 1'")).toInt(), 1);
}

TEST(FieldControlsEdit, IntegerBoxRefusesLettersAndFailsOnALoneMinusWhenLeft)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("A"), QStringLiteral("Kniha"), QString(), 1984);
    f.open();
    f.edit();
    f.focus(f.rok);
    f.rok->selectAll();
    type(f.rok, QStringLiteral("x"));
    EXPECT_EQ(f.rok->text(), QStringLiteral("1984"));
    EXPECT_FALSE(f.rok->modified());

    type(f.rok, QStringLiteral("-"));
    EXPECT_EQ(f.rok->text(), QStringLiteral("-"));
    const QString message = answerErrorBox([&] { f.nazev->setFocus(Qt::TabFocusReason); });
    EXPECT_EQ(message, QStringLiteral("'-' is not a valid integer value for field 'rok_vydani'"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.window.focusWidget() == f.rok; }, 1000));
    EXPECT_EQ(f.rok->text(), QStringLiteral("-"));
    EXPECT_EQ(f.rok->selectedText(), QStringLiteral("-"));
    QApplication::setActiveWindow(&f.window);   // the offscreen platform does not give it back by itself
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    EXPECT_EQ(QApplication::focusWidget(), f.rok);
    EXPECT_EQ(f.query.fieldByName(QStringLiteral("rok_vydani"))->value().toLongLong(), 1984);

    // Posting with the bad text still in the box fails with the same message.
    try {
        f.query.post();
        FAIL() << "post should fail";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("'-' is not a valid integer value for field 'rok_vydani'"));
    }
    EXPECT_EQ(f.query.state(), DataSetState::Edit);

    // Correcting it lets the box go.
    f.rok->selectAll();
    type(f.rok, QStringLiteral("-12"));
    f.focus(f.nazev);
    EXPECT_EQ(f.query.fieldByName(QStringLiteral("rok_vydani"))->value().toLongLong(), -12);
}

TEST(FieldControlsEdit, TypingAndPastingStopAtTheMaximumLength)
{
    Form f;
    f.catalogue.addBook(QString(), QString());
    f.open();
    f.edit();
    f.focus(f.rok);
    type(f.rok, QStringLiteral("12345"));
    EXPECT_EQ(f.rok->text(), QStringLiteral("1234"));

    // A text column's box stops at the column's size (zanr: 20).
    f.focus(f.zanr);
    type(f.zanr, QString(25, QLatin1Char('z')));
    EXPECT_EQ(f.zanr->text(), QString(20, QLatin1Char('z')));
    setClipboard(QStringLiteral("more"));
    QTest::keyClick(f.zanr, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.zanr->text(), QString(20, QLatin1Char('z')));

    // A paste is cut to the room left, to its first line, and refused whole
    // when it holds a character the field does not take.
    f.rok->clear();
    setClipboard(QStringLiteral("19x4"));
    QTest::keyClick(f.rok, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.rok->text(), QString());
    setClipboard(QStringLiteral("2024\nabc"));
    QTest::keyClick(f.rok, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(f.rok->text(), QStringLiteral("2024"));
    f.rok->clear();
    setClipboard(QStringLiteral("202412"));
    QTest::keyClick(f.rok, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.rok->text(), QStringLiteral("2024"));

    // Whatever slips past the keys (the context menu's Paste) is held too.
    f.rok->clear();
    setClipboard(QStringLiteral("7a"));
    f.rok->paste();
    EXPECT_EQ(f.rok->text(), QString());

    // The size counts characters: one beyond the Basic Multilingual Plane is
    // one, typed or pasted, and a cut never falls between its two halves.
    f.zanr->clear();
    type(f.zanr, QString(18, QLatin1Char('z')) + kEmoji + kRareHan + kEmoji);
    EXPECT_EQ(f.zanr->text(), QString(18, QLatin1Char('z')) + kEmoji + kRareHan);
    f.zanr->clear();
    type(f.zanr, QString(19, QLatin1Char('z')));
    setClipboard(kEmoji + kEmoji);
    QTest::keyClick(f.zanr, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.zanr->text(), QString(19, QLatin1Char('z')) + kEmoji);
    f.zanr->clear();
    type(f.zanr, QString(19, QLatin1Char('z')));
    setClipboard(kEmoji);
    f.zanr->paste();   // past the keys: one character that fits is taken
    EXPECT_EQ(f.zanr->text(), QString(19, QLatin1Char('z')) + kEmoji);
    f.focus(f.nazev);
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select zanr from zeplo")).toString(),
              QString(19, QLatin1Char('z')) + kEmoji);
}

TEST(FieldControlsEdit, EscapeBringsBackTheFieldsValueSelected)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("Autor"), QStringLiteral("Kniha"));
    f.open();
    f.edit();
    f.focus(f.nazev);
    f.nazev->selectAll();
    type(f.nazev, QStringLiteral("Jiná"));
    EXPECT_EQ(f.nazev->text(), QStringLiteral("Jiná"));
    QTest::keyClick(f.nazev, Qt::Key_Escape);
    EXPECT_EQ(f.nazev->text(), QStringLiteral("Kniha"));
    EXPECT_EQ(f.nazev->selectedText(), QStringLiteral("Kniha"));
    EXPECT_FALSE(f.nazev->modified());
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select nazev from zeplo")).toString(), QStringLiteral("Kniha"));
}

TEST(FieldControlsEdit, TheProgramsSetTextIsWrittenBackAndSurvivesEnteringTheBox)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("Autor"), QStringLiteral("Kniha"), QStringLiteral("ROMÁN"));
    f.open();
    f.edit();
    f.focus(f.nazev);
    f.zanr->setText(QStringLiteral("SCI-FI"));   // as the genre combo box does
    EXPECT_TRUE(f.zanr->modified());
    f.focus(f.zanr);
    EXPECT_EQ(f.zanr->text(), QStringLiteral("SCI-FI"));
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select zanr from zeplo")).toString(), QStringLiteral("SCI-FI"));
}

TEST(FieldControlsEdit, ARequiredFieldLeftEmptyTakesTheFocusAtPosting)
{
    Form f(
        "CREATE TABLE zeplo (id INTEGER PRIMARY KEY AUTOINCREMENT, autor VARCHAR(40), nazev VARCHAR(60) NOT NULL, "
        "zanr VARCHAR(20), rok_vydani SMALLINT, popis MEMO, vlastnim BOOLEAN, precteno BOOLEAN, pujceno MEMO)");
    f.catalogue.addBooks(1);
    f.open();
    f.append();
    f.focus(f.autor);
    try {
        f.query.post();
        FAIL() << "post should fail";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Field 'nazev' must have a value"));
    }
    EXPECT_EQ(QApplication::focusWidget(), f.nazev);
}

TEST(FieldControlsCheckBox, ANewRowsBoxCyclesGrayedCheckedUncheckedChecked)
{
    Form f;
    f.catalogue.addBooks(3);
    f.open();
    f.append();
    EXPECT_EQ(f.vlastnim->checkState(), Qt::PartiallyChecked);
    QTest::mouseClick(f.vlastnim, Qt::LeftButton);
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Checked);
    EXPECT_TRUE(f.vlastnim->modified());
    QTest::mouseClick(f.vlastnim, Qt::LeftButton);
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Unchecked);
    f.focus(f.vlastnim);
    QTest::keyClick(f.vlastnim, Qt::Key_Space);
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Checked);

    // Escape brings back the stored (null) state; Backspace changes nothing.
    QTest::keyClick(f.vlastnim, Qt::Key_Escape);
    EXPECT_EQ(f.vlastnim->checkState(), Qt::PartiallyChecked);
    QTest::keyClick(f.vlastnim, Qt::Key_Backspace);
    EXPECT_EQ(f.vlastnim->checkState(), Qt::PartiallyChecked);

    QTest::mouseClick(f.precteno, Qt::LeftButton);
    QTest::mouseClick(f.precteno, Qt::LeftButton);
    f.query.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Nová"));
    f.query.post();
    EXPECT_TRUE(f.catalogue.scalar(QStringLiteral("select vlastnim from zeplo where nazev = 'Nová'")).isNull());
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select precteno from zeplo where nazev = 'Nová'")).toInt(), 0);
    EXPECT_EQ(f.precteno->checkState(), Qt::Unchecked);
}

TEST(FieldControlsCheckBox, ANewRowPostedWithUntouchedBoxesStoresNull)
{
    Form f;
    f.catalogue.addBooks(2);
    f.open();
    f.append();
    f.focus(f.nazev);
    type(f.nazev, QStringLiteral("Bez příznaků"));
    f.focus(f.vlastnim);
    f.focus(f.precteno);   // entering and leaving the boxes writes nothing
    f.focus(f.autor);
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(
                  QStringLiteral("select count(*) from zeplo where nazev = 'Bez příznaků' and vlastnim is null "
                                 "and precteno is null and popis is null"))
                  .toInt(),
              1);
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.vlastnim->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(f.precteno->checkState(), Qt::PartiallyChecked);
}

TEST(FieldControlsCheckBox, AColumnOfAnotherKindIsComparedWithTheValueLists)
{
    Form f(
        "CREATE TABLE zeplo (id INTEGER PRIMARY KEY AUTOINCREMENT, autor VARCHAR(40), nazev VARCHAR(60), "
        "zanr VARCHAR(20), rok_vydani SMALLINT, popis MEMO, vlastnim VARCHAR(5), precteno BOOLEAN, pujceno MEMO)");
    f.vlastnim->setCheckedTexts(QStringLiteral("Ano;yes"));
    f.vlastnim->setUncheckedTexts(QStringLiteral("Ne;no"));
    f.catalogue.addBook(QStringLiteral("a"), QStringLiteral("1"), QString(), QVariant(), QStringLiteral("YES"));
    f.catalogue.addBook(QStringLiteral("a"), QStringLiteral("2"), QString(), QVariant(), QStringLiteral("ne"));
    f.catalogue.addBook(QStringLiteral("a"), QStringLiteral("3"), QString(), QVariant(), QStringLiteral("maybe"));
    f.open();
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Checked);
    f.query.next();
    EXPECT_EQ(f.vlastnim->checkState(), Qt::Unchecked);
    f.query.next();
    EXPECT_EQ(f.vlastnim->checkState(), Qt::PartiallyChecked);

    // Written back as the first entry of the list.
    f.edit();
    QTest::mouseClick(f.vlastnim, Qt::LeftButton);
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select vlastnim from zeplo where nazev = '3'")).toString(),
              QStringLiteral("Ano"));
    f.edit();
    QTest::mouseClick(f.vlastnim, Qt::LeftButton);
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select vlastnim from zeplo where nazev = '3'")).toString(),
              QStringLiteral("Ne"));
}

TEST(FieldControlsMemo, LineBreaksShowAsOneAndAreWrittenBackAsCrLf)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("A"), QStringLiteral("N"), QString(), QVariant(), QVariant(), QVariant(),
                        QVariant(), QStringLiteral("první\r\ndruhý\ntřetí\u00a0konec"));
    f.open();
    EXPECT_EQ(f.popis->blockCount(), 3);
    EXPECT_FALSE(f.popis->modified());   // loading is not a change
    f.edit();
    f.focus(f.popis);
    f.popis->moveCursor(QTextCursor::End);
    QTest::keyClick(f.popis, Qt::Key_Return);
    type(f.popis, QStringLiteral("nový"));
    EXPECT_TRUE(f.popis->modified());
    EXPECT_EQ(f.popis->memoText(), QStringLiteral("první\r\ndruhý\r\ntřetí\u00a0konec\r\nnový"));
    f.focus(f.nazev);   // leaving writes back
    EXPECT_FALSE(f.popis->modified());
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select popis from zeplo")).toString(),
              QStringLiteral("první\r\ndruhý\r\ntřetí\u00a0konec\r\nnový"));

    // Escape brings the stored text back; emptied, the memo stores null.
    f.edit();
    f.focus(f.popis);
    f.popis->selectAll();
    QTest::keyClick(f.popis, Qt::Key_Delete);
    EXPECT_EQ(f.popis->toPlainText(), QString());
    QTest::keyClick(f.popis, Qt::Key_Escape);
    EXPECT_EQ(f.popis->blockCount(), 4);
    f.popis->selectAll();
    QTest::keyClick(f.popis, Qt::Key_Backspace);
    f.query.post();
    EXPECT_TRUE(f.catalogue.scalar(QStringLiteral("select popis from zeplo")).isNull());
}

TEST(FieldControlsMemo, ReadOnlyMemoScrollsButTakesNoTyping)
{
    Form f;
    QStringList lines;
    for (int i = 0; i < 60; ++i)
        lines << QStringLiteral("řádek %1").arg(i);
    f.catalogue.addBook(QStringLiteral("A"), QStringLiteral("N"), QString(), QVariant(), QVariant(), QVariant(),
                        QVariant(), lines.join(QStringLiteral("\r\n")));
    f.popis->setReadOnly(true);
    f.open();
    f.edit();   // even while the row is edited
    EXPECT_EQ(f.popis->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    f.focus(f.popis);
    type(f.popis, QStringLiteral("abc"));
    QTest::keyClick(f.popis, Qt::Key_Return);
    setClipboard(QStringLiteral("vloženo"));
    QTest::keyClick(f.popis, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.popis->memoText(), lines.join(QStringLiteral("\r\n")));
    EXPECT_FALSE(f.popis->modified());
    QTest::keyClick(f.popis, Qt::Key_PageDown);
    QTest::keyClick(f.popis, Qt::Key_PageDown);
    EXPECT_GT(f.popis->verticalScrollBar()->value(), 0);
}

TEST(FieldControlsMemo, ATextTooLongShowsTheNoticeAndIsNeverOverwritten)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("A"), QStringLiteral("N"), QString(), QVariant(), QVariant(), QVariant(),
                        QVariant(), QString(50, QLatin1Char('x')));
    f.popis->setCapacity(40);
    f.open();
    EXPECT_TRUE(f.popis->exceedsCapacity());
    EXPECT_EQ(f.popis->toPlainText(), QStringLiteral("(Text exceeds memo capacity)"));
    f.edit();
    f.focus(f.popis);
    type(f.popis, QStringLiteral("abc"));
    EXPECT_EQ(f.popis->toPlainText(), QStringLiteral("(Text exceeds memo capacity)"));
    f.focus(f.nazev);
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select popis from zeplo")).toString(), QString(50, QLatin1Char('x')));

    // The capacity counts characters: forty emoji fit in forty.
    f.catalogue.addBook(QStringLiteral("B"), QStringLiteral("M"), QString(), QVariant(), QVariant(), QVariant(),
                        QVariant(), kEmoji.repeated(40));
    f.query.close();
    f.open();
    f.query.last();
    EXPECT_FALSE(f.popis->exceedsCapacity());
    EXPECT_EQ(f.popis->toPlainText(), kEmoji.repeated(40));
}

TEST(FieldControlsMemo, AMemoOverAnotherKindOfColumnShowsItsDisplayText)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("A"), QStringLiteral("N"), QString(), 1950);
    f.pujceno->setDataField(QStringLiteral("rok_vydani"));
    f.open();
    EXPECT_EQ(f.pujceno->toPlainText(), QStringLiteral("1950"));
    f.edit();
    f.focus(f.pujceno);
    f.pujceno->moveCursor(QTextCursor::End);
    type(f.pujceno, QStringLiteral("a"));   // refused: not a digit
    type(f.pujceno, QStringLiteral("1"));
    EXPECT_EQ(f.pujceno->toPlainText(), QStringLiteral("19501"));
    f.focus(f.nazev);
    EXPECT_EQ(f.query.fieldByName(QStringLiteral("rok_vydani"))->value().toLongLong(), 19501);

    // Over a text column the text is cut to the column's size in characters,
    // never between the halves of one.
    f.pujceno->setDataField(QStringLiteral("zanr"));
    f.focus(f.pujceno);
    type(f.pujceno, QString(19, QLatin1Char('a')) + kRareHan + kEmoji);
    f.focus(f.nazev);
    f.query.post();
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select zanr from zeplo")).toString(),
              QString(19, QLatin1Char('a')) + kRareHan);
}

TEST(FieldControlsKeys, EscapeIsTheMemosButLeavesAWindowsCancelShortcutToTheOthers)
{
    Form f;
    f.catalogue.addBook(QStringLiteral("A"), QStringLiteral("N"), QString(), QVariant(), true, QVariant(), QVariant(),
                        QStringLiteral("popis"));
    f.open();
    int cancels = 0;
    QShortcut cancel(QKeySequence(Qt::Key_Escape), &f.window);
    QObject::connect(&cancel, &QShortcut::activated, [&] { ++cancels; });

    f.focus(f.popis);
    QTest::keyClick(f.popis, Qt::Key_Escape);
    EXPECT_EQ(cancels, 0);
    f.focus(f.vlastnim);
    QTest::keyClick(f.vlastnim, Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    f.focus(f.nazev);
    QTest::keyClick(f.nazev, Qt::Key_Escape);
    EXPECT_EQ(cancels, 2);
}
