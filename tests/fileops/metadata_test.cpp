#include "fileops/metadata.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/acl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qv::fileops {
namespace {

using namespace std::string_literals;

constexpr uid_t kUser = 4242;
constexpr gid_t kGroup = 4343;
constexpr std::int64_t kRunStart = 1700000000;
const std::string kNone = "<none>";

int SetXattr(const std::string& path, const char* name, const std::string& value) {
    return ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0 ? 0 : errno;
}

std::string GetXattr(const std::string& path, const char* name) {
    std::string value(256, '\0');
    const ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
    return n < 0 ? kNone : value.substr(0, static_cast<std::size_t>(n));
}

#define SKIP_WITHOUT_USER_XATTRS(path)                                                       \
    if (const int err = SetXattr(path, "user.quorvel.probe", "1"); err != 0) {               \
        GTEST_SKIP() << "the temporary folder keeps no user xattrs: " << std::strerror(err); \
    }
#define SKIP_UNLESS_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to lock items and give them away"

// The errno of setting or clearing the immutable flag, 0 on success; -1 reads it into *on.
int Immutable(const std::string& path, int on, bool* isOn = nullptr) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    int flags = 0, err = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? 0 : errno;
    if (isOn) *isOn = err == 0 && (flags & FS_IMMUTABLE_FL) != 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    if (err == 0 && on >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) err = errno;
    if (fd >= 0) ::close(fd);
    return err;
}
bool IsImmutable(const std::string& path) {
    bool on = false;
    Immutable(path, -1, &on);
    return on;
}

void SetTimes(const std::string& path, timespec atime, timespec mtime) {
    const timespec times[2] = {atime, mtime};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

struct stat LStat(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}
mode_t Mode(const std::string& path) { return LStat(path).st_mode & 07777; }
std::pair<long, long> Time(timespec t) { return {t.tv_sec, t.tv_nsec}; }

// The ACL in one line with numeric ids, as "user::rw-,user:4242:rw-,group::r--,...".
std::string AclText(const std::string& path, acl_type_t type) {
    const acl_t acl = ::acl_get_file(path.c_str(), type);
    if (acl == nullptr) return kNone;
    char* text = ::acl_to_any_text(acl, nullptr, ',', TEXT_NUMERIC_IDS);
    const std::string result = text ? text : kNone;
    ::acl_free(text);
    ::acl_free(acl);
    return result;
}
int SetAcl(const std::string& path, acl_type_t type, const char* text) {
    const acl_t acl = ::acl_from_text(text);
    const int err = acl && ::acl_set_file(path.c_str(), type, acl) == 0 ? 0 : errno;
    ::acl_free(acl);
    return err;
}

// The utilities as a given user sees them: root passes every mode check, so the mode
// behaviour of the unlock chain is judged for an ordinary user even when root runs the tests.
TWUtilities As(uid_t user, gid_t group) {
    TWUtilities utilities;
    utilities.mUserID = utilities.mEUserID = user;
    utilities.mGroupsID = {group};
    utilities.mEuidIsRoot = user == 0;
    return utilities;
}

class MetadataTest : public ::testing::Test {
  protected:
    // Whatever a test locked, the temporary folder must still go.
    ~MetadataTest() override {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(dir_.path(), ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink(ec)) Immutable(it->path(), 0);
        }
    }
    std::string Make(const std::string& name, mode_t mode) {
        const std::string path = dir_ / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        name.back() == '/' ? void(::mkdir(path.c_str(), 0700)) : test::WriteText(path, "data");
        if (::geteuid() == 0) {
            EXPECT_EQ(::lchown(path.c_str(), kUser, kGroup), 0);
        }
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return name.back() == '/' ? path.substr(0, path.size() - 1) : path;
    }
    test::TempDir dir_;
    TWUtilities tw_;
    Metadata md_{tw_};
};

