#include "sessions/timer_editor.h"

#include <algorithm>
#include <cstdio>

#include "platform/civil_day.h"
#include "platform/date_format.h"
#include "platform/localization.h"
#include "sessions/timer_options.h"

namespace qv::sessions {

using platform::GLS;

const std::array<const char*, 7> kTimerWeekdayKeys = {
    "onlySunday",   "onlyMonday", "onlyTuesday", "onlyWednesday",
    "onlyThursday", "onlyFriday", "onlySaturday"};

namespace {

constexpr std::int64_t kSecondsPerWeek = 7 * 24 * 60 * 60;

bool ValidDay(std::int64_t day, std::int64_t month, std::int64_t year) {
    return day >= 1 && day <= platform::DaysInMonth(month, year);
}

// The checks of one date of the dialog (month, day, year), with its corrections.
bool CheckDate(std::int64_t& day, std::int64_t& month, std::int64_t& year, bool start,
               TimerRowCheck* check) {
    const std::string side = start ? "start" : "end";
    if (month < 1 || month > 12) {
        *check = {GLS(start ? "The Start Month field must contains values from 1 to 12."
                            : "The End Month field must contains values from 1 to 12."),
                  side + "Month"};
        month = 1;
        return false;
    }
    if (!ValidDay(day, month, year)) {
        *check = {GLS(start ? "Start Day not valid." : "End Day not valid."), side + "Day"};
        day = 1;
        return false;
    }
    if (year < kFirstTimerYear) {
        *check = {GLS(start ? "Can't set a Start Year less than 2002."
                            : "Can't set an End Year less than 2002."),
                  side + "Year"};
        year = kFirstTimerYear;
        return false;
    }
    if (year > kLastTimerYear) {
        *check = {GLS(start ? "Can't set a Start Year greater than 9999."
                            : "Can't set an End Year greater than 9999."),
                  side + "Year"};
        year = kLastTimerYear;
        return false;
    }
    return true;
}

bool CheckTime(std::int64_t& hour, std::int64_t& minute, bool start, TimerRowCheck* check) {
    const std::string side = start ? "start" : "end";
    if (hour < 0 || hour > 23) {
        *check = {GLS(start ? "The Start Hour field must contain values from 0 to 23."
                            : "The End Hour field must contain values from 0 to 23."),
                  side + "Hour"};
        hour = 0;
        return false;
    }
    if (minute < 0 || minute > 59) {
        *check = {GLS(start ? "The Start Minute field must contain values from 0 to 59."
                            : "The End Minute field must contain values from 0 to 59."),
                  side + "Minute"};
        minute = 0;
        return false;
    }
    return true;
}

std::int64_t Clamp(std::int64_t value, std::int64_t low, std::int64_t high) {
    return std::min(std::max(value, low), high);
}

}  // namespace

TimerEnabling EnablingFor(const TimerFields& f) {
    TimerEnabling e;
    e.intervalFields = e.endTimeBox = e.weekdayBoxes = f.intervalOn;
    e.endTimeFields = e.endDateBox = f.intervalOn && f.endOn;
    e.endDateFields = f.intervalOn && f.endOn && f.endDateOn;
    return e;
}

TimerRowCheck CheckTimerFields(TimerFields& f) {
    TimerRowCheck check;
    if (!CheckDate(f.startDay, f.startMonth, f.startYear, true, &check)) return check;
    if (!CheckTime(f.startHour, f.startMinute, true, &check)) return check;
    if (!f.intervalOn) return check;

    const std::pair<std::int64_t*, const char*> intervals[] = {
        {&f.intervalHours, "intervalHours"},
        {&f.intervalMinutes, "intervalMinutes"},
        {&f.intervalDays, "intervalDays"},
        {&f.intervalMonths, "intervalMonths"},
        {&f.intervalYears, "intervalYears"}};
    for (const auto& [value, field] : intervals) {
        if (*value < 0 || *value > kMaxTimerInterval) {
            check = {GLS("The interval fields must contain values from 0 to 99999."), field};
            *value = 0;
            return check;
        }
    }
    if (f.intervalHours + f.intervalMinutes + f.intervalDays + f.intervalMonths + f.intervalYears ==
        0) {
        return {GLS("Can't set a zero interval."), "intervalHours"};
    }
    if (f.endOn) {
        if (!CheckTime(f.endHour, f.endMinute, false, &check)) return check;
        // Equal times are refused too: the row would fire once a day at most.
        if (f.startHour * 100 + f.startMinute >= f.endHour * 100 + f.endMinute) {
            return {GLS("The end time cannot be earlier than the start time."), ""};
        }
    }
    // The end date bounds the days whether or not the end time is on (it stays in force when
    // that box is unchecked afterwards), so it is checked whenever it is on.
    if (f.endDateOn) {
        if (!CheckDate(f.endDay, f.endMonth, f.endYear, false, &check)) return check;
        if (f.startYear * 10000 + f.startMonth * 100 + f.startDay >
            f.endYear * 10000 + f.endMonth * 100 + f.endDay) {
            return {GLS("The end date cannot be earlier than the start date."), ""};
        }
    }
    if (std::none_of(f.weekdays.begin(), f.weekdays.end(), [](bool on) { return on; })) {
        return {GLS("At least one of the check-boxes \"Execute on\" should be marked."), ""};
    }
    return check;
}

std::int64_t ClampDayToMonth(std::int64_t day, std::int64_t month, std::int64_t year) {
    const std::int64_t last = platform::DaysInMonth(month, year);
    return last > 0 && day > last ? last : day;
}

std::string WeekdayLabel(std::int64_t day, std::int64_t month, std::int64_t year) {
    if (year < 1 || year > kLastTimerYear || !ValidDay(day, month, year)) return {};
    // Noon exists on every day, whatever the clock changes.
    const std::time_t noon = platform::MomentOf({{year, month, day}, 12 * 60});
    return platform::FormatDatePattern("EEEE", static_cast<double>(noon));
}

void SplitTimerDate(const plist::Value& date, std::int64_t* day, std::int64_t* month,
                    std::int64_t* year, std::int64_t* hour, std::int64_t* minute) {
    const double seconds = date.isDate() ? date.date().seconds : 0;
    const platform::LocalMinute local = platform::LocalMinuteOf(static_cast<std::time_t>(seconds));
    *day = local.day.day;
    *month = local.day.month;
    *year = local.day.year;
    *hour = local.minute / 60;
    *minute = local.minute % 60;
}

plist::Date TimerDate(std::int64_t day, std::int64_t month, std::int64_t year, std::int64_t hour,
                      std::int64_t minute) {
    // Fields the checks did not look at (a row without repetition keeps its end as typed)
    // must still make a date; the clock normalises what lies outside its ranges.
    constexpr std::int64_t kWide = 100000;
    const std::time_t t = platform::MomentOf(
        {{Clamp(year, 1, kLastTimerYear), Clamp(month, -kWide, kWide), Clamp(day, -kWide, kWide)},
         Clamp(hour, -kWide, kWide) * 60 + Clamp(minute, -kWide, kWide)});
    return plist::Date{static_cast<double>(t)};
}

std::string TimerOnOffCell(const plist::Value& row) {
    // A row without a start is neither on nor off yet.
    if (TimerStartCell(row).empty()) return "";
    return row.intAt("onOff") == 1 ? "\xE2\x80\xA2" : "-";
}

std::string TimerStartCell(const plist::Value& row) {
    const plist::Value* start = row.find("start");
    if (row.intAt("valid") == 0 || start == nullptr || !start->isDate()) return {};
    return platform::FormatDatePattern("dd MMM yyyy, HH:mm", start->date().seconds);
}

std::string TimerIntervalCell(const plist::Value& row) {
    if (row.intAt("valid") == 0 || row.intAt("intervalOn") != 1) return {};
    char text[128];
    std::snprintf(text, sizeof text, "%02lld:%02lld ",
                  static_cast<long long>(row.intAt("intervalHours")),
                  static_cast<long long>(row.intAt("intervalMinutes")));
    std::string cell = text;
    const std::pair<const char*, const char*> parts[] = {
        {"intervalYears", "%lldY "}, {"intervalMonths", "%lldM "}, {"intervalDays", "%lldD"}};
    for (const auto& [key, format] : parts) {
        const std::int64_t value = row.intAt(key);
        if (value <= 0) continue;
        std::snprintf(text, sizeof text, format, static_cast<long long>(value));
        cell += text;
    }
    return cell;
}

TimerEditor::TimerEditor(const plist::Value& timerDict)
    : dict_(DefaultTimerDict(DefaultTimerStartDate())) {
    if (!timerDict.isDict()) return;
    for (const auto& [key, value] : timerDict.dict()) {
        if (key != "timerArray") dict_.set(key, value);
    }
    const plist::Value* rows = timerDict.arrayAt("timerArray");
    if (rows == nullptr) return;
    plist::Array& mine = dict_.arrayAt("timerArray")->array();
    for (std::size_t i = 0; i < mine.size() && i < rows->array().size(); ++i) {
        const plist::Value& given = rows->array()[i];
        if (!given.isDict()) continue;
        for (const auto& [key, value] : given.dict()) mine[i].set(key, value);
    }
}

bool TimerEditor::timerOn() const { return dict_.intAt("timerOn") != 0; }
void TimerEditor::setTimerOn(bool on) { dict_.set("timerOn", on ? 1 : 0); }
std::size_t TimerEditor::rowCount() const { return dict_.arrayAt("timerArray")->array().size(); }
const plist::Value& TimerEditor::row(std::size_t index) const {
    return dict_.arrayAt("timerArray")->array()[index];
}
plist::Value& TimerEditor::mutableRow(std::size_t index) {
    return dict_.arrayAt("timerArray")->array()[index];
}

bool TimerEditor::IsCellEnabled(std::size_t index, bool onOffColumn) const {
    if (!timerOn() || index >= rowCount()) return false;
    return onOffColumn || row(index).intAt("onOff") == 1;
}

void TimerEditor::ToggleRow(std::size_t index) {
    if (index >= rowCount()) return;
    plist::Value& r = mutableRow(index);
    r.set("onOff", r.intAt("onOff") == 1 ? 0 : 1);
}

void TimerEditor::ResetRow(std::size_t index, std::time_t now) {
    if (index >= rowCount()) return;
    std::int64_t d, m, y, h, min;
    SplitTimerDate(plist::Date{static_cast<double>(now)}, &d, &m, &y, &h, &min);
    plist::Value fresh = DefaultTimerRow(TimerDate(d, m, y, h, min));
    mutableRow(index) = std::move(fresh);
}

TimerFields TimerEditor::FieldsForRow(std::size_t index, std::time_t now) const {
    TimerFields f;
    if (index >= rowCount()) return f;
    const plist::Value& r = row(index);
    const bool valid = r.intAt("valid") != 0;
    const plist::Value nowDate = plist::Date{static_cast<double>(now)};
    const plist::Value weekLater = plist::Date{static_cast<double>(now + kSecondsPerWeek)};
    const plist::Value* start = valid ? r.find("start") : &nowDate;
    const plist::Value* end = valid ? r.find("end") : &weekLater;
    SplitTimerDate(start ? *start : nowDate, &f.startDay, &f.startMonth, &f.startYear, &f.startHour,
                   &f.startMinute);
    SplitTimerDate(end ? *end : weekLater, &f.endDay, &f.endMonth, &f.endYear, &f.endHour,
                   &f.endMinute);
    f.intervalOn = r.intAt("intervalOn") != 0;
    f.intervalHours = r.intAt("intervalHours");
    f.intervalMinutes = r.intAt("intervalMinutes");
    f.intervalDays = r.intAt("intervalDays");
    f.intervalMonths = r.intAt("intervalMonths");
    f.intervalYears = r.intAt("intervalYears");
    f.endOn = r.intAt("endOn") != 0;
    f.endDateOn = r.intAt("endDateOn") != 0;
    for (std::size_t i = 0; i < kTimerWeekdayKeys.size(); ++i) {
        f.weekdays[i] = r.intAt(kTimerWeekdayKeys[i], 1) != 0;
    }
    return f;
}

TimerRowCheck TimerEditor::SetTimerRow(std::size_t index, TimerFields& f) {
    if (index >= rowCount()) return {GLS("No such row."), ""};
    TimerRowCheck check = CheckTimerFields(f);
    if (!check.ok()) return check;
    plist::Value& r = mutableRow(index);
    r.set("start", TimerDate(f.startDay, f.startMonth, f.startYear, f.startHour, f.startMinute));
    r.set("intervalOn", f.intervalOn ? 1 : 0);
    r.set("intervalHours", f.intervalHours);
    r.set("intervalMinutes", f.intervalMinutes);
    r.set("intervalDays", f.intervalDays);
    r.set("intervalMonths", f.intervalMonths);
    r.set("intervalYears", f.intervalYears);
    r.set("endOn", f.endOn ? 1 : 0);
    r.set("endDateOn", f.endDateOn ? 1 : 0);
    r.set("end", TimerDate(f.endDay, f.endMonth, f.endYear, f.endHour, f.endMinute));
    for (std::size_t i = 0; i < kTimerWeekdayKeys.size(); ++i) {
        r.set(kTimerWeekdayKeys[i], f.weekdays[i] ? 1 : 0);
    }
    r.set("valid", 1);
    setTimerOn(true);
    return check;
}

bool TimerEditor::HasValidRow() const {
    for (std::size_t i = 0; i < rowCount(); ++i) {
        if (row(i).intAt("onOff") != 0 && row(i).intAt("valid") != 0) return true;
    }
    return false;
}

bool TimerEditor::GetPanels(plist::Value& session, std::string* /*message*/) {
    if (timerOn() && !HasValidRow()) setTimerOn(false);
    session.set("timerDict", dict_);
    return true;
}

}  // namespace qv::sessions
