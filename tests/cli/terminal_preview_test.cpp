// The preview's dialogue on a terminal, driven through streams: the numbered rows, the commands
// and what they change in the run's plan, and how the dialogue ends.

#include "cli/terminal_preview.h"

#include <gtest/gtest.h>

#include <sstream>

#include "items/tw_utilities.h"
#include "support/test_support.h"

namespace qv::cli {
namespace {

run::PlanItem Item(const std::string& name, int mode, std::vector<run::PlanItem> children = {}) {
    run::PlanItem item;
    item.name = name;
    item.copyMode = mode;
    item.isFolder = !children.empty();
    item.subItems = std::move(children);
    return item;
}

// A Synchronize task between two folders that exist: d (new, with f inside), r (A replaces
// B), x (deleted in A). Rows: 1 the task, 2 d, 3 d/f, 4 r, 5 x.
void Plan(run::RunState& s, const std::string& a, const std::string& b) {
    run::TaskRoot root;
    root.source = a;
    root.dest = b;
    root.gIsSyncOn = true;
    std::vector<run::PlanItem> inD;
    inD.push_back(Item("f", run::kModeCopyAtoB));
    root.subItems.push_back(Item("d", run::kModeCopyAtoB, std::move(inD)));
    root.subItems.push_back(Item("r", run::kModeReplaceBwithA));
    root.subItems.push_back(Item("x", run::kModeDeleteInA));
    s.plan.taskRootList.push_back(std::move(root));
    s.plan.exactIndexAdditionLists.resize(1);
    s.totals.categories.gFoldersToDescend = 1;
    s.totals.categories.gItemsAtoB = 3;
    s.totals.categories.gItemsToDelete = 1;
    s.totals.gItemsToDoTotal = 4;
}

TEST(TerminalPreviewTest, CommandsChangeThePlanAndShowWhatChanged) {
    test::TempDir dir;
    test::WriteText(dir / "A/r", "1234");
    const items::TWUtilities tw;
    const struct {
        const char* name;
        const char* typed;
        bool goesOn;
        std::vector<int> modes;         // d, d/f, r, x afterwards
        std::vector<std::string> seen;  // in the output, in this order
    } cases[] = {
        {"skip a folder with its content, then continue",
         "s 2\nc\n",
         true,
         {-2, -2, 4, 6},
         {"1 Session \"Sync\", task 0: ", "2   CopyAtoB\t", "3     CopyAtoB\t", "5   DeleteInA\t",
          "Existing folders: 1, skipped: 0, to delete: 1, copy A to B: 3, copy B to A: 0, "
          "attributes A to B: 0, attributes B to A: 0, total: 4",
          "2   Skipped:CopyAtoB\t", "3     Skipped:CopyAtoB\t",
          "skipped: 2, to delete: 1, copy A to B: 1, ", "total: 2, content to copy: 0 B\n"}},
        {"re-enable an item inside a skipped folder",
         "s 2\ns 3\nc\n",
         true,
         {2, 2, 4, 6},
         {"skipped: 2", "2   CopyAtoB\t", "3     CopyAtoB\t", "skipped: 0"}},
        {"turn a replacement around; a copy cannot be",
         "w 4\nw 2\nc\n",
         true,
         {2, 2, 5, 6},
         {"4   ReplaceAwithB\t", "copy A to B: 2, copy B to A: 1",
          "Only a replacement, or the deletion of a file, in a Synchronize task can be turned "
          "around."}},
        {"find a deletion, then skip the current row",
         "n delete\ns\nc\n",
         true,
         {2, 2, 4, -6},
         {"5   DeleteInA\t", "5   Skipped:DeleteInA\t", "to delete: 0"}},
        {"search backwards from the end and by number",
         "p 2\np 2\np 2\np 2\nq\n",
         false,
         {2, 2, 4, 6},
         {"4   ReplaceBwithA\t", "3     CopyAtoB\t", "2   CopyAtoB\t",
          "No more items of that kind."}},
        {"both sides of an item",
         "i 4\nq\n",
         false,
         {2, 2, 4, 6},
         {"A: r\n", "Size: 4 bytes\n", "B: --\n", "Modification date: --\n"}},
        {"what is not understood is said",
         "x\ns 9\ns\nn sideways\ns 2 3\n",
         false,
         {2, 2, 4, 6},
         {"Unknown command \"x\"", "There is no row 9: the rows are numbered 1 to 5.",
          "Which row? Give its number.", "Which kind?", "Unknown command \"s 2 3\""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        run::RunState state;
        Plan(state, dir / "A", dir / "B");
        std::istringstream in(c.typed);
        std::ostringstream out;
        TerminalPreview preview(
            state, tw, [](std::int64_t) { return "Sync"; }, out);
        EXPECT_EQ(preview.Run(TerminalPreview::LinesOf(in)), c.goesOn);
        const run::TaskRoot& root = state.plan.taskRootList[0];
        EXPECT_EQ(
            (std::vector<int>{root.subItems[0].copyMode, root.subItems[0].subItems[0].copyMode,
                              root.subItems[1].copyMode, root.subItems[2].copyMode}),
            c.modes);
        const std::string text = out.str();
        std::size_t at = 0;
        for (const std::string& expected : c.seen) {
            const std::size_t found = text.find(expected, at);
            ASSERT_NE(found, std::string::npos) << "\"" << expected << "\" after " << at << " in:\n"
                                                << text;
            at = found + expected.size();
        }
    }
}

}  // namespace
}  // namespace qv::cli
