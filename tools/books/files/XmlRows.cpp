#include "XmlRows.h"

#include "books/Books.h"

namespace zeplo::tool {

void XmlRows::openSheet(const std::string &part)
{
    part_ = part;
    device_ = openPart(part, kLargestSheet, xml_);
    size_ = device_->statedSize();
}

std::unique_ptr<ZipPart> XmlRows::openPart(const std::string &part, std::uint64_t limit, QXmlStreamReader &xml) const
{
    std::unique_ptr<ZipPart> device = zip_.open(part, limit);
    xml.setDevice(device.get());
    return device;
}

std::string XmlRows::problemOf(const std::string &part, const QXmlStreamReader &xml, const ZipPart &device) const
{
    const std::string name = say("the workbook's part ", "část sešitu ") + part;
    if (!device.refusal().empty())
        return name + " " + device.refusal();
    return name + say(" is damaged: ", " je poškozená: ") + xml.errorString().toStdString();
}

void XmlRows::checkPart(const std::string &part, const QXmlStreamReader &xml, const ZipPart &device) const
{
    if (xml.hasError())
        fail(fileName_ + ": " + problemOf(part, xml, device));
}

void XmlRows::malformed(int line) const { throw BadLine(line, problemOf(part_, xml_, *device_)); }

void XmlRows::beginRow(SheetRow &row, int line)
{
    if (line > kMostRows)
        throw BadLine(line, say("the row lies beyond the last row a sheet may have (1,048,576)",
                                "řádek leží za posledním řádkem, který list může mít (1 048 576)"));
    row.line = line;
    row.cells.clear();
    rowBytes_ = 0;
}

void XmlRows::count(int line, std::uint64_t bytes)
{
    rowBytes_ += bytes;
    sheetBytes_ += bytes;
    if (rowBytes_ > kLargestRow)
        throw BadLine(line, say("the row holds more than 64 MiB", "řádek obsahuje víc než 64 MiB"));
    if (sheetBytes_ > kMostSheetBytes)
        throw BadLine(line, say("the sheet's rows, their repeats counted, hold more than 1 GiB, more than a "
                                "workbook of books holds",
                                "řádky listu i s opakováními obsahují víc než 1 GiB, víc, než má sešit knih"));
}

void XmlRows::place(SheetRow &row, std::size_t column, Cell &&cell)
{
    if (column >= kMostColumns)
        throw BadLine(row.line, say("a cell lies beyond the last column a sheet may have",
                                    "buňka leží za posledním sloupcem, který list může mít"));
    const std::size_t added = row.cells.size() <= column ? column + 1 - row.cells.size() : 0;
    count(row.line, added * sizeof(Cell) + cell.text.size());
    if (added)
        row.cells.resize(column + 1);
    row.cells[column] = std::move(cell);
}

void XmlRows::givenAgain(const SheetRow &row)
{
    rowBytes_ = 0;
    std::uint64_t bytes = row.cells.size() * sizeof(Cell);
    for (const Cell &cell : row.cells)
        bytes += cell.text.size();
    count(row.line, bytes);
}

void XmlRows::checkCellText(const std::string &text, int line)
{
    if (text.size() > kLongestCell)
        throw BadLine(line, say("a cell holds more than 16 MiB of text", "buňka obsahuje víc než 16 MiB textu"));
}

bool XmlRows::trimmedHasValue(SheetRow &row)
{
    while (!row.cells.empty() && row.cells.back().text.empty() && !row.cells.back().isText)
        row.cells.pop_back();
    return !row.cells.empty();
}

} // namespace zeplo::tool
