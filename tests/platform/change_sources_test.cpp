// What the triggers learn from the system: the mount table read and searched, and inotify
// watching a real tree as it grows, changes and loses folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "platform/mount_table.h"
#include "platform/tree_watch.h"
#include "support/test_support.h"

namespace qv::platform {
namespace {

TEST(ChangeSourcesTest, TheMountTableIsReadAndTheMountAPathLiesOnFound) {
    const std::vector<MountRecord> table = ParseMountTable(
        "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "35 21 0:40 / /media/ann/My\\040Disk rw - vfat /dev/sdb1 rw\n"
        "not a line\n"
        "36 21 0:41 / /media/ann rw - tmpfs tmpfs rw\n"
        "37 35 0:42 / /media/ann/My\\040Disk rw - vfat /dev/sdc1 rw");
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[1].mountPoint, "/media/ann/My Disk");
    const struct {
        const char* path;
        std::int64_t id;  // 0: none
    } cases[] = {
        {"/home/ann", 21},
        {"/", 21},
        {"/media/ann/My Disk/backup", 37},  // mounted over 35
        {"/media/ann/My Disk", 37},
        {"/media/ann/My Diskette", 36},
        {"/media/annex", 21},
        {"relative/path", 0},
    };
    for (const auto& c : cases) {
        const MountRecord* m = MountCovering(table, c.path);
        EXPECT_EQ(m != nullptr ? m->id : 0, c.id) << c.path;
    }
    // This process's own table says where / is, and asking twice tells no change between.
    SystemMountTable system;
    EXPECT_NE(MountCovering(system.Read(), "/"), nullptr);
    system.Changed();
    EXPECT_FALSE(system.Changed());
}

TEST(ChangeSourcesTest, InotifyWatchesNewFoldersAndDropsThoseThatLeave) {
    test::TempDir dir;
    const std::string root = dir / "A", outside = dir / "elsewhere";
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
    InotifyTreeWatch watch;
    EXPECT_EQ(watch.Watch(dir / "missing"), WatchStatus::Missing);
    ASSERT_EQ(watch.Watch(root), WatchStatus::Watching);
    EXPECT_EQ(watch.watchCount(), 1u);
    EXPECT_TRUE(watch.Poll().changed.empty());

    // A new folder is watched as it comes, and a change inside it is news of the root. The
    // kernel queues an event before the call that caused it returns: no waiting is needed.
    ASSERT_EQ(::mkdir((root + "/photos").c_str(), 0755), 0);
    EXPECT_EQ(watch.Poll().changed, std::vector<std::string>{root});
    EXPECT_EQ(watch.watchCount(), 2u);
    test::WriteText(root + "/photos/cat.jpg", "meow");
    EXPECT_EQ(watch.Poll().changed, std::vector<std::string>{root});
    EXPECT_TRUE(watch.Poll().changed.empty());

    // A folder moved out of the tree is no longer watched: what happens to it is no news.
    ASSERT_EQ(std::rename((root + "/photos").c_str(), (outside + "/photos").c_str()), 0);
    EXPECT_EQ(watch.Poll().changed, std::vector<std::string>{root});
    EXPECT_EQ(watch.watchCount(), 1u);
    test::WriteText(outside + "/photos/dog.jpg", "woof");
    EXPECT_TRUE(watch.Poll().changed.empty());

    // The root itself going is told as lost; watched again once it is back.
    ASSERT_EQ(::rmdir(root.c_str()), 0);
    const ChangeNews gone = watch.Poll();
    EXPECT_EQ(gone.lost, std::vector<std::string>{root});
    EXPECT_EQ(watch.watchCount(), 0u);
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    EXPECT_EQ(watch.Watch(root), WatchStatus::Watching);
}

}  // namespace
}  // namespace qv::platform
