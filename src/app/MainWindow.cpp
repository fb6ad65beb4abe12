#include "app/MainWindow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWindow>

#include "app/SplashWindow.h"
#include "app/AboutWindow.h"
#include "app/BookEditor.h"
#include "app/BookListReport.h"
#include "widgets/ErrorGuard.h"
#include "app/MessageDialog.h"
#include "app/TypingLimit.h"
#include "engine/Genres.h"
#include "engine/SqlDialect.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/DataGrid.h"
#include "widgets/FieldMemo.h"
#include "engine/DataSource.h"
#include "engine/ResultSet.h"

namespace zeplo {


namespace Unit1 {
QString selectClause;
QString filterClause;
QString orderClause;
QString editorMode;
bool firstActivationDone = false;

const QString kBaseQuery = QStringLiteral("select id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno from zeplo");
const QString kCountQuery = QStringLiteral("select count (distinct(id)) as x from zeplo");
} // namespace Unit1

void Unit1::setUpGenreBox(QComboBox *box)
{
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(genres());
    box->setCurrentIndex(-1);
    box->setEditText(QString());
    limitTyping(box, 10);
}

QColor inactiveCaptionGradient()
{
    return QColor(215, 228, 242);
}

namespace {

const QString kCountPrefix = QStringLiteral("celkový počet záznamů uložených v databázi: ");

template <class W>
W *place(W *widget, QWidget *parent, const char *name, int left, int top, int width, int height)
{
    widget->setParent(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QFont boldFont(const QFont &base)
{
    QFont f = base;
    f.setBold(true);
    return f;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(boldFont(parent->font()));
    label->adjustSize();
    label->move(left, top);
    return label;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, int left, int top, int width,
                        int height, bool bold = false)
{
    auto *button = place(new QPushButton(caption), parent, name, left, top, width, height);
    button->setAutoDefault(false);
    button->setDefault(false);
    if (bold)
        button->setFont(boldFont(parent->font()));
    return button;
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Zeplo ver1.2"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, inactiveCaptionGradient());
    setPalette(pal);

    Query1 = new ResultSet(QStringLiteral("Query1"), this);
    Query1->RequestLive = true;
    Query2 = new ResultSet(QStringLiteral("Query2"), this);
    DataSource1 = new DataSource(this);
    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    DataSource1->setDataSet(Query1);

    createControls();
    applyTabOrder();
    connectHandlers();

    // Declared open with the base query: it opens while the window is made.
    Query1->setSql({Unit1::kBaseQuery});
    Query1->open();

    FormCreate();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    // The controls go before the result set they are bound to.
    delete centralWidget();
}

void MainWindow::createControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(774, 664);
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    Program1 = MainMenu1->addMenu(QStringLiteral("&Program"));
    Program1->setObjectName(QStringLiteral("Program1"));
    Tisk1 = Program1->addAction(QStringLiteral("&Tisk"));
    Tisk1->setObjectName(QStringLiteral("Tisk1"));
    Zavrit1 = Program1->addAction(QStringLiteral("&Zavřít"));
    Zavrit1->setObjectName(QStringLiteral("Zavrit1"));
    About1 = MainMenu1->addAction(QStringLiteral("&About .."));
    About1->setObjectName(QStringLiteral("About1"));

    DBGrid1 = place(new DataGrid, client, "DBGrid1", 0, 8, 636, 321);
    DBGrid1->setDataSource(DataSource1);

    Panel1 = place(new QLabel, client, "Panel1", -8, 312, 646, 17);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setAutoFillBackground(true);
    QPalette panelPalette = Panel1->palette();
    panelPalette.setColor(QPalette::Window, inactiveCaptionGradient());
    Panel1->setPalette(panelPalette);
    Panel1->raise();   // it lies over the bottom strip of the grid

    Label1 = makeLabel(client, "Label1", QStringLiteral("Popis :"), 8, 336);
    DBMemo1 = place(new FieldMemo, client, "DBMemo1", 8, 352, 185, 305);
    DBMemo1->setDataField(QStringLiteral("Popis"));
    DBMemo1->setReadOnly(true);
    DBMemo1->setDataSource(DataSource1);
    Label3 = makeLabel(client, "Label3", QStringLiteral("Půjčeno:"), 208, 336);
    DBMemo3 = place(new FieldMemo, client, "DBMemo3", 208, 352, 185, 305);
    DBMemo3->setDataField(QStringLiteral("Pujceno"));
    DBMemo3->setReadOnly(true);
    DBMemo3->setDataSource(DataSource1);

    Button7 = makeButton(client, "Button7", QStringLiteral("Přidat záznam"), 648, 8, 113, 25, true);
    Button6 = makeButton(client, "Button6", QStringLiteral("Upravit záznam"), 648, 40, 113, 25, true);
    Button8 = makeButton(client, "Button8", QStringLiteral("Odstranit záznam"), 648, 72, 113, 25, true);
    BitBtn1 = makeButton(client, "BitBtn1", QStringLiteral("Ukončit práci"), 648, 144, 115, 25);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    DBCheckBox2 = place(new FieldCheckBox, client, "DBCheckBox2", 648, 272, 97, 17);
    DBCheckBox2->setText(QStringLiteral("přečteno"));
    DBCheckBox2->setFont(boldFont(font()));
    DBCheckBox2->setDataField(QStringLiteral("Precteno"));
    DBCheckBox2->setDataSource(DataSource1);
    DBCheckBox1 = place(new FieldCheckBox, client, "DBCheckBox1", 648, 296, 121, 17);
    DBCheckBox1->setText(QStringLiteral("vlastním knihu"));
    DBCheckBox1->setFont(boldFont(font()));
    DBCheckBox1->setDataField(QStringLiteral("Vlastnim"));
    DBCheckBox1->setDataSource(DataSource1);

    Label4 = makeLabel(client, "Label4", QStringLiteral("Vyhledávání:"), 488, 336);
    Edit2 = place(new QLineEdit, client, "Edit2", 488, 352, 153, 21);
    Edit2->setToolTip(QStringLiteral("zadejte jméno/příjmení hledaného autora"));
    Button10 = makeButton(client, "Button10", QStringLiteral("Hledej autora"), 664, 352, 97, 25);
    Edit1 = place(new QLineEdit, client, "Edit1", 488, 384, 153, 21);
    Edit1->setToolTip(QStringLiteral("zadejte část, či celý název hledané knihy"));
    Button1 = makeButton(client, "Button1", QStringLiteral("Hledej název knihy"), 664, 384, 97, 25);
    ComboBox1 = place(new QComboBox, client, "ComboBox1", 488, 416, 153, 21);
    Unit1::setUpGenreBox(ComboBox1);
    ComboBox1->setToolTip(QStringLiteral("vyberte či vepište hledaný žánr"));
    Button11 = makeButton(client, "Button11", QStringLiteral("Hledej žánr"), 664, 416, 97, 25);
    Button13 = makeButton(client, "Button13", QStringLiteral("Zobrazit půjčené knihy"), 488, 448, 153, 25);
    Button9 = makeButton(client, "Button9", QStringLiteral("Zobrazit vše"), 664, 448, 97, 25, true);
    Button9->setToolTip(QStringLiteral("Zobrazit vše"));
    Button14 = makeButton(client, "Button14", QStringLiteral("zobrazit přečtené"), 488, 488, 129, 25);
    Button15 = makeButton(client, "Button15", QStringLiteral("zobrazit nepřečtené"), 632, 488, 129, 25);
    Button16 = makeButton(client, "Button16", QStringLiteral("zobrazit vlastněné"), 488, 520, 129, 25);
    Button17 = makeButton(client, "Button17", QStringLiteral("zobrazit nevlastněné"), 632, 520, 129, 25);

    GroupBox1 = place(new QGroupBox(QStringLiteral("Seřadit podle:")), client, "GroupBox1", 488, 560, 273, 97);
    GroupBox1->setFont(boldFont(font()));
    Button5 = makeButton(GroupBox1, "Button5", QStringLiteral("Autora knihy"), 16, 24, 113, 25);
    Button2 = makeButton(GroupBox1, "Button2", QStringLiteral("Názvu knihy"), 144, 24, 113, 25);
    Button3 = makeButton(GroupBox1, "Button3", QStringLiteral("Žánru"), 15, 56, 75, 25);
    Button12 = makeButton(GroupBox1, "Button12", QStringLiteral("Roku"), 96, 56, 75, 25);
    Button4 = makeButton(GroupBox1, "Button4", QStringLiteral("Neřadit"), 183, 56, 75, 25, true);
    QFont regular = font();
    regular.setBold(false);
    for (QPushButton *b : {Button5, Button2, Button3, Button12})
        b->setFont(regular);

    setFixedSize(774, 664 + MainMenu1->sizeHint().height());
}

void MainWindow::applyTabOrder()
{
    const QList<QWidget *> order = {DBGrid1, DBMemo1, Edit1, Button1, Button2, Button3, Button4, Button5, Button12,
                                    Button6, Button7, Button8, BitBtn1, Button9, DBMemo3, Edit2, Button10, ComboBox1,
                                    Button11, Button13, DBCheckBox1, DBCheckBox2, Button14, Button15, Button16,
                                    Button17};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void MainWindow::connectHandlers()
{
    const auto on = [this](QPushButton *button, void (MainWindow::*handler)()) {
        connect(button, &QPushButton::clicked, this, guarded([this, handler] { (this->*handler)(); }));
    };
    on(Button1, &MainWindow::Button1Click);
    on(Button10, &MainWindow::Button10Click);
    on(Button11, &MainWindow::Button11Click);
    on(Button13, &MainWindow::Button13Click);
    on(Button14, &MainWindow::Button14Click);
    on(Button15, &MainWindow::Button15Click);
    on(Button16, &MainWindow::Button16Click);
    on(Button17, &MainWindow::Button17Click);
    on(Button9, &MainWindow::Button9Click);
    on(Button2, &MainWindow::Button2Click);
    on(Button3, &MainWindow::Button3Click);
    on(Button5, &MainWindow::Button5Click);
    on(Button12, &MainWindow::Button12Click);
    on(Button4, &MainWindow::Button4Click);
    on(Button8, &MainWindow::Button8Click);
    on(Button7, &MainWindow::Button7Click);
    on(Button6, &MainWindow::Button6Click);
    on(BitBtn1, &MainWindow::BitBtn1Click);
    connect(Tisk1, &QAction::triggered, this, guarded([this] { Tisk1Click(); }));
    connect(Zavrit1, &QAction::triggered, this, guarded([this] { Zavrit1Click(); }));
    connect(About1, &QAction::triggered, this, guarded([this] { About1Click(); }));

    // Which window held the focus before this one decides whether an activation counts.
    // Only the report preview, a non-modal window of this program, makes a
    // later activation count; a modal window or another program does not.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *window) {
        if (window && (window->type() == Qt::Popup || window->type() == Qt::ToolTip))
            return;
        if (window && window == windowHandle())
            return;
        cameFromPreview_ = window && window->modality() == Qt::NonModal;
    });
    qApp->installEventFilter(this);
}

// ---- activation and closing ------------------------------------------------

void MainWindow::FormCreate()
{
    Unit1::firstActivationDone = false;
}

bool MainWindow::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate) {
        const bool counts = !Unit1::firstActivationDone || cameFromPreview_;
        cameFromPreview_ = false;
        if (counts)
            QMetaObject::invokeMethod(this, [this] { runGuarded([this] { FormActivate(); }); }, Qt::QueuedConnection);
    }
    return QMainWindow::event(e);
}

