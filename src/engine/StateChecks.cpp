#include "engine/StateChecks.h"

#include <QtGlobal>

namespace zeplo {

bool stateChecksOn()
{
    // What Q_ASSERT does with its condition here, it does in every check.
    bool on = false;
    Q_ASSERT((on = true));
    return on;
}

} // namespace zeplo
