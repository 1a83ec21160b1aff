#include "fileops/trash.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/unique_fd.h"
#include "run/log_name.h"

namespace qv::fileops {

namespace {

using platform::sys;

constexpr const char* kInfoSuffix = ".trashinfo";
constexpr std::size_t kMaxNameBytes = NAME_MAX;
constexpr std::size_t kMaxExtensionBytes = 8;
constexpr int kMaxUniqueNameTries = 10000;
constexpr mode_t kTrashFolderMode = 0700;

struct TrashFolder {
    std::string root;    // the folder holding files/ and info/
    std::string topdir;  // empty for the home trash, whose info files hold absolute paths
};

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/";
}

// The XDG base-directory rules ignore a relative XDG_DATA_HOME.
std::string HomeTrashPath() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
        return platform::JoinPath(data, "Trash");
    }
    return platform::JoinPath(HomeFolder(), ".local/share/Trash");
}

// The device a folder will lie on once created: that of its nearest existing ancestor.
std::optional<dev_t> DeviceOfFolderToBe(std::string path) {
    struct stat st {};
    while (sys().fstatat(AT_FDCWD, path.c_str(), &st, 0) != 0) {
        if (path == "/" || path == ".") return std::nullopt;
        path = platform::ParentFolder(path);
    }
    return st.st_dev;
}

// Walks up from the item's folder while the device stays the same.
std::string MountTopFolder(const std::string& itemPath, dev_t device) {
    std::string top = platform::ParentFolder(itemPath);
    while (top != "/") {
        const std::string up = platform::ParentFolder(top);
        struct stat st {};
        if (sys().fstatat(AT_FDCWD, up.c_str(), &st, 0) != 0 || st.st_dev != device) break;
        top = up;
    }
    return top;
}

bool MakeFolder(const std::string& path, std::string* error) {
    if (platform::sys().mkdir(path.c_str(), kTrashFolderMode) == 0 || errno == EEXIST) return true;
    *error = "cannot create the trash folder " + run::Quoted(path) + ": " + std::strerror(errno);
    return false;
}

