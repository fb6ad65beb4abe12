#pragma once

#include <QPoint>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include "report/ReportLayout.h"
#include "report/ReportOutput.h"

namespace zeplo {

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

    bool busy() const { return m_busy; }
    // Stops the rendering before its next row.
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }
    // Pages begun by the current (or last) rendering.
    int pageCount() const { return m_pageCount; }
    int detailNumber() const { return m_detailNumber; }

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
    qsizetype detailCount() const;

    int pixelX(double x) const;
    int pixelY(double y) const;
    double leftEdge() const;

    const ReportLayout &m_layout;
    ResultSet *m_query;

    bool m_busy = false;
    bool m_cancelled = false;
    int m_pageCount = 0;
    int m_detailNumber = 0;

    // One rendering's state.
    ReportOutput *m_output = nullptr;
    Canvas *m_canvas = nullptr; // null for a page drawn nowhere
    PageSettings m_page;
    QSizeF m_paper;
    QPointF m_unprintable;
    bool m_pageInProgress = false;
    double m_position = 0;
};

} // namespace zeplo
