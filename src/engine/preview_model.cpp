#include "engine/preview_model.h"

#include <algorithm>
#include <cstdlib>

#include "items/tw_utilities.h"
#include "platform/date_format.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/item_attributes.h"
#include "platform/localization.h"

namespace qv::engine {

using platform::GLS;

namespace {

bool IsDeletion(int mode) {
    const int m = std::abs(mode);
    return m == run::kModeDeleteInA || m == run::kModeDeleteInB;
}

}  // namespace

// ---- Nodes ----

PreviewNode::PreviewNode(run::TaskRoot* root, run::PlanItem* item, PreviewNode* parent,
                         std::size_t task, std::uint32_t indexInParent)
    : root_(root), item_(item), parent_(parent), task_(task), indexInParent_(indexInParent) {}

int PreviewNode::level() const {
    int level = 0;
    for (const PreviewNode* p = parent_; p != nullptr; p = p->parent_) ++level;
    return level;
}

void PreviewNode::setCopyMode(int mode) const {
    if (item_ != nullptr) {
        item_->copyMode = mode;
    } else {
        root_->copyMode = mode;
    }
}

std::string PreviewNode::source() const {
    return item_ ? item_->source(parent_->source()) : root_->source;
}

std::string PreviewNode::dest() const { return item_ ? item_->dest(parent_->dest()) : root_->dest; }

// Shown for every visible row at each repaint: an item's own name, without building its path
// through its ancestors, unless it leads elsewhere (a resolved link) or is a task's root.
std::string PreviewNode::sourceName() const {
    const std::string name =
        item_ && !item_->sourcePath ? item_->name : platform::LastPathComponent(source());
    return name.empty() ? "/" : name;
}

std::string PreviewNode::destName() const {
    const std::string name =
        item_ && !item_->destPath ? item_->nameInB() : platform::LastPathComponent(dest());
    return name.empty() ? "/" : name;
}

std::int64_t PreviewNode::numberOfChildren() const {
    if (item_ == nullptr) return static_cast<std::int64_t>(root_->subItems.size());
    if (!item_->isFolder) return -1;
    return static_cast<std::int64_t>(item_->subItems.size());
}

PreviewNode& PreviewNode::childAt(std::size_t index) {
    if (!made_) MakeChildren();
    return children_.at(index);
}

void PreviewNode::MakeChildren() {
    std::vector<run::PlanItem>& items = item_ ? item_->subItems : root_->subItems;
    // Made once and never grown: the children's parent pointers stay valid.
    children_.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        children_.emplace_back(root_, &items[i], this, task_, static_cast<std::uint32_t>(i));
    }
    made_ = true;
}

// ---- Kinds, titles, side details ----

bool IsOfKind(int copyMode, PreviewKind kind) {
    switch (kind) {
        case PreviewKind::kSkipped:
            return copyMode <= 0;
        case PreviewKind::kFolder:
            return copyMode == run::kModeDescend;
        case PreviewKind::kAtoB:
            return copyMode == run::kModeCopyAtoB || copyMode == run::kModeReplaceBwithA;
        case PreviewKind::kBtoA:
            return copyMode == run::kModeCopyBtoA || copyMode == run::kModeReplaceAwithB;
        case PreviewKind::kDelete:
            return copyMode == run::kModeDeleteInA || copyMode == run::kModeDeleteInB;
        case PreviewKind::kAttrAtoB:
            return copyMode == run::kModeAttrAtoB;
        case PreviewKind::kAttrBtoA:
            return copyMode == run::kModeAttrBtoA;
    }
    return false;
}

std::optional<PreviewKind> PreviewKindNamed(const std::string& name) {
    static const struct {
        const char* name;
        PreviewKind kind;
    } kNames[] = {{"skipped", PreviewKind::kSkipped},  {"folder", PreviewKind::kFolder},
                  {"atob", PreviewKind::kAtoB},        {"btoa", PreviewKind::kBtoA},
                  {"delete", PreviewKind::kDelete},    {"attratob", PreviewKind::kAttrAtoB},
                  {"attrbtoa", PreviewKind::kAttrBtoA}};
    for (const auto& n : kNames) {
        if (name == n.name || name == std::to_string(static_cast<int>(n.kind))) return n.kind;
    }
    return std::nullopt;
}

