#include "fileops/metadata.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "fileops/acl_merge.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/system_log.h"
#include "platform/unique_fd.h"

namespace qv::fileops {
namespace {

using platform::sys;

// The ACLs travel through libacl; their raw xattr form must not be copied a second time.
constexpr std::string_view kAccessAclXattr = "system.posix_acl_access";
constexpr std::string_view kDefaultAclXattr = "system.posix_acl_default";
constexpr mode_t kAllPermissions = 0777;

std::optional<struct stat> LStatAt(int dirFd, const std::string& name) {
    struct stat st {};
    if (sys().fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return st;
}
std::optional<struct stat> LStat(const ItemAt& item) { return LStatAt(item.fd(), item.name); }

void Diagnose(const std::string& line) { platform::SystemLog(line); }

// ---- The lock (immutable flag) ----

// Only regular files and folders are opened: the flag ioctl on a device node or a FIFO would
// reach the driver rather than the file system, and a link cannot carry the flag.
int OpenForInodeFlagsAt(int dirFd, const char* name, const struct stat& st) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return sys().openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY, 0);
}

std::optional<int> ReadInodeFlags(int fd) {
    int flags = 0;
    if (sys().getflags(fd, &flags) != 0) return std::nullopt;
    return flags;
}

bool WriteImmutable(int fd, int flags, bool on) {
    const int wanted = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    if (wanted == flags) return true;
    return sys().setflags(fd, wanted) == 0;
}

// Whether the item carries the immutable flag; what cannot be opened or has no inode flags
// (a file system without them) is taken as not locked, since nothing needs clearing then.
bool HasImmutableFlag(const ItemAt& item, const struct stat& st) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
    // statx tells in one call where the file system reports the flag; opening the item for
    // the flags ioctl costs three.
    struct statx sx {};
    if (sys().statx(item.fd(), item.name.c_str(), AT_SYMLINK_NOFOLLOW, 0, &sx) == 0 &&
        (sx.stx_attributes_mask & STATX_ATTR_IMMUTABLE) != 0) {
        return (sx.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
    }
    const platform::UniqueFd fd(OpenForInodeFlagsAt(item.fd(), item.name.c_str(), st));
    if (!fd.valid()) return false;
    const auto flags = ReadInodeFlags(fd.get());
    return flags && (*flags & FS_IMMUTABLE_FL) != 0;
}

// Sets or clears the flag of an open item; one that cannot carry it is already "not locked".
bool SetImmutableOf(int fd, bool on) {
    const auto flags = ReadInodeFlags(fd);
    if (!flags) return !on && (errno == ENOTTY || errno == EOPNOTSUPP);
    return WriteImmutable(fd, *flags, on);
}

bool SetImmutable(const ItemAt& item, const struct stat& st, bool on) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return !on;
    const platform::UniqueFd fd(OpenForInodeFlagsAt(item.fd(), item.name.c_str(), st));
    if (!fd.valid()) return false;
    return SetImmutableOf(fd.get(), on);
}

// A link has no mode of its own to change; chmodat never follows one.
bool ChangeMode(int dirFd, const std::string& name, mode_t mode) {
    return sys().chmodat(dirFd, name.c_str(), mode & 07777) == 0;
}

// ---- Extended attributes ----

std::optional<std::string> ReadXattr(const ItemAt& item, const char* name) {
    std::string value;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t needed = sys().getxattrat(item.fd(), item.name.c_str(), name, nullptr, 0);
        if (needed < 0) return std::nullopt;
        value.resize(static_cast<std::size_t>(needed));
        const ssize_t n =
            sys().getxattrat(item.fd(), item.name.c_str(), name, value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            return value;
        }
        // ERANGE: the value grew between the two calls.
        if (errno != ERANGE) return std::nullopt;
    }
    return std::nullopt;
}

bool WriteXattr(const ItemAt& item, const char* name, const std::string& value) {
    return sys().setxattrat(item.fd(), item.name.c_str(), name, value.data(), value.size(), 0) == 0;
}

void RemoveXattr(const ItemAt& item, const char* name) {
    sys().removexattrat(item.fd(), item.name.c_str(), name);
}

