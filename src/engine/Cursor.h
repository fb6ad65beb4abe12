#pragma once

#include <memory>
#include <vector>

#include <QString>
#include <QVariant>
#include <QVector>

#include "engine/Engine.h"
#include "engine/SqlDialect.h"

namespace zeplo {

using RowValues = QVector<QVariant>;   // one value per column; a null QVariant is NULL

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

    // Each write is one transaction. `original` is the row as it was read: a
    // row changed or removed since then is not overwritten.
    virtual void update(qsizetype index, const RowValues &original, const RowValues &values) = 0;
    virtual void insert(qsizetype index, const RowValues &values) = 0;
    virtual void remove(qsizetype index) = 0;

protected:
    std::vector<ColumnInfo> columns_;
};

} // namespace zeplo
