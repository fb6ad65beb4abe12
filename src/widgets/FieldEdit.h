#pragma once

#include <QLineEdit>

#include "widgets/FieldLink.h"

namespace zeplo {

// An edit box bound to one field of the current row.
//
// Unfocused it shows the field's display text (numbers aligned right); while
// it has the focus and the field can change, the text for editing. Typing
// goes through the data source's AutoEdit gate and is taken only while the
// link is editing; leaving the box for another control writes the text back.
class FieldEdit : public QLineEdit, public FieldLink {
    Q_OBJECT
public:
    explicit FieldEdit(QWidget *parent = nullptr);
    ~FieldEdit() override;

    // The declared read-only switch (the widget itself is also read-only
    // whenever the link is not editing).
    void setReadOnly(bool readOnly) { setLinkReadOnly(readOnly); }
    bool readOnly() const { return linkReadOnly(); }

    // The longest text that typing and pasting may produce; 0 until the box
    // first shows a text column, which then gives its size. Longer values
    // loaded from the field are still shown whole.
    void setMaxLength(int length) { maxLength_ = length; }
    int maxLength() const { return maxLength_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

    void showField() override;
    void storeField() override;
    void editingChanged() override;
    void failedWriteBack() override;

private:
    class CharValidator;
    friend class CharValidator;

    void updateAlignment();
    void pasteChecked();
    int room() const;                          // characters (not UTF-16 units) that may still be added

    int maxLength_ = 0;
    QString lastText_;                          // the text before the change being validated
    bool selectOnReturn_ = false;               // a refused value: selected again when the window is back
};

} // namespace zeplo
