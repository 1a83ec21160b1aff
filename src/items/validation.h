#pragma once
// Checks made before and during the scan: that a task's two top folders may be processed,
// that the running user may carry out each planned action, and the resolution of aliases and
// symbolic links met on the way. Failures are reported through the error path.

#include <sys/types.h>

#include <string>
#include <vector>

#include "items/error_path.h"
#include "items/tw_utilities.h"
#include "platform/item_attributes.h"

namespace qv::items {

// Results of CheckPrivilegesOnFiles.
inline constexpr int kPrivilegesOk = 0;
inline constexpr int kPrivilegesInsufficient = 1;
inline constexpr int kPrivilegesLocked = 2;

// The items at the top of a disk that a copy of it creates empty, and those it leaves out.
const std::vector<std::string>& BootFoldersToCopyEmpty();
const std::vector<std::string>& BootItemsToDontCopy();

class Validator {
  public:
    Validator(ErrorPath& errors, const TWUtilities& tw) : errors_(errors), tw_(tw) {}

    // True when the task's folders may be scanned; gSourceFolder and gDestFolder become the
    // resolved paths. A failure is reported with AddErrQuickly(forceToCase).
    bool FoldersAreValid(const std::string& src, const std::string& dst, int forceToCase);
    // 0 allowed, 1 insufficient privileges, 2 locked; the explanation is left in mErrString.
    // With the attributes the scan already read of src and dst (Missing when absent), the two
    // items are not looked at again.
    int CheckPrivilegesOnFiles(const std::string& src, const std::string& dst, int copyMode,
                               const platform::ItemAttributes* srcAttributes = nullptr,
                               const platform::ItemAttributes* dstAttributes = nullptr);
    // The item (path and attributes replaced by the target's) or false to leave it out.
    bool TryResolveAliasFile(std::string& path, platform::ItemAttributes& attributes,
                             bool& isSymLink);
    bool TryResolveSymLinkFile(std::string& path, platform::ItemAttributes& attributes,
                               bool& isSymLink);

    bool IsOnUmountedVolume(const std::string& path) const;
    // Whose document the run carries out: a run as root trusts the way to the folders it
    // writes into only when root or this user can change it.
    void SetDocumentOwner(uid_t owner) { documentOwner_ = owner; }

  private:
    // The three kinds of CheckPrivilegesOnFiles: both folders of a pair readable; an item
    // copied from `from` over or beside `to` (isCopy: nothing is replaced); an item deleted.
    int CheckFoldersReadable(const std::string& src, const std::string& dst,
                             const platform::ItemAttributes* srcAttributes,
                             const platform::ItemAttributes* dstAttributes);
    int CheckCopyPrivileges(const std::string& from, const std::string& to,
                            const platform::ItemAttributes* fromAttributes,
                            const platform::ItemAttributes* toAttributes, bool isCopy);
    int CheckDeletePrivileges(const std::string& item);
    // As root: false (reported) when the way to a top folder the task may change passes
    // through a folder or link another user than root and the document's owner can change.
    bool WayIsTrusted(const std::string& written, const std::string& resolved, bool isSource,
                      int forceToCase);
    // Resolves one top folder: false (with mErrString set) when it cannot be used.
    bool ResolveTopFolder(std::string& path, bool isSource);
    bool ReportResolutionFailure();
    // The checks made when the system's disk or a bootable volume is one of the folders: root
    // privileges and settings that keep the copy bootable. True to go on.
    bool BootChecksPass(const std::string& src, const std::string& dst, int forceToCase);
    // Goes on with a resolved target in place of the item, unless it is never copied.
    bool TakeTarget(const std::string& target, std::string& path,
                    platform::ItemAttributes& attributes, bool& isSymLink);
    bool IsBootItemToIgnore(const std::string& path) const;
    // A task whose folder inner lies inside outer is refused unless the walk of outer never
    // reaches inner: it lies under an excluded item or a top-level system folder of a disk.
    bool MayNest(const std::string& inner, const std::string& outer) const;

    ErrorPath& errors_;
    const TWUtilities& tw_;
    uid_t documentOwner_ = 0;
};

}  // namespace qv::items
