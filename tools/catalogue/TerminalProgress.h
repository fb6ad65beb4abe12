#pragma once

#include <chrono>
#include <string>

#include "books/Progress.h"

namespace zeplo::tool {

// Progress of long work as one line on stderr that updates itself, at most ten
// times a second, and is wiped when the work ends; nothing when stderr is not a
// terminal, so that logs and pipes get only the result.
class TerminalProgress : public Progress {
public:
    explicit TerminalProgress(std::string subject);
    ~TerminalProgress() override;

    void advance(Stage stage, std::uint64_t done, std::uint64_t total) override;

private:
    std::string subject_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_;
};

} // namespace zeplo::tool
