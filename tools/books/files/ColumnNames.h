#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zeplo::tool {

// The catalogue column (its index in kColumns) that a file's header names, or -1.
// Names match without regard to case, accents, spaces and underscores, so that
// "Název", "NAZEV" and "nazev" are the title, "Rok vydání" and "rok_vydani" the year.
int columnNamed(std::string_view header);

// A catalogue column's Czech name, as the transfer window and Czech messages
// call it: "Autor", "Název", "Rok vydání"; "id" for the id.
const char *czechName(std::size_t column);
// The column's name in messages: its Czech name in Czech, else the catalogue's name.
std::string columnTitle(std::size_t column);

inline bool isColumnName(std::string_view header) { return columnNamed(header) >= 0; }

} // namespace zeplo::tool
