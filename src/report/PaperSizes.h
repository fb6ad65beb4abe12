#pragma once

#include <QPageLayout>
#include <QPageSize>
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

} // namespace zeplo
