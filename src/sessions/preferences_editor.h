#pragma once
// The preferences being edited: a working copy of `mPrefDict` that the preferences window shows
// and `quorvel prefs` changes, with the types of every preference a user sets, the rules that
// enable one control after another, and the checks made before the copy is applied.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sessions/plist_value.h"
#include "sessions/preferences.h"

namespace qv::sessions {

inline constexpr const char* kDeleteLogsFieldMessage =
    "The Delete Logs text field must contain a value greater than zero.";

class PreferencesEditor {
  public:
    // PrefSet: the working copy of prefDict; the e-mail settings are read in the clear.
    explicit PreferencesEditor(const plist::Value& prefDict);

    // The keys a user sets (those of PreferenceLabels()), in the window's order.
    static std::vector<std::string> SettableKeys();
    static bool IsSettable(std::string_view key);

    // Checkboxes, pop-ups and numbers as the integer the control shows (checkbox 0 or 1).
    std::int64_t value(std::string_view key) const;
    void setValue(std::string_view key, std::int64_t value);
    // The log folder and the e-mail address.
    std::string text(std::string_view key) const;
    void setText(std::string_view key, const std::string& text);

    // A value as people type it: yes/no/on/off/1/0/true/false for a checkbox, a choice by its
    // value or its title, a whole number, a folder path, an address. "" when taken, otherwise
    // why not (and nothing changes).
    std::string SetFromText(std::string_view key, const std::string& text);
    std::string GetAsText(std::string_view key) const;

    // The enabling rules: a control that only matters while another is on.
    bool IsEnabled(std::string_view key) const;

    std::string tab() const { return dict_.stringAt("prefTabViewIdentifier"); }
    void setTab(const std::string& identifier) { dict_.set("prefTabViewIdentifier", identifier); }

    // PrefGet's checks in their order: "" when the copy may be applied, otherwise the message
    // to show. A prune field below 1 is set to 1 on the way, as the window's field is.
    std::string CheckForApply();
    // The checks, then every settable preference and the tab stored into preferences and the
    // file written. False with *message (a check's, or why the file was not written).
    bool Apply(Preferences& preferences, std::string* message);
    // Every settable preference back to its default.
    void Reset(const Preferences& preferences);

    const plist::Value& dict() const { return dict_; }
    // The SMTP password: never shown, only whether there is one; refused with a line break.
    bool hasEmailPassword() const;
    std::string setEmailPassword(const std::string& password);
    // The e-mail settings in the clear, as the test mail needs them.
    const plist::Value& emailSettings() const;

  private:
    plist::Value dict_;
    plist::Value email_;        // the e-mail settings in the clear
    bool emailEdited_ = false;  // stored data that does not decode is kept unless edited
};

}  // namespace qv::sessions
