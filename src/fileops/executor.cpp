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

#include "fileops/trash.h"
#include "platform/file_copy.h"
#include "platform/file_io.h"
#include "platform/folder_digest.h"
#include "platform/localization.h"
#include "platform/unique_fd.h"
#include "platform/volumes.h"
#include "run/log_name.h"

namespace qv::fileops {

using platform::FolderHandle;
using platform::GLS;
using platform::ItemAttributes;
using platform::StatAt;
using platform::sys;
using run::PlanItem;

namespace {

// An open folder, named as itself.
const std::string kSelf = ".";

// Whether an item still is the one the scan saw: the same type and inode and, but for a folder
// (whose date moves as its content is copied or deleted), the same size and modification time.
bool IsAsSeen(const ItemAttributes& a, const run::SeenItem& seen) {
    if (!a.exists() || static_cast<std::uint8_t>(a.type) != seen.type || a.ino != seen.ino) {
        return false;
    }
    return a.isDirectory() ||
           (a.size == seen.size && a.mtime.sec == seen.mtimeSec && a.mtime.nsec == seen.mtimeNsec);
}

constexpr int kMaxTemporaryNames = 10000;
const std::string kNoName;

using run::Quoted;

std::string SystemError(const std::string& errorWord, int error) {
    return "\r" + errorWord + " " + std::strerror(error);
}

std::pair<dev_t, ino_t> Identity(const FolderHandle& folder) {
    return {folder.dev(), folder.ino()};
}

// The n-th name a temporary may take: "QVTempFile", then "QVTempFile 1", "QVTempFile 2"...
std::string TemporaryName(const char* base, int n) {
    return n == 0 ? std::string(base) : std::string(base) + " " + std::to_string(n);
}

// Creates something under the first temporary name of folder that is free and is not `avoid`:
// create(name) makes it exclusively, failing with EEXIST when the name is taken. The name used,
// or nothing with errno set.
template <typename Create>
std::optional<std::string> CreateUnderTemporaryName(const std::string& avoid, Create create,
                                                    const char* base = kReplaceTempName) {
    for (int n = 0; n <= kMaxTemporaryNames; ++n) {
        std::string name = TemporaryName(base, n);
        if (name == avoid) continue;
        if (create(name)) return name;
        if (errno != EEXIST) return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

bool MarkOpen(int fd) { return sys().fsetxattr(fd, kTemporaryXattr, "1", 1, 0) == 0; }

bool Mark(int dirFd, const std::string& name) {
    return sys().setxattrat(dirFd, name.c_str(), kTemporaryXattr, "1", 1, 0) == 0;
}

void Unmark(int dirFd, const std::string& name) {
    sys().removexattrat(dirFd, name.c_str(), kTemporaryXattr);
}

std::optional<std::string> ReadLinkAt(int dirFd, const std::string& name) {
    std::vector<char> target(4096);
    for (;;) {
        const ssize_t n = sys().readlinkat(dirFd, name.c_str(), target.data(), target.size());
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) < target.size()) {
            return std::string(target.data(), static_cast<std::size_t>(n));
        }
        target.resize(target.size() * 2);
    }
}

// Copies what lies inside the folder fromFd into the empty folder toFd, each item with its
// metadata (paths for messages only).
bool CopyFolderContent(const FolderHandle& from, const FolderHandle& to, const Metadata& metadata,
                       std::int64_t backupDate, std::string* error);

// Copies the item name of `from` to the same name in `to`, where nothing stands, with its
// metadata.
bool CopyEntry(const FolderHandle& from, const FolderHandle& to, const std::string& name,
               const Metadata& metadata, std::int64_t backupDate, std::string* error) {
    const std::string fromPath = from.PathOf(name), toPath = to.PathOf(name);
    const platform::StatResult st = StatAt(from.fd(), name);
    if (!st.ok()) {
        *error = std::strerror(st.error);
        return false;
    }
    switch (st.attributes.type) {
        case platform::ItemType::SymbolicLink: {
            const auto target = ReadLinkAt(from.fd(), name);
            if (!target || sys().symlinkat(target->c_str(), to.fd(), name.c_str()) != 0) {
                *error = std::strerror(errno);
                return false;
            }
            break;
        }
        case platform::ItemType::RegularFile: {
            platform::UniqueFd src(sys().openat(from.fd(), name.c_str(),
                                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
            if (!src.valid()) {
                *error = std::strerror(errno);
                return false;
            }
            platform::UniqueFd dst(sys().openat(to.fd(), name.c_str(),
                                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
            if (!dst.valid()) {
                *error = std::strerror(errno);
                return false;
            }
            struct statx stx {};
            if (sys().statx(src.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) !=
                0) {
                *error = std::strerror(errno);
                return false;
            }
            if (!platform::CopyFileContent(src.get(), dst.get(), stx.stx_size, error)) return false;
            const OpenCopyAttrs attrs = metadata.SetAttrsOnOpenCopy(src.get(), stx, dst.get(),
                                                                    fromPath, toPath, backupDate);
            const bool finished = metadata.FinishOpenCopy(src.get(), dst.get(), stx, attrs, toPath);
            if (dst.Close() != 0) {
                *error = std::strerror(errno);
                return false;
            }
            if (attrs.failed || !finished) {
                *error = "Can't set the attributes of " + Quoted(toPath);
                return false;
            }
            return true;
        }
        case platform::ItemType::Directory: {
            if (sys().mkdirat(to.fd(), name.c_str(), 0700) != 0) {
                *error = std::strerror(errno);
                return false;
            }
            int openError = 0;
            const FolderHandle fromChild = from.OpenChild(name, &openError);
            const FolderHandle toChild =
                fromChild.valid() ? to.OpenChild(name, &openError) : FolderHandle();
            if (!toChild.valid()) {
                *error = std::strerror(openError);
                return false;
            }
            if (!CopyFolderContent(fromChild, toChild, metadata, backupDate, error)) return false;
            break;
        }
        default:
            *error = "not a file, a folder or a symbolic link";
            return false;
    }
    if (!metadata.CopyAttributes(ItemAt(from, name, fromPath), ItemAt(to, name, toPath),
                                 backupDate)) {
        *error = "Can't set the attributes of " + Quoted(toPath);
        return false;
    }
    return true;
}

bool CopyFolderContent(const FolderHandle& from, const FolderHandle& to, const Metadata& metadata,
                       std::int64_t backupDate, std::string* error) {
    std::vector<platform::FolderEntry> entries;
    // A folder that cannot be read to its end is not copied as if that were all of it.
    if (const int err = sys().readfolder(from.fd(), entries); err != 0) {
        *error = std::strerror(err);
        return false;
    }
    for (const auto& entry : entries) {
        if (!CopyEntry(from, to, entry.name, metadata, backupDate, error)) return false;
    }
    return true;
}

}  // namespace

namespace {

// base, or base, a blank and a number.
bool IsNumberedName(const std::string& name, std::string_view base) {
    if (name.compare(0, base.size(), base) != 0) return false;
    if (name.size() == base.size()) return true;
    if (name.size() < base.size() + 2 || name[base.size()] != ' ') return false;
    return std::all_of(name.begin() + static_cast<long>(base.size()) + 1, name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsTemporaryName(const std::string& name) {
    return IsNumberedName(name, kReplaceTempName) || IsNumberedName(name, kLinkTempName);
}

bool IsMarkedTemporary(const std::string& path, const std::string& name) {
    if (!IsTemporaryName(name)) return false;
    const ItemByPath item(path);
    return item.folder.valid() && IsMarkedTemporary(item.fd(), item.name);
}

bool IsMarkedTemporary(int dirFd, const std::string& name) {
    if (!IsTemporaryName(name)) return false;
    if (IsNumberedName(name, kLinkTempName)) return StatAt(dirFd, name).attributes.isSymbolicLink();
    char value[4];
    return sys().getxattrat(dirFd, name.c_str(), kTemporaryXattr, value, sizeof value) > 0;
}

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
    if (!state_->gMakeDetailedLog) return;
    (toTrashLog ? state_->gTrashDetailedLogText : state_->gDetailedLogText) += line + "\r";
}

bool Executor::WasDeleted(const std::string& path) const {
    const auto& deleted = state_->gItemsDeleted;
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
    state.gTotSessionsDone = 0;
    for (run::SessionLog& session : state.logSessionArray) {
        hooks.PurgeBeforeScanAndCopyOneSession(session.sessionIndex);
        state.gTotMultiDone = 0;
        for (run::TaskLog& task : session.logTaskArray) {
            hooks.PurgeBeforeCopyOneTask();
            // A task whose folders failed their checks is reported among the errors, never
            // among the tasks done.
            bool done = task.scanned;
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
                    // The two top folders are opened once; everything below is reached from
                    // them.
                    Side a{.folder = {}, .path = root.source, .error = 0};
                    Side b{.folder = {}, .path = root.dest, .error = 0};
                    a.folder = FolderHandle::OpenTaskTop(root.source, &a.error);
                    b.folder = FolderHandle::OpenTaskTop(root.dest, &b.error);
                    // A top folder the scan did not read (swapped since, for a link or another
                    // folder) is not acted on: its plan would land elsewhere.
                    const auto isNot = [](const Side& side, std::uint64_t dev, std::uint64_t ino) {
                        return side.folder.valid() && dev != 0 &&
                               (side.folder.dev() != dev || side.folder.ino() != ino);
                    };
                    if (isNot(a, root.sourceDev, root.sourceIno)) a = {{}, root.source, ESTALE};
                    if (isNot(b, root.destDev, root.destIno)) b = {{}, root.dest, ESTALE};
                    if (!a.folder.valid() || !b.folder.valid()) {
                        // Nothing of it was brought into step: its index and dates stay.
                        task.walked = false;
                        done = false;
                        const Side& failed = a.folder.valid() ? b : a;
                        Report(GLS(&failed == &a ? "Cannot find the source folder:"
                                                 : "Cannot find the destination folder:") +
                               "\r" + Quoted(failed.path) + "\r" +
                               (failed.error == ESTALE
                                    ? GLS("It is no longer the folder the scan read.")
                                    : std::string(std::strerror(failed.error))));
                        continue;
                    }
                    RemoveLeftovers(root, a, b);
                    CopyAhead ahead(metadata_, state.gStartSyncDateTimeUTC, a.folder, b.folder,
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
                    if (root.copyMode == run::kModeAttrBtoA ||
                        root.copyMode == run::kModeAttrAtoB) {
                        const ItemByPath source(root.source), dest(root.dest);
                        const bool toB = root.copyMode == run::kModeAttrAtoB;
                        if (!metadata_.SetAttrsAfterCopy(toB ? source.at() : dest.at(),
                                                         toB ? dest.at() : source.at(),
                                                         state.gStartSyncDateTimeUTC)) {
                            Report("Can't copy attributes from the item\r" +
                                   Quoted(toB ? root.source : root.dest) + "\rto the item\r" +
                                   Quoted(toB ? root.dest : root.source));
                        }
                    }
                    if (state.flags.gIsSyncOn && state.flags.gIsExactOn &&
                        r < state.exactIndexAdditionLists.size()) {
                        task.addToExactIndexArray = state.exactIndexAdditionLists[r];
                    }
                    if (r < state.failedItemLists.size()) {
                        task.failedItemArray = state.failedItemLists[r];
                    }
                    if (r < state.doneItemLists.size()) {
                        task.doneItemArray = std::move(state.doneItemLists[r]);
                    }
                }
                if (state.IsRunning() && done) ++state.gTotMultiDone;
            }
            hooks.PurgeAfterCopyOneTask(task);
        }
        hooks.PurgeAfterCopyOneSession(session.sessionIndex);
    }
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
        if (!IsMarkedTemporary(folder.fd(), name)) continue;
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
        const bool hasSub = item.isFolder;
        bool descend = hasSub;
        if (m < 0) {
            const bool walkSkipped =
                hasSub && (m == -run::kModeDeleteInA || m == -run::kModeDeleteInB ||
                           ((m == -run::kModeCopyAtoB || m == -run::kModeCopyBtoA) &&
                            s.flags.gIsSyncOn && s.flags.gIsExactOn));
            if (!walkSkipped) continue;
        }
        const Place source(a, item.name, item.sourcePath.get());
        const Place dest(b, item.nameInB(), item.destPath.get());
        std::optional<platform::Timestamp> srcDate, dstDate;
        if (hasSub) {
            if (source.reachable()) {
                const platform::StatResult st = StatAt(source.fd(), *source.name);
                if (st.ok()) srcDate = st.attributes.mtime;
            }
            if (dest.reachable()) {
                const platform::StatResult st = StatAt(dest.fd(), *dest.name);
                if (st.ok()) dstDate = st.attributes.mtime;
            }
        }
        const bool deleting = m == run::kModeDeleteInA || m == run::kModeDeleteInB;
        if (m >= run::kModeCopyAtoB) {
            bool ok;
            if (deleting && hasSub) {
                const Side childA = Child(source), childB = Child(dest);
                sourceChain_.push_back(childA.folder);
                destChain_.push_back(childB.folder);
                ok = CopyItems(item.subItems, childA, childB, true);
                sourceChain_.pop_back();
                destChain_.pop_back();
                if (ok) ok = CopySource(source, dest, m, deleteParent, item.SeenActedOn(m));
                if (!ok) KeepDeletionInIndex(item, source, dest);
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
                               Quoted(m == run::kModeDeleteInA ? source.path : dest.path));
                    }
                    s.copy.gAFilesTrashed = s.copy.gBFilesTrashed = 0;
                    s.copy.gAFoldersTrashed = s.copy.gBFoldersTrashed = 0;
                    s.gTrashDetailedLogText.clear();
                }
            } else {
                s.progress.SetItem(m, source.path, dest.path);
                if (ahead_ != nullptr && !hasSub && !item.sourcePath && !item.destPath &&
                    m <= run::kModeReplaceAwithB) {
                    ahead_->Reach(&item);
                    aheadItem_ = &item;
                }
                ok = CopySource(source, dest, m, deleteParent, item.SeenActedOn(m));
                aheadItem_ = nullptr;
                if (!ok && deleting) KeepDeletionInIndex(item, source, dest);
            }
            if (!ok) {
                result = false;
                if (s.failedItemLists.size() <= currentRoot_) {
                    s.failedItemLists.resize(currentRoot_ + 1);
                }
                s.failedItemLists[currentRoot_].push_back(source.path);
                s.failedItemLists[currentRoot_].push_back(dest.path);
                if (s.flags.gIsMoveToTrash && deleteParent) return false;
                continue;
            }
            s.gAtLeastOneItemDone = true;
            if (s.doneItemLists.size() <= currentRoot_) s.doneItemLists.resize(currentRoot_ + 1);
            s.doneItemLists[currentRoot_].push_back(source.path);
            s.doneItemLists[currentRoot_].push_back(dest.path);
            --s.gItemsToDoTotal;
            s.progress.ItemDone();
        }
        if (!descend) continue;
        RestoreTable table;
        RestoreTable* outer = current_;
        current_ = &table;
        // The folders are opened now: one just created is there to open.
        const Side childA = Child(source), childB = Child(dest);
        sourceChain_.push_back(childA.folder);
        destChain_.push_back(childB.folder);
        if (!CopyItems(item.subItems, childA, childB, deleting)) result = false;
        sourceChain_.pop_back();
        destChain_.pop_back();
        current_ = &table;
        metadata_.RestoreOriginalAttr(table);
        current_ = outer;
        if (m < 0 || !source.reachable() || !dest.reachable()) continue;
        const bool isSync = s.flags.gIsSyncOn;
        const std::int64_t start = s.gStartSyncDateTimeUTC;
        // The folders just filled are given their attributes through the handles they were
        // filled through, each call on the handle itself; by name when one could not be opened.
        const ItemAt src =
            childA.folder.valid() ? ItemAt(childA.folder, kSelf, source.path) : source.at();
        const ItemAt dst =
            childB.folder.valid() ? ItemAt(childB.folder, kSelf, dest.path) : dest.at();
        const FolderHandle *inA = source.folder, *inB = dest.folder;
        const auto copy = [&](bool intoB, const std::optional<platform::Timestamp>& date) {
            // With "Don't unlock locked items" a locked folder keeps its lock, and with it the
            // attributes it has.
            const ItemAt& target = intoB ? dst : src;
            if (!s.flags.gIsUnlockOn && tw_.IsLocked(target.fd(), target.name)) return;
            metadata_.CopyFolderAttributes(intoB ? src : dst, intoB ? dst : src, date, isSync,
                                           start, intoB ? inA : inB, intoB ? inB : inA);
        };
        const auto unmark = [&](const ItemAt& filled) {
            sys().removexattrat(filled.fd(), filled.name.c_str(), kFillingXattr);
        };
        if (item.fillingSide >= 0) {
            // A folder an interrupted copy left half-made takes the other side's attributes,
            // whatever the dates say.
            const bool intoB = item.fillingSide == 1;
            copy(intoB, intoB ? srcDate : dstDate);
            unmark(intoB ? dst : src);
            continue;
        }
        if (m == run::kModeCopyBtoA) {
            copy(false, dstDate);
            unmark(src);
        } else if (m == run::kModeCopyAtoB) {
            copy(true, srcDate);
            unmark(dst);
        } else if (m == run::kModeDescend && srcDate && dstDate) {
            const double x = srcDate->seconds(), y = dstDate->seconds();
            if (!isSync) {
                if (!(x < y)) copy(true, srcDate);
            } else {
                copy(!(x < y), x < y ? dstDate : srcDate);
            }
        }
    }
    return result;
}

namespace {

// A folder to be replaced whole that no longer holds what the scan saw in it.
bool TreeChanged(const run::SeenItem& seen, int dirFd, const std::string& name) {
    if (seen.tree == 0) return false;
    const int fd =
        sys().openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return true;
    const std::uint64_t now = platform::FolderTreeDigest(fd);
    sys().close(fd);
    return now != seen.tree;
}

}  // namespace

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
    if (item.ifSkipAddToExactIndex < 0 || currentRoot_ >= state_->exactIndexAdditionLists.size()) {
        return;
    }
    const std::string& gone = item.copyMode == run::kModeDeleteInA ? dest.path : source.path;
    state_->exactIndexAdditionLists[currentRoot_].push_back(gone);
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
            return Unreachable(from, GLS(state_->flags.gIsMoveToTrash ? "Can't trash the file"
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

bool Executor::CreateFolder(const Place& folder, bool aToB, bool destExists) {
    if (destExists) {
        // Something took the name since the scan found it free: it is nobody's to lose, and the
        // folder's copy waits for the next run.
        Report(GLS("Can't create the folder") + " " + Quoted(folder.path) + "\r" +
               GLS("It changed since the scan: the next run will decide."));
        return false;
    }
    // Private while it fills; its final mode comes with its attributes once its content is done.
    bool chainUsed = false;
    if (sys().mkdirat(folder.fd(), folder.name->c_str(), kFillingMode) != 0) {
        chainUsed = true;
        if (!metadata_.UnlockChain(folder.at(), Chain(aToB, true), kCheckCreateFolder,
                                   state_->flags.gIsUnlockOn, current_)) {
            Report(GLS("Can't create the folder") + " " + Quoted(folder.path));
            return false;
        }
        // The chain created it open to all.
        sys().chmodat(folder.fd(), folder.name->c_str(), kFillingMode);
    }
    // Until its attributes are set, a later run must not take the private mode and the date of
    // an interrupted copy for the folder's own.
    sys().setxattrat(folder.fd(), folder.name->c_str(), kFillingXattr, "1", 1, 0);
    ++(aToB ? state_->copy.gBFoldersCreated : state_->copy.gAFoldersCreated);
    LogAction(phrases_.createdFolder + " " + Quoted(folder.path));
    if (chainUsed) RemoveItemOKFromRestore(current_, folder.path);
    return true;
}

bool Executor::DeleteFolder(const Place& folder, bool aToB, bool deleteParent) {
    run::RunState& s = *state_;
    const bool trash = s.flags.gIsMoveToTrash;
    bool chainUsed = false;
    if (!tw_.IsIndeedDeletableAt(folder.fd())) {
        chainUsed = true;
        if (!metadata_.UnlockChain(folder.at(), Chain(aToB, false), kCheckDeletable,
                                   s.flags.gIsUnlockOn, current_)) {
            Report(GLS(trash ? "Can't trash the folder" : "Can't delete the folder") + "\r" +
                       Quoted(folder.path) + ". " + GLS("Insufficient privileges"),
                   GLS("Insufficient Privileges") + ":");
            return false;
        }
    }
    bool removed = true;
    std::string why;
    if (!trash) {
        // Its planned content is gone by now; anything still inside appeared after the scan
        // and is nobody's to delete, so a folder that is not empty stays.
        removed = sys().unlinkat(folder.fd(), folder.name->c_str(), AT_REMOVEDIR) == 0;
        if (!removed && (errno == EPERM || errno == EACCES) && s.flags.gIsUnlockOn &&
            metadata_.UnlockItem(folder.at())) {
            removed = sys().unlinkat(folder.fd(), folder.name->c_str(), AT_REMOVEDIR) == 0;
        }
    } else if (!deleteParent) {
        removed = MoveToTrash(*folder.folder, *folder.name, &why);
    }
    if (!removed) {
        Report(GLS(trash ? "Can't trash the folder" : "Can't delete the folder") + "\r" +
               Quoted(folder.path));
        return false;
    }
    if (!trash) {
        ++(aToB ? s.copy.gAFoldersDeleted : s.copy.gBFoldersDeleted);
        LogAction(phrases_.deletedFolder + " " + Quoted(folder.path));
    } else {
        ++(aToB ? s.copy.gAFoldersTrashed : s.copy.gBFoldersTrashed);
        LogAction(phrases_.trashedFolder + " " + Quoted(folder.path), true);
    }
    s.gItemsDeleted.push_back(folder.path);
    lastWritableFolder_.reset();
    if (chainUsed) RemoveItemOKFromRestore(current_, folder.path);
    return true;
}

bool Executor::DeleteFile(const Place& item, bool aToB, bool exists, bool deleteParent,
                          std::string& err) {
    run::RunState& s = *state_;
    const bool trash = s.flags.gIsMoveToTrash;
    std::int64_t& deleted = aToB ? s.copy.gAFilesDeleted : s.copy.gBFilesDeleted;
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
                                   s.flags.gIsUnlockOn, current_)) {
            err += "\r" + phrases_.error + " " + GLS("Insufficient privileges");
            ok = false;
        }
    }
    if (ok && tw_.IsLocked(item.fd(), *item.name)) {
        if (!s.flags.gIsUnlockOn) {
            err += "\r" + phrases_.error + " The file is locked";
            ok = false;
        } else if (!metadata_.UnlockItem(item.at())) {
            err += "\r" + phrases_.error + " Can't unlock the file";
            ok = false;
        }
    }
    if (ok) {
        std::string why;
        if (!trash) {
            platform::UniqueFd held = platform::HoldItem(item.fd(), item.name->c_str());
            ok = sys().unlinkat(item.fd(), item.name->c_str(), 0) == 0;
            if (!ok) err += SystemError(phrases_.error, errno);
            if (ok) closer_.Close(std::move(held));
        } else if (!deleteParent) {
            ok = MoveToTrash(*item.folder, *item.name, &why);
            if (!ok) err += "\r" + phrases_.error + " " + why;
        }
    }
    if (!ok) {
        Report(GLS(trash ? "Can't trash the file" : "Can't delete the file") + " " +
               Quoted(item.path) + err);
        return false;
    }
    if (trash && deleteParent) {
        ++(aToB ? s.copy.gAFilesTrashed : s.copy.gBFilesTrashed);
        LogAction(phrases_.trashedFile + " " + Quoted(item.path), true);
    } else {
        ++deleted;
        LogAction((trash ? phrases_.trashedFile : phrases_.deletedFile) + " " + Quoted(item.path));
    }
    s.gItemsDeleted.push_back(item.path);
    if (chainUsed) RemoveItemOKFromRestore(current_, item.path);
    return true;
}

bool Executor::CopyToTemporary(const Place& from, const ItemAttributes& fromAttrs,
                               const FolderHandle& folder, const std::string& avoid,
                               std::string& err, Temporary& temp) {
    if (CopyRegularToTemporary(from, fromAttrs, folder, avoid, err, temp)) return true;
    if (!err.empty()) return false;
    // Not a regular file, or no longer the one CopySource found: looked at afresh.
    const platform::StatResult st = StatAt(from.fd(), *from.name);
    if (!st.ok()) {
        err = SystemError(phrases_.error, st.error);
        return false;
    }
    const std::int64_t backupDate = state_->gStartSyncDateTimeUTC;
    std::string why;
    std::optional<std::string> name;
    if (st.attributes.isSymbolicLink()) {
        // A link cannot carry the mark: its name alone tells it for ours, and a later run
        // clears it away should this one end before it is in place.
        const auto target = ReadLinkAt(from.fd(), *from.name);
        if (target) {
            name = CreateUnderTemporaryName(
                avoid,
                [&](const std::string& candidate) {
                    return sys().symlinkat(target->c_str(), folder.fd(), candidate.c_str()) == 0;
                },
                kLinkTempName);
        }
        if (!name) why = std::strerror(errno);
        temp.isLink = true;
    } else if (st.attributes.isDirectory()) {
        // A folder cannot be made unnamed: it is marked at once, and an interruption between
        // its creation and its mark leaves it unmarked.
        name = CreateUnderTemporaryName(avoid, [&](const std::string& candidate) {
            return sys().mkdirat(folder.fd(), candidate.c_str(), 0700) == 0;
        });
        if (!name) {
            why = std::strerror(errno);
        } else {
            int openError = 0;
            const FolderHandle copy = folder.OpenChild(*name, &openError);
            const FolderHandle original = from.folder->OpenChild(*from.name, &openError);
            if (copy.valid()) MarkOpen(copy.fd());
            if (!copy.valid() || !original.valid()) {
                why = std::strerror(openError);
            } else {
                state_->progress.SetWriting(folder.PathOf(*name));
                CopyFolderContent(original, copy, metadata_, backupDate, &why);
            }
        }
    } else {
        why = "not a file, a folder or a symbolic link";
    }
    if (name) {
        temp.name = *name;
        temp.path = folder.PathOf(*name);
    }
    if (!why.empty()) {
        err = "\r" + phrases_.error + " " + why;
        if (name) DiscardTemporary(folder, temp);
        return false;
    }
    metadata_.CopyACLAttributes(from.at(), ItemAt(folder, temp.name, temp.path));
    return true;
}

bool Executor::CopyRegularToTemporary(const Place& from, const ItemAttributes& before,
                                      const FolderHandle& folder, const std::string& avoid,
                                      std::string& err, Temporary& temp) {
    auto failed = [&](const std::string& why) {
        err = "\r" + phrases_.error + " " + why;
        return false;
    };
    // Only a regular file is opened here: opening a FIFO or a device can wake or move what
    // stands behind it. Anything else, or an item replaced in between, is the general copy's.
    if (before.type != platform::ItemType::RegularFile) return false;
    temp.src.reset(sys().openat(from.fd(), from.name->c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
    if (!temp.src.valid()) {
        if (errno == ELOOP) return false;
        return failed(std::strerror(errno));
    }
    struct statx& stx = temp.stx;
    if (sys().statx(temp.src.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) !=
        0) {
        return failed(std::strerror(errno));
    }
    if (!S_ISREG(stx.stx_mode) || stx.stx_ino != before.ino ||
        makedev(stx.stx_dev_major, stx.stx_dev_minor) != before.dev) {
        temp.src.Close();
        return false;
    }
    temp.isFile = true;
    if (aheadItem_ != nullptr) {
        if (auto made = ahead_->Take(aheadItem_, *from.folder, folder, stx)) {
            // Made ahead, of this very file as it stands now: it only needs its name.
            temp.dst = std::move(made->dst);
            temp.attrs = std::move(made->attrs);
            state_->progress.SetWriting(folder.PathOf(kReplaceTempName), stx.stx_size);
            state_->progress.bytesDoneCounter() += stx.stx_size;
            std::string why;
            if (NameTemporaryFile(folder, avoid, temp, why)) return true;
            DiscardTemporary(folder, temp);
            return failed(why.empty() ? "Can't name the copy" : why);
        }
    }
    // The copy is made without a name and gets one only once it is complete and marked, so
    // that no interruption can leave an unmarked temporary behind.
    if (noTmpFileDevice_ != folder.dev()) {
        temp.dst.reset(sys().openat(folder.fd(), ".", O_TMPFILE | O_WRONLY, 0600));
        if (!temp.dst.valid() && (errno == EOPNOTSUPP || errno == EISDIR)) {
            noTmpFileDevice_ = folder.dev();
        } else if (!temp.dst.valid()) {
            return failed(std::strerror(errno));
        }
    }
    if (!temp.dst.valid()) {
        // This file system has no unnamed files: the copy is created under its name and marked
        // at once, and an interruption between the two leaves an empty temporary unmarked.
        const auto name = CreateUnderTemporaryName(avoid, [&](const std::string& candidate) {
            temp.dst.reset(sys().openat(folder.fd(), candidate.c_str(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
            return temp.dst.valid();
        });
        if (!name) return failed(std::strerror(errno));
        temp.name = *name;
        temp.path = folder.PathOf(*name);
    }
    MarkOpen(temp.dst.get());
    state_->progress.SetWriting(temp.path.empty() ? folder.PathOf(kReplaceTempName) : temp.path,
                                stx.stx_size);
    std::string why;
    const dev_t device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    platform::CopyHints hints{
        .tryClone = !(device == noCloneDevice_ && noCloneFolder_ == Identity(folder)),
        .mayHaveHoles = stx.stx_blocks * 512 < stx.stx_size,
        .bytesCopied = &state_->progress.bytesDoneCounter(),
        .stop = &state_->mUserPressedStop};
    const bool copied =
        platform::CopyFileContent(temp.src.get(), temp.dst.get(), stx.stx_size, &why, &hints);
    if (hints.cloneRefused) {
        noCloneDevice_ = device;
        noCloneFolder_ = Identity(folder);
    }
    struct statx after {};
    if (copied && (sys().statx(temp.src.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS, &after) != 0 ||
                   !IsSameFileState(stx, after))) {
        // Written to while it was read: the copy may hold parts of two versions.
        why = GLS("It changed since the scan: the next run will decide.");
    } else if (copied) {
        temp.attrs =
            metadata_.SetAttrsOnOpenCopy(temp.src.get(), stx, temp.dst.get(), from.path,
                                         folder.PathOf(*from.name), state_->gStartSyncDateTimeUTC);
        // Write errors of some file systems only show when a descriptor of the file is
        // closed; the copy's own stays open for what is given once it is in place.
        platform::UniqueFd check(sys().dup(temp.dst.get()));
        if (!check.valid() || check.Close() != 0) {
            why = std::strerror(errno);
        }
    }
    if (why.empty() && temp.name.empty() && !NameTemporaryFile(folder, avoid, temp, why)) {
        if (why.empty()) why = "Can't name the copy";
    }
    if (!why.empty()) {
        DiscardTemporary(folder, temp);
        return failed(why);
    }
    return true;
}

bool Executor::NameTemporaryFile(const FolderHandle& folder, const std::string& avoid,
                                 Temporary& temp, std::string& err) {
    // The link through /proc names the unnamed file: it needs no privilege beyond writing to
    // the folder, and the name appears with the mark already on the file.
    const std::string proc = platform::ProcPath(temp.dst.get());
    const auto name = CreateUnderTemporaryName(avoid, [&](const std::string& candidate) {
        return sys().linkat(AT_FDCWD, proc.c_str(), folder.fd(), candidate.c_str(),
                            AT_SYMLINK_FOLLOW) == 0;
    });
    if (!name) {
        err = std::strerror(errno);
        return false;
    }
    temp.name = *name;
    temp.path = folder.PathOf(*name);
    return true;
}

void Executor::DiscardTemporary(const FolderHandle& folder, Temporary& temp) {
    if (!temp.name.empty()) RemoveItemAt(folder.fd(), temp.name, metadata_);
    temp.dst.Close();
    temp.src.Close();
    temp.name.clear();
}

bool Executor::PutNew(const FolderHandle& folder, Temporary& temp, const std::string& to,
                      std::string& err) {
    // Never over something that appeared since the scan: that is reported, not replaced.
    if (sys().renameat2(folder.fd(), temp.name.c_str(), folder.fd(), to.c_str(),
                        RENAME_NOREPLACE) != 0) {
        const int error = errno;
        bool moved = false;
        if ((error == EINVAL || error == ENOSYS) && StatAt(folder.fd(), to).error == ENOENT) {
            // A file system without the no-replace rename.
            moved =
                sys().renameat2(folder.fd(), temp.name.c_str(), folder.fd(), to.c_str(), 0) == 0;
        }
        if (!moved) {
            err = SystemError(phrases_.error, error);
            DiscardTemporary(folder, temp);
            return false;
        }
    }
    temp.name = to;
    return true;
}

bool Executor::PutInPlace(const FolderHandle& folder, Temporary& temp, const std::string& to,
                          std::string& err, const run::SeenItem* seen) {
    const int dirFd = folder.fd();
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
            if (const std::optional<bool> swapped = SwapInPlace(folder, temp, to, *seen, err)) {
                return *swapped;
            }
        }
        platform::UniqueFd old = platform::HoldItem(dirFd, to.c_str());
        if (renameOver()) {
            closer_.Close(std::move(old));
            return true;
        }
        if (errno != EISDIR) {
            err = SystemError("Can't rename the destination item just copied:", errno);
            DiscardTemporary(folder, temp);
            return false;
        }
    }
    const platform::StatResult old = StatAt(dirFd, to);
    if (old.error == ENOENT) return PutNew(folder, temp, to, err);
    const bool newIsFolder = !temp.isFile && !temp.isLink;
    if (!old.attributes.isDirectory() && !newIsFolder) {
        // One step: the old item is replaced by the complete new one.
        if (renameOver()) return true;
        err = SystemError("Can't rename the destination item just copied:", errno);
        DiscardTemporary(folder, temp);
        return false;
    }
    // A folder is involved: swap the two in one step, then remove the old one, which now
    // stands marked under the temporary name.
    const bool oldMarked = Mark(dirFd, to);
    if (sys().renameat2(dirFd, temp.name.c_str(), dirFd, to.c_str(), RENAME_EXCHANGE) == 0) {
        const std::string oldName = temp.name;
        temp.name = to;
        if (!RemoveItemAt(dirFd, oldName, metadata_)) {
            err = "\rCan't remove the old destination item, left as " +
                  Quoted(folder.PathOf(oldName));
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
    // A file system without the exchange: the old item goes first, then the copy takes its
    // place, a moment in which neither stands there.
    if (!RemoveItemAt(dirFd, to, metadata_)) {
        err = "\rCan't remove the old destination file";
        DiscardTemporary(folder, temp);
        return false;
    }
    if (!renameOver()) {
        err = "\rCan't rename the destination item just copied";
        return false;  // the copy stays under its temporary name
    }
    return true;
}

std::optional<bool> Executor::SwapInPlace(const FolderHandle& folder, Temporary& temp,
                                          const std::string& to, const run::SeenItem& seen,
                                          std::string& err) {
    // The copy and the item it replaces change places in one step, and the item replaced goes
    // only once it is seen as the scan saw it: an edit that reached it after the last look is
    // put back in place, never lost. Marked first, it is a temporary like any other should the
    // run end in between.
    const int dirFd = folder.fd();
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

bool Executor::FinishTemporary(const Place& from, const FolderHandle& folder, const std::string& to,
                               Temporary& temp, bool isNew) {
    const std::string toPath = folder.PathOf(to);
    bool ok = true;
    if (temp.isFile) {
        sys().fremovexattr(temp.dst.get(), kTemporaryXattr);
        ok = metadata_.FinishOpenCopy(temp.src.get(), temp.dst.get(), temp.stx, temp.attrs,
                                      toPath) &&
             !temp.attrs.failed;
        temp.dst.Close();
        temp.src.Close();
    } else {
        if (!temp.isLink) Unmark(folder.fd(), to);
        ok = metadata_.SetAttrsAfterCopy(from.at(), ItemAt(folder, to, toPath),
                                         state_->gStartSyncDateTimeUTC, isNew);
    }
    if (!ok) {
        Report(GLS("Can't copy the file") + "\r" + Quoted(from.path) + " " + phrases_.to + "\r" +
               Quoted(toPath) + "\r" + phrases_.error +
               " its mode, owner or dates could not be given to the copy");
    }
    return ok;
}

bool Executor::CopyFile(const Place& from, const ItemAttributes& fromAttrs, const Place& to,
                        bool aToB, bool isSymLink, bool isPackage, std::string& err) {
    run::RunState& s = *state_;
    const FolderHandle& folder = *to.folder;
    bool chainUsed = false;
    bool ok = true;
    // A locked folder takes no new item either, whatever its mode says.
    if (lastWritableFolder_ != Identity(folder) &&
        (!tw_.IsIndeedWritableAt(folder.fd(), kNoName) || tw_.IsLocked(folder.fd(), kNoName))) {
        chainUsed = true;
        ok = metadata_.UnlockChain(ItemAt(folder, kNoName, to.folderPath), Chain(aToB, true),
                                   kCheckWritable, s.flags.gIsUnlockOn, current_);
    }
    if (ok && !chainUsed) {
        lastWritableFolder_ = Identity(folder);
    } else {
        lastWritableFolder_.reset();
    }
    Temporary temp;
    if (ok) {
        ok = CopyToTemporary(from, fromAttrs, folder, *to.name, err, temp) &&
             PutNew(folder, temp, *to.name, err);
    }
    if (!ok) {
        const char* what = isSymLink   ? "Can't copy the Sym Link"
                           : isPackage ? "Can't copy the file package"
                                       : "Can't copy the file";
        Report(GLS(what) + "\r" + Quoted(from.path) + " " + phrases_.to + "\r" + Quoted(to.path) +
               err);
        return false;
    }
    const bool mayHaveFinderInfo = !temp.isFile || temp.attrs.finderInfo;
    if (!FinishTemporary(from, folder, *to.name, temp, true)) return false;
    ++(aToB ? s.copy.gBFilesCopied : s.copy.gAFilesCopied);
    CountVisibility(from, aToB, mayHaveFinderInfo);
    LogAction(phrases_.copiedFile + " " + Quoted(from.path) + " " + phrases_.to + "\r" +
              Quoted(to.path));
    // What the chain relaxed on the folder stays recorded: it is put back once the folder's
    // items are done.
    return true;
}

void Executor::CountVisibility(const Place& from, bool aToB, bool mayHaveFinderInfo) {
    run::CopyCounters& c = state_->copy;
    if (IsInvisibleToCount(from, mayHaveFinderInfo)) {
        ++(aToB ? c.gBItemInvisible : c.gAItemInvisible);
    } else {
        ++(aToB ? c.gBItemVisible : c.gAItemVisible);
    }
}

bool Executor::IsInvisibleToCount(const Place& item, bool mayHaveFinderInfo) {
    const std::string& name = *item.name;
    if (!name.empty() && name[0] == '.') return true;
    unsigned char info[16];
    if (mayHaveFinderInfo &&
        sys().getxattrat(item.fd(), name.c_str(), kFinderInfoXattr, info, sizeof info) ==
            static_cast<ssize_t>(sizeof info) &&
        (((info[8] << 8) | info[9]) & kFinderFlagInvisible) != 0) {
        return true;
    }
    // The folder's ".hidden" list is read once for all its items.
    if (hiddenListFolder_ != Identity(*item.folder)) {
        hiddenListFolder_ = Identity(*item.folder);
        hiddenList_ = tw_.HiddenNamesIn(item.fd());
    }
    return hiddenList_.count(name) != 0;
}

bool Executor::CheckFreeSpaceFor(const Place& item, const FolderHandle& folder, std::string& err) {
    std::optional<std::uint64_t> freeBytes = platform::FreeBytesOf(folder.fd());
    if (!freeBytes) return true;  // unknown: let the copy tell
    const std::uint64_t needed = tw_.NewItemSize(item.fd(), *item.name);
    if (*freeBytes > needed) return true;
    // The files this run replaced or deleted may still hold space: it is told once they are
    // freed.
    closer_.Flush();
    freeBytes = platform::FreeBytesOf(folder.fd());
    if (!freeBytes || *freeBytes > needed) return true;
    err = "\r" + phrases_.error + "\rNot enough space on the destination disk.\r" +
          GLS("Free Memory:") + "        " + std::to_string(*freeBytes) + " " + GLS("bytes") +
          ".\r" + GLS("Memory Required:") + " " + std::to_string(needed) + " " + GLS("bytes");
    return false;
}

namespace {

// Every item below the folder name of dirFd, deepest first, with whether it is a folder.
void CollectTree(const FolderHandle& parent, const std::string& name, const std::string& path,
                 std::vector<std::pair<std::string, bool>>& items) {
    const FolderHandle folder = parent.OpenChild(name);
    std::vector<platform::FolderEntry> entries;
    if (folder.valid() && sys().readfolder(folder.fd(), entries) == 0) {
        for (const platform::FolderEntry& e : entries) {
            const platform::StatResult st = StatAt(folder.fd(), e.name);
            if (st.attributes.isDirectory()) {
                CollectTree(folder, e.name, platform::JoinPath(path, e.name), items);
            } else if (st.ok()) {
                items.emplace_back(platform::JoinPath(path, e.name), false);
            }
        }
    }
    items.emplace_back(path, true);
}

}  // namespace

bool Executor::RemoveReplacedFolder(const Place& to, bool aToB, std::string& err) {
    run::RunState& s = *state_;
    const bool trash = s.flags.gIsMoveToTrash;
    std::vector<std::pair<std::string, bool>> items;
    CollectTree(*to.folder, *to.name, to.path, items);
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
        std::int64_t& counter = isFolder
                                    ? (aToB ? s.copy.gBFoldersDeleted : s.copy.gAFoldersDeleted)
                                    : (aToB ? s.copy.gBFilesDeleted : s.copy.gAFilesDeleted);
        ++counter;
        const std::string& phrase = isFolder
                                        ? (trash ? phrases_.trashedFolder : phrases_.deletedFolder)
                                        : (trash ? phrases_.trashedFile : phrases_.deletedFile);
        LogAction(phrase + " " + Quoted(path));
        s.gItemsDeleted.push_back(path);
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
    if (state_->flags.gIsMoveToTrash) return removeFirst();
    std::vector<std::pair<std::string, bool>> items;
    CollectTree(folder, *to.name, to.path, items);
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
    if (!RemoveItemAt(dirFd, oldName, metadata_)) {
        err = "\rCan't remove the old destination item, left as " + Quoted(folder.PathOf(oldName));
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
        if (!metadata_.UnlockChain(to.at(), Chain(aToB, true), kCheckDeletable, s.flags.gIsUnlockOn,
                                   current_) ||
            (tw_.IsLocked(folder.fd(), *to.name) &&
             (!s.flags.gIsUnlockOn || !metadata_.UnlockItem(to.at())))) {
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
        ok = PutInPlace(folder, temp, *to.name, err, &seen);
        if (ok &&
            sys().renameat2(folder.fd(), to.name->c_str(), folder.fd(), target.c_str(), 0) == 0) {
            temp.name = target;
        }
    } else if (ok) {
        ok = PutInPlace(folder, temp, target, err, &seen);
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
    ++(aToB ? s.copy.gBFilesReplaced : s.copy.gAFilesReplaced);
    CountVisibility(from, aToB, mayHaveFinderInfo);
    LogAction(phrases_.replacedFile + " " + Quoted(to.path) + "\r" +
              phrases_.withTheMostRecentFile + " " + Quoted(from.path));
    if (chainUsed) RemoveItemOKFromRestore(current_, to.path);
    return true;
}

bool Executor::CopySingleMetadataOnly(const Place& from, const Place& to) {
    const FolderHandle& folder = *to.folder;
    if (!state_->flags.gIsUnlockOn && tw_.IsLocked(folder.fd(), *to.name)) {
        Report(GLS("Can't copy attributes from the item") + "\r" + Quoted(from.path) + "\r" +
               GLS("to the locked item") + "\r" + Quoted(to.path));
        return false;
    }
    std::string target = *to.name;
    const std::string& fromName = *from.name;
    const std::string& toName = *to.name;
    auto lower = [](std::string s) {
        for (char& c : s) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        }
        return s;
    };
    if (fromName != toName && lower(fromName) == lower(toName)) {
        // A free name to pass through, never one that stands in the folder.
        std::string temp;
        for (int n = 0; n <= kMaxTemporaryNames && temp.empty(); ++n) {
            std::string candidate = TemporaryName(kRenameTempName, n);
            if (StatAt(folder.fd(), candidate).error == ENOENT) temp = std::move(candidate);
        }
        const std::string tempPath = folder.PathOf(temp);
        if (temp.empty()) {
            Report("Can't rename the destination item\r" + Quoted(to.path) +
                   "\rbecause I can't find an unique new name on its parent folder " +
                   Quoted(folder.PathOf(kRenameTempName)));
        } else if (!metadata_.RenameItem(to.at(), temp)) {
            Report("Can't rename the destination item\r" + Quoted(to.path) + "\rto the new name " +
                   Quoted(tempPath));
        } else if (!metadata_.RenameItem(ItemAt(folder, temp, tempPath), fromName)) {
            Report("Can't rename the destination item\r" + Quoted(to.path) + "\rto the new name " +
                   Quoted(fromName));
            target = temp;
        } else {
            target = fromName;
        }
    }
    const std::string targetPath = folder.PathOf(target);
    if (!metadata_.CopyAttributes(from.at(), ItemAt(folder, target, targetPath),
                                  state_->gStartSyncDateTimeUTC)) {
        Report("Can't copy attributes from the item\r" + Quoted(from.path) + "\rto the item\r" +
               Quoted(targetPath));
        return false;
    }
    return true;
}

}  // namespace qv::fileops
