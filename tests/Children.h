#pragma once

#include <QObject>

#include <stdexcept>
#include <string>

// A window's control found by its object name, as a user or a screen reader
// finds it; a missing control fails the test.
template <class T>
T *child(const QObject &window, const char *name)
{
    if (T *found = window.findChild<T *>(QLatin1String(name)))
        return found;
    throw std::runtime_error(std::string("no control named ") + name);
}
