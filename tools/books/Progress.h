#pragma once

#include <cstdint>

#include "engine/Error.h"

namespace zeplo::tool {

// What long work is doing when it reports how far it has come.
enum class Stage {
    Checking, // reading a file through before anything is stored; counted in bytes of the file
    Storing,  // books going into a catalogue
    Writing,  // books going into a file
    Copying,  // books going from one catalogue into another
};

// Told now and then how far long work has come. It may stop the work by
// throwing (Cancelled); the work then leaves everything as it was.
class Progress {
public:
    virtual ~Progress() = default;
    // `total` is 0 when it is not known.
    virtual void advance(Stage stage, std::uint64_t done, std::uint64_t total) = 0;
};

// Work that wants no report.
Progress &noProgress();

// The user stopped the work.
class Cancelled : public Error {
public:
    Cancelled();
};

// How often work reports: every this many books.
inline constexpr std::uint64_t kProgressEvery = 512;

} // namespace zeplo::tool
