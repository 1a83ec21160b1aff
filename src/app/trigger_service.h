#pragma once
// The triggers wired to the run service: a triggered run starts unattended, as a timer's does
// (nothing asked, errors do not stop it, its log saved and saying what started it), and its end
// is told back. The window and `quorvel scheduler` each hold one beside their timers; only the
// holder of the scheduler lock should tick it.

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/main_app.h"
#include "app/unattended_proxy.h"
#include "platform/mount_table.h"
#include "platform/tree_watch.h"
#include "schedule/triggers.h"

namespace qv::app {

// A triggered run that has concluded.
struct FinishedTriggerRun {
    std::string sessionName;
    std::string reason;       // what started it ("volume /media/disk appeared")
    std::time_t started = 0;  // when, by the system clock
    RunConclusion conclusion;
    int exitStatus = 0;  // as `quorvel run` would end: 0, 1 errors, 3 stopped
};

class TriggerService : private schedule::TriggerLauncher {
  public:
    // The mount table and the news of changes are the system's unless given (tests give
    // fakes); the clock likewise.
    explicit TriggerService(MainApp& app,
                            std::unique_ptr<platform::MountTableSource> mounts = nullptr,
                            std::unique_ptr<platform::ChangeSource> changes = nullptr,
                            schedule::Triggers::Clock clock = {});
    ~TriggerService() override;
    TriggerService(const TriggerService&) = delete;
    TriggerService& operator=(const TriggerService&) = delete;

    schedule::Triggers& triggers() { return triggers_; }
    const schedule::Triggers& triggers() const { return triggers_; }
    // How a run starts when a front end shows it as its own (the window); without one it
    // starts here with nobody watching. Its end still comes through CollectFinishedRun.
    using RunStarter = std::function<StartResult(const RunRequest&)>;
    void SetRunStarter(RunStarter starter) { starter_ = std::move(starter); }
    // One look: first the end of a triggered run that has concluded (returned through
    // *finished), then the triggers'. True when a run was started.
    bool Tick(std::optional<FinishedTriggerRun>* finished = nullptr);
    // Concludes the triggered run once its worker has ended; nothing while it goes on or when
    // there is none. Call it often: the run lock is held until then.
    std::optional<FinishedTriggerRun> CollectFinishedRun();
    bool TriggerRunActive() const { return running_.has_value(); }
    // The run going on, while TriggerRunActive: its session and what started it.
    const FinishedTriggerRun* RunGoingOn() const { return running_ ? &*running_ : nullptr; }
    // Stops the triggered run (its end still comes through CollectFinishedRun). quitting:
    // because the program is told to end, which the run's log says.
    void StopTriggerRun(bool quitting = false);

  private:
    bool IsCopying() const override;
    bool DocumentTrusted() const override;
    bool StartTriggerRun(std::int64_t session, const std::string& reason,
                         std::string* why) override;

    MainApp& app_;
    UnattendedProxy proxy_;
    std::unique_ptr<platform::MountTableSource> mounts_;
    std::unique_ptr<platform::ChangeSource> changes_;
    schedule::Triggers triggers_;
    RunStarter starter_;
    std::optional<FinishedTriggerRun> running_;
};

}  // namespace qv::app
