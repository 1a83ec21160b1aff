#pragma once
// What a run asks of the ExactSync index: whether an index of the last exact run exists for the
// task (loading it), whether a path was present then on a side, and the new index written once
// the task has been performed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/item_attributes.h"
#include "run/plan_item.h"

namespace qv::items {
class ErrorPath;
class TWUtilities;
}  // namespace qv::items

namespace qv::engine {

inline constexpr int kSideA = 1;
inline constexpr int kSideB = 0;

// The task an index is looked up for.
struct ExactSyncTask {
    std::string source;
    std::string dest;
    bool isExactSync = false;    // a Synchronize with Exact on; any other task makes it obsolete
    bool mayChangeFiles = true;  // false for a plan: an obsolete index is then left in place
};

// What the index keeps of an item to tell, at the next run, whether it changed since: its kind,
// size, modification time to the nanosecond and inode, folded into 64 bits (never 0).
std::uint64_t ItemRecord(const platform::ItemAttributes& attrs);

// An item against the index of the last exact run.
enum class SinceLastRun {
    Unknown,  // no index, or one that keeps no records
    Same,     // there at the last run, and still the same item
    Changed,  // made, replaced or modified since (or its record was not kept)
};

// An item a task is about to delete, as the scan saw it.
struct PlannedDeletion {
    std::string path;
    run::SeenItem seen;
};

class ExactSyncIndex {
  public:
    virtual ~ExactSyncIndex() = default;
    // Looks for the index of the task's two folders; with load, also checks and loads it (and
    // deletes it when the task is no longer an Exact Synchronize). True when found (and loaded).
    virtual bool ExactSyncFileExists(const ExactSyncTask& task, bool load) = 0;
    // The path was present in that side's tree at the end of the last exact run.
    virtual bool ItWasExixting(const std::string& path, int side) const = 0;
    // The same, for a file (anything but a folder) only: a file whose backup date the run that
    // wrote the index set, unless the file was in step already.
    virtual bool WasFileAtLastRun(const std::string& /*path*/, int /*side*/) const { return false; }
    // The path, or a folder on its way, was one side of a conflict the run that wrote the index
    // left as it was (its backup date kept): the two sides were never brought into step there.
    virtual bool WasLeftAsConflict(const std::string& /*path*/) const { return false; }
    // Whether the item at path (a folder as the index counts folders, or not) is the one that
    // stood there at the end of the last exact run on that side.
    virtual SinceLastRun ChangeSince(const std::string& /*path*/, int /*side*/, bool /*isFolder*/,
                                     const platform::ItemAttributes& /*now*/) const {
        return SinceLastRun::Unknown;
    }
    // The start of the run that wrote the index found by the last lookup.
    virtual std::optional<double> LastExactSyncDate() const { return std::nullopt; }
    // Why the last load found no usable index although there was one to find; empty when the
    // pair simply has none yet.
    virtual std::string LoadProblem() const { return {}; }
    // The side (kSideA, kSideB) whose top folder the last load found to be another folder than
    // the one the index was made from (another volume, a folder made anew); -1 when none.
    virtual int ChangedTopSide() const { return -1; }
    // Rebuilds the index of the run state's current task (gSourceFolder, gDestFolder) from what
    // the two folders hold now. Mode 1 writes only a pair that has no index file yet, mode 2
    // always. Failures are reported through the error path; false when nothing was written.
    virtual bool WriteExactSyncIndex(int /*mode*/, items::ErrorPath& /*errors*/,
                                     const items::TWUtilities& /*tw*/) {
        return false;
    }
    // The index of a pair that stays as it was forgets the items the run deleted (absolute
    // paths), so that nothing put back at their paths is deleted again on its word; the items
    // the run did bring into step (done: both sides of each) are recorded as they are now, so
    // that what it copied is not taken for a change of the side it copied to.
    virtual void ForgetDeletedItems(const std::string& /*sourceFolder*/,
                                    const std::string& /*destFolder*/,
                                    const std::vector<std::string>& /*deleted*/,
                                    const std::vector<std::string>& /*done*/ = {}) {}
    // Before a task deletes on its index's word: the items it is about to delete are written
    // down and flushed to the disk, so that when the process ends before the index is written
    // again, the next load forgets those that are gone or no longer the items the scan saw: an
    // item saved again at such a path is then new, never one deleted on the other side, while
    // one the run did not reach is proposed for deletion again. Where the record cannot be
    // written, the index is dropped instead.
    virtual void JournalDeletions(const std::string& /*sourceFolder*/,
                                  const std::string& /*destFolder*/,
                                  const std::vector<PlannedDeletion>& /*deleting*/) {}
    // The conflicts a Synchronize of the pair left as they were (both sides of each), kept
    // for every later Synchronize of the pair, with an index or without one (a link carries no
    // backup date to remember it by); an empty list removes the record.
    virtual void KeepLeftConflicts(const std::string& /*sourceFolder*/,
                                   const std::string& /*destFolder*/,
                                   const std::vector<std::string>& /*paths*/) {}
    // The pair's index is as the run left it (written again, or corrected): the record goes.
    virtual void ClearJournal(const std::string& /*sourceFolder*/,
                              const std::string& /*destFolder*/) {}
};

// The path of an item below a task's folder, as the scan and the index rebuild share it: "" for
// the folder itself, then "/name", "/name/sub"... None for a path outside the folder.
std::optional<std::string> PathBelow(const std::string& path, const std::string& folder);

// No task has an index: Exact Synchronize then plans like Synchronize.
class NoExactSyncIndex : public ExactSyncIndex {
  public:
    bool ExactSyncFileExists(const ExactSyncTask&, bool) override { return false; }
    bool ItWasExixting(const std::string&, int) const override { return false; }
};

}  // namespace qv::engine