// A folder that belongs to us and nobody can swap under us: a real directory (not a link)
// owned by this user.
bool IsOwnRealFolder(const std::string& path) {
    struct stat st {};
    return sys().fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

bool EnsureFilesAndInfo(const std::string& root, std::string* error) {
    return MakeFolder(platform::JoinPath(root, "files"), error) &&
           MakeFolder(platform::JoinPath(root, "info"), error);
}

std::optional<TrashFolder> HomeTrash(std::string* error) {
    TrashFolder trash;
    trash.root = HomeTrashPath();
    const std::string dataHome = platform::ParentFolder(trash.root);
    if (!platform::IsExistingFolder(dataHome) &&
        !platform::CreateFolderWithFoldersInBetween(dataHome, error,
                                                    platform::CreatedOwner::Process)) {
        *error = "cannot create the folder " + run::Quoted(dataHome) + " for the trash: " + *error;
        return std::nullopt;
    }
    if (!MakeFolder(trash.root, error) || !EnsureFilesAndInfo(trash.root, error)) {
        return std::nullopt;
    }
    return trash;
}

// "$topdir/.Trash/$uid" when an administrator prepared a shared ".Trash" (a real folder with
// the sticky bit, so that users cannot remove each other's folders), else "$topdir/.Trash-$uid".
std::optional<TrashFolder> VolumeTrash(const std::string& topdir, std::string* error) {
    const std::string uid = std::to_string(::getuid());
    TrashFolder trash;
    trash.topdir = topdir;
    const std::string shared = platform::JoinPath(topdir, ".Trash");
    struct stat st {};
    if (sys().fstatat(AT_FDCWD, shared.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const std::string own = platform::JoinPath(shared, uid);
        std::string ignored;
        if (MakeFolder(own, &ignored) && IsOwnRealFolder(own) &&
            EnsureFilesAndInfo(own, &ignored)) {
            trash.root = own;
            return trash;
        }
    }
    trash.root = platform::JoinPath(topdir, ".Trash-" + uid);
    if (!MakeFolder(trash.root, error)) return std::nullopt;
    if (!IsOwnRealFolder(trash.root)) {
        *error = "the trash folder " + run::Quoted(trash.root) +
                 " is not a folder of this user; it is not used";
        return std::nullopt;
    }
    if (!EnsureFilesAndInfo(trash.root, error)) return std::nullopt;
    return trash;
}

// RFC 3986 percent-encoding; '/' stays, since the value is a path.
std::string PercentEncodedPath(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~' || byte == '/';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string LocalDeletionDate() {
    // localtime_r need not notice a changed TZ by itself; a long-running process may have one.
    ::tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// Splits "report.txt" into "report" and ".txt", so that a second report becomes
// "report.2.txt" and still opens as text. Folders, hidden names (".profile") and long tails
// after the last dot have no extension; "archive.tar.gz" keeps both parts.
void SplitExtension(const std::string& name, bool isFolder, std::string* stem, std::string* ext) {
    *stem = name;
    ext->clear();
    if (isFolder) return;
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot - 1 > kMaxExtensionBytes ||
        dot + 1 == name.size()) {
        return;
    }
    const auto before = name.rfind('.', dot - 1);
    if (before != std::string::npos && before > 0 &&
        name.compare(before, dot - before, ".tar") == 0) {
        dot = before;
    }
    *stem = name.substr(0, dot);
    *ext = name.substr(dot);
}

// The candidate name for the n-th try (1 is the plain name), short enough that its info file
// name still fits a directory entry. Shortening never cuts a UTF-8 sequence in two.
std::string CandidateName(const std::string& stem, const std::string& ext, int n) {
    const std::string counter = n == 1 ? std::string() : "." + std::to_string(n);
    const std::size_t room = kMaxNameBytes - std::strlen(kInfoSuffix);
    std::string head = stem;
    std::string tail = counter + ext;
    if (tail.size() > room) tail = counter;
    if (head.size() + tail.size() > room) {
        std::size_t cut = room - tail.size();
        while (cut > 0 && (static_cast<unsigned char>(head[cut]) & 0xC0) == 0x80) --cut;
        head.resize(cut);
    }
    return head + tail;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = platform::sys().write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Creates info/NAME.trashinfo for the first NAME free in both files/ and info/. Creating it
// with O_EXCL reserves NAME against every other program that trashes the same way, which is
// why the later rename into files/NAME cannot replace someone else's item.
std::optional<std::string> WriteInfoFile(const TrashFolder& trash, int filesFd,
                                         const std::string& name, bool isFolder,
                                         const std::string& infoText, std::string* infoPath,
                                         std::string* error) {
    std::string stem, ext;
    SplitExtension(name, isFolder, &stem, &ext);
    const std::string infoFolder = platform::JoinPath(trash.root, "info");
    for (int n = 1; n <= kMaxUniqueNameTries; ++n) {
        const std::string candidate = CandidateName(stem, ext, n);
        struct stat st {};
        if (sys().fstatat(filesFd, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) continue;
        const std::string path = platform::JoinPath(infoFolder, candidate + kInfoSuffix);
        platform::UniqueFd fd(
            sys().openat(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
        if (fd.get() < 0) {
            if (errno == EEXIST) continue;
            *error = "cannot write the trash information file " + run::Quoted(path) + ": " +
                     std::strerror(errno);
            return std::nullopt;
        }
        if (!WriteAll(fd.get(), infoText) || fd.Close() != 0) {
            *error = "cannot write the trash information file " + run::Quoted(path) + ": " +
                     std::strerror(errno);
            platform::sys().unlink(path.c_str());
            return std::nullopt;
        }
        *infoPath = path;
        return candidate;
    }
    *error =
        "the trash " + run::Quoted(trash.root) + " has no free name left for " + run::Quoted(name);
    return std::nullopt;
}

}  // namespace

bool MoveToTrash(const std::string& path, std::string* error) {
    std::string scratch;
    if (error == nullptr) error = &scratch;
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::string name = platform::LastPathComponent(trimmed);
    if (name.empty() || name == "." || name == ".." || name == "/") {
        *error = run::Quoted(path) + " does not name an item that can be moved to the trash";
        return false;
    }
    int err = 0;
    const platform::FolderHandle folder =
        platform::FolderHandle::OpenTop(platform::ParentFolder(trimmed), &err);
    if (!folder.valid()) {
        *error = "cannot find the folder of " + run::Quoted(path) + ": " + std::strerror(err);
        return false;
    }
    return MoveToTrash(folder, name, error);
}

bool MoveToTrash(const platform::FolderHandle& folder, const std::string& name,
                 std::string* error) {
    std::string scratch;
    if (error == nullptr) error = &scratch;
    error->clear();

    // The folder's absolute path with its links resolved, as the kernel knows the open folder:
    // the walk up to the mount's top is then a walk through real parents.
    std::string folderPath;
    {
        std::vector<char> buffer(4096);
        const std::string proc = platform::ProcPath(folder.fd());
        const ssize_t n = sys().readlinkat(AT_FDCWD, proc.c_str(), buffer.data(), buffer.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size() || buffer[0] != '/') {
            *error = "cannot find the folder of " + run::Quoted(folder.PathOf(name));
            return false;
        }
        folderPath.assign(buffer.data(), static_cast<std::size_t>(n));
    }
    const std::string itemPath = platform::JoinPath(folderPath, name);
    struct stat item {};
    if (sys().fstatat(folder.fd(), name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) {
        *error = "cannot move " + run::Quoted(itemPath) + " to the trash: " + std::strerror(errno);
        return false;
    }
    if (folder.dev() != item.st_dev) {
        *error = run::Quoted(itemPath) + " is the top of a mounted volume and cannot be moved";
        return false;
    }

    const std::string homeTrashPath = HomeTrashPath();
    if (homeTrashPath == itemPath || homeTrashPath.rfind(itemPath + "/", 0) == 0) {
        *error = run::Quoted(itemPath) + " holds the trash itself and cannot be moved into it";
        return false;
    }
    const std::optional<dev_t> homeDevice = DeviceOfFolderToBe(homeTrashPath);
    const std::optional<TrashFolder> trash =
        homeDevice && *homeDevice == item.st_dev
            ? HomeTrash(error)
            : VolumeTrash(MountTopFolder(itemPath, item.st_dev), error);
    if (!trash) return false;

    // A trash reached through a link may lie on another volume; moving there would mean
    // copying and deleting, which a trash must never do.
    int openError = 0;
    const platform::FolderHandle files =
        platform::FolderHandle::OpenTop(platform::JoinPath(trash->root, "files"), &openError);
    if (!files.valid() || files.dev() != item.st_dev) {
        *error = "the trash " + run::Quoted(trash->root) + " is not on the volume of " +
                 run::Quoted(itemPath) +
                 "; the item would have to be copied, so it stays where it is";
        return false;
    }

    std::string recorded = itemPath;
    if (!trash->topdir.empty() && trash->topdir != "/") {
        recorded = itemPath.substr(trash->topdir.size() + 1);  // relative to the volume's top
    }
    const std::string infoText = "[Trash Info]\nPath=" + PercentEncodedPath(recorded) +
                                 "\nDeletionDate=" + LocalDeletionDate() + "\n";
    std::string infoPath;
    const std::optional<std::string> trashName =
        WriteInfoFile(*trash, files.fd(), name, S_ISDIR(item.st_mode), infoText, &infoPath, error);
    if (!trashName) return false;

    // Never over an item: the name was reserved by the info file, not by the files/ folder.
    if (sys().renameat2(folder.fd(), name.c_str(), files.fd(), trashName->c_str(),
                        RENAME_NOREPLACE) != 0) {
        const int err = errno;
        sys().unlink(infoPath.c_str());
        *error = "cannot move " + run::Quoted(itemPath) + " into the trash " +
                 run::Quoted(trash->root) + ": " + std::strerror(err);
        return false;
    }
    return true;
}

}  // namespace qv::fileops
