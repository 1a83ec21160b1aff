// The walk over the plan: each item to its operation, in the plan's order, with the look
// before each action that the item is still the one the scan saw.
#include "fileops/executor.h"

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

#include "fileops/executor_internal.h"
#include "fileops/trash.h"
#include "platform/file_copy.h"
#include "platform/file_io.h"
#include "platform/folder_digest.h"
#include "platform/localization.h"
#include "platform/unique_fd.h"
#include "platform/volumes.h"
#include "run/log_name.h"

namespace qv::fileops {

// The operations share their helpers and names.
using namespace executor_internal;

bool RemoveItemRecursively(const std::string& path, const Metadata& metadata) {
    const ItemByPath item(path);
    if (!item.folder.valid()) return item.error == ENOENT;
    return RemoveItemAt(item.fd(), item.name, metadata);
}

bool RemoveItemAt(int dirFd, const std::string& name, const Metadata& metadata) {
    const platform::StatResult st = StatAt(dirFd, name);
    if (st.error == ENOENT) return true;
    if (!st.ok()) return false;
    const bool isFolder = st.attributes.isDirectory();
    const auto removeContent = [&] {
        platform::UniqueFd folder(
            sys().openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0));
        if (!folder.valid()) return;
        std::vector<platform::FolderEntry> entries;
        sys().readfolder(folder.get(), entries);
        for (const auto& entry : entries) RemoveItemAt(folder.get(), entry.name, metadata);
    };
    const int flags = isFolder ? AT_REMOVEDIR : 0;
    if (isFolder) removeContent();
    if (sys().unlinkat(dirFd, name.c_str(), flags) == 0) return true;
    // Locked or read-only: open it all up and try once more.
    metadata.UnlockWholeItem(dirFd, name);
    if (isFolder) removeContent();
    return sys().unlinkat(dirFd, name.c_str(), flags) == 0;
}

Executor::Place::Place(const Side& side, const std::string& itemName, const std::string* wholePath)
    : folder(&side.folder), name(&itemName), error(side.error) {
    if (wholePath == nullptr) {
        path = platform::JoinPath(side.path, itemName);
        folderPath = side.path;
        return;
    }
    // A resolved alias or link: its target's folder, opened as the user's own choice of path;
    // the target itself is never followed.
    path = *wholePath;
    folderPath = platform::ParentFolder(path);
    ownName_ = platform::LastPathComponent(path);
    ownFolder_ = FolderHandle::OpenTop(folderPath, &error);
    folder = &ownFolder_;
    name = &ownName_;
}

Executor::Executor(items::ErrorPath& errors, const items::TWUtilities& tw)
    : errors_(errors), tw_(tw), metadata_(tw) {
    phrases_ = {GLS("Created folder"),
                GLS("Trashed folder"),
                GLS("Deleted folder"),
                GLS("Copied file"),
                GLS("to:"),
                GLS("Replaced file:"),
                GLS("with the most recent file:"),
                GLS("Deleted file"),
                GLS("Trashed file"),
                GLS("Error:"),
                GLS("Version kept of")};
}

void Executor::Report(const std::string& message, const std::string& title) {
    run::RunState& s = *state_;
    // A copy ended by Stop is no failure: its temporary went, the old item stays.
    if (message.find(platform::kCopyStopped) != std::string::npos) return;
    errors_.SetErrMsg({message});
    errors_.LogAndCountError();
    if (!title.empty()) s.gErrorTitleDialog = title;
    errors_.ManageTheError(message, 0);
    if (!title.empty()) s.gErrorTitleDialog = GLS("Warning:");
}

void Executor::LogAction(const std::string& line, bool toTrashLog) {
    if (!state_->config.gMakeDetailedLog) return;
    (toTrashLog ? state_->task.gTrashDetailedLogText : state_->task.gDetailedLogText) +=
        line + "\r";
}

bool Executor::WasDeleted(const std::string& path) const {
    const auto& deleted = state_->plan.gItemsDeleted;
    return std::find(deleted.begin(), deleted.end(), path) != deleted.end();
}

const FolderChain& Executor::Chain(bool aToB, bool forWriting) const {
    // Writing goes to the side the action changes; deleting happens on the side acted on.
    const bool destSide = forWriting ? aToB : !aToB;
    return destSide ? destChain_ : sourceChain_;
}

