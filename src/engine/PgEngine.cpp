#include "engine/PgEngine.h"

#include "engine/PgDialect.h"
#include "engine/PgRows.h"
#include "engine/ServerUri.h"

namespace zeplo {

namespace {

// The program's session, with the password given apart from the URI, if any.
PgSessionSettings sessionSettings()
{
    PgSessionSettings settings;
    settings.password = Engine::serverPassword();
    return settings;
}

// The catalogue's table, checked when the engine connects.
const QString kCatalogueTable = QStringLiteral("zeplo");
// What the engine uses of the server: ICU collations, generated columns,
// to_regcollation().
constexpr int kLeastServerVersion = 130000;

} // namespace

const PgTable::Column *PgTable::column(const QString &name) const
{
    for (const auto &[number, c] : columns)
        if (c.name.compare(name, Qt::CaseInsensitive) == 0)
            return &c;
    return nullptr;
}

bool PgEngine::isServerUri(const QString &catalogue)
{
    return zeplo::isServerUri(catalogue.toStdString());
}

QString PgEngine::displayUri(const QString &uri)
{
    return QString::fromStdString(zeplo::withoutPassword(uri.toStdString()));
}

PgEngine::PgEngine(const QString &uri)
    : uri_(uri), connection_(std::make_unique<PgConnection>(uri, sessionSettings()))
{
    const QString server = displayUri(uri);
    const int version = connection_->serverVersion();
    if (version < kLeastServerVersion)
        throw EngineError(QStringLiteral("The catalogue server %1 runs PostgreSQL %2.%3; the catalogue needs "
                                         "PostgreSQL %4 or later")
                              .arg(server)
                              .arg(version / 10000)
                              .arg(version % 10000)
                              .arg(kLeastServerVersion / 10000));
    std::vector<PgCommand> commands{
        {QStringLiteral("select current_setting('transaction_read_only'), current_setting('server_encoding'), "
                        "to_regcollation($1) is not null"),
         {QLatin1String(pg::kCzechCollation)}}};
    for (PgCommand &c : describing(kCatalogueTable))
        commands.push_back(std::move(c));
    const std::vector<PgResult> results = connection_->run(commands, PgRepeat::IfLost);
    // A server that only reads (a standby, a read-only default) makes every
    // result read-only; a role's rights are judged per table.
    const PgRowView settings(results[0], 0);
    readOnly_ = settings.text(0) == "on";
    const QString encoding = settings.string(1);
    // In any other encoding the server's Czech collation cannot even lower
    // the case of every Czech letter (tried with LATIN2), let alone hold them all.
    if (encoding != QLatin1String("UTF8"))
        throw EngineError(QStringLiteral("The catalogue database on the server %1 is encoded in %2, in which the server "
                                         "cannot search and sort Czech text; the catalogue needs a database made with "
                                         "ENCODING 'UTF8'")
                              .arg(server, encoding));
    if (!settings.flag(2))
        throw EngineError(QStringLiteral("The catalogue server %1 has no Czech collation %2, by which the catalogue "
                                         "sorts and searches; it needs PostgreSQL built with ICU")
                              .arg(server, QLatin1String(pg::kCzechCollation)));
    const PgTable *catalogue = keep(kCatalogueTable, results, 1);
    if (!catalogue)
        throw EngineError(QStringLiteral("The database on the server %1 holds no catalogue: it has no table %2 "
                                         "(zeplo-catalogue create makes one)")
                              .arg(server, kCatalogueTable));
    if (catalogue->key.isEmpty())
        throw EngineError(QStringLiteral("The table %1 on the server %2 has no integer primary key, by which the "
                                         "catalogue tells its books apart")
                              .arg(kCatalogueTable, server));
}

PgEngine::~PgEngine() = default;

std::vector<PgCommand> PgEngine::describing(const QString &name)
{
    const QStringList table{quoted(name.toLower())};
    return {{QStringLiteral("select a.attnum, a.attname, a.atttypid, format_type(a.atttypid, a.atttypmod), "
                            "a.attnotnull, a.attidentity <> '' or coalesce(pg_get_expr(d.adbin, d.adrelid) like "
                            "'nextval(%', false), a.attgenerated <> '', t.typcategory = 'S' "
                            "from pg_attribute a join pg_type t on t.oid = a.atttypid "
                            "left join pg_attrdef d on d.adrelid = a.attrelid and d.adnum = a.attnum "
                            "where a.attrelid = to_regclass($1) and a.attnum > 0 and not a.attisdropped"),
             table, true},
            {QStringLiteral("select c.oid, k.attname, k.atttypid in (20, 21, 23), "
                            "pg_get_serial_sequence(c.oid::regclass::text, k.attname), k.attidentity = 'a', "
                            "has_table_privilege(c.oid, 'INSERT') and has_table_privilege(c.oid, 'UPDATE') "
                            "and has_table_privilege(c.oid, 'DELETE') "
                            "from pg_class c "
                            "left join pg_index i on i.indrelid = c.oid and i.indisprimary and i.indnatts = 1 "
                            "left join pg_attribute k on k.attrelid = c.oid and k.attnum = i.indkey[0] "
                            "where c.oid = to_regclass($1)"),
             table, true}};
}

const PgTable *PgEngine::keep(const QString &name, const std::vector<PgResult> &results, std::size_t first)
{
    const PgResult &columns = results[first];
    if (PgRowView::count(results[first + 1]) == 0)
        return nullptr;   // not kept: the table may be made later
    const PgRowView about(results[first + 1], 0);
    PgTable t;
    t.oid = unsigned(about.integer(0));
    t.name = name.toLower();
    for (int i = 0; i < PgRowView::count(columns); ++i) {
        const PgRowView column(columns, i);
        PgTable::Column c;
        const unsigned type = unsigned(column.integer(2));
        c.name = column.string(1);
        c.sqlType = column.string(3);
        c.declType = pgDeclType(type, c.sqlType);
        c.notNull = column.flag(4);
        c.autoIncrement = column.flag(5);
        c.generated = column.flag(6);
        c.text = column.flag(7);
        c.comparedAsText = pgComparedAsText(type);
        t.columns[int(column.integer(0))] = c;
    }
    if (!about.isNull(1) && about.flag(2)) {
        t.key = about.string(1);
        t.keySequence = about.string(3);
        t.keyAlways = about.flag(4);
    }
    t.writable = about.flag(5);
    return &*(tables_[t.name] = std::move(t));
}

const PgTable *PgEngine::table(const QString &name)
{
    const QString key = name.toLower();
    if (auto it = tables_.find(key); it != tables_.end() && it->second)
        return &*it->second;
    return keep(key, connection_->run(describing(key), PgRepeat::IfLost), 0);
}

std::optional<PgCommand> PgEngine::keyReservation(const PgTable &table) const
{
    if (table.keySequence.isEmpty() || !table.writable || readOnly_)
        return std::nullopt;
    PgCommand c{QStringLiteral("select nextval($1::regclass)"), {table.keySequence}, true};
    c.optional = true;   // a role may add rows without the right to take keys ahead
    return c;
}

void PgEngine::keepReservedKey(const PgTable &table, const PgResult &result)
{
    if (PgRowView::count(result) == 1)
        reservedKeys_[table.oid] = {PgRowView(result, 0).integer(0), false, {}};
}

std::optional<PgEngine::ReservedKey> PgEngine::reservedKey(const PgTable &table) const
{
    const auto it = reservedKeys_.find(table.oid);
    return it == reservedKeys_.end() ? std::nullopt : std::optional<ReservedKey>(it->second);
}

void PgEngine::keyMaybeUsed(const PgTable &table, const RowValues &attempt)
{
    if (const auto it = reservedKeys_.find(table.oid); it != reservedKeys_.end()) {
        it->second.maybeUsed = true;
        it->second.attempts.push_back(attempt);
    }
}

void PgEngine::dropReservedKey(const PgTable &table)
{
    reservedKeys_.erase(table.oid);
}

std::unique_ptr<Cursor> PgEngine::openCursor(const QString &dialectSql, bool live)
{
    const auto engine = shared_from_this();
    const TranslatedSql sql = pg::translate(dialectSql);
    if (live) {
        if (const auto select = parseSimpleSelect(sql.sql)) {
            const PgTable *t = table(select->table);
            if (t && !t->key.isEmpty())
                return openPgKeysetCursor(engine, sql, *select, *t);
        }
    }
    return openPgStaticCursor(engine, sql);
}

} // namespace zeplo
