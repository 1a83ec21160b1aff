#include "engine/preview_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "items/tw_utilities.h"
#include "support/test_support.h"

namespace qv::engine {
namespace {

using run::PlanItem;

PlanItem Item(const std::string& name, int mode, std::vector<PlanItem> children = {},
              int ifSkip = -1, bool folder = false) {
    PlanItem item;
    item.name = name;
    item.copyMode = mode;
    item.ifSkipAddToExactIndex = static_cast<std::int8_t>(ifSkip);
    item.isFolder = folder || !children.empty();
    item.subItems = std::move(children);
    if (!item.isFolder) {
        // Files of a size of their own on each side, for the bytes the totals count.
        const auto file = static_cast<std::uint8_t>(platform::ItemType::RegularFile);
        item.seenA = {1, 100 * name.size(), 0, 0, file};
        item.seenB = {2, 7 * name.size(), 0, 0, file};
    }
    return item;
}

template <typename... T>
std::vector<PlanItem> Items(T&&... items) {
    std::vector<PlanItem> v;
    (v.push_back(std::move(items)), ...);
    return v;
}

// The counters and addition lists as they must be for the tree as it stands.
struct Recount {
    PreviewTotals totals;
    std::vector<std::vector<std::string>> additions;
};

void CountItem(const PlanItem& item, const std::string& parentSource, const std::string& parentDest,
               std::vector<std::string>& additions, PreviewTotals& t) {
    const std::string source = item.source(parentSource), dest = item.dest(parentDest);
    const int m = item.copyMode;
    const int planned = std::abs(m);
    if (m < 0) {
        ++t.skipped;
        if (planned >= 2 && item.ifSkipAddToExactIndex >= 0) {
            additions.push_back(item.ifSkipAddToExactIndex == 1 ? source : dest);
        }
    } else {
        if (m == 1) ++t.foldersToDescend;
        if (m >= 2) ++t.total;
        if (m == 2 || m == 4) t.bytes += item.seenA.size;
        if (m == 3 || m == 5) t.bytes += item.seenB.size;
        if (m == 2 || m == 4) ++t.atoB;
        if (m == 3 || m == 5) ++t.btoA;
        if (m == 6 || m == 7) ++t.toDelete;
        if (m == 8) ++t.attrAtoB;
        if (m == 9) ++t.attrBtoA;
    }
    for (const PlanItem& child : item.subItems) CountItem(child, source, dest, additions, t);
}

Recount Count(const run::RunState& s) {
    Recount r;
    for (const run::TaskRoot& root : s.plan.taskRootList) {
        r.additions.emplace_back();
        PlanItem top;  // the root counted as an item of its own
        top.copyMode = root.copyMode;
        CountItem(top, "", "", r.additions.back(), r.totals);
        for (const PlanItem& child : root.subItems) {
            CountItem(child, root.source, root.dest, r.additions.back(), r.totals);
        }
        std::sort(r.additions.back().begin(), r.additions.back().end());
    }
    return r;
}

// A run state holding the tasks, its counters set as the scan sets them.
class PreviewModelTest : public ::testing::Test {
  protected:
    void AddTask(std::vector<PlanItem> items, bool sync = true) {
        run::TaskRoot root;
        root.source = "/A" + std::to_string(state.plan.taskRootList.size());
        root.dest = "/B" + std::to_string(state.plan.taskRootList.size());
        root.gIsSyncOn = sync;
        root.subItems = std::move(items);
        state.plan.taskRootList.push_back(std::move(root));
        state.plan.exactIndexAdditionLists.emplace_back();
        const Recount r = Count(state);
        run::CategoryCounters& c = state.totals.categories;
        c.gFoldersToDescend = r.totals.foldersToDescend;
        c.gItemsAtoB = r.totals.atoB;
        c.gItemsBtoA = r.totals.btoA;
        c.gItemsToDelete = r.totals.toDelete;
        c.gItemsAttrAtoB = r.totals.attrAtoB;
        c.gItemsAttrBtoA = r.totals.attrBtoA;
        state.totals.gItemsToDoTotal = r.totals.total;
        state.totals.bytesToDoTotal = r.totals.bytes;
    }
    void ExpectInStep(PreviewModel& model) {
        const Recount r = Count(state);
        EXPECT_EQ(model.totals(), r.totals);
        auto lists = state.plan.exactIndexAdditionLists;
        for (auto& l : lists) std::sort(l.begin(), l.end());
        EXPECT_EQ(lists, r.additions);
    }
    static int Mode(PreviewNode& node) { return node.copyMode(); }

