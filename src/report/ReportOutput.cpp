#include "report/ReportOutput.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

#include "engine/Error.h"
#include "report/EmfWriter.h"
#include "report/PageStore.h"

namespace zeplo {

namespace {

constexpr double NativePerMm = 10.0;

} // namespace

bool pageInRange(int number, int firstPage, int lastPage)
{
    if (firstPage > 0 && number < firstPage)
        return false;
    if (lastPage > 0 && number > lastPage)
        return false;
    return true;
}

int screenDpi()
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            const int dpi = static_cast<int>(std::lround(screen->logicalDotsPerInch()));
            if (dpi > 0)
                return dpi;
        }
    }
    return 96;
}

// ---- page pictures -------------------------------------------------------

PagePictureOutput::PagePictureOutput(PageStore &store, int dpi) : store_(store), dpi_(dpi > 0 ? dpi : 96) {}

PagePictureOutput::~PagePictureOutput() = default;

void PagePictureOutput::applySettings(const PageSettings &page, const QString &printerName)
{
    // The preview shows the pages as the selected printer would print them.
    const QPageSize wanted = pageSizeFor(page.paper);
    const QPageSize paper = paperLookup ? paperLookup(printerName, wanted) : wanted;
    paper_ = sheetMm(paper, page.landscape) * NativePerMm;
}

QSize PagePictureOutput::pagePixels() const
{
    return QSize(static_cast<int>(std::lround(paper_.width() * dpi_ / NativeUnitsPerInch)),
                 static_cast<int>(std::lround(paper_.height() * dpi_ / NativeUnitsPerInch)));
}

void PagePictureOutput::openDocument()
{
    store_.begin();
}

Canvas *PagePictureOutput::beginPage(int)
{
    canvas_ = std::make_unique<EmfCanvas>(pagePixels(), dpi_);
    return canvas_.get();
}

void PagePictureOutput::endPage()
{
    if (!canvas_)
        return;
    const QByteArray picture = canvas_->finish();
    canvas_.reset();
    store_.appendPage(picture);
    if (pageFinished)
        pageFinished(store_.pageCount());
}

void PagePictureOutput::closeDocument()
{
    canvas_.reset();
    store_.finish();
}

void PagePictureOutput::abandonDocument() noexcept
{
    canvas_.reset();
    store_.setCancelled(true);
    try {
        store_.finish();
    } catch (...) {
        // The store is thrown away by its owner; nothing more to tidy.
    }
}

} // namespace zeplo
