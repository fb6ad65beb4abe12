#pragma once

#include <exception>
#include <functional>
#include <utility>

#include <QString>

class QWidget;

namespace zeplo::transfer {

// The window's name: the title of the window and of each of its boxes.
QString windowName();

// What the user is told of a failure, in Czech: the catalogue locked by
// another program, a server that cannot be reached or refuses the user (one
// sentence, the client library's own words on a line below), memory running
// out, or the failure's own message, which the books library gives in Czech.
QString failureText(const std::exception &failure);

// A message as a box shows it: its first line ended by a full stop unless it
// ends a sentence already ("?", "!", "…", "."); the lines below as they are.
QString asSentence(const QString &text);

// The window's error box: an error icon, the window's name as its title, the
// text as a sentence, and "OK".
void showFailure(QWidget *parent, const QString &text);

// Runs `work`; whatever it throws is shown in the window's error box.
// Returns false when it failed.
bool runShowingFailure(QWidget *parent, const std::function<void()> &work);

// A handler for connect() that always runs inside runShowingFailure.
template <class F>
auto showingFailure(QWidget *parent, F &&work)
{
    return [parent, f = std::forward<F>(work)](auto &&...) { runShowingFailure(parent, f); };
}

} // namespace zeplo::transfer
