#pragma once

#include <memory>
#include <string>

#include <QIODevice>
#include <QXmlStreamReader>

#include "SheetRows.h"
#include "ZipArchive.h"

namespace zeplo::tool {

// What the readers of both workbook formats share: the zip file, the sheet's
// part read as a stream of XML, and the making of rows from cells.
class XmlRows : public RowReader {
public:
    XmlRows(const std::filesystem::path &file) : zip_(file), fileName_(file.string()) {}

    std::uint64_t position() const override { return static_cast<std::uint64_t>(xml_.characterOffset()); }
    std::uint64_t size() const override { return size_; }

protected:
    void openSheet(const std::string &part)
    {
        part_ = part;
        device_ = zip_.open(part, size_);
        xml_.setDevice(device_.get());
    }
    // Fails on malformed XML; `line` names the row being read.
    [[noreturn]] void malformed(int line) const;
    void checkXml(int line) const
    {
        if (xml_.hasError())
            malformed(line);
    }
    // Puts a cell at a column of the row, the columns between them empty.
    static void place(SheetRow &row, std::size_t column, Cell &&cell);
    // A row's cells without its empty ones at the end; false when none holds a value.
    static bool trimmedHasValue(SheetRow &row);

    ZipReader zip_;
    std::string fileName_;
    std::string part_;
    std::unique_ptr<QIODevice> device_;
    std::uint64_t size_ = 0;
    QXmlStreamReader xml_;
};

} // namespace zeplo::tool
