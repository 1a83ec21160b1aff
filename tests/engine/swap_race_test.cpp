// A folder of B swapped for a link to a folder outside B, again and again while runs go on (any
// process that may write in B can do it): whatever the timing, nothing outside the run's two
// folders is created, replaced or deleted.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/tree_fixture.h"
#include "support/tree_snapshot.h"

namespace qv::engine {
namespace {

namespace fs = std::filesystem;

TEST(SwapRaceTest, AFolderSwappedForALinkNeverSendsARunOutsideItsFolders) {
    test::TreeFixture tree;
    std::vector<std::string> entries;
    for (int i = 0; i < 60; ++i) {
        const std::string n = std::to_string(i);
        entries.push_back("A/sub/f" + n + ":new" + n + "@2000");
        entries.push_back("B/sub/f" + n + ":old" + n + "@1000");
        entries.push_back("Outside/sub/f" + n + ":outside" + n + "@1000");
        entries.push_back("B/sub/extra" + n + ":b@1000");
        entries.push_back("Outside/sub/extra" + n + ":outside@1000");
    }
    tree.Build(entries);
    const test::TreeSnapshot outsideBefore = test::Snapshot(tree.path("Outside"));

    sessions::SessionDocument doc =
        test::TwoFolderDocument(tree.a(), tree.b(), sessions::kTaskBackup);
    test::SetOption(doc, 0, "settingsDict", "settExact", 1);
    plist::Value prefs = plist::Dict{{"prefOnError", 2}};
    test::FakeProxy proxy;
    items::TWUtilities tw;
    fileops::RunExecutor executor{proxy, tw};
    NoExactSyncIndex index;

    const std::string sub = tree.path("B/sub"), real = tree.path("B/sub.real");
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        while (!done) {
            if (::rename(sub.c_str(), real.c_str()) != 0) continue;
            ::symlink(tree.path("Outside/sub").c_str(), sub.c_str());
            std::this_thread::yield();
            ::unlink(sub.c_str());
            ::rename(real.c_str(), sub.c_str());
            std::this_thread::yield();
        }
    });
    for (int run = 0; run < 20; ++run) {
        RunOptions options;
        options.sessionIndex = 0;
        RunEngine engine(doc, prefs, proxy, index, executor, tw, options);
        engine.ExecuteSyncBackup();
    }
    done = true;
    swapper.join();
    const test::TreeSnapshot outsideAfter = test::Snapshot(tree.path("Outside"));
    EXPECT_EQ(outsideAfter, outsideBefore) << test::Diff(outsideBefore, outsideAfter);
    EXPECT_FALSE(fs::exists(tree.path("Outside/sub.real")));
}

}  // namespace
}  // namespace qv::engine
