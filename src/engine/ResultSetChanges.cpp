#include "engine/ResultSet.h"
#include "engine/ResultSetCheck.h"

#include <algorithm>

// The result set's changes: editing, inserting, posting, cancelling and
// deleting, the transitions between Browse and Edit or Insert.
namespace zeplo {

template <class Reread, class Unread>
ResultSet::Standing ResultSet::afterWrite(Standing next, Reread &&reread, Unread &&unread)
{
    Standing fallback = next;
    try {
        reread(next);
        return next;
    } catch (...) {
        // The write stands whatever the reading says: the user is told it is
        // done, and the list shows what it can until the next move reads it.
        unread(fallback);
        fallback.stale = true;
        return fallback;
    }
}

void ResultSet::checkBrowseMode()
{
    if (!editing())
        return;
    notify(DataEvent::UpdateData);
    if (at_.changed)
        post();
    else
        cancel();
}

// Where the set stands from `next` with a new pending row at `position`,
// shown on the grid's `line`; the cursor has been told to expect it.
ResultSet::Standing ResultSet::inserting(Standing next, qsizetype position, qsizetype line, bool atEnd)
{
    next.insertPos = position;
    next.pending = RowValues(qsizetype(fields_.size()));
    next.original.clear();
    next.changed = false;
    next.state = DataSetState::Insert;
    placeWindow(next, position, line);
    next.bof = false;
    next.eof = atEnd;
    return next;
}

void ResultSet::append()
{
    requireOpen();
    checkBrowseMode();
    if (!canModify_)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    {
        FailedTransitionCheck check(*this);
        // Asked before the last rows are read, so that the key of the new row
        // can come with them.
        cursor_->expectInsert();
        // The new row goes after the last one, on the line after it or on the
        // bottom line when the list fills the window. A cursor that reads from
        // the end finds the last rows without reading the ones before them.
        if (cursor_->readsFromEnd() && !cursor_->complete()) {
            Standing next = at_;
            next.fromEnd = true;
            commit(inserting(std::move(next), -1, bufferCount_ - 1, true));
        } else {
            cursor_->fetchTo(kPastEveryRow);
            settle(at_);
            const qsizetype count = cursor_->knownCount();
            commit(inserting(at_, count, std::min<qsizetype>(count, bufferCount_ - 1), true));
        }
    }
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::insert()
{
    requireOpen();
    checkBrowseMode();
    if (!canModify_)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    {
        FailedTransitionCheck check(*this);
        cursor_->expectInsert();
        // The new row goes before the current one: counted from the end, that
        // is one position further from it.
        const qsizetype position = !hasAnyRow(at_) ? 0 : at_.fromEnd ? at_.current - 1 : at_.current;
        const qsizetype line = at_.state == DataSetState::Browse && !at_.window.empty() ? activeLine() : 0;
        commit(inserting(at_, position, line, false));
    }
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::edit()
{
    if (editing())
        return;
    requireOpen();
    if (!hasAnyRow(at_)) {
        insert();
        return;
    }
    checkBrowseMode();
    if (!canModify_)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    {
        FailedTransitionCheck check(*this);
        const RowValues fresh = cursor_->row(cursorIndex(at_, at_.current));
        if (fresh.isEmpty())
            throw EngineError(QStringLiteral("The record cannot be edited: another user has deleted it"));
        Standing next = at_;
        next.original = fresh;
        next.pending = fresh;
        next.window.row(activeLine()) = fresh;
        next.changed = false;
        next.state = DataSetState::Edit;
        commit(std::move(next));
    }
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::setPendingValue(Field *field, const QVariant &typed)
{
    if (!editing())
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    at_.pending[field->index()] = typed;
    at_.changed = true;
    notify(DataEvent::RecordChanged, field);
}

void ResultSet::post()
{
    if (!editing())
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    notify(DataEvent::UpdateData);
    for (const auto &field : fields_) {
        if (field->required() && !field->readOnly() && field->isNull()) {
            notify(DataEvent::FocusControl, field.get());
            throw Error(QStringLiteral("Field '%1' must have a value").arg(field->fieldName()));
        }
    }
    const qsizetype line = activeLine();
    {
        FailedTransitionCheck check(*this);
        if (at_.state == DataSetState::Edit)
            cursor_->update(cursorIndex(at_, at_.current), at_.original, at_.pending);
        else
            cursor_->insert(at_.insertPos, at_.pending);
    }
    // Written: the written row stays current, on the line where it was entered.
    Standing next = at_;
    const RowValues written = next.pending;
    next.state = DataSetState::Browse;
    discardPending(next);
    next.bof = next.eof = false;
    commit(afterWrite(
        std::move(next), [&](Standing &s) { placeWindow(s, s.current, line); },
        [&](Standing &s) { s.window.row(line) = written; }));
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::discardPending(Standing &s)
{
    s.pending.clear();
    s.original.clear();
    s.insertPos = -1;
    s.changed = false;
}

void ResultSet::cancel()
{
    if (!editing())
        return;
    {
        FailedTransitionCheck check(*this);
        const qsizetype line = activeLine();
        const bool wasInsert = at_.state == DataSetState::Insert;
        Standing next = at_;
        next.state = DataSetState::Browse;
        discardPending(next);
        // Without the new row the row that followed it takes its place; failing
        // that, the row before it. Counted from the end, the row that followed
        // keeps its position.
        qsizetype preferred = next.current;
        if (wasInsert && next.fromEnd)
            preferred = std::min<qsizetype>(next.current + 1, -1);
        else if (wasInsert && !hasRow(next, preferred))
            preferred = next.current - 1;
        reread(next, preferred, line);
        commit(std::move(next));
    }
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::deleteRecord()
{
    requireOpen();
    if (at_.state == DataSetState::Insert) {
        cancel();
        return;
    }
    if (at_.state == DataSetState::Edit)
        cancel();
    if (!hasAnyRow(at_))
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    // A list that was asked to be changeable and cannot be says so as append
    // and edit do, rather than leave the refusal to the engine's words.
    if (requestLive_ && !canModify_)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    const qsizetype line = activeLine();
    const qsizetype position = at_.current;
    try {
        FailedTransitionCheck check(*this);
        // The row as shown: a row changed since by someone else is not deleted.
        cursor_->remove(cursorIndex(at_, position), at_.window.empty() ? RowValues() : at_.window.row(line));
    } catch (...) {
        // Refused: the list shows the row as it now is.
        try {
            Standing next = at_;
            reread(next, position, line);
            commit(std::move(next));
            notify(DataEvent::DataSetChanged);
        } catch (...) {
            // The refusal is what the user must hear of; without the fresh
            // row the list keeps showing the rows as they were.
        }
        throw;
    }
    // The row that followed takes the place; after the last row, the one before it.
    commit(afterWrite(
        at_,
        [&](Standing &s) {
            if (s.fromEnd)
                reread(s, std::min<qsizetype>(position + 1, -1), line);
            else
                reread(s, hasRow(s, position) ? position : position - 1, line);
        },
        [&](Standing &s) {
            // Without reading: the rows below move up a line, or (counted from
            // the end, where they keep their positions) the rows above move down.
            s.window.dropLine(line, s.fromEnd);
            if (s.window.empty()) {
                s.current = 0;
                s.fromEnd = false;
                s.window.clear();
                s.bof = s.eof = true;
                return;
            }
            if (s.fromEnd)
                s.current = std::min(position + 1, s.window.top() + s.window.size() - 1);
            else
                s.current = std::min(position, s.window.top() + s.window.size() - 1);
        }));
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

} // namespace zeplo
