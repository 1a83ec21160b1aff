#pragma once
// The scheduler wired to the run service: timer runs start unattended (nothing asked, errors
// do not stop, the log saved) and their end is reported back to the scheduler. The window and
// `quorvel scheduler` each hold one; only the holder of the scheduler lock should fire timers.

#include <functional>
#include <optional>
#include <string>

#include "app/main_app.h"
#include "app/unattended_proxy.h"
#include "platform/run_lock.h"
#include "schedule/scheduler.h"

namespace qv::app {

inline constexpr const char* kSchedulerLockFileName = "scheduler.lock";
// In the support folder: per session name, the due minute of the last execution fired, so
// that a scheduler started again (here or in another process) does not fire it twice.
inline constexpr const char* kFiredTimersFileName = "FiredTimers.plist";

// A timer run that has concluded: its entry (now Done) and what the run did.
struct FinishedTimerRun {
    schedule::ExecutionEntry entry;
    RunConclusion conclusion;
    int exitStatus = 0;  // as `quorvel run` would end: 0, 1 errors, 3 stopped
};

class TimerService : private schedule::TimerLauncher {
  public:
    // clock: the time the scheduler sees (tests set it); none for the system clock.
    explicit TimerService(MainApp& app, schedule::Scheduler::Clock clock = {});
    ~TimerService() override;
    TimerService(const TimerService&) = delete;
    TimerService& operator=(const TimerService&) = delete;

    schedule::Scheduler& scheduler() { return scheduler_; }
    const schedule::Scheduler& scheduler() const { return scheduler_; }
    // How a timer run starts when a front end shows it as its own (the window, with the
    // proxy of its console); without one, the run starts here with nobody watching. Either
    // way the request is unattended, and its end still comes through CollectFinishedRun.
    using RunStarter = std::function<StartResult(const RunRequest&)>;
    void SetRunStarter(RunStarter starter) { starter_ = std::move(starter); }
    // One tick: first the end of a timer run that has concluded (reported to the scheduler and
    // returned through *finished), then the scheduler's tick while it is enabled. True when a
    // run was started.
    bool Tick(std::optional<FinishedTimerRun>* finished = nullptr);
    // Concludes the timer run when its worker has ended; nothing while it goes on or when no
    // timer run exists. Call it often: the run lock is held until then.
    std::optional<FinishedTimerRun> CollectFinishedRun();
    bool TimerRunActive() const { return timerRunActive_; }
    // Stops the timer run (its end still comes through CollectFinishedRun). quitting: because
    // the program is told to end, which the run's log says.
    void StopTimerRun(bool quitting = false);

  private:
    bool IsCopying() const override;
    bool StartTimerRun(std::int64_t session, std::string* heldBy, std::string* why) override;
    schedule::FiredMinutes FiredBefore() const override;
    void RecordFired(const std::string& sessionName, const platform::LocalMinute& covered) override;

    MainApp& app_;
    std::unique_ptr<UnattendedProxy> proxy_;
    schedule::Scheduler scheduler_;
    RunStarter starter_;
    bool timerRunActive_ = false;
};

// Takes the scheduler lock (beside the run lock) for as long as the result lives; nothing when
// another scheduler holds it (*heldBy names it) or the lock failed (*error says why).
std::optional<platform::RunLock> AcquireSchedulerLock(const platform::SupportPaths& paths,
                                                      const std::string& holder,
                                                      std::string* heldBy, std::string* error);

}  // namespace qv::app
