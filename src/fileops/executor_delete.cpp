// Deleting a file or a folder, or moving it to the trash.
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

bool Executor::DeleteFolder(const Place& folder, bool aToB, bool deleteParent) {
    run::RunState& s = *state_;
    const bool versions = versions_.on();
    // Set aside whole, into the versions folder or the trash: its content was only counted.
    const bool trash = !versions && s.config.flags.gIsMoveToTrash;
    const bool aside = versions || trash;
    const char* cannot = versions ? "Can't keep a version of the folder"
                         : trash  ? "Can't trash the folder"
                                  : "Can't delete the folder";
    bool chainUsed = false;
    if (!tw_.IsIndeedDeletableAt(folder.fd())) {
        chainUsed = true;
        if (!metadata_.UnlockChain(folder.at(), Chain(aToB, false), kCheckDeletable,
                                   s.config.flags.gIsUnlockOn, current_)) {
            Report(GLS(cannot) + "\r" + Quoted(folder.path) + ". " + GLS("Insufficient privileges"),
                   GLS("Insufficient Privileges") + ":");
            return false;
        }
    }
    bool removed = true;
    std::string why;
    if (!aside) {
        // Its planned content is gone by now; anything still inside appeared after the scan
        // and is nobody's to delete, so a folder that is not empty stays.
        removed = sys().unlinkat(folder.fd(), folder.name->c_str(), AT_REMOVEDIR) == 0;
        if (!removed && (errno == EPERM || errno == EACCES) && s.config.flags.gIsUnlockOn &&
            metadata_.UnlockItem(folder.at())) {
            removed = sys().unlinkat(folder.fd(), folder.name->c_str(), AT_REMOVEDIR) == 0;
        }
    } else if (!deleteParent) {
        removed = versions ? KeepVersion(*folder.folder, *folder.name, *folder.name, !aToB, &why)
                           : MoveToTrash(*folder.folder, *folder.name, &why);
    }
    if (!removed) {
        Report(GLS(cannot) + "\r" + Quoted(folder.path) + (why.empty() ? "" : ": " + why));
        return false;
    }
    if (versions && deleteParent) {
        ++(aToB ? s.task.copy.gAFoldersTrashed : s.task.copy.gBFoldersTrashed);
        LogAction(phrases_.deletedFolder + " " + Quoted(folder.path), true);
    } else if (!trash) {
        ++(aToB ? s.task.copy.gAFoldersDeleted : s.task.copy.gBFoldersDeleted);
        LogAction(phrases_.deletedFolder + " " + Quoted(folder.path));
    } else {
        ++(aToB ? s.task.copy.gAFoldersTrashed : s.task.copy.gBFoldersTrashed);
        LogAction(phrases_.trashedFolder + " " + Quoted(folder.path), true);
    }
    s.plan.gItemsDeleted.push_back(folder.path);
    lastWritableFolder_.reset();
    if (chainUsed) RemoveItemOKFromRestore(current_, folder.path);
    return true;
}

bool Executor::DeleteFile(const Place& item, bool aToB, bool exists, bool deleteParent,
                          std::string& err) {
    run::RunState& s = *state_;
    const bool versions = versions_.on();
    const bool trash = !versions && s.config.flags.gIsMoveToTrash;
    const bool aside = versions || trash;
    std::int64_t& deleted = aToB ? s.task.copy.gAFilesDeleted : s.task.copy.gBFilesDeleted;
    if (!exists) {
        ++deleted;
        LogAction(phrases_.deletedFile + " " + Quoted(item.path));
        return true;
    }
    bool chainUsed = false;
    bool ok = true;
    if (!tw_.IsIndeedDeletableAt(item.fd())) {
        chainUsed = true;
        if (!metadata_.UnlockChain(item.at(), Chain(aToB, false), kCheckDeletable,
                                   s.config.flags.gIsUnlockOn, current_)) {
            err += "\r" + phrases_.error + " " + GLS("Insufficient privileges");
            ok = false;
        }
    }
    if (ok && tw_.IsLocked(item.fd(), *item.name)) {
        if (!s.config.flags.gIsUnlockOn) {
            err += "\r" + phrases_.error + " The file is locked";
            ok = false;
        } else if (!metadata_.UnlockItem(item.at())) {
            err += "\r" + phrases_.error + " Can't unlock the file";
            ok = false;
        }
    }
    if (ok) {
        std::string why;
        if (!aside) {
            platform::UniqueFd held = platform::HoldItem(item.fd(), item.name->c_str());
            ok = sys().unlinkat(item.fd(), item.name->c_str(), 0) == 0;
            if (!ok) err += SystemError(phrases_.error, errno);
            if (ok) closer_.Close(std::move(held));
        } else if (!deleteParent) {
            ok = versions ? KeepVersion(*item.folder, *item.name, *item.name, !aToB, &why)
                          : MoveToTrash(*item.folder, *item.name, &why);
            if (!ok) err += "\r" + phrases_.error + " " + why;
        }
    }
    if (!ok) {
        Report(GLS(versions ? "Can't keep a version of the file"
                   : trash  ? "Can't trash the file"
                            : "Can't delete the file") +
               " " + Quoted(item.path) + err);
        return false;
    }
    if (aside && deleteParent) {
        // Its folder is set aside whole once its content is counted.
        ++(aToB ? s.task.copy.gAFilesTrashed : s.task.copy.gBFilesTrashed);
        LogAction(
            (versions ? phrases_.deletedFile : phrases_.trashedFile) + " " + Quoted(item.path),
            true);
    } else {
        ++deleted;
        LogAction((trash ? phrases_.trashedFile : phrases_.deletedFile) + " " + Quoted(item.path));
    }
    s.plan.gItemsDeleted.push_back(item.path);
    if (chainUsed) RemoveItemOKFromRestore(current_, item.path);
    return true;
}

}  // namespace qv::fileops
