// Printing below the program's windows: the print dialog's choices, the
// printer set-up without printers, stored pages printed by their range, the
// progress window, and the report laid out straight onto a printer.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "PreviewDriver.h"
#include "PrintServer.h"
#include "TempCatalogue.h"
#include "engine/Error.h"
#include "engine/ResultSet.h"
#include "report/PageStore.h"
#include "report/ReportLayout.h"
#include "report/ReportRenderer.h"
#include "widgets/PrintProgressWindow.h"
#include "widgets/PrinterOutput.h"
#include "widgets/Printing.h"

using namespace zeplo;

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
    const auto server = printServerWith({});
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

// ---- a report straight onto a printer ----------------------------------------

namespace {

// A catalogue of `books` books and a report of a line per book, its title:
// 27 lines fill a page of A4.
struct TitleList {
    TempCatalogue db;
    ResultSet query{QStringLiteral("Query1")};
    ReportLayout layout;
    ReportRenderer renderer{layout, &query};
    PrinterSettings settings = initialPrinterSettings();

    explicit TitleList(int books)
    {
        ReportBand detail;
        detail.name = QStringLiteral("Detail");
        detail.height = 100;
        detail.width = 1900;
        Printable title;
        title.name = QStringLiteral("Title");
        title.kind = PrintableKind::BoundText;
        title.content = QStringLiteral("nazev");
        title.height = 50;
        detail.printables.push_back(title);
        layout.bands.push_back(detail);
        db.addBooks(books);
        query.setSql({TempCatalogue::kBaseQuery, QString(), QString()});
        query.open();
    }
};

} // namespace

TEST(ReportPrinter, PrintsEveryPageOnA4AndOnlyThePagesOfTheChosenRange)
{
    TitleList report(60);
    {
        PdfPrinter pdf;
        PrinterOutput out(pdf.printer);
        ASSERT_TRUE(report.renderer.render(out, report.settings));
        EXPECT_EQ(out.pagesPrinted(), 3);
        EXPECT_EQ(pdfPageCount(pdf.file), 3);
        EXPECT_NEAR(out.paper().width(), 2100, 1);
        EXPECT_NEAR(out.paper().height(), 2970, 1);
    }
    {
        PdfPrinter pdf;
        PrinterOutput out(pdf.printer);
        report.settings.firstPage = 2;
        report.settings.lastPage = 3;
        ASSERT_TRUE(report.renderer.render(out, report.settings));
        EXPECT_EQ(report.renderer.pageCount(), 3); // all laid out
        EXPECT_EQ(out.pagesPrinted(), 2);
        EXPECT_EQ(pdfPageCount(pdf.file), 2);
    }
    {
        PdfPrinter pdf;
        PrinterOutput out(pdf.printer);
        report.settings.firstPage = 5;
        report.settings.lastPage = 6;
        ASSERT_TRUE(report.renderer.render(out, report.settings));
        EXPECT_EQ(out.pagesPrinted(), 0);
        EXPECT_FALSE(QFile::exists(pdf.file)); // no print job at all
    }
}

TEST(ReportPrinter, ACancelledPrintoutStillDeliversThePagesMadeSoFar)
{
    TitleList report(100);
    PdfPrinter pdf;
    PrinterOutput out(pdf.printer);
    int rows = 0;
    out.progress = [&](int) {
        if (++rows == 30)
            report.renderer.cancel();
    };
    ASSERT_TRUE(report.renderer.render(out, report.settings));
    EXPECT_TRUE(report.renderer.cancelled());
    EXPECT_EQ(out.pagesPrinted(), 2);
    EXPECT_EQ(pdfPageCount(pdf.file), 2);
}
