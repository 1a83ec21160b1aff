#include "items/validation.h"

#include <limits.h>
#include <stdlib.h>

#include <algorithm>

#include "items/alias_files.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/folder_way.h"
#include "platform/localization.h"
#include "platform/volumes.h"
#include "run/log_name.h"

namespace qv::items {

using platform::GLS;
using platform::ItemAttributes;

namespace {

using run::Quoted;

// Every symbolic link of the path resolved; the path itself when that fails.
std::string ResolveAllLinks(const std::string& path) {
    char buf[PATH_MAX];
    if (platform::sys().realpath(path.c_str(), buf) == nullptr) return path;
    return buf;
}

}  // namespace

bool Validator::IsOnUmountedVolume(const std::string& path) const {
    for (std::string mountPoint : errors_.state().session.executiveCannotAutomountArray) {
        while (mountPoint.size() > 1 && mountPoint.back() == '/') mountPoint.pop_back();
        if (mountPoint.empty() || path.rfind(mountPoint, 0) != 0) continue;
        // Whole components: the volume at /media/usb holds nothing of /media/usb2.
        if (path.size() == mountPoint.size() || mountPoint == "/" ||
            path[mountPoint.size()] == '/') {
            return true;
        }
    }
    return false;
}

const std::vector<std::string>& BootFoldersToCopyEmpty() {
    static const std::vector<std::string> list = {"/dev", "/proc", "/sys",  "/run",
                                                  "/tmp", "/mnt",  "/media"};
    return list;
}

const std::vector<std::string>& BootItemsToDontCopy() {
    static const std::vector<std::string> list = {"/lost+found", "/swapfile", "/swap.img",
                                                  "/.Trash-0"};
    return list;
}

bool Validator::MayNest(const std::string& inner, const std::string& outer) const {
    const std::string in = ResolveAllLinks(inner), out = ResolveAllLinks(outer);
    const auto under = [&in](const std::string& folder) {
        return in == folder ||
               (in.size() > folder.size() && in.compare(0, folder.size(), folder) == 0 &&
                (folder == "/" || in[folder.size()] == '/'));
    };
    // What the walk leaves out is not walked into: the inner folder is never met. An entry is
    // taken in the form the walk matches: its folder's links resolved, its own name as written
    // (an entry naming a link leaves out the link, not the folder it leads to).
    const run::RunState& s = errors_.state();
    if (s.config.flags.gIsExcludeOn) {
        for (const std::string& excluded : s.session.executiveExcludeArray) {
            const std::string name = platform::LastPathComponent(excluded);
            const std::string folder = ResolveAllLinks(platform::ParentFolder(excluded));
            if (!name.empty() && under(platform::JoinPath(folder, name))) return true;
        }
    }
    // Nor are the mount folders and system items at the top of a disk (a copy of "/" to a
    // disk mounted under /mnt).
    const platform::ItemAttributes top = platform::ReadItemAttributes(out.c_str());
    const platform::ItemAttributes parent =
        platform::ReadItemAttributes(platform::ParentFolder(out).c_str());
    if (out != "/" && (!top.exists() || !parent.exists() || top.dev == parent.dev)) return false;
    const std::string base = out == "/" ? "" : out;
    for (const auto* list : {&BootFoldersToCopyEmpty(), &BootItemsToDontCopy()}) {
        for (const std::string& entry : *list) {
            if (under(base + entry)) return true;
        }
    }
    return false;
}

bool Validator::ResolveTopFolder(std::string& path, bool isSource) {
    run::RunState& s = errors_.state();
    if (!path.empty() && path.front() != '/') {
        // Relative to whatever folder the program happens to be started in: never the same two
        // folders twice.
        errors_.SetErrMsg({GLS(isSource ? "Cannot find the source folder:"
                                        : "Cannot find the destination folder:"),
                           "\r", Quoted(path), "\r",
                           GLS("A folder's path must begin with \"/\".")});
        return false;
    }
    ItemAttributes attrs = platform::ReadItemAttributes(path.c_str());
    // A folder on a volume that failed to mount is not the volume's, even when the empty folder
    // it is mounted on stands there: nothing is read from it or copied into it.
    if (attrs.exists() && IsOnUmountedVolume(path)) attrs = ItemAttributes{};
    if (!attrs.exists()) {
        if (path.empty()) {
            const std::string undefined =
                GLS(isSource ? "Source Folder not defined" : "Destination Folder not defined");
            (isSource ? s.task.gSourceFolder : s.task.gDestFolder) = undefined;
            errors_.SetErrMsg({undefined});
        } else {
            errors_.SetErrMsg({GLS(isSource ? "Cannot find the source folder:"
                                            : "Cannot find the destination folder:"),
                               "\r", Quoted(path)});
            if (IsOnUmountedVolume(path)) {
                errors_.AppendErrMsg({"\rbecause I cannot mount the volume it resides on"});
            }
        }
        std::string& other = isSource ? s.task.gDestFolder : s.task.gSourceFolder;
        if (other.empty()) {
            other = GLS(isSource ? "Destination Folder not defined" : "Source Folder not defined");
        }
        return false;
    }
    if (!attrs.isSymbolicLink() && IsAlias(path)) {
        std::string resolved = path;
        if (!ResolveTheAlias(resolved)) {
            errors_.SetErrMsg({GLS(isSource ? "Can't resolve the main source alias"
                                            : "Can't resolve the main destination alias"),
                               " ", Quoted(path)});
            return false;
        }
        path = resolved;
        attrs = platform::ReadItemAttributes(path.c_str());
    }
    if (attrs.isSymbolicLink()) {
        const std::string resolved = ResolveAllLinks(path);
        if (resolved == path) {
            errors_.SetErrMsg({GLS(isSource ? "Can't resolve the main source SYM link"
                                            : "Can't resolve the main destination SYM link"),
                               " ", Quoted(path)});
            return false;
        }
        path = resolved;
    }
    return true;
}

bool Validator::FoldersAreValid(const std::string& srcIn, const std::string& dstIn,
                                int forceToCase) {
    run::RunState& s = errors_.state();
    std::string src = srcIn, dst = dstIn;
    s.task.gSourceFolder = src;
    s.task.gDestFolder = dst;
    if (!ResolveTopFolder(src, true)) return errors_.AddErrQuickly(forceToCase) && false;
    const bool srcIsFolder = tw_.IsReallyFolder(src);
    s.task.gSourceFolder = src;
    if (!ResolveTopFolder(dst, false)) return errors_.AddErrQuickly(forceToCase) && false;
    const bool dstIsFolder = tw_.IsReallyFolder(dst);
    s.task.gDestFolder = dst;
    if (!WayIsTrusted(dstIn, dst, false, forceToCase) ||
        (s.config.flags.gIsSyncOn && !WayIsTrusted(srcIn, src, true, forceToCase))) {
        return false;
    }

    // A volume's folder with the volume missing would pass for an emptied folder.
    for (const auto& [path, isSource] : {std::pair{&src, true}, {&dst, false}}) {
        if (platform::IsOnVolumeNotMounted(*path, platform::RemovableMountFolders(),
                                           platform::FstabMountPoints())) {
            errors_.SetErrMsg({GLS(isSource ? "Cannot find the source folder:"
                                            : "Cannot find the destination folder:"),
                               "\r", Quoted(*path),
                               "\rbecause I cannot mount the volume it resides on"});
            errors_.AddErrQuickly(forceToCase);
            return false;
        }
    }
    // Folders are compared as folders, not as spellings: "A" and "A/." are one folder, and a
    // folder inside the other would be copied into itself or deleted as an item of the other.
    const bool dstInSrc = srcIsFolder && platform::FolderLiesInside(dst, src);
    const bool srcInDst = srcIsFolder && platform::FolderLiesInside(src, dst);
    if (srcIsFolder != dstIsFolder) {
        errors_.SetErrMsg({GLS(srcIsFolder ? "Can't set a source folder and a destination file"
                                           : "Can't set a source file and a destination folder")});
    } else if (src == dst || (dstInSrc && srcInDst)) {
        errors_.SetErrMsg({GLS("Cannot set equal source and destination")});
    } else if (dstInSrc && !MayNest(dst, src)) {
        errors_.SetErrMsg({GLS("Can't set a destination folder inside the source folder")});
    } else if (srcInDst && !MayNest(src, dst)) {
        errors_.SetErrMsg({GLS("Can't set a source folder inside the destination folder")});
    } else if (!srcIsFolder &&
               platform::LastPathComponent(src) != platform::LastPathComponent(dst)) {
        errors_.SetErrMsg({GLS("Can't set 2 files with different names")});
    } else {
        return BootChecksPass(src, dst, forceToCase);
    }
    errors_.AddErrQuickly(forceToCase);
    return false;
}

bool Validator::WayIsTrusted(const std::string& written, const std::string& resolved, bool isSource,
                             int forceToCase) {
    // A source only read may lie anywhere: backing up a user's home as root must work.
    if (!tw_.mEuidIsRoot) return true;
    for (const std::string* path : {&written, &resolved}) {
        const platform::FolderWay way = platform::CheckFolderWay(*path, documentOwner_);
        if (way.untrusted.empty()) continue;
        errors_.SetErrMsg({GLS(isSource ? "A run as root does not change a folder that another "
                                          "user can swap for a link elsewhere:"
                                        : "A run as root does not write into a folder that "
                                          "another user can swap for a link elsewhere:"),
                           "\r", Quoted(*path), "\r", GLS("Its way passes through"), " ",
                           Quoted(way.untrusted), ", ", way.whyUntrusted, "."});
        errors_.AddErrQuickly(forceToCase);
        return false;
    }
    return true;
}

namespace {

constexpr const char* kSupportPage = "https://quorvel.app/support/backup-boot-disk";

std::string WebPageLines(const char* explains) {
    return std::string("\r\rPlease take a look at our web page:\r") + kSupportPage +
           "\rIt explains how to back-up " + explains + " properly";
}

}  // namespace

bool Validator::BootChecksPass(const std::string& src, const std::string& dst, int forceToCase) {
    const run::RunState& s = errors_.state();
    const bool srcRoot = src == "/", dstRoot = dst == "/";
    const bool srcBoot = platform::IsRootOfBootableVolume(src);
    const bool dstBoot = platform::IsRootOfBootableVolume(dst);
    if (!srcRoot && !dstRoot && !srcBoot && !dstBoot) return true;
    const std::string preferencesPanel = GLS("in the QV Preferences panel") + ".";
    // The side that is not the system's or the bootable disk: its volume receives the copy or
    // gives it.
    const bool otherIsDest = srcRoot || (!dstRoot && srcBoot);
    const std::string otherLabel = otherIsDest ? "destination" : "source";
    const std::string& otherPath = otherIsDest ? dst : src;
    if (srcRoot || dstRoot) {
        if (!tw_.mEuidIsRoot) {
            errors_.SetErrMsg({GLS("Cannot process the boot disk without the root's privileges. "
                                   "Please log in as root or mark the check-box"),
                               " ", Quoted(GLS("Run with root permissions")), " ", preferencesPanel,
                               WebPageLines("a bootable volume")});
            errors_.AddErrQuickly(forceToCase);
            return false;
        }
    } else if (!tw_.mEuidIsRoot) {
        const std::string bootLabel = srcBoot ? "source" : "destination";
        errors_.SetErrMsg(
            {"The ", bootLabel,
             " is a bootable volume, therefore it should be processed with the root's "
             "privileges. If you continue you will not get a bootable backup disk.\rIn order to "
             "properly perform the sync/backup of a bootable volume, please log in as root or "
             "mark the check-box ",
             Quoted(GLS("Run with root permissions")), " ", preferencesPanel,
             WebPageLines("the boot disk")});
        if (!errors_.AddErrQuickly(forceToCase)) return false;
    }
    // Settings that would turn a copy of a system into something else than that system.
    const std::pair<bool, const char*> discouraged[] = {
        {s.config.flags.gIsResolveAliasOn, "Resolve aliases"},
        {s.config.flags.gIsResolveSymLinkOn, "Resolve symbolic links"},
        {s.config.flags.gCreateDestFolder, "Write each run into a sub-folder of the destination:"},
    };
    for (const auto& [on, title] : discouraged) {
        if (!on) continue;
        errors_.SetErrMsg({GLS("We discourage to sync/backup the boot disk using the check-box"),
                           " ", Quoted(GLS(title)), " ", GLS("on. Unmark that check-box"), " ",
                           GLS("in the QV Settings panel"), ".", WebPageLines("the boot disk")});
        errors_.AddErrQuickly(forceToCase);
        return false;
    }
    if (!platform::CanVolumeManageOwnership(otherPath)) {
        errors_.SetErrMsg(
            {"The ", otherLabel,
             " volume settings don't allow to manage ownership and permissions. If you continue "
             "you will not get a bootable backup disk. In order to perform the backup of your "
             "boot disk properly, please use a volume with a Linux file system (ext4, btrfs, "
             "xfs and the like), which keeps owners and permissions: FAT, exFAT, NTFS, optical "
             "discs and Windows shares don't.",
             WebPageLines("the boot disk")});
        return errors_.AddErrQuickly(forceToCase);
    }
    return true;
}

int Validator::CheckPrivilegesOnFiles(const std::string& src, const std::string& dst, int copyMode,
                                      const ItemAttributes* srcAttributes,
                                      const ItemAttributes* dstAttributes) {
    switch (copyMode) {
        case run::kModeDescend:
            return CheckFoldersReadable(src, dst, srcAttributes, dstAttributes);
        case run::kModeCopyAtoB:
        case run::kModeReplaceBwithA:
        case run::kModeCopyBtoA:
        case run::kModeReplaceAwithB: {
            const bool aToB = copyMode == run::kModeCopyAtoB || copyMode == run::kModeReplaceBwithA;
            return CheckCopyPrivileges(
                aToB ? src : dst, aToB ? dst : src, aToB ? srcAttributes : dstAttributes,
                aToB ? dstAttributes : srcAttributes,
                copyMode == run::kModeCopyAtoB || copyMode == run::kModeCopyBtoA);
        }
        case run::kModeDeleteInA:
        case run::kModeDeleteInB:
            return CheckDeletePrivileges(copyMode == run::kModeDeleteInA ? src : dst);
        default:
            return kPrivilegesOk;
    }
}

int Validator::CheckFoldersReadable(const std::string& src, const std::string& dst,
                                    const ItemAttributes* srcAttributes,
                                    const ItemAttributes* dstAttributes) {
    const std::string insufficient = GLS("Insufficient privileges");
    // With the attributes the walk read, nothing is looked up by path again (a path
    // may be longer than the system takes).
    if (!(srcAttributes ? tw_.IsIndeedReadableFileAtPath(src, *srcAttributes)
                        : tw_.IsIndeedReadableFileAtPath(src))) {
        errors_.SetErrMsg(
            {GLS("Can't scan the source folder"), " ", Quoted(src), ".\r", insufficient, "."});
        return kPrivilegesInsufficient;
    }
    if (!(dstAttributes ? tw_.IsIndeedReadableFileAtPath(dst, *dstAttributes)
                        : tw_.IsIndeedReadableFileAtPath(dst))) {
        errors_.SetErrMsg(
            {GLS("Can't scan the destination folder"), " ", Quoted(dst), ".\r", insufficient, "."});
        return kPrivilegesInsufficient;
    }
    return kPrivilegesOk;
}

int Validator::CheckCopyPrivileges(const std::string& from, const std::string& to,
                                   const ItemAttributes* fromAttributes,
                                   const ItemAttributes* toAttributes, bool isCopy) {
    const run::RunState& s = errors_.state();
    const std::string insufficient = GLS("Insufficient privileges");
    if (!s.config.flags.mSkipCheckPermissions) {
        const bool fromIsPackage =
            fromAttributes ? tw_.IsFilePackage(from, *fromAttributes) : tw_.IsFilePackage(from);
        const bool readable = fromIsPackage ? tw_.CheckFilePackagePermissions(from, 0)
                              : fromAttributes
                                  ? tw_.IsIndeedReadableFileAtPath(from, *fromAttributes)
                                  : tw_.IsIndeedReadableFileAtPath(from);
        if (!readable) {
            errors_.SetErrMsg({GLS("Can't read the item"), " ", Quoted(from)});
            if (fromIsPackage) {
                errors_.AppendErrMsg({" ", GLS("or some of the items inside the filePackage.")});
            }
            errors_.AppendErrMsg({"\r", insufficient, "."});
            return kPrivilegesInsufficient;
        }
    }
    const bool toExists =
        toAttributes ? toAttributes->exists() : platform::ReadItemAttributes(to.c_str()).exists();
    if (!toExists) return kPrivilegesOk;
    if (!tw_.IsIndeedDeletableFileAtPath(to)) {
        errors_.SetErrMsg({GLS("Can't write the item"), "\r", Quoted(from), " ", GLS("to"), "\r",
                           Quoted(to), ".\r", insufficient, " ",
                           GLS("on that file or its parent folders"), "."});
        return kPrivilegesInsufficient;
    }
    if (isCopy) return kPrivilegesOk;
    if (!s.config.flags.gIsUnlockOn && tw_.IsLocked(to)) {
        errors_.SetErrMsg(
            {GLS("Can't replace the item"), ":\r", Quoted(to), ".\r", GLS("Item Locked"), "."});
        return kPrivilegesLocked;
    }
    if (tw_.IsFilePackage(to) && !tw_.CheckFilePackagePermissions(to, 2)) {
        errors_.SetErrMsg({GLS("Can't replace the item"), ":\r", Quoted(to), ".\r", insufficient,
                           " ", GLS("on some of the items of the filePackage"), "."});
        return kPrivilegesInsufficient;
    }
    return kPrivilegesOk;
}

int Validator::CheckDeletePrivileges(const std::string& item) {
    const run::RunState& s = errors_.state();
    const std::string insufficient = GLS("Insufficient privileges");
    if (!s.config.flags.gIsUnlockOn && tw_.IsLocked(item)) {
        errors_.SetErrMsg(
            {GLS("Can't delete the item"), "\r", Quoted(item), ".\r", GLS("Item Locked"), "."});
        return kPrivilegesLocked;
    }
    const bool isPackage = tw_.IsFilePackage(item);
    const bool deletable = isPackage ? tw_.CheckFilePackagePermissions(item, 2)
                                     : tw_.IsIndeedDeletableFileAtPath(item);
    if (!deletable) {
        errors_.SetErrMsg({GLS("Can't delete the item"), "\r", Quoted(item), ".\r", insufficient});
        if (isPackage) {
            errors_.AppendErrMsg({" ", GLS("on some of the items of the filePackage")});
        }
        errors_.AppendErrMsg({"."});
        return kPrivilegesInsufficient;
    }
    return kPrivilegesOk;
}

bool Validator::IsBootItemToIgnore(const std::string& path) const {
    const auto& list = errors_.state().task.bootItemsToDontCopyArray;
    return std::find(list.begin(), list.end(), path) != list.end();
}

bool Validator::TakeTarget(const std::string& target, std::string& path, ItemAttributes& attributes,
                           bool& isSymLink) {
    if (IsBootItemToIgnore(target)) return false;
    path = target;
    attributes = platform::ReadItemAttributes(path.c_str());
    isSymLink = attributes.isSymbolicLink();
    return true;
}

bool Validator::ReportResolutionFailure() {
    errors_.LogAndCountError();
    errors_.ManageTheError(errors_.state().mErrString, 0);
    return false;
}

bool Validator::TryResolveAliasFile(std::string& path, ItemAttributes& attributes,
                                    bool& isSymLink) {
    if (!IsAlias(path)) return true;
    const std::string alias = path;
    std::string target = path;
    if (!ResolveTheAlias(target)) {
        errors_.SetErrMsg({GLS("Can't resolve the alias"), " ", Quoted(alias)});
        return ReportResolutionFailure();
    }
    if (platform::LastPathComponent(target) != AliasName(alias)) {
        errors_.SetErrMsg(
            {"Cannot resolve the Alias\r", alias, "\rbecause it points to a Target file\r", target,
             "\rwhich has a different file name. This could cause conflicts when resolving the "
             "Alias and copying the Target file.\rPlease use alias and target files with equal "
             "names"});
        return ReportResolutionFailure();
    }
    return TakeTarget(target, path, attributes, isSymLink);
}

bool Validator::TryResolveSymLinkFile(std::string& path, ItemAttributes& attributes,
                                      bool& isSymLink) {
    const std::string link = path;
    const std::string target = ResolveAllLinks(path);
    if (target == link) {
        errors_.SetErrMsg({GLS("Can't resolve the SYM link"), " ", Quoted(link)});
        return ReportResolutionFailure();
    }
    if (platform::LastPathComponent(target) != platform::LastPathComponent(link)) {
        errors_.SetErrMsg(
            {"Cannot resolve the SymLink\r", link, "\rbecause it points to a Target file\r", target,
             "\rwhich has a different file name. This could cause conflicts when resolving the "
             "SymLink and copying the Target file.\rPlease use SymLinks and Target files with "
             "the equal names"});
        return ReportResolutionFailure();
    }
    return TakeTarget(target, path, attributes, isSymLink);
}

}  // namespace qv::items
