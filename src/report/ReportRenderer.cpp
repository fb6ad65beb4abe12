#include "report/ReportRenderer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDate>
#include <QLocale>
#include <QRect>
#include <QScopeGuard>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "engine/Field.h"
#include "engine/ResultSet.h"

namespace zeplo {

ReportRenderer::ReportRenderer(const ReportLayout &layout, ResultSet *query) : layout_(layout), query_(query) {}

bool ReportRenderer::render(ReportOutput &output, const PrinterSettings &printer)
{
    if (stage_ != Stage::Idle)
        return false;
    // Idle again on every way out, a failure included: a report left marked
    // busy would ignore every later print command.
    const auto idle = qScopeGuard([this] {
        stage_ = Stage::Idle;
        output_ = nullptr;
        canvas_ = nullptr;
        checkStage();
    });
    stage_ = Stage::Open;
    cancelled_ = false;
    pageCount_ = 0;
    detailNumber_ = 0;
    position_ = 0;
    canvas_ = nullptr;
    output_ = &output;
    checkStage();

    page_ = layout_.page;
    page_.copies = printer.copies;
    page_.landscape = printer.landscape;
    page_.firstPage = printer.firstPage;
    page_.lastPage = printer.lastPage;

    try {
        output.applySettings(page_, printer.printerName);
        paper_ = output.paper();
        unprintable_ = output.unprintableMargin();
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
    if (!query_ || !query_->active()) {
        printEmptyReport();
        return;
    }
    query_->first();
    if (query_->eof()) {
        printEmptyReport();
        return;
    }
    // Asked once: on a result not yet read to its end the engine counts anew
    // each time.
    const qsizetype rowCount = detailCount();
    const ReportBand *title = layout_.band(BandKind::Title);
    const ReportBand *header = layout_.band(BandKind::ColumnHeader);
    const ReportBand *detail = layout_.band(BandKind::Detail);
    const ReportBand *summary = layout_.band(BandKind::Summary);
    if (title)
        printBand(*title);
    if (header)
        printBand(*header);
    struct Walk {
        ResultSet *query;
        explicit Walk(ResultSet *q) : query(q) { query->setWalking(true); }
        ~Walk() { query->setWalking(false); }
    } walking(query_);
    QElapsedTimer sinceMessages;
    sinceMessages.start();
    while (!query_->eof()) {
        // Pending messages are handled before each row. The program's own
        // (the preview's notices, a cancel) wait in its queue and are seen
        // every time; asking the window system for input costs a system call,
        // so that is done once a millisecond, unnoticeably later for a user.
        if (sinceMessages.elapsed() >= 1) {
            QCoreApplication::processEvents();
            sinceMessages.restart();
        } else {
            QCoreApplication::sendPostedEvents();
        }
        if (cancelled_)
            return;
        ++detailNumber_;
        if (detail)
            printBand(*detail);
        query_->next();
        if (rowCount != 0 && output_->progress)
            output_->progress(int(qsizetype(detailNumber_) * 100 / rowCount));
    }
    if (summary)
        printBand(*summary);
}

void ReportRenderer::printEmptyReport()
{
    if (!page_.printIfEmpty)
        return;
    // No column header: the report of no books has no columns to name.
    for (BandKind kind : {BandKind::Title, BandKind::Detail, BandKind::Summary})
        if (const ReportBand *band = layout_.band(kind))
            printBand(*band);
}

void ReportRenderer::endDocument()
{
    if (cancelled_ && !output_->keepsPagesWhenCancelled()) {
        output_->abandonDocument();
        return;
    }
    if (stage_ == Stage::Page)
        finishPage();
    output_->closeDocument();
}

void ReportRenderer::printBand(const ReportBand &band)
{
    if (stage_ != Stage::Page) {
        startPage();
    } else {
        const double spaceLeft = paper_.height() - page_.bottomMargin - position_;
        const double printableHeight = paper_.height() - page_.topMargin - page_.bottomMargin;
        // A band that could fit no page prints where it is.
        if (spaceLeft < band.height && band.height <= printableHeight)
            startPage();
    }
    drawBand(band);
    position_ += band.advance();
}

void ReportRenderer::startPage()
{
    if (stage_ == Stage::Page)
        finishPage();
    ++pageCount_;
    canvas_ = output_->beginPage(pageCount_);
    stage_ = Stage::Page;
    position_ = page_.topMargin;
    checkStage();
    // The first page's column header follows the title; later pages open with it.
    if (pageCount_ > 1)
        if (const ReportBand *header = layout_.band(BandKind::ColumnHeader))
            printBand(*header);
}

void ReportRenderer::finishPage()
{
    position_ = paper_.height() - page_.bottomMargin;
    stage_ = Stage::Open;
    canvas_ = nullptr;
    checkStage();
    output_->endPage();
}

void ReportRenderer::checkStage() const
{
#ifndef QT_NO_DEBUG
    switch (stage_) {
    case Stage::Idle:
        Q_ASSERT(!output_ && !canvas_);
        break;
    case Stage::Open:
        Q_ASSERT(output_ && !canvas_);
        break;
    case Stage::Page:
        Q_ASSERT(output_ && pageCount_ >= 1);
        break;
    }
#endif
}

double ReportRenderer::leftEdge() const
{
    // The report has one column, so every band starts at the left margin.
    return page_.leftMargin;
}

int ReportRenderer::pixelX(double x) const
{
    return static_cast<int>(std::lround((x - unprintable_.x()) * canvas_->dpiX() / NativeUnitsPerInch));
}

int ReportRenderer::pixelY(double y) const
{
    return static_cast<int>(std::lround((y - unprintable_.y()) * canvas_->dpiY() / NativeUnitsPerInch));
}

void ReportRenderer::drawBand(const ReportBand &band)
{
    // A page outside the printed range is laid out all the same, but drawn nowhere.
    if (!canvas_)
        return;
    const int left = pixelX(leftEdge());
    const int top = pixelY(position_);
    const QRect area(QPoint(left, top),
                     QSize(pixelX(leftEdge() + band.width) - left, pixelY(position_ + band.height) - top));
    canvas_->fillRect(area, band.color);
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
    QStringList lines;
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        text.remove(QLatin1Char('\n'));
        lines = text.split(QLatin1Char('\r'));
    } else {
        lines << text;   // the common case, without splitting
    }

    canvas_->setFont(p.font);
    const int lineHeight = canvas_->lineHeight();
    int width = 0;
    if (p.autoSize) {
        for (const QString &line : lines)
            width = std::max(width, canvas_->textWidth(line));
        width += 1;
    } else {
        width = static_cast<int>(std::lround(p.width * canvas_->dpiX() / NativeUnitsPerInch));
    }
    const int height = std::max(static_cast<int>(std::lround(p.height * canvas_->dpiY() / NativeUnitsPerInch)),
                                lineHeight + 1);

    double left = p.left;
    if (p.alignment == PrintableAlignment::Center) {
        const double widthNative = width * NativeUnitsPerInch / canvas_->dpiX();
        left = p.alignToBand ? (band.width - widthNative) / 2 : p.left + (p.width - widthNative) / 2;
    }
    const QPoint topLeft(pixelX(leftEdge() + left), pixelY(position_ + p.top));

    if (!p.transparent)
        canvas_->fillRect(QRect(topLeft, QSize(width, height)), p.color);
    // As many lines as the box holds, the first always; never clipped.
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0 && (i + 1) * lineHeight > height)
            break;
        canvas_->drawText(QPoint(topLeft.x(), topLeft.y() + i * lineHeight), lines.at(i));
    }
}