// A list of NUL-terminated names, as the kernel gives them.
std::vector<std::string> SplitNames(const std::vector<char>& names) {
    std::vector<std::string> result;
    for (std::size_t begin = 0; begin < names.size();) {
        const std::size_t end = std::string_view(names.data(), names.size()).find('\0', begin);
        const std::size_t stop = end == std::string_view::npos ? names.size() : end;
        if (stop > begin) result.emplace_back(names.data() + begin, stop - begin);
        begin = stop + 1;
    }
    return result;
}

// The names a listing call gives (list(buffer, size)), read again when the list grows between
// the call that sizes it and the one that reads it.
template <typename List>
std::vector<std::string> ListXattrNames(List list) {
    std::vector<char> names;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t needed = list(nullptr, 0);
        if (needed <= 0) return {};
        names.resize(static_cast<std::size_t>(needed));
        const ssize_t n = list(names.data(), names.size());
        if (n >= 0) {
            names.resize(static_cast<std::size_t>(n));
            return SplitNames(names);
        }
        if (errno != ERANGE) return {};
    }
    return {};
}

std::vector<std::string> ListXattrs(const ItemAt& item) {
    return ListXattrNames([&](char* buffer, std::size_t size) {
        return sys().listxattrat(item.fd(), item.name.c_str(), buffer, size);
    });
}

// The names of an open item's extended attributes.
std::vector<std::string> ListXattrsOf(int fd) {
    return ListXattrNames(
        [fd](char* buffer, std::size_t size) { return sys().flistxattr(fd, buffer, size); });
}

// One xattr of an open item into value; its length, or -1.
ssize_t ReadXattrOf(int fd, const char* name, std::vector<char>& value) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (value.size() < 256) value.resize(256);
        const ssize_t n = sys().fgetxattr(fd, name, value.data(), value.size());
        if (n >= 0 || errno != ERANGE) return n;
        const ssize_t needed = sys().fgetxattr(fd, name, nullptr, 0);
        if (needed < 0) return -1;
        value.resize(static_cast<std::size_t>(needed) + 1);
    }
    return -1;
}

// Gives dst the source's value of an xattr, or removes dst's stale one when the source has
// none, so that an overwritten item does not keep the metadata of what it replaced.
void MirrorXattr(const ItemAt& src, const ItemAt& dst, const char* name) {
    if (const auto value = ReadXattr(src, name)) {
        WriteXattr(dst, name, *value);
    } else {
        RemoveXattr(dst, name);
    }
}

// Linux cannot set a birth time, so the creation date a copy carries lives in an xattr: the
// source's own xattr when it has one, else its birth time.
void CopyCreationDate(const ItemAt& src, const ItemAt& dst) {
    if (const auto value = ReadXattr(src, items::kCreationDateXattr)) {
        WriteXattr(dst, items::kCreationDateXattr, *value);
        return;
    }
    struct statx stx {};
    if (sys().statx(src.fd(), src.name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx) == 0 &&
        (stx.stx_mask & STATX_BTIME) != 0 && stx.stx_btime.tv_sec != 0) {
        WriteXattr(dst, items::kCreationDateXattr, std::to_string(stx.stx_btime.tv_sec));
        return;
    }
    RemoveXattr(dst, items::kCreationDateXattr);
}

// ---- Relaxing a whole tree ----

