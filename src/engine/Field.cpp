#include "engine/Field.h"

#include <limits>

#include <QRegularExpression>

#include "engine/CharacterCount.h"
#include "engine/Error.h"
#include "engine/Cursor.h"
#include "engine/ResultSet.h"

namespace zeplo {

namespace {

constexpr int kDefaultTextSize = 255;

int declaredSize(const QString &decl, int fallback)
{
    static const QRegularExpression size(QStringLiteral(R"(\(\s*(\d+)\s*\))"));
    const QRegularExpressionMatch m = size.match(decl);
    return m.hasMatch() ? m.captured(1).toInt() : fallback;
}

} // namespace

Field::Field(ResultSet *dataSet, int index, const ColumnInfo &column)
    : dataSet_(dataSet), index_(index), name_(column.name)
{
    const QString &decl = column.declType;
    if (decl.contains(QLatin1String("BOOL"))) {
        kind_ = FieldKind::Logical;
        displayWidth_ = 5;   // the length of "False"
    } else if (decl.contains(QLatin1String("INT"))) {
        kind_ = FieldKind::Integer;
        displayWidth_ = 10;
        if (decl.contains(QLatin1String("SMALLINT"))) {
            minValue_ = std::numeric_limits<qint16>::min();
            maxValue_ = std::numeric_limits<qint16>::max();
        } else if (decl.contains(QLatin1String("BIGINT")) || column.autoIncrement) {
            minValue_ = std::numeric_limits<qint64>::min();
            maxValue_ = std::numeric_limits<qint64>::max();
        } else {
            minValue_ = std::numeric_limits<qint32>::min();
            maxValue_ = std::numeric_limits<qint32>::max();
        }
    } else if (decl.contains(QLatin1String("MEMO")) || decl.contains(QLatin1String("TEXT"))
               || decl.contains(QLatin1String("CLOB"))) {
        kind_ = FieldKind::Memo;
        displayWidth_ = 10;
    } else {
        kind_ = FieldKind::Text;
        size_ = declaredSize(decl, decl.isEmpty() ? 20 : kDefaultTextSize);
        displayWidth_ = size_;
    }
    autoIncrement_ = column.autoIncrement;
    required_ = column.notNull && !column.autoIncrement;
    readOnly_ = column.origin.isEmpty();
}

bool Field::canModify() const
{
    return !readOnly_ && dataSet_->canModify();
}

QVariant Field::fromStorage(const QVariant &raw) const
{
    if (raw.isNull() || !raw.isValid())
        return QVariant();
    switch (kind_) {
    case FieldKind::Integer: {
        if (raw.typeId() == QMetaType::LongLong || raw.typeId() == QMetaType::Int || raw.typeId() == QMetaType::Bool)
            return QVariant(raw.toLongLong());
        if (raw.typeId() == QMetaType::Double)
            return QVariant(qint64(qRound64(raw.toDouble())));
        bool ok = false;
        const qint64 v = raw.toString().trimmed().toLongLong(&ok);
        return ok ? QVariant(v) : QVariant();
    }
    case FieldKind::Logical: {
        if (raw.typeId() == QMetaType::Bool)
            return raw;
        if (raw.typeId() == QMetaType::LongLong || raw.typeId() == QMetaType::Int || raw.typeId() == QMetaType::Double)
            return QVariant(raw.toDouble() != 0);
        const QString t = raw.toString().trimmed().toLower();
        if (t == QLatin1String("true") || t == QLatin1String("t") || t == QLatin1String("1") || t == QLatin1String("yes"))
            return QVariant(true);
        if (t == QLatin1String("false") || t == QLatin1String("f") || t == QLatin1String("0") || t == QLatin1String("no"))
            return QVariant(false);
        return QVariant();
    }
    case FieldKind::Text:
    case FieldKind::Memo:
        break;
    }
    return QVariant(raw.toString());
}

QString Field::displayTextFor(FieldKind kind, const QVariant &typed)
{
    switch (kind) {
    case FieldKind::Memo:
        return typed.isNull() ? QStringLiteral("(Memo)") : QStringLiteral("(MEMO)");
    case FieldKind::Logical:
        if (typed.isNull())
            return QString();
        return typed.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldKind::Integer:
        return typed.isNull() ? QString() : QString::number(typed.toLongLong());
    case FieldKind::Text:
        break;
    }
    return typed.toString();
}

QVariant Field::value() const
{
    return fromStorage(dataSet_->currentRaw(index_));
}

void Field::setValue(const QVariant &v)
{
    dataSet_->setPendingValue(this, v);
}

QString Field::displayText() const
{
    return displayTextFor(kind_, value());
}

QString Field::text() const
{
    const QVariant v = value();
    if (kind_ == FieldKind::Memo)
        return v.toString();
    return displayTextFor(kind_, v);
}

void Field::setAsText(const QString &text)
{
    switch (kind_) {
    case FieldKind::Text:
        setValue(text.isEmpty() ? QVariant() : QVariant(leftCharacters(text, size_)));
        return;
    case FieldKind::Memo:
        setValue(text.isEmpty() ? QVariant() : QVariant(text));
        return;
    case FieldKind::Integer: {
        if (text.isEmpty()) {
            setValue(QVariant());
            return;
        }
        static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
        bool ok = whole.match(text).hasMatch();
        const qint64 v = ok ? text.toLongLong(&ok) : 0;
        if (!ok || v < minValue_ || v > maxValue_)
            throw Error(QStringLiteral("'%1' is not a valid integer value for field '%2'").arg(text, name_));
        setValue(QVariant(v));
        return;
    }
    case FieldKind::Logical: {
        const QString t = text.trimmed();
        if (t.isEmpty())
            setValue(QVariant());
        else if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
            setValue(QVariant(true));
        else if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
            setValue(QVariant(false));
        else
            throw Error(QStringLiteral("'%1' is not a valid boolean value for field '%2'").arg(text, name_));
        return;
    }
    }
}

qint64 Field::asInteger() const
{
    const QVariant v = value();
    if (v.isNull())
        return 0;
    if (kind_ == FieldKind::Integer || kind_ == FieldKind::Logical)
        return v.toLongLong();
    bool ok = false;
    const qint64 n = v.toString().toLongLong(&ok);
    if (!ok)
        throw Error(QStringLiteral("'%1' is not a valid integer value for field '%2'").arg(v.toString(), name_));
    return n;
}

bool Field::acceptsChar(QChar c) const
{
    if (kind_ == FieldKind::Integer)
        return c == QLatin1Char('+') || c == QLatin1Char('-') || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    return true;
}

} // namespace zeplo
