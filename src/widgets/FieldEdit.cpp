#include "widgets/FieldEdit.h"

#include <limits>

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QValidator>

#include "widgets/ErrorGuard.h"
#include "engine/CharacterCount.h"
#include "engine/Field.h"

using namespace zeplo;

// Keeps out of the box whatever reaches it without passing the key handling
// (the context menu's Paste, drag and drop, input methods): characters the
// field's kind does not take, and growth past the maximum length.
class FieldEdit::CharValidator : public QValidator {
public:
    explicit CharValidator(FieldEdit *edit) : QValidator(edit), edit_(edit) {}
    State validate(QString &input, int &) const override
    {
        if (edit_->refuses(input))
            return Invalid;
        if (edit_->maxLength_ <= 0 || input.size() <= edit_->maxLength_)
            return Acceptable;
        const qsizetype characters = characterCount(input);
        if (characters > edit_->maxLength_ && characters > characterCount(edit_->lastText_))
            return Invalid;
        return Acceptable;
    }

private:
    FieldEdit *edit_;
};

FieldEdit::FieldEdit(QWidget *parent) : QLineEdit(parent), FieldLink(this)
{
    // The box's own limit would cut long values when they are shown; the
    // declared maximum length is enforced on typing and pasting instead.
    QLineEdit::setMaxLength(std::numeric_limits<int>::max());
    setValidator(new CharValidator(this));
    connect(this, &QLineEdit::textChanged, this, [this](const QString &text) {
        lastText_ = text;
        // Any change counts, the program's own setText included.
        if (!loading())
            markModified();
    });
    connect(this, &QLineEdit::textEdited, this, [this] { selectOnReturn_ = false; });
    editingChanged();
}

FieldEdit::~FieldEdit() = default;

int FieldEdit::room() const
{
    if (maxLength_ <= 0)
        return std::numeric_limits<int>::max();
    return std::max<int>(0, maxLength_ - int(characterCount(text()) - characterCount(selectedText())));
}

void FieldEdit::showField()
{
    QString shown;
    if (Field *f = field()) {
        if (maxLength_ == 0 && f->kind() == FieldKind::Text)
            maxLength_ = f->size();
        shown = entered() && f->canModify() ? f->text() : f->displayText();
    }
    updateAlignment();
    if (shown == text())
        return;   // keeps the cursor and selection when nothing changed
    Loading loading(this);
    lastText_ = shown;
    setText(shown);
}

void FieldEdit::storeField()
{
    field()->setAsText(text());
}

void FieldEdit::editingChanged()
{
    QLineEdit::setReadOnly(!acceptsInput());
}

void FieldEdit::failedWriteBack()
{
    // Selected for retyping now, and again whenever the focus comes back from
    // another window (the error box) until the user types or moves on: the
    // box may be shown again meanwhile, which drops the selection.
    selectAll();
    selectOnReturn_ = true;
}

void FieldEdit::updateAlignment()
{
    const bool right = field() && field()->isNumeric() && !entered();
    setAlignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
}

void FieldEdit::pasteChecked()
{
    QString clip = QGuiApplication::clipboard()->text();
    // A single-line box takes the first line only.
    for (qsizetype i = 0; i < clip.size(); ++i) {
        if (clip[i] == QLatin1Char('\r') || clip[i] == QLatin1Char('\n')) {
            clip.truncate(i);
            break;
        }
    }
    if (refuses(clip)) {
        QApplication::beep();
        return;
    }
    clip = leftCharacters(clip, room());
    if (clip.isEmpty() && !hasSelectedText())
        return;
    insert(clip);
}

void FieldEdit::keyPressEvent(QKeyEvent *event)
{
    bool passOn = false;
    runGuarded([&] {
        if (event->key() == Qt::Key_Escape) {
            reload();
            selectAll();
            return;
        }
        if (event->matches(QKeySequence::Paste)) {
            if (startEditing())
                pasteChecked();
            return;
        }
        if (event->matches(QKeySequence::Cut) || event->key() == Qt::Key_Backspace
            || event->key() == Qt::Key_Delete) {
            passOn = startEditing();
            return;
        }
        if (typesText(event)) {
            passOn = acceptsTyped(event->text()) && startEditing() && characterCount(event->text()) <= room();
            return;
        }
        passOn = true;   // moving, selecting, copying, Enter, Tab
    });
    if (passOn)
        QLineEdit::keyPressEvent(event);
    else
        event->accept();
}

void FieldEdit::focusInEvent(QFocusEvent *event)
{
    runGuarded([&] {
        // Entering shows the text for editing. A change not yet written back
        // (the program's setText) is kept rather than thrown away.
        if (enter() && !modified())
            reload();
        else
            updateAlignment();
    });
    QLineEdit::focusInEvent(event);
    if (selectOnReturn_)
        selectAll();
}

void FieldEdit::focusOutEvent(QFocusEvent *event)
{
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        selectOnReturn_ = false;
    QLineEdit::focusOutEvent(event);
    runGuarded([&] {
        if (!leave(event->reason()))
            return;
        if (modified())
            updateAlignment();
        else
            reload();   // back to the display text
    });
}
