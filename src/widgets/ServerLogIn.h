#pragma once

#include <functional>

#include <QString>

#include "engine/Error.h"

namespace zeplo {

// The user closed the password window with Zrušit: the start ends, as a
// failed start does, without a box to say what the user already knows.
class LogInCancelled : public Error {
public:
    LogInCancelled() : Error(QStringLiteral("Přihlášení k serveru katalogu bylo zrušeno")) {}
};

// Makes the first session with the catalogue server `uri` through `connect`,
// which raises PgConnectFailed when it cannot. When the server needs a
// password that was not given (in the URI, ~/.pgpass or PGPASSWORD), it takes
// the one the keyring keeps for the server's account, or asks the user in the
// password window: three tries, each refusal said in the window, then the
// server's refusal goes on as the start's error. "Zapamatovat heslo" keeps an
// accepted password in the keyring; a kept one the server refuses is dropped
// and asked for again. Returns the password accepted, empty when none was
// needed; raises LogInCancelled for Zrušit, and whatever else `connect` raises.
QString logInToServer(const QString &uri, const std::function<void(const QString &password)> &connect);

} // namespace zeplo
