// The copy executor on real trees: every action, the counters and log lines, and what a
// failure in the middle of a copy leaves behind.

#include "fileops/executor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>

#include "engine/run_engine.h"
#include "platform/file_system.h"
#include "sessions/settings_options.h"
#include "support/executor_fixture.h"
#include "support/fake_proxy.h"
#include "support/faulty_file_system.h"
#include "support/tree_fixture.h"

namespace qv::fileops {
namespace {

using ExecutorTest = test::ExecutorFixture;

TEST_F(ExecutorTest, BackupCopiesReplacesAndKeepsMetadata) {
    tree.Build({"A/new.txt:new@1000.25", "A/sub/deep.txt:deep@2000", "A/same.txt:same@3000",
                "B/same.txt:same@3000", "A/changed.txt:v2@5000", "B/changed.txt:v1@4000",
                "B/extra.txt:kept@100"});
    // Modes, nanosecond dates, links and extended attributes reaching B: BothSidesTest.
    ::symlink("new.txt", tree.path("A/link").c_str());
    // A sparse file: 8 MiB long, 4 KiB of data in the middle.
    const int sparse = ::open(tree.path("A/sparse").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::ftruncate(sparse, 8 << 20), 0);
    ASSERT_EQ(::pwrite(sparse, std::string(4096, 'x').data(), 4096, 4 << 20), 4096);
    ::close(sparse);

    const run::RunState& s = Run();
    EXPECT_EQ(s.totals.gGlobalError, 0) << proxy.errors().front();
    EXPECT_EQ(Read("B/new.txt"), "new");
    EXPECT_EQ(Read("B/sub/deep.txt"), "deep");
    EXPECT_EQ(Read("B/changed.txt"), "v2");
    EXPECT_EQ(Read("B/extra.txt"), "kept");  // a plain backup deletes nothing
    struct stat from {
    }, to{};
    ASSERT_EQ(
        ::stat(tree.path("A/sparse").c_str(), &from) | ::stat(tree.path("B/sparse").c_str(), &to),
        0);
    EXPECT_EQ(to.st_size, from.st_size);
    EXPECT_LE(to.st_blocks, from.st_blocks + 64);  // the holes stayed holes
    EXPECT_EQ(Read("B/sparse"), Read("A/sparse"));
    if (tree.HasUserXattrs()) {
        EXPECT_EQ(tree.BackupDate("B/new.txt"), s.totals.gStartSyncDateTimeUTC);
    }
    const run::TaskLog& task = s.logSessionArray.at(0).logTaskArray.at(0);
    ASSERT_TRUE(task.copyCounters.has_value());
    EXPECT_EQ(task.copyCounters->gBFilesCopied, 4);  // new.txt, link, sparse, sub/deep.txt
    EXPECT_EQ(task.copyCounters->gBFilesReplaced, 1);
    EXPECT_EQ(task.copyCounters->gBFoldersCreated, 1);
    EXPECT_TRUE(test::Contains(Log(), "Replaced file: \"" + tree.path("B/changed.txt") +
                                          "\"\rwith the most recent file: \"" +
                                          tree.path("A/changed.txt") + "\""));
    EXPECT_TRUE(test::Contains(Log(), "Created folder \"" + tree.path("B/sub") + "\""));
    EXPECT_EQ(Entries("B"), (std::vector<std::string>{"changed.txt", "extra.txt", "link", "new.txt",
                                                      "same.txt", "sparse", "sub"}));
    // Nothing left to do afterwards.
    EXPECT_EQ(Run().totals.gItemsToDoTotal, 0);
}

// A Synchronize copying from B to A: BothSidesTest ("Synchronize B to A").
TEST_F(ExecutorTest, ExactBackupDeletesWhatIsOnlyInB) {
    tree.Build({"A/a.txt:a@1000", "B/b.txt:b@1000", "B/gone/x:x@1000", "B/gone/y:y@1000"});
    test::SetOption(doc, 0, "settingsDict", "settExact", 1);
    const run::RunState& backup = Run();
    EXPECT_EQ(Entries("B"), std::vector<std::string>{"a.txt"});
    const run::CopyCounters& c = *backup.logSessionArray.at(0).logTaskArray.at(0).copyCounters;
    EXPECT_EQ(c.gBFilesDeleted, 3);
    EXPECT_EQ(c.gBFoldersDeleted, 1);
}

TEST_F(ExecutorTest, AFolderToDeleteKeepsWhatAppearedInItAfterTheScan) {
    tree.Build({"A/a.txt:a@1000", "B/gone/x:x@1000"});
    test::SetOption(doc, 0, "settingsDict", "settExact", 1);
    proxy.onHook = [&](test::Hook hook) {
        if (hook == test::Hook::PurgeBeforeMainCopy) test::WriteText(tree.path("B/gone/new"), "!");
    };
    const run::RunState& s = Run();
    EXPECT_EQ(Read("B/gone/new"), "!");  // never planned, never deleted
    EXPECT_FALSE(std::filesystem::exists(tree.path("B/gone/x")));
    EXPECT_EQ(s.totals.gGlobalError, 1);  // the folder itself could not go
}

TEST_F(ExecutorTest, AnOrdinaryUserCopiesAReadOnlyFileWithItsAclAndNoMarkLeft) {
    // Its owner may not write a read-only file's attributes: they must all be given before the
    // mode and the ACL take that right away, and the temporary mark must still come off.
    tree.Build({"A/ro.txt:data@1000", "B/"});
    const std::string src = tree.path("A/ro.txt"), dst = tree.path("B/ro.txt");
    if (test::SetAcl(src, "u::r--,u:4242:rw-,g::r--,m::rw-,o::r--") != 0 ||
        test::SetXattr(src, "user.a", "b") != 0) {
        GTEST_SKIP() << "the temporary folder keeps no ACLs or user xattrs";
    }
    ASSERT_EQ(::chmod(src.c_str(), 0444), 0);
    const auto run = [&] {
        items::TWUtilities user;
        RunExecutor userExecutor{proxy, user};
        engine::RunEngine runner(doc, prefs, proxy, index, userExecutor, user);
        runner.ExecuteSyncBackup();
        return runner.state().totals.gGlobalError == 0 ? 0 : 1;
    };
    if (::geteuid() == 0) {  // root: the run as nobody
        ASSERT_TRUE(test::GiveToNobody(tree.path("")));
        EXPECT_EQ(test::RunAsNobody(run), 0);
    } else {
        EXPECT_EQ(run(), 0);
    }
    EXPECT_EQ(Read("B/ro.txt"), "data");
    struct stat st {};
    ASSERT_EQ(::lstat(dst.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000);
    EXPECT_LT(::lgetxattr(dst.c_str(), items::kTemporaryXattr, nullptr, 0), 0);
    EXPECT_EQ(::lgetxattr(dst.c_str(), "user.a", nullptr, 0), 1);
    EXPECT_GT(tree.BackupDate("B/ro.txt"), 0);
    EXPECT_TRUE(test::Contains(test::AclText(dst), "user:4242:rw-"));
    EXPECT_EQ(test::AclText(dst), test::AclText(src));
}

TEST_F(ExecutorTest, FailedCopiesLeaveTheOldFileAndNoPartOfTheNewOne) {
    tree.Build(
        {"A/big.txt:new content@5000", "B/big.txt:old content@4000", "A/fresh.txt:fresh@5000"});
    // No reflinks, and every data copy finds the disk full.
    test::FaultyFileSystem full(
        {{test::Sys::ficlone, EOPNOTSUPP}, {test::Sys::copy_file_range, ENOSPC}});
    platform::ScopedFileSystem failing(full);
    const run::RunState& s = Run();
    EXPECT_EQ(s.totals.gGlobalError, 2);
    EXPECT_EQ(Read("B/big.txt"), "old content");
    // Neither a partial new file nor a temporary is left.
    EXPECT_EQ(Entries("B"), std::vector<std::string>{"big.txt"});
    ASSERT_EQ(proxy.errors().size(), 0u);  // policy 2: logged, not shown
    EXPECT_TRUE(
        test::Contains(Log(), "√ Can't replace the file:\r\"" + tree.path("B/big.txt") + "\""));
    EXPECT_TRUE(
        test::Contains(Log(), "√ Can't copy the file\r\"" + tree.path("A/fresh.txt") + "\""));
}

TEST_F(ExecutorTest, LeftoversOfAnInterruptedCopyAreRemovedNotCopied) {
    tree.Build({"B/QVTempFile:half@1000", "B/QVTempFile 3:half@1000", "A/QVTempFile 2:mine@1000",
                "A/QVTempLink~quorvel 4:a user's file, not a link@1000"});
    // A link cannot be marked: one at a link's temporary name is a leftover by its name.
    ASSERT_EQ(::symlink("target", tree.path("B/QVTempLink~quorvel").c_str()), 0);
    if (::setxattr(tree.path("B/QVTempFile").c_str(), items::kTemporaryXattr, "1", 1, 0) != 0) {
        GTEST_SKIP() << "no user xattrs here: temporaries cannot be marked";
    }
    ::setxattr(tree.path("B/QVTempFile 3").c_str(), items::kTemporaryXattr, "1", 1, 0);
    test::SetOption(doc, 0, "settingsDict", "settTask", sessions::kTaskSynchronize);
    Run();
    // The marked leftovers are gone and were not copied to A; a user's file of such a name is
    // an ordinary file.
    const std::vector<std::string> kept{"QVTempFile 2", "QVTempLink~quorvel 4"};
    EXPECT_EQ(Entries("B"), kept);
    EXPECT_EQ(Entries("A"), kept);
    EXPECT_TRUE(items::IsTemporaryName("QVTempFile 12"));
    EXPECT_TRUE(items::IsTemporaryName("QVTempLink~quorvel 2"));
    EXPECT_FALSE(items::IsTemporaryName("QVTempFile x"));
    EXPECT_FALSE(items::IsTemporaryName("QVTempFiles"));
}

TEST_F(ExecutorTest, PackagesAreOneItemAndTrashKeepsWhatExactBackupRemoves) {
    tree.Build({"A/Tool.app/Contents/Info.plist:v2@5000", "A/Tool.app/Contents/MacOS/tool:bin@5000",
                "B/Tool.app/Contents/Info.plist:v1@1000", "B/Tool.app/Contents/Old.txt:x@1000",
                "B/old/a.txt:a@1000", "B/old/b.txt:b@1000", "A/Tool.app/@5000",
                "B/Tool.app/@1000"});
    test::ScopedEnv env;
    env.Set("XDG_DATA_HOME", tree.path("home-data"));
    test::SetOption(doc, 0, "settingsDict", "settExact", 1);
    test::SetOption(doc, 0, "settingsDict", "settMoveToTrash", 1);
    const run::RunState& s = Run();
    EXPECT_EQ(s.totals.gGlobalError, 0) << proxy.errors().front();
    // The package was replaced whole: nothing of the old one is left inside.
    EXPECT_EQ(Entries("B/Tool.app/Contents"), (std::vector<std::string>{"Info.plist", "MacOS"}));
    EXPECT_EQ(Read("B/Tool.app/Contents/Info.plist"), "v2");
    // The folder only in B went to the trash as a whole, with an info file naming it.
    EXPECT_EQ(Entries("B"), std::vector<std::string>{"Tool.app"});
    EXPECT_EQ(Entries("home-data/Trash/files/old"), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(test::Contains(Read("home-data/Trash/info/old.trashinfo"),
                               "Path=" + tree.path("B/old") + "\n"));
    const run::TaskLog& task = s.logSessionArray.at(0).logTaskArray.at(0);
    EXPECT_EQ(task.copyCounters->gBFilesDeleted, 2);
    EXPECT_EQ(task.copyCounters->gBFoldersDeleted, 1);
    EXPECT_TRUE(test::Contains(Log(), "Trashed folder \"" + tree.path("B/old") + "\""));
}

// "Don't unlock locked items": a locked file is not replaced and nothing is made in a locked
// folder, each an error; allowed to, the run replaces the file and puts the folder's lock back.
TEST_F(ExecutorTest, LockedDestinationIsReplacedOnlyWhenUnlockingIsAllowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "the immutable flag needs root";
    for (const int unlock : {1, 0}) {
        SCOPED_TRACE(unlock);
        tree.Build(
            {"A/f.txt:new@5000", "B/f.txt:old@1000", "A/d/new:new@5000", "A/d/@1000", "B/d/@9000"});
        Metadata metadata(tw);
        if (!metadata.LockItem(tree.path("B/f.txt")) || !metadata.LockItem(tree.path("B/d"))) {
            GTEST_SKIP() << "no immutable flag here";
        }
        test::SetOption(doc, 0, "settingsDict", "settLockedItems", unlock);
        const run::RunState& s = Run();
        EXPECT_EQ(Read("B/f.txt"), unlock ? "new" : "old");
        EXPECT_EQ(std::filesystem::exists(tree.path("B/d/new")), unlock == 1);
        EXPECT_EQ(s.totals.gGlobalError, unlock ? 0 : 2);
        // The replacement takes the source's state: unlocked.
        EXPECT_EQ(tw.IsLocked(tree.path("B/f.txt")), unlock == 0);
        EXPECT_TRUE(tw.IsLocked(tree.path("B/d")));
        for (const char* item : {"B/f.txt", "B/d"}) metadata.UnlockItem(tree.path(item));
        std::filesystem::remove(tree.path("B/d/new"));
    }
}

}  // namespace
}  // namespace qv::fileops
