#pragma once
// The copy executor: performs the planned-actions trees of a run on disk. It creates folders,
// copies and replaces files, packages and symbolic links, deletes or trashes items, copies
// metadata only, gives each folder its final attributes once its content is done, counts and
// logs every action and reports every failure through the error path.
//
// Every copy is written under a temporary name in the destination folder and renamed into
// place in one step, so that a crash, a full disk or a kill leaves the old item or the new one,
// never a part of one. Temporaries carry the mark kTemporaryXattr until they are in place; the
// leftovers of an interrupted run that the scan lists are removed before a task's copy.
//
// Every action reaches its item through the open folders of the task, opened from the top
// folders down without following links: a folder swapped for a link makes the actions inside
// it fail, reported and counted, and never sends them elsewhere.

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fileops/copy_ahead.h"
#include "fileops/metadata.h"
#include "fileops/versions.h"
#include "items/error_path.h"
#include "items/temporary_names.h"
#include "items/tw_utilities.h"
#include "platform/deferred_close.h"
#include "platform/folder_handle.h"
#include "platform/unique_fd.h"
#include "run/copy_executor.h"
#include "run/main_thread_proxy.h"
#include "run/plan_item.h"

namespace qv::fileops {

// Removes an item and everything inside it, opening what is locked; true when it is gone.
bool RemoveItemRecursively(const std::string& path, const Metadata& metadata);
// The same for name in the open folder dirFd, never through a link.
bool RemoveItemAt(int dirFd, const std::string& name, const Metadata& metadata);

class Executor : public run::CopyExecutor {
  public:
    Executor(items::ErrorPath& errors, const items::TWUtilities& tw);

    void MainCopy(run::RunState& state, run::CopyHooks& hooks) override;

  private:
    // One side's folder of the items being performed: open, or why it could not be reached
    // (a folder swapped for a link, vanished, unreadable). The path is for people.
    struct Side {
        platform::FolderHandle folder;
        std::string path;
        int error = 0;
    };
    // An item as the executor reaches it: named in its side's folder, or, for an item whose
    // plan holds a whole path (a resolved alias or link), in the folder of that path.
    struct Place {
        Place(const Side& side, const std::string& name, const std::string* wholePath);
        Place(const Place&) = delete;
        Place& operator=(const Place&) = delete;
        const platform::FolderHandle* folder;
        const std::string* name;
        std::string path;
        std::string folderPath;  // the path of the item's folder, for people
        int error;               // why the folder cannot be reached; 0 when it can
        ItemAt at() const { return {*folder, *name, path}; }
        int fd() const { return folder->fd(); }
        bool reachable() const { return folder->valid(); }

      private:
        platform::FolderHandle ownFolder_;
        std::string ownName_;
    };
    // A complete copy waiting under its temporary name in the destination folder. A regular
    // file's copy keeps both files open: what is left of its attributes is given through them
    // once it is in place (FinishTemporary).
    struct Temporary {
        std::string name;
        std::string path;
        bool isFile = false;
        bool isLink = false;
        platform::UniqueFd src, dst;
        struct statx stx {};
        OpenCopyAttrs attrs;
    };

