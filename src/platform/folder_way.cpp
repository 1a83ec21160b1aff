#include "platform/folder_way.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string_view>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"

namespace qv::platform {

namespace {

constexpr int kMaxLinks = 40;
constexpr int kWayFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void Split(std::string_view path, std::deque<std::string>& into, bool atFront) {
    std::deque<std::string> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        if (!part.empty() && part != ".") parts.emplace_back(part);
    }
    if (atFront) {
        into.insert(into.begin(), parts.begin(), parts.end());
    } else {
        into.insert(into.end(), parts.begin(), parts.end());
    }
}

bool TrustedOwner(uid_t uid, uid_t owner) { return uid == 0 || uid == owner; }

bool OthersMayWrite(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

std::string OwnerText(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    const std::string name = pw != nullptr && pw->pw_name != nullptr ? pw->pw_name : "";
    return GLS("owned by the user") + " " + (name.empty() ? std::to_string(uid) : name);
}

// The walk both operations share. checkWay: judge every folder searched and link followed
// (and stop at the first that fails); otherwise follow only links owned by root or owner.
struct Walk {
    uid_t owner;
    bool checkWay;
    FolderWay way;
    UniqueFd fd;

    bool Untrusted(const std::string& where, std::string why) {
        way.untrusted = where;
        way.whyUntrusted = std::move(why);
        return false;
    }

    // The folder at `here` (open as fd) is about to be searched for `name`.
    bool MaySearch(const std::string& here, const struct stat& folder) {
        if (!checkWay) return true;
        if (!TrustedOwner(folder.st_uid, owner)) return Untrusted(here, OwnerText(folder.st_uid));
        if (OthersMayWrite(folder) && (folder.st_mode & S_ISVTX) == 0) {
            return Untrusted(here, GLS("writable by other users"));
        }
        return true;
    }

    bool Run(const std::string& path) {
        if (path.empty() || path.front() != '/') {
            way.error = EINVAL;
            return false;
        }
        std::deque<std::string> rest;
        Split(path, rest, false);
        std::string here = "/";
        fd = UniqueFd(sys().openat(AT_FDCWD, "/", kWayFlags, 0));
        if (!fd.valid()) {
            way.error = errno;
            return false;
        }
        int links = 0;
        while (!rest.empty()) {
            const std::string name = rest.front();
            rest.pop_front();
            struct stat folder {};
            if (sys().fstat(fd.get(), &folder) != 0) {
                way.error = errno;
                return false;
            }
            if (name == "..") {
                // Back up a folder the walk has already come through.
                fd = UniqueFd(sys().openat(fd.get(), "..", kWayFlags, 0));
                if (!fd.valid()) {
                    way.error = errno;
                    return false;
                }
                here = ParentFolder(here);
                continue;
            }
            if (!MaySearch(here, folder)) return false;
            const std::string at = JoinPath(here, name);
            struct stat item {};
            if (sys().fstatat(fd.get(), name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) {
                way.error = errno;
                return false;
            }
            if (checkWay && OthersMayWrite(folder) && !TrustedOwner(item.st_uid, owner)) {
                return Untrusted(
                    at, OwnerText(item.st_uid) + " " + GLS("in a folder anyone may write to"));
            }
            if (S_ISLNK(item.st_mode)) {
                if (!TrustedOwner(item.st_uid, owner) && item.st_uid != ::geteuid()) {
                    if (checkWay) return Untrusted(at, OwnerText(item.st_uid));
                    way.error = ELOOP;
                    return false;
                }
                if (++links > kMaxLinks) {
                    way.error = ELOOP;
                    return false;
                }
                std::string target(4096, '\0');
                const ssize_t n =
                    sys().readlinkat(fd.get(), name.c_str(), target.data(), target.size());
                if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) {
                    way.error = n < 0 ? errno : ENAMETOOLONG;
                    return false;
                }
                target.resize(static_cast<std::size_t>(n));
                Split(target, rest, true);
                if (target.front() == '/') {
                    fd = UniqueFd(sys().openat(AT_FDCWD, "/", kWayFlags, 0));
                    here = "/";
                }
                continue;
            }
            if (!S_ISDIR(item.st_mode)) {
                // A top that is a file (a task between two files) ends the way; nothing else
                // may stand on it.
                if (rest.empty() && checkWay) {
                    way.resolved = at;
                    return true;
                }
                way.error = ENOTDIR;
                return false;
            }
            UniqueFd next(sys().openat(fd.get(), name.c_str(), kWayFlags, 0));
            if (!next.valid()) {
                way.error = errno;
                return false;
            }
            fd = std::move(next);
            here = at;
        }
        way.resolved = here;
        return true;
    }
};

}  // namespace

FolderWay CheckFolderWay(const std::string& path, uid_t owner) {
    Walk walk{owner, true, {}, UniqueFd()};
    walk.Run(path);
    return walk.way;
}

UniqueFd OpenFolderByWay(const std::string& path, uid_t alsoTrusted, int* error) {
    Walk walk{alsoTrusted, false, {}, UniqueFd()};
    const bool reached = walk.Run(path);
    if (error != nullptr) *error = reached ? 0 : walk.way.error;
    return reached ? std::move(walk.fd) : UniqueFd();
}

}  // namespace qv::platform
