#include "app/Application.h"

#include <QLocale>
#include <QMessageBox>

#include "engine/Engine.h"
#include "widgets/ErrorGuard.h"
#include "widgets/QtTranslations.h"
#include "app/FailureSite.h"
#include "app/Fonts.h"

namespace zeplo {

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    installFontSubstitutes();
    loadQtTranslations(QLocale());
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    bool handled = false;
    runGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void chooseCatalogue(const QStringList &arguments)
{
    const QString option = QStringLiteral("--catalogue");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == option) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
                throw Error(QStringLiteral("The option --catalogue needs a value: a catalogue file or a server URI"));
            Engine::setCatalogue(arguments[i + 1]);
            return;
        }
        if (arguments[i].startsWith(option + QLatin1Char('='))) {
            const QString value = arguments[i].mid(option.size() + 1);
            if (value.isEmpty())
                throw Error(QStringLiteral("The option --catalogue needs a value: a catalogue file or a server URI"));
            Engine::setCatalogue(value);
            return;
        }
    }
    if (qEnvironmentVariableIsSet("ZEPLO_CATALOGUE")) {
        const QString value = qEnvironmentVariable("ZEPLO_CATALOGUE");
        if (value.isEmpty())
            throw Error(QStringLiteral("The environment variable ZEPLO_CATALOGUE is empty: it should name a catalogue "
                                       "file or a server URI"));
        Engine::setCatalogue(value);
    }
}

QString startupErrorText(const std::exception &error)
{
    const QString message = QString::fromUtf8(error.what());
    const FailureSite site = failureSite(error);
    return QStringLiteral("Exception %1 in module %2 at %3.\n%4%5")
        .arg(site.className, site.module, QStringLiteral("%1").arg(site.address, 8, 16, QLatin1Char('0')).toUpper(),
             message, message.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral("."));
}

void showStartupError(const std::exception &error)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), startupErrorText(error),
                    QMessageBox::NoButton, nullptr);
    addOkButton(box);
    box.setObjectName(QStringLiteral("ApplicationErrorBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace zeplo
