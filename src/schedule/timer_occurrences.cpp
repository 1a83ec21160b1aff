#include "schedule/timer_occurrences.h"

#include <algorithm>

#include "sessions/timer_editor.h"

namespace qv::schedule {

namespace {

constexpr std::int64_t kMinutesPerDay = 24 * 60;

platform::LocalMinute LocalOf(const plist::Value& row, const char* key) {
    const plist::Value* date = row.find(key);
    const double seconds = date != nullptr && date->isDate() ? date->date().seconds : 0;
    return platform::LocalMinuteOf(static_cast<std::time_t>(seconds));
}

// Minutes since 1 January 1970 on the local clock.
std::int64_t ClockMinute(const platform::CivilDay& day, std::int64_t minute) {
    return platform::DayNumber(day) * kMinutesPerDay + minute;
}

}  // namespace

TimerRule ReadTimerRule(const plist::Value& row) {
    TimerRule rule;
    rule.on = row.intAt("onOff") != 0 && row.intAt("valid") != 0;
    if (!rule.on) return rule;
    rule.start = LocalOf(row, "start");
    rule.end = LocalOf(row, "end");
    rule.intervalOn = row.intAt("intervalOn") != 0;
    rule.endOn = row.intAt("endOn") == 1;
    rule.endDateOn = row.intAt("endDateOn") == 1;
    rule.years = row.intAt("intervalYears");
    rule.months = row.intAt("intervalMonths");
    rule.days = row.intAt("intervalDays");
    rule.hours = row.intAt("intervalHours");
    rule.minutes = row.intAt("intervalMinutes");
    for (std::size_t i = 0; i < rule.weekdays.size(); ++i) {
        rule.weekdays[i] = row.intAt(sessions::kTimerWeekdayKeys[i], 1) != 0;
    }
    return rule;
}

std::vector<std::int64_t> OccurrencesOnDay(const plist::Value& row, const platform::CivilDay& day,
                                           std::int64_t lowerBound) {
    std::vector<std::int64_t> out;
    OccurrencesOnDay(ReadTimerRule(row), day, lowerBound, &out);
    return out;
}

void OccurrencesOnDay(const TimerRule& rule, const platform::CivilDay& day, std::int64_t lowerBound,
                      std::vector<std::int64_t>* out) {
    if (!rule.on) return;
    const platform::LocalMinute& S = rule.start;
    const std::int64_t dayNumber = platform::DayNumber(day);
    const std::int64_t startDay = platform::DayNumber(S.day);
    if (startDay > dayNumber || S.day.year < sessions::kFirstTimerYear) return;
    const std::int64_t s = S.minute;
    const std::int64_t e = rule.end.minute;

    if (!rule.intervalOn) {
        if (startDay == dayNumber && s >= lowerBound) out->push_back(s);
        return;
    }
    if (rule.endDateOn && platform::DayNumber(rule.end.day) < dayNumber) return;
    if (rule.end.day.year < sessions::kFirstTimerYear) return;
    const bool endOn = rule.endOn;
    if (endOn && e < lowerBound) return;
    if (!rule.weekdays[static_cast<std::size_t>(platform::Weekday(day))]) return;
    const std::int64_t years = rule.years, months = rule.months, days = rule.days,
                       hours = rule.hours, minutes = rule.minutes;
    for (std::int64_t v : {years, months, days, hours, minutes}) {
        if (v < 0 || v > sessions::kMaxTimerInterval) return;
    }
    if (years + months + days + hours + minutes <= 0) return;

    const std::int64_t step = (days * 24 + hours) * 60 + minutes;  // clock minutes
    const std::int64_t dayStart = dayNumber * kMinutesPerDay;
    const std::int64_t dayEnd = dayStart + kMinutesPerDay;
    // Takes the occurrences of the day in ascending order; false once the day's end time is
    // passed.
    const auto take = [&](std::int64_t t) {
        const std::int64_t m = t - dayStart;
        if (m < s) return true;  // a repeating row fires from its start's time of day on
        if (endOn && m > e) return false;
        if (m >= lowerBound) out->push_back(m);
        return true;
    };
    if (years == 0 && months == 0) {
        const std::int64_t first = ClockMinute(S.day, s);
        const std::int64_t wanted = dayStart + std::max(s, lowerBound);
        const std::int64_t k = wanted <= first ? 0 : (wanted - first + step - 1) / step;
        for (std::int64_t t = first + k * step; t < dayEnd && take(t); t += step) {
        }
        return;
    }
    // Occurrences only move forward, and the k-th lies at least k month steps after the start:
    // the last that can fall on the day is known, and the walk goes back from it.
    const std::int64_t monthStep = years * 12 + months;
    const std::int64_t monthsToDay = (day.year - S.day.year) * 12 + (day.month - S.day.month);
    std::vector<std::int64_t> onDay;  // clock minutes, latest first
    for (std::int64_t k = monthsToDay / monthStep; k >= 0; --k) {
        const std::int64_t monthIndex = S.day.month - 1 + k * monthStep;
        const std::int64_t year = S.day.year + monthIndex / 12;
        const std::int64_t month = monthIndex % 12 + 1;
        const platform::CivilDay moved{year, month,
                                       std::min(S.day.day, platform::DaysInMonth(month, year))};
        const std::int64_t t = ClockMinute(moved, s) + k * step;
        if (t >= dayEnd) continue;
        if (t < dayStart) break;
        onDay.push_back(t);
    }
    for (auto it = onDay.rbegin(); it != onDay.rend() && take(*it); ++it) {
    }
}

}  // namespace qv::schedule
