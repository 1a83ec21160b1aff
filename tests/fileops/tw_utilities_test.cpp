#include "fileops/tw_utilities.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "support/test_support.h"

namespace qv::fileops {
namespace {

constexpr uid_t kFakeUser = 4242;
constexpr uid_t kOtherUser = 4545;
constexpr gid_t kFakeGroup = 4343;
constexpr gid_t kOtherGroup = 4444;

bool IsRoot() { return ::geteuid() == 0; }

void SetTimes(const std::string& path, timespec atime, timespec mtime) {
    const timespec times[2] = {atime, mtime};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0)
        << path << ": " << std::strerror(errno);
}

// errno of the write, 0 on success.
int SetXattr(const std::string& path, const char* name, const std::string& value) {
    return ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0 ? 0 : errno;
}

std::string GetXattr(const std::string& path, const char* name) {
    char buffer[256];
    const ssize_t n = ::lgetxattr(path.c_str(), name, buffer, sizeof buffer);
    return n < 0 ? std::string("<none>") : std::string(buffer, static_cast<std::size_t>(n));
}

std::string FinderInfoWithFlags(std::uint16_t flags) {
    std::string info(16, '\0');
    info[8] = static_cast<char>(flags >> 8);
    info[9] = static_cast<char>(flags & 0xFF);
    return info;
}

#define SKIP_WITHOUT_USER_XATTRS(path)                                               \
    do {                                                                             \
        const int err = SetXattr(path, "user.quorvel.probe", "1");                   \
        if (err == ENOTSUP || err == EPERM) {                                        \
            GTEST_SKIP() << "the temporary folder's file system has no user xattrs"; \
        }                                                                            \
        ::lremovexattr(std::string(path).c_str(), "user.quorvel.probe");             \
    } while (false)

// Sets or clears the immutable flag; the errno of the failure, 0 on success.
int SetImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    int flags = 0;
    int err = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        err = errno;
    } else {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) err = errno;
    }
    ::close(fd);
    return err;
}

bool HasImmutableFlag(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    const bool set = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL);
    ::close(fd);
    return set;
}

// Clears the flag again whatever the test does, so that the temporary folder can be removed.
class ImmutableGuard {
  public:
    explicit ImmutableGuard(std::string path) : path_(std::move(path)) {}
    ~ImmutableGuard() { SetImmutable(path_, false); }
    ImmutableGuard(const ImmutableGuard&) = delete;
    ImmutableGuard& operator=(const ImmutableGuard&) = delete;

  private:
    std::string path_;
};

#define MAKE_IMMUTABLE_OR_SKIP(path)                                                        \
    do {                                                                                    \
        const int err = SetImmutable(path, true);                                           \
        if (err == EPERM || err == ENOTTY || err == EOPNOTSUPP) {                           \
            GTEST_SKIP() << "setting the immutable flag needs root and a file system that " \
                            "has it: "                                                      \
                         << std::strerror(err);                                             \
        }                                                                                   \
        ASSERT_EQ(err, 0) << std::strerror(err);                                            \
    } while (false)

