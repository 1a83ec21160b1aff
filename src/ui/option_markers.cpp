#include "ui/option_markers.h"

#include "sessions/conflict_options.h"
#include "sessions/settings_editor.h"
#include "sessions/trigger_options.h"

namespace qv::ui {

namespace {

bool IsOn(const plist::Value& session, const char* dict, const char* key) {
    const plist::Value* d = session.dictAt(dict);
    return d != nullptr && d->intAt(key) == 1;
}

}  // namespace

const std::array<OptionButton, kOptionCount>& OptionButtons() {
    static const std::array<OptionButton, kOptionCount> buttons = {{
        {"settings", "icnOptSettings", "Go to the Settings panel", "Settings", "settingsDict"},
        {"timer", "icnOptTimers", "Go to the Timer panel", "Timer", "timerDict"},
        {"multi", "icnOptMultiple", "Go to the Multiple List panel", "Multiple List", "multiDict"},
        {"filter", "icnOptFilters", "Go to the Filters panel", "Filters", "filterDict"},
        {"exclude", "icnOptExclude", "Go to the Exclude List panel", "Exclude List", "excludeDict"},
        {"conflicts", "icnOptConflicts", "Go to the Conflicts panel", "Conflicts", "conflictsDict"},
        {"autoMountVolumes", "icnOptAutomount", "Go to the Auto-Mount Volumes panel",
         "Auto-Mount Volumes", "autoMountDict"},
        {"appleScript", "icnOptAppleScript", "Go to the Scripts panel", "Scripts",
         "appleScriptDict"},
    }};
    return buttons;
}

std::array<bool, kOptionCount> OptionMarkers(const plist::Value& session) {
    return {
        sessions::SettingsDictIsCustomised(session),
        IsOn(session, "timerDict", "timerOn") || sessions::SessionTriggerOptions(&session).any(),
        IsOn(session, "multiDict", "multiOn"),
        IsOn(session, "filterDict", "filterOn"),
        IsOn(session, "excludeDict", "excludeOn"),
        sessions::ConflictsDictIsCustomised(session),
        IsOn(session, "autoMountDict", "autoMountVolumeOn"),
        IsOn(session, "appleScriptDict", "asStartOn") ||
            IsOn(session, "appleScriptDict", "asEndOn")};
}

}  // namespace qv::ui
