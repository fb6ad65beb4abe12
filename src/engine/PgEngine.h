#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "engine/Engine.h"

struct pg_conn;
struct pg_result;

namespace zeplo {

// A result of libpq, cleared when it goes.
struct PgResultDeleter {
    void operator()(pg_result *result) const;
};
using PgResult = std::unique_ptr<pg_result, PgResultDeleter>;

// One connection to the server. A connection found broken is made again at
// the start of the next command; whatever depended on the old session
// (prepared statements, cursors, an open transaction) is then gone, which its
// users learn from the changed generation.
class PgConnection {
public:
    PgConnection(const QString &uri, const QString &password);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Runs one command; the parameters are texts (a null QString is NULL).
    // Raises EngineError with the server's text on failure.
    PgResult exec(const QString &sql, const QStringList &params = {}, bool binaryResult = false);
    PgResult execPrepared(const QByteArray &name, const QStringList &params);
    void prepare(const QByteArray &name, const QString &sql);
    // Whether the session that `generation` names is still the current one.
    quint64 generation() const { return generation_; }
    pg_conn *get() const { return conn_; }
    // Whether commands can be sent without making the session again.
    bool usable() const;
    // Makes the session again before the next command.
    void markBroken() { broken_ = true; }
    // Called when a command finds the session gone.
    std::function<void()> onLost;

    // Makes the session again when it was found gone; commands do it themselves.
    void ensureConnected();

private:
    PgResult check(pg_result *result);
    QString uri_;
    QString password_;
    pg_conn *conn_ = nullptr;
    quint64 generation_ = 0;
    bool broken_ = false;
};

// What the server tells about a table: its columns and how a row is addressed.
struct PgTable {
    unsigned oid = 0;
    QString name;
    struct Column {
        QString name;
        QString declType;   // upper case, e.g. "CHARACTER VARYING(40)"
        bool notNull = false;
        bool autoIncrement = false;   // identity or a sequence default
        bool text = false;            // sorted and compared by the Czech collation
    };
    std::map<int, Column> columns;    // by attribute number
    QString key;                      // the single-column primary key; empty without one
    bool writable = false;            // this role may insert, update and delete
    const Column *column(const QString &name) const;
};

// The catalogue on a PostgreSQL server, reached through a libpq connection URI.
// One connection runs every write and every read of single rows; a second one
// holds the server-side cursors that fill keysets, inside a transaction that
// lasts while any of them is open.
class PgEngine final : public Engine, public std::enable_shared_from_this<PgEngine> {
public:
    static bool isServerUri(const QString &catalogue);
    // The URI as it may be shown: without its password.
    static QString displayUri(const QString &uri);

    explicit PgEngine(const QString &uri);
    ~PgEngine() override;

    std::unique_ptr<Cursor> openCursor(const QString &dialectSql, bool live) override;
    bool readOnly() const override { return readOnly_; }

    PgConnection &writer() { return *writer_; }
    PgConnection &reader();
    // The table's description, read once; nullopt when there is no such table.
    const PgTable *table(const QString &name);

    // Server-side cursors share the reader's transaction: the first one begins
    // it, the last one to finish ends it. `transaction()` numbers the current
    // one, so a cursor can tell whether its declaration still exists.
    void cursorOpened();
    void cursorClosed();
    // After a failed command on the reader: its transaction is over, and with
    // it every cursor declared in it.
    void endReading();
    quint64 transaction() const { return transaction_; }
    QByteArray nextName(const char *prefix);

    // The message with the password blotted out wherever it appears.
    QString withoutPassword(QString message) const;

private:
    QString uri_;
    QString password_;
    std::unique_ptr<PgConnection> writer_;
    std::unique_ptr<PgConnection> reader_;
    std::map<QString, std::optional<PgTable>> tables_;
    bool readOnly_ = false;
    int openCursors_ = 0;
    quint64 transaction_ = 0;
    quint64 readerGeneration_ = 0;
    quint64 names_ = 0;
};

} // namespace zeplo
