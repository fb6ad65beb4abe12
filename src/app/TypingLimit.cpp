#include "app/TypingLimit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QValidator>

#include "engine/CharacterCount.h"

namespace zeplo {

namespace {

// Refuses any edit that leaves the text longer than the limit and longer than
// it was. A longer entry chosen from the list comes in whole and can then be
// shortened, never lengthened.
class LengthLimit : public QValidator {
public:
    LengthLimit(QLineEdit *edit, int length)
        : QValidator(edit), edit_(edit), length_(length), accepted_(characterCount(edit->text()))
    {
        connect(edit, &QLineEdit::textChanged, this,
                [this](const QString &text) { accepted_ = characterCount(text); });
    }

    State validate(QString &input, int &) const override
    {
        // Text the program sets (an entry chosen from the list) leaves the box
        // unmodified; it must count as valid, or the box would take the next
        // typed character unchecked.
        if (!edit_->isModified())
            return Acceptable;
        const qsizetype characters = characterCount(input);
        return characters <= length_ || characters < accepted_ ? Acceptable : Invalid;
    }

private:
    QLineEdit *edit_;
    int length_;
    qsizetype accepted_;
};

} // namespace

void limitTyping(QComboBox *combo, int length)
{
    combo->lineEdit()->setValidator(new LengthLimit(combo->lineEdit(), length));
}

} // namespace zeplo
