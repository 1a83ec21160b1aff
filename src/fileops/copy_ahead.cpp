#include "fileops/copy_ahead.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <utility>

#include "items/tw_utilities.h"
#include "platform/file_copy.h"
#include "platform/file_io.h"
#include "platform/volumes.h"

namespace qv::fileops {

using platform::FolderHandle;
using platform::UniqueFd;

namespace {

// Jobs looked through for the item the executor comes to: it meets them in their order, so
// the one it asks for is nearly always the first.
constexpr std::size_t kSearch = 64;

bool IsCopyToB(int mode) { return mode == run::kModeCopyAtoB || mode == run::kModeReplaceBwithA; }
bool IsCopyToA(int mode) { return mode == run::kModeCopyBtoA || mode == run::kModeReplaceAwithB; }

bool StatOpen(int fd, struct statx& stx) {
    return platform::sys().statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) == 0;
}

}  // namespace

bool IsSameFileState(const struct statx& x, const struct statx& y) {
    return x.stx_ino == y.stx_ino && x.stx_dev_major == y.stx_dev_major &&
           x.stx_dev_minor == y.stx_dev_minor && x.stx_size == y.stx_size &&
           x.stx_mode == y.stx_mode && x.stx_uid == y.stx_uid && x.stx_gid == y.stx_gid &&
           x.stx_mtime.tv_sec == y.stx_mtime.tv_sec && x.stx_mtime.tv_nsec == y.stx_mtime.tv_nsec &&
           x.stx_ctime.tv_sec == y.stx_ctime.tv_sec && x.stx_ctime.tv_nsec == y.stx_ctime.tv_nsec;
}

CopyAhead::CopyAhead(const Metadata& metadata, std::int64_t backupDate, const FolderHandle& a,
                     const FolderHandle& b, const std::vector<run::PlanItem>& items)
    : metadata_(metadata), backupDate_(backupDate), a_(a), b_(b) {
    Collect(items, "", "", false);
    if (jobs_.size() < 2) {
        jobs_.clear();
        return;
    }
    for (std::thread& thread : threads_) thread = std::thread([this] { Loop(); });
}

CopyAhead::~CopyAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
}

void CopyAhead::Collect(const std::vector<run::PlanItem>& items, const std::string& inA,
                        const std::string& inB, bool made) {
    // The executor's order: an item, then what is inside it. Folders that stand on both sides
    // and folders the run makes are gone into; an item reached by a whole path is the
    // executor's.
    bool folderAdded = false;
    for (const run::PlanItem& item : items) {
        if (item.sourcePath || item.destPath) continue;
        const int m = item.copyMode;
        if (!item.isFolder) {
            if (!IsCopyToB(m) && !IsCopyToA(m)) continue;
            if (!folderAdded) {
                folders_.push_back({inA, inB, made, jobs_.size()});
                folderAdded = true;
            }
            jobs_.push_back({&item, static_cast<std::uint32_t>(folders_.size() - 1)});
            continue;
        }
        const bool both = m == run::kModeNone || m == run::kModeDescend ||
                          m == run::kModeAttrAtoB || m == run::kModeAttrBtoA;
        if (both || m == run::kModeCopyAtoB || m == run::kModeCopyBtoA) {
            Collect(item.subItems, platform::JoinPath(inA, item.name),
                    platform::JoinPath(inB, item.nameInB()), made || !both);
            folderAdded = false;  // the jobs after those inside it need their folder again
        }
    }
}

bool CopyAhead::MayMake(std::size_t i) const {
    if (i >= next_ + kAhead) return false;
    const Folder& folder = folders_[jobs_[i].folder];
    return !folder.made || reached_ >= static_cast<std::ptrdiff_t>(folder.firstJob);
}

std::size_t CopyAhead::Find(const run::PlanItem* item) const {
    const std::size_t end = std::min(jobs_.size(), next_ + kSearch);
    for (std::size_t j = next_; j < end; ++j) {
        if (jobs_[j].item == item) return j;
    }
    return jobs_.size();
}

void CopyAhead::PassUpTo(std::size_t end) {
    for (std::size_t j = next_; j < end; ++j) {
        Job& job = jobs_[j];
        if (job.state == State::Making) {
            job.passed = true;
        } else {
            job.state = State::Done;
        }
        ready_.erase(j);
    }
    next_ = end;
    changed_.notify_all();
}

void CopyAhead::Reach(const run::PlanItem* item) {
    if (jobs_.empty()) return;
    std::lock_guard lock(mutex_);
    const std::size_t j = Find(item);
    if (j == jobs_.size()) return;
    reached_ = static_cast<std::ptrdiff_t>(j);
    PassUpTo(j);
}

