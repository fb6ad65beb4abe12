#pragma once

#include <QStringList>

namespace zeplo {

// The genres the genre boxes offer, in this order (not sorted).
const QStringList &genres();

} // namespace zeplo
