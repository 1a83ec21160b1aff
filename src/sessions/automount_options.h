#pragma once
// The volumes a session mounts before it runs (`autoMountDict`).

#include "sessions/plist_value.h"

namespace qv::sessions {

plist::Value DefaultAutoMountRow();
plist::Value DefaultAutoMountDict();

// True when some volume row of some session of the document holds a non-empty password; with
// removePasswords, those passwords are replaced by empty data.
bool VolumeListContainsPassword(plist::Value& document, bool removePasswords);

}  // namespace qv::sessions
