// Exact Synchronize with its index: what the first run writes, how deletions travel at the
// next run, the conflicts the index raises, and the index files themselves.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "engine/exact_sync_index_store.h"
#include "engine/preview_model.h"
#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/item_attributes.h"
#include "sessions/plist_codec.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/faulty_file_system.h"
#include "support/tree_fixture.h"

namespace qv::engine {
namespace {

const std::string kOdd = "caf\xe9";  // not valid UTF-8
using Names = std::vector<std::string>;

class ExactSyncTest : public ::testing::Test {
  protected:
    ExactSyncTest() : doc(test::TwoFolderDocument(tree.a(), tree.b(), sessions::kTaskSynchronize)) {
        test::SetOption(doc, 0, "settingsDict", "settExact", 1);
        // The second session works on the same folders the other way round.
        test::SetOption(doc, 1, "consoleDict", "topFolder", tree.b());
        test::SetOption(doc, 1, "consoleDict", "bottomFolder", tree.a());
        test::SetOption(doc, 1, "settingsDict", "settTask", sessions::kTaskSynchronize);
        test::SetOption(doc, 1, "settingsDict", "settExact", 1);
    }

    const run::RunState& Run(std::int64_t session = 0, bool all = false) {
        RunOptions options;
        options.sessionIndex = session;
        options.allSessions = all;
        engine.emplace(doc, prefs, proxy, index, executor, tw, options);
        engine->ExecuteSyncBackup();
        return engine->state();
    }
    bool Exists(const std::string& relative) const {
        return platform::ItemExists(tree.path(relative));
    }
    std::string Read(const std::string& relative) const {
        return test::ReadText(tree.path(relative));
    }
    test::Files Contents(const std::string& relative) const { return tree.Contents(relative); }
    void SetModified(const std::string& relative, std::int64_t seconds) const {
        const std::array<timespec, 2> t{timespec{seconds, 0}, timespec{seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, tree.path(relative).c_str(), t.data(), 0), 0);
    }
    // Both folders and the index gone, for the next case of a table.
    void Reset() const {
        for (const std::string& folder : {tree.a(), tree.b(), Folder()}) {
            std::filesystem::remove_all(folder);
        }
    }
    std::string Folder() const { return support / "ExactSync Indexes"; }
    std::string File(const std::string& name) const { return Folder() + "/" + name; }
    plist::Value ReadIndex(const std::string& name) const {
        plist::ReadResult r = plist::ReadFile(File(name));
        EXPECT_TRUE(r.value.has_value()) << name << ": " << r.reason;
        return r.value.value_or(plist::Dict{});
    }
    // The names the pair file lists in a folder of A or B ("A", "B/d") as it was at the last
    // run, a folder's with a "/".
    Names Indexed(const std::string& folder) const {
        const plist::Value pair = ReadIndex(kExactSyncPairIndexName);
        const plist::Value* at = pair.dictAt(folder[0] == 'A' ? "treeSource" : "treeDest");
        for (const auto& part : std::filesystem::path(folder)) {
            at = at != nullptr ? at->dictAt(part.string()) : nullptr;
        }
        Names names;
        for (const auto& [name, value] : at != nullptr ? at->dict() : plist::Dict{}) {
            names.push_back(name + (value.isDict() ? "/" : ""));
        }
        return names;
    }
    bool Indexed(const std::string& folder, const std::string& name) const {
        const Names names = Indexed(folder);
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    const std::string& Log() const {
        return engine->state().logSessionArray.at(0).logTaskArray.at(0).gDetailedLogText;
    }

    test::TreeFixture tree;
    test::TempDir support;
    sessions::SessionDocument doc;
    // Cases here often empty a side on purpose; the guard against that has a test of its own.
    plist::Value prefs = plist::Dict{{"prefOnError", 2}, {"prefConfirmEmptySideDeletion", 0}};
    test::FakeProxy proxy;
    items::TWUtilities tw;
    fileops::RunExecutor executor{proxy, tw};
    ExactSyncIndexStore index{Folder()};
    std::optional<RunEngine> engine;
};

TEST_F(ExactSyncTest, FirstRunSynchronizesThenDeletionsTravelBothWays) {
    tree.Build({"A/a1", "A/gone-in-a", "A/d/in-d", "A/" + kOdd, "B/b1", "B/gone-in-b", "B/e/in-e"});
    const run::RunState& first = Run();
    EXPECT_TRUE(test::Contains(Log(), "No Exact Sync index of these two folders yet"));
    // Nothing is deleted at the first run: each side gets the other's items.
    const test::Files all = {{"a1", ""}, {"gone-in-a", ""}, {"d/in-d", ""}, {kOdd, ""},
                             {"b1", ""}, {"gone-in-b", ""}, {"e/in-e", ""}};
    EXPECT_EQ(Contents("A"), all);
    EXPECT_EQ(Contents("B"), all);
    const plist::Value main = ReadIndex(kExactSyncMainIndexName);
    EXPECT_EQ(main.intAt("fileVersion"), kExactSyncIndexVersion);
    ASSERT_EQ(main.arrayAt("indexFilesList")->array().size(), 1u);
    EXPECT_EQ(main.arrayAt("indexFilesList")->array()[0].stringAt("indexFileName"),
              kExactSyncPairIndexName);
    EXPECT_EQ(ReadIndex(kExactSyncPairIndexName).stringAt("absolutePathSource"), tree.a());
    EXPECT_EQ(Indexed("A"),
              (Names{EncodeIndexText(kOdd), "a1", "b1", "d/", "e/", "gone-in-a", "gone-in-b"}));
    EXPECT_EQ(Indexed("A/e"), Names{"in-e"});
    if (tree.HasUserXattrs()) {
        EXPECT_EQ(tree.BackupDate("B/a1"), first.totals.gStartSyncDateTimeUTC);
    }

    // Files and folders deleted on one side since then go from the other.
    for (const std::string& gone :
         Names{"A/gone-in-a", "B/gone-in-b", "A/d/in-d", "A/d", "B/" + kOdd}) {
        std::filesystem::remove(tree.path(gone));
    }
    std::filesystem::remove_all(tree.path("B/e"));
    Run();
    EXPECT_EQ(Contents("A"), (test::Files{{"a1", ""}, {"b1", ""}}));
    EXPECT_EQ(Contents("B"), Contents("A"));
    EXPECT_TRUE(proxy.errors().empty());
}

TEST_F(ExactSyncTest, ConflictsOfTheIndexFollowTheAnswer) {
    if (!tree.HasUserXattrs()) GTEST_SKIP() << "no user xattrs: no backup dates to compare";
    test::SetOption(doc, 0, "conflictsDict", "conflictExactSyncAsk", 1);
    struct Case {
        const char* name;
        run::ConflictReply reply;
        bool keptInB, backInA, stopped;
    };
    const Case cases[] = {
        {"yes: the deletion goes on", test::Proceed(), false, false, false},
        {"no: copied back", test::Skip(), true, true, false},
        {"stop: nothing done", test::Stop(), true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        tree.Build({"A/f@1000", "A/z/old@1000", "B/"});
        Run();
        // f deleted in A and changed in B since; a new file in B's z, whose A side went.
        std::filesystem::remove(tree.path("A/f"));
        std::filesystem::remove_all(tree.path("A/z"));
        tree.Build({"B/f@" + std::to_string(std::time(nullptr) + 1000), "B/z/new"});
        const std::string before = test::ReadText(File(kExactSyncPairIndexName));
        proxy.replies = {c.reply, test::Proceed()};
        const std::size_t asked = proxy.questions().size();
        const run::RunState& s = Run();
        const auto questions = proxy.questions();
        ASSERT_GT(questions.size(), asked);
        EXPECT_EQ(questions[asked].conflict, 41);
        EXPECT_EQ(questions[asked].dest, tree.path("B/f"));
        if (!c.stopped) {
            ASSERT_EQ(questions.size(), asked + 2);
            EXPECT_EQ(questions[asked + 1].conflict, 42);
            EXPECT_EQ(questions[asked + 1].dest, tree.path("B/z/new"));
        }
        EXPECT_EQ(Exists("B/f"), c.keptInB);
        EXPECT_EQ(Exists("A/f"), c.backInA);
        EXPECT_EQ(s.mUserPressedStop.load(), c.stopped);
        // A stopped run leaves the index as it was.
        EXPECT_EQ(test::ReadText(File(kExactSyncPairIndexName)) == before, c.stopped);
    }
}

// Different items made under one name on the two sides, with old dates (copied in with
// them): neither was ever in step, so no date may pick one. A conflict left as it is stays a
// conflict at every later run, and once the user deletes one side the other is no deletion to
// carry over: it is copied back.
TEST_F(ExactSyncTest, AConflictLeftAsItWasStaysOneUntilSomeoneDecides) {
    test::SetOption(doc, 0, "conflictsDict", "conflictSyncRadio", 1);        // skip
    test::SetOption(doc, 0, "conflictsDict", "conflictFileFolderRadio", 2);  // skip
    tree.Build({"A/keep@1000", "B/"});
    Run();
    tree.Build({"A/x:A's@1000", "B/x:B's@2000", "A/y:a file@1000", "B/y/z:in a folder@2000"});
    for (int run = 2; run <= 4; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        EXPECT_EQ(Run().totals.gGlobalConflictsSkipped, 2);
        EXPECT_EQ(Contents("A"), (test::Files{{"keep", ""}, {"x", "A's"}, {"y", "a file"}}));
        EXPECT_EQ(Contents("B"), (test::Files{{"keep", ""}, {"x", "B's"}, {"y/z", "in a folder"}}));
    }
    std::filesystem::remove(tree.path("A/x"));
    std::filesystem::remove(tree.path("A/y"));
    Run();
    const test::Files settled = {{"keep", ""}, {"x", "B's"}, {"y/z", "in a folder"}};
    EXPECT_EQ(Contents("A"), settled);
    Run();  // in step now: nothing comes or goes
    EXPECT_EQ(Contents("A"), settled);
    EXPECT_EQ(Contents("B"), settled);
}

// The index keeps what each item was at the last run: the change made since wins whatever the
// dates say, and only a change on both sides is a conflict.
TEST_F(ExactSyncTest, WhatChangedSinceTheLastRunWinsWhateverTheDates) {
    test::SetOption(doc, 0, "conflictsDict", "conflictSyncRadio", 1);  // skip
    tree.Build({"A/draft:the draft@1000", "A/report:the report@2000", "A/old:v1@3000",
                "A/both:v1@3000", "A/edited:v1@3000", "A/same:v1@3000", "A/d/x:v1@3000", "B/"});
    Run();
    // mv -f of an older file over a newer one; an older version put back on B; both sides
    // edited; deleted on A while B's was edited with an old date, or a new file made in it (a
    // new session copies these back rather than delete them).
    std::filesystem::rename(tree.path("A/draft"), tree.path("A/report"));
    tree.Build({"B/old:v0 restored@500", "A/both:A's@5000", "B/both:B's@4000",
                "B/edited:B's edit@100", "B/d/new-report:new@100"});
    std::filesystem::remove(tree.path("A/edited"));
    std::filesystem::remove_all(tree.path("A/d"));
    test::Files expected = {{"report", "the draft"}, {"old", "v0 restored"},
                            {"both", "A's"},         {"edited", "B's edit"},
                            {"same", "v1"},          {"d/new-report", "new"}};
    EXPECT_EQ(Run().totals.gGlobalConflictsSkipped, 3);
    EXPECT_EQ(Contents("A"), expected);
    expected["both"] = "B's";
    EXPECT_EQ(Contents("B"), expected);
    // Unchanged since, the items in step stay; the skipped conflict stays one.
    EXPECT_EQ(Run().totals.gGlobalConflictsSkipped, 1);
    EXPECT_EQ(Contents("B"), expected);
}

// What the run did not bring into step is not recorded as in step: an item whose replacement
// failed, an item saved while the run went on (with an old date, as a copy keeps it), and a
// folder whose content changed while the other side made it a file. The next run finds each
// changed, whatever the dates say.
TEST_F(ExactSyncTest, WhatTheRunDidNotBringIntoStepIsNotRecordedAsInStep) {
    struct FailingReplacement : platform::FileSystem {
        int renameat2(int fromFd, const char* from, int toFd, const char* to,
                      unsigned flags) override {
            if (std::string_view(to) == "f") {
                errno = EIO;
                return -1;
            }
            return FileSystem::renameat2(fromFd, from, toFd, to, flags);
        }
    };
    test::SetOption(doc, 0, "conflictsDict", "conflictSyncRadio", 1);  // skip
    tree.Build({"A/f:one@3000", "A/g:one@3000", "A/d/deep/in:one@3000", "A/e/x:one@3000", "B/"});
    Run();
    tree.Build({"A/f:A's edit@1000", "B/d/new:B's new@1000"});
    for (const char* folder : {"A/d", "A/e"}) std::filesystem::remove_all(tree.path(folder));
    tree.Build({"A/d:a file now@900", "A/e:a file now@900"});
    proxy.onHook = [&](test::Hook hook) {  // saved while the run copies
        if (hook == test::Hook::PurgeBeforeMainCopy) {
            tree.Build({"B/g:B's save@1000", "B/e/x:B's edit@1000"});
        }
    };
    {
        FailingReplacement failing;
        const platform::ScopedFileSystem installed(failing);
        EXPECT_GT(Run().totals.gGlobalError, 0) << Log();
    }
    proxy.onHook = nullptr;
    const run::RunState& s = Run();
    EXPECT_EQ(s.totals.gGlobalError, 0) << Log();
    EXPECT_EQ(Read("B/f"), "A's edit");
    EXPECT_EQ(Read("A/g"), "B's save") << Log();
    EXPECT_EQ(Read("A/d"), "a file now");
    EXPECT_EQ(Read("B/d/new"), "B's new");
    EXPECT_EQ(Read("B/e/x"), "B's edit");
}

// Without an index the same holds by the backup date: a Backup's conflict left as it is
// (the destination changed since the last run) is found again after the top folder's date has
// moved past the change.
TEST_F(ExactSyncTest, ABackupConflictLeftAsItWasStaysOneWhenTheTopFoldersDateMovesOn) {
    if (!tree.HasUserXattrs()) GTEST_SKIP() << "no user xattrs: no backup dates to compare";
    test::SetOption(doc, 0, "settingsDict", "settTask", sessions::kTaskBackup);
    test::SetOption(doc, 0, "settingsDict", "settExact", 0);
    test::SetOption(doc, 0, "conflictsDict", "conflictBackupRadio", 1);  // keep B's item
    tree.Build({"A/keep@1000", "B/"});
    Run();
    const std::int64_t now = std::time(nullptr);
    tree.Build({"A/x:A's", "B/x:B's edit"});
    SetModified("B/x", now + 1000);
    SetModified("A/x", now + 2000);
    EXPECT_EQ(Run().totals.gGlobalConflictsSkipped, 1);
    // Time passes: the destination's date is now later than B's edit.
    ASSERT_TRUE(tw.SetBackupDateDitto(tree.b(), now + 1500));
    EXPECT_EQ(Run().totals.gGlobalConflictsSkipped, 1);
    EXPECT_EQ(Read("B/x"), "B's edit");
}

// A conflict left as it is marks both sides as never in step: later runs find it again, with
// the index or, once the pair is run as a plain Synchronize, by the dates.
TEST_F(ExactSyncTest, SkippedConflictIsMarkedNeverInStepAndFoundAgain) {
    if (!tree.HasUserXattrs()) GTEST_SKIP() << "no user xattrs: no backup dates to compare";
    test::SetOption(doc, 0, "conflictsDict", "conflictSyncAsk", 1);
    tree.Build({"A/f:one", "A/g"});
    Run();
    const std::int64_t later = std::time(nullptr) + 1000;
    test::WriteText(tree.path("A/f"), "two");
    test::WriteText(tree.path("B/f"), "three");
    SetModified("A/f", later + 10);
    SetModified("B/f", later);
    for (int run = 0; run < 3; ++run) {
        if (run == 2) test::SetOption(doc, 0, "settingsDict", "settExact", 0);
        proxy.replies = {test::Skip()};
        Run();
        ASSERT_EQ(proxy.conflictCodes().size(), static_cast<std::size_t>(run + 1));
        EXPECT_EQ(proxy.conflictCodes().back(), 31);
        EXPECT_EQ(tree.BackupDate("A/f"), RunEngine::kNeverInStepBackupDate);
        EXPECT_EQ(tree.BackupDate("B/f"), RunEngine::kNeverInStepBackupDate);
    }
}

// A link carries no backup date: a Synchronize keeps the conflicts it leaves in a record of the
// pair's own, so that with no index either, the two links stay in conflict until someone
// decides, however the dates then go.
TEST_F(ExactSyncTest, ConflictsLeftByAPlainSynchronizeAreRemembered) {
    test::SetOption(doc, 0, "settingsDict", "settExact", 0);
    test::SetOption(doc, 0, "conflictsDict", "conflictSyncRadio", 1);  // skip
    tree.Build({"A/keep@1000", "B/"});
    Run();
    const std::time_t now = std::time(nullptr);
    const auto link = [&](const std::string& at, const char* target, std::time_t when) {
        std::filesystem::remove(tree.path(at));
        std::filesystem::create_symlink(target, tree.path(at));
        const std::array<timespec, 2> t{timespec{when, 0}, timespec{when, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, tree.path(at).c_str(), t.data(), AT_SYMLINK_NOFOLLOW), 0);
    };
    link("A/l", "A's", now + 10);
    link("B/l", "B's", now + 20);
    EXPECT_EQ(Run().totals.gGlobalConflictsSkipped, 1);
    // Time passes: the folders' dates move past every change, and no date tells one again.
    for (const std::string& top : {tree.a(), tree.b()}) {
        ASSERT_TRUE(tw.SetBackupDateDitto(top, now + 1000));
    }
    link("B/l", "B's again", now + 30);
    EXPECT_EQ(Run().totals.gGlobalConflictsSkipped, 1);
    EXPECT_EQ(std::filesystem::read_symlink(tree.path("A/l")), "A's");
    link("A/l", "B's again", now + 30);  // settled by hand: nothing left to remember
    EXPECT_EQ(Run().totals.gGlobalConflictsSkipped, 0);
    EXPECT_FALSE(platform::ItemExists(index.LeftConflictsPath(tree.a(), tree.b())));
}

// Files in step since the last run keep their backup dates, whether their folder is settled or
// the run changed a neighbour; a file changed or new since the last run takes this run's date.
TEST_F(ExactSyncTest, OnlyWhatTheRunBroughtIntoStepIsStampedAgain) {
    if (!tree.HasUserXattrs()) GTEST_SKIP() << "no user xattrs: no backup dates to compare";
    tree.Build({"A/top@1000", "A/calm/q:q@1000", "A/calm/gone@1000", "A/calm/deep/r@1000",
                "A/calm/touched-both@1000", "A/busy/changed:old@1000", "A/busy/neighbour@1000",
                "A/mixed/a-quiet@1000", "A/mixed/b-changed:old@1000", "A/link-target@1000"});
    std::filesystem::create_symlink("link-target", tree.path("A/calm/link"));
    Run();
    const std::int64_t marker = 5000;  // later than every file's date, earlier than any run
    for (const std::string side : {"A/", "B/"}) {
        for (const char* f : {"top", "calm/q", "calm/deep/r", "busy/changed", "busy/neighbour",
                              "calm/gone", "calm/touched-both", "mixed/a-quiet"}) {
            ASSERT_TRUE(tree.SetBackupDate(side + f, marker));
        }
    }
    const std::string later = "@" + std::to_string(std::time(nullptr) + 1000);
    tree.Build({"A/busy/changed:new" + later, "A/mixed/b-changed:new" + later});
    for (const std::string side : {"A/", "B/"}) {
        // The same new file on both sides, with an old date; a file touched alike on both
        // sides since the last run; and one file gone from both.
        tree.Build({side + "calm/old-new@1000", side + "calm/touched-both" + later});
        std::filesystem::remove(tree.path(side + "calm/gone"));
    }

    const std::int64_t now = Run().totals.gStartSyncDateTimeUTC;
    EXPECT_TRUE(proxy.errors().empty());
    EXPECT_EQ(Read("B/busy/changed"), "new");
    for (const std::string side : {"A", "B"}) {
        SCOPED_TRACE(side);
        // Met while its folder still looked settled, before the change further on: a-quiet.
        for (const char* f : {"top", "calm/q", "calm/deep/r", "busy/neighbour", "mixed/a-quiet"}) {
            EXPECT_EQ(tree.BackupDate(side + "/" + f), marker) << f;
        }
        // old-new is not in the last index.
        for (const char* f : {"calm/old-new", "calm/touched-both", "busy/changed"}) {
            EXPECT_EQ(tree.BackupDate(side + "/" + f), now) << f;
        }
        // The index holds what the folders hold, whether they were listed again or not.
        EXPECT_EQ(Indexed(side + "/calm"),
                  (Names{"deep/", "link", "old-new", "q", "touched-both"}));
        EXPECT_EQ(Indexed(side + "/busy").size(), 2u);
    }
    // And the next run finds nothing to do.
    EXPECT_EQ(Run().totals.gItemsToDoTotal, 0);
    EXPECT_EQ(tree.BackupDate("A/calm/q"), marker);
}

// Files left with an old date by a skipped conflict are stamped once they are in step again,
// or the next change of either would raise the same conflict once more.
TEST_F(ExactSyncTest, AConflictLeftAsItWasIsStampedOnceInStep) {
    if (!tree.HasUserXattrs()) GTEST_SKIP() << "no user xattrs: no backup dates to compare";
    test::SetOption(doc, 0, "conflictsDict", "conflictSyncAsk", 1);
    tree.Build({"A/f:one@1000", "A/other@1000"});
    Run();
    for (const char* f : {"A/f", "B/f"}) ASSERT_TRUE(tree.SetBackupDate(f, 5000));
    tree.Build({"A/f:two@6000", "B/f:three@7000"});
    proxy.replies = {test::Skip()};
    Run();
    ASSERT_EQ(proxy.conflictCodes(), std::vector<int>{31});
    EXPECT_EQ(tree.BackupDate("A/f"), RunEngine::kNeverInStepBackupDate);
    tree.Build({"A/f:three@7000"});  // the user settles it by hand, dates and all
    const std::int64_t now = Run().totals.gStartSyncDateTimeUTC;
    EXPECT_EQ(proxy.conflictCodes().size(), 1u);
    EXPECT_EQ(tree.BackupDate("A/f"), now);
    EXPECT_EQ(tree.BackupDate("B/f"), now);
}

// Two pairs run together with a folder in common: what one task changes in a folder the other
// found in step is what the other's index records.
TEST_F(ExactSyncTest, AnotherTaskOfTheRunChangingASettledFolderIsSeen) {
    const std::string c = tree.path("C");
    std::filesystem::create_directories(c);
    test::SetOption(doc, 1, "consoleDict", "topFolder", c);
    test::SetOption(doc, 1, "consoleDict", "bottomFolder", tree.b());
    tree.Build({"A/d/f:f@1000", "A/d/g:g@1000"});
    for (int run = 0; run < 3; ++run) Run(-1, true);
    ASSERT_TRUE(platform::ItemExists(c + "/d/f"));
    // Deleted in C: the C-B task deletes it from B while the A-B task found B/d in step.
    std::filesystem::remove(c + "/d/f");
    Run(-1, true);
    EXPECT_FALSE(Exists("B/d/f"));
    // A still has it, and B's index must not say B had it: it comes back rather than go.
    Run(-1, true);
    EXPECT_TRUE(Exists("A/d/f"));
    EXPECT_TRUE(Exists("B/d/f"));
    EXPECT_TRUE(proxy.errors().empty());
}

// The rebuild trusts what the scan kept of a folder only while the folder is as it was then.
TEST_F(ExactSyncTest, RebuildTakesSettledFoldersOnlyWhileUnchanged) {
    tree.Build({"A/d/real@1000", "A/d/plain@1000", "B/d/real@1000", "B/d/plain@1000"});
    run::RunState state;
    state.task.gSourceFolder = tree.a();
    state.task.gDestFolder = tree.b();
    // A run that began well after the folders last changed.
    state.totals.gStartSyncDateTime = static_cast<double>(std::time(nullptr) + 100);
    state.totals.gStartSyncDateTimeUTC = std::time(nullptr) + 100;
    const auto settle = [&] {
        const platform::ItemAttributes a = platform::ReadItemAttributes(tree.path("A/d").c_str());
        const platform::ItemAttributes b = platform::ReadItemAttributes(tree.path("B/d").c_str());
        // What the scan saw: "real" in step (no stamp), "plain" to stamp, and a name that the
        // folder no longer holds, to tell the scan's names from a new listing.
        const auto record = [&](const char* item) {
            return ItemRecord(platform::ReadItemAttributes(tree.path(item).c_str()));
        };
        state.task.settledFolders["/d"] =
            run::SettledFolder{a.ctime,
                               b.ctime,
                               a.ino,
                               b.ino,
                               {{"real", platform::ItemType::RegularFile, false, false,
                                 record("A/d/real"), record("B/d/real")},
                                {"plain", platform::ItemType::RegularFile, false, true,
                                 record("A/d/plain"), record("B/d/plain")},
                                {"ghost", platform::ItemType::RegularFile, false, true}}};
    };
    items::ErrorPath errors(state, proxy);
    settle();
    ASSERT_TRUE(index.WriteExactSyncIndex(2, errors, tw));
    EXPECT_EQ(Indexed("A/d"), (Names{"ghost", "plain", "real"}));
    EXPECT_TRUE(state.task.settledFolders.empty());
    if (tree.HasUserXattrs()) {
        EXPECT_EQ(tree.BackupDate("A/d/plain"), state.totals.gStartSyncDateTimeUTC);
        EXPECT_EQ(tree.BackupDate("A/d/real"), -1);
    }

    // A name added since the scan: the folder is listed again and every file stamped.
    settle();
    tree.Build({"B/d/late@1000"});
    ASSERT_TRUE(index.WriteExactSyncIndex(2, errors, tw));
    EXPECT_EQ(Indexed("A/d"), (Names{"ghost", "plain", "real"}));
    EXPECT_EQ(Indexed("B/d"), (Names{"late", "plain", "real"}));
    if (tree.HasUserXattrs()) {
        EXPECT_EQ(tree.BackupDate("A/d/real"), -1);
        EXPECT_EQ(tree.BackupDate("B/d/real"), state.totals.gStartSyncDateTimeUTC);
    }

    // A folder changed within the second before the run is listed again whatever its time.
    tree.Build({"A/d/brief"});
    std::filesystem::remove(tree.path("A/d/brief"));
    settle();
    state.totals.gStartSyncDateTime = static_cast<double>(std::time(nullptr));
    ASSERT_TRUE(index.WriteExactSyncIndex(2, errors, tw));
    EXPECT_EQ(Indexed("A/d"), (Names{"plain", "real"}));
}

// Turned around in the preview, a replacement writes to the other side and a deletion becomes
// the copy back of the item: the last look before each acts on the item the scan saw on the
// side now written to.
TEST_F(ExactSyncTest, ReplacementsAndDeletionsTurnedAroundInThePreviewAreCarriedOut) {
    tree.Build({"A/f:one@1000", "A/x:kept@1000"});
    Run();
    const std::time_t now = std::time(nullptr);  // A is newer: the plan replaces B's
    tree.Build(
        {"A/f:A's edit@" + std::to_string(now + 20), "B/f:B's edit@" + std::to_string(now + 10)});
    std::filesystem::remove(tree.path("A/x"));
    prefs.set("prefPreview", 1);
    int turned = 0;
    proxy.onHook = [&](test::Hook hook) {
        if (hook != test::Hook::ShowPreview) return;
        PreviewModel model(engine->state());
        PreviewNode& root = model.rootItem(0);
        for (std::int64_t i = 0; i < root.numberOfChildren(); ++i) {
            turned += model.ChangeCopyModeDirection(root.childAt(static_cast<std::size_t>(i)));
        }
    };
    const run::RunState& s = Run();
    EXPECT_EQ(turned, 2);
    EXPECT_EQ(s.totals.gGlobalError, 0) << Log();
    EXPECT_EQ(Read("A/f"), "B's edit");
    EXPECT_EQ(Read("B/f"), "B's edit");
    EXPECT_EQ(Read("A/x"), "kept");
    EXPECT_TRUE(Exists("B/x"));
}

// Stop in the middle of a large file: the copy ends within a few megabytes, its temporary goes,
// the old file stays, and the stop is no error.
TEST_F(ExactSyncTest, StopInsideALargeCopyEndsItAtOnceAndKeepsTheOldFile) {
    tree.Build({"A/big:old@1000", "B/"});
    Run();
    test::WriteText(tree.path("A/big"), std::string(64 << 20, 'x'));
    // A file system without reflinks, so that the content is copied; Stop at the first chunk.
    test::FaultyFileSystem stopping(
        {{test::Sys::ficlone, EOPNOTSUPP},
         {test::Sys::copy_file_range, 0, "", 0, 1, {}, [&] { engine->Stop(); }}});
    {
        const platform::ScopedFileSystem installed(stopping);
        const run::RunState& s = Run();
        EXPECT_TRUE(s.mUserPressedStop);
        EXPECT_EQ(s.totals.gGlobalError, 0) << Log();
    }
    EXPECT_LE(stopping.calls(test::Sys::copy_file_range), 2);  // a chunk or two, not 64 MB
    EXPECT_EQ(Contents("B"), (test::Files{{"big", "old"}}));
}

// Items skipped in the preview, through its model: the copy leaves them alone, and the next run
// plans them again as they were: the deletion of what was deleted on B is proposed again (not
// undone by a copy back), what is new on A is copied (not deleted as if B had lost it). A file
// whose deletion was skipped keeps the index's record and its backup date.
TEST_F(ExactSyncTest, ItemsSkippedInThePreviewArePlannedAgainAtTheNextRun) {
    test::SetOption(doc, 0, "conflictsDict", "conflictExactSyncAsk", 1);  // nothing to ask
    tree.Build({"A/keep@1000", "A/x@1000", "A/dd/in@1000"});
    Run();
    const std::int64_t stamped = tree.BackupDate("A/x");
    std::filesystem::remove(tree.path("B/x"));
    std::filesystem::remove_all(tree.path("B/dd"));
    tree.Build({"A/n@1000", "A/nd/in@1000"});
    prefs.set("prefPreview", 1);
    std::map<std::string, int> planned;  // the modes the preview showed, by name
    bool skip = true;
    proxy.onHook = [&](test::Hook hook) {
        if (hook != test::Hook::ShowPreview) return;
        PreviewModel model(engine->state());
        PreviewNode& root = model.rootItem(0);
        for (std::size_t i = 0; i < static_cast<std::size_t>(root.numberOfChildren()); ++i) {
            PreviewNode& node = root.childAt(i);
            planned[node.sourceName()] = node.copyMode();
            if (skip && node.sourceName() != "keep") model.ToggleSkip(node);
        }
    };
    const std::map<std::string, int> expected = {{"x", run::kModeDeleteInA},
                                                 {"dd", run::kModeDeleteInA},
                                                 {"n", run::kModeCopyAtoB},
                                                 {"nd", run::kModeCopyAtoB}};
    Run();
    EXPECT_EQ(planned, expected);
    EXPECT_EQ(Contents("A"),
              (test::Files{{"keep", ""}, {"x", ""}, {"dd/in", ""}, {"n", ""}, {"nd/in", ""}}));
    EXPECT_EQ(Contents("B"), (test::Files{{"keep", ""}}));
    EXPECT_TRUE(Indexed("A", "x"));
    EXPECT_EQ(tree.BackupDate("A/x"), stamped);

    skip = false;
    planned.clear();
    Run();
    EXPECT_EQ(planned, expected);
    EXPECT_EQ(Contents("A"), (test::Files{{"keep", ""}, {"n", ""}, {"nd/in", ""}}));
    EXPECT_EQ(Contents("B"), Contents("A"));
    EXPECT_TRUE(proxy.conflictCodes().empty());
    EXPECT_TRUE(proxy.errors().empty());
}

TEST_F(ExactSyncTest, SwappedSessionsShareOnePairFile) {
    tree.Build({"A/x", "A/y"});
    Run(0);
    std::filesystem::remove(tree.path("B/x"));  // B is the source of session 1
    Run(1);
    EXPECT_FALSE(Exists("A/x"));
    std::filesystem::remove(tree.path("A/y"));
    Run(0);
    EXPECT_FALSE(Exists("B/y"));
    const plist::Value main = ReadIndex(kExactSyncMainIndexName);
    ASSERT_EQ(main.arrayAt("indexFilesList")->array().size(), 1u);
    EXPECT_EQ(main.arrayAt("indexFilesList")->array()[0].stringAt("absolutePathSource"), tree.a());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder()), {}), 2);
    Run(1);  // the pair file takes the orientation of the run that wrote it last
    EXPECT_EQ(ReadIndex(kExactSyncPairIndexName).stringAt("absolutePathSource"), tree.b());
}

TEST_F(ExactSyncTest, IndexKeptWhenFoldersFailAndDroppedWhenNoLongerExact) {
    tree.Build({"A/x"});
    Run();
    const std::string before = test::ReadText(File(kExactSyncPairIndexName));
    std::filesystem::rename(tree.a(), tree.path("A-away"));
    Run();  // the source folder is missing: nothing is rebuilt from it
    EXPECT_EQ(test::ReadText(File(kExactSyncPairIndexName)), before);
    std::filesystem::rename(tree.path("A-away"), tree.a());

    // Another session of the run failing its scan does not hold this one back: the deletion
    // is carried out and the index follows it.
    std::filesystem::remove(tree.path("B/x"));
    test::SetOption(doc, 1, "consoleDict", "topFolder", tree.path("missing"));
    test::SetOption(doc, 1, "settingsDict", "settExact", 0);
    EXPECT_EQ(Run(0, true).totals.gGlobalError, 1);
    EXPECT_FALSE(Exists("A/x"));
    EXPECT_NE(test::ReadText(File(kExactSyncPairIndexName)), before);
    Run();
    EXPECT_FALSE(Exists("A/x") || Exists("B/x"));

    test::SetOption(doc, 0, "settingsDict", "settExact", 0);
    Run();
    EXPECT_FALSE(platform::ItemExists(File(kExactSyncPairIndexName)));
    EXPECT_TRUE(ReadIndex(kExactSyncMainIndexName).arrayAt("indexFilesList")->array().empty());
}

TEST_F(ExactSyncTest, UnreadableIndexMakesAPlainSynchronizeAndIsRewritten) {
    tree.Build({"A/x"});
    Run();
    std::filesystem::remove(tree.path("A/x"));
    test::WriteText(File(kExactSyncPairIndexName), "bplist00 damaged");
    prefs.set("prefLogKind", 3);  // errors only
    EXPECT_EQ(Run().totals.gGlobalError,
              1);  // the user's deletions are undone: an error, not a note
    EXPECT_TRUE(
        test::Contains(Log(), "The Exact Sync index of these two folders cannot be read: \"" +
                                  File(kExactSyncPairIndexName) + "\""));
    EXPECT_TRUE(test::Contains(Log(), "This run copies both ways and deletes nothing"));
    EXPECT_TRUE(Exists("A/x"));  // copied back, not deleted
    EXPECT_TRUE(Indexed("A", "x"));
}

TEST_F(ExactSyncTest, WriteFailureIsReportedAndCounted) {
    tree.Build({"A/x"});
    test::WriteText(support / "blocker", "");
    ExactSyncIndexStore blocked(support / "blocker/ExactSync Indexes");
    engine.emplace(doc, prefs, proxy, blocked, executor, tw);
    engine->ExecuteSyncBackup();
    const std::string path = support / "blocker/ExactSync Indexes";
    const std::string message =
        "Can't create the ExactSync Index Folder \"" + path +
        "\".\rThus can't write the ExactSyncIndex file for this synchronization.\rThe next Exact "
        "Sync on these two folders will not run as \"Exact Sync\"";
    const run::TaskLog& task = engine->state().logSessionArray[0].logTaskArray[0];
    EXPECT_TRUE(test::Contains(task.gDetailedLogText,
                               "√ Can't create the ExactSync Index Folder \"" + path + "\"\r"));
    EXPECT_EQ(task.gTotError, 1);
    EXPECT_EQ(engine->state().totals.gGlobalError, 1);
    prefs.set("prefOnError", 3);  // asked: the message reaches the user
    engine.emplace(doc, prefs, proxy, blocked, executor, tw);
    engine->ExecuteSyncBackup();
    ASSERT_EQ(proxy.errors().size(), 1u);
    EXPECT_EQ(proxy.errors()[0], message + ".\rWould you skip and continue?");
}

// The index files as other runs (or damage) may leave them.
TEST_F(ExactSyncTest, LookupAndFileNamesFromHandWrittenIndexes) {
    tree.Build({"A/", "B/"});
    std::filesystem::create_directories(Folder());
    plist::Value entry = plist::Dict{{"absolutePathSource", tree.a()},
                                     {"absolutePathDest", tree.b()},
                                     {"indexFileName", "pair.plist"}};
    plist::Value main = plist::Dict{{"fileVersion", 320}, {"indexFilesList", plist::Array{entry}}};
    ASSERT_TRUE(plist::WriteBinaryFile(File(kExactSyncMainIndexName), main).ok);
    plist::Value folderA = plist::Dict{{"f", ""}, {"d", plist::Dict{{"g", ""}}}};
    plist::Value pair = plist::Dict{{"fileVersion", 320},
                                    {"absolutePathSource", tree.a()},
                                    {"absolutePathDest", tree.b()},
                                    {"lastExactSyncDate", plist::Date{1000}},
                                    {"treeSource", plist::Dict{{"A", folderA}}},
                                    {"treeDest", plist::Dict{{"B", plist::Dict{}}}}};
    ASSERT_TRUE(plist::WriteBinaryFile(File("pair.plist"), pair).ok);

    const ExactSyncTask task{tree.a(), tree.b(), true, true};
    ASSERT_TRUE(index.ExactSyncFileExists(task, true));
    EXPECT_EQ(index.LastExactSyncDate(), 1000.0);
    const struct {
        std::string path;
        int side;
        bool was;
    } lookups[] = {
        {tree.a(), kSideA, true},
        {tree.path("A/f"), kSideA, true},
        {tree.path("A/d"), kSideA, true},
        {tree.path("A/d/g"), kSideA, true},
        {tree.path("A/f/x"), kSideA, false},  // below a file
        {tree.path("A/F"), kSideA, false},    // names are compared exactly
        {tree.path("B/f"), kSideB, false},
    };
    for (const auto& l : lookups) EXPECT_EQ(index.ItWasExixting(l.path, l.side), l.was) << l.path;
    // A folder asked for with a trailing slash does not stand for its parent afterwards.
    EXPECT_TRUE(index.ItWasExixting(tree.path("A/d") + "/", kSideA));
    EXPECT_FALSE(index.ItWasExixting(tree.path("A/d/f"), kSideA));
    EXPECT_TRUE(index.ItWasExixting(tree.path("A/d/g"), kSideA));
    EXPECT_TRUE(index.WasFileAtLastRun(tree.path("A/d/g"), kSideA));
    EXPECT_FALSE(index.WasFileAtLastRun(tree.path("A/d"), kSideA));
    // An index of the earlier format keeps no records: it cannot tell a change from a date.
    EXPECT_EQ(index.ChangeSince(tree.path("A/d/g"), kSideA, false, {}), SinceLastRun::Unknown);
    // Seen from the swapped pair, A's tree is the destination's.
    ASSERT_TRUE(index.ExactSyncFileExists({tree.b(), tree.a(), true, true}, true));
    EXPECT_TRUE(index.ItWasExixting(tree.path("A/d/g"), kSideB));
    EXPECT_FALSE(index.ItWasExixting(tree.path("A/d/g"), kSideA));

    // A pair file that lacks a tree, or holds a text where a folder belongs, is not used.
    pair.set("treeDest", plist::Dict{{"B", "not a folder"}});
    ASSERT_TRUE(plist::WriteBinaryFile(File("pair.plist"), pair).ok);
    EXPECT_FALSE(index.ExactSyncFileExists(task, true));
    EXPECT_FALSE(index.ItWasExixting(tree.path("A/f"), kSideA));
    EXPECT_TRUE(test::Contains(index.LoadProblem(), "damaged tree"));

    // A later format is not read; writing starts the list again, under a free name.
    main.set("fileVersion", kExactSyncIndexVersion + 1);
    ASSERT_TRUE(plist::WriteBinaryFile(File(kExactSyncMainIndexName), main).ok);
    EXPECT_FALSE(index.ExactSyncFileExists(task, true));
    test::WriteText(File(kExactSyncPairIndexName), "");
    test::WriteText(File("QV3ExactSyncIndex 1.plist"), "");
    run::RunState state;
    state.task.gSourceFolder = tree.a();
    state.task.gDestFolder = tree.b();
    items::ErrorPath errors(state, proxy);
    ASSERT_TRUE(index.WriteExactSyncIndex(2, errors, tw));
    main = ReadIndex(kExactSyncMainIndexName);
    EXPECT_EQ(main.intAt("fileVersion"), kExactSyncIndexVersion);
    ASSERT_EQ(main.arrayAt("indexFilesList")->array().size(), 1u);
    EXPECT_EQ(main.arrayAt("indexFilesList")->array()[0].stringAt("indexFileName"),
              "QV3ExactSyncIndex 2.plist");
    EXPECT_FALSE(index.WriteExactSyncIndex(1, errors, tw));  // mode 1: the pair has its file
    EXPECT_TRUE(index.ExactSyncFileExists(task, true));

    // A name from the main index that would lead out of the folder is not followed.
    entry.set("indexFileName", "../outside.plist");
    main.set("indexFilesList", plist::Array{entry});
    ASSERT_TRUE(plist::WriteBinaryFile(File(kExactSyncMainIndexName), main).ok);
    ASSERT_TRUE(plist::WriteBinaryFile(support / "outside.plist", pair).ok);
    EXPECT_FALSE(index.ExactSyncFileExists(task, true));
}

TEST(ExactSyncIndexText, EscapeIsReversibleAndLeavesPlainNamesAlone) {
    const struct {
        std::string raw, stored;
    } cases[] = {
        {"plain.txt", "plain.txt"},     {"été", "été"}, {"caf\xe9", "%caf%E9"},
        {"%20 off", "%%2520 off"},      {"50%", "50%"}, {"\xff\xfe\x01", "%%FF%FE%01"},
        {"\xed\xa0\x80", "%%ED%A0%80"},  // an encoded surrogate is not valid UTF-8
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeIndexText(c.raw), c.stored) << c.raw;
        EXPECT_EQ(DecodeIndexText(c.stored), c.raw) << c.stored;
    }
    for (const char* bad : {"%%4", "%%zz", "%plain", "\xe9"}) {
        EXPECT_EQ(DecodeIndexText(bad), std::nullopt) << bad;
    }
}

