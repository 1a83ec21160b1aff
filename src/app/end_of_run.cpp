#include "app/end_of_run.h"

#include <cmath>

#include "platform/localization.h"
#include "platform/system_log.h"
#include "run/run_state.h"

namespace qv::app {

using platform::GLS;

void SyncAndQuitCountdown::Start(int executedBy, double now) {
    starting_ = true;
    executing_ = false;
    executedBy_ = executedBy;
    startedAt_ = now;
}

std::string SyncAndQuitCountdown::FirstComment() const {
    return platform::FormatText(GLS("Starting Sync and Quit in %d seconds..."),
                                {std::to_string(static_cast<int>(kSeconds))});
}

std::optional<std::string> SyncAndQuitCountdown::Tick(double now) {
    // The whole seconds still to wait, rounded up: 10, 9, ... 1, and the run on the first tick
    // at which 10 seconds have passed (ticks come a little late; rounded down, the run would
    // start after 9).
    const int left = static_cast<int>(std::ceil(kSeconds - (now - startedAt_)));
    if (left > 0) {
        return platform::FormatText(GLS("Starting Sync And Quit in %d seconds..."),
                                    {std::to_string(left)});
    }
    starting_ = false;
    executing_ = true;
    return std::nullopt;
}

void SyncAndQuitCountdown::Cancel() {
    starting_ = false;
    executing_ = false;
}

AfterRun WhatAfterRun(bool prefShutDown, bool stopped, bool quitDuringRun, bool syncAndQuitRun) {
    if (quitDuringRun) return AfterRun::Quit;
    if (stopped) return AfterRun::StayOpen;
    if (prefShutDown) return AfterRun::ShutDown;
    return syncAndQuitRun ? AfterRun::Quit : AfterRun::StayOpen;
}

std::optional<std::string> ShutDownAfterRun(MainApp& app, platform::LoginManager& login) {
    for (const std::string& problem : app.WriteTemplateAndPreferences()) {
        platform::SystemLog(problem);
    }
    std::string error;
    if (login.PowerOff(&error)) return std::nullopt;
    const std::string message = GLS("Can't shut down the computer:") + " " + error;
    platform::SystemLog(message);
    return message;
}

}  // namespace qv::app
