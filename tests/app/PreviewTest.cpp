#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QtEndian>

#include <cmath>
#include <functional>
#include <memory>

#include "Children.h"
#include "Poller.h"
#include "ModalAnswerer.h"
#include "PrintServer.h"
#include "TempCatalogue.h"
#include "app/BookListReport.h"
#include "engine/ResultSet.h"
#include "report/EmfWriter.h"
#include "report/PageStore.h"
#include "widgets/QueuedWork.h"
#include "widgets/PreviewSheet.h"
#include "widgets/QtTranslations.h"
#include "widgets/ReportPreview.h"
#include "widgets/PrintProgressWindow.h"
#include "report/ReportOutput.h"
#include "widgets/PrinterOutput.h"
#include "widgets/ErrorGuard.h"
#include "widgets/Printing.h"
#include "widgets/ToolbarIcons.h"

using namespace zeplo;

namespace {

const QString kBase =
    TempCatalogue::kBaseQuery;

// A page picture, A4 unless a paper is given, at the screen's resolution
// with `mark` written on it, so that pages can be told apart.
QByteArray a4Page(const QString &mark, QSizeF paperMm = QSizeF(210, 297))
{
    const int dpi = screenDpi();
    const QSize pixels(int(std::lround(paperMm.width() * dpi / 25.4)), int(std::lround(paperMm.height() * dpi / 25.4)));
    EmfCanvas canvas(pixels, dpi);
    canvas.setFont(ReportFont{});
    canvas.drawText(QPoint(40, 40), mark);
    canvas.drawLine(QPoint(10, 10), QPoint(pixels.width() - 10, 10));
    return canvas.finish();
}

std::shared_ptr<PageStore> finishedStore(int pages, QSizeF paperMm = QSizeF(210, 297))
{
    auto store = std::make_shared<PageStore>();
    store->begin();
    for (int i = 1; i <= pages; ++i)
        store->appendPage(a4Page(QStringLiteral("Strana %1").arg(i), paperMm));
    store->finish();
    return store;
}

// Lets queued notices and resizes through.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// A shown preview of a size fixed by the test, not maximised.
struct ShownPreview {
    ReportPreview preview;
    explicit ShownPreview(QSize size = QSize(652, 579))
    {
        preview.resize(size);
        preview.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&preview));
        settle();
    }
    void load(std::shared_ptr<PageStore> store)
    {
        preview.setStore(std::move(store));
        preview.pageNotice(preview.store()->pageCount());
        settle();
    }
};

// Runs `open`, which opens a file dialog, and answers the dialog with
// `answer`, then OK. Anything else that comes up fails the test at once and is
// closed, so that nothing waits for the suite's time limit.
void answerFileDialog(const std::function<void()> &open, const std::function<void(QFileDialog &)> &answer)
{
    bool answered = false;
    QTimer::singleShot(0, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            ADD_FAILURE() << "no file dialog came up"
                          << (modal ? " but " + modal->windowTitle().toStdString() : std::string());
            if (modal)
                modal->close();
            return;
        }
        answer(*dialog);
        answered = true;
        static_cast<QDialog *>(dialog)->accept();
    });
    open();
    EXPECT_TRUE(answered);
}

int roundInt(double v)
{
    return int(std::lround(v));
}

int pdfPageCount(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLatin1(f.readAll());
    return int(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s\\w])"))));
}

QStringList qrpTempFiles()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("QRP*")}, QDir::Files);
}

// A catalogue with `rows` books, the main result set open on it, and the
// report over it.
struct Catalogue {
    TempCatalogue db;
    ResultSet query{QStringLiteral("Query1")};
    BookListReport tisk{&query};

    explicit Catalogue(int rows)
    {
        db.addBooks(rows);
        query.setRequestLive(true);
        query.setSql({kBase, QString(), QString()});
        query.open();
    }
};

