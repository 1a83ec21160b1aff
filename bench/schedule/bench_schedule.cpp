// Times the build of the scheduler's execution list for the two documents a user may
// realistically have at the extremes: one row repeating every minute since 2004, and many
// sessions full of hourly rows.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/civil_day.h"
#include "schedule/scheduler.h"
#include "sessions/session_document.h"
#include "sessions/timer_editor.h"

namespace {

using namespace qv;

class NoRuns : public schedule::TimerLauncher {
  public:
    bool IsCopying() const override { return false; }
    bool StartTimerRun(std::int64_t, std::string*, std::string*) override { return false; }
};

void SetRow(sessions::SessionDocument& doc, std::int64_t session, std::size_t index,
            const char* intervalKey) {
    plist::Value& timers = *doc.GetSessionDict(session)->dictAt("timerDict");
    timers.set("timerOn", 1);
    plist::Value& row = timers.arrayAt("timerArray")->array()[index];
    row.set("start", sessions::TimerDate(1, 1, 2004, 0, static_cast<std::int64_t>(index)));
    row.set("valid", 1);
    row.set("intervalOn", 1);
    row.set(intervalKey, 1);
}

// Builds the list `repeats` times; prints the entries and the best and median times.
void Measure(const char* name, sessions::SessionDocument& doc, std::int64_t days, int repeats) {
    doc.mSessionIndex = doc.SessionCount() + 1;  // "All Sessions"
    const plist::Value prefs = plist::Dict{};
    NoRuns launcher;
    // Midnight, so that the first day counts whole.
    const std::time_t midnight = platform::MomentOf({{2026, 12, 7}, 0});
    std::vector<double> ms;
    std::size_t entries = 0;
    for (int i = 0; i < repeats; ++i) {
        schedule::Scheduler scheduler(doc, prefs, launcher, [=] { return midnight; });
        const auto start = std::chrono::steady_clock::now();
        scheduler.ChooseHorizon(days);
        const auto end = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        entries = scheduler.executiveTimerArray().size();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s %8zu entries  best %7.2f ms  median %7.2f ms\n", name, entries, ms.front(),
                ms[ms.size() / 2]);
}

}  // namespace

int main() {
    sessions::SessionDocument oneRow("/nonexistent/template.plist");
    oneRow.mMainDict = sessions::SessionDocument::NewTemplate();
    SetRow(oneRow, 0, 0, "intervalMinutes");
    Measure("1 row every minute since 2004, 7 days", oneRow, 7, 11);

    sessions::SessionDocument many("/nonexistent/template.plist");
    many.mMainDict =
        plist::Dict{{"fileVersion", 420}, {"sessionsArray", plist::Array{}}, {"sessionIndex", 0}};
    for (int s = 0; s < 20; ++s) {
        sessions::SessionDocument::AddSession(2, "Session " + std::to_string(s), many.mMainDict);
        for (std::size_t r = 0; r < 32; ++r) SetRow(many, s, r, "intervalHours");
    }
    Measure("20 sessions x 32 hourly rows since 2004, 7 days", many, 7, 11);
    return 0;
}
