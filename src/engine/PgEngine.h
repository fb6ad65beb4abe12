#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "engine/Cursor.h"
#include "engine/Engine.h"
#include "engine/PgConnection.h"

namespace zeplo {

// What the server tells about a table: its columns and how a row is addressed.
struct PgTable {
    unsigned oid = 0;
    QString name;
    struct Column {
        QString name;
        QString declType;             // as the fields read it: "SMALLINT", "CHARACTER VARYING(40)", "TEXT", ...
        QString sqlType;              // the server's own name, e.g. "numeric(8,2)"
        bool notNull = false;
        bool autoIncrement = false;   // identity or a sequence default
        bool generated = false;       // computed by the server: never written
        bool text = false;            // sorted and compared by the Czech collation
        bool comparedAsText = false;  // no equality of its own that the program can rely on
    };
    std::map<int, Column> columns;    // by attribute number
    QString key;                      // the single-column integer primary key; empty without one
    QString keySequence;              // the sequence that fills the key; empty without one
    bool keyAlways = false;           // an identity that takes a value only with OVERRIDING SYSTEM VALUE
    bool writable = false;            // this role may insert, update and delete
    const Column *column(const QString &name) const;
};

// The catalogue on a PostgreSQL server, reached through a libpq connection URI,
// over one session (PgConnection). Between two commands no transaction is open:
// lists are read in short statements (see KeysetReading), and each write is a
// transaction of its own.
class PgEngine final : public Engine, public std::enable_shared_from_this<PgEngine> {
public:
    static bool isServerUri(const QString &catalogue);
    // The URI as it may be shown: without its password.
    static QString displayUri(const QString &uri);

    // Connects and checks in one round trip that the server can hold the
    // catalogue (its version, the database's encoding, the Czech collation,
    // the table and its key); raises EngineError with one plain sentence otherwise.
    explicit PgEngine(const QString &uri);
    ~PgEngine() override;

    std::unique_ptr<Cursor> openCursor(const QString &dialectSql, bool live) override;
    bool readOnly() const override { return readOnly_; }
    // A session of its own that listens for the catalogue's notices (PgChangeWatch.cpp).
    std::unique_ptr<ChangeWatch> watchChanges() override;

    PgConnection &connection() { return *connection_; }
    // Exchanges with the server so far (each a round trip), for tests and benchmarks.
    quint64 roundTrips() const { return connection_->roundTrips(); }
    // The table's description, read once; null when there is no such table.
    const PgTable *table(const QString &name);

    // A key for the next new row of the table, taken from its sequence ahead
    // of the insert, so that a post whose answer was lost can tell whether the
    // row was stored. The command that takes one rides along with another
    // round trip; the result goes to keepReservedKey(), which keeps one key a table.
    // A key that a post used without learning whether the row was stored is
    // `maybeUsed` until the next post finds out, with the values each such
    // post gave (`attempts`): a row under the key that holds one of them is
    // that very book.
    struct ReservedKey {
        qint64 key = 0;
        bool maybeUsed = false;
        std::vector<RowValues> attempts;
    };
    std::optional<PgCommand> keyReservation(const PgTable &table) const;
    void keepReservedKey(const PgTable &table, const PgResult &result);
    std::optional<ReservedKey> reservedKey(const PgTable &table) const;
    void keyMaybeUsed(const PgTable &table, const RowValues &attempt);
    void dropReservedKey(const PgTable &table);

    // Counts the writes made through this engine: what a cursor keeps of rows
    // is stale after another cursor's write.
    quint64 writes() const { return writes_; }
    void wrote() { ++writes_; }

    QString withoutPassword(const QString &message) const { return connection_->withoutPassword(message); }

private:
    static std::vector<PgCommand> describing(const QString &name);
    const PgTable *keep(const QString &name, const std::vector<PgResult> &results, std::size_t first);

    QString uri_;
    std::unique_ptr<PgConnection> connection_;
    std::map<QString, std::optional<PgTable>> tables_;
    std::map<unsigned, ReservedKey> reservedKeys_;   // by table oid
    bool readOnly_ = false;
    quint64 writes_ = 0;
};

} // namespace zeplo
