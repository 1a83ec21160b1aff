// The run service: one run at a time across processes, and every run concluded with its log.

#include "app/run_service.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/file_io.h"
#include "platform/run_lock.h"
#include "sessions/settings_options.h"
#include "support/fake_login.h"
#include "support/fake_proxy.h"
#include "support/tree_fixture.h"

namespace qv::app {
namespace {

using test::Hook;

class RunServiceTest : public test::IsolatedHomeTest {
  protected:
    RunServiceTest()
        : paths(platform::SupportPaths::FromEnvironment()),
          doc(test::TwoFolderDocument(tree.a(), tree.b(), sessions::kTaskBackup)),
          prefs(paths) {
        tree.Build({"A/a"});
        prefs.InitPreferences();
        prefs.mPrefDict.set("prefSaveLogFile", 1);
        prefs.mPrefDict.set("prefSaveLogFileWhen", 1);  // after every run
        prefs.mPrefDict.set("prefLogFileFormat", 2);    // plain text
        prefs.mPrefDict.set("prefPathLogFolder", logFolder());
        service = std::make_unique<RunService>(doc, prefs, paths);
        service->SetRunLockFolder(lockFolder());
        service->SetSystemFacts({"Test OS 1", "6.1.0", "", "Test User", "test", 1, 2, 3, 4});
        service->SetLoginManager(login);
    }
    std::string logFolder() const { return dir_ / "logs"; }
    std::string lockFolder() const { return dir_ / "runtime"; }
    RunRequest Request(bool mayAsk = false) const {
        RunRequest request;
        request.executedBy = run::kExecutedByCommandLine;
        request.mayAsk = mayAsk;
        request.sessionIndex = 0;
        return request;
    }
    RunConclusion RunToTheEnd(const RunRequest& request) {
        const StartResult started = service->Start(request, proxy);
        EXPECT_TRUE(started.started) << started.message;
        while (!service->WaitFor(std::chrono::milliseconds(10))) {
        }
        return service->Conclude();
    }

    test::TreeFixture tree;
    platform::SupportPaths paths;
    sessions::SessionDocument doc;
    sessions::Preferences prefs;
    test::FakeProxy proxy;
    test::FakeLogin login;
    std::unique_ptr<RunService> service;
};

TEST_F(RunServiceTest, OneRunAtATimeAcrossProcesses) {
    {
        // Another process holds the lock: the run is refused, naming it, and nothing is done.
        std::string heldBy, error;
        auto other =
            platform::RunLock::TryAcquire(lockFolder(), "quorvel-gui, process 42", &heldBy, &error);
        ASSERT_TRUE(other) << error;
        const StartResult refused = service->Start(Request(), proxy);
        EXPECT_FALSE(refused.started);
        EXPECT_NE(refused.message.find("quorvel-gui, process 42"), std::string::npos)
            << refused.message;
        EXPECT_FALSE(service->IsActive());
        EXPECT_FALSE(std::filesystem::exists(tree.path("B/a")));
    }
    // During a run, a second service (another window, a scheduler) is refused; a plan is not.
    RunService second(doc, prefs, paths);
    second.SetRunLockFolder(lockFolder());
    test::FakeProxy secondProxy;
    StartResult during;
    bool planned = false;
    proxy.onHook = [&](Hook hook) {
        if (hook != Hook::PurgeBeforeScanOneSession) return;
        during = second.Start(Request(), secondProxy);
        second.Plan(Request(),
                    [&](const run::RunState& s) { planned = !s.plan.taskRootList.empty(); });
    };
    const RunConclusion done = RunToTheEnd(Request());
    EXPECT_FALSE(during.started);
    EXPECT_NE(during.message.find("quorvel, process " + std::to_string(::getpid())),
              std::string::npos)
        << during.message;
    EXPECT_TRUE(planned);
    EXPECT_TRUE(std::filesystem::exists(tree.path("B/a")));
    EXPECT_EQ(done.errors, 0);
    // Concluded, the run let go of the lock.
    proxy.onHook = nullptr;
    EXPECT_TRUE(second.Start(Request(), secondProxy).started);
    while (!second.WaitFor(std::chrono::milliseconds(10))) {
    }
    second.Conclude();
}

TEST_F(RunServiceTest, EveryRunConcludesWithItsLogSavedAndReported) {
    const RunConclusion done = RunToTheEnd(Request());
    ASSERT_TRUE(done.logMade);
    ASSERT_TRUE(done.logSaved) << done.logSaveError;
    EXPECT_EQ(platform::ParentFolder(done.pathLogFile), logFolder());
    EXPECT_EQ(platform::LastPathComponent(done.pathLogFile).rfind("QVLog_", 0), 0u);
    const std::string saved = test::ReadText(done.pathLogFile);
    EXPECT_EQ(saved.find('\r'), std::string::npos);  // a text file gets line feeds
    std::string internal = saved;
    std::replace(internal.begin(), internal.end(), '\n', '\r');
    EXPECT_EQ(internal, service->logString());
    EXPECT_NE(saved.find("executed by the command line"), std::string::npos);
    EXPECT_NE(saved.find("Test User (test)"), std::string::npos);
    EXPECT_EQ(service->pathLogFile(), done.pathLogFile);
    ASSERT_FALSE(done.report.empty());
    EXPECT_EQ(done.report.back(), "• Errors: 0");

    // Stopped in the preview: nothing copied, no log made or saved, the last log kept.
    std::filesystem::remove(done.pathLogFile);
    prefs.mPrefDict.set("prefPreview", 1);
    proxy.previewGoesOn = false;
    std::filesystem::remove(tree.path("B/a"));
    const RunConclusion stopped = RunToTheEnd(Request(true));
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.logMade);
    EXPECT_FALSE(std::filesystem::exists(tree.path("B/a")));
    EXPECT_TRUE(std::filesystem::is_empty(logFolder()));
    EXPECT_EQ(service->logString(), internal);

