#pragma once

#include <QPlainTextEdit>

#include "widgets/FieldLink.h"

namespace zeplo {

// A multi-line box bound to one field of the current row, normally a memo
// column, whose whole text it shows.
//
// Line breaks: a stored "\r\n", "\n" or lone "\r" shows as one line break, and
// the text written back has "\r\n" between its lines, so texts typed here keep
// the catalogue's CR LF convention. An unchanged text is never written back.
//
// Typing goes through the data source's AutoEdit gate; while the link is not
// editing the memo takes no typing but still scrolls. Tab moves the focus on.
class FieldMemo : public QPlainTextEdit, public FieldLink {
    Q_OBJECT
public:
    explicit FieldMemo(QWidget *parent = nullptr);
    ~FieldMemo() override;

    // The declared read-only switch (the widget itself is also read-only
    // whenever the link is not editing).
    void setReadOnly(bool readOnly) { setLinkReadOnly(readOnly); }
    bool readOnly() const { return linkReadOnly(); }

    // The longest text, in characters, the memo shows; a longer one is
    // replaced by a notice and cannot be edited here, so it is never
    // overwritten by the notice.
    static constexpr qsizetype kDefaultCapacity = 16 * 1024 * 1024;
    void setCapacity(qsizetype characters);
    qsizetype capacity() const { return capacity_; }
    bool exceedsCapacity() const { return tooLong_; }

    // The content as it would be written back: lines joined by "\r\n".
    QString memoText() const;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;

    void showField() override;
    void storeField() override;
    void editingChanged() override;

private:
    bool showsWholeText() const;   // a memo column: the same text focused or not
    bool takesTyping() const { return acceptsInput() && !tooLong_; }
    bool startTyping();

    qsizetype capacity_ = kDefaultCapacity;
    bool tooLong_ = false;
};

} // namespace zeplo
