#include "widgets/WaitingScreen.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QCursor>
#include <QCoreApplication>
#include <QGuiApplication>

#include <utility>

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
        // Sent again in order, before the work held: the program sees each
        // activation as it happened (the count refreshed on the way back from
        // the preview, say), only later.
        for (const Kept &k : std::exchange(kept_, {})) {
            if (!k.receiver)
                continue;
            const auto type = QEvent::Type(k.type);
            QEvent *event = type == QEvent::FocusIn || type == QEvent::FocusOut
                                ? new QFocusEvent(type, Qt::FocusReason(k.reason))
                                : new QEvent(type);
            QCoreApplication::postEvent(k.receiver, event);
        }
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
    case QEvent::FocusAboutToChange:
        return true;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate: {
        const int reason = event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut
                               ? int(static_cast<QFocusEvent *>(event)->reason())
                               : 0;
        kept_.push_back({watched, int(event->type()), reason});
        return true;
    }
    default:
        return false;
    }
}

bool deferredWhileWaiting(QObject *context, const std::function<void()> &work)
{
    if (!CommandWait::active())
        return false;
    postWork(context, work);
    return true;
}

} // namespace zeplo
