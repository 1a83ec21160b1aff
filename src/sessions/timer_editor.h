#pragma once
// The timers of one session being edited: a working copy of its `timerDict` that the timer
// panel shows and the command changes, the row dialog's fields, enabling rules and checks, and
// the texts of the panel's table.

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

// Years before this one are refused as start or end dates, and rows holding one never fire.
inline constexpr std::int64_t kFirstTimerYear = 2002;
// Years after this one are refused: beyond it dates stop being plain calendar arithmetic.
inline constexpr std::int64_t kLastTimerYear = 9999;
// The largest value an interval field takes; a row holding more never fires.
inline constexpr std::int64_t kMaxTimerInterval = 99999;

// The weekday keys, 0 Sunday to 6 Saturday.
extern const std::array<const char*, 7> kTimerWeekdayKeys;

// The values of the row dialog's fields and check boxes, as the user sees them.
struct TimerFields {
    std::int64_t startDay = 1, startMonth = 1, startYear = 2004, startHour = 0, startMinute = 0;
    bool intervalOn = false;
    std::int64_t intervalHours = 0, intervalMinutes = 0, intervalDays = 0, intervalMonths = 0,
                 intervalYears = 0;
    bool endOn = false;
    bool endDateOn = false;
    std::int64_t endDay = 1, endMonth = 1, endYear = 2004, endHour = 0, endMinute = 0;
    std::array<bool, 7> weekdays{true, true, true, true, true, true, true};  // 0 Sunday
};

// Which controls of the row dialog take input, from its three check boxes.
struct TimerEnabling {
    bool intervalFields = false;  // the five interval fields and steppers
    bool endTimeBox = false;
    bool weekdayBoxes = false;
    bool endTimeFields = false;  // end hour and minute
    bool endDateBox = false;
    bool endDateFields = false;  // end day, month and year
};
TimerEnabling EnablingFor(const TimerFields& fields);

// The dialog's verdict: the refusal ("" when the row was taken) and the name of the field the
// dialog selects for it ("startMonth", "endDay", ...; "" for none). The refused field has
// already been corrected in the fields, as the dialog shows it.
struct TimerRowCheck {
    std::string message;
    std::string field;
    bool ok() const { return message.empty(); }
};
// SetTimerRow's checks, in the dialog's order.
TimerRowCheck CheckTimerFields(TimerFields& fields);

// The full weekday name ("Tuesday", in the user's language) of a day typed in the date fields;
// "" when the fields hold no such day.
std::string WeekdayLabel(std::int64_t day, std::int64_t month, std::int64_t year);
// What the day stepper does after the month or the year changed: the day lowered to the last
// of that month when beyond it (unchanged for a month outside 1 to 12).
std::int64_t ClampDayToMonth(std::int64_t day, std::int64_t month, std::int64_t year);

// The table's cells: "•" or "-" ("" for a row without a start); the start ("07 Dec 2026, 10:00",
// user's language) and the repetition ("01:30 1M 2D") of a valid row, "" otherwise.
std::string TimerOnOffCell(const plist::Value& row);
std::string TimerStartCell(const plist::Value& row);
std::string TimerIntervalCell(const plist::Value& row);

// A row's date as local calendar fields, and back (seconds always 0).
void SplitTimerDate(const plist::Value& date, std::int64_t* day, std::int64_t* month,
                    std::int64_t* year, std::int64_t* hour, std::int64_t* minute);
plist::Date TimerDate(std::int64_t day, std::int64_t month, std::int64_t year, std::int64_t hour,
                      std::int64_t minute);

class TimerEditor {
  public:
    // SetPanels: the working copy of a session's timerDict (missing keys and rows take a new
    // session's values).
    explicit TimerEditor(const plist::Value& timerDict);

    bool timerOn() const;
    void setTimerOn(bool on);  // ChooseOnOff
    std::size_t rowCount() const;
    const plist::Value& row(std::size_t index) const;  // index below rowCount()

    // Cell enabling of the table: everything off with the master switch off; the onOff cells
    // on; the other cells of a row only while the row is on.
    bool IsCellEnabled(std::size_t index, bool onOffColumn) const;

    // The row operations leave an index beyond the table alone (SetTimerRow refuses it).
    // The first column: switches the row's onOff.
    void ToggleRow(std::size_t index);
    // Another column with the Alt key: on, not valid, start and end now, no repetition.
    void ResetRow(std::size_t index, std::time_t now = std::time(nullptr));
    // What the dialog shows when it opens on the row: a valid row's dates, otherwise now and a
    // week later; the rest from the row.
    TimerFields FieldsForRow(std::size_t index, std::time_t now = std::time(nullptr)) const;
    // OK in the dialog: checks the fields; when they pass, the row takes them, becomes valid,
    // and the master switch goes on. A refusal changes no row (the fields get the correction).
    TimerRowCheck SetTimerRow(std::size_t index, TimerFields& fields);

    const plist::Value& CurrentTimerDict() const { return dict_; }
    bool HasValidRow() const;  // a row both on and valid
    bool IconOn() const { return timerOn(); }
    // GetPanels: a master switch on without a row both on and valid goes off; then the working
    // copy is the session's timerDict. Never refuses a session dictionary.
    bool GetPanels(plist::Value& session, std::string* message);

  private:
    plist::Value& mutableRow(std::size_t index);
    plist::Value dict_;
};

}  // namespace qv::sessions