bool Executor::Unreachable(const Place& item, const std::string& action) {
    // A folder this run deleted took its planned items with it.
    if (item.error == ENOENT && WasDeleted(item.folderPath)) return true;
    if (item.error == ENOENT) {
        Report(GLS("Can't find the parent destination folder.") + " " + action + ":\r" +
               Quoted(item.path));
    } else {
        Report(action + ":\r" + Quoted(item.path) + "\rbecause its folder " +
               Quoted(item.folderPath) + " can't be reached: " + std::strerror(item.error));
    }
    return false;
}

void Executor::MainCopy(run::RunState& state, run::CopyHooks& hooks) {
    state_ = &state;
    state.session.gTotSessionsDone = 0;
    for (run::SessionLog& session : state.logSessionArray) {
        hooks.PurgeBeforeScanAndCopyOneSession(session.sessionIndex);
        state.session.gTotMultiDone = 0;
        for (run::TaskLog& task : session.logTaskArray) {
            hooks.PurgeBeforeCopyOneTask();
            // A task whose folders failed their checks is reported among the errors, never
            // among the tasks done.
            bool done = task.scanned;
            if (state.IsRunning()) {
                for (std::size_t r = 0; r < state.plan.taskRootList.size(); ++r) {
                    const run::TaskRoot& root = state.plan.taskRootList[r];
                    if (root.sessionIndex == session.sessionIndex &&
                        root.taskIndex == task.taskIndex && !CopyTaskRoot(r, task)) {
                        done = false;
                    }
                }
                if (state.IsRunning() && done) ++state.session.gTotMultiDone;
            }
            hooks.PurgeAfterCopyOneTask(task);
        }
        hooks.PurgeAfterCopyOneSession(session.sessionIndex);
    }
}

bool Executor::OpenTops(const run::TaskRoot& root, Side& a, Side& b) {
    // The two top folders are opened once; everything below is reached from them.
    a.path = root.source;
    a.folder = FolderHandle::OpenTaskTop(root.source, &a.error);
    b.path = root.dest;
    b.folder = FolderHandle::OpenTaskTop(root.dest, &b.error);
    // A top folder the scan did not read (swapped since, for a link or another folder) is not
    // acted on: its plan would land elsewhere.
    const auto isNot = [](const Side& side, std::uint64_t dev, std::uint64_t ino) {
        return side.folder.valid() && dev != 0 &&
               (side.folder.dev() != dev || side.folder.ino() != ino);
    };
    if (isNot(a, root.sourceDev, root.sourceIno)) a = {{}, root.source, ESTALE};
    if (isNot(b, root.destDev, root.destIno)) b = {{}, root.dest, ESTALE};
    if (a.folder.valid() && b.folder.valid()) return true;
    const Side& failed = a.folder.valid() ? b : a;
    Report(GLS(&failed == &a ? "Cannot find the source folder:"
                             : "Cannot find the destination folder:") +
           "\r" + Quoted(failed.path) + "\r" +
           (failed.error == ESTALE ? GLS("It is no longer the folder the scan read.")
                                   : std::string(std::strerror(failed.error))));
    return false;
}

