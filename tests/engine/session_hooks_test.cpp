// The scripts sessions run before and after themselves, run by a real shell: when they run,
// what they are given, and how each way of failing becomes a counted error of its session.

#include "engine/session_hooks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/run_engine.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/tree_fixture.h"

namespace qv::engine {
namespace {

// Walks the plan as the real executor does, session by session, copying nothing.
class SessionsExecutor : public run::CopyExecutor {
  public:
    void MainCopy(run::RunState& state, run::CopyHooks& hooks) override {
        plan = test::FlattenPlan(state);
        for (run::SessionLog& session : state.logSessionArray) {
            hooks.PurgeBeforeScanAndCopyOneSession(session.sessionIndex);
            for (run::TaskLog& task : session.logTaskArray) {
                hooks.PurgeBeforeCopyOneTask();
                hooks.PurgeAfterCopyOneTask(task);
            }
            hooks.PurgeAfterCopyOneSession(session.sessionIndex);
        }
    }
    std::vector<std::string> plan;
};

class SessionHooksTest : public ::testing::Test {
  protected:
    SessionHooksTest() : doc(test::TwoFolderDocument(tree.a(), tree.b(), sessions::kTaskBackup)) {
        test::SetOption(doc, 1, "consoleDict", "topFolder", tree.path("C"));
        test::SetOption(doc, 1, "consoleDict", "bottomFolder", tree.path("D"));
        tree.Build({"A/a", "C/c", "D/"});
        prefs.set("prefLogKind", 2);
        ::setenv("QV_TRACE", trace().c_str(), 1);
    }
    std::string trace() const { return tree.path("trace"); }
    std::string Trace() const { return test::ReadText(trace()); }
    void Script(std::int64_t session, const char* when, const std::string& text) {
        const bool before = std::string_view(when) == "before";
        test::SetOption(doc, session, "appleScriptDict", before ? "asStartOn" : "asEndOn", 1);
        test::SetOption(doc, session, "appleScriptDict", before ? "asStartText" : "asEndText",
                        text);
    }
    RunEngine& Engine(RunOptions options = {}) {
        engine = std::make_unique<RunEngine>(doc, prefs, proxy, index, executor, tw, options);
        return *engine;
    }
    const run::RunState& Run(RunOptions options = {}) {
        Engine(options).ExecuteSyncBackup();
        return engine->state();
    }

