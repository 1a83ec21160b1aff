#include "fileops/metadata.h"

#include <acl/libacl.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/acl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/system_log.h"
#include "platform/unique_fd.h"

namespace qv::fileops {
namespace {

// The ACLs travel through libacl; their raw xattr form must not be copied a second time.
constexpr std::string_view kAccessAclXattr = "system.posix_acl_access";
constexpr std::string_view kDefaultAclXattr = "system.posix_acl_default";
constexpr mode_t kAllPermissions = 0777;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using ScopedDir = std::unique_ptr<DIR, DirCloser>;

class ScopedAcl {
  public:
    explicit ScopedAcl(acl_t acl = nullptr) : acl_(acl) {}
    ~ScopedAcl() {
        if (acl_ != nullptr) ::acl_free(acl_);
    }
    ScopedAcl(const ScopedAcl&) = delete;
    ScopedAcl& operator=(const ScopedAcl&) = delete;
    acl_t get() const { return acl_; }
    // libacl may move the ACL while it grows, so entry creation needs the owner's pointer.
    acl_t* address() { return &acl_; }
    explicit operator bool() const { return acl_ != nullptr; }

  private:
    acl_t acl_;
};

std::optional<struct stat> LStat(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

void Diagnose(const std::string& line) { platform::SystemLog(line); }

// ---- The lock (immutable flag) ----

// Only regular files and folders are opened: the flag ioctl on a device node or a FIFO would
// reach the driver rather than the file system, and a link cannot carry the flag.
int OpenForInodeFlagsAt(int dirFd, const char* name, const struct stat& st) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return -1;
    return ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
}

std::optional<int> ReadInodeFlags(int fd) {
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return std::nullopt;
    return flags;
}

bool WriteImmutable(int fd, int flags, bool on) {
    int wanted = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    if (wanted == flags) return true;
    return ::ioctl(fd, FS_IOC_SETFLAGS, &wanted) == 0;
}

// Whether the item carries the immutable flag; what cannot be opened or has no inode flags
// (a file system without them) is taken as not locked, since nothing needs clearing then.
bool HasImmutableFlag(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
    // statx tells in one call where the file system reports the flag; opening the item for
    // the flags ioctl costs three.
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, 0, &sx) == 0 &&
        (sx.stx_attributes_mask & STATX_ATTR_IMMUTABLE) != 0) {
        return (sx.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
    }
    const platform::UniqueFd fd(OpenForInodeFlagsAt(AT_FDCWD, path.c_str(), st));
    if (!fd.valid()) return false;
    const auto flags = ReadInodeFlags(fd.get());
    return flags && (*flags & FS_IMMUTABLE_FL) != 0;
}

// Sets or clears the flag; an item that cannot carry it is already "not locked".
bool SetImmutable(const std::string& path, const struct stat& st, bool on) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return !on;
    const platform::UniqueFd fd(OpenForInodeFlagsAt(AT_FDCWD, path.c_str(), st));
    if (!fd.valid()) return false;
    const auto flags = ReadInodeFlags(fd.get());
    if (!flags) return !on && (errno == ENOTTY || errno == EOPNOTSUPP);
    return WriteImmutable(fd.get(), *flags, on);
}

// chmod follows links, and a link has no mode of its own to change.
bool ChangeMode(const std::string& path, mode_t mode) {
    const auto st = LStat(path);
    if (!st || S_ISLNK(st->st_mode)) return false;
    return ::chmod(path.c_str(), mode & 07777) == 0;
}

// ---- Extended attributes ----

std::optional<std::string> ReadXattr(const std::string& path, const char* name) {
    std::string value;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t needed = ::lgetxattr(path.c_str(), name, nullptr, 0);
        if (needed < 0) return std::nullopt;
        value.resize(static_cast<std::size_t>(needed));
        const ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            return value;
        }
        // ERANGE: the value grew between the two calls.
        if (errno != ERANGE) return std::nullopt;
    }
    return std::nullopt;
}