mode_t PermissionBits(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

void MakeFile(const std::string& path, uid_t owner, gid_t group, mode_t mode) {
    test::WriteText(path, "data");
    ASSERT_EQ(::lchown(path.c_str(), owner, group), 0) << std::strerror(errno);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

void MakeFolder(const std::string& path, uid_t owner, gid_t group, mode_t mode) {
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
    ASSERT_EQ(::lchown(path.c_str(), owner, group), 0) << std::strerror(errno);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// The utilities as seen by an unprivileged user who owns kFakeUser's items and belongs to
// kFakeGroup only. The mode-bit rules are then exercised whoever runs the tests.
TWUtilities AsFakeUser() {
    TWUtilities utilities;
    utilities.mUserID = kFakeUser;
    utilities.mEUserID = kFakeUser;
    utilities.mGroupsID = {kFakeGroup};
    utilities.mEuidIsRoot = false;
    return utilities;
}

#define SKIP_UNLESS_ROOT()                                                         \
    do {                                                                           \
        if (!IsRoot()) GTEST_SKIP() << "needs root, to give items to a test user"; \
    } while (false)

// ---- Dates ----

TEST(TWUtilitiesDatesTest, EachKindReadsItsOwnTimeAndOnlyModificationKeepsFractions) {
    test::TempDir dir;
    const std::string file = dir / "file";
    test::WriteText(file, "x");
    SetTimes(file, {1000000000, 900000000}, {1100000000, 250000000});
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    TWUtilities utilities;

    EXPECT_EQ(utilities.GetDate(file, kModificationDate), 1100000000.25);
    EXPECT_EQ(utilities.GetDate(file, kAccessDate), 1000000000.0);
    EXPECT_EQ(utilities.GetDate(file, kAttributeModificationDate),
              static_cast<double>(st.st_ctim.tv_sec));
    EXPECT_EQ(utilities.GetAccessDate(file), 1000000000);
    EXPECT_EQ(utilities.GetStatusDate(file), st.st_ctim.tv_sec);
    EXPECT_EQ(utilities.GetDate(file, kBackupDate), std::nullopt);
    EXPECT_EQ(utilities.GetDate(file, 5), std::nullopt);
    EXPECT_EQ(utilities.GetDate(file, -1), std::nullopt);

    // From attributes already read: the same answers, and none for the status-change kind.
    const auto attributes = platform::ReadItemAttributes(file.c_str());
    EXPECT_EQ(utilities.GetDate(file, attributes, kModificationDate), 1100000000.25);
    EXPECT_EQ(utilities.GetDate(file, attributes, kAccessDate), 1000000000.0);
    EXPECT_EQ(utilities.GetDate(file, attributes, kAttributeModificationDate), std::nullopt);

    const std::string missing = dir / "missing";
    for (int kind = 0; kind <= 4; ++kind) {
        EXPECT_EQ(utilities.GetDate(missing, kind), std::nullopt) << kind;
    }
    EXPECT_EQ(utilities.GetAccessDate(missing), 0);
    EXPECT_EQ(utilities.GetStatusDate(missing), 0);
}

TEST(TWUtilitiesDatesTest, ZeroIsNoDateAfterCutting) {
    test::TempDir dir;
    const std::string file = dir / "file";
    test::WriteText(file, "x");
    TWUtilities utilities;

    SetTimes(file, {0, 500000000}, {0, 0});
    EXPECT_EQ(utilities.GetDate(file, kModificationDate), std::nullopt);
    EXPECT_EQ(utilities.GetDate(file, kAccessDate), std::nullopt);  // 0.5 cut to 0

    SetTimes(file, {0, 0}, {0, 500000000});
    EXPECT_EQ(utilities.GetDate(file, kModificationDate), 0.5);  // kept whole
}

TEST(TWUtilitiesDatesTest, CreationDatePrefersTheXattrOverTheBirthTime) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    const auto before = ::time(nullptr);
    const std::string file = dir / "file";
    test::WriteText(file, "x");
    const auto after = ::time(nullptr);
    TWUtilities utilities;

    struct statx stx {};
    ASSERT_EQ(::statx(AT_FDCWD, file.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx), 0);
    const bool hasBirthTime = (stx.stx_mask & STATX_BTIME) != 0;
    const auto birth = utilities.GetDate(file, kCreationDate);
    if (hasBirthTime) {
        ASSERT_TRUE(birth.has_value());
        EXPECT_GE(*birth, static_cast<double>(before));
        EXPECT_LE(*birth, static_cast<double>(after));
        EXPECT_EQ(*birth, static_cast<double>(static_cast<std::int64_t>(*birth)));
    } else {
        EXPECT_EQ(birth, std::nullopt);
    }

    ASSERT_EQ(SetXattr(file, kCreationDateXattr, "1234567890.75"), 0);
    EXPECT_EQ(utilities.GetDate(file, kCreationDate), 1234567890.0);
    const auto attributes = platform::ReadItemAttributes(file.c_str());
    EXPECT_EQ(utilities.GetDate(file, attributes, kCreationDate), 1234567890.0);

    // An unreadable record does not hide the file system's own birth time.
    ASSERT_EQ(SetXattr(file, kCreationDateXattr, "yesterday"), 0);
    EXPECT_EQ(utilities.GetDate(file, kCreationDate), birth);
}

TEST(TWUtilitiesDatesTest, BackupDateRoundTripsAndRejectsWhatIsNotDecimalSeconds) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    const std::string file = dir / "file";
    test::WriteText(file, "x");
    TWUtilities utilities;

    ASSERT_TRUE(utilities.SetBackupDate(file, 1700000123));
    EXPECT_EQ(utilities.GetDate(file, kBackupDate), 1700000123.0);
    EXPECT_EQ(GetXattr(file, kBackupDateXattr), "1700000123");
    ASSERT_TRUE(utilities.SetBackupDate(dir.path(), 1600000000));  // folders too
    EXPECT_EQ(utilities.GetDate(dir.path(), kBackupDate), 1600000000.0);
    EXPECT_FALSE(utilities.SetBackupDate(dir / "missing", 1700000123));

    const struct {
        const char* stored;
        OptionalDate expected;
    } cases[] = {
        {"1700000000", 1700000000.0},
        {"1700000000.9", 1700000000.0},
        {"-86400", -86400.0},
        {"-0.5", -1.0},  // before 1970, cut downwards like the kernel's times
        {"0", std::nullopt},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"17x", std::nullopt},
        {" 17", std::nullopt},
        {"1.", std::nullopt},
        {"1.2.3", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(SetXattr(file, kBackupDateXattr, c.stored), 0);
        EXPECT_EQ(utilities.GetDate(file, kBackupDate), c.expected) << '"' << c.stored << '"';
    }
}

TEST(TWUtilitiesDatesTest, SymbolicLinksAreNeverFollowed) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    const std::string target = dir / "target";
    const std::string link = dir / "link";
    test::WriteText(target, "0123456789");
    ASSERT_EQ(::symlink("target", link.c_str()), 0);
    SetTimes(target, {1000, 0}, {1000, 500000000});
    SetTimes(link, {3000, 0}, {2000, 700000000});
    TWUtilities utilities;
    ASSERT_TRUE(utilities.SetBackupDate(target, 1600000000));

    // A link's own modification date, without its fraction.
    EXPECT_EQ(utilities.GetDate(link, kModificationDate), 2000.0);
    EXPECT_EQ(utilities.GetDate(link, kAccessDate), 3000.0);
    EXPECT_EQ(utilities.GetAccessDate(link), 3000);
    EXPECT_EQ(utilities.GetDate(link, kBackupDate), std::nullopt);

    EXPECT_TRUE(utilities.SetBackupDate(link, 5));
    EXPECT_TRUE(utilities.SetBackupDateDitto(link, 5));
    EXPECT_EQ(utilities.GetDate(target, kBackupDate), 1600000000.0);

    EXPECT_FALSE(utilities.IsLocked(link));
    EXPECT_TRUE(S_ISLNK(static_cast<mode_t>(utilities.GetPermissionsAtPath(link))));
    EXPECT_EQ(utilities.NewItemSize(link), std::strlen("target"));
}

