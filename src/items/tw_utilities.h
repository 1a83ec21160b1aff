#pragma once
// TWUtilities: the file-system services the engine shares (dates, names, invisibility,
// packages, locks, permissions, privilege tests), over the Linux stand-ins:
//   creation date  xattr user.quorvel.created (decimal seconds), else the statx birth time
//   backup date    xattr user.quorvel.backup (decimal seconds since 1970 UTC)
//   lock flag      the immutable inode flag
//   Finder info    xattr user.quorvel.finderinfo (16 bytes; flags big-endian at bytes 8-9)
//   invisible      Finder flag 0x4000, or the name listed in the parent folder's ".hidden"
//   package        a folder with a package extension, or Finder flag 0x2000 (has bundle)
// One instance serves a whole run; it keeps no state that changes after construction.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/item_attributes.h"

namespace qv::items {

enum DateKind : int {
    kCreationDate = 0,
    kModificationDate = 1,
    kBackupDate = 2,
    kAttributeModificationDate = 3,
    kAccessDate = 4,
};

// Seconds since 1970-01-01 UTC; none when the item has no such date.
using OptionalDate = std::optional<double>;

inline constexpr const char* kBackupDateXattr = "user.quorvel.backup";
inline constexpr const char* kCreationDateXattr = "user.quorvel.created";
inline constexpr const char* kFinderInfoXattr = "user.quorvel.finderinfo";
// Marks a copy still under its temporary name.
inline constexpr const char* kTemporaryXattr = "user.quorvel.temporary";
// Marks a folder a copy created and is still filling: private (mode 0700) and undated until its
// content is done and it gets its source's attributes. Found by a later run, it takes them then.
inline constexpr const char* kFillingXattr = "user.quorvel.filling";
inline constexpr mode_t kFillingMode = 0700;
inline constexpr std::uint16_t kFinderFlagInvisible = 0x4000;
inline constexpr std::uint16_t kFinderFlagHasBundle = 0x2000;

// The four-byte type and creator codes of an item's Finder information; a missing code (no
// record, or four zero bytes) is the empty code.
struct FinderCodes {
    std::string type;
    std::string creator;
};

class TWUtilities {
  public:
    TWUtilities();  // records the real and effective user ids and the group list

    // ---- Dates (links are never followed) ----
    // Kind 1 keeps its fractions (except for a symbolic link); every other kind is cut to whole
    // seconds. A zero date is none.
    OptionalDate GetDate(const std::string& path, int whichDate) const;
    // The same from attributes already read; kinds 0, 1, 2 and 4 (3 gives none).
    OptionalDate GetDate(const std::string& path, const platform::ItemAttributes& attributes,
                         int whichDate) const;
    // The same for the item name in the open folder dirFd.
    OptionalDate GetDate(int dirFd, const std::string& name,
                         const platform::ItemAttributes& attributes, int whichDate) const;
    std::int64_t GetStatusDate(const std::string& path) const;  // 0 when unreadable
    std::int64_t GetAccessDate(const std::string& path) const;  // 0 when unreadable
    // Writes the backup date; a symbolic link is left alone and counts as success.
    bool SetBackupDate(const std::string& path, std::int64_t utcSeconds) const;
    // As SetBackupDate, relaxing the immutable flag and the mode for the write when needed,
    // and putting them back afterwards.
    bool SetBackupDateDitto(const std::string& path, std::int64_t utcSeconds) const;