std::string PreviewTitle(bool allSessions, bool exact, bool sync) {
    std::string title = GLS("Preview - ");
    if (allSessions) return title + GLS("Multiple Sessions");
    if (exact) title += GLS("Exact ");
    return title + GLS(sync ? "Sync" : "Backup");
}

std::string GroupedBytes(std::uint64_t bytes) {
    std::string digits = std::to_string(bytes);
    for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
    return digits + GLS(" bytes");
}

PreviewSideInfo DescribeSide(const items::TWUtilities& tw, const std::string& path) {
    PreviewSideInfo info;
    const platform::ItemAttributes attributes = platform::ReadItemAttributes(path.c_str());
    if (path.empty() || !attributes.exists()) return info;
    info.exists = true;
    info.name = platform::LastPathComponent(path);
    info.path = path;
    const auto date = [&](int kind) {
        // The status-change time is not among the dates read from attributes already read.
        const items::OptionalDate d = kind == items::kAttributeModificationDate
                                          ? tw.GetDate(path, kind)
                                          : tw.GetDate(path, attributes, kind);
        if (!d) return std::string("--");
        const std::string text = platform::FormatDatePattern("EEE, MMM dd, yyyy - HH:mm:ss", *d);
        return text.empty() ? std::string("--") : text;
    };
    info.modificationDate = date(items::kModificationDate);
    info.backupDate = date(items::kBackupDate);
    info.attributeDate = date(items::kAttributeModificationDate);
    if (!attributes.isDirectory() || tw.IsFilePackage(path, attributes)) {
        info.size = GroupedBytes(tw.NewItemSize(path));
    }
    return info;
}

// ---- The model ----

PreviewModel::PreviewModel(run::RunState& state) : state_(state) {
    roots_.reserve(state.plan.taskRootList.size());
    for (std::size_t i = 0; i < state.plan.taskRootList.size(); ++i) {
        roots_.emplace_back(&state.plan.taskRootList[i], nullptr, nullptr, i, 0);
    }
}

namespace {

// The content a copy of the item in that mode carries: the file of the side it comes from, as
// the scan saw it.
std::uint64_t Carried(const run::PlanItem& item, int mode) {
    const auto bytes = [](const run::SeenItem& seen) -> std::uint64_t {
        return seen.type == static_cast<std::uint8_t>(platform::ItemType::RegularFile) ? seen.size
                                                                                       : 0;
    };
    if (mode == run::kModeReplaceBwithA || mode == run::kModeCopyAtoB) return bytes(item.seenA);
    if (mode == run::kModeReplaceAwithB || mode == run::kModeCopyBtoA) return bytes(item.seenB);
    return 0;
}

}  // namespace

PreviewTotals PreviewModel::totals() const {
    const run::CategoryCounters& c = state_.totals.categories;
    return {c.gFoldersToDescend,
            state_.totals.gItemsSkipped,
            c.gItemsToDelete,
            c.gItemsAtoB,
            c.gItemsBtoA,
            c.gItemsAttrAtoB,
            c.gItemsAttrBtoA,
            state_.totals.gItemsToDoTotal,
            state_.totals.bytesToDoTotal};
}

void PreviewModel::AddOrRemoveItemToExactIndex(std::size_t task, const run::PlanItem& item,
                                               const std::string& source, const std::string& dest,
                                               bool add) {
    // Only a deletion the index asked for names a path the index must keep.
    if (item.ifSkipAddToExactIndex < 0 || task >= state_.plan.exactIndexAdditionLists.size())
        return;
    const std::string& path = item.ifSkipAddToExactIndex == 1 ? source : dest;
    std::vector<std::string>& list = state_.plan.exactIndexAdditionLists[task];
    if (add) {
        list.push_back(path);
    } else if (const auto it = std::find(list.rbegin(), list.rend(), path); it != list.rend()) {
        list.erase(std::next(it).base());
    }
}

