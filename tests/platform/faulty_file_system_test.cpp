// The fault-injecting file system does what its rules say, and no more: each kind of rule
// against a real folder, through the calls the scan and the copy make.

#include "support/faulty_file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/folder_handle.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

using platform::FolderHandle;

// One call made through the seam and the errno it must end with (0: it succeeds).
struct Probe {
    enum Kind { Stat, Open, List } kind;
    const char* name;
    int error;
    int entries = -1;  // for List: how many entries it must give
};

int Make(const FolderHandle& top, const Probe& p, int* entries) {
    switch (p.kind) {
        case Probe::Stat:
            return platform::StatAt(top.fd(), p.name).error;
        case Probe::Open: {
            int error = 0;
            top.OpenChild(p.name, &error);
            return error;
        }
        case Probe::List: {
            int error = 0;
            const FolderHandle folder = top.OpenChild(p.name, &error);
            if (!folder.valid()) return error;
            std::vector<platform::FolderEntry> listed;
            error = platform::sys().readfolder(folder.fd(), listed);
            *entries = static_cast<int>(listed.size());
            return error;
        }
    }
    return -1;
}

TEST(FaultyFileSystemTest, EachRuleFailsWhatItNamesAndNothingElse) {
    TempDir dir;
    const std::string top = dir.path();
    const auto remove = [&top](const char* name) {
        return [path = top + "/" + name] { std::filesystem::remove(path); };
    };
    const struct {
        const char* what;
        std::function<void(FaultyFileSystem&)> rules;
        std::vector<Probe> probes;
    } cases[] = {
        {"no rule",
         [](FaultyFileSystem&) {},
         {{Probe::Stat, "a", 0}, {Probe::Open, "sub", 0}, {Probe::List, "sub", 0, 4}}},
        {"a named item, every time",
         [](FaultyFileSystem& fs) { fs.Fail(FsCall::statx, "a", EACCES); },
         {{Probe::Stat, "a", EACCES}, {Probe::Stat, "b", 0}, {Probe::Stat, "a", EACCES}}},
        {"any item, the second call only",
         [](FaultyFileSystem& fs) { fs.Fail(FsCall::statx, "", EIO, 2, FsTimes::Only); },
         {{Probe::Stat, "a", 0}, {Probe::Stat, "b", EIO}, {Probe::Stat, "a", 0}}},
        {"a named item, from its second call on",
         [](FaultyFileSystem& fs) { fs.Fail(FsCall::statx, "b", ENOENT, 2); },
         {{Probe::Stat, "a", 0},
          {Probe::Stat, "b", 0},
          {Probe::Stat, "b", ENOENT},
          {Probe::Stat, "b", ENOENT},
          {Probe::Stat, "a", 0}}},
        {"another call than the one failed",
         [](FaultyFileSystem& fs) { fs.Fail(FsCall::mkdirat, "", ENOSPC); },
         {{Probe::Stat, "a", 0}, {Probe::Open, "sub", 0}}},
        {"an open",
         [](FaultyFileSystem& fs) { fs.Fail(FsCall::openat, "sub", EMFILE); },
         {{Probe::Open, "sub", EMFILE}, {Probe::Stat, "sub", 0}}},
        {"a listing refused",
         [](FaultyFileSystem& fs) { fs.Fail(FsCall::readfolder, "sub", EACCES); },
         {{Probe::List, "sub", EACCES, 0}}},
        {"a listing that stops half-way",
         [](FaultyFileSystem& fs) { fs.FailHalfway("sub", EIO); },
         {{Probe::List, "sub", EIO, 2}}},
        {"a listing that stops half-way once",
         [](FaultyFileSystem& fs) { fs.FailHalfway("", EIO, 1, FsTimes::Only); },
         {{Probe::List, "sub", EIO, 2}, {Probe::List, "sub", 0, 4}}},
        {"a hook that removes the item first",
         [&](FaultyFileSystem& fs) { fs.Before(FsCall::statx, "c", remove("c")); },
         {{Probe::Stat, "a", 0}, {Probe::Stat, "c", ENOENT}}},
        // Last: the folder stays swapped.
        {"a hook that swaps a folder for a link first",
         [&](FaultyFileSystem& fs) {
             fs.Before(FsCall::openat, "sub", [&top] {
                 std::filesystem::rename(top + "/sub", top + "/elsewhere");
                 std::filesystem::create_directory_symlink("elsewhere", top + "/sub");
             });
         },
         {{Probe::Open, "sub", ENOTDIR}, {Probe::Stat, "sub", 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name : {"a", "b", "c", "sub/1", "sub/2", "sub/3", "sub/4"}) {
            WriteText(top + "/" + name, name);
        }
        const FolderHandle handle = FolderHandle::OpenTop(top);
        ASSERT_TRUE(handle.valid());
        FaultyFileSystem fs;
        c.rules(fs);
        platform::ScopedFileSystem scoped(fs);
        for (const Probe& p : c.probes) {
            int entries = -1;
            EXPECT_EQ(Make(handle, p, &entries), p.error) << p.name;
            if (p.entries >= 0) {
                EXPECT_EQ(entries, p.entries) << p.name;
            }
        }
    }
}

TEST(FaultyFileSystemTest, HooksRunOnceUnlessToldOtherwiseAndCallsAreCounted) {
    TempDir dir;
    WriteText(dir / "x", "x");
    const FolderHandle top = FolderHandle::OpenTop(dir.path());
    ASSERT_TRUE(top.valid());
    FaultyFileSystem fs;
    int once = 0, every = 0;
    fs.Before(FsCall::statx, "x", [&] { ++once; });
    fs.Before(
        FsCall::statx, "x", [&] { ++every; }, false);
    platform::ScopedFileSystem scoped(fs);

    // The scan lists one side on a second thread: counts must add up across threads.
    const auto stats = [&] {
        for (int i = 0; i < 500; ++i) platform::StatAt(top.fd(), i % 2 ? "x" : "y");
    };
    std::thread other(stats);
    stats();
    other.join();
    EXPECT_EQ(once, 1);
    EXPECT_EQ(every, 500);
    EXPECT_EQ(fs.count(FsCall::statx), 1000);
    EXPECT_EQ(fs.count(FsCall::statx, "x"), 500);
    EXPECT_EQ(fs.count(FsCall::statx, "y"), 500);
    EXPECT_EQ(fs.count(FsCall::openat), 0);

    fs.Clear();
    fs.Fail(FsCall::statx, "x", EIO);
    EXPECT_EQ(platform::StatAt(top.fd(), "x").error, EIO);
    EXPECT_EQ(every, 500);  // cleared with the rules
    EXPECT_EQ(fs.count(FsCall::statx), 1001);
    EXPECT_STREQ(FsCallName(FsCall::readfolder), "readfolder");
    EXPECT_STREQ(FsCallName(FsCall::renameat2), "renameat2");
}

}  // namespace
}  // namespace qv::test