// A print server of the test's own with the queues named, the first of them
// its default one unless `withDefault` is false.
std::unique_ptr<PrintServer> printServer(const QStringList &queues, bool withDefault = true)
{
    auto server = std::make_unique<PrintServer>();
    EXPECT_TRUE(server->started()) << server->problem().toStdString();
    for (const QString &queue : queues)
        EXPECT_TRUE(server->addQueue(queue, withDefault && queue == queues.first())) << queue.toStdString();
    return server;
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

// ---- saving and loading ---------------------------------------------------

TEST(PreviewFiles, SavedReportLoadsWithTheSamePages)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("kniha.QRP"));
    auto original = finishedStore(4);
    {
        ReportPreview p;
        p.setStore(original);
        p.saveToFile(file);
    }
    ASSERT_TRUE(QFile::exists(file));

    ShownPreview shown;
    ReportPreview &p = shown.preview;
    bool discarded = false;
    ReportPreview::Host host;
    host.discardingStore = [&] { discarded = true; };
    p.setHost(host);
    p.loadFromFile(file);
    EXPECT_TRUE(discarded);
    ASSERT_TRUE(p.store());
    EXPECT_TRUE(p.store()->loaded());
    EXPECT_EQ(p.store()->pageCount(), 4);
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(p.store()->page(n), original->page(n)) << n;
    EXPECT_EQ(p.currentPage(), 1);
    EXPECT_TRUE(p.pageShown());
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 4"));
    EXPECT_FALSE(child<QAction>(p, "PrinterSetup")->isEnabled());
    EXPECT_TRUE(child<QAction>(p, "Print")->isEnabled());
    EXPECT_TRUE(p.loadedPaper().recognised);
    EXPECT_EQ(p.loadedPaper().orientation, QPageLayout::Portrait);
    // A4 Small is tried after A4 and has the same measure, so it wins.
    EXPECT_EQ(p.loadedPaper().size.id(), pageSizeFor(PaperSize::A4Small).id());
    EXPECT_NEAR(p.paperMm().width(), 210, 0.01);
    EXPECT_NEAR(p.paperMm().height(), 297, 0.01);

    // Saved again, the loaded report is the very same file.
    const QString again = dir.filePath(QStringLiteral("znovu.QRP"));
    p.saveToFile(again);
    const auto bytes = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    ASSERT_FALSE(bytes(file).isEmpty());
    EXPECT_EQ(bytes(again), bytes(file));
}

TEST(PreviewFiles, UnfinishedStoreWritesNothing)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("x.QRP"));
    auto store = std::make_shared<PageStore>();
    store->begin();
    store->appendPage(a4Page(QStringLiteral("1")));
    ReportPreview p;
    p.setStore(store);
    p.saveToFile(file);
    EXPECT_FALSE(QFile::exists(file));
}

TEST(PreviewFiles, OlderShorterHeaderLoads)
{
    // The same file with a 124-byte header: every offset four bytes less.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("new.QRP"));
    auto original = finishedStore(2);
    ASSERT_TRUE(original->saveToFile(file));
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QByteArray old = bytes.left(124) + bytes.mid(128);
    qint64 off = 124;
    for (int n = 0; n < 2; ++n) {
        const quint32 next = qFromLittleEndian<quint32>(old.constData() + off + 4) - 4;
        qToLittleEndian<quint32>(next, old.data() + off + 4);
        qToLittleEndian<quint32>(quint32(off), old.data() + next - 4);
        off = next;
    }
    ASSERT_EQ(off, old.size());
    const QString oldFile = dir.filePath(QStringLiteral("old.QRP"));
    QFile out(oldFile);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(old);
    out.close();

    ReportPreview p;
    p.loadFromFile(oldFile);
    ASSERT_TRUE(p.store());
    EXPECT_EQ(p.store()->pageCount(), 2);
    EXPECT_EQ(p.store()->page(2), original->page(2));
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 2"));
}

TEST(PreviewFiles, BadFilesLeaveThePreviewAsItWas)
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.QRP"));
    ASSERT_TRUE(finishedStore(3)->saveToFile(good));
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();

    QByteArray random(5000, '\0');
    quint32 seed = 12345;
    for (char &c : random) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    random[25] = 0; // not claiming compression
    const QList<QPair<QString, QByteArray>> bad = {
        {QStringLiteral("truncated.QRP"), bytes.left(bytes.size() - 300)},
        {QStringLiteral("random.QRP"), random},
        {QStringLiteral("short.QRP"), bytes.left(60)},
        {QStringLiteral("empty.QRP"), QByteArray()},
    };

    ShownPreview shown;
    ReportPreview &p = shown.preview;
    auto mine = finishedStore(2);
    shown.load(mine);
    p.nextPage();
    bool discarded = false;
    ReportPreview::Host host;
    host.discardingStore = [&] { discarded = true; };
    p.setHost(host);
    for (const auto &[name, content] : bad) {
        const QString path = dir.filePath(name);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        ModalAnswerer answerer;
        child<QAction>(p, "LoadReport")->setEnabled(true);
        // Through the guard that every handler runs in.
        runGuarded([&] { p.loadFromFile(path); });
        ASSERT_EQ(answerer.count(), 1) << name.toStdString();
        EXPECT_FALSE(answerer.texts.first().isEmpty());
        EXPECT_NE(answerer.texts.first(), QStringLiteral("File does not exist")) << name.toStdString();
        EXPECT_EQ(p.store(), mine) << name.toStdString();
        EXPECT_EQ(p.currentPage(), 2);
        EXPECT_EQ(child<PreviewSheet>(p, "Sheet")->picture(), mine->page(2));
        EXPECT_FALSE(discarded);
        EXPECT_TRUE(child<QAction>(p, "PrinterSetup")->isEnabled());
    }
}

