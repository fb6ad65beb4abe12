#pragma once

// The two sides measured by the benchmarks: the program's own result set,
// data source, grid and field controls, composed as the main window composes
// them; and the stock way, an item model over the same SQLite file seen
// through a table view of the same size.

#include <memory>

#include <QSqlDatabase>
#include <QSqlQueryModel>
#include <QSqlTableModel>
#include <QString>
#include <QStringList>
#include <QTableView>
#include <QWidget>

#include "app/BookQueries.h"
#include "widgets/FieldCheckBox.h"
#include "widgets/DataGrid.h"
#include "widgets/FieldMemo.h"
#include "engine/DataSource.h"
#include "engine/ResultSet.h"

namespace bench {

constexpr int kGridWidth = 636;
constexpr int kGridHeight = 321;

// The main query's three clauses as the list commands write them.
inline QStringList mainQuery(const QString &filter = QString(), const QString &order = QString())
{
    return zeplo::mainQuery(filter, order);
}
QString titleSearch(const QString &text);    // the title search's filter clause
QString stockSql(const QString &filter = QString(), const QString &order = QString());

// Peak resident memory of this process so far, in kilobytes.
long peakKb();

// The round trips this process has made to the catalogue server so far (none on a file).
quint64 roundTrips();

// Query1 with DataSource1 and the main window's data controls, shown offscreen.
struct Ours {
    Ours();
    ~Ours();
    zeplo::ResultSet query{QStringLiteral("Query1")};
    zeplo::DataSource source;
    QWidget window;   // the controls where the main window has them
    zeplo::DataGrid &grid;
    zeplo::FieldMemo &memo1;
    zeplo::FieldMemo &memo3;
    zeplo::FieldCheckBox &check1;
    zeplo::FieldCheckBox &check2;

    void openWith(const QStringList &sql);   // replace the text, open, first screen shown
    void show();                               // forced repaint of the grid
};

// QSqlQueryModel (or QSqlTableModel) in a QTableView of the grid's size.
struct Stock {
    explicit Stock(bool tableModel = false);
    ~Stock();
    QSqlDatabase db;
    std::unique_ptr<QSqlQueryModel> model;
    QTableView view;

    QSqlTableModel *table() const { return static_cast<QSqlTableModel *>(model.get()); }
    void setQuery(const QString &sql);         // run it, first screen shown
    void show();
    void fetchAll();
};

} // namespace bench
