// Replacing an item: the new one swapped or renamed into its place, a folder replaced by a
// file, the old one never gone before the new one is there.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileops/executor.h"
#include "fileops/executor_internal.h"
#include "fileops/trash.h"

namespace qv::fileops {

// The operations share their helpers and names.
using namespace executor_internal;

bool Executor::PutInPlace(const FolderHandle& folder, Temporary& temp, const std::string& to,
                          std::string& err, const run::SeenItem* seen, bool onB) {
    const int dirFd = folder.fd();
    const bool keepVersion = versions_.on();
    const auto renameOver = [&] {
        if (sys().renameat2(dirFd, temp.name.c_str(), dirFd, to.c_str(), 0) == 0) {
            temp.name = to;
            return true;
        }
        return false;
    };
    // A file over a file, the common case, needs no look first: rename refuses a folder.
    if (temp.isFile) {
        if (seen != nullptr && seen->ino != 0) {
            if (const std::optional<bool> swapped =
                    SwapInPlace(folder, temp, to, *seen, err, onB)) {
                return *swapped;
            }
        }
        platform::UniqueFd old =
            keepVersion ? platform::UniqueFd() : platform::HoldItem(dirFd, to.c_str());
        if (!keepVersion && renameOver()) {
            closer_.Close(std::move(old));
            return true;
        }
        if (!keepVersion && errno != EISDIR) {
            err = SystemError("Can't rename the destination item just copied:", errno);
            DiscardTemporary(folder, temp);
            return false;
        }
    }
    const platform::StatResult old = StatAt(dirFd, to);
    if (old.error == ENOENT) return PutNew(folder, temp, to, err);
    const bool newIsFolder = !temp.isFile && !temp.isLink;
    if (!keepVersion && !old.attributes.isDirectory() && !newIsFolder) {
        // One step: the old item is replaced by the complete new one.
        if (renameOver()) return true;
        err = SystemError("Can't rename the destination item just copied:", errno);
        DiscardTemporary(folder, temp);
        return false;
    }
    // A folder is involved, or the old item is to be kept: swap the two in one step, then the
    // old one, which now stands marked under the temporary name, goes.
    bool copied = false;
    if (!CopyVersionFirst(folder, to, onB, &copied, err)) {
        DiscardTemporary(folder, temp);
        return false;
    }
    const bool oldMarked = Mark(dirFd, to);
    if (sys().renameat2(dirFd, temp.name.c_str(), dirFd, to.c_str(), RENAME_EXCHANGE) == 0) {
        const std::string oldName = temp.name;
        temp.name = to;
        if (!DisposeReplaced(folder, oldName, to, onB, err, copied)) {
            if (keepVersion) UndoExchange(folder, temp, oldName, to, err);
            return false;
        }
        return true;
    }
    const int error = errno;
    if (oldMarked) Unmark(dirFd, to);
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) {
        // The old item stays as it was; the copy goes.
        err = SystemError("Can't exchange the destination item with the one just copied:", error);
        DiscardTemporary(folder, temp);
        return false;
    }
    // A file system without the exchange: the old item goes first (or into the versions),
    // then the copy takes its place, a moment in which neither stands there.
    if (!DisposeReplaced(folder, to, to, onB, err, copied)) {
        DiscardTemporary(folder, temp);
        return false;
    }
    if (!renameOver()) {
        err = "\rCan't rename the destination item just copied";
        return false;  // the copy stays under its temporary name
    }
    return true;
}

bool Executor::CopyVersionFirst(const FolderHandle& folder, const std::string& name, bool onB,
                                bool* copied, std::string& err) {
    *copied = false;
    if (!versions_.on() || !versions_.OnOtherFileSystem(onB, folder.dev())) return true;
    std::string why;
    if (KeepVersion(folder, name, name, onB, &why, true)) {
        *copied = true;
        return true;
    }
    err = "\r" + phrases_.error + " " + GLS("Can't keep a version of the item") + " " +
          Quoted(folder.PathOf(name)) + ": " + why;
    return false;
}