// Clears the lock and opens the mode of one entry of dirFd, then of everything inside it.
// Links are neither followed nor changed.
bool UnlockEntryAt(int dirFd, const char* name) {
    const auto st = LStatAt(dirFd, name);
    if (!st) return false;
    if (S_ISLNK(st->st_mode)) return true;
    if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)) {
        return sys().chmodat(dirFd, name, kAllPermissions) == 0;
    }
    platform::UniqueFd fd(OpenForInodeFlagsAt(dirFd, name, *st));
    if (!fd.valid() && errno == EACCES) {
        // Not even readable: open the mode first (this fails only on a locked item, which
        // root alone can unlock, and root could have opened it).
        sys().chmodat(dirFd, name, kAllPermissions);
        fd.reset(OpenForInodeFlagsAt(dirFd, name, *st));
    }
    if (!fd.valid()) return false;
    bool ok = true;
    if (const auto flags = ReadInodeFlags(fd.get())) {
        ok = WriteImmutable(fd.get(), *flags, false);
    }
    // The mode goes after the flag: an immutable item refuses chmod.
    ok = sys().fchmod(fd.get(), kAllPermissions) == 0 && ok;
    if (!S_ISDIR(st->st_mode)) return ok;

    std::vector<platform::FolderEntry> entries;
    if (sys().readfolder(fd.get(), entries) != 0) ok = false;
    for (const auto& entry : entries) {
        ok = UnlockEntryAt(fd.get(), entry.name.c_str()) && ok;
    }
    return ok;
}

// Path components, so that "/a/b/" and "/a/b" both count 2.
std::size_t ComponentCount(const std::string& path) {
    std::size_t count = 0;
    bool inName = false;
    for (const char c : path) {
        if (c == '/') {
            inName = false;
        } else if (!inName) {
            inName = true;
            ++count;
        }
    }
    return count;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// One item of an unlock chain, and what relaxing it takes: the item named in its folder, or a
// folder of the chain through its own handle.
struct ChainStep {
    const platform::FolderHandle& folder;
    const std::string& name;  // empty: the folder itself
    const std::string& path;
    std::optional<struct stat> Stat() const {
        if (!name.empty()) return LStatAt(folder.fd(), name);
        struct stat st {};
        if (sys().fstat(folder.fd(), &st) != 0) return std::nullopt;
        return st;
    }
    bool Unlock(const items::TWUtilities& tw) const {
        if (!name.empty()) {
            const auto st = Stat();
            return st && tw.IsLocked(folder.fd(), name) &&
                   SetImmutable(ItemAt(folder, name, path), *st, false);
        }
        return tw.IsLocked(folder.fd(), "") && SetImmutableOf(folder.fd(), false);
    }
    bool Chmod(mode_t mode) const {
        return name.empty() ? sys().fchmod(folder.fd(), mode & 07777) == 0
                            : ChangeMode(folder.fd(), name, mode);
    }
};

const std::string kNoName;

}  // namespace

ItemByPath::ItemByPath(const std::string& wholePath) : path(WithoutTrailingSlashes(wholePath)) {
    name = platform::LastPathComponent(path);
    folder = platform::FolderHandle::OpenTop(platform::ParentFolder(path), &error);
}

// ---- Copying metadata ----

bool Metadata::SetAttrsAfterCopy(const std::string& src, const std::string& dst,
                                 std::int64_t backupDate, bool dstIsNew) const {
    const ItemByPath from(src), to(dst);
    return SetAttrsAfterCopy(from.at(), to.at(), backupDate, dstIsNew);
}

