#include "widgets/FieldMemo.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextDocument>

#include "widgets/ErrorGuard.h"
#include "engine/CharacterCount.h"
#include "engine/Field.h"

using namespace zeplo;

namespace {

const QString kTooLong = QStringLiteral("(Text exceeds memo capacity)");

// Every stored line break ("\r\n", "\n", a lone "\r") becomes one "\n".
QString toDisplayBreaks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

FieldMemo::FieldMemo(QWidget *parent) : QPlainTextEdit(parent), FieldLink(this)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!loading())
            markModified();
    });
    editingChanged();
}

FieldMemo::~FieldMemo() = default;

void FieldMemo::setCapacity(qsizetype characters)
{
    capacity_ = characters;
    reload();
}

QString FieldMemo::memoText() const
{
    showWaitingText();
    return documentText();
}

QString FieldMemo::documentText() const
{
    // The raw text keeps no-break spaces, which toPlainText() would turn into
    // ordinary ones; only the block and line separators need mapping.
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    text.replace(QChar::LineSeparator, QLatin1String("\r\n"));
    return text;
}

bool FieldMemo::showsWholeText() const
{
    return field() && field()->kind() == FieldKind::Memo;
}

void FieldMemo::showField()
{
    QString shown;
    tooLong_ = false;
    if (Field *f = field()) {
        if (showsWholeText())
            shown = f->text();
        else
            shown = entered() && f->canModify() ? f->text() : f->displayText();
        shown = toDisplayBreaks(shown);
        if (shown.size() > capacity_ && characterCount(shown) > capacity_) {
            shown = kTooLong;
            tooLong_ = true;
        }
    }
    editingChanged();
    if (paintHeld()) {
        // Laying a text out costs more than all else a move does; during a
        // fast walk only the last row of each frame is ever seen.
        waitingText_ = shown;
        textWaits_ = true;
        return;
    }
    show(shown);
}

void FieldMemo::show(const QString &text)
{
    textWaits_ = false;
    waitingText_.clear();
    if (toDisplayBreaks(documentText()) == text)
        return;   // keeps the cursor and the scroll position
    Loading loading(this);
    setPlainText(text);
}

void FieldMemo::showWaitingText() const
{
    if (textWaits_) {
        auto *self = const_cast<FieldMemo *>(this);
        self->show(QString(waitingText_));
    }
}

void FieldMemo::frameEnded()
{
    showWaitingText();
}

QString FieldMemo::toPlainText() const
{
    showWaitingText();
    return QPlainTextEdit::toPlainText();
}

void FieldMemo::storeField()
{
    field()->setAsText(memoText());
}

void FieldMemo::editingChanged()
{
    const bool readOnly = !takesTyping();
    if (readOnly == isReadOnly())
        return;
    QPlainTextEdit::setReadOnly(readOnly);
    // Still readable from the keyboard: the caret moves, scrolls and selects.
    if (readOnly)
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

bool FieldMemo::startTyping()
{
    return !tooLong_ && startEditing();
}

bool FieldMemo::event(QEvent *event)
{
    // Esc belongs to the memo (it brings the stored text back), not to a
    // window's cancel shortcut.
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return QPlainTextEdit::event(event);
}

void FieldMemo::keyPressEvent(QKeyEvent *event)
{
    showWaitingText();
    bool passOn = false;
    runGuarded([&] {
        const int key = event->key();
        if (key == Qt::Key_Escape) {
            reload();
            return;
        }
        if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut) || key == Qt::Key_Backspace
            || key == Qt::Key_Delete || key == Qt::Key_Return || key == Qt::Key_Enter) {
            passOn = startTyping();
            return;
        }
        if (typesText(event)) {
            passOn = acceptsTyped(event->text()) && startTyping();
            return;
        }
        if (event->text() == QLatin1String("\n")) {   // line feed (Ctrl+J)
            passOn = startTyping();
            return;
        }
        passOn = true;   // moving, scrolling, selecting, copying
    });
    if (passOn)
        QPlainTextEdit::keyPressEvent(event);
    else
        event->accept();
}

void FieldMemo::insertFromMimeData(const QMimeData *source)
{
    showWaitingText();
    if (!source || !source->hasText())
        return;
    runGuarded([&] {
        if (refuses(source->text())) {
            QApplication::beep();
            return;
        }
        if (takesTyping())
            QPlainTextEdit::insertFromMimeData(source);
    });
}

void FieldMemo::focusInEvent(QFocusEvent *event)
{
    showWaitingText();
    runGuarded([&] {
        // A column of another kind swaps its display text for the text to edit.
        if (enter() && !showsWholeText() && !modified())
            reload();
    });
    QPlainTextEdit::focusInEvent(event);
}

void FieldMemo::focusOutEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusOutEvent(event);
    runGuarded([&] {
        if (leave(event->reason()) && !showsWholeText() && !modified())
            reload();
    });
}
