// The walk of one task: the decision for every pair of items, the conflict questions, the
// names it leaves out, how folders are stored, and what it counts. Each case builds its own
// two trees and plans them with `scanOnly`, as the plan command does.

#include "engine/folder_scanner.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/run_engine.h"
#include "platform/file_system.h"
#include "platform/item_attributes.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/faulty_file_system.h"
#include "support/tree_fixture.h"

namespace qv::engine {
namespace {

using test::Proceed;
using test::ProceedSwapped;
using test::Skip;
using Lines = std::vector<std::string>;
using Options = std::vector<std::pair<std::string, std::int64_t>>;

// What a session does: its settTask and settExact.
struct Task {
    std::int64_t settTask;
    bool exact;
};
constexpr Task kBackup{sessions::kTaskBackup, false};
constexpr Task kSync{sessions::kTaskSynchronize, false};
constexpr Task kExactBackup{sessions::kTaskBackup, true};
constexpr Task kExactSync{sessions::kTaskSynchronize, true};

struct Outcome {
    Lines plan;
    run::TaskLog task;  // the first task's log record
    run::CategoryCounters categories;
    std::size_t roots = 0;
    bool userPressedStop = false;
};

// One scan of a fresh pair of trees A and B, set up option by option.
struct Scan {
    explicit Scan(Task task) : doc(test::TwoFolderDocument(tree.a(), tree.b(), task.settTask)) {
        Setting("settExact", task.exact ? 1 : 0);
    }
    Scan& Setting(const std::string& key, std::int64_t value) {
        test::SetOption(doc, 0, "settingsDict", key, value);
        return *this;
    }
    Scan& Conflicts(const Options& options) {
        for (const auto& [key, value] : options)
            test::SetOption(doc, 0, "conflictsDict", key, value);
        return *this;
    }
    // The exclude list with these items (paths in the fixture's folder) in its first rows.
    Scan& Exclude(const std::vector<std::string>& items, bool on = true) {
        plist::Value* rows = doc.GetSessionDict(0)->dictAt("excludeDict")->arrayAt("excludeArray");
        for (std::size_t i = 0; i < items.size(); ++i) {
            rows->array().at(i).set("itemToExclude", tree.path(items[i]));
        }
        test::SetOption(doc, 0, "excludeDict", "excludeOn", on ? 1 : 0);
        return *this;
    }
    Scan& Delta(std::int64_t seconds) {
        prefs.set("prefModificationDelta", 1);
        prefs.set("prefModificationDeltaField", seconds);
        return *this;
    }

    Outcome Run(int executedBy = run::kExecutedByUser) {
        NoExactSyncIndex index;
        run::NoCopyExecutor executor;
        items::TWUtilities tw;
        options.scanOnly = true;
        options.sessionIndex = 0;
        RunEngine engine(doc, prefs, proxy, index, executor, tw, options);
        engine.state().config.mExecutedBy = executedBy;
        engine.state().config.mMayAsk = executedBy == run::kExecutedByUser;
        engine.ExecuteSyncBackup();
        const run::RunState& s = engine.state();
        Outcome out;
        out.plan = test::FlattenPlan(s);
        if (!s.logSessionArray.empty() && !s.logSessionArray[0].logTaskArray.empty()) {
            out.task = s.logSessionArray[0].logTaskArray[0];
        }
        out.categories = s.totals.categories;
        out.roots = s.plan.taskRootList.size();
        out.userPressedStop = s.mUserPressedStop;
        return out;
    }

