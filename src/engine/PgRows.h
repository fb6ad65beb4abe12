#pragma once

#include <memory>
#include <vector>

#include <QString>
#include <QVariant>

#include "engine/Cursor.h"
#include "engine/PgConnection.h"
#include "engine/PgDialect.h"

namespace zeplo {

class PgEngine;
struct PgTable;

// A value as a parameter: the server's text for it (read by PgRowView::value()).
QString pgParam(const QVariant &value);
// Whether two values are the same to the server: their texts as parameters.
bool samePgValue(const QVariant &a, const QVariant &b);

// What the fields read a server type as, from its oid and its name
// (format_type): whole numbers, logicals, sized texts and long texts as such,
// json and xml as long texts, any other type as a text of no size of its own.
QString pgDeclType(unsigned type, const QString &formatted);
// Whether the type has no equality the program can rely on: compared as text.
bool pgComparedAsText(unsigned type);

// The columns of a result, its first `count` (all with -1): table columns as
// the table declares them, the others (expressions) by their type and read-only.
std::vector<ColumnInfo> pgColumns(const pg_result *result, const PgTable *table, int count = -1);

// The number of rows of a whole table (`sql` a count(*) of it), by the key's
// index alone: one round trip. Left to itself the server reads the table with
// parallel workers, which on a table of a million rows cost more than they save.
PgResult pgCountWholeTable(PgConnection &connection, const QString &sql);
// The same count added to the commands of a trip; where its result will be.
std::size_t pgAddWholeTableCount(std::vector<PgCommand> &commands, const QString &sql);

std::unique_ptr<Cursor> openPgStaticCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql);
std::unique_ptr<Cursor> openPgKeysetCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql,
                                           const SimpleSelect &select, const PgTable &table);

} // namespace zeplo
