#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "support/test_support.h"

namespace qv::platform {
namespace {

constexpr int kLongMs = 10000;  // only reached when the behaviour under test is broken

TEST(ChildProcessTest, CapturesOutputUpToItsCapAndTheExitStatus) {
    struct Case {
        std::vector<std::string> argv;
        std::size_t cap;
        std::string output;
        bool truncated;
        int exitCode;
    };
    const Case cases[] = {
        {{"sh", "-c", "printf 'a b'; exit 3"}, 64, "a b", false, 3},
        {{"printf", "%s", "$HOME;`x`"}, 64, "$HOME;`x`", false, 0},  // no shell in between
        {{"sh", "-c", "head -c 100000 /dev/zero | tr '\\0' x"}, 10, "xxxxxxxxxx", true, 0},
        {{"sh", "-c", "read line; echo \"[$line]\""}, 64, "[]\n", false, 0},  // no input
    };
    for (const Case& c : cases) {
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start(c.argv, &error, c.cap)) << error;
        ASSERT_TRUE(child.Wait(kLongMs)) << c.argv.back();
        EXPECT_EQ(child.output(), c.output) << c.argv.back();
        EXPECT_EQ(child.outputTruncated(), c.truncated) << c.argv.back();
        EXPECT_EQ(child.exitCode(), c.exitCode) << c.argv.back();
    }
    ChildProcess missing;
    std::string error;
    EXPECT_FALSE(missing.Start({"/no/such/program"}, &error));
    EXPECT_NE(error.find("/no/such/program"), std::string::npos);
}

// Whether process pid is gone or dead and not yet reaped.
bool Ended(pid_t pid) {
    const std::string stat = test::ReadText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || stat.compare(close, 4, ") Z ") == 0;
}

TEST(ChildProcessTest, KillEndsTheWholeGroupAndPollDoesNotBlock) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start({"sh", "-c", "sleep 60 & echo $!; wait"}, &error)) << error;
    while (child.output().find('\n') == std::string::npos) ASSERT_FALSE(child.Wait(50));
    const pid_t grandchild = std::stoi(child.output());
    EXPECT_FALSE(child.Poll());
    EXPECT_FALSE(Ended(grandchild));
    child.Kill();
    ASSERT_TRUE(child.Wait(kLongMs));
    EXPECT_EQ(child.termSignal(), SIGKILL);
    EXPECT_EQ(child.exitCode(), -1);
    // SIGKILL is delivered to the group at once; the grandchild's end is only not instant.
    for (int round = 0; round < 1000 && !Ended(grandchild); ++round) ::usleep(10000);
    EXPECT_TRUE(Ended(grandchild));
}

TEST(ChildRunnerTest, InputEnvironmentFolderAndErrorsReachTheChildAsGiven) {
    test::TempDir dir;
    const std::string value = std::string("two\nlines \xff\xfe end");
    ChildRequest request;
    request.argv = {"sh", "-c", "cat; printf '%s|' \"$QV_X\" \"$PWD\"; echo oops >&2; exit 4"};
    request.options.input = std::string(200000, 'i');  // more than a pipe holds
    request.options.workingFolder = dir.path();
    request.options.environment = {{"QV_X", value}, {"HOME", "/replaced"}};
    request.options.captureErrors = true;
    request.options.outputCap = 1 << 20;
    const ChildResult r = SystemChildRunner().Run(request);
    ASSERT_TRUE(r.startError.empty()) << r.startError;
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.output, std::string(200000, 'i') + value + "|" + dir.path() + "|oops\n");

    // A child that never reads its input does not end us with SIGPIPE.
    request.argv = {"sh", "-c", "exec 0<&-; echo $HOME"};
    const ChildResult closed = SystemChildRunner().Run(request);
    EXPECT_TRUE(closed.ok());
    EXPECT_EQ(closed.output, "/replaced\n");
}

TEST(ChildRunnerTest, TheDeadlineAndTheStopFlagEndTheWholeGroup) {
    for (const bool byStop : {false, true}) {
        std::atomic<bool> stop{false};
        ChildRequest request;
        request.killGrace = std::chrono::milliseconds(100);
        // The shell ignores SIGTERM: only the SIGKILL that follows ends it.
        request.argv = {"sh", "-c", "trap '' TERM; sleep 60 & echo $!; while :; do sleep 1; done"};
        if (byStop) {
            request.stop = &stop;
            stop = true;
        } else {
            request.deadline = std::chrono::milliseconds(200);
        }
        const ChildResult r = SystemChildRunner().Run(request);
        EXPECT_EQ(r.timedOut, !byStop);
        EXPECT_EQ(r.stopped, byStop);
        EXPECT_EQ(r.termSignal, SIGKILL);
        EXPECT_FALSE(r.ok());
        const pid_t grandchild = std::stoi(r.output);
        for (int round = 0; round < 1000 && !Ended(grandchild); ++round) ::usleep(10000);
        EXPECT_TRUE(Ended(grandchild));
    }
    ChildRequest missing;
    missing.argv = {"/no/such/program"};
    EXPECT_FALSE(SystemChildRunner().Run(missing).startError.empty());
}

}  // namespace
}  // namespace qv::platform
