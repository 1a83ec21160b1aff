#pragma once
// Copying a whole folder of our own (the support folder of an older version) to a new place:
// folders, regular files, symbolic links (as links), with their modes and modification times.
// Other kinds of items are left out. The copy is made under a temporary name beside `to` and
// renamed into place only when complete, so that a failure leaves no half copy at `to`.

#include <string>

namespace qv::platform {

// False, with *reason, when anything could not be copied; `to` then does not exist.
bool CopyFolderTree(const std::string& from, const std::string& to, std::string* reason);

}  // namespace qv::platform
