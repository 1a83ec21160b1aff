// The sync-and-quit countdown and what follows a run.

#include "app/end_of_run.h"

#include <gtest/gtest.h>

#include "run/run_state.h"

namespace qv::app {
namespace {

TEST(SyncAndQuitCountdown, CountsTenSecondsOnItsOwnClockThenRunsOrIsCancelled) {
    SyncAndQuitCountdown countdown;
    countdown.Start(run::kExecutedBySyncAndQuit, 500.0);
    EXPECT_TRUE(countdown.starting());
    EXPECT_EQ(countdown.FirstComment(), "Starting Sync and Quit in 10 seconds...");
    // Ticks come a little late: each shows the whole seconds still to wait.
    const struct {
        double at;
        const char* shown;  // nullptr: the run starts
    } ticks[] = {
        {501.004, "Starting Sync And Quit in 9 seconds..."},
        {502.01, "Starting Sync And Quit in 8 seconds..."},
        {509.002, "Starting Sync And Quit in 1 seconds..."},
        {509.999, "Starting Sync And Quit in 1 seconds..."},
        {510.003, nullptr},
    };
    for (const auto& tick : ticks) {
        const std::optional<std::string> shown = countdown.Tick(tick.at);
        ASSERT_EQ(shown.has_value(), tick.shown != nullptr) << tick.at;
        if (shown) {
            EXPECT_EQ(*shown, tick.shown) << tick.at;
        }
    }
    EXPECT_FALSE(countdown.starting());
    EXPECT_TRUE(countdown.executing());
    EXPECT_EQ(countdown.executedBy(), run::kExecutedBySyncAndQuit);
    countdown.RunEnded();
    EXPECT_FALSE(countdown.executing());

    // Cancelled half way: nothing runs, whatever time passes.
    countdown.Start(run::kExecutedBySyncAndLogout, 0.0);
    ASSERT_TRUE(countdown.Tick(5.0).has_value());
    countdown.Cancel();
    EXPECT_FALSE(countdown.starting());
    EXPECT_FALSE(countdown.executing());
}

TEST(WhatAfterRun, ShutsDownOrQuitsOnlyAfterARunNobodyStopped) {
    const struct {
        bool shutDown, stopped, quit, syncAndQuit;
        AfterRun expected;
    } cases[] = {
        {false, false, false, false, AfterRun::StayOpen},
        {true, false, false, false, AfterRun::ShutDown},
        {true, true, false, false, AfterRun::StayOpen},  // Stop: no shut-down
        {true, true, true, false, AfterRun::Quit},       // quit mid-run: quit, no shut-down
        {true, false, false, true, AfterRun::ShutDown},  // shutting down is all that happens
        {false, false, false, true, AfterRun::Quit},
        {false, true, false, true, AfterRun::StayOpen},  // Stop keeps the window
        {false, true, true, false, AfterRun::Quit},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WhatAfterRun(c.shutDown, c.stopped, c.quit, c.syncAndQuit), c.expected)
            << c.shutDown << c.stopped << c.quit << c.syncAndQuit;
    }
}

}  // namespace
}  // namespace qv::app
