#include "platform/privileges.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/run_lock.h"
#include "platform/support_paths.h"
#include "support/test_support.h"

namespace qv::platform {
namespace {

constexpr uid_t kNobody = 65534;

uid_t OwnerOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

TEST(PrivilegesTest, RootWorksInTheInvokingUsersFoldersAndGivesThemWhatItMakes) {
    if (!RunningAsRoot()) GTEST_SKIP() << "a root instance for a user needs root";
    test::TempDir home;
    test::ScopedEnv env;
    test::UsePrivateHome(env, home.path());
    env.Set("XDG_CONFIG_HOME", home / "elsewhere");
    EXPECT_FALSE(InvokingUser().has_value());
    EXPECT_EQ(SupportPaths::FromEnvironment().pathFolderPref, home / "elsewhere/quorvel");

    struct Case {
        const char* pkexec;
        const char* sudo;
        bool invoked;
    };
    const Case cases[] = {
        {"65534", nullptr, true}, {nullptr, "65534", true},  {"0", nullptr, false},
        {"x1", nullptr, false},   {nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        c.pkexec ? env.Set("PKEXEC_UID", c.pkexec) : env.Unset("PKEXEC_UID");
        c.sudo ? env.Set("SUDO_UID", c.sudo) : env.Unset("SUDO_UID");
        const std::optional<InvokingUserInfo> user = InvokingUser();
        ASSERT_EQ(user.has_value(), c.invoked) << (c.pkexec ? c.pkexec : "-");
        if (!user) continue;
        EXPECT_EQ(user->uid, kNobody);
        // That user's home with the usual folders, whatever root's environment says.
        const SupportPaths paths = SupportPaths::FromEnvironment();
        EXPECT_EQ(paths.pathFolderPref, JoinPath(user->home, ".config/quorvel"));
        EXPECT_EQ(paths.pathNimbrelAppSupp, JoinPath(user->home, ".local/share/Nimbrel"));
    }
    env.Unset("PKEXEC_UID");
    env.Unset("SUDO_UID");

    const std::string replaced = home / "root.txt";
    test::WriteText(replaced, "root's");
    SetOwnerOfCreatedFiles(kNobody, kNobody);
    EXPECT_TRUE(CreateFolderWithFoldersInBetween(home / "made/inner"));
    EXPECT_TRUE(
        CreateFolderWithFoldersInBetween(home / "made/trees", nullptr, CreatedOwner::Process));
    EXPECT_TRUE(WriteFileAtomically(home / "made/new.plist", "new").ok);
    EXPECT_TRUE(WriteFileAtomically(replaced, "rewritten").ok);
    std::string heldBy, error;
    const auto lock = RunLock::TryAcquire(home / "made", "test", &heldBy, &error);
    ClearOwnerOfCreatedFiles();
    ASSERT_TRUE(lock.has_value()) << error;
    for (const char* made : {"made", "made/inner", "made/new.plist", "made/run.lock"}) {
        EXPECT_EQ(OwnerOf(home / made), kNobody) << made;
    }
    EXPECT_EQ(OwnerOf(replaced), 0u);  // a replaced file keeps its owner
    EXPECT_EQ(OwnerOf(home / "made/trees"), 0u);
    EXPECT_EQ(OwnerOf(home.path()), 0u);
    EXPECT_TRUE(CreateFolderWithFoldersInBetween(home / "after"));
    EXPECT_EQ(OwnerOf(home / "after"), 0u);
}

}  // namespace
}  // namespace qv::platform
