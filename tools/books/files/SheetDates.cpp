#include "SheetDates.h"

#include <charconv>
#include <cmath>

#include <QDate>

namespace zeplo::tool {

bool isDateFormat(int id)
{
    // 14-22 dates and times, 45-47 times; 27-36 and 50-58 the dates of East Asian workbooks.
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58);
}

bool isDateFormatCode(QStringView code)
{
    for (qsizetype i = 0; i < code.size(); ++i) {
        const char16_t c = code[i].toLower().unicode();
        if (c == u'"') {
            const qsizetype end = code.indexOf(u'"', i + 1);
            i = end < 0 ? code.size() : end;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i; // an escaped character, a space as wide as one, a fill character
        } else if (c == u'[') {
            const qsizetype end = code.indexOf(u']', i + 1);
            const QStringView inside = code.mid(i + 1, (end < 0 ? code.size() : end) - i - 1);
            // [h], [mm], [ss]: elapsed time; anything else a colour, a condition or a locale.
            bool elapsed = !inside.isEmpty();
            for (const QChar k : inside)
                elapsed = elapsed && QStringView(u"hHmMsS").contains(k);
            if (elapsed)
                return true;
            i = end < 0 ? code.size() : end;
        } else if (c == u'd' || c == u'm' || c == u'y' || c == u'h' || c == u's') {
            return true;
        }
    }
    return false;
}

std::optional<std::string> dateOfDayNumber(double number, bool from1904)
{
    // The largest day number is that of 31 December 9999.
    if (!(number >= 0 && number < (from1904 ? 2957004.0 : 2958466.0)))
        return std::nullopt;
    auto days = static_cast<qint64>(std::floor(number));
    int seconds = static_cast<int>(std::lround((number - double(days)) * 86400));
    if (seconds == 86400) {
        ++days;
        seconds = 0;
    }
    QString date;
    if (from1904) {
        date = QDate(1904, 1, 1).addDays(days).toString(Qt::ISODate);
    } else if (days == 60) {
        date = QStringLiteral("1900-02-29"); // a day that never was, as spreadsheets count
    } else {
        // Day 1 is 1 January 1900; spreadsheets count a 29 February 1900 as day 60.
        date = QDate(1899, 12, days < 60 ? 31 : 30).addDays(days).toString(Qt::ISODate);
    }
    if (seconds)
        date += QTime(0, 0).addSecs(seconds).toString(QStringLiteral("'T'HH:mm:ss"));
    return date.toStdString();
}

std::string withoutMidnight(std::string date)
{
    const std::size_t t = date.find('T');
    if (t != std::string::npos && t >= 10) {
        const std::string_view time = std::string_view(date).substr(t + 1);
        if (time.find_first_not_of("0:.Z") == std::string_view::npos)
            date.resize(t);
    }
    return date;
}

std::optional<std::int64_t> yearOfDate(std::string_view date)
{
    // The year's digits end at the first dash after a sign; a month follows.
    const std::size_t dash = date.find('-', date.empty() || date[0] != '-' ? 0 : 1);
    std::int64_t year = 0;
    const char *first = date.data() + (!date.empty() && date[0] == '+' ? 1 : 0);
    if (dash == std::string_view::npos || dash < 4 || dash + 3 > date.size())
        return std::nullopt;
    const auto [end, ec] = std::from_chars(first, date.data() + dash, year);
    if (ec != std::errc() || end != date.data() + dash || date[dash + 1] < '0' || date[dash + 1] > '1')
        return std::nullopt;
    return year;
}

} // namespace zeplo::tool