    void RemoveLeftovers(const run::TaskRoot& root, const Side& a, const Side& b);
    // Whether the item an action replaces or deletes differs from what the scan saw (the
    // change is reported as that item's error).
    bool ChangedSinceScan(const run::SeenItem& seen, const Place& item, bool deleting);
    // Trashes or deletes the folder a file or link replaces, counting and logging every item.
    bool RemoveReplacedFolder(const Place& to, bool aToB, std::string& err);
    // Puts the copy (temp) in place of the folder at `to`, under the name target: the two
    // change places in one step and the folder then goes from its marked temporary name, so
    // that an end of the process at any moment leaves the folder or the copy at the name.
    bool ReplaceFolderByItem(const Place& to, Temporary& temp, const std::string& target, bool aToB,
                             std::string& err);
    void CountRemovedItems(const std::vector<std::pair<std::string, bool>>& items, bool aToB,
                           bool trash);
    void KeepDeletionInIndex(const run::PlanItem& item, const Place& source, const Place& dest);
    // One task root: its top folders opened and checked against the scan's, its items, and
    // what the index learns of them; false when the task was not done.
    bool CopyTaskRoot(std::size_t r, run::TaskLog& task);
    bool OpenTops(const run::TaskRoot& root, Side& a, Side& b);
    bool CopyItems(std::vector<run::PlanItem>& items, const Side& a, const Side& b,
                   bool deleteParent);
    // The modification dates of a folder pair before its content is acted on.
    struct FolderDates {
        std::optional<platform::Timestamp> source, dest;
    };
    static FolderDates DatesOf(const Place& source, const Place& dest);
    bool WalkedThoughSkipped(const run::PlanItem& item) const;
    bool DeleteFolderWithContent(run::PlanItem& item, const Place& source, const Place& dest,
                                 bool deleteParent);
    bool ActOn(run::PlanItem& item, const Place& source, const Place& dest, bool deleteParent);
    // The item's two paths among the done or the failed items of the task root.
    void NoteActedOn(const Place& source, const Place& dest, bool ok);
    // Walks into a folder pair, then gives the folders their attributes.
    bool WalkIntoFolder(run::PlanItem& item, const Place& source, const Place& dest,
                        const FolderDates& dates);
    void GiveFolderAttributes(const run::PlanItem& item, const Place& source, const Place& dest,
                              const Side& childA, const Side& childB, const FolderDates& dates);
    Side Child(const Place& place) const;
    bool CopySource(const Place& source, const Place& dest, int copyMode, bool deleteParent,
                    const run::SeenItem& seen);
    // Reports an action that cannot be done because the folder of `item` cannot be reached;
    // true (nothing to report) when that folder was deleted by this run.
    bool Unreachable(const Place& item, const std::string& action);
    bool CreateFolder(const Place& folder, bool aToB, bool destExists);
    bool DeleteFolder(const Place& folder, bool aToB, bool deleteParent);
    // fromAttrs: from as CopySource found it.
    bool CopyFile(const Place& from, const platform::ItemAttributes& fromAttrs, const Place& to,
                  bool aToB, bool isSymLink, bool isPackage, std::string& err);
    // seen: the item replaced as the scan saw it.
    bool ReplaceDestFile(const Place& to, const Place& from,
                         const platform::ItemAttributes& fromAttrs, bool aToB, bool isSymLink,
                         bool isPackage, const run::SeenItem& seen, std::string& err);
    bool DeleteFile(const Place& item, bool aToB, bool exists, bool deleteParent, std::string& err);
    bool CopySingleMetadataOnly(const Place& from, const Place& to);
    // The free space of the volume holding folder must exceed the size of item.
    bool CheckFreeSpaceFor(const Place& item, const platform::FolderHandle& folder,
                           std::string& err);

    // Writes a complete copy of from under a fresh temporary name in folder, never the name
    // `avoid` (the item it is to replace or become). False when it cannot (err says why, and
    // no temporary is left).
    bool CopyToTemporary(const Place& from, const platform::ItemAttributes& fromAttrs,
                         const platform::FolderHandle& folder, const std::string& avoid,
                         std::string& err, Temporary& temp);
    // CopyToTemporary for a regular file, through open descriptors. False with an empty err
    // when from is no longer a regular file.
    bool CopyRegularToTemporary(const Place& from, const platform::ItemAttributes& fromAttrs,
                                const platform::FolderHandle& folder, const std::string& avoid,
                                std::string& err, Temporary& temp);
    // The steps of CopyRegularToTemporary, in their order. Opening the source: it may no
    // longer be the regular file CopySource found, which is left to the general copy.
    enum class SourceOpening { Opened, NotTheRegularFileFound, Failed };
    SourceOpening OpenRegularSource(const Place& from, const platform::ItemAttributes& before,
                                    Temporary& temp, std::string& why);
    // Takes the copy made ahead of the open source and names it: nothing when there is none,
    // false when it could not be named (why says so, and the copy is gone).
    std::optional<bool> UseCopyMadeAhead(const Place& from, const platform::FolderHandle& folder,
                                         const std::string& avoid, Temporary& temp,
                                         std::string& why);
    // Opens dst for writing, unnamed where the file system allows it, else under a fresh
    // temporary name.
    bool OpenTemporaryFile(const platform::FolderHandle& folder, const std::string& avoid,
                           Temporary& temp, std::string& why);
    // Copies the content of src into the marked dst; false when it could not (why says so).
    bool WriteTemporaryContent(const platform::FolderHandle& folder, Temporary& temp,
                               std::string& why);
    // Whether src no longer stands as it did when its copy began.
    static bool SourceChangedDuringCopy(const Temporary& temp);
    // Gives the complete copy what of src's attributes can be given before it has its name, and
    // shows the write errors kept for the closing of a descriptor.
    void GiveAttributesToOpenCopy(const Place& from, const platform::FolderHandle& folder,
                                  Temporary& temp, std::string& why);
    // Gives the open, marked, complete file dst a temporary name in folder.
    bool NameTemporaryFile(const platform::FolderHandle& folder, const std::string& avoid,
                           Temporary& temp, std::string& err);
    // Gives a finished temporary the name `to`, at which nothing may stand.
    bool PutNew(const platform::FolderHandle& folder, Temporary& temp, const std::string& to,
                std::string& err);
    // Moves a finished temporary into place over whatever stands at `to`; a file over a file
    // seen by the scan (seen) is swapped in with SwapInPlace.
    // onB: the folder is on side B. What stood at `to` is kept as a version when the session
    // keeps them.
    bool PutInPlace(const platform::FolderHandle& folder, Temporary& temp, const std::string& to,
                    std::string& err, const run::SeenItem* seen, bool onB);
    // Exchanges a finished file copy with the file at `to`, then removes that one if it is still
    // as the scan saw it, else puts it back. Nothing when the file system has no exchange.
    std::optional<bool> SwapInPlace(const platform::FolderHandle& folder, Temporary& temp,
                                    const std::string& to, const run::SeenItem& seen,
                                    std::string& err, bool onB);
    // Moves the item name of folder (on side B or A) into the versions folder as a version of
    // originalName, logged and counted; false, *why saying why, when it stays where it is.
    // copyOnly: a copy goes there, the item stays.
    bool KeepVersion(const platform::FolderHandle& folder, const std::string& name,
                     const std::string& originalName, bool onB, std::string* why,
                     bool copyOnly = false);
    // Before the item `name` of folder is replaced: when the versions folder lies on another
    // file system, its version is copied now, so that no moment of the replacement leaves the
    // old content only under a temporary name. *copied says whether it was.
    bool CopyVersionFirst(const platform::FolderHandle& folder, const std::string& name, bool onB,
                          bool* copied, std::string& err);
    // What a replacement took the place of, now under the name `name` of folder: kept as a
    // version (unless versionCopied says it has one already), or removed. False, with err, when
    // it could be neither.
    bool DisposeReplaced(const platform::FolderHandle& folder, const std::string& name,
                         const std::string& originalName, bool onB, std::string& err,
                         bool versionCopied = false);
    // After an exchange put the copy at `to` and the old item at `old`: the two change places
    // again and the copy goes, so that the old item stays where it was (or, should that fail,
    // stays unmarked at `old`, which err then names).
    void UndoExchange(const platform::FolderHandle& folder, Temporary& temp, const std::string& old,
                      const std::string& to, std::string& err);
    // Removes a temporary that will not be put in place.
    void DiscardTemporary(const platform::FolderHandle& folder, Temporary& temp);
    // The attributes of a copy just put in place at `to`; false when some could not be given.
    bool FinishTemporary(const Place& from, const platform::FolderHandle& folder,
                         const std::string& to, Temporary& temp, bool isNew);

