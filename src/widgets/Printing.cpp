#include "widgets/Printing.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include "widgets/ErrorGuard.h"
#include "report/EmfPlayer.h"
#include "report/PageStore.h"

namespace zeplo {

std::unique_ptr<QPrinter> makePrinter(const PrinterSettings &settings)
{
    if (!printersInstalled())
        return nullptr;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!settings.printerName.isEmpty())
        printer->setPrinterName(settings.printerName);
    return printer;
}

bool printersInstalled()
{
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

void checkDefaultPrinter()
{
    if (printersInstalled() && QPrinterInfo::defaultPrinterName().isEmpty())
        throw Error(QStringLiteral("There is no default printer currently selected"));
}

void preparePrintDialog(QPrintDialog &dialog, int pageCount)
{
    QAbstractPrintDialog::PrintDialogOptions options =
        QAbstractPrintDialog::PrintPageRange | QAbstractPrintDialog::PrintCollateCopies;
    // Selection, current page and printing to a file are not offered; whether
    // a platform's dialog still shows a file printer is its own affair.
    dialog.setOptions(options);
    if (pageCount > 0) {
        dialog.setMinMax(1, pageCount);
        dialog.setFromTo(1, pageCount);
    } else {
        dialog.setMinMax(0, 9999);
    }
    dialog.setPrintRange(QAbstractPrintDialog::AllPages);
}

void takePrintDialogResult(const QPrintDialog &dialog, PrinterSettings &settings)
{
    const QPrinter *printer = const_cast<QPrintDialog &>(dialog).printer();
    settings.copies = qMax(1, printer->copyCount());
    if (printer->outputFormat() == QPrinter::NativeFormat)
        settings.printerName = printer->printerName();
    settings.landscape = printer->pageLayout().orientation() == QPageLayout::Landscape;
    if (dialog.printRange() == QAbstractPrintDialog::PageRange) {
        settings.firstPage = dialog.fromPage();
        settings.lastPage = dialog.toPage();
    } else {
        settings.firstPage = 0;
        settings.lastPage = 0;
    }
}

bool runPrinterSetup(PrinterSettings &settings, int pageCount, QWidget *owner)
{
    QPrinterInfo info = QPrinterInfo::printerInfo(settings.printerName);
    if (info.isNull() && settings.printerName.isEmpty())
        info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        throw Error(QStringLiteral("Operation not supported on selected printer"));

    QPrinter printer(info, QPrinter::HighResolution);
    printer.setPageOrientation(settings.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    printer.setCopyCount(qMax(1, settings.copies));
    QPrintDialog dialog(&printer, owner);
    dialog.setObjectName(QStringLiteral("PrinterSetupDialog"));
    preparePrintDialog(dialog, pageCount);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    takePrintDialogResult(dialog, settings);
    return true;
}

int printStoredPages(const PageStore &store, QPrinter &printer, int firstPage, int lastPage,
                     const std::function<bool(int done, int total)> &beforePage)
{
    const int count = store.pageCount();
    const int from = firstPage > 0 ? firstPage : 1;
    const int to = qMin(lastPage > 0 ? lastPage : count, count);
    if (from > to)
        return 0;
    const int total = to - from + 1;

    QPainter painter;
    int sent = 0;
    const auto abandon = [&] {
        if (painter.isActive()) {
            printer.abort();
            painter.end();
        }
    };
    try {
        for (int n = from; n <= to; ++n) {
            if (beforePage && !beforePage(sent, total)) {
                abandon();
                return sent;
            }
            const QByteArray page = store.page(n);
            if (!painter.isActive()) {
                if (!painter.begin(&printer))
                    throw Error(QStringLiteral("Printing could not be started on %1")
                                    .arg(printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName()
                                                                                       : printer.printerName()));
            } else if (!printer.newPage()) {
                throw Error(QStringLiteral("The printer refused a new page"));
            }
            // The painter's origin is the corner of what the printer reaches.
            const QRect area(QPoint(0, 0), printer.pageLayout().paintRectPixels(printer.resolution()).size());
            playEmf(page, painter, QRectF(area));
            ++sent;
        }
    } catch (...) {
        abandon();
        throw;
    }
    if (!painter.end())
        throw Error(QStringLiteral("The printout could not be finished"));
    return sent;
}

} // namespace zeplo
