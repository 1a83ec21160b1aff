// What a run asks before it starts, and how a session's conflict policies are shown.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/are_you_sure.h"
#include "sessions/conflict_options.h"
#include "sessions/settings_options.h"
#include "support/test_support.h"
#include "support/tree_fixture.h"

namespace qv::engine {
namespace {

TEST(ConfirmationTest, TheMessageNamesTheTaskAndItsFolders) {
    test::TempDir dir;
    ::mkdir((dir / "Docs").c_str(), 0700);
    ::mkdir((dir / "Backup").c_str(), 0700);
    const plist::Value prefs = plist::Dict{};
    // clang-format off
    const struct { std::int64_t task; int exact, multi; std::string source, message; } rows[] = {
        {sessions::kTaskSynchronize, 1, 0, "Docs",
         "Are you sure you want to synchronize exactly the folder \"Docs\" with the folder \"Backup\"?"},
        {sessions::kTaskBackup, 0, 0, "Docs",
         "Are you sure you want to backup the folder \"Docs\" to the folder \"Backup\"?"},
        {sessions::kTaskBackup, 0, 0, "missing",  // what is not a folder is named a file
         "Are you sure you want to backup the file \"missing\" to the file \"Backup\"?"},
        {sessions::kTaskBackup, 1, 1, "Docs", "Are you sure you want to backup exactly from the multiple list?"},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.message);
        sessions::SessionDocument doc =
            test::TwoFolderDocument(dir / r.source, dir / "Backup", r.task);
        test::SetOption(doc, 0, "settingsDict", "settExact", r.exact);
        test::SetOption(doc, 0, "multiDict", "multiOn", r.multi);
        const auto c = AreYouSure(doc, 0, prefs, true);
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(c->message, r.message);
        EXPECT_EQ(c->title, "Starting task:");
        EXPECT_EQ(c->okTitle + "/" + c->cancelTitle, "OK/Cancel");
        // Not asked when the user did not start the run, or asked not to be asked.
        EXPECT_FALSE(AreYouSure(doc, 0, prefs, false));
        EXPECT_FALSE(AreYouSure(doc, 0, plist::Dict{{"prefAskConfirmation", 0}}, true));
        EXPECT_EQ(AreYouSure(doc, doc.SessionCount() + 1, prefs, true)->message,
                  "Are you sure you want to execute the tasks defined in all the sessions?");
    }
    // The scripts the run will start are named; a switched-on placeholder is none.
    sessions::SessionDocument doc =
        test::TwoFolderDocument(dir / "Docs", dir / "Backup", sessions::kTaskBackup);
    test::SetOption(doc, 0, "appleScriptDict", "asEndOn", 1);
    EXPECT_EQ(AreYouSure(doc, 0, prefs, true)->message, rows[1].message);
    test::SetOption(doc, 0, "appleScriptDict", "asStartOn", 1);
    test::SetOption(doc, 0, "appleScriptDict", "asStartText", "systemctl stop db");
    EXPECT_EQ(AreYouSure(doc, 0, prefs, true)->message,
              "Are you sure you want to backup the folder \"Docs\" to the folder \"Backup\" and "
              "run its before-script?");
    EXPECT_EQ(AreYouSure(doc, doc.SessionCount() + 1, prefs, true)->message,
              "Are you sure you want to execute the tasks defined in all the sessions and run "
              "their scripts?");
}

TEST(ConfirmationTest, ConflictPoliciesShowTheirMarkerAndLogLines) {
    plist::Value session = plist::Dict{{"conflictsDict", sessions::DefaultConflictsDict()}};
    EXPECT_FALSE(sessions::ConflictsDictIsCustomised(session));
    plist::Value* conflicts = session.dictAt("conflictsDict");
    conflicts->set("conflictSyncAsk", true);  // a boolean compares by value
    EXPECT_TRUE(sessions::ConflictsDictIsCustomised(session));
    conflicts->set("conflictSyncAsk", false);
    conflicts->set("conflictFileFolderRadio", 1.0);
    EXPECT_FALSE(sessions::ConflictsDictIsCustomised(session));
    conflicts->set("conflictFileFolderRadio", 2);  // as a document of version 419 has it
    EXPECT_TRUE(sessions::ConflictsDictIsCustomised(session));

    conflicts->set("conflictBackupRadio2", 1);
    conflicts->set("conflictBackupAsk2", 1);  // asked, whatever the radio says
    EXPECT_EQ(sessions::GetConflictsLog(*conflicts),
              "\r• Conflict: \r"
              "\tBackup 1: Replace the destination item - Ask each time: No\r"
              "\tBackup 2: Keep the newer destination item - Ask each time: Yes\r"
              "\tExact Backup: Delete the destination item - Ask each time: No\r"
              "\tSync: Replace the older item - Ask each time: No\r"
              "\tExact Sync: Copy the item back - Ask each time: No\r"
              "\tFile Versus Folder: Skip the item - Ask each time: No\r");
}

}  // namespace
}  // namespace qv::engine
