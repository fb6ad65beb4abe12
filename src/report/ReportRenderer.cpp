#include "report/ReportRenderer.h"

#include <QCoreApplication>
#include <QDate>
#include <QLocale>
#include <QRect>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "engine/Field.h"
#include "engine/ResultSet.h"

namespace zeplo {

ReportRenderer::ReportRenderer(const ReportLayout &layout, ResultSet *query) : m_layout(layout), m_query(query) {}

bool ReportRenderer::render(ReportOutput &output, const PrinterSettings &printer)
{
    if (m_busy)
        return false;
    m_busy = true;
    // Cleared on every way out, a failure included: a report left marked busy
    // would ignore every later print command.
    struct Idle {
        bool &busy;
        ReportRenderer *self;
        ~Idle()
        {
            busy = false;
            self->m_output = nullptr;
            self->m_canvas = nullptr;
        }
    } idle{m_busy, this};

    m_cancelled = false;
    m_pageCount = 0;
    m_detailNumber = 0;
    m_pageInProgress = false;
    m_position = 0;
    m_canvas = nullptr;
    m_output = &output;

    m_page = m_layout.page;
    m_page.copies = printer.copies;
    m_page.landscape = printer.landscape;
    m_page.firstPage = printer.firstPage;
    m_page.lastPage = printer.lastPage;

    try {
        output.applySettings(m_page, printer.printerName);
        m_paper = output.paper();
        m_unprintable = output.unprintableMargin();
        output.openDocument();
        walk();
        endDocument();
    } catch (...) {
        output.abandonDocument();
        throw;
    }
    return true;
}

void ReportRenderer::walk()
{
    if (!m_query || !m_query->active()) {
        printEmptyReport();
        return;
    }
    m_query->first();
    if (m_query->eof()) {
        printEmptyReport();
        return;
    }
    // Asked once: on a result not yet read to its end the engine counts anew
    // each time.
    const qsizetype rowCount = detailCount();
    const ReportBand *title = m_layout.band(BandKind::Title);
    const ReportBand *header = m_layout.band(BandKind::ColumnHeader);
    const ReportBand *detail = m_layout.band(BandKind::Detail);
    const ReportBand *summary = m_layout.band(BandKind::Summary);
    if (title)
        printBand(*title);
    if (header)
        printBand(*header);
    while (!m_query->eof()) {
        QCoreApplication::processEvents();
        if (m_cancelled)
            return;
        ++m_detailNumber;
        if (detail)
            printBand(*detail);
        m_query->next();
        if (rowCount != 0 && m_output->progress)
            m_output->progress(int(qsizetype(m_detailNumber) * 100 / rowCount));
    }
    if (summary)
        printBand(*summary);
}

void ReportRenderer::printEmptyReport()
{
    if (!m_page.printIfEmpty)
        return;
    // No column header: the report of no books has no columns to name.
    for (BandKind kind : {BandKind::Title, BandKind::Detail, BandKind::Summary})
        if (const ReportBand *band = m_layout.band(kind))
            printBand(*band);
}

void ReportRenderer::endDocument()
{
    if (m_cancelled && !m_output->keepsPagesWhenCancelled()) {
        m_output->abandonDocument();
        return;
    }
    if (m_pageInProgress)
        finishPage();
    m_output->closeDocument();
}

void ReportRenderer::printBand(const ReportBand &band)
{
    if (!m_pageInProgress) {
        startPage();
    } else {
        const double spaceLeft = m_paper.height() - m_page.bottomMargin - m_position;
        const double printableHeight = m_paper.height() - m_page.topMargin - m_page.bottomMargin;
        // A band that could fit no page prints where it is.
        if (spaceLeft < band.height && band.height <= printableHeight)
            startPage();
    }
    drawBand(band);
    m_position += band.advance();
}

void ReportRenderer::startPage()
{
    if (m_pageInProgress)
        finishPage();
    ++m_pageCount;
    m_canvas = m_output->beginPage(m_pageCount);
    m_pageInProgress = true;
    m_position = m_page.topMargin;
    // The first page's column header follows the title; later pages open with it.
    if (m_pageCount > 1)
        if (const ReportBand *header = m_layout.band(BandKind::ColumnHeader))
            printBand(*header);
}

void ReportRenderer::finishPage()
{
    m_position = m_paper.height() - m_page.bottomMargin;
    m_pageInProgress = false;
    m_canvas = nullptr;
    m_output->endPage();
}

double ReportRenderer::leftEdge() const
{
    // The report has one column, so every band starts at the left margin.
    return m_page.leftMargin;
}

int ReportRenderer::pixelX(double x) const
{
    return static_cast<int>(std::lround((x - m_unprintable.x()) * m_canvas->dpiX() / NativeUnitsPerInch));
}

int ReportRenderer::pixelY(double y) const
{
    return static_cast<int>(std::lround((y - m_unprintable.y()) * m_canvas->dpiY() / NativeUnitsPerInch));
}

void ReportRenderer::drawBand(const ReportBand &band)
{
    // A page outside the printed range is laid out all the same, but drawn nowhere.
    if (!m_canvas)
        return;
    const int left = pixelX(leftEdge());
    const int top = pixelY(m_position);
    const QRect area(QPoint(left, top),
                     QSize(pixelX(leftEdge() + band.width) - left, pixelY(m_position + band.height) - top));
    m_canvas->fillRect(area, band.color);
    for (const Printable &p : band.printables) {
        if (p.kind == PrintableKind::Shape)
            drawShape(p);
        else
            drawText(band, p);
    }
}

void ReportRenderer::drawText(const ReportBand &band, const Printable &p)
{
    QString text = textOf(p);
    text.remove(QLatin1Char('\n'));
    const QStringList lines = text.split(QLatin1Char('\r'));

    m_canvas->setFont(p.font);
    const int lineHeight = m_canvas->lineHeight();
    int width = 0;
    if (p.autoSize) {
        for (const QString &line : lines)
            width = std::max(width, m_canvas->textWidth(line));
        width += 1;
    } else {
        width = static_cast<int>(std::lround(p.width * m_canvas->dpiX() / NativeUnitsPerInch));
    }
    const int height = std::max(static_cast<int>(std::lround(p.height * m_canvas->dpiY() / NativeUnitsPerInch)),
                                lineHeight + 1);

    double left = p.left;
    if (p.alignment == PrintableAlignment::Center) {
        const double widthNative = width * NativeUnitsPerInch / m_canvas->dpiX();
        left = p.alignToBand ? (band.width - widthNative) / 2 : p.left + (p.width - widthNative) / 2;
    }
    const QPoint topLeft(pixelX(leftEdge() + left), pixelY(m_position + p.top));

    if (!p.transparent)
        m_canvas->fillRect(QRect(topLeft, QSize(width, height)), p.color);
    // As many lines as the box holds, the first always; never clipped.
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0 && (i + 1) * lineHeight > height)
            break;
        m_canvas->drawText(QPoint(topLeft.x(), topLeft.y() + i * lineHeight), lines.at(i));
    }
}

void ReportRenderer::drawShape(const Printable &p)
{
    const double x = leftEdge() + p.left;
    const int y = pixelY(m_position + p.top + p.height / 2);
    m_canvas->drawLine(QPoint(pixelX(x), y), QPoint(pixelX(x + p.width), y));
}

qsizetype ReportRenderer::detailCount() const
{
    if (!m_query || !m_query->active())
        return 1;
    return m_query->recordCount();
}

QString ReportRenderer::textOf(const Printable &p) const
{
    switch (p.kind) {
    case PrintableKind::Text:
        return p.content;
    case PrintableKind::BoundText: {
        if (!m_query || !m_query->active())
            return QString();
        const Field *field = m_query->findField(p.content);
        if (!field)
            return QString();
        try {
            return field->displayText();
        } catch (const std::exception &) {
            return QString(); // a value that cannot be shown prints as nothing
        }
    }
    case PrintableKind::SystemDate:
        return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    case PrintableKind::SystemPageNumber:
        return QString::number(m_pageCount);
    case PrintableKind::SystemDetailCount:
        return QString::number(detailCount());
    case PrintableKind::Shape:
        break;
    }
    return QString();
}

} // namespace zeplo