TEST(PreviewFiles, MissingFileSaysSoAndChangesNothing)
{
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    auto mine = finishedStore(1);
    shown.load(mine);
    ModalAnswerer answerer;
    runGuarded([&] { p.loadFromFile(QDir::temp().filePath(QStringLiteral("no-such-report-h7.QRP"))); });
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.texts.first(), QStringLiteral("File does not exist"));
    EXPECT_EQ(p.store(), mine);
    EXPECT_TRUE(child<QAction>(p, "PrinterSetup")->isEnabled());
}

// In both languages: on a Czech desktop (LANG=cs_CZ.UTF-8, which the test sets
// as the default locale, as Qt's system locale cannot change within a process)
// the dialogs speak Czech around the program's own titles and filters.
class PreviewFileDialogs : public testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam()) {
            QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
            ASSERT_TRUE(loadQtTranslations(QLocale()));
        }
    }
    void TearDown() override
    {
        unloadQtTranslations();
        QLocale::setDefault(QLocale::c());
    }
};

INSTANTIATE_TEST_SUITE_P(, PreviewFileDialogs, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) { return info.param ? "Czech" : "English"; });

TEST_P(PreviewFileDialogs, AskWithTheirTitlesAndFilters)
{
    QTemporaryDir dir;
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    auto mine = finishedStore(2);
    shown.load(mine);

    // The save dialog: the name typed without its extension gets ".QRP".
    QString title, filter, suffix, saveButton;
    answerFileDialog([&] { child<QAction>(p, "SaveReport")->trigger(); }, [&](QFileDialog &d) {
        title = d.windowTitle();
        filter = d.nameFilters().join(QLatin1Char(';'));
        suffix = d.defaultSuffix();
        if (auto *box = d.findChild<QDialogButtonBox *>())
            if (QAbstractButton *save = box->button(QDialogButtonBox::Save))
                saveButton = save->text();
        d.setDirectory(dir.path());
        d.selectFile(QStringLiteral("ulozeno"));
    });
    EXPECT_EQ(title, QStringLiteral("Save report"));
    EXPECT_EQ(filter, QStringLiteral("Pagolin file(*.QRP)"));
    EXPECT_EQ(saveButton, GetParam() ? QStringLiteral("&Uložit") : QStringLiteral("&Save"));
    EXPECT_EQ(suffix, QStringLiteral("QRP"));
    const QString saved = dir.filePath(QStringLiteral("ulozeno.QRP"));
    ASSERT_TRUE(QFile::exists(saved));

    answerFileDialog([&] { child<QAction>(p, "LoadReport")->trigger(); }, [&](QFileDialog &d) {
        title = d.windowTitle();
        filter = d.nameFilters().join(QLatin1Char(';'));
        d.setDirectory(dir.path());
        d.selectFile(saved);
    });
    EXPECT_EQ(title, QStringLiteral("Load report"));
    EXPECT_EQ(filter, QStringLiteral("Pagolin file (*.QRP)"));
    ASSERT_TRUE(p.store());
    EXPECT_TRUE(p.store()->loaded());
    EXPECT_EQ(p.store()->page(2), mine->page(2));
}

// ---- printing helpers -----------------------------------------------------

TEST(PreviewPrinting, DialogChoicesBecomeTheReportsSettings)
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    QPrintDialog dialog(&printer);
    preparePrintDialog(dialog, 7);
    EXPECT_EQ(dialog.minPage(), 1);
    EXPECT_EQ(dialog.maxPage(), 7);
    EXPECT_EQ(dialog.fromPage(), 1);
    EXPECT_EQ(dialog.toPage(), 7);
    EXPECT_EQ(dialog.printRange(), QAbstractPrintDialog::AllPages);
    EXPECT_TRUE(dialog.testOption(QAbstractPrintDialog::PrintPageRange));
    EXPECT_TRUE(dialog.testOption(QAbstractPrintDialog::PrintCollateCopies));
    EXPECT_FALSE(dialog.testOption(QAbstractPrintDialog::PrintSelection));
    EXPECT_FALSE(dialog.testOption(QAbstractPrintDialog::PrintToFile));
    EXPECT_FALSE(dialog.testOption(QAbstractPrintDialog::PrintCurrentPage));

    PrinterSettings settings;
    settings.firstPage = 4;
    settings.lastPage = 5;
    takePrintDialogResult(dialog, settings);
    EXPECT_EQ(settings.firstPage, 0); // all pages
    EXPECT_EQ(settings.lastPage, 0);

    dialog.setPrintRange(QAbstractPrintDialog::PageRange);
    dialog.setFromTo(2, 3);
    printer.setCopyCount(3);
    printer.setPageOrientation(QPageLayout::Landscape);
    takePrintDialogResult(dialog, settings);
    EXPECT_EQ(settings.firstPage, 2);
    EXPECT_EQ(settings.lastPage, 3);
    EXPECT_EQ(settings.copies, 3);
    EXPECT_TRUE(settings.landscape);

    // Before the rendering has finished the range is open-ended.
    preparePrintDialog(dialog, 0);
    EXPECT_EQ(dialog.minPage(), 0);
    EXPECT_EQ(dialog.maxPage(), 9999);
}

