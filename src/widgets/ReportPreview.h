#pragma once

#include <QMainWindow>
#include <QPageSize>
#include <QPointer>
#include <QSizeF>

#include <functional>
#include <memory>

#include "report/PaperSizes.h"
#include "widgets/ToolbarIcons.h"

class QAction;
class QActionGroup;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolBar;

namespace zeplo {

class PageStore;
class PreviewSheet;

// The print preview: a top-level window, not modal, that shows the pages of
// a page store one at a time while they are still being made, and from which
// they are printed, saved and replaced by a saved report.
class ReportPreview : public QMainWindow {
    Q_OBJECT

public:
    enum class ZoomMode { FitPage, PageWidth, Other };

    explicit ReportPreview(QWidget *parent = nullptr);
    ~ReportPreview() override;

    // The pages to show. The preview shares the store with whoever fills it.
    void setStore(std::shared_ptr<PageStore> store);
    const std::shared_ptr<PageStore> &store() const { return store_; }
    // Size of the paper the pages are laid out on, in millimetres.
    void setPaperMm(const QSizeF &paper);
    QSizeF paperMm() const { return paperMm_; }
    const LoadedPaper &loadedPaper() const { return loadedPaper_; }

    // What the preview asks of the report it shows. All optional.
    struct Host {
        // Pages begun by the rendering, the one still being made included.
        std::function<int()> pagesBegun;
        // The preview is closing: told synchronously, before the store goes.
        std::function<void()> closing;
        // The current store is about to be replaced by a loaded one.
        std::function<void()> discardingStore;
        // "Printer setup", with the page count of the finished preview.
        std::function<void(int pageCount)> printerSetup;
        // "Print" on pages that came from the report.
        std::function<void()> printReport;
        // "Print" on pages loaded from a file.
        std::function<void(std::shared_ptr<PageStore>, const LoadedPaper &)> printLoaded;
    };
    void setHost(Host host) { host_ = std::move(host); }

    // State, for those who watch it.
    int currentPage() const { return current_; }
    bool pageShown() const { return shown_; }
    int zoom() const { return zoom_; }
    ZoomMode zoomMode() const { return mode_; }
    // Pages counted by the page buttons: every page begun.
    int pageCount() const;
    // The page at 100 % in screen pixels (W and H).
    QSize pagePixels() const;
    // The space the sheet is placed in (w and h).
    QSize pageAreaSize() const;
    bool closed() const { return closed_; }

    // Zoom commands (the buttons).
    void zoomToFit();
    void zoomTo100();
    void zoomToWidth();
    // Page commands (the buttons and keys); each rewrites the page panel.
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    void updatePagePanel();

    // The steps after the save and load dialogs.
    void saveToFile(const QString &path);
    void loadFromFile(const QString &path);

    // Notices from the rendering, queued through the message loop.
    void pageNotice(int availablePages);
    void progressNotice(int percent);

signals:
    // The window has been closed; the store is gone.
    void previewClosed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QAction *addTool(ToolbarPicture picture, const QString &hint, const QString &name);
    bool handleKey(int key, Qt::KeyboardModifiers modifiers);
    void setZoom(int percent);
    void recomputeZoom();
    void goToPage(int number);
    void showCurrentPage();
    void placeSheet();
    void scrollHome();
    void enablePrinting();
    void saveReportClick();
    void loadReportClick();
    void printerSetupClick();
    void printClick();

    // Controls; each carries its toolbar name as its object name.
    QToolBar *toolBar_;
    QActionGroup *zoomGroup_;
    QAction *fitPageAction_;
    QAction *actualSizeAction_;
    QAction *pageWidthAction_;
    QAction *firstPageAction_;
    QAction *previousPageAction_;
    QAction *nextPageAction_;
    QAction *lastPageAction_;
    QAction *printerSetupAction_;
    QAction *printAction_;
    QAction *saveAction_;
    QAction *loadAction_;
    QPushButton *closeButton_;
    QScrollArea *pageArea_;
    PreviewSheet *sheet_;
    QLabel *progressPanel_;
    QLabel *pagePanel_;

    std::shared_ptr<PageStore> store_;
    Host host_;
    QSizeF paperMm_{210, 297};
    LoadedPaper loadedPaper_;
    int current_ = 1;
    bool shown_ = false;
    bool everShown_ = false;
    int zoom_ = 100;
    ZoomMode mode_ = ZoomMode::PageWidth;
    int lastProgress_ = 0;
    bool closed_ = false;
};

} // namespace zeplo
