#pragma once

#include <QString>
#include <QVariant>

namespace zeplo {

class ResultSet;
struct ColumnInfo;

enum class FieldKind { Text, Integer, Logical, Memo };

// One column of an open result set. Values are read from, and written into,
// the result set's current row (the pending row while editing).
class Field {
public:
    Field(ResultSet *dataSet, int index, const ColumnInfo &column);

    const QString &fieldName() const { return name_; }
    FieldKind kind() const { return kind_; }
    int size() const { return size_; }              // characters, text kind only
    bool required() const { return required_; }
    bool readOnly() const { return readOnly_; }
    bool autoIncrement() const { return autoIncrement_; }
    int index() const { return index_; }            // position in the row
    ResultSet *dataSet() const { return dataSet_; }

    // Width in characters the grid gives the column; the user may change it
    // until the next opening.
    int displayWidth() const { return displayWidth_; }
    void setDisplayWidth(int w) { displayWidth_ = w; }

    bool isNumeric() const { return kind_ == FieldKind::Integer; }
    bool canModify() const;                         // the field and its result set allow changes

    QVariant value() const;                         // typed: qint64, bool or QString; null when NULL
    bool isNull() const { return value().isNull(); }
    void setValue(const QVariant &v);               // into the pending row
    void clear() { setValue(QVariant()); }

    QString displayText() const;                    // for the grid and unfocused edit boxes
    QString text() const;                           // for editing
    // Converts typed text by the field's kind and stores it.
    void setAsText(const QString &text);
    qint64 asInteger() const;

    bool acceptsChar(QChar c) const;               // characters accepted when typed

    // Interpretation of a value as the engine returned it.
    QVariant fromStorage(const QVariant &raw) const;
    static QString displayTextFor(FieldKind kind, const QVariant &typed);

private:
    ResultSet *dataSet_;
    int index_;
    QString name_;
    FieldKind kind_ = FieldKind::Text;
    int size_ = 0;
    int displayWidth_ = 0;
    qint64 minValue_ = 0, maxValue_ = 0;
    bool required_ = false;
    bool readOnly_ = false;
    bool autoIncrement_ = false;
};

} // namespace zeplo