bool Metadata::SetAttrsAfterCopy(const ItemAt& src, const ItemAt& dst, std::int64_t backupDate,
                                 bool dstIsNew) const {
    const auto from = LStat(src);
    if (!from) {
        Diagnose("SetAttrsAfterCopy cannot read " + src.path + ": " + std::strerror(errno));
        return false;
    }
    const auto to = LStat(dst);
    if (!to) {
        Diagnose("SetAttrsAfterCopy cannot read " + dst.path + ": " + std::strerror(errno));
        return false;
    }
    if (!dstIsNew && HasImmutableFlag(dst, *to) && !SetImmutable(dst, *to, false)) {
        Diagnose("SetAttrsAfterCopy cannot unlock " + dst.path + ": " + std::strerror(errno));
        return false;
    }
    const bool isLink = S_ISLNK(from->st_mode);
    bool ok = true;

    // Owner first: a change of owner clears the set-id bits the mode below gives back. Only
    // root can give an item away, and for root a refusal is a failure of the copy; another
    // user can at least keep the group when it is one of theirs.
    if (tw_.mEuidIsRoot) {
        if (sys().fchownat(dst.fd(), dst.name.c_str(), from->st_uid, from->st_gid,
                           AT_SYMLINK_NOFOLLOW) != 0) {
            Diagnose("SetAttrsAfterCopy cannot set the owner of " + dst.path + ": " +
                     std::strerror(errno));
            ok = false;
        }
    } else if (from->st_gid != to->st_gid && tw_.IsInGroupID(from->st_gid)) {
        sys().fchownat(dst.fd(), dst.name.c_str(), static_cast<uid_t>(-1), from->st_gid,
                       AT_SYMLINK_NOFOLLOW);
    }
    if (!isLink && !ChangeMode(dst.fd(), dst.name, from->st_mode)) {
        Diagnose("SetAttrsAfterCopy cannot set the mode of " + dst.path + ": " +
                 std::strerror(errno));
        ok = false;
    }
    // User xattrs cannot be put on a link. A file system without them has no Finder info,
    // creation or backup dates to keep, which is no failure.
    if (!isLink) {
        if (!dstIsNew) {
            MirrorXattr(src, dst, items::kFinderInfoXattr);
        }  // a new copy got every xattr of its source with its content
        CopyCreationDate(src, dst);
        WriteXattr(dst, items::kBackupDateXattr, std::to_string(backupDate));
    }
    // The times after everything that writes to the item, and before the lock, which would
    // refuse them.
    const timespec times[2] = {from->st_atim, from->st_mtim};
    if (sys().utimensat(dst.fd(), dst.name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        Diagnose("SetAttrsAfterCopy cannot set the times of " + dst.path + ": " +
                 std::strerror(errno));
        ok = false;
    }
    if (HasImmutableFlag(src, *from) && !SetImmutable(dst, *to, true)) {
        Diagnose("SetAttrsAfterCopy cannot lock " + dst.path + ": " + std::strerror(errno));
    }
    return ok;
}

OpenCopyAttrs Metadata::SetAttrsOnOpenCopy(int srcFd, const struct statx& stx, int dstFd,
                                           const std::string& src, const std::string& dst,
                                           std::int64_t backupDate) const {
    (void)src;
    OpenCopyAttrs result;
    result.lock = (stx.stx_attributes_mask & STATX_ATTR_IMMUTABLE) != 0 &&
                  (stx.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
    // Without write permission its owner could not take the mark off the copy, nor write its
    // attributes: the ACL (which carries the owner's permission), mode and times then wait
    // until that is done.
    result.modeAndTimesLater = !tw_.mEuidIsRoot && (stx.stx_mode & S_IWUSR) == 0;

    // Owner first: a change of owner clears the set-id bits and file capabilities that the
    // mode and the attributes below give back.
    if (tw_.mEuidIsRoot) {
        if (sys().fchown(dstFd, stx.stx_uid, stx.stx_gid) != 0) {
            Diagnose("SetAttrsOnOpenCopy cannot set the owner of " + dst + ": " +
                     std::strerror(errno));
            result.failed = true;
        }
    } else if (tw_.IsInGroupID(stx.stx_gid)) {
        sys().fchown(dstFd, static_cast<uid_t>(-1), stx.stx_gid);
    }

    bool hasCreationDate = false;
    bool hasAcl = false;
    std::vector<char> value;
    for (const std::string& name : ListXattrsOf(srcFd)) {
        // The ACL comes last; a file has no default ACL. The copy's own backup date is this
        // run's; the mark belongs to the temporary.
        if (name == kAccessAclXattr) hasAcl = true;
        if (name == kAccessAclXattr || name == kDefaultAclXattr ||
            name == items::kBackupDateXattr || name == items::kTemporaryXattr ||
            name == items::kFillingXattr) {
            continue;
        }
        if (name == items::kCreationDateXattr) hasCreationDate = true;
        if (name == items::kFinderInfoXattr) result.finderInfo = true;
        const ssize_t n = ReadXattrOf(srcFd, name.c_str(), value);
        if (n >= 0) {
            sys().fsetxattr(dstFd, name.c_str(), value.data(), static_cast<std::size_t>(n), 0);
        }
    }
    if (!hasCreationDate && (stx.stx_mask & STATX_BTIME) != 0 && stx.stx_btime.tv_sec != 0) {
        const std::string created = std::to_string(stx.stx_btime.tv_sec);
        sys().fsetxattr(dstFd, items::kCreationDateXattr, created.data(), created.size(), 0);
    }
    const std::string backup = std::to_string(backupDate);
    sys().fsetxattr(dstFd, items::kBackupDateXattr, backup.data(), backup.size(), 0);

    if (hasAcl) {
        // A fresh file carries no ACL but one inherited from its folder's default ACL: the
        // source's is then its own, whole; else the source's entries join the inherited ones.
        result.aclMerge = sys().fgetxattr(dstFd, kAccessAclXattr.data(), nullptr, 0) >= 0;
        if (!result.aclMerge) {
            const ssize_t n = ReadXattrOf(srcFd, kAccessAclXattr.data(), value);
            if (n >= 0) result.acl.assign(value.data(), static_cast<std::size_t>(n));
        }
        result.aclLater = true;
        if (!result.modeAndTimesLater) {
            ApplyAclOf(srcFd, dstFd, result, dst);
            result.aclLater = false;
        }
    }
    if (!result.modeAndTimesLater && !SetModeAndTimesOf(dstFd, stx, dst)) result.failed = true;
    return result;
}

bool Metadata::SetModeAndTimesOf(int dstFd, const struct statx& stx, const std::string& dst) const {
    bool ok = true;
    if (sys().fchmod(dstFd, stx.stx_mode & 07777) != 0) {
        Diagnose("Cannot set the mode of " + dst + ": " + std::strerror(errno));
        ok = false;
    }
    const timespec times[2] = {{stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec},
                               {stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec}};
    if (sys().futimens(dstFd, times) != 0) {
        Diagnose("Cannot set the times of " + dst + ": " + std::strerror(errno));
        ok = false;
    }
    return ok;
}

void Metadata::ApplyAclOf(int srcFd, int dstFd, const OpenCopyAttrs& attrs,
                          const std::string& dst) const {
    if (attrs.aclMerge) {
        if (!MergeAccessAclOf(srcFd, dstFd)) {
            Diagnose("Cannot merge the ACL of " + dst + ": " + std::strerror(errno));
        }
    } else if (!attrs.acl.empty() && sys().fsetxattr(dstFd, kAccessAclXattr.data(),
                                                     attrs.acl.data(), attrs.acl.size(), 0) != 0) {
        Diagnose("Cannot set the ACL of " + dst + ": " + std::strerror(errno));
    }
}

bool Metadata::FinishOpenCopy(int srcFd, int dstFd, const struct statx& stx,
                              const OpenCopyAttrs& attrs, const std::string& dst) const {
    bool ok = true;
    if (attrs.modeAndTimesLater) {
        if (attrs.aclLater) ApplyAclOf(srcFd, dstFd, attrs, dst);
        ok = SetModeAndTimesOf(dstFd, stx, dst);
    }
    if (attrs.lock && !SetImmutableOf(dstFd, true)) {
        Diagnose("FinishOpenCopy cannot lock " + dst + ": " + std::strerror(errno));
    }
    return ok;
}

bool Metadata::CopyACLAttributes(const std::string& src, const std::string& dst) const {
    const ItemByPath from(src), to(dst);
    return CopyACLAttributes(from.at(), to.at());
}

bool Metadata::CopyACLAttributes(const ItemAt& src, const ItemAt& dst) const {
    const auto from = LStat(src);
    const auto to = LStat(dst);
    if (!from || !to) return false;

    int copied = 0;
    // libacl takes paths and follows links: a link on either side keeps out of it, and each
    // item is reached through a descriptor of its own, which no change of its folders moves.
    if (!S_ISLNK(from->st_mode) && !S_ISLNK(to->st_mode)) {
        const platform::UniqueFd srcItem = platform::OpenItemPath(src.fd(), src.name);
        const platform::UniqueFd dstItem = platform::OpenItemPath(dst.fd(), dst.name);
        const std::string srcPath = platform::ProcPath(srcItem.get());
        const std::string dstPath = platform::ProcPath(dstItem.get());
        // Most items carry no extended ACL; asking first spares building one for each of them.
        if (srcItem.valid() && dstItem.valid() && sys().aclextended(srcPath.c_str()) == 1) {
            copied += CopyAclOfType(srcPath, dstPath, ACL_TYPE_ACCESS);
            if (S_ISDIR(from->st_mode) && S_ISDIR(to->st_mode)) {
                copied += CopyAclOfType(srcPath, dstPath, ACL_TYPE_DEFAULT);
            }
        }
    }

    // Names the process may not write (security.* for a user, trusted.*) or the destination's
    // file system does not keep fail here and are left out, as are the ACLs copied above.
    for (const std::string& name : ListXattrs(src)) {
        if (name == kAccessAclXattr || name == kDefaultAclXattr || name == items::kTemporaryXattr ||
            name == items::kFillingXattr)
            continue;
        if (const auto value = ReadXattr(src, name.c_str())) {
            WriteXattr(dst, name.c_str(), *value);
        }
    }
    return copied > 0;
}

bool Metadata::CopyAttributes(const std::string& src, const std::string& dst,
                              std::int64_t backupDate) const {
    const ItemByPath from(src), to(dst);
    return CopyAttributes(from.at(), to.at(), backupDate);
}

bool Metadata::CopyAttributes(const ItemAt& src, const ItemAt& dst, std::int64_t backupDate) const {
    // A locked destination refuses its ACL and xattrs; SetAttrsAfterCopy locks it again when
    // the source is locked.
    if (const auto to = LStat(dst); to && HasImmutableFlag(dst, *to)) {
        SetImmutable(dst, *to, false);
    }
    CopyACLAttributes(src, dst);
    return SetAttrsAfterCopy(src, dst, backupDate);
}

bool Metadata::CopyFolderAttributes(const std::string& from, const std::string& to,
                                    std::optional<platform::Timestamp> modifDate, bool isSync,
                                    std::int64_t backupDate) const {
    const ItemByPath a(from), b(to);
    return CopyFolderAttributes(a.at(), b.at(), modifDate, isSync, backupDate);
}

bool Metadata::CopyFolderAttributes(const ItemAt& from, const ItemAt& to,
                                    std::optional<platform::Timestamp> modifDate, bool isSync,
                                    std::int64_t backupDate,
                                    const platform::FolderHandle* fromParent,
                                    const platform::FolderHandle* toParent) const {
    // In a Synchronize task `from` is a destination too: the copies made into it moved its
    // modification date, which is put back before it is copied.
    if (modifDate && isSync) SetModificationDate(from, *modifDate);
    bool ok = CopyAttributes(from, to, backupDate);
    if (!ok && modifDate) ok = SetModificationDate(to, *modifDate);
    if (tw_.mEuidIsRoot) {
        static const std::string kDesktopStore = ".DS_Store";
        const platform::FolderHandle& fromFolder = fromParent ? *fromParent : from.folder;
        const platform::FolderHandle& toFolder = toParent ? *toParent : to.folder;
        const std::string fromStore = fromFolder.PathOf(kDesktopStore);
        const std::string toStore = toFolder.PathOf(kDesktopStore);
        CopyOwnership(ItemAt(fromFolder, kDesktopStore, fromStore),
                      ItemAt(toFolder, kDesktopStore, toStore));
    }
    return ok;
}

bool Metadata::CopyOwnership(const ItemAt& src, const ItemAt& dst) const {
    const auto from = LStat(src);
    const auto to = LStat(dst);
    if (!from || !to) return false;
    if (HasImmutableFlag(dst, *to)) SetImmutable(dst, *to, false);
    const bool owned = sys().fchownat(dst.fd(), dst.name.c_str(), from->st_uid, from->st_gid,
                                      AT_SYMLINK_NOFOLLOW) == 0;
    // After the owner: a change of owner clears the set-id bits.
    if (!S_ISLNK(from->st_mode) && !S_ISLNK(to->st_mode)) {
        ChangeMode(dst.fd(), dst.name, from->st_mode);
    }
    if (HasImmutableFlag(src, *from)) SetImmutable(dst, *to, true);
    return owned;
}

bool Metadata::SetModificationDate(const std::string& path, const platform::Timestamp& date) const {
    const ItemByPath item(path);
    return SetModificationDate(item.at(), date);
}

bool Metadata::SetModificationDate(const ItemAt& item, const platform::Timestamp& date) const {
    const auto st = LStat(item);
    if (!st) return false;
    if (S_ISLNK(st->st_mode)) return true;
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(date.sec), date.nsec}};
    return sys().utimensat(item.fd(), item.name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// ---- Locks ----

bool Metadata::UnlockItem(const std::string& path) const {
    const ItemByPath item(path);
    return UnlockItem(item.at());
}

bool Metadata::UnlockItem(const ItemAt& item) const {
    const auto st = LStat(item);
    if (!st) return false;
    if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)) return true;
    return SetImmutable(item, *st, false);
}

