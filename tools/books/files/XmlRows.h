#pragma once

#include <memory>
#include <string>

#include <QXmlStreamReader>

#include "SheetRows.h"
#include "ZipArchive.h"

namespace zeplo::tool {

// What the readers of both workbook formats share: the zip file, the sheet's
// part read as a stream of XML, and the making of rows from cells. Whatever a
// file says, the rows it gives stay within a sheet's bounds (kMostRows,
// kMostColumns) and their texts within budgets sized far above any workbook
// of books, so that memory and time follow what the file really holds, not
// what its repeats and references multiply it to.
class XmlRows : public RowReader {
public:
    explicit XmlRows(const std::filesystem::path &file) : zip_(file), fileName_(file.string()) {}

    std::uint64_t position() const override { return static_cast<std::uint64_t>(xml_.characterOffset()); }
    std::uint64_t size() const override { return size_; }

    static constexpr std::uint64_t kLargestSheet = 256u << 20;  // unpacked bytes of the sheet's part
    static constexpr std::uint64_t kLargestSmallPart = 16u << 20; // of the workbook's other parts
    static constexpr int kMostRows = 1048576;
    static constexpr std::size_t kMostColumns = 16384;
    static constexpr std::size_t kLongestCell = 16u << 20;        // bytes of a cell's text
    static constexpr std::uint64_t kLargestRow = 64u << 20;       // bytes of a row's cells
    static constexpr std::uint64_t kMostSheetBytes = 1u << 30;    // of every row given, repeats included

protected:
    void openSheet(const std::string &part);
    // Opens another part as XML for `xml`; the part must outlive the reading.
    std::unique_ptr<ZipPart> openPart(const std::string &part, std::uint64_t limit, QXmlStreamReader &xml) const;
    // Fails when a part read to its end was malformed or refused.
    void checkPart(const std::string &part, const QXmlStreamReader &xml, const ZipPart &device) const;
    // The sheet's XML is malformed or refused; `line` names the row being read.
    [[noreturn]] void malformed(int line) const;
    void checkXml(int line) const
    {
        if (xml_.hasError())
            malformed(line);
    }

    // A row begins: its number, no cells yet.
    void beginRow(SheetRow &row, int line);
    // Puts a cell at a column of the row, the columns between them empty.
    void place(SheetRow &row, std::size_t column, Cell &&cell);
    // The row is given once more (a repeated row).
    void givenAgain(const SheetRow &row);
    // Fails when a cell's text has grown past kLongestCell.
    static void checkCellText(const std::string &text, int line);
    // A row's cells without its empty ones at the end; false when none holds a value.
    static bool trimmedHasValue(SheetRow &row);

    ZipReader zip_;
    std::string fileName_;
    std::string part_;
    std::unique_ptr<ZipPart> device_;
    std::uint64_t size_ = 0;
    QXmlStreamReader xml_;

private:
    void count(int line, std::uint64_t bytes);
    std::string problemOf(const std::string &part, const QXmlStreamReader &xml, const ZipPart &device) const;

    std::uint64_t rowBytes_ = 0;
    std::uint64_t sheetBytes_ = 0;
};

} // namespace zeplo::tool
