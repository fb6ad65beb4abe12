#include <sqlite3.h>

#include "engine/SqliteEngine.h"
#include "engine/SqliteRows.h"

namespace zeplo {

namespace {

// "count(distinct(c)) from t", where c is t's row id (its INTEGER PRIMARY
// KEY: never null, never twice), is the number of t's rows. SQLite does not
// see that and reads every row; asked for count(*), it counts the rows from
// the table's pages alone, several times faster on a large catalogue.
QString withPlainRowCount(sqlite3 *db, const QString &sql)
{
    const std::optional<KeyCount> count = parseKeyCount(sql);
    if (!count)
        return sql;
    const char *type = nullptr;
    int primaryKey = 0, autoIncrement = 0;
    if (sqlite3_table_column_metadata(db, "main", count->table.toUtf8().constData(), count->column.toUtf8().constData(),
                                      &type, nullptr, nullptr, &primaryKey, &autoIncrement) != SQLITE_OK
        || !primaryKey || !type || QString::fromUtf8(type).compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) != 0)
        return sql;
    // Only a primary key of that one column is the row id. AUTOINCREMENT is
    // allowed on nothing else, which spares asking for the table's keys.
    if (!autoIncrement) {
        Statement keys(db, QStringLiteral("select count(*) from pragma_table_info(:zeplo_table) where pk > 0"));
        keys.bindText(1, count->table);
        if (!keys.step() || sqlite3_column_int(keys.get(), 0) != 1)
            return sql;
    }
    QString expression = count->expression;
    return count->rowCount(QLatin1Char('"') + expression.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"'));
}

// A list of one table is sorted by the Czech rules, as the keyset cursors
// and the server sort every list.
QString inCzechOrder(const QString &sql)
{
    const std::optional<SimpleSelect> select = parseSimpleSelect(sql);
    if (!select)
        return sql;
    return QStringLiteral("select %1 from %2 %3").arg(select->columns, select->table, keysetOrder(select->rest).forward);
}

class SqliteStaticCursor final : public StaticCursor {
public:
    SqliteStaticCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql)
    {
        Statement stmt(engine->db(), inCzechOrder(withPlainRowCount(engine->db(), sql.sql)));
        stmt.bind(sql);
        columns_ = describeColumns(engine->db(), stmt.get());
        while (stmt.step())
            rows_.push_back(rowValues(stmt.get(), sqlite3_column_count(stmt.get())));
    }
};

} // namespace

std::unique_ptr<Cursor> openSqliteStaticCursor(const std::shared_ptr<SqliteEngine> &engine, const TranslatedSql &sql)
{
    return std::make_unique<SqliteStaticCursor>(engine, sql);
}

} // namespace zeplo
