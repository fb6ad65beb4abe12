#pragma once

#include <QPainter>
#include <QPageSize>
#include <QString>

#include <memory>

#include "report/ReportOutput.h"

class QPrinter;

namespace zeplo {

class PainterCanvas;

// The report's first printer choices: the default printer, one copy,
// portrait, every page.
PrinterSettings initialPrinterSettings();

// The paper an installed printer (the default printer for an empty or unknown
// name) uses for the wanted one; the wanted paper when no printer is installed.
QPageSize paperForPrinter(const QString &printerName, const QPageSize &wanted);

// Straight onto a printer's pages. Pages outside the page range are laid out
// but drawn nowhere; a new printer page separates two printed pages.
class PrinterOutput : public ReportOutput {
public:
    explicit PrinterOutput(QPrinter &printer);
    ~PrinterOutput() override;

    void applySettings(const PageSettings &page, const QString &printerName) override;
    QSizeF paper() const override;
    QPointF unprintableMargin() const override;
    void openDocument() override;
    Canvas *beginPage(int number) override;
    void endPage() override;
    void closeDocument() override;
    void abandonDocument() noexcept override;
    bool keepsPagesWhenCancelled() const override { return true; }

    int pagesPrinted() const { return printed_; }

private:
    QPrinter &printer_;
    QPainter painter_;
    std::unique_ptr<PainterCanvas> canvas_;
    int firstPage_ = 0;
    int lastPage_ = 0;
    int printed_ = 0;
};

} // namespace zeplo
