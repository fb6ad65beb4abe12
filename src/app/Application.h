#pragma once

#include <exception>

#include <QApplication>

#include "engine/CatalogueChoice.h"

namespace zeplo {

// The application object. Its notify() is the outermost handler: a failure
// that escapes an event handler ends in the application error box, and the
// message loop goes on.
class Application : public QApplication {
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Before the main window, on a server catalogue: the first session, with the
// password taken from the keyring or asked for when the server wants one
// (logInToServer). Does nothing on a catalogue file.
void logInToCatalogueServer();

// The "Application Error" box for a failure before the message loop runs:
// no owner window, task-modal.
void showStartupError(const std::exception &error);
QString startupErrorText(const std::exception &error);
// Its message: the error's own, or for a server that cannot be reached, the
// server named in plain words and the way to another catalogue.
QString startupMessage(const std::exception &error);

} // namespace zeplo
