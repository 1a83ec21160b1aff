#include "app/timer_service.h"

#include <unistd.h>

#include <cstdio>

#include "app/unattended_proxy.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/system_log.h"
#include "sessions/plist_codec.h"

namespace qv::app {

namespace {

std::string FiredTimersFile(const platform::SupportPaths& paths) {
    return platform::JoinPath(paths.pathQV4AppSupp, kFiredTimersFileName);
}

// "2030-01-07T08:55", as schedule::IsoMinute writes it.
std::optional<platform::LocalMinute> ParseIsoMinute(const std::string& text) {
    long long y = 0, mo = 0, d = 0, h = 0, mi = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%4lld-%2lld-%2lldT%2lld:%2lld%c", &y, &mo, &d, &h, &mi, &end) !=
            5 ||
        mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || h < 0 || mi < 0) {
        return std::nullopt;
    }
    return platform::LocalMinute{{y, mo, d}, h * 60 + mi};
}

// What the file records; a file missing, unreadable or damaged records nothing: at worst an
// execution fires a second time, which is better than timers that stop firing.
schedule::FiredMinutes ReadFiredTimers(const platform::SupportPaths& paths) {
    schedule::FiredMinutes fired;
    const plist::ReadResult file = plist::ReadFile(FiredTimersFile(paths));
    if (!file.value || !file.value->isDict()) return fired;
    for (const auto& [name, value] : file.value->dict()) {
        if (std::optional<platform::LocalMinute> minute = ParseIsoMinute(value.str())) {
            fired.emplace(name, *minute);
        }
    }
    return fired;
}

}  // namespace

TimerService::TimerService(MainApp& app, schedule::Scheduler::Clock clock)
    : app_(app),
      proxy_(std::make_unique<UnattendedProxy>()),
      scheduler_(app.document(), app.preferences().mPrefDict, *this, std::move(clock)) {}

TimerService::~TimerService() {
    if (!timerRunActive_) return;
    app_.runService().Stop();
    app_.runService().Conclude();
}

bool TimerService::IsCopying() const { return app_.runService().IsActive(); }

bool TimerService::StartTimerRun(std::int64_t session, std::string* heldBy, std::string* why) {
    RunRequest request;
    request.executedBy = run::kExecutedByTimer;
    request.mayAsk = false;
    request.sessionIndex = session;
    request.saveLog = true;
    const StartResult started =
        starter_ ? starter_(request) : app_.runService().Start(request, *proxy_);
    if (!started.started) {
        *heldBy = started.heldBy;
        *why = started.message;
        return false;
    }
    timerRunActive_ = true;
    return true;
}

schedule::FiredMinutes TimerService::FiredBefore() const { return ReadFiredTimers(app_.paths()); }

void TimerService::RecordFired(const std::string& sessionName,
                               const platform::LocalMinute& covered) {
    if (!plist::CanStoreText(sessionName)) return;
    // Only the day's records matter: those of other days go, so that the file stays small.
    plist::Value file = plist::Dict{};
    for (const auto& [name, minute] : ReadFiredTimers(app_.paths())) {
        if (minute.day == covered.day) file.set(name, schedule::IsoMinute(minute));
    }
    file.set(sessionName, schedule::IsoMinute(covered));
    std::string reason;
    platform::WriteResult written;
    if (app_.paths().EnsureSupportFolder(&reason)) {
        platform::AtomicWriteOptions options;
        options.followLink = false;
        options.removeLeftovers = true;
        written = plist::WriteXmlFile(FiredTimersFile(app_.paths()), file, options);
        reason = written.reason;
    }
    // The run goes on: only a restart within the minute would fire it again.
    if (!written.ok) {
        platform::SystemLog("Can't record the timer fired for " + sessionName + ": " + reason);
    }
}

std::optional<FinishedTimerRun> TimerService::CollectFinishedRun() {
    if (!timerRunActive_ || !app_.runService().WaitFor(std::chrono::milliseconds(0))) {
        return std::nullopt;
    }
    FinishedTimerRun finished;
    finished.conclusion = app_.runService().Conclude();
    timerRunActive_ = false;
    const RunConclusion& c = finished.conclusion;
    const std::int64_t index = scheduler_.currentExecutiveTimerIndex();
    scheduler_.SchedulingTimerDone(c.errors, c.logSaved ? c.pathLogFile : std::string());
    if (index >= 0)
        finished.entry = scheduler_.executiveTimerArray()[static_cast<std::size_t>(index)];
    finished.exitStatus = ExitStatusOf(c);
    return finished;
}

bool TimerService::Tick(std::optional<FinishedTimerRun>* finished) {
    std::optional<FinishedTimerRun> ended = CollectFinishedRun();
    if (finished != nullptr) *finished = std::move(ended);
    return scheduler_.Tick();
}

void TimerService::StopTimerRun(bool quitting) {
    if (timerRunActive_) app_.runService().Stop(quitting);
}

std::optional<platform::RunLock> AcquireSchedulerLock(const platform::SupportPaths& paths,
                                                      const std::string& holder,
                                                      std::string* heldBy, std::string* error) {
    return platform::RunLock::TryAcquire(platform::RunLockFolder(paths), holder, heldBy, error,
                                         kSchedulerLockFileName);
}

}  // namespace qv::app
