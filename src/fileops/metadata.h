#pragma once
// Giving copied items the metadata of their sources (dates to the nanosecond, mode, owner,
// access-control lists, extended attributes, Finder information, the lock) and stamping the
// run's start time as their backup date; getting past locked items and read-only folders on
// the way to an item, and putting back what was relaxed.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "fileops/tw_utilities.h"
#include "platform/item_attributes.h"

namespace qv::fileops {

// What was relaxed on a path to let an action through, to be put back afterwards.
struct RestoreEntry {
    bool lock = false;           // the item was locked (immutable) and was unlocked
    std::optional<mode_t> perm;  // the item's mode before it was set to 0777
};
using RestoreTable = std::map<std::string, RestoreEntry>;

// Checks of UnlockCheck.
inline constexpr int kCheckWritable = 1;
inline constexpr int kCheckDeletable = 2;
inline constexpr int kCheckCreateFolder = 3;

// What SetAttrsOnOpenCopy leaves for the copy's final place.
struct OpenCopyAttrs {
    bool modeAndTimesLater = false;  // a read-only mode would refuse the temporary mark's removal
    bool lock = false;               // the source is locked: the copy is locked once in place
    bool finderInfo = false;         // the source carries Finder information
    // The source's access ACL, when it has one: its value to give the copy whole, or (merge)
    // its entries to add to the ACL the copy inherited from its folder. Set on the open copy
    // unless modeAndTimesLater; then aclSource stays set and FinishOpenCopy gives it.
    std::string aclSource;
    std::string acl;
    bool aclMerge = false;
};

class Metadata {
  public:
    explicit Metadata(const TWUtilities& tw) : tw_(tw) {}

    // Copies from src to dst, links not followed: owner and group (when root), mode, creation
    // date, Finder information, access and modification times to the nanosecond, and the lock;
    // the backup date becomes backupDate. A locked dst is unlocked first; a locked src gives a
    // locked dst.
    // dstIsNew: dst was just written by this run and holds nothing to unlock or clear.
    bool SetAttrsAfterCopy(const std::string& src, const std::string& dst, std::int64_t backupDate,
                           bool dstIsNew = false) const;
    // The attributes SetAttrsAfterCopy gives, for a regular file just written through dstFd
    // from srcFd (stx: the source as it was opened), through the open descriptors: every
    // extended attribute (ACLs as CopyACLAttributes merges them), creation and backup dates,
    // owner, mode and times. What must wait for the copy's final place is said in the result;
    // FinishOpenCopy does it there.
    OpenCopyAttrs SetAttrsOnOpenCopy(int srcFd, const struct statx& stx, int dstFd,
                                     const std::string& src, const std::string& dst,
                                     std::int64_t backupDate) const;
    void FinishOpenCopy(const std::string& path, const struct statx& stx,
                        const OpenCopyAttrs& attrs) const;
    void ApplyAcl(const std::string& path, const OpenCopyAttrs& attrs) const;
    // The explicit entries of the access ACL (and of the default ACL of a folder) appended to
    // dst's, then every extended attribute of src written to dst (names dst may not carry are
    // skipped). True when at least one ACL entry was copied and applied.
    bool CopyACLAttributes(const std::string& src, const std::string& dst) const;
    // CopyACLAttributes, then SetAttrsAfterCopy.
    bool CopyAttributes(const std::string& src, const std::string& dst,
                        std::int64_t backupDate) const;
    // The final attributes of a folder once its content is done. With a date, a Synchronize
    // task first puts `from`'s own modification date back to it; when the attribute copy fails
    // the date is still written to `to`.
    bool CopyFolderAttributes(const std::string& from, const std::string& to,
                              std::optional<platform::Timestamp> modifDate, bool isSync,
                              std::int64_t backupDate) const;
    // Mode, owner and group (and the immutable flag) of src given to dst; true when the owner
    // change succeeded.
    bool CopyOwnership(const std::string& src, const std::string& dst) const;
    bool SetModificationDate(const std::string& path, const platform::Timestamp& date) const;

    bool UnlockItem(const std::string& path) const;
    bool LockItem(const std::string& path) const;
    // Opens an item and everything inside it (mode 0777, no immutable flag), to remove it.
    bool UnlockWholeItem(const std::string& path) const;
    // Renames within the same folder, getting past a lock on the item.
    bool RenameItem(const std::string& path, const std::string& newName) const;

    // Relaxes locks (when unlockOn) and then modes from the item up to mainFolder, included,
    // until UnlockCheck passes; what was changed is recorded in table.
    bool UnlockChain(const std::string& item, const std::string& mainFolder, int check,
                     bool unlockOn, RestoreTable* table) const;
    bool UnlockCheck(const std::string& item, int check) const;
    // Puts back every lock and mode recorded; true when all succeeded.
    bool RestoreOriginalAttr(const RestoreTable& table) const;

  private:
    const TWUtilities& tw_;
};

void AddItemDictToRestoreToPath(RestoreTable* table, const std::string& path,
                                const RestoreEntry& entry);
void RemoveItemOKFromRestore(RestoreTable* table, const std::string& path);

}  // namespace qv::fileops
