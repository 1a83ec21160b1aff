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
#include <filesystem>

#include "platform/file_system.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace qv::fileops {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

constexpr uid_t kUser = 4242;
constexpr gid_t kGroup = 4343;
constexpr std::int64_t kRunStart = 1700000000;
const std::string kNone = "<none>";

std::string GetXattr(const std::string& path, const char* name) {
    std::string value(256, '\0');
    const ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
    return n < 0 ? kNone : value.substr(0, static_cast<std::size_t>(n));
}

// Sets (1), clears (0) or reads (-1) the immutable flag: whether it is set, or -errno.
int Lock(const std::string& path, int on = -1) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    int flags = 0, err = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? 0 : errno;
    if (on >= 0) flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    if (err == 0 && on >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) err = errno;
    if (fd >= 0) ::close(fd);
    return err ? (on == 1 ? -err : 0) : (flags & FS_IMMUTABLE_FL) != 0;
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
std::pair<long, long> MTime(const std::string& path) { return Time(LStat(path).st_mtim); }

using test::SetXattr;
std::string AclText(const std::string& path, acl_type_t type) {
    return test::AclText(path, type == ACL_TYPE_DEFAULT);
}
int SetAcl(const std::string& path, acl_type_t type, const char* text) {
    return test::SetAcl(path, text, type == ACL_TYPE_DEFAULT);
}

class MetadataTest : public ::testing::Test {
  protected:
    ~MetadataTest() override {  // whatever a test locked, the temporary folder must still go
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(dir_.path(), ec)) Lock(e.path(), 0);
    }
    // A file, or a folder when NAME ends in '/'; when root runs the tests it belongs to OWNER.
    std::string Make(const std::string& name, mode_t mode, uid_t owner = kUser) {
        const std::string path = dir_ / name;
        fs::create_directories(fs::path(path).parent_path());
        name.back() == '/' ? void(::mkdir(path.c_str(), 0700)) : test::WriteText(path, "data");
        EXPECT_EQ(root_ ? ::lchown(path.c_str(), owner, owner ? kGroup : 0) : 0, 0);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return name.back() == '/' ? path.substr(0, path.size() - 1) : path;
    }
    const bool root_ = ::geteuid() == 0;
    test::TempDir dir_;
    items::TWUtilities tw_;
    Metadata md_{tw_};
};

TEST_F(MetadataTest, CopiedItemsGetTheSourcesMetadataAndTheRunsStartAsBackupDate) {
    // clang-format off
    const struct { const char* name; mode_t mode; acl_type_t type; const char *srcAcl, *dstAcl,
                   *accessAfter, *defaultAfter; bool file; } rows[] = {
        // With Finder info, a creation date and a lock; the destination's named entry is kept.
        {"file", 0640, ACL_TYPE_ACCESS, "u::rw-,u:4242:rw-,g::r--,m::rw-,o::---",
         "u::rw-,u:4545:r--,g::r--,m::r--,o::r--",
         "user::rw-,user:4242:rw-,user:4545:r--,group::r--,mask::r--,other::---", "<none>", true},
        // The default ACL comes whole, a stale Finder info goes, the birth time is the creation.
        {"dir/", 0750, ACL_TYPE_DEFAULT, "u::rwx,u:4242:r-x,g::r-x,m::r-x,o::---", nullptr,
         "user::rwx,group::r-x,other::---",
         "user::rwx,user:4242:r-x,group::r-x,mask::r-x,other::---", false},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string src = Make("A/"s + row.name, 0700), dst = Make("B/"s + row.name, 0777, 0);
        const std::string finder = row.file ? "TEXTQVRL\x40\x00"s + std::string(6, '\x07') : kNone;
        int err = SetAcl(src, row.type, row.srcAcl) | SetXattr(src, "user.a", "b\0c"s) |
                  SetXattr(src, items::kBackupDateXattr, "1") |
                  SetXattr(dst, items::kFinderInfoXattr, "stale") |
                  (row.dstAcl ? SetAcl(dst, ACL_TYPE_ACCESS, row.dstAcl) : 0);
        if (row.file) {
            err |= SetXattr(src, items::kFinderInfoXattr, finder) |
                   SetXattr(src, items::kCreationDateXattr, "9");
        }
        if (err != 0) GTEST_SKIP() << "the temporary folder keeps no ACLs or user xattrs";
        ASSERT_EQ(::chmod(src.c_str(), row.mode), 0);
        SetTimes(src, {1000000000, 123456789}, {1100000000, 987654321});
        ASSERT_EQ(Lock(src, root_ && row.file), root_ && row.file);

        // Twice: a second merge must replace the entries it added, not add them again.
        for (const int pass : {1, 2}) EXPECT_TRUE(md_.CopyACLAttributes(src, dst)) << pass;
        EXPECT_TRUE(md_.CopyAttributes(src, dst, kRunStart));

        const struct stat from = LStat(src), to = LStat(dst);
        EXPECT_EQ(Time(to.st_atim), Time(from.st_atim));
        EXPECT_EQ(Time(to.st_mtim), Time({1100000000, 987654321}));
        EXPECT_EQ(Mode(dst), row.mode);
        EXPECT_EQ(std::pair(to.st_uid, to.st_gid), std::pair(from.st_uid, from.st_gid));
        EXPECT_EQ(Lock(dst), root_ && row.file);
        EXPECT_EQ(GetXattr(dst, "user.a"), "b\0c"s);
        EXPECT_EQ(GetXattr(dst, items::kFinderInfoXattr), finder);
        EXPECT_EQ(tw_.GetDate(dst, items::kCreationDate), tw_.GetDate(src, items::kCreationDate));
        EXPECT_TRUE(!tw_.GetDate(src, items::kCreationDate) ||
                    GetXattr(dst, items::kCreationDateXattr) != kNone);
        EXPECT_EQ(tw_.GetDate(dst, items::kBackupDate), double(kRunStart));
        EXPECT_EQ(AclText(dst, ACL_TYPE_ACCESS), row.accessAfter);
        EXPECT_EQ(AclText(dst, ACL_TYPE_DEFAULT), row.defaultAfter);

        // A destination that refuses ACLs keeps its own and still gets the other attributes.
        const std::string refusing = Make("B/refusing-"s + row.name, 0777, 0);
        test::FaultyFileSystem faults({{test::Sys::setacl, EOPNOTSUPP}});
        const platform::ScopedFileSystem installed(faults);
        EXPECT_FALSE(md_.CopyACLAttributes(src, refusing));
        EXPECT_EQ(faults.failures(test::Sys::setacl), 1);
        EXPECT_EQ(AclText(refusing, row.type),
                  AclText(Make("B/plain-"s + row.name, 0777, 0), row.type));
        EXPECT_EQ(GetXattr(refusing, "user.a"), "b\0c"s);
    }
}

