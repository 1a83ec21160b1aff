#pragma once
// Dates written with Unicode date patterns (UTS #35: "yyyy-MM-dd", "EEEE", "'Copy of' MMM"),
// in the user's language, through ICU.

#include <string>
#include <string_view>

namespace qv::platform {

// The date `seconds` (since 1970 UTC, shown in the local time zone) written with the pattern,
// in the given locale ("" for the user's: LC_ALL, LC_TIME, LANG). Empty when the pattern is
// empty or cannot be applied.
std::string FormatDatePattern(std::string_view pattern, double seconds,
                              const std::string& locale = {});

}  // namespace qv::platform
