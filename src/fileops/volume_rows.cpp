#include "fileops/volume_rows.h"

#include <array>
#include <string_view>

#include "items/tw_utilities.h"
#include "platform/file_io.h"
#include "platform/user_database.h"
#include "sessions/automount_options.h"

namespace qv::fileops {

namespace {

struct Address {
    std::string scheme;
    std::string user;
    std::string host;
    std::string path;
};

// "user@host" → user and host.
void SplitUser(std::string authority, Address* address) {
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
        address->user = authority.substr(0, at);
        authority.erase(0, at + 1);
    }
    address->host = std::move(authority);
}

// The value of key= in a comma-separated option list.
std::string OptionValue(const std::string& options, std::string_view key) {
    std::size_t start = 0;
    while (start <= options.size()) {
        const std::size_t end = std::min(options.find(',', start), options.size());
        const std::string_view option(options.data() + start, end - start);
        if (option.size() > key.size() && option.substr(0, key.size()) == key &&
            option[key.size()] == '=') {
            return std::string(option.substr(key.size() + 1));
        }
        start = end + 1;
    }
    return {};
}

// The address a network mount was made from, as its type writes its source.
std::optional<Address> RemoteAddress(const platform::MountEntry& mount) {
    Address a;
    const std::string& source = mount.source;
    const std::string& type = mount.type;
    if (source.empty()) return std::nullopt;
    if (type == "cifs" || type == "smb3" || type == "smbfs") {
        // "//host/share/sub"
        if (source.rfind("//", 0) != 0) return std::nullopt;
        const std::size_t slash = source.find('/', 2);
        if (slash == std::string::npos) return std::nullopt;
        a.scheme = "smb";
        a.host = source.substr(2, slash - 2);
        a.path = source.substr(slash);
        a.user = OptionValue(mount.superOptions, "username");
    } else if (type == "nfs" || type == "nfs4") {
        // "host:/export", the host possibly "[v6:address]"
        const std::size_t colon = source.front() == '[' ? source.find("]:") + 1 : source.find(':');
        if (colon == 0 || colon == std::string::npos) return std::nullopt;
        a.scheme = "nfs";
        a.host = source.substr(0, colon);
        a.path = source.substr(colon + 1);
    } else if (type == "fuse.sshfs") {
        // "[user@]host:[path]", a relative path being one in the account's home
        const std::size_t colon = source.find(':');
        if (colon == std::string::npos) return std::nullopt;
        SplitUser(source.substr(0, colon), &a);
        a.scheme = "sftp";
        a.path = source.substr(colon + 1);
        if (a.path.empty() || a.path.front() != '/') a.path = "/~/" + a.path;
    } else if (type == "davfs" || type == "fuse.davfs2") {
        // "https://[user@]host/path"
        const std::size_t separator = source.find("://");
        if (separator == std::string::npos) return std::nullopt;
        a.scheme = source.substr(0, separator);
        const std::size_t slash = source.find('/', separator + 3);
        SplitUser(source.substr(separator + 3, slash == std::string::npos ? std::string::npos
                                                                          : slash - separator - 3),
                  &a);
        a.path = slash == std::string::npos ? "/" : source.substr(slash);
    } else {
        return std::nullopt;
    }
    if (a.scheme.empty() || a.host.empty() || a.path.empty()) return std::nullopt;
    return a;
}

// The file systems the system itself stands on: never a volume to mount or unmount.
bool IsSystemMount(const std::string& mountPoint) {
    for (const char* system : {"/", "/boot", "/boot/efi", "/efi", "/usr", "/var", "/home", "/opt",
                               "/srv", "/tmp", "/nix"}) {
        if (mountPoint == system) return true;
    }
    return false;
}

// A share the desktop mounted through gvfs shows as a folder of its fuse mount, named after
// the share: "smb-share:server=nas,share=music,user=ann", "sftp:host=box,user=ann",
// "dav:host=cloud,ssl=true,prefix=%2Ffiles".
std::optional<Address> GvfsAddress(const std::string& name) {
    const std::size_t colon = name.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const std::string kind = name.substr(0, colon);
    const std::string options = name.substr(colon + 1);
    Address a;
    a.user = OptionValue(options, "user");
    if (kind == "smb-share") {
        a.scheme = "smb";
        a.host = OptionValue(options, "server");
        a.path = "/" + OptionValue(options, "share");
    } else if (kind == "sftp" || kind == "ftp" || kind == "dav" || kind == "afp-volume") {
        a.scheme = kind == "dav"          ? (OptionValue(options, "ssl") == "true" ? "davs" : "dav")
                   : kind == "afp-volume" ? "afp"
                                          : kind;
        a.host = OptionValue(options, "host");
        std::string prefix = OptionValue(options, "prefix");
        for (std::size_t at = prefix.find("%2F"); at != std::string::npos;
             at = prefix.find("%2F", at)) {
            prefix.replace(at, 3, "/");
        }
        a.path = prefix.empty() ? "/" : prefix;
        if (kind == "afp-volume") a.path = "/" + OptionValue(options, "volume");
    } else {
        return std::nullopt;
    }
    if (a.host.empty() || (a.path == "/" && kind == "smb-share")) return std::nullopt;
    return a;
}

}  // namespace