TEST_F(MetadataTest, AFileCopiedThroughOpenDescriptorsGetsTheSameAttributes) {
    items::TWUtilities user;  // a read-only source: its mode and times wait for the final place
    user.mUserID = user.mEUserID = root_ ? kUser : ::getuid();
    user.mGroupsID = {root_ ? kGroup : ::getgid()};
    user.mEuidIsRoot = false;
    for (const bool asRoot : {true, false}) {
        SCOPED_TRACE(asRoot ? "root" : "user");
        if (asRoot && !root_) continue;
        const Metadata md(asRoot ? tw_ : user);
        const std::string src = Make(asRoot ? "rootSrc" : "userSrc", 0600), dst = src + ".copy";
        int err = SetAcl(src, ACL_TYPE_ACCESS, "u::rw-,u:4242:rw-,g::r--,m::rw-,o::---") |
                  SetXattr(src, "user.a", "b\0c"s) | SetXattr(src, items::kBackupDateXattr, "1") |
                  SetXattr(src, items::kFinderInfoXattr, "TEXTQVRL") |
                  SetXattr(src, items::kTemporaryXattr, "1");
        if (err != 0) GTEST_SKIP() << "the temporary folder keeps no ACLs or user xattrs";
        ASSERT_EQ(::chmod(src.c_str(), 0444), 0);
        // A file capability (revision 2, CAP_NET_RAW permitted), which a change of owner clears.
        const std::string capability =
            std::string("\x00\x00\x00\x02\x00\x20\x00\x00", 8) + std::string(12, '\0');
        const bool capable = asRoot && SetXattr(src, "security.capability", capability) == 0;
        SetTimes(src, {1000000000, 123456789}, {1100000000, 987654321});
        ASSERT_EQ(Lock(src, asRoot), asRoot);

        const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        struct statx stx {};
        ASSERT_EQ(::statx(in, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx), 0);
        const OpenCopyAttrs attrs = md.SetAttrsOnOpenCopy(in, stx, out, src, dst, kRunStart);
        EXPECT_EQ(attrs.modeAndTimesLater, !asRoot);
        EXPECT_TRUE(attrs.finderInfo);
        EXPECT_EQ(GetXattr(dst, items::kTemporaryXattr), kNone);  // the source's mark is not copied
        EXPECT_EQ(::lremovexattr(dst.c_str(), items::kTemporaryXattr), -1);
        // What waits for the final place is given through the same open descriptors.
        EXPECT_TRUE(md.FinishOpenCopy(in, out, stx, attrs, dst));
        ::close(in);
        ::close(out);

        const struct stat from = LStat(src), to = LStat(dst);
        EXPECT_EQ(Time(to.st_atim), Time({1000000000, 123456789}));
        EXPECT_EQ(Time(to.st_mtim), Time({1100000000, 987654321}));
        EXPECT_EQ(Mode(dst), 0444u);
        EXPECT_EQ(to.st_uid, asRoot ? from.st_uid : ::geteuid());
        EXPECT_EQ(Lock(dst), asRoot);
        EXPECT_EQ(GetXattr(dst, "user.a"), "b\0c"s);
        EXPECT_EQ(GetXattr(dst, items::kFinderInfoXattr), "TEXTQVRL");
        EXPECT_EQ(GetXattr(dst, "security.capability"), capable ? capability : kNone);
        EXPECT_EQ(tw_.GetDate(dst, items::kCreationDate), tw_.GetDate(src, items::kCreationDate));
        EXPECT_EQ(tw_.GetDate(dst, items::kBackupDate), double(kRunStart));
        EXPECT_EQ(AclText(dst, ACL_TYPE_ACCESS), AclText(src, ACL_TYPE_ACCESS));
        EXPECT_TRUE(test::Contains(AclText(dst, ACL_TYPE_ACCESS), "user:4242:rw-"));
    }
}

