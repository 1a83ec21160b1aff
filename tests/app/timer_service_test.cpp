// The timer service over the application's runs: what it fired is remembered across processes,
// so that a scheduler started again within the minute does not fire the same execution twice.

#include "app/timer_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/civil_day.h"
#include "platform/file_io.h"
#include "sessions/settings_options.h"
#include "sessions/timer_editor.h"
#include "support/test_support.h"
#include "support/tree_fixture.h"

namespace qv::app {
namespace {

const platform::CivilDay kMonday{2030, 1, 7};

class TimerServiceTest : public test::IsolatedHomeTest {
  protected:
    // A process's application: its backup session fires at 08:55 and 09:00 on the Monday.
    std::unique_ptr<MainApp> Started() {
        auto app = std::make_unique<MainApp>(QV_RESOURCES_DIR);
        EXPECT_TRUE(app->Start().ok);
        app->document().mMainDict =
            test::TwoFolderDocument(tree.a(), tree.b(), sessions::kTaskBackup).mMainDict;
        plist::Value& timers = *app->document().GetSessionDict(0)->dictAt("timerDict");
        timers.set("timerOn", 1);
        for (std::size_t row : {0, 1}) {
            plist::Value& r = timers.arrayAt("timerArray")->array()[row];
            r.set("start", sessions::TimerDate(kMonday.day, kMonday.month, kMonday.year,
                                               row == 0 ? 8 : 9, row == 0 ? 55 : 0));
            r.set("valid", 1);
        }
        return app;
    }
    std::unique_ptr<TimerService> Service(MainApp& app) {
        auto service = std::make_unique<TimerService>(app, [this] { return now; });
        service->scheduler().SetFireAllSessions(true);
        service->scheduler().GetExecutiveTimerArray(false);
        service->scheduler().TimerSyncEnabled(true);
        return service;
    }
    void At(std::int64_t hour, std::int64_t minute, int seconds = 0) {
        now = platform::MomentOf({kMonday, hour * 60 + minute}) + seconds;
    }
    static void RunToTheEnd(TimerService& service) {
        while (!service.CollectFinishedRun()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    static std::vector<int> States(const TimerService& service) {
        std::vector<int> states;
        for (const auto& e : service.scheduler().executiveTimerArray()) states.push_back(e.state);
        return states;
    }

    test::TreeFixture tree;
    std::time_t now = 0;
};

TEST_F(TimerServiceTest, AServiceStartedAgainWithinTheMinuteDoesNotFireWhatTheFirstFired) {
    At(8, 55);
    {
        std::unique_ptr<MainApp> app = Started();
        std::unique_ptr<TimerService> first = Service(*app);
        ASSERT_TRUE(first->Tick());
        RunToTheEnd(*first);
    }
    // Another process, thirty seconds later: the 08:55 execution is listed as done.
    At(8, 55, 30);
    std::unique_ptr<MainApp> app = Started();
    std::unique_ptr<TimerService> second = Service(*app);
    EXPECT_EQ(States(*second), (std::vector<int>{schedule::kEntryDone, schedule::kEntryWait}));
    EXPECT_EQ(second->scheduler().NextTimer(),
              "Next Timer: 07 Jan 2030 - 09:00 (Default Sync Session)");
    EXPECT_FALSE(second->Tick());
    At(9, 0);
    ASSERT_TRUE(second->Tick());
    RunToTheEnd(*second);

    // A record that cannot be read stops nothing: the execution is simply not known as fired.
    test::WriteText(platform::JoinPath(app->paths().pathQV4AppSupp, kFiredTimersFileName),
                    "<plist>damaged");
    At(9, 0, 30);
    std::unique_ptr<TimerService> third = Service(*app);
    EXPECT_EQ(States(*third), (std::vector<int>{schedule::kEntryWait}));
    EXPECT_TRUE(third->Tick());
    RunToTheEnd(*third);
}

}  // namespace
}  // namespace qv::app