std::optional<CopyAhead::Made> CopyAhead::Take(const run::PlanItem* item, const FolderHandle& from,
                                               const FolderHandle& to, const struct statx& now) {
    if (jobs_.empty()) return std::nullopt;
    std::unique_lock lock(mutex_);
    const std::size_t j = Find(item);
    if (j == jobs_.size()) return std::nullopt;
    reached_ = static_cast<std::ptrdiff_t>(j);
    PassUpTo(j);
    next_ = j + 1;  // the lock is held: the threads PassUpTo woke see this too
    Job& job = jobs_[j];
    if (job.state == State::Waiting) {
        job.state = State::Done;  // the thread is behind: the executor copies it now
        return std::nullopt;
    }
    changed_.wait(lock, [&] { return job.state != State::Making; });
    job.state = State::Done;
    const auto ready = ready_.find(j);
    if (ready == ready_.end()) return std::nullopt;
    Made made = std::move(ready->second);
    ready_.erase(ready);
    lock.unlock();
    if (made.sourceDev != from.dev() || made.sourceIno != from.ino() || made.destDev != to.dev() ||
        made.destIno != to.ino() || !IsSameFileState(made.stx, now)) {
        return std::nullopt;  // closed here: an unnamed copy leaves nothing
    }
    return made;
}

std::size_t CopyAhead::made() const {
    std::lock_guard lock(mutex_);
    return made_;
}

void CopyAhead::Loop() {
    Worker worker;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || claimed_ == jobs_.size() || MayMake(claimed_); });
        if (stop_ || claimed_ == jobs_.size()) return;
        const std::size_t i = claimed_++;
        Job& job = jobs_[i];
        if (job.state != State::Waiting) continue;
        job.state = State::Making;
        lock.unlock();
        Made made;
        const bool ok = MakeCopy(job, worker, made);
        lock.lock();
        if (ok) ++made_;
        if (ok && !job.passed) ready_.emplace(i, std::move(made));
        job.state = ok && !job.passed ? State::Made : State::Failed;
        changed_.notify_all();
    }
}

bool CopyAhead::MakeCopy(const Job& job, Worker& worker, Made& made) {
    platform::FileSystem& fs = platform::sys();
    if (job.folder != worker.folder) {
        worker.folder = UINT32_MAX;
        worker.inA = a_.OpenBelow(folders_[job.folder].inA);
        worker.inB = b_.OpenBelow(folders_[job.folder].inB);
        if (!worker.inA.valid() || !worker.inB.valid()) return false;
        worker.folder = job.folder;
    }
    const bool toB = IsCopyToB(job.item->copyMode);
    const FolderHandle& from = toB ? worker.inA : worker.inB;
    const FolderHandle& to = toB ? worker.inB : worker.inA;
    if (worker.noTmpFileDevice == to.dev()) return false;
    if (platform::FreeBytesOf(to.fd()).value_or(0) < kMinFreeBytes) return false;
    const std::string& name = toB ? job.item->name : job.item->nameInB();
    // Only a regular file is opened: opening a FIFO or a device can wake what stands behind it.
    const platform::StatResult seen = platform::StatAt(from.fd(), name);
    if (!seen.ok() || seen.attributes.type != platform::ItemType::RegularFile ||
        seen.attributes.size > kMaxFileBytes) {
        return false;
    }
    made.src.reset(
        fs.openat(from.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
    struct statx before {};
    if (!made.src.valid() || !StatOpen(made.src.get(), before) || !S_ISREG(before.stx_mode) ||
        before.stx_size > kMaxFileBytes) {
        return false;
    }
    made.dst.reset(fs.openat(to.fd(), ".", O_TMPFILE | O_WRONLY, 0600));
    if (!made.dst.valid()) {
        if (errno == EOPNOTSUPP || errno == EISDIR) worker.noTmpFileDevice = to.dev();
        return false;
    }
    // Marked as the executor marks its own: where no mark can be kept, the copy goes without.
    fs.fsetxattr(made.dst.get(), items::kTemporaryXattr, "1", 1, 0);
    std::string why;
    platform::CopyHints hints{.tryClone = true,
                              .mayHaveHoles = before.stx_blocks * 512 < before.stx_size,
                              .bytesCopied = nullptr};
    if (!platform::CopyFileContent(made.src.get(), made.dst.get(), before.stx_size, &why, &hints)) {
        return false;
    }
    // A source written to while it was copied is left to the executor.
    if (!StatOpen(made.src.get(), made.stx) || !IsSameFileState(before, made.stx)) return false;
    made.attrs = metadata_.SetAttrsOnOpenCopy(made.src.get(), made.stx, made.dst.get(),
                                              from.PathOf(name), to.PathOf(name), backupDate_);
    // Write errors of some file systems only show when a descriptor of the file is closed.
    UniqueFd check(fs.dup(made.dst.get()));
    if (!check.valid() || check.Close() != 0) return false;
    made.sourceDev = from.dev();
    made.sourceIno = from.ino();
    made.destDev = to.dev();
    made.destIno = to.ino();
    return true;
}

}  // namespace qv::fileops
