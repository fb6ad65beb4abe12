#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zeplo::tool {

// A malformed record; `line` is the physical line on which the record starts.
class CsvError : public std::runtime_error {
public:
    CsvError(int line, const std::string &what) : std::runtime_error(what), line(line) {}
    int line;
};

struct CsvRecord {
    int line = 0; // physical line (from 1) on which the record starts
    std::vector<std::string> fields;
    std::vector<bool> quoted; // per field: written between quotes
};

// Reads comma-separated records with double-quote quoting: a quoted field may
// hold commas, line breaks and doubled quotes. Lines end in LF, CRLF or CR.
// Empty lines between records are skipped. A leading UTF-8 byte-order mark is
// dropped.
class CsvReader {
public:
    explicit CsvReader(std::string_view data);

    // The next record, or false at the end of the data. Throws CsvError.
    bool next(CsvRecord &record);

private:
    bool atEnd() const { return pos_ >= data_.size(); }
    bool atLineBreak() const { return !atEnd() && (data_[pos_] == '\n' || data_[pos_] == '\r'); }
    void skipLineBreak();

    std::string_view data_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

// Appends one field, between quotes when it holds a comma, a quote or a line
// break, or when `quoteEmpty` asks for "" to tell an empty text from no value.
void appendCsvField(std::string &line, std::string_view text, bool quoteEmpty);

} // namespace zeplo::tool
