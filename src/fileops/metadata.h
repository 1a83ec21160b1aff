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
#include <vector>

#include "items/tw_utilities.h"
#include "platform/folder_handle.h"
#include "platform/item_attributes.h"

namespace qv::fileops {

// An item named in an open folder, with its path for messages. Every change Metadata makes
// reaches the item through the folder's handle, never through the path, so that a folder
// swapped for a link after it was opened cannot send the change elsewhere. The three
// references must outlive the object.
struct ItemAt {
    ItemAt(const platform::FolderHandle& folder, const std::string& name, const std::string& path)
        : folder(folder), name(name), path(path) {}
    const platform::FolderHandle& folder;
    const std::string& name;
    const std::string& path;
    int fd() const { return folder.fd(); }
};

// An item given by a whole path (a resolved alias or link, a top folder, a caller outside the
// run): its folder opened as a top folder, its name never followed.
struct ItemByPath {
    explicit ItemByPath(const std::string& path);
    int fd() const { return folder.fd(); }
    platform::FolderHandle folder;
    std::string name;
    std::string path;
    int error = 0;  // why the folder could not be opened
    ItemAt at() const { return {folder, name, path}; }
};

// The open folders from a task's top folder (first) down to the folder of the items acted on.
using FolderChain = std::vector<platform::FolderHandle>;

// What was relaxed on an item to let an action through, to be put back afterwards.
struct RestoreEntry {
    bool lock = false;           // the item was locked (immutable) and was unlocked
    std::optional<mode_t> perm;  // the item's mode before it was set to 0777
};
// A recorded entry and where its item is: `name` in `folder`, or `folder` itself when name is
// empty. An entry recorded by path alone (no folder) is reached through its path.
struct RestoreRecord : RestoreEntry {
    platform::FolderHandle folder;
    std::string name;
};
// Keyed by path, so that the deepest items come last and are put back first.
using RestoreTable = std::map<std::string, RestoreRecord>;

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
    // its entries to add to the ACL the copy inherited from its folder. Given on the open copy
    // unless modeAndTimesLater; then aclLater stays set and FinishOpenCopy gives it.
    bool aclLater = false;
    std::string acl;
    bool aclMerge = false;
    // The owner (as root), the mode or the times could not be given: the copy is not faithful.
    bool failed = false;
};

class Metadata {
  public:
    explicit Metadata(const items::TWUtilities& tw) : tw_(tw) {}

