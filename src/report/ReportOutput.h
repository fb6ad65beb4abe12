#pragma once

#include <QList>
#include <QPageSize>
#include <QPainter>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>

#include "report/ReportLayout.h"

namespace zeplo {

class EmfCanvas;
class PageStore;

// The report's printer choices, kept for the whole run: at first the default
// printer, one copy, portrait, every page.
struct PrinterSettings {
    QString printerName;
    int copies = 1;
    bool landscape = false;
    int firstPage = 0; // 0 and 0: every page
    int lastPage = 0;

};

// Whether the page `number` (from 1) lies in the range first..last, where 0
// leaves that end open.
bool pageInRange(int number, int firstPage, int lastPage);

// Pixels per inch of the primary screen, 96 without a screen.
int screenDpi();

// Where the rendered pages go. A rendering applies the settings, opens the
// document, begins and ends each page, and then closes or abandons it.
class ReportOutput {
public:
    virtual ~ReportOutput() = default;

    // Paper size, orientation, copies, bin and page range; afterwards paper()
    // tells the paper that the layout is made for.
    virtual void applySettings(const PageSettings &page, const QString &printerName) = 0;
    // Width and length of the paper as it lies under the layout (turned for
    // landscape), in native units.
    virtual QSizeF paper() const = 0;
    // Offset of the device's origin from the paper's corner, in native units.
    virtual QPointF unprintableMargin() const { return {}; }

    virtual void openDocument() = 0;
    // The surface of page `number`; null when the page is laid out but not
    // sent anywhere.
    virtual Canvas *beginPage(int number) = 0;
    virtual void endPage() = 0;
    virtual void closeDocument() = 0;
    // Drops the document; must not throw, it runs on the way out of a failure.
    virtual void abandonDocument() noexcept = 0;
    // A cancelled printout still delivers the pages made so far; cancelled
    // page pictures are thrown away.
    virtual bool keepsPagesWhenCancelled() const = 0;

    // Told after each finished page: how many pages are now available.
    std::function<void(int)> pageFinished;
    // Told after each row: the progress in percent.
    std::function<void(int)> progress;
};

// One page picture per page, at the screen's resolution, into a page store.
// The store must outlive the rendering.
class PagePictureOutput : public ReportOutput {
public:
    explicit PagePictureOutput(PageStore &store, int dpi = screenDpi());
    ~PagePictureOutput() override;

    void applySettings(const PageSettings &page, const QString &printerName) override;
    QSizeF paper() const override { return paper_; }
    void openDocument() override;
    Canvas *beginPage(int number) override;
    void endPage() override;
    void closeDocument() override;
    void abandonDocument() noexcept override;
    bool keepsPagesWhenCancelled() const override { return false; }

    // The paper a printer would use for the wanted one, so that the pages look
    // as that printer would print them; unset, the wanted paper is used.
    std::function<QPageSize(const QString &printerName, const QPageSize &wanted)> paperLookup;

    int dpi() const { return dpi_; }
    // Size of every page picture in pixels.
    QSize pagePixels() const;

private:
    PageStore &store_;
    int dpi_;
    QSizeF paper_{2100, 2970};
    std::unique_ptr<EmfCanvas> canvas_;
};

} // namespace zeplo
