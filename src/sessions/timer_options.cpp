#include "sessions/timer_options.h"

#include <ctime>

#include "sessions/option_tables.h"

namespace qv::sessions {

plist::Date DefaultTimerStartDate() {
    // The text "01 01 2004, 00:00" read with "%d %m %Y, %H:%M" in the local time zone.
    std::tm tm{};
    strptime("01 01 2004, 00:00", "%d %m %Y, %H:%M", &tm);
    tm.tm_isdst = -1;
    return plist::Date{static_cast<double>(std::mktime(&tm))};
}

plist::Value DefaultTimerRow(const plist::Date& start) {
    return plist::Dict{
        {"valid", 0},         {"onOff", 1},           {"start", start},     {"intervalOn", 0},
        {"intervalHours", 0}, {"intervalMinutes", 0}, {"intervalDays", 0},  {"intervalMonths", 0},
        {"intervalYears", 0}, {"endOn", 0},           {"endDateOn", 0},     {"end", start},
        {"onlyMonday", 1},    {"onlyTuesday", 1},     {"onlyWednesday", 1}, {"onlyThursday", 1},
        {"onlyFriday", 1},    {"onlySaturday", 1},    {"onlySunday", 1},
    };
}

plist::Value DefaultTimerDict(const plist::Date& start) {
    return plist::Dict{
        {"timerOn", 0},
        {"timerArray", plist::Array(kTableRows, DefaultTimerRow(start))},
    };
}

}  // namespace qv::sessions