    // Copies from src to dst, links not followed: owner and group (when root), mode, creation
    // date, Finder information, access and modification times to the nanosecond, and the lock;
    // the backup date becomes backupDate. A locked dst is unlocked first; a locked src gives a
    // locked dst. False when the owner (as root), the mode or the times could not be given.
    // dstIsNew: dst was just written by this run and holds nothing to unlock or clear.
    bool SetAttrsAfterCopy(const ItemAt& src, const ItemAt& dst, std::int64_t backupDate,
                           bool dstIsNew = false) const;
    bool SetAttrsAfterCopy(const std::string& src, const std::string& dst, std::int64_t backupDate,
                           bool dstIsNew = false) const;
    // The attributes SetAttrsAfterCopy gives, for a regular file just written through dstFd
    // from srcFd (stx: the source as it was opened), through the open descriptors: every
    // extended attribute (ACLs as CopyACLAttributes merges them), creation and backup dates,
    // owner, mode and times. What must wait until the temporary mark is off is said in the
    // result; FinishOpenCopy does it, through the same descriptors. src and dst name the two
    // files in messages.
    OpenCopyAttrs SetAttrsOnOpenCopy(int srcFd, const struct statx& stx, int dstFd,
                                     const std::string& src, const std::string& dst,
                                     std::int64_t backupDate) const;
    // False when the mode or the times could not be given.
    bool FinishOpenCopy(int srcFd, int dstFd, const struct statx& stx, const OpenCopyAttrs& attrs,
                        const std::string& dst) const;
    // The explicit entries of the access ACL (and of the default ACL of a folder) appended to
    // dst's, then every extended attribute of src written to dst (names dst may not carry are
    // skipped). True when at least one ACL entry was copied and applied.
    bool CopyACLAttributes(const ItemAt& src, const ItemAt& dst) const;
    bool CopyACLAttributes(const std::string& src, const std::string& dst) const;
    // CopyACLAttributes, then SetAttrsAfterCopy.
    bool CopyAttributes(const ItemAt& src, const ItemAt& dst, std::int64_t backupDate) const;
    bool CopyAttributes(const std::string& src, const std::string& dst,
                        std::int64_t backupDate) const;
    // The final attributes of a folder once its content is done. With a date, a Synchronize
    // task first puts `from`'s own modification date back to it; when the attribute copy fails
    // the date is still written to `to`. As root, the owner of the ".DS_Store" of the folder
    // holding `from` goes to the one of the folder holding `to`: those are from's and to's
    // folders, or fromParent and toParent when given (for folders given as themselves, ".").
    bool CopyFolderAttributes(const ItemAt& from, const ItemAt& to,
                              std::optional<platform::Timestamp> modifDate, bool isSync,
                              std::int64_t backupDate,
                              const platform::FolderHandle* fromParent = nullptr,
                              const platform::FolderHandle* toParent = nullptr) const;
    bool CopyFolderAttributes(const std::string& from, const std::string& to,
                              std::optional<platform::Timestamp> modifDate, bool isSync,
                              std::int64_t backupDate) const;
    // Mode, owner and group (and the immutable flag) of src given to dst; true when the owner
    // change succeeded.
    bool CopyOwnership(const ItemAt& src, const ItemAt& dst) const;
    bool SetModificationDate(const ItemAt& item, const platform::Timestamp& date) const;
    bool SetModificationDate(const std::string& path, const platform::Timestamp& date) const;

    bool UnlockItem(const ItemAt& item) const;
    bool UnlockItem(const std::string& path) const;
    bool LockItem(const ItemAt& item) const;
    bool LockItem(const std::string& path) const;
    // Opens an item and everything inside it (mode 0777, no immutable flag), to remove it.
    bool UnlockWholeItem(int dirFd, const std::string& name) const;
    bool UnlockWholeItem(const std::string& path) const;
    // Renames within the same folder, getting past a lock on the item; never over an item.
    bool RenameItem(const ItemAt& item, const std::string& newName) const;
    bool RenameItem(const std::string& path, const std::string& newName) const;

    // Relaxes locks (when unlockOn) and then modes from the item up through the folders of
    // `folders` (the deepest last; the item lies in it, or is the first folder's own entry in
    // its parent), until UnlockCheck passes; what was changed is recorded in table.
    bool UnlockChain(const ItemAt& item, const FolderChain& folders, int check, bool unlockOn,
                     RestoreTable* table) const;
    // The same from paths: the chain is opened from mainFolder down to the item's folder.
    bool UnlockChain(const std::string& item, const std::string& mainFolder, int check,
                     bool unlockOn, RestoreTable* table) const;
    bool UnlockCheck(const ItemAt& item, int check) const;
    // Puts back every lock and mode recorded; true when all succeeded.
    bool RestoreOriginalAttr(const RestoreTable& table) const;

  private:
    bool SetModeAndTimesOf(int dstFd, const struct statx& stx, const std::string& dst) const;
    void ApplyAclOf(int srcFd, int dstFd, const OpenCopyAttrs& attrs, const std::string& dst) const;

    const items::TWUtilities& tw_;
};

void AddItemDictToRestoreToPath(RestoreTable* table, const std::string& path,
                                const RestoreEntry& entry);
void RemoveItemOKFromRestore(RestoreTable* table, const std::string& path);

}  // namespace qv::fileops
