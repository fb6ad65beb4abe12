#include "engine/ResultSet.h"
#include "engine/ResultSetCheck.h"

#include <algorithm>

// The result set and changes made by another program: the rows on screen read
// again where they stand, without a command of the user's.
namespace zeplo {

bool ResultSet::changedElsewhere(const std::vector<qint64> &keys, bool all)
{
    if (!cursor_)
        return false;
    cursor_->changedElsewhere(keys, all);
    if (at_.window.empty())
        return false;
    if (all)
        return true;
    for (qsizetype p = at_.window.top(); p < at_.window.top() + at_.window.size(); ++p) {
        if (at_.state == DataSetState::Insert && p == at_.insertPos)
            continue;
        const std::optional<qint64> key = cursor_->knownKey(cursorIndex(at_, p));
        if (key && std::find(keys.begin(), keys.end(), *key) != keys.end())
            return true;
    }
    return false;
}

bool ResultSet::rereadWindow()
{
    if (at_.state != DataSetState::Browse || at_.window.empty())
        return false;
    {
        FailedTransitionCheck check(*this);
        // Whatever was kept of these rows may be what the other program replaced.
        std::vector<qint64> shown;
        for (qsizetype p = at_.window.top(); p < at_.window.top() + at_.window.size(); ++p)
            if (const std::optional<qint64> key = cursor_->knownKey(p))
                shown.push_back(*key);
        cursor_->changedElsewhere(shown, false);
        Standing next = at_;
        // Exactly the rows shown: none read beyond them, so the list's
        // membership and its count of known rows stay as they are.
        next.window.fill(next.window.top(), next.window.size(), readerOf(next));
        if (next.window.size() != at_.window.size())
            return false;
        next.stale = false;
        commit(std::move(next));
    }
    notify(DataEvent::DataSetChanged);
    checkInvariants();
    return true;
}

} // namespace zeplo
