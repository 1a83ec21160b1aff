#pragma once
// The settings dictionary of a session (`settingsDict`): task, exact mode, treatment of special
// items, trash, and the dated destination sub-folder.

#include <cstdint>

#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr std::int64_t kTaskSynchronize = 1;
inline constexpr std::int64_t kTaskBackup = 2;
inline constexpr const char* kDefaultCustomNameFormat = "'Copy of' kSrc MM-dd-yyyy 'by Elwin'";

// The defaults of a new session for the given task.
plist::Value DefaultSettingsDict(std::int64_t task);

}  // namespace qv::sessions
