#include "ui/option_markers.h"

#include "sessions/conflict_options.h"
#include "sessions/settings_options.h"

namespace qv::ui {

namespace {

bool IsOn(const plist::Value& session, const char* dict, const char* key) {
    const plist::Value* d = session.dictAt(dict);
    return d != nullptr && d->intAt(key) == 1;
}

// The settings differ from the defaults of the session's own task; the naming of the
// destination sub-folder does not count.
bool SettingsChanged(const plist::Value& session) {
    const plist::Value* settings = session.dictAt("settingsDict");
    if (settings == nullptr) return false;
    plist::Value mine = *settings;
    plist::Value defaults = sessions::DefaultSettingsDict(mine.intAt("settTask", 2));
    for (const char* key :
         {"settCreateDestFolderNameKind", "settCreateDestFolderCustomNameFormat"}) {
        mine.remove(key);
        defaults.remove(key);
    }
    return !plist::EqualByValue(mine, defaults);
}

bool ConflictsChanged(const plist::Value& session) {
    const plist::Value* conflicts = session.dictAt("conflictsDict");
    return conflicts != nullptr &&
           !plist::EqualByValue(*conflicts, sessions::DefaultConflictsDict());
}

}  // namespace

const std::array<OptionButton, kOptionCount>& OptionButtons() {
    static const std::array<OptionButton, kOptionCount> buttons = {{
        {"settings", "icnOptSettings", "Go to the Settings panel"},
        {"timer", "icnOptTimers", "Go to the Timer panel"},
        {"multi", "icnOptMultiple", "Go to the Multiple List panel"},
        {"filter", "icnOptFilters", "Go to the Filters panel"},
        {"exclude", "icnOptExclude", "Go to the Exclude List panel"},
        {"conflicts", "icnOptConflicts", "Go to the Conflicts panel"},
        {"autoMountVolumes", "icnOptAutomount", "Go to the Auto-Mount Volumes panel"},
        {"appleScript", "icnOptAppleScript", "Go to the Scripts panel"},
    }};
    return buttons;
}

std::array<bool, kOptionCount> OptionMarkers(const plist::Value& session) {
    return {SettingsChanged(session),
            IsOn(session, "timerDict", "timerOn"),
            IsOn(session, "multiDict", "multiOn"),
            IsOn(session, "filterDict", "filterOn"),
            IsOn(session, "excludeDict", "excludeOn"),
            ConflictsChanged(session),
            IsOn(session, "autoMountDict", "autoMountVolumeOn"),
            IsOn(session, "appleScriptDict", "asStartOn") ||
                IsOn(session, "appleScriptDict", "asEndOn")};
}

}  // namespace qv::ui