bool Metadata::LockItem(const std::string& path) const {
    const ItemByPath item(path);
    return LockItem(item.at());
}

bool Metadata::LockItem(const ItemAt& item) const {
    const auto st = LStat(item);
    return st && SetImmutable(item, *st, true);
}

bool Metadata::UnlockWholeItem(const std::string& path) const {
    const ItemByPath item(path);
    return item.folder.valid() && UnlockWholeItem(item.fd(), item.name);
}

bool Metadata::UnlockWholeItem(int dirFd, const std::string& name) const {
    return UnlockEntryAt(dirFd, name.c_str());
}

bool Metadata::RenameItem(const std::string& path, const std::string& newName) const {
    const ItemByPath item(path);
    return RenameItem(item.at(), newName);
}

bool Metadata::RenameItem(const ItemAt& item, const std::string& newName) const {
    const int dirFd = item.fd();
    if (newName == item.name) return LStat(item).has_value();
    // Never over an existing item: a rename that makes room must not destroy what it meets.
    const auto move = [&] {
        return sys().renameat2(dirFd, item.name.c_str(), dirFd, newName.c_str(),
                               RENAME_NOREPLACE) == 0;
    };
    if (move()) return true;
    if (!LStat(item) || !tw_.IsLocked(dirFd, item.name)) return false;
    if (!UnlockItem(item)) {
        Diagnose("cannot unlock " + item.path);
        return false;
    }
    const std::string newPath = item.folder.PathOf(newName);
    if (!move()) {
        Diagnose("cannot rename " + item.path + " to new name " + newName);
        LockItem(item);  // left as it was found
        return false;
    }
    if (!LockItem(ItemAt(item.folder, newName, newPath))) {
        Diagnose("cannot set back the lock attribute to " + newPath);
        return false;
    }
    return true;
}

