#pragma once
// Calendar days in the local time zone, for rules that compare dates by day and ignore the
// time of day.

#include <cstdint>
#include <ctime>

namespace qv::platform {

struct CivilDay {
    std::int64_t year = 1970;
    std::int64_t month = 1;  // 1 to 12
    std::int64_t day = 1;    // 1 to 31

    // Orders days as the calendar does (for valid dates).
    std::int64_t key() const { return (year * 100 + month) * 100 + day; }
};

// The local calendar day of a moment (seconds since 1970 UTC).
CivilDay LocalDayOf(std::time_t seconds);
// The day before, across month and year ends.
CivilDay DayBefore(CivilDay day);
bool IsLeapYear(std::int64_t year);  // Gregorian: 2000 is, 2100 is not

}  // namespace qv::platform
