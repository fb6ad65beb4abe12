#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QStringList>

#include "engine/Cursor.h"
#include "engine/DataSource.h"
#include "engine/Field.h"
#include "engine/RowWindow.h"

namespace zeplo {

enum class DataSetState { Closed, Browse, Edit, Insert };

// A result set: a scrollable, live view of one query's rows with one current
// row. It holds in memory only the window of rows its largest consumer shows,
// plus the pending row while a row is edited or inserted.
//
// States and the functions that move between them:
//
//   state   holds                                entered by                  left by
//   Closed  no cursor, no fields, no rows        construction; close();      open() -> Browse
//                                                any change of the SQL
//                                                text; open() failing
//   Browse  the cursor, the fields and the       open(); post(); cancel();   edit() -> Edit, or -> Insert on an
//           window of rows; the current row      deleteRecord()              empty result; append(), insert()
//           moves                                                            -> Insert; close() -> Closed
//   Edit    also the pending row: a copy of      edit()                      post() -> Browse; cancel() or
//           the current row as read, and that                                deleteRecord() -> Browse, changes
//           row as the original for the write                                dropped; close() -> Closed, dropped
//   Insert  also the pending row: a new row,     append(); insert();         post() -> Browse; cancel() or
//           every column null, at insertPos_     edit() on an empty result   deleteRecord() -> Browse, row
//                                                                            dropped; close() -> Closed, dropped
//
// checkBrowseMode() ends Edit or Insert by post() when the pending row was
// changed and by cancel() when not; every move (first(), last(), moveBy(),
// moveToRecNo()) and append() and insert() call it first, so a move always
// runs in Browse.
//
// A transition completes or changes nothing. It works out where the set will
// stand (the state, the position, the window of rows, the pending row) in a
// Standing of its own and commits it only once every read it needs has
// succeeded; when one fails, the set stands exactly where it stood (asserted
// in the sanitizer build). A write is the one thing that is not undone: once
// post() or deleteRecord() has written to the table, the write stands and is
// reported as done; when the rows cannot be read back after it, the window
// shows what it can without reading (the written row as it was typed, or the
// deleted row gone) and is read afresh at the next move.
//
// Invariants, asserted by checkInvariants() at the end of every transition
// and move:
// - Closed: no cursor, no fields, no window; the current row and the window
//   stand at 0.
// - Open: a cursor. The window of rows lies inside the known rows: it starts
//   at its top >= 0, holds at most bufferCount_ rows and ends at or before the
//   cursor's known count (one more while inserting: the new row has a
//   position but no row in the cursor). Counted from the end, it ends at or
//   before the last row (-1) and starts no further back than the rows known.
// - A pending row exists exactly while editing or inserting; insertPos is a
//   position exactly while inserting, and it is the current position.
// - The current position lies inside the window; an empty window means an
//   empty result, with the current position and the window at 0.
//
// Positions count from the first row, 0 on. After a move to the last row or an
// append on a cursor that reads from the end, and until that cursor has seen
// every row, they count from the end instead: -1 is the last row. Moves keep
// working either way; row numbers (recNo) are known only from the first row.
class ResultSet : public QObject {
    Q_OBJECT
public:
    explicit ResultSet(const QString &name, QObject *parent = nullptr);
    ~ResultSet() override;

    const QString &name() const { return name_; }
    // Whether the list is asked for as one that can be changed; read at opening.
    bool requestLive() const { return requestLive_; }
    void setRequestLive(bool live) { requestLive_ = live; }

    // The SQL text. The first change to it closes the result set.
    const QStringList &sql() const { return sql_; }
    void sqlClear();
    void sqlAdd(const QString &line);
    void setSql(const QStringList &lines);

    void open();
    void close();
    bool active() const { return at_.state != DataSetState::Closed; }
    DataSetState state() const { return at_.state; }
    bool editing() const { return at_.editing(); }
    bool canModify() const { return canModify_; }

    // Moves. Each first ends a pending change.
    void first();
    void last();
    void next() { moveBy(1); }
    void prior() { moveBy(-1); }
    int moveBy(qsizetype distance);   // returns the distance actually moved
    bool bof() const { return at_.bof; }
    bool eof() const { return at_.eof; }
    bool isEmpty() const;

    void append();
    void insert();
    void edit();
    void post();
    void cancel();
    void deleteRecord();
    void checkBrowseMode();   // ends a pending change: posts a changed row, drops an unchanged one
    bool modified() const { return at_.changed; }

