// Copying an item through a temporary that takes its name only when whole.
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
#include "platform/file_copy.h"
#include "platform/volumes.h"

namespace qv::fileops {

// The operations share their helpers and names.
using namespace executor_internal;

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
    const std::int64_t backupDate = state_->totals.gStartSyncDateTimeUTC;
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
                items::kLinkTempName);
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
    std::string why;
    switch (OpenRegularSource(from, before, temp, why)) {
        case SourceOpening::Opened:
            break;
        case SourceOpening::NotTheRegularFileFound:
            return false;
        case SourceOpening::Failed:
            return failed(why);
    }
    temp.isFile = true;
    if (const std::optional<bool> named = UseCopyMadeAhead(from, folder, avoid, temp, why)) {
        if (*named) return true;
        return failed(why);
    }
    if (!OpenTemporaryFile(folder, avoid, temp, why)) return failed(why);
    MarkOpen(temp.dst.get());
    const bool copied = WriteTemporaryContent(folder, temp, why);
    if (copied && SourceChangedDuringCopy(temp)) {
        // Written to while it was read: the copy may hold parts of two versions.
        why = GLS("It changed since the scan: the next run will decide.");
    } else if (copied) {
        GiveAttributesToOpenCopy(from, folder, temp, why);
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

Executor::SourceOpening Executor::OpenRegularSource(const Place& from, const ItemAttributes& before,
                                                    Temporary& temp, std::string& why) {
    // Only a regular file is opened here: opening a FIFO or a device can wake or move what
    // stands behind it. Anything else, or an item replaced in between, is the general copy's.
    if (before.type != platform::ItemType::RegularFile)
        return SourceOpening::NotTheRegularFileFound;
    temp.src.reset(sys().openat(from.fd(), from.name->c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
    if (!temp.src.valid()) {
        if (errno == ELOOP) return SourceOpening::NotTheRegularFileFound;
        why = std::strerror(errno);
        return SourceOpening::Failed;
    }
    struct statx& stx = temp.stx;
    if (sys().statx(temp.src.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) !=
        0) {
        why = std::strerror(errno);
        return SourceOpening::Failed;
    }
    if (!S_ISREG(stx.stx_mode) || stx.stx_ino != before.ino ||
        makedev(stx.stx_dev_major, stx.stx_dev_minor) != before.dev) {
        temp.src.Close();
        return SourceOpening::NotTheRegularFileFound;
    }
    return SourceOpening::Opened;
}

std::optional<bool> Executor::UseCopyMadeAhead(const Place& from, const FolderHandle& folder,
                                               const std::string& avoid, Temporary& temp,
                                               std::string& why) {
    if (aheadItem_ == nullptr) return std::nullopt;
    const struct statx& stx = temp.stx;
    auto made = ahead_->Take(aheadItem_, *from.folder, folder, stx);
    if (!made) return std::nullopt;
    // Made ahead, of this very file as it stands now: it only needs its name.
    temp.dst = std::move(made->dst);
    temp.attrs = std::move(made->attrs);
    state_->progress.SetWriting(folder.PathOf(items::kReplaceTempName), stx.stx_size);
    state_->progress.bytesDoneCounter() += stx.stx_size;
    if (NameTemporaryFile(folder, avoid, temp, why)) return true;
    DiscardTemporary(folder, temp);
    if (why.empty()) why = "Can't name the copy";
    return false;
}

bool Executor::OpenTemporaryFile(const FolderHandle& folder, const std::string& avoid,
                                 Temporary& temp, std::string& why) {
    // The copy is made without a name and gets one only once it is complete and marked, so
    // that no interruption can leave an unmarked temporary behind.
    if (noTmpFileDevice_ != folder.dev()) {
        temp.dst.reset(sys().openat(folder.fd(), ".", O_TMPFILE | O_WRONLY, 0600));
        if (!temp.dst.valid() && (errno == EOPNOTSUPP || errno == EISDIR)) {
            noTmpFileDevice_ = folder.dev();
        } else if (!temp.dst.valid()) {
            why = std::strerror(errno);
            return false;
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
        if (!name) {
            why = std::strerror(errno);
            return false;
        }
        temp.name = *name;
        temp.path = folder.PathOf(*name);
    }
    return true;
}

bool Executor::WriteTemporaryContent(const FolderHandle& folder, Temporary& temp,
                                     std::string& why) {
    const struct statx& stx = temp.stx;
    state_->progress.SetWriting(
        temp.path.empty() ? folder.PathOf(items::kReplaceTempName) : temp.path, stx.stx_size);
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
    return copied;
}

bool Executor::SourceChangedDuringCopy(const Temporary& temp) {
    struct statx after {};
    return sys().statx(temp.src.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS, &after) != 0 ||
           !IsSameFileState(temp.stx, after);
}

void Executor::GiveAttributesToOpenCopy(const Place& from, const FolderHandle& folder,
                                        Temporary& temp, std::string& why) {
    temp.attrs = metadata_.SetAttrsOnOpenCopy(temp.src.get(), temp.stx, temp.dst.get(), from.path,
                                              folder.PathOf(*from.name),
                                              state_->totals.gStartSyncDateTimeUTC);
    // Write errors of some file systems only show when a descriptor of the file is
    // closed; the copy's own stays open for what is given once it is in place.
    platform::UniqueFd check(sys().dup(temp.dst.get()));
    if (!check.valid() || check.Close() != 0) {
        why = std::strerror(errno);
    }
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

bool Executor::FinishTemporary(const Place& from, const FolderHandle& folder, const std::string& to,
                               Temporary& temp, bool isNew) {
    const std::string toPath = folder.PathOf(to);
    bool ok = true;
    if (temp.isFile) {
        sys().fremovexattr(temp.dst.get(), items::kTemporaryXattr);
        ok = metadata_.FinishOpenCopy(temp.src.get(), temp.dst.get(), temp.stx, temp.attrs,
                                      toPath) &&
             !temp.attrs.failed;
        temp.dst.Close();
        temp.src.Close();
    } else {
        if (!temp.isLink) Unmark(folder.fd(), to);
        ok = metadata_.SetAttrsAfterCopy(from.at(), ItemAt(folder, to, toPath),
                                         state_->totals.gStartSyncDateTimeUTC, isNew);
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
                                   kCheckWritable, s.config.flags.gIsUnlockOn, current_);
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
    ++(aToB ? s.task.copy.gBFilesCopied : s.task.copy.gAFilesCopied);
    CountVisibility(from, aToB, mayHaveFinderInfo);
    LogAction(phrases_.copiedFile + " " + Quoted(from.path) + " " + phrases_.to + "\r" +
              Quoted(to.path));
    // What the chain relaxed on the folder stays recorded: it is put back once the folder's
    // items are done.
    return true;
}

void Executor::CountVisibility(const Place& from, bool aToB, bool mayHaveFinderInfo) {
    run::CopyCounters& c = state_->task.copy;
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
        sys().getxattrat(item.fd(), name.c_str(), items::kFinderInfoXattr, info, sizeof info) ==
            static_cast<ssize_t>(sizeof info) &&
        (((info[8] << 8) | info[9]) & items::kFinderFlagInvisible) != 0) {
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

}  // namespace qv::fileops
