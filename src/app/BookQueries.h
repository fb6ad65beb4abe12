#pragma once

#include <QString>
#include <QStringList>

#include "engine/CatalogueSchema.h"

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
QString searchFilter(schema::Position column, const QString &text);
// The books lent out: those with any text in "Půjčeno", an empty one too.
QString lentFilter();
// The books whose logical column (read, owned) holds `value`.
QString flagFilter(schema::Position column, bool value);
// The list sorted by one column.
QString orderBy(schema::Position column);

} // namespace zeplo
