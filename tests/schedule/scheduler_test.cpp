#include "schedule/scheduler.h"

#include <gtest/gtest.h>

#include "sessions/timer_editor.h"
#include "sessions/timer_options.h"
#include "support/test_support.h"

namespace qv::schedule {
namespace {

using platform::CivilDay;

class FakeLauncher : public TimerLauncher {
  public:
    bool IsCopying() const override { return copying; }
    bool StartTimerRun(std::int64_t session, std::string* heldBy, std::string*) override {
        if (!holder.empty()) {
            *heldBy = holder;
            return false;
        }
        started.push_back(session);
        copying = true;
        return true;
    }
    void RecordFired(const std::string& name, const platform::LocalMinute& covered) override {
        recorded.emplace_back(name, covered);
    }
    bool copying = false;
    std::string holder;  // another process's run holds the run lock
    std::vector<std::int64_t> started;
    std::vector<std::pair<std::string, platform::LocalMinute>> recorded;
};

class SchedulerTest : public ::testing::Test {
  protected:
    SchedulerTest() : doc_(dir_ / "template.plist") {
        env_.Set("LC_ALL", "en_US.UTF-8");
        doc_.mMainDict = sessions::SessionDocument::NewTemplate();
        doc_.mSessionIndex = doc_.SessionCount() + 1;  // "All Sessions"
    }
    void AddRow(std::int64_t session, std::size_t index, CivilDay day, std::int64_t minute,
                plist::Dict keys = {}) {
        plist::Value& timers = *doc_.GetSessionDict(session)->dictAt("timerDict");
        timers.set("timerOn", 1);
        plist::Value& row = timers.arrayAt("timerArray")->array()[index];
        row.set("start",
                sessions::TimerDate(day.day, day.month, day.year, minute / 60, minute % 60));
        row.set("valid", 1);
        for (auto& [key, value] : keys) row.set(key, value);
    }
    void At(CivilDay day, std::int64_t hour, std::int64_t minute, int seconds = 0) {
        now_ = platform::MomentOf({day, hour * 60 + minute}) + seconds;
    }
    // The run of the entry fired last ends.
    void Conclude(std::int64_t errors, const std::string& log = {}) {
        launcher_.copying = false;
        scheduler_.SchedulingTimerDone(errors, log);
    }
    std::vector<int> States() const {
        std::vector<int> states;
        for (const auto& e : scheduler_.executiveTimerArray()) states.push_back(e.state);
        return states;
    }

