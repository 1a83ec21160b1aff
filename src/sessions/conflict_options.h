#pragma once
// The conflict policies of a session (`conflictsDict`): for each of six kinds of conflict,
// whether the planned action goes ahead, is dropped, or the user is asked.

#include "sessions/plist_value.h"

namespace qv::sessions {

plist::Value DefaultConflictsDict();

}  // namespace qv::sessions
