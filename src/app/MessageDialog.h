#pragma once

#include <QString>

namespace zeplo {

// The standard message dialog: a text, a kind (shown as the title and the
// icon) and its buttons.
enum class MessageKind { Warning, Error, Information, Confirmation };
enum class MessageButtons {
    Ok,      // "OK": Enter and Esc press it
    YesNo,   // "&Yes" and "&No": Enter presses "&Yes", Esc "&No"
};
// The button pressed; None when the dialog was closed another way.
enum class MessageAnswer { None, Yes, No, Ok };

MessageAnswer showMessage(const QString &text, MessageKind kind, MessageButtons buttons);

} // namespace zeplo