std::optional<plist::Value> VolumeRowForMount(const platform::MountEntry& mount,
                                              const MountContext& context) {
    if (mount.mountPoint.empty() || IsSystemMount(mount.mountPoint)) return std::nullopt;
    plist::Value row = sessions::DefaultAutoMountRow();
    row.set("mountPoint", mount.mountPoint);
    if (items::TWUtilities::IsRemoteFileSystemType(mount.type)) {
        const std::optional<Address> a = RemoteAddress(mount);
        if (!a) return std::nullopt;
        row.set("volumeType", 1);
        row.set("unmountVolume", 1);
        row.set("scheme", a->scheme);
        row.set("user", a->user.empty() ? context.loginName : a->user);
        row.set("host", a->host);
        row.set("path", a->path);
    } else {
        // A local volume is known by its device; a file system with none (tmpfs, overlay)
        // can't be mounted again.
        if (mount.source.rfind("/dev/", 0) != 0) return std::nullopt;
        row.set("scheme", "file");
        row.set("user", context.loginName);
        row.set("host", "localhost");
        row.set("path", mount.mountPoint);
        if (!context.backingFile.empty()) {
            row.set("volumeType", 3);
            row.set("unmountVolume", 1);
            row.set("dmgPath", context.backingFile);
        } else {
            row.set("volumeType", 2);
            row.set("unmountVolume", 0);
            row.set("diskID", context.diskID.empty() ? mount.source : context.diskID);
        }
    }
    if (row.stringAt("user").empty()) return std::nullopt;
    return row;
}

std::optional<plist::Value> GvfsShareRow(const std::string& shareFolder,
                                         const std::string& loginName) {
    const std::optional<Address> a = GvfsAddress(platform::LastPathComponent(shareFolder));
    if (!a) return std::nullopt;
    plist::Value row = sessions::DefaultAutoMountRow();
    row.set("volumeType", 1);
    row.set("unmountVolume", 1);
    row.set("scheme", a->scheme);
    row.set("user", a->user.empty() ? loginName : a->user);
    row.set("host", a->host);
    row.set("path", a->path);
    row.set("mountPoint", shareFolder);
    return row;
}

std::optional<plist::Value> GetVolumeMountInfoDictionary(const std::string& path) {
    const std::optional<platform::MountEntry> mount = platform::MountOfPath(path);
    if (!mount) return std::nullopt;
    MountContext context;
    context.loginName = platform::LoginName();
    if (mount->type == "fuse.gvfsd-fuse") {
        // The share is the folder of the gvfs mount the path lies in.
        const std::string top = mount->mountPoint == "/" ? "/" : mount->mountPoint + "/";
        if (path.rfind(top, 0) != 0 || path.size() == top.size()) return std::nullopt;
        const std::string name = path.substr(top.size(), path.find('/', top.size()) - top.size());
        return GvfsShareRow(top + name, context.loginName);
    }
    context.backingFile = platform::LoopBackingFile(mount->source);
    if (context.backingFile.empty() && mount->source.rfind("/dev/", 0) == 0) {
        context.diskID = platform::StableDeviceName(mount->source);
    }
    return VolumeRowForMount(*mount, context);
}

}  // namespace qv::fileops
