#pragma once
// The preview of a run's planned actions, without any window: a tree of nodes over the task
// roots and their planned items, and the changes a user makes before the copy starts (skipping
// or re-enabling items with their sub-trees, turning a replacement around), kept in step with
// the run's counters and ExactSync addition lists. The window and the terminal preview both
// drive it; the executor then performs the changed plan.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "run/plan_item.h"
#include "run/run_state.h"

namespace qv::items {
class TWUtilities;
}

namespace qv::engine {

// One row of the preview: a task root or a planned item. Nodes hold no copy of the plan: a
// planned item stays as lean as the scan made it, and only the rows a user opens get nodes.
class PreviewNode {
  public:
    PreviewNode(run::TaskRoot* root, run::PlanItem* item, PreviewNode* parent, std::size_t task,
                std::uint32_t indexInParent);

    bool isRoot() const { return item_ == nullptr; }
    run::TaskRoot& taskRoot() const { return *root_; }
    run::PlanItem* item() const { return item_; }
    PreviewNode* parent() const { return parent_; }
    // The node's task in the run's task root list (and its ExactSync addition list).
    std::size_t firstNodeIndex() const { return task_; }
    std::uint32_t indexInParent() const { return indexInParent_; }
    int level() const;

    int copyMode() const { return item_ ? item_->copyMode : root_->copyMode; }
    void setCopyMode(int mode) const;
    // The item's two paths, and the names the two columns show ("/" for none).
    std::string source() const;
    std::string dest() const;
    std::string sourceName() const;
    std::string destName() const;

    // -1 for an item that is not a folder; children are made on first request.
    std::int64_t numberOfChildren() const;
    PreviewNode& childAt(std::size_t index);
    bool childrenMade() const { return made_; }

  private:
    void MakeChildren();

    run::TaskRoot* root_;
    run::PlanItem* item_;
    PreviewNode* parent_;
    std::size_t task_;
    std::uint32_t indexInParent_;
    bool made_ = false;
    std::vector<PreviewNode> children_;
};

// What the search buttons look for; the values are the buttons' tags.
enum class PreviewKind : int {
    kSkipped = 0,
    kFolder = 1,
    kAtoB = 2,    // copies and replacements A to B
    kBtoA = 3,    // copies and replacements B to A
    kDelete = 6,  // deletions (or moves to the trash) on either side
    kAttrAtoB = 8,
    kAttrBtoA = 9,
};
bool IsOfKind(int copyMode, PreviewKind kind);
// A search kind from its tag or its name ("skipped", "folder", "atob", "btoa", "delete",
// "attratob", "attrbtoa").
std::optional<PreviewKind> PreviewKindNamed(const std::string& name);

// The totals box: the run's eight counters and the bytes to copy.
struct PreviewTotals {
    std::int64_t foldersToDescend = 0;
    std::int64_t skipped = 0;
    std::int64_t toDelete = 0;
    std::int64_t atoB = 0;
    std::int64_t btoA = 0;
    std::int64_t attrAtoB = 0;
    std::int64_t attrBtoA = 0;
    std::int64_t total = 0;
    std::uint64_t bytes = 0;  // the content the copies and replacements carry
    bool operator==(const PreviewTotals&) const = default;
};

// "Preview - Multiple Sessions", "Preview - Exact Sync", "Preview - Backup", ...
std::string PreviewTitle(bool allSessions, bool exact, bool sync);

// One side of an item as the info boxes show it; every field "--" when the item is not there.
struct PreviewSideInfo {
    bool exists = false;
    std::string name = "--";
    std::string modificationDate = "--";
    std::string backupDate = "--";
    std::string attributeDate = "--";
    std::string size = "--";  // "1,234 bytes"; "--" for a folder that is not a package
    std::string path = "--";
};
PreviewSideInfo DescribeSide(const items::TWUtilities& tw, const std::string& path);
// "1,234,567 bytes".
std::string GroupedBytes(std::uint64_t bytes);

class PreviewModel {
  public:
    // The state's task roots, counters and addition lists are changed in place.
    explicit PreviewModel(run::RunState& state);

    std::size_t totRootItems() const { return roots_.size(); }
    PreviewNode& rootItem(std::size_t index) { return roots_.at(index); }

    // A click on the mode of a row: skips a planned item or re-enables a skipped one, with its
    // whole sub-tree. Re-enabling an item that is not a deletion re-enables the skipped folders
    // around it (they must be made for it); skipping a deletion skips the folders around it
    // planned for deletion (they can no longer be deleted whole).
    void ToggleSkip(PreviewNode& node);
    // Whether the row's action can be turned around: a replacement in a Synchronize task, or
    // the deletion of a file there that the other side deleted (outside a folder deleted whole).
    static bool IsTurnable(const PreviewNode& node);
    // Turns it around: A wins or B wins; a deletion becomes the copy back of the item to the
    // side that deleted it, and back. False, and nothing changed, for anything else.
    bool ChangeCopyModeDirection(PreviewNode& node);

    // The next (or previous) row of a kind in display order after `from` (or from the first
    // row, or the last when searching backwards, with none), nodes made on the way so that the
    // window can open its parents. Items inside closed folders are found too. Nothing at either
    // end: the search does not wrap around.
    PreviewNode* SearchNextOrPreviousItem(const PreviewNode* from, PreviewKind kind, bool backward);

    PreviewTotals totals() const;

    // The two rules the clicks are made of, applied to the node and every item below it, and
    // to the node and the folders above it.
    void changeCopyMode(PreviewNode& node, bool enable);
    void changeParent(PreviewNode* node, bool enable);

  private:
    void ChangeItem(std::size_t task, run::PlanItem& item, const std::string& parentSource,
                    const std::string& parentDest, bool enable);
    // Skips (enable false) or re-enables one item or root, counters and addition list along.
    bool ChangeOne(std::size_t task, int& mode, const run::PlanItem* item,
                   const std::string& source, const std::string& dest, bool enable);
    void AddOrRemoveItemToExactIndex(std::size_t task, const run::PlanItem& item,
                                     const std::string& source, const std::string& dest, bool add);
    PreviewNode& NodeAt(std::size_t root, const std::vector<std::size_t>& path);

    run::RunState& state_;
    std::vector<PreviewNode> roots_;
};

}  // namespace qv::engine
