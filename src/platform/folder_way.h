#pragma once
// The way to a top folder: every folder searched and every link followed from "/" to it.
//
// A run as root that writes into a folder whose way another user can change (a folder of
// theirs on the way, a folder anyone may write to, a link of theirs) can be sent anywhere on
// the machine by that user: they swap the folder for a link to /etc and the run deletes
// there what its source lacks. Such a way is refused before anything is scanned.

#include <sys/types.h>

#include <string>

#include "platform/unique_fd.h"

namespace qv::platform {

struct FolderWay {
    int error = 0;             // errno when the way could not be followed to its end
    std::string resolved;      // the path with every link of the way resolved
    std::string untrusted;     // the first folder or link another user can change, "" if none
    std::string whyUntrusted;  // what makes it so, for people ("owned by the user bob")
    bool ok() const { return error == 0 && untrusted.empty(); }
};

// Follows path ("/"-rooted) component by component, never through a link other than those
// it reads and follows itself (at most 40). A folder that is searched on the way, or a link
// that is followed, must be owned by root or by `owner` and not writable by group or others
// unless the sticky bit is set; in a sticky folder that others may write to, the item looked
// up must itself be owned by root or `owner` (anyone else could rename it away).
FolderWay CheckFolderWay(const std::string& path, uid_t owner);

// Reaches the folder at the absolute path from "/" one component at a time (O_NOFOLLOW) and
// answers an O_PATH handle on it (a folder to open from, with openat(fd, ".")), so that
// no link put on the way since it was checked is followed blindly: a link is followed only
// when it is owned by root, by this process's user or by `alsoTrusted`. Invalid (errno in
// *error: ELOOP for a link not followed, ENOTDIR, ENOENT) otherwise.
UniqueFd OpenFolderByWay(const std::string& path, uid_t alsoTrusted, int* error);

}  // namespace qv::platform
