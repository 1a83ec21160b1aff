#include "cli/timers_command.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>

#include "cli/cli.h"
#include "cli/json_writer.h"
#include "cli/options_command.h"
#include "cli/terminal_text.h"
#include "cli/verb_table.h"
#include "platform/civil_day.h"
#include "platform/utf8.h"
#include "schedule/scheduler.h"
#include "sessions/option_text.h"
#include "sessions/timer_editor.h"

namespace qv::cli {

namespace {

using sessions::TimerEditor;
using sessions::TimerFields;

constexpr Verb kVerbs[] = {
    {"list", 0, 0, "timers list"},
    {"toggle", 1, 1, "timers toggle N"},
    {"on", 0, 0, "timers on"},
    {"off", 0, 0, "timers off"},
    {"set", 2, SIZE_MAX, "timers set N KEY=VALUE..."},
};

// "YYYY-MM-DD HH:MM" as typed; the ranges are the row editor's to judge.
bool ParseLocalDate(const std::string& text, std::int64_t* year, std::int64_t* month,
                    std::int64_t* day, std::int64_t* hour, std::int64_t* minute) {
    long long y, mo, d, h, mi;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4lld-%2lld-%2lld %2lld:%2lld%n", &y, &mo, &d, &h, &mi, &used) !=
            5 ||
        static_cast<std::size_t>(used) != text.size() || text.size() != 16) {
        return false;
    }
    *year = y, *month = mo, *day = d, *hour = h, *minute = mi;
    return true;
}

// Puts one KEY=VALUE into the dialog's fields; "" when taken, else why not. *onOff receives
// the row's on/off when given.
std::string ApplyKey(TimerFields& f, const std::string& word, std::optional<bool>* onOff) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) return "'" + word + "' is not KEY=VALUE";
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    if (key == "start" || key == "end") {
        const bool start = key == "start";
        if (!ParseLocalDate(value, start ? &f.startYear : &f.endYear,
                            start ? &f.startMonth : &f.endMonth, start ? &f.startDay : &f.endDay,
                            start ? &f.startHour : &f.endHour,
                            start ? &f.startMinute : &f.endMinute)) {
            return "'" + key + "' takes a local date and time \"YYYY-MM-DD HH:MM\", not '" + value +
                   "'";
        }
        return {};
    }
    bool* switches[] = {&f.intervalOn, &f.endOn, &f.endDateOn};
    const char* switchKeys[] = {"intervalOn", "endOn", "endDateOn"};
    for (std::size_t i = 0; i < 3; ++i) {
        if (key != switchKeys[i]) continue;
        const std::optional<bool> on = sessions::ParseBool(value);
        if (!on) return "'" + key + "' takes 1 or 0 (on/off, yes/no), not '" + value + "'";
        *switches[i] = *on;
        return {};
    }
    for (std::size_t i = 0; i < sessions::kTimerWeekdayKeys.size(); ++i) {
        if (key != sessions::kTimerWeekdayKeys[i]) continue;
        const std::optional<bool> on = sessions::ParseBool(value);
        if (!on) return "'" + key + "' takes 1 or 0 (on/off, yes/no), not '" + value + "'";
        f.weekdays[i] = *on;
        return {};
    }
    if (key == "onOff") {
        *onOff = sessions::ParseBool(value);
        if (!*onOff) return "'onOff' takes 1 or 0 (on/off, yes/no), not '" + value + "'";
        return {};
    }
    const std::pair<const char*, std::int64_t*> numbers[] = {
        {"intervalHours", &f.intervalHours},
        {"intervalMinutes", &f.intervalMinutes},
        {"intervalDays", &f.intervalDays},
        {"intervalMonths", &f.intervalMonths},
        {"intervalYears", &f.intervalYears}};
    for (const auto& [name, field] : numbers) {
        if (key != name) continue;
        const std::optional<std::int64_t> n = ParseInteger(value);
        if (!n) return "'" + key + "' takes a whole number, not '" + value + "'";
        *field = *n;
        return {};
    }
    return "unknown timer row key '" + key +
           "' (keys: start, end, intervalOn, intervalHours, intervalMinutes, intervalDays, "
           "intervalMonths, intervalYears, endOn, endDateOn, onlySunday ... onlySaturday, onOff)";
}

void RowLine(const TimerEditor& editor, std::size_t i, std::ostream& out) {
    const plist::Value& row = editor.row(i);
    out << i + 1 << '\t' << sessions::TimerOnOffCell(row) << '\t' << sessions::TimerStartCell(row)
        << '\t' << sessions::TimerIntervalCell(row) << '\n';
}

int Store(TimerEditor& editor, app::MainApp& app, plist::Value& session,
          const TimersArguments& args, std::ostream& err) {
    std::string message;
    editor.GetPanels(session, &message);
    return WriteOptionsDocument(app, args.document, err);
}

int Set(TimerEditor& editor, std::size_t index, const TimersArguments& args, app::MainApp& app,
        plist::Value& session, std::ostream& out, std::ostream& err) {
    // The dialog opens on the row as the panel would open it; the words change its fields.
    TimerFields fields = editor.FieldsForRow(index);
    std::optional<bool> onOff;
    for (std::size_t i = 2; i < args.words.size(); ++i) {
        const std::string why = ApplyKey(fields, args.words[i], &onOff);
        if (!why.empty()) {
            err << "quorvel: " << TerminalName(why) << "\n";
            return kExitUsage;
        }
    }
    const sessions::TimerRowCheck check = editor.SetTimerRow(index, fields);
    if (!check.ok()) {
        SayRowRefused(check.message, check.field, err);
        return kExitUsage;
    }
    if (onOff && *onOff != (editor.row(index).intAt("onOff") == 1)) editor.ToggleRow(index);
    // The row is told only once it is written: a script reading it may take it as done.
    if (const int stored = Store(editor, app, session, args, err); stored != kExitOk) return stored;
    RowLine(editor, index, out);
    if (editor.row(index).intAt("onOff") != 1) {
        err << "quorvel: warning: row " << index + 1
            << " is off and never fires; 'quorvel timers toggle " << index + 1
            << "' switches it on\n";
    }
    return kExitOk;
}

