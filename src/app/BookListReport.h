#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

#include "report/ReportLayout.h"
#include "report/ReportOutput.h"
#include "report/ReportRenderer.h"

class QWidget;

namespace zeplo {

class ResultSet;
class ReportPreview;
class PageStore;
struct LoadedPaper;

// The report holder: the book list's definition over the main result set and
// the printer settings that last for the run. Created once at start-up,
// hidden; the preview renders it into page pictures, printing onto a printer.
class BookListReport : public QObject {
    Q_OBJECT

public:
    explicit BookListReport(ResultSet *query, QObject *parent = nullptr);
    ~BookListReport() override;

    const ReportLayout &layout() const { return layout_; }
    ResultSet *query() const { return query_; }

    // Printer, copies, orientation and page range; changed only by the
    // printer set-up, kept for every later rendering of the run.
    PrinterSettings &printerSettings() { return printer_; }
    const PrinterSettings &printerSettings() const { return printer_; }

    // Lays the report out over the result set onto `output`. Does nothing and
    // returns false while a rendering is running.
    bool render(ReportOutput &output);
    // Whether a rendering is walking the result set now; nothing else may
    // move or change the set meanwhile.
    bool busy() const { return renderer_.busy(); }
    void cancel() { renderer_.cancel(); }
    bool cancelled() const { return renderer_.cancelled(); }
    int pageCount() const { return renderer_.pageCount(); }

    // "&Tisk": opens the preview, renders the report into it and returns once
    // the preview has closed. Does nothing while a rendering runs or a preview
    // is open.
    void preview();
    ReportPreview *previewWindow() const;
    // The window whose closing ends the program; the preview closes with it.
    // Without one, the parent's window, else the window active at "&Tisk".
    void setMainWindow(QWidget *window);
    // The preview's printer set-up: the print dialog over the report's
    // settings, which take the choices on OK.
    void printerSetup(int pageCount);
    // The preview's print request, handled from the message queue: the
    // report rendered again onto the printer.
    void printRequested();
    // Printing pages loaded from a file, as they are.
    void printLoaded(std::shared_ptr<PageStore> store, const LoadedPaper &paper);

signals:
    // A walk of the result set begins (true) or ends, finished, cancelled or
    // failed (false).
    void walkingChanged(bool walking);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ReportLayout layout_;   // its parts found by name: layout().printable("QRLabel1")
    ResultSet *query_;
    PrinterSettings printer_;
    ReportRenderer renderer_;

    void previewClosing();
    QWidget *ownerWindow() const;

    QPointer<ReportPreview> preview_;
    QPointer<QWidget> mainWindow_;
    QPointer<QWidget> watched_;
    bool renderingPreview_ = false;
    bool printingLoaded_ = false;
    bool cancelLoadedPrint_ = false;
};

} // namespace zeplo