TEST_F(MetadataTest, ALinkGetsItsOwnTimesAndItsTargetIsLeftAlone) {
    const std::string target = Make("target", 0600), src = dir_ / "srcLink", dst = dir_ / "dstLink";
    ASSERT_EQ(::symlink("elsewhere", src.c_str()) | ::symlink("target", dst.c_str()), 0);
    SetTimes(target, {5000, 1}, {6000, 2});
    SetTimes(src, {1000, 111}, {2000, 222});
    EXPECT_TRUE(md_.CopyAttributes(src, dst, kRunStart));
    EXPECT_FALSE(md_.CopyACLAttributes(src, dst));
    EXPECT_TRUE(md_.SetModificationDate(dst, {9, 0}));  // left alone, and that is success
    EXPECT_EQ(Time(LStat(dst).st_atim), Time({1000, 111}));
    EXPECT_EQ(MTime(dst), Time({2000, 222}));
    EXPECT_EQ(MTime(target), Time({6000, 2}));
    EXPECT_EQ(Mode(target), 0600u);
    EXPECT_EQ(GetXattr(target, items::kBackupDateXattr), kNone);
}

TEST_F(MetadataTest, TheLockFollowsTheSourceEvenOntoALockedDestination) {
    if (!root_) GTEST_SKIP() << "needs root, to lock items";
    for (const auto& [srcLocked, dstLocked] : {std::pair{0, 1}, {1, 0}, {1, 1}}) {
        SCOPED_TRACE(std::to_string(srcLocked) + std::to_string(dstLocked));
        const std::string src = Make("src", 0604), dst = Make("dst", 0600);
        SetTimes(src, {10, 1}, {20, 2});
        if (Lock(dst, dstLocked) < 0) GTEST_SKIP() << "the temporary folder has no immutable flag";
        ASSERT_EQ(Lock(src, srcLocked), srcLocked);
        EXPECT_TRUE(md_.SetAttrsAfterCopy(src, dst, kRunStart));
        EXPECT_EQ(Lock(dst), srcLocked);
        EXPECT_EQ(std::pair(Mode(dst), MTime(dst)), std::pair(mode_t{0604}, Time({20, 2})));

        // The chain unlocks a locked item in the way and records it; a mode recorded for it later
        // is kept beside the lock, and the restore gives back both.
        RestoreTable table;
        EXPECT_TRUE(md_.UnlockChain(dst, dir_.path(), kCheckWritable, true, &table));
        EXPECT_EQ(Lock(dst), 0);
        EXPECT_EQ(table.count(dst) && table.at(dst).lock, srcLocked);
        AddItemDictToRestoreToPath(&table, dst, {.lock = false, .perm = 0640});
        EXPECT_TRUE(md_.RestoreOriginalAttr(table));
        EXPECT_EQ(std::pair(Lock(dst), Mode(dst)), std::pair(srcLocked, mode_t{0640}));
        ASSERT_EQ(Lock(src, 0) | Lock(dst, 0), 0);
    }
}

