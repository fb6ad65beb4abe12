#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Error.h"

namespace zeplo::tool {

// One field of a file: a CSV field or a workbook's cell, as UTF-8 text.
struct Cell {
    std::string text;
    // Written as a text (quoted in CSV, a text cell in a workbook): an empty
    // one is an empty text, where an empty plain field is no value.
    bool isText = false;
    // A workbook's date (or date and time), its text in ISO 8601: "1936-03-01",
    // "1936-03-01T10:20:00".
    bool isDate = false;
    // A workbook's error value ("#N/A", "#REF!", "Err:502"), its text the error
    // as shown: no value at all, which no column takes.
    bool isError = false;
};

// One record of a file. `line` is where it starts: the physical line of a CSV
// file or the row number of a sheet, from 1.
struct SheetRow {
    int line = 0;
    std::vector<Cell> cells;
};

// The rows of one file (a CSV file or a workbook's first sheet), read in order,
// rows without any value skipped.
class RowReader {
public:
    virtual ~RowReader() = default;
    // The next row, or false at the end. A malformed file throws BadLine.
    virtual bool next(SheetRow &row) = 0;
    // How much of the file has been read, and its size, in bytes of some
    // measure of the reader's choosing, for progress.
    virtual std::uint64_t position() const = 0;
    virtual std::uint64_t size() const = 0;
};

// A record of a file that cannot be read or taken; `line` as in SheetRow and
// `reason` without the place, for whoever names the place in its own words. The
// message is the reason, or the whole sentence with the place once it is known.
class BadLine : public Error {
public:
    BadLine(int line, const std::string &reason, const std::string &message = {})
        : Error(QString::fromStdString(message.empty() ? reason : message)), line(line), reason(reason)
    {
    }
    int line;
    std::string reason;
};

} // namespace zeplo::tool
