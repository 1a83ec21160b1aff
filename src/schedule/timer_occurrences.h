#pragma once
// The occurrence rule: the executions one timer row yields on one calendar day, from the
// row's start, repetition, end and weekday flags.
//
// Times are counted on the local clock: a row that repeats every hour fires at each hour the
// clock shows, and a daily row keeps its time of day across daylight-saving changes. When the
// clock jumps forward, an occurrence inside the skipped hour keeps its time in the list and is
// due from the first minute after the jump (an entry of 02:30 fires at 03:00); when the clock
// goes back, an occurrence inside the repeated hour fires the first time the clock shows it.

#include <array>
#include <cstdint>
#include <vector>

#include "platform/civil_day.h"
#include "sessions/plist_value.h"

namespace qv::schedule {

// A timer row read once for the days it is asked about: the fields the rule looks at.
struct TimerRule {
    bool on = false;  // onOff and valid
    platform::LocalMinute start, end;
    bool intervalOn = false, endOn = false, endDateOn = false;
    std::int64_t years = 0, months = 0, days = 0, hours = 0, minutes = 0;
    std::array<bool, 7> weekdays{};  // 0 Sunday
};
TimerRule ReadTimerRule(const plist::Value& row);

// The minutes of the day (ascending) at which the row fires on `day`, leaving out those before
// `lowerBound` (a minute of the day: the current one for today, 0 for later days). The rule's
// form appends them to *out.
//
// Day, hour and minute repetitions are counted, not walked: the first occurrence on the day is
// found by division, so the cost does not grow with the age of the start. Month and year
// repetitions count from the start too: the k-th occurrence is the start moved by k steps,
// its day lowered to the last of the month when the month is shorter (a monthly row started
// on 31 January fires on 28 February, then on 31 March). A row with a negative or oversized
// interval value never fires.
std::vector<std::int64_t> OccurrencesOnDay(const plist::Value& row, const platform::CivilDay& day,
                                           std::int64_t lowerBound);
void OccurrencesOnDay(const TimerRule& rule, const platform::CivilDay& day, std::int64_t lowerBound,
                      std::vector<std::int64_t>* out);

}  // namespace qv::schedule
