#include "items/tw_utilities.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string_view>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/folder_handle.h"
#include "platform/unique_fd.h"
#include "platform/volumes.h"

namespace qv::items {
namespace {

// Folder extensions that make a folder an opaque document or bundle rather than a folder to
// walk into. Compared ignoring ASCII case.
constexpr std::array<std::string_view, 16> kPackageExtensions = {
    "app",           "bundle",    "framework",  "plugin",      "kext", "pkg",
    "mpkg",          "rtfd",      "pages",      "numbers",     "key",  "sparsebundle",
    "photoslibrary", "xcodeproj", "playground", "xcworkspace",
};

// Network file systems as /proc/self/mountinfo names them. FUSE and Coda carry many local file
// systems too, so for those only the mount's own type name tells.
// clang-format off
constexpr std::array<std::string_view, 20> kRemoteFileSystemTypes = {
    "cifs", "smb3", "smbfs", "fuse.smbnetfs", "nfs", "nfs4", "ncpfs", "afs", "coda", "ceph",
    "glusterfs", "fuse.glusterfs", "lustre", "davfs", "fuse.davfs2", "fuse.sshfs",
    "fuse.gvfsd-fuse", "fuse.rclone", "fuse.s3fs", "fuse.curlftpfs",
};
// clang-format on

constexpr unsigned long kCifsMagic = 0xFF534D42;
constexpr unsigned long kSmb2Magic = 0xFE534D42;
constexpr unsigned long kAfsFsMagic = 0x6B414653;  // the in-kernel AFS client
constexpr unsigned long kCephMagic = 0x00C36400;
constexpr unsigned long kLustreMagic = 0x0BD00BD0;
constexpr unsigned long kFuseMagic = 0x65735546;

constexpr std::size_t kFinderInfoSize = 16;
constexpr std::size_t kMaxHiddenListBytes = 1 << 20;
constexpr std::size_t kMaxNameBytes = 255;
constexpr int kMaxUniqueNameTries = 10000;
constexpr std::size_t kMaxGroups = 1000;

using platform::sys;

std::optional<struct stat> LStatAt(int dirFd, const std::string& name) {
    struct stat st {};
    if (sys().fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return st;
}

std::optional<struct stat> LStat(const std::string& path) { return LStatAt(AT_FDCWD, path); }

std::optional<struct stat> Stat(const std::string& path) {
    struct stat st {};
    if (sys().fstatat(AT_FDCWD, path.c_str(), &st, 0) != 0) return std::nullopt;
    return st;
}

// The entries of a folder; nothing when it cannot be opened or read to its end.
std::optional<std::vector<platform::FolderEntry>> ListFolder(int dirFd, const std::string& name) {
    const platform::UniqueFd fd(
        sys().openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0));
    if (!fd.valid()) return std::nullopt;
    std::vector<platform::FolderEntry> entries;
    if (sys().readfolder(fd.get(), entries) != 0) return std::nullopt;
    return entries;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// dirFd AT_FDCWD: item is a whole path; item empty: the item open as dirFd itself.
std::optional<std::string> ReadXattrAt(int dirFd, const std::string& item, const char* name) {
    const auto get = [&](void* value, std::size_t size) {
        if (dirFd == AT_FDCWD) return sys().lgetxattr(item.c_str(), name, value, size);
        if (item.empty()) return sys().fgetxattr(dirFd, name, value, size);
        return sys().getxattrat(dirFd, item.c_str(), name, value, size);
    };
    std::string value(64, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t n = get(value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            return value;
        }
        if (errno != ERANGE) return std::nullopt;
        const ssize_t needed = get(nullptr, 0);
        if (needed < 0) return std::nullopt;
        value.assign(static_cast<std::size_t>(needed) + 1, '\0');
    }
    return std::nullopt;
}

// Decimal seconds, optionally signed and with a fraction, floored to whole seconds so that
// dates before 1970 cut the same way as the kernel's timespecs do.
std::optional<std::int64_t> ParseDecimalSeconds(std::string_view text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    std::int64_t whole = 0;
    const auto [next, ec] = std::from_chars(begin, end, whole);
    if (ec != std::errc() || next == begin) return std::nullopt;
    if (next == end) return whole;
    if (*next != '.') return std::nullopt;
    const char* fraction = next + 1;
    if (fraction == end) return std::nullopt;
    bool nonZeroFraction = false;
    for (const char* p = fraction; p != end; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        if (*p != '0') nonZeroFraction = true;
    }
    if (nonZeroFraction && text.front() == '-') {
        if (whole == INT64_MIN) return std::nullopt;
        --whole;
    }
    return whole;
}

OptionalDate WholeSecondsOrNone(std::int64_t seconds) {
    if (seconds == 0) return std::nullopt;
    return static_cast<double>(seconds);
}

OptionalDate XattrDate(int dirFd, const std::string& item, const char* name) {
    const auto text = ReadXattrAt(dirFd, item, name);
    if (!text) return std::nullopt;
    const auto seconds = ParseDecimalSeconds(*text);
    if (!seconds) return std::nullopt;
    return WholeSecondsOrNone(*seconds);
}

// Linux cannot set a birth time, so a creation date carried over by a copy lives in an xattr
// and wins over the file system's own birth time.
OptionalDate CreationDate(int dirFd, const std::string& item) {
    if (const auto text = ReadXattrAt(dirFd, item, kCreationDateXattr)) {
        if (const auto seconds = ParseDecimalSeconds(*text)) return WholeSecondsOrNone(*seconds);
    }
    struct statx stx {};
    if (sys().statx(dirFd, item.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx) != 0) {
        return std::nullopt;
    }
    if ((stx.stx_mask & STATX_BTIME) == 0) return std::nullopt;
    return WholeSecondsOrNone(stx.stx_btime.tv_sec);
}

// Links are compared on whole seconds: their fractions do not survive every copy of a link.
OptionalDate ModificationDate(const platform::ItemAttributes& attributes) {
    if (attributes.isSymbolicLink()) return WholeSecondsOrNone(attributes.mtime.sec);
    const double seconds = attributes.mtime.seconds();
    if (seconds == 0.0) return std::nullopt;
    return seconds;
}

std::optional<std::uint16_t> FinderFlags(int dirFd, const std::string& item) {
    const auto info = ReadXattrAt(dirFd, item, kFinderInfoXattr);
    if (!info || info->size() != kFinderInfoSize) return std::nullopt;
    const auto hi = static_cast<unsigned char>((*info)[8]);
    const auto lo = static_cast<unsigned char>((*info)[9]);
    return static_cast<std::uint16_t>((hi << 8) | lo);
}

// The folder's ".hidden" list (the desktop file managers' convention), when it has one.
std::optional<std::string> ReadHiddenList(int dirFd, const std::string& name) {
    const platform::UniqueFd fd(
        sys().openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
    if (!fd.valid()) return std::nullopt;
    struct stat st {};
    if (sys().fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > kMaxHiddenListBytes) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            sys().pread(fd.get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

// Calls each(name) for every name a ".hidden" list holds, one a line, until it returns true.
template <typename Each>
bool AnyHiddenName(const std::optional<std::string>& list, Each each) {
    if (!list) return false;
    std::string_view rest = *list;
    while (!rest.empty()) {
        const auto newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && each(line)) return true;
        if (newline == std::string_view::npos) break;
        rest.remove_prefix(newline + 1);
    }
    return false;
}

bool ListedInHiddenFile(const std::optional<std::string>& list, const std::string& name) {
    return AnyHiddenName(list, [&name](std::string_view line) { return line == name; });
}

// Opens an item only to reach its inode flags. Only regular files and folders are opened:
// the same ioctl on a device node would reach the driver rather than the file system.
int OpenForInodeFlagsAt(int dirFd, const std::string& name, const struct stat& st) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return -1;
    return sys().openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY, 0);
}

std::optional<int> ReadInodeFlags(int fd) {
    int flags = 0;
    if (sys().getflags(fd, &flags) != 0) return std::nullopt;
    return flags;
}

bool WriteInodeFlags(int fd, int flags) { return sys().setflags(fd, flags) == 0; }

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x == y) continue;
        if (x >= 0x80 || y >= 0x80) return false;
        const auto lower = [](unsigned char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
        };
        if (lower(x) != lower(y)) return false;
    }
    return true;
}

