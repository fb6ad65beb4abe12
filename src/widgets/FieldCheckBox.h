#pragma once

#include <QCheckBox>

#include "widgets/FieldLink.h"

namespace zeplo {

// A check box bound to one field of the current row.
//
// It shows three states: unchecked while the result set is closed, grayed
// (partially checked) for a null value, and otherwise the value: a logical
// column directly, any other column by comparing its text with the entries
// of ValueChecked and ValueUnchecked. A click, the space bar or any other
// toggle first goes through the data source's AutoEdit gate; only when the
// link is then editing does the box change (grayed and unchecked to checked,
// checked to unchecked), and never back to grayed.
class FieldCheckBox : public QCheckBox, public FieldLink {
    Q_OBJECT
public:
    explicit FieldCheckBox(QWidget *parent = nullptr);
    ~FieldCheckBox() override;

    void setReadOnly(bool readOnly) { setLinkReadOnly(readOnly); }
    bool readOnly() const { return linkReadOnly(); }

    // Texts of the two states for a column that is not logical, entries
    // separated by ";" (compared ignoring case); the first entry is the one
    // written back.
    void setCheckedTexts(const QString &texts) { checkedTexts_ = texts; }
    void setUncheckedTexts(const QString &texts) { uncheckedTexts_ = texts; }

protected:
    void nextCheckState() override;
    void checkStateSet() override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

    void showField() override;
    void storeField() override;

private:
    void setStateQuietly(Qt::CheckState state);
    void toggleThroughGate();

    Qt::CheckState shown_ = Qt::Unchecked;   // the state the box last took by our own hand
    int settingState_ = 0;
    QString checkedTexts_ = QStringLiteral("True");
    QString uncheckedTexts_ = QStringLiteral("False");
};

} // namespace zeplo