// ---- Locks ----

TEST(TWUtilitiesLockTest, OnlyTheImmutableFlagOrAnUnexaminableItemCountsAsLocked) {
    test::TempDir dir;
    const std::string file = dir / "file";
    test::WriteText(file, "x");
    TWUtilities utilities;
    EXPECT_FALSE(utilities.IsLocked(file));
    EXPECT_FALSE(utilities.IsLocked(dir.path()));
    EXPECT_TRUE(utilities.IsLocked(dir / "missing"));

    const ImmutableGuard guard(file);
    MAKE_IMMUTABLE_OR_SKIP(file);
    EXPECT_TRUE(utilities.IsLocked(file));
    const std::string link = dir / "link";
    ASSERT_EQ(::symlink("file", link.c_str()), 0);
    EXPECT_FALSE(utilities.IsLocked(link));  // the target's lock is not the link's
}

TEST(TWUtilitiesLockTest, SetBackupDateDittoGetsPastTheLockAndPutsItBack) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    const std::string file = dir / "file";
    const std::string folder = dir / "folder";
    test::WriteText(file, "x");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0440), 0);
    TWUtilities utilities;

    const ImmutableGuard fileGuard(file);
    const ImmutableGuard folderGuard(folder);
    MAKE_IMMUTABLE_OR_SKIP(file);
    MAKE_IMMUTABLE_OR_SKIP(folder);

    for (const std::string& item : {file, folder}) {
        const mode_t mode = PermissionBits(item);
        EXPECT_FALSE(utilities.SetBackupDate(item, 1700000000)) << item;
        EXPECT_TRUE(utilities.SetBackupDateDitto(item, 1700000000)) << item;
        EXPECT_EQ(utilities.GetDate(item, kBackupDate), 1700000000.0) << item;
        EXPECT_TRUE(HasImmutableFlag(item)) << item;
        EXPECT_EQ(PermissionBits(item), mode) << item;
    }
}

