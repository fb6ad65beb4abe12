// The print preview: its window at rest, its zoom, and its pages as they
// arrive and as keys and buttons move through them.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolBar>

#include <cmath>
#include <memory>

#include "PreviewDriver.h"
#include "report/PageStore.h"
#include "widgets/PreviewSheet.h"
#include "widgets/ReportPreview.h"
#include "widgets/ToolbarIcons.h"

using namespace zeplo;

namespace {

int roundInt(double v)
{
    return int(std::lround(v));
}

} // namespace

// ---- the window at rest ---------------------------------------------------

TEST(PreviewWindow, StartsWithItsToolbarPanelsAndDisabledPrinting)
{
    ReportPreview preview;
    EXPECT_EQ(preview.windowTitle(), QStringLiteral("Print Preview"));
    EXPECT_EQ(child<QLabel>(preview, "ProgressPanel")->text(), QStringLiteral("0%"));
    EXPECT_EQ(child<QLabel>(preview, "PagePanel")->text(), QStringLiteral("Page"));
    EXPECT_EQ(child<QLabel>(preview, "ProgressPanel")->width(), 40);
    EXPECT_TRUE(child<QLabel>(preview, "ProgressPanel")->alignment() & Qt::AlignRight);

    QStringList items;
    for (QAction *a : child<QToolBar>(preview, "ToolBar1")->actions())
        items << (a->isSeparator() ? QStringLiteral("|") : a->toolTip());
    const QStringList expected = {
        QStringLiteral("|"), QStringLiteral("Zoom to fit"), QStringLiteral("100%"), QStringLiteral("Zoom to width"),
        QStringLiteral("|"), QStringLiteral("First page"), QStringLiteral("Previous page"), QStringLiteral("Next page"),
        QStringLiteral("Last page"), QStringLiteral("|"), QStringLiteral("Printer setup"), QStringLiteral("Print"),
        QStringLiteral("|"), QStringLiteral("Save Report"), QStringLiteral("Load Report"), QStringLiteral("|"),
        QString()};
    EXPECT_EQ(items, expected);
    EXPECT_EQ(child<QToolBar>(preview, "ToolBar1")->widgetForAction(child<QToolBar>(preview, "ToolBar1")->actions().last()), child<QPushButton>(preview, "CloseButton"));
    EXPECT_EQ(child<QPushButton>(preview, "CloseButton")->text(), QStringLiteral("&Close"));
    EXPECT_EQ(child<QPushButton>(preview, "CloseButton")->size(), QSize(40, 22));

    EXPECT_TRUE(child<QActionGroup>(preview, "ZoomGroup")->isExclusive());
    EXPECT_TRUE(child<QAction>(preview, "ZoomToWidth")->isChecked());
    EXPECT_FALSE(child<QAction>(preview, "ZoomToFit")->isChecked());
    EXPECT_EQ(preview.zoomMode(), ReportPreview::ZoomMode::PageWidth);
    EXPECT_FALSE(child<QAction>(preview, "PrinterSetup")->isEnabled());
    EXPECT_FALSE(child<QAction>(preview, "Print")->isEnabled());
    for (QAction *a : {child<QAction>(preview, "ZoomToFit"), child<QAction>(preview, "FirstPage"), child<QAction>(preview, "LastPage"), child<QAction>(preview, "SaveReport"), child<QAction>(preview, "LoadReport")})
        EXPECT_TRUE(a->isEnabled());
}

TEST(PreviewWindow, ToolbarPicturesAreDistinctAndDrawn)
{
    QVector<QImage> seen;
    for (int i = 0; i < ToolbarPictureCount; ++i) {
        const QImage image = toolbarPixmap(ToolbarPicture(i)).toImage();
        ASSERT_EQ(image.size(), QSize(16, 16));
        int inked = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                inked += qAlpha(image.pixel(x, y)) != 0;
        EXPECT_GT(inked, 10) << "picture " << i;
        EXPECT_FALSE(seen.contains(image)) << "picture " << i << " repeats another";
        seen << image;
    }
}

