#pragma once
// The ExactSync index kept on disk in the "ExactSync Indexes" folder of the support folder: a
// main index mapping each pair of folders to its pair file, and per pair the names both trees
// held at the end of the pair's last Exact Synchronize. A pair found with its folders swapped
// is the same pair: its two trees are then read the other way round.
//
// Both files are binary property lists written atomically. Names and paths that are not valid
// UTF-8 cannot be property-list texts: they are stored escaped (EncodeIndexText).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "engine/exact_sync_index.h"
#include "sessions/plist_value.h"
#include "sessions/plist_view.h"

namespace qv::plist {
struct NameTree;
}  // namespace qv::plist

namespace qv::engine {

inline constexpr const char* kExactSyncMainIndexName = "QV3ExactSyncMainIndex.plist";
inline constexpr const char* kExactSyncPairIndexName = "QV3ExactSyncIndex.plist";
// "QV3ExactSyncJournal <16 hex digits>.plist": the deletions a run of a pair is making.
inline constexpr const char* kJournalPrefix = "QV3ExactSyncJournal ";
// "QV3LeftConflicts <16 hex digits>.plist": the conflicts a Synchronize of a pair left as they
// were, an array of paths.
inline constexpr const char* kLeftConflictsPrefix = "QV3LeftConflicts ";
inline constexpr std::int64_t kExactSyncIndexVersion = 321;
// From this version on, a pair file keeps each item's record (ItemRecord) as the value of its
// name: an integer, or the empty text for an item whose record was not kept.
inline constexpr std::int64_t kFirstVersionWithRecords = 321;
// Pair file key: the files of the trees whose backup date the run that wrote the file left as
// it was (a conflict skipped, a deletion cancelled, a stamp that failed). The next run stamps
// them again even when they are in step, so that their date catches up.
inline constexpr const char* kKeptBackupDatesKey = "keptBackupDateArray";
// Both paths of each conflict the run left as it was: the next run finds them in conflict
// again, whatever the dates say, until someone decides.
inline constexpr const char* kSkippedConflictsKey = "skippedConflictArray";
// Which folders the index was made from: "FSID:INODE" of each top folder.
inline constexpr const char* kSourceIdentityKey = "sourceFolderID";
inline constexpr const char* kDestIdentityKey = "destFolderID";

// A text that is valid UTF-8 and does not begin with "%" is stored as it is; any other gets a
// leading "%" and has "%", control characters and every byte above 0x7E written as %XX.
std::string EncodeIndexText(std::string_view text);
// The reverse; none for a text no encoding produces.
std::optional<std::string> DecodeIndexText(std::string_view text);

class ExactSyncIndexStore : public ExactSyncIndex {
  public:
    explicit ExactSyncIndexStore(std::string indexFolder);

    bool ExactSyncFileExists(const ExactSyncTask& task, bool load) override;
    bool ItWasExixting(const std::string& path, int side) const override;
    bool WasFileAtLastRun(const std::string& path, int side) const override;
    bool WasLeftAsConflict(const std::string& path) const override;
    SinceLastRun ChangeSince(const std::string& path, int side, bool isFolder,
                             const platform::ItemAttributes& now) const override;
    // The record the index keeps of a file; 0 when it keeps none.
    std::uint64_t RecordAt(const std::string& path, int side) const;
    std::optional<double> LastExactSyncDate() const override { return lastExactSyncDate_; }
    std::string LoadProblem() const override { return loadProblem_; }
    int ChangedTopSide() const override { return changedTopSide_; }
    // A task whose index stays as it was (its walk or its copy did not complete) may still have
    // deleted items on the index's word: the index forgets them (deleted: absolute paths; those
    // outside the two folders are ignored), or the next run would take an item put back at such
    // a path for one deleted on the other side since, and delete it again. When the index
    // cannot be corrected it is dropped: nothing is deleted on its word any more.
    void ForgetDeletedItems(const std::string& sourceFolder, const std::string& destFolder,
                            const std::vector<std::string>& deleted,
                            const std::vector<std::string>& done = {}) override;
    bool WriteExactSyncIndex(int mode, items::ErrorPath& errors,
                             const items::TWUtilities& tw) override;
    void JournalDeletions(const std::string& sourceFolder, const std::string& destFolder,
                          const std::vector<PlannedDeletion>& deleting) override;
    void ClearJournal(const std::string& sourceFolder, const std::string& destFolder) override;
    void KeepLeftConflicts(const std::string& sourceFolder, const std::string& destFolder,
                           const std::vector<std::string>& paths) override;
    // The record of the pair's deletions, one file a pair (either orientation).
    std::string JournalPath(const std::string& sourceFolder, const std::string& destFolder) const;
    // The record of the conflicts the pair's last Synchronize left, likewise.
    std::string LeftConflictsPath(const std::string& sourceFolder,
                                  const std::string& destFolder) const;

