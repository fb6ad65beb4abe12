#include "app/TypingLimit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace zeplo {

void limitTyping(QComboBox *combo, int length)
{
    // A validator checks only what the user types or pastes; the text the
    // combo box sets when an entry is chosen is not checked.
    auto *validator = new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^.{0,%1}$").arg(length), QRegularExpression::DotMatchesEverythingOption),
        combo);
    combo->lineEdit()->setValidator(validator);
}

} // namespace zeplo
