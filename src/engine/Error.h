#pragma once

#include <stdexcept>

#include <QString>

namespace zeplo {

// A failure that carries the text the user is shown. Every layer throws it;
// the error guard of the windows catches it and shows the text.
class Error : public std::runtime_error {
public:
    explicit Error(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

} // namespace zeplo