bool Executor::DisposeReplaced(const FolderHandle& folder, const std::string& name,
                               const std::string& originalName, bool onB, std::string& err,
                               bool versionCopied) {
    if (versions_.on() && !versionCopied) {
        std::string why;
        if (KeepVersion(folder, name, originalName, onB, &why)) return true;
        err = "\r" + phrases_.error + " " + GLS("Can't keep a version of the item") + " " +
              Quoted(folder.PathOf(originalName)) + ": " + why;
        return false;
    }
    if (RemoveItemAt(folder.fd(), name, metadata_)) return true;
    err = name == originalName
              ? std::string("\rCan't remove the old destination file")
              : "\rCan't remove the old destination item, left as " + Quoted(folder.PathOf(name));
    return false;
}

void Executor::UndoExchange(const FolderHandle& folder, Temporary& temp, const std::string& old,
                            const std::string& to, std::string& err) {
    const int dirFd = folder.fd();
    if (sys().renameat2(dirFd, old.c_str(), dirFd, to.c_str(), RENAME_EXCHANGE) == 0) {
        temp.name = old;
        Unmark(dirFd, to);
        DiscardTemporary(folder, temp);
        return;
    }
    // It stays beside the copy, unmarked: no run takes it for a leftover.
    Unmark(dirFd, old);
    err += " " + Quoted(folder.PathOf(old));
}

bool Executor::KeepVersion(const FolderHandle& folder, const std::string& name,
                           const std::string& originalName, bool onB, std::string* why,
                           bool copyOnly) {
    run::RunState& s = *state_;
    const run::TaskRoot& root = s.plan.taskRootList[currentRoot_];
    const std::string& top = onB ? root.dest : root.source;
    const std::string& path = folder.path();
    std::optional<std::string> relative;
    if (path == top) {
        relative = std::string();
    } else if (const std::string prefix = top == "/" ? top : top + "/";
               path.compare(0, prefix.size(), prefix) == 0) {
        relative = path.substr(prefix.size());
    }
    if (!relative) {
        *why = GLS("It lies outside the session's folders.");
        return false;
    }
    std::string kept;
    if (!versions_.Keep(onB, folder, *relative, name, originalName, copyOnly, &kept, why)) {
        return false;
    }
    ++(onB ? s.task.copy.gBVersionsKept : s.task.copy.gAVersionsKept);
    LogAction(phrases_.versionKept + " " + Quoted(folder.PathOf(originalName)) + ": " +
              Quoted(kept));
    return true;
}

std::optional<bool> Executor::SwapInPlace(const FolderHandle& folder, Temporary& temp,
                                          const std::string& to, const run::SeenItem& seen,
                                          std::string& err, bool onB) {
    // The copy and the item it replaces change places in one step, and the item replaced goes
    // only once it is seen as the scan saw it: an edit that reached it after the last look is
    // put back in place, never lost. Marked first, it is a temporary like any other should the
    // run end in between.
    const int dirFd = folder.fd();
    bool copied = false;
    if (!CopyVersionFirst(folder, to, onB, &copied, err)) {
        DiscardTemporary(folder, temp);
        return false;
    }
    const bool marked = Mark(dirFd, to);
    if (sys().renameat2(dirFd, temp.name.c_str(), dirFd, to.c_str(), RENAME_EXCHANGE) != 0) {
        const int error = errno;
        if (marked) Unmark(dirFd, to);
        if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) return std::nullopt;
        err = SystemError("Can't exchange the destination item with the one just copied:", error);
        DiscardTemporary(folder, temp);
        return false;
    }
    const std::string replaced = temp.name;
    temp.name = to;
    // Held open first, so that the last look and the removal are one call apart. A program
    // that keeps the file open can still write to it in between, or after: that is so of any
    // replacement.
    platform::UniqueFd held = platform::HoldItem(dirFd, replaced.c_str());
    struct stat st {};
    if (held.valid() && sys().fstat(held.get(), &st) == 0 &&
        IsAsSeen(platform::AttributesFromStat(st), seen)) {
        if (versions_.on()) {
            if (DisposeReplaced(folder, replaced, to, onB, err, copied)) return true;
            UndoExchange(folder, temp, replaced, to, err);
            return false;
        }
        if (sys().unlinkat(dirFd, replaced.c_str(), 0) == 0) closer_.Close(std::move(held));
        return true;
    }
    // Edited meanwhile: it takes its place again and the copy goes.
    if (sys().renameat2(dirFd, replaced.c_str(), dirFd, to.c_str(), RENAME_EXCHANGE) == 0) {
        temp.name = replaced;
        Unmark(dirFd, to);
        DiscardTemporary(folder, temp);
        err = "\r" + phrases_.error + " " +
              GLS("It changed since the scan: the next run will decide.");
        return false;
    }
    // It stays beside the copy, unmarked, for the user to see.
    Unmark(dirFd, replaced);
    err = "\r" + phrases_.error + " " +
          GLS("It changed since the scan: the next run will decide.") + " " +
          Quoted(folder.PathOf(replaced));
    return false;
}

