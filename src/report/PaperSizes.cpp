#include "report/PaperSizes.h"

#include <QList>
#include <QSizeF>

#include <cmath>

#include "engine/Error.h"

namespace zeplo {

const std::array<PaperSizeInfo, StandardPaperSizeCount> &standardPaperSizes()
{
    static const std::array<PaperSizeInfo, StandardPaperSizeCount> sizes = {{
        {PaperSize::Letter, "Letter", 2159, 2794},
        {PaperSize::LetterSmall, "Letter Small", 2159, 2794},
        {PaperSize::Tabloid, "Tabloid", 2794, 4318},
        {PaperSize::Ledger, "Ledger", 4318, 2794},
        {PaperSize::Legal, "Legal", 2159, 3556},
        {PaperSize::Statement, "Statement", 1397, 2159},
        {PaperSize::Executive, "Executive", 1841, 2667},
        {PaperSize::A3, "A3", 2970, 4200},
        {PaperSize::A4, "A4", 2100, 2970},
        {PaperSize::A4Small, "A4 Small", 2100, 2970},
        {PaperSize::A5, "A5", 1480, 2100},
        {PaperSize::B4, "B4", 2500, 3540},
        {PaperSize::B5, "B5", 1820, 2570},
        {PaperSize::Folio, "Folio", 2159, 3302},
        {PaperSize::Quarto, "Quarto", 2150, 2750},
        {PaperSize::Size10x14, "10 x 14 in", 2540, 3556},
        {PaperSize::Size11x17, "11 x 17 in", 2794, 4318},
        {PaperSize::Note, "Note", 2159, 2794},
        {PaperSize::Envelope9, "Envelope #9", 984, 2254},
        {PaperSize::Envelope10, "Envelope #10", 1048, 2413},
        {PaperSize::Envelope11, "Envelope #11", 1143, 2635},
        {PaperSize::Envelope12, "Envelope #12", 1206, 2794},
        {PaperSize::Envelope14, "Envelope #14", 1270, 2921},
        {PaperSize::CSheet, "C size sheet", 4318, 5588},
        {PaperSize::DSheet, "D size sheet", 5588, 8636},
        {PaperSize::ESheet, "E size sheet", 8636, 11176},
    }};
    return sizes;
}

const PaperSizeInfo &paperSizeInfo(PaperSize id)
{
    const int index = int(id) - 1;
    if (index < 0 || index >= StandardPaperSizeCount)
        throw Error(QStringLiteral("Unknown paper size %1").arg(int(id)));
    return standardPaperSizes()[std::size_t(index)];
}

QPageSize pageSizeFor(PaperSize id)
{
    const PaperSizeInfo &info = paperSizeInfo(id);
    // A near-enough standard size is what a printer recognises; the others
    // stay custom sizes with our name.
    return QPageSize(QSizeF(info.width / 10.0, info.height / 10.0), QPageSize::Millimeter,
                     QString::fromLatin1(info.name), QPageSize::FuzzyMatch);
}

PaperMatch recognisePaper(double widthMm, double heightMm)
{
    PaperMatch match;
    if (!std::isfinite(widthMm) || !std::isfinite(heightMm) || widthMm <= 0 || heightMm <= 0)
        return match;
    const auto quarter = [](double mm) { return static_cast<long long>(std::trunc(mm / 4.0)); };
    const long long w = quarter(widthMm);
    const long long h = quarter(heightMm);
    for (const PaperSizeInfo &size : standardPaperSizes()) {
        const long long sw = quarter(size.width / 10.0);
        const long long sh = quarter(size.height / 10.0);
        if (w == sw && h == sh) {
            match = PaperMatch{true, size.id, QPageLayout::Portrait};
        } else if (w == sh && h == sw) {
            match = PaperMatch{true, size.id, QPageLayout::Landscape};
        }
    }
    return match;
}

LoadedPaper recogniseLoadedPaper(double widthMm, double heightMm)
{
    LoadedPaper paper;
    QSizeF mm(widthMm, heightMm);
    const PaperMatch match = recognisePaper(mm.width(), mm.height());
    if (match.found) {
        const PaperSizeInfo &known = paperSizeInfo(match.id);
        paper.recognised = true;
        paper.size = pageSizeFor(match.id);
        paper.orientation = match.orientation;
        mm = QSizeF(known.width / 10.0, known.height / 10.0);
        if (match.orientation == QPageLayout::Landscape)
            mm.transpose();
    } else {
        // A paper outside the standard list keeps its own measure.
        const bool landscape = mm.width() > mm.height();
        paper.size = QPageSize(landscape ? mm.transposed() : mm, QPageSize::Millimeter);
        paper.orientation = landscape ? QPageLayout::Landscape : QPageLayout::Portrait;
    }
    paper.mm = mm;
    return paper;
}

namespace {

bool samePaper(const QPageSize &a, const QPageSize &b)
{
    if (a.id() != QPageSize::Custom && a.id() == b.id())
        return true;
    const QSizeF sa = a.size(QPageSize::Millimeter);
    const QSizeF sb = b.size(QPageSize::Millimeter);
    return std::abs(sa.width() - sb.width()) < 1.0 && std::abs(sa.height() - sb.height()) < 1.0;
}

} // namespace

QPageSize choosePaper(const QPageSize &wanted, bool printerKnown, const QList<QPageSize> &offered,
                      const QPageSize &printerPaper)
{
    if (!printerKnown)
        return wanted;
    for (const QPageSize &size : offered)
        if (samePaper(size, wanted))
            return wanted;
    return printerPaper.isValid() ? printerPaper : wanted;
}

QSizeF sheetMm(const QPageSize &paper, bool landscape)
{
    const QSizeF mm = paper.size(QPageSize::Millimeter);
    return landscape ? mm.transposed() : mm;
}

} // namespace zeplo
