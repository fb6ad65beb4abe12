#include "Books.h"

#include <atomic>

#include "engine/Error.h"

namespace zeplo::tool {

namespace {
std::atomic<Language> chosen{Language::English};
}

void fail(const std::string &message) { throw Error(QString::fromStdString(message)); }

void setLanguage(Language language) { chosen = language; }

Language language() { return chosen; }

std::string say(std::string_view english, std::string_view czech)
{
    return std::string(chosen == Language::Czech ? czech : english);
}

std::string bookCount(std::uint64_t n)
{
    if (chosen == Language::Czech) {
        const char *noun = n == 1 ? " kniha" : (n >= 2 && n <= 4 ? " knihy" : " knih");
        return std::to_string(n) + noun;
    }
    return std::to_string(n) + (n == 1 ? " book" : " books");
}

std::string columnList()
{
    return schema::columnList().toStdString();
}

} // namespace zeplo::tool
