#pragma once

#include <exception>

#include <QString>

namespace zeplo {

// What the application error box says of where a failure was met: the
// exception's class (without namespaces), the module (the program or library
// file, without its folder) and the address in it, relative to where the
// module was loaded.
struct FailureSite {
    QString className;
    QString module;
    quintptr address = 0;
};

// The site of `error`, as met by the code that calls this function. The only
// place that asks the platform: one branch for each.
FailureSite failureSite(const std::exception &error);

} // namespace zeplo
