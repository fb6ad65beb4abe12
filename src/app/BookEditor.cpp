#include "app/BookEditor.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "app/MainWindow.h"
#include "widgets/ErrorGuard.h"
#include "app/Scaling.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/FieldEdit.h"
#include "widgets/FieldMemo.h"
#include "engine/DataSource.h"
#include "engine/ResultSet.h"

namespace zeplo {


namespace {

template <class W>
W *place(W *widget, QWidget *parent, const char *name, int left, int top, int width, int height)
{
    widget->setParent(parent);
    widget->setObjectName(QLatin1String(name));
    placeScaled(widget, left, top, width, height);
    return widget;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    QFont bold = parent->font();
    bold.setBold(true);
    label->setFont(bold);
    label->adjustSize();
    label->move(scaled(left, parent), scaled(top, parent));
    return label;
}

template <class W>
W *bind(W *control, DataSource *source, const char *field)
{
    control->setDataField(QLatin1String(field));
    control->setDataSource(source);
    return control;
}

} // namespace

BookEditor::BookEditor(MainWindow *mainWindow) : QDialog(mainWindow), main_(mainWindow)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Editor Knih"));
    // No system menu, so no close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 220, 192));   // money green
    setPalette(pal);
    setAutoFillBackground(true);

    DataSource *source = main_->DataSource1;
    QFont bold = font();
    bold.setBold(true);

    Label3 = makeLabel(this, "Label3", QStringLiteral("Autor:"), 16, 24);
    DBEdit3 = bind(place(new FieldEdit, this, "DBEdit3", 16, 40, 121, 21), source, "Autor");
    Label1 = makeLabel(this, "Label1", QStringLiteral("Název:"), 152, 24);
    DBEdit1 = bind(place(new FieldEdit, this, "DBEdit1", 152, 40, 121, 21), source, "Nazev");
    Label2 = makeLabel(this, "Label2", QStringLiteral("Žánr:"), 288, 24);
    DBEdit2 = bind(place(new FieldEdit, this, "DBEdit2", 288, 40, 137, 21), source, "Zanr");
    ComboBox1 = place(new QComboBox, this, "ComboBox1", 288, 72, 137, 21);
    Unit1::setUpGenreBox(ComboBox1);
    Label6 = makeLabel(this, "Label6", QStringLiteral("Rok vydání:"), 16, 80);
    DBEdit5 = place(new FieldEdit, this, "DBEdit5", 16, 96, 121, 21);
    DBEdit5->setMaxLength(4);
    bind(DBEdit5, source, "Rok_vydani");
    DBCheckBox1 = place(new FieldCheckBox, this, "DBCheckBox1", 152, 104, 113, 17);
    DBCheckBox1->setText(QStringLiteral("vlastním knihu"));
    DBCheckBox1->setFont(bold);
    bind(DBCheckBox1, source, "Vlastnim");
    DBCheckBox2 = place(new FieldCheckBox, this, "DBCheckBox2", 288, 104, 97, 17);
    DBCheckBox2->setText(QStringLiteral("přečteno"));
    DBCheckBox2->setFont(bold);
    bind(DBCheckBox2, source, "Precteno");
    Label8 = makeLabel(this, "Label8", QStringLiteral("Popis knihy:"), 16, 136);
    DBMemo1 = bind(place(new FieldMemo, this, "DBMemo1", 16, 152, 185, 105), source, "Popis");
    Label11 = makeLabel(this, "Label11", QStringLiteral("Půjčeno:"), 240, 136);
    DBMemo3 = bind(place(new FieldMemo, this, "DBMemo3", 240, 152, 185, 105), source, "Pujceno");

    BitBtn1 = place(new QPushButton(QStringLiteral("Storno")), this, "BitBtn1", 464, 208, 107, 25);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    BitBtn2 = place(new QPushButton(QStringLiteral("OK")), this, "BitBtn2", 464, 240, 107, 25);
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    // Enter presses the default button, except on Storno, which it presses itself.
    BitBtn2->setDefault(true);
    BitBtn2->setAutoDefault(false);
    BitBtn1->setAutoDefault(true);
    // A click on Storno leaves the focus where it is, so that a box holding
    // text its field cannot take does not hold the user back from discarding.
    BitBtn1->setFocusPolicy(Qt::TabFocus);

    const QList<QWidget *> order = {DBEdit3, DBEdit1, ComboBox1, DBEdit5, DBMemo1, DBMemo3,
                                    BitBtn1, BitBtn2, DBEdit2, DBCheckBox1, DBCheckBox2};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(ComboBox1, &QComboBox::editTextChanged, this, guarded([this] { ComboBox1Change(); }));
    connect(BitBtn2, &QPushButton::clicked, this, guarded([this] { BitBtn2Click(); }));
    connect(BitBtn1, &QPushButton::clicked, this, guarded([this] { BitBtn1Click(); }));

    fixScaledClientSize(this, 580, 276);
}

void BookEditor::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!activated_) {
        activated_ = true;
        QMetaObject::invokeMethod(this, [this] { runGuarded([this] { FormActivate(); }); },
                                  Qt::QueuedConnection);
    }
}

void BookEditor::FormActivate()
{
    DataSource *source = main_->DataSource1;
    ResultSet *query = main_->Query1;
    if (Unit1::editorMode == QLatin1String("upravit")) {
        BitBtn2->setText(QStringLiteral("Návrat zpět"));
        BitBtn1->setEnabled(true);
        source->AutoEdit = true;
        query->edit();
    } else if (Unit1::editorMode == QLatin1String("novy")) {
        BitBtn2->setText(QStringLiteral("Vložit záznam"));
        BitBtn1->setEnabled(true);
        source->AutoEdit = true;
        query->append();
    }
}

void BookEditor::ComboBox1Change()
{
    DBEdit2->setText(ComboBox1->currentText());
}

void BookEditor::BitBtn2Click()
{
    main_->Query1->post();
    main_->DataSource1->AutoEdit = false;
    finish();
}

void BookEditor::BitBtn1Click()
{
    ResultSet *query = main_->Query1;
    query->close();
    // The editor has no close box: when the list cannot be opened again the
    // user is told why, and the editor closes all the same.
    runGuarded([query] { query->open(); });
    main_->DataSource1->AutoEdit = false;
    finish();
}

void BookEditor::finish()
{
    closing_ = true;
    done(QDialog::Accepted);
    main_->RefreshCount();
}

void BookEditor::reject()
{
}

void BookEditor::closeEvent(QCloseEvent *event)
{
    if (closing_)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

} // namespace zeplo
