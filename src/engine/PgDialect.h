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

struct Translated {
    QString sql;
    QStringList params;
};
Translated translate(const QString &dialectSql);

// The statement with only the parameters it names, numbered again from $1.
Translated renumbered(const QString &sql, const QStringList &params);

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

} // namespace pg

} // namespace zeplo
