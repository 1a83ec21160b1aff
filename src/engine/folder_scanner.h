#pragma once
// The walk of one task: both trees side by side, a decision for every item, and the tree of
// planned actions. Nothing on disk is changed. Errors and questions are handed to the run's
// listener as they are met.

#include <array>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/exact_sync_index.h"
#include "engine/exclude_list.h"
#include "engine/folder_listing.h"
#include "engine/item_filter.h"
#include "engine/pair_decision.h"
#include "engine/scan_listener.h"
#include "items/tw_utilities.h"
#include "items/validation.h"
#include "run/plan_item.h"
#include "run/run_state.h"

namespace qv::engine {

class SettledRecord;

class FolderScanner : private PairFacts {
  public:
    FolderScanner(run::RunState& state, ScanListener& listener, items::Validator& validator,
                  const items::TWUtilities& tw, const ExactSyncIndex& index, CaseProbe probe,
                  bool removeLeftovers = false);
    ~FolderScanner();

    enum class ScanResult {
        kComplete,          // every folder of both trees was read
        kWithFolderErrors,  // some folders could not be read: reported, counted, left as they are
        kFoldersNotFound,   // neither top folder is there: the task has nothing to walk
    };
    // Walks the task whose root is given (source, dest, copyMode and, for a file-to-file task,
    // its one preliminary sub-item already set). Temporaries an interrupted copy left are put
    // in root.leftovers, never planned.
    ScanResult ScanSingleFolder(run::TaskRoot& root);

    // The session's filters, asked about every item the walk meets (none: no filters).
    void SetFilter(const ItemFilter* filter) { filter_ = filter; }
    // Folders the walk never enters besides its own two tops (device, inode): the top folders
    // of the rows copied together with this one, which would otherwise be copied into
    // themselves.
    void SetOtherTops(std::vector<std::pair<dev_t, ino_t>> tops) { otherTops_ = std::move(tops); }

    // Rebuilds the lists of top-level items never copied and folders copied empty.
    void MakeItemsToDontCopyList();

    // May turn mode 0 into 8 or 9 when only the attributes of the two items changed.
    void CheckAttrChanged(const std::string& src, const std::string& dst, int& copyMode,
                          bool includeNames) const;

  private:
    struct Folder;
    using Side = PairSide;

