#include "platform/civil_day.h"

namespace qv::platform {

CivilDay LocalDayOf(std::time_t seconds) {
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return {};
    return {static_cast<std::int64_t>(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday};
}

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

CivilDay DayBefore(CivilDay day) {
    if (day.day > 1) return {day.year, day.month, day.day - 1};
    if (day.month == 1) return {day.year - 1, 12, 31};
    static constexpr std::int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const std::int64_t month = day.month - 1;
    const std::int64_t last = month == 2 && IsLeapYear(day.year) ? 29 : kDays[month - 1];
    return {day.year, month, last};
}

}  // namespace qv::platform
