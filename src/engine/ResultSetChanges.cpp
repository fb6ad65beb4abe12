#include "engine/ResultSet.h"

#include <algorithm>
#include <exception>

// The result set's changes: editing, inserting, posting, cancelling and
// deleting, the transitions between Browse and Edit or Insert.
namespace zeplo {

template <class Reread>
void ResultSet::showWritten(Reread &&reread)
{
    try {
        reread();
    } catch (...) {
        // A window half read would show rows that are not there, or none at
        // the current position: the written rows are seen at the next opening.
        const std::exception_ptr failure = std::current_exception();
        try {
            close();
        } catch (...) {
            // The reading's error is the one to report.
        }
        std::rethrow_exception(failure);
    }
}

void ResultSet::checkBrowseMode()
{
    if (!editing())
        return;
    notify(DataEvent::UpdateData);
    if (changed_)
        post();
    else
        cancel();
}

void ResultSet::startInsert(qsizetype position)
{
    cursor_->expectInsert();
    const qsizetype line = state_ == DataSetState::Browse && !window_.empty() ? activeLine() : 0;
    enterInsert(position, line, false);
}

// The pending row made and shown at `position` on the grid's `line`; the cursor
// has been told to expect it.
void ResultSet::enterInsert(qsizetype position, qsizetype line, bool atEnd)
{
    insertPos_ = position;
    pending_ = RowValues(qsizetype(fields_.size()));
    original_.clear();
    changed_ = false;
    state_ = DataSetState::Insert;
    placeWindow(position, line);
    bof_ = false;
    eof_ = atEnd;
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::append()
{
    requireOpen();
    checkBrowseMode();
    if (!canModify_)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    // Asked before the last rows are read, so that the key of the new row can
    // come with them.
    cursor_->expectInsert();
    // The new row goes after the last one, on the line after it or on the
    // bottom line when the list fills the window. A cursor that reads from
    // the end finds the last rows without reading the ones before them.
    if (cursor_->readsFromEnd() && !cursor_->complete()) {
        fromEnd_ = true;
        enterInsert(-1, bufferCount_ - 1, true);
    } else {
        cursor_->fetchTo(kPastEveryRow);
        const qsizetype count = cursor_->knownCount();
        enterInsert(count, std::min<qsizetype>(count, bufferCount_ - 1), true);
    }
}

void ResultSet::insert()
{
    requireOpen();
    checkBrowseMode();
    if (!canModify_)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    // The new row goes before the current one: counted from the end, that is
    // one position further from it.
    startInsert(!hasAnyRow() ? 0 : fromEnd_ ? current_ - 1 : current_);
}

void ResultSet::edit()
{
    if (editing())
        return;
    requireOpen();
    if (!hasAnyRow()) {
        insert();
        return;
    }
    checkBrowseMode();
    if (!canModify_)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    const RowValues fresh = cursor_->row(cursorIndex(current_));
    if (fresh.isEmpty())
        throw EngineError(QStringLiteral("The record cannot be edited: another user has deleted it"));
    original_ = fresh;
    pending_ = fresh;
    window_.row(activeLine()) = fresh;
    changed_ = false;
    state_ = DataSetState::Edit;
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::setPendingValue(Field *field, const QVariant &typed)
{
    if (!editing())
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    pending_[field->index()] = typed;
    changed_ = true;
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
    if (state_ == DataSetState::Edit)
        cursor_->update(cursorIndex(current_), original_, pending_);
    else
        cursor_->insert(insertPos_, pending_);
    // The written row stays current, on the line where it was entered.
    state_ = DataSetState::Browse;
    discardPending();
    showWritten([&] { placeWindow(current_, line); });
    bof_ = eof_ = false;
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::discardPending()
{
    pending_.clear();
    original_.clear();
    insertPos_ = -1;
    changed_ = false;
}

void ResultSet::cancel()
{
    if (!editing())
        return;
    const qsizetype line = activeLine();
    const bool wasInsert = state_ == DataSetState::Insert;
    state_ = DataSetState::Browse;
    discardPending();
    // Without the new row the row that followed it takes its place; failing
    // that, the row before it. Counted from the end, the row that followed
    // keeps its position.
    qsizetype preferred = current_;
    if (wasInsert && fromEnd_)
        preferred = std::min<qsizetype>(current_ + 1, -1);
    else if (wasInsert && !hasRow(preferred))
        preferred = current_ - 1;
    reread(preferred, line);
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::deleteRecord()
{
    requireOpen();
    if (state_ == DataSetState::Insert) {
        cancel();
        return;
    }
    if (state_ == DataSetState::Edit)
        cancel();
    if (!hasAnyRow())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    // A list that was asked to be changeable and cannot be says so as append
    // and edit do, rather than leave the refusal to the engine's words.
    if (requestLive_ && !canModify_)
        fail(QStringLiteral("Cannot modify a read-only dataset"));
    const qsizetype line = activeLine();
    const qsizetype position = current_;
    try {
        // The row as shown: a row changed since by someone else is not deleted.
        cursor_->remove(cursorIndex(position), window_.empty() ? RowValues() : window_.row(line));
    } catch (...) {
        // Refused: the list shows the row as it now is.
        try {
            reread(position, line);
            notify(DataEvent::DataSetChanged);
        } catch (...) {
            // The refusal is what the user must hear of; without the fresh
            // row the list keeps showing the rows as they were.
        }
        throw;
    }
    // The row that followed takes the place; after the last row, the one before it.
    showWritten([&] {
        if (fromEnd_)
            reread(std::min<qsizetype>(position + 1, -1), line);
        else
            reread(hasRow(position) ? position : position - 1, line);
    });
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

} // namespace zeplo