    test::TreeFixture tree;
    test::FakeProxy proxy;
    sessions::SessionDocument doc;
    // Cases here often empty a side on purpose; the guard against that has a test of its own.
    plist::Value prefs = plist::Dict{{"prefConfirmEmptySideDeletion", 0}};
    RunOptions options;
};

#define SKIP_WITHOUT_XATTRS() \
    if (!test::TreeFixture().HasUserXattrs()) GTEST_SKIP() << "no user xattrs, so no backup dates"

// ---- The decision tables, without conflicts in the way ----

TEST(FolderScannerTest, DecidesEachPairByTaskAndDates) {
    const Lines aBy2 = {"A/f@1002", "B/f@1000"}, aBy3 = {"A/f@1003", "B/f@1000"};
    const Lines bBy2 = {"A/f@1000", "B/f@1002"}, bBy3 = {"A/f@1000", "B/f@1003"};
    const Lines equal = {"A/f@1000", "B/f@1000"};
    const Lines replaceB = {"ReplaceBwithA f -> f"};
    // clang-format off
    struct DecisionCase { const char* name; Task task; std::int64_t delta; Lines tree, plan; std::int64_t skipped; };
    const std::vector<DecisionCase> cases = {
        {"backup, equal dates",                 kBackup, 2, equal, {}, 0},
        {"backup, A newer by the delta",        kBackup, 2, aBy2, {}, 0},
        {"backup, A newer by one more second",  kBackup, 2, aBy3, replaceB, 0},
        {"backup, B newer by the delta",        kBackup, 2, bBy2, {}, 0},
        {"backup, B newer: 12 skips by default", kBackup, 2, bBy3, {}, 1},
        {"backup, fractions of a second count", kBackup, 0, {"A/f@1000.5", "B/f@1000"}, replaceB, 0},
        {"backup, only in A",                   kBackup, 0, {"A/f"}, {"CopyAtoB f -> f"}, 0},
        {"backup, only in B",                   kBackup, 0, {"B/f"}, {}, 0},
        {"backup, folder on both sides",        kBackup, 0, {"A/d/x@2000", "B/d/x@1000"},
                                                {"Descend d -> d", "ReplaceBwithA d/x -> d/x"}, 0},
        {"backup, new folder",                  kBackup, 0, {"A/d/x"},
                                                {"CopyAtoB d -> d", "CopyAtoB d/x -> d/x"}, 0},
        {"sync, equal dates",                   kSync, 2, equal, {}, 0},
        {"sync, A newer by the delta",          kSync, 2, aBy2, {}, 0},
        {"sync, A newer by one more second",    kSync, 2, aBy3, replaceB, 0},
        {"sync, B newer by the delta",          kSync, 2, bBy2, {}, 0},
        {"sync, B newer by one more second",    kSync, 2, bBy3, {"ReplaceAwithB f -> f"}, 0},
        {"sync, one item on each side",         kSync, 0, {"A/f", "B/g"},
                                                {"CopyAtoB f -> f", "CopyBtoA g -> g"}, 0},
        {"sync, folder only in B",              kSync, 0, {"B/d/x"},
                                                {"CopyBtoA d -> d", "CopyBtoA d/x -> d/x"}, 0},
        {"exact backup, equal dates",           kExactBackup, 2, equal, {}, 0},
        {"exact backup, A newer by the delta",  kExactBackup, 2, aBy2, {}, 0},
        {"exact backup, A newer by one more second", kExactBackup, 2, aBy3, replaceB, 0},
        {"exact backup, B newer",               kExactBackup, 2, bBy3, {}, 1},
        {"exact backup, only in A",             kExactBackup, 0, {"A/f"}, {"CopyAtoB f -> f"}, 0},
        {"exact backup, only in B",             kExactBackup, 0, {"B/f"}, {"DeleteInB f -> f"}, 0},
        {"exact backup, folder only in B",      kExactBackup, 0, {"B/d/x"},
                                                {"DeleteInB d -> d", "DeleteInB d/x -> d/x"}, 0},
        {"exact sync without an index",         kExactSync, 0, {"B/f"}, {"CopyBtoA f -> f"}, 0},
    };
    // clang-format on
    for (const DecisionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan(c.task);
        scan.tree.Build(c.tree);
        const Outcome out = scan.Delta(c.delta).Run();
        EXPECT_EQ(out.plan, c.plan);
        EXPECT_EQ(out.task.gConflictsSkipped, c.skipped);
        EXPECT_TRUE(scan.proxy.questions().empty());
    }
}

TEST(FolderScannerTest, NewItemsOnlyLeavesPairsAlone) {
    for (const Task task : {kBackup, kSync}) {
        SCOPED_TRACE(task.settTask);
        Scan scan(task);
        scan.tree.Build(
            {"A/f@3000", "B/f@1000", "A/d/x@3000", "B/d/x@1000", "A/c@3000", "B/c/", "A/new"});
        const Outcome out = scan.Setting("settNewItemsOnly", 1).Run();
        EXPECT_EQ(out.plan, Lines{"CopyAtoB new -> new"});
        EXPECT_EQ(out.task.gConflictsSkipped, 0);
        EXPECT_EQ(out.task.gAFilesScanned, 4);  // still counted: c, f, new, d/x
    }
}

// ---- Conflicts: policies and the user's answers ----

TEST(FolderScannerTest, ConflictsFollowPolicyAndAnswers) {
    SKIP_WITHOUT_XATTRS();
    const Options ask11 = {{"conflictBackupAsk", 1}}, ask12 = {{"conflictBackupAsk2", 1}},
                  ask2x = {{"conflictExactBackupAsk", 1}}, ask31 = {{"conflictSyncAsk", 1}},
                  ask5x = {{"conflictFileFolderAsk", 1}};
    const Lines aNewer = {"A/f@3000", "B/f@2000"}, bNewer = {"A/f@2000", "B/f@3000"};
    const Lines onlyB = {"B/g@2000"}, bNewerAndNew = {"A/f@2000", "B/f@3000", "A/g"};
    const Lines fileOnFolder = {"A/x@3000", "B/x/in@1000", "B/x/@1000"};
    const Lines folderOnFile = {"A/x/in@1000", "A/x/@1000", "B/x@3000"};
    const Lines replaceB = {"ReplaceBwithA f -> f"}, replaceA = {"ReplaceAwithB f -> f"};
    const Lines deleteG = {"DeleteInB g -> g"};
    // clang-format off
    struct ConflictCase {
        const char* name; Task task; Lines tree;
        std::vector<std::pair<std::string, std::int64_t>> backupDates;  // written before the scan
        Options conflicts; std::vector<run::ConflictReply> replies;
        std::vector<int> asked; std::optional<double> askedDate;  // the questions and their date
        Lines plan; std::int64_t skipped;
        Lines restored = {};  // backup dates put back after the copy
        int executedBy = run::kExecutedByUser; bool stops = false;
    };
    const std::vector<ConflictCase> cases = {
        {"11 proceed", kBackup, aNewer, {{"B/f", 1500}}, ask11, {Proceed()}, {11}, 1500, replaceB, 0},
        {"11 skip",    kBackup, aNewer, {{"B/f", 1500}}, ask11, {Skip()}, {11}, 1500, {}, 1},
        {"11 B unchanged since its backup", kBackup, aNewer, {{"B/f", 2500}}, ask11, {}, {}, {}, replaceB, 0},
        {"11 no reference date", kBackup, aNewer, {}, ask11, {}, {}, {}, replaceB, 0},
        {"12 proceed", kBackup, bNewer, {}, ask12, {Proceed()}, {12}, 3000, replaceB, 0},
        {"12 skip",    kBackup, bNewer, {}, ask12, {Skip()}, {12}, 3000, {}, 1},
        {"12 radio replaces silently", kBackup, bNewer, {}, {{"conflictBackupRadio2", 2}}, {}, {}, {}, replaceB, 0},
        {"21 skip",    kExactBackup, onlyB, {{"B", 1000}, {"B/g", 1500}}, ask2x, {Skip()}, {21}, 1500, {}, 1},
        {"21 proceed", kExactBackup, onlyB, {{"B", 1000}, {"B/g", 1500}}, ask2x, {Proceed()}, {21}, 1500, deleteG, 0},
        {"21 B unchanged since its backup", kExactBackup, onlyB, {{"B", 1000}, {"B/g", 2500}}, ask2x, {}, {}, {}, deleteG, 0},
        {"22 skip",    kExactBackup, onlyB, {{"B", 1000}}, ask2x, {Skip()}, {22}, 1000, {}, 1},
        {"22 proceed", kExactBackup, onlyB, {{"B", 1000}}, ask2x, {Proceed()}, {22}, 1000, deleteG, 0},
        {"2x without a date on B", kExactBackup, onlyB, {}, ask2x, {}, {}, {}, deleteG, 0},
        {"31 proceed", kSync, aNewer, {{"B/f", 1500}}, ask31, {Proceed()}, {31}, 1500, replaceB, 0},
        {"31 swapped", kSync, aNewer, {{"B/f", 1500}}, ask31, {ProceedSwapped()}, {31}, 1500, replaceA, 0},
        {"31 skip",    kSync, aNewer, {{"B/f", 1500}}, ask31, {Skip()}, {31}, 1500, {}, 1},
        {"31 B newer, swapped", kSync, bNewer, {{"A/f", 1500}}, ask31, {ProceedSwapped()}, {31}, 1500, replaceB, 0},
        {"31 exact sync keeps both dates", kExactSync, aNewer, {{"B/f", 1500}}, ask31, {Proceed()}, {31}, 1500, replaceB, 0,
         {"A/f", "B/f"}},
        {"31 never for .DS_Store", kSync, {"A/.DS_Store@3000", "B/.DS_Store@2000"}, {{"B/.DS_Store", 1500}},
         ask31, {}, {}, {}, {"ReplaceBwithA .DS_Store -> .DS_Store"}, 0},
        {"51 policy replaces", kBackup, fileOnFolder, {}, {}, {}, {}, {}, {"ReplaceBwithA x -> x"}, 0},
        {"51 policy keeps the folder", kBackup, fileOnFolder, {}, {{"conflictFileFolderRadio", 2}}, {}, {}, {}, {}, 1},
        {"51 proceed", kBackup, fileOnFolder, {}, ask5x, {Proceed()}, {51}, 1000, {"ReplaceBwithA x -> x"}, 0},
        {"51 skip",    kBackup, fileOnFolder, {}, ask5x, {Skip()}, {51}, 1000, {}, 1},
        {"52 proceed", kSync, folderOnFile, {}, ask5x, {Proceed()}, {52}, 3000, {"ReplaceAwithB x -> x"}, 0},
        {"52 swapped", kSync, folderOnFile, {}, ask5x, {ProceedSwapped()}, {52}, 3000, {"ReplaceBwithA x -> x"}, 0},
        {"52 skip",    kSync, folderOnFile, {}, ask5x, {Skip()}, {52}, 3000, {}, 1},
        {"a folder replacing a file asks nothing", kBackup, {"A/x/in@3000", "A/x/@3000", "B/x@1000"}, {},
         ask5x, {}, {}, {}, {"ReplaceBwithA x -> x"}, 0},
        // A Stop ends the walk at once: g, after f, is not planned.
        {"12 stop", kBackup, bNewerAndNew, {}, ask12, {test::Stop()}, {12}, 3000, {}, 1, {}, run::kExecutedByUser, true},
        {"12 on a timer run", kBackup, bNewerAndNew, {}, ask12, {}, {}, {}, {"CopyAtoB g -> g"}, 1, {}, run::kExecutedByTimer},
        {"12 from the command line", kBackup, bNewerAndNew, {}, ask12, {}, {}, {}, {"CopyAtoB g -> g"}, 1, {},
         run::kExecutedByCommandLine},
    };
    // clang-format on
    for (const ConflictCase& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan(c.task);
        scan.tree.Build(c.tree);
        for (const auto& [path, date] : c.backupDates) {
            ASSERT_TRUE(scan.tree.SetBackupDate(path, date));
        }
        scan.Conflicts(c.conflicts);
        scan.proxy.replies.assign(c.replies.begin(), c.replies.end());
        const Outcome out = scan.Run(c.executedBy);
        EXPECT_EQ(scan.proxy.conflictCodes(), c.asked);
        for (const run::ConflictQuestion& q : scan.proxy.questions()) {
            EXPECT_EQ(q.date, c.askedDate);
            EXPECT_EQ(q.isSync, c.task.settTask == sessions::kTaskSynchronize);
            const bool swappable = q.conflict == 31 || q.conflict == 51 || q.conflict == 52;
            EXPECT_EQ(q.canChangeDirection, swappable);
            EXPECT_EQ(q.dest.rfind(scan.tree.b() + "/", 0), 0u) << q.dest;
        }
        EXPECT_EQ(out.plan, c.plan);
        EXPECT_EQ(out.task.gConflictsSkipped, c.skipped);
        EXPECT_EQ(out.userPressedStop, c.stops);
        Lines restored;
        for (const std::string& path : c.restored) restored.push_back(scan.tree.path(path));
        EXPECT_EQ(out.task.restoreBackupDateArray, restored);
    }
}

// ---- Names: case, special names, packages, bytes, exclusions ----

TEST(FolderScannerTest, NamesArePairedByCaseLeftOutOrPlannedAsOneItem) {
    const Options attrs = {{"settCheckAttrChanged", 1}}, pkgs = {{"settPackagesFolders", 1}};
    const Lines differing = {"A/Report.txt@1000", "B/report.txt@1000"};
    const Lines aAccessed = {"A/Report.txt@1000,5000", "B/report.txt@1000,1000"};
    const Lines bAccessed = {"A/Report.txt@1000,1000", "B/report.txt@1000,5000"};
    const Lines bundleBoth = {"A/Y.bundle/f@3000", "B/Y.bundle/f@1000", "A/Y.bundle/@3000",
                              "B/Y.bundle/@1000"};
    const Lines appBoth = {"A/Z.app/f@3000", "B/Z.app/f@1000", "A/Z.app/@3000", "B/Z.app/@1000"};
    // clang-format off
    struct NamesCase { const char* name; Task task; Options settings; bool caseInsensitive; Lines tree, plan; };
    const std::vector<NamesCase> cases = {
        {"case-sensitive sync: two items", kSync, {}, false, differing,
         {"CopyAtoB Report.txt -> Report.txt", "CopyBtoA report.txt -> report.txt"}},
        {"case-sensitive backup: B's name is not listed", kBackup, {}, false, differing,
         {"CopyAtoB Report.txt -> Report.txt"}},
        {"one pair, dest as spelled in B", kSync, {}, true, {"A/Report.txt@2000", "B/report.txt@1000"},
         {"ReplaceBwithA Report.txt -> report.txt"}},
        {"one pair, equal dates", kBackup, {}, true, differing, {}},
        {"A accessed later", kBackup, attrs, true, aAccessed, {"AttrAtoB Report.txt -> report.txt"}},
        // A Backup never writes to its source, whichever spelling was used last.
        {"B accessed later, backup", kBackup, attrs, true, bAccessed, {"AttrAtoB Report.txt -> report.txt"}},
        {"B accessed later, sync", kSync, attrs, true, bAccessed, {"AttrBtoA Report.txt -> report.txt"}},
        {"access times ignored for equal names", kSync, attrs, true, {"A/same@1000,5000", "B/same@1000,1000"}, {}},
        {"new app", kBackup, {}, false, {"A/X.app/Contents/f"}, {"CopyAtoB X.app -> X.app"}},
        {"new app, packages as folders", kBackup, pkgs, false, {"A/X.app/Contents/f"}, {"CopyAtoB X.app -> X.app"}},
        {"new bundle in B, packages as folders", kSync, pkgs, false, {"B/N.bundle/f"}, {"CopyBtoA N.bundle -> N.bundle"}},
        {"bundle on both sides", kBackup, {}, false, bundleBoth, {"ReplaceBwithA Y.bundle -> Y.bundle"}},
        {"bundle on both sides, as folders", kBackup, pkgs, false, bundleBoth,
         {"Descend Y.bundle -> Y.bundle", "ReplaceBwithA Y.bundle/f -> Y.bundle/f"}},
        {"app on both sides, as folders", kBackup, pkgs, false, appBoth, {"ReplaceBwithA Z.app -> Z.app"}},
        {"icon names only left out at the top", kSync, {}, false,
         {"A/Icon\r", "A/.VolumeIcon.icns", "B/Icon\r:other", "A/sub/Icon\r", "A/sub/.VolumeIcon.icns"},
         {"CopyAtoB sub -> sub", "CopyAtoB sub/.VolumeIcon.icns -> sub/.VolumeIcon.icns",
          "CopyAtoB sub/Icon\r -> sub/Icon\r"}},
        {"accents fold where case is ignored", kBackup, {}, true, {"A/\xc3\x89t\xc3\xa9@2000", "B/\xc3\xa9t\xc3\x89@1000"},
         {"ReplaceBwithA \xc3\x89t\xc3\xa9 -> \xc3\xa9t\xc3\x89"}},
        {"accents differ where case counts", kSync, {}, false, {"A/\xc3\x89@2000", "B/\xc3\xa9@1000"},
         {"CopyAtoB \xc3\x89 -> \xc3\x89", "CopyBtoA \xc3\xa9 -> \xc3\xa9"}},
        {"names that are not UTF-8", kBackup, {}, false, {"A/caf\xe9:x", "A/d\xff/x"},
         {"CopyAtoB caf\xe9 -> caf\xe9", "CopyAtoB d\xff -> d\xff", "CopyAtoB d\xff/x -> d\xff/x"}},
    };
    // clang-format on
    for (const NamesCase& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan(c.task);
        scan.tree.Build(c.tree);
        for (const auto& [key, value] : c.settings) scan.Setting(key, value);
        scan.options.caseProbe = [&c](int, const std::string&) { return c.caseInsensitive; };
        EXPECT_EQ(scan.Run().plan, c.plan);
    }
}

TEST(FolderScannerTest, ExcludedPathsAreLeftOut) {
    const Lines all = {
        "CopyAtoB keep -> keep", "CopyAtoB private -> private", "CopyAtoB private/x -> private/x",
        "CopyAtoB skip -> skip", "CopyAtoB sub -> sub",         "CopyAtoB sub/skip -> sub/skip"};
    for (const std::int64_t excludeOn : {1, 0}) {
        Scan scan(kBackup);
        scan.tree.Build({"A/keep", "A/skip", "A/private/x", "A/sub/skip"});
        const Outcome out = scan.Exclude({"A/skip", "A/private"}, excludeOn).Run();
        // Only the listed paths go, not other items of the same name.
        EXPECT_EQ(out.plan, (excludeOn ? Lines{all[0], all[4], all[5]} : all)) << excludeOn;
        EXPECT_EQ(out.task.gAFoldersScanned, excludeOn ? 1 : 2);
    }
}

// An entry is a whole path: it never leaves out a longer sibling, and its case counts unless
// the folder ignores case, where B.TXT and b.txt are one file.
TEST(FolderScannerTest, ExcludedPathsMatchWholeNamesWithCaseOnlyWhereIgnored) {
    const Lines tree = {"A/Temp/x", "A/Temp2", "A/temp3"};
    const Lines all = {"CopyAtoB Temp -> Temp", "CopyAtoB Temp/x -> Temp/x",
                       "CopyAtoB Temp2 -> Temp2", "CopyAtoB temp3 -> temp3"};
    const Lines withoutTemp = {all[2], all[3]};
    // clang-format off
    const struct { const char* entry; bool caseInsensitive; bool throughLink; Lines plan; } cases[] = {
        {"A/Temp", false, false, withoutTemp},
        {"A/Temp/", false, false, withoutTemp},
        {"A/Tem", false, false, all},
        {"A/temp", false, false, all},
        {"A/temp", true, false, withoutTemp},
        {"A/TEMP3", true, false, {all[0], all[1], all[2]}},
        // The source named through a link is walked by its target's path.
        {"L/Temp", false, true, withoutTemp},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        Scan scan(kBackup);
        scan.tree.Build(tree);
        const std::string link = scan.tree.path("L");
        if (c.throughLink) {
            std::filesystem::create_directory_symlink(scan.tree.a(), link);
            test::SetOption(scan.doc, 0, "consoleDict", "topFolder", link);
        }
        scan.options.caseProbe = [&c](int, const std::string&) { return c.caseInsensitive; };
        EXPECT_EQ(scan.Exclude({c.entry}).Run().plan, c.plan);
    }
}

// An entry leaves the item alone on both sides, also where only the other side has it: an
// exact run never deletes, and no run copies over, what the user excluded.
TEST(FolderScannerTest, AnExcludedItemIsLeftAloneOnBothSides) {
    Scan scan(kExactBackup);
    scan.tree.Build({"B/Temp/old", "B/gone", "A/K", "A/kept", "B/other"});
    // Temp only B has; K named on the B side.
    EXPECT_EQ(scan.Exclude({"A/Temp", "A/gone", "B/K"}).Run().plan,
              (Lines{"CopyAtoB kept -> kept", "DeleteInB other -> other"}));
}

// The same on a real FAT volume, which the walk finds ignoring case by itself.
TEST(FolderScannerTest, OnAFatVolumeAnExcludedPathIgnoresCase) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a volume needs root";
    Scan scan(kBackup);
    std::filesystem::create_directories(scan.tree.a());
    std::filesystem::create_directories(scan.tree.b());
    const std::string image = scan.tree.path("fat.img");
    if (test::RunCommand("truncate -s 4M " + test::ShellQuote(image) + " && mkfs.vfat " +
                         test::ShellQuote(image) + " >/dev/null 2>&1 && mount -o loop " +
                         test::ShellQuote(image) + " " + test::ShellQuote(scan.tree.a()) +
                         " 2>/dev/null") != 0) {
        GTEST_SKIP() << "no mkfs.vfat (dosfstools), or no loop mounts here";
    }
    std::filesystem::create_directories(scan.tree.path("A/Temp"));
    test::WriteText(scan.tree.path("A/Temp/x"), "x");
    test::WriteText(scan.tree.path("A/Temp2"), "x");
    const Lines plan = scan.Exclude({"A/TEMP"}).Run().plan;
    test::RunCommand("umount " + test::ShellQuote(scan.tree.a()));
    EXPECT_EQ(plan, Lines{"CopyAtoB Temp2 -> Temp2"});
}

// ---- Storing folders, and the counters ----

TEST(FolderScannerTest, EmptyFoldersAndSkipEmptyFolders) {
    // clang-format off
    struct FolderCase { const char* name; bool skipEmpty; Lines tree, plan; };
    const std::vector<FolderCase> cases = {
        {"only .DS_Store, skipped", true, {"A/e/.DS_Store"}, {}},
        {"only .DS_Store, kept", false, {"A/e/.DS_Store"}, {"CopyAtoB e -> e", "CopyAtoB e/.DS_Store -> e/.DS_Store"}},
        {"nothing inside, skipped", true, {"A/e/"}, {}},
        {"nothing inside, kept", false, {"A/e/"}, {"CopyAtoB e -> e"}},
        {"a file beside .DS_Store", true, {"A/e/.DS_Store", "A/e/x"},
         {"CopyAtoB e -> e", "CopyAtoB e/.DS_Store -> e/.DS_Store", "CopyAtoB e/x -> e/x"}},
        {"empty on both sides", false, {"A/e/", "B/e/"}, {}},
    };
    // clang-format on
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan(kBackup);
        scan.tree.Build(c.tree);
        const Outcome out = scan.Setting("settSkipEmptyFolders", c.skipEmpty ? 1 : 0).Run();
        EXPECT_EQ(out.plan, c.plan);
        const auto planned = static_cast<std::int64_t>(c.plan.size());
        EXPECT_EQ(out.task.gItemsToDo, planned);
        EXPECT_EQ(out.categories.gItemsAtoB, planned);
        EXPECT_EQ(out.roots, c.plan.empty() ? 0u : 1u);
        EXPECT_EQ(out.categories.gFoldersToDescend, c.plan.empty() ? 0 : 1);
    }
}

