#pragma once
// Copies made ahead of the executor.
//
// The executor performs a task's items one after the other, and for small files most of a copy
// is the file system's own work: creating the new file, its data, its attributes. CopyAhead
// makes the plain file copies and replacements of a task, in the order the executor will meet
// them and a few items ahead of it, on two threads of their own, each into an unnamed file
// (O_TMPFILE) of its destination folder with its content and attributes, marked as a
// temporary. The executor still does everything else in its own order: the checks, naming the
// copy, putting it in place, the counters, the log and the errors.
//
// The executor takes a copy made ahead only when the folders are the ones it has open and the
// source is still, by its statx, the file that was copied: same inode, size, mode, owner,
// modification and change times (a change of content or of attributes moves the change time).
// A copy not taken was never named: it vanishes when its descriptor is closed, so a stopped
// run, an error or a kill leaves nothing of it anywhere.

#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fileops/metadata.h"
#include "platform/folder_handle.h"
#include "platform/unique_fd.h"
#include "run/plan_item.h"

namespace qv::fileops {

// Whether two statx of a file say it holds the same content and attributes: same inode, size,
// mode, owner, modification and change times (writing to it or changing its attributes moves
// its change time).
bool IsSameFileState(const struct statx& x, const struct statx& y);

class CopyAhead {
  public:
    // A copy made ahead: the source and the unnamed copy, both open, the source's statx as it
    // was once the copy was complete, the attributes given to the copy, and the two folders.
    struct Made {
        platform::UniqueFd src, dst;
        struct statx stx {};
        OpenCopyAttrs attrs;
        dev_t sourceDev = 0, destDev = 0;
        ino_t sourceIno = 0, destIno = 0;
    };

    // Files larger than this are left to the executor, which shows the progress of their bytes.
    static constexpr std::uint64_t kMaxFileBytes = 4 << 20;
    // Nothing is made ahead on a volume with less free space than this: the copies made ahead
    // would take what the executor's own copies need.
    static constexpr std::uint64_t kMinFreeBytes = 256ull << 20;
    // How many copies are made ahead of the executor, and by how many threads.
    static constexpr std::size_t kAhead = 16;
    static constexpr std::size_t kThreads = 2;

    // The plain file copies and replacements among a task's items, in folders on both sides
    // or made by the run, a and b its open top folders. Nothing is started when there are fewer
    // than two.
    CopyAhead(const Metadata& metadata, std::int64_t backupDate, const platform::FolderHandle& a,
              const platform::FolderHandle& b, const std::vector<run::PlanItem>& items);
    // Stops making copies and closes those not taken.
    ~CopyAhead();
    CopyAhead(const CopyAhead&) = delete;
    CopyAhead& operator=(const CopyAhead&) = delete;

    // The executor has come to `item`: the copies planned before it will not be asked for.
    void Reach(const run::PlanItem* item);
    // The copy of `item` made ahead, when there is one, made from the folder `from` into the
    // folder `to`, and `now` (its source's statx, just taken) says the source has not changed
    // since; waits while it is being made.
    std::optional<Made> Take(const run::PlanItem* item, const platform::FolderHandle& from,
                             const platform::FolderHandle& to, const struct statx& now);

    // How many copies were made ahead so far, taken or not.
    std::size_t made() const;

  private:
    enum class State : std::uint8_t { Waiting, Making, Made, Failed, Done };
    struct Folder {
        std::string inA, inB;  // relative to the top folders, "" for the top
        // The destination folder is made by the run: copies are made in it only once the
        // executor is in it (it has come to the first job there).
        bool made = false;
        std::size_t firstJob = 0;
    };
    struct Job {
        const run::PlanItem* item;
        std::uint32_t folder;
        State state = State::Waiting;
        bool passed = false;  // the executor went by while it was being made
    };

    void Collect(const std::vector<run::PlanItem>& items, const std::string& inA,
                 const std::string& inB, bool made);
    // Whether job i may be made now.
    bool MayMake(std::size_t i) const;
    // The index of item's job from next_ on, or jobs_.size().
    std::size_t Find(const run::PlanItem* item) const;
    void PassUpTo(std::size_t end);
    // What a thread keeps between its jobs: the folders it has open for the last one.
    struct Worker {
        std::uint32_t folder = UINT32_MAX;
        platform::FolderHandle inA, inB;
        std::optional<dev_t> noTmpFileDevice;
    };

    void Loop();
    // Makes job's copy; false when it cannot (the executor then copies the file itself).
    bool MakeCopy(const Job& job, Worker& worker, Made& made);

    const Metadata& metadata_;
    const std::int64_t backupDate_;
    const platform::FolderHandle a_, b_;
    std::vector<Folder> folders_;
    std::vector<Job> jobs_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::size_t, Made> ready_;  // made, not yet taken
    std::size_t next_ = 0;               // the first job the executor has not come to
    std::ptrdiff_t reached_ = -1;        // the last job it came to
    std::size_t made_ = 0;
    std::size_t claimed_ = 0;  // the next job a thread takes on
    bool stop_ = false;
    std::thread threads_[kThreads];
};

}  // namespace qv::fileops
