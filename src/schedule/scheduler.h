#pragma once
// The scheduler: turns the timer rows of the sessions in scope into a dated execution list for
// the coming days and, at each tick, starts the run of the first entry that is due. It knows
// nothing of threads or widgets: the clock, the way a run starts and whether the console is on
// screen are given to it, and a front end calls Tick() every 10 seconds.

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/civil_day.h"
#include "sessions/plist_value.h"
#include "sessions/session_document.h"

namespace qv::schedule {

inline constexpr int kEntryWait = 0;
inline constexpr int kEntryRun = -1;
inline constexpr int kEntryDone = 1;
inline constexpr int kEntrySkipped = -2;  // shown, never fired
inline constexpr int kTickSeconds = 10;

// One dated execution of a session's timer row.
struct ExecutionEntry {
    platform::LocalMinute startDate;  // as the local clock shows it
    std::int64_t session = 0;         // index in the document's sessionsArray
    std::string sessionName;          // when the entry was made
    int state = kEntryWait;
    int nextExe = 0;  // 1 on the entry shown as the next execution
    std::int64_t errors = 0;
    std::string pathLogFile;  // the run's log, when it existed at completion
    std::size_t row = 0;      // the timer row (from 0) that made it
};

// Which sessions' timers fire: all of them, or one.
struct TimerScope {
    bool allSessions = true;
    std::int64_t sessionIndex = 0;
};

// Appends to *entries those the timer rows of the sessions in scope yield over `days` days
// from `now` (today from the current minute on), in time order; entries of one minute keep
// document and table order. Sessions whose timers are switched off yield nothing.
void CollectExecutions(const sessions::SessionDocument& doc, const TimerScope& scope,
                       std::time_t now, std::int64_t days, std::vector<ExecutionEntry>* entries);

// "Next Timer: 07 Dec 2026 - 10:00", with " (name)" when every session is in scope.
std::string NextTimerText(const ExecutionEntry& entry, bool withSessionName);
// The state column's text: "Wait", "Run", "Skipped", "Done" (for 1 and any other value).
std::string EntryStateLabel(int state);
// "2026-12-07T10:00", the command's form of an entry's date.
std::string IsoMinute(const platform::LocalMinute& local);

// Per session name, the latest due minute of the executions that a started run stood for.
using FiredMinutes = std::map<std::string, platform::LocalMinute, std::less<>>;

// How a tick starts the run of an entry; the application's run service stands behind it.
class TimerLauncher {
  public:
    virtual ~TimerLauncher() = default;
    // What runs started before covered, whichever process started them: a scheduler started
    // again within the minute must not fire what the one before it fired. Nothing by default.
    virtual FiredMinutes FiredBefore() const { return {}; }
    // A run was started for a session's executions due up to `covered`.
    virtual void RecordFired(const std::string& /*sessionName*/,
                             const platform::LocalMinute& /*covered*/) {}
    // A run is under way (mIsCopying), whoever started it.
    virtual bool IsCopying() const = 0;
    // Starts the unattended run of a session. When refused, *heldBy names the process whose
    // run holds the run lock ("" when something else stood in the way, told by *why).
    virtual bool StartTimerRun(std::int64_t session, std::string* heldBy, std::string* why) = 0;
};

class Scheduler {
  public:
    using Clock = std::function<std::time_t()>;

    // The document and preferences are read at each build, never kept.
    Scheduler(const sessions::SessionDocument& document, const plist::Value& preferences,
              TimerLauncher& launcher, Clock clock = {});

    // Fire every session's timers whatever the document's current session (the background
    // scheduler); otherwise the scope follows the console: "All Sessions" or the current one.
    void SetFireAllSessions(bool all) { fireAll_ = all; }
    // The time it sees (tests set it).
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    TimerScope Scope() const;
    // No timer fires while this says the console is not on screen (an option panel is).
    void SetConsoleShownCheck(std::function<bool()> shown) { consoleShown_ = std::move(shown); }
    // Told after every change of the list, the blocking or the tooltip (SetArray:).
    void SetOnChange(std::function<void()> changed) { onChange_ = std::move(changed); }

    // Enables or disables the tick; true when it was enabled before the call.
    bool TimerSyncEnabled(bool on);
    bool tickEnabled() const { return tickEnabled_; }
    // Rebuilds the execution list: all, or only the Wait entries (Run and Done ones stay).
    void GetExecutiveTimerArray(bool all);
    // The tick's body: true when it started a run. The session's other executions already due
    // that day are folded into that run (Skipped): a session that could not run for a while
    // runs once when it can, not once for every execution it missed.
    bool CheckIfTimeToSync();
    // What the front end's 10-second timer calls: CheckIfTimeToSync while the tick is enabled.
    bool Tick() { return tickEnabled_ && CheckIfTimeToSync(); }
    // The list of a new day, when the day changed since it was built (done by every look; also
    // for a list kept on screen while another scheduler fires the timers).
    void RebuildAtChangeOfDay();
    // The timer run has concluded (its log saved): the entry becomes Done.
    void SchedulingTimerDone(std::int64_t errors, const std::string& pathLogFile);
    static bool IsTimerOnInSomeSession(const sessions::SessionDocument& document);

    // ---- For the scheduling window ----
    const std::vector<ExecutionEntry>& executiveTimerArray() const { return entries_; }
    std::int64_t currentExecutiveTimerIndex() const { return current_; }
    // The entry being run, while a timer run is under way.
    const ExecutionEntry* CurrentEntry() const;
    std::int64_t howManyDaysPreview() const { return days_; }
    // ChoosePopMenu: a new horizon rebuilds the list; ignored while blocked.
    void ChooseHorizon(std::int64_t days);
    bool blocked() const { return blocked_; }
    // The row the window scrolls to (SelectRow:), when there is one.
    std::optional<std::size_t> rowToShow() const { return rowToShow_; }
    // The console timer button's tooltip as the scheduler last set it.
    const std::string& timerToolTip() const { return toolTip_; }
    // "Next Timer: ..." for the entry marked next, or "Next Timer: undefined".
    std::string NextTimer() const;
    // DeleteTimerRow: removes the selected entries when every one is Done and nothing is
    // blocked; *select receives the row to select afterwards. False when nothing was removed.
    bool DeleteTimerRows(std::vector<std::size_t> selected, std::size_t* select);
    // The log file the open-log button opens for a row, "" when it is disabled.
    std::string LogToOpen(std::optional<std::size_t> row) const;

  private:
    std::time_t Now() const { return clock_ ? clock_() : std::time(nullptr); }
    void Changed();

    const sessions::SessionDocument& document_;
    const plist::Value& preferences_;
    TimerLauncher& launcher_;
    Clock clock_;
    // The last entry whose refusal to start was logged: (session, due moment).
    std::optional<std::pair<std::int64_t, std::time_t>> refusedLogged_;
    bool fireAll_ = false;
    std::function<bool()> consoleShown_;
    std::function<void()> onChange_;

    bool tickEnabled_ = false;                // timerSync
    std::vector<ExecutionEntry> entries_;     // executiveTimerArray
    std::int64_t current_ = -1;               // gCurrentExecutiveTimerIndex
    platform::CivilDay lastDayCheckTimer_{};  // the day of the last build
    std::int64_t days_ = 1;                   // howManyDaysPreview
    bool blocked_ = false;
    std::optional<std::size_t> rowToShow_;
    std::string toolTip_;
};

}  // namespace qv::schedule