TEST(FolderScannerTest, FolderToDeleteWithAKeptChildStaysAndDescends) {
    SKIP_WITHOUT_XATTRS();
    Scan scan(kExactBackup);
    scan.tree.Build({"B/old/.DS_Store@2000", "B/old/gone@2000", "B/old/keep@2000"});
    ASSERT_TRUE(scan.tree.SetBackupDate("B", 1000));
    scan.Conflicts({{"conflictExactBackupAsk", 1}});
    scan.proxy.replies = {Proceed(), Skip()};  // gone, then keep
    const Outcome out = scan.Run();
    EXPECT_EQ(scan.proxy.conflictCodes(), (std::vector<int>{22, 22}));
    EXPECT_EQ(out.plan, (Lines{"DeleteInB old/gone -> old/gone", "Descend old -> old"}));
    EXPECT_EQ(out.task.gItemsToDo, 1);
    EXPECT_EQ(out.categories.gItemsToDelete, 1);
    EXPECT_EQ(out.categories.gFoldersToDescend, 2);
    EXPECT_EQ(out.task.gConflictsSkipped, 1);
}

TEST(FolderScannerTest, CountsScannedItemsAndPlannedCategories) {
    Scan scan(kSync);
    scan.tree.Build({"A/d/x", "A/y@1000", "B/y@1000", "B/d/", "B/z", "A/P.app/c"});
    const Outcome out = scan.Run();
    EXPECT_EQ(out.plan, (Lines{"CopyAtoB P.app -> P.app", "CopyAtoB d/x -> d/x", "CopyBtoA z -> z",
                               "Descend d -> d"}));
    EXPECT_EQ(out.task.gAFoldersScanned, 1);
    EXPECT_EQ(out.task.gAFilesScanned, 3);  // a package counts as a file
    EXPECT_EQ(out.task.gBFoldersScanned, 1);
    EXPECT_EQ(out.task.gBFilesScanned, 2);
    EXPECT_EQ(out.task.gItemsToDo, 3);
    EXPECT_EQ(out.categories.gItemsAtoB, 2);
    EXPECT_EQ(out.categories.gItemsBtoA, 1);
    EXPECT_EQ(out.categories.gFoldersToDescend, 2);  // d and the task's root
}