TEST(PreviewWindow, SheetDrawsBorderShadowAndThePage)
{
    PreviewSheet sheet;
    sheet.resize(104, 144);
    sheet.setPicture(a4Page(QStringLiteral("X")));
    QImage image(sheet.size(), QImage::Format_ARGB32);
    image.fill(Qt::green);
    sheet.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(image.pixelColor(0, 50), QColor(Qt::black)); // border
    EXPECT_EQ(image.pixelColor(101, 50), QColor(Qt::black)); // border, right
    EXPECT_EQ(image.pixelColor(102, 50), QColor(Qt::black)); // shadow
    EXPECT_EQ(image.pixelColor(103, 50), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(50, 143), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(50, 100), QColor(Qt::white)); // the page itself
    // The shadow is offset: the top-right corner beside the border is not shaded.
    EXPECT_EQ(image.pixelColor(103, 0), QColor(Qt::green));
    EXPECT_EQ(sheet.pageRect(), QRect(1, 1, 100, 140));
}

// ---- zoom -----------------------------------------------------------------

TEST(PreviewZoom, FormulasFollowThePageAndTheArea)
{
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    shown.load(finishedStore(2));
    // An A4 page at the offscreen screen's 96 dpi, in the area a 652 x 579 window leaves.
    EXPECT_EQ(p.pagePixels(), QSize(794, 1123));
    EXPECT_EQ(p.pageAreaSize(), QSize(650, 527));
    // The first page shown applies zoom to width: 90 % of the area's width.
    EXPECT_EQ(p.zoom(), 74);
    EXPECT_EQ(child<PreviewSheet>(p, "Sheet")->size(), QSize(592, 835));   // the page and a 2-pixel frame

    // Fit: 95 % of the area, bounded here by its height.
    child<QAction>(p, "ZoomToFit")->trigger();
    EXPECT_EQ(p.zoom(), 45);
    EXPECT_EQ(p.zoomMode(), ReportPreview::ZoomMode::FitPage);
    EXPECT_TRUE(child<QAction>(p, "ZoomToFit")->isChecked());
    EXPECT_FALSE(child<QAction>(p, "ZoomToWidth")->isChecked());
    EXPECT_EQ(child<PreviewSheet>(p, "Sheet")->size(), QSize(361, 509));

    child<QAction>(p, "ZoomTo100")->trigger();
    EXPECT_EQ(p.zoom(), 100);
    EXPECT_EQ(p.zoomMode(), ReportPreview::ZoomMode::Other);
    EXPECT_EQ(child<PreviewSheet>(p, "Sheet")->size(), QSize(798, 1127));

    // At 100 % the sheet outgrows the area: scrolled, then back to 0 on a page change.
    child<QScrollArea>(p, "PageArea")->verticalScrollBar()->setValue(200);
    child<QScrollArea>(p, "PageArea")->horizontalScrollBar()->setValue(20);
    p.nextPage();
    EXPECT_EQ(child<QScrollArea>(p, "PageArea")->verticalScrollBar()->value(), 0);
    EXPECT_EQ(child<QScrollArea>(p, "PageArea")->horizontalScrollBar()->value(), 0);
    child<QScrollArea>(p, "PageArea")->verticalScrollBar()->setValue(200);
    child<QAction>(p, "ZoomToWidth")->trigger();
    EXPECT_EQ(child<QScrollArea>(p, "PageArea")->verticalScrollBar()->value(), 0);
    EXPECT_EQ(p.zoom(), 74);

    // Smaller than the area: the sheet is centred.
    child<QAction>(p, "ZoomToFit")->trigger();
    settle();
    const QRect sheet = child<PreviewSheet>(p, "Sheet")->geometry();
    const QSize viewport = child<QScrollArea>(p, "PageArea")->viewport()->size();
    EXPECT_LE(std::abs(sheet.left() - (viewport.width() - sheet.width()) / 2), 1);
    EXPECT_LE(std::abs(sheet.top() - (viewport.height() - sheet.height()) / 2), 1);
}

TEST(PreviewZoom, ResizingRecomputesFitAndWidthButKeeps100)
{
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    shown.load(finishedStore(1));
    const int before = p.zoom();
    p.resize(900, 700);
    settle();
    EXPECT_EQ(p.zoomMode(), ReportPreview::ZoomMode::PageWidth);
    EXPECT_EQ(before, 74);
    EXPECT_EQ(p.zoom(), 102);

    child<QAction>(p, "ZoomToFit")->trigger();
    p.resize(500, 900);
    settle();
    EXPECT_EQ(p.zoom(), 60);   // bounded by the width now

    child<QAction>(p, "ZoomTo100")->trigger();
    p.resize(700, 500);
    settle();
    EXPECT_EQ(p.zoom(), 100);
}

