// A run as a whole: which tasks it scans, what it records in the log, when it copies, how a
// stop at any point ends it, and the worker thread it runs on.

#include "engine/run_engine.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/tree_fixture.h"

namespace qv::engine {
namespace {

using test::Hook;
using Lines = std::vector<std::string>;

// Counts the copies a run asks for and remembers the plan it was given; each task's copy ends
// at once, as an executor with nothing to do ends it.
class RecordingExecutor : public run::CopyExecutor {
  public:
    void MainCopy(run::RunState& state, run::CopyHooks& hooks) override {
        ++calls;
        plan = test::FlattenPlan(state);
        for (run::SessionLog& session : state.logSessionArray) {
            for (run::TaskLog& task : session.logTaskArray) {
                hooks.PurgeBeforeCopyOneTask();
                hooks.PurgeAfterCopyOneTask(task);
            }
        }
    }
    int calls = 0;
    Lines plan;
};

// A run over the fixture's folders A and B; C and D serve the second session or further rows.
class RunEngineTest : public ::testing::Test {
  protected:
    RunEngineTest() : doc(test::TwoFolderDocument(tree.a(), tree.b(), sessions::kTaskBackup)) {
        test::SetOption(doc, 1, "consoleDict", "topFolder", tree.path("C"));
        test::SetOption(doc, 1, "consoleDict", "bottomFolder", tree.path("D"));
        tree.Build({"A/a", "C/c", "D/"});
    }

    RunEngine& MakeEngine(RunOptions options = {}) {
        options.takeRecord = [this](run::RunState&) { ++records; };
        engine = std::make_unique<RunEngine>(doc, prefs, proxy, index, executor, tw, options);
        return *engine;
    }
    const run::RunState& Run(RunOptions options = {}) {
        MakeEngine(options).ExecuteSyncBackup();
        return engine->state();
    }
    void SetMultiRow(std::size_t row, const std::string& source, const std::string& dest) {
        test::SetOption(doc, 0, "multiDict", "multiOn", 1);
        plist::Value* rows = doc.GetSessionDict(0)->dictAt("multiDict")->arrayAt("multiArray");
        rows->array().at(row).set("source", source);
        rows->array().at(row).set("destination", dest);
    }
    // Nothing was copied and the top folders keep no backup date.
    void ExpectNothingDone() {
        EXPECT_EQ(executor.calls, 0);
        EXPECT_EQ(tree.BackupDate("A"), -1);
        EXPECT_EQ(tree.BackupDate("B"), -1);
    }

