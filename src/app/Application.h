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

// The "Application Error" box for a failure before the message loop runs:
// no owner window, task-modal.
void showStartupError(const std::exception &error);
QString startupErrorText(const std::exception &error);

} // namespace zeplo
