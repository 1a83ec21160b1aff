#include "fileops/executor.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileops/trash.h"
#include "platform/file_copy.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/unique_fd.h"

namespace qv::fileops {

using platform::GLS;
using platform::ItemAttributes;
using run::PlanItem;

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

bool Mark(const std::string& path) {
    return ::lsetxattr(path.c_str(), kTemporaryXattr, "1", 1, 0) == 0;
}

void Unmark(const std::string& path) { ::lremovexattr(path.c_str(), kTemporaryXattr); }

// The names in a folder, without "." and ".."; nothing when it cannot be read.
std::optional<std::vector<std::string>> ListNames(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::string SystemError(const std::string& errorWord) {
    return "\r" + errorWord + " " + std::strerror(errno);
}

// Copies one item (file, link or folder with everything inside) to `to`, which must not exist.
// The items inside a folder get their metadata here; the top item (marked as a temporary) gets
// it from the caller.
bool CopyTree(const std::string& from, const std::string& to, const Metadata& metadata,
              std::int64_t backupDate, bool top, std::string* error) {
    const ItemAttributes attrs = platform::ReadItemAttributes(from.c_str());
    switch (attrs.type) {
        case platform::ItemType::SymbolicLink: {
            std::vector<char> target(4096);
            ssize_t n;
            while ((n = ::readlink(from.c_str(), target.data(), target.size())) ==
                   static_cast<ssize_t>(target.size())) {
                target.resize(target.size() * 2);
            }
            if (n < 0 || ::symlink(std::string(target.data(), static_cast<std::size_t>(n)).c_str(),
                                   to.c_str()) != 0) {
                *error = std::strerror(errno);
                return false;
            }
            if (!top) metadata.CopyAttributes(from, to, backupDate);
            return true;
        }
        case platform::ItemType::RegularFile: {
            platform::UniqueFd src(
                ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            if (src.get() < 0) {
                *error = std::strerror(errno);
                return false;
            }
            platform::UniqueFd dst(
                ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
            if (dst.get() < 0) {
                *error = std::strerror(errno);
                return false;
            }
            if (top) Mark(to);
            struct statx stx {};
            if (::statx(src.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
                *error = std::strerror(errno);
                return false;
            }
            if (!platform::CopyFileContent(src.get(), dst.get(), stx.stx_size, error)) {
                return false;
            }
            std::optional<OpenCopyAttrs> done;
            if (!top) {
                done = metadata.SetAttrsOnOpenCopy(src.get(), stx, dst.get(), from, to, backupDate);
            }
            if (dst.Close() != 0) {
                *error = std::strerror(errno);
                return false;
            }
            if (done) metadata.FinishOpenCopy(to, stx, *done);
            return true;
        }
        case platform::ItemType::Directory: {
            if (::mkdir(to.c_str(), 0700) != 0) {
                *error = std::strerror(errno);
                return false;
            }
            if (top) Mark(to);
            const auto names = ListNames(from);
            if (!names) {
                *error = std::strerror(errno);
                return false;
            }
            for (const auto& name : *names) {
                if (!CopyTree(platform::JoinPath(from, name), platform::JoinPath(to, name),
                              metadata, backupDate, false, error)) {
                    return false;
                }
            }
            if (!top) metadata.CopyAttributes(from, to, backupDate);
            return true;
        }
        default:
            *error = "not a file, a folder or a symbolic link";
            return false;
    }
}

}  // namespace

bool IsTemporaryName(const std::string& name) {
    const std::string base = kReplaceTempName;
    if (name.compare(0, base.size(), base) != 0) return false;
    if (name.size() == base.size()) return true;
    if (name.size() < base.size() + 2 || name[base.size()] != ' ') return false;
    return std::all_of(name.begin() + static_cast<long>(base.size()) + 1, name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool IsMarkedTemporary(const std::string& path, const std::string& name) {
    if (!IsTemporaryName(name)) return false;
    char value[4];
    return ::lgetxattr(path.c_str(), kTemporaryXattr, value, sizeof value) > 0;
}

bool RemoveItemRecursively(const std::string& path, const Metadata& metadata) {
    const ItemAttributes attrs = platform::ReadItemAttributes(path.c_str());
    if (!attrs.exists()) return true;
    if (attrs.isDirectory()) {
        for (const auto& name : ListNames(path).value_or(std::vector<std::string>{})) {
            RemoveItemRecursively(platform::JoinPath(path, name), metadata);
        }
        if (::rmdir(path.c_str()) == 0) return true;
    } else if (::unlink(path.c_str()) == 0) {
        return true;
    }
    // Locked or read-only: open it all up and try once more.
    metadata.UnlockWholeItem(path);
    if (attrs.isDirectory()) {
        for (const auto& name : ListNames(path).value_or(std::vector<std::string>{})) {
            RemoveItemRecursively(platform::JoinPath(path, name), metadata);
        }
        return ::rmdir(path.c_str()) == 0;
    }
    return ::unlink(path.c_str()) == 0;
}

Executor::Executor(ErrorPath& errors, const TWUtilities& tw)
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
                GLS("Error:")};
}

void Executor::Report(const std::string& message) {
    errors_.SetErrMsg({message});
    errors_.LogErrString();
    errors_.ManageTheError(message, 0);
    ++state_->gTotError;
}

void Executor::LogAction(const std::string& line, bool toTrashLog) {
    if (!state_->gMakeDetailedLog) return;
    (toTrashLog ? state_->gTrashDetailedLogText : state_->gDetailedLogText) += line + "\r";
}

bool Executor::WasDeleted(const std::string& path) const {
    const auto& deleted = state_->gItemsDeleted;
    return std::find(deleted.begin(), deleted.end(), path) != deleted.end();
}

const std::string& Executor::MainFolder(bool aToB, bool forWriting) const {
    // Writing goes to the side the action changes; deleting happens on the side acted on.
    const bool destSide = forWriting ? aToB : !aToB;
    return destSide ? state_->gDestFolder : state_->gSourceFolder;
}

void Executor::MainCopy(run::RunState& state, run::CopyHooks& hooks) {
    state_ = &state;
    state.gTotSessionsDone = 0;
    for (run::SessionLog& session : state.logSessionArray) {
        hooks.PurgeBeforeScanAndCopyOneSession(session.sessionIndex);
        state.gTotMultiDone = 0;
        for (run::TaskLog& task : session.logTaskArray) {
            hooks.PurgeBeforeCopyOneTask();
            if (state.IsRunning()) {
                for (std::size_t r = 0; r < state.taskRootList.size(); ++r) {
                    run::TaskRoot& root = state.taskRootList[r];
                    if (root.sessionIndex != session.sessionIndex ||
                        root.taskIndex != task.taskIndex) {
                        continue;
                    }
                    state.gSourceFolder = root.source;
                    state.gDestFolder = root.dest;
                    if (root.source.empty() || root.dest.empty()) continue;
                    for (const run::LeftoverTemporary& leftover : root.leftovers) {
                        const std::string path = platform::JoinPath(
                            leftover.inB ? root.dest : root.source, leftover.relativePath);
                        if (!RemoveItemRecursively(path, metadata_)) {
                            Report(GLS("Can't delete the item") + " " + Quoted(path));
                        }
                    }
                    RestoreTable rootTable;
                    current_ = &rootTable;
                    lastWritableParent_.clear();
                    CopyItems(root.subItems, root.source, root.dest, false);
                    // The top folders are not the user's to keep relaxed either.
                    metadata_.RestoreOriginalAttr(rootTable);
                    current_ = nullptr;
                    if (root.copyMode == run::kModeAttrBtoA) {
                        metadata_.SetAttrsAfterCopy(root.dest, root.source,
                                                    state.gStartSyncDateTimeUTC);
                    } else if (root.copyMode == run::kModeAttrAtoB) {
                        metadata_.SetAttrsAfterCopy(root.source, root.dest,
                                                    state.gStartSyncDateTimeUTC);
                    }
                    if (state.flags.gIsSyncOn && state.flags.gIsExactOn &&
                        r < state.exactIndexAdditionLists.size()) {
                        task.addToExactIndexArray = state.exactIndexAdditionLists[r];
                    }
                }
                if (state.IsRunning()) ++state.gTotMultiDone;
            }
            hooks.PurgeAfterCopyOneTask(task);
        }
        hooks.PurgeAfterCopyOneSession(session.sessionIndex);
    }
}

bool Executor::CopyItems(std::vector<PlanItem>& items, const std::string& parentSource,
                         const std::string& parentDest, bool deleteParent) {
    run::RunState& s = *state_;
    bool result = true;
    for (PlanItem& item : items) {
        if (!s.IsRunning()) break;
        const int m = item.copyMode;
        const bool hasSub = item.isFolder;
        bool descend = hasSub;
        if (m < 0) {
            const bool walkSkipped =
                hasSub && (m == -run::kModeDeleteInA || m == -run::kModeDeleteInB ||
                           ((m == -run::kModeCopyAtoB || m == -run::kModeCopyBtoA) &&
                            s.flags.gIsSyncOn && s.flags.gIsExactOn));
            if (!walkSkipped) continue;
        }
        const std::string source = item.source(parentSource);
        const std::string dest = item.dest(parentDest);
        std::optional<platform::Timestamp> srcDate, dstDate;
        if (hasSub) {
            const ItemAttributes a = platform::ReadItemAttributes(source.c_str());
            const ItemAttributes b = platform::ReadItemAttributes(dest.c_str());
            if (a.exists()) srcDate = a.mtime;
            if (b.exists()) dstDate = b.mtime;
        }
        if (m >= run::kModeCopyAtoB) {
            bool ok;
            if ((m == run::kModeDeleteInA || m == run::kModeDeleteInB) && hasSub) {
                ok = CopyItems(item.subItems, source, dest, true);
                if (ok) ok = CopySource(source, dest, m, deleteParent);
                descend = false;
                if (s.flags.gIsMoveToTrash && !deleteParent) {
                    if (ok) {
                        s.copy.gAFilesDeleted += s.copy.gAFilesTrashed;
                        s.copy.gBFilesDeleted += s.copy.gBFilesTrashed;
                        s.copy.gAFoldersDeleted += s.copy.gAFoldersTrashed;
                        s.copy.gBFoldersDeleted += s.copy.gBFoldersTrashed;
                        s.gDetailedLogText += s.gTrashDetailedLogText;
                    } else {
                        Report(GLS("Can't trash the folder (and its content)") + " " +
                               Quoted(m == run::kModeDeleteInA ? source : dest));
                    }
                    s.copy.gAFilesTrashed = s.copy.gBFilesTrashed = 0;
                    s.copy.gAFoldersTrashed = s.copy.gBFoldersTrashed = 0;
                    s.gTrashDetailedLogText.clear();
                }
            } else {
                s.progress.SetItem(m, source, dest);
                ok = CopySource(source, dest, m, deleteParent);
            }
            if (!ok) {
                result = false;
                if (s.flags.gIsMoveToTrash && deleteParent) return false;
                continue;
            }
            s.gAtLeastOneItemDone = true;
            --s.gItemsToDoTotal;
            s.progress.ItemDone();
        }
        if (!descend) continue;
        RestoreTable table;
        RestoreTable* outer = current_;
        current_ = &table;
        const bool deleting = m == run::kModeDeleteInA || m == run::kModeDeleteInB;
        if (!CopyItems(item.subItems, source, dest, deleting)) result = false;
        current_ = &table;
        metadata_.RestoreOriginalAttr(table);
        current_ = outer;
        if (m < 0) continue;
        const bool isSync = s.flags.gIsSyncOn;
        const std::int64_t start = s.gStartSyncDateTimeUTC;
        if (m == run::kModeCopyBtoA) {
            metadata_.CopyFolderAttributes(dest, source, dstDate, isSync, start);
        } else if (m == run::kModeCopyAtoB) {
            metadata_.CopyFolderAttributes(source, dest, srcDate, isSync, start);
        } else if (m == run::kModeDescend && srcDate && dstDate) {
            const double a = srcDate->seconds(), b = dstDate->seconds();
            if (!isSync) {
                if (!(a < b)) metadata_.CopyFolderAttributes(source, dest, srcDate, isSync, start);
            } else if (a < b) {
                metadata_.CopyFolderAttributes(dest, source, dstDate, isSync, start);
            } else {
                metadata_.CopyFolderAttributes(source, dest, srcDate, isSync, start);
            }
        }
    }
    return result;
}

bool Executor::CopySource(const std::string& source, const std::string& dest, int m,
                          bool deleteParent) {
    std::string err;
    const bool aToB = m == run::kModeCopyAtoB || m == run::kModeReplaceBwithA ||
                      m == run::kModeDeleteInA || m == run::kModeAttrAtoB;
    const std::string& from = aToB ? source : dest;
    const std::string& to = aToB ? dest : source;
    const ItemAttributes fromAttrs = platform::ReadItemAttributes(from.c_str());
    const bool isDelete = m == run::kModeDeleteInA || m == run::kModeDeleteInB;
    if (!fromAttrs.exists() && !isDelete) {
        if (WasDeleted(from)) return true;
        Report(GLS("Can't find the source item") + " " + Quoted(from));
        return false;
    }
    const std::string parent = platform::ParentFolder(to);
    const bool isSymLink = fromAttrs.isSymbolicLink();
    const bool isPackage = !isSymLink && tw_.IsFilePackage(from, fromAttrs);
    const bool isFolder = !isSymLink && fromAttrs.isDirectory() && !isPackage;
    const bool toExists = platform::ReadItemAttributes(to.c_str()).exists();
    switch (m) {
        case run::kModeCopyAtoB:
        case run::kModeCopyBtoA:
        case run::kModeReplaceBwithA:
        case run::kModeReplaceAwithB: {
            if (isFolder && (m == run::kModeCopyAtoB || m == run::kModeCopyBtoA)) {
                return CreateFolder(to, parent, aToB, toExists);
            }
            if (isFolder) return ReplaceDestFile(to, from, parent, aToB, false, false, err);
            bool bail = false;
            const bool parentOk = DestParentExists(parent, from, to, bail);
            if (bail) return parentOk;
            return toExists ? ReplaceDestFile(to, from, parent, aToB, isSymLink, isPackage, err)
                            : CopyFile(from, to, parent, aToB, isSymLink, isPackage, err);
        }
        case run::kModeDeleteInA:
        case run::kModeDeleteInB:
            if (isFolder) return DeleteFolder(from, aToB, deleteParent);
            return DeleteFile(from, aToB, fromAttrs.exists(), deleteParent, err);
        case run::kModeAttrAtoB:
        case run::kModeAttrBtoA:
            return CopySingleMetadataOnly(from, to);
        default:
            return true;
    }
}

bool Executor::DestParentExists(const std::string& parent, const std::string& from,
                                const std::string& to, bool& bail) {
    bail = false;
    if (parent == lastWritableParent_ || platform::IsExistingFolder(parent)) return true;
    bail = true;
    if (WasDeleted(parent)) return true;
    Report(GLS("Can't find the parent destination folder.") + " " + GLS("Can't copy the file") +
           ":\r" + Quoted(from) + " " + phrases_.to + "\r" + Quoted(to));
    return false;
}

bool Executor::CreateFolder(const std::string& folder, const std::string& parent, bool aToB,
                            bool destExists) {
    if (destExists) return false;
    if (!platform::IsExistingFolder(parent)) {
        if (WasDeleted(parent)) return true;
        Report(GLS("Can't find the parent destination folder.") + " " +
               GLS("Can't create the folder") + ":\r" + Quoted(folder));
        return false;
    }
    // Private while it fills; its final mode comes with its attributes once its content is done.
    bool chainUsed = false;
    if (::mkdir(folder.c_str(), 0700) != 0) {
        chainUsed = true;
        if (!metadata_.UnlockChain(folder, MainFolder(aToB, true), kCheckCreateFolder,
                                   state_->flags.gIsUnlockOn, current_)) {
            Report(GLS("Can't create the folder") + " " + Quoted(folder));
            return false;
        }
    }
    ++(aToB ? state_->copy.gBFoldersCreated : state_->copy.gAFoldersCreated);
    LogAction(phrases_.createdFolder + " " + Quoted(folder));
    ::chmod(folder.c_str(), 0700);
    if (chainUsed) RemoveItemOKFromRestore(current_, folder);
    return true;
}

bool Executor::DeleteFolder(const std::string& folder, bool aToB, bool deleteParent) {
    run::RunState& s = *state_;
    const bool trash = s.flags.gIsMoveToTrash;
    bool chainUsed = false;
    if (!tw_.IsIndeedDeletableFileAtPath(folder)) {
        chainUsed = true;
        if (!metadata_.UnlockChain(folder, MainFolder(aToB, false), kCheckDeletable,
                                   s.flags.gIsUnlockOn, current_)) {
            const std::string message =
                GLS(trash ? "Can't trash the folder" : "Can't delete the folder") + "\r" +
                Quoted(folder) + ". " + GLS("Insufficient privileges");
            errors_.SetErrMsg({message});
            errors_.LogErrString();
            s.gErrorTitleDialog = GLS("Insufficient Privileges") + ":";
            errors_.ManageTheError(message, 0);
            s.gErrorTitleDialog = GLS("Warning:");
            ++s.gTotError;
            return false;
        }
    }
    bool removed = true;
    std::string why;
    if (!trash) {
        // Its planned content is gone by now; anything still inside appeared after the scan
        // and is nobody's to delete, so a folder that is not empty stays.
        removed = ::rmdir(folder.c_str()) == 0;
        if (!removed && (errno == EPERM || errno == EACCES) && metadata_.UnlockItem(folder)) {
            removed = ::rmdir(folder.c_str()) == 0;
        }
    } else if (!deleteParent) {
        removed = MoveToTrash(folder, &why);
    }
    if (!removed) {
        Report(GLS(trash ? "Can't trash the folder" : "Can't delete the folder") + "\r" +
               Quoted(folder));
        return false;
    }
    if (!trash) {
        ++(aToB ? s.copy.gAFoldersDeleted : s.copy.gBFoldersDeleted);
        LogAction(phrases_.deletedFolder + " " + Quoted(folder));
    } else {
        ++(aToB ? s.copy.gAFoldersTrashed : s.copy.gBFoldersTrashed);
        LogAction(phrases_.trashedFolder + " " + Quoted(folder), true);
    }
    s.gItemsDeleted.push_back(folder);
    lastWritableParent_.clear();
    if (chainUsed) RemoveItemOKFromRestore(current_, folder);
    return true;
}

bool Executor::DeleteFile(const std::string& path, bool aToB, bool exists, bool deleteParent,
                          std::string& err) {
    run::RunState& s = *state_;
    const bool trash = s.flags.gIsMoveToTrash;
    std::int64_t& deleted = aToB ? s.copy.gAFilesDeleted : s.copy.gBFilesDeleted;
    if (!exists) {
        ++deleted;
        LogAction(phrases_.deletedFile + " " + Quoted(path));
        return true;
    }
    bool chainUsed = false;
    bool ok = true;
    if (!tw_.IsIndeedDeletableFileAtPath(path)) {
        chainUsed = true;
        if (!metadata_.UnlockChain(path, MainFolder(aToB, false), kCheckDeletable,
                                   s.flags.gIsUnlockOn, current_)) {
            err += "\r" + phrases_.error + " " + GLS("Insufficient privileges");
            ok = false;
        }
    }
    if (ok && tw_.IsLocked(path)) {
        if (!s.flags.gIsUnlockOn) {
            err += "\r" + phrases_.error + " The file is locked";
            ok = false;
        } else if (!metadata_.UnlockItem(path)) {
            err += "\r" + phrases_.error + " Can't unlock the file";
            ok = false;
        }
    }
    if (ok) {
        std::string why;
        if (!trash) {
            ok = ::unlink(path.c_str()) == 0;
        } else if (!deleteParent) {
            ok = MoveToTrash(path, &why);
        }
    }
    if (!ok) {
        Report(GLS(trash ? "Can't trash the file" : "Can't delete the file") + " " + Quoted(path) +
               err);
        return false;
    }
    if (trash && deleteParent) {
        ++(aToB ? s.copy.gAFilesTrashed : s.copy.gBFilesTrashed);
        LogAction(phrases_.trashedFile + " " + Quoted(path), true);
    } else {
        ++deleted;
        LogAction((trash ? phrases_.trashedFile : phrases_.deletedFile) + " " + Quoted(path));
    }
    s.gItemsDeleted.push_back(path);
    if (chainUsed) RemoveItemOKFromRestore(current_, path);
    return true;
}

std::optional<std::string> Executor::CopyToTemporary(const std::string& from,
                                                     const std::string& folder, std::string& err,
                                                     std::optional<OpenCopy>& open) {
    open.reset();
    OpenCopy copy;
    if (auto temp = CopyRegularToTemporary(from, folder, err, copy)) {
        open = copy;
        return temp;
    }
    if (!err.empty()) return std::nullopt;
    std::string temp = platform::JoinPath(folder, kReplaceTempName);
    if (!tw_.FindUniqueNameInFolder(temp)) {
        err = "\rCan't find an unique temporary destination file name";
        return std::nullopt;
    }
    state_->progress.SetWriting(temp);
    std::string why;
    if (!CopyTree(from, temp, metadata_, state_->gStartSyncDateTimeUTC, true, &why)) {
        err = "\r" + phrases_.error + " " + (why.empty() ? "Can't copy the file" : why);
        RemoveItemRecursively(temp, metadata_);
        return std::nullopt;
    }
    metadata_.CopyACLAttributes(from, temp);
    return temp;
}

std::optional<std::string> Executor::CopyRegularToTemporary(const std::string& from,
                                                            const std::string& folder,
                                                            std::string& err, OpenCopy& open) {
    auto failed = [&](const std::string& why) {
        err = "\r" + phrases_.error + " " + why;
        return std::nullopt;
    };
    // Only a regular file is opened here: opening a FIFO or a device can wake or move what
    // stands behind it. Anything else, or an item replaced in between, is the general copy's.
    struct statx before {};
    if (::statx(AT_FDCWD, from.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO, &before) !=
            0 ||
        !S_ISREG(before.stx_mode)) {
        return std::nullopt;
    }
    platform::UniqueFd src(
        ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (src.get() < 0) {
        if (errno == ELOOP) return std::nullopt;
        return failed(std::strerror(errno));
    }
    if (::statx(src.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &open.stx) != 0) {
        return failed(std::strerror(errno));
    }
    if (!S_ISREG(open.stx.stx_mode) || open.stx.stx_ino != before.stx_ino ||
        open.stx.stx_dev_major != before.stx_dev_major ||
        open.stx.stx_dev_minor != before.stx_dev_minor) {
        return std::nullopt;
    }
    // Most folders hold no temporary: the plain name is tried first, a numbered one on a clash.
    std::string temp = platform::JoinPath(folder, kReplaceTempName);
    constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    platform::UniqueFd dst(::open(temp.c_str(), kCreate, 0600));
    if (dst.get() < 0 && errno == EEXIST) {
        if (!tw_.FindUniqueNameInFolder(temp)) {
            err = "\rCan't find an unique temporary destination file name";
            return std::nullopt;
        }
        dst.reset(::open(temp.c_str(), kCreate, 0600));
    }
    if (dst.get() < 0) return failed(std::strerror(errno));
    ::fsetxattr(dst.get(), kTemporaryXattr, "1", 1, 0);
    state_->progress.SetWriting(temp);
    std::string why;
    const dev_t device = makedev(open.stx.stx_dev_major, open.stx.stx_dev_minor);
    platform::CopyHints hints{.tryClone = !(device == noCloneDevice_ && folder == noCloneFolder_),
                              .mayHaveHoles = open.stx.stx_blocks * 512 < open.stx.stx_size};
    const bool copied =
        platform::CopyFileContent(src.get(), dst.get(), open.stx.stx_size, &why, &hints);
    if (hints.cloneRefused) {
        noCloneDevice_ = device;
        noCloneFolder_ = folder;
    }
    if (!copied) {
        dst.Close();
        RemoveItemRecursively(temp, metadata_);
        return failed(why.empty() ? "Can't copy the file" : why);
    }
    open.attrs = metadata_.SetAttrsOnOpenCopy(src.get(), open.stx, dst.get(), from, temp,
                                              state_->gStartSyncDateTimeUTC);
    // Write errors of some file systems only show when the file is closed.
    if (dst.Close() != 0) {
        const std::string closeError = std::strerror(errno);
        RemoveItemRecursively(temp, metadata_);
        return failed(closeError);
    }
    return temp;
}

void Executor::SetAttrsInPlace(const std::string& from, const std::string& to,
                               const std::optional<OpenCopy>& open, bool isNew) {
    if (open) {
        metadata_.FinishOpenCopy(to, open->stx, open->attrs);
    } else {
        metadata_.SetAttrsAfterCopy(from, to, state_->gStartSyncDateTimeUTC, isNew);
    }
}

bool Executor::PutNew(const std::string& temp, const std::string& to, std::string& err) {
    // Never over something that appeared since the scan: that is reported, not replaced.
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0 &&
        !((errno == EINVAL || errno == ENOSYS) && !platform::ItemExists(to) &&
          ::rename(temp.c_str(), to.c_str()) == 0)) {
        err = SystemError(phrases_.error);
        RemoveItemRecursively(temp, metadata_);
        return false;
    }
    Unmark(to);
    return true;
}

bool Executor::PutInPlace(const std::string& temp, const std::string& to, std::string& err,
                          bool tempIsFile) {
    // A file over a file, the common case, needs no look first: rename refuses a folder.
    if (tempIsFile && ::rename(temp.c_str(), to.c_str()) == 0) {
        Unmark(to);
        return true;
    }
    const ItemAttributes old = platform::ReadItemAttributes(to.c_str());
    if (!old.exists()) return PutNew(temp, to, err);
    const ItemAttributes neu = platform::ReadItemAttributes(temp.c_str());
    if (!old.isDirectory() && !neu.isDirectory()) {
        // One step: the old file is replaced by the complete new one.
        if (::rename(temp.c_str(), to.c_str()) != 0) {
            err = "\rCan't rename the destination item just copied";
            RemoveItemRecursively(temp, metadata_);
            return false;
        }
        Unmark(to);
        return true;
    }
    // A folder is involved: swap the two in one step, then remove the old one, which now
    // stands marked under the temporary name.
    Mark(to);
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
        Unmark(to);
        RemoveItemRecursively(temp, metadata_);
        return true;
    }
    Unmark(to);
    if (!RemoveItemRecursively(to, metadata_)) {
        err = "\rCan't remove the old destination file";
        RemoveItemRecursively(temp, metadata_);
        return false;
    }
    if (::rename(temp.c_str(), to.c_str()) != 0) {
        err = "\rCan't rename the destination item just copied";
        return false;  // the copy stays under its temporary name
    }
    Unmark(to);
    return true;
}

bool Executor::CopyFile(const std::string& from, const std::string& to, const std::string& parent,
                        bool aToB, bool isSymLink, bool isPackage, std::string& err) {
    run::RunState& s = *state_;
    bool chainUsed = false;
    bool ok = true;
    // A locked folder takes no new item either, whatever its mode says.
    if (parent != lastWritableParent_ &&
        (!tw_.IsIndeedWritableFileAtPath(parent) || tw_.IsLocked(parent))) {
        chainUsed = true;
        ok = metadata_.UnlockChain(parent, MainFolder(aToB, true), kCheckWritable,
                                   s.flags.gIsUnlockOn, current_);
    }
    lastWritableParent_ = ok && !chainUsed ? parent : std::string();
    std::optional<std::string> temp;
    std::optional<OpenCopy> open;
    if (ok) {
        // Unnamed files linked into place would leave even less behind, but creating them
        // costs several times a named one on ext4: a marked temporary is used instead.
        temp = CopyToTemporary(from, parent, err, open);
        ok = temp && PutNew(*temp, to, err);
    }
    if (!ok) {
        const char* what = isSymLink   ? "Can't copy the Sym Link"
                           : isPackage ? "Can't copy the file package"
                                       : "Can't copy the file";
        Report(GLS(what) + "\r" + Quoted(from) + " " + phrases_.to + "\r" + Quoted(to) + err);
        return false;
    }
    SetAttrsInPlace(from, to, open, true);
    ++(aToB ? s.copy.gBFilesCopied : s.copy.gAFilesCopied);
    CountVisibility(from, aToB, !open || open->attrs.finderInfo);
    LogAction(phrases_.copiedFile + " " + Quoted(from) + " " + phrases_.to + "\r" + Quoted(to));
    // What the chain relaxed on the folder stays recorded: it is put back once the folder's
    // items are done.
    return true;
}

void Executor::CountVisibility(const std::string& from, bool aToB, bool mayHaveFinderInfo) {
    run::CopyCounters& c = state_->copy;
    if (IsInvisibleToCount(from, mayHaveFinderInfo)) {
        ++(aToB ? c.gBItemInvisible : c.gAItemInvisible);
    } else {
        ++(aToB ? c.gBItemVisible : c.gAItemVisible);
    }
}

bool Executor::IsInvisibleToCount(const std::string& path, bool mayHaveFinderInfo) {
    const std::string name = platform::LastPathComponent(path);
    if (!name.empty() && name[0] == '.') return true;
    unsigned char info[16];
    if (mayHaveFinderInfo &&
        ::lgetxattr(path.c_str(), kFinderInfoXattr, info, sizeof info) ==
            static_cast<ssize_t>(sizeof info) &&
        (((info[8] << 8) | info[9]) & kFinderFlagInvisible) != 0) {
        return true;
    }
    // The folder's ".hidden" list is read once for all its items.
    const std::string folder = platform::ParentFolder(path);
    if (folder != hiddenListFolder_) {
        hiddenListFolder_ = folder;
        hiddenList_.clear();
        const auto file = platform::ReadWholeFile(platform::JoinPath(folder, ".hidden"), 1 << 20);
        if (file.status == platform::ReadStatus::Ok) {
            std::size_t start = 0;
            while (start <= file.bytes.size()) {
                std::size_t end = file.bytes.find('\n', start);
                if (end == std::string::npos) end = file.bytes.size();
                std::string line = file.bytes.substr(start, end - start);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty()) hiddenList_.insert(line);
                start = end + 1;
            }
        }
    }
    return hiddenList_.count(name) != 0;
}

bool Executor::CheckFreeSpaceFor(const std::string& item, const std::string& folder,
                                 std::string& err) {
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) != 0) return true;  // unknown: let the copy tell
    const std::uint64_t freeBytes = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    const std::uint64_t needed = tw_.NewItemSize(item);
    if (freeBytes > needed) return true;
    err = "\r" + phrases_.error + "\rNot enough space on the destination disk.\r" +
          GLS("Free Memory:") + "        " + std::to_string(freeBytes) + " " + GLS("bytes") +
          ".\r" + GLS("Memory Required:") + " " + std::to_string(needed) + " " + GLS("bytes");
    return false;
}

