#pragma once

#include <string_view>

namespace zeplo::tool {

// The catalogue column (its index in kColumns) that a file's header names, or -1.
// Names match without regard to case, accents, spaces and underscores, so that
// "Název", "NAZEV" and "nazev" are the title, "Rok vydání" and "rok_vydani" the year.
int columnNamed(std::string_view header);

inline bool isColumnName(std::string_view header) { return columnNamed(header) >= 0; }

} // namespace zeplo::tool