bool Executor::CopyTaskRoot(std::size_t r, run::TaskLog& task) {
    run::RunState& state = *state_;
    run::TaskRoot& root = state.plan.taskRootList[r];
    state.task.gSourceFolder = root.source;
    state.task.gDestFolder = root.dest;
    if (root.source.empty() || root.dest.empty()) return true;
    Side a, b;
    if (!OpenTops(root, a, b)) {
        // Nothing of it was brought into step: its index and dates stay.
        task.walked = false;
        return false;
    }
    RemoveLeftovers(root, a, b);
    versions_.Begin(state.config.flags.versions,
                    static_cast<std::time_t>(state.totals.gStartSyncDateTimeUTC), a.folder, a.path,
                    b.folder, b.path);
    CopyAhead ahead(metadata_, state.totals.gStartSyncDateTimeUTC, a.folder, b.folder,
                    root.subItems);
    ahead_ = &ahead;
    currentRoot_ = r;
    sourceChain_ = {a.folder};
    destChain_ = {b.folder};
    RestoreTable rootTable;
    current_ = &rootTable;
    lastWritableFolder_.reset();
    CopyItems(root.subItems, a, b, false);
    ahead_ = nullptr;
    // The top folders are not the user's to keep relaxed either.
    metadata_.RestoreOriginalAttr(rootTable);
    current_ = nullptr;
    sourceChain_.clear();
    destChain_.clear();
    std::vector<std::string> pruneErrors;
    versions_.Prune(std::time(nullptr), &pruneErrors);
    for (const std::string& error : pruneErrors) Report(error);
    if (root.copyMode == run::kModeAttrBtoA || root.copyMode == run::kModeAttrAtoB) {
        const ItemByPath source(root.source), dest(root.dest);
        const bool toB = root.copyMode == run::kModeAttrAtoB;
        if (!metadata_.SetAttrsAfterCopy(toB ? source.at() : dest.at(),
                                         toB ? dest.at() : source.at(),
                                         state.totals.gStartSyncDateTimeUTC)) {
            Report("Can't copy attributes from the item\r" + Quoted(toB ? root.source : root.dest) +
                   "\rto the item\r" + Quoted(toB ? root.dest : root.source));
        }
    }
    if (state.config.flags.gIsSyncOn && state.config.flags.gIsExactOn &&
        r < state.plan.exactIndexAdditionLists.size()) {
        task.addToExactIndexArray = state.plan.exactIndexAdditionLists[r];
    }
    if (r < state.plan.failedItemLists.size()) task.failedItemArray = state.plan.failedItemLists[r];
    if (r < state.plan.doneItemLists.size()) {
        task.doneItemArray = std::move(state.plan.doneItemLists[r]);
    }
    return true;
}

void Executor::RemoveLeftovers(const run::TaskRoot& root, const Side& a, const Side& b) {
    // What an interrupted run left is nobody's content: it goes without a line in the log of
    // actions, and only a failure to remove it is told.
    for (const run::LeftoverTemporary& leftover : root.leftovers) {
        const Side& side = leftover.inB ? b : a;
        const std::string& relative = leftover.relativePath;
        const std::size_t slash = relative.rfind('/');
        const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
        const std::string path = platform::JoinPath(side.path, relative);
        int error = 0;
        const FolderHandle folder = slash == std::string::npos
                                        ? side.folder
                                        : side.folder.OpenBelow(relative.substr(0, slash), &error);
        if (!folder.valid()) {
            if (error == ENOENT) continue;  // gone with its folder
            Report(GLS("Can't delete the item") + " " + Quoted(path) + ": " + std::strerror(error));
            continue;
        }
        // Only what still carries the mark: an item of that name without it is the user's.
        if (!items::IsMarkedTemporary(folder.fd(), name)) continue;
        if (!RemoveItemAt(folder.fd(), name, metadata_)) {
            Report(GLS("Can't delete the item") + " " + Quoted(path) + ": " + std::strerror(errno));
        }
    }
}

Executor::Side Executor::Child(const Place& place) const {
    Side child;
    child.path = place.path;
    if (!place.reachable()) {
        child.error = place.error;
        return child;
    }
    child.folder = place.folder->OpenChild(*place.name, &child.error);
    return child;
}

bool Executor::CopyItems(std::vector<PlanItem>& items, const Side& a, const Side& b,
                         bool deleteParent) {
    run::RunState& s = *state_;
    bool result = true;
    for (PlanItem& item : items) {
        if (!s.IsRunning()) break;
        const int m = item.copyMode;
        if (m < 0 && !WalkedThoughSkipped(item)) continue;
        const Place source(a, item.name, item.sourcePath.get());
        const Place dest(b, item.nameInB(), item.destPath.get());
        FolderDates dates;
        if (item.isFolder) dates = DatesOf(source, dest);
        const bool deleting = m == run::kModeDeleteInA || m == run::kModeDeleteInB;
        if (m >= run::kModeCopyAtoB) {
            const bool ok = deleting && item.isFolder
                                ? DeleteFolderWithContent(item, source, dest, deleteParent)
                                : ActOn(item, source, dest, deleteParent);
            NoteActedOn(source, dest, ok);
            if (!ok) {
                result = false;
                if ((s.config.flags.gIsMoveToTrash || versions_.on()) && deleteParent) {
                    return false;
                }
                continue;
            }
        }
        // A folder deleted with its content was walked already.
        if (!item.isFolder || (m >= run::kModeCopyAtoB && deleting)) continue;
        if (!WalkIntoFolder(item, source, dest, dates)) result = false;
    }
    return result;
}

