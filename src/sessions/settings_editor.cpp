#include "sessions/settings_editor.h"

#include <algorithm>

#include "platform/localization.h"
#include "sessions/dest_subfolder.h"
#include "sessions/option_text.h"
#include "sessions/settings_options.h"

namespace qv::sessions {

using platform::GLS;

namespace {

constexpr const char* kNameKindKey = "settCreateDestFolderNameKind";
constexpr const char* kPatternKey = "settCreateDestFolderCustomNameFormat";
constexpr const char* kFormatNotValid = "Format not valid. Please look at samples here below.";

// The checkboxes the panel has beside those of the option list.
constexpr const char* kOtherCheckboxes[] = {"settExact", "settCheckAttrChanged",
                                            "settCreateDestFolder"};

// 1 for an inverted checkbox, 0 for any other, -1 for a key that is no checkbox.
int CheckboxInversion(std::string_view key) {
    for (const SettingsCheckbox& box : SettingsCheckboxes()) {
        if (key == box.key) return box.inverted ? 1 : 0;
    }
    for (const char* other : kOtherCheckboxes) {
        if (key == other) return 0;
    }
    return -1;
}

// The sub-folder's kind and pattern are where a session names its copies; choosing one is
// not a departure from the defaults worth a marker, only turning the sub-folder on is.
plist::Value WithoutNameChoice(plist::Value dict) {
    dict.remove(kNameKindKey);
    dict.remove(kPatternKey);
    // The versions keys are there once set; set back to their defaults they are no departure.
    const run::VersionsSettings versions = VersionsSettingsOf(&dict), defaults;
    if (!versions.on) dict.remove(kVersionsOnKey);
    if (versions.folder == defaults.folder) dict.remove(kVersionsFolderKey);
    if (versions.keep == defaults.keep) dict.remove(kVersionsKeepKey);
    if (versions.days == defaults.days) dict.remove(kVersionsDaysKey);
    return dict;
}

bool DiffersFromTaskDefaults(const plist::Value& settingsDict) {
    const std::int64_t task = settingsDict.intAt("settTask", kTaskSynchronize);
    return !plist::EqualByValue(WithoutNameChoice(settingsDict),
                                WithoutNameChoice(DefaultSettingsDict(task)));
}

}  // namespace

SettingsEditor::SettingsEditor(const plist::Value& settingsDict)
    : dict_(settingsDict.isDict() ? settingsDict : plist::Value()) {
    // The controls hold what the panel would write back: integers, each checkbox 0 or 1, and
    // a new session's value for whatever is missing. Keys the panel does not know are kept.
    const plist::Value defaults =
        DefaultSettingsDict(settingsDict.intAt("settTask", kTaskSynchronize));
    for (const auto& [key, value] : defaults.dict()) {
        const plist::Value* stored = settingsDict.find(key);
        if (key == kPatternKey) {
            dict_.set(key, stored != nullptr && stored->isString() ? *stored : value);
        } else if (CheckboxInversion(key) >= 0) {
            dict_.set(key, (stored ? *stored : value).intValue() != 0 ? 1 : 0);
        } else {
            dict_.set(key, (stored ? *stored : value).intValue());
        }
    }
    // Runs take any task but Synchronize for a Backup: the panel shows what they do.
    if (dict_.intAt("settTask") != kTaskSynchronize) dict_.set("settTask", kTaskBackup);
}

std::int64_t SettingsEditor::task() const { return dict_.intAt("settTask", kTaskSynchronize); }

void SettingsEditor::setTask(std::int64_t task) { dict_.set("settTask", task); }

bool SettingsEditor::checkbox(std::string_view key) const {
    const int inverted = CheckboxInversion(key);
    if (inverted < 0) return false;
    const bool stored = dict_.intAt(key) != 0;
    return inverted == 1 ? !stored : stored;
}

bool SettingsEditor::setCheckbox(std::string_view key, bool on) {
    const int inverted = CheckboxInversion(key);
    if (inverted < 0) return false;
    dict_.set(key, (inverted == 1 ? !on : on) ? 1 : 0);
    return true;
}

std::int64_t SettingsEditor::nameKind() const { return dict_.intAt(kNameKindKey); }

void SettingsEditor::setNameKind(std::int64_t kind) { dict_.set(kNameKindKey, kind); }

std::string SettingsEditor::pattern() const { return dict_.stringAt(kPatternKey); }

void SettingsEditor::setPattern(const std::string& pattern) { dict_.set(kPatternKey, pattern); }

run::VersionsSettings SettingsEditor::versions() const { return VersionsSettingsOf(&dict_); }

std::string SettingsEditor::SetVersions(const run::VersionsSettings& versions) {
    if (std::string why = CheckVersionsFolder(versions.folder); !why.empty()) return why;
    if (versions.keep < 0 || versions.keep > kMaxVersionsKeep) {
        return platform::FormatText(GLS("The number of versions kept must be 0 (no limit) to %@."),
                                    {std::to_string(kMaxVersionsKeep)});
    }
    if (versions.days < 0 || versions.days > kMaxVersionsDays) {
        return platform::FormatText(GLS("The days versions are kept must be 0 (no limit) to %@."),
                                    {std::to_string(kMaxVersionsDays)});
    }
    dict_.set(kVersionsOnKey, versions.on ? 1 : 0);
    dict_.set(kVersionsFolderKey, versions.folder);
    dict_.set(kVersionsKeepKey, versions.keep);
    dict_.set(kVersionsDaysKey, versions.days);
    return {};
}

std::optional<std::string> SettingsEditor::SetVersionsValue(std::string_view key,
                                                            const std::string& value) {
    run::VersionsSettings v = versions();
    const auto number = [&](std::int64_t& into) {
        const std::optional<std::int64_t> n = ParseInteger(value);
        if (!n) return false;
        into = *n;
        return true;
    };
    if (key == "versions" || key == kVersionsOnKey) {
        const std::optional<bool> on = ParseBool(value);
        if (!on) return "'" + std::string(key) + "' takes yes or no, not '" + value + "'";
        v.on = *on;
    } else if (key == "versions-folder" || key == kVersionsFolderKey) {
        v.folder = value;
    } else if (key == "versions-keep" || key == kVersionsKeepKey) {
        if (!number(v.keep)) v.keep = -1;
    } else if (key == "versions-days" || key == kVersionsDaysKey) {
        if (!number(v.days)) v.days = -1;
    } else {
        return std::nullopt;
    }
    return SetVersions(v);
}

std::string SettingsEditor::ExactTitle() const {
    return GLS(task() == kTaskBackup ? "Exact Backup" : "Exact Sync");
}

std::string SettingsEditor::ExactToolTip() const {
    return GLS(task() == kTaskBackup
                   ? "Deletes, from the destination folder, all the items not longer existing in "
                     "the source folder"
                   : "Deletes, from a source folder, all the items not longer existing in the "
                     "destination folder. And viceversa.");
}

std::string SettingsEditor::CheckCustomPattern(const std::string& pattern, double now) const {
    // The session's source is not known here; any source gives a non-empty name, so a
    // stand-in tells whether the pattern itself gives a usable one.
    const std::string name = CustomSubFolderName(pattern, "-", now);
    return SubFolderNameProblem(name).empty() ? std::string() : GLS(kFormatNotValid);
}

bool SettingsEditor::IconOn() const { return DiffersFromTaskDefaults(dict_); }

bool SettingsEditor::GetPanels(plist::Value& session, std::string* message) const {
    // Only a session that is not a dictionary at all (a damaged document) cannot take it.
    if (!session.isDict()) {
        if (message != nullptr) *message = "the session is not a dictionary";
        return false;
    }
    session.set("settingsDict", dict_);
    return true;
}

std::string SettingsEditor::GetLog() const { return GetSettingsLog(dict_); }

bool SettingsDictIsCustomised(const plist::Value& session) {
    const plist::Value* stored = session.dictAt("settingsDict");
    return stored == nullptr || DiffersFromTaskDefaults(*stored);
}

}  // namespace qv::sessions
