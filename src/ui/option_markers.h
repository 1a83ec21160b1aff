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
};

inline constexpr std::size_t kOptionCount = 8;
inline constexpr std::size_t kTimerOption = 1;

const std::array<OptionButton, kOptionCount>& OptionButtons();

// For each option of OptionButtons(): on when the session's settings or conflict policies
// differ from their defaults, or the option's on/off key is set.
std::array<bool, kOptionCount> OptionMarkers(const plist::Value& session);

}  // namespace qv::ui
