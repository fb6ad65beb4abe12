#include "engine/KeysetCursor.h"

namespace zeplo {

namespace {

const char *const kChangedElsewhere = "The record was changed by another user after it was read";

} // namespace

void KeptRows::keep(qint64 key, RowValues &&values)
{
    if (values_.insert_or_assign(key, std::move(values)).second)
        order_.push_back(key);
    while (values_.size() > limit_ && !order_.empty()) {
        values_.erase(order_.front());
        order_.pop_front();
    }
}

const RowValues *KeptRows::find(qint64 key) const
{
    const auto it = values_.find(key);
    return it == values_.end() ? nullptr : &it->second;
}

void KeptRows::clear()
{
    values_.clear();
    order_.clear();
}

bool KeysetCursor::fetchTo(qsizetype index)
{
    if (index >= 0) {
        while (!keys_.complete() && keys_.frontCount() <= index)
            readKeys(true, index + 1 - keys_.frontCount());
        return index < keys_.known();
    }
    if (!readsFromEnd())
        return false;
    while (!keys_.complete() && keys_.backCount() < -index)
        readKeys(false, -index - keys_.backCount());
    return -index <= keys_.known();
}

RowValues KeysetCursor::row(qsizetype index)
{
    if (!fetchTo(index))
        return {};
    return readRow(keys_.at(index));
}

std::optional<qint64> KeysetCursor::knownKey(qsizetype index) const
{
    return knownAt(index) ? std::optional<qint64>(keys_.at(index)) : std::nullopt;
}

void KeysetCursor::changedElsewhere(const std::vector<qint64> &keys, bool all)
{
    if (all) {
        kept_.clear();
        return;
    }
    for (qint64 key : keys)
        kept_.forget(key);
}

std::vector<qint64> KeysetCursor::keysAt(qsizetype first, qsizetype count)
{
    std::vector<qint64> keys;
    for (qsizetype i = first; i < first + count && (first >= 0 || i < 0) && fetchTo(i); ++i)
        keys.push_back(keys_.at(i));
    return keys;
}

bool KeysetCursor::knownAt(qsizetype i) const
{
    if (keys_.complete())
        return i >= -keys_.known() && i < keys_.known();
    return i >= 0 ? i < keys_.frontCount() : -i <= keys_.backCount();
}

bool KeysetCursor::writable(int column) const
{
    const ColumnInfo &c = columns_[size_t(column)];
    return !c.origin.isEmpty() && !c.autoIncrement;
}

std::vector<int> KeysetCursor::writableColumns() const
{
    std::vector<int> out;
    for (int i = 0; i < int(columns_.size()); ++i)
        if (writable(i))
            out.push_back(i);
    return out;
}

std::vector<int> KeysetCursor::insertedColumns(const RowValues &values) const
{
    std::vector<int> out;
    for (int i = 0; i < int(columns_.size()); ++i)
        if (writable(i) && !values.value(i).isNull())
            out.push_back(i);
    return out;
}

std::vector<int> KeysetCursor::comparedColumns(const RowValues &original) const
{
    std::vector<int> out;
    for (int i = 0; i < int(columns_.size()) && i < original.size(); ++i)
        if (!columns_[size_t(i)].origin.isEmpty())
            out.push_back(i);
    return out;
}

bool KeysetCursor::holdsWritten(const RowValues &stored, const RowValues &values,
                                const std::function<bool(const QVariant &, const QVariant &)> &same) const
{
    for (int i : writableColumns())
        if (!same(stored.value(i), values.value(i)))
            return false;
    return true;
}

void KeysetCursor::refuseUpdateOfDeletedRow()
{
    throw EngineError(QStringLiteral("The record was deleted by another user after it was read; "
                                     "the change has not been saved"));
}

void KeysetCursor::refuseUpdateOfChangedRow()
{
    throw EngineError(QString::fromLatin1(kChangedElsewhere)
                      + QStringLiteral("; the change has not been saved, so that the other change is not lost"));
}

void KeysetCursor::refuseRemovalOfChangedRow()
{
    throw EngineError(QString::fromLatin1(kChangedElsewhere) + QStringLiteral("; it has not been deleted"));
}

} // namespace zeplo
