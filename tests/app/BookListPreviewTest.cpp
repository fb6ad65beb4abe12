// The preview of the book list, as "&Tisk" opens it: its pages and progress
// while the report renders, closing and loading meanwhile, and printing to the
// print server's queues from it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <functional>
#include <memory>

#include "Children.h"
#include "ModalAnswerer.h"
#include "Poller.h"
#include "PreviewDriver.h"
#include "PrintServer.h"
#include "TempCatalogue.h"
#include "app/BookListReport.h"
#include "engine/ResultSet.h"
#include "report/PageStore.h"
#include "widgets/ErrorGuard.h"
#include "widgets/PreviewSheet.h"
#include "widgets/PrintProgressWindow.h"
#include "widgets/Printing.h"
#include "widgets/QueuedWork.h"
#include "widgets/ReportPreview.h"

using namespace zeplo;

namespace {

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
        query.setSql({TempCatalogue::kBaseQuery, QString(), QString()});
        query.open();
    }
};

} // namespace

TEST(PreviewPrinting, PrintersWithoutADefaultStopThePreview)
{
    const auto server = printServerWith({QStringLiteral("Laser"), QStringLiteral("Inkoust")}, false);
    EXPECT_EQ(QPrinterInfo::availablePrinterNames().size(), 2);
    Catalogue cat(3);
    const auto tisk = [&] { runGuarded([&] { cat.tisk.preview(); }); };
    const auto close = [](ReportPreview &p) { return p.close(); };
    {
        ModalAnswerer answerer;
        EXPECT_FALSE(drivePreview(cat.tisk, tisk, close));
        ASSERT_EQ(answerer.count(), 1);
        EXPECT_EQ(answerer.texts.first(), QStringLiteral("There is no default printer currently selected."));
    }
    // Once the server has a default queue, the same command opens the preview.
    ASSERT_TRUE(server->addQueue(QStringLiteral("Inkoust"), true));
    EXPECT_TRUE(drivePreview(cat.tisk, tisk, close));
}

// ---- the whole flow of "&Tisk" ----------------------------------------------

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
    ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        panels.look(p);
        const bool finished = p.store() && p.store()->status() == PageStore::Status::Finished;
        if (!finished && (rendered(p) || child<QAction>(p, "PrinterSetup")->isEnabled()))
            printEnabledEarly = true;
        if (cat.tisk.busy()) {
            cat.tisk.preview(); // a second "&Tisk" meanwhile
            secondCallIgnored = secondCallIgnored && cat.tisk.previewWindow() == &p;
            return false;
        }
        if (!rendered(p))
            return false;
        cat.tisk.preview(); // and once all is done
        secondCallIgnored = secondCallIgnored && cat.tisk.previewWindow() == &p;
        finalCount = p.store()->pageCount();
        EXPECT_TRUE(p.isMaximized());
        EXPECT_TRUE(child<QAction>(p, "PrinterSetup")->isEnabled());
        EXPECT_EQ(p.currentPage(), 1);
        EXPECT_TRUE(p.pageShown());
        QTest::mouseClick(child<QPushButton>(p, "CloseButton"), Qt::LeftButton);
        return true;
    }, anyPreview));
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
    ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        if (!p.store() || p.store()->inMemory())
            return false;
        spilled = p.store()->temporaryFileName();
        EXPECT_TRUE(QFile::exists(spilled));
        EXPECT_TRUE(cat.tisk.busy());
        QTest::keyClick(child<QScrollArea>(p, "PageArea"), Qt::Key_Escape);
        return true;
    }, anyPreview));
    ASSERT_FALSE(spilled.isEmpty());
    EXPECT_FALSE(QFile::exists(spilled));
    EXPECT_EQ(qrpTempFiles(), before);
    EXPECT_FALSE(cat.tisk.busy());
    EXPECT_TRUE(cat.tisk.cancelled());
    EXPECT_EQ(cat.tisk.previewWindow(), nullptr);
    EXPECT_FALSE(cat.query.eof()); // stopped part way

    // A later "&Tisk" starts afresh and runs to the end.
    int pages = 0;
    EXPECT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        pages = p.pageCount();
        return p.close();
    }));
    EXPECT_EQ(pages, 20);
    EXPECT_EQ(qrpTempFiles(), before);
}

