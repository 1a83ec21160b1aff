// Versions: what a run replaces or deletes is moved into its side's versions folder, under its
// path and with the run's stamp, never removed without it; retention, and putting one back.

#include "fileops/versions.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "engine/exact_sync_index.h"
#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "items/tw_utilities.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/faulty_file_system.h"
#include "support/tree_fixture.h"

namespace qv::fileops {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    std::int64_t errors = 0;
    std::string stamp;  // the run's, as versions carry it
    std::vector<std::string> plan;
};

RunResult RunSession(const sessions::SessionDocument& doc) {
    const plist::Value prefs = plist::Dict{{"prefOnError", 2}};
    test::FakeProxy proxy;
    engine::NoExactSyncIndex index;
    items::TWUtilities tw;
    RunExecutor executor{proxy, tw};
    engine::RunEngine engine(doc, prefs, proxy, index, executor, tw);
    engine.ExecuteSyncBackup();
    const run::RunState& s = engine.state();
    return {s.totals.gGlobalError,
            VersionStamp(static_cast<std::time_t>(s.totals.gStartSyncDateTimeUTC)),
            test::FlattenPlan(s)};
}

// What a versions folder holds, its record left out.
test::Files Kept(const test::TreeFixture& tree, const std::string& folder) {
    test::Files files = tree.Contents(folder);
    std::erase_if(files, [](const auto& f) { return f.first.ends_with(kVersionsListName); });
    return files;
}

sessions::SessionDocument VersionsDocument(const test::TreeFixture& tree, std::int64_t task,
                                           const std::string& folder = "") {
    sessions::SessionDocument doc = test::TwoFolderDocument(tree.a(), tree.b(), task);
    test::SetOption(doc, 0, "settingsDict", "settExact", 1);
    test::SetOption(doc, 0, "settingsDict", sessions::kVersionsOnKey, 1);
    test::SetOption(doc, 0, "settingsDict", sessions::kVersionsFolderKey, folder);
    return doc;
}

// A rename into the versions folder that fails with `error`, as a folder on another file system
// (EXDEV) or one that may not be written (EACCES) makes it fail.
test::Fault VersionRenameFails(int error) {
    return {test::Sys::renameat2, error, "/B/", 0, -1, [](const test::SysCall& call) {
                return call.flags == RENAME_NOREPLACE &&
                       call.name.find(run::kVersionsFolderName) == std::string_view::npos;
            }};
}

TEST(VersionsTest, ReplacedAndDeletedItemsAreKeptUnderTheirPathAndStamp) {
    const std::vector<std::string> tree0 = {
        "A/report.txt:new@2000",        "B/report.txt:old@1000",
        "B/gone.txt:bye@1000",          "B/Photos/p.jpg:pic@1000",
        "A/docs/sub/deep.txt:d2@2000",  "B/docs/sub/deep.txt:d1@1000",
        "A/was-folder:now a file@2000", "B/was-folder/inside.txt:in@1000",
        "B/was-folder/@1000",
    };
    const auto kept = [](const std::string& s) {
        return test::Files{{"report " + s + ".txt", "old"},
                           {"gone " + s + ".txt", "bye"},
                           {"Photos " + s + "/p.jpg", "pic"},
                           {"docs/sub/deep " + s + ".txt", "d1"},
                           {"was-folder " + s + "/inside.txt", "in"}};
    };
    const struct {
        const char* name;
        bool trash;
        int fault;  // the versions folder lies on another file system: EXDEV
    } rows[] = {{"same file system", false, 0},
                {"with the trash option", true, 0},
                {"across file systems", false, EXDEV}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TreeFixture tree;
        test::ScopedEnv env;
        env.Set("XDG_DATA_HOME", tree.path("data"));
        tree.Build(tree0);
        sessions::SessionDocument doc = VersionsDocument(tree, sessions::kTaskBackup);
        test::SetOption(doc, 0, "settingsDict", "settMoveToTrash", row.trash ? 1 : 0);
        test::SetOption(doc, 0, "conflictsDict", "conflictFileFolderRadio", 1);  // proceeds
        test::FaultyFileSystem faults;
        if (row.fault != 0) faults.Add(VersionRenameFails(row.fault));
        platform::ScopedFileSystem scoped(faults);
        const RunResult first = RunSession(doc);
        EXPECT_EQ(first.errors, 0);
        if (row.fault != 0) {
            EXPECT_GT(faults.failures(test::Sys::renameat2), 0);
        }
        EXPECT_EQ(Kept(tree, "B/.quorvel-versions"), kept(first.stamp));
        test::Files b = tree.Contents("B");
        std::erase_if(b, [](const auto& f) { return f.first.starts_with(".quorvel-versions"); });
        EXPECT_EQ(b, tree.Contents("A"));
        EXPECT_FALSE(fs::exists(tree.path("data/Trash/files")));
        // The versions folder is no item of the session: the next run finds nothing to do.
        EXPECT_EQ(RunSession(doc).plan, std::vector<std::string>{});
    }
}