TEST(PreviewPrinting, NoPrinterMeansNoSetUp)
{
    const auto server = printServer({});
    ASSERT_FALSE(printersInstalled());
    PrinterSettings settings = initialPrinterSettings();
    settings.copies = 2;
    try {
        runPrinterSetup(settings, 3, nullptr);
        FAIL() << "set-up without a printer";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Operation not supported on selected printer"));
    }
    EXPECT_EQ(settings.copies, 2);
    EXPECT_NO_THROW(checkDefaultPrinter()); // nothing installed is no missing default
    EXPECT_EQ(makePrinter(settings), nullptr);
}

TEST(PreviewPrinting, PrintersWithoutADefaultStopThePreview)
{
    const auto server = printServer({QStringLiteral("Laser"), QStringLiteral("Inkoust")}, false);
    EXPECT_EQ(QPrinterInfo::availablePrinterNames().size(), 2);
    Catalogue cat(3);
    int opened = 0;
    Poller closer([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (p && child<QAction>(*p, "Print")->isEnabled()) {
            ++opened;
            p->close();
        }
        return false;
    });
    {
        ModalAnswerer answerer;
        runGuarded([&] { cat.tisk.preview(); });
        ASSERT_EQ(answerer.count(), 1);
        EXPECT_EQ(answerer.texts.first(), QStringLiteral("There is no default printer currently selected."));
        EXPECT_EQ(opened, 0);
    }
    // Once the server has a default queue, the same command opens the preview.
    ASSERT_TRUE(server->addQueue(QStringLiteral("Inkoust"), true));
    runGuarded([&] { cat.tisk.preview(); });
    EXPECT_EQ(opened, 1);
}

TEST(PreviewPrinting, StoredPagesPrintTheirRange)
{
    QTemporaryDir dir;
    auto store = finishedStore(5);
    const auto print = [&](const QString &name, int first, int last, int abortAt = -1) {
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(name));
        return printStoredPages(*store, printer, first, last, [&](int done, int) { return done != abortAt; });
    };
    EXPECT_EQ(print(QStringLiteral("all.pdf"), 0, 0), 5);
    EXPECT_EQ(pdfPageCount(dir.filePath(QStringLiteral("all.pdf"))), 5);
    EXPECT_EQ(print(QStringLiteral("range.pdf"), 2, 3), 2);
    EXPECT_EQ(pdfPageCount(dir.filePath(QStringLiteral("range.pdf"))), 2);
    EXPECT_EQ(print(QStringLiteral("tail.pdf"), 4, 0), 2);
    EXPECT_EQ(pdfPageCount(dir.filePath(QStringLiteral("tail.pdf"))), 2);
    EXPECT_EQ(print(QStringLiteral("beyond.pdf"), 4, 99), 2);
    EXPECT_EQ(print(QStringLiteral("none.pdf"), 6, 0), 0);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("none.pdf"))));
    // Cancelled before the third page: the job is aborted.
    EXPECT_EQ(print(QStringLiteral("aborted.pdf"), 0, 0, 2), 2);
    EXPECT_EQ(pdfPageCount(dir.filePath(QStringLiteral("aborted.pdf"))), 2);
}

TEST(PreviewPrinting, ProgressWindowShowsEveryFifthPercent)
{
    PrintProgressWindow w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Printing progress"));
    EXPECT_EQ(w.size(), QSize(149, 97));
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(child<QProgressBar>(w, "ProgressBar1")->geometry(), QRect(16, 18, 114, 16));
    EXPECT_EQ(child<QLabel>(w, "Label1")->geometry().topLeft(), QPoint(0, 44));
    EXPECT_EQ(child<QLabel>(w, "Label1")->width(), 145);
    EXPECT_EQ(child<QPushButton>(w, "CancelButton")->geometry(), QRect(36, 60, 75, 25));
    EXPECT_EQ(child<QPushButton>(w, "CancelButton")->text(), QStringLiteral("Cancel"));
    w.setProgress(40);
    EXPECT_EQ(child<QProgressBar>(w, "ProgressBar1")->value(), 40);
    EXPECT_EQ(child<QLabel>(w, "Label1")->text(), QStringLiteral("40%  Completed"));
    w.setProgress(43);
    EXPECT_EQ(child<QProgressBar>(w, "ProgressBar1")->value(), 40);
    EXPECT_EQ(child<QLabel>(w, "Label1")->text(), QStringLiteral("40%  Completed"));
    int cancels = 0;
    w.onCancel = [&] { ++cancels; };
    QTest::mouseClick(child<QPushButton>(w, "CancelButton"), Qt::LeftButton);
    w.close();
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(w.cancelled());
}