int Executions(app::MainApp& app, const TimersArguments& args, std::ostream& out,
               std::ostream& err) {
    const sessions::SessionDocument& doc = app.document();
    schedule::TimerScope scope;
    scope.allSessions = args.all;
    if (!args.all) {
        scope.sessionIndex = SelectSession(doc, args.sessionIndex, args.session.value_or(""), err);
        if (scope.sessionIndex < 0) return kExitUsage;
    }
    if (app.preferences().mPrefDict.intAt("prefSyncAndQuit") != 0) {
        err << "quorvel: warning: prefSyncAndQuit is set: while it is, no timer fires\n";
    }
    std::vector<schedule::ExecutionEntry> entries;
    schedule::CollectExecutions(doc, scope, CommandClock()(), ParseTimerDays(args.days).value_or(1),
                                &entries);
    if (!args.json) {
        for (const schedule::ExecutionEntry& e : entries) {
            std::string iso = schedule::IsoMinute(e.startDate);
            iso[10] = '\t';
            out << iso << '\t' << TerminalName(e.sessionName) << '\t' << e.row + 1 << '\n';
        }
        return kExitOk;
    }
    out << "{\"occurrences\": [";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const schedule::ExecutionEntry& e = entries[i];
        out << (i == 0 ? "" : ", ") << "{\"date\": \"" << schedule::IsoMinute(e.startDate)
            << "\", \"sessionIndex\": " << e.session << ", \"sessionName\": ";
        WriteJsonString(out, e.sessionName, !platform::IsValidUtf8(e.sessionName));
        out << ", \"row\": " << e.row + 1 << "}";
    }
    out << "]}\n";
    return kExitOk;
}

}  // namespace

schedule::Scheduler::Clock CommandClock() {
    const char* given = std::getenv("QUORVEL_TEST_NOW");
    if (given == nullptr) return [] { return std::time(nullptr); };
    std::int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0;
    if (!ParseLocalDate(given, &y, &mo, &d, &h, &mi)) return [] { return std::time(nullptr); };
    const std::time_t base = platform::MomentOf({{y, mo, d}, h * 60 + mi});
    const std::time_t started = std::time(nullptr);
    return [base, started] { return base + (std::time(nullptr) - started); };
}

std::optional<std::int64_t> ParseTimerDays(const std::optional<std::string>& given) {
    if (!given) return 1;
    const std::optional<std::int64_t> days = ParseInteger(*given);
    if (!days || *days < 1 || *days > kMaxTimerDays) return std::nullopt;
    return days;
}

std::string CheckTimersArguments(const TimersArguments& args) {
    if (!ParseTimerDays(args.days)) {
        return "--days takes a number of days from 1 to " + std::to_string(kMaxTimerDays);
    }
    const bool named = args.session.has_value() || args.sessionIndex.has_value();
    if (args.words.empty()) {
        if (args.session.has_value() && args.sessionIndex.has_value()) {
            return "timers takes --session NAME or --session-index N, not both";
        }
        if (named == args.all) return "timers needs either --session NAME or --all";
        return {};
    }
    if (std::string why = CheckVerbWords(kVerbs, "timers", args.words); !why.empty()) return why;
    if (args.all) return "timers " + args.words.front() + " takes one session, not --all";
    if (args.json || args.days) return "--json and --days are for the list of executions";
    if (args.session.has_value() == args.sessionIndex.has_value()) {
        return "timers " + args.words.front() + " needs either --session NAME or --session-index N";
    }
    return {};
}

bool TimersVerbChanges(const TimersArguments& args) {
    return !args.words.empty() && args.words.front() != "list";
}

int RunTimersCommand(app::MainApp& app, const TimersArguments& args, std::ostream& out,
                     std::ostream& err) {
    if (args.words.empty()) return Executions(app, args, out, err);
    const std::int64_t sessionIndex =
        SelectSession(app.document(), args.sessionIndex, args.session.value_or(""), err);
    if (sessionIndex < 0) return kExitUsage;
    plist::Value& session = *app.document().GetSessionDict(sessionIndex);
    const plist::Value* stored = session.dictAt("timerDict");
    TimerEditor editor(stored ? *stored : plist::Value());
    const std::string& verb = args.words.front();
    if (verb == "list") {
        out << "timerOn\t" << (editor.timerOn() ? 1 : 0) << '\n';
        for (std::size_t i = 0; i < editor.rowCount(); ++i) RowLine(editor, i, out);
        return kExitOk;
    }
    if (verb == "on" || verb == "off") {
        if (verb == "on" && !editor.HasValidRow()) {
            err << "quorvel: no timer row is both on and valid: the timers would stay off; "
                   "define one with 'quorvel timers set N'\n";
            return kExitUsage;
        }
        editor.setTimerOn(verb == "on");
        return Store(editor, app, session, args, err);
    }
    const std::optional<std::size_t> index =
        RowIndex(args.words[1], editor.rowCount(), "timer row", err);
    if (!index) return kExitUsage;
    if (verb == "set") return Set(editor, *index, args, app, session, out, err);
    editor.ToggleRow(*index);
    return Store(editor, app, session, args, err);
}

}  // namespace qv::cli