TEST(FolderScannerTest, SubFolderPairGoneDuringTheScanIsAnErrorAndTheRestGoesOn) {
    Scan scan(kBackup);
    scan.tree.Build({"A/a@1000", "B/a@2000", "A/z/f@2000", "B/z/f@1000", "A/zz"});
    scan.Setting("settSkipCheckPermissions", 1).Conflicts({{"conflictBackupAsk2", 1}});
    scan.proxy.answerer = [&scan](const run::ConflictQuestion&) {
        std::filesystem::remove_all(scan.tree.path("A/z"));
        std::filesystem::remove_all(scan.tree.path("B/z"));
        return Skip();
    };
    const Outcome out = scan.Run();
    const std::string message = "Can't find the folders \"" + scan.tree.path("A/z") +
                                "\" and \r\"" + scan.tree.path("B/z") + "\"";
    ASSERT_EQ(scan.proxy.errors().size(), 1u);
    EXPECT_EQ(scan.proxy.errors()[0].rfind(message, 0), 0u) << scan.proxy.errors()[0];
    EXPECT_EQ(out.task.gDetailedLogText, "√ " + message + "\r");
    EXPECT_EQ(out.task.gTotError, 1);
    EXPECT_FALSE(out.task.walked);                    // an ExactSync index would keep what it held
    EXPECT_EQ(out.plan, Lines{"CopyAtoB zz -> zz"});  // zz, after the pair, is still planned
}