bool Executor::WalkedThoughSkipped(const PlanItem& item) const {
    // A folder skipped in the preview is still walked when what is inside it may be planned
    // apart: its deletions, and an Exact Synchronize's copies.
    const int m = item.copyMode;
    const run::SessionFlags& flags = state_->config.flags;
    return item.isFolder && (m == -run::kModeDeleteInA || m == -run::kModeDeleteInB ||
                             ((m == -run::kModeCopyAtoB || m == -run::kModeCopyBtoA) &&
                              flags.gIsSyncOn && flags.gIsExactOn));
}

Executor::FolderDates Executor::DatesOf(const Place& source, const Place& dest) {
    FolderDates dates;
    if (source.reachable()) {
        const platform::StatResult st = StatAt(source.fd(), *source.name);
        if (st.ok()) dates.source = st.attributes.mtime;
    }
    if (dest.reachable()) {
        const platform::StatResult st = StatAt(dest.fd(), *dest.name);
        if (st.ok()) dates.dest = st.attributes.mtime;
    }
    return dates;
}

bool Executor::DeleteFolderWithContent(PlanItem& item, const Place& source, const Place& dest,
                                       bool deleteParent) {
    run::RunState& s = *state_;
    const int m = item.copyMode;
    const Side childA = Child(source), childB = Child(dest);
    sourceChain_.push_back(childA.folder);
    destChain_.push_back(childB.folder);
    bool ok = CopyItems(item.subItems, childA, childB, true);
    sourceChain_.pop_back();
    destChain_.pop_back();
    if (ok) ok = CopySource(source, dest, m, deleteParent, item.SeenActedOn(m));
    if (!ok) KeepDeletionInIndex(item, source, dest);
    if ((!s.config.flags.gIsMoveToTrash && !versions_.on()) || deleteParent) return ok;
    run::CopyCounters& c = s.task.copy;
    if (ok) {
        c.gAFilesDeleted += c.gAFilesTrashed;
        c.gBFilesDeleted += c.gBFilesTrashed;
        c.gAFoldersDeleted += c.gAFoldersTrashed;
        c.gBFoldersDeleted += c.gBFoldersTrashed;
        s.task.gDetailedLogText += s.task.gTrashDetailedLogText;
    } else {
        Report(GLS(versions_.on() ? "Can't keep a version of the folder (and its content)"
                                  : "Can't trash the folder (and its content)") +
               " " + Quoted(m == run::kModeDeleteInA ? source.path : dest.path));
    }
    c.gAFilesTrashed = c.gBFilesTrashed = 0;
    c.gAFoldersTrashed = c.gBFoldersTrashed = 0;
    s.task.gTrashDetailedLogText.clear();
    return ok;
}

bool Executor::ActOn(PlanItem& item, const Place& source, const Place& dest, bool deleteParent) {
    const int m = item.copyMode;
    state_->progress.SetItem(m, source.path, dest.path);
    if (ahead_ != nullptr && !item.isFolder && !item.sourcePath && !item.destPath &&
        m <= run::kModeReplaceAwithB) {
        ahead_->Reach(&item);
        aheadItem_ = &item;
    }
    const bool ok = CopySource(source, dest, m, deleteParent, item.SeenActedOn(m));
    aheadItem_ = nullptr;
    if (!ok && (m == run::kModeDeleteInA || m == run::kModeDeleteInB)) {
        KeepDeletionInIndex(item, source, dest);
    }
    return ok;
}

