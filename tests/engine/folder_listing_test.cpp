// The lister that runs ahead of the walk hands over only listings of the very folders the walk
// opened.

#include "engine/folder_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/tree_fixture.h"

namespace qv::engine {
namespace {

std::vector<std::string> Names(const FolderListing& listing) {
    std::vector<std::string> names;
    for (const ListedItem& item : listing.items) names.push_back(item.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(BackgroundListerTest, ListsAheadButHandsOverOnlyTheFolderTheWalkOpened) {
    test::TreeFixture tree;
    tree.Build({"B/x/1", "B/x/2", "B/y/3", "B/z/4"});
    BackgroundLister lister(nullptr);
    const platform::FolderHandle top = platform::FolderHandle::OpenTop(tree.b());
    const std::uint64_t token = lister.Prefetch(top, {"x", "y", "z"});
    ASSERT_NE(token, 0u);

    lister.Start(top.OpenChild("x"), token, "x");
    FolderListing x = lister.Wait();
    ASSERT_TRUE(x.listed);
    EXPECT_EQ(Names(x), (std::vector<std::string>{"1", "2"}));

    // y replaced by another folder after it may have been listed ahead: the walk gets the new one.
    std::filesystem::rename(tree.path("B/y"), tree.path("B/y-old"));
    tree.Build({"B/y/9"});
    lister.Start(top.OpenChild("y"), token, "y");
    EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"9"}));

    // Forgotten, or never named ahead: listed when asked for.
    lister.Forget(token);
    lister.Start(top.OpenChild("z"), token, "z");
    EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"4"}));
    lister.Start(top);
    EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"x", "y", "y-old", "z"}));
}

}  // namespace
}  // namespace qv::engine
