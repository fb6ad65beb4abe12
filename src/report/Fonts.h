#pragma once

namespace zeplo {

// The layout was drawn for "MS Sans Serif" and "Arial"; where those are not
// installed, metric-compatible faces stand in for them.
void installFontSubstitutes();

} // namespace zeplo
