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
    return choosePaper(wanted, true, info.supportedPageSizes(), info.defaultPageSize());
}

PrinterOutput::PrinterOutput(QPrinter &printer) : m_printer(printer) {}

PrinterOutput::~PrinterOutput()
{
    // A document left open by a rendering that never got to close it is dropped.
    if (m_painter.isActive())
        abandonDocument();
}

void PrinterOutput::applySettings(const PageSettings &page, const QString &printerName)
{
    const bool native = m_printer.outputFormat() == QPrinter::NativeFormat;
    if (native && !printerName.isEmpty() && m_printer.printerName() != printerName)
        m_printer.setPrinterName(printerName);

    const QPageSize wanted = pageSizeFor(page.paper);
    if (native) {
        const QPrinterInfo info(m_printer);
        const QPageSize chosen =
            choosePaper(wanted, !info.isNull(), info.supportedPageSizes(), m_printer.pageLayout().pageSize());
        m_printer.setPageSize(chosen);
    } else {
        m_printer.setPageSize(wanted);
    }
    m_printer.setPageOrientation(page.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    m_printer.setCopyCount(qMax(1, page.copies));
    m_printer.setPaperSource(QPrinter::Auto);
    m_printer.setDocName(page.title);
    // The device's origin sits at the edge of what the printer can reach, as
    // the layout's conversion expects.
    m_printer.setFullPage(false);
    m_printer.setPageMargins(m_printer.pageLayout().minimumMargins(), m_printer.pageLayout().units());
    m_firstPage = page.firstPage;
    m_lastPage = page.lastPage;
}

QSizeF PrinterOutput::paper() const
{
    return m_printer.pageLayout().fullRect(QPageLayout::Millimeter).size() * NativePerMm;
}

QPointF PrinterOutput::unprintableMargin() const
{
    const QMarginsF m = m_printer.pageLayout().margins(QPageLayout::Millimeter);
    return QPointF(m.left(), m.top()) * NativePerMm;
}

void PrinterOutput::openDocument()
{
    // The print job starts with its first printed page, so that a range
    // holding no page sends nothing.
    m_printed = 0;
}

Canvas *PrinterOutput::beginPage(int number)
{
    if (!pageInRange(number, m_firstPage, m_lastPage))
        return nullptr;
    if (!m_painter.isActive()) {
        if (!m_painter.begin(&m_printer))
            throw Error(QStringLiteral("Printing could not be started on %1")
                            .arg(m_printer.outputFormat() == QPrinter::PdfFormat ? m_printer.outputFileName()
                                                                                 : m_printer.printerName()));
    } else if (!m_printer.newPage()) {
        throw Error(QStringLiteral("The printer refused a new page"));
    }
    m_canvas = std::make_unique<PainterCanvas>(m_painter);
    return m_canvas.get();
}

void PrinterOutput::endPage()
{
    if (!m_canvas)
        return;
    m_canvas.reset();
    ++m_printed;
    if (pageFinished)
        pageFinished(m_printed);
}

void PrinterOutput::closeDocument()
{
    m_canvas.reset();
    if (m_painter.isActive() && !m_painter.end())
        throw Error(QStringLiteral("The printout could not be finished"));
}

void PrinterOutput::abandonDocument() noexcept
{
    m_canvas.reset();
    if (m_painter.isActive()) {
        m_printer.abort();
        m_painter.end();
    }
}

} // namespace zeplo
