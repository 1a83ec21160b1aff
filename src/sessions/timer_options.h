#pragma once
// The timer list of a session (`timerDict`): a master switch and a fixed table of rows, each
// saying when the session runs by itself.

#include "sessions/plist_value.h"

namespace qv::sessions {

// 1 January 2004, 00:00 in the local time zone: the start of a timer row nobody has edited.
plist::Date DefaultTimerStartDate();

// A row with every key; `start` and `end` both take the given date.
plist::Value DefaultTimerRow(const plist::Date& start);
// The master switch off and kTableRows default rows, all starting at `start`.
plist::Value DefaultTimerDict(const plist::Date& start);

}  // namespace qv::sessions
