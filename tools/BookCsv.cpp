#include "BookCsv.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "Csv.h"
#include "engine/Error.h"

namespace fs = std::filesystem;

namespace zeplo::tool {

namespace {

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Number of characters of valid UTF-8, or nothing when the text is not valid UTF-8.
std::optional<std::size_t> utf8Length(std::string_view s)
{
    std::size_t count = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n; ++count) {
        const unsigned b = p[i];
        std::size_t len;
        char32_t c;
        if (b < 0x80) {
            len = 1;
            c = b;
        } else if (b >= 0xC2 && b < 0xE0) {
            len = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b < 0xF0) {
            len = 3;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b < 0xF5) {
            len = 4;
            c = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + len > n)
            return std::nullopt;
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)))
            return std::nullopt;
        i += len;
    }
    return count;
}

std::optional<std::int64_t> parseInteger(std::string_view s)
{
    s = trimmed(s);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

std::optional<bool> parseLogical(std::string_view s)
{
    const std::string word = lowerAscii(trimmed(s));
    if (word == "1" || word == "true" || word == "ano")
        return true;
    if (word == "0" || word == "false" || word == "ne")
        return false;
    return std::nullopt;
}

// The value of one field; fails saying what is wrong when it is not acceptable.
// An empty field is no value (null), except that "" in a text column is an empty text.
void convert(const Column &column, std::string field, bool quoted, Value &value)
{
    value.setNull();
    if (field.empty() && !(quoted && holdsText(column.kind)))
        return;
    const std::string shown = "\"" + field + "\"";
    const std::string name = std::string("column ") + column.name + ": ";
    switch (column.kind) {
    case Kind::Id: {
        const auto id = parseInteger(field);
        if (!id || *id < 1)
            fail(name + shown + " is not a record number (a whole number from 1)");
        value.setNumber(*id);
        break;
    }
    case Kind::Year: {
        const auto year = parseInteger(field);
        if (!year || *year < -32768 || *year > 32767)
            fail(name + shown + " is not a year (a whole number from -32768 to 32767)");
        value.setNumber(*year);
        break;
    }
    case Kind::Logical: {
        const auto flag = parseLogical(field);
        if (!flag)
            fail(name + shown + " is not a logical value (1/0, true/false or ano/ne)");
        value.setNumber(*flag ? 1 : 0);
        break;
    }
    case Kind::Text:
    case Kind::Memo: {
        const auto length = utf8Length(field);
        if (!length)
            fail(name + "the text is not valid UTF-8");
        if (field.find('\0') != std::string::npos)
            fail(name + "the text holds a zero byte");
        if (column.kind == Kind::Text && *length > column.size)
            fail(name + "the text has " + std::to_string(*length) + " characters, at most "
                 + std::to_string(column.size) + " fit");
        value.null = false;
        value.text = std::move(field);
        break;
    }
    }
}

std::string readWholeFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail("cannot read " + file.string());
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad())
        fail("cannot read " + file.string());
    return std::move(data).str();
}

} // namespace

CsvBooks readCsvBooks(const fs::path &file)
{
    const std::string data = readWholeFile(file);
    const std::string where = file.string() + ", line ";
    CsvBooks parsed;
    std::vector<std::size_t> header; // column index of each field
    CsvReader reader(data);
    CsvRecord record;
    try {
        if (!reader.next(record))
            fail(file.string() + " is empty; its first line must name the columns");
        for (const std::string &field : record.fields) {
            const std::string name = lowerAscii(trimmed(field));
            const auto column = std::find_if(kColumns.begin(), kColumns.end(),
                                             [&](const Column &c) { return name == c.name; });
            if (column == kColumns.end())
                fail(where + std::to_string(record.line) + ": unknown column \"" + field
                     + "\" (known: " + columnList() + ")");
            const auto index = static_cast<std::size_t>(column - kColumns.begin());
            if (std::find(header.begin(), header.end(), index) != header.end())
                fail(where + std::to_string(record.line) + ": column \"" + name + "\" is named twice");
            header.push_back(index);
        }
        while (reader.next(record)) {
            if (record.fields.size() != header.size())
                fail(where + std::to_string(record.line) + ": " + std::to_string(record.fields.size())
                     + " fields, but the first line names " + std::to_string(header.size()) + " columns");
            Book &book = parsed.books.emplace_back();
            parsed.lines.push_back(record.line);
            for (std::size_t i = 0; i < record.fields.size(); ++i) {
                const std::size_t column = header[i];
                try {
                    convert(kColumns[column], std::move(record.fields[i]), record.quoted[i], book[column]);
                } catch (const Error &e) {
                    fail(where + std::to_string(record.line) + ": " + e.what());
                }
            }
        }
    } catch (const CsvError &e) {
        fail(where + std::to_string(e.line) + ": " + e.what());
    }
    return parsed;
}

std::string csvHeader() { return columnList() + "\r\n"; }

void appendCsvBook(std::string &out, const Book &book)
{
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        if (i)
            out += ',';
        const Value &value = book[i];
        if (value.null)
            continue; // an empty field, unquoted
        if (holdsText(kColumns[i].kind))
            appendCsvField(out, value.text, true);
        else
            out += std::to_string(value.number);
    }
    out += "\r\n";
}

} // namespace zeplo::tool
