#pragma once
// The multiple list of a session (`multiDict`): further source and destination pairs, each run
// as a task of its own.

#include "sessions/plist_value.h"

namespace qv::sessions {

plist::Value DefaultMultiRow();
plist::Value DefaultMultiDict();

}  // namespace qv::sessions
