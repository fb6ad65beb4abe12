#include "widgets/PrinterOutput.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPrinter>
#include <QPrinterInfo>

#include "engine/Error.h"
#include "report/PainterCanvas.h"

namespace zeplo {

namespace {

constexpr double NativePerMm = 10.0;

// The paper a printer is given: the one wanted when it offers it.
QPageSize paperOffered(const QPrinterInfo &printer, const QPageSize &wanted, const QPageSize &printersOwn)
{
    return choosePaper(wanted, !printer.isNull(), printer.supportedPageSizes(), printersOwn);
}

} // namespace

PrinterSettings initialPrinterSettings()
{
    PrinterSettings s;
    s.printerName = QPrinterInfo::defaultPrinterName();
    return s;
}

QPageSize paperForPrinter(const QString &printerName, const QPageSize &wanted)
{
    if (QPrinterInfo::availablePrinters().isEmpty())
        return wanted;
    QPrinterInfo info = printerName.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(printerName);
    if (info.isNull())
        info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return wanted;
    return paperOffered(info, wanted, info.defaultPageSize());
}

PrinterOutput::PrinterOutput(QPrinter &printer) : printer_(printer) {}

PrinterOutput::~PrinterOutput()
{
    // A document left open by a rendering that never got to close it is dropped.
    if (painter_.isActive())
        abandonDocument();
}

void PrinterOutput::applySettings(const PageSettings &page, const QString &printerName)
{
    const bool native = printer_.outputFormat() == QPrinter::NativeFormat;
    if (native && !printerName.isEmpty() && printer_.printerName() != printerName)
        printer_.setPrinterName(printerName);

    const QPageSize wanted = pageSizeFor(page.paper);
    if (native) {
        printer_.setPageSize(paperOffered(QPrinterInfo(printer_), wanted, printer_.pageLayout().pageSize()));
    } else {
        printer_.setPageSize(wanted);
    }
    printer_.setPageOrientation(page.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    printer_.setCopyCount(qMax(1, page.copies));
    printer_.setPaperSource(QPrinter::Auto);
    printer_.setDocName(page.title);
    // The device's origin sits at the edge of what the printer can reach, as
    // the layout's conversion expects.
    printer_.setFullPage(false);
    printer_.setPageMargins(printer_.pageLayout().minimumMargins(), printer_.pageLayout().units());
    firstPage_ = page.firstPage;
    lastPage_ = page.lastPage;
}

QSizeF PrinterOutput::paper() const
{
    return printer_.pageLayout().fullRect(QPageLayout::Millimeter).size() * NativePerMm;
}

QPointF PrinterOutput::unprintableMargin() const
{
    const QMarginsF m = printer_.pageLayout().margins(QPageLayout::Millimeter);
    return QPointF(m.left(), m.top()) * NativePerMm;
}

void PrinterOutput::openDocument()
{
    // The print job starts with its first printed page, so that a range
    // holding no page sends nothing.
    printed_ = 0;
}

Canvas *PrinterOutput::beginPage(int number)
{
    if (!pageInRange(number, firstPage_, lastPage_))
        return nullptr;
    if (!painter_.isActive()) {
        if (!painter_.begin(&printer_))
            throw Error(QStringLiteral("Printing could not be started on %1")
                            .arg(printer_.outputFormat() == QPrinter::PdfFormat ? printer_.outputFileName()
                                                                                 : printer_.printerName()));
    } else if (!printer_.newPage()) {
        throw Error(QStringLiteral("The printer refused a new page"));
    }
    canvas_ = std::make_unique<PainterCanvas>(painter_);
    return canvas_.get();
}

void PrinterOutput::endPage()
{
    if (!canvas_)
        return;
    canvas_.reset();
    ++printed_;
    if (pageFinished)
        pageFinished(printed_);
}

void PrinterOutput::closeDocument()
{
    canvas_.reset();
    if (painter_.isActive() && !painter_.end())
        throw Error(QStringLiteral("The printout could not be finished"));
}

void PrinterOutput::abandonDocument() noexcept
{
    canvas_.reset();
    if (painter_.isActive()) {
        printer_.abort();
        painter_.end();
    }
}

} // namespace zeplo