TEST_F(MetadataTest, CopiedItemsGetTheSourcesMetadataAndTheRunsStartAsBackupDate) {
    SKIP_WITHOUT_USER_XATTRS(dir_.path());
    const bool root = ::geteuid() == 0;
    const std::string finder = "TEXTQVRL\x40\x00"s + std::string(6, '\x07');
    // clang-format off
    const struct { const char* name; mode_t mode; acl_type_t type; const char* srcAcl, *dstAcl,
                   *accessAfter, *defaultAfter; std::string finder; const char* created; bool lock;
    } rows[] = {
        // The destination's own named entry is kept beside the source's; the mask follows the
        // source's mode.
        {"file", 0640, ACL_TYPE_ACCESS, "u::rw-,u:4242:rw-,g::r--,m::rw-,o::---",
         "u::rw-,u:4545:r--,g::r--,m::r--,o::r--",
         "user::rw-,user:4242:rw-,user:4545:r--,group::r--,mask::r--,other::---", nullptr, finder,
         "1234567890", true},
        // A folder without a default ACL takes the source's whole; a stale Finder info goes.
        {"dir/", 0750, ACL_TYPE_DEFAULT, "u::rwx,u:4242:r-x,g::r-x,m::r-x,o::---", nullptr,
         "user::rwx,group::r-x,other::---",
         "user::rwx,user:4242:r-x,group::r-x,mask::r-x,other::---", kNone, nullptr, false},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string src = Make("A/"s + row.name, 0700), dst = Make("B/"s + row.name, 0777);
        if (const int err = SetAcl(src, row.type, row.srcAcl); err != 0) {
            GTEST_SKIP() << "the temporary folder keeps no ACLs: " << std::strerror(err);
        }
        if (root) {
            ASSERT_EQ(::lchown(dst.c_str(), 0, 0), 0);
        }
        if (row.dstAcl) {
            ASSERT_EQ(SetAcl(dst, ACL_TYPE_ACCESS, row.dstAcl), 0);
        }
        ASSERT_EQ(::chmod(src.c_str(), row.mode), 0);
        ASSERT_EQ(SetXattr(src, "user.note", "hello\0world"s), 0);
        ASSERT_EQ(SetXattr(src, kBackupDateXattr, "111"), 0);
        ASSERT_EQ(SetXattr(dst, kFinderInfoXattr, std::string(16, '\x01')), 0);
        if (row.finder != kNone) {
            ASSERT_EQ(SetXattr(src, kFinderInfoXattr, row.finder), 0);
        }
        if (row.created) {
            ASSERT_EQ(SetXattr(src, kCreationDateXattr, row.created), 0);
        }
        SetTimes(src, {1000000000, 123456789}, {1100000000, 987654321});
        if (root && row.lock) {
            ASSERT_EQ(Immutable(src, 1), 0);
        }

        // Twice: a second merge must replace the entries it added, not add them again.
        for (const int pass : {1, 2}) EXPECT_TRUE(md_.CopyACLAttributes(src, dst)) << pass;
        EXPECT_TRUE(md_.CopyAttributes(src, dst, kRunStart));

        const struct stat from = LStat(src), to = LStat(dst);
        EXPECT_EQ(Time(to.st_atim), Time(from.st_atim));
        EXPECT_EQ(Time(to.st_mtim), Time({1100000000, 987654321}));
        EXPECT_EQ(Mode(dst), row.mode);
        if (root) {
            EXPECT_EQ(std::pair(to.st_uid, to.st_gid), std::pair(kUser, kGroup));
        }
        EXPECT_EQ(IsImmutable(dst), root && row.lock);
        EXPECT_EQ(GetXattr(dst, "user.note"), "hello\0world"s);
        EXPECT_EQ(GetXattr(dst, kFinderInfoXattr), row.finder);
        EXPECT_EQ(tw_.GetDate(dst, kCreationDate), tw_.GetDate(src, kCreationDate));
        EXPECT_EQ(tw_.GetDate(dst, kBackupDate), double(kRunStart));
        EXPECT_EQ(AclText(dst, ACL_TYPE_ACCESS), row.accessAfter);
        if (row.defaultAfter) {
            EXPECT_EQ(AclText(dst, ACL_TYPE_DEFAULT), row.defaultAfter);
        }
    }
    // The birth time stands in for a missing creation xattr.
    if (tw_.GetDate(dir_ / "A/dir", kCreationDate)) {
        EXPECT_NE(GetXattr(dir_ / "B/dir", kCreationDateXattr), kNone);
    }
}

TEST_F(MetadataTest, ALinkGetsItsOwnTimesAndItsTargetIsLeftAlone) {
    const std::string target = Make("target", 0600), src = dir_ / "srcLink", dst = dir_ / "dstLink";
    ASSERT_EQ(::symlink("elsewhere", src.c_str()), 0);
    ASSERT_EQ(::symlink("target", dst.c_str()), 0);
    SetTimes(target, {5000, 1}, {6000, 2});
    SetTimes(src, {1000, 111}, {2000, 222});
    EXPECT_TRUE(md_.CopyAttributes(src, dst, kRunStart));
    EXPECT_FALSE(md_.CopyACLAttributes(src, dst));
    EXPECT_TRUE(md_.SetModificationDate(dst, {9, 0}));  // left alone, and that is success
    EXPECT_EQ(Time(LStat(dst).st_atim), Time({1000, 111}));
    EXPECT_EQ(Time(LStat(dst).st_mtim), Time({2000, 222}));
    EXPECT_EQ(Time(LStat(target).st_mtim), Time({6000, 2}));
    EXPECT_EQ(Mode(target), 0600u);
    EXPECT_EQ(GetXattr(target, kBackupDateXattr), kNone);
}