bool PreviewModel::ChangeOne(std::size_t task, int& mode, const run::PlanItem* item,
                             const std::string& source, const std::string& dest, bool enable) {
    const int m = enable ? -mode : mode;  // the planned mode
    if (m < run::kModeDescend || m > run::kModeAttrBtoA) return false;
    if (enable ? mode >= 0 : mode <= 0) return false;
    if (std::int64_t* counter = state_.totals.categories.ForMode(m)) *counter += enable ? 1 : -1;
    if (m >= run::kModeCopyAtoB) {
        state_.totals.gItemsToDoTotal += enable ? 1 : -1;
        if (item != nullptr) {
            const std::uint64_t bytes = Carried(*item, m);
            state_.totals.bytesToDoTotal =
                enable
                    ? state_.totals.bytesToDoTotal + bytes
                    : state_.totals.bytesToDoTotal - std::min(bytes, state_.totals.bytesToDoTotal);
        }
        if (item != nullptr) AddOrRemoveItemToExactIndex(task, *item, source, dest, !enable);
    }
    state_.totals.gItemsSkipped += enable ? -1 : 1;
    mode = -mode;
    return true;
}

void PreviewModel::ChangeItem(std::size_t task, run::PlanItem& item,
                              const std::string& parentSource, const std::string& parentDest,
                              bool enable) {
    const std::string source = item.source(parentSource);
    const std::string dest = item.dest(parentDest);
    ChangeOne(task, item.copyMode, &item, source, dest, enable);
    for (run::PlanItem& child : item.subItems) ChangeItem(task, child, source, dest, enable);
}

void PreviewModel::changeCopyMode(PreviewNode& node, bool enable) {
    const std::size_t task = node.firstNodeIndex();
    if (node.isRoot()) {
        run::TaskRoot& root = node.taskRoot();
        ChangeOne(task, root.copyMode, nullptr, root.source, root.dest, enable);
        for (run::PlanItem& child : root.subItems) {
            ChangeItem(task, child, root.source, root.dest, enable);
        }
        return;
    }
    const PreviewNode* parent = node.parent();
    ChangeItem(task, *node.item(), parent->source(), parent->dest(), enable);
}

void PreviewModel::changeParent(PreviewNode* node, bool enable) {
    for (; node != nullptr; node = node->parent()) {
        const int m = node->copyMode();
        if (enable ? m >= 0 : !(m == run::kModeDeleteInA || m == run::kModeDeleteInB)) return;
        int mode = m;
        run::PlanItem* item = node->item();
        if (item != nullptr) {
            ChangeOne(node->firstNodeIndex(), item->copyMode, item, node->source(), node->dest(),
                      enable);
        } else {
            ChangeOne(node->firstNodeIndex(), mode, nullptr, {}, {}, enable);
            node->setCopyMode(mode);
        }
    }
}

void PreviewModel::ToggleSkip(PreviewNode& node) {
    const int m = node.copyMode();
    const bool skipped = m < 0;
    const bool deletion = IsDeletion(m);
    if (skipped && !deletion) changeParent(node.parent(), true);
    if (!skipped && deletion) changeParent(node.parent(), false);
    changeCopyMode(node, skipped);
}

namespace {

// The mode a turn gives: the other side wins; a deletion the index asked for becomes the copy
// of the item back to the side that deleted it. 0 for a mode that does not turn.
int Turned(int mode) {
    switch (mode) {
        case run::kModeReplaceBwithA:
            return run::kModeReplaceAwithB;
        case run::kModeReplaceAwithB:
            return run::kModeReplaceBwithA;
        case run::kModeDeleteInB:
            return run::kModeCopyBtoA;
        case run::kModeCopyBtoA:
            return run::kModeDeleteInB;
        case run::kModeDeleteInA:
            return run::kModeCopyAtoB;
        case run::kModeCopyAtoB:
            return run::kModeDeleteInA;
        default:
            return 0;
    }
}

}  // namespace

bool PreviewModel::IsTurnable(const PreviewNode& node) {
    const int m = node.copyMode();
    if (!node.taskRoot().gIsSyncOn || Turned(m) == 0) return false;
    if (m == run::kModeReplaceBwithA || m == run::kModeReplaceAwithB) return true;
    // A deletion, or a deletion turned into a copy back: a file the index said the other side
    // deleted, in a folder that stays.
    const run::PlanItem* item = node.item();
    if (item == nullptr || item->isFolder || item->ifSkipAddToExactIndex < 0) return false;
    const PreviewNode* parent = node.parent();
    const int around = parent ? std::abs(parent->copyMode()) : run::kModeDescend;
    return around != run::kModeDeleteInA && around != run::kModeDeleteInB;
}

