#include "widgets/ServerLogIn.h"

#include <QMessageBox>

#include "engine/PgConnection.h"
#include "engine/ServerUri.h"
#include "widgets/ErrorGuard.h"
#include "widgets/Keyring.h"
#include "widgets/PasswordWindow.h"

namespace zeplo {

namespace {

constexpr int kTries = 3;

bool wantsPassword(const PgConnectFailed &e)
{
    return e.problem == ServerProblem::PasswordNeeded || e.problem == ServerProblem::PasswordRefused;
}

// The kept password; none when the keyring cannot be asked.
std::optional<QString> keptPassword(const ServerAccount &account, const QString &keyringProblem)
{
    if (!keyringProblem.isEmpty())
        return std::nullopt;
    return Keyring::read(account);
}

void keep(const ServerAccount &account, const QString &password)
{
    try {
        Keyring::store(account, password);
    } catch (const Error &e) {
        // The run goes on with the password it has; the user learns why the
        // next start asks again.
        showApplicationError(e.message());
    }
}

} // namespace

QString logInToServer(const QString &uri, const std::function<void(const QString &password)> &connect)
{
    try {
        connect(QString());
        return QString();
    } catch (const PgConnectFailed &e) {
        if (e.problem != ServerProblem::PasswordNeeded)
            throw;
    }
    const ServerAccount account = serverAccount(uri.toStdString());
    const QString keyringProblem = Keyring::unavailableReason();
    bool keptRefused = false;
    if (const std::optional<QString> kept = keptPassword(account, keyringProblem)) {
        try {
            connect(*kept);
            return *kept;
        } catch (const PgConnectFailed &e) {
            if (!wantsPassword(e))
                throw;
            Keyring::forget(account);
            keptRefused = true;
        }
    }
    PasswordWindow window(account, keyringProblem);
    if (keptRefused) {
        // Asked again, and replaced in the keyring when the new one is taken.
        window.refused();
        window.setRemember(true);
    }
    for (int tries = 1;; ++tries) {
        if (window.exec() != QDialog::Accepted)
            throw LogInCancelled();
        const QString password = window.password();
        try {
            connect(password);
        } catch (const PgConnectFailed &e) {
            if (!wantsPassword(e) || tries == kTries)
                throw;
            window.refused();
            continue;
        }
        if (window.remember())
            keep(account, password);
        return password;
    }
}

} // namespace zeplo
