#pragma once

#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

#include "engine/Cursor.h"
#include "engine/Keyset.h"

namespace zeplo {

// Values of the rows read lately, by key, `limit` of them at the most: the
// oldest kept go first.
class KeptRows {
public:
    explicit KeptRows(std::size_t limit) : limit_(limit) {}
    void keep(qint64 key, RowValues &&values);
    const RowValues *find(qint64 key) const;
    void forget(qint64 key) { values_.erase(key); }
    void clear();
    bool empty() const { return values_.empty(); }

private:
    std::size_t limit_;
    std::unordered_map<qint64, RowValues> values_;
    std::deque<qint64> order_;   // as first kept
};

// What the keyset cursors of both engines share: the keys read from either
// end only as far as a row is asked for, the values of rows read lately, and
// the checks of a write against the row as it was read. Each engine reads keys
// and rows in its own way (readKeys(), readRow()) and writes in its own SQL.
class KeysetCursor : public Cursor {
public:
    bool fetchTo(qsizetype index) override;
    bool complete() const override { return keys_.complete(); }
    qsizetype knownCount() const override { return keys_.known(); }
    // Read afresh: what edit shows and posts against.
    RowValues row(qsizetype index) override;
    std::optional<qint64> knownKey(qsizetype index) const override;
    void changedElsewhere(const std::vector<qint64> &keys, bool all) override;

protected:
    KeysetCursor(bool meetsById, std::size_t keptRows) : keys_(meetsById), kept_(keptRows) {}

    // Reads keys at one end, `wanted` more being what that end lacks for the
    // row asked for: at least one more, or up to where the ends meet.
    virtual void readKeys(bool front, qsizetype wanted) = 0;
    // The row's values as stored now; empty when it is gone.
    virtual RowValues readRow(qint64 key) = 0;

    // The keys of the rows from `first` on, `count` of them or as many as
    // there are (counted from the end, up to the last row).
    std::vector<qint64> keysAt(qsizetype first, qsizetype count);
    // Whether the key at `index` is known without reading.
    bool knownAt(qsizetype index) const;

    // The columns a write gives: those of the table that the table does not fill itself.
    bool writable(int column) const;
    std::vector<int> writableColumns() const;
    // Those an insert gives: the writable ones that have a value.
    std::vector<int> insertedColumns(const RowValues &values) const;
    // Those a write compares with the row as it was read: every column of the table.
    std::vector<int> comparedColumns(const RowValues &original) const;
    // Whether the row stored holds what was written, by the engine's equality.
    bool holdsWritten(const RowValues &stored, const RowValues &values,
                      const std::function<bool(const QVariant &, const QVariant &)> &same) const;

    // A write that found the row changed or gone since it was read.
    [[noreturn]] static void refuseUpdateOfDeletedRow();
    [[noreturn]] static void refuseUpdateOfChangedRow();
    [[noreturn]] static void refuseRemovalOfChangedRow();

    Keyset keys_;
    KeptRows kept_;
};

} // namespace zeplo