    test::TempDir dir_;
    test::ScopedEnv env_;
    sessions::SessionDocument doc_;
    plist::Value prefs_ = plist::Dict{};
    FakeLauncher launcher_;
    std::time_t now_ = 0;
    Scheduler scheduler_{doc_, prefs_, launcher_, [this] { return now_; }};
};

TEST_F(SchedulerTest, ADayOfTwoSessionsWithAFailingRunAndEntriesThatWait) {
    const CivilDay monday{2030, 1, 7}, tuesday{2030, 1, 8};
    // Sync: 09:00, 13:00 and 17:00 each day; Backup: once at 10:00 and once at 13:00.
    AddRow(0, 0, monday, 9 * 60,
           {{"intervalOn", 1},
            {"intervalHours", 4},
            {"endOn", 1},
            {"end", sessions::TimerDate(7, 1, 2030, 17, 0)}});
    AddRow(1, 0, monday, 10 * 60);
    AddRow(1, 5, monday, 13 * 60);
    const std::string log = dir_ / "QVLog_2030_01_07_09_00_00.txt";
    test::WriteText(log, "log");

    At(monday, 8, 0);
    scheduler_.ChooseHorizon(2);
    scheduler_.TimerSyncEnabled(true);
    ASSERT_EQ(scheduler_.executiveTimerArray().size(), 8u);  // tomorrow's three listed too
    EXPECT_EQ(scheduler_.executiveTimerArray()[0].nextExe, 1);
    EXPECT_EQ(scheduler_.timerToolTip(), "Next Timer: 07 Jan 2030 - 09:00 (Default Sync Session)");
    // Entries of one minute keep document order: Sync's 13:00 before Backup's.
    EXPECT_EQ(scheduler_.executiveTimerArray()[2].session, 0);
    EXPECT_EQ(scheduler_.executiveTimerArray()[3].session, 1);
    EXPECT_EQ(scheduler_.executiveTimerArray()[3].row, 5u);

    At(monday, 8, 59);
    EXPECT_FALSE(scheduler_.Tick());
    At(monday, 9, 0);
    EXPECT_TRUE(scheduler_.Tick());
    EXPECT_TRUE(scheduler_.blocked());
    EXPECT_EQ(scheduler_.executiveTimerArray()[0].state, kEntryRun);
    At(monday, 9, 0, 10);
    EXPECT_FALSE(scheduler_.Tick());           // the run goes on
    scheduler_.GetExecutiveTimerArray(false);  // another session chosen meanwhile
    EXPECT_EQ(scheduler_.currentExecutiveTimerIndex(), 0);
    Conclude(3, log);  // and fails
    EXPECT_FALSE(scheduler_.blocked());
    EXPECT_EQ(scheduler_.executiveTimerArray()[0].errors, 3);
    EXPECT_EQ(scheduler_.LogToOpen(0), log);
    EXPECT_EQ(scheduler_.timerToolTip(),
              "Next Timer: 07 Jan 2030 - 10:00 (Default Backup Session)");

    // Another process's run holds the lock at 10:00: tried again until it is free.
    At(monday, 10, 0);
    launcher_.holder = "quorvel-gui, process 99";
    EXPECT_FALSE(scheduler_.Tick());
    launcher_.holder.clear();
    At(monday, 10, 5);
    EXPECT_TRUE(scheduler_.Tick());
    Conclude(0);
    EXPECT_EQ(scheduler_.LogToOpen(1), "");

    // A user's run covers 13:00: both 13:00 entries fire after it, one per tick.
    At(monday, 12, 59);
    launcher_.copying = true;
    At(monday, 13, 0);
    EXPECT_FALSE(scheduler_.Tick());
    launcher_.copying = false;
    At(monday, 13, 30);
    EXPECT_TRUE(scheduler_.Tick());
    Conclude(0);
    At(monday, 13, 30, 10);
    EXPECT_TRUE(scheduler_.Tick());
    Conclude(0);
    EXPECT_EQ(launcher_.started, (std::vector<std::int64_t>{0, 1, 0, 1}));

    // Another run lasts from before 17:00 until after midnight: 17:00 never fires, and the
    // first tick of Tuesday drops it while the Done entries stay.
    launcher_.copying = true;
    At(monday, 17, 0);
    EXPECT_FALSE(scheduler_.Tick());
    launcher_.copying = false;
    At(tuesday, 0, 0, 5);
    EXPECT_FALSE(scheduler_.Tick());
    EXPECT_EQ(States(), (std::vector<int>{1, 1, 1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(scheduler_.executiveTimerArray()[4].startDate, (platform::LocalMinute{tuesday, 540}));
    EXPECT_EQ(launcher_.started.size(), 4u);

    // Only Done entries may be deleted.
    std::size_t select = 99;
    EXPECT_FALSE(scheduler_.DeleteTimerRows({0, 4}, &select));
    EXPECT_TRUE(scheduler_.DeleteTimerRows({1, 0}, &select));
    EXPECT_EQ(select, 0u);
    EXPECT_EQ(scheduler_.executiveTimerArray().size(), 8u);
}

TEST_F(SchedulerTest, ScopePanelsAndSyncAndQuitKeepTimersFromFiring) {
    const CivilDay day{2030, 1, 7};
    AddRow(0, 0, day, 10 * 60);
    AddRow(1, 0, day, 10 * 60);
    AddRow(1, 1, day, 13 * 60);
    EXPECT_TRUE(Scheduler::IsTimerOnInSomeSession(doc_));

    // One session current: only its entries.
    doc_.mSessionIndex = 1;
    At(day, 9, 0);
    scheduler_.GetExecutiveTimerArray(false);
    scheduler_.TimerSyncEnabled(true);
    ASSERT_EQ(scheduler_.executiveTimerArray().size(), 2u);
    EXPECT_EQ(scheduler_.timerToolTip(), "Next Timer: 07 Jan 2030 - 10:00");

    // An option panel is on screen at 10:00; back at the console a minute later the list is
    // rebuilt from that minute on, and the 10:00 entry is gone.
    bool console = false;
    scheduler_.SetConsoleShownCheck([&] { return console; });
    At(day, 10, 0);
    EXPECT_FALSE(scheduler_.Tick());
    At(day, 10, 1);
    console = true;
    scheduler_.GetExecutiveTimerArray(false);
    ASSERT_EQ(scheduler_.executiveTimerArray().size(), 1u);
    EXPECT_FALSE(scheduler_.Tick());

    // Sync-and-quit: an empty list and no tick.
    prefs_.set("prefSyncAndQuit", 1);
    At(day, 13, 0);
    scheduler_.GetExecutiveTimerArray(false);
    EXPECT_TRUE(scheduler_.executiveTimerArray().empty());
    EXPECT_FALSE(scheduler_.tickEnabled());
    EXPECT_FALSE(scheduler_.Tick());
    EXPECT_TRUE(launcher_.started.empty());
}

// Sync-and-quit set while a timer run goes on keeps that run's entry, whose end unblocks the
// list; a session without timers does not hide another's.
TEST_F(SchedulerTest, SyncAndQuitDuringARunStillEndsItAndSessionsWithoutTimersAreSkipped) {
    const CivilDay day{2030, 1, 7};
    AddRow(1, 0, day, 10 * 60);
    doc_.GetSessionDict(0)->remove("timerDict");
    EXPECT_TRUE(Scheduler::IsTimerOnInSomeSession(doc_));
    doc_.mSessionIndex = 1;
    At(day, 9, 0);
    scheduler_.GetExecutiveTimerArray(false);
    scheduler_.TimerSyncEnabled(true);
    At(day, 10, 0);
    ASSERT_TRUE(scheduler_.Tick());
    EXPECT_TRUE(scheduler_.blocked());
    prefs_.set("prefSyncAndQuit", 1);
    scheduler_.GetExecutiveTimerArray(false);
    scheduler_.SchedulingTimerDone(0, "");
    EXPECT_FALSE(scheduler_.blocked());
}

// The command's scheduler, which fires every session and is looked at by nobody, drops the
// entries of earlier days at a change of day.
TEST_F(SchedulerTest, ASchedulerFiringAllSessionsKeepsNoEarlierDays) {
    const CivilDay day{2030, 1, 7};
    AddRow(1, 0, day, 10 * 60, {{"intervalOn", 1}, {"intervalDays", 1}});
    scheduler_.SetFireAllSessions(true);
    At(day, 9, 0);
    scheduler_.GetExecutiveTimerArray(false);
    scheduler_.TimerSyncEnabled(true);
    At(day, 10, 0);
    ASSERT_TRUE(scheduler_.Tick());
    Conclude(0);
    At({2030, 1, 8}, 9, 0);
    EXPECT_FALSE(scheduler_.Tick());
    ASSERT_EQ(scheduler_.executiveTimerArray().size(), 1u);
    EXPECT_EQ(scheduler_.executiveTimerArray().front().startDate.day.day, 8);
}

TEST_F(SchedulerTest, ExecutionsDueWhileASessionCannotRunAreFoldedIntoOneRun) {
    const CivilDay day{2030, 1, 7};
    // Sync every minute from 08:00; Backup at 08:02 and, from three rows, at 08:10.
    AddRow(0, 0, day, 8 * 60, {{"intervalOn", 1}, {"intervalMinutes", 1}});
    AddRow(1, 0, day, 8 * 60 + 2);
    for (std::size_t row : {1, 2, 3}) AddRow(1, row, day, 8 * 60 + 10);
    At(day, 7, 59);
    scheduler_.GetExecutiveTimerArray(false);
    scheduler_.TimerSyncEnabled(true);

    // Another process's run holds the lock from 08:00 until after 08:03.
    launcher_.holder = "quorvel-gui, process 99";
    for (int minute = 0; minute <= 3; ++minute) {
        At(day, 8, minute);
        EXPECT_FALSE(scheduler_.Tick());
    }
    launcher_.holder.clear();
    At(day, 8, 3, 10);
    EXPECT_TRUE(scheduler_.Tick());  // Sync once, for 08:00 to 08:03
    // 08:00, 08:01, 08:02 (Sync, then Backup), 08:03, 08:04, ...
    const std::vector<int> states = States();
    EXPECT_EQ(std::vector<int>(states.begin(), states.begin() + 6),
              (std::vector<int>{kEntryRun, kEntrySkipped, kEntrySkipped, kEntryWait, kEntrySkipped,
                                kEntryWait}));
    EXPECT_EQ(scheduler_.executiveTimerArray()[3].session, 1);
    Conclude(0);
    EXPECT_EQ(scheduler_.timerToolTip(),
              "Next Timer: 07 Jan 2030 - 08:02 (Default Backup Session)");
    At(day, 8, 3, 20);
    EXPECT_TRUE(scheduler_.Tick());  // Backup's 08:02, still due; Sync is not fired again
    Conclude(0);
    At(day, 8, 3, 30);
    EXPECT_FALSE(scheduler_.Tick());
    At(day, 8, 4);
    EXPECT_TRUE(scheduler_.Tick());
    Conclude(0);

    // A user's run from 08:05 to 08:10: Sync runs once for its six, Backup once for its three.
    launcher_.copying = true;
    At(day, 8, 10);
    EXPECT_FALSE(scheduler_.Tick());
    launcher_.copying = false;
    EXPECT_TRUE(scheduler_.Tick());
    Conclude(0);
    At(day, 8, 10, 10);
    EXPECT_TRUE(scheduler_.Tick());
    Conclude(0);
    At(day, 8, 10, 20);
    EXPECT_FALSE(scheduler_.Tick());
    EXPECT_EQ(launcher_.started, (std::vector<std::int64_t>{0, 1, 0, 0, 1}));
    // What each run covered, for a scheduler started again within the minute.
    using Fired = std::pair<std::string, platform::LocalMinute>;
    EXPECT_EQ(launcher_.recorded, (std::vector<Fired>{{"Default Sync Session", {day, 483}},
                                                      {"Default Backup Session", {day, 482}},
                                                      {"Default Sync Session", {day, 484}},
                                                      {"Default Sync Session", {day, 490}},
                                                      {"Default Backup Session", {day, 490}}}));
}

TEST_F(SchedulerTest, AnEntryInTheHourTheClockSkipsFiresAfterTheJump) {
    test::ScopedTimeZone paris("Europe/Paris");
    const CivilDay day{2027, 3, 28};
    AddRow(0, 0, {2027, 3, 1}, 150, {{"intervalOn", 1}, {"intervalDays", 1}});
    At(day, 1, 59);
    scheduler_.GetExecutiveTimerArray(false);
    scheduler_.TimerSyncEnabled(true);
    ASSERT_EQ(scheduler_.executiveTimerArray().size(), 1u);
    EXPECT_FALSE(scheduler_.Tick());
    now_ += 60;  // the clock shows 03:00
    EXPECT_TRUE(scheduler_.Tick());
}

}  // namespace
}  // namespace qv::schedule