    test::TreeFixture tree;
    sessions::SessionDocument doc;
    plist::Value prefs = plist::Dict{};
    test::FakeProxy proxy;
    NoExactSyncIndex index;
    RecordingExecutor executor;
    items::TWUtilities tw;
    std::unique_ptr<RunEngine> engine;
    int records = 0;  // the records taken for the log
};

TEST_F(RunEngineTest, CompletedRunCopiesThePlanAndStampsTheTopFolders) {
    const run::RunState& s = Run();
    EXPECT_EQ(executor.calls, 1);
    EXPECT_EQ(executor.plan, Lines{"CopyAtoB a -> a"});
    EXPECT_EQ(proxy.calls(Hook::PurgeBeforeMainCopy), 1);
    EXPECT_EQ(records, 1);
    EXPECT_EQ(proxy.calls(Hook::ConcludeWholeSyncBackup), 1);
    EXPECT_FALSE(s.mIsCopying);
    if (!tree.HasUserXattrs()) GTEST_SKIP() << "no user xattrs: backup dates cannot be stamped";
    EXPECT_EQ(tree.BackupDate("A"), s.totals.gStartSyncDateTimeUTC);
    EXPECT_EQ(tree.BackupDate("B"), s.totals.gStartSyncDateTimeUTC);
}

TEST_F(RunEngineTest, MissingSourceFolderFailsValidationAndNothingIsCopied) {
    test::SetOption(doc, 0, "consoleDict", "topFolder", tree.path("missing"));
    const run::RunState& s = Run();
    const std::string message = "Cannot find the source folder:\r\"" + tree.path("missing") + "\"";
    ASSERT_EQ(proxy.errors().size(), 1u);
    EXPECT_EQ(proxy.errors()[0].rfind(message, 0), 0u) << proxy.errors()[0];
    EXPECT_EQ(s.logSessionArray.at(0).logTaskArray.at(0).gDetailedLogText, "√ " + message + "\r");
    EXPECT_EQ(s.totals.gGlobalError, 1);
    EXPECT_EQ(records, 1);
    EXPECT_EQ(executor.calls, 0);
    // B was not brought into step: its backup date must not say it was.
    EXPECT_EQ(tree.BackupDate("B"), -1);
}

TEST_F(RunEngineTest, MultipleListRunsOneTaskPerValidRow) {
    tree.Build({"E/e1", "E/e2", "F/"});
    SetMultiRow(0, tree.a(), tree.b());
    SetMultiRow(2, tree.path("E"), tree.path("F"));  // row 1 stays empty
    RunOptions options;
    options.scanOnly = true;
    const run::RunState& s = Run(options);
    const run::SessionLog& log = s.logSessionArray.at(0);
    ASSERT_TRUE(log.executiveMultiArray.has_value());
    ASSERT_EQ(log.executiveMultiArray->size(), 2u);
    ASSERT_EQ(log.logTaskArray.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(log.logTaskArray[i].taskIndex, static_cast<std::int64_t>(i));
        EXPECT_EQ(log.logTaskArray[i].gSourceFolder, (*log.executiveMultiArray)[i].source);
        EXPECT_EQ(log.logTaskArray[i].gDestFolder, (*log.executiveMultiArray)[i].destination);
    }
    ASSERT_EQ(s.plan.taskRootList.size(), 2u);
    EXPECT_EQ(test::FlattenPlan(s.plan.taskRootList[1]),
              (Lines{"CopyAtoB e1 -> e1", "CopyAtoB e2 -> e2"}));
    EXPECT_EQ(s.totals.gItemsToDoTotal, 3);
}

// A row whose folder is missing is that row's error; the other rows are done whether the bad
// row comes before or after them.
TEST_F(RunEngineTest, MultipleListRowThatFailsItsChecksDoesNotHoldBackTheOthers) {
    for (const std::size_t badRow : {0u, 1u}) {
        SCOPED_TRACE(badRow);
        SetMultiRow(badRow, tree.path("missing"), tree.path("F"));
        SetMultiRow(1 - badRow, tree.a(), tree.b());
        const std::size_t errorsBefore = proxy.errors().size();
        const run::RunState& s = Run();
        EXPECT_TRUE(s.totals.gScanSucceeded);
        EXPECT_EQ(executor.plan, Lines{"CopyAtoB a -> a"});
        EXPECT_EQ(proxy.errors().size(), errorsBefore + 1);
        const auto& tasks = s.logSessionArray.at(0).logTaskArray;
        ASSERT_EQ(tasks.size(), 2u);
        EXPECT_FALSE(tasks[badRow].scanned);
        EXPECT_TRUE(tasks[1 - badRow].scanned);
    }
}

// Every task is scanned before any is copied: in an exact backup a later task may not copy
// into a folder an earlier one copies into or from (whatever the document says); reading what
// an earlier task wrote is a chain and goes on, and plain backups may share a destination.
TEST_F(RunEngineTest, ALaterTaskCopyingWhereAnEarlierExactBackupCopiesIsAnErrorOfThatTask) {
    tree.Build({"C/c", "D/", "B/b", "A/in/"});
    const struct {
        std::string src2, dst2;
        bool exact, refused;
    } cases[] = {
        {tree.path("C"), tree.b(), true, true},          // two tasks into B
        {tree.path("C"), tree.a() + "/in", true, true},  // into the first task's source
        {tree.b(), tree.path("D"), true, false},         // B read after being written
        {tree.path("C"), tree.b(), false, false},        // plain backups adding to B
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.src2 + " " + c.dst2);
        test::SetOption(doc, 0, "settingsDict", "settExact", c.exact ? 1 : 0);
        SetMultiRow(0, tree.a(), tree.b());
        SetMultiRow(1, c.src2, c.dst2);
        const std::size_t errorsBefore = proxy.errors().size();
        RunOptions planOnly;
        planOnly.scanOnly = true;
        const run::RunState& s = Run(planOnly);
        EXPECT_EQ(proxy.errors().size(), errorsBefore + (c.refused ? 1 : 0));
        EXPECT_EQ(s.plan.taskRootList.size(), c.refused ? 1u : 2u);
        EXPECT_EQ(s.session.gTotMultiDone, c.refused ? 1 : 2);
    }
}

TEST_F(RunEngineTest, MultipleListWithoutValidRowStillLogsTheSession) {
    SetMultiRow(0, tree.a(), "");
    const run::RunState& s = Run();
    const run::SessionLog& log = s.logSessionArray.at(0);
    EXPECT_TRUE(log.logTaskArray.empty());
    ASSERT_TRUE(log.executiveMultiArray.has_value());
    EXPECT_TRUE(log.executiveMultiArray->empty());
    EXPECT_EQ(executor.calls, 1);  // the copy runs, with nothing to do
    EXPECT_TRUE(executor.plan.empty());
}

// The sub-folder a session writes into: made when its name is usable, an error of the task
// (never a silent skip) when it is not.
TEST_F(RunEngineTest, SubFolderOfTheDestinationIsMadeOrItsNameIsAnError) {
    struct Case {
        std::int64_t kind;
        const char* pattern;
        const char* folder;  // the sub-folder of B the task copies into, or "" for an error
        const char* error;
    };
    const Case cases[] = {
        // The failures first: a failed task must not stamp A, which a success would have.
        {0, "", "", "The name of the destination sub-folder is empty."},
        {0, "'..'", "", "A destination sub-folder cannot be named \"..\"."},
        {7, "kSrc", "", "The name of the destination sub-folder is empty."},
        {1, "", "A", ""},
        {0, "'x/y' kSrc", "x:y A", ""},  // "/" names one folder, not two
    };
    for (const Case& c : cases) {
        test::SetOption(doc, 0, "settingsDict", "settCreateDestFolder", 1);
        test::SetOption(doc, 0, "settingsDict", "settCreateDestFolderNameKind", c.kind);
        test::SetOption(doc, 0, "settingsDict", "settCreateDestFolderCustomNameFormat", c.pattern);
        RunOptions options;
        options.sessionIndex = 0;
        const run::RunState& s = Run(options);
        const run::TaskLog& task = s.logSessionArray.at(0).logTaskArray.at(0);
        if (*c.error == '\0') {
            EXPECT_EQ(s.totals.gGlobalError, 0) << c.pattern;
            EXPECT_EQ(task.gDestFolder, tree.path(std::string("B/") + c.folder));
            EXPECT_TRUE(platform::ItemExists(tree.path(std::string("B/") + c.folder)));
            EXPECT_EQ(executor.plan, Lines{"CopyAtoB a -> a"}) << c.pattern;
        } else {
            const std::string message =
                "Can't make the sub-folder of the destination \"" + tree.b() + "\". " + c.error;
            EXPECT_EQ(s.totals.gGlobalError, 1) << c.pattern;
            EXPECT_EQ(s.totals.gErrorMessages, Lines{message});
            EXPECT_EQ(task.gDetailedLogText, "√ " + message + "\r");
            EXPECT_EQ(task.gDestFolder, tree.b());
            EXPECT_FALSE(task.walked);
            EXPECT_TRUE(executor.plan.empty()) << c.pattern;
            EXPECT_EQ(tree.BackupDate("A"), -1);
        }
    }
}

TEST_F(RunEngineTest, StopBetweenSessionsEndsTheRunWithoutCopying) {
    proxy.onHook = [this](Hook hook) {  // the Stop button, as the second session begins
        if (hook == Hook::PurgeBeforeScanOneSession && proxy.calls(hook) == 2) {
            engine->TaskExecuteSyncOrBackup(run::kExecutedByUser, true);
        }
    };
    RunOptions options;
    options.allSessions = true;
    const run::RunState& s = Run(options);
    EXPECT_TRUE(s.mUserPressedStop);
    ASSERT_EQ(s.logSessionArray.size(), 2u);
    EXPECT_EQ(s.logSessionArray[0].logTaskArray.size(), 1u);
    EXPECT_TRUE(s.logSessionArray[1].logTaskArray.empty());
    EXPECT_EQ(records, 1);  // the log is still made
    ExpectNothingDone();
}

TEST_F(RunEngineTest, ConflictStopEndsTheRunWithoutCopying) {
    tree.Build({"A/b@1000", "B/b@2000", "A/c"});
    test::SetOption(doc, 0, "conflictsDict", "conflictBackupAsk2", 1);
    proxy.replies = {test::Stop()};
    const run::RunState& s = Run();
    EXPECT_TRUE(s.mUserPressedStop);
    EXPECT_EQ(s.logSessionArray.at(0).logTaskArray.at(0).gAFilesScanned, 2);  // a and b only
    ExpectNothingDone();
}

TEST_F(RunEngineTest, PreviewOnlyForUserRunsAndItsStopSkipsCopyAndLog) {
    prefs.set("prefPreview", 1);
    // clang-format off
    const struct { const char* name; int executedBy; bool previewGoesOn; int previews, copies, logsSaved, timerDone; } cases[] = {
        {"user, continues",            run::kExecutedByUser,  true,  1, 1, 1, 0},
        {"user, stops in the preview", run::kExecutedByUser,  false, 1, 0, 0, 0},
        {"timer",                      run::kExecutedByTimer, false, 0, 1, 1, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeProxy fresh;
        fresh.previewGoesOn = c.previewGoesOn;
        executor.calls = 0;
        int logs = 0;
        RunOptions options;
        options.takeRecord = [&logs](run::RunState&) { ++logs; };
        RunEngine runner(doc, prefs, fresh, index, executor, tw, options);
        runner.state().config.mExecutedBy = c.executedBy;
        runner.state().config.mMayAsk = c.executedBy == run::kExecutedByUser;
        runner.ExecuteSyncBackup();
        EXPECT_EQ(fresh.calls(Hook::ShowPreview), c.previews);
        EXPECT_EQ(executor.calls, c.copies);
        EXPECT_EQ(logs, c.logsSaved);
        EXPECT_EQ(fresh.calls(Hook::SchedulingTimerDone), c.timerDone);
        EXPECT_EQ(runner.state().mUserPressedStop, !c.previewGoesOn && c.previews == 1);
    }
}

// ---- The worker thread ----

TEST_F(RunEngineTest, RunsOnAWorkerThreadAndWaitShowsTheResults) {
    RunOptions options;
    options.scanOnly = true;
    RunEngine& runner = MakeEngine(options);
    runner.TaskExecuteSyncOrBackup(run::kExecutedByUser, true);
    runner.Wait();
    EXPECT_FALSE(runner.state().mIsCopying);
    EXPECT_FALSE(runner.state().mUserPressedStop);
    EXPECT_EQ(test::FlattenPlan(runner.state()), Lines{"CopyAtoB a -> a"});
    EXPECT_EQ(proxy.calls(Hook::ConcludeWholeSyncBackup), 1);
}

TEST_F(RunEngineTest, ExecuteAgainWhileRunningStopsTheRun) {
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    proxy.onHook = [&](Hook hook) {
        if (hook != Hook::PurgeBeforeScanOneSession) return;
        entered.set_value();
        released.wait();
    };
    RunEngine& runner = MakeEngine();
    runner.TaskExecuteSyncOrBackup(run::kExecutedByUser, true);
    entered.get_future().wait();
    runner.TaskExecuteSyncOrBackup(run::kExecutedByUser, true);  // this is Stop
    release.set_value();
    runner.Wait();
    EXPECT_TRUE(runner.state().mUserPressedStop);
    EXPECT_FALSE(runner.state().mIsCopying);
    EXPECT_TRUE(runner.state().logSessionArray.at(0).logTaskArray.empty());
    EXPECT_EQ(proxy.calls(Hook::ConcludeWholeSyncBackup), 1);
    ExpectNothingDone();
}

TEST_F(RunEngineTest, StopRightAfterStartIsNotLost) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        SCOPED_TRACE(attempt);
        // The run may not get past its first session before the Stop was pressed.
        std::promise<void> pressed;
        std::shared_future<void> stopPressed = pressed.get_future().share();
        proxy.onHook = [stopPressed](Hook hook) {
            if (hook == Hook::PurgeBeforeScanOneSession) stopPressed.wait();
        };
        RunEngine& runner = MakeEngine();
        runner.TaskExecuteSyncOrBackup(run::kExecutedByUser, true);
        runner.TaskExecuteSyncOrBackup(run::kExecutedByUser, true);
        pressed.set_value();
        runner.Wait();
        EXPECT_TRUE(runner.state().mUserPressedStop);
        ExpectNothingDone();
    }
}

}  // namespace
}  // namespace qv::engine
