// While a command waits for the server, the windows stay painted and show the
// wait cursor, and nothing else of the program runs.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "RelayedCatalogue.h"
#include "engine/WaitObserver.h"
#include "widgets/QueuedWork.h"

using namespace zeplo;

namespace {

// A window that notes what reaches it while a command waits.
struct Probe : QWidget {
    int paintsWhileWaiting = 0;
    int cursorWhileWaiting = -1;
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
        if (e->type() == QEvent::User)
            update();
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
    EXPECT_EQ(c.query.recordCount(), 100);
}
