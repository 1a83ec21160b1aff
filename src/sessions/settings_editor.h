#pragma once
// The settings of one session being edited: a working copy of its `settingsDict` that the
// settings panel shows and the command changes, with the texts, checks and marker both use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "run/versions_settings.h"
#include "sessions/plist_value.h"

namespace qv::sessions {

class SettingsEditor {
  public:
    // SetPanels: the working copy of a session's settingsDict (missing keys take defaults).
    explicit SettingsEditor(const plist::Value& settingsDict);

    std::int64_t task() const;  // kTaskSynchronize or kTaskBackup
    void setTask(std::int64_t task);
    // A checkbox as the panel shows it: the two inverted ones are on when the stored value
    // is 0. Keys: every key of SettingsCheckboxes() plus settExact, settCheckAttrChanged,
    // settCreateDestFolder. False for an unknown key.
    bool checkbox(std::string_view key) const;
    bool setCheckbox(std::string_view key, bool on);
    std::int64_t nameKind() const;
    void setNameKind(std::int64_t kind);
    std::string pattern() const;
    void setPattern(const std::string& pattern);

    // The versions the session keeps, as the controls show them.
    run::VersionsSettings versions() const;
    // Takes all four values; "" when done, else why they were refused (nothing changed).
    std::string SetVersions(const run::VersionsSettings& versions);
    // One value typed as text, by its key or the command's name for it (versions,
    // versions-folder, versions-keep, versions-days); nothing when the key is none of those,
    // "" when done, else why the value was refused.
    std::optional<std::string> SetVersionsValue(std::string_view key, const std::string& value);

    // The exact checkbox follows the task ("Exact Backup" / "Exact Sync").
    std::string ExactTitle() const;
    std::string ExactToolTip() const;

    // The custom pattern's check: "" when the pattern gives a name now, otherwise "Format not
    // valid. Please look at samples here below."
    std::string CheckCustomPattern(const std::string& pattern, double now) const;

    // CurrentSettingsDict: the dictionary the controls say.
    const plist::Value& CurrentSettingsDict() const { return dict_; }
    // The marker: the settings differ from the defaults of their own task, the sub-folder's
    // kind and pattern left out.
    bool IconOn() const;
    // GetPanels: writes the working copy into the session under settingsDict. Never refuses.
    bool GetPanels(plist::Value& session, std::string* message) const;
    std::string GetLog() const;

  private:
    plist::Value dict_;
};

// The marker rule for a stored session.
bool SettingsDictIsCustomised(const plist::Value& session);

}  // namespace qv::sessions
