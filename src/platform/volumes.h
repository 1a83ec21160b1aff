#pragma once
// Where folders stand relative to volumes and to one another, judged by device and inode rather
// than by the spelling of their paths.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv::platform {

// The folders under which the desktops mount removable volumes.
std::vector<std::string> RemovableMountFolders();
// The mount points /etc/fstab names (swap and "none" left out).
std::vector<std::string> FstabMountPoints(const std::string& fstabPath = "/etc/fstab");

// A folder standing where a volume is expected with no volume mounted there: an empty folder
// an automounter or a script left at the path of an unplugged drive. That is the case when the
// path lies below one of mountFolders and no folder on its way up to that folder is on another
// device than its parent, or when it lies at or below a mount point of mountPoints that is on
// its parent's device.
bool IsOnVolumeNotMounted(const std::string& path, const std::vector<std::string>& mountFolders,
                          const std::vector<std::string>& mountPoints);

// Whether the existing folder inner is outer or lies inside it, following inner's parents by
// their handles (".." of each) up to the root: links and "." in either path change nothing.
bool FolderLiesInside(const std::string& inner, const std::string& outer);

// The name of the volume a path is on when that path is the root of the file system: the
// label of the file system mounted at root (a link in byLabelFolder, named after the label,
// pointing at root's device), else the host name, since the system volume is the machine's
// own. Empty when neither is known.
std::string RootVolumeName(const std::string& root = "/",
                           const std::string& byLabelFolder = "/dev/disk/by-label");

// The mount point of the volume holding the path (which must exist): the path itself or the
// highest folder above it on the same device. Empty when the path cannot be examined.
std::string VolumeRoot(const std::string& path);

// The file-system type of the volume holding the path, as /proc/self/mountinfo names it
// ("ext4", "vfat", "fuseblk"); empty when it cannot be told.
std::string FileSystemTypeOf(const std::string& path);

// One line of /proc/self/mountinfo: where a file system is mounted, its type ("ext4", "cifs",
// "fuse.sshfs") and what it was mounted from ("/dev/sdb1", "//server/share", "host:/export"),
// with the kernel's octal escapes undone.
struct MountEntry {
    std::string mountPoint;
    std::string type;
    std::string source;
    std::string superOptions;  // the file system's own options ("rw,username=ann,...")
};

// A field of /proc/self/mountinfo with the kernel's octal escapes ("\040" for a blank, and
// likewise tab, newline and backslash) undone.
std::string UnescapeMountField(const std::string& field);

// The mounts of a device, in the table's order (several for bind mounts); none when the table
// cannot be read.
std::vector<MountEntry> MountsOfDevice(dev_t device,
                                       const std::string& mountinfoPath = "/proc/self/mountinfo");

// The mount holding the existing path: of the mounts of the path's device, the one mounted at
// the path's volume root, else the last listed. None when the path or the table can't be read.
std::optional<MountEntry> MountOfPath(const std::string& path,
                                      const std::string& mountinfoPath = "/proc/self/mountinfo");

// The file a loop device ("/dev/loop3") reads, empty when it is not a loop device or is free.
std::string LoopBackingFile(const std::string& device);

// A name of a block device that survives a reboot and a replug: its link in byUuidFolder
// when there is one, else the device as given.
std::string StableDeviceName(const std::string& device,
                             const std::string& byUuidFolder = "/dev/disk/by-uuid");

// Whether the folder holds a boot loader at its top: GRUB's configuration, systemd-boot's
// entries, an EFI loader (EFI/<vendor>/<name>.efi) or a kernel image (boot/vmlinuz...).
bool HasBootLoader(const std::string& folder);

// A non-empty path that is the mount point of its own volume, a volume with a boot loader.
bool IsRootOfBootableVolume(const std::string& path);

// Whether the volume holding the path keeps owners and permissions: not a FAT, exFAT, NTFS,
// optical-disc or SMB one, and one that can be examined at all.
bool CanVolumeManageOwnership(const std::string& path);

// The bytes an ordinary user may still write on the volume holding the open item fd; nothing
// when the volume does not say.
std::optional<std::uint64_t> FreeBytesOf(int fd);

}  // namespace qv::platform