TEST(PreviewZoom, StaysWithin2And2000)
{
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    shown.load(finishedStore(1));
    const int width = p.pagePixels().width();

    // Large enough for zoom to width to pass 2000 %: ignored, the zoom stays.
    p.resize(QSize(width * 23, 800));
    settle();
    ASSERT_GT(roundInt(double(p.pageAreaSize().width()) / width * 90), 2000);
    const int kept = p.zoom();
    EXPECT_LE(kept, 2000);
    child<QAction>(p, "ZoomToFit")->trigger(); // fit is bounded by the height here and allowed
    EXPECT_EQ(p.zoomMode(), ReportPreview::ZoomMode::FitPage);
    child<QAction>(p, "ZoomToWidth")->trigger();
    EXPECT_EQ(p.zoomMode(), ReportPreview::ZoomMode::PageWidth);
    EXPECT_GE(p.zoom(), 2);
    EXPECT_LE(p.zoom(), 2000);

    // Too small for 2 %: a window this much smaller than its page is the same
    // as a page this much larger than its window. Ignored as well, and the
    // mode is still set.
    p.resize(652, 579);
    settle();
    child<QAction>(p, "ZoomToFit")->trigger();
    const int fitBefore = p.zoom();
    p.setPaperMm(QSizeF(210 * 60, 297 * 60));
    const QSize area = p.pageAreaSize();
    const QSize huge = p.pagePixels();
    ASSERT_LT(std::min(roundInt(double(area.width()) / huge.width() * 95),
                       roundInt(double(area.height()) / huge.height() * 95)),
              2);
    EXPECT_EQ(p.zoom(), fitBefore);
    child<QAction>(p, "ZoomTo100")->trigger();
    child<QAction>(p, "ZoomToWidth")->trigger();
    EXPECT_EQ(p.zoomMode(), ReportPreview::ZoomMode::PageWidth);
    EXPECT_EQ(p.zoom(), 100);
    EXPECT_EQ(huge, QSize(47622, 67351));
    EXPECT_EQ(child<PreviewSheet>(p, "Sheet")->width(), 47626);
}

// ---- pages and keys -------------------------------------------------------