std::uint64_t SizeOfFolderEntries(int folderFd) {
    const platform::UniqueFd owned(folderFd);
    std::vector<platform::FolderEntry> entries;
    sys().readfolder(folderFd, entries);
    std::uint64_t total = 0;
    for (const auto& entry : entries) {
        struct stat st {};
        if (sys().fstatat(folderFd, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            const int childFd =
                sys().openat(folderFd, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
            if (childFd >= 0) total += SizeOfFolderEntries(childFd);
        } else {
            total += static_cast<std::uint64_t>(st.st_size);
        }
    }
    return total;
}

}  // namespace

TWUtilities::TWUtilities()
    : mUserID(::getuid()), mEUserID(::geteuid()), mEuidIsRoot(::geteuid() == 0) {
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        mGroupsID.resize(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, mGroupsID.data());
        mGroupsID.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    // The primary group is not always among the supplementary ones, yet it grants access.
    const gid_t primary = ::getgid();
    if (std::find(mGroupsID.begin(), mGroupsID.end(), primary) == mGroupsID.end()) {
        mGroupsID.insert(mGroupsID.begin(), primary);
    }
    if (mGroupsID.size() > kMaxGroups) mGroupsID.resize(kMaxGroups);
}

// ---- Dates ----

OptionalDate TWUtilities::GetDate(const std::string& path, int whichDate) const {
    const auto attributes = platform::ReadItemAttributes(path.c_str());
    if (!attributes.exists()) return std::nullopt;
    if (whichDate == kAttributeModificationDate) return WholeSecondsOrNone(attributes.ctime.sec);
    return GetDate(path, attributes, whichDate);
}

OptionalDate TWUtilities::GetDate(const std::string& path,
                                  const platform::ItemAttributes& attributes, int whichDate) const {
    return GetDate(AT_FDCWD, path, attributes, whichDate);
}

OptionalDate TWUtilities::GetDate(int dirFd, const std::string& name,
                                  const platform::ItemAttributes& attributes, int whichDate) const {
    if (!attributes.exists()) return std::nullopt;
    switch (whichDate) {
        case kCreationDate:
            return CreationDate(dirFd, name);
        case kModificationDate:
            return ModificationDate(attributes);
        case kBackupDate:
            return XattrDate(dirFd, name, kBackupDateXattr);
        case kAccessDate:
            return WholeSecondsOrNone(attributes.atime.sec);
        default:
            return std::nullopt;
    }
}

std::int64_t TWUtilities::GetStatusDate(const std::string& path) const {
    const auto st = LStat(path);
    return st ? st->st_ctim.tv_sec : 0;
}

std::int64_t TWUtilities::GetAccessDate(const std::string& path) const {
    const auto st = LStat(path);
    return st ? st->st_atim.tv_sec : 0;
}

bool TWUtilities::SetBackupDate(const std::string& path, std::int64_t utcSeconds) const {
    const auto st = LStat(path);
    if (!st) return false;
    // User xattrs cannot be put on a link, and following it would date the wrong item.
    if (S_ISLNK(st->st_mode)) return true;
    const std::string value = std::to_string(utcSeconds);
    return sys().setxattrat(AT_FDCWD, path.c_str(), kBackupDateXattr, value.data(), value.size(),
                            0) == 0;
}

bool TWUtilities::SetBackupDateDitto(const std::string& path, std::int64_t utcSeconds) const {
    if (SetBackupDate(path, utcSeconds)) return true;
    const auto st = LStat(path);
    if (!st) return false;
    const mode_t originalMode = st->st_mode & 07777;

    const platform::UniqueFd fd(OpenForInodeFlagsAt(AT_FDCWD, path, *st));
    const std::optional<int> flags = fd.valid() ? ReadInodeFlags(fd.get()) : std::nullopt;
    const bool wasImmutable = flags && (*flags & FS_IMMUTABLE_FL) != 0;
    const auto setMode = [&](mode_t mode) {
        return fd.valid() ? sys().fchmod(fd.get(), mode) == 0
                          : sys().chmodat(AT_FDCWD, path.c_str(), mode) == 0;
    };

    if (wasImmutable) WriteInodeFlags(fd.get(), *flags & ~FS_IMMUTABLE_FL);
    setMode(0777);
    const bool written = SetBackupDate(path, utcSeconds);
    // The mode must go back before the flag: an immutable item refuses chmod.
    setMode(originalMode);
    if (wasImmutable) WriteInodeFlags(fd.get(), *flags);
    return written;
}

// ---- Names and kinds ----

bool TWUtilities::CaseSensitivePathName(std::string& path) const {
    const std::string trimmed = WithoutTrailingSlashes(path);
    const std::string name = platform::LastPathComponent(trimmed);
    if (name.empty() || name == "/") return Stat(trimmed).has_value();
    const std::string folder = platform::ParentFolder(trimmed);

    const auto entries = ListFolder(AT_FDCWD, folder);
    if (!entries) return false;
    std::optional<std::string> caseMatch;
    int caseMatches = 0;
    for (const auto& entry : *entries) {
        const std::string_view entryName = entry.name;
        if (entryName == name) return true;
        if (EqualIgnoringAsciiCase(entryName, name)) {
            ++caseMatches;
            caseMatch = std::string(entryName);
        }
    }
    // Two entries differing only in case (a case-sensitive folder) leave no single answer.
    if (caseMatches != 1) return false;
    path = platform::JoinPath(folder, *caseMatch);
    return true;
}

bool TWUtilities::IsInvisible(const std::string& path, bool includeDotStart) const {
    const std::string trimmed = WithoutTrailingSlashes(path);
    const std::string name = platform::LastPathComponent(trimmed);
    if (!name.empty() && name[0] == '.') return includeDotStart;
    if (!LStat(trimmed)) return false;
    if (const auto flags = FinderFlags(AT_FDCWD, trimmed);
        flags && (*flags & kFinderFlagInvisible)) {
        return true;
    }
    return ListedInHiddenFile(
        ReadHiddenList(AT_FDCWD, platform::JoinPath(platform::ParentFolder(trimmed), ".hidden")),
        name);
}

FinderCodes TWUtilities::GetTypeAndCreator(int dirFd, const std::string& name) const {
    FinderCodes codes;
    const auto info = ReadXattrAt(dirFd, name, kFinderInfoXattr);
    if (!info || info->size() != kFinderInfoSize) return codes;
    const auto code = [&](std::size_t at) {
        const std::string bytes = info->substr(at, 4);
        return bytes == std::string(4, '\0') ? std::string() : bytes;
    };
    codes.type = code(0);
    codes.creator = code(4);
    return codes;
}

bool TWUtilities::IsInvisible(int dirFd, const std::string& name, bool includeDotStart) const {
    if (!name.empty() && name[0] == '.') return includeDotStart;
    if (!LStatAt(dirFd, name)) return false;
    if (const auto flags = FinderFlags(dirFd, name); flags && (*flags & kFinderFlagInvisible)) {
        return true;
    }
    return ListedInHiddenFile(ReadHiddenList(dirFd, ".hidden"), name);
}

std::set<std::string> TWUtilities::HiddenNamesIn(int dirFd) const {
    std::set<std::string> names;
    AnyHiddenName(ReadHiddenList(dirFd, ".hidden"), [&names](std::string_view line) {
        names.emplace(line);
        return false;
    });
    return names;
}

bool TWUtilities::HasPackageExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    // A leading dot makes a hidden name, not an extension.
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return false;
    const std::string_view extension = std::string_view(name).substr(dot + 1);
    return std::any_of(
        kPackageExtensions.begin(), kPackageExtensions.end(),
        [&](std::string_view known) { return EqualIgnoringAsciiCase(extension, known); });
}

