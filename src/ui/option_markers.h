#pragma once
// The option buttons of the console, in their row order, and whether a session uses each
// option (the small marker on its button).

#include <array>
#include <string>

#include "sessions/plist_value.h"

namespace qv::ui {

struct OptionButton {
    const char* tab;      // the identifier of the option's panel
    const char* icon;     // the button's picture
    const char* tooltip;  // what the button leads to
    const char* title;    // the panel's entry in the Options menu
    const char* dictKey;  // the session sub-dictionary the panel edits
};

inline constexpr std::size_t kOptionCount = 8;
inline constexpr std::size_t kSettingsOption = 0;
inline constexpr std::size_t kTimerOption = 1;
inline constexpr std::size_t kFilterOption = 3;
inline constexpr std::size_t kMultiOption = 2;
inline constexpr std::size_t kExcludeOption = 4;
inline constexpr std::size_t kConflictsOption = 5;
inline constexpr std::size_t kVolumesOption = 6;
inline constexpr std::size_t kScriptsOption = 7;

const std::array<OptionButton, kOptionCount>& OptionButtons();

// For each option of OptionButtons(): on when the session's settings or conflict policies
// differ from their defaults (the core's rules, which the panels' editors share), or the
// option's on/off key is set (for the timer panel, also a trigger of the session's).
std::array<bool, kOptionCount> OptionMarkers(const plist::Value& session);

}  // namespace qv::ui