TEST(PreviewPages, KeysAndButtonsMoveThroughPages)
{
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    shown.load(finishedStore(5));
    QWidget *focus = child<QScrollArea>(p, "PageArea");
    focus->setFocus();
    EXPECT_EQ(p.currentPage(), 1);
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 5"));

    QTest::keyClick(focus, Qt::Key_PageDown);
    EXPECT_EQ(p.currentPage(), 2);
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 2 of 5"));
    QTest::keyClick(focus, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(p.currentPage(), 5);
    QTest::keyClick(focus, Qt::Key_PageUp);
    EXPECT_EQ(p.currentPage(), 4);
    QTest::keyClick(focus, Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(p.currentPage(), 1);
    // Ctrl counts only alone.
    QTest::keyClick(focus, Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(p.currentPage(), 2);
    QTest::keyClick(focus, Qt::Key_PageDown, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(p.currentPage(), 3);
    QTest::keyClick(focus, Qt::Key_PageUp, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(p.currentPage(), 2);
    QTest::keyClick(focus, Qt::Key_End);
    EXPECT_EQ(p.currentPage(), 5);
    QTest::keyClick(focus, Qt::Key_Home);
    EXPECT_EQ(p.currentPage(), 1);

    // The shown picture is that of the current page, and only that one.
    QTest::keyClick(focus, Qt::Key_PageDown);
    EXPECT_EQ(child<PreviewSheet>(p, "Sheet")->picture(), p.store()->page(2));

    // Buttons of the toolbar, clicked.
    QTest::mouseClick(child<QToolBar>(p, "ToolBar1")->widgetForAction(child<QAction>(p, "LastPage")), Qt::LeftButton);
    EXPECT_EQ(p.currentPage(), 5);
    QTest::mouseClick(child<QToolBar>(p, "ToolBar1")->widgetForAction(child<QAction>(p, "PrevPage")), Qt::LeftButton);
    EXPECT_EQ(p.currentPage(), 4);
    QTest::mouseClick(child<QToolBar>(p, "ToolBar1")->widgetForAction(child<QAction>(p, "FirstPage")), Qt::LeftButton);
    EXPECT_EQ(p.currentPage(), 1);
    QTest::mouseClick(child<QToolBar>(p, "ToolBar1")->widgetForAction(child<QAction>(p, "NextPage")), Qt::LeftButton);
    EXPECT_EQ(p.currentPage(), 2);
}

TEST(PreviewPages, IgnoredMovesStillRewriteThePanel)
{
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    shown.load(finishedStore(3));
    p.lastPage();
    child<QLabel>(p, "PagePanel")->setText(QStringLiteral("x"));
    p.nextPage();
    EXPECT_EQ(p.currentPage(), 3);
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 3 of 3"));
    p.firstPage();
    child<QLabel>(p, "PagePanel")->setText(QStringLiteral("x"));
    p.previousPage();
    EXPECT_EQ(p.currentPage(), 1);
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 3"));
}

TEST(PreviewPages, EscClosesAndTellsTheHostFirst)
{
    auto store = finishedStore(1);
    std::weak_ptr<PageStore> watch = store;
    ReportPreview preview;
    bool closingSawStore = false;
    bool closedSignal = false;
    ReportPreview::Host host;
    host.closing = [&] { closingSawStore = preview.store() != nullptr; };
    preview.setHost(host);
    preview.setStore(std::move(store));
    QObject::connect(&preview, &ReportPreview::previewClosed, [&] { closedSignal = true; });
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    QTest::keyClick(child<QScrollArea>(preview, "PageArea"), Qt::Key_Escape);
    EXPECT_TRUE(closingSawStore);
    EXPECT_TRUE(closedSignal);
    EXPECT_TRUE(preview.closed());
    EXPECT_FALSE(preview.isVisible());
    EXPECT_TRUE(watch.expired()); // the pages went with the window
}

TEST(PreviewPages, PagesArriveWhileStillBeingMade)
{
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    auto store = std::make_shared<PageStore>();
    int begun = 0;
    ReportPreview::Host host;
    host.pagesBegun = [&] { return begun; };
    p.setHost(host);
    p.setStore(store);
    p.updatePagePanel();
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 0"));

    store->begin();
    begun = 1;
    p.nextPage();
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 1"));
    EXPECT_FALSE(p.pageShown());

    store->appendPage(a4Page(QStringLiteral("1")));
    begun = 2;
    p.pageNotice(1);
    EXPECT_TRUE(p.pageShown());
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 2"));
    EXPECT_FALSE(child<QAction>(p, "Print")->isEnabled());

    // Onto the page still being made: an empty sheet until it arrives.
    p.nextPage();
    EXPECT_EQ(p.currentPage(), 2);
    EXPECT_FALSE(p.pageShown());
    EXPECT_FALSE(child<PreviewSheet>(p, "Sheet")->hasPicture());
    store->appendPage(a4Page(QStringLiteral("2")));
    begun = 3;
    p.pageNotice(2);
    EXPECT_TRUE(p.pageShown());
    EXPECT_EQ(child<PreviewSheet>(p, "Sheet")->picture(), store->page(2));
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 2 of 3"));

    store->appendPage(a4Page(QStringLiteral("3")));
    store->finish();
    p.pageNotice(3);
    EXPECT_EQ(p.currentPage(), 2); // no jump to the new page
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 2 of 3"));
    EXPECT_TRUE(child<QAction>(p, "PrinterSetup")->isEnabled());
    EXPECT_TRUE(child<QAction>(p, "Print")->isEnabled());
}

TEST(PreviewPages, ProgressPanelStepsByFiveAndEmptiesAtTheEnds)
{
    ReportPreview p;
    p.setStore(std::make_shared<PageStore>());
    QStringList shown;
    for (int value : {1, 4, 5, 7, 9, 10, 33, 36, 38, 100}) {
        p.progressNotice(value);
        shown << child<QLabel>(p, "ProgressPanel")->text();
    }
    EXPECT_EQ(shown, (QStringList{"0%", "0%", "5%", "5%", "5%", "10%", "33%", "33%", "38%", ""}));
    // Below the last value shown, a negative one included, nothing changes.
    ReportPreview q;
    q.setStore(std::make_shared<PageStore>());
    q.progressNotice(40);
    q.progressNotice(-3);
    EXPECT_EQ(child<QLabel>(q, "ProgressPanel")->text(), QStringLiteral("40%"));
}
