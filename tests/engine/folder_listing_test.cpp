// The lister that runs ahead of the walk hands over only listings of the very folders the walk
// opened.

#include "engine/folder_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
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
    tree.Build({"B/x/1", "B/x/2", "B/y/3", "B/z/4", "B/y-next/9"});
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
    std::filesystem::rename(tree.path("B/y-next"), tree.path("B/y"));
    lister.Start(top.OpenChild("y"), token, "y");
    EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"9"}));

    // Forgotten, or never named ahead: listed when asked for.
    lister.Forget(token);
    lister.Start(top.OpenChild("z"), token, "z");
    EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"4"}));
    lister.Start(top);
    EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"x", "y", "y-old", "z"}));
    // A folder the walk could not open is an error, never a wait without end.
    lister.Start(platform::FolderHandle{});
    const FolderListing none = lister.Wait();
    EXPECT_FALSE(none.listed);
    EXPECT_NE(none.error, 0);
}

void WaitUntilSettled(BackgroundLister& lister) {
    for (int i = 0; i < 10000 && !lister.Settled(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(lister.Settled());
}

// The folders the walk will come back to must not crowd out the sub-folders of the one it is in.
TEST(BackgroundListerTest, ListsTheSubFoldersOfTheFolderTheWalkIsInFirst) {
    test::TreeFixture tree;
    std::vector<std::string> tops, children, paths;
    for (int i = 0; i < 40; ++i) tops.push_back("s" + std::to_string(100 + i));
    for (int i = 0; i < 8; ++i) children.push_back("c" + std::to_string(i));
    for (const std::string& t : tops) paths.push_back("B/" + t + "/f");
    for (const std::string& c : children) paths.push_back("B/" + tops[0] + "/" + c + "/f");
    tree.Build(paths);
    BackgroundLister lister(nullptr, std::chrono::minutes(10));
    const platform::FolderHandle top = platform::FolderHandle::OpenTop(tree.b());
    const std::uint64_t token = lister.Prefetch(top, tops);
    WaitUntilSettled(lister);

    const platform::FolderHandle first = top.OpenChild(tops[0]);
    lister.Start(first, token, tops[0]);
    ASSERT_TRUE(lister.Wait().listed);
    const std::uint64_t inner = lister.Prefetch(first, children);
    WaitUntilSettled(lister);
    EXPECT_LE(lister.Waiting(), BackgroundLister::kMaxReady);

    // Each was listed ahead: a file added since is not in what the walk is handed.
    for (const std::string& c : children) tree.Build({"B/" + tops[0] + "/" + c + "/new"});
    for (const std::string& c : children) {
        lister.Start(first.OpenChild(c), inner, c);
        EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"f"})) << c;
    }
}

// The walk leaves some sub-folders aside (excluded, left as they are): their listings made ahead
// must not hold the places of the ones it enters after them.
TEST(BackgroundListerTest, TheFoldersTheWalkPassesByDoNotHoldUpTheOnesAfter) {
    test::TreeFixture tree;
    std::vector<std::string> names, paths;
    for (int i = 0; i < 20; ++i) names.push_back("n" + std::to_string(100 + i));
    for (const std::string& n : names) paths.push_back("B/" + n + "/f");
    tree.Build(paths);
    BackgroundLister lister(nullptr, std::chrono::minutes(10));
    const platform::FolderHandle top = platform::FolderHandle::OpenTop(tree.b());
    const std::uint64_t token = lister.Prefetch(top, names);
    WaitUntilSettled(lister);
    // The first eight are passed by; from then on, each folder was listed ahead by the time the
    // walk comes: a file added to it since is not in what the walk is handed.
    const std::size_t first = BackgroundLister::kAheadInFolder;
    lister.Start(top.OpenChild(names[first]), token, names[first]);
    ASSERT_TRUE(lister.Wait().listed);
    for (std::size_t i = first + 1; i < names.size(); ++i) {
        WaitUntilSettled(lister);
        tree.Build({"B/" + names[i] + "/new"});
        lister.Start(top.OpenChild(names[i]), token, names[i]);
        EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"f"})) << names[i];
    }
}

// A listing under way when the walk comes, but begun too long before, is made again.
TEST(BackgroundListerTest, AListingBegunLongBeforeTheWalkCameIsMadeAgain) {
    test::TreeFixture tree;
    tree.Build({"B/x/1"});
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    bool release = false;
    // The probe runs first in each listing: the first one waits there until released.
    const CaseProbe probe = [&](int, const std::string&) {
        std::unique_lock lock(mutex);
        if (++calls == 1) {
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        }
        return false;
    };
    BackgroundLister lister(probe, std::chrono::milliseconds(0));
    const platform::FolderHandle top = platform::FolderHandle::OpenTop(tree.b());
    const std::uint64_t token = lister.Prefetch(top, {"x"});
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return calls == 1; });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lister.Start(top.OpenChild("x"), token, "x");
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"1"}));
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 2);
}

// A folder changed after it was listed ahead, while the walk was elsewhere for longer than a
// listing stays fresh: the walk sees it as it is when it comes.
TEST(BackgroundListerTest, AListingMadeLongBeforeTheWalkComesIsMadeAgain) {
    test::TreeFixture tree;
    tree.Build({"B/x/1"});
    BackgroundLister lister(nullptr, std::chrono::milliseconds(0));
    const platform::FolderHandle top = platform::FolderHandle::OpenTop(tree.b());
    const std::uint64_t token = lister.Prefetch(top, {"x"});
    WaitUntilSettled(lister);
    ASSERT_EQ(lister.Waiting(), 1u);
    tree.Build({"B/x/2"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lister.Start(top.OpenChild("x"), token, "x");
    EXPECT_EQ(Names(lister.Wait()), (std::vector<std::string>{"1", "2"}));
}

}  // namespace
}  // namespace qv::engine