// A run that ends while it deletes (before the deletion, or after it and before its index is
// written again) leaves what it was deleting written down: the next run forgets those items
// that are gone or were changed since, so that a file saved again at such a path is new, never
// "deleted on the other side"; one the run did not reach is proposed for deletion again.
TEST_F(ExactSyncTest, ARunKilledWhileDeletingNeverDeletesWhatIsSavedAgainThere) {
    const struct {
        const char* what;
        bool afterTheDeletion, savedAgain;
    } cases[] = {
        {"killed after the deletion, saved again", true, true},
        {"killed before the deletion, saved again", false, true},
        {"killed before the deletion, left alone", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        tree.Build({"A/x:old@1000", "A/keep:k@1000", "B/"});
        Run();
        std::filesystem::remove(tree.path("A/x"));  // the user's deletion
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Ended as a kill would: at the deletion of x, or at the first flush after it.
            using test::Sys;
            bool deleting = false;
            const auto isX = [](const test::SysCall& call) { return call.name.ends_with("/x"); };
            const auto kill = [] { ::_exit(9); };
            test::FaultyFileSystem ending;
            if (c.afterTheDeletion) {
                ending.Add({Sys::unlinkat, 0, "", 0, -1, isX, [&deleting] { deleting = true; }});
                ending.Add(
                    {Sys::fsync, 0, "", 0, -1, [&deleting](auto&) { return deleting; }, kill});
            } else {
                ending.Add({Sys::unlinkat, 0, "", 0, -1, isX, kill});
            }
            const platform::ScopedFileSystem installed(ending);
            Run();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 9) << "the run ended without reaching the kill";
        EXPECT_EQ(Exists("B/x"), !c.afterTheDeletion);
        EXPECT_TRUE(Indexed("A", "x"));  // the index was not written again
        if (c.savedAgain) test::WriteText(tree.path("B/x"), "saved again");
        Run();
        if (c.savedAgain) {
            EXPECT_EQ(Read("B/x"), "saved again");
            EXPECT_EQ(Read("A/x"), "saved again");  // new, so copied over
        } else {
            EXPECT_FALSE(Exists("B/x"));  // the deletion the killed run did not reach
            EXPECT_FALSE(Exists("A/x"));
        }
        EXPECT_FALSE(std::filesystem::exists(index.JournalPath(tree.a(), tree.b())));
    }
}

