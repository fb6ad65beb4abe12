#include "Csv.h"

#include <algorithm>

#include "books/Books.h"

namespace zeplo::tool {

CsvReader::CsvReader(std::string_view data, char separator) : data_(data), separator_(separator) {}

void CsvReader::skipLineBreak()
{
    if (data_[pos_] == '\r' && pos_ + 1 < data_.size() && data_[pos_ + 1] == '\n')
        ++pos_;
    ++pos_;
    ++line_;
}

bool CsvReader::next(SheetRow &row)
{
    while (readRecord(row)) {
        const bool valueless = std::all_of(row.cells.begin(), row.cells.end(),
                                           [](const Cell &cell) { return cell.text.empty() && !cell.isText; });
        if (!valueless)
            return true;
    }
    return false;
}

bool CsvReader::readRecord(SheetRow &row)
{
    for (;;) {
        if (atEnd())
            return false;
        if (!atLineBreak())
            break;
        skipLineBreak(); // an empty line
    }

    row.line = line_;
    row.cells.clear();
    for (;;) {
        if (row.cells.size() == kMostFields)
            throw BadLine(row.line, say("the line has more than 262,144 fields", "řádek má víc než 262 144 polí"));
        Cell &cell = row.cells.emplace_back();
        cell.isText = data_[pos_] == '"';
        if (cell.isText) {
            ++pos_;
            for (;;) {
                if (atEnd())
                    throw BadLine(row.line, say("a quoted field has no closing quote",
                                                "pole v uvozovkách nemá uzavírací uvozovku"));
                const char c = data_[pos_];
                if (c == '"') {
                    if (pos_ + 1 < data_.size() && data_[pos_ + 1] == '"') {
                        cell.text += '"';
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                // Line breaks inside the field are kept as written, and counted.
                if (c == '\n' || (c == '\r' && !(pos_ + 1 < data_.size() && data_[pos_ + 1] == '\n')))
                    ++line_;
                cell.text += c;
                ++pos_;
            }
            if (!atEnd() && data_[pos_] != separator_ && !atLineBreak())
                throw BadLine(row.line,
                              say("unexpected text after the closing quote of field ",
                                  "za uzavírací uvozovkou pole ")
                                  + std::to_string(row.cells.size())
                                  + say("", " následuje další text"));
        } else {
            const std::size_t start = pos_;
            while (!atEnd() && data_[pos_] != separator_ && !atLineBreak())
                ++pos_;
            cell.text.assign(data_.substr(start, pos_ - start));
        }

        if (atEnd())
            return true;
        if (atLineBreak()) {
            skipLineBreak();
            return true;
        }
        ++pos_; // the separator; one at the very end leaves one more, empty field
        if (atEnd() || atLineBreak()) {
            row.cells.emplace_back();
            if (!atEnd())
                skipLineBreak();
            return true;
        }
    }
}

char guessSeparator(std::string_view header, bool (*known)(std::string_view name))
{
    char best = ',';
    std::size_t bestKnown = 0, bestFields = 1;
    for (const char separator : {',', ';', '\t'}) {
        CsvReader reader(header, separator);
        SheetRow row;
        try {
            if (!reader.next(row))
                continue;
        } catch (const BadLine &) {
            continue; // quotes that do not fit this separator
        }
        const auto knownCount = static_cast<std::size_t>(std::count_if(
            row.cells.begin(), row.cells.end(), [&](const Cell &cell) { return known(cell.text); }));
        if (knownCount > bestKnown || (knownCount == bestKnown && row.cells.size() > bestFields)) {
            best = separator;
            bestKnown = knownCount;
            bestFields = row.cells.size();
        }
    }
    return best;
}

void appendCsvField(std::string &line, std::string_view text, char separator, bool quoteEmpty)
{
    const bool quote = text.empty() ? quoteEmpty
                                    : text.find_first_of("\"\r\n") != std::string_view::npos
                                          || text.find(separator) != std::string_view::npos;
    if (!quote) {
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
