#include "app/BookEditor.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "app/GenreBox.h"
#include "widgets/ErrorGuard.h"
#include "app/Scaling.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/FieldEdit.h"
#include "widgets/WaitCursor.h"
#include "widgets/FieldMemo.h"
#include "engine/DataSource.h"
#include "engine/ResultSet.h"
#include "widgets/QueuedWork.h"

namespace zeplo {


namespace {

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

BookEditor::BookEditor(Mode mode, DataSource *source, QWidget *parent)
    : QDialog(parent), mode_(mode), source_(source)
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


    QFont bold = font();
    bold.setBold(true);

    authorLabel_ = makeLabel(this, "Label3", QStringLiteral("Autor:"), 16, 24);
    authorEdit_ = bind(place(new FieldEdit, this, "DBEdit3", 16, 40, 121, 21), source, "Autor");
    titleLabel_ = makeLabel(this, "Label1", QStringLiteral("Název:"), 152, 24);
    titleEdit_ = bind(place(new FieldEdit, this, "DBEdit1", 152, 40, 121, 21), source, "Nazev");
    genreLabel_ = makeLabel(this, "Label2", QStringLiteral("Žánr:"), 288, 24);
    genreEdit_ = bind(place(new FieldEdit, this, "DBEdit2", 288, 40, 137, 21), source, "Zanr");
    genreBox_ = place(new QComboBox, this, "ComboBox1", 288, 72, 137, 21);
    setUpGenreBox(genreBox_);
    yearLabel_ = makeLabel(this, "Label6", QStringLiteral("Rok vydání:"), 16, 80);
    yearEdit_ = place(new FieldEdit, this, "DBEdit5", 16, 96, 121, 21);
    yearEdit_->setMaxLength(4);
    bind(yearEdit_, source, "Rok_vydani");
    ownedCheck_ = place(new FieldCheckBox, this, "DBCheckBox1", 152, 104, 113, 17);
    ownedCheck_->setText(QStringLiteral("vlastním knihu"));
    ownedCheck_->setFont(bold);
    bind(ownedCheck_, source, "Vlastnim");
    readCheck_ = place(new FieldCheckBox, this, "DBCheckBox2", 288, 104, 97, 17);
    readCheck_->setText(QStringLiteral("přečteno"));
    readCheck_->setFont(bold);
    bind(readCheck_, source, "Precteno");
    descriptionLabel_ = makeLabel(this, "Label8", QStringLiteral("Popis knihy:"), 16, 136);
    descriptionMemo_ = bind(place(new FieldMemo, this, "DBMemo1", 16, 152, 185, 105), source, "Popis");
    lentLabel_ = makeLabel(this, "Label11", QStringLiteral("Půjčeno:"), 240, 136);
    lentMemo_ = bind(place(new FieldMemo, this, "DBMemo3", 240, 152, 185, 105), source, "Pujceno");

    cancelButton_ = place(new QPushButton(QStringLiteral("Storno")), this, "BitBtn1", 464, 208, 107, 25);
    cancelButton_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    okButton_ = place(new QPushButton(QStringLiteral("OK")), this, "BitBtn2", 464, 240, 107, 25);
    okButton_->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    // Enter presses the default button, except on Storno, which it presses itself.
    okButton_->setDefault(true);
    okButton_->setAutoDefault(false);
    cancelButton_->setAutoDefault(true);
    // A click on Storno leaves the focus where it is, so that a box holding
    // text its field cannot take does not hold the user back from discarding.
    cancelButton_->setFocusPolicy(Qt::TabFocus);

    const QList<QWidget *> order = {authorEdit_, titleEdit_, genreBox_, yearEdit_, descriptionMemo_, lentMemo_,
                                    cancelButton_, okButton_, genreEdit_, ownedCheck_, readCheck_};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(genreBox_, &QComboBox::editTextChanged, this, guarded([this] { takeChosenGenre(); }));
    connect(okButton_, &QPushButton::clicked, this, guarded([this] { confirm(); }));
    connect(cancelButton_, &QPushButton::clicked, this, guarded([this] { discard(); }));

    fixScaledClientSize(this, 580, 276);
    // On the screen's centre, not over the window that opened it.
    centreOnScreen(this);
}

void BookEditor::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!activated_) {
        activated_ = true;
        postWork(this, [this] { runGuarded([this] { startEditing(); }); });
    }
}

void BookEditor::startEditing()
{
    okButton_->setText(mode_ == Mode::Edit ? QStringLiteral("Návrat zpět") : QStringLiteral("Vložit záznam"));
    cancelButton_->setEnabled(true);
    source_->setAutoEdit(true);
    if (mode_ == Mode::Edit)
        books()->edit();
    else
        books()->append();
}

void BookEditor::takeChosenGenre()
{
    genreEdit_->setText(genreBox_->currentText());
}

void BookEditor::confirm()
{
    books()->post();
    source_->setAutoEdit(false);
    finish();
}

void BookEditor::discard()
{
    ResultSet *query = books();
    query->close();
    // The editor has no close box: when the list cannot be opened again the
    // user is told why, and the editor closes all the same.
    runGuarded([query] {
        const WaitCursor busy;
        query->open();
    });
    source_->setAutoEdit(false);
    finish();
}

void BookEditor::finish()
{
    closing_ = true;
    done(QDialog::Accepted);
    emit recordsChanged();
}

ResultSet *BookEditor::books() const
{
    return source_->dataSet();
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
