#pragma once

// Included by the result set's own sources only.
#include <exception>

#include "engine/ResultSet.h"

namespace zeplo {

// Asserts, in the sanitizer build, that a transition that fails leaves the
// set standing exactly where it stood. A cursor that a failed read brought to
// its end may count the same rows from the other end now: the comparison
// allows for that renumbering, which the set then takes over too.
class ResultSet::FailedTransitionCheck {
public:
#ifndef QT_NO_DEBUG
    explicit FailedTransitionCheck(ResultSet &set) : set_(set), before_(set.at_), failures_(std::uncaught_exceptions()) {}
    ~FailedTransitionCheck()
    {
        if (std::uncaught_exceptions() == failures_)
            return;
        set_.settle(set_.at_);
        Standing expected = before_;
        if (before_.fromEnd && !set_.at_.fromEnd) {
            const qsizetype shift = set_.cursor_->knownCount() + (before_.state == DataSetState::Insert ? 1 : 0);
            expected.current += shift;
            expected.window.renumber(shift);
            if (expected.state == DataSetState::Insert)
                expected.insertPos += shift;
            expected.fromEnd = false;
        }
        Q_ASSERT(set_.at_ == expected);
        set_.checkInvariants();
    }

private:
    ResultSet &set_;
    Standing before_;
    int failures_;
#else
    explicit FailedTransitionCheck(ResultSet &set) : set_(set), failures_(std::uncaught_exceptions()) {}
    ~FailedTransitionCheck()
    {
        if (std::uncaught_exceptions() != failures_)
            set_.settle(set_.at_);
    }

private:
    ResultSet &set_;
    int failures_;
#endif
};

} // namespace zeplo
