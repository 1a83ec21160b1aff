#pragma once
// The conflict policies of a session (`conflictsDict`): for each of six kinds of conflict,
// whether the planned action goes ahead, is dropped, or the user is asked.

#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

plist::Value DefaultConflictsDict();

// Whether a session's policies differ from a new session's (numbers compare by value, a
// boolean ask flag as 0 or 1): the option button then shows its marker.
bool ConflictsDictIsCustomised(const plist::Value& session);

// The conflicts section of the run log.
std::string GetConflictsLog(const plist::Value& conflictsDict);

}  // namespace qv::sessions
