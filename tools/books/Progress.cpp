#include "Progress.h"

#include "Books.h"

namespace zeplo::tool {

namespace {
class Silent : public Progress {
public:
    void advance(Stage, std::uint64_t, std::uint64_t) override {}
};
} // namespace

Progress &noProgress()
{
    static Silent silent;
    return silent;
}

Cancelled::Cancelled() : Error(QString::fromStdString(say("cancelled", "zrušeno"))) {}

} // namespace zeplo::tool
