#include "Csv.h"

namespace zeplo::tool {

CsvReader::CsvReader(std::string_view data) : data_(data)
{
    if (data_.substr(0, 3) == "\xEF\xBB\xBF")
        pos_ = 3;
}

void CsvReader::skipLineBreak()
{
    if (data_[pos_] == '\r' && pos_ + 1 < data_.size() && data_[pos_ + 1] == '\n')
        ++pos_;
    ++pos_;
    ++line_;
}

bool CsvReader::next(CsvRecord &record)
{
    for (;;) {
        if (atEnd())
            return false;
        if (!atLineBreak())
            break;
        skipLineBreak(); // an empty line
    }

    record.line = line_;
    record.fields.clear();
    record.quoted.clear();
    for (;;) {
        std::string field;
        const bool quoted = data_[pos_] == '"';
        if (quoted) {
            ++pos_;
            for (;;) {
                if (atEnd())
                    throw CsvError(record.line, "a quoted field has no closing quote");
                const char c = data_[pos_];
                if (c == '"') {
                    if (pos_ + 1 < data_.size() && data_[pos_ + 1] == '"') {
                        field += '"';
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                // Line breaks inside the field are kept as written, and counted.
                if (c == '\n' || (c == '\r' && !(pos_ + 1 < data_.size() && data_[pos_ + 1] == '\n')))
                    ++line_;
                field += c;
                ++pos_;
            }
            if (!atEnd() && data_[pos_] != ',' && !atLineBreak())
                throw CsvError(record.line,
                               "unexpected text after the closing quote of field "
                                   + std::to_string(record.fields.size() + 1));
        } else {
            const std::size_t start = pos_;
            while (!atEnd() && data_[pos_] != ',' && !atLineBreak())
                ++pos_;
            field.assign(data_.substr(start, pos_ - start));
        }
        record.fields.push_back(std::move(field));
        record.quoted.push_back(quoted);

        if (atEnd())
            return true;
        if (atLineBreak()) {
            skipLineBreak();
            return true;
        }
        ++pos_; // the comma; a comma at the very end leaves one more, empty field
        if (atEnd() || atLineBreak()) {
            record.fields.emplace_back();
            record.quoted.push_back(false);
            if (!atEnd())
                skipLineBreak();
            return true;
        }
    }
}

void appendCsvField(std::string &line, std::string_view text, bool quoteEmpty)
{
    if (!(text.empty() ? quoteEmpty : text.find_first_of(",\"\r\n") != std::string_view::npos)) {
        line += text;
        return;
    }
    line += '"';
    for (const char c : text) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

} // namespace zeplo::tool
