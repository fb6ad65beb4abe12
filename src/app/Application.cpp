#include "app/Application.h"

#include <QLocale>
#include <QMessageBox>

#include "engine/Engine.h"
#include "engine/PgConnection.h"
#include "engine/ServerUri.h"
#include "widgets/ErrorGuard.h"
#include "widgets/ServerLogIn.h"
#include "widgets/WaitingScreen.h"
#include "widgets/QtTranslations.h"
#include "app/FailureSite.h"
#include "report/Fonts.h"

namespace zeplo {

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    installFontSubstitutes();
    WaitingScreen::install();
    loadQtTranslations(QLocale());
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    bool handled = false;
    runGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void logInToCatalogueServer()
{
    const QString uri = Engine::catalogue();
    if (!isServerUri(uri.toStdString()))
        return;
    logInToServer(uri, [](const QString &password) {
        Engine::setServerPassword(password);
        Engine::openDefault();
    });
}

namespace {

// What a user at home can tell of a server that cannot be reached; empty for
// other failures, whose own text says more.
QString unreachable(ServerProblem problem, const ServerAccount &server)
{
    const QString host = QString::fromStdString(server.host);
    const QString port = QString::fromStdString(server.port);
    switch (problem) {
    case ServerProblem::UnknownHost:
        return QStringLiteral("Počítač „%1“, na kterém má být server katalogu, se v síti nenašel.").arg(host);
    case ServerProblem::Unreachable:
        return QStringLiteral("Server katalogu na počítači „%1“ (port %2) není k zastižení: počítač je "
                              "vypnutý, mimo síť, nebo na něm server neběží.")
            .arg(host, port);
    case ServerProblem::NoAnswer:
        return QStringLiteral("Server katalogu na počítači „%1“ (port %2) neodpověděl.").arg(host, port);
    default:
        return QString();
    }
}

} // namespace

QString startupMessage(const std::exception &error)
{
    const QString message = QString::fromUtf8(error.what());
    const auto *failed = dynamic_cast<const PgConnectFailed *>(&error);
    if (!failed)
        return message;
    const QString plain = unreachable(failed->problem, serverAccount(Engine::catalogue().toStdString()));
    if (plain.isEmpty())
        return message;
    return plain
           + QStringLiteral(" Zapněte ho nebo ho připojte k síti a spusťte Zeplo znovu. Jiný katalog zvolíte "
                            "v okně „Zeplo – převod knih“ tlačítkem „Změnit…“.\n\n")
           + message;
}

QString startupErrorText(const std::exception &error)
{
    const QString message = startupMessage(error);
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
