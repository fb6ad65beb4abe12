#include "TerminalProgress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace zeplo::tool {

namespace {

const char *verb(Stage stage)
{
    switch (stage) {
    case Stage::Checking: return "checking";
    case Stage::Storing: return "storing";
    case Stage::Writing: return "writing";
    case Stage::Copying: return "copying";
    }
    return "";
}

} // namespace

TerminalProgress::TerminalProgress(std::string subject)
    : subject_(std::move(subject)), terminal_(isatty(fileno(stderr)) != 0)
{
}

TerminalProgress::~TerminalProgress()
{
    if (shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void TerminalProgress::advance(Stage stage, std::uint64_t done, std::uint64_t total)
{
    if (!terminal_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100) && done != total)
        return;
    last_ = now;
    shown_ = true;
    const int percent = total ? static_cast<int>(done * 100 / total) : 0;
    if (stage == Stage::Checking)
        std::fprintf(stderr, "\r\033[K%s: checking the file, %d %%", subject_.c_str(), percent);
    else if (total)
        std::fprintf(stderr, "\r\033[K%s: %s, %llu of %llu books (%d %%)", subject_.c_str(), verb(stage),
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), percent);
    else
        std::fprintf(stderr, "\r\033[K%s: %s, %llu books", subject_.c_str(), verb(stage),
                     static_cast<unsigned long long>(done));
    std::fflush(stderr);
}

} // namespace zeplo::tool
