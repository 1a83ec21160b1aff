#include "platform/volumes.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/case_fold.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/folder_handle.h"

namespace qv::platform {

namespace {

// The path below folder ("" for folder itself), or false when it is not inside it by name.
bool Below(const std::string& path, const std::string& folder, std::string* rest) {
    if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
    if (path.size() == folder.size()) {
        rest->clear();
        return true;
    }
    if (path[folder.size()] != '/' && folder != "/") return false;
    *rest = path.substr(folder.size());
    return true;
}

// Whether the folder at path is on another device than its parent: something is mounted there.
bool IsMounted(const std::string& path) {
    const ItemAttributes here = ReadItemAttributes(path.c_str());
    const ItemAttributes parent = ReadItemAttributes(ParentFolder(path).c_str());
    return here.exists() && parent.exists() && here.dev != parent.dev;
}

// Link names under /dev/disk/by-label escape unsafe bytes as "\xHH" (a space is "\x20").
std::string DecodeLabel(const std::string& linkName) {
    std::string label;
    for (std::size_t i = 0; i < linkName.size(); ++i) {
        if (linkName[i] == '\\' && i + 3 < linkName.size() && linkName[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(linkName[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(linkName[i + 3]))) {
            label += static_cast<char>(std::stoi(linkName.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            label += linkName[i];
        }
    }
    return label;
}

}  // namespace

std::string RootVolumeName(const std::string& root, const std::string& byLabelFolder) {
    struct stat rootStat {};
    if (::stat(root.c_str(), &rootStat) == 0) {
        if (DIR* dir = ::opendir(byLabelFolder.c_str())) {
            std::string label;
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name == "." || name == "..") continue;
                struct stat device {};
                if (::stat(JoinPath(byLabelFolder, name).c_str(), &device) == 0 &&
                    S_ISBLK(device.st_mode) && device.st_rdev == rootStat.st_dev) {
                    label = DecodeLabel(name);
                    break;
                }
            }
            ::closedir(dir);
            if (!label.empty()) return label;
        }
    }
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return {};
    return host;
}

std::vector<std::string> RemovableMountFolders() { return {"/media", "/run/media", "/mnt"}; }

std::vector<std::string> FstabMountPoints(const std::string& fstabPath) {
    std::vector<std::string> points;
    const ReadFileResult file = ReadWholeFile(fstabPath, 1 << 20);
    if (file.status != ReadStatus::Ok) return points;
    std::istringstream lines(file.bytes);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, point;
        if (!(fields >> device >> point) || device.empty() || device[0] == '#') continue;
        if (point.empty() || point[0] != '/' || point == "/") continue;
        // fstab writes a blank in a path as \040.
        std::string decoded;
        for (std::size_t i = 0; i < point.size(); ++i) {
            if (point.compare(i, 4, "\\040") == 0) {
                decoded += ' ';
                i += 3;
            } else {
                decoded += point[i];
            }
        }
        points.push_back(std::move(decoded));
    }
    return points;
}

bool IsOnVolumeNotMounted(const std::string& path, const std::vector<std::string>& mountFolders,
                          const std::vector<std::string>& mountPoints) {
    std::string rest;
    for (const std::string& point : mountPoints) {
        if (Below(path, point, &rest) && !IsMounted(point)) return true;
    }
    for (const std::string& base : mountFolders) {
        if (!Below(path, base, &rest) || rest.empty()) continue;
        // Some folder between the base and the path (included) must be a mount.
        bool mounted = false;
        for (std::string folder = path; folder.size() > base.size();
             folder = ParentFolder(folder)) {
            if (IsMounted(folder)) {
                mounted = true;
                break;
            }
        }
        if (!mounted) return true;
    }
    return false;
}

bool FolderLiesInside(const std::string& inner, const std::string& outer) {
    const FolderHandle target = FolderHandle::OpenTop(outer);
    FolderHandle folder = FolderHandle::OpenTop(inner);
    if (!target.valid() || !folder.valid()) return false;
    for (;;) {
        if (folder.dev() == target.dev() && folder.ino() == target.ino()) return true;
        FolderHandle parent = folder.OpenParent();
        if (!parent.valid()) return false;
        if (parent.dev() == folder.dev() && parent.ino() == folder.ino()) return false;  // root
        folder = std::move(parent);
    }
}

std::string VolumeRoot(const std::string& path) {
    const ItemAttributes start = ReadItemAttributes(path.c_str());
    if (path.empty() || path.front() != '/' || !start.exists()) return {};
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    while (folder != "/") {
        const std::string parent = ParentFolder(folder);
        const ItemAttributes above = ReadItemAttributes(parent.c_str());
        if (!above.exists() || above.dev != start.dev) break;
        folder = parent;
    }
    return folder;
}

std::string UnescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::isdigit(static_cast<unsigned char>(field[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 3]))) {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<MountEntry> MountsOfDevice(dev_t device, const std::string& mountinfoPath) {
    std::vector<MountEntry> mounts;
    std::ifstream mountinfo(mountinfoPath);
    std::string line;
    while (std::getline(mountinfo, line)) {
        // "id parent major:minor root mountpoint options [optional...] - type source super"
        unsigned devMajor = 0, devMinor = 0;
        if (std::sscanf(line.c_str(), "%*s %*s %u:%u", &devMajor, &devMinor) != 2) continue;
        if (devMajor != major(device) || devMinor != minor(device)) continue;
        const std::size_t separator = line.find(" - ");
        if (separator == std::string::npos) continue;
        std::istringstream before(line.substr(0, separator));
        std::string skip, mountPoint;
        before >> skip >> skip >> skip >> skip >> mountPoint;
        std::istringstream after(line.substr(separator + 3));
        MountEntry entry;
        after >> entry.type >> entry.source >> entry.superOptions;
        entry.mountPoint = UnescapeMountField(mountPoint);
        entry.source = UnescapeMountField(entry.source);
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

std::optional<MountEntry> MountOfPath(const std::string& path, const std::string& mountinfoPath) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    const std::string root = VolumeRoot(path);
    std::optional<MountEntry> found;
    for (MountEntry& entry : MountsOfDevice(st.st_dev, mountinfoPath)) {
        const bool atRoot = entry.mountPoint == root;
        // Of several mounts of one device (bind mounts), the one at the volume root names it;
        // otherwise the last one, as it hides the others.
        if (atRoot || !found || found->mountPoint != root) found = std::move(entry);
    }
    return found;
}

std::string FileSystemTypeOf(const std::string& path) {
    const std::optional<MountEntry> mount = MountOfPath(path);
    return mount ? mount->type : std::string();
}

std::string LoopBackingFile(const std::string& device) {
    const std::string prefix = "/dev/loop";
    if (device.compare(0, prefix.size(), prefix) != 0 || device.size() == prefix.size() ||
        device.find('/', prefix.size()) != std::string::npos) {
        return {};
    }
    std::ifstream backing("/sys/block/" + device.substr(5) + "/loop/backing_file");
    std::string file;
    std::getline(backing, file);
    return file;
}

std::string StableDeviceName(const std::string& device, const std::string& byUuidFolder) {
    char target[PATH_MAX];
    if (::realpath(device.c_str(), target) == nullptr) return device;
    DIR* dir = ::opendir(byUuidFolder.c_str());
    if (dir == nullptr) return device;
    std::string stable = device;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string link = JoinPath(byUuidFolder, entry->d_name);
        char resolved[PATH_MAX];
        if (::realpath(link.c_str(), resolved) != nullptr && std::string(resolved) == target) {
            stable = link;
            break;
        }
    }
    ::closedir(dir);
    return stable;
}

bool HasBootLoader(const std::string& folder) {
    const auto exists = [&folder](const char* relative) {
        return ReadItemAttributes(JoinPath(folder, relative).c_str()).exists();
    };
    if (exists("boot/grub/grub.cfg") || exists("boot/grub2/grub.cfg") ||
        ReadItemAttributes(JoinPath(folder, "boot/loader/entries").c_str()).isDirectory()) {
        return true;
    }
    const auto names = [](const std::string& path) {
        std::vector<std::string> found;
        if (DIR* dir = ::opendir(path.c_str())) {
            while (const dirent* entry = ::readdir(dir)) found.emplace_back(entry->d_name);
            ::closedir(dir);
        }
        return found;
    };
    for (const std::string& name : names(JoinPath(folder, "boot"))) {
        if (name.rfind("vmlinuz", 0) == 0) return true;
    }
    // The EFI system partition is FAT: its names come in any case.
    for (const std::string& top : names(folder)) {
        if (!EqualFolded(top, "EFI")) continue;
        for (const std::string& vendor : names(JoinPath(folder, top))) {
            if (vendor == "." || vendor == "..") continue;
            for (const std::string& file : names(JoinPath(JoinPath(folder, top), vendor))) {
                if (file.size() > 4 && EqualFolded(file.substr(file.size() - 4), ".efi")) {
                    return true;
                }
            }
        }
    }
    return false;
}

bool IsRootOfBootableVolume(const std::string& path) {
    return !path.empty() && VolumeRoot(path) == path && HasBootLoader(path);
}

bool CanVolumeManageOwnership(const std::string& path) {
    static const char* const kWithoutOwners[] = {"vfat",    "exfat", "ntfs", "ntfs3", "fuseblk",
                                                 "iso9660", "udf",   "cifs", "smb3"};
    const std::string type = FileSystemTypeOf(path);
    if (type.empty()) return false;
    return std::none_of(std::begin(kWithoutOwners), std::end(kWithoutOwners),
                        [&type](const char* t) { return type == t; });
}

std::optional<std::uint64_t> FreeBytesOf(int fd) {
    struct statfs fs {};
    if (sys().fstatfs(fd, &fs) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

}  // namespace qv::platform