TEST(VersionsTest, ASynchronizeKeepsTheVersionOnTheSideReplacedAndInAFolderOfItsChoice) {
    test::TreeFixture tree;
    tree.Build({"A/notes.txt:old@1000", "B/notes.txt:new@2000", "versions/"});
    const std::string chosen = fs::canonical(tree.path("versions"));
    const RunResult run = RunSession(VersionsDocument(tree, sessions::kTaskSynchronize, chosen));
    EXPECT_EQ(run.errors, 0);
    const std::string a = fs::canonical(tree.a()).string().substr(1);
    EXPECT_EQ(Kept(tree, "versions"), (test::Files{{a + "/notes " + run.stamp + ".txt", "old"}}));
    EXPECT_EQ(tree.Contents("A"), (test::Files{{"notes.txt", "new"}}));

    // On a file system of its own (as root, a tmpfs mounted for the test): copied, not renamed.
    if (::geteuid() != 0 ||
        ::mount("tmpfs", chosen.c_str(), "tmpfs", 0, "size=4m,mode=0700") != 0) {
        GTEST_SKIP() << "no tmpfs to mount";
    }
    tree.Build({"B/notes.txt:newer@3000"});
    const RunResult across = RunSession(VersionsDocument(tree, sessions::kTaskSynchronize, chosen));
    EXPECT_EQ(across.errors, 0);
    EXPECT_EQ(Kept(tree, "versions"),
              (test::Files{{a + "/notes " + across.stamp + ".txt", "new"}}));
    ::umount2(chosen.c_str(), MNT_DETACH);
}

TEST(VersionsTest, AVersionThatCannotBeKeptLeavesTheItemAndCountsAnError) {
    const struct {
        const char* name;
        bool chooseA;     // the versions folder chosen is side A, named through a link
        bool otherOwner;  // a folder in the versions folder belongs to another user
        int renameError;  // the move into the versions folder fails
        bool badRecord;   // its record cannot be written
    } rows[] = {{"a versions folder that may not be written", false, false, EACCES, false},
                {"a versions folder that is the other side", true, false, 0, false},
                {"a folder of it another user owns", false, true, 0, false},
                {"a record that cannot be written", false, false, 0, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.otherOwner && ::geteuid() != 0) continue;  // only root can give it away
        test::TreeFixture tree;
        tree.Build({"A/d/report.txt:new@2000", "B/d/report.txt:old@1000", "B/d/gone.txt:bye@1000",
                    "B/d/Photos/p.jpg:pic@1000"});
        if (row.otherOwner) {
            fs::create_directories(tree.path("B/.quorvel-versions/d"));
            fs::permissions(tree.path("B/.quorvel-versions"), fs::perms::owner_all);
            ASSERT_EQ(::chown(tree.path("B/.quorvel-versions/d").c_str(), 54321, 54321), 0);
        }
        if (row.badRecord) {
            fs::create_directories(tree.path("B/.quorvel-versions"));
            fs::permissions(tree.path("B/.quorvel-versions"), fs::perms::owner_all);
            fs::create_symlink("/nowhere", tree.path("B/.quorvel-versions/.quorvel-versions.list"));
        }
        if (row.chooseA) fs::create_directory_symlink(tree.a(), tree.path("link"));
        const test::Files before = tree.Contents("B/d");
        test::FaultyFileSystem faults;
        if (row.renameError != 0) faults.Add(VersionRenameFails(row.renameError));
        platform::ScopedFileSystem scoped(faults);
        const RunResult run = RunSession(
            VersionsDocument(tree, sessions::kTaskBackup, row.chooseA ? tree.path("link") : ""));
        EXPECT_GE(run.errors, 3);
        // The copy that had taken the replaced file's place gave it back.
        EXPECT_EQ(tree.Contents("B/d"), before);
    }
}

