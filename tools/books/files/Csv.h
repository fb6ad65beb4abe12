#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "SheetRows.h"

namespace zeplo::tool {

// Reads records of UTF-8 text separated by `separator` (a comma, a semicolon or
// a tab), with double-quote quoting: a quoted field may hold separators, line
// breaks and doubled quotes. Lines end in LF, CRLF or CR. Records without any
// value (empty lines, lines of separators only) are skipped. A record of more
// than kMostFields fields is refused.
class CsvReader : public RowReader {
public:
    static constexpr std::size_t kMostFields = 1u << 18;

    CsvReader(std::string_view data, char separator);

    bool next(SheetRow &row) override;
    std::uint64_t position() const override { return pos_; }
    std::uint64_t size() const override { return data_.size(); }

private:
    bool readRecord(SheetRow &row);
    bool atEnd() const { return pos_ >= data_.size(); }
    bool atLineBreak() const { return !atEnd() && (data_[pos_] == '\n' || data_[pos_] == '\r'); }
    void skipLineBreak();

    std::string_view data_;
    char separator_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

// The separator of a file whose first record is `header`: the one of comma,
// semicolon and tab that splits it into the most fields that `known` accepts,
// then into the most fields; a comma when none splits it.
char guessSeparator(std::string_view header, bool (*known)(std::string_view name));

// Appends one field, between quotes when it holds the separator, a quote or a
// line break, or when `quoteEmpty` asks for "" to tell an empty text from no value.
void appendCsvField(std::string &line, std::string_view text, char separator, bool quoteEmpty);

} // namespace zeplo::tool
