#include "schedule/scheduler.h"

#include <algorithm>
#include <cstdio>

#include "platform/date_format.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/system_log.h"
#include "schedule/timer_occurrences.h"

namespace qv::schedule {

using platform::GLS;

namespace {

std::string TwoDigits(std::int64_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "%02lld", static_cast<long long>(n));
    return text;
}

}  // namespace

void CollectExecutions(const sessions::SessionDocument& doc, const TimerScope& scope,
                       std::time_t now, std::int64_t days, std::vector<ExecutionEntry>* entries) {
    // The rows are read once; the occurrences are found and sorted as small records (every
    // entry of a day comes before the next day's, so each day is sorted alone), and only then
    // made into entries: a week of many rows is a hundred thousand of them.
    struct Source {
        std::int64_t session;
        std::size_t row;
        TimerRule rule;
    };
    std::vector<Source> sources;
    std::vector<std::string> names;
    for (std::int64_t i = 0; i < doc.SessionCount(); ++i) {
        names.push_back(doc.GetSessionName(i));
        if (!scope.allSessions && i != scope.sessionIndex) continue;
        const plist::Value* timers = doc.GetSessionDict(i)->dictAt("timerDict");
        if (timers == nullptr || timers->intAt("timerOn") == 0) continue;
        const plist::Value* rows = timers->arrayAt("timerArray");
        if (rows == nullptr) continue;
        for (std::size_t r = 0; r < rows->array().size(); ++r) {
            TimerRule rule = ReadTimerRule(rows->array()[r]);
            if (rule.on) sources.push_back({i, r, rule});
        }
    }
    struct Found {
        std::int64_t day;  // from the first
        std::int64_t minute;
        std::uint32_t source;
    };
    std::vector<Found> found;
    std::vector<std::int64_t> minutes;
    const platform::LocalMinute start = platform::LocalMinuteOf(now);
    const std::int64_t firstDay = platform::DayNumber(start.day);
    std::vector<platform::CivilDay> dayOf;
    for (std::int64_t n = 0; n < days; ++n) {
        const platform::CivilDay day = dayOf.emplace_back(platform::DayFromNumber(firstDay + n));
        const std::size_t dayBegins = found.size();
        for (std::size_t i = 0; i < sources.size(); ++i) {
            minutes.clear();
            OccurrencesOnDay(sources[i].rule, day, n == 0 ? start.minute : 0, &minutes);
            for (std::int64_t m : minutes) found.push_back({n, m, static_cast<std::uint32_t>(i)});
        }
        std::stable_sort(found.begin() + static_cast<std::ptrdiff_t>(dayBegins), found.end(),
                         [](const Found& a, const Found& b) { return a.minute < b.minute; });
    }
    entries->reserve(entries->size() + found.size());
    for (const Found& f : found) {
        const Source& source = sources[f.source];
        ExecutionEntry& entry = entries->emplace_back();
        entry.startDate = {dayOf[static_cast<std::size_t>(f.day)], f.minute};
        entry.session = source.session;
        entry.sessionName = names[static_cast<std::size_t>(source.session)];
        entry.row = source.row;
    }
}

std::string NextTimerText(const ExecutionEntry& entry, bool withSessionName) {
    // The date from the day's noon, which every day has; the time from the entry itself, so
    // that an entry in an hour the clock skips shows the time it was listed at.
    const std::time_t noon = platform::MomentOf({entry.startDate.day, 12 * 60});
    std::string text = GLS("Next Timer: ") +
                       platform::FormatDatePattern("dd MMM yyyy", static_cast<double>(noon)) +
                       " - " + TwoDigits(entry.startDate.minute / 60) + ":" +
                       TwoDigits(entry.startDate.minute % 60);
    if (withSessionName) text += " (" + entry.sessionName + ")";
    return text;
}

std::string EntryStateLabel(int state) {
    switch (state) {
        case kEntryWait:
            return GLS("Wait");
        case kEntryRun:
            return GLS("Run");
        case kEntrySkipped:
            return GLS("Skipped");
        default:
            return GLS("Done");
    }
}

std::string IsoMinute(const platform::LocalMinute& local) {
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld",
                  static_cast<long long>(local.day.year), static_cast<long long>(local.day.month),
                  static_cast<long long>(local.day.day), static_cast<long long>(local.minute / 60),
                  static_cast<long long>(local.minute % 60));
    return text;
}

Scheduler::Scheduler(const sessions::SessionDocument& document, const plist::Value& preferences,
                     TimerLauncher& launcher, Clock clock)
    : document_(document),
      preferences_(preferences),
      launcher_(launcher),
      clock_(std::move(clock)) {}

