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
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWindow>

#include "app/SplashWindow.h"
#include "app/AboutWindow.h"
#include "app/BookEditor.h"
#include "app/BookListReport.h"
#include "app/BookQueries.h"
#include "app/FreshRows.h"
#include "app/GenreBox.h"
#include "app/Scaling.h"
#include "widgets/ErrorGuard.h"
#include "app/MessageDialog.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/DataGrid.h"
#include "widgets/FieldMemo.h"
#include "widgets/ReportPreview.h"
#include "widgets/WaitCursor.h"
#include "engine/ChangeWatch.h"
#include "engine/DataSource.h"
#include "engine/Engine.h"
#include "engine/ResultSet.h"
#include "widgets/QueuedWork.h"

namespace zeplo {


QColor inactiveCaptionGradient()
{
    return QColor(215, 228, 242);
}

namespace {

const QString kCountPrefix = QStringLiteral("celkový počet záznamů uložených v databázi: ");

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
    auto *button = place(new QPushButton(caption), parent, name, left, top, width, height, Placement::AsDrawn);
    button->setAutoDefault(false);
    button->setDefault(false);
    if (bold)
        button->setFont(boldFont(parent->font()));
    return button;
}

bool isReportPreview(const QWindow *window)
{
    if (!window)
        return false;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->windowHandle() == window)
            return qobject_cast<ReportPreview *>(widget) != nullptr;
    return false;
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

    books_ = new ResultSet(QStringLiteral("Query1"), this);
    books_->setRequestLive(true);
    counter_ = new ResultSet(QStringLiteral("Query2"), this);
    source_ = new DataSource(this);
    source_->setObjectName(QStringLiteral("DataSource1"));
    source_->setDataSet(books_);

    createControls();
    applyTabOrder();
    connectHandlers();

    // Declared open with the base query: it opens while the window is made.
    books_->setSql({kBaseQuery});
    books_->open();

    // What another computer changes shows by itself, unless the report walks the list.
    freshRows_ = new FreshRows(source_, [this] { return !report_ || !report_->busy(); }, this);
    freshRows_->setWatch(Engine::openDefault()->watchChanges());
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

    menu_ = menuBar();
    menu_->setObjectName(QStringLiteral("MainMenu1"));
    programMenu_ = menu_->addMenu(QStringLiteral("&Program"));
    programMenu_->setObjectName(QStringLiteral("Program1"));
    printAction_ = programMenu_->addAction(QStringLiteral("&Tisk"));
    printAction_->setObjectName(QStringLiteral("Tisk1"));
    closeAction_ = programMenu_->addAction(QStringLiteral("&Zavřít"));
    closeAction_->setObjectName(QStringLiteral("Zavrit1"));
    aboutAction_ = menu_->addAction(QStringLiteral("&About .."));
    aboutAction_->setObjectName(QStringLiteral("About1"));

    grid_ = place(new DataGrid, client, "DBGrid1", 0, 8, 636, 321, Placement::AsDrawn);
    grid_->setDataSource(source_);

    countPanel_ = place(new QLabel, client, "Panel1", -8, 312, 646, 17, Placement::AsDrawn);
    countPanel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    countPanel_->setLineWidth(1);
    countPanel_->setAlignment(Qt::AlignCenter);
    countPanel_->setAutoFillBackground(true);
    QPalette panelPalette = countPanel_->palette();
    panelPalette.setColor(QPalette::Window, inactiveCaptionGradient());
    countPanel_->setPalette(panelPalette);
    countPanel_->raise();   // it lies over the bottom strip of the grid

    descriptionLabel_ = makeLabel(client, "Label1", QStringLiteral("Popis :"), 8, 336);
    descriptionMemo_ = place(new FieldMemo, client, "DBMemo1", 8, 352, 185, 305, Placement::AsDrawn);
    descriptionMemo_->setDataField(QStringLiteral("Popis"));
    descriptionMemo_->setReadOnly(true);
    descriptionMemo_->setDataSource(source_);
    lentLabel_ = makeLabel(client, "Label3", QStringLiteral("Půjčeno:"), 208, 336);
    lentMemo_ = place(new FieldMemo, client, "DBMemo3", 208, 352, 185, 305, Placement::AsDrawn);
    lentMemo_->setDataField(QStringLiteral("Pujceno"));
    lentMemo_->setReadOnly(true);
    lentMemo_->setDataSource(source_);