    // The engine's count of the result's rows; an engine error when it
    // cannot tell.
    qsizetype recordCount();
    // Rows are numbered once the engine has seen the whole result.
    bool hasSequenceNumbers() const;
    // The current row's number from 1; -1 while it is known only from the end.
    qsizetype recNo() const { return at_.fromEnd ? -1 : at_.current + 1; }
    qsizetype knownRecordCount() const;
    void moveToRecNo(qsizetype number);

    const std::vector<std::unique_ptr<Field>> &fields() const { return fields_; }
    Field *findField(const QString &name) const;
    Field *fieldByName(const QString &name) const;   // raises "Field '%s' not found"

    // The window of rows around the current row, for the grid.
    int windowRowCount() const { return int(at_.window.size()); }
    int activeLine() const { return int(at_.current - at_.window.top()); }
    QVariant windowValue(int line, int fieldIndex) const;   // typed
    int bufferCount() const { return bufferCount_; }
    void updateBufferCount();   // after a link's bufferCount changed
    // A walk through every row (the report): meanwhile a move down reads the
    // rows after the window in batches, one read serving many moves, and the
    // controls that follow may bring what they show up to date once a frame.
    void setWalking(bool walking);
    bool walking() const { return at_.window.readAhead() > 0; }
    // Counts the openings, so that what was looked up on one is known stale on the next.
    quint64 openings() const { return openings_; }

    // Another program changed rows of the table: those of `keys`, or rows it
    // did not name (`all`). What the set keeps of them is read afresh when
    // next shown, at no cost now; true when the window shows one of them.
    bool changedElsewhere(const std::vector<qint64> &keys, bool all);
    // The rows of the window read again in one go, in Browse only: the same
    // rows at the same places, with their values as stored now (a row deleted
    // meanwhile shows empty). Membership, order, position and count stay as
    // they are. A transition like the others: a failed read changes nothing.
    // False when there was nothing to read (not in Browse, no rows).
    bool rereadWindow();

    // Values of the current (or pending) row; used by Field.
    QVariant currentRaw(int fieldIndex) const;
    void setPendingValue(Field *field, const QVariant &typed);

    void addDataSource(DataSource *source);
    void removeDataSource(DataSource *source);

private:
    // Where the set stands: what a transition works out before it commits it.
    struct Standing {
        DataSetState state = DataSetState::Closed;
        qsizetype current = 0;      // position of the current row (the pending new row counts while inserting)
        bool fromEnd = false;       // positions count from the end
        RowWindow window;
        bool bof = true, eof = true;
        RowValues pending;          // raw values for unchanged columns, typed values for assigned ones
        RowValues original;         // the row as read when editing began
        qsizetype insertPos = -1;
        bool changed = false;
        bool stale = false;         // the window shows a write it could not read back
        bool editing() const { return state == DataSetState::Edit || state == DataSetState::Insert; }
        bool operator==(const Standing &) const = default;
    };
    class FailedTransitionCheck;

    [[noreturn]] void fail(const QString &text) const;
    void notify(DataEvent event, Field *field = nullptr);
    void requireOpen() const;
    // Commits where a transition found the set to stand.
    void commit(Standing &&next);
    Standing inserting(Standing next, qsizetype position, qsizetype line, bool atEnd);
    bool hasRow(const Standing &s, qsizetype position);
    bool hasAnyRow(const Standing &s);
    // Appends the rows from `from` on (stored ones read together) to `out`,
    // stopping at the end of the result: the window's Reader.
    void readRows(const Standing &s, qsizetype from, qsizetype count, std::vector<RowValues> &out);
    RowWindow::Reader readerOf(const Standing &s);
    // Back to counting from the first row once that is known; returns the shift.
    qsizetype settle(Standing &s) const;
    qsizetype cursorIndex(const Standing &s, qsizetype position) const;
    void placeWindow(Standing &s, qsizetype current, qsizetype line);
    void fillWindow(Standing &s, qsizetype top);
    void reread(Standing &s, qsizetype preferred, qsizetype line);
    static void discardPending(Standing &s);
    // The window after a write that reached the table: read back, or, when
    // that fails, `unread` (what can be shown without reading).
    template <class Reread, class Unread>
    Standing afterWrite(Standing next, Reread &&reread, Unread &&unread);
    void checkInvariants() const;   // Q_ASSERT only: compiled out of release builds

    QString name_;
    QStringList sql_;
    bool requestLive_ = false;
    std::shared_ptr<Engine> engine_;   // kept from one opening to the next
    std::unique_ptr<Cursor> cursor_;
    std::vector<std::unique_ptr<Field>> fields_;
    bool canModify_ = false;
    Standing at_;
    quint64 openings_ = 0;
    int bufferCount_ = 1;

    std::vector<DataSource *> sources_;
};

} // namespace zeplo