bool Executor::RemoveReplacedFolder(const Place& to, bool aToB, std::string& err) {
    run::RunState& s = *state_;
    const bool versions = versions_.on();
    const bool trash = !versions && s.config.flags.gIsMoveToTrash;
    std::vector<std::pair<std::string, bool>> items;
    CollectTree(*to.folder, *to.name, to.path, items);
    if (versions) {
        if (!DisposeReplaced(*to.folder, *to.name, *to.name, aToB, err)) return false;
        CountRemovedItems(items, aToB, false);
        return true;
    }
    std::string why;
    const bool removed = trash ? MoveToTrash(*to.folder, *to.name, &why)
                               : RemoveItemAt(to.fd(), *to.name, metadata_);
    if (!removed) {
        err = "\r" + GLS(trash ? "Can't trash the folder" : "Can't delete the folder") + " " +
              Quoted(to.path) + (why.empty() ? "" : ": " + why);
        return false;
    }
    CountRemovedItems(items, aToB, trash);
    return true;
}

void Executor::CountRemovedItems(const std::vector<std::pair<std::string, bool>>& items, bool aToB,
                                 bool trash) {
    run::RunState& s = *state_;
    for (const auto& [path, isFolder] : items) {
        std::int64_t& counter =
            isFolder ? (aToB ? s.task.copy.gBFoldersDeleted : s.task.copy.gAFoldersDeleted)
                     : (aToB ? s.task.copy.gBFilesDeleted : s.task.copy.gAFilesDeleted);
        ++counter;
        const std::string& phrase = isFolder
                                        ? (trash ? phrases_.trashedFolder : phrases_.deletedFolder)
                                        : (trash ? phrases_.trashedFile : phrases_.deletedFile);
        LogAction(phrase + " " + Quoted(path));
        s.plan.gItemsDeleted.push_back(path);
    }
}

bool Executor::ReplaceFolderByItem(const Place& to, Temporary& temp, const std::string& target,
                                   bool aToB, std::string& err) {
    const FolderHandle& folder = *to.folder;
    const int dirFd = folder.fd();
    const auto removeFirst = [&] {
        // The folder goes first, then the copy takes the name. Into the trash, the folder is
        // kept whatever happens next; without an exchange there is no other way.
        if (!RemoveReplacedFolder(to, aToB, err)) {
            DiscardTemporary(folder, temp);
            return false;
        }
        return PutNew(folder, temp, target, err);
    };
    if (state_->config.flags.gIsMoveToTrash && !versions_.on()) return removeFirst();
    std::vector<std::pair<std::string, bool>> items;
    CollectTree(folder, *to.name, to.path, items);
    bool copied = false;
    if (!CopyVersionFirst(folder, *to.name, aToB, &copied, err)) {
        DiscardTemporary(folder, temp);
        return false;
    }
    const bool marked = Mark(dirFd, *to.name);
    if (sys().renameat2(dirFd, temp.name.c_str(), dirFd, to.name->c_str(), RENAME_EXCHANGE) != 0) {
        const int error = errno;
        if (marked) Unmark(dirFd, *to.name);
        if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) return removeFirst();
        err = SystemError("Can't exchange the destination item with the one just copied:", error);
        DiscardTemporary(folder, temp);
        return false;
    }
    const std::string oldName = temp.name;
    temp.name = *to.name;
    // Left by a failure (or an end of the process) here, the folder is a marked temporary
    // that the next run clears away.
    if (!DisposeReplaced(folder, oldName, *to.name, aToB, err, copied)) {
        if (versions_.on()) UndoExchange(folder, temp, oldName, *to.name, err);
        return false;
    }
    CountRemovedItems(items, aToB, false);
    // Names that differ only in case: the copy takes the source's spelling.
    if (target != *to.name &&
        sys().renameat2(dirFd, to.name->c_str(), dirFd, target.c_str(), RENAME_NOREPLACE) == 0) {
        temp.name = target;
    }
    return true;
}

