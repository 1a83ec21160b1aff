#include "sessions/preferences_editor.h"

#include <gtest/gtest.h>

#include "platform/localization.h"
#include "sessions/plist_codec.h"
#include "sessions/well.h"
#include "support/test_support.h"

namespace qv::sessions {
namespace {

class PreferencesEditorTest : public test::IsolatedHomeTest {
  protected:
    PreferencesEditorTest() : prefs_(platform::SupportPaths::FromEnvironment()) {
        platform::InstallLocalizer(platform::Localizer{});
        prefs_.ReadFilePreferences();
    }
    plist::Value StoredInFile() {
        const plist::ReadResult file =
            plist::ReadFile(platform::SupportPaths::FromEnvironment().pathFilePref);
        return file.value ? *file.value->find(kPreferencesKey) : plist::Value();
    }
    Preferences prefs_;
};

TEST_F(PreferencesEditorTest, ValuesAreTakenAsTheirControlsTakeThem) {
    struct Case {
        const char* key;
        const char* text;
        const char* refusal;  // "" when taken
        const char* shown;    // GetAsText afterwards
    };
    const Case cases[] = {
        {"prefBeepWhenDone", "On", "", "1"},
        {"prefBeepWhenDone", "false", "", "0"},
        {"prefBeepWhenDone", "maybe", "'prefBeepWhenDone' takes yes or no", "0"},
        {"prefOnError", "Skip and continue", "", "2"},
        {"prefOnError", "1", "", "1"},
        {"prefOnError", "4", "'prefOnError' takes one of 1 (Stop the task)", "1"},
        {"prefDeleteLogsPop", "1", "", "1"},
        {"prefDeleteLogsField", "0", kDeleteLogsFieldMessage, "7"},
        {"prefDeleteLogsField", "30", "", "30"},
        {"prefModificationDeltaField", "0", "", "0"},
        {"prefModificationDeltaField", "-2", "takes a whole number of at least 0", "0"},
        {"prefModificationDeltaField", "2s", "takes a whole number", "0"},
        {"prefPathLogFolder", "logs", "takes an absolute path", nullptr},
        {"prefPathLogFolder", "/srv/l\xff", "", "/srv/l\xff"},
        {"mSendEmailTo", "ann@example.org", "", "ann@example.org"},
        {"versionPref", "1", "unknown preference 'versionPref'", ""},
    };
    PreferencesEditor editor(prefs_.mPrefDict);
    for (const Case& c : cases) {
        const std::string why = editor.SetFromText(c.key, c.text);
        EXPECT_TRUE(c.refusal[0] == '\0' ? why.empty() : why.find(c.refusal) != std::string::npos)
            << c.key << " " << c.text << ": " << why;
        if (c.shown != nullptr) {
            EXPECT_EQ(editor.GetAsText(c.key), c.shown) << c.key;
        }
    }
    // Checkboxes keep the type they are stored with.
    ASSERT_EQ(editor.SetFromText("prefDeleteLogsOn", "yes"), "");
    EXPECT_TRUE(editor.dict().find("prefDeleteLogsOn")->isBoolean());
    EXPECT_TRUE(editor.dict().find("prefBeepWhenDone")->isInteger());
}

TEST_F(PreferencesEditorTest, ControlsAreEnabledOnlyWhileTheyMatter) {
    PreferencesEditor editor(prefs_.mPrefDict);
    struct Case {
        std::int64_t save, prune, mail, delta;
        bool when, pruneBox, prunePop, sendWhen, deltaField;
    };
    const Case cases[] = {
        {0, 1, 0, 0, false, false, false, false, false},
        {1, 0, 1, 0, true, true, false, true, false},
        {1, 1, 0, 1, true, true, true, false, true},
    };
    for (const Case& c : cases) {
        editor.setValue("prefSaveLogFile", c.save);
        editor.setValue("prefDeleteLogsOn", c.prune);
        editor.setValue("prefSendEmail", c.mail);
        editor.setValue("prefModificationDelta", c.delta);
        EXPECT_EQ(editor.IsEnabled("prefSaveLogFileWhen"), c.when);
        EXPECT_EQ(editor.IsEnabled("prefLogFileFormat"), c.when);
        EXPECT_EQ(editor.IsEnabled("prefDeleteLogsOn"), c.pruneBox);
        EXPECT_EQ(editor.IsEnabled("prefDeleteLogsPop"), c.prunePop);
        EXPECT_EQ(editor.IsEnabled("prefDeleteLogsField"), c.prunePop);
        EXPECT_EQ(editor.IsEnabled("prefSendEmailWhen"), c.sendWhen);
        EXPECT_EQ(editor.IsEnabled("prefModificationDeltaField"), c.deltaField);
        EXPECT_TRUE(editor.IsEnabled("prefLogKind"));
    }
}

TEST_F(PreferencesEditorTest, ApplyChecksInOrderThenStoresAndWrites) {
    const plist::Value before = StoredInFile();
    PreferencesEditor editor(prefs_.mPrefDict);
    editor.setValue("prefSendEmail", 1);
    editor.setValue("prefDeleteLogsField", 0);  // pruning is off: checked all the same
    std::string message;
    EXPECT_FALSE(editor.Apply(prefs_, &message));
    // The four checks, in their order.
    // clang-format off
    const struct { const char* key; const char* value; const char* message; } steps[] = {
        {"mSendEmailFrom", "qv@example.org", "Missing parameter \"Email From\" on the Send Log via email panel."},
        {"mSendEmailTo", "ann@example.org, bob@example.org", "Missing parameter \"Email To\" on the Send log via email panel."},
        {"mSendEmailAccountID", "qv", "Missing parameter \"Account ID\" on the Send log via email panel."},
        {"mSendEmailSMTP", "smtp.example.org", "Missing parameter \"SMTP\" on the Send log via email panel."},
    };
    // clang-format on
    for (const auto& step : steps) {
        EXPECT_FALSE(editor.Apply(prefs_, &message));
        EXPECT_EQ(message, step.message);
        editor.setText(step.key, step.value);
    }
    EXPECT_EQ(editor.value("prefDeleteLogsField"), 0);
    EXPECT_FALSE(editor.Apply(prefs_, &message));
    EXPECT_EQ(message, kDeleteLogsFieldMessage);
    EXPECT_EQ(editor.value("prefDeleteLogsField"), 1);
    EXPECT_EQ(StoredInFile(), before);

    editor.setTab("Log");
    ASSERT_TRUE(editor.Apply(prefs_, &message)) << message;
    const plist::Value stored = StoredInFile();
    EXPECT_EQ(stored, prefs_.mPrefDict);
    EXPECT_EQ(stored.intAt("prefDeleteLogsField"), 1);
    EXPECT_EQ(stored.stringAt("prefTabViewIdentifier"), "Log");
    EXPECT_EQ(GetWellDict(stored.find("prefSendEmailDict")->data())->stringAt("mSendEmailTo"),
              "ann@example.org, bob@example.org");

    editor.Reset(prefs_);
    ASSERT_TRUE(editor.Apply(prefs_, &message)) << message;
    EXPECT_EQ(StoredInFile().intAt("prefSendEmail"), 0);
    EXPECT_EQ(StoredInFile().intAt("prefDeleteLogsField"), 7);
}

TEST_F(PreferencesEditorTest, EmailSettingsThatDoNotDecodeAreKeptUnlessEdited) {
    const plist::Data damaged{'x', 'y', 'z'};
    prefs_.mPrefDict.set("prefSendEmailDict", damaged);
    PreferencesEditor editor(prefs_.mPrefDict);
    EXPECT_EQ(editor.text("mSendEmailTo"), "");
    std::string message;
    ASSERT_TRUE(editor.Apply(prefs_, &message)) << message;
    EXPECT_EQ(prefs_.mPrefDict.find("prefSendEmailDict")->data(), damaged);
}

}  // namespace
}  // namespace qv::sessions
