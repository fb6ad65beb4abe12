#pragma once

#include <QString>
#include <QStringList>

namespace zeplo {

// The main window's list: every column of the book table, narrowed by one
// filter clause and ordered by one order clause (either may be empty).
extern const QString kBaseQuery;
// The count panel's query: every stored book, whatever the list shows.
extern const QString kCountQuery;

// The three lines of the main query's text.
QStringList mainQuery(const QString &filter, const QString &order);

// The filter of a search for `text` anywhere in `column`; the text is searched
// for literally ('%' and '_' keep their wildcard meaning).
QString searchFilter(const QString &column, const QString &text);

} // namespace zeplo