// A folder the index rebuild cannot read would drop its items from the index, and the next
// run would take them for new: the previous index stays, and the failure is an error.
// A folder the scan cannot read leaves the index as it was too, so its items are not deleted
// from the other side and a deletion made meanwhile is still seen at the next run. What the
// run did delete is forgotten by the index: a file put back at its path is new, not one to
// delete again.
TEST_F(ExactSyncTest, AFolderThatCannotBeReadKeepsThePreviousIndex) {
    tree.Build({"A/d/x", "A/d/y", "A/keep"});
    Run();
    ASSERT_EQ(Indexed("B"), (Names{"d/", "keep"}));
    for (const int from : {2, 1}) {  // the rebuild's listing, then the scan's
        SCOPED_TRACE(from == 1 ? "scan" : "rebuild");
        std::filesystem::remove(tree.path("A/keep"));
        test::FaultyFileSystem fs({{test::Sys::readfolder, EIO, tree.path("A/d"), from - 1}});
        {
            platform::ScopedFileSystem scoped(fs);
            const run::RunState& s = Run();
            EXPECT_EQ(s.totals.gGlobalError, 1);
        }
        // Nothing of d deleted from B; the rest of the task was done.
        EXPECT_EQ(Contents("B"), (test::Files{{"d/x", ""}, {"d/y", ""}}));
        EXPECT_EQ(Indexed("A"), Names{"d/"});
        EXPECT_EQ(Indexed("B"), Names{"d/"});
        // Written again on B after the run: new, and carried over to A.
        test::WriteText(tree.path("B/keep"), "written again");
        Run();
        EXPECT_EQ(Read("A/keep"), "written again");
        EXPECT_TRUE(Exists("B/keep"));
    }
    // Read normally again, the folder is in step and nothing is lost.
    Run();
    const test::Files all = {{"d/x", ""}, {"d/y", ""}, {"keep", "written again"}};
    EXPECT_EQ(Contents("A"), all);
    EXPECT_EQ(Contents("B"), all);
}

