#include "items/tw_utilities.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "support/test_support.h"

namespace qv::items {
namespace {

constexpr uid_t kMe = 4242, kOther = 4545;
constexpr gid_t kMyGroup = 4343, kOtherGroup = 4444;

using test::SetXattr;

#define SKIP_WITHOUT_USER_XATTRS(path)                                                       \
    if (const int err = SetXattr(path, "user.quorvel.probe", "1"); err != 0) {               \
        GTEST_SKIP() << "the temporary folder keeps no user xattrs: " << std::strerror(err); \
    }

#define SKIP_UNLESS_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give items to a test user"

// Sets or clears the immutable flag; the errno of the failure, 0 on success.
int SetImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    int flags = 0, err = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? 0 : errno;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    if (err == 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) err = errno;
    if (fd >= 0) ::close(fd);
    return err;
}

// A file (or, with a trailing "/", a folder) given to owner and group with the mode.
void Make(const std::string& path, uid_t owner, gid_t group, mode_t mode) {
    path.back() == '/' ? void(::mkdir(path.c_str(), 0700)) : test::WriteText(path, "data");
    ASSERT_EQ(::lchown(path.c_str(), owner, group), 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// The utilities as the given user of the given group sees them, whoever runs the tests.
TWUtilities As(uid_t user, gid_t group) {
    TWUtilities utilities;
    utilities.mUserID = utilities.mEUserID = user;
    utilities.mGroupsID = {group};
    utilities.mEuidIsRoot = user == 0;
    return utilities;
}

TEST(TWUtilitiesDatesTest, EachKindReadsItsOwnTimeCutToWholeSecondsAndLinksAreNotFollowed) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    const std::string file = dir / "file", zero = dir / "zero", link = dir / "link";
    test::WriteText(file, "0123456789");
    test::WriteText(zero, "x");
    ASSERT_EQ(::symlink("file", link.c_str()), 0);
    for (const auto& [path, atime, mtime] : {std::tuple{file, 1000000000.9, 1100000000.25},
                                             {zero, 0.5, 0.5},
                                             {link, 3000.0, 2000.75}}) {
        const auto at = [](double t) { return timespec{long(t), long((t - long(t)) * 1e9)}; };
        const timespec times[2] = {at(atime), at(mtime)};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
    }
    ASSERT_EQ(SetXattr(file, kCreationDateXattr, "1234567890.75"), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    const TWUtilities tw;
    // A row with a text stores it as the backup date first.
    // clang-format off
    const struct { std::string path; int kind; OptionalDate expected; const char* stored; } cases[] = {
        {file, kCreationDate, 1234567890.0, nullptr},
        {file, kModificationDate, 1100000000.25, nullptr},  // the only kind that keeps fractions
        {file, kAccessDate, 1000000000.0, nullptr},
        {file, kAttributeModificationDate, static_cast<double>(st.st_ctim.tv_sec), nullptr},
        {zero, kModificationDate, 0.5, nullptr},
        {zero, kAccessDate, std::nullopt, nullptr},  // 0.5 cut to 0, which is no date
        {link, kModificationDate, 2000.0, nullptr},  // the link's own, cut
        {link, kAccessDate, 3000.0, nullptr},
        {dir / "missing", kModificationDate, std::nullopt, nullptr},
        {file, kBackupDate, std::nullopt, nullptr},
        {file, kBackupDate, 1700000000.0, "1700000000.9"},
        {file, kBackupDate, -1.0, "-0.5"},  // cut downwards, as the kernel does
        {file, kBackupDate, std::nullopt, "0"},
        {file, kBackupDate, std::nullopt, "17x"},
        {file, kBackupDate, std::nullopt, "99999999999999999999"},
    };
    // clang-format on
    for (const auto& c : cases) {
        if (c.stored != nullptr) SetXattr(c.path, kBackupDateXattr, c.stored);
        EXPECT_EQ(tw.GetDate(c.path, c.kind), c.expected)
            << c.path << " kind " << c.kind << " stored " << (c.stored ? c.stored : "-");
    }
    ASSERT_TRUE(tw.SetBackupDate(file, 1700000123));
    EXPECT_TRUE(tw.SetBackupDate(link, 5));  // a link is left alone, and that is success
    EXPECT_TRUE(tw.SetBackupDateDitto(link, 5));
    EXPECT_EQ(tw.GetDate(link, kBackupDate), std::nullopt);
    EXPECT_EQ(tw.GetDate(file, kBackupDate), 1700000123.0);
    EXPECT_EQ(tw.NewItemSize(link), std::strlen("file"));
}

TEST(TWUtilitiesLockTest, ImmutableItemsAreLockedAndDittoStillWritesTheirBackupDate) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    const std::string file = dir / "file", folder = dir / "folder", link = dir / "link";
    test::WriteText(file, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0440), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::symlink("file", link.c_str()), 0);
    const TWUtilities tw;
    EXPECT_FALSE(tw.IsLocked(file));
    EXPECT_TRUE(tw.IsLocked(dir / "missing"));  // what cannot be examined counts as locked

    const std::vector<std::string> locked = {file, folder};
    // Cleared again whatever happens, so that the temporary folder can be removed.
    const std::shared_ptr<void> unlock(nullptr, [&](void*) {
        for (const std::string& item : locked) SetImmutable(item, false);
    });
    for (const std::string& item : locked) {
        if (const int err = SetImmutable(item, true); err != 0) {
            GTEST_SKIP() << "the immutable flag needs root and a file system that keeps it: "
                         << std::strerror(err);
        }
    }
    EXPECT_FALSE(tw.IsLocked(link));  // the target's lock is not the link's
    for (const std::string& item : locked) {
        const int mode = tw.GetPermissionsAtPath(item);
        EXPECT_TRUE(tw.IsLocked(item)) << item;
        EXPECT_FALSE(tw.SetBackupDate(item, 1700000000)) << item;
        EXPECT_TRUE(tw.SetBackupDateDitto(item, 1700000000)) << item;
        EXPECT_EQ(tw.GetDate(item, kBackupDate), 1700000000.0) << item;
        EXPECT_TRUE(tw.IsLocked(item)) << item << ": the flag was not put back";
        EXPECT_EQ(tw.GetPermissionsAtPath(item), mode) << item;
    }
}

TEST(TWUtilitiesNamesTest, NamesFinderFlagsAndTheHiddenListMakeInvisibleItemsAndPackages) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    for (const char* name : {".profile", "plain", "flagged", "listed", "file.app", "Plain/x",
                             "Tool.APP/x", "Bundle/x", "Notes.rtfd/x", "a.app.zip/x", ".app/x"}) {
        test::WriteText(dir / name, "x");
    }
    ASSERT_EQ(::symlink("Tool.APP", (dir / "link.app").c_str()), 0);
    // The Finder flags are big-endian at bytes 8 and 9 of the Finder info.
    for (const auto& [name, flags] :
         {std::pair{".profile", 0x40}, {"flagged", 0x41}, {"Bundle", 0x20}}) {
        const std::string info = std::string(8, '\0') + char(flags) + std::string(7, '\0');
        ASSERT_EQ(SetXattr(dir / name, kFinderInfoXattr, info), 0);
    }
    test::WriteText(dir / ".hidden", "listed\r\nother");
    const TWUtilities tw;
    // clang-format off
    const struct { const char* name; bool invisible, invisibleWithDots, package, folder; } cases[] = {
        {".profile",  false, true,  false, false},  // the name rule comes first
        {"flagged",   true,  true,  false, false},
        {"listed",    true,  true,  false, false},
        {"plain",     false, false, false, false},
        {"Bundle",    false, false, true,  false},  // the bundle flag is not the invisible one
        {"Tool.APP",  false, false, true,  false},  // the extension in any case
        {"Tool.APP/", false, false, true,  false},
        {"Notes.rtfd", false, false, true, false},
        {"Plain",     false, false, false, true},
        {"a.app.zip", false, false, false, true},
        {".app",      false, true,  false, true},   // a dot name has no extension
        {"file.app",  false, false, false, false},
        {"link.app",  false, false, false, false},
        {"missing",   false, false, false, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tw.IsInvisible(dir / c.name, false), c.invisible);
        EXPECT_EQ(tw.IsInvisible(dir / c.name, true), c.invisibleWithDots);
        EXPECT_EQ(tw.IsFilePackage(dir / c.name), c.package);
        EXPECT_EQ(tw.IsReallyFolder(dir / c.name), c.folder);
    }
}

