#pragma once

// Included by the server's keyset cursor's own sources only: its reading
// (PgKeysetCursor.cpp), its writes (PgKeysetWrites.cpp) and its additions
// (PgKeysetInserts.cpp).
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QList>
#include <QString>
#include <QStringList>

#include "engine/KeysetCursor.h"
#include "engine/PgDialect.h"
#include "engine/PgEngine.h"

namespace zeplo {

// A keyset cursor over the server: keys and rows read in short statements
// that resume after the last row each end has read (KeysetReading), values
// kept for the rows read lately, writes checked against the values as read.
// No statement depends on an earlier one's session state, so a lost session
// costs only the command in progress.
class PgKeysetCursor final : public KeysetCursor {
public:
    PgKeysetCursor(const std::shared_ptr<PgEngine> &engine, const TranslatedSql &sql, const SimpleSelect &select,
                   const PgTable &table);

    bool updatable() const override { return table_.writable && !engine_->readOnly(); }
    bool readsFromEnd() const override { return reading_.resumable; }
    // The count of a list not read to its end comes with the next rows, as
    // many as one read takes: what asks for the count of a list (the report)
    // walks it next.
    qsizetype countRows() override;
    std::vector<RowValues> rows(qsizetype first, qsizetype count) override;

    void update(qsizetype index, const RowValues &original, const RowValues &values) override;
    // A row is about to be added: its key is taken along with the next read.
    void expectInsert() override { wantKey_ = true; }
    void insert(qsizetype index, const RowValues &values) override;
    void remove(qsizetype index, const RowValues &original) override;

private:
    // Rows come with their keys, a few at first and more at each read, so
    // that a steady walk waits for the server rarely; a reach far ahead (a
    // jump to a row number) reads keys alone, in larger steps.
    static constexpr qsizetype kFirstRows = 64;
    static constexpr qsizetype kMostRows = 4096;
    static constexpr qsizetype kFirstKeys = 16384;
    static constexpr qsizetype kMostKeys = 262144;
    // Rows whose values are kept, and how many a read of a row not kept
    // brings along in the direction of movement.
    static constexpr std::size_t kKeptRows = 3 * kMostRows;
    static constexpr qsizetype kReadAround = 64;
    // Columns added after the select list are numbered from here until its width is known.
    static constexpr int kAfterList = 1 << 20;

    // One end's reading: where it stands and how much it reads next.
    struct End {
        bool front = true;
        bool started = false;
        QStringList position;   // the sort values and key of the last row read
        qsizetype batch = kFirstRows;
        static End at(bool front)
        {
            End end;
            end.front = front;
            return end;
        }
    };

    // A read of `wanted` rows or more at one end, as a statement and what to do with its answer.
    struct Read {
        End *end = nullptr;
        qsizetype rows = 0;
        bool withValues = true;
    };

    int userColumns() const { return int(columns_.size()); }

    // ---- statements (PgKeysetCursor.cpp) ----

    // A statement whose parameters are the query's, then `params` beyond them.
    static PgCommand statement(const QString &sql, const QStringList &params);
    PgCommand byKeys(const std::vector<qint64> &keys) const;
    // A trip of reads: made again once on a new session when the session was lost.
    std::vector<PgResult> reading(const std::vector<PgCommand> &commands);
    // A statement of the list: a search prefers the search indexes.
    std::size_t addStatement(std::vector<PgCommand> &commands, PgCommand command) const;

    // ---- reading (PgKeysetCursor.cpp) ----

    // The columns, from the first result: the list's own, then what reading added.
    void describe(const PgResult &result);
    Read plan(End &end, qsizetype wanted);
    // Adds the read's statement to `commands`; returns where its result will be.
    std::size_t add(std::vector<PgCommand> &commands, const Read &read) const;
    void readKeys(bool front, qsizetype wanted) override { fetch(front ? front_ : back_, wanted); }
    RowValues readRow(qint64 key) override;
    void fetch(End &end, qsizetype wanted);
    void apply(const Read &read, const PgResult &result, const PgResult *totals = nullptr);
    std::vector<qint64> missed(const PgResult *totals);
    QString listCondition() const;
    // The list's count and the sum of its keys.
    PgCommand totalsStatement() const;
    // An order that cannot resume by position: the whole result in one statement.
    void readWhole();
    void readByKeys(const std::vector<qint64> &keys);

    // ---- the values kept (PgKeysetCursor.cpp) ----

    RowValues kept(qint64 key) const;
    // Another list of this program wrote since: what is kept may be stale.
    void dropStale();
    void wrote(qint64 key, RowValues &&stored);

    // ---- writing (PgKeysetWrites.cpp) ----

    // The row `key` holding every value of `original` as it was read.
    QString asRead(qint64 key, const RowValues &original, QStringList &params) const;
    // The column as a comparison with a value as read takes it: as text where
    // its type has no equality the program can rely on.
    QString asCompared(int i) const;

    // ---- adding (PgKeysetInserts.cpp) ----

    // A parameter typed as the column, where the statement does not say it.
    QString cast(const QString &param, const QString &column) const;
    std::optional<std::pair<qint64, RowValues>> insertOnce(const std::optional<PgEngine::ReservedKey> &reserved,
                                                           const RowValues &values);
    // Whether the row holds every value that a try at adding it gave.
    bool holdsInserted(const RowValues &stored, const RowValues &attempt) const;
    RowValues updateEarlierTry(qint64 key, const RowValues &attempt, const RowValues &values);
    bool keyTakenElsewhere(qint64 key);

    std::shared_ptr<PgEngine> engine_;
    const PgTable &table_;
    QString key_;
    QStringList params_;          // the query's own, $1.. in every statement
    pg::KeysetReading reading_;
    QString selected_;            // the query's select list
    QString list_;                // and what reading adds to it
    QString from_;
    int keyColumn_ = 0;
    QList<int> sortColumns_;      // where each sort column is in list_
    int extraColumns_ = 0;
    QString rowsSql_;             // rows by their keys, each followed by its key
    TranslatedSql count_;
    bool countsWholeTable_ = false;
    End front_ = End::at(true), back_ = End::at(false);
    quint64 writesSeen_ = 0;
    qsizetype lastFirst_ = 0;
    int reads_ = 0;               // statements that read keys so far
    qint64 counted_ = -1;         // the list's count when it was last asked
    bool wantKey_ = false;        // a row is about to be added
    bool searching_ = false;      // the list is a search
};

} // namespace zeplo
