#include "widgets/WaitingScreen.h"

#include <QCloseEvent>
#include <QCursor>
#include <QCoreApplication>
#include <QGuiApplication>

namespace zeplo {

void WaitingScreen::install()
{
    static WaitingScreen *screen = new WaitingScreen;   // lives as long as the process
    setWaitObserver(screen);
}

void WaitingScreen::stillWaiting(int elapsedMs)
{
    if (!cursor_ && elapsedMs >= kCursorAfterMs) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        cursor_ = true;
    }
    if (elapsedMs < kPaintAfterMs)
        return;
    if (!hold_) {
        hold_.emplace();
        qApp->installEventFilter(this);
    }
    // Socket notifiers and timers are not run at all; the rest passes the filter.
    QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers);
}

void WaitingScreen::doneWaiting()
{
    if (hold_) {
        qApp->removeEventFilter(this);
        hold_.reset();
        for (const QPointer<QObject> &object : deletions_)
            if (object)
                object->deleteLater();
        deletions_.clear();
    }
    if (cursor_) {
        QGuiApplication::restoreOverrideCursor();
        cursor_ = false;
    }
}

bool WaitingScreen::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Close:
        event->ignore();   // the window stays; closing it again later works
        return true;
    case QEvent::DeferredDelete:
        deletions_.emplace_back(watched);
        return true;
    case QEvent::Timer:              // a timer fires again at its next interval
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::Enter:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::FocusAboutToChange:
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
        return true;
    default:
        return false;
    }
}

} // namespace zeplo