bool TWUtilities::IsFilePackage(const std::string& path) const {
    const std::string trimmed = WithoutTrailingSlashes(path);
    const auto st = LStat(trimmed);
    if (!st || !S_ISDIR(st->st_mode)) return false;
    if (HasPackageExtension(platform::LastPathComponent(trimmed))) return true;
    const auto flags = FinderFlags(AT_FDCWD, trimmed);
    return flags && (*flags & kFinderFlagHasBundle) != 0;
}

bool TWUtilities::IsFilePackage(const std::string& path,
                                const platform::ItemAttributes& attributes) const {
    if (!attributes.isDirectory()) return false;
    const std::string trimmed = WithoutTrailingSlashes(path);
    if (HasPackageExtension(platform::LastPathComponent(trimmed))) return true;
    const auto flags = FinderFlags(AT_FDCWD, trimmed);
    return flags && (*flags & kFinderFlagHasBundle) != 0;
}

bool TWUtilities::IsFilePackage(int dirFd, const std::string& name,
                                const platform::ItemAttributes& attributes) const {
    if (!attributes.isDirectory()) return false;
    if (HasPackageExtension(name)) return true;
    const auto flags = FinderFlags(dirFd, name);
    return flags && (*flags & kFinderFlagHasBundle) != 0;
}

