#include "widgets/FieldCheckBox.h"

#include <QFocusEvent>
#include <QKeyEvent>

#include "widgets/ErrorGuard.h"
#include "engine/Field.h"

using namespace zeplo;

namespace {

bool matchesEntry(const QString &text, const QString &entries)
{
    const QStringList list = entries.split(QLatin1Char(';'));
    for (const QString &entry : list)
        if (text.compare(entry, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString firstEntry(const QString &entries)
{
    return entries.section(QLatin1Char(';'), 0, 0);
}

} // namespace

FieldCheckBox::FieldCheckBox(QWidget *parent) : QCheckBox(parent), FieldLink(this)
{
    setTristate(true);
}

FieldCheckBox::~FieldCheckBox() = default;

void FieldCheckBox::setStateQuietly(Qt::CheckState state)
{
    ++settingState_;
    setCheckState(state);
    shown_ = state;
    --settingState_;
}

void FieldCheckBox::showField()
{
    Qt::CheckState state = Qt::Unchecked;   // closed: no field
    if (Field *f = field()) {
        const QVariant value = f->value();
        if (value.isNull())
            state = Qt::PartiallyChecked;
        else if (f->kind() == FieldKind::Logical)
            state = value.toBool() ? Qt::Checked : Qt::Unchecked;
        else if (matchesEntry(f->text(), checkedTexts_))
            state = Qt::Checked;
        else if (matchesEntry(f->text(), uncheckedTexts_))
            state = Qt::Unchecked;
        else
            state = Qt::PartiallyChecked;
    }
    setStateQuietly(state);
}

void FieldCheckBox::storeField()
{
    Field *f = field();
    const Qt::CheckState state = checkState();
    if (state == Qt::PartiallyChecked)
        f->clear();
    else if (f->kind() == FieldKind::Logical)
        f->setValue(QVariant(state == Qt::Checked));
    else
        f->setAsText(firstEntry(state == Qt::Checked ? checkedTexts_ : uncheckedTexts_));
}

void FieldCheckBox::toggleThroughGate()
{
    runGuarded([this] {
        if (!startEditing())
            return;
        setStateQuietly(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        markModified();
    });
}

void FieldCheckBox::nextCheckState()
{
    // Clicks and the space bar end here.
    toggleThroughGate();
}

void FieldCheckBox::checkStateSet()
{
    QCheckBox::checkStateSet();
    if (settingState_ > 0 || checkState() == shown_)
        return;
    // Changed past the gate (toggle(), setChecked(), an assistive tool's
    // toggle action): undo it and take it as one toggle by the user.
    setStateQuietly(shown_);
    toggleThroughGate();
}

void FieldCheckBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Backspace) {
        runGuarded([this] { startEditing(); });
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        runGuarded([this] { reload(); });
        event->accept();
        return;
    }
    QCheckBox::keyPressEvent(event);
}

void FieldCheckBox::focusInEvent(QFocusEvent *event)
{
    enter();
    QCheckBox::focusInEvent(event);
}

void FieldCheckBox::focusOutEvent(QFocusEvent *event)
{
    QCheckBox::focusOutEvent(event);
    leave(event->reason());
}
