#pragma once

#include <QString>

#include "engine/DataSource.h"

class QWidget;

class QKeyEvent;

namespace zeplo {

class Field;

// What the edit box, the memo and the check box bound to one field share: the
// field looked up by name, the modified flag, the editing state, the AutoEdit
// gate, and the reload / write-back plumbing driven by the data source.
//
// A control derives from its Qt widget and from this class, and supplies how
// it shows the field (showField) and how it stores its content (storeField).
class FieldLink : public DataLink {
public:
    // Whether a key press types printable text (Ctrl chords do not; AltGr, seen as Ctrl+Alt, does).
    static bool typesText(const QKeyEvent *event);

    explicit FieldLink(QWidget *control);
    ~FieldLink() override;
    FieldLink(const FieldLink &) = delete;
    FieldLink &operator=(const FieldLink &) = delete;

    // Binding. While the result set is open the field is looked up at once,
    // so a control made over an open result set shows the current row.
    // (Hides DataLink::setDataSource, which only links.)
    void setDataSource(DataSource *source);
    const QString &dataField() const { return dataField_; }
    void setDataField(const QString &name);
    Field *field() const { return field_; }
    // Whether the text holds a character the field's kind does not take.
    bool refuses(const QString &text) const;
    // Typed text the field's kind refuses is answered with the system beep.
    bool acceptsTyped(const QString &typed) const;

    bool linkReadOnly() const override { return readOnly_; }
    bool modified() const { return modified_; }

    // Shows the field's current value again and clears the modified flag.
    void reload();
    // Stores the content into the field of the pending row when it was
    // modified; throws when the field cannot take it (the flag stays set).
    void writeBack();

    void dataEvent(DataEvent event, Field *field) override;

protected:
    void setLinkReadOnly(bool readOnly);
    void markModified() { modified_ = true; }
    // True while the control itself changes its content (loading), so that
    // its change notifications do not count as the user's.
    bool loading() const { return loading_ > 0; }

    // The AutoEdit gate: starts editing through the data source when the
    // control and its field may change, and tells whether the link is now
    // editing. Whoever asks goes on with the key or click only on true.
    bool startEditing();
    // Whether the widget should take typing now.
    bool acceptsInput() const;

    // Focus bookkeeping. The control counts as entered from its first focus-in
    // until it is left for another control of the same window; losing the
    // focus to another window, a popup or the menu bar is not leaving.
    // enter() is true on a real entry.
    bool enter();
    // On a real leaving: writes back. On failure the focus is put back
    // (queued, once the focus change is over), failedWriteBack() runs and the
    // message goes to the application error box; returns false then, and
    // also when this was not a real leaving.
    bool leave(int focusReason);
    bool entered() const { return entered_; }

    virtual void showField() = 0;     // show field() (nullptr: closed)
    virtual void storeField() = 0;    // write the content into field()
    virtual void editingChanged() {}  // the link's editing state may have changed
    virtual void failedWriteBack() {}

    QWidget *control() const { return control_; }

    // Guards loading(): content changes made while one lives are not the user's.
    class Loading {
    public:
        explicit Loading(FieldLink *link) : link_(link) { ++link_->loading_; }
        ~Loading() { --link_->loading_; }
        Loading(const Loading &) = delete;
        Loading &operator=(const Loading &) = delete;

    private:
        FieldLink *link_;
    };

private:
    void bindField();   // looks the field up; throws when it is missing
    bool canTakeFocus() const;

    QWidget *control_;
    class PaintPacer *pacer_ = nullptr;
    QString dataField_;
    Field *field_ = nullptr;
    bool readOnly_ = false;
    bool modified_ = false;
    bool entered_ = false;
    int loading_ = 0;
};

} // namespace zeplo
