#include "sessions/timer_editor.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/civil_day.h"
#include "sessions/timer_options.h"
#include "support/test_support.h"

namespace qv::sessions {
namespace {

TEST(TimerEditorTest, TheDialogRefusesInItsOrderAndCorrectsTheField) {
    using Edit = std::function<void(TimerFields&)>;
    const auto repeat = [](TimerFields& f) { f.intervalOn = true, f.intervalHours = 1; };
    const auto endDate = [](TimerFields& f) {  // an end date on the start's day, at 23:00
        f.endOn = f.endDateOn = true, f.endHour = 23;
        f.endDay = f.startDay, f.endMonth = f.startMonth, f.endYear = f.startYear;
    };
    const auto day = [](int d, int m, int y) {
        return [=](TimerFields& f) { f.startDay = d, f.startMonth = m, f.startYear = y; };
    };
    const struct {
        const char* name;
        Edit edit;
        const char* message;  // "" when taken
        const char* field;
        std::function<bool(const TimerFields&)> corrected;
    } cases[] = {
        // clang-format off
        {"29 February 2004", day(29, 2, 2004), "", "", {}},
        {"29 February 2028", day(29, 2, 2028), "", "", {}},
        {"29 February 2100", day(29, 2, 2100), "Start Day not valid.", "startDay",
         [](const TimerFields& f) { return f.startDay == 1; }},
        {"29 February 2027", day(29, 2, 2027), "Start Day not valid.", "startDay", {}},
        {"month 13 before a bad day", [](TimerFields& f) { f.startMonth = 13, f.startDay = 40; },
         "The Start Month field must contains values from 1 to 12.", "startMonth",
         [](const TimerFields& f) { return f.startMonth == 1 && f.startDay == 40; }},
        {"year 2001", [](TimerFields& f) { f.startYear = 2001; },
         "Can't set a Start Year less than 2002.", "startYear",
         [](const TimerFields& f) { return f.startYear == 2002; }},
        {"hour 24", [](TimerFields& f) { f.startHour = 24; },
         "The Start Hour field must contain values from 0 to 23.", "startHour", {}},
        {"minute 60", [](TimerFields& f) { f.startMinute = 60; },
         "The Start Minute field must contain values from 0 to 59.", "startMinute", {}},
        {"no repetition ignores the rest",
         [](TimerFields& f) { f.endOn = f.endDateOn = true, f.endYear = 1990, f.weekdays = {}; },
         "", "", {}},
        {"zero interval", [](TimerFields& f) { f.intervalOn = true; },
         "Can't set a zero interval.", "intervalHours", {}},
        {"negative interval", [&](TimerFields& f) { repeat(f), f.intervalDays = -1; },
         "The interval fields must contain values from 0 to 99999.", "intervalDays", {}},
        {"equal end time",
         [&](TimerFields& f) { repeat(f), f.endOn = true, f.startHour = f.endHour = 9; },
         "The end time cannot be earlier than the start time.", "", {}},
        {"end minute 75",
         [&](TimerFields& f) { repeat(f), f.endOn = true, f.endHour = 9, f.endMinute = 75; },
         "The End Minute field must contain values from 0 to 59.", "endMinute", {}},
        {"equal end date", [&](TimerFields& f) { repeat(f), endDate(f); }, "", "", {}},
        {"end date a day early", [&](TimerFields& f) { repeat(f), endDate(f), f.endDay = 9; },
         "The end date cannot be earlier than the start date.", "", {}},
        // The end date bounds the days without the end time too: a row it would end before
        // its start is refused, not kept to never fire.
        {"end date checked without end time",
         [&](TimerFields& f) { repeat(f), f.endDateOn = true, f.endDay = 1; },
         "The end date cannot be earlier than the start date.", "", {}},
        {"end year 2001", [&](TimerFields& f) { repeat(f), endDate(f), f.endYear = 2001; },
         "Can't set an End Year less than 2002.", "endYear", {}},
        {"no weekday", [&](TimerFields& f) { repeat(f), f.weekdays = {}; },
         "At least one of the check-boxes \"Execute on\" should be marked.", "", {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TimerFields f;
        f.startDay = 10, f.startMonth = 6, f.startYear = 2026, f.startHour = 8, f.startMinute = 30;
        f.endDay = 20, f.endMonth = 6, f.endYear = 2026;
        c.edit(f);
        const TimerRowCheck check = CheckTimerFields(f);
        EXPECT_EQ(check.message, c.message);
        EXPECT_EQ(check.field, c.field);
        if (c.corrected) {
            EXPECT_TRUE(c.corrected(f));
        }
    }
}

TEST(TimerEditorTest, AnAcceptedRowIsStoredValidWithSecondsZeroAndTheSwitchOn) {
    test::ScopedEnv env;
    env.Set("LC_ALL", "en_US.UTF-8");
    TimerEditor editor(DefaultTimerDict(DefaultTimerStartDate()));
    const std::time_t now = platform::MomentOf({{2026, 12, 7}, 10 * 60 + 15}) + 42;
    TimerFields f = editor.FieldsForRow(3, now);  // a row never edited: now and a week later
    EXPECT_EQ(f.startDay, 7);
    EXPECT_EQ(f.startMinute, 15);
    EXPECT_EQ(f.endDay, 14);
    EXPECT_EQ(WeekdayLabel(f.startDay, f.startMonth, f.startYear), "Monday");
    EXPECT_EQ(WeekdayLabel(31, 4, 2026), "");

    f.intervalOn = true, f.intervalHours = 1, f.intervalMinutes = 30, f.intervalMonths = 1,
    f.intervalDays = 2;
    ASSERT_TRUE(editor.SetTimerRow(3, f).ok());
    const plist::Value& row = editor.row(3);
    EXPECT_EQ(row.intAt("valid"), 1);
    EXPECT_TRUE(editor.timerOn());
    EXPECT_EQ(static_cast<std::time_t>(row.find("start")->date().seconds), now - 42);
    EXPECT_EQ(TimerIntervalCell(row), "01:30 1M 2D");
    EXPECT_EQ(TimerStartCell(row), "07 Dec 2026, 10:15");
    EXPECT_EQ(TimerOnOffCell(row), "\xE2\x80\xA2");
    EXPECT_EQ(editor.FieldsForRow(3, now + 1000).startMinute, 15);  // a valid row shows its own

    // Alt-click: on but not valid, empty cells; leaving the panel then turns the timers off.
    editor.ResetRow(3, now);
    EXPECT_EQ(editor.row(3).intAt("onOff"), 1);
    EXPECT_EQ(TimerStartCell(editor.row(3)), "");
    EXPECT_EQ(TimerIntervalCell(editor.row(3)), "");
    EXPECT_EQ(TimerOnOffCell(editor.row(3)), "");  // neither on nor off until it has a start
    plist::Value session = plist::Dict{};
    std::string message;
    ASSERT_TRUE(editor.GetPanels(session, &message));
    EXPECT_EQ(session.dictAt("timerDict")->intAt("timerOn"), 0);

    editor.ToggleRow(0);
    EXPECT_EQ(editor.row(0).intAt("onOff"), 0);
    editor.setTimerOn(true);
    EXPECT_FALSE(editor.IsCellEnabled(0, false));
    EXPECT_TRUE(editor.IsCellEnabled(0, true));
}

TEST(TimerEditorTest, EnablingFollowsTheThreeBoxes) {
    const struct {
        bool interval, endOn, endDateOn;
        bool weekdays, endTimeFields, endDateFields;
    } cases[] = {
        {false, true, true, false, false, false},
        {true, false, true, true, false, false},
        {true, true, false, true, true, false},
        {true, true, true, true, true, true},
    };
    for (const auto& c : cases) {
        TimerFields f;
        f.intervalOn = c.interval, f.endOn = c.endOn, f.endDateOn = c.endDateOn;
        const TimerEnabling e = EnablingFor(f);
        EXPECT_EQ(e.weekdayBoxes, c.weekdays);
        EXPECT_EQ(e.intervalFields, c.interval);
        EXPECT_EQ(e.endTimeFields, c.endTimeFields);
        EXPECT_EQ(e.endDateBox, c.endTimeFields);
        EXPECT_EQ(e.endDateFields, c.endDateFields);
    }
    EXPECT_EQ(ClampDayToMonth(31, 2, 2100), 28);
    EXPECT_EQ(ClampDayToMonth(31, 2, 2000), 29);
}

}  // namespace
}  // namespace qv::sessions
