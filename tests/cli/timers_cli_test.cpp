// `quorvel timers` and `quorvel scheduler`, run as a user would run them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "support/test_support.h"

namespace qv {
namespace {

// The command run in a home of its own, on a document of the test's.
class CommandTest : public test::IsolatedHomeTest {
  protected:
    int Quorvel(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
        const std::string errFile = dir_ / "stderr.txt";
        const int rc = test::RunCommand(
            test::ShellQuote(QV_QUORVEL_BIN) + " " + args + " 2>" + test::ShellQuote(errFile), out);
        if (err) *err = test::ReadText(errFile);
        return rc;
    }
    std::string Doc() const { return test::ShellQuote(dir_ / "doc.qvd"); }
};

TEST_F(CommandTest, RowsAreSetThroughTheDialogsChecksAndListedInTimeOrder) {
    std::string out, err;
    ASSERT_EQ(Quorvel("new-document " + Doc(), &out, &err), 0) << err;
    const std::string backup = " --session 'Default Backup Session' --document " + Doc();
    ASSERT_EQ(
        Quorvel("timers set 1" + backup + " 'start=2028-02-29 10:00' intervalOn=1 intervalHours=5",
                &out, &err),
        0)
        << err;
    EXPECT_EQ(out, "1\t\xE2\x80\xA2\t29 Feb 2028, 10:00\t05:00 \n");

    const struct {
        const char* words;
        const char* error;
    } refused[] = {
        {"set 2 'start=2027-02-29 10:00'", "Warning: Start Day not valid. (startDay)"},
        {"set 2 'start=2030-01-07 09:00' intervalOn=1 intervalHours=1 endOn=1 'end=2030-01-07 "
         "09:00'",
         "The end time cannot be earlier than the start time."},
        {"set 2 'start=2030-01-07 25:00'",
         "The Start Hour field must contain values from 0 to 23."},
        {"set 2 start=tomorrow", "takes a local date and time"},
        {"set 2 onlyFunday=1", "unknown timer row key 'onlyFunday'"},
        {"set 33 intervalOn=1", "no timer row '33'"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(Quorvel(std::string("timers ") + r.words + backup, &out, &err), 2) << r.words;
        EXPECT_TRUE(test::Contains(err, r.error));
    }
    ASSERT_EQ(Quorvel("timers list" + backup, &out, &err), 0) << err;
    EXPECT_TRUE(
        test::Contains(out, "timerOn\t1\n1\t\xE2\x80\xA2\t29 Feb 2028, 10:00\t05:00 \n2\t\t\t\n"));

    // From 21:00 on 29 February, over two days: 20:00 has passed, then 11:00, 16:00, 21:00.
    ASSERT_EQ(
        test::RunCommand("QUORVEL_TEST_NOW='2028-02-29 21:00' " + test::ShellQuote(QV_QUORVEL_BIN) +
                             " timers --all --days 2 --json --document " + Doc(),
                         &out),
        0);
    EXPECT_EQ(out,
              "{\"occurrences\": [{\"date\": \"2028-03-01T11:00\", \"sessionIndex\": 1, "
              "\"sessionName\": \"Default Backup Session\", \"row\": 1}, {\"date\": "
              "\"2028-03-01T16:00\", \"sessionIndex\": 1, \"sessionName\": \"Default Backup "
              "Session\", \"row\": 1}, {\"date\": \"2028-03-01T21:00\", \"sessionIndex\": 1, "
              "\"sessionName\": \"Default Backup Session\", \"row\": 1}]}\n");

    // A session whose only row is off cannot have its timers switched on.
    ASSERT_EQ(Quorvel("timers toggle 1" + backup, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("timers off" + backup, &out, &err), 0) << err;
    EXPECT_EQ(Quorvel("timers on" + backup, &out, &err), 2);
    ASSERT_EQ(Quorvel("timers --session 'Default Backup Session' --document " + Doc(), &out, &err),
              0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Quorvel("timers --document " + Doc(), &out, &err), 2);
    EXPECT_EQ(Quorvel("timers --all list --document " + Doc(), &out, &err), 2);

    // A row that cannot be written is not printed as if it had been.
    ASSERT_EQ(::chmod((dir_ / "doc.qvd").c_str(), 0444), 0);
    EXPECT_EQ(Quorvel("timers set 3 'start=2030-01-07 09:00'" + backup, &out, &err), 2);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(test::Contains(err, "read-only")) << err;
}

// Starts quorvel with the arguments, its output going to files.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<char*> argv{const_cast<char*>(QV_QUORVEL_BIN)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(QV_QUORVEL_BIN, argv.data());
    ::_exit(127);
}

TEST_F(CommandTest, TheSchedulerFollowsThePreferencesFiresADueRowOnceAndEndsOnSigterm) {
    const std::string a = dir_ / "A", b = dir_ / "B";
    ASSERT_TRUE(platform::CreateFolderWithFoldersInBetween(a));
    ASSERT_TRUE(platform::CreateFolderWithFoldersInBetween(b));
    test::WriteText(a + "/report.txt", "quarterly");
    std::string out, err;
    ASSERT_EQ(Quorvel("new-document " + Doc(), &out, &err), 0) << err;
    ASSERT_EQ(
        Quorvel("session set-folders 'Default Backup Session' --source " + test::ShellQuote(a) +
                    " --dest " + test::ShellQuote(b) + " --document " + Doc(),
                &out, &err),
        0)
        << err;
    ASSERT_EQ(Quorvel("timers set 1 'start=2030-01-07 10:00' --session 'Default Backup Session' "
                      "--document " +
                          Doc(),
                      &out, &err),
              0)
        << err;

    // Sync-and-quit keeps the timers from firing until it is turned off while the scheduler
    // runs.
    ASSERT_EQ(Quorvel("prefs set prefSyncAndQuit 1", &out, &err), 0) << err;
    env_.Set("QUORVEL_TEST_NOW", "2030-01-07 10:00");
    const std::string outFile = dir_ / "scheduler.out", errFile = dir_ / "scheduler.err";
    const pid_t pid = Spawn({"scheduler", "--document", dir_ / "doc.qvd"}, outFile, errFile);
    ASSERT_GT(pid, 0);
    // Waits for the scheduler to say something, not for a length of time: the deadline only
    // keeps a broken scheduler from hanging the suite.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const auto saysSoon = [&](const std::string& file, const std::string& words) {
        while (!test::Contains(test::ReadText(file), words) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return test::Contains(test::ReadText(file), words);
    };
    ASSERT_TRUE(saysSoon(outFile, "0 executions listed")) << test::ReadText(errFile);
    EXPECT_TRUE(test::Contains(test::ReadText(errFile), "prefSyncAndQuit is set"));
    ASSERT_EQ(Quorvel("prefs set prefSyncAndQuit 0", &out, &err), 0) << err;
    std::string said;
    while (said.find("\texit ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        said = test::ReadText(outFile);
    }
    EXPECT_TRUE(test::Contains(said, "2030-01-07 10:00\tDefault Backup Session\texit 0\t"))
        << test::ReadText(errFile);
    const std::size_t logAt = said.rfind('\t');
    ASSERT_NE(logAt, std::string::npos);
    const std::string log = said.substr(logAt + 1, said.find('\n', logAt) - logAt - 1);
    EXPECT_TRUE(platform::IsExistingRegularFile(log)) << log;
    EXPECT_EQ(test::ReadText(b + "/report.txt"), "quarterly");

    // One scheduler at a time; one told to wait takes over when the first one stops.
    EXPECT_EQ(Quorvel("scheduler --document " + Doc(), &out, &err), 2);
    EXPECT_TRUE(test::Contains(err, "already fires the timers"));
    const std::string waitOut = dir_ / "waiting.out", waitErr = dir_ / "waiting.err";
    const pid_t waiting =
        Spawn({"scheduler", "--wait", "--document", dir_ / "doc.qvd"}, waitOut, waitErr);
    ASSERT_GT(waiting, 0);
    EXPECT_TRUE(saysSoon(waitOut, "waiting to take over")) << test::ReadText(waitErr);
    EXPECT_FALSE(test::Contains(test::ReadText(waitOut), "executions listed"));

    const auto stop = [&](pid_t p) {
        ::kill(p, SIGTERM);
        int status = -1;
        while (::waitpid(p, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!WIFEXITED(status)) ::kill(p, SIGKILL), ::waitpid(p, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(stop(pid), 0);
    // Taking over within the minute, it knows 10:00 has fired.
    EXPECT_TRUE(saysSoon(waitOut, "executions listed")) << test::ReadText(waitErr);
    EXPECT_TRUE(test::Contains(test::ReadText(waitOut), "Next Timer: undefined"));
    EXPECT_EQ(stop(waiting), 0);
}

TEST_F(CommandTest, SetShowAndRefusalsGoThroughTheEditor) {
    std::string out, err;
    ASSERT_EQ(Quorvel("new-document " + Doc(), &out, &err), 0) << err;
    const std::string backup = " --session 'Default Backup Session' --document " + Doc();
    // Looking changes nothing in a document without triggers.
    const std::string before = test::ReadText(dir_ / "doc.qvd");
    ASSERT_EQ(Quorvel("triggers show" + backup, &out, &err), 0) << err;
    EXPECT_EQ(out,
              "triggerOnMountOn\t0\ntriggerOnChangeOn\t0\ntriggerQuietSeconds\t60\n"
              "triggerMinMinutes\t15\ndescription\tNo triggers.\n");
    EXPECT_EQ(test::ReadText(dir_ / "doc.qvd"), before);

    const struct {
        const char* words;
        const char* error;
    } refused[] = {
        {"set triggerQuietSeconds=0", "The quiet time must be from 1 to 86400 seconds (a day)."},
        {"set triggerOnChangeOn=1 triggerMinMinutes=10081",
         "The minimum interval must be from 1 to 10080 minutes (a week)."},
        {"set triggerQuietSeconds", "'triggerQuietSeconds' is not KEY=VALUE"},
        {"set triggerOnBoot=1", "Unknown trigger key \"triggerOnBoot\"."},
        {"on disk", "triggers on takes mount or change, not 'disk'"},
        {"on", "usage: quorvel triggers on mount|change"},
        {"set triggerOnMountOn=1 --json", "--json is only for triggers show"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(Quorvel(std::string("triggers ") + r.words + backup, &out, &err), 2) << r.words;
        EXPECT_TRUE(test::Contains(err, r.error)) << r.words;
        EXPECT_EQ(test::ReadText(dir_ / "doc.qvd"), before) << r.words;
    }

    ASSERT_EQ(Quorvel("triggers on mount" + backup, &out, &err), 0) << err;
    ASSERT_EQ(
        Quorvel("triggers set triggerOnChangeOn=yes triggerQuietSeconds=5" + backup, &out, &err), 0)
        << err;
    EXPECT_TRUE(test::Contains(err, "no source folder"));  // the session has no A yet
    ASSERT_EQ(Quorvel("triggers off mount" + backup, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("triggers show --json" + backup, &out, &err), 0) << err;
    EXPECT_EQ(out,
              "{\"session\": \"Default Backup Session\", \"sessionIndex\": 1, \"triggerDict\": "
              "{\"triggerOnMountOn\": 0, \"triggerOnChangeOn\": 1, \"triggerQuietSeconds\": 5, "
              "\"triggerMinMinutes\": 15}, \"description\": \"Runs when its source has changed "
              "and then stayed quiet for 5 seconds. At most one run every 15 minutes.\"}\n");
    // The other session is untouched.
    ASSERT_EQ(Quorvel("triggers show --session-index 0 --document " + Doc(), &out, &err), 0);
    EXPECT_TRUE(test::Contains(out, "description\tNo triggers.\n"));
}

TEST_F(CommandTest, TheSchedulerRunsASessionWhenItsDestinationVolumeIsMounted) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a volume needs root";
    const std::string a = dir_ / "A", b = dir_ / "B";
    ASSERT_TRUE(platform::CreateFolderWithFoldersInBetween(a));
    ASSERT_TRUE(platform::CreateFolderWithFoldersInBetween(b));
    test::WriteText(a + "/report.txt", "quarterly");
    std::string out, err;
    ASSERT_EQ(Quorvel("new-document " + Doc(), &out, &err), 0) << err;
    const std::string backup = " 'Default Backup Session' --document " + Doc();
    ASSERT_EQ(Quorvel("session set-folders" + backup + " --source " + test::ShellQuote(a) +
                          " --dest " + test::ShellQuote(b),
                      &out, &err),
              0)
        << err;
    ASSERT_EQ(Quorvel("triggers on mount --session" + backup, &out, &err), 0) << err;

    const std::string outFile = dir_ / "scheduler.out", errFile = dir_ / "scheduler.err";
    const pid_t pid = Spawn({"scheduler", "--document", dir_ / "doc.qvd"}, outFile, errFile);
    ASSERT_GT(pid, 0);
    // Waits for what the scheduler says, not for a length of time; the deadline only keeps a
    // broken scheduler from hanging the suite.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const auto says = [&](const std::string& words) {
        while (!test::Contains(test::ReadText(outFile), words) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return test::Contains(test::ReadText(outFile), words);
    };
    struct Unmount {
        std::string at;
        bool mounted = false;
        ~Unmount() {
            if (mounted) ::umount2(at.c_str(), MNT_DETACH);
        }
    } volume{b};
    EXPECT_TRUE(says("sessions with triggers armed: 1")) << test::ReadText(errFile);
    volume.mounted = ::mount("quorvel-test", b.c_str(), "tmpfs", 0, "size=1m") == 0;
    if (volume.mounted) {
        EXPECT_TRUE(says("Default Backup Session: Started by trigger: volume " + b + " appeared"));
        EXPECT_TRUE(says("\tDefault Backup Session\texit 0\t")) << test::ReadText(errFile);
        EXPECT_EQ(test::ReadText(b + "/report.txt"), "quarterly");
        const std::string said = test::ReadText(outFile);
        const std::string log =
            said.substr(said.rfind('\t') + 1, said.rfind('\n') - said.rfind('\t') - 1);
        EXPECT_TRUE(test::Contains(test::ReadText(log), "Started by trigger: volume " + b));
    }
    ::kill(pid, SIGTERM);
    int status = -1;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (!volume.mounted) GTEST_SKIP() << "tmpfs could not be mounted here";
}

}  // namespace
}  // namespace qv