// ---- the whole flow of "&Tisk" ----------------------------------------------

namespace {

PrintProgressWindow *visibleProgressWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *p = dynamic_cast<PrintProgressWindow *>(w); p && p->isVisible())
            return p;
    return nullptr;
}

} // namespace

// Every text the preview's two panels show. The notices that change them reach
// the preview as queued work, so looking before each piece of it sees every
// text, however many notices one pass of the event loop delivers.
class PanelTexts : public QObject {
public:
    explicit PanelTexts(const std::function<ReportPreview *()> &preview) : preview_(preview)
    {
        qApp->installEventFilter(this);
    }
    void look(const QWidget &preview)
    {
        // What the user sees: nothing before the window is shown.
        if (preview.isVisible()) {
            keep(pages, child<QLabel>(preview, "PagePanel")->text());
            keep(progress, child<QLabel>(preview, "ProgressPanel")->text());
        }
    }
    QStringList pages, progress;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (isQueuedWork(event))
            if (ReportPreview *preview = preview_())
                look(*preview);
        return false;
    }

private:
    std::function<ReportPreview *()> preview_;
    static void keep(QStringList &texts, const QString &text)
    {
        if (texts.isEmpty() || texts.last() != text)
            texts << text;
    }
};

TEST(PreviewFlow, PagesAndProgressArriveWhileRendering)
{
    Catalogue cat(290);
    PanelTexts panels([&] { return cat.tisk.previewWindow(); });
    QStringList &pageTexts = panels.pages, &progressTexts = panels.progress;
    bool printEnabledEarly = false;
    int finalCount = 0;
    bool secondCallIgnored = true;
    Poller poller([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p)
            return false;
        panels.look(*p);
        const bool finished = p->store() && p->store()->status() == PageStore::Status::Finished;
        if (!finished && (child<QAction>(*p, "Print")->isEnabled() || child<QAction>(*p, "PrinterSetup")->isEnabled()))
            printEnabledEarly = true;
        if (cat.tisk.busy()) {
            cat.tisk.preview(); // a second "&Tisk" meanwhile
            secondCallIgnored = secondCallIgnored && cat.tisk.previewWindow() == p;
            return false;
        }
        if (!child<QAction>(*p, "Print")->isEnabled())
            return false;
        cat.tisk.preview(); // and once all is done
        secondCallIgnored = secondCallIgnored && cat.tisk.previewWindow() == p;
        finalCount = p->store()->pageCount();
        EXPECT_TRUE(p->isMaximized());
        EXPECT_TRUE(child<QAction>(*p, "PrinterSetup")->isEnabled());
        EXPECT_EQ(p->currentPage(), 1);
        EXPECT_TRUE(p->pageShown());
        QTest::mouseClick(child<QPushButton>(*p, "CloseButton"), Qt::LeftButton);
        return true;
    });
    cat.tisk.preview();
    ASSERT_TRUE(poller.done());
    EXPECT_EQ(cat.tisk.previewWindow(), nullptr);
    EXPECT_TRUE(secondCallIgnored);
    EXPECT_FALSE(printEnabledEarly);

    // 56 rows on page 1, 61 on each later page, then the summary.
    EXPECT_EQ(finalCount, 5);
    ASSERT_GE(pageTexts.size(), 3);
    EXPECT_EQ(pageTexts.first(), QStringLiteral("Page 1 of 0"));
    EXPECT_EQ(pageTexts.last(), QStringLiteral("Page 1 of 5"));
    int previous = -1;
    for (const QString &text : pageTexts) {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^Page 1 of (\\d+)$")).match(text);
        ASSERT_TRUE(m.hasMatch()) << text.toStdString();
        EXPECT_GT(m.captured(1).toInt(), previous);
        previous = m.captured(1).toInt();
    }
    EXPECT_TRUE(progressTexts.contains(QStringLiteral("5%")));
    EXPECT_TRUE(progressTexts.contains(QStringLiteral("50%")));
    EXPECT_EQ(progressTexts.last(), QString());
    // The rendering leaves the result set on its last row.
    EXPECT_TRUE(cat.query.eof());
}

