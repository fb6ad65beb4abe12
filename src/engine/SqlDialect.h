#pragma once

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

namespace zeplo {

// The program's SQL dialect writes string literals in double quotes. Before a
// text reaches an engine every such literal becomes a bound parameter, so the
// content of a literal can never change the statement around it.
struct TranslatedSql {
    QString sql;          // literals replaced by the engine's parameters (:zl1 or $1, ...)
    QStringList params;   // their values, in order; a null QString is NULL
};

// Raises EngineError for a literal that is never closed. Inside a literal a
// doubled quote stands for one quote. `placeholder` is how the engine names
// the n-th parameter (%1 is n).
TranslatedSql translateSql(const QString &dialectSql, const QString &placeholder = QStringLiteral(" :zl%1 "));

// Makes a user's text safe to place between the double quotes of a literal: it
// is then searched for literally ('%' and '_' keep their wildcard meaning).
QString quoteSearchText(const QString &text);

// "select <columns> from <table> <rest>" over one table, with no aggregate,
// DISTINCT, join, grouping or compound: the shape whose rows can be addressed
// by row id and changed.
struct SimpleSelect {
    QString columns;
    QString table;
    QString rest;
};
std::optional<SimpleSelect> parseSimpleSelect(const QString &translatedSql);

// A table or column name as an SQL identifier: in double quotes, any inside doubled.
QString quoted(const QString &name);

// The ORDER BY of a simple select's `rest`.
struct OrderBy {
    bool found = false;   // there is one
    qsizetype at = 0;     // where the words ORDER BY begin
    qsizetype start = 0;  // where its items begin
    qsizetype end = 0;    // where they end: at a LIMIT, OFFSET or FOR, or the end of the text
    bool tail = false;    // a LIMIT, OFFSET or FOR follows (or, without an ORDER BY, is there)
    struct Item {
        QString text;     // as written
        QString column;   // a plain column; empty for anything else
        bool descending = false;
    };
    QList<Item> items;
};
OrderBy parseOrderBy(const QString &rest);

// An ORDER BY's items written forward and turned round: each plain column by
// `write(column, descending)`, the other way round by `write(column,
// !descending)`; any other item is kept forward only and makes the order one
// that cannot be turned round (`plain` false).
struct TurnedOrder {
    QStringList forward;
    QStringList backward;
    bool plain = true;
};
TurnedOrder turnOrder(const OrderBy &order, const std::function<QString(const QString &, bool)> &write);

// The ordering of a simple select's keyset, as the rest of its text with the
// ORDER BY rewritten. Sorting follows the engine's text rule (Czech
// alphabetical order): each plain column of an ORDER BY is compared by its
// sort key, and rows with equal keys by row id. `backward` gives the same rows
// in the opposite order; it is empty when the order cannot be turned round
// (an ORDER BY item other than a column, LIMIT or OFFSET).
struct KeysetOrder {
    QString forward;
    QString backward;
    bool byRowId = false;   // the query has no order: rows come in row id order
};
KeysetOrder keysetOrder(const QString &rest);

// "select count(distinct(c)) [as x] from t", the number of t's rows with a
// value in c counted once each. When c is t's primary key (unique, never
// null) that is the number of t's rows, which engines count far faster when
// asked for count(*): `rowCount` asks that way, naming the column `x` or, without
// an alias, `unnamed` (as the engine would have named the original).
struct KeyCount {
    QString column;
    QString table;
    QString expression;   // count(distinct(c)) as written
    QString alias;        // x, or empty
    QString rowCount(const QString &unnamed) const;
};
std::optional<KeyCount> parseKeyCount(const QString &sql);

// A count of the rows of a simple select's result (`rest` as in SimpleSelect),
// of the values of `key`. The order is left out: a count needs no sort.
QString countQuery(const QString &table, const QString &rest, const QString &key);

} // namespace zeplo
