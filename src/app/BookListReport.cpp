#include "app/BookListReport.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPageSize>
#include <QPrinter>

#include "app/BookListLayout.h"
#include "widgets/ErrorGuard.h"
#include "report/PageStore.h"
#include "widgets/ReportPreview.h"
#include "widgets/PrintProgressWindow.h"
#include "widgets/PrinterOutput.h"
#include "widgets/Printing.h"
#include "widgets/QueuedWork.h"

namespace zeplo {

BookListReport::BookListReport(ResultSet *query, QObject *parent)
    : QObject(parent),
      layout_(bookListLayout()),
      query_(query),
      printer_(initialPrinterSettings()),
      renderer_(layout_, query)
{
    setObjectName(QStringLiteral("Tisk"));
}

BookListReport::~BookListReport() = default;

bool BookListReport::render(ReportOutput &output)
{
    if (busy())
        return false;
    emit walkingChanged(true);
    struct Ended {
        BookListReport *self;
        ~Ended() { emit self->walkingChanged(false); }
    } ended{this};
    return renderer_.render(output, printer_);
}

// ---- the preview and printing ----------------------------------------------

ReportPreview *BookListReport::previewWindow() const
{
    return preview_;
}

void BookListReport::setMainWindow(QWidget *window)
{
    mainWindow_ = window;
}

QWidget *BookListReport::ownerWindow() const
{
    if (mainWindow_)
        return mainWindow_;
    if (auto *widget = qobject_cast<QWidget *>(parent()))
        return widget->window();
    return nullptr;
}

void BookListReport::preview()
{
    QCoreApplication::processEvents();
    if (busy() || preview_ || printingLoaded_)
        return;
    checkDefaultPrinter();

    // The window whose closing ends the program takes the preview with it;
    // without one named, the window the command came from.
    QPointer<QWidget> owner = ownerWindow();
    if (!owner)
        owner = QApplication::activeWindow();
    if (owner)
        owner->installEventFilter(this);
    watched_ = owner;

    auto store = std::make_shared<PageStore>();
    store->setTitle(layout_.page.title);
    auto preview = std::make_unique<ReportPreview>();
    preview_ = preview.get();
    renderingPreview_ = false;

    // Whatever way this ends, the window goes, and the pages with it.
    struct Cleanup {
        BookListReport *self;
        std::unique_ptr<ReportPreview> &preview;
        std::shared_ptr<PageStore> &store;
        ~Cleanup()
        {
            if (preview && !preview->closed())
                preview->close();
            preview.reset();
            store.reset();
            // Back to the window the command came from, as a window manager
            // would do; its activation refreshes the record count.
            if (self->watched_ && self->watched_->isVisible())
                self->watched_->activateWindow();
            self->preview_ = nullptr;
            self->renderingPreview_ = false;
            if (self->watched_)
                self->watched_->removeEventFilter(self);
            self->watched_ = nullptr;
        }
    } cleanup{this, preview, store};

    if (!layout_.page.title.isEmpty())
        preview->setWindowTitle(layout_.page.title);
    preview->setStore(store);
    preview->setPaperMm(sheetMm(paperForPrinter(printer_.printerName, pageSizeFor(layout_.page.paper)),
                                printer_.landscape));

    ReportPreview::Host host;
    host.pagesBegun = [this] { return renderingPreview_ ? pageCount() : 0; };
    host.closing = [this] { previewClosing(); };
    host.discardingStore = [this] {
        // A file replaces the pages: the rendering that makes them stops.
        if (renderingPreview_)
            cancel();
    };
    host.printerSetup = [this](int pages) { printerSetup(pages); };
    host.printReport = [this] {
        postWork(this, [this] { runGuarded([this] { printRequested(); }); });
    };
    host.printLoaded = [this](std::shared_ptr<PageStore> pages, const LoadedPaper &loaded) {
        printLoaded(std::move(pages), loaded);
    };
    preview->setHost(host);
    preview->showMaximized();
    preview->activateWindow();
    preview->updatePagePanel();

    // The notices travel through the message queue, handled when the
    // rendering next lets the loop run; a closed preview hears nothing more.
    PagePictureOutput output(*store);
    output.paperLookup = paperForPrinter;
    QPointer<ReportPreview> target = preview.get();
    output.pageFinished = [target](int available) {
        if (target)
            postWork(target, [target, available] { target->pageNotice(available); });
    };
    output.progress = [target](int percent) {
        if (target)
            postWork(target, [target, percent] { target->progressNotice(percent); });
    };

    renderingPreview_ = true;
    const bool rendered = render(output);
    renderingPreview_ = false;
    if (!rendered || preview->closed() || QCoreApplication::closingDown())
        return;
    // The rendering's own pages are no longer needed here once it is over;
    // the preview keeps them, or a file loaded meanwhile replaced them.
    store.reset();

    QEventLoop loop;
    connect(preview.get(), &ReportPreview::previewClosed, &loop, &QEventLoop::quit);
    connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    loop.exec();
}

void BookListReport::previewClosing()
{
    // Stops whatever rendering runs (the preview's, or a printout started
    // from it) and any printing of loaded pages; the pages go with the window.
    if (busy())
        cancel();
    cancelLoadedPrint_ = true;
}

bool BookListReport::eventFilter(QObject *watched, QEvent *event)
{
    // The main window closing ends the program: the preview closes with it,
    // which stops a rendering and lets the command return.
    if (watched == watched_ && preview_ && event->type() == QEvent::Hide && !event->spontaneous()) {
        QWidget *window = qobject_cast<QWidget *>(watched);
        if (window && !window->isMinimized())
            preview_->close();
    }
    return QObject::eventFilter(watched, event);
}

void BookListReport::printerSetup(int pageCount)
{
    QWidget *owner = ownerWindow();
    if (!owner)
        owner = preview_;
    runPrinterSetup(printer_, pageCount, owner);
}

void BookListReport::printRequested()
{
    if (busy() || printingLoaded_)
        return;
    std::unique_ptr<QPrinter> printer = makePrinter(printer_);
    if (!printer)
        return;
    PrinterOutput output(*printer);
    PrintProgressWindow progress;
    progress.onCancel = [this] { cancel(); };
    output.progress = [&progress](int percent) { progress.setProgress(percent); };
    progress.show();
    render(output);
    progress.hide();
}

void BookListReport::printLoaded(std::shared_ptr<PageStore> store, const LoadedPaper &paper)
{
    if (!store || busy() || printingLoaded_)
        return;
    std::unique_ptr<QPrinter> printer = makePrinter(printer_);
    if (!printer)
        return;
    printer->setPageSize(paper.size);
    printer->setPageOrientation(paper.orientation);
    printer->setCopyCount(qMax(1, printer_.copies));
    printer->setPaperSource(QPrinter::Auto);
    printer->setDocName(store->title());
    printer->setFullPage(false);

    printingLoaded_ = true;
    cancelLoadedPrint_ = false;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{printingLoaded_};
    PrintProgressWindow progress;
    progress.onCancel = [this] { cancelLoadedPrint_ = true; };
    progress.show();
    printStoredPages(*store, *printer, printer_.firstPage, printer_.lastPage, [&](int printed, int total) {
        QCoreApplication::processEvents();
        if (cancelLoadedPrint_)
            return false;
        progress.setProgress(printed * 100 / total);
        return true;
    });
    progress.hide();
}

} // namespace zeplo
