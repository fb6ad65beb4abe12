#pragma once

#include <QAction>
#include <QPrinter>
#include <QSizeF>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "Children.h"
#include "Poller.h"
#include "report/PageStore.h"
#include "widgets/ReportPreview.h"

namespace zeplo {
class PrintProgressWindow;
}

// What the tests of the preview and of printing share: pages to show, and the
// one way a test acts on a preview that a command keeps open.

// A page picture at the screen's resolution, A4 unless a paper is given, with
// `mark` written on it, so that pages can be told apart.
QByteArray a4Page(const QString &mark, QSizeF paperMm = QSizeF(210, 297));
// A finished store of `pages` such pages.
std::shared_ptr<zeplo::PageStore> finishedStore(int pages, QSizeF paperMm = QSizeF(210, 297));

// Lets queued notices and resizes through.
void settle();

// A shown preview of a size fixed by the test, not maximised.
struct ShownPreview {
    zeplo::ReportPreview preview;
    explicit ShownPreview(QSize size = QSize(652, 579))
    {
        preview.resize(size);
        preview.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&preview));
        settle();
    }
    void load(std::shared_ptr<zeplo::PageStore> store)
    {
        preview.setStore(std::move(store));
        preview.pageNotice(preview.store()->pageCount());
        settle();
    }
};

// A printer that writes a PDF file of the test's own.
struct PdfPrinter {
    QTemporaryDir dir;
    QString file;
    QPrinter printer{QPrinter::HighResolution};
    explicit PdfPrinter(const QString &name = QStringLiteral("report.pdf"))
    {
        file = dir.filePath(name);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
    }
};
// The pages of a PDF file; -1 when it cannot be read.
int pdfPageCount(const QString &path);
// The report's temporary files in the temporary folder.
QStringList qrpTempFiles();
// The print's progress window while it shows.
zeplo::PrintProgressWindow *visibleProgressWindow();

// Whether the preview shows a finished report: its "Print" is enabled once
// every page is made, and stays so.
inline bool rendered(const zeplo::ReportPreview &preview)
{
    return child<QAction>(preview, "Print")->isEnabled();
}
inline bool anyPreview(const zeplo::ReportPreview &)
{
    return true;
}

// Runs `start`, a command that opens the preview of `report` (anything with
// previewWindow(): the book list's report) and returns once it has closed, as
// "&Tisk" does. Meanwhile, every few milliseconds once `ready` holds for the
// preview, `step` acts on it as a user would until it returns true, having
// closed the preview or set it closing. Returns whether it did: false when no
// preview came or the steps never ended.
template <class Report>
bool drivePreview(const Report &report, const std::function<void()> &start,
                  const std::function<bool(zeplo::ReportPreview &)> &step,
                  const std::function<bool(const zeplo::ReportPreview &)> &ready = rendered)
{
    Poller poller([&] {
        zeplo::ReportPreview *preview = report.previewWindow();
        return preview && ready(*preview) && step(*preview);
    });
    start();
    return poller.done();
}
// The same with the report's own "&Tisk", report.preview().
template <class Report>
bool drivePreview(Report &report, const std::function<bool(zeplo::ReportPreview &)> &step,
                  const std::function<bool(const zeplo::ReportPreview &)> &ready = rendered)
{
    return drivePreview(report, [&] { report.preview(); }, step, ready);
}
