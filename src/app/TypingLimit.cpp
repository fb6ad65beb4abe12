#include "app/TypingLimit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QValidator>

namespace zeplo {

namespace {

// Refuses any edit that leaves the text longer than the limit and longer than
// it was. A longer entry chosen from the list comes in whole (the validator
// does not see text the program sets) and can then be shortened, never
// lengthened.
class LengthLimit : public QValidator {
public:
    LengthLimit(QLineEdit *edit, int length) : QValidator(edit), length_(length), accepted_(edit->text().size())
    {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) { accepted_ = text.size(); });
    }

    State validate(QString &input, int &) const override
    {
        return input.size() <= length_ || input.size() < accepted_ ? Acceptable : Invalid;
    }

private:
    int length_;
    qsizetype accepted_;
};

} // namespace

void limitTyping(QComboBox *combo, int length)
{
    combo->lineEdit()->setValidator(new LengthLimit(combo->lineEdit(), length));
}

} // namespace zeplo