TimerScope Scheduler::Scope() const {
    if (fireAll_ || document_.IsCurrentSessionAllSessions()) return {true, 0};
    return {false, document_.mSessionIndex};
}

void Scheduler::Changed() {
    if (onChange_) onChange_();
}

bool Scheduler::TimerSyncEnabled(bool on) {
    const bool was = tickEnabled_;
    tickEnabled_ = on;
    return was;
}

void Scheduler::GetExecutiveTimerArray(bool all) {
    const bool wasOn = TimerSyncEnabled(false);
    if (preferences_.intAt("prefSyncAndQuit") != 0) {
        // A timer run going on keeps its entry: its end makes it Done and unblocks the list.
        std::erase_if(entries_, [](const ExecutionEntry& e) { return e.state != kEntryRun; });
        current_ = entries_.empty() ? -1 : 0;
        rowToShow_.reset();
        Changed();
        return;  // the tick stays off
    }
    if (all) {
        entries_.clear();
    } else {
        std::erase_if(entries_, [](const ExecutionEntry& e) { return e.state == kEntryWait; });
    }
    if (fireAll_) {
        // A scheduler nobody looks at (the command's) keeps no record of earlier days: left
        // running for weeks, its list would only grow.
        const std::int64_t today = platform::DayNumber(platform::LocalDayOf(Now()));
        std::erase_if(entries_, [today](const ExecutionEntry& e) {
            return e.state != kEntryRun && platform::DayNumber(e.startDate.day) < today;
        });
    }
    // A timer run still going on keeps its entry as the current one, wherever the removal
    // moved it: its end must still make it Done (and keep it from firing again).
    current_ = -1;
    for (std::size_t i = 0; blocked_ && i < entries_.size(); ++i) {
        if (entries_[i].state == kEntryRun) current_ = static_cast<std::int64_t>(i);
    }
    const std::time_t now = Now();
    lastDayCheckTimer_ = platform::LocalDayOf(now);

    const TimerScope scope = Scope();
    const std::size_t kept = entries_.size();
    CollectExecutions(document_, scope, now, days_, &entries_);
    // An entry fired in the current minute would be made again: the kept one stands for it.
    const platform::LocalMinute minute = platform::LocalMinuteOf(now);
    std::vector<std::pair<std::int64_t, std::size_t>> firedThisMinute;  // session, row
    for (std::size_t i = 0; i < kept; ++i) {
        if (entries_[i].startDate == minute) {
            firedThisMinute.emplace_back(entries_[i].session, entries_[i].row);
        }
    }
    if (!firedThisMinute.empty()) {
        const auto again = [&](const ExecutionEntry& e) {
            return e.startDate == minute &&
                   std::find(firedThisMinute.begin(), firedThisMinute.end(),
                             std::make_pair(e.session, e.row)) != firedThisMinute.end();
        };
        entries_.erase(std::remove_if(entries_.begin() + static_cast<std::ptrdiff_t>(kept),
                                      entries_.end(), again),
                       entries_.end());
    }
    // What an earlier scheduler (perhaps of another process) fired today is not fired again.
    const FiredMinutes fired = launcher_.FiredBefore();
    for (std::size_t i = kept; !fired.empty() && i < entries_.size(); ++i) {
        ExecutionEntry& e = entries_[i];
        const auto found = fired.find(e.sessionName);
        if (found != fired.end() && found->second.day == e.startDate.day &&
            e.startDate.minute <= found->second.minute) {
            e.state = kEntryDone;
        }
    }
    rowToShow_.reset();
    for (std::size_t i = kept; i < entries_.size(); ++i) {
        if (entries_[i].state != kEntryWait) continue;
        entries_[i].nextExe = 1;
        toolTip_ = NextTimerText(entries_[i], scope.allSessions);
        rowToShow_ = i;
        break;
    }
    Changed();
    if (wasOn) TimerSyncEnabled(true);
}

void Scheduler::RebuildAtChangeOfDay() {
    if (!(platform::LocalDayOf(Now()) == lastDayCheckTimer_)) GetExecutiveTimerArray(false);
}

