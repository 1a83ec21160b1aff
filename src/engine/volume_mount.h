#pragma once
// Mounting and unmounting the volumes of a session's list with the system's own tools: `mount`
// and `umount` for root; `gio mount` (network shares), `sshfs` (ssh shares) and `udisksctl`
// (local disks and disk images) for a user. Every tool is started with an argument list; a
// password reaches it only on its standard input or in a credentials file of mode 0600 in a
// private folder, removed as soon as the tool has ended.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>

#include "platform/child_process.h"
#include "sessions/plist_value.h"

namespace qv::engine {

struct MountSetting {
    bool root = false;
    uid_t uid = 0;  // whose files a cifs share shows (root mounting for a user)
    gid_t gid = 0;
    std::string runtimeFolder;  // where a private folder for a credentials file may be made
    std::chrono::seconds timeout{60};
    const std::atomic<bool>* stop = nullptr;
    std::string mountinfo = "/proc/self/mountinfo";
};

// How this process mounts: as root or for its user, a credentials folder under the user's
// runtime folder (/run for root), the time limit of the preference `prefMountTimeout`.
MountSetting MountSettingFor(const plist::Value& preferences);

enum class MountStatus { kMounted, kAlreadyMounted, kFailed };

struct MountResult {
    MountStatus status = MountStatus::kFailed;
    std::string message;     // for a failure: the text a user reads ("Can't mount the volume. ...")
    std::string detail;      // what the tool said, for the log
    std::string mountPoint;  // where the volume is mounted now
    std::string loopDevice;  // an image's loop device this mount attached
};

// A volume this run mounted, to be unmounted after it.
struct MountedVolume {
    std::string address;  // for messages
    std::string scheme;
    std::int64_t type = 0;
    std::string mountPoint;
    std::string loopDevice;
};

// Whether a volume is mounted at exactly that folder (the folder is on another device than its
// parent).
bool IsMountPoint(const std::string& folder);

// Mounts the row's volume (password: decoded, "" for none). A row whose fields a tool can't be
// given, or a mount point a root instance may not mount onto, fails without starting anything.
MountResult MountVolume(const plist::Value& row, const std::string& password,
                        platform::ChildRunner& runner, const MountSetting& setting);

// Unmounts (and for an image, detaches) a volume; a busy one is tried once more 3 seconds
// later. "" when done, else why not.
std::string UnmountVolume(const MountedVolume& volume, platform::ChildRunner& runner,
                          const MountSetting& setting,
                          std::chrono::milliseconds busyWait = std::chrono::seconds(3));

}  // namespace qv::engine