    test::TreeFixture tree;
    sessions::SessionDocument doc;
    plist::Value prefs = plist::Dict{};
    test::FakeProxy proxy;
    NoExactSyncIndex index;
    SessionsExecutor executor;
    items::TWUtilities tw;
    std::unique_ptr<RunEngine> engine;
};

// A script that notes when it ran and what it was told.
const char* kNote =
    "printf '%s %s %s %s|' \"$QUORVEL_WHEN\" \"$QUORVEL_SESSION\" \"${QUORVEL_ERRORS-}\" "
    "\"${QUORVEL_STOPPED-}\" >> \"$QV_TRACE\"";

TEST_F(SessionHooksTest, EachSessionRunsItsOwnScriptsAroundItsScanAndCopy) {
    Script(0, "before", std::string(kNote) + "; echo new > \"$QUORVEL_SOURCE/made-before\"");
    Script(0, "after", kNote);
    Script(1, "after", kNote);
    RunOptions options;
    options.allSessions = true;
    const run::RunState& s = Run(options);
    // Every session is scanned before any is copied; what the before-script made is planned.
    EXPECT_EQ(Trace(),
              "before Default Sync Session  |after Default Sync Session 0 0|after Default Backup "
              "Session 0 0|");
    EXPECT_NE(std::find(executor.plan.begin(), executor.plan.end(),
                        "CopyAtoB made-before -> made-before"),
              executor.plan.end())
        << ::testing::PrintToString(executor.plan);
    EXPECT_EQ(s.totals.gGlobalError, 0);

    // A plan runs no script.
    ::unlink(trace().c_str());
    RunOptions plan = options;
    plan.scanOnly = true;
    Run(plan);
    EXPECT_EQ(Trace(), "");
}

TEST_F(SessionHooksTest, EveryWayAScriptFailsIsAnErrorOfItsSessionAndTheRunGoesOn) {
    prefs.set("prefScriptTimeout", 1);
    // clang-format off
    const struct { const char* text; const char* logged; } cases[] = {
        {"",                        "√ Error compiling the first AppleScript.\rThe script is empty\r"},
        {sessions::kFormerDefaultScriptText, "√ Error compiling the first AppleScript.\rThe script is empty\r"},
        {"if then",                 "√ Error compiling the first AppleScript.\rline 1: Syntax error: \"then\" unexpected\r"},
        {"tell application \"Finder\"", "√ Error compiling the first AppleScript.\rThe text is written for the scripting language of another system, not for the shell: rewrite it as a shell script\r"},
        {"echo 'went wrong.'; exit 3", "√ Error running the script before the session \"Default Sync Session\".\rError: 3.\r\twent wrong\r"},
        {"printf 'a\\033[2J\\007b'; exit 1", "√ Error running the script before the session \"Default Sync Session\".\rError: 1.\r\ta\\x1b[2J\\x07b\r"},
        {"kill -9 $$",              "√ Error running the script before the session \"Default Sync Session\".\rError: it was ended by signal 9 (Killed)\r"},
        {"sleep 30",                "√ Error running the script before the session \"Default Sync Session\".\rError: it ran past its time limit and was ended\r"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ::unlink(trace().c_str());
        Script(0, "before", c.text);
        Script(0, "after", kNote);
        const run::RunState& s = Run();
        ASSERT_EQ(s.logSessionArray.size(), 1u);
        EXPECT_EQ(s.logSessionArray[0].hookErrors, 1);
        EXPECT_EQ(s.logSessionArray[0].gTotError, 1);
        EXPECT_EQ(s.totals.gGlobalError, 1);
        EXPECT_EQ(s.logSessionArray[0].hookLogText, c.logged);
        EXPECT_TRUE(s.totals.gScanSucceeded);  // the run went on
        // The after-script is told of the error; a before-script that did not check never ran,
        // and so owes it nothing, but the run still carried the session through.
        EXPECT_EQ(Trace(), "after Default Sync Session 1 0|");
    }
    // Output beyond the cap is cut, and said to be.
    Script(0, "before", "head -c 1000000 /dev/zero | tr '\\0' x; exit 1");
    const std::string& logged = Run().logSessionArray.at(0).hookLogText;
    EXPECT_LT(logged.size(), 100000u);
    EXPECT_NE(logged.find("xxx [...]\r"), std::string::npos);
}

// Waits until the script has written its background child's process id into the file.
std::string StartedChild(const std::string& file) {
    std::string pid;
    for (int i = 0; i < 1000 && pid.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pid = test::ReadText(file);
    }
    return pid.substr(0, pid.find('\n'));
}

// Whether the process has ended (or is a zombie), given a moment: a signal sent to a group is
// delivered at once, a process's end is not instant.
bool Ended(const std::string& pid) {
    for (int round = 0; round < 500; ++round) {
        const std::string stat = test::ReadText("/proc/" + pid + "/stat");
        if (stat.empty() || stat.find(") Z ") != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(SessionHooksTest, StopKillsTheRunningScriptAndTheAfterScriptStillRuns) {
    Script(0, "before", "sleep 60 & echo $! > \"$QV_TRACE.pid\"; wait");
    Script(0, "after", kNote);
    RunEngine& run = Engine();
    run.TaskExecuteSyncOrBackup(run::kExecutedByUser, true);
    const std::string pid = StartedChild(trace() + ".pid");
    ASSERT_FALSE(pid.empty());
    run.Stop();
    run.Wait();
    EXPECT_EQ(Trace(), "after Default Sync Session 1 1|");
    // The script the Stop ended is an error of the log; nobody is asked about it.
    EXPECT_TRUE(proxy.errors().empty());
    EXPECT_NE(
        run.state().logSessionArray.at(0).hookLogText.find("it was ended when the run was stopped"),
        std::string::npos);
    EXPECT_TRUE(Ended(pid));  // the script's whole group went with it

    // The after-script that runs after a Stop ends at a second one.
    ::unlink((trace() + ".pid").c_str());
    Script(0, "before", "sleep 60");
    Script(0, "after", "sleep 60 & echo $! > \"$QV_TRACE.pid\"; wait");
    RunEngine& twice = Engine();
    twice.TaskExecuteSyncOrBackup(run::kExecutedByUser, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    twice.Stop();
    const std::string after = StartedChild(trace() + ".pid");
    ASSERT_FALSE(after.empty());
    twice.Stop();
    twice.Wait();
    EXPECT_EQ(twice.state().totals.gGlobalError, 2);
    EXPECT_TRUE(Ended(after));

    // A Stop in the preview.
    ::unlink(trace().c_str());
    Script(0, "before", kNote);
    Script(0, "after", kNote);
    prefs.set("prefPreview", 1);
    proxy.previewGoesOn = false;
    RunEngine& previewed = Engine();
    previewed.state().config.mMayAsk = true;
    previewed.state().config.mExecutedBy = run::kExecutedByUser;
    previewed.ExecuteSyncBackup();
    EXPECT_EQ(Trace(), "before Default Sync Session  |after Default Sync Session 0 1|");
}

TEST_F(SessionHooksTest, NamesAndPathsReachTheScriptByteForByte) {
    const std::string name = "two\nlines \xff\xfe $(touch pwned) \"'";
    test::SetOption(doc, 0, "consoleDict", "sessionName", name);
    Script(0, "before",
           "printf '%s|%s|%s|%s' \"$QUORVEL_SESSION\" \"$QUORVEL_SOURCE\" "
           "\"$QUORVEL_DESTINATION\" \"$0\" > \"$QV_TRACE\"");
    Run();
    EXPECT_EQ(Trace(), name + "|" + tree.a() + "|" + tree.b() + "|quorvel-script");
    EXPECT_NE(::access(tree.path("pwned").c_str(), F_OK), 0);
}

TEST_F(SessionHooksTest, AsRootTheScriptsOfADocumentOthersCanWriteAreNotRun) {
    if (::geteuid() != 0) GTEST_SKIP() << "only a run with root privileges refuses";
    Script(0, "before", kNote);
    const std::string file = tree.path("doc.qvd"), safe = tree.path("safe.qvd");
    ASSERT_TRUE(doc.WriteFileSession(file));
    ASSERT_TRUE(doc.WriteFileSession(safe));
    doc.isDocumentTemplate = false;
    doc.pathDocumentFile = file;
    for (const mode_t mode : {0644, 0664, 0646}) {
        ::unlink(trace().c_str());
        ::chmod(file.c_str(), mode);
        ASSERT_TRUE(doc.ReadDocumentFile(file));
        // What counts is the file as it was read, not what its path leads to by the time the
        // run starts.
        ::rename(file.c_str(), tree.path("was.qvd").c_str());
        ::link(safe.c_str(), file.c_str());
        const run::RunState& s = Run();
        const bool refused = mode != 0644;
        EXPECT_EQ(Trace(), refused ? "" : "before Default Sync Session  |") << std::oct << mode;
        EXPECT_EQ(s.totals.gGlobalError, refused ? 1 : 0);
        EXPECT_EQ(s.logSessionArray.at(0).hookLogText.find("doc.qvd") != std::string::npos,
                  refused);
        ::unlink(file.c_str());
        ::rename(tree.path("was.qvd").c_str(), file.c_str());
    }
}

}  // namespace
}  // namespace qv::engine
