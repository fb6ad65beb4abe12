#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QRect>

#include "engine/DataSource.h"
#include "widgets/GridGeometry.h"
#include "widgets/PaintPacer.h"

namespace zeplo {

class ResultSet;
class Field;

// The read-only data grid: one column per field of the result set, a title
// row, a row indicator, and the result set's window of rows. It keeps no rows
// of its own; every paint reads the window the result set holds, and every
// move goes through the result set's moves. Its member functions are kept in
// three files: DataGrid.cpp (layout, data events, scroll bars), DataGridInput.cpp
// (keys, mouse, wheel, drags) and DataGridPaint.cpp (painting).
class DataGrid : public QAbstractScrollArea, public DataLink {
    Q_OBJECT
public:
    static constexpr int kIndicatorWidth = GridGeometry::kIndicatorWidth;
    static constexpr int kLineWidth = GridGeometry::kLineWidth;
    static constexpr int kEmptyColumnWidth = GridGeometry::kEmptyColumnWidth;   // the untitled column of a closed grid

    explicit DataGrid(QWidget *parent = nullptr);
    ~DataGrid() override;

    // Also builds the columns when the result set is already open.
    void setDataSource(DataSource *source);

    QFont titleFont() const { return titleFont_; }

    // Layout, in viewport pixels.
    int titleHeight() const;                 // includes the line below the titles
    int rowHeight() const;                   // includes the row line
    int visibleRowCount() const;             // whole data rows that fit
    int columnCount() const { return columns_.count(); }
    int columnWidth(int column) const;       // without the column line
    QString columnTitle(int column) const;
    Field *columnField(int column) const;   // null for the closed grid's empty column
    int currentColumn() const { return currentColumn_; }
    QRect cellRect(int line, int column) const;      // line -1 is the title row
    QRect indicatorRect(int line) const;
    int firstDrawnLine() const;                      // window line drawn on the top data line

    int bufferCount() const override;
    bool linkReadOnly() const override { return true; }
    void dataEvent(DataEvent event, Field *field) override;

protected:
    bool event(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    enum class Drag { None, Resize, MovePending, Move };

    void syncColumns();
    void buildColumns();
    int computedWidth(const Field &field) const;
    int charWidth() const;
    int scrolled() const;                    // pixels the columns are scrolled sideways
    int columnLeft(int column) const;        // viewport x of the column's first pixel
    int columnAt(int x) const;               // -1 when none
    int borderAt(int x) const;               // column whose right border is at x in the title row, or -1
    int lineAt(int y) const;                 // window line at y, -1 for the title row, -2 below the rows

    void setCurrentColumn(int column);
    void ensureColumnVisible(int column);
    void handleKey(QKeyEvent *e);
    void pressAt(const QPoint &pos);
    void moveRows(qsizetype distance);

    void onVerticalAction(int action);
    void onVerticalReleased();
    void dropThumb(int position);
    void syncScrollBars();
    void updateDescription();
    void refresh();

    void paintIndicatorMark(class QPainter &p, const QRect &cell, int state) const;

    QFont titleFont_;
    GridGeometry columns_;
    const ResultSet *columnsFor_ = nullptr;   // result set the columns were made from
    int currentColumn_ = 0;
    bool syncingBars_ = false;
    int wheelRemainder_ = 0;
    PaintPacer *pacer_ = nullptr;

    Drag drag_ = Drag::None;
    int dragColumn_ = -1;
    int dragStartX_ = 0;
    int dragStartWidth_ = 0;
    int dropColumn_ = -1;
};

} // namespace zeplo