    // A folder pair, in phases: whether both can be walked, their names listed and paired,
    // each pair screened, decided and planned (descending into sub-folders), and the folder's
    // own action settled from what stays inside it (the fold-up).
    bool ScanFolder(Folder& folder);
    // The names of a folder pair to examine, paired across the two sides (a or b null where
    // only the other side has the name).
    struct NamePair {
        const ListedItem* a;
        const ListedItem* b;
    };
    // Whether both folders of the pair can be walked; when not, the error is reported and
    // *result is what the walk answers.
    bool FoldersReadable(Folder& f, bool* result);
    // Lists both folders (or takes the one name of a file-to-file task, kept in single) and
    // pairs their names, starting the listing ahead of B's sub-folders (prefetchToken). False,
    // the folder reported and marked unread, when a listing fails.
    bool PairNames(Folder& f, std::array<ListedItem, 2>& single, FolderListing& aList,
                   FolderListing& bList, std::vector<NamePair>& pairs,
                   std::uint64_t& prefetchToken);
    // A task between two files: the one name prepared before the walk, on both sides.
    bool PairTheTwoFiles(Folder& f, std::array<ListedItem, 2>& single,
                         std::vector<NamePair>& pairs);
    // The two listings' names in the walk's order, paired (a plain Backup leaves out what only
    // B holds).
    void MergeNames(const Folder& f, const FolderListing& aList, const FolderListing& bList,
                    std::vector<NamePair>& pairs);
    // How the two folders of a pair were listed, for the pairs inside them.
    struct Listings {
        bool aCaseInsensitive;
        bool bCaseInsensitive;
        std::uint64_t prefetchToken;  // B's sub-folders, as named to the lister ahead
    };
    // The folder's path below both of the task's folders, when the walk records it for the
    // ExactSync index.
    std::optional<std::string> SettledKey(const Folder& f, const FolderListing& aList,
                                          const FolderListing& bList) const;
    void ScanPair(Folder& f, const NamePair& p, const Listings& listings, SettledRecord& record);
    // Passes by leftovers, the names never copied, excluded items and what cannot be copied
    // (special files); classifies and counts the rest. False: the pair is passed by.
    bool Screen(Folder& f, Side& a, Side& b, const Listings& listings, SettledRecord& record);
    // Checks the privileges of a decided pair and adds its planned item, walking down into it.
    void PlanPair(Folder& f, Side& a, Side& b, int mode, std::int8_t ifSkip,
                  std::uint64_t prefetchToken);
    // Scans the pair's sub-folders into item; false when the item is not to be planned (it
    // could not be read, has nothing to do, or is a new empty folder that is skipped).
    bool DescendInto(Folder& f, run::PlanItem& item, Side& a, Side& b, bool copyEmpty,
                     std::uint64_t prefetchToken);
    // A folder to delete that keeps something inside is descended into (or copied) instead.
    void FoldUp(Folder& f);
    // Opens a side's sub-folder for the walk, refusing one already on the walk's way down or
    // either top folder. True when there is no folder to open or it was opened.
    bool OpenSide(const platform::FolderHandle& parent, const Side& side,
                  platform::FolderHandle& dir, int& error);
    // A temporary of an interrupted copy (its name and the mark), noted for the executor.
    bool NoteIfLeftover(const platform::FolderHandle& dir, const std::string& folder,
                        const std::string& name, bool inB);
    // Every error of the walk leaves it here.
    void ReportError(ScanError::Kind kind, std::initializer_list<std::string_view> texts);
    void ReportUnreadable(const std::string& path, int error, const std::string& why);
    // caseInsensitive: the folder the item is listed in ignores case.
    bool Classify(Side& side, bool otherExists, bool caseInsensitive);
    // A FIFO, socket or device the walk passes by: counted, and logged; in a folder to delete,
    // an error naming it, since the folder then stays.
    void NoteIfSpecial(const Side& side, bool inFolderToDelete);
    // What the decisions ask of the disk, the index and the user.
    std::optional<double> BackupDate(const Side& side) const override;
    bool IsPackage(const Side& side) const;
    // A folder an interrupted copy left half-made (its filling mark).
    bool IsFilling(const Side& side) const;
    std::int64_t ItemsInFolder(const Side& folder) const override;
    bool AttributesDiffer(const Side& a, const Side& b) const override;
    bool SameContent(const Side& a, const Side& b) const override;
    bool WasLeftAsConflict(const std::string& path) const override {
        return index_.WasLeftAsConflict(path);
    }
    bool WasInIndex(const std::string& path, int side) const override;
    bool ChangedInside(const Side& folder, int side) const override;
    SinceLastRun ChangeSince(const Side& item, int side) const override {
        // An item reached through a link is not the index's.
        if (item.resolved) return SinceLastRun::Unknown;
        return index_.ChangeSince(item.path, side, item.isFolder, item.attrs);
    }
    bool Answer(const run::ConflictPolicy& policy, run::ConflictQuestion question,
                bool* changeDirection) override;
    bool CheckPrivileges(const Side& a, const Side& b, int copyMode);
    void FindVersionsFolders();
    bool IsVersionsFolder(const Folder& f, const Side& a, const Side& b) const;
    bool IsPseudoFileSystemMount(const Side& side, const platform::FolderHandle& parent) const;
    void Uncount(const std::vector<run::PlanItem>& items);
    // bytes: the file content the item's action copies (ContentToCopy).
    void Count(const run::PlanItem& item, std::uint64_t bytes);
    static std::uint64_t ContentToCopy(int copyMode, const Side& a, const Side& b);
    // Tells the front end how far the scan got, a few times a second at most.
    void ReportProgress();

    run::RunState& state_;
    ScanListener& listener_;
    items::Validator& validator_;
    const items::TWUtilities& tw_;
    const ExactSyncIndex& index_;
    CaseProbe probe_;
    bool removeLeftovers_;
    PairDecision decision_;  // remove the temporaries of an interrupted copy met on the way
    ExcludeList exclude_;
    BackgroundLister bLister_;
    // An Exact Synchronize that changes files: settled folders are kept for its index.
    bool recordSettled_ = false;
    std::optional<double> lastExactSync_;  // start of the run that wrote the loaded index
    run::TaskRoot* root_ = nullptr;
    std::size_t folderErrors_ = 0;
    // The folders on the walk's way down, both sides, and the two top folders: (device, inode).
    std::vector<std::pair<dev_t, ino_t>> ancestors_;
    std::vector<std::pair<dev_t, ino_t>> tops_;
    std::vector<std::pair<dev_t, ino_t>> otherTops_;
    bool aIsVolumeTop_ = false;
    bool bIsVolumeTop_ = false;
    // The versions folders of the task, never part of its plan: by path, and by identity
    // when one folder outside the sides was chosen.
    std::vector<std::string> versionsPaths_;
    std::vector<std::pair<dev_t, ino_t>> versionsIds_;
    std::uint32_t itemsSinceClockRead_ = 0;
    std::chrono::steady_clock::time_point lastProgress_;
    const ItemFilter* filter_ = nullptr;
};

// ".Trash" and ".Trash-UID": a desktop trash at the top of a volume.
bool IsTrashFolderName(const std::string& name);

// Name order of the walk: by the names' folded forms first, then by bytes.
int CompareNamesIgnoringCase(const std::string& x, const std::string& y);

}  // namespace qv::engine