// An empty folder standing where B was (a volume not mounted, a folder made anew) is not the
// folder the index knew: the run deletes nothing of A and says why.
TEST_F(ExactSyncTest, AnotherFolderAtASidesPathMakesTheIndexUnused) {
    tree.Build({"A/x", "A/d/y"});
    Run();
    Run();
    std::filesystem::rename(tree.b(), tree.path("B-volume"));
    std::filesystem::create_directory(tree.b());
    Run();
    EXPECT_TRUE(Exists("A/x"));
    EXPECT_TRUE(Exists("A/d/y"));
    EXPECT_TRUE(
        test::Contains(Log(), "\"" + tree.b() + "\" is not the folder this index was made from"));
    // The sessions swapped still know their folders.
    std::filesystem::remove_all(tree.b());
    std::filesystem::rename(tree.path("B-volume"), tree.b());
    Run();
    std::filesystem::remove(tree.path("A/x"));
    Run(1);
    EXPECT_FALSE(Exists("B/x"));
}

// The index files are the program's own: a link put at a pair file's name is replaced, never
// written through, and a temporary left by a write killed half-way is cleared by the next.
TEST_F(ExactSyncTest, IndexFilesAreNeverWrittenThroughALinkAndLeftoversGo) {
    tree.Build({"A/x"});
    Run();
    const std::string victim = tree.path("victim");
    test::WriteText(victim, "precious");
    std::filesystem::remove(File(kExactSyncPairIndexName));
    std::filesystem::create_symlink(victim, File(kExactSyncPairIndexName));
    const std::string leftover = File(std::string(".") + kExactSyncPairIndexName + ".qvtmp-a1b2c3");
    test::WriteText(leftover, "half");
    Run();
    EXPECT_EQ(test::ReadText(victim), "precious");
    EXPECT_TRUE(std::filesystem::is_regular_file(
        std::filesystem::symlink_status(File(kExactSyncPairIndexName))));
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(Indexed("A", "x"));
}

