#pragma once
// The copy executor: performs the planned-actions trees of a run on disk. It creates folders,
// copies and replaces files, packages and symbolic links, deletes or trashes items, copies
// metadata only, gives each folder its final attributes once its content is done, counts and
// logs every action and reports every failure through the error path.
//
// Every copy is written under a temporary name in the destination folder and renamed into
// place in one step, so that a crash, a full disk or a kill leaves the old item or the new one,
// never a part of one. Temporaries carry the mark kTemporaryXattr until they are in place; the
// scan removes marked leftovers of an interrupted run.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fileops/error_path.h"
#include "fileops/metadata.h"
#include "fileops/tw_utilities.h"
#include "run/copy_executor.h"
#include "run/main_thread_proxy.h"
#include "run/plan_item.h"

namespace qv::fileops {

inline constexpr const char* kReplaceTempName = "QVTempFile";
inline constexpr const char* kRenameTempName = "Quorvel_Temporary_Name";

// True for "QVTempFile" and "QVTempFile N": the names the executor writes copies under.
bool IsTemporaryName(const std::string& name);
// A leftover of an interrupted copy: a temporary name and the mark.
bool IsMarkedTemporary(const std::string& path, const std::string& name);
// Removes an item and everything inside it, opening what is locked; true when it is gone.
bool RemoveItemRecursively(const std::string& path, const Metadata& metadata);

class Executor : public run::CopyExecutor {
  public:
    Executor(ErrorPath& errors, const TWUtilities& tw);

    void MainCopy(run::RunState& state, run::CopyHooks& hooks) override;

    // Single actions, public for tests.
    bool CopySource(const std::string& source, const std::string& dest, int copyMode,
                    bool deleteParent);
    // The free space of the volume holding folder must exceed the size of item.
    bool CheckFreeSpaceFor(const std::string& item, const std::string& folder, std::string& err);

  private:
    bool CopyItems(std::vector<run::PlanItem>& items, const std::string& parentSource,
                   const std::string& parentDest, bool deleteParent);
    bool CreateFolder(const std::string& folder, const std::string& parent, bool aToB,
                      bool destExists);
    bool DeleteFolder(const std::string& folder, bool aToB, bool deleteParent);
    bool DestParentExists(const std::string& parent, const std::string& from, const std::string& to,
                          bool& bail);
    bool CopyFile(const std::string& from, const std::string& to, const std::string& parent,
                  bool aToB, bool isSymLink, bool isPackage, std::string& err);
    bool ReplaceDestFile(const std::string& to, const std::string& from, const std::string& parent,
                         bool aToB, bool isSymLink, bool isPackage, std::string& err);
    bool DeleteFile(const std::string& path, bool aToB, bool exists, bool deleteParent,
                    std::string& err);
    bool CopySingleMetadataOnly(const std::string& from, const std::string& to);

    // Writes a complete copy of from under a fresh temporary name in folder; the path of the
    // temporary, or nothing (err says why, and no temporary is left).
    // A regular file's copy has its attributes already, but for what `open` says is left for
    // its final place (FinishOpenCopy).
    struct OpenCopy {
        struct statx stx {};
        OpenCopyAttrs attrs;
    };
    std::optional<std::string> CopyToTemporary(const std::string& from, const std::string& folder,
                                               std::string& err, std::optional<OpenCopy>& open);
    // CopyToTemporary for a regular file, through open descriptors. Nothing with an empty err
    // when from is no longer a regular file.
    std::optional<std::string> CopyRegularToTemporary(const std::string& from,
                                                      const std::string& folder, std::string& err,
                                                      OpenCopy& open);
    // The attributes of a copy just put in place at `to`.
    void SetAttrsInPlace(const std::string& from, const std::string& to,
                         const std::optional<OpenCopy>& open, bool isNew);
    // Gives a finished temporary the name `to`, at which nothing may stand.
    bool PutNew(const std::string& temp, const std::string& to, std::string& err);
    // Moves a finished temporary into place over whatever stands at `to`; tempIsFile: the
    // temporary is known to be a regular file.
    bool PutInPlace(const std::string& temp, const std::string& to, std::string& err,
                    bool tempIsFile);

    void Report(const std::string& message);
    void LogAction(const std::string& line, bool toTrashLog = false);
    bool WasDeleted(const std::string& path) const;
    // Whether a copied item counts as invisible: a dot name, the Finder flag, or ".hidden".
    // mayHaveFinderInfo: false when the copy found none on the item.
    bool IsInvisibleToCount(const std::string& path, bool mayHaveFinderInfo = true);
    // Counts a copied item among the visible or the invisible ones of its direction.
    void CountVisibility(const std::string& from, bool aToB, bool mayHaveFinderInfo);
    const std::string& MainFolder(bool aToB, bool forWriting) const;

    ErrorPath& errors_;
    const TWUtilities& tw_;
    Metadata metadata_;
    run::RunState* state_ = nullptr;
    RestoreTable* current_ = nullptr;  // receives what unlock chains relax
    // The last destination folder found existing and writable: the files of one folder are
    // copied one after the other, and nothing but this run changes it meanwhile.
    std::string lastWritableParent_;
    // The destination folder where the file systems last refused a reflink, per source device.
    std::string noCloneFolder_;
    dev_t noCloneDevice_ = 0;
    // The ".hidden" list of the folder last asked about.
    std::string hiddenListFolder_;
    std::set<std::string> hiddenList_;
    struct Phrases {
        std::string createdFolder, trashedFolder, deletedFolder, copiedFile, to, replacedFile,
            withTheMostRecentFile, deletedFile, trashedFile, error;
    } phrases_;
};

// The copy executor a run is given: each copy reports through that run's own error path.
class RunExecutor : public run::CopyExecutor {
  public:
    RunExecutor(run::MainThreadProxy& proxy, const TWUtilities& tw) : proxy_(proxy), tw_(tw) {}
    void MainCopy(run::RunState& state, run::CopyHooks& hooks) override {
        ErrorPath errors(state, proxy_);
        Executor(errors, tw_).MainCopy(state, hooks);
    }

  private:
    run::MainThreadProxy& proxy_;
    const TWUtilities& tw_;
};

}  // namespace qv::fileops
