#include "platform/tree_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qv::platform {

namespace {

// What makes news: an item created, deleted, written, its attributes changed, moved in or out.
// Reads are left out, and so are links: a watch never follows one out of the tree.
constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                                IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

std::string Child(const std::string& folder, const char* name) {
    return folder == "/" ? folder + name : folder + "/" + name;
}

bool IsFolderEntry(int dirFd, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

InotifyTreeWatch::InotifyTreeWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

WatchStatus InotifyTreeWatch::Watch(const std::string& given) {
    if (!fd_.valid()) return WatchStatus::Failed;
    std::string root = given;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    for (const auto& [number, path] : roots_) {
        if (path == root) return WatchStatus::Watching;
    }
    const std::uint32_t number = nextRoot_++;
    roots_[number] = root;
    WatchStatus status = WatchStatus::Watching;
    if (!AddTree(root, number, &status, true)) DropRoot(number);
    return status;
}

void InotifyTreeWatch::Unwatch(const std::string& root) {
    for (const auto& [number, path] : roots_) {
        if (path == root) {
            DropRoot(number);
            return;
        }
    }
}

bool InotifyTreeWatch::AddTree(const std::string& top, std::uint32_t root, WatchStatus* status,
                               bool followTop) {
    std::vector<std::string> pending{top};
    bool first = true;
    while (!pending.empty()) {
        const std::string path = std::move(pending.back());
        pending.pop_back();
        // A root given as a link is watched where it leads; nothing below it follows one.
        const bool follow = first && followTop;
        const int dirFd =
            ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
        if (dirFd < 0) {
            if (!first) continue;  // a folder that went between its listing and now
            *status = WatchStatus::Missing;
            return false;
        }
        // Watched before it is listed: what appears meanwhile is listed or told.
        if (!AddFolder(path, root, follow, status)) {
            ::close(dirFd);
            if (*status == WatchStatus::LimitReached || first) return false;
            continue;
        }
        first = false;
        DIR* dir = ::fdopendir(dirFd);
        if (dir == nullptr) {
            ::close(dirFd);
            continue;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == ".." || !IsFolderEntry(dirFd, entry)) continue;
            pending.push_back(Child(path, entry->d_name));
        }
        ::closedir(dir);
    }
    return true;
}

bool InotifyTreeWatch::AddFolder(const std::string& path, std::uint32_t root, bool follow,
                                 WatchStatus* status) {
    const int wd =
        ::inotify_add_watch(fd_.get(), path.c_str(), follow ? kMask & ~IN_DONT_FOLLOW : kMask);
    if (wd < 0) {
        *status = errno == ENOSPC   ? WatchStatus::LimitReached
                  : errno == ENOMEM ? WatchStatus::Failed
                                    : WatchStatus::Missing;
        return false;
    }
    Folder& folder = folders_[wd];
    if (folder.path.empty()) folder.path = path;
    if (std::find(folder.roots.begin(), folder.roots.end(), root) == folder.roots.end()) {
        folder.roots.push_back(root);
    }
    byPath_[path] = wd;
    return true;
}

void InotifyTreeWatch::DropFromFolder(int wd, std::uint32_t root, bool removeWatch) {
    const auto it = folders_.find(wd);
    if (it == folders_.end()) return;
    std::vector<std::uint32_t>& roots = it->second.roots;
    roots.erase(std::remove(roots.begin(), roots.end(), root), roots.end());
    if (!roots.empty()) return;
    if (removeWatch) ::inotify_rm_watch(fd_.get(), wd);
    const auto byPath = byPath_.find(it->second.path);
    if (byPath != byPath_.end() && byPath->second == wd) byPath_.erase(byPath);
    folders_.erase(it);
}

void InotifyTreeWatch::DropTree(const std::string& path) {
    std::vector<int> gone;
    const auto top = byPath_.find(path);
    if (top != byPath_.end()) gone.push_back(top->second);
    const std::string below = path + "/";
    for (auto it = byPath_.lower_bound(below);
         it != byPath_.end() && it->first.compare(0, below.size(), below) == 0; ++it) {
        gone.push_back(it->second);
    }
    for (int wd : gone) {
        const auto it = folders_.find(wd);
        if (it == folders_.end()) continue;
        for (std::uint32_t root : std::vector<std::uint32_t>(it->second.roots)) {
            DropFromFolder(wd, root, true);
        }
    }
}

void InotifyTreeWatch::DropRoot(std::uint32_t root) {
    std::vector<int> wds;
    for (const auto& [wd, folder] : folders_) {
        if (std::find(folder.roots.begin(), folder.roots.end(), root) != folder.roots.end()) {
            wds.push_back(wd);
        }
    }
    for (int wd : wds) DropFromFolder(wd, root, true);
    roots_.erase(root);
}

void InotifyTreeWatch::Note(std::vector<std::string>* list, std::uint32_t root) {
    const auto it = roots_.find(root);
    if (it == roots_.end()) return;
    if (std::find(list->begin(), list->end(), it->second) == list->end()) {
        list->push_back(it->second);
    }
}

void InotifyTreeWatch::Handle(int wd, std::uint32_t mask, const char* name, ChangeNews* news) {
    if ((mask & IN_Q_OVERFLOW) != 0) {
        // Events were lost: anything may have changed anywhere.
        for (const auto& [number, path] : roots_) Note(&news->changed, number);
        return;
    }
    const auto it = folders_.find(wd);
    if (it == folders_.end()) return;  // a watch dropped before its last events were read
    const std::string path = it->second.path;
    const std::vector<std::uint32_t> roots = it->second.roots;
    const auto isTopOf = [&](std::uint32_t root) {
        const auto r = roots_.find(root);
        return r != roots_.end() && r->second == path;
    };
    const bool isRoot = std::any_of(roots.begin(), roots.end(), isTopOf);
    if ((mask & IN_IGNORED) != 0 || (isRoot && (mask & IN_MOVE_SELF) != 0)) {
        // The folder was deleted, its volume unmounted, or a root was renamed: the kernel
        // dropped the watch (or it now watches a folder outside the trees).
        for (std::uint32_t root : roots) {
            if (!isTopOf(root)) continue;
            Note(&news->lost, root);
            DropRoot(root);
        }
        if ((mask & IN_IGNORED) != 0) {
            for (std::uint32_t root : roots) DropFromFolder(wd, root, false);
        }
        return;
    }
    if ((mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) return;  // told by the parent
    const bool folder = (mask & IN_ISDIR) != 0 && name != nullptr && *name != '\0';
    if (folder && (mask & IN_MOVED_FROM) != 0) DropTree(Child(path, name));
    for (std::uint32_t root : roots) {
        if (folder && (mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
            WatchStatus status = WatchStatus::Watching;
            if (!AddTree(Child(path, name), root, &status, false) &&
                status == WatchStatus::LimitReached) {
                Note(&news->limited, root);
                DropRoot(root);
                continue;
            }
        }
        Note(&news->changed, root);
    }
}

ChangeNews InotifyTreeWatch::Poll() {
    ChangeNews news;
    if (!fd_.valid()) return news;
    alignas(inotify_event) char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // EAGAIN: nothing more for now
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            Handle(event->wd, event->mask, event->len > 0 ? event->name : nullptr, &news);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    // A root that was lost or ran out of watches is not news of a change as well.
    for (const std::vector<std::string>* gone : {&news.lost, &news.limited}) {
        for (const std::string& root : *gone) {
            news.changed.erase(std::remove(news.changed.begin(), news.changed.end(), root),
                               news.changed.end());
        }
    }
    return news;
}

}  // namespace qv::platform