void Executor::NoteActedOn(const Place& source, const Place& dest, bool ok) {
    run::RunState& s = *state_;
    auto& lists = ok ? s.plan.doneItemLists : s.plan.failedItemLists;
    if (lists.size() <= currentRoot_) lists.resize(currentRoot_ + 1);
    lists[currentRoot_].push_back(source.path);
    lists[currentRoot_].push_back(dest.path);
    if (!ok) return;
    s.totals.gAtLeastOneItemDone = true;
    --s.totals.gItemsToDoTotal;
    s.progress.ItemDone();
}

bool Executor::WalkIntoFolder(PlanItem& item, const Place& source, const Place& dest,
                              const FolderDates& dates) {
    const int m = item.copyMode;
    RestoreTable table;
    RestoreTable* outer = current_;
    current_ = &table;
    // The folders are opened now: one just created is there to open.
    const Side childA = Child(source), childB = Child(dest);
    sourceChain_.push_back(childA.folder);
    destChain_.push_back(childB.folder);
    const bool result = CopyItems(item.subItems, childA, childB,
                                  m == run::kModeDeleteInA || m == run::kModeDeleteInB);
    sourceChain_.pop_back();
    destChain_.pop_back();
    current_ = &table;
    metadata_.RestoreOriginalAttr(table);
    current_ = outer;
    if (m >= 0 && source.reachable() && dest.reachable()) {
        GiveFolderAttributes(item, source, dest, childA, childB, dates);
    }
    return result;
}

void Executor::GiveFolderAttributes(const PlanItem& item, const Place& source, const Place& dest,
                                    const Side& childA, const Side& childB,
                                    const FolderDates& dates) {
    run::RunState& s = *state_;
    const int m = item.copyMode;
    const bool isSync = s.config.flags.gIsSyncOn;
    const std::int64_t start = s.totals.gStartSyncDateTimeUTC;
    // The folders just filled are given their attributes through the handles they were
    // filled through, each call on the handle itself; by name when one could not be opened.
    const ItemAt src =
        childA.folder.valid() ? ItemAt(childA.folder, kSelf, source.path) : source.at();
    const ItemAt dst = childB.folder.valid() ? ItemAt(childB.folder, kSelf, dest.path) : dest.at();
    const FolderHandle *inA = source.folder, *inB = dest.folder;
    const auto copy = [&](bool intoB, const std::optional<platform::Timestamp>& date) {
        // With "Don't unlock locked items" a locked folder keeps its lock, and with it the
        // attributes it has.
        const ItemAt& target = intoB ? dst : src;
        if (!s.config.flags.gIsUnlockOn && tw_.IsLocked(target.fd(), target.name)) return;
        metadata_.CopyFolderAttributes(intoB ? src : dst, intoB ? dst : src, date, isSync, start,
                                       intoB ? inA : inB, intoB ? inB : inA);
    };
    const auto unmark = [&](const ItemAt& filled) {
        sys().removexattrat(filled.fd(), filled.name.c_str(), items::kFillingXattr);
    };
    if (item.fillingSide >= 0) {
        // A folder an interrupted copy left half-made takes the other side's attributes,
        // whatever the dates say.
        const bool intoB = item.fillingSide == 1;
        copy(intoB, intoB ? dates.source : dates.dest);
        unmark(intoB ? dst : src);
        return;
    }
    if (m == run::kModeCopyBtoA) {
        copy(false, dates.dest);
        unmark(src);
    } else if (m == run::kModeCopyAtoB) {
        copy(true, dates.source);
        unmark(dst);
    } else if (m == run::kModeDescend && dates.source && dates.dest) {
        const double x = dates.source->seconds(), y = dates.dest->seconds();
        if (!isSync) {
            if (!(x < y)) copy(true, dates.source);
        } else {
            copy(!(x < y), x < y ? dates.dest : dates.source);
        }
    }
}

bool Executor::ChangedSinceScan(const run::SeenItem& seen, const Place& item, bool deleting) {
    if (seen.ino == 0 || !item.reachable()) return false;
    const platform::StatResult now = StatAt(item.fd(), *item.name);
    if (now.error == ENOENT && deleting) return false;  // already gone: nothing to lose
    if (now.ok() && IsAsSeen(now.attributes, seen) && !TreeChanged(seen, item.fd(), *item.name)) {
        return false;
    }
    Report(GLS(deleting ? "Can't delete the item" : "Can't replace the item") + " " +
           Quoted(item.path) + "\r" + GLS("It changed since the scan: the next run will decide."));
    return true;
}

