// What the copy executor reaches and what it leaves: only the task's own folders (a folder
// swapped for a link sends nothing elsewhere), temporaries that never clash with a user's item
// and never show without their mark, failures that leave the old item and no temporary and are
// counted, and the leftovers of an interrupted run cleared before a task's copy.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "fileops/replace_dialog.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "sessions/settings_options.h"
#include "support/executor_fixture.h"
#include "support/fake_proxy.h"
#include "support/faulty_file_system.h"
#include "support/tree_fixture.h"

namespace qv::fileops {
namespace {

namespace fs = std::filesystem;

// Whether the item name in the open folder dirFd carries the temporary mark, asked of the real
// calls whatever a test installed.
bool MarkedAt(int dirFd, const char* name) {
    char value[4];
    return platform::FileSystem().getxattrat(dirFd, name, items::kTemporaryXattr, value,
                                             sizeof value) > 0;
}

// Whether the item carries the temporary mark.
bool Marked(const std::string& path) {
    return ::lgetxattr(path.c_str(), items::kTemporaryXattr, nullptr, 0) > 0;
}

// The path an open descriptor stands for ("/x/#123 (deleted)" for an unnamed file in /x).
std::string PathOfFd(int fd) {
    std::error_code ec;
    return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
}

using ExecutorReachTest = test::ExecutorFixture;

TEST_F(ExecutorReachTest, AFolderSwappedForALinkSendsNothingOutsideTheTask) {
    // clang-format off
    const struct { const char* what; std::vector<std::string> entries; bool exact; int errors;
    } rows[] = {
        {"a copy and a replacement into the folder",
         {"A/sub/new.txt:new@5000", "A/sub/kept.txt:v2@5000", "B/sub/kept.txt:v1@1000"}, false, 2},
        {"an Exact Backup's deletions inside it",
         {"A/sub/", "B/sub/kept.txt:v1@1000", "B/sub/deep/x.txt:x@1000"}, true, 2},
    };
    // clang-format on
    const test::Files outside = {{"kept.txt", "theirs"}, {"deep/x.txt", "theirs"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tree.Clear();
        tree.Build(row.entries);
        tree.Build({"outside/kept.txt:theirs@3000", "outside/deep/x.txt:theirs@3000"});
        test::SetOption(doc, 0, "settingsDict", "settExact", row.exact ? 1 : 0);
        proxy.onHook = [&](test::Hook hook) {
            if (hook != test::Hook::PurgeBeforeMainCopy) return;
            fs::rename(tree.path("B/sub"), tree.path("B/sub.moved"));
            fs::create_directory_symlink(tree.path("outside"), tree.path("B/sub"));
        };
        const run::RunState& s = Run();
        // The folder outside is exactly as it was, and the link is still a link.
        EXPECT_EQ(tree.Contents("outside"), outside);
        EXPECT_TRUE(fs::is_symlink(tree.path("B/sub")));
        // Each action inside is an error of its own, told and counted.
        EXPECT_EQ(s.totals.gGlobalError, row.errors);
        EXPECT_TRUE(
            test::Contains(Log(), "its folder \"" + tree.path("B/sub") + "\" can't be reached"));
    }
}

TEST_F(ExecutorReachTest, AUsersFilesNamedLikeTemporariesAreCopiedAndReplacedLikeOthers) {
    // Unnamed files refused, as some file systems do: the copy is made under its name.
    test::FaultyFileSystem noUnnamed(
        {{test::Sys::openat, EOPNOTSUPP, "", 0, -1,
          [](const test::SysCall& call) { return (call.flags & O_TMPFILE) == O_TMPFILE; }}});
    platform::FileSystem real;
    for (platform::FileSystem* calls : {&real, static_cast<platform::FileSystem*>(&noUnnamed)}) {
        SCOPED_TRACE(calls == &real ? "unnamed copies" : "named copies");
        const platform::ScopedFileSystem installed(*calls);
        tree.Clear();
        tree.Build({"A/QVTempFile:mine@5000", "A/QVTempFile 1:mine 1@5000", "A/other:o@5000"});
        EXPECT_EQ(Run().totals.gGlobalError, 0) << Log();
        EXPECT_EQ(
            tree.Contents("B"),
            (test::Files{{"QVTempFile", "mine"}, {"QVTempFile 1", "mine 1"}, {"other", "o"}}));

        tree.Build({"A/QVTempFile:new@6000", "A/QVTempFile 1:new 1@6000", "A/other:o2@6000"});
        const run::RunState& second = Run();
        EXPECT_EQ(second.totals.gGlobalError, 0) << Log();
        EXPECT_EQ(second.logSessionArray.at(0).logTaskArray.at(0).copyCounters->gBFilesReplaced, 3);
        EXPECT_EQ(tree.Contents("B"),
                  (test::Files{{"QVTempFile", "new"}, {"QVTempFile 1", "new 1"}, {"other", "o2"}}));
        for (const char* name : {"B/QVTempFile", "B/QVTempFile 1", "B/other"}) {
            EXPECT_FALSE(Marked(tree.path(name))) << name;
        }
    }
    EXPECT_GT(noUnnamed.failures(test::Sys::openat), 0);  // the named copies were made
}

// Records, for every name a temporary takes or leaves, whether the mark was on it then.
class MarkWatcher : public platform::FileSystem {
  public:
    struct Seen {
        std::string name;
        bool marked;
    };
    std::vector<Seen> seen;
    std::vector<std::string> createdByName;

    int linkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags) override {
        const int result = FileSystem::linkat(fromDirFd, from, toDirFd, to, flags);
        if (result == 0 && items::IsTemporaryName(to)) seen.push_back({to, MarkedAt(toDirFd, to)});
        return result;
    }
    int renameat2(int fromDirFd, const char* from, int toDirFd, const char* to,
                  unsigned flags) override {
        if (items::IsTemporaryName(from)) seen.push_back({from, MarkedAt(fromDirFd, from)});
        return FileSystem::renameat2(fromDirFd, from, toDirFd, to, flags);
    }
    int openat(int dirFd, const char* name, int flags, mode_t mode) override {
        if ((flags & O_CREAT) != 0 && items::IsTemporaryName(name)) createdByName.push_back(name);
        return FileSystem::openat(dirFd, name, flags, mode);
    }
};

TEST_F(ExecutorReachTest, ATemporaryFileNeverShowsWithoutItsMark) {
    if (!tree.HasUserXattrs()) GTEST_SKIP() << "no user xattrs here: temporaries carry no mark";
    const int probe = ::open(tree.b().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (probe < 0) GTEST_SKIP() << "no unnamed files on this file system";
    ::close(probe);
    // A new file, a replaced one, a read-only one, and a user's file named like a temporary.
    tree.Build({"A/new.txt:new@5000", "A/f.txt:v2@5000", "B/f.txt:v1@1000", "A/ro.txt:ro@5000",
                "A/QVTempFile:mine@5000", "B/QVTempFile 1:theirs@1000"});
    ::chmod(tree.path("A/ro.txt").c_str(), 0444);
    MarkWatcher watcher;
    const platform::ScopedFileSystem installed(watcher);
    const run::RunState& s = Run();
    EXPECT_EQ(s.totals.gGlobalError, 0) << Log();
    EXPECT_EQ(Read("B/f.txt"), "v2");
    EXPECT_EQ(Read("B/QVTempFile"), "mine");
    EXPECT_EQ(Read("B/QVTempFile 1"), "theirs");
    // Each of the four copies took a temporary name, and moved from it into place, marked.
    EXPECT_EQ(watcher.seen.size(), 8u);
    for (const auto& seen : watcher.seen) EXPECT_TRUE(seen.marked) << seen.name;
    EXPECT_EQ(watcher.createdByName, std::vector<std::string>{});
}

TEST_F(ExecutorReachTest, AFailedRenameOrExchangeLeavesTheOldItemAndNoTemporary) {
    // clang-format off
    const struct { const char* what; std::vector<std::string> entries;
                   const char* item; const char* oldContent; } rows[] = {
        {"a file swapped with a file", {"A/f.txt:new@5000", "B/f.txt:old@1000"}, "f.txt", "f.txt"},
        {"a package exchanged with a package",
         {"A/Tool.app/Contents/x:new@5000", "A/Tool.app/@5000",
          "B/Tool.app/Contents/x:old@1000", "B/Tool.app/@1000"}, "Tool.app", "Tool.app/Contents/x"},
        {"a folder exchanged with the file that replaces it",
         {"A/d:new@5000", "B/d/x:old@1000", "B/d/@1000"}, "d", "d/x"},
    };
    // clang-format on
    // The exchange that puts the item's temporary in its place fails.
    test::FaultyFileSystem failing(
        {{test::Sys::renameat2, EIO, "", 0, -1, [](const test::SysCall& call) {
              return call.flags == RENAME_EXCHANGE &&
                     items::IsTemporaryName(platform::LastPathComponent(std::string(call.name)));
          }}});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tree.Clear();
        tree.Build(row.entries);
        {
            const platform::ScopedFileSystem installed(failing);
            EXPECT_EQ(Run().totals.gGlobalError, 1);
        }
        EXPECT_EQ(Read(std::string("B/") + row.oldContent), "old");
        EXPECT_EQ(Entries("B"), std::vector<std::string>{row.item});  // no temporary left
        EXPECT_FALSE(Marked(tree.path(std::string("B/") + row.item)));
        EXPECT_TRUE(test::Contains(Log(), std::strerror(EIO)));
    }
}

// The process ends right after a folder and the file replacing it changed places: the name
// holds the new file, the folder stands marked under a temporary name, and the next run clears
// it away. At no moment is there neither.
TEST_F(ExecutorReachTest, AFolderReplacedByAFileIsNeverMissingFromItsName) {
    tree.Build({"A/d:new@5000", "B/d/x:old@1000", "B/d/@1000"});
    {
        // Once the folder and the file changed places, nothing can be removed any more, as if
        // the process had ended.
        bool ended = false;
        test::FaultyFileSystem failing(
            {{test::Sys::renameat2, 0, "", 0, -1,
              [](const test::SysCall& call) { return call.flags == RENAME_EXCHANGE; },
              [&ended] { ended = true; }},
             {test::Sys::unlinkat, EIO, "", 0, -1, [&ended](auto&) { return ended; }}});
        const platform::ScopedFileSystem installed(failing);
        Run();
    }
    EXPECT_EQ(Read("B/d"), "new");
    const std::vector<std::string> names = Entries("B");
    ASSERT_EQ(names.size(), 2u);
    const std::string aside = names[0] == "d" ? names[1] : names[0];
    EXPECT_TRUE(items::IsTemporaryName(aside)) << aside;
    EXPECT_EQ(Read("B/" + aside + "/x"), "old");  // the whole old folder
    EXPECT_TRUE(Marked(tree.path("B/" + aside)));
    Run();
    EXPECT_EQ(tree.Contents("B"), (test::Files{{"d", "new"}}));
}

TEST_F(ExecutorReachTest, ACopyWithoutItsModeOwnerOrDatesIsAnError) {
    const bool root = ::geteuid() == 0;
    // clang-format off
    const struct { test::Sys call; mode_t mode; } rows[] = {
        {test::Sys::futimens, 0644}, {test::Sys::fchmod, 0644}, {test::Sys::fchown, 0644},
        // A read-only file gets its mode and dates once its mark is off.
        {test::Sys::futimens, 0444}, {test::Sys::fchmod, 0444},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(row.call)) + " " + std::to_string(row.mode));
        if (row.call == test::Sys::fchown && !root) continue;  // only root gives files away
        tree.Clear();
        tree.Build({"A/f.txt:data@5000", "A/ok.txt:fine too@5000"});
        ::chmod(tree.path("A/f.txt").c_str(), row.mode);
        const std::string copy = fs::canonical(tree.b()).string() + "/";
        items::TWUtilities user;  // a read-only file is the ordinary user's case
        if (row.mode == 0444) user.mEuidIsRoot = false;
        // Only on the copy of f.txt (4 bytes), named or not yet.
        const auto theCopy = [&](const test::SysCall& call) {
            struct stat st {};
            return PathOfFd(call.fd).rfind(copy, 0) == 0 && ::fstat(call.fd, &st) == 0 &&
                   S_ISREG(st.st_mode) && st.st_size == 4;
        };
        test::FaultyFileSystem failing({{row.call, EPERM, "", 0, -1, theCopy}});
        const platform::ScopedFileSystem installed(failing);
        RunExecutor userExecutor{proxy, user};
        engine::RunEngine runner(doc, prefs, proxy, index, userExecutor, user);
        runner.ExecuteSyncBackup();
        EXPECT_EQ(runner.state().totals.gGlobalError, 1);
        const run::TaskLog& task = runner.state().logSessionArray.at(0).logTaskArray.at(0);
        EXPECT_EQ(task.copyCounters->gBFilesCopied, 1);  // ok.txt only
        EXPECT_TRUE(test::Contains(task.gDetailedLogText,
                                   "√ Can't copy the file\r\"" + tree.path("A/f.txt")));
    }
}

