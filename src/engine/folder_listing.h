#pragma once
// Listing one folder: every entry's name with the attributes of a single fstatat, read
// relative to the folder's descriptor without following links. A second thread lists the B
// folder while the walk lists the A folder.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/item_attributes.h"

namespace qv::engine {

struct ListedItem {
    std::string name;
    platform::ItemAttributes attributes;
};

struct FolderListing {
    bool listed = false;           // the folder could be opened and read
    bool caseInsensitive = false;  // the folder lies on a case-insensitive file system
    platform::ItemAttributes folder;
    std::vector<ListedItem> items;  // in no particular order
};

// Whether the folder open as dirFd compares names ignoring case (vfat, exfat, SMB shares,
// casefolded ext4/f2fs folders). Tests replace it to stand in for such a file system.
using CaseProbe = std::function<bool(int dirFd, const std::string& path)>;
bool ProbeCaseInsensitive(int dirFd, const std::string& path);

// Lists a folder; a folder that cannot be opened or read gives listed = false.
FolderListing ListFolder(const std::string& path, const CaseProbe& probe);

// Lists one folder at a time on a thread of its own.
class BackgroundLister {
  public:
    explicit BackgroundLister(CaseProbe probe);
    ~BackgroundLister();
    BackgroundLister(const BackgroundLister&) = delete;
    BackgroundLister& operator=(const BackgroundLister&) = delete;

    void Start(const std::string& path);  // at most one listing at a time
    FolderListing Wait();

  private:
    void Loop();

    CaseProbe probe_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::string path_;
    FolderListing result_;
    bool requested_ = false;
    bool done_ = false;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace qv::engine