TEST(VersionsTest, NamesCarryTheStampBeforeTheExtensionAndReadBack) {
    const struct {
        const char* name;
        bool isFolder;
        const char* version;
    } rows[] = {
        {"report.txt", false, "report 2026-12-07 181200.txt"},
        {"archive.tar.gz", false, "archive.tar 2026-12-07 181200.gz"},
        {".bashrc", false, ".bashrc 2026-12-07 181200"},
        {"Makefile", false, "Makefile 2026-12-07 181200"},
        {"Photos.2026", true, "Photos.2026 2026-12-07 181200"},
        {"old 2025-01-01 000000.txt", false, "old 2025-01-01 000000 2026-12-07 181200.txt"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(VersionName(row.name, "2026-12-07 181200", row.isFolder), row.version);
        const auto parts = ParseVersionName(row.version, row.isFolder);
        ASSERT_TRUE(parts) << row.version;
        EXPECT_EQ(parts->original, row.name);
        EXPECT_EQ(parts->stamp, "2026-12-07 181200");
    }
    EXPECT_EQ(ParseVersionName("r 2026-12-07 181200-2.txt", false)->stamp, "2026-12-07 181200-2");
    for (const char* notOne :
         {"report.txt", "r 2026-12-07 18120.txt", "r 2026-12-07 181200.a.b", "2026-12-07 181200"}) {
        EXPECT_FALSE(ParseVersionName(notOne, false)) << notOne;
    }
    EXPECT_EQ(VersionStamp(*StampTime("2026-03-29 023000")).size(), 17u);
}

TEST(VersionsTest, RetentionPrunesTheOldestRecordedByCountAndAgeAndNothingElse) {
    test::TreeFixture tree;
    // Versions of r.txt kept on days 1 to 5 (their names' stamps say otherwise: only when they
    // were kept counts, whatever the clock's zone), two more kept the same second as day 5's,
    // and lookalikes nobody recorded.
    const std::int64_t day = 86400, start = 1767225600;  // 2026-01-01 UTC
    std::vector<std::string> entries = {"B/r 2020-01-01 000000.txt", "B/sub/x 2020-01-01 000000/",
                                        "B/keep/r.txt"};
    std::vector<VersionRecord> records;
    for (int d = 1; d <= 5; ++d) {
        const std::string name = "r 2026-02-0" + std::to_string(6 - d) + " 000000.txt";
        entries.push_back("B/keep/" + name + ":" + std::to_string(d));
        records.push_back({start + d * day, false, "keep/" + name});
    }
    entries.push_back("B/keep/r 2026-02-01 000000-2.txt:5b");
    records.push_back({start + 5 * day, false, "keep/r 2026-02-01 000000-2.txt"});
    tree.Build(entries);
    const platform::FolderHandle b = platform::FolderHandle::OpenTop(tree.b());
    std::string why;
    ASSERT_TRUE(WriteVersionRecords(b, records, &why)) << why;
    const items::TWUtilities tw;
    const Metadata metadata(tw);
    std::vector<std::string> errors;
    const auto left = [&] {
        std::set<std::string> contents;
        for (const auto& [path, content] : tree.Contents("B/keep")) contents.insert(content);
        return contents;
    };
    run::VersionsSettings settings;
    settings.keep = 3;
    PruneVersions(b, settings, start + 6 * day, nullptr, metadata, &errors);
    EXPECT_EQ(left(), (std::set<std::string>{"", "5b", "5", "4"}));  // "" is r.txt itself
    settings = {};
    settings.keep = 0;
    settings.days = 1;
    PruneVersions(b, settings, start + 6 * day, nullptr, metadata, &errors);
    EXPECT_EQ(left(), (std::set<std::string>{"", "5b", "5"}));
    settings.days = 0;
    settings.keep = 1;
    const std::vector<VersionGroup> other = {{"keep", "s.txt"}};
    PruneVersions(b, settings, start + 6 * day, &other, metadata, &errors);
    EXPECT_EQ(left().size(), 3u);
    EXPECT_EQ(ReadVersionRecords(b).size(), 2u);
    EXPECT_TRUE(fs::exists(tree.path("B/r 2020-01-01 000000.txt")));
    EXPECT_TRUE(fs::exists(tree.path("B/sub/x 2020-01-01 000000")));
    EXPECT_TRUE(errors.empty());
}

TEST(VersionsTest, RestorePutsAVersionBackOnBothSidesKeepingWhatStoodThere) {
    test::TreeFixture tree;
    tree.Build({"A/report.txt:new@2000", "B/report.txt:old@1000", "B/Photos/p.jpg:pic@1000",
                "elsewhere/report.txt:taken"});
    const RunResult run = RunSession(VersionsDocument(tree, sessions::kTaskBackup));
    ASSERT_EQ(run.errors, 0);
    const std::vector<VersionPair> pairs = {{fs::canonical(tree.a()), fs::canonical(tree.b())}};
    run::VersionsSettings settings;
    settings.on = true;
    std::vector<std::string> errors;
    const std::vector<VersionInfo> all = ListVersions(pairs, settings, "", &errors);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].relativePath, "Photos");
    EXPECT_TRUE(all[0].isFolder && all[0].onB);
    EXPECT_EQ(all[0].size, 3u);
    EXPECT_EQ(all[1].relativePath, "report.txt");
    EXPECT_EQ(ListVersions(pairs, settings, "Photos/p.jpg", &errors).size(), 0u);

    const items::TWUtilities tw;
    const Metadata metadata(tw);
    std::vector<std::string> done;
    std::string why;
    const std::time_t later = *StampTime(run.stamp) + 60;
    for (const VersionInfo& v : all) {
        EXPECT_TRUE(RestoreVersion(pairs, settings, v, std::nullopt, later, metadata, &done, &why))
            << why;
    }
    for (const char* side : {"A", "B"}) {
        const test::Files files = tree.Contents(side);
        EXPECT_EQ(files.at("report.txt"), "old") << side;
        EXPECT_EQ(files.at("Photos/p.jpg"), "pic") << side;
    }
    // What stood there is a version now, on its own side.
    EXPECT_EQ(Kept(tree, "A/.quorvel-versions"),
              (test::Files{{"report " + VersionStamp(later) + ".txt", "new"}}));
    // Into a folder of the user's choice, never over what stands there.
    EXPECT_FALSE(RestoreVersion(pairs, settings, all[1], tree.path("elsewhere"), later, metadata,
                                &done, &why));
    EXPECT_NE(why.find("already exists"), std::string::npos) << why;
    EXPECT_EQ(test::ReadText(tree.path("elsewhere/report.txt")), "taken");
}

}  // namespace
}  // namespace qv::fileops
