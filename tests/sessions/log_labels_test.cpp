#include <gtest/gtest.h>

#include "platform/file_io.h"
#include "platform/localization.h"
#include "sessions/conflicts_editor.h"
#include "sessions/preference_labels.h"
#include "sessions/settings_options.h"
#include "support/test_support.h"

namespace qv::sessions {
namespace {

TEST(LogLabelsTest, ChoiceTitlesAndUnknownValues) {
    platform::InstallLocalizer(platform::Localizer{});
    struct Case {
        const char* key;
        std::int64_t value;
        const char* title;
    };
    const Case cases[] = {
        {"prefOnError", 1, "Stop the task"},
        {"prefOnError", 3, "Ask"},
        {"prefSaveLogFileWhen", 2, "Only when errors occur"},
        {"prefSendEmailWhen", 1, "After every run"},
        {"prefLogFileFormat", 2, "Plain text"},
        {"prefLogFileFormat", 0, "Unknown Value"},
        {"prefLogKind", 3, "Errors only"},
        {"prefShutDown", 1, "Unknown Value"},  // a checkbox has no choices
        {"versionPref", 1, "Unknown Value"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PreferenceChoiceTitle(c.key, c.value), c.title) << c.key << " " << c.value;
    }
    EXPECT_EQ(PreferenceLabelText("prefOnError"), "On error:");
    EXPECT_EQ(PreferenceLabelText("versionPref"), "versionPref");
    ASSERT_NE(FindPreferenceLabel(kSendEmailToKey), nullptr);
    EXPECT_EQ(FindPreferenceLabel(kSendEmailToKey)->control, PreferenceControl::Text);
}

// The tables' texts reach GLS through variables, which the phrase check cannot follow.
TEST(LogLabelsTest, EveryTableTextStandsInTheEnglishTable) {
    const auto file = platform::ReadWholeFile(
        std::string(QV_RESOURCES_DIR) + "/en.lproj/Localizable.strings", 1 << 20);
    ASSERT_EQ(file.status, platform::ReadStatus::Ok);
    platform::StringTable english;
    std::string error;
    ASSERT_TRUE(platform::ParseStringsFile(file.bytes, &english, &error)) << error;
    for (const char* tab : kPreferenceTabs) EXPECT_TRUE(english.contains(tab)) << tab;
    for (const PreferenceLabel& row : PreferenceLabels()) {
        EXPECT_TRUE(english.contains(row.label)) << row.label;
        EXPECT_EQ(row.choices.empty(), row.control != PreferenceControl::PopUp) << row.key;
        for (const PreferenceChoice& choice : row.choices) {
            EXPECT_TRUE(english.contains(choice.title)) << choice.title;
        }
    }
    for (const SettingsTaskCell& cell : SettingsTaskCells()) {
        EXPECT_TRUE(english.contains(cell.title)) << cell.title;
    }
    for (const SettingsCheckbox& box : SettingsCheckboxes()) {
        EXPECT_TRUE(english.contains(box.label)) << box.label;
    }
    for (const ConflictKind& kind : ConflictKinds()) {
        for (const char* text : {kind.label, kind.tag1Title, kind.tag2Title}) {
            EXPECT_TRUE(english.contains(text)) << text;
        }
    }
}

TEST(LogLabelsTest, SettingsLogShowsTheCheckboxesAsThePanelDoes) {
    platform::InstallLocalizer(platform::Localizer{});
    plist::Value settings = DefaultSettingsDict(kTaskBackup);
    settings.set("settExact", 1);
    settings.set("settLockedItems", 0);  // inverted: the checkbox is on
    settings.set("settResolveSymLink", 1);
    settings.set("settMoveToTrash", true);
    settings.set("settSkipCheckPermissions", 1);
    EXPECT_EQ(GetSettingsLog(settings),
              "\r• Settings: \r"
              "\tTask: Backup\r"
              "\tExact Backup: Yes\r"
              "\tSkip invisible items: No\r"
              "\tDon't unlock locked items: Yes\r"
              "\tResolve aliases: No\r"
              "\tResolve symbolic links: Yes\r"
              "\tSkip empty folders: No\r"
              "\tCopy new items only: No\r"
              "\tTreat packages as folders: No\r"
              "\tMove deleted items to the trash: Yes\r"
              "\tSkip the permission check: Yes\r");
    settings.set("settTask", kTaskSynchronize);
    settings.set("settExact", 0);
    EXPECT_TRUE(
        test::Contains(GetSettingsLog(settings), "\tTask: Synchronize\r\tExact Sync: No\r"));
}

}  // namespace
}  // namespace qv::sessions