TEST(TWUtilitiesLockTest, SetBackupDateDittoOpensAReadOnlyFileOfItsOwnUser) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    const std::string file = dir / "file";
    test::WriteText(file, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    if (IsRoot()) {
        ASSERT_EQ(::chown(file.c_str(), kFakeUser, kFakeGroup), 0);
    }

    // Root writes whatever the mode says, so the file's owner is played by a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (IsRoot() &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(kFakeGroup, kFakeGroup, kFakeGroup) != 0 ||
             ::setresuid(kFakeUser, kFakeUser, kFakeUser) != 0)) {
            ::_exit(90);
        }
        TWUtilities utilities;
        int failures = 0;
        if (utilities.SetBackupDate(file, 1700000000)) failures |= 1;  // refused by the mode
        if (!utilities.SetBackupDateDitto(file, 1700000000)) failures |= 2;
        if (utilities.GetDate(file, kBackupDate) != 1700000000.0) failures |= 4;
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: plain write passed, 2: ditto failed, 4: not read";
    EXPECT_EQ(PermissionBits(file), 0444u);
}

// ---- Names and kinds ----

TEST(TWUtilitiesNamesTest, InvisibilityComesFromTheNameTheFinderFlagOrTheHiddenList) {
    test::TempDir dir;
    SKIP_WITHOUT_USER_XATTRS(dir.path());
    for (const char* name : {".profile", "plain", "flagged", "bundleOnly", "shortInfo", "listed",
                             "listed2", "notListed"}) {
        test::WriteText(dir / name, "x");
    }
    ASSERT_EQ(SetXattr(dir / "flagged", kFinderInfoXattr, FinderInfoWithFlags(0x4100)), 0);
    ASSERT_EQ(SetXattr(dir / ".profile", kFinderInfoXattr, FinderInfoWithFlags(0x4000)), 0);
    ASSERT_EQ(SetXattr(dir / "bundleOnly", kFinderInfoXattr, FinderInfoWithFlags(0x2000)), 0);
    ASSERT_EQ(
        SetXattr(dir / "shortInfo", kFinderInfoXattr, FinderInfoWithFlags(0x4000).substr(0, 10)),
        0);
    test::WriteText(dir / ".hidden", "other\nlisted\r\nlisted2");
    TWUtilities utilities;

    const struct {
        const char* name;
        bool includeDotStart;
        bool expected;
    } cases[] = {
        {".profile", true, true},    {".profile", false, false},  // the name rule comes first
        {"plain", true, false},      {"flagged", false, true},   {"bundleOnly", false, false},
        {"shortInfo", false, false}, {"listed", false, true},    {"listed2", false, true},
        {"notListed", false, false}, {"missing", false, false},  {".hidden", true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utilities.IsInvisible(dir / c.name, c.includeDotStart), c.expected)
            << c.name << " includeDotStart=" << c.includeDotStart;
    }
}

TEST(TWUtilitiesNamesTest, PackagesAreFoldersWithAPackageExtensionOrTheBundleFlag) {
    const struct {
        const char* name;
        bool expected;
    } names[] = {
        {"Mail.app", true},      {"Mail.APP", true},
        {"Notes.rtfd", true},    {"Disk.sparsebundle", true},
        {"Talk.key", true},      {"Photos.photoslibrary", true},
        {"app", false},          {".app", false},
        {"Mail.app.zip", false}, {"Mail.", false},
        {"Mailapp", false},      {"report.txt", false},
    };
    for (const auto& n : names) {
        EXPECT_EQ(TWUtilities::HasPackageExtension(n.name), n.expected) << n.name;
    }

    test::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "Tool.app").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "Flagged").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "Plain").c_str(), 0755), 0);
    test::WriteText(dir / "file.app", "not a folder");
    ASSERT_EQ(::symlink("Tool.app", (dir / "link.app").c_str()), 0);
    const bool xattrs =
        SetXattr(dir / "Flagged", kFinderInfoXattr, FinderInfoWithFlags(0x2000)) == 0;
    TWUtilities utilities;

    EXPECT_TRUE(utilities.IsFilePackage(dir / "Tool.app"));
    EXPECT_TRUE(utilities.IsFilePackage(dir / "Tool.app/"));
    EXPECT_FALSE(utilities.IsFilePackage(dir / "Plain"));
    EXPECT_FALSE(utilities.IsFilePackage(dir / "file.app"));
    EXPECT_FALSE(utilities.IsFilePackage(dir / "link.app"));
    EXPECT_FALSE(utilities.IsReallyFolder(dir / "Tool.app"));
    EXPECT_TRUE(utilities.IsReallyFolder(dir / "Plain"));
    EXPECT_FALSE(utilities.IsReallyFolder(dir / "file.app"));
    EXPECT_FALSE(utilities.IsReallyFolder(dir / "link.app"));
    EXPECT_FALSE(utilities.IsReallyFolder(dir / "missing"));
    if (xattrs) {
        EXPECT_TRUE(utilities.IsFilePackage(dir / "Flagged"));
        EXPECT_FALSE(utilities.IsReallyFolder(dir / "Flagged"));
    }
}

