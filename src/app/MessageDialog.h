#pragma once

#include <QString>

namespace zeplo {

// The standard message dialog: a text, a type (shown as the title) and a set of buttons.
enum class MsgType { Warning, Error, Information, Confirmation };
enum MsgButton { mbYes = 1, mbNo = 2, mbOK = 4 };
enum class ModalResult { None, Yes, No, Ok };

// Enter presses the first button of the set; Esc presses "&No" when it is
// offered, otherwise the only button.
ModalResult messageDlg(const QString &text, MsgType type, int buttons);

} // namespace zeplo
