#include "engine/PgEngine.h"

#include <QRegularExpression>

#include <libpq-fe.h>

#include "engine/PgDialect.h"
#include "engine/ServerUri.h"

namespace zeplo {

namespace {

// A statement that runs this long is given up: the catalogue is held up by
// something other than a row or table lock, which lock_timeout reports sooner.
constexpr int kStatementWaitMs = 30000;

const char *const kLostConnection =
    "The connection to the catalogue server was lost; the next command connects again";

QString lines(const QStringList &parts)
{
    QStringList out;
    for (const QString &part : parts)
        for (const QString &line : part.split(QLatin1Char('\n'))) {
            const QString t = line.trimmed();
            if (!t.isEmpty() && !out.contains(t))
                out << t;
        }
    return out.join(QLatin1Char('\n'));
}

// The engine's text for a failed command: the server's message, its detail
// and hint, with a plain sentence first for the failures the user can act on.
QString errorText(PGconn *conn, const PGresult *result)
{
    QStringList parts;
    const auto field = [&](int code) {
        const char *text = result ? PQresultErrorField(result, code) : nullptr;
        return text ? QString::fromUtf8(text) : QString();
    };
    const QString state = field(PG_DIAG_SQLSTATE);
    if (state == QLatin1String("55P03") || state == QLatin1String("40P01"))
        parts << Engine::lockedMessage();
    else if (state == QLatin1String("57014"))
        parts << QStringLiteral("The catalogue server did not finish the command within %1 seconds")
                     .arg(kStatementWaitMs / 1000);
    if (PQstatus(conn) == CONNECTION_BAD || state.startsWith(QLatin1String("08"))
        || field(PG_DIAG_SEVERITY_NONLOCALIZED) == QLatin1String("FATAL")
        || state == QLatin1String("57P01") || state == QLatin1String("57P02") || state == QLatin1String("57P03"))
        parts << QString::fromLatin1(kLostConnection);
    const QString primary = field(PG_DIAG_MESSAGE_PRIMARY);
    if (primary.isEmpty())
        parts << QString::fromUtf8(result ? PQresultErrorMessage(result) : "") << QString::fromUtf8(PQerrorMessage(conn));
    else
        parts << primary << field(PG_DIAG_MESSAGE_DETAIL) << field(PG_DIAG_MESSAGE_HINT);
    const QString text = lines(parts);
    return text.isEmpty() ? QStringLiteral("PostgreSQL database engine error $%1")
                                .arg(int(result ? PQresultStatus(result) : PGRES_FATAL_ERROR), 4, 16, QLatin1Char('0'))
                          : text;
}

// The message with the URI's passwords, and the one the session was made
// with, blotted out.
QString blotted(const QString &message, const QString &uri, const QString &password = QString())
{
    QString out = QString::fromStdString(withoutPasswordOf(message.toStdString(), uri.toStdString()));
    if (!password.isEmpty())
        out.replace(password, QStringLiteral("***"));
    return out;
}

} // namespace

void PgResultDeleter::operator()(pg_result *result) const
{
    PQclear(result);
}

PgConnection::PgConnection(const QString &uri, const QString &password) : uri_(uri), password_(password)
{
    // The URI's own settings win over these defaults: they come after them.
    const QByteArray conninfo = uri.toUtf8();
    const char *keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char *values[] = {"10", "zeplo", conninfo.constData(), nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (!conn_)
        throw EngineError(QStringLiteral("Cannot connect to the catalogue server %1: out of memory")
                              .arg(PgEngine::displayUri(uri)));
    if (PQstatus(conn_) != CONNECTION_OK) {
        const QString text = QStringLiteral("Cannot connect to the catalogue server %1:\n%2")
                                 .arg(PgEngine::displayUri(uri), lines({QString::fromUtf8(PQerrorMessage(conn_))}));
        PQfinish(conn_);
        conn_ = nullptr;
        throw EngineError(blotted(text, uri));
    }
    ensureConnected();
}

bool PgConnection::usable() const
{
    return !broken_ && PQstatus(conn_) == CONNECTION_OK;
}

PgConnection::~PgConnection()
{
    if (conn_)
        PQfinish(conn_);
}

void PgConnection::ensureConnected()
{
    if (PQstatus(conn_) == CONNECTION_BAD || broken_) {
        broken_ = false;
        PQreset(conn_);
        if (PQstatus(conn_) != CONNECTION_OK)
            throw EngineError(blotted(lines({QString::fromLatin1(kLostConnection), QString::fromUtf8(PQerrorMessage(conn_))}),
                                      uri_, password_));
    } else if (generation_ > 0) {
        return;
    }
    ++generation_;
    // A new session: bounded waits, and texts exchanged as UTF-8.
    const QString setup = QStringLiteral("SET lock_timeout = %1; SET statement_timeout = %2; "
                                         "SET client_encoding = 'UTF8'; SET standard_conforming_strings = on")
                              .arg(Engine::lockWaitMs())
                              .arg(kStatementWaitMs);
    check(PQexec(conn_, setup.toUtf8().constData()));
}

PgResult PgConnection::check(pg_result *raw)
{
    PgResult result(raw);
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return result;
    // The server may end the session with this very error (FATAL) before
    // libpq has seen the connection close: the next command starts a new one.
    const char *severity = result ? PQresultErrorField(result.get(), PG_DIAG_SEVERITY_NONLOCALIZED) : nullptr;
    const char *state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
    if (!result || (severity && (qstrcmp(severity, "FATAL") == 0 || qstrcmp(severity, "PANIC") == 0))
        || (state && (qstrncmp(state, "08", 2) == 0 || qstrncmp(state, "57P", 3) == 0))
        || PQstatus(conn_) == CONNECTION_BAD) {
        broken_ = true;
        if (onLost)
            onLost();
    }
    throw EngineError(blotted(errorText(conn_, result.get()), uri_, password_));
}

namespace {

// Parameters as libpq takes them: UTF-8 texts, NULL for a null QString.
struct Params {
    std::vector<QByteArray> bytes;
    std::vector<const char *> values;
    explicit Params(const QStringList &params)
    {
        bytes.reserve(size_t(params.size()));
        for (const QString &p : params) {
            if (p.contains(QChar(0)))
                throw EngineError(QStringLiteral("The catalogue server cannot take a text that holds the character "
                                                 "U+0000"));
            bytes.push_back(p.toUtf8());
            values.push_back(p.isNull() ? nullptr : bytes.back().constData());
        }
    }
};

} // namespace

PgResult PgConnection::exec(const QString &sql, const QStringList &params, bool binaryResult)
{
    const Params p(params);
    ensureConnected();
    return check(PQexecParams(conn_, sql.toUtf8().constData(), int(p.values.size()), nullptr, p.values.data(),
                              nullptr, nullptr, binaryResult ? 1 : 0));
}

void PgConnection::prepare(const QByteArray &name, const QString &sql)
{
    ensureConnected();
    check(PQprepare(conn_, name.constData(), sql.toUtf8().constData(), 0, nullptr));
}

PgResult PgConnection::execPrepared(const QByteArray &name, const QStringList &params)
{
    const Params p(params);
    ensureConnected();
    return check(PQexecPrepared(conn_, name.constData(), int(p.values.size()), p.values.data(), nullptr, nullptr, 0));
}

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

PgEngine::PgEngine(const QString &uri) : uri_(uri)
{
    writer_ = std::make_unique<PgConnection>(uri_, QString());
    password_ = QString::fromUtf8(PQpass(writer_->get()));
    // A server restart ends both sessions, though a command finds out about
    // one only: the next command makes both again.
    writer_->onLost = [this] {
        if (reader_)
            reader_->markBroken();
        endReading();
    };
    // A server that only reads (a standby, a read-only default) makes every
    // result read-only; a role's rights are judged per table.
    const PgResult r = writer_->exec(QStringLiteral("select current_setting('transaction_read_only')"));
    readOnly_ = QByteArray(PQgetvalue(r.get(), 0, 0)) == "on";
}

PgEngine::~PgEngine() = default;

PgConnection &PgEngine::reader()
{
    if (!reader_) {
        reader_ = std::make_unique<PgConnection>(uri_, password_);
        reader_->onLost = [this] {
            writer_->markBroken();
            endReading();
        };
    }
    return *reader_;
}

QString PgEngine::withoutPassword(QString message) const
{
    return blotted(message, uri_, password_);
}

QByteArray PgEngine::nextName(const char *prefix)
{
    return QByteArray(prefix) + QByteArray::number(++names_);
}

void PgEngine::cursorOpened()
{
    PgConnection &r = reader();
    // One snapshot for the transaction, so that the two ends of a keyset read
    // the same rows. A cursor opened later must still see every change
    // committed before it: when anything was committed since the snapshot was
    // taken, the transaction starts again, and the cursors declared in it are
    // declared anew where they stopped.
    if (openCursors_ > 0 && readerGeneration_ == r.generation()) {
        static const QString horizon = QStringLiteral("select pg_snapshot_xmax(pg_current_snapshot())");
        const PgResult seen = r.exec(horizon);
        const PgResult now = writer().exec(horizon);
        if (QByteArray(PQgetvalue(seen.get(), 0, 0)) != QByteArray(PQgetvalue(now.get(), 0, 0)))
            endReading();
    }
    if (openCursors_ == 0 || readerGeneration_ != r.generation()) {
        openCursors_ = 0;
        ++transaction_;
        r.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        readerGeneration_ = r.generation();
    }
    ++openCursors_;
}

void PgEngine::cursorClosed()
{
    if (openCursors_ > 0 && --openCursors_ == 0)
        endReading();
}

void PgEngine::endReading()
{
    openCursors_ = 0;
    ++transaction_;
    // Only reads were made in it: ending it either way releases its snapshot.
    if (reader_ && reader_->usable())
        PQclear(PQexec(reader_->get(), "ROLLBACK"));
}

const PgTable *PgEngine::table(const QString &name)
{
    const QString key = name.toLower();
    if (auto it = tables_.find(key); it != tables_.end())
        return it->second ? &*it->second : nullptr;
    const PgResult found = writer_->exec(QStringLiteral("select to_regclass($1)::oid"), {quoted(key)});
    if (PQgetisnull(found.get(), 0, 0))
        return nullptr;   // not kept: the table may be made later
    PgTable t;
    t.oid = QByteArray(PQgetvalue(found.get(), 0, 0)).toUInt();
    t.name = key;
    const QString oid = QString::number(t.oid);
    const PgResult columns = writer_->exec(QStringLiteral(
        "select a.attnum, a.attname, upper(format_type(a.atttypid, a.atttypmod)), a.attnotnull, "
        "a.attidentity <> '' or coalesce(pg_get_expr(d.adbin, d.adrelid) like 'nextval(%', false), "
        "t.typcategory = 'S' "
        "from pg_attribute a join pg_type t on t.oid = a.atttypid "
        "left join pg_attrdef d on d.adrelid = a.attrelid and d.adnum = a.attnum "
        "where a.attrelid = $1 and a.attnum > 0 and not a.attisdropped"), {oid});
    for (int i = 0; i < PQntuples(columns.get()); ++i) {
        PgTable::Column c;
        c.name = QString::fromUtf8(PQgetvalue(columns.get(), i, 1));
        c.declType = QString::fromUtf8(PQgetvalue(columns.get(), i, 2));
        c.notNull = *PQgetvalue(columns.get(), i, 3) == 't';
        c.autoIncrement = *PQgetvalue(columns.get(), i, 4) == 't';
        c.text = *PQgetvalue(columns.get(), i, 5) == 't';
        t.columns[QByteArray(PQgetvalue(columns.get(), i, 0)).toInt()] = c;
    }
    const PgResult keys = writer_->exec(QStringLiteral(
        "select i.indkey[0] from pg_index i where i.indrelid = $1 and i.indisprimary and i.indnatts = 1"), {oid});
    if (PQntuples(keys.get()) == 1) {
        const auto it = t.columns.find(QByteArray(PQgetvalue(keys.get(), 0, 0)).toInt());
        if (it != t.columns.end())
            t.key = it->second.name;
    }
    const PgResult rights = writer_->exec(QStringLiteral(
        "select has_table_privilege($1::oid, 'INSERT') and has_table_privilege($1::oid, 'UPDATE') "
        "and has_table_privilege($1::oid, 'DELETE')"), {oid});
    t.writable = *PQgetvalue(rights.get(), 0, 0) == 't';
    return &*(tables_[key] = std::move(t));
}

} // namespace zeplo