bool Executor::ReplaceDestFile(const std::string& to, const std::string& from,
                               const std::string& parent, bool aToB, bool isSymLink, bool isPackage,
                               std::string& err) {
    run::RunState& s = *state_;
    bool chainUsed = false;
    bool ok = true;
    if (!tw_.IsIndeedDeletableFileAtPath(to) || tw_.IsLocked(to) || tw_.IsLocked(parent)) {
        chainUsed = true;
        if (!metadata_.UnlockChain(to, MainFolder(aToB, true), kCheckDeletable, s.flags.gIsUnlockOn,
                                   current_) ||
            (tw_.IsLocked(to) && !metadata_.UnlockItem(to))) {
            err = "\r" + phrases_.error + " " + GLS("Can't delete the old destination file.") +
                  " " + GLS("Insufficient privileges");
            ok = false;
        }
    }
    // The destination takes the source's spelling of the name.
    const std::string target = platform::JoinPath(parent, platform::LastPathComponent(from));
    if (ok) ok = CheckFreeSpaceFor(from, parent, err);
    std::optional<std::string> temp;
    std::optional<OpenCopy> open;
    if (ok) {
        temp = CopyToTemporary(from, parent, err, open);
        ok = temp.has_value();
        if (ok && target != to && platform::ItemExists(to)) {
            // Names that differ only in case: the old one goes when the new one is in place.
            ok = PutInPlace(*temp, to, err, false) &&
                 (::rename(to.c_str(), target.c_str()) == 0 || platform::ItemExists(target));
        } else if (ok) {
            ok = PutInPlace(*temp, target, err, open.has_value());
        }
    }
    if (!ok) {
        const char* what = isSymLink   ? "Can't replace the Sym Link"
                           : isPackage ? "Can't replace the file package"
                                       : "Can't replace the file";
        Report(GLS(what) + ":\r" + Quoted(to) + " " + GLS("with the most recent:") + "\r" +
               Quoted(from) + err);
        return false;
    }
    SetAttrsInPlace(from, target, open, false);
    ++(aToB ? s.copy.gBFilesReplaced : s.copy.gAFilesReplaced);
    CountVisibility(from, aToB, !open || open->attrs.finderInfo);
    LogAction(phrases_.replacedFile + " " + Quoted(to) + "\r" + phrases_.withTheMostRecentFile +
              " " + Quoted(from));
    if (chainUsed) RemoveItemOKFromRestore(current_, to);
    return true;
}

