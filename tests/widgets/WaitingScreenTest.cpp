// While a command waits for the server, the windows stay painted and show the
// wait cursor, and nothing else of the program runs.
#include <gtest/gtest.h>

#include <functional>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "RelayedCatalogue.h"
#include "engine/DataSource.h"
#include "engine/WaitObserver.h"
#include "widgets/DataGrid.h"
#include "widgets/QueuedWork.h"

using namespace zeplo;

namespace {

// A window that notes what reaches it while a command waits.
struct Probe : QWidget {
    int paintsWhileWaiting = 0;
    int cursorWhileWaiting = -1;
    int activations = 0, activationsWhileWaiting = 0;
    std::function<void()> onUser;
    void paintEvent(QPaintEvent *) override
    {
        if (!CommandWait::active())
            return;
        ++paintsWhileWaiting;
        if (const QCursor *cursor = QGuiApplication::overrideCursor())
            cursorWhileWaiting = cursor->shape();
    }
    // Something of Qt's own, neither input nor the program's work: it passes.
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User) {
            update();
            if (onUser)
                onUser();
        }
        if (e->type() == QEvent::WindowActivate) {
            ++activations;
            activationsWhileWaiting += CommandWait::active() ? 1 : 0;
        }
        return QWidget::event(e);
    }
};

} // namespace

TEST(WaitingScreen, WhileACommandWaitsTheWindowsArePaintedAndNothingElseOfTheProgramRuns)
{
    RelayedCatalogue c(100);
    Probe probe;
    probe.resize(120, 80);
    probe.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
    bool timerRan = false, workRan = false, ranWhileWaiting = false;
    QTimer::singleShot(1, Qt::PreciseTimer, &probe, [&] {
        timerRan = true;
        ranWhileWaiting = ranWhileWaiting || CommandWait::active();
    });
    postWork(&probe, [&] {
        workRan = true;
        ranWhileWaiting = ranWhileWaiting || CommandWait::active();
    });
    QCoreApplication::postEvent(&probe, new QCloseEvent);
    // A window activated meanwhile hears of it once the command has returned.
    const int activations = probe.activations;
    QCoreApplication::postEvent(&probe, new QEvent(QEvent::WindowActivate));
    // A grid on the list being read, resized meanwhile, takes its new height after.
    DataSource source;
    source.setDataSet(&c.query);
    DataGrid grid;
    grid.setDataSource(&source);
    grid.resize(300, 200);
    grid.show();
    const int rowsBefore = c.query.windowRowCount();
    int rowsWhileWaiting = -1;
    probe.onUser = [&] {
        grid.resize(300, 400);
        rowsWhileWaiting = c.query.windowRowCount();
    };
    QCoreApplication::postEvent(&probe, new QEvent(QEvent::User));

    c.relay->freeze(true);
    EXPECT_THROW(c.query.recordCount(), EngineError);
    c.relay->freeze(false);
    EXPECT_GT(probe.paintsWhileWaiting, 0);
    EXPECT_EQ(probe.cursorWhileWaiting, int(Qt::WaitCursor));
    EXPECT_TRUE(probe.isVisible());   // closing was refused
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // What was held back runs once the command has returned.
    EXPECT_TRUE(QTest::qWaitFor([&] { return timerRan && workRan; }));
    EXPECT_FALSE(ranWhileWaiting);
    EXPECT_EQ(rowsWhileWaiting, rowsBefore);
    EXPECT_TRUE(QTest::qWaitFor([&] { return c.query.windowRowCount() == grid.visibleRowCount(); }));
    EXPECT_GT(c.query.windowRowCount(), rowsBefore);
    EXPECT_TRUE(QTest::qWaitFor([&] { return probe.activations > activations; }));
    EXPECT_EQ(probe.activationsWhileWaiting, 0);
    EXPECT_EQ(c.query.recordCount(), 100);
}
