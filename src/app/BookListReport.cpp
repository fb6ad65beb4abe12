#include "app/BookListReport.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPageSize>
#include <QPrinter>

#include "widgets/ErrorGuard.h"
#include "report/PageStore.h"
#include "widgets/ReportPreview.h"
#include "widgets/PrintProgressWindow.h"
#include "widgets/PrinterOutput.h"
#include "widgets/Printing.h"

namespace zeplo {

namespace {

template <class T>
const T *named(const T *item, const QString &name)
{
    if (!item)
        throw Error(QStringLiteral("The report has no part named %1").arg(name));
    return item;
}

} // namespace

BookListReport::BookListReport(ResultSet *query, QObject *parent)
    : QObject(parent),
      m_layout(bookListLayout()),
      QRBand1(named(m_layout.band(QStringLiteral("QRBand1")), QStringLiteral("QRBand1"))),
      QRBand2(named(m_layout.band(QStringLiteral("QRBand2")), QStringLiteral("QRBand2"))),
      QRBand3(named(m_layout.band(QStringLiteral("QRBand3")), QStringLiteral("QRBand3"))),
      QRBand4(named(m_layout.band(QStringLiteral("QRBand4")), QStringLiteral("QRBand4"))),
#define ZEPLO_PRINTABLE(n) n(named(m_layout.printable(QStringLiteral(#n)), QStringLiteral(#n)))
      ZEPLO_PRINTABLE(QRLabel1),
      ZEPLO_PRINTABLE(QRLabel2),
      ZEPLO_PRINTABLE(QRSysData1),
      ZEPLO_PRINTABLE(QRLabel3),
      ZEPLO_PRINTABLE(QRLabel4),
      ZEPLO_PRINTABLE(QRLabel5),
      ZEPLO_PRINTABLE(QRLabel6),
      ZEPLO_PRINTABLE(QRLabel9),
      ZEPLO_PRINTABLE(QRSysData2),
      ZEPLO_PRINTABLE(QRShape1),
      ZEPLO_PRINTABLE(QRDBText1),
      ZEPLO_PRINTABLE(QRDBText2),
      ZEPLO_PRINTABLE(QRDBText3),
      ZEPLO_PRINTABLE(QRDBText4),
      ZEPLO_PRINTABLE(QRLabel10),
      ZEPLO_PRINTABLE(QRLabel11),
      ZEPLO_PRINTABLE(QRSysData3),
#undef ZEPLO_PRINTABLE
      m_query(query),
      m_printer(initialPrinterSettings()),
      m_renderer(m_layout, query)
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
    return m_renderer.render(output, m_printer);
}

// ---- the preview and printing ----------------------------------------------

ReportPreview *BookListReport::previewWindow() const
{
    return m_preview;
}

void BookListReport::setMainWindow(QWidget *window)
{
    m_mainWindow = window;
}

QWidget *BookListReport::ownerWindow() const
{
    if (m_mainWindow)
        return m_mainWindow;
    if (auto *widget = qobject_cast<QWidget *>(parent()))
        return widget->window();
    return nullptr;
}

void BookListReport::preview()
{
    QCoreApplication::processEvents();
    if (busy() || m_preview || m_printingLoaded)
        return;
    checkDefaultPrinter();

    // The window whose closing ends the program takes the preview with it;
    // without one named, the window the command came from.
    QPointer<QWidget> owner = ownerWindow();
    if (!owner)
        owner = QApplication::activeWindow();
    if (owner)
        owner->installEventFilter(this);
    m_watched = owner;

    auto store = std::make_shared<PageStore>();
    store->setTitle(m_layout.page.title);
    auto preview = std::make_unique<ReportPreview>();
    m_preview = preview.get();
    m_renderingPreview = false;

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
            if (self->m_watched && self->m_watched->isVisible())
                self->m_watched->activateWindow();
            self->m_preview = nullptr;
            self->m_renderingPreview = false;
            if (self->m_watched)
                self->m_watched->removeEventFilter(self);
            self->m_watched = nullptr;
        }
    } cleanup{this, preview, store};

    if (!m_layout.page.title.isEmpty())
        preview->setWindowTitle(m_layout.page.title);
    preview->setStore(store);
    QSizeF paper = paperForPrinter(m_printer.printerName, pageSizeFor(m_layout.page.paper))
                       .size(QPageSize::Millimeter);
    if (m_printer.landscape)
        paper.transpose();
    preview->setPaperMm(paper);

    ReportPreview::Host host;
    host.pagesBegun = [this] { return m_renderingPreview ? pageCount() : 0; };
    host.closing = [this] { previewClosing(); };
    host.discardingStore = [this] {
        // A file replaces the pages: the rendering that makes them stops.
        if (m_renderingPreview)
            cancel();
    };
    host.printerSetup = [this](int pages) { printerSetup(pages); };
    host.printReport = [this] {
        QMetaObject::invokeMethod(
            this, [this] { runGuarded([this] { printRequested(); }); }, Qt::QueuedConnection);
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
            QMetaObject::invokeMethod(target.data(), "pageNotice", Qt::QueuedConnection, Q_ARG(int, available));
    };
    output.progress = [target](int percent) {
        if (target)
            QMetaObject::invokeMethod(target.data(), "progressNotice", Qt::QueuedConnection, Q_ARG(int, percent));
    };

    m_renderingPreview = true;
    const bool rendered = render(output);
    m_renderingPreview = false;
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
    m_cancelLoadedPrint = true;
}

bool BookListReport::eventFilter(QObject *watched, QEvent *event)
{
    // The main window closing ends the program: the preview closes with it,
    // which stops a rendering and lets the command return.
    if (watched == m_watched && m_preview && event->type() == QEvent::Hide && !event->spontaneous()) {
        QWidget *window = qobject_cast<QWidget *>(watched);
        if (window && !window->isMinimized())
            m_preview->close();
    }
    return QObject::eventFilter(watched, event);
}

void BookListReport::printerSetup(int pageCount)
{
    QWidget *owner = ownerWindow();
    if (!owner)
        owner = m_preview;
    runPrinterSetup(m_printer, pageCount, owner);
}

void BookListReport::printRequested()
{
    if (busy() || m_printingLoaded)
        return;
    std::unique_ptr<QPrinter> printer = makePrinter(m_printer);
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
    if (!store || busy() || m_printingLoaded)
        return;
    std::unique_ptr<QPrinter> printer = makePrinter(m_printer);
    if (!printer)
        return;
    printer->setPageSize(paper.size);
    printer->setPageOrientation(paper.orientation);
    printer->setCopyCount(qMax(1, m_printer.copies));
    printer->setPaperSource(QPrinter::Auto);
    printer->setDocName(store->title());
    printer->setFullPage(false);

    m_printingLoaded = true;
    m_cancelLoadedPrint = false;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{m_printingLoaded};
    PrintProgressWindow progress;
    progress.onCancel = [this] { m_cancelLoadedPrint = true; };
    progress.show();
    printStoredPages(*store, *printer, m_printer.firstPage, m_printer.lastPage, [&](int printed, int total) {
        QCoreApplication::processEvents();
        if (m_cancelLoadedPrint)
            return false;
        progress.setProgress(printed * 100 / total);
        return true;
    });
    progress.hide();
}

} // namespace zeplo
