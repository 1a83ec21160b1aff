#pragma once
// The volumes a session mounts before it runs (`autoMountDict`).

#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

plist::Value DefaultAutoMountRow();
plist::Value DefaultAutoMountDict();

// The text that tells two volume rows apart: scheme, user, host and mount point.
std::string VolumeRowKey(const plist::Value& row);

// Puts a new volume row in the first empty row of the session's list (one whose host is
// empty), unless a row of the same volume is there already. True when the volume is listed
// afterwards; false for a row without scheme, user, host or mount point, or a full list.
bool AddVolumeRow(plist::Value& autoMountDict, const plist::Value& row);

// True when some volume row of some session of the document holds a non-empty password; with
// removePasswords, those passwords are replaced by empty data.
bool VolumeListContainsPassword(plist::Value& document, bool removePasswords);

}  // namespace qv::sessions
