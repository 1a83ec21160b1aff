#pragma once
// Changes under folder trees ("roots"), as a source of news that never waits. The system's is
// inotify: every folder of a root is watched, folders that appear in it are added as they come
// and those that go are dropped. A change anywhere under a root is news of the root: what
// changed is not told, since the run that follows looks at the whole tree anyway.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/unique_fd.h"

namespace qv::platform {

enum class WatchStatus {
    Watching,
    Missing,       // the root is not there (yet): a volume not mounted, say
    LimitReached,  // the user's inotify watches are used up (fs.inotify.max_user_watches)
    Failed,        // inotify is not available to this process
};

// What happened under the roots since the last look.
struct ChangeNews {
    std::vector<std::string> changed;  // roots under which something changed
    // Roots no longer watched: whose watches ran out (watch them by other means from now on),
    // and those that went away (removed, renamed or their volume unmounted).
    std::vector<std::string> limited;
    std::vector<std::string> lost;
};

class ChangeSource {
  public:
    virtual ~ChangeSource() = default;
    // Starts watching the tree under root (an absolute path); a root already watched stays so.
    virtual WatchStatus Watch(const std::string& root) = 0;
    virtual void Unwatch(const std::string& root) = 0;
    virtual ChangeNews Poll() = 0;
};

class InotifyTreeWatch : public ChangeSource {
  public:
    InotifyTreeWatch();
    WatchStatus Watch(const std::string& root) override;
    void Unwatch(const std::string& root) override;
    ChangeNews Poll() override;

    // The descriptor to wait on (readable when news is there); -1 when inotify failed.
    int fd() const { return fd_.get(); }
    std::size_t watchCount() const { return folders_.size(); }

  private:
    struct Folder {
        std::string path;
        std::vector<std::uint32_t> roots;  // the roots (by number) the folder belongs to
    };
    // Watches the folder at path and every folder below it for the root; false when the
    // watches ran out (*status says so) or the folder at the top could not be watched.
    bool AddTree(const std::string& path, std::uint32_t root, WatchStatus* status, bool followTop);
    bool AddFolder(const std::string& path, std::uint32_t root, bool follow, WatchStatus* status);
    // Drops the root from the folder watched as wd, and the watch when no root is left.
    void DropFromFolder(int wd, std::uint32_t root, bool removeWatch);
    // Drops the watches of the folder at path and below it (moved out of the trees).
    void DropTree(const std::string& path);
    void DropRoot(std::uint32_t root);
    void Handle(int wd, std::uint32_t mask, const char* name, ChangeNews* news);
    void Note(std::vector<std::string>* list, std::uint32_t root);

    UniqueFd fd_;
    std::unordered_map<int, Folder> folders_;  // by watch descriptor
    std::map<std::string, int> byPath_;        // ordered: a tree is a range of it
    std::map<std::uint32_t, std::string> roots_;
    std::uint32_t nextRoot_ = 0;
};

}  // namespace qv::platform
