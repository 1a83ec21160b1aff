#pragma once
// The filters of a session (`filterDict`): rows of criteria on name, dates, size, type,
// creator, kind, owner and group that choose the items a run copies or skips.

#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr int kFilterSkipMode = 2;

plist::Value DefaultFilterRow();
plist::Value DefaultFilterDict();

}  // namespace qv::sessions
