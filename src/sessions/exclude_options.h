#pragma once
// The exclude list of a session (`excludeDict`): files and folders, by full path, that runs
// leave alone.

#include <string>
#include <vector>

#include "sessions/plist_value.h"

namespace qv::sessions {

plist::Value DefaultExcludeRow();
plist::Value DefaultExcludeDict();

// The paths of the valid rows of a session's exclude list (switched on, with a path).
std::vector<std::string> CountExcludeValid(const plist::Value& session);

}  // namespace qv::sessions
