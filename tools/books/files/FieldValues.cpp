#include "FieldValues.h"

#include <charconv>
#include <optional>
#include <string>

#include "ColumnNames.h"
#include "SheetDates.h"

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

// A whole number, also as a spreadsheet writes a number: "1936.0" (or "1936,0").
std::optional<std::int64_t> parseWholeNumber(std::string_view s)
{
    s = trimmed(s);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc())
        return std::nullopt;
    std::string_view rest(end, static_cast<std::size_t>(s.data() + s.size() - end));
    if (!rest.empty() && (rest.front() == '.' || rest.front() == ',')) {
        rest.remove_prefix(1);
        while (!rest.empty() && rest.front() == '0')
            rest.remove_prefix(1);
    }
    if (!rest.empty())
        return std::nullopt;
    return value;
}

std::optional<bool> parseLogical(std::string_view s)
{
    const std::string word = lowerAscii(trimmed(s));
    for (const char *yes : {"1", "true", "ano", "a", "x", "yes", "pravda"})
        if (word == yes)
            return true;
    for (const char *no : {"0", "false", "ne", "n", "no", "nepravda"})
        if (word == no)
            return false;
    if (const auto number = parseWholeNumber(word); number && (*number == 0 || *number == 1))
        return *number == 1;
    return std::nullopt;
}

} // namespace

bool isMark(std::string_view field) { return lowerAscii(trimmed(field)) == "x"; }

std::string shortened(std::string_view value)
{
    std::string out;
    std::size_t characters = 0, i = 0;
    for (; i < value.size() && characters < kQuotedCharacters; ++characters) {
        const auto lead = static_cast<unsigned char>(value[i]);
        const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (value[i] == '\r' || value[i] == '\n') {
            out += "↵";
            i += value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n' ? 2 : 1;
            continue;
        }
        if (lead < 0x20 || lead == 0x7F)
            out += ' ';
        else
            out.append(value.substr(i, length));
        i += length;
    }
    if (i < value.size())
        out += "…";
    return out;
}

std::string quotedValue(std::string_view value) { return say("\"", "„") + shortened(value) + say("\"", "“"); }

void convertField(std::size_t index, Cell &&cell, bool columnHoldsMarks, Value &value)
{
    const Column &column = kColumns[index];
    value.setNull();
    std::string &field = cell.text;
    if (field.empty() && !(cell.isText && holdsText(column.kind))) {
        if (column.kind == Kind::Logical && columnHoldsMarks)
            value.setNumber(0);
        return;
    }
    const std::string shown = quotedValue(field);
    const std::string name = say("column ", "sloupec ") + columnTitle(index) + ": ";
    switch (column.kind) {
    case Kind::Id: {
        const auto id = parseWholeNumber(field);
        if (!id || *id < 1)
            fail(name + shown + say(" is not a record number (a whole number from 1)",
                                    " není číslo záznamu (celé číslo od 1)"));
        value.setNumber(*id);
        break;
    }
    case Kind::Year: {
        const auto year = cell.isDate ? yearOfDate(field) : parseWholeNumber(field);
        if (!year || *year < -32768 || *year > 32767)
            fail(name + shown + say(" is not a year (a whole number from -32768 to 32767)",
                                    " není rok (celé číslo od -32768 do 32767)"));
        value.setNumber(*year);
        break;
    }
    case Kind::Logical: {
        const auto flag = parseLogical(field);
        if (!flag)
            fail(name + shown + say(" is not a logical value (1/0, true/false, ano/ne, a/n or x)",
                                    " není logická hodnota (1/0, true/false, ano/ne, a/n nebo x)"));
        value.setNumber(*flag ? 1 : 0);
        break;
    }
    case Kind::Text:
    case Kind::Memo: {
        const auto length = utf8Length(field);
        if (!length)
            fail(name + say("the text is not valid UTF-8", "text není platné UTF-8"));
        if (field.find('\0') != std::string::npos)
            fail(name + say("the text holds a zero byte", "text obsahuje nulový bajt"));
        if (column.kind == Kind::Text && *length > column.size)
            fail(name + say("the text has ", "text má ") + std::to_string(*length)
                 + say(" characters, at most ", " znaků, vejde se nejvýše ") + std::to_string(column.size)
                 + say(" fit", ""));
        value.null = false;
        value.text = std::move(field);
        break;
    }
    }
}

} // namespace zeplo::tool