// A task between two files indexes and stamps those two files, not the rest of their folders.
TEST_F(ExactSyncTest, AFileToFileTaskIndexesOnlyItsTwoFiles) {
    tree.Build({"A/f.txt:a@2000", "A/other@1000", "B/f.txt:b@1000", "B/mine@1000"});
    test::SetOption(doc, 0, "consoleDict", "topFolder", tree.path("A/f.txt"));
    test::SetOption(doc, 0, "consoleDict", "bottomFolder", tree.path("B/f.txt"));
    Run();
    EXPECT_EQ(Read("B/f.txt"), "a");
    EXPECT_EQ(Indexed("A"), Names{"f.txt"});
    EXPECT_EQ(Indexed("B"), Names{"f.txt"});
    if (tree.HasUserXattrs()) {
        EXPECT_EQ(tree.BackupDate("A/other"), -1);
        EXPECT_EQ(tree.BackupDate("B/mine"), -1);
        EXPECT_NE(tree.BackupDate("B/f.txt"), -1);
    }
}

// One side found empty while the plan would delete every item of the other (a drive not
// mounted, the wrong folder, a script that cleared it): a person is asked, No is the default,
// and a run nobody watches deletes nothing and counts the task as failed.
TEST_F(ExactSyncTest, EmptyingASideBecauseTheOtherIsEmptyIsAskedFirst) {
    prefs.set("prefConfirmEmptySideDeletion", 1);
    tree.Build({"A/x", "A/d/y"});
    Run();
    std::filesystem::remove_all(tree.path("A/d"));
    std::filesystem::remove(tree.path("A/x"));
    const std::string question =
        "The folder \"" + tree.a() + "\" is empty. Delete the 3 items of \"" + tree.b() + "\"?";
    const std::string before = test::ReadText(File(kExactSyncPairIndexName));
    // Unattended: refused without asking, an error of the task.
    engine.reset();
    RunOptions options;
    options.sessionIndex = 0;
    engine.emplace(doc, prefs, proxy, index, executor, tw, options);
    engine->state().config.mExecutedBy = run::kExecutedByTimer;
    engine->state().config.mMayAsk = false;
    engine->ExecuteSyncBackup();
    EXPECT_TRUE(proxy.deletionQuestions().empty());
    EXPECT_EQ(engine->state().totals.gGlobalError, 1);
    EXPECT_TRUE(test::Contains(Log(), question));
    EXPECT_TRUE(Exists("B/x"));
    EXPECT_EQ(test::ReadText(File(kExactSyncPairIndexName)), before);
    // Attended: asked; No keeps everything, Yes deletes.
    for (const bool yes : {false, true}) {
        proxy.confirmDeletion = yes;
        Run();
        EXPECT_EQ(proxy.deletionQuestions().back(), question);
        EXPECT_EQ(Exists("B/x"), !yes);
        EXPECT_EQ(Exists("B/d/y"), !yes);
    }
    // Off, the design's behaviour: deleted without a question.
    prefs.set("prefConfirmEmptySideDeletion", 0);
    tree.Build({"A/z"});
    Run();
    std::filesystem::remove(tree.path("A/z"));
    const std::size_t asked = proxy.deletionQuestions().size();
    Run();
    EXPECT_FALSE(Exists("B/z"));
    EXPECT_EQ(proxy.deletionQuestions().size(), asked);
}

