#pragma once

#include <QColor>
#include <QString>

#include <array>
#include <vector>

#include "report/Canvas.h"
#include "report/PaperSizes.h"

namespace zeplo {

// Every length of the report is held in native units: tenths of a millimetre.
constexpr double NativeUnitsPerInch = 254.0;

enum class BandKind { Title, ColumnHeader, Detail, Summary };

enum class PrintableKind {
    Text,            // a fixed caption
    BoundText,       // a column of the current row
    SystemDate,      // today's date in the short date format
    SystemPageNumber,
    SystemDetailCount,
    Shape,           // a horizontal line
};

enum class PrintableAlignment { Left, Center };

enum class OutputBin { Auto };

struct PageSettings {
    PaperSize paper = PaperSize::A4;
    bool landscape = false;
    double paperLength = 2970;
    double paperWidth = 2100;
    double topMargin = 100;
    double bottomMargin = 100;
    double leftMargin = 100;
    double rightMargin = 100;
    int columns = 1;
    double columnSpacing = 0;
    int copies = 1;
    OutputBin bin = OutputBin::Auto;
    int firstPage = 0; // 0 and 0: every page
    int lastPage = 0;
    QString title; // also the print job's name
    bool printIfEmpty = true;
    bool pageHeaderOnFirstPage = true;
    bool pageFooterOnLastPage = true;
    bool showProgress = true;
    bool pageFrame = false;
    ReportFont font;

    // The stored geometry: bottom margin, paper length, top margin, paper
    // width, left margin, right margin, column spacing.
    std::array<double, 7> geometry() const;
};

struct Printable {
    QString name;
    PrintableKind kind = PrintableKind::Text;
    QString content; // the caption, or the column of a bound text
    double left = 0; // from the band's top-left corner
    double top = 0;
    double width = 0; // at design; texts are sized to what they print
    double height = 0;
    PrintableAlignment alignment = PrintableAlignment::Left;
    bool alignToBand = false; // centred on the band rather than on its own box
    ReportFont font;
    bool autoSize = true;
    bool transparent = false;
    QColor color = Qt::white;

    // The stored form: height, left, top, width.
    std::array<double, 4> geometry() const { return {height, left, top, width}; }
};

struct ReportBand {
    QString name;
    BandKind kind = BandKind::Detail;
    double height = 0;
    double width = 0;
    QColor color = Qt::white;
    bool frame = false;
    bool forceNewPage = false;
    bool alignToBottom = false;
    std::vector<Printable> printables; // in drawing order

    // The stored form: height, width.
    std::array<double, 2> geometry() const { return {height, width}; }
    // What the position advances by when the band has printed.
    int advance() const;
};

// The report's definition as data: the page and the bands in printing order.
struct ReportLayout {
    PageSettings page;
    std::vector<ReportBand> bands;

    const ReportBand *band(BandKind kind) const;
    const ReportBand *band(const QString &name) const;
    const Printable *printable(const QString &name) const;
    double printableHeight() const { return page.paperLength - page.topMargin - page.bottomMargin; }
};

// The colour of window text as the system gives it; black where the system's
// colour could not be read on the report's white boxes (a dark theme).
QColor windowTextColor();

} // namespace zeplo
