#include "sessions/trigger_editor.h"

#include <gtest/gtest.h>

#include "sessions/session_document.h"

namespace qv::sessions {
namespace {

TEST(TriggerEditorTest, DefaultsAndASessionWithoutTriggersIsLeftWithout) {
    plist::Value session = SessionDocument::NewTemplate().arrayAt("sessionsArray")->array()[0];
    ASSERT_EQ(session.dictAt(kTriggerDictKey), nullptr);
    const TriggerOptions none = SessionTriggerOptions(&session);
    EXPECT_FALSE(none.any());
    EXPECT_EQ(none.quietSeconds, 60);
    EXPECT_EQ(none.minMinutes, 15);

    // Looking and leaving adds nothing; a trigger switched on is stored with every key.
    TriggerEditor editor{plist::Value()};
    EXPECT_EQ(editor.Description(), "No triggers.");
    EXPECT_EQ(editor.GetLog(), "");
    ASSERT_TRUE(editor.GetPanels(session, nullptr));
    EXPECT_EQ(session.dictAt(kTriggerDictKey), nullptr);
    editor.setOnChange(true);
    ASSERT_TRUE(editor.GetPanels(session, nullptr));
    const plist::Value* stored = session.dictAt(kTriggerDictKey);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->intAt(kTriggerOnChangeKey), 1);
    EXPECT_EQ(stored->intAt(kTriggerQuietKey), 60);
    EXPECT_EQ(editor.Description(),
              "Runs when its source has changed and then stayed quiet for 60 seconds. At most "
              "one run every 15 minutes.");
    EXPECT_EQ(editor.GetLog(),
              "\r• Triggers: \r\tRun when a volume of the session appears: No\r\tRun when the "
              "source has changed: Yes\r\tQuiet time (seconds): 60\r\tAt most one run every "
              "(minutes): 15\r");
    // Switched off again, a session that has the dictionary keeps it.
    editor.setOnChange(false);
    ASSERT_TRUE(editor.GetPanels(session, nullptr));
    EXPECT_EQ(session.dictAt(kTriggerDictKey)->intAt(kTriggerOnChangeKey), 0);

    // What a hand-edited document holds beyond the ranges is brought into them.
    const TriggerOptions clamped = ReadTriggerOptions(plist::Dict{
        {kTriggerOnMountKey, true}, {kTriggerQuietKey, 0}, {kTriggerMinMinutesKey, 99999}});
    EXPECT_TRUE(clamped.onMount);
    EXPECT_EQ(clamped.quietSeconds, 1);
    EXPECT_EQ(clamped.minMinutes, 10080);
}

TEST(TriggerEditorTest, BadValuesAreRefusedWithTheirMessagesAndChangeNothing) {
    const struct {
        const char* key;
        const char* value;
        const char* message;  // "" when taken
    } cases[] = {
        {kTriggerQuietKey, "1", ""},
        {kTriggerQuietKey, "86400", ""},
        {kTriggerQuietKey, "0", "The quiet time must be from 1 to 86400 seconds (a day)."},
        {kTriggerQuietKey, "86401", "The quiet time must be from 1 to 86400 seconds (a day)."},
        {kTriggerQuietKey, "1m", "The quiet time must be from 1 to 86400 seconds (a day)."},
        {kTriggerMinMinutesKey, "10080", ""},
        {kTriggerMinMinutesKey, "-5",
         "The minimum interval must be from 1 to 10080 minutes (a week)."},
        {kTriggerMinMinutesKey, "",
         "The minimum interval must be from 1 to 10080 minutes (a week)."},
        {kTriggerOnMountKey, "yes", ""},
        {kTriggerOnMountKey, "2", "\"triggerOnMountOn\" takes 1 or 0 (on/off, yes/no)."},
        {"triggerOnBootOn", "1", "Unknown trigger key \"triggerOnBootOn\"."},
    };
    for (const auto& c : cases) {
        TriggerEditor editor{plist::Value()};
        const plist::Value before = editor.CurrentTriggerDict();
        EXPECT_EQ(editor.Set(c.key, c.value), c.message) << c.key << "=" << c.value;
        const bool taken = std::string(c.message).empty();
        EXPECT_EQ(editor.CurrentTriggerDict() == before, !taken) << c.key << "=" << c.value;
    }
}

}  // namespace
}  // namespace qv::sessions
