#pragma once
// The settings dictionary of a session (`settingsDict`): task, exact mode, treatment of special
// items, trash, and the dated destination sub-folder.

#include <cstdint>
#include <span>
#include <string>

#include "run/versions_settings.h"
#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr std::int64_t kTaskSynchronize = 1;
inline constexpr std::int64_t kTaskBackup = 2;
// The custom pattern of a new session's dated sub-folder.
inline constexpr const char* kDefaultCustomNameFormat = "'Copy of' kSrc yyyy-MM-dd";
// The one documents of earlier versions get when they have none (they were written with it).
inline constexpr const char* kMigratedCustomNameFormat = "'Copy of' kSrc MM-dd-yyyy 'by Elwin'";

// The defaults of a new session for the given task.
plist::Value DefaultSettingsDict(std::int64_t task);

// The titles of the task radio cells, by tag (English texts, shown through GLS).
struct SettingsTaskCell {
    std::int64_t tag;
    const char* title;
};
std::span<const SettingsTaskCell> SettingsTaskCells();

// The option checkboxes of the settings panel in the panel's (and the log's) order. An
// inverted checkbox is on when the stored value is 0: its label says what the 0 means.
struct SettingsCheckbox {
    const char* key;
    const char* label;
    bool inverted;
    const char* tip;  // what the box means on this system
};
std::span<const SettingsCheckbox> SettingsCheckboxes();

// The versions a session keeps: keys of settingsDict that documents have only once the user
// set them, so that a document that does not use versions is never changed by them.
inline constexpr const char* kVersionsOnKey = "settVersionsOn";
inline constexpr const char* kVersionsFolderKey = "settVersionsFolder";
inline constexpr const char* kVersionsKeepKey = "settVersionsKeep";
inline constexpr const char* kVersionsDaysKey = "settVersionsDays";
inline constexpr std::int64_t kMaxVersionsKeep = 100000;
inline constexpr std::int64_t kMaxVersionsDays = 36500;
// Missing or unusable values read as their defaults.
run::VersionsSettings VersionsSettingsOf(const plist::Value* settingsDict);
// "" when the folder can hold versions, otherwise why not.
std::string CheckVersionsFolder(const std::string& folder);

// The settings section of the run log.
std::string GetSettingsLog(const plist::Value& settingsDict);

}  // namespace qv::sessions