    addButton_ = makeButton(client, "Button7", QStringLiteral("Přidat záznam"), 648, 8, 113, 25, true);
    editButton_ = makeButton(client, "Button6", QStringLiteral("Upravit záznam"), 648, 40, 113, 25, true);
    deleteButton_ = makeButton(client, "Button8", QStringLiteral("Odstranit záznam"), 648, 72, 113, 25, true);
    quitButton_ = makeButton(client, "BitBtn1", QStringLiteral("Ukončit práci"), 648, 144, 115, 25);
    quitButton_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    readCheck_ = place(new FieldCheckBox, client, "DBCheckBox2", 648, 272, 97, 17, Placement::AsDrawn);
    readCheck_->setText(QStringLiteral("přečteno"));
    readCheck_->setFont(boldFont(font()));
    readCheck_->setDataField(QStringLiteral("Precteno"));
    readCheck_->setDataSource(source_);
    ownedCheck_ = place(new FieldCheckBox, client, "DBCheckBox1", 648, 296, 121, 17, Placement::AsDrawn);
    ownedCheck_->setText(QStringLiteral("vlastním knihu"));
    ownedCheck_->setFont(boldFont(font()));
    ownedCheck_->setDataField(QStringLiteral("Vlastnim"));
    ownedCheck_->setDataSource(source_);

    searchLabel_ = makeLabel(client, "Label4", QStringLiteral("Vyhledávání:"), 488, 336);
    authorEdit_ = place(new QLineEdit, client, "Edit2", 488, 352, 153, 21, Placement::AsDrawn);
    authorEdit_->setToolTip(QStringLiteral("zadejte jméno/příjmení hledaného autora"));
    authorSearchButton_ = makeButton(client, "Button10", QStringLiteral("Hledej autora"), 664, 352, 97, 25);
    titleEdit_ = place(new QLineEdit, client, "Edit1", 488, 384, 153, 21, Placement::AsDrawn);
    titleEdit_->setToolTip(QStringLiteral("zadejte část, či celý název hledané knihy"));
    titleSearchButton_ = makeButton(client, "Button1", QStringLiteral("Hledej název knihy"), 664, 384, 97, 25);
    genreBox_ = place(new QComboBox, client, "ComboBox1", 488, 416, 153, 21, Placement::AsDrawn);
    setUpGenreBox(genreBox_);
    genreBox_->setToolTip(QStringLiteral("vyberte či vepište hledaný žánr"));
    genreSearchButton_ = makeButton(client, "Button11", QStringLiteral("Hledej žánr"), 664, 416, 97, 25);
    lentButton_ = makeButton(client, "Button13", QStringLiteral("Zobrazit půjčené knihy"), 488, 448, 153, 25);
    allButton_ = makeButton(client, "Button9", QStringLiteral("Zobrazit vše"), 664, 448, 97, 25, true);
    allButton_->setToolTip(QStringLiteral("Zobrazit vše"));
    readButton_ = makeButton(client, "Button14", QStringLiteral("zobrazit přečtené"), 488, 488, 129, 25);
    unreadButton_ = makeButton(client, "Button15", QStringLiteral("zobrazit nepřečtené"), 632, 488, 129, 25);
    ownedButton_ = makeButton(client, "Button16", QStringLiteral("zobrazit vlastněné"), 488, 520, 129, 25);
    notOwnedButton_ = makeButton(client, "Button17", QStringLiteral("zobrazit nevlastněné"), 632, 520, 129, 25);

    sortGroup_ = place(new QGroupBox(QStringLiteral("Seřadit podle:")), client, "GroupBox1", 488, 560, 273, 97, Placement::AsDrawn);
    sortGroup_->setFont(boldFont(font()));
    authorSortButton_ = makeButton(sortGroup_, "Button5", QStringLiteral("Autora knihy"), 16, 24, 113, 25);
    titleSortButton_ = makeButton(sortGroup_, "Button2", QStringLiteral("Názvu knihy"), 144, 24, 113, 25);
    genreSortButton_ = makeButton(sortGroup_, "Button3", QStringLiteral("Žánru"), 15, 56, 75, 25);
    yearSortButton_ = makeButton(sortGroup_, "Button12", QStringLiteral("Roku"), 96, 56, 75, 25);
    noSortButton_ = makeButton(sortGroup_, "Button4", QStringLiteral("Neřadit"), 183, 56, 75, 25, true);
    QFont regular = font();
    regular.setBold(false);
    for (QPushButton *b : {authorSortButton_, titleSortButton_, genreSortButton_, yearSortButton_})
        b->setFont(regular);

    setFixedSize(774, 664 + menu_->sizeHint().height());
    centreOnScreen(this);
}

