#include "widgets/ReportPreview.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <cmath>

#include "widgets/ErrorGuard.h"
#include "report/EmfRecords.h"
#include "report/PageStore.h"
#include "widgets/PreviewSheet.h"
#include "report/ReportOutput.h"

namespace zeplo {

namespace {

constexpr int MinZoom = 2;
constexpr int MaxZoom = 2000;

int roundToInt(double v)
{
    return static_cast<int>(std::lround(v));
}

} // namespace

ReportPreview::ReportPreview(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("QRPreview"));
    setWindowTitle(QStringLiteral("Print Preview"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    toolBar_ = new QToolBar(this);
    toolBar_->setObjectName(QStringLiteral("ToolBar1"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(QSize(ToolbarPictureSize, ToolbarPictureSize));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, toolBar_);

    zoomGroup_ = new QActionGroup(this);
    zoomGroup_->setObjectName(QStringLiteral("ZoomGroup"));
    zoomGroup_->setExclusive(true);

    toolBar_->addSeparator();
    fitPageAction_ = addTool(ToolbarPicture::WholePage, QStringLiteral("Zoom to fit"), QStringLiteral("ZoomToFit"));
    actualSizeAction_ = addTool(ToolbarPicture::ActualSize, QStringLiteral("100%"), QStringLiteral("ZoomTo100"));
    pageWidthAction_ = addTool(ToolbarPicture::PageWidth, QStringLiteral("Zoom to width"), QStringLiteral("ZoomToWidth"));
    for (QAction *a : {fitPageAction_, actualSizeAction_, pageWidthAction_}) {
        a->setCheckable(true);
        zoomGroup_->addAction(a);
    }
    pageWidthAction_->setChecked(true);
    toolBar_->addSeparator();
    firstPageAction_ = addTool(ToolbarPicture::FirstPage, QStringLiteral("First page"), QStringLiteral("FirstPage"));
    previousPageAction_ = addTool(ToolbarPicture::PreviousPage, QStringLiteral("Previous page"), QStringLiteral("PrevPage"));
    nextPageAction_ = addTool(ToolbarPicture::NextPage, QStringLiteral("Next page"), QStringLiteral("NextPage"));
    lastPageAction_ = addTool(ToolbarPicture::LastPage, QStringLiteral("Last page"), QStringLiteral("LastPage"));
    toolBar_->addSeparator();
    printerSetupAction_ = addTool(ToolbarPicture::PrinterSetup, QStringLiteral("Printer setup"), QStringLiteral("PrinterSetup"));
    printAction_ = addTool(ToolbarPicture::Printer, QStringLiteral("Print"), QStringLiteral("Print"));
    printerSetupAction_->setEnabled(false);
    printAction_->setEnabled(false);
    toolBar_->addSeparator();
    saveAction_ = addTool(ToolbarPicture::FloppyDisk, QStringLiteral("Save Report"), QStringLiteral("SaveReport"));
    loadAction_ = addTool(ToolbarPicture::OpenFolder, QStringLiteral("Load Report"), QStringLiteral("LoadReport"));
    toolBar_->addSeparator();
    closeButton_ = new QPushButton(QStringLiteral("&Close"), toolBar_);
    closeButton_->setObjectName(QStringLiteral("CloseButton"));
    closeButton_->setFixedSize(40, 22);
    closeButton_->setFocusPolicy(Qt::NoFocus);
    toolBar_->addWidget(closeButton_);

    connect(fitPageAction_, &QAction::triggered, this, guarded([this] { zoomToFit(); }));
    connect(actualSizeAction_, &QAction::triggered, this, guarded([this] { zoomTo100(); }));
    connect(pageWidthAction_, &QAction::triggered, this, guarded([this] { zoomToWidth(); }));
    connect(firstPageAction_, &QAction::triggered, this, guarded([this] { firstPage(); }));
    connect(previousPageAction_, &QAction::triggered, this, guarded([this] { previousPage(); }));
    connect(nextPageAction_, &QAction::triggered, this, guarded([this] { nextPage(); }));
    connect(lastPageAction_, &QAction::triggered, this, guarded([this] { lastPage(); }));
    connect(printerSetupAction_, &QAction::triggered, this, guarded([this] { printerSetupClick(); }));
    connect(printAction_, &QAction::triggered, this, guarded([this] { printClick(); }));
    connect(saveAction_, &QAction::triggered, this, guarded([this] { saveReportClick(); }));
    connect(loadAction_, &QAction::triggered, this, guarded([this] { loadReportClick(); }));
    connect(closeButton_, &QPushButton::clicked, this, guarded([this] { close(); }));

    pageArea_ = new QScrollArea(this);
    pageArea_->setObjectName(QStringLiteral("PageArea"));
    pageArea_->setWidgetResizable(false);
    // Centred while smaller than the area; from its top-left corner otherwise.
    pageArea_->setAlignment(Qt::AlignCenter);
    pageArea_->setFocusPolicy(Qt::StrongFocus);
    sheet_ = new PreviewSheet;
    pageArea_->setWidget(sheet_);
    pageArea_->installEventFilter(this);
    setCentralWidget(pageArea_);

    progressPanel_ = new QLabel(QStringLiteral("0%"));
    progressPanel_->setObjectName(QStringLiteral("ProgressPanel"));
    progressPanel_->setFixedWidth(40);
    progressPanel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    pagePanel_ = new QLabel(QStringLiteral("Page"));
    pagePanel_->setObjectName(QStringLiteral("PagePanel"));
    // At least the panel's width; wider when "Page n of m" needs it, so the
    // count stays readable.
    pagePanel_->setMinimumWidth(50);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(progressPanel_);
    statusBar()->addWidget(pagePanel_);

    // Every key of this window reaches the preview before its controls.
    qApp->installEventFilter(this);

    resize(652, 579);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    placeSheet();
}

ReportPreview::~ReportPreview()
{
    qApp->removeEventFilter(this);
}

QAction *ReportPreview::addTool(ToolbarPicture picture, const QString &hint, const QString &name)
{
    QAction *action = toolBar_->addAction(toolbarIcon(picture), hint);
    action->setObjectName(name);
    action->setToolTip(hint);
    return action;
}

void ReportPreview::setStore(std::shared_ptr<PageStore> store)
{
    store_ = std::move(store);
    current_ = 1;
    shown_ = false;
    sheet_->clearPicture();
}

void ReportPreview::setPaperMm(const QSizeF &paper)
{
    if (paper.width() <= 0 || paper.height() <= 0)
        return;
    paperMm_ = paper;
    recomputeZoom();
    placeSheet();
}

int ReportPreview::pageCount() const
{
    if (!store_)
        return 0;
    const int stored = store_->pageCount();
    if (store_->status() == PageStore::Status::Busy && host_.pagesBegun)
        return std::max(stored, host_.pagesBegun());
    return stored;
}

QSize ReportPreview::pagePixels() const
{
    const double pixelsPerMm = screenDpi() / 25.4;
    return QSize(roundToInt(paperMm_.width() * pixelsPerMm), roundToInt(paperMm_.height() * pixelsPerMm));
}

QSize ReportPreview::pageAreaSize() const
{
    // The whole area, scroll bars or not, so that a zoom does not change
    // with the scroll bars it brings.
    return pageArea_->maximumViewportSize();
}

// ---- zoom -----------------------------------------------------------------

void ReportPreview::zoomToFit()
{
    QCoreApplication::processEvents();
    mode_ = ZoomMode::FitPage;
    fitPageAction_->setChecked(true);
    recomputeZoom();
}

void ReportPreview::zoomTo100()
{
    QCoreApplication::processEvents();
    mode_ = ZoomMode::Other;
    actualSizeAction_->setChecked(true);
    setZoom(100);
}

void ReportPreview::zoomToWidth()
{
    QCoreApplication::processEvents();
    mode_ = ZoomMode::PageWidth;
    pageWidthAction_->setChecked(true);
    recomputeZoom();
}

void ReportPreview::recomputeZoom()
{
    const QSize page = pagePixels();
    const QSize area = pageAreaSize();
    if (page.width() <= 0 || page.height() <= 0)
        return;
    const double w = area.width();
    const double h = area.height();
    switch (mode_) {
    case ZoomMode::FitPage:
        setZoom(std::min(roundToInt(w / page.width() * 95), roundToInt(h / page.height() * 95)));
        break;
    case ZoomMode::PageWidth:
        setZoom(roundToInt(w / page.width() * 90));
        break;
    case ZoomMode::Other:
        break;
    }
}

void ReportPreview::setZoom(int percent)
{
    if (percent < MinZoom || percent > MaxZoom)
        return;
    zoom_ = percent;
    placeSheet();
    scrollHome();
}

void ReportPreview::placeSheet()
{
    const QSize page = pagePixels();
    sheet_->resize(roundToInt(page.width() * zoom_ / 100.0) + PreviewSheet::Decoration,
                  roundToInt(page.height() * zoom_ / 100.0) + PreviewSheet::Decoration);
}

void ReportPreview::scrollHome()
{
    pageArea_->horizontalScrollBar()->setValue(0);
    pageArea_->verticalScrollBar()->setValue(0);
}

// ---- pages ----------------------------------------------------------------

void ReportPreview::goToPage(int number)
{
    if (number < 1 || number > pageCount() || number == current_)
        return;
    current_ = number;
    if (store_ && number <= store_->pageCount()) {
        showCurrentPage();
    } else {
        // Still being made: an empty sheet until it arrives.
        sheet_->clearPicture();
        shown_ = false;
    }
    scrollHome();
}

void ReportPreview::showCurrentPage()
{
    if (!store_)
        return;
    sheet_->setPicture(store_->page(current_));
    shown_ = true;
    if (!everShown_) {
        everShown_ = true;
        mode_ = ZoomMode::PageWidth;
        pageWidthAction_->setChecked(true);
        recomputeZoom();
    }
    scrollHome();
}

void ReportPreview::firstPage()
{
    goToPage(1);
    updatePagePanel();
}

void ReportPreview::previousPage()
{
    goToPage(current_ - 1);
    updatePagePanel();
}

void ReportPreview::nextPage()
{
    goToPage(current_ + 1);
    updatePagePanel();
}

void ReportPreview::lastPage()
{
    goToPage(pageCount());
    updatePagePanel();
}

void ReportPreview::updatePagePanel()
{
    pagePanel_->setText(QStringLiteral("Page %1 of %2").arg(current_).arg(pageCount()));
}

void ReportPreview::enablePrinting()
{
    // Loaded pages have no report behind them to set up.
    printerSetupAction_->setEnabled(store_ && !store_->loaded());
    printAction_->setEnabled(true);
}

// ---- notices --------------------------------------------------------------

void ReportPreview::pageNotice(int availablePages)
{
    runGuarded([&] {
        // A loaded file has replaced the pages the notice speaks of.
        if (closed_ || !store_ || store_->loaded())
            return;
        if (availablePages == current_ && !shown_)
            showCurrentPage();
        updatePagePanel();
        if (store_->status() == PageStore::Status::Finished)
            enablePrinting();
    });
}

void ReportPreview::progressNotice(int percent)
{
    if (closed_ || !store_ || store_->loaded())
        return;
    if (percent >= lastProgress_ + 5) {
        progressPanel_->setText(QStringLiteral("%1%").arg(percent));
        lastProgress_ = percent;
    }
    if (percent == 0 || percent == 100)
        progressPanel_->clear();
}

// ---- keys, resizing, closing ----------------------------------------------

bool ReportPreview::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == pageArea_ && event->type() == QEvent::Resize) {
        runGuarded([this] { recomputeZoom(); });
        return false;
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == this) {
        const auto *key = static_cast<QKeyEvent *>(event);
        bool handled = false;
        runGuarded([&] { handled = handleKey(key->key(), key->modifiers()); });
        return handled;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool ReportPreview::handleKey(int key, Qt::KeyboardModifiers modifiers)
{
    // The keypad flag says where the key is, not how it was pressed.
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    const bool ctrlOnly = held == Qt::ControlModifier;
    switch (key) {
    case Qt::Key_Escape:
        close();
        return true;
    case Qt::Key_PageUp:
        ctrlOnly ? firstPage() : previousPage();
        return true;
    case Qt::Key_PageDown:
        ctrlOnly ? lastPage() : nextPage();
        return true;
    case Qt::Key_Home:
        firstPage();
        return true;
    case Qt::Key_End:
        lastPage();
        return true;
    default:
        return false;
    }
}

void ReportPreview::closeEvent(QCloseEvent *event)
{
    if (!closed_) {
        closed_ = true;
        // The report hears of it first: a rendering into the store must stop
        // before the store goes.
        if (host_.closing)
            runGuarded(host_.closing);
        sheet_->clearPicture();
        store_.reset();
        emit previewClosed();
    }
    event->accept();
}

// ---- commands -------------------------------------------------------------

void ReportPreview::saveReportClick()
{
    QFileDialog dialog(this, QStringLiteral("Save report"));
    dialog.setObjectName(QStringLiteral("SaveReportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("QRP"));
    dialog.setNameFilter(QStringLiteral("Pagolin file(*.QRP)"));
    // An existing file is overwritten, as the user chose it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    saveToFile(dialog.selectedFiles().constFirst());
}

void ReportPreview::saveToFile(const QString &path)
{
    // An unfinished store writes nothing.
    if (store_)
        store_->saveToFile(path);
}

void ReportPreview::loadReportClick()
{
    QFileDialog dialog(this, QStringLiteral("Load report"));
    dialog.setObjectName(QStringLiteral("LoadReportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The file's existence is checked after the dialog, with a message of
    // our own.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Pagolin file (*.QRP)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    loadFromFile(dialog.selectedFiles().constFirst());
}

void ReportPreview::loadFromFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        QMessageBox box(QMessageBox::NoIcon, applicationTitle(), QStringLiteral("File does not exist"),
                        QMessageBox::NoButton, this);
        addOkButton(box);
        box.exec();
        return;
    }
    // Read and checked in full before anything shown is given up: a bad file
    // leaves the preview as it was.
    std::shared_ptr<PageStore> fresh = PageStore::loadFromFile(path);
    if (fresh->pageCount() < 1)
        throw Error(QStringLiteral("The report file %1 holds no pages").arg(QDir::toNativeSeparators(path)));
    const EmfHeaderInfo first = readEmfHeader(fresh->page(1));

    const LoadedPaper paper = recogniseLoadedPaper(first.widthMm(), first.heightMm());

    if (host_.discardingStore)
        host_.discardingStore();
    // The pages begun by a rendering no longer count.
    host_.pagesBegun = nullptr;
    store_ = std::move(fresh);
    loadedPaper_ = paper;
    paperMm_ = paper.mm;
    current_ = 1;
    shown_ = false;
    progressPanel_->clear();
    recomputeZoom();
    placeSheet();
    showCurrentPage();
    updatePagePanel();
    printerSetupAction_->setEnabled(false);
    printAction_->setEnabled(true);
}

void ReportPreview::printerSetupClick()
{
    if (!store_ || store_->status() != PageStore::Status::Finished || store_->loaded())
        return;
    if (host_.printerSetup)
        host_.printerSetup(pageCount());
}

void ReportPreview::printClick()
{
    if (!store_ || store_->status() != PageStore::Status::Finished)
        return;
    if (store_->loaded()) {
        if (host_.printLoaded)
            host_.printLoaded(store_, loadedPaper_);
    } else if (host_.printReport) {
        host_.printReport();
    }
}

} // namespace zeplo
