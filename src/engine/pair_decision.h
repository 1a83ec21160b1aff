#pragma once
// The decision for one pair of items found by the walk: what is to be done with them, given the
// task, their dates, the ExactSync index and the conflict policies. No file system is read
// here: what a decision needs beyond the two sides it asks of PairFacts, so that the table can
// be exercised on its own.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/exact_sync_index.h"
#include "platform/folder_handle.h"
#include "platform/item_attributes.h"
#include "run/main_thread_proxy.h"
#include "run/run_state.h"

namespace qv::engine {

// A decision that drops the item without making it count against a parent being deleted.
inline constexpr int kIgnoredQuietly = -1000;

// One side of a pair, as the walk found and classified it.
struct PairSide {
    bool exists = false;
    std::string name;  // as listed on this side
    std::string path;  // replaced by the target when an alias or link is resolved
    bool resolved = false;
    int dirFd = -1;  // the open folder the item is listed in; -1 once resolved elsewhere
    platform::ItemAttributes attrs;
    bool isFolder = false;
    bool isLink = false;
    // A directory listed here (not resolved elsewhere), opened when it was classified; the walk
    // goes down through this very handle. folderError: why it could not be opened.
    platform::FolderHandle folder;
    int folderError = 0;

    // To the nanosecond, links included: a link put in place of a file within the same second
    // is newer than the file, not older.
    double modificationDate() const { return attrs.mtime.seconds(); }
};

// What a decision may ask beyond the two sides.
class PairFacts {
  public:
    virtual ~PairFacts() = default;
    virtual std::optional<double> BackupDate(const PairSide& side) const = 0;
    // The path was in that side's tree of the ExactSync index of the last run.
    virtual bool WasInIndex(const std::string& path, int side) const = 0;
    // Whether the item is the one that stood at its path on that side (kSideA, kSideB) at the
    // end of the last exact run.
    virtual SinceLastRun ChangeSince(const PairSide& /*item*/, int /*side*/) const {
        return SinceLastRun::Unknown;
    }
    // Whether anything inside the folder was made or modified since the last exact run.
    virtual bool ChangedInside(const PairSide& /*folder*/, int /*side*/) const { return true; }
    // The path was one side of a conflict the last exact run left as it was: never in step.
    virtual bool WasLeftAsConflict(const std::string& /*path*/) const { return false; }
    // The items a folder of the pair holds, all levels down (for the question that would
    // replace it by a file).
    virtual std::int64_t ItemsInFolder(const PairSide& folder) const = 0;
    // Whether the two items' attributes differ: mode, owner, group, access-control lists and
    // extended attributes other than the program's own.
    virtual bool AttributesDiffer(const PairSide& a, const PairSide& b) const = 0;
    // Whether two items whose size and date agree hold the same content (a file's bytes, a
    // link's target); false when either cannot be read.
    virtual bool SameContent(const PairSide& /*a*/, const PairSide& /*b*/) const { return true; }
    // The answer to a conflict: the user's when the policy asks, else the policy's own.
    virtual bool Answer(const run::ConflictPolicy& policy, run::ConflictQuestion question,
                        bool* changeDirection) = 0;
};

class PairDecision {
  public:
    PairDecision(run::RunState& state, PairFacts& facts) : state_(state), facts_(facts) {}

    // Both items exist.
    int BothExist(const PairSide& a, const PairSide& b, bool isDsStore);
    // Only `item` exists, on side A when inA, else on side B; otherPath is where it would be
    // on the other side. ifSkip receives the ExactSync mark of a deletion taken from the index.
    int OnlyOneSide(bool inA, const PairSide& item, const std::string& otherPath, int parentMode,
                    bool isDsStore, std::int8_t& ifSkip);
    // May turn mode 0 into 8 or 9 when only the attributes of the two items changed.
    void CheckAttrChanged(const platform::ItemAttributes& a, const platform::ItemAttributes& b,
                          const std::string& aName, const std::string& bName, int& copyMode) const;

  private:
    // The two files of a pair (or a file and a link, a file and a folder), by task.
    int BackupPair(const PairSide& a, const PairSide& b);
    // settled: the pair is left as a conflict and nothing further is decided of it.
    int SyncPair(const PairSide& a, const PairSide& b, bool isDsStore, bool& settled);
    // A conflict of a Synchronize: asked, or settled by the policy.
    int AskSyncConflict(const PairSide& a, const PairSide& b, int mode,
                        std::optional<double> reference);
    // A file and a folder of the same name: the clash is asked, or settled by the policy.
    int FileAgainstFolder(const PairSide& a, const PairSide& b, int mode);
    // Which sides changed since the last run, in an Exact Synchronize whose index keeps records.
    enum class Changed { Unknown, Neither, OnlyA, OnlyB, Both };
    Changed ChangedSides(const PairSide& a, const PairSide& b) const;
    // The item changed since the last run on its side: none when the index cannot tell.
    std::optional<bool> ChangedSinceLastRun(const PairSide& item, int side) const;
    // Two items that are not copies of each other: dates beyond the delta, kinds, or sizes.
    bool Differ(const PairSide& a, const PairSide& b) const;
    // CheckAttrChanged, kept only where the two items' attributes really differ.
    void AttrChanged(const PairSide& a, const PairSide& b, int& copyMode) const;
    std::optional<double> ReferenceDate(const PairSide& a, const PairSide& b) const;
    // In an Exact Synchronize with its index: the two items were never in step under this
    // name, so that no date can tell which side the user changed: one side of a conflict
    // left as it was at the last run, or both made since it.
    bool NeverInStep(const PairSide& a, const PairSide& b) const;
    // A conflict of two items left as they are: counted, and in an exact task remembered, so
    // that later runs find it again until someone decides.
    int LeftAsConflict(const PairSide& a, const PairSide& b);
    int ExactBackupOnlyInB(const PairSide& b, const std::string& aPath, bool isDsStore);

    run::RunState& state_;
    PairFacts& facts_;
};

}  // namespace qv::engine
