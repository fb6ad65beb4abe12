#pragma once

#include <QString>

#include "engine/Error.h"

// The message of the error `f` raises; empty when it raises none.
template <class F>
QString errorOf(F &&f)
{
    try {
        f();
    } catch (const zeplo::Error &e) {
        return e.message();
    }
    return QString();
}