void Executor::KeepDeletionInIndex(const PlanItem& item, const Place& source, const Place& dest) {
    // A deletion taken from the ExactSync index that did not happen: the other side's path stays
    // in the index, so that the next run proposes it again instead of copying the item back.
    if (item.ifSkipAddToExactIndex < 0 ||
        currentRoot_ >= state_->plan.exactIndexAdditionLists.size()) {
        return;
    }
    const std::string& gone = item.copyMode == run::kModeDeleteInA ? dest.path : source.path;
    state_->plan.exactIndexAdditionLists[currentRoot_].push_back(gone);
}

bool Executor::CopySource(const Place& source, const Place& dest, int m, bool deleteParent,
                          const run::SeenItem& seen) {
    std::string err;
    const bool aToB = m == run::kModeCopyAtoB || m == run::kModeReplaceBwithA ||
                      m == run::kModeDeleteInA || m == run::kModeAttrAtoB;
    const Place& from = aToB ? source : dest;
    const Place& to = aToB ? dest : source;
    const bool isDelete = m == run::kModeDeleteInA || m == run::kModeDeleteInB;
    if (!from.reachable()) {
        if (isDelete) {
            return Unreachable(from,
                               GLS(state_->config.flags.gIsMoveToTrash ? "Can't trash the file"
                                                                       : "Can't delete the file"));
        }
        if (WasDeleted(from.path) || (from.error == ENOENT && WasDeleted(from.folderPath))) {
            return true;
        }
        Report(GLS("Can't find the source item") + " " + Quoted(from.path));
        return false;
    }
    const platform::StatResult fromStat = StatAt(from.fd(), *from.name);
    const ItemAttributes& fromAttrs = fromStat.attributes;
    if (!fromAttrs.exists() && !isDelete) {
        if (WasDeleted(from.path)) return true;
        Report(GLS("Can't find the source item") + " " + Quoted(from.path));
        return false;
    }
    if (isDelete && ChangedSinceScan(seen, from, true)) return false;
    const bool isSymLink = fromAttrs.isSymbolicLink();
    const bool isPackage = !isSymLink && tw_.IsFilePackage(from.fd(), *from.name, fromAttrs);
    const bool isFolder = !isSymLink && fromAttrs.isDirectory() && !isPackage;
    switch (m) {
        case run::kModeCopyAtoB:
        case run::kModeCopyBtoA:
        case run::kModeReplaceBwithA:
        case run::kModeReplaceAwithB: {
            const bool create = m == run::kModeCopyAtoB || m == run::kModeCopyBtoA;
            if (!to.reachable()) {
                return Unreachable(to, GLS(isFolder && create ? "Can't create the folder"
                                                              : "Can't copy the file"));
            }
            const bool toExists = StatAt(to.fd(), *to.name).error != ENOENT;
            if (!create && ChangedSinceScan(seen, to, false)) return false;
            if (create && toExists && !isFolder) {
                // Something took the name since the scan found it free: it is nobody's to lose.
                Report(GLS("Can't copy the file") + " " + Quoted(from.path) + "\r" +
                       GLS("It changed since the scan: the next run will decide."));
                return false;
            }
            if (isFolder && create) return CreateFolder(to, aToB, toExists);
            if (isFolder) {
                return ReplaceDestFile(to, from, fromAttrs, aToB, false, false, seen, err);
            }
            return toExists
                       ? ReplaceDestFile(to, from, fromAttrs, aToB, isSymLink, isPackage, seen, err)
                       : CopyFile(from, fromAttrs, to, aToB, isSymLink, isPackage, err);
        }
        case run::kModeDeleteInA:
        case run::kModeDeleteInB:
            if (isFolder) return DeleteFolder(from, aToB, deleteParent);
            return DeleteFile(from, aToB, fromAttrs.exists(), deleteParent, err);
        case run::kModeAttrAtoB:
        case run::kModeAttrBtoA:
            if (!to.reachable()) return Unreachable(to, "Can't copy attributes to the item");
            return CopySingleMetadataOnly(from, to);
        default:
            return true;
    }
}

}  // namespace qv::fileops