bool Executor::ReplaceDestFile(const Place& to, const Place& from, const ItemAttributes& fromAttrs,
                               bool aToB, bool isSymLink, bool isPackage, const run::SeenItem& seen,
                               std::string& err) {
    run::RunState& s = *state_;
    const FolderHandle& folder = *to.folder;
    bool chainUsed = false;
    bool ok = true;
    if (!tw_.IsIndeedDeletableAt(folder.fd()) || tw_.IsLocked(folder.fd(), *to.name) ||
        tw_.IsLocked(folder.fd(), kNoName)) {
        chainUsed = true;
        if (!metadata_.UnlockChain(to.at(), Chain(aToB, true), kCheckDeletable,
                                   s.config.flags.gIsUnlockOn, current_) ||
            (tw_.IsLocked(folder.fd(), *to.name) &&
             (!s.config.flags.gIsUnlockOn || !metadata_.UnlockItem(to.at())))) {
            err = "\r" + phrases_.error + " " + GLS("Can't delete the old destination file.") +
                  " " + GLS("Insufficient privileges");
            ok = false;
        }
    }
    // The destination takes the source's spelling of the name.
    const std::string& target = *from.name;
    if (ok) ok = CheckFreeSpaceFor(from, folder, err);
    Temporary temp;
    // The item replaced stands in the folder, so no temporary takes its name; nor the name
    // the copy is to have, when that differs.
    if (ok) ok = CopyToTemporary(from, fromAttrs, folder, target, err, temp);
    // Looked at again once the copy is ready, right before it goes: an edit made to it while
    // the copy was being made is kept, and told.
    if (ok && ChangedSinceScan(seen, to, false)) {
        DiscardTemporary(folder, temp);
        return false;
    }
    const platform::StatResult old = StatAt(folder.fd(), *to.name);
    if (ok && old.attributes.isDirectory() && (temp.isFile || temp.isLink)) {
        // A file or link in place of a folder: the folder and what it holds go the way every
        // deletion goes (to the trash when the session says so), each item counted and logged;
        // nothing of it may vanish as a mere side effect of the replacement.
        ok = ReplaceFolderByItem(to, temp, target, aToB, err);
    } else if (ok && target != *to.name && old.ok()) {
        // Names that differ only in case: the old one goes when the new one is in place.
        ok = PutInPlace(folder, temp, *to.name, err, &seen, aToB);
        if (ok &&
            sys().renameat2(folder.fd(), to.name->c_str(), folder.fd(), target.c_str(), 0) == 0) {
            temp.name = target;
        }
    } else if (ok) {
        ok = PutInPlace(folder, temp, target, err, &seen, aToB);
    }
    if (!ok) {
        const char* what = isSymLink   ? "Can't replace the Sym Link"
                           : isPackage ? "Can't replace the file package"
                                       : "Can't replace the file";
        Report(GLS(what) + ":\r" + Quoted(to.path) + " " + GLS("with the most recent:") + "\r" +
               Quoted(from.path) + err);
        return false;
    }
    const bool mayHaveFinderInfo = !temp.isFile || temp.attrs.finderInfo;
    if (!FinishTemporary(from, folder, temp.name, temp, false)) return false;
    ++(aToB ? s.task.copy.gBFilesReplaced : s.task.copy.gAFilesReplaced);
    CountVisibility(from, aToB, mayHaveFinderInfo);
    LogAction(phrases_.replacedFile + " " + Quoted(to.path) + "\r" +
              phrases_.withTheMostRecentFile + " " + Quoted(from.path));
    if (chainUsed) RemoveItemOKFromRestore(current_, to.path);
    return true;
}

}  // namespace qv::fileops
