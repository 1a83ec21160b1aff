#pragma once
// Moving items to the trash as the freedesktop.org desktops keep it: the home trash for
// items on the home's file system, "$topdir/.Trash/$uid" or "$topdir/.Trash-$uid" on others.

#include <string>

#include "platform/folder_handle.h"

namespace qv::fileops {

// Moves the item (file, link or whole folder) to the trash, with an info file naming its
// original path and the deletion date. On failure nothing has moved and *error says why.
bool MoveToTrash(const std::string& path, std::string* error);
// The same for the item name in the open folder `folder`: the item is moved from that very
// folder, whatever its path has become.
bool MoveToTrash(const platform::FolderHandle& folder, const std::string& name, std::string* error);

}  // namespace qv::fileops
