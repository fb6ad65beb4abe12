#pragma once

#include <QString>

namespace zeplo::tool {

// Office Open XML writes a character that XML cannot hold, and a carriage
// return, which XML readers turn into a line feed, as _xHHHH_; a text that
// looks like such an escape has its underscore written as _x005F_.
QString escapedOoxml(const QString &text);
QString unescapedOoxml(const QString &text);

} // namespace zeplo::tool