bool Scheduler::CheckIfTimeToSync() {
    if (launcher_.IsCopying()) return false;
    current_ = -1;
    const std::time_t now = Now();
    const platform::LocalMinute local = platform::LocalMinuteOf(now);
    RebuildAtChangeOfDay();
    toolTip_ = GLS("Go to the Timer panel");
    if (entries_.empty() || (consoleShown_ && !consoleShown_())) return false;

    // No lower bound: an entry that passed while something stood in the way fires now.
    std::optional<std::size_t> due;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const ExecutionEntry& e = entries_[i];
        if (e.state == kEntrySkipped || e.state == kEntryDone) continue;
        if (e.startDate.day == local.day && e.startDate.minute <= local.minute) {
            due = i;
            break;
        }
    }
    if (!due) return false;

    std::string heldBy, why;
    if (!launcher_.StartTimerRun(entries_[*due].session, &heldBy, &why)) {
        // Tried again at the next tick, as long as the entry stays due; said once for it.
        const ExecutionEntry& e = entries_[*due];
        const auto refused = std::make_pair(e.session, platform::MomentOf(e.startDate));
        if (refusedLogged_ == refused) return false;
        refusedLogged_ = refused;
        platform::SystemLog(
            why.empty() || !heldBy.empty()
                ? platform::FormatText(GLS("Cannot fire while the app %@ is running."),
                                       {heldBy.empty() ? GLS("unknown process") : heldBy})
                : why);
        return false;
    }
    current_ = static_cast<std::int64_t>(*due);
    entries_[*due].state = kEntryRun;
    platform::LocalMinute covered = entries_[*due].startDate;
    for (std::size_t i = *due + 1; i < entries_.size(); ++i) {
        ExecutionEntry& e = entries_[i];
        if (e.session != entries_[*due].session || e.state != kEntryWait) continue;
        if (!(e.startDate.day == local.day) || e.startDate.minute > local.minute) continue;
        e.state = kEntrySkipped;
        e.nextExe = 0;
        covered.minute = std::max(covered.minute, e.startDate.minute);
    }
    launcher_.RecordFired(entries_[*due].sessionName, covered);
    rowToShow_ = *due;
    blocked_ = true;
    Changed();
    return true;
}

void Scheduler::SchedulingTimerDone(std::int64_t errors, const std::string& pathLogFile) {
    if (current_ < 0 || current_ >= static_cast<std::int64_t>(entries_.size())) return;
    const auto i = static_cast<std::size_t>(current_);
    ExecutionEntry& done = entries_[i];
    done.state = kEntryDone;
    done.errors = errors;
    done.nextExe = 0;
    if (!pathLogFile.empty() && platform::IsExistingRegularFile(pathLogFile)) {
        done.pathLogFile = pathLogFile;
    }
    // The next one to wait: those the run stood for were made Skipped when it was fired.
    std::size_t next = i + 1;
    while (next < entries_.size() && entries_[next].state != kEntryWait) ++next;
    if (next >= entries_.size()) {
        toolTip_ = GLS("Next Timer: undefined");
    } else {
        entries_[next].nextExe = 1;
        toolTip_ = NextTimerText(entries_[next], Scope().allSessions);
        rowToShow_ = next;
    }
    current_ = -1;
    blocked_ = false;
    Changed();
}

bool Scheduler::IsTimerOnInSomeSession(const sessions::SessionDocument& document) {
    for (std::int64_t i = 0; i < document.SessionCount(); ++i) {
        const plist::Value* timers = document.GetSessionDict(i)->dictAt("timerDict");
        if (timers == nullptr) continue;
        if (timers->intAt("timerOn") != 0) return true;
    }
    return false;
}

const ExecutionEntry* Scheduler::CurrentEntry() const {
    if (current_ < 0 || current_ >= static_cast<std::int64_t>(entries_.size())) return nullptr;
    return &entries_[static_cast<std::size_t>(current_)];
}

void Scheduler::ChooseHorizon(std::int64_t days) {
    if (blocked_ || days < 1) return;
    days_ = days;
    GetExecutiveTimerArray(false);
}

std::string Scheduler::NextTimer() const {
    for (const ExecutionEntry& e : entries_) {
        if (e.nextExe == 1) return NextTimerText(e, Scope().allSessions);
    }
    return GLS("Next Timer: undefined");
}

bool Scheduler::DeleteTimerRows(std::vector<std::size_t> selected, std::size_t* select) {
    if (blocked_ || entries_.empty() || selected.empty()) return false;
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    for (std::size_t i : selected) {
        if (i >= entries_.size() || entries_[i].state != kEntryDone) return false;
    }
    bool hadNext = false;
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
        hadNext = hadNext || entries_[*it].nextExe == 1;
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    if (hadNext) {
        for (ExecutionEntry& e : entries_) {
            if (e.state == kEntryWait) {
                e.nextExe = 1;
                break;
            }
        }
    }
    if (select != nullptr) *select = selected.front();
    Changed();
    return true;
}

std::string Scheduler::LogToOpen(std::optional<std::size_t> row) const {
    if (!row || *row >= entries_.size()) return {};
    const std::string& path = entries_[*row].pathLogFile;
    return !path.empty() && platform::IsExistingRegularFile(path) ? path : std::string();
}

}  // namespace qv::schedule