bool WriteXattr(const std::string& path, const char* name, const std::string& value) {
    return ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
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

// The names a listing call gives (list(buffer, size), as llistxattr and flistxattr take them),
// read again when the list grows between the call that sizes it and the one that reads it.
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

std::vector<std::string> ListXattrs(const std::string& path) {
    return ListXattrNames(
        [&](char* buffer, std::size_t size) { return ::llistxattr(path.c_str(), buffer, size); });
}

// The names of an open item's extended attributes.
std::vector<std::string> ListXattrsOf(int fd) {
    return ListXattrNames(
        [fd](char* buffer, std::size_t size) { return ::flistxattr(fd, buffer, size); });
}

// One xattr of an open item into value; its length, or -1.
ssize_t ReadXattrOf(int fd, const char* name, std::vector<char>& value) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (value.size() < 256) value.resize(256);
        const ssize_t n = ::fgetxattr(fd, name, value.data(), value.size());
        if (n >= 0 || errno != ERANGE) return n;
        const ssize_t needed = ::fgetxattr(fd, name, nullptr, 0);
        if (needed < 0) return -1;
        value.resize(static_cast<std::size_t>(needed) + 1);
    }
    return -1;
}

// Gives dst the source's value of an xattr, or removes dst's stale one when the source has
// none, so that an overwritten item does not keep the metadata of what it replaced.
void MirrorXattr(const std::string& src, const std::string& dst, const char* name) {
    if (const auto value = ReadXattr(src, name)) {
        WriteXattr(dst, name, *value);
    } else {
        ::lremovexattr(dst.c_str(), name);
    }
}

// Linux cannot set a birth time, so the creation date a copy carries lives in an xattr: the
// source's own xattr when it has one, else its birth time.
void CopyCreationDate(const std::string& src, const std::string& dst) {
    if (const auto value = ReadXattr(src, kCreationDateXattr)) {
        WriteXattr(dst, kCreationDateXattr, *value);
        return;
    }
    struct statx stx {};
    if (::statx(AT_FDCWD, src.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx) == 0 &&
        (stx.stx_mask & STATX_BTIME) != 0 && stx.stx_btime.tv_sec != 0) {
        WriteXattr(dst, kCreationDateXattr, std::to_string(stx.stx_btime.tv_sec));
        return;
    }
    ::lremovexattr(dst.c_str(), kCreationDateXattr);
}

// ---- Access-control lists ----

std::optional<id_t> Qualifier(acl_entry_t entry) {
    void* qualifier = ::acl_get_qualifier(entry);
    if (qualifier == nullptr) return std::nullopt;
    const id_t id = *static_cast<id_t*>(qualifier);
    ::acl_free(qualifier);
    return id;
}

bool IsNamedTag(acl_tag_t tag) { return tag == ACL_USER || tag == ACL_GROUP; }

acl_entry_t FindEntry(acl_t acl, acl_tag_t tag, std::optional<id_t> who) {
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(acl, which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
        acl_tag_t entryTag = ACL_UNDEFINED_TAG;
        if (::acl_get_tag_type(entry, &entryTag) != 0 || entryTag != tag) continue;
        if (!IsNamedTag(tag) || Qualifier(entry) == who) return entry;
    }
    return nullptr;
}

// A POSIX ACL refuses two entries for one user or group, or two masks: an entry the
// destination has already is given the source's permissions instead of a second entry.
bool PutEntry(acl_t* acl, acl_entry_t from, acl_tag_t tag) {
    std::optional<id_t> who;
    if (IsNamedTag(tag) && !(who = Qualifier(from))) return false;
    acl_entry_t to = FindEntry(*acl, tag, who);
    if (to == nullptr && ::acl_create_entry(acl, &to) != 0) return false;
    return ::acl_copy_entry(to, from) == 0;
}

// Adds the source's named entries (and its mask) to dst; with withBase, its owner, group and
// other entries too, for a destination that has no ACL of that type to keep. The number of
// entries copied, -1 on failure.
int MergeAcl(acl_t src, acl_t* dst, bool withBase) {
    int copied = 0;
    bool hasNamed = false;
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(src, which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        if (::acl_get_tag_type(entry, &tag) != 0) return -1;
        const bool named = IsNamedTag(tag);
        const bool base = tag == ACL_USER_OBJ || tag == ACL_GROUP_OBJ || tag == ACL_OTHER;
        if (!named && tag != ACL_MASK && !(withBase && base)) continue;
        if (!PutEntry(dst, entry, tag)) return -1;
        if (named || base) ++copied;
        hasNamed = hasNamed || named;
    }
    // The mask bounds the named entries; without one the ACL is invalid.
    if (hasNamed && FindEntry(*dst, ACL_MASK, std::nullopt) == nullptr &&
        ::acl_calc_mask(dst) != 0) {
        return -1;
    }
    return copied;
}