TEST(TWUtilitiesNamesTest, CaseSensitivePathNameFindsTheNameAsStored) {
    test::TempDir dir;
    for (const char* name : {"Report.TXT", "exact.txt", "Twin", "TWIN", "\xC3\x89t\xC3\xA9.txt"}) {
        test::WriteText(dir / name, "x");
    }
    TWUtilities utilities;
    const struct {
        std::string asked;
        bool found;
        std::string result;
    } cases[] = {
        {dir / "report.txt", true, dir / "Report.TXT"},
        {dir / "REPORT.txt", true, dir / "Report.TXT"},
        {dir / "exact.txt", true, dir / "exact.txt"},
        {dir / "twin", false, dir / "twin"},  // two candidates: no single answer
        {dir / "Twin", true, dir / "Twin"},
        {dir / "\xC3\x89T\xC3\xA9.TXT", true, dir / "\xC3\x89t\xC3\xA9.txt"},   // ASCII part folds
        {dir / "\xC3\xA9t\xC3\xA9.txt", false, dir / "\xC3\xA9t\xC3\xA9.txt"},  // é is not É
        {dir / "nothing", false, dir / "nothing"},
        {dir / "nofolder/report.txt", false, dir / "nofolder/report.txt"},
    };
    for (const auto& c : cases) {
        std::string path = c.asked;
        EXPECT_EQ(utilities.CaseSensitivePathName(path), c.found) << c.asked;
        EXPECT_EQ(path, c.result) << c.asked;
    }
}

TEST(TWUtilitiesNamesTest, FindUniqueNameInFolderNumbersBeforeTheExtension) {
    const struct {
        std::vector<std::string> existing;
        std::string asked;
        std::string expected;
    } cases[] = {
        {{}, "report.txt", "report.txt"},
        {{"report.txt"}, "report.txt", "report 1.txt"},
        {{"report.txt", "report 1.txt"}, "report.txt", "report 2.txt"},
        {{"report.txt", "report 2.txt"}, "report.txt", "report 1.txt"},
        {{"QVTempFile"}, "QVTempFile", "QVTempFile 1"},
        {{".bashrc"}, ".bashrc", ".bashrc 1"},
        {{"a.tar.gz"}, "a.tar.gz", "a.tar 1.gz"},
        {{"Photos/"}, "Photos", "Photos 1"},
        {{"dangling.lnk@", "dangling 1.lnk@"}, "dangling.lnk", "dangling 2.lnk"},
    };
    TWUtilities utilities;
    for (const auto& c : cases) {
        test::TempDir dir;
        for (std::string name : c.existing) {
            if (name.back() == '/') {
                name.pop_back();
                ASSERT_EQ(::mkdir((dir / name).c_str(), 0755), 0);
            } else if (name.back() == '@') {
                name.pop_back();
                ASSERT_EQ(::symlink("nowhere", (dir / name).c_str()), 0);
            } else {
                test::WriteText(dir / name, "x");
            }
        }
        std::string path = dir / c.asked;
        EXPECT_TRUE(utilities.FindUniqueNameInFolder(path)) << c.asked;
        EXPECT_EQ(path, dir / c.expected) << c.asked;
    }

    test::TempDir dir;
    const std::string longName = std::string(250, 'n') + ".txt";  // 254 bytes
    test::WriteText(dir / longName, "x");
    std::string path = dir / longName;
    EXPECT_FALSE(utilities.FindUniqueNameInFolder(path));
    EXPECT_EQ(path, dir / longName);
}

