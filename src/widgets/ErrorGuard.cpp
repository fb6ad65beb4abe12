#include "widgets/ErrorGuard.h"
#include "widgets/WaitingScreen.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace zeplo {

QString applicationTitle()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (name.isEmpty())
        name = QCoreApplication::applicationName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot >= 0 ? name.left(dot) : name;
}

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

QPushButton *addOkButton(QMessageBox &box)
{
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    return ok;
}

void showApplicationError(const QString &message)
{
    // No box opens while a command waits for the server: it is shown after.
    if (deferredWhileWaiting(qApp, [message] { showApplicationError(message); }))
        return;
    QMessageBox box(QMessageBox::Critical, applicationTitle(), errorBoxText(message));
    addOkButton(box);
    box.setObjectName(QStringLiteral("ApplicationErrorBox"));
    box.exec();
}

bool runGuarded(const std::function<void()> &fn)
{
    try {
        fn();
        return true;
    } catch (const Error &e) {
        showApplicationError(e.message());
    } catch (const std::exception &e) {
        showApplicationError(QString::fromUtf8(e.what()));
    }
    return false;
}

} // namespace zeplo