void MainWindow::applyTabOrder()
{
    const QList<QWidget *> order = {grid_, descriptionMemo_, titleEdit_, titleSearchButton_, titleSortButton_, genreSortButton_, noSortButton_, authorSortButton_, yearSortButton_,
                                    editButton_, addButton_, deleteButton_, quitButton_, allButton_, lentMemo_, authorEdit_, authorSearchButton_, genreBox_,
                                    genreSearchButton_, lentButton_, ownedCheck_, readCheck_, readButton_, unreadButton_, ownedButton_,
                                    notOwnedButton_};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void MainWindow::connectHandlers()
{
    const auto on = [this](QPushButton *button, void (MainWindow::*handler)()) {
        connect(button, &QPushButton::clicked, this, guarded([this, handler] { (this->*handler)(); }));
    };
    on(titleSearchButton_, &MainWindow::searchByTitle);
    on(authorSearchButton_, &MainWindow::searchByAuthor);
    on(genreSearchButton_, &MainWindow::searchByGenre);
    on(lentButton_, &MainWindow::showLent);
    on(readButton_, &MainWindow::showRead);
    on(unreadButton_, &MainWindow::showUnread);
    on(ownedButton_, &MainWindow::showOwned);
    on(notOwnedButton_, &MainWindow::showNotOwned);
    on(allButton_, &MainWindow::showAll);
    on(titleSortButton_, &MainWindow::sortByTitle);
    on(genreSortButton_, &MainWindow::sortByGenre);
    on(authorSortButton_, &MainWindow::sortByAuthor);
    on(yearSortButton_, &MainWindow::sortByYear);
    on(noSortButton_, &MainWindow::clearSort);
    on(deleteButton_, &MainWindow::deleteRecord);
    on(addButton_, &MainWindow::addRecord);
    on(editButton_, &MainWindow::editRecord);
    on(quitButton_, &MainWindow::closeProgram);
    connect(printAction_, &QAction::triggered, this, guarded([this] { printList(); }));
    connect(closeAction_, &QAction::triggered, this, guarded([this] { closeProgram(); }));
    connect(aboutAction_, &QAction::triggered, this, guarded([this] { showAbout(); }));

    // Which window held the focus before this one decides whether an activation counts.
    // Only the report preview makes a later activation count; a modal window,
    // another program, or the printing progress window (not modal either) does not.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *window) {
        if (window && (window->type() == Qt::Popup || window->type() == Qt::ToolTip))
            return;
        if (window && window == windowHandle())
            return;
        cameFromPreview_ = isReportPreview(window);
    });
    qApp->installEventFilter(this);
}

// ---- activation and closing ------------------------------------------------

bool MainWindow::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate || e->type() == QEvent::WindowDeactivate)
        freshRows_->setLooking(e->type() == QEvent::WindowActivate);
    if (e->type() == QEvent::WindowActivate) {
        const bool counts = !firstActivationDone_ || cameFromPreview_;
        cameFromPreview_ = false;
        if (counts)
            postWork(this, [this] { runGuarded([this] { activated(); }); });
    }
    return QMainWindow::event(e);
}

void MainWindow::activated()
{
    if (!firstActivationDone_) {
        firstActivationDone_ = true;   // a second activation while the splash is up must not show it again
        {
            SplashWindow splash(this);
            splash.exec();
        }
        filter_.clear();
        order_.clear();
    }
    refreshCount();
}

void MainWindow::refreshCount()
{
    counter_->setSql({kCountQuery});
    counter_->open();
    counter_->first();
    const qint64 count = counter_->fieldByName(QStringLiteral("x"))->asInteger();
    counter_->close();
    countPanel_->setText(kCountPrefix + QString::number(count));
}

// ---- the report's walk -----------------------------------------------------

void MainWindow::setReport(BookListReport *report)
{
    if (report_)
        disconnect(report_, nullptr, this, nullptr);
    report_ = report;
    if (!report_)
        return;
    // The window keeps painting and closing while the report walks the list;
    // the wait cursor says why it takes no commands meanwhile.
    connect(report_, &BookListReport::walkingChanged, this, [this](bool walking) {
        if (walking)
            walkCursor_.emplace(this);
        else
            walkCursor_.reset();
    });
}

bool MainWindow::refusedDuringWalk()
{
    if (!report_ || !report_->busy())
        return false;
    QApplication::beep();
    emit actionRefused();
    return true;
}

bool MainWindow::isGridInput(QObject *watched, QEvent *e) const
{
    switch (e->type()) {
    case QEvent::KeyPress:
        switch (static_cast<QKeyEvent *>(e)->key()) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Meta:
            return false;   // a modifier alone moves nothing
        default:
            break;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        break;
    default:
        return false;
    }
    // The grid, its viewport and its scroll bars.
    auto *widget = qobject_cast<QWidget *>(watched);
    return widget && (widget == grid_ || grid_->isAncestorOf(widget));
}