TEST(TWUtilitiesNamesTest, StoredSpellingAndFreeNumberedNamesAreFoundInTheFolder) {
    const std::string longName = std::string(250, 'n') + ".txt";  // no room for " 1"
    // With `unique` FindUniqueNameInFolder, else CaseSensitivePathName; an empty result means
    // none was found and the path stays as asked.
    // clang-format off
    const struct { bool unique; std::vector<std::string> existing; std::string asked, result; } cases[] = {
        {false, {"Report.TXT"}, "report.txt", "Report.TXT"},
        {false, {"Twin", "TWIN"}, "twin", ""},  // two candidates: no single answer
        {false, {"Twin", "TWIN"}, "Twin", "Twin"},
        {false, {"\xC3\x89t\xC3\xA9.txt"}, "\xC3\x89T\xC3\xA9.TXT", "\xC3\x89t\xC3\xA9.txt"},  // ASCII folds
        {false, {"\xC3\x89t\xC3\xA9.txt"}, "\xC3\xA9t\xC3\xA9.txt", ""},  // but é is not É
        {false, {}, "nofolder/report.txt", ""},
        {true, {}, "report.txt", "report.txt"},
        {true, {"report.txt", "report 1.txt"}, "report.txt", "report 2.txt"},
        {true, {"report.txt", "report 2.txt"}, "report.txt", "report 1.txt"},
        {true, {"QVTempFile"}, "QVTempFile", "QVTempFile 1"},
        {true, {".bashrc"}, ".bashrc", ".bashrc 1"},
        {true, {"a.tar.gz"}, "a.tar.gz", "a.tar 1.gz"},
        {true, {"Photos/x"}, "Photos", "Photos 1"},  // a folder takes the name too
        {true, {longName}, longName, ""},
    };
    // clang-format on
    const TWUtilities tw;
    for (const auto& c : cases) {
        test::TempDir dir;
        for (const std::string& name : c.existing) test::WriteText(dir / name, "x");
        std::string path = dir / c.asked;
        const bool found =
            c.unique ? tw.FindUniqueNameInFolder(path) : tw.CaseSensitivePathName(path);
        EXPECT_EQ(found, !c.result.empty()) << c.asked;
        EXPECT_EQ(path, dir / (c.result.empty() ? c.asked : c.result)) << c.asked;
    }
}

