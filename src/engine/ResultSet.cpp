#include "engine/ResultSet.h"

#include <algorithm>
#include <exception>
#include <limits>

namespace zeplo {

namespace {
constexpr qsizetype kToEnd = std::numeric_limits<qsizetype>::max() - 1;
}

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

// ---- opening and closing -------------------------------------------------

void ResultSet::open()
{
    if (active())
        return;
    const QString text = sql_.join(QStringLiteral("\r\n"));
    if (sql_.isEmpty() || text.size() < 2 || text.trimmed().isEmpty())
        fail(QStringLiteral("No SQL statement available"));
    try {
        cursor_ = Engine::openDefault()->openCursor(text, RequestLive);
        canModify_ = RequestLive && cursor_->updatable();
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
    top_ = 0;
    fillWindow();
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
    current_ = top_ = 0;
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
    if (state_ == DataSetState::Insert && position > insertPos_)
        return position - 1;
    return position;
}

bool ResultSet::hasRow(qsizetype position)
{
    if (position < 0 || !cursor_)
        return false;
    if (state_ == DataSetState::Insert && position == insertPos_)
        return true;
    return cursor_->fetchTo(cursorIndex(position));
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

bool ResultSet::isEmpty() const
{
    return !const_cast<ResultSet *>(this)->hasRow(0);
}

qsizetype ResultSet::knownRecordCount() const
{
    return cursor_ ? cursor_->knownCount() : 0;
}

void ResultSet::fillWindow()
{
    window_.clear();
    for (qsizetype p = top_; p < top_ + bufferCount_ && hasRow(p); ++p)
        window_.push_back(rowAt(p));
}

void ResultSet::shiftWindow(qsizetype top)
{
    // A move keeps the rows it still shows and reads only the ones it brings
    // in: a step down by one reads one row, not a whole screen.
    const qsizetype oldTop = top_;
    const qsizetype oldEnd = top_ + qsizetype(window_.size());
    if (state_ != DataSetState::Browse || top + bufferCount_ <= oldTop || top >= oldEnd) {
        top_ = top;
        fillWindow();
        return;
    }
    std::vector<RowValues> rows;
    rows.reserve(size_t(bufferCount_));
    for (qsizetype p = top; p < top + bufferCount_; ++p) {
        if (p >= oldTop && p < oldEnd)
            rows.push_back(std::move(window_[size_t(p - oldTop)]));
        else if (hasRow(p))
            rows.push_back(rowAt(p));
        else
            break;
    }
    top_ = top;
    window_ = std::move(rows);
}

void ResultSet::placeWindow(qsizetype current, qsizetype line)
{
    line = std::clamp<qsizetype>(line, 0, bufferCount_ - 1);
    qsizetype top = std::max<qsizetype>(0, current - line);
    if (!hasRow(top + bufferCount_ - 1)) {
        // The rows after the current one do not fill the window: show more before it.
        const qsizetype count = cursor_->knownCount() + (state_ == DataSetState::Insert ? 1 : 0);
        top = std::max<qsizetype>(0, std::min(top, count - bufferCount_));
    }
    top_ = top;
    current_ = current;
    fillWindow();
}

void ResultSet::reread(qsizetype preferred, qsizetype line)
{
    if (!hasRow(0)) {
        current_ = top_ = 0;
        window_.clear();
        bof_ = eof_ = true;
        return;
    }
    qsizetype position = preferred;
    if (!hasRow(position)) {
        cursor_->fetchTo(kToEnd);
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
    return fields_[size_t(fieldIndex)]->fromStorage(window_[size_t(line)].value(fieldIndex));
}

QVariant ResultSet::currentRaw(int fieldIndex) const
{
    if (editing())
        return pending_.value(fieldIndex);
    const int line = activeLine();
    if (line < 0 || line >= int(window_.size()))
        return QVariant();
    return window_[size_t(line)].value(fieldIndex);
}

// ---- moving --------------------------------------------------------------

void ResultSet::first()
{
    requireOpen();
    checkBrowseMode();
    current_ = top_ = 0;
    fillWindow();
    bof_ = true;
    eof_ = window_.empty();
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

void ResultSet::last()
{
    requireOpen();
    checkBrowseMode();
    cursor_->fetchTo(kToEnd);
    const qsizetype count = cursor_->knownCount();
    current_ = std::max<qsizetype>(0, count - 1);
    top_ = std::max<qsizetype>(0, count - bufferCount_);
    fillWindow();
    eof_ = true;
    bof_ = count == 0;
    notify(DataEvent::DataSetChanged);
    checkInvariants();
}

int ResultSet::moveBy(qsizetype distance)
{
    requireOpen();
    checkBrowseMode();
    if (distance == 0)
        return 0;
    if (!hasRow(0)) {
        bof_ = eof_ = true;
        return 0;
    }
    qsizetype target = current_ + distance;
    if (distance > 0) {
        bof_ = false;
        eof_ = !hasRow(target);
        if (eof_)
            target = cursor_->knownCount() - 1;
    } else {
        eof_ = false;
        bof_ = target < 0;
        if (bof_)
            target = 0;
    }
    const qsizetype moved = target - current_;
    if (moved == 0)
        return 0;
    const qsizetype line = std::clamp<qsizetype>(activeLine() + moved, 0, bufferCount_ - 1);
    current_ = target;
    shiftWindow(target - line);
    notify(DataEvent::Scrolled);
    checkInvariants();
    return int(moved);
}

bool ResultSet::hasSequenceNumbers() const
{
    return cursor_ && cursor_->complete();
}

void ResultSet::moveToRecNo(qsizetype number)
{
    requireOpen();
    if (number <= 1) {
        first();
        return;
    }
    cursor_->fetchTo(kToEnd);
    if (number >= cursor_->knownCount()) {
        last();
        return;
    }
    moveBy(number - 1 - current_);
}

// ---- changing ------------------------------------------------------------

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
    const qsizetype line = state_ == DataSetState::Browse && !window_.empty() ? activeLine() : 0;
    insertPos_ = position;
    pending_ = RowValues(qsizetype(fields_.size()));
    original_.clear();
    changed_ = false;
    state_ = DataSetState::Insert;
    placeWindow(position, line);
    bof_ = eof_ = false;
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
    cursor_->fetchTo(kToEnd);
    const qsizetype count = cursor_->knownCount();
    // The new row goes after the last one, on the line after it or on the
    // bottom line when the list fills the window.
    insertPos_ = count;
    pending_ = RowValues(qsizetype(fields_.size()));
    original_.clear();
    changed_ = false;
    state_ = DataSetState::Insert;
    placeWindow(count, std::min<qsizetype>(count, bufferCount_ - 1));
    bof_ = false;
    eof_ = true;
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
    startInsert(hasRow(0) ? current_ : 0);
}

void ResultSet::edit()
{
    if (editing())
        return;
    requireOpen();
    if (!hasRow(0)) {
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
    window_[size_t(activeLine())] = fresh;
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
    placeWindow(current_, line);
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

void ResultSet::checkInvariants() const
{
#ifndef QT_NO_DEBUG
    const qsizetype rows = qsizetype(window_.size());
    if (state_ == DataSetState::Closed) {
        Q_ASSERT(!cursor_ && fields_.empty() && rows == 0);
        Q_ASSERT(current_ == 0 && top_ == 0);
    } else {
        Q_ASSERT(cursor_);
        const bool inserting = state_ == DataSetState::Insert;
        Q_ASSERT(top_ >= 0 && rows <= bufferCount_);
        Q_ASSERT(top_ + rows <= cursor_->knownCount() + (inserting ? 1 : 0));
        Q_ASSERT(rows == 0 ? current_ == 0 && top_ == 0 : top_ <= current_ && current_ < top_ + rows);
        Q_ASSERT(inserting ? insertPos_ == current_ : insertPos_ == -1);
    }
    Q_ASSERT(editing() != pending_.isEmpty());
    Q_ASSERT(state_ == DataSetState::Edit || original_.isEmpty());
#endif
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
    // that, the row before it.
    qsizetype preferred = current_;
    if (wasInsert && !hasRow(preferred))
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
    if (!hasRow(0))
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    const qsizetype line = activeLine();
    const qsizetype position = current_;
    cursor_->remove(cursorIndex(position));
    reread(hasRow(position) ? position : position - 1, line);
    notify(DataEvent::DataSetChanged);
    checkInvariants();
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
    deliverToEach(sources_, [&](DataSource *source) { source->notify(event, field); });
}

} // namespace zeplo