TEST_F(ExecutorReachTest, AnEditMadeWhileACopyIsMadeIsNeverLostNorCopiedHalfWay) {
    // The source written to while it is read: its copy could hold parts of two versions.
    // The item replaced edited while the copy is made, or after the last look at it (right
    // before the copy takes its place): the edit must stay.
    const auto atSwap = [](const test::SysCall& call) {
        return call.flags == RENAME_EXCHANGE &&
               items::IsTemporaryName(platform::LastPathComponent(std::string(call.name)));
    };
    const struct {
        const char* what;
        const char* edited;
        test::Fault when;  // the call the edit is made at
    } rows[] = {{"source", "A/f.txt", {test::Sys::copy_file_range, 0, "", 0, 1}},
                {"replaced item", "B/f.txt", {test::Sys::copy_file_range, 0, "", 0, 1}},
                {"replaced item, at the last moment",
                 "B/f.txt",
                 {test::Sys::renameat2, 0, "", 0, 1, atSwap}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tree.Clear();
        tree.Build({"A/f.txt:new content@5000", "B/f.txt:old@1000"});
        test::Fault edit = row.when;
        edit.act = [&] { std::ofstream(tree.path(row.edited), std::ios::app) << " + an edit"; };
        {
            test::FaultyFileSystem writer({edit});
            const platform::ScopedFileSystem installed(writer);
            EXPECT_EQ(Run().totals.gGlobalError, 1);
            EXPECT_TRUE(test::Contains(Log(), "It changed since the scan"));
        }
        const bool source = row.edited == std::string("A/f.txt");
        // No temporary left, and no mark on what stands.
        EXPECT_EQ(tree.Contents("B"), (test::Files{{"f.txt", source ? "old" : "old + an edit"}}));
        EXPECT_FALSE(Marked(tree.path("B/f.txt")));
        // The next run decides on what stands then.
        Run();
        EXPECT_EQ(Read("B/f.txt"), source ? "new content + an edit" : "old + an edit");
    }
}

class NoHooks : public run::CopyHooks {
  public:
    void PurgeBeforeScanAndCopyOneSession(std::int64_t) override {}
    void PurgeBeforeCopyOneTask() override {}
    void PurgeAfterCopyOneTask(run::TaskLog&) override {}
    void PurgeAfterCopyOneSession(std::int64_t) override {}
};

TEST_F(ExecutorReachTest, LeftoverTemporariesAreRemovedBeforeTheCopyAndOnlyWhenMarked) {
    if (!tree.HasUserXattrs()) GTEST_SKIP() << "no user xattrs here: temporaries carry no mark";
    tree.Build({"B/QVTempFile:half@1000", "B/sub/QVTempFile 2/inner.txt:half@1000",
                "A/QVTempFile 1:half@1000", "B/QVTempFile 3:a user's file@1000",
                "outside/QVTempFile:theirs@1000", "A/new.txt:new@5000"});
    for (const char* marked :
         {"B/QVTempFile", "B/sub/QVTempFile 2", "A/QVTempFile 1", "outside/QVTempFile"}) {
        ASSERT_EQ(::setxattr(tree.path(marked).c_str(), items::kTemporaryXattr, "1", 1, 0), 0)
            << marked;
    }
    fs::create_directory_symlink(tree.path("outside"), tree.path("B/swapped"));

    run::RunState state;
    state.mIsCopying = true;
    state.config.gIsOnError = run::kOnErrorContinue;
    state.logSessionArray.emplace_back().logTaskArray.emplace_back();
    run::TaskRoot& root = state.plan.taskRootList.emplace_back();
    root.source = tree.a();
    root.dest = tree.b();
    // clang-format off
    root.leftovers = {{true, "QVTempFile"}, {true, "sub/QVTempFile 2"}, {false, "QVTempFile 1"},
                      {true, "QVTempFile 3"}, {true, "swapped/QVTempFile"}, {true, "gone/QVTempFile"}};
    // clang-format on
    run::PlanItem copy;
    copy.name = "new.txt";
    copy.copyMode = run::kModeCopyAtoB;
    root.subItems.push_back(std::move(copy));
    items::ErrorPath errors(state, proxy);
    NoHooks hooks;
    Executor(errors, tw).MainCopy(state, hooks);

    EXPECT_EQ(Entries("A"), (std::vector<std::string>{"new.txt"}));
    EXPECT_EQ(Entries("B"),
              (std::vector<std::string>{"QVTempFile 3", "new.txt", "sub", "swapped"}));
    EXPECT_EQ(Entries("B/sub"), std::vector<std::string>{});
    EXPECT_EQ(Read("B/QVTempFile 3"), "a user's file");
    EXPECT_EQ(Read("outside/QVTempFile"), "theirs");  // reached through a link: left alone
    EXPECT_EQ(Read("B/new.txt"), "new");
    EXPECT_EQ(state.task.gTotError, 1) << state.task.gDetailedLogText;
    // Removing them is no action of the user's: the log tells only the copy and the failure.
    EXPECT_EQ(state.task.gDetailedLogText.find("Deleted"), std::string::npos)
        << state.task.gDetailedLogText;
    EXPECT_TRUE(
        test::Contains(state.task.gDetailedLogText,
                       "√ Can't delete the item \"" + tree.path("B/swapped/QVTempFile") + "\""));
}

// A chain of folders longer than a path may be is walked and copied through folder handles:
// no path of it is ever opened whole.
TEST_F(ExecutorReachTest, AChainOfFoldersLongerThanAPathIsCopied) {
    const std::string name(200, 'd');
    std::string relative;
    int dir = ::open(tree.a().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    for (int level = 0; level < 25; ++level) {  // 25 * 201 bytes: beyond 4096
        ASSERT_EQ(::mkdirat(dir, name.c_str(), 0755), 0);
        const int next = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(dir);
        ASSERT_GE(next, 0);
        dir = next;
    }
    const int file = ::openat(dir, "deep.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "deep", 4), 4);
    ::close(file);
    ::close(dir);
    const run::RunState& s = Run();
    EXPECT_EQ(s.totals.gGlobalError, 0) << Log();
    dir = ::open(tree.b().c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 25 && dir >= 0; ++level) {
        const int next = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(dir);
        dir = next;
    }
    ASSERT_GE(dir, 0);
    char text[8] = {};
    const int copy = ::openat(dir, "deep.txt", O_RDONLY);
    EXPECT_EQ(::read(copy, text, sizeof text), 4);
    EXPECT_EQ(std::string(text), "deep");
    ::close(copy);
    ::close(dir);
    // The fixture's removal walks by path: lift each folder of the chain to the top first.
    for (const std::string& top : {tree.a(), tree.b()}) {
        std::string from = top + "/" + name;
        for (int level = 1;
             ::rename(from.c_str(), (top + "/" + std::to_string(level)).c_str()) == 0; ++level) {
            from = top + "/" + std::to_string(level) + "/" + name;
        }
    }
}

// A folder that a newer file of the same name replaces goes the way of a deletion: each of its
// items counted and logged, nothing gone unsaid.
TEST_F(ExecutorReachTest, AFolderReplacedByAFileIsDeletedItemByItemInTheCounts) {
    test::SetOption(doc, 0, "settingsDict", "settTask", sessions::kTaskSynchronize);
    tree.Build({"A/report/one@1000", "A/report/two@1000", "A/report/sub/three@1000",
                "A/report/@1000", "B/report:the newer file@5000"});
    test::SetOption(doc, 0, "conflictsDict", "conflictFileFolderAsk", 1);
    proxy.replies.push_back(test::Proceed());
    const run::RunState& s = Run();
    // The question says what goes with the folder.
    ASSERT_EQ(proxy.questions().size(), 1u);
    EXPECT_EQ(proxy.questions()[0].conflict, 52);
    EXPECT_EQ(proxy.questions()[0].folderItems, 4);
    EXPECT_TRUE(test::Contains(BuildReplaceDialog(proxy.questions()[0]).explanation,
                               "The folder holds 4 items, which go with it."));
    EXPECT_EQ(Read("A/report"), "the newer file");
    const run::CopyCounters& c = *s.logSessionArray.at(0).logTaskArray.at(0).copyCounters;
    EXPECT_EQ(c.gAFilesDeleted, 3);
    EXPECT_EQ(c.gAFoldersDeleted, 2);
    for (const char* item : {"report/one", "report/sub/three", "report/sub"}) {
        EXPECT_TRUE(test::Contains(Log(), "\"" + tree.path(std::string("A/") + item) + "\""));
    }
}

// A folder a killed run left half-made (private, dated now, marked) never gives its mode or
// date to its source: it takes the source's at the next run, and loses its mark.
TEST_F(ExecutorReachTest, AFolderLeftHalfMadeTakesItsSourcesAttributes) {
    test::SetOption(doc, 0, "settingsDict", "settTask", sessions::kTaskSynchronize);
    tree.Build({"A/docs/one:1@1000", "A/docs/two:2@1000", "A/docs/@1000", "B/docs/one:1@1000"});
    ASSERT_EQ(::chmod(tree.path("A/docs").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(tree.path("B/docs").c_str(), 0700), 0);
    if (::setxattr(tree.path("B/docs").c_str(), items::kFillingXattr, "1", 1, 0) != 0) {
        GTEST_SKIP() << "no user xattrs here";
    }
    const run::RunState& s = Run();
    EXPECT_EQ(s.totals.gGlobalError, 0) << Log();
    struct stat a {
    }, b{};
    ASSERT_EQ(::stat(tree.path("A/docs").c_str(), &a), 0);
    ASSERT_EQ(::stat(tree.path("B/docs").c_str(), &b), 0);
    EXPECT_EQ(a.st_mode & 07777, 0755u);
    EXPECT_EQ(b.st_mode & 07777, 0755u);
    EXPECT_EQ(b.st_mtim.tv_sec, 1000);
    EXPECT_EQ(Read("B/docs/two"), "2");
    char mark;
    EXPECT_LT(::getxattr(tree.path("B/docs").c_str(), items::kFillingXattr, &mark, 1), 0);
}

// B itself swapped for a link to another folder between the scan and the copy: the copy acts on
// neither, says why, and the task is not counted as brought into step.
TEST_F(ExecutorReachTest, ATopFolderSwappedAfterTheScanIsNotActedOn) {
    test::SetOption(doc, 0, "settingsDict", "settExact", 1);
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "a link in B's place" : "another folder in B's place");
        tree.Build({"A/new:n", "B/only-in-b:b", "Outside/only-in-b:o", "Outside/keep:k"});
        proxy.onHook = [&](test::Hook hook) {
            if (hook != test::Hook::PurgeBeforeMainCopy) return;
            fs::rename(tree.b(), tree.path("B-real"));
            if (link) {
                fs::create_directory_symlink(tree.path("Outside"), tree.b());
            } else {
                fs::rename(tree.path("Outside"), tree.b());
            }
        };
        const run::RunState& s = Run();
        proxy.onHook = nullptr;
        if (!link) fs::rename(tree.b(), tree.path("Outside"));
        EXPECT_EQ(Entries("Outside"), (std::vector<std::string>{"keep", "only-in-b"}));
        EXPECT_EQ(Entries("B-real"), (std::vector<std::string>{"only-in-b"}));
        EXPECT_EQ(s.totals.gGlobalError, 1);
        EXPECT_TRUE(test::Contains(Log(), "Cannot find the destination folder:"));
        if (!link) {
            EXPECT_TRUE(test::Contains(Log(), "It is no longer the folder the scan read."));
        }
        fs::remove_all(tree.b());
        fs::rename(tree.path("B-real"), tree.b());
    }
}

}  // namespace
}  // namespace qv::fileops
