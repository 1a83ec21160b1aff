// A whole run through the engine and the real copy executor, judged by comparing the two sides
// afterwards: every item, its content and its metadata must have reached the other side, and
// the side read from must be left as it was.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/exact_sync_index.h"
#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "items/tw_utilities.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/tree_fixture.h"
#include "support/tree_snapshot.h"

namespace qv::engine {
namespace {

void SetTimes(const std::string& path, std::int64_t seconds, long nanoseconds) {
    const std::array<timespec, 2> times{timespec{seconds, nanoseconds},
                                        timespec{seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Fills top with every kind of item a copy must carry over whole. What the file system of the
// temporary folder cannot hold (user xattrs, ACLs) or the user may not do (give a file away) is
// left out, and said.
void BuildRichTree(const std::string& top, bool withOtherOwner) {
    namespace fs = std::filesystem;
    fs::create_directories(top + "/nested/deeper");
    fs::create_directories(top + "/private");
    fs::create_directories(top + "/shared");
    test::WriteText(top + "/nested/deeper/leaf.txt", "leaf");
    test::WriteText(top + "/nested/mid.txt", "mid");
    test::WriteText(top + "/readonly.txt", "do not touch");
    test::WriteText(top + "/xattr.txt", "with an attribute");
    test::WriteText(top + "/acl.txt", "with an access list");
    test::WriteText(top + "/bad\xff\xfe name.txt", "not UTF-8");
    test::WriteText(top + "/private/secret.txt", "secret");
    ASSERT_EQ(::symlink("nested/deeper/leaf.txt", (top + "/link").c_str()), 0);

    ASSERT_EQ(::chmod((top + "/readonly.txt").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((top + "/private").c_str(), 0700), 0);
    for (const char* folder : {"/nested", "/nested/deeper"}) {
        ASSERT_EQ(::chmod((top + folder).c_str(), 0755), 0);
    }
    if (test::SetXattr(top + "/xattr.txt", "user.test", "1") != 0) {
        std::printf("note: no user xattrs on this file system\n");
    }
    if (test::SetAcl(top + "/acl.txt", "u::rw-,u:65534:r--,g::r--,m::r--,o::r--") != 0) {
        std::printf("note: no ACLs on this file system\n");
    }
    // A folder whose default ACL its new items inherit, and one such item.
    test::SetAcl(top + "/shared", "u::rwx,u:65534:r-x,g::r-x,m::r-x,o::r-x", true);
    test::WriteText(top + "/shared/inherited.txt", "inherits");
    if (withOtherOwner) {
        test::WriteText(top + "/owned.txt", "someone else's");
        ASSERT_EQ(::lchown((top + "/owned.txt").c_str(), 1234, 1234), 0);
    }

    // Nanoseconds everywhere; folders last, deepest first, since filling them moves their dates.
    long ns = 1;
    for (const char* item :
         {"/nested/deeper/leaf.txt", "/nested/mid.txt", "/readonly.txt", "/xattr.txt", "/acl.txt",
          "/bad\xff\xfe name.txt", "/private/secret.txt", "/link"}) {
        SetTimes(top + item, 1600000000, ns);
        ns = ns * 10 + 7;
    }
    if (withOtherOwner) SetTimes(top + "/owned.txt", 1500000000, 999999999);
    SetTimes(top + "/nested/deeper", 1400000000, 123456789);
    SetTimes(top + "/nested", 1400000001, 987654321);
    SetTimes(top + "/private", 1400000002, 5);
    SetTimes(top + "/shared", 1400000003, 500000000);
}

// Runs the session of doc through the engine and the real executor; the number of errors the
// run reported. As root with asUser, the run is made by "nobody" in a child process: an
// ordinary user cannot write a read-only copy's attributes once its mode is given, so the
// executor takes another path for it than root does.
int RunSession(const sessions::SessionDocument& doc, bool asUser) {
    const auto run = [&doc] {
        const plist::Value prefs = plist::Dict{{"prefOnError", 2}};
        test::FakeProxy proxy;
        NoExactSyncIndex index;
        items::TWUtilities tw;
        fileops::RunExecutor executor{proxy, tw};
        RunEngine engine(doc, prefs, proxy, index, executor, tw);
        engine.ExecuteSyncBackup();
        for (const std::string& error : proxy.errors())
            std::printf("run error: %s\n", error.c_str());
        return static_cast<int>(engine.state().totals.gGlobalError);
    };
    return asUser && ::geteuid() == 0 ? test::RunAsNobody(run) : run();
}

TEST(BothSidesTest, ARunLeavesBothSidesAlike) {
    const bool root = ::geteuid() == 0;
    const struct {
        const char* name;
        std::int64_t task;
        bool fromB;   // the tree starts in B: a Synchronize must bring it to A
        bool asUser;  // as root, the run is made by an ordinary user
    } cases[] = {
        {"Backup", sessions::kTaskBackup, false, false},
        {"Synchronize A to B", sessions::kTaskSynchronize, false, false},
        {"Synchronize B to A", sessions::kTaskSynchronize, true, false},
        {"Backup by a user", sessions::kTaskBackup, false, true},
        {"Synchronize B to A by a user", sessions::kTaskSynchronize, true, true},
    };
    for (const auto& c : cases) {
        if (c.asUser && !root) continue;  // the cases above already ran as a user
        SCOPED_TRACE(c.name);
        test::TreeFixture tree;
        const std::string from = c.fromB ? tree.b() : tree.a();
        BuildRichTree(from, root && !c.asUser);
        if (HasFatalFailure()) return;
        if (c.asUser) {
            ASSERT_TRUE(test::GiveToNobody(tree.path("")));
        }
        const test::TreeSnapshot before = test::Snapshot(from, {.withRoot = false});
        const sessions::SessionDocument doc = test::TwoFolderDocument(tree.a(), tree.b(), c.task);
        for (int run = 1; run <= 2; ++run) {  // the second run finds nothing to do
            SCOPED_TRACE("run " + std::to_string(run));
            EXPECT_EQ(RunSession(doc, c.asUser), 0);
            EXPECT_TRUE(test::SameTrees(tree.a(), tree.b(), {.withRoot = false}));
            const test::TreeSnapshot after = test::Snapshot(from, {.withRoot = false});
            EXPECT_EQ(before, after) << "the side read from changed:\n"
                                     << test::Diff(before, after);
        }
    }
}

}  // namespace
}  // namespace qv::engine
