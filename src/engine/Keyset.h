#pragma once

#include <unordered_set>
#include <vector>

#include <QtGlobal>

namespace zeplo {

// The row ids of a keyset cursor, read from the first row on and, when the
// query's order can be turned round, from the last row back. Ties in the
// order are broken by the row id. Until the two ends meet an index below zero
// counts from the end (-1 is the last row); once complete, it is taken as
// counted from the end still.
//
// Two ways of meeting. Read by two statements over one snapshot (the file),
// the ends yield the same rows in opposite orders: when one yields the id the
// other yielded last, they have met. Read in steps that each see the table as
// it is (the server), each end reads only up to the other's position, and the
// reader calls meet() when nothing is left between them. There a row whose
// sort values changed meanwhile may come again from the other side of a
// position: it keeps the place it was first read at, as in a snapshot, and
// the keyset never holds an id twice.
class Keyset {
public:
    explicit Keyset(bool meetsById = true) : meetsById_(meetsById) {}

    enum class Step {
        Added,     // the id is the next one at that end
        Skipped,   // deleted or posted here, or (read in steps) read before
        Met,       // the other end's last id: the keyset is complete
    };
    Step addFront(qint64 id) { return add(id, true); }
    Step addBack(qint64 id) { return add(id, false); }
    // One statement ran to its end without meeting the other, so it read the
    // whole result: the ids only the other end knows are rows posted here,
    // which stay where they were placed, after the rest.
    void finish();
    // Nothing is left between the two ends: the keyset is the front's ids,
    // then `missed` (ids that reading in steps missed: rows whose sort values
    // moved behind a position already read while they were ahead), then the
    // back's. Placed there, they move no row counted from either end.
    void meet(const std::vector<qint64> &missed = {});

    bool complete() const { return done_; }
    // How many ids each statement has yielded, skipped ones included.
    qsizetype frontSteps() const { return frontSteps_; }
    qsizetype backSteps() const { return backSteps_; }
    bool started() const { return frontStarted_ || backStarted_; }
    qsizetype frontCount() const { return qsizetype(front_.size()); }
    qsizetype backCount() const { return qsizetype(back_.size()); }
    qsizetype known() const { return frontCount() + backCount(); }
    qint64 at(qsizetype index) const;

    // A row posted here, placed once and for all, before the row that held
    // `index` or, from the end, after it. A statement that yields it later
    // (one that sees the table as it is now) skips it.
    void insert(qsizetype index, qint64 id);
    // A row deleted here; a statement that has not reached it would bring it back.
    void remove(qsizetype index);
    // Whether the id is held (read in steps only: by two statements over one
    // snapshot, an id cannot come twice).
    bool holds(qint64 id) const;

private:
    Step add(qint64 id, bool atFront);
    void done();

    std::vector<qint64> front_;    // ids from the first row on
    std::vector<qint64> back_;     // ids from the last row back
    qint64 frontLast_ = 0, backLast_ = 0;   // the last id each statement yielded
    bool frontStarted_ = false, backStarted_ = false;
    qsizetype frontSteps_ = 0, backSteps_ = 0;
    std::vector<qint64> removed_;  // deleted here while a statement may still yield them
    std::vector<qint64> placed_;   // posted here while a statement may still yield them
    bool meetsById_ = true;
    bool done_ = false;

    // Every id held, when read in steps: a bit a key for the small keys a
    // catalogue's are, a set for the others.
    class Held {
    public:
        bool contains(qint64 id) const;
        void add(qint64 id);
        void remove(qint64 id);
    private:
        static constexpr qint64 kBitsUpTo = qint64(1) << 26;
        std::vector<quint64> bits_;
        std::unordered_set<qint64> others_;
    };
    Held held_;
};

} // namespace zeplo