TEST(TWUtilitiesNamesTest, NewItemSizeSumsTheEntriesOfAFolder) {
    test::TempDir dir;
    test::WriteText(dir / "top/a", "0123456789");
    test::WriteText(dir / "top/b", "abcdefghij");
    const TWUtilities tw;
    EXPECT_EQ(tw.NewItemSize(dir / "top"), 20u);
    test::WriteText(dir / "top/sub/deeper/c", "12345");
    ASSERT_EQ(::symlink("sub", (dir / "top/loop").c_str()), 0);  // counted as a link, not walked
    EXPECT_EQ(tw.NewItemSize(dir / "top"), 20u + 5u + 3u);
    EXPECT_EQ(tw.NewItemSize(dir / "missing"), 0u);
}

TEST(TWUtilitiesPrivilegesTest, TheClassThatAppliesDecidesAndRootPassesEverything) {
    SKIP_UNLESS_ROOT();
    test::TempDir dir;
    const TWUtilities root = As(0, 0), user = As(kMe, kMyGroup);
    if (root.IsRemoteVolume(dir.path())) GTEST_SKIP() << "the temporary folder is remote";
    // Whether the item in the parent folder may be read, written, deleted ("rwd", "-" for no).
    // clang-format off
    const struct {
        bool asRoot;
        uid_t parentOwner; gid_t parentGroup; mode_t parentMode;
        uid_t owner; gid_t group; int mode;  // -1: no item
        std::string expected;
    } cases[] = {
        {false, kMe, kOtherGroup, 0700, kMe, kOtherGroup, 0400, "r-d"},
        {false, kMe, kMyGroup, 0577, kMe, kMyGroup, 0266, "-w-"},  // the owner's bits decide
        {false, kOther, kMyGroup, 0717, kOther, kMyGroup, 0626, "-w-"},  // the group's bits decide
        {false, kOther, kMyGroup, 0030, kOther, kMyGroup, 0040, "r-d"},
        {false, kOther, kOtherGroup, 0001, kOther, kOtherGroup, 0006, "rw-"},
        {false, kOther, kOtherGroup, 0776, 0, 0, -1, "---"},  // the parent is not searchable
        {false, kOther, kOtherGroup, 0003, 0, 0, -1, "-wd"},
        {true, kOther, kOtherGroup, 0000, kOther, kOtherGroup, 0000, "rwd"},
    };
    // clang-format on
    int row = 0;
    for (const auto& c : cases) {
        const std::string parent = dir / std::to_string(++row), item = parent + "/item";
        Make(parent + "/", c.parentOwner, c.parentGroup, c.parentMode);
        if (c.mode >= 0) Make(item, c.owner, c.group, static_cast<mode_t>(c.mode));
        const TWUtilities& who = c.asRoot ? root : user;
        const std::string allowed = {who.IsIndeedReadableFileAtPath(item) ? 'r' : '-',
                                     who.IsIndeedWritableFileAtPath(item) ? 'w' : '-',
                                     who.IsIndeedDeletableFileAtPath(item) ? 'd' : '-'};
        EXPECT_EQ(allowed, c.expected) << "row " << row;
    }
}

