#pragma once

#include <QCursor>
#include <QPointer>
#include <QWidget>

namespace zeplo {

// Shows the wait cursor for as long as it lives, and puts back what was shown
// before however the command ends, an exception included. Over every window
// for a command that holds the whole program (reopening the list), or over
// one window whose list is being walked while the other windows stay usable
// (the main window while the report is rendered).
class WaitCursor {
public:
    WaitCursor();
    explicit WaitCursor(QWidget *window);
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

private:
    bool overriding_ = false;
    QPointer<QWidget> window_;
    bool hadCursor_ = false;   // the window's own cursor, put back afterwards
    QCursor cursor_;
};

} // namespace zeplo
