#include "engine/Keyset.h"

#include <algorithm>

namespace zeplo {

Keyset::Step Keyset::add(qint64 id, bool atFront)
{
    Q_ASSERT(!done_);
    ++(atFront ? frontSteps_ : backSteps_);
    if (meetsById_ && (atFront ? backStarted_ && id == backLast_ : frontStarted_ && id == frontLast_)) {
        // Each statement has read the ids up to the other's last one.
        front_.insert(front_.end(), back_.rbegin(), back_.rend());
        back_.clear();
        done();
        return Step::Met;
    }
    (atFront ? frontLast_ : backLast_) = id;
    (atFront ? frontStarted_ : backStarted_) = true;
    if (std::find(removed_.begin(), removed_.end(), id) != removed_.end()
        || std::find(placed_.begin(), placed_.end(), id) != placed_.end() || holds(id))
        return Step::Skipped;
    (atFront ? front_ : back_).push_back(id);
    if (!meetsById_)
        held_.add(id);
    return Step::Added;
}

void Keyset::finish()
{
    if (!back_.empty()) {
        std::vector<qint64> known(front_);
        std::sort(known.begin(), known.end());
        for (auto it = back_.rbegin(); it != back_.rend(); ++it)
            if (!std::binary_search(known.begin(), known.end(), *it))
                front_.push_back(*it);
        back_.clear();
    }
    done();
}

void Keyset::meet(const std::vector<qint64> &missed)
{
    for (qint64 id : missed)
        if (!holds(id)) {
            front_.push_back(id);
            held_.add(id);
        }
    front_.insert(front_.end(), back_.rbegin(), back_.rend());
    back_.clear();
    done();
}

void Keyset::done()
{
    done_ = true;
    removed_.clear();
    placed_.clear();
}

qint64 Keyset::at(qsizetype index) const
{
    if (done_ && index < 0)
        index += known();
    if (index >= 0)
        return front_.at(size_t(index));
    return back_.at(size_t(-index - 1));
}

bool Keyset::holds(qint64 id) const
{
    return !meetsById_ && held_.contains(id);
}

bool Keyset::Held::contains(qint64 id) const
{
    if (id >= 0 && id < kBitsUpTo)
        return quint64(id >> 6) < bits_.size() && (bits_[size_t(id >> 6)] >> (id & 63) & 1);
    return others_.count(id) > 0;
}

void Keyset::Held::add(qint64 id)
{
    if (id >= 0 && id < kBitsUpTo) {
        if (quint64(id >> 6) >= bits_.size())
            bits_.resize(std::max(size_t(id >> 6) + 1, bits_.size() * 2));
        bits_[size_t(id >> 6)] |= quint64(1) << (id & 63);
    } else {
        others_.insert(id);
    }
}

void Keyset::Held::remove(qint64 id)
{
    if (id >= 0 && id < kBitsUpTo) {
        if (quint64(id >> 6) < bits_.size())
            bits_[size_t(id >> 6)] &= ~(quint64(1) << (id & 63));
    } else {
        others_.erase(id);
    }
}

void Keyset::insert(qsizetype index, qint64 id)
{
    if (done_ && index < 0)
        index += known() + 1;
    if (index >= 0)
        front_.insert(front_.begin() + std::clamp<qsizetype>(index, 0, frontCount()), id);
    else
        back_.insert(back_.begin() + std::clamp<qsizetype>(-index - 1, 0, backCount()), id);
    if (!done_)
        placed_.push_back(id);
    if (!meetsById_)
        held_.add(id);
}

void Keyset::remove(qsizetype index)
{
    const qint64 id = at(index);
    if (done_ && index < 0)
        index += known();
    if (index >= 0)
        front_.erase(front_.begin() + index);
    else
        back_.erase(back_.begin() + (-index - 1));
    if (!done_)
        removed_.push_back(id);
    if (!meetsById_)
        held_.remove(id);
}

} // namespace zeplo