TEST(TWUtilitiesPrivilegesTest, PackagePermissionsCoverEverythingInside) {
    SKIP_UNLESS_ROOT();
    test::TempDir dir;
    const std::string package = dir / "home/Doc.rtfd";
    for (const std::string& folder : {dir / "home/", package + "/", package + "/Contents/"}) {
        Make(folder, kMe, kMyGroup, 0755);
    }
    Make(package + "/TXT.rtf", kMe, kMyGroup, 0644);
    Make(package + "/Contents/inner", kMe, kMyGroup, 0644);
    const TWUtilities tw = As(kMe, kMyGroup);
    EXPECT_FALSE(tw.CheckFilePackagePermissions(package, 3));
    // Read, write, delete: a deep item that fails one fails the whole package for that one.
    for (const auto& [changed, mode, expected] : {std::tuple{"", 0755, "rwd"},
                                                  {"/Contents/inner", 0200, "-wd"},
                                                  {"/Contents/inner", 0444, "r-d"},
                                                  {"/Contents", 0555, "r--"}}) {
        ASSERT_EQ(::chmod((package + changed).c_str(), mode), 0);
        std::string passed;
        for (int check : {0, 1, 2}) {
            passed += tw.CheckFilePackagePermissions(package, check) ? "rwd"[check] : '-';
        }
        EXPECT_EQ(passed, expected) << "after chmod " << std::oct << mode << " " << changed;
    }
    EXPECT_TRUE(tw.CheckFilePackagePermissions(package + "/TXT.rtf", 2));
}

}  // namespace
}  // namespace qv::items