TEST(PreviewFlow, ClosingWhileRenderingCancelsAndLeavesNoTemporaryFile)
{
    Catalogue cat(1200);
    const QStringList before = qrpTempFiles();
    QString spilled;
    Poller poller([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p || !p->store() || p->store()->inMemory())
            return false;
        spilled = p->store()->temporaryFileName();
        EXPECT_TRUE(QFile::exists(spilled));
        EXPECT_TRUE(cat.tisk.busy());
        QTest::keyClick(child<QScrollArea>(*p, "PageArea"), Qt::Key_Escape);
        return true;
    });
    cat.tisk.preview();
    ASSERT_TRUE(poller.done());
    ASSERT_FALSE(spilled.isEmpty());
    EXPECT_FALSE(QFile::exists(spilled));
    EXPECT_EQ(qrpTempFiles(), before);
    EXPECT_FALSE(cat.tisk.busy());
    EXPECT_TRUE(cat.tisk.cancelled());
    EXPECT_EQ(cat.tisk.previewWindow(), nullptr);
    EXPECT_FALSE(cat.query.eof()); // stopped part way

    // A later "&Tisk" starts afresh and runs to the end.
    int pages = 0;
    Poller again([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p || !child<QAction>(*p, "Print")->isEnabled())
            return false;
        pages = p->pageCount();
        p->close();
        return true;
    });
    cat.tisk.preview();
    EXPECT_EQ(pages, 20);
    EXPECT_EQ(qrpTempFiles(), before);
}

TEST(PreviewFlow, ClosingTheMainWindowEndsThePreview)
{
    Catalogue cat(600);
    QWidget main;
    main.show();
    cat.tisk.setMainWindow(&main);
    Poller poller([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p || !p->store() || p->store()->pageCount() < 2)
            return false;
        main.close();
        return true;
    });
    cat.tisk.preview();
    ASSERT_TRUE(poller.done());
    EXPECT_TRUE(cat.tisk.cancelled());
    EXPECT_EQ(cat.tisk.previewWindow(), nullptr);
}

TEST(PreviewFlow, LoadingWhileRenderingStopsItAndKeepsThePreviewOpen)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("r.QRP"));
    ASSERT_TRUE(finishedStore(3)->saveToFile(file));
    Catalogue cat(1200);
    const QStringList before = qrpTempFiles();
    int step = 0;
    Poller poller([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p)
            return false;
        if (step == 0) {
            if (!p->store() || p->store()->pageCount() < 2)
                return false;
            p->loadFromFile(file);
            step = 1;
            return false;
        }
        if (cat.tisk.busy())
            return false;
        EXPECT_TRUE(cat.tisk.cancelled());
        EXPECT_EQ(child<QLabel>(*p, "PagePanel")->text(), QStringLiteral("Page 1 of 3"));
        p->nextPage();
        p->progressNotice(50); // a late notice of the stopped rendering
        EXPECT_EQ(child<QLabel>(*p, "PagePanel")->text(), QStringLiteral("Page 2 of 3"));
        EXPECT_EQ(child<QLabel>(*p, "ProgressPanel")->text(), QString());
        EXPECT_TRUE(child<QAction>(*p, "Print")->isEnabled());
        EXPECT_FALSE(child<QAction>(*p, "PrinterSetup")->isEnabled());
        p->close();
        return true;
    });
    cat.tisk.preview();
    ASSERT_TRUE(poller.done());
    EXPECT_EQ(qrpTempFiles(), before);
}

