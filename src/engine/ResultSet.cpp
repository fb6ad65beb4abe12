#include "engine/ResultSet.h"
#include "engine/ResultSetCheck.h"

#include <algorithm>
#include <exception>

namespace zeplo {

ResultSet::ResultSet(const QString &name, QObject *parent) : QObject(parent), name_(name)
{
    setObjectName(name);
}

ResultSet::~ResultSet()
{
    for (DataSource *source : std::vector<DataSource *>(sources_))
        source->setDataSet(nullptr);
}

void ResultSet::fail(const QString &text) const
{
    throw Error(QStringLiteral("%1: %2").arg(name_, text));
}

void ResultSet::requireOpen() const
{
    if (!active())
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void ResultSet::sqlClear()
{
    close();
    sql_.clear();
}

void ResultSet::sqlAdd(const QString &line)
{
    close();
    sql_ << line;
}

void ResultSet::setSql(const QStringList &lines)
{
    close();
    sql_ = lines;
}

void ResultSet::commit(Standing &&next)
{
    const int readAhead = at_.window.readAhead();
    at_ = std::move(next);
    at_.window.setReadAhead(readAhead);
}

// ---- opening and closing -------------------------------------------------

void ResultSet::open()
{
    if (active())
        return;
    const QString text = sql_.join(QStringLiteral("\r\n"));
    if (sql_.isEmpty() || text.size() < 2 || text.trimmed().isEmpty())
        fail(QStringLiteral("No SQL statement available"));
    try {
        // The engine stays from one opening to the next: the connections,
        // and the statements it keeps prepared, serve every list command.
        engine_ = Engine::openDefault();
        ++openings_;
        cursor_ = engine_->openCursor(text, requestLive_);
        canModify_ = requestLive_ && cursor_->updatable();
        const auto &columns = cursor_->columns();
        for (int i = 0; i < int(columns.size()); ++i)
            fields_.push_back(std::make_unique<Field>(this, i, columns[size_t(i)]));
        // A result that cannot show its first rows is not open.
        Standing next;
        next.state = DataSetState::Browse;
        fillWindow(next, 0);
        next.bof = true;
        next.eof = next.window.empty();
        commit(std::move(next));
    } catch (...) {
        cursor_.reset();
        fields_.clear();
        canModify_ = false;
        throw;
    }
    notify(DataEvent::ActiveChanged);
    checkInvariants();
}

void ResultSet::close()
{
    if (!active())
        return;
    commit(Standing());
    cursor_.reset();
    canModify_ = false;
    // The controls let go of their fields before the fields go.
    std::exception_ptr failure;
    try {
        notify(DataEvent::ActiveChanged);
    } catch (...) {
        failure = std::current_exception();
    }
    fields_.clear();
    if (failure)
        std::rethrow_exception(failure);
    checkInvariants();
}

// ---- positions and the window --------------------------------------------

qsizetype ResultSet::cursorIndex(const Standing &s, qsizetype position) const
{
    if (s.state == DataSetState::Insert) {
        // The rows on the far side of the new row from where positions count shift by one.
        if (s.fromEnd)
            return position < s.insertPos ? position + 1 : position;
        return position > s.insertPos ? position - 1 : position;
    }
    return position;
}

bool ResultSet::hasRow(const Standing &s, qsizetype position)
{
    if (!cursor_)
        return false;
    if (s.state == DataSetState::Insert && position == s.insertPos)
        return true;
    if (s.fromEnd ? position >= 0 : position < 0)
        return false;
    return cursor_->fetchTo(cursorIndex(s, position));
}

bool ResultSet::hasAnyRow(const Standing &s)
{
    return cursor_ && (s.state == DataSetState::Insert || cursor_->fetchTo(0));
}

void ResultSet::readRows(const Standing &s, qsizetype from, qsizetype count, std::vector<RowValues> &out)
{
    // The pending row comes from memory; the runs of stored rows on either
    // side of it are each read from the engine in one go.
    const qsizetype end = from + count;
    const qsizetype pendingAt = s.state == DataSetState::Insert ? s.insertPos
                                : s.state == DataSetState::Edit ? s.current
                                                                : end;
    qsizetype p = from;
    while (p < end) {
        if (s.editing() && p == pendingAt) {
            out.push_back(s.pending);
            ++p;
            continue;
        }
        qsizetype runEnd = pendingAt > p && pendingAt < end ? pendingAt : end;
        if (s.fromEnd)
            runEnd = std::min<qsizetype>(runEnd, 0);
        else if (p < 0)
            return;
        if (runEnd <= p)
            return;
        std::vector<RowValues> rows = cursor_->rows(cursorIndex(s, p), runEnd - p);
        const qsizetype got = qsizetype(rows.size());
        for (RowValues &row : rows) {
            if (row.isEmpty())   // removed by someone else since the keys were read
                row.resize(qsizetype(fields_.size()));
            out.push_back(std::move(row));
        }
        if (got < runEnd - p)
            return;   // the result ends here
        p += got;
    }
}

RowWindow::Reader ResultSet::readerOf(const Standing &s)
{
    return [this, &s](qsizetype from, qsizetype count, std::vector<RowValues> &out) { readRows(s, from, count, out); };
}

bool ResultSet::isEmpty() const
{
    return !const_cast<ResultSet *>(this)->hasAnyRow(at_);
}

qsizetype ResultSet::knownRecordCount() const
{
    return cursor_ ? cursor_->knownCount() : 0;
}

void ResultSet::fillWindow(Standing &s, qsizetype top)
{
    s.window.fill(top, bufferCount_, readerOf(s));
    s.stale = false;
}

void ResultSet::placeWindow(Standing &s, qsizetype current, qsizetype line)
{
    s.current = current;
    line = std::clamp<qsizetype>(line, 0, bufferCount_ - 1);
    if (s.fromEnd) {
        // The window cannot run past the last row, at -1. When the rows do
        // not fill it, the cursor has read them all and positions count from
        // the first row again.
        const qsizetype top = std::min<qsizetype>(s.current - line, -bufferCount_);
        if (hasRow(s, top)) {
            fillWindow(s, top);
            return;
        }
        settle(s);
    }
    qsizetype top = std::max<qsizetype>(0, s.current - line);
    if (!hasRow(s, top + bufferCount_ - 1)) {
        // The rows after the current one do not fill the window: show more before it.
        const qsizetype count = cursor_->knownCount() + (s.state == DataSetState::Insert ? 1 : 0);
        top = std::max<qsizetype>(0, std::min(top, count - bufferCount_));
    }
    fillWindow(s, top);
}

qsizetype ResultSet::settle(Standing &s) const
{
    if (!s.fromEnd || !cursor_ || !cursor_->complete())
        return 0;
    const qsizetype shift = cursor_->knownCount() + (s.state == DataSetState::Insert ? 1 : 0);
    s.current += shift;
    s.window.renumber(shift);
    if (s.state == DataSetState::Insert)
        s.insertPos += shift;
    s.fromEnd = false;
    return shift;
}

void ResultSet::reread(Standing &s, qsizetype preferred, qsizetype line)
{
    if (!hasAnyRow(s)) {
        s.current = 0;
        s.fromEnd = false;
        s.window.clear();
        s.bof = s.eof = true;
        s.stale = false;
        return;
    }
    qsizetype position = preferred;
    if (!hasRow(s, position)) {
        cursor_->fetchTo(kPastEveryRow);
        position += settle(s);
        position = std::max<qsizetype>(0, std::min(position, cursor_->knownCount() - 1));
    }
    placeWindow(s, position, line);
    s.bof = s.eof = false;
}

void ResultSet::updateBufferCount()
{
    int wanted = 1;
    for (DataSource *source : sources_)
        for (DataLink *link : source->links())
            wanted = std::max(wanted, link->bufferCount());
    if (wanted == bufferCount_)
        return;
    const int before = bufferCount_;
    bufferCount_ = wanted;
    if (!active())
        return;
    if (!at_.window.empty()) {
        try {
            FailedTransitionCheck check(*this);
            Standing next = at_;
            placeWindow(next, at_.current, activeLine());
            commit(std::move(next));
        } catch (...) {
            bufferCount_ = before;
            throw;
        }
    }
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

QVariant ResultSet::windowValue(int line, int fieldIndex) const
{
    if (line < 0 || line >= int(at_.window.size()) || fieldIndex < 0 || fieldIndex >= int(fields_.size()))
        return QVariant();
    if (editing() && line == activeLine())
        return fields_[size_t(fieldIndex)]->fromStorage(at_.pending.value(fieldIndex));
    return fields_[size_t(fieldIndex)]->fromStorage(at_.window.row(line).value(fieldIndex));
}

QVariant ResultSet::currentRaw(int fieldIndex) const
{
    if (editing())
        return at_.pending.value(fieldIndex);
    const int line = activeLine();
    if (line < 0 || line >= int(at_.window.size()))
        return QVariant();
    return at_.window.row(line).value(fieldIndex);
}

// ---- moving --------------------------------------------------------------

void ResultSet::first()
{
    requireOpen();
    checkBrowseMode();
    {
        FailedTransitionCheck check(*this);
        Standing next = at_;
        next.current = 0;
        next.fromEnd = false;
        fillWindow(next, 0);
        next.bof = true;
        next.eof = next.window.empty();
        commit(std::move(next));
    }
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::last()
{
    requireOpen();
    checkBrowseMode();
    {
        FailedTransitionCheck check(*this);
        Standing next = at_;
        if (cursor_->readsFromEnd() && !cursor_->complete()) {
            // The last rows are read from the end, the ones before them not at all.
            next.fromEnd = true;
            placeWindow(next, -1, bufferCount_ - 1);
        } else {
            cursor_->fetchTo(kPastEveryRow);
            settle(next);
            const qsizetype count = cursor_->knownCount();
            next.current = std::max<qsizetype>(0, count - 1);
            fillWindow(next, std::max<qsizetype>(0, count - bufferCount_));
        }
        next.eof = true;
        next.bof = next.window.empty();
        commit(std::move(next));
    }
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

int ResultSet::moveBy(qsizetype distance)
{
    requireOpen();
    checkBrowseMode();
    if (distance == 0)
        return 0;
    FailedTransitionCheck check(*this);
    // The moves of a walk through every row come here by the thousand: they
    // work out their new place in locals, and shift the window in place,
    // which reads before it changes anything.
    if (!hasAnyRow(at_)) {
        at_.bof = at_.eof = true;
        return 0;
    }
    qsizetype target = at_.current + distance;
    bool bof = at_.bof, eof = at_.eof;
    if (distance > 0) {
        bof = false;
        eof = !hasRow(at_, target);
        if (eof)
            target = at_.fromEnd ? -1 : cursor_->knownCount() - 1;
    } else {
        eof = false;
        // Counted from the end, a row before the first one is found missing
        // only once the cursor has read every row: then counting starts again
        // from the first row.
        if (at_.fromEnd && !hasRow(at_, target))
            target += settle(at_);
        bof = !at_.fromEnd && target < 0;
        if (bof)
            target = 0;
    }
    const qsizetype moved = target - at_.current;
    if (moved == 0) {
        at_.bof = bof;
        at_.eof = eof;
        return 0;
    }
    const qsizetype line = std::clamp<qsizetype>(activeLine() + moved, 0, bufferCount_ - 1);
    // The window as it will be, read with the set standing where it will stand.
    Standing &s = at_;
    const qsizetype before = s.current;
    s.current = target;
    try {
        s.window.shift(target - line, bufferCount_, s.state == DataSetState::Browse && !s.stale, readerOf(s));
    } catch (...) {
        s.current = before;
        throw;
    }
    s.stale = false;
    s.bof = bof;
    s.eof = eof;
    notify(DataEvent::Scrolled);
    checkInvariants();
    return int(moved);
}

bool ResultSet::hasSequenceNumbers() const
{
    return cursor_ && cursor_->complete() && !at_.fromEnd;
}

void ResultSet::moveToRecNo(qsizetype number)
{
    requireOpen();
    if (number <= 1) {
        first();
        return;
    }
    cursor_->fetchTo(kPastEveryRow);
    settle(at_);
    if (number >= cursor_->knownCount()) {
        last();
        return;
    }
    moveBy(number - 1 - at_.current);
}

void ResultSet::checkInvariants() const
{
#ifndef QT_NO_DEBUG
    const Standing &s = at_;
    const qsizetype rows = s.window.size();
    const qsizetype top = s.window.top();
    if (s.state == DataSetState::Closed) {
        Q_ASSERT(!cursor_ && fields_.empty() && rows == 0);
        Q_ASSERT(s.current == 0 && top == 0);
    } else {
        Q_ASSERT(cursor_);
        const bool inserting = s.state == DataSetState::Insert;
        Q_ASSERT(rows <= bufferCount_);
        if (s.fromEnd) {
            Q_ASSERT(cursor_->readsFromEnd() && !cursor_->complete() && rows > 0);
            Q_ASSERT(top + rows <= 0 && -top <= cursor_->knownCount() + (inserting ? 1 : 0));
        } else {
            Q_ASSERT(top >= 0);
            Q_ASSERT(top + rows <= cursor_->knownCount() + (inserting ? 1 : 0));
        }
        Q_ASSERT(rows == 0 ? s.current == 0 && top == 0 : top <= s.current && s.current < top + rows);
        Q_ASSERT(inserting ? s.insertPos == s.current : s.insertPos == -1);
    }
    Q_ASSERT(s.editing() != s.pending.isEmpty());
    Q_ASSERT(s.state == DataSetState::Edit || s.original.isEmpty());
#endif
}

qsizetype ResultSet::recordCount()
{
    requireOpen();
    // A count the engine cannot give is its error, not a number to print or
    // divide by.
    const qsizetype count = cursor_->countRows();
    if (count < 0)
        throw EngineError(QStringLiteral("The engine could not count the rows of the result"));
    return count;
}

// ---- fields and notifications --------------------------------------------

Field *ResultSet::findField(const QString &name) const
{
    for (const auto &field : fields_)
        if (field->fieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field.get();
    return nullptr;
}

Field *ResultSet::fieldByName(const QString &name) const
{
    Field *field = findField(name);
    if (!field)
        fail(QStringLiteral("Field '%1' not found").arg(name));
    return field;
}

void ResultSet::setWalking(bool walking)
{
    // One read of this many rows costs little more than one of a single row.
    constexpr int kWalkBatch = 64;
    at_.window.setReadAhead(walking ? kWalkBatch : 0);
}

void ResultSet::addDataSource(DataSource *source)
{
    sources_.push_back(source);
    updateBufferCount();
}

void ResultSet::removeDataSource(DataSource *source)
{
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

void ResultSet::notify(DataEvent event, Field *field)
{
    settle(at_);
    deliverToEach(sources_, [&](DataSource *source) { source->notify(event, field); });
}

} // namespace zeplo
