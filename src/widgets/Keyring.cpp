#include "widgets/Keyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>

#include <qt6keychain/keychain.h>

#include "engine/Error.h"

namespace zeplo {

namespace {

const QString kService = QStringLiteral("zeplo");

// user@host:port/database: one entry a server's account.
QString keyOf(const ServerAccount &account)
{
    return QString::fromStdString(account.user + '@' + account.host + ':' + account.port + '/' + account.database);
}

// Runs a job of the service to its end. The service may ask the user to
// unlock the keyring first, in a window of its own, so there is no time limit;
// the windows of the program take no input meanwhile.
void finish(QKeychain::Job &job)
{
    job.setAutoDelete(false);
    bool done = false;
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    job.start();
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

QString Keyring::unavailableReason()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QStringLiteral("Heslo nelze zapamatovat: sezení nemá sběrnici D-Bus, přes kterou se hesla ukládají "
                              "do klíčenky.");
    QDBusConnectionInterface *names = bus.interface();
    for (const char *service : {"org.freedesktop.secrets", "org.kde.kwalletd6", "org.kde.kwalletd5"})
        if (names && names->isServiceRegistered(QLatin1String(service)))
            return QString();
    return QStringLiteral("Heslo nelze zapamatovat: na této ploše neběží klíčenka pro hesla "
                          "(GNOME Keyring, KWallet).");
}

std::optional<QString> Keyring::read(const ServerAccount &account)
{
    QKeychain::ReadPasswordJob job(kService);
    job.setKey(keyOf(account));
    finish(job);
    if (job.error() != QKeychain::NoError)
        return std::nullopt;
    return job.textData();
}

void Keyring::store(const ServerAccount &account, const QString &password)
{
    QKeychain::WritePasswordJob job(kService);
    job.setKey(keyOf(account));
    job.setTextData(password);
    finish(job);
    if (job.error() != QKeychain::NoError)
        throw Error(QStringLiteral("Heslo se nepodařilo uložit do klíčenky: %1").arg(job.errorString()));
}

void Keyring::forget(const ServerAccount &account)
{
    QKeychain::DeletePasswordJob job(kService);
    job.setKey(keyOf(account));
    finish(job);
}

} // namespace zeplo
