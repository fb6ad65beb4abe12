#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace zeplo {

class Statement;

// The program's SQL dialect writes string literals in double quotes. Before a
// text reaches SQLite every such literal becomes a bound parameter, so the
// content of a literal can never change the statement around it.
struct TranslatedSql {
    QString sql;            // literals replaced by :zl1, :zl2, ...
    QStringList literals;   // their values, in order
    void bind(Statement &statement) const;   // binds those parameters the statement holds
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

// Sorting follows the engine's text rule (Czech alphabetical order): each plain
// column of an ORDER BY is compared by its sort key.
QString withCzechOrdering(const QString &rest);

} // namespace zeplo