bool Executor::CopySingleMetadataOnly(const std::string& from, const std::string& to) {
    std::string target = to;
    const std::string fromName = platform::LastPathComponent(from);
    const std::string toName = platform::LastPathComponent(to);
    auto lower = [](std::string s) {
        for (char& c : s) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        }
        return s;
    };
    if (fromName != toName && lower(fromName) == lower(toName)) {
        const std::string folder = platform::ParentFolder(to);
        std::string temp = platform::JoinPath(folder, kRenameTempName);
        if (!tw_.FindUniqueNameInFolder(temp)) {
            Report("Can't rename the destination item\r" + Quoted(to) +
                   "\rbecause I can't find an unique new name on its parent folder " +
                   Quoted(temp));
        } else if (!metadata_.RenameItem(to, platform::LastPathComponent(temp))) {
            Report("Can't rename the destination item\r" + Quoted(to) + "\rto the new name " +
                   Quoted(temp));
        } else if (!metadata_.RenameItem(temp, fromName)) {
            Report("Can't rename the destination item\r" + Quoted(to) + "\rto the new name " +
                   Quoted(fromName));
            target = temp;
        } else {
            target = platform::JoinPath(folder, fromName);
        }
    }
    if (!metadata_.CopyAttributes(from, target, state_->gStartSyncDateTimeUTC)) {
        Report("Can't copy attributes from the item\r" + Quoted(from) + "\rto the item\r" +
               Quoted(target));
        return false;
    }
    return true;
}

}  // namespace qv::fileops