TEST(PreviewFlow, PrintGoesToTheDefaultQueueAndSetUpChoosesAnotherQueueAndARange)
{
    // The default queue's own paper is Letter: the report asks for A4, which
    // the queue offers as well.
    PrintServer server;
    ASSERT_TRUE(server.started()) << server.problem().toStdString();
    ASSERT_TRUE(server.addQueue(QStringLiteral("Laser"), true, QStringLiteral("Letter")));
    ASSERT_TRUE(server.addQueue(QStringLiteral("Inkoust")));
    Catalogue cat(290);
    int step = 0;
    bool progressSeen = false;
    PrintServer::Printout all, range;
    QStringList offered;
    QString preselected;
    Poller poller([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p || !child<QAction>(*p, "Print")->isEnabled())
            return false;
        if (visibleProgressWindow())
            progressSeen = true;
        switch (step) {
        case 0:
            QTest::mouseClick(child<QToolBar>(*p, "ToolBar1")->widgetForAction(child<QAction>(*p, "Print")), Qt::LeftButton);
            // Queued: nothing has been printed when the click returns.
            EXPECT_FALSE(cat.tisk.busy());
            EXPECT_EQ(server.pendingJobs() + server.endedJobs(QStringLiteral("Laser")), 0);
            step = 1;
            return false;
        case 1: {
            if (cat.tisk.busy() || visibleProgressWindow())
                return false;
            EXPECT_TRUE(server.waitForEndedJobs(QStringLiteral("Laser"), 1)) << server.problem().toStdString();
            all = server.lastPrintout(QStringLiteral("Laser"));
            // The set-up's dialog, answered as a user would: another queue,
            // pages 2 to 3.
            Poller user([&] {
                auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
                if (!dialog || !dialog->isVisible())
                    return false;
                auto *printers = dialog->findChild<QComboBox *>(QStringLiteral("printers"));
                auto *pageRange = dialog->findChild<QAbstractButton *>(QStringLiteral("printRange"));
                auto *from = dialog->findChild<QSpinBox *>(QStringLiteral("from"));
                auto *to = dialog->findChild<QSpinBox *>(QStringLiteral("to"));
                auto *buttons = dialog->findChild<QDialogButtonBox *>();
                if (!printers || !pageRange || !from || !to || !buttons) {
                    ADD_FAILURE() << "the print dialog lacks its printer or range controls";
                    dialog->reject();
                    return true;
                }
                for (int i = 0; i < printers->count(); ++i)
                    offered << printers->itemText(i);
                preselected = printers->currentText();
                printers->setCurrentIndex(printers->findText(QStringLiteral("Inkoust")));
                pageRange->setChecked(true);
                from->setValue(2);
                to->setValue(3);
                buttons->button(QDialogButtonBox::Ok)->click();
                return true;
            });
            child<QAction>(*p, "PrinterSetup")->trigger();
            EXPECT_TRUE(user.done());
            EXPECT_EQ(cat.tisk.printerSettings().printerName, QStringLiteral("Inkoust"));
            child<QAction>(*p, "Print")->trigger();
            step = 2;
            return false;
        }
        default:
            if (cat.tisk.busy() || visibleProgressWindow())
                return false;
            EXPECT_TRUE(server.waitForEndedJobs(QStringLiteral("Inkoust"), 1)) << server.problem().toStdString();
            range = server.lastPrintout(QStringLiteral("Inkoust"));
            // The preview keeps its own pages.
            EXPECT_EQ(p->store()->pageCount(), 5);
            p->close();
            return true;
        }
    });
    cat.tisk.preview();
    ASSERT_TRUE(poller.done());
    EXPECT_TRUE(progressSeen);
    EXPECT_EQ(all.pages, 5);
    EXPECT_EQ(all.paper, QStringLiteral("A4"));
    EXPECT_EQ(all.pagePoints, QSize(595, 842));
    offered.sort();
    EXPECT_EQ(offered, (QStringList{QStringLiteral("Inkoust"), QStringLiteral("Laser")}));
    EXPECT_EQ(preselected, QStringLiteral("Laser"));
    EXPECT_EQ(cat.tisk.printerSettings().firstPage, 2);
    EXPECT_EQ(cat.tisk.printerSettings().lastPage, 3);
    EXPECT_EQ(range.pages, 2);
    EXPECT_EQ(range.paper, QStringLiteral("A4"));
    EXPECT_EQ(server.endedJobs(QStringLiteral("Laser")), 1);
}

TEST(PreviewFlow, CancelledPrintKeepsThePagesMadeSoFar)
{
    const auto server = printServer({QStringLiteral("Laser")});
    Catalogue cat(600);
    int step = 0;
    int total = 0;
    Poller poller([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p || !child<QAction>(*p, "Print")->isEnabled())
            return false;
        if (step == 0) {
            total = p->pageCount();
            child<QAction>(*p, "Print")->trigger();
            step = 1;
            return false;
        }
        if (step == 1) {
            PrintProgressWindow *w = visibleProgressWindow();
            if (!w || child<QProgressBar>(*w, "ProgressBar1")->value() < 25)
                return false;
            QTest::mouseClick(child<QPushButton>(*w, "CancelButton"), Qt::LeftButton);
            step = 2;
            return false;
        }
        if (cat.tisk.busy() || visibleProgressWindow())
            return false;
        p->close();
        return true;
    });
    cat.tisk.preview();
    ASSERT_TRUE(poller.done());
    ASSERT_EQ(total, 10);
    ASSERT_TRUE(server->waitForEndedJobs(QStringLiteral("Laser"), 1)) << server->problem().toStdString();
    const int printed = server->lastPrintout(QStringLiteral("Laser")).pages;
    EXPECT_GE(printed, 2);
    EXPECT_LT(printed, total);
}

