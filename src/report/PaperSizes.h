#pragma once

#include <QPageLayout>
#include <QPageSize>
#include <QSizeF>
#include <QString>

#include <array>

namespace zeplo {

// The standard paper sizes of the printer layer, numbered as printer drivers
// number them.
enum class PaperSize : int {
    Letter = 1,
    LetterSmall,
    Tabloid,
    Ledger,
    Legal,
    Statement,
    Executive,
    A3,
    A4,
    A4Small,
    A5,
    B4,
    B5,
    Folio,
    Quarto,
    Size10x14,
    Size11x17,
    Note,
    Envelope9,
    Envelope10,
    Envelope11,
    Envelope12,
    Envelope14,
    CSheet,
    DSheet,
    ESheet,
};

struct PaperSizeInfo {
    PaperSize id;
    const char *name;
    int width; // tenths of a millimetre, upright
    int height;
};

constexpr int StandardPaperSizeCount = 26;

// The sizes in the order in which paper recognition tries them.
const std::array<PaperSizeInfo, StandardPaperSizeCount> &standardPaperSizes();
const PaperSizeInfo &paperSizeInfo(PaperSize id);

// The page size to ask a printer for.
QPageSize pageSizeFor(PaperSize id);

struct PaperMatch {
    bool found = false;
    PaperSize id = PaperSize::A4;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
};

// Finds the standard size of a page from its width and height in millimetres.
// Every side is divided by 4 and truncated before comparing, which absorbs the
// rounding of a page picture's size. Sizes are tried in order and the last one
// that fits wins, upright (portrait) or on its side (landscape).
PaperMatch recognisePaper(double widthMm, double heightMm);

// The paper of pages loaded from a file, told from the first page picture's
// size: a standard paper when recognised, otherwise a paper of the pictures'
// own measure, turned when it is wider than high.
struct LoadedPaper {
    bool recognised = false;
    QPageSize size; // upright
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QSizeF mm;      // the sheet as it lies: the standard measure when recognised
};
LoadedPaper recogniseLoadedPaper(double widthMm, double heightMm);

// The paper to lay out on: the one asked for when the printer offers it (or
// when there is no printer to ask), otherwise the printer's own paper. Papers
// a driver names its own way still match when they measure the same.
QPageSize choosePaper(const QPageSize &wanted, bool printerKnown, const QList<QPageSize> &offered,
                      const QPageSize &printerPaper);

// The sheet's width and height in millimetres as it lies: turned for landscape.
QSizeF sheetMm(const QPageSize &paper, bool landscape);

} // namespace zeplo