// A file the user edits while the run copies others is never replaced with the older version
// nor deleted: the run reports it, and a deletion it did not carry out stays in the index, to
// be proposed again.
TEST_F(ExactSyncTest, EditsMadeAfterTheScanAreLeftForTheNextRun) {
    tree.Build({"A/y_old.txt:y@1000", "A/z_notes.txt:z@1000", "A/new.txt:n@1000"});
    Run();
    std::filesystem::remove(tree.path("A/y_old.txt"));
    test::WriteText(tree.path("A/z_notes.txt"), "A's newer notes");
    SetModified("A/z_notes.txt", 5000);
    std::filesystem::remove(tree.path("B/new.txt"));
    tree.Build({"A/later.txt:l@1000", "A/nf/inside:i@1000"});
    proxy.onHook = [&](test::Hook hook) {
        if (hook != test::Hook::PurgeBeforeMainCopy) return;
        test::WriteText(tree.path("B/z_notes.txt"), "edited in B during the run");
        test::WriteText(tree.path("B/y_old.txt"), "edited in B during the run");
        test::WriteText(tree.path("B/later.txt"), "made in B during the run");
        test::WriteText(tree.path("B/nf"), "a file where a folder is to be made");
    };
    const run::RunState& s = Run();
    proxy.onHook = nullptr;
    // Nothing of what was edited is touched, and no temporary is left.
    EXPECT_EQ(Contents("B"), (test::Files{{"z_notes.txt", "edited in B during the run"},
                                          {"y_old.txt", "edited in B during the run"},
                                          {"later.txt", "made in B during the run"},
                                          {"nf", "a file where a folder is to be made"}}));
    EXPECT_FALSE(Exists("A/new.txt"));  // the rest of the plan was carried out
    EXPECT_EQ(s.totals.gGlobalError, 4);
    EXPECT_TRUE(test::Contains(Log(), "It changed since the scan: the next run will decide."));
    EXPECT_TRUE(Indexed("A", "y_old.txt"));
}

}  // namespace
}  // namespace qv::engine