void MainWindow::FormActivate()
{
    if (!Unit1::firstActivationDone) {
        Unit1::firstActivationDone = true;   // a second activation while the splash is up must not show it again
        {
            SplashWindow splash(this);
            splash.exec();
        }
        Unit1::selectClause = Unit1::kBaseQuery;
        Unit1::filterClause.clear();
        Unit1::orderClause.clear();
        Unit1::editorMode.clear();
    }
    RefreshCount();
}

void MainWindow::RefreshCount()
{
    Query2->setSql({Unit1::kCountQuery});
    Query2->open();
    Query2->first();
    const qint64 count = Query2->fieldByName(QStringLiteral("x"))->asInteger();
    Query2->close();
    Panel1->setText(kCountPrefix + QString::number(count));
}

bool MainWindow::eventFilter(QObject *watched, QEvent *e)
{
    if (e->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(e);
        QWidget *widget = QApplication::focusWidget();
        if (!widget)
            widget = qobject_cast<QWidget *>(watched);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && widget && widget->window() == this) {
            // In the memos, and in the genre box while its list is open, Esc keeps its own meaning.
            const bool inMemo = widget == DBMemo1 || widget == DBMemo3 || DBMemo1->isAncestorOf(widget)
                                || DBMemo3->isAncestorOf(widget);
            const bool comboListOpen = (widget == ComboBox1 || ComboBox1->isAncestorOf(widget))
                                       && ComboBox1->view()->isVisible();
            if (!inMemo && !comboListOpen) {
                BitBtn1->click();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    // Closing the main window ends the program; every change was written when it was posted.
    QMainWindow::closeEvent(e);
    if (e->isAccepted())
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void MainWindow::BitBtn1Click()
{
    close();
}

void MainWindow::Zavrit1Click()
{
    close();
}

// ---- list commands ---------------------------------------------------------

void MainWindow::ComposeMainQuery()
{
    Query1->sqlClear();
    Query1->sqlAdd(Unit1::selectClause);
    Query1->sqlAdd(Unit1::filterClause);
    Query1->sqlAdd(Unit1::orderClause);
}

void MainWindow::setFilter(const QString &filter)
{
    Unit1::selectClause = Unit1::kBaseQuery;
    Unit1::filterClause = filter;
    ComposeMainQuery();
    Query1->open();
}

void MainWindow::setOrder(const QString &order, bool recordButtonsEnabled)
{
    Unit1::selectClause = Unit1::kBaseQuery;
    Unit1::orderClause = order;
    ComposeMainQuery();
    Query1->open();
    Button8->setEnabled(recordButtonsEnabled);
    Button7->setEnabled(recordButtonsEnabled);
    Button6->setEnabled(recordButtonsEnabled);
}

static QString searchFilter(const char *column, const QString &text)
{
    return QStringLiteral("where (%1 like\"%").arg(QLatin1String(column)) + quoteSearchText(text)
           + QStringLiteral("%\")");
}

void MainWindow::Button1Click() { setFilter(searchFilter("nazev", Edit1->text())); }
void MainWindow::Button10Click() { setFilter(searchFilter("autor", Edit2->text())); }
void MainWindow::Button11Click() { setFilter(searchFilter("zanr", ComboBox1->currentText())); }
void MainWindow::Button13Click() { setFilter(QStringLiteral("where pujceno IS NOT NULL")); }
void MainWindow::Button14Click() { setFilter(QStringLiteral("where (precteno = true)")); }
void MainWindow::Button15Click() { setFilter(QStringLiteral("where (precteno = false)")); }
void MainWindow::Button16Click() { setFilter(QStringLiteral("where (vlastnim = true)")); }
void MainWindow::Button17Click() { setFilter(QStringLiteral("where (vlastnim = false)")); }
void MainWindow::Button9Click() { setFilter(QString()); }
void MainWindow::Button2Click() { setOrder(QStringLiteral("order by nazev"), false); }
void MainWindow::Button3Click() { setOrder(QStringLiteral("order by zanr"), false); }
void MainWindow::Button5Click() { setOrder(QStringLiteral("order by autor"), false); }
void MainWindow::Button12Click() { setOrder(QStringLiteral("order by rok_vydani"), false); }
void MainWindow::Button4Click() { setOrder(QString(), true); }

// ---- record commands -------------------------------------------------------

void MainWindow::Button8Click()
{
    if (messageDlg(QStringLiteral("Opravdu chceš smazat tento záznam?"), MsgType::Confirmation,
                          mbYes | mbNo)
        == ModalResult::Yes) {
        try {
            Query1->deleteRecord();
        } catch (const std::exception &) {
            messageDlg(QStringLiteral("Nepodařilo se smazat záznam!"), MsgType::Error, mbOK);
        }
    }
    RefreshCount();
}

void MainWindow::openEditor(const QString &mode)
{
    Unit1::editorMode = mode;
    BookEditor editor(this);
    editor.exec();
}

void MainWindow::Button7Click() { openEditor(QStringLiteral("novy")); }
void MainWindow::Button6Click() { openEditor(QStringLiteral("upravit")); }

// ---- other windows -----------------------------------------------------------

void MainWindow::Tisk1Click()
{
    if (report_)
        report_->Preview();
}

void MainWindow::About1Click()
{
    AboutWindow about(this);
    about.exec();
}

} // namespace zeplo