    run::RunState state;
};

TEST_F(PreviewModelTest, SkippingAFolderSkipsItsTreeAndReEnablingAFileReEnablesItsFolders) {
    AddTask(Items(
        Item("new", 2, Items(Item("x", 2), Item("y", 2), Item("sub", 2, Items(Item("z", 2))))),
        Item("other", 4)));
    PreviewModel model(state);
    PreviewNode& root = model.rootItem(0);
    PreviewNode& folder = root.childAt(0);
    model.ToggleSkip(folder);
    EXPECT_EQ(state.totals.gItemsToDoTotal, 1);  // five items skipped, the folder included
    EXPECT_EQ(state.totals.gItemsSkipped, 5);
    PreviewNode& z = folder.childAt(2).childAt(0);
    EXPECT_EQ(z.source(), "/A0/new/sub/z");
    model.ToggleSkip(z);
    EXPECT_EQ(Mode(folder), 2);
    EXPECT_EQ(Mode(folder.childAt(2)), 2);
    EXPECT_EQ(Mode(z), 2);
    EXPECT_EQ(Mode(folder.childAt(0)), -2);  // the siblings stay skipped
    EXPECT_EQ(Mode(folder.childAt(1)), -2);
    ExpectInStep(model);
}

TEST_F(PreviewModelTest, SkippingADeletionSkipsTheFoldersAroundItPlannedForDeletion) {
    AddTask(Items(Item("old", 7,
                       Items(Item("inner", 7, Items(Item("f", 7, {}, 1), Item("g", 7, {}, 1)), 1),
                             Item("h", 7, {}, 1)),
                       1)));
    PreviewModel model(state);
    PreviewNode& old = model.rootItem(0).childAt(0);
    PreviewNode& inner = old.childAt(0);
    model.ToggleSkip(inner.childAt(0));
    EXPECT_EQ(Mode(inner.childAt(0)), -7);
    EXPECT_EQ(Mode(inner), -7);
    EXPECT_EQ(Mode(old), -7);
    EXPECT_EQ(Mode(inner.childAt(1)), 7);  // the folder's other children are still deleted
    EXPECT_EQ(Mode(old.childAt(1)), 7);
    std::vector<std::string> kept = state.plan.exactIndexAdditionLists[0];
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"/A0/old", "/A0/old/inner", "/A0/old/inner/f"}));
    // Re-enabling the deletion does not re-enable the folders around it.
    model.ToggleSkip(inner.childAt(0));
    EXPECT_EQ(Mode(inner.childAt(0)), 7);
    EXPECT_EQ(Mode(inner), -7);
    ExpectInStep(model);
}

TEST_F(PreviewModelTest, OnlyAReplacementInASynchronizeTaskTurnsAround) {
    AddTask(Items(Item("r", 4), Item("c", 2)), true);
    AddTask(Items(Item("r", 4)), false);
    PreviewModel model(state);
    PreviewNode& r = model.rootItem(0).childAt(0);
    EXPECT_TRUE(model.ChangeCopyModeDirection(r));
    EXPECT_EQ(Mode(r), 5);
    EXPECT_EQ(state.totals.categories.gItemsBtoA, 1);
    EXPECT_TRUE(model.ChangeCopyModeDirection(r));
    EXPECT_EQ(Mode(r), 4);
    EXPECT_FALSE(model.ChangeCopyModeDirection(model.rootItem(0).childAt(1)));  // a copy
    EXPECT_FALSE(model.ChangeCopyModeDirection(model.rootItem(1).childAt(0)));  // a backup
    EXPECT_EQ(Mode(model.rootItem(1).childAt(0)), 4);
    ExpectInStep(model);
}

