#pragma once
// The rows of a session's volume list made from the volume a picked folder lies on, so that
// the run can mount that volume again before it starts: a network share by its address, a
// local disk by its device, a disk image by its file.

#include <optional>
#include <string>

#include "platform/volumes.h"
#include "sessions/plist_value.h"

namespace qv::fileops {

// What a mount needs to be found again, besides the mount table.
struct MountContext {
    std::string loginName;    // the user when the address names none
    std::string backingFile;  // a loop device's image file
    std::string diskID;       // a stable name of a local device
};

// The row for a mount; none for the root volume, a file system that lives only in memory,
// or a network type whose address can't be read from its source.
std::optional<plist::Value> VolumeRowForMount(const platform::MountEntry& mount,
                                              const MountContext& context);

// The row of a share the desktop mounted through gvfs, from its folder in the gvfs mount
// (".../gvfs/smb-share:server=nas,share=music,user=ann").
std::optional<plist::Value> GvfsShareRow(const std::string& shareFolder,
                                         const std::string& loginName);

// GetVolumeMountInfoDictionary: the row for the volume holding the existing path (for a share
// the desktop mounted through gvfs, the share's folder of the gvfs mount).
std::optional<plist::Value> GetVolumeMountInfoDictionary(const std::string& path);

}  // namespace qv::fileops
