#include "engine/volume_mount.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/folder_way.h"
#include "platform/item_attributes.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "platform/unique_fd.h"
#include "platform/volumes.h"
#include "sessions/script_options.h"
#include "sessions/volume_editor.h"

namespace qv::engine {

using platform::GLS;

namespace {

constexpr const char* kRemoteMessages[][2] = {
    // What a tool says, and what the user is told.
    {"permission denied", "Can't mount the volume. User or password not authorized."},
    {"logon_failure", "Can't mount the volume. User or password not authorized."},
    {"authentication", "Can't mount the volume. User or password not authorized."},
    {"access denied", "Can't mount the volume. User or password not authorized."},
    {"could not resolve", "Can't mount the volume. Unable to lookup the host address."},
    {"name or service not known", "Can't mount the volume. Unable to lookup the host address."},
    {"unknown host", "Can't mount the volume. Unable to lookup the host address."},
    {"no route to host", "Can't mount the volume. No servers at that address."},
    {"connection refused", "Can't mount the volume. No servers at that address."},
    {"timed out", "Can't mount the volume. No answer from the host."},
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The message a user reads for a tool's failure.
std::string FailureMessage(const platform::ChildResult& result, std::int64_t type) {
    if (result.timedOut) return GLS("Can't mount the volume. No answer from the host.");
    if (type == 3) return GLS("Can't mount the dmg volume.");
    const std::string said = Lower(result.output);
    for (const auto& [text, message] : kRemoteMessages) {
        if (said.find(text) != std::string::npos) return GLS(message);
    }
    if (!result.startError.empty()) return GLS("Can't mount the volume.") + " " + result.startError;
    return platform::FormatText(
        "Can't mount the volume. Err %@.",
        {std::to_string(result.termSignal != 0 ? -result.termSignal : result.exitCode)});
}

platform::ChildResult Run(platform::ChildRunner& runner, std::vector<std::string> argv,
                          std::string input, const MountSetting& setting) {
    platform::ChildRequest request;
    request.argv = std::move(argv);
    request.options.input = std::move(input);
    request.options.captureErrors = true;
    // Tools that ask questions get none of ours to answer: a terminal's prompt would hang.
    request.options.environment = {{"LC_ALL", "C"}};
    request.deadline = setting.timeout;
    request.stop = setting.stop;
    return runner.Run(request);
}

// Whether a root instance may mount onto or unmount the folder: under /media, /run/media or
// /mnt, or a mount point /etc/fstab names, reached from "/" through folders only root can
// change and no link.
std::string RootMountPointRefusal(const std::string& folder) {
    bool allowed = false;
    for (const std::string& top : platform::RemovableMountFolders()) {
        allowed = allowed || folder.rfind(top + "/", 0) == 0;
    }
    for (const std::string& listed : platform::FstabMountPoints())
        allowed = allowed || folder == listed;
    if (!allowed) {
        return GLS(
            "With root privileges a volume is mounted only under /media, /run/media or "
            "/mnt, or where /etc/fstab says.");
    }
    const platform::FolderWay way = platform::CheckFolderWay(platform::ParentFolder(folder), 0);
    if (!way.ok() || way.resolved != platform::ParentFolder(folder)) {
        return GLS("The way to the volume's mount point is not root's alone.");
    }
    return {};
}

// A root instance mounts onto an empty folder that is not a link, made when missing.
std::string RootMountFolderRefusal(const std::string& folder) {
    if (std::string why = RootMountPointRefusal(folder); !why.empty()) return why;
    const platform::ItemAttributes a = platform::ReadItemAttributes(folder.c_str());
    if (!a.exists()) {
        if (platform::sys().mkdir(folder.c_str(), 0755) != 0) {
            return GLS("Can't make the folder to mount the volume on.");
        }
        return {};
    }
    if (!a.isDirectory()) return GLS("The volume's mount point is not a folder.");
    if (!platform::IsEmptyFolder(folder)) {
        return GLS("The volume's mount point is not empty: nothing is mounted over what it holds.");
    }
    return {};
}

// A private folder holding a cifs credentials file, removed with it.
class CredentialsFile {
  public:
    CredentialsFile(const std::string& runtimeFolder, const std::string& user,
                    const std::string& password) {
        static std::atomic<unsigned> counter{0};
        folder_ = platform::JoinPath(
            runtimeFolder.empty() ? "/run" : runtimeFolder,
            "quorvel-mount-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        if (platform::sys().mkdir(folder_.c_str(), 0700) != 0) {
            folder_.clear();
            return;
        }
        path_ = platform::JoinPath(folder_, "credentials");
        platform::AtomicWriteOptions options;
        options.mode = 0600;
        options.followLink = false;
        if (!platform::WriteFileAtomically(
                 path_, "username=" + user + "\npassword=" + password + "\n", options)
                 .ok) {
            path_.clear();
        }
    }
    ~CredentialsFile() {
        if (!path_.empty()) platform::sys().unlink(path_.c_str());
        if (!folder_.empty()) platform::RemoveTree(folder_);
    }
    CredentialsFile(const CredentialsFile&) = delete;
    CredentialsFile& operator=(const CredentialsFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string folder_;
    std::string path_;
};

// "smb://[DOMAIN;]user@host/share" for gio: the user's name only, never a password.
std::string GioAddress(const plist::Value& row) {
    std::string address = row.stringAt("scheme") + "://";
    if (!row.stringAt("user").empty()) address += row.stringAt("user") + "@";
    return address + row.stringAt("host") + row.stringAt("path");
}

platform::ChildResult MountRemote(const plist::Value& row, const std::string& password,
                                  platform::ChildRunner& runner, const MountSetting& setting) {
    const std::string scheme = row.stringAt("scheme");
    const std::string& host = row.stringAt("host");
    const std::string& path = row.stringAt("path");
    const std::string& user = row.stringAt("user");
    const std::string& mountPoint = row.stringAt("mountPoint");
    const std::string input = password.empty() ? std::string() : password + "\n";
    if (scheme == "sftp" || scheme == "ssh") {
        std::vector<std::string> argv = {"sshfs", user + "@" + host + ":" + path, mountPoint};
        if (!password.empty()) argv.insert(argv.end(), {"-o", "password_stdin"});
        return Run(runner, argv, input, setting);
    }
    if (!setting.root) {
        // nfs for a user: the fstab entry that lets users mount it.
        if (scheme == "nfs") return Run(runner, {"mount", mountPoint}, {}, setting);
        return Run(runner, {"gio", "mount", GioAddress(row)}, input, setting);
    }
    if (scheme == "smb") {
        const CredentialsFile credentials(setting.runtimeFolder, user, password);
        if (credentials.path().empty()) {
            platform::ChildResult failed;
            failed.startError = GLS("Can't write the credentials file for the mount.");
            return failed;
        }
        return Run(runner,
                   {"mount", "-t", "cifs", "//" + host + path, mountPoint, "-o",
                    "credentials=" + credentials.path() + ",uid=" + std::to_string(setting.uid) +
                        ",gid=" + std::to_string(setting.gid)},
                   {}, setting);
    }
    if (scheme == "nfs")
        return Run(runner, {"mount", "-t", "nfs", host + ":" + path, mountPoint}, {}, setting);
    return Run(runner, {"mount", mountPoint}, {}, setting);  // what /etc/fstab says
}

// "Mounted /dev/sdb1 at /media/ann/Disk." and "Mapped file x as /dev/loop3.": the last word.
std::string LastWord(const std::string& said) {
    std::string text = said;
    while (!text.empty() && (text.back() == '\n' || text.back() == '.' || text.back() == ' ')) {
        text.pop_back();
    }
    const std::size_t space = text.rfind(' ');
    return space == std::string::npos ? text : text.substr(space + 1);
}

// A local disk, by its stable device name. Nothing, with the message, when refused.
std::optional<platform::ChildResult> MountDisk(const plist::Value& row,
                                               platform::ChildRunner& runner,
                                               const MountSetting& setting, MountResult& result) {
    const std::string& disk = row.stringAt("diskID");
    if (disk.rfind("/dev/", 0) != 0) {
        result.message = GLS("Can't mount the volume. Parameter error.");
        return std::nullopt;
    }
    platform::ChildResult ran =
        setting.root
            ? Run(runner, {"mount", disk, row.stringAt("mountPoint")}, {}, setting)
            : Run(runner, {"udisksctl", "mount", "--no-user-interaction", "-b", disk}, {}, setting);
    if (!setting.root && ran.ok()) result.mountPoint = LastWord(ran.output);
    return ran;
}

// A disk image, a regular file opened before any tool is given it: a link or a device put at
// its name meanwhile can't lead the mount to a disk. Nothing, with the message, when refused.
std::optional<platform::ChildResult> MountImage(const plist::Value& row,
                                                platform::ChildRunner& runner,
                                                const MountSetting& setting, MountResult& result) {
    const std::string& image = row.stringAt("dmgPath");
    const platform::UniqueFd file(platform::OpenRegularFileNoFollow(image));
    if (!file.valid()) {
        result.message = GLS("Can't mount the dmg volume.");
        result.detail = GLS("the disk image is not a regular file");
        return std::nullopt;
    }
    if (setting.root) {
        const std::string opened =
            "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(file.get());
        return Run(runner, {"mount", "-o", "loop", opened, row.stringAt("mountPoint")}, {},
                   setting);
    }
    platform::ChildResult ran =
        Run(runner, {"udisksctl", "loop-setup", "--no-user-interaction", "-f", image}, {}, setting);
    if (!ran.ok()) return ran;
    result.loopDevice = LastWord(ran.output);
    ran = Run(runner, {"udisksctl", "mount", "--no-user-interaction", "-b", result.loopDevice}, {},
              setting);
    if (ran.ok()) result.mountPoint = LastWord(ran.output);
    return ran;
}

}  // namespace

MountSetting MountSettingFor(const plist::Value& preferences) {
    MountSetting setting;
    setting.root = ::geteuid() == 0;
    const std::optional<platform::InvokingUserInfo> user = platform::InvokingUser();
    setting.uid = user ? user->uid : ::getuid();
    setting.gid = user ? user->gid : ::getgid();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    setting.runtimeFolder = setting.root || runtime == nullptr ? "/run" : runtime;
    setting.timeout = sessions::ScriptTimeout(
        preferences.intAt("prefMountTimeout", sessions::kDefaultMountTimeout));
    return setting;
}

bool IsMountPoint(const std::string& folder) {
    const platform::ItemAttributes a = platform::ReadItemAttributes(folder.c_str());
    if (!a.isDirectory()) return false;
    // A gvfs share is a folder of the desktop's one fuse mount, there while it is mounted.
    if (folder.find("/gvfs/") != std::string::npos) return true;
    const platform::ItemAttributes parent =
        platform::ReadItemAttributes(platform::ParentFolder(folder).c_str());
    return parent.exists() && (parent.dev != a.dev || parent.ino == a.ino);
}

MountResult MountVolume(const plist::Value& row, const std::string& password,
                        platform::ChildRunner& runner, const MountSetting& setting) {
    MountResult result;
    const std::int64_t type = row.intAt("volumeType", 0);
    const std::string& mountPoint = row.stringAt("mountPoint");
    result.mountPoint = mountPoint;
    if (const std::string why = sessions::VolumeRowRefusal(row); !why.empty()) {
        result.message = why;
        return result;
    }
    if (!mountPoint.empty() && IsMountPoint(mountPoint)) {
        result.status = MountStatus::kAlreadyMounted;
        return result;
    }
    if (setting.root) {
        if (const std::string why = RootMountFolderRefusal(mountPoint); !why.empty()) {
            result.message = why;
            return result;
        }
    }
    std::optional<platform::ChildResult> ran;
    if (type == 1) {
        ran = MountRemote(row, password, runner, setting);
    } else if (type == 2) {
        ran = MountDisk(row, runner, setting, result);
    } else if (type == 3) {
        ran = MountImage(row, runner, setting, result);
    } else {
        result.message = GLS("Can't mount the volume. URL not valid.");
    }
    if (!ran) return result;  // refused before any tool was started
    if (!ran->ok()) {
        result.message = FailureMessage(*ran, type);
        result.detail = ran->startError.empty() ? ran->output : ran->startError;
        // A tool that repeats what it was given must not put the password into a message.
        for (std::size_t at = password.empty() ? std::string::npos : result.detail.find(password);
             at != std::string::npos; at = result.detail.find(password, at)) {
            result.detail.replace(at, password.size(), "****");
        }
        return result;
    }
    // A tool that said it mounted the volume somewhere else than the row's folder has not put
    // it where the session's folders are.
    if (!IsMountPoint(result.mountPoint)) {
        result.message = platform::FormatText(GLS("The volume was not mounted on %@."),
                                              {"\"" + result.mountPoint + "\""});
        return result;
    }
    result.status = MountStatus::kMounted;
    return result;
}

std::string UnmountVolume(const MountedVolume& volume, platform::ChildRunner& runner,
                          const MountSetting& setting, std::chrono::milliseconds busyWait) {
    // A document names the folder: as root, only where a volume may have been mounted from it.
    if (setting.root) {
        if (std::string why = RootMountPointRefusal(volume.mountPoint); !why.empty()) return why;
    }
    std::vector<std::string> argv;
    if (setting.root) {
        argv = {"umount", volume.mountPoint};
    } else if (volume.type == 1 && (volume.scheme == "sftp" || volume.scheme == "ssh")) {
        argv = {"fusermount", "-u", volume.mountPoint};
    } else if (volume.type == 1) {
        argv = volume.scheme == "nfs"
                   ? std::vector<std::string>{"umount", volume.mountPoint}
                   : std::vector<std::string>{"gio", "mount", "-u", volume.mountPoint};
    } else {
        argv = {"udisksctl", "unmount", "--no-user-interaction", "-p", volume.mountPoint};
    }
    platform::ChildResult ran = Run(runner, argv, {}, setting);
    const auto busy = [](const platform::ChildResult& r) {
        const std::string said = Lower(r.output);
        return said.find("busy") != std::string::npos || said.find("in use") != std::string::npos;
    };
    if (!ran.ok() && busy(ran)) {
        std::this_thread::sleep_for(busyWait);
        ran = Run(runner, argv, {}, setting);
        if (!ran.ok() && busy(ran)) return GLS("left mounted: in use");
    }
    if (!ran.ok()) {
        return ran.startError.empty() ? Lower(ran.output).substr(0, 200) : ran.startError;
    }
    if (!volume.loopDevice.empty()) {
        ran = Run(runner,
                  {"udisksctl", "loop-delete", "--no-user-interaction", "-b", volume.loopDevice},
                  {}, setting);
        if (!ran.ok()) return GLS("the disk image stays attached") + ": " + ran.output;
    }
    return {};
}

}  // namespace qv::engine