// ---- Unlock chain and restore table ----

bool Metadata::UnlockChain(const std::string& item, const std::string& mainFolder, int check,
                           bool unlockOn, RestoreTable* table) const {
    // The folders from mainFolder down to the item's folder, each opened from the one above.
    const ItemByPath at(item);
    FolderChain folders;
    const std::string top = WithoutTrailingSlashes(mainFolder);
    if (ComponentCount(at.path) > ComponentCount(top)) {
        folders.push_back(platform::FolderHandle::OpenTop(top));
        const std::string parent = platform::ParentFolder(at.path);
        std::string below = parent.size() > top.size() ? parent.substr(top.size()) : "";
        while (!below.empty() && below.front() == '/') below.erase(0, 1);
        std::size_t start = 0;
        while (folders.back().valid() && start < below.size()) {
            const std::size_t slash = below.find('/', start);
            const std::size_t stop = slash == std::string::npos ? below.size() : slash;
            folders.push_back(folders.back().OpenChild(below.substr(start, stop - start)));
            start = stop + 1;
        }
        if (!folders.back().valid()) return false;
        // The item's folder as the chain reached it.
        return UnlockChain(ItemAt(folders.back(), at.name, at.path), folders, check, unlockOn,
                           table);
    }
    return at.folder.valid() && UnlockChain(at.at(), folders, check, unlockOn, table);
}

