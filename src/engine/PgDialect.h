#pragma once

#include <QString>
#include <QStringList>

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

// Rewrites the ORDER BY of `rest` (the text after "from <table>"): text
// columns of `table` by the Czech collation, empty values first, and ties in
// the order of `tieBreaker` (the key); with no ORDER BY the rows come in key order.
QString withCzechOrdering(const QString &rest, const PgTable &table, const QString &tieBreaker);

// "select count(distinct(k)) [as x] from t" where k is t's primary key is the
// number of t's rows: asked as count(*), which needs no sort. Anything else
// is returned unchanged.
QString withPlainRowCount(const QString &sql, const QString &table, const QString &key);
// The table of such a count, or an empty text.
QString countedTable(const QString &sql);

// Names a table or column for the server.
QString quoted(const QString &name);

} // namespace pg

} // namespace zeplo
