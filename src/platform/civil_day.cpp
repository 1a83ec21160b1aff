#include "platform/civil_day.h"

namespace qv::platform {

CivilDay LocalDayOf(std::time_t seconds) { return LocalMinuteOf(seconds).day; }

LocalMinute LocalMinuteOf(std::time_t seconds) {
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return {};
    return {{static_cast<std::int64_t>(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday},
            local.tm_hour * 60 + local.tm_min};
}

std::time_t MomentOf(const LocalMinute& local) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(local.day.year - 1900);
    tm.tm_mon = static_cast<int>(local.day.month - 1);
    tm.tm_mday = static_cast<int>(local.day.day);
    tm.tm_hour = static_cast<int>(local.minute / 60);
    tm.tm_min = static_cast<int>(local.minute % 60);
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

std::int64_t DaysInMonth(std::int64_t month, std::int64_t year) {
    static constexpr std::int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

CivilDay DayBefore(CivilDay day) {
    if (day.day > 1) return {day.year, day.month, day.day - 1};
    if (day.month == 1) return {day.year - 1, 12, 31};
    return {day.year, day.month - 1, DaysInMonth(day.month - 1, day.year)};
}

// Counted in eras of 400 years, which repeat exactly in the Gregorian calendar.
std::int64_t DayNumber(const CivilDay& day) {
    const std::int64_t y = day.year - (day.month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t shiftedMonth = day.month + (day.month > 2 ? -3 : 9);  // March is 0
    const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day.day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

CivilDay DayFromNumber(std::int64_t number) {
    const std::int64_t z = number + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t dayOfMonth = dayOfYear - (153 * mp + 2) / 5 + 1;
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, dayOfMonth};
}

int Weekday(const CivilDay& day) {
    const std::int64_t n = DayNumber(day);  // 1 January 1970 was a Thursday
    return static_cast<int>(((n + 4) % 7 + 7) % 7);
}

}  // namespace qv::platform
