#pragma once
// What happens around an unattended run that ends the application: the sync-and-quit countdown
// before it, and after any run of the window or the scheduler, shutting the machine down or
// quitting.

#include <optional>
#include <string>

#include "app/main_app.h"
#include "platform/login_manager.h"

namespace qv::app {

// The countdown before a sync-and-quit run. Time is read from a monotonic clock (seconds from
// any origin) given at each call: setting the system clock neither hurries nor holds it.
class SyncAndQuitCountdown {
  public:
    static constexpr double kSeconds = 10.0;

    // Starts counting; executedBy is run::kExecutedBySyncAndQuit or ...SyncAndLogout.
    void Start(int executedBy, double now);
    // The text to show at the start.
    std::string FirstComment() const;
    // At each tick: the text to show, or none when the time is up, and the run is to start
    // (the countdown then counts as executing).
    std::optional<std::string> Tick(double now);
    void Cancel();
    // The run the countdown started has ended.
    void RunEnded() { executing_ = false; }

    bool starting() const { return starting_; }    // counting down
    bool executing() const { return executing_; }  // its run is under way
    int executedBy() const { return executedBy_; }

  private:
    bool starting_ = false;
    bool executing_ = false;
    int executedBy_ = 0;
    double startedAt_ = 0;
};

enum class AfterRun { StayOpen, ShutDown, Quit };

// What follows a run that has concluded: shutting down when the preference asks for it, then
// quitting after a sync-and-quit run, and quitting when the user asked to during the run. A run
// the user stopped, or quit in the middle of, never shuts the machine down; a sync-and-quit run
// the user stopped leaves the application open.
AfterRun WhatAfterRun(bool prefShutDown, bool stopped, bool quitDuringRun, bool syncAndQuitRun);

// Shuts the machine down after a run: the template and the preferences are written first, as
// at every quit, then the login manager is asked. The reason it refused, or none.
std::optional<std::string> ShutDownAfterRun(MainApp& app, platform::LoginManager& login);

}  // namespace qv::app