// The number of entries copied and applied for one ACL type; 0 when there was nothing to
// copy or a step failed.
int CopyAclOfType(const std::string& src, const std::string& dst, acl_type_t type) {
    const ScopedAcl from(::acl_get_file(src.c_str(), type));
    if (!from || ::acl_entries(from.get()) <= 0) return 0;
    ScopedAcl to(::acl_get_file(dst.c_str(), type));
    if (!to) return 0;
    const bool withBase = ::acl_entries(to.get()) <= 0;
    const int copied = MergeAcl(from.get(), to.address(), withBase);
    if (copied <= 0 || ::acl_valid(to.get()) != 0) return 0;
    return ::acl_set_file(dst.c_str(), type, to.get()) == 0 ? copied : 0;
}

// ---- Relaxing a whole tree ----

// Clears the lock and opens the mode of one entry of dirFd (or of a path with AT_FDCWD), then
// of everything inside it. Links are neither followed nor changed.
bool UnlockEntryAt(int dirFd, const char* name) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        return ::fchmodat(dirFd, name, kAllPermissions, 0) == 0;
    }
    platform::UniqueFd fd(OpenForInodeFlagsAt(dirFd, name, st));
    if (!fd.valid() && errno == EACCES) {
        // Not even readable: open the mode first (this fails only on a locked item, which
        // root alone can unlock, and root could have opened it).
        ::fchmodat(dirFd, name, kAllPermissions, 0);
        fd.reset(OpenForInodeFlagsAt(dirFd, name, st));
    }
    if (!fd.valid()) return false;
    bool ok = true;
    if (const auto flags = ReadInodeFlags(fd.get())) {
        ok = WriteImmutable(fd.get(), *flags, false);
    }
    // The mode goes after the flag: an immutable item refuses chmod.
    ok = ::fchmod(fd.get(), kAllPermissions) == 0 && ok;
    if (!S_ISDIR(st.st_mode)) return ok;

    ScopedDir dir(::fdopendir(fd.get()));
    if (!dir) return false;
    fd.release();
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        ok = UnlockEntryAt(::dirfd(dir.get()), entry->d_name) && ok;
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

}  // namespace

// ---- Copying metadata ----