// A folder that cannot be read is never taken for an empty one: an exact task deletes nothing
// of the other side's copy, the folder is an error, and the rest of the task goes on.
TEST(FolderScannerTest, AnUnreadableFolderIsAnErrorAndNothingOfItIsPlanned) {
    using test::Sys;
    // One way of reading the folder "locked" of a side is refused: opening it, listing it (half
    // of it read first), or the stat of an entry inside it.
    struct Case {
        const char* what;
        Task task;
        const char* side;  // of the unreadable folder
        Sys call;
        int error;
    };
    const Case cases[] = {
        {"A cannot be opened, Exact Backup", kExactBackup, "A", Sys::openat, EACCES},
        {"A listing fails half-way, Exact Backup", kExactBackup, "A", Sys::readfolder, EIO},
        {"A listable, not searchable, Exact Backup", kExactBackup, "A", Sys::statx, EACCES},
        {"B cannot be opened, Exact Synchronize", kExactSync, "B", Sys::openat, EACCES},
        {"A entry gone stale, Synchronize", kSync, "A", Sys::statx, ESTALE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scan scan(c.task);
        scan.tree.Build({"A/locked/f@1000", "A/locked/g@1000", "B/locked/f@1000", "B/locked/g@1000",
                         "B/locked/only-in-b@1000", "A/new@1000", "B/old@1000"});
        scan.Setting("settSkipCheckPermissions", 1);
        const std::string locked = scan.tree.path(std::string(c.side) + "/locked");
        // The folder itself, or (for a stat) what is inside it.
        const std::string named = locked + (c.call == Sys::statx ? "/" : "");
        test::FaultyFileSystem fs({{c.call, c.error, named}});
        platform::ScopedFileSystem scoped(fs);
        const Outcome out = scan.Run();
        for (const std::string& line : out.plan) {
            EXPECT_EQ(line.find("locked"), std::string::npos) << line;
        }
        EXPECT_NE(std::find(out.plan.begin(), out.plan.end(), "CopyAtoB new -> new"),
                  out.plan.end());
        EXPECT_EQ(out.task.gTotError, 1);
        EXPECT_FALSE(out.task.walked);
        ASSERT_EQ(scan.proxy.errors().size(), 1u);
        EXPECT_EQ(scan.proxy.errors()[0].rfind("Can't read the item \"" + locked, 0), 0u)
            << scan.proxy.errors()[0];
    }
}

// A desktop trash at the top of a volume is the desktop's: never copied, deleted or reported.
TEST(FolderScannerTest, AVolumeTrashIsLeftAlone) {
    EXPECT_TRUE(IsTrashFolderName(".Trash"));
    EXPECT_TRUE(IsTrashFolderName(".Trash-1001"));
    EXPECT_FALSE(IsTrashFolderName(".Trash-"));
    EXPECT_FALSE(IsTrashFolderName(".Trash-10a"));
    EXPECT_FALSE(IsTrashFolderName(".Trashy"));
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a volume at B needs root";
    for (const Task task : {kExactBackup, kExactSync}) {
        Scan scan(task);
        if (::mount("quorvel-test", scan.tree.b().c_str(), "tmpfs", 0, nullptr) != 0) {
            GTEST_SKIP() << "this machine does not let the test mount a volume";
        }
        scan.tree.Build({"B/.Trash-1001/files/gone@1000", "B/.Trash/x@1000", "A/d/.Trash-1001@1000",
                         "A/f@1000"});
        scan.Setting("settSkipCheckPermissions", 1);
        const Outcome out = scan.Run();
        ::umount(scan.tree.b().c_str());
        // Only at the volume's top: deeper, such a name is the user's.
        EXPECT_EQ(out.plan, (Lines{"CopyAtoB d -> d", "CopyAtoB d/.Trash-1001 -> d/.Trash-1001",
                                   "CopyAtoB f -> f"}));
        EXPECT_EQ(out.task.gTotError, 0);
    }
}

// A link that leads back up the tree is followed only until it would enter a folder already on
// the walk's way down; a top folder met inside the other side is not entered either.
TEST(FolderScannerTest, LinkLoopsAndTopFoldersAreNotEnteredAgain) {
    Scan scan(kBackup);
    scan.tree.Build({"A/d/loop/x@1000", "A/e@1000"});
    // A resolved link keeps its name only when its target has the same one.
    std::filesystem::create_directory_symlink("../../d", scan.tree.path("A/d/loop/d"));
    std::filesystem::create_directory_symlink(scan.tree.b(), scan.tree.path("A/d/B"));
    scan.Setting("settSkipCheckPermissions", 1).Setting("settResolveSymLink", 1);
    const Outcome out = scan.Run();
    EXPECT_EQ(out.plan, (Lines{"CopyAtoB d -> d", "CopyAtoB d/loop -> d/loop",
                               "CopyAtoB d/loop/x -> d/loop/x", "CopyAtoB e -> e"}));
    EXPECT_EQ(out.task.gTotError, 2);
    ASSERT_EQ(scan.proxy.errors().size(), 2u);
    for (const std::string& error : scan.proxy.errors()) {
        EXPECT_TRUE(test::Contains(error, "A link leads back to a folder that holds it."));
    }
}

}  // namespace
}  // namespace qv::engine
