#pragma once

#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include <QString>
#include <QVariant>
#include <QVector>

#include "engine/Engine.h"
#include "engine/SqlDialect.h"

namespace zeplo {

using RowValues = QVector<QVariant>;   // one value per column; a null QVariant is NULL

// An index past every row: fetchTo(kPastEveryRow) reads the keys of the whole result.
inline constexpr qsizetype kPastEveryRow = std::numeric_limits<qsizetype>::max() - 1;

// What the engine tells about one column of a result.
struct ColumnInfo {
    QString name;        // as the result names it
    QString origin;      // the table column it comes from; empty for an expression
    QString declType;    // declared type, upper case
    bool notNull = false;
    bool autoIncrement = false;   // AUTOINCREMENT or the row id alias
};

// The engine's cursor over one result: rows addressed by position, read on
// demand, and (for an updatable result) written back by row id.
class Cursor {
public:
    virtual ~Cursor() = default;

    const std::vector<ColumnInfo> &columns() const { return columns_; }
    virtual bool updatable() const = 0;

    // Whether a row at `index` exists; reads ahead only as far as `index`.
    virtual bool fetchTo(qsizetype index) = 0;
    virtual bool complete() const = 0;
    virtual qsizetype knownCount() const = 0;
    // The engine's count of the result's rows, reading no row values.
    virtual qsizetype countRows() = 0;
    // The row's current values; an empty vector when it no longer exists.
    virtual RowValues row(qsizetype index) = 0;
    // The rows from `first` on, `count` of them or as many as there are, in
    // one go: an engine that can reads them together.
    virtual std::vector<RowValues> rows(qsizetype first, qsizetype count)
    {
        std::vector<RowValues> out;
        // Counted from the end, the rows stop at the last one.
        for (qsizetype i = first; i < first + count && (first >= 0 || i < 0) && fetchTo(i); ++i)
            out.push_back(row(i));
        return out;
    }

    // Whether the cursor also reads its result from the last row back. Such a
    // cursor takes an index below zero as counted from the end (-1 is the last
    // row) in fetchTo, row, rows, update, insert and remove, and reaches the
    // last rows without reading the ones before them. knownCount() then counts
    // the rows known at either end until the two ends meet and the cursor is
    // complete. A cursor that reads forwards only keeps the default.
    virtual bool readsFromEnd() const { return false; }

    // The key of the row at `index` when it is known without reading; none
    // for a result whose rows have no key.
    virtual std::optional<qint64> knownKey(qsizetype index) const
    {
        Q_UNUSED(index);
        return std::nullopt;
    }
    // Another program changed the rows of `keys` (every row, with `all`) since
    // they were read: what was kept of their values is never shown again, and
    // they are read afresh when next asked for.
    virtual void changedElsewhere(const std::vector<qint64> &keys, bool all)
    {
        Q_UNUSED(keys);
        Q_UNUSED(all);
    }

    // Each write is one transaction. `original` is the row as it was read: a
    // row changed or removed since then is not overwritten.
    virtual void update(qsizetype index, const RowValues &original, const RowValues &values) = 0;
    // Told when a new row is begun, before the rows around it are read: an
    // engine that needs something for the insert may get it along with them.
    virtual void expectInsert() {}
    // The new row takes position `index`: before the row that held it, or
    // (from the end) after it, so insert(-1) appends. A write that stores no
    // row is an error.
    virtual void insert(qsizetype index, const RowValues &values) = 0;
    // Deletes the row only while it still holds `original`, the values as read
    // (an empty `original` checks nothing); a row changed since is an error
    // and stays, a row already gone counts as deleted.
    virtual void remove(qsizetype index, const RowValues &original) = 0;

protected:
    std::vector<ColumnInfo> columns_;
};

// A result read whole when it is opened: aggregates, joins and anything else
// whose rows have no key. It cannot be changed. Each engine fills `rows_`.
class StaticCursor : public Cursor {
public:
    bool updatable() const override { return false; }
    bool fetchTo(qsizetype index) override { return index >= 0 && index < qsizetype(rows_.size()); }
    bool complete() const override { return true; }
    qsizetype knownCount() const override { return qsizetype(rows_.size()); }
    qsizetype countRows() override { return qsizetype(rows_.size()); }
    RowValues row(qsizetype index) override { return fetchTo(index) ? rows_[size_t(index)] : RowValues(); }
    void update(qsizetype, const RowValues &, const RowValues &) override { refuse(); }
    void insert(qsizetype, const RowValues &) override { refuse(); }
    void remove(qsizetype, const RowValues &) override { refuse(); }

protected:
    std::vector<RowValues> rows_;

private:
    [[noreturn]] static void refuse() { throw EngineError(QStringLiteral("The result of this query cannot be changed")); }
};

} // namespace zeplo
