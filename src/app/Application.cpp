#include "app/Application.h"

#include <QLocale>
#include <QMessageBox>

#include "engine/Engine.h"
#include "widgets/ErrorGuard.h"
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
