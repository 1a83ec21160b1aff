#include "fileops/volume_rows.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "sessions/automount_options.h"
#include "support/test_support.h"

namespace qv::fileops {
namespace {

TEST(VolumeRows, EachKindOfMountGivesTheAddressItCanBeMountedFrom) {
    struct Case {
        platform::MountEntry mount;
        int type;  // -1: no row
        const char* scheme;
        const char* user;
        const char* host;
        const char* path;
    };
    const Case cases[] = {
        {{"/mnt/nas", "cifs", "//nas.local/photos/2024", "rw,username=ann"},
         1,
         "smb",
         "ann",
         "nas.local",
         "/photos/2024"},
        {{"/mnt/nas", "smb3", "//nas/share", "rw"}, 1, "smb", "me", "nas", "/share"},
        {{"/net/home", "nfs4", "[fe80::1]:/export/home", "rw"},
         1,
         "nfs",
         "me",
         "[fe80::1]",
         "/export/home"},
        {{"/net/home", "nfs", "server:/srv", "rw"}, 1, "nfs", "me", "server", "/srv"},
        {{"/home/me/box", "fuse.sshfs", "bob@box:docs", "rw"}, 1, "sftp", "bob", "box", "/~/docs"},
        {{"/home/me/dav", "davfs", "https://cloud.example/remote.php/dav", "rw"},
         1,
         "https",
         "me",
         "cloud.example",
         "/remote.php/dav"},
        {{"/media/me/STICK", "vfat", "/dev/sdb1", "rw"},
         2,
         "file",
         "me",
         "localhost",
         "/media/me/STICK"},
        {{"/", "ext4", "/dev/sda2", "rw"}, -1, "", "", "", ""},  // the system's own volumes
        {{"/boot/efi", "vfat", "/dev/sda1", "rw"}, -1, "", "", "", ""},
        {{"/home", "ext4", "/dev/sda3", "rw"}, -1, "", "", "", ""},
        {{"/tmp", "tmpfs", "tmpfs", "rw"}, -1, "", "", "", ""},     // nothing to mount again
        {{"/mnt/x", "nfs", "no-colon", "rw"}, -1, "", "", "", ""},  // unreadable address
        {{"/mnt/x", "cifs", "", "rw"}, -1, "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mount.source);
        const auto row = VolumeRowForMount(c.mount, {"me", "", ""});
        ASSERT_EQ(row.has_value(), c.type != -1);
        if (!row) continue;
        EXPECT_EQ(row->intAt("volumeType"), c.type);
        EXPECT_EQ(row->stringAt("scheme"), c.scheme);
        EXPECT_EQ(row->stringAt("user"), c.user);
        EXPECT_EQ(row->stringAt("host"), c.host);
        EXPECT_EQ(row->stringAt("path"), c.path);
        EXPECT_EQ(row->stringAt("mountPoint"), c.mount.mountPoint);
        EXPECT_EQ(row->intAt("unmountVolume"), c.type == 2 ? 0 : 1);
    }
    // A loop device is its image file, a disk is its stable name.
    const platform::MountEntry loop{"/mnt/img", "ext4", "/dev/loop3", "rw"};
    const auto image = VolumeRowForMount(loop, {"me", "/home/me/disk.img", ""});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->intAt("volumeType"), 3);
    EXPECT_EQ(image->stringAt("dmgPath"), "/home/me/disk.img");
    const auto disk = VolumeRowForMount({"/media/d", "ext4", "/dev/sdc1", ""},
                                        {"me", "", "/dev/disk/by-uuid/1234"});
    EXPECT_EQ(disk->stringAt("diskID"), "/dev/disk/by-uuid/1234");

    // Shares the desktop mounted through gvfs: scheme, user, host and share from the folder.
    const std::string gvfs = "/run/user/1000/gvfs/";
    const struct {
        const char* name;
        const char* scheme;
        const char* user;
        const char* host;
        const char* path;
    } shares[] = {
        {"smb-share:server=nas,share=music,user=ann", "smb", "ann", "nas", "/music"},
        {"sftp:host=box.lan,user=bob", "sftp", "bob", "box.lan", "/"},
        {"dav:host=cloud,ssl=true,prefix=%2Fremote.php%2Fdav", "davs", "me", "cloud",
         "/remote.php/dav"},
        {"smb-share:server=nas", nullptr, "", "", ""},  // no share
        {"mtp:host=phone", nullptr, "", "", ""},
    };
    for (const auto& s : shares) {
        SCOPED_TRACE(s.name);
        const auto row = GvfsShareRow(gvfs + s.name, "me");
        ASSERT_EQ(row.has_value(), s.scheme != nullptr);
        if (!row) continue;
        EXPECT_EQ(row->stringAt("scheme"), s.scheme);
        EXPECT_EQ(row->stringAt("user"), s.user);
        EXPECT_EQ(row->stringAt("host"), s.host);
        EXPECT_EQ(row->stringAt("path"), s.path);
        EXPECT_EQ(row->stringAt("mountPoint"), gvfs + s.name);
    }
}

TEST(VolumeRows, MountOfPathReadsEscapedNamesAndPrefersTheMountAtTheVolumeRoot) {
    test::TempDir dir;
    struct stat st {};
    ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
    const std::string dev =
        std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    const std::string root = platform::VolumeRoot(dir.path());
    const std::string table = dir.path() + "/mountinfo";
    std::ofstream(table) << "20 1 " << dev << " / " << root << " rw - ext4 /dev/sda1 rw\n"
                         << "21 1 " << dev << " /sub /srv/my\\040disk rw - ext4 /dev/sda1 rw\n"
                         << "22 1 99:99 / /other rw - tmpfs tmpfs rw\n";
    const auto mount = platform::MountOfPath(dir.path(), table);
    ASSERT_TRUE(mount);
    EXPECT_EQ(mount->mountPoint, root);
    std::ofstream(table) << "21 1 " << dev << " /sub /srv/my\\040disk rw - ext4 /dev/sda1 rw\n";
    EXPECT_EQ(platform::MountOfPath(dir.path(), table)->mountPoint, "/srv/my disk");
    EXPECT_FALSE(platform::MountOfPath(dir.path() + "/none", table));
}

TEST(VolumeRows, AddVolumeRowFillsTheFirstEmptyRowOnce) {
    plist::Value dict = sessions::DefaultAutoMountDict();
    plist::Value row = *VolumeRowForMount({"/mnt/nas", "cifs", "//nas/a", ""}, {"me", "", ""});
    EXPECT_TRUE(sessions::AddVolumeRow(dict, row));
    EXPECT_TRUE(sessions::AddVolumeRow(dict, row));  // already listed
    const auto& rows = dict.arrayAt("autoMountVolumeArray")->array();
    EXPECT_EQ(rows[0].stringAt("host"), "nas");
    EXPECT_EQ(rows[1].stringAt("host"), "");
    row.set("mountPoint", "/mnt/other");
    EXPECT_TRUE(sessions::AddVolumeRow(dict, row));
    EXPECT_EQ(rows[1].stringAt("mountPoint"), "/mnt/other");
    row.set("user", "");
    EXPECT_FALSE(sessions::AddVolumeRow(dict, row));
}

}  // namespace
}  // namespace qv::fileops