    // A file where the log folder should be: the log goes elsewhere, and the report counts the
    // error the exit status counts.
    prefs.mPrefDict.set("prefPreview", 0);
    const std::string blocker = dir_ / "not-a-folder";
    test::WriteText(blocker, "mine");
    prefs.mPrefDict.set("prefPathLogFolder", blocker);
    const RunConclusion misplaced = RunToTheEnd(Request());
    EXPECT_FALSE(misplaced.logSaveError.empty());
    EXPECT_EQ(misplaced.errors, 1);
    EXPECT_EQ(ExitStatusOf(misplaced), 1);
    EXPECT_EQ(misplaced.report.back(), "• Errors: 1");
    EXPECT_EQ(test::ReadText(blocker), "mine");
}

TEST_F(RunServiceTest, ARunKeepsTheMachineAwakeAndTellsAQuitFromAStop) {
    // Held from the start to the conclusion, and named after the session.
    bool heldDuring = false;
    proxy.onHook = [&](Hook hook) {
        if (hook == Hook::PurgeBeforeScanOneSession) heldDuring = login.Held();
    };
    const RunConclusion done = RunToTheEnd(Request());
    EXPECT_TRUE(heldDuring);
    EXPECT_FALSE(login.Held());
    EXPECT_EQ(login.asked, "sleep:idle|Quorvel|Backing up \"" + doc.GetSessionName(0) + "\"");
    EXPECT_EQ(service->logString().find("may sleep"), std::string::npos);
    EXPECT_EQ(done.errors, 0);

    // Without a login manager the run goes on, and its log says so once.
    login.refuseInhibit = "no system bus";
    std::filesystem::remove(tree.path("B/a"));
    RunToTheEnd(Request());
    EXPECT_TRUE(std::filesystem::exists(tree.path("B/a")));
    const std::string& log = service->logString();
    const std::string notice = "• The computer may sleep during the run: no system bus\r";
    ASSERT_NE(log.find(notice), std::string::npos) << log;
    EXPECT_EQ(log.find(notice, log.find(notice) + 1), std::string::npos);

    // Stopped because the user quits: the log tells the quit; a Stop alone tells the Stop.
    for (const bool quitting : {true, false}) {
        proxy.onHook = [&](Hook hook) {
            if (hook == Hook::PurgeBeforeScanOneSession) service->Stop(quitting);
        };
        const RunConclusion stopped = RunToTheEnd(Request());
        EXPECT_TRUE(stopped.stopped);
        const std::string& text = service->logString();
        EXPECT_EQ(text.find("user did quit the application during the task.") != std::string::npos,
                  quitting);
        EXPECT_EQ(text.find("user pressed the Stop button.") != std::string::npos, !quitting);
    }
}

}  // namespace
}  // namespace qv::app
