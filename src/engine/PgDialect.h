#pragma once

#include <QString>
#include <QStringList>

#include "engine/SqlDialect.h"

namespace zeplo {

struct PgTable;

// The program's SQL dialect as the server takes it. The literals are
// parameters $1..$n; `like` compares without regard to case, Czech letters
// included, with no escape character; order by sorts text in Czech
// alphabetical order with empty values first, as the catalogue file does.
namespace pg {

// The ICU collation that gives Czech order and Czech case rules.
inline constexpr const char *kCzechCollation = "\"cs-CZ-x-icu\"";

TranslatedSql translate(const QString &dialectSql);

// The statement with only the parameters it names, numbered again from $1.
TranslatedSql renumbered(const QString &sql, const QStringList &params);

// `a like b` becomes a comparison of both sides lowered by the Czech collation.
QString withCaseInsensitiveLike(const QString &sql);
// One side of such a comparison. An index on this expression of a column
// (a trigram index) lets the server find the matches without reading every row.
QString folded(const QString &operand);

// Rewrites the ORDER BY of `rest` (the text after "from <table>"): text
// columns of `table` by the Czech collation, empty values first, and ties in
// the order of `tieBreaker` (the key); with no ORDER BY the rows come in key
// order. The backward order gives the same rows the other way round; it is
// empty without a tie-breaker or when the order cannot be turned round.
KeysetOrder czechOrder(const QString &rest, const PgTable &table, const QString &tieBreaker);

// How a keyset is read from the server in steps: each statement reads the
// rows after a position (the sort values and key of the last row read), in
// the query's order from the first row or in the opposite order from the
// last, so no server cursor and no transaction outlive a statement, and a
// reading that starts again resumes by position, never by a count of rows.
struct KeysetReading {
    struct Item {
        QString column;     // quoted
        QString compared;   // as compared and sorted: with the Czech collation for text
        bool descending = false;
    };
    // Read in steps from both ends; otherwise the query is read whole at once
    // (an order by an expression, a LIMIT, anything but a plain WHERE).
    bool resumable = false;
    QString condition;      // the query's WHERE without the word; empty for none
    QList<Item> items;      // the order's columns, the key last
    QString forward;        // ORDER BY ... of the query, with the key last
    QString backward;       // exactly the opposite order
    QString whole;          // for a query not resumable: the rest with its Czech order

    // The condition that the row is after `position` (one text per item, a
    // null QString for NULL) in the forward order or, with `backward`, in the
    // opposite one. The values become parameters appended to `params`.
    QString after(const QStringList &position, bool backward, QStringList &params) const;
};
KeysetReading keysetReading(const QString &rest, const PgTable &table);

} // namespace pg

} // namespace zeplo
