#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/CatalogueSchema.h"

namespace zeplo::tool {

// A failure of the tool; main() prints the message and exits with code 1, the
// transfer window shows it.
[[noreturn]] void fail(const std::string &message);

// The language of the messages: English on the command line, Czech in the
// transfer window. Chosen once at start, before any work runs.
enum class Language { English, Czech };
void setLanguage(Language language);
Language language();

// The text of a message in the chosen language.
std::string say(std::string_view english, std::string_view czech);

// The columns of table zeplo, in the order every catalogue and file lists them.
using schema::Column;
using schema::holdsText;
using schema::Kind;
using schema::kColumnCount;
using schema::kColumns;

// "1 book", "2 books"; "1 kniha", "2 knihy", "5 knih"
std::string bookCount(std::uint64_t n);

// "id,autor,...,pujceno"
std::string columnList();

// One stored value. Its column says which member holds it: `number` for the id,
// the year and the logical columns (0 or 1), `text` for the others.
struct Value {
    bool null = true;
    std::int64_t number = 0;
    std::string text;

    void setNull() { null = true; }
    void setNumber(std::int64_t n) { null = false; number = n; }
    template <class Text>
    void setText(const Text &t) { null = false; text.assign(t); }
};

// One book, its values in column order. A null id leaves the choice to the catalogue.
using Book = std::array<Value, kColumnCount>;

} // namespace zeplo::tool