TEST_F(MetadataTest, TheLockFollowsTheSourceEvenOntoALockedDestination) {
    SKIP_UNLESS_ROOT();
    for (const auto& [srcLocked, dstLocked] :
         {std::pair{false, true}, {true, false}, {true, true}}) {
        SCOPED_TRACE(std::to_string(srcLocked) + std::to_string(dstLocked));
        const std::string src = Make("src", 0604), dst = Make("dst", 0600);
        SetTimes(src, {10, 1}, {20, 2});
        if (const int err = Immutable(dst, dstLocked); err != 0) {
            GTEST_SKIP() << "no immutable flag here: " << std::strerror(err);
        }
        ASSERT_EQ(Immutable(src, srcLocked), 0);
        EXPECT_TRUE(md_.SetAttrsAfterCopy(src, dst, kRunStart));
        EXPECT_EQ(IsImmutable(dst), srcLocked);
        EXPECT_EQ(Mode(dst), 0604u);
        EXPECT_EQ(Time(LStat(dst).st_mtim), Time({20, 2}));
        ASSERT_EQ(Immutable(src, 0) | Immutable(dst, 0), 0);
    }

    // A locked item is renamed and stays locked.
    const std::string locked = Make("locked", 0644);
    ASSERT_EQ(Immutable(locked, 1), 0);
    EXPECT_TRUE(md_.RenameItem(locked, "renamed"));
    EXPECT_TRUE(IsImmutable(dir_ / "renamed"));
    EXPECT_FALSE(std::filesystem::exists(locked));

    // The chain unlocks a locked item in the way, and the restore locks it again.
    RestoreTable table;
    EXPECT_TRUE(md_.UnlockChain(dir_ / "renamed", dir_.path(), kCheckWritable, true, &table));
    EXPECT_FALSE(IsImmutable(dir_ / "renamed"));
    ASSERT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.at(dir_ / "renamed").lock);
    EXPECT_TRUE(md_.RestoreOriginalAttr(table));
    EXPECT_TRUE(IsImmutable(dir_ / "renamed"));
}

TEST_F(MetadataTest, UnlockChainRelaxesModesUpToTheMainFolderAndRestorePutsThemBack) {
    const bool root = ::geteuid() == 0;
    const TWUtilities user = root ? As(kUser, kGroup) : As(::getuid(), ::getgid());
    const Metadata md(user);
    using Modes = std::map<std::string, mode_t>;
    // clang-format off
    const struct { std::string item; int check; bool passes; Modes relaxed; } rows[] = {
        {"main/sub/file", kCheckWritable, true, {{"main/sub/file", 0444}}},
        {"main/sub/file", kCheckDeletable, true, {{"main/sub/file", 0444}, {"main/sub", 0555}}},
        {"main/file", kCheckDeletable, true, {{"main/file", 0444}, {"main", 0555}}},
        // Deleting the main folder is judged on its parent, which the chain never touches.
        {"main", kCheckDeletable, false, {{"main", 0555}}},
        // The folder to create is not there yet: the chain starts relaxing at its parent.
        {"main/sub/new", kCheckCreateFolder, true, {{"main/sub", 0555}}},
        {"main/sub/file", 7, false, {{"main/sub/file", 0444}, {"main/sub", 0555}, {"main", 0555}}},
    };
    // clang-format on
    int rowNumber = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.item + " check " + std::to_string(row.check));
        // A tree per row: the folders are left read-only.
        const std::string prefix = "row" + std::to_string(++rowNumber) + "/";
        const std::string top = Make(prefix + "top/", 0755);
        for (const char* name : {"main/", "main/sub/"}) Make(prefix + "top/" + name, 0755);
        for (const char* name : {"main/sub/file", "main/file"}) Make(prefix + "top/" + name, 0444);
        for (const char* name : {"/main/sub", "/main", ""}) ::chmod((top + name).c_str(), 0555);

        RestoreTable table;
        EXPECT_EQ(md.UnlockChain(top + "/" + row.item, top + "/main/", row.check, true, &table),
                  row.passes);
        Modes recorded;
        for (const auto& [path, entry] : table) {
            EXPECT_FALSE(entry.lock) << path;
            recorded[path.substr(top.size() + 1)] = entry.perm.value_or(0);
            EXPECT_EQ(Mode(path), 0777u) << path;
        }
        EXPECT_EQ(recorded, row.relaxed);
        EXPECT_EQ(Mode(top), 0555u);
        if (row.check == kCheckCreateFolder) {
            EXPECT_TRUE(std::filesystem::is_directory(top + "/main/sub/new"));
        }

        // The item written successfully keeps the attributes its copy gives it.
        RemoveItemOKFromRestore(&table, top + "/" + row.item);
        EXPECT_TRUE(md.RestoreOriginalAttr(table));
        for (const auto& [relative, mode] : row.relaxed) {
            EXPECT_EQ(Mode(top + "/" + relative), relative == row.item ? 0777 : mode) << relative;
        }
    }
}

