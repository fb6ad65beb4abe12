#include "XmlRows.h"

#include <algorithm>

#include "books/Books.h"

namespace zeplo::tool {

namespace {
// The most columns a spreadsheet program makes; a cell beyond them is a broken file.
constexpr std::size_t kMostColumns = 16384;
} // namespace

void XmlRows::malformed(int line) const
{
    throw BadLine(line, say("the workbook's part ", "část sešitu ") + part_ + say(" is damaged: ", " je poškozená: ")
                            + xml_.errorString().toStdString());
}

void XmlRows::place(SheetRow &row, std::size_t column, Cell &&cell)
{
    if (column >= kMostColumns)
        throw BadLine(row.line, say("a cell lies beyond the last column a sheet may have",
                                    "buňka leží za posledním sloupcem, který list může mít"));
    if (row.cells.size() <= column)
        row.cells.resize(column + 1);
    row.cells[column] = std::move(cell);
}

bool XmlRows::trimmedHasValue(SheetRow &row)
{
    while (!row.cells.empty() && row.cells.back().text.empty() && !row.cells.back().isText)
        row.cells.pop_back();
    return !row.cells.empty();
}

} // namespace zeplo::tool
