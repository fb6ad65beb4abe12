#pragma once

#include <string_view>

#include "SheetRows.h"
#include "books/Books.h"

namespace zeplo::tool {

// Whether a field is a mark ("x", in any case) as spreadsheet users tick a
// logical column; in a column that holds marks, an empty field is false.
bool isMark(std::string_view field);

// The value of one field in `column`, or an Error saying what is wrong with it
// (without the place). An empty field is no value (null), except that an empty
// text cell in a text column is an empty text and an empty field of a logical
// column that holds marks is false.
void convertField(const Column &column, Cell &&cell, bool columnHoldsMarks, Value &value);

} // namespace zeplo::tool