TEST_F(MetadataTest, UnlockChainRelaxesModesUpToTheMainFolderAndRestorePutsThemBack) {
    items::TWUtilities
        user;  // root passes every mode check: the chain is judged for an ordinary user
    user.mUserID = user.mEUserID = root_ ? kUser : ::getuid();
    user.mGroupsID = {root_ ? kGroup : ::getgid()};
    user.mEuidIsRoot = false;
    const Metadata md(user);
    // clang-format off
    const struct { std::string item; int check; bool passes; std::map<std::string, mode_t> relaxed;
    } rows[] = {
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
    for (const auto& row : rows) {
        SCOPED_TRACE(row.item + " check " + std::to_string(row.check));  // a read-only tree per row
        const std::string prefix = "row" + std::to_string(&row - rows), top = dir_ / prefix;
        for (const char* name : {"/", "/main/", "/main/sub/"}) Make(prefix + name, 0755);
        for (const char* name : {"/main/sub/file", "/main/file"}) Make(prefix + name, 0444);
        for (const char* name : {"/main/sub", "/main", ""}) ::chmod((top + name).c_str(), 0555);

        RestoreTable table;
        EXPECT_EQ(md.UnlockChain(top + "/" + row.item, top + "/main/", row.check, true, &table),
                  row.passes);
        decltype(row.relaxed) recorded;
        for (const auto& [path, entry] : table) {
            EXPECT_FALSE(entry.lock) << path;
            recorded[path.substr(top.size() + 1)] = entry.perm.value_or(0);
            EXPECT_EQ(Mode(path), 0777u) << path;
        }
        EXPECT_EQ(recorded, row.relaxed);
        EXPECT_EQ(Mode(top), 0555u);
        EXPECT_EQ(fs::is_directory(top + "/main/sub/new"), row.check == kCheckCreateFolder);

        // The item written successfully keeps the attributes its copy gives it.
        RemoveItemOKFromRestore(&table, top + "/" + row.item);
        EXPECT_TRUE(md.RestoreOriginalAttr(table));
        for (const auto& [relative, mode] : row.relaxed)
            EXPECT_EQ(Mode(top + "/" + relative), relative == row.item ? 0777 : mode) << relative;
    }
}

TEST_F(MetadataTest, UnlockWholeItemLetsAReadOnlyTreeBeRemovedWithoutFollowingLinks) {
    const std::string outside = Make("outside", 0444), tree = dir_ / "tree";
    for (const char* name : {"tree/a/f", "tree/a/b/g"}) Make(name, 0444);
    ASSERT_EQ(::symlink(outside.c_str(), (tree + "/a/link").c_str()), 0);
    Make("tree/a/b/", 0);
    for (const char* name : {"tree/a/", "tree/"}) Make(name, 0555);
    for (const char* name : {"/a/f", "/a"}) ASSERT_EQ(Lock(tree + name, root_), root_);
    EXPECT_TRUE(md_.UnlockWholeItem(tree + "/"));
    EXPECT_NO_THROW(fs::remove_all(tree));
    EXPECT_EQ(Mode(outside), 0444u);
}

TEST_F(MetadataTest, RenameStaysInTheFolderKeepsALockAndNeverReplacesAnItem) {
    const std::string plain = Make("plain", 0644), taken = Make("taken", 0600);
    ASSERT_EQ(Lock(plain, root_), root_);
    EXPECT_FALSE(md_.RenameItem(plain, "taken"));
    EXPECT_FALSE(md_.RenameItem(dir_ / "missing", "other"));
    EXPECT_TRUE(md_.RenameItem(plain, "new name"));
    EXPECT_EQ(Mode(taken), 0600u);  // still its own item
    EXPECT_EQ(test::ReadText(dir_ / "new name"), "data");
    EXPECT_EQ(Lock(dir_ / "new name"), root_);
    EXPECT_FALSE(fs::exists(plain));
}

TEST_F(MetadataTest, AFolderGetsItsSourcesDateOrTheGivenOneWhenTheCopyFails) {
    const std::pair<long, long> given{1500000000, 5}, own{3000, 3};
    // A sync puts the given date back on the source first; a failed copy still gets it.
    for (const auto& [fromExists, isSync, expected] :
         {std::tuple{true, true, given}, {true, false, own}, {false, false, given}}) {
        const std::string from = Make("from/", 0755), to = Make("to/", 0755);
        SetTimes(from, {4000, 4}, {3000, 3});
        if (!fromExists) fs::remove(from);
        EXPECT_TRUE(md_.CopyFolderAttributes(from, to, {{1500000000, 5}}, isSync, kRunStart));
        EXPECT_EQ(MTime(from), fromExists ? expected : std::pair(0L, 0L));
        EXPECT_EQ(MTime(to), expected);
    }
}

}  // namespace
}  // namespace qv::fileops
