#include "engine/PgEngine.h"
#include "engine/PgRows.h"

namespace zeplo {

namespace {

// A result read whole when it is opened: aggregates, joins, and lists whose
// rows have no key.
class PgStaticCursor final : public StaticCursor {
public:
    PgStaticCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql)
    {
        QString text = sql.sql;
        const PgTable *table = nullptr;
        bool wholeTable = false;
        if (const std::optional<KeyCount> count = parseKeyCount(text)) {
            table = engine->table(count->table);
            if (table && !table->key.isEmpty() && count->column.compare(table->key, Qt::CaseInsensitive) == 0) {
                // Without an alias the column keeps the name the server gives the count.
                text = count->rowCount(QStringLiteral("count"));
                wholeTable = true;
            }
        } else if (const auto select = parseSimpleSelect(text)) {
            table = engine->table(select->table);
            if (table)
                text = QStringLiteral("select %1 from %2 %3")
                           .arg(select->columns, select->table, pg::czechOrder(select->rest, *table, QString()).forward);
        }
        PgResult result;
        if (wholeTable) {
            result = pgCountWholeTable(engine->connection(), text);
        } else if (text.contains(QLatin1String(" LIKE "))) {
            result = PgTransaction::runInTrip(engine->connection(), PgCommand(text, sql.params), {"enable_seqscan = off"});
        } else {
            result = engine->connection().run(PgCommand(text, sql.params), PgRepeat::IfLost);
        }
        columns_ = pgColumns(result.get(), table);
        for (int i = 0; i < PgRowView::count(result); ++i)
            rows_.push_back(PgRowView(result, i).values(int(columns_.size())));
    }
};

} // namespace

std::unique_ptr<Cursor> openPgStaticCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql)
{
    return std::make_unique<PgStaticCursor>(engine, sql);
}

} // namespace zeplo
