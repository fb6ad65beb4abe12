#pragma once

#include <optional>

#include <QString>

#include "engine/ServerUri.h"

namespace zeplo {

// The desktop's secret service (the freedesktop Secret Service of GNOME
// Keyring or KWallet), where a server's password is kept when the user asks
// for it to be remembered: by server, port, database and user. The password
// goes to the service alone, never to a file, a setting or a message of ours.
class Keyring {
public:
    // Empty when a secret service runs in the user's session; otherwise why
    // no password can be remembered, in the user's words.
    static QString unavailableReason();

    // The password kept for `account`; none when nothing is kept or the
    // service cannot be asked.
    static std::optional<QString> read(const ServerAccount &account);
    // Keeps `password` for `account`, in place of one kept before; raises
    // Error with the service's reason when it cannot.
    static void store(const ServerAccount &account, const QString &password);
    // Drops what is kept for `account`, if anything; a failure is not an error.
    static void forget(const ServerAccount &account);
};

} // namespace zeplo