TEST(PreviewFlow, PrintingLoadedPagesFollowsTheRange)
{
    const auto server = printServer({QStringLiteral("Laser")});
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("r.QRP"));
    ASSERT_TRUE(finishedStore(4)->saveToFile(file));
    Catalogue cat(0);
    cat.tisk.printerSettings().firstPage = 2;
    cat.tisk.printerSettings().lastPage = 3;
    Poller poller([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p || !child<QAction>(*p, "Print")->isEnabled())
            return false;
        // The report of no books is one page.
        EXPECT_EQ(p->pageCount(), 1);
        p->loadFromFile(file);
        child<QAction>(*p, "Print")->trigger();
        p->close();
        return true;
    });
    cat.tisk.preview();
    ASSERT_TRUE(poller.done());
    ASSERT_TRUE(server->waitForEndedJobs(QStringLiteral("Laser"), 1)) << server->problem().toStdString();
    const PrintServer::Printout printout = server->lastPrintout(QStringLiteral("Laser"));
    EXPECT_EQ(printout.pages, 2);
    EXPECT_EQ(printout.pagePoints, QSize(595, 842));
}

// Pages saved on their side, or on a paper of their own, are shown and printed
// on that paper, whatever the report's own settings.
TEST(PreviewFlow, LoadedPagesInLandscapeOrOnTheirOwnPaperShowAndPrintOnIt)
{
    const auto server = printServer({QStringLiteral("Laser")});
    QTemporaryDir dir;
    struct Case {
        QSizeF mm;
        bool recognised;
        QPageLayout::Orientation orientation;
        QSize sheet;    // at 100 % on the offscreen screen's 96 dpi, with its frame
        QSize points;   // the pages sent to the printer
    };
    const Case cases[] = {
        {QSizeF(123, 187), false, QPageLayout::Portrait, QSize(469, 711), QSize(349, 530)},    // no standard paper
        {QSizeF(297, 210), true, QPageLayout::Landscape, QSize(1127, 798), QSize(842, 595)}};  // A4 on its side
    int printed = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.mm.width() << " x " << c.mm.height() << " mm");
        const QString file = dir.filePath(QStringLiteral("r%1.QRP").arg(printed));
        ASSERT_TRUE(finishedStore(2, c.mm)->saveToFile(file));
        Catalogue cat(0);
        QSizeF shownMm;
        QSize sheet;
        LoadedPaper paper;
        Poller poller([&] {
            ReportPreview *p = cat.tisk.previewWindow();
            if (!p || !child<QAction>(*p, "Print")->isEnabled())
                return false;
            p->loadFromFile(file);
            settle();
            shownMm = p->paperMm();
            paper = p->loadedPaper();
            child<QAction>(*p, "ZoomTo100")->trigger();
            sheet = child<PreviewSheet>(*p, "Sheet")->size();
            child<QAction>(*p, "Print")->trigger();
            p->close();
            return true;
        });
        cat.tisk.preview();
        ASSERT_TRUE(poller.done());
        // The picture's own measure, within the rounding of its pixels.
        EXPECT_NEAR(shownMm.width(), c.mm.width(), 0.2);
        EXPECT_NEAR(shownMm.height(), c.mm.height(), 0.2);
        EXPECT_EQ(paper.recognised, c.recognised);
        EXPECT_EQ(paper.orientation, c.orientation);
        EXPECT_EQ(sheet, c.sheet);
        ASSERT_TRUE(server->waitForEndedJobs(QStringLiteral("Laser"), ++printed)) << server->problem().toStdString();
        // Sent on that paper and on its side, and put out on it.
        EXPECT_EQ(server->lastDocumentPoints(), c.points);
        const PrintServer::Printout printout = server->lastPrintout(QStringLiteral("Laser"));
        EXPECT_EQ(printout.pages, 2);
        EXPECT_EQ(printout.paper, c.recognised ? QStringLiteral("A4") : QString());
        EXPECT_EQ(printout.pagePoints, c.recognised ? QSize(595, 842) : QSize(348, 530));
    }
}

TEST(PreviewFlow, WithoutPrintersSetUpFailsAndPrintDoesNothing)
{
    const auto server = printServer({});
    Catalogue cat(10);
    const PrinterSettings before = cat.tisk.printerSettings();
    ModalAnswerer answerer;
    bool progressSeen = false;
    int step = 0;
    Poller poller([&] {
        ReportPreview *p = cat.tisk.previewWindow();
        if (!p || !child<QAction>(*p, "Print")->isEnabled())
            return false;
        if (visibleProgressWindow())
            progressSeen = true;
        if (step++ == 0) {
            child<QAction>(*p, "PrinterSetup")->trigger();
            child<QAction>(*p, "Print")->trigger();
            return false;
        }
        if (step < 20)
            return false;
        p->close();
        return true;
    });
    cat.tisk.preview();
    ASSERT_TRUE(poller.done());
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.texts.first(), QStringLiteral("Operation not supported on selected printer."));
    EXPECT_EQ(cat.tisk.printerSettings().copies, before.copies);
    EXPECT_FALSE(progressSeen);
}
