#pragma once

#include "engine/DataSource.h"

// A link that only asks for a window of rows, as a grid of that many lines would.
struct WindowLink : zeplo::DataLink {
    explicit WindowLink(int lines = 5) : lines(lines) {}
    int lines;
    int bufferCount() const override { return lines; }
    void dataEvent(zeplo::DataEvent, zeplo::Field *) override {}
};