TEST(PreviewFlow, ClosingTheMainWindowEndsThePreview)
{
    Catalogue cat(600);
    QWidget main;
    main.show();
    cat.tisk.setMainWindow(&main);
    ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        if (!p.store() || p.store()->pageCount() < 2)
            return false;
        return main.close();
    }, anyPreview));
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
    ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        if (step == 0) {
            if (!p.store() || p.store()->pageCount() < 2)
                return false;
            p.loadFromFile(file);
            step = 1;
            return false;
        }
        if (cat.tisk.busy())
            return false;
        EXPECT_TRUE(cat.tisk.cancelled());
        EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 3"));
        p.nextPage();
        p.progressNotice(50); // a late notice of the stopped rendering
        EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 2 of 3"));
        EXPECT_EQ(child<QLabel>(p, "ProgressPanel")->text(), QString());
        EXPECT_TRUE(rendered(p));
        EXPECT_FALSE(child<QAction>(p, "PrinterSetup")->isEnabled());
        return p.close();
    }, anyPreview));
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
    ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        if (visibleProgressWindow())
            progressSeen = true;
        switch (step) {
        case 0:
            QTest::mouseClick(child<QToolBar>(p, "ToolBar1")->widgetForAction(child<QAction>(p, "Print")), Qt::LeftButton);
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
            child<QAction>(p, "PrinterSetup")->trigger();
            EXPECT_TRUE(user.done());
            EXPECT_EQ(cat.tisk.printerSettings().printerName, QStringLiteral("Inkoust"));
            child<QAction>(p, "Print")->trigger();
            step = 2;
            return false;
        }
        default:
            if (cat.tisk.busy() || visibleProgressWindow())
                return false;
            EXPECT_TRUE(server.waitForEndedJobs(QStringLiteral("Inkoust"), 1)) << server.problem().toStdString();
            range = server.lastPrintout(QStringLiteral("Inkoust"));
            // The preview keeps its own pages.
            EXPECT_EQ(p.store()->pageCount(), 5);
            p.close();
            return true;
        }
    }));
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
    const auto server = printServerWith({QStringLiteral("Laser")});
    Catalogue cat(600);
    int step = 0;
    int total = 0;
    ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        if (step == 0) {
            total = p.pageCount();
            child<QAction>(p, "Print")->trigger();
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
        p.close();
        return true;
    }));
    ASSERT_EQ(total, 10);
    ASSERT_TRUE(server->waitForEndedJobs(QStringLiteral("Laser"), 1)) << server->problem().toStdString();
    const int printed = server->lastPrintout(QStringLiteral("Laser")).pages;
    EXPECT_GE(printed, 2);
    EXPECT_LT(printed, total);
}

TEST(PreviewFlow, PrintingLoadedPagesFollowsTheRange)
{
    const auto server = printServerWith({QStringLiteral("Laser")});
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("r.QRP"));
    ASSERT_TRUE(finishedStore(4)->saveToFile(file));
    Catalogue cat(0);
    cat.tisk.printerSettings().firstPage = 2;
    cat.tisk.printerSettings().lastPage = 3;
    ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        // The report of no books is one page.
        EXPECT_EQ(p.pageCount(), 1);
        p.loadFromFile(file);
        child<QAction>(p, "Print")->trigger();
        p.close();
        return true;
    }));
    ASSERT_TRUE(server->waitForEndedJobs(QStringLiteral("Laser"), 1)) << server->problem().toStdString();
    const PrintServer::Printout printout = server->lastPrintout(QStringLiteral("Laser"));
    EXPECT_EQ(printout.pages, 2);
    EXPECT_EQ(printout.pagePoints, QSize(595, 842));
}

// Pages saved on their side, or on a paper of their own, are shown and printed
// on that paper, whatever the report's own settings.
TEST(PreviewFlow, LoadedPagesInLandscapeOrOnTheirOwnPaperShowAndPrintOnIt)
{
    const auto server = printServerWith({QStringLiteral("Laser")});
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
        ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
            p.loadFromFile(file);
            settle();
            shownMm = p.paperMm();
            paper = p.loadedPaper();
            child<QAction>(p, "ZoomTo100")->trigger();
            sheet = child<PreviewSheet>(p, "Sheet")->size();
            child<QAction>(p, "Print")->trigger();
            p.close();
            return true;
        }));
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
    const auto server = printServerWith({});
    Catalogue cat(10);
    const PrinterSettings before = cat.tisk.printerSettings();
    ModalAnswerer answerer;
    bool progressSeen = false;
    int step = 0;
    ASSERT_TRUE(drivePreview(cat.tisk, [&](ReportPreview &p) {
        if (visibleProgressWindow())
            progressSeen = true;
        if (step++ == 0) {
            child<QAction>(p, "PrinterSetup")->trigger();
            child<QAction>(p, "Print")->trigger();
            return false;
        }
        if (step < 20)
            return false;
        p.close();
        return true;
    }));
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.texts.first(), QStringLiteral("Operation not supported on selected printer."));
    EXPECT_EQ(cat.tisk.printerSettings().copies, before.copies);
    EXPECT_FALSE(progressSeen);
}