TEST(MetadataRestoreTableTest, EntriesMergeByKeyAndGoAwayWhenTheirItemIsDone) {
    RestoreTable table;
    AddItemDictToRestoreToPath(&table, "/a", {.lock = false, .perm = 0555});
    AddItemDictToRestoreToPath(&table, "/a", {.lock = true, .perm = std::nullopt});
    AddItemDictToRestoreToPath(&table, "/a", {.lock = false, .perm = 0500});  // replaces 0555
    AddItemDictToRestoreToPath(&table, "/b", {});                             // nothing to keep
    AddItemDictToRestoreToPath(&table, "", {.lock = true, .perm = std::nullopt});
    AddItemDictToRestoreToPath(nullptr, "/c", {.lock = true, .perm = std::nullopt});
    ASSERT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.at("/a").lock);
    EXPECT_EQ(table.at("/a").perm, mode_t{0500});
    RemoveItemOKFromRestore(&table, "/a");
    RemoveItemOKFromRestore(nullptr, "/a");
    EXPECT_TRUE(table.empty());
}

TEST_F(MetadataTest, UnlockWholeItemLetsAReadOnlyTreeBeRemovedWithoutFollowingLinks) {
    const std::string outside = Make("outside", 0444), tree = dir_ / "tree";
    for (const char* name : {"tree/a/f", "tree/a/b/g"}) Make(name, 0444);
    ASSERT_EQ(::symlink(outside.c_str(), (tree + "/a/link").c_str()), 0);
    for (const char* name : {"tree/a/b", "tree/a", "tree"}) {
        ASSERT_EQ(::chmod((dir_ / name).c_str(), std::string(name) == "tree/a/b" ? 0 : 0555), 0);
    }
    if (::geteuid() == 0) {
        for (const char* name : {"tree/a/f", "tree/a"}) ASSERT_EQ(Immutable(dir_ / name, 1), 0);
    }
    EXPECT_TRUE(md_.UnlockWholeItem(tree + "/"));
    std::error_code ec;
    std::filesystem::remove_all(tree, ec);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_FALSE(std::filesystem::exists(tree));
    EXPECT_EQ(Mode(outside), 0444u);
}

TEST_F(MetadataTest, RenameStaysInTheFolderAndNeverReplacesAnItem) {
    const std::string plain = Make("plain", 0644), taken = Make("taken", 0644);
    test::WriteText(taken, "keep me");
    EXPECT_FALSE(md_.RenameItem(plain, "taken"));
    EXPECT_EQ(test::ReadText(taken), "keep me");
    EXPECT_FALSE(md_.RenameItem(dir_ / "missing", "other"));
    EXPECT_TRUE(md_.RenameItem(plain, "new name"));
    EXPECT_EQ(test::ReadText(dir_ / "new name"), "data");
    EXPECT_FALSE(std::filesystem::exists(plain));
}

TEST_F(MetadataTest, AFolderGetsItsSourcesDateOrTheGivenOneWhenTheCopyFails) {
    const platform::Timestamp date{1500000000, 5};
    // clang-format off
    const struct { bool fromExists, isSync, passes; timespec fromAfter, toAfter; } rows[] = {
        {true, true, true, {1500000000, 5}, {1500000000, 5}},  // from's date put back first
        {true, false, true, {3000, 3}, {3000, 3}},
        {false, false, true, {}, {1500000000, 5}},  // the copy failed, the date still goes
    };
    // clang-format on
    for (const auto& row : rows) {
        const std::string from = Make("from/", 0755), to = Make("to/", 0755);
        SetTimes(from, {4000, 4}, {3000, 3});
        if (!row.fromExists) std::filesystem::remove(from);
        EXPECT_EQ(md_.CopyFolderAttributes(from, to, date, row.isSync, kRunStart), row.passes);
        if (row.fromExists) {
            EXPECT_EQ(Time(LStat(from).st_mtim), Time(row.fromAfter));
        }
        EXPECT_EQ(Time(LStat(to).st_mtim), Time(row.toAfter));
    }
}

}  // namespace
}  // namespace qv::fileops