bool Metadata::UnlockChain(const ItemAt& item, const FolderChain& folders, int check, bool unlockOn,
                           RestoreTable* table) const {
    // The item first, then its folders upwards, up to the task's top folder.
    std::vector<ChainStep> steps;
    steps.reserve(folders.size() + 1);
    steps.push_back({item.folder, item.name, item.path});
    // A folder of the chain may be the item itself.
    const bool itemIsLast = item.name.empty() && !folders.empty() &&
                            folders.back().dev() == item.folder.dev() &&
                            folders.back().ino() == item.folder.ino();
    for (auto it = folders.rbegin() + (itemIsLast ? 1 : 0); it != folders.rend(); ++it) {
        steps.push_back({*it, kNoName, it->path()});
    }
    const auto record = [&](const ChainStep& step, const RestoreEntry& entry) {
        AddItemDictToRestoreToPath(table, step.path, entry);
        if (table == nullptr) return;
        RestoreRecord& recorded = (*table)[step.path];
        if (!recorded.folder.valid()) {
            recorded.folder = step.folder;
            recorded.name = step.name;
        }
    };

    if (unlockOn) {
        for (const ChainStep& step : steps) {
            if (step.Unlock(tw_)) {
                record(step, RestoreEntry{.lock = true, .perm = std::nullopt});
                if (UnlockCheck(item, check)) return true;
            }
        }
    }

    for (const ChainStep& step : steps) {
        const auto st = step.Stat();
        if (!st) {
            // The item itself may be what is to be created; only a missing folder on the way
            // ends the chain.
            if (&step != &steps.front()) return false;
        } else if (!S_ISLNK(st->st_mode)) {
            // The first mode recorded is the original one: a second chain through the same
            // folder finds it relaxed already.
            const bool hasOriginal =
                table && table->count(step.path) != 0 && table->at(step.path).perm.has_value();
            if (step.Chmod(kAllPermissions) && !hasOriginal) {
                record(step, RestoreEntry{.lock = false, .perm = st->st_mode & 07777});
            }
            if (UnlockCheck(item, check)) return true;
        }
    }
    return false;
}