TEST(TWUtilitiesNamesTest, NewItemSizeSumsTheEntriesOfAFolder) {
    test::TempDir dir;
    test::WriteText(dir / "top/a", "0123456789");
    test::WriteText(dir / "top/b", "abcdefghij");
    TWUtilities utilities;
    EXPECT_EQ(utilities.NewItemSize(dir / "top"), 20u);
    EXPECT_EQ(utilities.NewItemSize(dir / "top/a"), 10u);

    test::WriteText(dir / "top/sub/deeper/c", "12345");
    ASSERT_EQ(::symlink("abc", (dir / "top/sub/link").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (dir / "top/loop").c_str()), 0);  // counted as a link, not walked
    EXPECT_EQ(utilities.NewItemSize(dir / "top"), 20u + 5u + 3u + 3u);
    ASSERT_EQ(::mkdir((dir / "empty").c_str(), 0755), 0);
    EXPECT_EQ(utilities.NewItemSize(dir / "empty"), 0u);
    EXPECT_EQ(utilities.NewItemSize(dir / "missing"), 0u);
}

TEST(TWUtilitiesNamesTest, PermissionsCarryTheTypeBits) {
    test::TempDir dir;
    test::WriteText(dir / "file", "x");
    ASSERT_EQ(::chmod((dir / "file").c_str(), 0640), 0);
    TWUtilities utilities;
    EXPECT_EQ(utilities.GetPermissionsAtPath(dir / "file"), static_cast<int>(S_IFREG | 0640));
    EXPECT_EQ(utilities.GetPermissionsAtPath(dir / "missing"), -1);
}

TEST(TWUtilitiesNamesTest, CreateFolderWithFoldersInBetweenRefusesAFileInTheWay) {
    test::TempDir dir;
    TWUtilities utilities;
    EXPECT_TRUE(utilities.CreateFolderWithFoldersInBetween(dir / "a/b/c"));
    EXPECT_TRUE(platform::IsExistingFolder(dir / "a/b/c"));
    EXPECT_TRUE(utilities.CreateFolderWithFoldersInBetween(dir / "a/b"));
    test::WriteText(dir / "file", "x");
    EXPECT_FALSE(utilities.CreateFolderWithFoldersInBetween(dir / "file"));
    EXPECT_FALSE(utilities.CreateFolderWithFoldersInBetween(dir / "file/below"));
}

// ---- Privileges ----

TEST(TWUtilitiesPrivilegesTest, RecordsTheProcessIdentity) {
    TWUtilities utilities;
    EXPECT_EQ(utilities.mUserID, ::getuid());
    EXPECT_EQ(utilities.mEUserID, ::geteuid());
    EXPECT_EQ(utilities.mEuidIsRoot, ::geteuid() == 0);
    EXPECT_TRUE(utilities.IsInGroupID(::getgid()));
    EXPECT_LE(utilities.mGroupsID.size(), 1000u);
    utilities.mGroupsID = {kFakeGroup};
    EXPECT_TRUE(utilities.IsInGroupID(kFakeGroup));
    EXPECT_FALSE(utilities.IsInGroupID(kOtherGroup));
}

TEST(TWUtilitiesPrivilegesTest, ReadableFollowsTheClassThatAppliesOnly) {
    SKIP_UNLESS_ROOT();
    test::TempDir dir;
    const struct {
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool expected;
    } cases[] = {
        {kFakeUser, kOtherGroup, 0400, true},
        {kFakeUser, kFakeGroup, 0044, false},  // the owner's bits decide for the owner
        {kOtherUser, kFakeGroup, 0040, true},
        {kOtherUser, kFakeGroup, 0404, false},  // the group's bits decide for a member
        {kOtherUser, kOtherGroup, 0004, true},
        {kOtherUser, kOtherGroup, 0440, false},
    };
    const TWUtilities utilities = AsFakeUser();
    int i = 0;
    for (const auto& c : cases) {
        const std::string file = dir / ("f" + std::to_string(i++));
        MakeFile(file, c.owner, c.group, c.mode);
        EXPECT_EQ(utilities.IsIndeedReadableFileAtPath(file), c.expected)
            << "owner " << c.owner << " group " << c.group << " mode " << std::oct << c.mode;
    }
    EXPECT_FALSE(utilities.IsIndeedReadableFileAtPath(dir / "missing"));
}

