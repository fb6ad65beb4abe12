#pragma once

#include <exception>

#include <QApplication>

namespace zeplo {

// The application object. Its notify() is the outermost handler: a failure
// that escapes an event handler ends in the application error box, and the
// message loop goes on.
class Application : public QApplication {
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Names the catalogue of this run: `--catalogue VALUE` (or --catalogue=VALUE),
// else the environment variable ZEPLO_CATALOGUE; with neither, zeplo.db in the
// working directory. Raises an Error for an option without a value.
void chooseCatalogue(const QStringList &arguments);

// The "Application Error" box for a failure before the message loop runs:
// no owner window, task-modal.
void showStartupError(const std::exception &error);
QString startupErrorText(const std::exception &error);

} // namespace zeplo
