#include "widgets/FieldLink.h"

#include <QKeyEvent>

#include <exception>

#include <QApplication>
#include <QMetaObject>
#include <QScopedValueRollback>
#include <QWidget>

#include "widgets/ErrorGuard.h"
#include "widgets/PaintPacer.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"
#include "widgets/QueuedWork.h"

namespace zeplo {

FieldLink::FieldLink(QWidget *control) : control_(control) {}

FieldLink::~FieldLink() = default;

void FieldLink::setDataSource(DataSource *source)
{
    if (source == dataSource())
        return;
    DataLink::setDataSource(source);
    bindField();
}

void FieldLink::setDataField(const QString &name)
{
    if (name == dataField_)
        return;
    dataField_ = name;
    bindField();
}

void FieldLink::setLinkReadOnly(bool readOnly)
{
    if (readOnly == readOnly_)
        return;
    readOnly_ = readOnly;
    editingChanged();
    reload();
}

void FieldLink::bindField()
{
    const bool open = active();
    field_ = open && !dataField_.isEmpty() ? dataSet()->findField(dataField_) : nullptr;
    editingChanged();
    reload();
    if (open && !dataField_.isEmpty() && !field_)
        throw Error(QStringLiteral("%1: Field '%2' not found").arg(control_->objectName(), dataField_));
}

void FieldLink::reload()
{
    modified_ = false;
    showField();
}

void FieldLink::writeBack()
{
    if (!modified_ || !field_ || !editing())
        return;
    storeField();
    modified_ = false;
}

bool FieldLink::startEditing()
{
    if (!field_ || readOnly_ || !field_->canModify() || !dataSource())
        return false;
    dataSource()->edit();
    return editing();
}

bool FieldLink::acceptsInput() const
{
    return field_ && editing() && field_->canModify();
}

bool FieldLink::typesText(const QKeyEvent *event)
{
    const QString text = event->text();
    const bool chord = (event->modifiers() & Qt::ControlModifier) && !(event->modifiers() & Qt::AltModifier);
    if (text.isEmpty() || chord)
        return false;
    // Character by character: the two halves of an emoji are not printable on their own.
    for (const uint c : text.toUcs4())
        if (!QChar::isPrint(c))
            return false;
    return true;
}

bool FieldLink::refuses(const QString &text) const
{
    if (!field_)
        return false;
    for (QChar c : text)
        if (!field_->acceptsChar(c))
            return true;
    return false;
}

bool FieldLink::acceptsTyped(const QString &typed) const
{
    if (!refuses(typed))
        return true;
    QApplication::beep();
    return false;
}

bool FieldLink::enter()
{
    if (entered_)
        return false;
    entered_ = true;
    return true;
}

bool FieldLink::leave(int focusReason)
{
    if (!entered_)
        return false;
    // Another window, a context menu or the menu bar only borrows the focus.
    if (focusReason == Qt::ActiveWindowFocusReason || focusReason == Qt::PopupFocusReason
        || focusReason == Qt::MenuBarFocusReason)
        return false;
    try {
        writeBack();
    } catch (const std::exception &e) {
        // The focus change is under way and cannot be stopped from inside it:
        // once it is over, take the focus back and tell the user.
        const QString message = QString::fromUtf8(e.what());
        postWork(control_, [this, message] {
            control_->setFocus(Qt::OtherFocusReason);
            failedWriteBack();
            showApplicationError(message);
        });
        return false;
    }
    entered_ = false;
    return true;
}

bool FieldLink::paintHeld() const
{
    return following_ && pacer_ && pacer_->holding();
}

bool FieldLink::canTakeFocus() const
{
    if (!control_->isVisible() || !control_->isEnabled() || control_->focusPolicy() == Qt::NoFocus)
        return false;
    const QWidget *modal = QApplication::activeModalWidget();
    return !modal || modal == control_->window();
}

void FieldLink::dataEvent(DataEvent event, Field *field)
{
    switch (event) {
    case DataEvent::ActiveChanged:
        bindField();
        break;
    case DataEvent::StateChanged:
        editingChanged();
        reload();
        break;
    case DataEvent::DataSetChanged:
    case DataEvent::Scrolled:
        if (!pacer_) {
            pacer_ = new PaintPacer(control_);
            pacer_->onRelease = [this] { frameEnded(); };
        }
        pacer_->beforeChange();
        {
            const QScopedValueRollback following(following_, true);
            reload();
        }
        break;
    case DataEvent::RecordChanged:
        if (!field || field == field_)
            reload();
        break;
    case DataEvent::UpdateData:
        try {
            writeBack();
        } catch (const std::exception &) {
            // The post stops here; the user corrects the value where it was
            // typed, as after leaving the box.
            if (canTakeFocus()) {
                control_->setFocus(Qt::OtherFocusReason);
                failedWriteBack();
            }
            throw;
        }
        break;
    case DataEvent::FocusControl:
        if (field && field == field_ && canTakeFocus())
            control_->setFocus(Qt::OtherFocusReason);
        break;
    }
}

} // namespace zeplo
