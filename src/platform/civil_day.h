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
    bool operator==(const CivilDay&) const = default;
};

// A moment as the local clock shows it, to the minute.
struct LocalMinute {
    CivilDay day;
    std::int64_t minute = 0;  // of the day, 0 to 1439
    bool operator==(const LocalMinute&) const = default;
};

// The local calendar day of a moment (seconds since 1970 UTC).
CivilDay LocalDayOf(std::time_t seconds);
// The local day and minute of the day of a moment (seconds dropped).
LocalMinute LocalMinuteOf(std::time_t seconds);
// The moment the local clock shows the given day and minute (seconds 0). A time the clock skips
// (the hour lost when daylight saving starts) comes out as the moment the same distance after
// the jump; a time it shows twice, as its first showing.
std::time_t MomentOf(const LocalMinute& local);

// The day before, across month and year ends.
CivilDay DayBefore(CivilDay day);
bool IsLeapYear(std::int64_t year);  // Gregorian: 2000 is, 2100 is not
// The last day of a month, Gregorian leap years; 0 for a month outside 1 to 12.
std::int64_t DaysInMonth(std::int64_t month, std::int64_t year);

// Days since 1 January 1970 (negative before), and back: plain arithmetic on the proleptic
// Gregorian calendar, so that distances between days need no time zone.
std::int64_t DayNumber(const CivilDay& day);
CivilDay DayFromNumber(std::int64_t number);
// 0 Sunday to 6 Saturday.
int Weekday(const CivilDay& day);

}  // namespace qv::platform