bool MainWindow::eventFilter(QObject *watched, QEvent *e)
{
    if (e->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(e);
        QWidget *widget = QApplication::focusWidget();
        if (!widget)
            widget = qobject_cast<QWidget *>(watched);
        // Esc that closes a menu, an edit box's menu or the menu bar's mode
        // closes only that: it reaches the menu, never the focus widget.
        const bool forAMenu = QApplication::activePopupWidget() || qobject_cast<QMenuBar *>(watched)
                              || qobject_cast<QMenu *>(watched);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && widget && widget->window() == this
            && !forAMenu) {
            // In the memos, and in the genre box while its list is open, Esc keeps its own meaning.
            const bool inMemo = widget == descriptionMemo_ || widget == lentMemo_ || descriptionMemo_->isAncestorOf(widget)
                                || lentMemo_->isAncestorOf(widget);
            const bool comboListOpen = (widget == genreBox_ || genreBox_->isAncestorOf(widget))
                                       && genreBox_->view()->isVisible();
            if (!inMemo && !comboListOpen) {
                quitButton_->click();
                return true;
            }
        }
    }
    // Every key, press or wheel turn of the grid moves the current row.
    if (isGridInput(watched, e) && refusedDuringWalk())
        return true;
    return QMainWindow::eventFilter(watched, e);
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    // Closing the main window ends the program; every change was written when it was posted.
    QMainWindow::closeEvent(e);
    if (e->isAccepted())
        postWork(qApp, [] { QCoreApplication::quit(); });
}

void MainWindow::closeProgram()
{
    close();
}

// ---- list commands ---------------------------------------------------------

void MainWindow::reopenList()
{
    const WaitCursor busy;   // a sort of a large catalogue takes a moment
    books_->setSql(mainQuery(filter_, order_));
    books_->open();
}

void MainWindow::setFilter(const QString &filter)
{
    if (refusedDuringWalk())
        return;
    filter_ = filter;
    reopenList();
}

void MainWindow::setOrder(const QString &order, bool recordButtonsEnabled)
{
    if (refusedDuringWalk())
        return;
    order_ = order;
    reopenList();
    deleteButton_->setEnabled(recordButtonsEnabled);
    addButton_->setEnabled(recordButtonsEnabled);
    editButton_->setEnabled(recordButtonsEnabled);
}

void MainWindow::searchByTitle() { setFilter(searchFilter(schema::Title, titleEdit_->text())); }
void MainWindow::searchByAuthor() { setFilter(searchFilter(schema::Author, authorEdit_->text())); }
void MainWindow::searchByGenre() { setFilter(searchFilter(schema::Genre, genreBox_->currentText())); }
void MainWindow::showLent() { setFilter(lentFilter()); }
void MainWindow::showRead() { setFilter(flagFilter(schema::Read, true)); }
void MainWindow::showUnread() { setFilter(flagFilter(schema::Read, false)); }
void MainWindow::showOwned() { setFilter(flagFilter(schema::Owned, true)); }
void MainWindow::showNotOwned() { setFilter(flagFilter(schema::Owned, false)); }
void MainWindow::showAll() { setFilter(QString()); }
void MainWindow::sortByTitle() { setOrder(orderBy(schema::Title), false); }
void MainWindow::sortByGenre() { setOrder(orderBy(schema::Genre), false); }
void MainWindow::sortByAuthor() { setOrder(orderBy(schema::Author), false); }
void MainWindow::sortByYear() { setOrder(orderBy(schema::Published), false); }
void MainWindow::clearSort() { setOrder(QString(), true); }

// ---- record commands -------------------------------------------------------

void MainWindow::deleteRecord()
{
    if (refusedDuringWalk())
        return;
    if (showMessage(QStringLiteral("Opravdu chceš smazat tento záznam?"), MessageKind::Confirmation,
                    MessageButtons::YesNo)
        == MessageAnswer::Yes) {
        try {
            books_->deleteRecord();
        } catch (const std::exception &) {
            // A deletion that fails, for whatever reason, is told in the
            // window's own words: the engine's text is not shown here, and the
            // list shows the row as the engine left it.
            showMessage(QStringLiteral("Nepodařilo se smazat záznam!"), MessageKind::Error, MessageButtons::Ok);
        }
    }
    refreshCount();
}

void MainWindow::openEditor(BookEditor::Mode mode)
{
    if (refusedDuringWalk())
        return;
    BookEditor editor(mode, source_, this);
    connect(&editor, &BookEditor::recordsChanged, this, [this] { refreshCount(); });
    editor.exec();
}

void MainWindow::addRecord() { openEditor(BookEditor::Mode::New); }
void MainWindow::editRecord() { openEditor(BookEditor::Mode::Edit); }

// ---- other windows -----------------------------------------------------------

void MainWindow::printList()
{
    if (refusedDuringWalk())
        return;
    if (report_)
        report_->preview();
}

void MainWindow::showAbout()
{
    AboutWindow about(this);
    about.exec();
}

} // namespace zeplo
