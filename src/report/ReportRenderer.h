#pragma once

#include <unordered_map>
#include <utility>

#include <QPointF>
#include <QSizeF>
#include <QString>

#include "report/ReportLayout.h"
#include "report/ReportOutput.h"

namespace zeplo {

class Field;
class ResultSet;

// Lays a report out over the rows of a result set, page by page, onto an
// output. One rendering runs inside one call and hands control to the message
// loop before each row, so the caller's windows stay alive meanwhile.
class ReportRenderer {
public:
    ReportRenderer(const ReportLayout &layout, ResultSet *query);
    ReportRenderer(const ReportRenderer &) = delete;
    ReportRenderer &operator=(const ReportRenderer &) = delete;

    // Renders the whole report; returns false, doing nothing, while another
    // rendering is running. Errors of the result set go on to the caller after
    // the output document has been dropped; the renderer stays usable.
    // The result set is left on its last row.
    bool render(ReportOutput &output, const PrinterSettings &printer);

    bool busy() const { return busy_; }
    // Stops the rendering before its next row.
    void cancel() { cancelled_ = true; }
    bool cancelled() const { return cancelled_; }
    // Pages begun by the current (or last) rendering.
    int pageCount() const { return pageCount_; }
    int detailNumber() const { return detailNumber_; }

private:
    void walk();
    void printEmptyReport();
    void printBand(const ReportBand &band);
    void drawBand(const ReportBand &band);
    void drawText(const ReportBand &band, const Printable &printable);
    void drawShape(const Printable &printable);
    void startPage();
    void finishPage();
    void endDocument();
    QString textOf(const Printable &printable) const;
    const Field *boundField(const Printable &printable) const;
    qsizetype detailCount() const;

    int pixelX(double x) const;
    int pixelY(double y) const;
    double leftEdge() const;

    const ReportLayout &layout_;
    ResultSet *query_;
    // Bound printables' fields, with the opening of the result set they belong to.
    mutable std::unordered_map<const Printable *, std::pair<quint64, const Field *>> boundFields_;

    bool busy_ = false;
    bool cancelled_ = false;
    int pageCount_ = 0;
    int detailNumber_ = 0;

    // One rendering's state.
    ReportOutput *output_ = nullptr;
    Canvas *canvas_ = nullptr; // null for a page drawn nowhere
    PageSettings page_;
    QSizeF paper_;
    QPointF unprintable_;
    bool pageInProgress_ = false;
    double position_ = 0;
};

} // namespace zeplo
