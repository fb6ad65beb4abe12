#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QStringView>

namespace zeplo::tool {

// Whether an .xlsx number format shows a date or a time: a built-in format by
// its id, or a format code with a day, month, year, hour or second field
// outside its quoted texts, escapes and bracketed colours and conditions.
bool isDateFormat(int builtInId);
bool isDateFormatCode(QStringView code);

// A workbook's day number (days since 30 December 1899, with the time of day
// as the fraction; since 1 January 1904 in a workbook that counts from then)
// as ISO 8601 text: "1936-03-01", or "1936-03-01T10:20:00" with a time.
// Nothing for a number no spreadsheet shows as a date.
std::optional<std::string> dateOfDayNumber(double number, bool from1904);

// An ISO 8601 date as a workbook writes it, without a midnight time:
// "1936-03-01T00:00:00Z" is "1936-03-01".
std::string withoutMidnight(std::string date);

// The year of an ISO 8601 date ("1936-03-01", "-0044-03-15"); nothing when
// the text does not start with a year and a month.
std::optional<std::int64_t> yearOfDate(std::string_view date);

} // namespace zeplo::tool
