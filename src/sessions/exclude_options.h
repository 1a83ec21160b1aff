#pragma once
// The exclude list of a session (`excludeDict`): files and folders, by full path, that runs
// leave alone.

#include "sessions/plist_value.h"

namespace qv::sessions {

plist::Value DefaultExcludeRow();
plist::Value DefaultExcludeDict();

}  // namespace qv::sessions
