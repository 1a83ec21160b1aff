#include "app/timer_service.h"

#include <unistd.h>

#include "platform/localization.h"

namespace qv::app {

// Nobody watches a timer run: conflicts that would ask are skipped and errors do not stop it.
class TimerService::UnattendedProxy : public run::MainThreadProxy {
  public:
    run::ConflictReply AskReplace(const run::ConflictQuestion&) override {
        return {run::ConflictAnswer::Skip, false};
    }
    void ShowErrorAndStop(const std::string&, const std::string&) override {}
    bool AskSkipAndContinue(const std::string&, const std::string&) override { return true; }
    bool ConfirmDeletion(const std::string&) override { return false; }
};

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
    finished.exitStatus = c.stopped ? 3 : c.errors > 0 || !c.scanSucceeded ? 1 : 0;
    return finished;
}

bool TimerService::Tick(std::optional<FinishedTimerRun>* finished) {
    std::optional<FinishedTimerRun> ended = CollectFinishedRun();
    if (finished != nullptr) *finished = std::move(ended);
    return scheduler_.Tick();
}

void TimerService::StopTimerRun() {
    if (timerRunActive_) app_.runService().Stop();
}

std::optional<platform::RunLock> AcquireSchedulerLock(const platform::SupportPaths& paths,
                                                      const std::string& holder,
                                                      std::string* heldBy, std::string* error) {
    return platform::RunLock::TryAcquire(platform::RunLockFolder(paths), holder, heldBy, error,
                                         kSchedulerLockFileName);
}

bool IsBackgroundSchedulerRunning(const platform::SupportPaths& paths, std::string* heldBy) {
    std::string error;
    const std::string holder =
        "quorvel-gui, " + platform::GLS("process") + " " + std::to_string(::getpid());
    // Taken and released at once: only a refusal means someone else holds it.
    const std::optional<platform::RunLock> probe =
        AcquireSchedulerLock(paths, holder, heldBy, &error);
    return !probe && error.empty();
}

}  // namespace qv::app
