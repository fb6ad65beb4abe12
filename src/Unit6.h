#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

#include "report/ReportLayout.h"
#include "report/ReportOutput.h"
#include "report/ReportRenderer.h"

class QWidget;

namespace zeplo {
class TQuery;
class TQRPreview;
class PageStore;
struct LoadedPaper;
}

// The report holder: the book list's definition over the main result set and
// the printer settings that last for the run. Created once at start-up,
// hidden; the preview renders it into page pictures, printing onto a printer.
class TTisk : public QObject {
    Q_OBJECT

    // Declared first: the named members below point into it.
    zeplo::ReportLayout m_layout;

public:
    explicit TTisk(zeplo::TQuery *query, QObject *parent = nullptr);
    ~TTisk() override;

    // The bands and printables of the definition, by their names.
    const zeplo::ReportBand *QRBand1;
    const zeplo::ReportBand *QRBand2;
    const zeplo::ReportBand *QRBand3;
    const zeplo::ReportBand *QRBand4;
    const zeplo::Printable *QRLabel1;
    const zeplo::Printable *QRLabel2;
    const zeplo::Printable *QRSysData1;
    const zeplo::Printable *QRLabel3;
    const zeplo::Printable *QRLabel4;
    const zeplo::Printable *QRLabel5;
    const zeplo::Printable *QRLabel6;
    const zeplo::Printable *QRLabel9;
    const zeplo::Printable *QRSysData2;
    const zeplo::Printable *QRShape1;
    const zeplo::Printable *QRDBText1;
    const zeplo::Printable *QRDBText2;
    const zeplo::Printable *QRDBText3;
    const zeplo::Printable *QRDBText4;
    const zeplo::Printable *QRLabel10;
    const zeplo::Printable *QRLabel11;
    const zeplo::Printable *QRSysData3;

    const zeplo::ReportLayout &layout() const { return m_layout; }
    zeplo::TQuery *query() const { return m_query; }

    // Printer, copies, orientation and page range; changed only by the
    // printer set-up, kept for every later rendering of the run.
    zeplo::PrinterSettings &printerSettings() { return m_printer; }
    const zeplo::PrinterSettings &printerSettings() const { return m_printer; }

    // Lays the report out over the result set onto `output`. Does nothing and
    // returns false while a rendering is running.
    bool render(zeplo::ReportOutput &output);
    bool busy() const { return m_renderer.busy(); }
    void cancel() { m_renderer.cancel(); }
    bool cancelled() const { return m_renderer.cancelled(); }
    int pageCount() const { return m_renderer.pageCount(); }

    // "&Tisk": opens the preview, renders the report into it and returns once
    // the preview has closed. Does nothing while a rendering runs or a preview
    // is open.
    void Preview();
    zeplo::TQRPreview *previewWindow() const;
    // The window whose closing ends the program; the preview closes with it.
    // Without one, the parent's window, else the window active at "&Tisk".
    void setMainWindow(QWidget *window);
    // The preview's printer set-up: the print dialog over the report's
    // settings, which take the choices on OK.
    void PrinterSetup(int pageCount);
    // The preview's print request, handled from the message queue: the
    // report rendered again onto the printer.
    void PrintRequest();
    // Printing pages loaded from a file, as they are.
    void PrintLoaded(std::shared_ptr<zeplo::PageStore> store, const zeplo::LoadedPaper &paper);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    zeplo::TQuery *m_query;
    zeplo::PrinterSettings m_printer;
    zeplo::ReportRenderer m_renderer;

    void PreviewClosing();
    QWidget *ownerWindow() const;

    QPointer<zeplo::TQRPreview> m_preview;
    QPointer<QWidget> m_mainWindow;
    QPointer<QWidget> m_watched;
    bool m_renderingPreview = false;
    bool m_printingLoaded = false;
    bool m_cancelLoadedPrint = false;
};
