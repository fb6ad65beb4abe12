#include "engine/ResultSet.h"

#include <algorithm>
#include <exception>

namespace zeplo {

ResultSet::ResultSet(const QString &name, QObject *parent)
    : QObject(parent), name_(name),
      reader_([this](qsizetype from, qsizetype count, std::vector<RowValues> &out) { readRows(from, count, out); })
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
    } catch (...) {
        cursor_.reset();
        fields_.clear();
        canModify_ = false;
        throw;
    }
    state_ = DataSetState::Browse;
    current_ = 0;
    fromEnd_ = false;
    try {
        fillWindow(0);
    } catch (...) {
        // A result that cannot show its first rows is not open.
        state_ = DataSetState::Closed;
        cursor_.reset();
        fields_.clear();
        window_.clear();
        canModify_ = false;
        throw;
    }
    bof_ = true;
    eof_ = window_.empty();
    notify(DataEvent::ActiveChanged);
    checkInvariants();
}

void ResultSet::close()
{
    if (!active())
        return;
    discardPending();
    state_ = DataSetState::Closed;
    cursor_.reset();
    window_.clear();
    canModify_ = false;
    current_ = 0;
    fromEnd_ = false;
    bof_ = eof_ = true;
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

qsizetype ResultSet::cursorIndex(qsizetype position) const
{
    if (state_ == DataSetState::Insert) {
        // The rows on the far side of the new row from where positions count shift by one.
        if (fromEnd_)
            return position < insertPos_ ? position + 1 : position;
        return position > insertPos_ ? position - 1 : position;
    }
    return position;
}

bool ResultSet::hasRow(qsizetype position)
{
    if (!cursor_)
        return false;
    if (state_ == DataSetState::Insert && position == insertPos_)
        return true;
    if (fromEnd_ ? position >= 0 : position < 0)
        return false;
    return cursor_->fetchTo(cursorIndex(position));
}

bool ResultSet::hasAnyRow()
{
    return cursor_ && (state_ == DataSetState::Insert || cursor_->fetchTo(0));
}

RowValues ResultSet::rowAt(qsizetype position)
{
    if ((state_ == DataSetState::Insert && position == insertPos_) || (state_ == DataSetState::Edit && position == current_))
        return pending_;
    RowValues row = cursor_->row(cursorIndex(position));
    if (row.isEmpty())   // removed by someone else since the keys were read
        row.resize(qsizetype(fields_.size()));
    return row;
}

void ResultSet::readRows(qsizetype from, qsizetype count, std::vector<RowValues> &out)
{
    // The pending row comes from memory; the runs of stored rows on either
    // side of it are each read from the engine in one go.
    const qsizetype end = from + count;
    const bool insert = state_ == DataSetState::Insert;
    const qsizetype pendingAt = insert ? insertPos_ : state_ == DataSetState::Edit ? current_ : end;
    qsizetype p = from;
    while (p < end) {
        if ((insert || state_ == DataSetState::Edit) && p == pendingAt) {
            out.push_back(pending_);
            ++p;
            continue;
        }
        qsizetype runEnd = pendingAt > p && pendingAt < end ? pendingAt : end;
        if (fromEnd_)
            runEnd = std::min<qsizetype>(runEnd, 0);
        else if (p < 0)
            return;
        if (runEnd <= p)
            return;
        std::vector<RowValues> rows = cursor_->rows(cursorIndex(p), runEnd - p);
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

bool ResultSet::isEmpty() const
{
    return !const_cast<ResultSet *>(this)->hasAnyRow();
}

qsizetype ResultSet::knownRecordCount() const
{
    return cursor_ ? cursor_->knownCount() : 0;
}

void ResultSet::fillWindow(qsizetype top)
{
    window_.fill(top, bufferCount_, reader_);
}

void ResultSet::placeWindow(qsizetype current, qsizetype line)
{
    current_ = current;
    line = std::clamp<qsizetype>(line, 0, bufferCount_ - 1);
    if (fromEnd_) {
        // The window cannot run past the last row, at -1. When the rows do
        // not fill it, the cursor has read them all and positions count from
        // the first row again.
        const qsizetype top = std::min<qsizetype>(current_ - line, -bufferCount_);
        if (hasRow(top)) {
            fillWindow(top);
            return;
        }
        settle();
    }
    qsizetype top = std::max<qsizetype>(0, current_ - line);
    if (!hasRow(top + bufferCount_ - 1)) {
        // The rows after the current one do not fill the window: show more before it.
        const qsizetype count = cursor_->knownCount() + (state_ == DataSetState::Insert ? 1 : 0);
        top = std::max<qsizetype>(0, std::min(top, count - bufferCount_));
    }
    fillWindow(top);
}

qsizetype ResultSet::settle()
{
    if (!fromEnd_ || !cursor_ || !cursor_->complete())
        return 0;
    const qsizetype shift = cursor_->knownCount() + (state_ == DataSetState::Insert ? 1 : 0);
    current_ += shift;
    window_.renumber(shift);
    if (state_ == DataSetState::Insert)
        insertPos_ += shift;
    fromEnd_ = false;
    return shift;
}

void ResultSet::reread(qsizetype preferred, qsizetype line)
{
    if (!hasAnyRow()) {
        current_ = 0;
        fromEnd_ = false;
        window_.clear();
        bof_ = eof_ = true;
        return;
    }
    qsizetype position = preferred;
    if (!hasRow(position)) {
        cursor_->fetchTo(kPastEveryRow);
        position += settle();
        position = std::max<qsizetype>(0, std::min(position, cursor_->knownCount() - 1));
    }
    placeWindow(position, line);
    bof_ = eof_ = false;
}

void ResultSet::updateBufferCount()
{
    int wanted = 1;
    for (DataSource *source : sources_)
        for (DataLink *link : source->links())
            wanted = std::max(wanted, link->bufferCount());
    if (wanted == bufferCount_)
        return;
    const qsizetype line = activeLine();
    bufferCount_ = wanted;
    if (!active())
        return;
    if (!window_.empty())
        placeWindow(current_, line);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

QVariant ResultSet::windowValue(int line, int fieldIndex) const
{
    if (line < 0 || line >= int(window_.size()) || fieldIndex < 0 || fieldIndex >= int(fields_.size()))
        return QVariant();
    if (editing() && line == activeLine())
        return fields_[size_t(fieldIndex)]->fromStorage(pending_.value(fieldIndex));
    return fields_[size_t(fieldIndex)]->fromStorage(window_.row(line).value(fieldIndex));
}

QVariant ResultSet::currentRaw(int fieldIndex) const
{
    if (editing())
        return pending_.value(fieldIndex);
    const int line = activeLine();
    if (line < 0 || line >= int(window_.size()))
        return QVariant();
    return window_.row(line).value(fieldIndex);
}

// ---- moving --------------------------------------------------------------

void ResultSet::first()
{
    requireOpen();
    checkBrowseMode();
    current_ = 0;
    fromEnd_ = false;
    fillWindow(0);
    bof_ = true;
    eof_ = window_.empty();
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::last()
{
    requireOpen();
    checkBrowseMode();
    if (cursor_->readsFromEnd() && !cursor_->complete()) {
        // The last rows are read from the end, the ones before them not at all.
        fromEnd_ = true;
        placeWindow(-1, bufferCount_ - 1);
    } else {
        cursor_->fetchTo(kPastEveryRow);
        const qsizetype count = cursor_->knownCount();
        current_ = std::max<qsizetype>(0, count - 1);
        fillWindow(std::max<qsizetype>(0, count - bufferCount_));
    }
    eof_ = true;
    bof_ = window_.empty();
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

int ResultSet::moveBy(qsizetype distance)
{
    requireOpen();
    checkBrowseMode();
    if (distance == 0)
        return 0;
    if (!hasAnyRow()) {
        bof_ = eof_ = true;
        return 0;
    }
    qsizetype target = current_ + distance;
    if (distance > 0) {
        bof_ = false;
        eof_ = !hasRow(target);
        if (eof_)
            target = fromEnd_ ? -1 : cursor_->knownCount() - 1;
    } else {
        eof_ = false;
        // Counted from the end, a row before the first one is found missing
        // only once the cursor has read every row: then counting starts again
        // from the first row.
        if (fromEnd_ && !hasRow(target))
            target += settle();
        bof_ = !fromEnd_ && target < 0;
        if (bof_)
            target = 0;
    }
    const qsizetype moved = target - current_;
    if (moved == 0)
        return 0;
    const qsizetype line = std::clamp<qsizetype>(activeLine() + moved, 0, bufferCount_ - 1);
    current_ = target;
    window_.shift(target - line, bufferCount_, state_ == DataSetState::Browse, reader_);
    notify(DataEvent::Scrolled);
    checkInvariants();
    return int(moved);
}

bool ResultSet::hasSequenceNumbers() const
{
    return cursor_ && cursor_->complete() && !fromEnd_;
}

void ResultSet::moveToRecNo(qsizetype number)
{
    requireOpen();
    if (number <= 1) {
        first();
        return;
    }
    cursor_->fetchTo(kPastEveryRow);
    settle();
    if (number >= cursor_->knownCount()) {
        last();
        return;
    }
    moveBy(number - 1 - current_);
}

void ResultSet::checkInvariants() const
{
#ifndef QT_NO_DEBUG
    const qsizetype rows = window_.size();
    const qsizetype top = window_.top();
    if (state_ == DataSetState::Closed) {
        Q_ASSERT(!cursor_ && fields_.empty() && rows == 0);
        Q_ASSERT(current_ == 0 && top == 0);
    } else {
        Q_ASSERT(cursor_);
        const bool inserting = state_ == DataSetState::Insert;
        Q_ASSERT(rows <= bufferCount_);
        if (fromEnd_) {
            Q_ASSERT(cursor_->readsFromEnd() && !cursor_->complete() && rows > 0);
            Q_ASSERT(top + rows <= 0 && -top <= cursor_->knownCount() + (inserting ? 1 : 0));
        } else {
            Q_ASSERT(top >= 0);
            Q_ASSERT(top + rows <= cursor_->knownCount() + (inserting ? 1 : 0));
        }
        Q_ASSERT(rows == 0 ? current_ == 0 && top == 0 : top <= current_ && current_ < top + rows);
        Q_ASSERT(inserting ? insertPos_ == current_ : insertPos_ == -1);
    }
    Q_ASSERT(editing() != pending_.isEmpty());
    Q_ASSERT(state_ == DataSetState::Edit || original_.isEmpty());
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
    window_.setReadAhead(walking ? kWalkBatch : 0);
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
    settle();
    deliverToEach(sources_, [&](DataSource *source) { source->notify(event, field); });
}

} // namespace zeplo