    // ---- Names and kinds ----
    // Replaces the last component by the name as stored in its folder (exact match first, else
    // the one entry equal ignoring case). False, path unchanged, when none is found.
    bool CaseSensitivePathName(std::string& path) const;
    // A name beginning with "." gives includeDotStart; otherwise the Finder flag or ".hidden".
    bool IsInvisible(const std::string& path, bool includeDotStart) const;
    bool IsInvisible(int dirFd, const std::string& name, bool includeDotStart) const;
    // Type and creator for name in the open folder dirFd (AT_FDCWD: name is a path).
    FinderCodes GetTypeAndCreator(int dirFd, const std::string& name) const;
    // The names the open folder dirFd lists in its ".hidden" file.
    std::set<std::string> HiddenNamesIn(int dirFd) const;
    static bool HasPackageExtension(const std::string& name);
    // A directory (not followed) that is a package.
    bool IsFilePackage(const std::string& path) const;
    // The same from attributes already read: no second look at the item itself.
    bool IsFilePackage(const std::string& path, const platform::ItemAttributes& attributes) const;
    bool IsFilePackage(int dirFd, const std::string& name,
                       const platform::ItemAttributes& attributes) const;
    // The folder open as folderFd, listed as name, is a package: read through the handle, with
    // no second look-up of the name.
    bool IsFolderPackage(int folderFd, const std::string& name) const;
    // A directory (not followed) that is not a package.
    bool IsReallyFolder(const std::string& path) const;
    // The immutable flag; an item that cannot be examined counts as locked.
    bool IsLocked(const std::string& path) const;
    // The same for name in the open folder dirFd; name empty: that folder itself.
    bool IsLocked(int dirFd, const std::string& name) const;
    // The mode with its type bits, links not followed; -1 when unreadable.
    int GetPermissionsAtPath(const std::string& path) const;
    int GetPermissionsAt(int dirFd, const std::string& name) const;
    // Bytes of a file; for a folder the sum over its entries, recursively.
    std::uint64_t NewItemSize(const std::string& path) const;
    std::uint64_t NewItemSize(int dirFd, const std::string& name) const;
    // Keeps path when nothing is there, else "base N.ext" for the first free N of 1..10000.
    bool FindUniqueNameInFolder(std::string& path) const;
    bool CreateFolderWithFoldersInBetween(const std::string& path) const;

    // ---- Privileges (links not followed), judged from the mode bits as the process's real
    // user; root passes everything on a local volume ----
    bool IsIndeedReadableFileAtPath(const std::string& path) const;
    bool IsIndeedReadableFileAtPath(const std::string& path,
                                    const platform::ItemAttributes& attributes) const;
    bool IsIndeedWritableFileAtPath(const std::string& path) const;   // the item may not exist
    bool IsIndeedDeletableFileAtPath(const std::string& path) const;  // judged on the parent
    // The same for name in the open folder dirFd (name empty: the folder itself is to be
    // written), and for any item of the open folder dirFd.
    bool IsIndeedWritableAt(int dirFd, const std::string& name) const;
    bool IsIndeedDeletableAt(int dirFd) const;
    bool IsInGroupID(gid_t gid) const;
    // On a network file system (cifs, smb, nfs, sshfs, ...).
    bool IsRemoteVolume(const std::string& path) const;
    // Whether the file system of device dev, on which path lies, is a network one; asked of
    // the system once per device.
    bool IsRemoteDevice(dev_t dev, const std::string& path) const;
    // A file-system type as /proc/self/mountinfo names it ("nfs4", "fuse.sshfs") is a network one.
    static bool IsRemoteFileSystemType(const std::string& mountType);
    // 0 readable, 1 writable, 2 deletable: the item and everything inside a package folder.
    bool CheckFilePackagePermissions(const std::string& path, int check) const;

    uid_t mUserID;
    uid_t mEUserID;
    std::vector<gid_t> mGroupsID;  // at most 1000
    bool mEuidIsRoot;

  private:
    // What IsRemoteDevice learnt, shared by copies of this object.
    struct RemoteCache {
        std::mutex mutex;
        std::map<dev_t, bool> byDevice;
    };
    std::shared_ptr<RemoteCache> remoteCache_ = std::make_shared<RemoteCache>();

    // Root is judged on the real user id, as every other privilege test is.
    bool IsRoot() const;
    // The rwx triad that applies to this process (owner, group or other) holds all of bits,
    // given as other-class bits. Root on a network volume is mapped to an unprivileged user
    // by the server, so only its group membership counts there.
    bool ClassAllows(const struct stat& st, unsigned bits, bool rootOnRemote) const;
    // Root passes every test on a local volume: true then. rootOnRemote: root, on a network
    // volume (the open folder dirFd, stat folder, tells which).
    bool RootOnRemoteFolder(int dirFd, const struct stat& folder, bool& rootOnRemote) const;
    // Whether the file system of the open item fd (on device dev) is a network one.
    bool RemoteOf(dev_t dev, int fd) const;
};

}  // namespace qv::items