bool TWUtilities::IsFolderPackage(int folderFd, const std::string& name) const {
    if (HasPackageExtension(name)) return true;
    const auto flags = FinderFlags(folderFd, std::string());
    return flags && (*flags & kFinderFlagHasBundle) != 0;
}

bool TWUtilities::IsReallyFolder(const std::string& path) const {
    const auto st = LStat(WithoutTrailingSlashes(path));
    return st && S_ISDIR(st->st_mode) && !IsFilePackage(path);
}

bool TWUtilities::IsLocked(const std::string& path) const { return IsLocked(AT_FDCWD, path); }

bool TWUtilities::IsLocked(int dirFd, const std::string& name) const {
    // statx tells the immutable flag where the file system reports it, in one call.
    struct statx stx {};
    const int atFlags = name.empty() ? AT_EMPTY_PATH : AT_SYMLINK_NOFOLLOW;
    if (sys().statx(dirFd, name.c_str(), atFlags, STATX_TYPE | STATX_MODE, &stx) != 0) {
        return true;
    }
    if (!S_ISREG(stx.stx_mode) && !S_ISDIR(stx.stx_mode)) return false;
    if ((stx.stx_attributes_mask & STATX_ATTR_IMMUTABLE) != 0) {
        return (stx.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
    }
    if (name.empty()) return (ReadInodeFlags(dirFd).value_or(0) & FS_IMMUTABLE_FL) != 0;
    const auto st = LStatAt(dirFd, name);
    if (!st) return true;
    const platform::UniqueFd fd(OpenForInodeFlagsAt(dirFd, name, *st));
    if (!fd.valid()) return true;
    // A file system without inode flags (ENOTTY, EOPNOTSUPP) cannot lock anything.
    const auto flags = ReadInodeFlags(fd.get());
    return flags && (*flags & FS_IMMUTABLE_FL) != 0;
}

int TWUtilities::GetPermissionsAtPath(const std::string& path) const {
    return GetPermissionsAt(AT_FDCWD, path);
}

int TWUtilities::GetPermissionsAt(int dirFd, const std::string& name) const {
    const auto st = LStatAt(dirFd, name);
    return st ? static_cast<int>(st->st_mode) : -1;
}

std::uint64_t TWUtilities::NewItemSize(const std::string& path) const {
    return NewItemSize(AT_FDCWD, path);
}

std::uint64_t TWUtilities::NewItemSize(int dirFd, const std::string& name) const {
    const auto st = LStatAt(dirFd, name);
    if (!st) return 0;
    if (!S_ISDIR(st->st_mode)) return static_cast<std::uint64_t>(st->st_size);
    const int fd = sys().openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
    return fd >= 0 ? SizeOfFolderEntries(fd) : 0;
}

bool TWUtilities::FindUniqueNameInFolder(std::string& path) const {
    const std::string trimmed = WithoutTrailingSlashes(path);
    if (!platform::ItemExists(trimmed)) return true;
    const std::string folder = platform::ParentFolder(trimmed);
    const std::string name = platform::LastPathComponent(trimmed);
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot != 0 && dot + 1 != name.size();
    const std::string base = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();

    for (int i = 1; i <= kMaxUniqueNameTries; ++i) {
        const std::string candidate = base + " " + std::to_string(i) + extension;
        if (candidate.size() > kMaxNameBytes) return false;
        const std::string candidatePath = platform::JoinPath(folder, candidate);
        if (!platform::ItemExists(candidatePath)) {
            path = candidatePath;
            return true;
        }
    }
    return false;
}

bool TWUtilities::CreateFolderWithFoldersInBetween(const std::string& path) const {
    if (const auto st = Stat(path)) return S_ISDIR(st->st_mode);
    return platform::CreateFolderWithFoldersInBetween(path);
}

// ---- Privileges ----

bool TWUtilities::IsRoot() const { return mUserID == 0; }

bool TWUtilities::ClassAllows(const struct stat& st, unsigned bits, bool rootOnRemote) const {
    unsigned triad = 0;
    if (!rootOnRemote && st.st_uid == mUserID) {
        triad = (st.st_mode >> 6) & 7u;
    } else if (IsInGroupID(st.st_gid)) {
        triad = (st.st_mode >> 3) & 7u;
    } else {
        triad = st.st_mode & 7u;
    }
    return (triad & bits) == bits;
}

bool TWUtilities::IsIndeedReadableFileAtPath(const std::string& path) const {
    const auto st = LStat(path);
    if (!st) return false;
    bool rootOnRemote = false;
    if (IsRoot()) {
        if (!IsRemoteVolume(path)) return true;
        rootOnRemote = true;
    }
    return ClassAllows(*st, S_IROTH, rootOnRemote);
}

bool TWUtilities::IsIndeedReadableFileAtPath(const std::string& path,
                                             const platform::ItemAttributes& attributes) const {
    if (!attributes.exists()) return false;
    bool rootOnRemote = false;
    if (IsRoot()) {
        if (!IsRemoteDevice(attributes.dev, path)) return true;
        rootOnRemote = true;
    }
    struct stat st {};
    st.st_mode = attributes.mode;
    st.st_uid = attributes.uid;
    st.st_gid = attributes.gid;
    return ClassAllows(st, S_IROTH, rootOnRemote);
}

bool TWUtilities::IsIndeedWritableFileAtPath(const std::string& path) const {
    bool rootOnRemote = false;
    if (IsRoot()) {
        if (!IsRemoteVolume(path)) return true;
        rootOnRemote = true;
    }
    const auto parent = Stat(platform::ParentFolder(WithoutTrailingSlashes(path)));
    if (!parent || !ClassAllows(*parent, S_IXOTH, rootOnRemote)) return false;
    const auto st = LStat(path);
    if (!st) return true;
    return ClassAllows(*st, S_IWOTH, rootOnRemote);
}

bool TWUtilities::IsIndeedDeletableFileAtPath(const std::string& path) const {
    bool rootOnRemote = false;
    if (IsRoot()) {
        if (!IsRemoteVolume(path)) return true;
        rootOnRemote = true;
    }
    const auto parent = Stat(platform::ParentFolder(WithoutTrailingSlashes(path)));
    return parent && ClassAllows(*parent, S_IWOTH | S_IXOTH, rootOnRemote);
}

bool TWUtilities::RootOnRemoteFolder(int dirFd, const struct stat& folder,
                                     bool& rootOnRemote) const {
    rootOnRemote = false;
    if (!IsRoot()) return false;
    {
        std::lock_guard lock(remoteCache_->mutex);
        const auto known = remoteCache_->byDevice.find(folder.st_dev);
        if (known != remoteCache_->byDevice.end()) {
            rootOnRemote = known->second;
            return !rootOnRemote;
        }
    }
    rootOnRemote = RemoteOf(folder.st_dev, dirFd);
    std::lock_guard lock(remoteCache_->mutex);
    remoteCache_->byDevice[folder.st_dev] = rootOnRemote;
    return !rootOnRemote;
}

bool TWUtilities::IsIndeedWritableAt(int dirFd, const std::string& name) const {
    struct stat parent {};
    if (sys().fstat(dirFd, &parent) != 0) return false;
    bool rootOnRemote = false;
    if (RootOnRemoteFolder(dirFd, parent, rootOnRemote)) return true;
    if (!ClassAllows(parent, S_IXOTH, rootOnRemote)) return false;
    if (name.empty()) return ClassAllows(parent, S_IWOTH, rootOnRemote);
    const auto st = LStatAt(dirFd, name);
    if (!st) return true;
    return ClassAllows(*st, S_IWOTH, rootOnRemote);
}

bool TWUtilities::IsIndeedDeletableAt(int dirFd) const {
    struct stat parent {};
    if (sys().fstat(dirFd, &parent) != 0) return false;
    bool rootOnRemote = false;
    if (RootOnRemoteFolder(dirFd, parent, rootOnRemote)) return true;
    return ClassAllows(parent, S_IWOTH | S_IXOTH, rootOnRemote);
}

bool TWUtilities::IsInGroupID(gid_t gid) const {
    return std::find(mGroupsID.begin(), mGroupsID.end(), gid) != mGroupsID.end();
}

bool TWUtilities::IsRemoteFileSystemType(const std::string& mountType) {
    return std::find(kRemoteFileSystemTypes.begin(), kRemoteFileSystemTypes.end(), mountType) !=
           kRemoteFileSystemTypes.end();
}

bool TWUtilities::IsRemoteVolume(const std::string& path) const {
    if (path.empty() || path[0] != '/') return false;
    // The item itself, or for a link or a missing item the nearest folder above that exists:
    // its device says which volume, and each volume is asked about once.
    std::string probe = WithoutTrailingSlashes(path);
    std::optional<struct stat> st = LStat(probe);
    if (st && S_ISLNK(st->st_mode)) st.reset();
    for (int depth = 0; !st && depth < 4096; ++depth) {
        const std::string parent = platform::ParentFolder(probe);
        if (parent == probe) return false;
        probe = parent;
        st = Stat(probe);
    }
    if (!st) return false;
    return IsRemoteDevice(st->st_dev, probe);
}

bool TWUtilities::IsRemoteDevice(dev_t dev, const std::string& path) const {
    {
        std::lock_guard lock(remoteCache_->mutex);
        const auto known = remoteCache_->byDevice.find(dev);
        if (known != remoteCache_->byDevice.end()) return known->second;
    }
    const platform::UniqueFd fd(sys().openat(AT_FDCWD, path.c_str(), O_PATH, 0));
    const bool remote = fd.valid() && RemoteOf(dev, fd.get());
    std::lock_guard lock(remoteCache_->mutex);
    remoteCache_->byDevice[dev] = remote;
    return remote;
}

bool TWUtilities::RemoteOf(dev_t dev, int fd) const {
    bool remote = false;
    struct statfs fs {};
    if (sys().fstatfs(fd, &fs) == 0) {
        switch (static_cast<unsigned long>(fs.f_type)) {
            case kCifsMagic:
            case kSmb2Magic:
            case SMB_SUPER_MAGIC:
            case NFS_SUPER_MAGIC:
            case NCP_SUPER_MAGIC:
            case AFS_SUPER_MAGIC:
            case kAfsFsMagic:
            case kCephMagic:
            case kLustreMagic:
                remote = true;
                break;
            case kFuseMagic:
            case CODA_SUPER_MAGIC: {
                const std::vector<platform::MountEntry> mounts = platform::MountsOfDevice(dev);
                remote = !mounts.empty() && IsRemoteFileSystemType(mounts.front().type);
                break;
            }
            default:
                break;
        }
    }
    return remote;
}

bool TWUtilities::CheckFilePackagePermissions(const std::string& path, int check) const {
    bool passes = false;
    switch (check) {
        case 0:
            passes = IsIndeedReadableFileAtPath(path);
            break;
        case 1:
            passes = IsIndeedWritableFileAtPath(path);
            break;
        case 2:
            passes = IsIndeedDeletableFileAtPath(path);
            break;
        default:
            return false;
    }
    if (!passes) return false;
    const auto st = LStat(path);
    if (!st || !S_ISDIR(st->st_mode)) return true;

    const auto entries = ListFolder(AT_FDCWD, path);
    // What cannot be listed cannot be read or deleted; writing into it is judged elsewhere.
    if (!entries) return check == 1;
    for (const auto& entry : *entries) {
        if (!CheckFilePackagePermissions(platform::JoinPath(path, entry.name), check)) {
            return false;
        }
    }
    return true;
}

}  // namespace qv::items