    std::string MainIndexPath() const;

  private:
    enum class Presence { Absent, Folder, File };
    struct Found {
        Presence presence = Presence::Absent;
        std::optional<std::uint64_t> object;  // the item's value (none for the top folders)
    };
    Found Lookup(const std::string& path, int side) const;
    Found LookupInTree(const std::string& path, int side) const;
    void DropTrees();
    // A pair file the main index names for a task, open in place.
    struct PairFile {
        plist::BinaryView view;
        std::string path;
        std::size_t entryIndex = 0;  // its entry in indexFilesList
        int match = 0;               // 1: its trees as the task names its folders, 2: reversed
        double version = 0;          // its format version
    };
    // The conflicts the pair's last Synchronize left as they were.
    void ReadLeftConflicts(const ExactSyncTask& task);
    // The first file listed (indexFilesList) for the pair that opens, in a format this store
    // reads, and is made for the pair's folders; loadProblem_ says why the last one tried was
    // not taken.
    bool FindPairFile(const plist::Value& list, const std::string& source, const std::string& dest,
                      PairFile& pair);
    // The pair file's trees become the index's, when they are whole and of the task's folders.
    bool TakeTrees(const ExactSyncTask& task, PairFile& pair);
    // The task's folders are those the loaded trees were made from (match: as in PairFile).
    bool MadeFromTaskFolders(const ExactSyncTask& task, int match);
    // The paths the loaded file keeps apart: kKeptBackupDatesKey, kSkippedConflictsKey.
    void ReadPathLists();
    // A record left by a run that ended while deleting: its items are forgotten, the record
    // removed.
    void ReplayJournal(const std::string& sourceFolder, const std::string& destFolder);
    // The pair's file and entry go: nothing is deleted on its word any more.
    void DropPair(const std::string& sourceFolder, const std::string& destFolder);
    // The pair file the main index names for the two folders, or none.
    std::optional<std::string> PairFilePath(const std::string& sourceFolder,
                                            const std::string& destFolder) const;
    // The index folder and its main index are there to be written to; false, reported, when
    // they cannot be made.
    bool MakeMainIndex(items::ErrorPath& errors, const std::string& mainPath) const;
    // The main index read to be updated: one of another version starts again empty; nothing,
    // reported, when its list of pairs cannot be written.
    std::optional<plist::Value> MainIndexToUpdate(items::ErrorPath& errors,
                                                  const std::string& mainPath) const;
    // Where the pair's file is to be written: its file, or a new one entered in the main index.
    // Nothing when mode 1 finds the file already there, or (reported) when no new one can be
    // entered.
    std::optional<std::string> PairFileToWrite(int mode, items::ErrorPath& errors,
                                               const items::TWUtilities& tw,
                                               const std::string& mainPath, plist::Value& mainIndex,
                                               const std::string& source,
                                               const std::string& dest) const;
    // The pair's trees made from what the folders hold now; the files whose backup date stays
    // as it was go into the pair. False, reported, when a folder could not be read.
    bool BuildPairTrees(items::ErrorPath& errors, const items::TWUtilities& tw, plist::Value& pair,
                        plist::NameTree& treeSource, plist::NameTree& treeDest);
    // The pair file and its trees written in place of the last one, atomically; false,
    // reported, when it cannot be.
    bool WritePairFile(items::ErrorPath& errors, const std::string& pairPath,
                       const plist::Value& pair, plist::NameTree& treeSource,
                       plist::NameTree& treeDest) const;
    bool Report(items::ErrorPath& errors, const std::string& sentence, const std::string& path,
                bool folderFailure, bool uniqueNameFailure) const;

    std::string folder_;
    plist::BinaryView loaded_;  // the pair file the trees below are objects of
    std::optional<std::uint64_t> gExactSyncDictSrc;
    std::optional<std::uint64_t> gExactSyncDictDst;
    // The folder of the last lookup on each side and its dictionary: the scan asks about the
    // items of one folder after another.
    mutable std::string lastFolder_[2];
    mutable std::optional<std::uint64_t> lastFolderDict_[2];
    mutable std::string lastPath_[2];  // the item of the last lookup on each side
    mutable Found lastFound_[2];
    std::unordered_set<std::string> keptBackupDates_;   // stored texts of kKeptBackupDatesKey
    std::unordered_set<std::string> skippedConflicts_;  // stored texts of kSkippedConflictsKey
    std::unordered_set<std::string> leftConflicts_;     // of the left-conflicts record
    std::size_t gExactSyncShiftPathSrc = 0;
    std::size_t gExactSyncShiftPathDst = 0;
    std::optional<double> lastExactSyncDate_;
    bool keepsRecords_ = false;
    std::string loadedSource_, loadedDest_;  // the task the trees above are of
    std::string loadProblem_;
    int changedTopSide_ = -1;
};

}  // namespace qv::engine