void ReportRenderer::drawShape(const Printable &p)
{
    const double x = leftEdge() + p.left;
    const int y = pixelY(position_ + p.top + p.height / 2);
    canvas_->drawLine(QPoint(pixelX(x), y), QPoint(pixelX(x + p.width), y));
}

qsizetype ReportRenderer::detailCount() const
{
    if (!query_ || !query_->active())
        return 1;
    return query_->recordCount();
}

const Field *ReportRenderer::boundField(const Printable &p) const
{
    // Looked up by name once per opening of the result set, not once a row.
    auto it = boundFields_.find(&p);
    if (it == boundFields_.end() || it->second.first != query_->openings())
        it = boundFields_.insert_or_assign(&p, std::make_pair(query_->openings(), query_->findField(p.content))).first;
    return it->second.second;
}

QString ReportRenderer::textOf(const Printable &p) const
{
    switch (p.kind) {
    case PrintableKind::Text:
        return p.content;
    case PrintableKind::BoundText: {
        if (!query_ || !query_->active())
            return QString();
        const Field *field = boundField(p);
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
        return QString::number(pageCount_);
    case PrintableKind::SystemDetailCount:
        return QString::number(detailCount());
    case PrintableKind::Shape:
        break;
    }
    return QString();
}

} // namespace zeplo