TEST(TWUtilitiesPrivilegesTest, WritableNeedsASearchableParentAndTheWriteBit) {
    SKIP_UNLESS_ROOT();
    const struct {
        uid_t parentOwner;
        gid_t parentGroup;
        mode_t parentMode;
        bool itemExists;
        uid_t itemOwner;
        gid_t itemGroup;
        mode_t itemMode;
        bool expected;
    } cases[] = {
        {kFakeUser, kOtherGroup, 0700, false, 0, 0, 0, true},
        {kFakeUser, kOtherGroup, 0600, false, 0, 0, 0, false},  // parent not searchable
        {kFakeUser, kFakeGroup, 0070, false, 0, 0, 0, false},   // the owner class applies
        {kOtherUser, kFakeGroup, 0010, false, 0, 0, 0, true},
        {kOtherUser, kOtherGroup, 0001, false, 0, 0, 0, true},
        {kFakeUser, kOtherGroup, 0700, true, kFakeUser, kOtherGroup, 0200, true},
        {kFakeUser, kOtherGroup, 0700, true, kFakeUser, kOtherGroup, 0477, false},
        {kFakeUser, kOtherGroup, 0700, true, kOtherUser, kFakeGroup, 0020, true},
        {kFakeUser, kOtherGroup, 0700, true, kOtherUser, kOtherGroup, 0002, true},
        {kFakeUser, kOtherGroup, 0700, true, kOtherUser, kOtherGroup, 0660, false},
    };
    const TWUtilities utilities = AsFakeUser();
    for (const auto& c : cases) {
        test::TempDir dir;
        const std::string parent = dir / "parent";
        const std::string item = parent + "/item";
        MakeFolder(parent, kFakeUser, kFakeGroup, 0755);
        if (c.itemExists) MakeFile(item, c.itemOwner, c.itemGroup, c.itemMode);
        ASSERT_EQ(::lchown(parent.c_str(), c.parentOwner, c.parentGroup), 0);
        ASSERT_EQ(::chmod(parent.c_str(), c.parentMode), 0);
        EXPECT_EQ(utilities.IsIndeedWritableFileAtPath(item), c.expected)
            << "parent " << std::oct << c.parentMode << " item " << c.itemMode
            << (c.itemExists ? "" : " (missing)");
    }
}

TEST(TWUtilitiesPrivilegesTest, DeletableIsJudgedOnTheParentsWriteAndSearchBits) {
    SKIP_UNLESS_ROOT();
    const struct {
        uid_t parentOwner;
        gid_t parentGroup;
        mode_t parentMode;
        bool expected;
    } cases[] = {
        {kFakeUser, kOtherGroup, 0300, true},  {kFakeUser, kOtherGroup, 0500, false},
        {kFakeUser, kOtherGroup, 0100, false}, {kFakeUser, kFakeGroup, 0077, false},
        {kOtherUser, kFakeGroup, 0030, true},  {kOtherUser, kFakeGroup, 0020, false},
        {kOtherUser, kOtherGroup, 0003, true}, {kOtherUser, kOtherGroup, 0002, false},
    };
    const TWUtilities utilities = AsFakeUser();
    for (const auto& c : cases) {
        test::TempDir dir;
        const std::string parent = dir / "parent";
        const std::string item = parent + "/item";
        MakeFolder(parent, c.parentOwner, c.parentGroup, 0755);
        MakeFile(item, kOtherUser, kOtherGroup, 0);  // the item's own mode does not matter
        ASSERT_EQ(::chmod(parent.c_str(), c.parentMode), 0);
        EXPECT_EQ(utilities.IsIndeedDeletableFileAtPath(item), c.expected)
            << "parent owner " << c.parentOwner << " mode " << std::oct << c.parentMode;
    }
}