bool Metadata::SetAttrsAfterCopy(const std::string& src, const std::string& dst,
                                 std::int64_t backupDate, bool dstIsNew) const {
    const auto from = LStat(src);
    if (!from) {
        Diagnose("SetAttrsAfterCopy cannot read " + src + ": " + std::strerror(errno));
        return false;
    }
    const auto to = LStat(dst);
    if (!to) {
        Diagnose("SetAttrsAfterCopy cannot read " + dst + ": " + std::strerror(errno));
        return false;
    }
    if (!dstIsNew && HasImmutableFlag(dst, *to) && !SetImmutable(dst, *to, false)) {
        Diagnose("SetAttrsAfterCopy cannot unlock " + dst + ": " + std::strerror(errno));
        return false;
    }
    const bool isLink = S_ISLNK(from->st_mode);
    bool ok = true;

    // Owner first: a change of owner clears the set-id bits the mode below gives back. Only
    // root can give an item away; another user can at least keep the group when it is one of
    // theirs, and a refusal is no failure of the copy.
    if (tw_.mEuidIsRoot) {
        ::lchown(dst.c_str(), from->st_uid, from->st_gid);
    } else if (from->st_gid != to->st_gid && tw_.IsInGroupID(from->st_gid)) {
        ::lchown(dst.c_str(), static_cast<uid_t>(-1), from->st_gid);
    }
    if (!isLink && ::chmod(dst.c_str(), from->st_mode & 07777) != 0) {
        Diagnose("SetAttrsAfterCopy cannot set the mode of " + dst + ": " + std::strerror(errno));
        ok = false;
    }
    // User xattrs cannot be put on a link. A file system without them has no Finder info,
    // creation or backup dates to keep, which is no failure.
    if (!isLink) {
        if (!dstIsNew) {
            MirrorXattr(src, dst, kFinderInfoXattr);
        }  // a new copy got every xattr of its source with its content
        CopyCreationDate(src, dst);
        WriteXattr(dst, kBackupDateXattr, std::to_string(backupDate));
    }
    // The times after everything that writes to the item, and before the lock, which would
    // refuse them.
    const timespec times[2] = {from->st_atim, from->st_mtim};
    if (::utimensat(AT_FDCWD, dst.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        Diagnose("SetAttrsAfterCopy cannot set the times of " + dst + ": " + std::strerror(errno));
        ok = false;
    }
    if (HasImmutableFlag(src, *from) && !SetImmutable(dst, *to, true)) {
        Diagnose("SetAttrsAfterCopy cannot lock " + dst + ": " + std::strerror(errno));
    }
    return ok;
}

OpenCopyAttrs Metadata::SetAttrsOnOpenCopy(int srcFd, const struct statx& stx, int dstFd,
                                           const std::string& src, const std::string& dst,
                                           std::int64_t backupDate) const {
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
        ::fchown(dstFd, stx.stx_uid, stx.stx_gid);
    } else if (tw_.IsInGroupID(stx.stx_gid)) {
        ::fchown(dstFd, static_cast<uid_t>(-1), stx.stx_gid);
    }

    bool hasCreationDate = false;
    bool hasAcl = false;
    std::vector<char> value;
    for (const std::string& name : ListXattrsOf(srcFd)) {
        // The ACL comes last; a file has no default ACL. The copy's own backup date is this
        // run's; the mark belongs to the temporary.
        if (name == kAccessAclXattr) hasAcl = true;
        if (name == kAccessAclXattr || name == kDefaultAclXattr || name == kBackupDateXattr ||
            name == kTemporaryXattr) {
            continue;
        }
        if (name == kCreationDateXattr) hasCreationDate = true;
        if (name == kFinderInfoXattr) result.finderInfo = true;
        const ssize_t n = ReadXattrOf(srcFd, name.c_str(), value);
        if (n >= 0) ::fsetxattr(dstFd, name.c_str(), value.data(), static_cast<std::size_t>(n), 0);
    }
    if (!hasCreationDate && (stx.stx_mask & STATX_BTIME) != 0 && stx.stx_btime.tv_sec != 0) {
        const std::string created = std::to_string(stx.stx_btime.tv_sec);
        ::fsetxattr(dstFd, kCreationDateXattr, created.data(), created.size(), 0);
    }
    const std::string backup = std::to_string(backupDate);
    ::fsetxattr(dstFd, kBackupDateXattr, backup.data(), backup.size(), 0);

    if (hasAcl) {
        // A fresh file carries no ACL but one inherited from its folder's default ACL: the
        // source's is then its own, whole; else the source's entries join the inherited ones.
        result.aclSource = src;
        result.aclMerge = ::fgetxattr(dstFd, kAccessAclXattr.data(), nullptr, 0) >= 0;
        if (!result.aclMerge) {
            const ssize_t n = ReadXattrOf(srcFd, kAccessAclXattr.data(), value);
            if (n >= 0) result.acl.assign(value.data(), static_cast<std::size_t>(n));
        }
        if (!result.modeAndTimesLater) {
            ApplyAcl(dst, result);
            result.aclSource.clear();
        }
    }
    if (!result.modeAndTimesLater) {
        if (::fchmod(dstFd, stx.stx_mode & 07777) != 0) {
            Diagnose("SetAttrsOnOpenCopy cannot set the mode of " + dst + ": " +
                     std::strerror(errno));
        }
        const timespec times[2] = {{stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec},
                                   {stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec}};
        if (::futimens(dstFd, times) != 0) {
            Diagnose("SetAttrsOnOpenCopy cannot set the times of " + dst + ": " +
                     std::strerror(errno));
        }
    }
    return result;
}