    // Every failure of an item ends here: reported through the error path, counted once.
    void Report(const std::string& message, const std::string& title = {});
    void LogAction(const std::string& line, bool toTrashLog = false);
    bool WasDeleted(const std::string& path) const;
    // Whether a copied item counts as invisible: a dot name, the Finder flag, or ".hidden".
    // mayHaveFinderInfo: false when the copy found none on the item.
    bool IsInvisibleToCount(const Place& item, bool mayHaveFinderInfo = true);
    // Counts a copied item among the visible or the invisible ones of its direction.
    void CountVisibility(const Place& from, bool aToB, bool mayHaveFinderInfo);
    // The open folders from the top folder down to the folder of the items being performed,
    // on the side an action changes (forWriting) or deletes on.
    const FolderChain& Chain(bool aToB, bool forWriting) const;

    items::ErrorPath& errors_;
    const items::TWUtilities& tw_;
    // Frees the files this run replaced or deleted beside its next copies.
    platform::DeferredCloser closer_;
    // The copies of the task being performed made ahead, and the item being performed when it
    // may have one.
    CopyAhead* ahead_ = nullptr;
    const run::PlanItem* aheadItem_ = nullptr;
    Metadata metadata_;
    VersionKeeper versions_{metadata_};
    run::RunState* state_ = nullptr;
    std::size_t currentRoot_ = 0;      // the task root being copied, in the run's list
    RestoreTable* current_ = nullptr;  // receives what unlock chains relax
    FolderChain sourceChain_, destChain_;
    // The last destination folder found existing and writable: the files of one folder are
    // copied one after the other, and nothing but this run changes it meanwhile.
    std::optional<std::pair<dev_t, ino_t>> lastWritableFolder_;
    // The destination folder where the file systems last refused a reflink, per source device.
    std::optional<std::pair<dev_t, ino_t>> noCloneFolder_;
    dev_t noCloneDevice_ = 0;
    // A device whose file system refused an unnamed file.
    std::optional<dev_t> noTmpFileDevice_;
    // The ".hidden" list of the folder last asked about.
    std::optional<std::pair<dev_t, ino_t>> hiddenListFolder_;
    std::set<std::string> hiddenList_;
    struct Phrases {
        std::string createdFolder, trashedFolder, deletedFolder, copiedFile, to, replacedFile,
            withTheMostRecentFile, deletedFile, trashedFile, error, versionKept;
    } phrases_;
};

// The copy executor a run is given: each copy reports through that run's own error path.
class RunExecutor : public run::CopyExecutor {
  public:
    RunExecutor(run::MainThreadProxy& proxy, const items::TWUtilities& tw)
        : proxy_(proxy), tw_(tw) {}
    void MainCopy(run::RunState& state, run::CopyHooks& hooks) override {
        items::ErrorPath errors(state, proxy_);
        Executor(errors, tw_).MainCopy(state, hooks);
    }

  private:
    run::MainThreadProxy& proxy_;
    const items::TWUtilities& tw_;
};

}  // namespace qv::fileops
