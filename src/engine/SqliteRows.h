#pragma once

#include <memory>
#include <vector>

#include <QVariant>

#include "engine/Cursor.h"
#include "engine/SqlDialect.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zeplo {

class SqliteEngine;

// Values between SQLite and the program: whole numbers, reals, texts and
// blobs as such, NULL as a null QVariant.
QVariant columnValue(sqlite3_stmt *stmt, int i);
// The values of columns first.. first + n - 1 of the statement's row.
RowValues rowValues(sqlite3_stmt *stmt, int n, int first = 0);
void bindValue(sqlite3 *db, sqlite3_stmt *stmt, int index, const QVariant &v);

// The columns of a statement's result, as the table declares them.
std::vector<ColumnInfo> describeColumns(sqlite3 *db, sqlite3_stmt *stmt);

std::unique_ptr<Cursor> openSqliteStaticCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql);
std::unique_ptr<Cursor> openSqliteKeysetCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql,
                                               const SimpleSelect &select);

} // namespace zeplo
