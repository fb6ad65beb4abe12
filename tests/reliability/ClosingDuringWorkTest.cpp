// Closing the main window while the preview renders or a print runs ends the
// work cleanly: the report stops, its windows go, and no temporary file stays.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTest>
#include <QTemporaryFile>
#include <QTimer>

#include <functional>

#include "Children.h"
#include "PreviewDriver.h"
#include "PrintServer.h"
#include "TempCatalogue.h"
#include "app/MainWindow.h"
#include "app/BookListReport.h"
#include "engine/ResultSet.h"
#include "report/PageStore.h"
#include "widgets/ReportPreview.h"
#include "widgets/PrintProgressWindow.h"

using namespace zeplo;

namespace {

// Points the temporary folder elsewhere for the life of the object.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const QString &path) : saved_(qgetenv("TMPDIR"))
    {
        qputenv("TMPDIR", path.toLocal8Bit());
    }
    ~TemporaryFolder()
    {
        if (saved_.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", saved_);
    }

private:
    QByteArray saved_;
};

// The program as its start-up puts it together: the main window, and the
// report over its result set, closing with it.
struct Program {
    TempCatalogue catalogue;
    std::unique_ptr<MainWindow> form;
    std::unique_ptr<BookListReport> tisk;

    explicit Program(int books)
    {
        catalogue.addBooks(books);
        form = std::make_unique<MainWindow>();
        tisk = std::make_unique<BookListReport>(child<ResultSet>(*form, "Query1"));
        tisk->setMainWindow(form.get());
        form->setReport(tisk.get());
        form->skipSplash();
        form->show();
    }
};

} // namespace

TEST(ClosingDuringWork, ClosingTheMainWindowWhileThePreviewRendersEndsCleanly)
{
    const QStringList before = qrpTempFiles();
    Program program(1500);
    QString spilled;
    // Once the pages have moved to a temporary file; the command returns once the preview has gone.
    ASSERT_TRUE(drivePreview(*program.tisk, [&] { program.form->printList(); }, [&](ReportPreview &p) {
        if (!p.store() || p.store()->inMemory())
            return false;
        spilled = p.store()->temporaryFileName();
        EXPECT_TRUE(program.tisk->busy());
        return program.form->close();
    }, anyPreview));
    ASSERT_FALSE(spilled.isEmpty());
    EXPECT_FALSE(QFile::exists(spilled));
    EXPECT_EQ(qrpTempFiles(), before);
    EXPECT_FALSE(program.form->isVisible());
    EXPECT_FALSE(program.tisk->busy());
    EXPECT_EQ(program.tisk->previewWindow(), nullptr);
    EXPECT_EQ(program.catalogue.count(), 1500);
    // Taken apart in the start-up's order, as at the end of the program.
    program.tisk.reset();
    program.form.reset();
    EXPECT_EQ(qrpTempFiles(), before);
}

TEST(ClosingDuringWork, ClosingTheMainWindowWhileAPrintRunsEndsCleanly)
{
    PrintServer server;
    ASSERT_TRUE(server.started()) << server.problem().toStdString();
    ASSERT_TRUE(server.addQueue(QStringLiteral("Laser"), true));
    const QStringList before = qrpTempFiles();
    {
        Program program(900);
        int step = 0;
        bool closedWhilePrinting = false;
        ASSERT_TRUE(drivePreview(*program.tisk, [&] { program.form->printList(); }, [&](ReportPreview &p) {
            if (step == 0) {
                child<QAction>(p, "Print")->trigger();
                step = 1;
                return false;
            }
            PrintProgressWindow *w = visibleProgressWindow();
            if (!w || child<QProgressBar>(*w, "ProgressBar1")->value() < 10)
                return false;
            closedWhilePrinting = program.tisk->busy();
            return program.form->close();
        }));
        EXPECT_TRUE(closedWhilePrinting);
        // The stopped printout winds down.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !program.tisk->busy() && !visibleProgressWindow(); }));
        EXPECT_EQ(program.tisk->previewWindow(), nullptr);
        EXPECT_FALSE(program.form->isVisible());
    }
    // The pages made before the close are printed, as after a cancel.
    ASSERT_TRUE(server.waitForEndedJobs(QStringLiteral("Laser"), 1)) << server.problem().toStdString();
    EXPECT_GE(server.lastPrintout(QStringLiteral("Laser")).pages, 1);
    EXPECT_EQ(qrpTempFiles(), before);
}

TEST(ClosingDuringWork, WithoutAWritableTemporaryFolderThePreviewKeepsItsPagesInMemory)
{
    const QString unwritable = QStringLiteral("/proc");
    if (QTemporaryFile(unwritable + QStringLiteral("/QRPXXXXXX")).open())
        GTEST_SKIP() << "files can be made in " << unwritable.toStdString();
    Program program(1200);
    const TemporaryFolder folder(unwritable);
    int pages = 0;
    bool inMemory = false, shown = false;
    ASSERT_TRUE(drivePreview(*program.tisk, [&] { program.form->printList(); }, [&](ReportPreview &p) {
        pages = p.pageCount();
        inMemory = p.store()->inMemory();
        p.lastPage();
        shown = p.pageShown();
        return p.close();
    }));
    EXPECT_EQ(pages, 20);
    EXPECT_TRUE(inMemory);
    EXPECT_TRUE(shown);
}