TEST(TWUtilitiesPrivilegesTest, RootPassesEverythingOnALocalVolume) {
    test::TempDir dir;
    TWUtilities root;
    root.mUserID = 0;
    root.mEUserID = 0;
    root.mEuidIsRoot = true;
    if (root.IsRemoteVolume(dir.path())) GTEST_SKIP() << "the temporary folder is remote";
    const std::string parent = dir / "parent";
    ASSERT_EQ(::mkdir(parent.c_str(), 0755), 0);
    test::WriteText(parent + "/item", "x");
    ASSERT_EQ(::chmod((parent + "/item").c_str(), 0), 0);
    ASSERT_EQ(::chmod(parent.c_str(), 0100), 0);  // searchable, so that the item can be examined
    EXPECT_TRUE(root.IsIndeedReadableFileAtPath(parent + "/item"));
    EXPECT_TRUE(root.IsIndeedWritableFileAtPath(parent + "/item"));
    EXPECT_TRUE(root.IsIndeedDeletableFileAtPath(parent + "/item"));

    const TWUtilities user = AsFakeUser();
    EXPECT_FALSE(user.IsIndeedWritableFileAtPath(parent + "/item"));
    EXPECT_FALSE(user.IsIndeedDeletableFileAtPath(parent + "/item"));
}

TEST(TWUtilitiesPrivilegesTest, RemoteVolumesAreNetworkFileSystems) {
    test::TempDir dir;
    TWUtilities utilities;
    EXPECT_FALSE(utilities.IsRemoteVolume("relative/path"));
    EXPECT_FALSE(utilities.IsRemoteVolume(""));
    EXPECT_FALSE(utilities.IsRemoteVolume("/proc/self"));
    EXPECT_FALSE(utilities.IsRemoteVolume("/dev"));
    const struct {
        const char* type;
        bool remote;
    } types[] = {
        {"nfs", true},   {"nfs4", true},        {"cifs", true},
        {"smb3", true},  {"fuse.sshfs", true},  {"fuse.gvfsd-fuse", true},
        {"davfs", true}, {"ext4", false},       {"tmpfs", false},
        {"fuse", false}, {"fuse.encfs", false}, {"", false},
    };
    for (const auto& t : types) {
        EXPECT_EQ(TWUtilities::IsRemoteFileSystemType(t.type), t.remote) << t.type;
    }
}

TEST(TWUtilitiesPrivilegesTest, PackagePermissionsCoverEverythingInside) {
    SKIP_UNLESS_ROOT();
    test::TempDir dir;
    MakeFolder(dir / "home", kFakeUser, kFakeGroup, 0755);
    const std::string package = dir / "home/Doc.rtfd";
    MakeFolder(package, kFakeUser, kFakeGroup, 0755);
    MakeFile(package + "/TXT.rtf", kFakeUser, kFakeGroup, 0644);
    MakeFolder(package + "/Contents", kFakeUser, kFakeGroup, 0755);
    MakeFile(package + "/Contents/inner", kFakeUser, kFakeGroup, 0644);
    const TWUtilities utilities = AsFakeUser();

    for (int check = 0; check <= 2; ++check) {
        EXPECT_TRUE(utilities.CheckFilePackagePermissions(package, check)) << check;
    }
    EXPECT_FALSE(utilities.CheckFilePackagePermissions(package, 3));
    EXPECT_FALSE(utilities.CheckFilePackagePermissions(package, -1));

    // A deep item that fails one test fails the whole package for that test only.
    ASSERT_EQ(::chmod((package + "/Contents/inner").c_str(), 0200), 0);
    EXPECT_FALSE(utilities.CheckFilePackagePermissions(package, 0));
    EXPECT_TRUE(utilities.CheckFilePackagePermissions(package, 1));
    EXPECT_TRUE(utilities.IsIndeedReadableFileAtPath(package));

    ASSERT_EQ(::chmod((package + "/Contents/inner").c_str(), 0444), 0);
    EXPECT_TRUE(utilities.CheckFilePackagePermissions(package, 0));
    EXPECT_FALSE(utilities.CheckFilePackagePermissions(package, 1));
    EXPECT_TRUE(utilities.CheckFilePackagePermissions(package, 2));

    ASSERT_EQ(::chmod((package + "/Contents").c_str(), 0555), 0);
    EXPECT_FALSE(utilities.CheckFilePackagePermissions(package, 2));
    EXPECT_TRUE(utilities.CheckFilePackagePermissions(package + "/TXT.rtf", 2));
}

}  // namespace
}  // namespace qv::fileops
