#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <utility>

#include <QString>

#include "engine/Error.h"

class QMessageBox;
class QPushButton;

namespace zeplo {

// Gives a message box the button "OK", its default and its escape: the
// program's own text, not Qt's, which follows the user's language.
QPushButton *addOkButton(QMessageBox &box);

// The application's title: the program file's name without its folder, cut
// before its first full stop.
QString applicationTitle();

// Text of the application error box: the message with a full stop appended when
// its last character has a code above that of ".".
QString errorBoxText(const QString &message);

// The application error box: error icon, OK button, the application's title.
void showApplicationError(const QString &message);

// The one error guard: runs `fn`, and if it throws, shows the application error
// box and returns normally so that no exception crosses a Qt frame.
// Returns false when `fn` failed.
bool runGuarded(const std::function<void()> &fn);

// Wraps a handler so that it always runs inside the guard; for connect().
template <class F>
auto guarded(F &&fn)
{
    return [f = std::forward<F>(fn)](auto &&...) { runGuarded(f); };
}

} // namespace zeplo