void Metadata::ApplyAcl(const std::string& path, const OpenCopyAttrs& attrs) const {
    if (attrs.aclMerge) {
        CopyAclOfType(attrs.aclSource, path, ACL_TYPE_ACCESS);
    } else if (!attrs.acl.empty() && ::lsetxattr(path.c_str(), kAccessAclXattr.data(),
                                                 attrs.acl.data(), attrs.acl.size(), 0) != 0) {
        Diagnose("Cannot set the ACL of " + path + ": " + std::strerror(errno));
    }
}

void Metadata::FinishOpenCopy(const std::string& path, const struct statx& stx,
                              const OpenCopyAttrs& attrs) const {
    if (attrs.modeAndTimesLater) {
        if (!attrs.aclSource.empty()) ApplyAcl(path, attrs);
        if (::chmod(path.c_str(), stx.stx_mode & 07777) != 0) {
            Diagnose("FinishOpenCopy cannot set the mode of " + path + ": " + std::strerror(errno));
        }
        const timespec times[2] = {{stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec},
                                   {stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec}};
        if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            Diagnose("FinishOpenCopy cannot set the times of " + path + ": " +
                     std::strerror(errno));
        }
    }
    if (attrs.lock && !LockItem(path)) {
        Diagnose("FinishOpenCopy cannot lock " + path + ": " + std::strerror(errno));
    }
}

bool Metadata::CopyACLAttributes(const std::string& src, const std::string& dst) const {
    const auto from = LStat(src);
    const auto to = LStat(dst);
    if (!from || !to) return false;

    int copied = 0;
    // acl_get_file and acl_set_file follow links, so a link on either side keeps out of it.
    // Most items carry no extended ACL; asking first spares building one for each of them.
    if (!S_ISLNK(from->st_mode) && !S_ISLNK(to->st_mode) &&
        ::acl_extended_file_nofollow(src.c_str()) == 1) {
        copied += CopyAclOfType(src, dst, ACL_TYPE_ACCESS);
        if (S_ISDIR(from->st_mode) && S_ISDIR(to->st_mode)) {
            copied += CopyAclOfType(src, dst, ACL_TYPE_DEFAULT);
        }
    }

    // Names the process may not write (security.* for a user, trusted.*) or the destination's
    // file system does not keep fail here and are left out, as are the ACLs copied above.
    for (const std::string& name : ListXattrs(src)) {
        if (name == kAccessAclXattr || name == kDefaultAclXattr || name == kTemporaryXattr)
            continue;
        if (const auto value = ReadXattr(src, name.c_str())) {
            WriteXattr(dst, name.c_str(), *value);
        }
    }
    return copied > 0;
}

bool Metadata::CopyAttributes(const std::string& src, const std::string& dst,
                              std::int64_t backupDate) const {
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
    // In a Synchronize task `from` is a destination too: the copies made into it moved its
    // modification date, which is put back before it is copied.
    if (modifDate && isSync) SetModificationDate(from, *modifDate);
    bool ok = CopyAttributes(from, to, backupDate);
    if (!ok && modifDate) ok = SetModificationDate(to, *modifDate);
    if (tw_.mEuidIsRoot) {
        CopyOwnership(platform::JoinPath(platform::ParentFolder(from), ".DS_Store"),
                      platform::JoinPath(platform::ParentFolder(to), ".DS_Store"));
    }
    return ok;
}

bool Metadata::CopyOwnership(const std::string& src, const std::string& dst) const {
    const auto from = LStat(src);
    const auto to = LStat(dst);
    if (!from || !to) return false;
    if (HasImmutableFlag(dst, *to)) SetImmutable(dst, *to, false);
    const bool owned = ::lchown(dst.c_str(), from->st_uid, from->st_gid) == 0;
    // After the owner: a change of owner clears the set-id bits.
    if (!S_ISLNK(from->st_mode) && !S_ISLNK(to->st_mode)) {
        ::chmod(dst.c_str(), from->st_mode & 07777);
    }
    if (HasImmutableFlag(src, *from)) SetImmutable(dst, *to, true);
    return owned;
}

bool Metadata::SetModificationDate(const std::string& path, const platform::Timestamp& date) const {
    const auto st = LStat(path);
    if (!st) return false;
    if (S_ISLNK(st->st_mode)) return true;
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(date.sec), date.nsec}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// ---- Locks ----

bool Metadata::UnlockItem(const std::string& path) const {
    const auto st = LStat(path);
    if (!st) return false;
    if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)) return true;
    return SetImmutable(path, *st, false);
}

