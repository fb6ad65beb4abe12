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
//
// Its stages, and what moves between them:
//
//   stage   holds                                      entered by               left by
//   Idle    no output, no canvas; the counts of the    construction; the end    render() -> Open
//           last rendering                             of render(), however
//                                                      it ends
//   Open    the output, whose document is being        render(); finishPage()   startPage() -> Page; the end of
//           opened, walked or closed; no page in                                render() -> Idle
//           progress, so no canvas
//   Page    a page begun on the output: its canvas     startPage()              finishPage() -> Open; the end
//           (none for a page drawn nowhere), the                                of render() -> Idle, the document
//           position on it; at least one page begun                             abandoned
//
// checkStage() asserts each stage's invariants after every transition (in the
// Debug builds).
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

    bool busy() const { return stage_ != Stage::Idle; }
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
    void checkStage() const;   // Q_ASSERT only: compiled out of release builds
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

    enum class Stage { Idle, Open, Page };
    Stage stage_ = Stage::Idle;
    bool cancelled_ = false;
    int pageCount_ = 0;
    int detailNumber_ = 0;

    // One rendering's state.
    ReportOutput *output_ = nullptr;
    Canvas *canvas_ = nullptr; // null for a page drawn nowhere
    PageSettings page_;
    QSizeF paper_;
    QPointF unprintable_;
    double position_ = 0;
};

} // namespace zeplo
