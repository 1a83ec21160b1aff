#pragma once
// The scripts a session runs before and after itself (`appleScriptDict`).

#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr const char* kDefaultScriptText = "-- Write or paste here your AppleScript";

plist::Value DefaultAppleScriptDict();

}  // namespace qv::sessions
