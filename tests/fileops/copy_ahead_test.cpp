// Copies made ahead of the executor: each is of its source as it stands when taken, in the
// folders the executor has open, and one not taken leaves nothing behind.

#include "fileops/copy_ahead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "items/tw_utilities.h"
#include "platform/file_system.h"
#include "support/test_support.h"
#include "support/tree_fixture.h"

namespace qv::fileops {
namespace {

run::PlanItem Item(const std::string& name, int mode, bool isFolder = false) {
    run::PlanItem item;
    item.name = name;
    item.copyMode = mode;
    item.isFolder = isFolder;
    return item;
}

struct statx StatOf(const std::string& path) {
    struct statx stx {};
    ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &stx);
    return stx;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WaitUntilMade(const CopyAhead& ahead, std::size_t count) {
    for (int i = 0; i < 500 && ahead.made() < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The content of a copy open for writing only.
std::string Content(int fd) { return test::ReadText("/proc/self/fd/" + std::to_string(fd)); }

TEST(CopyAheadTest, ACopyIsTakenOnlyOfAnUnchangedSourceIntoTheSameFolders) {
    test::TreeFixture tree;
    tree.Build({"A/d/f1:one@1000", "A/d/f2:two@2000", "A/d/f3:three@3000", "A/d/big@3000",
                "B/d/f2:old@1000", "B/d/f4:four@4000"});
    {
        // Larger than what is copied ahead: the executor copies it itself.
        const int big = ::open(tree.path("A/d/big").c_str(), O_WRONLY | O_TRUNC);
        ASSERT_EQ(::ftruncate(big, CopyAhead::kMaxFileBytes + 1), 0);
        ::close(big);
    }
    const int probe = ::open(tree.b().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (probe < 0) GTEST_SKIP() << "no unnamed files on this file system";
    ::close(probe);
    ::chmod(tree.path("A/d/f2").c_str(), 0640);

    std::vector<run::PlanItem> items;
    items.push_back(Item("d", run::kModeDescend, true));
    for (const char* name : {"f1", "f2", "f3", "big"}) {
        items[0].subItems.push_back(
            Item(name, name == std::string("f2") ? run::kModeReplaceBwithA : run::kModeCopyAtoB));
    }
    items[0].subItems.push_back(Item("f4", run::kModeCopyBtoA));
    // A folder the run makes in B: its copies wait until the executor is in it.
    items.push_back(Item("n", run::kModeCopyAtoB, true));
    for (const char* name : {"n1", "n2"})
        items[1].subItems.push_back(Item(name, run::kModeCopyAtoB));
    tree.Build({"A/n/n1:n one@1000", "A/n/n2:n two@1000"});
    const std::vector<run::PlanItem>& in = items[0].subItems;

    const items::TWUtilities tw;
    const Metadata metadata(tw);
    const platform::FolderHandle a = platform::FolderHandle::OpenTop(tree.a());
    const platform::FolderHandle b = platform::FolderHandle::OpenTop(tree.b());
    const platform::FolderHandle aD = a.OpenChild("d"), bD = b.OpenChild("d");
    {
        CopyAhead ahead(metadata, 1234, a, b, items);
        WaitUntilMade(ahead, 4);
        ASSERT_EQ(ahead.made(), 4u);  // all but the big one
        // Nothing of them shows in the destination.
        EXPECT_EQ(Names(tree.path("B/d")), (std::vector<std::string>{"f2", "f4"}));

        // Edited since it was copied: the executor must copy it afresh.
        test::WriteText(tree.path("A/d/f1"), "one, edited");
        EXPECT_FALSE(ahead.Take(&in[0], aD, bD, StatOf(tree.path("A/d/f1"))));

        auto made = ahead.Take(&in[1], aD, bD, StatOf(tree.path("A/d/f2")));
        ASSERT_TRUE(made);
        EXPECT_EQ(Content(made->dst.get()), "two");
        struct stat st {};
        ASSERT_EQ(::fstat(made->dst.get(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        if (tree.HasUserXattrs()) {
            char mark[4] = {};
            EXPECT_GT(::fgetxattr(made->dst.get(), items::kTemporaryXattr, mark, sizeof mark), 0);
            char date[16] = {};
            EXPECT_EQ(std::string(
                          date, ::fgetxattr(made->dst.get(), items::kBackupDateXattr, date, sizeof date)),
                      "1234");
        }

        // Taken for other folders than the ones it was made in: refused.
        EXPECT_FALSE(ahead.Take(&in[2], a, b, StatOf(tree.path("A/d/f3"))));
        // The other way, B to A, and after an item the executor passed by.
        made = ahead.Take(&in[4], bD, aD, StatOf(tree.path("B/d/f4")));
        ASSERT_TRUE(made);
        EXPECT_EQ(Content(made->dst.get()), "four");

        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(ahead.made(), 4u);  // nothing in B/n yet
        ASSERT_EQ(::mkdir(tree.path("B/n").c_str(), 0700), 0);
        const run::PlanItem* n2 = &items[1].subItems[1];
        ahead.Reach(&items[1].subItems[0]);
        WaitUntilMade(ahead, 6);
        made = ahead.Take(n2, a.OpenChild("n"), b.OpenChild("n"), StatOf(tree.path("A/n/n2")));
        ASSERT_TRUE(made);
        EXPECT_EQ(Content(made->dst.get()), "n two");
    }
    EXPECT_EQ(Names(tree.path("B/d")), (std::vector<std::string>{"f2", "f4"}));
    EXPECT_EQ(Names(tree.path("A/d")), (std::vector<std::string>{"big", "f1", "f2", "f3"}));
    EXPECT_EQ(test::ReadText(tree.path("B/d/f2")), "old");
}

// A volume almost full.
class LittleSpace : public platform::FileSystem {
  public:
    int fstatfs(int fd, struct statfs* out) override {
        const int result = FileSystem::fstatfs(fd, out);
        out->f_bavail = 10;
        return result;
    }
};

TEST(CopyAheadTest, NothingIsMadeAheadOnAVolumeAlmostFull) {
    test::TreeFixture tree;
    tree.Build({"A/f1:one@1000", "A/f2:two@1000", "B/"});
    std::vector<run::PlanItem> items;
    for (const char* name : {"f1", "f2"}) items.push_back(Item(name, run::kModeCopyAtoB));
    LittleSpace full;
    const platform::ScopedFileSystem installed(full);
    const items::TWUtilities tw;
    const Metadata metadata(tw);
    const platform::FolderHandle a = platform::FolderHandle::OpenTop(tree.a());
    const platform::FolderHandle b = platform::FolderHandle::OpenTop(tree.b());
    CopyAhead ahead(metadata, 1234, a, b, items);
    for (int i = 0; i < 30 && ahead.made() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ahead.made(), 0u);
}

}  // namespace
}  // namespace qv::fileops
