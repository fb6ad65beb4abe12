#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "SheetRows.h"
#include "books/Books.h"

namespace zeplo::tool {

// Whether a field is a mark ("x", in any case) as spreadsheet users tick a
// logical column; in a column that holds marks, an empty field is false.
bool isMark(std::string_view field);

// The value of one field in the catalogue column `column` (its index in
// kColumns), or an Error saying what is wrong with it (without the place). An
// empty field is no value (null), except that an empty text cell in a text
// column is an empty text and an empty field of a logical column that holds
// marks is false. A date gives its year in the year column and its ISO text
// in a text column. An error cell is refused by whoever knows its place.
void convertField(std::size_t column, Cell &&cell, bool columnHoldsMarks, Value &value);

// A value as a message quotes it, on one line and short: at most
// kQuotedCharacters characters, cut with "…", line breaks shown as "↵" and
// other control characters as spaces; in Czech quotation marks in Czech.
std::string quotedValue(std::string_view value);
// The same without the quotation marks, for names in a list.
std::string shortened(std::string_view value);
inline constexpr std::size_t kQuotedCharacters = 60;

} // namespace zeplo::tool