bool Metadata::UnlockCheck(const ItemAt& item, int check) const {
    switch (check) {
        case kCheckWritable:
            return tw_.IsIndeedWritableAt(item.fd(), item.name);
        case kCheckDeletable:
            return tw_.IsIndeedDeletableAt(item.fd());
        case kCheckCreateFolder:
            return sys().mkdirat(item.fd(), item.name.c_str(), kAllPermissions) == 0;
        default:
            return false;
    }
}

bool Metadata::RestoreOriginalAttr(const RestoreTable& table) const {
    bool ok = true;
    // Deepest first: a folder given back a closed mode would keep its entries from being
    // reached. The mode goes before the lock, which refuses chmod.
    for (auto it = table.rbegin(); it != table.rend(); ++it) {
        const auto& [path, entry] = *it;
        // An entry recorded by path alone is reached from its folder, opened now.
        std::optional<ItemByPath> byPath;
        if (!entry.folder.valid()) byPath.emplace(path);
        const platform::FolderHandle& folder = byPath ? byPath->folder : entry.folder;
        const std::string& name = byPath ? byPath->name : entry.name;
        if (!folder.valid()) {
            ok = false;
            continue;
        }
        const ChainStep step{folder, name, path};
        if (entry.perm && !step.Chmod(*entry.perm)) ok = false;
        if (entry.lock) {
            bool locked = false;
            if (name.empty()) {
                locked = SetImmutableOf(folder.fd(), true);
            } else {
                locked = LockItem(ItemAt(folder, name, path));
            }
            if (!locked) ok = false;
        }
    }
    return ok;
}

void AddItemDictToRestoreToPath(RestoreTable* table, const std::string& path,
                                const RestoreEntry& entry) {
    if (table == nullptr || path.empty() || (!entry.lock && !entry.perm)) return;
    RestoreRecord& recorded = (*table)[path];
    if (entry.lock) recorded.lock = true;
    if (entry.perm) recorded.perm = entry.perm;
}

void RemoveItemOKFromRestore(RestoreTable* table, const std::string& path) {
    if (table != nullptr) table->erase(path);
}

}  // namespace qv::fileops
