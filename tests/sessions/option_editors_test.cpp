#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/file_io.h"
#include "platform/localization.h"
#include "sessions/conflict_options.h"
#include "sessions/conflicts_editor.h"
#include "sessions/exclude_editor.h"
#include "sessions/exclude_options.h"
#include "sessions/multi_editor.h"
#include "sessions/session_document.h"
#include "sessions/settings_editor.h"
#include "sessions/settings_options.h"
#include "support/test_support.h"

namespace qv::sessions {
namespace {

plist::Value NewSession(std::int64_t task) {
    plist::Value doc = plist::Dict{};
    SessionDocument::AddSession(task, "s", doc);
    return doc.arrayAt("sessionsArray")->array().front();
}

TEST(OptionEditorsTest, NewSessionsDifferOnlyByTaskAndShowNoMarker) {
    const plist::Value sync = NewSession(kTaskSynchronize);
    const plist::Value backup = NewSession(kTaskBackup);
    plist::Value syncSettings = *sync.dictAt("settingsDict");
    plist::Value backupSettings = *backup.dictAt("settingsDict");
    EXPECT_NE(syncSettings, backupSettings);
    syncSettings.remove("settTask");
    backupSettings.remove("settTask");
    EXPECT_EQ(syncSettings, backupSettings);

    for (const plist::Value* session : {&sync, &backup}) {
        EXPECT_FALSE(SettingsDictIsCustomised(*session));
        EXPECT_FALSE(SettingsEditor(*session->dictAt("settingsDict")).IconOn());
        EXPECT_FALSE(ConflictsDictIsCustomised(*session));
        EXPECT_FALSE(ConflictsEditor(*session->dictAt("conflictsDict")).IconOn());
    }
}

TEST(OptionEditorsTest, SettingsMarkerFollowsWhatDepartsFromTheTaskDefaults) {
    const auto Check = [](const char* key, bool on) {
        return [key, on](SettingsEditor& e) { e.setCheckbox(key, on); };
    };
    struct Case {
        const char* what;
        std::function<void(SettingsEditor&)> edit;
        bool marker;
    };
    const Case cases[] = {
        {"nothing", [](SettingsEditor&) {}, false},
        {"kind", [](SettingsEditor& e) { e.setNameKind(1001); }, false},
        {"pattern", [](SettingsEditor& e) { e.setPattern("yyyy"); }, false},
        {"kind and pattern",
         [](SettingsEditor& e) {
             e.setNameKind(0);
             e.setPattern("kSrc");
         },
         false},
        {"sub-folder on", Check("settCreateDestFolder", true), true},
        {"exact", Check("settExact", true), true},
        {"attributes", Check("settCheckAttrChanged", true), true},
        // Shown on, stored 0: a departure from the stored default of 1.
        {"invisible shown on", Check("settInvisibleItems", true), true},
        {"locked shown off", Check("settLockedItems", false), false},
        {"task changed", [](SettingsEditor& e) { e.setTask(kTaskBackup); }, false},
        {"on and back off",
         [](SettingsEditor& e) {
             e.setCheckbox("settMoveToTrash", true);
             e.setCheckbox("settMoveToTrash", false);
         },
         false},
    };
    for (const Case& c : cases) {
        SettingsEditor editor(DefaultSettingsDict(kTaskSynchronize));
        c.edit(editor);
        EXPECT_EQ(editor.IconOn(), c.marker) << c.what;
        plist::Value session = NewSession(kTaskSynchronize);
        std::string message;
        ASSERT_TRUE(editor.GetPanels(session, &message)) << message;
        EXPECT_EQ(*session.dictAt("settingsDict"), editor.CurrentSettingsDict()) << c.what;
        EXPECT_EQ(SettingsDictIsCustomised(session), c.marker) << c.what;
    }
}

TEST(OptionEditorsTest, StoredNumbersCompareByValueAndMissingKeysTakeDefaults) {
    plist::Value stored = DefaultSettingsDict(kTaskBackup);
    stored.set("settExact", false);
    stored.set("settInvisibleItems", true);
    stored.set("settMoveToTrash", 0.0);
    plist::Value session = plist::Dict{{"settingsDict", stored}};
    EXPECT_FALSE(SettingsDictIsCustomised(session));

    stored.remove("settSkipEmptyFolders");
    const SettingsEditor editor(stored);
    EXPECT_FALSE(editor.IconOn());
    EXPECT_EQ(editor.CurrentSettingsDict(), DefaultSettingsDict(kTaskBackup));
    // A damaged session keeps no settings: the marker says so rather than hiding it.
    EXPECT_TRUE(SettingsDictIsCustomised(plist::Dict{}));

    // Values no control offers are shown as runs read them: any task but Synchronize is a
    // Backup, any radio value but the one that proceeds drops the action.
    stored.set("settTask", 7);
    EXPECT_EQ(SettingsEditor(stored).task(), kTaskBackup);
    plist::Value conflicts = DefaultConflictsDict();
    conflicts.set("conflictSyncRadio", 9);
    conflicts.set("conflictFileFolderRadio", 0);
    const ConflictsEditor policies(conflicts);
    EXPECT_EQ(policies.radio(3), 1);  // sync: 2 proceeds
    EXPECT_EQ(policies.radio(5), 2);  // file versus folder: 1 proceeds
}

TEST(OptionEditorsTest, InvertedCheckboxesShowTheOppositeOfTheStoredValue) {
    platform::InstallLocalizer(platform::Localizer{});
    struct Case {
        const char* key;
        std::int64_t stored;
        bool shown;
        const char* logLine;
    };
    const Case cases[] = {
        {"settInvisibleItems", 1, false, "\tSkip invisible items: No\r"},
        {"settInvisibleItems", 0, true, "\tSkip invisible items: Yes\r"},
        {"settLockedItems", 1, false, "\tDon't unlock locked items: No\r"},
        {"settLockedItems", 0, true, "\tDon't unlock locked items: Yes\r"},
        {"settResolveAlias", 1, true, "\tResolve aliases: Yes\r"},
        {"settResolveAlias", 0, false, "\tResolve aliases: No\r"},
    };
    for (const Case& c : cases) {
        plist::Value stored = DefaultSettingsDict(kTaskSynchronize);
        stored.set(c.key, c.stored);
        SettingsEditor editor(stored);
        EXPECT_EQ(editor.checkbox(c.key), c.shown) << c.key << " " << c.stored;
        EXPECT_TRUE(test::Contains(editor.GetLog(), c.logLine));
        // Setting what is shown stores the same value back.
        ASSERT_TRUE(editor.setCheckbox(c.key, c.shown));
        EXPECT_EQ(editor.CurrentSettingsDict().intAt(c.key, -1), c.stored) << c.key;
    }
    SettingsEditor editor(DefaultSettingsDict(kTaskSynchronize));
    EXPECT_FALSE(editor.setCheckbox("settTask", true));
    EXPECT_FALSE(editor.setCheckbox("noSuchKey", true));
    EXPECT_FALSE(editor.checkbox("noSuchKey"));
    EXPECT_EQ(editor.CurrentSettingsDict(), DefaultSettingsDict(kTaskSynchronize));
}

TEST(OptionEditorsTest, ConflictsMarkerRoundTripsForEveryKind) {
    for (std::size_t k = 0; k < ConflictKinds().size(); ++k) {
        const ConflictKind& kind = ConflictKinds()[k];
        ConflictsEditor editor(DefaultConflictsDict());
        const std::int64_t initial = editor.radio(k);
        EXPECT_EQ(initial, DefaultConflictsDict().intAt(kind.radioKey)) << kind.name;
        ASSERT_TRUE(editor.setRadio(k, 3 - initial));
        EXPECT_TRUE(editor.IconOn()) << kind.name;
        ASSERT_TRUE(editor.setRadio(k, initial));
        EXPECT_FALSE(editor.IconOn()) << kind.name;
        editor.setAsk(k, true);
        EXPECT_TRUE(editor.IconOn()) << kind.name;
        plist::Value session = NewSession(kTaskBackup);
        ASSERT_TRUE(editor.GetPanels(session, nullptr));
        EXPECT_TRUE(ConflictsDictIsCustomised(session)) << kind.name;
        editor.setAsk(k, false);
        EXPECT_FALSE(editor.IconOn()) << kind.name;
        EXPECT_FALSE(editor.setRadio(k, 0));
        EXPECT_FALSE(editor.setRadio(k, 3));
        EXPECT_EQ(editor.radio(k), initial);
    }
    ConflictsEditor editor(DefaultConflictsDict());
    EXPECT_FALSE(editor.setRadio(ConflictKinds().size(), 1));
}

TEST(OptionEditorsTest, AskFlagLogsYesWhateverTheRadioSays) {
    platform::InstallLocalizer(platform::Localizer{});
    plist::Value stored = DefaultConflictsDict();
    stored.set("conflictSyncAsk", 1);
    stored.set("conflictSyncRadio", 1);
    stored.set("conflictFileFolderAsk", true);  // older documents store this flag as a boolean
    const ConflictsEditor editor(stored);
    EXPECT_TRUE(editor.ask(3));
    EXPECT_TRUE(editor.ask(5));
    EXPECT_TRUE(editor.CurrentConflictsDict().find("conflictFileFolderAsk")->isInteger());
    // The other lines of the section are checked in the run log's full expected text.
    const std::string log = editor.GetLog();
    EXPECT_TRUE(test::Contains(log, "\r\tSync: Skip both items - Ask each time: Yes\r")) << log;
    EXPECT_TRUE(test::Contains(log,
                               "\tFile Versus Folder: Replace the folder by the file - Ask "
                               "each time: Yes\r"))
        << log;
    EXPECT_EQ(editor.GetLog(), GetConflictsLog(stored));
}

TEST(OptionEditorsTest, ExcludeRowsFillResetAndAnEmptyListIsSwitchedOff) {
    plist::Value session = NewSession(kTaskBackup);
    ExcludeEditor editor(*session.dictAt("excludeDict"));
    std::size_t row = 99;
    ASSERT_EQ(editor.add("/home/ann/Temp/", &row), "");
    EXPECT_EQ(row, 0u);
    EXPECT_EQ(editor.path(0), "/home/ann/Temp");  // the trailing "/" is not part of the item
    EXPECT_TRUE(editor.listOn());                 // picking an item switches the list on
    EXPECT_NE(editor.add("Temp", &row), "");      // only full paths
    EXPECT_NE(editor.toggle(32), "");
    ASSERT_EQ(editor.toggle(0), "");
    EXPECT_FALSE(editor.rowValid(0));
    // On, but no valid row: leaving the panel switches it off.
    ASSERT_TRUE(editor.GetPanels(session, nullptr));
    EXPECT_EQ(session.dictAt("excludeDict")->intAt("excludeOn"), 0);
    editor.toggle(0);
    editor.setListOn(true);
    ASSERT_TRUE(editor.GetPanels(session, nullptr));
    EXPECT_EQ(CountExcludeValid(session), std::vector<std::string>{"/home/ann/Temp"});
    ASSERT_EQ(editor.clear(0), "");
    EXPECT_TRUE(editor.rowOn(0) && editor.path(0).empty());
}

TEST(OptionEditorsTest, MultiRowsNamingOneFolderTwiceOrNestedAreRefused) {
    test::TempDir dir;
    const std::string a = dir / "a", ab = dir / "a/b", upper = dir / "A";
    std::filesystem::create_directories(ab);
    std::filesystem::create_directories(upper);
    std::filesystem::create_directory_symlink(a, a + "link");
    // clang-format off
    const struct { std::string src, dst; bool rowOn; std::string message; } cases[] = {
        {a, a, true, "Can't set the same folder:\r\"" + a + "\"\ras source and destination at the row 3."},
        {a, a, false, ""},                  // a row that is off is not examined
        {a, a + "/.", true, "Can't set the same folder:\r\"" + a + "\"\ras source and destination at the row 3."},
        {a, upper, true, ""},               // two folders on a file system where case counts
        {a, ab, true, "Can't set a destination folder inside the source folder:\r\"" + a + "\"\r\"" +
                      ab + "\"\ras source and destination at the row 3."},
        {ab, a, true, "Can't set a source folder inside the destination folder:"},
        {a, a + "/missing", true, ""},      // nesting is judged on folders that exist
        {a + "link", a, true, "Can't set the same folder:"},  // a link and its folder
        {a + "link", ab, true, "Can't set a destination folder inside the source folder:"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.src + " " + c.dst);
        plist::Value session = NewSession(kTaskBackup);
        MultiEditor editor(*session.dictAt("multiDict"));
        ASSERT_EQ(editor.setPaths(2, c.src, c.dst), "");
        if (!c.rowOn) editor.toggle(2);
        std::string message;
        EXPECT_EQ(editor.GetPanels(session, &message), c.message.empty());
        EXPECT_EQ(message.substr(0, c.message.size()), c.message);
        if (c.message.empty()) {
            EXPECT_EQ(session.dictAt("multiDict")->intAt("multiOn"), c.rowOn ? 1 : 0);
        } else {
            EXPECT_EQ(session.dictAt("multiDict")->intAt("multiOn"), 0);  // nothing stored
        }
    }
    // An exact backup's rows are scanned before any is copied: a row may not copy into a
    // folder an earlier row copies into or from (one folder, or one inside the other; by name
    // for folders not made yet, through links for the others). Reading one source, or what an
    // earlier row wrote, is fine; so is any sharing in a session that is no exact backup.
    const std::string s1 = dir / "s1", s2 = dir / "s2";
    // clang-format off
    const struct { std::string src2, dst1, dst2; bool refused; } pairs[] = {
        {s2, ab, ab, true}, {s2, upper + "/x", upper + "/x/y", true}, {s2, a + "link", ab, true},
        {s2, ab, upper, false}, {s2, upper + "/x", upper + "/xy", false},
        {ab, a, upper, false},       // row 5 reads what row 1 wrote: a chain
        {s2, ab, s1 + "/in", true},  // row 5 writes into what row 1 reads
        {ab, ab, s1, true},          // a circle: row 5 copies back into row 1's source
        {s1, ab, upper, false},
        {s2, ab, ab, false},         // (with the session a plain backup)
    };
    // clang-format on
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.src2 + " " + p.dst1 + " " + p.dst2);
        plist::Value twoRows = NewSession(kTaskBackup);
        twoRows.dictAt("settingsDict")->set("settExact", &p == &pairs[std::size(pairs) - 1] ? 0 : 1);
        MultiEditor editor(*twoRows.dictAt("multiDict"));
        ASSERT_EQ(editor.setPaths(0, s1, p.dst1), "");
        ASSERT_EQ(editor.setPaths(4, p.src2, p.dst2), "");
        std::string message;
        EXPECT_EQ(editor.GetPanels(twoRows, &message), !p.refused);
        EXPECT_EQ(message.find("at the rows 1 and 5.") != std::string::npos, p.refused) << message;
    }
    // Option-clicking the only filled path of a row that was off switches the row on again.
    plist::Value session = NewSession(kTaskBackup);
    MultiEditor editor(*session.dictAt("multiDict"));
    ASSERT_EQ(editor.setPath(0, false, a), "");
    editor.toggle(0);
    ASSERT_EQ(editor.clearPath(0, false), "");
    EXPECT_TRUE(editor.rowOn(0));
}

}  // namespace
}  // namespace qv::sessions
