#include "platform/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/deferred_close.h"
#include "platform/file_system.h"
#include "platform/support_paths.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace qv::platform {
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(FileIoTest, ReadWholeFileRefusesWhatIsNotASmallRegularFile) {
    test::TempDir dir;
    test::WriteText(dir / "small", "12345");
    EXPECT_EQ(ReadWholeFile(dir / "small", 5).bytes, "12345");
    EXPECT_EQ(ReadWholeFile(dir / "small", 4).status, ReadStatus::TooLarge);
    EXPECT_EQ(ReadWholeFile(dir / "missing", 10).status, ReadStatus::Missing);
    EXPECT_EQ(ReadWholeFile(dir / "small/below", 10).status, ReadStatus::Missing);
    EXPECT_EQ(ReadWholeFile(dir.path(), 10).status, ReadStatus::NotAFile);
    EXPECT_EQ(ReadWholeFile("/dev/zero", 10).status, ReadStatus::NotAFile);  // never reads forever
    test::WriteText(dir / "empty", "");
    auto empty = ReadWholeFile(dir / "empty", 10);
    EXPECT_EQ(empty.status, ReadStatus::Ok);
    EXPECT_TRUE(empty.bytes.empty());
}

TEST(FileIoTest, CreatesFoldersInBetweenAndPathHelpers) {
    test::TempDir dir;
    const std::string deep = dir / "a/b/c d/é";
    std::string reason;
    ASSERT_TRUE(CreateFolderWithFoldersInBetween(deep, &reason)) << reason;
    EXPECT_TRUE(IsExistingFolder(deep));
    EXPECT_TRUE(CreateFolderWithFoldersInBetween(deep + "/"));  // already there
    test::WriteText(dir / "file", "x");
    EXPECT_FALSE(CreateFolderWithFoldersInBetween(dir / "file/sub", &reason));
    EXPECT_FALSE(reason.empty());

    EXPECT_EQ(ParentFolder("/a/b/"), "/a");
    EXPECT_EQ(ParentFolder("/a"), "/");
    EXPECT_EQ(ParentFolder("name"), ".");
    EXPECT_EQ(LastPathComponent("/a/b/"), "b");
    EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
}

// A tree goes whole, a link inside it as a link (what it points to stays); a part that cannot
// be removed is told, and what could not go is left.
TEST(FileIoTest, RemoveTreeNeverFollowsALinkAndTellsWhatStays) {
    test::TempDir dir;
    test::WriteText(dir / "kept/precious", "keep me");
    for (const char* file : {"tree/a", "tree/sub/b", "tree/sub/deeper/c"}) {
        test::WriteText(dir / file, "x");
    }
    ASSERT_EQ(::symlink((dir / "kept").c_str(), (dir / "tree/sub/link").c_str()), 0);
    {
        test::FaultyFileSystem refusing({{test::Sys::unlinkat, EACCES, "deeper/c"}});
        const ScopedFileSystem installed(refusing);
        EXPECT_FALSE(RemoveTree(dir / "tree"));
    }
    EXPECT_TRUE(ItemExists(dir / "tree/sub/deeper/c"));
    EXPECT_FALSE(ItemExists(dir / "tree/a"));
    EXPECT_TRUE(RemoveTree(dir / "tree"));
    EXPECT_FALSE(ItemExists(dir / "tree"));
    EXPECT_EQ(test::ReadText(dir / "kept/precious"), "keep me");
    EXPECT_TRUE(RemoveTree(dir / "nothing here"));
}

TEST(SupportPathsTest, FollowsXdgAndKeepsPreferencesPrivate) {
    test::TempDir dir;
    test::ScopedEnv env;
    env.Set("HOME", dir.path());
    env.Unset("XDG_CONFIG_HOME");
    env.Unset("XDG_DATA_HOME");
    SupportPaths p = SupportPaths::FromEnvironment();
    EXPECT_EQ(p.pathFilePref, dir / ".config/quorvel/app.quorvel.Quorvel.plist");
    EXPECT_EQ(p.pathFileDocTemplate, dir / ".config/quorvel/app.quorvel.Quorvel.template.plist");
    EXPECT_EQ(p.pathQV4AppSupp, dir / ".local/share/Nimbrel/Quorvel 4");
    EXPECT_EQ(p.pathExactSyncIndexFolder, dir / ".local/share/Nimbrel/Quorvel 4/ExactSync Indexes");
    EXPECT_EQ(p.pathLogFolder, dir / ".local/share/Nimbrel/Quorvel 4/Log Files");
    EXPECT_FALSE(ItemExists(p.pathFolderPref));  // nothing is created by asking

    env.Set("XDG_CONFIG_HOME", dir / "cfg");
    env.Set("XDG_DATA_HOME", "relative/ignored");
    p = SupportPaths::FromEnvironment();
    EXPECT_EQ(p.pathFolderPref, dir / "cfg/quorvel");
    EXPECT_EQ(p.pathNimbrelAppSupp, dir / ".local/share/Nimbrel");

    ASSERT_TRUE(p.EnsurePreferencesFolder());
    EXPECT_EQ(ModeOf(p.pathFolderPref), 0700u);
    ASSERT_TRUE(p.EnsureSupportFolder());
    EXPECT_TRUE(IsExistingFolder(p.pathQV4AppSupp));
}

TEST(DeferredCloserTest, EveryDescriptorHandedOverIsClosedAndAHeldFileOutlivesItsName) {
    test::TempDir dir;
    test::WriteText(dir / "replaced", "old");
    const UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
    UniqueFd held = HoldItem(folder.get(), "replaced");
    ASSERT_TRUE(held.valid());
    ASSERT_EQ(::unlinkat(folder.get(), "replaced", 0), 0);
    struct stat st {};
    ASSERT_EQ(::fstat(held.get(), &st), 0);
    EXPECT_EQ(st.st_nlink, 0u);  // gone by name, still held

    std::vector<int> fds{held.get()};
    {
        DeferredCloser closer(4);  // most go past the queue's limit and are closed at once
        closer.Close(std::move(held));
        closer.Flush();
        EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);  // its space is free once Flush returns
        for (int i = 0; i < 100; ++i) {
            UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            fds.push_back(fd.get());
            closer.Close(std::move(fd));
        }
    }
    // Nothing was opened since: every number handed over is free again.
    for (int fd : fds) EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << fd;
}

}  // namespace
}  // namespace qv::platform