TEST_F(PreviewModelTest, SearchFindsItemsInClosedFoldersInDisplayOrderWithoutWrapping) {
    AddTask(Items(Item("a", 1, Items(Item("deep", 1, Items(Item("x", 6, {}, 0))))), Item("b", 2)));
    AddTask(Items(Item("c", 7, {}, 1), Item("d", 2)));
    PreviewModel model(state);
    EXPECT_FALSE(model.rootItem(0).childrenMade());
    PreviewNode* x = model.SearchNextOrPreviousItem(nullptr, PreviewKind::kDelete, false);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->source(), "/A0/a/deep/x");
    EXPECT_EQ(x->level(), 3);
    PreviewNode* c = model.SearchNextOrPreviousItem(x, PreviewKind::kDelete, false);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->dest(), "/B1/c");
    EXPECT_EQ(model.SearchNextOrPreviousItem(c, PreviewKind::kDelete, false), nullptr);
    EXPECT_EQ(model.SearchNextOrPreviousItem(c, PreviewKind::kDelete, true), x);
    EXPECT_EQ(model.SearchNextOrPreviousItem(x, PreviewKind::kDelete, true), nullptr);
    // Backwards with nothing selected starts at the last row; skipped items are a kind.
    EXPECT_EQ(model.SearchNextOrPreviousItem(nullptr, PreviewKind::kAtoB, true)->source(), "/A1/d");
    model.ToggleSkip(model.rootItem(0).childAt(1));
    EXPECT_EQ(model.SearchNextOrPreviousItem(x, PreviewKind::kSkipped, false)->source(), "/A0/b");
    EXPECT_EQ(model.SearchNextOrPreviousItem(nullptr, PreviewKind::kFolder, false),
              &model.rootItem(0));
}

// Whatever the clicks, the totals box and the addition lists say what the tree holds.
TEST_F(PreviewModelTest, RandomClicksKeepTheCountersAndAdditionListsInStep) {
    std::mt19937 random(20261207);
    const auto randomTree = [&random](auto& self, int depth) -> std::vector<PlanItem> {
        std::vector<PlanItem> items;
        const int count = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < count; ++i) {
            const int mode = 1 + static_cast<int>(random() % 9);
            const bool folder =
                depth > 0 && (mode == 1 || mode == 2 || mode == 3 || mode == 6 || mode == 7);
            const int ifSkip = (mode == 6 || mode == 7) && random() % 2 ? mode == 7 : -1;
            items.push_back(Item("n" + std::to_string(i), mode,
                                 folder ? self(self, depth - 1) : std::vector<PlanItem>{}, ifSkip,
                                 folder));
        }
        return items;
    };
    for (int task = 0; task < 3; ++task) AddTask(randomTree(randomTree, 3), task != 2);
    PreviewModel model(state);
    std::vector<PreviewNode*> nodes;
    const auto collect = [&nodes](auto& self, PreviewNode& node) -> void {
        nodes.push_back(&node);
        for (std::int64_t i = 0; i < node.numberOfChildren(); ++i) {
            self(self, node.childAt(static_cast<std::size_t>(i)));
        }
    };
    for (std::size_t r = 0; r < model.totRootItems(); ++r) collect(collect, model.rootItem(r));
    for (int step = 0; step < 400; ++step) {
        PreviewNode& node = *nodes[random() % nodes.size()];
        if (random() % 4 == 0) {
            model.ChangeCopyModeDirection(node);
        } else {
            model.ToggleSkip(node);
        }
        ExpectInStep(model);
        if (HasFailure()) return;
    }
}

TEST(PreviewTexts, TitleAndGroupedSizes) {
    EXPECT_EQ(PreviewTitle(true, true, true), "Preview - Multiple Sessions");
    EXPECT_EQ(PreviewTitle(false, true, true), "Preview - Exact Sync");
    EXPECT_EQ(PreviewTitle(false, false, false), "Preview - Backup");
    EXPECT_EQ(GroupedBytes(0), "0 bytes");
    EXPECT_EQ(GroupedBytes(999), "999 bytes");
    EXPECT_EQ(GroupedBytes(1234567), "1,234,567 bytes");
    EXPECT_EQ(PreviewKindNamed("delete"), PreviewKind::kDelete);
    EXPECT_EQ(PreviewKindNamed("9"), PreviewKind::kAttrBtoA);
    EXPECT_FALSE(PreviewKindNamed("7"));
}

TEST(PreviewTexts, SideDetailsGiveEveryDateOfAnItemThere) {
    test::TempDir dir;
    test::WriteText(dir / "f", "1234");
    const items::TWUtilities tw;
    const PreviewSideInfo there = DescribeSide(tw, dir / "f");
    EXPECT_TRUE(there.exists);
    EXPECT_EQ(there.name, "f");
    EXPECT_EQ(there.size, "4 bytes");
    EXPECT_NE(there.modificationDate, "--");
    EXPECT_NE(there.attributeDate, "--");
    const PreviewSideInfo gone = DescribeSide(tw, dir / "g");
    EXPECT_FALSE(gone.exists);
    EXPECT_EQ(gone.attributeDate, "--");
    EXPECT_EQ(gone.path, "--");
}

}  // namespace
}  // namespace qv::engine
