#include "app/root_relaunch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/test_support.h"

namespace qv::app {
namespace {

// Polls until the launch is settled; a launch that never settles fails after many rounds.
RootRelaunch::Status Settle(RootRelaunch& relaunch) {
    for (int round = 0; round < 1000; ++round) {
        const RootRelaunch::Status status = relaunch.Poll();
        if (status != RootRelaunch::Status::Pending) return status;
        ::usleep(10000);
    }
    return RootRelaunch::Status::Pending;
}

TEST(RootRelaunchTest, TheLaunchersEndTellsHowItWent) {
    test::TempDir dir;
    const std::string args = dir / "args";
    struct Case {
        const char* script;
        RootRelaunch::Status status;
    };
    using S = RootRelaunch::Status;
    const Case cases[] = {
        {"exit 126", S::Cancelled},
        {"exit 127", S::Denied},
        {"exit 1", S::Denied},
        {"exit 0", S::Denied},  // ended without the new instance saying it is up
        {"echo \"$@\" > '%ARGS%'; echo 'quorvel-gui: running as root'; exec sleep 2 >/dev/null "
         "2>&1",
         S::Started},
    };
    for (const Case& c : cases) {
        std::string script = c.script;
        if (const auto at = script.find("%ARGS%"); at != std::string::npos) {
            script.replace(at, 6, args);
        }
        const std::string launcher = dir / "launcher";
        test::WriteText(launcher, "#!/bin/sh\n" + script + "\n");
        ASSERT_EQ(::chmod(launcher.c_str(), 0755), 0);
        RootRelaunch relaunch({launcher});
        ASSERT_EQ(relaunch.Start("/bin/true"), S::Pending) << c.script;
        EXPECT_EQ(Settle(relaunch), c.status) << c.script;
    }
    EXPECT_EQ(test::ReadText(args), "/bin/true --setuidroot\n");

    RootRelaunch missingExecutable({"/bin/true"});
    EXPECT_EQ(missingExecutable.Start(dir / "no-such-program"), S::NotFound);
    RootRelaunch missingLauncher({dir / "no-launcher"});
    EXPECT_EQ(missingLauncher.Start("/bin/true"), S::Denied);
    EXPECT_FALSE(RootRelaunch::OwnExecutable().empty());
}

}  // namespace
}  // namespace qv::app
