#pragma once
// The controls of the preferences window as data: for each preference the window shows, its
// label and, for a pop-up, the titles of its choices. The window builds its controls from this
// table and the run log names the preferences in force with the same words. Labels and titles
// are the English texts; callers pass them through GLS.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qv::sessions {

enum class PreferenceControl { Checkbox, PopUp, Path, Text, Number };

struct PreferenceChoice {
    std::int64_t value;
    const char* title;
};

struct PreferenceLabel {
    const char* key;  // the preference's key; the e-mail address lives in prefSendEmailDict
    PreferenceControl control;
    const char* label;
    std::span<const PreferenceChoice> choices;  // empty unless control is PopUp
    const char* tab;                            // identifier of the window's tab that shows it
    std::int64_t minimum = 0;                   // the smallest value a Number takes
};

// The window's tabs, in order; their identifiers are also their English titles.
inline constexpr const char* kPreferenceTabs[] = {"General", "Log", "E-mail"};

// Key of the e-mail address inside the e-mail settings (mSendEmailTo).
inline constexpr const char* kSendEmailToKey = "mSendEmailTo";

// Every labelled preference, in the window's order (grouped by tab).
std::span<const PreferenceLabel> PreferenceLabels();

// The row of key; nullptr for a key the window does not label.
const PreferenceLabel* FindPreferenceLabel(std::string_view key);

// GLS of the label of key (the key itself for an unknown key, so that a gap shows).
std::string PreferenceLabelText(std::string_view key);

// GLS of the title of the choice of key that has value, or of "Unknown Value".
std::string PreferenceChoiceTitle(std::string_view key, std::int64_t value);

}  // namespace qv::sessions