bool PreviewModel::ChangeCopyModeDirection(PreviewNode& node) {
    if (!IsTurnable(node)) return false;
    const int m = node.copyMode();
    const int turned = Turned(m);
    if (std::int64_t* counter = state_.totals.categories.ForMode(m)) --*counter;
    if (std::int64_t* counter = state_.totals.categories.ForMode(turned)) ++*counter;
    // What the copy has to carry changes with the side it comes from.
    const run::PlanItem& item = *node.item();
    state_.totals.bytesToDoTotal =
        state_.totals.bytesToDoTotal - Carried(item, m) + Carried(item, turned);
    node.setCopyMode(turned);
    return true;
}

// ---- Search ----

namespace {

// A row's place: its task root and the child indexes down to it.
struct Place {
    std::size_t root = 0;
    std::vector<std::size_t> path;
};

class PlanWalk {
  public:
    explicit PlanWalk(std::vector<run::TaskRoot>& roots) : roots_(roots) {}

    int ModeAt(const Place& p) const {
        const run::PlanItem* item = ItemAt(p);
        return item ? item->copyMode : roots_[p.root].copyMode;
    }

    // Pre-order, as the rows are shown with every folder open.
    bool Next(Place& p) const {
        if (!Children(p).empty()) {
            p.path.push_back(0);
            return true;
        }
        while (!p.path.empty()) {
            const std::size_t i = p.path.back();
            p.path.pop_back();
            if (i + 1 < Children(p).size()) {
                p.path.push_back(i + 1);
                return true;
            }
        }
        if (p.root + 1 >= roots_.size()) return false;
        ++p.root;
        return true;
    }

    bool Previous(Place& p) const {
        if (p.path.empty()) {
            if (p.root == 0) return false;
            --p.root;
            Deepest(p);
            return true;
        }
        if (p.path.back() == 0) {
            p.path.pop_back();
            return true;
        }
        --p.path.back();
        Deepest(p);
        return true;
    }

    // The last row under p (p itself when it has none).
    void Deepest(Place& p) const {
        while (!Children(p).empty()) p.path.push_back(Children(p).size() - 1);
    }

  private:
    const run::PlanItem* ItemAt(const Place& p) const {
        const std::vector<run::PlanItem>* items = &roots_[p.root].subItems;
        const run::PlanItem* item = nullptr;
        for (const std::size_t i : p.path) {
            item = &(*items)[i];
            items = &item->subItems;
        }
        return item;
    }
    const std::vector<run::PlanItem>& Children(const Place& p) const {
        const run::PlanItem* item = ItemAt(p);
        return item ? item->subItems : roots_[p.root].subItems;
    }

    std::vector<run::TaskRoot>& roots_;
};

}  // namespace

PreviewNode& PreviewModel::NodeAt(std::size_t root, const std::vector<std::size_t>& path) {
    PreviewNode* node = &roots_.at(root);
    for (const std::size_t i : path) node = &node->childAt(i);
    return *node;
}

PreviewNode* PreviewModel::SearchNextOrPreviousItem(const PreviewNode* from, PreviewKind kind,
                                                    bool backward) {
    if (roots_.empty()) return nullptr;
    const PlanWalk walk(state_.plan.taskRootList);
    Place place;
    bool moved = true;
    if (from != nullptr) {
        for (const PreviewNode* n = from; !n->isRoot(); n = n->parent()) {
            place.path.push_back(n->indexInParent());
        }
        std::reverse(place.path.begin(), place.path.end());
        place.root = from->firstNodeIndex();
        moved = backward ? walk.Previous(place) : walk.Next(place);
    } else if (backward) {
        place.root = roots_.size() - 1;
        walk.Deepest(place);
    }
    for (; moved; moved = backward ? walk.Previous(place) : walk.Next(place)) {
        if (IsOfKind(walk.ModeAt(place), kind)) return &NodeAt(place.root, place.path);
    }
    return nullptr;
}

}  // namespace qv::engine
