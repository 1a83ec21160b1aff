#include "sessions/preferences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "sessions/plist_codec.h"
#include "sessions/well.h"
#include "support/test_support.h"

namespace qv::sessions {
namespace {

class PreferencesTest : public test::IsolatedHomeTest {
  protected:
    PreferencesTest() : paths_(platform::SupportPaths::FromEnvironment()) {}

    // Writes a preferences file holding dict under the current key.
    void WritePrefsFile(const plist::Value& prefs) {
        ASSERT_TRUE(paths_.EnsurePreferencesFolder());
        plist::Value file = plist::Dict{{kPreferencesKey, prefs}};
        ASSERT_TRUE(plist::WriteXmlFile(paths_.pathFilePref, file).ok);
    }

    plist::Value ReadBack() {
        Preferences again(paths_);
        again.ReadFilePreferences();
        return again.mPrefDict;
    }

    platform::SupportPaths paths_;
};

TEST_F(PreferencesTest, NoPreferencesAnywhereGivesTheDefaultsWrittenToTheFile) {
    Preferences prefs(paths_);
    prefs.ReadFilePreferences();
    EXPECT_EQ(prefs.mPrefDict.intAt("versionPref"), 411);
    EXPECT_EQ(prefs.mPrefDict.intAt("prefOnError"), 3);
    EXPECT_EQ(prefs.mPrefDict.intAt("prefAskConfirmation"), 1);
    EXPECT_EQ(prefs.mPrefDict.intAt("prefDeleteLogsField"), 7);
    EXPECT_TRUE(prefs.mPrefDict.find("prefDeleteLogsOn")->isBoolean());
    EXPECT_EQ(prefs.mPrefDict.intAt("prefRoot"), ::geteuid() == 0 ? 1 : 0);
    EXPECT_EQ(prefs.mPrefDict.stringAt("prefPathLogFolder"), paths_.pathLogFolder);
    ASSERT_TRUE(prefs.mPrefDict.find("prefSendEmailDict")->isData());
    EXPECT_TRUE(GetWellDict(prefs.mPrefDict.find("prefSendEmailDict")->data()).has_value());

    auto file = plist::ReadFile(paths_.pathFilePref);
    ASSERT_TRUE(file.value.has_value()) << file.reason;
    const plist::Value* stored = file.value->find(kPreferencesKey);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->intAt("prefOnError"), 3);
    EXPECT_EQ(ReadBack(), prefs.mPrefDict);  // what is written is what is read
}

TEST_F(PreferencesTest, UpdateRemovesUnknownKeysAndRestoresPruneKeysTogether) {
    Preferences defaults(paths_);
    plist::Value old = defaults.GetDefaultPreferencesDict();
    old.set("prefOnError", 1);                            // a user's choice survives
    old.set("prefNoLongerKnown", 5);                      // a key of another version goes
    old.set("prefRoot", 1 - (::geteuid() == 0 ? 1 : 0));  // always recomputed
    old.remove("prefDeleteLogsOn");
    old.set("prefDeleteLogsPop", 1);
    old.set("prefDeleteLogsField", 30);
    old.remove("prefShutDown");
    WritePrefsFile(old);

    plist::Value read = ReadBack();
    EXPECT_EQ(read.intAt("prefOnError"), 1);
    EXPECT_FALSE(read.contains("prefNoLongerKnown"));
    EXPECT_EQ(read.intAt("prefRoot"), ::geteuid() == 0 ? 1 : 0);
    EXPECT_EQ(read.intAt("prefShutDown", -1), 0);
    // prefDeleteLogsOn was missing: all three prune keys come back with their defaults.
    EXPECT_EQ(read.intAt("prefDeleteLogsOn", -1), 0);
    EXPECT_EQ(read.intAt("prefDeleteLogsPop"), 0);
    EXPECT_EQ(read.intAt("prefDeleteLogsField"), 7);

    // With prefDeleteLogsOn present, the other two keep their values.
    old.set("prefDeleteLogsOn", true);
    WritePrefsFile(old);
    read = ReadBack();
    EXPECT_EQ(read.intAt("prefDeleteLogsOn"), 1);
    EXPECT_EQ(read.intAt("prefDeleteLogsPop"), 1);
    EXPECT_EQ(read.intAt("prefDeleteLogsField"), 30);
}

TEST_F(PreferencesTest, VersionDecidesBetweenUpdateAndDefaults) {
    const struct {
        const char* versionKey;  // nullptr: no version at all
        int version;
        bool kept;  // the user's prefOnError survives
    } cases[] = {
        {"versionPref", 411, true},  {"versionPref", 300, true},
        {"versionPref", 412, false},  // made by a later version
        {"fileVersion", 400, true},   // the oldest dictionaries carry fileVersion
        {nullptr, 0, false},
    };
    for (const auto& c : cases) {
        plist::Value prefs = plist::Dict{{"prefOnError", 2}};
        if (c.versionKey) prefs.set(c.versionKey, c.version);
        WritePrefsFile(prefs);
        plist::Value read = ReadBack();
        EXPECT_EQ(read.intAt("prefOnError"), c.kept ? 2 : 3)
            << (c.versionKey ? c.versionKey : "none") << " " << c.version;
        EXPECT_TRUE(read.contains("prefSendEmailDict"));
    }
}

TEST_F(PreferencesTest, OlderStorageIsReadOnceAndRemoved) {
    ASSERT_TRUE(paths_.EnsurePreferencesFolder());
    const std::string old = platform::JoinPath(paths_.pathFolderPref, kOldPreferencesFile);
    const std::string older = platform::JoinPath(paths_.pathFolderPref, kOlderPreferencesFile);

    // Under "privateAppPref".
    plist::Value wrapped =
        plist::Dict{{kOldPreferencesKey, plist::Dict{{"versionPref", 400}, {"prefLogKind", 3}}}};
    ASSERT_TRUE(plist::WriteXmlFile(old, wrapped).ok);
    test::WriteText(older, "anything");
    EXPECT_EQ(ReadBack().intAt("prefLogKind"), 3);
    EXPECT_FALSE(platform::ItemExists(old));
    EXPECT_FALSE(platform::ItemExists(older));

    // The whole file, when it has no "privateAppPref"; the current file now wins over it.
    ::unlink(paths_.pathFilePref.c_str());
    ASSERT_TRUE(plist::WriteXmlFile(old, plist::Dict{{"versionPref", 400}, {"prefLogKind", 3}}).ok);
    EXPECT_EQ(ReadBack().intAt("prefLogKind"), 3);
    ASSERT_TRUE(plist::WriteXmlFile(old, plist::Dict{{"versionPref", 400}, {"prefLogKind", 9}}).ok);
    EXPECT_EQ(ReadBack().intAt("prefLogKind"), 3);
    EXPECT_TRUE(platform::ItemExists(old));  // not looked at while the current file exists
}

TEST_F(PreferencesTest, DamagedFileGivesDefaultsAndOtherKeysSurviveWrites) {
    ASSERT_TRUE(paths_.EnsurePreferencesFolder());
    test::WriteText(paths_.pathFilePref, "<?xml version=\"1.0\"?><plist><dict><key>");
    EXPECT_EQ(ReadBack().intAt("prefOnError"), 3);

    plist::Value file = plist::Dict{{"someoneElsesKey", "kept"},
                                    {kPreferencesKey, plist::Dict{{"versionPref", 411}}}};
    ASSERT_TRUE(plist::WriteXmlFile(paths_.pathFilePref, file).ok);
    Preferences prefs(paths_);
    prefs.ReadFilePreferences();
    prefs.mPrefDict.set("prefBeepWhenDone", 1);
    ASSERT_TRUE(prefs.WriteFilePreferences(true));
    auto written = plist::ReadFile(paths_.pathFilePref);
    ASSERT_TRUE(written.value.has_value());
    EXPECT_EQ(written.value->stringAt("someoneElsesKey"), "kept");
    EXPECT_EQ(written.value->find(kPreferencesKey)->intAt("prefBeepWhenDone"), 1);

    // Nothing changed, nothing rewritten (a rewrite makes a new file); a change is written.
    auto inode = [&] {
        struct stat st {};
        ::stat(paths_.pathFilePref.c_str(), &st);
        return st.st_ino;
    };
    const ino_t before = inode();
    ASSERT_TRUE(prefs.WriteFilePreferences(false));
    EXPECT_EQ(inode(), before);
    prefs.mPrefDict.set("prefBeepWhenDone", 0);
    ASSERT_TRUE(prefs.WriteFilePreferences(false));
    EXPECT_NE(inode(), before);
}

}  // namespace
}  // namespace qv::sessions
