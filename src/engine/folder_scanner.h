#pragma once
// The walk of one task: both trees side by side, a decision for every item, and the tree of
// planned actions. Nothing on disk is changed. Questions and errors go through the error path,
// and so through the main-thread proxy.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/exact_sync_index.h"
#include "engine/folder_listing.h"
#include "fileops/error_path.h"
#include "fileops/tw_utilities.h"
#include "fileops/validation.h"
#include "run/plan_item.h"
#include "run/run_state.h"

namespace qv::engine {

// Titles of the check-boxes that the privilege hints name.
inline constexpr const char* kRunAsRootCheckboxTitle = "Run with root privileges";
inline constexpr const char* kUnlockCheckboxTitle = "Unlock locked items";

class FolderScanner {
  public:
    FolderScanner(run::RunState& state, fileops::ErrorPath& errors, fileops::Validator& validator,
                  const fileops::TWUtilities& tw, const ExactSyncIndex& index, CaseProbe probe,
                  bool removeLeftovers = false);
    ~FolderScanner();

    // Walks the task whose root is given (source, dest, copyMode and, for a file-to-file task,
    // its one preliminary sub-item already set). False when neither folder of a pair exists.
    bool ScanSingleFolder(run::TaskRoot& root);

    // Rebuilds the lists of top-level items never copied and folders copied empty.
    void MakeItemsToDontCopyList();

    // May turn mode 0 into 8 or 9 when only the attributes of the two items changed.
    void CheckAttrChanged(const std::string& src, const std::string& dst, int& copyMode,
                          bool includeNames) const;

  private:
    struct Folder;
    struct Side;

    bool ScanFolder(Folder& folder);
    bool Classify(Side& side, bool otherExists);
    int DecideBothExist(const Side& a, const Side& b, bool isDsStore);
    int DecideOnlyA(const Side& a, const std::string& bPath, int parentMode, bool isDsStore,
                    std::int8_t& ifSkip);
    int DecideOnlyB(const Side& b, const std::string& aPath, int parentMode, bool isDsStore,
                    std::int8_t& ifSkip);
    void CheckAttrChanged(const platform::ItemAttributes& a, const platform::ItemAttributes& b,
                          const std::string& aName, const std::string& bName, int& copyMode) const;
    bool Answer(const run::ConflictPolicy& policy, run::ConflictQuestion question,
                bool* changeDirection = nullptr);
    std::optional<double> ReferenceDate(const Side& a, const Side& b) const;
    std::optional<double> BackupDate(const Side& side) const;
    bool CheckPrivileges(const Side& a, const Side& b, int copyMode);
    bool IsPseudoFileSystemMount(const Side& side, dev_t parentDev) const;
    void Uncount(const std::vector<run::PlanItem>& items);
    void Count(const run::PlanItem& item);
    // Tells the front end how far the scan got, a few times a second at most.
    void ReportProgress();

    run::RunState& state_;
    fileops::ErrorPath& errors_;
    fileops::Validator& validator_;
    const fileops::TWUtilities& tw_;
    const ExactSyncIndex& index_;
    CaseProbe probe_;
    bool removeLeftovers_;  // remove the temporaries of an interrupted copy met on the way
    BackgroundLister bLister_;
    // An Exact Synchronize that changes files: settled folders are kept for its index.
    bool recordSettled_ = false;
    std::optional<double> lastExactSync_;  // start of the run that wrote the loaded index
    std::uint32_t itemsSinceClockRead_ = 0;
    std::chrono::steady_clock::time_point lastProgress_;
};

// Name order of the walk: ignoring ASCII case first, then by bytes.
int CompareNamesIgnoringCase(const std::string& x, const std::string& y);

}  // namespace qv::engine
