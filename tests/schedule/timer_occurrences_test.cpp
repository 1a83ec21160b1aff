#include "schedule/timer_occurrences.h"

#include <gtest/gtest.h>

#include "sessions/timer_editor.h"
#include "sessions/timer_options.h"
#include "support/test_support.h"

namespace qv::schedule {
namespace {

using platform::CivilDay;
using Minutes = std::vector<std::int64_t>;

plist::Value Row(CivilDay start, std::int64_t minute, plist::Dict keys = {}) {
    plist::Value row = sessions::DefaultTimerRow(
        sessions::TimerDate(start.day, start.month, start.year, minute / 60, minute % 60));
    row.set("valid", 1);
    for (auto& [key, value] : keys) row.set(key, value);
    return row;
}

plist::Value EndAt(CivilDay day, std::int64_t minute) {
    return sessions::TimerDate(day.day, day.month, day.year, minute / 60, minute % 60);
}

TEST(TimerOccurrencesTest, RowsYieldTheirDaysOccurrences) {
    const CivilDay first{2027, 6, 7};  // a Monday
    const plist::Dict every5Hours = {{"intervalOn", 1}, {"intervalHours", 5}};
    const plist::Dict daily = {{"intervalOn", 1}, {"intervalDays", 1}};
    const struct {
        const char* name;
        plist::Value row;
        CivilDay day;
        std::int64_t lowerBound;
        Minutes expected;
    } cases[] = {
        {"once, on its day", Row(first, 600, {{"onlyMonday", 0}, {"endOn", 1}}), first, 0, {600}},
        {"once, bound passed", Row(first, 600), first, 601, {}},
        {"once, another day", Row(first, 600), {2027, 6, 8}, 0, {}},
        {"not valid", Row(first, 600, {{"valid", 0}}), first, 0, {}},
        {"switched off", Row(first, 600, {{"onOff", 0}}), first, 0, {}},
        {"before its start", Row(first, 600, daily), {2027, 6, 6}, 0, {}},
        {"started before 2002", Row({2001, 6, 7}, 600, daily), first, 0, {}},
        // 22:00 every 5 hours: 22:00, then 23:00 the next day, then nothing for three days.
        {"22:00 first day", Row(first, 1320, every5Hours), first, 0, {1320}},
        {"22:00 second day", Row(first, 1320, every5Hours), {2027, 6, 8}, 0, {1380}},
        {"22:00 third day", Row(first, 1320, every5Hours), {2027, 6, 9}, 0, {}},
        {"22:00 fifth day", Row(first, 1320, every5Hours), {2027, 6, 11}, 0, {}},
        {"22:00 sixth day", Row(first, 1320, every5Hours), {2027, 6, 12}, 0, {1320}},
        {"weekday off",
         Row(first, 600, {{"intervalOn", 1}, {"intervalDays", 1}, {"onlyTuesday", 0}}),
         {2027, 6, 8},
         0,
         {}},
        {"daily end time",
         Row(first, 480,
             {{"intervalOn", 1}, {"intervalHours", 4}, {"endOn", 1}, {"end", EndAt(first, 960)}}),
         {2027, 6, 9},
         0,
         {480, 720, 960}},
        {"end time passed",
         Row(first, 480,
             {{"intervalOn", 1}, {"intervalHours", 4}, {"endOn", 1}, {"end", EndAt(first, 960)}}),
         first,
         961,
         {}},
        {"lower bound",
         Row(first, 480, {{"intervalOn", 1}, {"intervalHours", 4}}),
         first,
         721,
         {960, 1200}},
        // The end date bounds the days even when the end time box was unchecked afterwards.
        {"end date, last day",
         Row(first, 600,
             {{"intervalOn", 1},
              {"intervalDays", 1},
              {"endDateOn", 1},
              {"end", EndAt({2027, 6, 9}, 0)}}),
         {2027, 6, 9},
         0,
         {600}},
        {"end date passed",
         Row(first, 600,
             {{"intervalOn", 1},
              {"intervalDays", 1},
              {"endDateOn", 1},
              {"end", EndAt({2027, 6, 9}, 0)}}),
         {2027, 6, 10},
         0,
         {}},
        {"every minute, years on",
         Row({2004, 1, 1}, 0, {{"intervalOn", 1}, {"intervalMinutes", 1}}),
         {2031, 2, 3},
         1438,
         {1438, 1439}},
        {"every 7 minutes, next day",
         Row({2004, 1, 1}, 0, {{"intervalOn", 1}, {"intervalMinutes", 7}}),
         {2004, 1, 2},
         1430,
         {1430, 1437}},
        {"negative interval",
         Row(first, 600, {{"intervalOn", 1}, {"intervalDays", 1}, {"intervalHours", -1}}),
         {2027, 6, 8},
         0,
         {}},
        // Monthly from the 31st: counted from the start, the day lowered in short months.
        {"monthly from 31st, February",
         Row({2027, 1, 31}, 600, {{"intervalOn", 1}, {"intervalMonths", 1}}),
         {2027, 2, 28},
         0,
         {600}},
        {"monthly from 31st, March 28",
         Row({2027, 1, 31}, 600, {{"intervalOn", 1}, {"intervalMonths", 1}}),
         {2027, 3, 28},
         0,
         {}},
        {"monthly from 31st, March 31",
         Row({2027, 1, 31}, 600, {{"intervalOn", 1}, {"intervalMonths", 1}}),
         {2027, 3, 31},
         0,
         {600}},
        {"monthly from 31st, April 30",
         Row({2027, 1, 31}, 600, {{"intervalOn", 1}, {"intervalMonths", 1}}),
         {2027, 4, 30},
         0,
         {600}},
        {"yearly from 29 February",
         Row({2028, 2, 29}, 600, {{"intervalOn", 1}, {"intervalYears", 1}}),
         {2029, 2, 28},
         0,
         {600}},
        {"monthly and a day",
         Row({2027, 1, 10}, 600, {{"intervalOn", 1}, {"intervalMonths", 1}, {"intervalDays", 1}}),
         {2027, 3, 12},
         0,
         {600}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(OccurrencesOnDay(c.row, c.day, c.lowerBound), c.expected);
    }
    // Every minute of a day, counted rather than walked from 2004.
    EXPECT_EQ(OccurrencesOnDay(Row({2004, 1, 1}, 0, {{"intervalOn", 1}, {"intervalMinutes", 1}}),
                               {2030, 7, 1}, 0)
                  .size(),
              1440u);
}

TEST(TimerOccurrencesTest, RepetitionFollowsTheLocalClockAcrossDaylightSaving) {
    test::ScopedTimeZone paris("Europe/Paris");
    const plist::Value hourly = Row({2004, 1, 1}, 0, {{"intervalOn", 1}, {"intervalHours", 1}});
    const plist::Value at0230 = Row({2027, 3, 1}, 150, {{"intervalOn", 1}, {"intervalDays", 1}});
    // 28 March 2027 loses 02:00-03:00, 31 October repeats it: an hourly row still yields every
    // hour the clock names, and a daily 02:30 row keeps its time of day on both days (in the
    // lost hour it is due from 03:00 on).
    for (const CivilDay day : {CivilDay{2027, 3, 28}, CivilDay{2027, 10, 31}}) {
        const Minutes hours = OccurrencesOnDay(hourly, day, 0);
        ASSERT_EQ(hours.size(), 24u);
        EXPECT_EQ(hours[2], 120);
        EXPECT_EQ(OccurrencesOnDay(at0230, day, 0), Minutes{150});
        EXPECT_EQ(
            OccurrencesOnDay(at0230, platform::DayFromNumber(platform::DayNumber(day) + 1), 0),
            Minutes{150});
    }
}

}  // namespace
}  // namespace qv::schedule