bool Metadata::LockItem(const std::string& path) const {
    const auto st = LStat(path);
    return st && SetImmutable(path, *st, true);
}

bool Metadata::UnlockWholeItem(const std::string& path) const {
    return UnlockEntryAt(AT_FDCWD, WithoutTrailingSlashes(path).c_str());
}

bool Metadata::RenameItem(const std::string& path, const std::string& newName) const {
    const std::string from = WithoutTrailingSlashes(path);
    const std::string to = platform::JoinPath(platform::ParentFolder(from), newName);
    if (to == from) return platform::ItemExists(from);
    // Never over an existing item: a rename that makes room must not destroy what it meets.
    const auto move = [&] {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno != EINVAL && errno != ENOSYS) return false;
        // A file system without the no-replace rename.
        if (platform::ItemExists(to)) return false;
        return ::rename(from.c_str(), to.c_str()) == 0;
    };
    if (move()) return true;
    if (!platform::ItemExists(from) || !tw_.IsLocked(from)) return false;
    if (!UnlockItem(from)) {
        Diagnose("cannot unlock " + from);
        return false;
    }
    if (!move()) {
        Diagnose("cannot rename " + from + " to new name " + newName);
        LockItem(from);  // left as it was found
        return false;
    }
    if (!LockItem(to)) {
        Diagnose("cannot set back the lock attribute to " + to);
        return false;
    }
    return true;
}

// ---- Unlock chain and restore table ----

bool Metadata::UnlockChain(const std::string& item, const std::string& mainFolder, int check,
                           bool unlockOn, RestoreTable* table) const {
    const std::size_t top = ComponentCount(mainFolder);
    const std::string start = WithoutTrailingSlashes(item);

    if (unlockOn) {
        for (std::string p = start;; p = platform::ParentFolder(p)) {
            if (tw_.IsLocked(p) && UnlockItem(p)) {
                AddItemDictToRestoreToPath(table, p,
                                           RestoreEntry{.lock = true, .perm = std::nullopt});
                if (UnlockCheck(item, check)) return true;
            }
            if (ComponentCount(p) <= top) break;
        }
    }

    for (std::string q = start;; q = platform::ParentFolder(q)) {
        const int mode = tw_.GetPermissionsAtPath(q);
        if (mode == -1) {
            // The item itself may be what is to be created; only a missing folder on the way
            // ends the chain.
            if (q != start) return false;
        } else if (!S_ISLNK(static_cast<mode_t>(mode))) {
            // The first mode recorded is the original one: a second chain through the same
            // folder finds it relaxed already.
            const bool hasOriginal = table && table->count(q) != 0 && table->at(q).perm;
            if (ChangeMode(q, kAllPermissions) && !hasOriginal) {
                AddItemDictToRestoreToPath(
                    table, q,
                    RestoreEntry{.lock = false, .perm = static_cast<mode_t>(mode) & 07777});
            }
            if (UnlockCheck(item, check)) return true;
        }
        if (ComponentCount(q) <= top) break;
    }
    return false;
}

bool Metadata::UnlockCheck(const std::string& item, int check) const {
    switch (check) {
        case kCheckWritable:
            return tw_.IsIndeedWritableFileAtPath(item);
        case kCheckDeletable:
            return tw_.IsIndeedDeletableFileAtPath(item);
        case kCheckCreateFolder:
            return platform::sys().mkdir(item.c_str(), kAllPermissions) == 0;
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
        if (entry.perm && !ChangeMode(path, *entry.perm)) ok = false;
        if (entry.lock && !LockItem(path)) ok = false;
    }
    return ok;
}

void AddItemDictToRestoreToPath(RestoreTable* table, const std::string& path,
                                const RestoreEntry& entry) {
    if (table == nullptr || path.empty() || (!entry.lock && !entry.perm)) return;
    RestoreEntry& recorded = (*table)[path];
    if (entry.lock) recorded.lock = true;
    if (entry.perm) recorded.perm = entry.perm;
}

void RemoveItemOKFromRestore(RestoreTable* table, const std::string& path) {
    if (table != nullptr) table->erase(path);
}

}  // namespace qv::fileops
